#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <set>
#include <vector>

#include "platform/Guid.h"
#include "platform/Process.h"
#include "support/Isolation.h"

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
  EXPECT_EQ(platform::CurrentProcessId(), static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(platform::CurrentThreadId(), static_cast<std::uint32_t>(gettid()));
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

TEST(Process, InputIdleWaitIsBounded) {
  testing_support::IsolatedRuntime rt;
  // A process that neither registers a window nor ends: the wait gives up.
  std::uint32_t pid = 0;
  ASSERT_EQ(platform::StartProcess("/bin/sleep 30", pid), 0);
  EXPECT_FALSE(platform::WaitForInputIdle(pid, 300));
  kill(static_cast<pid_t>(pid), SIGKILL);
  waitpid(static_cast<pid_t>(pid), nullptr, 0);
}
