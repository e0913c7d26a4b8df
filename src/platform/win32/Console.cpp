#include "platform/Console.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/CodePage.h"

namespace platform {

namespace {

std::atomic<int> gStopSignals{0};
// Set before the handler is installed and never changed while it may run.
std::string gNotice;
// The console whose mode the program changed, and the mode it had.
HANDLE gChangedConsole = nullptr;
DWORD gOldMode = 0;

HANDLE Handle(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

BOOL WINAPI OnControl(DWORD event) {
  // Ctrl+C and Ctrl+Break only ask the program to stop; closing the console
  // or ending the session still ends it as the system does. The handler
  // runs on a thread of its own, which may write.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (gStopSignals.fetch_add(1, std::memory_order_relaxed) == 0 && !gNotice.empty())
    WriteStandard(StandardStream::Error, gNotice);
  return TRUE;
}

// The console is shared with the shell that started the program, which
// expects its own mode back.
void RestoreConsoleMode() { SetConsoleMode(gChangedConsole, gOldMode); }

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

bool EnableTerminalSequences(StandardStream stream) {
  HANDLE h = Handle(stream);
  DWORD mode = 0;
  if (!IsConsole(h) || !GetConsoleMode(h, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  // A console before Windows 10 refuses the mode and shows sequences as text.
  if (!SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
  if (!gChangedConsole) {
    gChangedConsole = h;
    gOldMode = mode;
    std::atexit(RestoreConsoleMode);
  }
  return true;
}

void CatchStopSignals(std::string_view notice) {
  gNotice.assign(notice);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

bool StopSignalReceived() { return StopSignalCount() > 0; }

int StopSignalCount() { return gStopSignals.load(std::memory_order_relaxed); }

}  // namespace platform
