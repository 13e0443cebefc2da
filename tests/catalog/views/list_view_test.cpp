// The SQL list view and the server-process view against the local server: columns from the
// description and widened by long values, an empty result, a result wider than the list, the
// connection checks, a failing statement, and the eight process views over three live sessions
// of which one waits on another's lock.
#include <QApplication>
#include <QStyle>
#include <QCoreApplication>
#include <chrono>
#include <future>
#include <thread>

#include "access/QorixExceptions.h"
#include "catalog/views/QorixProcessView.h"
#include "catalog/views/QxListWidget.h"
#include "tests/support/ct_client.h"
#include "views_fixture.h"

namespace {

using namespace std::chrono_literals;

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = viewtest::Connect(QStringLiteral("lvdb"));
    ASSERT_TRUE(db_->Connected());
  }
  std::unique_ptr<TQorixDatabase> db_;
};

// A list view whose columns are laid out by its BeforeExec handler, as the process view's are.
class HandLaidListView : public TQorixCustomListView {
 public:
  HandLaidListView() { columnMode_ = 2; }
};

TEST_F(ListViewTest, ColumnsFollowTheDescriptionAndTheLastLongValue) {
  viewtest::Exec(*db_, QStringLiteral("create table lv_widths (seq int, name varchar(10), value varchar(20))\n"
                                      "insert lv_widths values (1, 'a', '123456789012')\n"
                                      "insert lv_widths values (2, 'b', '1234567')"));
  TQorixCustomListView view;
  view.SetDatabase(db_.get());
  view.FontSize = 9;
  view.AddSQL(QStringLiteral("SELECT name, value FROM lv_widths"));
  view.AddSQL(QStringLiteral(" WHERE seq <= 1 ORDER BY seq"));
  EXPECT_EQ(view.SQLText(), QStringLiteral("SELECT name, value FROM lv_widths WHERE seq <= 1 ORDER BY seq"));
  int after = 0;
  view.AfterExec = [&](TComponent* sender) { after += sender == &view; };

  ASSERT_TRUE(view.Execute());
  EXPECT_EQ(view.Contents().ColumnCaptions(), (QStringList{"name", "value"}));
  EXPECT_EQ(view.Contents().ColumnWidths(), (std::vector<int>{4 * 9, 12 * 9}));
  EXPECT_EQ(view.Contents().RowTexts(), (QStringList{"a|123456789012"}));
  EXPECT_TRUE(view.RowsReturned);
  EXPECT_EQ(after, 1);

  // Each longer-than-the-name value sets the width anew, also to a smaller one.
  view.ClearSQL();
  view.AddSQL(QStringLiteral("SELECT name, value FROM lv_widths ORDER BY seq"));
  ASSERT_TRUE(view.Execute());
  EXPECT_EQ(view.Contents().ColumnWidths(), (std::vector<int>{4 * 9, 7 * 9}));
  EXPECT_EQ(view.Contents().RowTexts(), (QStringList{"a|123456789012", "b|1234567"}));

  // No rows: the described columns stay, no items.
  view.ClearSQL();
  view.AddSQL(QStringLiteral("SELECT name, value FROM lv_widths WHERE seq > 5"));
  ASSERT_TRUE(view.Execute());
  EXPECT_EQ(view.Contents().ColumnCaptions(), (QStringList{"name", "value"}));
  EXPECT_EQ(view.Contents().ItemCount(), 0);
  EXPECT_FALSE(view.RowsReturned);
  EXPECT_EQ(after, 3);
}

TEST_F(ListViewTest, AResultWiderThanTheListKeepsItsValues) {
  HandLaidListView view;
  view.SetDatabase(db_.get());
  view.BeforeExec = [&](TComponent*) { view.Contents().AddColumn(QStringLiteral("only"), 20); };
  view.AddSQL(QStringLiteral("SELECT 'first', 'a much longer second value', 'third value of all'"));
  ASSERT_TRUE(view.Execute());
  ASSERT_EQ(view.Contents().ColumnCount(), 1);
  EXPECT_EQ(view.Contents().RowTexts(), (QStringList{"first|a much longer second value|third value of all"}));
}

