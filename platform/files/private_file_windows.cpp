// Private files with CREATE_NEW and a DACL that grants the user alone.

#include <windows.h>

#include <vector>

#include "platform/core/exception.h"
#include "platform/core/system_error.h"
#include "platform/files/private_file.h"
#include "platform/files/user_sid_windows.h"

namespace brixa {

namespace {

constexpr std::intptr_t kNoHandle = 0;

HANDLE Handle(std::intptr_t handle) noexcept {
  return reinterpret_cast<HANDLE>(handle);
}

[[noreturn]] void RaiseCreateError(const std::string& fileName, DWORD error) {
  throw EFCreateError("Cannot create file \"" + fileName + "\". " + SystemErrorText(error));
}

// The security descriptor of a file that only the current user may open: a protected DACL
// with one entry, full access for the user's own SID.
class TOwnerOnlySecurity {
 public:
  TOwnerOnlySecurity() {
    if (!user_.Valid()) return;
    PSID sid = user_.Sid();
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    ok_ = ::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
          ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
          ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
          ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  [[nodiscard]] SECURITY_ATTRIBUTES* Attributes() noexcept { return ok_ ? &attributes_ : nullptr; }

 private:
  TUserSid user_;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ok_ = false;
};

}  // namespace

std::unique_ptr<TPrivateFile> TPrivateFile::Create(const std::string& fileName) {
  TOwnerOnlySecurity security;
  if (security.Attributes() == nullptr) RaiseCreateError(fileName, ::GetLastError());
  (void)::DeleteFileA(fileName.c_str());
  const HANDLE h = ::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 security.Attributes(), CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseCreateError(fileName, ::GetLastError());
  return std::unique_ptr<TPrivateFile>(
      new TPrivateFile(fileName, reinterpret_cast<std::intptr_t>(h)));
}

std::unique_ptr<TPrivateFile> TPrivateFile::OpenForAppend(const std::string& fileName) {
  const HANDLE h =
      ::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
        info.nNumberOfLinks == 1) {
      std::unique_ptr<TPrivateFile> file(
          new TPrivateFile(fileName, reinterpret_cast<std::intptr_t>(h)));
      (void)file->Seek(0, TSeekOrigin::soEnd);
      return file;
    }
    ::CloseHandle(h);
  }
  return Create(fileName);
}

TPrivateFile::~TPrivateFile() {
  if (handle_ != kNoHandle) ::CloseHandle(Handle(handle_));
}

std::int64_t TPrivateFile::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    const std::int64_t left = count - done;
    const DWORD want = left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!::ReadFile(Handle(handle_), out + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

std::int64_t TPrivateFile::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    const std::int64_t left = count - done;
    const DWORD want = left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left);
    DWORD put = 0;
    if (!::WriteFile(Handle(handle_), in + done, want, &put, nullptr) || put == 0) break;
    done += put;
  }
  return done;
}

std::int64_t TPrivateFile::Seek(std::int64_t offset, TSeekOrigin origin) {
  const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(Handle(handle_), distance, &position, method)) return -1;
  return position.QuadPart;
}

void TPrivateFile::SetSize(std::int64_t size) {
  const std::int64_t at = Seek(0, TSeekOrigin::soCurrent);
  if (Seek(size, TSeekOrigin::soBeginning) != size || !::SetEndOfFile(Handle(handle_))) {
    throw EFCreateError("Cannot resize file \"" + fileName_ + "\". " +
                        SystemErrorText(::GetLastError()));
  }
  (void)Seek(at < size ? at : size, TSeekOrigin::soBeginning);
}

std::intptr_t TPrivateFile::ReleaseHandle() noexcept {
  const std::intptr_t handle = handle_;
  handle_ = kNoHandle;
  return handle;
}

void TPrivateFile::Flush() {
  if (!::FlushFileBuffers(Handle(handle_))) {
    throw EFCreateError("Cannot flush file \"" + fileName_ + "\". " +
                        SystemErrorText(::GetLastError()));
  }
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace brixa
