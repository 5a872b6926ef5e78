// Loading a system library, failed loads with the system's reason, and single ownership of each
// load.

#include "platform/library/dynamic_library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace brixa {
namespace {

// A library every process of the platform already has, and one of its exports.
#ifdef _WIN32
constexpr char kSystemLibrary[] = "kernel32.dll";
constexpr char kExport[] = "lstrlenA";
using LengthFn = int(__stdcall*)(const char*);
#else
constexpr char kSystemLibrary[] = "libc.so.6";
constexpr char kExport[] = "strlen";
using LengthFn = std::size_t (*)(const char*);
#endif

TEST(DynamicLibraryTest, LoadsASystemLibraryAndCallsAnExportThroughItsOwnPrototype) {
  TDynamicLibrary library;
  ASSERT_TRUE(library.Load(kSystemLibrary)) << library.ErrorText();
  EXPECT_TRUE(library.Loaded());
  const auto length = library.Function<LengthFn>(kExport);
  ASSERT_NE(length, nullptr);
  EXPECT_EQ(length("seven c"), 7);
  EXPECT_EQ(library.Symbol("brixa_no_such_export"), nullptr);
}

TEST(DynamicLibraryTest, AFailedLoadLeavesItEmptyWithTheSystemsReason) {
  TDynamicLibrary library;
  ASSERT_TRUE(library.Load(kSystemLibrary));
  // A failed load replaces what the object held: no half-state with the old handle.
  EXPECT_FALSE(library.Load("brixa-no-such-library.so.9"));
  EXPECT_FALSE(library.Loaded());
  EXPECT_EQ(library.Symbol(kExport), nullptr);
  EXPECT_FALSE(library.ErrorText().empty());
  EXPECT_EQ(library.ErrorText().find('\n'), std::string::npos);
}

// A name with a folder part that is not absolute would be looked for from the current folder:
// refused before the system is asked, whether or not such a file exists there.
TEST(DynamicLibraryTest, ARelativePathIsRefused) {
#ifdef _WIN32
  const char* const relative[] = {".\\kernel32.dll", "sub\\x.dll", "C:kernel32.dll",
                                  "./kernel32.dll"};
#else
  const char* const relative[] = {"./libc.so.6", "lib/libc.so.6", "../libc.so.6"};
#endif
  for (const char* name : relative) {
    TDynamicLibrary library;
    EXPECT_FALSE(library.Load(name)) << name;
    EXPECT_FALSE(library.Loaded());
    EXPECT_NE(library.ErrorText().find("absolute path"), std::string::npos) << name;
  }
  EXPECT_TRUE(IsBareLibraryName(kSystemLibrary));
  EXPECT_FALSE(IsBareLibraryName(""));
}

TEST(DynamicLibraryTest, OwnershipMovesAndEachLoadIsFreedOnce) {
  TDynamicLibrary first;
  ASSERT_TRUE(first.Load(kSystemLibrary));
  void* const handle = first.Handle();
  TDynamicLibrary second = std::move(first);
  EXPECT_FALSE(first.Loaded());  // NOLINT(bugprone-use-after-move): the moved-from state is part of
                                 // the contract
  EXPECT_EQ(second.Handle(), handle);
  TDynamicLibrary third;
  third = std::move(second);
  EXPECT_EQ(third.Handle(), handle);
  third.Free();
  EXPECT_FALSE(third.Loaded());
  third.Free();  // freeing an empty object is harmless
}

TEST(DynamicLibraryTest, TheProgramDirectoryHoldsTheRunningProgram) {
  const std::string directory = ProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_TRUE(directory.back() == '/' || directory.back() == '\\');
}

}  // namespace
}  // namespace brixa
