// The memory datasets' stream formats: the "QorixSuite0" data block (records and blob values)
// and the "QorixSuite1" full stream (field definitions, then a data block), with their file
// loaders. Readers refuse short, negative and foreign input instead of reading past it.
#include <QFile>
#include <cstring>

#include "dataset/QxCustomMemDataSet.h"
#include "dataset/QxDataSetErrors.h"

namespace {
// Enables controls again on every way out of a scope.
struct ControlsGuard {
  explicit ControlsGuard(TDataSet* ds) : ds_(ds) { ds_->DisableControls(); }
  ~ControlsGuard() { ds_->EnableControls(); }
  TDataSet* ds_;
};

void WriteMagic(TStream& s, const char* magic) {
  char m[12] = {};
  std::memcpy(m, magic, 11);
  s.WriteBuffer(m, 12);
}

QString ReadMagic(TStream& s) {
  char m[13] = {};
  s.ReadBuffer(m, 12);
  return QString::fromLatin1(m);
}

QByteArray ReadWholeFile(const QString& name) {
  QFile f(name);
  if (!f.open(QIODevice::ReadOnly)) throw EFOpenError(DbText::FileOpenError.arg(name, f.errorString()));
  return f.readAll();
}
}  // namespace

void TQxCustomMemDataSet::SaveDataToStream(TMemoryStream& stream, bool append) {
  if (!append) stream.Clear();
  stream.Seek(0, TStream::soEnd);
  const int32_t count = store_.Count();
  WriteMagic(stream, kQxDataMagic);
  stream.WriteInt32(count);
  // The byte count is a 64-bit product: a million wide records overflow 32 bits.
  stream.WriteInt64(int64_t(count) * int64_t(store_.RecordSize));
  stream.WriteInt32(store_.RecordSize);
  const char* base = store_.Stream().Memory();
  for (int i = 0; i < count; ++i) stream.WriteBuffer(base + store_.Item(i).Offset, store_.RecordSize);
  stream.WriteInt32(blobs_.Count());
  if (blobs_.Count() > 0) {
    TMemoryStream scratch;
    blobs_.SaveToStream(scratch);
    stream.WriteInt32(int32_t(scratch.Size()));
    stream.WriteBuffer(scratch.Memory(), scratch.Size());
  }
}

void TQxCustomMemDataSet::SaveToStream(TMemoryStream& stream) {
  stream.Clear();
  WriteMagic(stream, kQxFullMagic);
  stream.WriteInt32(FieldDefs().Count());
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const TFieldDef* def = FieldDefs().Items(i);
    stream.WriteInt32(def->DataType);
    // The name slot holds 30 bytes and a NUL; a longer name is cut, never written past the slot.
    char name[kQxNameSlot] = {};
    const QByteArray utf8 = def->Name.toUtf8();
    std::memcpy(name, utf8.constData(), std::min<qsizetype>(utf8.size(), kQxNameSlot - 1));
    stream.WriteBuffer(name, kQxNameSlot);
    stream.WriteInt32(def->Precision);
    stream.WriteInt32(def->Size);
  }
  SaveDataToStream(stream, true);
}

void TQxCustomMemDataSet::LoadDataFromStream(TStream& stream) {
  ControlsGuard controls(this);
  EmptyDataSet();
  try {
    ReadDataBlock(stream);
  } catch (...) {
    // Whatever was read before the failure goes: a refused block leaves the dataset empty.
    EmptyDataSet();
    throw;
  }
  store_.RenumberBookmarks();
  nextBookmarkId_ = store_.Count() + 1;
  ContentChanged();
  if (Active()) {
    Resync({});
    First();
  }
}

