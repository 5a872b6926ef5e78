#pragma once
// TIdBuffer, the input FIFO of every connection: bytes appended at the back, lines and counts
// taken off the front without copying what follows.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/core/stream.h"
#include "runtime/network_exception.h"
#include "runtime/text/bytes.h"
#include "runtime/text/encoding.h"

namespace brixa {

BRIXA_DECLARE_ID_EXCEPTION(EIdTooMuchDataInBuffer, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException);

inline constexpr const char* RSTooMuchDataInBuffer = "Too much data in buffer.";
inline constexpr const char* RSNotEnoughDataInBuffer = "Not enough data in buffer.";
inline constexpr const char* RSBufferMissingTerminator = "Buffer terminator must be specified.";
inline constexpr const char* RSBufferInvalidStartPos = "Buffer start position is invalid.";

class TIdBuffer;
using TIdBufferBytesRemoved = std::function<void(TIdBuffer* ASender, std::int32_t ABytes)>;

// A FIFO of bytes: received bytes are appended at the back and consumed from the front.
//
// The live bytes sit in one block of storage from `head` on. Consuming advances the head; the
// bytes are moved back to the start only once the head has passed GrowthReserve and the
// consumed front is at least as large as the live bytes, so taking a line off the front costs
// no copy of what follows it. Growth gives at least GrowthReserve spare bytes and at least half
// the previous storage more, so each appended byte is copied a bounded number of times.
//
// Indexes and counts are relative to the first live byte. The buffer holds at most the largest
// signed 32-bit count of bytes. Creating a buffer takes a use of the process-wide socket stack
// and destroying it releases that use. Not thread-safe: one connection, one thread.
class TIdBuffer {
 public:
  static constexpr std::int32_t GrowthReserve = 2048;
  // Storage up to this size is kept when the buffer empties or compacts, so a connection that
  // keeps receiving does not allocate for every read; larger storage is given back.
  static constexpr std::int32_t RetainedCapacity = 64 * 1024;

  TIdBuffer();
  explicit TIdBuffer(TIdBufferBytesRemoved onBytesRemoved);
  ~TIdBuffer();
  TIdBuffer(const TIdBuffer&) = delete;
  TIdBuffer& operator=(const TIdBuffer&) = delete;

  // Fired with the count whenever bytes are consumed from the front (extraction, MoveToStream,
  // DropFront); not by Clear, which discards.
  TIdBufferBytesRemoved OnBytesRemoved;

  [[nodiscard]] std::int32_t Size() const noexcept { return size_; }
  [[nodiscard]] std::int32_t Capacity() const noexcept { return capacity_; }
  [[nodiscard]] TIdCharEncoding DefaultTextEncoding() const noexcept { return encoding_; }
  // Raises EIdNoEncodingSpecified for ceNone.
  void SetDefaultTextEncoding(TIdCharEncoding encoding);

  // Appends bytes[offset ...], at most `length` of them (-1: all available). Raises
  // EIdTooMuchDataInBuffer when the buffer would outgrow the signed 32-bit range.
  void AppendBytes(const TIdByteArray& bytes, std::int32_t length = -1, std::int32_t offset = 0);
  void AppendBytes(std::span<const std::uint8_t> bytes);

  // Takes `count` bytes (-1: all) off the front into `bytes`: added at its end with `append`,
  // otherwise written over its start (a longer array keeps its tail). Raises
  // EIdNotEnoughDataInBuffer "Not enough data in buffer. (count/size)" when fewer are live.
  void ExtractBytes(TIdByteArray& bytes, std::int32_t count = -1, bool append = true);
  // The same from `index` on, without removing anything.
  void PeekBytes(TIdByteArray& bytes, std::int32_t count, std::int32_t index,
                 bool append = true) const;
  // Takes `count` bytes (-1: all) off the front as text; ceNone means DefaultTextEncoding.
  [[nodiscard]] std::string ExtractText(std::int32_t count = -1, TIdCharEncoding encoding = ceNone);
  [[nodiscard]] std::string PeekText(std::int32_t count, std::int32_t index,
                                     TIdCharEncoding encoding = ceNone) const;
  // Writes `count` bytes (-1: all) from the front to the stream, then drops them. When the
  // stream raises, nothing is dropped.
  void MoveToStream(TStream& stream, std::int32_t count = -1);
  void PeekToStream(TStream& stream, std::int32_t count, std::int32_t index) const;

  // Index of the first occurrence of `pattern` at or after `start`, or -1. An empty buffer gives
  // -1; an empty pattern raises "Buffer terminator must be specified."; a start outside
  // 0..Size()-1 raises "Buffer start position is invalid." (both EIdException).
  [[nodiscard]] std::int32_t FindBytes(std::span<const std::uint8_t> pattern,
                                       std::int32_t start = 0) const;
  [[nodiscard]] std::int32_t FindBytes(const TIdByteArray& pattern, std::int32_t start = 0) const {
    return FindBytes(std::span<const std::uint8_t>(pattern), start);
  }
  // The text form: `text` encoded (ceNone: DefaultTextEncoding), then FindBytes.
  [[nodiscard]] std::int32_t FindText(std::string_view text, std::int32_t start = 0,
                                      TIdCharEncoding encoding = ceNone) const;

  // Removes `count` bytes from the front (all when count >= Size()) and reports the number
  // actually removed through OnBytesRemoved. Nothing happens for count <= 0.
  void DropFront(std::int32_t count);
  // Moves the live bytes to the start of the storage; with `canShrink`, storage more than
  // GrowthReserve beyond the live bytes (and above RetainedCapacity) is cut back to
  // Size() + GrowthReserve.
  void Compact(bool canShrink);
  // Discards everything without reporting it.
  void Clear() noexcept;

  // Receiving in place: PrepareTail makes room for at least `count` bytes behind the live ones
  // and returns that room; CommitTail(n) then makes its first n bytes live. The room stays valid
  // until the next call that changes the buffer.
  [[nodiscard]] std::span<std::uint8_t> PrepareTail(std::int32_t count);
  void CommitTail(std::int32_t count);

  // The live bytes; valid until the next call that changes the buffer.
  [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept {
    return {storage_.get() + head_, static_cast<std::size_t>(size_)};
  }

  // Bytes this buffer has copied in memory so far (appends, extractions, moves to streams,
  // compactions), for measuring how often a received byte is copied.
  [[nodiscard]] std::uint64_t CopiedBytes() const noexcept { return copied_; }

 private:
  // Grows the storage so that at least `count` bytes fit behind the live ones.
  void EnsureRoom(std::int32_t count);
  void Reallocate(std::int32_t capacity);
  // Resolves count -1 / checks the range for an extraction or peek of `count` from `index`.
  [[nodiscard]] std::int32_t CheckedCount(std::int32_t count, std::int32_t index) const;
  [[nodiscard]] TIdCharEncoding Resolve(TIdCharEncoding encoding) const noexcept {
    return encoding == ceNone ? encoding_ : encoding;
  }

  std::unique_ptr<std::uint8_t[]> storage_;
  std::int32_t capacity_ = 0;
  std::int32_t head_ = 0;
  std::int32_t size_ = 0;
  TIdCharEncoding encoding_ = ceASCII;
  std::uint64_t copied_ = 0;
};

}  // namespace brixa
