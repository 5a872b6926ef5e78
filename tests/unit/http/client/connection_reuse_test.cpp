// When a kept-alive connection may carry the next request: only after an answer that was read
// to its very end. After any failure while an answer is read, the connection is closed before
// the request returns, and the next request gets its own answer on a new connection, never the
// rest of the failed one.
#include <gtest/gtest.h>

#include <functional>

#include "transport/io/io_handler_exceptions.h"
#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

// What comes after the failed answer on its connection: a forged response that must never be
// read as the answer to the next request.
const std::string kForged = test::Response("HTTP/1.1 200 OK", "EVIL");
const std::string kGood = test::Response("HTTP/1.1 200 OK", "good");
constexpr std::int32_t kShortReadTimeoutMs = 300;

class FailingStream : public TMemoryStream {
 public:
  std::int64_t Write(const void*, std::int64_t) override { throw EWriteError("disk full"); }
};

struct Case {
  const char* what;
  test::Script first;  // the failing exchange, without the final wait for the client's close
  const char* raised;  // class name; "" when the first request succeeds
  bool reused;         // the second request goes on the first connection
  std::function<void(TestClient&)> setUp = {};
  bool failingStream = false;
  const char* method = "GET";
};

std::vector<Case> Cases() {
  const std::string bigError(3 * 1024 * 1024, 'e');
  return {
      {"read timeout inside the body",
       {Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234"),
        test::Pause(kShortReadTimeoutMs * 3), Send("56789" + kForged)},
       "EIdReadTimeout",
       false,
       [](TestClient& http) { http.SetReadTimeout(kShortReadTimeoutMs); }},
      {"read timeout inside the header block",
       {Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nX-Slow: "),
        test::Pause(kShortReadTimeoutMs * 3), Send("1\r\nContent-Length: 4\r\n\r\nEVIL")},
       "EIdReadTimeout",
       false,
       [](TestClient& http) { http.SetReadTimeout(kShortReadTimeoutMs); }},
      {"body cut short",
       {Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123"),
        test::ShutdownWrite()},
       "EIdHTTPIncompleteResponse",
       false},
      {"conflicting lengths",
       {Expect::LineBlock(),
        Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 6\r\n\r\nok" + kForged)},
       "EIdHTTPConflictingContentLength",
       false},
      {"length that is no number",
       {Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nContent-Length: 2x\r\n\r\nok" + kForged)},
       "EIdHTTPInvalidContentLength",
       false},
      {"negative chunk size",
       {Expect::LineBlock(),
        Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n-1\r\n" + kForged)},
       "EIdHTTPInvalidChunkSize",
       false},
      {"failing stream",
       {Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "0123456789"))},
       "EWriteError",
       false,
       {},
       true},
      {"event handler raising",
       {Expect::LineBlock(),
        Send(test::Response("HTTP/1.1 302 Found", "moved", "Location: /elsewhere\r\n"))},
       "EIdException",
       false,
       [](TestClient& http) {
         http.SetHandleRedirects(true);
         http.OnRedirect = [](TComponent*, std::string&, std::int32_t&, bool&, std::string&) {
           throw EIdException("no");
         };
       }},
      {"unsupported challenge, body read",
       {Expect::LineBlock(), Send(test::Response("HTTP/1.1 401 Unauthorized", "nope!",
                                                 "WWW-Authenticate: Negotiate\r\n"))},
       "EIdHTTPProtocolException",
       true,
       [](TestClient& http) { test::AnswerChallengesAs(http, "u", "p"); }},
      {"unsupported challenge to HEAD, body sent anyway",
       {Expect::LineBlock(), Send(test::Response("HTTP/1.1 401 Unauthorized", "nope!",
                                                 "WWW-Authenticate: Negotiate\r\n"))},
       "EIdHTTPProtocolException",
       false,
       {},
       false,
       "HEAD"},
      {"error text past its cap",
       {Expect::LineBlock(), Send(test::Response("HTTP/1.1 404 Not Found", bigError))},
       "EIdHTTPProtocolException",
       false},
      {"HTTP/1.0 answer without keep-alive",
       {Expect::LineBlock(), Send(test::Response("HTTP/1.0 200 OK", "old"))},
       "",
       false},
      {"HTTP/1.0 answer with keep-alive",
       {Expect::LineBlock(),
        Send(test::Response("HTTP/1.0 200 OK", "old", "Connection: keep-alive\r\n"))},
       "",
       true},
      {"chunked with a length too",
       {Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                  "Content-Length: 3\r\n\r\n3\r\nabc\r\n0\r\n\r\n")},
       "",
       false},
  };
}

