#pragma once
// Plain BSD / Winsock sockets for the test servers. Kept apart from the library's own socket stack
// on purpose: a test peer must not share the code it tests. Every call that waits takes a time
// limit, so no test can hang on a peer.

#include <cstddef>
#include <cstdint>
#include <string>

namespace brixa::test::net {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Results of Receive besides a positive byte count.
inline constexpr int kPeerClosed = 0;
inline constexpr int kFailed = -1;
inline constexpr int kTimedOut = -2;

// A listening TCP socket on 127.0.0.1 (or ::1) on `port`, or a system-chosen one when it is 0
// (`port` then tells which); kNoSocket on failure.
[[nodiscard]] Socket Listen(bool ipv6, int backlog, std::uint16_t& port);
// The next connection, or kNoSocket when none arrived within `timeoutMs`.
[[nodiscard]] Socket Accept(Socket listener, int timeoutMs);
// A bound socket that never listens: connecting to its port is refused.
[[nodiscard]] Socket BindOnly(bool ipv6, std::uint16_t& port);
// Starts a connect without waiting for it to finish (the socket stays non-blocking).
[[nodiscard]] Socket StartConnect(bool ipv6, std::uint16_t port);
// True when the socket's pending connect finished successfully within `timeoutMs`.
[[nodiscard]] bool ConnectFinished(Socket socket, int timeoutMs);

// Receives at most `capacity` bytes, waiting at most `timeoutMs`.
[[nodiscard]] int Receive(Socket socket, char* buffer, int capacity, int timeoutMs);
// Sends everything; false when the peer is gone.
[[nodiscard]] bool SendAll(Socket socket, const char* data, std::size_t size);
// Sends what the socket takes without blocking once it can take something, waiting at most
// `timeoutMs` for that: the byte count (0 when it took nothing after all), kTimedOut, or
// kFailed when the peer is gone.
[[nodiscard]] int SendSome(Socket socket, const char* data, std::size_t size, int timeoutMs);
void ShutdownWrite(Socket socket);
void Close(Socket socket);
// Closes so that the peer sees a reset instead of an orderly end.
void Reset(Socket socket);

// A UDP socket on 127.0.0.1 with a system-chosen port; kNoSocket on failure.
[[nodiscard]] Socket UdpBind(std::uint16_t& port);
// Waits at most `timeoutMs` for one datagram and sends it back to where it came from. Returns
// its size, kTimedOut or kFailed.
[[nodiscard]] int EchoOneDatagram(Socket socket, int timeoutMs);

}  // namespace brixa::test::net
