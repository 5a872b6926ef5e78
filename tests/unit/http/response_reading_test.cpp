// Response reading against the scripted server: the three body framings with their work
// events, header blocks at and past the line limit, cut header blocks, malformed lines, and a
// close of the connection after every byte of a response.
#include <gtest/gtest.h>

#include <vector>

#include "http_test_support.h"
#include "transport/io_handler_exceptions.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

struct WorkLog {
  std::vector<std::int64_t> begins;
  std::vector<std::int64_t> works;
  int ends = 0;
  void Attach(TIdComponent& c) {
    c.OnWorkBegin = [this](TComponent*, TWorkMode m, std::int64_t max) {
      if (m == wmRead) begins.push_back(max);
    };
    c.OnWork = [this](TComponent*, TWorkMode m, std::int64_t n) {
      if (m == wmRead) works.push_back(n);
    };
    c.OnWorkEnd = [this](TComponent*, TWorkMode m) { ends += m == wmRead ? 1 : 0; };
  }
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

TEST(ResponseReading, CountedBodyArrivesWholeWithOneWorkSpan) {
  const std::string payload = Pattern(1000);
  ScriptedServer server(
      {Expect::LineBlock(),
       Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + payload.substr(0, 300)),
       test::Pause(30), Send(payload.substr(300))});
  TestClient http;
  WorkLog log;
  log.Attach(http);
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), payload);
  EXPECT_EQ(log.begins, std::vector<std::int64_t>{1000});
  ASSERT_FALSE(log.works.empty());
  EXPECT_EQ(log.works.back(), 1000);
  EXPECT_EQ(log.ends, 1);
}

TEST(ResponseReading, BodyWithoutLengthRunsUntilClose) {
  const std::string payload = Pattern(70000);
  ScriptedServer server(
      {Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\n\r\n" + payload), test::Close()});
  TestClient http;
  WorkLog log;
  log.Attach(http);
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), payload);
  EXPECT_EQ(log.begins, std::vector<std::int64_t>{0});
  EXPECT_EQ(log.works.back(), 70000);
  EXPECT_FALSE(http.IsConnected());
}

TEST(ResponseReading, ChunkedBodiesWithExtensionsAndTrailersKeepTheConnectionInStep) {
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nhello\r\n"
      "A; name=value\r\n, chunked!\r\n"
      "1b \r\n" +
      std::string(27, 'z') +
      "\r\n"
      "0\r\nX-Trailer-One: 1\r\nX-Trailer-Two: 2\r\n\r\n";
  ScriptedServer server({Expect::LineBlock(), Send(chunked), Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "next"))});
  TestClient http;
  WorkLog log;
  log.Attach(http);
  std::vector<std::string> statuses;
  http.OnStatus = [&](TComponent*, TIdStatus s, const std::string& text) {
    if (s == hsStatusText) statuses.push_back(text);
  };
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), "hello, chunked!" + std::string(27, 'z'));
  EXPECT_EQ(log.begins, (std::vector<std::int64_t>{5, 10, 27}));
  EXPECT_EQ(statuses, std::vector<std::string>{"Chunk Started"});
  TMemoryStream next;
  http.Get(test::UrlOf(server, "/next"), &next);
  EXPECT_EQ(next.DataString(), "next");
  EXPECT_EQ(server.Accepted(), 1u);
}

TEST(ResponseReading, MalformedChunkSizeEndsTheBody) {
  ScriptedServer server(
      {Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                 "3\r\nabc\r\nnot-a-size\r\n\r\n")});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), "abc");
}

std::string HeaderBlock(int lines) {
  std::string block;
  for (int i = 1; i <= lines; ++i) block += "X-Line-" + std::to_string(i) + ": v\r\n";
  return block;
}

// The line limit bounds what is kept; lines past it are still consumed, so the body that
// follows is read from its first byte.
TEST(ResponseReading, HeaderLineLimitKeepsTheFirstLinesAndTheBodyIntact) {
  for (const int extra : {253, 254, 300}) {  // plus Content-Length and Connection lines
    const std::string response =
        "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: keep-alive\r\n" + HeaderBlock(extra) +
        "\r\nbody";
    ScriptedServer server({Expect::LineBlock(), Send(response), Expect::LineBlock(),
                           Send(test::Response("HTTP/1.1 200 OK", "more"))});
    TestClient http;
    TMemoryStream body;
    http.Get(test::UrlOf(server, "/"), &body);
    const int total = extra + 2;
    EXPECT_EQ(body.DataString(), "body") << total;
    EXPECT_EQ(http.LastResponse().HeaderLines().Count(), std::min(total, 255)) << total;
    EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-Line-253"), "v") << total;
    EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-Line-254"), "");
    TMemoryStream more;
    http.Get(test::UrlOf(server, "/more"), &more);
    EXPECT_EQ(more.DataString(), "more") << total;
  }
}

TEST(ResponseReading, HeaderBlockCutByTheServerKeepsWhatArrived) {
  ScriptedServer server({Expect::LineBlock(),
                         Send("HTTP/1.1 200 OK\r\nX-First: 1\r\nX-Second: 2\r\nX-Thi"),
                         test::Close()});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-First"), "1");
  EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-Second"), "2");
  EXPECT_EQ(http.LastResponse().HeaderLines().Count(), 2);
  EXPECT_EQ(body.Size(), 0);
  EXPECT_FALSE(http.IsConnected());
}

