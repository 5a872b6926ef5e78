// The update service program, BrixaUpdateService: built beside BrixaUpdater with the same update
// servers, keys and product, it updates the product installed beside itself for the whole
// machine. It takes nothing from its clients but a request to check now; its only arguments are
// the service manager's (see RunServiceHost).
#include <string>
#include <vector>

#include "app/service_host.h"
#include "app/update_service.h"
#include "brixa/build_config.h"
#include "brixa/update_key.h"
#include "platform/library/library_search.h"
#include "update/manifest/release_keys.h"
#include "update/net/update_tls.h"

int main(int argc, char** argv) {
  brixa::HardenLibrarySearch();  // before anything can load a library
  try {
    brixa::SetUpdateCaPem(brixa::kUpdateCaPem);
    brixa::TUpdaterTrust trust;
    trust.PublicKeys = brixa::SplitPublicKeys(brixa::kUpdatePublicKeyPem);
    trust.Product = brixa::kUpdateProduct;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto servers = brixa::UpdateServersOf(brixa::kUpdateServer);
    return brixa::RunServiceHost(
        arguments, std::string(brixa::kServiceName) + "-" + trust.Product,
        [&](const std::atomic<bool>& stop) { return brixa::ServeProduct(servers, trust, stop); });
  } catch (...) {
    return brixa::kServiceExitFailed;
  }
}
