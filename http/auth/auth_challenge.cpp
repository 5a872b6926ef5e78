// Splitting challenges at commas outside quotes, unquoting and quoting values.

#include "http/auth/auth_challenge.h"

#include <algorithm>

#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr std::string_view kBlanks = " \t";

[[nodiscard]] std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// Index of the next comma outside double quotes at or after `from`; the text's size when none.
[[nodiscard]] std::size_t NextItemEnd(std::string_view text, std::size_t from) {
  bool quoted = false;
  for (std::size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '\\') {
      ++i;  // the escaped character never ends anything
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      return i;
    }
  }
  return text.size();
}

}  // namespace

std::string DropSchemeWord(std::string_view challenge) {
  const std::string_view trimmed = TrimBlanks(challenge);
  const std::size_t blank = trimmed.find_first_of(kBlanks);
  if (blank == std::string_view::npos) return {};
  return std::string(TrimBlanks(trimmed.substr(blank)));
}

std::vector<TIdAuthChallengeItem> SplitChallengeItems(std::string_view items) {
  std::vector<TIdAuthChallengeItem> out;
  for (std::size_t start = 0; start <= items.size();) {
    const std::size_t end = NextItemEnd(items, start);
    const std::string_view item = TrimBlanks(items.substr(start, end - start));
    start = end + 1;
    if (item.empty()) continue;
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      out.push_back({std::string(item), {}});
      continue;
    }
    out.push_back({std::string(TrimBlanks(item.substr(0, equals))),
                   std::string(TrimBlanks(item.substr(equals + 1)))});
  }
  return out;
}

std::string ChallengeItemValue(const std::vector<TIdAuthChallengeItem>& items,
                               std::string_view name) {
  for (const TIdAuthChallengeItem& item : items) {
    if (SameTextNoCase(item.Name, name)) return UnquoteChallengeValue(item.Value);
  }
  return {};
}

std::string UnquoteChallengeValue(std::string_view value) {
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::string(value);
  const std::string_view inner = value.substr(1, value.size() - 2);
  std::string out;
  out.reserve(inner.size());
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '\\' && i + 1 < inner.size()) ++i;
    out.push_back(inner[i]);
  }
  return out;
}

std::string QuoteAuthValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out.push_back('"');
  for (const char c : value) {
    if (c == '\r' || c == '\n') continue;
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::vector<std::string> SplitWords(std::string_view text, std::string_view separators) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find_first_of(separators, start), text.size());
    if (end > start) out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace brixa
