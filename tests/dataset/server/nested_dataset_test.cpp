// TQxNestedDataSet over a parent's dataset field: waiting for the parent, reloading on its
// scrolls, writing back while it is edited (and only then), and TQxNestedFieldList.
#include <gtest/gtest.h>

#include "dataset/QxDataSetErrors.h"
#include "dataset/server/QxNestedDataSet.h"
#include "dataset/server/QxQuery.h"
#include "tests/dataset/DataSetFixture.h"

namespace {
// A parent "orders" (id, lines: a dataset field) with persistent fields, and a nested dataset
// "lines" (no integer, text string of 10) bound to its dataset field.
struct Nested : ::testing::Test {
  void SetUp() override {
    parent.SetName("orders");
    parent.FieldDefs().Add("id", ftInteger);
    parent.FieldDefs().Add("lines", ftDataSet);
    auto id = std::make_unique<TIntegerField>();
    id->FieldName = "id";
    parent.Fields().Add(std::move(id));
    auto lines = std::make_unique<TDataSetField>();
    lines->FieldName = "lines";
    field = static_cast<TDataSetField*>(parent.Fields().Add(std::move(lines)));
    nested.SetName("lines");
    nested.FieldDefs().Add("no", ftInteger);
    nested.FieldDefs().Add("text", ftString, 10);
    nested.SetDataSetField(field);
  }
  // Appends a parent record id with nested rows (no = 1, 2, ...) and posts it.
  void AddOrder(int id, const QStringList& texts) {
    parent.Append();
    parent.FieldByName("id")->SetAsInteger(id);
    for (int i = 0; i < texts.size(); ++i) nested.AppendRecord({i + 1, texts[i]});
    parent.Post();
  }
  // Two orders: 1 with a and b, 2 with c.
  void OpenWithTwoOrders() {
    parent.Open();
    nested.Open();
    AddOrder(1, {"a", "b"});
    AddOrder(2, {"c"});
    parent.First();
  }
  TQxMemDataSet parent;
  TQxNestedDataSet nested;
  TDataSetField* field = nullptr;
};
}  // namespace

TEST_F(Nested, PostingTheParentStoresAFullStreamOfTheNestedRows) {
  OpenWithTwoOrders();
  const QByteArray stored = field->AsBytes();
  ASSERT_TRUE(stored.startsWith(QByteArray("QorixSuite1\0", 12)));
  TQxMemDataSet copy;
  TMemoryStream s;
  s.LoadFromBytes(stored);
  copy.LoadFromStream(s);
  copy.Open();
  EXPECT_EQ(Column(copy, "text"), QStringList({"a", "b"}));
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b"}));
}

TEST_F(Nested, ScrollingTheParentReloads) {
  OpenWithTwoOrders();
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b"}));
  parent.Next();
  EXPECT_EQ(Column(nested, "text"), QStringList({"c"}));
  parent.Append();
  EXPECT_EQ(nested.RecordCount(), 0) << "a new parent record has no nested rows yet";
  parent.Cancel();
  EXPECT_EQ(Column(nested, "text"), QStringList({"c"}));
}

TEST_F(Nested, NullParentFieldOpensEmptyWithItsStructure) {
  parent.Open();
  parent.AppendRecord({7});
  nested.Open();
  EXPECT_TRUE(nested.Active());
  EXPECT_EQ(nested.RecordCount(), 0);
  EXPECT_EQ(nested.FieldCount(), 2);
  EXPECT_TRUE(field->IsNull());
}

TEST_F(Nested, WaitsForAClosedParentThenOpensWithItsRecord) {
  OpenWithTwoOrders();
  parent.Close();
  EXPECT_FALSE(nested.Active()) << "closing the parent closes its nested datasets";
  nested.Open();
  EXPECT_EQ(nested.State(), TDataSetState::dsOpening);
  EXPECT_TRUE(parent.WaitingNested().contains(&nested));
  // The wait cannot end while the caller waits, so the check refuses at once.
  try {
    nested.CheckActive();
    FAIL() << "no error while waiting";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "lines: " + DbText::WaitingForParent);
  }
  parent.Open();
  EXPECT_TRUE(nested.Active());
  EXPECT_TRUE(parent.WaitingNested().isEmpty());
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b"}));
}

