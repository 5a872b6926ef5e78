// INI values read by the platform's profile rules, the same on every platform.

#include "platform/ini/profile_string.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/temp_dir.h"

namespace brixa {
namespace {

using test::TempDir;
using test::WriteFileText;

constexpr const char* kDefault = "0000000000";
constexpr std::size_t kStampBuffer = 20;

struct ProfileCase {
  const char* what;
  const char* file;  // nullptr: no file at all
  const char* section;
  const char* key;
  std::size_t size;
  const char* expected;
};

TEST(ProfileStringTest, ReadsValuesByThePlatformRules) {
  const ProfileCase cases[] = {
      {"plain", "[Updater]\nVersion=2024.05.01\n", "Updater", "Version", kStampBuffer,
       "2024.05.01"},
      {"names ignore case", "[UPDATER]\nversion=abc\n", "Updater", "Version", kStampBuffer, "abc"},
      {"blanks around names and value", "  [Updater]  \r\n \t Version \t=  a b c  \r\n", "Updater",
       "Version", kStampBuffer, "a b c"},
      {"double quotes", "[Updater]\nVersion=\"quoted value\"\n", "Updater", "Version", kStampBuffer,
       "quoted value"},
      {"single quotes", "[Updater]\nVersion='single'\n", "Updater", "Version", kStampBuffer,
       "single"},
      {"unmatched quote kept", "[Updater]\nVersion=\"open\n", "Updater", "Version", kStampBuffer,
       "\"open"},
      {"one pair only", "[Updater]\nVersion=\"\"inner\"\"\n", "Updater", "Version", kStampBuffer,
       "\"inner\""},
      {"cut to size - 1", "[Updater]\nVersion=12345678901234567890123\n", "Updater", "Version",
       kStampBuffer, "1234567890123456789"},
      {"quotes removed before the cut", "[Updater]\nVersion=\"abcdef\"\n", "Updater", "Version", 4,
       "abc"},
      {"empty value is not the default", "[Updater]\nVersion=\n", "Updater", "Version",
       kStampBuffer, ""},
      {"value keeps later equals signs", "[Updater]\nVersion=a=b\n", "Updater", "Version",
       kStampBuffer, "a=b"},
      {"first key wins", "[Updater]\nVersion=1\nVersion=2\n", "Updater", "Version", kStampBuffer,
       "1"},
      {"other section", "[Other]\nVersion=9\n[Updater]\nVersion=3\n", "Updater", "Version",
       kStampBuffer, "3"},
      {"key of the next section not taken", "[Updater]\nStamp=1\n[Next]\nVersion=9\n", "Updater",
       "Version", kStampBuffer, kDefault},
      {"comment is not the key", "[Updater]\n;Version=9\n", "Updater", "Version", kStampBuffer,
       kDefault},
      {"key before any section ignored", "Version=9\n[Updater]\n", "Updater", "Version",
       kStampBuffer, kDefault},
      {"missing section", "[Other]\nVersion=9\n", "Updater", "Version", kStampBuffer, kDefault},
      {"missing file", nullptr, "Updater", "Version", kStampBuffer, kDefault},
      {"empty file", "", "Updater", "Version", kStampBuffer, kDefault},
      {"default cut too", nullptr, "Updater", "Version", 5, "0000"},
      {"no last line break", "[Updater]\nVersion=last", "Updater", "Version", kStampBuffer, "last"},
  };
  TempDir dir;
  int n = 0;
  for (const ProfileCase& c : cases) {
    const std::string path = dir.Path("case" + std::to_string(n++) + ".ini");
    if (c.file != nullptr) WriteFileText(path, c.file);
    EXPECT_EQ(ReadProfileString(c.section, c.key, kDefault, c.size, path), c.expected) << c.what;
  }
}

// Bytes of `text` (ASCII) as UTF-16 with a byte-order mark.
std::string Utf16(std::string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : text) {
    bytes += bigEndian ? '\0' : c;
    bytes += bigEndian ? c : '\0';
  }
  return bytes;
}

// Version files that readers are known to disagree on. The same table runs on every platform,
// so the stamp a file gives is the same wherever the updater runs.
TEST(ProfileStringTest, UnusualVersionFilesGiveTheSameStampEverywhere) {
  const struct {
    const char* what;
    std::string file;
    const char* expected;
  } cases[] = {
      {"CR line ends only", "[Updater]\rVersion=2.0\r", "2.0"},
      {"CR LF line ends", "[Updater]\r\nVersion=2.1\r\n", "2.1"},
      {"UTF-16LE with a byte-order mark", Utf16("[Updater]\r\nVersion=3.0\r\n", false), "3.0"},
      {"UTF-16BE with a byte-order mark", Utf16("[Updater]\r\nVersion=3.1\r\n", true), "3.1"},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF[Updater]\nVersion=3.2\n", "3.2"},
      {"key line without '=' first", "[Updater]\nVersion\nVersion=7.0\n", kDefault},
      {"key line without '=' only", "[Updater]\nVersion\n", kDefault},
      {"second section of the same name ignored", "[Updater]\nOther=1\n[Updater]\nVersion=8\n",
       kDefault},
      {"section line without ']' is no section", "[Other]\n[Updater\nVersion=9\n", kDefault},
  };
  TempDir dir;
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = dir.Path("unusual" + std::to_string(n++) + ".ini");
    WriteFileText(path, c.file);
    EXPECT_EQ(ReadProfileString("Updater", "Version", kDefault, kStampBuffer, path), c.expected)
        << c.what;
  }
}

TEST(ProfileStringTest, DefaultLosesTrailingBlanksAndAZeroSizeGivesNothing) {
  TempDir dir;
  const std::string missing = dir.Path("missing.ini");
  EXPECT_EQ(ReadProfileString("Updater", "Version", "fallback   ", kStampBuffer, missing),
            "fallback");
  const std::string file = dir.Path("version.ini");
  WriteFileText(file, "[Updater]\nVersion=1\n");
  EXPECT_EQ(ReadProfileString("Updater", "Version", kDefault, 0, file), "");
  EXPECT_EQ(ReadProfileString("Updater", "Version", kDefault, 1, file), "");
  EXPECT_EQ(ReadProfileString("Updater", "Version", kDefault, 2, file), "1");
}

}  // namespace
}  // namespace brixa
