#pragma once
// The interface a GUI backend implements (native windows, progress bars, message boxes, the
// message loop) and the platform's default choice. Each backend declares its own factory
// (console_backend.h, fltk_backend_unix.h, win32_backend_windows.h).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gui/gui.h"

namespace brixa {

// What a backend needs to make a form's native window.
struct TWindowParams {
  std::string Caption;
  TFormBorderStyle BorderStyle = bsSizeable;
  TBorderIcons BorderIcons = 0;
  TFormStyle FormStyle = fsNormal;
  bool OnTaskBar = false;
  int Left = 0;
  int Top = 0;
  int ClientWidth = 0;
  int ClientHeight = 0;
  TColor Color = clBtnFace;
  TFont Font;
};

struct TOuterSize {
  int Width = 0;
  int Height = 0;
};

// A native progress bar. It lives inside its window: the form destroys it before the window.
class TNativeProgressBar {
 public:
  virtual ~TNativeProgressBar() = default;
  // Range and position in one step, so no state between two of them is ever drawn.
  virtual void Update(int min, int max, int position) = 0;
};

// A native top-level window.
class TNativeWindow {
 public:
  virtual ~TNativeWindow() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void MoveTo(int left, int top) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // The outer size as the window system reports it.
  [[nodiscard]] virtual TOuterSize OuterSize() const = 0;
  [[nodiscard]] virtual std::uintptr_t Handle() const = 0;
  [[nodiscard]] virtual std::unique_ptr<TNativeProgressBar> AddProgressBar(int left, int top,
                                                                           int width,
                                                                           int height) = 0;
};

// One GUI toolkit. A backend runs on the main thread; while it exists, it wakes its own loop
// for main-thread calls queued by other threads (SetMainThreadWakeHook), and every loop it
// runs, modal ones included, serves those calls.
class TGuiBackend {
 public:
  virtual ~TGuiBackend() = default;
  [[nodiscard]] virtual const char* Name() const noexcept = 0;
  [[nodiscard]] virtual int ScreenWidth() = 0;
  [[nodiscard]] virtual int ScreenHeight() = 0;
  // The outer size a window made from `params` will have.
  [[nodiscard]] virtual TOuterSize OuterSizeFor(const TWindowParams& params) = 0;
  [[nodiscard]] virtual std::unique_ptr<TNativeWindow> NewWindow(const TWindowParams& params) = 0;
  // Handles every pending message, then every queued main-thread call, and returns.
  virtual void ProcessMessages() = 0;
  // Blocks until a message or a main-thread call arrives, or `timeout` passes.
  virtual void WaitForMessages(std::chrono::milliseconds timeout) = 0;
  virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
};

// The platform's usual choice (see TApplication::Initialize): the Win32 backend on Windows;
// elsewhere the FLTK backend when a display opens, else the console backend.
[[nodiscard]] std::unique_ptr<TGuiBackend> NewDefaultGuiBackend();

}  // namespace brixa
