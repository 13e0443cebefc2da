// Searching in a memory dataset (Locate, LocateOrStay, Lookup, FindRecord) and its blob
// access: TQorixBlobStream, the blob id of a field and the undo of blob writes on cancel.
#include <QtEndian>
#include <cstring>

#include "dataset/QxCustomMemDataSet.h"
#include "dataset/QxDataSetErrors.h"

namespace {
QString RightTrimmed(const QString& s) {
  int n = s.size();
  while (n > 0 && s.at(n - 1).isSpace()) --n;
  return s.left(n);
}

bool TextMatches(const QString& fieldText, const QString& key, TLocateOptions options) {
  const QString field = RightTrimmed(fieldText);
  const QString k = RightTrimmed(key);
  const bool ci = options.testFlag(TLocateOption::loCaseInsensitive);
  if (options.testFlag(TLocateOption::loPartialKey))
    return field.startsWith(k, ci ? Qt::CaseInsensitive : Qt::CaseSensitive);
  return field.compare(k, ci ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
}

bool ValueMatches(const QVariant& value, const QVariant& key) {
  if (value.isNull() || key.isNull()) return value.isNull() && key.isNull();
  return QVariant::compare(value, key) == QPartialOrdering::Equivalent;
}

// Restores a flag on every way out of a scope.
struct FlagGuard {
  FlagGuard(bool& flag, bool value) : flag_(flag), old_(flag) { flag_ = value; }
  ~FlagGuard() { flag_ = old_; }
  bool& flag_;
  bool old_;
};

// Enables controls again on every way out of a scope.
struct ControlsGuard {
  explicit ControlsGuard(TDataSet* ds) : ds_(ds) { ds_->DisableControls(); }
  ~ControlsGuard() { ds_->EnableControls(); }
  TDataSet* ds_;
};
}  // namespace

bool TQxCustomMemDataSet::LocateRecord(const QString& keyFields, const QVariant& keyValues,
                                       TLocateOptions options, bool syncCursor) {
  CheckBrowseMode();
  TBookmark target = Bookmark();
  const QList<TField*> fields = GetFieldList(keyFields);
  QVariantList keys;
  if (fields.size() == 1)
    keys << (keyValues.typeId() == QMetaType::QVariantList && !keyValues.toList().isEmpty()
                 ? keyValues.toList().first()
                 : keyValues);
  else
    keys = keyValues.toList();
  bool found = false;
  {
    ControlsGuard controls(this);
    if (syncCursor)
      First();
    else
      Next();
    while (!Eof()) {
      bool match = true;
      for (int i = 0; i < fields.size() && match; ++i) {
        TField* f = fields[i];
        const QVariant key = keys.value(i);
        const TFieldType t = f->DataType();
        if (t == ftString || t == ftFixedChar || t == ftGuid || t == ftWideString)
          match = !key.isNull() ? !f->IsNull() && TextMatches(f->AsString(), key.toString(), options)
                                : f->IsNull();
        else
          match = ValueMatches(f->Value(), key);
      }
      if (match) {
        target = Bookmark();
        found = true;
        break;
      }
      Next();
    }
    if (!target.isEmpty())
      GotoBookmark(target);
    else
      First();
  }
  return found;
}

bool TQxCustomMemDataSet::Locate(const QString& keyFields, const QVariant& keyValues,
                                 TLocateOptions options) {
  CheckActive();
  DoBeforeScroll();
  bool found = false;
  {
    FlagGuard off(scrollEvents_, false);
    found = LocateRecord(keyFields, keyValues, options, true);
  }
  if (found) DoAfterScroll();
  return found;
}

bool TQxCustomMemDataSet::LocateOrStay(const QString& keyFields, const QVariant& keyValues,
                                       TLocateOptions options) {
  CheckActive();
  const TBookmark start = Bookmark();
  ControlsGuard controls(this);
  FlagGuard off(scrollEvents_, false);
  const bool found = LocateRecord(keyFields, keyValues, options, false);
  if (!found && !start.isEmpty()) GotoBookmark(start);
  return found;
}

QVariant TQxCustomMemDataSet::Lookup(const QString& keyFields, const QVariant& keyValues,
                                     const QString& resultFields) {
  CheckActive();
  ControlsGuard controls(this);
  FlagGuard off(scrollEvents_, false);
  const TBookmark start = Bookmark();
  QVariant result;
  if (LocateRecord(keyFields, keyValues, {}, true)) {
    GetCalcFields(ActiveBuffer());
    result = FieldValues(resultFields);
  }
  if (!start.isEmpty()) GotoBookmark(start);
  return result;
}

bool TQxCustomMemDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  TBookmark target = Bookmark();
  bool found = false;
  {
    ControlsGuard controls(this);
    if (restart) {
      if (goForward)
        First();
      else
        Last();
    } else if (goForward) {
      Next();
    } else {
      Prior();
    }
    // GetRecord already skips what the filter refuses: the record reached is the one found.
    // A step that hits the end leaves the dataset on its last (or first) record, found nothing.
    found = restart ? !IsEmpty() : (goForward ? !Eof() : !Bof());
    if (found) target = Bookmark();
    if (!target.isEmpty()) GotoBookmark(target);
  }
  return found;
}

