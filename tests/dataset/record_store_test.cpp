// The record store and the blob list: item order versus byte order, bookmark ids, the
// blob-list stream and the blob-id counter; the memory stream under them.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>

#include "DataSetFixture.h"
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

// A memory stream grows without filling what is written next, but every byte it adds that is
// not written reads as zero: a grown size, a gap left by a seek past the end, and the room of
// a truncated stream grown again (its old bytes must not come back).
TEST(MemoryStream, BytesItAddsAreZeroUnlessWritten) {
  const struct {
    const char* name;
    std::function<void(TMemoryStream&)> steps;
    QByteArray expected;
  } cases[] = {
      {"SetSize past the end", [](TMemoryStream& s) { s.SetSize(4); }, QByteArray(4, '\0')},
      {"a write after a seek past the end",
       [](TMemoryStream& s) {
         s.Seek(3, TStream::soBeginning);
         s.WriteBuffer("ab", 2);
       },
       QByteArray("\0\0\0ab", 5)},
      {"truncated, then grown again",
       [](TMemoryStream& s) {
         s.WriteBuffer("abcdef", 6);
         s.SetSize(2);
         s.SetSize(5);
       },
       QByteArray("ab\0\0\0", 5)},
      {"truncated, then written past a gap",
       [](TMemoryStream& s) {
         s.WriteBuffer("abcdef", 6);
         s.SetSize(1);
         s.Seek(4, TStream::soBeginning);
         s.WriteBuffer("z", 1);
       },
       QByteArray("a\0\0\0z", 5)},
      {"a reserve changes nothing",
       [](TMemoryStream& s) {
         s.WriteBuffer("ab", 2);
         s.Reserve(1 << 20);
         s.WriteBuffer("c", 1);
       },
       QByteArray("abc")},
  };
  for (const auto& c : cases) {
    TMemoryStream s;
    c.steps(s);
    EXPECT_EQ(s.Bytes(), c.expected) << c.name;
  }
  // Many small writes through several growths keep every byte.
  TMemoryStream s;
  QByteArray expected;
  for (int i = 0; i < 100000; ++i) {
    const char b[3] = {char(i), char(i >> 8), char(i >> 16)};
    s.WriteBuffer(b, 3);
    expected.append(b, 3);
  }
  EXPECT_EQ(s.Bytes(), expected);
}

// Records loaded from a stream land in the store's own blocks: appends, inserts and edits after
// the load keep the loaded ones whole, and a save writes them back in the dataset's order.
TEST(RecordStore, LoadedRecordsStayWholeThroughLaterEdits) {
  TQxCustomMemDataSet source;
  DefinePeople(source);
  source.Open();
  for (int i = 1; i <= 1000; ++i) source.AppendRecord({i, QStringLiteral("p%1").arg(i)});
  TMemoryStream saved;
  source.SaveToStream(saved);
  QTemporaryDir dir;
  const QString file = dir.filePath("people.dat");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(saved.Bytes());
  }
  TQxCustomMemDataSet back;
  back.LoadFromFile(file);
  back.Open();
  back.Last();
  back.AppendRecord({1001, "tail"});
  back.First();
  back.InsertRecord({0, "head"});
  back.Locate("id", 500, {});
  back.Edit();
  back.FieldByName("name")->SetAsString("edited");
  back.Post();
  TMemoryStream again;
  back.SaveToStream(again);
  TQxCustomMemDataSet check;
  check.LoadFromStream(again);
  check.Open();
  const QStringList names = Column(check, "name");
  ASSERT_EQ(names.size(), 1002);
  EXPECT_EQ(names.front(), "head");
  EXPECT_EQ(names[1], "p1");
  EXPECT_EQ(names[500], "edited");
  EXPECT_EQ(names[1000], "p1000");
  EXPECT_EQ(names.back(), "tail");
}
