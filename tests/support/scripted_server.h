#pragma once
// A loopback TCP peer that plays a scripted byte conversation, for byte-exact edge cases that a
// real server cannot be made to produce (a terminator split across two reads, a close in the
// middle of a line, a reset).
//
//   ScriptedServer server({Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\n\r\n"), Close()});
//   client.SetPort(server.Port());
//   ...
//   EXPECT_EQ(server.Received(), "GET / HTTP/1.1\r\n...\r\n\r\n");
//
// Each script plays on one accepted connection; several scripts play on successive connections
// (the first connection gets the first script), which tells a kept-alive connection from a new
// one: a second request on the same connection shows up in Received(0), one on a new connection
// in Received(1). Every connection runs on its own thread; every wait is bounded by the step
// timeout, and the destructor stops and joins everything.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_server_socket.h"

namespace brixa::test {

// One step of a conversation. Build steps with the functions below.
struct Step {
  enum class Kind {
    kSend,           // send `bytes`
    kExpectBytes,    // receive exactly `count` bytes
    kExpectUntil,    // receive until the received bytes end with `bytes`
    kExpectClose,    // receive until the peer closes
    kPause,          // sleep `milliseconds`
    kShutdownWrite,  // half-close: the peer reads an end of stream, we still receive
    kClose,          // orderly close (see Close())
    kReset,          // abortive close: the peer sees a connection reset
    kOffer,          // send `bytes` `count` times over, as far as the peer reads (see Offer())
  };
  Kind kind;
  std::string bytes;
  std::size_t count = 0;
  int milliseconds = 0;
};

using Script = std::vector<Step>;

[[nodiscard]] Step Send(std::string bytes);
// Sends `bytes` `times` times over, for a body the peer may give up on: a peer that leaves ends
// the conversation there, as planned; one that neither reads nor leaves for the step timeout
// fails it.
[[nodiscard]] Step Offer(std::string bytes, std::size_t times);
[[nodiscard]] Step Pause(int milliseconds);
[[nodiscard]] Step ShutdownWrite();
// Ends our side in order (FIN) and keeps receiving until the peer closes or the server stops, so
// that late bytes from the peer are recorded and never turn the close into a reset. A script
// that ends without Close() or Reset() closes this way too.
[[nodiscard]] Step Close();
// Closes with SO_LINGER 0, so the peer's next receive fails with a reset.
[[nodiscard]] Step Reset();

struct Expect {
  [[nodiscard]] static Step Bytes(std::size_t count);
  [[nodiscard]] static Step Until(std::string marker);
  [[nodiscard]] static Step Line() { return Until("\n"); }
  // A request or response head: everything up to and including the empty line.
  [[nodiscard]] static Step LineBlock() { return Until("\r\n\r\n"); }
  [[nodiscard]] static Step Close();
};

struct ScriptedServerOptions {
  bool ipv6 = false;         // listen on ::1 instead of 127.0.0.1
  int stepTimeoutMs = 5000;  // longest wait of one expect step and of each accept
  std::uint16_t port = 0;    // the port to listen on; 0: any free one
};

class ScriptedServer {
 public:
  explicit ScriptedServer(Script script, ScriptedServerOptions options = {});
  explicit ScriptedServer(std::vector<Script> scripts, ScriptedServerOptions options = {});
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  [[nodiscard]] std::uint16_t Port() const noexcept { return port_; }
  // "127.0.0.1" or "::1".
  [[nodiscard]] std::string Host() const { return options_.ipv6 ? "::1" : "127.0.0.1"; }

  // Every byte received so far on the `connection`-th accepted connection ("" when none).
  [[nodiscard]] std::string Received(std::size_t connection = 0) const;
  [[nodiscard]] std::size_t Accepted() const;
  // Waits until every script has played to its last step; false when that took longer than
  // `timeoutMs`.
  [[nodiscard]] bool WaitDone(int timeoutMs = 10000);
  // One line per step that did not play as scripted (an expect that timed out or saw the peer
  // close, a send to a peer that was gone); empty when all went to plan.
  [[nodiscard]] std::string Failures() const;

 private:
  struct Connection {
    net::Socket socket = net::kNoSocket;
    std::string received;
    // Bytes of `received` that earlier expect steps used up; one receive may carry bytes for
    // several steps.
    std::size_t consumed = 0;
    std::thread thread;
  };

  void AcceptLoop();
  void Play(std::size_t index);
  bool PlayStep(std::size_t index, std::size_t stepIndex, const Step& step);
  bool ReceiveUntil(std::size_t index, const Step& step);
  // Plays an Offer step; false when it ended the conversation.
  bool Offer(std::size_t index, std::size_t stepIndex, const Step& step);
  // Receives once into the connection's record; the net:: result code.
  int ReceiveSome(std::size_t index, int timeoutMs);
  void Drain(std::size_t index);
  void Fail(std::size_t index, std::size_t stepIndex, const std::string& what);
  void Finish();

  std::vector<Script> scripts_;
  ScriptedServerOptions options_;
  net::Socket listener_ = net::kNoSocket;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;  // guards connections_' records, failures_ and finished_
  std::condition_variable done_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<std::string> failures_;
  std::size_t finished_ = 0;
  std::thread acceptor_;
};

// A listening socket whose accept queue has been filled, so that a further connect to Port()
// neither completes nor is refused: it hangs until the connecting side gives up. For
// connect-timeout tests without leaving the loopback interface.
class FullBacklogListener {
 public:
  explicit FullBacklogListener(bool ipv6 = false);
  ~FullBacklogListener();
  FullBacklogListener(const FullBacklogListener&) = delete;
  FullBacklogListener& operator=(const FullBacklogListener&) = delete;

  [[nodiscard]] std::uint16_t Port() const noexcept { return port_; }
  // True when a probing connect was seen to hang, i.e. the queue really is full.
  [[nodiscard]] bool Full() const noexcept { return full_; }

 private:
  net::Socket listener_ = net::kNoSocket;
  std::vector<net::Socket> fillers_;
  std::uint16_t port_ = 0;
  bool full_ = false;
};

// A port on which nothing listens (held by a bound socket so nobody else takes it): connecting
// to it is refused.
class RefusingPort {
 public:
  explicit RefusingPort(bool ipv6 = false);
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  [[nodiscard]] std::uint16_t Port() const noexcept { return port_; }

 private:
  net::Socket socket_ = net::kNoSocket;
  std::uint16_t port_ = 0;
};

}  // namespace brixa::test
