#pragma once
// TerminalSafe: network text escaped so that nothing in it can drive the terminal.

#include <string>
#include <string_view>

namespace brixa::tool {

// Text from the network (a reason phrase, header lines, a Location, an error message quoting
// them) made safe for a terminal: every byte outside printable ASCII becomes \xHH, so no
// escape sequence, carriage return or backspace reaches the terminal to retitle the window,
// move the cursor or overwrite what was printed. Tabs stay. With `keepLineBreaks`, CR LF and
// LF become one line break (messages of the socket layer are two lines).
[[nodiscard]] std::string TerminalSafe(std::string_view text, bool keepLineBreaks = false);

}  // namespace brixa::tool
