// The response reader's hot units, fed from memory: a header block read line by line and
// turned into fields, chunk-size lines, a chunked body, and lines long enough to arrive in many
// reads.
//
//   scripts/build.sh bench && build/bench/bench/bench_http_read
//
// Counters: per_line (seconds per header line, so a flat figure across the block sizes means
// linear cost), bytes_per_second.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "http/body/discard_stream.h"
#include "http/body/response_body_reader.h"
#include "http/message/response_header_info.h"
#include "memory_io_handler.h"

namespace brixa {
namespace {

using bench::MemoryIOHandler;

// A response head of `lines` header lines in the shape servers send.
std::string Head(int lines) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  const char* fixed[] = {"Server: nginx/1.22.1",
                         "Date: Mon, 07 Dec 2026 12:00:00 GMT",
                         "Content-Type: application/octet-stream",
                         "Content-Length: 1024",
                         "Last-Modified: Mon, 07 Dec 2026 11:00:00 GMT",
                         "Connection: keep-alive",
                         "ETag: \"6571b2c0-400\"",
                         "Accept-Ranges: bytes"};
  for (int i = 0; i < lines; ++i) {
    head += i < 8 ? fixed[i] : "X-Pad-" + std::to_string(i) + ": padding value of the header";
    head += "\r\n";
  }
  return head + "\r\n";
}

// The client's own limit on header lines.
constexpr std::int32_t kLineLimit = 255;

// What the client does with a head: status line, header lines into the list up to the blank
// line, then the fields read from the list.
void BM_HeaderBlock(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string head = Head(lines);
  MemoryIOHandler io;
  TIdResponseHeaderInfo info;
  for (auto _ : state) {
    io.Load(head);
    const std::string status = ReadProtocolLine(io);
    TIdHeaderList& list = info.HeaderLines();
    list.Clear();
    ReadHeaderBlock(io, list, kLineLimit, static_cast<std::int32_t>(status.size()) + 2);
    info.ReadFields();
    benchmark::DoNotOptimize(info.ContentLength());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * head.size()));
  state.counters["per_line"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * lines,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HeaderBlock)->Arg(10)->Arg(25)->Arg(50)->Arg(100)->Arg(255);

void BM_ParseChunkSize(benchmark::State& state) {
  static const std::string kLines[] = {"0", "400", "4000", "7fffffff", "1000;name=value", "a0 "};
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (const std::string& line : kLines) sum += ParseChunkSize(line);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * std::size(kLines)));
}
BENCHMARK(BM_ParseChunkSize);

// 16 MiB in chunks of `range` bytes, as a server that streams an unknown length sends it.
void BM_ReadChunkedBody(benchmark::State& state) {
  const std::size_t chunk = static_cast<std::size_t>(state.range(0));
  constexpr std::size_t kBody = 16 << 20;
  char sizeLine[32];
  std::snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", chunk);
  const std::string piece = sizeLine + std::string(chunk, 'x') + "\r\n";
  std::string wire;
  for (std::size_t sent = 0; sent < kBody; sent += chunk) wire += piece;
  wire += "0\r\n\r\n";
  MemoryIOHandler io;
  io.SetRecvBufferSize(64 << 10);
  TIdDiscardStream sink;
  TIdBodyFrame chunked;
  chunked.framing = TIdBodyFraming::kChunked;
  for (auto _ : state) {
    io.Load(wire);
    benchmark::DoNotOptimize(ReadFramedBody(io, sink, chunked, 0, kLineLimit));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBody));
}
BENCHMARK(BM_ReadChunkedBody)->Arg(1 << 10)->Arg(8 << 10)->Arg(64 << 10);

// One line of `range` bytes delivered 512 bytes per read: a reader that rescans what it has
// already searched grows quadratically here, one that resumes stays flat per byte.
void BM_ReadLineInPieces(benchmark::State& state) {
  const auto length = static_cast<std::int32_t>(state.range(0));
  const std::string line = std::string(static_cast<std::size_t>(length), 'a') + "\r\n";
  MemoryIOHandler io;
  io.SetRecvBufferSize(512);
  for (auto _ : state) {
    io.Load(line);
    benchmark::DoNotOptimize(io.ReadLine("\n", TimeoutUseDefault, ceNone, length + 2));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_ReadLineInPieces)->Arg(1 << 10)->Arg(8 << 10)->Arg(64 << 10);

}  // namespace
}  // namespace brixa
