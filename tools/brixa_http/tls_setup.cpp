// Verification settings, the -v session report, and which TLS failure gets which exit code.

#include "tls_setup.h"

#include <cstdio>
#include <string>

#include "terminal_text.h"
#include "transport/tls/ssl_exceptions.h"
#include "transport/tls/ssl_io_handler.h"

namespace brixa::tool {
namespace {

std::string Printable(const std::string& text) {
  return TerminalSafe(text);
}

void PrintSession(const TIdSSLIOHandlerSocketBase& tls) {
  const auto session = tls.Session();
  if (!session) return;
  std::fprintf(stderr, "* TLS connection using %s / %s\n", session->Version.c_str(),
               session->CipherName.c_str());
  if (!session->HasPeerCertificate) {
    std::fprintf(stderr, "* Server sent no certificate\n");
    return;
  }
  std::fprintf(stderr, "* Server certificate:\n*  subject: %s\n*  issuer: %s\n",
               Printable(session->Subject).c_str(), Printable(session->Issuer).c_str());
  std::fprintf(stderr, "*  expire date: %s\n", Printable(session->NotAfter).c_str());
}

}  // namespace

void ConfigureTls(TIdSSLIOHandlerSocketBase& tls, const Options& o) {
  TIdSSLOptions& options = tls.SSLOptions();
  // A handler verifies as made; -k is the explicit request to take any certificate.
  if (o.insecure) options.SetVerifyMode({});
  options.SetRootCertFile(o.caCertFile);
  options.SetVerifyDirs(o.caPath);
  // As curl has it: named CAs replace the system's instead of adding to them.
  options.SetSystemTrust(o.caCertFile.empty() && o.caPath.empty());
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
  if (const auto* system = dynamic_cast<const EIdSchannelError*>(&e)) {
    if (system->VerifyResult() != 0) return kExitCertificate;
    return headersSeen ? kExitTlsReceive : kExitTlsHandshake;
  }
  const auto* tls = dynamic_cast<const EIdOpenSSLError*>(&e);
  if (tls == nullptr) return 0;
  if (tls->VerifyResult() != 0) return kExitCertificate;
  if (dynamic_cast<const EIdOSSLCouldNotLoadSSLLibrary*>(&e) != nullptr) return 0;
  return headersSeen ? kExitTlsReceive : kExitTlsHandshake;
}

}  // namespace brixa::tool
