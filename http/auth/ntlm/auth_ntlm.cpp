// Building the NTLM negotiate and authenticate messages, the version 1 and 2 responses, and
// reading the server's challenge without reading past the message it came in.

#include "http/auth/ntlm/auth_ntlm.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <random>

#include "http/auth/ntlm/auth_ntlm_codepage.h"
#include "http/auth/ntlm/auth_ntlm_des.h"
#include "platform/system/system_info.h"
#include "runtime/codec/mime_coder.h"
#include "runtime/hash/hash_md4.h"
#include "runtime/hash/hash_md5.h"
#include "runtime/text/encoding.h"

namespace brixa {

namespace {

constexpr std::string_view kScheme = "NTLM";
constexpr std::uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr std::uint32_t kNegotiateFlags = 0x0000B207;
constexpr std::uint32_t kAuthenticateFlags = 0x00018205;
constexpr std::size_t kNegotiateHeader = 32;
constexpr std::size_t kAuthenticateHeader = 64;
constexpr std::size_t kChallengeOffset = 24;
// The fixed part of a type-2 message up to the server challenge, and up to the end of the
// target information field (the smallest message that can carry target information).
constexpr std::size_t kChallengeFixedPart = 32;
constexpr std::size_t kChallengeWithTargetInfo = 48;
constexpr std::size_t kTargetInfoField = 40;
constexpr std::uint32_t kFlagTargetInfo = 0x00800000;
// The authenticate flags of a version 2 answer: those of version 1, and the target information
// the answer covers.
constexpr std::uint32_t kAuthenticateFlagsV2 = kAuthenticateFlags | kFlagTargetInfo;
// AV pair identifiers (MS-NLMP 2.2.2.1).
constexpr std::uint16_t kAvEOL = 0;
constexpr std::uint16_t kAvTimestamp = 7;
// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::uint64_t kFileTimeEpochOffsetSeconds = 11644473600ULL;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000ULL;

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

std::uint32_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}

std::uint32_t Get32(const std::uint8_t* p) {
  return Get16(p) | (Get16(p + 2) << 16);
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

// Upper case as the system's 8-bit code page has it, as Windows upper-cases these names:
// through the code page, so that client and server agree on the letters it holds.
std::u32string Upper(std::u32string text) {
  for (char32_t& c : text) c = NTLMCodePageUpper(c);
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

TIdByteArray CodePageBytes(const std::u32string& text) {
  TIdByteArray out;
  for (const char32_t c : text) out.push_back(NTLMCodePageByte(c));
  return out;
}

// Every array below is sized once and filled in place: growing one by insertion trips a false
// out-of-bounds warning of one of the compilers in use.
TIdByteArray Concat(std::initializer_list<const TIdByteArray*> parts) {
  std::size_t size = 0;
  for (const TIdByteArray* part : parts) size += part->size();
  TIdByteArray out(size);
  auto at = out.begin();
  for (const TIdByteArray* part : parts) at = std::copy(part->begin(), part->end(), at);
  return out;
}

TIdByteArray HmacMd5(const TIdByteArray& key, const TIdByteArray& data) {
  constexpr std::size_t kBlock = 64;
  TIdHashMessageDigest5 md5;
  TIdByteArray k = key.size() > kBlock ? md5.HashBytes(key) : key;
  k.resize(kBlock, 0);
  TIdByteArray inner(kBlock);
  TIdByteArray outer(kBlock);
  for (std::size_t i = 0; i < kBlock; ++i) {
    inner[i] = static_cast<std::uint8_t>(k[i] ^ 0x36);
    outer[i] = static_cast<std::uint8_t>(k[i] ^ 0x5C);
  }
  const TIdByteArray innerHash = md5.HashBytes(Concat({&inner, &data}));
  return md5.HashBytes(Concat({&outer, &innerHash}));
}

std::uint64_t FileTimeNow() {
  const auto since1970 = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return (static_cast<std::uint64_t>(since1970.count()) + kFileTimeEpochOffsetSeconds) *
         kFileTimeUnitsPerSecond;
}

TNTLMClientChallenge NewClientChallenge() {
  std::random_device random;
  TNTLMClientChallenge out{};
  for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(random());
  return out;
}

// The authenticate message around its responses: 64-byte header, domain, user, host, LM, NT.
TIdByteArray AuthenticateMessage(std::string_view domain, std::string_view user,
                                 std::string_view host, const std::uint8_t* lm, std::size_t lmSize,
                                 const std::uint8_t* nt, std::size_t ntSize, std::uint32_t flags) {
  const TIdByteArray d = Utf16LE(Upper(CodePoints(domain)));
  const TIdByteArray u = Utf16LE(CodePoints(user));
  const TIdByteArray h = Utf16LE(Upper(CodePoints(host)));
  const std::size_t lmOffset = kAuthenticateHeader + d.size() + u.size() + h.size();
  const std::size_t total = lmOffset + lmSize + ntSize;
  TIdByteArray m(total, 0);
  std::memcpy(m.data(), kSignature, 8);
  Put32(m, 8, 3);
  PutField(m, 12, lmSize, lmOffset);
  PutField(m, 20, ntSize, lmOffset + lmSize);
  PutField(m, 28, d.size(), kAuthenticateHeader);
  PutField(m, 36, u.size(), kAuthenticateHeader + d.size());
  PutField(m, 44, h.size(), kAuthenticateHeader + d.size() + u.size());
  PutField(m, 52, 0, total);
  Put32(m, 60, flags);
  auto at = m.begin() + kAuthenticateHeader;
  for (const TIdByteArray* part : {&d, &u, &h}) at = std::copy(part->begin(), part->end(), at);
  at = std::copy(lm, lm + lmSize, at);
  std::copy(nt, nt + ntSize, at);
  return m;
}

// Three DES encryptions of the challenge under the 16-byte hash padded to 21 bytes.
TNTLMResponse ResponseFor(const std::uint8_t* hash16, const TNTLMChallenge& challenge) {
  std::uint8_t key[21] = {};
  std::memcpy(key, hash16, 16);
  TNTLMResponse out{};
  for (int i = 0; i < 3; ++i) {
    if (!NTLMDesEncrypt(key + 7 * i, challenge.data(), out.data() + 8 * i)) {
      RaiseNTLMDesUnavailable();
    }
  }
  return out;
}

}  // namespace

TIdByteArray NTLMNegotiateMessage(std::string_view domain, std::string_view host) {
  const TIdByteArray d = CodePageBytes(Upper(CodePoints(domain)));
  const TIdByteArray h = CodePageBytes(Upper(CodePoints(host)));
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
  const TNTLMResponse lm = NTLMLMResponse(password, challenge);
  const TNTLMResponse nt = NTLMNTResponse(password, challenge);
  return AuthenticateMessage(domain, user, host, lm.data(), lm.size(), nt.data(), nt.size(),
                             kAuthenticateFlags);
}

TIdByteArray NTLMv2AuthenticateMessage(std::string_view domain, std::string_view user,
                                       std::string_view host, const TNTLMv2Responses& responses) {
  return AuthenticateMessage(domain, user, host, responses.LM.data(), responses.LM.size(),
                             responses.NT.data(), responses.NT.size(), kAuthenticateFlagsV2);
}

TIdByteArray NTLMv2Hash(std::string_view user, std::string_view domain, std::string_view password) {
  TIdHashMessageDigest4 md4;
  const TIdByteArray ntHash = md4.HashBytes(Utf16LE(CodePoints(password)));
  std::u32string identity = Upper(CodePoints(user));
  identity += CodePoints(domain);
  return HmacMd5(ntHash, Utf16LE(identity));
}

TNTLMv2Responses NTLMv2ResponsesFor(std::string_view user, std::string_view domain,
                                    std::string_view password,
                                    const TNTLMChallenge& serverChallenge,
                                    const TNTLMClientChallenge& clientChallenge,
                                    std::uint64_t timestamp,
                                    const std::vector<std::uint8_t>& targetInfo) {
  const TIdByteArray key = NTLMv2Hash(user, domain, password);
  const TIdByteArray server(serverChallenge.begin(), serverChallenge.end());
  const TIdByteArray client(clientChallenge.begin(), clientChallenge.end());
  // The client's blob: version 1.1, six reserved bytes, the time stamp, the client challenge,
  // four reserved bytes, the server's target information, four reserved bytes.
  constexpr std::size_t kBlobHeader = 28;
  TIdByteArray blob(kBlobHeader + targetInfo.size() + 4, 0);
  blob[0] = 1;
  blob[1] = 1;
  for (int i = 0; i < 8; ++i) blob[8 + i] = static_cast<std::uint8_t>(timestamp >> (8 * i));
  std::copy(client.begin(), client.end(), blob.begin() + 16);
  std::copy(targetInfo.begin(), targetInfo.end(), blob.begin() + kBlobHeader);
  const TIdByteArray proof = HmacMd5(key, Concat({&server, &blob}));
  const TIdByteArray lmProof = HmacMd5(key, Concat({&server, &client}));
  return {.LM = Concat({&lmProof, &client}), .NT = Concat({&proof, &blob})};
}

bool NTLMTargetInfoTimestamp(const std::vector<std::uint8_t>& targetInfo,
                             std::uint64_t& timestamp) {
  std::size_t at = 0;
  while (at + 4 <= targetInfo.size()) {
    const std::uint32_t id = Get16(&targetInfo[at]);
    const std::size_t length = Get16(&targetInfo[at + 2]);
    if (id == kAvEOL || at + 4 + length > targetInfo.size()) return false;
    if (id == kAvTimestamp && length == 8) {
      timestamp = 0;
      for (int i = 7; i >= 0; --i) timestamp = (timestamp << 8) | targetInfo[at + 4 + i];
      return true;
    }
    at += 4 + length;
  }
  return false;
}

TNTLMChallengeMessage ReadNTLMChallengeMessage(const TIdByteArray& message) {
  if (message.size() < kChallengeFixedPart || std::memcmp(message.data(), kSignature, 8) != 0 ||
      Get32(&message[8]) != 2) {
    throw EIdNTLMInvalidChallenge(RSNTLMInvalidChallenge);
  }
  TNTLMChallengeMessage out;
  out.Flags = Get32(&message[20]);
  std::copy_n(message.begin() + kChallengeOffset, out.ServerChallenge.size(),
              out.ServerChallenge.begin());
  if (message.size() < kChallengeWithTargetInfo || (out.Flags & kFlagTargetInfo) == 0) return out;
  const std::size_t length = Get16(&message[kTargetInfoField]);
  const std::size_t offset = Get32(&message[kTargetInfoField + 4]);
  if (offset > message.size() || length > message.size() - offset) {
    throw EIdNTLMInvalidChallenge(RSNTLMInvalidChallenge);
  }
  out.TargetInfo.assign(message.begin() + static_cast<std::ptrdiff_t>(offset),
                        message.begin() + static_cast<std::ptrdiff_t>(offset + length));
  return out;
}

TNTLMResponse NTLMLMResponse(std::string_view password, const TNTLMChallenge& challenge) {
  // The password in the 8-bit code page, upper-cased there: one byte per character.
  std::uint8_t pw[14] = {};
  const TIdByteArray upper = CodePageBytes(Upper(CodePoints(password)));
  std::copy_n(upper.begin(), std::min(upper.size(), sizeof pw), pw);
  static constexpr std::uint8_t kMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
  std::uint8_t hash[16];
  for (int half = 0; half < 2; ++half) {
    if (!NTLMDesEncrypt(pw + 7 * half, kMagic, hash + 8 * half)) {
      RaiseNTLMDesUnavailable();
    }
  }
  return ResponseFor(hash, challenge);
}

TNTLMResponse NTLMNTResponse(std::string_view password, const TNTLMChallenge& challenge) {
  TIdHashMessageDigest4 md4;
  const TIdByteArray hash = md4.HashBytes(Utf16LE(CodePoints(password)));
  return ResponseFor(hash.data(), challenge);
}

int TIdNTLMAuthentication::ChallengeStrength(std::string_view /*challenge*/) {
  return NTLMDesAvailable() ? 1 : -1;
}

TIdNTLMAuthentication::TIdNTLMAuthentication() {
  if (!NTLMDesAvailable()) RaiseNTLMDesUnavailable();
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
  TNTLMChallengeMessage type2;
  try {
    type2 = ReadNTLMChallengeMessage(TIdDecoderMIME::DecodeBytes(challenge_));
  } catch (const EIdNTLMInvalidChallenge&) {
    Restart();
    throw;
  }
  host_ = LocalComputerName();
  SetStep(2);
  if (useNTLMv1_ || type2.TargetInfo.empty()) {
    return std::string(kScheme) + " " +
           TIdEncoderMIME::EncodeBytes(
               NTLMAuthenticateMessage(domain_, user_, host_, Password(), type2.ServerChallenge));
  }
  std::uint64_t timestamp = 0;
  if (!NTLMTargetInfoTimestamp(type2.TargetInfo, timestamp)) timestamp = FileTimeNow();
  const TNTLMv2Responses responses =
      NTLMv2ResponsesFor(user_, domain_, Password(), type2.ServerChallenge, NewClientChallenge(),
                         timestamp, type2.TargetInfo);
  return std::string(kScheme) + " " +
         TIdEncoderMIME::EncodeBytes(NTLMv2AuthenticateMessage(domain_, user_, host_, responses));
}

}  // namespace brixa
