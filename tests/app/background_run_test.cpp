// The SQL page's real result grid on its worker: a script of several batches laid into the
// cells while the window stays responsive, Stop ending a long run, Disconnect and Exit during
// a long run (stopped and joined first, connection ended, nothing left running), a second Run
// refused, a tree click during a run deferring db_grid's USE, a failing batch reported once
// at the end, and the results exported. Every wait has a deadline, and a watchdog ends a test
// that hangs with a message instead of blocking the whole suite.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QRegularExpression>
#include <QItemSelectionModel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "app/ServerComponents.h"
#include "app/u_main.h"
#include "catalog/grid/QorixGrid.h"
#include "tests/app/app_support.h"

using apptest::SaLogin;
using apptest::Shot;

namespace {

// Aborts the test program when a test runs longer than Seconds (a hang shows as a message and
// a core instead of a silent timeout).
class Watchdog {
 public:
  explicit Watchdog(int seconds) {
    thread_ = std::thread([this, seconds] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
        std::fprintf(stderr, "watchdog: test still running after %d s, aborting\n", seconds);
        std::abort();
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// Runs the event loop until Cond holds or Ms passed; true when it holds.
bool WaitFor(const std::function<bool()>& cond, int ms) {
  QDeadlineTimer until(ms);
  while (!cond()) {
    if (until.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  QCoreApplication::processEvents();
  return true;
}

// Every cell of the grid as one text, rows joined by newlines, cells by "|".
QString CellText(const TResultGridComponent& g) {
  QStringList lines;
  for (const QStringList& row : g.Cells()) lines << row.join(QLatin1Char('|'));
  return lines.join(QLatin1Char('\n'));
}

// The sessions the server has for program Name.
int SessionsOf(const QString& program) {
  TQorixDatabase probe;
  probe.SetName(QStringLiteral("probe"));
  probe.LoginPrompt = false;
  probe.UserName = QStringLiteral("sa");
  probe.ServerName = QStringLiteral("DSQUERY");
  probe.AppName = QStringLiteral("probe");
  probe.ShowDbMessages = TShowDbMessages{};
  probe.Connect();
  TQorixEnhQuery q;
  q.SetDatabase(&probe);
  q.SetShowDbMessages(TShowDbMessages{});
  q.SetSQL(QStringLiteral("select count(*) from master..sysprocesses where program_name = '%1'").arg(program));
  q.TrimResults = true;
  q.Open();
  int n = -1;
  if (q.Next()) n = q.GetFieldValue(1).toInt();
  q.Cancel(CS_CANCEL_ALL);
  probe.Disconnect();
  return n;
}

class BackgroundRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    w_ = std::make_unique<Tf_main>(dir_.filePath(QStringLiteral("Tabulon.ini")));
    w_->show();
    w_->Model().db().AppName = QStringLiteral("tabulon_bg");
    w_->Action("a_servers_connect")->trigger();
    ASSERT_TRUE(m().db().Connected());
    ASSERT_TRUE(m().db_grid().Connected());
  }
  void TearDown() override {
    if (w_) w_->close();
    w_.reset();
  }
  TMainModel& m() { return w_->Model(); }
  TResultGridComponent& grid() { return *m().Grid(); }
  bool Run(const QString& text) {
    w_->editor()->setPlainText(text);
    w_->Action("a_sql_run")->trigger();
    return grid().Active();
  }
  bool WaitEnd(int ms = 20000) { return WaitFor([this] { return !grid().Active(); }, ms); }

  Watchdog watchdog_{90};
  QTemporaryDir dir_;
  TRecordingUiServices ui_;
  SaLogin login_;
  std::unique_ptr<Tf_main> w_;
};

}  // namespace

TEST_F(BackgroundRunTest, ScriptOfSeveralBatchesRunsOnTheWorker) {
  ASSERT_TRUE(w_->ClickPath({QStringLiteral("sample")}));
  ASSERT_EQ(m().db_grid().DbName(), QStringLiteral("sample"));
  const bool started = Run(QStringLiteral("select book_id, title from books order by book_id\ngo\n"
                                          "select count(*) as n from books\ngo\nselect 'third batch'\n"));
  // Run returns with the worker going; Stop is offered only while it runs.
  EXPECT_TRUE(started);
  ASSERT_TRUE(WaitEnd());
  EXPECT_FALSE(w_->Action("a_sql_stop")->isEnabled());
  const QString cells = CellText(grid());
  EXPECT_TRUE(cells.contains(QStringLiteral("book_id"))) << cells.toStdString();
  EXPECT_TRUE(cells.contains(QStringLiteral("BK1001")));
  EXPECT_TRUE(cells.contains(QStringLiteral("third batch")));
  EXPECT_TRUE(cells.contains(QStringLiteral("Execution Completed")));
  // The view shows what the cells hold.
  EXPECT_EQ(w_->g_sql()->model()->rowCount(), int(grid().Cells().size()));
  EXPECT_EQ(m().HistoryCount(), 1);
  EXPECT_TRUE(m().RunEnd.isValid());
  EXPECT_TRUE(m().ResultsInfo().SQL.startsWith(QStringLiteral("select book_id")));
  EXPECT_FALSE(m().ResultsInfo().EndTime.isEmpty());
  for (const auto& e : ui_.Events(TRecordingUiServices::Event::kQorixMessage))
    ADD_FAILURE() << "shown: " << e.caption.toStdString() << ": " << e.text.toStdString();
  Shot(*w_, "main-sql-background-results");

  // Export of what the worker laid down, comma separated and HTML.
  const QString csv = dir_.filePath(QStringLiteral("books.csv"));
  grid().ExportToFile(true, 2, csv, QString());
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().contains("BK1001,The Salt Road Cookbook"));
  const QString html = dir_.filePath(QStringLiteral("books.html"));
  grid().ExportToFile(true, 6, html, QString());
  QFile h(html);
  ASSERT_TRUE(h.open(QIODevice::ReadOnly));
  EXPECT_TRUE(h.readAll().contains("BK1001"));

  // The same script again adds no history row and runs again.
  Run(QStringLiteral("SELECT BOOK_ID, title from books order by book_id\ngo\n"
                     "select count(*) as n from books\ngo\nselect 'third batch'\n"));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(m().HistoryCount(), 1);
}

TEST_F(BackgroundRunTest, StopEndsALongRunAndASecondRunIsRefused) {
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(Run(QStringLiteral("waitfor delay '00:00:30'\ngo\nselect 'after the wait'\n")));
  EXPECT_TRUE(w_->Action("a_sql_stop")->isEnabled());
  // The window keeps working: a second Run beeps and starts nothing.
  const size_t beeps = ui_.Events(TRecordingUiServices::Event::kBeep).size();
  EXPECT_FALSE(m().Run(QStringLiteral("select 1")));
  EXPECT_EQ(ui_.Events(TRecordingUiServices::Event::kBeep).size(), beeps + 1);
  EXPECT_EQ(m().HistoryCount(), 1);
  QThread::msleep(200);
  w_->Action("a_sql_stop")->trigger();
  EXPECT_FALSE(w_->Action("a_sql_stop")->isEnabled());
  ASSERT_TRUE(WaitEnd(10000));
  EXPECT_LT(clock.elapsed(), 15000);
  EXPECT_FALSE(CellText(grid()).contains(QStringLiteral("after the wait")));
  // The run says it was stopped, not completed.
  EXPECT_TRUE(CellText(grid()).contains(QStringLiteral("Execution stopped by the user"))) << CellText(grid()).toStdString();
  EXPECT_FALSE(CellText(grid()).contains(QStringLiteral("Execution Completed")));
  EXPECT_TRUE(m().RunEnd.isValid());
  // The connection is usable again for the next run.
  ASSERT_TRUE(Run(QStringLiteral("select 'next run'")) || !grid().Active());
  ASSERT_TRUE(WaitEnd());
  EXPECT_TRUE(CellText(grid()).contains(QStringLiteral("next run"))) << CellText(grid()).toStdString();
  EXPECT_TRUE(CellText(grid()).contains(QStringLiteral("Execution Completed")));

  // A run that waits on the server shows an empty grid meanwhile, not the last run's rows.
  ASSERT_TRUE(Run(QStringLiteral("waitfor delay '00:00:30'\ngo\nselect 'late'\n")));
  QAbstractItemModel* view = w_->g_sql()->model();
  // At once, before the worker's first refresh: no row of the last run stays in view.
  EXPECT_LE(view->rowCount(), 2);
  QCoreApplication::processEvents();
  for (int r = 0; r < view->rowCount(); ++r)
    for (int c = 0; c < view->columnCount(); ++c)
      EXPECT_FALSE(view->index(r, c).data().toString().contains(QStringLiteral("next run"))) << r << "," << c;
  w_->Action("a_sql_stop")->trigger();
  ASSERT_TRUE(WaitEnd(10000));
}

TEST_F(BackgroundRunTest, FailingBatchIsReportedOnceAtTheEnd) {
  Run(QStringLiteral("select 'before'\ngo\nselect * from no_such_table\ngo\nselect 'after'\n"));
  ASSERT_TRUE(WaitEnd());
  const auto shown = ui_.Events(TRecordingUiServices::Event::kQorixMessage);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, QStringLiteral("CT-Library error"));
  EXPECT_TRUE(shown[0].text.contains(QStringLiteral("no_such_table"))) << shown[0].text.toStdString();
  EXPECT_EQ(shown[0].thread, std::this_thread::get_id());
  EXPECT_TRUE(CellText(grid()).contains(QStringLiteral("before")));
}

TEST_F(BackgroundRunTest, TreeClickDuringARunSwitchesDbGridAfterIt) {
  ASSERT_TRUE(Run(QStringLiteral("waitfor delay '00:00:30'")));
  ASSERT_TRUE(w_->ClickPath({QStringLiteral("sample")}));
  EXPECT_EQ(m().db().DbName(), QStringLiteral("sample"));
  EXPECT_EQ(m().PendingGridDb(), QStringLiteral("sample"));
  m().Stop();
  ASSERT_TRUE(WaitEnd(10000));
  EXPECT_TRUE(m().PendingGridDb().isEmpty());
  EXPECT_EQ(m().db_grid().DbName(), QStringLiteral("sample"));
}

// Disconnect and Exit while a run waits on the server: the run is stopped and joined before
// the connections close, and the server has no session of the program left.
TEST_F(BackgroundRunTest, DisconnectAndExitDuringALongRun) {
  for (const bool exitWindow : {false, true}) {
    SCOPED_TRACE(exitWindow ? "exit" : "disconnect");
    if (!m().db().Connected()) {
      w_->Action("a_servers_connect")->trigger();
      ASSERT_TRUE(m().db_grid().Connected());
    }
    EXPECT_EQ(SessionsOf(QStringLiteral("tabulon_bg")), 2);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Run(QStringLiteral("waitfor delay '00:00:30'\ngo\nselect 'never'")));
    QThread::msleep(200);
    if (exitWindow) {
      w_->close();
      w_.reset();
    } else {
      w_->Action("a_servers_disconnect")->trigger();
      EXPECT_FALSE(grid().Active());
      EXPECT_FALSE(m().db_grid().Connected());
      EXPECT_FALSE(m().db().Connected());
      auto* g = dynamic_cast<TBackgroundResultGrid*>(&grid());
      ASSERT_TRUE(g);
      ASSERT_TRUE(g->Grid().Worker());
      EXPECT_FALSE(g->Grid().Worker()->Running());
      EXPECT_FALSE(w_->Action("a_sql_stop")->isEnabled());
    }
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_TRUE(WaitFor([] { return SessionsOf(QStringLiteral("tabulon_bg")) == 0; }, 5000));
    // The queued end of the stopped run finds nothing to do.
    QCoreApplication::processEvents();
  }
}

