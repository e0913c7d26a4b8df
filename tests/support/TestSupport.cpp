#include "support/TestSupport.h"

#include "platform/CodePage.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name)) return 0;
  return _putenv_s(name, value);
}
// An empty value removes the variable.
int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace testing_support {

#ifdef _WIN32
std::wstring Wide(const std::string& text) {
  const std::u16string wide = platform::ToWide(text);
  return std::wstring(wide.begin(), wide.end());
}

// Under the platform's temporary folder, which is a Windows path also under
// Wine.
TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("kvtest-" + std::to_string(random() % 1000000000u));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      FNative = candidate.string();
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be created");
}
#else
TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvtest-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  FNative = pattern;
}
#endif

TempDir::~TempDir() {
  std::error_code ec;
  // Make read-only folders of a test removable again (and on Windows, where
  // a read-only file cannot be deleted, the files too).
#ifdef _WIN32
  constexpr bool kFilesToo = true;
#else
  constexpr bool kFilesToo = false;
#endif
  for (auto it = std::filesystem::recursive_directory_iterator(FNative, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if ((kFilesToo || it->is_directory(ec)) && !it->is_symlink(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                   ec);
  }
  std::filesystem::permissions(FNative, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(FNative, ec);
}

std::string TempDir::System(const std::string& name) const {
  std::string path = name.empty() ? FNative : Native(name);
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ReadFile(const std::string& nativePath) {
  std::ifstream in(nativePath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& nativePath, const std::string& bytes) {
  std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& nativePath) {
#ifdef _WIN32
  std::error_code ec;
  return std::filesystem::exists(nativePath, ec);
#else
  return access(nativePath.c_str(), F_OK) == 0;
#endif
}

}  // namespace testing_support
