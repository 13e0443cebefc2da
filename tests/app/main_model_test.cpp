// The main window's model against the local server: the enabled-state table before and after
// connect and disconnect, rollback of a half-made connect, explorer clicks and pages, runs
// with the history rule and one run at a time, stopping before disconnect, deferred USE,
// transactions and the settings file.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/ctlib/ctlib.h"
#include "app/ServerComponents.h"
#include "dataset/QxMemDataSet.h"
#include "catalog/views/QxSvrExplore.h"
#include "tests/app/app_support.h"

using apptest::PendingGrid;
using apptest::SaLogin;

namespace {

struct Fixture {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  std::unique_ptr<TMainModel> m = std::make_unique<TMainModel>(dir.filePath("Tabulon.ini"));
};

// Fails every ct_connect after the first Allowed ones.
class ConnectFailer : public ctlib::Library {
 public:
  explicit ConnectFailer(int allowed) : allowed_(allowed), previous_(ctlib::SetCurrent(this)) {}
  ~ConnectFailer() override { ctlib::SetCurrent(previous_); }
  CS_RETCODE ct_connect(CS_CONNECTION* con, CS_CHAR* name, CS_INT len) override {
    if (allowed_-- <= 0) return CS_FAIL;
    return Library::ct_connect(con, name, len);
  }

 private:
  int allowed_;
  ctlib::Library* previous_;
};

}  // namespace

TEST(MainModelTest, EnabledStateTable) {
  Fixture f;
  SaLogin login;
  TMainModel& m = *f.m;
  struct Row { const char* action; bool before, connected, after; };
  const Row rows[] = {{"a_servers_connect", true, false, true},   {"a_servers_disconnect", false, true, false},
                      {"a_sql_run", false, true, false},          {"a_sql_stop", false, false, false},
                      {"a_sql_open", false, true, false},         {"a_sql_save", false, true, false},
                      {"a_sql_save_as", false, true, false},      {"a_sql_print", false, true, false},
                      {"a_servers_change_pwd", false, true, false}, {"a_servers_config", false, true, false},
                      {"a_servers_processes", false, true, false}, {"MenuMRU", false, true, false},
                      {"btn_start_tran", false, true, false},     {"btn_commit_tran", false, true, false},
                      {"btn_rollback_tran", false, true, false}};
  auto check = [&](int column) {
    for (const Row& r : rows) {
      const bool want = column == 0 ? r.before : column == 1 ? r.connected : r.after;
      EXPECT_EQ(m.IsEnabled(r.action), want) << r.action << " in state " << column;
    }
  };
  check(0);
  EXPECT_EQ(m.WindowCaption, QStringLiteral("Qorix Tabulon - not connected"));
  EXPECT_FALSE(m.LeftNotebookEnabled);
  EXPECT_EQ(m.CurrentPage, pgLogo);
  EXPECT_EQ(m.TabHeight, 0);

  ASSERT_TRUE(m.Connect());
  EXPECT_EQ(login.shown, 1);
  check(1);
  EXPECT_TRUE(m.db_grid().Connected());
  EXPECT_EQ(m.WindowCaption, QStringLiteral("Qorix Tabulon - DSQUERY / master : sa"));
  EXPECT_EQ(m.LeftCaption, QStringLiteral("   Database : master"));
  EXPECT_EQ(m.CurrentPage, pgSql);
  EXPECT_TRUE(m.PageVisible[pgSql]);
  EXPECT_FALSE(m.PageVisible[pgLogo]);
  EXPECT_EQ(m.TabHeight, 18);
  EXPECT_TRUE(m.EditMenuEnabled);
  EXPECT_EQ(m.EditorFileName, QStringLiteral("untitled"));

  m.db().SetDbName(QStringLiteral("sample"));
  m.Disconnect();
  check(2);
  EXPECT_FALSE(m.db_grid().Connected());
  EXPECT_EQ(m.WindowCaption, QStringLiteral("Qorix Tabulon - not connected"));
  // Emptied when db disconnects, then filled again with the database db is set to.
  EXPECT_EQ(m.LeftCaption, QStringLiteral("   Database : sample"));
  EXPECT_TRUE(m.LeftNotebookEnabled);  // stays enabled after the first connect
  EXPECT_FALSE(m.EditMenuEnabled);
  EXPECT_EQ(m.CurrentPage, pgLogo);
  EXPECT_EQ(m.PageVisible, (std::array<bool, kMainPageCount>{false, false, false, false, false, true, false}));
}

