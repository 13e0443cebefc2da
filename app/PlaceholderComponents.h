// Stand-ins for the pieces of the main window that this build does not have yet: an explorer
// that lists the server's databases only, catalogue pages that show nothing, and a result grid
// that runs each batch in the foreground through the command engine.
#pragma once

#include <QDateTime>
#include <memory>

#include "app/MainComponents.h"

class TQorixDatabase;
class TQorixEnhQuery;

// Lists the databases of master..sysdatabases; the selection is a database node.
class TDatabaseListExplorer : public TExplorerComponent {
 public:
  explicit TDatabaseListExplorer(TQorixDatabase* db) : db_(db) {}
  void LoadServer() override;
  void Clear() override { Databases.clear(); selected_ = -1; }
  TExplorerSelection Selection() const override;
  // Selects the database at Index (-1 for none).
  void Select(int index) { selected_ = index; }
  QStringList Databases;
  std::function<void()> Changed;

 private:
  TQorixDatabase* db_;
  int selected_ = -1;
};

// Catalogue pages that show nothing.
class TEmptyCatalogPages : public TCatalogPages {
 public:
  void ClearPages() override {}
  void ShowProperties(const QString&, int, const QString&) override {}
  void ShowSummary(const QString&, int, const QString&) override {}
  QStringList SummaryRow() const override { return {}; }
  QString IndexDDL(const QString&, const QString&, const QString&) override { return {}; }
  QString ObjectText(const QString&, const QString&) override { return {}; }
  QString TableDDL(const QString&, const QString&) override { return {}; }
  QString UserTypeDDL(const QString&, const QString&) override { return {}; }
  QString UserDDL(const QString&, const QString&) override { return {}; }
};

// Runs the script batch by batch ("go" on a line of its own ends a batch) on the main thread
// through a command engine on the connection, laying each result set under its header row.
class TForegroundResultGrid : public TResultGridComponent {
 public:
  explicit TForegroundResultGrid(TQorixDatabase* db);
  ~TForegroundResultGrid() override;
  void SetSQL(const QString& text) override { sql_ = text; }
  QString SQL() const override { return sql_; }
  void Execute() override;
  bool Active() const override { return false; }
  void Stop() override {}
  void StopAndWait() override {}
  std::vector<QStringList> Cells() const override { return cells_; }
  std::vector<int> ColumnWidths() const override;
  int FontPointSize() const override { return 8; }
  void ClearCell(int row, int column) override;
  void ExportToFile(bool allRows, int code, const QString& fileName, const QString& delimiter) override;
  // The batches of a script: cut at lines that hold only "go" (any letter case).
  static QStringList SplitBatches(const QString& script);
  std::function<void()> Changed;

 private:
  TQorixDatabase* db_;
  std::unique_ptr<TQorixEnhQuery> query_;
  QString sql_;
  std::vector<QStringList> cells_;
};
