// The scheme registry, credential storage, and challenge lines and items as the schemes read them.

#include "http/auth/authentication.h"

#include <gtest/gtest.h>

#include <string>

#include "http/auth/auth_basic.h"
#include "http/auth/auth_challenge.h"
#include "http/auth/auth_digest.h"
#include "http/message/header_list.h"

namespace brixa {
namespace {

// A scheme of the application's own, for the registry rules.
class TTestAuthentication : public TIdAuthentication {
 public:
  static constexpr std::string_view kClassName = "TTestAuthentication";
  static constexpr int kRank = kAuthRankDigest + 1;
  TAuthNextAction Next() override { return naFail; }
  std::string BuildAuthorization() override { return "Test"; }
};

TEST(AuthRegistryTest, BuiltInSchemesAreFoundWithoutRegardToCase) {
  const auto basic = TIdAuthenticationClass::Of<TIdBasicAuthentication>();
  const auto digest = TIdAuthenticationClass::Of<TIdDigestAuthentication>();
  for (const char* name : {"Basic", "basic", "BASIC"}) EXPECT_TRUE(FindAuthScheme(name) == basic);
  for (const char* name : {"Digest", "dIgEsT"}) EXPECT_TRUE(FindAuthScheme(name) == digest);
  EXPECT_FALSE(FindAuthScheme("Negotiate"));
  EXPECT_FALSE(FindAuthScheme(""));
  EXPECT_FALSE(FindAuthScheme("Basi"));

  const auto made = FindAuthScheme("basic").Create();
  ASSERT_NE(made, nullptr);
  EXPECT_NE(dynamic_cast<TIdBasicAuthentication*>(made.get()), nullptr);
  EXPECT_EQ(FindAuthScheme("Digest").ClassName(), "TIdDigestAuthentication");
  EXPECT_EQ(TIdAuthenticationClass().Create(), nullptr);
}

TEST(AuthRegistryTest, TakenNamesAreRefusedAndRemovedNamesFreed) {
  const auto test = TIdAuthenticationClass::Of<TTestAuthentication>();
  try {
    RegisterAuthScheme("bAsIc", test);
    FAIL() << "a taken name was registered";
  } catch (const EIdAlreadyRegisteredAuthenticationMethod& e) {
    // The message names the class being registered, not the one holding the name.
    EXPECT_EQ(e.Message(),
              "This authentication method is already registered with class name "
              "TTestAuthentication.");
  }
  EXPECT_TRUE(FindAuthScheme("Basic") == TIdAuthenticationClass::Of<TIdBasicAuthentication>());

  RegisterAuthScheme("X-Test", test);
  EXPECT_TRUE(FindAuthScheme("x-test") == test);
  EXPECT_THROW(RegisterAuthScheme("X-TEST", test), EIdAlreadyRegisteredAuthenticationMethod);
  UnregisterAuthScheme("X-TEST");
  EXPECT_FALSE(FindAuthScheme("X-Test"));
  UnregisterAuthScheme("X-Test");  // absent: nothing happens
  RegisterAuthScheme("X-Test", test);
  UnregisterAuthScheme("X-Test");

  // A built-in scheme can be replaced by the application.
  UnregisterAuthScheme("Basic");
  EXPECT_FALSE(FindAuthScheme("Basic"));
  RegisterAuthScheme("Basic", TIdAuthenticationClass::Of<TIdBasicAuthentication>());
  EXPECT_TRUE(FindAuthScheme("basic"));
}

// A scheme that answers with the logon, and one that ties with Basic's rank.
class TLogonAuthentication : public TTestAuthentication {
 public:
  static constexpr std::string_view kClassName = "TLogonAuthentication";
  static constexpr int kRank = kAuthRankNegotiate;
  static constexpr bool kAnswersWithLogon = true;
};
class TTyingAuthentication : public TTestAuthentication {
 public:
  static constexpr std::string_view kClassName = "TTyingAuthentication";
  static constexpr int kRank = kAuthRankBasic;
};

TEST(AuthRegistryTest, StrongestAnswerableChallengeWinsByRankThenStrength) {
  RegisterAuthScheme("X-Logon", TIdAuthenticationClass::Of<TLogonAuthentication>());
  const auto choose = [](std::initializer_list<const char*> lines, bool credentials) {
    TIdHeaderList challenges;
    for (const char* line : lines) challenges.Add(line);
    return std::string(ChooseAuthScheme(challenges, credentials).ClassName());
  };
  const char* const md5 = "Digest realm=\"r\", nonce=\"n\", algorithm=MD5";
  const char* const sha = "Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256";
  const char* const unknown = "Digest realm=\"r\", nonce=\"n\", algorithm=SHA3";
  const struct {
    std::initializer_list<const char*> lines;
    bool credentials;
    const char* chosen;
  } cases[] = {
      {{"Basic realm=\"r\"", md5}, true, "TIdDigestAuthentication"},
      {{md5, "Basic realm=\"r\""}, true, "TIdDigestAuthentication"},
      {{md5, "NTLM", "Basic"}, true, "TIdNTLMAuthentication"},
      {{"NTLM", "X-Logon"}, true, "TLogonAuthentication"},
      {{md5, sha}, true, "TIdDigestAuthentication"},
      {{unknown, "Basic"}, true, "TIdBasicAuthentication"},  // Digest it cannot compute
      {{unknown}, true, ""},
      {{"Bearer x", "Unknown"}, true, ""},
      {{"Basic", md5, "NTLM"}, false, ""},  // nothing to answer with: nothing is even ranked
      {{"Basic", "X-Logon"}, false, "TLogonAuthentication"},
      {{}, true, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose(c.lines, c.credentials), c.chosen) << *c.lines.begin();
  }
  EXPECT_TRUE(FindAuthScheme("x-logon").Create()->AnswersWithLogon());
  EXPECT_FALSE(FindAuthScheme("Basic").Create()->AnswersWithLogon());
  UnregisterAuthScheme("X-Logon");

  // A new scheme never ties silently: a taken rank is refused, unless it is the same class.
  try {
    RegisterAuthScheme("X-Tie", TIdAuthenticationClass::Of<TTyingAuthentication>());
    FAIL() << "a taken rank was registered";
  } catch (const EIdAuthenticationRankTaken& e) {
    EXPECT_EQ(e.Message(),
              "The authentication rank 100 of class TTyingAuthentication is already taken by "
              "class TIdBasicAuthentication.");
  }
  EXPECT_FALSE(FindAuthScheme("X-Tie"));
  RegisterAuthScheme("X-Basic", TIdAuthenticationClass::Of<TIdBasicAuthentication>());
  UnregisterAuthScheme("X-Basic");
}

TEST(AuthenticationTest, CredentialsComeBackExactlyAsStored) {
  TIdBasicAuthentication auth;
  EXPECT_EQ(auth.Step(), 0);
  EXPECT_EQ(auth.Username(), "");
  const std::string longPassword = std::string(200, 'p') + ", with spaces, " + std::string(99, 'q');
  auth.StoreUsername("  bob  ");
  auth.StorePassword(longPassword);
  EXPECT_EQ(auth.Username(), "  bob  ");
  EXPECT_EQ(auth.Password(), longPassword);
  EXPECT_EQ(auth.Params().Count(), 2);  // one unfolded line each
  EXPECT_EQ(auth.Params().HeaderValue("username"), "bob");

  auth.StoreUsername("alice");
  EXPECT_EQ(auth.Username(), "alice");
  EXPECT_EQ(auth.Params().FindHeader("Username"), 0);  // replaced in place
  auth.StorePassword("");
  EXPECT_EQ(auth.Password(), "");
  EXPECT_EQ(auth.Params().FindHeader("Password"), -1);

  auth.SetStep(5);
  auth.Restart();
  EXPECT_EQ(auth.Step(), 0);
}

TEST(AuthenticationTest, ChallengeLinesAreFoundByTheirWholeFirstWord) {
  TIdBasicAuthentication auth;
  EXPECT_EQ(auth.AuthParamStartingWith("Basic"), "");
  TIdHeaderList challenges;
  challenges.Add("BasicPlus realm=\"x\"");
  challenges.Add("Negotiate");
  challenges.Add("digest realm=\"first\"");
  challenges.Add("Digest realm=\"second\"");
  challenges.Add("Basic");
  auth.SetAuthParams(challenges);
  EXPECT_EQ(auth.AuthParams().Count(), 5);
  EXPECT_EQ(auth.AuthParamStartingWith("DIGEST"), "digest realm=\"first\"");
  EXPECT_EQ(auth.AuthParamStartingWith("Basic"), "Basic");
  EXPECT_EQ(auth.AuthParamStartingWith("NTLM"), "");

  challenges.Clear();
  auth.SetAuthParams(challenges);  // replaces, does not add
  EXPECT_EQ(auth.AuthParams().Count(), 0);
}

TEST(AuthChallengeTest, ItemsSplitOutsideQuotesOnly) {
  const auto items = SplitChallengeItems(
      "realm=\"a, b\",nonce=\"x\\\"y,z\" ,  , stale=TRUE, flag,qop = \"auth, auth-int\"");
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].Name, "realm");
  EXPECT_EQ(items[0].Value, "\"a, b\"");
  EXPECT_EQ(items[1].Value, "\"x\\\"y,z\"");
  EXPECT_EQ(items[2].Name, "stale");
  EXPECT_EQ(items[3].Name, "flag");
  EXPECT_EQ(items[3].Value, "");
  EXPECT_EQ(items[4].Name, "qop");
  EXPECT_EQ(ChallengeItemValue(items, "REALM"), "a, b");
  EXPECT_EQ(ChallengeItemValue(items, "nonce"), "x\"y,z");
  EXPECT_EQ(ChallengeItemValue(items, "qop"), "auth, auth-int");
  EXPECT_EQ(ChallengeItemValue(items, "opaque"), "");
  EXPECT_TRUE(SplitChallengeItems("").empty());
  // An unterminated quote runs to the end rather than past it.
  EXPECT_EQ(SplitChallengeItems("a=\"open, b=1").size(), 1u);

  EXPECT_EQ(UnquoteChallengeValue("\"\""), "");
  EXPECT_EQ(UnquoteChallengeValue("\""), "\"");
  EXPECT_EQ(UnquoteChallengeValue("token"), "token");
  EXPECT_EQ(UnquoteChallengeValue("\"half"), "\"half");
  EXPECT_EQ(QuoteAuthValue("a\"b\\c\r\nd"), "\"a\\\"b\\\\cd\"");
  EXPECT_EQ(UnquoteChallengeValue(QuoteAuthValue("a\"b\\c")), "a\"b\\c");

  EXPECT_EQ(DropSchemeWord("  Digest   realm=\"r\" "), "realm=\"r\"");
  EXPECT_EQ(DropSchemeWord("Basic"), "");
  EXPECT_EQ(SplitWords(" /a  /b ", " "), (std::vector<std::string>{"/a", "/b"}));
}

}  // namespace
}  // namespace brixa
