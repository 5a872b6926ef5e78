// The thread component's events, modes, exceptions, restarts and destruction in every state.

#include "runtime/thread_component.h"

#include <gtest/gtest.h>

#include "platform/thread/clock.h"
#include "unit/thread_test_support.h"

#ifndef _WIN32
#include <pthread.h>
#endif

namespace brixa {
namespace {

using test::EventLog;
using test::ServeUntil;
using test::Watchdog;

// Logs every event of a component; OnRun runs `run`.
void Attach(TIdThreadComponent& c, EventLog& log, std::function<void(TIdThreadComponent*)> run) {
  auto note = [&log, &c](const char* name) {
    return [&log, &c, name](TIdThreadComponent* sender) {
      log.Add(sender == &c ? name : "wrong sender");
    };
  };
  c.OnBeforeExecute = note("BeforeExecute");
  c.OnBeforeRun = note("BeforeRun");
  c.OnAfterRun = note("AfterRun");
  c.OnCleanup = note("Cleanup");
  c.OnAfterExecute = note("AfterExecute");
  c.OnStopped = note("Stopped");
  c.OnRun = [&log, run = std::move(run)](TIdThreadComponent* sender) {
    log.Add("Run");
    run(sender);
  };
  c.OnException = [&log](TIdThreadComponent*, const Exception& e) {
    log.Add(std::string("Exception ") + e.ClassName() + ": " + e.Message());
  };
}

TEST(ThreadComponentTest, SingleRunThatStopsItselfFiresEachEventOnceInOrder) {
  Watchdog watchdog("single run");
  EventLog log;
  std::string workerName;
  bool terminateOnMain = false;
  {
    TIdThreadComponent c;
    Attach(c, log, [&](TIdThreadComponent* sender) {
#ifndef _WIN32
      char name[32] = {};
      pthread_getname_np(pthread_self(), name, sizeof name);
      workerName = name;
#endif
      sender->StopWorker();
    });
    c.SetOnTerminate([&](TIdThreadComponent*) {
      terminateOnMain = IsMainThread();
      log.Add("Terminate");
    });
    EXPECT_FALSE(c.Active());
    c.StartWorker();
    ASSERT_TRUE(ServeUntil([&] { return log.Contains("Terminate"); }));
    EXPECT_EQ(log.Events(),
              (std::vector<std::string>{"BeforeExecute", "BeforeRun", "Run", "AfterRun", "Cleanup",
                                        "AfterExecute", "Terminate"}));
    EXPECT_TRUE(terminateOnMain);
    EXPECT_FALSE(c.Active());
    EXPECT_EQ(c.Thread()->Name(), "IdThread (unknown)");
  }
#ifndef _WIN32
  EXPECT_EQ(workerName, "IdThread (unkno");
#endif
}

TEST(ThreadComponentTest, SuspendModeParksTheLoopAndStartWorkerResumesIt) {
  Watchdog watchdog("park and resume");
  EventLog log;
  std::atomic<int> runs{0};
  TIdThreadComponent c;
  c.SetLoop(true);
  c.SetStopMode(smSuspend);
  c.SetThreadName("parker");
  Attach(c, log, [&](TIdThreadComponent*) {
    runs.fetch_add(1);
    SleepMs(1);
  });
  c.SetActive(true);
  ASSERT_TRUE(ServeUntil([&] { return runs.load() > 3; }));
  EXPECT_TRUE(c.Active());

  c.StopWorker();
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("Stopped"); }));
  EXPECT_FALSE(c.Active());
  EXPECT_FALSE(c.Thread()->Terminated());
  const int parkedAt = runs.load();
  SleepMs(50);
  EXPECT_EQ(runs.load(), parkedAt);
  EXPECT_EQ(log.Count("Cleanup"), 1u);  // the run cycle ended before parking

  // Parked is not running: the copied properties may change and reach the thread on start.
  c.SetThreadName("parker again");
  TIdThreadEx* const first = c.Thread();
  c.StartWorker();
  EXPECT_EQ(c.Thread(), first);  // the same thread, resumed
  ASSERT_TRUE(ServeUntil([&] { return runs.load() > parkedAt + 3; }));
  EXPECT_EQ(log.Count("BeforeRun"), 2u);
  EXPECT_EQ(log.Count("BeforeExecute"), 1u);
  EXPECT_EQ(c.Thread()->Name(), "parker again");

  c.TerminateWorkerAndWait();
  EXPECT_EQ(log.Events().back(), "AfterExecute");
  EXPECT_FALSE(c.Active());
}

