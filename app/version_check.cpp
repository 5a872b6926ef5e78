#include "app/version_check.h"

#include <memory>

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

std::string ReadStamp(const std::string& fileName) {
  return ReadProfileString(kVersionSection, kVersionKey, kDefaultStamp, kStampBufferSize, fileName);
}

}  // namespace

std::string UpdateServerUrl(const std::string& server, const std::string& path) {
  // A bare host[:port] is the plain http server of the original releases.
  if (server.rfind("https://", 0) == 0 || server.rfind("http://", 0) == 0) return server + path;
  return "http://" + server + path;
}

std::string DownloadVersionFile(const std::string& url, const std::string& fileName) {
  const auto client = std::make_unique<TIdHTTP>();
  AttachUpdateTls(*client);
  client->SetReadTimeout(kUpdaterReadTimeoutMs);
  std::string result;
  try {
    // The stream is closed when this block ends, also through an exception, so the caller can
    // read or delete the file.
    TFileStream stream(fileName, fmCreate);
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

TUpdateCheck CheckForUpdate(const std::string& versionUrl, const TVersionCheckFiles& files) {
  TUpdateCheck check;
  if (DownloadVersionFile(versionUrl, files.TempVersionFile) == RSVersionCheckError) return check;
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

TUpdateCheck CheckForUpdate(const std::string& versionUrl) {
  return CheckForUpdate(versionUrl, VersionCheckFilesOfProgram());
}

}  // namespace brixa
