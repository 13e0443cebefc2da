// TDataSetModel over memory datasets: columns, fetching on demand without moving the
// dataset, filters and master links, the insert row, editing through setData and the
// current-row tracking; Qt's model tester watches every case for broken model signals.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

#include "DataSetFixture.h"
#include "access/UiServices.h"
#include "dataset/DataSetModel.h"

namespace {
struct Model : ::testing::Test {
  void SetUp() override {
    DefinePeople(ds);
    ds.Open();
    AddPeople(ds, {{1, "ann"}, {2, "bob"}, {3, "cy"}, {4, "dee"}, {5, "eve"}});
    ds.First();
    source.SetDataSet(&ds);
    model.SetDataSource(&source);
    QObject::connect(&model, &QAbstractItemModel::modelReset, [this] { ++resets; });
  }
  // The name column as the model shows it.
  QStringList Names() const {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r) out << model.data(model.index(r, 1)).toString();
    return out;
  }
  TQxMemDataSet ds;
  TDataSource source;
  TDataSetModel model;
  QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
  int resets = 0;
};
}  // namespace

TEST(ModelColumns, AreTheVisibleFieldsWithTheirLabels) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.FieldDefs().Add("secret", ftString, 5);
  for (const char* name : {"id", "name", "secret"}) {
    std::unique_ptr<TField> f =
        CreateFieldForType(ds.FieldDefs().Find(name)->DataType, ds.FieldDefs().Find(name)->Size);
    f->FieldName = name;
    ds.Fields().Add(std::move(f));
  }
  ds.FieldByName("id")->DisplayLabel = "No.";
  ds.FieldByName("secret")->Visible = false;
  TDataSource source(&ds);
  TDataSetModel model;
  model.SetDataSource(&source);
  EXPECT_EQ(model.columnCount(), 0) << "closed";
  ds.Open();
  ASSERT_EQ(model.columnCount(), 2);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "No.");
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "name");
  EXPECT_EQ(model.ColumnField(1), ds.FieldByName("name"));
}

TEST_F(Model, FetchesInBatchesWithoutMovingTheDataSet) {
  ds.Next();
  ds.Next();  // on "cy"
  model.BatchSize = 2;
  EXPECT_EQ(model.rowCount(), 0);
  ASSERT_TRUE(model.canFetchMore());
  model.fetchMore();
  EXPECT_EQ(Names(), QStringList({"ann", "bob"}));
  model.fetchMore();
  model.fetchMore();
  EXPECT_EQ(Names(), QStringList({"ann", "bob", "cy", "dee", "eve"}));
  EXPECT_FALSE(model.canFetchMore());
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "cy");
  EXPECT_EQ(model.CurrentRow(), 2);
  EXPECT_EQ(model.data(model.index(0, 0), Qt::EditRole), QVariant(1));
  EXPECT_EQ(model.data(model.index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
            Qt::AlignRight);
}

TEST_F(Model, EmptyAndClosedDataSetsShowNothing) {
  ds.EmptyDataSet();
  model.FetchAll();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_FALSE(model.canFetchMore());
  ds.Close();
  EXPECT_EQ(model.columnCount(), 0);
  EXPECT_FALSE(model.canFetchMore());
}

TEST_F(Model, MovingTheDataSetKeepsTheRowsAndReportsTheRow) {
  model.FetchAll();
  std::vector<int> reported;
  model.OnCurrentRowChanged = [&](int row) { reported.push_back(row); };
  const int before = resets;
  ds.Next();
  ds.Last();
  ds.First();
  ASSERT_TRUE(model.SetCurrentRow(3));
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "dee");
  EXPECT_EQ(reported, std::vector<int>({1, 4, 0, 3}));
  EXPECT_EQ(resets, before) << "movement alone never resets the rows";
  EXPECT_FALSE(model.SetCurrentRow(9));
}

TEST_F(Model, FilterDecidesTheRows) {
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) { accept = d.FieldByName("id")->AsInteger() % 2 == 1; };
  ds.SetFiltered(true);
  model.FetchAll();
  EXPECT_EQ(Names(), QStringList({"ann", "cy", "eve"}));
  ds.SetFiltered(false);
  model.FetchAll();
  EXPECT_EQ(Names().size(), 5);
}

