#pragma once
// OpenSSL's interface as the TLS handler binds it at run time.

#include <cstddef>
#include <cstdint>

#include "platform/library/openssl_library.h"

// The part of OpenSSL's interface the TLS handler uses, with prototypes of its own: the
// structures are opaque, and only the constants below are taken over. Entry points are bound
// by name from the libraries platform/library/openssl_library.h loads.
namespace brixa::ossl {

struct SSL_CTX;
struct SSL;
struct SSL_METHOD;
struct SSL_CIPHER;
struct X509;
struct X509_NAME;
struct X509_STORE_CTX;
struct X509_VERIFY_PARAM;
struct ASN1_TIME;
struct X509_STORE;
struct BIO;
struct BIO_METHOD;
struct STACK_OF_X509_NAME;

// SSL_get_error answers.
inline constexpr int SSL_ERROR_NONE = 0;
inline constexpr int SSL_ERROR_SSL = 1;
inline constexpr int SSL_ERROR_WANT_READ = 2;
inline constexpr int SSL_ERROR_WANT_WRITE = 3;
inline constexpr int SSL_ERROR_SYSCALL = 5;
inline constexpr int SSL_ERROR_ZERO_RETURN = 6;

inline constexpr int SSL_FILETYPE_PEM = 1;
inline constexpr int SSL_VERIFY_PEER = 0x01;
inline constexpr int SSL_VERIFY_FAIL_IF_NO_PEER_CERT = 0x02;
inline constexpr int SSL_VERIFY_CLIENT_ONCE = 0x04;

// SSL_ctrl / SSL_CTX_ctrl commands behind macros of OpenSSL's headers.
inline constexpr int SSL_CTRL_MODE = 33;
inline constexpr int SSL_CTRL_SET_READ_AHEAD = 41;
inline constexpr long SSL_MODE_AUTO_RETRY = 0x4;
inline constexpr int SSL_CTRL_SET_TLSEXT_HOSTNAME = 55;
inline constexpr long TLSEXT_NAMETYPE_host_name = 0;
inline constexpr int SSL_CTRL_SET_MIN_PROTO_VERSION = 123;
inline constexpr long TLS1_VERSION = 0x0301;

// SSL_CTX_set_info_callback "where" bits.
inline constexpr int SSL_CB_LOOP = 0x01;
inline constexpr int SSL_CB_HANDSHAKE_DONE = 0x20;
inline constexpr int SSL_CB_ALERT = 0x4000;

// X509_VERIFY_PARAM_set_hostflags: wildcards only as a whole left-most label (RFC 6125,
// 6.4.3), and the subject's common name is never taken for a host name.
inline constexpr unsigned int X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS = 0x4;
inline constexpr unsigned int X509_CHECK_FLAG_NEVER_CHECK_SUBJECT = 0x20;

inline constexpr long X509_V_OK = 0;

inline constexpr std::uint64_t OPENSSL_INIT_LOAD_SSL_STRINGS = 0x00200000;
inline constexpr std::uint64_t OPENSSL_INIT_LOAD_CRYPTO_STRINGS = 0x00000002;

inline constexpr int CRYPTO_LOCK = 1;

using PasswordCallback = int (*)(char* buffer, int size, int rwflag, void* userdata);
using VerifyCallback = int (*)(int preverifyOk, X509_STORE_CTX* store);
using InfoCallback = void (*)(const SSL* ssl, int where, int ret);
using LockingCallback = void (*)(int mode, int n, const char* file, int line);

// Every entry point, bound once after the libraries load. Those marked optional are null when
// the release lacks them; the rest are present whenever LoadTlsLibrary answered true.
struct TOpenSSLApi {
  // Initialisation: OpenSSL 1.1 and later initialise themselves; older releases need the calls.
  int (*OPENSSL_init_ssl)(std::uint64_t, const void*) = nullptr;   // optional
  int (*SSL_library_init)() = nullptr;                             // optional
  void (*SSL_load_error_strings)() = nullptr;                      // optional
  void (*OpenSSL_add_all_ciphers)() = nullptr;                     // optional
  void (*OpenSSL_add_all_digests)() = nullptr;                     // optional
  int (*CRYPTO_num_locks)() = nullptr;                             // optional
  void (*CRYPTO_set_locking_callback)(LockingCallback) = nullptr;  // optional

