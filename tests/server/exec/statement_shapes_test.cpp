// A language batch of one SELECT sent again with other constants runs from the shape its first
// text was bound to. Each test runs texts one after another on one session, so that a text finds
// the shape an earlier one of the same shape left, and compares everything the session answered
// (formats, rows with their value types, DONE counts, messages with their lines) with what a
// fresh session, which has kept nothing, answers to the same text.
#include <gtest/gtest.h>

#include <sstream>

#include "recording_sink.h"
#include "server/exec/session_impl.h"

namespace tabtest {
namespace {

using Errors = std::vector<int>;

// Everything a batch produced, as one text: two runs that answered the same give the same text.
std::string transcript(const RecordingSink& r) {
  std::ostringstream out;
  for (const auto& e : r.events) out << e << ' ';
  out << '\n';
  for (const auto& set : r.sets) {
    for (const auto& c : set.columns)
      out << "col " << c.name << ' ' << static_cast<int>(c.type.type) << ' ' << c.type.length << ' '
          << static_cast<int>(c.type.precision) << ' ' << static_cast<int>(c.type.scale) << ' ' << c.nullable
          << c.identity << c.updatable << c.key << c.hidden << ' ' << c.userType << ' ' << c.tableName << '\n';
    for (const auto& row : set.rows) {
      out << "row";
      for (const auto& v : row) out << " [" << v.index() << ':' << show(v) << ']';
      out << '\n';
    }
  }
  for (const auto& d : r.dones) out << "done " << d.error << ' ' << d.count << '\n';
  for (const auto& m : r.messages)
    out << "msg " << m.number << ' ' << static_cast<int>(m.severity) << ' ' << static_cast<int>(m.state) << ' '
        << m.line << ' ' << m.text << '\n';
  return out.str();
}

class StatementShapes : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    makeTable();
  }
  // The table s with four rows, made again.
  void makeTable() {
    ASSERT_EQ(run("if object_id('s') is not null drop table s "
                  "create table s (id int not null, name varchar(20) null, c char(5) null, n numeric(10,2) null, "
                  "m money null, f float null, b varbinary(4) null, d datetime null, big numeric(20,0) null) "
                  "insert s values (1, 'one', 'ab', 1.50, $2.25, 0.5, 0x01, '2024-01-01', 12345678901234567890) "
                  "insert s values (2, 'it''s', 'abc', -3.00, -$1, 1.5, 0x0102, '2024-01-02 10:00', 5) "
                  "insert s values (3, 'three', 'a b', 5.00, $0, 12, 0x, '1900-01-01', NULL) "
                  "insert s values (-5, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL) "
                  "create unique index s_id on s (id)")
                  .errorNumbers(),
              Errors{});
  }
  static tabsrv::SessionImpl& impl(tabsrv::Session& s) { return dynamic_cast<tabsrv::SessionImpl&>(s); }
  // Runs `sql` on `session` and on a fresh session; both must answer the same.
  std::string same(const std::string& sql, tabsrv::Session& session) {
    const std::string kept = transcript(run(sql, &session));
    auto fresh = login();
    const std::string full = transcript(run(sql, fresh.get()));
    EXPECT_EQ(kept, full) << sql;
    return kept;
  }
};

