// Reading Negotiate / NTLM challenge lines for the logon schemes, and what those schemes do
// before the system is asked anything.
#include "http/auth/logon/auth_negotiate.h"

#include <gtest/gtest.h>

#include "http/message/header_list.h"

namespace brixa {
namespace {

TEST(ReadLogonChallenge, AcceptsTheSchemesLinesAndRefusesEverythingElse) {
  const struct {
    const char* line;
    const char* scheme;
    bool ok;
    std::string token;
  } cases[] = {
      {"Negotiate", "Negotiate", true, ""},
      {"negotiate", "Negotiate", true, ""},
      {"Negotiate YWJj", "Negotiate", true, "abc"},
      {"Negotiate \t YQ==  ", "Negotiate", true, "a"},
      {"NTLM YWI=", "NTLM", true, "ab"},
      {"NTLM YWI=", "Negotiate", false, ""},
      {"NegotiateX YWJj", "Negotiate", false, ""},
      {"Negotiate YWJ", "Negotiate", false, ""},        // not whole groups
      {"Negotiate YW=j", "Negotiate", false, ""},       // fill inside
      {"Negotiate ====", "Negotiate", false, ""},       // fill only
      {"Negotiate Y===", "Negotiate", false, ""},       // three fill characters
      {"Negotiate YWJj ZGVm", "Negotiate", false, ""},  // two words
      {"Negotiate YW\x01j", "Negotiate", false, ""},
      {"Negotiate realm=\"x\"", "Negotiate", false, ""},
      {"Neg", "Negotiate", false, ""},
      {"", "Negotiate", false, ""},
  };
  for (const auto& c : cases) {
    TIdByteArray token{1, 2, 3};
    EXPECT_EQ(ReadLogonChallenge(c.line, c.scheme, token), c.ok) << c.line;
    EXPECT_EQ(std::string(token.begin(), token.end()), c.token) << c.line;
  }
}

TEST(ReadLogonChallenge, RefusesATokenOverTheLimit) {
  const std::string atLimit(kMaxLogonTokenText, 'A');
  const std::string over(kMaxLogonTokenText + 4, 'A');
  TIdByteArray token;
  EXPECT_TRUE(ReadLogonChallenge("Negotiate " + atLimit, "Negotiate", token));
  EXPECT_EQ(token.size(), kMaxLogonTokenText / 4 * 3);
  EXPECT_FALSE(ReadLogonChallenge("Negotiate " + over, "Negotiate", token));
  EXPECT_TRUE(token.empty());
}

// Nothing is asked of the system without a challenge of the scheme and a host to name.
TEST(LogonAuthentication, FailsBeforeTheSystemWithoutChallengeOrHost) {
  TIdNegotiateAuthentication scheme;
  TIdHeaderList challenges;
  challenges.Add("Basic realm=\"x\"");
  scheme.SetAuthParams(challenges);
  scheme.SetServiceHost("intranet");
  EXPECT_EQ(scheme.Next(), naFail);
  EXPECT_NE(scheme.ErrorText().find("challenge"), std::string::npos);

  challenges.Add("Negotiate");
  scheme.SetAuthParams(challenges);
  scheme.SetServiceHost("");
  EXPECT_EQ(scheme.Next(), naFail);
  EXPECT_EQ(scheme.ErrorText(), "no host to authenticate to");
  EXPECT_EQ(scheme.Step(), 0);
  EXPECT_EQ(scheme.BuildAuthorization(), "");
}

TEST(LogonAuthentication, SchemeWordsAndClasses) {
  EXPECT_EQ(LogonSchemeFor("negotiate").ClassName(), TIdNegotiateAuthentication::kClassName);
  EXPECT_EQ(LogonSchemeFor("NTLM").ClassName(), TIdSSPINTLMAuthentication::kClassName);
  EXPECT_FALSE(LogonSchemeFor("Basic"));
  EXPECT_FALSE(LogonSchemeUsable("Digest", "", ""));
}

}  // namespace
}  // namespace brixa
