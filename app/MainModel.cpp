// TMainModel: the main window's state and actions (see MainModel.h).
#include "app/MainModel.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <atomic>

#include "access/Classes.h"
#include "access/QorixDatabase.h"
#include "access/QorixPwdChg.h"
#include "access/SysUtils.h"
#include "access/UiServices.h"
#include "app/AppText.h"
#include "app/ServerComponents.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/service/QxSqlText.h"
#include "dataset/Field.h"
#include "dataset/QxMemDataSet.h"

namespace {
const char* const kRunOptionKeys[kRunOptionCount] = {
    "btn_run_opt_show_plan.Down",  "btn_run_opt_check_syntax.Down", "btn_run_opt_force_plan.Down",
    "btn_run_opt_stats_io.Down",   "btn_run_opt_stats_time.Down",   "btn_run_opt_non_ansi.Down",
    "btn_run_opt_no_exec.Down"};
const TProcOption kRunOptionFlags[kRunOptionCount] = {poShowPlan, poParseOnly, poForcePlan, poStatsIo,
                                                     poStatsTime, poFipsFlag, poNoExec};
// The end time of a run, written by AfterExec on the grid's worker.
std::atomic<qint64> runEndMsecs{0};

void ConfigureConnection(TQorixDatabase& d, const QString& name, bool loginPrompt) {
  d.SetName(name);
  d.Rdbms = QStringLiteral("Sybase SQL Server");
  d.ServerName = QStringLiteral("DSQUERY");
  d.ContextName = QStringLiteral("default");
  d.MsgDialogs = TMsgDialogs{mdEnhMsg, mdEnhErr};
  d.ShowDbMessages = TShowDbMessages{smDbMsg, smDbErr};
  d.LoginPrompt = loginPrompt;
  // The program name the server's process list shows.
  d.AppName = QStringLiteral("Tabulon");
  // The configured locale; the client always speaks UTF-8 to the server, the names are kept.
  try {
    d.SetLanguage(QStringLiteral("us_english"));
    d.SetSortOrder(QStringLiteral("binary"));
    d.SetCharSet(QStringLiteral("cp850"));
  } catch (const Exception&) {
  }
}
}  // namespace

QString ShownKey(const QString& db, const QString& name, int kind) {
  return db + QChar(0x1f) + name + QChar(0x1f) + QString::number(kind);
}

// --- Settings -------------------------------------------------------------------------------

QString TMainSettings::DefaultIniFile() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return QDir(base).filePath(QStringLiteral("Tabulon/Tabulon.ini"));
}

void TMainSettings::Save(const QString& iniFile) const {
  QDir().mkpath(QFileInfo(iniFile).absolutePath());
  QSettings s(iniFile, QSettings::IniFormat);
  s.beginGroup(QStringLiteral("Tf_main"));
  s.setValue("db.Rdbms", Rdbms);
  s.setValue("db.ServerName", ServerName);
  s.setValue("db.UserName", UserName);
  s.setValue("spl_main.Position", SplitterPosition);
  s.setValue("editor.Height", EditorHeight);
  s.setValue("editor.WordWrap", WordWrap);
  s.setValue("Wordwrap.Checked", WordWrap);
  s.setValue("editor.WrapToWindow", WrapToWindow);
  s.setValue("editor.MakeBackup", MakeBackup);
  s.setValue("WraptoWindow.Checked", WrapToWindow);
  s.setValue("CreatebackupFile.Checked", MakeBackup);
  s.setValue("editor.FixedFont", EditorFont);
  s.setValue("text_editor.FixedFont", TextEditorFont);
  for (int i = 0; i < kRunOptionCount; ++i) s.setValue(kRunOptionKeys[i], RunOptions[i]);
  s.endGroup();
  s.remove(QStringLiteral("MenuMRU"));
  s.beginGroup(QStringLiteral("MenuMRU"));
  for (int i = 0; i < RecentFiles.size() && i < 5; ++i) s.setValue(QStringLiteral("File%1").arg(i + 1), RecentFiles[i]);
  s.endGroup();
  s.sync();
}

