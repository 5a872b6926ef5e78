#pragma once
// TIdThread, the restartable worker thread with a fixed life cycle (prepare, run, clean up, stop
// or terminate), and the lock-guarded integer and boolean it counts with.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/component.h"
#include "platform/core/sync.h"
#include "platform/thread/thread.h"
#include "runtime/network_exception.h"

namespace brixa {

BRIXA_DECLARE_ID_EXCEPTION(EIdThreadTerminateAndWaitFor, EIdException);

inline constexpr const char* RSThreadTerminateAndWaitFor =
    "Cannot call TerminateAndWaitFor on FreeAndTerminate threads";
// The name a thread announces when it was given none.
inline constexpr const char* RSUnknownThreadName = "IdThread (unknown)";
// The name the main thread is announced under when the runtime starts.
inline constexpr const char* RSMainThreadName = "Main";

// A value guarded by its own re-entrant lock.
class TIdThreadSafe {
 public:
  TIdThreadSafe() = default;
  virtual ~TIdThreadSafe() = default;
  TIdThreadSafe(const TIdThreadSafe&) = delete;
  TIdThreadSafe& operator=(const TIdThreadSafe&) = delete;

  void LockValue() { lock_.Enter(); }
  void UnlockValue() { lock_.Leave(); }

 protected:
  mutable TIdCriticalSection lock_;
};

class TIdThreadSafeInteger : public TIdThreadSafe {
 public:
  [[nodiscard]] std::int32_t Value() const;
  void SetValue(std::int32_t value);
  // Change the value by one and return the value it had before. Raises EIntOverflow, leaving
  // the value unchanged, when the result would leave the 32-bit range.
  std::int32_t IncrementValue();
  std::int32_t DecrementValue();

 private:
  std::int32_t value_ = 0;
};

class TIdThreadSafeBoolean : public TIdThreadSafe {
 public:
  [[nodiscard]] bool Value() const;
  void SetValue(bool value);

 private:
  bool value_ = false;
};

// The number of live TIdThread objects in the process. Made when the runtime starts (which also
// announces the main thread as "Main") and never destroyed, so threads that outlive main()'s
// return can still count themselves out.
[[nodiscard]] TIdThreadSafeInteger& GThreadCount();

enum TIdThreadStopMode { smTerminate = 0, smSuspend = 1 };

// State bits of a TIdThread.
enum class TIdThreadOption : unsigned {
  Stopped = 1u << 0,         // parked: the loop must not run
  CleanupPending = 1u << 1,  // a run cycle began and CleanUpRun has not run yet
  OwnsData = 1u << 2,        // Data is freed at each clean-up
};

class TIdThread;
using TIdExceptionThreadEvent =
    std::function<void(TIdThread* AThread, const Exception& AException)>;
using TIdNotifyThreadEvent = std::function<void(TIdThread* AThread)>;

// A restartable worker thread with a fixed life cycle:
//
//   PreExecute
//   while not terminated:
//     if stopped: FireStopped, then park until StartWorker (or leave when terminated)
//     run cycle: PreRun, RunBody (repeated while not stopped when Loop is set), PostRun,
//                CleanUpRun
//   PostExecute
//
// An Exception raised by RunBody is offered to FilterRunException; unless that returns true it
// terminates the thread, passes PostRun, CleanUpRun and PostExecute, and is then stored as the
// terminating exception and handed to OnException. Exceptions of other classes (a
// std::bad_alloc, anything thrown) are not filtered but end the thread the same way: stored
// and handed to OnException as an Exception with their message (what(), or "") and their class
// name (the C++ type name, or "unknown exception"). With Loop false and no stop the next run
// cycle follows at once, so a body that should run once stops the thread itself.
//
// Threads: the life-cycle steps and OnException/OnStopped run on the worker. StartWorker,
// StopWorker, TerminateWorker, TerminateWorkerAndWait and IsStopped may be called from any
// thread; they take the thread's lock, and no other lock is held while it is held. Data and the
// attached context belong to the worker while it runs.
class TIdThread : public TThread {
 public:
  // A thread made with ACreateSuspended = false must be started with AfterConstruction (see
  // MakeThread).
  explicit TIdThread(bool ACreateSuspended = true, bool ALoop = true, std::string AName = {});
  // Stops the thread and waits for its function to end before anything is freed.
  ~TIdThread() override;

