// TIdIOHandler: its state, filling the input buffer from the source, reading lines, byte counts,
// streams and values from it, writing them, the write buffer, and interactive line input.

#include "transport/io/io_handler.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <string>

#include "platform/core/exception.h"
#include "platform/core/stream.h"
#include "runtime/text/format_invariant.h"
#include "runtime/text/stream_bytes.h"
#include "runtime/text/text.h"
#include "runtime/time/ticks.h"
#include "transport/io/terminal_input.h"
#include "transport/socket/stack.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

namespace {

// Failures of a source that reports -1 and that mean the peer is gone rather than a fault.
bool IsCloseOnRead(int error) {
  return error == Id_WSAESHUTDOWN || error == Id_WSAECONNABORTED;
}
bool IsCloseOnWrite(int error) {
  return IsCloseOnRead(error) || error == Id_WSAECONNRESET;
}

constexpr std::string_view kLF = "\n";
constexpr std::string_view kEOL = "\r\n";

// Cuts a stream back to its position when it is longer: what the read wrote over ends it.
void CutBackToPosition(TStream& stream) {
  const std::int64_t position = stream.Position();
  if (stream.Size() > position) stream.SetSize(position);
}

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

constexpr std::uint8_t kEraseEcho[] = {0x08, ' ', 0x08};
constexpr std::uint8_t kEndEcho[] = {'\r', '\n'};

void Append(TIdByteArray& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

TIdIOHandler::TIdIOHandler(TComponent* owner)
    : TIdComponent(owner),
      inBuffer_(std::make_unique<TIdBuffer>(
          [this](TIdBuffer*, std::int32_t count) { AddWork(wmRead, count); })) {}

TIdIOHandler::~TIdIOHandler() {
  // Descendants close their source in their own destructors; here only the intercept is told.
  if (!isOpen_) return;
  try {
    TIdIOHandler::CloseHandler();
  } catch (...) {
    // A destructor cannot report; the handler is gone either way.
  }
}

void TIdIOHandler::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == intercept_) return;
  if (intercept_ != nullptr) RemoveFreeNotification(intercept_);
  intercept_ = AValue;
  if (intercept_ != nullptr) FreeNotification(intercept_);
}

void TIdIOHandler::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == TOperation::opRemove && AComponent == intercept_) intercept_ = nullptr;
  TIdComponent::Notification(AComponent, AOperation);
}

void TIdIOHandler::SetRecvBufferSize(std::int32_t AValue) {
  Require(AValue > 0, "RecvBufferSize must be positive");
  recvBufferSize_ = AValue;
}

void TIdIOHandler::SetSendBufferSize(std::int32_t AValue) {
  Require(AValue > 0, "SendBufferSize must be positive");
  sendBufferSize_ = AValue;
}

void TIdIOHandler::SetDefaultTextEncoding(TIdCharEncoding AValue) {
  EnsureEncoding(AValue);
  encoding_ = AValue;
}

std::int32_t TIdIOHandler::WriteBufferSize() const noexcept {
  return writeBuffer_ != nullptr ? writeBuffer_->Size() : 0;
}

// --- State --------------------------------------------------------------------------------------

void TIdIOHandler::OpenHandler() {
  isOpen_ = false;
  peerClosed_ = false;
  closedLocally_ = false;
  ClearWriteBuffer();
  inBuffer_->Clear();
  // A line typed on an earlier connection is no part of this one.
  inputChars_.clear();
  inputDecoder_.Reset();
  inputEndPartner_ = 0;
  ++exchanges_;
  isOpen_ = true;
}

void TIdIOHandler::CloseHandler() {
  if (!peerClosed_) closedLocally_ = true;
  try {
    if (intercept_ != nullptr) intercept_->Disconnect();
  } catch (...) {
    isOpen_ = false;
    ClearWriteBuffer();
    throw;
  }
  isOpen_ = false;
  ClearWriteBuffer();
}

bool TIdIOHandler::Connected() {
  if (closedLocally_) return false;
  DetectClosure(false, false);
  return isOpen_ && !(peerClosed_ && inBuffer_->Size() == 0);
}

