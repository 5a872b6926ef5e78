#pragma once
// RunUpdater: the updater's whole run, from the single-instance marker to the download window.

#include <string>

namespace brixa {

// The updater's run from start to end, on the main thread:
//   1. takes the single-instance marker kUpdaterName; when another copy holds it, returns at
//      once without touching the network;
//   2. checks `versionUrl` against the local version file (CheckForUpdate);
//      with a `publicKeyPem` (ECDSA P-256, PEM) the version file and the installer must carry
//      signatures by it, else nothing is installed;
//   3. only when the stamps differ: starts the GUI application with TfrmProgress as its main
//      form, which downloads `updateUrl`, starts the installer and closes; an exception that
//      escapes the application is shown by its exception display;
//   4. releases the marker.
// Returns the process's exit code, which is 0 in every case.
[[nodiscard]] int RunUpdater(const std::string& versionUrl, const std::string& updateUrl,
                             const std::string& publicKeyPem = {});

}  // namespace brixa
