// The download window's client and worker set-up, the download itself with its checks, and the
// launch of the installer.

#include "app/download.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/version_check.h"
#include "platform/files/module_path.h"
#include "platform/files/secure_path.h"
#include "platform/process/process_launch.h"
#include "platform/system/system_info.h"
#include "platform/thread/clock.h"
#include "update/delivery/download_check.h"
#include "update/delivery/resumable_download.h"
#include "update/delivery/size_limited_stream.h"
#include "update/manifest/delivery_keys.h"
#include "update/manifest/manifest.h"
#include "update/manifest/rollout.h"
#include "update/net/update_client.h"
#include "update/state/run_log.h"

namespace brixa {

TfrmProgress* frmProgress = nullptr;

namespace {

// The form description's values for the client; most equal the class defaults and are set
// anyway, so the window does not depend on them staying so. The read timeout and the read size
// are added, with the set-up every update client shares (SetUpUpdateClient), and the read size
// (kDownloadReceiveSize).
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
  const std::string text = identity.Serialize();
  TPrivateFile::Create(fileName)->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
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
  if (!Resumable()) (void)RemoveFile(tempExePath_);
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

void TfrmProgress::IdHTTP1Work(TComponent* /*ASender*/, TWorkMode AWorkMode,
                               std::int64_t AWorkCount) {
  Application().ProcessMessages();
  // A resumable download moves the bar itself, from where the kept file stands.
  if (AWorkMode == wmRead && !Resumable()) {
    ProgressBarDownload->SetPosition(ProgressSteps(AWorkCount));
  }
}

void TfrmProgress::DownloadUpdate() {
  std::string failure;
  try {
    FetchInstaller();
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

void TfrmProgress::FetchInstaller() {
  // Another user who may change the folder could swap the product's files under the updater.
  std::string why;
  if (!IsSecurePath(ExtractFilePath(tempExePath_), why)) {
    throw EUpdateUnsafeFolder("the product's folder is not safe: " + why);
  }
  if (Resumable()) {
    FetchResumable();
    return;
  }
  downloadStream_ = TPrivateFile::Create(tempExePath_);
  TSizeLimitedStream limited(*downloadStream_, expectedSize_ >= 0 ? expectedSize_ : INT64_MAX);
  IdHTTP1->SetHandleRedirects(true);
  LowSpeedGuard->Restart();
  PrepareUpdateRequest(*IdHTTP1, *LowSpeedGuard, updateUrl_);
  IdHTTP1->Head(updateUrl_);
  const std::int64_t announced = IdHTTP1->LastResponse().ContentLength();
  if (expectedSize_ >= 0 && announced > expectedSize_) {
    throw EUpdateTooLarge("the server announces " + std::to_string(announced) +
                          " bytes, larger than the manifest's " + std::to_string(expectedSize_));
  }
  ProgressBarDownload->SetPosition(0);
  ProgressBarDownload->SetMax(ProgressSteps(announced));
  // Each request starts at the proxy its own URL calls for, whatever a redirect chose before.
  PrepareUpdateRequest(*IdHTTP1, *LowSpeedGuard, updateUrl_);
  IdHTTP1->Get(updateUrl_, &limited);
  // Only a complete, and when announced, intact installer may be started; it is hashed
  // through the handle that wrote it.
  VerifyDownload(IdHTTP1->LastResponse().StatusCode(), IdHTTP1->LastResponse().ContentLength(),
                 *downloadStream_, expectedSha256_, expectedSize_);
}

bool TfrmProgress::Resumable() const {
  return expectedSize_ > 0 && IsSha256Text(expectedSha256_);
}

// The signed manifest's installer from the first of UpdateUrl and the mirrors that delivers
// it, continuing a kept partial file of the same release.
void TfrmProgress::FetchResumable() {
  const std::string identityFile = tempExePath_ + kPartialIdentitySuffix;
  const TPartialIdentity kept = LoadPartialIdentity(identityFile);
  const TInstallerRelease release{releaseSerial_, expectedSize_, expectedSha256_};
  const bool continues = kept.Continues(release.Serial, release.Sha256);
  downloadStream_ =
      continues ? TPrivateFile::OpenForAppend(tempExePath_) : TPrivateFile::Create(tempExePath_);
  IdHTTP1->SetHandleRedirects(true);
  ProgressBarDownload->SetPosition(0);
  ProgressBarDownload->SetMax(ProgressSteps(expectedSize_));
  TResumableDownload download(*IdHTTP1, release, *downloadStream_,
                              continues ? kept : TPartialIdentity{});
  bool continuable = continues;
  download.OnIdentity = [&identityFile, &continuable](const TPartialIdentity& identity) {
    SavePartialIdentity(identityFile, identity);
    continuable = !identity.Validator.empty();
  };
  download.OnProgress = [this](std::int64_t held, std::int64_t /*size*/) {
    ProgressBarDownload->SetPosition(ProgressSteps(held));
  };
  download.BeforeRequest = [this](const std::string& url) {
    LowSpeedGuard->Restart();
    PrepareUpdateRequest(*IdHTTP1, *LowSpeedGuard, url);
  };
  download.Pause = PauseServingMessages;
  download.RemainingMs = [this] {
    const std::uint64_t now = MonotonicMilliseconds();
    const std::uint64_t deadline = LowSpeedGuard->DeadlineMs();
    return deadline <= now
               ? std::int64_t{0}
               : static_cast<std::int64_t>(std::min<std::uint64_t>(deadline - now, INT64_MAX));
  };
  TDeliveryReport report;
  try {
    report = download.Run(InstallerUrls(updateUrl_, TDeliveryKeys{mirrors_, kFullRollout}));
  } catch (const EUpdateDeliveryFailed&) {
    keepPartial_ = continuable && downloadStream_->Size() > 0;
    throw;
  }
  (void)RemoveFile(identityFile);
  deliveryNote_ = "served by " +
                  (report.ServedBy.empty() ? std::string("the kept file") : report.ServedBy) +
                  ", " + std::to_string(report.ReusedBytes) + " bytes reused, " +
                  std::to_string(report.FetchedBytes) + " fetched";
  if (!report.Faults.empty()) deliveryNote_ += "; " + report.Faults.back();
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
  // What a resumable download holds is kept with its identity for the next run; it is never
  // started before it is whole and verified.
  if (!keepPartial_) {
    (void)RemoveFile(tempExePath_);
    (void)RemoveFile(tempExePath_ + kPartialIdentitySuffix);
  }
  outcome_ = "failed";
  failureReason_ = std::move(reason);
  std::fprintf(stderr, "%s: %s\n", kUpdaterName, ScrubLogText(failureReason_).c_str());
  Application().ShowMessage(RSDownloadError);
}

// The checked file is started from the handle it was written and checked through: the bytes
// checked are the bytes that run.
void TfrmProgress::LaunchInstaller() {
  unsigned long error = 0;
  auto file = TLaunchableFile::FromWritten(std::move(downloadStream_), error);
  if (!file) {
    outcome_ = "failed";
    failureReason_ = tempExePath_ + ": cannot be started (error " + std::to_string(error) + ")";
    Application().ShowMessage(RSCreateProcessFailed + std::to_string(error));
    return;
  }
  ReportLaunch(file->Launch());
}

void TfrmProgress::ReportLaunch(const TProcessLaunch& launch) {
  if (!launch.Started) {
    outcome_ = "failed";
    failureReason_ = tempExePath_ + ": CreateProcess() failed: " + std::to_string(launch.ErrorCode);
    Application().ShowMessage(RSCreateProcessFailed + std::to_string(launch.ErrorCode));
    return;
  }
  outcome_ = "installed";
}

}  // namespace brixa
