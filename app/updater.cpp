// The run's order: marker, version check, download window only when the stamps differ, log.

#include "app/updater.h"

#include "app/download.h"
#include "platform/core/exception.h"
#include "platform/gui/gui.h"
#include "platform/process/single_instance.h"
#include "platform/thread/clock.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

// Runs the window; its outcome goes into `record`.
void RunDownloadWindow(const std::vector<std::string>& installerUrls, const TUpdateCheck& check,
                       std::uint64_t deadlineMs, TRunRecord& record) {
  const std::string& updateUrl = installerUrls.front();
  try {
    Application().Initialize();
    Application().SetMainFormOnTaskBar(true);
    Application().SetTitle(kUpdaterName);
    frmProgress = Application().CreateForm<TfrmProgress>(updateUrl, check.ExpectedSha256,
                                                         check.ExpectedSize, deadlineMs);
    frmProgress->SetMirrors({installerUrls.begin() + 1, installerUrls.end()});
    frmProgress->SetReleaseSerial(check.Serial);
    Application().Run();
    if (frmProgress != nullptr && !frmProgress->Outcome().empty()) {
      record.Decision = frmProgress->Outcome();
      record.Reason = frmProgress->Outcome() == "installed" ? frmProgress->DeliveryNote()
                                                            : frmProgress->FailureReason();
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
               const TUpdaterTrust& trust, std::uint64_t deadlineMs) {
  return RunUpdater(std::vector<TUpdateServerUrls>{{versionUrl, updateUrl}}, trust, deadlineMs);
}

std::vector<TUpdateServerUrls> UpdateServersOf(const std::string& servers) {
  std::vector<TUpdateServerUrls> urls;
  std::size_t start = 0;
  while (start <= servers.size()) {
    std::size_t end = servers.find(';', start);
    if (end == std::string::npos) end = servers.size();
    const std::string server = Trim(servers.substr(start, end - start));
    if (!server.empty()) {
      urls.push_back(
          {UpdateServerUrl(server, kVersionFilePath), UpdateServerUrl(server, kInstallerPath)});
    }
    start = end + 1;
  }
  return urls;
}

int RunUpdater(const std::vector<TUpdateServerUrls>& servers, const TUpdaterTrust& trust,
               std::uint64_t deadlineMs) {
  if (servers.empty()) return 0;  // a build without a server has nothing to check
  TNamedMutex instance(kUpdaterName);
  if (instance.AlreadyExists()) return 0;  // another copy is running
  const std::uint64_t endMs = MonotonicMilliseconds() + deadlineMs;
  const TVersionCheckFiles files = VersionCheckFilesOfProgram();
  TUpdateCheck check;
  std::size_t chosen = 0;
  std::string earlier;  // why the servers before the chosen one were passed over
  for (; chosen < servers.size(); ++chosen) {
    check = CheckForUpdate(servers[chosen].VersionUrl, files, trust, endMs, chosen);
    // A server that failed, was refused or asked to be left alone for now passes to the next.
    const bool next = check.Record.Decision == "failed" || check.Record.Decision == "refused" ||
                      check.Record.Decision == "deferred";
    if (!next || chosen + 1 == servers.size()) break;
    earlier += check.Record.Reason + "; ";
  }
  if (check.UpdateAvailable) {
    std::vector<std::string> installerUrls{servers[chosen].InstallerUrl};
    installerUrls.insert(installerUrls.end(), check.Mirrors.begin(), check.Mirrors.end());
    for (std::size_t i = 0; i < servers.size(); ++i) {
      if (i != chosen) installerUrls.push_back(servers[i].InstallerUrl);
    }
    RunDownloadWindow(installerUrls, check, endMs, check.Record);
  }
  check.Record.Reason = earlier + check.Record.Reason;
  AppendRunRecord(files.StateDirectory, check.Record);
  if (instance.Valid()) instance.Close();
  return 0;
}

}  // namespace brixa
