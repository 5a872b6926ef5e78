#pragma once
// TIdIPAddress: an IPv4 or IPv6 address parsed from text, in network byte order or as text.

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/text/bytes.h"
#include "runtime/text/ip_text.h"
#include "transport/socket/stack_consts.h"

namespace brixa {

// A parsed IP address of either version.
class TIdIPAddress {
 public:
  // IPv6 text is tried first, then IPv4 text (the forms IPv4TextToValue takes); null when the
  // text is neither.
  [[nodiscard]] static std::unique_ptr<TIdIPAddress> MakeAddressObject(const std::string& AText);

  [[nodiscard]] TIdIPVersion AddrType() const noexcept { return addrType_; }
  [[nodiscard]] std::uint32_t IPv4() const noexcept { return ipv4_; }
  [[nodiscard]] const TIdIPv6Address& IPv6() const noexcept { return ipv6_; }

  // The address in network byte order: 4 bytes for IPv4, 16 for IPv6.
  [[nodiscard]] TIdByteArray HToNBytes() const;
  // Dotted decimal, or eight upper-case hex groups without compression.
  [[nodiscard]] std::string AsString() const;

 private:
  TIdIPVersion addrType_ = Id_IPv4;
  std::uint32_t ipv4_ = 0;
  TIdIPv6Address ipv6_{};
};

}  // namespace brixa
