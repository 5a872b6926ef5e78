#include "platform/process/command_line.h"

#include <gtest/gtest.h>

namespace brixa {
namespace {

// The words Windows programs make of their command line, as the POSIX launch makes them too.
TEST(CommandLineTest, SplitsAsWindowsProgramsDo) {
  const struct {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      // clang-format off
      {"", {}},
      {"  /S   /Q ", {"/S", "/Q"}},
      {"\"/D=C:\\Program Files\\App\" /S", {"/D=C:\\Program Files\\App", "/S"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" x", {"", "x"}},
      {"a\\\\b", {"a\\\\b"}},              // backslashes before no quote stay
      {"a\\\"b", {"a\"b"}},                // an odd run: a literal quote
      {"\"a\\\\\" b", {"a\\", "b"}},       // an even run: half of them, and the quote ends
      {"\"open to the end", {"open to the end"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.text), c.words) << c.text;
  }
  EXPECT_TRUE(IsLaunchArgumentsText(std::string(kMaxLaunchArgumentsBytes, '~')));
  EXPECT_FALSE(IsLaunchArgumentsText(std::string(kMaxLaunchArgumentsBytes + 1, 'x')));
  EXPECT_FALSE(IsLaunchArgumentsText(std::string("/S\0/Q", 5)));
  EXPECT_FALSE(IsLaunchArgumentsText("/S\n/Q"));
  EXPECT_FALSE(IsLaunchArgumentsText("\x7f"));
}

}  // namespace
}  // namespace brixa
