// NTLM against the published version 1 responses and message bytes, and its steps and headers.

#include "http/auth_ntlm.h"

#include <gtest/gtest.h>

#include <string>

#include "http/header_list.h"
#include "http/mime_coder.h"
#include "platform/system_info.h"
#include "runtime/network_exception.h"

namespace brixa {
namespace {

TIdByteArray Hex(std::string_view hex) {
  TIdByteArray out;
  std::string digits;
  for (const char c : hex) {
    if (c != ' ') digits.push_back(c);
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

TIdByteArray Bytes(const TNTLMResponse& r) {
  return {r.begin(), r.end()};
}

constexpr TNTLMChallenge kChallenge = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

// The NTLMv1 responses of the protocol's published example (user "User", domain "Domain",
// password "Password", server challenge 0123456789abcdef, no extended session security).
const char* const kLMResponse = "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13";
const char* const kNTResponse = "67c43011f30298a2ad35ece64f16331c44bdbed927841f94";

class NTLMTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NTLMDesAvailable()) GTEST_SKIP() << "no DES here: install libssl3 (OpenSSL)";
  }
};

TEST_F(NTLMTest, PublishedVersion1Responses) {
  EXPECT_EQ(Bytes(NTLMLMResponse("Password", kChallenge)), Hex(kLMResponse));
  EXPECT_EQ(Bytes(NTLMNTResponse("Password", kChallenge)), Hex(kNTResponse));
  // LM upper-cases the password and uses 14 bytes of it; NT keeps case and every character.
  EXPECT_EQ(Bytes(NTLMLMResponse("pASSWORD", kChallenge)), Hex(kLMResponse));
  EXPECT_NE(Bytes(NTLMNTResponse("pASSWORD", kChallenge)), Hex(kNTResponse));
  EXPECT_EQ(NTLMLMResponse("Password12345678", kChallenge),
            NTLMLMResponse("PASSWORD123456xx", kChallenge));
  EXPECT_NE(NTLMNTResponse("Password12345678", kChallenge),
            NTLMNTResponse("PASSWORD123456xx", kChallenge));
  // The 8-bit form of the LM password: U+00E9 upper-cases to the byte C9, as U+00C9 is.
  EXPECT_EQ(NTLMLMResponse("caf\xC3\xA9", kChallenge), NTLMLMResponse("CAF\xC3\x89", kChallenge));
}

TEST_F(NTLMTest, NegotiateMessageBytes) {
  EXPECT_EQ(NTLMNegotiateMessage("Domain", "ws1"),
            Hex("4e544c4d53535000 01000000 07b20000 0600 0600 23000000 0300 0300 20000000"
                "575331 444f4d41494e"));
  EXPECT_EQ(NTLMNegotiateMessage("", ""),
            Hex("4e544c4d53535000 01000000 07b20000 0000 0000 20000000 0000 0000 20000000"));
}

TEST_F(NTLMTest, AuthenticateMessageBytes) {
  const TIdByteArray message =
      NTLMAuthenticateMessage("Domain", "User", "ws1", "Password", kChallenge);
  const TIdByteArray expected =
      Hex(std::string("4e544c4d53535000 03000000"
                      "1800 1800 5a000000 1800 1800 72000000"
                      "0c00 0c00 40000000 0800 0800 4c000000 0600 0600 54000000"
                      "0000 0000 8a000000 05820100"
                      "44004f004d00410049004e00 5500730065007200 570053003100") +
          kLMResponse + kNTResponse);
  EXPECT_EQ(message, expected);
  // A character outside Latin-1 goes as its UTF-16 unit; the user keeps its case.
  const TIdByteArray greek = NTLMAuthenticateMessage("", "\xCE\xB1x", "", "p", kChallenge);
  ASSERT_GE(greek.size(), 68u);
  EXPECT_EQ(TIdByteArray(greek.begin() + 64, greek.begin() + 68), Hex("b1037800"));
}

TEST_F(NTLMTest, StepsAndHeaders) {
  TIdNTLMAuthentication auth;
  EXPECT_EQ(auth.StepCount(), 3);
  EXPECT_TRUE(auth.NeedsKeepAlive());
  EXPECT_EQ(auth.BuildAuthorization(), "");  // step 0 sends nothing
  EXPECT_EQ(auth.Next(), naAskApplication);  // no user name yet
  EXPECT_EQ(auth.Step(), 0);
  auth.StoreUsername("Domain\\User");
  auth.StorePassword("Password");
  EXPECT_EQ(auth.Domain(), "Domain");
  EXPECT_EQ(auth.User(), "User");
  EXPECT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Step(), 1);
  EXPECT_EQ(auth.BuildAuthorization(), "NTLM " + TIdEncoderMIME::EncodeBytes(NTLMNegotiateMessage(
                                                     "Domain", LocalComputerName())));

  // A type-2 message with the example's challenge at offset 24.
  const TIdByteArray type2 =
      Hex("4e544c4d53535000 02000000 0000 0000 30000000 05820100 0123456789abcdef"
          "0000000000000000 0000 0000 30000000");
  TIdHeaderList challenge;
  challenge.Add("NTLM " + TIdEncoderMIME::EncodeBytes(type2));
  auth.SetAuthParams(challenge);
  EXPECT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Step(), 2);
  const std::string type3 = auth.BuildAuthorization();
  EXPECT_EQ(type3, "NTLM " + TIdEncoderMIME::EncodeBytes(NTLMAuthenticateMessage(
                                 "Domain", "User", LocalComputerName(), "Password", kChallenge)));
  EXPECT_EQ(auth.Step(), 2);
  EXPECT_EQ(auth.Next(), naRetry);
  EXPECT_EQ(auth.Step(), 3);
  EXPECT_EQ(auth.BuildAuthorization(), "");
  EXPECT_EQ(auth.Next(), naFail);
  EXPECT_EQ(auth.Step(), 0);
}

TEST_F(NTLMTest, UserNameSplitsAtTheFirstBackslash) {
  TIdNTLMAuthentication auth;
  auth.StoreUsername("alice");
  EXPECT_EQ(auth.Domain(), "");
  EXPECT_EQ(auth.User(), "alice");
  auth.StoreUsername("CORP\\bob\\x");
  EXPECT_EQ(auth.Domain(), "CORP");
  EXPECT_EQ(auth.User(), "bob\\x");
  EXPECT_EQ(auth.Username(), "CORP\\bob\\x");
  auth.StoreUsername("\\carol");
  EXPECT_EQ(auth.Domain(), "");
  EXPECT_EQ(auth.User(), "carol");
}

TEST_F(NTLMTest, MissingChallengeRestartsAndAbortsSilently) {
  TIdNTLMAuthentication auth;
  auth.StoreUsername("u");
  ASSERT_EQ(auth.Next(), naRetry);
  TIdHeaderList bare;
  bare.Add("NTLM");  // a second challenge without the type-2 message
  auth.SetAuthParams(bare);
  ASSERT_EQ(auth.Next(), naRetry);
  EXPECT_THROW((void)auth.BuildAuthorization(), EIdSilentException);
  EXPECT_EQ(auth.Step(), 0);
}

TEST_F(NTLMTest, RegisteredUnderItsSchemeWord) {
  const TIdAuthenticationClass cls = FindAuthScheme("ntlm");
  ASSERT_TRUE(cls);
  EXPECT_EQ(cls.ClassName(), "TIdNTLMAuthentication");
  EXPECT_NE(dynamic_cast<TIdNTLMAuthentication*>(cls.Create().get()), nullptr);
}

}  // namespace
}  // namespace brixa