  // Methods: the version-flexible ones under either of their names, the fixed ones optional.
  const SSL_METHOD* (*TLS_client_method)() = nullptr;
  const SSL_METHOD* (*TLS_server_method)() = nullptr;
  const SSL_METHOD* (*TLS_method)() = nullptr;
  const SSL_METHOD* (*SSLv2_client_method)() = nullptr;  // optional
  const SSL_METHOD* (*SSLv2_server_method)() = nullptr;  // optional
  const SSL_METHOD* (*SSLv2_method)() = nullptr;         // optional
  const SSL_METHOD* (*SSLv3_client_method)() = nullptr;  // optional
  const SSL_METHOD* (*SSLv3_server_method)() = nullptr;  // optional
  const SSL_METHOD* (*SSLv3_method)() = nullptr;         // optional

  SSL_CTX* (*SSL_CTX_new)(const SSL_METHOD*) = nullptr;
  void (*SSL_CTX_free)(SSL_CTX*) = nullptr;
  long (*SSL_CTX_ctrl)(SSL_CTX*, int, long, void*) = nullptr;
  void (*SSL_CTX_set_default_passwd_cb)(SSL_CTX*, PasswordCallback) = nullptr;
  void (*SSL_CTX_set_default_passwd_cb_userdata)(SSL_CTX*, void*) = nullptr;
  int (*SSL_CTX_set_default_verify_paths)(SSL_CTX*) = nullptr;
  int (*SSL_CTX_load_verify_locations)(SSL_CTX*, const char*, const char*) = nullptr;
  int (*SSL_CTX_use_certificate_file)(SSL_CTX*, const char*, int) = nullptr;
  int (*SSL_CTX_use_PrivateKey_file)(SSL_CTX*, const char*, int) = nullptr;
  int (*SSL_CTX_check_private_key)(const SSL_CTX*) = nullptr;
  void (*SSL_CTX_set_info_callback)(SSL_CTX*, InfoCallback) = nullptr;
  int (*SSL_CTX_set_cipher_list)(SSL_CTX*, const char*) = nullptr;
  void (*SSL_CTX_set_verify)(SSL_CTX*, int, VerifyCallback) = nullptr;
  void (*SSL_CTX_set_verify_depth)(SSL_CTX*, int) = nullptr;
  int (*SSL_CTX_set_session_id_context)(SSL_CTX*, const unsigned char*, unsigned int) = nullptr;
  void (*SSL_CTX_set_client_CA_list)(SSL_CTX*, STACK_OF_X509_NAME*) = nullptr;
  STACK_OF_X509_NAME* (*SSL_load_client_CA_file)(const char*) = nullptr;
  X509_STORE* (*SSL_CTX_get_cert_store)(const SSL_CTX*) = nullptr;

  SSL* (*SSL_new)(SSL_CTX*) = nullptr;
  void (*SSL_free)(SSL*) = nullptr;
  int (*SSL_set_ex_data)(SSL*, int, void*) = nullptr;
  void* (*SSL_get_ex_data)(const SSL*, int) = nullptr;
  int (*SSL_get_ex_data_X509_STORE_CTX_idx)() = nullptr;
  int (*SSL_set_fd)(SSL*, int) = nullptr;
  int (*SSL_connect)(SSL*) = nullptr;
  int (*SSL_accept)(SSL*) = nullptr;
  int (*SSL_read)(SSL*, void*, int) = nullptr;
  int (*SSL_write)(SSL*, const void*, int) = nullptr;
  int (*SSL_peek)(SSL*, void*, int) = nullptr;
  int (*SSL_pending)(const SSL*) = nullptr;
  int (*SSL_has_pending)(const SSL*) = nullptr;                                  // optional
  void (*SSL_CTX_set_default_read_buffer_len)(SSL_CTX*, std::size_t) = nullptr;  // optional
  int (*SSL_get_error)(const SSL*, int) = nullptr;
  int (*SSL_shutdown)(SSL*) = nullptr;
  long (*SSL_ctrl)(SSL*, int, long, void*) = nullptr;
  X509_VERIFY_PARAM* (*SSL_get0_param)(SSL*) = nullptr;
  long (*SSL_get_verify_result)(const SSL*) = nullptr;
  X509* (*SSL_get1_peer_certificate)(const SSL*) = nullptr;  // or SSL_get_peer_certificate
  const SSL_CIPHER* (*SSL_get_current_cipher)(const SSL*) = nullptr;
  const char* (*SSL_CIPHER_get_name)(const SSL_CIPHER*) = nullptr;
  char* (*SSL_CIPHER_description)(const SSL_CIPHER*, char*, int) = nullptr;
  int (*SSL_CIPHER_get_bits)(const SSL_CIPHER*, int*) = nullptr;
  const char* (*SSL_CIPHER_get_version)(const SSL_CIPHER*) = nullptr;
  const char* (*SSL_get_version)(const SSL*) = nullptr;
  const char* (*SSL_state_string_long)(const SSL*) = nullptr;

