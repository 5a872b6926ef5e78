// The test servers' sockets over BSD sockets.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/scripted_server_socket.h"

namespace brixa::test::net {

namespace {

// The most one SendSome hands to the system, so that its count fits an int.
constexpr std::size_t kMaxSendPiece = 1 << 20;

int Fd(Socket socket) {
  return static_cast<int>(socket);
}

// Fills a loopback address of the family with `port`; returns its length.
socklen_t LoopbackAddress(bool ipv6, std::uint16_t port, sockaddr_storage& address) {
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

std::uint16_t LocalPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port);
  }
  return ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

// Waits for `events` on the socket; true when they arrived in time.
bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  int result;
  do {
    result = poll(&entry, 1, timeoutMs);
  } while (result < 0 && errno == EINTR);
  return result > 0;
}

Socket BoundSocket(bool ipv6, std::uint16_t& port) {
  const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return kNoSocket;
  // A given port may have connections of a server that just stopped in TIME_WAIT.
  const int reuse = 1;
  if (port != 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_storage address{};
  const socklen_t length = LoopbackAddress(ipv6, port, address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    close(fd);
    return kNoSocket;
  }
  port = LocalPort(fd);
  return fd;
}

}  // namespace

Socket Listen(bool ipv6, int backlog, std::uint16_t& port) {
  const Socket s = BoundSocket(ipv6, port);
  if (s == kNoSocket) return kNoSocket;
  if (listen(Fd(s), backlog) != 0) {
    close(Fd(s));
    return kNoSocket;
  }
  return s;
}

Socket Accept(Socket listener, int timeoutMs) {
  if (!WaitFor(Fd(listener), POLLIN, timeoutMs)) return kNoSocket;
  const int fd = accept(Fd(listener), nullptr, nullptr);
  return fd < 0 ? kNoSocket : fd;
}

Socket BindOnly(bool ipv6, std::uint16_t& port) {
  return BoundSocket(ipv6, port);
}

Socket StartConnect(bool ipv6, std::uint16_t port) {
  const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return kNoSocket;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  sockaddr_storage address{};
  const socklen_t length = LoopbackAddress(ipv6, port, address);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 && errno != EINPROGRESS) {
    close(fd);
    return kNoSocket;
  }
  return fd;
}

bool ConnectFinished(Socket socket, int timeoutMs) {
  if (!WaitFor(Fd(socket), POLLOUT, timeoutMs)) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

int Receive(Socket socket, char* buffer, int capacity, int timeoutMs) {
  if (!WaitFor(Fd(socket), POLLIN, timeoutMs)) return kTimedOut;
  ssize_t n;
  do {
    n = recv(Fd(socket), buffer, static_cast<std::size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? kFailed : static_cast<int>(n);
}

bool SendAll(Socket socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(Fd(socket), data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int SendSome(Socket socket, const char* data, std::size_t size, int timeoutMs) {
  if (!WaitFor(Fd(socket), POLLOUT, timeoutMs)) return kTimedOut;
  ssize_t n;
  do {
    n = send(Fd(socket), data, std::min<std::size_t>(size, kMaxSendPiece),
             MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return n < 0 ? kFailed : static_cast<int>(n);
}

void ShutdownWrite(Socket socket) {
  shutdown(Fd(socket), SHUT_WR);
}

void Close(Socket socket) {
  if (socket != kNoSocket) close(Fd(socket));
}

void Reset(Socket socket) {
  linger option{1, 0};
  setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &option, sizeof option);
  close(Fd(socket));
}

Socket UdpBind(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  sockaddr_storage address{};
  const socklen_t length = LoopbackAddress(false, 0, address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    ::close(fd);
    return kNoSocket;
  }
  port = LocalPort(fd);
  return fd;
}

int EchoOneDatagram(Socket socket, int timeoutMs) {
  if (!WaitFor(Fd(socket), POLLIN, timeoutMs)) return kTimedOut;
  char buffer[65536];
  sockaddr_storage from{};
  socklen_t length = sizeof from;
  const ssize_t got =
      ::recvfrom(Fd(socket), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (got < 0) return kFailed;
  const ssize_t sent = ::sendto(Fd(socket), buffer, static_cast<std::size_t>(got), 0,
                                reinterpret_cast<sockaddr*>(&from), length);
  return sent == got ? static_cast<int>(got) : kFailed;
}

}  // namespace brixa::test::net