TEST(ThreadComponentTest, HandledRunExceptionsKeepTheThreadGoingUnhandledOnesEndIt) {
  Watchdog watchdog("run exceptions");
  EventLog log;
  std::atomic<int> runs{0};
  TIdThreadComponent c;
  c.SetLoop(true);
  Attach(c, log, [&](TIdThreadComponent*) {
    const int n = runs.fetch_add(1) + 1;
    throw EIdConnClosedGracefully(n < 3 ? "tolerated" : "fatal");
  });
  c.OnHandleRunException = [&](TIdThreadComponent*, const Exception& e, bool& handled) {
    EXPECT_FALSE(handled);  // starts false
    handled = e.Message() == "tolerated";
    log.Add("Handle " + e.Message());
  };
  c.StartWorker();
  ASSERT_TRUE(ServeUntil([&] { return c.Thread()->Finished(); }));
  EXPECT_EQ(runs.load(), 3);
  EXPECT_EQ(log.Events(), (std::vector<std::string>{
                              "BeforeExecute", "BeforeRun", "Run", "Handle tolerated", "Run",
                              "Handle tolerated", "Run", "Handle fatal", "AfterRun", "Cleanup",
                              "AfterExecute", "Exception EIdConnClosedGracefully: fatal"}));
  EXPECT_EQ(c.Thread()->TerminatingException(), "fatal");
  EXPECT_FALSE(c.Active());
}

TEST(ThreadComponentTest, LoopAndThreadNameCannotChangeWhileRunning) {
  Watchdog watchdog("property guards");
  EventLog log;
  TIdThreadComponent c;
  c.SetLoop(true);
  Attach(c, log, [&](TIdThreadComponent*) { SleepMs(1); });
  c.SetActive(true);
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("Run"); }));
  try {
    c.SetLoop(false);
    ADD_FAILURE() << "Loop changed while running";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "Cannot set Loop property when the Thread is already running.");
  }
  EXPECT_TRUE(c.Loop());
  try {
    c.SetThreadName("renamed");
    ADD_FAILURE() << "ThreadName changed while running";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "Cannot set ThreadName when the Thread is already running.");
  }
  EXPECT_EQ(c.ThreadName(), "");

  // Priority and StopMode go straight to the running thread.
  c.SetPriority(tpLower);
  EXPECT_EQ(c.Thread()->Priority(), tpLower);
  c.SetStopMode(smSuspend);
  EXPECT_EQ(c.Thread()->StopMode(), smSuspend);

  c.SetActive(false);  // smSuspend now: parks
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("Stopped"); }));
  EXPECT_FALSE(c.Thread()->Terminated());
  c.SetLoop(false);  // allowed while parked
  EXPECT_FALSE(c.Loop());
}

// Counts the start and stop requests that Active writes turn into.
class CountingComponent : public TIdThreadComponent {
 public:
  void StartWorker() override {
    ++starts;
    TIdThreadComponent::StartWorker();
  }
  void StopWorker() override {
    ++stops;
    TIdThreadComponent::StopWorker();
  }
  int starts = 0;
  int stops = 0;
};

TEST(ThreadComponentTest, ActiveWritesOnlyActOnChangeAndAFinishedThreadIsReplaced) {
  Watchdog watchdog("restart");
  EventLog log;
  CountingComponent c;
  c.SetActive(false);
  EXPECT_EQ(c.stops, 0);  // already inactive: nothing asked
  EXPECT_EQ(c.Thread(), nullptr);

  std::atomic<bool> release{false};
  Attach(c, log, [&](TIdThreadComponent* sender) {
    while (!release.load()) SleepMs(1);
    sender->StopWorker();
  });
  const std::int32_t liveBefore = GThreadCount().Value();
  c.SetActive(true);
  c.SetActive(true);  // already active: no second start
  EXPECT_EQ(c.starts, 1);
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("Run"); }));
  release.store(true);
  ASSERT_TRUE(ServeUntil([&] { return c.Thread()->Finished(); }));
  EXPECT_EQ(c.stops, 1);  // the run's own StopWorker
  c.SetActive(false);     // finished is inactive: nothing asked
  EXPECT_EQ(c.stops, 1);
  EXPECT_EQ(log.Count("BeforeExecute"), 1u);
  EXPECT_EQ(log.Count("Run"), 1u);
  EXPECT_FALSE(c.Active());

  c.StartWorker();  // the finished thread is freed and a fresh one runs
  ASSERT_TRUE(ServeUntil([&] { return log.Count("AfterExecute") == 2; }));
  EXPECT_EQ(log.Count("BeforeExecute"), 2u);
  EXPECT_EQ(log.Count("Run"), 2u);
  EXPECT_EQ(GThreadCount().Value(), liveBefore + 1);  // the first one is gone
}

// Not an exception class at all: the thread reports it as an unknown exception.
struct ForeignFailure {};

