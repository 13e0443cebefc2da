// Field definitions, the field classes' conversions between variants and native forms, and
// the field list.
#include "dataset/Field.h"

#include <QLocale>
#include <QtEndian>
#include <cmath>
#include <cstring>

#include "dataset/DataSet.h"
#include "dataset/QxDataSetErrors.h"

namespace {
// Julian day of 1 January 0001 minus one: the class library counts that day as day 1.
constexpr int64_t kTimeStampEpochJd = 1721425;
constexpr int64_t kMSecsPerDay = 86400000;

// Scratch buffer for a native value: 8-byte aligned and large enough for any slot.
struct NativeBuffer {
  explicit NativeBuffer(int size) : bytes(size_t(std::max(size, 8)) + 1, 0) {}
  void* data() { return bytes.data(); }
  std::vector<char> bytes;
};

template <typename T>
T ReadAs(const std::vector<char>& bytes) {
  T value;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}
}  // namespace

TFieldDef::TFieldDef(TFieldDefs* owner, QString name, TFieldType type, int size, bool required)
    : Name(std::move(name)), DataType(type), Size(size), Required(required), owner_(owner) {}

int TFieldDef::FieldNo() const {
  for (int i = 0; i < owner_->Count(); ++i)
    if (owner_->Items(i) == this) return i + 1;
  return 0;
}

TFieldDef* TFieldDefs::Add(const QString& name, TFieldType type, int size, bool required) {
  defs_.push_back(std::make_unique<TFieldDef>(this, name, type, size, required));
  return defs_.back().get();
}

TFieldDef* TFieldDefs::AddFieldDef() {
  return Add(QString(), ftUnknown);
}

