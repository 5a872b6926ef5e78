#pragma once
// Socket types, protocols, option numbers (Winsock-numbered), handles and time-limit constants
// shared by the whole transport layer.

#include <cstdint>
#include <string>

namespace brixa {

// The IP version a socket, an address or a lookup is for.
enum TIdIPVersion { Id_IPv4 = 0, Id_IPv6 = 1 };

// An operating-system socket as the network code passes it around. Winsock handles are
// kernel handles whose significant bits fit in 32 bits, and POSIX descriptors are small ints.
using TIdStackSocketHandle = std::int32_t;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
inline constexpr int Id_SOCKET_ERROR = -1;

// The highest TCP or UDP port number.
inline constexpr std::int32_t kMaxPort = 65535;

// Time limits, in milliseconds. Any value >= 0 is a real limit (0 polls once).
inline constexpr std::int32_t TimeoutUseDefault = -1;  // the component's own setting applies
inline constexpr std::int32_t TimeoutInfinite = -2;    // no limit

// Socket types and protocols.
inline constexpr int Id_SOCK_STREAM = 1;
inline constexpr int Id_SOCK_DGRAM = 2;
inline constexpr int Id_SOCK_RAW = 3;
inline constexpr int Id_IPPROTO_IP = 0;
inline constexpr int Id_IPPROTO_TCP = 6;
inline constexpr int Id_IPPROTO_UDP = 17;
inline constexpr int Id_IPPROTO_IPV6 = 41;

// Socket option levels and names, numbered as Winsock numbers them. Every stack accepts these
// numbers; the POSIX stack translates them to its own, so callers never see the difference.
inline constexpr int Id_SOL_SOCKET = 0xFFFF;
inline constexpr int Id_SO_REUSEADDR = 0x0004;
inline constexpr int Id_SO_KEEPALIVE = 0x0008;
inline constexpr int Id_SO_BROADCAST = 0x0020;
inline constexpr int Id_SO_LINGER = 0x0080;
inline constexpr int Id_SO_SNDBUF = 0x1001;
inline constexpr int Id_SO_RCVBUF = 0x1002;
inline constexpr int Id_SO_SNDTIMEO = 0x1005;
inline constexpr int Id_SO_RCVTIMEO = 0x1006;
inline constexpr int Id_SO_ERROR = 0x1007;
inline constexpr int Id_SO_TYPE = 0x1008;
inline constexpr int Id_TCP_NODELAY = 0x0001;
inline constexpr int Id_IP_MULTICAST_TTL = 10;
inline constexpr int Id_IP_MULTICAST_LOOP = 11;
inline constexpr int Id_IP_ADD_MEMBERSHIP = 12;
inline constexpr int Id_IP_DROP_MEMBERSHIP = 13;
inline constexpr int Id_IPV6_MULTICAST_HOPS = 10;
inline constexpr int Id_IPV6_MULTICAST_LOOP = 11;
inline constexpr int Id_IPV6_ADD_MEMBERSHIP = 12;
inline constexpr int Id_IPV6_DROP_MEMBERSHIP = 13;
// Ask for the destination address and interface of each datagram as control data.
inline constexpr int Id_IP_PKTINFO = 19;
inline constexpr int Id_IPV6_PKTINFO = 19;

// Socket I/O control commands (Winsock numbering, translated likewise).
inline constexpr std::uint32_t Id_FIONBIO = 0x8004667E;
inline constexpr std::uint32_t Id_FIONREAD = 0x4004667F;

// Shutdown directions.
inline constexpr int Id_SD_Recv = 0;
inline constexpr int Id_SD_Send = 1;
inline constexpr int Id_SD_Both = 2;

// Size of the socket address buffer every endpoint query uses (room for an IPv6 address).
inline constexpr int Id_SOCKADDR_MAX = 28;

// Winsock error numbers the network code tests for by name. Every stack reports failures with
// these numbers (the POSIX stack translates errno and resolver failures to them).
inline constexpr int Id_WSAEINTR = 10004;
inline constexpr int Id_WSAEBADF = 10009;
inline constexpr int Id_WSAEACCES = 10013;
inline constexpr int Id_WSAEINVAL = 10022;
inline constexpr int Id_WSAEMFILE = 10024;
inline constexpr int Id_WSAEWOULDBLOCK = 10035;
inline constexpr int Id_WSAEINPROGRESS = 10036;
inline constexpr int Id_WSAENOTSOCK = 10038;
inline constexpr int Id_WSAEMSGSIZE = 10040;
inline constexpr int Id_WSAEAFNOSUPPORT = 10047;
inline constexpr int Id_WSAEADDRINUSE = 10048;
inline constexpr int Id_WSAEADDRNOTAVAIL = 10049;
inline constexpr int Id_WSAENETUNREACH = 10051;
inline constexpr int Id_WSAECONNABORTED = 10053;
inline constexpr int Id_WSAECONNRESET = 10054;
inline constexpr int Id_WSAENOTCONN = 10057;
inline constexpr int Id_WSAESHUTDOWN = 10058;
inline constexpr int Id_WSAETIMEDOUT = 10060;
inline constexpr int Id_WSAECONNREFUSED = 10061;
inline constexpr int Id_WSAEHOSTUNREACH = 10065;
inline constexpr int Id_WSANOTINITIALISED = 10093;
inline constexpr int Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int Id_WSATRY_AGAIN = 11002;
inline constexpr int Id_WSANO_RECOVERY = 11003;
inline constexpr int Id_WSANO_DATA = 11004;

// One end of a connection as the system reports it: address text, version and port.
struct TIdEndpoint {
  std::string IP;
  TIdIPVersion IPVersion = Id_IPv4;
  std::uint16_t Port = 0;
};

}  // namespace brixa
