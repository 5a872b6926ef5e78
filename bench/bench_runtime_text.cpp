// Conversions that run once per header line or per received line, and the date parser that runs
// once per dated header.
#include <benchmark/benchmark.h>

#include <string>

#include "runtime/text/encoding.h"
#include "runtime/text/header_value.h"
#include "runtime/text/text.h"
#include "runtime/time/internet_date.h"

namespace {

using namespace brixa;

// A typical response header line, repeated to the requested size.
std::string HeaderText(std::size_t size) {
  const std::string line = "Content-Type: text/html; charset=\"utf-8\"\r\n";
  std::string text;
  while (text.size() < size) text += line;
  text.resize(size);
  return text;
}

void BM_BytesToText(benchmark::State& state, TIdCharEncoding encoding) {
  const std::string text = HeaderText(static_cast<std::size_t>(state.range(0)));
  const TIdByteArray bytes(text.begin(), text.end());
  for (auto _ : state) benchmark::DoNotOptimize(BytesToText(bytes, encoding));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(BM_BytesToText, utf8, ceUTF8)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(BM_BytesToText, eight_bit, ce8Bit)->Arg(64)->Arg(64 << 10);

void BM_TextToBytes(benchmark::State& state, TIdCharEncoding encoding) {
  const std::string text = HeaderText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(TextToBytes(text, encoding));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(BM_TextToBytes, utf8, ceUTF8)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(BM_TextToBytes, eight_bit, ce8Bit)->Arg(64)->Arg(64 << 10);

void BM_TakeUpToHeaderLine(benchmark::State& state) {
  for (auto _ : state) {
    std::string line = "Content-Type: text/html; charset=\"utf-8\"";
    benchmark::DoNotOptimize(TakeUpTo(line, ":"));
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_TakeUpToHeaderLine);

void BM_ParseInternetDate(benchmark::State& state) {
  for (auto _ : state) {
    std::string date = "Sun, 06 Nov 1994 08:49:37 GMT";
    benchmark::DoNotOptimize(ParseInternetDate(date));
  }
}
BENCHMARK(BM_ParseInternetDate);

void BM_FormatHttpDate(benchmark::State& state) {
  const TDateTime t = EncodeDateTime(1994, 11, 6, 8, 49, 37);
  for (auto _ : state) benchmark::DoNotOptimize(FormatHttpDate(t));
}
BENCHMARK(BM_FormatHttpDate);

void BM_WrapHeaderLine(benchmark::State& state) {
  std::string cookie = "Cookie: ";
  for (int i = 0; i < 40; ++i) cookie += "name" + std::to_string(i) + "=value; ";
  for (auto _ : state) benchmark::DoNotOptimize(WrapHeaderLine(cookie, "\r\n ", "\t ,", 78));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(cookie.size()));
}
BENCHMARK(BM_WrapHeaderLine);

}  // namespace
