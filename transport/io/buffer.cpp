// The buffer's storage management (consumed front reclaimed lazily, growth by half) and its
// byte, text and search operations, every count checked against what is held.

#include "transport/io/buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/core/exception.h"
#include "runtime/stack_usage.h"

namespace brixa {

namespace {

constexpr std::int64_t kMaxBufferSize = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void RaiseNotEnoughData(std::int32_t count, std::int32_t available) {
  throw EIdNotEnoughDataInBuffer(std::string(RSNotEnoughDataInBuffer) + " (" +
                                 std::to_string(count) + "/" + std::to_string(available) + ")");
}

void RaiseIfTooMuch(std::int32_t size, std::int64_t more) {
  if (size + more > kMaxBufferSize) throw EIdTooMuchDataInBuffer(RSTooMuchDataInBuffer);
}

void CopyOut(TIdByteArray& bytes, const std::uint8_t* from, std::int32_t count, bool append) {
  if (append) {
    bytes.insert(bytes.end(), from, from + count);
    return;
  }
  if (bytes.size() < static_cast<std::size_t>(count)) bytes.resize(static_cast<std::size_t>(count));
  std::memcpy(bytes.data(), from, static_cast<std::size_t>(count));
}

}  // namespace

TIdBuffer::TIdBuffer() {
  AcquireStack();
}

TIdBuffer::TIdBuffer(TIdBufferBytesRemoved onBytesRemoved) : TIdBuffer() {
  OnBytesRemoved = std::move(onBytesRemoved);
}

TIdBuffer::~TIdBuffer() {
  ReleaseStack();
}

void TIdBuffer::SetDefaultTextEncoding(TIdCharEncoding encoding) {
  EnsureEncoding(encoding);
  encoding_ = encoding;
}

void TIdBuffer::AppendBytes(const TIdByteArray& bytes, std::int32_t length, std::int32_t offset) {
  const std::int64_t count = BytesAvailable(bytes, length, offset);
  if (count <= 0) return;
  AppendBytes(
      std::span<const std::uint8_t>(bytes.data() + offset, static_cast<std::size_t>(count)));
}

void TIdBuffer::AppendBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  RaiseIfTooMuch(size_, static_cast<std::int64_t>(bytes.size()));
  const auto count = static_cast<std::int32_t>(bytes.size());
  EnsureRoom(count);
  std::memcpy(storage_.get() + head_ + size_, bytes.data(), bytes.size());
  size_ += count;
  copied_ += bytes.size();
}

std::int32_t TIdBuffer::CheckedCount(std::int32_t count, std::int32_t index) const {
  if (index < 0 || index > size_) throw EIdException(RSBufferInvalidStartPos);
  const std::int32_t available = size_ - index;
  if (count < 0) return available;
  if (count > available) RaiseNotEnoughData(count, available);
  return count;
}

void TIdBuffer::ExtractBytes(TIdByteArray& bytes, std::int32_t count, bool append) {
  const std::int32_t n = CheckedCount(count, 0);
  if (n < 1) return;
  CopyOut(bytes, storage_.get() + head_, n, append);
  copied_ += static_cast<std::uint64_t>(n);
  DropFront(n);
}

void TIdBuffer::PeekBytes(TIdByteArray& bytes, std::int32_t count, std::int32_t index,
                          bool append) const {
  const std::int32_t n = CheckedCount(count, index);
  if (n < 1) return;
  CopyOut(bytes, storage_.get() + head_ + index, n, append);
}

std::string TIdBuffer::ExtractText(std::int32_t count, TIdCharEncoding encoding) {
  const TIdCharEncoding resolved = Resolve(encoding);
  const std::int32_t n = CheckedCount(count, 0);
  if (n < 1) return {};
  std::string text = PeekText(n, 0, resolved);
  copied_ += static_cast<std::uint64_t>(n);
  DropFront(n);
  return text;
}

std::string TIdBuffer::PeekText(std::int32_t count, std::int32_t index,
                                TIdCharEncoding encoding) const {
  const TIdCharEncoding resolved = Resolve(encoding);
  EnsureEncoding(resolved);
  const std::int32_t n = CheckedCount(count, index);
  if (n < 1) return {};
  const std::uint8_t* from = storage_.get() + head_ + index;
  // ASCII is itself in every encoding: copy straight into the result.
  const bool ascii = std::all_of(from, from + n, [](std::uint8_t b) { return b < 0x80; });
  if (ascii) return std::string(reinterpret_cast<const char*>(from), static_cast<std::size_t>(n));
  return BytesToText(TIdByteArray(from, from + n), resolved);
}

void TIdBuffer::MoveToStream(TStream& stream, std::int32_t count) {
  const std::int32_t n = CheckedCount(count, 0);
  if (n < 1) return;
  stream.WriteBuffer(storage_.get() + head_, n);
  copied_ += static_cast<std::uint64_t>(n);
  DropFront(n);
}

