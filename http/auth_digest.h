#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/authentication.h"

namespace brixa {

// The "Digest" scheme with the MD5 algorithm, qop "auth" and "auth-int", nonce counting,
// client nonces and the opaque value.
//
// Steps: Next reads the challenge and moves from step 0 to 1; BuildAuthorization at step 1 makes
// the header, counts the nonce use and returns to step 0. Before the header is built the request
// writer gives the object the request's method, the request URI as written in the request line
// and, for "auth-int", the entity body.
class TIdDigestAuthentication : public TIdAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdDigestAuthentication";

  TIdDigestAuthentication();
  ~TIdDigestAuthentication() override;

  // Step 0: reads the "Digest" challenge (realm, nonce, domain, opaque, stale, algorithm, qop),
  // moves to step 1 and answers naRetry with a user name, naAskApplication without one. Raises
  // EIdInvalidAlgorithm for an algorithm other than MD5 (none named means MD5). Answers naFail
  // when AuthParams hold no Digest challenge with a nonce. Any other step: naRetry at once.
  [[nodiscard]] TAuthNextAction Next() override;
  [[nodiscard]] int StepCount() const override { return 1; }
  // Step 0: "Digest"; step 1: the full credentials; any other step: empty.
  [[nodiscard]] std::string BuildAuthorization() override;

  [[nodiscard]] bool Stale() const noexcept { return stale_; }
  void SetStale(bool stale) noexcept { stale_ = stale; }
  [[nodiscard]] const std::string& Opaque() const noexcept { return opaque_; }
  void SetOpaque(std::string opaque) { opaque_ = std::move(opaque); }
  // The "algorithm" item as received; empty when the challenge named none.
  [[nodiscard]] const std::string& Algorithm() const noexcept { return algorithm_; }
  void SetAlgorithm(std::string algorithm) { algorithm_ = std::move(algorithm); }
  [[nodiscard]] const std::vector<std::string>& Domain() const noexcept { return domain_; }
  [[nodiscard]] const std::vector<std::string>& Qop() const noexcept { return qop_; }
  [[nodiscard]] const std::string& Nonce() const noexcept { return nonce_; }
  // Uses of the current nonce so far plus one: the nc of the next header (0 before any nonce).
  [[nodiscard]] std::uint32_t NonceCount() const noexcept { return nonceCount_; }

  [[nodiscard]] const std::string& Method() const noexcept { return method_; }
  void SetMethod(std::string method) { method_ = std::move(method); }
  [[nodiscard]] const std::string& Uri() const noexcept { return uri_; }
  void SetUri(std::string uri) { uri_ = std::move(uri); }
  // The request body exactly as sent (bytes in a string); hashed for qop "auth-int" only.
  [[nodiscard]] const std::string& EntityBody() const noexcept { return entityBody_; }
  void SetEntityBody(std::string body) { entityBody_ = std::move(body); }
  // A fixed client nonce for reproducible exchanges. Empty (the default): every header gets a
  // fresh, unpredictable one.
  [[nodiscard]] const std::string& CNonce() const noexcept { return fixedCNonce_; }
  void SetCNonce(std::string cnonce) { fixedCNonce_ = std::move(cnonce); }

 private:
  void ReadChallenge(std::string_view challenge);
  [[nodiscard]] std::string NewCNonce() const;
  [[nodiscard]] std::string SelectedQop() const;
  [[nodiscard]] std::string Credentials();

  bool stale_ = false;
  std::string opaque_;
  std::vector<std::string> domain_;
  std::string nonce_;
  std::uint32_t nonceCount_ = 0;
  std::string algorithm_;
  std::vector<std::string> qop_;
  std::string method_;
  std::string uri_;
  std::string entityBody_;
  std::string fixedCNonce_;
};

}  // namespace brixa
