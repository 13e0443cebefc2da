// The nodes of the explorer tree as plain data: text, image, parent and owned children, with
// the level and position the tree's decoding works from, and the owner and name of an object
// node listed as owner.name.
#pragma once

#include <QString>
#include <memory>
#include <vector>

// One node of a tree.
class TQxTreeNode {
 public:
  using Children = std::vector<std::unique_ptr<TQxTreeNode>>;

  TQxTreeNode(TQxTreeNode* parent, const QString& text, int image)
      : Text(text), ImageIndex(image), SelectedIndex(image), parent_(parent) {}

  QString Text;
  int ImageIndex = -1;
  int SelectedIndex = -1;
  // For an object listed as owner.name (tables, views, procedures ...): its owner and its own
  // name, which may hold dots of its own. Empty for other nodes.
  QString Owner;
  QString Name;
  // True when another owner's object of the database has that name too: the object is then
  // named with its owner wherever a plain name would pick another owner's.
  bool SharedName = false;

  TQxTreeNode* Parent() const { return parent_; }
  // 0 for a top-level node.
  int Level() const;
  // The position among the parent's children (or among the top-level nodes).
  int Index() const { return index_; }
  // The level-0 ancestor (the node itself at level 0).
  const TQxTreeNode* Root() const;
  int Count() const { return static_cast<int>(children_.size()); }
  TQxTreeNode* Child(int i) const { return children_[static_cast<size_t>(i)].get(); }
  // Appends a child; returns it.
  TQxTreeNode* AddChild(const QString& text, int image);
  // Appends a child with empty text (an unexpanded node's placeholder).
  void AddPlaceholder() { AddChild(QString(), -1); }
  // True when the only child is the empty-text placeholder.
  bool HoldsOnlyPlaceholder() const { return Count() == 1 && Child(0)->Text.isEmpty(); }
  // Removes every child.
  void DeleteChildren() { children_.clear(); }
  // Appends Nodes (made with MakeChild of this node) as children, in order.
  void Adopt(Children&& nodes);

  // A node that will be a child of Parent, not yet attached (Adopt attaches it).
  static std::unique_ptr<TQxTreeNode> MakeChild(TQxTreeNode* parent, const QString& text, int image);
  // The top-level list (a node without a parent lives in one of these).
  static TQxTreeNode* AddTop(Children& top, const QString& text, int image);

 private:
  TQxTreeNode* parent_ = nullptr;
  int index_ = 0;
  Children children_;
};
