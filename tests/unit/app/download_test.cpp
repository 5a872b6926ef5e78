// The download window against a real nginx (and a scripted peer for a body cut short), with the
// console backend standing in for the window: message boxes are read from its output.
#include "app/download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/files/module_path.h"
#include "platform/system/system_info.h"
#include "platform/thread/main_thread_queue.h"
#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "support/peers/peer_process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "unit/platform/gui/gui_test_support.h"

namespace brixa {
namespace {

namespace fs = std::filesystem;

constexpr auto kLoopWatchdog = std::chrono::seconds(60);

std::string Sha256Of(const std::string& bytes) {
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashBytes(bytes.data(), bytes.size()), false);
}

// Serves `body` under a new name in nginx's tree and returns its path.
std::string Publish(const test::PeerProcess& nginx, const std::string& body) {
  static int counter = 0;
  fs::create_directories(nginx.DocPath("installers"));
  const std::string path = "installers/setup" + std::to_string(counter++) + ".exe";
  test::WriteFileText(nginx.DocPath(path), body);
  return path;
}

// Bytes that no system takes for a program.
std::string NotAProgram(std::size_t size) {
  return std::string(size, 'x');
}

// The installer goes beside the program, behind a doubled separator; a leftover of an earlier
// run is gone once the window exists.
TEST(DownloadWindow, StartsWithoutALeftoverInstaller) {
  test::CapturedOutput console;
  test::BackendScope scope(NewConsoleGuiBackend(console.File()));
  const std::string leftover =
      ExtractFilePath(ProgramFileName()) + SystemPathDelimiter() + "brixaupdatetemp.exe";
  test::WriteFileText(leftover, "left from an earlier run");
  ASSERT_TRUE(FileExists(leftover));

  TfrmProgress form(nullptr, "http://127.0.0.1:1/brixakit/update.exe");
  EXPECT_EQ(form.TempExePath(), leftover);
  EXPECT_FALSE(FileExists(leftover));
  EXPECT_EQ(form.ProgressBarDownload->Max(), 0);
  EXPECT_FALSE(form.IdThreadComponent1->Active()) << "the worker starts with the creation event";
}

class DownloadUpdateTest : public ::testing::Test {
 protected:
  struct Result {
    std::string messages;  // what the console showed as message boxes and bar
    bool fileLeft = false;
    std::string fileBytes;
    int barMax = -1;
    int barPosition = -1;
  };

  // One DownloadUpdate of `url` into the temp folder, called directly on this (the main)
  // thread.
  Result Download(const std::string& url, const std::string& sha256 = {},
                  TLowSpeedRule lowSpeed = kUpdaterLowSpeedRule) {
    test::CapturedOutput console;
    test::BackendScope scope(NewConsoleGuiBackend(console.File()));
    TfrmProgress form(nullptr, url, sha256);
    form.SetTempExePath(dir_.Path("brixaupdatetemp.exe"));
    form.LowSpeedGuard->SetRule(lowSpeed);
    form.DownloadUpdate();
    Result result;
    result.messages = console.Text();
    result.fileLeft = FileExists(form.TempExePath());
    result.fileBytes = test::ReadFileText(form.TempExePath());
    result.barMax = form.ProgressBarDownload->Max();
    result.barPosition = form.ProgressBarDownload->Position();
    EXPECT_EQ(form.DownloadStream(), nullptr) << "the file is closed afterwards";
    EXPECT_FALSE(form.IdHTTP1->IsConnected()) << "the connection is closed afterwards";
    return result;
  }

  static bool LaunchFailed(const Result& r) {
    const std::string prefix = "CreateProcess() failed: ";
    const std::size_t at = r.messages.find(prefix);
    if (at == std::string::npos) return false;
    const std::size_t digits = at + prefix.size();
    return digits < r.messages.size() && r.messages[digits] >= '1' && r.messages[digits] <= '9';
  }

