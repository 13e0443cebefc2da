// TMainModel: the plain state of the main window Tf_main: its two connections, the statement
// history, the enabled state of every action, the pages of the right notebook, the captions,
// the saved settings and what each action does. The window (u_main.h) only shows it.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>

#include "app/DialogStates.h"
#include "app/MainComponents.h"

class TComponent;
class TQorixDatabase;
class TQxMemDataSet;
class TQxPwdChgDialog;

// The pages of the right notebook.
enum TMainPage { pgProperties = 0, pgSummary, pgData, pgSql, pgDdl, pgLogo, pgHistory, kMainPageCount };

// The run-option buttons in the order their options are applied after show plan.
enum TRunOption { roShowPlan = 0, roCheckSyntax, roForcePlan, roStatsIo, roStatsTime, roNonAnsi, roNoExec, kRunOptionCount };

// The settings kept in the ini file between runs.
struct TMainSettings {
  QString Rdbms = QStringLiteral("Sybase SQL Server");
  QString ServerName = QStringLiteral("DSQUERY");
  QString UserName;
  int SplitterPosition = 260;
  int EditorHeight = 180;
  bool WordWrap = false;
  bool WrapToWindow = false;
  bool MakeBackup = false;
  QString EditorFont;      // QFont::toString of the SQL editor's fixed font
  QString TextEditorFont;  // the same for the DDL editor
  // The seven run-option buttons' Down state: the buttons show these and a run applies them.
  std::array<bool, kRunOptionCount> RunOptions{};
  QStringList RecentFiles;  // at most 5, newest first
  // The ini file in the user's configuration folder ($XDG_CONFIG_HOME/Tabulon/Tabulon.ini).
  static QString DefaultIniFile();
  // Writes every value into Ini's section "Tf_main" and the recent files into "MenuMRU".
  void Save(const QString& iniFile) const;
  // Reads what Save wrote; missing values keep their defaults, and a pane size that is not
  // positive (a pane never shown) takes its default, so no pane is restored to nothing.
  void Restore(const QString& iniFile);
};

// The main window's model.
class TMainModel {
 public:
  // Creates db, db_grid, the history and the password-change component.
  explicit TMainModel(const QString& iniFile = TMainSettings::DefaultIniFile());
  ~TMainModel();
  TMainModel(const TMainModel&) = delete;
  TMainModel& operator=(const TMainModel&) = delete;

  // The pieces the window places (not owned; placeholders until the window sets others).
  void SetComponents(TExplorerComponent* explorer, TCatalogPages* pages, TDataTableComponent* table,
                     TResultGridComponent* grid);
  TExplorerComponent* Explorer() const { return explorer_; }
  TResultGridComponent* Grid() const { return grid_; }
  // The Data page's table.
  TDataTableComponent* DataTable() const { return table_; }

  TQorixDatabase& db() const { return *db_; }
  TQorixDatabase& db_grid() const { return *dbGrid_; }
  TQxMemDataSet& mem_history() const { return *history_; }
  TQxPwdChgDialog& dlg_pwd() const { return *pwd_; }

  // --- What the window shows -----------------------------------------------------------
  QString WindowCaption;
  QString LeftCaption;   // pan_left_top
  QString RightCaption;  // pan_right_top
  std::array<bool, kMainPageCount> PageVisible{false, false, false, true, false, true, false};
  int CurrentPage = pgLogo;
  int TabHeight = 0;
  bool LeftNotebookEnabled = false;
  bool EditMenuEnabled = false;
  // Enabled state by action name (a_servers_connect, a_sql_run, btn_start_tran ...).
  QMap<QString, bool> Enabled;
  bool IsEnabled(const QString& action) const { return Enabled.value(action); }
  // The SQL editor's file name and the DDL editor's text.
  QString EditorFileName = QStringLiteral("untitled");
  QString DdlText;
  // The run's start and end times.
  QDateTime RunStart, RunEnd;
  // The saved settings.
  TMainSettings Settings;
  QString IniFile;
  // The file name last chosen in the SQL open dialog.
  QString LastOpenedFile;
  // The object whose definition text the DDL page shows (database, name and kind).
  QString DdlShownKey;
  // The object the property page shows (database, name and kind).
  QString PropertiesShownKey;
  // Fired after every change of what the window shows.
  std::function<void()> Changed;
  // Fired once the first activation has restored the settings, for the widgets to take them.
  std::function<void()> OnRestored;
  // The control that is to get the focus next ("editor", "dbg_data"); the window gives it the
  // focus and empties this.
  QString FocusControl;
  // Fired when a run's end reaches the main thread with a text to show (caption, text, colour).
  std::function<void(const QString& caption, const QString& text, bool error)> ShowRunMessage;

