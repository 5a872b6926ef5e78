// The updater program. Its update server is fixed when it is built (BRIXA_UPDATE_SERVER); it
// reads no configuration, environment variable or argument.
#include "app/updater.h"
#include "app/version_check.h"
#include "brixa/build_config.h"

int main() {
  try {
    return brixa::RunUpdater(brixa::UpdateServerUrl(brixa::kUpdateServer, brixa::kVersionFilePath),
                             brixa::UpdateServerUrl(brixa::kUpdateServer, brixa::kInstallerPath));
  } catch (...) {
    return 0;  // the exit code is 0 in every case
  }
}
