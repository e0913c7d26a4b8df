// The console front end and the diagnostic channel: an error of the system's
// own kind reaches the dispatcher, and a dispatcher that does not serve costs
// the program a bounded time.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/DispatcherProcess.h"
#include "diagnostics/TSIntf.h"
#include "support/Isolation.h"
#include "support/OutputCapture.h"
#include "support/ProcessHelper.h"

using testing_support::DispatcherProcess;
using testing_support::JsonField;
using testing_support::OutputLines;
using testing_support::ScopedEnv;

namespace {

std::string U8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

class ConsoleDiagnostics : public ::testing::Test {
 protected:
  ConsoleDiagnostics() {
    std::filesystem::create_directory(Rt.Dir.Native("web"));
    std::filesystem::create_directory(Rt.Dir.Native("logs"));
    testing_support::WriteFile(Rt.Dir.Native("kestrova.ini"), "[Kestrova]\r\nwebdocroot=" + Rt.Dir.System("web") +
                                                                  "\r\naccesslog_dir=" + Rt.Dir.System("logs") +
                                                                  "\r\njava_home=" + Rt.Dir.System("no java") + "\r\n");
  }

  // Checks a configuration whose Java folder is missing, an error raised
  // with the system's own exception; how long the program took, in `took`.
  testing_support::CapturedRun CheckConfig(std::chrono::milliseconds& took) {
    const auto start = std::chrono::steady_clock::now();
    testing_support::CapturedRun run =
        testing_support::RunCapturingOutput(testing_support::BuiltProgram("KvAccesslogRepair"),
                                            {"--check-config", "--config", Rt.Dir.Native("kestrova.ini")});
    took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "config.iniが不正です\njava_homeフォルダが見つかりません\n");
    return run;
  }

  testing_support::IsolatedRuntime Rt;
  ScopedEnv Data{"KESTROVA_PROGRAMDATA", Rt.Dir.Native("data")};
  std::string Out = Rt.Dir.Native("dispatcher out.jsonl");
};

}  // namespace

TEST_F(ConsoleDiagnostics, ErrorsReachTheDispatcher) {
  DispatcherProcess dispatcher(Out, {}, Rt.Dir.Native("dispatcher errors.txt"));
  ASSERT_NE(dispatcher.Window(), 0u);
  std::chrono::milliseconds took{};
  CheckConfig(took);
  // The session the program opened, its message, and the session's close
  // when the program ended.
  const auto lines = OutputLines(Out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(JsonField(lines[0], "type"), "41");
  EXPECT_EQ(JsonField(lines[1], "type"), "1");
  EXPECT_EQ(JsonField(lines[1], "text"), U8(u8"Error java_homeフォルダが見つかりません"));
  EXPECT_EQ(JsonField(lines[1], "app"), "KvAccesslogRepair");
  EXPECT_NE(JsonField(lines[1], "pid"), std::to_string(testing_support::OsProcessId()));
  EXPECT_EQ(JsonField(lines[2], "type"), "42");
  EXPECT_EQ(JsonField(lines[2], "session"), JsonField(lines[0], "session"));
}

// Nothing to deliver to and nothing to start: the program runs as it always
// did, without waiting for anything.
TEST_F(ConsoleDiagnostics, WithoutADispatcherNothingIsWaitedFor) {
  testing_support::ScopedDispatcherPath nowhere(Rt, testing_support::NoDispatcherPath());
  std::chrono::milliseconds took{};
  const testing_support::CapturedRun run = CheckConfig(took);
  EXPECT_EQ(run.out, "");
  EXPECT_LT(took.count(), kTSDeliveryTimeoutMs);
}

#ifndef _WIN32
// A dispatcher that is stopped, its queue full of messages it will not take
// (or with room left), costs the program the delivery's time limit at most;
// once it runs again it serves the next program.
TEST_F(ConsoleDiagnostics, StoppedDispatcherCostsABoundedTime) {
  DispatcherProcess dispatcher(Out, {}, Rt.Dir.Native("dispatcher errors.txt"));
  const platform::WindowHandle window = dispatcher.Window();
  ASSERT_NE(window, 0u);
  for (const bool fullQueue : {false, true}) {
    SCOPED_TRACE(fullQueue ? "full queue" : "queue with room");
    ASSERT_EQ(kill(static_cast<pid_t>(dispatcher.Pid()), SIGSTOP), 0);
    if (fullQueue) {
      // More messages than the queue holds, sent at once.
      std::atomic<int> delivered{0};
      std::vector<std::thread> senders;
      for (int i = 0; i < 100; ++i)
        senders.emplace_back([&] { delivered += static_cast<int>(platform::SendCopyData(window, 1, "x", 1, 500)); });
      for (auto& s : senders) s.join();
      EXPECT_EQ(delivered, 0);
    }
    std::chrono::milliseconds took{};
    CheckConfig(took);
    EXPECT_LT(took.count(), kTSDeliveryTimeoutMs + 2000);
    ASSERT_EQ(kill(static_cast<pid_t>(dispatcher.Pid()), SIGCONT), 0);
  }
  // Running again, the dispatcher serves the next program.
  std::chrono::milliseconds took{};
  CheckConfig(took);
  const auto lines = OutputLines(Out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(JsonField(lines[lines.size() - 2], "text"), U8(u8"Error java_homeフォルダが見つかりません"));
  EXPECT_EQ(JsonField(lines.back(), "type"), "42");
}
#endif
