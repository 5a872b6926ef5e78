// The download window's client and worker set-up, its view of the installer download, and the
// launch of the installer.

#include "app/download.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/service_client.h"
#include "app/version_check.h"
#include "platform/files/module_path.h"
#include "platform/process/elevated_launch.h"
#include "platform/process/process_launch.h"
#include "platform/system/system_info.h"
#include "platform/thread/clock.h"
#include "update/delivery/publisher_check.h"
#include "update/manifest/delivery_keys.h"
#include "update/manifest/manifest.h"
#include "update/manifest/rollout.h"
#include "update/net/update_client.h"
#include "update/state/run_log.h"

namespace brixa {

TfrmProgress* frmProgress = nullptr;

namespace {

// The window's values for its client; most equal the class defaults and are set anyway, so the
// window does not depend on them staying so. Added to them: the set-up every update client
// shares (SetUpUpdateClient) and the read size (kDownloadReceiveSize).
void SetUpClient(TIdHTTP& http, TLowSpeedGuard& guard) {
  SetUpUpdateClient(http, guard);
  http.IOHandler()->SetRecvBufferSize(kDownloadReceiveSize);
  http.SetAllowCookies(true);
  http.ProxyParams().SetBasicAuthentication(false);
  http.ProxyParams().SetProxyPort(0);
  http.Request().SetContentLength(-1);
  http.Request().SetAccept("text/html, */*");
  http.Request().SetBasicAuthentication(false);
  http.Request().SetUserAgent("Mozilla/3.0 (compatible; Brixa Library)");
  http.SetHTTPOptions({hoForceEncodeParams});
}

void SetUpWorker(TIdThreadComponent& worker) {
  worker.SetActive(false);
  worker.SetLoop(false);
  worker.SetPriority(tpNormal);
  worker.SetStopMode(smTerminate);
}

[[nodiscard]] std::int32_t ProgressSteps(std::int64_t bytes) noexcept {
  return static_cast<std::int32_t>(bytes / kBytesPerProgressStep);
}

// Between retries the window keeps serving its messages.
constexpr std::uint32_t kPauseSliceMs = 50;

void PauseServingMessages(std::uint32_t ms) {
  const std::uint64_t end = MonotonicMilliseconds() + ms;
  for (std::uint64_t now = MonotonicMilliseconds(); now < end; now = MonotonicMilliseconds()) {
    Application().ProcessMessages();
    SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(end - now, kPauseSliceMs)));
  }
}

}  // namespace

TfrmProgress::TfrmProgress(TComponent* owner, std::string updateUrl, std::string expectedSha256,
                           std::int64_t expectedSize, std::uint64_t deadlineMs)
    : TForm(owner),
      ProgressBarDownload(new TProgressBar(this)),       // owned by the form
      IdHTTP1(new TIdHTTP(this)),                        // owned by the form
      IdThreadComponent1(new TIdThreadComponent(this)),  // owned by the form
      LowSpeedGuard(new TLowSpeedGuard(this)),           // owned by the form
      updateUrl_(std::move(updateUrl)),
      expectedSha256_(std::move(expectedSha256)),
      expectedSize_(expectedSize) {
  SetCaption(kUpdaterName);
  SetBorderStyle(bsDialog);
  SetBorderIcons(biMinimize | biMaximize);  // no system menu: no close box
  SetFormStyle(fsStayOnTop);
  SetClientWidth(kProgressClientWidth);
  SetClientHeight(kProgressClientHeight);
  SetAutoSize(true);
  SetColor(clBtnFace);
  SetFont(TFont{"Tahoma", -11});
  SetLeft(0);
  SetTop(0);

  ProgressBarDownload->SetParent(this);
  ProgressBarDownload->SetBounds(0, 0, kProgressClientWidth, kProgressClientHeight);
  ProgressBarDownload->SetDoubleBuffered(true);
  ProgressBarDownload->SetMin(0);
  ProgressBarDownload->SetMax(0);
  ProgressBarDownload->SetTabOrder(0);

  LowSpeedGuard->SetDeadline(deadlineMs);
  SetUpClient(*IdHTTP1, *LowSpeedGuard);
  IdHTTP1->OnWork = [this](TComponent* sender, TWorkMode mode, std::int64_t count) {
    IdHTTP1Work(sender, mode, count);
  };
  SetUpWorker(*IdThreadComponent1);
  IdThreadComponent1->OnRun = [this](TIdThreadComponent* sender) { IdThreadComponent1Run(sender); };
  OnCreate = [this](TComponent* sender) { FormCreate(sender); };

  tempExePath_ = ExtractFilePath(ProgramFileName()) + SystemPathDelimiter() + kTempExeName;
  // A leftover of an earlier run; failure ignored. A resumable download keeps it to continue.
  TInstallerDownload::RemoveLeftover(tempExePath_, Release());
}

