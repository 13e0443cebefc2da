// The memory dataset core: navigation, insert and append positions, bookmarks, RecNo under a
// filter, the Options switches, field values of every slot type and the failure texts.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

namespace {
struct People : ::testing::Test {
  void SetUp() override {
    DefinePeople(ds);
    ds.Open();
  }
  void Fill(int n) {
    for (int i = 1; i <= n; ++i) ds.AppendRecord({i, QStringLiteral("p%1").arg(i)});
  }
  TQxCustomMemDataSet ds;
};

template <typename E, typename F>
QString ThrownText(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return QStringLiteral("<nothing raised>");
}
}  // namespace

TEST_F(People, EmptyDatasetIsAtBothEnds) {
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.Next();
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bookmark().isEmpty());
}

TEST_F(People, OneRecordNavigation) {
  Fill(1);
  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 1);
  ds.Prior();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 1);
}

TEST_F(People, ForwardAndBackwardWalks) {
  Fill(5);
  EXPECT_EQ(Column(ds, "id"), QStringList({"1", "2", "3", "4", "5"}));
  ds.Last();
  QStringList back;
  while (!ds.Bof()) {
    back << ds.FieldByName("name")->AsString();
    ds.Prior();
  }
  EXPECT_EQ(back, QStringList({"p5", "p4", "p3", "p2", "p1"}));
  ds.First();
  EXPECT_EQ(ds.MoveBy(3), 3);
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(ds.MoveBy(10), 1) << "stops at the last record";
  EXPECT_TRUE(ds.Eof());
}

TEST_F(People, InsertGoesBeforeTheCurrentRecordAndTakesTheHighestId) {
  Fill(3);
  ds.First();
  ds.Insert();
  ds.FieldByName("id")->SetAsInteger(0);
  ds.Post();
  EXPECT_EQ(Column(ds, "id"), QStringList({"0", "1", "2", "3"}));
  ds.First();
  EXPECT_EQ(TQxCustomMemDataSet::IdOfBookmark(ds.Bookmark()), 4);
  ds.MoveBy(2);  // on id 2
  ds.Insert();
  ds.FieldByName("id")->SetAsInteger(15);
  ds.Post();
  EXPECT_EQ(Column(ds, "id"), QStringList({"0", "1", "15", "2", "3"}));
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 15) << "the new record is current after post";
}

TEST_F(People, AppendLandsAtTheEndWhereverTheCursorWas) {
  Fill(3);
  ds.First();
  ds.Next();
  ds.Append();
  ds.FieldByName("id")->SetAsInteger(9);
  ds.Post();
  EXPECT_EQ(Column(ds, "id"), QStringList({"1", "2", "3", "9"}));
  // With a wide buffer window (as a grid makes), too.
  TDataSource src(&ds);
  TDataLink link;
  link.SetDataSource(&src);
  link.SetBufferCount(10);
  ds.First();
  ds.Append();
  ds.FieldByName("id")->SetAsInteger(10);
  ds.Post();
  EXPECT_EQ(Column(ds, "id").last(), "10");
  link.SetDataSource(nullptr);
}

TEST_F(People, InsertIntoEmptyDataset) {
  ds.Insert();
  ds.FieldByName("name")->SetAsString("only");
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(Column(ds, "name"), QStringList({"only"}));
}

TEST_F(People, CancelledInsertAddsNothing) {
  Fill(2);
  ds.Append();
  ds.FieldByName("id")->SetAsInteger(7);
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(Column(ds, "id"), QStringList({"1", "2"}));
}

TEST_F(People, EditPostAndDelete) {
  Fill(3);
  ds.First();
  ds.Next();
  ds.Edit();
  ds.FieldByName("name")->SetAsString("two");
  ds.Post();
  ds.Last();
  ds.Delete();
  EXPECT_EQ(Column(ds, "name"), QStringList({"p1", "two"}));
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "two") << "after deleting the last, the new last is current";
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST_F(People, BookmarksSurviveInsertsAndDeletedOnesAreRefused) {
  Fill(5);
  ds.First();
  ds.MoveBy(2);
  const TBookmark third = ds.Bookmark();
  ds.First();
  ds.Insert();
  ds.Post();
  ds.GotoBookmark(third);
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 3);
  ds.Locate("id", 5, {});
  const TBookmark fifth = ds.Bookmark();
  ds.Delete();
  EXPECT_EQ(ThrownText<EQxBookmarkException>([&] { ds.GotoBookmark(fifth); }), "mem: Bookmark '5' not found");
  EXPECT_EQ(ds.CompareBookmarks(third, fifth), -1);
  EXPECT_EQ(ds.CompareBookmarks({}, fifth), 1);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_TRUE(ds.BookmarkValid(third));
  EXPECT_FALSE(ds.BookmarkValid({}));
}

