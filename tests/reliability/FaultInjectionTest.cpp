// Faults injected into the system calls of a whole repair run, one call at a
// time: the run may fail, but no log may be lost, cut short or touched in
// part, and a clean run afterwards completes the repair.
#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "reliability/Harness.h"
#include "support/TestSupport.h"

using namespace reliability;
using testing_support::TempDir;

namespace {

// Small and large logs, one without anything to correct, and (as root) one
// with another owner, so that every step of the rewrite makes system calls.
std::vector<LogFile> Logs() {
  std::vector<LogFile> logs;
  logs.push_back({"a.log", TaggedLine("abc,x") + "\"a\",\"b\"\r\n" + TaggedLine("def,y"),
                  RepairedLine("abc,x") + "\"a\",\"b\"\r\n" + RepairedLine("def,y")});
  LogFile big{"big.log", "", ""};
  // More than one block of the reader and of the writer's buffer.
  for (int i = 0; big.before.size() < (1u << 20) + 70000; ++i) {
    const std::string fields = "line" + std::to_string(i) + ",GET /index.html,200";
    big.before += TaggedLine(fields);
    big.repaired += RepairedLine(fields);
  }
  logs.push_back(big);
  logs.push_back({"clean.log", "\"a\",\"b\"\r\n", "\"a\",\"b\"\r\n"});
  if (geteuid() == 0) {
    LogFile owned{"owned.log", TaggedLine("o,p"), RepairedLine("o,p")};
    owned.mode = 0640;
    owned.owner = 4321;
    owned.group = 4322;
    logs.push_back(owned);
  }
  return logs;
}

struct Fault {
  const char* syscall;
  const char* action;  // strace's inject action: error=E or signal=KILL
};

// Every call that reads, writes, replaces, stamps or removes a file,
// examines or lists the folder, takes it for the run, or makes the folder
// of the copies.
const Fault kErrors[] = {
    {"openat", "error=EACCES"},    {"openat", "error=EMFILE"},    {"read", "error=EIO"},
    {"write", "error=ENOSPC"},     {"write", "error=EIO"},        {"fsync", "error=EIO"},
    {"fdatasync", "error=EIO"},    {"close", "error=EIO"},        {"renameat2", "error=EXDEV"},
    {"renameat2", "error=EACCES"}, {"renameat2", "error=EINVAL"}, {"renameat", "error=EXDEV"},
    {"fchmod", "error=EPERM"},     {"fchown", "error=EPERM"},     {"fchown", "error=EIO"},
    {"utimensat", "error=EPERM"},  {"getdents64", "error=EIO"},   {"statx", "error=EIO"},
    {"unlinkat", "error=EIO"},     {"unlinkat", "error=EACCES"},  {"flock", "error=ENOLCK"},
    {"mkdir", "error=EACCES"},
};

const char* const kKillPoints[] = {"openat",    "read",     "write",      "fsync",     "fdatasync", "close",
                                   "statx",     "flock",    "renameat",   "renameat2", "fchmod",    "fchown",
                                   "utimensat", "unlinkat", "getdents64", "mkdir"};

constexpr int kMaxCall = 500;  // a bound in case a call is made without end

struct Sweep {
  int runs = 0, fired = 0;
  int runtimeEnded = 0;  // runs the sanitizer runtime ended on its own failed call
};

// Every run copies the logs it replaces into a folder it makes, so that the
// copies' own calls are swept too.
std::vector<std::string> BackupTo(const std::string& backup) { return {"--backup", backup}; }

// After a crash every log is old or new, never missing or partial; a
// leftover temporary file is the next run's to remove, and that run
// completes the repair. A copy that is there is whole; one that was being
// made may be left unfinished under a temporary name.
void ExpectRecoveryAfterCrash(const std::string& folder, const std::string& backup, const std::vector<LogFile>& logs) {
  const std::string left = CheckFolder(folder, logs, false);
  std::string withoutTemp;
  for (std::size_t at = 0, end; at < left.size(); at = end + 1) {
    end = left.find('\n', at);
    const std::string line = left.substr(at, end - at);
    if (line.find(".temp: left behind") == std::string::npos) withoutTemp += line + "\n";
  }
  EXPECT_EQ(withoutTemp, "");
  EXPECT_EQ(CheckBackups(backup, folder, logs, true), "");
  const RunResult next = Repair(folder, {}, BackupTo(backup));
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(CheckFolder(folder, logs, true), "");
  EXPECT_EQ(CheckBackups(backup, folder, logs, true), "");
}

RunResult RunInjected(const std::string& folder, const std::string& backup, const std::string& trace,
                      const std::string& syscall, const std::string& action, int n) {
  return RepairTraced(folder, {"trace=" + syscall, "inject=" + syscall + ":" + action + ":when=" + std::to_string(n)},
                      trace, BackupTo(backup));
}

}  // namespace

