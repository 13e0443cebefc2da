// What a login other than sa may and may not do on the real server: system tables change only
// through the system procedures, the password column is sa's, databases are reached only as a
// user of them (or guest), object rights follow the owner and sysprotects; sa keeps every right.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using tabtest::CtClient;
using tabtest::ServerFixture;

int errorOf(CtClient& c, const std::string& sql) {
  auto batch = c.run(sql);
  const auto* e = batch.firstError();
  return e ? e->number : 0;
}

std::string scalar(CtClient& c, const std::string& sql) {
  auto batch = c.run(sql);
  if (const auto* e = batch.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  if (batch.sets.empty() || batch.sets[0].rows.empty() || !batch.sets[0].rows[0][0]) return "<none>";
  return *batch.sets[0].rows[0][0];
}

class Permissions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sa.connect());
    const char* setup[] = {
        "sp_addlogin mallory, 'mallory-pw', sample",
        "sp_addlogin outsider, 'outsider-pw'",
        "create database other",
        "create table other..t (a int null)",
        "insert other..t values (1)",
        "use sample",
        "sp_adduser mallory",
        "create table secret (a int null)",
        "insert secret values (1)",
        "create table open_t (a int null)",
        "grant select, insert on open_t to public",
        "create table revoked_t (a int null)",
        "grant select on revoked_t to public",
        "revoke select on revoked_t from mallory",
        "create view secret_v as select a from secret",
        "grant select on secret_v to mallory",
        "create procedure read_secret as select count(*) from secret",
        "grant execute on read_secret to mallory",
        "create procedure hidden as select 1",
    };
    for (const char* sql : setup) ASSERT_EQ(errorOf(sa, sql), 0) << sql;
    ASSERT_TRUE(mallory.connect("DSQUERY", "mallory", "mallory-pw"));
  }

  ServerFixture server;
  CtClient sa;
  CtClient mallory;
};

