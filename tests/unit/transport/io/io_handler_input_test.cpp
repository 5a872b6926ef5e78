// Interactive line input: what a person types at the other end, the line it makes and the echo
// that goes back, through TIdIOHandlerStack and a scripted loopback peer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/io/io_handler.h"
#include "unit/transport/client_fixture.h"

namespace brixa {
namespace {

using test::Close;
using test::Expect;
using test::Pause;
using test::ScriptedServer;
using test::Send;
using namespace std::string_literals;

struct InputCase {
  const char* what;
  std::string typed;
  std::string line;
  std::string echo;
  std::string mask = {};
  bool doEcho = true;
  std::int32_t tabWidth = IdInputLnTabWidth;
  std::int32_t maxLength = -1;
  TIdCharEncoding encoding = ceNone;
};

TEST(IOHandlerInputLnTest, EditsTheTypedLineAndEchoesWhatItAccepted) {
  const std::vector<InputCase> cases = {
      {"plain line ended by CR LF", "hello\r\n", "hello", "hello\r\n"},
      {"backspace removes the last character", "ab\bc\n", "ac", "ab\b \bc\r\n"},
      {"DEL and BS at an empty line do nothing", "\x7F\bx\x7F\x7Fy\r", "y", "x\b \by\r\n"},
      {"tab fills to the next stop", "a\tb\tc\n", "a   b   c", "a   b   c\r\n", "", true, 4},
      {"tab at a stop is a whole stop", "abcd\tX\n", "abcd    X", "abcd    X\r\n", "", true, 4},
      {"backspace after a tab removes one space", "a\t\b\n", "a  ", "a   \b \b\r\n", "", true, 4},
      {"tabs ignored with width 0", "a\tb\n", "ab", "ab\r\n", "", true, 0},
      {"other controls are ignored, C0 and C1",
       "a\x01\x1b[b\x00"
       "c\xC2\x9B\n"s,
       "a[bc", "a[bc\r\n", "", true, 8, -1, ceUTF8},
      {"mask is echoed instead", "pw\bd\n", "pd", "**\b \b*\r\n", "*"},
      {"no echo at all", "se\bcret\n", "scret", "", "", false},
      {"characters beyond the maximum are dropped", "abcdef\b\bxy\n", "axy", "abc\b \b\b \bxy\r\n",
       "", true, 8, 3},
      {"a tab is cut at the maximum", "ab\tc\n", "ab  ", "ab  \r\n", "", true, 8, 4},
      {"UTF-8 characters go with one backspace", "a\xC3\xA9\xE2\x82\xAC\b\b\xC3\xBC\n", "a\xC3\xBC",
       "a\xC3\xA9\xE2\x82\xAC\b \b\b \b\xC3\xBC\r\n", "", true, 8, -1, ceUTF8},
      {"8-bit takes each byte as a character", "\xC3\xA9\b\n", "\xC3\x83", "\xC3\xA9\b \b\r\n", "",
       true, 8, -1, ce8Bit},
      {"invalid UTF-8 is dropped, the breaking byte kept",
       "\xC3"
       "a\xFF"
       "b\n",
       "ab", "ab\r\n", "", true, 8, -1, ceUTF8},
  };
  for (const InputCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer server({Send(c.typed), Expect::Close()});
    auto client = test::ConnectedClient(server);
    TIdIOHandler& io = *client->IOHandler();
    EXPECT_EQ(io.InputLn(c.mask, c.doEcho, c.tabWidth, c.maxLength, c.encoding), c.line);
    client->CloseConnection();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received(), c.echo);
  }
}

TEST(IOHandlerInputLnTest, LineEndPairsCountOnceEvenWhenSplitAcrossReads) {
  ScriptedServer server({Send("one\r\ntwo\n\rthree\r\r"), Send("four\r"), Pause(150),
                         Send("\nfive\nrest of it\n"), Expect::Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.InputLn(), "one");
  EXPECT_EQ(io.InputLn(), "two");
  EXPECT_EQ(io.InputLn(), "three");
  EXPECT_EQ(io.InputLn(), "");  // CR CR is two ends
  EXPECT_EQ(io.InputLn(), "four");
  EXPECT_EQ(io.InputLn(), "five");  // the LF of "four" came later and was skipped
  EXPECT_EQ(io.ReadLine(), "rest of it");
  client->CloseConnection();
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received(), "one\r\ntwo\r\nthree\r\n\r\nfour\r\nfive\r\n");
}

TEST(IOHandlerInputLnTest, TimeoutRaisesAndKeepsThePartTypedSoFar) {
  ScriptedServer server({Send("ab\b"), Pause(700), Send("c\r\n"), Expect::Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  io.SetReadTimeout(200);
  try {
    (void)io.InputLn();
    FAIL() << "no exception";
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), "Read timed out.");
  }
  EXPECT_TRUE(io.LineTimedOut());
  io.SetReadTimeout(5000);
  EXPECT_EQ(io.InputLn(), "ac");
  EXPECT_FALSE(io.LineTimedOut());
  client->CloseConnection();
  ASSERT_TRUE(server.WaitDone());
  // The echo of the first part left before the wait, and nothing was echoed twice.
  EXPECT_EQ(server.Received(), "ab\b \bc\r\n");
}

TEST(IOHandlerInputLnTest, PeerClosingInTheMiddleOfALineRaises) {
  ScriptedServer server({Send("unfinish"), Close()});
  auto client = test::ConnectedClient(server);
  EXPECT_THROW((void)client->IOHandler()->InputLn({}, false), EIdConnClosedGracefully);
}

}  // namespace
}  // namespace brixa
