// The main window and the dialogs as widgets on the offscreen platform: pages and captions as
// the model says, a run laid into the grid, settings written on close and read at the next
// start, and a screenshot of every window and dialog in the build folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

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

  // The result grid: range selection, columns and rows sized by the user.
  EXPECT_EQ(w.g_sql()->selectionMode(), QAbstractItemView::ContiguousSelection);
  EXPECT_EQ(w.g_sql()->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
  EXPECT_EQ(w.g_sql()->verticalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());
  EXPECT_TRUE(w.Action("a_sql_run")->isEnabled());
  EXPECT_FALSE(w.Action("a_servers_connect")->isEnabled());
  EXPECT_EQ(w.nb_sql_main()->currentIndex(), pgSql);
  EXPECT_FALSE(w.nb_sql_main()->isTabVisible(pgLogo));
  QAbstractItemModel* explorerItems = w.qx_explorer()->model();
  ASSERT_GT(explorerItems->rowCount(), 0);
  Shot(w, "main-connected");

  const auto items = explorerItems->match(explorerItems->index(0, 0), Qt::DisplayRole, QStringLiteral("sample"), -1, Qt::MatchExactly);
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

  // The Desktop page's folder tree is made when the page is first shown, opened at the list's
  // folder, and a folder chosen in it is the one the list shows.
  EXPECT_EQ(w.ShellTree(), nullptr);
  w.nb_explorer()->setCurrentIndex(1);
  QTreeView* tree = w.ShellTree();
  ASSERT_NE(tree, nullptr);
  auto* dirs = static_cast<QFileSystemModel*>(tree->model());
  EXPECT_EQ(dirs->filePath(tree->currentIndex()), QDir::currentPath());
  QTemporaryDir scripts;
  ASSERT_TRUE(QDir(scripts.path()).mkdir(QStringLiteral("nightly")));
  tree->setCurrentIndex(dirs->index(scripts.path()));
  EXPECT_EQ(w.Desktop().Folder, scripts.path());
  auto* files = static_cast<QFileSystemModel*>(w.ShellList()->model());
  EXPECT_EQ(files->filePath(w.ShellList()->rootIndex()), scripts.path());
  w.Action("a_desktop_up_one")->trigger();
  EXPECT_EQ(dirs->filePath(tree->currentIndex()), QFileInfo(scripts.path()).absolutePath());
  tree->setCurrentIndex(dirs->index(QDir::currentPath()));
  QDeadlineTimer loaded(3000);
  while (files->rowCount(w.ShellList()->rootIndex()) == 0 && !loaded.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
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
  // The window's size is not a setting: it opens maximised again.
  EXPECT_FALSE(QSettings(ini, QSettings::IniFormat).contains(QStringLiteral("Tf_main/Geometry")));
  Tf_main w(ini);
  w.ShowAtStart();
  w.FormActivate();
  EXPECT_TRUE(w.Model().Settings.WordWrap);
  EXPECT_TRUE(w.Action("a_options_word_wrap")->isChecked());
  EXPECT_EQ(w.editor()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_TRUE(w.windowState() & Qt::WindowMaximized);
}

TEST(DialogsTest, EveryDialogShowsItsState) {
  Tf_export e;
  e.FormatButton(TExportState::Char)->click();
  EXPECT_TRUE(e.DelimiterEdit()->isEnabled());
  e.FormatButton(TExportState::Html)->click();
  EXPECT_FALSE(e.DelimiterEdit()->isEnabled());
  e.show();
  Shot(e, "dialog-export");
  {
    // No help file: Help says what the choices do.
    TRecordingUiServices ui;
    auto* help = e.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help);
    ASSERT_NE(help, nullptr);
    help->click();
    const auto boxes = ui.Events(TRecordingUiServices::Event::kMessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("Char delimited")));
  }

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
  auto* logo = about.findChild<QLabel*>("img_logo");
  ASSERT_NE(logo, nullptr);
  EXPECT_FALSE(logo->pixmap().isNull());
  for (const char* l : {"lab_web", "lab_mail"}) {
    auto* link = about.findChild<QLabel*>(l);
    ASSERT_NE(link, nullptr) << l;
    EXPECT_FALSE(link->isEnabled());
  }
  Shot(about, "dialog-about");

  QTemporaryDir dir;
  QFile sql(dir.filePath("query.sql"));
  ASSERT_TRUE(sql.open(QIODevice::WriteOnly));
  sql.write("select 1\n");
  sql.close();
  TStOpenDialog open(dir.path());
  open.show();
  ASSERT_EQ(open.List()->count(), 1);
  // The file name edit comes first; the labels carry their accelerators for their fields.
  EXPECT_EQ(open.focusWidget(), open.FileNameEd());
  auto* form = open.FileNameEd()->parentWidget()->findChild<QFormLayout*>();
  ASSERT_NE(form, nullptr);
  auto* nameLabel = qobject_cast<QLabel*>(form->labelForField(open.FileNameEd()));
  ASSERT_NE(nameLabel, nullptr);
  EXPECT_EQ(nameLabel->text(), QStringLiteral("File &name:"));
  EXPECT_EQ(nameLabel->buddy(), open.FileNameEd());
  QStringList labels;
  for (int r = 0; r < form->rowCount(); ++r)
    if (auto* l = qobject_cast<QLabel*>(form->itemAt(r, QFormLayout::LabelRole)
                                            ? form->itemAt(r, QFormLayout::LabelRole)->widget()
                                            : nullptr))
      labels << l->text();
  EXPECT_EQ(labels, (QStringList{"File &name:", "Files of &type:"}));
  // A folder and a file each show a picture, and not the same one.
  EXPECT_FALSE(open.List()->item(0)->icon().isNull());
  // The folder combo lists the folder and every folder above it.
  QStringList chain;
  for (int i = 0; i < open.FolderCombo()->count(); ++i) chain << open.FolderCombo()->itemText(i);
  EXPECT_EQ(chain.first(), QDir(dir.path()).absolutePath());
  EXPECT_EQ(chain.last(), QDir::rootPath());
  // New folder, twice: two folders, the second numbered.
  for (int i = 0; i < 2; ++i) open.Button("btn_new_folder")->click();
  EXPECT_TRUE(QFileInfo(dir.filePath("New Folder")).isDir());
  EXPECT_TRUE(QFileInfo(dir.filePath("New Folder (2)")).isDir());
  ASSERT_EQ(open.List()->count(), 3);
  EXPECT_NE(open.List()->item(0)->icon().pixmap(16).toImage(),
            open.List()->item(2)->icon().pixmap(16).toImage());
  // Details shows the same entries with their size, type and date; List goes back.
  open.Button("btn_details")->click();
  EXPECT_TRUE(open.DetailsList()->isVisible());
  EXPECT_FALSE(open.List()->isVisible());
  ASSERT_EQ(open.DetailsList()->topLevelItemCount(), 3);
  EXPECT_EQ(open.DetailsList()->topLevelItem(2)->text(0), QStringLiteral("query.sql"));
  EXPECT_EQ(open.DetailsList()->topLevelItem(2)->text(2), QStringLiteral("SQL file"));
  Shot(open, "dialog-open-details");
  open.Button("btn_list")->click();
  EXPECT_TRUE(open.List()->isVisible());
  EXPECT_FALSE(open.DetailsList()->isVisible());
  // Choosing the folder above in the combo moves the list there.
  open.FolderCombo()->setCurrentIndex(1);
  emit open.FolderCombo()->activated(1);
  EXPECT_EQ(open.State().Folder, chain.value(1));
  open.FolderCombo()->setCurrentIndex(0);
  open.State().Folder = QDir(dir.path()).absolutePath();
  open.Reload();
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

// The SQL editor's and the result grid's popup menus, the editors' and the grid's shortcuts
// acting on the control that has the focus, the editor's status enabling its commands, and the
// Help entries without addresses shown disabled.
TEST(MainWindowTest, PopupMenusShortcutsAndEditorStatus) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  QApplication::setActiveWindow(&w);
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());

  auto entries = [](QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
    return out;
  };
  ASSERT_TRUE(w.SqlEditorMenu() && w.GridMenu() && w.TextEditorMenu());
  EXPECT_EQ(entries(w.SqlEditorMenu()),
            QStringList({"a_sql_run", "|", "a_sql_select_all", "a_sql_clear", "|", "a_sql_cut", "a_sql_copy", "a_sql_paste",
                         "a_sql_delete", "|", "a_sql_undo", "a_sql_redo", "|", "a_sql_print"}));
  EXPECT_EQ(entries(w.GridMenu()),
            QStringList({"a_results_cut", "a_results_copy_all", "a_results_copy_selected", "a_results_print"}));
  EXPECT_EQ(entries(w.TextEditorMenu()),
            QStringList({"a_text_select_all", "a_text_cut", "a_text_copy", "a_text_paste", "a_text_delete", "a_text_print"}));

  // Shortcuts, and the control whose focus they need (none: the whole window).
  struct Key {
    const char* action;
    const char* keys;
    QWidget* scope;
  };
  const Key keys[] = {
      {"a_sql_run", "Ctrl+E", nullptr},         {"a_sql_open", "Ctrl+O", nullptr},
      {"a_sql_save", "Ctrl+S", nullptr},        {"a_file_exit", "Alt+X", nullptr},
      {"a_servers_info", "Ctrl+I", nullptr},    {"a_sql_print", "Ctrl+P", w.editor()},
      {"a_sql_cut", "Ctrl+X", w.editor()},      {"a_sql_copy", "Ctrl+C", w.editor()},
      {"a_sql_paste", "Ctrl+V", w.editor()},    {"a_sql_undo", "Ctrl+Z", w.editor()},
      {"a_sql_redo", "Shift+Ctrl+V", w.editor()}, {"a_sql_select_all", "Ctrl+A", w.editor()},
      {"a_results_copy_all", "Ctrl+C", w.g_sql()}, {"a_results_cut", "Ctrl+X", w.g_sql()},
      {"a_results_print", "Ctrl+P", w.g_sql()}, {"a_text_cut", "Ctrl+X", w.text_editor()},
      {"a_text_copy", "Ctrl+C", w.text_editor()}, {"a_text_paste", "Ctrl+V", w.text_editor()},
  };
  for (const Key& k : keys) {
    SCOPED_TRACE(k.action);
    QAction* a = w.Action(k.action);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(k.keys)));
    EXPECT_EQ(a->shortcutContext(), k.scope ? Qt::WidgetWithChildrenShortcut : Qt::WindowShortcut);
    if (k.scope) EXPECT_TRUE(k.scope->actions().contains(a));
  }

  // The editor's status: (text, selection) -> Clear/Select All/Delete/Save, Cut/Copy.
  struct Status {
    const char* text;
    bool select;
    bool withText, withSelection;
  };
  const Status states[] = {{"", false, false, false}, {"select 1", false, true, false}, {"select 1", true, true, true}};
  for (const Status& st : states) {
    SCOPED_TRACE(st.text);
    w.editor()->setPlainText(QString::fromLatin1(st.text));
    if (st.select) w.editor()->selectAll();
    for (const char* a : {"a_sql_clear", "a_sql_select_all", "a_sql_delete", "a_sql_save"})
      EXPECT_EQ(w.Action(a)->isEnabled(), st.withText) << a;
    for (const char* a : {"a_sql_cut", "a_sql_copy"}) EXPECT_EQ(w.Action(a)->isEnabled(), st.withSelection) << a;
  }
  // Delete removes the selection.
  w.editor()->setPlainText(QStringLiteral("select 1 from books"));
  QTextCursor c = w.editor()->textCursor();
  c.setPosition(8);
  c.setPosition(19, QTextCursor::KeepAnchor);
  w.editor()->setTextCursor(c);
  w.Action("a_sql_delete")->trigger();
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("select 1"));

  // Ctrl+C copies the editor's selection in the editor, and all the cells in the grid.
  w.editor()->setPlainText(QStringLiteral("select 'one' as word\ngo\n"));
  w.Action("a_sql_run")->trigger();
  QDeadlineTimer until(20000);
  while (w.Model().Grid()->Active() && !until.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  QCoreApplication::processEvents();
  w.editor()->setFocus();
  w.editor()->selectAll();
  QTest::keyClick(w.editor(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("select 'one' as word\ngo\n"));
  w.g_sql()->setFocus();
  QTest::keyClick(w.g_sql(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(QApplication::clipboard()->text().contains(QStringLiteral("one"))) << QApplication::clipboard()->text().toStdString();
  EXPECT_TRUE(QApplication::clipboard()->text().endsWith(QStringLiteral("\r\n")));

  // Help: the mail and home-page entries and the logo page's links have no address.
  for (const char* a : {"a_help_email", "a_help_homepage"}) EXPECT_FALSE(w.Action(a)->isEnabled()) << a;
  for (const char* l : {"lab_mail", "lab_web"}) {
    auto* link = w.findChild<QLabel*>(l);
    ASSERT_NE(link, nullptr) << l;
    EXPECT_FALSE(link->isEnabled());
  }

  // Pictures of both popup menus over the window.
  for (QMenu* menu : {w.SqlEditorMenu(), w.GridMenu()}) {
    menu->popup(w.mapToGlobal(QPoint(300, 200)));
    QCoreApplication::processEvents();
    Shot(*menu, menu->objectName());
    menu->hide();
  }
  w.Action("a_servers_disconnect")->trigger();
}

// Every run is recorded on the History page; "Select" there (or a double click) empties the SQL
// editor as Clear does and puts the chosen statement back exactly as it was typed.
TEST(MainWindowTest, HistorySelectPutsTheStatementBack) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());
  const QString first = QStringLiteral("select 1 as one\n  -- indented\nselect 2 as two");
  for (const QString& text : {first, QStringLiteral("select 3")}) {
    w.editor()->setPlainText(text);
    w.Action("a_sql_run")->trigger();
    QDeadlineTimer until(20000);
    while (w.Model().Grid()->Active() && !until.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  QAction* select = w.Action("a_his_select");
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(select->text(), QStringLiteral("Select"));
  EXPECT_EQ(select->toolTip(), QStringLiteral("Select history item"));
  w.Action("a_show_history")->trigger();
  EXPECT_EQ(w.nb_sql_main()->currentIndex(), pgHistory);
  auto* list = w.findChild<QTreeWidget*>(QStringLiteral("dbg_history"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->topLevelItemCount(), 2);
  // A grid with the one column "Command"; each row its statement's first 50 characters, line
  // ends shown as blanks.
  EXPECT_EQ(list->columnCount(), 1);
  EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("Command"));
  EXPECT_EQ(list->topLevelItem(0)->text(0), QString(first).replace(QLatin1Char('\n'), QLatin1Char(' ')).left(50));
  // The History page offers Select itself.
  auto* bar = w.nb_sql_main()->widget(pgHistory)->findChild<QToolBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->actions().contains(select));
  Shot(w, "main-history-page");
  w.Model().RightCaption = QStringLiteral("   /some/file.sql");
  list->setCurrentItem(list->topLevelItem(0));
  select->trigger();
  EXPECT_EQ(w.editor()->toPlainText(), first);
  EXPECT_TRUE(w.Model().RightCaption.isEmpty());
  // A double click (its first press made the row current).
  list->setCurrentItem(list->topLevelItem(1));
  emit list->itemDoubleClicked(list->topLevelItem(1), 0);
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("select 3"));
  w.Action("a_servers_disconnect")->trigger();
}

// The editors as configured: the fixed font at 8 points with a tab stop every 8 characters (a
// new font keeps that), and the SQL editor's automatic indent of a new line, which the DDL
// editor does not have.
TEST(MainWindowTest, EditorsFontTabsAndIndent) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  auto tabOf = [](QPlainTextEdit* e) {
    return 8 * QFontMetricsF(e->font()).horizontalAdvance(QLatin1Char(' '));
  };
  for (QPlainTextEdit* e : {w.editor(), w.text_editor()}) {
    EXPECT_EQ(e->font().pointSize(), 8);
    // Every character as wide as every other.
    const QFontMetricsF fm(e->font());
    EXPECT_DOUBLE_EQ(fm.horizontalAdvance(QLatin1Char('i')), fm.horizontalAdvance(QLatin1Char('W')));
    EXPECT_DOUBLE_EQ(e->tabStopDistance(), tabOf(e));
  }
  struct Case {
    QPlainTextEdit* edit;
    const char* typed;  // "|" is the Return key
    const char* text;
  };
  const Case cases[] = {
      {w.editor(), "  select 1|from t", "  select 1\n  from t"},
      {w.editor(), "\tif 1 = 1|begin||end", "\tif 1 = 1\n\tbegin\n\t\n\tend"},
      {w.editor(), "select 1|go", "select 1\ngo"},
      {w.text_editor(), "  create table t|(a int)", "  create table t\n(a int)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    c.edit->clear();
    c.edit->setFocus();
    const QStringList parts = QString::fromLatin1(c.typed).split(QLatin1Char('|'));
    for (int i = 0; i < parts.size(); ++i) {
      if (i > 0) QTest::keyClick(c.edit, Qt::Key_Return);
      QTest::keyClicks(c.edit, parts[i]);
    }
    EXPECT_EQ(c.edit->toPlainText(), QString::fromLatin1(c.text));
  }
  // One undo takes the whole new line with its indent back.
  w.editor()->setPlainText(QStringLiteral("  a"));
  w.editor()->moveCursor(QTextCursor::End);
  QTest::keyClick(w.editor(), Qt::Key_Return);
  w.editor()->undo();
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("  a"));
}

