// The commands of brixa-release over the update layer: the manifest is written, signed and
// verified with the code the updater runs.

#include "release_tool.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <vector>

#include "output_file.h"
#include "output_folder.h"
#include "platform/core/exception.h"
#include "platform/core/stream.h"
#include "platform/crypto/signer.h"
#include "platform/process/command_line.h"
#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/time/utc_time.h"
#include "update/delivery/download_check.h"
#include "update/delivery/pe_certificate.h"
#include "update/delivery/publisher_check.h"
#include "update/manifest/delivery_keys.h"
#include "update/manifest/installer_keys.h"
#include "update/manifest/manifest.h"
#include "update/manifest/manifest_check.h"
#include "update/manifest/release_keys.h"
#include "update/manifest/rollout.h"

namespace brixa::release {

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMaxKeyFileBytes = 16 * 1024;
// The installer is copied in pieces this large, each hashed as it is written.
constexpr std::size_t kCopyChunkBytes = 64 * 1024;

// A command line that cannot be carried out as given.
BRIXA_DECLARE_EXCEPTION(EUsage, Exception);

struct TOptions {
  std::map<std::string, std::vector<std::string>> named;  // --name value (repeatable)
  std::vector<std::string> positional;

  [[nodiscard]] std::optional<std::string> One(const std::string& name) const {
    const auto it = named.find(name);
    if (it == named.end()) return std::nullopt;
    if (it->second.size() > 1) throw EUsage("--" + name + " given more than once");
    return it->second.front();
  }
  [[nodiscard]] std::string Required(const std::string& name) const {
    auto value = One(name);
    if (!value) throw EUsage("--" + name + " is required");
    return *value;
  }
};

TOptions ParseOptions(const std::vector<std::string>& arguments, std::size_t from,
                      const std::vector<std::string>& known) {
  TOptions options;
  for (std::size_t i = from; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a.rfind("--", 0) != 0) {
      options.positional.push_back(a);
      continue;
    }
    const std::string name = a.substr(2);
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      throw EUsage("unknown option " + a);
    }
    if (i + 1 >= arguments.size()) throw EUsage(a + " needs a value");
    options.named[name].push_back(arguments[++i]);
  }
  return options;
}

std::string ReadFile(const std::string& name, std::int64_t limit) {
  TFileStream file(name, fmOpenRead);
  const std::int64_t size = file.Size();
  if (size > limit) throw EFOpenError(name + " is larger than " + std::to_string(limit) + " bytes");
  std::string bytes(static_cast<std::size_t>(size), '\0');
  file.ReadBuffer(bytes.data(), size);
  return bytes;
}

std::uint64_t Number(const std::string& text, const char* what) {
  if (text.empty() || text.size() > 19 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    throw EUsage(std::string(what) + " must be a decimal number: " + text);
  }
  return std::stoull(text);
}

// Copies `installer` into `copy`, hashing each piece as it is written: the manifest's SHA256 and
// Size describe the bytes of the copy, whatever the source does meanwhile. A source whose size
// changed while it was read (or that could not be read to its end) is refused.
void CopyHashed(const std::string& installer, TOutputFile& copy, TManifest& manifest) {
  TFileStream source(installer, fmOpenRead);
  TIdHashSHA256 hash;
  std::vector<char> chunk(kCopyChunkBytes);
  std::int64_t copied = 0;
  for (;;) {
    const std::int64_t got = source.Read(chunk.data(), static_cast<std::int64_t>(chunk.size()));
    if (got <= 0) break;
    hash.Update(chunk.data(), static_cast<std::size_t>(got));
    copy.Write(chunk.data(), static_cast<std::size_t>(got));
    copied += got;
  }
  if (source.Size() != copied) {
    throw EReadError(installer + " changed while it was copied (" + std::to_string(copied) +
                     " bytes read): sign a file nobody is writing");
  }
  manifest.Sha256 = DigestToHex(hash.Final(), false);
  manifest.Size = copied;
}

