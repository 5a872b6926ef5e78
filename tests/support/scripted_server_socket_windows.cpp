// The test servers' sockets over Winsock, started once per process.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/scripted_server_socket.h"

namespace brixa::test::net {

namespace {

// Winsock must be started once per process before the first call; it stays up until exit.
void EnsureStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

// The most one SendSome hands to the system, so that its count fits an int.
constexpr std::size_t kMaxSendPiece = 1 << 20;

SOCKET Raw(Socket socket) {
  return static_cast<SOCKET>(socket);
}

int LoopbackAddress(bool ipv6, std::uint16_t port, sockaddr_storage& address) {
  std::memset(&address, 0, sizeof address);
  if (ipv6) {
    auto& a6 = reinterpret_cast<sockaddr_in6&>(address);
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(port);
    a6.sin6_addr = in6addr_loopback;
    return sizeof(sockaddr_in6);
  }
  auto& a4 = reinterpret_cast<sockaddr_in&>(address);
  a4.sin_family = AF_INET;
  a4.sin_port = htons(port);
  a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sizeof(sockaddr_in);
}

std::uint16_t LocalPort(SOCKET s) {
  sockaddr_storage address{};
  int length = sizeof address;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port);
  }
  return ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

// Waits until the socket is readable (or writable / failed when `forWrite`).
bool WaitFor(SOCKET s, bool forWrite, int timeoutMs) {
  fd_set main;
  fd_set failed;
  FD_ZERO(&main);
  FD_ZERO(&failed);
  FD_SET(s, &main);
  FD_SET(s, &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = forWrite ? select(0, nullptr, &main, &failed, &limit)
                              : select(0, &main, nullptr, nullptr, &limit);
  return result > 0;
}

Socket BoundSocket(bool ipv6, std::uint16_t& port) {
  EnsureStarted();
  const SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_storage address{};
  const int length = LoopbackAddress(ipv6, port, address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  port = LocalPort(s);
  return static_cast<Socket>(s);
}

}  // namespace

Socket Listen(bool ipv6, int backlog, std::uint16_t& port) {
  const Socket s = BoundSocket(ipv6, port);
  if (s == kNoSocket) return kNoSocket;
  if (listen(Raw(s), backlog) != 0) {
    closesocket(Raw(s));
    return kNoSocket;
  }
  return s;
}

Socket Accept(Socket listener, int timeoutMs) {
  if (!WaitFor(Raw(listener), false, timeoutMs)) return kNoSocket;
  const SOCKET s = accept(Raw(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

Socket BindOnly(bool ipv6, std::uint16_t& port) {
  return BoundSocket(ipv6, port);
}

Socket StartConnect(bool ipv6, std::uint16_t port) {
  EnsureStarted();
  const SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kNoSocket;
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  sockaddr_storage address{};
  const int length = LoopbackAddress(ipv6, port, address);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), length) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<Socket>(s);
}

bool ConnectFinished(Socket socket, int timeoutMs) {
  if (!WaitFor(Raw(socket), true, timeoutMs)) return false;
  int error = 0;
  int length = sizeof error;
  return getsockopt(Raw(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
             0 &&
         error == 0;
}

int Receive(Socket socket, char* buffer, int capacity, int timeoutMs) {
  if (!WaitFor(Raw(socket), false, timeoutMs)) return kTimedOut;
  const int n = recv(Raw(socket), buffer, capacity, 0);
  return n < 0 ? kFailed : n;
}

bool SendAll(Socket socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int n = send(Raw(socket), data, static_cast<int>(size), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int SendSome(Socket socket, const char* data, std::size_t size, int timeoutMs) {
  if (!WaitFor(Raw(socket), true, timeoutMs)) return kTimedOut;
  // Non-blocking for this one send only: a blocking send waits until it has taken everything.
  u_long nonBlocking = 1;
  ioctlsocket(Raw(socket), FIONBIO, &nonBlocking);
  const int n =
      send(Raw(socket), data, static_cast<int>(std::min<std::size_t>(size, kMaxSendPiece)), 0);
  const int error = n < 0 ? WSAGetLastError() : 0;
  u_long blocking = 0;
  ioctlsocket(Raw(socket), FIONBIO, &blocking);
  if (n < 0 && error == WSAEWOULDBLOCK) return 0;
  return n < 0 ? kFailed : n;
}

void ShutdownWrite(Socket socket) {
  shutdown(Raw(socket), SD_SEND);
}

void Close(Socket socket) {
  if (socket != kNoSocket) closesocket(Raw(socket));
}

void Reset(Socket socket) {
  linger option{1, 0};
  setsockopt(Raw(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
             sizeof option);
  closesocket(Raw(socket));
}

Socket UdpBind(std::uint16_t& port) {
  EnsureStarted();
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_storage address{};
  const int length = LoopbackAddress(false, 0, address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  port = LocalPort(s);
  return static_cast<Socket>(s);
}

int EchoOneDatagram(Socket socket, int timeoutMs) {
  if (!WaitFor(Raw(socket), false, timeoutMs)) return kTimedOut;
  std::vector<char> buffer(65536);
  sockaddr_storage from{};
  int length = sizeof from;
  const int got = recvfrom(Raw(socket), buffer.data(), static_cast<int>(buffer.size()), 0,
                           reinterpret_cast<sockaddr*>(&from), &length);
  if (got < 0) return kFailed;
  const int sent =
      sendto(Raw(socket), buffer.data(), got, 0, reinterpret_cast<sockaddr*>(&from), length);
  return sent == got ? got : kFailed;
}

}  // namespace brixa::test::net
