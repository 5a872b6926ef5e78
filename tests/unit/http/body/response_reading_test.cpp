// Response reading against the scripted server: the three body framings with their work
// events, header blocks at and past the line limit, cut header blocks, malformed lines, and a
// close of the connection after every byte of a response.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/stack_exceptions.h"
#include "unit/http/http_test_support.h"

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

// A chunk-size line that does not read as a size is no end of the body: what follows it (here a
// forged answer) must never be read as the next response.
TEST(ResponseReading, MalformedChunkSizesRaiseAndTheNextRequestGetsItsOwnAnswer) {
  const struct {
    const char* sizeLine;
    const char* exception;
  } cases[] = {
      {"not-a-size", "EIdHTTPInvalidChunkSize"},
      {"-1", "EIdHTTPInvalidChunkSize"},
      {" 5", "EIdHTTPInvalidChunkSize"},
      {"5x", "EIdHTTPInvalidChunkSize"},
      {"0x5", "EIdHTTPInvalidChunkSize"},
      {"", "EIdHTTPInvalidChunkSize"},
      {"10000000000000000", "EIdHTTPChunkTooLarge"},
      {"1\r\nxy", "EIdHTTPInvalidChunkSize"},  // chunk data longer than its size
  };
  for (const auto& c : cases) {
    const std::string forged = test::Response("HTTP/1.1 200 OK", "EVIL");
    ScriptedServer server(std::vector<test::Script>{
        {Expect::LineBlock(),
         Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n" +
              std::string(c.sizeLine) + "\r\n" + forged),
         Expect::Close()},
        {Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "good"))}});
    TestClient http;
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/"), &body);
      ADD_FAILURE() << c.sizeLine << ": no exception";
    } catch (const EIdHTTPInvalidChunkSize& e) {
      EXPECT_STREQ(e.ClassName(), c.exception) << c.sizeLine;
    }
    EXPECT_TRUE(body.DataString().starts_with("abc")) << c.sizeLine;
    EXPECT_FALSE(http.IsConnected()) << c.sizeLine;
    TMemoryStream next;
    http.Get(test::UrlOf(server, "/next"), &next);
    EXPECT_EQ(next.DataString(), "good") << c.sizeLine;
    ASSERT_TRUE(server.WaitDone()) << c.sizeLine;
    EXPECT_EQ(server.Failures(), "") << c.sizeLine;
  }
}

std::string HeaderBlock(int lines) {
  std::string block;
  for (int i = 1; i <= lines; ++i) block += "X-Line-" + std::to_string(i) + ": v\r\n";
  return block;
}

// A header block is bounded by its line count and its size. Past either the answer is refused,
// never cut silently (a dropped line may be the one that frames the body), and the connection
// goes; the next request gets its own answer.
TEST(ResponseReading, HeaderBlocksPastTheirBoundsRaiseAndClose) {
  const std::string longValue(8000, 'v');
  std::string oversized;  // 34 lines, 272 KB
  for (int i = 0; i < 34; ++i)
    oversized += "X-Big-" + std::to_string(i) + ": " + longValue + "\r\n";
  const struct {
    const char* what;
    std::string headers;
    std::int32_t lineLimit;
    bool accepted;
  } cases[] = {
      {"255 lines", HeaderBlock(253), TIdHTTP::DefaultHeaderLineLimit, true},
      {"256 lines", HeaderBlock(254), TIdHTTP::DefaultHeaderLineLimit, false},
      {"300 lines", HeaderBlock(298), TIdHTTP::DefaultHeaderLineLimit, false},
      {"3000 lines, no line limit", HeaderBlock(2998), 0, true},
      {"272 KB in 34 lines", oversized, TIdHTTP::DefaultHeaderLineLimit, false},
      {"20000 lines, no line limit", HeaderBlock(20000), 0, false},
  };
  for (const auto& c : cases) {
    // Content-Length comes last, where a reader that drops lines would lose it.
    const std::string response = "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\n" + c.headers +
                                 "Content-Length: 4\r\n\r\nbody";
    const std::string more = test::Response("HTTP/1.1 200 OK", "more");
    std::vector<test::Script> scripts;
    if (c.accepted) {
      scripts.push_back({Expect::LineBlock(), Send(response), Expect::LineBlock(), Send(more)});
    } else {
      scripts.push_back({Expect::LineBlock(), Send(response), Expect::Close()});
      scripts.push_back({Expect::LineBlock(), Send(more)});
    }
    ScriptedServer server(scripts);
    TestClient http;
    http.SetHeaderLineLimit(c.lineLimit);
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/"), &body);
      EXPECT_TRUE(c.accepted) << c.what;
      EXPECT_EQ(body.DataString(), "body") << c.what;
      EXPECT_EQ(http.LastResponse().ContentLength(), 4) << c.what;
    } catch (const EIdHTTPHeaderBlockTooLarge& e) {
      EXPECT_FALSE(c.accepted) << c.what;
      EXPECT_EQ(e.Message(), "Response header block too large");
      EXPECT_FALSE(http.IsConnected()) << c.what;
    }
    TMemoryStream next;
    http.Get(test::UrlOf(server, "/more"), &next);
    EXPECT_EQ(next.DataString(), "more") << c.what;
    ASSERT_TRUE(server.WaitDone()) << c.what;
    EXPECT_EQ(server.Failures(), "") << c.what;
  }
}

