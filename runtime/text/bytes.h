#pragma once
// Byte arrays (TIdByteArray) and the bounds-checked copy, slice, hex and little-endian number
// helpers every layer moves bytes with.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace brixa {

// A growable array of bytes that knows its length. Empty and absent are the same thing; a new or
// grown part is zero-filled (std::vector's resize does that).
using TIdByteArray = std::vector<std::uint8_t>;

// Upper-case hexadecimal digits, indexed by nibble value.
inline constexpr char IdHexDigits[] = "0123456789ABCDEF";

// Counts and indexes are signed 64-bit. A count of -1 means "to the end of the array".
// "Available" is the array's length minus the index, never below 0.
//
// Contract violations (a negative index, a read or copy past an array's end) are programming
// errors of the caller and raise EAssertionFailed through Require (platform/core/exception.h); bad
// input from the network never reaches these checks because callers clamp with BytesAvailable.

// `count` when 0 <= count < available, else available. Raises for a negative index.
[[nodiscard]] std::int64_t BytesAvailable(const TIdByteArray& bytes, std::int64_t count = -1,
                                          std::int64_t index = 0);

// Copies `count` bytes from source[sourceIndex] to destination[destinationIndex]. The ranges may
// overlap (source and destination may be the same array). Requires sourceIndex >= 0,
// sourceIndex + count <= source.size() and destinationIndex + count <= destination.size();
// the destination is never grown.
void CopyBytes(const TIdByteArray& source, std::int64_t sourceIndex, TIdByteArray& destination,
               std::int64_t destinationIndex, std::int64_t count);

// Appends source[sourceIndex ...] (at most `count` bytes, -1: all) to `destination`; nothing
// when no bytes are available there.
void AppendByteRange(TIdByteArray& destination, const TIdByteArray& source,
                     std::int64_t sourceIndex = 0, std::int64_t count = -1);

// A new array of BytesAvailable(source, count, index) bytes copied from source[index]. Note the
// argument order: count before index.
[[nodiscard]] TIdByteArray SliceBytes(const TIdByteArray& source, std::int64_t count = -1,
                                      std::int64_t index = 0);

// Sets the first `count` bytes to `value`; `count` is clamped to the array's length.
void FillByteArray(TIdByteArray& bytes, std::int64_t count, std::uint8_t value);

// A new array holding a copy of `length` bytes at `memory` (nullptr is allowed for length 0).
[[nodiscard]] TIdByteArray BytesFromRaw(const void* memory, std::int64_t length);

// Copies the first `length` bytes out to `memory`. Requires bytes.size() >= length.
void BytesToRaw(const TIdByteArray& bytes, void* memory, std::int64_t length);

// Two upper-case hexadecimal digits per byte, high nibble first, for the available bytes;
// empty text when there are none.
[[nodiscard]] std::string BytesToHex(const TIdByteArray& bytes, std::int64_t count = -1,
                                     std::int64_t index = 0);

// Numbers and bytes, always least significant byte first (the byte order of both supported
// platforms). Network byte order is the caller's business.
[[nodiscard]] TIdByteArray BytesFromUInt8(std::uint8_t value);
[[nodiscard]] TIdByteArray BytesFromUInt16(std::uint16_t value);
[[nodiscard]] TIdByteArray BytesFromUInt32(std::uint32_t value);
[[nodiscard]] TIdByteArray BytesFromInt64(std::int64_t value);

// Write `value` into an existing array at `index`. Require index >= 0 and index + width <= size.
void PutUInt16(std::uint16_t value, TIdByteArray& bytes, std::int64_t index);
void PutUInt32(std::uint32_t value, TIdByteArray& bytes, std::int64_t index);
// Writes into the first four bytes; requires bytes.size() >= 4.
void PutUInt32First(std::uint32_t value, TIdByteArray& bytes);

// Read at `index`; require index >= 0 and index + width <= size.
[[nodiscard]] std::uint16_t GetUInt16(const TIdByteArray& bytes, std::int64_t index);
[[nodiscard]] std::uint32_t GetUInt32(const TIdByteArray& bytes, std::int64_t index);
[[nodiscard]] std::int64_t GetInt64(const TIdByteArray& bytes, std::int64_t index);

// Copies the 16 bytes of an IPv6 address held as eight 16-bit words into bytes[index ...], each
// word least significant byte first (a plain memory copy of the words, as the address is held).
// Requires index >= 0 and index + 16 <= size.
void PutIPv6Words(const std::array<std::uint16_t, 8>& words, TIdByteArray& bytes,
                  std::int64_t index);

}  // namespace brixa