TEST(ResponseReading, MalformedStatusLinesRaiseWithTheLineAsMessage) {
  for (const std::string line : {"HTTP/1.1 abc Broken", "garbage", "HTTP/1.1"}) {
    ScriptedServer server({Expect::LineBlock(), Send(test::Response(line, "why"))});
    TestClient http;
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/"), &body);
      FAIL() << line;
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), -1) << line;
      EXPECT_EQ(e.Message(), line);
      EXPECT_EQ(e.BodyText(), "why");
    }
  }
}

// A counted body cut short by the peer is an error when the caller wants the body; bodies that
// are dropped anyway stay lenient.
TEST(ResponseReading, ShortCountedBodyRaisesOnlyWhenTheBodyIsWanted) {
  {
    ScriptedServer server({Expect::LineBlock(),
                           Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123"),
                           test::Close()});
    TestClient http;
    TMemoryStream body;
    EXPECT_THROW(http.Get(test::UrlOf(server, "/"), &body), EIdConnClosedGracefully);
    EXPECT_EQ(body.DataString(), "0123");
    EXPECT_FALSE(http.IsConnected());
  }
  {
    ScriptedServer server({Expect::LineBlock(),
                           Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123"),
                           test::Close()});
    TestClient http;
    EXPECT_NO_THROW(http.Head(test::UrlOf(server, "/")));
    EXPECT_EQ(http.LastResponse().ContentLength(), 10);
  }
}

// HEAD, 204 and 304 answers carry no body. One that wrongly comes anyway is read and dropped;
// a chunked announcement makes the client wait for no chunk.
TEST(ResponseReading, BodylessAnswersLeaveTheConnectionReadyForTheNext) {
  const struct {
    const char* what;
    std::string method;
    std::string first;
  } cases[] = {
      {"HEAD with a wrong body", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nxxxxx"},
      {"HEAD without body", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"},
      {"HEAD announcing chunked", "HEAD", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"204 announcing chunked", "GET",
       "HTTP/1.1 204 No Content\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"204", "GET", "HTTP/1.1 204 No Content\r\n\r\n"},
  };
  for (const auto& c : cases) {
    ScriptedServer server({Expect::LineBlock(), Send(c.first), Expect::LineBlock(),
                           Send(test::Response("HTTP/1.1 200 OK", "second"))});
    TestClient http;
    TMemoryStream first;
    http.PerformRequest(c.method, test::UrlOf(server, "/"), nullptr, &first, {});
    EXPECT_EQ(first.Size(), 0) << c.what;
    TMemoryStream second;
    http.Get(test::UrlOf(server, "/2"), &second);
    EXPECT_EQ(second.DataString(), "second") << c.what;
    EXPECT_EQ(server.Accepted(), 1u) << c.what;
  }
}

// An error answer to HEAD announces its page's length but sends no page: the client raises the
// status at once instead of waiting for bytes that never come (the server keeps the connection
// open past the client's read timeout, so waiting would end in a timeout instead).
TEST(ResponseReading, HeadErrorAnswersAnnouncingABodyRaiseTheirStatus) {
  const struct {
    const char* answer;
    std::int32_t code;
  } cases[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 153\r\n\r\n", 404},
      {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 20\r\n\r\n", 500},
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
       "Content-Length: 20\r\n\r\n",
       401},
  };
  for (const auto& c : cases) {
    constexpr std::int32_t kReadTimeoutMs = 800;
    ScriptedServer server(
        {Expect::LineBlock(), Send(c.answer), test::Pause(kReadTimeoutMs + 400), test::Close()});
    TestClient http;
    http.SetReadTimeout(kReadTimeoutMs);
    try {
      http.Head(test::UrlOf(server, "/missing"));
      ADD_FAILURE() << c.code << ": no exception";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), c.code);
    } catch (const Exception& e) {
      ADD_FAILURE() << c.code << ": " << e.ClassName() << " " << e.Message();
    }
  }
}

TEST(ResponseReading, CompressedBodyIsStoredAsSentWithoutACompressor) {
  const std::string gz(
      "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03KL\x04\x00\x45\x9f\x2f\x87\x02\x00\x00\x00", 22);
  ScriptedServer server({Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", gz,
                                                                  "Content-Encoding: gzip\r\n"))});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), gz);
  EXPECT_EQ(server.Received(0).find("Accept-Encoding: identity\r\n") != std::string::npos, true);
}

// Closes the connection after every byte offset of a response: each run ends with a clean
// exception or with the whole, correct body; never with a hang, a crash or a wrong body.
TEST(ResponseReading, CloseAtEveryOffsetEndsCleanly) {
  const std::string counted = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nX-Pad: y\r\n\r\n0123456789";
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n0123\r\n6\r\n456789\r\n0\r\n\r\n";
  for (const std::string& full : {counted, chunked}) {
    const std::size_t lengthKnownAt = full.find("\r\n", full.find("\r\n") + 2) + 2;
    for (std::size_t cut = 0; cut <= full.size(); ++cut) {
      ScriptedServer server({Expect::LineBlock(), Send(full.substr(0, cut)), test::Close()});
      TestClient http;
      TMemoryStream body;
      try {
        http.Get(test::UrlOf(server, "/"), &body);
        // Without its framing line the body is whatever came until the close: nothing here.
        if (cut < lengthKnownAt) {
          EXPECT_EQ(body.Size(), 0) << cut;
        } else {
          EXPECT_EQ(body.DataString(), "0123456789") << cut;
        }
      } catch (const EIdReadTimeout&) {
        ADD_FAILURE() << "waited for bytes that could not come, cut at " << cut;
      } catch (const EIdConnClosedGracefully&) {
        EXPECT_LT(cut, full.size());
      } catch (const EIdHTTPProtocolException& e) {
        EXPECT_LT(cut, full.size()) << e.Message();
      }
    }
  }
}

}  // namespace
}  // namespace brixa
