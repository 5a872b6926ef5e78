#pragma once
// The small GUI toolkit of the updater's window: application and message loop, forms, progress
// bar, message boxes and screen size, over one of three backends.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/component.h"

namespace brixa {

// The GUI toolkit the updater's window needs: an application object with a message loop,
// forms, a progress bar, message boxes and the screen size. One interface, three backends
// (platform/gui/gui_backend.h): a Win32 window, an FLTK window on X11, and a console stand-in that
// draws the progress bar on stderr when there is no usable display. Everything here belongs to
// the main thread; other threads reach it through RunOnMainThread, which every backend's loop
// serves.

using TNotifyEvent = std::function<void(TComponent* ASender)>;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

enum TBorderIcon : unsigned {
  biSystemMenu = 1u << 0,  // the system menu, and with it the close box
  biMinimize = 1u << 1,
  biMaximize = 1u << 2,
  biHelp = 1u << 3,
};
using TBorderIcons = unsigned;

enum TFormStyle { fsNormal, fsStayOnTop };

enum TColor { clBtnFace, clWindow, clWindowText };

struct TFont {
  std::string Name = "Tahoma";
  int Height = -11;  // negative: character height in pixels (8 point at 96 pixels per inch)
};

// The result of a message box's OK button.
inline constexpr int kIdOk = 1;

class TForm;
class TGuiBackend;
class TNativeWindow;
class TNativeProgressBar;

// A visible element placed on a form. Its native counterpart exists while the form's window
// exists.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner = nullptr) : TComponent(owner) {}
  // A derived control takes its native part down in its own destructor.
  ~TControl() override;

  [[nodiscard]] TForm* Parent() const noexcept { return parent_; }
  void SetParent(TForm* parent);

  [[nodiscard]] int Left() const noexcept { return left_; }
  [[nodiscard]] int Top() const noexcept { return top_; }
  [[nodiscard]] int Width() const noexcept { return width_; }
  [[nodiscard]] int Height() const noexcept { return height_; }
  // Placement takes effect when the form's window is made.
  void SetBounds(int left, int top, int width, int height);
  [[nodiscard]] int TabOrder() const noexcept { return tabOrder_; }
  void SetTabOrder(int value) noexcept { tabOrder_ = value; }
  [[nodiscard]] bool DoubleBuffered() const noexcept { return doubleBuffered_; }
  void SetDoubleBuffered(bool value) noexcept { doubleBuffered_ = value; }

 protected:
  friend class TForm;
  virtual void CreateNative(TNativeWindow& window) = 0;
  virtual void DestroyNative() = 0;

 private:
  TForm* parent_ = nullptr;
  int left_ = 0;
  int top_ = 0;
  int width_ = 150;
  int height_ = 17;
  int tabOrder_ = 0;
  bool doubleBuffered_ = false;
};

// A horizontal bar showing Position between Min and Max. Position is always kept inside the
// range: a value beyond it (or a range moved past it) is clamped, as the platform's control
// does.
class TProgressBar : public TControl {
 public:
  explicit TProgressBar(TComponent* owner = nullptr);
  ~TProgressBar() override;

  [[nodiscard]] int Min() const noexcept { return min_; }
  void SetMin(int value);
  [[nodiscard]] int Max() const noexcept { return max_; }
  void SetMax(int value);
  [[nodiscard]] int Position() const noexcept { return position_; }
  void SetPosition(int value);

 protected:
  void CreateNative(TNativeWindow& window) override;
  void DestroyNative() override;

 private:
  void Clamp() noexcept;
  void Update();

  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  std::unique_ptr<TNativeProgressBar> native_;
};

// A top-level window. Its native window is made on the first Show() and lives until the form
// is destroyed. OnCreate fires from DoCreate, which TApplication::CreateForm calls once the
// form (of whatever class) is complete. A user's request to close the window (a close box,
// Alt+F4, Escape) is ignored: the program closes its forms itself.
class TForm : public TComponent {
 public:
  explicit TForm(TComponent* owner = nullptr);
  ~TForm() override;

