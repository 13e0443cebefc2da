// The memory datasets' stream formats: the "QorixSuite0" data block (records and blob values)
// and the "QorixSuite1" full stream (field definitions, then a data block), with their file
// loaders. Readers refuse short, negative and foreign input instead of reading past it.
#include <QFile>
#include <QList>
#include <algorithm>
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

// The longest start of a name's UTF-8 that fits a name slot and ends on a whole character.
QByteArray SlotBytes(const QByteArray& utf8) {
  qsizetype n = std::min<qsizetype>(utf8.size(), kQxNameSlot - 1);
  if (n < utf8.size())
    while (n > 0 && (uchar(utf8[n]) & 0xC0) == 0x80) --n;
  return utf8.left(n);
}

// The name in a slot: its bytes up to the NUL. A character cut short at the end of the slot
// (older writers cut at 30 bytes) is dropped instead of showing as a replacement character.
QString SlotName(const char* slot) {
  qsizetype n = qstrnlen(slot, kQxNameSlot);
  qsizetype lead = n;
  while (lead > 0 && (uchar(slot[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead > 0) {
    const uchar c = uchar(slot[lead - 1]);
    const qsizetype need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (n - (lead - 1) < need) n = lead - 1;
  }
  return QString::fromUtf8(slot, n);
}

// Moves past the data block at the stream's position; false (position unspecified) when the
// block is not whole, which the data-block reader then reports.
bool SkipDataBlock(TStream& s) {
  const int64_t size = s.Size();
  if (size - s.Position() < 28) return false;
  s.Seek(12, TStream::soCurrent);
  const int32_t count = s.ReadInt32();
  const int64_t bytes = s.ReadInt64();
  s.ReadInt32();
  if (count < 0 || bytes < 0 || bytes > size - s.Position()) return false;
  s.Seek(bytes, TStream::soCurrent);
  if (size - s.Position() < 4) return false;
  if (s.ReadInt32() > 0) {
    if (size - s.Position() < 4) return false;
    const int32_t listSize = s.ReadInt32();
    if (listSize < 0 || listSize > size - s.Position()) return false;
    s.Seek(listSize, TStream::soCurrent);
  }
  return true;
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
  const int64_t size = store_.RecordSize;
  stream.Reserve(stream.Size() + int64_t(count) * size + 8);
  // Records whose images lie one after another in the store (all of them, until edits move
  // some) are written as one run.
  for (int i = 0; i < count;) {
    const int64_t start = store_.Item(i).Offset;
    int j = i + 1;
    while (j < count && store_.Item(j).Offset == start + (j - i) * size) ++j;
    stream.WriteBuffer(base + start, (j - i) * size);
    i = j;
  }
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
    // The slot holds 30 bytes and a NUL: a longer name keeps its whole characters up to there
    // and is written in full after the data block, where readers of the plain format never look.
    char name[kQxNameSlot] = {};
    const QByteArray slot = SlotBytes(def->Name.toUtf8());
    std::memcpy(name, slot.constData(), slot.size());
    stream.WriteBuffer(name, kQxNameSlot);
    stream.WriteInt32(def->Precision);
    stream.WriteInt32(def->Size);
  }
  SaveDataToStream(stream, true);
  QList<int> longNames;
  for (int i = 0; i < FieldDefs().Count(); ++i)
    if (FieldDefs().Items(i)->Name.toUtf8().size() > kQxNameSlot - 1) longNames << i;
  if (longNames.isEmpty()) return;
  WriteMagic(stream, kQxNamesMagic);
  stream.WriteInt32(int32_t(longNames.size()));
  for (int i : longNames) {
    const QByteArray utf8 = FieldDefs().Items(i)->Name.toUtf8().left(kQxMaxNameBytes);
    stream.WriteInt32(i);
    stream.WriteInt32(int32_t(utf8.size()));
    stream.WriteBuffer(utf8.constData(), utf8.size());
  }
}

void TQxCustomMemDataSet::ReadLongNames(TStream& stream, TFieldDefs& defs) {
  // After the data block, a full stream may name the fields whose names did not fit their slots.
  // Whatever follows a whole data block must be that block, whole: a stream cut inside it
  // would otherwise load with the long names silently cut to their slots.
  const int64_t resume = stream.Position();
  if (SkipDataBlock(stream) && stream.Position() < stream.Size()) {
    auto need = [&](int64_t bytes) {
      if (stream.Size() - stream.Position() < bytes) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
    };
    need(12 + 4);
    if (ReadMagic(stream) != QLatin1String(kQxNamesMagic))
      RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
    const int32_t count = stream.ReadInt32();
    if (count < 1 || count > defs.Count()) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
    QList<int> seen;
    for (int32_t k = 0; k < count; ++k) {
      need(8);
      const int32_t index = stream.ReadInt32();
      const int32_t length = stream.ReadInt32();
      if (index < 0 || index >= defs.Count() || seen.contains(index) || length < kQxNameSlot ||
          length > kQxMaxNameBytes || length > stream.Size() - stream.Position())
        RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
      QByteArray utf8(length, Qt::Uninitialized);
      stream.ReadBuffer(utf8.data(), length);
      const QString name = QString::fromUtf8(utf8);
      // The full name must be the one whose start the slot holds.
      if (!name.startsWith(defs.Items(index)->Name)) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
      defs.Items(index)->Name = name;
      seen << index;
    }
    if (stream.Position() != stream.Size()) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  }
  stream.SetPosition(resume);
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
  // Without a layout there is no record to read: a block claiming records of such a dataset
  // would make records out of nothing.
  if (count > 0 && slots_.empty()) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  if (bytes > stream.Size() - stream.Position()) throw EReadError(DbText::ReadError);
  if (count == 0) return;
  // The images go straight from the source into the store's blocks, item i at (i - 1) * size.
  char* images = store_.AppendRecords(count, nextBookmarkId_);
  nextBookmarkId_ += count;
  stream.ReadBuffer(images, bytes);
  recordCount_ = count;
  // Each record references at most one value per blob field: a list of more values (empty ones
  // cost far more memory than their bytes in the file) holds nothing the records could read.
  int64_t blobFields = 0;
  for (const Slot& slot : slots_)
    if (IsBlobLike(slot.Type)) ++blobFields;
  const int64_t maxBlobs = int64_t(count) * blobFields;
  const int32_t blobCount = stream.ReadInt32();
  if (blobCount < 0) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  if (blobCount > 0) {
    const int32_t listSize = stream.ReadInt32();
    if (listSize < 4 || listSize > stream.Size() - stream.Position()) throw EReadError(DbText::ReadError);
    TMemoryStream list;
    list.CopyFrom(stream, listSize);
    // A list of items that do not hold together is a read error; one of more values than the
    // records can reference (or than the block counts) is not valid.
    if (!blobs_.LoadFromStream(list, std::min<int64_t>(blobCount, maxBlobs)) || blobCount > maxBlobs ||
        blobs_.Count() != blobCount)
      RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  }
}

void TQxCustomMemDataSet::ReadFieldDefs(TStream& stream, TFieldDefs& defs) {
  stream.SetPosition(0);
  if (ReadMagic(stream) != QLatin1String(kQxFullMagic))
    RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  const int32_t count = stream.ReadInt32();
  if (count < 0 || int64_t(count) * (12 + kQxNameSlot) > stream.Size() - stream.Position())
    throw EReadError(DbText::ReadError);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t type = stream.ReadInt32();
    char name[kQxNameSlot + 1] = {};
    stream.ReadBuffer(name, kQxNameSlot);
    const int32_t precision = stream.ReadInt32();
    const int32_t size = stream.ReadInt32();
    // A type no record can hold or a size past any record is no definition this format makes.
    if (type < 0 || type >= kFieldTypeCount || size < 0 || size > kQxMaxRecordSize ||
        SlotWidth(type == ftBCD ? ftFloat : TFieldType(type), size) == 0)
      RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
    TFieldDef* def = defs.AddFieldDef();
    def->Name = SlotName(name);
    def->DataType = TFieldType(type);
    def->Precision = precision;
    def->Size = size;
  }
  if (RecordSizeOf(defs) > kQxMaxRecordSize) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  ReadLongNames(stream, defs);
}

bool TQxCustomMemDataSet::SameLayout(const TFieldDefs& loaded, const TFieldDefs& own) {
  if (loaded.Count() != own.Count()) return false;
  for (int i = 0; i < loaded.Count(); ++i) {
    const TFieldDef* a = loaded.Items(i);
    const TFieldDef* b = own.Items(i);
    const TFieldType ta = a->DataType == ftBCD ? ftFloat : a->DataType;
    const TFieldType tb = b->DataType == ftBCD ? ftFloat : b->DataType;
    if (ta != tb || SlotWidth(ta, a->Size) != SlotWidth(tb, b->Size)) return false;
  }
  return true;
}

bool TQxCustomMemDataSet::HoldsLayoutOf(const QByteArray& fullStream, const TFieldDefs& own) {
  TMemoryStream s;
  s.LoadFromBytes(fullStream);
  TFieldDefs defs(this);
  try {
    ReadFieldDefs(s, defs);
  } catch (const EQxNotValidException&) {
    return false;
  } catch (const EReadError&) {
    return false;
  }
  return SameLayout(defs, own);
}

void TQxCustomMemDataSet::LoadFieldDefs(TStream& stream) {
  EmptyDataSet();
  TFieldDefs defs(this);
  ReadFieldDefs(stream, defs);
  if (Active()) {
    // An open dataset keeps its fields and layout: definitions that lay records out otherwise
    // are refused rather than read into the wrong slots.
    if (!SameLayout(defs, FieldDefs())) RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
    FieldDefs().Assign(defs);
    for (int i = 0; i < FieldDefs().Count(); ++i)
      if (FieldDefs().Items(i)->DataType == ftBCD) FieldDefs().Items(i)->DataType = ftFloat;
    return;
  }
  CheckDefinitionNames(defs);
  FieldDefs().Assign(defs);
  // Only the data fields follow the loaded definitions; calculated, lookup and aggregate
  // fields stay, so nothing that refers to them is left pointing at freed fields.
  DestroyFields();
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

// The file is read where it lies: records go from it straight into the record store, never
// through a copy of the whole file.
void TQxCustomMemDataSet::LoadFromFile(const QString& fileName) {
  const QString name = fileName.isEmpty() ? FileName : fileName;
  if (name.isEmpty()) RaiseFileError(QxText(QxMsg::NoFileName), this);
  TFileStream s(name);
  LoadFromStream(s);
}

void TQxCustomMemDataSet::LoadDataFromFile(const QString& fileName) {
  const QString name = fileName.isEmpty() ? FileName : fileName;
  if (name.isEmpty()) RaiseFileError(QxText(QxMsg::NoFileName), this);
  TFileStream s(name);
  LoadDataFromStream(s);
  if (Active()) First();
}
