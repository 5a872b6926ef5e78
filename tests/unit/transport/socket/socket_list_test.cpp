// Socket lists: the 64-socket limit and readiness waits, also beyond the select limit.

#include "transport/socket/socket_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "transport/socket/stack_exceptions.h"
#include "unit/transport/socket_test_pair.h"

namespace brixa {
namespace {

using testing::LoopbackPair;
using testing::StackUse;

TEST(SocketListTest, HoldsAtMostSixtyFourDistinctSockets) {
  TIdSocketList list;
  for (int i = 0; i < 64; ++i) list.Add(1000 + i);
  list.Add(1000);  // already present: no second slot
  EXPECT_EQ(list.Count(), 64);
  try {
    list.Add(5000);
    FAIL() << "a 65th socket fitted";
  } catch (const EIdStackSetSizeExceeded& e) {
    EXPECT_EQ(e.Message(), "Set Size Exceeded.");
  }
  EXPECT_EQ(list.Items(0), 1000);
  EXPECT_EQ(list.Items(63), 1063);
  EXPECT_THROW((void)list.Items(64), EIdStackSetSizeExceeded);
  EXPECT_THROW((void)list.Items(-1), EIdStackSetSizeExceeded);

  list.Remove(1000);
  list.Remove(4242);  // not present: nothing happens
  EXPECT_EQ(list.Count(), 63);
  EXPECT_EQ(list.Items(0), 1001);
  EXPECT_FALSE(list.Contains(1000));
  EXPECT_TRUE(list.Contains(1063));
  list.Add(5000);

  const std::unique_ptr<TIdSocketList> copy = list.Clone();
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(copy->Count(), 64);
  EXPECT_TRUE(copy->Contains(5000));
}

TEST(SocketListTest, SelectReadPollsWithZeroAndWaitsForData) {
  StackUse use;
  LoopbackPair pair;
  TIdSocketList list;
  list.Add(pair.server.SocketId());
  list.Add(pair.client.SocketId());
  EXPECT_FALSE(list.SelectRead(0));

  LoopbackPair::SendText(pair.client, "ping");
  EXPECT_TRUE(list.SelectRead(2000));
  // The plain wait leaves the list as it was.
  EXPECT_EQ(list.Count(), 2);
}

TEST(SocketListTest, GeneralSelectKeepsOnlyTheReadyMembers) {
  StackUse use;
  LoopbackPair pair;
  TIdSocketList readers;
  readers.Add(pair.server.SocketId());
  readers.Add(pair.client.SocketId());
  TIdSocketList writers;
  writers.Add(pair.client.SocketId());
  // Nothing to read yet, but a fresh connection can be written to.
  EXPECT_TRUE(TIdSocketList::Select(&readers, &writers, nullptr, 2000));
  EXPECT_EQ(readers.Count(), 0);
  EXPECT_EQ(writers.Count(), 1);

  LoopbackPair::SendText(pair.client, "data");
  readers.Add(pair.server.SocketId());
  readers.Add(pair.client.SocketId());
  EXPECT_TRUE(TIdSocketList::Select(&readers, nullptr, nullptr, 2000));
  ASSERT_EQ(readers.Count(), 1);
  EXPECT_EQ(readers.Items(0), pair.server.SocketId());
}

TEST(SocketListTest, WaitingOnNothingOrOnAClosedSocketFails) {
  StackUse use;
  TIdSocketList empty;
  try {
    (void)empty.SelectRead(0);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10022);
  }
  TIdSocketHandle handle;
  handle.OpenHandle();
  TIdSocketList stale;
  stale.Add(handle.SocketId());
  handle.ReleaseSocket();
  // Winsock reports a closed socket as not a socket; so does the POSIX stack.
  EXPECT_THROW((void)stale.SelectRead(0), EIdNotASocket);
}

// An fd_set holds descriptors below 1024 on Linux; a wait must still see sockets numbered
// beyond that (busy processes get there). Winsock handles have no such limit.
TEST(SocketListTest, WaitsOnSocketsNumberedBeyondTheSelectLimit) {
  constexpr TIdStackSocketHandle kBeyondSelectLimit = 1100;
  constexpr int kMaxFillers = 1200;
  StackUse use;
  std::vector<std::unique_ptr<TIdSocketHandle>> fillers;
  while (static_cast<int>(fillers.size()) < kMaxFillers &&
         (fillers.empty() || fillers.back()->SocketId() < kBeyondSelectLimit)) {
    fillers.push_back(std::make_unique<TIdSocketHandle>());
    fillers.back()->OpenHandle();
  }
  LoopbackPair pair;
  ASSERT_GT(pair.server.SocketId(), kBeyondSelectLimit);
  TIdSocketList list;
  list.Add(pair.server.SocketId());
  EXPECT_FALSE(list.SelectRead(0));
  LoopbackPair::SendText(pair.client, "far");
  EXPECT_TRUE(list.SelectRead(2000));
}

}  // namespace
}  // namespace brixa