std::string Sha256OfFile(const std::string& name, std::int64_t& size) {
  TFileStream file(name, fmOpenRead);
  size = file.Size();
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashStream(file), false);
}

// The manifest's Expires from --expires or --valid-days (default kDefaultValidDays).
std::int64_t ExpiresFrom(const TOptions& options) {
  const auto expires = options.One("expires");
  const auto days = options.One("valid-days");
  if (expires && days) throw EUsage("give --expires or --valid-days, not both");
  if (expires) {
    const auto at = ParseUtcTime(*expires);
    if (!at) throw EUsage("--expires must look like 2027-01-31T00:00:00Z: " + *expires);
    return *at;
  }
  const std::uint64_t valid = days ? Number(*days, "--valid-days") : kDefaultValidDays;
  if (valid == 0 || valid > kMaxValidDays) {
    throw EUsage("--valid-days must be 1 to " + std::to_string(kMaxValidDays));
  }
  return UtcNowSeconds() + static_cast<std::int64_t>(valid) * kSecondsPerDay;
}

// The keys a release folder's manifest carries beside its installer's identity.
struct TReleaseKeys {
  TDeliveryKeys Delivery;
  TInstallerKeys Installer;
};

std::string ManifestText(const TManifest& m, const TReleaseKeys& keys) {
  const TDeliveryKeys& delivery = keys.Delivery;
  std::string text = "[Updater]\r\nVersion=" + m.Stamp + "\r\nProduct=" + m.Product +
                     "\r\nSerial=" + std::to_string(m.Serial) +
                     "\r\nExpires=" + FormatUtcTime(m.Expires) +
                     "\r\nSize=" + std::to_string(m.Size) + "\r\nSHA256=" + m.Sha256 + "\r\n";
  if (delivery.Rollout != kFullRollout) {
    text += std::string(kRolloutKey) + "=" + std::to_string(delivery.Rollout) + "\r\n";
  }
  for (std::size_t n = 0; n < delivery.Mirrors.size(); ++n) {
    text += kMirrorKeyPrefix + std::to_string(n + 1) + "=" + delivery.Mirrors[n] + "\r\n";
  }
  const TInstallerKeys& installer = keys.Installer;
  for (std::size_t n = 0; n < installer.Publishers.size(); ++n) {
    text += kPublisherKeyPrefix + std::to_string(n + 1) + "=" + installer.Publishers[n] + "\r\n";
  }
  // In quotes, which the reader removes: the value's own quotes and blanks stay as they are.
  if (!installer.Arguments.empty()) {
    text += std::string(kArgumentsKey) + "=\"" + installer.Arguments + "\"\r\n";
  }
  return text;
}

// --mirror (repeatable) and --rollout over `delivery`; the result is read back by the
// updater's own reader, so a value it would refuse is refused here.
TDeliveryKeys DeliveryFrom(const TOptions& options, TDeliveryKeys delivery) {
  if (const auto mirrors = options.named.find("mirror"); mirrors != options.named.end()) {
    delivery.Mirrors = mirrors->second;
  }
  // A line break would end the key and start another of the caller's making.
  for (const std::string& url : delivery.Mirrors) {
    for (const char c : url) {
      if (c <= 0x20 || c >= 0x7F) throw EUsage("--mirror must be one URL without blanks: " + url);
    }
  }
  if (const auto rollout = options.One("rollout")) {
    const auto percent = ParseRolloutPercent(*rollout);
    if (!percent) throw EUsage("--rollout must be a percentage from 0 to 100: " + *rollout);
    delivery.Rollout = *percent;
  }
  try {
    return ParseDeliveryKeys(ManifestText(TManifest{}, {delivery, {}}));
  } catch (const EManifestRefused& refused) {
    throw EUsage(refused.Message());
  }
}

