#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "transport/ssl_exceptions.h"
#include "transport/ssl_io_handler.h"

namespace brixa {

namespace ossl {
struct SSL_CTX;
struct SSL;
struct X509;
}  // namespace ossl

enum TIdSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };
enum TIdSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };
enum TIdSSLVerifyMode { sslvrfPeer, sslvrfFailIfNoPeerCert, sslvrfClientOnce };
using TIdSSLVerifyModeSet = std::set<TIdSSLVerifyMode>;

// The cipher list a context gets when CipherList() is empty.
inline constexpr const char* IdSSLDefaultCipherList = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH";

// What a TLS connection is to be: files, protocol family, role and peer verification.
class TIdSSLOptions {
 public:
  [[nodiscard]] const std::string& RootCertFile() const noexcept { return rootCertFile_; }
  void SetRootCertFile(const std::string& AValue) { rootCertFile_ = AValue; }
  [[nodiscard]] const std::string& CertFile() const noexcept { return certFile_; }
  void SetCertFile(const std::string& AValue) { certFile_ = AValue; }
  [[nodiscard]] const std::string& KeyFile() const noexcept { return keyFile_; }
  void SetKeyFile(const std::string& AValue) { keyFile_ = AValue; }
  [[nodiscard]] TIdSSLVersion Method() const noexcept { return method_; }
  void SetMethod(TIdSSLVersion AValue) noexcept { method_ = AValue; }
  [[nodiscard]] TIdSSLMode Mode() const noexcept { return mode_; }
  void SetMode(TIdSSLMode AValue) noexcept { mode_ = AValue; }
  [[nodiscard]] const TIdSSLVerifyModeSet& VerifyMode() const noexcept { return verifyMode_; }
  void SetVerifyMode(const TIdSSLVerifyModeSet& AValue) { verifyMode_ = AValue; }
  [[nodiscard]] std::int32_t VerifyDepth() const noexcept { return verifyDepth_; }
  void SetVerifyDepth(std::int32_t AValue) noexcept { verifyDepth_ = AValue; }
  // A folder of CA certificates under their hash names, trusted besides RootCertFile.
  [[nodiscard]] const std::string& VerifyDirs() const noexcept { return verifyDirs_; }
  void SetVerifyDirs(const std::string& AValue) { verifyDirs_ = AValue; }
  [[nodiscard]] const std::string& CipherList() const noexcept { return cipherList_; }
  void SetCipherList(const std::string& AValue) { cipherList_ = AValue; }
  // CA certificates (PEM text) that are the only ones trusted: with them, neither the system's
  // trusted CAs nor RootCertFile count. For a program that knows its one server (pinning).
  [[nodiscard]] const std::string& PinnedRootCertPEM() const noexcept { return pinnedPEM_; }
  void SetPinnedRootCertPEM(const std::string& AValue) { pinnedPEM_ = AValue; }

 private:
  std::string rootCertFile_;
  std::string certFile_;
  std::string keyFile_;
  TIdSSLVersion method_ = sslvTLSv1;
  TIdSSLMode mode_ = sslmUnassigned;
  TIdSSLVerifyModeSet verifyMode_;
  std::int32_t verifyDepth_ = 0;
  std::string verifyDirs_;
  std::string cipherList_;
  std::string pinnedPEM_;
};

// A certificate of the peer's chain, valid for the duration of the call that hands it out.
class TIdX509 {
 public:
  explicit TIdX509(ossl::X509* ACertificate) noexcept : certificate_(ACertificate) {}
  // The names in OpenSSL's one-line form ("/CN=localhost").
  [[nodiscard]] std::string Subject() const;
  [[nodiscard]] std::string Issuer() const;
  // Validity limits as OpenSSL prints them ("Dec  7 11:54:17 2027 GMT").
  [[nodiscard]] std::string NotBefore() const;
  [[nodiscard]] std::string NotAfter() const;
  [[nodiscard]] ossl::X509* Certificate() const noexcept { return certificate_; }

 private:
  ossl::X509* certificate_;
};

using TCallbackEvent = std::function<void(const std::string& AMsg)>;
using TPasswordEvent = std::function<void(std::string& VPassword)>;
using TVerifyPeerEvent = std::function<bool(TIdX509& ACertificate, bool AOk, int ADepth)>;

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
  void ApplyPinnedRoots();
  ossl::SSL_CTX* context_ = nullptr;
};

// The negotiated cipher of a connection.
struct TIdSSLCipher {
  std::string Name;
  std::string Description;
  int Bits = 0;
  std::string Version;
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

 private:
  ossl::SSL* ssl_ = nullptr;
  TIdSSLIOHandlerSocketOpenSSL& owner_;
};

// The TLS I/O handler over run-time loaded OpenSSL.
//
// Peer verification follows SSLOptions().VerifyMode(): with sslvrfPeer the chain must lead to
// a trusted root (RootCertFile, else OpenSSL's default paths) and the certificate must name
// Host(): a DNS name by RFC 6125 rules (a wildcard only as the whole left-most label), an IP
// address only by an IP address entry. Without sslvrfPeer any certificate is taken.
class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocketBase {
 public:
  explicit TIdSSLIOHandlerSocketOpenSSL(TComponent* owner = nullptr);
  ~TIdSSLIOHandlerSocketOpenSSL() override;

  [[nodiscard]] TIdSSLOptions& SSLOptions() noexcept { return options_; }
  [[nodiscard]] TIdSSLContext* SSLContext() const noexcept { return context_.get(); }
  [[nodiscard]] TIdSSLSocket* SSLSocket() const noexcept { return socket_.get(); }

  // Connects the socket in clear (transparent proxy included), then starts TLS when
  // TLSActive() is set.
  void OpenHandler() override;
  // Sends close_notify over a healthy TLS connection, frees it and the context, then closes
  // the socket.
  void CloseHandler() override;
  // Also a TLS failure (a reset mid-record, a close without close_notify) ends the connection.
  [[nodiscard]] bool Connected() override;

  // Makes the context when missing and, with TLSActive(), runs the handshake.
  void StartTls();

  TCallbackEvent OnStatusInfo;
  TPasswordEvent OnGetPassword;
  TVerifyPeerEvent OnVerifyPeer;

  // Hook for the application between the clear connect and the handshake.
  TNotifyEvent OnBeforeTls;

 protected:
  [[nodiscard]] bool TlsRunning() const noexcept override;
  void BeginHandshake() override;
  std::int32_t TlsRead(std::span<std::uint8_t> ABuffer) override;
  std::int32_t TlsWrite(std::span<const std::uint8_t> ABuffer) override;
  [[nodiscard]] bool TlsReadable(std::int32_t ATimeout) override;

 private:
  friend class TIdSSLContext;
  void MakeContext();
  void CheckHostOnHandshake();
  void ReportCipher();
  void FreeTls() noexcept;
  [[noreturn]] void RaiseIOFailure(const char* AOperation, int AResult);

  TIdSSLOptions options_;
  std::unique_ptr<TIdSSLContext> context_;
  std::unique_ptr<TIdSSLSocket> socket_;
};

}  // namespace brixa
