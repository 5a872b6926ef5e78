#pragma once
// The Schannel handler's certificate side: the roots the TLS options trust, the server's chain
// and the SSL policy over it, the names a certificate holds, and its texts as the OpenSSL
// handler shows them.

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <memory>
#include <string>

#include "transport/tls/ssl_io_handler.h"

namespace brixa::schannel {

struct ChainDeleter {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const noexcept { CertFreeCertificateChain(chain); }
};
struct CertificateDeleter {
  void operator()(PCCERT_CONTEXT certificate) const noexcept {
    CertFreeCertificateContext(certificate);
  }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainDeleter>;
using CertificatePtr = std::unique_ptr<const CERT_CONTEXT, CertificateDeleter>;

// Subject, issuer ("/O=Brixa/CN=localhost") and validity ("Dec  7 11:54:17 2027 GMT").
[[nodiscard]] TIdX509::TTexts CertificateTexts(PCCERT_CONTEXT certificate);

// The chain from `peer` for server authentication, leading only to the roots `options` name
// (PinnedRootCertPEM, else RootCertFile and VerifyDirs) or, when they name none and SystemTrust
// is on, to the system's. Roots that do not load raise EIdOSSLLoadingRootCertError; a chain that
// cannot be built raises EIdSchannelError.
[[nodiscard]] ChainPtr BuildServerChain(PCCERT_CONTEXT peer, const TIdSSLOptions& options);

// Whether a chain proves the server: `code` 0, or the trust status or policy code that refuses
// it, with the reason in the words of OpenSSL's verifier so both handlers read alike.
struct TChainVerdict {
  long code = 0;
  std::string reason;
};
// The chain's own trust bits first (some implementations pass the SSL policy for a chain that
// ends at an unknown CA), then the SSL policy, then the names `peer` holds for `host` (a DNS
// name by a DNS entry, an address only by an address entry; never the common name).
[[nodiscard]] TChainVerdict JudgeServerChain(const CERT_CHAIN_CONTEXT& chain, PCCERT_CONTEXT peer,
                                             const std::string& host);

}  // namespace brixa::schannel