TEST_F(People, FilterSkipsRecordsAndRecNoCountsOnlyAccepted) {
  Fill(6);
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) { accept = d.FieldByName("id")->AsInteger() % 2 == 0; };
  ds.SetFiltered(true);
  EXPECT_EQ(Column(ds, "id"), QStringList({"2", "4", "6"}));
  EXPECT_EQ(ds.RecordCount(), 6) << "RecordCount ignores the filter";
  ds.First();
  ds.Next();
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 4);
  EXPECT_EQ(ds.RecNo(), 2);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 6) << "the buffers follow RecNo";
  ds.SetRecNo(9);
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 6) << "a RecNo past the accepted records changes nothing";
  ds.SetFiltered(false);
  ds.SetRecNo(2);
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 2);
  ds.SetRecNo(0);
  ds.SetRecNo(7);
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 2) << "out-of-range RecNo is ignored";
}

TEST_F(People, FilterRefusingEverythingGivesEofAndNoRaise) {
  Fill(3);
  ds.OnFilterRecord = [](TDataSet&, bool& accept) { accept = false; };
  ds.SetFiltered(true);
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  ds.Refresh();
  EXPECT_TRUE(ds.IsEmpty());
}

TEST_F(People, OptionsRefuseWithTheirTexts) {
  Fill(1);
  struct Case {
    const char* name;
    TQxMemOption option;
    std::function<void()> op;
    const char* text;
  };
  const Case cases[] = {
      {"insert", TQxMemOption::opDisableInserts, [&] { ds.Append(); }, "mem: Insert is not allowed"},
      {"delete", TQxMemOption::opDisableDeletes, [&] { ds.Delete(); }, "mem: Delete is not allowed"},
      {"edit", TQxMemOption::opDisableEdits, [&] { ds.Edit(); }, "mem: Edit is not allowed"},
  };
  for (const Case& c : cases) {
    ds.Options = c.option;
    EXPECT_EQ(ThrownText<EQxDisabledException>(c.op), c.text) << c.name;
    EXPECT_EQ(ds.State(), TDataSetState::dsBrowse) << c.name;
  }
  ds.Options = {};
  EXPECT_EQ(ds.RecordCount(), 1);
}

TEST_F(People, WritingOutsideEditIsRefused) {
  Fill(1);
  EXPECT_EQ(ThrownText<EQxNoModeException>([&] { ds.FieldByName("id")->SetAsInteger(3); }),
            "mem: DataSet is not in edit or insert mode");
}

TEST_F(People, ReadOnlyChangesOnlyWhileClosed) {
  EXPECT_THROW(ds.SetReadOnly(true), EDatabaseError);
  ds.Close();
  ds.SetReadOnly(true);
  ds.Open();
  EXPECT_FALSE(ds.CanModify());
  EXPECT_THROW(ds.Append(), EDatabaseError);
}

TEST_F(People, ScrollEventsFireAroundMoves) {
  Fill(3);
  int before = 0, after = 0;
  ds.BeforeScroll = [&](TDataSet&) { ++before; };
  ds.AfterScroll = [&](TDataSet&) { ++after; };
  ds.First();
  ds.Next();
  EXPECT_EQ(before, 2);
  EXPECT_EQ(after, 2);
}

TEST(MemDataSetLayout, BcdOpensAsFloatAndBytesIsRefused) {
  TQxCustomMemDataSet ds;
  ds.SetName("m");
  ds.FieldDefs().Add("amount", ftBCD);
  ds.Open();
  EXPECT_EQ(ds.FieldDefs().Items(0)->DataType, ftFloat);
  ds.Close();
  TQxCustomMemDataSet bad;
  bad.SetName("m");
  bad.FieldDefs().Add("raw", ftBytes, 8);
  try {
    bad.Open();
    FAIL() << "ftBytes opened";
  } catch (const EQxNotSupportedException& e) {
    EXPECT_EQ(e.Message(), "m: Field 'raw' is of an unsupported type");
  }
  EXPECT_FALSE(bad.Active());
}

TEST(MemDataSetLayout, RecordSizeFollowsTheSlotTable) {
  TQxCustomMemDataSet ds;
  ds.FieldDefs().Add("s", ftString, 10);  // 11 + 1
  ds.FieldDefs().Add("i", ftInteger);     // 4 + 1
  ds.FieldDefs().Add("b", ftBoolean);     // 2 + 1
  ds.FieldDefs().Add("d", ftDateTime);    // 8 + 1
  ds.FieldDefs().Add("m", ftMemo);        // 4 + 1
  ds.FieldDefs().Add("g", ftGuid);        // 38 + 1
  ds.Open();
  EXPECT_EQ(ds.RecordSize(), 4 + 12 + 5 + 3 + 9 + 5 + 39);
}

