// NTLM against the published version 1 and 2 responses and message bytes, the challenge message
// reader, and the scheme's steps and headers.

#include "http/auth/ntlm/auth_ntlm.h"

#include <gtest/gtest.h>

#include <string>

#include "http/message/header_list.h"
#include "platform/system/system_info.h"
#include "runtime/codec/mime_coder.h"
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

// The version 2 example of the protocol's documentation: user "User", domain "Domain", password
// "Password", server challenge 0123456789abcdef, client challenge aaaaaaaaaaaaaaaa, time 0, and
// the example challenge message, whose target information names the domain and the server.
const TIdByteArray kV2TargetInfo =
    Hex("0200 0c00 44006f006d00610069006e00 0100 0c00 53006500720076006500720000 000000");
const TIdByteArray kV2Challenge = [] {
  TIdByteArray m =
      Hex("4e544c4d53535000 02000000 0c00 0c00 38000000 33828ae2 0123456789abcdef"
          "0000000000000000 2400 2400 44000000 0600 7017 0000000f 5300650072007600650072 00");
  m.insert(m.end(), kV2TargetInfo.begin(), kV2TargetInfo.end());
  return m;
}();

TEST(NTLMv2Test, PublishedVersion2Responses) {
  EXPECT_EQ(NTLMv2Hash("User", "Domain", "Password"), Hex("0c868a403bfd7a93a3001ef22ef02e3f"));
  // The user is upper-cased, the domain is not.
  EXPECT_EQ(NTLMv2Hash("uSER", "Domain", "Password"), NTLMv2Hash("User", "Domain", "Password"));
  EXPECT_NE(NTLMv2Hash("User", "DOMAIN", "Password"), NTLMv2Hash("User", "Domain", "Password"));

  const TNTLMChallengeMessage type2 = ReadNTLMChallengeMessage(kV2Challenge);
  EXPECT_EQ(type2.Flags, 0xe28a8233u);
  EXPECT_EQ(TIdByteArray(type2.ServerChallenge.begin(), type2.ServerChallenge.end()),
            Hex("0123456789abcdef"));
  ASSERT_EQ(TIdByteArray(type2.TargetInfo.begin(), type2.TargetInfo.end()), kV2TargetInfo);

  const TNTLMClientChallenge client = {0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};
  const TNTLMv2Responses r =
      NTLMv2ResponsesFor("User", "Domain", "Password", kChallenge, client, 0, type2.TargetInfo);
  EXPECT_EQ(r.LM, Hex("86c35097ac9cec102554764a57cccc19 aaaaaaaaaaaaaaaa"));
  ASSERT_EQ(r.NT.size(), 16u + 28u + kV2TargetInfo.size() + 4u);
  EXPECT_EQ(TIdByteArray(r.NT.begin(), r.NT.begin() + 16), Hex("68cd0ab851e51c96aabc927bebef6a1c"));
  EXPECT_EQ(TIdByteArray(r.NT.begin() + 16, r.NT.begin() + 44),
            Hex("0101000000000000 0000000000000000 aaaaaaaaaaaaaaaa 00000000"));

  // The authenticate message carries both at the offsets its fields name.
  const TIdByteArray message = NTLMv2AuthenticateMessage("Domain", "User", "ws1", r);
  ASSERT_GE(message.size(), 64u);
  EXPECT_EQ(TIdByteArray(message.begin() + 12, message.begin() + 16), Hex("1800 1800"));
  EXPECT_EQ(message[20], r.NT.size());
  EXPECT_EQ(TIdByteArray(message.begin() + 60, message.begin() + 64), Hex("05828100"));
  EXPECT_EQ(TIdByteArray(message.end() - static_cast<std::ptrdiff_t>(r.NT.size()), message.end()),
            r.NT);
}

TEST(NTLMv2Test, ChallengeMessagesAreReadWithinTheirBounds) {
  const TIdByteArray v1 =
      Hex("4e544c4d53535000 02000000 0000 0000 30000000 05820100 0123456789abcdef"
          "0000000000000000 0000 0000 30000000");
  struct Case {
    const char* what;
    TIdByteArray message;
    bool valid;
    std::size_t targetInfo;
  } cases[] = {
      {"the example", kV2Challenge, true, kV2TargetInfo.size()},
      {"no target information flag", v1, true, 0},
      {"only the fixed part to the challenge", TIdByteArray(v1.begin(), v1.begin() + 32), true, 0},
      {"one byte short of the challenge", TIdByteArray(v1.begin(), v1.begin() + 31), false, 0},
      {"empty", {}, false, 0},
      {"other signature", Hex("4e544c4d53535001 02000000" + std::string(48, '0')), false, 0},
      {"type 3", Hex("4e544c4d53535000 03000000" + std::string(48, '0')), false, 0},
      {"target information past the end",
       TIdByteArray(kV2Challenge.begin(), kV2Challenge.end() - 1), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.valid) {
      EXPECT_THROW((void)ReadNTLMChallengeMessage(c.message), EIdNTLMInvalidChallenge);
      continue;
    }
    EXPECT_EQ(ReadNTLMChallengeMessage(c.message).TargetInfo.size(), c.targetInfo);
  }
  std::uint64_t stamp = 0;
  EXPECT_FALSE(NTLMTargetInfoTimestamp(kV2TargetInfo, stamp));
  TIdByteArray stamped = Hex("0700 0800 0102030405060708 0000 0000");
  EXPECT_TRUE(NTLMTargetInfoTimestamp(stamped, stamp));
  EXPECT_EQ(stamp, 0x0807060504030201u);
  stamped[2] = 9;  // runs past the end
  EXPECT_FALSE(NTLMTargetInfoTimestamp(stamped, stamp));
}

