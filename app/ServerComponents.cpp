// The main window's pieces over the real components (see ServerComponents.h).
#include "app/ServerComponents.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include "access/QorixDatabase.h"
#include "access/QorixExceptions.h"
#include "catalog/grid/QorixGrid.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/views/QxPgProperties.h"
#include "catalog/views/QxPgSummary.h"
#include "catalog/views/QxSvrExplore.h"
#include "dataset/server/QxTable.h"

// --- Data page table --------------------------------------------------------------------------

TServerDataTable::TServerDataTable(TQorixDatabase* db) : table_(std::make_unique<TQxTable>()) {
  table_->SetName(QStringLiteral("tbl_sql_data"));
  table_->SetDatabase(db);
  table_->MaxRows = 10000;
  table_->FetchRows = 250;
  table_->SQLOptions = TSQLOptions{soUseTransaction, soUseTransactionOnCache};
  table_->UpdateMode = upWhereAll;
  table_->CachedUpdates = false;
}

TServerDataTable::~TServerDataTable() = default;

bool TServerDataTable::Active() const { return table_->Active(); }

void TServerDataTable::Close() { table_->Close(); }

void TServerDataTable::Open(const QString& name) {
  table_->SetTableName(name);
  table_->Open();
}

void TServerDataTable::Refresh() { table_->Refresh(); }

void TServerDataTable::CheckBrowseMode() {
  if (table_->Active()) table_->CheckBrowseMode();
}

QString TServerDataTable::TableName() const { return table_->TableName(); }

// --- Explorer -------------------------------------------------------------------------------

TServerExplorer::TServerExplorer(TQorixDatabase* db) : tree_(std::make_unique<TQxSvrExplore>()) {
  tree_->SetName(QStringLiteral("qx_explorer"));
  tree_->SetDatabase(db);
  tree_->ShowDbMessages = TShowDbMessages{smDbMsg, smDbErr};
}

TServerExplorer::~TServerExplorer() = default;

void TServerExplorer::LoadServer() { tree_->LoadServer(QString()); }

void TServerExplorer::Clear() {
  tree_->Clear();
  tree_->Selected = nullptr;
}

TExplorerSelection TServerExplorer::Selection() const {
  TExplorerSelection s;
  s.SelectedDb = tree_->SelectedDb;
  s.SelectedObject = tree_->SelectedObject;
  s.SelectedKind = int(tree_->SelectedKind);
  s.SingleObject = tree_->SingleObject;
  if (tree_->Selected && tree_->Selected->Parent()) s.ParentText = tree_->Selected->Parent()->Text;
  return s;
}

