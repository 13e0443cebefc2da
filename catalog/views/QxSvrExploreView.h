// The explorer tree's widget: a QTreeWidget mirroring a TQxSvrExplore. An expansion runs the
// model's expansion handler, a click or double-click its decoding; each change of the model's
// nodes rebuilds the matching items.
#pragma once

#include <QHash>
#include <QTreeWidget>

#include "catalog/views/QxSvrExplore.h"

// Shows one explorer model.
class TQxSvrExploreView : public QTreeWidget {
 public:
  explicit TQxSvrExploreView(TQxSvrExplore* model, QWidget* parent = nullptr);
  ~TQxSvrExploreView() override;
  // The item showing Node, or null.
  QTreeWidgetItem* ItemOf(const TQxTreeNode* node) const { return items_.value(node); }
  // The icon of an image index of the tree.
  QIcon Icon(int image) const;

 private:
  void Rebuild(TQxTreeNode* node);
  void AddChildren(QTreeWidgetItem* item, const TQxTreeNode* node);
  QTreeWidgetItem* MakeItem(const TQxTreeNode* node);
  TQxTreeNode* NodeOf(QTreeWidgetItem* item) const;

  TQxSvrExplore* model_;
  QHash<const TQxTreeNode*, QTreeWidgetItem*> items_;
  bool rebuilding_ = false;
};
