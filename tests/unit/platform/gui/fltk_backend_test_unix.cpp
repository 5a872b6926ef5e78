// The FLTK backend on a real X server: an Xvfb started for these tests unless $DISPLAY is set.

// clang-format off
// GoogleTest first: Xlib defines macros (None, Bool, Status) that clash with its names.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/thread/clock.h"
#include "platform/gui/fltk_backend_unix.h"
#include "platform/gui/gui.h"
#include "platform/thread/main_thread_queue.h"
#include "unit/platform/gui/gui_test_support.h"
#include "unit/platform/self_launch.h"
#include "unit/thread_test_support.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

extern char** environ;

// LeakSanitizer: the font and X libraries under the toolkit keep caches for the life of the
// process and never free them. Only their own allocations are exempt.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libXft.so\nleak:libX11.so\nleak:libfltk.so\n";
}

namespace brixa {
namespace {

using test::BackendScope;
using test::ProgressForm;
using test::Watchdog;

constexpr int kXvfbWidth = 1024;
constexpr int kXvfbHeight = 768;
constexpr int kXvfbStartMs = 10000;
// The bar colour the FLTK backend paints (a themed green).
constexpr unsigned long kBarPixel = 0x06B025;

// An Xvfb child process on a free display number, which it reports through -displayfd.
class XvfbServer {
 public:
  XvfbServer() {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return;
    const std::string fd = std::to_string(pipeFds[1]);
    const std::string geometry =
        std::to_string(kXvfbWidth) + "x" + std::to_string(kXvfbHeight) + "x24";
    std::vector<std::string> args = {"Xvfb", "-displayfd", fd,          "-screen",
                                     "0",    geometry,     "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const int rc = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
      pid_ = 0;
      ::close(pipeFds[0]);
      return;
    }
    display_ = ReadDisplayNumber(pipeFds[0]);
    ::close(pipeFds[0]);
  }
  ~XvfbServer() {
    if (pid_ == 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N" once the server is ready; empty when it did not start.
  [[nodiscard]] const std::string& Display() const noexcept { return display_; }

 private:
  static std::string ReadDisplayNumber(int fd) {
    std::string number;
    const std::uint64_t deadline = MonotonicMilliseconds() + kXvfbStartMs;
    while (MonotonicMilliseconds() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c = 0;
      if (::read(fd, &c, 1) != 1) break;
      if (c == '\n') return ":" + number;
      number += c;
    }
    return {};
  }

  pid_t pid_ = 0;
  std::string display_;
};

class FltkGuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') return;
    server_ = std::make_unique<XvfbServer>();
    if (server_->Display().empty()) return;
    ::setenv("DISPLAY", server_->Display().c_str(), 1);
  }
  // The server stays up until the process ends: the toolkit keeps its connection.
  static void TearDownTestSuite() {}
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "no display and no Xvfb (xvfb)";
  }
  [[nodiscard]] static bool OwnServer() { return server_ != nullptr; }

  static std::unique_ptr<XvfbServer> server_;
};
std::unique_ptr<XvfbServer> FltkGuiTest::server_;  // stopped by static destruction

// A second connection to the X server, as a screenshot tool would make.
class Observer {
 public:
  Observer() : display_(XOpenDisplay(nullptr)) {}
  ~Observer() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  Observer(const Observer&) = delete;
  Observer& operator=(const Observer&) = delete;

  [[nodiscard]] bool Viewable(Window window) const {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
  }

  // How many pixels of row `y` of the window have the bar colour.
  [[nodiscard]] int BarPixels(Window window, int y, int width) const {
    XImage* image =
        XGetImage(display_, window, 0, y, static_cast<unsigned>(width), 1, AllPlanes, ZPixmap);
    if (image == nullptr) return -1;
    int count = 0;
    for (int x = 0; x < width; ++x) count += XGetPixel(image, x, 0) == kBarPixel ? 1 : 0;
    XDestroyImage(image);
    return count;
  }

  [[nodiscard]] std::vector<unsigned long> Property(Window window, const char* name) const {
    const Atom atom = XInternAtom(display_, name, False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display_, window, atom, 0, 16, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
      const auto* longs = reinterpret_cast<const unsigned long*>(data);
      values.assign(longs, longs + count);
      XFree(data);
    }
    return values;
  }

  [[nodiscard]] unsigned long AtomOf(const char* name) const {
    return XInternAtom(display_, name, False);
  }

