#pragma once
// TThread: one OS thread running Execute once, with cooperative suspension, priorities and thread
// names.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/thread/main_thread_queue.h"

namespace brixa {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread;
using TThreadNotifyEvent = std::function<void(TThread* Sender)>;

// The language runtime's thread: one OS thread running Execute once.
//
// Life: created (suspended or waiting for AfterConstruction) -> running -> finished (Execute
// returned or raised; Finished() is true) -> ended (OnTerminate has run on the main thread and
// the thread function returned; AwaitThreadEnd returns). A thread is started at most once.
//
// Starting. A base constructor cannot start a thread that calls a virtual of the class being
// built, so the OS thread is created by the first Resume(). A thread made with
// CreateSuspended = false starts in AfterConstruction(), which MakeThread calls once the object
// is complete; a creator that uses `new`/make_unique itself must call it.
//
// Suspension. An OS thread cannot be stopped safely at an arbitrary instruction on POSIX, so
// suspension here is cooperative: Suspend() from another thread only records the request, and
// the thread parks at its own next check point (CheckSuspended); Suspend() called by the thread
// itself parks it at once. Resume() wakes it.
//
// Destruction waits for the thread function to end (terminating and waking it first). Every
// class that overrides Execute, or a virtual that Execute calls, must call StopForDestruction()
// first thing in its own destructor, so the thread never runs while its members are destroyed.
// A thread with FreeOnTerminate deletes itself when its function ends; it owns itself, so the
// creator releases it from its unique_ptr once it has started.
class TThread {
 public:
  explicit TThread(bool CreateSuspended);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a thread made with CreateSuspended = false. Called once, after construction.
  void AfterConstruction();

  // Starts the thread if it never ran, else ends a suspension. Raises EThread when the OS
  // refuses to create the thread. No effect on a running or finished thread.
  void Resume();
  // See "Suspension" above. A thread that never ran stays unstarted until Resume().
  void Suspend();
  // Sets the terminated flag that Execute is expected to poll.
  void Terminate() noexcept { terminated_.store(true); }

  // Blocks until the thread function has ended and returns ReturnValue(). On the main thread it
  // serves queued main-thread calls meanwhile (the thread may need one for OnTerminate). Returns
  // at once for a thread that never started. Raises EThread when called by the thread itself.
  int AwaitThreadEnd();

  [[nodiscard]] bool Terminated() const noexcept { return terminated_.load(); }
  [[nodiscard]] bool Suspended() const;
  // True once Execute has returned (or raised).
  [[nodiscard]] bool Finished() const noexcept { return finished_.load(); }
  [[nodiscard]] bool FreeOnTerminate() const noexcept { return freeOnTerminate_.load(); }
  void SetFreeOnTerminate(bool value) noexcept { freeOnTerminate_.store(value); }
  [[nodiscard]] int ReturnValue() const noexcept { return returnValue_.load(); }
  // The OS thread id (0 until the thread has started running).
  [[nodiscard]] std::uint64_t ThreadID() const noexcept { return osThreadId_.load(); }
  // What escaped Execute, if anything; the thread function never lets it reach the OS.
  [[nodiscard]] std::exception_ptr FatalException() const;

  // Windows: read back from the OS while the thread runs. Linux: the value last set; applying
  // it is a best effort (see thread_unix.cpp), since raising a priority needs privileges there.
  [[nodiscard]] TThreadPriority Priority() const;
  void SetPriority(TThreadPriority value);

  // OnTerminate runs on the main thread after Execute has returned, and the thread function
  // waits for it. It is set through these accessors (not a plain member) because a running
  // thread reads it when it finishes while the main thread may be changing it.
  void SetOnTerminate(TThreadNotifyEvent handler);
  [[nodiscard]] bool OnTerminateAssigned() const;

  // Runs `method` on the main thread and waits for it; see brixa::RunOnMainThread.
  static void RunOnMainThread(const TThreadMethod& method) { brixa::RunOnMainThread(method); }

 protected:
  virtual void Execute() = 0;

  void SetReturnValue(int value) noexcept { returnValue_.store(value); }
  // Records a suspension request without parking; the thread parks at its next check point.
  void RequestSuspension();
  // The park point: on the thread itself, blocks while a suspension is requested.
  void CheckSuspended();
  [[nodiscard]] bool IsCurrentThread() const noexcept;
  // Terminates, wakes and waits for the thread function (detaches when called by the thread
  // itself, as a self-freeing thread does). Safe to call more than once.
  void StopForDestruction();

 private:
  static void ThreadEntry(TThread* self);
  void ThreadProc();
  void RunOnTerminate();
  void MarkEnded();
  void JoinOnce();
  [[nodiscard]] bool Ended() const;

  mutable std::mutex mutex_;  // guards the fields below it and the priority calls
  std::condition_variable changed_;
  bool started_ = false;
  bool suspended_;
  bool ended_ = false;
  TThreadPriority priority_ = tpNormal;
  std::exception_ptr fatal_;
  TThreadNotifyEvent onTerminate_;
  mutable std::thread thread_;  // mutable: the native handle is read for Priority()

  const bool createSuspended_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> freeOnTerminate_{false};
  std::atomic<int> returnValue_{0};
  std::atomic<std::uint64_t> osThreadId_{0};
  std::atomic<std::thread::id> runningId_{};
};

// Makes a thread and starts it when it was made with CreateSuspended = false.
template <class T, class... Args>
[[nodiscard]] std::unique_ptr<T> MakeThread(Args&&... args) {
  auto thread = std::make_unique<T>(std::forward<Args>(args)...);
  thread->AfterConstruction();
  return thread;
}

// Announces `name` as the calling thread's name to the platform's debugger facilities.
// Windows: SetThreadDescription where present, and the debugger thread-name exception
// (0x406D1388), ignored when no debugger takes it. Linux: the thread's name (cut to 15 bytes);
// the main thread keeps its name there, because it is the name of the process in ps and top.
void AnnounceThreadName(const std::string& name);

namespace detail {
// Platform part of TThread. `osThreadId` is what CurrentThreadId() returned on the thread.
void ApplyThreadPriority(std::thread& thread, std::uint64_t osThreadId, TThreadPriority priority);
// The priority the OS reports, or `requested` where it cannot tell.
[[nodiscard]] TThreadPriority ReadThreadPriority(std::thread& thread, std::uint64_t osThreadId,
                                                 TThreadPriority requested);
}  // namespace detail

}  // namespace brixa
