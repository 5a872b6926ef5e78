// Fetching the version file (signed when a key is compiled in), reading its stamp and SHA-256,
// and deciding whether an update is due.

#include "app/version_check.h"

#include <memory>
#include <optional>

#include "app/proxy_route.h"
#include "app/update_signature.h"
#include "app/update_tls.h"
#include "http/http.h"
#include "platform/module_path.h"
#include "platform/profile_string.h"
#include "platform/stream.h"
#include "platform/system_info.h"

namespace brixa {

namespace {

// A path part copied into one of the check's kMaxPath-byte buffers.
std::string FitPathBuffer(std::string part) {
  if (part.size() > kMaxPath - 1) part.resize(kMaxPath - 1);
  return part;
}

// The whole of a small file, or nothing when it cannot be read or is larger than `limit`.
std::optional<std::string> ReadSmallFile(const std::string& fileName, std::int64_t limit) {
  try {
    TFileStream file(fileName, fmOpenRead);
    const std::int64_t size = file.Size();
    if (size > limit) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    file.ReadBuffer(bytes.data(), size);
    return bytes;
  } catch (...) {
    return std::nullopt;
  }
}

// True when the signature beside `url` on the server verifies over the bytes of `fileName`.
bool VersionFileSigned(const std::string& url, const std::string& fileName,
                       std::string_view publicKeyPem) {
  std::string signature;
  try {
    TLowSpeedGuard guard;
    const auto client = std::make_unique<TIdHTTP>();
    AttachUpdateTls(*client);
    client->SetReadTimeout(kUpdaterReadTimeoutMs);
    client->SetIntercept(&guard);
    RouteThroughProxy(*client, UpdaterProxyRoute(), url + kSignatureSuffix);
    signature = FetchSignature(*client, url + kSignatureSuffix);
  } catch (...) {
    return false;
  }
  const auto bytes = ReadSmallFile(fileName, kMaxSignedVersionFileBytes);
  return bytes && SignatureMatches(publicKeyPem, *bytes, signature);
}

std::string ReadStamp(const std::string& fileName) {
  return ReadProfileString(kVersionSection, kVersionKey, kDefaultStamp, kStampBufferSize, fileName);
}

}  // namespace

std::string UpdateServerUrl(const std::string& server, const std::string& path) {
  // A bare host[:port] is the plain http server of the original releases.
  if (server.rfind("https://", 0) == 0 || server.rfind("http://", 0) == 0) return server + path;
  return "http://" + server + path;
}

std::string DownloadVersionFile(const std::string& url, const std::string& fileName,
                                TLowSpeedRule lowSpeed) {
  // Made before the client, so it outlives the client that uses it.
  TLowSpeedGuard guard(nullptr, lowSpeed);
  const auto client = std::make_unique<TIdHTTP>();
  AttachUpdateTls(*client);
  client->SetReadTimeout(kUpdaterReadTimeoutMs);
  client->SetIntercept(&guard);
  std::string result;
  try {
    // The stream is closed when this block ends, also through an exception, so the caller can
    // read or delete the file.
    TFileStream stream(fileName, fmCreate);
    RouteThroughProxy(*client, UpdaterProxyRoute(), url);
    client->Head(url);
    client->Get(url, &stream);
  } catch (...) {
    result = RSVersionCheckError;
  }
  return result;
}

TVersionCheckFiles VersionCheckFilesOfProgram() {
  const TPathParts module = SplitPath(ModuleFileName(kMaxPath));
  const std::string drive = FitPathBuffer(module.Drive);
  const std::string dir = FitPathBuffer(module.Dir);
  TVersionCheckFiles files;
  // The "%s%sversion.ini" format with the drive and the directory.
  files.LocalVersionFile = drive + dir + "version.ini";
  files.TempVersionFile =
      ExtractFilePath(ProgramFileName()) + SystemPathDelimiter() + kTempVersionFileName;
  return files;
}

TUpdateCheck CheckForUpdate(const std::string& versionUrl, const TVersionCheckFiles& files,
                            std::string_view publicKeyPem) {
  TUpdateCheck check;
  if (DownloadVersionFile(versionUrl, files.TempVersionFile) == RSVersionCheckError) return check;
  if (!publicKeyPem.empty() &&
      !VersionFileSigned(versionUrl, files.TempVersionFile, publicKeyPem)) {
    (void)RemoveFile(files.TempVersionFile);
    return check;
  }
  const std::string serverStamp = ReadStamp(files.TempVersionFile);
  const std::string localStamp = ReadStamp(files.LocalVersionFile);
  check.UpdateAvailable = serverStamp != localStamp;  // byte for byte, lengths included
  if (check.UpdateAvailable) {
    check.ExpectedSha256 = ReadProfileString(kVersionSection, kSha256Key, "", kSha256BufferSize,
                                             files.TempVersionFile);
  }
  (void)RemoveFile(files.TempVersionFile);  // a file that stays is re-created by the next run
  return check;
}

TUpdateCheck CheckForUpdate(const std::string& versionUrl, std::string_view publicKeyPem) {
  return CheckForUpdate(versionUrl, VersionCheckFilesOfProgram(), publicKeyPem);
}

}  // namespace brixa
