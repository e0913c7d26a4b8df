// The console front end run as a process on temporary folders.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SampleLogs.h"
#include "platform/CodePage.h"
#include "platform/Folder.h"
#include "support/OutputCapture.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

#ifdef _WIN32
// The test run always names the folder (see TestEnvironment.cpp).
std::string Program() { return std::string(std::getenv("KV_BIN_DIR")) + "\\KvAccesslogRepair.exe"; }
#else
// Beside the test program unless the test run names the folder.
std::string Program() {
  if (const char* bin = std::getenv("KV_BIN_DIR")) return std::string(bin) + "/KvAccesslogRepair";
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
  return path.substr(0, path.rfind('/') + 1) + "KvAccesslogRepair";
}
#endif

using Outcome = testing_support::CapturedRun;

Outcome RunRepair(const std::vector<std::string>& args, const std::string& workingFolder = "") {
  return testing_support::RunCapturingOutput(Program(), args, workingFolder);
}

#ifndef _WIN32

// A running KvAccesslogRepair with its standard output and error captured;
// with a terminal, standard error is the slave side of a pseudo terminal.
class Child {
 public:
  explicit Child(const std::vector<std::string>& args, bool errorOnTerminal = false) {
    int out[2], err[2];
    if (pipe(out) != 0) ADD_FAILURE() << "pipe";
    int errWrite;
    if (errorOnTerminal) {
      FErr = posix_openpt(O_RDWR | O_NOCTTY);
      if (FErr < 0 || grantpt(FErr) != 0 || unlockpt(FErr) != 0) ADD_FAILURE() << "pty";
      errWrite = open(ptsname(FErr), O_RDWR | O_NOCTTY);
    } else {
      if (pipe(err) != 0) ADD_FAILURE() << "pipe";
      FErr = err[0];
      errWrite = err[1];
    }
    FPid = fork();
    if (FPid == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      dup2(out[1], 1);
      dup2(errWrite, 2);
      std::vector<char*> argv;
      std::string program = Program();
      argv.push_back(program.data());
      std::vector<std::string> copy = args;
      for (std::string& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(errWrite);
    FOut = out[0];
  }

  pid_t Pid() const { return FPid; }

  Outcome Finish() {
    Outcome result;
    testing_support::ReadBothToEnd(FOut, FErr, result.out, result.err, 60000);
    int status = 0;
    waitpid(FPid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

 private:
  pid_t FPid = -1;
  int FOut = -1;
  int FErr = -1;
};

// The log files of a folder in the order a directory search meets them.
std::vector<std::string> SearchOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  while (dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".log") names.push_back(name);
  }
  closedir(dir);
  return names;
}
#endif

TEST(ConsoleTest, OptionsAndUsage) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool usageOnOut, usageOnErr;
  } cases[] = {
      {{"--help"}, 0, true, false},
      {{"-h"}, 0, true, false},
      {{"--bogus"}, 2, false, true},
      {{"--folder"}, 2, false, true},
      {{"--config"}, 2, false, true},
      {{"--config="}, 2, false, true},
      {{"--folder", "x", "--config", "y"}, 2, false, true},
      {{"--folder", "x", "--check-config"}, 2, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    const Outcome o = RunRepair(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out.find("Usage: KvAccesslogRepair [--config FILE] [--check-config]") != std::string::npos,
              c.usageOnOut);
    EXPECT_EQ(o.err.find("使い方: KvAccesslogRepair [--config ファイル] [--check-config]") != std::string::npos,
              c.usageOnErr);
    if (!c.usageOnOut) {
      EXPECT_EQ(o.out, "");
    }
  }
  const Outcome version = RunRepair({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("KvAccesslogRepair ", 0), 0u);
}

TEST(ConsoleTest, RepairsTheFolderAndPrintsTheCounts) {
  TempDir dir;
  WriteFile(dir.Native("a.log"), kNeedsCorrection);
  WriteFile(dir.Native("b.log"), kClean);
  WriteFile(dir.Native("c.log"), "x,y\n");
  std::filesystem::create_directory(dir.Native("old.log"));
  for (const std::string& folder : {dir.Native(), dir.System() + "\\"}) {
    SCOPED_TRACE(folder);
    const Outcome o = RunRepair({"--folder", folder});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out,
              "チェック数: 3 / 3\n更新数: " + std::string(folder == dir.Native() ? "1" : "0") + "\n完了しました\n");
    EXPECT_EQ(o.err, "");  // not a terminal: no progress line
  }
  EXPECT_EQ(ReadFile(dir.Native("a.log")), kCorrected);
  EXPECT_EQ(ReadFile(dir.Native("c.log")), "x,y\n");
  EXPECT_EQ(RunRepair({"--folder=" + dir.Native()}).status, 0);
  // A relative folder is the working folder's.
  EXPECT_EQ(RunRepair({"--folder", "."}, dir.Native()).out, "チェック数: 3 / 3\n更新数: 0\n完了しました\n");
}

TEST(ConsoleTest, ErrorEndsTheRunWithStatusOne) {
  TempDir dir;
  WriteFile(dir.Native("a.log"), kNeedsCorrection);
  std::filesystem::create_directory(dir.Native("a.log.temp"));  // the temporary file cannot be created
  const Outcome o = RunRepair({"--folder", dir.Native()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "チェック数: 0 / 1\n更新数: 0\n");
  EXPECT_NE(o.err.find("a.log.temp"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("を作成できません\n"), std::string::npos) << o.err;
  EXPECT_EQ(ReadFile(dir.Native("a.log")), kNeedsCorrection);

  const Outcome missing = RunRepair({"--folder", dir.Native("gone")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "アクセスログフォルダが見つかりません\n" + dir.Native("gone") + "\n");
}

// Another repair holds the folder (here the test itself, as a scheduled run
// would): this one stops before it changes anything.
TEST(ConsoleTest, ASecondRepairOfTheFolderStopsBeforeChangingAnything) {
  TempDir dir;
  WriteFile(dir.Native("a.log"), kNeedsCorrection);
  platform::Folder held;
  ASSERT_EQ(held.Open(dir.System()), 0);
  bool busy = true;
  ASSERT_EQ(held.Lock(busy), 0);
  ASSERT_FALSE(busy);
  const Outcome o = RunRepair({"--folder", dir.System()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "フォルダ \"" + held.Path() + "\" は別の修正処理が実行中のため修正できません\n");
  EXPECT_EQ(ReadFile(dir.Native("a.log")), kNeedsCorrection);
  EXPECT_FALSE(testing_support::Exists(dir.Native("a.log.temp")));
}

// A log whose name the system form cannot hold stays as it is; the run is
// not done while it does, and names it on standard error.
TEST(ConsoleTest, LogsTheRunCannotTakeAreNamedOnStandardError) {
  TempDir dir;
  WriteFile(dir.Native("ok.log"), kNeedsCorrection);
#ifdef _WIN32
  // No "é" in the code page.
  std::ofstream(std::filesystem::path(dir.Native()) / L"caf\u00e9.log", std::ios::binary) << kNeedsCorrection;
  const std::string shown = dir.System(platform::FromWide(u"caf\u00e9.log"));
#else
  WriteFile(dir.Native("a\\b.log"), kNeedsCorrection);  // a backslash delimits system paths
  const std::string shown = dir.Native("a\\b.log");
#endif
  const Outcome o = RunRepair({"--folder", dir.System()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "チェック数: 1 / 1\n更新数: 1\n完了しました\n");
  EXPECT_EQ(o.err, "ファイル \"" + shown + "\" はファイル名を扱えないため修正できません\n");
  EXPECT_EQ(ReadFile(dir.Native("ok.log")), kCorrected);
}

TEST(ConsoleTest, ProgressIsOneUpdatingLineOnATerminal) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a pseudo terminal; a Windows console is not a stream a test can read";
#else
  TempDir dir;
  WriteFile(dir.Native("a.log"), kNeedsCorrection);
  WriteFile(dir.Native("b.log"), kClean);
  const Outcome o = Child({"--folder", dir.Native()}, true).Finish();
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "チェック数: 2 / 2\n更新数: 1\n完了しました\n");
  EXPECT_EQ(o.err.find('\n'), std::string::npos) << o.err;
  EXPECT_EQ(o.err.rfind("\rチェック数: 0 / 2  更新数: 0\x1b[K", 0), 0u) << o.err;
  EXPECT_NE(o.err.find("\rチェック数: 2 / 2  更新数: 1\x1b[K"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.substr(o.err.size() - 4), "\r\x1b[K");  // cleared at the end
#endif
}

// The signal arrives while the second file is being opened: the test holds a
// write lease on it, so the opening waits until the test lets go.
TEST(ConsoleTest, StopSignalEndsTheRunAfterTheCurrentFile) {
#ifdef _WIN32
  GTEST_SKIP() << "needs POSIX signals and a write lease to stop the run at a known file";
#else
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TempDir dir;
    for (const char* name : {"a.log", "b.log", "c.log", "d.log", "e.log"})
      WriteFile(dir.Native(name), kNeedsCorrection);
    const std::vector<std::string> order = SearchOrder(dir.Native());
    ASSERT_EQ(order.size(), 5u);

    sigset_t leaseSignal, old;
    sigemptyset(&leaseSignal);
    sigaddset(&leaseSignal, SIGIO);
    sigprocmask(SIG_BLOCK, &leaseSignal, &old);
    const int held = open(dir.Native(order[1]).c_str(), O_RDONLY);
    ASSERT_EQ(fcntl(held, F_SETLEASE, F_WRLCK), 0) << "leases unavailable";

    Child child({"--folder", dir.Native()});
    const timespec limit{60, 0};
    const int got = sigtimedwait(&leaseSignal, nullptr, &limit);
    kill(child.Pid(), signal);
    fcntl(held, F_SETLEASE, F_UNLCK);
    close(held);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    ASSERT_EQ(got, SIGIO) << "the run never opened the second file";

    const Outcome o = child.Finish();
    EXPECT_EQ(o.status, 130);
    EXPECT_EQ(o.out, "チェック数: 2 / 5\n更新数: 2\n");
    EXPECT_EQ(o.err, "");
    for (std::size_t i = 0; i < order.size(); ++i)
      EXPECT_EQ(ReadFile(dir.Native(order[i])), i < 2 ? kCorrected : kNeedsCorrection) << order[i];
  }
#endif
}

}  // namespace
