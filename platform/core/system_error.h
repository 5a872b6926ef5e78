#pragma once
// The calling thread's last OS error number and the system's text for an error number.

#include <string>

namespace brixa {

// The operating system's own text for an error number (GetLastError / errno), without a
// trailing line break; empty when the system has none.
[[nodiscard]] std::string SystemErrorText(unsigned long code);

// The calling thread's last system error number (GetLastError / errno).
[[nodiscard]] unsigned long LastSystemError();

}  // namespace brixa
