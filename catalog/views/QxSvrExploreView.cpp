// The explorer widget: the model's expansion and clicks passed to the explorer through the
// guard that keeps exceptions inside the handler, and the hot-tracking underline.

#include "catalog/views/QxSvrExploreView.h"

#include <QHeaderView>
#include <QStyledItemDelegate>

#include "access/UiServices.h"

namespace {

// Underlines the row under the mouse in the link colour, as a hot-tracking tree does.
class THotTrackDelegate : public QStyledItemDelegate {
 public:
  THotTrackDelegate(const TQxSvrExploreModel* model, QObject* parent) : QStyledItemDelegate(parent), model_(model) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const TQxSvrExplore* explore = model_->Explore();
    if (explore && explore->HotTrack && (option->state & QStyle::State_MouseOver) && !(option->state & QStyle::State_Selected)) {
      option->font.setUnderline(true);
      option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Link));
    }
  }

 private:
  const TQxSvrExploreModel* model_;
};

}  // namespace

TQxSvrExploreView::TQxSvrExploreView(TQxSvrExplore* explore, QWidget* parent)
    : QTreeView(parent), model_(new TQxSvrExploreModel(explore, this)) {
  setModel(model_);
  setHeaderHidden(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Every row is one line: the view lays out thousands of rows without measuring each.
  setUniformRowHeights(true);
  // The column is as wide as its widest shown name, so a long name scrolls instead of being cut.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setItemDelegate(new THotTrackDelegate(model_, this));
  setMouseTracking(explore->HotTrack);
  viewport()->setAttribute(Qt::WA_Hover, explore->HotTrack);
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    TQxTreeNode* node = NodeAt(index);
    if (TQxSvrExplore* explore = model_->Explore()) GuardedCall([&] { explore->NodeExpanding(node); });
    // The expanding node is the explorer's selected node: the view shows it selected too.
    if (const QModelIndex shown = IndexOf(node); shown.isValid())
      selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect);
  });
  connect(this, &QTreeView::clicked, this, [this](const QModelIndex& index) {
    if (TQxSvrExplore* explore = model_->Explore()) {
      explore->Selected = NodeAt(index);
      GuardedCall([&] { explore->Click(); });
    }
  });
  connect(this, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
    if (TQxSvrExplore* explore = model_->Explore()) {
      explore->Selected = NodeAt(index);
      GuardedCall([&] { explore->DblClick(); });
    }
  });
}

TQxSvrExploreView::~TQxSvrExploreView() {
  // The model goes with the view; the explorer forgets it first.
  setModel(nullptr);
}

void TQxSvrExploreView::ExpandNode(const TQxTreeNode* node) {
  if (const QModelIndex index = IndexOf(node); index.isValid()) expand(index);
}

void TQxSvrExploreView::SetCurrentNode(const TQxTreeNode* node) {
  if (const QModelIndex index = IndexOf(node); index.isValid()) {
    setCurrentIndex(index);
    scrollTo(index);
  }
}

QString TQxSvrExploreView::TextOf(const TQxTreeNode* node) const {
  return model_->data(IndexOf(node), Qt::DisplayRole).toString();
}
