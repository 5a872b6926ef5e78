// The POSIX socket stack. Every failure is reported with the Winsock number of the same
// condition, and option levels and names arrive Winsock-numbered, so code above the stack and
// the messages users see are the same on every platform.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "platform/core/exception.h"
#include "platform/core/system_error.h"
#include "transport/socket/stack_bsd.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

namespace {

static_assert(sizeof(sockaddr_in6) == Id_SOCKADDR_MAX, "socket address buffer fits IPv6");

constexpr int kHostNameMax = 256;
constexpr int kNameInfoMax = 1025;
constexpr int kServiceBufferSize = 4096;
constexpr int kWinsockLingerLength = 4;  // two 16-bit fields on Winsock
constexpr int kWsaNotEnoughMemory = 8;
constexpr int kWsaTypeNotFound = 10109;

struct ErrnoMapping {
  int error;
  int winsock;
};

// errno -> Winsock number. EBADF maps to "not a socket", as a closed descriptor is on Winsock.
constexpr ErrnoMapping kErrnoToWinsock[] = {
    {EINTR, 10004},           {EBADF, 10038},        {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},       {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},       {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},          {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
    {ENOMEM, 10055},          {EISCONN, 10056},      {ENOTCONN, 10057},
    {EPIPE, 10058},           {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061}, {ELOOP, 10062},
    {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
};

// An errno without a Winsock counterpart is passed on unchanged.
[[nodiscard]] int WinsockNumberOf(int error) {
  for (const ErrnoMapping& mapping : kErrnoToWinsock) {
    if (mapping.error == error) return mapping.winsock;
  }
  return error;
}

thread_local int tLastSocketError = 0;

// Records errno (as a Winsock number) after a failed call and passes the result on.
template <class T>
T Recorded(T result) {
  if (result == static_cast<T>(-1)) tLastSocketError = WinsockNumberOf(errno);
  return result;
}

// A resolver failure as the Winsock resolver reports it; EAI_SYSTEM carries errno instead.
[[nodiscard]] int ResolverErrorNumber(int code) {
  switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_FAIL:
      return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return Id_WSATRY_AGAIN;
    case EAI_BADFLAGS:
      return Id_WSAEINVAL;
    case EAI_FAMILY:
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return Id_WSAEAFNOSUPPORT;
    case EAI_SOCKTYPE:
      return 10044;
    case EAI_SERVICE:
      return kWsaTypeNotFound;
    case EAI_MEMORY:
      return kWsaNotEnoughMemory;
    default:
      return code;
  }
}

struct OptionMapping {
  int level;  // Winsock numbering
  int name;
  int nativeLevel;
  int nativeName;
};

constexpr OptionMapping kOptions[] = {
    {Id_SOL_SOCKET, Id_SO_REUSEADDR, SOL_SOCKET, SO_REUSEADDR},
    {Id_SOL_SOCKET, Id_SO_KEEPALIVE, SOL_SOCKET, SO_KEEPALIVE},
    {Id_SOL_SOCKET, Id_SO_BROADCAST, SOL_SOCKET, SO_BROADCAST},
    {Id_SOL_SOCKET, Id_SO_LINGER, SOL_SOCKET, SO_LINGER},
    {Id_SOL_SOCKET, Id_SO_SNDBUF, SOL_SOCKET, SO_SNDBUF},
    {Id_SOL_SOCKET, Id_SO_RCVBUF, SOL_SOCKET, SO_RCVBUF},
    {Id_SOL_SOCKET, Id_SO_SNDTIMEO, SOL_SOCKET, SO_SNDTIMEO},
    {Id_SOL_SOCKET, Id_SO_RCVTIMEO, SOL_SOCKET, SO_RCVTIMEO},
    {Id_SOL_SOCKET, Id_SO_ERROR, SOL_SOCKET, SO_ERROR},
    {Id_SOL_SOCKET, Id_SO_TYPE, SOL_SOCKET, SO_TYPE},
    {Id_IPPROTO_TCP, Id_TCP_NODELAY, IPPROTO_TCP, TCP_NODELAY},
    {Id_IPPROTO_IP, Id_IP_MULTICAST_TTL, IPPROTO_IP, IP_MULTICAST_TTL},
    {Id_IPPROTO_IP, Id_IP_MULTICAST_LOOP, IPPROTO_IP, IP_MULTICAST_LOOP},
    {Id_IPPROTO_IP, Id_IP_ADD_MEMBERSHIP, IPPROTO_IP, IP_ADD_MEMBERSHIP},
    {Id_IPPROTO_IP, Id_IP_DROP_MEMBERSHIP, IPPROTO_IP, IP_DROP_MEMBERSHIP},
    {Id_IPPROTO_IPV6, Id_IPV6_MULTICAST_HOPS, IPPROTO_IPV6, IPV6_MULTICAST_HOPS},
    {Id_IPPROTO_IPV6, Id_IPV6_MULTICAST_LOOP, IPPROTO_IPV6, IPV6_MULTICAST_LOOP},
    {Id_IPPROTO_IPV6, Id_IPV6_ADD_MEMBERSHIP, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP},
    {Id_IPPROTO_IPV6, Id_IPV6_DROP_MEMBERSHIP, IPPROTO_IPV6, IPV6_DROP_MEMBERSHIP},
    {Id_IPPROTO_IP, Id_IP_PKTINFO, IPPROTO_IP, IP_PKTINFO},
    {Id_IPPROTO_IPV6, Id_IPV6_PKTINFO, IPPROTO_IPV6, IPV6_RECVPKTINFO},
};

// The native level and name of a Winsock-numbered option; nothing for an unknown one (which
// then fails as "Bad protocol option." rather than setting some unrelated native option).
[[nodiscard]] const OptionMapping* NativeOption(int level, int name) {
  for (const OptionMapping& option : kOptions) {
    if (option.level == level && option.name == name) return &option;
  }
  return nullptr;
}

[[nodiscard]] int FailWith(int winsockError) {
  tLastSocketError = winsockError;
  return Id_SOCKET_ERROR;
}

// Converts a millisecond limit to poll's (negative: none).
[[nodiscard]] int PollTimeout(int timeout) {
  return timeout < 0 ? -1 : timeout;
}

class TIdStackUnix final : public TIdStackBSDBase {
 public:
  std::string NameToAddress(const std::string& AHost, TIdIPVersion AIPVersion) override;
  std::string AddressToName(const std::string& AAddress, TIdIPVersion AIPVersion) override;
  std::string LocalHostName() override;
  void AddLocalAddressesToList(std::vector<std::string>& AList) override;
  bool SupportsIPv6() override { return CheckIPVersionSupport(Id_IPv6); }
  std::uint16_t ServiceToPort(const std::string& AService) override;
  std::vector<std::string> PortToServices(std::uint16_t APort) override;
  int IOControl(TIdStackSocketHandle ASocket, std::uint32_t ACommand,
                std::uint32_t& VValue) override;

  TIdStackSocketHandle RawSocket(int AFamily, int AType, int AProtocol, bool) override {
    return Recorded(::socket(AFamily, AType | SOCK_CLOEXEC, AProtocol));
  }
  int RawClose(TIdStackSocketHandle ASocket) override { return Recorded(::close(ASocket)); }
  int RawShutdown(TIdStackSocketHandle ASocket, int AHow) override {
    return Recorded(::shutdown(ASocket, AHow));  // SHUT_RD/WR/RDWR are 0/1/2 as on Winsock
  }
  int RawReceive(TIdStackSocketHandle ASocket, void* AData, int ALength, int AFlags) override {
    return static_cast<int>(Recorded(::recv(ASocket, AData, static_cast<size_t>(ALength), AFlags)));
  }
  // MSG_NOSIGNAL: a peer that has gone away gives 10058, never SIGPIPE.
  int RawSend(TIdStackSocketHandle ASocket, const void* AData, int ALength, int AFlags) override {
    return CheckSocketResult(static_cast<int>(
        Recorded(::send(ASocket, AData, static_cast<size_t>(ALength), AFlags | MSG_NOSIGNAL))));
  }
  int RawReceiveFrom(TIdStackSocketHandle ASocket, void* AData, int ALength, int AFlags,
                     TIdSockAddr& VFrom) override;
  int RawSendTo(TIdStackSocketHandle ASocket, const void* AData, int ALength, int AFlags,
                const TIdSockAddr& ATo) override;
  int RawGetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, void* VValue,
                   int& VLength) override;
  int ReceiveMsg(TIdStackSocketHandle ASocket, TIdByteArray& VBuffer, TIdByteArray& VControl,
                 TIdEndpoint& VSender) override;
  int RawSelect(TIdSocketSet* VRead, TIdSocketSet* VWrite, TIdSocketSet* VExcept,
                int ATimeout) override;

  int LastSocketError() override { return tLastSocketError; }
  void SetLastSocketError(int AError) override { tLastSocketError = AError; }
  int TakeSystemSocketError() override {
    const int error = errno;
    tLastSocketError = error == 0 ? 0 : WinsockNumberOf(error);
    return tLastSocketError;
  }
  void ClearSystemSocketError() override {
    errno = 0;
    tLastSocketError = 0;
  }

 protected:
  int NativeFamily(TIdIPVersion AIPVersion) const override {
    return AIPVersion == Id_IPv6 ? AF_INET6 : AF_INET;
  }
  int RawBind(TIdStackSocketHandle ASocket, const TIdSockAddr& AAddress) override {
    return Recorded(::bind(ASocket, AsNative(AAddress), Length(AAddress)));
  }
  int RawConnect(TIdStackSocketHandle ASocket, const TIdSockAddr& AAddress) override {
    return Recorded(::connect(ASocket, AsNative(AAddress), Length(AAddress)));
  }
  int RawListen(TIdStackSocketHandle ASocket, int ABacklog) override {
    return Recorded(::listen(ASocket, ABacklog));
  }
  TIdStackSocketHandle RawAccept(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) override {
    socklen_t length = sizeof VAddress.Bytes;
    const int accepted = Recorded(::accept4(ASocket, AsNative(VAddress), &length, SOCK_CLOEXEC));
    VAddress.Length = static_cast<int>(length);
    return accepted;
  }
  int RawLocalName(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) override {
    socklen_t length = sizeof VAddress.Bytes;
    const int result = Recorded(::getsockname(ASocket, AsNative(VAddress), &length));
    VAddress.Length = static_cast<int>(length);
    return result;
  }
  int RawPeerName(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) override {
    socklen_t length = sizeof VAddress.Bytes;
    const int result = Recorded(::getpeername(ASocket, AsNative(VAddress), &length));
    VAddress.Length = static_cast<int>(length);
    return result;
  }
  int RawSetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, const void* AValue,
                   int ALength) override;

