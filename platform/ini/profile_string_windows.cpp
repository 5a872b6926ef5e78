// ReadProfileString through GetPrivateProfileStringA.

#include <windows.h>

#include <vector>

#include "platform/ini/profile_string.h"

namespace brixa {

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t size,
                              const std::string& fileName) {
  if (size == 0) return {};
  std::vector<char> buffer(size, '\0');
  const DWORD length =
      ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                 static_cast<DWORD>(size), fileName.c_str());
  return std::string(buffer.data(), length);
}

}  // namespace brixa
