// The Basic scheme's header, its credential prompts, and credentials that challenges cannot
// replace.

#include "http/auth/auth_basic.h"

#include <gtest/gtest.h>

#include <string>

#include "http/message/header_list.h"

namespace brixa {
namespace {

void Challenge(TIdAuthentication& auth, std::initializer_list<const char*> lines) {
  TIdHeaderList list;
  for (const char* line : lines) list.Add(line);
  auth.SetAuthParams(list);
}

TEST(BasicAuthTest, HeaderIsBase64OfUserColonPassword) {
  struct Case {
    const char* user;
    const char* password;
    const char* expected;
  };
  const Case cases[] = {
      {"Aladdin", "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
      {"user", "", "Basic dXNlcjo="},  // empty password: the colon still goes
      {"", "pw", "Basic OnB3"},        // empty user name: the colon still goes
      {"", "", "Basic Og=="},
      {"alice", "a:b c", "Basic YWxpY2U6YTpiIGM="},
      {"J\xC3\xBCrgen", "x", "Basic SvxyZ2VuOng="},  // U+00FC goes as the one byte FC
  };
  for (const Case& c : cases) {
    TIdBasicAuthentication auth;
    auth.StoreUsername(c.user);
    auth.StorePassword(c.password);
    EXPECT_EQ(auth.BuildAuthorization(), c.expected) << c.user << ":" << c.password;
    EXPECT_EQ(auth.BuildAuthorization(), c.expected) << "a second build is the same";
  }
}

TEST(BasicAuthTest, NextAsksForCredentialsUntilAUserNameIsStored) {
  TIdBasicAuthentication auth;
  auth.StoreUsername("u");
  EXPECT_EQ(auth.Next(), naRetry);  // without any challenge the credentials still answer
  auth.StoreUsername("");
  Challenge(auth, {"Digest realm=\"other\", nonce=\"n\"", "basic realm=\"Test, Realm\""});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(auth.Next(), naAskApplication);
  auth.StorePassword("secret");
  EXPECT_EQ(auth.Next(), naAskApplication);  // a password alone is not enough
  auth.StoreUsername("alice");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Step(), 0);
  EXPECT_EQ(auth.StepCount(), 1);
  EXPECT_FALSE(auth.NeedsKeepAlive());
  EXPECT_EQ(auth.Realm(), "Test, Realm");  // from the Basic line, quotes and comma handled
}

TEST(BasicAuthTest, ChallengeItemsGoToParamsButNeverReplaceCredentials) {
  TIdBasicAuthentication auth;
  auth.StoreUsername("alice");
  auth.StorePassword("secret");
  Challenge(auth, {"Basic realm=\"r1\", charset=\"UTF-8\", Username=mallory, password=x"});
  EXPECT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Params().HeaderValue("realm"), "\"r1\"");
  EXPECT_EQ(auth.Params().HeaderValue("charset"), "\"UTF-8\"");
  EXPECT_EQ(auth.Username(), "alice");
  EXPECT_EQ(auth.Password(), "secret");
  EXPECT_EQ(auth.BuildAuthorization(), "Basic YWxpY2U6c2VjcmV0");

  // A later challenge replaces the items it names and keeps the others.
  Challenge(auth, {"Basic realm=unquoted"});
  EXPECT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Realm(), "unquoted");
  EXPECT_EQ(auth.Params().HeaderValue("charset"), "\"UTF-8\"");
  EXPECT_EQ(auth.Params().Count(), 4);
}

}  // namespace
}  // namespace brixa