TEST_F(Model, AFilterChangedBehindItsBackIsReadAgain) {
  ds.OnFilterRecord = [](TDataSet&, bool& accept) { accept = true; };
  ds.SetFiltered(true);
  model.BatchSize = 2;
  model.fetchMore();  // ann, bob
  // A new handler without ContentChanged: "bob", the last row read, is no longer shown.
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) { accept = d.FieldByName("id")->AsInteger() != 2; };
  model.FetchAll();
  EXPECT_EQ(Names(), QStringList({"ann", "cy", "dee", "eve"}));
}

TEST_F(Model, InsertAndAppendShowALiveRowUntilPosted) {
  model.FetchAll();
  ds.Next();  // on "bob", row 1
  ds.Insert();
  ASSERT_EQ(model.rowCount(), 6);
  EXPECT_EQ(model.CurrentRow(), 1);
  ds.FieldByName("id")->SetAsInteger(9);
  ds.FieldByName("name")->SetAsString("new");
  EXPECT_EQ(model.data(model.index(1, 1)).toString(), "new");
  EXPECT_EQ(model.data(model.index(2, 1)).toString(), "bob");
  ds.Post();
  model.FetchAll();
  EXPECT_EQ(Names(), QStringList({"ann", "new", "bob", "cy", "dee", "eve"}));
  ds.Append();
  EXPECT_EQ(model.CurrentRow(), 6) << "an appended record shows last";
  ds.FieldByName("name")->SetAsString("tail");
  EXPECT_EQ(model.data(model.index(6, 1)).toString(), "tail");
  ds.Cancel();
  model.FetchAll();
  EXPECT_EQ(model.rowCount(), 6);
}

TEST_F(Model, SetDataEditsTheRowsRecord) {
  TRecordingUiServices ui;
  model.AutoPost = true;
  model.FetchAll();
  ASSERT_TRUE(model.flags(model.index(3, 1)) & Qt::ItemIsEditable);
  EXPECT_TRUE(model.setData(model.index(3, 1), "DEE"));
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse) << "posted at once";
  model.FetchAll();
  EXPECT_EQ(Names().at(3), "DEE");
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "DEE");

  ds.FieldByName("id")->ReadOnly = true;
  EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
  EXPECT_FALSE(model.setData(model.index(0, 0), 7));

  // A refused post is an error shown to the user and a false answer, never a silent success.
  ds.FieldByName("id")->ReadOnly = false;
  TQorixConstraintItem& c = ds.Constraints().Add();
  c.FieldName = "id";
  c.Operator = "<";
  c.Value = 100;
  c.ErrorMessage = "id too large";
  EXPECT_FALSE(model.setData(model.index(0, 0), 500));
  ASSERT_EQ(ui.Events(TRecordingUiServices::Event::kMessageBox).size(), 1u);
  EXPECT_TRUE(ui.Events(TRecordingUiServices::Event::kMessageBox)[0].text.contains("id too large"));
  ds.Cancel();
}