  unsigned long (*ERR_get_error)() = nullptr;
  void (*ERR_error_string_n)(unsigned long, char*, std::size_t) = nullptr;
  void (*ERR_clear_error)() = nullptr;
  void (*X509_free)(X509*) = nullptr;
  X509_NAME* (*X509_get_subject_name)(const X509*) = nullptr;
  X509_NAME* (*X509_get_issuer_name)(const X509*) = nullptr;
  char* (*X509_NAME_oneline)(const X509_NAME*, char*, int) = nullptr;
  const ASN1_TIME* (*X509_get0_notBefore)(const X509*) = nullptr;
  const ASN1_TIME* (*X509_get0_notAfter)(const X509*) = nullptr;
  int (*ASN1_TIME_print)(BIO*, const ASN1_TIME*) = nullptr;
  const BIO_METHOD* (*BIO_s_mem)() = nullptr;
  BIO* (*BIO_new)(const BIO_METHOD*) = nullptr;
  int (*BIO_read)(BIO*, void*, int) = nullptr;
  int (*BIO_free)(BIO*) = nullptr;
  BIO* (*BIO_new_mem_buf)(const void*, int) = nullptr;
  X509* (*PEM_read_bio_X509)(BIO*, X509**, PasswordCallback, void*) = nullptr;
  int (*X509_STORE_add_cert)(X509_STORE*, X509*) = nullptr;
  X509* (*X509_STORE_CTX_get_current_cert)(X509_STORE_CTX*) = nullptr;
  int (*X509_STORE_CTX_get_error_depth)(X509_STORE_CTX*) = nullptr;
  int (*X509_STORE_CTX_get_error)(X509_STORE_CTX*) = nullptr;
  void* (*X509_STORE_CTX_get_ex_data)(X509_STORE_CTX*, int) = nullptr;
  const char* (*X509_verify_cert_error_string)(long) = nullptr;
  int (*X509_VERIFY_PARAM_set1_host)(X509_VERIFY_PARAM*, const char*, std::size_t) = nullptr;
  int (*X509_VERIFY_PARAM_set1_ip_asc)(X509_VERIFY_PARAM*, const char*) = nullptr;
  void (*X509_VERIFY_PARAM_set_hostflags)(X509_VERIFY_PARAM*, unsigned int) = nullptr;
};

}  // namespace brixa::ossl

namespace brixa {

// Loads OpenSSL (platform/library/openssl_library.h), binds every entry point of TOpenSSLApi and
// initialises the library, once per process under a process-wide lock. On releases that still
// need them, installs the locking callback with one lock per CRYPTO_num_locks. False when the
// libraries cannot be loaded or lack a required entry point; a later call tries again.
[[nodiscard]] bool LoadTlsLibrary();

// The bound entry points. Valid once LoadTlsLibrary has answered true, for the process's life.
[[nodiscard]] const ossl::TOpenSSLApi& OpenSSLApi() noexcept;

// The first error queued by OpenSSL on this thread as OpenSSL words it, taken off the queue
// (the rest of the queue is cleared); "" when the queue is empty.
[[nodiscard]] std::string TakeOpenSSLErrorText();

}  // namespace brixa
