// Ownership and free notifications of components.

#include "platform/core/component.h"

#include <gtest/gtest.h>

#include <vector>

namespace brixa {
namespace {

// Records its own destruction and the components it was told about.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>* log, std::string tag)
      : TComponent(owner), log_(log) {
    SetName(std::move(tag));
  }
  ~Probe() override { log_->push_back("~" + Name()); }
  TComponent* watched = nullptr;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == watched) {
      log_->push_back(Name() + " lost " + component->Name());
      watched = nullptr;
    }
  }

 private:
  std::vector<std::string>* log_;
};

TEST(ComponentTest, OwnerDeletesOwnedChildrenNewestFirst) {
  std::vector<std::string> log;
  auto* root = new Probe(nullptr, &log, "root");
  new Probe(root, &log, "a");
  auto* b = new Probe(root, &log, "b");
  new Probe(b, &log, "b1");
  EXPECT_EQ(root->ComponentCount(), 2);
  delete root;
  EXPECT_EQ(log, (std::vector<std::string>{"~root", "~b", "~b1", "~a"}));
}

TEST(ComponentTest, ChildDeletedFirstLeavesItsOwner) {
  std::vector<std::string> log;
  Probe root(nullptr, &log, "root");
  auto* child = new Probe(&root, &log, "child");
  delete child;
  EXPECT_EQ(root.ComponentCount(), 0);
}

TEST(ComponentTest, FreeNotificationClearsBorrowedPointerBothWays) {
  std::vector<std::string> log;
  Probe user(nullptr, &log, "user");
  {
    Probe stream(nullptr, &log, "stream");
    user.watched = &stream;
    user.FreeNotification(&stream);
  }
  EXPECT_EQ(user.watched, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"~stream", "user lost stream"}));

  // The watcher dying first must unsubscribe, or the other would call into freed memory.
  auto* shortLived = new Probe(nullptr, &log, "short");
  Probe longLived(nullptr, &log, "long");
  shortLived->FreeNotification(&longLived);
  delete shortLived;
}

}  // namespace
}  // namespace brixa