  // Starts or un-parks a stopped thread. A terminated thread is woken only to leave its loop.
  virtual void StartWorker();
  // smTerminate: terminates. smSuspend: the loop parks the thread at its next check.
  virtual void StopWorker();
  virtual void TerminateWorker();
  // Terminates, wakes and waits. Raises EIdThreadTerminateAndWaitFor on a self-freeing thread.
  virtual void TerminateWorkerAndWait();

  // True when terminated, Stopped, or suspended.
  [[nodiscard]] bool IsStopped() const;

  [[nodiscard]] bool Loop() const noexcept { return loop_.load(); }
  void SetLoop(bool value) noexcept { loop_.store(value); }
  [[nodiscard]] std::string Name() const;
  void SetName(std::string value);
  [[nodiscard]] TIdThreadStopMode StopMode() const noexcept { return stopMode_.load(); }
  void SetStopMode(TIdThreadStopMode value) noexcept { stopMode_.store(value); }
  [[nodiscard]] bool HasOption(TIdThreadOption option) const noexcept;

  // The object handed to the thread. With OwnsData it is freed at the end of each run cycle;
  // without it, it lives until the thread is destroyed.
  [[nodiscard]] TPersistent* Data() const noexcept { return data_.get(); }
  void SetData(std::unique_ptr<TPersistent> value) { data_ = std::move(value); }
  // An object freed at the end of each run cycle and with the thread.
  [[nodiscard]] TPersistent* Context() const noexcept { return context_.get(); }
  void SetContext(std::unique_ptr<TPersistent> value) { context_ = std::move(value); }

  // Message and class name of the Exception that ended the thread; empty when none did.
  [[nodiscard]] std::string TerminatingException() const;
  [[nodiscard]] std::string TerminatingExceptionClass() const;

  // Assign before the thread starts; both run on the worker thread.
  TIdExceptionThreadEvent OnException;
  TIdNotifyThreadEvent OnStopped;

 protected:
  void Execute() override { ThreadMain(); }
  // The thread function: the whole life cycle above.
  virtual void ThreadMain();
  virtual void PostRun() {}
  virtual void PostExecute() {}
  virtual void PreExecute() {}
  virtual void PreRun() {}
  virtual void CleanUpRun();
  virtual void FireException(const Exception& E);
  virtual void FireStopped();
  // True drops the exception and keeps the thread going.
  [[nodiscard]] virtual bool FilterRunException(const Exception& E);
  virtual void RunBody() = 0;

  void IncludeOption(TIdThreadOption option) noexcept;
  void ExcludeOption(TIdThreadOption option) noexcept;

 private:
  void RunLoop();
  void RunCycle();
  void RunBodyFiltered();
  // Parks a stopped thread until StartWorker; true when the loop must end instead.
  [[nodiscard]] bool ParkUntilStarted();
  void RecordTerminatingException(const Exception& E);
  // Stores `E` as the terminating exception, hands it to OnException and terminates.
  void EndWithException(const Exception& E);

  mutable TIdCriticalSection lock_;  // guards the stopped/terminated state and the texts
  std::atomic<bool> loop_;
  std::atomic<TIdThreadStopMode> stopMode_{smTerminate};
  std::atomic<unsigned> options_;
  std::string name_;
  std::string terminatingException_;
  std::string terminatingExceptionClass_;
  std::unique_ptr<TPersistent> data_;
  std::unique_ptr<TPersistent> context_;
};

}  // namespace brixa
