#include <fstream>
#include <optional>
#include <string_view>

#include "platform/profile_string.h"

namespace brixa {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string_view TrimRight(std::string_view text) {
  const std::size_t last = text.find_last_not_of(kBlanks);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string CutTo(std::string_view text, std::size_t size) {
  if (size == 0) return {};
  return std::string(text.substr(0, size - 1));
}

// The section name of a "[name]" line, or nothing for other lines.
std::optional<std::string_view> SectionName(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = line.find(']');
  const std::string_view inside =
      close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
  return Trim(inside);
}

// The value of `key` in the first section called `section`, if both are there.
std::optional<std::string> FindValue(std::istream& in, std::string_view section,
                                     std::string_view key) {
  enum class Where { before, inside, after } where = Where::before;
  std::string raw;
  bool firstLine = true;
  while (where != Where::after && std::getline(in, raw)) {
    std::string_view line = raw;
    if (firstLine && line.substr(0, kUtf8Bom.size()) == kUtf8Bom)
      line.remove_prefix(kUtf8Bom.size());
    firstLine = false;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (const auto name = SectionName(line)) {
      if (where == Where::inside)
        where = Where::after;
      else if (SameNameIgnoringCase(*name, section))
        where = Where::inside;
      continue;
    }
    if (where != Where::inside) continue;
    const std::size_t equals = line.find('=');
    const std::string_view name = Trim(line.substr(0, equals));
    if (!SameNameIgnoringCase(name, key)) continue;
    if (equals == std::string_view::npos) return std::string();
    return std::string(Unquote(Trim(line.substr(equals + 1))));
  }
  return std::nullopt;
}

}  // namespace

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t size,
                              const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (in) {
    if (const auto value = FindValue(in, section, key)) return CutTo(*value, size);
  }
  return CutTo(TrimRight(defaultValue), size);
}

}  // namespace brixa
