// The console's modes as an administrator schedules them, run as a process
// on folders of generated logs: a check that changes nothing, going on past
// a failing log, copies of the replaced logs, and the report of every run.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ConsoleProcess.h"
#include "SampleLogs.h"
#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Path.h"
#include "support/TestSupport.h"

using console_test::NeedsRepairLine;
using console_test::ReplacedLine;
using console_test::ReportLines;
using console_test::ReportTime;
using console_test::RunRepair;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

using Outcome = testing_support::CapturedRun;

// The last-write time every planted log gets: 2025-12-01 23:59:59 in Japan.
constexpr std::int64_t kPlanted = 1764601199;
constexpr std::uint64_t kUnixEpochTicks = 11644473600ULL * 10000000ULL;

const std::string kTwoToCorrect = kNeedsCorrection + kNeedsCorrection;

std::string Shown(const TempDir& dir, const std::string& name) { return platform::ShownPath(dir.System(name)); }

void Plant(const TempDir& dir, const std::string& name, const std::string& bytes) {
  WriteFile(dir.Native(name), bytes);
#ifdef _WIN32
  const platform::FileTime time = static_cast<platform::FileTime>(kPlanted) * 10000000ULL + kUnixEpochTicks;
  ASSERT_EQ(platform::SetFileTimes(dir.System(name), nullptr, nullptr, &time), 0);
#else
  // By the native name, which may hold what a system path cannot (a '\\').
  const timespec times[2] = {{0, UTIME_OMIT}, {kPlanted, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.Native(name).c_str(), times, 0), 0);
#endif
}

// A file's bytes and exact last-write time.
std::string State(const std::string& systemPath) {
  platform::FileInfo info;
  if (platform::GetEntryInfo(systemPath, info) != 0) return "missing";
  std::string native = platform::ToNativePath(systemPath);
  return std::to_string(info.lastWriteNanoseconds) + " " + ReadFile(native);
}

std::string Planted(const std::string& bytes) { return std::to_string(kPlanted * 1000000000LL) + " " + bytes; }

// The report's line for a log.
std::string LogLine(const std::string& path, const std::string& result, int records, std::size_t size,
                    const std::string& backup = "null", const std::string& reason = "null") {
  return path + "|" + result + "|" + std::to_string(records) + "|" + std::to_string(size) + "|" + ReportTime(kPlanted) +
         "|" + backup + "|" + reason + "\n";
}

// The report's lines in the order of its logs, which is the run's.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at + 1));
  }
  return lines;
}

class ConsoleRunModesTest : public ::testing::Test {
 protected:
  TempDir dir, scratch;
  console_test::JapanTime japan;
};

// Nothing is made or removed, not even beside the logs: a temporary name a
// repair would clear (a leftover file, a folder in the way) stays, and a
// repair holding the folder does not keep the check out.
TEST_F(ConsoleRunModesTest, CheckChangesNothingAndNamesWhatNeedsRepair) {
  Plant(dir, "a.log", kTwoToCorrect);
  Plant(dir, "b.log", kClean);
  Plant(dir, "c.log", kNeedsCorrection);
  std::filesystem::create_directory(dir.Native("a.log.temp"));
  WriteFile(dir.Native("c.log.temp"), "left");
  const std::vector<std::string> names = {"a.log", "b.log", "c.log", "c.log.temp"};
  std::map<std::string, std::string> before;
  for (const std::string& name : names) before[name] = State(dir.System(name));
  platform::Folder held;
  ASSERT_EQ(held.Open(dir.System()), 0);
  bool busy = true;
  ASSERT_EQ(held.Lock(busy), 0);

  const Outcome o = RunRepair({"--check", "--folder", dir.System(), "--report", scratch.Native("r.json")});
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.err, "");
  for (const std::string& line : {NeedsRepairLine(Shown(dir, "a.log"), 2), NeedsRepairLine(Shown(dir, "c.log"), 1)})
    EXPECT_NE(o.out.find(line), std::string::npos) << o.out;
  EXPECT_EQ(o.out.substr(2 * NeedsRepairLine(Shown(dir, "a.log"), 2).size() - 1),
            "\nチェック数: 3 / 3\n要修正数: 2\n完了しました\n");
  for (const std::string& name : names) EXPECT_EQ(State(dir.System(name)), before[name]) << name;
  EXPECT_TRUE(std::filesystem::is_directory(dir.Native("a.log.temp")));

  const std::string report = ReportLines(scratch.Native("r.json"));
  EXPECT_EQ(Lines(report)[0],
            "check 3 repair-needed logs=3 replaced=0 unchanged=1 needsRepair=2 skipped=0 failed=0 records=3 "
            "message=null\n");
  for (const std::string& line : {LogLine(Shown(dir, "a.log"), "needs-repair", 2, kTwoToCorrect.size()),
                                  LogLine(Shown(dir, "b.log"), "unchanged", 0, kClean.size()),
                                  LogLine(Shown(dir, "c.log"), "needs-repair", 1, kNeedsCorrection.size())})
    EXPECT_NE(report.find(line), std::string::npos) << line << report;

  // What the repair would refuse, the check reports as an error.
  Plant(dir, "d.log", kNeedsCorrection + std::string("x\0y\r\n", 5));
  const Outcome nul = RunRepair({"--check", "--keep-going", "--folder", dir.System()});
  EXPECT_EQ(nul.status, 1);
  EXPECT_EQ(nul.err, "ファイル \"" + Shown(dir, "d.log") + "\" にNUL文字があるため修正できません\n");
  EXPECT_NE(nul.out.find("チェック数: 4 / 4\n要修正数: 2\n"), std::string::npos) << nul.out;

  TempDir clean;
  Plant(clean, "b.log", kClean);
  const Outcome none = RunRepair({"--check", "--folder", clean.System()});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "チェック数: 1 / 1\n要修正数: 0\n完了しました\n");
}

