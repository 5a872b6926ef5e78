// The updater's end-to-end fixture on Linux: the suite's environment, runs without a display,
// and proxy variables for one scope.

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <memory>

#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

void Save(const char* name, std::unique_ptr<std::string>& slot) {
  const char* value = std::getenv(name);
  slot = value == nullptr ? nullptr : std::make_unique<std::string>(value);
}

void Restore(const char* name, const std::unique_ptr<std::string>& slot) {
  if (slot)
    ::setenv(name, slot->c_str(), 1);
  else
    ::unsetenv(name);
}

test::TempDir* lockDir = nullptr;
std::unique_ptr<std::string> savedRuntimeDir;
std::unique_ptr<std::string> savedDisplay;
constexpr std::array<const char*, 8> kProxyVariables = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                                        "HTTPS_PROXY", "all_proxy",  "ALL_PROXY",
                                                        "no_proxy",    "NO_PROXY"};
std::array<std::unique_ptr<std::string>, 8> savedProxyVariables;

}  // namespace

void UseStateDir(const std::string& dir) {
  ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
}

ProgramResult ProductDir::Run(int timeoutMs) const {
  UseStateDir(StateDir());
  return test::RunProgram(updater_, {}, timeoutMs);
}

void UpdaterEndToEnd::SetUpTestSuite() {
  lockDir = new test::TempDir();
  fs::permissions(lockDir->Root(), fs::perms::owner_all);  // the updater only trusts 0700
  Save("XDG_RUNTIME_DIR", savedRuntimeDir);
  Save("DISPLAY", savedDisplay);
  ::setenv("XDG_RUNTIME_DIR", lockDir->Root().c_str(), 1);
  ::unsetenv("DISPLAY");
  // The machine's own proxy must not come between the updater and the test's servers.
  for (std::size_t i = 0; i < kProxyVariables.size(); ++i) {
    Save(kProxyVariables[i], savedProxyVariables[i]);
    ::unsetenv(kProxyVariables[i]);
  }
}

void UpdaterEndToEnd::TearDownTestSuite() {
  Restore("XDG_RUNTIME_DIR", savedRuntimeDir);
  Restore("DISPLAY", savedDisplay);
  for (std::size_t i = 0; i < kProxyVariables.size(); ++i) {
    Restore(kProxyVariables[i], savedProxyVariables[i]);
  }
  delete lockDir;
  lockDir = nullptr;
}

ScopedProxyEnvironment::ScopedProxyEnvironment(
    std::initializer_list<std::pair<const char*, std::string>> values) {
  for (const auto& [name, value] : values) {
    names_.emplace_back(name);
    ::setenv(name, value.c_str(), 1);
  }
}

ScopedProxyEnvironment::~ScopedProxyEnvironment() {
  for (const std::string& name : names_) ::unsetenv(name.c_str());
}

}  // namespace brixa::e2e
