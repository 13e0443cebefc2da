// The component base: ownership bookkeeping, names, loading and removal notification.

#include "access/Classes.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : QObject(owner), owner_(owner) {
  if (owner_) {
    owner_->owned_.push_back(this);
    owner_->Notification(this, TOperation::opInsert);
  }
}

TComponent::~TComponent() {
  destroying_ = true;
  // Owned components go first, while this object can still hear their removal; QObject would
  // otherwise delete them after this destructor, when Notification is no longer safe to call.
  while (!owned_.empty()) {
    TComponent* child = owned_.back();
    delete child;  // its destructor takes itself out of owned_
  }
  const std::set<TComponent*> linked = linked_;
  linked_.clear();
  for (TComponent* other : linked) {
    other->linked_.erase(this);
    other->Notification(this, TOperation::opRemove);
  }
  if (owner_) {
    auto& siblings = owner_->owned_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    owner_->Notification(this, TOperation::opRemove);
    owner_ = nullptr;
  }
}

void TComponent::SetName(const QString& name) {
  name_ = name;
  setObjectName(name);
}

void TComponent::EndLoading() {
  loading_ = false;
  Loaded();
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  linked_.insert(other);
  other->linked_.insert(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  linked_.erase(other);
  other->linked_.erase(this);
}

void TComponent::Notification(TComponent*, TOperation) {}

TComponent* TComponent::FindComponent(const QString& name) const {
  for (TComponent* c : owned_)
    if (c->Name() == name) return c;
  return nullptr;
}
