#pragma once
// The OpenSSL TLS handler: its context, its per-connection socket, and the I/O handler itself.

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "transport/tls/ssl_exceptions.h"
#include "transport/tls/ssl_io_handler.h"

namespace brixa {

namespace ossl {
struct SSL_CTX;
struct SSL;
}  // namespace ossl

class TIdSSLIOHandlerSocketOpenSSL;

// An OpenSSL context made from a copy of the options.
class TIdSSLContext {
 public:
  // Loads OpenSSL; raises EIdOSSLCouldNotLoadSSLLibrary when it cannot be loaded.
  TIdSSLContext();
  ~TIdSSLContext();
  TIdSSLContext(const TIdSSLContext&) = delete;
  TIdSSLContext& operator=(const TIdSSLContext&) = delete;

  // Makes the OpenSSL context for the role (sslmClient or sslmServer) from Options(); raises
  // the option's own exception, with OpenSSL's error text, when a file cannot be used.
  void PrepareContext(TIdSSLMode ARole, TIdSSLIOHandlerSocketOpenSSL* AOwner);

  TIdSSLOptions Options;
  bool VerifyOn = false;  // an OnVerifyPeer handler exists
  bool StatusOn = false;  // an OnStatusInfo handler exists
  [[nodiscard]] ossl::SSL_CTX* Context() const noexcept { return context_; }

 private:
  void ApplyFiles();
  void EnableReadAhead();
  void ApplyPinnedRoots();
  ossl::SSL_CTX* context_ = nullptr;
};

// One OpenSSL connection object over a socket.
class TIdSSLSocket {
 public:
  TIdSSLSocket(TIdSSLContext& AContext, TIdSSLIOHandlerSocketOpenSSL& AOwner);
  ~TIdSSLSocket();
  TIdSSLSocket(const TIdSSLSocket&) = delete;
  TIdSSLSocket& operator=(const TIdSSLSocket&) = delete;

  [[nodiscard]] ossl::SSL* SSL() const noexcept { return ssl_; }
  [[nodiscard]] TIdSSLIOHandlerSocketOpenSSL& Owner() const noexcept { return owner_; }
  [[nodiscard]] TIdSSLCipher Cipher() const;
  // The protocol version ("TLSv1.3").
  [[nodiscard]] std::string ProtocolVersion() const;
  // Runs `AUse` with the peer's certificate, when the peer sent one; false when it did not.
  bool WithPeerCertificate(const std::function<void(TIdX509&)>& AUse) const;
  // The handshake finished: reads and writes go through this connection until it is freed.
  bool Established = false;
  // Established and no failure seen since; only then does Close send close_notify.
  bool Healthy = false;
  // A read met the end of the stream (or a failure) after handing out bytes: the next read
  // returns or raises at once, without waiting.
  bool EndAhead = false;
  // The socket error of the failure EndAhead stands for; 0 for none.
  int EndAheadSocketError = 0;

 private:
  ossl::SSL* ssl_ = nullptr;
  TIdSSLIOHandlerSocketOpenSSL& owner_;
};

// The TLS I/O handler over run-time loaded OpenSSL.
//
// Peer verification follows SSLOptions().VerifyMode(), sslvrfPeer unless the caller cleared it:
// the chain must lead to a trusted root (OpenSSL's default paths, which are the system's trust
// store, and RootCertFile) and the certificate must name Host(): a DNS name by RFC 6125 rules
// (a wildcard only as the whole left-most label), an IP address only by an IP address entry.
// Without sslvrfPeer any certificate is taken.
class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocketBase {
 public:
  explicit TIdSSLIOHandlerSocketOpenSSL(TComponent* owner = nullptr);
  ~TIdSSLIOHandlerSocketOpenSSL() override;

  [[nodiscard]] TIdSSLContext* SSLContext() const noexcept { return context_.get(); }
  [[nodiscard]] TIdSSLSocket* SSLSocket() const noexcept { return socket_.get(); }

  // Connects the socket in clear (transparent proxy included), then starts TLS when
  // TLSActive() is set.
  void OpenHandler() override;
  // Sends close_notify over a healthy TLS connection, frees it and the context, then closes
  // the socket.
  void CloseHandler() override;

  // With TLSActive(), runs the handshake (making the context first when missing).
  void StartTls();
  [[nodiscard]] std::optional<TIdSSLSessionInfo> Session() const override;

  // Hook for the application between the clear connect and the handshake.
  TNotifyEvent OnBeforeTls;

 protected:
  [[nodiscard]] bool TlsRunning() const noexcept override;
  void BeginHandshake() override;
  std::int32_t TlsRead(std::span<std::uint8_t> ABuffer) override;
  std::int32_t TlsWrite(std::span<const std::uint8_t> ABuffer) override;
  [[nodiscard]] bool TlsReadable(std::int32_t ATimeout) override;
  // Decrypted bytes, or received bytes not yet made into records, wait inside OpenSSL.
  [[nodiscard]] bool HoldsUnreadBytes(const ossl::SSL* ssl) const;

 private:
  friend class TIdSSLContext;
  void MakeContext();
  void CheckHostOnHandshake();
  void ReportCipher();
  void FreeTls() noexcept;
  [[noreturn]] void RaiseIOFailure(const char* AOperation, int AResult, int ASocketError);

  std::unique_ptr<TIdSSLContext> context_;
  std::unique_ptr<TIdSSLSocket> socket_;
};

}  // namespace brixa