  [[nodiscard]] const std::string& Caption() const noexcept { return caption_; }
  void SetCaption(std::string value);
  [[nodiscard]] TFormBorderStyle BorderStyle() const noexcept { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle value) noexcept { borderStyle_ = value; }
  [[nodiscard]] TBorderIcons BorderIcons() const noexcept { return borderIcons_; }
  void SetBorderIcons(TBorderIcons value) noexcept { borderIcons_ = value; }
  [[nodiscard]] TFormStyle FormStyle() const noexcept { return formStyle_; }
  void SetFormStyle(TFormStyle value) noexcept { formStyle_ = value; }
  [[nodiscard]] TColor Color() const noexcept { return color_; }
  void SetColor(TColor value) noexcept { color_ = value; }
  [[nodiscard]] const TFont& Font() const noexcept { return font_; }
  void SetFont(TFont value) { font_ = std::move(value); }
  [[nodiscard]] bool AutoSize() const noexcept { return autoSize_; }
  void SetAutoSize(bool value) noexcept { autoSize_ = value; }
  // The client area; style and size take effect when the native window is made.
  [[nodiscard]] int ClientWidth() const noexcept { return clientWidth_; }
  void SetClientWidth(int value) noexcept { clientWidth_ = value; }
  [[nodiscard]] int ClientHeight() const noexcept { return clientHeight_; }
  void SetClientHeight(int value) noexcept { clientHeight_ = value; }
  [[nodiscard]] int Left() const noexcept { return left_; }
  void SetLeft(int value);
  [[nodiscard]] int Top() const noexcept { return top_; }
  void SetTop(int value);
  // The outer size, frame included (as far as the backend knows it before the window shows).
  [[nodiscard]] int Width() const;
  [[nodiscard]] int Height() const;

  [[nodiscard]] bool Visible() const noexcept { return visible_; }
  void Show();
  void Hide();
  // Hides the form; closing the application's main form ends the application's message loop.
  void Close();

  // The backend's window handle (HWND, X11 window id), 0 for none or the console.
  [[nodiscard]] std::uintptr_t Handle() const;

  TNotifyEvent OnCreate;
  void DoCreate();

 private:
  friend class TControl;
  void AddControl(TControl* control);
  void RemoveControl(TControl* control);
  void ForgetControl(TControl* control) noexcept;
  void CreateNativeWindow();

  std::string caption_;
  TFormBorderStyle borderStyle_ = bsSizeable;
  TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  TFormStyle formStyle_ = fsNormal;
  TColor color_ = clBtnFace;
  TFont font_;
  bool autoSize_ = false;
  int clientWidth_ = 320;
  int clientHeight_ = 240;
  int left_ = 0;
  int top_ = 0;
  bool visible_ = false;
  std::vector<TControl*> controls_;
  std::unique_ptr<TNativeWindow> native_;
};

// The application object: picks the backend, owns the forms made by CreateForm, runs the
// message loop (which also serves main-thread calls) and shows message boxes. One per process,
// reached through Application().
class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Picks the backend for this platform if none is installed: Win32 on Windows; on Linux FLTK
  // when $DISPLAY names a display that opens, else the console.
  void Initialize();
  // Installs `backend` (replacing one with no forms left on it) and starts afresh: no main
  // form, not terminated.
  void InitializeWith(std::unique_ptr<TGuiBackend> backend);
  [[nodiscard]] TGuiBackend& Backend();

  [[nodiscard]] bool MainFormOnTaskBar() const noexcept { return mainFormOnTaskBar_; }
  void SetMainFormOnTaskBar(bool value) noexcept { mainFormOnTaskBar_ = value; }
  [[nodiscard]] const std::string& Title() const noexcept { return title_; }
  void SetTitle(std::string value) { title_ = std::move(value); }

  // Makes a form owned by the application, the main form if it is the first, then fires its
  // OnCreate.
  template <class T, class... Args>
  T* CreateForm(Args&&... args) {
    T* form = new T(this, std::forward<Args>(args)...);  // owned by the application
    if (mainForm_ == nullptr) mainForm_ = form;
    form->DoCreate();
    return form;
  }
  [[nodiscard]] TForm* MainForm() const noexcept { return mainForm_; }

  // Shows the main form and runs the message loop until Terminate() (closing the main form
  // calls it) or until the main form is destroyed.
  void Run();
  void Terminate();
  [[nodiscard]] bool Terminated() const noexcept { return terminated_; }
  // Handles every pending window message and main-thread call, then returns.
  void ProcessMessages();

  // A modal box with `text`, `caption` and one OK button; returns kIdOk when dismissed. The
  // console backend prints it on stderr and returns at once.
  int ShowMessageBox(const std::string& text, const std::string& caption);
  // ShowMessageBox with the application title as caption.
  void ShowMessage(const std::string& text);
  // The standard display of an exception that escaped: its message in a message box.
  void ShowException(const std::exception& error);

  // Frees the forms the application owns (the destructor does too).
  void DestroyForms();

 private:
  friend class TForm;
  void FormDestroyed(TForm* form) noexcept;

  std::unique_ptr<TGuiBackend> backend_;
  TForm* mainForm_ = nullptr;
  bool mainFormOnTaskBar_ = false;
  bool terminated_ = false;
  std::string title_;
};

[[nodiscard]] TApplication& Application();

// The screen the backend draws on (0 x 0 for the console).
class TScreen {
 public:
  [[nodiscard]] int Width() const;
  [[nodiscard]] int Height() const;
};
[[nodiscard]] TScreen& Screen();

}  // namespace brixa
