#pragma once
// The use count that keeps the process-wide socket stack alive while components need it.

namespace brixa {

// Keeps the process-wide socket stack alive while anything that needs it exists.
//
// Every network component (on initialisation) and every input buffer (on creation) takes a use;
// the first use creates the stack instance and the last release destroys it. The runtime only
// counts: the transport layer, which knows how to build a stack, installs the hooks below when
// it is linked in. The count is changed under one process-wide lock, so components may be made
// and freed on any thread.
struct TIdStackHooks {
  void (*create)() = nullptr;   // build the instance (may raise; the use then stays counted)
  void (*destroy)() = nullptr;  // tear it down
};

// Installs the transport's hooks; called once during static initialisation of the transport.
void InstallStackHooks(const TIdStackHooks& hooks);

void AcquireStack();
void ReleaseStack();

// Current number of uses (for tests and diagnostics).
[[nodiscard]] int StackUsageCount();

}  // namespace brixa