// Texts in groups of one shape: the first of a group is bound, the later ones run from its
// shape when their constants allow (`reused` counts how many of the group did).
TEST_F(StatementShapes, AnswerWhatTheFullPathAnswers) {
  const struct {
    std::vector<std::string> texts;
    int reused;  // of texts after the first
  } groups[] = {
      {{"select name from s where id = 1", "select name from s where id = 2", "select name from s where id = 7",
        "select name from s where id = 0"},
       3},
      // A negative number is a minus and a constant, bound as one value: written into the SQL.
      {{"select name from s where id = -5", "select name from s where id = -1", "select name from s where id = - 1",
        "select name from s where id = -5"},
       1},
      // Beyond int the constant is a numeric of as many digits: another type, bound again.
      {{"select id from s where big = 12345678901234567890", "select id from s where big = 12345678901234567891",
        "select id from s where big = 5", "select id from s where big = 6"},
       2},
      {{"select id from s where id = 2147483647", "select id from s where id = 2147483648",
        "select id from s where id = 3", "select id from s where id = 2"},
       1},
      // Strings: quotes, blanks, other lengths (another type), double quotes.
      {{"select id from s where name = 'it''s'", "select id from s where name = 'on''e'",
        "select id from s where name = \"three\"", "select id from s where name = 'one'",
        "select id from s where name = 'onf'", "select id from s where name = ''"},
       2},
      {{"select id from s where c = 'ab  '", "select id from s where c = 'abc '", "select id from s where c = 'a b '",
        "select id from s where c = 'ab'"},
       2},
      {{"select id from s where name > 'o' order by id", "select id from s where name > 't' order by id",
        "select id from s where name < 'o' order by id"},
       1},
      // A string compared with a datetime converts to it; one that is no date is an error alike.
      {{"select id from s where d = '2024-01-01'", "select id from s where d = '2024-01-02'",
        "select id from s where d = 'not a date'", "select id from s where d < '2024-01-02 10:00'"},
       2},
      {{"select id from s where b = 0x0102", "select id from s where b = 0x0103", "select id from s where b = 0x01",
        "select id from s where b = 0x02"},
       2},
      {{"select id from s where n = 1.50", "select id from s where n = 5.00", "select id from s where n = -3.00",
        "select id from s where n = 1.5", "select id from s where n = 5.0"},
       2},
      {{"select id from s where m <= $0", "select id from s where m <= $2.25", "select id from s where m <= 2.25"},
       1},
      {{"select id from s where f < 1", "select id from s where f < 12", "select id from s where f < 1.5",
        "select id from s where f < 1e1"},
       1},
      // An integer constant against a string column: refused alike, whatever the value.
      {{"select id from s where name = 5", "select id from s where name = 6"}, 0},
      // Constants the SQL is written with: each text is bound for itself.
      {{"select id from s where id in (1, 2) order by id", "select id from s where id in (3, -5) order by id",
        "select id from s where id not in (3, 4) order by id"},
       0},
      {{"select id from s where id between 1 and 2 order by id", "select id from s where id between -5 and 1 order by id"},
       0},
      // NULL is no constant but a word of the shape.
      {{"select id from s where name = NULL or id = 1", "select id from s where name = NULL or id = 3",
        "select id from s where name = 'one' or id = 3"},
       1},
      {{"select id from s where id + 1 = 3", "select id from s where id + 2 = 3", "select id from s where id + 2 = 4"},
       1},
      {{"select id from s where id = (select max(id) from s where id < 3)",
        "select id from s where id = (select max(id) from s where id < 2)"},
       1},
      {{"select 1, name from s where id = 1", "select 2, name from s where id = 1", "select 2, name from s where id = 2"},
       1},
      {{"select 'a' = name from s where id = 1", "select 'b' = name from s where id = 1"}, 0},
      {{"select name from s where name like 'o%'", "select name from s where name like 't%'"}, 0},
      {{"select id, name from s where id > 0 order by 1", "select id, name from s where id > 0 order by 2"}, 0},
      {{"select convert(varchar(2), name) from s where id = 1", "select convert(varchar(3), name) from s where id = 1"},
       0},
      {{"select name from s where id = 1 and c = 'ab'", "select name from s where id = 2 and c = 'ac'",
        "select name from s where id = 2 and c = 'abc'"},
       1},
      // A constant out of range, an unknown column and an unknown table are errors alike.
      {{"select id from s where n = 12345678901234567890123456789012345678901234567890",
        "select id from s where n = 1"},
       0},
      {{"select nosuch from s where id = 1", "select nosuch from s where id = 2"}, 0},
      {{"select id from nosuch where id = 1", "select id from nosuch where id = 2"}, 0},
      // The line a statement starts on is its errors' line.
      {{"select nosuch from s where id = 1", "\n\nselect nosuch from s where id = 2"}, 0},
  };
  for (const auto& g : groups) {
    SCOPED_TRACE(g.texts.front());
    auto session = login();
    const uint64_t before = impl(*session).shapesRun();
    for (const std::string& text : g.texts) same(text, *session);
    EXPECT_EQ(impl(*session).shapesRun() - before, static_cast<uint64_t>(g.reused));
  }
}

