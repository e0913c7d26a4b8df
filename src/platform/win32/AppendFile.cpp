#include "platform/AppendFile.h"

#include <windows.h>

#include "platform/CodePage.h"

namespace platform {

int AppendToFile(const std::string& path, std::string_view bytes) {
  const std::u16string wide = ToWide(path);
  // Append-only access: every write goes to the end of the file as it is then.
  const HANDLE file = CreateFileW(std::wstring(wide.begin(), wide.end()).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  int error = 0;
  if (bytes.size() > MAXDWORD) {
    error = ERROR_INVALID_PARAMETER;
  } else {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      error = static_cast<int>(GetLastError());
    else if (written != bytes.size())
      error = ERROR_DISK_FULL;
  }
  CloseHandle(file);
  return error;
}

}  // namespace platform
