// The result grid's view: a table view over the grid's cell model.
#include "catalog/grid/QorixGridView.h"

#include <QHeaderView>
#include <algorithm>

#include "catalog/grid/QorixGrid.h"

TQorixGridView::TQorixGridView(TQorixGrid* grid, QWidget* parent) : QTableView(parent), grid_(grid) {
  setModel(grid->Model());
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(20);
  QFont f(QStringLiteral("Courier"));
  f.setStyleHint(QFont::TypeWriter);
  f.setPointSize(9);
  setFont(f);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(grid->Model(), &TGridCellModel::Refreshed, this, [this] { ApplyWidths(); });
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
  ApplyWidths();
}

void TQorixGridView::ApplyWidths() {
  const int n = grid_->Model()->columnCount();
  for (int c = 0; c < n; ++c) setColumnWidth(c, grid_->ColWidth(c));
}
