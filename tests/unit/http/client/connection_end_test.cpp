// What the client does when a connection ends: the after-close step (OnDisconnected, then a
// finished authentication handed to the store) runs once per connection, whoever closed it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "http/auth/auth_basic.h"
#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

// Basic credentials that behave like a connection-bound scheme's last step: complete as soon
// as they are prepared, and over with their connection. Plain Basic never completes, is never
// stored and outlives connections.
class OneStepBasic : public TIdBasicAuthentication {
 public:
  static constexpr std::string_view kClassName = "OneStepBasic";
  [[nodiscard]] bool NeedsKeepAlive() const override { return true; }
  [[nodiscard]] TAuthNextAction Next() override {
    const TAuthNextAction action = TIdBasicAuthentication::Next();
    SetStep(StepCount());
    return action;
  }
};

class KeepingStore : public TIdAuthenticationStore {
 public:
  std::vector<std::string> kept;
  void AddAuthentication(const TIdAuthentication& auth, const TIdURI& uri) override {
    kept.push_back(auth.Realm() + " " + uri.Host() + uri.Directory() + uri.Resource());
  }
};

const std::string kChallenge = test::Response("HTTP/1.1 401 Unauthorized", "who?",
                                              "WWW-Authenticate: Basic realm=\"vault\"\r\n");
const std::string kStored = "vault 127.0.0.1/dir/file";

// A client that answers Basic challenges inside the request and counts its after-close steps,
// noting how many connections the server had accepted at each.
struct Client {
  explicit Client(const ScriptedServer& server) {
    http.SetAuthStore(&store);
    test::AnswerChallengesAs(http, "alice", "secret");
    http.OnSelectAuthorization = [](TComponent*, TIdAuthenticationClass& cls,
                                    const TIdHeaderList&) {
      cls = TIdAuthenticationClass::Of<OneStepBasic>();
    };
    http.OnDisconnected = [this, &server](TComponent*) {
      acceptedAtClose.push_back(server.Accepted());
    };
  }
  TestClient http;
  KeepingStore store;
  std::vector<std::size_t> acceptedAtClose;
};

TEST(ConnectionEnd, PeerClosingAfterTheAnswerSettlesTheExchangeBeforeTheRequestReturns) {
  // The body runs until the server closes: the close is seen while reading it.
  ScriptedServer server({Expect::LineBlock(), Send(kChallenge), Expect::LineBlock(),
                         Send("HTTP/1.1 200 OK\r\n\r\nwelcome"), test::Close()});
  Client client(server);
  TMemoryStream body;
  client.http.Get(test::UrlOf(server, "/dir/file"), &body);
  EXPECT_EQ(body.DataString(), "welcome");
  EXPECT_EQ(client.acceptedAtClose, std::vector<std::size_t>{1});
  EXPECT_EQ(client.store.kept, std::vector<std::string>{kStored});
  EXPECT_EQ(client.http.Request().AuthScheme(), nullptr);
  client.http.CloseConnection();
  EXPECT_EQ(client.acceptedAtClose.size(), 1u) << "the step ran twice";
  ASSERT_TRUE(server.WaitDone());
  EXPECT_NE(server.Received(0).find("Authorization: Basic YWxpY2U6c2VjcmV0\r\n"),
            std::string::npos);
}

TEST(ConnectionEnd, PeerClosingAnIdleConnectionIsSettledBeforeTheNextOneOpens) {
  ScriptedServer server(std::vector<test::Script>{
      {Expect::LineBlock(), Send(kChallenge), Expect::LineBlock(),
       Send(test::Response("HTTP/1.1 200 OK", "welcome")),
       // Late enough that the first request ends with the connection still open.
       test::Pause(200), test::Close()},
      {Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "again")), Expect::Close()}});
  Client client(server);
  TMemoryStream body;
  client.http.Get(test::UrlOf(server, "/dir/file"), &body);
  EXPECT_TRUE(client.store.kept.empty()) << "settled while the connection was open";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  client.http.Get(test::UrlOf(server, "/dir/file"), &body);
  EXPECT_EQ(body.DataString(), "welcomeagain");
  // Settled when the dead connection was found, before the second connection was accepted.
  EXPECT_EQ(client.acceptedAtClose, std::vector<std::size_t>{1});
  EXPECT_EQ(client.store.kept, std::vector<std::string>{kStored});
  client.http.CloseConnection();
  EXPECT_EQ(client.acceptedAtClose, (std::vector<std::size_t>{1, 2}));
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Accepted(), 2u);
}

TEST(ConnectionEnd, ClientClosingSettlesTheExchangeOnce) {
  ScriptedServer server({Expect::LineBlock(), Send(kChallenge), Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "welcome")), Expect::Close()});
  Client client(server);
  TMemoryStream body;
  client.http.Get(test::UrlOf(server, "/dir/file"), &body);
  EXPECT_TRUE(client.http.IsConnected());
  EXPECT_TRUE(client.store.kept.empty());
  client.http.CloseConnection();
  client.http.CloseConnection();
  EXPECT_EQ(client.acceptedAtClose, std::vector<std::size_t>{1});
  EXPECT_EQ(client.store.kept, std::vector<std::string>{kStored});
  EXPECT_EQ(client.http.Request().AuthScheme(), nullptr);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Failures(), "");
}

}  // namespace
}  // namespace brixa
