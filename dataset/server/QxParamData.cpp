// The stored form of a server dataset's parameters ("ParamData"): every parameter's name,
// field type, direction, Bound flag and value as a JSON array, written so that reading it back
// gives the same parameters (exact numbers stay their text, date-times keep milliseconds,
// bytes travel as hex).
#include <QDateTime>
#include <QLocale>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cctype>

#include "access/QorixExceptions.h"
#include "dataset/server/QxDataSet.h"

namespace {
const char* const kParamTypeNames[] = {"ptUnknown", "ptInput", "ptOutput", "ptInputOutput", "ptResult"};
constexpr int kParamTypeCount = int(sizeof kParamTypeNames / sizeof kParamTypeNames[0]);

// The value's kind and text; an unknown kind is kept as its text.
QJsonObject ValueObject(const QVariant& v) {
  QJsonObject o;
  switch (v.typeId()) {
    case QMetaType::Bool:
      o[QStringLiteral("Kind")] = QStringLiteral("bool");
      o[QStringLiteral("Text")] = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
      break;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
      o[QStringLiteral("Kind")] = QStringLiteral("int");
      o[QStringLiteral("Text")] = QString::number(v.toInt());
      break;
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      o[QStringLiteral("Kind")] = QStringLiteral("int64");
      o[QStringLiteral("Text")] = QString::number(v.toLongLong());
      break;
    case QMetaType::Double:
    case QMetaType::Float:
      o[QStringLiteral("Kind")] = QStringLiteral("double");
      o[QStringLiteral("Text")] = QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
      break;
    case QMetaType::QDateTime:
      o[QStringLiteral("Kind")] = QStringLiteral("datetime");
      o[QStringLiteral("Text")] = v.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
      break;
    case QMetaType::QDate:
      o[QStringLiteral("Kind")] = QStringLiteral("date");
      o[QStringLiteral("Text")] = v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
      break;
    case QMetaType::QTime:
      o[QStringLiteral("Kind")] = QStringLiteral("time");
      o[QStringLiteral("Text")] = v.toTime().toString(QStringLiteral("HH:mm:ss.zzz"));
      break;
    case QMetaType::QByteArray:
      o[QStringLiteral("Kind")] = QStringLiteral("bytes");
      o[QStringLiteral("Text")] = QString::fromLatin1(v.toByteArray().toHex());
      break;
    default:
      o[QStringLiteral("Kind")] = QStringLiteral("text");
      o[QStringLiteral("Text")] = v.toString();
      break;
  }
  return o;
}

// The value a ValueObject wrote; false when the object is not one.
bool ReadValue(const QJsonObject& o, QVariant& out) {
  const QString kind = o.value(QStringLiteral("Kind")).toString();
  const QJsonValue textValue = o.value(QStringLiteral("Text"));
  if (!textValue.isString()) return false;
  const QString text = textValue.toString();
  bool ok = true;
  if (kind == QLatin1String("bool")) {
    if (text != QLatin1String("true") && text != QLatin1String("false")) return false;
    out = text == QLatin1String("true");
  } else if (kind == QLatin1String("int")) {
    out = text.toInt(&ok);
  } else if (kind == QLatin1String("int64")) {
    out = text.toLongLong(&ok);
  } else if (kind == QLatin1String("double")) {
    out = text.toDouble(&ok);
  } else if (kind == QLatin1String("datetime")) {
    const QDateTime dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    ok = dt.isValid();
    out = dt;
  } else if (kind == QLatin1String("date")) {
    const QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    ok = d.isValid();
    out = d;
  } else if (kind == QLatin1String("time")) {
    const QTime t = QTime::fromString(text, QStringLiteral("HH:mm:ss.zzz"));
    ok = t.isValid();
    out = t;
  } else if (kind == QLatin1String("bytes")) {
    const QByteArray hex = text.toLatin1();
    ok = hex.size() % 2 == 0 && std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(uchar(c)); });
    out = QByteArray::fromHex(hex);
  } else if (kind == QLatin1String("text")) {
    out = text;
  } else {
    return false;
  }
  return ok;
}

int IndexOfName(const char* const* names, int count, const QString& name) {
  for (int i = 0; i < count; ++i)
    if (name == QLatin1String(names[i])) return i;
  return -1;
}
}  // namespace

QString TQxCustomDataSet::ParamData() const {
  QJsonArray items;
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    QJsonObject o;
    o[QStringLiteral("Name")] = p.Name;
    o[QStringLiteral("DataType")] = QString::fromLatin1(FieldTypeName(p.DataType));
    o[QStringLiteral("ParamType")] =
        QString::fromLatin1(kParamTypeNames[p.ParamType >= 0 && p.ParamType < kParamTypeCount ? p.ParamType : 0]);
    o[QStringLiteral("Bound")] = p.Bound;
    o[QStringLiteral("Value")] = p.IsNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(ValueObject(p.Value()));
    items.append(o);
  }
  return QString::fromUtf8(QJsonDocument(items).toJson(QJsonDocument::Compact));
}

void TQxCustomDataSet::SetParamData(const QString& text) {
  const QString invalid = QStringLiteral("The parameter data is not valid");
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !doc.isArray()) RaiseDataSetError(invalid, this);
  // Everything is read before anything changes: a bad item leaves Params as they were.
  TParams read;
  const QJsonArray items = doc.array();
  for (const QJsonValue& item : items) {
    if (!item.isObject()) RaiseDataSetError(invalid, this);
    const QJsonObject o = item.toObject();
    const QString name = o.value(QStringLiteral("Name")).toString();
    int dataType = -1;
    for (int t = 0; t < kFieldTypeCount; ++t)
      if (o.value(QStringLiteral("DataType")).toString() == QLatin1String(FieldTypeName(t))) dataType = t;
    const int paramType =
        IndexOfName(kParamTypeNames, kParamTypeCount, o.value(QStringLiteral("ParamType")).toString());
    if (name.isEmpty() || dataType < 0 || paramType < 0) RaiseDataSetError(invalid, this);
    TParam& p = read.CreateParam(TFieldType(dataType), name, TParamType(paramType));
    p.Bound = o.value(QStringLiteral("Bound")).toBool();
    const QJsonValue value = o.value(QStringLiteral("Value"));
    if (value.isObject()) {
      QVariant v;
      if (!ReadValue(value.toObject(), v)) RaiseDataSetError(invalid, this);
      p.SetValue(v);
    } else if (!value.isNull() && !value.isUndefined()) {
      RaiseDataSetError(invalid, this);
    }
  }
  params_.Assign(read);
}
