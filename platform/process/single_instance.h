#pragma once
// TNamedMutex: a process-wide named marker that tells the second instance of a program that the
// first one runs.

#include <cstdint>
#include <string>

namespace brixa {

// The system error number that reports a name already taken by another holder.
inline constexpr unsigned long kErrorAlreadyExists = 183;

// A process-wide named marker: the first holder of a name creates it; every later one is told
// that it already exists. The marker lives as long as its holder keeps the object (normally
// the whole process) and is released by Close() or destruction, and by the system when the
// process ends however it ends.
//
// Windows: a named mutex (CreateMutexA, not owned, not inheritable), LastError() is
// GetLastError() read right after the call. POSIX: an exclusive flock on "<name>.lock", opened
// close-on-exec (launched programs do not inherit it) and without following links, in a
// directory only this user can enter: $XDG_RUNTIME_DIR when it is such a directory, else
// "<name>-<uid>" in the temp directory, else ".<name>-<uid>" in the home directory, each made
// with mode 0700 and used only when it is a real directory owned by this user and closed to
// everybody else. Another user can thus neither hold our lock nor make us skip it. A lock that
// is held elsewhere reports kErrorAlreadyExists; no usable directory reports the reason.
class TNamedMutex {
 public:
  explicit TNamedMutex(const std::string& name);
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  // True when the system gave a handle (also when the name already existed).
  [[nodiscard]] bool Valid() const noexcept;
  // 0, kErrorAlreadyExists, or the system's reason why no handle was given.
  [[nodiscard]] unsigned long LastError() const noexcept { return lastError_; }
  [[nodiscard]] bool AlreadyExists() const noexcept { return lastError_ == kErrorAlreadyExists; }
  void Close() noexcept;

 private:
  std::intptr_t handle_;  // HANDLE on Windows, file descriptor on POSIX
  unsigned long lastError_ = 0;
};

}  // namespace brixa
