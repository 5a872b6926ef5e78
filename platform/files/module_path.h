#pragma once
// The program's own file name, and splitting paths into directory, name and extension.

#include <cstddef>
#include <string>

namespace brixa {

// The classic path buffer size of the platform's file-name queries, terminating zero included.
inline constexpr std::size_t kMaxPath = 260;

// The program's own file as the platform's module-file-name query writes it into a buffer of
// `bufferSize` bytes: a path that does not fit is cut to bufferSize - 1 bytes (the query's own
// rule on Windows; the same rule applied to /proc/self/exe on Linux). "" when bufferSize is 0
// or the system cannot tell.
[[nodiscard]] std::string ModuleFileName(std::size_t bufferSize = kMaxPath);

// The program's own file, full length: what the runtime reports as argument zero.
[[nodiscard]] std::string ProgramFileName();

// The directory part of `path` with its final separator ("" when it has none). The platform's
// separator itself is SystemPathDelimiter() (platform/system/system_info.h).
[[nodiscard]] std::string ExtractFilePath(const std::string& path);

// A path cut into parts as the C runtime's path splitter does: Drive ("C:"; always empty on
// POSIX), Dir (ending in a separator, or empty), Name, and Ext (from the last dot of the final
// part, dot included).
struct TPathParts {
  std::string Drive;
  std::string Dir;
  std::string Name;
  std::string Ext;
};
[[nodiscard]] TPathParts SplitPath(const std::string& path);

}  // namespace brixa
