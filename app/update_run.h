#pragma once
// The check of a build's update servers in turn, shared by the updater and the update service:
// which server decides, and where its installer is fetched.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/version_check.h"

namespace brixa {

// One update server's version file and installer.
struct TUpdateServerUrls {
  std::string VersionUrl;
  std::string InstallerUrl;
};

// The update servers of a build that lists several (BRIXA_UPDATE_SERVER "a;b"): the entries of
// `servers` separated by ';', blanks around them dropped, each made into its URLs.
[[nodiscard]] std::vector<TUpdateServerUrls> UpdateServersOf(const std::string& servers);

// The check of the server that decides the run: the first whose check neither failed, was
// refused, nor was deferred, else the last.
struct TServerCheck {
  TUpdateCheck Check;
  std::size_t Server = 0;
  std::string PassedOver;       // the reasons of the servers before it, "; " between them
  std::vector<bool> BackedOff;  // per server: asked to be left alone in this run
};

// Checks `servers` in order (CheckForUpdate over the network) until one decides; every request
// ends by `endMs` (MonotonicMilliseconds).
[[nodiscard]] TServerCheck CheckServers(const std::vector<TUpdateServerUrls>& servers,
                                        const TVersionCheckFiles& files, const TUpdaterTrust& trust,
                                        std::uint64_t endMs);

// Where the installer is fetched, in order: the chosen server, the manifest's mirrors, the
// other servers of the build's list but those that asked to be left alone. Every byte is held
// to the one manifest accepted.
[[nodiscard]] std::vector<std::string> InstallerUrlsOf(
    const std::vector<TUpdateServerUrls>& servers, const TServerCheck& chosen);

}  // namespace brixa
