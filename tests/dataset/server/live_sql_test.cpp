// The statements a live edit sends: which columns the WHERE compares in each update mode,
// NULL old values, text and image columns left out, and key-only mode without keys.
#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxStoredProc.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class LiveSqlTest : public ServerDataSetTest {};

TEST_F(LiveSqlTest, WhereClauseFollowsTheUpdateMode) {
  Exec(*check_, QStringLiteral("create table l_modes (id int not null, name varchar(20) null, notes text null, "
                               "pic image null, constraint l_modes_pk primary key (id))"));
  struct Case {
    const char* name;
    TUpdateMode mode;
    const char* oldName;  // SQL literal of the name before the edit
    const char* statement;
  } cases[] = {
      {"all columns but image, text by its start and length", upWhereAll, "'a'",
       "UPDATE sample..l_modes SET name='b' WHERE 1=1 AND id=1 AND name='a' AND CONVERT(VARCHAR, notes)='long text' "
       "AND DATALENGTH(notes)=9"},
      {"a NULL old value", upWhereAll, "NULL",
       "UPDATE sample..l_modes SET name='b' WHERE 1=1 AND id=1 AND name IS NULL AND CONVERT(VARCHAR, notes)='long text' "
       "AND DATALENGTH(notes)=9"},
      {"the key and the changed column", upWhereChanged, "'a'",
       "UPDATE sample..l_modes SET name='b' WHERE 1=1 AND id=1 AND name='a'"},
      {"only the key", upWhereKeyOnly, "'a'", "UPDATE sample..l_modes SET name='b' WHERE 1=1 AND id=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec(*check_, QStringLiteral("delete l_modes insert l_modes values (1, %1, 'long text', 0x01)").arg(c.oldName));
    TQxTable t;
    t.SetName(QStringLiteral("l_modes_ds"));
    t.DbName = QStringLiteral("db");
    t.SetTableName(QStringLiteral("l_modes"));
    t.UpdateMode = c.mode;
    t.Open();
    t.Edit();
    t.FieldByName("name")->SetAsString(QStringLiteral("b"));
    t.Post();
    EXPECT_EQ(t.LastStatement(), QString::fromUtf8(c.statement));
    EXPECT_EQ(Rows(*check_, QStringLiteral("select name, notes from l_modes")), QStringList({"b|long text"}));
  }
}

TEST_F(LiveSqlTest, KeyOnlyWithoutAnyKeyIsRefused) {
  Exec(*check_, QStringLiteral("create table l_nokey (a int null, b int null) insert l_nokey values (1, 2)"));
  TQxTable t;
  t.SetName(QStringLiteral("l_nokey_ds"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("l_nokey"));
  t.UpdateMode = upWhereKeyOnly;
  t.Open();
  t.Edit();
  t.FieldByName("b")->SetValue(3);
  try {
    t.Post();
    FAIL() << "posted without a key";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains("UpdateMode is upWhereKeyOnly but no Index found or Prime Fields assigned"));
  }
  t.Cancel();
  // Named key columns make it work.
  t.PrimeFields = QStringList{QStringLiteral("a")};
  t.Edit();
  t.FieldByName("b")->SetValue(3);
  t.Post();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select a, b from l_nokey")), QStringList({"1|3"}));
}

// Two users edit one row: the second post finds the row changed and is refused, whatever column
// the first user changed (text included, also past its first characters), and nothing the
// first user wrote is overwritten. Without another user's change the same edit goes through.
TEST_F(LiveSqlTest, AnotherUsersChangeIsNeverOverwritten) {
  Exec(*check_, QStringLiteral("create table l_two (id int not null, name varchar(20) null, notes text null, "
                               "constraint l_two_pk primary key (id))"));
  const QString longNotes = QStringLiteral("0123456789012345678901234567890123456789 the end");
  struct Case {
    const char* name;
    TUpdateMode mode;
    bool checkDups;
    const char* column;       // what this user changes
    const char* otherChange;  // what the other user did first (empty: nothing)
    const char* notes = nullptr;  // the row's text (default: the long notes)
  } cases[] = {
      {"text changed past its start", upWhereAll, true, "name", "update l_two set notes = '%1 the end, revised'"},
      {"text changed past its start, same length", upWhereAll, false, "name", "update l_two set notes = '%1 the END'"},
      {"text changed past its start, same length, counted", upWhereAll, true, "name",
       "update l_two set notes = '%1 the END'"},
      {"text changed past its start, same length, only text edited", upWhereChanged, false, "notes",
       "update l_two set notes = '%1 the END'"},
      {"text changed past its start, no count", upWhereAll, false, "name", "update l_two set notes = '%1 the end, revised'"},
      {"text changed at its start", upWhereAll, false, "name", "update l_two set notes = 'x%1'"},
      {"text changed, only text edited", upWhereChanged, false, "notes", "update l_two set notes = '%1 the end, revised'"},
      {"name changed, only name edited", upWhereChanged, true, "name", "update l_two set name = 'other'"},
      {"text made NULL", upWhereAll, false, "name", "update l_two set notes = null"},
      {"nobody else changed it", upWhereAll, true, "name", ""},
      {"nobody else, only text edited", upWhereChanged, false, "notes", ""},
      // LIKE's wildcards and a quote in a long text stand for themselves.
      {"nobody else, wildcards in the text", upWhereAll, true, "name", "",
       "100% [sure] that a_b is not a%b, isn''t it, ending in blanks  "},
      {"wildcards in the text, one of them changed", upWhereAll, false, "name",
       "update l_two set notes = '100% [sure] that a_b is not a%c, isn''t it, ending in blanks  '",
       "100% [sure] that a_b is not a%b, isn''t it, ending in blanks  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec(*check_, QStringLiteral("delete l_two insert l_two values (1, 'a', '%1')")
                      .arg(c.notes ? QString::fromUtf8(c.notes) : longNotes.left(40) + " the end"));
    TQxTable t;
    t.SetName(QStringLiteral("l_two_ds"));
    t.DbName = QStringLiteral("db");
    t.SetTableName(QStringLiteral("l_two"));
    t.UpdateMode = c.mode;
    t.CheckDups = c.checkDups;
    t.Open();
    if (*c.otherChange) Exec(*check_, QString::fromUtf8(c.otherChange).arg(longNotes.left(40)));
    const QStringList before = Rows(*check_, QStringLiteral("select name, notes from l_two"));
    t.Edit();
    t.FieldByName(QString::fromUtf8(c.column))->SetAsString(QStringLiteral("mine"));
    if (*c.otherChange) {
      EXPECT_THROW(t.Post(), Exception) << t.LastStatement().toStdString();
      EXPECT_EQ(Rows(*check_, QStringLiteral("select name, notes from l_two")), before);
      // The refused edit is still there to be corrected or cancelled.
      EXPECT_EQ(t.State(), TDataSetState::dsEdit);
      t.Cancel();
    } else {
      ASSERT_NO_THROW(t.Post());
      EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from l_two where %1 like 'mine'").arg(c.column)),
                QStringList({"1"}));
    }
  }
}

