// Throughput of the message digests: MD5, SHA-256 and SHA-512/256 (Digest authentication; SHA-256
// also installer verification), over message sizes from a header value to an installer-sized stream
// chunk.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "runtime/codec/mime_coder.h"
#include "runtime/hash/hash_md4.h"
#include "runtime/hash/hash_md5.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/hash/hash_sha512.h"

namespace {

std::vector<std::uint8_t> Message(std::int64_t size) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return bytes;
}

template <class Hash>
void BM_Hash(benchmark::State& state) {
  const std::vector<std::uint8_t> message = Message(state.range(0));
  Hash hash;
  for (auto _ : state) {
    benchmark::DoNotOptimize(hash.HashBytes(message.data(), message.size()));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Encode(benchmark::State& state) {
  const std::vector<std::uint8_t> message = Message(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(brixa::TIdEncoderMIME::EncodeBytes(message));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Hash, brixa::TIdHashMessageDigest5)->Arg(64)->Arg(1 << 10)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Hash, brixa::TIdHashSHA256)->Arg(64)->Arg(1 << 10)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Hash, brixa::TIdHashSHA512_256)->Arg(64)->Arg(1 << 10)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Hash, brixa::TIdHashMessageDigest4)->Arg(1 << 20);
BENCHMARK(BM_Base64Encode)->Arg(1 << 20);
