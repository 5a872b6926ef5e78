// No prompt for raised rights on POSIX systems.

#include <cerrno>

#include "platform/process/elevated_launch.h"

namespace brixa {

bool CanLaunchElevated() noexcept {
  return false;
}

TProcessLaunch LaunchElevated(const std::string& /*fileName*/, const std::string& /*arguments*/) {
  return {false, static_cast<unsigned long>(ENOTSUP), 0};
}

}  // namespace brixa
