// The rows and columns a report-style list shows, as plain data: columns with caption and
// width, items with a caption and sub-items, an update counter and one change notification.
// The list view, the process view and both pages fill one of these; QxListWidget shows it.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// One column of a list.
struct TQxListColumn {
  QString Caption;
  int Width = 50;  // the class library's default width of a new column
};

// One row of a list: the first column's text and the texts of the following columns.
struct TQxListItem {
  QString Caption;
  QStringList SubItems;
  int ImageIndex = -1;
};

// The contents of one report-style list.
class TQxListContents {
 public:
  // The width a new column gets when none is given.
  static constexpr int kDefaultColumnWidth = 50;

  const std::vector<TQxListColumn>& Columns() const { return columns_; }
  const std::vector<TQxListItem>& Items() const { return items_; }
  std::vector<TQxListColumn>& Columns() { return columns_; }
  std::vector<TQxListItem>& Items() { return items_; }
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  int ItemCount() const { return static_cast<int>(items_.size()); }

  // Appends a column; returns its index.
  int AddColumn(const QString& caption, int width = kDefaultColumnWidth);
  // Appends an item with Caption; returns it.
  TQxListItem& AddItem(const QString& caption);
  // Removes every item (the selection with them).
  void ClearItems();
  // Removes every column.
  void ClearColumns();
  // The caption (Column 0) or sub-item (Column >= 1) of item Row; empty when absent.
  QString Cell(int row, int column) const;
  // The items as "caption|sub1|sub2" texts, for logs and tests.
  QStringList RowTexts() const;
  // The column captions in order.
  QStringList ColumnCaptions() const;
  // The column widths in order.
  std::vector<int> ColumnWidths() const;

  // The selected item's index, or -1.
  int Selected = -1;

  // Changes between BeginUpdate and EndUpdate are announced once, at the outermost EndUpdate;
  // a change outside an update is announced at once (Changed).
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  // Announces a change unless an update is open.
  void Changed();
  // True while an update is open.
  bool Updating() const { return updateCount_ > 0; }
  // Told of every announced change (the widget rebuilds from the contents).
  std::function<void()> OnChanged;

 private:
  std::vector<TQxListColumn> columns_;
  std::vector<TQxListItem> items_;
  int updateCount_ = 0;
  bool dirty_ = false;
};

// Opens an update of Contents for its lifetime; the update ends also when the work raises.
class TQxListUpdate {
 public:
  explicit TQxListUpdate(TQxListContents& contents) : contents_(contents) { contents_.BeginUpdate(); }
  ~TQxListUpdate() { contents_.EndUpdate(); }
  TQxListUpdate(const TQxListUpdate&) = delete;
  TQxListUpdate& operator=(const TQxListUpdate&) = delete;

 private:
  TQxListContents& contents_;
};
