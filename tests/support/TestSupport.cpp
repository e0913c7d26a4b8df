#include "support/TestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvtest-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  FNative = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make read-only folders of a test removable again.
  for (auto it = std::filesystem::recursive_directory_iterator(FNative, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
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

bool Exists(const std::string& nativePath) { return access(nativePath.c_str(), F_OK) == 0; }

}  // namespace testing_support
