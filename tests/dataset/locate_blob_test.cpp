// Searching a memory dataset (Locate, Lookup, the find operations) and its blob streams:
// what a new record stores, what a cancel puts back, and writes refused outside edit.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

TEST(Locate, TextKeysFollowTheOptions) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "xyz"}, {2, "ABC  "}, {3, "abc"}});
  struct Case {
    const char* name;
    QString key;
    TLocateOptions options;
    int expectedId;  // 0: not found
  };
  const std::vector<Case> cases = {
      {"exact", "abc", {}, 3},
      {"exact ignores trailing blanks of the field", "ABC", {}, 2},
      {"case-insensitive", "abc", TLocateOption::loCaseInsensitive, 2},
      {"partial key", "ab", TLocateOption::loPartialKey, 3},
      {"partial key keeps case", "AB", TLocateOption::loPartialKey, 2},
      {"partial key of another case", "aB", TLocateOption::loPartialKey, 0},
      {"both options", "aB", TLocateOption::loPartialKey | TLocateOption::loCaseInsensitive, 2},
      {"nothing matches", "q", TLocateOption::loPartialKey, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ds.First();
    const bool found = ds.Locate("name", c.key, c.options);
    EXPECT_EQ(found, c.expectedId != 0);
    EXPECT_EQ(ds.FieldByName("id")->AsInteger(), c.expectedId ? c.expectedId : 1);
  }
}

TEST(Locate, SeveralKeysAndAMissThatStaysPut) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}, {2, "c"}, {3, "c"}});
  ds.First();
  ds.Next();
  int afterScrolls = 0;
  ds.AfterScroll = [&](TDataSet&) { ++afterScrolls; };
  EXPECT_TRUE(ds.Locate("id;name", QVariantList({2, "c"}), {}));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(afterScrolls, 1);
  EXPECT_FALSE(ds.Locate("id;name", QVariantList({3, "a"}), {}));
  EXPECT_EQ(ds.RecNo(), 3) << "a miss leaves the record where it was";
  EXPECT_EQ(afterScrolls, 1) << "and fires no after-scroll";
  EXPECT_TRUE(ds.LocateOrStay("name", "c", {}));
  EXPECT_EQ(ds.RecNo(), 4) << "LocateOrStay searches forward from the next record";
  EXPECT_FALSE(ds.LocateOrStay("name", "a", {}));
  EXPECT_EQ(ds.RecNo(), 4);
}

TEST(Lookup, AnswersValuesWithoutMoving) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}});
  ds.First();
  ds.Next();
  EXPECT_EQ(ds.Lookup("id", 3, "name"), QVariant("c"));
  EXPECT_EQ(ds.Lookup("name", "a", "id;name"), QVariant(QVariantList({1, "a"})));
  EXPECT_TRUE(ds.Lookup("id", 9, "name").isNull());
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 2);
}

TEST(Find, StepsThroughWhatTheFilterAccepts) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}});
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) { accept = d.FieldByName("id")->AsInteger() != 2; };
  ds.SetFiltered(true);
  ASSERT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 1);
  ASSERT_TRUE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 3);
  ASSERT_TRUE(ds.FindLast());
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 4);
  EXPECT_FALSE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 4);
  ASSERT_TRUE(ds.FindPrior());
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 3);
}

namespace {
// A memory dataset with an id and a memo, holding (1, "one") and (2, NULL).
struct Blobs : ::testing::Test {
  void SetUp() override {
    ds.SetName("notes");
    ds.FieldDefs().Add("id", ftInteger);
    ds.FieldDefs().Add("memo", ftMemo);
    ds.Open();
    ds.AppendRecord({1, "one"});
    ds.AppendRecord({2, QVariant()});
    ds.First();
  }
  TField* Memo() { return ds.FieldByName("memo"); }
  static void Write(TStream& s, const QByteArray& bytes) { s.WriteBuffer(bytes.constData(), bytes.size()); }
  TQxMemDataSet ds;
};
}  // namespace

TEST_F(Blobs, ANewRecordsStreamStoresOnlyWhatWasWritten) {
  const int before = ds.Blobs().Count();
  ds.Append();
  ds.FieldByName("id")->SetAsInteger(3);
  { auto s = ds.CreateBlobStream(Memo(), TBlobStreamMode::bmWrite); }
  EXPECT_TRUE(Memo()->IsNull());
  ds.Post();
  EXPECT_EQ(ds.Blobs().Count(), before) << "an empty stream on a new record stores nothing";
  ds.Append();
  ds.FieldByName("id")->SetAsInteger(4);
  {
    auto s = ds.CreateBlobStream(Memo(), TBlobStreamMode::bmWrite);
    Write(*s, "four");
  }
  EXPECT_GE(ds.GetBlobId(Memo()), 1);
  ds.Post();
  EXPECT_EQ(ds.Blobs().Count(), before + 1);
  EXPECT_EQ(Memo()->AsString(), "four");
}

TEST_F(Blobs, ReadStreamsCopyTheValueFromTheStart) {
  auto s = ds.CreateBlobStream(Memo(), TBlobStreamMode::bmRead);
  ASSERT_EQ(s->Size(), 3);
  EXPECT_EQ(s->Position(), 0);
  char buf[3];
  s->ReadBuffer(buf, 3);
  EXPECT_EQ(QByteArray(buf, 3), "one");
}

TEST_F(Blobs, CancelPutsTheOldValuesBack) {
  struct Case {
    const char* name;
    std::function<void(Blobs&)> change;
  };
  const int before = ds.Blobs().Count();
  const std::vector<Case> cases = {{"edit of a stored value",
                                    [](Blobs& t) {
                                      t.ds.First();
                                      t.ds.Edit();
                                      auto s = t.ds.CreateBlobStream(t.Memo(), TBlobStreamMode::bmWrite);
                                      Write(*s, "changed");
                                    }},
                                   {"edit of a null value",
                                    [](Blobs& t) {
                                      t.ds.Last();
                                      t.ds.Edit();
                                      t.Memo()->SetAsString("new");
                                    }},
                                   {"insert with a value", [](Blobs& t) {
                                      t.ds.Append();
                                      t.Memo()->SetAsString("dropped");
                                    }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.change(*this);
    ds.Cancel();
    EXPECT_EQ(ds.Blobs().Count(), before);
    ds.First();
    EXPECT_EQ(Memo()->AsString(), "one");
    ds.Next();
    EXPECT_TRUE(Memo()->IsNull());
  }
}

TEST_F(Blobs, WritingOutsideEditIsRefusedAndChangesNothing) {
  const int logRows = ds.Log().RecordCount();
  try {
    auto s = ds.CreateBlobStream(Memo(), TBlobStreamMode::bmWrite);
    FAIL() << "a write stream in browse state";
  } catch (const EQxNoModeException& e) {
    EXPECT_EQ(e.Message(), "notes: " + QxText(QxMsg::NotEditOrInsertMode));
  }
  EXPECT_THROW(ds.CreateBlobStream(Memo(), TBlobStreamMode::bmReadWrite), EQxNoModeException);
  EXPECT_EQ(Memo()->AsString(), "one");
  EXPECT_EQ(ds.Log().RecordCount(), logRows) << "nothing changed behind the change log";
  EXPECT_THROW(ds.CreateBlobStream(ds.FieldByName("id"), TBlobStreamMode::bmRead), EDatabaseError);
}
