// What a session keeps from one statement to the next (an insert's table, rules, trigger and
// SQLite statement; a called procedure's text, parameters and EXECUTE check; a kept SQLite
// statement's permission check) holds only while nothing it depends on changes: each test makes
// a change between two statements of the same shape, in the same batch or from another session,
// and checks that the second statement sees it.
#include <gtest/gtest.h>

#include "recording_sink.h"
#include "server/types/type_codes.h"

namespace tabtest {
namespace {

using tabsrv::ParamValue;
using tabsrv::SqlType;
using tabsrv::Value;

class KeptPlans : public EngineTest {
 protected:
  RecordingSink rpc(tabsrv::Session& s, const std::string& proc, std::vector<ParamValue> params = {}) {
    RecordingSink sink;
    s.executeRpc(proc, params, sink);
    return sink;
  }
  static ParamValue intParam(const std::string& name, int64_t v) {
    ParamValue p;
    p.name = name;
    p.format.name = name;
    p.format.type = tabsrv::makeType(SqlType::Int);
    p.value = Value{v};
    return p;
  }
  // The values of the first column of every row of the last result set, as text.
  std::vector<std::string> column(const std::string& sql, tabsrv::Session* s = nullptr) {
    RecordingSink r = run(sql, s);
    std::vector<std::string> out;
    if (r.sets.empty()) return {"<no result: " + (r.messages.empty() ? std::string() : r.messages[0].text) + ">"};
    for (const auto& row : r.sets.back().rows) out.push_back(show(row.at(0), r.sets.back().columns.at(0).type));
    return out;
  }
};

using Strings = std::vector<std::string>;
using Errors = std::vector<int>;

// A literal inserted by INSERT ... VALUES (which needs no SQL for it) is stored exactly as the
// same literal inserted by INSERT ... SELECT (which computes it in SQLite), or refused alike.
TEST_F(KeptPlans, LiteralValuesAreStoredAsTheirSqlStoresThem) {
  const struct {
    const char* type;
    const char* literal;
  } cases[] = {
      {"int", "5"},
      {"int", "-7"},
      {"int", "-2147483648"},
      {"int", "2147483648"},
      {"numeric(20,0)", "12345678901234567"},
      {"numeric(10,2)", "12.5"},
      {"numeric(10,2)", "-0.255"},
      {"numeric(38,0)", "99999999999999999999999999999999999999"},
      {"decimal(5,3)", "1.5"},
      {"money", "$1.5"},
      {"money", "-$2.25"},
      {"money", "12.34567"},
      {"smallmoney", "$214748.3647"},
      {"float", "1.5e10"},
      {"float", "0.1"},
      {"real", "0.1"},
      {"float", "12"},
      {"varchar(10)", "''"},
      {"varchar(10)", "'it''s'"},
      {"char(5)", "'ab'"},
      {"varchar(3)", "'abcdef'"},
      {"varbinary(4)", "0x0102"},
      {"binary(3)", "0x01"},
      {"datetime", "'2024-02-03 04:05:06.789'"},
      {"smalldatetime", "'2024-02-03 04:05:31'"},
      {"datetime", "'not a date'"},
      {"int", "NULL"},
      {"varchar(10)", "NULL"},
      {"bit", "1"},
      {"tinyint", "200"},
      {"tinyint", "300"},
      {"smallint", "-300"},
      {"int", "1.9"},
      {"int", "'5'"},
      {"varchar(10)", "5"},
      {"int", "$3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.literal);
    ASSERT_EQ(run(std::string("if object_id('k') is not null drop table k create table k (id int not null, v ") +
                  c.type + " null)")
                  .errorNumbers(),
              Errors{});
    Errors values = run(std::string("insert k values (1, ") + c.literal + ")").errorNumbers();
    Errors select = run(std::string("insert k select 2, ") + c.literal).errorNumbers();
    EXPECT_EQ(values, select);
    if (!values.empty()) continue;
    RecordingSink stored = run("select v, datalength(v) from k order by id");
    ASSERT_EQ(stored.sets.size(), 1u);
    ASSERT_EQ(stored.sets[0].rows.size(), 2u);
    const auto& type = stored.sets[0].columns[0].type;
    EXPECT_EQ(show(stored.sets[0].rows[0][0], type), show(stored.sets[0].rows[1][0], type));
    EXPECT_EQ(show(stored.sets[0].rows[0][1]), show(stored.sets[0].rows[1][1]));
    EXPECT_EQ(stored.sets[0].rows[0][0], stored.sets[0].rows[1][0]);
  }
}

// The same for variables: declared, set from a literal, a procedure's parameters given by RPC
// and a parameterised command's @P values as the client sent them.
TEST_F(KeptPlans, VariableValuesAreStoredAsTheirSqlStoresThem) {
  const struct {
    const char* type;
    const char* value;  // assigned with select @v = <value>
    SqlType wire;       // how an RPC sends it
    Value sent;
  } cases[] = {
      {"int", "-7", SqlType::Int, Value{int64_t{-7}}},
      {"tinyint", "200", SqlType::TinyInt, Value{int64_t{200}}},
      {"bit", "1", SqlType::Bit, Value{int64_t{1}}},
      {"numeric(10,2)", "12.5", SqlType::Numeric, Value{tabsrv::Decimal{1250, 2}}},
      {"numeric(20,4)", "-0.0001", SqlType::Numeric, Value{tabsrv::Decimal{-1, 4}}},
      {"money", "$1.5", SqlType::Money, Value{tabsrv::Decimal{15000, 4}}},
      {"smallmoney", "-2.25", SqlType::SmallMoney, Value{tabsrv::Decimal{-22500, 4}}},
      {"float", "0.1", SqlType::Float, Value{0.1}},
      {"real", "0.1", SqlType::Real, Value{static_cast<double>(0.1f)}},
      {"char(5)", "'ab'", SqlType::Char, Value{std::string("ab")}},
      {"varchar(10)", "'it''s'", SqlType::VarChar, Value{std::string("it's")}},
      {"varbinary(4)", "0x0102", SqlType::VarBinary, Value{tabsrv::Bytes{1, 2}}},
      {"datetime", "'2024-02-03 04:05:06.790'", SqlType::DateTime, Value{tabsrv::DateTime{45323, 4437237}}},
      {"smalldatetime", "'2024-02-03 04:05:00'", SqlType::SmallDateTime, Value{tabsrv::DateTime{45323, 4435500}}},
      {"int", "NULL", SqlType::Int, Value{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.value);
    const std::string type = c.type;
    ASSERT_EQ(run("if object_id('k') is not null drop table k create table k (id int not null, v " + type +
                  " null) if object_id('put') is not null drop procedure put")
                  .errorNumbers(),
              Errors{});
    ASSERT_EQ(run("create procedure put @v " + type + " as insert k values (3, @v) insert k select 4, @v")
                  .errorNumbers(),
              Errors{});
    ASSERT_EQ(run("declare @v " + type + " select @v = " + c.value +
                  " insert k values (1, @v) insert k select 2, @v")
                  .errorNumbers(),
              Errors{});
    ParamValue p;
    p.name = "@v";
    p.format.name = "@v";
    p.format.type = tabsrv::makeType(c.wire, c.wire == SqlType::Char || c.wire == SqlType::VarChar ? 10
                                             : c.wire == SqlType::VarBinary                          ? 4
                                                                                                     : 0);
    if (c.wire == SqlType::Numeric) {
      p.format.type.precision = 20;
      p.format.type.scale = std::get<tabsrv::Decimal>(c.sent).scale;
    }
    p.value = c.sent;
    ASSERT_EQ(rpc(*session_, "put", {p}).errorNumbers(), Errors{});
    RecordingSink with;
    p.name = "@P1";
    session_->executeLanguageWithParams("insert k values (5, @P1) insert k select 6, @P1", {p}, with);
    ASSERT_EQ(with.errorNumbers(), Errors{});
    RecordingSink stored = run("select v from k order by id");
    ASSERT_EQ(stored.sets.size(), 1u);
    ASSERT_EQ(stored.sets[0].rows.size(), 6u);
    for (size_t pair = 0; pair < 3; ++pair) {
      SCOPED_TRACE(pair == 0 ? "declared" : pair == 1 ? "procedure parameter" : "command parameter");
      EXPECT_EQ(stored.sets[0].rows[2 * pair][0], stored.sets[0].rows[2 * pair + 1][0]);
    }
  }
}

// The inserts of one batch share a plan; a change between two of them, in the batch itself or made
// by another session between two batches, is seen by the next insert.
TEST_F(KeptPlans, InsertsOfABatchFollowEachChangeToTheirTable) {
  auto other = login();
  const struct {
    const char* name;
    const char* setup;   // run first (its own batch)
    const char* change;  // between the two inserts
    bool sameBatch;      // the change runs in the inserts' batch, else in another session's
    Errors errors;       // of the second insert
    const char* check;   // a query whose single value must be "ok"
  } cases[] = {
      {"a column added with a default", "", "alter table shape add c int default 7 null", false, {},
       "select case when c = 7 then 'ok' else 'wrong' end from shape where a = 2"},
      {"a column added in the batch", "", "alter table shape add c int default 7 null", true, {},
       "select case when c = 7 then 'ok' else 'wrong' end from shape where a = 2"},
      {"the table made again with its columns swapped", "",
       "drop table shape create table shape (b varchar(10) not null, a int not null)", true, {},
       "select case when b = 'r2' then 'ok' else 'wrong' end from shape where a = 2"},
      {"a trigger created", "", "create trigger shape_ins on shape for insert as update shape set b = 'fired' "
       "where a in (select a from inserted)", false, {},
       "select case when b = 'fired' then 'ok' else 'wrong' end from shape where a = 2"},
      {"the trigger dropped", "create trigger shape_ins on shape for insert as update shape set b = 'fired'",
       "drop trigger shape_ins", false, {},
       "select case when b = 'r2' then 'ok' else 'wrong' end from shape where a = 2"},
      {"a rule bound", "create rule small_a as @a < 2", "exec sp_bindrule small_a, 'shape.a'", true, {552},
       "select case when count(*) = 1 then 'ok' else 'wrong' end from shape"},
      {"a rule bound by another session", "create rule small_a as @a < 2", "exec sp_bindrule small_a, 'shape.a'",
       false, {552}, "select case when count(*) = 1 then 'ok' else 'wrong' end from shape"},
      {"a rule unbound", "create rule small_a as @a < 2 exec sp_bindrule small_a, 'shape.a'",
       "exec sp_unbindrule 'shape.a'", true, {}, "select case when count(*) = 2 then 'ok' else 'wrong' end from shape"},
      {"a check constraint made with the table", "",
       "drop table shape create table shape (a int not null check (a < 2), b varchar(10) not null)", true, {548},
       "select case when count(*) = 0 then 'ok' else 'wrong' end from shape"},
      {"the table dropped", "", "drop table shape", true, {208},
       "select case when object_id('shape') is null then 'ok' else 'wrong' end"},
      {"a NOT NULL column added", "", "drop table shape create table shape (a int not null, b varchar(10) not null, "
       "d int not null)", false, {233}, "select case when count(*) = 0 then 'ok' else 'wrong' end from shape"},
      {"a binding rolled back", "create rule small_a as @a < 2",
       "begin tran exec sp_bindrule small_a, 'shape.a' rollback tran", true, {},
       "select case when count(*) = 2 then 'ok' else 'wrong' end from shape"},
      {"a column added and rolled back to a savepoint", "",
       "begin tran save tran s insert shape (a, b) values (9, 'r9') alter table shape add c int default 7 null "
       "insert shape (a, b) values (10, 'r10') rollback tran s insert shape (a, b) values (11, 'r11') commit tran",
       true, {}, "select case when count(*) = 3 and sum(a) = 14 then 'ok' else 'wrong' end from shape"},
      {"a column added and rolled back", "",
       "begin tran alter table shape add c int default 7 null insert shape (a, b) values (10, 'r10') rollback tran",
       true, {}, "select case when count(*) = 2 and max(a) = 2 then 'ok' else 'wrong' end from shape"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(run("if object_id('shape') is not null drop table shape "
                  "if object_id('small_a') is not null drop rule small_a "
                  "create table shape (a int not null, b varchar(10) not null)")
                  .errorNumbers(),
              Errors{});
    if (*c.setup) {
      ASSERT_EQ(run(c.setup).errorNumbers(), Errors{});
    }
    Errors second;
    if (c.sameBatch) {
      second = run(std::string("insert shape (a, b) values (1, 'r1') ") + c.change +
                   " insert shape (a, b) values (2, 'r2')")
                   .errorNumbers();
    } else {
      ASSERT_EQ(run("insert shape (a, b) values (1, 'r1')").errorNumbers(), Errors{});
      ASSERT_EQ(run(c.change, other.get()).errorNumbers(), Errors{});
      second = run("insert shape (a, b) values (2, 'r2')").errorNumbers();
    }
    EXPECT_EQ(second, c.errors);
    EXPECT_EQ(scalar(c.check), "ok");
  }
}

// The ids (one column) of every row of the last result set, joined by commas, or the error numbers.
std::string idsOf(const RecordingSink& r) {
  if (!r.errorNumbers().empty()) {
    std::string out = "error";
    for (int e : r.errorNumbers()) out += " " + std::to_string(e);
    return out;
  }
  if (r.sets.empty()) return "<no result>";
  std::string out;
  for (const auto& row : r.sets.back().rows) out += (out.empty() ? "" : ",") + show(row.at(0));
  return out;
}

// A select repeated with other constants in its WHERE comparisons runs one kept SQLite statement
// with the constants bound: each finds the rows the same comparison finds where its constant stays
// in the SQL text (a CASE in the select list), for every kind of constant, and the rows listed.
// The constants of each case run one after another on one session, so the later ones reuse the
// statement the first one left.
TEST_F(KeptPlans, SelectsWithOtherConstantsFindWhatTheConstantsFind) {
  // The session's defaults hold: ansinull off, so `v = NULL` finds a NULL v.
  struct Probe {
    const char* literal;   // put for each % of the condition (two for BETWEEN: "a|b")
    const char* expected;  // the ids found, or "error N"
  };
  const struct {
    const char* type;
    const char* values;     // of rows 1, 2, 3, 4
    const char* condition;  // with % for the constants
    std::vector<Probe> probes;
  } cases[] = {
      {"int", "1, 5, 10, NULL", "v = %", {{"5", "2"}, {"10", "3"}, {"7", ""}, {"-5", ""}, {"NULL", "4"}}},
      {"int", "1, 5, 10, NULL", "v < %", {{"6", "1,2"}, {"-1", ""}, {"2147483647", "1,2,3"}, {"2147483648", "1,2,3"}}},
      {"int", "1, 5, 10, NULL", "% <= v", {{"5", "2,3"}, {"11", ""}, {"-2147483648", "1,2,3"}}},
      {"int", "1, 5, 10, NULL", "v = %", {{"5.0", "2"}, {"4.9", ""}, {"$5", "2"}, {"5e0", "2"}}},
      {"int", "-7, 5, 10, NULL", "v in (%, 10)", {{"-7", "1,3"}, {"5", "2,3"}, {"NULL", "3"}}},
      {"int", "-7, 5, 10, NULL", "v not in (%, 10)", {{"-7", "2"}, {"5", "1"}, {"NULL", "1,2"}}},
      {"int", "1, 5, 10, NULL", "v between % and %", {{"2|10", "2,3"}, {"1|1", "1"}, {"10|2", ""}}},
      {"tinyint", "1, 200, 255, NULL", "v > %", {{"199", "2,3"}, {"300", ""}, {"-1", "1,2,3"}}},
      {"varchar(10)", "'abc', 'ABC', 'b', NULL", "v = %",
       {{"'abc'", "1"}, {"'abc   '", "1"}, {"'ABC'", "2"}, {"'zz'", ""}, {"''", ""}, {"NULL", "4"}}},
      {"varchar(10)", "'abc', 'ABC', 'b', NULL", "v > %", {{"'abc'", "3"}, {"'A'", "1,2,3"}, {"'b '", ""}}},
      {"varchar(10)", "'it''s', 'a IS b', ' ', NULL", "v = %", {{"'it''s'", "1"}, {"'a IS b'", "2"}, {"''", "3"}}},
      {"varchar(10)", "'it''s', 'a IS b', ' ', NULL", "v not in (%)", {{"'a IS b'", "1,3"}, {"'it''s'", "2,3"}}},
      {"char(5)", "'ab', 'abc', 'b', NULL", "v in (%, 'b')", {{"'ab'", "1,3"}, {"'abc  '", "2,3"}}},
      {"varchar(10)", "'abc', 'abd', 'b', NULL", "v like %", {{"'ab%'", "1,2"}, {"'_'", "3"}, {"'%d'", "2"}}},
      {"varchar(10)", "'abc', 'abd', 'b', NULL", "v between % and %", {{"'abc'|'abd'", "1,2"}, {"'a'|'b'", "1,2,3"}}},
      {"varchar(10)", "'5', '10', 'x', NULL", "v = %", {{"5", "error 257"}}},
      {"numeric(10,2)", "1.50, 2.25, -3.00, NULL", "v = %",
       {{"1.5", "1"}, {"2.250", "2"}, {"-3", "3"}, {"3", ""}, {"$2.25", "2"}, {"2.25e0", "2"}}},
      {"numeric(10,2)", "1.50, 2.25, -3.00, NULL", "v > %", {{"0", "1,2"}, {"-3", "1,2"}, {"2", "2"}, {"-10.001", "1,2,3"}}},
      {"numeric(38,0)", "12345678901234567890, 12345678901234567891, 0, NULL", "v = %",
       {{"12345678901234567891", "2"}, {"12345678901234567890", "1"}, {"0", "3"}}},
      {"money", "$1.5, $2.25, -$3, NULL", "v <= %", {{"$1.5", "1,3"}, {"2.25", "1,2,3"}, {"-3", "3"}, {"1", "3"}}},
      {"float", "0.1, 1.5, 12, NULL", "v < %", {{"1", "1"}, {"1.5", "1"}, {"12", "1,2"}, {"1.5e0", "1"}}},
      {"real", "0.1, 1.5, 12, NULL", "v = %", {{"1.5", "2"}, {"12", "3"}, {"0.1", "1"}, {"0.2", ""}}},
      {"datetime", "'2024-02-03 04:05:06.789', '2024-01-01', '1900-01-01', NULL", "v = %",
       {{"'2024-01-01'", "2"}, {"'Jan 1 2024'", "2"}, {"'2024-02-03 04:05:06.793'", ""}, {"'2024-02-03T04:05:06.789'", "1"}}},
      {"datetime", "'2024-02-03 04:05:06.789', '2024-01-01', '1900-01-01', NULL", "v < %",
       {{"'2024-02-01'", "2,3"}, {"'1900-01-02'", "3"}, {"'not a date'", "error 249"}}},
      {"smalldatetime", "'2024-02-03 04:05', '2024-01-01', '1900-01-01', NULL", "v = %",
       {{"'2024-02-03 04:05:29'", "1"}, {"'2024-02-03 04:05:31'", ""}, {"'2024-01-01 00:00'", "2"}}},
      {"varbinary(4)", "0x0102, 0x01, 0x, NULL", "v = %", {{"0x0102", "1"}, {"0x01", "2"}, {"0x010203", ""}}},
      {"bit", "1, 0, 1, 0", "v = %", {{"1", "1,3"}, {"0", "2,4"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + ": " + c.condition);
    auto session = login();
    ASSERT_EQ(run(std::string("if object_id('k') is not null drop table k create table k (id int not null, v ") +
                      c.type + " null)",
                  session.get())
                  .errorNumbers(),
              Errors{});
    const std::string values = c.values;
    size_t from = 0;
    for (int id = 1; from <= values.size(); ++id) {
      // The values are split at ", " outside quotes.
      size_t to = from;
      bool quoted = false;
      while (to < values.size() && (quoted || values.compare(to, 2, ", ") != 0)) quoted ^= values[to++] == '\'';
      ASSERT_EQ(run("insert k values (" + std::to_string(id) + ", " + values.substr(from, to - from) + ")", session.get())
                    .errorNumbers(),
                Errors{});
      from = to + 2;
    }
    for (const Probe& p : c.probes) {
      SCOPED_TRACE(p.literal);
      std::string literal = p.literal, second;
      if (size_t bar = literal.find('|'); bar != std::string::npos) {
        second = literal.substr(bar + 1);
        literal.resize(bar);
      }
      std::string condition = c.condition;
      size_t at = 0;
      for (const std::string* l : {&literal, &second})
        if (at = condition.find('%', at); at != std::string::npos) {
          condition.replace(at, 1, *l);
          at += l->size();
        }
      const std::string found = idsOf(run("select id from k where " + condition + " order by id", session.get()));
      EXPECT_EQ(found, p.expected);
      // Where the constant stays in the text: the CASE's condition, bound as a select list's is.
      RecordingSink listed = run("select id, case when " + condition + " then 1 else 0 end from k order by id",
                                 session.get());
      std::string reference;
      if (!listed.errorNumbers().empty()) {
        reference = idsOf(listed);
      } else {
        for (const auto& row : listed.sets.back().rows)
          if (show(row.at(1)) == "1") reference += (reference.empty() ? "" : ",") + show(row.at(0));
      }
      EXPECT_EQ(found, reference);
    }
  }
}

// A select kept with its constants bound follows what changed since its last run, in its own
// batch or from another session, as any kept statement does.
TEST_F(KeptPlans, SelectsWithOtherConstantsFollowEachChange) {
  auto other = login();
  const struct {
    const char* name;
    const char* change;  // between `v = 10` and `v = 5`
    bool sameBatch;      // the change runs in the selects' batch, else in another session's
    const char* expected;  // the ids `v = 5` finds, or "error N"
  } cases[] = {
      {"a row inserted", "insert k values (5, 5)", false, "2,5"},
      {"a row updated", "update k set v = 5 where id = 3", false, "2,3"},
      {"an index created", "create index kv on k (v)", false, "2"},
      {"a column added", "alter table k add w int null", true, "2"},
      {"the table made again", "drop table k create table k (v int null, id int not null) insert k values (5, 7)",
       true, "7"},
      {"the table made again by another session",
       "drop table k create table k (v int null, id int not null) insert k values (5, 7)", false, "7"},
      {"the table made again with a numeric column",
       "drop table k create table k (id int not null, v numeric(5,1) null) insert k values (8, 5.0)", false, "8"},
      {"the table dropped", "drop table k", false, "error 208"},
      {"a change rolled back", "begin tran insert k values (5, 5) rollback tran", true, "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(run("if object_id('k') is not null drop table k create table k (id int not null, v int null) "
                  "insert k values (1, 1) insert k values (2, 5) insert k values (3, 10)")
                  .errorNumbers(),
              Errors{});
    std::string found;
    if (c.sameBatch) {
      RecordingSink r = run(std::string("select id from k where v = 10 ") + c.change +
                            " select id from k where v = 5 order by id");
      found = idsOf(r);
      EXPECT_EQ(r.sets.size(), 2u);
    } else {
      EXPECT_EQ(idsOf(run("select id from k where v = 10 order by id")), "3");
      ASSERT_EQ(run(c.change, other.get()).errorNumbers(), Errors{});
      found = idsOf(run("select id from k where v = 5 order by id"));
    }
    EXPECT_EQ(found, c.expected);
  }
}

// The same insert text in another database, as another user, or under other options of the session
// is planned for where it runs now.
TEST_F(KeptPlans, InsertsFollowTheDatabaseAndTheSessionOptions) {
  ASSERT_EQ(run("create database second_db").errorNumbers(), Errors{});
  ASSERT_EQ(run("create table t (n int not null) create table second_db..t (n int not null, m int default 5 null)")
                .errorNumbers(),
            Errors{});
  // One batch moving between databases: each insert goes to the table of the database it runs in.
  RecordingSink moved = run("insert t (n) values (1) use second_db insert t (n) values (2) use master "
                            "insert t (n) values (3) use second_db insert t (n) values (4)");
  EXPECT_EQ(moved.errorNumbers(), Errors{});
  EXPECT_EQ(column("select n from master..t order by n"), (Strings{"1", "3"}));
  EXPECT_EQ(column("select m from second_db..t order by n"), (Strings{"5", "5"}));
  // A procedure of the other database inserts into that database's table, right after this
  // database's insert of the same text.
  ASSERT_EQ(run("use second_db").errorNumbers(), Errors{});
  ASSERT_EQ(run("create procedure add_t as insert t (n) values (20)").errorNumbers(), Errors{});
  ASSERT_EQ(run("use master insert t (n) values (21)").errorNumbers(), Errors{});
  EXPECT_EQ(rpc(*session_, "second_db..add_t").errorNumbers(), Errors{});
  EXPECT_EQ(run("insert t (n) values (22)").errorNumbers(), Errors{});
  EXPECT_EQ(column("select n from second_db..t where n >= 20"), (Strings{"20"}));
  EXPECT_EQ(column("select n from master..t where n >= 20 order by n"), (Strings{"21", "22"}));

  // identity_insert and chained mode, switched between two inserts of one shape.
  ASSERT_EQ(run("use master create table ids (id int identity, v int not null)").errorNumbers(), Errors{});
  RecordingSink identity = run("set identity_insert ids on insert ids (id, v) values (10, 1) "
                               "set identity_insert ids off insert ids (id, v) values (11, 2) "
                               "set identity_insert ids on insert ids (id, v) values (12, 3) "
                               "set identity_insert ids off");
  EXPECT_EQ(identity.errorNumbers(), Errors{584});
  EXPECT_EQ(column("select id from ids order by id"), (Strings{"10", "12"}));
  RecordingSink chained = run("insert t values (5) select @@trancount set chained on insert t values (6) "
                              "select @@trancount rollback tran set chained off");
  ASSERT_EQ(chained.sets.size(), 2u);
  EXPECT_EQ(show(chained.sets[0].rows.at(0).at(0)), "0");
  EXPECT_EQ(show(chained.sets[1].rows.at(0).at(0)), "1");
  EXPECT_EQ(column("select n from t where n between 5 and 6"), (Strings{"5"}));

  // Variables are read as their types each time.
  RecordingSink vars = run("declare @v numeric(6,2), @s varchar(3) select @v = 1.25, @s = 'abc' "
                           "insert ids (v) values (@v) select @v = -3.5 insert ids (v) values (@v)");
  EXPECT_EQ(vars.errorNumbers(), Errors{});
  EXPECT_EQ(column("select v from ids where id > 12 order by id"), (Strings{"1", "-3"}));
}

// A kept statement is checked against the login's rights at each use that could decide otherwise:
// after a revoke, and outside the procedure whose ownership chain let the same SQL run.
TEST_F(KeptPlans, PermissionsAreDecidedAgainForKeptStatements) {
  ASSERT_EQ(run("sp_addlogin bookkeeper, 'clerk-pw1', master").errorNumbers(), Errors{});
  ASSERT_EQ(run("sp_adduser bookkeeper").errorNumbers(), Errors{});
  ASSERT_EQ(run("create table ledger (n int not null)").errorNumbers(), Errors{});
  ASSERT_EQ(run("create procedure add_entry @n int as insert ledger values (@n)").errorNumbers(), Errors{});
  ASSERT_EQ(run("grant execute on add_entry to bookkeeper").errorNumbers(), Errors{});
  auto clerk = loginAs("bookkeeper", "clerk-pw1");
  ASSERT_NE(clerk, nullptr);

  const struct {
    const char* by;   // "sa" or "clerk"
    const char* sql;  // a batch, or "rpc" for add_entry by RPC
    Errors errors;
  } steps[] = {
      {"clerk", "insert ledger values (1)", {229}},
      {"clerk", "exec add_entry 2", {}},
      {"clerk", "rpc", {}},
      // The same INSERT the procedure ran, now without its ownership chain.
      {"clerk", "insert ledger values (3)", {229}},
      {"clerk", "insert dbo.ledger values (4)", {229}},
      {"sa", "grant insert on ledger to bookkeeper", {}},
      {"clerk", "insert ledger values (5)", {}},
      {"clerk", "insert dbo.ledger values (6)", {}},
      {"sa", "revoke insert on ledger from bookkeeper", {}},
      {"clerk", "insert ledger values (7)", {229}},
      {"clerk", "exec add_entry 8", {}},
      {"sa", "revoke execute on add_entry from bookkeeper", {}},
      {"clerk", "exec add_entry 9", {229}},
      {"clerk", "rpc", {229}},
      {"sa", "grant execute on add_entry to bookkeeper", {}},
      {"clerk", "rpc", {}},
      // A change through a view is judged by the view's rights; the same change of the table
      // itself, by the table's.
      {"sa", "create view ledger_v as select n from ledger", {}},
      {"sa", "grant update on ledger_v to bookkeeper", {}},
      {"clerk", "update ledger_v set n = 1 where 1 = 0", {}},
      {"clerk", "update ledger set n = 1 where 1 = 0", {229}},
      {"clerk", "update ledger_v set n = 1 where 1 = 0", {}},
      // Reads of a kept SELECT too.
      {"clerk", "select count(*) from ledger", {229}},
      {"sa", "grant select on ledger to bookkeeper", {}},
      {"clerk", "select count(*) from ledger", {}},
      {"sa", "revoke select on ledger from bookkeeper", {}},
      {"clerk", "select count(*) from ledger", {229}},
  };
  int64_t rpcValue = 100;
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.by) + ": " + step.sql);
    tabsrv::Session& s = std::string(step.by) == "sa" ? *session_ : *clerk;
    RecordingSink r = std::string(step.sql) == "rpc" ? rpc(s, "add_entry", {intParam("@n", rpcValue++)})
                                                     : run(step.sql, &s);
    EXPECT_EQ(r.errorNumbers(), step.errors);
  }
  EXPECT_EQ(column("select n from ledger order by n"), (Strings{"2", "5", "6", "8", "100", "102"}));
}

// A procedure called again runs what the catalogue holds now: a new text, a text another session
// committed (not before it commits), the procedure of the database the caller is in.
TEST_F(KeptPlans, CalledProceduresFollowTheCatalogue) {
  auto other = login();
  ASSERT_EQ(run("create procedure which as select 'first'").errorNumbers(), Errors{});
  auto answer = [&](tabsrv::Session& s) {
    RecordingSink r = rpc(s, "which");
    if (!r.errorNumbers().empty()) return "error " + std::to_string(r.errorNumbers()[0]);
    if (r.sets.empty() || r.sets[0].rows.empty()) return std::string("<none>");
    return show(r.sets[0].rows[0][0]);
  };
  EXPECT_EQ(answer(*session_), "first");
  ASSERT_EQ(run("drop procedure which").errorNumbers(), Errors{});
  EXPECT_EQ(answer(*session_), "error 2812");
  ASSERT_EQ(run("create procedure which as select 'second'").errorNumbers(), Errors{});
  EXPECT_EQ(answer(*session_), "second");
  EXPECT_EQ(scalar("exec which"), "second");

  // Another session's new text counts from its commit on.
  ASSERT_EQ(run("begin tran", other.get()).errorNumbers(), Errors{});
  ASSERT_EQ(run("drop procedure which", other.get()).errorNumbers(), Errors{});
  ASSERT_EQ(run("create procedure which as select 'third'", other.get()).errorNumbers(), Errors{});
  EXPECT_EQ(answer(*session_), "second");
  ASSERT_EQ(run("commit tran", other.get()).errorNumbers(), Errors{});
  EXPECT_EQ(answer(*session_), "third");

  // A procedure that replaces itself while it runs finishes the text it began with.
  ASSERT_EQ(run("create procedure renew as exec('drop procedure renew') select 'old text' "
                "exec('create procedure renew as select ''new text''')")
                .errorNumbers(),
            Errors{});
  EXPECT_EQ(column("exec renew"), (Strings{"old text"}));
  EXPECT_EQ(column("exec renew"), (Strings{"new text"}));

  // The name leads to the procedure of the caller's current database.
  ASSERT_EQ(run("create database procs_db").errorNumbers(), Errors{});
  ASSERT_EQ(run("use procs_db").errorNumbers(), Errors{});
  EXPECT_EQ(answer(*session_), "error 2812");
  ASSERT_EQ(run("create procedure which as select 'procs_db'").errorNumbers(), Errors{});
  EXPECT_EQ(answer(*session_), "procs_db");
  ASSERT_EQ(run("use master").errorNumbers(), Errors{});
  EXPECT_EQ(answer(*session_), "third");

  // A parameter of a user type takes the type as it is when the procedure is made again.
  ASSERT_EQ(run("exec sp_addtype short_text, 'varchar(3)'").errorNumbers(), Errors{});
  ASSERT_EQ(run("create procedure echo @s short_text as select @s").errorNumbers(), Errors{});
  EXPECT_EQ(column("exec echo 'abcdef'"), (Strings{"abc"}));
  ASSERT_EQ(run("drop procedure echo exec sp_droptype short_text").errorNumbers(), Errors{});
  ASSERT_EQ(run("exec sp_addtype short_text, 'varchar(5)'").errorNumbers(), Errors{});
  ASSERT_EQ(run("create procedure echo @s short_text as select @s").errorNumbers(), Errors{});
  EXPECT_EQ(column("exec echo 'abcdef'"), (Strings{"abcde"}));
}

}  // namespace
}  // namespace tabtest