TEST(ThreadComponentTest, ForeignThrowFromAnExecuteEventEndsTheThreadAndAllowsARestart) {
  const struct {
    const char* event;
    bool runs;  // whether OnRun is reached before the throw
  } cases[] = {{"BeforeExecute", false}, {"AfterExecute", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.event);
    Watchdog watchdog("foreign throw");
    EventLog log;
    TIdThreadComponent component;
    Attach(component, log, [](TIdThreadComponent* sender) { sender->StopWorker(); });
    std::atomic<bool> armed{true};
    auto thrower = [&log, &armed, name = std::string(c.event)](TIdThreadComponent*) {
      log.Add(name);
      if (armed.exchange(false)) throw ForeignFailure{};
    };
    if (std::string(c.event) == "BeforeExecute") {
      component.OnBeforeExecute = thrower;
    } else {
      component.OnAfterExecute = thrower;
    }
    component.StartWorker();
    ASSERT_TRUE(ServeUntil([&] { return component.Thread()->Finished(); }));
    EXPECT_TRUE(component.Thread()->FatalException() == nullptr);
    EXPECT_EQ(log.Count("Exception unknown exception: "), 1u);
    EXPECT_EQ(component.Thread()->TerminatingExceptionClass(), "unknown exception");
    EXPECT_TRUE(component.Thread()->Terminated());
    EXPECT_FALSE(component.Active());
    EXPECT_EQ(log.Count("Run"), c.runs ? 1u : 0u);

    component.SetActive(true);  // a fresh thread, this time without the failure
    ASSERT_TRUE(ServeUntil([&] { return log.Count(c.event) == 2; }));
    ASSERT_TRUE(ServeUntil([&] { return component.Thread()->Finished(); }));
    EXPECT_TRUE(component.Thread()->FatalException() == nullptr);
    EXPECT_EQ(log.Count("Run"), c.runs ? 2u : 1u);
    EXPECT_FALSE(component.Active());
  }
}

TEST(ThreadComponentTest, RunOnMainThreadHandsTheWorkToTheMainThreadAndReraises) {
  Watchdog watchdog("RunOnMainThread");
  EventLog log;
  TIdThreadComponent c;
  bool downloadOnMain = false;
  std::string caught;
  Attach(c, log, [&](TIdThreadComponent* sender) {
    sender->RunOnMainThread([&] {
      downloadOnMain = IsMainThread();
      sender->StopWorker();  // as the download does from the main thread
    });
    try {
      sender->RunOnMainThread(
          [] { throw EIdConnClosedGracefully("Connection Closed Gracefully."); });
    } catch (const EIdConnClosedGracefully& e) {
      caught = e.Message();
    }
  });
  c.StartWorker();
  ASSERT_TRUE(ServeUntil([&] { return c.Thread()->Finished(); }));
  EXPECT_TRUE(downloadOnMain);
  EXPECT_EQ(caught, "Connection Closed Gracefully.");
  EXPECT_EQ(log.Count("Run"), 1u);
  EXPECT_FALSE(log.Contains("Exception EIdConnClosedGracefully: Connection Closed Gracefully."));
}

TEST(ThreadComponentTest, DestroyingAComponentEndsItsWorkerWhateverItsState) {
  EventLog log;
  for (TIdThreadStopMode mode : {smTerminate, smSuspend}) {
    Watchdog watchdog("destroy with a worker");
    std::atomic<int> runs{0};
    auto c = std::make_unique<TIdThreadComponent>();
    c->SetLoop(true);
    c->SetStopMode(mode);
    Attach(*c, log, [&](TIdThreadComponent*) {
      runs.fetch_add(1);
      SleepMs(1);
    });
    c->SetOnTerminate([&](TIdThreadComponent*) { log.Add("Terminate"); });
    c->StartWorker();
    ASSERT_TRUE(ServeUntil([&] { return runs.load() > 0; }));
    if (mode == smSuspend) {
      c->StopWorker();
      ASSERT_TRUE(ServeUntil([&] { return !c->Active(); }));
    }
    c.reset();
  }
  EXPECT_EQ(log.Count("AfterExecute"), 2u);
  EXPECT_EQ(log.Count("Terminate"), 2u);  // served while the destructor waited
}

TEST(ThreadComponentTest, ComponentSavedActiveStartsWhenLoaded) {
  Watchdog watchdog("loading");
  EventLog log;
  TIdThreadComponent c;
  Attach(c, log, [](TIdThreadComponent* sender) { sender->StopWorker(); });
  c.BeginLoading();
  c.SetActive(true);  // stored only
  EXPECT_EQ(c.Thread(), nullptr);
  c.FinishLoading();
  ASSERT_NE(c.Thread(), nullptr);
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("AfterExecute"); }));
  EXPECT_EQ(log.Count("Run"), 1u);

  TIdThreadComponent designed;
  designed.SetDesigning(true);
  designed.SetActive(true);
  EXPECT_TRUE(designed.Active());  // the stored value
  EXPECT_EQ(designed.Thread(), nullptr);
}

}  // namespace
}  // namespace brixa