// b.log cannot be repaired (a folder stands where its temporary file goes).
// Without --keep-going the run ends there and the report names the logs it
// never reached; with it the run reaches them and ends with the failure.
TEST_F(ConsoleRunModesTest, KeepGoingReachesTheLogsAfterAFailingOne) {
  for (bool keepGoing : {false, true}) {
    SCOPED_TRACE(keepGoing);
    TempDir logs;
    for (const char* name : {"a.log", "b.log", "c.log"}) Plant(logs, name, kNeedsCorrection);
    std::filesystem::create_directory(logs.Native("b.log.temp"));
    std::vector<std::string> args = {"--folder", logs.System(), "--report", scratch.Native("r.json")};
    if (keepGoing) args.push_back("--keep-going");
    const Outcome o = RunRepair(args);
    EXPECT_EQ(o.status, 1);
    const std::string error = o.err.substr(0, o.err.find('\n'));
    EXPECT_EQ(o.err, error + "\n");  // one line, naming b.log
    EXPECT_NE(error.find(Shown(logs, "b.log.temp")), std::string::npos) << error;
    EXPECT_NE(error.find("を作成できません"), std::string::npos) << error;
    EXPECT_EQ(o.out.find("完了しました"), std::string::npos) << o.out;

    // Every log is as the report says, in the order the run met them.
    const std::vector<std::string> report = Lines(ReportLines(scratch.Native("r.json")));
    ASSERT_EQ(report.size(), 4u);
    EXPECT_NE(report[0].find("repair 1 error "), std::string::npos) << report[0];
    EXPECT_NE(report[0].find("failed=1 records="), std::string::npos) << report[0];
    EXPECT_NE(report[0].find("message=" + error + "\n"), std::string::npos) << report[0];
    bool failedMet = false;
    int replaced = 0;
    for (std::size_t i = 1; i < report.size(); ++i) {
      const std::string name = report[i].substr(0, report[i].find('|'));
      const bool failing = name == Shown(logs, "b.log");
      const bool after = failedMet && !keepGoing;
      const std::string file = ReadFile(platform::ToNativePath(logs.System(name.substr(name.size() - 5))));
      if (failing) {
        EXPECT_EQ(report[i], LogLine(name, "failed", 0, kNeedsCorrection.size(), "null", error));
      } else if (after) {
        EXPECT_EQ(report[i],
                  LogLine(name, "skipped", 0, kNeedsCorrection.size(), "null", "途中で終了したため処理していません"));
      } else {
        EXPECT_EQ(report[i], LogLine(name, "replaced", 1, kNeedsCorrection.size()));
        EXPECT_NE(o.out.find(ReplacedLine(name, 1)), std::string::npos) << o.out;
        ++replaced;
      }
      EXPECT_EQ(file, failing || after ? kNeedsCorrection : kCorrected) << name;
      failedMet = failedMet || failing;
    }
    EXPECT_EQ(replaced, keepGoing ? 2 : replaced);
    EXPECT_NE(o.out.find("チェック数: " + std::to_string(keepGoing ? 3 : replaced) +
                         " / 3\n更新数: " + std::to_string(replaced) + "\n"),
              std::string::npos)
        << o.out;
  }
}

