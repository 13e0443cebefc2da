// What of the engine needs no server: the parameter list (marker parsing, values, the
// "ParamData" stream), the type-name map, display widths, status bits, the SQL change handler
// and the stored-procedure properties while a form is read.

#include <gtest/gtest.h>

#include <QSet>

#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"

namespace {

TEST(EngineParams, ParseSqlTurnsMarkersIntoPlaceholders) {
  struct Case {
    const char* name;
    const char* sql;
    const char* parsed;
    QStringList params;
  } cases[] = {
      {"two markers",
       "select * from t where a = :a and b > :b",
       "select * from t where a = ? and b > ?",
       {"a", "b"}},
      {"marker in a literal",
       "select ':x', \":y\" from t where c = :c",
       "select ':x', \":y\" from t where c = ?",
       {"c"}},
      {"doubled quote in a literal",
       "select 'it''s :no' where d = :d",
       "select 'it''s :no' where d = ?",
       {"d"}},
      {"double colon", "select a::b, :p", "select a:b, ?", {"p"}},
      {"comment", "select 1 -- at 10:30\nwhere e = :e", "select 1 -- at 10:30\nwhere e = ?", {"e"}},
      {"lone colon", "select 'a' : 1", "select 'a' : 1", {}},
      // A bracketed name is a name, whatever it holds: [a:b] is no marker.
      {"colon in a bracketed name", "select [a:b], :c from [t:1]", "select [a:b], ? from [t:1]", {"c"}},
      {"doubled bracket inside a name", "select [x]]:y] where z = :z", "select [x]]:y] where z = ?", {"z"}},
      {"unclosed bracket runs to the end", "select :a, [b :c", "select ?, [b :c", {"a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TParams params;
    EXPECT_EQ(params.ParseSQL(QString::fromLatin1(c.sql), true), QString::fromLatin1(c.parsed));
    QStringList names;
    for (int i = 0; i < params.Count(); ++i) names << params[i].Name;
    EXPECT_EQ(names, c.params);
  }
}

TEST(EngineParams, ParamDataRoundTripsAndRefusesDamage) {
  TParams params;
  params.CreateParam(ftInteger, QStringLiteral("id"), ptInput).SetValue(42);
  params.CreateParam(ftString, QStringLiteral("name"), ptOutput);
  params.CreateParam(ftDateTime, QStringLiteral("when"), ptInputOutput)
      .SetValue(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 600)));
  params.CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
  TParams back;
  ASSERT_TRUE(back.ReadData(params.WriteData()));
  EXPECT_TRUE(back.IsEqual(params));
  EXPECT_TRUE(back[1].IsNull());
  QByteArray damaged = params.WriteData();
  damaged.chop(5);
  EXPECT_FALSE(back.ReadData(damaged));
  EXPECT_EQ(back.Count(), 0);
  EXPECT_FALSE(back.ReadData(QByteArray("not a stream")));
}

TEST(EngineParams, SqlChangeKeepsValuesOfSameNamedParameters) {
  TQorixEnhQuery q;
  q.SetSQL(QStringLiteral("select :a, :b"));
  ASSERT_EQ(q.Params().Count(), 2);
  q.Params().ParamByName(QStringLiteral("b")).SetValue(7);
  q.SetSQL(QStringLiteral("select :b, :c"));
  ASSERT_EQ(q.Params().Count(), 2);
  EXPECT_EQ(q.Params()[0].Name, QStringLiteral("b"));
  EXPECT_EQ(q.Params()[0].AsInteger(), 7);
  EXPECT_TRUE(q.Params()[1].IsNull());
  EXPECT_EQ(q.Params()[1].ParamType, ptInput);
  EXPECT_THROW(q.Params().ParamByName(QStringLiteral("a")), EDatabaseError);
}

TEST(EngineTypeNames, TypeNameToFieldTypeIsExact) {
  struct Case {
    const char* name;
    TFieldType type;
  } cases[] = {{"char", ftString},       {"varchar", ftString},
               {"binary", ftVarBytes},   {"varbinary", ftVarBytes},
               {"text", ftMemo},         {"image", ftBlob},
               {"tinyint", ftSmallint},  {"smallint", ftSmallint},
               {"int", ftInteger},       {"real", ftFloat},
               {"float", ftFloat},       {"numeric", ftFloat},
               {"decimal", ftFloat},     {"bit", ftBoolean},
               {"datetime", ftDateTime}, {"smalldatetime", ftDateTime},
               {"money", ftCurrency},    {"smallmoney", ftCurrency},
               {"INT", ftUnknown},       {"sysname", ftUnknown},
               {"", ftUnknown}};
  for (const Case& c : cases) EXPECT_EQ(TypeNameToFieldType(QString::fromLatin1(c.name)), c.type) << c.name;
}

TEST(EngineColumns, DisplayWidthByDatatypeNeverBelowTheNameLength) {
  struct Case {
    const char* name;
    CS_INT type, maxLength, nameLen;
    int width;
  } cases[] = {{"char", 0, 20, 3, 20},     {"varbinary", 19, 10, 2, 22}, {"bit", 11, 1, 1, 3},
               {"smallint", 7, 2, 1, 6},   {"int", 8, 4, 2, 11},         {"money", 14, 8, 1, 24},
               {"datetime", 12, 8, 1, 30}, {"numeric", 16, 17, 1, 79},   {"other", 36, 8, 1, 12},
               {"long name", 8, 4, 20, 20}};
  for (const Case& c : cases) {
    TCSColumnData f;
    f.DataType = c.type;
    f.MaxLength = c.maxLength;
    f.NameLen = c.nameLen;
    EXPECT_EQ(TQorixCustomQuery::GetDisplayWidth(f), c.width) << c.name;
  }
}

TEST(EngineColumns, StatusBitsBecomeSetElements) {
  struct Case {
    const char* name;
    CS_INT status;
    const char* set;  // elements 15..0
  } cases[] = {{"none", 0, "0000000000000000"},
               {"0x1 and 0x400", 0x401, "0000010000000001"},
               {"0x2000 is element 11", 0x2000, "0000100000000000"},
               {"0x8000 is element 13", 0x8000, "0010000000000000"},
               {"0x800, 0x1000 and higher bits dropped", 0x11800, "0000000000000000"}};
  for (const Case& c : cases) EXPECT_EQ(TQorixCustomQuery::StatusSet(c.status).to_string(), c.set) << c.name;
}

TEST(EngineComponents, CursorNamesNeverRepeatWithinAMillisecond) {
  QSet<QString> names;
  for (int i = 0; i < 2000; ++i) names.insert(TQorixCustomQuery::NewCursorName());
  EXPECT_EQ(names.size(), 2000);
}

TEST(EngineComponents, ShowDbMessagesAndMsgDialogsKeepTheirSets) {
  TQorixEnhQuery q;
  EXPECT_TRUE(q.ShowDbMessages().Contains(smDbMsg));
  EXPECT_TRUE(q.ShowDbMessages().Contains(smDbErr));
  q.SetShowDbMessages({smDbErr});
  EXPECT_FALSE(q.ShowDbMessages().Contains(smDbMsg));
  q.SetMsgDialogs({mdEnhErr});
  EXPECT_TRUE(q.MsgDialogs().Contains(mdEnhErr));
  EXPECT_EQ(q.CurFetchRows, 10);
  EXPECT_EQ(q.StatementId, QStringLiteral("PrepId"));
  q.SetAutoDb(true);
  EXPECT_TRUE(q.UseDbParams);
}

TEST(EngineComponents, StoredProcNameWhileLoadingFetchesNothing) {
  TQorixStoredProc p;
  p.Params().CreateParam(ftInteger, QStringLiteral("@kept"), ptInput);
  const QByteArray stored = p.ParamData();
  p.Params().Clear();
  p.BeginLoading();
  p.SetParamData(stored);
  p.SetStoredProcName(QStringLiteral("dbo.some_proc"));  // no database: would raise outside loading
  p.EndLoading();
  EXPECT_EQ(p.GetStoredProcName(), QStringLiteral("dbo.some_proc"));
  ASSERT_EQ(p.Params().Count(), 1);
  EXPECT_EQ(p.Params()[0].Name, QStringLiteral("@kept"));
  EXPECT_THROW(p.SetStoredProcName(QStringLiteral("other")), EQxMissingException);
}

TEST(EngineComponents, AutoDbWithoutAFactoryRaisesInsteadOfRunningWithoutAConnection) {
  TQorixEnhQuery q;
  q.SetAutoDb(true);
  q.SetSQL(QStringLiteral("select 1"));
  AutoDatabaseFactory() = nullptr;
  EXPECT_THROW(q.Open(), EQxMissingException);
}

TEST(EngineParams, DateTimesAreSentAsDaysAndTicks) {
  struct Case {
    const char* name;
    QDateTime value;
    CS_INT days, ticks;
  } cases[] = {
      {"half a second on day 0", QDateTime(QDate(1900, 1, 1), QTime(0, 0, 0, 500)), 0, 150},
      {"one day, one hour", QDateTime(QDate(1900, 1, 2), QTime(1, 0, 0)), 1, 3600 * 300},
      {"ticks round to nearest", QDateTime(QDate(2000, 1, 1), QTime(0, 0, 0, 5)), 36524, 2},
      {"before 1900", QDateTime(QDate(1899, 12, 31), QTime(0, 0)), -1, 0},
  };
  for (const Case& c : cases) {
    const CS_DATETIME v = TQorixCustomQuery::DateTimeToCS(c.value);
    EXPECT_EQ(v.dtdays, c.days) << c.name;
    EXPECT_EQ(v.dttime, c.ticks) << c.name;
  }
}

// A connection that is never logged in; only its family name matters.
class FamilyDb : public TQorixDatabaseBase {
 public:
  CS_CONTEXT* ContextHandle() const override { return nullptr; }
  CS_CONNECTION* ConnectionHandle() const override { return nullptr; }
  CS_CONTEXT* GetContextHandle() override { return nullptr; }
  QString GetRdbms() const override { return rdbms; }
  QString rdbms;
};

TEST(EngineComponents, ServerTypeFollowsTheFamilyNameExactly) {
  FamilyDb db;
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  struct Step {
    const char* rdbms;
    TQorixServerType expected;
  } steps[] = {{"Other server", stSybaseSqlServer},  // a fresh engine starts at 0
               {"SQLAnywhere", stSqlAnywhere},
               {"sqlanywhere", stSqlAnywhere},  // not a family name: unchanged
               {"Sybase SQL Server", stSybaseSqlServer}};
  for (const Step& s : steps) {
    db.rdbms = QString::fromLatin1(s.rdbms);
    q.GetServerType();
    EXPECT_EQ(q.ServerType(), s.expected) << s.rdbms;
  }
}

TEST(EngineComponents, ARemovedDatabaseIsForgotten) {
  TQorixEnhQuery q;
  {
    class Db : public TQorixDatabaseBase {
     public:
      CS_CONTEXT* ContextHandle() const override { return nullptr; }
      CS_CONNECTION* ConnectionHandle() const override { return nullptr; }
      CS_CONTEXT* GetContextHandle() override { return nullptr; }
    } db;
    q.SetDatabase(&db);
    EXPECT_EQ(q.Database(), &db);
  }
  EXPECT_EQ(q.Database(), nullptr);
}

}  // namespace
