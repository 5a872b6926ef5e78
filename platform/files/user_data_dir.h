#pragma once
// The user's own folder for a program's state and log.

#include <string>

namespace brixa {

// The folder `appName` keeps its state and log in, ending in a separator, made (owner-only on
// POSIX) when missing: Windows %LOCALAPPDATA%\<appName>\, elsewhere $XDG_STATE_HOME/<appName>/
// when that is an absolute path, else ~/.local/state/<appName>/. Empty when there is no such
// place or it cannot be made.
[[nodiscard]] std::string UserStateDirectory(const std::string& appName);

// The machine's folder for the update service of `product`, ending in a separator, made where
// missing so that only the system and administrators may change it: Linux
// /var/lib/brixa-update/<product>/ (mode 0700, the folder above 0755), Windows
// %ProgramData%\BrixaUpdater\<product>\ (an access list of the system and administrators
// alone). Empty when it cannot be made; the caller checks it (IsSecurePath) before use, since a
// folder that existed before may have been made by anyone.
[[nodiscard]] std::string MachineStateDirectory(const std::string& product);

}  // namespace brixa
