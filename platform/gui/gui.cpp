// The backend-neutral half of the toolkit: control and form state, and the application's message
// loop that also serves main-thread calls.

#include "platform/gui/gui.h"

#include <algorithm>

#include "platform/core/exception.h"
#include "platform/gui/gui_backend.h"
#include "platform/thread/main_thread_queue.h"

namespace brixa {

namespace {

// The message loop sleeps in the backend until woken; this bounds one sleep should a wake-up
// ever be missed.
constexpr std::chrono::milliseconds kLoopWaitLimit{250};

}  // namespace

// --- TControl ------------------------------------------------------------------------------

TControl::~TControl() {
  // The derived destructor has taken the native part down; no virtual call from here.
  if (parent_ != nullptr) parent_->ForgetControl(this);
}

void TControl::SetParent(TForm* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) parent_->RemoveControl(this);
  if (parent != nullptr) parent->AddControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
}

// --- TProgressBar --------------------------------------------------------------------------

TProgressBar::TProgressBar(TComponent* owner) : TControl(owner) {}

// The native bar goes first, while the control's state is whole.
TProgressBar::~TProgressBar() {
  DestroyNative();
}

void TProgressBar::SetMin(int value) {
  min_ = value;
  Clamp();
  Update();
}

void TProgressBar::SetMax(int value) {
  max_ = value;
  Clamp();
  Update();
}

void TProgressBar::SetPosition(int value) {
  position_ = value;
  Clamp();
  Update();
}

void TProgressBar::Clamp() noexcept {
  // A range given upside down holds only its minimum.
  position_ = std::max(min_, std::min(position_, max_));
}

void TProgressBar::Update() {
  if (native_) native_->Update(min_, max_, position_);
}

void TProgressBar::CreateNative(TNativeWindow& window) {
  native_ = window.AddProgressBar(Left(), Top(), Width(), Height());
  Update();
}

void TProgressBar::DestroyNative() {
  native_.reset();
}

// --- TForm ---------------------------------------------------------------------------------

// Out of line: the native window's type is complete only here.
TForm::TForm(TComponent* owner) : TComponent(owner) {}

TForm::~TForm() {
  // Controls may outlive the form (they belong to their owner): cut them loose, and take their
  // native parts down before the window that holds them.
  for (TControl* control : controls_) {
    control->DestroyNative();
    control->parent_ = nullptr;
  }
  controls_.clear();
  native_.reset();
  Application().FormDestroyed(this);
}

void TForm::SetCaption(std::string value) {
  caption_ = std::move(value);
  if (native_) native_->SetCaption(caption_);
}

void TForm::SetLeft(int value) {
  left_ = value;
  if (native_) native_->MoveTo(left_, top_);
}

void TForm::SetTop(int value) {
  top_ = value;
  if (native_) native_->MoveTo(left_, top_);
}

namespace {

TWindowParams SpecOf(const TForm& form) {
  TWindowParams params;
  params.Caption = form.Caption();
  params.BorderStyle = form.BorderStyle();
  params.BorderIcons = form.BorderIcons();
  params.FormStyle = form.FormStyle();
  params.OnTaskBar = &form == Application().MainForm() && Application().MainFormOnTaskBar();
  params.Left = form.Left();
  params.Top = form.Top();
  params.ClientWidth = form.ClientWidth();
  params.ClientHeight = form.ClientHeight();
  params.Color = form.Color();
  params.Font = form.Font();
  return params;
}

}  // namespace

int TForm::Width() const {
  return native_ ? native_->OuterSize().Width
                 : Application().Backend().OuterSizeFor(SpecOf(*this)).Width;
}

int TForm::Height() const {
  return native_ ? native_->OuterSize().Height
                 : Application().Backend().OuterSizeFor(SpecOf(*this)).Height;
}

void TForm::CreateNativeWindow() {
  if (native_) return;
  native_ = Application().Backend().NewWindow(SpecOf(*this));
  for (TControl* control : controls_) control->CreateNative(*native_);
}

void TForm::Show() {
  CreateNativeWindow();
  native_->Show();
  visible_ = true;
}

void TForm::Hide() {
  if (native_) native_->Hide();
  visible_ = false;
}

void TForm::Close() {
  Hide();
  if (Application().MainForm() == this) Application().Terminate();
}

std::uintptr_t TForm::Handle() const {
  return native_ ? native_->Handle() : 0;
}

void TForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TForm::AddControl(TControl* control) {
  controls_.push_back(control);
  control->parent_ = this;
  if (native_) control->CreateNative(*native_);
}

void TForm::RemoveControl(TControl* control) {
  control->DestroyNative();
  ForgetControl(control);
}

void TForm::ForgetControl(TControl* control) noexcept {
  control->parent_ = nullptr;
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
}

// --- TApplication --------------------------------------------------------------------------

TApplication::TApplication() = default;

TApplication::~TApplication() {
  // While the backend still exists: the forms' windows are its windows.
  DestroyForms();
  backend_.reset();
}

void TApplication::DestroyForms() {
  while (ComponentCount() > 0) {
    delete Components(ComponentCount() - 1);  // the component leaves its owner's list
  }
}

void TApplication::Initialize() {
  if (!backend_) backend_ = NewDefaultGuiBackend();
}

void TApplication::InitializeWith(std::unique_ptr<TGuiBackend> backend) {
  Require(backend != nullptr, "a GUI backend");
  backend_ = std::move(backend);
  mainForm_ = nullptr;
  terminated_ = false;
}

TGuiBackend& TApplication::Backend() {
  Initialize();
  return *backend_;
}

void TApplication::Run() {
  TGuiBackend& backend = Backend();
  if (mainForm_ != nullptr && !mainForm_->Visible()) mainForm_->Show();
  while (!terminated_ && mainForm_ != nullptr) {
    backend.ProcessMessages();
    if (terminated_ || mainForm_ == nullptr) break;
    backend.WaitForMessages(kLoopWaitLimit);
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  WakeMainThread();
}

void TApplication::ProcessMessages() {
  Backend().ProcessMessages();
}

int TApplication::ShowMessageBox(const std::string& text, const std::string& caption) {
  Backend().ShowMessageBox(text, caption);
  return kIdOk;
}

void TApplication::ShowMessage(const std::string& text) {
  ShowMessageBox(text, title_);
}

void TApplication::ShowException(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  ShowMessage(own != nullptr ? own->Message() : std::string(error.what()));
}

void TApplication::FormDestroyed(TForm* form) noexcept {
  if (form == mainForm_) mainForm_ = nullptr;
}

TApplication& Application() {
  static TApplication application;
  return application;
}

int TScreen::Width() const {
  return Application().Backend().ScreenWidth();
}

int TScreen::Height() const {
  return Application().Backend().ScreenHeight();
}

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

}  // namespace brixa
