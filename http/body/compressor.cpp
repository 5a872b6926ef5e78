// Unwrapping a gzip member's header and trailer for the decompressor; deflate bodies go to it as
// they are.

#include "http/body/compressor.h"

#include <array>
#include <cstdint>

namespace brixa {
namespace {

// RFC 1952, 2.3.1: ID1 ID2 CM | FLG | MTIME(4) XFL OS.
constexpr std::int64_t kBytesBeforeFlags = 3;
constexpr std::int64_t kBytesAfterFlags = 6;
constexpr std::uint8_t kFlagHeaderCrc = 2;
constexpr std::uint8_t kFlagExtra = 4;
constexpr std::uint8_t kFlagName = 8;
constexpr std::uint8_t kFlagComment = 16;
constexpr std::int64_t kHeaderCrcBytes = 2;
constexpr std::int64_t kTrailerBytes = 8;  // CRC32 and ISIZE
constexpr std::array<std::uint8_t, 2> kZlibHeader{0x78, 0x9C};

void Skip(TStream& input, std::int64_t count) {
  const std::int64_t target = input.Position() + count;
  if (target > input.Size()) throw EIdCompressedBodyTooShort(RSCompressedBodyTooShort);
  input.SetPosition(target);
}

std::uint8_t ReadByte(TStream& input) {
  std::uint8_t byte = 0;
  if (input.Read(&byte, 1) != 1) throw EIdCompressedBodyTooShort(RSCompressedBodyTooShort);
  return byte;
}

void SkipZeroTerminated(TStream& input) {
  while (ReadByte(input) != 0) {
  }
}

}  // namespace

void TIdZLibCompressorBase::InflateGZip(TStream& input, TStream& output) {
  Skip(input, kBytesBeforeFlags);
  const std::uint8_t flags = ReadByte(input);
  Skip(input, kBytesAfterFlags);
  if ((flags & kFlagExtra) != 0) {
    const std::uint8_t low = ReadByte(input);
    const std::uint8_t high = ReadByte(input);
    Skip(input, low | (high << 8));
  }
  if ((flags & kFlagName) != 0) SkipZeroTerminated(input);
  if ((flags & kFlagComment) != 0) SkipZeroTerminated(input);
  if ((flags & kFlagHeaderCrc) != 0) Skip(input, kHeaderCrcBytes);
  // The header is at least ten bytes long, so stepping back two stays inside it.
  const std::int64_t dataStart = input.Position() - static_cast<std::int64_t>(kZlibHeader.size());
  if (input.Size() - input.Position() < kTrailerBytes) {
    throw EIdCompressedBodyTooShort(RSCompressedBodyTooShort);
  }
  input.SetPosition(dataStart);
  input.WriteBuffer(kZlibHeader.data(), static_cast<std::int64_t>(kZlibHeader.size()));
  input.SetPosition(dataStart);
  input.SetSize(input.Size() - kTrailerBytes);
  input.SetPosition(dataStart);
  DecompressStream(input, output);
}

void TIdZLibCompressorBase::InflateDeflate(TStream& input, TStream& output) {
  DecompressStream(input, output);
}

}  // namespace brixa
