#pragma once
// Starting the downloaded installer: LaunchProcess, and TLaunchableFile, which keeps the checked
// bytes and the started bytes the same.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/process/child_process.h"

namespace brixa {

class TPrivateFile;

struct TProcessLaunch {
  bool Started = false;
  unsigned long ErrorCode = 0;  // the system's error number when not started
  std::uint64_t ProcessId = 0;  // of the new process when started
};

// Starts the program file `fileName` as a separate process, in the caller's environment and
// working directory, and returns without waiting for it. `arguments` is the text of its command
// line after its name (IsLaunchArgumentsText, else the error is EINVAL /
// ERROR_INVALID_PARAMETER); "" starts it with no arguments. The new process
// inherits none of the caller's handles, descriptors or sockets.
//
// Windows: CreateProcessA with the file as application name and, when there are arguments, the
// command line "<fileName>" <arguments> (the program splits it itself), no handle inheritance, no
// creation flags, a zeroed start-up record; the new process's handles are closed at once. A start
// that fails with ERROR_INTERNAL_ERROR (the child died in its start-up, before running any of its
// code) is tried once more. The error code is GetLastError(). POSIX: the file is first made
// executable for its owner (a downloaded file is not), then posix_spawn runs it with argv = {
// fileName } followed by SplitCommandLine(arguments) and every descriptor above standard error
// closed; the error code is the errno that posix_spawn reports (ENOEXEC for a file that is not a
// program). The caller does not reap the child; it is meant for a process that exits soon after.
[[nodiscard]] TProcessLaunch LaunchProcess(const std::string& fileName,
                                           const std::string& arguments = {});

// A program file held from the check of its bytes until its launch, so that what is started is
// what was read:
//   - Windows: open for reading with only read sharing, so nobody can write, replace or delete
//     the file until Launch has started it (the system opens it to run it with read access);
//   - POSIX: the descriptor is opened without following links and must be a regular file of
//     this user with one name; it is then made read-and-execute for its owner only. When the
//     file's directory is not writable by anybody else the path is started (nobody else can
//     put another file there); otherwise the process is started from the descriptor itself
//     (through /proc/self/fd), whose bytes cannot change under another name.
// Launch starts the file as LaunchProcess does. A script (a file starting with "#!") started
// from the descriptor keeps that one descriptor open in the new process, as descriptor 3,
// because its interpreter opens the script by that name; nothing else is inherited.
class TLaunchableFile {
 public:
  // Null when the file cannot be opened or is not fit to be started; `errorCode` says why.
  [[nodiscard]] static std::unique_ptr<TLaunchableFile> Open(const std::string& fileName,
                                                             unsigned long& errorCode);
  // The file `written` was written through, taken over without ever opening it again by its
  // name: the writing handle becomes a read-only one on the same file (POSIX: through
  // /proc/self/fd, then the mode 0500, and the launch always goes by the descriptor; Windows:
  // ReOpenFile, ending with read sharing only). Reading starts at the file's beginning. Null when
  // the handle cannot be turned; `errorCode` says why.
  [[nodiscard]] static std::unique_ptr<TLaunchableFile> FromWritten(
      std::unique_ptr<TPrivateFile> written, unsigned long& errorCode);
  ~TLaunchableFile();
  TLaunchableFile(const TLaunchableFile&) = delete;
  TLaunchableFile& operator=(const TLaunchableFile&) = delete;

  // Reads the next bytes into `buffer`; 0 at the end, -1 on a read error.
  [[nodiscard]] std::int64_t Read(void* buffer, std::size_t size);
  // The file's name, and the handle it is held by (HANDLE on Windows, a descriptor on POSIX)
  // for checks of the very file that is started; the handle is valid until Launch or Start.
  [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }
  [[nodiscard]] std::intptr_t NativeHandle() const noexcept { return handle_; }

  // Starts the file with `arguments` (as LaunchProcess takes them) and then lets it go.
  [[nodiscard]] TProcessLaunch Launch(const std::string& arguments = {});
  // Starts the file as Launch does and keeps a hold on the new process, for a caller that
  // waits for its exit code. Null when it did not start; `errorCode` says why.
  [[nodiscard]] std::unique_ptr<TChildProcess> Start(const std::string& arguments,
                                                     unsigned long& errorCode);

 private:
  TLaunchableFile(std::string fileName, std::intptr_t handle) noexcept
      : fileName_(std::move(fileName)), handle_(handle) {}
  void Release() noexcept;
  // Starts the file; when `child` is given, the new process is handed to it, else let go.
  [[nodiscard]] TProcessLaunch Run(const std::string& arguments,
                                   std::unique_ptr<TChildProcess>* child);

  std::string fileName_;
  std::intptr_t handle_;  // HANDLE on Windows, file descriptor on POSIX
  bool byDescriptor_ = false;
};

}  // namespace brixa
