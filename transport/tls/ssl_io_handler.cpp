// What both TLS handlers share: the clear-text connect, the connected test, and the socket waits
// under the read limit.

#include "transport/tls/ssl_io_handler.h"

#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/socket_handle.h"
#include "transport/tls/ssl_exceptions.h"

namespace brixa {

TIdSSLIOHandlerSocketBase::TIdSSLIOHandlerSocketBase(TComponent* owner)
    : TIdIOHandlerStack(owner) {}

void TIdSSLIOHandlerSocketBase::SetTLSActive(bool AValue) {
  // A connection that already runs TLS keeps it: a second handshake over it would be garbage.
  if (AValue && !tlsActive_ && !TlsRunning() && SourceIsAvailable() && IsOpen()) {
    BeginHandshake();
    return;
  }
  tlsActive_ = AValue;
}

bool TIdSSLIOHandlerSocketBase::OpenInClear() {
  const bool wanted = TLSActive();
  SetTLSActiveFlag(false);
  try {
    TIdIOHandlerStack::OpenHandler();
  } catch (...) {
    SetTLSActiveFlag(wanted);
    throw;
  }
  SetTLSActiveFlag(wanted);
  return SourceIsAvailable();
}

bool TIdSSLIOHandlerSocketBase::Connected() {
  try {
    return TIdIOHandlerStack::Connected();
  } catch (const EIdSSLProtocolReplyError&) {
    // A broken TLS stream can carry nothing more; its connection is over.
    MarkPeerClosed();
    DetectClosure(false, false);
  }
  return (SourceIsAvailable() && TIdIOHandler::Connected()) || InBuffer().Size() > 0;
}

bool TIdSSLIOHandlerSocketBase::SourceReadable(std::int32_t ATimeout) {
  if (TlsRunning()) return TlsReadable(ATimeout);
  return TIdIOHandlerStack::SourceReadable(ATimeout);
}

std::int32_t TIdSSLIOHandlerSocketBase::ReadDataFromSource(std::span<std::uint8_t> ABuffer) {
  if (TlsRunning()) return TlsRead(ABuffer);
  return TIdIOHandlerStack::ReadDataFromSource(ABuffer);
}

std::int32_t TIdSSLIOHandlerSocketBase::WriteDataToTarget(std::span<const std::uint8_t> ABuffer) {
  if (TlsRunning()) return TlsWrite(ABuffer);
  return TIdIOHandlerStack::WriteDataToTarget(ABuffer);
}

void TIdSSLIOHandlerSocketBase::AwaitSocket(bool AForWrite) {
  if (AForWrite) {
    (void)Binding()->WaitWritable(TimeoutInfinite);
    return;
  }
  std::int32_t limit = ReadTimeout();
  if (limit == TimeoutUseDefault || limit == 0) limit = TimeoutInfinite;
  if (!TIdIOHandlerStack::SourceReadable(limit)) throw EIdReadTimeout(RSReadTimeout);
}

}  // namespace brixa
