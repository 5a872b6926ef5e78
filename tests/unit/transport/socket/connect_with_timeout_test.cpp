// Connecting on the connect thread: failures that carry no socket error number, and the waiting
// in anti-freeze steps while a connect hangs.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "transport/io/io_handler_stack.h"
#include "transport/io/tcp_client.h"
#include "transport/socket/connect_thread.h"
#include "transport/socket/stack_exceptions.h"
#include "unit/transport/client_fixture.h"

namespace brixa {
namespace {

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// Opens and binds its socket as usual, then connects on the connect thread to a peer address
// that the socket layer cannot even turn into a socket address: the connect step fails with an
// exception that is not a socket error.
class UnusablePeerHandler : public TIdIOHandlerStack {
 public:
  std::string peer;
  TIdIPVersion version = Id_IPv4;

 protected:
  void EstablishConnection() override {
    TIdIOHandlerSocket::EstablishConnection();
    Binding()->SetPeer(peer, 80, version);
    ConnectWithTimeout(5000);
  }
};

TEST(ConnectThreadTest, FailureWithoutSocketErrorReachesTheCallerAsConnectException) {
  struct Case {
    std::string peer;
    TIdIPVersion version;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"127.0.0.x", Id_IPv4, "'x' is not a valid integer value"},
      {"::1::2", Id_IPv6, "::1::2 is not a valid IPv6 address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.peer);
    UnusablePeerHandler handler;
    handler.peer = c.peer;
    handler.version = c.version;
    TIdTCPClient client;
    client.SetIOHandler(&handler);
    client.SetIPVersion(c.version);  // the socket is opened for the peer's family
    client.SetHost(c.version == Id_IPv4 ? "127.0.0.1" : "::1");
    client.SetPort(80);
    const auto start = std::chrono::steady_clock::now();
    try {
      client.ConnectToHost();
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      FAIL() << "reported as a socket error: " << e.Message();
    } catch (const EIdConnectException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    // The caller woke when the thread ended, not when the limit passed; the thread is joined
    // and the socket closed.
    EXPECT_LT(MillisecondsSince(start), 4000);
    EXPECT_FALSE(handler.IsOpen());
    EXPECT_FALSE(handler.Binding()->IsAllocated());
    EXPECT_EQ(client.IOHandler(), &handler);
  }
}

// Counts how often it is asked to let the user interface work.
class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  int calls = 0;
  void Process() override { ++calls; }
};

TEST(ConnectThreadTest, HangingConnectLetsTheAntiFreezeWorkOncePerStep) {
  const test::FullBacklogListener hanging;
  if (!hanging.Full()) GTEST_SKIP() << "could not fill a loopback accept queue here";
  struct Case {
    const char* what;
    bool active;
    std::int32_t idleTimeOut;
    int calls;
  };
  // 600 ms in steps of the smaller of 125 ms and IdleTimeOut; the last step is slept without
  // a call, so 600 / 50 - 1 and (600 - 125) / 125 rounded up.
  const std::vector<Case> cases = {
      {"steps of IdleTimeOut", true, 50, 11},
      {"steps of 125 ms", true, 500, 4},
      {"inactive anti-freeze", false, 50, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CountingAntiFreeze antiFreeze;
    antiFreeze.SetActive(c.active);
    antiFreeze.SetIdleTimeOut(c.idleTimeOut);
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(hanging.Port());
    client.SetConnectTimeout(600);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.ConnectToHost(), EIdConnectTimeout);
    EXPECT_GE(MillisecondsSince(start), 550);
    EXPECT_EQ(antiFreeze.calls, c.calls);
  }
}

}  // namespace
}  // namespace brixa
