// What the engine reports beyond rows: the SQL-monitor trace with its exact texts (only with
// Monitor on and an owner), the texts copied into an owner recognised by its class name, and
// the private AutoDb connection.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "access/SysUtils.h"
#include "engine_fixture.h"
#include "tests/support/monitor_lines.h"

namespace {

// The monitor's lines under a window title of this process's own.
struct MonitorReceiver : tabtest::MonitorLines {
  MonitorReceiver() : MonitorLines(QStringLiteral("EngineTrace%1").arg(::getpid())) {}
};

using EngineTrace = EngineTest;

TEST_F(EngineTrace, MonitorLinesCarryTheExactTexts) {
  MonitorReceiver monitor;
  TComponent owner;
  auto* q = new TQorixEnhQuery(&owner);
  q->SetDatabase(db_.get());
  q->Monitor = true;
  q->SetSQL(QStringLiteral("select 1 as x"));
  q->ExecSQL();
  const QStringList lines = monitor.Lines();
  const QStringList expected = {
      QStringLiteral("SQL Execute: select 1 as x"),
      QStringLiteral("CS_ROW_RESULT"),
      QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : 1"),
      QStringLiteral("Open-Client: ct_bind - Column Name : x"),
      QStringLiteral("Open-Client: ct_fetch"),
      QStringLiteral("SQL Data Out: Column = 1, Name = x, Type = char, Precision = 0, Scale = 0, Data = 1"),
      QStringLiteral("CS_END_DATA"),
      QStringLiteral("CS_CMD_DONE"),
      QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - Number of rows : 1"),
      QStringLiteral("Flow : ** End of SQLExec **"),
  };
  // In this order, with other lines between them.
  int at = 0;
  for (const QString& line : lines)
    if (at < expected.size() && line == expected[at]) ++at;
  EXPECT_EQ(at, expected.size()) << "missing from: " << lines.join(QStringLiteral(" / ")).toStdString()
                                 << "\nfirst missing: "
                                 << (at < expected.size() ? expected[at].toStdString() : "");

  // Without an owner nothing is sent.
  TQorixEnhQuery lonely;
  lonely.SetDatabase(db_.get());
  lonely.Monitor = true;
  lonely.SetSQL(QStringLiteral("select 2"));
  lonely.ExecSQL();
  EXPECT_TRUE(monitor.Lines().isEmpty());
}

// The compute trace names the statement's number of COMPUTE clauses.
TEST_F(EngineTrace, ComputeTraceCountsTheComputeClauses) {
  Exec(QStringLiteral("create table #tc (g int, v int)\ninsert #tc values (1, 10)\ninsert #tc values (2, 5)"));
  const struct {
    const char* sql;
    const char* line;
  } cases[] = {
      {"select g, v from #tc order by g compute sum(v)", "Number of Computes : 1"},
      {"select g, v from #tc order by g compute sum(v) by g compute max(v)", "Number of Computes : 2"},
      {"select g, v from #tc order by g compute sum(v) by g compute max(v) by g compute count(v)",
       "Number of Computes : 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    MonitorReceiver monitor;
    TComponent owner;
    auto* q = new TQorixEnhQuery(&owner);
    q->SetDatabase(db_.get());
    q->Monitor = true;
    int computeRows = 0;
    q->OnComputeRow = [&](TComponent*) { ++computeRows; };
    q->SetSQL(QString::fromLatin1(c.sql));
    q->ExecSQL();
    if (computeRows == 0) GTEST_SKIP() << "the server sends no compute rows";
    QStringList counts;
    for (const QString& line : monitor.Lines())
      if (line.startsWith(QStringLiteral("Open-Client: ct_res_info(CS_NUM_COMPUTES)"))) counts << line;
    ASSERT_FALSE(counts.isEmpty());
    for (const QString& line : counts) EXPECT_TRUE(line.endsWith(QLatin1String(c.line))) << line.toStdString();
  }
}

// In a batch of several statements each compute result counts the COMPUTE clauses of the
// statement it comes from.
TEST_F(EngineTrace, ComputeTraceCountsTheClausesOfEachStatementOfABatch) {
  Exec(QStringLiteral("create table #tb (g int, v int)\ninsert #tb values (1, 10)\ninsert #tb values (2, 5)"));
  const char* one = "select g, v from #tb order by g compute sum(v)";             // one compute row
  const char* two = "select g, v from #tb order by g compute sum(v) by g compute max(v)";  // three
  const struct {
    QString sql;
    std::vector<int> counts;  // per compute result, in order
  } cases[] = {
      {QString::fromLatin1(one) + "\n" + two, {1, 2, 2, 2}},
      {QString::fromLatin1(two) + "\n" + one, {2, 2, 2, 1}},
      {QString::fromLatin1(two) + ";\n" + one + ";", {2, 2, 2, 1}},
      // Statements without a result set in between, and a result set without computes.
      {QStringLiteral("declare @n int\nselect @n = 1\nselect g from #tb\ninsert #tb values (3, 1)\n") + two +
           "\nupdate #tb set v = v where g = 3\nselect v into #tb2 from #tb\n" + one,
       {2, 2, 2, 2, 1}},
  };
  // One engine runs them all: each text is looked at anew on the command it keeps.
  TComponent owner;
  auto* q = new TQorixEnhQuery(&owner);
  q->SetDatabase(db_.get());
  q->Monitor = true;
  int computeRows = 0;
  q->OnComputeRow = [&](TComponent*) { ++computeRows; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql.toStdString());
    MonitorReceiver monitor;
    q->SetSQL(c.sql);
    q->ExecSQL();
    if (computeRows == 0) GTEST_SKIP() << "the server sends no compute rows";
    std::vector<int> counts;
    const QString prefix =
        QStringLiteral("Open-Client: ct_res_info(CS_NUM_COMPUTES) - Number of Computes : ");
    for (const QString& line : monitor.Lines())
      if (line.startsWith(prefix)) counts.push_back(line.mid(prefix.size()).toInt());
    EXPECT_EQ(counts, c.counts);
    Exec(QStringLiteral("delete #tb where g = 3\nif object_id('tempdb..#tb2') is not null drop table #tb2"));
  }
}

// The facade alone: a command given a new text counts that text's clauses, not the last one's.
TEST_F(EngineTrace, ComputeCountFollowsTheCommandsNewText) {
  Exec(QStringLiteral("create table #tn (g int, v int)\ninsert #tn values (1, 10)"));
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ctlib::ct_cmd_alloc(db_->ConnectionHandle(), &cmd), CS_SUCCEED);
  auto counts = [&](const char* sql) {
    std::vector<int> out;
    EXPECT_EQ(ctlib::ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql), CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
    EXPECT_EQ(ctlib::ct_send(cmd), CS_SUCCEED);
    CS_INT type = 0;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      if (type == CS_COMPUTE_RESULT) {
        CS_INT n = -1;
        EXPECT_EQ(ctlib::ct_res_info(cmd, CS_NUM_COMPUTES, &n, CS_UNUSED, nullptr), CS_SUCCEED);
        out.push_back(n);
      }
      if (type == CS_ROW_RESULT || type == CS_COMPUTE_RESULT) {
        CS_INT rows = 0;
        while (ctlib::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
        }
      }
    }
    return out;
  };
  EXPECT_EQ(counts("select g, v from #tn order by g compute sum(v) by g compute max(v)"), (std::vector<int>{2, 2}));
  EXPECT_EQ(counts("select v from #tn compute sum(v)\nselect v from #tn compute sum(v) compute max(v) compute count(v)"),
            (std::vector<int>{1, 3, 3, 3}));
  EXPECT_EQ(counts("select v from #tn compute min(v)"), (std::vector<int>{1}));
  EXPECT_EQ(ctlib::ct_cmd_drop(cmd), CS_SUCCEED);
}

