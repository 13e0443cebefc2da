// TQorixSQLParser: a table of statements and the clauses, tables, correlations, kind and
// expression flag the keyword search gives them, and the parameter list kept from SQL.
#include <gtest/gtest.h>

#include "access/SysUtils.h"
#include "dataset/QorixSQLParser.h"

namespace {
struct Statement {
  const char* name;
  const char* sql;
  QStringList fields, tables, correlations;
  const char* where;
  QStringList group;
  const char* having;
  QStringList order;
  const char* updateTable;
  const char* deleteTable;
  const char* insertTable;
  int kind;
  bool expression;
};
}  // namespace

TEST(SQLParser, StatementTable) {
  const Statement cases[] = {
      {"select with aliases, where and order",
       "select a, b from authors a, titles t where a.id = t.id order by a.name",
       {"a", "b"},
       {"authors", "titles"},
       {"a", "t"},
       "a.id = t.id",
       {},
       "",
       {"a.name"},
       "",
       "",
       "",
       1,
       false},
      {"star", "select * from t", {"*"}, {"t"}, {""}, "", {}, "", {}, "", "", "", 1, false},
      {"qualified star is an expression",
       "select t.* from t",
       {"t.*"},
       {"t"},
       {""},
       "",
       {},
       "",
       {},
       "",
       "",
       "",
       1,
       true},
      {"function call splits at its comma",
       "select count(*), max(a,b) from t group by c having count(*) > 1",
       {"count(*)", "max(a", "b)"},
       {"t"},
       {""},
       "",
       {"c"},
       "count(*) > 1",
       {},
       "",
       "",
       "",
       1,
       true},
      {"group, having and order",
       "SELECT type, sum(price) FROM titles WHERE price > 0 GROUP BY type HAVING sum(price) > 10 ORDER BY "
       "type",
       // An order by after where ends the where text at order, so group and having stay inside it.
       {"type", "sum(price)"},
       {"titles"},
       {""},
       "price > 0 GROUP BY type HAVING sum(price) > 10",
       {"type"},
       "sum(price) > 10",
       {"type"},
       "",
       "",
       "",
       1,
       true},
      {"group and having without order",
       "select a from t where x > 0 group by a having a > 1",
       {"a"},
       {"t"},
       {""},
       "x > 0",
       {"a"},
       "a > 1",
       {},
       "",
       "",
       "",
       1,
       false},
      {"delete from", "delete from t where x = 1", {}, {}, {}, "x = 1", {}, "", {}, "", "t", "", 3, false},
      {"delete with a second from",
       "delete t from t, u where t.id = u.id",
       {},
       {"t", "u"},
       {"", ""},
       "t.id = u.id",
       {},
       "",
       {},
       "",
       "t",
       "",
       3,
       false},
      {"insert into",
       "insert into t (a, b) values (1, 2)",
       {},
       {},
       {},
       "",
       {},
       "",
       {},
       "",
       "",
       "t",
       4,
       false},
      {"insert without into", "insert t values (1)", {}, {}, {}, "", {}, "", {}, "", "", "t", 4, false},
      {"update",
       "update t set a = 1 where b = 2",
       {"a = 1"},
       {},
       {},
       "b = 2",
       {},
       "",
       {},
       "t",
       "",
       "",
       2,
       false},
      {"update with from has the expression of its set",
       "update t set a = u.a from t, u where t.id = u.id",
       {"a = u.a"},
       {"t", "u"},
       {"", ""},
       "t.id = u.id",
       {},
       "",
       {},
       "t",
       "",
       "",
       2,
       true},
      {"as alias",
       "select x from authors as a",
       {"x"},
       {"authors"},
       {"as a"},
       "",
       {},
       "",
       {},
       "",
       "",
       "",
       1,
       false},
      {"exec", "exec sp_who", {}, {}, {}, "", {}, "", {}, "", "", "", 7, false},
      {"executed is a column, not exec",
       "select executed from jobs",
       {"executed"},
       {"jobs"},
       {""},
       "",
       {},
       "",
       {},
       "",
       "",
       "",
       1,
       false},
      {"leading blank is kind 0",
       " select a from t",
       {"a"},
       {"t"},
       {""},
       "",
       {},
       "",
       {},
       "",
       "",
       "",
       0,
       false},
      {"comment first is kind 0",
       "/* c */ select a from t",
       {"a"},
       {"t"},
       {""},
       "",
       {},
       "",
       {},
       "",
       "",
       "",
       0,
       false},
      {"glued keyword is no keyword",
       "select a from(t)",
       {"a from(t)"},
       {},
       {},
       "",
       {},
       "",
       {},
       "",
       "",
       "",
       1,
       false},
      {"lines and tabs are blanks",
       "select a,\n\tb\nfrom t\nwhere  x=1",
       {"a", "b"},
       {"t"},
       {""},
       "x=1",
       {},
       "",
       {},
       "",
       "",
       "",
       1,
       false},
      {"create", "create table t (a int)", {}, {}, {}, "", {}, "", {}, "", "", "", 6, false},
      {"alter", "alter table t add b int", {}, {}, {}, "", {}, "", {}, "", "", "", 5, false},
      // Letters whose upper case is longer than themselves must not move later clauses.
      {"sharp s before every clause",
       "select straße, a from tabelle where a = 1 order by straße",
       {"straße", "a"},
       {"tabelle"},
       {""},
       "a = 1",
       {},
       "",
       {"straße"},
       "",
       "",
       "",
       1,
       false},
      {"ligature in a column name",
       "select ﬁeld, b from t group by b having count(*) > 1",
       {"ﬁeld", "b"},
       {"t"},
       {""},
       "",
       {"b"},
       "count(*) > 1",
       {},
       "",
       "",
       "",
       1,
       false},
      {"sharp s in an update",
       "update maße set größe = 1 where id = 2",
       {"größe = 1"},
       {},
       {},
       "id = 2",
       {},
       "",
       {},
       "maße",
       "",
       "",
       2,
       false},
  };
  for (const Statement& c : cases) {
    TQorixSQLParser p;
    p.SetSQL(QString::fromUtf8(c.sql));
    p.Parse();
    EXPECT_EQ(p.Fields(), c.fields) << c.name;
    EXPECT_EQ(p.Tables(), c.tables) << c.name;
    EXPECT_EQ(p.Correlations(), c.correlations) << c.name;
    EXPECT_EQ(p.Where, c.where) << c.name;
    EXPECT_EQ(p.Group(), c.group) << c.name;
    EXPECT_EQ(p.Having, c.having) << c.name;
    EXPECT_EQ(p.Order(), c.order) << c.name;
    EXPECT_EQ(p.UpdateTable, c.updateTable) << c.name;
    EXPECT_EQ(p.DeleteTable, c.deleteTable) << c.name;
    EXPECT_EQ(p.InsertTable, c.insertTable) << c.name;
    EXPECT_EQ(p.StatementKind(), c.kind) << c.name;
    EXPECT_EQ(p.HasExpression(), c.expression) << c.name;
  }
}

