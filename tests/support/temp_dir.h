#pragma once
// TempDir: a scratch directory for one test, removed with its contents afterwards.

#include <string>

namespace brixa::test {

// A fresh directory under the system's temp dir, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::string& Root() const noexcept { return root_; }
  // `name` joined to the directory with the platform's separator.
  [[nodiscard]] std::string Path(const std::string& name) const;

 private:
  std::string root_;
};

// Whole contents of a file ("" when missing); writes a file, creating or truncating it.
[[nodiscard]] std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

}  // namespace brixa::test
