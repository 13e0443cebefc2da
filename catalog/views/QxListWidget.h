// The thin widget every report-style list model is shown in: a QTreeWidget without a tree that
// mirrors a TQxListContents (columns, widths, items) whenever the contents announce a change,
// and reports clicks and resizes back to its owner.
#pragma once

#include <QTreeWidget>
#include <functional>

#include "catalog/views/QxListContents.h"

// Shows one list contents.
class TQxListWidget : public QTreeWidget {
 public:
  // Shows Contents (which must outlive the widget or be detached with SetContents(nullptr)).
  explicit TQxListWidget(TQxListContents* contents = nullptr, QWidget* parent = nullptr);
  ~TQxListWidget() override;

  // Shows another contents (null shows nothing).
  void SetContents(TQxListContents* contents);
  // Rebuilds the widget from the contents.
  void Rebuild();
  // Draws lines between the cells.
  void SetGridLines(bool on);
  bool GridLines() const { return gridLines_; }
  // Highlights the row under the mouse.
  void SetHotTrack(bool on);

  // Fired after a row was clicked (the contents' Selected already set).
  std::function<void()> OnRowClick;
  // Fired with the new width after a resize.
  std::function<void(int width)> OnResized;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  TQxListContents* contents_ = nullptr;
  bool gridLines_ = false;
};
