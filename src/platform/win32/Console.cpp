#include "platform/Console.h"

#include <windows.h>

#include <atomic>

#include "platform/CodePage.h"

namespace platform {

namespace {

std::atomic<bool> gStopSignal{false};

HANDLE Handle(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

BOOL WINAPI OnControl(DWORD event) {
  // Ctrl+C and Ctrl+Break only ask the program to stop; closing the console
  // or ending the session still ends it as the system does.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  gStopSignal.store(true, std::memory_order_relaxed);
  return TRUE;
}

}  // namespace

bool IsTerminal(StandardStream stream) { return IsConsole(Handle(stream)); }

bool WriteStandard(StandardStream stream, std::string_view bytes) {
  HANDLE h = Handle(stream);
  if (h == INVALID_HANDLE_VALUE || !h) return false;
  if (IsConsole(h)) {
    // The console shows UTF-16 whatever its own code page is.
    std::u16string wide = ToWide(bytes);
    std::u16string_view rest = wide;
    while (!rest.empty()) {
      const DWORD ask = rest.size() > 8192 ? 8192 : static_cast<DWORD>(rest.size());
      DWORD n = 0;
      if (!WriteConsoleW(h, rest.data(), ask, &n, nullptr) || n == 0) return false;
      rest.remove_prefix(n);
    }
    return true;
  }
  while (!bytes.empty()) {
    const DWORD ask = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD n = 0;
    if (!WriteFile(h, bytes.data(), ask, &n, nullptr) || n == 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

void CatchStopSignals() { SetConsoleCtrlHandler(OnControl, TRUE); }

bool StopSignalReceived() { return gStopSignal.load(std::memory_order_relaxed); }

}  // namespace platform
