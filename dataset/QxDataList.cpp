// The record store and the blob list, with the blob-list stream format.
#include "dataset/QxDataList.h"

#include <QtEndian>
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "dataset/QxDataSetErrors.h"

int TQxDataList::CheckIndex(int index) const {
  if (index < 0 || index >= int(items_.size()))
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
  return index;
}

void TQxDataList::AddRecord(int32_t id) {
  InsertItem(int(items_.size()), id);
}

void TQxDataList::InsertItem(int index, int32_t id) {
  // Each item owns its own block from the moment it exists, so two items made before either is
  // written never share bytes.
  TQxDataListItem item;
  item.Offset = stream_.Size();
  item.BookmarkId = id;
  stream_.SetSize(stream_.Size() + RecordSize);
  index = std::clamp(index, 0, int(items_.size()));
  items_.insert(items_.begin() + index, item);
}

void TQxDataList::WriteRecord(const char* buffer, int index) {
  const TQxDataListItem& item = items_.at(CheckIndex(std::max(0, index)));
  stream_.SetPosition(item.Offset);
  stream_.WriteBuffer(buffer, RecordSize);
}

void TQxDataList::ReadRecord(char* buffer, int index) const {
  const TQxDataListItem& item = items_.at(CheckIndex(std::max(0, index)));
  if (item.Offset + RecordSize > stream_.Size()) throw EReadError(DbText::ReadError);
  std::memcpy(buffer, stream_.Memory() + item.Offset, RecordSize);
}

int32_t TQxDataList::ReadRecordPart(int index, int pos, int length) const {
  const TQxDataListItem& item = items_.at(CheckIndex(std::max(0, index)));
  length = std::clamp(length, 0, 4);
  if (pos < 0 || item.Offset + pos + length > stream_.Size()) throw EReadError(DbText::ReadError);
  uchar b[4] = {0, 0, 0, 0};
  std::memcpy(b, stream_.Memory() + item.Offset + pos, length);
  return qFromLittleEndian<int32_t>(b);
}

int32_t TQxDataList::BookmarkAt(int index) const {
  if (index < 0 || index >= int(items_.size())) return 0;
  return items_[index].BookmarkId;
}

int TQxDataList::IndexOfBookmark(int32_t id) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].BookmarkId == id) return int(i);
  return -1;
}

void TQxDataList::RenumberBookmarks() {
  for (size_t i = 0; i < items_.size(); ++i) items_[i].BookmarkId = int32_t(i + 1);
}

void TQxDataList::Delete(int index) {
  items_.erase(items_.begin() + CheckIndex(index));
}

void TQxDataList::Clear() {
  items_.clear();
  stream_.Clear();
}

void TQxDataList::Reserve(int count) {
  items_.reserve(items_.size() + std::max(0, count));
}

char* TQxDataList::AppendRecords(int count, int32_t firstId) {
  const int64_t start = stream_.Size();
  count = std::max(0, count);
  items_.reserve(items_.size() + size_t(count));
  for (int i = 0; i < count; ++i) items_.push_back({start + int64_t(i) * RecordSize, firstId + i});
  return stream_.Extend(int64_t(count) * RecordSize);
}

// --- blob list -----------------------------------------------------------------------------

TQorixBlobListItem* TQorixBlobList::Append(int32_t blobId, int32_t fieldNo) {
  auto item = std::make_unique<TQorixBlobListItem>();
  item->BlobId = blobId;
  item->FieldNo = fieldNo;
  TQorixBlobListItem* raw = item.get();
  items_.push_back(std::move(item));
  // A duplicate pair (only a corrupt stream makes one) keeps the first for lookups.
  if (!byKey_.contains(Key(blobId, fieldNo))) byKey_.insert(Key(blobId, fieldNo), raw);
  ++idUses_[blobId];
  return raw;
}

int32_t TQorixBlobList::NextBlobId() {
  // A counter loaded from a stream may stand anywhere, its end included: past the largest
  // id the count starts again at 1 instead of overflowing.
  const auto after = [](int32_t id) { return id >= INT32_MAX || id < 0 ? 1 : id + 1; };
  nextId_ = after(nextId_);
  int32_t candidate = nextId_;
  // Every item is checked, not only the last one: ids loaded from a stream or given out while
  // the counter stayed behind may lie anywhere in the list.
  while (idUses_.value(candidate, 0) > 0) candidate = after(candidate);
  return candidate;
}