TEST(FaultInjectionTest, EveryFailingCallLeavesEachLogWholeOrRepaired) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  const std::vector<LogFile> logs = Logs();
  Sweep total;
  for (const Fault& fault : kErrors) {
    for (int n = 1; n <= kMaxCall; ++n) {
      SCOPED_TRACE(std::string(fault.syscall) + ":" + fault.action + ":when=" + std::to_string(n));
      TempDir dir, scratch;
      Plant(dir.Native(), logs);
      const RunResult r =
          RunInjected(dir.Native(), scratch.Native("backup"), scratch.Native("trace"), fault.syscall, fault.action, n);
      ++total.runs;
      const bool fired = InjectionsIn(scratch.Native("trace")) > 0;
      total.fired += fired;
      if (fired && r.err.find("Sanitizer") != std::string::npos && r.err.find("CHECK failed") != std::string::npos) {
        // The sanitizer runtime's own probe call failed and it ended the
        // program: that is a crash, not a failure the program reported.
        ++total.runtimeEnded;
        ExpectRecoveryAfterCrash(dir.Native(), scratch.Native("backup"), logs);
        continue;
      }
      // A failure must be reported: a run that says it is done has repaired
      // every log, and no log changed hands.
      EXPECT_EQ(CheckFolder(dir.Native(), logs, r.status == 0), "") << "status " << r.status << "\n" << r.err;
      EXPECT_EQ(CheckBackups(scratch.Native("backup"), dir.Native(), logs, r.status != 0), "") << r.err;
      EXPECT_LT(r.status, 128) << r.err;
      if (!fired) {
        EXPECT_EQ(r.status, 0) << r.err;
        break;
      }
    }
  }
  std::cout << "error injections: " << total.fired << " in " << total.runs << " runs, " << total.runtimeEnded
            << " ended by the sanitizer runtime\n";
  RecordProperty("injections", total.fired);
}

TEST(FaultInjectionTest, KilledAtAnyCallTheNextRunCompletes) {
  if (!HaveStrace()) GTEST_SKIP() << "strace is not installed";
  const std::vector<LogFile> logs = Logs();
  Sweep total;
  for (const char* syscall : kKillPoints) {
    for (int n = 1; n <= kMaxCall; ++n) {
      SCOPED_TRACE(std::string(syscall) + ":when=" + std::to_string(n));
      TempDir dir, scratch;
      Plant(dir.Native(), logs);
      const RunResult r =
          RunInjected(dir.Native(), scratch.Native("backup"), scratch.Native("trace"), syscall, "signal=KILL", n);
      ++total.runs;
      const bool killed = r.status == 128 + SIGKILL;
      if (!killed) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
        EXPECT_EQ(CheckBackups(scratch.Native("backup"), dir.Native(), logs, false), "");
        break;
      }
      ++total.fired;
      ExpectRecoveryAfterCrash(dir.Native(), scratch.Native("backup"), logs);
    }
  }
  std::cout << "crashes: " << total.fired << " in " << total.runs << " runs\n";
  RecordProperty("crashes", total.fired);
}
