// TIdBuffer, the FIFO every received byte passes through: appending and extracting blocks,
// receiving in place and moving to a stream, and taking lines off the front.
//
//   scripts/build.sh bench && build/bench/bench/bench_buffer
//
// Counters: bytes_per_second; copies_per_byte where the buffer's own copy count tells whether a
// byte is copied once, twice or more on its way through.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "http/body/discard_stream.h"
#include "transport/io/buffer.h"

namespace brixa {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

void CopyCounter(benchmark::State& state, const TIdBuffer& buffer, double bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["copies_per_byte"] = static_cast<double>(buffer.CopiedBytes()) / bytes;
}

// One block in, the same block out into a reused array: the steady state of a reader that
// takes exact byte counts.
void BM_BufferAppendExtract(benchmark::State& state) {
  const auto block = Pattern(static_cast<std::size_t>(state.range(0)));
  const auto size = static_cast<std::int32_t>(block.size());
  TIdBuffer buffer;
  TIdByteArray out(block.size());
  for (auto _ : state) {
    buffer.AppendBytes(std::span<const std::uint8_t>(block));
    buffer.ExtractBytes(out, size, false);
    benchmark::DoNotOptimize(out.data());
  }
  CopyCounter(state, buffer, static_cast<double>(state.iterations()) * size);
}
BENCHMARK(BM_BufferAppendExtract)->Arg(64)->Arg(1460)->Arg(16 << 10)->Arg(256 << 10);

// Segments of one TCP packet's size piling up to `range` bytes before all of it is extracted:
// the growth path.
void BM_BufferAccumulate(benchmark::State& state) {
  const auto segment = Pattern(1460);
  const auto total = static_cast<std::int32_t>(state.range(0));
  TIdBuffer buffer;
  TIdByteArray out;
  for (auto _ : state) {
    while (buffer.Size() < total) buffer.AppendBytes(std::span<const std::uint8_t>(segment));
    out.clear();
    buffer.ExtractBytes(out);
    benchmark::DoNotOptimize(out.data());
  }
  CopyCounter(state, buffer, static_cast<double>(state.iterations()) * total);
}
BENCHMARK(BM_BufferAccumulate)->Arg(64 << 10)->Arg(1 << 20);

// The body path: room prepared behind the live bytes (a socket read would fill it), committed,
// and moved to a stream.
void BM_BufferReceiveMove(benchmark::State& state) {
  const auto size = static_cast<std::int32_t>(state.range(0));
  TIdBuffer buffer;
  TIdDiscardStream sink;
  for (auto _ : state) {
    auto room = buffer.PrepareTail(size);
    benchmark::DoNotOptimize(room.data());
    buffer.CommitTail(size);
    buffer.MoveToStream(sink);
  }
  CopyCounter(state, buffer, static_cast<double>(state.iterations()) * size);
}
BENCHMARK(BM_BufferReceiveMove)->Arg(16 << 10)->Arg(64 << 10)->Arg(256 << 10);

// A header block taken off line by line with FindBytes and ExtractText, as a line reader does.
void BM_BufferLines(benchmark::State& state) {
  std::string block;
  for (int i = 0; i < 20; ++i) block += "X-Header-" + std::to_string(i) + ": a typical value\r\n";
  block += "\r\n";
  const std::vector<std::uint8_t> bytes(block.begin(), block.end());
  static constexpr std::uint8_t kCrLf[] = {'\r', '\n'};
  TIdBuffer buffer;
  std::int64_t lines = 0;
  for (auto _ : state) {
    buffer.AppendBytes(std::span<const std::uint8_t>(bytes));
    for (;;) {
      const std::int32_t at = buffer.FindBytes(kCrLf);
      std::string line = buffer.ExtractText(at);
      buffer.DropFront(2);
      ++lines;
      if (line.empty()) break;
      benchmark::DoNotOptimize(line.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
  state.counters["lines_per_second"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BufferLines);

}  // namespace
}  // namespace brixa
