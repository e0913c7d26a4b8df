#include "platform/SpecialFolder.h"

#include <windows.h>
// The shell's headers need the Windows types first.
#include <objbase.h>
#include <shlobj.h>

#include "platform/CodePage.h"

namespace platform {

std::string SpecialFolderPath(int folder) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, folder, &list)) || !list) return {};
  wchar_t path[MAX_PATH];
  const bool found = SHGetPathFromIDListW(list, path);
  CoTaskMemFree(list);
  if (!found) return {};
  return FromWide(reinterpret_cast<const char16_t*>(path));
}

std::string TempPath() {
  wchar_t path[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, path);
  if (n == 0 || n > MAX_PATH) return {};
  std::u16string wide(reinterpret_cast<const char16_t*>(path), n);
  if (wide.back() != u'\\') wide += u'\\';
  return FromWide(wide);
}

bool FileNamesIgnoreCase() { return true; }

}  // namespace platform
