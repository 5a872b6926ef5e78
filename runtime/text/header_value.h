#pragma once
// Small helpers for HTTP header values: sub-value extraction, charset, boolean spellings, cookie
// domain matching, path folding and header-line wrapping.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/text/encoding.h"

namespace brixa {

// Helpers the HTTP code uses to pick header values apart and to build paths. Positions are
// 1-based byte positions; comparisons without letter case fold ASCII letters only.

// The value of the item `name` inside a header value: `ExtractHeaderSubValue("text/html;
// charset=\"utf-8\"", "CHARSET")` is "utf-8". The name is searched without letter case and its
// first occurrence anywhere wins (it need not start an item). After it, blanks and one "=" are
// skipped; a quoted value runs to the next double quote (no escapes; an unterminated quote runs
// to the end), an unquoted one to the next ";" (not trimmed at its end). Empty text when the name
// does not occur.
[[nodiscard]] std::string ExtractHeaderSubValue(std::string_view headerValue,
                                                std::string_view name);

// ceUTF8 when the "charset" item of a Content-Type value is "UTF-8" or "UTF8" (any letter case),
// else ce8Bit (one byte per character, no conversion), an absent charset included.
[[nodiscard]] TIdCharEncoding CharsetEncodingOf(std::string_view contentType);

// True when the trimmed text starts with four "."-separated decimal numbers of 0..255. Anything
// after the fourth number is not examined ("1.2.3.4.5" passes, "1.2.3" fails).
[[nodiscard]] bool IsDottedIPv4(std::string_view text);

// Does not start with "." and is not IsDottedIPv4.
[[nodiscard]] bool LooksLikeHostName(std::string_view text);

// The cookie domain test. A dotted IPv4 host matches only the identical text; a host that does
// not look like a host name never matches; a domain starting with "." matches hosts that end
// with it (without letter case; the bare domain without its dot does not match); any other
// domain matches only the same host name without letter case.
[[nodiscard]] bool DomainMatches(std::string_view host, std::string_view domain);

// A host classified for DomainMatches once, to be matched against many domains.
struct TCookieHost {
  std::string_view name;
  bool dottedIPv4 = false;
  bool hostName = false;  // LooksLikeHostName
};
[[nodiscard]] TCookieHost ClassifyCookieHost(std::string_view host);
// DomainMatches(host.name, domain), without classifying the host again.
[[nodiscard]] bool DomainMatches(const TCookieHost& host, std::string_view domain);

// Joins `path` to `base` and folds it: runs of the delimiter become one and ".." drops the
// segment before it ("." segments are kept). A path that starts with the delimiter is returned
// unchanged. A trailing delimiter survives only when `path` is empty or ends with one.
// `delimiter` is one character ("/" for URLs).
[[nodiscard]] std::string ResolveRelativePath(std::string_view base, std::string_view path,
                                              std::string_view delimiter);

// 1-based position of the last occurrence of `part` in `text` (without letter case) starting at
// or before `start` (negative: anywhere); 0 when none.
[[nodiscard]] std::int64_t LastTextPos(std::string_view part, std::string_view text,
                                       std::int64_t start = -1);

// Folds a long header line: once the running column exceeds `maxColumn`, the line is broken
// after the last of `breakChars` seen outside double quotes and `breakText` (e.g. CR LF space) is
// inserted there, unless the break falls at the end of the line. Nothing is removed: the break
// characters right after a break stay at the start of the next piece. An occurrence of
// `breakText` already in the line (in any letter case) counts as a break and restarts the
// column. A multi-byte UTF-8 character is stepped over whole, counts as many columns as it has
// bytes and is never a break.
[[nodiscard]] std::string WrapHeaderLine(std::string_view line, std::string_view breakText,
                                         std::string_view breakChars, std::int64_t maxColumn);

// The spellings of a boolean in header values ("stale=TRUE"), compared without letter case and
// without trimming. The first entry of each is the one written.
inline constexpr std::array<std::string_view, 1> kFalseTexts{"FALSE"};
inline constexpr std::array<std::string_view, 1> kTrueTexts{"TRUE"};

// true or false when `text` is one of the spellings above; nothing for any other text.
[[nodiscard]] std::optional<bool> TextToBool(std::string_view text);
[[nodiscard]] std::string_view BoolToText(bool value) noexcept;

// Rotates `value` left by `count` bits (count taken modulo 32).
[[nodiscard]] constexpr std::uint32_t RotateLeft32(std::uint32_t value, unsigned count) noexcept {
  count &= 31u;
  return count == 0 ? value : (value << count) | (value >> (32u - count));
}

}  // namespace brixa
