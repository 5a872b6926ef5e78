// Folder access by a probe file: the folder's access list decides, as it will for the download.

#include <windows.h>

#include <string>

#include "platform/files/folder_access.h"

namespace brixa {

bool FolderWritable(const std::string& folder) {
  std::string probe = folder;
  if (!probe.empty() && probe.back() != '\\' && probe.back() != '/') probe += '\\';
  probe += ".brixa-probe-" + std::to_string(::GetCurrentProcessId());
  const HANDLE h = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

}  // namespace brixa
