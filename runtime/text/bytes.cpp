// The byte-array helpers; every index and count is checked against the array before memory moves.

#include "runtime/text/bytes.h"

#include <cstring>

#include "platform/core/exception.h"

namespace brixa {

namespace {

std::int64_t Length(const TIdByteArray& bytes) {
  return static_cast<std::int64_t>(bytes.size());
}

// The caller promises `width` bytes at `index`.
void RequireRange(const TIdByteArray& bytes, std::int64_t index, std::int64_t width,
                  const char* what) {
  Require(index >= 0 && width >= 0 && index <= Length(bytes) - width, what);
}

template <class T>
void PutRaw(T value, TIdByteArray& bytes, std::int64_t index) {
  RequireRange(bytes, index, sizeof(T), "array too short for the value written");
  std::memcpy(bytes.data() + index, &value, sizeof(T));
}

template <class T>
T GetRaw(const TIdByteArray& bytes, std::int64_t index) {
  RequireRange(bytes, index, sizeof(T), "array too short for the value read");
  T value;
  std::memcpy(&value, bytes.data() + index, sizeof(T));
  return value;
}

template <class T>
TIdByteArray BytesOf(T value) {
  TIdByteArray bytes(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}

}  // namespace

std::int64_t BytesAvailable(const TIdByteArray& bytes, std::int64_t count, std::int64_t index) {
  Require(index >= 0, "byte index below 0");
  const std::int64_t available = index < Length(bytes) ? Length(bytes) - index : 0;
  return count >= 0 && count < available ? count : available;
}

void CopyBytes(const TIdByteArray& source, std::int64_t sourceIndex, TIdByteArray& destination,
               std::int64_t destinationIndex, std::int64_t count) {
  if (count <= 0) return;
  RequireRange(source, sourceIndex, count, "copy beyond the source array");
  RequireRange(destination, destinationIndex, count, "copy beyond the destination array");
  std::memmove(destination.data() + destinationIndex, source.data() + sourceIndex,
               static_cast<std::size_t>(count));
}

void AppendByteRange(TIdByteArray& destination, const TIdByteArray& source,
                     std::int64_t sourceIndex, std::int64_t count) {
  const std::int64_t n = BytesAvailable(source, count, sourceIndex);
  if (n <= 0) return;
  // Appending an array to itself: insert would read from storage it reallocates.
  if (&destination == &source) {
    const TIdByteArray part(source.begin() + sourceIndex, source.begin() + sourceIndex + n);
    destination.insert(destination.end(), part.begin(), part.end());
    return;
  }
  destination.insert(destination.end(), source.begin() + sourceIndex,
                     source.begin() + sourceIndex + n);
}

TIdByteArray SliceBytes(const TIdByteArray& source, std::int64_t count, std::int64_t index) {
  const std::int64_t n = BytesAvailable(source, count, index);
  if (n <= 0) return {};
  return TIdByteArray(source.begin() + index, source.begin() + index + n);
}

void FillByteArray(TIdByteArray& bytes, std::int64_t count, std::uint8_t value) {
  const std::int64_t n = BytesAvailable(bytes, count, 0);
  if (n <= 0) return;
  std::memset(bytes.data(), value, static_cast<std::size_t>(n));
}

TIdByteArray BytesFromRaw(const void* memory, std::int64_t length) {
  if (length <= 0) return {};
  Require(memory != nullptr, "no memory to copy from");
  const auto* begin = static_cast<const std::uint8_t*>(memory);
  return TIdByteArray(begin, begin + length);
}

void BytesToRaw(const TIdByteArray& bytes, void* memory, std::int64_t length) {
  if (length <= 0) return;
  RequireRange(bytes, 0, length, "array shorter than the length copied out");
  std::memcpy(memory, bytes.data(), static_cast<std::size_t>(length));
}

std::string BytesToHex(const TIdByteArray& bytes, std::int64_t count, std::int64_t index) {
  const std::int64_t n = BytesAvailable(bytes, count, index);
  std::string text;
  if (n <= 0) return text;
  text.reserve(static_cast<std::size_t>(n) * 2);
  for (std::int64_t i = index; i < index + n; ++i) {
    text.push_back(IdHexDigits[bytes[static_cast<std::size_t>(i)] >> 4]);
    text.push_back(IdHexDigits[bytes[static_cast<std::size_t>(i)] & 0x0F]);
  }
  return text;
}

TIdByteArray BytesFromUInt8(std::uint8_t value) {
  return TIdByteArray{value};
}
TIdByteArray BytesFromUInt16(std::uint16_t value) {
  return BytesOf(value);
}
TIdByteArray BytesFromUInt32(std::uint32_t value) {
  return BytesOf(value);
}
TIdByteArray BytesFromInt64(std::int64_t value) {
  return BytesOf(value);
}

void PutUInt16(std::uint16_t value, TIdByteArray& bytes, std::int64_t index) {
  PutRaw(value, bytes, index);
}
void PutUInt32(std::uint32_t value, TIdByteArray& bytes, std::int64_t index) {
  PutRaw(value, bytes, index);
}
void PutUInt32First(std::uint32_t value, TIdByteArray& bytes) {
  PutRaw(value, bytes, 0);
}

std::uint16_t GetUInt16(const TIdByteArray& bytes, std::int64_t index) {
  return GetRaw<std::uint16_t>(bytes, index);
}
std::uint32_t GetUInt32(const TIdByteArray& bytes, std::int64_t index) {
  return GetRaw<std::uint32_t>(bytes, index);
}
std::int64_t GetInt64(const TIdByteArray& bytes, std::int64_t index) {
  return GetRaw<std::int64_t>(bytes, index);
}

void PutIPv6Words(const std::array<std::uint16_t, 8>& words, TIdByteArray& bytes,
                  std::int64_t index) {
  RequireRange(bytes, index, 16, "array too short for an IPv6 address");
  std::memcpy(bytes.data() + index, words.data(), 16);
}

}  // namespace brixa