TEST(SQLParser, ExpressionFlagIsClearedByTheNextParse) {
  TQorixSQLParser p;
  p.SetSQL(QStringLiteral("select a + 1 from t"));
  p.Parse();
  EXPECT_TRUE(p.HasExpression());
  p.SetSQL(QStringLiteral("select a from t"));
  p.Parse();
  EXPECT_FALSE(p.HasExpression());
}

TEST(SQLParser, SplitListKeepsInnerEmptiesAndDropsAnEmptyTail) {
  QStringList list{"x"};
  TQorixSQLParser::SplitList(" a , ,b,", list);
  EXPECT_EQ(list, QStringList({"x", "a", "", "b"}));
  EXPECT_EQ(TQorixSQLParser::LeadingName("t(a) values"), "t");
}

TEST(SQLParser, ParametersFollowTheTextAndKeepValues) {
  TQorixSQLParser p;
  p.SetSQL(QStringLiteral("select * from t where a = :a and b = ':not' and c = :c"));
  ASSERT_EQ(p.Params().Count(), 2);
  EXPECT_EQ(p.Params().Items(0).Name, "a");
  EXPECT_EQ(p.Params().Items(1).Name, "c");
  p.Params().ParamByName("c").SetValue(5);
  p.SetSQL(QStringLiteral("select * from t where c = :c or d = :d"));
  ASSERT_EQ(p.Params().Count(), 2);
  EXPECT_EQ(p.Params().ParamByName("c").Value(), QVariant(5));
  EXPECT_EQ(p.Params().ParamByName("d").ParamType, TParamType::ptInput);
  EXPECT_THROW(p.Params().ParamByName("a"), EDatabaseError);
}

TEST(Params, ParseSQLReplacesMarkersOutsideQuotes) {
  TParams params;
  EXPECT_EQ(params.ParseSQL("select :a, ':b', 1::2, :\"x y\" from t where z = :a", true),
            "select ?, ':b', 1:2, ? from t where z = ?");
  // One parameter per marker occurrence, as the server numbers the "?" markers.
  ASSERT_EQ(params.Count(), 3);
  EXPECT_EQ(params.Items(1).Name, "x y");
  EXPECT_EQ(params.Items(2).Name, "a");
}