 private:
  static const sockaddr* AsNative(const TIdSockAddr& address) {
    return reinterpret_cast<const sockaddr*>(address.Bytes);
  }
  static sockaddr* AsNative(TIdSockAddr& address) {
    return reinterpret_cast<sockaddr*>(address.Bytes);
  }
  static socklen_t Length(const TIdSockAddr& address) {
    return static_cast<socklen_t>(address.Length);
  }
};

std::string TIdStackUnix::NameToAddress(const std::string& AHost, TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  // A name with an embedded NUL would be looked up cut short; no such host exists.
  if (AHost.find('\0') != std::string::npos) ThrowSocketError(Id_WSAHOST_NOT_FOUND);
  addrinfo hints{};
  hints.ai_family = NativeFamily(AIPVersion);
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int code = ::getaddrinfo(AHost.c_str(), nullptr, &hints, &found);
  if (code == EAI_SYSTEM) {
    const int error = errno;
    throw EOSError(SystemErrorText(static_cast<unsigned long>(error)),
                   static_cast<unsigned long>(error));
  }
  if (code != 0) ThrowSocketError(ResolverErrorNumber(code));
  // Only the first address is used; there is no fall-back to the others.
  TIdSockAddr first;
  const auto length = std::min<std::size_t>(found->ai_addrlen, sizeof first.Bytes);
  std::memcpy(first.Bytes, found->ai_addr, length);
  first.Length = static_cast<int>(length);
  ::freeaddrinfo(found);
  return ParseSockAddr(first).IP;
}

