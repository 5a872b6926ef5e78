// NTLM through the request cycle against a scripted server: both legs on one connection, the
// type-3 message checked byte for byte against the protocol's published responses, and the
// choice of NTLM among the challenges a server offers.
#include <gtest/gtest.h>

#include "http/auth/ntlm/auth_ntlm.h"
#include "platform/system/system_info.h"
#include "runtime/codec/mime_coder.h"
#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

// A type-2 message carrying the challenge 0123456789abcdef at offset 24.
const std::string kType2 =
    "NTLM " +
    TIdEncoderMIME::EncodeBytes(TIdByteArray{
        'N',  'T', 'L', 'M', 'S',  'S',  'P',  0, 2,    0,    0,    0,    0,    0,    0,    0,
        0x30, 0,   0,   0,   0x05, 0x82, 0x01, 0, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
        0,    0,   0,   0,   0,    0,    0,    0, 0,    0,    0,    0,    0x30, 0,    0,    0});

// The value after "<header>: NTLM " in the last request of `received`, decoded.
TIdByteArray LastNTLMMessage(const std::string& received, const std::string& header) {
  const std::string marker = header + ": NTLM ";
  const std::size_t at = received.rfind(marker);
  if (at == std::string::npos) return {};
  const std::size_t start = at + marker.size();
  return TIdDecoderMIME::DecodeBytes(received.substr(start, received.find("\r\n", start) - start));
}

std::string Unauthorized(const std::string& challenges) {
  return test::Response("HTTP/1.1 401 Unauthorized", "no", challenges);
}

class NTLMExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NTLMDesAvailable()) GTEST_SKIP() << "no DES here: install libssl3 (OpenSSL)";
  }

  // GET through three requests on one connection; the first challenge lines are `offered`.
  void RunExchange(const std::string& offered) {
    ScriptedServer server(test::Script{
        Expect::LineBlock(),
        Send(Unauthorized(offered)),
        Expect::LineBlock(),
        Send(Unauthorized("WWW-Authenticate: " + kType2 + "\r\n")),
        Expect::LineBlock(),
        Send(test::Response("HTTP/1.1 200 OK", "welcome")),
    });
    TestClient http;
    test::AnswerChallengesAs(http, "Domain\\User", "Password");
    TMemoryStream body;
    http.Get(test::UrlOf(server, "/intranet"), &body);
    EXPECT_EQ(body.DataString(), "welcome");
    EXPECT_EQ(http.StatusCode(), 200);
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Failures(), "");
    EXPECT_EQ(server.Accepted(), 1u) << "the legs must share one connection";
    const std::string received = server.Received();
    EXPECT_EQ(test::Count(received, "GET /intranet HTTP/1.1"), 3);
    EXPECT_EQ(test::Count(received, "Authorization: Basic"), 0);
    const TIdByteArray type1 = [&] {
      const std::string first = received.substr(0, received.rfind("GET "));
      return LastNTLMMessage(first, "Authorization");
    }();
    EXPECT_EQ(type1, NTLMNegotiateMessage("Domain", LocalComputerName()));
    const TIdByteArray type3 = LastNTLMMessage(received, "Authorization");
    ASSERT_GE(type3.size(), 64u + 48u);
    // The tail: LM then NT response of the published example, whatever the host name.
    const TIdByteArray tail(type3.end() - 48, type3.end());
    EXPECT_EQ(TIdEncoderMIME::EncodeBytes(tail),
              TIdEncoderMIME::EncodeBytes(TIdByteArray{
                  0x98, 0xde, 0xf7, 0xb8, 0x7f, 0x88, 0xaa, 0x5d, 0xaf, 0xe2, 0xdf, 0x77,
                  0x96, 0x88, 0xa1, 0x72, 0xde, 0xf1, 0x1c, 0x7d, 0x5c, 0xcd, 0xef, 0x13,
                  0x67, 0xc4, 0x30, 0x11, 0xf3, 0x02, 0x98, 0xa2, 0xad, 0x35, 0xec, 0xe6,
                  0x4f, 0x16, 0x33, 0x1c, 0x44, 0xbd, 0xbe, 0xd9, 0x27, 0x84, 0x1f, 0x94}));
  }
};

TEST_F(NTLMExchange, BothLegsOnOneConnection) {
  RunExchange("WWW-Authenticate: NTLM\r\n");
}

TEST_F(NTLMExchange, NegotiateOfferedFirstIsPassedOver) {
  RunExchange("WWW-Authenticate: Negotiate\r\nWWW-Authenticate: NTLM\r\n");
}

