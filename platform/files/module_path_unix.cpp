// Module file name from /proc/self/exe, and POSIX path splitting.

#include <limits.h>
#include <unistd.h>

#include <vector>

#include "platform/files/module_path.h"

namespace brixa {

namespace {

// /proc/self/exe names the running binary; PATH_MAX bounds what the kernel returns for it.
std::string ReadSelfExe() {
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace

std::string ModuleFileName(std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  std::string path = ReadSelfExe();
  if (path.size() > bufferSize - 1) path.resize(bufferSize - 1);
  return path;
}

std::string ProgramFileName() {
  return ReadSelfExe();
}

std::string ExtractFilePath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

TPathParts SplitPath(const std::string& path) {
  TPathParts parts;
  parts.Dir = ExtractFilePath(path);
  const std::string file = path.substr(parts.Dir.size());
  const std::size_t dot = file.rfind('.');
  parts.Name = dot == std::string::npos ? file : file.substr(0, dot);
  parts.Ext = dot == std::string::npos ? std::string() : file.substr(dot);
  return parts;
}

}  // namespace brixa
