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
RunResult Repair(const std::string& folder, const RunOptions& options = {});

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

// Writes the logs into the folder with their times, modes and owners.
void Plant(const std::string& folder, const std::vector<LogFile>& logs);

// Records that need correction and their repaired form.
std::string TaggedLine(const std::string& rest);
std::string RepairedLine(const std::string& rest);

// Number of the strace output's lines that report an injected fault.
int InjectionsIn(const std::string& traceFile);

}  // namespace reliability
