// TQorixGridView: the widget that shows a result grid's cells.
#pragma once

#include <QTableView>

class TQorixGrid;

// The thin view over a grid's cells, drawn as the string grid draws them: the fixed row (the
// kept header, or empty) is the view's column header and the fixed column (the line numbers)
// its row header, so both stay in place while the cells scroll. Column widths follow the
// grid's; with goColSizing a column is resized by dragging its border in the fixed row, and
// the new width is the grid's (the fixed-width export uses it). The selection is reported
// back to the grid for export.
class TQorixGridView : public QTableView {
 public:
  explicit TQorixGridView(TQorixGrid* grid, QWidget* parent = nullptr);
  TQorixGrid* Grid() const { return grid_; }
  // Applies the grid's column widths, the fixed column's width and the fixed rows.
  void ApplyWidths();
  // Applies the grid's Options and DefaultRowHeight.
  void ApplyOptions();

 private:
  TQorixGrid* grid_;
  // Set while ApplyWidths resizes columns, so only the user's resizing goes to the grid.
  bool applying_ = false;
  int hiddenFixedRows_ = 0;
};
