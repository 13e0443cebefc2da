// The explorer widget: items per node, expansion and clicks passed to the model through the
// guard that keeps exceptions inside the handler.

#include "catalog/views/QxSvrExploreView.h"

#include <QApplication>
#include <QStyle>

#include "access/UiServices.h"

TQxSvrExploreView::TQxSvrExploreView(TQxSvrExplore* model, QWidget* parent) : QTreeWidget(parent), model_(model) {
  setHeaderHidden(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  model_->OnNodesChanged = [this](TQxTreeNode* node) { Rebuild(node); };
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    if (rebuilding_) return;
    TQxTreeNode* node = NodeOf(item);
    GuardedCall([&] { model_->NodeExpanding(node); });
  });
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    model_->Selected = NodeOf(item);
    GuardedCall([&] { model_->Click(); });
  });
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    model_->Selected = NodeOf(item);
    GuardedCall([&] { model_->DblClick(); });
  });
  Rebuild(nullptr);
}

TQxSvrExploreView::~TQxSvrExploreView() { model_->OnNodesChanged = nullptr; }

QIcon TQxSvrExploreView::Icon(int image) const {
  QStyle* s = style();
  switch (image) {
    case 0:
      return s->standardIcon(QStyle::SP_DriveHDIcon);
    case 12:
    case 14:
    case 15:
      return s->standardIcon(QStyle::SP_FileDialogDetailedView);
    case 13:
      return s->standardIcon(QStyle::SP_FileDialogListView);
    case -1:
      return {};
    default:
      return s->standardIcon(QStyle::SP_DirIcon);
  }
}

TQxTreeNode* TQxSvrExploreView::NodeOf(QTreeWidgetItem* item) const {
  if (!item) return nullptr;
  return static_cast<TQxTreeNode*>(item->data(0, Qt::UserRole).value<void*>());
}

QTreeWidgetItem* TQxSvrExploreView::MakeItem(const TQxTreeNode* node) {
  auto* item = new QTreeWidgetItem(QStringList{node->Text});
  item->setData(0, Qt::UserRole, QVariant::fromValue(const_cast<void*>(static_cast<const void*>(node))));
  item->setIcon(0, Icon(node->ImageIndex));
  items_.insert(node, item);
  AddChildren(item, node);
  return item;
}

void TQxSvrExploreView::AddChildren(QTreeWidgetItem* item, const TQxTreeNode* node) {
  for (int i = 0; i < node->Count(); ++i) item->addChild(MakeItem(node->Child(i)));
}

void TQxSvrExploreView::Rebuild(TQxTreeNode* node) {
  rebuilding_ = true;
  if (!node) {
    items_.clear();
    clear();
    for (const auto& top : model_->Items()) addTopLevelItem(MakeItem(top.get()));
  } else if (QTreeWidgetItem* item = ItemOf(node)) {
    // The node's old children are gone: forget their items, then show the new ones.
    const auto old = item->takeChildren();
    std::function<void(QTreeWidgetItem*)> forget = [&](QTreeWidgetItem* i) {
      // The key is only compared: the node it pointed at may already be gone.
      items_.remove(NodeOf(i));
      for (int c = 0; c < i->childCount(); ++c) forget(i->child(c));
    };
    for (QTreeWidgetItem* i : old) {
      forget(i);
      delete i;
    }
    AddChildren(item, node);
  }
  rebuilding_ = false;
}