int TFieldDefs::IndexOf(const QString& name) const {
  for (int i = 0; i < Count(); ++i)
    if (defs_[i]->Name.compare(name, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

TFieldDef* TFieldDefs::Find(const QString& name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : defs_[i].get();
}

void TFieldDefs::Assign(const TFieldDefs& other) {
  if (&other == this) return;
  defs_.clear();
  for (const auto& d : other.defs_) {
    TFieldDef* copy = Add(d->Name, d->DataType, d->Size, d->Required);
    copy->Precision = d->Precision;
  }
}

void TFieldDefs::Update() {}

TField::TField(TFieldType type, int size) : dataType_(type), size_(size) {}

TField::~TField() = default;

int TField::Index() const {
  return dataset_ ? dataset_->Fields().IndexOf(this) : -1;
}

int TField::DataSize() const {
  return 0;
}

bool TField::GetData(void* buffer) const {
  if (!dataset_) return false;
  return dataset_->GetFieldData(this, buffer);
}

void TField::SetData(const void* buffer) {
  if (!dataset_) DatabaseError(QStringLiteral("Field '%1' has no dataset").arg(DisplayName()));
  const TDataSetState st = dataset_->State();
  if (ReadOnly && FieldKind == TFieldKind::fkData && st != TDataSetState::dsSetKey &&
      st != TDataSetState::dsFilter && st != TDataSetState::dsInternalCalc)
    DatabaseError(DbText::FieldReadOnly.arg(DisplayName()), dataset_);
  if (OnValidate && (st == TDataSetState::dsEdit || st == TDataSetState::dsInsert)) OnValidate(*this);
  dataset_->SetFieldData(this, buffer);
}

bool TField::IsNull() const {
  return !GetData(nullptr);
}

void TField::Clear() {
  SetData(nullptr);
}

QString TField::AsString() const {
  const QVariant v = Value();
  return v.isNull() ? QString() : v.toString();
}

void TField::SetAsString(const QString& value) {
  if (value.isEmpty()) {
    Clear();
    return;
  }
  SetValue(value);
}

int32_t TField::AsInteger() const {
  const QVariant v = Value();
  if (v.isNull()) return 0;
  bool ok = false;
  const int32_t i = v.toInt(&ok);
  if (!ok) RaiseConvertError(v.toString(), DbText::InvalidIntegerValue);
  return i;
}

double TField::AsFloat() const {
  const QVariant v = Value();
  if (v.isNull()) return 0;
  bool ok = false;
  const double d = v.toDouble(&ok);
  if (!ok) RaiseConvertError(v.toString(), DbText::InvalidFloatValue);
  return d;
}

bool TField::AsBoolean() const {
  const QVariant v = Value();
  return v.isNull() ? false : v.toBool();
}

QDateTime TField::AsDateTime() const {
  const QVariant v = Value();
  if (v.isNull()) return {};
  QDateTime dt = v.toDateTime();
  if (!dt.isValid()) RaiseConvertError(v.toString(), DbText::InvalidDateTimeValue);
  return dt;
}

void TField::Change() {
  if (OnChange) OnChange(*this);
}

void TField::RaiseConvertError(const QString& text, const QString& what) const {
  DatabaseError(what.arg(text, DisplayName()), dataset_);
}

// --- strings -------------------------------------------------------------------------------

QVariant TStringField::Value() const {
  NativeBuffer buf(DataSize());
  if (!GetData(buf.data())) return {};
  buf.bytes.back() = 0;
  return QString::fromUtf8(buf.bytes.data());
}

void TStringField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  SetAsString(value.toString());
}

QString TStringField::AsString() const {
  return Value().toString();
}

void TStringField::SetAsString(const QString& value) {
  // Cut at Size bytes without splitting a UTF-8 sequence: a continuation byte never starts
  // the cut-off part.
  QByteArray utf8 = value.toUtf8();
  if (utf8.size() > Size()) {
    int n = Size();
    while (n > 0 && (uchar(utf8[n]) & 0xC0) == 0x80) --n;
    utf8.truncate(n);
  }
  NativeBuffer buf(DataSize());
  std::memcpy(buf.data(), utf8.constData(), utf8.size());
  SetData(buf.data());
}

// --- exact numbers -------------------------------------------------------------------------

QString CanonicalDecimal(const QString& input) {
  const QString text = input.trimmed();
  qsizetype i = 0;
  const qsizetype n = text.size();
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) negative = text[i++] == QLatin1Char('-');
  QString intPart, fracPart;
  while (i < n && text[i].isDigit() && text[i].unicode() < 128) intPart += text[i++];
  if (i < n && text[i] == QLatin1Char('.')) {
    ++i;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) fracPart += text[i++];
  }
  if (intPart.isEmpty() && fracPart.isEmpty()) return QString();
  int exponent = 0;
  if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
      expNegative = text[i++] == QLatin1Char('-');
    QString digits;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) digits += text[i++];
    bool ok = false;
    exponent = digits.toInt(&ok);
    // An exponent that no column could hold is no number of ours.
    if (!ok || exponent > 400) return QString();
    if (expNegative) exponent = -exponent;
  }
  if (i != n) return QString();
  // The exponent moves the point.
  QString digits = intPart + fracPart;
  qsizetype point = intPart.size() + exponent;
  if (point < 0) {
    digits.prepend(QString(-point, QLatin1Char('0')));
    point = 0;
  }
  if (point > digits.size()) digits.append(QString(point - digits.size(), QLatin1Char('0')));
  QString whole = digits.left(point);
  QString fraction = digits.mid(point);
  while (whole.size() > 1 && whole.startsWith(QLatin1Char('0'))) whole.remove(0, 1);
  if (whole.isEmpty()) whole = QStringLiteral("0");
  while (fraction.endsWith(QLatin1Char('0'))) fraction.chop(1);
  QString out = whole;
  if (!fraction.isEmpty()) out += QLatin1Char('.') + fraction;
  if (negative && out != QLatin1String("0")) out.prepend(QLatin1Char('-'));
  return out;
}

QString DecimalOfDouble(double value) {
  if (!std::isfinite(value)) return QString();
  return CanonicalDecimal(QString::number(value, 'g', QLocale::FloatingPointShortest));
}

QVariant TExactNumberField::Value() const {
  const QVariant text = TStringField::Value();
  return text.isNull() ? QVariant() : QVariant(text.toString());
}

void TExactNumberField::SetValue(const QVariant& value) {
  if (value.isNull() || !value.isValid()) {
    Clear();
    return;
  }
  QString text;
  switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      text = DecimalOfDouble(value.toDouble());
      break;
    case QMetaType::Bool:
      text = value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
      break;
    default:
      text = CanonicalDecimal(value.toString());
      break;
  }
  if (text.isNull() || text.size() > Size()) RaiseConvertError(value.toString(), DbText::InvalidFloatValue);
  TStringField::SetAsString(text);
}

