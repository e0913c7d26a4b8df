#include "platform/Error.h"

#include <windows.h>

#include "platform/CodePage.h"

namespace platform {

int LastError() { return static_cast<int>(GetLastError()); }

std::string ErrorText(int code) {
  wchar_t* buffer = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (n == 0 || !buffer) return "Unknown error " + std::to_string(code);
  std::u16string text(reinterpret_cast<const char16_t*>(buffer), n);
  LocalFree(buffer);
  // The callers put the text into a sentence of their own: the line end and
  // the closing period of the system's message go.
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return FromWide(text);
}

bool IsNotFound(int code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY;
}

bool IsAlreadyExists(int code) { return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS; }

}  // namespace platform
