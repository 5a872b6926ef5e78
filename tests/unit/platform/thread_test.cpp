#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "platform/clock.h"
#include "platform/exception.h"
#include "unit/thread_test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sys/resource.h>
#endif

namespace brixa {
namespace {

using test::ServeUntil;
using test::Watchdog;

// The calling thread's name as the platform keeps it.
std::string CurrentThreadName() {
#ifdef _WIN32
  using GetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  FARPROC proc = ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetThreadDescription");
  if (proc == nullptr) return "(no GetThreadDescription)";
  PWSTR wide = nullptr;
  reinterpret_cast<GetThreadDescriptionFn>(reinterpret_cast<void (*)()>(proc))(::GetCurrentThread(),
                                                                               &wide);
  std::string name;
  for (PWSTR c = wide; c != nullptr && *c != 0; ++c) name += static_cast<char>(*c);
  ::LocalFree(wide);
  return name;
#else
  char buffer[64] = {};
  pthread_getname_np(pthread_self(), buffer, sizeof buffer);
  return buffer;
#endif
}

// Runs a function as Execute.
class FunctionThread : public TThread {
 public:
  FunctionThread(bool suspended, std::function<void(FunctionThread&)> body)
      : TThread(suspended), body_(std::move(body)) {}
  ~FunctionThread() override { StopForDestruction(); }

  using TThread::CheckSuspended;
  using TThread::SetReturnValue;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FunctionThread&)> body_;
};

TEST(ThreadTest, StartsOnlyWhenResumedOrAfterConstructionAndReportsItsEnd) {
  Watchdog watchdog("start and end");
  std::atomic<int> runs{0};
  auto body = [&](FunctionThread& self) {
    runs.fetch_add(1);
    self.SetReturnValue(42);
  };

  FunctionThread suspended(true, body);
  SleepMs(30);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_TRUE(suspended.Suspended());
  EXPECT_FALSE(suspended.Finished());
  suspended.Resume();
  EXPECT_EQ(suspended.AwaitThreadEnd(), 42);
  EXPECT_TRUE(suspended.Finished());
  EXPECT_EQ(runs.load(), 1);
  suspended.Resume();  // a finished thread is never run again
  EXPECT_EQ(suspended.AwaitThreadEnd(), 42);
  EXPECT_EQ(runs.load(), 1);

  auto running = MakeThread<FunctionThread>(false, body);
  EXPECT_EQ(running->AwaitThreadEnd(), 42);
  EXPECT_EQ(runs.load(), 2);
  EXPECT_NE(running->ThreadID(), 0u);
}

TEST(ThreadTest, AnythingEscapingExecuteIsKeptNotPropagated) {
  Watchdog watchdog("fatal exception");
  auto thread = MakeThread<FunctionThread>(
      false, [](FunctionThread&) { throw std::runtime_error("disk on fire"); });
  thread->AwaitThreadEnd();
  ASSERT_TRUE(thread->FatalException());
  try {
    std::rethrow_exception(thread->FatalException());
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "disk on fire");
  }
}

TEST(ThreadTest, SuspendParksAtTheCheckPointUntilResume) {
  Watchdog watchdog("suspend and resume");
  std::atomic<int> steps{0};
  FunctionThread thread(true, [&](FunctionThread& self) {
    while (!self.Terminated()) {
      self.CheckSuspended();
      steps.fetch_add(1);
      SleepMs(1);
    }
  });
  thread.Resume();
  ASSERT_TRUE(ServeUntil([&] { return steps.load() > 3; }));

  thread.Suspend();
  EXPECT_TRUE(thread.Suspended());
  const int parkedAt = steps.load();
  SleepMs(60);
  EXPECT_LE(steps.load(), parkedAt + 1);  // at most the step that was under way

  thread.Resume();
  EXPECT_FALSE(thread.Suspended());
  EXPECT_TRUE(ServeUntil([&] { return steps.load() > parkedAt + 3; }));
  thread.Terminate();
  thread.AwaitThreadEnd();
}

TEST(ThreadTest, SuspendOnTheThreadItselfParksAtOnceAndDestructionWakesIt) {
  std::atomic<bool> passed{false};
  {
    Watchdog watchdog("destroy a parked thread");
    FunctionThread thread(true, [&](FunctionThread& self) {
      self.Suspend();
      passed.store(true);
    });
    thread.Resume();
    ASSERT_TRUE(ServeUntil([&] { return thread.Suspended(); }));
    SleepMs(30);
    EXPECT_FALSE(passed.load());
  }  // the destructor terminates, resumes and joins
  EXPECT_TRUE(passed.load());
}

TEST(ThreadTest, OnTerminateRunsOnTheMainThreadAfterExecute) {
  Watchdog watchdog("OnTerminate");
  std::atomic<bool> executed{false};
  bool onMain = false;
  bool finishedFirst = false;
  int calls = 0;
  FunctionThread thread(true, [&](FunctionThread&) { executed.store(true); });
  thread.SetOnTerminate([&](TThread* sender) {
    ++calls;
    onMain = IsMainThread();
    finishedFirst = sender->Finished() && executed.load();
  });
  EXPECT_TRUE(thread.OnTerminateAssigned());
  thread.Resume();
  thread.AwaitThreadEnd();  // serves the main-thread call the thread waits for
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(onMain);
  EXPECT_TRUE(finishedFirst);
}

