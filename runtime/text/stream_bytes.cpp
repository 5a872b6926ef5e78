// The stream helpers and TIdBaseStream's mapping of raw-memory reads and writes onto byte arrays.

#include "runtime/text/stream_bytes.h"

#include <cstring>

#include "platform/core/exception.h"

namespace brixa {

std::int64_t ReadBytesFromStream(TStream& stream, TIdByteArray& bytes, std::int64_t count) {
  const std::int64_t wanted = StreamBytesLeft(stream, count);
  bytes.resize(static_cast<std::size_t>(wanted));
  if (wanted == 0) return 0;
  const std::int64_t got = stream.Read(bytes.data(), wanted);
  bytes.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return got > 0 ? got : 0;
}

void WriteBytesToStream(TStream& stream, const TIdByteArray& bytes, std::int64_t count,
                        std::int64_t index) {
  const std::int64_t n = BytesAvailable(bytes, count, index);
  if (n <= 0) return;
  stream.WriteBuffer(bytes.data() + index, n);
}

void WriteTextToStream(TStream& stream, std::string_view text, TIdCharEncoding encoding,
                       std::int64_t length, std::int64_t start) {
  if (text.empty()) return;
  WriteBytesToStream(stream, TextToBytes(text, length, start, encoding));
}

std::string ReadTextFromStream(TStream& stream, std::int64_t count, TIdCharEncoding encoding) {
  EnsureEncoding(encoding);
  TIdByteArray bytes;
  ReadBytesFromStream(stream, bytes, count);
  return BytesToText(bytes, encoding);
}

std::int64_t StreamBytesLeft(TStream& stream, std::int64_t wanted) {
  std::int64_t left = stream.Size() - stream.Position();
  if (left < 0) left = 0;
  if (wanted >= 0 && wanted < left) return wanted;
  return left;
}

TIdReadFileExclusiveStream::TIdReadFileExclusiveStream(const std::string& fileName)
    : TFileStream(fileName, fmOpenRead | fmShareDenyWrite) {}

std::int64_t TIdBaseStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  TIdByteArray bytes(static_cast<std::size_t>(count));
  std::int64_t got = IdRead(bytes, 0, count);
  // Never trust a reader to stay inside the request.
  if (got < 0) got = 0;
  if (got > count) got = count;
  if (got > static_cast<std::int64_t>(bytes.size())) got = static_cast<std::int64_t>(bytes.size());
  if (got > 0) std::memcpy(buffer, bytes.data(), static_cast<std::size_t>(got));
  return got;
}

std::int64_t TIdBaseStream::Write(const void* buffer, std::int64_t count) {
  if (count < 1) return 0;
  const TIdByteArray bytes = BytesFromRaw(buffer, count);
  return IdWrite(bytes, 0, count);
}

std::int64_t TIdBaseStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return IdSeek(offset, origin);
}

void TIdBaseStream::SetSize(std::int64_t size) {
  IdSetSize(size);
}

}  // namespace brixa
