// Status texts, the nesting of work spans, and registration of the anti-freeze.

#include "runtime/work_component.h"

#include <atomic>
#include <limits>

#include "platform/thread/clock.h"
#include "runtime/network_exception.h"
#include "runtime/stack_usage.h"

namespace brixa {

namespace {

std::atomic<TIdAntiFreezeBase*> gAntiFreeze{nullptr};

void CheckedStep(std::int32_t& level, int delta) {
  if ((delta > 0 && level == std::numeric_limits<std::int32_t>::max()) ||
      (delta < 0 && level == std::numeric_limits<std::int32_t>::min())) {
    throw EIntOverflow("Arithmetic overflow");
  }
  level += delta;
}

}  // namespace

std::string StatusText(TIdStatus status, const std::string& argument) {
  switch (status) {
    case hsResolving:
      return "Resolving hostname " + argument + ".";
    case hsConnecting:
      return "Connecting to " + argument + ".";
    case hsConnected:
      return "Connected.";
    case hsDisconnecting:
      return "Disconnecting.";
    case hsDisconnected:
      return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted:
      return argument;
  }
  return argument;
}

detail::StackUse::StackUse() {
  AcquireStack();
}
detail::StackUse::~StackUse() {
  ReleaseStack();
}

void TIdComponent::StartWork(TWorkMode AWorkMode, std::int64_t AWorkCountMax) {
  if (workDelegate_ != nullptr) {
    workDelegate_->StartWork(AWorkMode, AWorkCountMax);
    return;
  }
  WorkState& state = work_[AWorkMode];
  CheckedStep(state.level, +1);
  if (state.level != 1) return;
  state.max = AWorkCountMax;
  state.count = 0;
  if (OnWorkBegin) OnWorkBegin(this, AWorkMode, AWorkCountMax);
}

void TIdComponent::AddWork(TWorkMode AWorkMode, std::int64_t ACount) {
  if (workDelegate_ != nullptr) {
    workDelegate_->AddWork(AWorkMode, ACount);
    return;
  }
  WorkState& state = work_[AWorkMode];
  if (state.level <= 0) return;
  state.count += ACount;
  if (OnWork) OnWork(this, AWorkMode, state.count);
}

void TIdComponent::FinishWork(TWorkMode AWorkMode) {
  if (workDelegate_ != nullptr) {
    workDelegate_->FinishWork(AWorkMode);
    return;
  }
  WorkState& state = work_[AWorkMode];
  // The level drops before the end event fires, so a handler that raises never leaves the
  // span open.
  std::int32_t next = state.level;
  CheckedStep(next, -1);
  const bool outermost = state.level == 1;
  state.level = next;
  if (outermost && OnWorkEnd) OnWorkEnd(this, AWorkMode);
}

void TIdComponent::ReportStatus(TIdStatus AStatus, const std::string& argument) {
  if (OnStatus) OnStatus(this, AStatus, StatusText(AStatus, argument));
}

TIdAntiFreezeBase::TIdAntiFreezeBase(TComponent* owner, bool designTime)
    : TIdInitializerComponent(owner) {
  SetDesigning(designTime);
  if (designTime) return;
  TIdAntiFreezeBase* expected = nullptr;
  if (!gAntiFreeze.compare_exchange_strong(expected, this)) {
    throw EIdException(RSOnlyOneAntiFreeze);
  }
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
  // Only the registered one clears the registration: a design-time copy going away must not
  // switch off the one the application uses.
  TIdAntiFreezeBase* self = this;
  gAntiFreeze.compare_exchange_strong(self, nullptr);
}

TIdAntiFreezeBase* TIdAntiFreezeBase::Registered() noexcept {
  return gAntiFreeze.load();
}

bool TIdAntiFreezeBase::AntiFreezeApplies() noexcept {
  const TIdAntiFreezeBase* current = gAntiFreeze.load();
  return current != nullptr && IsMainThread() && current->Active();
}

void TIdAntiFreezeBase::RunAntiFreeze(bool AIdle, bool AOverride) {
  if (!AntiFreezeApplies()) return;
  TIdAntiFreezeBase* current = gAntiFreeze.load();
  if (AIdle || !current->OnlyWhenIdle() || AOverride) current->Process();
}

}  // namespace brixa
