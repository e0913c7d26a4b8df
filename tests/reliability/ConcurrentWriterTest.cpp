// A writer appends numbered records to a log while repairs run over its
// folder again and again: a repair may be refused while the file is busy,
// but no record may ever be lost or doubled.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "reliability/Harness.h"
#include "support/TestSupport.h"

using namespace reliability;
using testing_support::TempDir;

namespace {

std::string Record(int n) { return TaggedLine(std::to_string(n) + ",GET /index.html,200"); }

// Appends records 1, 2, ... one a millisecond, each in one write with
// O_APPEND; the file is opened for every record or held open throughout.
class Writer {
 public:
  Writer(std::string path, bool holdOpen) : FPath(std::move(path)), FHoldOpen(holdOpen) {
    FThread = std::thread([this] { Loop(); });
  }
  // Stops the writer; the number of the last record written.
  int Stop() {
    FStop = true;
    FThread.join();
    return FLast;
  }

 private:
  void Loop() {
    int fd = -1;
    const timespec pause{0, 1000000};
    while (!FStop) {
      if (fd < 0) fd = open(FPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
      const std::string line = Record(FLast + 1);
      if (fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) ++FLast;
      if (!FHoldOpen) {
        close(fd);
        fd = -1;
      }
      nanosleep(&pause, nullptr);
    }
    if (fd >= 0) close(fd);
  }

  std::string FPath;
  bool FHoldOpen;
  std::atomic<bool> FStop{false};
  int FLast = 0;
  std::thread FThread;
};

// How often each record number occurs, in raw or repaired form.
std::map<int, int> RecordNumbers(const std::string& text) {
  std::map<int, int> seen;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    const std::size_t tag = line.find(']');
    if (tag != std::string::npos) line = line.substr(tag + 1);
    if (!line.empty() && line[0] == '"') line = line.substr(1);
    ++seen[std::atoi(line.c_str())];
  }
  return seen;
}

struct Tally {
  int repaired = 0, refused = 0;
};

Tally RepairWhileWriting(const std::string& folder, const std::string& log, bool holdOpen, int& last) {
  Writer writer(log, holdOpen);
  Tally tally;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end) {
    const RunResult r = Repair(folder);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
    if (r.status == 0 && r.out.find("更新数: 1\n") != std::string::npos) ++tally.repaired;
    if (r.status == 1) ++tally.refused;
  }
  last = writer.Stop();
  return tally;
}

void ExpectEveryRecordOnce(const std::string& text, int last) {
  const std::map<int, int> seen = RecordNumbers(text);
  int missing = 0, doubled = 0;
  for (int n = 1; n <= last; ++n) {
    const auto it = seen.find(n);
    missing += it == seen.end();
    doubled += it != seen.end() && it->second > 1;
  }
  EXPECT_EQ(missing, 0) << "of " << last;
  EXPECT_EQ(doubled, 0) << "of " << last;
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(last));
}

}  // namespace

TEST(ConcurrentWriterTest, RecordsAppendedDuringRepairsAreKept) {
  for (const bool holdOpen : {false, true}) {
    SCOPED_TRACE(holdOpen ? "held open" : "opened for each record");
    TempDir dir;
    const std::string log = dir.Native("access.log");
    testing_support::WriteFile(log, "");
    int last = 0;
    const Tally tally = RepairWhileWriting(dir.Native(), log, holdOpen, last);
    std::cout << (holdOpen ? "held open: " : "opened for each record: ") << last << " records, " << tally.repaired
              << " repairs, " << tally.refused << " refused\n";
    EXPECT_GT(last, 20);  // a loaded machine may slow the writer down
    // A held-open file is refused every time.
    if (holdOpen) {
      EXPECT_EQ(tally.repaired, 0);
    }
    // Once the writer is gone the file is repaired completely.
    const RunResult final = Repair(dir.Native());
    EXPECT_EQ(final.status, 0) << final.err;
    const std::string text = testing_support::ReadFile(log);
    ExpectEveryRecordOnce(text, last);
    EXPECT_EQ(text.find("INFO"), std::string::npos);
  }
}

