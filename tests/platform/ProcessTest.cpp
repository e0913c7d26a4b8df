#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/Guid.h"
#include "platform/Process.h"
#include "support/Isolation.h"
#include "support/ProcessHelper.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(Process, CommandLinesSplitAsWindowsDoes) {
  using V = std::vector<std::string>;
  const struct {
    const char* line;
    V parts;
  } cases[] = {
      {"prog", {"prog"}},
      {"  prog  a   b ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\x.exe\" -v", {"C:\\Program Files\\x.exe", "-v"}},
      // No escapes in the program name; backslashes count only before quotes.
      {"C:\\a\\b\\ \"x y\" c\\d", {"C:\\a\\b\\", "x y", "c\\d"}},
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},
      {"p a\\\"b", {"p", "a\"b"}},
      {"p \"a\"\"b\" \"\"", {"p", "a\"b", ""}},
      {"p \"unterminated arg", {"p", "unterminated arg"}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::SplitCommandLine(c.line), c.parts) << c.line;
}

TEST(Process, IdsAndComputerName) {
  EXPECT_EQ(platform::CurrentProcessId(), testing_support::OsProcessId());
  EXPECT_EQ(platform::CurrentThreadId(), testing_support::OsThreadId());
  const std::string name = platform::ComputerName();
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(name.find('.'), std::string::npos);
  for (char c : name) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c))) << name;
  EXPECT_NE(platform::ProgramFileName().find("test_platform"), std::string::npos);
}

TEST(Process, GuidsAreRandomAndInTextForm) {
  // {XXXXXXXX-XXXX-4XXX-[89AB]XXX-XXXXXXXXXXXX}, upper-case hexadecimal
  auto wellFormed = [](const std::string& g) {
    if (g.size() != 38 || g.front() != '{' || g.back() != '}' || g[15] != '4' || !std::strchr("89AB", g[20]))
      return false;
    for (std::size_t i = 1; i < 37; ++i) {
      const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
      if (dash ? g[i] != '-' : !std::strchr("0123456789ABCDEF", g[i])) return false;
    }
    return true;
  };
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string g = platform::NewGuidText();
    ASSERT_TRUE(wellFormed(g)) << g;
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 200u);
}

#ifdef _WIN32
TEST(Process, StartsProgramsWithTheirArgumentsAndReportsMissingOnes) {
  TempDir dir;
  const std::string child = std::string(std::getenv("KV_BIN_DIR")) + "\\kv_test_child.exe";
  const std::string program = dir.System("echo args.exe");
  std::filesystem::copy_file(child, program);
  const std::string out = dir.System("out.txt");
  // An inheritable handle that only the standard handles' rule keeps from the child.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE semaphore = CreateSemaphoreW(&inheritable, 3, 10, nullptr);
  ASSERT_NE(semaphore, nullptr);
  std::uint32_t pid = 0;
  ASSERT_EQ(platform::StartProcess("\"" + program + "\" record \"" + out + "\" " +
                                       std::to_string(reinterpret_cast<std::uintptr_t>(semaphore)) +
                                       " one \"two words\" th\\\"ree",
                                   pid),
            0);
  EXPECT_FALSE(platform::WaitForInputIdle(pid, 10000));  // ended without a window
  EXPECT_EQ(ReadFile(out), "[one][two words][th\"ree]");
  EXPECT_EQ(ReadFile(out + ".handles"), "no semaphore stderr");
  CloseHandle(semaphore);

  // A bare name gets ".exe"; a name ending in ".exe" is also found without it.
  std::filesystem::copy_file(child, dir.System("tool.exe"));
  std::filesystem::copy_file(child, dir.System("plain"));
  ASSERT_EQ(platform::StartProcess(dir.System("tool") + " record " + dir.System("tool.ran") + " 0", pid), 0);
  platform::WaitForInputIdle(pid, 10000);
  EXPECT_TRUE(testing_support::Exists(dir.System("tool.ran")));
  ASSERT_EQ(platform::StartProcess(dir.System("plain.EXE") + " record " + dir.System("plain.ran") + " 0", pid), 0);
  platform::WaitForInputIdle(pid, 10000);
  EXPECT_TRUE(testing_support::Exists(dir.System("plain.ran")));

  EXPECT_NE(platform::StartProcess(dir.System("absent.exe"), pid), 0);
  EXPECT_NE(platform::StartProcess("kv-no-such-program-anywhere.exe", pid), 0);
  EXPECT_NE(platform::StartProcess("", pid), 0);
}
#else
TEST(Process, StartsProgramsWithTheirArgumentsAndReportsMissingOnes) {
  testing_support::IsolatedRuntime rt;
  TempDir dir;
  const std::string script = dir.Native("echo args.sh");
  WriteFile(script,
            "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.out\"\n"
            "ls /proc/self/fd > \"$0.fds\"\n");
  chmod(script.c_str(), 0700);
  std::uint32_t pid = 0;
  ASSERT_EQ(platform::StartProcess("\"" + script + "\" one \"two words\" th\\\"ree", pid), 0);
  EXPECT_FALSE(platform::WaitForInputIdle(pid, 10000));  // ended without a window
  EXPECT_EQ(ReadFile(script + ".out"), "[one][two words][th\"ree]");
  // Only the standard handles (and the one ls opens) reach the child.
  EXPECT_EQ(ReadFile(script + ".fds"), "0\n1\n2\n3\n");

  // A name ending in ".exe" is found without that ending.
  const std::string exe = dir.Native("tool");
  WriteFile(exe, "#!/bin/sh\ntouch \"$0.ran\"\n");
  chmod(exe.c_str(), 0700);
  ASSERT_EQ(platform::StartProcess(exe + ".EXE", pid), 0);
  platform::WaitForInputIdle(pid, 10000);
  EXPECT_TRUE(testing_support::Exists(exe + ".ran"));

  EXPECT_NE(platform::StartProcess(dir.Native("absent.exe"), pid), 0);
  EXPECT_NE(platform::StartProcess("kv-no-such-program-anywhere.exe", pid), 0);
  EXPECT_NE(platform::StartProcess("", pid), 0);
}

#endif

TEST(Process, InputIdleWaitIsBounded) {
  testing_support::IsolatedRuntime rt;
  // A process that neither registers a window nor ends: the wait gives up.
#ifdef _WIN32
  const std::string command = "kv_test_child.exe sleep 30000";  // found beside this program
#else
  const std::string command = "/bin/sleep 30";
#endif
  std::uint32_t pid = 0;
  ASSERT_EQ(platform::StartProcess(command, pid), 0);
  testing_support::TestProcess started(pid);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::WaitForInputIdle(pid, 300));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  started.Kill();
}
