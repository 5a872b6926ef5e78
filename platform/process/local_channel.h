#pragma once
// A channel between a privileged service and the programs of local users: the service listens
// at a name that only it can take, clients connect and exchange a line each way.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brixa {

// One accepted or made connection.
class TLocalChannelConnection {
 public:
  virtual ~TLocalChannelConnection() = default;
  // Reads up to and including the first '\n', at most `maxBytes` bytes, waiting at most
  // `timeoutMs` in all; what arrived (without a '\n' when the peer sent too much, stopped or
  // waited too long; no byte beyond `maxBytes` is read).
  [[nodiscard]] virtual std::string ReadLine(std::size_t maxBytes, std::uint32_t timeoutMs) = 0;
  // Sends all of `bytes`; false when the peer is gone.
  virtual bool Write(std::string_view bytes) = 0;
  // The peer's user: its uid on Linux (SO_PEERCRED); none where the system does not say.
  [[nodiscard]] virtual std::optional<std::uint32_t> PeerUser() const = 0;
};

// Where the service of `product` listens:
//   - Linux: the Unix socket "<folder>/<product>.sock", `folder` normally kServiceChannelFolder.
//     The service makes the folder (mode 0755) and accepts it only as a real folder of its own
//     user that nobody else may change; the socket itself anyone may connect to.
//   - Windows: the named pipe "\\.\pipe\<folder>-<product>" (`folder` a name part, normally
//     kServiceChannelFolder's last part), created as the first instance of its name, rejecting
//     remote clients, open to the system, administrators and interactive users only.
#ifdef _WIN32
inline constexpr const char* kServiceChannelFolder = "brixa-update";
#else
inline constexpr const char* kServiceChannelFolder = "/run/brixa-update";
#endif

class TLocalChannelServer {
 public:
  virtual ~TLocalChannelServer() = default;
  // Null with `error` when the name cannot be taken safely.
  [[nodiscard]] static std::unique_ptr<TLocalChannelServer> Listen(const std::string& folder,
                                                                   const std::string& product,
                                                                   std::string& error);
  // The next client, or null after `timeoutMs` without one.
  [[nodiscard]] virtual std::unique_ptr<TLocalChannelConnection> Accept(
      std::uint32_t timeoutMs) = 0;
};

// Connects to the service of `product`; null with `error` when none listens, or when what
// listens is not the system's (Linux: the folder or the socket not root's, or changeable by
// others; Windows: the pipe served from a session other than the services' session 0 and the
// caller's own, as another user who took the name first would serve it). The Windows pipe is opened
// for identification only: its server can learn who asks, never act as them. Linux connects at once
// or not at all (a service with a full queue is busy); Windows waits up to `timeoutMs` for a free
// instance.
[[nodiscard]] std::unique_ptr<TLocalChannelConnection> ConnectLocalChannel(
    const std::string& folder, const std::string& product, std::uint32_t timeoutMs,
    std::string& error);

}  // namespace brixa
