// The plain tree nodes.

#include "catalog/views/QxTreeNodes.h"

int TQxTreeNode::Level() const {
  int level = 0;
  for (const TQxTreeNode* p = parent_; p; p = p->parent_) ++level;
  return level;
}

const TQxTreeNode* TQxTreeNode::Root() const {
  const TQxTreeNode* n = this;
  while (n->parent_) n = n->parent_;
  return n;
}

TQxTreeNode* TQxTreeNode::AddChild(const QString& text, int image) {
  auto node = std::make_unique<TQxTreeNode>(this, text, image);
  node->index_ = Count();
  children_.push_back(std::move(node));
  return children_.back().get();
}

void TQxTreeNode::Adopt(Children&& nodes) {
  children_.reserve(children_.size() + nodes.size());
  for (auto& node : nodes) {
    node->parent_ = this;
    node->index_ = Count();
    children_.push_back(std::move(node));
  }
  nodes.clear();
}

std::unique_ptr<TQxTreeNode> TQxTreeNode::MakeChild(TQxTreeNode* parent, const QString& text, int image) {
  return std::make_unique<TQxTreeNode>(parent, text, image);
}

TQxTreeNode* TQxTreeNode::AddTop(Children& top, const QString& text, int image) {
  auto node = std::make_unique<TQxTreeNode>(nullptr, text, image);
  node->index_ = static_cast<int>(top.size());
  top.push_back(std::move(node));
  return top.back().get();
}
