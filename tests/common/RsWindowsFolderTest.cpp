#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "common/RsWindowsFolder.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Locale.h"
#include "platform/SpecialFolder.h"
#include "support/TestSupport.h"

using testing_support::TempDir;

namespace {

// Sets (or, with nullopt, removes) environment variables for one test and
// restores them afterwards.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name.c_str());
      FOld[name] = old ? std::optional<std::string>(old) : std::nullopt;
      Set(name, value);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : FOld) Set(name, value);
  }

 private:
  static void Set(const std::string& name, const std::optional<std::string>& value) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> FOld;
};

#ifdef _WIN32
// The shell's own folders: the user's, the machine's and the temporary one.
TEST(RsWindowsFolderTest, ShellFoldersOfTheMachine) {
  TWindowsFolderList list;
  ASSERT_EQ(list.Folders.Count(), TWindowsFolderList::kFolderCount);
  const std::string documents = list.GetFolder(5), data = list.GetFolder(33), profile = list.GetFolder(38),
                    temp = list.GetFolder(51), profiles = list.GetFolder(52);
  for (const std::string& folder : {documents, data, profile, temp, profiles}) {
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\') << folder;
    EXPECT_TRUE(platform::DirectoryExists(folder)) << folder;
  }
  // The shell may give a folder with a trailing delimiter; the list has none.
  const auto shell = [](int folder) {
    std::string path = platform::SpecialFolderPath(folder);
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
  };
  EXPECT_EQ(documents, shell(platform::kFolderPersonal));
  EXPECT_EQ(data, shell(platform::kFolderCommonAppData));
  EXPECT_EQ(profile, shell(platform::kFolderProfile));
  EXPECT_EQ(temp + "\\", platform::TempPath());
  EXPECT_EQ(profiles, ExtractFileDir(profile));
  for (int index : {-1, 53, 1000}) EXPECT_EQ(list.GetFolder(index), "") << index;
}