std::string TIdStackUnix::AddressToName(const std::string& AAddress, TIdIPVersion AIPVersion) {
  const TIdSockAddr address = MakeSockAddr(AAddress, AIPVersion, 0);
  std::array<char, kNameInfoMax> host{};
  const int code = ::getnameinfo(AsNative(address), Length(address), host.data(),
                                 static_cast<socklen_t>(host.size()), nullptr, 0, NI_NAMEREQD);
  if (code != 0) ThrowSocketError(ResolverErrorNumber(code));
  return host.data();
}

std::string TIdStackUnix::LocalHostName() {
  std::array<char, kHostNameMax + 1> name{};
  CheckSocketResult(Recorded(::gethostname(name.data(), kHostNameMax)));
  return name.data();
}

void TIdStackUnix::AddLocalAddressesToList(std::vector<std::string>& AList) {
  ifaddrs* interfaces = nullptr;
  CheckSocketResult(Recorded(::getifaddrs(&interfaces)));
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const int family = entry->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    TIdSockAddr address;
    const std::size_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    std::memcpy(address.Bytes, entry->ifa_addr, length);
    address.Length = static_cast<int>(length);
    AList.push_back(ParseSockAddr(address).IP);
  }
  ::freeifaddrs(interfaces);
}

std::uint16_t TIdStackUnix::ServiceToPort(const std::string& AService) {
  if (!AService.empty() && AService.size() <= 5 &&
      AService.find_first_not_of("0123456789") == std::string::npos) {
    const int port = std::stoi(AService);
    if (port <= kMaxPort) return static_cast<std::uint16_t>(port);
  }
  servent entry{};
  servent* found = nullptr;
  std::array<char, kServiceBufferSize> buffer{};
  if (AService.find('\0') == std::string::npos) {
    ::getservbyname_r(AService.c_str(), nullptr, &entry, buffer.data(), buffer.size(), &found);
  }
  if (found == nullptr) throw EIdInvalidServiceName(AService + " is not a valid service.");
  return NetworkToHost(static_cast<std::uint16_t>(found->s_port));
}

