// TQxMemDataSet's master link, the constraints checked on post and the aggregate declarations.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

namespace {
struct MasterDetail : ::testing::Test {
  void SetUp() override {
    DefinePeople(master);
    master.SetName("master");
    master.Open();
    AddPeople(master, {{1, "a"}, {2, "b"}, {3, "c"}});
    detail.SetName("detail");
    detail.FieldDefs().Add("owner", ftInteger);
    detail.FieldDefs().Add("item", ftString, 10);
    source.SetDataSet(&master);
    detail.SetMasterSource(&source);
    detail.SetMasterFields("id");
    detail.SetIndexFieldNames("owner");
    detail.Open();
    detail.AppendRecord({1, "a1"});
    detail.AppendRecord({2, "b1"});
    detail.AppendRecord({1, "a2"});
    detail.AppendRecord({3, "c1"});
    detail.SetFiltered(true);
    master.First();
  }
  // Counts calls of a user filter; declared first so that it outlives the datasets, whose
  // teardown (the master link letting go) may still call the filter.
  int filterCalls = 0;
  TQxMemDataSet master;
  TQxMemDataSet detail;
  TDataSource source;
};
}  // namespace

TEST_F(MasterDetail, DetailFollowsTheMaster) {
  EXPECT_TRUE(detail.Linked());
  EXPECT_EQ(Column(detail, "item"), QStringList({"a1", "a2"}));
  master.Next();
  EXPECT_EQ(Column(detail, "item"), QStringList({"b1"}));
  master.Last();
  EXPECT_EQ(Column(detail, "item"), QStringList({"c1"}));
}

// The link's field lists come from MasterFields and IndexFieldNames, names trimmed and empty
// ones dropped; splitting the master list alone leaves the detail list as it was.
TEST(MemDataSetLink, SplitFieldListsAndCopiedIndexDefs) {
  TQxMemDataSet ds;
  ds.SetMasterFields(" id ; name ");
  ds.SetIndexFieldNames("owner;;who;");
  ds.SplitLinkFields();
  EXPECT_EQ(ds.MasterLinkFields(), QStringList({"id", "name"}));
  EXPECT_EQ(ds.DetailLinkFields(), QStringList({"owner", "who"}));
  ds.SetMasterFields("code");
  ds.SetIndexFieldNames("x");
  ds.SplitMasterFields();
  EXPECT_EQ(ds.MasterLinkFields(), QStringList({"code"}));
  EXPECT_EQ(ds.DetailLinkFields(), QStringList({"owner", "who"}));

  // The index descriptions are copies: the source list may change or go afterwards.
  EXPECT_FALSE(ds.StoresIndexDefs()) << "nothing to store";
  {
    TIndexDefs defs;
    defs.Add("pk", "id", TIndexOption::ixPrimary);
    ds.SetIndexDefs(defs);
    defs.Items(0)->Fields = "changed";
    defs.Add("other", "name");
  }
  ASSERT_EQ(ds.IndexDefs().Count(), 1);
  EXPECT_EQ(ds.IndexDefs().Items(0)->Name, "pk");
  EXPECT_EQ(ds.IndexDefs().Items(0)->Fields, "id");
  EXPECT_TRUE(ds.StoresIndexDefs());
  ds.StoreDefs = false;
  EXPECT_FALSE(ds.StoresIndexDefs());
}

TEST_F(MasterDetail, UnfilteredShowsEverything) {
  detail.SetFiltered(false);
  EXPECT_EQ(Column(detail, "item").size(), 4);
}

TEST_F(MasterDetail, ClosingTheMasterRestoresTheUserFilter) {
  detail.Close();
  detail.OnFilterRecord = [&](TDataSet& d, bool& accept) {
    ++filterCalls;
    accept = d.FieldByName("item")->AsString().endsWith('1');
  };
  detail.Open();
  EXPECT_TRUE(detail.Linked());
  EXPECT_EQ(Column(detail, "item"), QStringList({"a1", "a2"}))
      << "the link's filter replaces the user's while linked";
  master.Close();
  EXPECT_FALSE(detail.Linked());
  filterCalls = 0;
  EXPECT_EQ(Column(detail, "item"), QStringList({"a1", "b1", "c1"}));
  EXPECT_GT(filterCalls, 0) << "the user's handler is back";
  master.Open();
  EXPECT_TRUE(detail.Linked());
}

