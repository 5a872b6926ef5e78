// The FLTK backend on X11, with window-manager hints for frame and stacking.

#include "platform/gui/fltk_backend_unix.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "platform/thread/main_thread_queue.h"

namespace brixa {

namespace {

// FLTK keeps values as float; a fixed scale keeps 32-bit ranges exact enough for drawing.
constexpr float kProgressScale = 10000.0f;
constexpr double kSecondsPerMs = 0.001;

Fl_Color ColorOf(TColor color) {
  switch (color) {
    case clBtnFace:
      return fl_rgb_color(240, 240, 240);
    case clWindow:
      return fl_rgb_color(255, 255, 255);
    case clWindowText:
      return fl_rgb_color(0, 0, 0);
  }
  return FL_BACKGROUND_COLOR;
}

// The colours of a themed progress bar: green on a light trough.
const Fl_Color kBarColor = fl_rgb_color(6, 176, 37);
const Fl_Color kTroughColor = fl_rgb_color(230, 230, 230);

// Motif window-manager hints: which frame functions and decorations a window wants.
struct MotifWmHints {
  unsigned long flags;
  unsigned long functions;
  unsigned long decorations;
  long inputMode;
  unsigned long status;
};
constexpr unsigned long kMwmHintsFunctions = 1ul << 0;
constexpr unsigned long kMwmHintsDecorations = 1ul << 1;
constexpr unsigned long kMwmFuncMove = 1ul << 2;
constexpr unsigned long kMwmFuncMinimize = 1ul << 3;
constexpr unsigned long kMwmFuncMaximize = 1ul << 4;
constexpr unsigned long kMwmFuncClose = 1ul << 5;
constexpr unsigned long kMwmFuncResize = 1ul << 1;
constexpr unsigned long kMwmDecorBorder = 1ul << 1;
constexpr unsigned long kMwmDecorResizeH = 1ul << 2;
constexpr unsigned long kMwmDecorTitle = 1ul << 3;
constexpr unsigned long kMwmDecorMenu = 1ul << 4;
constexpr unsigned long kMwmDecorMinimize = 1ul << 5;
constexpr unsigned long kMwmDecorMaximize = 1ul << 6;
constexpr long kNetWmStateAdd = 1;

bool Resizable(TFormBorderStyle style) {
  return style == bsSizeable || style == bsSizeToolWin;
}

// Asks the window manager for the frame the form describes: no close function without the
// system menu, no resizing for a fixed border. Best effort: window managers may ignore hints.
void ApplyFrameHints(Window xid, const TWindowParams& params) {
  MotifWmHints hints{};
  hints.flags = kMwmHintsFunctions | kMwmHintsDecorations;
  hints.functions = kMwmFuncMove;
  hints.decorations = kMwmDecorBorder | kMwmDecorTitle;
  if ((params.BorderIcons & biSystemMenu) != 0) {
    hints.functions |= kMwmFuncClose;
    hints.decorations |= kMwmDecorMenu;
  }
  if ((params.BorderIcons & biMinimize) != 0) {
    hints.functions |= kMwmFuncMinimize;
    hints.decorations |= kMwmDecorMinimize;
  }
  if (Resizable(params.BorderStyle)) {
    hints.functions |= kMwmFuncResize;
    hints.decorations |= kMwmDecorResizeH;
    if ((params.BorderIcons & biMaximize) != 0) {
      hints.functions |= kMwmFuncMaximize;
      hints.decorations |= kMwmDecorMaximize;
    }
  }
  if (params.BorderStyle == bsNone) hints.decorations = 0;
  const Atom atom = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, xid, atom, atom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&hints), sizeof hints / sizeof(long));
}