// The SQL open dialog is made with the window and kept: each Open starts in the folder the last
// one chose from; Cancel opens nothing.
TEST(MainWindowTest, OpenDialogKeepsItsFolderBetweenUses) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  ASSERT_TRUE(QDir(dir.path()).mkdir("scripts"));
  const QString folder = QDir(dir.path()).filePath("scripts");
  for (const char* name : {"a.sql", "b.sql"}) {
    QFile f(QDir(folder).filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("select '") + name + "'\n");
  }
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  TStOpenDialog* dlg = w.OpenDialog();
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(dlg->parent(), &w);
  // Answers the modal dialog once it is up: each step types a name and presses Open (an empty
  // step cancels).
  auto answer = [&](QStringList typed, QString* startedIn = nullptr) {
    QTimer::singleShot(0, dlg, [=] {
      if (startedIn) *startedIn = dlg->State().Folder;
      if (typed.isEmpty()) return dlg->reject();
      for (const QString& t : typed) {
        dlg->FileNameEd()->setText(t);
        dlg->OpenClick();
      }
    });
  };
  answer({folder, "a.sql"});
  w.OpenFile();
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("select 'a.sql'\n"));
  QString startedIn;
  answer({"b.sql"}, &startedIn);
  w.OpenFile();
  EXPECT_EQ(startedIn, folder);
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("select 'b.sql'\n"));
  EXPECT_EQ(w.OpenDialog(), dlg);
  answer({});
  w.OpenFile();
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("select 'b.sql'\n"));
  EXPECT_EQ(w.Model().EditorFileName, QDir(folder).filePath("b.sql"));
}