// Stop while the worker is fetching a long result, then Disconnect at once after a Stop, and
// Exit while rows stream in: each ends the run within the deadline.
TEST_F(BackgroundRunTest, StopWhileRowsStreamIn) {
  ASSERT_TRUE(w_->ClickPath({QStringLiteral("sample")}));
  const QString big = QStringLiteral("select a.book_id, b.title, c.genre from books a, books b, books c, books d");
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Run(big));
    QThread::msleep(50 + 100 * round);
    if (round == 0) {
      m().Stop();
      ASSERT_TRUE(WaitEnd(20000));
      // The stop came before the last of the 65,536 rows.
      EXPECT_LT(grid().Cells().size(), 65536u);
      EXPECT_GT(grid().Cells().size(), 2u);
    } else if (round == 1) {
      m().Stop();
      m().Disconnect();
      EXPECT_FALSE(grid().Active());
      w_->Action("a_servers_connect")->trigger();
      ASSERT_TRUE(m().db_grid().Connected());
      ASSERT_TRUE(w_->ClickPath({QStringLiteral("sample")}));
    } else {
      w_->close();
      w_.reset();
    }
    EXPECT_LT(clock.elapsed(), 20000);
  }
  EXPECT_TRUE(WaitFor([] { return SessionsOf(QStringLiteral("tabulon_bg")) == 0; }, 5000));
}

