// The progress bar's range, and the console backend's drawing and message loop.

#include "platform/gui/gui.h"

#include <gtest/gtest.h>

#include "platform/core/exception.h"
#include "platform/thread/clock.h"
#include "platform/thread/thread.h"
#include "unit/platform/gui/gui_test_support.h"
#include "unit/thread_test_support.h"

namespace brixa {
namespace {

using test::BackendScope;
using test::CapturedOutput;
using test::ProgressForm;
using test::Watchdog;

TEST(ProgressBarTest, PositionStaysInsideTheRange) {
  TProgressBar bar;
  EXPECT_EQ(bar.Min(), 0);
  EXPECT_EQ(bar.Max(), 100);
  bar.SetMax(0);  // a download without a length
  bar.SetPosition(50);
  EXPECT_EQ(bar.Position(), 0);

  bar.SetMax(100);
  bar.SetPosition(150);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(70);
  bar.SetMax(50);  // a range moved below the position takes it along
  EXPECT_EQ(bar.Position(), 50);
  bar.SetMin(60);  // upside down: only the minimum
  EXPECT_EQ(bar.Position(), 60);
}

TEST(ConsoleGuiTest, DrawsTheBarInPlaceAndPrintsMessageBoxes) {
  CapturedOutput out;
  BackendScope scope(NewConsoleGuiBackend(out.File()));
  Application().SetTitle("BrixaUpdater");
  TForm form;
  ProgressForm parts(form);
  EXPECT_EQ(Screen().Width(), 0);
  EXPECT_EQ(form.Width(), ProgressForm::kClientWidth);
  EXPECT_EQ(form.Height(), ProgressForm::kClientHeight);
  EXPECT_EQ(out.Text(), "");  // nothing before the window shows

  form.Show();
  parts.bar->SetMax(200);  // same picture: not drawn again
  parts.bar->SetPosition(100);
  parts.bar->SetPosition(500);  // clamped to the maximum
  parts.bar->SetPosition(200);  // unchanged
  Application().ShowMessage("Download Error!");
  parts.bar->SetPosition(0);
  form.SetCaption("Other");
  form.Close();
  const std::string empty(40, '.');
  const std::string full(40, '#');
  const std::string half = std::string(20, '#') + std::string(20, '.');
  EXPECT_EQ(out.Text(), "\rBrixaUpdater [" + empty + "]   0%" + "\rBrixaUpdater [" + half +
                            "]  50%" + "\rBrixaUpdater [" + full + "] 100%" +
                            "\nBrixaUpdater: Download Error!\n" + "\rBrixaUpdater [" + empty +
                            "]   0%" + "\rOther [" + empty + "]   0%       " + "\n");
}

// A worker that hands its job to the main thread, as the download window's worker does.
class HandOverThread : public TThread {
 public:
  explicit HandOverThread(TThreadMethod job) : TThread(true), job_(std::move(job)) {}
  ~HandOverThread() override { StopForDestruction(); }

 protected:
  void Execute() override { RunOnMainThread(job_); }

 private:
  TThreadMethod job_;
};

class WorkerForm : public TForm {
 public:
  explicit WorkerForm(TComponent* owner) : TForm(owner), parts(*this) {
    OnCreate = [this](TComponent*) {
      ProgressForm::Centre(*this);
      worker.Resume();
    };
  }
  ~WorkerForm() override { worker.AwaitThreadEnd(); }

  void Download() {
    ranOnMain = IsMainThread();
    parts.bar->SetMax(10);
    for (int i = 0; i <= 10; ++i) {
      Application().ProcessMessages();
      parts.bar->SetPosition(i);
    }
    Close();
  }

  ProgressForm parts;
  bool ranOnMain = false;
  HandOverThread worker{[this] { Download(); }};
};

TEST(ConsoleGuiTest, MessageLoopServesTheWorkerUntilTheMainFormCloses) {
  Watchdog watchdog("application loop");
  CapturedOutput out;
  BackendScope scope(NewConsoleGuiBackend(out.File()));
  Application().SetTitle("BrixaUpdater");
  Application().SetMainFormOnTaskBar(true);
  auto* form = Application().CreateForm<WorkerForm>();
  EXPECT_EQ(Application().MainForm(), form);
  EXPECT_EQ(form->Left(), -ProgressForm::kClientWidth / 2);  // a 0 x 0 screen
  Application().Run();
  EXPECT_TRUE(Application().Terminated());
  EXPECT_TRUE(form->ranOnMain);
  EXPECT_FALSE(form->Visible());
  const std::string text = out.Text();
  EXPECT_NE(text.find("BrixaUpdater [" + std::string(40, '#') + "] 100%\n"), std::string::npos)
      << text;

  Application().ShowException(EConvertError("'abc' is not a valid integer value"));
  EXPECT_NE(out.Text().find("\nBrixaUpdater: 'abc' is not a valid integer value\n"),
            std::string::npos);
  delete form;
  EXPECT_EQ(Application().MainForm(), nullptr);
}

}  // namespace
}  // namespace brixa
