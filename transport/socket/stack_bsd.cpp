// Socket addresses and the BSD-style socket calls, built on the raw calls each platform stack
// supplies.

#include "transport/socket/stack_bsd.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/core/exception.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

namespace {

constexpr int kSockAddrIPv4Length = 16;
constexpr int kSockAddrIPv6Length = 28;
constexpr int kPortOffset = 2;
constexpr int kIPv4Offset = 4;
constexpr int kIPv6Offset = 8;
constexpr int kIPv4Pieces = 4;
constexpr unsigned kMaxIPv4Piece = 255;
constexpr int kIPv4MreqLength = 8;   // group address, interface address
constexpr int kIPv6MreqLength = 20;  // group address, interface index

void PutBigEndian16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

[[nodiscard]] std::uint16_t GetBigEndian16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

// Four "."-separated decimal pieces into four bytes, most significant first.
void ParseDottedIPv4(const std::string& text, std::uint8_t* out) {
  std::string_view rest = text;
  for (int i = 0; i < kIPv4Pieces; ++i) {
    const std::size_t dot = rest.find('.');
    const std::string_view piece = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
    if (piece.empty() || piece.find_first_not_of("0123456789") != std::string_view::npos) {
      throw EConvertError("'" + std::string(piece) + "' is not a valid integer value");
    }
    unsigned value = 0;
    for (const char c : piece) {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > kMaxIPv4Piece) throw EConvertError("Range check error");
    }
    out[i] = static_cast<std::uint8_t>(value);
  }
  if (!rest.empty()) throw EConvertError("'" + text + "' is not a valid IPv4 address");
}

[[nodiscard]] std::string DottedIPv4(const std::uint8_t* bytes) {
  std::string text;
  for (int i = 0; i < kIPv4Pieces; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(bytes[i]);
  }
  return text;
}

// Eight groups, each the host value of one network-order word, upper-case hex without leading
// zeros, no "::" compression.
[[nodiscard]] std::string IPv6GroupsText(const std::uint8_t* bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int group = 0; group < 8; ++group) {
    if (group > 0) text += ':';
    const std::uint16_t word = GetBigEndian16(bytes + 2 * group);
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int nibble = (word >> shift) & 0xF;
      if (nibble == 0 && !started && shift > 0) continue;
      started = true;
      text += kDigits[nibble];
    }
  }
  return text;
}

// A membership request: group address then the local interface (address for IPv4, index 0 --
// the system's choice -- for IPv6).
[[nodiscard]] std::vector<std::uint8_t> MembershipRequest(const std::string& group,
                                                          const std::string& local,
                                                          TIdIPVersion version) {
  if (version == Id_IPv4) {
    std::vector<std::uint8_t> request(kIPv4MreqLength, 0);
    ParseDottedIPv4(group, request.data());
    if (!local.empty()) ParseDottedIPv4(local, request.data() + kIPv4Pieces);
    return request;
  }
  std::vector<std::uint8_t> request(kIPv6MreqLength, 0);
  const TIdIPv6Address words = IPv6TextToWordsOrRaise(group);
  for (int i = 0; i < 8; ++i) PutBigEndian16(request.data() + 2 * i, words[i]);
  return request;
}

[[nodiscard]] int ClampedLength(std::size_t length) {
  return static_cast<int>(std::min<std::size_t>(length, INT_MAX));
}

}  // namespace

TIdSockAddr TIdStackBSDBase::MakeSockAddr(const std::string& AIP, TIdIPVersion AIPVersion,
                                          std::uint16_t APort) {
  CheckIPVersion(AIPVersion);
  TIdSockAddr address;
  const auto family = static_cast<std::uint16_t>(NativeFamily(AIPVersion));
  std::memcpy(address.Bytes, &family, sizeof family);
  PutBigEndian16(address.Bytes + kPortOffset, APort);
  if (AIPVersion == Id_IPv4) {
    address.Length = kSockAddrIPv4Length;
    if (!AIP.empty()) ParseDottedIPv4(AIP, address.Bytes + kIPv4Offset);
    return address;
  }
  address.Length = kSockAddrIPv6Length;
  if (!AIP.empty()) {
    const TIdIPv6Address words = IPv6TextToWordsOrRaise(AIP);
    for (int i = 0; i < 8; ++i) PutBigEndian16(address.Bytes + kIPv6Offset + 2 * i, words[i]);
  }
  return address;
}

