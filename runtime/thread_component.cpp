// Each life-cycle step of TIdThreadEx handed to its component's events, and the component's
// start, stop and property rules.

#include "runtime/thread_component.h"

namespace brixa {

// --- TIdThreadEx ---------------------------------------------------------------------------

TIdThreadEx::TIdThreadEx(TIdThreadComponent* AThreadComponent)
    : TIdThread(true), component_(AThreadComponent) {
  ExcludeOption(TIdThreadOption::OwnsData);
  OnException = [this](TIdThread*, const Exception& e) { component_->FireException(e); };
  OnStopped = [this](TIdThread*) { component_->FireStopped(); };
}

TIdThreadEx::~TIdThreadEx() {
  // The overrides below must not run once this part of the object is gone.
  TerminateWorker();
  StopForDestruction();
}

void TIdThreadEx::ThreadMain() {
  try {
    TIdThread::ThreadMain();
  } catch (...) {
    TerminateWorker();
    component_->ClearStoredActive();
    throw;  // kept as the platform thread's FatalException
  }
}

void TIdThreadEx::PreExecute() {
  component_->FireBeforeExecute();
}

void TIdThreadEx::PostExecute() {
  try {
    component_->FireAfterExecute();
  } catch (...) {
    component_->ClearStoredActive();
    throw;
  }
  component_->ClearStoredActive();
}

void TIdThreadEx::PreRun() {
  component_->FireBeforeRun();
}

void TIdThreadEx::PostRun() {
  component_->FireAfterRun();
}

void TIdThreadEx::CleanUpRun() {
  TIdThread::CleanUpRun();
  component_->FireCleanup();
}

bool TIdThreadEx::FilterRunException(const Exception& E) {
  return component_->FireHandleRunException(E);
}

void TIdThreadEx::RunBody() {
  component_->FireRun();
}

// --- TIdThreadComponent --------------------------------------------------------------------

TIdThreadComponent::TIdThreadComponent(TComponent* AOwner) : TIdInitializerComponent(AOwner) {}

TIdThreadComponent::~TIdThreadComponent() {
  if (!thread_) return;
  thread_->TerminateWorker();
  thread_->StartWorker();  // wakes a parked worker so it can leave
  thread_.reset();
}

bool TIdThreadComponent::Active() const {
  if (IsDesignTime()) return active_.load();
  return thread_ != nullptr && !thread_->IsStopped();
}

void TIdThreadComponent::SetLoop(bool value) {
  if (Active()) throw EIdException(RSThreadComponentLoopAlreadyRunning);
  loop_ = value;
}

TThreadPriority TIdThreadComponent::Priority() const {
  return thread_ ? thread_->Priority() : priority_;
}

void TIdThreadComponent::SetPriority(TThreadPriority value) {
  priority_ = value;
  if (thread_ && !thread_->Terminated()) thread_->SetPriority(value);
}

TIdThreadStopMode TIdThreadComponent::StopMode() const {
  return thread_ ? thread_->StopMode() : stopMode_;
}

void TIdThreadComponent::SetStopMode(TIdThreadStopMode value) {
  stopMode_ = value;
  if (thread_ && !thread_->Terminated()) thread_->SetStopMode(value);
}

void TIdThreadComponent::SetThreadName(std::string value) {
  if (Active()) throw EIdException(RSThreadComponentThreadNameAlreadyRunning);
  threadName_ = std::move(value);
}

void TIdThreadComponent::SetOnTerminate(TIdNotifyThreadComponentEvent handler) {
  onTerminate_ = std::move(handler);
  if (thread_) AttachTerminate();
}

void TIdThreadComponent::AttachTerminate() {
  if (onTerminate_) {
    thread_->SetOnTerminate([this](TThread*) { FireTerminate(); });
  } else {
    thread_->SetOnTerminate(nullptr);
  }
}

void TIdThreadComponent::FireAfterExecute() {
  if (OnAfterExecute) OnAfterExecute(this);
}

void TIdThreadComponent::FireAfterRun() {
  if (OnAfterRun) OnAfterRun(this);
}

void TIdThreadComponent::FireBeforeExecute() {
  if (OnBeforeExecute) OnBeforeExecute(this);
}

void TIdThreadComponent::FireBeforeRun() {
  if (OnBeforeRun) OnBeforeRun(this);
}

void TIdThreadComponent::FireCleanup() {
  if (OnCleanup) OnCleanup(this);
}

void TIdThreadComponent::FireException(const Exception& E) {
  if (OnException) OnException(this, E);
}

bool TIdThreadComponent::FireHandleRunException(const Exception& E) {
  bool handled = false;
  if (OnHandleRunException) OnHandleRunException(this, E, handled);
  return handled;
}

void TIdThreadComponent::FireRun() {
  if (OnRun) OnRun(this);
}

void TIdThreadComponent::FireStopped() {
  if (OnStopped) OnStopped(this);
}

void TIdThreadComponent::FireTerminate() {
  if (onTerminate_) onTerminate_(this);
}

void TIdThreadComponent::ApplyActive(bool value) {
  if (!IsDesignTime() && !IsLoading() && value != Active()) {
    if (value) {
      StartWorker();
    } else {
      StopWorker();
    }
  }
  active_.store(value);
}

void TIdThreadComponent::StartWorker() {
  if (IsDesignTime()) return;
  if (thread_ && thread_->Terminated()) thread_.reset();  // waits for the finished worker
  if (!thread_) thread_ = std::make_unique<TIdThreadEx>(this);
  AttachTerminate();
  thread_->SetName(threadName_);
  thread_->SetLoop(loop_);
  thread_->SetPriority(priority_);
  thread_->SetStopMode(stopMode_);
  thread_->StartWorker();
}

void TIdThreadComponent::StopWorker() {
  if (thread_) thread_->StopWorker();
}

void TIdThreadComponent::TerminateWorker() {
  if (thread_) thread_->TerminateWorker();
}

void TIdThreadComponent::TerminateWorkerAndWait() {
  if (thread_) thread_->TerminateWorkerAndWait();
}

void TIdThreadComponent::RunOnMainThread(const TThreadMethod& method) {
  TThread::RunOnMainThread(method);
}

void TIdThreadComponent::Loaded() {
  TIdInitializerComponent::Loaded();
  if (thread_) AttachTerminate();
  if (active_.load()) {
    active_.store(false);
    SetActive(true);
  }
}

}  // namespace brixa
