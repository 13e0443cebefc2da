// The two containers a memory dataset owns: TQxDataList, the record store (fixed-size record
// images in one memory stream plus one item per record with its offset and bookmark id), and
// TQorixBlobList, the values of blob-like fields keyed by (blob id, field number).
#pragma once

#include <QByteArray>
#include <QHash>
#include <cstdint>
#include <memory>
#include <vector>

#include "dataset/MemoryStream.h"

// One stored record: where its image lies and its identity.
struct TQxDataListItem {
  int64_t Offset = 0;       // byte position of the image in the record stream
  int32_t BookmarkId = -1;  // identity inside the dataset; -1 until one is given
};

// The record store. Indexes are 0-based; list order is the dataset's record order.
class TQxDataList {
 public:
  // Bytes of one record image; set by the dataset when it lays out its records.
  int32_t RecordSize = 0;
  // Appends an item whose image is a fresh zero-filled block at the stream's end.
  void AddRecord(int32_t id);
  // Inserts an item at index (appends when index is the count); its image goes to the stream's end.
  void InsertItem(int index, int32_t id);
  // Writes RecordSize bytes of buffer over the image at index (a negative index counts as 0).
  void WriteRecord(const char* buffer, int index);
  // Reads the image at index into buffer (a negative index counts as 0).
  void ReadRecord(char* buffer, int index) const;
  // Up to 4 bytes at pos inside the image at index, as a little-endian int32.
  int32_t ReadRecordPart(int index, int pos, int length) const;
  // The bookmark id at index, 0 past the end.
  int32_t BookmarkAt(int index) const;
  // Position of the first item with that id, -1 when none.
  int IndexOfBookmark(int32_t id) const;
  // Ids 1..n in list order.
  void RenumberBookmarks();
  int Count() const { return int(items_.size()); }
  const TQxDataListItem& Item(int index) const { return items_.at(CheckIndex(index)); }
  void SetBookmarkId(int index, int32_t id) { items_.at(CheckIndex(index)).BookmarkId = id; }
  // Removes the item at index; its bytes stay in the stream until Clear.
  void Delete(int index);
  // Empties the items and the stream.
  void Clear();
  // The stream of record images (dead and out-of-order bytes included).
  TMemoryStream& Stream() { return stream_; }
  const TMemoryStream& Stream() const { return stream_; }
  // Preallocates room for count more records.
  void Reserve(int count);
  // Appends Count items with the ids from FirstId up, whose images are Count blocks at the
  // stream's end left for the caller to fill (a stream reader copies them in next); answers
  // where the first block starts.
  char* AppendRecords(int count, int32_t firstId);

 private:
  int CheckIndex(int index) const;
  std::vector<TQxDataListItem> items_;
  TMemoryStream stream_;
};

// One blob value.
struct TQorixBlobListItem {
  int32_t BlobId = -1;    // id written into the record's field slot
  int32_t FieldNo = -1;   // 1-based field number the value belongs to
  bool Modified = false;  // written since the flags were last reset
  TMemoryStream Data;     // the value's bytes
  QByteArray IODesc;      // the server datasets' text/image descriptor copy; empty until set
};

// The blob values of a dataset, in the order they were added.
class TQorixBlobList {
 public:
  // Adds a value under a fresh id (loaded from source's start when given); answers the id.
  int32_t AddBlob(TStream* source, int32_t fieldNo);
  // Raises the counter and answers the next id that no item uses.
  int32_t NextBlobId();
  // Adds a value under exactly that id (the stream reader); the counter is untouched.
  void AddLoadedBlob(int32_t blobId, int32_t fieldNo, TStream& source);
  // The value stream of (id, field), nullptr when absent.
  TMemoryStream* ValueStream(int32_t blobId, int32_t fieldNo) const;
  // Replaces an existing value by source's whole content and marks it modified.
  void WriteBlob(TStream& source, int32_t blobId, int32_t fieldNo);
  void SetModified(int32_t blobId, int32_t fieldNo, bool value);
  bool GetModified(int32_t blobId, int32_t fieldNo) const;
  void SetAllModified(bool value);
  // Removes the value of (id, field); nothing when absent.
  void DeleteBlob(int32_t blobId, int32_t fieldNo);
  // Position of (id, field) in the list, -1 when absent.
  int IndexOfBlob(int32_t blobId, int32_t fieldNo) const;
  // Copies a server descriptor into the item of (id, field) when it exists.
  void SetIODesc(int32_t blobId, int32_t fieldNo, const QByteArray& descriptor);
  // Counter := 0.
  void ResetNextId() { nextId_ = 0; }
  int32_t NextIdCounter() const { return nextId_; }
  int Count() const { return int(items_.size()); }
  const TQorixBlobListItem& Item(int index) const { return *items_.at(index); }
  void Clear();
  // The blob-list stream: per item size, FieldNo, BlobId, bytes; then the counter.
  void SaveToStream(TMemoryStream& target) const;
  // Reads a blob-list stream that must end exactly with the counter; raises EReadError otherwise.
  // False (and the list emptied) as soon as it holds more than MaxItems values (-1: no bound).
  bool LoadFromStream(TStream& source, int64_t maxItems = -1);

 private:
  static uint64_t Key(int32_t blobId, int32_t fieldNo) {
    return (uint64_t(uint32_t(blobId)) << 32) | uint32_t(fieldNo);
  }
  TQorixBlobListItem* Append(int32_t blobId, int32_t fieldNo);
  std::vector<std::unique_ptr<TQorixBlobListItem>> items_;
  QHash<uint64_t, TQorixBlobListItem*> byKey_;
  QHash<int32_t, int> idUses_;
  int32_t nextId_ = 0;
};
