#pragma once
// Reading the "WWW-Authenticate" / "Proxy-Authenticate" values the schemes answer, and quoting
// the values they send back.

#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// One "name=value" item of a challenge. `Value` is the text after the first "=" as received,
// quotes included; an item without "=" has an empty value.
struct TIdAuthChallengeItem {
  std::string Name;
  std::string Value;
};

// The challenge without its first word (the scheme) and the blanks after it.
[[nodiscard]] std::string DropSchemeWord(std::string_view challenge);

// Splits the items of a challenge at the commas that stand outside double quotes (a backslash
// inside quotes escapes the next character) and trims blanks around names and values. Empty
// items are skipped. `realm="a, b", qop=auth` is two items.
[[nodiscard]] std::vector<TIdAuthChallengeItem> SplitChallengeItems(std::string_view items);

// The value of the first item named `name` (without regard to case), unquoted; empty when none.
[[nodiscard]] std::string ChallengeItemValue(const std::vector<TIdAuthChallengeItem>& items,
                                             std::string_view name);

// The value without one pair of surrounding double quotes, backslash escapes resolved. A value
// that is not enclosed in quotes (or is a lone quote) is returned unchanged.
[[nodiscard]] std::string UnquoteChallengeValue(std::string_view value);

// The value in double quotes, with '"' and '\' escaped by a backslash. CR and LF are dropped so
// that a value can never end the header line it is written into.
[[nodiscard]] std::string QuoteAuthValue(std::string_view value);

// The words of a list separated by any of `separators`, empty words skipped.
[[nodiscard]] std::vector<std::string> SplitWords(std::string_view text,
                                                  std::string_view separators);

}  // namespace brixa
