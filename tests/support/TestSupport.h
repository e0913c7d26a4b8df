// Helpers shared by the tests: temporary folders and whole-file access.
#pragma once

#include <string>

#ifdef _WIN32
// The environment functions the tests use, which the Windows C library
// names differently.
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
#endif

namespace testing_support {

// A fresh folder under the temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Native path (with '/') of the folder or of a name inside it.
  const std::string& Native() const { return FNative; }
  std::string Native(const std::string& name) const { return FNative + "/" + name; }
  // The same as a system path ('\' delimiters).
  std::string System(const std::string& name = "") const;

 private:
  std::string FNative;
};

std::string ReadFile(const std::string& nativePath);
void WriteFile(const std::string& nativePath, const std::string& bytes);
bool Exists(const std::string& nativePath);

#ifdef _WIN32
// A text of the system code page as the wide string the Windows calls take.
std::wstring Wide(const std::string& text);
#endif

}  // namespace testing_support
