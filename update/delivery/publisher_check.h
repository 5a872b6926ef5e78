#pragma once
// The installer's code signature as a check of its own, beside the manifest's size and hash:
// the release's publisher pins the certificate the installer must be signed with.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brixa {

class TLaunchableFile;

// The SHA-256 of a certificate's DER, as 64 lower-case hexadecimal digits: what
// `openssl x509 -fingerprint -sha256` prints, without its colons.
[[nodiscard]] std::string CertificateFingerprint(std::string_view der);

// The fingerprint of the signer's certificate of a PE image's signature block (PeSignedData,
// SignedDataSignerCertificate), read without verifying anything; nullopt when the image has no
// well-formed one. Raises ESignatureError when the platform's crypto cannot be used.
[[nodiscard]] std::optional<std::string> PeSignerFingerprint(std::string_view image);

// Checks the installer held by `file`, before it is started, against `publishers` (a verified
// manifest's fingerprints, ParseInstallerKeys). With none listed nothing is checked. Otherwise
// the system verifies the signature through the very handle `file` holds (VerifyCodeSignature)
// and its signer's certificate must have one of the fingerprints; anything else raises
// EUpdateIntegrityError whose message names the expected list and what was found (the
// fingerprint, or that there was no valid signature, with the system's code). Returns a note
// for the run log: the publisher found, or, where the system has no code signatures (POSIX),
// that the pin was not checked there.
std::string VerifyInstallerPublisher(const TLaunchableFile& file,
                                     const std::vector<std::string>& publishers);

}  // namespace brixa