namespace {
// The pages of a PDF file Qt wrote.
int PdfPages(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QString pdf = QString::fromLatin1(f.readAll());
  return int(pdf.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))));
}
}  // namespace

// Printing the results to a PDF: all rows over several pages, a page range only its pages
// (not nothing), the selected block on one page.
TEST_F(BackgroundRunTest, PrintedPagesFollowTheRange) {
  ASSERT_TRUE(w_->ClickPath({QStringLiteral("sample")}));
  Run(QStringLiteral("select a.book_id, b.title from books a, books b order by a.book_id, b.book_id"));
  ASSERT_TRUE(WaitEnd());
  auto print = [&](const QString& name, QPrinter::PrintRange range, int from, int to) {
    QPrinter p(QPrinter::HighResolution);
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(dir_.filePath(name));
    p.setPrintRange(range);
    if (range == QPrinter::PageRange) p.setFromTo(from, to);
    EXPECT_TRUE(w_->PrintGridTo(p));
    return PdfPages(dir_.filePath(name));
  };
  const int all = print(QStringLiteral("all.pdf"), QPrinter::AllPages, 0, 0);
  EXPECT_GT(all, 2);
  EXPECT_EQ(print(QStringLiteral("range.pdf"), QPrinter::PageRange, 2, 3), 2);
  w_->g_sql()->selectionModel()->select(
      QItemSelection(w_->g_sql()->model()->index(1, 1), w_->g_sql()->model()->index(3, 2)),
      QItemSelectionModel::ClearAndSelect);
  EXPECT_EQ(print(QStringLiteral("selection.pdf"), QPrinter::Selection, 0, 0), 1);
}
