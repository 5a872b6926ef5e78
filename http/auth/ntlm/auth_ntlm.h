#pragma once
// The NTLM authentication scheme (versions 1 and 2): negotiate, challenge and authenticate
// messages.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/auth/authentication.h"
#include "http/auth/ntlm/auth_ntlm_des.h"
#include "runtime/text/bytes.h"

namespace brixa {

// Raised while answering a server's NTLM challenge (type-2) message that is not one: too short
// for its fixed part, of another signature or type, or naming target information outside it.
BRIXA_DECLARE_ID_EXCEPTION(EIdNTLMInvalidChallenge, EIdException);
inline constexpr const char* RSNTLMInvalidChallenge = "The NTLM challenge message is invalid.";

// The NTLM scheme: three legs on one connection. Leg one sends the negotiate (type-1) message,
// the server answers with a challenge (type-2), leg two sends the authenticate (type-3) message
// carrying the LM and NT responses to that challenge. When the challenge carries the server's
// target information the responses are NTLMv2 (the NT proof over that information, a client
// challenge and a time stamp), as current systems send and many servers require; otherwise, or
// with UseNTLMv1, they are version 1.
//
// The DES of version 1 comes from the platform when it has one (Windows CNG, from the system
// folder), else from the run-time loaded libcrypto; with neither the constructor raises
// EIdNTLMDesUnavailable (an EIdOSSLCouldNotLoadSSLLibrary) "Could not load SSL library.".
class TIdNTLMAuthentication : public TIdAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdNTLMAuthentication";
  static constexpr int kRank = kAuthRankNTLM;
  // 1 where DES can be had; -1 (a last resort, so the constructor can say why) where not.
  // Finding out loads the DES library: the client asks only when it has credentials to answer.
  [[nodiscard]] static int ChallengeStrength(std::string_view challenge);

  TIdNTLMAuthentication();

  // 0 -> 1 with naRetry once a user name is stored (without one: naAskApplication, step kept),
  // 1 -> 2 and 2 -> 3 (naRetry),
  // 3 -> Restart and naFail; any other step answers naRetry.
  [[nodiscard]] TAuthNextAction Next() override;
  [[nodiscard]] int StepCount() const override { return 3; }
  // "DOMAIN\user" is split at the first backslash; without one the domain is empty.
  void StoreUsername(const std::string& username) override;
  // Back to step 0; the challenge of the previous exchange is forgotten.
  void Restart() override;
  // Step 1: "NTLM " + base64 of the type-1 message for this computer. Step 2: "NTLM " + base64
  // of the type-3 message answering the challenge in AuthParams; without one the exchange
  // restarts and the request is abandoned silently (EIdSilentException). Other steps: empty.
  [[nodiscard]] std::string BuildAuthorization() override;
  [[nodiscard]] bool NeedsKeepAlive() const override { return true; }
  // From the type-3 leg on: it answers the type-2 challenge of the connection it came on.
  [[nodiscard]] bool NeedsSameConnection() const override { return Step() > 1; }

  // Answer with version 1 responses even to a challenge that carries target information, for
  // the servers that cannot check version 2. False by default.
  [[nodiscard]] bool UseNTLMv1() const noexcept { return useNTLMv1_; }
  void SetUseNTLMv1(bool value) noexcept { useNTLMv1_ = value; }

  [[nodiscard]] const std::string& Domain() const noexcept { return domain_; }
  [[nodiscard]] const std::string& User() const noexcept { return user_; }
  // The computer name sent in the last message built.
  [[nodiscard]] const std::string& Host() const noexcept { return host_; }

 private:
  std::string challenge_;  // base64 of the server's type-2 message, once taken
  std::string host_;
  std::string domain_;
  std::string user_;
  bool useNTLMv1_ = false;
};

// The message builders behind the scheme, exposed for known-answer checks. Text is UTF-8.
using TNTLMChallenge = std::array<std::uint8_t, 8>;
using TNTLMResponse = std::array<std::uint8_t, 24>;

// The parts of a server's challenge (type-2) message the answer needs.
struct TNTLMChallengeMessage {
  std::uint32_t Flags = 0;
  std::array<std::uint8_t, 8> ServerChallenge{};
  // The target information (AV pairs) as received; empty when the message carries none.
  std::vector<std::uint8_t> TargetInfo;
};
// Reads a type-2 message. Raises EIdNTLMInvalidChallenge for a message shorter than the fixed
// part up to the server challenge (32 bytes), with another signature or message type, or whose
// target information field points outside the message. Target information is read only when
// the message is long enough to hold its field (48 bytes) and its flag is set.
[[nodiscard]] TNTLMChallengeMessage ReadNTLMChallengeMessage(const TIdByteArray& message);

// Type-1: domain and host upper-cased, one byte per character of the system's 8-bit code page
// ('?' for a character it lacks).
[[nodiscard]] TIdByteArray NTLMNegotiateMessage(std::string_view domain, std::string_view host);
// Type-3: domain and host upper-cased, user as given, all three UTF-16LE; then the version 1 LM
// and NT responses of `password` to `challenge`.
[[nodiscard]] TIdByteArray NTLMAuthenticateMessage(std::string_view domain, std::string_view user,
                                                   std::string_view host, std::string_view password,
                                                   const TNTLMChallenge& challenge);
// The NTLMv2 responses (MS-NLMP 3.3.2) and the type-3 message carrying them.
struct TNTLMv2Responses {
  TIdByteArray LM;  // LMv2: 16-byte HMAC and the 8-byte client challenge
  TIdByteArray NT;  // NTProofStr and the client's blob over the target information
};
using TNTLMClientChallenge = std::array<std::uint8_t, 8>;
// NTOWFv2 = HMAC-MD5 of MD4(UTF-16LE password) over UTF-16LE(upper-cased user + domain).
[[nodiscard]] TIdByteArray NTLMv2Hash(std::string_view user, std::string_view domain,
                                      std::string_view password);
// `timestamp` in 100 ns units since 1601-01-01 (a Windows FILETIME).
[[nodiscard]] TNTLMv2Responses NTLMv2ResponsesFor(std::string_view user, std::string_view domain,
                                                  std::string_view password,
                                                  const TNTLMChallenge& serverChallenge,
                                                  const TNTLMClientChallenge& clientChallenge,
                                                  std::uint64_t timestamp,
                                                  const std::vector<std::uint8_t>& targetInfo);
[[nodiscard]] TIdByteArray NTLMv2AuthenticateMessage(std::string_view domain, std::string_view user,
                                                     std::string_view host,
                                                     const TNTLMv2Responses& responses);
// The time stamp of the target information (MsvAvTimestamp), when it carries one; the answer
// uses the server's time so that a skewed client clock does not make it stale.
[[nodiscard]] bool NTLMTargetInfoTimestamp(const std::vector<std::uint8_t>& targetInfo,
                                           std::uint64_t& timestamp);

// The 24-byte responses: DES of the challenge under the 16-byte LM / NT password hash. The LM
// hash takes the password in the system's 8-bit code page, upper-cased there.
[[nodiscard]] TNTLMResponse NTLMLMResponse(std::string_view password,
                                           const TNTLMChallenge& challenge);
[[nodiscard]] TNTLMResponse NTLMNTResponse(std::string_view password,
                                           const TNTLMChallenge& challenge);

}  // namespace brixa
