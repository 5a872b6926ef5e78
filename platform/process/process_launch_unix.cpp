// Launching with posix_spawn, from the path or from the held descriptor, with no descriptor
// inherited above standard error.

#include <fcntl.h>
#include <linux/close_range.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files/private_file.h"
#include "platform/process/command_line.h"
#include "platform/process/process_launch.h"

extern char** environ;

namespace brixa {

namespace {

constexpr std::intptr_t kNoFile = -1;
constexpr int kFirstInheritable = 3;  // standard input, output and error stay
// Where a script's own descriptor is placed for its interpreter.
constexpr int kScriptDescriptor = 3;
constexpr char kScriptMark[] = {'#', '!'};
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
constexpr mode_t kOwnerReadExecute = S_IRUSR | S_IXUSR;

void MakeExecutableForOwner(const std::string& fileName) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0) return;  // posix_spawn reports the missing file
  if ((info.st_mode & S_IXUSR) != 0) return;
  (void)::chmod(fileName.c_str(), (info.st_mode & 07777) | S_IXUSR);
}

// The words of a new process's argv: its name, then the argument text split as Windows programs
// split theirs. argv() points into the words and lives as long as they do.
class TArgv {
 public:
  TArgv(const std::string& argument0, const std::string& arguments)
      : words_(SplitCommandLine(arguments)) {
    words_.insert(words_.begin(), argument0);
    for (std::string& word : words_) pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
  }
  [[nodiscard]] char** argv() noexcept { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

// Runs `path` with `argv` and nothing open above standard error.
TProcessLaunch Spawn(const std::string& path, TArgv& argv) {
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addclosefrom_np(&actions, kFirstInheritable);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.argv(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  TProcessLaunch result;
  if (rc != 0) {
    result.ErrorCode = static_cast<unsigned long>(rc);
    return result;
  }
  result.Started = true;
  result.ProcessId = static_cast<std::uint64_t>(pid);
  return result;
}

// True when the file open as `fd` starts with "#!".
bool IsScript(int fd) noexcept {
  char head[sizeof kScriptMark] = {};
  return ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
         head[0] == kScriptMark[0] && head[1] == kScriptMark[1];
}

// Runs the file open as `fd` with `argv`. The kernel opens the file through the
// descriptor before the exec closes it, so the bytes started are the bytes of that descriptor.
// A binary gets no descriptor above standard error; a script gets its own as
// kScriptDescriptor, not close-on-exec, since its interpreter opens /proc/self/fd/3 after the
// exec. A failed exec reports its errno to the parent through a close-on-exec pipe.
TProcessLaunch SpawnFromDescriptor(int fd, TArgv& args) {
  const bool script = IsScript(fd);
  const std::string path = "/proc/self/fd/" + std::to_string(script ? kScriptDescriptor : fd);
  char** argv = args.argv();
  int report[2];
  TProcessLaunch result;
  if (::pipe2(report, O_CLOEXEC) != 0) {
    result.ErrorCode = static_cast<unsigned long>(errno);
    return result;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    if (script) {
      // dup2 leaves the copy without close-on-exec; the report pipe may sit on descriptor 3.
      if (report[1] == kScriptDescriptor) report[1] = ::fcntl(report[1], F_DUPFD_CLOEXEC, 4);
      if (fd != kScriptDescriptor) (void)::dup2(fd, kScriptDescriptor);
      (void)::fcntl(kScriptDescriptor, F_SETFD, 0);
      (void)::syscall(SYS_close_range, kScriptDescriptor + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    } else {
      (void)::syscall(SYS_close_range, kFirstInheritable, ~0U, CLOSE_RANGE_CLOEXEC);
    }
    ::execve(path.c_str(), argv, environ);
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  if (pid < 0) {
    result.ErrorCode = static_cast<unsigned long>(errno);
    ::close(report[0]);
    return result;
  }
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    (void)::waitpid(pid, nullptr, 0);  // the child ended at once
    result.ErrorCode = static_cast<unsigned long>(error);
    return result;
  }
  result.Started = true;
  result.ProcessId = static_cast<std::uint64_t>(pid);
  return result;
}

std::string DirectoryOf(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : fileName.substr(0, slash);
}

// Only this user (or the superuser) can put another file under a name in `dir`.
bool OnlyWeCanChange(const std::string& dir) {
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0) return false;
  return (info.st_uid == ::geteuid() || info.st_uid == 0) && (info.st_mode & kOthersWrite) == 0;
}

// Lets a started process go, or hands it to `child`.
void KeepChild(const TProcessLaunch& launch, std::unique_ptr<TChildProcess>* child) {
  if (launch.Started && child != nullptr) {
    *child = std::make_unique<TChildProcess>(launch.ProcessId, 0);
  }
}

}  // namespace

TProcessLaunch LaunchProcess(const std::string& fileName, const std::string& arguments) {
  if (!IsLaunchArgumentsText(arguments)) return {false, EINVAL, 0};
  MakeExecutableForOwner(fileName);
  TArgv argv(fileName, arguments);
  return Spawn(fileName, argv);
}

std::unique_ptr<TLaunchableFile> TLaunchableFile::Open(const std::string& fileName,
                                                       unsigned long& errorCode) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    errorCode = static_cast<unsigned long>(errno);
    return nullptr;
  }
  std::unique_ptr<TLaunchableFile> file(new TLaunchableFile(fileName, fd));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
      info.st_nlink != 1) {
    errorCode = EPERM;
    return nullptr;
  }
  // Nobody else may write it, and a process of ours would have to change the mode first.
  if (::fchmod(fd, kOwnerReadExecute) != 0) {
    errorCode = static_cast<unsigned long>(errno);
    return nullptr;
  }
  file->byDescriptor_ = !OnlyWeCanChange(DirectoryOf(fileName));
  errorCode = 0;
  return file;
}

