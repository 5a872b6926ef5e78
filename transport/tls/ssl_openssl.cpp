// The OpenSSL handler: context set-up from the options, the OpenSSL callbacks, the handshake
// with peer verification, and TLS reads and writes over the socket.

#include "transport/tls/ssl_openssl.h"

#include <algorithm>
#include <array>
#include <climits>
#include <mutex>
#include <utility>

#include "platform/system/sigpipe_guard.h"
#include "runtime/text/ip_text.h"
#include "runtime/text/text.h"
#include "runtime/time/ticks.h"
#include "transport/socket/stack.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/tls/ssl_library.h"

namespace brixa {

namespace {

using ossl::SSL;

// Index of the connection's application data slot that holds its TIdSSLSocket.
constexpr int kSocketDataIndex = 0;
constexpr unsigned char kSessionIdContext[4] = {1, 0, 0, 0};
// SSL_CTX_ctrl: take a mode flag off again.
constexpr int kCtrlClearMode = 78;
constexpr int kNameBufferSize = 256;
constexpr int kCipherDescriptionSize = 128;
constexpr int kPrintedTimeMax = 64;
// With read-ahead, OpenSSL fills its record buffer with whatever the socket holds: several
// records per receive instead of a header and a body read for each. This size takes four
// full-size records at once; the gain flattens beyond it while the memory per connection
// keeps growing.
constexpr std::size_t kReadAheadBufferSize = 4 * (16384 + 512);

// The callbacks OpenSSL makes are serialised, each by its own lock.
std::mutex gStatusLock;
std::mutex gPasswordLock;
std::mutex gVerifyLock;

const ossl::TOpenSSLApi& Api() {
  return OpenSSLApi();
}

[[nodiscard]] std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// The TIdSSLSocket an OpenSSL connection was bound to in BeginHandshake.
TIdSSLSocket* SocketOf(const SSL* ssl) {
  return static_cast<TIdSSLSocket*>(Api().SSL_get_ex_data(ssl, kSocketDataIndex));
}

void InfoCallback(const SSL* ssl, int /*where*/, int /*ret*/) {
  TIdSSLSocket* socket = SocketOf(ssl);
  if (socket == nullptr || !socket->Owner().OnStatusInfo) return;
  std::lock_guard guard(gStatusLock);
  // Reporting must not disturb the socket error a failing call is about to be judged by.
  const int savedError = GStack().LastSocketError();
  try {
    const char* state = Api().SSL_state_string_long(ssl);
    socket->Owner().OnStatusInfo(std::string("SSL status: \"") + (state ? state : "") + "\"");
  } catch (...) {
    // An exception cannot cross OpenSSL; a handler that fails loses its report.
  }
  GStack().SetLastSocketError(savedError);
}

int PasswordCallback(char* buffer, int size, int /*rwflag*/, void* userdata) {
  if (buffer == nullptr || size <= 0) return 0;
  std::fill_n(buffer, size, '\0');
  auto* owner = static_cast<TIdSSLIOHandlerSocketOpenSSL*>(userdata);
  if (owner == nullptr || !owner->OnGetPassword) return 0;
  std::lock_guard guard(gPasswordLock);
  std::string password;
  try {
    owner->OnGetPassword(password);
  } catch (...) {
    return 0;
  }
  const auto count = std::min<std::size_t>(password.size(), static_cast<std::size_t>(size - 1));
  std::copy_n(password.data(), count, buffer);
  std::fill(password.begin(), password.end(), '\0');
  return static_cast<int>(count);
}

int VerifyCallback(int preverifyOk, ossl::X509_STORE_CTX* store) {
  const auto& api = Api();
  const auto* ssl = static_cast<const SSL*>(
      api.X509_STORE_CTX_get_ex_data(store, api.SSL_get_ex_data_X509_STORE_CTX_idx()));
  TIdSSLSocket* socket = ssl != nullptr ? SocketOf(ssl) : nullptr;
  if (socket == nullptr || !socket->Owner().OnVerifyPeer) return preverifyOk;
  std::lock_guard guard(gVerifyLock);
  const int depth = api.X509_STORE_CTX_get_error_depth(store);
  const std::int32_t limit = socket->Owner().SSLOptions().VerifyDepth();
  bool ok = preverifyOk != 0;
  if (limit > 0 && depth > limit) ok = false;
  TIdX509 certificate(api.X509_STORE_CTX_get_current_cert(store));
  try {
    return socket->Owner().OnVerifyPeer(certificate, ok, depth) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

[[nodiscard]] std::string NameText(ossl::X509_NAME* name) {
  if (name == nullptr) return {};
  std::array<char, kNameBufferSize> text{};
  Api().X509_NAME_oneline(name, text.data(), static_cast<int>(text.size()));
  return text.data();
}

[[nodiscard]] std::string TimeText(const ossl::ASN1_TIME* time) {
  const auto& api = Api();
  if (time == nullptr) return {};
  ossl::BIO* bio = api.BIO_new(api.BIO_s_mem());
  if (bio == nullptr) return {};
  std::array<char, kPrintedTimeMax> text{};
  int length = 0;
  if (api.ASN1_TIME_print(bio, time) > 0) {
    length = api.BIO_read(bio, text.data(), static_cast<int>(text.size()) - 1);
  }
  api.BIO_free(bio);
  return std::string(text.data(), static_cast<std::size_t>(std::max(length, 0)));
}

[[nodiscard]] bool IsIPLiteral(const std::string& host) {
  return TIdStack::IsIPv4Literal(host) || !CanonicalIPv6(host).empty();
}

// The name the certificate must carry, without the brackets of an IPv6 literal.
[[nodiscard]] std::string BareHost(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

[[nodiscard]] int VerifyFlags(const TIdSSLVerifyModeSet& modes) {
  int flags = 0;
  if (modes.contains(sslvrfPeer)) flags |= ossl::SSL_VERIFY_PEER;
  if (modes.contains(sslvrfFailIfNoPeerCert)) flags |= ossl::SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
  if (modes.contains(sslvrfClientOnce)) flags |= ossl::SSL_VERIFY_CLIENT_ONCE;
  return flags;
}

// The OpenSSL method for the family and role; null when this OpenSSL does not offer it.
[[nodiscard]] const ossl::SSL_METHOD* ChooseMethod(TIdSSLVersion method, TIdSSLMode mode) {
  const auto& api = Api();
  using MethodFn = const ossl::SSL_METHOD* (*)();
  MethodFn client = nullptr;
  MethodFn server = nullptr;
  MethodFn both = nullptr;
  switch (method) {
    case sslvSSLv2:
      client = api.SSLv2_client_method, server = api.SSLv2_server_method, both = api.SSLv2_method;
      break;
    case sslvSSLv3:
      client = api.SSLv3_client_method, server = api.SSLv3_server_method, both = api.SSLv3_method;
      break;
    case sslvSSLv23:
    case sslvTLSv1:
      // Both take the version-flexible method: it negotiates the newest version the two sides
      // share; sslvTLSv1 only rules out what came before TLS 1.0.
      client = api.TLS_client_method, server = api.TLS_server_method, both = api.TLS_method;
      break;
    default:
      return nullptr;
  }
  MethodFn chosen = mode == sslmClient ? client : mode == sslmServer ? server : both;
  return chosen != nullptr ? chosen() : nullptr;
}

// Raises E with the text, a line break and the first error OpenSSL queued.
template <class E>
[[noreturn]] void RaiseWithQueuedError(const char* text) {
  throw E(std::string(text) + "\n" + TakeOpenSSLErrorText());
}

// The exception class a failure of an OpenSSL call is raised as.
enum class Failure { kConnect, kAccept, kRead, kWrite };

// One OpenSSL call that reads or writes the socket, with the thread's socket error cleared
// before it and read right after a failure (into `socketError`, 0 after a success): the
// failure is then judged by the socket's own error, never by one an earlier call left.
template <class Call>
[[nodiscard]] int OverSocket(Call&& call, int& socketError) {
  GStack().ClearSystemSocketError();
  const int result = call();
  socketError = result > 0 ? 0 : GStack().TakeSystemSocketError();
  return result;
}

// Raises what an OpenSSL call that answered `result` failed with: the operation's text, a line
// break and OpenSSL's own words (and, after a failed certificate check, its verdict). A
// failure of the socket under it (`socketError`, as OverSocket read it) is raised as the
// socket error it is: a reset is 10054 whatever OpenSSL made of it.
[[noreturn]] void RaiseSSLFailure(const std::string& operation, Failure kind, const SSL* ssl,
                                  int result, int socketError) {
  const auto& api = Api();
  const int code = api.SSL_get_error(ssl, result);
  const long verify = kind == Failure::kConnect ? api.SSL_get_verify_result(ssl) : ossl::X509_V_OK;
  std::string queued = TakeOpenSSLErrorText();
  if (verify != ossl::X509_V_OK) {
    const char* reason = api.X509_verify_cert_error_string(verify);
    queued += std::string(queued.empty() ? "" : " ") + "(" + (reason ? reason : "") + ")";
  }
  const auto raiseAs = [&](const std::string& detail) -> void {
    const std::string message = operation + "\n" + detail;
    switch (kind) {
      case Failure::kConnect:
        throw EIdOSSLConnectError(message, code, result, verify);
      case Failure::kAccept:
        throw EIdOSSLAcceptError(message, code, result, verify);
      default:
        throw EIdOpenSSLAPISSLError(message, code, result, verify);
    }
  };
  if (code == ossl::SSL_ERROR_SYSCALL && socketError != 0) GStack().ThrowSocketError(socketError);
  if (code == ossl::SSL_ERROR_SSL || (code == ossl::SSL_ERROR_SYSCALL && !queued.empty())) {
    throw EIdOSSLUnderlyingCryptoError(operation + "\n" + queued, code, result, verify);
  }
  // The peer closed (or the call failed without a socket error): the stream ended where the
  // protocol does not allow it.
  if (code == ossl::SSL_ERROR_SYSCALL) raiseAs(RSSSLEOFViolation);
  raiseAs("SSL_get_error() = " + std::to_string(code));
  throw EIdOpenSSLError(operation);  // not reached: raiseAs always raises
}

}  // namespace

// ---- TIdX509 --------------------------------------------------------------------------------

std::string TIdX509::Subject() const {
  return certificate_ ? NameText(Api().X509_get_subject_name(certificate_)) : texts_.Subject;
}

std::string TIdX509::Issuer() const {
  return certificate_ ? NameText(Api().X509_get_issuer_name(certificate_)) : texts_.Issuer;
}

std::string TIdX509::NotBefore() const {
  return certificate_ ? TimeText(Api().X509_get0_notBefore(certificate_)) : texts_.NotBefore;
}

std::string TIdX509::NotAfter() const {
  return certificate_ ? TimeText(Api().X509_get0_notAfter(certificate_)) : texts_.NotAfter;
}

// ---- TIdSSLContext --------------------------------------------------------------------------

TIdSSLContext::TIdSSLContext() {
  if (!LoadTlsLibrary()) throw EIdOSSLCouldNotLoadSSLLibrary(RSOSSLCouldNotLoadSSLLibrary);
}

TIdSSLContext::~TIdSSLContext() {
  if (context_ != nullptr) Api().SSL_CTX_free(context_);
}

void TIdSSLContext::PrepareContext(TIdSSLMode ARole, TIdSSLIOHandlerSocketOpenSSL* AOwner) {
  const auto& api = Api();
  if (context_ != nullptr) api.SSL_CTX_free(context_);
  context_ = nullptr;
  if (Options.Mode() == sslmUnassigned) Options.SetMode(ARole);
  if (Options.Mode() == sslmUnassigned) throw EIdOSSLModeNotSet(RSOSSLModeNotSet);
  const ossl::SSL_METHOD* method = ChooseMethod(Options.Method(), Options.Mode());
  if (method == nullptr) throw EIdOSSLGetMethodError(RSOSSLGetMethodError);
  context_ = api.SSL_CTX_new(method);
  if (context_ == nullptr) throw EIdOSSLCreatingContextError(RSOSSLCreatingContextError);
  // Automatic retry would make a read wait for application data after a record that carries
  // none (a session ticket), so a readiness probe on an idle connection could block; reads
  // handle the retry themselves.
  api.SSL_CTX_ctrl(context_, kCtrlClearMode, ossl::SSL_MODE_AUTO_RETRY, nullptr);
  EnableReadAhead();
  if (Options.Method() == sslvTLSv1) {
    api.SSL_CTX_ctrl(context_, ossl::SSL_CTRL_SET_MIN_PROTO_VERSION, ossl::TLS1_VERSION, nullptr);
  }
  api.SSL_CTX_set_default_passwd_cb(context_, &PasswordCallback);
  api.SSL_CTX_set_default_passwd_cb_userdata(context_, AOwner);
  if (Options.PinnedRootCertPEM().empty()) {
    if (Options.SystemTrust()) api.SSL_CTX_set_default_verify_paths(context_);
    ApplyFiles();
  } else {
    ApplyPinnedRoots();
    Options.SetRootCertFile("");
    Options.SetVerifyDirs("");
    ApplyFiles();  // the own certificate and key, when there are any
  }
  if (StatusOn) api.SSL_CTX_set_info_callback(context_, &InfoCallback);
  const std::string ciphers =
      Options.CipherList().empty() ? IdSSLDefaultCipherList : Options.CipherList();
  if (api.SSL_CTX_set_cipher_list(context_, ciphers.c_str()) <= 0) {
    RaiseWithQueuedError<EIdOSSLLoadingKeyError>(RSOSSLSettingCipherError);
  }
  if (!Options.VerifyMode().empty()) {
    api.SSL_CTX_set_verify(context_, VerifyFlags(Options.VerifyMode()),
                           VerifyOn ? &VerifyCallback : nullptr);
    // 0 leaves OpenSSL's own limit: a limit of 0 would refuse every chain with a CA in it.
    if (Options.VerifyDepth() > 0) api.SSL_CTX_set_verify_depth(context_, Options.VerifyDepth());
  }
  if (Options.Mode() == sslmServer) {
    api.SSL_CTX_set_session_id_context(context_, kSessionIdContext, sizeof kSessionIdContext);
  }
  if (!Options.RootCertFile().empty()) {
    api.SSL_CTX_set_client_CA_list(context_,
                                   api.SSL_load_client_CA_file(Options.RootCertFile().c_str()));
  }
}

// Only where OpenSSL can say that it holds bytes not yet read: records buffered ahead are no
// longer in the socket, and a wait on the socket alone would miss them.
void TIdSSLContext::EnableReadAhead() {
  const auto& api = Api();
  if (api.SSL_has_pending == nullptr) return;
  api.SSL_CTX_ctrl(context_, ossl::SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
  if (api.SSL_CTX_set_default_read_buffer_len != nullptr) {
    api.SSL_CTX_set_default_read_buffer_len(context_, kReadAheadBufferSize);
  }
}

void TIdSSLContext::ApplyFiles() {
  const auto& api = Api();
  api.ERR_clear_error();
  if (!Options.RootCertFile().empty() &&
      api.SSL_CTX_load_verify_locations(context_, Options.RootCertFile().c_str(), nullptr) <= 0) {
    RaiseWithQueuedError<EIdOSSLLoadingRootCertError>(RSOSSLLoadingRootCertError);
  }
  // A folder of CA certificates under their hash names, as OpenSSL's c_rehash leaves them.
  if (!Options.VerifyDirs().empty() &&
      api.SSL_CTX_load_verify_locations(context_, nullptr, Options.VerifyDirs().c_str()) <= 0) {
    RaiseWithQueuedError<EIdOSSLLoadingRootCertError>(RSOSSLLoadingRootCertError);
  }
  if (!Options.CertFile().empty() &&
      api.SSL_CTX_use_certificate_file(context_, Options.CertFile().c_str(),
                                       ossl::SSL_FILETYPE_PEM) <= 0) {
    RaiseWithQueuedError<EIdOSSLLoadingCertError>(RSOSSLLoadingCertError);
  }
  if (!Options.KeyFile().empty() &&
      (api.SSL_CTX_use_PrivateKey_file(context_, Options.KeyFile().c_str(),
                                       ossl::SSL_FILETYPE_PEM) <= 0 ||
       api.SSL_CTX_check_private_key(context_) <= 0)) {
    RaiseWithQueuedError<EIdOSSLLoadingKeyError>(RSOSSLLoadingKeyError);
  }
}

void TIdSSLContext::ApplyPinnedRoots() {
  const auto& api = Api();
  const std::string& pem = Options.PinnedRootCertPEM();
  ossl::BIO* bio = api.BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bio == nullptr) RaiseWithQueuedError<EIdOSSLLoadingRootCertError>(RSOSSLLoadingRootCertError);
  ossl::X509_STORE* store = api.SSL_CTX_get_cert_store(context_);
  int added = 0;
  while (ossl::X509* certificate = api.PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    if (api.X509_STORE_add_cert(store, certificate) == 1) ++added;
    api.X509_free(certificate);
  }
  api.BIO_free(bio);
  // The end of the text leaves a "no start line" error behind; only a text without any
  // certificate is a failure.
  if (added == 0) RaiseWithQueuedError<EIdOSSLLoadingRootCertError>(RSOSSLLoadingRootCertError);
  api.ERR_clear_error();
}

// ---- TIdSSLSocket ---------------------------------------------------------------------------

TIdSSLSocket::TIdSSLSocket(TIdSSLContext& AContext, TIdSSLIOHandlerSocketOpenSSL& AOwner)
    : ssl_(Api().SSL_new(AContext.Context())), owner_(AOwner) {
  if (ssl_ == nullptr) {
    RaiseWithQueuedError<EIdOSSLCreatingContextError>(RSOSSLCreatingContextError);
  }
}

TIdSSLSocket::~TIdSSLSocket() {
  Api().SSL_free(ssl_);
}

TIdSSLCipher TIdSSLSocket::Cipher() const {
  const auto& api = Api();
  TIdSSLCipher cipher;
  const ossl::SSL_CIPHER* current = api.SSL_get_current_cipher(ssl_);
  if (current == nullptr) return cipher;
  const char* name = api.SSL_CIPHER_get_name(current);
  cipher.Name = name ? name : "";
  std::array<char, kCipherDescriptionSize> description{};
  api.SSL_CIPHER_description(current, description.data(), static_cast<int>(description.size()));
  cipher.Description = Trimmed(description.data());
  int algorithmBits = 0;
  cipher.Bits = api.SSL_CIPHER_get_bits(current, &algorithmBits);
  const char* version = api.SSL_CIPHER_get_version(current);
  cipher.Version = version ? version : "";
  return cipher;
}

std::string TIdSSLSocket::ProtocolVersion() const {
  const char* version = Api().SSL_get_version(ssl_);
  return version ? version : "";
}

bool TIdSSLSocket::WithPeerCertificate(const std::function<void(TIdX509&)>& AUse) const {
  ossl::X509* peer = Api().SSL_get1_peer_certificate(ssl_);
  if (peer == nullptr) return false;
  TIdX509 certificate(peer);
  try {
    AUse(certificate);
  } catch (...) {
    Api().X509_free(peer);
    throw;
  }
  Api().X509_free(peer);
  return true;
}

// ---- TIdSSLIOHandlerSocketOpenSSL -----------------------------------------------------------

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL(TComponent* owner)
    : TIdSSLIOHandlerSocketBase(owner) {}

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() {
  FreeTls();
}

void TIdSSLIOHandlerSocketOpenSSL::OpenHandler() {
  FreeTls();
  if (!OpenInClear()) return;
  FireEvent(OnBeforeTls);
  StartTls();
}

void TIdSSLIOHandlerSocketOpenSSL::StartTls() {
  // Clear text needs neither the library nor a context: loading and configuring OpenSSL costs
  // a plain-http run tens of milliseconds and megabytes. The context is made with the first
  // handshake.
  if (TLSActive()) BeginHandshake();
}

void TIdSSLIOHandlerSocketOpenSSL::MakeContext() {
  auto context = std::make_unique<TIdSSLContext>();
  context->Options = SSLOptions();
  context->VerifyOn = static_cast<bool>(OnVerifyPeer);
  context->StatusOn = static_cast<bool>(OnStatusInfo);
  context->PrepareContext(sslmClient, this);
  context_ = std::move(context);
}

std::optional<TIdSSLSessionInfo> TIdSSLIOHandlerSocketOpenSSL::Session() const {
  if (!TlsRunning()) return std::nullopt;
  TIdSSLSessionInfo info;
  info.Version = socket_->ProtocolVersion();
  info.CipherName = socket_->Cipher().Name;
  info.HasPeerCertificate = socket_->WithPeerCertificate([&info](TIdX509& certificate) {
    info.Subject = certificate.Subject();
    info.Issuer = certificate.Issuer();
    info.NotAfter = certificate.NotAfter();
  });
  return info;
}

bool TIdSSLIOHandlerSocketOpenSSL::TlsRunning() const noexcept {
  return socket_ != nullptr && socket_->Established;
}

void TIdSSLIOHandlerSocketOpenSSL::BeginHandshake() {
  if (context_ == nullptr) MakeContext();
  const auto& api = Api();
  socket_.reset();
  socket_ = std::make_unique<TIdSSLSocket>(*context_, *this);
  SSL* ssl = socket_->SSL();
  api.ERR_clear_error();
  if (api.SSL_set_ex_data(ssl, kSocketDataIndex, socket_.get()) <= 0) {
    RaiseWithQueuedError<EIdOSSLDataBindingError>(RSOSSLDataBindingError);
  }
  if (api.SSL_set_fd(ssl, Binding()->SocketId()) <= 0) {
    RaiseWithQueuedError<EIdOSSLFDSetError>(RSOSSLFDSetError);
  }
  CheckHostOnHandshake();
  Binding()->SetBlocking(false);
  int result = 0;
  int socketError = 0;
  for (;;) {
    {
      TSigPipeGuard guard;
      result = OverSocket([&] { return api.SSL_connect(ssl); }, socketError);
    }
    if (result > 0) break;
    const int code = api.SSL_get_error(ssl, result);
    if (code != ossl::SSL_ERROR_WANT_READ && code != ossl::SSL_ERROR_WANT_WRITE) {
      RaiseSSLFailure(RSOSSLConnectError, Failure::kConnect, ssl, result, socketError);
    }
    AwaitSocket(code == ossl::SSL_ERROR_WANT_WRITE);
  }
  socket_->Established = true;
  socket_->Healthy = true;
  SetTLSActiveFlag(true);
  ReportCipher();
}

// SNI for a host name (never for an address, RFC 6066, 3), and with peer verification the
// name or address the certificate must carry.
void TIdSSLIOHandlerSocketOpenSSL::CheckHostOnHandshake() {
  const auto& api = Api();
  SSL* ssl = socket_->SSL();
  const std::string host = BareHost(TLSHostName().empty() ? Host() : TLSHostName());
  const bool literal = IsIPLiteral(host);
  if (!literal && !host.empty()) {
    api.SSL_ctrl(ssl, ossl::SSL_CTRL_SET_TLSEXT_HOSTNAME, ossl::TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(host.c_str()));
  }
  if (!SSLOptions().VerifyMode().contains(sslvrfPeer)) return;
  ossl::X509_VERIFY_PARAM* param = api.SSL_get0_param(ssl);
  api.X509_VERIFY_PARAM_set_hostflags(param, ossl::X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                                 ossl::X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
  const int set = literal ? api.X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                          : api.X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
  if (set != 1) {
    RaiseWithQueuedError<EIdOSSLConnectError>(RSOSSLConnectError);
  }
}

void TIdSSLIOHandlerSocketOpenSSL::ReportCipher() {
  if (!OnStatusInfo) return;
  const TIdSSLCipher cipher = socket_->Cipher();
  OnStatusInfo("Cipher: name = " + cipher.Name + "; description = " + cipher.Description +
               "; bits = " + std::to_string(cipher.Bits) + "; version = " + cipher.Version + "; ");
}

void TIdSSLIOHandlerSocketOpenSSL::FreeTls() noexcept {
  socket_.reset();
  context_.reset();
}

void TIdSSLIOHandlerSocketOpenSSL::CloseHandler() {
  if (socket_ != nullptr && socket_->Healthy && SourceIsAvailable()) {
    TSigPipeGuard guard;
    // One close_notify, without waiting for the peer's: the socket closes next anyway.
    (void)Api().SSL_shutdown(socket_->SSL());
    Api().ERR_clear_error();
  }
  FreeTls();
  TIdSSLIOHandlerSocketBase::CloseHandler();
}

bool TIdSSLIOHandlerSocketOpenSSL::TlsReadable(std::int32_t ATimeout) {
  const auto& api = Api();
  SSL* ssl = socket_->SSL();
  if (socket_->EndAhead || api.SSL_pending(ssl) > 0) return true;
  // Records read ahead are looked at before the socket; when they hold no whole record, the
  // rest has to come through the socket.
  bool tryBuffered = HoldsUnreadBytes(ssl);
  const std::uint32_t started = TickCountMs();
  for (;;) {
    std::int32_t wait = ATimeout;
    if (ATimeout > 0) {
      const auto elapsed = static_cast<std::int64_t>(TickDiff(started, TickCountMs()));
      wait = static_cast<std::int32_t>(std::max<std::int64_t>(0, ATimeout - elapsed));
    }
    if (!tryBuffered && !TIdIOHandlerStack::SourceReadable(wait)) return false;
    tryBuffered = false;
    // The socket holds a record; only application data (or the end) makes a read worth it.
    std::uint8_t probe = 0;
    const int peeked = [&] {
      TSigPipeGuard guard;
      return api.SSL_peek(ssl, &probe, 1);
    }();
    if (peeked > 0) return true;
    const int code = api.SSL_get_error(ssl, peeked);
    if (code != ossl::SSL_ERROR_WANT_READ && code != ossl::SSL_ERROR_WANT_WRITE) return true;
    // A reply the protocol owes the peer (a key update) waits for room to send it.
    if (code == ossl::SSL_ERROR_WANT_WRITE) AwaitSocket(true);
    if (ATimeout == 0) return false;
  }
}

bool TIdSSLIOHandlerSocketOpenSSL::HoldsUnreadBytes(const SSL* ssl) const {
  const auto& api = Api();
  return api.SSL_pending(ssl) > 0 || (api.SSL_has_pending != nullptr && api.SSL_has_pending(ssl));
}

// SSL_read hands out one record at a time; records already buffered are taken in the same call,
// so a read fills as much of ABuffer as has arrived. The end of the stream or a failure after
// some bytes waits for the next read, which meets it again (OpenSSL keeps both): the bytes
// before it were whole, authenticated records.
std::int32_t TIdSSLIOHandlerSocketOpenSSL::TlsRead(std::span<std::uint8_t> ABuffer) {
  const auto& api = Api();
  SSL* ssl = socket_->SSL();
  const int wanted = static_cast<int>(std::min<std::size_t>(ABuffer.size(), INT_MAX));
  int total = 0;
  int socketError = 0;
  TSigPipeGuard guard;
  for (;;) {
    const int result = OverSocket(
        [&] { return api.SSL_read(ssl, ABuffer.data() + total, wanted - total); }, socketError);
    if (result > 0) {
      total += result;
      if (total == wanted || !HoldsUnreadBytes(ssl)) return total;
      continue;
    }
    const int code = api.SSL_get_error(ssl, result);
    if (total > 0) {
      socket_->EndAhead = code != ossl::SSL_ERROR_WANT_READ && code != ossl::SSL_ERROR_WANT_WRITE;
      if (socket_->EndAhead) socket_->EndAheadSocketError = socketError;
      return total;
    }
    // The failure met behind bytes already handed out keeps its socket error for this read.
    if (socketError == 0) socketError = std::exchange(socket_->EndAheadSocketError, 0);
    if (code == ossl::SSL_ERROR_ZERO_RETURN) return 0;  // the peer's close_notify
    if (code == ossl::SSL_ERROR_WANT_READ || code == ossl::SSL_ERROR_WANT_WRITE) {
      AwaitSocket(code == ossl::SSL_ERROR_WANT_WRITE);
      continue;
    }
    RaiseIOFailure(RSOSSLReadError, result, socketError);
  }
}

std::int32_t TIdSSLIOHandlerSocketOpenSSL::TlsWrite(std::span<const std::uint8_t> ABuffer) {
  const auto& api = Api();
  SSL* ssl = socket_->SSL();
  std::size_t done = 0;
  while (done < ABuffer.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(ABuffer.size() - done, INT_MAX));
    int result = 0;
    int socketError = 0;
    {
      TSigPipeGuard guard;
      result =
          OverSocket([&] { return api.SSL_write(ssl, ABuffer.data() + done, chunk); }, socketError);
    }
    if (result > 0) {
      done += static_cast<std::size_t>(result);
      continue;
    }
    const int code = api.SSL_get_error(ssl, result);
    if (code == ossl::SSL_ERROR_WANT_READ || code == ossl::SSL_ERROR_WANT_WRITE) {
      AwaitSocket(code == ossl::SSL_ERROR_WANT_WRITE);
      continue;
    }
    RaiseIOFailure(RSOSSLWriteError, result, socketError);
  }
  return static_cast<std::int32_t>(std::min<std::size_t>(done, INT32_MAX));
}

void TIdSSLIOHandlerSocketOpenSSL::RaiseIOFailure(const char* AOperation, int AResult,
                                                  int ASocketError) {
  // Nothing more can be trusted on this connection, and no close_notify goes out over it.
  socket_->Healthy = false;
  const SSL* ssl = socket_->SSL();
  RaiseSSLFailure(AOperation, Failure::kRead, ssl, AResult, ASocketError);
}

}  // namespace brixa
