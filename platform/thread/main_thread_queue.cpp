// The process-wide call queue; an exception of a call travels back to the thread that queued it.

#include "platform/thread/main_thread_queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "platform/core/exception.h"
#include "platform/thread/clock.h"

namespace brixa {

namespace {

// One queued call; lives on the stack of the thread that waits for it.
struct PendingCall {
  const TThreadMethod* method = nullptr;
  std::exception_ptr error;
  bool done = false;
};

struct CallQueue {
  std::mutex mutex;
  std::condition_variable workArrived;  // the main thread waits here
  std::condition_variable callDone;     // queueing threads wait here
  std::deque<PendingCall*> calls;
  bool wakePending = false;
  std::function<void()> wakeHook;
};

// Never destroyed: worker threads may still queue or wake while static objects are torn down
// at process exit.
CallQueue& Queue() {
  union Storage {
    CallQueue queue;
    Storage() : queue() {}
    ~Storage() {}
  };
  static Storage storage;
  return storage.queue;
}

// Marks the queue as woken and returns the hook to call once the lock is released.
std::function<void()> MarkWokenLocked(CallQueue& q) {
  q.wakePending = true;
  return q.wakeHook;
}

void NotifyMainThread(CallQueue& q, const std::function<void()>& hook) {
  q.workArrived.notify_all();
  if (hook) hook();
}

PendingCall* PopCall(CallQueue& q) {
  std::lock_guard lock(q.mutex);
  if (q.calls.empty()) return nullptr;
  PendingCall* call = q.calls.front();
  q.calls.pop_front();
  return call;
}

}  // namespace

void RunOnMainThread(const TThreadMethod& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  CallQueue& q = Queue();
  PendingCall call;
  call.method = &method;
  std::function<void()> hook;
  {
    std::lock_guard lock(q.mutex);
    q.calls.push_back(&call);
    hook = MarkWokenLocked(q);
  }
  NotifyMainThread(q, hook);
  {
    std::unique_lock lock(q.mutex);
    q.callDone.wait(lock, [&] { return call.done; });
  }
  if (call.error) std::rethrow_exception(call.error);
}

int ProcessMainThreadCalls() {
  Require(IsMainThread(), "ProcessMainThreadCalls runs on the main thread");
  CallQueue& q = Queue();
  int ran = 0;
  while (PendingCall* call = PopCall(q)) {
    try {
      (*call->method)();
    } catch (...) {
      call->error = std::current_exception();
    }
    {
      std::lock_guard lock(q.mutex);
      call->done = true;
    }
    q.callDone.notify_all();
    ++ran;
  }
  return ran;
}

bool WaitForMainThreadWork(std::chrono::milliseconds timeout) {
  CallQueue& q = Queue();
  std::unique_lock lock(q.mutex);
  const bool woken =
      q.workArrived.wait_for(lock, timeout, [&] { return q.wakePending || !q.calls.empty(); });
  q.wakePending = false;
  return woken;
}

bool ServeMainThreadCallsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout == kServeForever;
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  const auto slice = std::chrono::milliseconds(kMainThreadPollMs);
  for (;;) {
    ProcessMainThreadCalls();
    if (done()) return true;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return false;
    const auto left = forever ? slice
                              : std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - now + std::chrono::milliseconds(1));
    WaitForMainThreadWork(std::min(left, slice));
  }
}

void WakeMainThread() {
  CallQueue& q = Queue();
  std::function<void()> hook;
  {
    std::lock_guard lock(q.mutex);
    hook = MarkWokenLocked(q);
  }
  NotifyMainThread(q, hook);
}

void SetMainThreadWakeHook(std::function<void()> hook) {
  CallQueue& q = Queue();
  std::lock_guard lock(q.mutex);
  q.wakeHook = std::move(hook);
}

}  // namespace brixa
