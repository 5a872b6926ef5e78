// brixa-http's own logic, apart from the network: options, the exit-code table, text made safe
// for a terminal, and the progress meter's text and rate.
#include <gtest/gtest.h>

#include <memory>

#include "http/client/http.h"
#include "http/client/http_exceptions.h"
#include "tools/brixa_http/options.h"
#include "tools/brixa_http/progress.h"
#include "tools/brixa_http/run_errors.h"
#include "tools/brixa_http/terminal_text.h"
#include "tools/brixa_http/transfer_watch.h"
#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/connect_thread.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/tls/ssl_exceptions.h"

namespace brixa::tool {
namespace {

TEST(BrixaHttpTerminalTextTest, EveryByteOutsidePrintableAsciiIsEscaped) {
  const struct {
    std::string in;
    bool keepLineBreaks;
    std::string out;
  } cases[] = {
      {"HTTP/1.1 200 OK", false, "HTTP/1.1 200 OK"},
      {"a\tb", false, "a\tb"},
      {"\x1b]2;title\x07", false, "\\x1B]2;title\\x07"},
      {"x\ry\bz\x7f", false, "x\\x0Dy\\x08z\\x7F"},
      {std::string("n\0l", 3), false, "n\\x00l"},
      {"\x9b"
       "31m\xc3\xa9",
       false, "\\x9B31m\\xC3\\xA9"},
      {"Socket Error # 10061\r\nConnection refused.", true,
       "Socket Error # 10061\nConnection refused."},
      {"one\ntwo", true, "one\ntwo"},
      {"lone\rcr\r", true, "lone\\x0Dcr\\x0D"},
      {"one\ntwo", false, "one\\x0Atwo"},
  };
  for (const auto& c : cases) EXPECT_EQ(TerminalSafe(c.in, c.keepLineBreaks), c.out) << c.in;
}

TEST(BrixaHttpOptionsTest, LimitsAndTheirPairing) {
  const struct {
    std::vector<std::string> args;
    std::int64_t maxTimeMs, speedLimit, speedTimeMs;
  } cases[] = {
      {{"--max-time", "2", "u"}, 2000, 0, 0},
      {{"-m", "0.25", "u"}, 250, 0, 0},
      {{"--speed-limit", "1000", "u"}, 0, 1000, 30000},  // curl's default speed time
      {{"--speed-time", "5", "u"}, 0, 1, 5000},          // below one byte a second
      {{"--speed-limit", "10", "--speed-time", "2", "u"}, 0, 10, 2000},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto o = ParseOptions(c.args, error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->maxTimeMs, c.maxTimeMs) << c.args[0];
    EXPECT_EQ(o->speedLimit, c.speedLimit) << c.args[0];
    EXPECT_EQ(o->speedTimeMs, c.speedTimeMs) << c.args[0];
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--max-time", "soon", "u"},
                                              {"--max-time", "-1", "u"},
                                              {"--max-time", "1e9", "u"},
                                              {"--max-time", "nan", "u"},
                                              {"--speed-limit", "-5", "u"},
                                              {"--speed-time", "2s", "u"},
                                              {"--max-time"}}) {
    std::string error;
    EXPECT_FALSE(ParseOptions(bad, error).has_value()) << bad[0] << " " << bad[1];
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  const auto trusted = ParseOptions({"--location-trusted", "u"}, error);
  ASSERT_TRUE(trusted.has_value());
  EXPECT_TRUE(trusted->followRedirects);
  EXPECT_TRUE(trusted->locationTrusted);
}

TEST(BrixaHttpExitCodeTest, CodesFollowTheFailureAndHowFarTheExchangeGot) {
  const RunState before{};                         // nothing connected yet
  const RunState connected{true, false};           // connected, no answer yet
  const RunState answered{true, true};             // the head arrived
  const RunState handshaking{false, false, true};  // https: TCP up, TLS not done
  const struct {
    std::unique_ptr<Exception> failure;
    RunState state;
    int code;
  } cases[] = {
      {std::make_unique<EIdHTTPProtocolException>(404, "HTTP/1.1 404 Not Found", ""), answered, 22},
      {std::make_unique<EOperationTimeout>("t"), answered, 28},
      {std::make_unique<EOperationTooSlow>("s"), answered, 28},
      {std::make_unique<EIdReadTimeout>("r"), connected, 28},
      {std::make_unique<EIdConnectTimeout>("c"), before, 28},
      {std::make_unique<EIdSocketError>("s", 10061), before, 7},
      {std::make_unique<EIdSocketError>("s", 11001), before, 6},
      {std::make_unique<EIdSocketError>("s", 10060), before, 28},
      {std::make_unique<EIdSocketError>("s", 10054), answered, 56},
      {std::make_unique<EIdSocketError>("s", 10054), connected, 56},
      {std::make_unique<EIdSocketError>("s", 10054), handshaking, 35},
      {std::make_unique<EIdSocketError>("s", 10061), handshaking, 7},
      {std::make_unique<EIdHTTPTunnelRefused>(403, "HTTP/1.1 403 Forbidden", ""), connected, 56},
      {std::make_unique<EIdHTTPTunnelRefused>(407, "HTTP/1.1 407 Auth", ""), connected, 56},
      {std::make_unique<EIdConnClosedGracefully>("c"), connected, 52},
      {std::make_unique<EIdConnClosedGracefully>("c"), answered, 18},
      {std::make_unique<EIdHTTPIncompleteResponse>("i"), answered, 18},
      {std::make_unique<EIdHTTPIncompleteResponse>("i"), connected, 52},
      {std::make_unique<EIdHTTPInvalidStatusLine>("ICY 200 OK"), connected, 8},
      {std::make_unique<EIdHTTPTooManyInterimResponses>("m"), connected, 8},
      {std::make_unique<EIdHTTPConflictingContentLength>("c"), answered, 56},
      {std::make_unique<EIdHTTPInvalidChunkSize>("c"), answered, 56},
      {std::make_unique<EIdHTTPHeaderBlockTooLarge>("h"), connected, 56},
      {std::make_unique<EIdUnknownProtocol>("u"), before, 1},
      {std::make_unique<EIdURIException>("u"), before, 3},
      {std::make_unique<ERangeError>("r"), before, 3},
      {std::make_unique<ERangeError>("r"), answered, 1},
      {std::make_unique<EFCreateError>("f"), answered, 23},
      {std::make_unique<EWriteError>("w"), answered, 23},
      {std::make_unique<EIdException>("e"), answered, 1},
      // The system TLS handler's failures map as OpenSSL's do.
      {std::make_unique<EIdSchannelError>("v", 0x800B0109L, 0x800B0109L), connected, 60},
      {std::make_unique<EIdSchannelError>("h", 0x80090308L), connected, 35},
      {std::make_unique<EIdSchannelError>("r", 0x80090318L), answered, 56},
      {std::make_unique<EIdOSSLLoadingRootCertError>("f"), before, 77},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExitCodeFor(*c.failure, c.state), c.code) << c.failure->ClassName();
  }
}

TEST(BrixaHttpMeterTest, TextShowsShareBytesRateAndTimeLeft) {
  const struct {
    std::int64_t received, total;
    double rate;
    const char* text;
  } cases[] = {
      {512, 1024, 100.0, " 50%  512 B of 1.0 KiB  100 B/s  0:06 left"},
      {0, 3 * 1024 * 1024, 0.0, "  0%  0 B of 3.0 MiB  -- B/s  --:-- left"},
      {1024, 1024, 10.0, "100%  1.0 KiB of 1.0 KiB  10 B/s  done"},
      {1, 4LL << 30, 1024.0, "  0%  1 B of 4.0 GiB  1.0 KiB/s  1165:05:04 left"},
      {1536 * 1024, -1, 2.5 * 1024 * 1024, "1.5 MiB  2.5 MiB/s"},
      {2048, 1024, 1.0, "100%  1.0 KiB of 1.0 KiB  1 B/s  done"},  // more than announced
  };
  for (const auto& c : cases) EXPECT_EQ(MeterText(c.received, c.total, c.rate), c.text);
}

TEST(BrixaHttpMeterTest, RateFollowsRecentBytesAndFallsToZeroInAStall) {
  const Clock::time_point start{};
  RateWindow rate;
  rate.Reset(start);
  for (int tenth = 1; tenth <= 20; ++tenth) {
    rate.Sample(start + std::chrono::milliseconds(100 * tenth), 1000LL * tenth);
  }
  EXPECT_NEAR(rate.BytesPerSecond(), 10000.0, 1.0);
  // Nothing more for five seconds: the window holds only the stall.
  for (int tenth = 21; tenth <= 70; ++tenth) {
    rate.Sample(start + std::chrono::milliseconds(100 * tenth), 20000);
  }
  EXPECT_NEAR(rate.BytesPerSecond(), 0.0, 1e-9);
}

}  // namespace
}  // namespace brixa::tool