// The kept open dialog lists its folder as it is at each Open: a script saved since the last
// Open is there (and can be chosen from the list), a removed one is gone, and a mask typed last
// time gives way to the selected file type again.
TEST(MainWindowTest, OpenDialogListsTheFolderAsItIsAtEachOpen) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  auto write = [&](const char* name) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("select '") + name + "'\n");
  };
  write("old.sql");
  write("notes.txt");
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  TStOpenDialog* dlg = w.OpenDialog();
  auto listed = [dlg] {
    QStringList names;
    for (int i = 0; i < dlg->List()->count(); ++i) names << dlg->List()->item(i)->text();
    return names;
  };
  QStringList first, second;
  QTimer::singleShot(0, dlg, [&] {
    dlg->State().Folder = dir.path();
    dlg->Reload();
    first = listed();
    dlg->FileNameEd()->setText("*.txt");
    dlg->OpenClick();
    EXPECT_EQ(listed(), QStringList{"notes.txt"});
    dlg->reject();
  });
  w.OpenFile();
  EXPECT_EQ(first, QStringList{"old.sql"});
  write("new.sql");
  ASSERT_TRUE(QFile::remove(dir.filePath("old.sql")));
  QTimer::singleShot(0, dlg, [&] {
    second = listed();
    const auto found = dlg->List()->findItems("new.sql", Qt::MatchExactly);
    if (!found.isEmpty()) emit dlg->List()->itemDoubleClicked(found.first());
    if (dlg->isVisible()) dlg->reject();
  });
  w.OpenFile();
  EXPECT_EQ(second, QStringList{"new.sql"});
  EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("select 'new.sql'\n"));
}