TEST(ThreadTest, RunOnMainThreadRunsThereAndRaisesTheMethodsExceptionInTheCaller) {
  Watchdog watchdog("RunOnMainThread");
  struct Outcome {
    bool ranOnMain = false;
    std::string caught;
    std::string caughtClass;
    bool caughtStd = false;
  } out;
  FunctionThread thread(true, [&](FunctionThread&) {
    TThread::RunOnMainThread([&] { out.ranOnMain = IsMainThread(); });
    try {
      TThread::RunOnMainThread([] { throw EConvertError("'x' is not a valid integer value"); });
    } catch (const Exception& e) {
      out.caught = e.Message();
      out.caughtClass = e.ClassName();
    }
    try {
      TThread::RunOnMainThread([] { throw std::logic_error("plain"); });
    } catch (const std::logic_error&) {
      out.caughtStd = true;
    }
  });
  thread.Resume();
  ASSERT_TRUE(ServeUntil([&] { return thread.Finished(); }));
  thread.AwaitThreadEnd();
  EXPECT_TRUE(out.ranOnMain);
  EXPECT_EQ(out.caught, "'x' is not a valid integer value");
  EXPECT_EQ(out.caughtClass, "EConvertError");
  EXPECT_TRUE(out.caughtStd);

  bool direct = false;  // on the main thread itself the call runs at once
  RunOnMainThread([&] { direct = true; });
  EXPECT_TRUE(direct);
}

TEST(ThreadTest, CallsFromManyThreadsAreEachServedOnce) {
  Watchdog watchdog("many callers");
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  int served = 0;  // touched on the main thread only
  std::vector<std::unique_ptr<FunctionThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(MakeThread<FunctionThread>(false, [&](FunctionThread&) {
      for (int n = 0; n < kCalls; ++n) RunOnMainThread([&] { ++served; });
    }));
  }
  EXPECT_TRUE(ServeUntil([&] {
    for (auto& t : threads) {
      if (!t->Finished()) return false;
    }
    return true;
  }));
  EXPECT_EQ(served, kThreads * kCalls);
}

TEST(ThreadTest, SelfFreeingThreadDeletesItself) {
  Watchdog watchdog("self-freeing thread");
  static std::atomic<int> destroyed{0};
  struct Counted : FunctionThread {
    using FunctionThread::FunctionThread;
    ~Counted() override { destroyed.fetch_add(1); }
  };
  destroyed.store(0);
  auto thread = std::make_unique<Counted>(true, [](FunctionThread&) {});
  thread->SetFreeOnTerminate(true);
  thread->Resume();
  thread.release();  // it owns itself now
  EXPECT_TRUE(ServeUntil([] { return destroyed.load() == 1; }));
}

TEST(ThreadTest, PriorityIsKeptBeforeTheStartAndAppliedToTheRunningThread) {
  Watchdog watchdog("priority");
  std::atomic<bool> release{false};
  std::atomic<std::uint64_t> tid{0};
  FunctionThread thread(true, [&](FunctionThread&) {
    tid.store(CurrentThreadId());
    while (!release.load()) SleepMs(1);
  });
  thread.SetPriority(tpLower);
  EXPECT_EQ(thread.Priority(), tpLower);
  thread.Resume();
  ASSERT_TRUE(ServeUntil([&] { return tid.load() != 0; }));
  EXPECT_EQ(thread.Priority(), tpLower);
#ifndef _WIN32
  // Lowering a priority needs no privilege: the nice value of that thread really changes.
  errno = 0;
  EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(tid.load())), 5);
  thread.SetPriority(tpIdle);
  EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(tid.load())), 19);
#endif
  for (TThreadPriority p : {tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest}) {
    thread.SetPriority(p);
    EXPECT_EQ(thread.Priority(), p) << p;
  }
  release.store(true);
  thread.AwaitThreadEnd();
}

TEST(ThreadTest, ThreadNamesReachThePlatform) {
  Watchdog watchdog("thread names");
  std::string seen;
  FunctionThread thread(true, [&](FunctionThread&) {
    AnnounceThreadName("a rather long worker name");
    seen = CurrentThreadName();
  });
  thread.Resume();
  thread.AwaitThreadEnd();
#ifdef _WIN32
  EXPECT_EQ(seen, "a rather long worker name");
#else
  EXPECT_EQ(seen, "a rather long w");  // the kernel keeps 15 bytes
#endif
  const std::string mainName = CurrentThreadName();
  AnnounceThreadName("Main");
#ifndef _WIN32
  EXPECT_EQ(CurrentThreadName(), mainName);  // the process keeps its name
#endif
}

}  // namespace
}  // namespace brixa
