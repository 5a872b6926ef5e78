// ReadProfileString over the bytes of the file, read with a bound.

#include <fstream>
#include <optional>

#include "platform/ini/profile_string.h"
#include "platform/ini/profile_text.h"

namespace brixa {

namespace {

// A version file is a few lines; anything larger is not read past this.
constexpr std::size_t kMaxFileBytes = 1 << 20;

std::optional<std::string> ReadWholeFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  bytes.resize(kMaxFileBytes);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

}  // namespace

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t size,
                              const std::string& fileName) {
  const auto bytes = ReadWholeFile(fileName);
  return ReadProfileText(section, key, defaultValue, size, bytes ? *bytes : std::string());
}

}  // namespace brixa