void TMainSettings::Restore(const QString& iniFile) {
  QSettings s(iniFile, QSettings::IniFormat);
  s.beginGroup(QStringLiteral("Tf_main"));
  Rdbms = s.value("db.Rdbms", Rdbms).toString();
  ServerName = s.value("db.ServerName", ServerName).toString();
  UserName = s.value("db.UserName", UserName).toString();
  const TMainSettings defaults;
  SplitterPosition = s.value("spl_main.Position", SplitterPosition).toInt();
  if (SplitterPosition <= 0) SplitterPosition = defaults.SplitterPosition;
  EditorHeight = s.value("editor.Height", EditorHeight).toInt();
  if (EditorHeight <= 0) EditorHeight = defaults.EditorHeight;
  WordWrap = s.value("Wordwrap.Checked", s.value("editor.WordWrap", WordWrap)).toBool();
  WrapToWindow = s.value("WraptoWindow.Checked", s.value("editor.WrapToWindow", WrapToWindow)).toBool();
  MakeBackup = s.value("CreatebackupFile.Checked", s.value("editor.MakeBackup", MakeBackup)).toBool();
  EditorFont = s.value("editor.FixedFont", EditorFont).toString();
  TextEditorFont = s.value("text_editor.FixedFont", TextEditorFont).toString();
  for (int i = 0; i < kRunOptionCount; ++i) RunOptions[i] = s.value(kRunOptionKeys[i], RunOptions[i]).toBool();
  s.endGroup();
  s.beginGroup(QStringLiteral("MenuMRU"));
  QStringList files;
  for (int i = 1; i <= 5; ++i) {
    const QString f = s.value(QStringLiteral("File%1").arg(i)).toString();
    if (!f.isEmpty()) files << f;
  }
  if (!files.isEmpty() || s.contains("File1")) RecentFiles = files;
  s.endGroup();
}

// --- Model ----------------------------------------------------------------------------------

const QStringList& TMainModel::ConnectedActions() {
  static const QStringList names{"a_sql_open",           "a_sql_save",         "a_sql_save_as",
                                 "a_sql_print",          "a_servers_change_pwd", "a_servers_config",
                                 "a_servers_processes",  "MenuMRU",            "btn_start_tran",
                                 "btn_commit_tran",      "btn_rollback_tran"};
  return names;
}

TMainModel::TMainModel(const QString& iniFile) : IniFile(iniFile), owner_(std::make_unique<TComponent>()) {
  db_ = new TQorixDatabase(owner_.get());
  ConfigureConnection(*db_, QStringLiteral("db"), true);
  db_->AfterDisConnect = [this](TComponent*) { LeftCaption.clear(); };
  dbGrid_ = new TQorixDatabase(owner_.get());
  ConfigureConnection(*dbGrid_, QStringLiteral("db_grid"), false);

  history_ = new TQxMemDataSet(owner_.get());
  history_->SetName(QStringLiteral("mem_history"));
  history_->FieldDefs().Add(QStringLiteral("description"), ftString, 50);
  history_->FieldDefs().Add(QStringLiteral("command"), ftMemo);
  history_->Open();
  if (TField* f = history_->FindField(QStringLiteral("description"))) f->DisplayLabel = QStringLiteral("Command");

  pwd_ = new TQxPwdChgDialog(owner_.get());
  pwd_->SetDatabase(dbGrid_);
  pwd_->Title = QStringLiteral("Password Change Dialog");

  // The real explorer, definition texts, Data page table and background grid unless the
  // window sets its own.
  ownExplorer_ = std::make_unique<TServerExplorer>(db_);
  ownPages_ = std::make_unique<TObjInfoPages>(db_);
  ownTable_ = std::make_unique<TServerDataTable>(db_);
  ownGrid_ = std::make_unique<TBackgroundResultGrid>(dbGrid_);
  SetComponents(nullptr, nullptr, nullptr, nullptr);

  Enabled["a_servers_connect"] = true;
  for (const char* a : {"a_servers_disconnect", "a_sql_run", "a_sql_stop"}) Enabled[a] = false;
  for (const QString& a : ConnectedActions()) Enabled[a] = false;
  UpdateCaptions();
}

