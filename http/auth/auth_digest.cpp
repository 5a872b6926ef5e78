// Choosing the strongest Digest challenge, the client nonce, and the response hashes of each
// algorithm and qop.

#include "http/auth/auth_digest.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "http/auth/auth_challenge.h"
#include "http/message/header_list.h"
#include "runtime/hash/hash_md5.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/hash/hash_sha512.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr std::string_view kScheme = "Digest";
constexpr std::string_view kQopAuth = "auth";
constexpr std::string_view kQopAuthInt = "auth-int";
// The nonce count goes out as exactly this many hexadecimal digits.
constexpr int kNonceCountDigits = 8;

// The algorithms of RFC 7616, 3.3 and 6.1. A "-sess" variant hashes the credentials once per
// nonce together with the two nonces, and is as strong as its digest.
struct TDigestAlgorithm {
  std::string_view name;
  int strength;
  bool session;
  std::unique_ptr<TIdHash> (*make)();
};

template <class T>
std::unique_ptr<TIdHash> Make() {
  return std::make_unique<T>();
}

constexpr TDigestAlgorithm kAlgorithms[] = {
    {"MD5", 1, false, &Make<TIdHashMessageDigest5>},
    {"MD5-sess", 1, true, &Make<TIdHashMessageDigest5>},
    {"SHA-256", 2, false, &Make<TIdHashSHA256>},
    {"SHA-256-sess", 2, true, &Make<TIdHashSHA256>},
    {"SHA-512-256", 3, false, &Make<TIdHashSHA512_256>},
    {"SHA-512-256-sess", 3, true, &Make<TIdHashSHA512_256>},
};

// The algorithm a challenge names (none named means MD5); null when this client has none of
// that name.
[[nodiscard]] const TDigestAlgorithm* FindAlgorithm(std::string_view name) {
  if (name.empty()) return &kAlgorithms[0];
  for (const TDigestAlgorithm& algorithm : kAlgorithms) {
    if (SameTextNoCase(algorithm.name, name)) return &algorithm;
  }
  return nullptr;
}

[[nodiscard]] bool IsDigestChallenge(std::string_view line) {
  if (!StartsWithNoCase(line, kScheme)) return false;
  return line.size() == kScheme.size() || line[kScheme.size()] == ' ' ||
         line[kScheme.size()] == '\t';
}

