// Binding OpenSSL's entry points by name (under either of a release's names), its initialisation,
// and its error texts.

#include "transport/tls/ssl_library.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace brixa {

namespace {

using ossl::TOpenSSLApi;
constexpr TOpenSSLModule kSsl = TOpenSSLModule::omSSL;
constexpr TOpenSSLModule kCrypto = TOpenSSLModule::omCrypto;
// OpenSSL's error strings fit in 256 bytes ("error:<code>:<lib>:<func>:<reason>").
constexpr std::size_t kErrorTextSize = 256;

std::mutex gTlsLoadLock;
TOpenSSLApi gApi;  // written under gTlsLoadLock before gTlsReady is set
std::atomic<bool> gTlsReady{false};

// The lock table of releases that leave thread safety to the caller (before 1.1).
std::unique_ptr<std::mutex[]> gLocks;

void LockingCallback(int mode, int n, const char* /*file*/, int /*line*/) {
  if ((mode & ossl::CRYPTO_LOCK) != 0) {
    gLocks[static_cast<std::size_t>(n)].lock();
  } else {
    gLocks[static_cast<std::size_t>(n)].unlock();
  }
}

template <class Fn>
bool Bind(TOpenSSLModule module, const char* name, Fn& slot) {
  slot = OpenSSLFunction<Fn>(module, name);
  return slot != nullptr;
}

// The first of two names a release exports the entry point under.
template <class Fn>
bool BindEither(TOpenSSLModule module, const char* name, const char* older, Fn& slot) {
  return Bind(module, name, slot) || Bind(module, older, slot);
}

#define BRIXA_OPTIONAL(module, fn) (void)Bind(module, #fn, api.fn)
#define BRIXA_REQUIRED(module, fn) ok = Bind(module, #fn, api.fn) && ok

bool BindSsl(TOpenSSLApi& api) {
  bool ok = true;
  BRIXA_OPTIONAL(kSsl, OPENSSL_init_ssl);
  BRIXA_OPTIONAL(kSsl, SSL_library_init);
  BRIXA_OPTIONAL(kSsl, SSL_load_error_strings);
  ok = BindEither(kSsl, "TLS_client_method", "SSLv23_client_method", api.TLS_client_method) && ok;
  ok = BindEither(kSsl, "TLS_server_method", "SSLv23_server_method", api.TLS_server_method) && ok;
  ok = BindEither(kSsl, "TLS_method", "SSLv23_method", api.TLS_method) && ok;
  BRIXA_OPTIONAL(kSsl, SSLv2_client_method);
  BRIXA_OPTIONAL(kSsl, SSLv2_server_method);
  BRIXA_OPTIONAL(kSsl, SSLv2_method);
  BRIXA_OPTIONAL(kSsl, SSLv3_client_method);
  BRIXA_OPTIONAL(kSsl, SSLv3_server_method);
  BRIXA_OPTIONAL(kSsl, SSLv3_method);
  BRIXA_REQUIRED(kSsl, SSL_CTX_new);
  BRIXA_REQUIRED(kSsl, SSL_CTX_free);
  BRIXA_REQUIRED(kSsl, SSL_CTX_ctrl);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_default_passwd_cb);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_default_passwd_cb_userdata);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_default_verify_paths);
  BRIXA_REQUIRED(kSsl, SSL_CTX_load_verify_locations);
  BRIXA_REQUIRED(kSsl, SSL_CTX_use_certificate_file);
  BRIXA_REQUIRED(kSsl, SSL_CTX_use_PrivateKey_file);
  BRIXA_REQUIRED(kSsl, SSL_CTX_check_private_key);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_info_callback);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_cipher_list);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_verify);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_verify_depth);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_session_id_context);
  BRIXA_REQUIRED(kSsl, SSL_CTX_set_client_CA_list);
  BRIXA_REQUIRED(kSsl, SSL_load_client_CA_file);
  BRIXA_REQUIRED(kSsl, SSL_CTX_get_cert_store);
  BRIXA_REQUIRED(kSsl, SSL_new);
  BRIXA_REQUIRED(kSsl, SSL_free);
  BRIXA_REQUIRED(kSsl, SSL_set_ex_data);
  BRIXA_REQUIRED(kSsl, SSL_get_ex_data);
  BRIXA_REQUIRED(kSsl, SSL_get_ex_data_X509_STORE_CTX_idx);
  BRIXA_REQUIRED(kSsl, SSL_set_fd);
  BRIXA_REQUIRED(kSsl, SSL_connect);
  BRIXA_REQUIRED(kSsl, SSL_accept);
  BRIXA_REQUIRED(kSsl, SSL_read);
  BRIXA_REQUIRED(kSsl, SSL_write);
  BRIXA_REQUIRED(kSsl, SSL_peek);
  BRIXA_REQUIRED(kSsl, SSL_pending);
  BRIXA_OPTIONAL(kSsl, SSL_has_pending);
  BRIXA_OPTIONAL(kSsl, SSL_CTX_set_default_read_buffer_len);
  BRIXA_REQUIRED(kSsl, SSL_get_error);
  BRIXA_REQUIRED(kSsl, SSL_shutdown);
  BRIXA_REQUIRED(kSsl, SSL_ctrl);
  BRIXA_REQUIRED(kSsl, SSL_get0_param);
  BRIXA_REQUIRED(kSsl, SSL_get_verify_result);
  ok = BindEither(kSsl, "SSL_get1_peer_certificate", "SSL_get_peer_certificate",
                  api.SSL_get1_peer_certificate) &&
       ok;
  BRIXA_REQUIRED(kSsl, SSL_get_current_cipher);
  BRIXA_REQUIRED(kSsl, SSL_CIPHER_get_name);
  BRIXA_REQUIRED(kSsl, SSL_CIPHER_description);
  BRIXA_REQUIRED(kSsl, SSL_CIPHER_get_bits);
  BRIXA_REQUIRED(kSsl, SSL_CIPHER_get_version);
  BRIXA_REQUIRED(kSsl, SSL_get_version);
  BRIXA_REQUIRED(kSsl, SSL_state_string_long);
  return ok;
}