void TIdIOHandler::DetectClosure(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
  bool gone;
  if (peerClosed_) {
    if (SourceIsAvailable()) {
      CloseHandler();
      ReportStatus(hsDisconnected);
    }
    gone = true;
  } else {
    gone = !SourceIsAvailable();
  }
  if (gone && ARaiseExceptionIfDisconnected && (AIgnoreBuffer || inBuffer_->Size() == 0)) {
    throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  }
}

bool TIdIOHandler::SourceReadable(std::int32_t /*ATimeout*/) {
  return false;
}

int TIdIOHandler::LastSourceError() {
  return GStack().LastSocketError();
}

// --- Filling the input buffer -------------------------------------------------------------------

std::int32_t TIdIOHandler::FillInputBuffer(bool ARaiseExceptionIfDisconnected,
                                           std::int32_t ATimeout, bool ARaiseOnTimeout) {
  return FillInputBufferUpTo(ARaiseExceptionIfDisconnected, ATimeout, ARaiseOnTimeout,
                             recvBufferSize_);
}

std::int32_t TIdIOHandler::FillInputBufferUpTo(bool ARaiseExceptionIfDisconnected,
                                               std::int32_t ATimeout, bool ARaiseOnTimeout,
                                               std::int32_t AMaxBytes) {
  if (ATimeout == TimeoutUseDefault) {
    ATimeout = readTimeout_;
    if (ATimeout == TimeoutUseDefault || ATimeout == 0) ATimeout = TimeoutInfinite;
  }
  DetectClosure(ARaiseExceptionIfDisconnected, false);
  if (!SourceIsAvailable()) {
    if (ARaiseExceptionIfDisconnected) throw EIdException(RSNotConnected);
    return 0;
  }
  for (;;) {
    // Without a time limit a read that waits by itself needs no wait before it; after a read
    // that filled all it asked for, more is most likely there, and the wait would cost a system
    // call for nothing. A time limit is always enforced by the wait.
    const bool waitInRead = lastReadFilled_ && ATimeout == TimeoutInfinite && ReadWaitsForData();
    const bool repeatedProbe = ATimeout == 0 && SourceJustFoundIdle();
    if (repeatedProbe || (!waitInRead && !SourceReadable(ATimeout))) {
      if (ATimeout == 0 && !repeatedProbe) {
        idleProbeValid_ = true;
        idleProbeExchanges_ = exchanges_;
        idleProbeTick_ = TickCountMs();
      }
      if (ARaiseOnTimeout) throw EIdReadTimeout(RSReadTimeout);
      return -1;
    }
    if (!isOpen_) {
      if (ARaiseExceptionIfDisconnected) throw EIdNotConnected(RSNotConnected);
      // A closed handler over a live source would otherwise spin here.
      return 0;
    }
    if (!SourceIsAvailable()) throw EIdClosedSocket(RSStatusDisconnected);
    std::int32_t fromSource = 0;
    const std::int32_t count = ReceiveIntoBuffer(AMaxBytes, fromSource);
    if (fromSource == 0) MarkPeerClosed();
    DetectClosure(ARaiseExceptionIfDisconnected, false);
    if (count != 0) return count;
    // Also when an intercept swallowed what arrived: that is no end of stream, read on.
    if (!SourceIsAvailable()) return 0;
  }
}

bool TIdIOHandler::SourceJustFoundIdle() const {
  return idleProbeValid_ && idleProbeExchanges_ == exchanges_ && idleProbeTick_ == TickCountMs();
}

std::int32_t TIdIOHandler::ReceiveIntoBuffer(std::int32_t AMaxBytes, std::int32_t& VFromSource) {
  ++exchanges_;
  const std::int32_t wanted = std::max(1, std::min(AMaxBytes, recvBufferSize_));
  // Straight into the buffer's free room: no copy besides the system's.
  const std::span<std::uint8_t> room = inBuffer_->PrepareTail(wanted);
  VFromSource = ReadDataFromSource(room.first(static_cast<std::size_t>(wanted)));
  lastReadFilled_ = VFromSource == wanted;
  if (VFromSource < 0) VFromSource = HandleFailedRead();
  if (VFromSource <= 0) return VFromSource;
  if (intercept_ == nullptr) {
    inBuffer_->CommitTail(VFromSource);
    return VFromSource;
  }
  // The intercept sees (and may change or replace) each block before it joins the buffer, in
  // an array kept from read to read: no allocation and no zeroing per read.
  interceptBlock_.assign(room.begin(), room.begin() + VFromSource);
  intercept_->Receive(interceptBlock_);
  inBuffer_->AppendBytes(interceptBlock_);
  return static_cast<std::int32_t>(interceptBlock_.size());
}

