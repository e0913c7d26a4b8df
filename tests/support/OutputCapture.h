// A program run to its end with its standard output and error captured, the
// same on every platform.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct CapturedRun {
  int status = -1;  // exit status; -1 when it did not start, ended by a signal or was killed
  std::string out, err;
};

// Runs program with args in workingFolder (empty: the test's own), with the
// test's environment and no standard input. A program that is not done
// within a minute is killed.
CapturedRun RunCapturingOutput(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workingFolder = "");

#ifndef _WIN32
// Reads two descriptors to their ends, or until limitMs pass with nothing to
// read, and closes them; true when both ended.
bool ReadBothToEnd(int out, int err, std::string& outText, std::string& errText, int limitMs);
#endif

}  // namespace testing_support