// The Desktop page's file list renames a file in place (F2, never a double click, which opens)
// and lets a script be dragged out of it (onto the SQL editor, which opens what is dropped).
TEST(MainWindowTest, DesktopListRenamesAndDragsFiles) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  ASSERT_TRUE(QDir(dir.path()).mkdir("below"));
  {
    QFile f(dir.filePath("old.sql"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("select 1\n");
  }
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  w.Desktop().Folder = dir.filePath("below");
  w.Action("a_desktop_up_one")->trigger();
  auto* files = static_cast<QFileSystemModel*>(w.ShellList()->model());
  ASSERT_EQ(files->filePath(w.ShellList()->rootIndex()), QDir(dir.path()).absolutePath());
  QDeadlineTimer loaded(3000);
  while (!files->index(dir.filePath("old.sql")).isValid() && !loaded.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  const QModelIndex old = files->index(dir.filePath("old.sql"));
  ASSERT_TRUE(old.isValid());
  EXPECT_TRUE(w.ShellList()->editTriggers() & QAbstractItemView::EditKeyPressed);
  EXPECT_FALSE(w.ShellList()->editTriggers() & QAbstractItemView::DoubleClicked);
  EXPECT_TRUE(files->flags(old) & Qt::ItemIsEditable);
  EXPECT_TRUE(files->setData(old, QStringLiteral("renamed.sql")));
  EXPECT_FALSE(QFile::exists(dir.filePath("old.sql")));
  EXPECT_TRUE(QFile::exists(dir.filePath("renamed.sql")));
  EXPECT_TRUE(w.ShellList()->dragEnabled());
  EXPECT_EQ(w.ShellList()->dragDropMode(), QAbstractItemView::DragOnly);
  std::unique_ptr<QMimeData> drag(files->mimeData({files->index(dir.filePath("renamed.sql"))}));
  ASSERT_TRUE(drag && drag->hasUrls());
  EXPECT_EQ(drag->urls().value(0).toLocalFile(), QDir(dir.path()).absoluteFilePath("renamed.sql"));
}