std::int32_t TIdIOHandler::HandleFailedRead() {
  const int error = LastSourceError();
  if (!IsCloseOnRead(error)) GStack().ThrowSocketError(error);
  MarkPeerClosed();
  CloseHandler();
  if (inBuffer_->Size() == 0) GStack().ThrowSocketError(error);
  return 0;
}

// --- Sending ------------------------------------------------------------------------------------

void TIdIOHandler::SendNow(std::span<const std::uint8_t> ABuffer) {
  DetectClosure(true, true);
  if (intercept_ == nullptr) {
    SendBlock(ABuffer);
    return;
  }
  TIdByteArray block(ABuffer.begin(), ABuffer.end());
  intercept_->Send(block);
  SendBlock(block);
}

void TIdIOHandler::SendBlock(std::span<const std::uint8_t> ABlock) {
  std::size_t offset = 0;
  while (offset < ABlock.size()) {
    ++exchanges_;
    const std::int32_t sent = WriteDataToTarget(ABlock.subspan(offset));
    if (sent < 0) {
      const int error = LastSourceError();
      if (IsCloseOnWrite(error)) {
        MarkPeerClosed();
        CloseHandler();
      }
      GStack().ThrowSocketError(error);
    }
    TIdAntiFreezeBase::RunAntiFreeze(false);
    if (sent == 0) {
      MarkPeerClosed();
      DetectClosure(true, false);
      // Unread input kept DetectClosure quiet, but nothing more can be sent.
      throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
    }
    DetectClosure(true, false);
    AddWork(wmWrite, sent);
    offset += static_cast<std::size_t>(sent);
  }
}

// --- Write buffering ----------------------------------------------------------------------------

void TIdIOHandler::OpenWriteBuffer(std::int32_t AThreshold) {
  if (writeBuffer_ != nullptr) {
    writeBuffer_->Clear();
  } else {
    writeBuffer_ = std::make_unique<TIdBuffer>();
  }
  writeBufferThreshold_ = AThreshold;
}

void TIdIOHandler::CloseWriteBuffer() {
  if (writeBuffer_ == nullptr) return;
  try {
    FlushWriteBuffer(-1);
  } catch (...) {
    writeBuffer_.reset();
    throw;
  }
  writeBuffer_.reset();
}

void TIdIOHandler::FlushWriteBuffer(std::int32_t AByteCount) {
  if (writeBuffer_ == nullptr || writeBuffer_->Size() == 0) return;
  const std::int32_t count =
      AByteCount < 0 ? writeBuffer_->Size() : std::min(AByteCount, writeBuffer_->Size());
  // Taken out first: sending may close the handler, which empties the write buffer.
  TIdByteArray bytes;
  writeBuffer_->ExtractBytes(bytes, count);
  SendNow(bytes);
}

void TIdIOHandler::ClearWriteBuffer() {
  if (writeBuffer_ != nullptr) writeBuffer_->Clear();
}

void TIdIOHandler::CancelWriteBuffer() {
  ClearWriteBuffer();
  CloseWriteBuffer();
}

void TIdIOHandler::WriteBytes(const TIdByteArray& ABuffer, std::int32_t ALength,
                              std::int32_t AOffset) {
  const std::int64_t count = BytesAvailable(ABuffer, ALength, AOffset);
  if (count <= 0) return;
  WriteBytes(
      std::span<const std::uint8_t>(ABuffer.data() + AOffset, static_cast<std::size_t>(count)));
}

void TIdIOHandler::WriteBytes(std::span<const std::uint8_t> ABuffer) {
  if (ABuffer.empty()) return;
  if (writeBuffer_ == nullptr) {
    SendNow(ABuffer);
    return;
  }
  writeBuffer_->AppendBytes(ABuffer);
  if (writeBufferThreshold_ <= 0) return;
  while (writeBuffer_ != nullptr && writeBuffer_->Size() >= writeBufferThreshold_) {
    FlushWriteBuffer(writeBufferThreshold_);
  }
}

