// The explorer's item model: indexes carry node pointers; rows are a node's children in order.

#include "catalog/views/QxSvrExploreModel.h"

#include "catalog/views/QxExplorerIcons.h"

TQxSvrExploreModel::TQxSvrExploreModel(TQxSvrExplore* explore, QObject* parent)
    : QAbstractItemModel(parent), explore_(explore) {
  explore_->Listener = this;
}

TQxSvrExploreModel::~TQxSvrExploreModel() {
  if (explore_ && explore_->Listener == this) explore_->Listener = nullptr;
}

TQxTreeNode* TQxSvrExploreModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<TQxTreeNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TQxSvrExploreModel::IndexOf(const TQxTreeNode* node) const {
  if (!node) return {};
  return createIndex(node->Index(), 0, const_cast<TQxTreeNode*>(node));
}

QModelIndex TQxSvrExploreModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (const TQxTreeNode* p = NodeOf(parent)) return row < p->Count() ? createIndex(row, 0, p->Child(row)) : QModelIndex();
  return explore_ && row < explore_->Count() ? createIndex(row, 0, explore_->Item(row)) : QModelIndex();
}

QModelIndex TQxSvrExploreModel::parent(const QModelIndex& child) const {
  const TQxTreeNode* node = NodeOf(child);
  return node ? IndexOf(node->Parent()) : QModelIndex();
}

int TQxSvrExploreModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  if (const TQxTreeNode* p = NodeOf(parent)) return p->Count();
  return explore_ ? explore_->Count() : 0;
}

int TQxSvrExploreModel::columnCount(const QModelIndex&) const { return 1; }

bool TQxSvrExploreModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant TQxSvrExploreModel::data(const QModelIndex& index, int role) const {
  const TQxTreeNode* node = NodeOf(index);
  if (!node) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return node->Text;
    case Qt::DecorationRole:
      return ExplorerIcon(node->ImageIndex);
    default:
      return {};
  }
}

Qt::ItemFlags TQxSvrExploreModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TQxSvrExploreModel::ChildrenAboutToBeRemoved(TQxTreeNode* node, int first, int last) {
  beginRemoveRows(IndexOf(node), first, last);
}

void TQxSvrExploreModel::ChildrenAboutToBeInserted(TQxTreeNode* node, int first, int last) {
  beginInsertRows(IndexOf(node), first, last);
}
