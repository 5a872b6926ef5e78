// The program's own file name, cut to the buffer, and path splitting.

#include "platform/files/module_path.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system/system_info.h"

namespace brixa {
namespace {

TEST(ModulePathTest, NamesThisProgramAndCutsToTheBuffer) {
  const std::string full = ProgramFileName();
  ASSERT_FALSE(full.empty());
  EXPECT_TRUE(std::filesystem::exists(full)) << full;
  EXPECT_EQ(std::filesystem::path(full).stem().string(), "unit_tests");

  const std::string module = ModuleFileName();
  EXPECT_EQ(module, full.substr(0, kMaxPath - 1));
  EXPECT_EQ(ModuleFileName(12), full.substr(0, 11));
  EXPECT_EQ(ModuleFileName(1), "");
  EXPECT_EQ(ModuleFileName(0), "");

  const TPathParts parts = SplitPath(module);
  EXPECT_EQ(parts.Drive + parts.Dir, ExtractFilePath(module));
  EXPECT_EQ(parts.Drive + parts.Dir + parts.Name + parts.Ext, module);
  EXPECT_EQ(parts.Dir.back(), SystemPathDelimiter());
}

struct SplitCase {
  const char* path;
  const char* drive;
  const char* dir;
  const char* name;
  const char* ext;
};

TEST(ModulePathTest, SplitsPathsAsTheRuntimeSplitterDoes) {
#ifdef _WIN32
  const SplitCase cases[] = {
      {"C:\\Program Files\\Brixa\\BrixaUpdater.exe", "C:", "\\Program Files\\Brixa\\",
       "BrixaUpdater", ".exe"},
      {"D:relative\\x.tar.gz", "D:", "relative\\", "x.tar", ".gz"},
      {"C:/mixed/slashes/file", "C:", "/mixed/slashes/", "file", ""},
      {"\\\\server\\share\\a.ini", "", "\\\\server\\share\\", "a", ".ini"},
      {"noext", "", "", "noext", ""},
      {"C:\\dir.d\\", "C:", "\\dir.d\\", "", ""},
  };
#else
  const SplitCase cases[] = {
      {"/opt/brixa/BrixaUpdater", "", "/opt/brixa/", "BrixaUpdater", ""},
      {"relative/x.tar.gz", "", "relative/", "x.tar", ".gz"},
      {"/dir.d/", "", "/dir.d/", "", ""},
      {"C:\\not\\a\\drive.exe", "", "", "C:\\not\\a\\drive", ".exe"},
      {"/home/u/.hidden", "", "/home/u/", "", ".hidden"},
      {"noext", "", "", "noext", ""},
  };
#endif
  for (const SplitCase& c : cases) {
    const TPathParts p = SplitPath(c.path);
    EXPECT_EQ(p.Drive, c.drive) << c.path;
    EXPECT_EQ(p.Dir, c.dir) << c.path;
    EXPECT_EQ(p.Name, c.name) << c.path;
    EXPECT_EQ(p.Ext, c.ext) << c.path;
  }
}

}  // namespace
}  // namespace brixa