TEST(ConnectionReuse, AfterAnyFailureTheNextRequestGetsItsOwnAnswer) {
  for (Case& c : Cases()) {
    std::vector<test::Script> scripts;
    test::Script first = c.first;
    if (c.reused) {
      first.insert(first.end(), {Expect::LineBlock(), Send(kGood)});
      scripts.push_back(first);
    } else {
      first.push_back(Expect::Close());
      scripts.push_back(first);
      scripts.push_back({Expect::LineBlock(), Send(kGood)});
    }
    ScriptedServer server(scripts);
    TestClient http;
    if (c.setUp) c.setUp(http);
    TMemoryStream plain;
    FailingStream failing;
    TStream* const body = c.failingStream ? static_cast<TStream*>(&failing) : &plain;
    std::string raised;
    try {
      http.PerformRequest(c.method, test::UrlOf(server, "/first"), nullptr,
                          std::string(c.method) == "HEAD" ? nullptr : body, {});
    } catch (const Exception& e) {
      raised = e.ClassName();
    }
    EXPECT_EQ(raised, c.raised) << c.what;
    EXPECT_EQ(http.IsConnected(), c.reused) << c.what;
    http.OnRedirect = nullptr;
    TMemoryStream next;
    http.Get(test::UrlOf(server, "/next"), &next);
    EXPECT_EQ(next.DataString(), "good") << c.what;
    ASSERT_TRUE(server.WaitDone()) << c.what;
    EXPECT_EQ(server.Accepted(), c.reused ? 1u : 2u) << c.what;
  }
}

// The error text keeps its first MiB; the request does not wait for the rest.
TEST(ConnectionReuse, ErrorTextIsCappedAndItsConnectionClosed) {
  const std::string page(2 * 1024 * 1024, 'x');
  for (const bool chunked : {false, true}) {
    const std::string answer =
        chunked ? "HTTP/1.1 500 Oops\r\nTransfer-Encoding: chunked\r\n\r\n200000\r\n" + page +
                      "\r\n0\r\n\r\n"
                : test::Response("HTTP/1.1 500 Oops", page);
    ScriptedServer server({Expect::LineBlock(), Send(answer)});
    TestClient http;
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/"), &body);
      ADD_FAILURE() << "no exception";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), 500);
      EXPECT_EQ(e.BodyText().size(), static_cast<std::size_t>(kMaxErrorBodyBytes));
      EXPECT_EQ(e.BodyText(), page.substr(0, e.BodyText().size()));
    }
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(body.Size(), 0);
  }
}

// A kept connection the server ends just as the next request goes out (its idle timeout): the
// request meets a close or a reset before any answer, and a repeatable request goes once more on
// a new connection. A request with a body, or a second failure, is not repeated.
TEST(ConnectionReuse, RequestOnAConnectionTheServerJustClosedGoesOnceMore) {
  for (const bool reset : {false, true}) {
    ScriptedServer server(std::vector<test::Script>{
        {Expect::LineBlock(), Send(kGood), Expect::LineBlock(),
         reset ? test::Reset() : test::Close()},
        {Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "again"))}});
    TestClient http;
    TMemoryStream first;
    TMemoryStream second;
    http.Get(test::UrlOf(server, "/a"), &first);
    http.Get(test::UrlOf(server, "/b"), &second);
    EXPECT_EQ(first.DataString(), "good");
    EXPECT_EQ(second.DataString(), "again") << (reset ? "reset" : "close");
    EXPECT_EQ(server.Accepted(), 2u);
    EXPECT_NE(server.Received(1).find("GET /b "), std::string::npos);
  }
  // Closed twice in a row: the failure reaches the caller.
  ScriptedServer twice(std::vector<test::Script>{
      {Expect::LineBlock(), Send(kGood), Expect::LineBlock(), test::Close()},
      {Expect::LineBlock(), test::Close()}});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(twice, "/a"), &body);
  EXPECT_THROW(http.Get(test::UrlOf(twice, "/b"), &body), EIdConnClosedGracefully);
}

}  // namespace
}  // namespace brixa
