// Intercept chains: the order each direction passes them, refused cycles, and one intercept per
// connection.

#include "transport/io/intercept.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "transport/io/io_handler_stack.h"
#include "unit/transport/client_fixture.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;

// Records what each intercept of a chain sees, in order.
struct ChainLog {
  std::vector<std::string> calls;

  void Watch(TIdConnectionIntercept& intercept, const std::string& name) {
    intercept.OnConnect = [this, name](TIdConnectionIntercept*) {
      calls.push_back(name + " connect");
    };
    intercept.OnDisconnect = [this, name](TIdConnectionIntercept*) {
      calls.push_back(name + " disconnect");
    };
    intercept.OnReceive = [this, name](TIdConnectionIntercept*, TIdByteArray& bytes) {
      calls.push_back(name + " receive " + std::string(bytes.begin(), bytes.end()));
    };
    intercept.OnSend = [this, name](TIdConnectionIntercept*, TIdByteArray& bytes) {
      calls.push_back(name + " send " + std::string(bytes.begin(), bytes.end()));
    };
  }
};

TEST(InterceptTest, ChainSeesSendsOutwardsAndReceivesInwards) {
  TIdConnectionIntercept nearEnd;
  TIdConnectionIntercept farEnd;
  nearEnd.SetIntercept(&farEnd);
  ChainLog log;
  log.Watch(nearEnd, "near");
  log.Watch(farEnd, "far");
  // The near end rewrites what goes out, the far end what comes in (it sees it first).
  auto sendHook = nearEnd.OnSend;
  nearEnd.OnSend = [&](TIdConnectionIntercept* sender, TIdByteArray& bytes) {
    sendHook(sender, bytes);
    std::transform(bytes.begin(), bytes.end(), bytes.begin(), [](std::uint8_t b) {
      return static_cast<std::uint8_t>(b >= 'a' && b <= 'z' ? b - 32 : b);
    });
  };
  auto receiveHook = farEnd.OnReceive;
  farEnd.OnReceive = [&](TIdConnectionIntercept* sender, TIdByteArray& bytes) {
    receiveHook(sender, bytes);
    bytes.insert(bytes.begin(), '>');
  };

  ScriptedServer server({Expect::Line(), Send("pong\n"), Expect::Close()});
  TIdTCPClient client;
  client.SetIntercept(&nearEnd);
  client.SetHost(server.Host());
  client.SetPort(server.Port());
  client.SetReadTimeout(5000);
  client.ConnectToHost();
  EXPECT_EQ(nearEnd.Connection(), &client);
  client.IOHandler()->WriteLine("ping");
  EXPECT_EQ(client.IOHandler()->ReadLine(), ">pong");
  client.CloseConnection();
  EXPECT_EQ(nearEnd.Connection(), nullptr);
  EXPECT_EQ(server.Received(), "PING\r\n");
  EXPECT_EQ(log.calls, (std::vector<std::string>{"near connect", "far connect",
                                                 "near send ping\r\n", "far send PING\r\n",
                                                 "far receive pong\n", "near receive >pong\n",
                                                 "far disconnect", "near disconnect"}));
}

TEST(InterceptTest, CircularChainsAreRefused) {
  TIdConnectionIntercept a;
  TIdConnectionIntercept b;
  TIdConnectionIntercept c;
  a.SetIntercept(&b);
  b.SetIntercept(&c);
  for (TIdConnectionIntercept* start : {&a, &c}) {
    try {
      c.SetIntercept(start);
      FAIL() << "no exception";
    } catch (const EIdInterceptCircularLink& e) {
      EXPECT_EQ(e.Message(), "TIdConnectionIntercept: Circular links are not allowed");
    }
  }
  EXPECT_EQ(c.Intercept(), nullptr);
  {
    TIdConnectionIntercept d;
    c.SetIntercept(&d);
  }
  EXPECT_EQ(c.Intercept(), nullptr);  // a destroyed link is forgotten
}

TEST(InterceptTest, ConnectionAndHandlerMustShareOneIntercept) {
  TIdConnectionIntercept mine;
  TIdConnectionIntercept other;
  TIdTCPClient client;
  TIdIOHandlerStack handler;
  handler.SetIntercept(&other);
  client.SetIntercept(&mine);
  try {
    client.SetIOHandler(&handler);
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "The IOHandler already has a different Intercept assigned");
  }
  EXPECT_EQ(client.IOHandler(), nullptr);

  handler.SetIntercept(nullptr);
  client.SetIOHandler(&handler);
  EXPECT_EQ(handler.Intercept(), &mine);  // the connection's intercept goes to the handler
  EXPECT_THROW(client.SetIntercept(&other), EIdException);
  client.SetIntercept(nullptr);
  EXPECT_EQ(client.Intercept(), nullptr);
}

TEST(InterceptTest, DestroyingAConnectedClientEndsItsConnectionOnce) {
  ScriptedServer server({Expect::Close()});
  TIdConnectionIntercept intercept;
  int disconnects = 0;
  intercept.OnDisconnect = [&](TIdConnectionIntercept*) { ++disconnects; };
  {
    TIdTCPClient client;
    client.SetIntercept(&intercept);
    client.SetHost(server.Host());
    client.SetPort(server.Port());
    client.ConnectToHost();
    EXPECT_EQ(intercept.Connection(), &client);
  }
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(intercept.Connection(), nullptr);
  EXPECT_TRUE(server.WaitDone());  // the peer saw the socket close
  EXPECT_EQ(server.Failures(), "");
}

}  // namespace
}  // namespace brixa
