// The worker thread's life cycle, the live-thread count, and how an exception that ends a thread
// is recorded (including ones that are not this runtime's exceptions).

#include "runtime/worker_thread.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <typeinfo>

namespace brixa {

namespace {

constexpr const char* kOverflowMessage = "Arithmetic overflow";
// The class reported for something thrown that is not an exception object at all.
constexpr const char* kUnknownExceptionClass = "unknown exception";

// An exception of another family that ended a thread, carried as this runtime's own so that it
// is reported the same way: its message and the name of its class.
class TForeignException : public Exception {
 public:
  TForeignException(std::string message, std::string className)
      : Exception(std::move(message)), className_(std::move(className)) {}
  [[nodiscard]] const char* ClassName() const noexcept override { return className_.c_str(); }

 private:
  std::string className_;
};

// The readable name of the dynamic type of `e` ("std::runtime_error").
std::string TypeNameOf(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> readable(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && readable ? std::string(readable.get()) : std::string(mangled);
}

unsigned Bit(TIdThreadOption option) {
  return static_cast<unsigned>(option);
}

// The runtime starts with the process: the live-thread count exists before any thread, and
// the main thread is announced under its name.
struct RuntimeThreadStart {
  RuntimeThreadStart() {
    (void)GThreadCount();
    AnnounceThreadName(RSMainThreadName);
  }
};
const RuntimeThreadStart kRuntimeThreadStart;

}  // namespace

std::int32_t TIdThreadSafeInteger::Value() const {
  std::lock_guard lock(lock_);
  return value_;
}

void TIdThreadSafeInteger::SetValue(std::int32_t value) {
  std::lock_guard lock(lock_);
  value_ = value;
}

std::int32_t TIdThreadSafeInteger::IncrementValue() {
  std::lock_guard lock(lock_);
  if (value_ == std::numeric_limits<std::int32_t>::max()) throw EIntOverflow(kOverflowMessage);
  return value_++;
}

std::int32_t TIdThreadSafeInteger::DecrementValue() {
  std::lock_guard lock(lock_);
  if (value_ == std::numeric_limits<std::int32_t>::min()) throw EIntOverflow(kOverflowMessage);
  return value_--;
}

bool TIdThreadSafeBoolean::Value() const {
  std::lock_guard lock(lock_);
  return value_;
}

void TIdThreadSafeBoolean::SetValue(bool value) {
  std::lock_guard lock(lock_);
  value_ = value;
}

TIdThreadSafeInteger& GThreadCount() {
  // Never destroyed: a self-freeing thread may count itself out after static destruction began.
  union Storage {
    TIdThreadSafeInteger count;
    Storage() : count() {}
    ~Storage() {}
  };
  static Storage storage;
  return storage.count;
}

TIdThread::TIdThread(bool ACreateSuspended, bool ALoop, std::string AName)
    : TThread(ACreateSuspended),
      loop_(ALoop),
      options_(Bit(TIdThreadOption::OwnsData) |
               (ACreateSuspended ? Bit(TIdThreadOption::Stopped) : 0u)),
      name_(std::move(AName)) {
  GThreadCount().IncrementValue();
}

TIdThread::~TIdThread() {
  SetFreeOnTerminate(false);
  TerminateWorker();
  // Unlike a cleanup that races the worker, everything below runs once its function has ended
  // (or, for a self-freeing thread, on the worker itself after the loop has left).
  StopForDestruction();
  if (HasOption(TIdThreadOption::CleanupPending)) TIdThread::CleanUpRun();
  context_.reset();
  {
    std::lock_guard wait(lock_);  // lets a caller still inside StartWorker/IsStopped leave
  }
  GThreadCount().DecrementValue();
}

bool TIdThread::HasOption(TIdThreadOption option) const noexcept {
  return (options_.load() & Bit(option)) != 0;
}

void TIdThread::IncludeOption(TIdThreadOption option) noexcept {
  options_.fetch_or(Bit(option));
}

void TIdThread::ExcludeOption(TIdThreadOption option) noexcept {
  options_.fetch_and(~Bit(option));
}

std::string TIdThread::Name() const {
  std::lock_guard lock(lock_);
  return name_;
}

void TIdThread::SetName(std::string value) {
  std::lock_guard lock(lock_);
  name_ = std::move(value);
}

std::string TIdThread::TerminatingException() const {
  std::lock_guard lock(lock_);
  return terminatingException_;
}

std::string TIdThread::TerminatingExceptionClass() const {
  std::lock_guard lock(lock_);
  return terminatingExceptionClass_;
}

bool TIdThread::IsStopped() const {
  std::lock_guard lock(lock_);
  return Terminated() || HasOption(TIdThreadOption::Stopped) || Suspended();
}

void TIdThread::StartWorker() {
  std::lock_guard lock(lock_);
  if (!IsStopped()) return;
  if (Terminated()) {
    IncludeOption(TIdThreadOption::Stopped);
  } else {
    ExcludeOption(TIdThreadOption::Stopped);
  }
  Resume();
}

void TIdThread::StopWorker() {
  std::lock_guard lock(lock_);
  if (IsStopped()) return;
  if (StopMode() == smTerminate) TerminateWorker();
  IncludeOption(TIdThreadOption::Stopped);
}

void TIdThread::TerminateWorker() {
  std::lock_guard lock(lock_);
  IncludeOption(TIdThreadOption::Stopped);
  Terminate();
}

void TIdThread::TerminateWorkerAndWait() {
  if (FreeOnTerminate()) throw EIdThreadTerminateAndWaitFor(RSThreadTerminateAndWaitFor);
  TerminateWorker();
  StartWorker();
  AwaitThreadEnd();
}

void TIdThread::CleanUpRun() {
  ExcludeOption(TIdThreadOption::CleanupPending);
  context_.reset();
  if (HasOption(TIdThreadOption::OwnsData)) data_.reset();
}

void TIdThread::FireException(const Exception& E) {
  if (OnException) OnException(this, E);
}

void TIdThread::FireStopped() {
  if (OnStopped) OnStopped(this);
}

bool TIdThread::FilterRunException(const Exception& /*E*/) {
  return false;
}

void TIdThread::ThreadMain() {
  std::string name = Name();
  if (name.empty()) {
    name = RSUnknownThreadName;
    SetName(name);
  }
  AnnounceThreadName(name);
  try {
    PreExecute();
    try {
      RunLoop();
    } catch (...) {
      PostExecute();
      throw;
    }
    PostExecute();
  } catch (const Exception& e) {
    EndWithException(e);
  } catch (const std::exception& e) {
    EndWithException(TForeignException(e.what(), TypeNameOf(e)));
  } catch (...) {
    EndWithException(TForeignException("", kUnknownExceptionClass));
  }
}

void TIdThread::EndWithException(const Exception& E) {
  RecordTerminatingException(E);
  FireException(E);
  TerminateWorker();
}

void TIdThread::RecordTerminatingException(const Exception& E) {
  std::lock_guard lock(lock_);
  terminatingException_ = E.Message();
  terminatingExceptionClass_ = E.ClassName();
}

void TIdThread::RunLoop() {
  while (!Terminated()) {
    if (IsStopped()) {
      FireStopped();
      if (ParkUntilStarted()) break;
    }
    IncludeOption(TIdThreadOption::CleanupPending);
    try {
      RunCycle();
    } catch (...) {
      TerminateWorker();
      CleanUpRun();
      throw;
    }
    CleanUpRun();
  }
}

bool TIdThread::ParkUntilStarted() {
  {
    // Deciding to park and asking for the suspension happen under the lock that StartWorker
    // takes, so a StartWorker between FireStopped and the park cannot be lost.
    std::lock_guard lock(lock_);
    if (!IsStopped()) return false;
    if (Terminated()) return true;
    RequestSuspension();
  }
  CheckSuspended();
  return Terminated();
}

void TIdThread::RunCycle() {
  PreRun();
  try {
    if (Loop()) {
      while (!IsStopped()) RunBodyFiltered();
    } else {
      RunBodyFiltered();
    }
  } catch (...) {
    PostRun();
    throw;
  }
  PostRun();
}

void TIdThread::RunBodyFiltered() {
  try {
    RunBody();
  } catch (const Exception& e) {
    if (FilterRunException(e)) return;
    TerminateWorker();
    throw;
  }
}

}  // namespace brixa