TIdEndpoint TIdStackBSDBase::ParseSockAddr(const TIdSockAddr& AAddress) {
  std::uint16_t family = 0;
  std::memcpy(&family, AAddress.Bytes, sizeof family);
  TIdEndpoint endpoint;
  endpoint.Port = GetBigEndian16(AAddress.Bytes + kPortOffset);
  if (family == NativeFamily(Id_IPv4)) {
    endpoint.IPVersion = Id_IPv4;
    endpoint.IP = DottedIPv4(AAddress.Bytes + kIPv4Offset);
  } else if (family == NativeFamily(Id_IPv6)) {
    endpoint.IPVersion = Id_IPv6;
    endpoint.IP = IPv6GroupsText(AAddress.Bytes + kIPv6Offset);
  } else {
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported);
  }
  return endpoint;
}

TIdStackSocketHandle TIdStackBSDBase::OpenSocket(int AType, int AProtocol, bool AOverlapped,
                                                 TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  return CheckSocketResult(RawSocket(NativeFamily(AIPVersion), AType, AProtocol, AOverlapped));
}

void TIdStackBSDBase::BindSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                                 TIdIPVersion AIPVersion, std::uint16_t APort) {
  CheckSocketResult(RawBind(ASocket, MakeSockAddr(AIP, AIPVersion, APort)));
}

void TIdStackBSDBase::ConnectSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                                    TIdIPVersion AIPVersion, std::uint16_t APort) {
  CheckSocketResult(RawConnect(ASocket, MakeSockAddr(AIP, AIPVersion, APort)));
}

void TIdStackBSDBase::Listen(TIdStackSocketHandle ASocket, int ABacklog) {
  CheckSocketResult(RawListen(ASocket, ABacklog));
}

TIdStackSocketHandle TIdStackBSDBase::Accept(TIdStackSocketHandle ASocket, TIdEndpoint& VPeer) {
  TIdSockAddr address;
  const TIdStackSocketHandle accepted = CheckSocketResult(RawAccept(ASocket, address));
  VPeer = ParseSockAddr(address);
  return accepted;
}

void TIdStackBSDBase::ShutdownAndClose(TIdStackSocketHandle ASocket) {
  // Shutting down first wakes a thread blocked on the socket (a connect or receive) before the
  // descriptor goes away. Failures of either step change nothing for the caller.
  (void)RawShutdown(ASocket, Id_SD_Send);
  (void)RawClose(ASocket);
}

TIdEndpoint TIdStackBSDBase::LocalEndpoint(TIdStackSocketHandle ASocket) {
  TIdSockAddr address;
  CheckSocketResult(RawLocalName(ASocket, address));
  return ParseSockAddr(address);
}

TIdEndpoint TIdStackBSDBase::RemoteEndpoint(TIdStackSocketHandle ASocket) {
  TIdSockAddr address;
  CheckSocketResult(RawPeerName(ASocket, address));
  return ParseSockAddr(address);
}

int TIdStackBSDBase::SendBytes(TIdStackSocketHandle ASocket, const TIdByteArray& ABuffer, int ASize,
                               int AOffset) {
  Require(AOffset >= 0, "send offset not negative");
  std::int64_t count = static_cast<std::int64_t>(ABuffer.size()) - AOffset;
  if (ASize >= 0 && ASize < count) count = ASize;
  if (count <= 0) return 0;
  return RawSend(ASocket, ABuffer.data() + AOffset, ClampedLength(static_cast<std::size_t>(count)),
                 0);
}

int TIdStackBSDBase::ReceiveBytes(TIdStackSocketHandle ASocket, TIdByteArray& ABuffer) {
  Require(!ABuffer.empty(), "receive buffer not empty");
  return CheckSocketResult(RawReceive(ASocket, ABuffer.data(), ClampedLength(ABuffer.size()), 0));
}

int TIdStackBSDBase::ReceiveFrom(TIdStackSocketHandle ASocket, TIdByteArray& ABuffer,
                                 TIdEndpoint& VSender) {
  Require(!ABuffer.empty(), "receive buffer not empty");
  TIdSockAddr from;
  const int received = CheckSocketResult(
      RawReceiveFrom(ASocket, ABuffer.data(), ClampedLength(ABuffer.size()), 0, from));
  VSender = ParseSockAddr(from);
  return received;
}

