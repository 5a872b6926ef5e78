// Replacing a private file so that a crash leaves the old or the new one, whole.

#include "platform/files/private_file.h"

#include "platform/core/exception.h"

namespace brixa {

namespace {

constexpr const char* kNewFileSuffix = ".new";

}  // namespace

void WritePrivateFileDurably(const std::string& fileName, std::string_view bytes) {
  const std::string fresh = fileName + kNewFileSuffix;
  try {
    auto file = TPrivateFile::Create(fresh);
    file->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    file->Flush();
  } catch (const Exception&) {
    (void)RemoveFile(fresh);
    throw;
  }
  if (!ReplaceFileAtomically(fresh, fileName)) {
    (void)RemoveFile(fresh);
    throw EFCreateError("Cannot replace file \"" + fileName + "\".");
  }
}

}  // namespace brixa
