// The profile-string rules over text in memory, the same on every platform.

#include "platform/ini/profile_text.h"

#include <optional>
#include <string_view>

namespace brixa {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
constexpr char kEndOfFileMark = '\x1A';

// Blanks as the platform's profile reader counts them: white space and the old end-of-file mark.
bool IsBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' ||
         c == kEndOfFileMark;
}

std::string_view Trim(std::string_view text) noexcept {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 text in the system's 8-bit encoding, which is UTF-8 here. A lone surrogate becomes
// U+FFFD, as the platform's converters make it.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  const auto unit = [&](std::size_t i) -> char32_t {
    const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    return static_cast<char32_t>((hi << 8) | lo);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
    AppendUtf8(out, code);
  }
  return out;
}

// The file's text in 8-bit form: a byte-order mark picks UTF-8 or UTF-16 (either order) and is
// dropped; without one the bytes are taken as they are.
std::string DecodeFile(std::string bytes) {
  const std::string_view view = bytes;
  if (view.starts_with(kUtf8Bom)) return bytes.substr(kUtf8Bom.size());
  if (view.starts_with(kUtf16LeBom)) return Utf16ToUtf8(view.substr(2), false);
  if (view.starts_with(kUtf16BeBom)) return Utf16ToUtf8(view.substr(2), true);
  return bytes;
}

// The next line of `text` from `at`: lines end in LF (a CR before it is a blank); only a file
// with no LF left is split at CRs, as the platform's reader does.
std::string_view NextLine(std::string_view text, std::size_t& at) {
  std::size_t end = text.find('\n', at);
  if (end == std::string_view::npos) end = text.find('\r', at);
  if (end == std::string_view::npos) end = text.size();
  const std::string_view line = text.substr(at, end - at);
  at = end + 1;
  return line;
}

struct KeyValue {
  bool found = false;
  std::optional<std::string_view> value;  // none: a key line without '='
};

// The first occurrence of `key` in the first section called `section`. Section names are taken
// between '[' and the first ']' as they stand; a '[' line without ']' is an ordinary line.
KeyValue FindKey(std::string_view text, std::string_view section, std::string_view key) {
  enum class Where { before, inside } where = Where::before;
  for (std::size_t at = 0; at < text.size();) {
    const std::string_view line = Trim(NextLine(text, at));
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos) {
        if (where == Where::inside) return {};  // only the first such section counts
        if (SameNameIgnoringCase(line.substr(1, close - 1), section)) where = Where::inside;
        continue;
      }
    }
    if (where != Where::inside) continue;
    const std::size_t equals = line.find('=');
    if (!SameNameIgnoringCase(Trim(line.substr(0, equals)), key)) continue;
    if (equals == std::string_view::npos) return {true, std::nullopt};
    return {true, Trim(line.substr(equals + 1))};
  }
  return {};
}

// The value as the platform copies it into a buffer of `size` bytes: one pair of matching
// quotes is dropped when the whole value fits, and the text is cut to size - 1 bytes.
std::string CopyEntry(std::string_view value, std::size_t size) {
  if (size == 0) return {};
  bool quoted = false;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    quoted = true;
    value.remove_prefix(1);
  }
  std::string out(value.substr(0, size - 1));
  if (quoted && size >= value.size() && !out.empty()) out.pop_back();
  return out;
}

std::string TrimRightSpaces(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

std::string ReadProfileText(std::string_view section, std::string_view key,
                            std::string_view defaultValue, std::size_t size,
                            std::string_view bytes) {
  const std::string text = DecodeFile(std::string(bytes));
  const KeyValue found = FindKey(text, Trim(section), Trim(key));
  if (found.found && found.value) return CopyEntry(*found.value, size);
  return CopyEntry(TrimRightSpaces(defaultValue), size);
}

}  // namespace brixa
