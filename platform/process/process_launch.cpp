// What both platforms' launchable files share: letting the started process go, or keeping it.

#include "platform/process/process_launch.h"

namespace brixa {

TProcessLaunch TLaunchableFile::Launch(const std::string& arguments) {
  return Run(arguments, nullptr);
}

std::unique_ptr<TChildProcess> TLaunchableFile::Start(const std::string& arguments,
                                                      unsigned long& errorCode) {
  std::unique_ptr<TChildProcess> child;
  errorCode = Run(arguments, &child).ErrorCode;
  return child;
}

}  // namespace brixa
