// The use count and the transport's hooks, both behind one process-wide lock.

#include "runtime/stack_usage.h"

#include <mutex>

#include "platform/core/sync.h"

namespace brixa {

namespace {

struct StackUsage {
  TIdCriticalSection lock;
  TIdStackHooks hooks;
  int count = 0;
};

StackUsage& Usage() {
  static StackUsage usage;  // constructed on first use, so hooks may be installed from any TU
  return usage;
}

}  // namespace

void InstallStackHooks(const TIdStackHooks& hooks) {
  std::lock_guard guard(Usage().lock);
  Usage().hooks = hooks;
}

void AcquireStack() {
  StackUsage& usage = Usage();
  std::lock_guard guard(usage.lock);
  ++usage.count;
  if (usage.count == 1 && usage.hooks.create != nullptr) usage.hooks.create();
}

void ReleaseStack() {
  StackUsage& usage = Usage();
  std::lock_guard guard(usage.lock);
  if (usage.count <= 0) return;
  --usage.count;
  if (usage.count == 0 && usage.hooks.destroy != nullptr) usage.hooks.destroy();
}

int StackUsageCount() {
  std::lock_guard guard(Usage().lock);
  return Usage().count;
}

}  // namespace brixa