void TExactNumberField::SetAsString(const QString& value) {
  if (value.trimmed().isEmpty()) {
    Clear();
    return;
  }
  SetValue(value);
}

int32_t TExactNumberField::AsInteger() const {
  const QVariant v = Value();
  if (v.isNull()) return 0;
  const double d = v.toDouble();
  if (d < -2147483648.0 || d > 2147483647.0) RaiseConvertError(v.toString(), DbText::InvalidIntegerValue);
  return int32_t(d);
}

// --- integers ------------------------------------------------------------------------------

int TIntegerField::DataSize() const {
  return DataType() == ftSmallint || DataType() == ftWord ? 2 : 4;
}

QVariant TIntegerField::Value() const {
  NativeBuffer buf(DataSize());
  if (!GetData(buf.data())) return {};
  switch (DataType()) {
    case ftSmallint:
      return int(ReadAs<int16_t>(buf.bytes));
    case ftWord:
      return int(ReadAs<uint16_t>(buf.bytes));
    default:
      return ReadAs<int32_t>(buf.bytes);
  }
}

void TIntegerField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  bool ok = false;
  const qlonglong v = value.toLongLong(&ok);
  if (!ok) RaiseConvertError(value.toString(), DbText::InvalidIntegerValue);
  // A value the field cannot hold is refused, never cut to another number.
  const qlonglong low = DataType() == ftSmallint ? -32768 : DataType() == ftWord ? 0 : -2147483648LL;
  const qlonglong high = DataType() == ftSmallint ? 32767 : DataType() == ftWord ? 65535 : 2147483647LL;
  if (v < low || v > high) RaiseConvertError(value.toString(), DbText::InvalidIntegerValue);
  NativeBuffer buf(8);
  if (DataType() == ftSmallint || DataType() == ftWord) {
    const int16_t s = int16_t(v);
    std::memcpy(buf.data(), &s, 2);
  } else {
    const int32_t i = int32_t(v);
    std::memcpy(buf.data(), &i, 4);
  }
  SetData(buf.data());
}

QVariant TLargeintField::Value() const {
  NativeBuffer buf(8);
  if (!GetData(buf.data())) return {};
  return qlonglong(ReadAs<int64_t>(buf.bytes));
}

void TLargeintField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  bool ok = false;
  const int64_t v = value.toLongLong(&ok);
  if (!ok) RaiseConvertError(value.toString(), DbText::InvalidIntegerValue);
  SetData(&v);
}

// --- booleans ------------------------------------------------------------------------------

QVariant TBooleanField::Value() const {
  NativeBuffer buf(2);
  if (!GetData(buf.data())) return {};
  return ReadAs<int16_t>(buf.bytes) != 0;
}

void TBooleanField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  bool b = false;
  if (value.typeId() == QMetaType::QString) {
    const QString t = value.toString().trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0 || t == QLatin1String("1"))
      b = true;
    else if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0 || t == QLatin1String("0"))
      b = false;
    else
      RaiseConvertError(t, DbText::InvalidBoolValue);
  } else {
    b = value.toBool();
  }
  const int16_t w = b ? -1 : 0;
  SetData(&w);
}

QString TBooleanField::AsString() const {
  const QVariant v = Value();
  if (v.isNull()) return {};
  return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
}

// --- floats --------------------------------------------------------------------------------

QVariant TFloatField::Value() const {
  NativeBuffer buf(8);
  if (!GetData(buf.data())) return {};
  return ReadAs<double>(buf.bytes);
}

void TFloatField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  bool ok = false;
  const double d = value.toDouble(&ok);
  if (!ok) RaiseConvertError(value.toString(), DbText::InvalidFloatValue);
  SetData(&d);
}

// --- dates and times -----------------------------------------------------------------------

QVariant TDateTimeField::Value() const {
  NativeBuffer buf(8);
  if (!GetData(buf.data())) return {};
  switch (DataType()) {
    case ftDate:
      return QDate::fromJulianDay(ReadAs<int32_t>(buf.bytes) + kTimeStampEpochJd);
    case ftTime:
      return QTime::fromMSecsSinceStartOfDay(ReadAs<int32_t>(buf.bytes));
    default: {
      const int64_t ms = int64_t(ReadAs<double>(buf.bytes));
      const int64_t days = ms / kMSecsPerDay;
      return QDateTime(QDate::fromJulianDay(days + kTimeStampEpochJd),
                       QTime::fromMSecsSinceStartOfDay(int(ms % kMSecsPerDay)));
    }
  }
}

