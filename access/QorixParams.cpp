// TParam's typed accessors, TParams' lookup, marker parser and "ParamData" stream form.

#include "access/QorixParams.h"

#include <QDataStream>
#include <QIODevice>

#include "access/QorixExceptions.h"
#include "access/QorixUtils.h"

QString TParam::AsString() const {
  if (value_.isNull()) return QString();
  if (value_.typeId() == QMetaType::QDateTime)
    return value_.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
  if (value_.typeId() == QMetaType::Bool) return value_.toBool() ? QStringLiteral("1") : QStringLiteral("0");
  return value_.toString();
}

int TParam::AsInteger() const {
  bool ok = false;
  const int v = value_.toInt(&ok);
  if (ok) return v;
  return value_.toString().trimmed().toInt();
}

double TParam::AsFloat() const {
  bool ok = false;
  const double v = value_.toDouble(&ok);
  return ok ? v : 0.0;
}

QDateTime TParam::AsDateTime() const {
  if (value_.isNull()) return {};
  if (value_.typeId() == QMetaType::QDateTime) return value_.toDateTime();
  const QString text = value_.toString().trimmed();
  for (const char* fmt : {"yyyy-MM-dd hh:mm:ss.zzz", "yyyy-MM-dd hh:mm:ss", "yyyy-MM-dd"}) {
    QDateTime dt = QDateTime::fromString(text, QString::fromLatin1(fmt));
    if (dt.isValid()) return dt;
  }
  return QDateTime::fromString(text, Qt::ISODateWithMs);
}

void TParam::SetAsString(const QString& text) {
  if (DataType == ftUnknown) DataType = ftString;
  value_ = text;
}

void TParam::SetAsInteger(int value) {
  if (DataType == ftUnknown) DataType = ftInteger;
  value_ = value;
}

TParam& TParams::CreateParam(TFieldType dataType, const QString& name, TParamType paramType) {
  items_.push_back(std::make_unique<TParam>(name, dataType, paramType));
  return *items_.back();
}

TParam* TParams::FindParam(const QString& name) const {
  for (const auto& p : items_)
    if (p->Name.compare(name, Qt::CaseInsensitive) == 0) return p.get();
  return nullptr;
}

TParam& TParams::ParamByName(const QString& name) const {
  TParam* p = FindParam(name);
  if (!p) DatabaseError(QStringLiteral("Parameter '%1' not found").arg(name));
  return *p;
}

void TParams::Assign(const TParams& source) {
  items_.clear();
  for (const auto& p : source.items_) items_.push_back(std::make_unique<TParam>(*p));
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& p : items_)
    if (const TParam* s = source.FindParam(p->Name)) p->SetValue(s->Value());
}

bool TParams::IsEqual(const TParams& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i) {
    const TParam& a = Items(i);
    const TParam& b = other.Items(i);
    if (a.Name != b.Name || a.DataType != b.DataType || a.ParamType != b.ParamType || a.Value() != b.Value())
      return false;
  }
  return true;
}

QString TParams::ParseSQL(const QString& sql, bool doCreate) {
  QString out;
  out.reserve(sql.size());
  const qsizetype n = sql.size();
  qsizetype i = 0;
  auto isNameChar = [](QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
           c == QLatin1Char('$');
  };
  while (i < n) {
    // Literals, quoted names and comments may hold colons ("-- at 10:30") that are no markers.
    if (const qsizetype past = SkipSqlLiteralOrComment(sql, i); past > i) {
      out += QStringView(sql).mid(i, past - i);
      i = past;
      continue;
    }
    const QChar c = sql[i];
    if (c == QLatin1Char(':')) {
      if (i + 1 < n && sql[i + 1] == QLatin1Char(':')) {
        out += QLatin1Char(':');
        i += 2;
        continue;
      }
      // A double-quoted marker name may hold blanks: :"order date".
      if (i + 1 < n && sql[i + 1] == QLatin1Char('"')) {
        const qsizetype close = sql.indexOf(QLatin1Char('"'), i + 2);
        if (close > i + 2) {
          if (doCreate) CreateParam(ftUnknown, sql.mid(i + 2, close - i - 2), ptInput);
          out += QLatin1Char('?');
          i = close + 1;
          continue;
        }
      }
      qsizetype j = i + 1;
      while (j < n && isNameChar(sql[j])) ++j;
      if (j > i + 1) {
        if (doCreate) CreateParam(ftUnknown, sql.mid(i + 1, j - i - 1), ptInput);
        out += QLatin1Char('?');
        i = j;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

namespace {
constexpr quint32 kParamDataMagic = 0x51504431;  // "QPD1"
}

QByteArray TParams::WriteData() const {
  QByteArray data;
  QDataStream s(&data, QIODevice::WriteOnly);
  s.setVersion(QDataStream::Qt_6_0);
  s << kParamDataMagic << static_cast<qint32>(items_.size());
  for (const auto& p : items_) {
    s << p->Name << static_cast<qint32>(p->DataType) << static_cast<qint32>(p->ParamType) << p->IsNull();
    if (!p->IsNull()) s << p->Value();
  }
  return data;
}

bool TParams::ReadData(const QByteArray& data) {
  items_.clear();
  QDataStream s(data);
  s.setVersion(QDataStream::Qt_6_0);
  quint32 magic = 0;
  qint32 count = 0;
  s >> magic >> count;
  if (s.status() != QDataStream::Ok || magic != kParamDataMagic || count < 0) return false;
  for (qint32 i = 0; i < count; ++i) {
    QString name;
    qint32 type = 0, paramType = 0;
    bool isNull = true;
    QVariant value;
    s >> name >> type >> paramType >> isNull;
    if (!isNull) s >> value;
    if (s.status() != QDataStream::Ok || type < 0 || type >= kFieldTypeCount || paramType < ptUnknown ||
        paramType > ptResult) {
      items_.clear();
      return false;
    }
    TParam& p = CreateParam(static_cast<TFieldType>(type), name, static_cast<TParamType>(paramType));
    if (!isNull) p.SetValue(value);
  }
  return true;
}
