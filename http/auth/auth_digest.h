#pragma once
// The "Digest" authentication scheme (RFC 7616): MD5, SHA-256 and SHA-512-256, sessions, qop and
// nonce counts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/auth/authentication.h"

namespace brixa {

// The "Digest" scheme (RFC 7616) with the MD5, SHA-256 and SHA-512-256 algorithms and their
// "-sess" variants, qop "auth" and "auth-int", nonce counting, client nonces and the opaque value.
//
// Steps: Next reads the strongest Digest challenge it can answer and moves from step 0 to 1;
// BuildAuthorization makes the header, counts the nonce use and returns to step 0. Once a nonce
// is known, every later header reuses it with the next count, until a new challenge brings
// another: the object is not tied to the connection its challenge came on. The header signs
// the method and the request-target of Request() (set by the client for the server's and the
// proxy's object alike) and, for "auth-int", the entity body.
class TIdDigestAuthentication : public TIdAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdDigestAuthentication";
  static constexpr int kRank = kAuthRankDigest;
  // DigestChallengeStrength: a stronger algorithm wins among Digest challenges.
  [[nodiscard]] static int ChallengeStrength(std::string_view challenge);

  TIdDigestAuthentication();
  ~TIdDigestAuthentication() override;

  // Step 0: reads the strongest of the "Digest" challenges in AuthParams (realm, nonce, domain,
  // opaque, stale, algorithm, qop), moves to step 1 and answers naRetry with a user name,
  // naAskApplication without one. Raises EIdInvalidAlgorithm when no challenge names an
  // algorithm this object computes (none named means MD5). Answers naFail when AuthParams hold
  // no Digest challenge with a nonce. Any other step: naRetry at once.
  [[nodiscard]] TAuthNextAction Next() override;
  [[nodiscard]] int StepCount() const override { return 1; }
  // Step 1, and step 0 once a nonce is known: the full credentials with the next nonce count.
  // Step 0 before any challenge, and any other step: empty (no header at all).
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

  // Request().Method and Request().Target, one at a time.
  [[nodiscard]] const std::string& Method() const noexcept { return Request().Method; }
  void SetMethod(std::string method);
  [[nodiscard]] const std::string& Uri() const noexcept { return Request().Target; }
  void SetUri(std::string uri);
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
  [[nodiscard]] std::string Hash(std::string_view text) const;
  [[nodiscard]] std::string SelectedQop() const;
  [[nodiscard]] std::string Credentials();

  bool stale_ = false;
  std::string opaque_;
  std::vector<std::string> domain_;
  std::string nonce_;
  std::uint32_t nonceCount_ = 0;
  std::string algorithm_;
  std::vector<std::string> qop_;
  std::string entityBody_;
  std::string fixedCNonce_;
  // For a "-sess" algorithm: the client nonce chosen with the current nonce, which the session
  // key is made from and every header of the session repeats.
  std::string sessionCNonce_;
};

// How strong a "Digest" challenge line is for this client: 0 when it cannot be answered (an
// algorithm it does not compute), otherwise higher for a stronger algorithm (SHA-512-256 over
// SHA-256 over MD5).
[[nodiscard]] int DigestChallengeStrength(std::string_view challenge);

}  // namespace brixa