void TIdBuffer::PeekToStream(TStream& stream, std::int32_t count, std::int32_t index) const {
  const std::int32_t n = CheckedCount(count, index);
  if (n < 1) return;
  stream.WriteBuffer(storage_.get() + head_ + index, n);
}

std::int32_t TIdBuffer::FindBytes(std::span<const std::uint8_t> pattern, std::int32_t start) const {
  if (size_ == 0) return -1;
  if (pattern.empty()) throw EIdException(RSBufferMissingTerminator);
  if (start < 0 || start >= size_) throw EIdException(RSBufferInvalidStartPos);
  const std::uint8_t* base = storage_.get() + head_;
  const std::uint8_t* end = base + size_;
  const std::size_t length = pattern.size();
  // memchr finds candidates for the first byte; only those are compared in full.
  for (const std::uint8_t* at = base + start;;) {
    const auto left = static_cast<std::size_t>(end - at);
    if (left < length) return -1;
    at = static_cast<const std::uint8_t*>(std::memchr(at, pattern[0], left - length + 1));
    if (at == nullptr) return -1;
    if (std::memcmp(at, pattern.data(), length) == 0) return static_cast<std::int32_t>(at - base);
    ++at;
  }
}

std::int32_t TIdBuffer::FindText(std::string_view text, std::int32_t start,
                                 TIdCharEncoding encoding) const {
  return FindBytes(TextToBytes(text, Resolve(encoding)), start);
}

void TIdBuffer::DropFront(std::int32_t count) {
  if (count <= 0) return;
  // More than is live is a caller's slip; report only what really left.
  const std::int32_t removed = std::min(count, size_);
  if (count < size_) {
    head_ += count;
    size_ -= count;
    // Moving the rest only once the consumed front outweighs it charges each moved byte to a
    // consumed one, so taking small pieces off a large buffer stays linear.
    if (head_ > GrowthReserve && head_ >= size_) Compact(true);
  } else {
    Clear();
  }
  if (OnBytesRemoved) OnBytesRemoved(this, removed);
}

void TIdBuffer::Compact(bool canShrink) {
  if (head_ > 0 && size_ > 0) {
    std::memmove(storage_.get(), storage_.get() + head_, static_cast<std::size_t>(size_));
    copied_ += static_cast<std::uint64_t>(size_);
  }
  head_ = 0;
  const bool oversized = capacity_ > size_ + GrowthReserve && capacity_ > RetainedCapacity;
  if (canShrink && oversized) Reallocate(size_ + GrowthReserve);
}

void TIdBuffer::Clear() noexcept {
  head_ = 0;
  size_ = 0;
  if (capacity_ > RetainedCapacity) {
    storage_.reset();
    capacity_ = 0;
  }
}

std::span<std::uint8_t> TIdBuffer::PrepareTail(std::int32_t count) {
  Require(count > 0, "PrepareTail needs a positive count");
  RaiseIfTooMuch(size_, count);
  EnsureRoom(count);
  return {storage_.get() + head_ + size_, static_cast<std::size_t>(capacity_ - head_ - size_)};
}

void TIdBuffer::CommitTail(std::int32_t count) {
  Require(count >= 0 && count <= capacity_ - head_ - size_, "CommitTail beyond the prepared room");
  size_ += count;
}

void TIdBuffer::EnsureRoom(std::int32_t count) {
  if (size_ == 0) head_ = 0;
  if (capacity_ - head_ - size_ >= count) return;
  // Moving the live bytes to the front is worth it when it frees enough and the consumed front
  // is at least as large as what moves (each moved byte pays for a consumed one).
  if (capacity_ - size_ >= count && head_ >= size_) {
    Compact(false);
    return;
  }
  // Otherwise grow by at least half the current storage, so that bytes accumulating in small
  // appends are copied a bounded number of times in all; a single large request gets just
  // what it asks for plus the reserve.
  const std::int64_t needed = static_cast<std::int64_t>(size_) + count + GrowthReserve;
  const std::int64_t geometric = static_cast<std::int64_t>(capacity_) + capacity_ / 2;
  Reallocate(static_cast<std::int32_t>(std::min(std::max(needed, geometric), kMaxBufferSize)));
}

void TIdBuffer::Reallocate(std::int32_t capacity) {
  auto storage = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(capacity));
  if (size_ > 0) {
    std::memcpy(storage.get(), storage_.get() + head_, static_cast<std::size_t>(size_));
    copied_ += static_cast<std::uint64_t>(size_);
  }
  storage_ = std::move(storage);
  capacity_ = capacity;
  head_ = 0;
}

}  // namespace brixa
