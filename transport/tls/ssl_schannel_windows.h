#pragma once
// The TLS I/O handler over Windows' own TLS (Schannel).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "transport/tls/ssl_io_handler.h"

namespace brixa {

// The TLS I/O handler over Windows' own TLS (Schannel, through SSPI) and trust store.
//
// Schannel is asked to validate nothing (some implementations validate nothing anyway); with
// sslvrfPeer in SSLOptions().VerifyMode() (so unless the caller cleared it) the handler checks the
// peer itself after the handshake: the chain must lead to a trusted root (the system's, or only the
// CAs of PinnedRootCertPEM, else of RootCertFile and VerifyDirs when any is set) with no trust
// error, and the certificate must name the host (a DNS name by RFC 6125 rules, an IP address only
// by an IP address entry). Client certificates are not offered: CertFile and KeyFile raise.
//
// Every wait for the peer, in the handshake as in a record read, is limited by ReadTimeout().
class TIdSSLIOHandlerSocketSchannel : public TIdSSLIOHandlerSocketBase {
 public:
  explicit TIdSSLIOHandlerSocketSchannel(TComponent* owner = nullptr);
  ~TIdSSLIOHandlerSocketSchannel() override;

  // Connects the socket in clear (transparent proxy included), then runs the handshake when
  // TLSActive() is set.
  void OpenHandler() override;
  // Sends close_notify over a healthy session, frees it, then closes the socket.
  void CloseHandler() override;
  [[nodiscard]] std::optional<TIdSSLSessionInfo> Session() const override;

 protected:
  [[nodiscard]] bool TlsRunning() const noexcept override;
  void BeginHandshake() override;
  std::int32_t TlsRead(std::span<std::uint8_t> ABuffer) override;
  std::int32_t TlsWrite(std::span<const std::uint8_t> ABuffer) override;
  [[nodiscard]] bool TlsReadable(std::int32_t ATimeout) override;

 private:
  struct TSession;
  void FreeSession() noexcept;
  [[nodiscard]] std::int32_t WaitLimit() const noexcept;
  // Fills the session's plain text from what the socket brings within ATimeout; true when
  // plain text or the end of the stream is there to be read.
  bool Pump(std::int32_t ATimeout);
  bool DecryptBuffered();
  void Renegotiate();
  void RunHandshakeLoop(bool AFirstCall);
  void SendAll(const void* AData, std::size_t ASize);
  std::size_t ReceiveSome(std::int32_t ATimeout);
  void VerifyPeer();
  void ReportCipher();
  void Status(const char* AState);

  std::unique_ptr<TSession> session_;
};

}  // namespace brixa
