// Work spans and their events, status texts, socket-stack uses of components, and the
// anti-freeze.

#include "runtime/work_component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/network_exception.h"
#include "runtime/stack_usage.h"

namespace brixa {
namespace {

// Collects every work event of a component as text.
struct WorkLog {
  std::vector<std::string> events;
  void Attach(TIdComponent& c) {
    c.OnWorkBegin = [this](TComponent*, TWorkMode m, std::int64_t max) {
      events.push_back("begin " + std::to_string(m) + " " + std::to_string(max));
    };
    c.OnWork = [this](TComponent*, TWorkMode m, std::int64_t n) {
      events.push_back("work " + std::to_string(m) + " " + std::to_string(n));
    };
    c.OnWorkEnd = [this](TComponent*, TWorkMode m) {
      events.push_back("end " + std::to_string(m));
    };
  }
};

TEST(WorkEventsTest, NestedSpansFireOnlyAtTheOutermostLevel) {
  TIdComponent c;
  WorkLog log;
  log.Attach(c);
  c.StartWork(wmRead, 100);
  c.StartWork(wmRead, 50);
  c.AddWork(wmRead, 10);
  c.AddWork(wmRead, 20);
  c.FinishWork(wmRead);
  EXPECT_EQ(log.events.back(), "work 0 30");
  c.FinishWork(wmRead);
  EXPECT_EQ(log.events,
            (std::vector<std::string>{"begin 0 100", "work 0 10", "work 0 30", "end 0"}));
  EXPECT_EQ(c.WorkInfo(wmRead).max, 100);  // the last span's figures stay readable
}

TEST(WorkEventsTest, DirectionsAreIndependentAndBytesOutsideASpanAreNotCounted) {
  TIdComponent c;
  WorkLog log;
  log.Attach(c);
  c.AddWork(wmRead, 5);
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(c.WorkInfo(wmRead).count, 0);
  c.StartWork(wmRead, 0);
  c.StartWork(wmWrite, 7);
  c.AddWork(wmWrite, 7);
  c.FinishWork(wmWrite);
  c.AddWork(wmRead, 3);
  c.FinishWork(wmRead);
  EXPECT_EQ(log.events, (std::vector<std::string>{"begin 0 0", "begin 1 7", "work 1 7", "end 1",
                                                  "work 0 3", "end 0"}));
}

TEST(WorkEventsTest, UnmatchedFinishLeavesTheLevelBelowZero) {
  TIdComponent c;
  WorkLog log;
  log.Attach(c);
  c.FinishWork(wmRead);
  c.StartWork(wmRead, 10);  // back to level 0: no outermost span opens
  c.AddWork(wmRead, 1);
  EXPECT_TRUE(log.events.empty());
}

TEST(WorkEventsTest, DelegateReceivesEverythingAndOwnStateStaysUntouched) {
  TIdComponent handler;
  TIdComponent connection;
  WorkLog own, delegated;
  own.Attach(handler);
  delegated.Attach(connection);
  handler.SetWorkDelegate(&connection);
  handler.StartWork(wmRead, 9);
  handler.AddWork(wmRead, 9);
  handler.FinishWork(wmRead);
  EXPECT_TRUE(own.events.empty());
  EXPECT_EQ(handler.WorkInfo(wmRead).level, 0);
  EXPECT_EQ(delegated.events.size(), 3u);
}

TEST(WorkEventsTest, HandlerExceptionPropagatesAndClosesTheSpan) {
  TIdComponent c;
  c.OnWorkEnd = [](TComponent*, TWorkMode) { throw EIdException("stop"); };
  c.StartWork(wmRead, 1);
  EXPECT_THROW(c.FinishWork(wmRead), EIdException);
  EXPECT_EQ(c.WorkInfo(wmRead).level, 0);
}

TEST(StatusTest, ReportStatusFillsTheFixedTexts) {
  TIdComponent c;
  std::vector<std::string> texts;
  c.ReportStatus(hsConnected);  // no handler: nothing happens
  c.OnStatus = [&](TComponent* sender, TIdStatus, const std::string& text) {
    EXPECT_EQ(sender, &c);
    texts.push_back(text);
  };
  c.ReportStatus(hsResolving, "example.org");
  c.ReportStatus(hsConnecting, "10.0.0.1");
  c.ReportStatus(hsConnected);
  c.ReportStatus(hsDisconnecting);
  c.ReportStatus(hsDisconnected);
  c.ReportStatus(hsStatusText, "free text");
  EXPECT_EQ(texts, (std::vector<std::string>{"Resolving hostname example.org.",
                                             "Connecting to 10.0.0.1.", "Connected.",
                                             "Disconnecting.", "Disconnected.", "free text"}));
}

TEST(StackUsageTest, EveryComponentHoldsOneUseUntilItAndItsChildrenAreGone) {
  const int before = StackUsageCount();
  {
    TIdComponent owner;
    new TIdComponent(&owner);
    EXPECT_EQ(StackUsageCount(), before + 2);
  }
  EXPECT_EQ(StackUsageCount(), before);
}

class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  using TIdAntiFreezeBase::TIdAntiFreezeBase;
  void Process() override { ++calls; }
  int calls = 0;
};

TEST(AntiFreezeTest, OnlyOneRegisteredAndItRunsPerItsSettings) {
  TIdAntiFreezeBase::RunAntiFreeze();  // nothing registered: nothing happens
  {
    CountingAntiFreeze af;
    EXPECT_EQ(af.IdleTimeOut(), 250);
    EXPECT_TRUE(af.Active() && af.OnlyWhenIdle() && af.ApplicationHasPriority());
    EXPECT_THROW(CountingAntiFreeze second, EIdException);
    EXPECT_EQ(TIdAntiFreezeBase::Registered(), &af) << "a refused second one changes nothing";
  }
  EXPECT_EQ(TIdAntiFreezeBase::Registered(), nullptr);
  CountingAntiFreeze af;
  { CountingAntiFreeze designTime(nullptr, true); }  // never registers, so never unregisters
  EXPECT_EQ(TIdAntiFreezeBase::Registered(), &af);
  TIdAntiFreezeBase::RunAntiFreeze(true);
  TIdAntiFreezeBase::RunAntiFreeze(false);  // not idle and OnlyWhenIdle: skipped
  TIdAntiFreezeBase::RunAntiFreeze(false, true);
  EXPECT_EQ(af.calls, 2);
  af.SetActive(false);
  TIdAntiFreezeBase::RunAntiFreeze(true);
  EXPECT_EQ(af.calls, 2);
}

}  // namespace
}  // namespace brixa