 private:
  Display* display_;
};

// Processes messages until the bar shows `expected` pixels (within `slack`) or time runs out;
// returns the last count.
int AwaitBar(const Observer& observer, Window window, int expected, int slack) {
  int seen = -1;
  const std::uint64_t deadline = MonotonicMilliseconds() + 5000;
  while (MonotonicMilliseconds() < deadline) {
    Application().ProcessMessages();
    if (observer.Viewable(window)) {
      seen =
          observer.BarPixels(window, ProgressForm::kClientHeight / 2, ProgressForm::kClientWidth);
      if (seen >= expected - slack && seen <= expected + slack) return seen;
    }
    SleepMs(10);
  }
  return seen;
}

TEST_F(FltkGuiTest, WindowShowsAndTheBarFollowsThePosition) {
  Watchdog watchdog("fltk window");
  auto backend = NewFltkGuiBackend();
  ASSERT_NE(backend, nullptr);
  EXPECT_STREQ(backend->Name(), "fltk");
  BackendScope scope(std::move(backend));
  if (OwnServer()) {
    EXPECT_EQ(Screen().Width(), kXvfbWidth);
    EXPECT_EQ(Screen().Height(), kXvfbHeight);
  }
  TForm form;
  ProgressForm parts(form);
  ProgressForm::Centre(form);
  parts.bar->SetMax(1000);
  form.Show();
  const auto window = static_cast<Window>(form.Handle());
  ASSERT_NE(window, 0u);

  Observer observer;
  constexpr int kSlack = 4;  // the bar's frame
  EXPECT_LE(AwaitBar(observer, window, 0, 0), 0);
  for (int position : {250, 500, 1000}) {
    parts.bar->SetPosition(position);
    const int expected = ProgressForm::kClientWidth * position / 1000;
    EXPECT_NEAR(AwaitBar(observer, window, expected, kSlack), expected, kSlack) << position;
  }
  parts.bar->SetPosition(0);
  EXPECT_LE(AwaitBar(observer, window, 0, 0), 0);

  // The frame wishes reach the window: above others, no close function.
  const std::vector<unsigned long> state = observer.Property(window, "_NET_WM_STATE");
  EXPECT_EQ(state, std::vector<unsigned long>{observer.AtomOf("_NET_WM_STATE_ABOVE")});
  const std::vector<unsigned long> hints = observer.Property(window, "_MOTIF_WM_HINTS");
  ASSERT_GE(hints.size(), 2u);
  constexpr unsigned long kCloseFunction = 1ul << 5;
  EXPECT_EQ(hints[1] & kCloseFunction, 0u);

  if (OwnServer()) {  // no window manager: the centred place holds
    EXPECT_EQ(form.Left(), (kXvfbWidth - ProgressForm::kClientWidth) / 2);
  }
}

TEST_F(FltkGuiTest, DefaultBackendIsFltkOnAWorkingDisplayElseTheConsole) {
  const std::string display = std::getenv("DISPLAY");
  test::TempDir dir;
  int n = 0;
  for (const auto& [value, expected] : {std::pair<std::string, std::string>{display, "fltk"},
                                        {":4711", "console"},  // no such server
                                        {"", "console"}}) {
    const std::string result = dir.Path("backend" + std::to_string(n++));
    test::SetEnvironmentVariable("DISPLAY", value);
    const std::string picked = test::RunSelfAs("backend|" + result, result);
    test::SetEnvironmentVariable("DISPLAY", display);
    EXPECT_EQ(picked, expected) << "DISPLAY=" << value;
  }
}

// Finds the text a message box shows among the children of the modal window.
std::string LabelsOf(Fl_Window* window) {
  std::string labels;
  for (int i = 0; i < window->children(); ++i) {
    const char* label = window->child(i)->label();
    if (label != nullptr) labels += std::string(label) + "|";
  }
  return labels;
}

struct BoxProbe {
  std::string caption;
  std::string labels;
  std::atomic<bool> workerCallRan{false};
  int ticks = 0;
};

void InspectAndCloseBox(void* data) {
  auto* probe = static_cast<BoxProbe*>(data);
  Fl_Window* modal = Fl::modal();
  if (modal != nullptr && probe->caption.empty()) {
    probe->caption = modal->label() ? modal->label() : "";
    probe->labels = LabelsOf(modal);
  }
  // Keep the box up until the worker's call was served (from inside the box's loop).
  if (modal != nullptr && (probe->workerCallRan.load() || ++probe->ticks > 100)) {
    modal->hide();
    return;
  }
  Fl::repeat_timeout(0.05, InspectAndCloseBox, data);
}

TEST_F(FltkGuiTest, MessageBoxIsModalWithTheTitleAndStillServesMainThreadCalls) {
  Watchdog watchdog("fltk message box");
  auto backend = NewFltkGuiBackend();
  ASSERT_NE(backend, nullptr);
  BackendScope scope(std::move(backend));
  Application().SetTitle("BrixaUpdater");

  BoxProbe probe;
  std::thread worker([&probe] {
    SleepMs(100);
    RunOnMainThread([&probe] { probe.workerCallRan.store(true); });
  });
  Fl::add_timeout(0.05, InspectAndCloseBox, &probe);
  Application().ShowMessage("Download Error!");
  worker.join();
  EXPECT_EQ(probe.caption, "BrixaUpdater");
  EXPECT_NE(probe.labels.find("Download Error!|"), std::string::npos) << probe.labels;
  EXPECT_NE(probe.labels.find("OK|"), std::string::npos) << probe.labels;
  EXPECT_TRUE(probe.workerCallRan.load());
}

}  // namespace
}  // namespace brixa
