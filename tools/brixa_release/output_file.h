#pragma once
// TOutputFile: a file brixa-release writes, made the way the updater makes its own files.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/files/private_file.h"

namespace brixa::release {

// One file of the tool's output. The bytes go to a fresh private file beside the final name
// (`name` + ".new": whatever had that name is removed, the file is created exclusively and never
// through a link); Commit forces them onto the disk and then moves the file over `name` in one
// step, so what was at `name` (a file, a link to someone else's file, a second name of one) is
// replaced as an entry and never written into. Without Commit the fresh file is removed again
// and `name` stays as it was. Raises EFCreateError / EWriteError when the system refuses.
class TOutputFile {
 public:
  explicit TOutputFile(std::string name);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  void Write(const void* data, std::size_t size);
  void Commit();

 private:
  std::string name_;
  std::string fresh_;
  std::unique_ptr<TPrivateFile> file_;  // empty once committed
};

}  // namespace brixa::release