// Copies go beside earlier ones, never over them, hold the bytes and the
// time the log had, and only replaced logs are copied.
TEST_F(ConsoleRunModesTest, BackupHoldsTheOriginalBytesAndTimes) {
  Plant(dir, "a.log", kTwoToCorrect);
  Plant(dir, "b.log", kClean);
  Plant(dir, "c.log", kNeedsCorrection);
  std::filesystem::create_directory(scratch.Native("bk"));
  WriteFile(scratch.Native("bk/a.log"), "earlier");
  WriteFile(scratch.Native("bk/a.log.1"), "earlier 1");
  const Outcome o =
      RunRepair({"--folder", dir.System(), "--backup", scratch.System("bk"), "--report", scratch.Native("r.json")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(State(scratch.System("bk/a.log.2")), Planted(kTwoToCorrect));
  EXPECT_EQ(State(scratch.System("bk/c.log")), Planted(kNeedsCorrection));
  EXPECT_EQ(ReadFile(scratch.Native("bk/a.log")), "earlier");
  EXPECT_EQ(ReadFile(scratch.Native("bk/a.log.1")), "earlier 1");
  std::vector<std::string> copies;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.Native("bk")))
    copies.push_back(entry.path().filename().string());
  EXPECT_EQ(copies.size(), 4u);  // nothing for b.log, no temporary file
  const std::string report = ReportLines(scratch.Native("r.json"));
  EXPECT_NE(
      report.find(LogLine(Shown(dir, "a.log"), "replaced", 2, kTwoToCorrect.size(), Shown(scratch, "bk\\a.log.2"))),
      std::string::npos)
      << report;
  EXPECT_NE(report.find(LogLine(Shown(dir, "b.log"), "unchanged", 0, kClean.size())), std::string::npos) << report;

  // A missing folder is made; one that cannot be is an error before any log
  // is touched.
  TempDir more;
  Plant(more, "a.log", kNeedsCorrection);
  WriteFile(scratch.Native("file"), "");
  const Outcome refused = RunRepair({"--folder", more.System(), "--backup", scratch.System("file\\bk")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err.rfind("バックアップフォルダ \"" + Shown(scratch, "file\\bk") + "\" を開けません. ", 0), 0u)
      << refused.err;
  EXPECT_EQ(State(more.System("a.log")), Planted(kNeedsCorrection));
  const Outcome made = RunRepair({"--folder", more.System(), "--backup", scratch.System("new\\bk")});
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(State(scratch.System("new\\bk\\a.log")), Planted(kNeedsCorrection));
}

// The report replaces the earlier one in one step, leaves alone what others
// left beside it, and is written for a mistaken command line too.
TEST_F(ConsoleRunModesTest, ReportIsWrittenWhateverTheRunComesTo) {
  Plant(dir, "a.log", kNeedsCorrection);
  WriteFile(scratch.Native("r.json"), "earlier");
  WriteFile(scratch.Native("r.json.temp"), "a killed run's");
  const Outcome o = RunRepair({"--report", scratch.Native("r.json"), "--folder", dir.System()});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(Lines(ReportLines(scratch.Native("r.json")))[0],
            "repair 0 done logs=1 replaced=1 unchanged=0 needsRepair=0 skipped=0 failed=0 records=1 message=null\n");
  EXPECT_EQ(ReadFile(scratch.Native("r.json.temp")), "a killed run's");
  EXPECT_FALSE(Exists(scratch.Native("r.json.1.temp")));

  const Outcome mistaken = RunRepair({"--bogus", "--report", scratch.Native("r.json")});
  EXPECT_EQ(mistaken.status, 2);
  EXPECT_EQ(ReportLines(scratch.Native("r.json")),
            "repair 2 usage-error logs=0 replaced=0 unchanged=0 needsRepair=0 skipped=0 failed=0 records=0 "
            "message=不明なオプションです: --bogus\n");

  // A missing folder is made; a file in the folder's place is an error.
  const Outcome made = RunRepair({"--folder", dir.System(), "--report", scratch.Native("new/sub/r.json")});
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(Lines(ReportLines(scratch.Native("new/sub/r.json")))[0].rfind("repair 0 done logs=1 ", 0), 0u);
  const Outcome nowhere = RunRepair({"--folder", dir.System(), "--report", scratch.Native("r.json/r.json")});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.err.rfind("レポートファイル \"" + scratch.Native("r.json/r.json") + "\" を書き込めません. ", 0), 0u)
      << nowhere.err;
#ifndef _WIN32
  // Names with a TAB, a quote or a backslash (which the run cannot take)
  // are written so that a strict reader reads them back.
  TempDir odd;
  Plant(odd, "t\tq\"x.log", kNeedsCorrection);
  Plant(odd, "s\\x.log", kNeedsCorrection);
  const Outcome taken = RunRepair({"--folder", odd.Native(), "--report", scratch.Native("odd.json")});
  EXPECT_EQ(taken.status, 1);
  const std::string report = ReportLines(scratch.Native("odd.json"));
  EXPECT_NE(report.find(LogLine(odd.Native("t\tq\"x.log"), "replaced", 1, kNeedsCorrection.size())), std::string::npos)
      << report;
  EXPECT_NE(
      report.find(LogLine(odd.Native("s\\x.log"), "skipped", 0, kNeedsCorrection.size(), "null",
                          "ファイル \"" + odd.Native("s\\x.log") + "\" はファイル名を扱えないため修正できません")),
      std::string::npos)
      << report;
#endif
}

}  // namespace