// Repairs the folder with the replace held up by the tracer; the log is
// opened for appending just before the replace, and handed to afterReplace
// once the replace is done.
RunResult RepairAcrossAWriter(const TempDir& dir, const std::string& log,
                              const std::function<void(int)>& afterReplace) {
  struct stat st {};
  stat(log.c_str(), &st);
  const ino_t old = st.st_ino;
  RunResult repair;
  std::thread run([&] {
    const std::string renames = "renameat,renameat2";
    repair = RepairTraced(dir.Native(), {"trace=" + renames, "inject=" + renames + ":delay_enter=1500000"});
  });
  // The temporary file takes the old time just before it is flushed and the
  // replace begins.
  const std::string temp = log + ".temp";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(stat(temp.c_str(), &st) == 0 && st.st_mtime == LogFile().mtimeSeconds) &&
         std::chrono::steady_clock::now() < deadline)
    usleep(1000);
  const int writer = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  // The replace is done once the name holds another file.
  while (stat(log.c_str(), &st) == 0 && st.st_ino == old && std::chrono::steady_clock::now() < deadline) usleep(1000);
  afterReplace(writer);
  close(writer);
  run.join();
  return repair;
}

void Append(int fd, const std::string& text) {
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// The narrowest case, made certain: a writer opens the log just before the
// replace and writes only after it.
TEST(ConcurrentWriterTest, WriterThatOpenedTheOldFileBeforeTheReplaceKeepsItsRecords) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  const std::vector<LogFile> logs = {{"access.log", TaggedLine("1,GET /a,200") + TaggedLine("2,GET /b,200"),
                                      RepairedLine("1,GET /a,200") + RepairedLine("2,GET /b,200")}};
  Plant(dir.Native(), logs);
  const std::string log = dir.Native("access.log");
  const std::string late = TaggedLine("3,GET /c,200"), later = TaggedLine("4,GET /d,200");
  const RunResult repair = RepairAcrossAWriter(dir, log, [&](int writer) {
    usleep(300000);
    Append(writer, late);
    usleep(300000);
    Append(writer, later);
  });
  EXPECT_EQ(repair.status, 0) << repair.err;
  EXPECT_NE(repair.out.find("更新数: 1\n"), std::string::npos) << repair.out;
  // The late records came along as written; the next run corrects them.
  EXPECT_EQ(testing_support::ReadFile(log), logs[0].repaired + late + later);
  EXPECT_EQ(Repair(dir.Native()).status, 0);
  EXPECT_EQ(testing_support::ReadFile(log),
            logs[0].repaired + RepairedLine("3,GET /c,200") + RepairedLine("4,GET /d,200"));
}

// While the old file's writer is still carried over, the server's new writes
// go to the new log: the copy appends behind them, never over them.
TEST(ConcurrentWriterTest, CarryOverAppendsBehindWhatTheNewLogGained) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  const std::vector<LogFile> logs = {{"access.log", TaggedLine("1,GET /a,200"), RepairedLine("1,GET /a,200")}};
  Plant(dir.Native(), logs);
  const std::string log = dir.Native("access.log");
  const std::string toOld1 = TaggedLine("2,GET /b,200"), toNew = TaggedLine("3,GET /c,200"),
                    toOld2 = TaggedLine("4,GET /d,200");
  const RunResult repair = RepairAcrossAWriter(dir, log, [&](int oldWriter) {
    Append(oldWriter, toOld1);
    usleep(300000);
    const int newWriter = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    Append(newWriter, toNew);
    close(newWriter);
    usleep(300000);
    Append(oldWriter, toOld2);
    usleep(100000);
  });
  EXPECT_EQ(repair.status, 0) << repair.err;
  EXPECT_EQ(testing_support::ReadFile(log), logs[0].repaired + toOld1 + toNew + toOld2);
  EXPECT_FALSE(testing_support::Exists(log + ".temp"));
}

// A writer that keeps the old file open long after the replace would lose
// what it writes later: the run says so instead of counting the file as done.
TEST(ConcurrentWriterTest, WriterHoldingTheOldFileTooLongIsReported) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  const std::vector<LogFile> logs = {{"access.log", TaggedLine("1,GET /a,200"), RepairedLine("1,GET /a,200")}};
  Plant(dir.Native(), logs);
  const std::string log = dir.Native("access.log"), late = TaggedLine("2,GET /b,200");
  const RunResult repair = RepairAcrossAWriter(dir, log, [&](int writer) {
    Append(writer, late);
    sleep(11);
  });
  EXPECT_EQ(repair.status, 1) << repair.err;
  EXPECT_NE(repair.err.find("は置き換えた後も古いファイルに書き込まれています"), std::string::npos) << repair.err;
  EXPECT_EQ(testing_support::ReadFile(log), logs[0].repaired + late);
}
