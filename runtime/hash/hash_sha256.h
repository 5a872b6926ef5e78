#pragma once
// The SHA-256 hash, used by the Digest scheme and to verify downloaded installers.

#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/hash/hash_base.h"

namespace brixa {

// The SHA-256 secure hash (FIPS 180-4): 32 bytes, words stored big-endian. Used to verify
// downloaded installers.
class TIdHashSHA256 : public TIdHashBlock64 {
 public:
  static constexpr std::size_t kDigestSize = 32;

  TIdHashSHA256();
  [[nodiscard]] std::size_t DigestSize() const noexcept override { return kDigestSize; }

 protected:
  void InitState() override;
  void ProcessBlocks(const std::uint8_t* blocks, std::size_t count) override;
  void StoreDigest(std::uint8_t* out) const override;

 private:
  std::array<std::uint32_t, 8> state_{};
};

}  // namespace brixa
