#pragma once
// TPrivateFile: a file only this user can open, created so that no link is ever followed.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/stream.h"

namespace brixa {

// A file the updater writes (the downloaded installer, its state, its log), open for reading
// and writing.
//   - Linux: an old entry of that name is removed first (never written through), then the file
//     is created with O_CREAT | O_EXCL | O_NOFOLLOW and mode 0600 whatever the umask; a name
//     that reappears in between makes the creation fail rather than open someone else's file.
//   - Windows: CREATE_NEW (which does not follow a reparse point at the name) with a DACL that
//     grants the user alone, and no sharing but reading.
// Raises EFCreateError with the system's reason when the file cannot be had.
class TPrivateFile : public TStream {
 public:
  [[nodiscard]] static std::unique_ptr<TPrivateFile> Create(const std::string& fileName);
  // An existing file for appending when it is a plain file of this user with one name and no
  // link at the name; otherwise it is replaced by a new private file (Create).
  [[nodiscard]] static std::unique_ptr<TPrivateFile> OpenForAppend(const std::string& fileName);
  ~TPrivateFile() override;
  TPrivateFile(const TPrivateFile&) = delete;
  TPrivateFile& operator=(const TPrivateFile&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }
  // Waits until what was written is on the disk (fsync / FlushFileBuffers), so a crash after
  // it cannot leave the file empty or full of zeros. Raises EFCreateError when the system
  // cannot.
  void Flush();

  // Hands the open handle (HANDLE on Windows, descriptor elsewhere) to the caller, who closes
  // it; the stream is unusable afterwards.
  [[nodiscard]] std::intptr_t ReleaseHandle() noexcept;

 private:
  TPrivateFile(std::string fileName, std::intptr_t handle) noexcept
      : fileName_(std::move(fileName)), handle_(handle) {}

  std::string fileName_;
  std::intptr_t handle_;
};

// Moves `from` over `to` in one step (both in one folder) and waits until the folder's new
// entry is on the disk (Linux: the folder is synced; Windows: MOVEFILE_WRITE_THROUGH); false
// when the system refuses the move. Flush `from` first, or a crash may leave the new name on
// a file whose bytes never reached the disk.
[[nodiscard]] bool ReplaceFileAtomically(const std::string& from, const std::string& to);

// Replaces `fileName` with a private file holding `bytes`: written to "<fileName>.new"
// (Create), flushed, and moved over the old one (ReplaceFileAtomically), so a crash at any
// point leaves the old file or the new one, whole. Raises EFCreateError naming the file.
void WritePrivateFileDurably(const std::string& fileName, std::string_view bytes);

}  // namespace brixa
