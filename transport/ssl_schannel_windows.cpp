// The Schannel handler: credentials, the SSPI handshake, the handler's own chain and host checks,
// and record encryption and decryption with bounded buffering.

#define SECURITY_WIN32
#include "transport/ssl_schannel_windows.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/ticks.h"
#include "transport/io_handler_exceptions.h"
#include "transport/ssl_exceptions.h"
#include "transport/ssl_host_match.h"
#include "transport/stack.h"
#include "transport/stack_consts.h"
#include "transport/stack_exceptions.h"

namespace brixa {

namespace {

// The largest TLS record on the wire: 16 KiB of plain text, 2 KiB of expansion, the header.
constexpr std::size_t kMaxRecordBytes = 16384 + 2048 + 5;
// What one receive asks the socket for: several records, so bulk data needs few calls.
constexpr std::size_t kReceiveChunk = 64 * 1024;
// Bytes held undecrypted at most: a handshake flight (a long certificate chain) or one record
// beside a chunk already received. A peer that sends more without completing one is refused.
constexpr std::size_t kMaxPendingBytes = 256 * 1024;
constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                  ISC_REQ_MANUAL_CRED_VALIDATION | ISC_REQ_USE_SUPPLIED_CREDS;
// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h, which the SSL chain policy honours.
constexpr DWORD kIgnoreCertNameInvalid = 0x00001000;
// Verdicts of the handler's own checks, beside the certificate calls' CERT_E_* codes.
constexpr long kNoPeerCertificate = static_cast<long>(SEC_E_NO_CREDENTIALS);
constexpr long kRefusedByApplication = static_cast<long>(CERT_E_CHAINING);

// Names of the status codes a handshake or a record meets, for messages a reader can act on.
struct StatusName {
  SECURITY_STATUS status;
  const char* name;
};
constexpr StatusName kStatusNames[] = {
    {SEC_E_INVALID_TOKEN, "SEC_E_INVALID_TOKEN"},
    {SEC_E_INCOMPLETE_MESSAGE, "SEC_E_INCOMPLETE_MESSAGE"},
    {SEC_E_ILLEGAL_MESSAGE, "SEC_E_ILLEGAL_MESSAGE"},
    {SEC_E_ALGORITHM_MISMATCH, "SEC_E_ALGORITHM_MISMATCH"},
    {SEC_E_UNSUPPORTED_FUNCTION, "SEC_E_UNSUPPORTED_FUNCTION"},
    {SEC_E_INTERNAL_ERROR, "SEC_E_INTERNAL_ERROR"},
    {SEC_E_MESSAGE_ALTERED, "SEC_E_MESSAGE_ALTERED"},
    {SEC_E_DECRYPT_FAILURE, "SEC_E_DECRYPT_FAILURE"},
    {SEC_E_CERT_UNKNOWN, "SEC_E_CERT_UNKNOWN"},
    {SEC_E_WRONG_PRINCIPAL, "SEC_E_WRONG_PRINCIPAL"},
    {SEC_E_UNTRUSTED_ROOT, "SEC_E_UNTRUSTED_ROOT"},
    {SEC_E_CERT_EXPIRED, "SEC_E_CERT_EXPIRED"},
    {SEC_E_NO_CREDENTIALS, "SEC_E_NO_CREDENTIALS"},
    {SEC_E_CONTEXT_EXPIRED, "SEC_E_CONTEXT_EXPIRED"},
    {SEC_E_INVALID_HANDLE, "SEC_E_INVALID_HANDLE"},
    {SEC_E_TARGET_UNKNOWN, "SEC_E_TARGET_UNKNOWN"},
    {SEC_I_RENEGOTIATE, "SEC_I_RENEGOTIATE"},
    {SEC_I_CONTEXT_EXPIRED, "SEC_I_CONTEXT_EXPIRED"},
};

[[nodiscard]] std::string StatusText(long status) {
  std::array<char, 16> hex{};
  std::snprintf(hex.data(), hex.size(), "0x%08lX", static_cast<unsigned long>(status));
  std::string text = hex.data();
  for (const StatusName& known : kStatusNames) {
    if (known.status == status) return text + " (" + known.name + ")";
  }
  return text;
}

[[noreturn]] void Fail(const char* operation, const std::string& step, long status,
                       long verify = 0) {
  throw EIdSchannelError(std::string(operation) + "\n" + step + ": " + StatusText(status), status,
                         verify);
}

[[nodiscard]] std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

[[nodiscard]] std::string Narrow(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(size - 1));
  return narrow;
}

// The name the certificate must carry, without the brackets of an IPv6 literal.
[[nodiscard]] std::string BareHost(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

// ---- certificate texts ----------------------------------------------------------------------

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

[[nodiscard]] TIdX509::TTexts CertificateTexts(PCCERT_CONTEXT certificate) {
  CERT_INFO* info = certificate->pCertInfo;
  return {NameText(&info->Subject), NameText(&info->Issuer), TimeText(info->NotBefore),
          TimeText(info->NotAfter)};
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
      found = TlsDnsNameMatches(Narrow(entry.pwszDNSName), host);
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

[[nodiscard]] std::string ProtocolName(DWORD protocol) {
  if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLSv1.3";
  if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLSv1.2";
  if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLSv1.1";
  if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLSv1";
  if (protocol & SP_PROT_SSL3_CLIENT) return "SSLv3";
  return "unknown";
}

[[nodiscard]] std::string AlgorithmName(ALG_ID id) {
  switch (id) {
    case CALG_AES_128:
      return "AES128";
    case CALG_AES_192:
      return "AES192";
    case CALG_AES_256:
      return "AES256";
    case CALG_3DES:
      return "3DES";
    case CALG_RC4:
      return "RC4";
    case CALG_SHA1:
      return "SHA1";
    case CALG_SHA_256:
      return "SHA256";
    case CALG_SHA_384:
      return "SHA384";
    case CALG_SHA_512:
      return "SHA512";
    case CALG_MD5:
      return "MD5";
    case CALG_RSA_KEYX:
      return "RSA";
    case CALG_DH_EPHEM:
      return "DHE";
    case CALG_ECDH_EPHEM:
    case CALG_ECDH:
      return "ECDHE";
    default: {
      std::array<char, 12> hex{};
      std::snprintf(hex.data(), hex.size(), "0x%04X", static_cast<unsigned>(id));
      return hex.data();
    }
  }
}

}  // namespace

// ---- the session ----------------------------------------------------------------------------

struct TIdSSLIOHandlerSocketSchannel::TSession {
  TSession() {
    SecInvalidateHandle(&credentials);
    SecInvalidateHandle(&context);
  }
  ~TSession() {
    if (SecIsValidHandle(&context)) DeleteSecurityContext(&context);
    if (SecIsValidHandle(&credentials)) FreeCredentialsHandle(&credentials);
  }
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  [[nodiscard]] std::size_t PlainLeft() const noexcept { return plain.size() - plainAt; }
  // Makes room for `count` more received bytes, moving what is kept to the front.
  std::uint8_t* Room(std::size_t count) {
    if (incoming.size() < used + count) incoming.resize(used + count);
    return incoming.data() + used;
  }
  // Keeps only the last `extra` of the bytes held (what SECBUFFER_EXTRA reported).
  void KeepLast(std::size_t extra) {
    if (extra > used) extra = used;
    std::memmove(incoming.data(), incoming.data() + used - extra, extra);
    used = extra;
  }

  CredHandle credentials;
  CtxtHandle context;
  std::wstring target;  // the host name sent as SNI; empty for an address
  std::string host;     // what the certificate must name
  SecPkgContext_StreamSizes sizes{};
  std::vector<std::uint8_t> incoming;  // received, not yet decrypted: [0, used)
  std::size_t used = 0;
  std::vector<std::uint8_t> plain;  // decrypted, not yet handed out: [plainAt, size)
  std::size_t plainAt = 0;
  std::vector<std::uint8_t> outgoing;
  bool established = false;
  bool healthy = false;
  bool peerClosed = false;  // close_notify seen
  bool truncated = false;   // the socket ended without close_notify
};

TIdSSLIOHandlerSocketSchannel::TIdSSLIOHandlerSocketSchannel(TComponent* owner)
    : TIdSSLIOHandlerSocketBase(owner) {}

TIdSSLIOHandlerSocketSchannel::~TIdSSLIOHandlerSocketSchannel() {
  FreeSession();
}

void TIdSSLIOHandlerSocketSchannel::FreeSession() noexcept {
  session_.reset();
}

void TIdSSLIOHandlerSocketSchannel::OpenHandler() {
  FreeSession();
  if (!OpenInClear()) return;
  if (TLSActive()) BeginHandshake();
}

void TIdSSLIOHandlerSocketSchannel::CloseHandler() {
  if (session_ != nullptr && session_->healthy && SourceIsAvailable()) {
    TSession& s = *session_;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&s.context, &controlDesc) == SEC_E_OK) {
      SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
      ULONG attributes = 0;
      const SECURITY_STATUS status = InitializeSecurityContextW(
          &s.credentials, &s.context, s.target.empty() ? nullptr : s.target.data(), kContextRequest,
          0, 0, nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
      if (!FAILED(status) && out.pvBuffer != nullptr && out.cbBuffer > 0) {
        // One close_notify, without waiting for the peer's: the socket closes next anyway.
        try {
          SendAll(out.pvBuffer, out.cbBuffer);
        } catch (const Exception&) {
          // A peer that is already gone misses nothing.
        }
      }
      if (out.pvBuffer != nullptr) FreeContextBuffer(out.pvBuffer);
    }
  }
  FreeSession();
  TIdSSLIOHandlerSocketBase::CloseHandler();
}

bool TIdSSLIOHandlerSocketSchannel::TlsRunning() const noexcept {
  return session_ != nullptr && session_->established;
}

std::int32_t TIdSSLIOHandlerSocketSchannel::WaitLimit() const noexcept {
  const std::int32_t limit = ReadTimeout();
  return limit == TimeoutUseDefault || limit == 0 ? TimeoutInfinite : limit;
}

void TIdSSLIOHandlerSocketSchannel::Status(const char* AState) {
  if (OnStatusInfo) OnStatusInfo(std::string("SSL status: \"") + AState + "\"");
}

// ---- handshake ------------------------------------------------------------------------------

void TIdSSLIOHandlerSocketSchannel::BeginHandshake() {
  if (!SSLOptions().CertFile().empty() || !SSLOptions().KeyFile().empty()) {
    throw EIdOSSLLoadingCertError(std::string(RSOSSLLoadingCertError) +
                                  "\nclient certificates are not offered over the system's TLS");
  }
  session_.reset();
  session_ = std::make_unique<TSession>();
  TSession& s = *session_;
  s.host = BareHost(TLSHostName().empty() ? Host() : TLSHostName());
  if (!TlsIPAddressBytes(s.host)) s.target = Wide(s.host);  // SNI names a host, never an address

  SCHANNEL_CRED credentials{};
  credentials.dwVersion = SCHANNEL_CRED_VERSION;
  // The handler checks the peer itself (Schannel is told to leave it), and offers no client
  // certificate of the user's.
  credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TimeStamp expiry{};
  const SECURITY_STATUS acquired =
      AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                nullptr, &credentials, nullptr, nullptr, &s.credentials, &expiry);
  if (acquired != SEC_E_OK) {
    SecInvalidateHandle(&s.credentials);
    Fail(RSOSSLConnectError, "AcquireCredentialsHandle", acquired);
  }
  RunHandshakeLoop(true);
  const SECURITY_STATUS sized =
      QueryContextAttributesW(&s.context, SECPKG_ATTR_STREAM_SIZES, &s.sizes);
  if (sized != SEC_E_OK) Fail(RSOSSLConnectError, "QueryContextAttributes(STREAM_SIZES)", sized);
  if (SSLOptions().VerifyMode().contains(sslvrfPeer)) VerifyPeer();
  s.established = true;
  s.healthy = true;
  SetTLSActiveFlag(true);
  ReportCipher();
}

