// The updater's window on a real X server: photographed during a download, it is centred and
// its bar is part filled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <istream>
#include <sstream>
#include <string>

#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

// An image in binary PPM form (what `convert ... ppm:` writes).
struct Picture {
  int width = 0;
  int height = 0;
  std::string rgb;  // width * height * 3 bytes, row by row
  [[nodiscard]] bool Load(const std::string& bytes) {
    std::istringstream in(bytes);
    std::string magic;
    int maxValue = 0;
    in >> magic;
    SkipComments(in);
    in >> width;
    SkipComments(in);
    in >> height;
    SkipComments(in);
    in >> maxValue;
    in.get();  // the single blank after the header
    if (magic != "P6" || maxValue != 255 || width <= 0 || height <= 0) return false;
    rgb = bytes.substr(static_cast<std::size_t>(in.tellg()));
    return rgb.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
  }
  static void SkipComments(std::istream& in) {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string comment;
      std::getline(in, comment);
      in >> std::ws;
    }
  }
  [[nodiscard]] bool Is(int x, int y, int r, int g, int b) const {
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
    return static_cast<unsigned char>(rgb[at]) == r &&
           static_cast<unsigned char>(rgb[at + 1]) == g &&
           static_cast<unsigned char>(rgb[at + 2]) == b;
  }
};

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
// The window system may place a window a few pixels off what was asked (border, rounding).
constexpr int kCentreTolerance = 12;

// Runs the updater on a fresh X server and photographs the screen once a third of the installer
// has arrived; the picture (a PNG for a person, a PPM for the checks) stays in the build tree.
TEST_F(UpdaterEndToEnd, WindowIsCentredAndShowsTheBarMoving) {
  for (const char* tool : {"/usr/bin/xvfb-run", "/usr/bin/xwd", "/usr/bin/convert"}) {
    if (!fs::exists(tool))
      GTEST_SKIP() << tool << " is missing (packages xvfb, x11-apps, imagemagick)";
  }
  const std::string installer = InstallerBytes(768 * 1024);
  UpdateServerOptions slow;
  slow.rateBytesPerSecond = static_cast<std::int64_t>(installer.size() / 3);
  SERVER_OR_SKIP(server, slow);
  server->Publish("version.ini", VersionFile("new"));
  server->Publish("update.exe", installer);
  ProductDir product;
  product.SetLocalStamp("old");

  // The client sizes the file to the announced length before the body arrives, so the file's
  // existence marks the start; a second later about a third of the body is in.
  const std::string script =
      "cd \"$1\" || exit 2\n"
      "./BrixaUpdater 2> updater.err & pid=$!\n"
      "i=0\n"
      "while [ $i -lt 300 ] && [ ! -e brixaupdatetemp.exe ]; do sleep 0.05; i=$((i + 1)); done\n"
      "sleep 1\n"
      "xwd -root -silent > shot.xwd\n"
      "wait $pid; echo $? > updater.rc\n";
  const std::string screen = "-screen 0 " + std::to_string(kScreenWidth) + "x" +
                             std::to_string(kScreenHeight) + "x24 -br -nolisten tcp";
  const ProgramResult run = test::RunProgram("/usr/bin/xvfb-run",
                                             {"-a", "-s", screen, "/bin/sh", "-c", script, "shot",
                                              product.Path(""), std::to_string(installer.size())},
                                             kRunTimeoutMs);
  ASSERT_FALSE(run.timedOut);
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(test::ReadFileText(product.Path("updater.rc")), "0\n");
  EXPECT_EQ(test::ReadFileText(product.Path("updater.err")), "");  // a window, not the console
  EXPECT_TRUE(product.WaitForMarker());

  const std::string png = test::BuildTreePath("tests/updater_window.png");
  const std::string ppm = product.Path("shot.ppm");
  ASSERT_EQ(test::RunProgram("/usr/bin/convert", {"xwd:" + product.Path("shot.xwd"), png}, 30000)
                .exitCode,
            0);
  ASSERT_EQ(
      test::RunProgram("/usr/bin/convert", {png, "-depth", "8", "ppm:" + ppm}, 30000).exitCode, 0);
  Picture shot;
  ASSERT_TRUE(shot.Load(test::ReadFileText(ppm)));
  ASSERT_EQ(shot.width, kScreenWidth);
  ASSERT_EQ(shot.height, kScreenHeight);

  // The window is everything that is not the black root; the bar is green over a grey trough.
  int left = shot.width, top = shot.height, right = -1, bottom = -1, filled = 0, trough = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      if (shot.Is(x, y, 0, 0, 0)) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
      if (shot.Is(x, y, 6, 176, 37)) ++filled;
      if (shot.Is(x, y, 230, 230, 230)) ++trough;
    }
  }
  ASSERT_GE(right, 0) << "blank screenshot " << png;
  const int width = right - left + 1;
  const int height = bottom - top + 1;
  EXPECT_GE(width, 305) << png;
  EXPECT_LE(width, 305 + 2 * kCentreTolerance) << png;
  EXPECT_GE(height, 41) << png;
  EXPECT_LE(height, 41 + 4 * kCentreTolerance) << png;
  EXPECT_NEAR(left + width / 2, kScreenWidth / 2, kCentreTolerance) << png;
  EXPECT_NEAR(top + height / 2, kScreenHeight / 2, kCentreTolerance) << png;
  EXPECT_GT(filled, 0) << "no part of the bar is filled: " << png;
  EXPECT_GT(trough, 0) << "the bar is already full: " << png;
  std::cout << "screenshot: " << png << " window " << width << "x" << height << " at " << left
            << "," << top << ", bar " << filled << " filled / " << trough << " empty pixels\n";
}

}  // namespace
}  // namespace brixa::e2e