// --publisher (repeatable, each as people write a fingerprint) and --arguments over
// `installer`, read back by the updater's own reader.
TInstallerKeys InstallerFrom(const TOptions& options, TInstallerKeys installer) {
  if (const auto publishers = options.named.find("publisher"); publishers != options.named.end()) {
    installer.Publishers.clear();
    for (const std::string& text : publishers->second) {
      const auto fingerprint = ParsePublisherFingerprint(text);
      if (!fingerprint) throw EUsage("--publisher must be a SHA-256 fingerprint: " + text);
      installer.Publishers.push_back(*fingerprint);
    }
  }
  if (const auto arguments = options.One("arguments")) {
    if (!IsLaunchArgumentsText(*arguments)) {
      throw EUsage("--arguments must be printable ASCII, at most " +
                   std::to_string(kMaxLaunchArgumentsBytes) + " bytes");
    }
    installer.Arguments = *arguments;
  }
  try {
    return ParseInstallerKeys(ManifestText(TManifest{}, {{}, installer}));
  } catch (const EManifestRefused& refused) {
    throw EUsage(refused.Message());
  }
}

std::string Join(const std::string& dir, const char* name) {
  return (fs::path(dir) / name).string();
}

// Signs the manifest, checks it as the updater would with the key's own public half, and puts
// the release in `dir`: the installer's copy first (when given), then the manifest, then its
// signature, each whole and on the disk before the next.
void WriteSignedRelease(TSigner& signer, const TManifest& manifest, const TReleaseKeys& keys,
                        const std::string& dir, TOutputFile* installerCopy) {
  const std::string text = ManifestText(manifest, keys);
  signer.Update(kManifestSignatureContext.data(), kManifestSignatureContext.size());
  signer.Update(text.data(), text.size());
  const std::string signature = signer.Sign();
  (void)VerifyManifest(text, signature, {signer.PublicKeyPem()},
                       {manifest.Product, UtcNowSeconds(), {}});
  TOutputFile manifestFile(Join(dir, kManifestFileName));
  manifestFile.Write(text.data(), text.size());
  TOutputFile signatureFile(Join(dir, kManifestSignatureFileName));
  signatureFile.Write(signature.data(), signature.size());
  if (installerCopy != nullptr) installerCopy->Commit();
  manifestFile.Commit();
  signatureFile.Commit();
}

