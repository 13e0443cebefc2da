// The main window's pieces over the real components: the explorer tree (TQxSvrExplore) on the
// browsing connection, the property and summary pages (TQxPgProperties, TQxPgSummary), the
// definition texts of the catalogue service (TQorixObjInfo) and the SQL page's result grid (TQorixGrid) running its batches on a worker over db_grid.
#pragma once

#include <QStringList>
#include <memory>

#include "app/MainComponents.h"

class TQorixDatabase;
class TQorixGrid;
class TQorixObjInfo;
class TQxSvrExplore;
class TQxPgProperties;
class TQxPgSummary;
class TQxTreeNode;
class TQxTable;

// The explorer tree over db.
class TServerExplorer : public TExplorerComponent {
 public:
  explicit TServerExplorer(TQorixDatabase* db);
  ~TServerExplorer() override;
  void LoadServer() override;
  void Clear() override;
  TExplorerSelection Selection() const override;
  TQxSvrExplore& Tree() const { return *tree_; }
  // Expands the nodes along Path (texts from the database node down), selects the last one
  // and decodes the click; false when a text of Path is not found.
  bool ClickPath(const QStringList& path);
  // The node at Path (expanding on the way), or null.
  TQxTreeNode* FindPath(const QStringList& path);

 private:
  std::unique_ptr<TQxSvrExplore> tree_;
};

// The property page, the summary page and the definition texts, each reading the catalogue
// through db.
class TObjInfoPages : public TCatalogPages {
 public:
  explicit TObjInfoPages(TQorixDatabase* db);
  ~TObjInfoPages() override;
  void ClearPages() override;
  void ShowProperties(const QString& selectDb, int kind, const QString& name) override;
  void ShowSummary(const QString& selectDb, int kind, const QString& name) override;
  QStringList SummaryRow() const override;
  QString SummaryMember() const override;
  QString IndexDDL(const QString& selectDb, const QString& index, const QString& table) override;
  QString ObjectText(const QString& selectDb, const QString& name) override;
  QString TableDDL(const QString& selectDb, const QString& name) override;
  QString UserTypeDDL(const QString& selectDb, const QString& name) override;
  QString UserDDL(const QString& selectDb, const QString& name) override;
  TQorixObjInfo& Info() const { return *info_; }
  TQxPgProperties& Properties() const { return *properties_; }
  TQxPgSummary& Summary() const { return *summary_; }

 private:
  std::unique_ptr<TQorixObjInfo> info_;
  std::unique_ptr<TQxPgProperties> properties_;
  std::unique_ptr<TQxPgSummary> summary_;
};

// The Data page's table: a TQxTable on db (at most 10000 rows, 250 per cursor round trip, each
// live change in its own transaction, the WHERE comparing every logged old value).
class TServerDataTable : public TDataTableComponent {
 public:
  explicit TServerDataTable(TQorixDatabase* db);
  ~TServerDataTable() override;
  bool Active() const override;
  void Close() override;
  void Open(const QString& name) override;
  void Refresh() override;
  QString TableName() const override;
  void CheckBrowseMode() override;
  TQxTable& Table() const { return *table_; }

 private:
  std::unique_ptr<TQxTable> table_;
};

// The SQL page's grid: a background TQorixGrid on db_grid. A run counts as in progress from
// Execute until its end reached the main thread (the worker joined, OnThreadTerminate fired).
class TBackgroundResultGrid : public TResultGridComponent {
 public:
  // How long a stopped run may take to end by itself before the server is sent an attention.
  static constexpr int kAttentionDelayMs = 250;
  // The last line of a run the user stopped, in place of the grid's completion line.
  static constexpr const char* kStoppedMsg = "Execution stopped by the user";
  explicit TBackgroundResultGrid(TQorixDatabase* dbGrid);
  ~TBackgroundResultGrid() override;
  void SetSQL(const QString& text) override;
  QString SQL() const override;
  void Execute() override;
  bool Active() const override { return running_; }
  void Stop() override;
  void StopAndWait() override;
  std::vector<QStringList> Cells() const override;
  std::vector<int> ColumnWidths() const override;
  int FontPointSize() const override;
  bool KeepHeader() const override;
  void ClearCell(int row, int column) override;
  void ExportToFile(bool allRows, int code, const QString& fileName, const QString& delimiter) override;
  TQorixGrid& Grid() const { return *grid_; }

 private:
  void Ended(const QString& error, const QString& message);
  void MarkStopped();
  std::unique_ptr<TQorixGrid> grid_;
  QString sql_;
  void SendAttention(int run);
  bool running_ = false;
  bool stopSent_ = false;
  bool attentionSent_ = false;
  int runNumber_ = 0;
};
