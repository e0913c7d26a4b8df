// The Qt window on the offscreen platform: its design, its states and whole
// runs with the message boxes answered by the test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>

#include "../SampleLogs.h"
#include "app/qt/KvMessageDialog.h"
#include "app/qt/KvUpdaterWindow.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

int gArgc = 1;
char gProgram[] = "KvAccesslogUpdater";
char* gArgv[] = {gProgram, nullptr};

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    FApplication = std::make_unique<QApplication>(gArgc, gArgv);
  }
  void TearDown() override { FApplication.reset(); }

 private:
  std::unique_ptr<QApplication> FApplication;
};
[[maybe_unused]] ::testing::Environment* const gQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// What a timer saw while a run was going on.
struct Observed {
  bool sawRunning = false;
  bool waitCursorWhileRunning = true;
  bool runningControlsRight = true;  // stop button and both progress labels, no execute button
  bool bothButtonsShown = false;
  QString boxText;
  TKvMessageDialog::TIcon boxIcon = TKvMessageDialog::TIcon::None;
  bool boxInTheWindowsFont = true;
  QString progressAtBox, progress2AtBox;
  int boxes = 0;
};

class WindowTest : public ::testing::Test {
 protected:
  QLabel* Label(TKvControl c) { return static_cast<QLabel*>(window.Control(c)); }
  QPushButton* Button(TKvControl c) { return static_cast<QPushButton*>(window.Control(c)); }
  bool Shown(TKvControl c) { return !window.Control(c)->isHidden(); }

  // Clicks "実行" with a timer that watches every pass of the event loop,
  // lets `duringRun` act while the stop button is up and answers each box.
  Observed Execute(const std::function<void()>& duringRun = nullptr) {
    Observed seen;
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      if (Shown(TKvControl::btnExecute) && Shown(TKvControl::btnStop)) seen.bothButtonsShown = true;
      if (auto* box = dynamic_cast<TKvMessageDialog*>(QApplication::activeModalWidget())) {
        ++seen.boxes;
        seen.boxText = box->Text();
        seen.boxIcon = box->Icon();
        if (box->font() != window.font()) seen.boxInTheWindowsFont = false;
        seen.progressAtBox = Label(TKvControl::lbProgress)->text();
        seen.progress2AtBox = Label(TKvControl::lbProgress2)->text();
        box->OkButton()->click();
        return;
      }
      if (Shown(TKvControl::btnStop)) {
        seen.sawRunning = true;
        const QCursor* cursor = QApplication::overrideCursor();
        if (!cursor || cursor->shape() != Qt::WaitCursor) seen.waitCursorWhileRunning = false;
        if (Shown(TKvControl::btnExecute) || !Shown(TKvControl::lbProgress) || !Shown(TKvControl::lbProgress2))
          seen.runningControlsRight = false;
        if (duringRun) duringRun();
      }
    });
    watcher.start();
    Button(TKvControl::btnExecute)->click();
    watcher.stop();
    return seen;
  }

  void ExpectIdle() {
    EXPECT_TRUE(Shown(TKvControl::btnExecute));
    EXPECT_TRUE(Button(TKvControl::btnExecute)->isEnabled());
    EXPECT_FALSE(Shown(TKvControl::btnStop));
    EXPECT_FALSE(Shown(TKvControl::lbProgress));
    EXPECT_FALSE(Shown(TKvControl::lbProgress2));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }

  // Runs the application's loop until something ends it, 30 seconds at the most.
  static int LoopUntilItEnds() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(30000);
    return QApplication::exec();
  }

  TempDir dir;
  TKvUpdaterWindow window;
};

