// Digest through the request cycle against a scripted RFC 7616 server that closes the
// connection after every answer: the challenge is answered on the next connection, the
// strongest offer is taken, and later requests reuse the nonce with the next count.
#include <gtest/gtest.h>

#include <regex>

#include "runtime/hash/hash_sha256.h"
#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

constexpr const char* kNonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";

std::string Sha256Hex(const std::string& text) {
  TIdHashSHA256 sha;
  return DigestToHex(sha.HashBytes(text.data(), text.size()), false);
}

// The value of item `name` of the first "Authorization: Digest" line in `request`, unquoted.
std::string DigestItem(const std::string& request, const std::string& name) {
  const std::size_t start = request.find("Authorization: Digest ");
  if (start == std::string::npos) return "<no header>";
  const std::string line = request.substr(start, request.find("\r\n", start) - start);
  std::smatch m;
  const std::regex pattern("[ ,]" + name + "=(?:\"([^\"]*)\"|([^,]*))");
  if (!std::regex_search(line, m, pattern)) return "<absent>";
  return m[1].matched ? m[1].str() : m[2].str();
}

// What a server computes to check the answer, from the items the client sent.
std::string ExpectedResponse(const std::string& request, const std::string& password) {
  const std::string ha1 = Sha256Hex(DigestItem(request, "username") + ":" +
                                    DigestItem(request, "realm") + ":" + password);
  const std::string ha2 = Sha256Hex("GET:" + DigestItem(request, "uri"));
  return Sha256Hex(ha1 + ":" + DigestItem(request, "nonce") + ":" + DigestItem(request, "nc") +
                   ":" + DigestItem(request, "cnonce") + ":" + DigestItem(request, "qop") + ":" +
                   ha2);
}

std::string Closing(const std::string& status, const std::string& body,
                    const std::string& extra = {}) {
  return test::Response(status, body, "Connection: close\r\n" + extra);
}

TEST(DigestExchange, ChallengeOutlivesItsConnectionAndTheNonceIsReused) {
  const std::string challenges =
      "WWW-Authenticate: Basic realm=\"http-auth@example.org\"\r\n"
      "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
      "algorithm=MD5, nonce=\"" +
      std::string(kNonce) +
      "\"\r\n"
      "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
      "algorithm=SHA-256, nonce=\"" +
      std::string(kNonce) + "\", opaque=\"FQhe\"\r\n";
  ScriptedServer server(std::vector<test::Script>{
      {Expect::LineBlock(), Send(Closing("HTTP/1.1 401 Unauthorized", "who?", challenges))},
      {Expect::LineBlock(), Send(Closing("HTTP/1.1 200 OK", "first"))},
      {Expect::LineBlock(), Send(Closing("HTTP/1.1 200 OK", "second"))},
  });
  TestClient http;
  test::AnswerChallengesAs(http, "Mufasa", "Circle of Life");
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/dir/index.html"), &body);
  EXPECT_EQ(body.DataString(), "first");
  EXPECT_EQ(http.ServerAuthAttempts(), 1);
  TMemoryStream again;
  http.Get(test::UrlOf(server, "/dir/other.html"), &again);
  EXPECT_EQ(again.DataString(), "second");
  EXPECT_EQ(http.ServerAuthAttempts(), 0);  // no new challenge was needed

  ASSERT_TRUE(server.WaitDone());
  ASSERT_EQ(server.Accepted(), 3u);
  EXPECT_EQ(server.Received(0).find("Authorization:"), std::string::npos);
  const std::string answer = server.Received(1);
  const std::string reuse = server.Received(2);
  EXPECT_EQ(DigestItem(answer, "algorithm"), "SHA-256");
  EXPECT_EQ(DigestItem(answer, "nc"), "00000001");
  EXPECT_EQ(DigestItem(answer, "uri"), "/dir/index.html");
  EXPECT_EQ(DigestItem(answer, "opaque"), "FQhe");
  EXPECT_EQ(DigestItem(answer, "response"), ExpectedResponse(answer, "Circle of Life"));
  EXPECT_EQ(DigestItem(reuse, "nonce"), kNonce);
  EXPECT_EQ(DigestItem(reuse, "nc"), "00000002");
  EXPECT_EQ(DigestItem(reuse, "uri"), "/dir/other.html");
  EXPECT_EQ(DigestItem(reuse, "response"), ExpectedResponse(reuse, "Circle of Life"));
  EXPECT_NE(DigestItem(reuse, "cnonce"), DigestItem(answer, "cnonce"));
}

// A server that no longer takes the nonce says so with a stale challenge; the request is
// answered again with the new nonce, counting from 1.
TEST(DigestExchange, StaleNonceIsAnsweredWithTheNewOne) {
  const auto challenge = [](const std::string& nonce, bool stale) {
    return "WWW-Authenticate: Digest realm=\"r\", qop=\"auth\", algorithm=SHA-256, nonce=\"" +
           nonce + "\"" + (stale ? ", stale=true" : "") + "\r\n";
  };
  ScriptedServer server(std::vector<test::Script>{
      {Expect::LineBlock(), Send(Closing("HTTP/1.1 401 Unauthorized", "", challenge("n1", false)))},
      {Expect::LineBlock(), Send(Closing("HTTP/1.1 200 OK", "one"))},
      {Expect::LineBlock(), Send(Closing("HTTP/1.1 401 Unauthorized", "", challenge("n2", true)))},
      {Expect::LineBlock(), Send(Closing("HTTP/1.1 200 OK", "two"))},
  });
  TestClient http;
  test::AnswerChallengesAs(http, "bob", "pw");
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/a"), &body);
  http.Get(test::UrlOf(server, "/b"), &body);
  EXPECT_EQ(body.DataString(), "onetwo");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(DigestItem(server.Received(2), "nonce"), "n1");
  EXPECT_EQ(DigestItem(server.Received(2), "nc"), "00000002");
  EXPECT_EQ(DigestItem(server.Received(3), "nonce"), "n2");
  EXPECT_EQ(DigestItem(server.Received(3), "nc"), "00000001");
  EXPECT_EQ(DigestItem(server.Received(3), "response"), ExpectedResponse(server.Received(3), "pw"));
}

}  // namespace
}  // namespace brixa
