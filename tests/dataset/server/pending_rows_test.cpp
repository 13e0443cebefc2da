// A non-cursor dataset holds its connection's result stream until its last row is read: every
// other command the datasets send on that connection is refused until then, before anything
// reaches the server, and the reading dataset gets all its rows unchanged.
#include <functional>
#include <memory>

#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxStoredProc.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

namespace {
constexpr int kRows = 300;
// The row the refused commands would change.
constexpr int kTarget = 250;

// The datasets that want the connection while the reader holds it.
struct Others {
  TQxQuery exec, live, fetch, refresh;
  TQxTable cached;
  TQorixUpdateSQL update;
  TQxStoredProc proc;
};

// Walks the dataset from its first record to its end; every row must be the one the table
// was filled with (id n, val n * 10).
void ExpectAllRows(TDataSet& ds) {
  ds.First();
  int expected = 1;
  while (!ds.Eof()) {
    ASSERT_EQ(ds.FieldByName("id")->AsInteger(), expected);
    ASSERT_EQ(ds.FieldByName("val")->AsInteger(), expected * 10) << "id " << expected;
    ++expected;
    ds.Next();
  }
  EXPECT_EQ(expected - 1, kRows);
}

void SetTarget(TDataSet& ds) {
  if (ds.State() != TDataSetState::dsEdit) ds.Edit();
  ds.FieldByName("val")->SetValue(0);
  ds.Post();
}
}  // namespace

class PendingRowsTest : public ServerDataSetTest {
 protected:
  void MakeTable(const QString& table) {
    Exec(*check_, QStringLiteral("create table %1 (id int not null, val int not null, constraint %1_pk primary key (id))")
                      .arg(table));
    QString batch;
    for (int i = 1; i <= kRows; ++i) batch += QStringLiteral("insert %1 values (%2, %3) ").arg(table).arg(i).arg(i * 10);
    Exec(*check_, batch);
  }
  // A, the dataset without cursor, opened on Table and moved a few rows: most rows are pending.
  void OpenReader(TQxQuery& a, const QString& table) {
    a.SetName(QStringLiteral("reader"));
    a.SetDatabase(db_.get());
    a.UseQorixCursor = false;
    a.SetSQL(QStringLiteral("select id, val from %1 order by id").arg(table));
    a.Open();
    for (int i = 0; i < 5; ++i) a.Next();
    ASSERT_TRUE(a.ResultsPending());
  }
  QString TargetValue(const QString& table) {
    const QStringList rows = Rows(*check_, QStringLiteral("select val from %1 where id = %2").arg(table).arg(kTarget));
    return rows.value(0);
  }
  static void ExpectRefused(const std::function<void()>& call, bool cursorRule) {
    try {
      call();
      ADD_FAILURE() << "the command was sent while the reader's rows were pending";
    } catch (const EQxCursorException& e) {
      const QString text = e.Message();
      EXPECT_TRUE(text.contains(QStringLiteral("A non-cursor dataset 'reader ' is already open on this connection.")))
          << text.toStdString();
      EXPECT_TRUE(text.contains(cursorRule ? QStringLiteral("Cursor and non-cursor datasets are not allowed")
                                           : QStringLiteral("Only one non-cursor dataset is allowed")))
          << text.toStdString();
    } catch (const Exception& e) {
      ADD_FAILURE() << "refused by something else: " << e.Message().toStdString();
    }
  }
};