// Runs InitializeSecurityContext until the handshake is done: from the start (AFirstCall), or
// over the handshake message already held in `incoming` (a renegotiation). Every token it asks
// to send goes out at once; every wait for the peer is limited by WaitLimit().
void TIdSSLIOHandlerSocketSchannel::RunHandshakeLoop(bool AFirstCall) {
  TSession& s = *session_;
  wchar_t* target = s.target.empty() ? nullptr : s.target.data();
  bool needInput = !AFirstCall && s.used == 0;
  bool first = AFirstCall;
  for (;;) {
    if (needInput) {
      const std::size_t got = ReceiveSome(WaitLimit());
      if (got == 0 && !s.truncated) throw EIdReadTimeout(RSReadTimeout);
      if (s.truncated) Fail(RSOSSLConnectError, RSSSLEOFViolation, SEC_E_INCOMPLETE_MESSAGE);
    }
    SecBuffer in[2] = {{static_cast<ULONG>(s.used), SECBUFFER_TOKEN, s.incoming.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 2, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status = InitializeSecurityContextW(
        &s.credentials, first ? nullptr : &s.context, target, kContextRequest, 0, 0,
        first ? nullptr : &inDesc, 0, first ? &s.context : nullptr, &outDesc, &attributes, nullptr);
    if (first) Status("client hello written");
    first = false;
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needInput = true;
      continue;
    }
    // A token goes out even with a failure: then it is the alert that tells the peer why.
    const auto sendAndFree = [&](SecBuffer& buffer, bool mayFail) {
      if (buffer.pvBuffer == nullptr) return;
      try {
        if (buffer.cbBuffer > 0) SendAll(buffer.pvBuffer, buffer.cbBuffer);
      } catch (...) {
        FreeContextBuffer(buffer.pvBuffer);
        buffer.pvBuffer = nullptr;
        if (!mayFail) throw;
        return;
      }
      FreeContextBuffer(buffer.pvBuffer);
      buffer.pvBuffer = nullptr;
    };
    sendAndFree(out[0], FAILED(status));
    if (out[1].pvBuffer != nullptr) FreeContextBuffer(out[1].pvBuffer);
    if (FAILED(status)) Fail(RSOSSLConnectError, "InitializeSecurityContext", status);
    if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
      s.KeepLast(in[1].cbBuffer);
    } else {
      s.used = 0;
    }
    if (status == SEC_E_OK) {
      Status("handshake done");
      return;
    }
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
      // The server asks for a client certificate: go on without one and let it decide.
      needInput = false;
      continue;
    }
    if (status != SEC_I_CONTINUE_NEEDED) {
      Fail(RSOSSLConnectError, "InitializeSecurityContext", status);
    }
    Status("handshake message exchanged");
    needInput = s.used == 0;
  }
}

