// The window's start-up checks on the offscreen platform: the configured
// folder is shown, or a message says why not and the application ends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "app/qt/KvMessageDialog.h"
#include "app/qt/KvUpdaterWindow.h"
#include "config/KvVariants.h"
#include "platform/File.h"
#include "support/TestSupport.h"

using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class StartUpTest : public ::testing::Test {
 protected:
  StartUpTest() : FOldDataFolder(DataFolder) {
    DataFolder = dir.System("data") + "\\";
    platform::CreateDirectories(dir.System("web"));
    platform::CreateDirectories(dir.System("logs"));
    WriteFile(dir.Native("file"), "not a folder");
  }
  ~StartUpTest() override { DataFolder = FOldDataFolder; }

  // Starts the window on a document with these main section lines; the text
  // of the message shown, answered at once, or empty.
  QString Start(TKvUpdaterWindow& window, const std::string& lines) {
    WriteFile(dir.Native("kestrova.ini"), "[Kestrova]\r\nwebdocroot=" + dir.System("web") + "\r\n" + lines);
    QString text;
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      if (auto* box = dynamic_cast<TKvMessageDialog*>(QApplication::activeModalWidget())) {
        text = box->Text();
        box->OkButton()->click();
      }
    });
    watcher.start();
    window.FormCreate(dir.System("kestrova.ini"));
    watcher.stop();
    return text;
  }

  // The application's loop ends by itself once the start asked it to.
  static int LoopAfterStart() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(10000);
    return QApplication::exec();
  }

  TempDir dir;

 private:
  std::string FOldDataFolder;
};

TEST_F(StartUpTest, ShowsTheFolderAsConfigured) {
  for (const std::string& folder : {dir.System("logs"), dir.System("logs") + "\\"}) {
    TKvUpdaterWindow window;
    EXPECT_EQ(Start(window, "accesslog_dir=" + folder + "\r\n"), "");
    EXPECT_FALSE(window.Terminated());
    EXPECT_EQ(window.Caption(TKvControl::lbAccesslogDir), folder);
  }
}

TEST_F(StartUpTest, RefusalsEndTheApplication) {
  const struct {
    std::string lines;
    std::string message;
  } cases[] = {
      {"batch_log_duration=1\r\naccesslog_dir=" + dir.System("logs") + "\r\n",
       "config.iniが不正です\r\nbatch_log_durationは2以上の値を指定してください"},
      {"accesslog_dir=" + dir.System("gone") + "\r\n", "アクセスログフォルダが見つかりません\r\n" + dir.System("gone")},
      {"accesslog_dir=" + dir.System("file") + "\r\n", "アクセスログフォルダが見つかりません\r\n" + dir.System("file")},
      {"", "アクセスログフォルダが見つかりません\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    TKvUpdaterWindow window;
    EXPECT_EQ(Start(window, c.lines).toStdString(), c.message);
    EXPECT_TRUE(window.Terminated());
    EXPECT_TRUE(window.isHidden());
    EXPECT_EQ(window.Caption(TKvControl::lbAccesslogDir), "lbAccesslogDir");
    EXPECT_EQ(LoopAfterStart(), 0);
  }
}

}  // namespace