// --- blobs ---------------------------------------------------------------------------------

int32_t TQxCustomMemDataSet::GetBlobId(const TField* field) {
  TRecordBuffer rec = ActiveRecordBuffer();
  const int off = field ? FieldOffset(field->FieldNo()) : -1;
  if (!rec || off < 0) return -1;
  return qFromLittleEndian<int32_t>(reinterpret_cast<const uchar*>(rec + off));
}

void TQxCustomMemDataSet::RememberBlob(int32_t blobId, int32_t fieldNo) {
  for (const BlobUndo& u : blobUndo_)
    if (u.BlobId == blobId && u.FieldNo == fieldNo) return;
  TMemoryStream* s = blobs_.ValueStream(blobId, fieldNo);
  blobUndo_.push_back(
      {blobId, fieldNo, s != nullptr, s ? s->Bytes() : QByteArray(), blobs_.GetModified(blobId, fieldNo)});
}

void TQxCustomMemDataSet::UndoBlobWrites() {
  for (auto it = blobUndo_.rbegin(); it != blobUndo_.rend(); ++it) {
    if (!it->Existed) {
      blobs_.DeleteBlob(it->BlobId, it->FieldNo);
    } else if (TMemoryStream* s = blobs_.ValueStream(it->BlobId, it->FieldNo)) {
      s->LoadFromBytes(it->OldBytes);
      blobs_.SetModified(it->BlobId, it->FieldNo, it->OldModified);
    }
  }
  blobUndo_.clear();
}

void TQxCustomMemDataSet::StoreBlobValue(TField* field, TMemoryStream& value, bool) {
  TRecordBuffer rec = ActiveRecordBuffer();
  const int n = field->FieldNo();
  const int off = FieldOffset(n);
  if (!rec || off < 0) return;
  const int nullAt = off + slots_[n - 1].Width;
  const int32_t id = GetBlobId(field);
  if (id >= 1 && blobs_.ValueStream(id, n)) {
    RememberBlob(id, n);
    blobs_.WriteBlob(value, id, n);
  } else if (value.Size() > 0) {
    const int32_t newId = blobs_.AddBlob(&value, n);
    blobs_.SetModified(newId, n, true);
    RememberBlob(newId, n);
    // RememberBlob saw the value already there; a cancel must drop it, not restore it.
    blobUndo_.back().Existed = false;
    qToLittleEndian<int32_t>(newId, reinterpret_cast<uchar*>(rec + off));
  }
  rec[nullAt] = value.Size() == 0 ? 1 : 0;
  DataEvent(TDataEvent::deFieldChange, reinterpret_cast<intptr_t>(field));
}

TMemoryStream* TQxCustomMemDataSet::BlobValueStream(TField* field) {
  const int n = field->FieldNo();
  const int32_t id = GetBlobId(field);
  if (TMemoryStream* s = id >= 0 ? blobs_.ValueStream(id, n) : nullptr) return s;
  if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) return nullptr;
  TRecordBuffer rec = ActiveRecordBuffer();
  const int off = FieldOffset(n);
  if (!rec || off < 0) return nullptr;
  const int32_t newId = blobs_.AddBlob(nullptr, n);
  RememberBlob(newId, n);
  blobUndo_.back().Existed = false;
  qToLittleEndian<int32_t>(newId, reinterpret_cast<uchar*>(rec + off));
  return blobs_.ValueStream(newId, n);
}

std::unique_ptr<TStream> TQxCustomMemDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  if (!field || !field->IsBlob())
    DatabaseError(DbText::NotBlobField.arg(field ? field->DisplayName() : QString()), this);
  // Writing outside edit and insert would change a stored record behind the change log.
  if (mode != TBlobStreamMode::bmRead && State() != TDataSetState::dsEdit &&
      State() != TDataSetState::dsInsert)
    RaiseNoModeError(QxText(QxMsg::NotEditOrInsertMode), this);
  return std::make_unique<TQorixBlobStream>(this, field, mode);
}

TQorixBlobStream::TQorixBlobStream(TQxCustomMemDataSet* dataset, TField* field, TBlobStreamMode mode)
    : dataset_(dataset), field_(field), mode_(mode) {
  if (mode == TBlobStreamMode::bmWrite) {
    modified_ = true;
    return;
  }
  const int32_t id = dataset->GetBlobId(field);
  const bool hasValue = field->GetData(nullptr);
  if (TMemoryStream* s = hasValue && id >= 0 ? dataset->blobs_.ValueStream(id, field->FieldNo()) : nullptr)
    LoadFromBytes(s->Bytes());
  SetPosition(0);
}

int64_t TQorixBlobStream::Write(const void* buffer, int64_t count) {
  const int64_t n = TMemoryStream::Write(buffer, count);
  modified_ = true;
  return n;
}

TQorixBlobStream::~TQorixBlobStream() {
  // The value reaches the record once, when the writer is done with the stream.
  if (!modified_ || !dataset_ || mode_ == TBlobStreamMode::bmRead) return;
  const TDataSetState st = dataset_->State();
  if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert) return;
  try {
    dataset_->StoreBlobValue(field_, *this, true);
  } catch (...) {
    // A destructor must not throw; the value is simply not stored.
  }
}
