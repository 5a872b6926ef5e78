// The Schannel handler: credentials, the SSPI handshake, the peer check over the certificate
// unit's verdict, and record encryption and decryption with bounded buffering.

#define SECURITY_WIN32
#include "transport/tls/ssl_schannel_windows.h"

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
#include <string>
#include <vector>

#include "platform/system/wide_text_windows.h"
#include "runtime/time/ticks.h"
#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/stack.h"
#include "transport/socket/stack_consts.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/tls/ssl_exceptions.h"
#include "transport/tls/ssl_host_match.h"
#include "transport/tls/ssl_schannel_certificate_windows.h"
#include "transport/tls/ssl_schannel_status_windows.h"

namespace brixa {

using schannel::BuildServerChain;
using schannel::CertificatePtr;
using schannel::CertificateTexts;
using schannel::ChainPtr;
using schannel::Fail;
using schannel::JudgeServerChain;
using schannel::TChainVerdict;

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
// Verdicts of the handler's own checks, beside the certificate calls' CERT_E_* codes.
constexpr long kNoPeerCertificate = static_cast<long>(SEC_E_NO_CREDENTIALS);
constexpr long kRefusedByApplication = static_cast<long>(CERT_E_CHAINING);

// The name the certificate must carry, without the brackets of an IPv6 literal.
[[nodiscard]] std::string BareHost(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

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
  if (!TlsIPAddressBytes(s.host))
    s.target = WideFromUtf8(s.host);  // SNI names a host, never an address

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
  const ChainPtr chain = BuildServerChain(peer.get(), SSLOptions());
  TChainVerdict verdict = JudgeServerChain(*chain, peer.get(), s.host);
  if (OnVerifyPeer && chain->cChain > 0) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const std::int32_t limit = SSLOptions().VerifyDepth();
    bool accepted = true;
    for (DWORD i = simple->cElement; i-- > 0 && accepted;) {
      const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
      const int depth = static_cast<int>(i);
      bool ok = element->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR &&
                (depth > 0 || verdict.code == 0);
      if (limit > 0 && depth > limit) ok = false;
      TIdX509 certificate(CertificateTexts(element->pCertContext));
      accepted = OnVerifyPeer(certificate, ok, depth);
    }
    if (accepted) return;  // the application's answer decides
    if (verdict.code == 0) verdict = {kRefusedByApplication, "certificate refused by OnVerifyPeer"};
  }
  if (verdict.code != 0) {
    Fail(RSOSSLConnectError, "certificate verify failed (" + verdict.reason + ")", verdict.code,
         verdict.code);
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
