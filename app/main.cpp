// The updater program. Its update servers (BRIXA_UPDATE_SERVER, tried in order), the keys its
// releases must be signed with (BRIXA_UPDATE_PUBLIC_KEY) and its product name
// (BRIXA_UPDATE_PRODUCT) are fixed when it is built; it reads no configuration or argument. What it
// takes from its surroundings is the user's proxy (the environment's http_proxy, https_proxy and
// no_proxy; on Windows the Internet Settings) and the user's state folder (XDG_STATE_HOME or HOME;
// on Windows LOCALAPPDATA) for its rollback state and run log.
#include <cstdint>

#include "app/updater.h"
#include "app/version_check.h"
#include "brixa/build_config.h"
#include "brixa/update_key.h"
#include "platform/library/library_search.h"
#include "update/manifest/release_keys.h"
#include "update/net/update_tls.h"

int main() {
  brixa::HardenLibrarySearch();  // before anything can load a library
  try {
    // The CA this program was built with (the library may be shared by several builds).
    brixa::SetUpdateCaPem(brixa::kUpdateCaPem);
    brixa::TUpdaterTrust trust;
    trust.PublicKeys = brixa::SplitPublicKeys(brixa::kUpdatePublicKeyPem);
    trust.Product = brixa::kUpdateProduct;
    const std::uint64_t deadlineMs = brixa::kTestDeadlineSeconds > 0
                                         ? brixa::kTestDeadlineSeconds * std::uint64_t{1000}
                                         : brixa::kUpdaterDeadlineMs;
    return brixa::RunUpdater(brixa::UpdateServersOf(brixa::kUpdateServer), trust, deadlineMs);
  } catch (...) {
    return 0;  // the exit code is 0 in every case
  }
}
