// The Digest scheme against the published examples: algorithms, qop, sessions, nonce counts and
// the choice of the strongest challenge.

#include "http/auth/auth_digest.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "http/message/header_list.h"
#include "runtime/hash/hash_md5.h"

namespace brixa {
namespace {

constexpr const char* kRfcNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
constexpr const char* kRfcOpaque = "5ccc069c403ebaf9f0171e9517f40e41";

void Challenge(TIdAuthentication& auth, const std::string& line) {
  TIdHeaderList list;
  list.Add("Basic realm=\"elsewhere\"");
  list.Add(line);
  auth.SetAuthParams(list);
}

std::string RfcChallenge(const std::string& qop) {
  return std::string("Digest realm=\"testrealm@host.com\", qop=\"") + qop + "\", nonce=\"" +
         kRfcNonce + "\", opaque=\"" + kRfcOpaque + "\"";
}

// The object of the RFC 2617 example, with its credentials and request.
void PrepareMufasa(TIdDigestAuthentication& auth, const std::string& challenge) {
  auth.StoreUsername("Mufasa");
  auth.StorePassword("Circle Of Life");
  auth.SetMethod("GET");
  auth.SetUri("/dir/index.html");
  auth.SetCNonce("0a4f113b");
  Challenge(auth, challenge);
}

std::string Item(const std::string& header, const std::string& name) {
  std::smatch m;
  const std::regex pattern("[ ,]" + name + "=(\"(?:[^\"\\\\]|\\\\.)*\"|[^,]*)");
  return std::regex_search(header, m, pattern) ? m[1].str() : "<absent>";
}

// Built by appending: "literal" + std::string&& trips a false -Wrestrict in g++ 12 at -O3.
std::string Quoted(const std::string& text) {
  std::string out(1, '"');
  out += text;
  out += '"';
  return out;
}

std::string Md5Hex(const std::string& text) {
  TIdHashMessageDigest5 md5;
  return DigestToHex(md5.HashBytes(text.data(), text.size()), false);
}

TEST(DigestAuthTest, ReproducesThePublishedExample) {
  TIdDigestAuthentication auth;
  PrepareMufasa(auth, RfcChallenge("auth"));
  EXPECT_EQ(auth.BuildAuthorization(), "");  // no challenge read yet: no header at all
  ASSERT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Step(), 1);
  EXPECT_EQ(auth.BuildAuthorization(),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
            "qop=\"auth\", nc=00000001, cnonce=\"0a4f113b\", "
            "response=\"6629fae49393a05397450978507c4ef1\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
  EXPECT_EQ(auth.Step(), 0);
  EXPECT_EQ(auth.Realm(), "testrealm@host.com");
  EXPECT_EQ(auth.Opaque(), kRfcOpaque);
}

TEST(DigestAuthTest, WithoutQopTheResponseCoversOnlyNonceAndRequest) {
  TIdDigestAuthentication auth;
  PrepareMufasa(auth, std::string("Digest realm=\"testrealm@host.com\", nonce=\"") + kRfcNonce +
                          "\", opaque=\"" + kRfcOpaque + "\"");
  auth.StorePassword("CircleOfLife");
  ASSERT_EQ(auth.Next(), naRetry);
  const std::string header = auth.BuildAuthorization();
  EXPECT_EQ(Item(header, "response"), "\"1949323746fe6a43ef61f9606e7febea\"");
  for (const char* absent : {"qop", "nc", "cnonce", "algorithm"}) {
    EXPECT_EQ(Item(header, absent), "<absent>") << absent;
  }
}

// After a successful answer the object stays at step 0 with its nonce: the next request
// reuses it with the next count instead of waiting for another challenge.
TEST(DigestAuthTest, NonceCountRunsPerNonce) {
  TIdDigestAuthentication auth;
  PrepareMufasa(auth, RfcChallenge("auth"));
  auth.SetCNonce("");  // a fresh, unpredictable client nonce for every header
  EXPECT_EQ(auth.NonceCount(), 0u);
  std::vector<std::string> counts, cnonces;
  ASSERT_EQ(auth.Next(), naRetry);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(auth.Step(), i == 0 ? 1 : 0);
    const std::string header = auth.BuildAuthorization();
    counts.push_back(Item(header, "nc"));
    cnonces.push_back(Item(header, "cnonce"));
    EXPECT_TRUE(std::regex_match(cnonces.back(), std::regex("\"[0-9a-f]{32}\""))) << header;
  }
  EXPECT_EQ(counts, (std::vector<std::string>{"00000001", "00000002", "00000003"}));
  EXPECT_NE(cnonces[0], cnonces[1]);
  EXPECT_NE(cnonces[1], cnonces[2]);