void WriteNewFile(const std::string& name, const std::string& bytes) {
  TOutputFile file(name);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

std::string CheckedStamp(const std::string& stamp) {
  if (stamp.empty() || stamp.size() >= kStampBufferSize ||
      stamp.find_first_of("\r\n\"'") != std::string::npos || stamp.front() == ' ' ||
      stamp.back() == ' ') {
    throw EUsage("--stamp must be 1 to " + std::to_string(kStampBufferSize - 1) +
                 " bytes without quotes, line breaks or surrounding blanks");
  }
  return stamp;
}

std::string CheckedProduct(const std::string& product) {
  if (product.empty() || product.size() > kMaxProductNameBytes ||
      product.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") !=
          std::string::npos) {
    throw EUsage("--product must be 1 to 64 letters, digits, '.', '_' or '-'");
  }
  return product;
}

int Keygen(const TOptions& options, std::ostream& out) {
  if (options.positional.size() != 2) throw EUsage("keygen needs PRIVATE.pem PUBLIC.pem");
  const std::string& privateFile = options.positional[0];
  // A link there, even one leading nowhere, counts as a key.
  if (fs::exists(fs::symlink_status(privateFile))) {
    throw EUsage(privateFile + " exists: a signing key is never overwritten");
  }
  if (fs::path(privateFile).lexically_normal() ==
      fs::path(options.positional[1]).lexically_normal()) {
    throw EUsage("the private and the public key need two file names");
  }
  PrepareOutputFolder(FolderOf(privateFile), false);
  PrepareOutputFolder(FolderOf(options.positional[1]), false);
  const TSigningKeyPair pair = GenerateSigningKeyPair();
  WriteNewFile(privateFile, pair.PrivateKeyPem);
  WriteNewFile(options.positional[1], pair.PublicKeyPem);
  out << "private key: " << privateFile << " (keep it offline; readable by you alone)\n"
      << "public key:  " << options.positional[1]
      << " (build the updater with -DBRIXA_UPDATE_PUBLIC_KEY=" << options.positional[1] << ")\n";
  return kExitOk;
}

int Sign(const TOptions& options, std::ostream& out) {
  if (options.positional.size() != 2) throw EUsage("sign needs INSTALLER OUTDIR");
  const std::string& installer = options.positional[0];
  const std::string& dir = options.positional[1];
  // Before anything is written: a usage error leaves no half-made release behind.
  const TReleaseKeys keys{DeliveryFrom(options, {}), InstallerFrom(options, {})};
  TManifest manifest;
  manifest.Stamp = CheckedStamp(options.Required("stamp"));
  manifest.Product = CheckedProduct(options.One("product").value_or("BrixaUpdater"));
  const auto serial = options.One("serial");
  // The current time in seconds grows by itself from one release to the next.
  manifest.Serial =
      serial ? Number(*serial, "--serial") : static_cast<std::uint64_t>(UtcNowSeconds());
  manifest.Expires = ExpiresFrom(options);
  TSigner signer(ReadFile(options.Required("key"), kMaxKeyFileBytes));
  PrepareOutputFolder(dir, true);
  // The copy is a new file even when the installer already is OUTDIR/update.exe: what was
  // there is replaced once the release is signed, never written into.
  TOutputFile installerCopy(Join(dir, kInstallerFileName));
  CopyHashed(installer, installerCopy, manifest);
  if (manifest.Size <= 0) throw EUsage(installer + " is empty");
  WriteSignedRelease(signer, manifest, keys, dir, &installerCopy);
  out << "signed " << dir << ": Version=" << manifest.Stamp << " Serial=" << manifest.Serial
      << " Expires=" << FormatUtcTime(manifest.Expires) << " Size=" << manifest.Size << "\n"
      << "upload " << kManifestFileName << ", " << kManifestSignatureFileName << " and "
      << kInstallerFileName << " to /brixakit/ (the installer first)\n";
  return kExitOk;
}

// The release folder's manifest, unverified, for re-signing: its installer must still match.
int Resign(const TOptions& options, std::ostream& out) {
  if (options.positional.size() != 1) throw EUsage("resign needs DIR");
  const std::string& dir = options.positional[0];
  PrepareOutputFolder(dir, false);
  TSigner signer(ReadFile(options.Required("key"), kMaxKeyFileBytes));
  const std::string bytes = ReadFile(Join(dir, kManifestFileName), kMaxManifestBytes);
  TManifest manifest = ParseManifest(bytes);
  // The mirrors and the rollout stay unless given anew: --rollout 0 is the kill switch.
  const TReleaseKeys keys{DeliveryFrom(options, ParseDeliveryKeys(bytes)),
                          InstallerFrom(options, ParseInstallerKeys(bytes))};
  std::int64_t size = 0;
  if (Sha256OfFile(Join(dir, kInstallerFileName), size) != manifest.Sha256 ||
      size != manifest.Size) {
    throw EManifestRefused(std::string(kInstallerFileName) + " no longer matches the manifest");
  }
  const auto serial = options.One("serial");
  const std::uint64_t next =
      serial ? Number(*serial, "--serial") : static_cast<std::uint64_t>(UtcNowSeconds());
  if (next <= manifest.Serial) {
    throw EUsage("the new serial " + std::to_string(next) + " must exceed " +
                 std::to_string(manifest.Serial));
  }
  manifest.Serial = next;
  manifest.Expires = ExpiresFrom(options);
  WriteSignedRelease(signer, manifest, keys, dir, nullptr);
  out << "re-signed " << dir << ": Serial=" << manifest.Serial
      << " Expires=" << FormatUtcTime(manifest.Expires) << " Rollout=" << keys.Delivery.Rollout
      << "\n";
  return kExitOk;
}

// What the updater does with the installer beyond its hash. The publisher pin is not checked
// here: that is the system's verdict on the machine that starts it.
void PrintInstallerKeys(const TInstallerKeys& installer, std::ostream& out) {
  for (std::size_t n = 0; n < installer.Publishers.size(); ++n) {
    out << "publisher " << n + 1 << ": " << installer.Publishers[n] << "\n";
  }
  if (!installer.Arguments.empty()) out << "arguments: " << installer.Arguments << "\n";
}

// The signer fingerprint of a signed program file, for --publisher; 1 when it has none.
int Fingerprint(const TOptions& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 1) throw EUsage("fingerprint needs FILE");
  const std::string image = ReadFile(options.positional[0], kMaxSignedProgramBytes);
  const auto fingerprint = PeSignerFingerprint(image);
  if (!fingerprint) {
    err << "brixa-release: " << options.positional[0]
        << " carries no well-formed code signature with one signer\n";
    return kExitRefused;
  }
  out << *fingerprint << "\n";
  return kExitOk;
}

