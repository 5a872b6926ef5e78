// Trust anchors from PEM texts, files and folders, the chain and policy checks, and certificate
// names and texts over CryptoAPI.

#include "transport/tls/ssl_schannel_certificate_windows.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/system/wide_text_windows.h"
#include "transport/tls/ssl_exceptions.h"
#include "transport/tls/ssl_host_match.h"
#include "transport/tls/ssl_schannel_status_windows.h"

namespace brixa::schannel {

namespace {

// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h, which the SSL chain policy honours.
constexpr DWORD kIgnoreCertNameInvalid = 0x00001000;

// A name in the one-line form the OpenSSL handler shows ("/O=Brixa/CN=localhost").
[[nodiscard]] std::string NameText(CERT_NAME_BLOB* name) {
  const DWORD flags =
      CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;
  const DWORD size = CertNameToStrA(X509_ASN_ENCODING, name, flags, nullptr, 0);
  if (size <= 1) return {};
  std::string text(size, '\0');
  CertNameToStrA(X509_ASN_ENCODING, name, flags, text.data(), size);
  text.resize(size - 1);
  std::string oneLine = "/";
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "; ") == 0) {
      oneLine += '/';
      ++i;
    } else {
      oneLine += text[i];
    }
  }
  return oneLine;
}

// A time as OpenSSL prints it ("Dec  7 11:54:17 2027 GMT").
[[nodiscard]] std::string TimeText(const FILETIME& time) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  SYSTEMTIME utc{};
  if (!FileTimeToSystemTime(&time, &utc) || utc.wMonth < 1 || utc.wMonth > 12) return {};
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "%s %2u %02u:%02u:%02u %u GMT", kMonths[utc.wMonth - 1],
                utc.wDay, utc.wHour, utc.wMinute, utc.wSecond, utc.wYear);
  return text.data();
}

// Whether the certificate's subjectAltName names the host: an IP address by an address entry,
// a DNS name by a DNS entry. The subject's common name does not count (RFC 6125, 6.4.4).
[[nodiscard]] bool CertificateNamesHost(PCCERT_CONTEXT certificate, const std::string& host) {
  CERT_INFO* info = certificate->pCertInfo;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &size)) {
    return false;
  }
  const auto address = TlsIPAddressBytes(host);
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    if (address && entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
      const CRYPT_DATA_BLOB& bytes = entry.IPAddress;
      found = bytes.cbData == address->size() &&
              std::equal(address->begin(), address->end(), bytes.pbData);
    } else if (!address && entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
      found = TlsDnsNameMatches(Utf8FromWide(entry.pwszDNSName), host);
    }
  }
  LocalFree(names);
  return found;
}

// ---- trust anchors --------------------------------------------------------------------------

constexpr std::string_view kPemBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kPemEnd = "-----END CERTIFICATE-----";

// Adds every PEM certificate of `text` to the store; answers how many.
int AddPemCertificates(HCERTSTORE store, const std::string& text) {
  int added = 0;
  std::size_t at = 0;
  while ((at = text.find(kPemBegin, at)) != std::string::npos) {
    const std::size_t end = text.find(kPemEnd, at);
    if (end == std::string::npos) break;
    const std::string block = text.substr(at, end + kPemEnd.size() - at);
    at = end + kPemEnd.size();
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_ALWAYS, nullptr)) {
      ++added;
    }
  }
  return added;
}

[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  text = out.str();
  return true;
}

[[noreturn]] void RaiseRootCertError(const std::string& detail) {
  throw EIdOSSLLoadingRootCertError(std::string(RSOSSLLoadingRootCertError) + "\n" + detail);
}

