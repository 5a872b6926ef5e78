// Thread-safe values and the worker thread's exceptions, data ownership and termination.

#include "runtime/worker_thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <new>
#include <stdexcept>

#include "platform/thread/clock.h"
#include "unit/thread_test_support.h"

namespace brixa {
namespace {

using test::EventLog;
using test::ServeUntil;
using test::Watchdog;

TEST(ThreadSafeValueTest, IntegerStepsReturnThePreviousValueAndRefuseToOverflow) {
  TIdThreadSafeInteger n;
  EXPECT_EQ(n.Value(), 0);
  EXPECT_EQ(n.IncrementValue(), 0);
  EXPECT_EQ(n.IncrementValue(), 1);
  EXPECT_EQ(n.DecrementValue(), 2);
  EXPECT_EQ(n.Value(), 1);

  n.SetValue(std::numeric_limits<std::int32_t>::max());
  EXPECT_THROW(n.IncrementValue(), EIntOverflow);
  EXPECT_EQ(n.Value(), std::numeric_limits<std::int32_t>::max());
  n.SetValue(std::numeric_limits<std::int32_t>::min());
  EXPECT_THROW(n.DecrementValue(), EIntOverflow);
  EXPECT_EQ(n.Value(), std::numeric_limits<std::int32_t>::min());

  TIdThreadSafeBoolean b;
  EXPECT_FALSE(b.Value());
  b.SetValue(true);
  EXPECT_TRUE(b.Value());
}

TEST(ThreadSafeValueTest, ConcurrentStepsAreNotLost) {
  TIdThreadSafeInteger n;
  constexpr int kThreads = 4;
  constexpr int kSteps = 20000;
  std::vector<std::thread> workers;
  for (int i = 0; i < kThreads; ++i) {
    workers.emplace_back([&n, i] {
      for (int s = 0; s < kSteps; ++s) {
        if (i % 2 == 0) {
          n.IncrementValue();
        } else {
          n.IncrementValue();
          n.IncrementValue();
          n.DecrementValue();
        }
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(n.Value(), kThreads * kSteps);
}

// A TIdThread whose body is a function and whose life-cycle steps are logged.
class LoggedThread : public TIdThread {
 public:
  LoggedThread(EventLog& log, std::function<void(LoggedThread&)> body, bool loop = false)
      : TIdThread(true, loop), log_(log), body_(std::move(body)) {}
  ~LoggedThread() override {
    TerminateWorker();
    StopForDestruction();
  }
  using TIdThread::ExcludeOption;

 protected:
  void PreExecute() override { log_.Add("PreExecute"); }
  void PostExecute() override { log_.Add("PostExecute"); }
  void PreRun() override { log_.Add("PreRun"); }
  void PostRun() override { log_.Add("PostRun"); }
  void CleanUpRun() override {
    TIdThread::CleanUpRun();
    log_.Add("CleanUpRun");
  }
  void RunBody() override { body_(*this); }

 private:
  EventLog& log_;
  std::function<void(LoggedThread&)> body_;
};

// Counts its own destruction.
struct Tracked : TPersistent {
  explicit Tracked(std::atomic<int>& freed) : freed_(freed) {}
  ~Tracked() override { freed_.fetch_add(1); }
  std::atomic<int>& freed_;
};

TEST(IdThreadTest, UnfilteredRunExceptionTerminatesAndIsReportedAfterTheCleanups) {
  Watchdog watchdog("run exception");
  EventLog log;
  LoggedThread thread(
      log, [](LoggedThread&) { throw EIdException("socket went away"); }, true);
  thread.OnException = [&](TIdThread* sender, const Exception& e) {
    log.Add("OnException " + e.Message() + (sender == &thread ? " from thread" : ""));
  };
  thread.StartWorker();
  thread.AwaitThreadEnd();
  EXPECT_EQ(log.Events(),
            (std::vector<std::string>{"PreExecute", "PreRun", "PostRun", "CleanUpRun",
                                      "PostExecute", "OnException socket went away from thread"}));
  EXPECT_TRUE(thread.Terminated());
  EXPECT_TRUE(thread.IsStopped());
  EXPECT_EQ(thread.TerminatingException(), "socket went away");
  EXPECT_EQ(thread.TerminatingExceptionClass(), "EIdException");
  EXPECT_FALSE(thread.FatalException());
}

// Exceptions of other families skip the filters but end the thread as an Exception would: after
// the cleanups, reported through OnException with their message and C++ class name.
TEST(IdThreadTest, ForeignExceptionsEndTheThreadAndAreReportedLikeOwnOnes) {
  struct NotAnException {};
  const struct {
    const char* what;
    std::function<void()> raise;
    const char* message;
    const char* className;
  } cases[] = {
      {"runtime_error", [] { throw std::runtime_error("not ours"); }, "not ours",
       "std::runtime_error"},
      {"bad_alloc", [] { throw std::bad_alloc(); }, "std::bad_alloc", "std::bad_alloc"},
      {"anything", [] { throw NotAnException{}; }, "", "unknown exception"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Watchdog watchdog("foreign exception");
    EventLog log;
    LoggedThread thread(log, [&c](LoggedThread&) { c.raise(); });
    thread.OnException = [&](TIdThread* sender, const Exception& e) {
      log.Add(std::string("OnException ") + e.ClassName() + ": " + e.Message() +
              (sender == &thread ? " from thread" : ""));
    };
    thread.StartWorker();
    thread.AwaitThreadEnd();
    EXPECT_EQ(log.Events(),
              (std::vector<std::string>{
                  "PreExecute", "PreRun", "PostRun", "CleanUpRun", "PostExecute",
                  std::string("OnException ") + c.className + ": " + c.message + " from thread"}));
    EXPECT_FALSE(thread.FatalException());
    EXPECT_EQ(thread.TerminatingException(), c.message);
    EXPECT_EQ(thread.TerminatingExceptionClass(), c.className);
    EXPECT_TRUE(thread.Terminated());
  }
}

TEST(IdThreadTest, DataIsFreedAtEachCleanupOnlyWhenOwned) {
  Watchdog watchdog("data ownership");
  std::atomic<int> freed{0};
  EventLog log;
  std::atomic<int> bodies{0};
  auto body = [&](LoggedThread& self) {
    if (bodies.fetch_add(1) == 0) self.SetData(std::make_unique<Tracked>(freed));
    self.StopWorker();
  };
  {
    LoggedThread owning(log, body);
    owning.SetData(std::make_unique<Tracked>(freed));
    owning.SetContext(std::make_unique<Tracked>(freed));
    owning.StartWorker();
    owning.AwaitThreadEnd();
    EXPECT_EQ(freed.load(), 3);  // first data, context and the data set in the body
    EXPECT_EQ(owning.Data(), nullptr);
  }
  freed.store(0);
  bodies.store(0);
  {
    LoggedThread borrowing(log, body);
    borrowing.ExcludeOption(TIdThreadOption::OwnsData);
    borrowing.SetData(std::make_unique<Tracked>(freed));
    borrowing.StartWorker();
    borrowing.AwaitThreadEnd();
    EXPECT_EQ(freed.load(), 1);  // only the replaced object; the last one stays with the thread
    EXPECT_NE(borrowing.Data(), nullptr);
  }
  EXPECT_EQ(freed.load(), 2);
}

TEST(IdThreadTest, TerminateAndWaitRefusesSelfFreeingThreadsAndWakesParkedOnes) {
  Watchdog watchdog("terminate and wait");
  EventLog log;
  LoggedThread thread(
      log, [](LoggedThread& self) { self.StopWorker(); }, true);
  thread.SetStopMode(smSuspend);
  thread.SetFreeOnTerminate(true);
  try {
    thread.TerminateWorkerAndWait();
    ADD_FAILURE() << "no exception";
  } catch (const EIdThreadTerminateAndWaitFor& e) {
    EXPECT_EQ(e.Message(), "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
  }
  thread.SetFreeOnTerminate(false);
  thread.StartWorker();
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("PostRun") && thread.IsStopped(); }));
  SleepMs(20);
  EXPECT_FALSE(thread.Terminated());  // parked, not ended
  thread.TerminateWorkerAndWait();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(log.Events().back(), "PostExecute");
}

}  // namespace
}  // namespace brixa
