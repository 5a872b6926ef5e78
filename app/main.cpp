// The updater program. Its update server (BRIXA_UPDATE_SERVER) and the key its updates must be
// signed with (BRIXA_UPDATE_PUBLIC_KEY) are fixed when it is built; it reads no configuration or
// argument. The one thing it takes from its surroundings is the user's proxy (the environment's
// http_proxy, https_proxy and no_proxy; on Windows the Internet Settings).
#include "app/update_tls.h"
#include "app/updater.h"
#include "app/version_check.h"
#include "brixa/build_config.h"
#include "brixa/update_key.h"
#include "platform/library_search.h"

int main() {
  brixa::HardenLibrarySearch();  // before anything can load a library
  try {
    // The CA this program was built with (the library may be shared by several builds).
    brixa::SetUpdateCaPem(brixa::kUpdateCaPem);
    return brixa::RunUpdater(brixa::UpdateServerUrl(brixa::kUpdateServer, brixa::kVersionFilePath),
                             brixa::UpdateServerUrl(brixa::kUpdateServer, brixa::kInstallerPath),
                             brixa::kUpdatePublicKeyPem);
  } catch (...) {
    return 0;  // the exit code is 0 in every case
  }
}
