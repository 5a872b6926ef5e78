// Host matching by RFC 6125: one left-most wildcard label at most, never for IP addresses.

#include "transport/tls/ssl_host_match.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "runtime/text/ip_text.h"
#include "transport/socket/stack.h"

namespace brixa {

namespace {

constexpr std::size_t kIPv6Words = 8;

[[nodiscard]] bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

[[nodiscard]] std::string_view WithoutFinalDot(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return name;
}

}  // namespace

bool TlsDnsNameMatches(std::string_view APattern, std::string_view AHost) {
  const std::string_view host = WithoutFinalDot(AHost);
  const std::string_view pattern = WithoutFinalDot(APattern);
  if (host.empty() || pattern.empty() || TlsIPAddressBytes(host)) return false;
  if (pattern.substr(0, 2) != "*.") {
    return pattern.find('*') == std::string_view::npos && SameLetters(pattern, host);
  }
  const std::string_view suffix = pattern.substr(1);  // ".example.com"
  // The wildcard must leave a name of two labels at least, without another wildcard.
  if (suffix.find('*') != std::string_view::npos || suffix.find('.', 1) == std::string_view::npos) {
    return false;
  }
  const std::size_t firstDot = host.find('.');
  if (firstDot == 0 || firstDot == std::string_view::npos) return false;
  return SameLetters(host.substr(firstDot), suffix);
}

std::optional<std::vector<std::uint8_t>> TlsIPAddressBytes(std::string_view AHost) {
  if (AHost.size() >= 2 && AHost.front() == '[' && AHost.back() == ']') {
    AHost = AHost.substr(1, AHost.size() - 2);
  }
  const std::string host(AHost);
  if (TIdStack::IsIPv4Literal(host)) {
    const auto value = IPv4TextToValue(host);
    if (!value) return std::nullopt;
    return std::vector<std::uint8_t>{
        static_cast<std::uint8_t>(*value >> 24), static_cast<std::uint8_t>(*value >> 16),
        static_cast<std::uint8_t>(*value >> 8), static_cast<std::uint8_t>(*value)};
  }
  if (host.find(':') == std::string::npos) return std::nullopt;
  const auto words = IPv6TextToWords(host);
  if (!words) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kIPv6Words * 2);
  for (std::size_t i = 0; i < kIPv6Words; ++i) {
    bytes.push_back(static_cast<std::uint8_t>((*words)[i] >> 8));
    bytes.push_back(static_cast<std::uint8_t>((*words)[i] & 0xFF));
  }
  return bytes;
}

}  // namespace brixa
