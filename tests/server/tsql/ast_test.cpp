// What the executor reads from the tree beyond its printed text: statement lines and source
// ranges, name parts, literal values, checked casts, SET and EXEC details, type defaults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/core/message.h"
#include "server/tsql/parser.h"

namespace tabsrv::tsql {
namespace {

// The single statement of a batch.
StatementPtr one(const std::string& sql) {
  auto batch = parseBatch(sql);
  EXPECT_EQ(batch.size(), 1u) << sql;
  return std::move(batch.at(0));
}

const Expr& firstItem(const Statement& s) {
  return *s.as<SelectStatement>().core.items.at(0).expr;
}

TEST(AstSource, StatementsKnowTheirLineAndText) {
  const std::string batch =
      "select 1\n"
      "\n"
      "create view v as\n"
      "  select a from t  -- trailing comment\n"
      "print 'x';";
  auto stmts = parseBatch(batch);
  ASSERT_EQ(stmts.size(), 3u);
  EXPECT_EQ(stmts[0]->line, 1);
  EXPECT_EQ(stmts[1]->line, 3);
  EXPECT_EQ(stmts[2]->line, 5);
  // The view's text for syscomments: from CREATE to its last token, comments after it excluded.
  EXPECT_EQ(stmts[1]->sourceText(batch), "create view v as\n  select a from t");
  EXPECT_EQ(stmts[2]->sourceText(batch), "print 'x'");
  const auto& view = stmts[1]->as<CreateViewStatement>();
  EXPECT_EQ(view.query->sourceText(batch), "select a from t");
  EXPECT_EQ(view.query->line, 4);
}

TEST(AstSource, ProcedureBodyRunsToTheEndOfTheBatch) {
  const std::string batch =
      "create procedure p as\n"
      "  select 1\n"
      "  if @@error <> 0 return 1\n"
      "  print 'done'";
  auto s = one(batch);
  const auto& proc = s->as<CreateProcedureStatement>();
  ASSERT_EQ(proc.body.size(), 3u);
  EXPECT_EQ(proc.body[1]->line, 3);
  EXPECT_EQ(proc.body[1]->kind, StatementKind::If);
  EXPECT_EQ(s->sourceText(batch), batch);
}

TEST(AstCast, MismatchThrows) {
  auto s = one("select 1");
  EXPECT_NO_THROW(s->as<SelectStatement>());
  EXPECT_THROW(s->as<InsertStatement>(), AstCastError);
  EXPECT_TRUE(firstItem(*s).is<LiteralExpr>());
  EXPECT_THROW(firstItem(*s).as<ColumnRefExpr>(), AstCastError);

  auto from = one("select a from t");
  const TableRef& t = *from->as<SelectStatement>().core.from[0];
  EXPECT_TRUE(t.is<NamedTableRef>());
  EXPECT_THROW(t.as<JoinTableRef>(), AstCastError);
  try {
    (void)t.as<DerivedTableRef>();
    FAIL() << "no AstCastError";
  } catch (const AstCastError& e) {
    EXPECT_STREQ(e.what(), "table reference is a named table, not a derived table");
  }
}

TEST(AstNames, QualifiedPartsLandInTheirFields) {
  auto s = one("select pubs..t.c, o.t.d, e from pubs.dbo.titles x, db..u, #tmp");
  const auto& core = s->as<SelectStatement>().core;
  const auto& c0 = core.items[0].expr->as<ColumnRefExpr>();
  EXPECT_EQ(c0.table.database, "pubs");
  EXPECT_EQ(c0.table.owner, "");
  EXPECT_EQ(c0.table.name, "t");
  EXPECT_EQ(c0.column, "c");
  const auto& c1 = core.items[1].expr->as<ColumnRefExpr>();
  EXPECT_EQ(c1.table.owner, "o");
  EXPECT_EQ(c1.table.database, "");
  EXPECT_TRUE(core.items[2].expr->as<ColumnRefExpr>().table.empty());
  const auto& t0 = core.from[0]->as<NamedTableRef>();
  EXPECT_EQ(t0.name.database, "pubs");
  EXPECT_EQ(t0.name.owner, "dbo");
  EXPECT_EQ(t0.name.name, "titles");
  EXPECT_EQ(t0.alias, "x");
  EXPECT_EQ(core.from[1]->as<NamedTableRef>().name.owner, "");
  EXPECT_EQ(core.from[2]->as<NamedTableRef>().name.name, "#tmp");
}

TEST(AstLiterals, ValuesAreDecoded) {
  auto s = one("select 'it''s', \"q\", 0xABC, 0x, 1.50, 2e3, null");
  const auto& items = s->as<SelectStatement>().core.items;
  const auto& str = items[0].expr->as<LiteralExpr>();
  EXPECT_EQ(str.literal, LiteralKind::String);
  EXPECT_EQ(str.text, "it's");
  EXPECT_EQ(items[1].expr->as<LiteralExpr>().text, "q");
  const auto& bin = items[2].expr->as<LiteralExpr>();
  EXPECT_EQ(bin.literal, LiteralKind::Binary);
  EXPECT_EQ(bin.bytes, (Bytes{0x0A, 0xBC}));  // an odd digit count reads as a leading 0
  EXPECT_TRUE(items[3].expr->as<LiteralExpr>().bytes.empty());
  EXPECT_EQ(items[4].expr->as<LiteralExpr>().literal, LiteralKind::Decimal);
  EXPECT_EQ(items[4].expr->as<LiteralExpr>().text, "1.50");
  EXPECT_EQ(items[5].expr->as<LiteralExpr>().literal, LiteralKind::Float);
  EXPECT_EQ(items[6].expr->as<LiteralExpr>().literal, LiteralKind::Null);
}

TEST(AstLiterals, MoneySignIsAUnaryOperator) {
  auto s = one("select -$1.25");
  const auto& u = firstItem(*s).as<UnaryExpr>();
  EXPECT_EQ(u.op, UnaryOp::Negate);
  EXPECT_EQ(u.operand->as<LiteralExpr>().literal, LiteralKind::Money);
  EXPECT_EQ(u.operand->as<LiteralExpr>().text, "1.25");
}

TEST(AstSelect, ItemFormsAreDistinguished) {
  auto s = one("select @v = a, b = c, d 'e', f, *, t.* from t");
  const auto& items = s->as<SelectStatement>().core.items;
  EXPECT_EQ(items[0].variable, "@v");
  EXPECT_EQ(items[0].alias, "");
  EXPECT_EQ(items[1].alias, "b");
  EXPECT_EQ(items[1].expr->as<ColumnRefExpr>().column, "c");
  EXPECT_EQ(items[2].alias, "e");
  EXPECT_EQ(items[3].alias, "");
  EXPECT_TRUE(items[4].expr->as<StarExpr>().table.empty());
  EXPECT_EQ(items[5].expr->as<StarExpr>().table.name, "t");
}

TEST(AstSelect, AggregatesAndChildren) {
  auto s = one("select count(*), count(distinct a), sum(b) + 1 from t");
  const auto& items = s->as<SelectStatement>().core.items;
  EXPECT_TRUE(items[0].expr->as<FunctionExpr>().star);
  EXPECT_TRUE(items[1].expr->as<FunctionExpr>().distinct);
  EXPECT_TRUE(isAggregateName(items[1].expr->as<FunctionExpr>().name));
  int children = 0;
  forEachChild(*items[2].expr, [&](const Expr& child) {
    ++children;
    if (child.is<FunctionExpr>()) {
      EXPECT_EQ(child.as<FunctionExpr>().name, "sum");
    }
  });
  EXPECT_EQ(children, 2);
}

TEST(AstSession, SetValues) {
  auto batch = parseBatch(
      "set rowcount 5 set nocount on set rowcount @n set identity_insert dbo.t off "
      "set transaction isolation level serializable");
  ASSERT_EQ(batch.size(), 5u);
  const auto& rc = batch[0]->as<SetStatement>();
  EXPECT_EQ(rc.option, "rowcount");
  EXPECT_EQ(rc.value, "5");
  EXPECT_EQ(rc.valueExpr->as<LiteralExpr>().literal, LiteralKind::Integer);
  EXPECT_EQ(batch[1]->as<SetStatement>().value, "on");
  EXPECT_EQ(batch[2]->as<SetStatement>().valueExpr->as<VariableExpr>().name, "@n");
  const auto& ii = batch[3]->as<SetStatement>();
  EXPECT_EQ(ii.table.owner, "dbo");
  EXPECT_EQ(ii.value, "off");
  EXPECT_EQ(batch[4]->as<SetStatement>().value, "3");
}

TEST(AstExec, ArgumentsAndReturnVariable) {
  auto s = one("exec @rc = p 1, @b = @x output, name");
  const auto& e = s->as<ExecuteStatement>();
  EXPECT_EQ(e.returnVariable, "@rc");
  EXPECT_EQ(e.procedure.name, "p");
  ASSERT_EQ(e.args.size(), 3u);
  EXPECT_EQ(e.args[0].name, "");
  EXPECT_EQ(e.args[1].name, "@b");
  EXPECT_TRUE(e.args[1].output);
  EXPECT_EQ(e.args[1].value->as<VariableExpr>().name, "@x");
  EXPECT_EQ(e.args[2].value->as<LiteralExpr>().literal, LiteralKind::String);
}

TEST(AstDdl, ColumnDetails) {
  auto s = one("create table t (id numeric(8) identity, n varchar(20) not null default 'a', u utype)");
  const auto& t = s->as<CreateTableStatement>();
  ASSERT_EQ(t.columns.size(), 3u);
  EXPECT_TRUE(t.columns[0].identity);
  EXPECT_EQ(t.columns[1].nullability, Nullability::NotNull);
  EXPECT_EQ(t.columns[1].defaultValue->as<LiteralExpr>().text, "a");
  EXPECT_EQ(t.columns[2].nullability, Nullability::Default);
  EXPECT_FALSE(t.columns[2].type.builtin.has_value());
  EXPECT_EQ(t.columns[2].type.name, "utype");
}

struct TypeCase {
  const char* name;
  const char* decl;
  SqlType type;
  int32_t length;
  int precision;
  int scale;
};

class BuiltinTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(BuiltinTypes, DefaultsFilledIn) {
  const TypeCase& c = GetParam();
  auto s = one(std::string("declare @v ") + c.decl);
  auto d = builtinTypeDesc(s->as<DeclareStatement>().variables.at(0).type);
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->type, c.type);
  EXPECT_EQ(d->length, c.length);
  EXPECT_EQ(d->precision, c.precision);
  EXPECT_EQ(d->scale, c.scale);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuiltinTypes,
    ::testing::Values(TypeCase{"char_default_length", "char", SqlType::Char, 1, 0, 0},
                      TypeCase{"varchar_length", "varchar(20)", SqlType::VarChar, 20, 0, 0},
                      TypeCase{"nvarchar_is_varchar", "nvarchar(7)", SqlType::VarChar, 7, 0, 0},
                      TypeCase{"numeric_default", "numeric", SqlType::Numeric, 9, 18, 0},
                      TypeCase{"decimal_precision_scale", "dec(5,2)", SqlType::Decimal, 4, 5, 2},
                      TypeCase{"numeric_38", "numeric(38,10)", SqlType::Numeric, 17, 38, 10},
                      TypeCase{"small_float_is_real", "float(8)", SqlType::Real, 4, 0, 0},
                      TypeCase{"float", "float", SqlType::Float, 8, 0, 0},
                      TypeCase{"double_precision", "double precision", SqlType::Float, 8, 0, 0},
                      TypeCase{"integer", "integer", SqlType::Int, 4, 0, 0},
                      TypeCase{"smallmoney", "smallmoney", SqlType::SmallMoney, 4, 0, 0},
                      TypeCase{"smalldatetime", "smalldatetime", SqlType::SmallDateTime, 4, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuiltinTypes, UserTypeHasNoBuiltinDescription) {
  auto s = one("declare @v sysname");
  EXPECT_FALSE(builtinTypeDesc(s->as<DeclareStatement>().variables.at(0).type).has_value());
}

// Prepared statements bind their values by position: each marker knows its place in the batch.
// The opt-in syntax, for the tests of cursors and TOP.
StatementPtr oneWithOptIns(const std::string& sql) {
  auto batch = parseBatch(sql, ParseOptions{true, true});
  EXPECT_EQ(batch.size(), 1u) << sql;
  return std::move(batch.at(0));
}

TEST(AstExtensions, MarkersCountInTextOrder) {
  auto s = one("update t set a = ? where b = ? and c in (?, 1)");
  const auto& u = s->as<UpdateStatement>();
  EXPECT_EQ(u.assignments[0].value->as<PlaceholderExpr>().index, 0);
  const auto& where = u.where->as<BinaryExpr>();
  EXPECT_EQ(where.left->as<BinaryExpr>().right->as<PlaceholderExpr>().index, 1);
  EXPECT_EQ(where.right->as<InListExpr>().list[0]->as<PlaceholderExpr>().index, 2);
}

TEST(AstExtensions, SetVariableIsAnAssigningSelect) {
  auto s = one("set @n = @n + 1");
  const auto& q = s->as<SelectStatement>();
  EXPECT_TRUE(q.writtenAsSet);
  ASSERT_EQ(q.core.items.size(), 1u);
  EXPECT_EQ(q.core.items[0].variable, "@n");
  EXPECT_TRUE(q.core.from.empty());
}

TEST(AstExtensions, TopAndIsolationAreKept) {
  auto s = oneWithOptIns("select top 10 a from t at isolation serializable");
  const auto& q = s->as<SelectStatement>();
  ASSERT_TRUE(q.core.top);
  EXPECT_EQ(q.core.top->as<LiteralExpr>().text, "10");
  EXPECT_EQ(q.atIsolation, 3);
  EXPECT_FALSE(one("select a from t")->as<SelectStatement>().core.top);
}

TEST(AstExtensions, CurrentOfLeavesNoCondition) {
  auto u = oneWithOptIns("update t set a = 1 where current of c");
  EXPECT_EQ(u->as<UpdateStatement>().currentOf, "c");
  EXPECT_FALSE(u->as<UpdateStatement>().where);
  auto d = one("delete t where a = 1");
  EXPECT_TRUE(d->as<DeleteStatement>().currentOf.empty());
  EXPECT_TRUE(d->as<DeleteStatement>().where);
}

TEST(AstExtensions, CursorStatementsCarryTheirParts) {
  const std::string batch =
      "declare c scroll cursor for\n"
      "  select a, b from t\n"
      "  for update of b\n"
      "fetch relative @k c into @a, @b";
  auto stmts = parseBatch(batch, ParseOptions{true, false});
  ASSERT_EQ(stmts.size(), 2u);
  const auto& d = stmts[0]->as<DeclareCursorStatement>();
  EXPECT_EQ(d.name, "c");
  EXPECT_TRUE(d.scroll);
  EXPECT_EQ(d.use, CursorUse::Update);
  EXPECT_EQ(d.updateColumns, std::vector<std::string>{"b"});
  EXPECT_EQ(d.query->sourceText(batch), "select a, b from t");
  const auto& f = stmts[1]->as<FetchCursorStatement>();
  EXPECT_EQ(stmts[1]->line, 4);
  EXPECT_EQ(f.direction, FetchDirection::Relative);
  EXPECT_EQ(f.offset->as<VariableExpr>().name, "@k");
  EXPECT_EQ(f.into, (std::vector<std::string>{"@a", "@b"}));
  EXPECT_EQ(std::string(statementKindName(StatementKind::DeallocateCursor)), "DEALLOCATE CURSOR");
}

TEST(AstExtensions, InsertDefaultValuesHasNoOtherSource) {
  auto s = one("insert t default values");
  const auto& i = s->as<InsertStatement>();
  EXPECT_TRUE(i.defaultValues);
  EXPECT_FALSE(i.hasValues);
  EXPECT_FALSE(i.select);
  EXPECT_FALSE(i.execute);
}

// Without the opt-in an executor that does not run cursors or TOP never sees them: the texts
// stay syntax errors instead of a DELETE that would lose its WHERE or a SELECT without its limit.
TEST(AstExtensions, OptInSyntaxIsRefusedByDefault) {
  struct Case {
    const char* name;
    const char* sql;
  } cases[] = {
      {"delete_current_of", "delete t where current of c"},
      {"update_current_of", "update t set a = 1 where current of c"},
      {"declare_cursor", "declare c cursor for select a from t"},
      {"open", "open c"},
      {"fetch", "fetch c"},
      {"close", "close c"},
      {"deallocate", "deallocate cursor c"},
      {"top", "select top 5 a from t"},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(parseBatch(c.sql), SqlError) << c.name;
    EXPECT_NO_THROW(parseBatch(c.sql, ParseOptions{true, true})) << c.name;
  }
}

}  // namespace
}  // namespace tabsrv::tsql