TEST_F(ListViewTest, ConnectionChecksAndAFailingStatement) {
  TQorixCustomListView view;
  view.SetName(QStringLiteral("lv"));
  try {
    view.Execute();
    ADD_FAILURE() << "no connection accepted";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("lv: Database or DbName required"));
  }
  view.DbName = QStringLiteral("nosuchdb");
  try {
    view.Execute();
    ADD_FAILURE() << "an unknown DbName accepted";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Could not find QorixDatabase component named 'nosuchdb'"));
  }
  // By name, and not connected: Execute logs in first.
  db_->Disconnect();
  view.DbName = QStringLiteral("lvdb");
  view.AddSQL(QStringLiteral("SELECT x = 1"));
  ASSERT_TRUE(view.Execute());
  EXPECT_TRUE(db_->Connected());
  EXPECT_EQ(view.Contents().RowTexts(), (QStringList{"1"}));

  // A server error reaches the caller; the update of the list is ended, AfterExec not fired.
  int changes = 0, after = 0;
  view.Contents().OnChanged = [&] { ++changes; };
  view.AfterExec = [&](TComponent*) { ++after; };
  view.ClearSQL();
  view.AddSQL(QStringLiteral("SELECT * FROM no_such_table"));
  EXPECT_ANY_THROW(view.Execute());
  EXPECT_FALSE(view.Contents().Updating());
  EXPECT_GE(changes, 1);
  EXPECT_EQ(after, 0);
  // The connection is usable afterwards.
  view.ClearSQL();
  view.AddSQL(QStringLiteral("SELECT y = 2"));
  ASSERT_TRUE(view.Execute());
  EXPECT_EQ(view.Contents().RowTexts(), (QStringList{"2"}));
}

// The statement texts as the server-process window sends them.
TEST(ProcessViewSql, EachViewIsOneTextOfItsPieces) {
  EXPECT_EQ(TQorixProcessView::ProcessSQL(pitClients),
            QStringLiteral("SELECT Client = hostname, Users = count(*), Cpu = sum(cpu), IO = sum(physical_io), Mem = "
                           "sum(memusage) FROM master..sysprocesses WHERE spid <> @@spid GROUP BY hostname"));
  EXPECT_EQ(TQorixProcessView::ProcessSQL(pitBlocking),
            QStringLiteral("SELECT SPID = sp.spid,'User Name' = convert(char(20), suser_name(sp.suid)),'Host' = "
                           "sp.hostname,'Host Process' = sp.hostprocess,Blk = sp.blocked,Program = sp.program_name "
                           "FROM master..sysprocesses sp WHERE sp.blocked > 0 OR exists (select * FROM "
                           "master..sysprocesses sp2 WHERE sp.spid=sp2.blocked) ORDER BY sp.blocked"));
  EXPECT_EQ(TQorixProcessView::ProcessSQL(pitLocks),
            QStringLiteral("SELECT \"Spid\" = spid, \"Lock Type\" = name, \"Table Id\" = id, \"Page\" = page, "
                           "\"Database\" = convert(char(15), db_name(dbid)), \"Class\" = class from master..syslocks "
                           "l, master..spt_values v where l.type = v.number and v.type = \"L\" order by spid, "
                           "convert(char(15), db_name(dbid)), id, name, page"));
}

class ProcessViewTest : public ListViewTest {
 protected:
  static std::string Scalar(tabtest::CtClient& c, const std::string& sql) {
    tabtest::CtBatch batch = c.run(sql);
    if (batch.sets.empty() || batch.sets[0].rows.empty() || !batch.sets[0].rows[0][0]) return "<none>";
    return *batch.sets[0].rows[0][0];
  }
  // The trimmed texts of column Column of every item.
  static QStringList Column(const TQorixProcessView& view, int column) {
    QStringList out;
    for (int r = 0; r < view.Contents().ItemCount(); ++r) out << view.Contents().Cell(r, column).trimmed();
    return out;
  }
};

