// Other processes acting between two steps of a repair: a second repair of
// the same folder, a log rotated at the replace, a FIFO put in a log's place
// after the listing, the folder swapped for a link. The tracer holds the
// repair at a chosen call so that the other process acts exactly there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "reliability/Harness.h"
#include "support/TestSupport.h"

using namespace reliability;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

constexpr const char* kBusy = "は別の修正処理が実行中のため修正できません";
constexpr const char* kChanged = "は修正中に変更されました";

LogFile Tagged(const std::string& name, long mtime = 1700000000) {
  LogFile log{name, TaggedLine(name + ",x"), RepairedLine(name + ",x")};
  log.mtimeSeconds = mtime;
  return log;
}

// A log large enough that its repair takes a while (several read blocks).
LogFile Large(const std::string& name) {
  LogFile log{name, "", ""};
  for (int i = 0; log.before.size() < (6u << 20); ++i) {
    const std::string fields = "line" + std::to_string(i) + ",GET /index.html,200";
    log.before += TaggedLine(fields);
    log.repaired += RepairedLine(fields);
  }
  return log;
}

bool WaitFor(const std::function<bool()>& condition, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    usleep(1000);
  }
  return true;
}

// Runs the repair held by the tracer at one call (delay_enter there), and
// meanwhile act: once the repair holds the folder, and some time after, so
// that it has come to the held call.
RunResult RepairHeldAt(const std::string& folder, const std::string& syscall, int when,
                       const std::function<void()>& act) {
  RunResult result;
  std::thread run([&] {
    result = RepairTraced(
        folder, {"trace=" + syscall, "inject=" + syscall + ":delay_enter=4000000:when=" + std::to_string(when)});
  });
  EXPECT_TRUE(WaitFor([&] { return FolderBusy(folder); })) << "the repair never took the folder";
  usleep(1500000);
  act();
  run.join();
  return result;
}

// The number of the call a plain repair of the folder makes with these texts,
// from a traced run on a copy planted the same way.
int CallOfARun(const std::vector<LogFile>& logs, const std::string& syscall, const std::vector<std::string>& texts) {
  TempDir copy, scratch;
  Plant(copy.Native(), logs);
  const RunResult r = RepairTraced(copy.Native(), {"trace=" + syscall}, scratch.Native("trace"));
  EXPECT_EQ(r.status, 0) << r.err;
  return CallNumber(scratch.Native("trace"), texts);
}

}  // namespace

// Two repairs of one folder started a few milliseconds apart, as a scheduled
// run meeting a manual one: the later one stops before it changes anything,
// or runs after the first; no log loses a byte.
TEST(InterleavingTest, TwoRepairsAtAnyOffsetLoseNothing) {
  const std::vector<LogFile> logs = {Large("big.log"), Tagged("a.log"), Tagged("b.log")};
  int refused = 0;
  for (const int offsetMs : {0, 1, 2, 3, 5, 8, 13, 21, 34, 55, 89}) {
    SCOPED_TRACE("second run after " + std::to_string(offsetMs) + " ms");
    TempDir dir;
    Plant(dir.Native(), logs);
    RunResult first, second;
    std::thread a([&] { first = Repair(dir.Native()); });
    usleep(static_cast<useconds_t>(offsetMs) * 1000);
    second = Repair(dir.Native());
    a.join();
    for (const RunResult* r : {&first, &second}) {
      EXPECT_TRUE(r->status == 0 || (r->status == 1 && r->err.find(kBusy) != std::string::npos))
          << r->status << " " << r->err;
    }
    refused += (first.status != 0) + (second.status != 0);
    EXPECT_TRUE(first.status == 0 || second.status == 0);
    EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
  }
  RecordProperty("refused", refused);
}

