// The record store and the blob list: item order versus byte order, bookmark ids, the
// blob-list stream and the blob-id counter.
#include <gtest/gtest.h>

#include <QtEndian>

#include "dataset/QxDataList.h"
#include "dataset/QxDataSetErrors.h"

namespace {
QByteArray Image(char fill, int size) {
  return QByteArray(size, fill);
}

QByteArray ReadImage(const TQxDataList& list, int index) {
  QByteArray b(list.RecordSize, '\0');
  list.ReadRecord(b.data(), index);
  return b;
}
}  // namespace

TEST(RecordStore, InsertAtFrontKeepsBytesAtTheEndButReadsFirst) {
  TQxDataList list;
  list.RecordSize = 4;
  list.AddRecord(1);
  list.WriteRecord(Image('a', 4).constData(), 0);
  list.AddRecord(2);
  list.WriteRecord(Image('b', 4).constData(), 1);
  list.InsertItem(0, 3);
  list.WriteRecord(Image('c', 4).constData(), 0);
  EXPECT_EQ(ReadImage(list, 0), Image('c', 4));
  EXPECT_EQ(ReadImage(list, 1), Image('a', 4));
  EXPECT_EQ(list.Item(0).Offset, 8) << "the inserted record's bytes lie after the others";
  EXPECT_EQ(list.BookmarkAt(0), 3);
}

TEST(RecordStore, DeleteKeepsStreamLengthAndAppendStillGoesToTheEnd) {
  TQxDataList list;
  list.RecordSize = 2;
  for (int i = 0; i < 3; ++i) list.AddRecord(i + 1);
  list.Delete(1);
  EXPECT_EQ(list.Stream().Size(), 6);
  list.AddRecord(9);
  EXPECT_EQ(list.Item(2).Offset, 6);
  EXPECT_EQ(list.IndexOfBookmark(2), -1);
  EXPECT_EQ(list.IndexOfBookmark(9), 2);
}

TEST(RecordStore, TwoItemsMadeBeforeAnyWriteNeverShareBytes) {
  TQxDataList list;
  list.RecordSize = 4;
  list.AddRecord(-1);
  list.AddRecord(-1);
  list.WriteRecord(Image('x', 4).constData(), 1);
  EXPECT_EQ(ReadImage(list, 0), Image('\0', 4));
}

TEST(RecordStore, LookupsOnEmptyAndPastTheEnd) {
  TQxDataList list;
  list.RecordSize = 4;
  EXPECT_EQ(list.IndexOfBookmark(1), -1);
  EXPECT_EQ(list.BookmarkAt(5), 0);
  EXPECT_THROW(list.WriteRecord("abcd", 0), EListError);
}

TEST(RecordStore, RenumberAndReadPart) {
  TQxDataList list;
  list.RecordSize = 8;
  list.AddRecord(7);
  list.AddRecord(4);
  uchar img[8] = {0, 0, 0, 0, 0x2A, 0, 0, 0};
  list.WriteRecord(reinterpret_cast<char*>(img), 1);
  list.RenumberBookmarks();
  EXPECT_EQ(list.BookmarkAt(0), 1);
  EXPECT_EQ(list.BookmarkAt(1), 2);
  EXPECT_EQ(list.ReadRecordPart(1, 4, 4), 42);
}

TEST(BlobList, EmptyListStreamIsTheCounterAlone) {
  TQorixBlobList blobs;
  TMemoryStream s;
  blobs.SaveToStream(s);
  EXPECT_EQ(s.Bytes(), QByteArray(4, '\0'));
}

TEST(BlobList, StreamRoundTripKeepsIdsFieldsEmptyValuesAndCounter) {
  TQorixBlobList blobs;
  TMemoryStream v;
  v.LoadFromBytes("hello");
  const int32_t a = blobs.AddBlob(&v, 3);
  const int32_t b = blobs.AddBlob(nullptr, 4);
  TMemoryStream s;
  blobs.SaveToStream(s);
  // size, FieldNo, BlobId, bytes per item; then the counter.
  EXPECT_EQ(s.Size(), (12 + 5) + 12 + 4);
  TQorixBlobList back;
  back.LoadFromStream(s);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.ValueStream(a, 3)->Bytes(), QByteArray("hello"));
  EXPECT_EQ(back.ValueStream(b, 4)->Size(), 0);
  EXPECT_EQ(back.NextIdCounter(), 2);
  EXPECT_FALSE(back.GetModified(a, 3));
}

TEST(BlobList, NextIdSkipsEveryIdInUseAndLeavesTheCounterBehind) {
  TQorixBlobList blobs;
  TMemoryStream empty;
  blobs.AddLoadedBlob(1, 1, empty);
  EXPECT_EQ(blobs.NextBlobId(), 2);
  EXPECT_EQ(blobs.NextIdCounter(), 1);
  // An id in use that is not the last item's is skipped as well.
  TQorixBlobList mixed;
  mixed.AddLoadedBlob(2, 1, empty);
  mixed.AddLoadedBlob(7, 1, empty);
  mixed.NextBlobId();  // 1
  EXPECT_EQ(mixed.NextBlobId(), 3) << "2 is held by the first item";
}

TEST(BlobList, CorruptStreamsRaiseInsteadOfLooping) {
  struct Case {
    const char* name;
    QByteArray bytes;
  };
  auto le = [](int32_t v) {
    QByteArray b(4, '\0');
    qToLittleEndian<int32_t>(v, reinterpret_cast<uchar*>(b.data()));
    return b;
  };
  const Case cases[] = {
      {"shorter than the counter", QByteArray(3, '\0')},
      {"negative size", le(-5) + le(1) + le(1) + le(0)},
      {"size past the end", le(100) + le(1) + le(1) + QByteArray("ab") + le(0)},
      {"item header cut short", le(0) + le(1) + le(0)},
  };
  for (const Case& c : cases) {
    TQorixBlobList blobs;
    TMemoryStream s;
    s.LoadFromBytes(c.bytes);
    EXPECT_THROW(blobs.LoadFromStream(s), EReadError) << c.name;
  }
}

TEST(BlobList, WriteModifiedAndDelete) {
  TQorixBlobList blobs;
  const int32_t id = blobs.AddBlob(nullptr, 2);
  TMemoryStream v;
  v.LoadFromBytes("xyz");
  blobs.WriteBlob(v, id, 2);
  EXPECT_TRUE(blobs.GetModified(id, 2));
  EXPECT_EQ(blobs.ValueStream(id, 2)->Bytes(), QByteArray("xyz"));
  blobs.WriteBlob(v, id, 3);  // no such value: nothing happens
  EXPECT_EQ(blobs.IndexOfBlob(id, 3), -1);
  blobs.DeleteBlob(id, 2);
  EXPECT_EQ(blobs.ValueStream(id, 2), nullptr);
  EXPECT_EQ(blobs.Count(), 0);
}
