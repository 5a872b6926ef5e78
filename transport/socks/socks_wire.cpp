// Building SOCKS requests and parsing SOCKS replies as bytes, without any I/O.

#include "transport/socks/socks_wire.h"

#include "platform/core/exception.h"
#include "runtime/text/encoding.h"
#include "runtime/text/ip_text.h"
#include "transport/socket/stack.h"

namespace brixa::socks {

namespace {

constexpr std::size_t kIPv4Length = 4;
constexpr std::size_t kIPv6Length = 16;
constexpr std::size_t kPortLength = 2;

void AppendPort(TIdByteArray& out, std::uint16_t port) {
  out.push_back(static_cast<std::uint8_t>(port >> 8));
  out.push_back(static_cast<std::uint8_t>(port));
}

[[nodiscard]] std::uint16_t PortAt(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Text with a length byte in front, in ASCII; ERangeError when the byte cannot count it.
void AppendCounted(TIdByteArray& out, const std::string& text) {
  const TIdByteArray bytes = TextToBytes(text, ceASCII);
  if (bytes.size() > kMaxFieldLength) throw ERangeError(RSRangeError);
  out.push_back(static_cast<std::uint8_t>(bytes.size()));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// Text ended by a NUL byte, in ASCII.
void AppendTerminated(TIdByteArray& out, const std::string& text) {
  if (text.find('\0') != std::string::npos) throw ERangeError(RSRangeError);
  const TIdByteArray bytes = TextToBytes(text, ceASCII);
  out.insert(out.end(), bytes.begin(), bytes.end());
  out.push_back(0);
}

// Eight ":"-separated groups in upper-case hex without leading zeros or "::" compression: the
// form the socket stack gives endpoints in.
[[nodiscard]] std::string IPv6Text(const TIdIPv6Address& words) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t group = 0; group < words.size(); ++group) {
    if (group > 0) text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int nibble = (words[group] >> shift) & 0xF;
      if (nibble == 0 && !started && shift > 0) continue;
      started = true;
      text += kDigits[nibble];
    }
  }
  return text;
}

}  // namespace

TIdByteArray Socks4Request(std::uint8_t ACommand, std::uint16_t APort,
                           const std::uint8_t (&AIPv4)[4], const std::string& AUserId,
                           const std::string& AName) {
  TIdByteArray request{kVersion4, ACommand};
  AppendPort(request, APort);
  for (const std::uint8_t byte : AIPv4) request.push_back(byte);
  AppendTerminated(request, AUserId);
  if (!AName.empty()) {
    if (AName.size() > kMaxFieldLength) throw ERangeError(RSRangeError);
    AppendTerminated(request, AName);
  }
  return request;
}

void AppendSocks5Address(TIdByteArray& VBuffer, const std::string& AHost, std::uint16_t APort) {
  if (const auto words = IPv6TextToWords(AHost)) {
    VBuffer.push_back(kAddressIPv6);
    for (const std::uint16_t word : *words) AppendPort(VBuffer, word);
  } else if (TIdStack::IsIPv4Literal(AHost)) {
    VBuffer.push_back(kAddressIPv4);
    const std::uint32_t value = *IPv4TextToValue(AHost);
    for (int shift = 24; shift >= 0; shift -= 8) {
      VBuffer.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  } else {
    VBuffer.push_back(kAddressName);
    AppendCounted(VBuffer, AHost);
  }
  AppendPort(VBuffer, APort);
}

TIdByteArray Socks5Request(std::uint8_t ACommand, const std::string& AHost, std::uint16_t APort) {
  TIdByteArray request{kVersion5, ACommand, 0};
  AppendSocks5Address(request, AHost, APort);
  return request;
}

TIdByteArray Socks5UserPassRequest(const std::string& AUsername, const std::string& APassword) {
  TIdByteArray request{kUserPassVersion};
  AppendCounted(request, AUsername);
  AppendCounted(request, APassword);
  return request;
}

std::optional<std::int32_t> Socks5ReplyRestLength(std::uint8_t AType,
                                                  std::uint8_t AFirstAddressByte) {
  switch (AType) {
    case kAddressIPv4:
      return static_cast<std::int32_t>(kIPv4Length - 1 + kPortLength);
    case kAddressName:
      return static_cast<std::int32_t>(AFirstAddressByte + kPortLength);
    case kAddressIPv6:
      return static_cast<std::int32_t>(kIPv6Length - 1 + kPortLength);
    default:
      return std::nullopt;
  }
}

std::optional<Address> ParseSocks5Address(std::span<const std::uint8_t> ABytes) {
  if (ABytes.empty()) return std::nullopt;
  Address address;
  address.Type = ABytes[0];
  std::size_t at = 1;
  switch (address.Type) {
    case kAddressIPv4:
      if (ABytes.size() < at + kIPv4Length + kPortLength) return std::nullopt;
      address.Host = DottedIPv4(ABytes.subspan(at, kIPv4Length));
      at += kIPv4Length;
      break;
    case kAddressName: {
      if (ABytes.size() < at + 1) return std::nullopt;
      const std::size_t length = ABytes[at++];
      if (ABytes.size() < at + length + kPortLength) return std::nullopt;
      const TIdByteArray name(ABytes.begin() + static_cast<std::ptrdiff_t>(at),
                              ABytes.begin() + static_cast<std::ptrdiff_t>(at + length));
      address.Host = BytesToText(name, ceASCII);
      at += length;
      break;
    }
    case kAddressIPv6: {
      if (ABytes.size() < at + kIPv6Length + kPortLength) return std::nullopt;
      TIdIPv6Address words{};
      for (std::size_t i = 0; i < words.size(); ++i) words[i] = PortAt(ABytes, at + 2 * i);
      address.Host = IPv6Text(words);
      address.IPVersion = Id_IPv6;
      at += kIPv6Length;
      break;
    }
    default:
      return std::nullopt;
  }
  address.Port = PortAt(ABytes, at);
  address.Length = at + kPortLength;
  return address;
}

const char* Socks5ReplyMessage(std::uint8_t AReply) noexcept {
  static constexpr const char* kMessages[] = {
      "",
      "General SOCKS server failure.",
      "Connection not allowed by ruleset.",
      "Network unreachable.",
      "Host unreachable.",
      "Connection refused.",
      "TTL expired.",
      "Command not supported.",
      "Address type not supported.",
  };
  if (AReply < std::size(kMessages)) return kMessages[AReply];
  return "Unknown socks error.";
}

std::string DottedIPv4(std::span<const std::uint8_t> ABytes) {
  std::string text;
  for (std::size_t i = 0; i < kIPv4Length; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(ABytes[i]);
  }
  return text;
}

}  // namespace brixa::socks
