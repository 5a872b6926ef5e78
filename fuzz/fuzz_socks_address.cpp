// Feeds arbitrary bytes to the SOCKS 5 address parser (replies and relayed datagram headers)
// and checks what holds for every input: no crash, a parse only when the bytes hold the whole
// address, a length that never runs past the input, and agreement with the length the reply
// reader would have asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "transport/socks/socks_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace socks = brixa::socks;
  const std::span<const std::uint8_t> bytes(data, size);
  const auto address = socks::ParseSocks5Address(bytes);
  if (!address) return 0;
  if (address->Length > size || address->Length < 4) std::abort();
  // The reply reader takes ATYP plus one address byte first, then the rest it is told about.
  const auto rest = socks::Socks5ReplyRestLength(bytes[0], size > 1 ? bytes[1] : 0);
  if (!rest || static_cast<std::size_t>(*rest) + 2 != address->Length) std::abort();
  // Parsing the same bytes cut right before the end must fail.
  if (socks::ParseSocks5Address(bytes.first(address->Length - 1))) std::abort();
  return 0;
}
