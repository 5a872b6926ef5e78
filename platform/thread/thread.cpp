// TThread's start, suspension, termination and end over std::thread; priority and name go through
// the platform files.

#include "platform/thread/thread.h"

#include <system_error>

#include "platform/core/exception.h"
#include "platform/thread/clock.h"

namespace brixa {

TThread::TThread(bool CreateSuspended)
    : suspended_(CreateSuspended), createSuspended_(CreateSuspended) {}

TThread::~TThread() {
  StopForDestruction();
}

void TThread::AfterConstruction() {
  if (!createSuspended_) Resume();
}

void TThread::Resume() {
  std::lock_guard lock(mutex_);
  if (!started_) {
    try {
      // The new thread takes mutex_ first thing, so it sees thread_ assigned.
      thread_ = std::thread(&TThread::ThreadEntry, this);
    } catch (const std::system_error& e) {
      throw EThread(std::string("Thread creation error: ") + e.what());
    }
    started_ = true;
    suspended_ = false;
    return;
  }
  if (!suspended_) return;
  suspended_ = false;
  changed_.notify_all();
}

void TThread::Suspend() {
  RequestSuspension();
  if (IsCurrentThread()) CheckSuspended();
}

void TThread::RequestSuspension() {
  std::lock_guard lock(mutex_);
  suspended_ = true;
}

void TThread::CheckSuspended() {
  if (!IsCurrentThread()) return;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !suspended_; });
}

bool TThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

bool TThread::Ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

bool TThread::IsCurrentThread() const noexcept {
  return runningId_.load() == std::this_thread::get_id();
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard lock(mutex_);
  return fatal_;
}

TThreadPriority TThread::Priority() const {
  std::lock_guard lock(mutex_);
  if (!started_ || ended_) return priority_;
  return detail::ReadThreadPriority(thread_, osThreadId_.load(), priority_);
}

void TThread::SetPriority(TThreadPriority value) {
  std::lock_guard lock(mutex_);
  priority_ = value;
  // Before the thread records its OS id it applies priority_ itself (ThreadProc).
  const std::uint64_t id = osThreadId_.load();
  if (started_ && !ended_ && id != 0) detail::ApplyThreadPriority(thread_, id, value);
}

void TThread::SetOnTerminate(TThreadNotifyEvent handler) {
  std::lock_guard lock(mutex_);
  onTerminate_ = std::move(handler);
}

bool TThread::OnTerminateAssigned() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(onTerminate_);
}

int TThread::AwaitThreadEnd() {
  if (IsCurrentThread()) throw EThread("A thread cannot wait for its own end");
  {
    std::lock_guard lock(mutex_);
    if (!started_) return ReturnValue();
  }
  if (IsMainThread()) {
    ServeMainThreadCallsUntil([this] { return Ended(); }, kServeForever);
  } else {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ended_; });
  }
  JoinOnce();
  return ReturnValue();
}

void TThread::JoinOnce() {
  // The thread takes mutex_ no more once it has marked itself ended, so joining under it is
  // safe, and it keeps Priority() from reading a handle that is being joined.
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) thread_.join();
}

void TThread::StopForDestruction() {
  if (IsCurrentThread()) {
    // A self-freeing thread deletes itself from its own function, which then just returns.
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) thread_.detach();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (!started_) return;
  }
  Terminate();
  Resume();
  AwaitThreadEnd();
}

void TThread::ThreadEntry(TThread* self) {
  self->ThreadProc();
}

void TThread::ThreadProc() {
  runningId_.store(std::this_thread::get_id());
  {
    std::lock_guard lock(mutex_);
    osThreadId_.store(CurrentThreadId());
    if (priority_ != tpNormal) detail::ApplyThreadPriority(thread_, osThreadId_.load(), priority_);
  }
  try {
    Execute();
  } catch (...) {
    std::lock_guard lock(mutex_);
    fatal_ = std::current_exception();
  }
  finished_.store(true);
  WakeMainThread();  // a main thread polling Finished() notices at once
  RunOnTerminate();
  if (FreeOnTerminate()) {
    delete this;
    return;
  }
  MarkEnded();
}

void TThread::RunOnTerminate() {
  if (!OnTerminateAssigned()) return;
  try {
    // Read again on the main thread: the handler may have been changed or removed meanwhile.
    brixa::RunOnMainThread([this] {
      TThreadNotifyEvent handler;
      {
        std::lock_guard lock(mutex_);
        handler = onTerminate_;
      }
      if (handler) handler(this);
    });
  } catch (...) {
    std::lock_guard lock(mutex_);
    if (!fatal_) fatal_ = std::current_exception();
  }
}

void TThread::MarkEnded() {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  // `this` stays valid until these return: whoever frees the object joins the thread first.
  changed_.notify_all();
  WakeMainThread();
}

}  // namespace brixa
