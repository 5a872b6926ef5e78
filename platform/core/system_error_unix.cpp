// Error numbers and texts from errno and strerror.

#include <cerrno>
#include <cstring>

#include "platform/core/system_error.h"

namespace brixa {

std::string SystemErrorText(unsigned long code) {
  return std::strerror(static_cast<int>(code));
}

unsigned long LastSystemError() {
  return static_cast<unsigned long>(errno);
}

}  // namespace brixa
