// The service's run (check, download, install, log) and its answers to local clients.

#include "app/update_service.h"

#include <cstdio>
#include <utility>

#include "app/download.h"
#include "app/service_host.h"
#include "platform/files/file_lock.h"
#include "platform/files/module_path.h"
#include "platform/files/secure_path.h"
#include "platform/files/user_data_dir.h"
#include "platform/process/child_process.h"
#include "platform/process/process_launch.h"
#include "platform/thread/clock.h"
#include "update/delivery/installer_download.h"
#include "update/delivery/publisher_check.h"
#include "update/net/http_fetcher.h"
#include "update/state/run_log.h"
#include "update/state/state_file.h"

namespace brixa {

namespace {

// How long Serve waits for a client before it looks at `stop` again.
constexpr std::uint32_t kAcceptSliceMs = 250;

}  // namespace

TUpdateService::TUpdateService(TServiceSetup setup) : setup_(std::move(setup)) {}

TUpdateService::~TUpdateService() {
  if (worker_.joinable()) worker_.join();
}

void TUpdateService::Serve(TLocalChannelServer& server, const std::atomic<bool>& stop) {
  while (!stop) {
    if (const auto client = server.Accept(kAcceptSliceMs)) Answer(*client);
  }
}

void TUpdateService::Answer(TLocalChannelConnection& client) {
  // One byte more than the longest request tells an oversized one from a whole one.
  const std::string bytes = client.ReadLine(kMaxServiceRequestBytes + 1, kServiceExchangeTimeoutMs);
  if (!rate_.Admit(MonotonicMilliseconds())) {
    (void)client.Write(FormatServiceRefusal(TServiceRefusal::rfTooMany));
    return;
  }
  const auto request = ParseServiceRequest(bytes);
  if (!request) {
    (void)client.Write(FormatServiceRefusal(TServiceRefusal::rfMalformed));
    return;
  }
  if (*request == TServiceRequest::srCheck) {
    const auto user = client.PeerUser();
    StartRun(user ? "asked by user " + std::to_string(*user) : "asked by a local client");
  }
  (void)client.Write(FormatServiceStatus(Status()));
}

void TUpdateService::StartRun(const std::string& cause) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (running_) return;
  if (worker_.joinable()) worker_.join();  // the last run has ended: running_ is false
  running_ = true;
  status_ = {TServicePhase::spChecking, 0, -1, status_.Outcome};
  worker_ = std::thread([this, cause] { Run(cause); });
}

TServiceStatus TUpdateService::Status() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

void TUpdateService::SetStatus(TServicePhase phase, std::int64_t held, std::int64_t size) {
  const std::lock_guard<std::mutex> lock(mutex_);
  status_.Phase = phase;
  status_.Held = held;
  status_.Size = size;
}

void TUpdateService::Run(const std::string& cause) {
  TRunRecord record;
  const std::string& folder = setup_.Files.StateDirectory;
  // A second service of the same product (started twice by mistake) waits its turn elsewhere.
  const TFileLock lock(folder + kStateLockFileName);
  if (!lock.Held()) {
    record.Decision = TRunOutcome::roFailed;
    record.Reason =
        lock.State() == TFileLockState::flBusy ? "another run holds " + folder : lock.Error();
  } else {
    const std::uint64_t endMs = MonotonicMilliseconds() + setup_.RunDeadlineMs;
    const TServerCheck chosen = CheckServers(setup_.Servers, setup_.Files, setup_.Trust, endMs);
    record = chosen.Check.UpdateAvailable ? Install(chosen, endMs) : chosen.Check.Record;
    record.Earlier = chosen.PassedOver;
  }
  record.Reason += (record.Reason.empty() ? "" : "; ") + cause;
  AppendRunRecord(folder, record);
  const std::lock_guard<std::mutex> guard(mutex_);
  status_.Phase = TServicePhase::spDone;
  status_.Outcome = record.Decision;
  running_ = false;
}

