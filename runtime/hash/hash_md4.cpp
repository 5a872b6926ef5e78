// MD4's three rounds over 64-byte blocks.

#include "runtime/hash/hash_md4.h"

#include "runtime/text/header_value.h"

namespace brixa {

namespace {

// RFC 1320, 3.3: the initial chaining words.
constexpr std::array<std::uint32_t, 4> kInitialState = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu,
                                                        0x10325476u};
// Round constants of rounds 2 and 3 (square roots of 2 and 3).
constexpr std::uint32_t kRound2 = 0x5A827999u;
constexpr std::uint32_t kRound3 = 0x6ED9EBA1u;

constexpr std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (~x & z);
}
constexpr std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (x & z) | (y & z);
}
constexpr std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x ^ y ^ z;
}

// One operation of the rounds: a := (a + f(b, c, d) + word + constant) <<< s.
template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                 std::uint32_t word, std::uint32_t constant, unsigned s) {
  a = RotateLeft32(a + Fn(b, c, d) + word + constant, s);
}

void CompressBlock(std::array<std::uint32_t, 4>& state, const std::uint8_t* block) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian32(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  for (int i = 0; i < 16; i += 4) {  // round 1: words in order
    Step<F>(a, b, c, d, x[i], 0, 3);
    Step<F>(d, a, b, c, x[i + 1], 0, 7);
    Step<F>(c, d, a, b, x[i + 2], 0, 11);
    Step<F>(b, c, d, a, x[i + 3], 0, 19);
  }
  for (int i = 0; i < 4; ++i) {  // round 2: words by column
    Step<G>(a, b, c, d, x[i], kRound2, 3);
    Step<G>(d, a, b, c, x[i + 4], kRound2, 5);
    Step<G>(c, d, a, b, x[i + 8], kRound2, 9);
    Step<G>(b, c, d, a, x[i + 12], kRound2, 13);
  }
  constexpr int kRound3Order[4] = {0, 2, 1, 3};  // round 3: bit-reversed order
  for (const int i : kRound3Order) {
    Step<H>(a, b, c, d, x[i], kRound3, 3);
    Step<H>(d, a, b, c, x[i + 8], kRound3, 9);
    Step<H>(c, d, a, b, x[i + 4], kRound3, 11);
    Step<H>(b, c, d, a, x[i + 12], kRound3, 15);
  }

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

TIdHashMessageDigest4::TIdHashMessageDigest4() : TIdHashBlock64(false) {
  Reset();
}

void TIdHashMessageDigest4::InitState() {
  state_ = kInitialState;
}

void TIdHashMessageDigest4::ProcessBlocks(const std::uint8_t* blocks, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) CompressBlock(state_, blocks + i * kBlockSize);
}

void TIdHashMessageDigest4::StoreDigest(std::uint8_t* out) const {
  for (std::size_t i = 0; i < state_.size(); ++i) StoreLittleEndian32(out + 4 * i, state_[i]);
}

}  // namespace brixa
