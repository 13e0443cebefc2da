// A Qt item model over the explorer's nodes: each index points at a TQxTreeNode, so a view
// asks only for the rows it shows and no per-node item exists. It follows every change of the
// nodes row by row through the explorer's listener.
#pragma once

#include <QAbstractItemModel>

#include "catalog/views/QxSvrExplore.h"

// The item model of one explorer.
class TQxSvrExploreModel : public QAbstractItemModel, private TQxTreeListener {
 public:
  // Follows Explore; an explorer destroyed first leaves the model empty.
  explicit TQxSvrExploreModel(TQxSvrExplore* explore, QObject* parent = nullptr);
  ~TQxSvrExploreModel() override;

  // The node of Index (null for the invalid index) and the index of Node.
  TQxTreeNode* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOf(const TQxTreeNode* node) const;
  TQxSvrExplore* Explore() const { return explore_; }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  // The node's text, its shared icon and, as tool tip, its text.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void TreeAboutToReset() override { beginResetModel(); }
  void TreeReset() override { endResetModel(); }
  void ChildrenAboutToBeRemoved(TQxTreeNode* node, int first, int last) override;
  void ChildrenRemoved() override { endRemoveRows(); }
  void ChildrenAboutToBeInserted(TQxTreeNode* node, int first, int last) override;
  void ChildrenInserted() override { endInsertRows(); }
  void ExplorerDestroyed() override { explore_ = nullptr; }

  TQxSvrExplore* explore_;
};