// A trigger that rolls the transaction back, with or without an error, refuses the post: the
// server keeps its row, the record stays in edit and the connection's transaction flag tells
// the server's truth, so the next statement runs in a transaction of its own again (a refused
// change of two rows is rolled back, not left committed).
TEST_F(LiveSqlTest, ATriggersRollbackRefusesThePostAndLeavesNoStaleTransaction) {
  Exec(*check_, QStringLiteral("create table l_trig (id int not null, name varchar(20) null)"));
  Exec(*check_, QStringLiteral("create trigger l_trig_upd on l_trig for update as "
                               "if exists (select 1 from inserted where name = 'silent') rollback transaction "
                               "if exists (select 1 from inserted where name = 'loud') "
                               "begin rollback transaction raiserror 50001 'refused by the trigger' end"));
  struct Case {
    const char* name;
    bool useTransaction;
  } cases[] = {{"silent", true}, {"silent", false}, {"loud", true}, {"loud", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.useTransaction ? " soUseTransaction" : ""));
    Exec(*check_, QStringLiteral("delete l_trig insert l_trig values (1, 'a') insert l_trig values (2, 'b') "
                                 "insert l_trig values (2, 'b')"));
    TQxTable t;
    t.SetName(QStringLiteral("l_trig_ds"));
    t.DbName = QStringLiteral("db");
    t.SetTableName(QStringLiteral("l_trig"));
    t.CheckDups = false;
    t.SQLOptions = c.useTransaction ? TSQLOptions{soUseTransaction} : TSQLOptions{};
    t.Open();
    ASSERT_TRUE(t.Locate(QStringLiteral("id"), 1, {}));
    t.Edit();
    t.FieldByName("name")->SetAsString(QString::fromUtf8(c.name));
    EXPECT_THROW(t.Post(), Exception);
    EXPECT_EQ(t.State(), TDataSetState::dsEdit);
    t.Cancel();
    EXPECT_EQ(db_->InTransaction(), db_->GetTranCount() > 0);
    EXPECT_FALSE(db_->InTransaction());
    // Two server rows match this record: the change is refused and rolled back.
    ASSERT_TRUE(t.Locate(QStringLiteral("id"), 2, {}));
    t.Edit();
    t.FieldByName("name")->SetAsString(QStringLiteral("twice"));
    EXPECT_THROW(t.Post(), Exception);
    t.Cancel();
    EXPECT_EQ(Rows(*check_, QStringLiteral("select id, name from l_trig order by id")),
              QStringList({"1|a", "2|b", "2|b"}));
    // An ordinary change goes through.
    ASSERT_TRUE(t.Locate(QStringLiteral("id"), 1, {}));
    t.Edit();
    t.FieldByName("name")->SetAsString(QStringLiteral("fine"));
    t.Post();
    EXPECT_EQ(Rows(*check_, QStringLiteral("select name from l_trig where id = 1")), QStringList({"fine"}));
    EXPECT_FALSE(db_->InTransaction());
  }
}

