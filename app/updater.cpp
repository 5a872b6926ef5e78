// The run's order: marker, version check, download window only when the stamps differ, log.

#include "app/updater.h"

#include "app/download.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/gui.h"
#include "platform/single_instance.h"

namespace brixa {

namespace {

// Runs the window; its outcome goes into `record`.
void RunDownloadWindow(const std::string& updateUrl, const TUpdateCheck& check,
                       std::uint64_t deadlineMs, TRunRecord& record) {
  try {
    Application().Initialize();
    Application().SetMainFormOnTaskBar(true);
    Application().SetTitle(kUpdaterName);
    frmProgress = Application().CreateForm<TfrmProgress>(updateUrl, check.ExpectedSha256,
                                                         check.ExpectedSize, deadlineMs);
    Application().Run();
    if (frmProgress != nullptr && !frmProgress->Outcome().empty()) {
      record.Decision = frmProgress->Outcome();
      record.Reason = frmProgress->FailureReason();
    }
    // The window's worker is joined here, while the single-instance marker is still held.
    Application().DestroyForms();
  } catch (const Exception& error) {
    record.Decision = "failed";
    record.Reason = error.Message();
    Application().ShowException(error);
  } catch (...) {
    // Anything that is not the runtime's exception class is shown as one with no message.
    record.Decision = "failed";
    Application().ShowException(Exception(""));
  }
}

}  // namespace

int RunUpdater(const std::string& versionUrl, const std::string& updateUrl,
               const TUpdaterTrust& trust) {
  TNamedMutex instance(kUpdaterName);
  if (instance.AlreadyExists()) return 0;  // another copy is running
  const std::uint64_t deadlineMs = MonotonicMilliseconds() + kUpdaterDeadlineMs;
  const TVersionCheckFiles files = VersionCheckFilesOfProgram();
  TUpdateCheck check = CheckForUpdate(versionUrl, files, trust, deadlineMs);
  if (check.UpdateAvailable) RunDownloadWindow(updateUrl, check, deadlineMs, check.Record);
  AppendRunRecord(files.StateDirectory, check.Record);
  if (instance.Valid()) instance.Close();
  return 0;
}

}  // namespace brixa
