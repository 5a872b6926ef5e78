// The scripted server's thread: plays each step (send, expect, pause, shut down, close, reset)
// with every wait cut into short slices, so a stop is seen quickly.

#include "support/scripted_server.h"

#include <algorithm>
#include <chrono>

namespace brixa::test {

namespace {

using Clock = std::chrono::steady_clock;

// Every blocking call waits at most this long, so a stop request is seen quickly.
constexpr int kSliceMs = 50;
constexpr int kReceiveChunk = 64 * 1024;
// Connects tried while filling an accept queue, and how long one may take to count as hanging.
constexpr int kMaxFillers = 64;
constexpr int kHangProbeMs = 300;

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(0, left));
}

std::string Describe(const Step& step) {
  switch (step.kind) {
    case Step::Kind::kSend:
      return "send " + std::to_string(step.bytes.size()) + " bytes";
    case Step::Kind::kExpectBytes:
      return "expect " + std::to_string(step.count) + " bytes";
    case Step::Kind::kExpectUntil:
      return "expect bytes up to a marker";
    case Step::Kind::kExpectClose:
      return "expect the peer to close";
    case Step::Kind::kPause:
      return "pause";
    case Step::Kind::kShutdownWrite:
      return "shut down writing";
    case Step::Kind::kClose:
      return "close";
    case Step::Kind::kReset:
      return "reset";
    case Step::Kind::kOffer:
      return "offer " + std::to_string(step.bytes.size()) + " bytes " + std::to_string(step.count) +
             " times";
  }
  return "step";
}

Step MakeStep(Step::Kind kind, std::string bytes = {}, std::size_t count = 0,
              int milliseconds = 0) {
  Step step{kind, std::move(bytes), count, milliseconds};
  return step;
}

}  // namespace

Step Send(std::string bytes) {
  return MakeStep(Step::Kind::kSend, std::move(bytes));
}
Step Offer(std::string bytes, std::size_t times) {
  return MakeStep(Step::Kind::kOffer, std::move(bytes), times);
}
Step Pause(int milliseconds) {
  return MakeStep(Step::Kind::kPause, {}, 0, milliseconds);
}
Step ShutdownWrite() {
  return MakeStep(Step::Kind::kShutdownWrite);
}
Step Close() {
  return MakeStep(Step::Kind::kClose);
}
Step Reset() {
  return MakeStep(Step::Kind::kReset);
}
Step Expect::Bytes(std::size_t count) {
  return MakeStep(Step::Kind::kExpectBytes, {}, count);
}
Step Expect::Until(std::string marker) {
  return MakeStep(Step::Kind::kExpectUntil, std::move(marker));
}
Step Expect::Close() {
  return MakeStep(Step::Kind::kExpectClose);
}

ScriptedServer::ScriptedServer(Script script, ScriptedServerOptions options)
    : ScriptedServer(std::vector<Script>{std::move(script)}, options) {}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, ScriptedServerOptions options)
    : scripts_(std::move(scripts)), options_(options) {
  // Connection threads index connections_ while the acceptor appends: it must never move.
  connections_.reserve(scripts_.size());
  port_ = options_.port;
  listener_ = net::Listen(options_.ipv6, static_cast<int>(scripts_.size()) + 4, port_);
  if (listener_ == net::kNoSocket) {
    failures_.push_back("cannot listen on the loopback interface");
    return;
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  // The acceptor is gone, so connections_ no longer grows.
  for (auto& connection : connections_) {
    if (connection->thread.joinable()) connection->thread.join();
  }
  net::Close(listener_);
}

void ScriptedServer::AcceptLoop() {
  for (std::size_t index = 0; index < scripts_.size() && !stop_; ++index) {
    net::Socket socket = net::kNoSocket;
    while (socket == net::kNoSocket && !stop_) socket = net::Accept(listener_, kSliceMs);
    if (socket == net::kNoSocket) return;
    std::lock_guard guard(mutex_);
    auto connection = std::make_unique<Connection>();
    connection->socket = socket;
    connections_.push_back(std::move(connection));
    connections_.back()->thread = std::thread([this, index] { Play(index); });
  }
}

void ScriptedServer::Play(std::size_t index) {
  const Script& script = scripts_[index];
  // A close ends the script: it counts as played once our side is shut, while the drain that
  // follows waits for the peer.
  for (std::size_t i = 0; i < script.size() && !stop_; ++i) {
    if (script[i].kind == Step::Kind::kClose) break;
    if (!PlayStep(index, i, script[i])) break;
    if (script[i].kind == Step::Kind::kReset) break;
  }
  if (connections_[index]->socket != net::kNoSocket)
    net::ShutdownWrite(connections_[index]->socket);
  Finish();
  if (connections_[index]->socket != net::kNoSocket) Drain(index);
}

bool ScriptedServer::PlayStep(std::size_t index, std::size_t stepIndex, const Step& step) {
  const net::Socket socket = connections_[index]->socket;
  switch (step.kind) {
    case Step::Kind::kSend:
      if (net::SendAll(socket, step.bytes.data(), step.bytes.size())) return true;
      Fail(index, stepIndex, "the peer was gone");
      return false;
    case Step::Kind::kExpectBytes:
    case Step::Kind::kExpectUntil:
    case Step::Kind::kExpectClose:
      if (ReceiveUntil(index, step)) return true;
      Fail(index, stepIndex, stop_ ? "the server stopped" : "timed out or the peer closed");
      return false;
    case Step::Kind::kPause:
      std::this_thread::sleep_for(std::chrono::milliseconds(step.milliseconds));
      return true;
    case Step::Kind::kShutdownWrite:
      net::ShutdownWrite(socket);
      return true;
    case Step::Kind::kClose:  // handled by Play
      return true;
    case Step::Kind::kReset:
      net::Reset(socket);
      connections_[index]->socket = net::kNoSocket;
      return true;
    case Step::Kind::kOffer:
      return Offer(index, stepIndex, step);
  }
  return false;
}

bool ScriptedServer::Offer(std::size_t index, std::size_t stepIndex, const Step& step) {
  const net::Socket socket = connections_[index]->socket;
  for (std::size_t round = 0; round < step.count; ++round) {
    // Each stall of the peer may last up to the step timeout.
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options_.stepTimeoutMs);
    for (std::size_t sent = 0; sent < step.bytes.size();) {
      if (stop_ || RemainingMs(deadline) == 0) {
        Fail(index, stepIndex, stop_ ? "the server stopped" : "the peer neither read nor left");
        return false;
      }
      const int n = net::SendSome(socket, step.bytes.data() + sent, step.bytes.size() - sent,
                                  std::min(kSliceMs, RemainingMs(deadline)));
      if (n == net::kFailed) return false;  // the peer left
      if (n <= 0) continue;
      sent += static_cast<std::size_t>(n);
      deadline = Clock::now() + std::chrono::milliseconds(options_.stepTimeoutMs);
    }
  }
  return true;
}