TEST(MainModelTest, FailedLoginsLeaveTheWindowDisconnected) {
  Fixture f;
  {
    SaLogin wrong(QStringLiteral("not the password"));
    EXPECT_FALSE(GuardedCall([&] { f.m->Connect(); }) && f.m->db().Connected());
    EXPECT_FALSE(f.m->db().Connected());
    EXPECT_TRUE(f.m->IsEnabled("a_servers_connect"));
  }
  // db logs in, db_grid cannot: both end disconnected and the window shows it.
  SaLogin login;
  ConnectFailer failer(1);
  EXPECT_FALSE(GuardedCall([&] { f.m->Connect(); }));
  EXPECT_FALSE(f.m->db().Connected());
  EXPECT_FALSE(f.m->db_grid().Connected());
  EXPECT_TRUE(f.m->IsEnabled("a_servers_connect"));
  EXPECT_FALSE(f.m->IsEnabled("a_sql_run"));
  EXPECT_EQ(f.m->WindowCaption, QStringLiteral("Qorix Tabulon - not connected"));
}

TEST(MainModelTest, ExplorerClickSwitchesDatabasesAndPages) {
  Fixture f;
  SaLogin login;
  TMainModel& m = *f.m;
  TServerExplorer explorer(&m.db());
  explorer.Tree().OnClick = [&](TComponent*) { m.ExplorerClick(); };
  m.SetComponents(&explorer, nullptr, nullptr, nullptr);
  std::shared_ptr<void> unset(nullptr, [&](void*) { m.SetComponents(nullptr, nullptr, nullptr, nullptr); });
  ASSERT_TRUE(m.Connect());
  ASSERT_TRUE(explorer.ClickPath({QStringLiteral("sample")}));
  EXPECT_EQ(m.db().DbName(), QStringLiteral("sample"));
  EXPECT_EQ(m.db_grid().DbName(), QStringLiteral("sample"));
  EXPECT_EQ(m.WindowCaption, QStringLiteral("Qorix Tabulon - DSQUERY / sample : sa"));
  EXPECT_TRUE(m.PageVisible[pgProperties]);
  EXPECT_FALSE(m.PageVisible[pgData]);
  EXPECT_FALSE(m.PageVisible[pgDdl]);
  EXPECT_EQ(m.CurrentPage, pgSql);  // a current SQL page stays
  m.TabClick(pgProperties);
  EXPECT_EQ(m.RightCaption, QStringLiteral("   Properties of sample"));
  m.Disconnect();
}

TEST(MainModelTest, RunsHistoryAndOneRunAtATime) {
  Fixture f;
  SaLogin login;
  TMainModel& m = *f.m;
  PendingGrid grid(&m.db_grid());
  m.SetComponents(nullptr, nullptr, nullptr, &grid);
  std::shared_ptr<void> unset(nullptr, [&](void*) { m.SetComponents(nullptr, nullptr, nullptr, nullptr); });
  ASSERT_TRUE(m.Connect());

  EXPECT_FALSE(m.Run(QStringLiteral("  \r\n \t")));
  EXPECT_EQ(f.ui.Events(TRecordingUiServices::Event::kBeep).size(), 1u);
  EXPECT_EQ(grid.executed, 0);
  EXPECT_FALSE(m.IsEnabled("a_sql_stop"));

  ASSERT_TRUE(m.Run(QStringLiteral("select 1")));
  EXPECT_TRUE(m.IsEnabled("a_sql_stop"));
  EXPECT_TRUE(m.RunStart.isValid());
  // A second Run while the first is in progress starts nothing.
  EXPECT_FALSE(m.Run(QStringLiteral("select 2")));
  EXPECT_EQ(grid.executed, 1);
  m.Stop();
  EXPECT_EQ(grid.stopped, 1);
  EXPECT_FALSE(m.IsEnabled("a_sql_stop"));
  grid.Finish(QStringLiteral("Msg 3618, Level 10\nTransaction has been aborted"), QString());
  EXPECT_TRUE(m.RunEnd.isValid());
  const auto windows = f.ui.Events(TRecordingUiServices::Event::kQorixMessage);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].caption, QStringLiteral("CT-Library error"));
  EXPECT_EQ(windows[0].color, clQorixErrorPanel);

  // The history row rule: one row per distinct first 50 characters, ignoring case.
  const QString fifty = QString(50, QLatin1Char('x'));
  for (const QString& s : {QStringLiteral("select 1"), QStringLiteral("SELECT 1"), fifty + "a", fifty + "b"}) {
    ASSERT_TRUE(m.Run(s));
    grid.Finish(QString(), QStringLiteral("done"));
  }
  EXPECT_EQ(m.HistoryCount(), 2);
  EXPECT_EQ(m.HistoryCommand(0), QStringLiteral("select 1"));
  EXPECT_EQ(m.HistoryCommand(1), fifty + "a");
  EXPECT_EQ(f.ui.Events(TRecordingUiServices::Event::kQorixMessage).back().caption, QStringLiteral("CT-Library message"));
  m.Disconnect();
}

