// Tf_main: the main window, a thin view over TMainModel: menus, toolbar, the explorer and
// Desktop pages on the left, the seven pages on the right, and the dialogs its actions open.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <memory>

#include "app/MainModel.h"
#include "app/ScriptFile.h"
#include "dataset/DataSource.h"

class QAction;
class QDialog;
class QPrinter;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QTableWidget;
class QTreeWidget;
class QToolButton;
class QTreeView;
class QListView;
class QFileSystemModel;
class QComboBox;
class QListWidget;
class QTreeWidget;
class TServerExplorer;
class TObjInfoPages;
class TBackgroundResultGrid;
class TQorixGridView;
class TQxSvrExploreView;
class TQxListPageView;
class TDBNavigatorWidget;
class QTableView;
class TDataSetModel;
class TStOpenDialog;

class Tf_main : public QMainWindow {
 public:
  // Builds the window over a model that keeps its settings in IniFile.
  explicit Tf_main(const QString& iniFile = TMainSettings::DefaultIniFile(), QWidget* parent = nullptr);
  ~Tf_main() override;

  TMainModel& Model() { return *model_; }
  // An action by its name (a_servers_connect, a_sql_run ...).
  QAction* Action(const QString& name) const { return actions_.value(name); }
  QTabWidget* nb_sql_main() const { return nb_sql_main_; }
  QTabWidget* nb_explorer() const { return nb_explorer_; }
  QPlainTextEdit* editor() const { return editor_; }
  TQxSvrExploreView* qx_explorer() const { return tree_; }
  TDesktopState& Desktop() { return desktop_; }
  // The Desktop page's folder tree (null until the page is first shown) and its file list.
  QTreeView* ShellTree() const { return shellTree_; }
  QTreeView* ShellList() const { return shellList_; }
  TQorixGridView* g_sql() const { return grid_; }
  TServerExplorer& Explorer() const { return *explorer_; }
  TObjInfoPages& Pages() const { return *pages_; }
  TQxListPageView* qx_properties() const { return qx_properties_; }
  TQxListPageView* qx_summary() const { return qx_summary_; }
  QTableView* dbg_data() const { return dbg_data_; }
  TDBNavigatorWidget* nav_main() const { return nav_main_; }
  TDataSource& ds_sql_data() { return ds_sql_data_; }
  TBackgroundResultGrid& ResultGrid() const { return *resultGrid_; }
  // Shows the model's state.
  void Refresh();
  // Shows the window as the program starts: maximised, with the splash dialog centred over it.
  void ShowAtStart();
  // The window's activation: takes the splash dialog down and, the first time, restores the
  // saved settings.
  void FormActivate();
  // The splash dialog shown at start.
  QDialog* SplashDialog() const { return splash_; }
  QSplitter* spl_main() const { return spl_main_; }
  QSplitter* spl_sql() const { return spl_sql_; }
  QPlainTextEdit* text_editor() const { return text_editor_; }
  // The popup menus of the SQL editor, the result grid and the DDL editor.
  QMenu* SqlEditorMenu() const { return sqlEditorMenu_; }
  QMenu* GridMenu() const { return gridMenu_; }
  QMenu* TextEditorMenu() const { return textEditorMenu_; }
  // The run-option button of a TRunOption.
  QToolButton* RunOptionButton(int option) const { return runOptions_[option]; }
  // Selects database node Index in the explorer and runs the click.
  void ClickDatabase(int index);
  // Expands the explorer along Path (node texts from the database down) and clicks its last
  // node; false when a node is missing.
  bool ClickPath(const QStringList& path);
  // Asks the user a yes/no question (a message box; tests answer it themselves).
  std::function<bool(const QString& question)> Confirm;
  // Opens a script into the SQL editor (as Open, a drop or a recent-files entry does).
  void OpenScript(const QString& name, bool addToRecent = true) { LoadFile(name, addToRecent); }
  // How the script in the SQL editor was stored (encoding, mark, line ends).
  const TScriptFormat& ScriptFormat() const { return scriptFormat_; }
  // The SQL open dialog, made with the window and kept between uses.
  TStOpenDialog* OpenDialog();
  // Open: the SQL open dialog, then the chosen file into the SQL editor.
  void OpenFile();
  // Files dropped on the SQL editor: the first is opened (and added to the recent files).
  void DropFiles(const QStringList& files);
  // The editor's run text: its selected lines or its whole text.
  QString RunText() const;
  // Prints the result grid (its rows, or the selected block for a selection range) on a set-up
  // printer; false when the grid has nothing to print.
  bool PrintGridTo(QPrinter& printer);
  // Prints an editor's lines (the selected lines for a selection range).
  void PrintEditorTo(QPlainTextEdit* edit, QPrinter& printer);

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* AddAction(const QString& name, const QString& text, const QString& shortcut, std::function<void()> run,
                     const QString& hint = QString());
  void BuildMenus();
  QWidget* BuildSqlPage();
  QWidget* BuildDesktopPage();
  QWidget* BuildDataPage();
  void BuildTextEditorMenu();
  // The SQL editor's and the result grid's popup menus.
  void BuildPopupMenus();
  // Shows the Desktop page's state: folder, mask, view style, checked entry, buttons.
  void ShowDesktop();
  // Makes the Desktop page's folder tree (on the page's first showing).
  void CreateShellTree();
  void UpdateRecentMenu();
  void ApplySettings();
  // The first activation restores the saved settings (SettingsRestored gives them to the widgets).
  void RestoreOnce();
  void SettingsRestored();
  // Gives Splitter's first pane its restored size once the splitter is laid out.
  void ApplyPendingSizes(QSplitter* splitter);
  void CollectSettings();
  void Export();
  void PrintGrid();
  void PrintEditor(QPlainTextEdit* edit);
  static void PrintText(QPrinter& printer, const QString& text, const QFont& font);
  void SaveFile(bool ask);
  void LoadFile(const QString& name, bool addToRecent);
  // Writes the SQL editor's text to Name in the script's own encoding and line ends.
  void WriteScript(const QString& name);

