// The program the process tests start on Windows.
//   record FILE SEMAPHORE ARGS...  writes "[arg]..." to FILE, and to FILE.handles
//                                  whether the semaphore handle of that value
//                                  and a standard error handle reached it
//   sleep MS [PIDFILE]             waits, without a window, after writing its
//                                  process id to PIDFILE
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/ProgramEntry.h"

namespace {

// The test's semaphore holds a count of 3; no other handle answers so.
bool HasTestSemaphore(const std::string& value) {
  const HANDLE h = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(value)));
  LONG previous = 0;
  return ReleaseSemaphore(h, 1, &previous) && previous == 3;
}

bool HasStandardError() {
  const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  return h && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

int ProgramMain(const std::vector<std::string>& args) {
  if (args.size() >= 3 && args[0] == "record") {
    std::ofstream out(args[1], std::ios::binary);
    for (std::size_t i = 3; i < args.size(); ++i) out << '[' << args[i] << ']';
    std::ofstream handles(args[1] + ".handles", std::ios::binary);
    handles << (HasTestSemaphore(args[2]) ? "semaphore" : "no semaphore") << ' '
            << (HasStandardError() ? "stderr" : "no stderr");
    return 0;
  }
  if ((args.size() == 2 || args.size() == 3) && args[0] == "sleep") {
    if (args.size() == 3) std::ofstream(args[2], std::ios::binary) << GetCurrentProcessId();
    Sleep(static_cast<DWORD>(std::stoul(args[1])));
    return 0;
  }
  return 2;
}