TEST_F(MasterDetail, PendingDetailEditIsPostedWhenTheMasterMoves) {
  detail.First();
  detail.Edit();
  detail.FieldByName("item")->SetAsString("a9");
  master.Next();
  EXPECT_EQ(detail.State(), TDataSetState::dsBrowse);
  master.First();
  EXPECT_EQ(Column(detail, "item"), QStringList({"a9", "a2"}));
}

TEST(Constraints, RefuseWithTheirTextsAndKeepTheEdit) {
  struct Case {
    const char* name;
    const char* op;
    QVariant limit;
    int value;
    bool posts;
  };
  const Case cases[] = {
      {"greater refuses equal", ">", 0, 0, false},
      {"greater accepts above", ">", 0, 1, true},
      {"equal", "=", 5, 5, true},
      {"not equal", "<>", 5, 5, false},
      {"less or equal", "<=", 5, 5, true},
      {"greater or equal", ">=", 5, 4, false},
      {"less", "<", 5, 4, true},
      {"unknown operator refuses all", "=>", 0, 10, false},
  };
  for (const Case& c : cases) {
    TQxMemDataSet ds;
    ds.SetName("orders");
    ds.FieldDefs().Add("qty", ftInteger);
    TQorixConstraintItem& item = ds.Constraints().Add();
    item.FieldName = "qty";
    item.Operator = c.op;
    item.Value = c.limit;
    item.ErrorMessage = "qty out of range";
    ds.Open();
    ds.Append();
    ds.FieldByName("qty")->SetAsInteger(c.value);
    if (c.posts) {
      ds.Post();
      EXPECT_EQ(ds.RecordCount(), 1) << c.name;
    } else {
      try {
        ds.Post();
        ADD_FAILURE() << c.name << ": posted";
      } catch (const EQxNotValidException& e) {
        EXPECT_EQ(e.Message(), "orders: qty out of range") << c.name;
      }
      EXPECT_EQ(ds.State(), TDataSetState::dsInsert) << c.name;
      EXPECT_EQ(ds.RecordCount(), 0) << c.name;
    }
  }
}

TEST(Constraints, SecondItemIsNotComparedAfterAFailure) {
  TQxMemDataSet ds;
  ds.FieldDefs().Add("qty", ftInteger);
  auto& a = ds.Constraints().Add();
  a.FieldName = "qty";
  a.Operator = ">";
  a.Value = 0;
  a.ErrorMessage = "first";
  auto& b = ds.Constraints().Add();
  b.FieldName = "missing";
  b.Operator = "=";
  b.ErrorMessage = "second";
  ds.Open();
  ds.Append();
  ds.FieldByName("qty")->SetAsInteger(0);
  try {
    ds.Post();
  } catch (const EQxNotValidException& e) {
    EXPECT_EQ(e.Message(), "first");
  }
  ds.FieldByName("qty")->SetAsInteger(1);
  EXPECT_THROW(ds.Post(), EDatabaseError) << "a missing field raises the field-not-found error";
}

TEST(Aggregates, FieldNamesAndActiveRefusals) {
  TQxMemDataSet ds;
  ds.SetName("mem");
  ds.FieldDefs().Add("a", ftInteger);
  ds.FieldDefs().Add("b", ftInteger);
  ds.FieldDefs().Add("c", ftInteger);
  ds.Open();
  TQorixAggregate& agg = ds.Aggregates().Add();
  EXPECT_EQ(agg.AggregateName(), "Aggregate3");
  EXPECT_TRUE(agg.Active());
  EXPECT_EQ(agg.DataType, ftUnknown);
  ASSERT_NE(ds.FindField("Aggregate3"), nullptr);
  EXPECT_TRUE(ds.FindField("Aggregate3")->IsNull()) << "no value is ever computed";
  try {
    agg.SetGroupingLevel(1);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "mem: Property may not be modified while aggregate is active");
  }
  agg.SetGroupingLevel(0);  // the same value is accepted
  agg.SetActive(false);
  agg.SetIndexName("byA");
  agg.SetExpression("sum(a)");
  EXPECT_TRUE(agg.Changed());
  agg.SetAggregateName("total");
  EXPECT_NE(ds.FindField("total"), nullptr);
  ds.Aggregates().Delete(0);
  EXPECT_EQ(ds.FindField("total"), nullptr);
}