TEST_F(Nested, ClosingAWaitingNestedDataSetEndsTheWait) {
  nested.Open();
  ASSERT_EQ(nested.State(), TDataSetState::dsOpening);
  nested.Close();
  EXPECT_EQ(nested.State(), TDataSetState::dsInactive);
  EXPECT_FALSE(parent.WaitingNested().contains(&nested));
  parent.Open();
  EXPECT_FALSE(nested.Active());
}

// Each change made in the nested dataset while the parent only browses must reach the parent's
// record: the parent enters edit, and its post (here by scrolling away) stores the rows.
TEST_F(Nested, ChangesWhileTheParentBrowsesAreKept) {
  struct Case {
    const char* name;
    std::function<void(TDataSet&)> change;
    QStringList expected;
  };
  const std::vector<Case> cases = {
      {"edit",
       [](TDataSet& n) {
         n.Edit();
         n.FieldByName("text")->SetAsString("z");
         n.Post();
       },
       {"z", "b"}},
      {"append",
       [](TDataSet& n) {
         n.AppendRecord({3, "n"});
       },
       {"a", "b", "n"}},
      {"delete", [](TDataSet& n) { n.Delete(); }, {"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQxMemDataSet p;
    p.FieldDefs().Add("id", ftInteger);
    p.FieldDefs().Add("lines", ftDataSet);
    auto id = std::make_unique<TIntegerField>();
    id->FieldName = "id";
    p.Fields().Add(std::move(id));
    auto lines = std::make_unique<TDataSetField>();
    lines->FieldName = "lines";
    auto* f = static_cast<TDataSetField*>(p.Fields().Add(std::move(lines)));
    TQxNestedDataSet n;
    n.FieldDefs().Add("no", ftInteger);
    n.FieldDefs().Add("text", ftString, 10);
    n.SetDataSetField(f);
    p.Open();
    n.Open();
    for (int order = 1; order <= 2; ++order) {
      p.Append();
      p.FieldByName("id")->SetAsInteger(order);
      n.AppendRecord({1, "a"});
      n.AppendRecord({2, "b"});
      p.Post();
    }
    p.First();
    n.First();
    c.change(n);
    EXPECT_EQ(p.State(), TDataSetState::dsEdit);
    p.Next();
    EXPECT_EQ(p.State(), TDataSetState::dsBrowse);
    p.First();
    EXPECT_EQ(Column(n, "text"), c.expected);
    p.Next();
    EXPECT_EQ(Column(n, "text"), QStringList({"a", "b"})) << "the other record is untouched";
  }
}

TEST_F(Nested, AnUnchangedNestedDataSetLeavesTheParentRecordAlone) {
  OpenWithTwoOrders();
  int posts = 0;
  parent.AfterPost = [&](TDataSet&) { ++posts; };
  nested.First();
  nested.Edit();
  nested.FieldByName("text")->SetAsString("zz");
  nested.Cancel();
  parent.Next();
  EXPECT_EQ(posts, 0) << "nothing changed, so nothing was written back";
  parent.Edit();
  parent.FieldByName("id")->SetAsInteger(20);
  parent.Post();
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(Column(nested, "text"), QStringList({"c"}));
}

TEST_F(Nested, CancellingTheParentDropsTheNestedChanges) {
  OpenWithTwoOrders();
  parent.Edit();
  nested.AppendRecord({3, "x"});
  parent.Cancel();
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b"}));
  parent.Next();
  parent.First();
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b"}));
}

TEST_F(Nested, ClosingTheNestedDataSetPostsAnEditedParent) {
  OpenWithTwoOrders();
  parent.Edit();
  nested.AppendRecord({3, "x"});
  nested.Close();
  EXPECT_EQ(parent.State(), TDataSetState::dsBrowse);
  nested.Open();
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b", "x"}));
}

TEST_F(Nested, AClosedNestedDataSetNeverBlanksTheParentField) {
  OpenWithTwoOrders();
  nested.Close();
  parent.Edit();
  parent.FieldByName("id")->SetAsInteger(10);
  parent.Post();
  nested.Open();
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b"}));
}

TEST_F(Nested, RefusesWithoutAFieldOrWithAForeignStream) {
  TQxNestedDataSet loose;
  loose.SetName("loose");
  try {
    loose.Open();
    FAIL() << "opened without a dataset field";
  } catch (const EQxDataSetException& e) {
    EXPECT_EQ(e.Message(), "loose: DataSetField is undefined");
  }
  parent.Open();
  parent.Append();
  parent.FieldByName("id")->SetAsInteger(1);
  field->SetAsBytes("not a dataset");
  parent.Post();
  try {
    nested.Open();
    FAIL() << "opened over a foreign stream";
  } catch (const EQxNotValidException& e) {
    EXPECT_TRUE(e.Message().endsWith("Source is not valid")) << e.Message().toStdString();
  }
  EXPECT_FALSE(nested.Active());
}

TEST(NestedLifetime, TheParentsFieldsGoingAwayDetachesTheNestedDataSet) {
  TQxNestedDataSet nested;
  nested.FieldDefs().Add("no", ftInteger);
  {
    TQxMemDataSet parent;
    parent.FieldDefs().Add("id", ftInteger);
    parent.FieldDefs().Add("lines", ftDataSet);
    parent.Open();  // default fields: made at open, destroyed at close
    nested.SetDataSetField(static_cast<TDataSetField*>(parent.FieldByName("lines")));
    nested.Open();
    ASSERT_TRUE(nested.Active());
    parent.Close();
    EXPECT_FALSE(nested.Active());
    EXPECT_EQ(nested.DataSetField(), nullptr);
    EXPECT_TRUE(parent.NestedDataSets().isEmpty());
    parent.Open();
    nested.SetDataSetField(static_cast<TDataSetField*>(parent.FieldByName("lines")));
    nested.Open();
  }
  EXPECT_FALSE(nested.Active()) << "the parent's destruction closes and detaches it";
  EXPECT_EQ(nested.Parent(), nullptr);
}

TEST(NestedLifetime, ANestedDataSetOwnedByItsParentGoesWithIt) {
  auto* parent = new TQxMemDataSet;
  parent->FieldDefs().Add("lines", ftDataSet);
  auto lines = std::make_unique<TDataSetField>();
  lines->FieldName = "lines";
  auto* field = static_cast<TDataSetField*>(parent->Fields().Add(std::move(lines)));
  auto* nested = new TQxNestedDataSet(parent);
  nested->FieldDefs().Add("no", ftInteger);
  nested->SetDataSetField(field);
  bool gone = false;
  QObject::connect(nested, &QObject::destroyed, [&] { gone = true; });
  parent->Open();
  parent->Append();
  nested->Open();
  nested->AppendRecord({1});
  parent->Edit();  // still inserting: stays in insert
  delete parent;   // closes (posting nothing), detaches, then destroys the nested dataset
  EXPECT_TRUE(gone);
}

TEST(NestedLifetime, OneFailingWaitingDataSetDoesNotKeepTheOthersClosed) {
  TQxMemDataSet parent;
  parent.SetName("p");
  parent.FieldDefs().Add("a", ftDataSet);
  parent.FieldDefs().Add("b", ftDataSet);
  TDataSetField* fields[2];
  for (int i = 0; i < 2; ++i) {
    auto f = std::make_unique<TDataSetField>();
    f->FieldName = i == 0 ? "a" : "b";
    fields[i] = static_cast<TDataSetField*>(parent.Fields().Add(std::move(f)));
  }
  parent.Open();
  parent.Append();
  fields[0]->SetAsBytes("not a nested dataset at all");
  parent.Post();
  parent.Close();
  TQxNestedDataSet bad, good;
  bad.SetDataSetField(fields[0]);
  good.FieldDefs().Add("no", ftInteger);
  good.SetDataSetField(fields[1]);
  bad.Open();
  good.Open();
  EXPECT_THROW(parent.Open(), EQxNotValidException);

  EXPECT_TRUE(parent.Active());
  EXPECT_FALSE(bad.Active());
  EXPECT_TRUE(good.Active());
}

TEST(NestedFieldList, ItemsNeedANameAndAddOneDataSetDefinitionEach) {
  TQxQuery owner;
  TQxNestedFieldList list(&owner);
  TQxNestedFieldItem& blank = list.Add();
  try {
    blank.SetActive(true);
    FAIL() << "activated without a field name";
  } catch (const EQxDataSetException& e) {
    EXPECT_EQ(e.Message(), "No FieldName assigned");
  }
  EXPECT_FALSE(blank.Active());
  TQxNestedFieldItem& item = list.Add();
  item.FieldName = QString(40, 'x');
  item.SetActive(true);
  list.Add().FieldName = "inactive";
  TFieldDefs defs(&owner);
  list.AddFieldDefs(defs);
  ASSERT_EQ(defs.Count(), 1);
  EXPECT_EQ(defs.Items(0)->Name, QString(30, 'x'));
  EXPECT_EQ(defs.Items(0)->DataType, ftDataSet);
  EXPECT_EQ(defs.Items(0)->Size, 0);
}

TEST_F(Nested, AnAggregateOfTheNestedDataSetOutlivesItsReloads) {
  TQorixAggregate& agg = nested.Aggregates().Add();
  agg.SetAggregateName("count");
  OpenWithTwoOrders();
  nested.Close();
  nested.Open();  // a closed nested dataset takes its fields from the parent record's stream
  parent.Next();
  parent.First();
  agg.SetActive(false);
  agg.SetExpression("count(*)");
  TField* f = nested.FindField("count");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(static_cast<TAggregateField*>(f)->Expression, "count(*)");
  EXPECT_EQ(Column(nested, "text"), QStringList({"a", "b"}));
}

// A parent value the open nested dataset could not load back is refused when the parent
// posts; the record stays in edit, and after a cancel every record scrolls as before.
TEST_F(Nested, APostedNestedValueMustFitTheNestedStructure) {
  auto fullStreamOf = [](const QList<QPair<QString, TFieldType>>& defs) {
    TQxMemDataSet other;
    for (const auto& d : defs) other.FieldDefs().Add(d.first, d.second, d.second == ftString ? 10 : 0);
    other.Open();
    TMemoryStream s;
    other.SaveToStream(s);
    return s.Bytes();
  };
  struct Case {
    const char* name;
    QByteArray value;
    bool accepted;
  };
  const Case cases[] = {
      {"another structure", fullStreamOf({{"price", ftFloat}}), false},
      {"one field more", fullStreamOf({{"no", ftInteger}, {"text", ftString}, {"x", ftInteger}}), false},
      {"a memo where the text was", fullStreamOf({{"no", ftInteger}, {"text", ftMemo}}), false},
      {"no dataset at all", QByteArray("not a dataset"), false},
      {"the same layout under other names", fullStreamOf({{"n", ftInteger}, {"t", ftString}}), true},
  };
  OpenWithTwoOrders();
  for (const Case& c : cases) {
    parent.First();
    parent.Edit();
    field->SetAsBytes(c.value);
    if (c.accepted) {
      EXPECT_NO_THROW(parent.Post()) << c.name;
    } else {
      try {
        parent.Post();
        ADD_FAILURE() << c.name << ": posted";
      } catch (const EQxNotValidException& e) {
        EXPECT_EQ(e.Message(), "orders: Source is not valid") << c.name;
      }
      EXPECT_EQ(parent.State(), TDataSetState::dsEdit) << c.name;
      parent.Cancel();
    }
    EXPECT_NO_THROW({
      parent.Next();
      parent.First();
    }) << c.name;
    EXPECT_EQ(Column(nested, "no").size(), c.accepted ? 0 : 2) << c.name;
  }
  // The closed nested dataset does not judge what it is not showing.
  nested.Close();
  parent.Edit();
  field->SetAsBytes(fullStreamOf({{"price", ftFloat}}));
  EXPECT_NO_THROW(parent.Post());
}

// A dataset field without a nested dataset makes one of the class memory datasets name; it
// shows the parent's value and goes with the field.
TEST(NestedLifetime, ADataSetFieldMakesAndOwnsItsNestedDataSet) {
  TQxMemDataSet source;
  source.FieldDefs().Add("no", ftInteger);
  source.Open();
  source.AppendRecord({5});
  TMemoryStream image;
  source.SaveToStream(image);

  TQxMemDataSet parent;
  parent.FieldDefs().Add("lines", ftDataSet);
  parent.Open();  // default fields: destroyed at close
  auto* field = static_cast<TDataSetField*>(parent.FieldByName("lines"));
  parent.Append();
  field->SetAsBytes(image.Bytes());
  parent.Post();
  auto* made = dynamic_cast<TQxNestedDataSet*>(field->EnsureNestedDataSet());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->DataSetField(), field);
  EXPECT_EQ(field->EnsureNestedDataSet(), made);
  made->Open();
  EXPECT_EQ(Column(*made, "no"), QStringList({"5"}));
  bool gone = false;
  QObject::connect(made, &QObject::destroyed, [&] { gone = true; });
  parent.Close();
  EXPECT_TRUE(gone);

  // One destroyed by its user before the field goes is not destroyed again.
  parent.Open();
  field = static_cast<TDataSetField*>(parent.FieldByName("lines"));
  delete field->EnsureNestedDataSet();
  EXPECT_EQ(field->NestedDataSet(), nullptr);
  EXPECT_NO_THROW(parent.Close());
}
