// The result grid's cells: a store under a lock that the thread running a batch writes (texts,
// row and column counts, fixed rows, column widths), and the table model the view reads it
// through on the GUI thread.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <mutex>
#include <vector>

// What the store keeps; only reached through TGridCellStore's lock.
struct TGridCellData {
  // The character that ends each cell of a row's text; a cell never holds one.
  static constexpr char16_t kCellEnd = u'\0';
  // Each row's cells as one text, cell after cell from column 0, each ended by kCellEnd
  // (one allocation a row rather than one a cell); rows past the vector and cells past a
  // row's text are empty.
  std::vector<QString> rows;
  int rowCount = 2;
  int colCount = 2;
  int fixedRows = 1;
  // Pixel widths by column; columns past the vector have the default width.
  std::vector<int> widths;

  // The text of cell (Col, Row); empty outside what was written.
  QString Cell(int col, int row) const;
  // Writes cell (Col, Row), growing the rows and columns kept as needed.
  void SetCell(int col, int row, const QString& text);
  // Writes the cells of Row from column 0 on as Joined, Count cells each ended by kCellEnd;
  // cells past them keep their texts.
  void SetRow(int row, QString&& joined, int count);
  // Sets the row count, never below the fixed rows plus one row.
  void SetRowCount(int n);
  // Sets the column count, at least 1.
  void SetColCount(int n);
  int ColWidth(int col) const;
  void SetColWidth(int col, int width);
  // Empties every cell from Row on.
  void ClearFrom(int row);
};

// The cell store shared between the thread that runs a batch and the GUI thread.
class TGridCellStore {
 public:
  // The default column width of the grid (pixels).
  static constexpr int kDefaultColWidth = 64;
  // Runs F(data) under the lock and returns its result.
  template <class F>
  auto Edit(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(data_);
  }
  template <class F>
  auto Read(F&& f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(static_cast<const TGridCellData&>(data_));
  }
  QString Cell(int col, int row) const {
    return Read([&](const TGridCellData& d) { return d.Cell(col, row); });
  }
  int RowCount() const {
    return Read([](const TGridCellData& d) { return d.rowCount; });
  }
  int ColCount() const {
    return Read([](const TGridCellData& d) { return d.colCount; });
  }
  int FixedRows() const {
    return Read([](const TGridCellData& d) { return d.fixedRows; });
  }
  int ColWidth(int col) const {
    return Read([&](const TGridCellData& d) { return d.ColWidth(col); });
  }

 private:
  mutable std::mutex mutex_;
  TGridCellData data_;
};

// The table model over a cell store, in the grid's own coordinates (row 0 is the fixed row,
// column 0 the line numbers). Its row and column counts change only in Refresh, on the GUI
// thread; a writer on another thread asks for one with RequestRefresh, which queues at most
// one refresh at a time.
class TGridCellModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TGridCellModel(TGridCellStore* store, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // The fixed row's texts label the columns, the fixed column's (line numbers) the rows.
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  // Takes over the store's counts and announces every change (GUI thread).
  void Refresh();
  // Queues one Refresh on the model's thread unless one is already queued (any thread); it
  // runs at once or kRefreshIntervalMs after the previous one, whichever is later.
  void RequestRefresh();
  static constexpr qint64 kRefreshIntervalMs = 40;
  // The number of refreshes run so far.
  int RefreshCount() const { return refreshes_; }

 signals:
  // Emitted after each Refresh; the view applies the column widths.
  void Refreshed();

 private:
  TGridCellStore* store_;
  int rows_ = 0;
  int cols_ = 0;
  int fixedRows_ = 1;
  int refreshes_ = 0;
  QElapsedTimer sinceRefresh_;
  std::atomic<bool> queued_{false};
};
