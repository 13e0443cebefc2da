// The rules that turn values and names into SQL text: typed literals, the 1/300-second grid of
// date-times, quoted identifiers and the substitution of whole markers.
#include <gtest/gtest.h>

#include <QDateTime>

#include "access/SysUtils.h"
#include "dataset/server/QxSqlLiterals.h"
#include "tests/dataset/server/server_fixture.h"

using namespace qxsql;

TEST(SqlLiterals, EachTypeHasItsLiteral) {
  struct Case {
    const char* name;
    TFieldType type;
    QVariant value;
    const char* literal;
  } cases[] = {
      {"null of any type", ftInteger, QVariant(), "NULL"},
      {"integer", ftInteger, 42, "42"},
      {"integer given as text", ftInteger, QStringLiteral("17"), "17"},
      {"fraction sent as integer is not cut", ftInteger, 2.5, "2.5"},
      {"float: the shortest text of the double", ftFloat, 0.1, "0.1"},
      {"money", ftCurrency, 12.99, "12.99"},
      {"bit", ftBoolean, true, "1"},
      {"string with quotes", ftString, QStringLiteral("O'Brien's"), "'O''Brien''s'"},
      {"empty string stays a value", ftString, QStringLiteral(""), "''"},
      {"NUL ends the text", ftString, QString::fromUtf8("ab\0cd", 5), "'ab'"},
      {"memo", ftMemo, QStringLiteral("a 'quote'"), "'a ''quote'''"},
      {"bytes", ftVarBytes, QByteArray("\x01\xab", 2), "0x01AB"},
      {"empty blob", ftBlob, QByteArray(), "NULL"},
      {"date-time", ftDateTime, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 333)), "'2026-01-02 03:04:05.333'"},
      {"last instant of a day stays on it", ftDateTime, QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999)),
       "'2026-12-31 23:59:59.997'"},
      {"tick of .997 written as the server shows it", ftDateTime, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 997)),
       "'2026-01-02 03:04:05.997'"},
      {"one tick", ftDateTime, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 3)), "'2026-01-02 03:04:05.003'"},
      {"two ticks", ftDateTime, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 7)), "'2026-01-02 03:04:05.007'"},
      {"date alone", ftDate, QDate(1999, 9, 9), "'1999-09-09 00:00:00.000'"},
      {"unknown type from the value", ftUnknown, 7, "7"},
      {"injection attempt stays inside the literal", ftString, QStringLiteral("x'; drop table t --"),
       "'x''; drop table t --'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Literal(c.type, c.value), QString::fromUtf8(c.literal));
  }
}

TEST(SqlLiterals, TicksRoundWithinTheDay) {
  EXPECT_EQ(TimeToTicks(0), 0);
  EXPECT_EQ(TimeToTicks(10), 3);
  EXPECT_EQ(TimeToTicks(86399999), 86400 * 300 - 1);
  EXPECT_EQ(TicksToMsecs(86400 * 300 - 1), 86399997);
  EXPECT_EQ(TicksToMsecs(299), 997);
  // Every tick survives the way to milliseconds and back.
  for (int t : {0, 1, 2, 299, 300, 12345, 86400 * 300 - 1}) EXPECT_EQ(TimeToTicks(TicksToMsecs(t)), t) << t;
}

TEST(SqlLiterals, NamesAreQuotedOnlyWhenNeeded) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"books", "books"},
      {"sample..books", "sample..books"},
      {"dbo.my table", "dbo.[my table]"},
      {"sample..odd]name", "sample..[odd]]name]"},
      {"[already quoted]", "[already quoted]"},
      {"db.[a.b]", "db.[a.b]"},
      {"1st", "[1st]"},
      {"t; drop table x", "[t; drop table x]"},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteName(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(SqlLiterals, OnlyWholeMarkersOutsideLiteralsAreReplaced) {
  TParams params;
  params.CreateParam(ftInteger, QStringLiteral("id"), ptInput).SetValue(5);
  params.CreateParam(ftString, QStringLiteral("name"), ptInput).SetValue(QStringLiteral("it's"));
  params.CreateParam(ftString, QStringLiteral("idx"), ptInput).SetValue(QStringLiteral("X"));
  struct Case {
    const char* name;
    const char* sql;
    const char* out;
  } cases[] = {
      {"every occurrence, any case", "select :id, :ID", "select 5, 5"},
      {"longer name is its own marker", "where a = :idx and b = :id", "where a = 'X' and b = 5"},
      {"inside a string literal", "select ':id', 'it'':id'", "select ':id', 'it'':id'"},
      {"inside a comment", "select 1 -- :id\n, /* :name */ :name", "select 1 -- :id\n, /* :name */ 'it''s'"},
      {"inside brackets", "select [a:id] from t", "select [a:id] from t"},
      {"doubled bracket inside a name", "select [x]]:id], :id", "select [x]]:id], 5"},
      {"time literal is no marker", "select a:id from t", "select a:id from t"},
      {"double colon", "select 1::2", "select 1:2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SubstituteParams(QString::fromUtf8(c.sql), params), QString::fromUtf8(c.out));
  }
  EXPECT_THROW(SubstituteParams(QStringLiteral("select :missing"), params), EDatabaseError);
  EXPECT_EQ(MarkerNames(QStringLiteral("a = :x or b = :X or c = ':y' or d = :z")), QStringList({"x", "z"}));
}
