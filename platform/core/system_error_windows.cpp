// Error numbers and texts from GetLastError and FormatMessageA.

#include <windows.h>

#include "platform/core/system_error.h"

namespace brixa {

std::string SystemErrorText(unsigned long code) {
  char buffer[512] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

unsigned long LastSystemError() {
  return ::GetLastError();
}

}  // namespace brixa