TEST_F(WindowTest, OpensWithTheDesignedControls) {
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("アクセスログ自動修正プログラム"));
  EXPECT_EQ(window.size(), QSize(614, 102));
  EXPECT_LE(window.font().pixelSize(), 12);
  const QString family = QFontInfo(window.font()).family();
  EXPECT_TRUE(family == QString::fromUtf8("ＭＳ Ｐゴシック") || family == "IPAPGothic") << family.toStdString();
  EXPECT_EQ(window.palette().color(QPalette::Window), window.palette().color(QPalette::Button));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(window.pos(), QPoint(screen.x() + (screen.width() - 622) / 2, screen.y() + (screen.height() - 129) / 2));

  for (const TKvControlDesign& d : kKvControlDesigns) {
    SCOPED_TRACE(d.name);
    QWidget* w = window.Control(d.control);
    EXPECT_EQ(w->objectName(), d.name);
    EXPECT_EQ(window.Caption(d.control), d.caption);
    EXPECT_EQ(Shown(d.control), d.visible);
    if (!d.autoSize) {
      EXPECT_EQ(w->geometry(), QRect(d.left, d.top, d.width, d.height));
    }
    if (!d.isButton) {
      // The whole line of its font fits: nothing below the baseline is cut off.
      const QFontMetrics metrics(w->font());
      EXPECT_LE(metrics.ascent() + metrics.descent(), d.height);
      const Qt::Alignment horizontal = Label(d.control)->alignment() & Qt::AlignHorizontal_Mask;
      EXPECT_EQ(horizontal, d.rightAligned ? Qt::AlignRight : Qt::AlignLeft);
    }
  }
  // The folder label starts at its place and is as wide as its text.
  QLabel* folder = Label(TKvControl::lbAccesslogDir);
  EXPECT_EQ(folder->pos(), QPoint(8, 24));
  EXPECT_EQ(folder->width(), folder->fontMetrics().horizontalAdvance(folder->text()));
  EXPECT_EQ(Button(TKvControl::btnExecute)->nextInFocusChain(), Button(TKvControl::btnStop));
}

TEST_F(WindowTest, AnchorsHoldOnResizeAndAutoSizedLabelsFollowTheirText) {
  window.resize(714, 152);
  window.show();
  EXPECT_EQ(window.Control(TKvControl::btnExecute)->geometry(), QRect(632, 121, 75, 25));
  EXPECT_EQ(window.Control(TKvControl::btnStop)->geometry(), QRect(632, 121, 75, 25));
  EXPECT_EQ(window.Control(TKvControl::Label1)->geometry(), QRect(8, 8, 113, 12));
  EXPECT_EQ(window.Control(TKvControl::Label2)->geometry(), QRect(8, 121, 264, 12));
  EXPECT_EQ(window.Control(TKvControl::Label3)->geometry(), QRect(8, 137, 314, 12));

  window.SetCaption(TKvControl::lbProgress, "チェック数: 123 / 456");
  const QRect progress = window.Control(TKvControl::lbProgress)->geometry();
  EXPECT_EQ(progress.x() + progress.width(), 626);  // the right edge stays
  EXPECT_EQ(progress.y(), 116);
  EXPECT_GT(progress.width(), 26);
  window.SetCaption(TKvControl::lbAccesslogDir, "C:\\Kestrova\\accesslog\\");
  EXPECT_EQ(window.Control(TKvControl::lbAccesslogDir)->pos(), QPoint(8, 24));
  EXPECT_EQ(window.Caption(TKvControl::lbAccesslogDir), "C:\\Kestrova\\accesslog\\");
}

TEST_F(WindowTest, WholeRunShowsCompletionWithWaitCursorAndReturnsToIdle) {
  WriteFile(dir.Native("a.log"), kNeedsCorrection);
  WriteFile(dir.Native("b.log"), "\"b\"\r\n");
  WriteFile(dir.Native("c.log"), "\"c\"\r\n");
  window.SetFolder(dir.System());
  window.show();
  const Observed seen = Execute();
  EXPECT_TRUE(seen.sawRunning);
  EXPECT_TRUE(seen.waitCursorWhileRunning);
  EXPECT_TRUE(seen.runningControlsRight);
  EXPECT_FALSE(seen.bothButtonsShown);
  EXPECT_EQ(seen.boxes, 1);
  EXPECT_EQ(seen.boxText, QString::fromUtf8("完了しました"));
  EXPECT_EQ(seen.boxIcon, TKvMessageDialog::TIcon::None);
  EXPECT_TRUE(seen.boxInTheWindowsFont);
  EXPECT_EQ(seen.progressAtBox, QString::fromUtf8("チェック数: 3 / 3"));
  EXPECT_EQ(seen.progress2AtBox, QString::fromUtf8("更新数: 1"));
  EXPECT_EQ(ReadFile(dir.Native("a.log")), kCorrected);
  ExpectIdle();
}

