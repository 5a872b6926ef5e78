// The I/O handler's state, filling the input buffer from the source, sending, and the write
// buffer; reading and writing of values are in io_handler_read.cpp and io_handler_write.cpp.

#include "transport/io/io_handler.h"

#include <algorithm>

#include "platform/core/exception.h"
#include "runtime/time/ticks.h"
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

// --- State -------------------------------------------------------------------------------------

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

// --- Filling the input buffer ------------------------------------------------------------------

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

// --- Sending -----------------------------------------------------------------------------------

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

// --- Write buffering ---------------------------------------------------------------------------

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

}  // namespace brixa
