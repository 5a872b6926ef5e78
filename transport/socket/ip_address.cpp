// Parsing an address text as IPv6 first, then IPv4, and writing it back.

#include "transport/socket/ip_address.h"

#include <optional>

namespace brixa {

namespace {

constexpr int kIPv4Bytes = 4;

}  // namespace

std::unique_ptr<TIdIPAddress> TIdIPAddress::MakeAddressObject(const std::string& AText) {
  if (const std::optional<TIdIPv6Address> words = IPv6TextToWords(AText)) {
    auto address = std::make_unique<TIdIPAddress>();
    address->addrType_ = Id_IPv6;
    address->ipv6_ = *words;
    return address;
  }
  if (const std::optional<std::uint32_t> value = IPv4TextToValue(AText)) {
    auto address = std::make_unique<TIdIPAddress>();
    address->addrType_ = Id_IPv4;
    address->ipv4_ = *value;
    return address;
  }
  return nullptr;
}

TIdByteArray TIdIPAddress::HToNBytes() const {
  TIdByteArray bytes;
  if (addrType_ == Id_IPv4) {
    for (int i = kIPv4Bytes - 1; i >= 0; --i) {
      bytes.push_back(static_cast<std::uint8_t>(ipv4_ >> (8 * i)));
    }
    return bytes;
  }
  for (const std::uint16_t word : ipv6_) {
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
    bytes.push_back(static_cast<std::uint8_t>(word));
  }
  return bytes;
}

std::string TIdIPAddress::AsString() const {
  std::string text;
  if (addrType_ == Id_IPv4) {
    for (int i = kIPv4Bytes - 1; i >= 0; --i) {
      text += std::to_string((ipv4_ >> (8 * i)) & 0xFF);
      if (i > 0) text += '.';
    }
    return text;
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t group = 0; group < ipv6_.size(); ++group) {
    if (group > 0) text += ':';
    const std::uint16_t word = ipv6_[group];
    int shift = 12;
    while (shift > 0 && ((word >> shift) & 0xF) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) text += kDigits[(word >> shift) & 0xF];
  }
  return text;
}

}  // namespace brixa
