// The Win32 backend: window classes, a common-controls progress bar, and a hidden window whose
// messages wake the loop for main-thread calls.

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <cstdint>

#include "platform/core/exception.h"
#include "platform/core/system_error.h"
#include "platform/gui/win32_backend_windows.h"
#include "platform/thread/main_thread_queue.h"

namespace brixa {

namespace {

constexpr const char* kFormClass = "BrixaForm";
constexpr const char* kWakeClass = "BrixaMainThreadWake";
// Posted to the wake window when a main-thread call is queued.
constexpr UINT kWakeMessage = WM_APP + 1;

HINSTANCE Instance() {
  return ::GetModuleHandleA(nullptr);
}

DWORD StyleOf(const TWindowParams& params) {
  DWORD style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  switch (params.BorderStyle) {
    case bsNone:
      style |= WS_POPUP;
      break;
    case bsSingle:
    case bsToolWindow:
      style |= WS_CAPTION | WS_BORDER;
      break;
    case bsSizeable:
    case bsSizeToolWin:
      style |= WS_CAPTION | WS_THICKFRAME;
      break;
    case bsDialog:
      style |= WS_POPUP | WS_CAPTION | DS_MODALFRAME;
      break;
  }
  if (params.BorderStyle == bsNone) return style;
  // Without the system menu there is no close box (and Windows shows no other frame buttons).
  if ((params.BorderIcons & biSystemMenu) != 0) style |= WS_SYSMENU;
  if ((params.BorderIcons & biMinimize) != 0) style |= WS_MINIMIZEBOX;
  if ((params.BorderIcons & biMaximize) != 0 && params.BorderStyle != bsDialog)
    style |= WS_MAXIMIZEBOX;
  return style;
}

DWORD ExStyleOf(const TWindowParams& params) {
  DWORD ex = 0;
  if (params.BorderStyle == bsDialog) ex |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
  if (params.BorderStyle == bsToolWindow || params.BorderStyle == bsSizeToolWin)
    ex |= WS_EX_TOOLWINDOW;
  if (params.FormStyle == fsStayOnTop) ex |= WS_EX_TOPMOST;
  if (params.OnTaskBar) ex |= WS_EX_APPWINDOW;
  return ex;
}

RECT OuterRect(const TWindowParams& params) {
  RECT rect{0, 0, params.ClientWidth, params.ClientHeight};
  ::AdjustWindowRectEx(&rect, StyleOf(params), FALSE, ExStyleOf(params));
  return rect;
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;  // the program closes its forms itself
  return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK WakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kWakeMessage) {
    // Dispatched by whichever loop runs: ours, or a modal one such as a message box's.
    ProcessMainThreadCalls();
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

[[noreturn]] void RaiseLastError(const char* what) {
  const unsigned long code = LastSystemError();
  throw EOSError(std::string(what) + ": " + SystemErrorText(code), code);
}

class Win32ProgressBar : public TNativeProgressBar {
 public:
  explicit Win32ProgressBar(HWND bar) : bar_(bar) {}
  ~Win32ProgressBar() override { ::DestroyWindow(bar_); }

  // The control keeps its position inside its range by itself.
  void Update(int min, int max, int position) override {
    ::SendMessageA(bar_, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
    ::SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }

 private:
  HWND bar_;
};

class Win32Window : public TNativeWindow {
 public:
  explicit Win32Window(const TWindowParams& params) {
    const RECT outer = OuterRect(params);
    window_ = ::CreateWindowExA(ExStyleOf(params), kFormClass, params.Caption.c_str(),
                                StyleOf(params), params.Left, params.Top, outer.right - outer.left,
                                outer.bottom - outer.top, nullptr, nullptr, Instance(), nullptr);
    if (window_ == nullptr) RaiseLastError("Cannot create the window");
    font_ = ::CreateFontA(params.Font.Height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, params.Font.Name.c_str());
    if (font_ != nullptr) ::SendMessageA(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), 0);
  }
  ~Win32Window() override {
    ::DestroyWindow(window_);
    if (font_ != nullptr) ::DeleteObject(font_);
  }

  void SetCaption(const std::string& caption) override {
    ::SetWindowTextA(window_, caption.c_str());
  }
  void MoveTo(int left, int top) override {
    ::SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void Show() override {
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::UpdateWindow(window_);
  }
  void Hide() override { ::ShowWindow(window_, SW_HIDE); }
  [[nodiscard]] TOuterSize OuterSize() const override {
    RECT rect{};
    ::GetWindowRect(window_, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
  }
  [[nodiscard]] std::uintptr_t Handle() const override {
    return reinterpret_cast<std::uintptr_t>(window_);
  }
  [[nodiscard]] std::unique_ptr<TNativeProgressBar> AddProgressBar(int left, int top, int width,
                                                                   int height) override {
    HWND bar = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, left, top, width,
                                 height, window_, nullptr, Instance(), nullptr);
    if (bar == nullptr) RaiseLastError("Cannot create the progress bar");
    if (font_ != nullptr) ::SendMessageA(bar, WM_SETFONT, reinterpret_cast<WPARAM>(font_), 0);
    return std::make_unique<Win32ProgressBar>(bar);
  }

 private:
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
};

void RegisterClasses() {
  WNDCLASSEXA form{};
  form.cbSize = sizeof form;
  form.lpfnWndProc = FormProc;
  form.hInstance = Instance();
  form.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  form.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  form.lpszClassName = kFormClass;
  ::RegisterClassExA(&form);  // fails harmlessly when a second backend registers again
  WNDCLASSEXA wake{};
  wake.cbSize = sizeof wake;
  wake.lpfnWndProc = WakeProc;
  wake.hInstance = Instance();
  wake.lpszClassName = kWakeClass;
  ::RegisterClassExA(&wake);
}

class Win32Backend : public TGuiBackend {
 public:
  Win32Backend() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    RegisterClasses();
    wake_ = ::CreateWindowExA(0, kWakeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Instance(),
                              nullptr);
    if (wake_ == nullptr) RaiseLastError("Cannot create the message window");
    HWND wake = wake_;
    SetMainThreadWakeHook([wake] { ::PostMessageA(wake, kWakeMessage, 0, 0); });
  }
  ~Win32Backend() override {
    SetMainThreadWakeHook({});
    ::DestroyWindow(wake_);
  }

  [[nodiscard]] const char* Name() const noexcept override { return "win32"; }
  [[nodiscard]] int ScreenWidth() override { return ::GetSystemMetrics(SM_CXSCREEN); }
  [[nodiscard]] int ScreenHeight() override { return ::GetSystemMetrics(SM_CYSCREEN); }
  [[nodiscard]] TOuterSize OuterSizeFor(const TWindowParams& params) override {
    const RECT rect = OuterRect(params);
    return {rect.right - rect.left, rect.bottom - rect.top};
  }
  [[nodiscard]] std::unique_ptr<TNativeWindow> NewWindow(const TWindowParams& params) override {
    return std::make_unique<Win32Window>(params);
  }
  void ProcessMessages() override {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    ProcessMainThreadCalls();
  }
  void WaitForMessages(std::chrono::milliseconds timeout) override {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(timeout.count()), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
  // Owned by the active window (the form, which may stay on top) so the box shows above it.
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    ::MessageBoxA(::GetActiveWindow(), text.c_str(), caption.c_str(), MB_OK);
  }

 private:
  HWND wake_ = nullptr;
};

}  // namespace

std::unique_ptr<TGuiBackend> NewWin32GuiBackend() {
  return std::make_unique<Win32Backend>();
}

}  // namespace brixa
