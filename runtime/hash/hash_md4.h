#pragma once
// The MD4 message digest, used for the NTLM password hash.

#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/hash/hash_base.h"

namespace brixa {

// The MD4 message digest (RFC 1320): 16 bytes, words stored little-endian. Used by the NTLM
// scheme for the password hash; the base of the MD5 digest, which shares its frame and state.
class TIdHashMessageDigest4 : public TIdHashBlock64 {
 public:
  static constexpr std::size_t kDigestSize = 16;

  TIdHashMessageDigest4();
  [[nodiscard]] std::size_t DigestSize() const noexcept override { return kDigestSize; }

 protected:
  void InitState() override;
  void ProcessBlocks(const std::uint8_t* blocks, std::size_t count) override;
  void StoreDigest(std::uint8_t* out) const override;

  // The chaining words A, B, C, D.
  std::array<std::uint32_t, 4> state_{};
};

}  // namespace brixa
