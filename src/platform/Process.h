// Processes and threads: ids, the computer name, the running program, process
// creation, and termination requests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::uint32_t CurrentProcessId();
std::uint32_t CurrentThreadId();
// The host name up to its first dot, upper-cased, at most 15 characters;
// empty when it cannot be read.
std::string ComputerName();
// The full path of the running program (a system path).
std::string ProgramFileName();

// A command line split as Windows does it: the program (up to
// the next blank, or between quotes when it begins with one), then the
// arguments with its quote and backslash rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Starts the command line's program with its arguments and waits up to
// timeoutMs until it has registered a window. A program without a folder is
// looked for beside the running program, in the current folder, then in the
// search path; a name ending in ".exe" that is not found is tried without
// it. The program may outlive this process: it inherits no handle, its
// standard handles lead to the null device, and it runs in a session (a
// process group) of its own. One that ends or has no window by the time
// limit is ended with what it started, so none is left running. 0 when it
// runs with a window, else the error code; processId names the process
// started, 0 when none could be.
int StartWindowedProcess(std::string_view commandLine, int timeoutMs, std::uint32_t& processId);

// After this call SIGTERM and SIGINT no longer end the process; they set the
// flag that TerminationRequested reads and interrupt waits. On Windows the
// console's control events and a WM_CLOSE to one of the process's windows do
// the same, interrupting the alertable waits of the calling thread.
void CatchTerminationRequests();
bool TerminationRequested();

void SleepMs(int milliseconds);

}  // namespace platform
