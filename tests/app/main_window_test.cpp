// The main window and the dialogs as widgets on the offscreen platform: pages and captions as
// the model says, a run laid into the grid, settings written on close and read at the next
// start, and a screenshot of every window and dialog in the build folder.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "access/QorixDatabase.h"
#include "app/Dialogs.h"
#include "app/u_main.h"
#include "catalog/grid/QorixGrid.h"
#include "catalog/views/QxSvrExploreView.h"
#include "tests/app/app_support.h"

using apptest::SaLogin;
using apptest::Shot;

TEST(MainWindowTest, ConnectClickRunAndScreenshots) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qorix Tabulon - not connected"));
  EXPECT_FALSE(w.Action("a_sql_run")->isEnabled());
  EXPECT_EQ(w.nb_sql_main()->currentIndex(), pgLogo);
  Shot(w, "main-not-connected");

  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());
  EXPECT_TRUE(w.Action("a_sql_run")->isEnabled());
  EXPECT_FALSE(w.Action("a_servers_connect")->isEnabled());
  EXPECT_EQ(w.nb_sql_main()->currentIndex(), pgSql);
  EXPECT_FALSE(w.nb_sql_main()->isTabVisible(pgLogo));
  QAbstractItemModel* tree = w.qx_explorer()->model();
  ASSERT_GT(tree->rowCount(), 0);
  Shot(w, "main-connected");

  const auto items = tree->match(tree->index(0, 0), Qt::DisplayRole, QStringLiteral("sample"), -1, Qt::MatchExactly);
  ASSERT_EQ(items.size(), 1);
  w.ClickDatabase(items[0].row());
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qorix Tabulon - DSQUERY / sample : sa"));
  EXPECT_TRUE(w.nb_sql_main()->isTabVisible(pgProperties));

  w.editor()->setPlainText("select book_id, title from books order by book_id\ngo\nselect count(*) from books");
  w.Action("a_sql_run")->trigger();
  // The run goes on in the background; the window's grid shows its cells once it ended.
  QDeadlineTimer until(20000);
  while (w.Model().Grid()->Active() && !until.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  QCoreApplication::processEvents();
  ASSERT_FALSE(w.Model().Grid()->Active());
  QAbstractItemModel* cells = w.g_sql()->model();
  ASSERT_GT(cells->rowCount(), 10);
  QStringList shown;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < cells->columnCount(); ++c) shown << cells->index(r, c).data().toString().trimmed();
  EXPECT_TRUE(shown.contains(QStringLiteral("book_id"))) << shown.join('|').toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("BK1001"))) << shown.join('|').toStdString();
  EXPECT_EQ(w.Model().HistoryCount(), 1);
  Shot(w, "main-sql-results");

  // Export of the results as comma-separated text.
  const QString out = dir.filePath("books.csv");
  w.Model().Grid()->ExportToFile(true, TExportState::GridExportCode(5), out, QString());
  QFile f(out);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray csv = f.readAll();
  EXPECT_TRUE(csv.contains("\nBK1001,The Salt Road Cookbook")) << csv.left(200).toStdString();

  w.nb_explorer()->setCurrentIndex(1);
  Shot(*w.nb_explorer(), "main-desktop-page");
  // The view entries are exclusive; List leaves the view as it is.
  auto* large = w.findChild<QAction*>("mi_file_exp_LargeIcons");
  auto* list = w.findChild<QAction*>("mi_file_exp_List");
  auto* details = w.findChild<QAction*>("mi_file_exp_Details");
  ASSERT_TRUE(large && list && details);
  EXPECT_TRUE(details->isChecked());
  large->trigger();
  list->trigger();
  EXPECT_TRUE(large->isChecked());
  EXPECT_FALSE(details->isChecked());
  EXPECT_EQ(w.Desktop().Style, TDesktopState::vwLargeIcons);
  Shot(*w.nb_explorer(), "main-desktop-large-icons");
  details->trigger();
  EXPECT_FALSE(large->isChecked());
  w.Action("a_servers_disconnect")->trigger();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qorix Tabulon - not connected"));
  EXPECT_EQ(w.nb_sql_main()->currentIndex(), pgLogo);
  EXPECT_FALSE(w.nb_sql_main()->tabBar()->isVisible());
  Shot(w, "main-disconnected");
}

