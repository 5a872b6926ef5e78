#pragma once
// TDynamicLibrary: a shared library loaded at run time and its exported symbols; ProgramDirectory.

#include <bit>
#include <string>

namespace brixa {

// A shared library loaded at run time (LoadLibraryExA / dlopen), owned by this object and freed
// when it is destroyed. Move-only: exactly one owner frees each load. The system counts loads,
// so two objects that loaded the same file each hold one reference.
//
// No load ever comes from a folder someone else may write to by chance of where the program
// was started: a bare name is a system library, looked for only where the system keeps its
// own (System32 on Windows; the loader's configured folders on POSIX, never the current
// folder or PATH), and anything else must be an absolute path. A relative path is refused.
//
// Loading never shows a dialog and never throws; a failed load leaves the object empty and
// keeps the system's error number and text for the caller's own message.
class TDynamicLibrary {
 public:
  TDynamicLibrary() noexcept = default;
  ~TDynamicLibrary();
  TDynamicLibrary(TDynamicLibrary&& other) noexcept;
  TDynamicLibrary& operator=(TDynamicLibrary&& other) noexcept;
  TDynamicLibrary(const TDynamicLibrary&) = delete;
  TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

  // Loads AFileName, a system library's bare name ("ws2_32.dll", "libcrypto.so.3") or an
  // absolute path (whose own imports come from its folder and the system's), freeing what this
  // object held before. True on success; on failure (a relative path included) the object is
  // empty and ErrorCode/ErrorText describe why.
  [[nodiscard]] bool Load(const std::string& AFileName);
  // Gives the reference back to the system; the object is empty afterwards.
  void Free() noexcept;

  [[nodiscard]] bool Loaded() const noexcept { return FHandle != nullptr; }
  [[nodiscard]] void* Handle() const noexcept { return FHandle; }

  // The address of the exported symbol AName, or nullptr when the library has none (or none is
  // loaded). The address stays valid while this object holds the library.
  [[nodiscard]] void* Symbol(const char* AName) const noexcept;

  // Symbol, typed as the function pointer Fn the caller declares for it.
  template <class Fn>
  [[nodiscard]] Fn Function(const char* AName) const noexcept {
    static_assert(sizeof(Fn) == sizeof(void*));
    return std::bit_cast<Fn>(Symbol(AName));
  }

  // The system's error number of the last failed Load (GetLastError on Windows; 0 on POSIX,
  // whose loader reports text only) and its text, without a trailing line break.
  [[nodiscard]] unsigned long ErrorCode() const noexcept { return FErrorCode; }
  [[nodiscard]] const std::string& ErrorText() const noexcept { return FErrorText; }

 private:
  void* FHandle = nullptr;
  unsigned long FErrorCode = 0;
  std::string FErrorText;
};

// Whether AFileName is a bare file name: no folder part at all.
[[nodiscard]] bool IsBareLibraryName(const std::string& AFileName) noexcept;

// The directory the running program was loaded from, with its final separator; "" when the
// system cannot tell. Libraries shipped beside the program are looked for here first.
[[nodiscard]] std::string ProgramDirectory();

}  // namespace brixa
