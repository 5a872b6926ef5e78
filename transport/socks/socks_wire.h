#pragma once
// The byte layouts of SOCKS 4, 4a and 5, kept apart from the I/O so that every parser can be
// fed hostile bytes directly. All numbers on the wire are big-endian.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "runtime/network_exception.h"
#include "runtime/text/bytes.h"
#include "transport/socket/stack_consts.h"

namespace brixa::socks {

inline constexpr std::uint8_t kVersion4 = 4;
inline constexpr std::uint8_t kVersion5 = 5;
inline constexpr std::uint8_t kCommandConnect = 1;
inline constexpr std::uint8_t kCommandBind = 2;
inline constexpr std::uint8_t kCommandUdpAssociate = 3;

inline constexpr std::uint8_t kAddressIPv4 = 1;
inline constexpr std::uint8_t kAddressName = 3;
inline constexpr std::uint8_t kAddressIPv6 = 4;

inline constexpr std::uint8_t kMethodNone = 0;
inline constexpr std::uint8_t kMethodUsernamePassword = 2;
inline constexpr std::uint8_t kMethodNoneAcceptable = 255;
inline constexpr std::uint8_t kUserPassVersion = 1;

inline constexpr std::uint8_t kSocks4Granted = 90;
inline constexpr std::uint8_t kSocks4Rejected = 91;
inline constexpr std::uint8_t kSocks4NoIdentd = 92;
inline constexpr std::uint8_t kSocks4IdentMismatch = 93;

// A length byte counts at most this many bytes: longer names, user names and passwords are
// refused rather than cut.
inline constexpr std::size_t kMaxFieldLength = 255;
// SOCKS 4 replies: VN, CD, port (2), IPv4 (4).
inline constexpr std::int32_t kSocks4ReplyLength = 8;
// The part of a SOCKS 5 reply read first: VER, REP, RSV, ATYP and the first address byte
// (which for a name is its length).
inline constexpr std::int32_t kSocks5ReplyHeadLength = 5;
// A datagram of this many bytes or fewer carries no data.
inline constexpr std::size_t kUdpMinimumHeader = 4;
// The room ReceiveUdp adds to the caller's buffer for the relay's header.
inline constexpr std::size_t kUdpHeaderReserve = 200;

// A SOCKS 4 (`AName` empty) or 4a request. `AIPv4` is the four address bytes (0.0.0.1 for 4a).
// Raises ERangeError for a user id or name holding a NUL byte, which would end the field early
// and let the rest be read as another field, and for a 4a name longer than 255 bytes.
[[nodiscard]] TIdByteArray Socks4Request(std::uint8_t ACommand, std::uint16_t APort,
                                         const std::uint8_t (&AIPv4)[4], const std::string& AUserId,
                                         const std::string& AName);

// ATYP, address and port of a SOCKS 5 request or datagram header for AHost:APort: an IPv6
// literal as 16 bytes, a dotted IPv4 literal as 4, anything else as a name of at most 255 bytes
// (ERangeError beyond).
void AppendSocks5Address(TIdByteArray& VBuffer, const std::string& AHost, std::uint16_t APort);
[[nodiscard]] TIdByteArray Socks5Request(std::uint8_t ACommand, const std::string& AHost,
                                         std::uint16_t APort);
// The user name / password sub-negotiation; ERangeError when either is longer than 255 bytes.
[[nodiscard]] TIdByteArray Socks5UserPassRequest(const std::string& AUsername,
                                                 const std::string& APassword);

// How many bytes follow the first five of a SOCKS 5 reply with address type `AType` (whose
// first address byte was `AFirstAddressByte`); nothing for an unknown type.
[[nodiscard]] std::optional<std::int32_t> Socks5ReplyRestLength(std::uint8_t AType,
                                                                std::uint8_t AFirstAddressByte);

// An address and port as a SOCKS 5 reply or datagram header carries them.
struct Address {
  std::uint8_t Type = kAddressIPv4;
  std::string Host;  // dotted IPv4, IPv6 text, or the name's bytes as ASCII text
  std::uint16_t Port = 0;
  TIdIPVersion IPVersion = Id_IPv4;
  std::size_t Length = 0;  // bytes taken from the input, ATYP included
};

// Parses ATYP, address and port from the start of `ABytes`; nothing when the type is unknown
// or the bytes end early.
[[nodiscard]] std::optional<Address> ParseSocks5Address(std::span<const std::uint8_t> ABytes);

// The message text of a SOCKS 5 REP value (0 has none).
[[nodiscard]] const char* Socks5ReplyMessage(std::uint8_t AReply) noexcept;
// The dotted text of four address bytes.
[[nodiscard]] std::string DottedIPv4(std::span<const std::uint8_t> ABytes);

}  // namespace brixa::socks
