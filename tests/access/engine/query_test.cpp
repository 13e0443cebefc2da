// TQorixQuery against the local server: the first row current after Execute, rows of every
// row result, Active, the status and compute flags, errors and the owner's message texts.

#include "access/QorixExceptions.h"
#include "access/QorixQuery.h"
#include "access/SysUtils.h"
#include "access/UiServices.h"

#include <algorithm>
#include "engine_fixture.h"

namespace {

using QueryComponent = EngineTest;

QStringList AllRows(TQorixQuery& q) {
  QStringList rows;
  while (q.NextRow()) rows << q.GetFieldValue(1);
  return rows;
}

TEST_F(QueryComponent, ExecuteThenNextRowReadsEveryRowResult) {
  TQorixQuery q;
  q.SetDatabase(db_.get());
  int headers = 0;
  q.OnHeader = [&](TComponent* sender) {
    EXPECT_EQ(sender, &q);
    ++headers;
  };
  q.Sql = QStringLiteral("select 'a' union all select 'b'\nselect 'c'");
  EXPECT_EQ(q.Execute(), CS_SUCCEED);
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(AllRows(q), (QStringList{"a", "b", "c"}));
  EXPECT_EQ(headers, 2);
  EXPECT_TRUE(q.RowsSeen());
  // Setting Active again keeps the handle; a new Execute runs on the same connection.
  q.SetActive(true);
  q.Sql = QStringLiteral("select 'd'");
  q.Execute();
  EXPECT_EQ(AllRows(q), (QStringList{"d"}));
}

TEST_F(QueryComponent, AStatementWithoutRowsAndTheErrors) {
  TQorixQuery q;
  q.SetName(QStringLiteral("qq"));
  q.SetDatabase(db_.get());
  q.Sql = QStringLiteral("create table #qc (a int)\ninsert #qc values (1)");
  q.Execute();
  EXPECT_FALSE(q.NextRow());
  q.Sql = QStringLiteral("  ");
  try {
    q.Execute();
    FAIL() << "blank SQL ran";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("qq: No SQL statement available"));
  }
  TQorixQuery none;
  none.Sql = QStringLiteral("select 1");
  EXPECT_THROW(none.Execute(), EQxMissingException);
  none.SetDbName(QStringLiteral("testdb"));
  none.Execute();
  EXPECT_EQ(AllRows(none), (QStringList{"1"}));
}

TEST_F(QueryComponent, MessagesReachAnOwnerKnownByClassName) {
  TQorixObjInfo owner;
  auto* q = new TQorixQuery(&owner);
  q->SetDatabase(db_.get());
  q->ShowDbMessages = {};
  q->Sql = QStringLiteral("print 'query says hi'");
  q->Execute();
  EXPECT_TRUE(q->LastMessage().contains(QStringLiteral("query says hi")));
  EXPECT_TRUE(owner.LastMessage().contains(QStringLiteral("query says hi")));
}

// The four diagnostics events fire on the query itself, with it as Sender, after its texts
// are stored: a message without raising, an error raised and one shown without raising.
TEST_F(QueryComponent, ErrorAndMessageEventsFireOnTheQuery) {
  const struct {
    const char* name;
    const char* sql;
    bool raise;
    TMsgDialogs dialogs;
    std::vector<std::string> events;
    bool ordered;
  } cases[] = {
      {"print", "print 'hello there'", true, {}, {"OnDbMessage", "AfterDbMessage"}, true},
      {"error raised", "select * from no_such_table_qe", true, {}, {"OnDbError"}, true},
      {"error raised through the rich window", "select * from no_such_table_qe", true, {mdEnhErr},
       {"OnDbError", "AfterDbError"}, true},
      {"error not raised", "select * from no_such_table_qe", false, {}, {"OnDbError", "AfterDbError"}, true},
      {"print then error", "print 'first'\nselect * from no_such_table_qe", false, {},
       {"OnDbError", "AfterDbError", "OnDbMessage", "AfterDbMessage"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRecordingUiServices ui;
    TQorixQuery q;
    q.SetDatabase(db_.get());
    q.RaiseErrors = c.raise;
    q.MsgDialogs = c.dialogs;
    q.ShowDbMessages = {};
    std::vector<std::string> events;
    QString errorAtEvent;
    auto record = [&](const char* name) {
      return [&, name](TComponent* sender) {
        EXPECT_EQ(sender, &q) << name;
        events.emplace_back(name);
        if (std::string(name) == "OnDbError") errorAtEvent = q.LastError();
      };
    };
    q.OnDbError = record("OnDbError");
    q.AfterDbError = record("AfterDbError");
    q.OnDbMessage = record("OnDbMessage");
    q.AfterDbMessage = record("AfterDbMessage");
    q.Sql = QString::fromLatin1(c.sql);
    try {
      q.Execute();
      while (q.NextRow()) {
      }
    } catch (const std::exception&) {
    }
    std::vector<std::string> expected = c.events;
    if (!c.ordered) {
      // The PRINT and the error may come with one result or two: either path may run first.
      std::sort(events.begin(), events.end());
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(events, expected);
    if (std::find(expected.begin(), expected.end(), "OnDbError") != expected.end()) {
      EXPECT_TRUE(errorAtEvent.contains(QStringLiteral("no_such_table_qe"))) << errorAtEvent.toStdString();
    }
  }
}

// The ORDER BY columns of each row result, as select-list numbers.
TEST_F(QueryComponent, OrderByColumnsOfEachRowResult) {
  Exec(QStringLiteral("create table #qo (id int, name varchar(10), qty int)\ninsert #qo values (1, 'a', 5)"));
  const struct {
    const char* sql;
    std::vector<int> columns;
  } cases[] = {
      {"select id, name, qty from #qo order by qty desc, id", {3, 1}},
      {"select id, name from #qo order by 2", {2}},
      {"select id as k, name from #qo order by k asc, #qo.name", {1, 2}},
      {"select id from #qo", {}},
      {"select id, name from #qo order by qty", {}},  // not in the select list
      {"select id, name from #qo /* order by id */ where name <> 'order by 2'", {}},
      {"select id from #qo union all select qty from #qo order by 1", {1}},
      {"select a.id, b.id from #qo a, #qo b where a.id = b.id order by b.id", {2}},
      {"select id as k from #qo order by id", {1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    TQorixQuery q;
    q.SetDatabase(db_.get());
    q.Sql = QString::fromLatin1(c.sql);
    q.Execute();
    EXPECT_EQ(q.OrderByColumns(), c.columns);
    q.Cancel();
  }
}

TEST_F(QueryComponent, MaxRowsLimitsTheRun) {
  Exec(
      QStringLiteral("create table #qm (id int)\ninsert #qm values (1)\ninsert #qm values (2)\n"
                     "insert #qm values (3)\ninsert #qm values (4)"));
  TQorixQuery q;
  q.SetDatabase(db_.get());
  q.MaxRows = 2;
  int maxEvents = 0;
  q.OnMaxRows = [&](TComponent*) { ++maxEvents; };
  q.Sql = QStringLiteral("select id from #qm order by id");
  q.Execute();
  EXPECT_EQ(AllRows(q), (QStringList{"1", "2"}));
  EXPECT_EQ(maxEvents, 1);
}

}  // namespace
