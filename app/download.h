#pragma once
// TfrmProgress, the updater's download window: it shows the installer download's progress,
// serves its messages meanwhile, starts the verified installer and reports the outcome. The
// download itself is TInstallerDownload's.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/client/http.h"
#include "platform/core/stream.h"
#include "platform/files/private_file.h"
#include "platform/gui/gui.h"
#include "platform/gui/gui_backend.h"  // completes the form's native window type
#include "platform/process/process_launch.h"
#include "runtime/thread_component.h"
#include "update/delivery/installer_download.h"
#include "update/manifest/installer_keys.h"
#include "update/net/http_fetcher.h"
#include "update/net/low_speed.h"
#include "update/state/run_outcome.h"
#include "update/update_errors.h"

namespace brixa {

// Name of the downloaded installer beside the updater.
inline constexpr const char* kTempExeName = "brixaupdatetemp.exe";

inline constexpr const char* RSDownloadError = "Download Error!";

inline constexpr const char* RSCreateProcessFailed = "CreateProcess() failed: ";

// The window's layout.
inline constexpr int kProgressClientWidth = 305;
inline constexpr int kProgressClientHeight = 41;
// Bytes per progress-bar step: both the bar's maximum and its position are byte counts / 100.
inline constexpr std::int64_t kBytesPerProgressStep = 100;
// Bytes the download asks of the socket per read (the I/O handler's default is 32 KiB): an
// installer arrives in a quarter of the reads, with a progress report per read still many times
// finer than the bar shows.
inline constexpr std::int32_t kDownloadReceiveSize = 128 * 1024;

// The updater's only window: a progress bar while the new installer is downloaded beside the
// program, then the installer is started and the window closes, which ends the application.
//
// Threads: the form lives on the main thread. FormCreate starts IdThreadComponent1, whose
// worker does nothing but hand DownloadUpdate back to the main thread and wait, so every
// network call, progress update and message box runs on the main thread; the window stays
// responsive because IdHTTP1Work processes pending messages at every work report of the
// client, and the download's progress events move the bar.
class TfrmProgress : public TForm {
 public:
  // `updateUrl` is where the installer is fetched. `expectedSha256`, when not empty, is the
  // installer's SHA-256 as the version file announced it, and `expectedSize`, when not
  // negative, its size (a signed manifest's): a download that does not match is not started,
  // and one that grows past the size is not read further. The download is created as a
  // private file (TPrivateFile), checked through the handle that wrote it and started from
  // that same file (TLaunchableFile::FromWritten). Every transfer ends by `deadlineMs`
  // (MonotonicMilliseconds). Deletes a leftover temporary installer.
  TfrmProgress(TComponent* owner, std::string updateUrl, std::string expectedSha256 = {},
               std::int64_t expectedSize = -1, std::uint64_t deadlineMs = kNoDeadline);
  ~TfrmProgress() override;

  // Components, owned by the form.
  TProgressBar* ProgressBarDownload;
  TIdHTTP* IdHTTP1;
  TIdThreadComponent* IdThreadComponent1;
  // IdHTTP1's intercept: ends a download that trickles (see TLowSpeedRule).
  TLowSpeedGuard* LowSpeedGuard;

  // The handlers the form's components are wired to.
  // Centres the window on the screen and starts the worker.
  void FormCreate(TComponent* Sender);
  // Worker thread: runs DownloadUpdate on the main thread and waits for it.
  void IdThreadComponent1Run(TIdThreadComponent* Sender);
  // Main thread, for every work report of IdHTTP1: serves the window's messages.
  void IdHTTP1Work(TComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount);

  // Main thread: downloads the installer to TempExePath (TInstallerDownload), starts it from the
  // handle it was verified through, closes the window. A failure shows RSDownloadError, with
  // the file deleted or, for a resumable release, kept for the next run; nothing escapes.
  void DownloadUpdate();