// The lines that arrived stay readable, but an answer whose header block never ended is no
// answer: whatever framed its body is unknown.
TEST(ResponseReading, HeaderBlockCutByTheServerRaisesWithWhatArrived) {
  ScriptedServer server({Expect::LineBlock(),
                         Send("HTTP/1.1 200 OK\r\nX-First: 1\r\nX-Second: 2\r\nX-Thi"),
                         test::Close()});
  TestClient http;
  TMemoryStream body;
  EXPECT_THROW(http.Get(test::UrlOf(server, "/"), &body), EIdHTTPIncompleteResponse);
  EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-First"), "1");
  EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-Second"), "2");
  EXPECT_EQ(http.LastResponse().HeaderLines().Count(), 2);
  EXPECT_EQ(body.Size(), 0);
  EXPECT_FALSE(http.IsConnected());
}

// A line has the read timeout for all of its bytes: a peer that drips one byte at a time,
// each well within the timeout, still cannot hold the header block open for longer.
TEST(ResponseReading, AHeaderLineDrippingInRunsIntoTheReadTimeout) {
  test::Script script{Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nX-Slow: ")};
  for (int i = 0; i < 12; ++i) {
    script.push_back(test::Pause(100));
    script.push_back(Send("z"));
  }
  script.push_back(Send("\r\nContent-Length: 2\r\n\r\nok"));
  ScriptedServer server(script);
  TestClient http;
  http.SetReadTimeout(400);
  TMemoryStream body;
  EXPECT_THROW(http.Get(test::UrlOf(server, "/"), &body), EIdReadTimeout);
  EXPECT_FALSE(http.IsConnected());
}

// What a stream holds follows what arrived, never what a peer announced.
TEST(ResponseReading, TheCallersStreamGrowsOnlyByTheBytesThatArrive) {
  class SizeWatch : public TMemoryStream {
   public:
    std::int64_t largest = 0;
    void SetSize(std::int64_t size) override {
      largest = std::max(largest, size);
      TMemoryStream::SetSize(size);
    }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
      const std::int64_t written = TMemoryStream::Write(buffer, count);
      largest = std::max(largest, Size());
      return written;
    }
  };
  for (const std::string announced :
       {"Content-Length: 2147483647\r\n", "Transfer-Encoding: chunked\r\n\r\n7FFFFFFF"}) {
    ScriptedServer server({Expect::LineBlock(),
                           Send("HTTP/1.1 200 OK\r\n" + announced + "\r\nhello"), test::Close()});
    TestClient http;
    SizeWatch body;
    EXPECT_THROW(http.Get(test::UrlOf(server, "/"), &body), EIdHTTPIncompleteResponse);
    EXPECT_EQ(body.DataString(), "hello") << announced;
    EXPECT_EQ(body.largest, 5) << announced;
  }
}

// Only "HTTP/1.x NNN reason" is an answer. Anything else is another protocol or the leftovers of
// an earlier exchange, and is refused with the connection.
TEST(ResponseReading, StatusLinesThatAreNotHTTP1RaiseAndClose) {
  for (const std::string line :
       {"HTTP/1.1 abc Broken", "garbage", "HTTP/1.1", "FOO 200 BAR", "ICY 200 OK",
        "HTTP/9.9 200 OK", "HTTP/2 200", "worldHTTP/1.1 200 OK", "HTTP/1.1  200 OK",
        "http/1.1 200 OK", "HTTP/1.1 2000 OK", "HTTP/1.1 200OK"}) {
    ScriptedServer server(std::vector<test::Script>{
        {Expect::LineBlock(), Send(test::Response(line, "why")), Expect::Close()},
        {Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "good"))}});
    TestClient http;
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/"), &body);
      ADD_FAILURE() << line;
    } catch (const EIdHTTPInvalidStatusLine& e) {
      EXPECT_EQ(e.Message(), "Invalid HTTP status line");
      EXPECT_EQ(e.StatusLine(), line);
    }
    EXPECT_EQ(body.Size(), 0) << line;
    EXPECT_FALSE(http.IsConnected()) << line;
    TMemoryStream next;
    http.Get(test::UrlOf(server, "/next"), &next);
    EXPECT_EQ(next.DataString(), "good") << line;
    ASSERT_TRUE(server.WaitDone()) << line;
    EXPECT_EQ(server.Failures(), "") << line;
  }
}