// A chain engine that trusts only the roots the options name (or the system's when they name
// none and allow the system's, then `Engine()` is null: the default engine).
class TrustAnchors {
 public:
  explicit TrustAnchors(const TIdSSLOptions& options) {
    if (options.SystemTrust() && options.PinnedRootCertPEM().empty() &&
        options.RootCertFile().empty() && options.VerifyDirs().empty()) {
      return;
    }
    store_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (store_ == nullptr) RaiseRootCertError("CertOpenStore: " + StatusText(GetLastError()));
    if (!options.PinnedRootCertPEM().empty()) {
      if (AddPemCertificates(store_, options.PinnedRootCertPEM()) == 0) {
        RaiseRootCertError("no certificate in the pinned CA text");
      }
    } else {
      AddFile(options.RootCertFile());
      AddFolder(options.VerifyDirs());
    }
    CERT_CHAIN_ENGINE_CONFIG config{};
    // The size up to the exclusive root fields, whatever the headers' target: crypt32 refuses
    // the Windows 8 size (with dwExclusiveFlags) where it does not know it (E_INVALIDARG).
    config.cbSize =
        offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveTrustedPeople) + sizeof(HCERTSTORE);
    config.hExclusiveRoot = store_;
    if (!CertCreateCertificateChainEngine(&config, &engine_)) {
      RaiseRootCertError("CertCreateCertificateChainEngine: " + StatusText(GetLastError()));
    }
  }
  ~TrustAnchors() {
    if (engine_ != nullptr) CertFreeCertificateChainEngine(engine_);
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  TrustAnchors(const TrustAnchors&) = delete;
  TrustAnchors& operator=(const TrustAnchors&) = delete;
  [[nodiscard]] HCERTCHAINENGINE Engine() const noexcept { return engine_; }

 private:
  void AddFile(const std::string& path) {
    if (path.empty()) return;
    std::string text;
    if (!ReadWholeFile(path, text)) RaiseRootCertError("cannot read " + path);
    if (AddPemCertificates(store_, text) == 0) RaiseRootCertError("no certificate in " + path);
  }
  void AddFolder(const std::string& folder) {
    if (folder.empty()) return;
    std::error_code error;
    int added = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      std::string text;
      if (entry.is_regular_file(error) && ReadWholeFile(entry.path().string(), text)) {
        added += AddPemCertificates(store_, text);
      }
    }
    if (added == 0) RaiseRootCertError("no certificate in " + folder);
  }

  HCERTSTORE store_ = nullptr;
  HCERTCHAINENGINE engine_ = nullptr;
};

// The words OpenSSL's verifier uses for the same refusals, so both handlers read alike.
[[nodiscard]] const char* TrustStatusReason(DWORD errors) {
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return "certificate has expired";
  if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
    return "unable to get local issuer certificate";
  }
  if (errors & CERT_TRUST_IS_REVOKED) return "certificate revoked";
  if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "unsuitable certificate purpose";
  if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "certificate signature failure";
  return "certificate chain not trusted";
}

[[nodiscard]] const char* PolicyReason(DWORD error) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return "certificate has expired";
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
      return "unable to get local issuer certificate";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "hostname mismatch";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "unsuitable certificate purpose";
    default:
      return "certificate verify failed";
  }
}

}  // namespace

TIdX509::TTexts CertificateTexts(PCCERT_CONTEXT certificate) {
  CERT_INFO* info = certificate->pCertInfo;
  return {NameText(&info->Subject), NameText(&info->Issuer), TimeText(info->NotBefore),
          TimeText(info->NotAfter)};
}

ChainPtr BuildServerChain(PCCERT_CONTEXT peer, const TIdSSLOptions& options) {
  const TrustAnchors anchors(options);
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(anchors.Engine(), peer, nullptr, peer->hCertStore, &para, 0, nullptr,
                               &built)) {
    const long error = static_cast<long>(GetLastError());
    Fail(RSOSSLConnectError, "CertGetCertificateChain", error, error);
  }
  return ChainPtr(built);
}

TChainVerdict JudgeServerChain(const CERT_CHAIN_CONTEXT& chain, PCCERT_CONTEXT peer,
                               const std::string& host) {
  const DWORD errors = chain.TrustStatus.dwErrorStatus;
  if (errors != CERT_TRUST_NO_ERROR) return {static_cast<long>(errors), TrustStatusReason(errors)};
  const bool literal = TlsIPAddressBytes(host).has_value();
  {
    std::wstring server = literal ? std::wstring() : WideFromUtf8(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // An address is checked below against the address entries; policies disagree on them.
    ssl.fdwChecks = literal ? kIgnoreCertNameInvalid : 0;
    ssl.pwszServerName = literal ? nullptr : server.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, &chain, &policy, &result)) {
      const long error = static_cast<long>(GetLastError());
      Fail(RSOSSLConnectError, "CertVerifyCertificateChainPolicy", error, error);
    }
    if (result.dwError != 0) {
      return {static_cast<long>(result.dwError), PolicyReason(result.dwError)};
    }
  }
  if (!CertificateNamesHost(peer, host)) {
    return {static_cast<long>(CERT_E_CN_NO_MATCH),
            literal ? "IP address mismatch" : "hostname mismatch"};
  }
  return {};
}

}  // namespace brixa::schannel
