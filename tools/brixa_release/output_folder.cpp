// Output folders: the nearest existing one checked before anything below it is made.

#include "output_folder.h"

#include <filesystem>
#include <vector>

#include "platform/files/secure_path.h"

namespace brixa::release {

namespace {

namespace fs = std::filesystem;

void RequireSecure(const fs::path& folder) {
  std::string why;
  if (!IsSecurePath(folder.string(), why)) {
    throw EUnsafeOutputFolder("refusing to write into " + folder.string() + ": " + why +
                              " (another user could swap the files written there)");
  }
}

// "release/" and "release" alike; "" is the current folder.
fs::path Normal(const std::string& folder) {
  fs::path path = fs::path(folder).lexically_normal();
  if (path.empty()) return ".";
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

}  // namespace

std::string FolderOf(const std::string& fileName) {
  const fs::path folder = fs::path(fileName).parent_path();
  return folder.empty() ? std::string(".") : folder.string();
}

void PrepareOutputFolder(const std::string& folder, bool create) {
  const fs::path target = Normal(folder);
  std::vector<fs::path> missing;  // deepest first
  fs::path existing = target;
  // A dangling link counts as there: IsSecurePath refuses what it cannot resolve.
  while (create && !fs::exists(fs::symlink_status(existing))) {
    missing.push_back(existing);
    fs::path up = existing.parent_path();
    if (up.empty()) up = ".";
    if (up == existing) break;
    existing = up;
  }
  RequireSecure(existing);
  if (missing.empty()) return;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    fs::create_directory(*it);
    // Whatever the umask: a folder others may write would fail the check below.
    fs::permissions(*it, fs::perms::owner_all, fs::perm_options::replace);
  }
  RequireSecure(target);
}

}  // namespace brixa::release