bool BindCrypto(TOpenSSLApi& api) {
  bool ok = true;
  BRIXA_OPTIONAL(kCrypto, OpenSSL_add_all_ciphers);
  BRIXA_OPTIONAL(kCrypto, OpenSSL_add_all_digests);
  BRIXA_OPTIONAL(kCrypto, CRYPTO_num_locks);
  BRIXA_OPTIONAL(kCrypto, CRYPTO_set_locking_callback);
  BRIXA_REQUIRED(kCrypto, ERR_get_error);
  BRIXA_REQUIRED(kCrypto, ERR_error_string_n);
  BRIXA_REQUIRED(kCrypto, ERR_clear_error);
  BRIXA_REQUIRED(kCrypto, X509_free);
  BRIXA_REQUIRED(kCrypto, X509_get_subject_name);
  BRIXA_REQUIRED(kCrypto, X509_get_issuer_name);
  BRIXA_REQUIRED(kCrypto, X509_NAME_oneline);
  BRIXA_REQUIRED(kCrypto, X509_get0_notBefore);
  BRIXA_REQUIRED(kCrypto, X509_get0_notAfter);
  BRIXA_REQUIRED(kCrypto, ASN1_TIME_print);
  BRIXA_REQUIRED(kCrypto, BIO_s_mem);
  BRIXA_REQUIRED(kCrypto, BIO_new);
  BRIXA_REQUIRED(kCrypto, BIO_read);
  BRIXA_REQUIRED(kCrypto, BIO_free);
  BRIXA_REQUIRED(kCrypto, BIO_new_mem_buf);
  BRIXA_REQUIRED(kCrypto, PEM_read_bio_X509);
  BRIXA_REQUIRED(kCrypto, X509_STORE_add_cert);
  BRIXA_REQUIRED(kCrypto, X509_STORE_CTX_get_current_cert);
  BRIXA_REQUIRED(kCrypto, X509_STORE_CTX_get_error_depth);
  BRIXA_REQUIRED(kCrypto, X509_STORE_CTX_get_error);
  BRIXA_REQUIRED(kCrypto, X509_STORE_CTX_get_ex_data);
  BRIXA_REQUIRED(kCrypto, X509_verify_cert_error_string);
  BRIXA_REQUIRED(kCrypto, X509_VERIFY_PARAM_set1_host);
  BRIXA_REQUIRED(kCrypto, X509_VERIFY_PARAM_set1_ip_asc);
  BRIXA_REQUIRED(kCrypto, X509_VERIFY_PARAM_set_hostflags);
  return ok;
}

#undef BRIXA_OPTIONAL
#undef BRIXA_REQUIRED

void Initialise(const TOpenSSLApi& api) {
  if (api.OPENSSL_init_ssl != nullptr) {
    api.OPENSSL_init_ssl(
        ossl::OPENSSL_INIT_LOAD_SSL_STRINGS | ossl::OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  }
  if (api.OpenSSL_add_all_ciphers != nullptr) api.OpenSSL_add_all_ciphers();
  if (api.OpenSSL_add_all_digests != nullptr) api.OpenSSL_add_all_digests();
  if (api.SSL_load_error_strings != nullptr) api.SSL_load_error_strings();
  if (api.SSL_library_init != nullptr) api.SSL_library_init();
  if (api.CRYPTO_num_locks != nullptr && api.CRYPTO_set_locking_callback != nullptr) {
    const int count = api.CRYPTO_num_locks();
    if (count > 0) {
      gLocks = std::make_unique<std::mutex[]>(static_cast<std::size_t>(count));
      api.CRYPTO_set_locking_callback(&LockingCallback);
    }
  }
}

// Takes the locking callback out again when the process ends, before the lock table goes.
struct LockTableRemover {
  ~LockTableRemover() {
    if (gLocks != nullptr && gApi.CRYPTO_set_locking_callback != nullptr) {
      gApi.CRYPTO_set_locking_callback(nullptr);
    }
  }
};

}  // namespace

bool LoadTlsLibrary() {
  if (gTlsReady.load(std::memory_order_acquire)) return true;
  static LockTableRemover remover;
  std::lock_guard guard(gTlsLoadLock);
  if (gTlsReady.load(std::memory_order_relaxed)) return true;
  if (!LoadOpenSSL()) return false;
  TOpenSSLApi api;
  const bool sslOk = BindSsl(api);
  const bool cryptoOk = BindCrypto(api);
  if (!sslOk || !cryptoOk) return false;
  Initialise(api);
  gApi = api;
  gTlsReady.store(true, std::memory_order_release);
  return true;
}

const ossl::TOpenSSLApi& OpenSSLApi() noexcept {
  return gApi;
}

std::string TakeOpenSSLErrorText() {
  if (!gTlsReady.load(std::memory_order_acquire)) return {};
  const unsigned long code = gApi.ERR_get_error();
  gApi.ERR_clear_error();
  if (code == 0) return {};
  std::array<char, kErrorTextSize> text{};
  gApi.ERR_error_string_n(code, text.data(), text.size());
  return text.data();
}

}  // namespace brixa