// A counted body cut short by the peer is an error when the caller wants the body (also past
// 4 GiB, where the length once read as unknown); bodies that are dropped anyway stay lenient.
TEST(ResponseReading, ShortCountedBodyRaisesOnlyWhenTheBodyIsWanted) {
  for (const std::string length : {"10", "4294967301"}) {
    ScriptedServer server({Expect::LineBlock(),
                           Send("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\n0123"),
                           test::Close()});
    TestClient http;
    WorkLog log;
    log.Attach(http);
    TMemoryStream body;
    EXPECT_THROW(http.Get(test::UrlOf(server, "/"), &body), EIdHTTPIncompleteResponse);
    EXPECT_EQ(body.DataString(), "0123");
    EXPECT_EQ(log.begins, std::vector<std::int64_t>{std::stoll(length)});
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

// Answers to HEAD, 1xx and 204 end with their header block, whatever they announce, and nothing
// is waited for after them. A body sent anyway is found before the next request, which then
// goes on a new connection; interim 1xx answers (103 as well as 100) are skipped.
TEST(ResponseReading, BodylessAnswersLeaveTheConnectionReadyForTheNext) {
  const struct {
    const char* what;
    std::string method;
    std::string first;
    std::string firstBody;
    bool reused;
  } cases[] = {
      {"HEAD with a wrong body", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nxxxxx", "",
       false},
      {"HEAD without body", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", "", true},
      {"HEAD announcing chunked", "HEAD", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
       "", true},
      {"204 announcing chunked", "GET",
       "HTTP/1.1 204 No Content\r\nTransfer-Encoding: chunked\r\n\r\n", "", true},
      {"204", "GET", "HTTP/1.1 204 No Content\r\n\r\n", "", true},
      {"103 then 200", "GET",
       "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" +
           test::Response("HTTP/1.1 200 OK", "yes"),
       "yes", true},
  };
  for (const auto& c : cases) {
    const std::string answer = test::Response("HTTP/1.1 200 OK", "second");
    std::vector<test::Script> scripts;
    if (c.reused) {
      scripts.push_back({Expect::LineBlock(), Send(c.first), Expect::LineBlock(), Send(answer)});
    } else {
      scripts.push_back({Expect::LineBlock(), Send(c.first), Expect::Close()});
      scripts.push_back({Expect::LineBlock(), Send(answer)});
    }
    ScriptedServer server(scripts);
    TestClient http;
    TMemoryStream first;
    http.PerformRequest(c.method, test::UrlOf(server, "/"), nullptr, &first, {});
    EXPECT_EQ(first.DataString(), c.firstBody) << c.what;
    TMemoryStream second;
    http.Get(test::UrlOf(server, "/2"), &second);
    EXPECT_EQ(second.DataString(), "second") << c.what;
    ASSERT_TRUE(server.WaitDone()) << c.what;
    EXPECT_EQ(server.Accepted(), c.reused ? 1u : 2u) << c.what;
    EXPECT_EQ(server.Failures(), "") << c.what;
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

// Closes or resets the connection after every byte offset of a response, over a real socket:
// each run ends with the whole, correct body or a clear exception; never with a hang, a crash
// or a part of the body taken for the whole.
TEST(ResponseReading, CloseOrResetAtEveryOffsetEndsCleanly) {
  const std::string counted = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nX-Pad: y\r\n\r\n0123456789";
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n0123\r\n6\r\n456789\r\n0\r\n\r\n";
  for (const bool reset : {false, true}) {
    for (const std::string& full : {counted, chunked}) {
      for (std::size_t cut = 0; cut <= full.size(); ++cut) {
        ScriptedServer server({Expect::LineBlock(), Send(full.substr(0, cut)),
                               reset ? test::Reset() : test::Close()});
        TestClient http;
        TMemoryStream body;
        const std::string what = (reset ? "reset at " : "close at ") + std::to_string(cut);
        try {
          http.Get(test::UrlOf(server, "/"), &body);
          EXPECT_EQ(cut, full.size()) << what;
          EXPECT_EQ(body.DataString(), "0123456789") << what;
        } catch (const EIdReadTimeout&) {
          ADD_FAILURE() << "waited for bytes that could not come, " << what;
        } catch (const EIdHTTPIncompleteResponse&) {
          EXPECT_LT(cut, full.size()) << what;
        } catch (const EIdConnClosedGracefully&) {
          EXPECT_LT(cut, full.find("\r\n") + 2) << what;
        } catch (const EIdSocketError& e) {
          EXPECT_TRUE(reset) << what << ": " << e.Message();
        }
        EXPECT_TRUE(body.Size() == 0 || std::string("0123456789").starts_with(body.DataString()))
            << what;
      }
    }
  }
}

}  // namespace
}  // namespace brixa