std::unique_ptr<TLaunchableFile> TLaunchableFile::FromWritten(std::unique_ptr<TPrivateFile> written,
                                                              unsigned long& errorCode) {
  const std::string fileName = written->FileName();
  const int writer = static_cast<int>(written->ReleaseHandle());
  written.reset();
  // The same open file description's inode, read-only: an exec fails while a writer is open.
  const std::string self = "/proc/self/fd/" + std::to_string(writer);
  const int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
  const int openError = errno;
  ::close(writer);
  if (fd < 0) {
    errorCode = static_cast<unsigned long>(openError);
    return nullptr;
  }
  std::unique_ptr<TLaunchableFile> file(new TLaunchableFile(fileName, fd));
  if (::fchmod(fd, kOwnerReadExecute) != 0) {
    errorCode = static_cast<unsigned long>(errno);
    return nullptr;
  }
  file->byDescriptor_ = true;
  errorCode = 0;
  return file;
}

TLaunchableFile::~TLaunchableFile() {
  Release();
}

void TLaunchableFile::Release() noexcept {
  if (handle_ == kNoFile) return;
  ::close(static_cast<int>(handle_));
  handle_ = kNoFile;
}

std::int64_t TLaunchableFile::Read(void* buffer, std::size_t size) {
  if (handle_ == kNoFile) return -1;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

TProcessLaunch TLaunchableFile::Run(const std::string& arguments,
                                    std::unique_ptr<TChildProcess>* child) {
  if (!IsLaunchArgumentsText(arguments)) {
    Release();
    return {false, EINVAL, 0};
  }
  TArgv argv(fileName_, arguments);
  const TProcessLaunch result =
      byDescriptor_ ? SpawnFromDescriptor(static_cast<int>(handle_), argv) : Spawn(fileName_, argv);
  Release();
  KeepChild(result, child);
  return result;
}

}  // namespace brixa
