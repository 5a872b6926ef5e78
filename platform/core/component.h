#pragma once
// TPersistent and TComponent: the ownership tree every component lives in, with free
// notifications for borrowed pointers.

#include <string>
#include <vector>

namespace brixa {

// Base of everything that can be assigned from another object of its kind.
class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;
};

enum class TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
  csLoading = 1u << 0,
  csDesigning = 1u << 1,
  csDestroying = 1u << 2,
};

// An object with an owner. The owner deletes its owned components in its destructor (newest
// first); a component deleted earlier removes itself from its owner. Components that keep a
// borrowed pointer to another call FreeNotification on it and clear the pointer in Notification.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;

  [[nodiscard]] TComponent* Owner() const noexcept { return owner_; }
  [[nodiscard]] const std::string& Name() const noexcept { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  [[nodiscard]] int ComponentCount() const noexcept { return static_cast<int>(owned_.size()); }
  [[nodiscard]] TComponent* Components(int index) const { return owned_.at(index); }

  [[nodiscard]] unsigned ComponentState() const noexcept { return state_; }
  [[nodiscard]] bool IsLoading() const noexcept { return (state_ & csLoading) != 0; }
  [[nodiscard]] bool IsDesignTime() const noexcept { return (state_ & csDesigning) != 0; }
  [[nodiscard]] bool IsDestroying() const noexcept { return (state_ & csDestroying) != 0; }
  // Marks the component as having its properties assigned in bulk (csLoading) until
  // FinishLoading runs: setters that would act at once only store their values meanwhile.
  void BeginLoading() noexcept { state_ |= csLoading; }
  void SetDesigning(bool value) noexcept;
  // Ends loading and lets the component act on the values it was given.
  void FinishLoading();

  // Asks to be told (Notification with opRemove) when `other` is destroyed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 protected:
  // Called when a component this one watches is being destroyed, or when an owned one is added.
  virtual void Notification(TComponent* component, TOperation operation);
  virtual void Loaded() {}

 private:
  void InsertOwned(TComponent* child);
  void RemoveOwned(TComponent* child);
  void AddWatcher(TComponent* watcher);
  void RemoveWatcher(TComponent* watcher);

  TComponent* owner_ = nullptr;
  std::string name_;
  unsigned state_ = 0;
  std::vector<TComponent*> owned_;     // deleted by this component
  std::vector<TComponent*> watchers_;  // told when this component dies
  std::vector<TComponent*> watched_;   // this component is among their watchers
};

}  // namespace brixa