// Made certain: the first repair is held at its replace, with its temporary
// file complete; the second stops at once and leaves that file alone.
TEST(InterleavingTest, TheLaterRepairStopsAndLeavesTheFirstOnesFileAlone) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  const std::vector<LogFile> logs = {Tagged("a.log")};
  Plant(dir.Native(), logs);
  RunResult second;
  struct stat before {
  }, after{};
  const RunResult first = RepairHeldAt(dir.Native(), "renameat2", 1, [&] {
    ASSERT_EQ(stat(dir.Native("a.log.temp").c_str(), &before), 0);
    second = Repair(dir.Native());
    ASSERT_EQ(stat(dir.Native("a.log.temp").c_str(), &after), 0);
  });
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "フォルダ \"" + dir.Native() + "\" " + kBusy + "\n");
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_size, after.st_size);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
}

// The log is rotated (renamed away, a new one made) while the repair is
// held at its replace: the new log stays in place, the rotated one keeps
// its bytes, and the run says the log changed.
TEST(InterleavingTest, RotationAtTheReplaceKeepsBothLogs) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  const LogFile log = Tagged("access.log");
  Plant(dir.Native(), {log});
  const std::string fresh = TaggedLine("fresh,y");
  const RunResult r = RepairHeldAt(dir.Native(), "renameat2", 1, [&] {
    ASSERT_EQ(rename(dir.Native("access.log").c_str(), dir.Native("access.log.1").c_str()), 0);
    testing_support::WriteFile(dir.Native("access.log"), fresh);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"" + dir.Native("access.log") + "\" " + kChanged), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(dir.Native("access.log")), fresh);
  EXPECT_EQ(ReadFile(dir.Native("access.log.1")), log.before);
  EXPECT_FALSE(Exists(dir.Native("access.log.temp")));
}

// A FIFO renamed over a log after the run examined it: the run neither
// hangs nor reads it, and says the log changed; the old log is untouched.
TEST(InterleavingTest, FifoPutInPlaceAfterTheListingIsNeverOpened) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  const std::vector<LogFile> logs = {Tagged("a.log")};
  // The open of the log (which comes right after its examination in the walk).
  const int open = CallOfARun(logs, "openat", {"\"a.log\"", "O_PATH"});
  ASSERT_GT(open, 0);
  TempDir dir;
  Plant(dir.Native(), logs);
  ASSERT_EQ(link(dir.Native("a.log").c_str(), dir.Native("kept").c_str()), 0);
  const RunResult r = RepairHeldAt(dir.Native(), "openat", open, [&] {
    ASSERT_EQ(mkfifo(dir.Native("fifo").c_str(), 0644), 0);
    ASSERT_EQ(rename(dir.Native("fifo").c_str(), dir.Native("a.log").c_str()), 0);
  });
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"" + dir.Native("a.log") + "\" " + kChanged), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(dir.Native("kept")), logs[0].before);
  EXPECT_FALSE(Exists(dir.Native("a.log.temp")));
}

// The folder is moved and a link to another folder put at its path while the
// run is held at its first replace: the run finishes its own folder and
// never touches the other.
TEST(InterleavingTest, FolderSwappedForALinkMidRunIsStillTheFolder) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  TempDir parent, other;
  const std::string folder = parent.Native("logs"), moved = parent.Native("moved");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::vector<LogFile> logs = {Tagged("a.log"), Tagged("b.log")}, theirs = {Tagged("c.log")};
  Plant(folder, logs);
  Plant(other.Native(), theirs);
  const RunResult r = RepairHeldAt(folder, "renameat2", 1, [&] {
    ASSERT_EQ(rename(folder.c_str(), moved.c_str()), 0);
    ASSERT_EQ(symlink(other.Native().c_str(), folder.c_str()), 0);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Totals(r.out), "チェック数: 2 / 2\n更新数: 2\n完了しました\n");
  EXPECT_EQ(CheckFolder(moved, logs, true), "");
  EXPECT_EQ(CheckFolder(other.Native(), theirs, false), "");
  EXPECT_EQ(ReadFile(other.Native("c.log")), theirs[0].before);
}