  [[nodiscard]] const std::string& UpdateUrl() const noexcept { return updateUrl_; }
  void SetUpdateUrl(std::string value) { updateUrl_ = std::move(value); }
  // The program's directory (ending in a separator) + separator + kTempExeName.
  [[nodiscard]] const std::string& TempExePath() const noexcept { return tempExePath_; }
  void SetTempExePath(std::string value) { tempExePath_ = std::move(value); }
  // For a product this user cannot change: the installer goes to `folder` (the user's private
  // state folder, ending in a separator) and is started with raised rights (LaunchElevated),
  // held open from its check to its start. A leftover there is deleted as in the constructor.
  void InstallElevatedFrom(const std::string& folder);
  // For a product the machine's update service updates: the window shows the service's run of
  // `product` (asked with AskService) instead of downloading, until the service is done; its
  // outcome is the window's.
  void FollowService(const std::string& product);
  [[nodiscard]] const std::string& ExpectedSha256() const noexcept { return expectedSha256_; }
  void SetExpectedSha256(std::string value) { expectedSha256_ = std::move(value); }
  [[nodiscard]] std::int64_t ExpectedSize() const noexcept { return expectedSize_; }
  void SetExpectedSize(std::int64_t value) noexcept { expectedSize_ = value; }
  // The open temporary file while a download runs, else null.
  [[nodiscard]] TPrivateFile* DownloadStream() const noexcept { return downloadStream_.get(); }
  // A signed manifest's further installer URLs, tried in order after UpdateUrl, and its serial.
  // With a manifest's size and hash known, the download is resumable: a partial installer is
  // kept beside the program with its identity (TempExePath + kPartialIdentitySuffix) and
  // continued by the next attempt or run; the bar starts where it stands.
  [[nodiscard]] const std::vector<std::string>& Mirrors() const noexcept { return mirrors_; }
  void SetMirrors(std::vector<std::string> value) { mirrors_ = std::move(value); }
  [[nodiscard]] std::uint64_t ReleaseSerial() const noexcept { return releaseSerial_; }
  void SetReleaseSerial(std::uint64_t value) noexcept { releaseSerial_ = value; }
  // A signed manifest's installer keys: the verified file is started only when its code
  // signature is by one of the listed publishers (VerifyInstallerPublisher, on the handle it
  // is started from), and with the listed arguments. None: no signature check, no arguments.
  [[nodiscard]] const TInstallerKeys& InstallerKeys() const noexcept { return installerKeys_; }
  void SetInstallerKeys(TInstallerKeys value) { installerKeys_ = std::move(value); }
  // After a resumable download: which URL served, the bytes reused and fetched (for the log).
  [[nodiscard]] const std::string& DeliveryNote() const noexcept { return deliveryNote_; }
  // After DownloadUpdate: roInstalled (started), roFailed, or roNone when it has not run; and
  // for a failure, why (for the run log).
  [[nodiscard]] TRunOutcome Outcome() const noexcept { return outcome_; }
  [[nodiscard]] const std::string& FailureReason() const noexcept { return failureReason_; }

 private:
  [[nodiscard]] TInstallerRelease Release() const;
  void ShowProgress(std::int64_t held, std::int64_t size);
  void CleanUp() noexcept;
  void ReportFailure(std::string reason);
  void LaunchInstaller();
  void ShowServiceRun();
  void ReportLaunch(const TProcessLaunch& launch);

  std::string updateUrl_;
  std::string tempExePath_;
  bool elevated_ = false;
  std::string serviceProduct_;  // not empty: the service's run is shown
  std::string expectedSha256_;
  std::int64_t expectedSize_ = -1;
  TRunOutcome outcome_ = TRunOutcome::roNone;
  std::string failureReason_;
  std::vector<std::string> mirrors_;
  std::uint64_t releaseSerial_ = 0;
  TInstallerKeys installerKeys_;
  std::string deliveryNote_;
  std::unique_ptr<TPrivateFile> downloadStream_;
  bool destroying_ = false;
};

// The single instance, set while the application's main form exists.
extern TfrmProgress* frmProgress;

}  // namespace brixa
