#pragma once
// TfrmProgress, the updater's download window: the installer fetched with a progress bar, checked,
// and started.

#include <cstdint>
#include <memory>
#include <string>

#include "app/low_speed.h"
#include "http/http.h"
#include "platform/gui.h"
#include "platform/gui_backend.h"  // completes the form's native window type
#include "platform/process_launch.h"
#include "platform/stream.h"
#include "runtime/thread_component.h"

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
// responsive because IdHTTP1Work processes pending messages at every progress report.
class TfrmProgress : public TForm {
 public:
  // `updateUrl` is where the installer is fetched. `expectedSha256`, when not empty, is the
  // installer's SHA-256 as the version file announced it: a download that does not hash to it
  // is not started. With a `publicKeyPem`, the installer is started only when its signature
  // (updateUrl + kSignatureSuffix) verifies over the very file that is then started. Deletes a
  // leftover temporary installer.
  TfrmProgress(TComponent* owner, std::string updateUrl, std::string expectedSha256 = {},
               std::string publicKeyPem = {});
  ~TfrmProgress() override;

  // Components, owned by the form.
  TProgressBar* ProgressBarDownload;
  TIdHTTP* IdHTTP1;
  TIdThreadComponent* IdThreadComponent1;
  // IdHTTP1's intercept: ends a download that trickles (see TLowSpeedRule).
  TLowSpeedGuard* LowSpeedGuard;

  // Handlers named as the form description names them.
  // Centres the window on the screen and starts the worker.
  void FormCreate(TComponent* Sender);
  // Worker thread: runs DownloadUpdate on the main thread and waits for it.
  void IdThreadComponent1Run(TIdThreadComponent* Sender);
  // Main thread, for every progress report of IdHTTP1.
  void IdHTTP1Work(TComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount);

  // Main thread: downloads the installer to TempExePath, checks it, starts it, closes the
  // window. A failure deletes the file and shows RSDownloadError; nothing escapes.
  void DownloadUpdate();

  [[nodiscard]] const std::string& UpdateUrl() const noexcept { return updateUrl_; }
  void SetUpdateUrl(std::string value) { updateUrl_ = std::move(value); }
  // The program's directory (ending in a separator) + separator + kTempExeName.
  [[nodiscard]] const std::string& TempExePath() const noexcept { return tempExePath_; }
  void SetTempExePath(std::string value) { tempExePath_ = std::move(value); }
  [[nodiscard]] const std::string& ExpectedSha256() const noexcept { return expectedSha256_; }
  void SetExpectedSha256(std::string value) { expectedSha256_ = std::move(value); }
  [[nodiscard]] const std::string& UpdatePublicKey() const noexcept { return publicKeyPem_; }
  void SetUpdatePublicKey(std::string value) { publicKeyPem_ = std::move(value); }
  // The open temporary file while a download runs, else null.
  [[nodiscard]] TFileStream* DownloadStream() const noexcept { return downloadStream_.get(); }

 private:
  void FetchInstaller();
  void CleanUp() noexcept;
  void ReportFailure();
  void LaunchInstaller();
  void LaunchVerifiedInstaller();
  void ReportLaunch(const TProcessLaunch& launch);

  std::string updateUrl_;
  std::string tempExePath_;
  std::string expectedSha256_;
  std::string publicKeyPem_;
  std::string signature_;  // of the installer, fetched before it when a key is set
  std::unique_ptr<TFileStream> downloadStream_;
  bool destroying_ = false;
};

// The single instance, set while the application's main form exists.
extern TfrmProgress* frmProgress;

}  // namespace brixa
