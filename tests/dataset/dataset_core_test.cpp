// The dataset abstraction itself, seen through a memory dataset: component ownership, the
// order of the Before/After events, error events and their actions, lookup fields, data
// links with record windows, and switching controls off and on.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

namespace {
// A data link that records what it is told.
class RecordingLink : public TDataLink {
 public:
  QStringList events;

 protected:
  void ActiveChanged() override { events << QStringLiteral("active:%1").arg(Active()); }
  void DataSetChanged() override { events << "changed"; }
  void DataSetScrolled(int distance) override { events << QStringLiteral("scrolled:%1").arg(distance); }
  void EditingChanged() override { events << QStringLiteral("editing:%1").arg(Editing()); }
  void RecordChanged(TField* field) override { events << "record:" + (field ? field->FieldName : "-"); }
};
}  // namespace

TEST(DataSetComponent, OwnerDestroysItAndTheNameLeadsItsMessages) {
  auto* owner = new TComponent;
  auto* ds = new TQxMemDataSet(owner);
  DefinePeople(*ds);  // named "mem"
  EXPECT_EQ(owner->FindComponent("mem"), ds);
  bool destroyed = false;
  QObject::connect(ds, &QObject::destroyed, [&] { destroyed = true; });
  try {
    ds->FieldByName("nope");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "mem: Field 'nope' not found");
  }
  ds->Open();
  AddPeople(*ds, {{1, "a"}});
  delete owner;
  EXPECT_TRUE(destroyed);
}

TEST(DataSetEvents, BeforeAndAfterEventsComeInOrder) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  QStringList seen;
  auto note = [&](const char* what) { return [&seen, what](TDataSet&) { seen << what; }; };
  ds.BeforeOpen = note("BeforeOpen");
  ds.AfterOpen = note("AfterOpen");
  ds.BeforeInsert = note("BeforeInsert");
  ds.OnNewRecord = note("OnNewRecord");
  ds.AfterInsert = note("AfterInsert");
  ds.BeforePost = note("BeforePost");
  ds.AfterPost = note("AfterPost");
  ds.BeforeEdit = note("BeforeEdit");
  ds.AfterEdit = note("AfterEdit");
  ds.BeforeCancel = note("BeforeCancel");
  ds.AfterCancel = note("AfterCancel");
  ds.BeforeDelete = note("BeforeDelete");
  ds.AfterDelete = note("AfterDelete");
  ds.BeforeClose = note("BeforeClose");
  ds.AfterClose = note("AfterClose");
  ds.Open();
  ds.AppendRecord({1, "a"});
  ds.Edit();
  ds.Cancel();
  ds.Delete();
  ds.Close();
  EXPECT_EQ(seen, QStringList({"BeforeOpen", "AfterOpen", "BeforeInsert", "OnNewRecord", "AfterInsert",
                               "BeforePost", "AfterPost", "BeforeEdit", "AfterEdit", "BeforeCancel",
                               "AfterCancel", "BeforeDelete", "AfterDelete", "BeforeClose", "AfterClose"}));
}

TEST(DataSetEvents, AfterOpenReadsTheFirstRecord) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}});
  ds.Close();
  QString seen;
  bool bof = false;
  ds.AfterOpen = [&](TDataSet& d) {
    seen = d.FieldByName("name")->AsString();
    bof = d.Bof();
  };
  ds.Open();
  EXPECT_EQ(seen, "a");
  EXPECT_TRUE(bof);
  EXPECT_FALSE(ds.Eof());
}

