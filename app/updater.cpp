// The run's order: marker, version check, download window only when the stamps differ.

#include "app/updater.h"

#include "app/download.h"
#include "app/version_check.h"
#include "platform/exception.h"
#include "platform/gui.h"
#include "platform/single_instance.h"

namespace brixa {

namespace {

void RunDownloadWindow(const std::string& updateUrl, const std::string& expectedSha256,
                       const std::string& publicKeyPem) {
  try {
    Application().Initialize();
    Application().SetMainFormOnTaskBar(true);
    Application().SetTitle(kUpdaterName);
    frmProgress = Application().CreateForm<TfrmProgress>(updateUrl, expectedSha256, publicKeyPem);
    Application().Run();
    // The window's worker is joined here, while the single-instance marker is still held.
    Application().DestroyForms();
  } catch (const Exception& error) {
    Application().ShowException(error);
  } catch (...) {
    // Anything that is not the runtime's exception class is shown as one with no message.
    Application().ShowException(Exception(""));
  }
}

}  // namespace

int RunUpdater(const std::string& versionUrl, const std::string& updateUrl,
               const std::string& publicKeyPem) {
  TNamedMutex instance(kUpdaterName);
  if (instance.AlreadyExists()) return 0;  // another copy is running
  const TUpdateCheck check = CheckForUpdate(versionUrl, publicKeyPem);
  if (check.UpdateAvailable) RunDownloadWindow(updateUrl, check.ExpectedSha256, publicKeyPem);
  if (instance.Valid()) instance.Close();
  return 0;
}

}  // namespace brixa
