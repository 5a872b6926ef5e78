// The header-value helpers; path folding never climbs above the root.

#include "runtime/text/header_value.h"

#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr int kMaxOctet = 255;
constexpr int kIPv4Parts = 4;

bool EndsWithChar(const std::string& text, char ch) {
  return !text.empty() && text.back() == ch;
}

// Drops the last segment of `folded` (which ends with the delimiter): its delimiter, then every
// character back to the previous delimiter. The root ("/" alone) has no parent and stays.
void DropLastSegment(std::string& folded, char delimiter) {
  if (folded.size() == 1) return;
  folded.pop_back();
  while (!folded.empty() && folded.back() != delimiter) folded.pop_back();
}

// True when `text` at 0-based `i` holds a ".." segment: two dots followed by the delimiter or the
// end. A name that merely starts with two dots ("..hidden") is an ordinary segment.
bool IsParentSegment(std::string_view text, std::size_t i, char delimiter) {
  return text.substr(i, 2) == ".." && (i + 2 == text.size() || text[i + 2] == delimiter);
}

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

}  // namespace

std::string ExtractHeaderSubValue(std::string_view headerValue, std::string_view name) {
  // An empty name would "occur" at the start and hand back the header's first item.
  if (name.empty() || TextPos(name, headerValue, false) == 0) return {};
  std::string rest(headerValue);
  TakeUpTo(rest, name, true, false);
  rest = Trim(rest);
  if (!rest.empty() && rest[0] == '=') rest.erase(0, 1);
  rest = Trim(rest);
  if (!rest.empty() && rest[0] == '"') {
    rest.erase(0, 1);
    return TakeUpTo(rest, "\"");
  }
  return TakeUpTo(rest, ";");
}

TIdCharEncoding CharsetEncodingOf(std::string_view contentType) {
  const std::string charset = ExtractHeaderSubValue(contentType, "CHARSET");
  if (SameTextNoCase(charset, "UTF-8") || SameTextNoCase(charset, "UTF8")) return ceUTF8;
  return ce8Bit;
}

std::optional<bool> TextToBool(std::string_view text) {
  for (const std::string_view spelling : kTrueTexts) {
    if (SameTextNoCase(text, spelling)) return true;
  }
  for (const std::string_view spelling : kFalseTexts) {
    if (SameTextNoCase(text, spelling)) return false;
  }
  return std::nullopt;
}

std::string_view BoolToText(bool value) noexcept {
  return value ? kTrueTexts.front() : kFalseTexts.front();
}

bool IsDottedIPv4(std::string_view text) {
  std::string rest = Trim(text);
  for (int part = 0; part < kIPv4Parts; ++part) {
    // Decimal digits only: no sign, blank or hexadecimal form.
    if (!ParseDigits(TakeUpTo(rest, "."), kMaxOctet)) return false;
  }
  return true;
}

bool LooksLikeHostName(std::string_view text) {
  return !(!text.empty() && text[0] == '.') && !IsDottedIPv4(text);
}

TCookieHost ClassifyCookieHost(std::string_view host) {
  TCookieHost classified;
  classified.name = host;
  classified.dottedIPv4 = IsDottedIPv4(host);
  classified.hostName = !classified.dottedIPv4 && !(!host.empty() && host[0] == '.');
  return classified;
}

bool DomainMatches(const TCookieHost& host, std::string_view domain) {
  if (host.dottedIPv4) return host.name == domain;
  if (!host.hostName) return false;
  if (!domain.empty() && domain[0] == '.') return EndsWithNoCase(host.name, domain);
  return SameTextNoCase(host.name, domain);
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  return DomainMatches(ClassifyCookieHost(host), domain);
}

std::string ResolveRelativePath(std::string_view base, std::string_view path,
                                std::string_view delimiter) {
  const char delim = delimiter.empty() ? '/' : delimiter[0];
  if (!path.empty() && path[0] == delim) return std::string(path);
  const bool keepTrailing = path.empty() || path.back() == delim;
  std::string joined(base);
  if (!joined.empty() && joined.back() != delim) joined.push_back(delim);
  joined.append(path);

  std::string folded;
  for (std::size_t i = 0; i < joined.size(); ++i) {
    const char ch = joined[i];
    if (ch == delim) {
      if (i == 0 || !EndsWithChar(folded, delim)) folded.push_back(delim);
    } else if (ch == '.' && EndsWithChar(folded, delim) && IsParentSegment(joined, i, delim)) {
      DropLastSegment(folded, delim);
      ++i;  // the second dot
    } else {
      folded.push_back(ch);
    }
  }
  if (folded.size() > 1 && EndsWithChar(folded, delim) && !keepTrailing) folded.pop_back();
  return folded;
}

std::int64_t LastTextPos(std::string_view part, std::string_view text, std::int64_t start) {
  const auto partLength = static_cast<std::int64_t>(part.size());
  const auto textLength = static_cast<std::int64_t>(text.size());
  if (partLength == 0 || partLength > textLength) return 0;
  if (start < 0) start = textLength;
  if (start > textLength - partLength + 1) start = textLength - partLength + 1;
  for (std::int64_t position = start; position >= 1; --position) {
    if (SameTextNoCase(text.substr(static_cast<std::size_t>(position - 1), part.size()), part)) {
      return position;
    }
  }
  return 0;
}

std::string WrapHeaderLine(std::string_view line, std::string_view breakText,
                           std::string_view breakChars, std::int64_t maxColumn) {
  const std::size_t length = line.size();
  // Positions are 1-based as in the rest of the text helpers; at(i) is the character at i.
  const auto at = [&line](std::size_t i) { return line[i - 1]; };
  const auto isBreakChar = [&breakChars](char ch) {
    return breakChars.find(ch) != std::string_view::npos;
  };
  std::string result;
  std::int64_t column = 1;
  std::size_t segmentStart = 1;
  std::size_t breakPos = 0;
  bool inQuote = false;
  bool existingBreak = false;
  std::size_t i = 1;
  while (i <= length) {
    const char current = at(i);
    const std::size_t sequence = Utf8SequenceLength(static_cast<unsigned char>(current));
    if (sequence > 1 && i + sequence - 1 <= length) {
      // A multi-byte character: stepped over whole, never a break.
      i += sequence - 1;
      column += static_cast<std::int64_t>(sequence) - 1;
    } else if (!breakText.empty() && current == breakText[0] && !inQuote) {
      if (SameTextNoCase(line.substr(i - 1, breakText.size()), breakText)) {
        existingBreak = true;
        i += breakText.size() - 1;
        breakPos = i;
      }
    } else if (isBreakChar(current) && !inQuote) {
      breakPos = i;
    } else if (current == '"') {
      inQuote = !inQuote;
    }
    ++i;
    ++column;
    if (inQuote || !(existingBreak || (column > maxColumn && breakPos > segmentStart))) continue;
    column = static_cast<std::int64_t>(i - breakPos);
    result.append(line.substr(segmentStart - 1, breakPos - segmentStart + 1));
    if (current != '"') {
      while (i <= length && (isBreakChar(at(i)) || at(i) == '\r' || at(i) == '\n')) ++i;
      if (!existingBreak && i < length) result.append(breakText);
    }
    segmentStart = breakPos + 1;
    existingBreak = false;
  }
  if (segmentStart <= length) result.append(line.substr(segmentStart - 1));
  return result;
}

}  // namespace brixa
