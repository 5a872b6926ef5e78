#pragma once
// Helpers of the GUI tests: a backend installed for one test, captured console output, and a
// form with a progress bar.

#include <cstdio>
#include <memory>
#include <string>

#include "platform/gui/console_backend.h"
#include "platform/gui/gui.h"
#include "support/temp_dir.h"

namespace brixa::test {

// Installs a backend for one test; afterwards frees the forms the application made and puts
// the console backend (on stderr) back.
class BackendScope {
 public:
  explicit BackendScope(std::unique_ptr<TGuiBackend> backend) {
    Application().InitializeWith(std::move(backend));
  }
  ~BackendScope() {
    Application().DestroyForms();
    Application().InitializeWith(NewConsoleGuiBackend());
  }
  BackendScope(const BackendScope&) = delete;
  BackendScope& operator=(const BackendScope&) = delete;
};

// A file standing in for stderr. Declare it before the BackendScope that writes to it.
class CapturedOutput {
 public:
  CapturedOutput() : path_(dir_.Path("console.txt")), file_(std::fopen(path_.c_str(), "w+b")) {}
  ~CapturedOutput() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  [[nodiscard]] std::FILE* File() const noexcept { return file_; }
  [[nodiscard]] std::string Text() const {
    std::fflush(file_);
    return ReadFileText(path_);
  }

 private:
  TempDir dir_;
  std::string path_;
  std::FILE* file_;
};

// The updater's window as a plain form: dialog border without a close box, always on top,
// a 305 x 41 client area filled by one progress bar with maximum 0.
struct ProgressForm {
  static constexpr int kClientWidth = 305;
  static constexpr int kClientHeight = 41;

  explicit ProgressForm(TForm& form) : bar(new TProgressBar(&form)) {  // owned by the form
    form.SetCaption("BrixaUpdater");
    form.SetBorderStyle(bsDialog);
    form.SetBorderIcons(biMinimize | biMaximize);
    form.SetFormStyle(fsStayOnTop);
    form.SetClientWidth(kClientWidth);
    form.SetClientHeight(kClientHeight);
    form.SetAutoSize(true);
    bar->SetParent(&form);
    bar->SetBounds(0, 0, kClientWidth, kClientHeight);
    bar->SetDoubleBuffered(true);
    bar->SetMax(0);
  }
  // Centred with signed division that rounds toward zero.
  static void Centre(TForm& form) {
    form.SetLeft((Screen().Width() - form.Width()) / 2);
    form.SetTop((Screen().Height() - form.Height()) / 2);
  }

  TProgressBar* bar;
};

}  // namespace brixa::test
