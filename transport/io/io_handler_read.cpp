// The reading half of TIdIOHandler: lines, byte counts, streams and numbers taken from InBuffer().

#include <algorithm>
#include <exception>
#include <limits>

#include "runtime/text/text.h"
#include "runtime/time/ticks.h"
#include "transport/io/io_handler.h"
#include "transport/socket/stack.h"

namespace brixa {

namespace {

constexpr std::string_view kLF = "\n";

// Cuts a stream back to its position when it is longer: what the read wrote over ends it.
void CutBackToPosition(TStream& stream) {
  const std::int64_t position = stream.Position();
  if (stream.Size() > position) stream.SetSize(position);
}

}  // namespace

std::string TIdIOHandler::ReadLine(std::string_view ATerminator, std::int32_t ATimeout,
                                   TIdCharEncoding AEncoding, std::int32_t AMaxLineLength) {
  const TIdCharEncoding encoding = Resolve(AEncoding);
  const std::int32_t maxLength = AMaxLineLength < 0 ? maxLineLength_ : AMaxLineLength;
  const std::string_view terminator = ATerminator.empty() ? kLF : ATerminator;
  // LF is the same byte in every encoding; only other terminators need encoding.
  static constexpr std::uint8_t kLFByte[] = {'\n'};
  const TIdByteArray encoded =
      terminator == kLF ? TIdByteArray() : TextToBytes(terminator, encoding);
  const std::span<const std::uint8_t> pattern =
      terminator == kLF ? std::span<const std::uint8_t>(kLFByte) : std::span(encoded);
  const auto patternLength = static_cast<std::int32_t>(pattern.size());
  lineWasSplit_ = false;
  lineTimedOut_ = false;
  const std::uint32_t started = TickCountMs();
  // Bytes before searchStart have been searched already; a terminator that straddles two reads
  // starts at most patternLength - 1 bytes before the end of what was searched.
  std::int32_t searchStart = 0;
  for (;;) {
    std::int32_t found = -1;
    const std::int32_t size = inBuffer_->Size();
    if (size > 0) {
      if (searchStart < size) found = inBuffer_->FindBytes(pattern, searchStart);
      searchStart = std::max(0, size - patternLength + 1);
    }
    if (maxLength > 0 && (found > maxLength || (found < 0 && searchStart > maxLength))) {
      if (maxLineAction_ == maException) {
        throw EIdReadLnMaxLineLengthExceeded(RSReadLnMaxLineLengthExceeded);
      }
      lineWasSplit_ = true;
      return inBuffer_->ExtractText(maxLength, encoding);
    }
    if (found >= 0) {
      std::int32_t length = found;
      if (terminator == kLF && length > 0 && inBuffer_->Bytes()[length - 1] == '\r') --length;
      std::string line = inBuffer_->PeekText(length, 0, encoding);
      inBuffer_->DropFront(found + patternLength);
      return line;
    }
    // A peer that closed ends the line read even with a partial line buffered; it stays there.
    DetectClosure(true, true);
    std::int32_t wait = ATimeout;
    if (ATimeout >= 0) {
      const auto elapsed = static_cast<std::int64_t>(TickDiff(started, TickCountMs()));
      wait = static_cast<std::int32_t>(std::max<std::int64_t>(0, ATimeout - elapsed));
    }
    const std::int32_t count = FillInputBuffer(true, wait, false);
    lineTimedOut_ = count == -1 || (ATimeout >= 0 && TickDiff(started, TickCountMs()) >=
                                                         static_cast<std::uint32_t>(ATimeout));
    if (lineTimedOut_) return {};
  }
}

std::string TIdIOHandler::ReadLineSkipEmpty(std::int32_t AMaxAttempts, TIdCharEncoding AEncoding) {
  for (std::int32_t attempt = 0; attempt < AMaxAttempts; ++attempt) {
    std::string line = Trim(ReadLine(kLF, TimeoutUseDefault, AEncoding));
    if (!line.empty()) return line;
    if (lineTimedOut_) throw EIdReadTimeout(RSReadTimeout);
  }
  throw EIdReadLnWaitMaxAttemptsExceeded(RSReadLnWaitMaxAttemptsExceeded);
}

void TIdIOHandler::FillAtLeast(std::int32_t ACount, std::int32_t AMaxBytes, bool AReadAhead) {
  while (inBuffer_->Size() < ACount) {
    const std::int32_t missing = ACount - inBuffer_->Size();
    const std::int32_t count = FillInputBufferUpTo(
        false, TimeoutUseDefault, true, AReadAhead ? AMaxBytes : std::min(AMaxBytes, missing));
    if (count <= 0 || inBuffer_->Size() < ACount) DetectClosure(true, true);
    // A handler closed over a source that is still there would otherwise wait here for ever.
    if (count <= 0 && !isOpen_) throw EIdNotConnected(RSNotConnected);
  }
}

void TIdIOHandler::ReadByteCount(TIdByteArray& VBuffer, std::int32_t ACount, bool AAppend) {
  if (ACount > 0) {
    FillAtLeast(ACount, recvBufferSize_);
    inBuffer_->ExtractBytes(VBuffer, ACount, AAppend);
    return;
  }
  if (ACount < 0) {
    FillInputBuffer(false, TimeoutUseDefault, false);
    DetectClosure(true, true);
    inBuffer_->ExtractBytes(VBuffer, -1, AAppend);
  }
}

void TIdIOHandler::ReadIntoStream(TStream& AStream, std::int64_t ASize, bool AReadUntilDisconnect) {
  if (ASize == -1 && !AReadUntilDisconnect) ASize = largeStream_ ? ReadInt64() : ReadInt32();
  // The stream is not sized ahead for ASize: a peer announcing gigabytes would otherwise cost
  // that much memory (or disk) before sending a byte. It grows by what arrives.
  StartWork(wmRead, AReadUntilDisconnect ? 0 : ASize);
  std::exception_ptr failure;
  try {
    ReadIntoStreamBody(AStream, ASize, AReadUntilDisconnect);
  } catch (...) {
    failure = std::current_exception();
  }
  // The span closes and the stream is cut back whatever happened above.
  try {
    FinishWork(wmRead);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  try {
    CutBackToPosition(AStream);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

void TIdIOHandler::ReadIntoStreamBody(TStream& AStream, std::int64_t ASize,
                                      bool AReadUntilDisconnect) {
  std::int64_t remaining = AReadUntilDisconnect ? std::numeric_limits<std::int64_t>::max() : ASize;
  // What arrived with the bytes before (a response head) goes first, in one report.
  const std::int64_t buffered = std::min<std::int64_t>(remaining, inBuffer_->Size());
  if (buffered > 0) {
    inBuffer_->MoveToStream(AStream, static_cast<std::int32_t>(buffered));
    remaining -= buffered;
  }
  while (remaining > 0) {
    const auto chunk =
        static_cast<std::int32_t>(std::min<std::int64_t>(recvBufferSize_, remaining));
    try {
      // Asks the source for no more than the chunk lacks, so what follows the body stays there,
      // unless the caller said more of the message follows.
      FillAtLeast(chunk, readAhead_ ? recvBufferSize_ : chunk, readAhead_);
    } catch (const EIdConnClosedGracefully&) {
      inBuffer_->MoveToStream(AStream, std::min(chunk, inBuffer_->Size()));
      if (AReadUntilDisconnect) return;
      throw;
    } catch (...) {
      inBuffer_->MoveToStream(AStream, std::min(chunk, inBuffer_->Size()));
      throw;
    }
    TIdAntiFreezeBase::RunAntiFreeze(true);
    inBuffer_->MoveToStream(AStream, chunk);
    remaining -= chunk;
  }
}

bool TIdIOHandler::HasDataOnSource(std::int32_t ATimeout) {
  // Connected() may itself have pulled the bytes in that the caller asks about.
  if (!Connected()) return false;
  if (inBuffer_->Size() > 0) return true;
  return FillInputBuffer(false, ATimeout, false) > 0;
}

std::string TIdIOHandler::ReadUntilClose(TIdCharEncoding AEncoding) {
  StartWork(wmRead, 0);
  std::string text;
  try {
    try {
      if (Connected()) {
        while (FillInputBuffer(false, IdReadUntilCloseStepMs, false) != 0) {
        }
      }
    } catch (const Exception&) {
      // However the connection ended, what arrived is the result.
    }
    text = inBuffer_->ExtractText(-1, Resolve(AEncoding));
  } catch (...) {
    FinishWork(wmRead);
    throw;
  }
  FinishWork(wmRead);
  return text;
}

std::uint8_t TIdIOHandler::ReadUInt8() {
  TIdByteArray bytes;
  ReadByteCount(bytes, 1, false);
  return bytes[0];
}

std::int32_t TIdIOHandler::ReadInt32(bool AConvertFromNetworkOrder) {
  TIdByteArray bytes;
  ReadByteCount(bytes, 4, false);
  const std::uint32_t value = GetUInt32(bytes, 0);
  return static_cast<std::int32_t>(AConvertFromNetworkOrder ? TIdStack::NetworkToHost(value)
                                                            : value);
}

std::int64_t TIdIOHandler::ReadInt64(bool AConvertFromNetworkOrder) {
  TIdByteArray bytes;
  ReadByteCount(bytes, 8, false);
  const auto value = static_cast<std::uint64_t>(GetInt64(bytes, 0));
  return static_cast<std::int64_t>(AConvertFromNetworkOrder ? TIdStack::NetworkToHost(value)
                                                            : value);
}

std::string TIdIOHandler::ReadChar(TIdCharEncoding AEncoding) {
  const TIdCharEncoding encoding = Resolve(AEncoding);
  if (encoding != ceUTF8) return BytesToText(TIdByteArray{ReadUInt8()}, encoding);
  TIdUTF8ByteDecoder decoder;
  char32_t codePoint = 0;
  while (!decoder.Feed(ReadUInt8(), codePoint)) {
  }
  std::string text;
  AppendUTF8(text, codePoint);
  return text;
}

void TIdIOHandler::Capture(std::vector<std::string>& VLines, std::string_view ADelimiter,
                           bool AUsesDotTransparency, TIdCharEncoding AEncoding) {
  StartWork(wmRead, 0);
  try {
    std::int32_t captured = 0;
    for (;;) {
      std::string line = ReadLine(kLF, TimeoutUseDefault, AEncoding);
      if (lineTimedOut_) throw EIdReadTimeout(RSReadTimeout);
      if (line == ADelimiter) break;
      if (AUsesDotTransparency && line.starts_with("..")) line.erase(0, 1);
      if (maxCapturedLines_ >= 0 && captured >= maxCapturedLines_) {
        throw EIdMaxCaptureLineExceeded(RSMaximumNumberOfCaptureLineExceeded);
      }
      VLines.push_back(std::move(line));
      ++captured;
    }
  } catch (...) {
    FinishWork(wmRead);
    throw;
  }
  FinishWork(wmRead);
}

}  // namespace brixa