TEST_F(EngineTrace, TextsAreCopiedIntoAnOwnerKnownByItsClassName) {
  TQorixObjInfo info;
  TComponent plain;
  auto* routed = new TQorixEnhQuery(&info);
  auto* kept = new TQorixEnhQuery(&plain);
  for (TQorixEnhQuery* q : {routed, kept}) {
    q->SetDatabase(db_.get());
    q->SetShowDbMessages({});
    q->SetSQL(QStringLiteral("print 'for the owner'"));
    q->ExecSQL();
    EXPECT_TRUE(q->LastMessage().contains(QStringLiteral("for the owner")));
  }
  EXPECT_TRUE(info.LastMessage().contains(QStringLiteral("for the owner")));
  routed->SetShowDbMessages({smDbMsg, smDbErr});
  routed->SetSQL(QStringLiteral("select * from no_table_for_the_owner"));
  EXPECT_THROW(routed->ExecSQL(), Exception);
  EXPECT_TRUE(info.LastError().contains(QStringLiteral("no_table_for_the_owner")));
  EXPECT_NE(info.LastServerMsg().msgnumber, 0);
}

TEST_F(EngineTrace, AutoDbRunsOnItsOwnConnection) {
  int made = 0;
  AutoDatabaseFactory() = [&](TComponent* owner) -> TQorixDatabaseBase* {
    ++made;
    auto* db = new TestDatabase(owner);
    db->SetName(QStringLiteral("db_private_%1").arg(made));
    return db;
  };
  TQorixEnhQuery q;
  q.SetAutoDb(true);
  q.SetSQL(QStringLiteral("select 5"));
  EXPECT_EQ(OpenRows(q), (QStringList{"5"}));
  EXPECT_EQ(OpenRows(q), (QStringList{"5"}));
  EXPECT_EQ(made, 1);
  EXPECT_EQ(q.DbName, QStringLiteral("db_private_1"));
  EXPECT_NE(q.Database(), db_.get());
  AutoDatabaseFactory() = nullptr;
}

}  // namespace
