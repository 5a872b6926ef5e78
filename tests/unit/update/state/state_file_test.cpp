// The rollback state: loaded strictly, saved through a private file, other keys kept.
#include "update/state/state_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/core/stream.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brixa {
namespace {

TUpdateState Load(const std::string& file, const std::string& product, TStateLoad expected) {
  TStateLoad how = TStateLoad::slLoaded;
  TUpdateState state = TUpdateState::Load(file, product, how);
  EXPECT_EQ(how, expected) << file;
  return state;
}

TEST(UpdateState, MissingLoadedRecoveredOrDamaged) {
  test::TempDir dir;
  const std::string file = dir.Path("state.ini");
  EXPECT_FALSE(Load(file, "BrixaUpdater", TStateLoad::slMissing).HighestSerial().has_value());

  const std::string header = kStateFileHeader;
  const std::string keys = "[BrixaUpdater]\nHighestSerial=12\n";
  const std::string good = header + keys + kStateFileTrailer;
  const std::string firstVersion = "# BrixaUpdater state: written by the updater only.\n" + keys;
  struct Case {
    const char* what;
    std::optional<std::string> text;      // nullopt: no file
    std::optional<std::string> previous;  // the previous copy; nullopt: none
    TStateLoad how;
  };
  const Case cases[] = {
      // clang-format off
      {"written by the updater", header + "# c\n" + keys + kStateFileTrailer, {}, TStateLoad::slLoaded},
      {"blank lines and CRLF", header + "\r\n[BrixaUpdater]\r\nHighestSerial=12\r\n\n" + kStateFileTrailer, {}, TStateLoad::slLoaded},
      {"the first version's file", firstVersion, {}, TStateLoad::slLoaded},
      {"empty", "", {}, TStateLoad::slDamaged},
      {"zeros after a crash", std::string(64, '\0'), {}, TStateLoad::slDamaged},
      {"no header", keys + kStateFileTrailer, {}, TStateLoad::slDamaged},
      {"cut short", good.substr(0, good.size() - 3), {}, TStateLoad::slDamaged},
      {"cut in the floor", header + "[BrixaUpdater]\nHighestSerial=1", {}, TStateLoad::slDamaged},
      {"a key before any section", header + "HighestSerial=12\n" + kStateFileTrailer, {}, TStateLoad::slDamaged},
      {"a line without '='", header + "[BrixaUpdater]\nHighestSerial\n" + kStateFileTrailer, {}, TStateLoad::slDamaged},
      {"an odd key", header + "[BrixaUpdater]\nHighest Serial=1\n" + kStateFileTrailer, {}, TStateLoad::slDamaged},
      {"a cut section line", header + "[BrixaUpdater\nHighestSerial=1\n" + kStateFileTrailer, {}, TStateLoad::slDamaged},
      {"too large", header + "[BrixaUpdater]\n" + std::string(kMaxStateFileBytes, '#'), {}, TStateLoad::slDamaged},
      {"empty, with a good previous copy", "", good, TStateLoad::slRecovered},
      {"gone between the renames of a save", std::nullopt, good, TStateLoad::slRecovered},
      {"both damaged", "", "", TStateLoad::slDamaged},
      {"gone, and the previous copy damaged", std::nullopt, std::string(8, '\0'), TStateLoad::slDamaged},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(file);
    std::filesystem::remove(file + kPreviousStateSuffix);
    if (c.text) test::WriteFileText(file, *c.text);
    if (c.previous) test::WriteFileText(file + kPreviousStateSuffix, *c.previous);
    const TUpdateState state = Load(file, "BrixaUpdater", c.how);
    const bool usable = c.how == TStateLoad::slLoaded || c.how == TStateLoad::slRecovered;
    EXPECT_EQ(state.HighestSerial(), usable ? std::optional<std::uint64_t>(12) : std::nullopt);
  }
}

// Two runs that loaded the state at different times: the later save keeps the other's keys and
// never lowers the floor; every good file a save replaces becomes the previous copy.
TEST(UpdateState, SaveMergesWithTheFileAndKeepsThePreviousCopy) {
  test::TempDir dir;
  const std::string file = dir.Path("state.ini");
  TUpdateState early = Load(file, "BrixaUpdater", TStateLoad::slMissing);
  TUpdateState late = Load(file, "BrixaUpdater", TStateLoad::slMissing);
  late.SetHighestSerial(300);
  late.SetValue("RolloutBucket", "7");
  late.Save();
  early.SetHighestSerial(200);
  early.SetValue("RetryAfterUntil", "2030-01-01T00:00:00Z");
  early.Save();
  const TUpdateState merged = Load(file, "BrixaUpdater", TStateLoad::slLoaded);
  EXPECT_EQ(merged.HighestSerial(), 300u);
  EXPECT_EQ(merged.Value("RolloutBucket"), "7");
  EXPECT_EQ(merged.Value("RetryAfterUntil"), "2030-01-01T00:00:00Z");
  EXPECT_EQ(early.HighestSerial(), 300u);
  // The copy before the last save: late's alone.
  const TUpdateState previous =
      Load(file + kPreviousStateSuffix, "BrixaUpdater", TStateLoad::slLoaded);
  EXPECT_EQ(previous.HighestSerial(), 300u);
  EXPECT_FALSE(previous.Value("RetryAfterUntil").has_value());
}

TEST(UpdateState, SavesEveryProductAndKeepsKeysItDoesNotKnow) {
  test::TempDir dir;
  const std::string file = dir.Path("state.ini");
  test::WriteFileText(file, kStateFileHeader +
                                std::string("[Other]\nHighestSerial=5\n[BrixaUpdater]\n"
                                            "RolloutBucket=42\n") +
                                kStateFileTrailer);
  TUpdateState state = Load(file, "BrixaUpdater", TStateLoad::slLoaded);
  state.SetHighestSerial(9999999999999999999u);
  state.Save();
  EXPECT_FALSE(std::filesystem::exists(file + ".new"));

  const TUpdateState again = Load(file, "BrixaUpdater", TStateLoad::slLoaded);
  EXPECT_EQ(again.HighestSerial(), 9999999999999999999u);
  EXPECT_EQ(again.Value("RolloutBucket"), "42");
  EXPECT_EQ(Load(file, "Other", TStateLoad::slLoaded).HighestSerial(), 5u);
  EXPECT_THROW(state.SetValue("Bad Key", "1"), EUpdateStateError);
  EXPECT_THROW(state.SetValue("Key", "two\nlines"), EUpdateStateError);
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
}

#ifndef _WIN32
// A link planted at the state file's name is replaced, never written through.
TEST(UpdateState, SaveNeverWritesThroughALink) {
  test::TempDir dir;
  const std::string victim = dir.Path("victim.txt");
  test::WriteFileText(victim, "precious");
  const std::string file = dir.Path("state.ini");
  ASSERT_EQ(::symlink(victim.c_str(), (file + ".new").c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), file.c_str()), 0);
  TUpdateState state = Load(file, "BrixaUpdater", TStateLoad::slDamaged);
  state.SetHighestSerial(3);
  state.Save();
  EXPECT_EQ(test::ReadFileText(victim), "precious");
  EXPECT_EQ(Load(file, "BrixaUpdater", TStateLoad::slLoaded).HighestSerial(), 3u);
}
#endif

}  // namespace
}  // namespace brixa
