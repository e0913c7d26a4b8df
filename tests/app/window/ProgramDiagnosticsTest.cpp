// The window program as the user starts it, beside its configuration: an
// error of the system's own kind met at start reaches the dispatcher.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "diagnostics/DispatcherProcess.h"
#include "support/Isolation.h"
#include "support/ProcessHelper.h"

using testing_support::JsonField;
using testing_support::OutputLines;

TEST(ProgramDiagnostics, ErrorsAtStartReachTheDispatcher) {
  testing_support::IsolatedRuntime rt;
  testing_support::ScopedEnv platform{"QT_QPA_PLATFORM", "offscreen"};
  testing_support::ScopedEnv data{"KESTROVA_PROGRAMDATA", rt.Dir.Native("data")};
  for (const char* folder : {"bin", "web", "logs"}) std::filesystem::create_directory(rt.Dir.Native(folder));
  std::filesystem::copy_file(std::string(std::getenv("KV_BIN_DIR")) + "/KvAccesslogUpdater",
                             rt.Dir.Native("bin/KvAccesslogUpdater"));
  testing_support::WriteFile(rt.Dir.Native("bin/kestrova.ini"),
                             "[Kestrova]\r\nwebdocroot=" + rt.Dir.System("web") + "\r\naccesslog_dir=" +
                                 rt.Dir.System("logs") + "\r\njava_home=" + rt.Dir.System("no java") + "\r\n");
  const std::string out = rt.Dir.Native("dispatcher.jsonl");
  testing_support::DispatcherProcess dispatcher(out, {}, rt.Dir.Native("dispatcher errors.txt"));
  ASSERT_NE(dispatcher.Window(), 0u);

  // The program shows why it cannot go on and waits for the user; by then
  // the message has gone out.
  testing_support::TestProcess program({rt.Dir.Native("bin/KvAccesslogUpdater")}, rt.Dir.Native("errors.txt"));
  std::vector<std::string> lines;
  for (int i = 0; i < 1000 && lines.size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    lines = OutputLines(out);
  }
  program.Stop();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(JsonField(lines[0], "type"), "41");
  EXPECT_EQ(JsonField(lines[1], "type"), "1");
  EXPECT_EQ(JsonField(lines[1], "text"), "Error java_homeフォルダが見つかりません");
  EXPECT_EQ(JsonField(lines[1], "app"), "KvAccesslogUpdater");
}
