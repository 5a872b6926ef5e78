// The two hot paths of the I/O handler: taking header lines off the input buffer, and moving a
// body from a loopback socket into a stream.
//
//   scripts/build.sh bench && build/bench/bench/bench_io_handler
//
// Counters: bytes_per_second (throughput), copies_per_byte (bytes the input buffer copied in
// memory per body byte delivered; the system's own copy out of the socket is not counted).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "http/body/discard_stream.h"
#include "memory_io_handler.h"
#include "platform/core/stream.h"
#include "transport/io/io_handler.h"
#include "transport/io/tcp_client.h"

namespace brixa {
namespace {

using bench::MemoryIOHandler;

std::string ResponseHead() {
  std::string head = "HTTP/1.1 200 OK\r\n";
  const char* names[] = {"Server",     "Date", "Content-Type",  "Content-Length", "Last-Modified",
                         "Connection", "ETag", "Accept-Ranges", "Cache-Control",  "Vary"};
  for (int round = 0; round < 2; ++round) {
    for (const char* name : names) {
      head += std::string(name) + ": some typical value of a header line, " +
              std::to_string(round) + "\r\n";
    }
  }
  return head + "\r\n";
}

void BM_ReadLineHeaderBlock(benchmark::State& state) {
  MemoryIOHandler io;
  const std::string head = ResponseHead();
  std::int64_t lines = 0;
  for (auto _ : state) {
    io.Load(head);
    for (;;) {
      const std::string line = io.ReadLine();
      ++lines;
      if (line.empty()) break;
      benchmark::DoNotOptimize(line.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * head.size()));
  state.counters["lines_per_second"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadLineHeaderBlock);

// A loopback peer that answers each 8-byte request size with that many bytes.
class BodyServer {
 public:
  BodyServer() : pattern_(1 << 20) {
    for (std::size_t i = 0; i < pattern_.size(); ++i) pattern_[i] = static_cast<char>(i % 251);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~BodyServer() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
  }
  [[nodiscard]] std::uint16_t Port() const { return port_; }

 private:
  void Serve() {
    const int peer = accept(listener_, nullptr, nullptr);
    if (peer < 0) return;
    std::uint64_t wanted = 0;
    while (recv(peer, &wanted, sizeof wanted, MSG_WAITALL) == sizeof wanted) {
      wanted = be64toh(wanted);
      while (wanted > 0) {
        const std::size_t n = std::min<std::uint64_t>(wanted, pattern_.size());
        const ssize_t sent = send(peer, pattern_.data(), n, MSG_NOSIGNAL);
        if (sent <= 0) break;
        wanted -= static_cast<std::uint64_t>(sent);
      }
    }
    close(peer);
  }

  std::vector<char> pattern_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

void BM_ReadIntoStreamLoopback(benchmark::State& state) {
  const std::int64_t size = state.range(0);
  BodyServer server;
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.ConnectToHost();
  TIdIOHandler& io = *client.IOHandler();
  TMemoryStream stream;
  const std::uint64_t copiedBefore = io.InBuffer().CopiedBytes();
  for (auto _ : state) {
    io.WriteInt64(size);
    stream.SetPosition(0);
    io.ReadIntoStream(stream, size);
  }
  const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(size);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["copies_per_byte"] =
      static_cast<double>(io.InBuffer().CopiedBytes() - copiedBefore) / bytes;
  client.CloseConnection();
}
BENCHMARK(BM_ReadIntoStreamLoopback)->Arg(1 << 20)->Arg(16 << 20)->UseRealTime();

// 16 MiB bodies into a stream that drops them, read RecvBufferSize() = `range` bytes at a time:
// what the read size alone costs the client (the CPU column is the reading thread's only; the
// peer sends from a thread of its own).
void BM_ReadSizeLoopback(benchmark::State& state) {
  constexpr std::int64_t kBody = 16 << 20;
  BodyServer server;
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.ConnectToHost();
  TIdIOHandler& io = *client.IOHandler();
  io.SetRecvBufferSize(static_cast<std::int32_t>(state.range(0)));
  TIdDiscardStream sink;
  for (auto _ : state) {
    io.WriteInt64(kBody);
    io.ReadIntoStream(sink, kBody);
  }
  state.SetBytesProcessed(state.iterations() * kBody);
  client.CloseConnection();
}
BENCHMARK(BM_ReadSizeLoopback)->Arg(16 << 10)->Arg(32 << 10)->Arg(128 << 10)->Arg(256 << 10);

}  // namespace
}  // namespace brixa
