// The updater's end-to-end fixture under Wine: runs whose message boxes are pressed OK, and the
// Internet Settings' proxy for one scope.

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

// Closes the updater's message boxes while a run lasts and keeps their texts, in the form the
// console backend prints them ("BrixaUpdater: <text>").
class MessageBoxCloser {
 public:
  MessageBoxCloser() : thread_([this] { Watch(); }) {}
  ~MessageBoxCloser() { (void)Finish(); }
  MessageBoxCloser(const MessageBoxCloser&) = delete;
  MessageBoxCloser& operator=(const MessageBoxCloser&) = delete;

  // Stops watching and returns one line per box seen.
  std::string Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return texts_;
  }

 private:
  static constexpr int kMessageTextId = 0xFFFF;  // the text control of a system message box
  static constexpr int kCloseWaitSteps = 100;

  void Watch() {
    while (!stop_) {
      HWND box = ::FindWindowA("#32770", "BrixaUpdater");
      if (box != nullptr) {
        char text[512] = {};
        ::GetDlgItemTextA(box, kMessageTextId, text, sizeof text);
        texts_ += std::string("BrixaUpdater: ") + text + "\n";
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        for (int i = 0; i < kCloseWaitSteps && ::IsWindow(box); ++i) ::Sleep(20);
      }
      ::Sleep(50);
    }
  }

  std::atomic<bool> stop_{false};
  std::string texts_;
  std::thread thread_;
};

constexpr const char* kSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const char* kConnectionsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr std::uint32_t kSettingsVersion = 0x46;
constexpr std::uint32_t kDirectAndManualProxy = 0x3;  // PROXY_TYPE_DIRECT | _PROXY

bool Add(const std::string& key, const std::string& name, const std::string& type,
         const std::string& data) {
  const ProgramResult run =
      test::RunProgram("C:\\windows\\system32\\reg.exe",
                       {"add", "HKCU\\" + key, "/v", name, "/t", type, "/d", data, "/f"}, 30000);
  return run.exitCode == 0;
}

// The layout of DefaultConnectionSettings: version, counter, flags, then the proxy, the
// bypass list and the configuration script's URL, each a 32-bit length and its bytes.
std::string ConnectionSettings(const std::string& proxy, const std::string& bypass) {
  std::string hex;
  const auto word = [&hex](std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                  (value >> 16) & 0xFF, (value >> 24) & 0xFF);
    hex += text;
  };
  const auto text = [&](const std::string& value) {
    word(static_cast<std::uint32_t>(value.size()));
    for (const char ch : value) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(ch));
      hex += pair;
    }
  };
  word(kSettingsVersion);
  word(0);
  word(kDirectAndManualProxy);
  text(proxy);
  text(bypass);
  text("");
  return hex;
}

}  // namespace

void UseStateDir(const std::string& dir) {
  ::SetEnvironmentVariableA("LOCALAPPDATA", dir.c_str());
  fs::create_directories(dir);
}

ProgramResult ProductDir::Run(int timeoutMs) const {
  UseStateDir(StateDir());
  MessageBoxCloser closer;
  ProgramResult run = test::RunProgram(updater_, {}, timeoutMs);
  run.stdErr += closer.Finish();
  return run;
}

ScopedInternetSettings::ScopedInternetSettings(const std::string& proxyServer,
                                               const std::string& bypass) {
  Save(kSettingsKey, "ProxyEnable");
  Save(kSettingsKey, "ProxyServer");
  Save(kSettingsKey, "ProxyOverride");
  Save(kConnectionsKey, "DefaultConnectionSettings");
  ok_ = Add(kSettingsKey, "ProxyEnable", "REG_DWORD", "1") &&
        Add(kSettingsKey, "ProxyServer", "REG_SZ", proxyServer) &&
        Add(kSettingsKey, "ProxyOverride", "REG_SZ", bypass) &&
        Add(kConnectionsKey, "DefaultConnectionSettings", "REG_BINARY",
            ConnectionSettings(proxyServer, bypass));
}

ScopedInternetSettings::~ScopedInternetSettings() {
  for (const Saved& value : saved_) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, &key, nullptr) != ERROR_SUCCESS) {
      continue;
    }
    if (value.present) {
      ::RegSetValueExA(key, value.name.c_str(), 0, value.type,
                       reinterpret_cast<const BYTE*>(value.data.data()),
                       static_cast<DWORD>(value.data.size()));
    } else {
      ::RegDeleteValueA(key, value.name.c_str());
    }
    ::RegCloseKey(key);
  }
}

void ScopedInternetSettings::Save(const std::string& key, const std::string& name) {
  Saved value;
  value.key = key;
  value.name = name;
  HKEY handle = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle) ==
      ERROR_SUCCESS) {
    DWORD size = 0;
    if (::RegQueryValueExA(handle, name.c_str(), nullptr, &value.type, nullptr, &size) ==
        ERROR_SUCCESS) {
      value.data.resize(size);
      value.present =
          ::RegQueryValueExA(handle, name.c_str(), nullptr, &value.type,
                             reinterpret_cast<BYTE*>(value.data.data()), &size) == ERROR_SUCCESS;
    }
    ::RegCloseKey(handle);
  }
  saved_.push_back(std::move(value));
}

}  // namespace brixa::e2e
