// Owner and watcher bookkeeping: owned components die with their owner, newest first, and
// watchers hear of every removal.

#include "platform/core/component.h"

#include <algorithm>

namespace brixa {

namespace {

void EraseOne(std::vector<TComponent*>& list, TComponent* item) {
  const auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

bool Contains(const std::vector<TComponent*>& list, const TComponent* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->InsertOwned(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  // Tell everybody who keeps a pointer to us; they may unsubscribe while being told.
  while (!watchers_.empty()) {
    TComponent* watcher = watchers_.back();
    watchers_.pop_back();
    EraseOne(watcher->watched_, this);
    watcher->Notification(this, TOperation::opRemove);
  }
  for (TComponent* other : watched_) EraseOne(other->watchers_, this);
  watched_.clear();
  while (!owned_.empty()) {
    TComponent* child = owned_.back();
    delete child;  // the child's destructor removes it from owned_
  }
  if (owner_ != nullptr) owner_->RemoveOwned(this);
}

void TComponent::SetDesigning(bool value) noexcept {
  if (value) {
    state_ |= csDesigning;
  } else {
    state_ &= ~static_cast<unsigned>(csDesigning);
  }
}

void TComponent::FinishLoading() {
  state_ &= ~static_cast<unsigned>(csLoading);
  Loaded();
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  other->AddWatcher(this);
  if (!Contains(watched_, other)) watched_.push_back(other);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr) return;
  other->RemoveWatcher(this);
  EraseOne(watched_, other);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component != nullptr) EraseOne(owned_, component);
}

void TComponent::InsertOwned(TComponent* child) {
  owned_.push_back(child);
  Notification(child, TOperation::opInsert);
}

void TComponent::RemoveOwned(TComponent* child) {
  EraseOne(owned_, child);
  child->owner_ = nullptr;
}

void TComponent::AddWatcher(TComponent* watcher) {
  if (!Contains(watchers_, watcher)) watchers_.push_back(watcher);
}

void TComponent::RemoveWatcher(TComponent* watcher) {
  EraseOne(watchers_, watcher);
}

}  // namespace brixa
