#pragma once
// TIdIOHandlerStack: the default I/O handler, which resolves, connects, sends and receives
// through the process-wide socket stack.

#include <cstdint>
#include <span>

#include "transport/io/io_handler_socket.h"

namespace brixa {

// Connects may be left without a limit only while no anti-freeze runs on this thread; with one,
// a connect of ConnectTimeout() 0 is limited to this many milliseconds.
inline constexpr std::int32_t IdAntiFreezeConnectTimeoutMs = 120000;
// The step in which a connect with a time limit is watched.
inline constexpr std::int32_t IdConnectWaitStepMs = 125;

// The default I/O handler: resolves, connects, sends and receives through the process-wide
// socket stack.
class TIdIOHandlerStack : public TIdIOHandlerSocket {
 public:
  explicit TIdIOHandlerStack(TComponent* owner = nullptr);

  // Takes in whatever the socket already holds (without waiting or raising), then: true while
  // the socket and the handler are open and the peer has not closed with nothing left to read,
  // or while InBuffer() still holds unread bytes after the peer closed. A handler we closed
  // ourselves is not connected, whatever it still holds.
  [[nodiscard]] bool Connected() override;

 protected:
  // The socket part, then: pick the target (the transparent proxy's when one is enabled),
  // resolve it unless it is a literal, connect (with a time limit when ConnectTimeout() is set
  // or an anti-freeze applies) and hand over to the proxy.
  void EstablishConnection() override;
  // Connects on a TIdConnectThread, watching it in steps; raises EIdConnectTimeout "Connect
  // timed out." after closing the socket and ending the thread when the limit passes.
  void ConnectWithTimeout(std::int32_t ATimeout);

  std::int32_t ReadDataFromSource(std::span<std::uint8_t> ABuffer) override;
  std::int32_t WriteDataToTarget(std::span<const std::uint8_t> ABuffer) override;

 private:
  void ConnectBinding();
};

}  // namespace brixa
