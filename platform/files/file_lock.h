#pragma once
// TFileLock: an exclusive lock held on a lock file for as long as the object lives.

#include <cstdint>
#include <string>

namespace brixa {

// How taking a lock went.
enum class TFileLockState {
  flHeld,    // this object holds the lock
  flBusy,    // another holder (another process, or another object) has it
  flFailed,  // the lock file could not be had: see Error()
};

// An exclusive lock on the file `fileName`, created when missing and never reached through a
// link. The system releases it when the holder ends, however it ends, so a crash never leaves
// a stale lock; the file itself stays (it holds nothing).
//   - Linux: open(O_CREAT | O_NOFOLLOW, 0600), a regular file of this user with one name,
//     then flock(LOCK_EX | LOCK_NB) — which also excludes a second descriptor of the same
//     process.
//   - Windows: CreateFile with FILE_FLAG_OPEN_REPARSE_POINT (a reparse point at the name is
//     refused), then LockFileEx(LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY).
// The lock does not depend on the environment: every process of every session that reaches the
// same file takes the same lock.
class TFileLock {
 public:
  // Tries once; never waits.
  explicit TFileLock(const std::string& fileName);
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  [[nodiscard]] TFileLockState State() const noexcept { return state_; }
  [[nodiscard]] bool Held() const noexcept { return state_ == TFileLockState::flHeld; }
  // Why the lock file could not be had (flFailed), with the file's name.
  [[nodiscard]] const std::string& Error() const noexcept { return error_; }

 private:
  std::intptr_t handle_;  // HANDLE on Windows, descriptor elsewhere
  TFileLockState state_ = TFileLockState::flFailed;
  std::string error_;
};

}  // namespace brixa