int Verify(const TOptions& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 1) throw EUsage("verify needs DIR");
  const auto keys = options.named.find("key");
  if (keys == options.named.end()) throw EUsage("--key is required");
  std::vector<std::string> publicKeys;
  for (const std::string& file : keys->second) {
    for (std::string& pem : SplitPublicKeys(ReadFile(file, kMaxKeyFileBytes))) {
      publicKeys.push_back(std::move(pem));
    }
  }
  TManifestPolicy policy;
  policy.Product = options.One("product").value_or("BrixaUpdater");
  policy.NowSeconds = UtcNowSeconds();
  if (const auto now = options.One("now")) {
    const auto at = ParseUtcTime(*now);
    if (!at) throw EUsage("--now must look like 2027-01-31T00:00:00Z: " + *now);
    policy.NowSeconds = *at;
  }
  if (const auto serial = options.One("min-serial"))
    policy.LowestSerial = Number(*serial, "--min-serial");
  const std::string& dir = options.positional[0];
  try {
    const std::string bytes = ReadFile(Join(dir, kManifestFileName), kMaxManifestBytes);
    const std::string signature =
        ReadFile(Join(dir, kManifestSignatureFileName), kMaxManifestBytes);
    const TManifest manifest = VerifyManifest(bytes, signature, publicKeys, policy);
    TFileStream installer(Join(dir, kInstallerFileName), fmOpenRead);
    VerifyDownload(200, -1, installer, manifest.Sha256, manifest.Size);
    const TDeliveryKeys delivery = ParseDeliveryKeys(bytes);
    out << "OK: Version=" << manifest.Stamp << " Product=" << manifest.Product
        << " Serial=" << manifest.Serial << " Expires=" << FormatUtcTime(manifest.Expires)
        << " Size=" << manifest.Size << " Rollout=" << delivery.Rollout << "\n";
    for (std::size_t n = 0; n < delivery.Mirrors.size(); ++n) {
      out << "mirror " << n + 1 << ": " << delivery.Mirrors[n] << "\n";
    }
    PrintInstallerKeys(ParseInstallerKeys(bytes), out);
    const std::int64_t left = manifest.Expires - policy.NowSeconds;
    if (left < kRecommendedResignDays * kSecondsPerDay) {
      out << "note: it expires in " << left / kSecondsPerDay << " days: re-sign it (resign)\n";
    }
    return kExitOk;
  } catch (const EManifestRefused& refused) {
    err << "refused: " << refused.Message() << "\n";
  } catch (const EUpdateIntegrityError& mismatch) {
    err << "refused: installer: " << mismatch.Message() << "\n";
  }
  return kExitRefused;
}

}  // namespace

