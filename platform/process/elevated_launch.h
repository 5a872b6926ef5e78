#pragma once
// Starting a verified installer with the administrator's rights, for a product installed for the
// whole machine that its user cannot change.

#include <string>

#include "platform/process/process_launch.h"

namespace brixa {

// True where a user can be asked to start a program with raised rights (Windows: the consent
// prompt); false elsewhere (Linux: a product the user cannot change is updated by the update
// service or the package manager, never by a prompt of ours).
[[nodiscard]] bool CanLaunchElevated() noexcept;

// Starts `fileName` with raised rights and returns once the new process exists, without waiting
// for it. The caller holds the file open as a TLaunchableFile (read sharing only) until this
// returns, so the file the system starts is the file that was verified: nobody can write,
// replace or delete it in between.
// `arguments` is the command line after the program's name, as LaunchProcess takes it.
//   - Windows: ShellExecuteEx with the "runas" verb and `arguments`, no window of ours; the user
//     sees one consent prompt. Declining it is a failure (ERROR_CANCELLED).
//   - elsewhere: not started, ErrorCode ENOTSUP.
[[nodiscard]] TProcessLaunch LaunchElevated(const std::string& fileName,
                                            const std::string& arguments = {});

}  // namespace brixa