// Two runs of one shape with a change between them: the second sees the change, made by the
// same session or by another one.
TEST_F(StatementShapes, FollowEachChange) {
  ASSERT_EQ(run("create database shapes_db").errorNumbers(), Errors{});
  ASSERT_EQ(run("create table shapes_db..s (id int not null, name varchar(20) null) "
                "insert shapes_db..s values (1, 'elsewhere')")
                .errorNumbers(),
            Errors{});
  ASSERT_EQ(run("sp_addlogin 'reader', 'secret1'").errorNumbers(), Errors{});
  ASSERT_EQ(run("sp_adduser 'reader'").errorNumbers(), Errors{});
  const struct {
    const char* name;
    const char* change;   // run between the two selects ('|' between batches)
    bool other;           // by another session
    const char* select;   // with % for the constant
    const char* first;    // constant of the first select
    const char* second;   // of the second
    bool reused = false;  // the change leaves the shape as it was: the second select runs from it
    bool reader = false;  // the selects run as `reader`
  } cases[] = {
      {"a column added by another session", "alter table s add extra int default 7 null", true,
       "select * from s where id = %", "1", "2"},
      {"the table made again with other types by another session",
       "drop table s create table s (id varchar(5) not null, name int null) insert s values ('2', 22)", true,
       "select id, name from s where id = %", "1", "2"},
      {"a view in the table's place", "drop table s|create view s as select 2 as id, 'view' as name", true,
       "select name from s where id = %", "1", "2"},
      {"the table dropped by another session", "drop table s", true, "select name from s where id = %", "1", "2"},
      {"a row inserted by another session", "insert s values (9, 'nine', NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
       true, "select name from s where id = %", "1", "9", true},
      {"another database", "use shapes_db", false, "select name from s where id = %", "2", "1"},
      {"ansinull switched", "set ansinull on", false, "select id from s where name = NULL or id = %", "1", "2"},
      {"rowcount set", "set rowcount 1", false, "select id from s where id > % order by id", "0", "-10"},
      {"a revoke by another session", "revoke select on s from reader", true, "select name from s where id = %", "1",
       "2", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(run("if exists (select 1 from sysobjects where name = 's' and type = 'V') drop view s")
                  .errorNumbers(),
              Errors{});
    makeTable();
    ASSERT_EQ(run("grant select on s to reader").errorNumbers(), Errors{});
    auto session = c.reader ? loginAs("reader", "secret1") : login();
    ASSERT_TRUE(session);
    auto other = login();
    auto with = [&](const char* constant) {
      std::string text = c.select;
      text.replace(text.find('%'), 1, constant);
      return text;
    };
    EXPECT_EQ(run(with(c.first), session.get()).errorNumbers(), Errors{});
    // The shape is kept: the same select with the second constant would run from it.
    auto change = [&](tabsrv::Session* on) {
      const std::string batches = c.change;
      for (size_t from = 0; from <= batches.size();) {
        const size_t bar = std::min(batches.find('|', from), batches.size());
        ASSERT_EQ(run(batches.substr(from, bar - from), on).errorNumbers(), Errors{});
        from = bar + 1;
      }
    };
    change(c.other ? other.get() : session.get());
    const uint64_t before = impl(*session).shapesRun();
    const std::string kept = transcript(run(with(c.second), session.get()));
    EXPECT_EQ(impl(*session).shapesRun() - before, c.reused ? 1u : 0u);
    // What a session that kept nothing answers in the same state.
    auto fresh = c.reader ? loginAs("reader", "secret1") : login();
    if (!c.other) change(fresh.get());
    EXPECT_EQ(kept, transcript(run(with(c.second), fresh.get())));
  }
}

}  // namespace
}  // namespace tabtest
