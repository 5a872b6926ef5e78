#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "transport/io_handler_stack.h"

namespace brixa {

// A socket I/O handler that can run TLS over its socket. While TLSActive() is false every read
// and write goes straight to the socket; while it is true they go through the TLS connection,
// which a descendant supplies (TlsRead, TlsWrite, TlsPending).
//
// The HTTP client switches TLS on for https targets and off for http ones, and hands over
// the URL of each request as CheckedURI (kept for the application; the handler checks the
// certificate against Host(), the name it connected to).
class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
 public:
  explicit TIdSSLIOHandlerSocketBase(TComponent* owner = nullptr);

  [[nodiscard]] bool TLSActive() const noexcept { return tlsActive_; }
  // On a connected handler, true starts the handshake at once; false only stores the flag
  // (a connection that ran TLS cannot go back to clear text: reconnect instead).
  virtual void SetTLSActive(bool AValue);
  [[nodiscard]] const std::string& CheckedURI() const noexcept { return checkedURI_; }
  void SetCheckedURI(const std::string& AValue) { checkedURI_ = AValue; }
  // The name TLS sends as SNI and checks the certificate against; empty means Host(). Set
  // when the socket leads elsewhere first (the CONNECT tunnel of an HTTP proxy).
  [[nodiscard]] const std::string& TLSHostName() const noexcept { return tlsHostName_; }
  void SetTLSHostName(const std::string& AValue) { tlsHostName_ = AValue; }

 protected:
  // Whether the TLS connection is set up and carries the bytes.
  [[nodiscard]] virtual bool TlsRunning() const noexcept = 0;
  // Starts TLS over the connected socket; raises on failure.
  virtual void BeginHandshake() = 0;
  // One read of application data: the count, or 0 after the peer's close_notify. Raises on
  // failures. Called only when TlsReadable answered true, so it does not wait.
  virtual std::int32_t TlsRead(std::span<std::uint8_t> ABuffer) = 0;
  // Writes all of ABuffer (or raises); answers the count.
  virtual std::int32_t TlsWrite(std::span<const std::uint8_t> ABuffer) = 0;
  // Waits at most ATimeout for application data (or the end of the stream) to be readable.
  [[nodiscard]] virtual bool TlsReadable(std::int32_t ATimeout) = 0;

  void SetTLSActiveFlag(bool AValue) noexcept { tlsActive_ = AValue; }

  // TLS runs over a non-blocking socket, so a peer that stops inside a record or a handshake
  // message cannot hold a read for ever. Waits until the socket can be read within
  // ReadTimeout() (none set: without limit) or, with AForWrite, written (without limit, as
  // plain sends block); raises EIdReadTimeout "Read timed out." when the read wait runs out.
  void AwaitSocket(bool AForWrite);

  [[nodiscard]] bool SourceReadable(std::int32_t ATimeout) override;
  std::int32_t ReadDataFromSource(std::span<std::uint8_t> ABuffer) override;
  std::int32_t WriteDataToTarget(std::span<const std::uint8_t> ABuffer) override;

 private:
  bool tlsActive_ = false;
  std::string checkedURI_;
  std::string tlsHostName_;
};

}  // namespace brixa
