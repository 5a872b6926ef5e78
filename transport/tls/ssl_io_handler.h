#pragma once
// The TLS options, certificate and session records, and TIdSSLIOHandlerSocketBase, the base both
// TLS I/O handlers share.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "transport/io/io_handler_stack.h"

namespace brixa {

namespace ossl {
struct X509;
}  // namespace ossl

enum TIdSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };
enum TIdSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };
enum TIdSSLVerifyMode { sslvrfPeer, sslvrfFailIfNoPeerCert, sslvrfClientOnce };
using TIdSSLVerifyModeSet = std::set<TIdSSLVerifyMode>;

// The cipher list a context gets when CipherList() is empty.
inline constexpr const char* IdSSLDefaultCipherList = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH";

// What a TLS connection is to be: files, protocol family, role and peer verification.
//
// Peer verification is on as made (VerifyMode {sslvrfPeer}): the chain must lead to a trusted
// root (the system's store unless told otherwise) and the certificate must name the host the
// handler connects to. A caller who really wants any certificate for any host says so with
// SetVerifyMode({}) (brixa-http's -k); nothing else turns the check off.
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
  // Whether the system's trusted CAs count besides RootCertFile and VerifyDirs (true by
  // default). False trusts those two alone; the system's store is then not even loaded, which
  // with OpenSSL saves parsing the whole CA bundle (tens of milliseconds) per context.
  [[nodiscard]] bool SystemTrust() const noexcept { return systemTrust_; }
  void SetSystemTrust(bool AValue) noexcept { systemTrust_ = AValue; }

 private:
  std::string rootCertFile_;
  std::string certFile_;
  std::string keyFile_;
  TIdSSLVersion method_ = sslvTLSv1;
  TIdSSLMode mode_ = sslmUnassigned;
  TIdSSLVerifyModeSet verifyMode_ = {sslvrfPeer};
  std::int32_t verifyDepth_ = 0;
  std::string verifyDirs_;
  std::string cipherList_;
  std::string pinnedPEM_;
  bool systemTrust_ = true;
};

// A certificate of the peer's chain, valid for the duration of the call that hands it out.
class TIdX509 {
 public:
  explicit TIdX509(ossl::X509* ACertificate) noexcept : certificate_(ACertificate) {}
  // A certificate of a backend without OpenSSL objects, described by its texts.
  struct TTexts {
    std::string Subject, Issuer, NotBefore, NotAfter;
  };
  explicit TIdX509(TTexts ATexts) : texts_(std::move(ATexts)) {}
  // The names in OpenSSL's one-line form ("/CN=localhost").
  [[nodiscard]] std::string Subject() const;
  [[nodiscard]] std::string Issuer() const;
  // Validity limits as OpenSSL prints them ("Dec  7 11:54:17 2027 GMT").
  [[nodiscard]] std::string NotBefore() const;
  [[nodiscard]] std::string NotAfter() const;
  // Null for a certificate described by its texts.
  [[nodiscard]] ossl::X509* Certificate() const noexcept { return certificate_; }

 private:
  ossl::X509* certificate_ = nullptr;
  TTexts texts_;
};

using TCallbackEvent = std::function<void(const std::string& AMsg)>;
using TPasswordEvent = std::function<void(std::string& VPassword)>;
using TVerifyPeerEvent = std::function<bool(TIdX509& ACertificate, bool AOk, int ADepth)>;

// The negotiated cipher of a connection.
struct TIdSSLCipher {
  std::string Name;
  std::string Description;
  int Bits = 0;
  std::string Version;
};

// What -v style reports show of an established session.
struct TIdSSLSessionInfo {
  std::string Version;  // "TLSv1.2"
  std::string CipherName;
  bool HasPeerCertificate = false;
  std::string Subject, Issuer, NotAfter;  // of the peer's certificate, when it sent one
};

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
  // Also a TLS failure (a broken record, a close without close_notify) ends the connection.
  [[nodiscard]] bool Connected() override;
  [[nodiscard]] const std::string& CheckedURI() const noexcept { return checkedURI_; }
  void SetCheckedURI(const std::string& AValue) { checkedURI_ = AValue; }
  // The name TLS sends as SNI and checks the certificate against; empty means Host(). Set
  // when the socket leads elsewhere first (the CONNECT tunnel of an HTTP proxy).
  [[nodiscard]] const std::string& TLSHostName() const noexcept { return tlsHostName_; }
  void SetTLSHostName(const std::string& AValue) { tlsHostName_ = AValue; }

  // The options in force from the next connection on.
  [[nodiscard]] TIdSSLOptions& SSLOptions() noexcept { return options_; }
  [[nodiscard]] const TIdSSLOptions& SSLOptions() const noexcept { return options_; }
  // The established session; empty while no TLS runs.
  [[nodiscard]] virtual std::optional<TIdSSLSessionInfo> Session() const = 0;

  // The handshake's progress ("SSL status: ...") and, once it is done, the cipher
  // ("Cipher: name = ...; description = ...; bits = ...; version = ...; ").
  TCallbackEvent OnStatusInfo;
  TPasswordEvent OnGetPassword;
  // With sslvrfPeer, asked for each certificate of the chain from the top down to the peer's
  // own (depth 0) with the backend's verdict; its answer decides.
  TVerifyPeerEvent OnVerifyPeer;

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
  // Connects the socket in clear text (transparent proxy included) with TLSActive() kept as it
  // was; true when the socket is open for the handshake to follow.
  [[nodiscard]] bool OpenInClear();

  // TLS runs over a non-blocking socket, so a peer that stops inside a record or a handshake
  // message cannot hold a read for ever. Waits until the socket can be read within
  // ReadTimeout() (none set: without limit) or, with AForWrite, written (without limit, as
  // plain sends block); raises EIdReadTimeout "Read timed out." when the read wait runs out.
  void AwaitSocket(bool AForWrite);

  [[nodiscard]] bool SourceReadable(std::int32_t ATimeout) override;
  std::int32_t ReadDataFromSource(std::span<std::uint8_t> ABuffer) override;
  std::int32_t WriteDataToTarget(std::span<const std::uint8_t> ABuffer) override;

 private:
  TIdSSLOptions options_;
  bool tlsActive_ = false;
  std::string checkedURI_;
  std::string tlsHostName_;
};

}  // namespace brixa