TQxTreeNode* TServerExplorer::FindPath(const QStringList& path) {
  TQxTreeNode* node = nullptr;
  for (const QString& text : path) {
    TQxTreeNode* next = nullptr;
    if (!node) {
      for (int i = 0; i < tree_->Count() && !next; ++i)
        if (tree_->Item(i)->Text == text) next = tree_->Item(i);
    } else {
      if (node->HoldsOnlyPlaceholder()) tree_->NodeExpanding(node);
      for (int i = 0; i < node->Count() && !next; ++i)
        if (node->Child(i)->Text == text) next = node->Child(i);
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

bool TServerExplorer::ClickPath(const QStringList& path) {
  TQxTreeNode* node = FindPath(path);
  if (!node) return false;
  tree_->Selected = node;
  tree_->Click();
  return true;
}

// --- Pages and definition texts -----------------------------------------------------------------------

TObjInfoPages::TObjInfoPages(TQorixDatabase* db) : info_(std::make_unique<TQorixObjInfo>()) {
  info_->SetName(QStringLiteral("info"));
  info_->SetDatabase(db);
  info_->PrefixObjWithOwner = false;
  info_->MsgDialogs = TMsgDialogs{};
  info_->ShowDbMessages = TShowDbMessages{smDbMsg, smDbErr};
  properties_ = std::make_unique<TQxPgProperties>();
  properties_->SetName(QStringLiteral("qx_properties"));
  properties_->SetDatabase(db);
  summary_ = std::make_unique<TQxPgSummary>();
  summary_->SetName(QStringLiteral("qx_summary"));
  summary_->SetDatabase(db);
}

TObjInfoPages::~TObjInfoPages() = default;

void TObjInfoPages::ClearPages() {
  properties_->Clear();
  summary_->Clear();
}

void TObjInfoPages::ShowProperties(const QString& selectDb, int kind, const QString& name) {
  properties_->Show(selectDb, TQxObjectKind(kind), name);
}

void TObjInfoPages::ShowSummary(const QString& selectDb, int kind, const QString& name) {
  summary_->Show(selectDb, TQxObjectKind(kind), name);
}

QStringList TObjInfoPages::SummaryRow() const { return summary_->SelectedRow(); }
QString TObjInfoPages::SummaryMember() const { return summary_->MemberName(summary_->Contents().Selected); }

QString TObjInfoPages::IndexDDL(const QString& selectDb, const QString& index, const QString& table) {
  info_->SetSelectDb(selectDb);
  return info_->GetIndexDDL(index, table).join(QLatin1Char('\n'));
}

QString TObjInfoPages::ObjectText(const QString& selectDb, const QString& name) {
  info_->SetSelectDb(selectDb);
  QString text;
  info_->GetObjectText(name, text);
  return text;
}

QString TObjInfoPages::TableDDL(const QString& selectDb, const QString& name) {
  info_->SetSelectDb(selectDb);
  return info_->GetTableDDL(name).join(QLatin1Char('\n'));
}

QString TObjInfoPages::UserTypeDDL(const QString& selectDb, const QString& name) {
  info_->SetSelectDb(selectDb);
  QString text;
  info_->GetUserTypeDDL(name, text);
  return text;
}

QString TObjInfoPages::UserDDL(const QString& selectDb, const QString& name) {
  info_->SetSelectDb(selectDb);
  QString text;
  info_->GetUserDDL(name, text);
  return text;
}

// --- Result grid ----------------------------------------------------------------------------

TBackgroundResultGrid::TBackgroundResultGrid(TQorixDatabase* dbGrid) : grid_(std::make_unique<TQorixGrid>()) {
  TQorixGrid& g = *grid_;
  g.SetName(QStringLiteral("g_sql"));
  g.SetDatabase(dbGrid);
  g.Background = true;
  g.CodeTerminator = QStringLiteral("go");
  g.NULLString = QStringLiteral("(NULL)");
  g.CompleteMsg = QStringLiteral("Execution Completed");
  g.RaiseOnError = true;
  g.MsgDialogs = TMsgDialogs{mdEnhMsg, mdEnhErr};
  // Messages of a run are kept on the grid and shown once at its end.
  g.ShowDbMessages = TShowDbMessages{};
  g.UseExecCursor = false;
  // Range selection, column and row sizing and moving.
  g.Options.Include(TGridOption::goRowSizing);
  g.Options.Include(TGridOption::goColMoving);
  g.Options.Include(TGridOption::goRowMoving);
  g.AfterExec = [this](TComponent*) {
    if (AfterExec) AfterExec();
  };
  g.OnThreadTerminate = [this](Threadgrid*, const QString& error, const QString& message) { Ended(error, message); };
}

TBackgroundResultGrid::~TBackgroundResultGrid() {
  // The worker must not fire into a half-destroyed owner.
  AfterExec = nullptr;
  OnThreadTerminate = nullptr;
  if (grid_->Worker()) {
    grid_->Stop();
    grid_->WaitForWorker();
  }
}

void TBackgroundResultGrid::SetSQL(const QString& text) {
  sql_ = text;
  grid_->SetSQL(text);
}

QString TBackgroundResultGrid::SQL() const { return sql_; }

void TBackgroundResultGrid::Execute() {
  if (running_) DatabaseError(QStringLiteral("A run is already in progress"));
  grid_->SetSQL(sql_);
  grid_->Execute();
  // Execute returns at once with a worker started, or without one when nothing ran (no
  // connection): the run lasts until the worker's end reaches this thread.
  running_ = grid_->Worker() != nullptr;
  stopSent_ = attentionSent_ = false;
  ++runNumber_;
  // The grid was emptied for this run: show that now, not when the first result arrives (a
  // statement that waits would leave the last run's rows in view as if they were its own).
  grid_->Model()->Refresh();
}

// Stopping goes in two steps. The terminate request alone ends a run that is reading rows: the
// worker sees it between rows and cancels on its own thread. Only a worker that is still busy
// after kAttentionDelayMs (waiting on the server) gets the attention from this thread: with
// FreeTDS an attention sent from a second thread while the worker moves between reads can
// leave the worker's own cancel waiting for the connection's timeout.
void TBackgroundResultGrid::Stop() {
  if (!running_ || stopSent_) return;
  stopSent_ = true;
  Threadgrid* worker = grid_->Worker();
  if (!worker) return;
  worker->Terminate();
  const int run = runNumber_;
  QTimer::singleShot(kAttentionDelayMs, grid_.get(), [this, run] { SendAttention(run); });
}

void TBackgroundResultGrid::SendAttention(int run) {
  // One attention per run, and none once the run has ended.
  if (!running_ || run != runNumber_ || attentionSent_) return;
  Threadgrid* worker = grid_->Worker();
  if (!worker || !worker->Running()) return;
  attentionSent_ = true;
  grid_->Stop();
}

void TBackgroundResultGrid::StopAndWait() {
  if (!running_) return;
  Stop();
  QDeadlineTimer until(kAttentionDelayMs);
  while (grid_->Worker() && grid_->Worker()->Running() && !until.hasExpired()) QThread::msleep(5);
  SendAttention(runNumber_);
  grid_->WaitForWorker();
}

void TBackgroundResultGrid::Ended(const QString& error, const QString& message) {
  // The end comes once per run: WaitForWorker delivers it at once and the queued delivery
  // that follows finds nothing running.
  if (!running_) return;
  running_ = false;
  if (stopSent_) MarkStopped();
  if (OnThreadTerminate) OnThreadTerminate(error, message);
}

void TBackgroundResultGrid::MarkStopped() {
  // The grid closes every run with its completion line; a run the user stopped says so instead.
  const QString complete = grid_->CompleteMsg;
  grid_->Cells().Edit([&](TGridCellData& d) {
    for (int r = d.rowCount - 1; r >= 0; --r)
      if (d.Cell(1, r) == complete) {
        d.SetCell(1, r, QString::fromLatin1(kStoppedMsg));
        if (d.ColWidth(1) < int(qstrlen(kStoppedMsg)) * TQorixGrid::kWidthFactor)
          d.SetColWidth(1, int(qstrlen(kStoppedMsg)) * TQorixGrid::kWidthFactor);
        break;
      }
  });
  grid_->Model()->Refresh();
}

std::vector<QStringList> TBackgroundResultGrid::Cells() const {
  return grid_->Cells().Read([](const TGridCellData& d) {
    std::vector<QStringList> out;
    for (int r = 0; r < d.rowCount; ++r) {
      QStringList row;
      for (int c = 0; c < d.colCount; ++c) row << d.Cell(c, r);
      out.push_back(row);
    }
    return out;
  });
}

std::vector<int> TBackgroundResultGrid::ColumnWidths() const {
  return grid_->Cells().Read([](const TGridCellData& d) {
    std::vector<int> out;
    for (int c = 0; c < d.colCount; ++c) out.push_back(d.ColWidth(c));
    return out;
  });
}

// The view shows the cells in a 9-point font; a column of n characters is n times the width
// factor wide, so one character per point.
int TBackgroundResultGrid::FontPointSize() const { return TQorixGrid::kWidthFactor; }

bool TBackgroundResultGrid::KeepHeader() const { return grid_->KeepHeader; }

void TBackgroundResultGrid::ClearCell(int row, int column) {
  if (running_) return;
  grid_->Cells().Edit([&](TGridCellData& d) { d.SetCell(column, row, QString()); });
  grid_->Model()->Refresh();
}

void TBackgroundResultGrid::ExportToFile(bool allRows, int code, const QString& fileName, const QString& delimiter) {
  grid_->ExportToFile(allRows, code, fileName, delimiter);
}
