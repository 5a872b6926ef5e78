#pragma once
// RunUpdater: the updater's whole run, from the single-instance marker to the download window.

#include <cstdint>
#include <string>
#include <vector>

#include "app/update_run.h"
#include "app/version_check.h"

namespace brixa {

// The updater's run from start to end, on the main thread:
//   1. takes the single-instance marker kUpdaterName; when another copy holds it, returns at
//      once without touching the network;
//   2. checks `versionUrl` against the local version file (CheckForUpdate); with keys in
//      `trust` the manifest must be signed by one of them, be for trust.Product, unexpired and
//      not older than what was accepted before, else nothing is installed;
//   3. only when the stamps differ: starts the GUI application with TfrmProgress as its main
//      form, which downloads `updateUrl`, checks it against the manifest, starts it and
//      closes; an exception that escapes the application is shown by its exception display;
//   4. appends the run's record to the run log in the user's state folder;
//   5. releases the marker.
// Everything network-bound ends within `deadlineMs` (kUpdaterDeadlineMs) of the start.
// Returns the process's exit code, which is 0 in every case.
[[nodiscard]] int RunUpdater(const std::string& versionUrl, const std::string& updateUrl,
                             const TUpdaterTrust& trust = {},
                             std::uint64_t deadlineMs = kUpdaterDeadlineMs);

// RunUpdater over several servers: the version check goes to each in order until one answers
// with a manifest that is not refused (PassesToNextServer: failed, refused, deferred, a server
// still asking to be left alone, move on; anything else decides the run). Each server's back-off is
// its own. The installer is then fetched from that server, the manifest's mirrors, and the other
// servers, in this order; every byte held to the manifest that was accepted.
[[nodiscard]] int RunUpdater(const std::vector<TUpdateServerUrls>& servers,
                             const TUpdaterTrust& trust = {},
                             std::uint64_t deadlineMs = kUpdaterDeadlineMs);

}  // namespace brixa
