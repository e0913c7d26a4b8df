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
#include <thread>
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
  // An inheritable handle that the child must not receive.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE semaphore = CreateSemaphoreW(&inheritable, 3, 10, nullptr);
  ASSERT_NE(semaphore, nullptr);
  std::uint32_t pid = 0;
  // Ended without a window: that ends the wait, long before its limit.
  EXPECT_NE(platform::StartWindowedProcess("\"" + program + "\" record \"" + out + "\" " +
                                               std::to_string(reinterpret_cast<std::uintptr_t>(semaphore)) +
                                               " one \"two words\" th\\\"ree",
                                           10000, pid),
            0);
  EXPECT_NE(pid, 0u);
  EXPECT_EQ(ReadFile(out), "[one][two words][th\"ree]");
  // Its standard error is the null device's.
  EXPECT_EQ(ReadFile(out + ".handles"), "no semaphore stderr");
  CloseHandle(semaphore);

  // A bare name gets ".exe"; a name ending in ".exe" is also found without it.
  std::filesystem::copy_file(child, dir.System("tool.exe"));
  std::filesystem::copy_file(child, dir.System("plain"));
  platform::StartWindowedProcess(dir.System("tool") + " record " + dir.System("tool.ran") + " 0", 10000, pid);
  EXPECT_TRUE(testing_support::Exists(dir.System("tool.ran")));
  platform::StartWindowedProcess(dir.System("plain.EXE") + " record " + dir.System("plain.ran") + " 0", 10000, pid);
  EXPECT_TRUE(testing_support::Exists(dir.System("plain.ran")));

  for (const std::string& missing :
       {dir.System("absent.exe"), std::string("kv-no-such-program-anywhere.exe"), std::string()}) {
    EXPECT_NE(platform::StartWindowedProcess(missing, 10000, pid), 0) << missing;
    EXPECT_EQ(pid, 0u);
  }
}

#else
TEST(Process, StartsProgramsWithTheirArgumentsAndReportsMissingOnes) {
  testing_support::IsolatedRuntime rt;
  TempDir dir;
  const std::string script = dir.Native("echo args.sh");
  WriteFile(script,
            "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.out\"\n"
            "ls /proc/self/fd > \"$0.fds\"\n"
            "out=$(readlink /proc/$$/fd/1); echo \"$out\" > \"$0.stdout\"\n"
            "echo \"$$ $(cut -d' ' -f6 /proc/$$/stat)\" > \"$0.session\"\n");
  chmod(script.c_str(), 0700);
  std::uint32_t pid = 0;
  // Ended without a window: that ends the wait, long before its limit.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(platform::StartWindowedProcess("\"" + script + "\" one \"two words\" th\\\"ree", 10000, pid), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(pid, 0u);
  EXPECT_EQ(ReadFile(script + ".out"), "[one][two words][th\"ree]");
  // The standard handles (on the null device, and the one ls opens) alone
  // reach the child, which leads a session of its own.
  EXPECT_EQ(ReadFile(script + ".fds"), "0\n1\n2\n3\n");
  EXPECT_EQ(ReadFile(script + ".stdout"), "/dev/null\n");
  EXPECT_EQ(ReadFile(script + ".session"), std::to_string(pid) + " " + std::to_string(pid) + "\n");

  // A name ending in ".exe" is found without that ending.
  const std::string exe = dir.Native("tool");
  WriteFile(exe, "#!/bin/sh\ntouch \"$0.ran\"\n");
  chmod(exe.c_str(), 0700);
  platform::StartWindowedProcess(exe + ".EXE", 10000, pid);
  EXPECT_TRUE(testing_support::Exists(exe + ".ran"));

  for (const std::string& missing :
       {dir.Native("absent.exe"), std::string("kv-no-such-program-anywhere.exe"), std::string()}) {
    EXPECT_NE(platform::StartWindowedProcess(missing, 10000, pid), 0) << missing;
    EXPECT_EQ(pid, 0u);
  }
}

#endif

// A program that registers no window within the limit is ended, with what it
// started, so that nothing is left running.
TEST(Process, ProgramWithoutWindowIsEndedAtTheLimit) {
  testing_support::IsolatedRuntime rt;
  TempDir dir;
#ifdef _WIN32
  const std::string command = "kv_test_child.exe sleep 30000";  // found beside this program
#else
  const std::string script = dir.Native("stuck.sh");
  WriteFile(script, "#!/bin/sh\nsleep 30 &\necho $! > \"$0.child\"\nwait\n");
  chmod(script.c_str(), 0700);
  const std::string command = script;
#endif
  std::uint32_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(platform::StartWindowedProcess(command, 300, pid), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(testing_support::ProcessEnded(pid, 2000));
#ifndef _WIN32
  const std::string child = ReadFile(script + ".child");
  ASSERT_FALSE(child.empty());
  EXPECT_TRUE(testing_support::ProcessEnded(static_cast<std::uint32_t>(std::stoul(child)), 2000));
#endif
}
