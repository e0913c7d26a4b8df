// The console front end run as a process on temporary folders.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
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

#include "ConsoleProcess.h"
#include "SampleLogs.h"
#include "platform/CodePage.h"
#include "platform/Folder.h"
#include "platform/Path.h"
#include "support/OutputCapture.h"
#include "support/TestSupport.h"

using console_test::Program;
using console_test::ReplacedLine;
using console_test::RunRepair;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

using Outcome = testing_support::CapturedRun;

#ifndef _WIN32

// A running KvAccesslogRepair with its standard output and error captured;
// with a terminal, standard error (and input) is the slave side of a pseudo
// terminal, which is the child's controlling terminal.
class Child {
 public:
  explicit Child(const std::vector<std::string>& args, bool errorOnTerminal = false) {
    int out[2], err[2];
    if (pipe(out) != 0) ADD_FAILURE() << "pipe";
    int errWrite = -1;
    if (errorOnTerminal) {
      FErr = posix_openpt(O_RDWR | O_NOCTTY);
      if (FErr < 0 || grantpt(FErr) != 0 || unlockpt(FErr) != 0) ADD_FAILURE() << "pty";
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
      if (errorOnTerminal) {
        // A session of its own whose terminal is the pseudo terminal: what
        // the test types there (Ctrl+C) reaches the child as from a user.
        setsid();
        errWrite = open(ptsname(FErr), O_RDWR);
        dup2(errWrite, 0);
      }
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
    if (errWrite >= 0) close(errWrite);
    FOut = out[0];
  }

  pid_t Pid() const { return FPid; }
  // Types on the child's terminal.
  void Type(const std::string& keys) { EXPECT_EQ(write(FErr, keys.data(), keys.size()), ssize_t(keys.size())); }
  // Reads standard error until text has come the given number of times.
  bool WaitForError(const std::string& text, int times) {
    for (pollfd p{FErr, POLLIN, 0};;) {
      int seen = 0;
      for (std::size_t at = 0; (at = FEarlyErr.find(text, at)) != std::string::npos; at += text.size()) ++seen;
      if (seen >= times) return true;
      char buffer[4096];
      if (poll(&p, 1, 20000) <= 0) return false;
      const ssize_t n = read(FErr, buffer, sizeof buffer);
      if (n <= 0) return false;
      FEarlyErr.append(buffer, static_cast<std::size_t>(n));
    }
  }

  Outcome Finish() {
    Outcome result;
    testing_support::ReadBothToEnd(FOut, FErr, result.out, result.err, 60000);
    result.err.insert(0, FEarlyErr);
    int status = 0;
    waitpid(FPid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

 private:
  pid_t FPid = -1;
  int FOut = -1;
  int FErr = -1;
  std::string FEarlyErr;
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

// A mistake is named in one line, with a pointer to the help, not the
// whole usage.
TEST(ConsoleTest, OptionsAndUsage) {
  const struct {
    std::vector<std::string> args;
    std::string mistake;
  } mistakes[] = {
      {{"--bogus"}, "不明なオプションです: --bogus"},
      {{"-x", "--folder", "."}, "不明なオプションです: -x"},
      {{"D:\\logs"}, "フォルダは --folder で指定してください: D:\\logs"},
      {{"--folder"}, "--folder にはフォルダを指定してください"},
      {{"--folder="}, "--folder にはフォルダを指定してください"},
      {{"--folder", "--check"}, "--folder にはフォルダを指定してください"},
      {{"--config"}, "--config にはファイルを指定してください"},
      {{"--config="}, "--config にはファイルを指定してください"},
      {{"--backup"}, "--backup にはフォルダを指定してください"},
      {{"--report", "--keep-going"}, "--report にはファイルを指定してください"},
      {{"--report", "logs/"}, "--report にはファイルを指定してください"},
      {{"--folder", "x", "--folder=y"}, "--folder は1回だけ指定してください"},
      {{"--folder", "x", "--config", "y"}, "--folder と --config は同時に指定できません"},
      {{"--folder", "x", "--check-config"}, "--check-config と --folder は同時に指定できません"},
      {{"--check-config", "--check"}, "--check-config と --check は同時に指定できません"},
      {{"--check", "--backup", "x"}, "--check と --backup は同時に指定できません"},
  };
  for (const auto& c : mistakes) {
    SCOPED_TRACE(c.mistake);
    const Outcome o = RunRepair(c.args);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.mistake + "\n" + console_test::kSeeHelp);
  }
  for (const char* help : {"--help", "-h", "/?"}) {
    const Outcome o = RunRepair({help});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    for (const char* line : {"使い方: KvAccesslogRepair [--config ファイル] [オプション]",
                             "Usage: KvAccesslogRepair [--config FILE] [OPTIONS]",
                             "終了コード: 0 完了 (--check: 修正の必要なし), 1 エラー,",
                             "Exit status: 0 done (--check: nothing to repair), 1 error,"})
      EXPECT_NE(o.out.find(line), std::string::npos) << help << ": " << line;
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
    EXPECT_EQ(o.out, folder == dir.Native() ? ReplacedLine(platform::ShownPath(dir.System("a.log")), 1) +
                                                  "チェック数: 3 / 3\n更新数: 1\n完了しました\n"
                                            : "チェック数: 3 / 3\n更新数: 0\n完了しました\n");
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
  EXPECT_EQ(o.out, "");  // no counts: the run never counted the folder
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
  EXPECT_EQ(o.out, ReplacedLine(platform::ShownPath(dir.System("ok.log")), 1) +
                       "チェック数: 1 / 1\n更新数: 1\n完了しました\n");
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
  EXPECT_EQ(o.out, ReplacedLine(dir.Native("a.log"), 1) + "チェック数: 2 / 2\n更新数: 1\n完了しました\n");
  EXPECT_EQ(o.err.find('\n'), std::string::npos) << o.err;
  // Cleared twice: for the line of the replaced log, and at the end.
  EXPECT_EQ(o.err.find("\r\x1b[K"), o.err.rfind("\r\x1b[K", o.err.size() - 5)) << o.err;
  EXPECT_EQ(o.err.rfind("\rチェック数: 0 / 2  更新数: 0\x1b[K", 0), 0u) << o.err;
  EXPECT_NE(o.err.find("\rチェック数: 2 / 2  更新数: 1\x1b[K"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.substr(o.err.size() - 4), "\r\x1b[K");  // cleared at the end
#endif
}

// The stop arrives while the second file is being opened: the test holds a
// write lease on it, so the opening waits until the test lets go. The first
// stop is answered at once and ends the run after that file; a second one
// gives the file up at once, as it was.
TEST(ConsoleTest, StopEndsTheRunAfterTheCurrentFileAndASecondStopAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "needs POSIX signals and a write lease to stop the run at a known file";
#else
  const std::string notice = "ストップします: 現在のファイルの修正が終わると終了します";
  const struct {
    const char* how;
    int stops;
    bool typed;  // Ctrl+C on the terminal, or a signal sent by another process
  } cases[] = {{"Ctrl+C", 1, true}, {"SIGTERM", 1, false}, {"Ctrl+C twice", 2, true}, {"SIGINT, SIGTERM", 2, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
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

    Child child({"--folder", dir.Native(), "--report", dir.Native("report.json")}, c.typed);
    const timespec limit{60, 0};
    const int got = sigtimedwait(&leaseSignal, nullptr, &limit);
    for (int i = 0; i < c.stops; ++i) {
      // Each is seen before the next (two pending signals would be one):
      // the terminal echoes what it turns into a signal, and the first is
      // answered by the notice.
      if (c.typed) {
        child.Type("\x03");
        EXPECT_TRUE(child.WaitForError("^C", i + 1));
      } else {
        kill(child.Pid(), i == 0 ? SIGINT : SIGTERM);
      }
      if (i == 0) {
        EXPECT_TRUE(child.WaitForError(notice, 1));
      }
    }
    fcntl(held, F_SETLEASE, F_UNLCK);
    close(held);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    ASSERT_EQ(got, SIGIO) << "the run never opened the second file";

    const Outcome o = child.Finish();
    EXPECT_EQ(o.status, 130);
    const std::size_t done = c.stops == 1 ? 2 : 1;
    std::string out;
    for (std::size_t i = 0; i < done; ++i) out += ReplacedLine(dir.Native(order[i]), 1);
    EXPECT_EQ(out + "チェック数: " + std::to_string(done) + " / 5\n更新数: " + std::to_string(done) + "\n", o.out);
    // Answered as it came, before the end of the file.
    EXPECT_NE(o.err.find(notice), std::string::npos) << o.err;
    const std::string givenUp =
        "ファイル \"" + dir.Native(order[1]) + "\" の修正を中止しました (ファイルは元のままです)";
    EXPECT_EQ(o.err.find(givenUp) != std::string::npos, c.stops == 2) << o.err;
    for (std::size_t i = 0; i < order.size(); ++i)
      EXPECT_EQ(ReadFile(dir.Native(order[i])), i < done ? kCorrected : kNeedsCorrection) << order[i];
    EXPECT_FALSE(testing_support::Exists(dir.Native(order[1] + ".temp")));

    // The report names every log, the ones the stop left as skipped.
    std::string expected = "repair 130 stopped logs=5 replaced=" + std::to_string(done) +
                           " unchanged=0 needsRepair=0 skipped=" + std::to_string(5 - done) +
                           " failed=0 records=" + std::to_string(done) + " message=null\n";
    const std::string lines = console_test::ReportLines(dir.Native("report.json"));
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::string line = dir.Native(order[i]) + (i < done ? "|replaced|1|" : "|skipped|0|");
      EXPECT_NE(lines.find(line), std::string::npos) << line << "\n" << lines;
    }
    EXPECT_EQ(lines.substr(0, lines.find('\n') + 1), expected);
    if (c.stops == 2) {
      EXPECT_NE(lines.find(givenUp), std::string::npos) << lines;
    }
  }
#endif
}

}  // namespace
