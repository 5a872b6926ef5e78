// Memory and file streams: reading, writing, seeking, truncating and deleting.

#include "platform/core/stream.h"

#include <gtest/gtest.h>

#include "platform/core/exception.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

TEST(StreamTest, MemoryStreamReadsWritesSeeksAndShrinks) {
  TMemoryStream s;
  s.WriteBuffer("hello world", 11);
  EXPECT_EQ(s.Size(), 11);
  s.SetPosition(6);
  char word[6] = {};
  EXPECT_EQ(s.Read(word, 10), 5);
  EXPECT_STREQ(word, "world");
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.DataString(), "hello");
  s.Seek(-2, TSeekOrigin::soEnd);
  EXPECT_THROW(s.ReadBuffer(word, 3), EReadError);
}

TEST(StreamTest, FileStreamCreateTruncatesAndDeleteReports) {
  test::TempDir dir;
  const std::string path = dir.Path("f.bin");
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("0123456789", 10);
  }
  {
    TFileStream f(path, fmCreate);  // create mode empties an existing file
    EXPECT_EQ(f.Size(), 0);
    f.WriteBuffer("ab", 2);
  }
  {
    TFileStream f(path, fmOpenRead | fmShareDenyWrite);
    char buf[4] = {};
    EXPECT_EQ(f.Read(buf, 4), 2);
    EXPECT_STREQ(buf, "ab");
  }
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(RemoveFile(path));
  EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(dir.Path("no/such/dir/x"), fmCreate), EFCreateError);
}

}  // namespace
}  // namespace brixa
