// The Win32 backend: real windows, a common-controls progress bar and a modal message box.

// clang-format off
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/thread/clock.h"
#include "platform/gui/gui.h"
#include "platform/gui/win32_backend_windows.h"
#include "platform/thread/main_thread_queue.h"
#include "unit/platform/gui/gui_test_support.h"
#include "unit/thread_test_support.h"

#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace brixa {
namespace {

using test::BackendScope;
using test::ProgressForm;
using test::Watchdog;

// The control id of the text in a message box.
constexpr int kMessageBoxTextId = 0xFFFF;

TEST(Win32GuiTest, FormHasTheRequestedFrameAndTheBarTheRequestedState) {
  Watchdog watchdog("win32 window");
  auto backend = NewWin32GuiBackend();
  ASSERT_NE(backend, nullptr);
  EXPECT_STREQ(backend->Name(), "win32");
  BackendScope scope(std::move(backend));
  Application().SetMainFormOnTaskBar(true);
  auto* form = Application().CreateForm<TForm>();
  ProgressForm parts(*form);
  const int estimatedWidth = form->Width();
  const int estimatedHeight = form->Height();
  EXPECT_GT(estimatedWidth, ProgressForm::kClientWidth);  // the frame counts
  ProgressForm::Centre(*form);
  parts.bar->SetMax(400);
  parts.bar->SetPosition(100);
  form->Show();

  const auto window = reinterpret_cast<HWND>(form->Handle());
  ASSERT_TRUE(::IsWindowVisible(window));
  char caption[64] = {};
  ::GetWindowTextA(window, caption, sizeof caption);
  EXPECT_STREQ(caption, "BrixaUpdater");
  const LONG_PTR style = ::GetWindowLongPtrA(window, GWL_STYLE);
  const LONG_PTR exStyle = ::GetWindowLongPtrA(window, GWL_EXSTYLE);
  EXPECT_EQ(style & WS_SYSMENU, 0);  // no close box
  EXPECT_EQ(style & WS_THICKFRAME, 0);
  EXPECT_NE(exStyle & WS_EX_TOPMOST, 0);
  EXPECT_NE(exStyle & WS_EX_DLGMODALFRAME, 0);
  EXPECT_NE(exStyle & WS_EX_APPWINDOW, 0);

  RECT client{};
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.right, ProgressForm::kClientWidth);
  EXPECT_EQ(client.bottom, ProgressForm::kClientHeight);
  RECT outer{};
  ::GetWindowRect(window, &outer);
  EXPECT_EQ(outer.left, form->Left());
  EXPECT_EQ(outer.top, form->Top());
  EXPECT_EQ(form->Width(), estimatedWidth);
  EXPECT_EQ(form->Height(), estimatedHeight);
  EXPECT_EQ(form->Left(), (::GetSystemMetrics(SM_CXSCREEN) - estimatedWidth) / 2);

  HWND bar = ::FindWindowExA(window, nullptr, PROGRESS_CLASSA, nullptr);
  ASSERT_NE(bar, nullptr);
  PBRANGE range{};
  ::SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 400);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
  parts.bar->SetPosition(1000);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 400);

  ::SendMessageA(window, WM_CLOSE, 0, 0);  // a user's close request changes nothing
  Application().ProcessMessages();
  EXPECT_TRUE(::IsWindowVisible(window));
  form->Close();
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_TRUE(Application().Terminated());
}

TEST(Win32GuiTest, MessageBoxIsModalWithTheTitleAndStillServesMainThreadCalls) {
  Watchdog watchdog("win32 message box");
  BackendScope scope(NewWin32GuiBackend());
  Application().SetTitle("BrixaUpdater");
  std::atomic<bool> workerCallRan{false};
  std::string text;
  std::thread closer([&] {
    const std::uint64_t deadline = MonotonicMilliseconds() + 15000;
    HWND box = nullptr;
    while (box == nullptr && MonotonicMilliseconds() < deadline) {
      box = ::FindWindowA("#32770", "BrixaUpdater");
      SleepMs(20);
    }
    if (box == nullptr) return;
    char buffer[128] = {};
    ::GetDlgItemTextA(box, kMessageBoxTextId, buffer, sizeof buffer);
    text = buffer;
    // While the box is up, a worker's call must still reach the main thread.
    RunOnMainThread([&] { workerCallRan.store(true); });
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  Application().ShowMessage("Download Error!");
  closer.join();
  EXPECT_EQ(text, "Download Error!");
  EXPECT_TRUE(workerCallRan.load());
}

}  // namespace
}  // namespace brixa