int32_t TQorixBlobList::AddBlob(TStream* source, int32_t fieldNo) {
  const int32_t id = NextBlobId();
  TQorixBlobListItem* item = Append(id, fieldNo);
  if (source) item->Data.LoadFromStream(*source);
  return id;
}

void TQorixBlobList::AddLoadedBlob(int32_t blobId, int32_t fieldNo, TStream& source) {
  Append(blobId, fieldNo)->Data.LoadFromStream(source);
}

TMemoryStream* TQorixBlobList::ValueStream(int32_t blobId, int32_t fieldNo) const {
  TQorixBlobListItem* item = byKey_.value(Key(blobId, fieldNo), nullptr);
  return item ? &item->Data : nullptr;
}

void TQorixBlobList::WriteBlob(TStream& source, int32_t blobId, int32_t fieldNo) {
  TQorixBlobListItem* item = byKey_.value(Key(blobId, fieldNo), nullptr);
  if (!item) return;
  if (&source != &item->Data) item->Data.LoadFromStream(source);
  item->Modified = true;
}

void TQorixBlobList::SetModified(int32_t blobId, int32_t fieldNo, bool value) {
  if (TQorixBlobListItem* item = byKey_.value(Key(blobId, fieldNo), nullptr)) item->Modified = value;
}

bool TQorixBlobList::GetModified(int32_t blobId, int32_t fieldNo) const {
  TQorixBlobListItem* item = byKey_.value(Key(blobId, fieldNo), nullptr);
  return item && item->Modified;
}

void TQorixBlobList::SetAllModified(bool value) {
  for (auto& item : items_) item->Modified = value;
}

void TQorixBlobList::DeleteBlob(int32_t blobId, int32_t fieldNo) {
  const int i = IndexOfBlob(blobId, fieldNo);
  if (i < 0) return;
  byKey_.remove(Key(blobId, fieldNo));
  if (--idUses_[blobId] <= 0) idUses_.remove(blobId);
  items_.erase(items_.begin() + i);
  // Another item with the same pair (corrupt input only) takes over the lookup.
  for (auto& item : items_)
    if (item->BlobId == blobId && item->FieldNo == fieldNo) {
      byKey_.insert(Key(blobId, fieldNo), item.get());
      break;
    }
}

int TQorixBlobList::IndexOfBlob(int32_t blobId, int32_t fieldNo) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->BlobId == blobId && items_[i]->FieldNo == fieldNo) return int(i);
  return -1;
}

void TQorixBlobList::SetIODesc(int32_t blobId, int32_t fieldNo, const QByteArray& descriptor) {
  if (TQorixBlobListItem* item = byKey_.value(Key(blobId, fieldNo), nullptr)) item->IODesc = descriptor;
}

void TQorixBlobList::Clear() {
  items_.clear();
  byKey_.clear();
  idUses_.clear();
}

void TQorixBlobList::SaveToStream(TMemoryStream& target) const {
  target.Clear();
  for (const auto& item : items_) {
    target.WriteInt32(int32_t(item->Data.Size()));
    target.WriteInt32(item->FieldNo);
    target.WriteInt32(item->BlobId);
    target.WriteBuffer(item->Data.Memory(), item->Data.Size());
  }
  target.WriteInt32(nextId_);
  target.SetPosition(0);
}

bool TQorixBlobList::LoadFromStream(TStream& source, int64_t maxItems) {
  Clear();
  source.SetPosition(0);
  const int64_t end = source.Size() - 4;
  if (end < 0) throw EReadError(DbText::ReadError);
  TMemoryStream scratch;
  while (source.Position() < end) {
    const int32_t size = source.ReadInt32();
    const int32_t fieldNo = source.ReadInt32();
    const int32_t blobId = source.ReadInt32();
    // A negative size or one that runs past the counter is a corrupt stream, never a value.
    if (size < 0 || source.Position() + size > end) throw EReadError(DbText::ReadError);
    // Past the bound nothing more is allocated: the list is refused as it stands.
    if (maxItems >= 0 && Count() >= maxItems) {
      Clear();
      return false;
    }
    scratch.Clear();
    if (size > 0) scratch.CopyFrom(source, size);
    AddLoadedBlob(blobId, fieldNo, scratch);
  }
  if (source.Position() != end) throw EReadError(DbText::ReadError);
  nextId_ = source.ReadInt32();
  return true;
}