void TQxCustomMemDataSet::ReadDataBlock(TStream& stream) {
  if (ReadMagic(stream) != QLatin1String(kQxDataMagic))
    RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  const int32_t count = stream.ReadInt32();
  const int64_t bytes = stream.ReadInt64();
  const int32_t size = stream.ReadInt32();
  // The records must fit the layout this dataset reads them with; anything else would be
  // misread field by field.
  if (slots_.empty() && FieldDefs().Count() > 0) ComputeRecordLayout();
  if (count < 0 || size != recordSize_ || bytes != int64_t(count) * size)
    RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  if (bytes > stream.Size() - stream.Position()) throw EReadError(DbText::ReadError);
  store_.Reserve(count);
  QByteArray records(bytes, Qt::Uninitialized);
  stream.ReadBuffer(records.data(), bytes);
  if (count == 0) return;
  // Each added item reserves its block at offset (i - 1) * size; the images then fill them.
  for (int32_t i = 0; i < count; ++i) store_.AddRecord(nextBookmarkId_++);
  std::memcpy(store_.Stream().Memory(), records.constData(), bytes);
  recordCount_ = count;
  const int32_t blobCount = stream.ReadInt32();
  if (blobCount < 0) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  if (blobCount > 0) {
    const int32_t listSize = stream.ReadInt32();
    if (listSize < 4 || listSize > stream.Size() - stream.Position()) throw EReadError(DbText::ReadError);
    TMemoryStream list;
    list.CopyFrom(stream, listSize);
    blobs_.LoadFromStream(list);
  }
}

void TQxCustomMemDataSet::LoadFieldDefs(TStream& stream) {
  EmptyDataSet();
  stream.SetPosition(0);
  if (ReadMagic(stream) != QLatin1String(kQxFullMagic))
    RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  const int32_t count = stream.ReadInt32();
  if (count < 0 || int64_t(count) * (12 + kQxNameSlot) > stream.Size() - stream.Position())
    throw EReadError(DbText::ReadError);
  TFieldDefs defs(this);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t type = stream.ReadInt32();
    char name[kQxNameSlot + 1] = {};
    stream.ReadBuffer(name, kQxNameSlot);
    const int32_t precision = stream.ReadInt32();
    const int32_t size = stream.ReadInt32();
    if (type < 0 || type >= kFieldTypeCount || size < 0)
      RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
    TFieldDef* def = defs.AddFieldDef();
    def->Name = QString::fromUtf8(name);
    def->DataType = TFieldType(type);
    def->Precision = precision;
    def->Size = size;
  }
  if (Active()) {
    // An open dataset keeps its fields and layout: definitions that lay records out otherwise
    // are refused rather than read into the wrong slots.
    bool same = defs.Count() == FieldDefs().Count();
    for (int i = 0; same && i < defs.Count(); ++i) {
      const TFieldDef* a = defs.Items(i);
      const TFieldDef* b = FieldDefs().Items(i);
      const TFieldType ta = a->DataType == ftBCD ? ftFloat : a->DataType;
      same = ta == b->DataType && SlotWidth(ta, a->Size) == SlotWidth(b->DataType, b->Size);
    }
    if (!same) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
    FieldDefs().Assign(defs);
    for (int i = 0; i < FieldDefs().Count(); ++i)
      if (FieldDefs().Items(i)->DataType == ftBCD) FieldDefs().Items(i)->DataType = ftFloat;
    return;
  }
  FieldDefs().Assign(defs);
  Fields().Clear();
  CreateFields();
  BindFields(true);
  ComputeRecordLayout();
}

void TQxCustomMemDataSet::LoadFromStream(TStream& stream) {
  if (stream.Size() == 0) return;
  ControlsGuard controls(this);
  LoadFieldDefs(stream);
  LoadDataFromStream(stream);
}

void TQxCustomMemDataSet::LoadFromFile(const QString& fileName) {
  const QString name = fileName.isEmpty() ? FileName : fileName;
  if (name.isEmpty()) RaiseFileError(QxText(QxMsg::NoFileName), this);
  TMemoryStream s;
  s.LoadFromBytes(ReadWholeFile(name));
  LoadFromStream(s);
}

void TQxCustomMemDataSet::LoadDataFromFile(const QString& fileName) {
  const QString name = fileName.isEmpty() ? FileName : fileName;
  if (name.isEmpty()) RaiseFileError(QxText(QxMsg::NoFileName), this);
  TMemoryStream s;
  s.LoadFromBytes(ReadWholeFile(name));
  LoadDataFromStream(s);
  if (Active()) First();
}