TEST(DataSetEvents, PostErrorActions) {
  struct Case {
    const char* name;
    TDataAction action;
    const char* outcome;  // "posted", "abort" or "raised"
  };
  const std::vector<Case> cases = {
      {"retry after the handler fixed the value", TDataAction::daRetry, "posted"},
      {"abort is silent", TDataAction::daAbort, "abort"},
      {"fail raises the error", TDataAction::daFail, "raised"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQxMemDataSet ds;
    DefinePeople(ds);
    TQorixConstraintItem& rule = ds.Constraints().Add();
    rule.FieldName = "id";
    rule.Operator = ">";
    rule.Value = 0;
    rule.ErrorMessage = "id must be positive";
    QString reported;
    ds.OnPostError = [&](TDataSet& d, EDatabaseError& e, TDataAction& action) {
      reported = e.Message();
      action = c.action;
      if (action == TDataAction::daRetry) d.FieldByName("id")->SetAsInteger(5);
    };
    ds.Open();
    ds.Append();
    ds.FieldByName("id")->SetAsInteger(-1);
    QString outcome = "posted";
    try {
      ds.Post();
    } catch (const EAbort&) {
      outcome = "abort";
    } catch (const Exception&) {
      outcome = "raised";
    }
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_TRUE(reported.endsWith("id must be positive")) << reported.toStdString();
    if (outcome == "posted") {
      EXPECT_EQ(Column(ds, "id"), QStringList({"5"}));
    } else {
      EXPECT_EQ(ds.State(), TDataSetState::dsInsert) << "a refused post keeps the edit open";
      ds.Cancel();
      EXPECT_EQ(ds.RecordCount(), 0);
    }
  }
}

TEST(DataSetFields, LookupFieldsReadTheOtherDataSet) {
  TQxMemDataSet names;
  DefinePeople(names);
  names.Open();
  AddPeople(names, {{1, "ann"}, {2, "bob"}});
  TQxMemDataSet orders;
  orders.FieldDefs().Add("owner", ftInteger);
  auto owner = std::make_unique<TIntegerField>();
  owner->FieldName = "owner";
  orders.Fields().Add(std::move(owner));
  auto lookup = std::make_unique<TStringField>(20);
  lookup->FieldName = "ownerName";
  lookup->FieldKind = TFieldKind::fkLookup;
  lookup->LookupDataSet = &names;
  lookup->KeyFields = "owner";
  lookup->LookupKeyFields = "id";
  lookup->LookupResultField = "name";
  orders.Fields().Add(std::move(lookup));
  orders.Open();
  orders.AppendRecord({2});
  orders.AppendRecord({7});
  names.First();
  orders.First();
  EXPECT_EQ(orders.FieldByName("ownerName")->AsString(), "bob");
  orders.Next();
  EXPECT_TRUE(orders.FieldByName("ownerName")->IsNull()) << "no such owner";
  EXPECT_EQ(names.FieldByName("name")->AsString(), "ann") << "the lookup leaves the other dataset alone";
}

TEST(DataSetFields, ALookupDataSetThatGoesIsForgotten) {
  TQxMemDataSet orders;
  orders.FieldDefs().Add("owner", ftInteger);
  auto owner = std::make_unique<TIntegerField>();
  owner->FieldName = "owner";
  orders.Fields().Add(std::move(owner));
  auto lookup = std::make_unique<TStringField>(20);
  lookup->FieldName = "ownerName";
  lookup->FieldKind = TFieldKind::fkLookup;
  lookup->KeyFields = "owner";
  lookup->LookupKeyFields = "id";
  lookup->LookupResultField = "name";
  TField* field = orders.Fields().Add(std::move(lookup));
  {
    auto names = std::make_unique<TQxMemDataSet>();
    DefinePeople(*names);
    names->Open();
    AddPeople(*names, {{1, "ann"}});
    field->LookupDataSet = names.get();
    orders.Open();
    orders.AppendRecord({1});
    EXPECT_EQ(field->AsString(), "ann");
  }
  EXPECT_EQ(field->LookupDataSet, nullptr);
  orders.Refresh();
  EXPECT_TRUE(field->IsNull());
}

TEST(DataLinks, AWindowOfRecordsFollowsTheCursor) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}});
  TDataSource source(&ds);
  RecordingLink link;
  link.SetBufferCount(3);
  link.SetDataSource(&source);
  ds.First();
  EXPECT_EQ(ds.BufferCount(), 3);
  EXPECT_EQ(link.RecordCount(), 3);
  EXPECT_EQ(link.ActiveRecord(), 0);
  ds.MoveBy(2);
  EXPECT_EQ(link.ActiveRecord(), 2);
  link.events.clear();
  ds.Next();
  EXPECT_EQ(link.ActiveRecord(), 2) << "the window scrolled by one";
  EXPECT_EQ(link.events, QStringList({"scrolled:1"})) << "one row forward";
  // Reading another row of the window, as a grid paints it.
  link.SetActiveRecord(0);
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "b");
  link.SetActiveRecord(2);
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "d");
  link.events.clear();
  ds.Edit();
  ds.FieldByName("name")->SetAsString("D");
  ds.Post();
  EXPECT_EQ(link.events.first(), "editing:1");
  EXPECT_TRUE(link.events.contains("record:name"));
  EXPECT_TRUE(link.events.contains("editing:0"));
  ds.Close();
  EXPECT_EQ(link.events.last(), "active:0");
}

TEST(DataLinks, DisabledControlsHearOneChangeAtTheEnd) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  TDataSource source(&ds);
  RecordingLink link;
  link.SetDataSource(&source);
  link.events.clear();
  ds.DisableControls();
  ds.DisableControls();
  AddPeople(ds, {{1, "a"}, {2, "b"}});
  ds.First();
  ds.Next();
  ds.EnableControls();
  EXPECT_TRUE(link.events.isEmpty()) << "still disabled once";
  ds.EnableControls();
  EXPECT_EQ(link.events, QStringList({"changed"}));
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "b");
}

TEST(IndexDefs, FindsAnIndexByNameAndByLeadingFields) {
  TQxMemDataSet ds;
  TIndexDefs& defs = ds.IndexDefs();
  defs.Add("byExpr", "", TIndexOption::ixExpression)->Expression = "upper(name)";
  defs.Add("pk", "id", TIndexOption::ixPrimary | TIndexOption::ixUnique);
  defs.Add("byName", "Name;id", TIndexOption::ixCaseInsensitive);
  EXPECT_EQ(defs.IndexOf("PK"), 1);
  EXPECT_EQ(defs.Find("missing"), nullptr);
  EXPECT_EQ(defs.GetIndexForFields("id", false), defs.Find("pk"));
  EXPECT_EQ(defs.GetIndexForFields("name", false), defs.Find("byName")) << "names compare without case";
  EXPECT_EQ(defs.GetIndexForFields("id", true), nullptr) << "pk does not ignore case";
  EXPECT_EQ(defs.GetIndexForFields("name;id;x", false), nullptr) << "more fields than any index has";
  EXPECT_EQ(defs.GetIndexForFields("", false), nullptr);
  TIndexDefs copy;
  copy.Assign(defs);
  ASSERT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.Items(0)->Expression, "upper(name)");
  EXPECT_NE(copy.Items(0), defs.Items(0));
}
