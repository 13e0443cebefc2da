// The change log of TQxAuditDataSet: a scenario table of edits, inserts, deletes and cancels
// against the rows the log must hold, plus the log's own fields beside same-named data columns.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataset/QxDataSetErrors.h"

namespace {
// The log rows as "delta:bookmark:name" in log order.
QStringList LogRows(TQxAuditDataSet& ds) {
  QStringList out;
  TQxCustomMemDataSet& log = ds.Log();
  log.First();
  while (!log.Eof()) {
    out << QStringLiteral("%1:%2:%3")
               .arg(ds.LogDeltaField()->AsInteger())
               .arg(ds.LogBookmarkField()->AsInteger())
               .arg(log.FieldByName("name")->AsString());
    log.Next();
  }
  return out;
}

void GoTo(TDataSet& ds, int id) {
  ASSERT_TRUE(ds.Locate("id", id, {}));
}

void EditName(TDataSet& ds, int id, const QString& name, bool post = true) {
  GoTo(ds, id);
  ds.Edit();
  ds.FieldByName("name")->SetAsString(name);
  if (post)
    ds.Post();
  else
    ds.Cancel();
}

struct Scenario {
  const char* name;
  std::function<void(TQxAuditDataSet&)> steps;
  QStringList log;
};
}  // namespace

TEST(ChangeLog, Scenarios) {
  const Scenario scenarios[] = {
      {"edit twice keeps the first old values",
       [](TQxAuditDataSet& d) {
         EditName(d, 2, "b1");
         EditName(d, 2, "b2");
       },
       {"0:2:b"}},
      {"insert, post, delete cancels out",
       [](TQxAuditDataSet& d) {
         d.AppendRecord({4, "d"});
         GoTo(d, 4);
         d.Delete();
       },
       {}},
      {"edit then delete becomes a delete with the old values",
       [](TQxAuditDataSet& d) {
         EditName(d, 1, "a1");
         GoTo(d, 1);
         d.Delete();
       },
       {"2:1:a"}},
      {"cancelled edit leaves nothing", [](TQxAuditDataSet& d) { EditName(d, 3, "x", false); }, {}},
      {"cancelled edit of a logged record keeps the older row",
       [](TQxAuditDataSet& d) {
         EditName(d, 3, "c1");
         EditName(d, 3, "c2", false);
       },
       {"0:3:c"}},
      {"cancelled insert leaves nothing",
       [](TQxAuditDataSet& d) {
         d.Append();
         d.FieldByName("id")->SetAsInteger(8);
         d.Cancel();
       },
       {}},
      {"insert carries the id the record receives",
       [](TQxAuditDataSet& d) {
         d.First();
         d.Insert();
         d.FieldByName("id")->SetAsInteger(0);
         d.Post();
         EXPECT_EQ(TQxCustomMemDataSet::IdOfBookmark(d.Bookmark()), 4);
       },
       {"1:4:"}},
      {"cancel drops the row made for it even when the log's cursor moved",
       [](TQxAuditDataSet& d) {
         EditName(d, 1, "a1");
         GoTo(d, 2);
         d.Edit();
         d.Log().First();  // the log now stands on the row of record 1
         d.Cancel();
       },
       {"0:1:a"}},
      {"delete of an unlogged record",
       [](TQxAuditDataSet& d) {
         GoTo(d, 2);
         d.Delete();
       },
       {"2:2:b"}},
  };
  // The memory dataset builds its log when it opens; a bare audit dataset, which nothing opens
  // a log for, must keep the same log.
  for (const bool bare : {false, true}) {
    for (const Scenario& s : scenarios) {
      std::unique_ptr<TQxAuditDataSet> owner =
          bare ? std::make_unique<TQxAuditDataSet>() : std::make_unique<TQxMemDataSet>();
      TQxAuditDataSet& ds = *owner;
      DefinePeople(ds);
      ds.Open();
      AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}});
      ds.EmptyDataSet();  // start from a clean log with fresh ids
      AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}});
      ds.Log().EmptyDataSet();
      s.steps(ds);
      EXPECT_EQ(LogRows(ds), s.log) << s.name << (bare ? " (bare audit dataset)" : "");
    }
  }
}

TEST(ChangeLog, EventsFireOncePerEditAndCancel) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}});
  int beforeEdit = 0, afterCancel = 0;
  ds.BeforeEdit = [&](TDataSet&) { ++beforeEdit; };
  ds.AfterCancel = [&](TDataSet&) { ++afterCancel; };
  ds.Edit();
  ds.Cancel();
  EXPECT_EQ(beforeEdit, 1);
  EXPECT_EQ(afterCancel, 1);
}

TEST(ChangeLog, DataColumnsNamedLikeTheLogFieldsDoNotCollide) {
  TQxMemDataSet ds;
  ds.SetName("mem");
  ds.FieldDefs().Add("id", ftInteger);
  ds.FieldDefs().Add("name", ftString, 10);
  ds.FieldDefs().Add("Delta", ftInteger);
  ds.FieldDefs().Add("Bookmark", ftInteger);
  ds.FieldDefs().Add("SavePoint", ftString, 5);
  ds.Open();
  ds.AppendRecord({1, "a", 100, 200, "sp"});
  ds.Log().EmptyDataSet();
  EditName(ds, 1, "z");
  TQxCustomMemDataSet& log = ds.Log();
  log.First();
  EXPECT_EQ(log.RecordCount(), 1);
  EXPECT_EQ(ds.LogDeltaField()->AsInteger(), 0);
  EXPECT_EQ(ds.LogBookmarkField()->AsInteger(), 1);
  EXPECT_EQ(log.FieldByName("Delta")->AsInteger(), 100) << "the data column keeps its old value";
  EXPECT_EQ(log.FieldByName("Bookmark")->AsInteger(), 200);
  EXPECT_EQ(log.FieldByName("SavePoint")->AsString(), "sp");
  GoTo(ds, 1);
  ds.Delete();
  log.First();
  EXPECT_EQ(ds.LogDeltaField()->AsInteger(), 2)
      << "the second delete finds the row by its own bookmark field";
}

TEST(ChangeLog, FailedDeleteLeavesNoDeleteEntry) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}});
  ds.Log().EmptyDataSet();
  EditName(ds, 1, "a1");
  ds.AppendRecord({4, "d"});
  const auto failingDelete = [&](int id) {
    GoTo(ds, id);
    // The scroll that the delete announces fails, after the log was already written for it.
    ds.BeforeScroll = [](TDataSet&) { DatabaseError("locked"); };
    EXPECT_THROW(ds.Delete(), EDatabaseError);
    ds.BeforeScroll = nullptr;
  };
  failingDelete(2);  // unlogged record: the appended delete row goes again
  failingDelete(1);  // logged edit: back to a modification
  failingDelete(4);  // logged insert: the insert row comes back
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(LogRows(ds), QStringList({"0:1:a", "1:4:"}));
}

TEST(ChangeLog, EmptyDataSetEmptiesTheLogAndEmptyOnCloseToo) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}});
  EXPECT_EQ(ds.Log().RecordCount(), 1);
  ds.EmptyDataSet();
  EXPECT_EQ(ds.Log().RecordCount(), 0);
  AddPeople(ds, {{1, "a"}});
  ds.EmptyOnClose = true;
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.Log().RecordCount(), 0);
}