TEST_F(Permissions, WhatALoginMayAndMayNotDo) {
  struct Case {
    const char* sql;
    int error;  // 0: allowed
  } cases[] = {
      // System tables: readable, but not writable by a statement.
      {"select count(*) from master..sysobjects", 0},
      {"select name, suid from master..syslogins", 0},
      {"update master..syslogins set password = null where name = 'sa'", 259},
      {"delete master..syslogins where name = 'sa'", 259},
      {"insert master..sysusers (suid, uid, gid, name) values (99, 99, 0, 'x')", 259},
      {"update sample..sysobjects set uid = 1", 259},
      {"update sample..sysusers set uid = 1 where name = 'mallory'", 259},
      // The password column is sa's alone, however it is reached.
      {"select password from master..syslogins", 230},
      {"select * from master..syslogins", 230},
      {"select name from master..syslogins where password is not null", 230},
      {"select (select max(password) from master..syslogins)", 230},
      // Objects of another owner without a grant.
      {"select count(*) from secret", 229},
      {"select a from sample.dbo.secret", 229},
      {"select 1 where exists (select 1 from secret)", 229},
      {"select o.a from open_t o, secret s where o.a = s.a", 229},
      {"insert secret values (2)", 229},
      {"insert open_t select a from secret", 229},
      {"update secret set a = 3", 229},
      {"delete secret", 229},
      {"delete from secret where a = 1", 229},
      {"drop table secret", 10330},
      {"truncate table secret", 10330},
      {"create index i on secret (a)", 10330},
      {"alter table secret add b int null", 10330},
      {"grant select on secret to mallory", 10330},
      {"drop procedure read_secret", 10330},
      {"drop view secret_v", 10330},
      // What was granted, and only that.
      {"select count(*) from open_t", 0},
      {"insert open_t values (5)", 0},
      {"update open_t set a = 6", 229},
      {"delete open_t", 229},
      {"select count(*) from revoked_t", 229},
      {"select count(*) from sample..books", 0},
      // A view or procedure of the same owner carries the right to what it uses.
      {"select count(*) from secret_v", 0},
      {"exec read_secret", 0},
      {"exec hidden", 229},
      // Other databases: only as a user of them (other has no guest), three-part names included.
      {"select count(*) from other..t", 10351},
      {"select count(*) from other.dbo.t", 10351},
      {"insert other.dbo.t values (2)", 10351},
      {"delete other..t", 10351},
      {"use other", 10351},
      {"create table other..planted (a int null)", 10351},
      {"select count(*) from master..spt_values", 0},
      // Creating objects needs the statement permission (none granted here), in anyone's name;
      // database management is dbo's or sa's.
      {"create table dbo.planted (a int null)", 262},
      {"select * into dbo.copied from open_t", 262},
      {"create table mine (a int null)", 262},
      {"select * into other..copied from open_t", 10351},
      {"sp_adduser outsider", 17230},
      {"sp_addgroup crew", 17230},
      {"sp_configure 'allow updates to system tables', 1", 10305},
      {"sp_addlogin intruder, 'x'", 10305},
      {"sp_password 'mallory-pw', 'new', sa", 10305},
      // #tables need no permission.
      {"create table #scratch (a int null)", 0},
      {"insert #scratch values (1)", 0},
      {"drop table #scratch", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(mallory, c.sql), c.error) << c.sql;

  // Nothing the refused statements tried happened.
  EXPECT_EQ(scalar(sa, "select count(*) from sample..secret"), "1");
  EXPECT_EQ(scalar(sa, "select count(*) from other..t"), "1");
  EXPECT_EQ(scalar(sa, "select count(*) from master..syslogins where name = 'sa' and password is not null"),
            "1");
  EXPECT_EQ(scalar(sa, "select count(*) from sample..open_t where a = 6"), "0");
  EXPECT_EQ(scalar(sa, "select count(*) from sample..sysobjects where name in ('planted', 'copied')"), "0");
  EXPECT_EQ(scalar(sa, "select count(*) from other..sysobjects where name = 'copied'"), "0");
  CtClient again;
  EXPECT_TRUE(again.connect()) << "sa still logs in with its password";
}

TEST_F(Permissions, ErrorsNameTheActionAndTheObject) {
  auto batch = mallory.run("update secret set a = 3");
  ASSERT_TRUE(batch.firstError());
  EXPECT_EQ(batch.firstError()->severity, 14);
  EXPECT_EQ(batch.firstError()->text,
            "UPDATE permission denied on object secret, database sample, owner dbo.");
  batch = mallory.run("select count(*) from other..t");
  ASSERT_TRUE(batch.firstError());
  EXPECT_EQ(batch.firstError()->text, "Server user id 3 is not a valid user in database 'other'");
  // The session goes on after a refusal.
  EXPECT_EQ(scalar(mallory, "select count(*) from open_t"), "0");
}

TEST_F(Permissions, CreatingObjectsNeedsTheStatementPermissionTheDatabaseOwnerGrants) {
  struct Case {
    const char* sql;
    const char* command;  // the permission it needs
  } creates[] = {
      {"create table mine_t (a int null)", "CREATE TABLE"},
      {"select a into mine_copy from open_t", "CREATE TABLE"},
      {"create view mine_v as select a from open_t", "CREATE VIEW"},
      {"create procedure mine_p as select 1", "CREATE PROCEDURE"},
      {"create rule mine_r as @v > 0", "CREATE RULE"},
      {"create default mine_d as 0", "CREATE DEFAULT"},
  };
  // Not granted: refused, and nothing is made.
  for (const auto& c : creates) {
    auto batch = mallory.run(c.sql);
    ASSERT_TRUE(batch.firstError()) << c.sql;
    EXPECT_EQ(batch.firstError()->number, 262) << c.sql;
    EXPECT_EQ(batch.firstError()->text, std::string(c.command) + " permission denied, database sample, owner dbo.");
  }
  EXPECT_EQ(scalar(sa, "select count(*) from sample..sysobjects where name like 'mine%'"), "0");
  // Not even as guest in master, nor where the login is no user at all.
  CtClient outsider;
  ASSERT_TRUE(outsider.connect("DSQUERY", "outsider", "outsider-pw"));
  EXPECT_EQ(errorOf(outsider, "create table master..planted (a int null)"), 262);
  EXPECT_EQ(errorOf(outsider, "create procedure planted as select 1"), 262);
  EXPECT_EQ(errorOf(outsider, "create table sample..planted (a int null)"), 10351);
  // Only the database owner (or sa) grants them.
  EXPECT_EQ(errorOf(mallory, "grant create table to mallory"), 10330);
  ASSERT_EQ(errorOf(sa, "use sample grant create table, create view, create procedure, create rule, create default "
                        "to mallory"),
            0);
  EXPECT_EQ(scalar(sa, "select count(*) from sample..sysprotects where id = 0 and action in (198, 207, 222, 233, "
                       "236)"),
            "5");
  for (const auto& c : creates) EXPECT_EQ(errorOf(mallory, c.sql), 0) << c.sql;
  EXPECT_EQ(scalar(sa, "select count(*) from sample..sysobjects o, sample..sysusers u where o.uid = u.uid and u.name "
                       "= 'mallory' and o.name like 'mine%'"),
            "6");
  // The objects are mallory's own: used and dropped by mallory.
  EXPECT_EQ(errorOf(mallory, "insert mine_t values (1) select count(*) from mine_v drop table mine_t"), 0);
  // Revoked again (one of them), and granted through public instead.
  ASSERT_EQ(errorOf(sa, "use sample revoke create table from mallory"), 0);
  EXPECT_EQ(errorOf(mallory, "create table again_t (a int null)"), 262);
  ASSERT_EQ(errorOf(sa, "use sample grant create table to public"), 0);
  EXPECT_EQ(errorOf(mallory, "create table again_t (a int null)"), 0);
}

TEST_F(Permissions, ChangesThroughAViewAreJudgedOnTheView) {
  const char* setup[] = {
      "create view low_v as select a from secret where a < 100",
      "grant select, insert, update, delete on low_v to mallory",
      "create view read_v as select a from secret",
      "grant select on read_v to mallory",
  };
  for (const char* sql : setup) ASSERT_EQ(errorOf(sa, sql), 0) << sql;
  ASSERT_EQ(errorOf(sa, "grant create view to mallory"), 0);
  // Mallory's own view over dbo's open_t: no ownership chain, so open_t's own rights count too.
  ASSERT_EQ(errorOf(mallory, "create view mine_v as select a from open_t"), 0);
  struct Case {
    const char* sql;
    int error;  // 0: allowed
  } cases[] = {
      // The view's rights cover the base table of the same owner.
      {"insert low_v values (5)", 0},
      {"update low_v set a = 6 where a = 5", 0},
      {"delete low_v where a = 1", 0},
      {"update read_v set a = 7", 229},
      {"insert read_v values (8)", 229},
      {"delete read_v", 229},
      {"update secret set a = 9", 229},
      // A view of another owner: the base table needs the right as well.
      {"insert mine_v values (3)", 0},
      {"update mine_v set a = 4", 229},
      {"delete mine_v", 229},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(mallory, c.sql), c.error) << c.sql;
  auto batch = mallory.run("update read_v set a = 7");
  ASSERT_TRUE(batch.firstError());
  EXPECT_EQ(batch.firstError()->text, "UPDATE permission denied on object read_v, database sample, owner dbo.");
  batch = mallory.run("delete mine_v");
  ASSERT_TRUE(batch.firstError());
  EXPECT_EQ(batch.firstError()->text, "DELETE permission denied on object open_t, database sample, owner dbo.");
  // Only the allowed changes happened: secret keeps 6 (inserted as 5, then updated), 1 deleted.
  EXPECT_EQ(scalar(sa, "select count(*) from sample..secret"), "1");
  EXPECT_EQ(scalar(sa, "select max(a) from sample..secret"), "6");
  EXPECT_EQ(scalar(sa, "select count(*) from sample..open_t where a = 3"), "1");
}

TEST_F(Permissions, QueriesOverAViewSeeTheViewsRowsAndNoMoreOfItsTable) {
  for (const char* sql : {"insert sample..secret values (2)", "insert sample..secret values (3)",
                          "insert sample..secret values (4)", "insert sample..open_t values (10)",
                          "insert sample..open_t values (20)",
                          "create view sample..above_v as select a from secret where a > 2",
                          "grant select on sample..above_v to mallory"})
    ASSERT_EQ(errorOf(sa, sql), 0) << sql;
  ASSERT_EQ(errorOf(mallory, "use sample"), 0);
  // Counts over views are the views' own rows (secret has 4, above_v 2, secret_v 4).
  struct Counted {
    const char* sql;
    const char* count;
  } counted[] = {
      {"select count(*) from above_v", "2"},
      {"select count(*) from open_t, above_v", "4"},
      {"select count(*) from above_v, open_t", "4"},
      {"select count(*) from above_v x, above_v y", "4"},
      {"select count(*) from open_t, secret_v", "8"},
      {"select count(*) from open_t o where exists (select 1 from above_v v where v.a * 5 = o.a)", "1"},
  };
  for (const auto& c : counted) EXPECT_EQ(scalar(mallory, c.sql), c.count) << c.sql;
  // The view's right does not reach its table where the statement names that table itself.
  const char* refused[] = {
      "select count(*) from secret, above_v",
      "select count(*) from above_v, secret",
      "select count(*) from secret_v, secret",
      "select count(*) from secret s, above_v v where v.a = 3",
      "select 1 from above_v, secret",
      "select count(*) from above_v where exists (select 1 from secret)",
      "select count(*) from above_v where 0 < (select count(*) from secret)",
  };
  for (const char* sql : refused) EXPECT_EQ(errorOf(mallory, sql), 229) << sql;
}

TEST_F(Permissions, GuestReachesOnlyDatabasesWithAGuestUser) {
  CtClient outsider;
  ASSERT_TRUE(outsider.connect("DSQUERY", "outsider", "outsider-pw"));
  EXPECT_EQ(errorOf(outsider, "select count(*) from master..sysdatabases"), 0);
  EXPECT_EQ(errorOf(outsider, "select count(*) from sample..books"), 10351);
  EXPECT_EQ(errorOf(outsider, "exec sample..read_secret"), 10351);
  EXPECT_EQ(errorOf(outsider, "use sample"), 10351);
  EXPECT_EQ(errorOf(outsider, "create table #t (a int null)"), 0);
}

TEST_F(Permissions, GrantsFollowUserThenGroupThenPublic) {
  const char* setup[] = {
      "sp_addgroup crew",
      "sp_changegroup crew, mallory",
      "create table g (a int null)",
      "grant select on g to crew",
      "create table h (a int null)",
      "grant select on h to public",
      "revoke select on h from crew",
      "create table k (a int null)",
      "revoke select on k from crew",
      "grant select on k to mallory",
  };
  for (const char* sql : setup) ASSERT_EQ(errorOf(sa, sql), 0) << sql;
  EXPECT_EQ(errorOf(mallory, "select count(*) from g"), 0) << "granted to the group";
  EXPECT_EQ(errorOf(mallory, "select count(*) from h"), 229) << "revoked from the group, granted to public";
  EXPECT_EQ(errorOf(mallory, "select count(*) from k"), 0) << "granted to the user, revoked from the group";
  ASSERT_EQ(errorOf(sa, "revoke select on g from crew"), 0);
  EXPECT_EQ(errorOf(mallory, "select count(*) from g"), 229) << "a revoke takes effect on the next statement";
}

TEST_F(Permissions, SaKeepsEveryRightAndSystemTablesNeedAllowUpdates) {
  EXPECT_EQ(errorOf(sa, "select password from master..syslogins"), 0);
  EXPECT_EQ(errorOf(sa, "select count(*) from other..t"), 0);
  EXPECT_EQ(errorOf(sa, "update master..syslogins set fullname = 'M' where name = 'mallory'"), 259);
  ASSERT_EQ(errorOf(sa, "sp_configure 'allow updates to system tables', 1"), 0);
  EXPECT_EQ(errorOf(sa, "update master..syslogins set fullname = 'M' where name = 'mallory'"), 0);
  EXPECT_EQ(scalar(sa, "select fullname from master..syslogins where name = 'mallory'"), "M");
  // With updates allowed, a non-sa login still has no right on them.
  EXPECT_EQ(errorOf(mallory, "update master..syslogins set fullname = 'X' where name = 'mallory'"), 229);
  ASSERT_EQ(errorOf(sa, "sp_configure 'allow updates to system tables', 0"), 0);
  EXPECT_EQ(errorOf(sa, "delete master..syslogins where name = 'mallory'"), 259);
  // The system procedures still change the catalogue.
  EXPECT_EQ(errorOf(mallory, "sp_password 'mallory-pw', 'mallory-pw2'"), 0);
  CtClient relogin;
  EXPECT_TRUE(relogin.connect("DSQUERY", "mallory", "mallory-pw2"));
}

}  // namespace
