#pragma once
// An installer's arguments as one line of text: what may be in it, and how Windows programs
// split it into words.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// The longest argument text a program is started with: an installer needs a few switches, and
// a bound keeps a manifest from handing over a command line of any size.
inline constexpr std::size_t kMaxLaunchArgumentsBytes = 1024;

// True when `text` may be passed to a started program: at most kMaxLaunchArgumentsBytes bytes,
// each printable ASCII (0x20 to 0x7E). A control character (a line break, a NUL cutting the
// line short, an escape for a terminal) or a byte the system's code page would turn into
// something else is never passed on.
[[nodiscard]] bool IsLaunchArgumentsText(std::string_view text) noexcept;

// Splits a command line's arguments into words as Windows programs split theirs, so the same
// text gives the same words on every platform:
//   - blanks (space, tab) outside double quotes separate words; a run of them counts once;
//   - a double quote starts or ends a quoted part, which may hold blanks; quoted and unquoted
//     parts next to each other form one word, and "" alone is an empty word (inside a quoted
//     part write a quote as \": programs differ on a doubled one);
//   - 2n backslashes before a double quote give n backslashes and the quote does its work;
//     2n+1 give n backslashes and a literal quote; backslashes before anything else stay.
// An unfinished quoted part runs to the end of the text.
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view text);

}  // namespace brixa
