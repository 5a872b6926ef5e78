#pragma once
// The test binary as its own helper process: roles chosen through an environment variable.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files/module_path.h"
#include "platform/process/process_launch.h"
#include "platform/thread/clock.h"
#include "support/temp_dir.h"

namespace brixa::test {

// The test binary doubles as a helper program for tests that need a second process: launched
// with this variable set (LaunchProcess passes no arguments, but the environment goes along),
// it plays the role named there before any test runs and exits. The roles are played in
// process_launch_test.cpp.
inline constexpr const char* kChildRoleVariable = "BRIXA_TEST_CHILD_ROLE";
inline constexpr char kRoleFieldSeparator = '|';

inline void SetEnvironmentVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());  // an empty value removes the variable
#else
  if (value.empty()) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
#endif
}

// Waits (bounded) until a file exists and returns its contents; "" when it never came.
inline std::string AwaitFile(const std::string& path,
                             std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
  const std::uint64_t deadline =
      MonotonicMilliseconds() + static_cast<std::uint64_t>(limit.count());
  while (MonotonicMilliseconds() < deadline) {
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      std::fclose(f);
      return ReadFileText(path);
    }
    SleepMs(10);
  }
  return {};
}

// Runs this binary in `role` (fields separated by '|'; the last is the result file, which the
// child writes in one step) and returns what it wrote, or a text starting "launch failed".
inline std::string RunSelfAs(const std::string& role, const std::string& resultFile) {
  SetEnvironmentVariable(kChildRoleVariable, role);
  const TProcessLaunch launch = LaunchProcess(ProgramFileName());
  SetEnvironmentVariable(kChildRoleVariable, "");
  if (!launch.Started) return "launch failed " + std::to_string(launch.ErrorCode);
  return AwaitFile(resultFile);
}

}  // namespace brixa::test