TEST(MainWindowTest, SettingsSavedOnCloseAndRestoredAtStart) {
  QTemporaryDir dir;
  const QString ini = dir.filePath("Tabulon.ini");
  {
    Tf_main w(ini);
    w.show();
    w.Action("a_options_word_wrap")->setChecked(true);
    w.resize(900, 640);
    w.close();
  }
  ASSERT_TRUE(QFile::exists(ini));
  Tf_main w(ini);
  w.show();
  EXPECT_TRUE(w.Model().Settings.WordWrap);
  EXPECT_TRUE(w.Action("a_options_word_wrap")->isChecked());
  EXPECT_EQ(w.editor()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(w.size(), QSize(900, 640));
}

TEST(DialogsTest, EveryDialogShowsItsState) {
  Tf_export e;
  e.FormatButton(TExportState::Char)->click();
  EXPECT_TRUE(e.DelimiterEdit()->isEnabled());
  e.FormatButton(TExportState::Html)->click();
  EXPECT_FALSE(e.DelimiterEdit()->isEnabled());
  e.show();
  Shot(e, "dialog-export");

  TResultsInfo r{"12/10/26 4:00 PM", "12/10/26 4:01 PM", "sample", "DSQUERY", "sa", "select * from books"};
  Tf_results_info ri(r);
  ri.show();
  Shot(ri, "dialog-results-info");

  TSybInfo s;
  s.Caption = "Sybase Info for DSQUERY";
  s.CharSet = "cp850";
  s.Language = "us_english";
  s.SortOrder = "binary";
  s.DbVersion = "Tabulon SQL Server/1.0";
  s.QorixVersion = "Tabulon Client-Library/1.0";
  Tf_sybinfo si(s);
  si.show();
  EXPECT_EQ(si.windowTitle(), QStringLiteral("Sybase Info for DSQUERY"));
  Shot(si, "dialog-sybinfo");

  TSystemInfo info;
  TAboutBox about(info);
  about.show();
  auto* os = about.findChild<QLabel*>("lab_os");
  ASSERT_NE(os, nullptr);
  EXPECT_EQ(os->text(), info.OsText());
  Shot(about, "dialog-about");

  QTemporaryDir dir;
  QFile sql(dir.filePath("query.sql"));
  ASSERT_TRUE(sql.open(QIODevice::WriteOnly));
  sql.write("select 1\n");
  sql.close();
  TStOpenDialog open(dir.path());
  open.show();
  ASSERT_EQ(open.List()->count(), 1);
  open.ItemSelected("query.sql");
  EXPECT_EQ(open.FileNameEd()->text(), QStringLiteral("query.sql"));
  EXPECT_EQ(open.Preview()->toPlainText(), QStringLiteral("select 1\n"));
  Shot(open, "dialog-open");
  open.OpenClick();
  EXPECT_TRUE(open.State().Chosen);

  TScratchPadDlg pad;
  pad.show();
  Shot(pad, "dialog-scratchpad");

  TCalculatorDlg calc;
  calc.show();
  for (const char* k : {"1", "2", "+", "3", "0", "="}) calc.Press(QString::fromLatin1(k));
  EXPECT_EQ(calc.State().Display, QStringLiteral("42"));
  EXPECT_EQ(calc.findChild<QLineEdit*>()->text(), QStringLiteral("42"));
  EXPECT_EQ(calc.windowTitle(), QStringLiteral("Qorix Tabulon"));
  Shot(calc, "dialog-calculator");
}

TEST(MainWindowTest, DroppedFilesOpenTheFirstOnly) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  QStringList files;
  for (const char* name : {"first.sql", "second.sql", "third.sql"}) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("select '") + name + "'\n");
    files << f.fileName();
  }
  // Not connected: a drop opens nothing.
  w.DropFiles(files);
  EXPECT_TRUE(w.editor()->toPlainText().isEmpty());
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());
  // Record edit waits for a table on the Data page.
  EXPECT_FALSE(w.Action("a_grid_edit")->isEnabled());

  // Three files dropped: the first one opened.
  w.DropFiles(files);
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("select 'first.sql'\n"));
  EXPECT_EQ(w.Model().EditorFileName, files[0]);
  EXPECT_EQ(w.Model().Settings.RecentFiles, QStringList{files[0]});
  EXPECT_EQ(w.Model().RightCaption, QStringLiteral("   ") + files[0]);
}
