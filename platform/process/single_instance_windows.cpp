// The marker as a named Win32 mutex.

#include <windows.h>

#include "platform/process/single_instance.h"

namespace brixa {

TNamedMutex::TNamedMutex(const std::string& name)
    : handle_(reinterpret_cast<std::intptr_t>(::CreateMutexA(nullptr, FALSE, name.c_str()))) {
  // Read at once: the last error of a successful CreateMutexA tells whether the name existed.
  lastError_ = ::GetLastError();
  if (handle_ != 0 && lastError_ != kErrorAlreadyExists) lastError_ = 0;
}

TNamedMutex::~TNamedMutex() {
  Close();
}

bool TNamedMutex::Valid() const noexcept {
  return handle_ != 0;
}

void TNamedMutex::Close() noexcept {
  if (handle_ == 0) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = 0;
}

}  // namespace brixa
