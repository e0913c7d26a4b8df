#include "platform/AppendFile.h"

#include <windows.h>

#include "platform/CodePage.h"

namespace platform {

namespace {

// Appenders take turns on one byte far beyond any file's end: not every
// implementation of the system makes an append-only write one step, and
// readers, who take no lock, are not held up.
constexpr DWORD kTurnOffsetHigh = 0x40000000;
constexpr int kTurnWaitMs = 2000;

bool TakeTurn(HANDLE file) {
  for (int waited = 0;; waited += 5) {
    OVERLAPPED at{};
    at.OffsetHigh = kTurnOffsetHigh;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
    // A writer that holds its turn for long (stopped, say) does not stop
    // this one: the append goes ahead without the turn.
    if (waited >= kTurnWaitMs) return false;
    Sleep(5);
  }
}

void GiveTurn(HANDLE file) {
  OVERLAPPED at{};
  at.OffsetHigh = kTurnOffsetHigh;
  UnlockFileEx(file, 0, 1, 0, &at);
}

}  // namespace

int AppendToFile(const std::string& path, std::string_view bytes) {
  const std::u16string wide = ToWide(path);
  // Append-only access: every write goes to the end of the file as it is
  // then. Reading is asked for as taking turns needs it.
  const HANDLE file = CreateFileW(
      std::wstring(wide.begin(), wide.end()).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  int error = 0;
  if (bytes.size() > MAXDWORD) {
    error = ERROR_INVALID_PARAMETER;
  } else {
    const bool turn = TakeTurn(file);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      error = static_cast<int>(GetLastError());
    else if (written != bytes.size())
      error = ERROR_DISK_FULL;
    if (turn) GiveTurn(file);
  }
  CloseHandle(file);
  return error;
}

}  // namespace platform
