// Output files on Windows: FlushFileBuffers before close, a move that writes through.

#include <windows.h>

#include "output_file.h"
#include "platform/core/exception.h"
#include "platform/core/system_error.h"

namespace brixa::release {

void FlushAndClose(std::unique_ptr<TPrivateFile> file) {
  const std::string name = file->FileName();
  const HANDLE handle = reinterpret_cast<HANDLE>(file->ReleaseHandle());
  file.reset();
  const DWORD flushed = ::FlushFileBuffers(handle) ? ERROR_SUCCESS : ::GetLastError();
  ::CloseHandle(handle);
  if (flushed != ERROR_SUCCESS) {
    throw EWriteError("Cannot write file \"" + name + "\" to the disk. " +
                      SystemErrorText(flushed));
  }
}

void MoveDurably(const std::string& from, const std::string& to) {
  // The move of an entry, never of what a link at `to` points to; it returns once on the disk.
  if (!::MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw EWriteError("Cannot put \"" + from + "\" in place of \"" + to + "\". " +
                      SystemErrorText(::GetLastError()));
  }
}

}  // namespace brixa::release