// A challenge with target information is answered with version 2 (LMv2 and the blob around the
// server's information and time stamp), a short one raises, and UseNTLMv1 keeps version 1.
TEST_F(NTLMTest, AnswerFollowsTheChallenge) {
  const TIdByteArray stamp = Hex("0700 0800 1122334455667788");
  TIdByteArray info(stamp);
  info.insert(info.end(), kV2TargetInfo.begin(), kV2TargetInfo.end());
  TIdByteArray type2(kV2Challenge.begin(), kV2Challenge.end() - 36);
  type2[40] = static_cast<std::uint8_t>(info.size());
  type2[42] = type2[40];
  type2.insert(type2.end(), info.begin(), info.end());
  const auto answer = [&](bool v1, const TIdByteArray& challengeMessage) {
    TIdNTLMAuthentication auth;
    auth.SetUseNTLMv1(v1);
    auth.StoreUsername("Domain\\User");
    auth.StorePassword("Password");
    EXPECT_EQ(auth.Next(), naRetry);
    TIdHeaderList challenge;
    challenge.Add("NTLM " + TIdEncoderMIME::EncodeBytes(challengeMessage));
    auth.SetAuthParams(challenge);
    EXPECT_EQ(auth.Next(), naRetry);
    return TIdDecoderMIME::DecodeBytes(auth.BuildAuthorization().substr(5));
  };
  const TIdByteArray v2 = answer(false, type2);
  ASSERT_GT(v2.size(), 64u + 24u + 44u);
  EXPECT_EQ(v2[20], 44u + info.size() + 4u);  // NT response: proof, blob, target information
  const auto ntAt = v2.end() - static_cast<std::ptrdiff_t>(44 + info.size() + 4);
  EXPECT_EQ(TIdByteArray(ntAt + 16, ntAt + 18), Hex("0101"));
  EXPECT_EQ(TIdByteArray(ntAt + 24, ntAt + 32), Hex("1122334455667788"));  // the server's time
  EXPECT_EQ(TIdByteArray(ntAt + 44, v2.end() - 4), info);

  const TIdByteArray v1 = answer(true, type2);
  EXPECT_EQ(TIdByteArray(v1.end() - 24, v1.end()), Bytes(NTLMNTResponse("Password", kChallenge)));

  TIdNTLMAuthentication auth;
  auth.StoreUsername("u");
  ASSERT_EQ(auth.Next(), naRetry);
  TIdHeaderList challenge;
  challenge.Add("NTLM " +
                TIdEncoderMIME::EncodeBytes(TIdByteArray(type2.begin(), type2.begin() + 28)));
  auth.SetAuthParams(challenge);
  ASSERT_EQ(auth.Next(), naRetry);
  EXPECT_THROW((void)auth.BuildAuthorization(), EIdNTLMInvalidChallenge);
  EXPECT_EQ(auth.Step(), 0);
}

// Names and the LM password go through the 8-bit code page before they are upper-cased: what
// it lacks becomes '?' in the 8-bit forms, never a character cut to its low byte.
TEST_F(NTLMTest, EightBitFormsGoThroughTheCodePage) {
  EXPECT_EQ(NTLMLMResponse("p\xC3\xA4sswort", kChallenge),
            NTLMLMResponse("P\xC3\x84SSWORT", kChallenge));
  // U+0416 would be the byte 0x16 if cut; the code page has no such letter.
  EXPECT_EQ(NTLMLMResponse("\xD0\x96", kChallenge), NTLMLMResponse("?", kChallenge));
  EXPECT_NE(NTLMLMResponse("\xD0\x96", kChallenge), NTLMLMResponse("\x16", kChallenge));
  EXPECT_EQ(NTLMNegotiateMessage("d\xC3\xB6m", ""),
            Hex("4e544c4d53535000 01000000 07b20000 0300 0300 20000000 0000 0000 20000000"
                "44d64d"));
  EXPECT_EQ(NTLMNegotiateMessage("\xD0\x96", "").back(), '?');
  // The user of the version 2 hash is upper-cased the same way.
  EXPECT_EQ(NTLMv2Hash("\xC3\xA4", "", "p"), NTLMv2Hash("\xC3\x84", "", "p"));
}

TEST_F(NTLMTest, RegisteredUnderItsSchemeWord) {
  const TIdAuthenticationClass cls = FindAuthScheme("ntlm");
  ASSERT_TRUE(cls);
  EXPECT_EQ(cls.ClassName(), "TIdNTLMAuthentication");
  EXPECT_NE(dynamic_cast<TIdNTLMAuthentication*>(cls.Create().get()), nullptr);
}

// Without DES, NTLM raises an error of its own that handlers of the missing TLS library still
// catch, with the message they know. Where DES is there (as wherever libcrypto loads) the raise
// the NTLM code makes is shown directly; where it is not, the scheme's constructor shows it.
TEST(NTLMDesTest, MissingDesIsItsOwnErrorAndStillTheLibraryOne) {
  try {
    if (NTLMDesAvailable()) {
      RaiseNTLMDesUnavailable();
    } else {
      TIdNTLMAuthentication ntlm;
    }
    ADD_FAILURE() << "nothing raised";
  } catch (const EIdOSSLCouldNotLoadSSLLibrary& e) {
    EXPECT_NE(dynamic_cast<const EIdNTLMDesUnavailable*>(&e), nullptr);
    EXPECT_STREQ(e.ClassName(), "EIdNTLMDesUnavailable");
    EXPECT_EQ(e.Message(), "Could not load SSL library.");
  }
}

}  // namespace
}  // namespace brixa
