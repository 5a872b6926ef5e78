// MD5's four rounds over 64-byte blocks.

#include "runtime/hash/hash_md5.h"

#include <array>

#include "runtime/text/header_value.h"

namespace brixa {

namespace {

// RFC 1321, 3.4: T[i] = floor(2^32 * |sin(i + 1)|).
constexpr std::array<std::uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (~x & z);
}
constexpr std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & z) | (y & ~z);
}
constexpr std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x ^ y ^ z;
}
constexpr std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return y ^ (x | ~z);
}

// One operation: a := b + ((a + f(b, c, d) + word + T[i]) <<< s).
template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                 std::uint32_t word, int i, unsigned s) {
  a = b + RotateLeft32(a + Fn(b, c, d) + word + kSine[static_cast<std::size_t>(i)], s);
}

// Each round visits the sixteen words in its own order: word (start + stride * i) mod 16.
template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                  const std::uint32_t* x, int round, int start, int stride,
                  const std::array<unsigned, 4>& shifts) {
  for (int i = 0; i < 16; i += 4) {
    const int base = round * 16 + i;
    Step<Fn>(a, b, c, d, x[(start + stride * i) & 15], base, shifts[0]);
    Step<Fn>(d, a, b, c, x[(start + stride * (i + 1)) & 15], base + 1, shifts[1]);
    Step<Fn>(c, d, a, b, x[(start + stride * (i + 2)) & 15], base + 2, shifts[2]);
    Step<Fn>(b, c, d, a, x[(start + stride * (i + 3)) & 15], base + 3, shifts[3]);
  }
}

void CompressBlock(std::array<std::uint32_t, 4>& state, const std::uint8_t* block) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian32(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  Round<F>(a, b, c, d, x, 0, 0, 1, {7, 12, 17, 22});
  Round<G>(a, b, c, d, x, 1, 1, 5, {5, 9, 14, 20});
  Round<H>(a, b, c, d, x, 2, 5, 3, {4, 11, 16, 23});
  Round<I>(a, b, c, d, x, 3, 0, 7, {6, 10, 15, 21});
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void TIdHashMessageDigest5::ProcessBlocks(const std::uint8_t* blocks, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) CompressBlock(state_, blocks + i * kBlockSize);
}

}  // namespace brixa