std::vector<std::string> TIdStackUnix::PortToServices(std::uint16_t APort) {
  servent entry{};
  servent* found = nullptr;
  std::array<char, kServiceBufferSize> buffer{};
  ::getservbyport_r(HostToNetwork(APort), nullptr, &entry, buffer.data(), buffer.size(), &found);
  std::vector<std::string> names;
  if (found == nullptr) return names;
  names.emplace_back(found->s_name);
  for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
    names.emplace_back(*alias);
  }
  return names;
}

int TIdStackUnix::IOControl(TIdStackSocketHandle ASocket, std::uint32_t ACommand,
                            std::uint32_t& VValue) {
  int value = static_cast<int>(VValue);
  int result = 0;
  if (ACommand == Id_FIONBIO) {
    result = Recorded(::ioctl(ASocket, FIONBIO, &value));
  } else if (ACommand == Id_FIONREAD) {
    result = Recorded(::ioctl(ASocket, FIONREAD, &value));
  } else {
    return FailWith(Id_WSAEINVAL);
  }
  VValue = static_cast<std::uint32_t>(value);
  return result;
}

int TIdStackUnix::RawReceiveFrom(TIdStackSocketHandle ASocket, void* AData, int ALength, int AFlags,
                                 TIdSockAddr& VFrom) {
  socklen_t length = sizeof VFrom.Bytes;
  const auto received = Recorded(
      ::recvfrom(ASocket, AData, static_cast<size_t>(ALength), AFlags, AsNative(VFrom), &length));
  VFrom.Length = static_cast<int>(length);
  return static_cast<int>(received);
}

int TIdStackUnix::RawSendTo(TIdStackSocketHandle ASocket, const void* AData, int ALength,
                            int AFlags, const TIdSockAddr& ATo) {
  return static_cast<int>(Recorded(::sendto(ASocket, AData, static_cast<size_t>(ALength),
                                            AFlags | MSG_NOSIGNAL, AsNative(ATo), Length(ATo))));
}

int TIdStackUnix::ReceiveMsg(TIdStackSocketHandle ASocket, TIdByteArray& VBuffer,
                             TIdByteArray& VControl, TIdEndpoint& VSender) {
  Require(!VBuffer.empty(), "receive buffer not empty");
  TIdSockAddr from;
  iovec data{VBuffer.data(), VBuffer.size()};
  msghdr message{};
  message.msg_name = from.Bytes;
  message.msg_namelen = sizeof from.Bytes;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = VControl.empty() ? nullptr : VControl.data();
  message.msg_controllen = VControl.size();
  const int received =
      CheckSocketResult(static_cast<int>(Recorded(::recvmsg(ASocket, &message, 0))));
  from.Length = static_cast<int>(message.msg_namelen);
  VControl.resize(message.msg_controllen);
  VSender = ParseSockAddr(from);
  return received;
}

