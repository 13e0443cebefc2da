// The list widget: a mirror of the contents, rebuilt on every announced change.

#include "catalog/views/QxListWidget.h"

#include <QHeaderView>
#include <QPainter>
#include <QResizeEvent>
#include <QStyledItemDelegate>

#include "access/UiServices.h"

namespace {

// Paints each cell as usual, then, when the list asks for grid lines, its right and bottom edge.
class TGridDelegate : public QStyledItemDelegate {
 public:
  explicit TGridDelegate(const TQxListWidget* list) : QStyledItemDelegate(const_cast<TQxListWidget*>(list)), list_(list) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (!list_->GridLines()) return;
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid));
    const QRect r = option.rect;
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
  }

 private:
  const TQxListWidget* list_;
};

}  // namespace

TQxListWidget::TQxListWidget(TQxListContents* contents, QWidget* parent) : QTreeWidget(parent) {
  setItemDelegate(new TGridDelegate(this));
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAlternatingRowColors(true);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    if (!contents_) return;
    contents_->Selected = indexOfTopLevelItem(item);
    // A failing handler (a server error, say) is reported here; it never crosses the event loop.
    if (OnRowClick) GuardedCall(OnRowClick);
  });
  SetContents(contents);
}

TQxListWidget::~TQxListWidget() {
  if (contents_) contents_->OnChanged = nullptr;
}

void TQxListWidget::SetContents(TQxListContents* contents) {
  if (contents_) contents_->OnChanged = nullptr;
  contents_ = contents;
  if (contents_) contents_->OnChanged = [this] { Rebuild(); };
  Rebuild();
}

void TQxListWidget::Rebuild() {
  clear();
  if (!contents_) {
    setColumnCount(0);
    return;
  }
  const int columns = contents_->ColumnCount();
  setColumnCount(columns);
  setHeaderLabels(contents_->ColumnCaptions());
  for (int c = 0; c < columns; ++c) setColumnWidth(c, contents_->Columns()[static_cast<size_t>(c)].Width);
  QList<QTreeWidgetItem*> items;
  for (int r = 0; r < contents_->ItemCount(); ++r) {
    QStringList texts;
    for (int c = 0; c < columns; ++c) texts << contents_->Cell(r, c);
    items << new QTreeWidgetItem(texts);
  }
  addTopLevelItems(items);
  if (contents_->Selected >= 0 && contents_->Selected < items.size()) setCurrentItem(items[contents_->Selected]);
}

void TQxListWidget::SetGridLines(bool on) {
  gridLines_ = on;
  // Lines and alternating row colours say the same twice: lines take their place.
  setAlternatingRowColors(!on);
  viewport()->update();
}

void TQxListWidget::SetHotTrack(bool on) {
  setMouseTracking(on);
  viewport()->setAttribute(Qt::WA_Hover, on);
}

void TQxListWidget::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  if (OnResized) GuardedCall([&] { OnResized(event->size().width()); });
}