// A closed dataset that loads a stream rebuilds its data fields; its aggregates must keep
// working on their own fields afterwards, whichever way the load was reached.
TEST(Aggregates, SurviveTheFieldRebuildOfAStreamLoad) {
  TQxMemDataSet source;
  DefinePeople(source);
  source.Open();
  AddPeople(source, {{1, "ann"}, {2, "bob"}});
  TMemoryStream image;
  source.SaveToStream(image);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("people.dat");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(image.Bytes());
  }
  struct Case {
    const char* name;
    std::function<void(TQxMemDataSet&)> load;
  };
  const Case cases[] = {
      {"LoadFromStream", [&](TQxMemDataSet& ds) { ds.LoadFromStream(image); }},
      {"LoadFromFile", [&](TQxMemDataSet& ds) { ds.LoadFromFile(file); }},
      {"LoadFromStream twice", [&](TQxMemDataSet& ds) {
         ds.LoadFromStream(image);
         ds.LoadFromStream(image);
       }},
  };
  for (const Case& c : cases) {
    TQxMemDataSet ds;
    ds.SetName("target");
    ds.FieldDefs().Add("other", ftFloat);
    TQorixAggregate& agg = ds.Aggregates().Add();
    agg.SetAggregateName("total");
    c.load(ds);
    agg.SetActive(false);
    agg.SetExpression("sum(id)");
    agg.SetGroupingLevel(1);
    agg.SetAggregateName("sum_id");
    TField* f = ds.FindField("sum_id");
    ASSERT_NE(f, nullptr) << c.name;
    ASSERT_EQ(f->FieldKind, TFieldKind::fkAggregate) << c.name;
    EXPECT_EQ(static_cast<TAggregateField*>(f)->Expression, "sum(id)") << c.name;
    EXPECT_EQ(static_cast<TAggregateField*>(f)->GroupingLevel, 1) << c.name;
    ds.Open();
    EXPECT_EQ(Column(ds, "name"), QStringList({"ann", "bob"})) << c.name;
    EXPECT_EQ(ds.FindField("other"), nullptr) << c.name;
    ds.Close();
    ds.Aggregates().Delete(0);
    EXPECT_EQ(ds.FindField("sum_id"), nullptr) << c.name;
  }
}

// An aggregate and a data field never share a name (a data field of that name would be hidden
// behind the aggregate and read back empty): whichever comes second is refused, and what was
// there stays as it was.
TEST(Aggregates, ANameTakenByADataFieldIsRefused) {
  TQxMemDataSet people;
  DefinePeople(people);
  people.Open();
  AddPeople(people, {{1, "ann"}});
  TMemoryStream image;
  people.SaveToStream(image);
  const struct {
    const char* name;
    std::function<void(TQxMemDataSet&, TQorixAggregate&)> clash;
  } cases[] = {
      {"a stream with a field of the aggregate's name",
       [&](TQxMemDataSet& ds, TQorixAggregate& agg) {
         agg.SetAggregateName("name");
         ds.LoadFromStream(image);
       }},
      {"a definition of the aggregate's name, then Open",
       [&](TQxMemDataSet& ds, TQorixAggregate& agg) {
         agg.SetAggregateName("name");
         ds.FieldDefs().Add("name", ftString, 20);
         ds.Open();
       }},
      {"an aggregate renamed to an open data field's name",
       [&](TQxMemDataSet& ds, TQorixAggregate& agg) {
         ds.FieldDefs().Add("name", ftString, 20);
         ds.Open();
         agg.SetAggregateName("NAME");
       }},
      {"an aggregate renamed to a definition's name",
       [&](TQxMemDataSet& ds, TQorixAggregate& agg) {
         ds.FieldDefs().Add("name", ftString, 20);
         agg.SetAggregateName("name");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TQxMemDataSet ds;
    ds.SetName("target");
    TQorixAggregate& agg = ds.Aggregates().Add();
    agg.SetAggregateName("total");
    try {
      c.clash(ds, agg);
      ADD_FAILURE() << "the clash was accepted";
    } catch (const EDatabaseError& e) {
      EXPECT_TRUE(e.Message().contains("Duplicate field name 'name'", Qt::CaseInsensitive))
          << e.Message().toStdString();
    }
    // Whatever name the aggregate has, its field is its own, and no data field hides behind it.
    TField* f = ds.FindField(agg.AggregateName());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->FieldKind, TFieldKind::fkAggregate);
    int named = 0;
    for (int i = 0; i < ds.FieldCount(); ++i)
      named += ds.Fields().Fields(i)->FieldName.compare("name", Qt::CaseInsensitive) == 0;
    EXPECT_LE(named, 1);
  }
  // Without a clash the stream loads beside the aggregate.
  TQxMemDataSet ds;
  ds.SetName("target");
  ds.Aggregates().Add().SetAggregateName("total");
  ds.LoadFromStream(image);
  ds.Open();
  EXPECT_EQ(Column(ds, "name"), QStringList({"ann"}));
}
