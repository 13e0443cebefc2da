// The executor through its Session interface: result formats typed by the binder, DML with
// defaults and identity, errors with their numbers and their effect on the batch, transactions,
// control flow and cancellation.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "recording_sink.h"
#include "server/exec/sql_functions.h"

namespace tabtest {
namespace {

using tabsrv::SqlType;

// ---- result formats -------------------------------------------------------------------------

struct TypeCase {
  const char* name;
  const char* expr;
  SqlType type;
  int32_t length;  // -1: not checked
  int precision;   // -1: not checked
  int scale;
  const char* value;
};

class ExpressionTypes : public EngineTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(ExpressionTypes, BoundTypeAndValue) {
  const TypeCase& c = GetParam();
  run("create table nums (i int not null, s smallint null, n numeric(10,2) null, m money null, v varchar(10) "
      "null)\n"
      "insert nums values (7, 2, 12.50, $3.25, 'ab')\n"
      "insert nums values (8, null, 1.25, $1, 'cd  ')");
  RecordingSink s = run(std::string("select ") + c.expr + " from nums where i = 7");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{}) << (s.messages.empty() ? "" : s.messages[0].text);
  ASSERT_EQ(s.sets.size(), 1u);
  const auto& col = s.sets[0].columns.at(0);
  EXPECT_EQ(col.type.type, c.type);
  if (c.length >= 0) {
    EXPECT_EQ(col.type.length, c.length);
  }
  if (c.precision >= 0) {
    EXPECT_EQ(col.type.precision, c.precision);
    EXPECT_EQ(col.type.scale, c.scale);
  }
  ASSERT_EQ(s.sets[0].rows.size(), 1u);
  EXPECT_EQ(show(s.sets[0].rows[0][0], col.type), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Binder, ExpressionTypes,
    ::testing::Values(
        TypeCase{"IntLiteral", "1", SqlType::Int, 4, -1, 0, "1"},
        TypeCase{"DecimalLiteral", "1.50", SqlType::Numeric, -1, 3, 2, "1.50"},
        TypeCase{"StringLiteral", "'abc'", SqlType::VarChar, 3, -1, 0, "abc"},
        TypeCase{"IntegerDivisionTruncates", "i / 2", SqlType::Int, 4, -1, 0, "3"},
        TypeCase{"IntPlusNumeric", "i + n", SqlType::Numeric, -1, 13, 2, "19.50"},
        TypeCase{"MoneyTimesInt", "m * 2", SqlType::Money, -1, -1, 0, "6.50"},
        TypeCase{"SmallintPlusInt", "s + i", SqlType::Int, 4, -1, 0, "9"},
        TypeCase{"Concatenation", "v + 'xyz'", SqlType::VarChar, 13, -1, 0, "abxyz"},
        TypeCase{"ConcatWithNullKeepsText", "v + null", SqlType::VarChar, -1, -1, 0, "ab"},
        TypeCase{"ConvertToVarchar", "convert(varchar(5), i)", SqlType::VarChar, 5, -1, 0, "7"},
        TypeCase{"ConvertWithoutLength", "convert(varchar, i)", SqlType::VarChar, 30, -1, 0, "7"},
        TypeCase{"Modulo", "i % 4", SqlType::Int, 4, -1, 0, "3"},
        TypeCase{"CaseCommonType", "case when i > 5 then 1 else 2.5 end", SqlType::Numeric, -1, -1, 0, "1.0"},
        TypeCase{"IsnullTakesSecond", "isnull(s, 0) + 1", SqlType::Int, 4, -1, 0, "3"},
        TypeCase{"ScalarSubqueryCount", "(select count(*) from nums)", SqlType::Int, 4, -1, 0, "2"},
        TypeCase{"FloatLiteral", "1e3", SqlType::Float, -1, -1, 0, "1000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, AggregatesHaveTheFamilysTypes) {
  run("create table t (a int not null, b numeric(8,3) null)\n"
      "insert t values (1, 1.5) insert t values (2, 2.25) insert t values (4, null)");
  RecordingSink s = run("select count(*), count(b), sum(a), avg(a), sum(b), max(b) from t");
  ASSERT_EQ(s.sets.size(), 1u);
  const auto& cols = s.sets[0].columns;
  EXPECT_EQ(cols[0].type.type, SqlType::Int);
  EXPECT_FALSE(cols[0].nullable);
  EXPECT_EQ(cols[1].type.type, SqlType::Int);
  EXPECT_EQ(cols[2].type.type, SqlType::Int);
  EXPECT_EQ(cols[3].type.type, SqlType::Int);
  EXPECT_EQ(cols[4].type.type, SqlType::Numeric);
  EXPECT_EQ(cols[4].type.precision, 38);
  EXPECT_EQ(cols[4].type.scale, 3);
  std::vector<std::string> got;
  for (const auto& v : s.sets[0].rows.at(0)) got.push_back(show(v));
  // avg(a) is 7/3 truncated to an int.
  EXPECT_EQ(got, (std::vector<std::string>{"3", "2", "7", "2", "3.750", "2.250"}));
}

TEST_F(EngineTest, ColumnFormatsComeFromTheCatalogue) {
  run("create table f (id int identity, name varchar(20) not null, price money null, born datetime null)");
  RecordingSink s = run("select * from f");
  ASSERT_EQ(s.sets.size(), 1u);
  const auto& c = s.sets[0].columns;
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0].name, "id");
  EXPECT_TRUE(c[0].identity);
  EXPECT_FALSE(c[0].nullable);
  EXPECT_EQ(c[1].type.type, SqlType::VarChar);
  EXPECT_EQ(c[1].type.length, 20);
  EXPECT_FALSE(c[1].nullable);
  EXPECT_EQ(c[2].type.type, SqlType::Money);
  EXPECT_TRUE(c[2].nullable);
  EXPECT_EQ(c[3].type.type, SqlType::DateTime);
  EXPECT_EQ(s.dones.back().count, 0);
}

// ---- DML --------------------------------------------------------------------------------------

TEST_F(EngineTest, InsertFillsIdentityAndDefaults) {
  run("create table d (id int identity, qty int default 5 not null, note varchar(10) null)");
  RecordingSink ins =
      run("insert d (note) values ('a')\ninsert into d (qty, note) values (9, 'b')\nselect @@identity");
  EXPECT_EQ(ins.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(show(ins.sets.back().rows[0][0]), "2");
  RecordingSink s = run("select id, qty, note from d order by id");
  ASSERT_EQ(s.sets[0].rows.size(), 2u);
  EXPECT_EQ(show(s.sets[0].rows[0][0]), "1");
  EXPECT_EQ(show(s.sets[0].rows[0][1]), "5");
  EXPECT_EQ(show(s.sets[0].rows[1][1]), "9");
}

TEST_F(EngineTest, IdentityValuesOfMultiRowInsertsContinueOneCounter) {
  run("create table src5 (n int not null)\n"
      "insert src5 values (0) insert src5 values (1) insert src5 values (2) insert src5 values (3) "
      "insert src5 values (4)\n"
      "create table ids2 (id int identity, n int not null check (n < 100))");
  struct Step {
    const char* sql;
    std::vector<int> errors;
    const char* maxId;  // max(id) afterwards
  } steps[] = {
      {"insert ids2 (n) select n from src5", {}, "5"},
      // A row refused half-way keeps none of the statement's rows and uses up no values.
      {"insert ids2 (n) select n * 30 from src5", {548}, "5"},
      {"insert ids2 (n) values (7)", {}, "6"},
      {"set identity_insert ids2 on\ninsert ids2 (id, n) select n + 50, n from src5\n"
       "set identity_insert ids2 off",
       {},
       "54"},
      {"insert ids2 (n) values (8)", {}, "55"},
      // The trigger's own insert comes after the statement's rows, never on one of their values.
      {"create trigger ids2_more on ids2 for insert as\n"
       "if (select count(*) from inserted) > 1 insert ids2 (n) values (99)",
       {},
       "55"},
      {"insert ids2 (n) select n from src5", {}, "61"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.sql);
    RecordingSink s = run(step.sql);
    EXPECT_EQ(s.errorNumbers(), step.errors);
    EXPECT_EQ(scalar("select max(id) from ids2"), step.maxId);
    EXPECT_EQ(scalar("select count(*) - count(distinct id) from ids2"), "0");
  }
  EXPECT_EQ(scalar("select id from ids2 where n = 99"), "61");
}

TEST_F(EngineTest, UpdateAndDeleteCountRowsAndHonourRowcount) {
  run("create table u (a int not null, b varchar(5) null)\n"
      "insert u values (1, 'x') insert u values (2, 'y') insert u values (3, 'z')");
  RecordingSink up = run("update u set b = b + '!' where a >= 2");
  EXPECT_EQ(up.dones.back().count, 2);
  EXPECT_EQ(scalar("select b from u where a = 3"), "z!");
  RecordingSink limited = run("set rowcount 1\ndelete u\nset rowcount 0");
  EXPECT_EQ(limited.dones[1].count, 1);
  EXPECT_EQ(scalar("select count(*) from u"), "2");
  RecordingSink sel = run("set rowcount 1 select a from u set rowcount 0");
  EXPECT_EQ(sel.sets.at(0).rows.size(), 1u);
}

TEST_F(EngineTest, UpdateFromJoinsAnotherTable) {
  run("create table p (id int not null, price int null)\ncreate table q (id int not null, newprice int not "
      "null)\n"
      "insert p values (1, 10) insert p values (2, 20) insert q values (2, 25)");
  RecordingSink s = run("update p set price = q.newprice from p, q where p.id = q.id");
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(s.dones.back().count, 1);
  EXPECT_EQ(scalar("select price from p where id = 2"), "25");
  EXPECT_EQ(scalar("select price from p where id = 1"), "10");
}

TEST_F(EngineTest, TrailingBlanksDoNotCountInComparisons) {
  run("create table c (s char(6) not null, v varchar(6) not null)\ninsert c values ('ab', 'ab  ')");
  EXPECT_EQ(scalar("select count(*) from c where s = 'ab'"), "1");
  EXPECT_EQ(scalar("select count(*) from c where v = 'ab'"), "1");
  EXPECT_EQ(scalar("select count(*) from c where s like 'a_'"), "1");
  EXPECT_EQ(scalar("select count(*) from c where s like 'A%'"), "0");
}

TEST_F(EngineTest, OldOuterJoinKeepsUnmatchedRows) {
  run("create table l (id int not null)\ncreate table r (id int not null, v varchar(3) not null)\n"
      "insert l values (1) insert l values (2) insert r values (2, 'two')");
  RecordingSink s = run("select l.id, r.v from l, r where l.id *= r.id order by l.id");
  ASSERT_EQ(s.sets.at(0).rows.size(), 2u);
  EXPECT_EQ(show(s.sets[0].rows[0][1]), "NULL");
  EXPECT_EQ(show(s.sets[0].rows[1][1]), "two");
  EXPECT_TRUE(s.sets[0].columns[1].nullable);
}

TEST_F(EngineTest, SelectIntoCreatesTheTable) {
  run("create table src (a int not null, b varchar(4) null)\ninsert src values (1, 'x')");
  RecordingSink s = run("select a, b, a * 2 doubled into #copy from src\nselect doubled from #copy");
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(show(s.sets.back().rows.at(0)[0]), "2");
  // Another session does not see this session's #table.
  auto other = login();
  RecordingSink o = run("select * from #copy", other.get());
  EXPECT_EQ(o.errorNumbers(), std::vector<int>{208});
}

TEST_F(EngineTest, SelectIntoKeepsAPlainlySelectedIdentityColumn) {
  run("create table ids (id numeric(6,0) identity, v varchar(4) not null)\n"
      "insert ids (v) values ('a') insert ids (v) values ('b') insert ids (v) values ('c')\n"
      "delete ids where v = 'c'\n"
      "create table other (k int not null)\ninsert other values (1)");
  struct Case {
    const char* select;
    bool keeps;
    const char* next;  // the identity the next insert takes, when kept
  } cases[] = {
      {"select * into #c from ids", true, "3"},
      {"select v, id into #c from ids where v <> 'b'", true, "2"},
      {"select id, id as again, v into #c from ids", false, nullptr},
      {"select id + 0 as id, v into #c from ids", false, nullptr},
      {"select id, v into #c from ids, other", false, nullptr},
      {"select id, count(*) as n into #c from ids group by id", false, nullptr},
      {"select id, v, 1 + count(*) as n into #c from ids", false, nullptr},
      {"select id, v, (select count(*) from other) as n into #c from ids", true, "3"},
      {"select id, v into #c from ids union all select id, v from ids", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.select);
    RecordingSink s = run(std::string(c.select) + "\nselect * from #c where 1 = 0");
    ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
    bool identity = false;
    for (const auto& col : s.sets.back().columns) identity = identity || col.identity;
    EXPECT_EQ(identity, c.keeps);
    if (c.keeps) {
      // The copied values stay and the next row continues after the largest of them.
      RecordingSink ins = run("insert #c (v) values ('n')\nselect max(id) from #c");
      EXPECT_EQ(ins.errorNumbers(), std::vector<int>{});
      EXPECT_EQ(show(ins.sets.back().rows.at(0)[0]), c.next);
    }
    run("drop table #c");
  }
}

TEST_F(EngineTest, TheSameBatchTextRunsAsTheSessionNowReadsIt) {
  // A session keeps the parse of recent batch texts; what a text means must still follow
  // quoted_identifier and the objects as they are now.
  struct Step {
    const char* sql;
    std::vector<int> errors;
    const char* value;  // the first value of the last result, when there is one
  } steps[] = {
      {"select \"x\"", {}, "x"},
      {"set quoted_identifier on", {}, nullptr},
      {"select \"x\"", {207}, nullptr},
      {"set quoted_identifier off", {}, nullptr},
      {"select \"x\"", {}, "x"},
      {"select a from later_t", {208}, nullptr},
      {"create table later_t (a int not null) insert later_t values (7)", {}, nullptr},
      {"select a from later_t", {}, "7"},
      {"drop table later_t create table later_t (b int not null, a varchar(3) not null) "
       "insert later_t values (1, 'new')",
       {},
       nullptr},
      {"select a from later_t", {}, "new"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.sql);
    RecordingSink s = run(step.sql);
    EXPECT_EQ(s.errorNumbers(), step.errors);
    if (step.value) {
      ASSERT_FALSE(s.sets.empty());
      EXPECT_EQ(show(s.sets.back().rows.at(0)[0]), step.value);
    }
  }
  // More texts than are kept, then the first again.
  for (int i = 0; i < 12; ++i) EXPECT_EQ(scalar("select " + std::to_string(i)), std::to_string(i));
  EXPECT_EQ(scalar("select a from later_t"), "new");
}

// ---- errors -------------------------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  const char* sql;
  int number;
  int severity;
};

class Errors : public EngineTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(Errors, NumberAndSeverity) {
  run("create table e (a int not null, b varchar(3) null)\ncreate unique index e_a on e (a)\ninsert e values "
      "(1, 'x')");
  RecordingSink s = run(GetParam().sql);
  ASSERT_FALSE(s.messages.empty());
  EXPECT_EQ(s.messages[0].number, GetParam().number) << s.messages[0].text;
  EXPECT_EQ(s.messages[0].severity, GetParam().severity);
  ASSERT_FALSE(s.dones.empty());
  EXPECT_TRUE(s.dones.back().error);
}

INSTANTIATE_TEST_SUITE_P(
    Executor, Errors,
    ::testing::Values(ErrorCase{"UnknownTable", "select * from nosuch", 208, 16},
                      ErrorCase{"UnknownColumn", "select nosuch from e", 207, 16},
                      ErrorCase{"UnknownDatabase", "select * from nodb..e", 911, 11},
                      ErrorCase{"UseUnknownDatabase", "use nodb", 911, 11},
                      ErrorCase{"Syntax", "select from where", 156, 15},
                      ErrorCase{"UndeclaredVariable", "select @nope", 137, 15},
                      ErrorCase{"DivideByZero", "select 1 / 0", 3607, 16},
                      ErrorCase{"DuplicateKey", "insert e values (1, 'y')", 2601, 14},
                      ErrorCase{"NullIntoNotNull", "insert e (b) values ('z')", 233, 16},
                      ErrorCase{"CharToIntNeedsConvert", "select a from e where a = 'x'", 257, 16},
                      ErrorCase{"CommitWithoutBegin", "commit", 3902, 16},
                      ErrorCase{"RollbackWithoutBegin", "rollback tran", 3903, 16},
                      ErrorCase{"RaiserrorBelow20000", "raiserror 500 'no'", 2732, 16},
                      ErrorCase{"RaiserrorUser", "raiserror 20001 'custom %1!', 5", 20001, 16},
                      ErrorCase{"IntOverflow", "select 2147483647 + 1", 3606, 16},
                      ErrorCase{"AmbiguousColumn", "select a from e x, e y", 209, 16}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, ObjectErrorsEndTheBatchOtherErrorsOnlyTheStatement) {
  run("create table k (a int not null)\ncreate unique index k_a on k (a)\ninsert k values (1)");
  RecordingSink dup = run("insert k values (1)\nselect 'after'");
  EXPECT_EQ(dup.errorNumbers(), std::vector<int>{2601});
  ASSERT_EQ(dup.sets.size(), 1u);
  EXPECT_EQ(show(dup.sets[0].rows[0][0]), "after");
  RecordingSink missing = run("select * from nosuch\nselect 'after'");
  EXPECT_EQ(missing.errorNumbers(), std::vector<int>{208});
  EXPECT_TRUE(missing.sets.empty());
  // A syntax error stops everything before it runs.
  RecordingSink syntax = run("insert k values (2)\nselect from from");
  EXPECT_EQ(syntax.dones.size(), 1u);
  EXPECT_EQ(scalar("select count(*) from k"), "1");
}

TEST_F(EngineTest, FailedStatementLeavesNoPartialRows) {
  run("create table m (a int not null)\ncreate unique index m_a on m (a)\n"
      "create table s (a int not null)\ninsert s values (5) insert s values (6) insert s values (5)");
  RecordingSink r = run("insert m select a from s");
  EXPECT_EQ(r.errorNumbers(), std::vector<int>{2601});
  EXPECT_EQ(scalar("select count(*) from m"), "0");
  EXPECT_EQ(scalar("select @@error"), "0");
}

TEST_F(EngineTest, ErrorVariableReportsTheLastStatement) {
  // arithabort off: a zero divisor ends only its statement (by default it ends the batch).
  RecordingSink s = run("set arithabort arith_overflow off\nselect 1/0\nselect @@error");
  EXPECT_EQ(show(s.sets.back().rows.at(0)[0]), "3607");
}

// ---- transactions -------------------------------------------------------------------------------

TEST_F(EngineTest, NestedTransactionsCountAndRollbackUndoesAll) {
  run("create table tr (a int not null)");
  RecordingSink s =
      run("begin tran\nbegin tran\ninsert tr values (1)\nselect @@trancount\ncommit\nselect @@trancount\n"
          "rollback\nselect @@trancount");
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(s.sets.size(), 3u);
  EXPECT_EQ(show(s.sets[0].rows[0][0]), "2");
  EXPECT_EQ(show(s.sets[1].rows[0][0]), "1");
  EXPECT_EQ(show(s.sets[2].rows[0][0]), "0");
  EXPECT_EQ(scalar("select count(*) from tr"), "0");
}

TEST_F(EngineTest, SavepointRollsBackPartOfTheTransaction) {
  run("create table sp (a int not null)");
  run("begin tran insert sp values (1) save tran mark insert sp values (2) rollback tran mark commit");
  EXPECT_EQ(scalar("select count(*) from sp"), "1");
  EXPECT_EQ(scalar("select @@trancount"), "0");
}

TEST_F(EngineTest, LogoutRollsBackTheOpenTransaction) {
  run("create table lo (a int not null)");
  auto other = login();
  run("begin tran insert lo values (1)", other.get());
  other.reset();
  EXPECT_EQ(scalar("select count(*) from lo"), "0");
}

TEST_F(EngineTest, SecondWriterWaitsForTheFirstToCommit) {
  run("create table w (a int not null)");
  auto other = login();
  run("begin tran insert w values (1)");
  std::atomic<bool> finished{false};
  RecordingSink waiter;
  std::thread t([&] {
    other->executeLanguage("insert w values (2)", waiter);
    finished = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(finished);
  // A reader outside a transaction is not blocked and sees only committed rows.
  auto reader = login();
  RecordingSink r = run("select count(*) from w", reader.get());
  EXPECT_EQ(show(r.sets.at(0).rows.at(0)[0]), "0");
  run("commit");
  t.join();
  EXPECT_EQ(waiter.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(scalar("select count(*) from w"), "2");
}

TEST_F(EngineTest, CancelStopsAWaitingWriterAndAWaitfor) {
  run("create table cw (a int not null)");
  auto other = login();
  run("begin tran insert cw values (1)");
  RecordingSink waiter;
  auto start = std::chrono::steady_clock::now();
  std::thread t([&] { other->executeLanguage("insert cw values (2)", waiter); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  waiter.cancel = true;
  t.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(waiter.messages.empty());
  run("rollback");

  RecordingSink wait;
  std::thread c([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    wait.cancel = true;
  });
  start = std::chrono::steady_clock::now();
  session_->executeLanguage("waitfor delay '00:00:30' select 'never'", wait);
  c.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(wait.sets.empty());
}

TEST_F(EngineTest, CancelBetweenRowsStopsTheResult) {
  RecordingSink s;
  s.cancelAfterRows = 3;
  session_->executeLanguage(
      "declare @i int select @i = 0 create table big (a int not null) "
      "while @i < 50 begin insert big values (@i) select @i = @i + 1 end",
      s);
  RecordingSink r;
  r.cancelAfterRows = 3;
  session_->executeLanguage("select a from big select 'next'", r);
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].rows.size(), 3u);
}

// ---- control flow -------------------------------------------------------------------------------

TEST_F(EngineTest, WhileIfBreakContinue) {
  RecordingSink s =
      run("declare @i int, @sum int\n"
          "select @i = 0, @sum = 0\n"
          "while @i < 10 begin\n"
          "  select @i = @i + 1\n"
          "  if @i = 3 continue\n"
          "  if @i > 6 break\n"
          "  select @sum = @sum + @i\n"
          "end\n"
          "select @sum, @i");
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(s.sets.size(), 1u);
  EXPECT_EQ(show(s.sets[0].rows[0][0]), "18");  // 1+2+4+5+6
  EXPECT_EQ(show(s.sets[0].rows[0][1]), "7");
}

TEST_F(EngineTest, PrintSubstitutesArguments) {
  RecordingSink s = run("declare @n int select @n = 3 print 'got %1! of %2!', @n, 'x' print 'plain'");
  ASSERT_EQ(s.messages.size(), 2u);
  EXPECT_EQ(s.messages[0].number, 0);
  EXPECT_EQ(s.messages[0].text, "got 3 of x");
  EXPECT_EQ(s.messages[1].text, "plain");
}

TEST_F(EngineTest, AssignmentSelectKeepsTheLastRowAndSendsNoResult) {
  run("create table av (a int not null)\ninsert av values (1) insert av values (2)");
  RecordingSink s = run("declare @x int select @x = a from av order by a select @x");
  ASSERT_EQ(s.sets.size(), 1u);
  EXPECT_EQ(show(s.sets[0].rows[0][0]), "2");
  EXPECT_EQ(run("declare @x int select @x = a, a from av").errorNumbers(), std::vector<int>{141});
}

TEST_F(EngineTest, UseChangesDatabaseAndReportsIt) {
  RecordingSink s = run("use tempdb select db_name()");
  ASSERT_EQ(s.databaseChanges.size(), 1u);
  EXPECT_EQ(s.databaseChanges[0].first, "tempdb");
  EXPECT_EQ(s.databaseChanges[0].second, "master");
  EXPECT_EQ(s.messages.at(0).number, 5701);
  EXPECT_EQ(session_->currentDatabase(), "tempdb");
  EXPECT_EQ(show(s.sets.at(0).rows[0][0]), "tempdb");
}

TEST_F(EngineTest, NocountAndGlobals) {
  RecordingSink s = run("set nocount on select 1 set nocount off select @@rowcount, @@spid, @@version");
  EXPECT_EQ(s.dones[1].count, -1);
  const auto& row = s.sets.at(1).rows.at(0);
  EXPECT_EQ(show(row[0]), "0");
  EXPECT_EQ(show(row[2]).rfind("Tabulon SQL Server/15.0", 0), 0u);
}

TEST_F(EngineTest, ViewsAreTypedFromTheirSelect) {
  run("create table base (a int not null, b varchar(8) null)\ninsert base values (1, 'one')");
  RecordingSink c = run("create view vw (num, label) as select a * 10, b from base");
  EXPECT_EQ(c.errorNumbers(), std::vector<int>{});
  RecordingSink s = run("select num, label from vw");
  ASSERT_EQ(s.sets.size(), 1u);
  EXPECT_EQ(s.sets[0].columns[0].name, "num");
  EXPECT_EQ(s.sets[0].columns[0].type.type, SqlType::Int);
  EXPECT_EQ(show(s.sets[0].rows.at(0)[0]), "10");
}

TEST_F(EngineTest, LoginFailureIs4002) {
  tabsrv::LoginRequest req;
  req.user = "sa";
  req.password = "wrong";
  auto out = engine_->login(req);
  EXPECT_FALSE(out.session);
  ASSERT_TRUE(out.failure);
  EXPECT_EQ(out.failure->number, 4002);
  EXPECT_EQ(out.failure->severity, 14);
  EXPECT_EQ(out.failure->text, "Login failed.");
}

TEST_F(EngineTest, SpidsAreReusedAfterLogout) {
  int first = session_->spid();
  auto second = login();
  int spid2 = second->spid();
  EXPECT_NE(spid2, first);
  second.reset();
  auto third = login();
  EXPECT_EQ(third->spid(), spid2);
}

// ---- LIKE -----------------------------------------------------------------------------------------

TEST(LikeMatch, Patterns) {
  struct Case {
    const char* value;
    const char* pattern;
    bool match;
  } cases[] = {
      {"abc", "a%", true},      {"abc", "%c", true},      {"abc", "a_c", true},  {"abc", "a_", false},
      {"abc", "[a-b]bc", true}, {"cbc", "[^c]bc", false}, {"abc", "ABC", false}, {"a%c", "a!%c", true},
      {"abx", "a!%c", false},   {"abc   ", "abc", true},  {"", "%", true},       {"aXbXc", "a%b%c", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(tabsrv::likeMatch(c.value, c.pattern, '!'), c.match) << c.value << " like " << c.pattern;
}

}  // namespace
}  // namespace tabtest