  // --- Actions -------------------------------------------------------------------------
  // Logs in through db (its login dialog), then db_grid with db's settings; a failing
  // db_grid rolls both back. True when connected afterwards.
  bool Connect();
  // Stops a running run and waits for it, closes the table, disconnects both connections.
  void Disconnect();
  // Disconnect; the window then closes.
  void Exit();
  // The explorer's selection changed.
  void ExplorerClick();
  // A tab of the right notebook was clicked (Page is the page now current).
  void TabClick(int page);
  // A summary row was double clicked.
  void SummaryDblClick();
  // Transactions on db.
  void StartTran();
  void CommitTran();
  void RollbackTran();
  // Starts a run of Text (the editor's whole text or its selected lines); false when nothing
  // started (blank text beeps, a run in progress refuses).
  bool Run(const QString& text);
  // Stop: asks the grid to end its run.
  void Stop();
  // The statement of history row Index (for the editor), empty without one.
  QString HistoryCommand(int index) const;
  int HistoryCount() const;
  // Changes the password on db_grid (after stopping a run); db keeps it for its next login
  // only when the change was for its own login.
  bool ChangePassword();
  // The server dialogs are not offered on a "SQLAnywhere" connection: shows the refusal and
  // aborts silently there.
  void CheckNotSQLAnywhere();
  // Before the configuration window: CheckNotSQLAnywhere, then "Not connected" and a silent
  // abort without a connection.
  void CheckConfigAvailable();
  // The results information window's fields.
  TResultsInfo ResultsInfo() const;
  // The server information window's fields.
  TSybInfo SybInfo() const;
  // The lines Copy All / Copy Selected / Cut / Print take from the grid (rows, columns as
  // the grid counts them, row 0 and column 0 fixed), each followed by CR LF when LineEnds.
  QString GridText(int top, int left, int bottom, int right, bool cut = false) const;
  // Opens a file into the SQL editor's name and the recent files (newest first, at most 5).
  void OpenSqlFile(const QString& fileName, bool addToRecent = true);
  // Saves under a new name.
  void SavedAs(const QString& fileName);
  // Empties the recent-files list.
  void ClearRecentFiles();
  // The first activation restores the settings (then OnRestored); every later one does nothing.
  void Activate();
  // The window closes: saves the settings.
  void Close();
  // The SQL editor's status changed: Clear, Select All and Delete need text, Cut and Copy a
  // selection, and Save (while connected) text.
  void EditorShowStatus(bool hasText, bool hasSelection);
  // Applies the seven run options to db_grid, show plan first.
  void ApplyRunOptions();
  // True once the first activation restored the settings.
  bool Restored() const { return restored_; }
  // The database db_grid switches to when the running run ends (empty: none pending).
  const QString& PendingGridDb() const { return pendingGridDb_; }

  // Posts the Data page's open edit or new row before anything closes, reopens or refreshes
  // its table or leaves the page; raises when the server refuses it (the row, its values and
  // the page stay; the caller's action goes no further).
  void PostPendingRow();

  // Calls Action through the exception guard (errors shown, EAbort silent), then Changed.
  bool Guarded(const std::function<void()>& action);

  // The action names the connected state enables.
  static const QStringList& ConnectedActions();

 private:
  void SetConnectedState(bool connected);
  void ShowPages(std::array<bool, kMainPageCount> visible, int current);
  void UpdateCaptions();
  void FillCurrentPage(const TExplorerSelection& sel);
  void ShowObjectDDL(const TExplorerSelection& sel);
  void RunEnded(const QString& error, const QString& message);
  void Notify();

  std::unique_ptr<TComponent> owner_;
  TQorixDatabase* db_ = nullptr;
  TQorixDatabase* dbGrid_ = nullptr;
  TQxMemDataSet* history_ = nullptr;
  TQxPwdChgDialog* pwd_ = nullptr;
  TExplorerComponent* explorer_ = nullptr;
  TCatalogPages* pages_ = nullptr;
  TDataTableComponent* table_ = nullptr;
  TResultGridComponent* grid_ = nullptr;
  std::unique_ptr<TExplorerComponent> ownExplorer_;
  std::unique_ptr<TCatalogPages> ownPages_;
  std::unique_ptr<TDataTableComponent> ownTable_;
  std::unique_ptr<TResultGridComponent> ownGrid_;
  bool restored_ = false;
  bool running_ = false;
  // Set while Disconnect or the password change stops a run: its end shows no message.
  bool quietEnd_ = false;
  QString pendingGridDb_;
};

// Key of what a page shows: database, name and kind.
QString ShownKey(const QString& db, const QString& name, int kind);