// With soUseStoredProcsForUpdates a live insert, edit and delete go through the update
// object's procedures (by parameter name, OLD_ names taking the value before the change);
// without an update object the post is refused.
TEST_F(LiveSqlTest, StoredProcedureUpdatesApplyEachChange) {
  Exec(*check_, QStringLiteral("create table l_spu (id int not null, name varchar(20) null, "
                               "constraint l_spu_pk primary key (id)) insert l_spu values (1, 'one')"));
  Exec(*check_, QStringLiteral("create procedure l_spu_ins @id int, @name varchar(20) as insert l_spu values (@id, @name)"));
  Exec(*check_, QStringLiteral("create procedure l_spu_upd @OLD_id int, @name varchar(20) as "
                               "update l_spu set name = @name where id = @OLD_id"));
  Exec(*check_, QStringLiteral("create procedure l_spu_del @OLD_id int as delete l_spu where id = @OLD_id"));
  TQxStoredProc ins, upd, del;
  const struct {
    TQxStoredProc* proc;
    const char* name;
  } procs[] = {{&ins, "l_spu_ins"}, {&upd, "l_spu_upd"}, {&del, "l_spu_del"}};
  for (const auto& p : procs) {
    p.proc->SetName(QStringLiteral("sp_") + QString::fromUtf8(p.name));
    p.proc->DbName = QStringLiteral("db");
    p.proc->SetStoredProcName(QString::fromUtf8(p.name));
  }
  TQorixUpdateSQL object;
  object.SetDatabase(db_.get());
  object.UpdateStoredProcs.UseStoredProcs = true;
  object.UpdateStoredProcs.InsertStoredProc = QStringLiteral("sp_l_spu_ins");
  object.UpdateStoredProcs.ModifyStoredProc = QStringLiteral("sp_l_spu_upd");
  object.UpdateStoredProcs.DeleteStoredProc = QStringLiteral("sp_l_spu_del");
  TQxTable t;
  t.SetName(QStringLiteral("l_spu_ds"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("l_spu"));
  t.CheckDups = false;
  t.SQLOptions = TSQLOptions{soUseStoredProcsForUpdates, soUseTransaction};
  t.Open();
  t.Edit();
  t.FieldByName("name")->SetAsString(QStringLiteral("uno"));
  EXPECT_THROW(t.Post(), Exception);  // no update object
  t.Cancel();
  t.SetUpdateObject(&object);
  t.Edit();
  t.FieldByName("name")->SetAsString(QStringLiteral("uno"));
  t.Post();
  t.Append();
  t.FieldByName("id")->SetValue(2);
  t.FieldByName("name")->SetAsString(QStringLiteral("two"));
  t.Post();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, name from l_spu order by id")), QStringList({"1|uno", "2|two"}));
  t.First();
  t.Delete();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, name from l_spu order by id")), QStringList({"2|two"}));
  EXPECT_FALSE(db_->InTransaction());
}

// A text or image longer than the connection's TextSize is read only in part: another column
// of its row is still changed (the row is found by the text's start and a length at least as
// long), and a change of the cut value itself, which would write back only the part read, is
// refused with the reason.
TEST_F(LiveSqlTest, ValueReadInPartKeepsItsRestOnTheServer) {
  Exec(*check_, QStringLiteral("create table l_cut (id int not null, name varchar(20) null, notes text null, "
                               "pic image null, constraint l_cut_pk primary key (id))"));
  Exec(*check_, QStringLiteral("insert l_cut values (1, 'a', '%1', 0x%2)")
                    .arg(QStringLiteral("0123456789").repeated(10000), QStringLiteral("0a1b2c3d4e").repeated(10000)));
  const QString sizes = QStringLiteral("select name, datalength(notes), datalength(pic) from l_cut");
  TQxTable t;
  t.SetName(QStringLiteral("l_cut_ds"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("l_cut"));
  t.Open();
  ASSERT_LT(t.FieldByName("notes")->AsString().size(), 100000) << "the text is read in full: no cut to test";
  t.Edit();
  t.FieldByName("name")->SetAsString(QStringLiteral("b"));
  t.Post();
  EXPECT_EQ(Rows(*check_, sizes), QStringList({"b|100000|50000"}));
  for (const char* cut : {"notes", "pic"}) {
    SCOPED_TRACE(cut);
    t.Edit();
    auto* f = static_cast<TBlobField*>(t.FieldByName(QString::fromLatin1(cut)));
    f->SetAsBytes(f->AsBytes() + "x");
    try {
      t.Post();
      ADD_FAILURE() << "a value read in part was written back";
    } catch (const Exception& e) {
      EXPECT_TRUE(QString(e.what()).contains(QStringLiteral("TextSize"))) << e.what();
    }
    t.Cancel();
    EXPECT_EQ(Rows(*check_, sizes), QStringList({"b|100000|50000"}));
  }
  t.Delete();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from l_cut")), QStringList({"0"}));
  Exec(*check_, QStringLiteral("drop table l_cut"));
}