int TIdStackUnix::RawGetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, void* VValue,
                               int& VLength) {
  const OptionMapping* option = NativeOption(ALevel, AOptName);
  if (option == nullptr) return FailWith(10042);
  socklen_t length = static_cast<socklen_t>(VLength);
  const int result =
      Recorded(::getsockopt(ASocket, option->nativeLevel, option->nativeName, VValue, &length));
  VLength = static_cast<int>(length);
  // SO_ERROR reports an errno; callers expect the Winsock number.
  if (result == 0 && option->nativeName == SO_ERROR && option->nativeLevel == SOL_SOCKET &&
      VLength >= static_cast<int>(sizeof(int))) {
    int error = 0;
    std::memcpy(&error, VValue, sizeof error);
    error = error == 0 ? 0 : WinsockNumberOf(error);
    std::memcpy(VValue, &error, sizeof error);
  }
  return result;
}

int TIdStackUnix::RawSetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               const void* AValue, int ALength) {
  const OptionMapping* option = NativeOption(ALevel, AOptName);
  if (option == nullptr) return FailWith(10042);
  // Winsock's linger is two 16-bit fields; the native one is two ints.
  if (option->nativeName == SO_LINGER && option->nativeLevel == SOL_SOCKET &&
      ALength == kWinsockLingerLength) {
    std::uint16_t fields[2] = {};
    std::memcpy(fields, AValue, sizeof fields);
    const linger native{fields[0], fields[1]};
    return Recorded(::setsockopt(ASocket, SOL_SOCKET, SO_LINGER, &native, sizeof native));
  }
  return Recorded(::setsockopt(ASocket, option->nativeLevel, option->nativeName, AValue,
                               static_cast<socklen_t>(ALength)));
}

// poll() rather than select(): descriptors at or above FD_SETSIZE are common in busy processes
// and would overflow an fd_set.
int TIdStackUnix::RawSelect(TIdSocketSet* VRead, TIdSocketSet* VWrite, TIdSocketSet* VExcept,
                            int ATimeout) {
  std::array<pollfd, 3 * Id_SOCKET_SET_SIZE> fds{};
  std::size_t used = 0;
  TIdSocketSet* sets[3] = {VRead, VWrite, VExcept};
  const short events[3] = {POLLIN, POLLOUT, POLLPRI};
  for (int s = 0; s < 3; ++s) {
    if (sets[s] == nullptr) continue;
    for (int i = 0; i < sets[s]->Count; ++i) fds[used++] = {sets[s]->Sockets[i], events[s], 0};
  }
  // Winsock refuses a wait on nothing; so does this stack, rather than sleep (or hang).
  if (used == 0) return FailWith(Id_WSAEINVAL);
  const int result = Recorded(::poll(fds.data(), used, PollTimeout(ATimeout)));
  if (result < 0) return result;

  // Keep in each set only its ready members. Like select(), a socket that is closed, has an
  // error or has hung up counts as readable (a read then reports it); an invalid descriptor
  // fails the wait as select() would.
  int ready = 0;
  std::size_t at = 0;
  for (int s = 0; s < 3; ++s) {
    if (sets[s] == nullptr) continue;
    TIdSocketSet& set = *sets[s];
    int kept = 0;
    for (int i = 0; i < set.Count; ++i, ++at) {
      const short revents = fds[at].revents;
      if ((revents & POLLNVAL) != 0) return FailWith(Id_WSAENOTSOCK);
      const short wanted = s == 0   ? (POLLIN | POLLHUP | POLLERR)
                           : s == 1 ? (POLLOUT | POLLERR)
                                    : POLLPRI;
      if ((revents & wanted) != 0) set.Sockets[kept++] = set.Sockets[i];
    }
    set.Count = kept;
    ready += kept;
  }
  return ready;
}

}  // namespace

std::unique_ptr<TIdStack> NewPlatformStack() {
  return std::make_unique<TIdStackUnix>();
}

}  // namespace brixa
