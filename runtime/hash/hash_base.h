#pragma once
// TIdHash and the block-hash frame the message digests share: buffering, padding and the length
// field.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text/bytes.h"

namespace brixa {

class TStream;

// Base of the message digests. Bytes are fed with Update (any number of calls, any sizes) and
// Final returns the digest and starts the object afresh; the whole-input helpers do all three.
// An object is used by one thread at a time.
class TIdHash {
 public:
  using TDigest = TIdByteArray;

  TIdHash() = default;
  TIdHash(const TIdHash&) = delete;
  TIdHash& operator=(const TIdHash&) = delete;
  virtual ~TIdHash() = default;

  [[nodiscard]] virtual std::size_t DigestSize() const noexcept = 0;
  // Forgets everything fed so far.
  virtual void Reset() = 0;
  virtual void Update(const void* data, std::size_t size) = 0;
  // The digest of everything fed since the last Reset / Final; the object is reset afterwards.
  [[nodiscard]] virtual TDigest Final() = 0;

  [[nodiscard]] TDigest HashBytes(const void* data, std::size_t size);
  [[nodiscard]] TDigest HashBytes(const TIdByteArray& bytes);
  // The digest of the text with every non-ASCII character replaced by '?' (one byte each).
  [[nodiscard]] TDigest HashString(std::string_view text);
  // HashString as upper-case hexadecimal, bytes in order.
  [[nodiscard]] std::string HashStringAsHex(std::string_view text);
  // The digest of the whole stream, read from its start; the stream is left at its end.
  [[nodiscard]] TDigest HashStream(TStream& stream);
};

// Upper-case (default) or lower-case hexadecimal of `bytes`, two digits per byte, in order.
[[nodiscard]] std::string DigestToHex(const TIdByteArray& bytes, bool upperCase = true);

// The Merkle-Damgard frame every digest here shares: fixed-size blocks, a 0x80 byte after the
// message, zero fill, and the message length in bits as the last bytes of the last block, in the
// byte order the digest uses for its words.
class TIdBlockHash : public TIdHash {
 public:
  void Reset() final;
  void Update(const void* data, std::size_t size) final;
  [[nodiscard]] TDigest Final() final;

 protected:
  // The largest block of any digest here (the SHA-512 family's).
  static constexpr std::size_t kMaxBlockSize = 128;
  struct TBlockFrame {
    std::size_t blockSize;        // at most kMaxBlockSize
    std::size_t lengthFieldSize;  // 8 or 16 bytes
    bool bigEndianLength;
  };
  explicit TIdBlockHash(TBlockFrame frame) noexcept : frame_(frame) {}

  // Sets the chaining state to the digest's initial value.
  virtual void InitState() = 0;
  // Runs the compression function over `count` whole blocks.
  virtual void ProcessBlocks(const std::uint8_t* blocks, std::size_t count) = 0;
  // Writes the state as the digest, DigestSize() bytes.
  virtual void StoreDigest(std::uint8_t* out) const = 0;

 private:
  // The length field: the message length in bits, as wide as the frame says.
  void StoreLengthField(std::uint8_t* field) const noexcept;

  const TBlockFrame frame_;
  std::array<std::uint8_t, kMaxBlockSize> pending_{};
  std::size_t pendingSize_ = 0;
  std::uint64_t totalBytes_ = 0;
};

// The frame of MD4, MD5 and SHA-256: 64-byte blocks and a 64-bit length.
class TIdHashBlock64 : public TIdBlockHash {
 public:
  static constexpr std::size_t kBlockSize = 64;

 protected:
  explicit TIdHashBlock64(bool bigEndianLength) noexcept
      : TIdBlockHash({kBlockSize, 8, bigEndianLength}) {}
};

// Word loads and stores for the digests' block functions.
[[nodiscard]] inline std::uint32_t LoadLittleEndian32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
[[nodiscard]] inline std::uint32_t LoadBigEndian32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
inline void StoreLittleEndian32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void StoreBigEndian32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace brixa
