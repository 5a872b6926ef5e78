#pragma once
// The base of every network component: status texts, transfer-progress spans and their events,
// the socket-stack use each component holds, and the anti-freeze hook for GUI threads.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/core/component.h"

namespace brixa {

// Base of every network component.
//
// Property defaults are set by each class's constructor (members initialised in the class,
// then the constructor body), base class first. That is the order an inherited-first
// initialisation step gives, without calling a virtual function from a base constructor, and a
// component made with or without an owner starts alike.
class TIdInitializerComponent : public TComponent {
 public:
  explicit TIdInitializerComponent(TComponent* owner = nullptr) : TComponent(owner) {}
};

enum TWorkMode { wmRead = 0, wmWrite = 1 };

enum TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

// The text OnStatus receives for `status`, its format filled with `argument`.
[[nodiscard]] std::string StatusText(TIdStatus status, const std::string& argument = {});

class TIdComponent;

using TIdStatusEvent =
    std::function<void(TComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkEvent =
    std::function<void(TComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkBeginEvent =
    std::function<void(TComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TComponent* ASender, TWorkMode AWorkMode)>;

namespace detail {
// Holds one use of the socket stack for as long as it lives. A base class listed before the
// component base, so the use is released only after the component (and what it owns) is gone.
class StackUse {
 protected:
  StackUse();
  ~StackUse();
  StackUse(const StackUse&) = delete;
  StackUse& operator=(const StackUse&) = delete;
};
}  // namespace detail

// A component with status and transfer-progress reports.
//
// Progress comes in spans per direction: StartWork opens one, AddWork adds bytes to it,
// FinishWork closes it. Spans nest; only the outermost fires OnWorkBegin / OnWorkEnd, and
// every AddWork inside a span fires OnWork with the running total. With WorkDelegate set, all
// reports go to the delegate instead. Reports for one component must come from one thread.
class TIdComponent : private detail::StackUse, public TIdInitializerComponent {
 public:
  explicit TIdComponent(TComponent* owner = nullptr) : TIdInitializerComponent(owner) {}

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  virtual void StartWork(TWorkMode AWorkMode, std::int64_t AWorkCountMax);
  virtual void AddWork(TWorkMode AWorkMode, std::int64_t ACount);
  virtual void FinishWork(TWorkMode AWorkMode);

  void ReportStatus(TIdStatus AStatus, const std::string& argument = {});

  [[nodiscard]] TIdComponent* WorkDelegate() const noexcept { return workDelegate_; }
  void SetWorkDelegate(TIdComponent* delegate) noexcept { workDelegate_ = delegate; }

  struct WorkState {
    std::int64_t count = 0;
    std::int64_t max = 0;
    std::int32_t level = 0;
  };
  [[nodiscard]] const WorkState& WorkInfo(TWorkMode mode) const noexcept { return work_[mode]; }

 private:
  std::array<WorkState, 2> work_{};
  TIdComponent* workDelegate_ = nullptr;
};

// Process-wide hook through which blocking socket waits on the main thread let a GUI run.
// At most one exists outside design time; it registers itself when made and is unregistered
// when destroyed. This library ships no concrete one.
class TIdAntiFreezeBase : public TIdInitializerComponent {
 public:
  explicit TIdAntiFreezeBase(TComponent* owner = nullptr, bool designTime = false);
  ~TIdAntiFreezeBase() override;

  // Lets the GUI process its pending messages.
  virtual void Process() = 0;

  [[nodiscard]] bool Active() const noexcept { return active_; }
  void SetActive(bool value) noexcept { active_ = value; }
  [[nodiscard]] bool ApplicationHasPriority() const noexcept { return applicationHasPriority_; }
  void SetApplicationHasPriority(bool value) noexcept { applicationHasPriority_ = value; }
  [[nodiscard]] std::int32_t IdleTimeOut() const noexcept { return idleTimeOut_; }
  void SetIdleTimeOut(std::int32_t value) noexcept { idleTimeOut_ = value; }
  [[nodiscard]] bool OnlyWhenIdle() const noexcept { return onlyWhenIdle_; }
  void SetOnlyWhenIdle(bool value) noexcept { onlyWhenIdle_ = value; }

  // The registered anti-freeze, or null.
  [[nodiscard]] static TIdAntiFreezeBase* Registered() noexcept;
  // True when one is registered and active and the caller is the main thread.
  [[nodiscard]] static bool AntiFreezeApplies() noexcept;
  static void RunAntiFreeze(bool AIdle = true, bool AOverride = false);

 private:
  bool active_ = true;
  bool applicationHasPriority_ = true;
  std::int32_t idleTimeOut_ = 250;
  bool onlyWhenIdle_ = true;
};

inline constexpr const char* RSOnlyOneAntiFreeze =
    "Only one TIdAntiFreeze can exist per application.";

}  // namespace brixa
