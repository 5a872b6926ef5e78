#pragma once
// The user's proxy settings as WinHTTP reads them: the binary DefaultConnectionSettings value
// of the Internet Settings' Connections key, written with reg.exe as an administrator's script
// would.

#include <cstdint>
#include <string>

namespace brixa::test {

// The flags of DefaultConnectionSettings.
inline constexpr std::uint32_t kConnectionDirect = 1;
inline constexpr std::uint32_t kConnectionProxy = 2;   // the manual proxy below
inline constexpr std::uint32_t kConnectionScript = 4;  // the configuration script's URL below

// The value's bytes in the hexadecimal form reg.exe takes: version, counter, flags, then the
// proxy, the bypass list and the script's URL, each a 32-bit length and its bytes, then padding.
[[nodiscard]] std::string ConnectionSettingsHex(std::uint32_t flags, const std::string& proxy,
                                                const std::string& bypass,
                                                const std::string& script);

// Writes the value for the current user; true when reg.exe succeeded.
[[nodiscard]] bool SetConnectionSettings(std::uint32_t flags, const std::string& proxy,
                                         const std::string& bypass, const std::string& script);

}  // namespace brixa::test
