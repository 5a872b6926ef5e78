#include "http/auth_digest.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "http/auth_challenge.h"
#include "http/hash_md5.h"
#include "runtime/text.h"

namespace brixa {

namespace {

constexpr std::string_view kScheme = "Digest";
constexpr std::string_view kMD5 = "MD5";
constexpr std::string_view kQopAuth = "auth";
constexpr std::string_view kQopAuthInt = "auth-int";
// The nonce count goes out as exactly this many hexadecimal digits.
constexpr int kNonceCountDigits = 8;

// H(x): MD5 of the text's bytes as they are (UTF-8), lower-case hexadecimal. Hashing the bytes,
// not an ASCII reduction, keeps non-ASCII user names and passwords intact.
[[nodiscard]] std::string H(std::string_view text) {
  TIdHashMessageDigest5 md5;
  return DigestToHex(md5.HashBytes(text.data(), text.size()), false);
}

[[nodiscard]] std::string Join(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (const std::string_view part : parts) {
    if (!out.empty()) out.push_back(':');
    out.append(part);
  }
  return out;
}

[[nodiscard]] std::string NonceCountText(std::uint32_t count) {
  char text[kNonceCountDigits + 1];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(count));
  return text;
}

[[nodiscard]] bool Holds(const std::vector<std::string>& list, std::string_view word) {
  return IndexOfText(word, list, false) >= 0;
}

}  // namespace

TIdDigestAuthentication::TIdDigestAuthentication() = default;
TIdDigestAuthentication::~TIdDigestAuthentication() = default;

void TIdDigestAuthentication::ReadChallenge(std::string_view challenge) {
  const std::vector<TIdAuthChallengeItem> items = SplitChallengeItems(DropSchemeWord(challenge));
  SetRealm(ChallengeItemValue(items, "realm"));
  const std::string nonce = ChallengeItemValue(items, "nonce");
  if (nonce != nonce_) {
    nonce_ = nonce;
    nonceCount_ = 1;
  }
  domain_ = SplitWords(ChallengeItemValue(items, "domain"), " \t");
  opaque_ = ChallengeItemValue(items, "opaque");
  stale_ = SameTextNoCase(ChallengeItemValue(items, "stale"), "true");
  algorithm_ = ChallengeItemValue(items, "algorithm");
  qop_ = SplitWords(ChallengeItemValue(items, "qop"), ", \t");
}

TAuthNextAction TIdDigestAuthentication::Next() {
  if (Step() != 0) return naRetry;
  const std::string challenge = AuthParamStartingWith(kScheme);
  if (challenge.empty()) return naFail;  // nothing to answer
  ReadChallenge(challenge);
  // No algorithm named means MD5, as the Digest scheme defines.
  if (!algorithm_.empty() && !SameTextNoCase(algorithm_, kMD5)) {
    throw EIdInvalidAlgorithm(RSHTTPUnsupportedAuthAlgorithm);
  }
  if (nonce_.empty()) return naFail;  // a challenge without a nonce cannot be answered
  SetStep(1);
  return Username().empty() ? naAskApplication : naRetry;
}

std::string TIdDigestAuthentication::BuildAuthorization() {
  switch (Step()) {
    case 0:
      return std::string(kScheme);
    case 1:
      return Credentials();
    default:
      return {};
  }
}

std::string TIdDigestAuthentication::SelectedQop() const {
  if (Holds(qop_, kQopAuthInt)) return std::string(kQopAuthInt);
  if (Holds(qop_, kQopAuth)) return std::string(kQopAuth);
  return {};
}

// A client nonce nobody can predict: the clock, a process-wide counter and 64 random bits.
std::string TIdDigestAuthentication::NewCNonce() const {
  static std::atomic<std::uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  return H(std::to_string(now) + ":" + std::to_string(counter.fetch_add(1)) + ":" +
           std::to_string(random()));
}

std::string TIdDigestAuthentication::Credentials() {
  const std::string qop = SelectedQop();
  const std::string cnonce = fixedCNonce_.empty() ? NewCNonce() : fixedCNonce_;
  const std::string nc = NonceCountText(nonceCount_);
  const std::string ha1 = H(Join({Username(), Realm(), Password()}));
  const std::string ha2 =
      qop == kQopAuthInt ? H(Join({method_, uri_, H(entityBody_)})) : H(Join({method_, uri_}));
  const std::string response =
      qop.empty() ? H(Join({ha1, nonce_, ha2})) : H(Join({ha1, nonce_, nc, cnonce, qop, ha2}));

  std::string value = std::string(kScheme) + " username=" + QuoteAuthValue(Username());
  value += ", realm=" + QuoteAuthValue(Realm());
  value += ", nonce=" + QuoteAuthValue(nonce_);
  // Echo the algorithm only when the server named one; without it MD5 is implied.
  if (!algorithm_.empty()) value += ", algorithm=" + QuoteAuthValue(algorithm_);
  value += ", uri=" + QuoteAuthValue(uri_);
  if (!qop.empty()) {
    value += ", qop=" + QuoteAuthValue(qop);
    value += ", nc=" + nc;
    value += ", cnonce=" + QuoteAuthValue(cnonce);
  }
  value += ", response=" + QuoteAuthValue(response);
  if (!opaque_.empty()) value += ", opaque=" + QuoteAuthValue(opaque_);

  ++nonceCount_;
  SetStep(0);
  return value;
}

}  // namespace brixa
