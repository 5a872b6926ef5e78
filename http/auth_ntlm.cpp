// Building the NTLM negotiate and authenticate messages, the LM and NT responses, and reading
// the server's challenge without reading past the message it came in.

#include "http/auth_ntlm.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "http/hash_md4.h"
#include "http/mime_coder.h"
#include "platform/system_info.h"
#include "runtime/encoding.h"
#include "transport/ssl_exceptions.h"

namespace brixa {

namespace {

constexpr std::string_view kScheme = "NTLM";
constexpr std::uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr std::uint32_t kNegotiateFlags = 0x0000B207;
constexpr std::uint32_t kAuthenticateFlags = 0x00018205;
constexpr std::size_t kNegotiateHeader = 32;
constexpr std::size_t kAuthenticateHeader = 64;
constexpr std::size_t kChallengeOffset = 24;

void Put16(TIdByteArray& m, std::size_t at, std::size_t v) {
  m[at] = static_cast<std::uint8_t>(v);
  m[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(TIdByteArray& m, std::size_t at, std::size_t v) {
  for (int i = 0; i < 4; ++i) m[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Length twice (length, maximum), then the offset: the shape of every field pointer.
void PutField(TIdByteArray& m, std::size_t at, std::size_t length, std::size_t offset) {
  Put16(m, at, length);
  Put16(m, at + 2, length);
  Put32(m, at + 4, offset);
}

// The code points of UTF-8 text; malformed bytes read as U+FFFD.
std::u32string CodePoints(std::string_view text) {
  const std::string clean = BytesToText(TIdByteArray(text.begin(), text.end()), ceUTF8);
  std::u32string out;
  TIdUTF8ByteDecoder decoder;
  char32_t cp = 0;
  for (const char c : clean) {
    if (decoder.Feed(static_cast<std::uint8_t>(c), cp)) out.push_back(cp);
  }
  return out;
}

// Upper case of the ASCII and Latin-1 letters, the range every 8-bit code page shares with the
// messages' UTF-16; other characters are left as they are.
char32_t UpperChar(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  return c;
}

std::u32string Upper(std::u32string text) {
  for (char32_t& c : text) c = UpperChar(c);
  return text;
}

TIdByteArray Utf16LE(const std::u32string& text) {
  TIdByteArray out;
  auto unit = [&out](std::uint32_t u) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  for (const char32_t c : text) {
    if (c >= 0x10000) {
      const std::uint32_t v = c - 0x10000;
      unit(0xD800 + (v >> 10));
      unit(0xDC00 + (v & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

TIdByteArray Ascii(const std::u32string& text) {
  TIdByteArray out;
  for (const char32_t c : text) out.push_back(c < 0x80 ? static_cast<std::uint8_t>(c) : '?');
  return out;
}

// Three DES encryptions of the challenge under the 16-byte hash padded to 21 bytes.
TNTLMResponse ResponseFor(const std::uint8_t* hash16, const TNTLMChallenge& challenge) {
  std::uint8_t key[21] = {};
  std::memcpy(key, hash16, 16);
  TNTLMResponse out{};
  for (int i = 0; i < 3; ++i) {
    if (!NTLMDesEncrypt(key + 7 * i, challenge.data(), out.data() + 8 * i)) {
      throw EIdOSSLCouldNotLoadSSLLibrary(RSOSSLCouldNotLoadSSLLibrary);
    }
  }
  return out;
}

}  // namespace

TIdByteArray NTLMNegotiateMessage(std::string_view domain, std::string_view host) {
  const TIdByteArray d = Ascii(Upper(CodePoints(domain)));
  const TIdByteArray h = Ascii(Upper(CodePoints(host)));
  // Sized once and filled in place: growing it by insertion trips a false out-of-bounds warning
  // of one of the compilers in use.
  TIdByteArray m(kNegotiateHeader + h.size() + d.size(), 0);
  std::memcpy(m.data(), kSignature, 8);
  Put32(m, 8, 1);
  Put32(m, 12, kNegotiateFlags);
  PutField(m, 16, d.size(), kNegotiateHeader + h.size());
  PutField(m, 24, h.size(), kNegotiateHeader);
  std::copy(h.begin(), h.end(), m.begin() + kNegotiateHeader);
  std::copy(d.begin(), d.end(),
            m.begin() + static_cast<std::ptrdiff_t>(kNegotiateHeader + h.size()));
  return m;
}

TIdByteArray NTLMAuthenticateMessage(std::string_view domain, std::string_view user,
                                     std::string_view host, std::string_view password,
                                     const TNTLMChallenge& challenge) {
  const TIdByteArray d = Utf16LE(Upper(CodePoints(domain)));
  const TIdByteArray u = Utf16LE(CodePoints(user));
  const TIdByteArray h = Utf16LE(Upper(CodePoints(host)));
  const TNTLMResponse lm = NTLMLMResponse(password, challenge);
  const TNTLMResponse nt = NTLMNTResponse(password, challenge);
  const std::size_t lmOffset = kAuthenticateHeader + d.size() + u.size() + h.size();
  const std::size_t total = lmOffset + lm.size() + nt.size();
  TIdByteArray m(total, 0);
  std::memcpy(m.data(), kSignature, 8);
  Put32(m, 8, 3);
  PutField(m, 12, lm.size(), lmOffset);
  PutField(m, 20, nt.size(), lmOffset + lm.size());
  PutField(m, 28, d.size(), kAuthenticateHeader);
  PutField(m, 36, u.size(), kAuthenticateHeader + d.size());
  PutField(m, 44, h.size(), kAuthenticateHeader + d.size() + u.size());
  PutField(m, 52, 0, total);
  Put32(m, 60, kAuthenticateFlags);
  auto at = m.begin() + kAuthenticateHeader;
  for (const TIdByteArray* part : {&d, &u, &h}) at = std::copy(part->begin(), part->end(), at);
  at = std::copy(lm.begin(), lm.end(), at);
  std::copy(nt.begin(), nt.end(), at);
  return m;
}

TNTLMResponse NTLMLMResponse(std::string_view password, const TNTLMChallenge& challenge) {
  // The password in the 8-bit code page: one byte per character, upper-cased.
  std::uint8_t pw[14] = {};
  const std::u32string upper = Upper(CodePoints(password));
  for (std::size_t i = 0; i < upper.size() && i < sizeof pw; ++i) {
    pw[i] = static_cast<std::uint8_t>(upper[i]);
  }
  static constexpr std::uint8_t kMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
  std::uint8_t hash[16];
  for (int half = 0; half < 2; ++half) {
    if (!NTLMDesEncrypt(pw + 7 * half, kMagic, hash + 8 * half)) {
      throw EIdOSSLCouldNotLoadSSLLibrary(RSOSSLCouldNotLoadSSLLibrary);
    }
  }
  return ResponseFor(hash, challenge);
}

TNTLMResponse NTLMNTResponse(std::string_view password, const TNTLMChallenge& challenge) {
  TIdHashMessageDigest4 md4;
  const TIdByteArray hash = md4.HashBytes(Utf16LE(CodePoints(password)));
  return ResponseFor(hash.data(), challenge);
}

TIdNTLMAuthentication::TIdNTLMAuthentication() {
  if (!NTLMDesAvailable()) throw EIdOSSLCouldNotLoadSSLLibrary(RSOSSLCouldNotLoadSSLLibrary);
}

TAuthNextAction TIdNTLMAuthentication::Next() {
  switch (Step()) {
    case 0:
      // The client asks again once the application has supplied a user name; staying at 0
      // until then keeps that second question from skipping the negotiate leg.
      if (Username().empty()) return naAskApplication;
      SetStep(1);
      return naRetry;
    case 1:
      SetStep(2);
      return naRetry;
    case 2:
      SetStep(3);
      return naRetry;
    case 3:
      Restart();
      return naFail;
    default:
      return naRetry;
  }
}

void TIdNTLMAuthentication::StoreUsername(const std::string& username) {
  if (username == Username()) return;
  TIdAuthentication::StoreUsername(username);
  const std::size_t slash = username.find('\\');
  if (slash == std::string::npos) {
    domain_.clear();
    user_ = username;
  } else {
    domain_ = username.substr(0, slash);
    user_ = username.substr(slash + 1);
  }
}

void TIdNTLMAuthentication::Restart() {
  TIdAuthentication::Restart();
  challenge_.clear();
}

std::string TIdNTLMAuthentication::BuildAuthorization() {
  if (Step() == 1) {
    host_ = LocalComputerName();
    return std::string(kScheme) + " " +
           TIdEncoderMIME::EncodeBytes(NTLMNegotiateMessage(domain_, host_));
  }
  if (Step() != 2) return {};
  if (challenge_.empty()) {
    const std::string line = AuthParamStartingWith(kScheme);
    const std::size_t space = line.find(' ');
    if (space != std::string::npos) challenge_ = line.substr(space + 1);
    while (!challenge_.empty() && (challenge_.front() == ' ' || challenge_.front() == '\t')) {
      challenge_.erase(0, 1);
    }
  }
  if (challenge_.empty()) {
    Restart();
    throw EIdSilentException("");
  }
  const TIdByteArray type2 = TIdDecoderMIME::DecodeBytes(challenge_);
  TNTLMChallenge challenge{};
  for (std::size_t i = 0; i < challenge.size() && kChallengeOffset + i < type2.size(); ++i) {
    challenge[i] = type2[kChallengeOffset + i];
  }
  host_ = LocalComputerName();
  SetStep(2);
  return std::string(kScheme) + " " +
         TIdEncoderMIME::EncodeBytes(
             NTLMAuthenticateMessage(domain_, user_, host_, Password(), challenge));
}

}  // namespace brixa