TEST_F(NTLMExchange, NTLMWinsOverBasic) {
  RunExchange("WWW-Authenticate: Basic realm=\"intranet\"\r\nWWW-Authenticate: NTLM\r\n");
}

// The server closes after the challenge: the exchange starts again on a new connection, once;
// when the second server closes too, the request fails with the 401.
TEST_F(NTLMExchange, ClosedBetweenLegsRestartsOnceThenFails) {
  const std::string closingChallenge =
      test::Response("HTTP/1.1 401 Unauthorized", "no",
                     "Connection: close\r\nWWW-Authenticate: " + kType2 + "\r\n");
  const test::Script first{Expect::LineBlock(), Send(Unauthorized("WWW-Authenticate: NTLM\r\n")),
                           Expect::LineBlock(), Send(closingChallenge)};
  // The exchange starts over with the type-1 message on the new connection.
  const test::Script second{Expect::Until("Authorization: NTLM "), Expect::LineBlock(),
                            Send(closingChallenge)};
  ScriptedServer server(std::vector<test::Script>{first, second});
  TestClient http;
  test::AnswerChallengesAs(http, "Domain\\User", "Password");
  TMemoryStream body;
  EXPECT_THROW(http.Get(test::UrlOf(server, "/intranet"), &body), EIdHTTPProtocolException);
  EXPECT_EQ(http.StatusCode(), 401);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Accepted(), 2u);
  EXPECT_EQ(server.Failures(), "");
  EXPECT_EQ(LastNTLMMessage(server.Received(1), "Authorization"),
            NTLMNegotiateMessage("Domain", LocalComputerName()));
}

// The server sends its challenge as if it kept the connection, then really closes it. The
// answer to that challenge could only go on the closed connection: the exchange starts again on
// a new one, from the negotiate message, and succeeds there.
TEST_F(NTLMExchange, UnannouncedCloseAfterTheChallengeRestartsOnANewConnection) {
  const test::Script first{
      Expect::LineBlock(), Send(Unauthorized("WWW-Authenticate: NTLM\r\n")), Expect::LineBlock(),
      Send(Unauthorized("WWW-Authenticate: " + kType2 + "\r\n")), test::Close()};
  const test::Script second{Expect::Until("Authorization: NTLM "), Expect::LineBlock(),
                            Send(Unauthorized("WWW-Authenticate: " + kType2 + "\r\n")),
                            Expect::LineBlock(),
                            Send(test::Response("HTTP/1.1 200 OK", "welcome"))};
  ScriptedServer server(std::vector<test::Script>{first, second});
  TestClient http;
  test::AnswerChallengesAs(http, "Domain\\User", "Password");
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/intranet"), &body);
  EXPECT_EQ(body.DataString(), "welcome");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Accepted(), 2u);
  const std::string again = server.Received(1);
  EXPECT_EQ(test::Count(again, "GET /intranet HTTP/1.1"), 2);
  const TIdByteArray firstOnNew =
      LastNTLMMessage(again.substr(0, again.rfind("GET ")), "Authorization");
  EXPECT_EQ(firstOnNew, NTLMNegotiateMessage("Domain", LocalComputerName()));
  ASSERT_GE(LastNTLMMessage(again, "Authorization").size(), 12u);
  EXPECT_EQ(LastNTLMMessage(again, "Authorization")[8], 3);  // the type-3 answer
}

// A challenge message shorter than its fixed part is refused, not answered against a partly
// zero challenge.
TEST_F(NTLMExchange, ShortChallengeMessageRaises) {
  const std::string shortType2 =
      "NTLM " + TIdEncoderMIME::EncodeBytes(
                    TIdByteArray{'N', 'T', 'L', 'M',  'S', 'S', 'P', 0, 2,    0, 0, 0, 0,
                                 0,   0,   0,   0x30, 0,   0,   0,   5, 0x82, 1, 0, 1, 0x23});
  ScriptedServer server(test::Script{
      Expect::LineBlock(), Send(Unauthorized("WWW-Authenticate: NTLM\r\n")), Expect::LineBlock(),
      Send(Unauthorized("WWW-Authenticate: " + shortType2 + "\r\n")), Expect::Close()});
  TestClient http;
  test::AnswerChallengesAs(http, "Domain\\User", "Password");
  TMemoryStream body;
  EXPECT_THROW(http.Get(test::UrlOf(server, "/intranet"), &body), EIdNTLMInvalidChallenge);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(test::Count(server.Received(), "GET /intranet"), 2);
}

}  // namespace
}  // namespace brixa
