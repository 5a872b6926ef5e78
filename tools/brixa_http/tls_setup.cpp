#include "tls_setup.h"

#include <cstdio>
#include <string>

#include "terminal_text.h"
#include "transport/ssl_openssl.h"

namespace brixa::tool {
namespace {

std::string Printable(const std::string& text) {
  return TerminalSafe(text);
}

void PrintSession(const TIdSSLIOHandlerSocketOpenSSL& tls) {
  const TIdSSLSocket* socket = tls.SSLSocket();
  if (socket == nullptr) return;
  std::fprintf(stderr, "* TLS connection using %s / %s\n", socket->ProtocolVersion().c_str(),
               socket->Cipher().Name.c_str());
  const bool sent = socket->WithPeerCertificate([](TIdX509& certificate) {
    std::fprintf(stderr, "* Server certificate:\n*  subject: %s\n*  issuer: %s\n",
                 Printable(certificate.Subject()).c_str(), Printable(certificate.Issuer()).c_str());
    std::fprintf(stderr, "*  expire date: %s\n", Printable(certificate.NotAfter()).c_str());
  });
  if (!sent) std::fprintf(stderr, "* Server sent no certificate\n");
}

}  // namespace

void ConfigureTls(TIdSSLIOHandlerSocketOpenSSL& tls, const Options& o) {
  TIdSSLOptions& options = tls.SSLOptions();
  if (!o.insecure) options.SetVerifyMode({sslvrfPeer});
  options.SetRootCertFile(o.caCertFile);
  options.SetVerifyDirs(o.caPath);
  if (!o.verbose) return;
  tls.OnStatusInfo = [&tls](const std::string& text) {
    // The cipher line comes once the handshake is done; the state lines before it.
    if (text.rfind("Cipher: ", 0) == 0) {
      PrintSession(tls);
    } else {
      std::fprintf(stderr, "* %s\n", Printable(text).c_str());
    }
  };
}

int TlsExitCode(const Exception& e, bool headersSeen) {
  if (dynamic_cast<const EIdOSSLLoadingRootCertError*>(&e) != nullptr) return kExitCAFile;
  const auto* tls = dynamic_cast<const EIdOpenSSLError*>(&e);
  if (tls == nullptr) return 0;
  if (tls->VerifyResult() != 0) return kExitCertificate;
  if (dynamic_cast<const EIdOSSLCouldNotLoadSSLLibrary*>(&e) != nullptr) return 0;
  return headersSeen ? kExitTlsReceive : kExitTlsHandshake;
}

}  // namespace brixa::tool