TfrmProgress::~TfrmProgress() {
  // The worker must be gone while the form is still whole. Waiting for it serves main-thread
  // calls, so a download it handed over but the loop never ran is skipped rather than run.
  destroying_ = true;
  delete IdThreadComponent1;
  IdThreadComponent1 = nullptr;
  if (frmProgress == this) frmProgress = nullptr;
}

void TfrmProgress::FormCreate(TComponent* /*Sender*/) {
  SetLeft((Screen().Width() - Width()) / 2);
  SetTop((Screen().Height() - Height()) / 2);
  IdThreadComponent1->StartWorker();
}

void TfrmProgress::IdThreadComponent1Run(TIdThreadComponent* Sender) {
  Sender->RunOnMainThread([this] {
    if (!destroying_) DownloadUpdate();
  });
}

void TfrmProgress::IdHTTP1Work(TComponent* /*ASender*/, TWorkMode /*AWorkMode*/,
                               std::int64_t /*AWorkCount*/) {
  Application().ProcessMessages();
}

void TfrmProgress::DownloadUpdate() {
  if (!serviceProduct_.empty()) {
    ShowServiceRun();
    CleanUp();
    Close();
    return;
  }
  std::string failure;
  try {
    IdHTTP1->SetHandleRedirects(true);
    TIdHTTPFetcher fetcher(*IdHTTP1, *LowSpeedGuard);
    TInstallerDownload download(fetcher, Release(), tempExePath_,
                                InstallerUrls(updateUrl_, TDeliveryKeys{mirrors_, kFullRollout}));
    download.OnProgress = [this](std::int64_t held, std::int64_t size) {
      ShowProgress(held, size);
    };
    download.Pause = PauseServingMessages;
    download.RemainingMs = [this] {
      const std::uint64_t now = MonotonicMilliseconds();
      const std::uint64_t deadline = LowSpeedGuard->DeadlineMs();
      return deadline <= now
                 ? std::int64_t{0}
                 : static_cast<std::int64_t>(std::min<std::uint64_t>(deadline - now, INT64_MAX));
    };
    downloadStream_ = download.Run();
    deliveryNote_ = download.DeliveryNote();
  } catch (const Exception& error) {
    failure = updateUrl_ + ": " + error.Message();
  } catch (...) {
    failure = updateUrl_ + ": an unknown error";
  }
  // Any failure ends the same way below; the exception goes no further.
  CleanUp();
  if (failure.empty()) {
    LaunchInstaller();
  } else {
    ReportFailure(std::move(failure));
  }
  Close();
}

// What the window was given of the installer: a signed manifest's serial, size and hash, or an
// unsigned version file's optional hash.
TInstallerRelease TfrmProgress::Release() const {
  return {releaseSerial_, expectedSize_, expectedSha256_};
}

// The bar counts hundreds of bytes; its maximum is the size as soon as it is known.
void TfrmProgress::ShowProgress(std::int64_t held, std::int64_t size) {
  const std::int32_t max = ProgressSteps(size < 0 ? 0 : size);
  if (ProgressBarDownload->Max() != max) ProgressBarDownload->SetMax(max);
  // Without a known size the bar stays empty.
  ProgressBarDownload->SetPosition(std::min(ProgressSteps(held), max));
}

