// Output files on POSIX: fsync before close, rename, then fsync of the folder that holds both.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output_file.h"
#include "output_folder.h"
#include "platform/core/exception.h"

namespace brixa::release {

namespace {

[[noreturn]] void RaiseWriteError(const std::string& what, int error) {
  throw EWriteError(what + ". " + std::strerror(error));
}

}  // namespace

void FlushAndClose(std::unique_ptr<TPrivateFile> file) {
  const std::string name = file->FileName();
  const int fd = static_cast<int>(file->ReleaseHandle());
  file.reset();
  const int synced = ::fsync(fd) == 0 ? 0 : errno;
  // A close that fails can still mean lost data (NFS reports write-back errors there).
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (synced != 0 || closed != 0) {
    RaiseWriteError("Cannot write file \"" + name + "\" to the disk",
                    synced != 0 ? synced : closed);
  }
}

void MoveDurably(const std::string& from, const std::string& to) {
  if (!ReplaceFileAtomically(from, to)) {
    RaiseWriteError("Cannot put \"" + from + "\" in place of \"" + to + "\"", errno);
  }
  // The new name is an entry of the folder: it is on the disk once the folder is.
  const std::string folder = FolderOf(to);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) RaiseWriteError("Cannot open folder \"" + folder + "\"", errno);
  // EINVAL: a file system that keeps no folder on a disk of its own has nothing to force.
  const int synced = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  if (synced != 0) RaiseWriteError("Cannot write folder \"" + folder + "\" to the disk", synced);
}

}  // namespace brixa::release