  test::TempDir dir_;
};

// The downloaded bytes are not a program, so a completed download ends in the launch failing
// with the system's error code and the file staying in place.
TEST_F(DownloadUpdateTest, CompleteDownloadIsKeptAndStarted) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  const std::string body = NotAProgram(10000);
  const std::string path = Publish(*nginx, body);
  const std::string tiny = Publish(*nginx, NotAProgram(99));
  const struct {
    const char* what;
    std::string url;
    std::string sha256;
    std::string expected;
    int barMax;
    int barPosition;
  } cases[] = {
      {"counted body", nginx->BaseUrl() + "/" + path, "", body, 100, 100},
      {"matching hash", nginx->BaseUrl() + "/" + path, Sha256Of(body), body, 100, 100},
      {"no length: empty bar", nginx->BaseUrl() + "/chunked/" + path, "", body, 0, 0},
      {"under 100 bytes", nginx->BaseUrl() + "/" + tiny, "", NotAProgram(99), 0, 0},
      {"a redirect is followed", nginx->BaseUrl() + "/redirect", "",
       test::ReadFileText(nginx->DocPath("index.html")), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = Download(c.url, c.sha256);
    EXPECT_TRUE(LaunchFailed(r)) << r.messages;
    EXPECT_EQ(r.messages.find("Download Error!"), std::string::npos) << r.messages;
    EXPECT_TRUE(r.fileLeft);
    EXPECT_TRUE(r.fileBytes == c.expected);
    EXPECT_EQ(r.barMax, c.barMax);
    EXPECT_EQ(r.barPosition, c.barPosition);
  }
}

TEST_F(DownloadUpdateTest, FailedOrUntrustworthyDownloadIsDeletedAndReported) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  const std::string body = NotAProgram(10000);
  const std::string path = Publish(*nginx, body);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n";
  test::ScriptedServer shortBody({test::Expect::LineBlock(), test::Send(head),
                                  test::Expect::LineBlock(), test::Send(head + NotAProgram(100)),
                                  test::Close()});
  test::RefusingPort refusing;
  // A body of 20 bytes, one every 50 ms: well inside the read timeout, below a rule of 1000
  // bytes per second over 300 ms.
  test::Script trickle{test::Expect::LineBlock(), test::Send(head), test::Expect::LineBlock(),
                       test::Send("HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n")};
  for (int i = 0; i < 20; ++i) {
    trickle.push_back(test::Pause(50));
    trickle.push_back(test::Send("x"));
  }
  test::ScriptedServer trickling(trickle);
  constexpr TLowSpeedRule kStrictRule{1000, 300};
  const struct {
    const char* what;
    std::string url;
    std::string sha256;
    TLowSpeedRule lowSpeed = kUpdaterLowSpeedRule;
  } cases[] = {
      {"not found", nginx->BaseUrl() + "/close/missing.exe", ""},
      {"redirect maximum", nginx->BaseUrl() + "/loop", ""},
      {"body cut short", "http://127.0.0.1:" + std::to_string(shortBody.Port()) + "/update.exe",
       ""},
      {"refused", "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/update.exe", ""},
      {"hash of other bytes", nginx->BaseUrl() + "/" + path, Sha256Of(body + "!")},
      {"hash that is no hash", nginx->BaseUrl() + "/" + path, "0123"},
      {"trickling server", "http://127.0.0.1:" + std::to_string(trickling.Port()) + "/update.exe",
       "", kStrictRule},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = Download(c.url, c.sha256, c.lowSpeed);
    EXPECT_NE(r.messages.find("Download Error!"), std::string::npos) << r.messages;
    EXPECT_FALSE(LaunchFailed(r)) << "nothing was started: " << r.messages;
    EXPECT_FALSE(r.fileLeft);
  }
  EXPECT_TRUE(shortBody.WaitDone(5000)) << shortBody.Failures();
}

// The whole window: created as the application's main form, its worker hands the download to
// the message loop, which ends when the window closes.
TEST_F(DownloadUpdateTest, WindowDownloadsFromTheMessageLoopAndCloses) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  const std::string body = NotAProgram(25000);
  const std::string path = Publish(*nginx, body);
  test::CapturedOutput console;
  test::BackendScope scope(NewConsoleGuiBackend(console.File()));
  auto* form = Application().CreateForm<TfrmProgress>(nginx->BaseUrl() + "/" + path);
  form->SetTempExePath(dir_.Path("brixaupdatetemp.exe"));
  EXPECT_TRUE(form->IdThreadComponent1->Active()) << "the creation event starts the worker";

  // Ends a loop that would not end by itself, so a fault fails the test instead of hanging it.
  std::mutex mutex;
  std::condition_variable finished;
  bool loopEnded = false;
  std::atomic<bool> watchdogDone{false};
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, kLoopWatchdog, [&] { return loopEnded; })) {
      lock.unlock();
      RunOnMainThread([] { Application().Terminate(); });
    }
    watchdogDone = true;
  });
  Application().Run();
  {
    std::lock_guard lock(mutex);
    loopEnded = true;
  }
  finished.notify_all();
  (void)ServeMainThreadCallsUntil([&] { return watchdogDone.load(); }, kLoopWatchdog);
  watchdog.join();

  EXPECT_FALSE(form->Visible());
  EXPECT_TRUE(test::ReadFileText(form->TempExePath()) == body);
  EXPECT_EQ(form->ProgressBarDownload->Max(), 250);
  EXPECT_EQ(form->ProgressBarDownload->Position(), 250);
  const std::string text = console.Text();
  EXPECT_NE(text.find("100%"), std::string::npos) << text;
  EXPECT_NE(text.find("CreateProcess() failed: "), std::string::npos) << text;
  // Nothing here stops the worker: the download itself must have, or it would run its handler
  // again and the thread would never finish.
  ASSERT_NE(form->IdThreadComponent1->Thread(), nullptr);
  EXPECT_TRUE(ServeMainThreadCallsUntil(
      [&] { return form->IdThreadComponent1->Thread()->Finished(); }, kLoopWatchdog))
      << "the download did not stop the worker";
  EXPECT_FALSE(form->IdThreadComponent1->Active());
}

}  // namespace
}  // namespace brixa
