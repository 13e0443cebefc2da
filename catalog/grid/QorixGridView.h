// TQorixGridView: the widget that shows a result grid's cells.
#pragma once

#include <QTableView>

class TQorixGrid;

// The thin view over a grid's cells: a table view whose column widths follow the grid's and
// whose selection is reported back to the grid for export.
class TQorixGridView : public QTableView {
 public:
  explicit TQorixGridView(TQorixGrid* grid, QWidget* parent = nullptr);
  TQorixGrid* Grid() const { return grid_; }
  // Applies the grid's column widths.
  void ApplyWidths();

 private:
  TQorixGrid* grid_;
};
