// TThread's start, suspension, main-thread calls, self-freeing, priorities and names.

#include "platform/thread/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "platform/core/exception.h"
#include "platform/thread/clock.h"
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

  // Whatever escapes Execute is kept, never passed to the OS.
  auto failing = MakeThread<FunctionThread>(
      false, [](FunctionThread&) { throw std::runtime_error("disk on fire"); });
  failing->AwaitThreadEnd();
  ASSERT_TRUE(failing->FatalException());
  EXPECT_THROW(std::rethrow_exception(failing->FatalException()), std::runtime_error);
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

TEST(ThreadTest, RunOnMainThreadServesEveryCallerOnceAndReraisesForeignExceptions) {
  Watchdog watchdog("RunOnMainThread");
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  int served = 0;  // touched on the main thread only
  std::atomic<int> reraised{0};
  std::vector<std::unique_ptr<FunctionThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(MakeThread<FunctionThread>(false, [&](FunctionThread&) {
      for (int n = 0; n < kCalls; ++n) RunOnMainThread([&] { served += IsMainThread() ? 1 : 0; });
      try {
        RunOnMainThread([] { throw std::logic_error("not one of ours"); });
      } catch (const std::logic_error&) {
        reraised.fetch_add(1);
      }
    }));
  }
  EXPECT_TRUE(ServeUntil([&] {
    for (auto& t : threads) {
      if (!t->Finished()) return false;
    }
    return true;
  }));
  EXPECT_EQ(served, kThreads * kCalls);
  EXPECT_EQ(reraised.load(), kThreads);

  bool direct = false;  // on the main thread itself the call runs at once
  RunOnMainThread([&] { direct = true; });
  EXPECT_TRUE(direct);
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