// Stays above other windows: the state property for a window manager that reads it when it
// manages the window, and the request message for one that already does.
void ApplyStayOnTop(Window xid) {
  const Atom state = XInternAtom(fl_display, "_NET_WM_STATE", False);
  Atom above = XInternAtom(fl_display, "_NET_WM_STATE_ABOVE", False);
  XChangeProperty(fl_display, xid, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&above), 1);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xid;
  event.xclient.message_type = state;
  event.xclient.format = 32;
  event.xclient.data.l[0] = kNetWmStateAdd;
  event.xclient.data.l[1] = static_cast<long>(above);
  event.xclient.data.l[3] = 1;  // from a normal application
  XSendEvent(fl_display, DefaultRootWindow(fl_display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

class FltkProgressBar : public TNativeProgressBar {
 public:
  FltkProgressBar(Fl_Group& window, Fl_Progress* bar) : window_(window), bar_(bar) {}
  ~FltkProgressBar() override {
    window_.remove(bar_);
    delete bar_;
  }

  void Update(int min, int max, int position) override {
    const std::int64_t span = static_cast<std::int64_t>(max) - min;
    const double fraction =
        span > 0 ? static_cast<double>(static_cast<std::int64_t>(position) - min) / span : 0.0;
    bar_->value(static_cast<float>(std::clamp(fraction, 0.0, 1.0)) * kProgressScale);
  }

 private:
  Fl_Group& window_;
  Fl_Progress* bar_;  // a child of window_ until this object removes it
};

void IgnoreCloseRequest(Fl_Widget*, void*) {}

class FltkWindow : public TNativeWindow {
 public:
  explicit FltkWindow(const TWindowParams& params)
      : spec_(params),
        window_(std::make_unique<Fl_Double_Window>(params.Left, params.Top, params.ClientWidth,
                                                   params.ClientHeight)) {
    window_->end();
    window_->copy_label(params.Caption.c_str());
    window_->color(ColorOf(params.Color));
    window_->callback(IgnoreCloseRequest);  // Escape and the frame's close button
    window_->border(params.BorderStyle == bsNone ? 0 : 1);
    if (!Resizable(params.BorderStyle)) {
      window_->size_range(params.ClientWidth, params.ClientHeight, params.ClientWidth,
                          params.ClientHeight);
    }
  }
  ~FltkWindow() override { window_->hide(); }

  void SetCaption(const std::string& caption) override { window_->copy_label(caption.c_str()); }
  void MoveTo(int left, int top) override { window_->position(left, top); }
  void Show() override {
    window_->show();
    const Window xid = fl_xid(window_.get());
    if (xid == 0) return;
    ApplyFrameHints(xid, spec_);
    if (spec_.FormStyle == fsStayOnTop) ApplyStayOnTop(xid);
    XFlush(fl_display);
  }
  void Hide() override { window_->hide(); }
  [[nodiscard]] TOuterSize OuterSize() const override {
    if (!window_->shown()) return {window_->w(), window_->h()};
    return {window_->decorated_w(), window_->decorated_h()};
  }
  [[nodiscard]] std::uintptr_t Handle() const override {
    return window_->shown() ? static_cast<std::uintptr_t>(fl_xid(window_.get())) : 0;
  }
  [[nodiscard]] std::unique_ptr<TNativeProgressBar> AddProgressBar(int left, int top, int width,
                                                                   int height) override {
    window_->begin();
    auto* bar = new Fl_Progress(left, top, width, height);  // owned by the current group
    window_->end();
    bar->minimum(0.0f);
    bar->maximum(kProgressScale);
    bar->box(FL_THIN_DOWN_BOX);
    bar->color(kTroughColor);
    bar->selection_color(kBarColor);
    return std::make_unique<FltkProgressBar>(*window_, bar);
  }

 private:
  TWindowParams spec_;
  std::unique_ptr<Fl_Double_Window> window_;
};

void ServeMainThreadCallback(void*) {
  ProcessMainThreadCalls();
}

// The X11 toolkit. Main-thread calls are served from FLTK's awake callbacks, which every
// Fl::wait runs, the modal loop of a message box included.
class FltkBackend : public TGuiBackend {
 public:
  // `display` is null when FLTK is connected already.
  explicit FltkBackend(Display* display) {
    if (display != nullptr) fl_open_display(display);
    // Enables Fl::awake from other threads. Once per process: the lock is recursive and the
    // main thread keeps holding it (Fl::wait lets go while it sleeps).
    static const bool locked = (Fl::lock(), true);
    (void)locked;
    SetMainThreadWakeHook([] {
      if (Fl::awake(ServeMainThreadCallback, nullptr) != 0) Fl::awake();  // ring full: wake only
    });
  }
  // The display stays connected for the rest of the process: FLTK keeps per-display state
  // (graphics contexts, the message box window) that does not survive a reconnection.
  ~FltkBackend() override { SetMainThreadWakeHook({}); }

  [[nodiscard]] const char* Name() const noexcept override { return "fltk"; }
  [[nodiscard]] int ScreenWidth() override { return Fl::w(); }
  [[nodiscard]] int ScreenHeight() override { return Fl::h(); }
  // The frame belongs to the window manager and is unknown until the window shows.
  [[nodiscard]] TOuterSize OuterSizeFor(const TWindowParams& params) override {
    return {params.ClientWidth, params.ClientHeight};
  }
  [[nodiscard]] std::unique_ptr<TNativeWindow> NewWindow(const TWindowParams& params) override {
    return std::make_unique<FltkWindow>(params);
  }
  void ProcessMessages() override {
    Fl::check();
    ProcessMainThreadCalls();
  }
  void WaitForMessages(std::chrono::milliseconds timeout) override {
    Fl::wait(static_cast<double>(timeout.count()) * kSecondsPerMs);
  }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    fl_message_title(caption.c_str());
    fl_close = "OK";
    fl_message("%s", text.c_str());
  }
};

}  // namespace

std::unique_ptr<TGuiBackend> NewFltkGuiBackend() {
  if (fl_display != nullptr) return std::make_unique<FltkBackend>(nullptr);
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return nullptr;
  // Opened here rather than by FLTK, which ends the process when a display does not open.
  Display* display = XOpenDisplay(name);
  if (display == nullptr) return nullptr;
  return std::make_unique<FltkBackend>(display);
}

}  // namespace brixa
