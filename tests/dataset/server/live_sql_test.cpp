// The statements a live edit sends: which columns the WHERE compares in each update mode,
// NULL old values, text and image columns left out, and key-only mode without keys.
#include "access/QorixExceptions.h"
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
      {"all columns but text and image", upWhereAll, "'a'",
       "UPDATE sample..l_modes SET name='b' WHERE 1=1 AND id=1 AND name='a'"},
      {"a NULL old value", upWhereAll, "NULL", "UPDATE sample..l_modes SET name='b' WHERE 1=1 AND id=1 AND name IS NULL"},
      {"only the changed column", upWhereChanged, "'a'", "UPDATE sample..l_modes SET name='b' WHERE 1=1 AND name='a'"},
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