TEST(MainModelTest, DisconnectStopsTheRunFirstAndUseWaitsForTheRun) {
  Fixture f;
  SaLogin login;
  TMainModel& m = *f.m;
  PendingGrid grid(&m.db_grid());
  TServerExplorer explorer(&m.db());
  explorer.Tree().OnClick = [&](TComponent*) { m.ExplorerClick(); };
  m.SetComponents(&explorer, nullptr, nullptr, &grid);
  std::shared_ptr<void> unset(nullptr, [&](void*) { m.SetComponents(nullptr, nullptr, nullptr, nullptr); });
  ASSERT_TRUE(m.Connect());
  ASSERT_TRUE(m.Run(QStringLiteral("waitfor delay '00:00:10'")));
  ASSERT_TRUE(explorer.ClickPath({QStringLiteral("sample")}));
  EXPECT_EQ(m.db().DbName(), QStringLiteral("sample"));
  EXPECT_EQ(m.db_grid().DbName(), QStringLiteral("master"));  // not under the running batch
  EXPECT_EQ(m.PendingGridDb(), QStringLiteral("sample"));
  grid.Finish();
  EXPECT_EQ(m.db_grid().DbName(), QStringLiteral("sample"));
  EXPECT_TRUE(m.PendingGridDb().isEmpty());

  ASSERT_TRUE(m.Run(QStringLiteral("waitfor delay '00:00:10'")));
  m.Disconnect();
  EXPECT_EQ(grid.stoppedAndWaited, 1);
  EXPECT_TRUE(grid.gridConnectedAtStop);  // stopped while its connection was still open
  EXPECT_FALSE(m.db_grid().Connected());
  EXPECT_FALSE(grid.Active());
}

TEST(MainModelTest, TransactionsFromTheButtons) {
  Fixture f;
  SaLogin login;
  TMainModel& m = *f.m;
  EXPECT_FALSE(GuardedCall([&] { m.StartTran(); }));  // closed database
  ASSERT_TRUE(m.Connect());
  m.db().SetDbName(QStringLiteral("sample"));
  m.StartTran();
  EXPECT_EQ(m.db().GetTranCount(), 1);
  TQorixEnhQuery q;
  q.SetDatabase(&m.db());
  q.SetSQL(QStringLiteral("insert into shops (shop_id, shop_name) values ('TXT1', 'rolled back')"));
  q.ExecSQL();
  m.RollbackTran();
  EXPECT_EQ(m.db().GetTranCount(), 0);
  q.SetSQL(QStringLiteral("select count(*) from shops where shop_id = 'TXT1'"));
  q.Open();
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.GetFieldValue(1).trimmed(), QStringLiteral("0"));
  q.Cancel();
  m.StartTran();
  m.CommitTran();
  EXPECT_EQ(m.db().GetTranCount(), 0);
  m.Disconnect();
}

TEST(MainModelTest, SettingsRoundTrip) {
  QTemporaryDir dir;
  const QString ini = dir.filePath("cfg/Tabulon.ini");
  {
    TMainModel m(ini);
    m.Activate();
    m.db().UserName = QStringLiteral("alice");
    m.db().ServerName = QStringLiteral("TABULON");
    m.Settings.WordWrap = true;
    m.Settings.RunOptions[roStatsIo] = true;
    m.Settings.SplitterPosition = 310;
    m.Settings.EditorHeight = 0;  // a pane never shown
    for (const char* f : {"/a.sql", "/b.sql", "/c.sql", "/d.sql", "/e.sql", "/f.sql", "/b.sql"}) m.OpenSqlFile(f);
    m.OpenSqlFile("/g.sql", false);  // through the recent-files menu: not added
    m.Close();
  }
  QSettings s(ini, QSettings::IniFormat);
  EXPECT_EQ(s.value("Tf_main/db.UserName").toString(), QStringLiteral("alice"));
  EXPECT_EQ(s.value("Tf_main/btn_run_opt_stats_io.Down").toBool(), true);
  TMainModel m(ini);
  EXPECT_TRUE(m.db().UserName.isEmpty());  // restored at the first activation only
  m.Activate();
  EXPECT_EQ(m.db().UserName, QStringLiteral("alice"));
  EXPECT_EQ(m.db().ServerName, QStringLiteral("TABULON"));
  EXPECT_TRUE(m.Settings.WordWrap);
  EXPECT_TRUE(m.Settings.RunOptions[roStatsIo]);
  EXPECT_FALSE(m.Settings.RunOptions[roShowPlan]);
  EXPECT_EQ(m.Settings.SplitterPosition, 310);
  EXPECT_EQ(m.Settings.EditorHeight, TMainSettings().EditorHeight);  // never restored to nothing
  EXPECT_EQ(m.Settings.RecentFiles, (QStringList{"/b.sql", "/f.sql", "/e.sql", "/d.sql", "/c.sql"}));
  m.db().UserName = QStringLiteral("bob");
  m.Activate();
  EXPECT_EQ(m.db().UserName, QStringLiteral("bob"));
}