TMainModel::~TMainModel() {
  // The worker must be gone before the connections it runs on.
  quietEnd_ = true;
  if (grid_ && grid_->Active()) grid_->StopAndWait();
  if (grid_) {
    grid_->AfterExec = nullptr;
    grid_->OnThreadTerminate = nullptr;
  }
  // The table's dataset goes before the connection it reads from.
  if (table_) table_->Close();
  table_ = nullptr;
  ownTable_.reset();
  owner_.reset();
}

void TMainModel::SetComponents(TExplorerComponent* explorer, TCatalogPages* pages, TDataTableComponent* table,
                               TResultGridComponent* grid) {
  explorer_ = explorer ? explorer : ownExplorer_.get();
  pages_ = pages ? pages : ownPages_.get();
  table_ = table ? table : ownTable_.get();
  if (grid_ && grid_ != grid) {
    grid_->AfterExec = nullptr;
    grid_->OnThreadTerminate = nullptr;
  }
  grid_ = grid ? grid : ownGrid_.get();
  grid_->AfterExec = [] { runEndMsecs = QDateTime::currentMSecsSinceEpoch(); };
  grid_->OnThreadTerminate = [this](const QString& error, const QString& message) { RunEnded(error, message); };
}

void TMainModel::Notify() {
  if (Changed) Changed();
}

bool TMainModel::Guarded(const std::function<void()>& action) {
  const bool ok = GuardedCall(action);
  Notify();
  return ok;
}

void TMainModel::UpdateCaptions() {
  if (db_->Connected())
    WindowCaption = QStringLiteral("Qorix Tabulon - ") + db_->ServerName + QStringLiteral(" / ") + db_->DbName() +
                    QStringLiteral(" : ") + db_->UserName;
  else
    WindowCaption = QStringLiteral("Qorix Tabulon - not connected");
  LeftCaption = QStringLiteral("   Database : ") + db_->DbName();
}

void TMainModel::ShowPages(std::array<bool, kMainPageCount> visible, int current) {
  // A page that is current must stay visible.
  if (current < 0 || current >= kMainPageCount || !visible[current]) current = visible[pgSql] ? pgSql : pgLogo;
  PageVisible = visible;
  CurrentPage = current;
}

void TMainModel::SetConnectedState(bool connected) {
  Enabled["a_servers_connect"] = !connected;
  Enabled["a_servers_disconnect"] = connected;
  Enabled["a_sql_run"] = connected;
  if (!connected) Enabled["a_sql_stop"] = false;
  for (const QString& a : ConnectedActions()) Enabled[a] = connected;
  EditMenuEnabled = connected;
  if (connected) {
    LeftNotebookEnabled = true;
    EditorFileName = QStringLiteral("untitled");
    auto v = PageVisible;
    v[pgLogo] = false;
    v[pgSql] = true;
    v[pgHistory] = false;
    ShowPages(v, pgSql);
    TabHeight = 18;
  } else {
    ShowPages({false, false, false, false, false, true, false}, pgLogo);
    TabHeight = 0;
    RightCaption.clear();
  }
  // Disconnected too, the left caption names the database db is set to (as at start-up,
  // "   Database : master").
  UpdateCaptions();
}

bool TMainModel::Connect() {
  if (db_->Connected()) return true;
  db_->Connect();
  if (!db_->Connected()) return false;
  dbGrid_->AssignSettings(*db_);
  dbGrid_->LoginPrompt = false;
  try {
    dbGrid_->Connect();
    if (!dbGrid_->Connected()) Abort();
  } catch (...) {
    // Without the SQL page's connection the window would be half connected: back out.
    dbGrid_->Disconnect();
    db_->Disconnect();
    SetConnectedState(false);
    Notify();
    throw;
  }
  SetConnectedState(true);
  FocusControl = QStringLiteral("editor");
  explorer_->LoadServer();
  Notify();
  return true;
}

void TMainModel::PostPendingRow() {
  if (table_) table_->CheckBrowseMode();
}