TEST_F(WindowTest, ErrorIsShownWithTheStopIconAndTheWindowStaysUsable) {
  WriteFile(dir.Native("a.log"), kNeedsCorrection);
  mkdir(dir.Native("a.log.temp").c_str(), 0755);
  window.SetFolder(dir.System());
  window.show();
  const Observed seen = Execute();
  EXPECT_EQ(seen.boxes, 1);
  EXPECT_EQ(seen.boxIcon, TKvMessageDialog::TIcon::Error);
  EXPECT_TRUE(seen.boxInTheWindowsFont);
  EXPECT_TRUE(seen.boxText.contains(QString::fromUtf8("を作成できません"))) << seen.boxText.toStdString();
  ExpectIdle();
  EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowTest, StopClickEndsTheRunWithoutCompletion) {
  for (const char* name : {"a.log", "b.log", "c.log"}) WriteFile(dir.Native(name), kNeedsCorrection);
  window.SetFolder(dir.System());
  window.show();
  const Observed seen = Execute([&] { Button(TKvControl::btnStop)->click(); });
  EXPECT_EQ(seen.boxes, 0);
  EXPECT_EQ(Label(TKvControl::lbProgress)->text(), QString::fromUtf8("チェック数: 1 / 3"));
  ExpectIdle();
}

TEST_F(WindowTest, ClosingDuringARunStopsItAndThenCloses) {
  for (const char* name : {"a.log", "b.log", "c.log"}) WriteFile(dir.Native(name), kNeedsCorrection);
  window.SetFolder(dir.System());
  window.show();
  const Observed seen = Execute([&] { window.close(); });
  EXPECT_EQ(seen.boxes, 0);
  EXPECT_EQ(Label(TKvControl::lbProgress)->text(), QString::fromUtf8("チェック数: 1 / 3"));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, TerminateEndsTheEventLoop) {
  window.show();
  window.Terminate();
  QTimer::singleShot(30000, [] { QCoreApplication::exit(1); });  // only if the loop would not end
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(window.Terminated());
  EXPECT_FALSE(window.isVisible());
}

// SIGTERM or SIGINT ends the window as it ends the console: a run after its
// current file, with no temporary file left, and then the application. The
// signal's mark stays for the process, so each case holds whichever came first.
TEST_F(WindowTest, AStopSignalEndsTheRunAfterTheCurrentFileAndThenTheApplication) {
  const std::vector<std::string> names = {"a.log", "b.log", "c.log"};
  for (const std::string& name : names) WriteFile(dir.Native(name), kNeedsCorrection);
  window.SetFolder(dir.System());
  window.EndOnStopSignals();
  window.show();
  Observed seen;
  QTimer::singleShot(0, [&] { seen = Execute([] { std::raise(SIGTERM); }); });
  EXPECT_EQ(LoopUntilItEnds(), 0);
  EXPECT_TRUE(window.StopSignalled());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(seen.boxes, 0);
  EXPECT_EQ(Label(TKvControl::lbProgress)->text(), QString::fromUtf8("チェック数: 1 / 3"));
  int corrected = 0;
  for (const std::string& name : names) {
    corrected += ReadFile(dir.Native(name)) == kCorrected;
    EXPECT_FALSE(testing_support::Exists(dir.Native(name + ".temp"))) << name;
  }
  EXPECT_EQ(corrected, 1);

  // An idle window closes at once.
  TKvUpdaterWindow idle;
  idle.EndOnStopSignals();
  idle.show();
  QTimer::singleShot(0, [] { std::raise(SIGINT); });
  EXPECT_EQ(LoopUntilItEnds(), 0);
  EXPECT_TRUE(idle.StopSignalled());
  EXPECT_FALSE(idle.isVisible());
}

}  // namespace
