// Module file name from GetModuleFileNameA, and path splitting with drives and both separators.

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/files/module_path.h"

namespace brixa {

namespace {

// Long-path aware systems allow this many characters; the query never needs more.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::string ModuleFileName(std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  std::vector<char> buffer(bufferSize, '\0');
  // A path that does not fit is cut; older systems (and Wine) then fill the whole buffer and
  // leave out the terminating zero, so the length is bounded here rather than by a zero.
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(bufferSize));
  return std::string(buffer.data(), std::min<std::size_t>(length, bufferSize - 1));
}

std::string ProgramFileName() {
  std::vector<char> buffer(kLongestPath, '\0');
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), kLongestPath);
  return std::string(buffer.data(), length < kLongestPath ? length : 0);
}

std::string ExtractFilePath(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

TPathParts SplitPath(const std::string& path) {
  // Each part gets its own buffer of the classic size, as the callers of the splitter do.
  char drive[kMaxPath] = {};
  char dir[kMaxPath] = {};
  char name[kMaxPath] = {};
  char ext[kMaxPath] = {};
  if (_splitpath_s(path.c_str(), drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext,
                   sizeof ext) != 0) {
    return {};  // a part longer than its buffer: the splitter reports it and fills nothing
  }
  return TPathParts{drive, dir, name, ext};
}

}  // namespace brixa
