// The moves of TDynamicLibrary and ProgramDirectory; loading itself is in the _unix and _windows
// files.

#include "platform/library/dynamic_library.h"

#include <utility>

#include "platform/files/module_path.h"

namespace brixa {

TDynamicLibrary::~TDynamicLibrary() {
  Free();
}

TDynamicLibrary::TDynamicLibrary(TDynamicLibrary&& other) noexcept
    : FHandle(std::exchange(other.FHandle, nullptr)),
      FErrorCode(other.FErrorCode),
      FErrorText(std::move(other.FErrorText)) {}

TDynamicLibrary& TDynamicLibrary::operator=(TDynamicLibrary&& other) noexcept {
  if (this != &other) {
    Free();
    FHandle = std::exchange(other.FHandle, nullptr);
    FErrorCode = other.FErrorCode;
    FErrorText = std::move(other.FErrorText);
  }
  return *this;
}

bool IsBareLibraryName(const std::string& AFileName) noexcept {
  return !AFileName.empty() && AFileName.find_first_of("/\\:") == std::string::npos;
}

std::string ProgramDirectory() {
  return ExtractFilePath(ProgramFileName());
}

}  // namespace brixa
