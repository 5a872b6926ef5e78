// The publisher pin: the system's verdict on the installer's signature, and its signer's
// fingerprint against the manifest's list.

#include "update/delivery/publisher_check.h"

#include <algorithm>
#include <cstdio>

#include "platform/crypto/code_signature.h"
#include "platform/crypto/signature.h"
#include "platform/process/process_launch.h"
#include "runtime/hash/hash_sha256.h"
#include "update/delivery/pe_certificate.h"
#include "update/update_errors.h"

namespace brixa {

namespace {

std::string Expected(const std::vector<std::string>& publishers) {
  std::string list;
  for (const std::string& fingerprint : publishers) {
    list += (list.empty() ? "" : " or ") + fingerprint;
  }
  return "expected " + list;
}

std::string Hex32(unsigned long status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", status & 0xFFFFFFFFul);
  return text;
}

[[noreturn]] void Refuse(const std::vector<std::string>& publishers, const std::string& found) {
  throw EUpdateIntegrityError("installer publisher: " + Expected(publishers) + ", found " + found);
}

}  // namespace

std::string CertificateFingerprint(std::string_view der) {
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashBytes(der.data(), der.size()), false);
}

std::optional<std::string> PeSignerFingerprint(std::string_view image) {
  const auto signedData = PeSignedData(image);
  if (!signedData) return std::nullopt;
  const auto certificate = SignedDataSignerCertificate(*signedData);
  if (!certificate) return std::nullopt;
  return CertificateFingerprint(*certificate);
}

std::string VerifyInstallerPublisher(const TLaunchableFile& file,
                                     const std::vector<std::string>& publishers) {
  if (publishers.empty()) return {};
  TCodeSignature signature;
  try {
    signature = VerifyCodeSignature(file.NativeHandle(), file.FileName());
  } catch (const ESignatureError& error) {
    Refuse(publishers, "no verdict: " + error.Message());
  }
  switch (signature.State) {
    case TCodeSignatureState::csNotSupported:
      return "publisher not checked: this system does not verify code signatures";
    case TCodeSignatureState::csUnsigned:
      Refuse(publishers, "no signature (" + Hex32(signature.Status) + ")");
    case TCodeSignatureState::csInvalid:
      Refuse(publishers, "a signature that does not verify (" + Hex32(signature.Status) + ")");
    case TCodeSignatureState::csSigned:
      break;
  }
  const std::string found = CertificateFingerprint(signature.SignerCertificate);
  if (std::find(publishers.begin(), publishers.end(), found) == publishers.end()) {
    Refuse(publishers, found);
  }
  return "publisher " + found;
}

}  // namespace brixa