TRunRecord TUpdateService::Install(const TServerCheck& chosen, std::uint64_t endMs) {
  TRunRecord record = chosen.Check.Record;
  const TUpdateCheck& check = chosen.Check;
  const std::string installer = setup_.Files.StateDirectory + kTempExeName;
  const TInstallerRelease release{check.Serial, check.ExpectedSize, check.ExpectedSha256};
  SetStatus(TServicePhase::spDownloading, 0, release.Size);
  std::unique_ptr<TPrivateFile> verified;
  std::string note;
  try {
    TInstallerDownload::RemoveLeftover(installer, release);
    const auto fetcher = HttpFetcherFactory()(TFetchPurpose::fpInstaller, endMs);
    TInstallerDownload download(*fetcher, release, installer,
                                InstallerUrlsOf(setup_.Servers, chosen));
    download.OnProgress = [this](std::int64_t held, std::int64_t size) {
      SetStatus(TServicePhase::spDownloading, held, size);
    };
    download.RemainingMs = [endMs] {
      const std::uint64_t now = MonotonicMilliseconds();
      return now >= endMs ? std::int64_t{0} : static_cast<std::int64_t>(endMs - now);
    };
    verified = download.Run();
    note = download.DeliveryNote();
  } catch (const Exception& error) {
    record.Decision = TRunOutcome::roFailed;
    record.Reason = error.Message();
    return record;
  }
  SetStatus(TServicePhase::spInstalling, verified->Size(), verified->Size());
  unsigned long error = 0;
  auto file = TLaunchableFile::FromWritten(std::move(verified), error);
  std::unique_ptr<TChildProcess> child;
  try {
    if (file) {
      const std::string publisher = VerifyInstallerPublisher(*file, check.Installer.Publishers);
      if (!publisher.empty()) note += (note.empty() ? "" : "; ") + publisher;
      child = file->Start(check.Installer.Arguments, error);
    }
  } catch (const Exception& refused) {
    // Verified bytes the vendor did not sign: never started, and not kept for another try.
    file.reset();
    (void)RemoveFile(installer);
    record.Decision = TRunOutcome::roFailed;
    record.Reason = installer + ": " + refused.Message();
    return record;
  }
  if (!child) {
    record.Decision = TRunOutcome::roFailed;
    record.Reason = installer + ": cannot be started (error " + std::to_string(error) + ")";
    return record;
  }
  // "installed" is the installer's own word: its exit code.
  const auto exitCode = child->Wait(setup_.InstallerWaitMs);
  if (!exitCode || *exitCode != 0) {
    record.Decision = TRunOutcome::roFailed;
    record.Reason = exitCode ? "the installer ended with code " + std::to_string(*exitCode)
                             : "the installer did not end within the wait";
  } else {
    record.Decision = TRunOutcome::roInstalled;
    record.Reason = note.empty() ? "the installer ended with code 0"
                                 : note + "; the installer ended with code 0";
  }
  return record;
}

int ServeProduct(const std::vector<TUpdateServerUrls>& servers, const TUpdaterTrust& trust,
                 const std::atomic<bool>& stop) {
  TServiceSetup setup{servers, trust, VersionCheckFilesOfProgram()};
  const std::string product = ExtractFilePath(setup.Files.LocalVersionFile);
  setup.Files.StateDirectory = MachineStateDirectory(trust.Product);
  std::string why;
  if (!IsSecurePath(product, why)) {
    std::fprintf(stderr, "%s: the product's folder is not safe: %s\n", kServiceName, why.c_str());
    return kServiceExitFailed;
  }
  if (setup.Files.StateDirectory.empty() || !IsSecurePath(setup.Files.StateDirectory, why)) {
    std::fprintf(stderr, "%s: no safe machine folder for %s: %s\n", kServiceName,
                 trust.Product.c_str(), why.c_str());
    return kServiceExitFailed;
  }
  std::string error;
  const auto channel = TLocalChannelServer::Listen(kServiceChannelFolder, trust.Product, error);
  if (!channel) {
    std::fprintf(stderr, "%s: %s\n", kServiceName, error.c_str());
    return kServiceExitFailed;
  }
  TUpdateService service(setup);
  service.StartRun("at the service's start");
  service.Serve(*channel, stop);
  return kServiceExitOk;
}

}  // namespace brixa
