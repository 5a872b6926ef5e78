// Whole-input hashing helpers and the block buffering and padding of TIdBlockHash.

#include "runtime/hash/hash_base.h"

#include <algorithm>
#include <cstring>

#include "platform/core/stream.h"
#include "runtime/text/encoding.h"

namespace brixa {

namespace {

// Bytes read from a stream at a time by HashStream.
constexpr std::size_t kStreamChunk = 64 * 1024;

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

void TIdBlockHash::Reset() {
  InitState();
  pendingSize_ = 0;
  totalBytes_ = 0;
}

void TIdBlockHash::Update(const void* data, std::size_t size) {
  if (size == 0) return;
  const std::size_t blockSize = frame_.blockSize;
  auto in = static_cast<const std::uint8_t*>(data);
  totalBytes_ += size;
  if (pendingSize_ > 0) {
    const std::size_t take = std::min(size, blockSize - pendingSize_);
    std::memcpy(pending_.data() + pendingSize_, in, take);
    pendingSize_ += take;
    in += take;
    size -= take;
    if (pendingSize_ < blockSize) return;
    ProcessBlocks(pending_.data(), 1);
    pendingSize_ = 0;
  }
  const std::size_t whole = size / blockSize;
  if (whole > 0) ProcessBlocks(in, whole);
  in += whole * blockSize;
  size -= whole * blockSize;
  if (size > 0) std::memcpy(pending_.data(), in, size);
  pendingSize_ = size;
}

// A 128-bit field holds the byte count times eight: its upper 64 bits are the carry of the
// byte count only, since a message of 2^64 bytes is out of reach.
void TIdBlockHash::StoreLengthField(std::uint8_t* field) const noexcept {
  const std::uint64_t lowBits = totalBytes_ << 3;
  const std::uint64_t highBits = totalBytes_ >> 61;
  const std::size_t size = frame_.lengthFieldSize;
  for (std::size_t k = 0; k < size; ++k) {  // k: the byte's significance, lowest first
    const std::uint64_t word = k < 8 ? lowBits : highBits;
    const auto byte = static_cast<std::uint8_t>(word >> (8 * (k % 8)));
    field[frame_.bigEndianLength ? size - 1 - k : k] = byte;
  }
}

TIdHash::TDigest TIdBlockHash::Final() {
  const std::size_t blockSize = frame_.blockSize;
  const std::size_t lengthField = blockSize - frame_.lengthFieldSize;
  const auto begin = pending_.begin();
  pending_[pendingSize_++] = 0x80;
  if (pendingSize_ > lengthField) {
    std::fill(begin + static_cast<std::ptrdiff_t>(pendingSize_),
              begin + static_cast<std::ptrdiff_t>(blockSize), 0);
    ProcessBlocks(pending_.data(), 1);
    pendingSize_ = 0;
  }
  std::fill(begin + static_cast<std::ptrdiff_t>(pendingSize_),
            begin + static_cast<std::ptrdiff_t>(lengthField), 0);
  StoreLengthField(pending_.data() + lengthField);
  ProcessBlocks(pending_.data(), 1);
  TDigest digest(DigestSize());
  StoreDigest(digest.data());
  Reset();
  return digest;
}

}  // namespace brixa
