// TFieldDataLink, the link a data-aware editor uses: showing the field as the record moves,
// editing only when the field can take a value, writing the pending value on post, and reset.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

namespace {
// An editor holding text, bound to one field through a field link.
struct Editor {
  explicit Editor(TDataSource* source, const QString& field) {
    link.OnDataChange = [this](TFieldDataLink& l) { text = l.Field() ? l.Field()->AsString() : QString(); };
    link.OnUpdateData = [this](TFieldDataLink& l) { l.Field()->SetAsString(text); };
    link.OnEditingChange = [this](TFieldDataLink&) { ++editingChanges; };
    link.SetDataSource(source);
    link.SetFieldName(field);
  }
  // The user types: the dataset goes into edit, the editor holds a pending value.
  bool Type(const QString& value) {
    if (!link.Edit()) return false;
    text = value;
    link.Modified();
    return true;
  }
  TFieldDataLink link;
  QString text;
  int editingChanges = 0;
};

struct FieldLink : ::testing::Test {
  void SetUp() override {
    DefinePeople(ds);
    ds.Open();
    AddPeople(ds, {{1, "ann"}, {2, "bob"}});
    ds.First();
  }
  TQxMemDataSet ds;
  TDataSource source{&ds};
};
}  // namespace

TEST_F(FieldLink, ShowsTheFieldAsTheRecordMoves) {
  Editor e(&source, "name");
  EXPECT_EQ(e.link.Field(), ds.FieldByName("name"));
  EXPECT_EQ(e.text, "ann");
  ds.Next();
  EXPECT_EQ(e.text, "bob");
  ds.Close();
  EXPECT_EQ(e.link.Field(), nullptr);
  EXPECT_EQ(e.text, "");
}

TEST_F(FieldLink, ThePendingValueIsWrittenOnPost) {
  Editor e(&source, "name");
  ASSERT_TRUE(e.Type("ANN"));
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  EXPECT_TRUE(e.link.FieldEditing());
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "ann") << "not written before the post";
  ds.Post();
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "ANN");
  EXPECT_FALSE(e.link.FieldEditing());
  EXPECT_EQ(e.editingChanges, 2);
}

TEST_F(FieldLink, ResetAndCancelDropThePendingValue) {
  Editor e(&source, "name");
  e.Type("typed");
  e.link.Reset();
  EXPECT_EQ(e.text, "ann");
  EXPECT_FALSE(e.link.IsModified());
  e.Type("again");
  ds.Cancel();
  EXPECT_EQ(e.text, "ann");
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "ann");
}

TEST_F(FieldLink, OnlyAFieldThatCanTakeAValueIsEdited) {
  Editor readOnlyField(&source, "id");
  ds.FieldByName("id")->ReadOnly = true;
  EXPECT_FALSE(readOnlyField.link.CanModify());
  EXPECT_FALSE(readOnlyField.Type("9"));
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse) << "no edit was started";
  Editor name(&source, "name");
  name.Type("x");
  EXPECT_FALSE(readOnlyField.link.FieldEditing()) << "the dataset edits, this field does not";
  ds.Cancel();
}

TEST_F(FieldLink, AnUnknownFieldNameRaises) {
  TFieldDataLink link;
  link.SetDataSource(&source);
  try {
    link.SetFieldName("missing");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "mem: Field 'missing' not found");
  }
}