void TDateTimeField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  QDateTime dt;
  if (value.typeId() == QMetaType::QString) {
    dt = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!dt.isValid()) dt = QDateTime(QDate::fromString(value.toString(), Qt::ISODate), QTime(0, 0));
  } else if (value.typeId() == QMetaType::QDate) {
    dt = QDateTime(value.toDate(), QTime(0, 0));
  } else if (value.typeId() == QMetaType::QTime) {
    dt = QDateTime(QDate(1899, 12, 30), value.toTime());
  } else {
    dt = value.toDateTime();
  }
  if (!dt.isValid()) RaiseConvertError(value.toString(), DbText::InvalidDateTimeValue);
  NativeBuffer buf(8);
  const int64_t days = dt.date().toJulianDay() - kTimeStampEpochJd;
  const int32_t ms = dt.time().msecsSinceStartOfDay();
  if (DataType() == ftDate) {
    const int32_t d = int32_t(days);
    std::memcpy(buf.data(), &d, 4);
  } else if (DataType() == ftTime) {
    std::memcpy(buf.data(), &ms, 4);
  } else {
    const double stamp = double(days * kMSecsPerDay + ms);
    std::memcpy(buf.data(), &stamp, 8);
  }
  SetData(buf.data());
}

QString TDateTimeField::AsString() const {
  const QVariant v = Value();
  if (v.isNull()) return {};
  switch (DataType()) {
    case ftDate:
      return v.toDate().toString(Qt::ISODate);
    case ftTime:
      return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    default:
      return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  }
}

// --- fixed bytes ---------------------------------------------------------------------------

QVariant TBytesField::Value() const {
  NativeBuffer buf(DataSize());
  if (!GetData(buf.data())) return {};
  return QByteArray(buf.bytes.data(), Size());
}

void TBytesField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  NativeBuffer buf(DataSize());
  const QByteArray b = value.toByteArray();
  std::memcpy(buf.data(), b.constData(), std::min<qsizetype>(b.size(), Size()));
  SetData(buf.data());
}

QString TBytesField::AsString() const {
  return QString::fromLatin1(Value().toByteArray().toHex());
}

// --- blobs ---------------------------------------------------------------------------------

TDataSetField::TDataSetField() : TBlobField(ftDataSet, 0) {}

TDataSetField::~TDataSetField() {
  if (TDataSet* nested = nested_) {
    nested_ = nullptr;
    nested->DetachFromParent();
  }
  // The dataset this field made goes with it, already detached.
  delete owned_.data();
}

TDataSet* TDataSetField::EnsureNestedDataSet() {
  if (nested_) return nested_;
  TDataSet* parent = DataSet();
  if (!parent || !parent->NestedDataSetClass) return nullptr;
  std::unique_ptr<TDataSet> made = parent->NestedDataSetClass(*this);
  if (!made) return nullptr;
  // A dataset this field made earlier and that was unbound since is replaced.
  delete owned_.data();
  owned_ = made.release();
  return nested_ ? nested_ : owned_.data();
}

QByteArray TBlobField::AsBytes() const {
  TDataSet* ds = DataSet();
  if (!ds || IsNull()) return {};
  std::unique_ptr<TStream> s = ds->CreateBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead);
  if (!s) return {};
  QByteArray bytes(s->Size(), Qt::Uninitialized);
  s->SetPosition(0);
  s->ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

void TBlobField::SetAsBytes(const QByteArray& bytes) {
  TDataSet* ds = DataSet();
  if (!ds) return;
  if (ReadOnly) DatabaseError(DbText::FieldReadOnly.arg(DisplayName()), ds);
  std::unique_ptr<TStream> s = ds->CreateBlobStream(this, TBlobStreamMode::bmWrite);
  if (!s) return;
  s->WriteBuffer(bytes.constData(), bytes.size());
  // The value is stored when the stream goes away.
}

int64_t TBlobField::BlobSize() const {
  return AsBytes().size();
}

QVariant TBlobField::Value() const {
  if (IsNull()) return {};
  return AsBytes();
}

void TBlobField::SetValue(const QVariant& value) {
  SetAsBytes(value.isNull() ? QByteArray() : value.toByteArray());
}

