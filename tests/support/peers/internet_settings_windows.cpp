#include "support/peers/internet_settings_windows.h"

#include <cstdio>

#include "support/peers/peer_process.h"

namespace brixa::test {

namespace {

constexpr int kRegTimeoutMs = 30000;
constexpr std::uint32_t kSettingsVersion = 0x46;
// Windows writes zero bytes after the strings; Wine reads the value with or without them.
constexpr int kPaddingBytes = 32;
constexpr const char* kConnectionsKey =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

void PutDword(std::string& hex, std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                (value >> 16) & 0xFF, (value >> 24) & 0xFF);
  hex += text;
}

void PutText(std::string& hex, const std::string& text) {
  PutDword(hex, static_cast<std::uint32_t>(text.size()));
  for (const char ch : text) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(ch));
    hex += pair;
  }
}

}  // namespace

std::string ConnectionSettingsHex(std::uint32_t flags, const std::string& proxy,
                                  const std::string& bypass, const std::string& script) {
  std::string hex;
  PutDword(hex, kSettingsVersion);
  PutDword(hex, 1);
  PutDword(hex, flags);
  PutText(hex, proxy);
  PutText(hex, bypass);
  PutText(hex, script);
  hex.append(2 * kPaddingBytes, '0');
  return hex;
}

bool SetConnectionSettings(std::uint32_t flags, const std::string& proxy, const std::string& bypass,
                           const std::string& script) {
  return RunProgram("reg",
                    {"add", kConnectionsKey, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                     "/d", ConnectionSettingsHex(flags, proxy, bypass, script), "/f"},
                    kRegTimeoutMs)
             .exitCode == 0;
}

}  // namespace brixa::test