[[nodiscard]] std::string Md5Hex(std::string_view text) {
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

int TIdDigestAuthentication::ChallengeStrength(std::string_view challenge) {
  return DigestChallengeStrength(challenge);
}

void TIdDigestAuthentication::SetMethod(std::string method) {
  TIdAuthRequest request = Request();
  request.Method = std::move(method);
  SetRequest(request);
}

void TIdDigestAuthentication::SetUri(std::string uri) {
  TIdAuthRequest request = Request();
  request.Target = std::move(uri);
  SetRequest(request);
}

int DigestChallengeStrength(std::string_view challenge) {
  const std::vector<TIdAuthChallengeItem> items = SplitChallengeItems(DropSchemeWord(challenge));
  const TDigestAlgorithm* algorithm = FindAlgorithm(ChallengeItemValue(items, "algorithm"));
  return algorithm == nullptr ? 0 : algorithm->strength;
}

TIdDigestAuthentication::TIdDigestAuthentication() = default;
TIdDigestAuthentication::~TIdDigestAuthentication() = default;

void TIdDigestAuthentication::ReadChallenge(std::string_view challenge) {
  const std::vector<TIdAuthChallengeItem> items = SplitChallengeItems(DropSchemeWord(challenge));
  SetRealm(ChallengeItemValue(items, "realm"));
  const std::string nonce = ChallengeItemValue(items, "nonce");
  if (nonce != nonce_) {
    nonce_ = nonce;
    nonceCount_ = 1;
    sessionCNonce_.clear();
  }
  domain_ = SplitWords(ChallengeItemValue(items, "domain"), " \t");
  opaque_ = ChallengeItemValue(items, "opaque");
  stale_ = SameTextNoCase(ChallengeItemValue(items, "stale"), "true");
  algorithm_ = ChallengeItemValue(items, "algorithm");
  qop_ = SplitWords(ChallengeItemValue(items, "qop"), ", \t");
}

// Among several Digest challenges (RFC 7616, 3.7: one per algorithm, in the server's order of
// preference) the strongest this client computes wins; the first of equals.
TAuthNextAction TIdDigestAuthentication::Next() {
  if (Step() != 0) return naRetry;
  const std::string* best = nullptr;
  int bestStrength = 0;
  bool anyDigest = false;
  for (const std::string& line : AuthParams().Lines()) {
    if (!IsDigestChallenge(line)) continue;
    anyDigest = true;
    const int strength = DigestChallengeStrength(line);
    if (strength > bestStrength) {
      best = &line;
      bestStrength = strength;
    }
  }
  if (!anyDigest) return naFail;  // nothing to answer
  if (best == nullptr) throw EIdInvalidAlgorithm(RSHTTPUnsupportedAuthAlgorithm);
  ReadChallenge(*best);
  if (nonce_.empty()) return naFail;  // a challenge without a nonce cannot be answered
  SetStep(1);
  return Username().empty() ? naAskApplication : naRetry;
}

std::string TIdDigestAuthentication::BuildAuthorization() {
  switch (Step()) {
    case 0:
      // A bare "Digest" carries nothing a server can check; without a nonce to reuse, no header
      // goes out and the server challenges afresh.
      if (nonce_.empty() || Username().empty()) return {};
      return Credentials();
    case 1:
      return Credentials();
    default:
      return {};
  }
}

// "auth" when offered: "auth-int" covers the request body, which a client that streams its
// body cannot hash before the head goes out. "auth-int" only when it is all the server takes.
std::string TIdDigestAuthentication::SelectedQop() const {
  if (Holds(qop_, kQopAuth)) return std::string(kQopAuth);
  if (Holds(qop_, kQopAuthInt)) return std::string(kQopAuthInt);
  return {};
}

// H(x) of the algorithm in force: its digest of the text's bytes as they are (UTF-8), in
// lower-case hexadecimal. Hashing the bytes, not an ASCII reduction, keeps non-ASCII user names
// and passwords intact.
std::string TIdDigestAuthentication::Hash(std::string_view text) const {
  const TDigestAlgorithm* algorithm = FindAlgorithm(algorithm_);
  const auto hash = (algorithm != nullptr ? algorithm : &kAlgorithms[0])->make();
  return DigestToHex(hash->HashBytes(text.data(), text.size()), false);
}

// A client nonce nobody can predict: the clock, a process-wide counter and 64 random bits.
std::string TIdDigestAuthentication::NewCNonce() const {
  static std::atomic<std::uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  return Md5Hex(std::to_string(now) + ":" + std::to_string(counter.fetch_add(1)) + ":" +
                std::to_string(random()));
}

std::string TIdDigestAuthentication::Credentials() {
  const TDigestAlgorithm* algorithm = FindAlgorithm(algorithm_);
  const bool session = algorithm != nullptr && algorithm->session;
  const std::string qop = SelectedQop();
  std::string cnonce = fixedCNonce_.empty() ? NewCNonce() : fixedCNonce_;
  if (session) {
    if (sessionCNonce_.empty()) sessionCNonce_ = cnonce;
    cnonce = sessionCNonce_;
  }
  const std::string nc = NonceCountText(nonceCount_);
  std::string ha1 = Hash(Join({Username(), Realm(), Password()}));
  if (session) ha1 = Hash(Join({ha1, nonce_, cnonce}));
  const std::string ha2 = qop == kQopAuthInt ? Hash(Join({Method(), Uri(), Hash(entityBody_)}))
                                             : Hash(Join({Method(), Uri()}));
  const std::string response = qop.empty() ? Hash(Join({ha1, nonce_, ha2}))
                                           : Hash(Join({ha1, nonce_, nc, cnonce, qop, ha2}));

  std::string value = std::string(kScheme) + " username=" + QuoteAuthValue(Username());
  value += ", realm=" + QuoteAuthValue(Realm());
  value += ", nonce=" + QuoteAuthValue(nonce_);
  // Echo the algorithm as the server named it; without one MD5 is implied.
  if (!algorithm_.empty()) value += ", algorithm=" + QuoteAuthValue(algorithm_);
  value += ", uri=" + QuoteAuthValue(Uri());
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