// --- Reading ------------------------------------------------------------------------------------

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

// --- Writing values -----------------------------------------------------------------------------

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

// --- Interactive line input ---------------------------------------------------------------------

void TIdIOHandler::SendEcho(TIdByteArray& VEcho) {
  if (VEcho.empty()) return;
  WriteBytes(VEcho);
  VEcho.clear();
}

bool TIdIOHandler::NextInputByte(std::uint32_t AStarted, std::uint8_t& VByte, TIdByteArray& VEcho) {
  while (inBuffer_->Size() == 0) {
    // The person sees what was typed so far before we wait for more.
    SendEcho(VEcho);
    DetectClosure(true, true);
    std::int32_t wait = TimeoutInfinite;
    if (readTimeout_ > 0) {
      const std::uint32_t elapsed = TickDiff(AStarted, TickCountMs());
      if (elapsed >= static_cast<std::uint32_t>(readTimeout_)) return false;
      wait = readTimeout_ - static_cast<std::int32_t>(elapsed);
    }
    if (FillInputBuffer(true, wait, false) == -1) return false;
  }
  VByte = inBuffer_->Bytes()[0];
  inBuffer_->DropFront(1);
  return true;
}

std::string TIdIOHandler::InputLn(std::string_view AMask, bool AEcho, std::int32_t ATabWidth,
                                  std::int32_t AMaxLineLength, TIdCharEncoding AEncoding) {
  const TIdCharEncoding encoding = Resolve(AEncoding);
  const std::int32_t maxLength = AMaxLineLength < 0 ? maxLineLength_ : AMaxLineLength;
  const auto full = [&] {
    return maxLength > 0 && inputChars_.size() >= static_cast<std::size_t>(maxLength);
  };
  const TIdByteArray mask = AMask.empty() ? TIdByteArray() : TextToBytes(AMask, encoding);
  lineTimedOut_ = false;
  const std::uint32_t started = TickCountMs();
  TIdByteArray echo;
  const auto accept = [&](std::string character) {
    if (full()) return;
    if (AEcho) Append(echo, mask.empty() ? TextToBytes(character, encoding) : mask);
    inputChars_.push_back(std::move(character));
  };
  std::string character;
  for (;;) {
    std::uint8_t byte = 0;
    if (!NextInputByte(started, byte, echo)) {
      SendEcho(echo);
      lineTimedOut_ = true;
      throw EIdReadTimeout(RSReadTimeout);
    }
    if (inputEndPartner_ != 0) {
      const bool pairsWithLastEnd = byte == inputEndPartner_;
      inputEndPartner_ = 0;
      if (pairsWithLastEnd) continue;
    }
    if (!terminal::DecodeTypedByte(inputDecoder_, byte, encoding, character)) continue;
    const char32_t codePoint = terminal::FirstCodePoint(character);
    if (codePoint == terminal::kCarriageReturn || codePoint == terminal::kLineFeed) {
      const std::uint8_t partner = codePoint == terminal::kCarriageReturn ? '\n' : '\r';
      if (inBuffer_->Size() > 0 && inBuffer_->Bytes()[0] == partner) {
        inBuffer_->DropFront(1);
      } else {
        inputEndPartner_ = partner;
      }
      if (AEcho) Append(echo, kEndEcho);
      SendEcho(echo);
      std::string line;
      for (const std::string& typed : inputChars_) line += typed;
      inputChars_.clear();
      return line;
    }
    if (codePoint == terminal::kBackspace || codePoint == terminal::kDelete) {
      if (inputChars_.empty()) continue;
      inputChars_.pop_back();
      if (AEcho) Append(echo, kEraseEcho);
    } else if (codePoint == terminal::kTab) {
      if (ATabWidth <= 0) continue;
      const auto width = static_cast<std::size_t>(ATabWidth);
      const std::size_t spaces = width - inputChars_.size() % width;
      for (std::size_t i = 0; i < spaces; ++i) accept(" ");
    } else if (!terminal::IsIgnoredControl(codePoint)) {
      accept(character);
    }
  }
}

}  // namespace brixa
