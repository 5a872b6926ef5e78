// The rollback state: loaded strictly, saved through a private file, other keys kept.
#include "update/state/state_file.h"

#include <gtest/gtest.h>

#include <filesystem>

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

TEST(UpdateState, MissingLoadedOrDamaged) {
  test::TempDir dir;
  const std::string file = dir.Path("state.ini");
  EXPECT_FALSE(Load(file, "BrixaUpdater", TStateLoad::slMissing).HighestSerial().has_value());

  const struct {
    const char* what;
    std::string text;
    TStateLoad how;
  } cases[] = {
      {"written by the updater", "# c\n[BrixaUpdater]\nHighestSerial=12\n", TStateLoad::slLoaded},
      {"blank lines and CRLF", "\r\n[BrixaUpdater]\r\nHighestSerial=12\r\n\n",
       TStateLoad::slLoaded},
      {"a key before any section", "HighestSerial=12\n", TStateLoad::slDamaged},
      {"a line without '='", "[BrixaUpdater]\nHighestSerial\n", TStateLoad::slDamaged},
      {"an odd key", "[BrixaUpdater]\nHighest Serial=1\n", TStateLoad::slDamaged},
      {"a cut section line", "[BrixaUpdater\nHighestSerial=1\n", TStateLoad::slDamaged},
      {"too large", "[BrixaUpdater]\n" + std::string(kMaxStateFileBytes, '#'),
       TStateLoad::slDamaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFileText(file, c.text);
    const TUpdateState state = Load(file, "BrixaUpdater", c.how);
    EXPECT_EQ(state.HighestSerial().has_value(), c.how == TStateLoad::slLoaded);
  }
}

TEST(UpdateState, SavesEveryProductAndKeepsKeysItDoesNotKnow) {
  test::TempDir dir;
  const std::string file = dir.Path("state.ini");
  test::WriteFileText(file, "[Other]\nHighestSerial=5\n[BrixaUpdater]\nRolloutBucket=42\n");
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