std::string HelpText() {
  return "brixa-release: make signing keys, sign releases and check them as the updater does\n"
         "\n"
         "  brixa-release keygen PRIVATE.pem PUBLIC.pem\n"
         "      a new ECDSA P-256 key pair; PRIVATE.pem is readable by you alone and never\n"
         "      overwritten\n"
         "  brixa-release sign --key PRIVATE.pem --stamp STAMP [--serial N]\n"
         "                     [--expires TIME | --valid-days D] [--product NAME] INSTALLER "
         "OUTDIR\n"
         "      writes OUTDIR/version.ini (the manifest), version.ini.sig and update.exe (the\n"
         "      installer's bytes as they were hashed, read once); OUTDIR is made when missing;\n"
         "      --serial defaults to the current UTC time in seconds, the validity to " +
         std::to_string(kDefaultValidDays) +
         " days,\n"
         "      --product to BrixaUpdater; TIME is UTC, e.g. 2027-01-31T00:00:00Z\n"
         "      [--mirror URL]... further http(s) URLs of the installer, tried in order (at most " +
         std::to_string(kMaxMirrors) +
         ")\n"
         "      [--rollout PERCENT] offer the release to that share of installations (default "
         "100)\n"
         "  brixa-release resign --key PRIVATE.pem [--serial N] [--expires TIME | --valid-days D] "
         "DIR\n"
         "                       [--mirror URL]... [--rollout PERCENT] [--publisher FP]... "
         "[--arguments TEXT]\n"
         "      the same release with a new serial and expiry (re-sign at least every " +
         std::to_string(kRecommendedResignDays) +
         " days); mirrors, rollout, publishers and arguments stay unless given: --rollout 0 stops "
         "a\n"
         "      release at once\n"
         "      [--publisher FINGERPRINT]... the SHA-256 of the certificate the installer's code\n"
         "      signature must be made with (any one listed; list the renewed one before using "
         "it)\n"
         "      [--arguments TEXT] the installer's command line after its name (printable ASCII, "
         "at most " +
         std::to_string(kMaxLaunchArgumentsBytes) +
         " bytes)\n"
         "  brixa-release verify --key PUBLIC.pem [--key ...] [--product NAME] [--now TIME]\n"
         "                       [--min-serial N] DIR\n"
         "      checks DIR exactly as the updater would and says what fails; prints the\n"
         "      publishers and arguments (the code signature is checked where it is started)\n"
         "  brixa-release fingerprint FILE\n"
         "      the SHA-256 fingerprint of the certificate a signed program file was signed with\n"
         "\n"
         "Every file is written anew, readable by you alone, and put in place whole once it is on\n"
         "the disk; what had its name (a file, a link) is replaced, never written into. A folder\n"
         "another user may change, or one above it, is refused before anything is written.\n"
         "\n"
         "exit codes: 0 done / the release is good, 1 the release would be refused,\n"
         "            2 wrong usage, 3 a file or the crypto library could not be used\n";
}

int RunReleaseTool(const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& err) {
  if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h" ||
      arguments[0] == "help") {
    (arguments.empty() ? err : out) << HelpText();
    return arguments.empty() ? kExitUsage : kExitOk;
  }
  const std::string& command = arguments[0];
  try {
    if (command == "keygen") return Keygen(ParseOptions(arguments, 1, {}), out);
    if (command == "sign") {
      return Sign(ParseOptions(arguments, 1,
                               {"key", "stamp", "serial", "expires", "valid-days", "product",
                                "mirror", "rollout", "publisher", "arguments"}),
                  out);
    }
    if (command == "resign") {
      return Resign(ParseOptions(arguments, 1,
                                 {"key", "serial", "expires", "valid-days", "mirror", "rollout",
                                  "publisher", "arguments"}),
                    out);
    }
    if (command == "verify") {
      return Verify(ParseOptions(arguments, 1, {"key", "product", "now", "min-serial"}), out, err);
    }
    if (command == "fingerprint") return Fingerprint(ParseOptions(arguments, 1, {}), out, err);
    throw EUsage("unknown command " + command);
  } catch (const EUsage& usage) {
    err << "brixa-release: " << usage.Message() << " (see brixa-release --help)\n";
    return kExitUsage;
  } catch (const EManifestRefused& refused) {
    err << "brixa-release: " << refused.Message() << "\n";
    return kExitRefused;
  } catch (const Exception& error) {
    err << "brixa-release: " << error.Message() << "\n";
    return kExitFailed;
  } catch (const std::exception& error) {
    err << "brixa-release: " << error.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace brixa::release
