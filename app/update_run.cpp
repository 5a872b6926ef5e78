// The servers of a build checked in turn, and the installer's URLs of the one that decided.

#include "app/update_run.h"

#include "runtime/text/text.h"
#include "update/net/http_fetcher.h"
#include "update/state/run_outcome.h"

namespace brixa {

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

TServerCheck CheckServers(const std::vector<TUpdateServerUrls>& servers,
                          const TVersionCheckFiles& files, const TUpdaterTrust& trust,
                          std::uint64_t endMs) {
  const TFetcherFactory fetchers = HttpFetcherFactory();
  TServerCheck chosen;
  chosen.BackedOff.assign(servers.size(), false);
  for (;; ++chosen.Server) {
    chosen.Check = CheckForUpdate(fetchers, servers[chosen.Server].VersionUrl, files, trust, endMs,
                                  chosen.Server);
    chosen.BackedOff[chosen.Server] = chosen.Check.BackedOff;
    if (!PassesToNextServer(chosen.Check.Record.Decision) || chosen.Server + 1 == servers.size()) {
      break;
    }
    chosen.PassedOver += (chosen.PassedOver.empty() ? "" : "; ") + chosen.Check.Record.Reason;
  }
  return chosen;
}

std::vector<std::string> InstallerUrlsOf(const std::vector<TUpdateServerUrls>& servers,
                                         const TServerCheck& chosen) {
  std::vector<std::string> urls{servers[chosen.Server].InstallerUrl};
  urls.insert(urls.end(), chosen.Check.Mirrors.begin(), chosen.Check.Mirrors.end());
  for (std::size_t i = 0; i < servers.size(); ++i) {
    if (i != chosen.Server && !chosen.BackedOff[i]) urls.push_back(servers[i].InstallerUrl);
  }
  return urls;
}

}  // namespace brixa