TEST(MemDataSetValues, EveryTypeRoundTripsAndNullsStayNull) {
  TQxCustomMemDataSet ds;
  ds.FieldDefs().Add("s", ftString, 5);
  ds.FieldDefs().Add("si", ftSmallint);
  ds.FieldDefs().Add("i", ftInteger);
  ds.FieldDefs().Add("w", ftWord);
  ds.FieldDefs().Add("b", ftBoolean);
  ds.FieldDefs().Add("f", ftFloat);
  ds.FieldDefs().Add("c", ftCurrency);
  ds.FieldDefs().Add("d", ftDate);
  ds.FieldDefs().Add("t", ftTime);
  ds.FieldDefs().Add("dt", ftDateTime);
  ds.FieldDefs().Add("li", ftLargeint);
  ds.FieldDefs().Add("vb", ftVarBytes, 10);
  ds.FieldDefs().Add("g", ftGuid);
  ds.Open();
  const QDateTime when(QDate(2024, 2, 29), QTime(13, 45, 7, 250));
  ds.AppendRecord({"abcdefgh", -7, 123456, 65000, true, 2.5, 19.99, QDate(1999, 12, 31), QTime(8, 30), when,
                   qlonglong(1) << 40, QByteArray("\x01\x02", 2), "{01234567-89AB-CDEF-0123-456789ABCDEF}"});
  ds.AppendRecord({});
  ds.First();
  EXPECT_EQ(ds.FieldByName("s")->AsString(), "abcde") << "cut at Size";
  EXPECT_EQ(ds.FieldByName("si")->AsInteger(), -7);
  EXPECT_EQ(ds.FieldByName("i")->AsInteger(), 123456);
  EXPECT_EQ(ds.FieldByName("w")->AsInteger(), 65000);
  EXPECT_TRUE(ds.FieldByName("b")->AsBoolean());
  EXPECT_DOUBLE_EQ(ds.FieldByName("f")->AsFloat(), 2.5);
  EXPECT_DOUBLE_EQ(ds.FieldByName("c")->AsFloat(), 19.99);
  EXPECT_EQ(ds.FieldByName("d")->Value().toDate(), QDate(1999, 12, 31));
  EXPECT_EQ(ds.FieldByName("t")->Value().toTime(), QTime(8, 30));
  EXPECT_EQ(ds.FieldByName("dt")->AsDateTime(), when);
  EXPECT_EQ(ds.FieldByName("li")->Value().toLongLong(), qlonglong(1) << 40);
  EXPECT_EQ(ds.FieldByName("vb")->Value().toByteArray(), QByteArray("\x01\x02", 2)) << "var-bytes read back";
  EXPECT_EQ(ds.FieldByName("g")->AsString(), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
  ds.Next();
  for (int i = 0; i < ds.FieldCount(); ++i) EXPECT_TRUE(ds.Fields().Fields(i)->IsNull()) << i;
}

TEST(MemDataSetValues, CalculatedFieldsHaveValuesAndIsNullSaysSo) {
  TQxCustomMemDataSet ds;
  ds.FieldDefs().Add("n", ftInteger);
  auto calc = std::make_unique<TIntegerField>();
  calc->FieldName = "twice";
  calc->FieldKind = TFieldKind::fkCalculated;
  TField* twice = ds.Fields().Add(std::move(calc));
  ds.OnCalcFields = [](TDataSet& d) {
    if (!d.FieldByName("n")->IsNull() && d.FieldByName("n")->AsInteger() > 0)
      d.FieldByName("twice")->SetAsInteger(2 * d.FieldByName("n")->AsInteger());
  };
  ds.Open();
  ds.AppendRecord({21});
  ds.AppendRecord({0});
  ds.First();
  EXPECT_FALSE(twice->IsNull());
  EXPECT_EQ(twice->AsInteger(), 42);
  ds.Next();
  EXPECT_TRUE(twice->IsNull());
  ds.Edit();
  ds.FieldByName("n")->SetAsInteger(5);
  EXPECT_EQ(twice->AsInteger(), 10) << "recalculated while editing";
  ds.Cancel();
}

TEST(MemDataSetLayout, RecordsKeptAcrossALayoutChangeAreDropped) {
  TQxCustomMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}});
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 2) << "same layout: records stay";
  ds.Close();
  ds.FieldDefs().Clear();
  ds.FieldDefs().Add("name", ftString, 20);
  ds.FieldDefs().Add("id", ftInteger);
  ds.Fields().Clear();
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 0);
}

TEST(MemDataSetLayout, EmptyDataSetResetsIds) {
  TQxCustomMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}});
  ds.EmptyDataSet();
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.NextBookmarkId(), 1);
  EXPECT_EQ(ds.Store().Stream().Size(), 0);
  AddPeople(ds, {{3, "c"}});
  EXPECT_EQ(TQxCustomMemDataSet::IdOfBookmark(ds.Bookmark()), 1);
}
