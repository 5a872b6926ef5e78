#pragma once
// The user's own folder for a program's state and log.

#include <string>

namespace brixa {

// The folder `appName` keeps its state and log in, ending in a separator, made (owner-only on
// POSIX) when missing: Windows %LOCALAPPDATA%\<appName>\, elsewhere $XDG_STATE_HOME/<appName>/
// when that is an absolute path, else ~/.local/state/<appName>/. Empty when there is no such
// place or it cannot be made.
[[nodiscard]] std::string UserStateDirectory(const std::string& appName);

}  // namespace brixa
