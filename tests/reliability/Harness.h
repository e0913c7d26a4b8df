// Runs the console repair as a process and checks what a run left behind.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace reliability {

// The repair program beside the test program, or where the test run names it.
std::string Program();
// True when the tracer used for injecting faults can run here.
bool HaveStrace();

struct RunOptions {
  std::uint64_t fileSizeLimit = 0;  // bytes; 0 keeps the inherited limit
  int timeoutSeconds = 120;         // the process is killed after this
  int uid = -1, gid = -1;           // run as this user (root only); -1 keeps the test's
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out, err;
  bool timedOut = false;
  long maxRssKiB = 0;  // the peak memory of the process
};

RunResult Run(const std::vector<std::string>& argv, const RunOptions& options = {});
// The output of a run without the lines that name each replaced log.
std::string Totals(const std::string& out);
// The repair of the folder, with further arguments of the program.
RunResult Repair(const std::string& folder, const RunOptions& options = {}, const std::vector<std::string>& more = {});

// One log file as the test planted it and as a complete repair leaves it.
struct LogFile {
  std::string name;
  std::string before, repaired;
  unsigned mode = 0644;
  int owner = -1, group = -1;  // -1: the test's own
  long mtimeSeconds = 1700000000;
};

// What a run may leave: every log either untouched or completely repaired,
// with its old last-write time, mode and owner, and no temporary file.
// With requireRepaired, every log must be the repaired content.
// Returns the problems found, empty when there are none.
std::string CheckFolder(const std::string& folder, const std::vector<LogFile>& logs, bool requireRepaired);

// What a run may leave in the folder its copies go to (--backup): every
// copy is a whole one of a log as it was planted, with its time, and every
// log that was replaced has one. With unfinished, a copy's temporary file
// may be left (a run that was killed or failed); otherwise none may.
std::string CheckBackups(const std::string& backup, const std::string& folder, const std::vector<LogFile>& logs,
                         bool unfinished);

// Writes the logs into the folder with their times, modes and owners.
void Plant(const std::string& folder, const std::vector<LogFile>& logs);

// Records that need correction and their repaired form.
std::string TaggedLine(const std::string& rest);
std::string RepairedLine(const std::string& rest);

// Number of the strace output's lines that report an injected fault.
int InjectionsIn(const std::string& traceFile);

// The repair under the tracer, with its expressions (-e trace=..., -e
// inject=...); the traced calls go to traceFile. The leak checker, which
// cannot run under a tracer, is off.
RunResult RepairTraced(const std::string& folder, const std::vector<std::string>& expressions,
                       const std::string& traceFile = "/dev/null", const std::vector<std::string>& more = {});
// The number (from 1) of the first call of the program's main thread in a
// trace that holds every one of the texts, as strace's when= counts it;
// 0 when there is none.
int CallNumber(const std::string& traceFile, const std::vector<std::string>& texts);
// True while another holder has the folder to itself: a repair is running
// there.
bool FolderBusy(const std::string& folder);

}  // namespace reliability
