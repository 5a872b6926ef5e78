// The installer's file beside the product: the folder check, the kept part and its identity,
// the download into it, and what is left behind when it fails.

#include "update/delivery/installer_download.h"

#include <utility>

#include "platform/core/stream.h"
#include "platform/files/file_lock.h"
#include "platform/files/module_path.h"
#include "platform/files/secure_path.h"
#include "update/state/partial_identity.h"

namespace brixa {

namespace {

// The identity kept beside a partial installer; none when missing, too large or damaged.
TPartialIdentity LoadPartialIdentity(const std::string& fileName) {
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    std::string text(kMaxPartialIdentityBytes + 1, '\0');
    text.resize(
        static_cast<std::size_t>(file.Read(text.data(), static_cast<std::int64_t>(text.size()))));
    if (auto identity = TPartialIdentity::Parse(text)) return *identity;
  } catch (const Exception&) {
  }
  return {};
}

void SavePartialIdentity(const std::string& fileName, const TPartialIdentity& identity) {
  WritePrivateFileDurably(fileName, identity.Serialize());
}

}  // namespace

TInstallerDownload::TInstallerDownload(TUpdateFetcher& fetcher, TInstallerRelease release,
                                       std::string fileName, std::vector<std::string> urls)
    : fetcher_(fetcher),
      release_(std::move(release)),
      fileName_(std::move(fileName)),
      urls_(std::move(urls)) {}

void TInstallerDownload::RemoveLeftover(const std::string& fileName,
                                        const TInstallerRelease& release) noexcept {
  // A resumable release decides in Run whether the kept part is its own.
  if (!release.Resumable()) (void)RemoveFile(fileName);
}

std::unique_ptr<TPrivateFile> TInstallerDownload::Run() {
  // Another user who may change the folder could swap the product's files under the updater.
  std::string why;
  if (!IsSecurePath(ExtractFilePath(fileName_), why)) {
    throw EUpdateUnsafeFolder("the product's folder is not safe: " + why);
  }
  // One download of the product's installer at a time, whoever runs it.
  const TFileLock lock(fileName_ + kDownloadLockSuffix);
  if (!lock.Held()) {
    throw EUpdateDeliveryFailed(lock.State() == TFileLockState::flBusy
                                    ? "another run is downloading " + fileName_
                                    : lock.Error());
  }
  try {
    return Fetch();
  } catch (...) {
    // Only a resumable part with a validator to ask for the rest is kept for the next run; it is
    // never started before it is whole and verified.
    if (!keepPartial_) {
      (void)RemoveFile(fileName_);
      (void)RemoveFile(IdentityFile());
    }
    throw;
  }
}

std::unique_ptr<TPrivateFile> TInstallerDownload::Fetch() {
  fetcher_.LimitRedirects(TRedirectRule(urls_));
  const TPartialIdentity kept =
      release_.Resumable() ? LoadPartialIdentity(IdentityFile()) : TPartialIdentity{};
  const bool continues = kept.Continues(release_.Serial, release_.Sha256);
  std::unique_ptr<TPrivateFile> file =
      continues ? TPrivateFile::OpenForAppend(fileName_) : TPrivateFile::Create(fileName_);
  TResumableDownload download(fetcher_, release_, *file, continues ? kept : TPartialIdentity{});
  bool continuable = continues;
  download.OnIdentity = [this, &continuable](const TPartialIdentity& identity) {
    SavePartialIdentity(IdentityFile(), identity);
    continuable = !identity.Validator.empty();
  };
  download.OnProgress = OnProgress;
  download.Pause = Pause;
  download.RemainingMs = RemainingMs;
  try {
    report_ = download.Run(urls_);
  } catch (const EUpdateDeliveryFailed&) {
    keepPartial_ = continuable && file->Size() > 0;
    throw;
  }
  (void)RemoveFile(IdentityFile());
  return file;
}

std::string TInstallerDownload::DeliveryNote() const {
  if (!release_.Resumable()) return {};
  std::string note = "served by " +
                     (report_.ServedBy.empty() ? std::string("the kept file") : report_.ServedBy) +
                     ", " + std::to_string(report_.ReusedBytes) + " bytes reused, " +
                     std::to_string(report_.FetchedBytes) + " fetched";
  if (!report_.Faults.empty()) note += "; " + report_.Faults.back();
  return note;
}

}  // namespace brixa
