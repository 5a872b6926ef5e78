// The argument text's check and the Windows rules for splitting it.

#include "platform/process/command_line.h"

namespace brixa {

namespace {

constexpr char kFirstPrintable = 0x20;
constexpr char kLastPrintable = 0x7E;

[[nodiscard]] bool IsBlank(char c) noexcept {
  return c == ' ' || c == '\t';
}

}  // namespace

bool IsLaunchArgumentsText(std::string_view text) noexcept {
  if (text.size() > kMaxLaunchArgumentsBytes) return false;
  for (const char c : text) {
    if (c < kFirstPrintable || c > kLastPrintable) return false;
  }
  return true;
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // a word has begun, even an empty quoted one
  bool quoted = false;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (IsBlank(c) && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      std::size_t run = 0;
      while (i < text.size() && text[i] == '\\') ++run, ++i;
      if (i < text.size() && text[i] == '"') {
        word.append(run / 2, '\\');
        if (run % 2 == 1) {
          word += '"';
          ++i;
        }
      } else {
        word.append(run, '\\');
      }
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
    } else {
      word += c;
    }
    ++i;
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

}  // namespace brixa
