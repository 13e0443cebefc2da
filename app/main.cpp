// The program tabulon: the application titled "Tabulon", the Qt user-interface services and
// login dialogs, and the main window. Options:
//   --server NAME --user NAME --password TEXT --connect   log in at start without the dialog
//   --demo DIR   (offscreen) connect, click the sample database, show its tables' summary, one
//                table's properties, definition and rows, run one script in the background, write
//                screenshots of the window's pages into DIR and exit
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QMenu>
#include <QScreen>
#include <QPlainTextEdit>
#include <cstdio>

#include "access/QorixDatabase.h"
#include "access/QtUiServices.h"
#include "access/QxPasswordDlg.h"
#include "access/QxPwdChgDialog.h"
#include "app/Dialogs.h"
#include "app/StartUp.h"
#include "app/TabulonApplication.h"
#include "app/u_main.h"
#include "catalog/grid/QorixGrid.h"

namespace {
void Shot(QWidget& w, const QString& dir, const QString& name) {
  const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
  // On a real display the whole screen, with every window and popup as the user sees it.
  QScreen* screen = QGuiApplication::primaryScreen();
  if (QGuiApplication::platformName() != QLatin1String("offscreen") && screen)
    screen->grabWindow(0).save(path);
  else
    w.grab().save(path);
  std::printf("  %s\n", qPrintable(path));
}

void Settle(int ms) {
  QDeadlineTimer until(ms);
  while (!until.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
}
}  // namespace

int main(int argc, char** argv) {
  TTabulonApplication app(argc, argv);
  QCommandLineParser p;
  p.addHelpOption();
  p.addOption({"server", "Server name.", "name"});
  p.addOption({"user", "Login name.", "name"});
  p.addOption({"password", "Password.", "text"});
  p.addOption({"connect", "Log in at start without the login dialog."});
  p.addOption({"ini", "The settings file.", "file"});
  p.addOption({"demo", "Run a short session offscreen and write screenshots into DIR.", "dir"});
  p.process(app);

  TQtUiServices ui;
  SetUiServices(&ui);
  InstallLoginDialog();
  InstallPasswordChangeForm();

  TStartOptions start;
  start.IniFile = p.value("ini");
  start.HasServer = p.isSet("server");
  start.ServerName = p.value("server");
  start.HasUser = p.isSet("user");
  start.UserName = p.value("user");
  start.HasPassword = p.isSet("password");
  start.Password = p.value("password");
  const bool demo = p.isSet("demo");
  start.Connect = p.isSet("connect") || demo;

  int rc = 0;
  {
    std::unique_ptr<Tf_main> window = StartMainWindow(start);
    Tf_main& w = *window;
    TMainModel& m = w.Model();
    if (!demo) {
      rc = app.exec();
    } else {
      const QString dir = p.value("demo");
      QDir().mkpath(dir);
      std::printf("screenshots in %s:\n", qPrintable(dir));
      Shot(w, dir, "00-splash");
      Settle(300);
      Shot(w, dir, "01-not-connected");
      // The start's last step (the log-in) runs at the event loop's first turn.
      QApplication::processEvents();
      QApplication::processEvents();
      if (!m.db().Connected()) {
        std::fprintf(stderr, "tabulon: the login failed\n");
        rc = 1;
      } else {
        Settle(300);
        Shot(w, dir, "02-connected");
        w.ClickPath({QStringLiteral("sample")});
        QApplication::processEvents();
        Shot(w, dir, "03-tree-click");
        // The sample database's tables on the Summary page, one table's properties, then its
        // definition on the DDL page.
        if (w.ClickPath({"sample", "User Tables"})) {
          w.nb_sql_main()->setCurrentIndex(pgSummary);
          m.TabClick(pgSummary);
          QApplication::processEvents();
          Shot(w, dir, "04-summary");
        }
        if (w.ClickPath({"sample", "User Tables", "dbo.books"})) {
          w.nb_sql_main()->setCurrentIndex(pgProperties);
          m.TabClick(pgProperties);
          QApplication::processEvents();
          Shot(w, dir, "05-properties");
          w.nb_sql_main()->setCurrentIndex(pgDdl);
          m.TabClick(pgDdl);
          QApplication::processEvents();
          Shot(w, dir, "06-table-ddl");
          // Its rows on the Data page, read on demand by the grid.
          w.nb_sql_main()->setCurrentIndex(pgData);
          m.Guarded([&] { m.TabClick(pgData); });
          QDeadlineTimer rows(5000);
          while (w.dbg_data()->model()->rowCount() == 0 && !rows.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 20);
          QApplication::processEvents();
          Shot(w, dir, "07-data-page");
        }
        w.nb_sql_main()->setCurrentIndex(pgSql);
        m.TabClick(pgSql);
        w.editor()->setPlainText(
            "select book_id, title, genre, price from books order by book_id\ngo\nselect count(*) from books\n");
        m.Guarded([&] { m.Run(w.RunText()); });
        // The run goes on in the background: let its end arrive.
        QDeadlineTimer until(30000);
        while (m.Grid()->Active() && !until.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 50);
        QApplication::processEvents();
        Shot(w, dir, "08-sql-run");
        // The result grid's and the SQL editor's popup menus.
        w.GridMenu()->popup(w.g_sql()->viewport()->mapToGlobal(QPoint(120, 60)));
        Settle(300);
        Shot(*w.GridMenu(), dir, "08a-grid-popup");
        w.GridMenu()->hide();
        w.SqlEditorMenu()->popup(w.editor()->viewport()->mapToGlobal(QPoint(160, 40)));
        Settle(300);
        Shot(*w.SqlEditorMenu(), dir, "08b-editor-popup");
        w.SqlEditorMenu()->hide();
        // The Desktop page with its folder tree, and the Open dialog.
        w.nb_explorer()->setCurrentIndex(1);
        Settle(800);
        Shot(w, dir, "08c-desktop-page");
        w.nb_explorer()->setCurrentIndex(0);
        w.OpenDialog()->show();
        Settle(300);
        Shot(*w.OpenDialog(), dir, "08d-open-dialog");
        w.OpenDialog()->hide();
        TSystemInfo info;
        TAboutBox about(info, &w);
        about.show();
        Settle(300);
        Shot(about, dir, "09-about");
        m.Guarded([&] { m.Disconnect(); });
        QApplication::processEvents();
        Shot(w, dir, "10-disconnected");
      }
      w.close();
    }
  }
  SetUiServices(nullptr);
  return rc;
}
