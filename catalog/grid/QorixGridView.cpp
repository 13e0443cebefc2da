// The result grid's view: a table view over the grid's cell model whose headers show the
// grid's fixed row and fixed column.
#include "catalog/grid/QorixGridView.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QScrollBar>
#include <algorithm>

#include "catalog/grid/QorixGrid.h"

TQorixGridView::TQorixGridView(TQorixGrid* grid, QWidget* parent) : QTableView(parent), grid_(grid) {
  setModel(grid->Model());
  QFont f(QStringLiteral("Courier"));
  f.setStyleHint(QFont::TypeWriter);
  f.setPointSize(9);
  setFont(f);
  // The font is looked up and measured now, once, rather than by the first paint in the
  // middle of a run (a pause of the GUI thread of a few hundred milliseconds).
  QFontMetrics(font()).horizontalAdvance(QStringLiteral("0123456789 abcdefghijklmnopqrstuvwxyz"));
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  for (QHeaderView* h : {horizontalHeader(), verticalHeader()}) {
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    h->setSectionsClickable(false);
    h->setHighlightSections(false);
    h->setMinimumSectionSize(1);
  }
  horizontalHeader()->setStretchLastSection(false);
  // The fixed row's and fixed column's cells are the headers' sections: the model's row 0
  // and column 0 are not shown a second time among the cells.
  setColumnHidden(0, true);
  connect(grid->Model(), &TGridCellModel::Refreshed, this, [this] { ApplyWidths(); });
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int col, int, int width) {
    if (applying_ || col <= 0) return;
    grid_->Cells().Edit([&](TGridCellData& d) { d.SetColWidth(col, width); });
  });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const QModelIndexList sel = selectionModel()->selectedIndexes();
    if (sel.isEmpty()) return;
    TQorixGrid::TSelection s{sel.first().column(), sel.first().row(), sel.first().column(), sel.first().row()};
    for (const QModelIndex& i : sel) {
      s.left = std::min(s.left, i.column());
      s.right = std::max(s.right, i.column());
      s.top = std::min(s.top, i.row());
      s.bottom = std::max(s.bottom, i.row());
    }
    grid_->Selection = s;
  });
  ApplyOptions();
  ApplyWidths();
}

void TQorixGridView::ApplyOptions() {
  const TGridOptions o = grid_->Options;
  const bool lines = o.Contains(TGridOption::goVertLine) || o.Contains(TGridOption::goHorzLine);
  setShowGrid(lines);
  horizontalHeader()->setSectionResizeMode(o.Contains(TGridOption::goColSizing) ? QHeaderView::Interactive
                                                                               : QHeaderView::Fixed);
  verticalHeader()->setSectionResizeMode(o.Contains(TGridOption::goRowSizing) ? QHeaderView::Interactive
                                                                             : QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(grid_->DefaultRowHeight);
  horizontalHeader()->setFixedHeight(grid_->DefaultRowHeight);
  setSelectionMode(o.Contains(TGridOption::goRangeSelect) ? QAbstractItemView::ContiguousSelection
                                                          : QAbstractItemView::SingleSelection);
  setSelectionBehavior(o.Contains(TGridOption::goRowSelect) ? QAbstractItemView::SelectRows
                                                            : QAbstractItemView::SelectItems);
  setTabKeyNavigation(o.Contains(TGridOption::goTabs));
  const bool tracking = o.Contains(TGridOption::goThumbTracking);
  horizontalScrollBar()->setTracking(tracking);
  verticalScrollBar()->setTracking(tracking);
}

void TQorixGridView::ApplyWidths() {
  applying_ = true;
  const int n = grid_->Model()->columnCount();
  for (int c = 1; c < n; ++c)
    if (columnWidth(c) != grid_->ColWidth(c)) setColumnWidth(c, grid_->ColWidth(c));
  if (verticalHeader()->width() != grid_->ColWidth(0)) verticalHeader()->setFixedWidth(grid_->ColWidth(0));
  const int fixed = std::min(grid_->FixedRows(), grid_->Model()->rowCount());
  for (int r = fixed; r < hiddenFixedRows_; ++r) setRowHidden(r, false);
  for (int r = 0; r < fixed; ++r) setRowHidden(r, true);
  hiddenFixedRows_ = fixed;
  applying_ = false;
}