TEST_F(PendingRowsTest, EveryCommandWaitsForTheReadersRows) {
  struct Case {
    const char* name;
    bool cursorRule;  // the command is a cursor's (fetch, close, open)
    bool writes;      // once allowed, the call sets the target row's val to 0
    std::function<void(Others&, const QString& table, TQorixDatabase* db)> before;  // before A opens
    std::function<void(Others&)> call;
  };
  const Case cases[] = {
      {"exec", false, true,
       [](Others& o, const QString& table, TQorixDatabase* db) {
         o.exec.SetName(QStringLiteral("writer"));
         o.exec.SetDatabase(db);
         o.exec.SetSQL(QStringLiteral("update %1 set val = 0 where id = %2").arg(table).arg(kTarget));
       },
       [](Others& o) { o.exec.ExecSQL(); }},
      {"prepared", false, true,
       [](Others& o, const QString& table, TQorixDatabase* db) {
         o.exec.SetName(QStringLiteral("prepared"));
         o.exec.SetDatabase(db);
         o.exec.SetSQL(QStringLiteral("update %1 set val = :v where id = %2").arg(table).arg(kTarget));
         o.exec.ParamByName("v").DataType = ftInteger;
         o.exec.ParamByName("v").SetValue(0);
       },
       [](Others& o) {
         o.exec.Prepare();
         o.exec.ExecSQL();
       }},
      {"live", false, true,
       [](Others& o, const QString& table, TQorixDatabase* db) {
         o.live.SetName(QStringLiteral("live"));
         o.live.SetDatabase(db);
         o.live.RequestLive = true;
         o.live.SQLOptions = TSQLOptions{soUseTransaction};
         o.live.SetSQL(QStringLiteral("select id, val from %1 where id = %2").arg(table).arg(kTarget));
         o.live.Open();
       },
       [](Others& o) { SetTarget(o.live); }},
      {"cached", false, true,
       [](Others& o, const QString& table, TQorixDatabase* db) {
         o.update.SetDatabase(db);
         o.update.ModifySQL = QStringList{QStringLiteral("update %1 set val = :val where id = :OLD_id").arg(table)};
         o.cached.SetName(QStringLiteral("cached"));
         o.cached.SetDatabase(db);
         o.cached.SetTableName(table);
         o.cached.CachedUpdates = true;
         o.cached.SQLOptions = TSQLOptions{soUseTransactionOnCache};
         o.cached.SetUpdateObject(&o.update);
         o.cached.Open();
         ASSERT_TRUE(o.cached.Locate(QStringLiteral("id"), kTarget, {}));
         SetTarget(o.cached);
       },
       [](Others& o) { o.cached.ApplyUpdates(); }},
      {"proc", false, true,
       [](Others& o, const QString& table, TQorixDatabase* db) {
         Exec(*db, QStringLiteral("create procedure %1_set @v int as update %1 set val = @v where id = %2")
                       .arg(table)
                       .arg(kTarget));
         o.proc.SetName(QStringLiteral("proc"));
         o.proc.SetDatabase(db);
         o.proc.SetStoredProcName(table + QStringLiteral("_set"));
         o.proc.GetProcParams();
         o.proc.Params()[0].SetValue(0);
       },
       [](Others& o) { o.proc.ExecProc(); }},
      {"cursor_fetch", true, false,
       [](Others& o, const QString& table, TQorixDatabase* db) {
         o.fetch.SetName(QStringLiteral("browser"));
         o.fetch.SetDatabase(db);
         o.fetch.FetchRows = 10;
         o.fetch.SetSQL(QStringLiteral("select id, val from %1 order by id").arg(table));
         o.fetch.Open();
         for (int i = 1; i < 10; ++i) o.fetch.Next();
       },
       // The eleventh row needs the cursor's next fetch.
       [](Others& o) { o.fetch.Next(); }},
      // A cancel of everything on the connection would cut the reader's rows off.
      {"cancel_all", false, false,
       [](Others& o, const QString&, TQorixDatabase* db) {
         o.exec.SetName(QStringLiteral("canceller"));
         o.exec.SetDatabase(db);
       },
       [](Others& o) { o.exec.CancelAll(); }},
      {"refresh", false, false,
       [](Others& o, const QString& table, TQorixDatabase* db) {
         o.refresh.SetName(QStringLiteral("refreshed"));
         o.refresh.SetDatabase(db);
         o.refresh.UseQorixCursor = false;
         o.refresh.SetSQL(QStringLiteral("select id, val from %1 where id <= 3").arg(table));
         o.refresh.Open();
         o.refresh.Last();
       },
       // Run again, its rows would be a second pending result.
       [](Others& o) { o.refresh.Refresh(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString table = QStringLiteral("pr_") + QString::fromUtf8(c.name);
    MakeTable(table);
    auto others = std::make_unique<Others>();
    c.before(*others, table, db_.get());
    TQxQuery a;
    OpenReader(a, table);
    ExpectRefused([&] { c.call(*others); }, c.cursorRule);
    EXPECT_EQ(TargetValue(table), QString::number(kTarget * 10));
    // The refused change is kept for the next try.
    if (c.name == std::string("live")) {
      EXPECT_EQ(others->live.State(), TDataSetState::dsEdit);
    }
    if (c.name == std::string("cached")) {
      EXPECT_EQ(others->cached.Log().RecordCount(), 1);
    }
    if (c.name == std::string("cursor_fetch")) {
      EXPECT_EQ(others->fetch.FieldByName("id")->AsInteger(), 10);
    }
    EXPECT_NO_FATAL_FAILURE(ExpectAllRows(a));
    EXPECT_FALSE(a.ResultsPending());
    // With A read to its end the same call goes through.
    EXPECT_NO_THROW(c.call(*others));
    EXPECT_EQ(TargetValue(table), c.writes ? QStringLiteral("0") : QString::number(kTarget * 10));
    if (c.name == std::string("cursor_fetch")) {
      EXPECT_EQ(others->fetch.FieldByName("id")->AsInteger(), 11);
      EXPECT_NO_FATAL_FAILURE(ExpectAllRows(others->fetch));
    }
    if (c.name == std::string("live")) {
      EXPECT_EQ(others->live.State(), TDataSetState::dsBrowse);
    }
    if (c.name == std::string("cached")) {
      EXPECT_EQ(others->cached.Log().RecordCount(), 0);
    }
  }
}

// Closing the reader frees the connection as well as reading it to the end; its own pending
// rows refuse a statement run through the reader itself.
TEST_F(PendingRowsTest, ClosingTheReaderFreesTheConnection) {
  MakeTable(QStringLiteral("pr_close"));
  TQxQuery a;
  OpenReader(a, QStringLiteral("pr_close"));
  TQxQuery b;
  b.SetName(QStringLiteral("writer"));
  b.SetDatabase(db_.get());
  b.SetSQL(QStringLiteral("update pr_close set val = 0 where id = %1").arg(kTarget));
  ExpectRefused([&] { b.ExecSQL(); }, false);
  ExpectRefused([&] { a.ExecSQL(); }, false);
  EXPECT_EQ(TargetValue(QStringLiteral("pr_close")), QString::number(kTarget * 10));
  a.Close();
  b.ExecSQL();
  EXPECT_EQ(b.RowsAffected(), 1);
  EXPECT_EQ(TargetValue(QStringLiteral("pr_close")), QStringLiteral("0"));
}

// A cursor dataset opened first does not hold the connection between its fetches: the reader
// may open. The cursor's close is then a command of its own and waits like its fetches; the
// cursor stays open and usable. A cursor dataset destroyed meanwhile hands its cursor to the
// reader, which closes it once its rows are read (the sanitizer build sees its client state
// freed).
TEST_F(PendingRowsTest, ACursorOpenedFirstWaitsForTheReader) {
  MakeTable(QStringLiteral("pr_cursor"));
  TQxQuery c;
  c.SetName(QStringLiteral("browser"));
  c.SetDatabase(db_.get());
  c.FetchRows = 10;
  c.SetSQL(QStringLiteral("select id, val from pr_cursor order by id"));
  c.Open();
  // A second cursor destroyed while the reader holds the connection sends nothing yet.
  auto dropped = std::make_unique<TQxQuery>();
  dropped->SetName(QStringLiteral("dropped"));
  dropped->SetDatabase(db_.get());
  dropped->FetchRows = 10;
  dropped->SetSQL(QStringLiteral("select id from pr_cursor order by id"));
  dropped->Open();
  TQxQuery a;
  OpenReader(a, QStringLiteral("pr_cursor"));
  dropped.reset();
  ExpectRefused([&] { c.Last(); }, true);
  ExpectRefused([&] { c.Close(); }, true);
  EXPECT_TRUE(c.Active());
  EXPECT_NO_FATAL_FAILURE(ExpectAllRows(a));
  EXPECT_NO_FATAL_FAILURE(ExpectAllRows(c));
  c.Close();
  // The cursor was closed on the server: the connection still answers in step.
  EXPECT_EQ(Rows(*db_, QStringLiteral("select count(*) from pr_cursor")), QStringList({QString::number(kRows)}));
}

// Emptying the reader drops its unread rows from the connection too: the next command is
// neither refused nor mixed into them.
TEST_F(PendingRowsTest, EmptyingTheReaderEndsItsRows) {
  MakeTable(QStringLiteral("pr_empty"));
  TQxQuery a;
  OpenReader(a, QStringLiteral("pr_empty"));
  a.EmptyDataSet();
  EXPECT_FALSE(a.ResultsPending());
  TQxQuery b;
  b.SetName(QStringLiteral("writer"));
  b.SetDatabase(db_.get());
  b.SetSQL(QStringLiteral("update pr_empty set val = 0 where id = %1").arg(kTarget));
  EXPECT_NO_THROW(b.ExecSQL());
  EXPECT_EQ(b.RowsAffected(), 1);
  EXPECT_EQ(TargetValue(QStringLiteral("pr_empty")), QStringLiteral("0"));
  EXPECT_EQ(Rows(*db_, QStringLiteral("select count(*) from pr_empty")), QStringList({QString::number(kRows)}));
}

// The idle timer neither sends IdleSQL into the reader's rows nor disconnects under them; once
// the rows are read it acts again.
TEST_F(PendingRowsTest, TheIdleTimerWaitsForTheReadersRows) {
  MakeTable(QStringLiteral("pr_idle"));
  db_->SetIdleTime(1);
  TQxQuery a;
  OpenReader(a, QStringLiteral("pr_idle"));
  for (const QString& idleSql : {QStringLiteral("select 1"), QString()}) {
    SCOPED_TRACE(idleSql.toStdString());
    db_->IdleSQL = idleSql;
    db_->IdleTimerTick();
    EXPECT_TRUE(db_->Connected());
  }
  EXPECT_NO_FATAL_FAILURE(ExpectAllRows(a));
  db_->IdleTimerTick();
  EXPECT_FALSE(db_->Connected());
}

// A disconnect (and a new login) cuts the reader's unread rows off: reading on is an error,
// not a shorter result, the rows already read stay, and the unread rows of the ended session
// hold nothing on the new one.
TEST_F(PendingRowsTest, RowsCutOffByADisconnectAreAnError) {
  MakeTable(QStringLiteral("pr_cut"));
  for (bool reconnect : {true, false}) {
    SCOPED_TRACE(reconnect ? "disconnect and connect" : "disconnect");
    TQxQuery a;
    OpenReader(a, QStringLiteral("pr_cut"));
    const int read = a.RecordCount();
    db_->Disconnect();
    if (reconnect) {
      db_->Connect();
      ASSERT_TRUE(db_->Connected());
      TQxQuery b;
      b.SetName(QStringLiteral("writer"));
      b.SetDatabase(db_.get());
      b.SetSQL(QStringLiteral("update pr_cut set val = val where id = %1").arg(kTarget));
      EXPECT_NO_THROW(b.ExecSQL());
    }
    try {
      a.Last();
      ADD_FAILURE() << "the cut rows read as the end of the result";
    } catch (const Exception& e) {
      EXPECT_TRUE(e.Message().contains(QStringLiteral("closed before all rows were read"))) << e.Message().toStdString();
    }
    EXPECT_FALSE(a.ResultsPending());
    EXPECT_EQ(a.RecordCount(), read);
    EXPECT_NO_THROW(a.Close());
    if (!reconnect) db_->Connect();
    ASSERT_TRUE(db_->Connected());
    a.Open();
    EXPECT_NO_FATAL_FAILURE(ExpectAllRows(a));
  }
}