QString TBlobField::AsString() const {
  return QString::fromUtf8(AsBytes());
}

QString TBlobField::DisplayText() const {
  constexpr int kShownBytes = 256;
  if (DataType() == ftDataSet || DataType() == ftOraClob) return AsString();
  const QByteArray bytes = AsBytes();
  if (bytes.size() <= kShownBytes) return QString::fromLatin1(bytes.toHex());
  return QString::fromLatin1(bytes.left(kShownBytes).toHex()) + QStringLiteral("...");
}

void TBlobField::SetAsString(const QString& value) {
  SetAsBytes(value.toUtf8());
}

QString TVarBytesField::AsString() const {
  return QString::fromLatin1(AsBytes().toHex());
}

QVariant TMemoField::Value() const {
  if (IsNull()) return {};
  return QString::fromUtf8(AsBytes());
}

void TMemoField::SetValue(const QVariant& value) {
  SetAsBytes(value.isNull() ? QByteArray() : value.toString().toUtf8());
}

QString TMemoField::AsString() const {
  return QString::fromUtf8(AsBytes());
}

// --- field list ----------------------------------------------------------------------------

std::unique_ptr<TField> CreateFieldForType(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return std::make_unique<TStringField>(size, type);
    case ftSmallint:
      return std::make_unique<TSmallintField>();
    case ftInteger:
      return std::make_unique<TIntegerField>();
    case ftWord:
      return std::make_unique<TWordField>();
    case ftAutoInc:
      return std::make_unique<TAutoIncField>();
    case ftLargeint:
      return std::make_unique<TLargeintField>();
    case ftBoolean:
      return std::make_unique<TBooleanField>();
    case ftFloat:
      return std::make_unique<TFloatField>();
    case ftCurrency:
      return std::make_unique<TCurrencyField>();
    case ftBCD:
      return std::make_unique<TBCDField>();
    case ftDate:
      return std::make_unique<TDateField>();
    case ftTime:
      return std::make_unique<TTimeField>();
    case ftDateTime:
      return std::make_unique<TDateTimeField>();
    case ftBytes:
      return std::make_unique<TBytesField>(size);
    case ftVarBytes:
      return std::make_unique<TVarBytesField>(size);
    case ftBlob:
      return std::make_unique<TBlobField>(ftBlob, size);
    case ftMemo:
      return std::make_unique<TMemoField>(ftMemo);
    case ftFmtMemo:
      return std::make_unique<TMemoField>(ftFmtMemo);
    case ftGraphic:
      return std::make_unique<TGraphicField>();
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return std::make_unique<TBlobField>(type, size);
    case ftGuid:
      return std::make_unique<TGuidField>();
    case ftDataSet:
      return std::make_unique<TDataSetField>();
    default:
      return nullptr;
  }
}

TField* TFields::Add(std::unique_ptr<TField> field) {
  if (!field->FieldName.isEmpty() && FindField(field->FieldName))
    DatabaseError(DbText::DuplicateFieldName.arg(field->FieldName), dataset_);
  field->dataset_ = dataset_;
  fields_.push_back(std::move(field));
  return fields_.back().get();
}

void TFields::Remove(TField* field) {
  for (auto it = fields_.begin(); it != fields_.end(); ++it)
    if (it->get() == field) {
      fields_.erase(it);
      return;
    }
}

void TFields::Clear() {
  fields_.clear();
}

TField* TFields::FindField(const QString& name) const {
  for (const auto& f : fields_)
    if (f->FieldName.compare(name, Qt::CaseInsensitive) == 0) return f.get();
  return nullptr;
}

TField* TFields::FieldByName(const QString& name) const {
  TField* f = FindField(name);
  if (!f) DatabaseError(DbText::FieldNotFound.arg(name), dataset_);
  return f;
}

int TFields::IndexOf(const TField* field) const {
  for (int i = 0; i < Count(); ++i)
    if (fields_[i].get() == field) return i;
  return -1;
}

TField* TFields::FieldByNumber(int fieldNo) const {
  for (const auto& f : fields_)
    if (f->FieldNo() == fieldNo) return f.get();
  return nullptr;
}

QStringList SplitFieldNames(const QString& names) {
  QStringList out;
  for (const QString& item : names.split(QLatin1Char(';'))) {
    const QString t = item.trimmed();
    if (!t.isEmpty()) out << t;
  }
  return out;
}
