// The explorer tree's widget: a QTreeView over a TQxSvrExploreModel, so only the rows on screen
// are ever drawn and no item exists per node. An expansion runs the explorer's expansion
// handler, a click or double-click its decoding; a name wider than the tree scrolls
// horizontally; with the explorer's HotTrack the row under the mouse is underlined.
#pragma once

#include <QTreeView>

#include "catalog/views/QxSvrExplore.h"
#include "catalog/views/QxSvrExploreModel.h"

// Shows one explorer.
class TQxSvrExploreView : public QTreeView {
 public:
  explicit TQxSvrExploreView(TQxSvrExplore* explore, QWidget* parent = nullptr);
  ~TQxSvrExploreView() override;

  TQxSvrExploreModel* Model() const { return model_; }
  // The index showing Node (invalid for null) and the node an index shows.
  QModelIndex IndexOf(const TQxTreeNode* node) const { return model_->IndexOf(node); }
  TQxTreeNode* NodeAt(const QModelIndex& index) const { return model_->NodeOf(index); }
  // Opens Node's branch (running the expansion handler the first time) and shows Node current.
  void ExpandNode(const TQxTreeNode* node);
  void SetCurrentNode(const TQxTreeNode* node);
  // The text shown for Node.
  QString TextOf(const TQxTreeNode* node) const;

 private:
  TQxSvrExploreModel* model_;
};
