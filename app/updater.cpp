// The run as its steps: the lock, the check of each server in turn, the window only when the
// stamps differ, the log.

#include "app/updater.h"

#include <cstdio>
#include <optional>

#include "app/download.h"
#include "app/service_client.h"
#include "app/update_run.h"
#include "platform/core/exception.h"
#include "platform/files/file_lock.h"
#include "platform/files/folder_access.h"
#include "platform/files/module_path.h"
#include "platform/gui/gui.h"
#include "platform/process/elevated_launch.h"
#include "platform/process/single_instance.h"
#include "platform/thread/clock.h"
#include "runtime/text/text.h"
#include "update/net/http_fetcher.h"
#include "update/state/run_outcome.h"
#include "update/state/state_file.h"

namespace brixa {

namespace {

// How the window gets its installer.
struct TWindowMode {
  std::string ElevatedFrom;    // not empty: download there, start with raised rights
  std::string ServiceProduct;  // not empty: show the update service's run of this product
};

// Runs the window; its outcome goes into `record`.
void RunDownloadWindow(const std::vector<std::string>& installerUrls, const TUpdateCheck& check,
                       std::uint64_t deadlineMs, const TWindowMode& mode, TRunRecord& record) {
  const std::string& updateUrl = installerUrls.front();
  try {
    Application().Initialize();
    Application().SetMainFormOnTaskBar(true);
    Application().SetTitle(kUpdaterName);
    frmProgress = Application().CreateForm<TfrmProgress>(updateUrl, check.ExpectedSha256,
                                                         check.ExpectedSize, deadlineMs);
    frmProgress->SetMirrors({installerUrls.begin() + 1, installerUrls.end()});
    frmProgress->SetReleaseSerial(check.Serial);
    frmProgress->SetInstallerKeys(check.Installer);
    if (!mode.ElevatedFrom.empty()) frmProgress->InstallElevatedFrom(mode.ElevatedFrom);
    if (!mode.ServiceProduct.empty()) frmProgress->FollowService(mode.ServiceProduct);
    Application().Run();
    if (frmProgress != nullptr && frmProgress->Outcome() != TRunOutcome::roNone) {
      record.Decision = frmProgress->Outcome();
      // What the check noted (a state read from its previous copy) stays after the delivery's.
      const std::string checked = record.Reason;
      record.Reason = frmProgress->Outcome() == TRunOutcome::roInstalled
                          ? frmProgress->DeliveryNote()
                          : frmProgress->FailureReason();
      if (!checked.empty()) record.Reason += (record.Reason.empty() ? "" : "; ") + checked;
    }
    // The window's worker is joined here, while the single-instance marker is still held.
    Application().DestroyForms();
  } catch (const Exception& error) {
    record.Decision = TRunOutcome::roFailed;
    record.Reason = error.Message();
    Application().ShowException(error);
  } catch (...) {
    // Anything that is not the runtime's exception class is shown as one with no message.
    record.Decision = TRunOutcome::roFailed;
    Application().ShowException(Exception(""));
  }
}

// Asks the machine's update service of `product` to check now and follows its run: quietly
// while it checks, in the window once it downloads. False when no service answers.
bool FollowUpdateService(const std::vector<TUpdateServerUrls>& servers, const std::string& product,
                         std::uint64_t endMs, TRunRecord& record) {
  std::string error;
  auto status = AskService(product, TServiceRequest::srCheck, error);
  if (!status) return false;
  while (status && status->Phase == TServicePhase::spChecking && MonotonicMilliseconds() < endMs) {
    SleepMs(kServicePollMs);
    status = AskService(product, TServiceRequest::srStatus, error);
  }
  if (status && status->Phase == TServicePhase::spDone) {
    record.Decision = status->Outcome;
    record.Reason = "the update service's run";
  } else if (status && status->Phase != TServicePhase::spChecking) {
    TUpdateCheck check;
    RunDownloadWindow({servers.front().InstallerUrl}, check, endMs, {{}, product}, record);
    if (record.Decision == TRunOutcome::roNone) record.Decision = TRunOutcome::roFailed;
  } else {
    record.Decision = TRunOutcome::roFailed;
    record.Reason = status ? "the update service did not finish its check in time"
                           : "the update service: " + error;
  }
  return true;
}

}  // namespace

int RunUpdater(const std::string& versionUrl, const std::string& updateUrl,
               const TUpdaterTrust& trust, std::uint64_t deadlineMs) {
  return RunUpdater(std::vector<TUpdateServerUrls>{{versionUrl, updateUrl}}, trust, deadlineMs);
}

int RunUpdater(const std::vector<TUpdateServerUrls>& servers, const TUpdaterTrust& trust,
               std::uint64_t deadlineMs) {
  if (servers.empty()) return 0;  // a build without a server has nothing to check
  // 1. One copy at a time: the marker of the session, and the lock of the user's state, which
  // every run of this user takes wherever it was started from.
  TNamedMutex instance(kUpdaterName);
  if (instance.AlreadyExists()) return 0;
  const std::uint64_t endMs = MonotonicMilliseconds() + deadlineMs;
  const TVersionCheckFiles files = VersionCheckFilesOfProgram();
  std::optional<TFileLock> stateLock;
  if (!files.StateDirectory.empty()) {
    stateLock.emplace(files.StateDirectory + kStateLockFileName);
    if (stateLock->State() == TFileLockState::flBusy) return 0;
    if (!stateLock->Held()) {
      TRunRecord record;
      record.Decision = TRunOutcome::roFailed;
      record.Reason = "state: " + stateLock->Error();
      AppendRunRecord(files.StateDirectory, record);
      return 0;
    }
  }
  // A product installed for the whole machine is the update service's to update, when it runs.
  const std::string productFolder = ExtractFilePath(ProgramFileName());
  if (!FolderWritable(productFolder)) {
    TRunRecord record;
    if (FollowUpdateService(servers, trust.Product, endMs, record)) {
      AppendRunRecord(files.StateDirectory, record);
      return 0;
    }
  }
  // 2.-5. Back-off, version file, acceptance and rollout, server after server.
  TServerCheck chosen = CheckServers(servers, files, trust, endMs);
  // 6. The window, only when the stamps differ, and only when the installer can be put
  // somewhere it may be started from.
  if (chosen.Check.UpdateAvailable) {
    if (FolderWritable(productFolder)) {
      RunDownloadWindow(InstallerUrlsOf(servers, chosen), chosen.Check, endMs, {},
                        chosen.Check.Record);
    } else if (CanLaunchElevated() && !files.StateDirectory.empty()) {
      // A product installed for the whole machine: one consent prompt, only to install.
      RunDownloadWindow(InstallerUrlsOf(servers, chosen), chosen.Check, endMs,
                        {files.StateDirectory, {}}, chosen.Check.Record);
    } else {
      chosen.Check.Record.Decision = TRunOutcome::roFailed;
      chosen.Check.Record.Reason = "the product's folder " + productFolder +
                                   " cannot be written by this user, and no update service is "
                                   "installed";
      std::fprintf(stderr, "%s: %s\n", kUpdaterName,
                   ScrubLogText(chosen.Check.Record.Reason).c_str());
    }
  }
  // 7. One line in the run log.
  chosen.Check.Record.Earlier = chosen.PassedOver;
  AppendRunRecord(files.StateDirectory, chosen.Check.Record);
  if (instance.Valid()) instance.Close();
  return 0;
}

}  // namespace brixa