int TIdStackBSDBase::SendTo(TIdStackSocketHandle ASocket, const TIdByteArray& ABuffer, int AOffset,
                            int ASize, const std::string& AIP, std::uint16_t APort,
                            TIdIPVersion AIPVersion) {
  Require(AOffset >= 0, "send offset not negative");
  std::int64_t count = static_cast<std::int64_t>(ABuffer.size()) - AOffset;
  if (ASize >= 0 && ASize < count) count = ASize;
  if (count < 0) count = 0;
  const TIdSockAddr to = MakeSockAddr(AIP, AIPVersion, APort);
  const int length = ClampedLength(static_cast<std::size_t>(count));
  const int sent = RawSendTo(ASocket, ABuffer.data() + AOffset, length, 0, to);
  if (sent == Id_SOCKET_ERROR) {
    const int error = LastSocketError();
    if (error == Id_WSAEMSGSIZE) throw EIdPackageSizeTooBig(RSPackageSizeTooBig);
    ThrowSocketError(error);
  }
  if (sent < length) throw EIdNotAllBytesSent(RSNotAllBytesSent);
  return sent;
}

int TIdStackBSDBase::GetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName) {
  int value = 0;
  int length = sizeof value;
  CheckSocketResult(RawGetOption(ASocket, ALevel, AOptName, &value, length));
  return value;
}

void TIdStackBSDBase::SetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                int AValue) {
  CheckSocketResult(RawSetOption(ASocket, ALevel, AOptName, &AValue, sizeof AValue));
}

void TIdStackBSDBase::SetOptionBuffer(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                      const void* AValue, int ALength) {
  CheckSocketResult(RawSetOption(ASocket, ALevel, AOptName, AValue, ALength));
}

void TIdStackBSDBase::SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) {
  std::uint32_t nonBlocking = ABlocking ? 0 : 1;
  CheckSocketResult(IOControl(ASocket, Id_FIONBIO, nonBlocking));
}

bool TIdStackBSDBase::CheckIPVersionSupport(TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  const TIdStackSocketHandle probe =
      RawSocket(NativeFamily(AIPVersion), Id_SOCK_STREAM, Id_IPPROTO_IP, false);
  if (probe == Id_INVALID_SOCKET) return false;
  (void)RawClose(probe);
  return true;
}

void TIdStackBSDBase::SetMulticastTTL(TIdStackSocketHandle ASocket, std::uint8_t ATTL,
                                      TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  if (AIPVersion == Id_IPv4) {
    SetOption(ASocket, Id_IPPROTO_IP, Id_IP_MULTICAST_TTL, ATTL);
  } else {
    SetOption(ASocket, Id_IPPROTO_IPV6, Id_IPV6_MULTICAST_HOPS, ATTL);
  }
}

void TIdStackBSDBase::SetLoopBack(TIdStackSocketHandle ASocket, bool AValue,
                                  TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  if (AIPVersion == Id_IPv4) {
    SetOption(ASocket, Id_IPPROTO_IP, Id_IP_MULTICAST_LOOP, AValue ? 1 : 0);
  } else {
    SetOption(ASocket, Id_IPPROTO_IPV6, Id_IPV6_MULTICAST_LOOP, AValue ? 1 : 0);
  }
}

void TIdStackBSDBase::AddMulticastMembership(TIdStackSocketHandle ASocket,
                                             const std::string& AGroupIP,
                                             const std::string& ALocalIP, TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  const std::vector<std::uint8_t> request = MembershipRequest(AGroupIP, ALocalIP, AIPVersion);
  const bool v4 = AIPVersion == Id_IPv4;
  SetOptionBuffer(ASocket, v4 ? Id_IPPROTO_IP : Id_IPPROTO_IPV6,
                  v4 ? Id_IP_ADD_MEMBERSHIP : Id_IPV6_ADD_MEMBERSHIP, request.data(),
                  static_cast<int>(request.size()));
}

void TIdStackBSDBase::DropMulticastMembership(TIdStackSocketHandle ASocket,
                                              const std::string& AGroupIP,
                                              const std::string& ALocalIP,
                                              TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  const std::vector<std::uint8_t> request = MembershipRequest(AGroupIP, ALocalIP, AIPVersion);
  const bool v4 = AIPVersion == Id_IPv4;
  SetOptionBuffer(ASocket, v4 ? Id_IPPROTO_IP : Id_IPPROTO_IPV6,
                  v4 ? Id_IP_DROP_MEMBERSHIP : Id_IPV6_DROP_MEMBERSHIP, request.data(),
                  static_cast<int>(request.size()));
}

}  // namespace brixa
