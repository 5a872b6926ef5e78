#pragma once
// TIdThreadComponent: a worker thread configured by properties and events instead of a subclass,
// and TIdThreadEx, the thread that calls back into it.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "runtime/work_component.h"
#include "runtime/worker_thread.h"

namespace brixa {

class TIdThreadComponent;

using TIdNotifyThreadComponentEvent = std::function<void(TIdThreadComponent* Sender)>;
using TIdExceptionThreadComponentEvent =
    std::function<void(TIdThreadComponent* Sender, const Exception& AException)>;
using TIdExceptionThreadComponentEventEx =
    std::function<void(TIdThreadComponent* Sender, const Exception& AException, bool& VHandled)>;

inline constexpr const char* RSThreadComponentLoopAlreadyRunning =
    "Cannot set Loop property when the Thread is already running.";
inline constexpr const char* RSThreadComponentThreadNameAlreadyRunning =
    "Cannot set ThreadName when the Thread is already running.";

// The thread a TIdThreadComponent runs: every life-cycle step is a call on the component.
// It does not own its data object.
class TIdThreadEx : public TIdThread {
 public:
  explicit TIdThreadEx(TIdThreadComponent* AThreadComponent);
  ~TIdThreadEx() override;

  [[nodiscard]] TIdThreadComponent* ThreadComponent() const noexcept { return component_; }

 protected:
  // Something other than an Exception escaping an event (OnBeforeExecute, OnAfterExecute, ...)
  // still ends the thread function, but it first leaves the thread terminated and the component
  // inactive, so the component reads Active false and its next start makes a fresh thread.
  void ThreadMain() override;
  void PreExecute() override;
  void PostExecute() override;
  void PreRun() override;
  void PostRun() override;
  void CleanUpRun() override;
  [[nodiscard]] bool FilterRunException(const Exception& E) override;
  void RunBody() override;

 private:
  TIdThreadComponent* component_;
};

// A worker thread set up by properties and events, so a window can own one without deriving a
// thread class.
//
// Threads: every event except OnTerminate runs on the worker thread; OnTerminate, and whatever
// is passed to RunOnMainThread, runs on the main thread. Sender is always the component.
// Properties and events are set from the main thread; assign events while no worker runs.
// The component's destructor terminates, wakes and waits for its worker (serving main-thread
// calls meanwhile when it is destroyed on the main thread).
class TIdThreadComponent : public TIdInitializerComponent {
 public:
  explicit TIdThreadComponent(TComponent* AOwner = nullptr);
  ~TIdThreadComponent() override;

  // True when a worker exists and is not stopped (at design time: the stored value). Writing
  // starts or stops the worker.
  [[nodiscard]] bool Active() const;
  void SetActive(bool value) { ApplyActive(value); }
  // Copied to the worker at each start. Raises EIdException while the worker runs.
  [[nodiscard]] bool Loop() const noexcept { return loop_; }
  void SetLoop(bool value);
  // Read from the worker when one exists; a write also reaches an existing, not terminated one.
  [[nodiscard]] TThreadPriority Priority() const;
  void SetPriority(TThreadPriority value);
  [[nodiscard]] TIdThreadStopMode StopMode() const;
  void SetStopMode(TIdThreadStopMode value);
  // Copied to the worker at each start. Raises EIdException while the worker runs.
  [[nodiscard]] const std::string& ThreadName() const noexcept { return threadName_; }
  void SetThreadName(std::string value);

  TIdNotifyThreadComponentEvent OnAfterExecute;
  TIdNotifyThreadComponentEvent OnAfterRun;
  TIdNotifyThreadComponentEvent OnBeforeExecute;
  TIdNotifyThreadComponentEvent OnBeforeRun;
  TIdNotifyThreadComponentEvent OnCleanup;
  TIdExceptionThreadComponentEvent OnException;
  TIdExceptionThreadComponentEventEx OnHandleRunException;
  TIdNotifyThreadComponentEvent OnRun;
  TIdNotifyThreadComponentEvent OnStopped;

  // OnTerminate goes through a setter because setting it also attaches it to (or detaches it
  // from) an existing worker.
  [[nodiscard]] const TIdNotifyThreadComponentEvent& OnTerminate() const noexcept {
    return onTerminate_;
  }
  void SetOnTerminate(TIdNotifyThreadComponentEvent handler);

  virtual void FireAfterExecute();
  virtual void FireAfterRun();
  virtual void FireBeforeExecute();
  virtual void FireBeforeRun();
  virtual void FireCleanup();
  virtual void FireException(const Exception& E);
  // Returns VHandled as the handler left it (false without a handler).
  [[nodiscard]] virtual bool FireHandleRunException(const Exception& E);
  virtual void FireRun();
  virtual void FireStopped();
  virtual void FireTerminate();

  virtual void ApplyActive(bool value);
  // Starts the worker; a terminated one is freed (after waiting for it) and a new one made.
  virtual void StartWorker();
  virtual void StopWorker();
  virtual void TerminateWorker();
  virtual void TerminateWorkerAndWait();

  // Runs `method` on the main thread and waits for it; an exception it raised is raised here.
  void RunOnMainThread(const TThreadMethod& method);

  // The current worker, or null before the first start.
  [[nodiscard]] TIdThreadEx* Thread() const noexcept { return thread_.get(); }

 protected:
  void Loaded() override;

 private:
  friend class TIdThreadEx;
  void AttachTerminate();
  void ClearStoredActive() noexcept { active_.store(false); }

  std::atomic<bool> active_{false};  // the stored value; the worker clears it when it ends
  bool loop_ = false;
  TThreadPriority priority_ = tpNormal;
  TIdThreadStopMode stopMode_ = smTerminate;
  std::string threadName_;
  TIdNotifyThreadComponentEvent onTerminate_;
  std::unique_ptr<TIdThreadEx> thread_;
};

}  // namespace brixa