bool ScriptedServer::ReceiveUntil(std::size_t index, const Step& step) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(options_.stepTimeoutMs);
  Connection& connection = *connections_[index];
  for (;;) {
    {
      std::lock_guard guard(mutex_);
      std::string& pending = connection.received;
      if (step.kind == Step::Kind::kExpectUntil) {
        const std::size_t at = pending.find(step.bytes, connection.consumed);
        if (at != std::string::npos) {
          connection.consumed = at + step.bytes.size();
          return true;
        }
      } else if (step.kind == Step::Kind::kExpectBytes &&
                 pending.size() - connection.consumed >= step.count) {
        connection.consumed += step.count;
        return true;
      }
    }
    if (stop_ || RemainingMs(deadline) == 0) return false;
    const int result = ReceiveSome(index, std::min(kSliceMs, RemainingMs(deadline)));
    if (result == net::kPeerClosed || result == net::kFailed) {
      if (step.kind != Step::Kind::kExpectClose) return false;
      std::lock_guard guard(mutex_);
      connection.consumed = connection.received.size();
      return true;
    }
  }
}

int ScriptedServer::ReceiveSome(std::size_t index, int timeoutMs) {
  Connection& connection = *connections_[index];
  char chunk[kReceiveChunk];
  const int result = net::Receive(connection.socket, chunk, sizeof chunk, timeoutMs);
  if (result > 0) {
    std::lock_guard guard(mutex_);
    connection.received.append(chunk, static_cast<std::size_t>(result));
  }
  return result;
}

void ScriptedServer::Drain(std::size_t index) {
  Connection& connection = *connections_[index];
  for (;;) {
    const int result = ReceiveSome(index, kSliceMs);
    if (result == net::kPeerClosed || result == net::kFailed) break;
    if (result == net::kTimedOut && stop_) break;
  }
  net::Close(connection.socket);
  connection.socket = net::kNoSocket;
}

void ScriptedServer::Fail(std::size_t index, std::size_t stepIndex, const std::string& what) {
  std::lock_guard guard(mutex_);
  failures_.push_back("connection " + std::to_string(index) + ", step " +
                      std::to_string(stepIndex) + " (" + Describe(scripts_[index][stepIndex]) +
                      "): " + what);
}

void ScriptedServer::Finish() {
  std::lock_guard guard(mutex_);
  ++finished_;
  done_.notify_all();
}

std::string ScriptedServer::Received(std::size_t connection) const {
  std::lock_guard guard(mutex_);
  return connection < connections_.size() ? connections_[connection]->received : std::string();
}

std::size_t ScriptedServer::Accepted() const {
  std::lock_guard guard(mutex_);
  return connections_.size();
}

bool ScriptedServer::WaitDone(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return finished_ >= scripts_.size(); });
}

std::string ScriptedServer::Failures() const {
  std::lock_guard guard(mutex_);
  std::string text;
  for (const std::string& line : failures_) text += line + "\n";
  return text;
}

FullBacklogListener::FullBacklogListener(bool ipv6) {
  // A backlog of 0 still queues one connection (or a few, depending on the system); keep
  // connecting until a connect no longer completes: from then on the queue is full.
  listener_ = net::Listen(ipv6, 0, port_);
  if (listener_ == net::kNoSocket) return;
  for (int i = 0; i < kMaxFillers && !full_; ++i) {
    const net::Socket filler = net::StartConnect(ipv6, port_);
    if (filler == net::kNoSocket) break;
    fillers_.push_back(filler);
    full_ = !net::ConnectFinished(filler, kHangProbeMs);
  }
}

FullBacklogListener::~FullBacklogListener() {
  for (const net::Socket filler : fillers_) net::Close(filler);
  net::Close(listener_);
}

RefusingPort::RefusingPort(bool ipv6) {
  socket_ = net::BindOnly(ipv6, port_);
}

RefusingPort::~RefusingPort() {
  net::Close(socket_);
}

}  // namespace brixa::test
