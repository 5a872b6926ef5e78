// No code signatures to check on POSIX; the signer of a PKCS#7 block through the system's
// libcrypto, loaded at run time (OpenSSL 1.1 or 3).

#include <memory>

#include "platform/crypto/code_signature.h"
#include "platform/crypto/libcrypto_key_unix.h"
#include "platform/crypto/signature.h"
#include "platform/library/dynamic_library.h"

namespace brixa {

namespace {

// The entry points used, declared with opaque pointers as OpenSSL 1.1 and 3 export them.
struct Pkcs7Crypto {
  using D2iPkcs7 = void* (*)(void**, const unsigned char**, long);
  using Pkcs7Free = void (*)(void*);
  using Pkcs7Stack = void* (*)(void*);
  using Pkcs7Signers = void* (*)(void*, void*, int);
  using StackNum = int (*)(const void*);
  using StackValue = void* (*)(const void*, int);
  using StackFree = void (*)(void*);
  using I2dX509 = int (*)(void*, unsigned char**);

  TDynamicLibrary library;
  D2iPkcs7 d2iPkcs7 = nullptr;
  Pkcs7Free pkcs7Free = nullptr;
  Pkcs7Stack signerInfos = nullptr;
  Pkcs7Signers signers = nullptr;
  StackNum stackNum = nullptr;
  StackValue stackValue = nullptr;
  StackFree stackFree = nullptr;
  I2dX509 i2dX509 = nullptr;

  [[nodiscard]] bool Bind() {
    d2iPkcs7 = library.Function<D2iPkcs7>("d2i_PKCS7");
    pkcs7Free = library.Function<Pkcs7Free>("PKCS7_free");
    signerInfos = library.Function<Pkcs7Stack>("PKCS7_get_signer_info");
    signers = library.Function<Pkcs7Signers>("PKCS7_get0_signers");
    stackNum = library.Function<StackNum>("OPENSSL_sk_num");
    stackValue = library.Function<StackValue>("OPENSSL_sk_value");
    stackFree = library.Function<StackFree>("OPENSSL_sk_free");
    i2dX509 = library.Function<I2dX509>("i2d_X509");
    return d2iPkcs7 && pkcs7Free && signerInfos && signers && stackNum && stackValue && stackFree &&
           i2dX509;
  }
};

std::unique_ptr<Pkcs7Crypto> LoadPkcs7Crypto() {
  return LoadLibcrypto<Pkcs7Crypto>();
}

// The DER of the one signer's certificate of the parsed `pkcs7`.
std::optional<std::string> OneSignerCertificate(const Pkcs7Crypto& c, void* pkcs7) {
  // A signature with several signers is not one publisher's.
  void* infos = c.signerInfos(pkcs7);
  if (infos == nullptr || c.stackNum(infos) != 1) return std::nullopt;
  void* certificates = c.signers(pkcs7, nullptr, 0);
  if (certificates == nullptr) return std::nullopt;
  std::optional<std::string> der;
  if (c.stackNum(certificates) == 1) {
    void* certificate = c.stackValue(certificates, 0);
    const int size = c.i2dX509(certificate, nullptr);
    if (size > 0) {
      std::string bytes(static_cast<std::size_t>(size), '\0');
      auto* out = reinterpret_cast<unsigned char*>(bytes.data());
      if (c.i2dX509(certificate, &out) == size) der = std::move(bytes);
    }
  }
  c.stackFree(certificates);  // the certificates themselves belong to pkcs7
  return der;
}

}  // namespace

TCodeSignature VerifyCodeSignature(std::intptr_t /*handle*/, const std::string& /*fileName*/) {
  return {};
}

std::optional<std::string> SignedDataSignerCertificate(std::string_view der) {
  const auto crypto = LoadPkcs7Crypto();
  const auto* in = reinterpret_cast<const unsigned char*>(der.data());
  const auto* const end = in + der.size();
  void* pkcs7 = crypto->d2iPkcs7(nullptr, &in, static_cast<long>(der.size()));
  if (pkcs7 == nullptr) return std::nullopt;
  // Bytes after the structure are not part of what was signed: refused, as on Windows.
  std::optional<std::string> certificate;
  if (in == end) certificate = OneSignerCertificate(*crypto, pkcs7);
  crypto->pkcs7Free(pkcs7);
  return certificate;
}

}  // namespace brixa