// By default a row's cells stay in the record until the row is left: an inserted row goes to
// the dataset once, with every value; a refused post keeps the row, its values and its place;
// a cell editor still open is written into the record before any post or move.
TEST_F(Model, ARowIsPostedWhenItIsLeft) {
  TRecordingUiServices ui;
  TQorixConstraintItem& c = ds.Constraints().Add();
  c.FieldName = "id";
  c.Operator = "<";
  c.Value = 100;
  c.ErrorMessage = "id too large";
  model.FetchAll();
  int posts = 0;
  ds.BeforePost = [&](TDataSet&) { ++posts; };
  ds.Append();
  const int row = model.CurrentRow();
  ASSERT_EQ(row, 5);
  EXPECT_TRUE(model.setData(model.index(row, 0), 500));
  EXPECT_TRUE(model.setData(model.index(row, 1), "fay"));
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_EQ(posts, 0);
  // Refused on leaving: still inserting, the values and the row kept.
  EXPECT_THROW(model.SetCurrentRow(0), Exception);
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_EQ(model.CurrentRow(), row);
  EXPECT_EQ(model.data(model.index(row, 0)).toInt(), 500);
  EXPECT_EQ(model.data(model.index(row, 1)).toString(), "fay");
  // Corrected and left: one post.
  EXPECT_TRUE(model.setData(model.index(row, 0), 6));
  posts = 0;
  EXPECT_TRUE(model.SetCurrentRow(0));
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  model.FetchAll();
  EXPECT_EQ(Names(), QStringList({"ann", "bob", "cy", "dee", "eve", "fay"}));
  // An existing row edited in two cells is written once, when it is left.
  posts = 0;
  EXPECT_TRUE(model.setData(model.index(1, 1), "BOB"));
  EXPECT_TRUE(model.setData(model.index(1, 0), 22));
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  EXPECT_TRUE(model.SetCurrentRow(2));
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(Names().at(1), "BOB");

  // The view's open editor is asked for before a post from elsewhere and before a move, never
  // during the model's own reading.
  bool editorOpen = true;
  model.OnUpdateData = [&] {
    if (!editorOpen) return;
    editorOpen = false;
    model.setData(model.index(model.CurrentRow(), 1), "typed late");
  };
  ds.Edit();
  ds.Post();
  EXPECT_FALSE(editorOpen);
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "typed late");
  editorOpen = true;
  // Another model's reading, and a model's own reading (with the same editor hook).
  TDataSetModel other;
  other.OnUpdateData = model.OnUpdateData;
  other.SetDataSource(&source);
  other.FetchAll();
  EXPECT_EQ(other.FetchedRows(), 6);
  EXPECT_TRUE(editorOpen) << "asked during a scan";
  other.OnUpdateData = nullptr;
  model.OnUpdateData = nullptr;
  EXPECT_EQ(ui.Events(TRecordingUiServices::Event::kMessageBox).size(), 0u);
}

TEST_F(Model, ShowsTheEditedRecordLive) {
  model.FetchAll();
  ds.Next();
  ds.Edit();
  ds.FieldByName("name")->SetAsString("typing");
  EXPECT_EQ(model.data(model.index(1, 1)).toString(), "typing");
  EXPECT_FALSE(model.canFetchMore()) << "all fetched, and reading would post the edit";
  ds.Cancel();
  model.FetchAll();
  EXPECT_EQ(Names().at(1), "bob");
}

TEST_F(Model, AnotherModelsScanLeavesThisOneAlone) {
  TDataSetModel other;
  other.SetDataSource(&source);
  model.BatchSize = 2;
  model.fetchMore();
  const int before = resets;
  other.FetchAll();
  EXPECT_EQ(resets, before);
  EXPECT_EQ(model.FetchedRows(), 2);
  EXPECT_EQ(other.FetchedRows(), 5);
}

TEST(ModelMasterDetail, DetailRowsFollowTheMaster) {
  TQxMemDataSet master;
  DefinePeople(master);
  master.Open();
  AddPeople(master, {{1, "a"}, {2, "b"}});
  TQxMemDataSet detail;
  detail.FieldDefs().Add("owner", ftInteger);
  detail.FieldDefs().Add("item", ftString, 10);
  TDataSource masterSource(&master);
  detail.SetMasterSource(&masterSource);
  detail.SetMasterFields("id");
  detail.SetIndexFieldNames("owner");
  detail.Open();
  detail.AppendRecord({1, "a1"});
  detail.AppendRecord({2, "b1"});
  detail.AppendRecord({1, "a2"});
  detail.SetFiltered(true);
  master.First();
  TDataSource detailSource(&detail);
  TDataSetModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetDataSource(&detailSource);
  model.FetchAll();
  EXPECT_EQ(model.rowCount(), 2);
  master.Next();
  model.FetchAll();
  ASSERT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), "b1");
}

TEST(ModelLifetime, ADestroyedDataSetLeavesAnEmptyModel) {
  TDataSource source;
  TDataSetModel model;
  model.SetDataSource(&source);
  {
    TQxMemDataSet ds;
    DefinePeople(ds);
    ds.Open();
    AddPeople(ds, {{1, "a"}});
    source.SetDataSet(&ds);
    model.FetchAll();
    ASSERT_EQ(model.rowCount(), 1);
  }
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 0);
  EXPECT_FALSE(model.data(model.index(0, 0)).isValid());
}
