// The channel as a Unix stream socket in a folder only the service's user may change.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/process/local_channel.h"
#include "platform/thread/clock.h"

namespace brixa {

namespace {

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kOthersMayChange = S_IWGRP | S_IWOTH;
constexpr mode_t kAnyoneMayConnect = 0666;
constexpr int kBacklog = 8;
constexpr uid_t kSystemUser = 0;
// The lines are a few dozen bytes: a peer that takes none of them for this long is gone.
constexpr std::uint32_t kWriteTimeoutMs = 2000;

std::string SystemText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

class TFd {
 public:
  explicit TFd(int fd = -1) noexcept : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  [[nodiscard]] int Get() const noexcept { return fd_; }
  [[nodiscard]] bool Valid() const noexcept { return fd_ >= 0; }
  [[nodiscard]] int Release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A real folder (no link) owned by `owner` that nobody else may change; `why` says what is not.
bool IsGuardedFolder(const std::string& folder, uid_t owner, std::string& why) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    why = SystemText(folder);
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != owner || (info.st_mode & kOthersMayChange) != 0) {
    why = folder + " is not a folder of user " + std::to_string(owner) +
          " that nobody else may change";
    return false;
  }
  return true;
}

bool SocketAddress(const std::string& path, sockaddr_un& address, std::string& error) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    error = path + ": the name is too long for a socket";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

class TSocketConnection final : public TLocalChannelConnection {
 public:
  explicit TSocketConnection(int fd) noexcept : fd_(fd) {}
  std::string ReadLine(std::size_t maxBytes, std::uint32_t timeoutMs) override {
    std::string line;
    const std::uint64_t end = MonotonicMilliseconds() + timeoutMs;
    while (line.size() < maxBytes && (line.empty() || line.back() != '\n')) {
      const std::uint64_t now = MonotonicMilliseconds();
      if (now >= end) break;
      pollfd ready{fd_.Get(), POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(end - now)) <= 0) break;
      char c = 0;  // one byte at a time: nothing past the line's end is taken
      const ssize_t n = ::recv(fd_.Get(), &c, 1, 0);
      if (n <= 0) break;
      line += c;
    }
    return line;
  }
  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd ready{fd_.Get(), POLLOUT, 0};
        if (::poll(&ready, 1, static_cast<int>(kWriteTimeoutMs)) <= 0) return false;
        continue;
      }
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  std::optional<std::uint32_t> PeerUser() const override {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd_.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
      return std::nullopt;
    }
    return credentials.uid;
  }

 private:
  TFd fd_;
};

class TSocketServer final : public TLocalChannelServer {
 public:
  explicit TSocketServer(int fd) noexcept : fd_(fd) {}
  std::unique_ptr<TLocalChannelConnection> Accept(std::uint32_t timeoutMs) override {
    pollfd ready{fd_.Get(), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeoutMs)) <= 0) return nullptr;
    const int client = ::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return nullptr;
    return std::make_unique<TSocketConnection>(client);
  }

 private:
  TFd fd_;
};

}  // namespace

std::unique_ptr<TLocalChannelServer> TLocalChannelServer::Listen(const std::string& folder,
                                                                 const std::string& product,
                                                                 std::string& error) {
  if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    error = SystemText(folder);
    return nullptr;
  }
  if (!IsGuardedFolder(folder, ::geteuid(), error)) return nullptr;
  const std::string path = folder + "/" + product + ".sock";
  sockaddr_un address{};
  if (!SocketAddress(path, address, error)) return nullptr;
  TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    error = SystemText("socket");
    return nullptr;
  }
  // A socket left by an earlier run of the service; nobody else can have put anything there.
  (void)::unlink(path.c_str());
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path.c_str(), kAnyoneMayConnect) != 0 || ::listen(fd.Get(), kBacklog) != 0) {
    error = SystemText(path);
    return nullptr;
  }
  return std::make_unique<TSocketServer>(fd.Release());
}

std::unique_ptr<TLocalChannelConnection> ConnectLocalChannel(const std::string& folder,
                                                             const std::string& product,
                                                             std::uint32_t /*timeoutMs*/,
                                                             std::string& error) {
  // Only the system may have made the folder and the socket: anyone else's is not the service.
  const uid_t service = kSystemUser;
  if (!IsGuardedFolder(folder, service, error)) return nullptr;
  const std::string path = folder + "/" + product + ".sock";
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != service) {
    error = path + ": no update service listens here";
    return nullptr;
  }
  sockaddr_un address{};
  if (!SocketAddress(path, address, error)) return nullptr;
  // Without blocking: a service whose queue is full is busy now, not waited for.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = SystemText("socket");
    return nullptr;
  }
  auto connection = std::make_unique<TSocketConnection>(fd);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = SystemText(path);
    return nullptr;
  }
  return connection;
}

}  // namespace brixa
