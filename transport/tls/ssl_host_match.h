#pragma once
// Matching a host against a certificate's DNS and IP address entries, shared by both TLS
// handlers.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brixa {

// Whether a certificate's DNS name entry `APattern` names `AHost` (RFC 6125, 6.4): letters
// compare without case and a final dot of the host is ignored; a wildcard is only the whole
// left-most label ("*.example.com"), stands for exactly one label, and needs two labels after
// it (no "*.com", no "*.localhost"). An IP address is never matched by a DNS name.
[[nodiscard]] bool TlsDnsNameMatches(std::string_view APattern, std::string_view AHost);

// The address bytes (4 or 16, network order) of an IPv4 dotted quad or an IPv6 literal (with
// or without brackets), as a certificate's IP address entry holds them; empty for a host name.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> TlsIPAddressBytes(std::string_view AHost);

}  // namespace brixa