// Runs after every download, finished or failed: the worker is told to end once its run
// handler returns and the connection is closed. The file stays open for the launch.
void TfrmProgress::CleanUp() noexcept {
  try {
    IdThreadComponent1->StopWorker();
  } catch (...) {
  }
  try {
    IdHTTP1->CloseConnection(true);
  } catch (...) {
  }
}

void TfrmProgress::ReportFailure(std::string reason) {
  downloadStream_.reset();
  outcome_ = TRunOutcome::roFailed;
  failureReason_ = std::move(reason);
  std::fprintf(stderr, "%s: %s\n", kUpdaterName, ScrubLogText(failureReason_).c_str());
  Application().ShowMessage(RSDownloadError);
}

// The checked file is started from the handle it was written and checked through: the bytes
// checked, hash and code signature alike, are the bytes that run.
void TfrmProgress::LaunchInstaller() {
  unsigned long error = 0;
  auto file = TLaunchableFile::FromWritten(std::move(downloadStream_), error);
  if (!file) {
    outcome_ = TRunOutcome::roFailed;
    failureReason_ = tempExePath_ + ": cannot be started (error " + std::to_string(error) + ")";
    Application().ShowMessage(RSCreateProcessFailed + std::to_string(error));
    return;
  }
  try {
    const std::string note = VerifyInstallerPublisher(*file, installerKeys_.Publishers);
    if (!note.empty()) deliveryNote_ += (deliveryNote_.empty() ? "" : "; ") + note;
  } catch (const Exception& refused) {
    // Verified bytes the vendor did not sign: never started, and not kept for another try.
    file.reset();
    (void)RemoveFile(tempExePath_);
    ReportFailure(tempExePath_ + ": " + refused.Message());
    return;
  }
  // The file stays held, read-shared only, until the elevated start has returned.
  ReportLaunch(elevated_ ? LaunchElevated(tempExePath_, installerKeys_.Arguments)
                         : file->Launch(installerKeys_.Arguments));
}

void TfrmProgress::FollowService(const std::string& product) {
  serviceProduct_ = product;
}

// The service's bytes move the bar; its outcome, once it is done, is the window's.
void TfrmProgress::ShowServiceRun() {
  while (MonotonicMilliseconds() < LowSpeedGuard->DeadlineMs()) {
    std::string error;
    const auto status = AskService(serviceProduct_, TServiceRequest::srStatus, error);
    if (!status) {
      outcome_ = TRunOutcome::roFailed;
      failureReason_ = "the update service: " + error;
      return;
    }
    ShowProgress(status->Held, status->Size);
    if (status->Phase == TServicePhase::spDone) {
      outcome_ = status->Outcome;
      deliveryNote_ = "the update service installed the update";
      failureReason_ = "the update service's run ended: " + std::string(RunOutcomeName(outcome_));
      return;
    }
    PauseServingMessages(kServicePollMs);
  }
  outcome_ = TRunOutcome::roFailed;
  failureReason_ = "the update service did not finish within the run's time";
}

void TfrmProgress::InstallElevatedFrom(const std::string& folder) {
  tempExePath_ = folder + kTempExeName;
  elevated_ = true;
  TInstallerDownload::RemoveLeftover(tempExePath_, Release());
}

void TfrmProgress::ReportLaunch(const TProcessLaunch& launch) {
  if (!launch.Started) {
    outcome_ = TRunOutcome::roFailed;
    failureReason_ = tempExePath_ + ": CreateProcess() failed: " + std::to_string(launch.ErrorCode);
    Application().ShowMessage(RSCreateProcessFailed + std::to_string(launch.ErrorCode));
    return;
  }
  outcome_ = TRunOutcome::roInstalled;
}

}  // namespace brixa
