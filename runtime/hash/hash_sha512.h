#pragma once
// The SHA-512 family: SHA-512 and SHA-512/256.

#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/hash/hash_base.h"

namespace brixa {

// The SHA-512 family (FIPS 180-4): 64-bit words, 128-byte blocks, a 128-bit length field.
// SHA-512 gives all 64 bytes of the state; SHA-512/256 starts from its own initial value and
// gives the first 32 (the "SHA-512-256" of HTTP Digest authentication).
class TIdHashSHA512Family : public TIdBlockHash {
 public:
  static constexpr std::size_t kBlockSize = 128;

 protected:
  using TState = std::array<std::uint64_t, 8>;
  explicit TIdHashSHA512Family(const TState& initialState) noexcept;

  void InitState() override;
  void ProcessBlocks(const std::uint8_t* blocks, std::size_t count) override;
  // The first DigestSize() bytes of the state, words big-endian.
  void StoreDigest(std::uint8_t* out) const override;

 private:
  const TState& initialState_;
  TState state_{};
};

class TIdHashSHA512 : public TIdHashSHA512Family {
 public:
  static constexpr std::size_t kDigestSize = 64;
  TIdHashSHA512();
  [[nodiscard]] std::size_t DigestSize() const noexcept override { return kDigestSize; }
};

class TIdHashSHA512_256 : public TIdHashSHA512Family {
 public:
  static constexpr std::size_t kDigestSize = 32;
  TIdHashSHA512_256();
  [[nodiscard]] std::size_t DigestSize() const noexcept override { return kDigestSize; }
};

}  // namespace brixa
