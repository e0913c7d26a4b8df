#include "platform/SpecialFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/Path.h"

namespace platform {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool IsFolder(const std::string& native) {
  struct stat st;
  return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// $HOME, else the home folder of the password database.
std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return {};
}

// A user-dirs value: "$HOME/name" or an absolute path, in double quotes, with
// '\' escaping the next character.
std::string ExpandUserDir(std::string_view value, const std::string& home) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size())
      text += value[++i];
    else if (value[i] != '"')
      text += value[i];
  }
  if (text.rfind("$HOME", 0) == 0) return home + text.substr(5);
  if (text.rfind("${HOME}", 0) == 0) return home + text.substr(7);
  return text.empty() || text[0] != '/' ? std::string() : text;
}

// The XDG user folder of that name from the environment or from the user's
// user-dirs file; else the conventional folder under home when it exists.
std::string UserDir(const char* variable, const char* fallback) {
  const std::string home = HomeFolder();
  std::string value = Environment(variable);
  if (!value.empty()) return ExpandUserDir(value, home);
  if (!home.empty()) {
    std::ifstream in(home + "/.config/user-dirs.dirs");
    const std::string key = std::string(variable) + "=";
    for (std::string line; std::getline(in, line);) {
      std::size_t from = line.find_first_not_of(" \t");
      if (from == std::string::npos || line[from] == '#' || line.compare(from, key.size(), key) != 0) continue;
      std::string dir = ExpandUserDir(std::string_view(line).substr(from + key.size()), home);
      if (!dir.empty()) return dir;
    }
    const std::string conventional = home + "/" + fallback;
    if (IsFolder(conventional)) return conventional;
  }
  return {};
}

std::string NativeFolder(int folder) {
  switch (folder) {
    case kFolderPersonal:
      return UserDir("XDG_DOCUMENTS_DIR", "Documents");
    case kFolderDesktopDirectory:
      return UserDir("XDG_DESKTOP_DIR", "Desktop");
    case kFolderCommonAppData: {
      std::string data = Environment("KESTROVA_PROGRAMDATA");
      return data.empty() ? std::string("/var/lib") : data;
    }
    case kFolderProfile:
      return HomeFolder();
    default:
      return {};
  }
}

}  // namespace

std::string SpecialFolderPath(int folder) {
  const std::string native = NativeFolder(folder);
  return native.empty() ? std::string() : FromNativePath(native);
}

std::string TempPath() {
  std::string temp = Environment("TMPDIR");
  if (temp.empty()) temp = "/tmp";
  if (temp.back() != '/') temp += '/';
  return FromNativePath(temp);
}

bool FileNamesIgnoreCase() { return false; }

}  // namespace platform
