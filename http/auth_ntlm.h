#pragma once
// The NTLM version 1 authentication scheme: negotiate, challenge and authenticate messages.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/authentication.h"
#include "runtime/bytes.h"

namespace brixa {

// The NTLM (version 1) scheme: three legs on one connection. Leg one sends the negotiate
// (type-1) message, the server answers with a challenge (type-2), leg two sends the
// authenticate (type-3) message carrying the LM and NT responses to that challenge.
//
// The DES it needs comes from the run-time loaded libcrypto; where that cannot be loaded the
// platform's own DES is used when it has one (Windows CNG), otherwise the constructor raises
// EIdOSSLCouldNotLoadSSLLibrary "Could not load SSL library.".
class TIdNTLMAuthentication : public TIdAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdNTLMAuthentication";

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

  [[nodiscard]] const std::string& Domain() const noexcept { return domain_; }
  [[nodiscard]] const std::string& User() const noexcept { return user_; }
  // The computer name sent in the last message built.
  [[nodiscard]] const std::string& Host() const noexcept { return host_; }

 private:
  std::string challenge_;  // base64 of the server's type-2 message, once taken
  std::string host_;
  std::string domain_;
  std::string user_;
};

// The message builders behind the scheme, exposed for known-answer checks. Text is UTF-8.
using TNTLMChallenge = std::array<std::uint8_t, 8>;
using TNTLMResponse = std::array<std::uint8_t, 24>;

// Type-1: domain and host upper-cased, one byte per character (ASCII, others as '?').
[[nodiscard]] TIdByteArray NTLMNegotiateMessage(std::string_view domain, std::string_view host);
// Type-3: domain and host upper-cased, user as given, all three UTF-16LE; then the LM and NT
// responses of `password` to `challenge`.
[[nodiscard]] TIdByteArray NTLMAuthenticateMessage(std::string_view domain, std::string_view user,
                                                   std::string_view host, std::string_view password,
                                                   const TNTLMChallenge& challenge);
// The 24-byte responses: DES of the challenge under the 16-byte LM / NT password hash.
[[nodiscard]] TNTLMResponse NTLMLMResponse(std::string_view password,
                                           const TNTLMChallenge& challenge);
[[nodiscard]] TNTLMResponse NTLMNTResponse(std::string_view password,
                                           const TNTLMChallenge& challenge);

// DES of one 8-byte block in ECB mode under the 56-bit key `key7` (7 bytes, spread to 8 with
// odd parity). False when no DES implementation can be loaded.
[[nodiscard]] bool NTLMDesEncrypt(const std::uint8_t* key7, const std::uint8_t* block,
                                  std::uint8_t* out);
// Whether NTLMDesEncrypt can work in this process (loads what it needs on first call).
[[nodiscard]] bool NTLMDesAvailable();

}  // namespace brixa