void TIdSSLIOHandlerSocketSchannel::VerifyPeer() {
  TSession& s = *session_;
  PCCERT_CONTEXT remote = nullptr;
  const SECURITY_STATUS queried =
      QueryContextAttributesW(&s.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
  if (queried != SEC_E_OK || remote == nullptr) {
    Fail(RSOSSLConnectError, "certificate verify failed (no peer certificate)", queried,
         kNoPeerCertificate);
  }
  const CertificatePtr peer(remote);
  const TrustAnchors anchors(SSLOptions());
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(anchors.Engine(), peer.get(), nullptr, peer->hCertStore, &para, 0,
                               nullptr, &built)) {
    const long error = static_cast<long>(GetLastError());
    Fail(RSOSSLConnectError, "CertGetCertificateChain", error, error);
  }
  const ChainPtr chain(built);
  const bool literal = TlsIPAddressBytes(s.host).has_value();

  long verdict = 0;
  std::string reason;
  // The SSL policy alone is not enough: some implementations report success for a chain
  // that ends at an unknown CA, so the chain's own trust bits are checked first.
  const DWORD errors = chain->TrustStatus.dwErrorStatus;
  if (errors != CERT_TRUST_NO_ERROR) {
    verdict = static_cast<long>(errors);
    reason = TrustStatusReason(errors);
  }
  if (verdict == 0) {
    std::wstring server = literal ? std::wstring() : Wide(s.host);
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
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &result)) {
      const long error = static_cast<long>(GetLastError());
      Fail(RSOSSLConnectError, "CertVerifyCertificateChainPolicy", error, error);
    }
    if (result.dwError != 0) {
      verdict = static_cast<long>(result.dwError);
      reason = PolicyReason(result.dwError);
    }
  }
  if (verdict == 0 && !CertificateNamesHost(peer.get(), s.host)) {
    verdict = static_cast<long>(CERT_E_CN_NO_MATCH);
    reason = literal ? "IP address mismatch" : "hostname mismatch";
  }
  if (OnVerifyPeer && chain->cChain > 0) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const std::int32_t limit = SSLOptions().VerifyDepth();
    bool accepted = true;
    for (DWORD i = simple->cElement; i-- > 0 && accepted;) {
      const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
      const int depth = static_cast<int>(i);
      bool ok =
          element->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR && (depth > 0 || verdict == 0);
      if (limit > 0 && depth > limit) ok = false;
      TIdX509 certificate(CertificateTexts(element->pCertContext));
      accepted = OnVerifyPeer(certificate, ok, depth);
    }
    if (accepted) return;  // the application's answer decides
    if (verdict == 0) {
      verdict = kRefusedByApplication;
      reason = "certificate refused by OnVerifyPeer";
    }
  }
  if (verdict != 0) {
    Fail(RSOSSLConnectError, "certificate verify failed (" + reason + ")", verdict, verdict);
  }
  Status("certificate verified");
}

