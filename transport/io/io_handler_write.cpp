// The writing half of TIdIOHandler: text, numbers, lists and streams turned into WriteBytes.

#include <algorithm>
#include <limits>

#include "platform/core/stream.h"
#include "runtime/text/format_invariant.h"
#include "runtime/text/stream_bytes.h"
#include "transport/io/io_handler.h"
#include "transport/socket/stack.h"

namespace brixa {

namespace {

constexpr std::string_view kEOL = "\r\n";

// Whether the text's own bytes are its encoded form: always in UTF-8, in the single-byte
// encodings while it is ASCII (protocol text nearly always is). Such text needs no conversion.
[[nodiscard]] bool EncodesAsItself(std::string_view text, TIdCharEncoding encoding) {
  if (encoding == ceUTF8) return true;
  if (encoding == ceNone) return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

[[nodiscard]] std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

void TIdIOHandler::WriteText(std::string_view AText, TIdCharEncoding AEncoding) {
  if (AText.empty()) return;
  const TIdCharEncoding encoding = Resolve(AEncoding);
  if (EncodesAsItself(AText, encoding)) {
    WriteBytes(BytesOf(AText));
    return;
  }
  WriteBytes(TextToBytes(AText, encoding));
}

void TIdIOHandler::WriteLine(std::string_view AText, TIdCharEncoding AEncoding) {
  // Into a write buffer the two parts go as they are; unbuffered, they must leave in one send.
  if (WriteBufferingActive() && EncodesAsItself(AText, Resolve(AEncoding))) {
    WriteBytes(BytesOf(AText));
    WriteBytes(BytesOf(kEOL));
    return;
  }
  std::string line;
  line.reserve(AText.size() + kEOL.size());
  line.append(AText).append(kEOL);
  WriteText(line, AEncoding);
}

void TIdIOHandler::WriteLineDotStuffed(std::string_view AText, TIdCharEncoding AEncoding) {
  if (!AText.starts_with('.')) {
    WriteLine(AText, AEncoding);
    return;
  }
  std::string line(".");
  line.append(AText);
  WriteLine(line, AEncoding);
}

void TIdIOHandler::WriteStrings(const std::vector<std::string>& ALines, bool AWriteLinesCount,
                                TIdCharEncoding AEncoding) {
  // Inside a write buffer the caller opened, the lines simply join it: opening our own would
  // throw away what the caller collected.
  const bool ownBuffer = !WriteBufferingActive();
  if (ownBuffer) OpenWriteBuffer();
  try {
    if (AWriteLinesCount) WriteInt32(static_cast<std::int32_t>(ALines.size()));
    for (const std::string& line : ALines) WriteLine(line, AEncoding);
  } catch (...) {
    if (ownBuffer) CancelWriteBuffer();
    throw;
  }
  if (ownBuffer) CloseWriteBuffer();
}

void TIdIOHandler::WriteChar(char32_t AChar, TIdCharEncoding AEncoding) {
  WriteBytes(CharToBytes(AChar, Resolve(AEncoding)));
}

void TIdIOHandler::WriteInt32(std::int32_t AValue, bool AConvertToNetworkOrder) {
  auto value = static_cast<std::uint32_t>(AValue);
  if (AConvertToNetworkOrder) value = TIdStack::HostToNetwork(value);
  WriteBytes(BytesFromUInt32(value));
}

void TIdIOHandler::WriteInt64(std::int64_t AValue, bool AConvertToNetworkOrder) {
  auto value = static_cast<std::uint64_t>(AValue);
  if (AConvertToNetworkOrder) value = TIdStack::HostToNetwork(value);
  WriteBytes(BytesFromInt64(static_cast<std::int64_t>(value)));
}

void TIdIOHandler::WriteSizePrefix(std::int64_t ASize) {
  if (largeStream_) {
    WriteInt64(ASize);
  } else {
    WriteInt32(static_cast<std::int32_t>(ASize));
  }
}

void TIdIOHandler::WriteFromStream(TStream& AStream, std::int64_t ASize, bool AWriteByteCount) {
  if (ASize == 0) {
    AStream.SetPosition(0);
    ASize = AStream.Size();
  } else if (ASize < 0) {
    ASize = std::max<std::int64_t>(0, AStream.Size() - AStream.Position());
  }
  if (ASize > std::numeric_limits<std::int32_t>::max() && !largeStream_) {
    throw EIdIOHandlerRequiresLargeStream("");
  }
  if (AWriteByteCount) WriteSizePrefix(ASize);
  StartWork(wmWrite, ASize);
  try {
    TIdByteArray block;
    for (std::int64_t left = ASize; left > 0;) {
      const std::int64_t wanted = std::min<std::int64_t>(sendBufferSize_, left);
      const std::int64_t got = ReadBytesFromStream(AStream, block, wanted);
      if (got <= 0) throw EIdNoDataToRead(RSNoDataToRead);
      WriteBytes(std::span<const std::uint8_t>(block.data(), static_cast<std::size_t>(got)));
      left -= got;
    }
  } catch (...) {
    FinishWork(wmWrite);
    throw;
  }
  FinishWork(wmWrite);
}

void TIdIOHandler::WriteFile(const std::string& AFileName) {
  if (!FileExists(AFileName)) throw EIdFileNotFound(FormatInvariant(RSFileNotFound, AFileName));
  TFileStream file(AFileName, fmOpenRead | fmShareDenyWrite);
  WriteFromStream(file, 0);
}

}  // namespace brixa
