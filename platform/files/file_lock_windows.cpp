// The lock as LockFileEx on a file opened without following a reparse point.

#include <windows.h>

#include "platform/core/system_error.h"
#include "platform/files/file_lock.h"

namespace brixa {

namespace {

constexpr std::intptr_t kNoHandle = 0;
// The whole file, and beyond: one range every holder asks for.
constexpr DWORD kWholeRange = MAXDWORD;

}  // namespace

TFileLock::TFileLock(const std::string& fileName) : handle_(kNoHandle) {
  const HANDLE h =
      ::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error_ = "cannot open the lock " + fileName + ": " + SystemErrorText(::GetLastError());
    return;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks != 1) {
    ::CloseHandle(h);
    error_ = "the lock " + fileName + " is not a plain file";
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  OVERLAPPED at{};
  if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kWholeRange,
                   kWholeRange, &at)) {
    state_ = TFileLockState::flHeld;
  } else if (::GetLastError() == ERROR_LOCK_VIOLATION || ::GetLastError() == ERROR_IO_PENDING) {
    state_ = TFileLockState::flBusy;
  } else {
    error_ = "cannot lock " + fileName + ": " + SystemErrorText(::GetLastError());
  }
}

TFileLock::~TFileLock() {
  // Closing the last handle releases the range.
  if (handle_ != kNoHandle) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace brixa
