// What the main window drives besides its two connections: the explorer tree, the catalogue
// pages (properties, summary, definition text), the Data page's table and the SQL page's
// result grid. Each is an interface so the window's model does not depend on how a piece
// is built; ServerComponents.h holds the ones over the real components.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// The explorer tree's decoded selection.
struct TExplorerSelection {
  QString SelectedDb;
  QString SelectedObject;
  int SelectedKind = 0;  // TQxObjectKind
  bool SingleObject = false;
  // The text of the node above the selected one (the table of an index or column folder).
  QString ParentText;
};

// The explorer tree.
class TExplorerComponent {
 public:
  virtual ~TExplorerComponent() = default;
  // Loads every database of the server.
  virtual void LoadServer() = 0;
  // Removes every node.
  virtual void Clear() = 0;
  // The selected node.
  virtual TExplorerSelection Selection() const = 0;
};

// The property page, the summary page and the definition texts.
class TCatalogPages {
 public:
  virtual ~TCatalogPages() = default;
  // Empties both pages.
  virtual void ClearPages() = 0;
  // Fills the property page for an object of SelectDb.
  virtual void ShowProperties(const QString& selectDb, int kind, const QString& name) = 0;
  // Fills the summary page for a folder of SelectDb.
  virtual void ShowSummary(const QString& selectDb, int kind, const QString& name) = 0;
  // The summary page's selected row (its columns), empty when none.
  virtual QStringList SummaryRow() const = 0;
  // The selected row's object as the property page takes it (with its owner where two owners
  // share its name); empty where the pages cannot tell, and the row's texts are used.
  virtual QString SummaryMember() const { return {}; }
  // Definition texts read from SelectDb's catalogue (empty when there is none).
  virtual QString IndexDDL(const QString& selectDb, const QString& index, const QString& table) = 0;
  virtual QString ObjectText(const QString& selectDb, const QString& name) = 0;
  virtual QString TableDDL(const QString& selectDb, const QString& name) = 0;
  virtual QString UserTypeDDL(const QString& selectDb, const QString& name) = 0;
  virtual QString UserDDL(const QString& selectDb, const QString& name) = 0;
};

// The Data page's table dataset.
class TDataTableComponent {
 public:
  virtual ~TDataTableComponent() = default;
  virtual bool Active() const = 0;
  virtual void Close() = 0;
  // Opens Name of the connection's current database.
  virtual void Open(const QString& name) = 0;
  virtual void Refresh() = 0;
  virtual QString TableName() const = 0;
  // Posts the open edit or new row of an open table (nothing else to do without one); raises
  // when it is refused, the row and its values kept in the table.
  virtual void CheckBrowseMode() {}
};

// The SQL page's result grid.
class TResultGridComponent {
 public:
  virtual ~TResultGridComponent() = default;
  virtual void SetSQL(const QString& text) = 0;
  virtual QString SQL() const = 0;
  // Starts a run (returns at once when it runs in the background).
  virtual void Execute() = 0;
  // True while a run is in progress.
  virtual bool Active() const = 0;
  // Asks a running run to stop (returns at once).
  virtual void Stop() = 0;
  // Stops a running run and waits until its worker has ended.
  virtual void StopAndWait() = 0;
  // The cells (row 0 is the header row), and the columns' pixel widths and font size.
  virtual std::vector<QStringList> Cells() const = 0;
  virtual std::vector<int> ColumnWidths() const = 0;
  virtual int FontPointSize() const = 0;
  virtual bool KeepHeader() const { return true; }
  // Empties a cell (Cut).
  virtual void ClearCell(int row, int column) = 0;
  // Writes the rows to FileName in export format Code (0 fixed, 1 tab, 2 comma, 5 delimiter, 6 HTML).
  virtual void ExportToFile(bool allRows, int code, const QString& fileName, const QString& delimiter) = 0;

  // Fired at the end of each run (on the worker for a background run).
  std::function<void()> AfterExec;
  // Fired on the main thread when the run has ended, with its error and message texts.
  std::function<void(const QString& error, const QString& message)> OnThreadTerminate;
};