  Challenge(auth, "Digest realm=\"testrealm@host.com\", qop=\"auth\", nonce=\"fresh\", stale=true");
  ASSERT_EQ(auth.Next(), naRetry);
  EXPECT_TRUE(auth.Stale());
  EXPECT_EQ(Item(auth.BuildAuthorization(), "nc"), "00000001");
  EXPECT_EQ(auth.NonceCount(), 2u);
}

TEST(DigestAuthTest, StepsAndCredentialPrompts) {
  TIdDigestAuthentication auth;
  EXPECT_EQ(auth.Next(), naFail);  // no Digest challenge to answer
  Challenge(auth, "Digest realm=\"r\", qop=\"auth\"");
  EXPECT_EQ(auth.Next(), naFail);  // nor one without a nonce
  EXPECT_EQ(auth.Step(), 0);

  Challenge(auth, "Digest realm=\"r\", nonce=\"n\"");
  EXPECT_EQ(auth.Next(), naAskApplication);
  EXPECT_EQ(auth.Step(), 1);
  auth.StoreUsername("bob");
  EXPECT_EQ(auth.Next(), naRetry);  // past step 0 the challenge is not read again
  auth.SetStep(2);
  EXPECT_EQ(auth.BuildAuthorization(), "");
  auth.Restart();
  // Back at step 0 with a nonce in hand: a full answer, never a bare "Digest".
  EXPECT_EQ(Item(auth.BuildAuthorization(), "nonce"), "\"n\"");
  EXPECT_EQ(TIdDigestAuthentication().BuildAuthorization(), "");
  EXPECT_EQ(auth.StepCount(), 1);
  EXPECT_FALSE(auth.NeedsKeepAlive());
}

TEST(DigestAuthTest, AlgorithmsOfRfc7616AreAnsweredOthersRefused) {
  struct Case {
    const char* item;
    bool accepted;
    const char* echoed;
  };
  const Case cases[] = {
      {"", true, "<absent>"},  // none named: MD5 is implied and nothing is echoed
      {", algorithm=MD5", true, "\"MD5\""},
      {", algorithm=\"md5\"", true, "\"md5\""},
      {", algorithm=MD5-sess", true, "\"MD5-sess\""},
      {", algorithm=SHA-256", true, "\"SHA-256\""},
      {", algorithm=sha-512-256-SESS", true, "\"sha-512-256-SESS\""},
      {", algorithm=SHA-1", false, ""},
      {", algorithm=SHA-256-bogus", false, ""},
      {", algorithm=\"\"", true, "<absent>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    TIdDigestAuthentication auth;
    auth.StoreUsername("u");
    Challenge(auth, std::string("Digest realm=\"r\", nonce=\"n\"") + c.item);
    if (!c.accepted) {
      try {
        (void)auth.Next();
        ADD_FAILURE() << "accepted";
      } catch (const EIdInvalidAlgorithm& e) {
        EXPECT_EQ(e.Message(),
                  "Unsupported hash algorithm. This implementation supports MD5, SHA-256 and "
                  "SHA-512-256 encoding.");
      }
      EXPECT_EQ(auth.Step(), 0);
      continue;
    }
    ASSERT_EQ(auth.Next(), naRetry);
    EXPECT_EQ(Item(auth.BuildAuthorization(), "algorithm"), c.echoed);
  }
}

// RFC 7616, 3.9.1: the server offers SHA-256 and MD5 for the same nonce. The stronger one is
// answered, whatever the order of the challenges; each reproduces the published response.
TEST(DigestAuthTest, StrongestChallengeWinsAndReproducesRfc7616) {
  const std::string common =
      "realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
      "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
      "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
  const std::string sha256 = "Digest " + common + ", algorithm=SHA-256";
  const std::string md5 = "Digest " + common + ", algorithm=MD5";
  const std::string sha1 = "Digest " + common + ", algorithm=SHA-1";
  const struct {
    std::vector<std::string> challenges;
    const char* algorithm;
    const char* response;
  } cases[] = {
      {{sha256, md5},
       "SHA-256",
       "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
      {{md5, "Basic realm=\"x\"", sha256},
       "SHA-256",
       "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
      {{sha1, md5}, "MD5", "8ca523f5e9506fed4657c9700eebdbec"},
      {{"Digest " + common + ", algorithm=SHA-512-256", sha256},
       "SHA-512-256",
       "430d05014cecc49cab6fbe03176d41a1da86cbfe24a16580e22aaad928d960d0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.algorithm);
    TIdDigestAuthentication auth;
    auth.StoreUsername("Mufasa");
    auth.StorePassword("Circle of Life");
    auth.SetMethod("GET");
    auth.SetUri("/dir/index.html");
    auth.SetCNonce("f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ");
    TIdHeaderList list;
    for (const std::string& line : c.challenges) list.Add(line);
    auth.SetAuthParams(list);
    ASSERT_EQ(auth.Next(), naRetry);
    const std::string header = auth.BuildAuthorization();
    EXPECT_EQ(Item(header, "algorithm"), Quoted(c.algorithm));
    EXPECT_EQ(Item(header, "qop"), "\"auth\"");  // preferred over auth-int
    EXPECT_EQ(Item(header, "response"), Quoted(c.response));
  }
}

// "-sess": the credentials are hashed once per nonce with both nonces, and the client nonce
// of the session is repeated by every header until a new nonce comes.
TEST(DigestAuthTest, SessionVariantKeepsItsClientNoncePerServerNonce) {
  TIdDigestAuthentication auth;
  auth.StoreUsername("Mufasa");
  auth.StorePassword("Circle Of Life");
  auth.SetMethod("GET");
  auth.SetUri("/x");
  Challenge(auth, "Digest realm=\"r\", qop=\"auth\", nonce=\"n1\", algorithm=MD5-sess");
  ASSERT_EQ(auth.Next(), naRetry);
  const std::string first = auth.BuildAuthorization();
  const std::string second = auth.BuildAuthorization();  // reuse: step 0, next count
  const std::string cnonce = Item(first, "cnonce");
  EXPECT_EQ(Item(second, "cnonce"), cnonce);
  EXPECT_EQ(Item(second, "nc"), "00000002");
  const std::string bare = cnonce.substr(1, cnonce.size() - 2);
  const std::string ha1 = Md5Hex(Md5Hex("Mufasa:r:Circle Of Life") + ":n1:" + bare);
  const std::string expected = Md5Hex(ha1 + ":n1:00000002:" + bare + ":auth:" + Md5Hex("GET:/x"));
  EXPECT_EQ(Item(second, "response"), Quoted(expected));

  Challenge(auth, "Digest realm=\"r\", qop=\"auth\", nonce=\"n2\", algorithm=MD5-sess");
  ASSERT_EQ(auth.Next(), naRetry);
  EXPECT_NE(Item(auth.BuildAuthorization(), "cnonce"), cnonce);
}

TEST(DigestAuthTest, ChallengeFieldsAreReadWithQuotesRemoved) {
  TIdDigestAuthentication auth;
  auth.StoreUsername("u");
  Challenge(auth,
            "DIGEST Realm=\"a, b\", NONCE=\"n1\", domain=\"/x/ http://h/y/\", "
            "opaque=\"o\\\"q\", stale=FALSE, qop=\"auth, auth-int\", algorithm=MD5");
  ASSERT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Realm(), "a, b");
  EXPECT_EQ(auth.Nonce(), "n1");
  EXPECT_EQ(auth.Domain(), (std::vector<std::string>{"/x/", "http://h/y/"}));
  EXPECT_EQ(auth.Opaque(), "o\"q");
  EXPECT_FALSE(auth.Stale());
  EXPECT_EQ(auth.Qop(), (std::vector<std::string>{"auth", "auth-int"}));
  EXPECT_EQ(auth.Algorithm(), "MD5");
  const std::string header = auth.BuildAuthorization();
  EXPECT_EQ(Item(header, "realm"), "\"a, b\"");
  EXPECT_EQ(Item(header, "opaque"), "\"o\\\"q\"");
  EXPECT_EQ(Item(header, "qop"), "\"auth\"");  // preferred: it does not cover the body
}

TEST(DigestAuthTest, IntegrityProtectionHashesTheEntityBody) {
  TIdDigestAuthentication auth;
  PrepareMufasa(auth, RfcChallenge("auth-int"));
  auth.SetMethod("POST");
  auth.SetEntityBody("a=1, b=\"two\"\r\n");
  ASSERT_EQ(auth.Next(), naRetry);
  const std::string ha1 = Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
  const std::string ha2 = Md5Hex("POST:/dir/index.html:" + Md5Hex("a=1, b=\"two\"\r\n"));
  const std::string expected = Md5Hex(ha1 + ":" + kRfcNonce + ":00000001:0a4f113b:auth-int:" + ha2);
  EXPECT_EQ(Item(auth.BuildAuthorization(), "response"), Quoted(expected));
}

TEST(DigestAuthTest, CredentialsAreHashedAsTheirUtf8Bytes) {
  TIdDigestAuthentication auth;
  PrepareMufasa(auth, RfcChallenge("auth"));
  auth.StorePassword("p\xC3\xA4ss");  // a non-ASCII password must not turn into "p?ss"
  ASSERT_EQ(auth.Next(), naRetry);
  const std::string response = Item(auth.BuildAuthorization(), "response");
  const std::string ha2 = Md5Hex("GET:/dir/index.html");
  const auto expect = [&](const std::string& password) {
    const std::string ha1 = Md5Hex("Mufasa:testrealm@host.com:" + password);
    return Quoted(Md5Hex(ha1 + ":" + kRfcNonce + ":00000001:0a4f113b:auth:" + ha2));
  };
  EXPECT_EQ(response, expect("p\xC3\xA4ss"));
  EXPECT_NE(response, expect("p?ss"));
}

}  // namespace
}  // namespace brixa