void TMainModel::Disconnect() {
  // The Data page's typed row goes to the server before its table closes, or the disconnect
  // stops here with the refusal shown.
  PostPendingRow();
  // The run's worker uses db_grid: stop it and wait before anything is closed. The user
  // ended the run, so its end shows no message.
  if (grid_->Active()) {
    quietEnd_ = true;
    grid_->StopAndWait();
    quietEnd_ = false;
  }
  running_ = false;
  pendingGridDb_.clear();
  table_->Close();
  db_->Disconnect();
  TabHeight = 0;
  if (!db_->Connected()) {
    LeftCaption.clear();
    dbGrid_->Disconnect();
    explorer_->Clear();
    pages_->ClearPages();
    PropertiesShownKey.clear();
    DdlShownKey.clear();
    DdlText.clear();
    SetConnectedState(false);
  }
  EditMenuEnabled = db_->Connected();
  Notify();
}

void TMainModel::Exit() { Disconnect(); }

void TMainModel::ExplorerClick() {
  RightCaption.clear();
  if (!db_->Connected()) return Notify();
  const TExplorerSelection sel = explorer_->Selection();
  PostPendingRow();
  table_->Close();
  pages_->ClearPages();
  PropertiesShownKey.clear();
  if (!sel.SelectedDb.isEmpty() && db_->DbName() != sel.SelectedDb) {
    db_->SetDbName(sel.SelectedDb);
    // A running batch owns db_grid: its USE waits for the end of the run.
    if (grid_->Active() || running_)
      pendingGridDb_ = sel.SelectedDb;
    else
      dbGrid_->SetDbName(sel.SelectedDb);
    UpdateCaptions();
  }
  auto v = PageVisible;
  int current = CurrentPage;
  const int k = sel.SelectedKind;
  if (sel.SingleObject) {
    v[pgSummary] = false;
    v[pgProperties] = true;
    if (current == pgSummary) current = pgProperties;
    v[pgData] = k == 8 || k == 11;
    v[pgDdl] = k == 2 || k == 3 || k == 5 || k == 6 || (k >= 8 && k <= 13);
    if (!v[current]) current = pgProperties;
  } else {
    v[pgSummary] = true;
    v[pgProperties] = v[pgData] = v[pgDdl] = v[pgHistory] = false;
    if (current == pgProperties || current == pgData) current = pgSummary;
    if (current == pgDdl) current = pgSql;
  }
  ShowPages(v, current);
  FillCurrentPage(sel);
  Notify();
}

void TMainModel::FillCurrentPage(const TExplorerSelection& sel) {
  const int k = sel.SelectedKind;
  switch (CurrentPage) {
    case pgProperties:
      RightCaption = QStringLiteral("   Properties of ") + sel.SelectedObject;
      if (sel.SingleObject) {
        pages_->ShowProperties(sel.SelectedDb, k, sel.SelectedObject);
        PropertiesShownKey = ShownKey(sel.SelectedDb, sel.SelectedObject, k);
      }
      break;
    case pgSummary:
      RightCaption = QStringLiteral("   Summary");
      if (!sel.SingleObject)
        pages_->ShowSummary(sel.SelectedDb, k, (k == 15 || k == 16 || k == 18) ? sel.SelectedObject : QString());
      break;
    case pgData:
      if ((k == 8 || k == 11) && sel.SingleObject) {
        table_->Close();
        table_->Open(sel.SelectedObject);
        RightCaption = QStringLiteral("   ") + sel.SelectedObject;
      }
      break;
    case pgDdl:
      RightCaption = QStringLiteral("   DDL of ") + sel.SelectedObject;
      ShowObjectDDL(sel);
      break;
    default: break;
  }
}

void TMainModel::ShowObjectDDL(const TExplorerSelection& sel) {
  const QString& name = sel.SelectedObject;
  const QString& d = sel.SelectedDb;
  QString text;
  // The catalogue service takes the names as the tree gives them: an object with its owner
  // (owner.name), an index as table.index cut at its last dot. Cutting the owner off would read
  // another owner's object of the same name, and a first-dot cut splits a dotted name wrongly.
  switch (sel.SelectedKind) {
    case 2: text = QStringLiteral("EXECUTE sp_addgroup ") + name; break;
    case 3: {
      QString table, index;
      TQorixObjInfo::SplitLeafName(name, table, index);
      text = pages_->IndexDDL(d, index, table);
      break;
    }
    case 5:
    case 6:
    case 9:
    case 13:
      text = pages_->ObjectText(d, name);
      break;
    case 8:
    case 11:
      text = pages_->TableDDL(d, name);
      break;
    case 10: text = pages_->UserTypeDDL(d, name); break;
    case 12: text = pages_->UserDDL(d, name); break;
    default: break;
  }
  DdlText = text;
  DdlShownKey = ShownKey(d, name, sel.SelectedKind);
}