void TIdSSLIOHandlerSocketSchannel::ReportCipher() {
  if (!OnStatusInfo) return;
  SecPkgContext_ConnectionInfo info{};
  if (QueryContextAttributesW(&session_->context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
    return;
  }
  const std::string name = AlgorithmName(info.aiExch) + "-" + AlgorithmName(info.aiCipher) + "-" +
                           AlgorithmName(info.aiHash);
  const std::string description = "Kx=" + AlgorithmName(info.aiExch) +
                                  " Enc=" + AlgorithmName(info.aiCipher) +
                                  " Mac=" + AlgorithmName(info.aiHash);
  OnStatusInfo("Cipher: name = " + name + "; description = " + description +
               "; bits = " + std::to_string(info.dwCipherStrength) +
               "; version = " + ProtocolName(info.dwProtocol) + "; ");
}

std::optional<TIdSSLSessionInfo> TIdSSLIOHandlerSocketSchannel::Session() const {
  if (!TlsRunning()) return std::nullopt;
  TIdSSLSessionInfo result;
  SecPkgContext_ConnectionInfo info{};
  if (QueryContextAttributesW(&session_->context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
    result.Version = ProtocolName(info.dwProtocol);
    result.CipherName = AlgorithmName(info.aiExch) + "-" + AlgorithmName(info.aiCipher) + "-" +
                        AlgorithmName(info.aiHash);
  }
  PCCERT_CONTEXT remote = nullptr;
  if (QueryContextAttributesW(&session_->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) ==
          SEC_E_OK &&
      remote != nullptr) {
    const CertificatePtr peer(remote);
    const TIdX509::TTexts texts = CertificateTexts(peer.get());
    result.HasPeerCertificate = true;
    result.Subject = texts.Subject;
    result.Issuer = texts.Issuer;
    result.NotAfter = texts.NotAfter;
  }
  return result;
}

// ---- records --------------------------------------------------------------------------------

// One receive of what the socket holds within ATimeout, appended to `incoming`. Answers the
// count, 0 on a timeout; the end of the stream sets `truncated` (a clean end came as
// close_notify before it).
std::size_t TIdSSLIOHandlerSocketSchannel::ReceiveSome(std::int32_t ATimeout) {
  TSession& s = *session_;
  if (s.used >= kMaxPendingBytes) {
    s.healthy = false;
    Fail(RSOSSLReadError, "no complete TLS record in " + std::to_string(s.used) + " bytes",
         SEC_E_ILLEGAL_MESSAGE);
  }
  if (!TIdIOHandlerStack::SourceReadable(ATimeout)) return 0;
  std::uint8_t* room = s.Room(kReceiveChunk);
  int got = 0;
  try {
    got = Binding()->Receive(room, static_cast<int>(kReceiveChunk));
  } catch (...) {
    s.healthy = false;
    throw;
  }
  if (got <= 0) {
    s.truncated = true;
    s.healthy = false;
    return 0;
  }
  s.used += static_cast<std::size_t>(got);
  return static_cast<std::size_t>(got);
}

// Decrypts one record of what is held. True when it made progress (plain text, the peer's
// close, a record without data); false when a whole record is not there yet.
bool TIdSSLIOHandlerSocketSchannel::DecryptBuffered() {
  TSession& s = *session_;
  if (s.used == 0 || s.peerClosed) return false;
  SecBuffer buffers[4] = {{static_cast<ULONG>(s.used), SECBUFFER_DATA, s.incoming.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
  const SECURITY_STATUS status = DecryptMessage(&s.context, &desc, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
  if (status == SEC_I_CONTEXT_EXPIRED) {
    s.peerClosed = true;
    s.used = 0;
    return true;
  }
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
    s.healthy = false;
    Fail(RSOSSLReadError, "DecryptMessage", status);
  }
  const SecBuffer* data = nullptr;
  const SecBuffer* extra = nullptr;
  for (const SecBuffer& buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA && data == nullptr) data = &buffer;
    if (buffer.BufferType == SECBUFFER_EXTRA && extra == nullptr) extra = &buffer;
  }
  const std::size_t extraBytes = extra != nullptr ? extra->cbBuffer : 0;
  if (data != nullptr && data->cbBuffer > 0) {
    const auto* bytes = static_cast<const std::uint8_t*>(data->pvBuffer);
    s.plain.erase(s.plain.begin(), s.plain.begin() + static_cast<std::ptrdiff_t>(s.plainAt));
    s.plainAt = 0;
    s.plain.insert(s.plain.end(), bytes, bytes + data->cbBuffer);
  }
  const bool hadData = data != nullptr && data->cbBuffer > 0;
  s.KeepLast(extraBytes);
  if (status == SEC_I_RENEGOTIATE) {
    Renegotiate();
    return true;
  }
  // A close_notify can also come back as a record without data and nothing after it.
  if (!hadData && extraBytes == 0) s.peerClosed = true;
  return true;
}

// The peer sent a handshake message over the established session (a renegotiation request,
// or a post-handshake message of TLS 1.3): it is run to its end, and a certificate it brings
// is checked as the first one was.
void TIdSSLIOHandlerSocketSchannel::Renegotiate() {
  Status("renegotiation");
  try {
    RunHandshakeLoop(false);
    if (SSLOptions().VerifyMode().contains(sslvrfPeer)) VerifyPeer();
  } catch (...) {
    session_->healthy = false;
    throw;
  }
}

bool TIdSSLIOHandlerSocketSchannel::Pump(std::int32_t ATimeout) {
  TSession& s = *session_;
  const std::uint32_t started = TickCountMs();
  for (;;) {
    while (s.PlainLeft() == 0 && !s.peerClosed && DecryptBuffered()) {
    }
    if (s.PlainLeft() > 0 || s.peerClosed || s.truncated) return true;
    std::int32_t wait = ATimeout;
    if (ATimeout > 0) {
      const auto elapsed = static_cast<std::int64_t>(TickDiff(started, TickCountMs()));
      if (elapsed >= ATimeout) return false;
      wait = static_cast<std::int32_t>(ATimeout - elapsed);
    }
    if (ReceiveSome(wait) == 0 && !s.truncated) return false;
  }
}

bool TIdSSLIOHandlerSocketSchannel::TlsReadable(std::int32_t ATimeout) {
  return Pump(ATimeout);
}

std::int32_t TIdSSLIOHandlerSocketSchannel::TlsRead(std::span<std::uint8_t> ABuffer) {
  TSession& s = *session_;
  if (s.PlainLeft() == 0 && !s.peerClosed && !s.truncated && !Pump(WaitLimit())) {
    throw EIdReadTimeout(RSReadTimeout);
  }
  if (s.PlainLeft() > 0) {
    const std::size_t count = std::min(ABuffer.size(), s.PlainLeft());
    std::memcpy(ABuffer.data(), s.plain.data() + s.plainAt, count);
    s.plainAt += count;
    if (s.plainAt == s.plain.size()) {
      s.plain.clear();
      s.plainAt = 0;
    }
    return static_cast<std::int32_t>(count);
  }
  if (s.peerClosed) return 0;
  s.healthy = false;
  Fail(RSOSSLReadError, RSSSLEOFViolation, SEC_E_INCOMPLETE_MESSAGE);
}

std::int32_t TIdSSLIOHandlerSocketSchannel::TlsWrite(std::span<const std::uint8_t> ABuffer) {
  TSession& s = *session_;
  const std::size_t header = s.sizes.cbHeader;
  const std::size_t trailer = s.sizes.cbTrailer;
  const std::size_t most = std::max<std::size_t>(s.sizes.cbMaximumMessage, 1);
  std::size_t done = 0;
  while (done < ABuffer.size()) {
    const std::size_t chunk = std::min(most, ABuffer.size() - done);
    s.outgoing.resize(header + chunk + trailer);
    std::memcpy(s.outgoing.data() + header, ABuffer.data() + done, chunk);
    SecBuffer buffers[4] = {
        {static_cast<ULONG>(header), SECBUFFER_STREAM_HEADER, s.outgoing.data()},
        {static_cast<ULONG>(chunk), SECBUFFER_DATA, s.outgoing.data() + header},
        {static_cast<ULONG>(trailer), SECBUFFER_STREAM_TRAILER, s.outgoing.data() + header + chunk},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = EncryptMessage(&s.context, 0, &desc, 0);
    if (status != SEC_E_OK) {
      s.healthy = false;
      Fail(RSOSSLWriteError, "EncryptMessage", status);
    }
    try {
      SendAll(s.outgoing.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    } catch (...) {
      s.healthy = false;
      throw;
    }
    done += chunk;
  }
  return static_cast<std::int32_t>(std::min<std::size_t>(done, INT32_MAX));
}

void TIdSSLIOHandlerSocketSchannel::SendAll(const void* AData, std::size_t ASize) {
  const auto* bytes = static_cast<const std::uint8_t*>(AData);
  while (ASize > 0) {
    const int chunk = static_cast<int>(std::min<std::size_t>(ASize, kMaxRecordBytes * 4));
    const int sent = GStack().RawSend(Binding()->SocketId(), bytes, chunk, 0);
    if (sent <= 0) GStack().ThrowSocketError(GStack().LastSocketError());
    bytes += sent;
    ASize -= static_cast<std::size_t>(sent);
  }
}

}  // namespace brixa
