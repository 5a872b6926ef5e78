// Signature checks with the system's libcrypto, loaded at run time (OpenSSL 1.1 or 3).

#include "platform/crypto/der_signature.h"
#include "platform/crypto/libcrypto_key_unix.h"
#include "platform/crypto/signature.h"
#include "platform/library/dynamic_library.h"

namespace brixa {

namespace {

// The libcrypto entry points used, declared with opaque pointers as OpenSSL 1.1 and 3 export
// them. EVP_PKEY_base_id and EVP_PKEY_bits were renamed in 3.0; the old names stay as macros
// there, so both spellings are looked up.
struct Crypto {
  using BioNewMemBuf = void* (*)(const void*, int);
  using BioFree = int (*)(void*);
  using PemReadBioPubkey = void* (*)(void*, void**, void*, void*);
  using PkeyFree = void (*)(void*);
  using PkeyInt = int (*)(const void*);
  using MdCtxNew = void* (*)();
  using MdCtxFree = void (*)(void*);
  using Sha256 = const void* (*)();
  using DigestVerifyInit = int (*)(void*, void**, const void*, void*, void*);
  using DigestUpdate = int (*)(void*, const void*, std::size_t);
  using DigestVerifyFinal = int (*)(void*, const unsigned char*, std::size_t);

  TDynamicLibrary library;
  BioNewMemBuf bioNewMemBuf = nullptr;
  BioFree bioFree = nullptr;
  PemReadBioPubkey pemReadBioPubkey = nullptr;
  PkeyFree pkeyFree = nullptr;
  PkeyInt pkeyBaseId = nullptr;
  PkeyInt pkeyBits = nullptr;
  MdCtxNew mdCtxNew = nullptr;
  MdCtxFree mdCtxFree = nullptr;
  Sha256 sha256 = nullptr;
  DigestVerifyInit digestVerifyInit = nullptr;
  DigestUpdate digestUpdate = nullptr;
  DigestVerifyFinal digestVerifyFinal = nullptr;

  [[nodiscard]] bool Bind() {
    bioNewMemBuf = library.Function<BioNewMemBuf>("BIO_new_mem_buf");
    bioFree = library.Function<BioFree>("BIO_free");
    pemReadBioPubkey = library.Function<PemReadBioPubkey>("PEM_read_bio_PUBKEY");
    pkeyFree = library.Function<PkeyFree>("EVP_PKEY_free");
    pkeyBaseId = library.Function<PkeyInt>("EVP_PKEY_get_base_id");
    if (pkeyBaseId == nullptr) pkeyBaseId = library.Function<PkeyInt>("EVP_PKEY_base_id");
    pkeyBits = library.Function<PkeyInt>("EVP_PKEY_get_bits");
    if (pkeyBits == nullptr) pkeyBits = library.Function<PkeyInt>("EVP_PKEY_bits");
    mdCtxNew = library.Function<MdCtxNew>("EVP_MD_CTX_new");
    mdCtxFree = library.Function<MdCtxFree>("EVP_MD_CTX_free");
    sha256 = library.Function<Sha256>("EVP_sha256");
    digestVerifyInit = library.Function<DigestVerifyInit>("EVP_DigestVerifyInit");
    digestUpdate = library.Function<DigestUpdate>("EVP_DigestUpdate");
    digestVerifyFinal = library.Function<DigestVerifyFinal>("EVP_DigestVerifyFinal");
    return bioNewMemBuf && bioFree && pemReadBioPubkey && pkeyFree && pkeyBaseId && pkeyBits &&
           mdCtxNew && mdCtxFree && sha256 && digestVerifyInit && digestUpdate && digestVerifyFinal;
  }
};

std::unique_ptr<Crypto> LoadCrypto() {
  return LoadLibcrypto<Crypto>();
}

}  // namespace

struct TSignatureVerifier::State : TLibcryptoDigest<Crypto> {};

TSignatureVerifier::TSignatureVerifier(std::string_view publicKeyPem)
    : state_(std::make_unique<State>()) {
  state_->crypto = LoadCrypto();
  const Crypto& c = *state_->crypto;
  OpenP256Key(c, publicKeyPem, c.pemReadBioPubkey, c.digestVerifyInit, state_->key, state_->context,
              "the update key is not a PEM public key");
}

TSignatureVerifier::~TSignatureVerifier() = default;

void TSignatureVerifier::Update(const void* data, std::size_t size) {
  state_->Update(data, size);
}

bool TSignatureVerifier::Verify(std::string_view derSignature) {
  // libcrypto is lenient with some BER forms; only the one DER encoding gets that far, as on
  // Windows.
  if (!DecodeStrictDerSignature(derSignature)) return false;
  // 1 is a good signature; 0 a bad one; a negative value a malformed one.
  return state_->crypto->digestVerifyFinal(
             state_->context, reinterpret_cast<const unsigned char*>(derSignature.data()),
             derSignature.size()) == 1;
}

}  // namespace brixa
