#include "http/hash_base.h"

#include <algorithm>
#include <cstring>

#include "platform/stream.h"
#include "runtime/encoding.h"

namespace brixa {

namespace {

// Bytes read from a stream at a time by HashStream.
constexpr std::size_t kStreamChunk = 64 * 1024;
// Bytes of the length field that ends the padding.
constexpr std::size_t kLengthFieldSize = 8;

}  // namespace

TIdHash::TDigest TIdHash::HashBytes(const void* data, std::size_t size) {
  Reset();
  Update(data, size);
  return Final();
}

TIdHash::TDigest TIdHash::HashBytes(const std::vector<std::uint8_t>& bytes) {
  return HashBytes(bytes.data(), bytes.size());
}

TIdHash::TDigest TIdHash::HashString(std::string_view text) {
  return HashBytes(TextToBytes(text, ceASCII));
}

std::string TIdHash::HashStringAsHex(std::string_view text) {
  return DigestToHex(HashString(text), true);
}

TIdHash::TDigest TIdHash::HashStream(TStream& stream) {
  Reset();
  stream.SetPosition(0);
  std::vector<std::uint8_t> chunk(kStreamChunk);
  for (;;) {
    const std::int64_t got = stream.Read(chunk.data(), static_cast<std::int64_t>(chunk.size()));
    if (got <= 0) break;
    Update(chunk.data(), static_cast<std::size_t>(got));
  }
  return Final();
}

std::string DigestToHex(const std::vector<std::uint8_t>& bytes, bool upperCase) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 0x0F]);
  }
  return out;
}

void TIdHashBlock64::Reset() {
  InitState();
  pendingSize_ = 0;
  totalBytes_ = 0;
}

void TIdHashBlock64::Update(const void* data, std::size_t size) {
  if (size == 0) return;
  auto in = static_cast<const std::uint8_t*>(data);
  totalBytes_ += size;
  if (pendingSize_ > 0) {
    const std::size_t take = std::min(size, kBlockSize - pendingSize_);
    std::memcpy(pending_.data() + pendingSize_, in, take);
    pendingSize_ += take;
    in += take;
    size -= take;
    if (pendingSize_ < kBlockSize) return;
    ProcessBlocks(pending_.data(), 1);
    pendingSize_ = 0;
  }
  const std::size_t whole = size / kBlockSize;
  if (whole > 0) ProcessBlocks(in, whole);
  in += whole * kBlockSize;
  size -= whole * kBlockSize;
  if (size > 0) std::memcpy(pending_.data(), in, size);
  pendingSize_ = size;
}

TIdHash::TDigest TIdHashBlock64::Final() {
  const std::uint64_t bits = totalBytes_ * 8;
  pending_[pendingSize_++] = 0x80;
  if (pendingSize_ > kBlockSize - kLengthFieldSize) {
    std::fill(pending_.begin() + static_cast<std::ptrdiff_t>(pendingSize_), pending_.end(), 0);
    ProcessBlocks(pending_.data(), 1);
    pendingSize_ = 0;
  }
  std::fill(pending_.begin() + static_cast<std::ptrdiff_t>(pendingSize_),
            pending_.end() - kLengthFieldSize, 0);
  for (std::size_t i = 0; i < kLengthFieldSize; ++i) {
    const std::size_t shift = bigEndianLength_ ? (kLengthFieldSize - 1 - i) * 8 : i * 8;
    pending_[kBlockSize - kLengthFieldSize + i] = static_cast<std::uint8_t>(bits >> shift);
  }
  ProcessBlocks(pending_.data(), 1);
  TDigest digest(DigestSize());
  StoreDigest(digest.data());
  Reset();
  return digest;
}

}  // namespace brixa
