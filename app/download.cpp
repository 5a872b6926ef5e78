// The download window's client and worker set-up, the download itself with its checks, and the
// launch of the installer.

#include "app/download.h"

#include <utility>

#include "app/download_check.h"
#include "app/proxy_route.h"
#include "app/update_signature.h"
#include "app/update_tls.h"
#include "app/version_check.h"
#include "platform/module_path.h"
#include "platform/process_launch.h"
#include "platform/system_info.h"

namespace brixa {

TfrmProgress* frmProgress = nullptr;

namespace {

// The form description's values for the client; most equal the class defaults and are set
// anyway, so the window does not depend on them staying so. The read timeout and the read size
// are added: see kUpdaterReadTimeoutMs and kDownloadReceiveSize.
void SetUpClient(TIdHTTP& http) {
  AttachUpdateTls(http);
  http.IOHandler()->SetRecvBufferSize(kDownloadReceiveSize);
  http.SetAllowCookies(true);
  http.ProxyParams().SetBasicAuthentication(false);
  http.ProxyParams().SetProxyPort(0);
  http.Request().SetContentLength(-1);
  http.Request().SetAccept("text/html, */*");
  http.Request().SetBasicAuthentication(false);
  http.Request().SetUserAgent("Mozilla/3.0 (compatible; Brixa Library)");
  http.SetHTTPOptions({hoForceEncodeParams});
  http.SetReadTimeout(kUpdaterReadTimeoutMs);
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

}  // namespace

TfrmProgress::TfrmProgress(TComponent* owner, std::string updateUrl, std::string expectedSha256,
                           std::string publicKeyPem)
    : TForm(owner),
      ProgressBarDownload(new TProgressBar(this)),       // owned by the form
      IdHTTP1(new TIdHTTP(this)),                        // owned by the form
      IdThreadComponent1(new TIdThreadComponent(this)),  // owned by the form
      LowSpeedGuard(new TLowSpeedGuard(this)),           // owned by the form
      updateUrl_(std::move(updateUrl)),
      expectedSha256_(std::move(expectedSha256)),
      publicKeyPem_(std::move(publicKeyPem)) {
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

  SetUpClient(*IdHTTP1);
  IdHTTP1->SetIntercept(LowSpeedGuard);
  IdHTTP1->OnWork = [this](TComponent* sender, TWorkMode mode, std::int64_t count) {
    IdHTTP1Work(sender, mode, count);
  };
  SetUpWorker(*IdThreadComponent1);
  IdThreadComponent1->OnRun = [this](TIdThreadComponent* sender) { IdThreadComponent1Run(sender); };
  OnCreate = [this](TComponent* sender) { FormCreate(sender); };

  tempExePath_ = ExtractFilePath(ProgramFileName()) + SystemPathDelimiter() + kTempExeName;
  (void)RemoveFile(tempExePath_);  // a leftover of an earlier run; failure ignored
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
  if (AWorkMode == wmRead) ProgressBarDownload->SetPosition(ProgressSteps(AWorkCount));
}

void TfrmProgress::DownloadUpdate() {
  bool complete = false;
  try {
    FetchInstaller();
    complete = true;
  } catch (...) {
    // Any failure ends the same way below; the exception goes no further.
  }
  CleanUp();
  if (!complete) {
    ReportFailure();
  } else if (publicKeyPem_.empty()) {
    LaunchInstaller();
  } else {
    LaunchVerifiedInstaller();
  }
  Close();
}

void TfrmProgress::FetchInstaller() {
  (void)RemoveFile(tempExePath_);
  downloadStream_ = std::make_unique<TFileStream>(tempExePath_, fmCreate);
  IdHTTP1->SetHandleRedirects(true);
  LowSpeedGuard->Restart();
  signature_.clear();
  // First, so the bar then shows the installer alone; a missing signature costs no download.
  if (!publicKeyPem_.empty()) {
    RouteThroughProxy(*IdHTTP1, UpdaterProxyRoute(), updateUrl_ + kSignatureSuffix);
    signature_ = FetchSignature(*IdHTTP1, updateUrl_ + kSignatureSuffix);
  }
  // Each request starts at the proxy its own URL calls for, whatever a redirect chose before.
  RouteThroughProxy(*IdHTTP1, UpdaterProxyRoute(), updateUrl_);
  IdHTTP1->Head(updateUrl_);
  ProgressBarDownload->SetPosition(0);
  ProgressBarDownload->SetMax(ProgressSteps(IdHTTP1->LastResponse().ContentLength()));
  RouteThroughProxy(*IdHTTP1, UpdaterProxyRoute(), updateUrl_);
  IdHTTP1->Get(updateUrl_, downloadStream_.get());
  // Only a complete, and when announced, intact installer may be started.
  VerifyDownload(IdHTTP1->LastResponse().StatusCode(), IdHTTP1->LastResponse().ContentLength(),
                 *downloadStream_, expectedSha256_);
}

// Runs after every download, finished or failed: the worker is told to end once its run
// handler returns, the connection is closed and the file is closed.
void TfrmProgress::CleanUp() noexcept {
  try {
    IdThreadComponent1->StopWorker();
  } catch (...) {
  }
  try {
    IdHTTP1->CloseConnection(true);
  } catch (...) {
  }
  downloadStream_.reset();
}

void TfrmProgress::ReportFailure() {
  (void)RemoveFile(tempExePath_);
  Application().ShowMessage(RSDownloadError);
}

void TfrmProgress::LaunchInstaller() {
  ReportLaunch(LaunchProcess(tempExePath_));
}

// The file is opened once it is closed for writing and held until it is started: the bytes
// the signature is checked over are the bytes that run.
void TfrmProgress::LaunchVerifiedInstaller() {
  unsigned long error = 0;
  auto file = TLaunchableFile::Open(tempExePath_, error);
  if (!file || !SignatureMatches(publicKeyPem_, *file, signature_)) {
    file.reset();
    ReportFailure();
    return;
  }
  ReportLaunch(file->Launch());
}

void TfrmProgress::ReportLaunch(const TProcessLaunch& launch) {
  if (!launch.Started) {
    Application().ShowMessage(RSCreateProcessFailed + std::to_string(launch.ErrorCode));
  }
}

}  // namespace brixa