void TMainModel::TabClick(int page) {
  // Leaving the Data page, or opening its table again, posts the row being typed first; a
  // refusal keeps the page current.
  if (db_->Connected()) PostPendingRow();
  if (page >= 0 && page < kMainPageCount && PageVisible[page]) CurrentPage = page;
  if (!db_->Connected()) return Notify();
  const TExplorerSelection sel = explorer_->Selection();
  switch (CurrentPage) {
    case pgData:
      if (!sel.SelectedDb.isEmpty() && db_->DbName() != sel.SelectedDb) {
        db_->SetDbName(sel.SelectedDb);
        UpdateCaptions();
      }
      table_->Close();
      table_->Open(sel.SelectedObject);
      FocusControl = QStringLiteral("dbg_data");
      RightCaption = QStringLiteral("   ") + table_->TableName();
      break;
    case pgSql:
      FocusControl = QStringLiteral("editor");
      RightCaption = QStringLiteral("   ") + LastOpenedFile;
      break;
    case pgDdl:
      RightCaption = QStringLiteral("   DDL of ") + sel.SelectedObject;
      // The DDL page keeps its text (and any edits) while it shows the selected object.
      if (DdlShownKey != ShownKey(sel.SelectedDb, sel.SelectedObject, sel.SelectedKind)) ShowObjectDDL(sel);
      break;
    case pgSummary: FillCurrentPage(sel); break;
    case pgProperties:
      RightCaption = QStringLiteral("   Properties of ") + sel.SelectedObject;
      if (sel.SingleObject && PropertiesShownKey != ShownKey(sel.SelectedDb, sel.SelectedObject, sel.SelectedKind)) {
        pages_->ShowProperties(sel.SelectedDb, sel.SelectedKind, sel.SelectedObject);
        PropertiesShownKey = ShownKey(sel.SelectedDb, sel.SelectedObject, sel.SelectedKind);
      }
      break;
    default: break;
  }
  Notify();
}

void TMainModel::SummaryDblClick() {
  const TExplorerSelection sel = explorer_->Selection();
  const int k = sel.SelectedKind;
  if (k == 7 || k == 10 || k == 14 || k == 18) return;
  const QStringList row = pages_->SummaryRow();
  if (row.isEmpty()) return;
  auto v = PageVisible;
  v[pgSummary] = false;
  v[pgProperties] = true;
  ShowPages(v, pgProperties);
  // The member as the property page takes it: an index or column with its table as the tree
  // named the table (with its owner where two owners have one of that name), each part
  // bracketed when it holds a dot.
  QString name;
  if (k == 15 || k == 16)
    name = sel.SelectedObject.trimmed() + QLatin1Char('.') + QxSql::NamePart(row.value(0));
  else if (k == 3)
    name = QxSql::NamePart(row.value(1)) + QLatin1Char('.') + QxSql::NamePart(row.value(0));
  else
    name = row.value(0);
  const QString member = pages_->SummaryMember();
  if (!member.isEmpty()) name = member;
  pages_->ShowProperties(sel.SelectedDb, k, name);
  PropertiesShownKey = ShownKey(sel.SelectedDb, name, k);
  // The caption names the member shown, not the folder it was picked from.
  RightCaption = QStringLiteral("   Properties of ") + name;
  Notify();
}

// A transaction command takes the row being typed on the Data page with it: posted first, so it
// is inside the transaction the command ends (or outside the one it starts).
void TMainModel::StartTran() {
  PostPendingRow();
  db_->BeginTran(QString());
}
void TMainModel::CommitTran() {
  PostPendingRow();
  db_->CommitTran(QString());
}
void TMainModel::RollbackTran() {
  PostPendingRow();
  db_->RollbackTran(QString());
  if (table_->Active()) table_->Refresh();
}

