// Key generation and signing with the system's libcrypto (OpenSSL 3), loaded at run time.

#include <cstring>

#include "platform/crypto/libcrypto_key_unix.h"
#include "platform/crypto/signer.h"
#include "platform/library/dynamic_library.h"

namespace brixa {

namespace {

// The entry points used, with opaque pointers as OpenSSL 3 exports them.
struct Crypto {
  using PkeyQKeygen = void* (*)(void*, const char*, const char*, ...);
  using BioNew = void* (*)(const void*);
  using BioSMem = const void* (*)();
  using BioNewMemBuf = void* (*)(const void*, int);
  using BioCtrl = long (*)(void*, int, long, void*);
  using BioFree = int (*)(void*);
  using PemWritePrivate = int (*)(void*, const void*, const void*, const unsigned char*, int, void*,
                                  void*);
  using PemWritePubkey = int (*)(void*, const void*);
  using PemReadPrivate = void* (*)(void*, void**, void*, void*);
  using PkeyFree = void (*)(void*);
  using PkeyInt = int (*)(const void*);
  using MdCtxNew = void* (*)();
  using MdCtxFree = void (*)(void*);
  using Sha256 = const void* (*)();
  using DigestSignInit = int (*)(void*, void**, const void*, void*, void*);
  using DigestUpdate = int (*)(void*, const void*, std::size_t);
  using DigestSignFinal = int (*)(void*, unsigned char*, std::size_t*);

  TDynamicLibrary library;
  PkeyQKeygen keygen = nullptr;
  BioNew bioNew = nullptr;
  BioSMem bioSMem = nullptr;
  BioNewMemBuf bioNewMemBuf = nullptr;
  BioCtrl bioCtrl = nullptr;
  BioFree bioFree = nullptr;
  PemWritePrivate pemWritePrivate = nullptr;
  PemWritePubkey pemWritePubkey = nullptr;
  PemReadPrivate pemReadPrivate = nullptr;
  PkeyFree pkeyFree = nullptr;
  PkeyInt pkeyBaseId = nullptr;
  PkeyInt pkeyBits = nullptr;
  MdCtxNew mdCtxNew = nullptr;
  MdCtxFree mdCtxFree = nullptr;
  Sha256 sha256 = nullptr;
  DigestSignInit digestSignInit = nullptr;
  DigestUpdate digestUpdate = nullptr;
  DigestSignFinal digestSignFinal = nullptr;

  template <typename F>
  void Bind(F& slot, const char* name) {
    slot = library.Function<F>(name);
    ok = ok && slot != nullptr;
  }
  [[nodiscard]] bool BindAll() {
    Bind(keygen, "EVP_PKEY_Q_keygen");
    Bind(bioNew, "BIO_new");
    Bind(bioSMem, "BIO_s_mem");
    Bind(bioNewMemBuf, "BIO_new_mem_buf");
    Bind(bioCtrl, "BIO_ctrl");
    Bind(bioFree, "BIO_free");
    Bind(pemWritePrivate, "PEM_write_bio_PrivateKey");
    Bind(pemWritePubkey, "PEM_write_bio_PUBKEY");
    Bind(pemReadPrivate, "PEM_read_bio_PrivateKey");
    Bind(pkeyFree, "EVP_PKEY_free");
    Bind(pkeyBaseId, "EVP_PKEY_get_base_id");
    Bind(pkeyBits, "EVP_PKEY_get_bits");
    Bind(mdCtxNew, "EVP_MD_CTX_new");
    Bind(mdCtxFree, "EVP_MD_CTX_free");
    Bind(sha256, "EVP_sha256");
    Bind(digestSignInit, "EVP_DigestSignInit");
    Bind(digestUpdate, "EVP_DigestUpdate");
    Bind(digestSignFinal, "EVP_DigestSignFinal");
    return ok;
  }
  bool ok = true;
};

constexpr const char* kLibraryNames[] = {"libcrypto.so.3", "libcrypto.so"};
constexpr int kBioCtrlInfo = 3;  // BIO_CTRL_INFO: BIO_get_mem_data

std::unique_ptr<Crypto> LoadCrypto() {
  for (const char* name : kLibraryNames) {
    auto crypto = std::make_unique<Crypto>();
    if (crypto->library.Load(name) && crypto->BindAll()) return crypto;
  }
  throw ESignatureError("libcrypto (OpenSSL 3) is not available");
}

// What `write` puts into a memory BIO.
template <typename Write>
std::string WritePem(const Crypto& c, Write write) {
  void* bio = c.bioNew(c.bioSMem());
  if (bio == nullptr) throw ESignatureError("out of memory");
  std::string pem;
  if (write(bio) == 1) {
    char* data = nullptr;
    const long size = c.bioCtrl(bio, kBioCtrlInfo, 0, &data);
    if (size > 0 && data != nullptr) pem.assign(data, static_cast<std::size_t>(size));
  }
  c.bioFree(bio);
  if (pem.empty()) throw ESignatureError("the key cannot be written as PEM");
  return pem;
}

std::string PublicPem(const Crypto& c, void* key) {
  return WritePem(c, [&](void* bio) { return c.pemWritePubkey(bio, key); });
}

}  // namespace

TSigningKeyPair GenerateSigningKeyPair() {
  const auto crypto = LoadCrypto();
  const Crypto& c = *crypto;
  void* key = c.keygen(nullptr, nullptr, "EC", "P-256");
  if (key == nullptr) throw ESignatureError("no P-256 key could be made");
  TSigningKeyPair pair;
  try {
    pair.PrivateKeyPem = WritePem(c, [&](void* bio) {
      return c.pemWritePrivate(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
    pair.PublicKeyPem = PublicPem(c, key);
  } catch (...) {
    c.pkeyFree(key);
    throw;
  }
  c.pkeyFree(key);
  return pair;
}

struct TSigner::State : TLibcryptoDigest<Crypto> {};

TSigner::TSigner(std::string_view privateKeyPem) : state_(std::make_unique<State>()) {
  state_->crypto = LoadCrypto();
  const Crypto& c = *state_->crypto;
  OpenP256Key(c, privateKeyPem, c.pemReadPrivate, c.digestSignInit, state_->key, state_->context,
              "the key is not an unencrypted PEM private key");
}

TSigner::~TSigner() = default;

void TSigner::Update(const void* data, std::size_t size) {
  state_->Update(data, size);
}

std::string TSigner::Sign() {
  unsigned char der[80] = {};
  std::size_t size = sizeof der;
  if (state_->crypto->digestSignFinal(state_->context, der, &size) != 1) {
    throw ESignatureError("the signature cannot be made");
  }
  return std::string(reinterpret_cast<const char*>(der), size);
}

std::string TSigner::PublicKeyPem() const {
  return PublicPem(*state_->crypto, state_->key);
}

}  // namespace brixa
