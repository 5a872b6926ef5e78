// The walk from a folder up to its drive's root, folder by folder, by owner and access list.

#include <aclapi.h>
#include <windows.h>

#include <string>

#include "platform/core/system_error.h"
#include "platform/files/folder_acl_windows.h"
#include "platform/files/secure_path.h"
#include "platform/files/user_sid_windows.h"

namespace brixa {

namespace {

constexpr const char* kLongPrefix = "\\\\?\\";
constexpr const char* kUncPrefix = "\\\\?\\UNC\\";

std::string Shown(const std::string& path) {
  if (path.rfind(kUncPrefix, 0) == 0) return "\\\\" + path.substr(8);
  if (path.rfind(kLongPrefix, 0) == 0) return path.substr(4);
  return path;
}

std::string FailedOn(const std::string& path, DWORD error) {
  return Shown(path) + ": " + SystemErrorText(error);
}

// The folder's path as the system resolves it (links and junctions followed), in the long
// "\\?\" form; empty with `why` set when it cannot be opened.
std::string FinalPath(const std::string& directory, std::string& why) {
  const HANDLE folder = ::CreateFileA(directory.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    why = FailedOn(directory, ::GetLastError());
    return {};
  }
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleA(folder, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) {
      why = FailedOn(directory, ::GetLastError());
      path.clear();
      break;
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length);
  }
  ::CloseHandle(folder);
  return path;
}

// Where the walk ends: the drive's root ("\\?\C:\") or the share's ("\\?\UNC\server\share\").
std::size_t RootLength(const std::string& path) {
  if (path.rfind(kUncPrefix, 0) == 0) {
    const std::size_t server = path.find('\\', 8);
    if (server == std::string::npos) return path.size();
    const std::size_t share = path.find('\\', server + 1);
    return share == std::string::npos ? path.size() : share + 1;
  }
  const std::size_t colon = path.find(':');
  return colon == std::string::npos ? path.size() : colon + 2;
}

std::string ExamineFolder(const std::string& path, PSID user, TFolderRole role) {
  const HANDLE folder = ::CreateFileA(path.c_str(), READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return FailedOn(path, ::GetLastError());
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(folder, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, &descriptor);
  ::CloseHandle(folder);
  if (error != ERROR_SUCCESS) return FailedOn(path, error);
  const std::string problem = FolderAccessProblem(descriptor, user, role);
  ::LocalFree(descriptor);
  return problem.empty() ? problem : Shown(path) + " can be changed by other users: " + problem;
}

}  // namespace

bool IsSecurePath(const std::string& directory, std::string& why) {
  why.clear();
  const TUserSid user;
  if (!user.Valid()) {
    why = "this process's user cannot be read: " + SystemErrorText(::GetLastError());
    return false;
  }
  std::string path = FinalPath(directory, why);
  if (path.empty()) return false;
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  const std::size_t root = RootLength(path + "\\");
  TFolderRole role = TFolderRole::kHoldsFiles;
  for (;;) {
    const bool atRoot = path.size() + 1 <= root;
    why = ExamineFolder(atRoot ? path + "\\" : path, user.Sid(), role);
    if (!why.empty()) return false;
    if (atRoot) return true;
    path.resize(path.rfind('\\'));
    role = TFolderRole::kAbove;
  }
}

}  // namespace brixa
