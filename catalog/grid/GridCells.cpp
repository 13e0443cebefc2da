#include "catalog/grid/GridCells.h"

#include <QBrush>
#include <QGuiApplication>
#include <QPalette>
#include <QTimer>
#include <algorithm>

namespace {

// Where cell Col of a row's text starts, or -1 when the text ends before it.
qsizetype CellStart(const QString& text, int col) {
  qsizetype at = 0;
  for (int c = 0; c < col; ++c) {
    const qsizetype end = text.indexOf(QChar(TGridCellData::kCellEnd), at);
    if (end < 0) return -1;
    at = end + 1;
  }
  return at < text.size() ? at : -1;
}

}  // namespace

QString TGridCellData::Cell(int col, int row) const {
  if (row < 0 || col < 0 || row >= static_cast<int>(rows.size())) return {};
  const QString& text = rows[static_cast<size_t>(row)];
  const qsizetype start = CellStart(text, col);
  if (start < 0) return {};
  const qsizetype end = text.indexOf(QChar(kCellEnd), start);
  return text.mid(start, (end < 0 ? text.size() : end) - start);
}

void TGridCellData::SetCell(int col, int row, const QString& text) {
  if (row < 0 || col < 0) return;
  if (row >= static_cast<int>(rows.size())) rows.resize(static_cast<size_t>(row) + 1);
  QString& r = rows[static_cast<size_t>(row)];
  // The row's text is padded with empty cells up to Col.
  int cells = static_cast<int>(r.count(QChar(kCellEnd)));
  while (cells <= col) {
    r += QChar(kCellEnd);
    ++cells;
  }
  const qsizetype start = CellStart(r, col);
  const qsizetype end = r.indexOf(QChar(kCellEnd), start);
  QString clean = text;
  clean.replace(QChar(kCellEnd), QLatin1Char(' '));
  r.replace(start, end - start, clean);
}

void TGridCellData::SetRow(int row, QString&& joined, int count) {
  if (row < 0) return;
  if (row >= static_cast<int>(rows.size())) rows.resize(static_cast<size_t>(row) + 1);
  QString& r = rows[static_cast<size_t>(row)];
  const qsizetype rest = CellStart(r, count);
  if (rest >= 0) joined += QStringView(r).mid(rest);
  r = std::move(joined);
}

void TGridCellData::SetRowCount(int n) { rowCount = std::max(n, fixedRows + 1); }

void TGridCellData::SetColCount(int n) { colCount = std::max(n, 1); }

int TGridCellData::ColWidth(int col) const {
  if (col < 0 || col >= static_cast<int>(widths.size())) return TGridCellStore::kDefaultColWidth;
  return widths[static_cast<size_t>(col)];
}

void TGridCellData::SetColWidth(int col, int width) {
  if (col < 0) return;
  if (col >= static_cast<int>(widths.size()))
    widths.resize(static_cast<size_t>(col) + 1, TGridCellStore::kDefaultColWidth);
  widths[static_cast<size_t>(col)] = width;
}

void TGridCellData::ClearFrom(int row) {
  if (row < 0) row = 0;
  if (row < static_cast<int>(rows.size())) rows.resize(static_cast<size_t>(row));
}

TGridCellModel::TGridCellModel(TGridCellStore* store, QObject* parent)
    : QAbstractTableModel(parent), store_(store) {
  Refresh();
}

int TGridCellModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TGridCellModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : cols_; }

QVariant TGridCellModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return store_->Cell(index.column(), index.row());
  if (role == Qt::BackgroundRole && (index.row() < fixedRows_ || index.column() == 0))
    return QGuiApplication::palette().brush(QPalette::Button);
  return {};
}

QVariant TGridCellModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || section < 0) return {};
  if (orientation == Qt::Horizontal) return fixedRows_ > 0 ? store_->Cell(section, 0) : QString();
  return store_->Cell(0, section);
}

void TGridCellModel::Refresh() {
  queued_.store(false);
  sinceRefresh_.start();
  ++refreshes_;
  int rows = 0, cols = 0, fixed = 1;
  store_->Read([&](const TGridCellData& d) {
    rows = d.rowCount;
    cols = d.colCount;
    fixed = d.fixedRows;
  });
  fixedRows_ = fixed;
  if (cols > cols_) {
    beginInsertColumns({}, cols_, cols - 1);
    cols_ = cols;
    endInsertColumns();
  } else if (cols < cols_) {
    beginRemoveColumns({}, cols, cols_ - 1);
    cols_ = cols;
    endRemoveColumns();
  }
  if (rows > rows_) {
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  } else if (rows < rows_) {
    beginRemoveRows({}, rows, rows_ - 1);
    rows_ = rows;
    endRemoveRows();
  }
  if (rows_ > 0 && cols_ > 0) {
    emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1));
    emit headerDataChanged(Qt::Horizontal, 0, cols_ - 1);
    emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
  }
  emit Refreshed();
}

void TGridCellModel::RequestRefresh() {
  if (queued_.exchange(true)) return;
  // A writer asks after every row; the view takes the rows at most every kRefreshIntervalMs,
  // so the GUI thread stays free for its other events and the writer seldom meets it at
  // the lock.
  QMetaObject::invokeMethod(
      this,
      [this] {
        const qint64 since = sinceRefresh_.isValid() ? sinceRefresh_.elapsed() : kRefreshIntervalMs;
        if (since >= kRefreshIntervalMs) Refresh();
        else QTimer::singleShot(static_cast<int>(kRefreshIntervalMs - since), this, [this] { Refresh(); });
      },
      Qt::QueuedConnection);
}
