// Parameter values and the colon-marker parser.
#include "dataset/Params.h"

#include "dataset/QxDataSetErrors.h"

void TParam::SetValue(const QVariant& value) {
  value_ = value;
  if (DataType != ftUnknown || value.isNull()) return;
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
      DataType = ftInteger;
      break;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      DataType = ftLargeint;
      break;
    case QMetaType::Double:
      DataType = ftFloat;
      break;
    case QMetaType::Bool:
      DataType = ftBoolean;
      break;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
      DataType = ftDateTime;
      break;
    case QMetaType::QByteArray:
      DataType = ftVarBytes;
      break;
    default:
      DataType = ftString;
      break;
  }
}

void TParam::Assign(const TParam& other) {
  Name = other.Name;
  DataType = other.DataType;
  ParamType = other.ParamType;
  Bound = other.Bound;
  value_ = other.value_;
}

TParam* TParams::CreateParam(TFieldType type, const QString& name, TParamType paramType) {
  auto p = std::make_unique<TParam>();
  p->Name = name;
  p->DataType = type;
  p->ParamType = paramType;
  items_.push_back(std::move(p));
  return items_.back().get();
}

TParam* TParams::FindParam(const QString& name) const {
  for (const auto& p : items_)
    if (p->Name.compare(name, Qt::CaseInsensitive) == 0) return p.get();
  return nullptr;
}

TParam* TParams::ParamByName(const QString& name) const {
  TParam* p = FindParam(name);
  if (!p) DatabaseError(DbText::ParameterNotFound.arg(name));
  return p;
}

void TParams::Assign(const TParams& other) {
  if (&other == this) return;
  items_.clear();
  for (const auto& p : other.items_) CreateParam(ftUnknown, QString(), TParamType::ptUnknown)->Assign(*p);
}

void TParams::AssignValues(const TParams& other) {
  for (const auto& p : items_)
    if (TParam* src = other.FindParam(p->Name)) {
      p->DataType = src->DataType;
      p->SetValue(src->Value());
      p->Bound = src->Bound;
    }
}

QString TParams::ParseSQL(const QString& sql, bool doCreate) {
  QString out;
  out.reserve(sql.size());
  QChar quote;
  const auto isNameChar = [](QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@');
  };
  for (int i = 0; i < sql.size(); ++i) {
    const QChar c = sql.at(i);
    if (!quote.isNull()) {
      out += c;
      if (c == quote) quote = QChar();
      continue;
    }
    if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
      quote = c;
      out += c;
      continue;
    }
    if (c != QLatin1Char(':')) {
      out += c;
      continue;
    }
    if (i + 1 < sql.size() && sql.at(i + 1) == QLatin1Char(':')) {
      out += QLatin1Char(':');
      ++i;
      continue;
    }
    QString name;
    int j = i + 1;
    if (j < sql.size() && sql.at(j) == QLatin1Char('"')) {
      // A double-quoted marker name may hold blanks: :"order date".
      const int close = sql.indexOf(QLatin1Char('"'), j + 1);
      if (close < 0) {
        out += c;
        continue;
      }
      name = sql.mid(j + 1, close - j - 1);
      j = close + 1;
    } else {
      while (j < sql.size() && isNameChar(sql.at(j))) name += sql.at(j++);
    }
    if (name.isEmpty()) {
      out += c;
      continue;
    }
    if (doCreate && !FindParam(name)) CreateParam(ftUnknown, name, TParamType::ptUnknown);
    out += QLatin1Char('?');
    i = j - 1;
  }
  return out;
}