void TMainModel::EditorShowStatus(bool hasText, bool hasSelection) {
  const QMap<QString, bool> before = Enabled;
  for (const char* a : {"a_sql_clear", "a_sql_select_all", "a_sql_delete"}) Enabled[a] = hasText;
  for (const char* a : {"a_sql_cut", "a_sql_copy"}) Enabled[a] = hasSelection;
  if (db_->Connected()) Enabled["a_sql_save"] = hasText;
  if (Enabled != before) Notify();
}

void TMainModel::ApplyRunOptions() {
  TProcOptions o = dbGrid_->ProcOptions;
  auto set = [&o](TProcOption f, bool on) {
    if (on) o.Include(f);
    else o.Exclude(f);
  };
  set(poShowPlan, Settings.RunOptions[roShowPlan]);
  dbGrid_->ProcOptions = o;
  if (dbGrid_->Connected()) dbGrid_->ApplyProcOptions(o);
  for (int i = 1; i < kRunOptionCount; ++i) set(kRunOptionFlags[i], Settings.RunOptions[i]);
  dbGrid_->ProcOptions = o;
  if (dbGrid_->Connected()) dbGrid_->ApplyProcOptions(o);
}

bool TMainModel::Run(const QString& editorText) {
  // The grid cuts batches at a terminator line ended by CR LF, the editor's line end on the
  // system the program was made for; Qt's editors end lines with LF alone.
  QString text = editorText;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  // One run at a time: the grid has one worker and db_grid one pending command.
  if (running_ || grid_->Active() || apptext::IsBlankText(text)) {
    UiServices().Beep();
    return false;
  }
  // The script sees the row typed on the Data page: it is posted first.
  PostPendingRow();
  ApplyRunOptions();
  grid_->SetSQL(text);
  RunStart = QDateTime::currentDateTime();
  RunEnd = QDateTime();
  runEndMsecs = 0;
  running_ = true;
  try {
    grid_->Execute();
  } catch (...) {
    running_ = grid_->Active();
    Enabled["a_sql_stop"] = false;
    Notify();
    throw;
  }
  // Stop is offered only once the worker really runs.
  Enabled["a_sql_stop"] = running_ && grid_->Active();
  const QString description = apptext::HistoryDescription(text);
  if (!history_->Locate(QStringLiteral("description"), description, TLocateOptions(TLocateOption::loCaseInsensitive)))
    history_->AppendRecord({description, text});
  Notify();
  return true;
}

void TMainModel::Stop() {
  if (grid_->Active()) grid_->Stop();
  Enabled["a_sql_stop"] = false;
  Notify();
}

void TMainModel::RunEnded(const QString& error, const QString& message) {
  running_ = false;
  Enabled["a_sql_stop"] = false;
  const qint64 end = runEndMsecs.load();
  RunEnd = end ? QDateTime::fromMSecsSinceEpoch(end) : QDateTime::currentDateTime();
  if (!pendingGridDb_.isEmpty()) {
    const QString name = pendingGridDb_;
    pendingGridDb_.clear();
    if (dbGrid_->Connected()) GuardedCall([&] { dbGrid_->SetDbName(name); });
  }
  Notify();
  if (quietEnd_) return;
  if (!error.trimmed().isEmpty())
    UiServices().ShowQorixMessage(QStringLiteral("CT-Library error"), error, clQorixErrorPanel);
  else if (!message.trimmed().isEmpty())
    UiServices().ShowQorixMessage(QStringLiteral("CT-Library message"), message, clBtnFace);
}

int TMainModel::HistoryCount() const { return history_->RecordCount(); }

QString TMainModel::HistoryCommand(int index) const {
  if (history_->RecordCount() <= 0 || index < 0 || index >= history_->RecordCount()) return {};
  history_->SetRecNo(index + 1);
  return history_->FieldByName(QStringLiteral("command"))->AsString();
}

