// The console front end run as a process by the tests, and what it writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/OutputCapture.h"

namespace console_test {

// The built program: beside the test program unless the test run names the folder.
std::string Program();

testing_support::CapturedRun RunRepair(const std::vector<std::string>& args, const std::string& workingFolder = "");

// The lines the program prints for a log it replaced, or that a check finds.
std::string ReplacedLine(const std::string& path, int records);
std::string NeedsRepairLine(const std::string& path, int records);
// The second line of every usage error.
inline const std::string kSeeHelp = "詳しくは KvAccesslogRepair --help を参照してください\n";

// A run report read by a JSON reader of its own (POSIX: python3's, which
// refuses anything that is not strict JSON; Windows: the system's), one line
// for the run: "MODE STATUS RESULT logs=N replaced=N unchanged=N
// needsRepair=N skipped=N failed=N records=N message=MESSAGE-or-null", then
// one line per log: "PATH|RESULT|RECORDS|SIZE|LASTWRITE|BACKUP|REASON", null
// for an absent value. Empty when the file is no report; skips the test
// without a reader.
std::string ReportLines(const std::string& nativePath);
// The text a report shows for a last-write time in seconds since 1970, in
// the time zone the tests set (JST-9).
std::string ReportTime(std::int64_t unixSeconds);
// Sets the time zone of the programs the test starts, for the life of the
// object, so that reported times are known.
class JapanTime {
 public:
  JapanTime();
  ~JapanTime();

 private:
  std::string FOld;
  bool FHad = false;
};

}  // namespace console_test
