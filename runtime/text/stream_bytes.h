#pragma once
// Byte arrays and text to and from streams, the exclusive-read file stream, and TIdBaseStream,
// a stream carried by four functions over byte arrays.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/stream.h"
#include "runtime/text/bytes.h"
#include "runtime/text/encoding.h"

namespace brixa {

// Reads up to `count` bytes (-1: everything left) at the stream's position into `bytes`, which
// is resized to exactly the number read. Returns that number.
std::int64_t ReadBytesFromStream(TStream& stream, TIdByteArray& bytes, std::int64_t count);

// Writes bytes[index ...], at most `count` of them (-1: all available). Raises EWriteError when
// the stream takes fewer.
void WriteBytesToStream(TStream& stream, const TIdByteArray& bytes, std::int64_t count = -1,
                        std::int64_t index = 0);

// Converts with TextToBytes and writes the result; nothing for empty text.
void WriteTextToStream(TStream& stream, std::string_view text, TIdCharEncoding encoding,
                       std::int64_t length = -1, std::int64_t start = 1);

// Reads up to `count` bytes (-1: everything left) and returns BytesToText of what was read.
[[nodiscard]] std::string ReadTextFromStream(TStream& stream, std::int64_t count,
                                             TIdCharEncoding encoding);

// Size minus position (0 if negative); when `wanted` >= 0 and smaller, `wanted`.
[[nodiscard]] std::int64_t StreamBytesLeft(TStream& stream, std::int64_t wanted = -1);

// A file stream opened for reading, with writing denied to other openers while it is open
// (where the platform enforces sharing modes). Raises EFOpenError when the file cannot be opened.
class TIdReadFileExclusiveStream : public TFileStream {
 public:
  explicit TIdReadFileExclusiveStream(const std::string& fileName);
};

// A stream whose operations are carried by four functions over byte arrays, for streams whose
// data lives elsewhere (a connection, a buffer).
//
// Read asks IdRead for an array sized to the request, then copies what it delivered out to the
// caller; Write copies the caller's memory into an array first and hands it to IdWrite; a write
// of fewer than one byte returns 0 without calling IdWrite.
class TIdBaseStream : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) final;
  std::int64_t Write(const void* buffer, std::int64_t count) final;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) final;
  void SetSize(std::int64_t size) final;

 protected:
  // Fills up to `count` bytes of `buffer` (which has `count` bytes, zeroed) from `offset` and
  // returns how many it filled (0 at the end, never more than `count`).
  virtual std::int64_t IdRead(TIdByteArray& buffer, std::int64_t offset, std::int64_t count) = 0;
  // Takes bytes[offset ...], `count` of them; returns how many it took.
  virtual std::int64_t IdWrite(const TIdByteArray& buffer, std::int64_t offset,
                               std::int64_t count) = 0;
  virtual std::int64_t IdSeek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual void IdSetSize(std::int64_t size) = 0;
};

}  // namespace brixa