bool TMainModel::ChangePassword() {
  if (grid_->Active()) {
    quietEnd_ = true;
    grid_->StopAndWait();
    quietEnd_ = false;
  }
  running_ = false;
  if (!pwd_->Execute()) Abort();
  if (pwd_->OwnLoginChanged()) db_->Password = pwd_->NewPassword();
  return true;
}

void TMainModel::CheckNotSQLAnywhere() {
  // The window's own browsing connection (a lookup by component name could find another
  // window's "db").
  if (db_->Rdbms == QLatin1String("SQLAnywhere")) {
    UiServices().MessageBox(QStringLiteral("The function is not available for SQL Anywhere"), QStringLiteral("Morvane"),
                            TMsgBoxIcon::Information);
    Abort();
  }
}

void TMainModel::CheckConfigAvailable() {
  CheckNotSQLAnywhere();
  if (!db_->Connected()) {
    UiServices().MessageBox(QStringLiteral("Not connected"), QStringLiteral("Morvane"), TMsgBoxIcon::Information);
    Abort();
  }
}

TResultsInfo TMainModel::ResultsInfo() const {
  TResultsInfo r;
  const QLocale loc;
  r.StartTime = RunStart.isValid() ? loc.toString(RunStart, QLocale::ShortFormat) : QString();
  if (!grid_->Active() && RunEnd.isValid()) r.EndTime = loc.toString(RunEnd, QLocale::ShortFormat);
  r.Database = db_->DbName();
  r.Server = db_->ServerName;
  r.User = db_->UserName;
  r.SQL = grid_->SQL().trimmed();
  return r;
}

TSybInfo TMainModel::SybInfo() const {
  TSybInfo s;
  s.CharSet = db_->CharSet();
  s.Language = db_->Language();
  s.SortOrder = db_->SortOrder();
  s.QorixVersion = db_->GetQorixVersion();
  s.DbVersion = db_->Connected() ? db_->GetServerVersion() : QStringLiteral("Not connected");
  s.IniFile = db_->IniFile;
  s.Caption = QStringLiteral("Sybase Info for ") + db_->ServerName;
  return s;
}

QString TMainModel::GridText(int top, int left, int bottom, int right, bool cut) const {
  const std::vector<QStringList> cells = grid_->Cells();
  const std::vector<int> allWidths = grid_->ColumnWidths();
  QString text;
  for (int r = std::max(0, top); r <= bottom && r < int(cells.size()); ++r) {
    QStringList row;
    std::vector<int> widths;
    for (int c = left; c <= right; ++c) {
      row << cells[r].value(c);
      widths.push_back(c < int(allWidths.size()) ? allWidths[c] : 0);
      if (cut) grid_->ClearCell(r, c);
    }
    text += apptext::CellLine(row, widths, grid_->FontPointSize()) + QStringLiteral("\r\n");
  }
  return text;
}

void TMainModel::OpenSqlFile(const QString& fileName, bool addToRecent) {
  EditorFileName = fileName;
  LastOpenedFile = fileName;
  RightCaption = QStringLiteral("   ") + fileName;
  if (addToRecent) {
    Settings.RecentFiles.removeAll(fileName);
    Settings.RecentFiles.prepend(fileName);
    while (Settings.RecentFiles.size() > 5) Settings.RecentFiles.removeLast();
  }
  Notify();
}

void TMainModel::SavedAs(const QString& fileName) {
  EditorFileName = fileName;
  RightCaption = QStringLiteral("   ") + fileName;
  Notify();
}

void TMainModel::ClearRecentFiles() {
  Settings.RecentFiles.clear();
  Notify();
}

void TMainModel::Activate() {
  if (restored_) return;
  restored_ = true;
  Settings.Restore(IniFile);
  db_->Rdbms = Settings.Rdbms;
  db_->ServerName = Settings.ServerName;
  if (!Settings.UserName.isEmpty() || db_->UserName.isEmpty()) db_->UserName = Settings.UserName;
  if (OnRestored) OnRestored();
  Notify();
}

void TMainModel::Close() {
  Settings.Rdbms = db_->Rdbms;
  Settings.ServerName = db_->ServerName;
  Settings.UserName = db_->UserName;
  Settings.Save(IniFile);
}