TEST(RsWindowsFolderTest, ListProfileFolders) {
  TWindowsFolderList list;
  const std::string profile = list.GetFolder(38);
  THashedStringList target;
  target.Add("kept");
  list.ListProfileFolders(target, false);
  EXPECT_EQ(target[0], "kept");
  // The file system ignores case: the root is lower-cased, the names are not.
  const std::string root = platform::LowerCase(list.GetFolder(52)) + "\\";
  const std::string name = profile.substr(profile.rfind('\\') + 1);
  EXPECT_GE(target.IndexOf(root + name), 1) << root + name;
  for (int i = 1; i < target.Count(); ++i) EXPECT_TRUE(platform::DirectoryExists(target[i])) << target[i];

  THashedStringList lower;
  list.ListProfileFolders(lower, true);
  EXPECT_EQ(lower.Count(), target.Count() - 1);
  EXPECT_GE(lower.IndexOf(platform::LowerCase(root + name)), 0);
}
#else
std::string Sys(const std::string& native) {
  std::string s = native;
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

TEST(RsWindowsFolderTest, EntriesFromTheEnvironment) {
  TempDir dir;
  const std::string home = dir.Native("home/usera");
  mkdir(dir.Native("home").c_str(), 0700);
  mkdir(home.c_str(), 0700);
  mkdir((home + "/Documents").c_str(), 0700);
  ScopedEnvironment env({{"HOME", home},
                         {"TMPDIR", dir.Native("tmp")},
                         {"KESTROVA_PROGRAMDATA", dir.Native("data/")},
                         {"XDG_DOCUMENTS_DIR", std::nullopt},
                         {"XDG_DESKTOP_DIR", std::nullopt}});
  TWindowsFolderList list;
  ASSERT_EQ(list.Folders.Count(), TWindowsFolderList::kFolderCount);
  EXPECT_EQ(list.GetFolder(5), Sys(home + "/Documents"));
  EXPECT_EQ(list.GetFolder(6), "");
  EXPECT_EQ(list.GetFolder(12), "");  // no Desktop folder
  EXPECT_EQ(list.GetFolder(33), Sys(dir.Native("data")));
  EXPECT_EQ(list.GetFolder(38), Sys(home));
  EXPECT_EQ(list.GetFolder(51), Sys(dir.Native("tmp")));
  EXPECT_EQ(list.GetFolder(52), Sys(dir.Native("home")));
  for (int index : {-1, 3, 53, 1000}) EXPECT_EQ(list.GetFolder(index), "") << index;
  for (int index = 0; index < 51; ++index) {
    if (index != 5 && index != 33 && index != 38) {
      EXPECT_EQ(list.GetFolder(index), "") << index;
    }
  }
}

TEST(RsWindowsFolderTest, UserFoldersFromVariablesAndUserDirsFile) {
  TempDir dir;
  const std::string home = dir.Native("u");
  mkdir(home.c_str(), 0700);
  mkdir((home + "/.config").c_str(), 0700);
  mkdir((home + "/Documents").c_str(), 0700);
  mkdir((home + "/Desktop").c_str(), 0700);
  testing_support::WriteFile(home + "/.config/user-dirs.dirs",
                             "# written by the desktop\n"
                             "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                             "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n");
  {
    ScopedEnvironment env({{"HOME", home}, {"XDG_DOCUMENTS_DIR", std::nullopt}, {"XDG_DESKTOP_DIR", std::nullopt}});
    TWindowsFolderList list;
    EXPECT_EQ(list.GetFolder(5), "\\srv\\docs");
    EXPECT_EQ(list.GetFolder(12), Sys(home + "/Schreibtisch"));
  }
  {
    // The environment wins over the file.
    ScopedEnvironment env({{"HOME", home}, {"XDG_DOCUMENTS_DIR", "$HOME/Papers/"}, {"XDG_DESKTOP_DIR", "/d"}});
    TWindowsFolderList list;
    EXPECT_EQ(list.GetFolder(5), Sys(home + "/Papers"));
    EXPECT_EQ(list.GetFolder(12), "\\d");
  }
  {
    // Without a user-dirs file the conventional folders count when they exist.
    testing_support::WriteFile(home + "/.config/user-dirs.dirs", "");
    ScopedEnvironment env({{"HOME", home}, {"XDG_DOCUMENTS_DIR", std::nullopt}, {"XDG_DESKTOP_DIR", std::nullopt}});
    TWindowsFolderList list;
    EXPECT_EQ(list.GetFolder(5), Sys(home + "/Documents"));
    EXPECT_EQ(list.GetFolder(12), Sys(home + "/Desktop"));
  }
}

TEST(RsWindowsFolderTest, DefaultsWithoutVariables) {
  ScopedEnvironment env({{"TMPDIR", std::nullopt}, {"KESTROVA_PROGRAMDATA", std::nullopt}, {"HOME", "/"}});
  TWindowsFolderList list;
  EXPECT_EQ(list.GetFolder(51), "\\tmp");
  EXPECT_EQ(list.GetFolder(33), "\\var\\lib");
  // The root keeps its delimiter rather than reading as no folder.
  EXPECT_EQ(list.GetFolder(38), "\\");
  EXPECT_EQ(list.GetFolder(52), "\\");
}

#endif

TEST(RsWindowsFolderTest, ExtractFileDir) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Users\\usera", "C:\\Users"},
      {"C:\\usera", "C:\\"},
      {"\\home\\u", "\\home"},
      {"\\u", "\\"},
      {"C:", "C:"},
      {"usera", ""},
      {"", ""},
      {"a\\\\b", "a\\\\"},
  };
  for (const auto& [path, dir] : cases) EXPECT_EQ(ExtractFileDir(path), dir) << path;
}

TEST(RsWindowsFolderTest, ShiftJisProfilePath) {
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  // "\x83\x5C" is the katakana so: its second byte is '\' but no delimiter.
  EXPECT_EQ(ExtractFileDir("C:\\Users\\\x83\x5C"), "C:\\Users");
  EXPECT_EQ(ExtractFileDir("C:\\\x83\x5C\\a"), "C:\\\x83\x5C");
}

#ifndef _WIN32
TEST(RsWindowsFolderTest, ListProfileFolders) {
  TempDir dir;
  const std::string users = dir.Native("Users");
  mkdir(users.c_str(), 0700);
  mkdir((users + "/usera").c_str(), 0700);
  mkdir((users + "/Public").c_str(), 0700);
  testing_support::WriteFile(users + "/notes.txt", "x");
  mkfifo((users + "/pipe").c_str(), 0600);
  ScopedEnvironment env({{"HOME", users + "/usera"}});
  TWindowsFolderList list;
  THashedStringList target;
  target.Add("kept");
  list.ListProfileFolders(target, false);
  std::vector<std::string> got;
  for (int i = 1; i < target.Count(); ++i) got.push_back(target[i]);
  std::sort(got.begin(), got.end());
  const std::string root = Sys(users) + "\\";
  EXPECT_EQ(target[0], "kept");
  EXPECT_EQ(got, (std::vector<std::string>{root + "Public", root + "usera"}));

  THashedStringList lower;
  list.ListProfileFolders(lower, true);
  EXPECT_GE(lower.IndexOf(platform::LowerCase(root) + "public"), 0);
  EXPECT_EQ(lower.Count(), 2);
}
#endif

}  // namespace
