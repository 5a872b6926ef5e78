// The console backend, for when there is no display: each progress bar is one line redrawn on a
// stream, and message boxes are printed.

#include "platform/gui/console_backend.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/thread/main_thread_queue.h"

namespace brixa {

namespace {

// Width of the drawn bar, in characters between the brackets.
constexpr int kBarCells = 40;

// One line of text per visible window with a bar: "<caption> [#####...........]  30%".
// The line is redrawn in place (carriage return) whenever its text changes and finished with a
// line break when the window hides or a message box is printed.
class ConsoleOutput {
 public:
  explicit ConsoleOutput(std::FILE* out) : out_(out) {}

  void DrawLine(const std::string& line) {
    if (lineOpen_ && line == lastLine_) return;
    std::string padded = line;
    if (lineOpen_ && padded.size() < lastLine_.size()) {
      padded.append(lastLine_.size() - padded.size(), ' ');  // wipe the longer old line
    }
    std::fprintf(out_, "\r%s", padded.c_str());
    std::fflush(out_);
    lineOpen_ = true;
    lastLine_ = line;
  }

  void EndLine() {
    if (!lineOpen_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    lineOpen_ = false;
    lastLine_.clear();
  }

  void PrintMessage(const std::string& text, const std::string& caption) {
    EndLine();
    if (caption.empty()) {
      std::fprintf(out_, "%s\n", text.c_str());
    } else {
      std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
    }
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
  bool lineOpen_ = false;
  std::string lastLine_;
};

class ConsoleWindow;

class ConsoleProgressBar : public TNativeProgressBar {
 public:
  explicit ConsoleProgressBar(ConsoleWindow& window) : window_(window) {}
  ~ConsoleProgressBar() override;
  void Update(int min, int max, int position) override;

  // "[####......]  40%"; an empty range shows an empty bar.
  [[nodiscard]] std::string Render() const {
    const std::int64_t span = static_cast<std::int64_t>(max_) - min_;
    const std::int64_t done =
        span > 0 ? std::clamp<std::int64_t>(static_cast<std::int64_t>(position_) - min_, 0, span)
                 : 0;
    const std::int64_t cells = span > 0 ? done * kBarCells / span : 0;
    const std::int64_t percent = span > 0 ? done * 100 / span : 0;
    std::string text = "[";
    text.append(static_cast<std::size_t>(cells), '#');
    text.append(static_cast<std::size_t>(kBarCells - cells), '.');
    text += "] ";
    const std::string number = std::to_string(percent);
    text.append(3 - number.size(), ' ');
    return text + number + "%";
  }

 private:
  ConsoleWindow& window_;
  int min_ = 0;
  int max_ = 0;
  int position_ = 0;
};

class ConsoleWindow : public TNativeWindow {
 public:
  ConsoleWindow(ConsoleOutput& output, const TWindowParams& params)
      : output_(output), caption_(params.Caption), size_{params.ClientWidth, params.ClientHeight} {}
  ~ConsoleWindow() override { Hide(); }

  void SetCaption(const std::string& caption) override {
    caption_ = caption;
    Redraw();
  }
  void MoveTo(int /*left*/, int /*top*/) override {}
  void Show() override {
    visible_ = true;
    Redraw();
  }
  void Hide() override {
    if (visible_ && bar_ != nullptr) output_.EndLine();
    visible_ = false;
  }
  [[nodiscard]] TOuterSize OuterSize() const override { return size_; }
  [[nodiscard]] std::uintptr_t Handle() const override { return 0; }
  [[nodiscard]] std::unique_ptr<TNativeProgressBar> AddProgressBar(int, int, int, int) override {
    auto bar = std::make_unique<ConsoleProgressBar>(*this);
    if (bar_ == nullptr) bar_ = bar.get();  // one line per window: the first bar is drawn
    return bar;
  }

  void BarGone(const ConsoleProgressBar* bar) {
    if (bar == bar_) bar_ = nullptr;
  }

  void Redraw() {
    if (!visible_ || bar_ == nullptr) return;
    output_.DrawLine(caption_.empty() ? bar_->Render() : caption_ + " " + bar_->Render());
  }

 private:
  ConsoleOutput& output_;
  std::string caption_;
  TOuterSize size_;
  bool visible_ = false;
  const ConsoleProgressBar* bar_ = nullptr;
};

ConsoleProgressBar::~ConsoleProgressBar() {
  window_.BarGone(this);
}

void ConsoleProgressBar::Update(int min, int max, int position) {
  min_ = min;
  max_ = max;
  position_ = position;
  window_.Redraw();
}

// Without a display there are no window messages: the loop only serves main-thread calls.
class ConsoleBackend : public TGuiBackend {
 public:
  explicit ConsoleBackend(std::FILE* out) : output_(out) {}

  [[nodiscard]] const char* Name() const noexcept override { return "console"; }
  [[nodiscard]] int ScreenWidth() override { return 0; }
  [[nodiscard]] int ScreenHeight() override { return 0; }
  [[nodiscard]] TOuterSize OuterSizeFor(const TWindowParams& params) override {
    return {params.ClientWidth, params.ClientHeight};
  }
  [[nodiscard]] std::unique_ptr<TNativeWindow> NewWindow(const TWindowParams& params) override {
    return std::make_unique<ConsoleWindow>(output_, params);
  }
  void ProcessMessages() override { ProcessMainThreadCalls(); }
  void WaitForMessages(std::chrono::milliseconds timeout) override {
    WaitForMainThreadWork(timeout);
  }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    output_.PrintMessage(text, caption);
  }

 private:
  ConsoleOutput output_;
};

}  // namespace

std::unique_ptr<TGuiBackend> NewConsoleGuiBackend(std::FILE* out) {
  return std::make_unique<ConsoleBackend>(out);
}

}  // namespace brixa