  // The pieces the model drives outlive it: the model stops a run before the grid goes.
  std::unique_ptr<TServerExplorer> explorer_;
  std::unique_ptr<TObjInfoPages> pages_;
  std::unique_ptr<TBackgroundResultGrid> resultGrid_;
  std::unique_ptr<TMainModel> model_;
  QMap<QString, QAction*> actions_;
  QMenu* editMenu_ = nullptr;
  QMenu* sqlEditorMenu_ = nullptr;
  QMenu* gridMenu_ = nullptr;
  QMenu* textEditorMenu_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QSplitter* spl_main_ = nullptr;
  QSplitter* spl_sql_ = nullptr;
  QLabel* pan_left_top_ = nullptr;
  QLabel* pan_right_top_ = nullptr;
  QTabWidget* nb_explorer_ = nullptr;
  QTabWidget* nb_sql_main_ = nullptr;
  TQxSvrExploreView* tree_ = nullptr;
  TQxListPageView* qx_properties_ = nullptr;
  TQxListPageView* qx_summary_ = nullptr;
  QPlainTextEdit* editor_ = nullptr;
  QPlainTextEdit* text_editor_ = nullptr;
  TQorixGridView* grid_ = nullptr;
  QTreeWidget* history_ = nullptr;
  QPlainTextEdit* historyMemo_ = nullptr;
  QToolButton* runOptions_[kRunOptionCount] = {};
  QTreeView* shellList_ = nullptr;
  QWidget* treePanel_ = nullptr;
  QTreeView* shellTree_ = nullptr;
  bool syncingTree_ = false;
  QListView* iconList_ = nullptr;
  QAction* viewActions_[4] = {};
  // The Desktop page's folder, mask, view and file clipboard.
  TDesktopState desktop_;
  QFileSystemModel* fsModel_ = nullptr;
  QComboBox* cb_file_exp_ext_ = nullptr;
  bool refreshing_ = false;
  // The Data page's data source over the model's table, its navigator and grid.
  TDataSource ds_sql_data_;
  TDBNavigatorWidget* nav_main_ = nullptr;
  QTableView* dbg_data_ = nullptr;
  TDataSetModel* dataModel_ = nullptr;
  bool sizeDataColumns_ = false;
  QDialog* splash_ = nullptr;
  TStOpenDialog* openDialog_ = nullptr;
  TScriptFormat scriptFormat_;
  bool showingAtStart_ = false;
  // Restored pane sizes still to be given (0: given), and the sizes last shown (0: never shown).
  int pendingSplitter_ = 0, pendingEditorHeight_ = 0;
  int shownSplitter_ = 0, shownEditorHeight_ = 0;
};
