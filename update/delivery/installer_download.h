#pragma once
// TInstallerDownload: the installer fetched beside the product, held to what the release says
// of it, and handed over open for the launch. One path for every build: a signed release
// (size and hash known) is resumable across attempts, runs and servers; an unsigned one is a
// release with no identity, fetched once from its one URL.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/private_file.h"
#include "update/delivery/resumable_download.h"
#include "update/net/fetcher.h"

namespace brixa {

// Beside a kept partial installer: what it is a part of (TPartialIdentity).
inline constexpr const char* kPartialIdentitySuffix = ".partial";
// Beside the installer: the lock every run takes while it downloads it (TFileLock).
inline constexpr const char* kDownloadLockSuffix = ".lock";

class TInstallerDownload {
 public:
  // `fileName` is where the installer goes (created anew as a private file, or continued);
  // `urls` are tried in order. The fetcher is borrowed.
  TInstallerDownload(TUpdateFetcher& fetcher, TInstallerRelease release, std::string fileName,
                     std::vector<std::string> urls);

  // Called with the bytes held and the installer's size (-1 while unknown): first before any
  // request (an unsigned release's size is then the length its server announces to a HEAD),
  // then after every write. Runs on the calling thread.
  std::function<void(std::int64_t held, std::int64_t size)> OnProgress;
  // Waits between retries; sleeps when not set.
  std::function<void(std::uint32_t ms)> Pause;
  // Milliseconds left of the run's overall deadline; unbounded when not set.
  std::function<std::int64_t()> RemainingMs;

  // Removes a leftover installer of an earlier run at `fileName` unless it is a part `release`
  // may continue; failure ignored.
  static void RemoveLeftover(const std::string& fileName,
                             const TInstallerRelease& release) noexcept;

  // Refuses a folder that others may change (EUpdateUnsafeFolder), takes the download's lock
  // (another run holding it: EUpdateDeliveryFailed), holds redirects to the origins of `urls`
  // (TRedirectRule), fetches, verifies the whole
  // file (size and hash, or for an unsigned release the announced length and the optional
  // hash) and returns it open, positioned at its end, for TLaunchableFile::FromWritten. On
  // failure raises the delivery error; a resumable release keeps what it holds with its
  // identity for the next run, anything else is deleted.
  [[nodiscard]] std::unique_ptr<TPrivateFile> Run();

  // How the download went; valid after Run (also after a failed one).
  [[nodiscard]] const TDeliveryReport& Report() const noexcept { return report_; }
  // For the run log: which URL served, the bytes reused and fetched ("" without an identity).
  [[nodiscard]] std::string DeliveryNote() const;

 private:
  [[nodiscard]] std::string IdentityFile() const { return fileName_ + kPartialIdentitySuffix; }
  std::unique_ptr<TPrivateFile> Fetch();

  TUpdateFetcher& fetcher_;
  TInstallerRelease release_;
  std::string fileName_;
  std::vector<std::string> urls_;
  TDeliveryReport report_;
  bool keepPartial_ = false;  // a failed resumable download left bytes a later run continues
};

}  // namespace brixa
