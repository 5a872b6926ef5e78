// Launching with CreateProcessA, and the read-shared handle that keeps the file from changing
// until it starts.

#include <windows.h>

#include "platform/files/private_file.h"
#include "platform/process/command_line.h"
#include "platform/process/process_launch.h"

namespace brixa {

namespace {

constexpr std::intptr_t kNoHandle = 0;
constexpr int kLaunchAttempts = 2;
constexpr DWORD kRetryPauseMs = 500;

// Starts `fileName` with `arguments`; the new process's handle goes to `child` when given, else
// both of its handles are closed at once: nothing waits for it.
TProcessLaunch CreateInstallerProcess(const std::string& fileName, const std::string& arguments,
                                      std::unique_ptr<TChildProcess>* child) {
  TProcessLaunch result;
  if (!IsLaunchArgumentsText(arguments)) {
    result.ErrorCode = ERROR_INVALID_PARAMETER;
    return result;
  }
  // A file name holds no double quote on Windows, so the quoted name is one word. CreateProcessA
  // may write into the command line, so it is a buffer of ours.
  std::string commandLine = arguments.empty() ? std::string() : '"' + fileName + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // No security attributes and no inheritance: the installer gets none of our handles.
  // ERROR_INTERNAL_ERROR says the new process died before it ran a line of its own (Wine reports
  // a child that fails in its loader start-up so, now and then, under load): nothing was started,
  // so it is tried once more after a moment. Every other error is final.
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessA(fileName.c_str(), commandLine.empty() ? nullptr : commandLine.data(),
                         nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      break;
    }
    result.ErrorCode = ::GetLastError();
    if (result.ErrorCode != ERROR_INTERNAL_ERROR || attempt == kLaunchAttempts) return result;
    ::Sleep(kRetryPauseMs);
  }
  result.ErrorCode = 0;
  result.Started = true;
  result.ProcessId = process.dwProcessId;
  ::CloseHandle(process.hThread);
  if (child != nullptr) {
    *child = std::make_unique<TChildProcess>(process.dwProcessId,
                                             reinterpret_cast<std::intptr_t>(process.hProcess));
  } else {
    ::CloseHandle(process.hProcess);
  }
  return result;
}

}  // namespace

TProcessLaunch LaunchProcess(const std::string& fileName, const std::string& arguments) {
  return CreateInstallerProcess(fileName, arguments, nullptr);
}

std::unique_ptr<TLaunchableFile> TLaunchableFile::Open(const std::string& fileName,
                                                       unsigned long& errorCode) {
  // Read sharing only: no writer, no rename, no delete while we hold it. Not inheritable.
  const HANDLE file = ::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errorCode = ::GetLastError();
    return nullptr;
  }
  errorCode = 0;
  return std::unique_ptr<TLaunchableFile>(
      new TLaunchableFile(fileName, reinterpret_cast<std::intptr_t>(file)));
}

std::unique_ptr<TLaunchableFile> TLaunchableFile::FromWritten(std::unique_ptr<TPrivateFile> written,
                                                              unsigned long& errorCode) {
  const std::string fileName = written->FileName();
  const auto writer = reinterpret_cast<HANDLE>(written->ReleaseHandle());
  written.reset();
  // A handle for reading on the same file. While the writer is open a new handle must share
  // writing, so it takes two steps: one that shares writing, then, with the writer closed, one
  // that shares reading alone. Only the user can open the file at all (its DACL); a writer of
  // theirs that came in between makes the second step fail.
  const HANDLE sharing = ::ReOpenFile(writer, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  DWORD reopenError = ::GetLastError();
  ::CloseHandle(writer);
  HANDLE reader = INVALID_HANDLE_VALUE;
  if (sharing != INVALID_HANDLE_VALUE) {
    reader = ::ReOpenFile(sharing, GENERIC_READ, FILE_SHARE_READ, 0);
    reopenError = ::GetLastError();
    ::CloseHandle(sharing);
  }
  if (reader == INVALID_HANDLE_VALUE) {
    errorCode = reopenError;
    return nullptr;
  }
  errorCode = 0;
  return std::unique_ptr<TLaunchableFile>(
      new TLaunchableFile(fileName, reinterpret_cast<std::intptr_t>(reader)));
}

TLaunchableFile::~TLaunchableFile() {
  Release();
}

void TLaunchableFile::Release() noexcept {
  if (handle_ == kNoHandle) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNoHandle;
}

std::int64_t TLaunchableFile::Read(void* buffer, std::size_t size) {
  if (handle_ == kNoHandle) return -1;
  const DWORD wanted = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, wanted, &got, nullptr)) return -1;
  return got;
}

TProcessLaunch TLaunchableFile::Run(const std::string& arguments,
                                    std::unique_ptr<TChildProcess>* child) {
  // The system opens the image while our handle still keeps writers out; once the process
  // exists its image section pins the bytes and ours can go.
  const TProcessLaunch result = CreateInstallerProcess(fileName_, arguments, child);
  Release();
  return result;
}

}  // namespace brixa