TEST_F(ProcessViewTest, EightViewsOverThreeSessionsOneBlocked) {
  tabtest::CtClient holder, waiter, idle;
  ASSERT_TRUE(holder.connect("DSQUERY", "sa", "", nullptr, "holder_app"));
  ASSERT_TRUE(waiter.connect("DSQUERY", "sa", "", nullptr, "waiter_app"));
  ASSERT_TRUE(idle.connect("DSQUERY", "sa", "", nullptr, "idle_app"));
  ASSERT_FALSE(holder.run("create table sample..pv_acct (id int not null, amount int not null)\n"
                          "insert sample..pv_acct values (1, 100)")
                   .firstError());
  const QString holderSpid = QString::fromStdString(Scalar(holder, "select @@spid"));
  const QString waiterSpid = QString::fromStdString(Scalar(waiter, "select @@spid"));
  ASSERT_FALSE(holder.run("begin tran update sample..pv_acct set amount = amount + 1 where id = 1").firstError());
  auto second = std::async(std::launch::async, [&] {
    return waiter.run("update sample..pv_acct set amount = amount + 10 where id = 1");
  });
  for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;) {
    if (Scalar(idle, "select blocked from master..sysprocesses where spid = " + waiterSpid.toStdString()) != "0")
      break;
    std::this_thread::sleep_for(20ms);
  }

  TQorixProcessView view;
  view.SetDatabase(db_.get());
  view.FontSize = 8;
  int formHandler = 0;
  view.BeforeExec = [&](TComponent*) { ++formHandler; };

  struct Case {
    TQxProcessInfoType kind;
    QStringList captions;
  };
  const Case cases[] = {
      {pitProcesses,
       {"SPID", "User Name", "Command", "Status", "Database", "CPU", "I/O", "Memory", "Block", "Host", "Program",
        "Engine"}},
      {pitBlocking, {"SPID", "User Name", "Host", "Host Process", "Block", "Program"}},
      {pitClients, {"Client", "Users", "CPU", "I/O", "Memory"}},
      {pitClientPrograms, {"Program", "Users", "CPU", "I/O", "Memory"}},
      {pitEngineActivity, {"Engine", "Host", "Program", "Command", "Users", "CPU", "I/O", "Memory"}},
      {pitLoading, {"Engine", "Users", "CPU", "I/O", "Memory"}},
      {pitStatus, {"Command", "Status", "Users", "CPU", "I/O", "Memory"}},
      {pitLocks, {"SPID", "Lock Type", "Table Id", "Page", "Database", "Class"}},
  };
  TQxListWidget widget(&view.Contents());
  widget.resize(900, 220);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    view.ProcessInfoType = c.kind;
    ASSERT_TRUE(view.Execute());
    EXPECT_EQ(view.Contents().ColumnCaptions(), c.captions);
    // Every row has exactly one value per column: the statement and the layout agree.
    for (const TQxListItem& item : view.Contents().Items())
      EXPECT_EQ(item.SubItems.size() + 1, c.captions.size());
    switch (c.kind) {
      case pitProcesses: {
        // Three sessions (the view's own is left out), the waiter blocked by the holder.
        EXPECT_EQ(view.Contents().ItemCount(), 3);
        EXPECT_EQ(view.Contents().Columns()[0].Width, 6 * 8);
        EXPECT_EQ(view.Contents().Columns()[8].Width, TQxListContents::kDefaultColumnWidth);
        const QStringList spids = Column(view, 0);
        const int w = static_cast<int>(spids.indexOf(waiterSpid));
        ASSERT_GE(w, 0);
        EXPECT_EQ(view.Contents().Cell(w, 8).trimmed(), holderSpid);
        EXPECT_EQ(view.Contents().Cell(w, 3).trimmed(), QStringLiteral("lock sleep"));
        EXPECT_EQ(Column(view, 10).size(), 3);
        EXPECT_TRUE(Column(view, 10).contains(QStringLiteral("idle_app")));
        viewtest::Screenshot(widget, QStringLiteral("process_view"));
        break;
      }
      case pitBlocking:
        // The holder (blocked 0) sorts before the waiter (blocked by the holder).
        EXPECT_EQ(Column(view, 0), (QStringList{holderSpid, waiterSpid}));
        EXPECT_EQ(Column(view, 4), (QStringList{"0", holderSpid}));
        viewtest::Screenshot(widget, QStringLiteral("process_view_blocking"));
        break;
      case pitClientPrograms: {
        QStringList programs = Column(view, 0);
        programs.sort();
        EXPECT_EQ(programs, (QStringList{"holder_app", "idle_app", "waiter_app"}));
        EXPECT_EQ(Column(view, 1), (QStringList{"1", "1", "1"}));
        break;
      }
      case pitClients:
      case pitLoading: {
        int users = 0;
        for (const QString& u : Column(view, 1)) users += u.toInt();
        EXPECT_EQ(users, 3);
        break;
      }
      case pitStatus:
        EXPECT_TRUE(Column(view, 1).contains(QStringLiteral("lock sleep")));
        break;
      case pitLocks:
        ASSERT_GE(view.Contents().ItemCount(), 1);
        EXPECT_EQ(Column(view, 0).first(), holderSpid);
        viewtest::Screenshot(widget, QStringLiteral("process_view_locks"));
        break;
      default:
        break;
    }
  }
  // The form's own handler was replaced at the first Execute.
  EXPECT_EQ(formHandler, 0);
  // A view left at its own font size measures in the application's font, so the widest text a
  // session shows, its command, is not cut in the list.
  TQorixProcessView plain;
  plain.SetDatabase(db_.get());
  EXPECT_EQ(plain.FontSize, QApplication::font().pointSize());
  ASSERT_TRUE(plain.Execute());
  TQxListWidget shown(&plain.Contents());
  const int margins = 2 * (shown.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &shown) + 1);
  const int command = static_cast<int>(Column(plain, 0).indexOf(QString::fromStdString(Scalar(idle, "select @@spid"))));
  ASSERT_GE(command, 0);
  const QString text = plain.Contents().Cell(command, 2).trimmed();
  EXPECT_EQ(text, QStringLiteral("AWAITING COMMAND"));
  EXPECT_GE(plain.Contents().Columns()[2].Width, shown.fontMetrics().horizontalAdvance(text) + margins);
  shown.resize(1000, 220);
  viewtest::Screenshot(shown, QStringLiteral("process_view_application_font"));

  ASSERT_FALSE(holder.run("commit tran").firstError());
  EXPECT_FALSE(second.get().firstError());
  // Without locks the lock view has its six columns and no rows.
  view.ProcessInfoType = pitLocks;
  ASSERT_TRUE(view.Execute());
  EXPECT_EQ(view.Contents().ColumnCount(), 6);
  EXPECT_EQ(view.Contents().ItemCount(), 0);
}

}  // namespace
