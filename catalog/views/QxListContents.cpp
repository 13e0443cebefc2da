// The plain list contents.

#include "catalog/views/QxListContents.h"

int TQxListContents::AddColumn(const QString& caption, int width) {
  columns_.push_back({caption, width});
  Changed();
  return ColumnCount() - 1;
}

TQxListItem& TQxListContents::AddItem(const QString& caption) {
  items_.push_back({caption, {}, -1});
  Changed();
  return items_.back();
}

void TQxListContents::ClearItems() {
  items_.clear();
  Selected = -1;
  Changed();
}

void TQxListContents::ClearColumns() {
  columns_.clear();
  Changed();
}

QString TQxListContents::Cell(int row, int column) const {
  if (row < 0 || row >= ItemCount() || column < 0) return {};
  const TQxListItem& item = items_[static_cast<size_t>(row)];
  if (column == 0) return item.Caption;
  return column - 1 < item.SubItems.size() ? item.SubItems[column - 1] : QString();
}

QStringList TQxListContents::RowTexts() const {
  QStringList rows;
  for (const TQxListItem& item : items_) rows << (QStringList{item.Caption} + item.SubItems).join(QLatin1Char('|'));
  return rows;
}

QStringList TQxListContents::ColumnCaptions() const {
  QStringList captions;
  for (const TQxListColumn& c : columns_) captions << c.Caption;
  return captions;
}

std::vector<int> TQxListContents::ColumnWidths() const {
  std::vector<int> widths;
  for (const TQxListColumn& c : columns_) widths.push_back(c.Width);
  return widths;
}

void TQxListContents::EndUpdate() {
  if (updateCount_ > 0) --updateCount_;
  if (updateCount_ == 0 && dirty_) {
    dirty_ = false;
    if (OnChanged) OnChanged();
  }
}

void TQxListContents::Changed() {
  if (updateCount_ > 0) {
    dirty_ = true;
    return;
  }
  dirty_ = false;
  if (OnChanged) OnChanged();
}
