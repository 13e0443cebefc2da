// Names longer than the catalogue keeps (30 bytes) are refused with 103 for every kind of name,
// before anything is stored; names of exactly 30 bytes work all the way to DROP.
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

TEST(Names, LongerThanThirtyAreRefusedForEveryKindOfName) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  ASSERT_EQ(errorOf(c, "use sample"), 0);
  ASSERT_EQ(errorOf(c, "create table base (a int null)"), 0);
  const std::string n31(31, 'n');
  struct Case {
    const char* what;
    std::string sql;
  } cases[] = {
      {"table", "create table " + n31 + " (a int null)"},
      {"temporary table", "create table #" + std::string(30, 't') + " (a int null)"},
      {"column", "create table t1 (" + n31 + " int null)"},
      {"constraint", "create table t2 (a int not null, constraint " + n31 + " primary key (a))"},
      {"added column", "alter table base add " + n31 + " int null"},
      {"index", "create index " + n31 + " on base (a)"},
      {"view", "create view " + n31 + " as select a from base"},
      {"view column", "create view v1 (" + n31 + ") as select a from base"},
      {"procedure", "create procedure " + n31 + " as select 1"},
      {"procedure parameter", "create procedure p1 @" + std::string(30, 'p') + " int as select 1"},
      {"rule", "create rule " + n31 + " as @v > 0"},
      {"default", "create default " + n31 + " as 0"},
      {"trigger", "create trigger " + n31 + " on base for insert as select 1"},
      {"user datatype", "sp_addtype " + n31 + ", 'int'"},
      {"group", "sp_addgroup " + n31},
      {"database", "create database " + n31},
  };
  for (const auto& k : cases) {
    auto batch = c.run(k.sql);
    const auto* e = batch.firstError();
    ASSERT_TRUE(e != nullptr) << k.what;
    EXPECT_EQ(e->number, 103) << k.what << ": " << e->text;
  }
  EXPECT_EQ(scalar(c, "select count(*) from sysobjects where name like 'nnnnnnnnnnnnnnnnnnnnnnnnnnnnnn%'"),
            "0");
  EXPECT_EQ(scalar(c, "select count(*) from syscolumns where name like 'nnnnnnnnnnnnnnnnnnnnnnnnnnnnnn%'"),
            "0");
  EXPECT_EQ(scalar(c, "select count(*) from sysobjects where name in ('t1', 't2', 'v1', 'p1')"), "0");
  auto text = c.run("create table " + n31 + " (a int null)").firstError()->text;
  EXPECT_EQ(text, "The identifier that starts with '" + std::string(30, 'n') +
                      "' is too long. Maximum length is 30.");
}

TEST(Names, ThirtyBytesWorkToTheEnd) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  ASSERT_EQ(errorOf(c, "use sample"), 0);
  const std::string t(30, 't'), col(30, 'c'), idx(30, 'i'), view(30, 'v'), proc(30, 'p');
  const char* steps[] = {"create table %T (%C int null)",
                         "insert %T values (1)",
                         "create index %I on %T (%C)",
                         "create view %V as select %C from %T",
                         "create procedure %P as select count(*) from %V",
                         "exec %P",
                         "drop procedure %P",
                         "drop view %V",
                         "drop index %T.%I",
                         "drop table %T"};
  for (const char* step : steps) {
    std::string sql = step;
    for (auto [key, value] :
         {std::pair<std::string, std::string>{"%T", t}, {"%C", col}, {"%I", idx}, {"%V", view}, {"%P", proc}})
      for (size_t at; (at = sql.find(key)) != std::string::npos;) sql.replace(at, key.size(), value);
    EXPECT_EQ(errorOf(c, sql), 0) << sql;
  }
  EXPECT_EQ(scalar(c, "select count(*) from sysobjects where name = '" + t + "'"), "0");
}

TEST(Names, ObjectsWhoseStorageNamesOnceCollidedLiveTogether) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  const char* steps[] = {
      "use sample",
      "create table canary (a int null)",
      "create table [canary.x] (b int null)",
      "create index x on canary (a)",
      "create unique index y on canary (a)",
      "create table [canary.y] (c int null)",
      "insert canary values (1)",
      "insert [canary.x] values (2)",
      "insert [canary.y] values (3)",
  };
  for (const char* sql : steps) ASSERT_EQ(errorOf(c, sql), 0) << sql;
  EXPECT_EQ(scalar(c, "select b from [canary.x]"), "2");
  EXPECT_EQ(scalar(c, "select c from [canary.y]"), "3");
  // The unique index still names itself in the duplicate-key error.
  auto dup = c.run("insert canary values (1)");
  ASSERT_TRUE(dup.firstError());
  EXPECT_EQ(dup.firstError()->number, 2601);
  EXPECT_NE(dup.firstError()->text.find("unique index 'y'"), std::string::npos) << dup.firstError()->text;
  for (const char* sql : {"drop index canary.x", "drop index canary.y", "drop table [canary.x]",
                          "drop table [canary.y]", "drop table canary"})
    EXPECT_EQ(errorOf(c, sql), 0) << sql;
}

TEST(Names, SqliteTextsReachTheClientInTheFamilysNumbers) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  for (const char* sql :
       {"use sample", "create table vt (a int null)", "create view vv as select a from vt", "drop table vt"})
    ASSERT_EQ(errorOf(c, sql), 0) << sql;
  auto batch = c.run("select * from vv");
  ASSERT_TRUE(batch.firstError());
  EXPECT_EQ(batch.firstError()->number, 208) << batch.firstError()->text;
  EXPECT_EQ(batch.firstError()->text.find("sample.dbo"), std::string::npos) << batch.firstError()->text;
  EXPECT_EQ(scalar(c, "select 1"), "1");
}

}  // namespace
