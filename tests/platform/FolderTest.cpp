// The folder service: entries reached only through the open folder, never
// through a link, and only by names of the folder itself.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Folder.h"
#include "support/TestSupport.h"

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// How the listing saw an entry.
std::string Kind(const platform::FolderEntry& e) {
  if (e.error) return "error";
  if (e.info.isLink) return "link";
  return e.info.isRegular ? "file" : "other";
}

std::map<std::string, std::string> Listed(const platform::Folder& folder, std::u16string_view pattern) {
  std::vector<platform::FolderEntry> entries;
  EXPECT_EQ(folder.List(pattern, entries), 0);
  std::map<std::string, std::string> seen;
  for (const platform::FolderEntry& e : entries) seen[e.name] = Kind(e) + (e.exact ? "" : " inexact");
  return seen;
}

class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(folder.Open(dir.System()), 0); }
  // The folder, or a name in it, as messages show it.
  std::string Shown(const std::string& name = "") const {
#ifdef _WIN32
    return dir.System(name);
#else
    return name.empty() ? dir.Native() : dir.Native(name);
#endif
  }
  TempDir dir;
  platform::Folder folder;
};

}  // namespace

TEST_F(FolderTest, ListsEntriesByTheirOwnNamesAndKinds) {
  WriteFile(dir.Native("a.log"), "a");
  WriteFile(dir.Native("B.LOG"), "b");
  WriteFile(dir.Native("x.logx"), "x");
  WriteFile(dir.Native("other.txt"), "o");
  std::filesystem::create_directory(dir.Native("old.log"));
  std::map<std::string, std::string> expected = {{"a.log", "file"}, {"B.LOG", "file"}, {"old.log", "other"}};
#ifdef _WIN32
  // No "é" in the code page: the system form cannot name this file (it is
  // shown as the system's converter gives it).
  std::ofstream(std::filesystem::path(dir.Native()) / L"caf\u00e9.log") << "c";
  expected[platform::FromWide(u"caf\u00e9.log")] = "file inexact";
#else
  ASSERT_EQ(symlink(dir.Native("a.log").c_str(), dir.Native("link.log").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.Native("fifo.log").c_str(), 0644), 0);
  WriteFile(dir.Native("a*?.log"), "w");      // wildcards are characters of a name
  WriteFile(dir.Native("..\\up.log"), "u");   // a '\' would leave the folder
  WriteFile(dir.Native("bad\xff.log"), "f");  // bytes that form no character
  expected.insert({{"link.log", "link"},
                   {"fifo.log", "other"},
                   {"a*?.log", "file"},
                   {"..\\up.log", "file inexact"},
                   {"bad\xef\xbf\xbd.log", "file inexact"}});
#endif
  EXPECT_EQ(Listed(folder, u"*.log"), expected);
  EXPECT_EQ(Listed(folder, u"a.log"), (std::map<std::string, std::string>{{"a.log", "file"}}));
  EXPECT_EQ(folder.Path(), Shown());
  EXPECT_EQ(folder.PathOf("a.log"), Shown("a.log"));
}

TEST_F(FolderTest, OnlyRegularFilesAreOpenedAndNamesStayInTheFolder) {
  WriteFile(dir.Native("a.log"), "abc");
  std::filesystem::create_directory(dir.Native("sub"));
  WriteFile(dir.Native("sub/inner.log"), "inner");
#ifndef _WIN32
  ASSERT_EQ(symlink(dir.Native("a.log").c_str(), dir.Native("link.log").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.Native("fifo.log").c_str(), 0644), 0);
#endif
  struct Case {
    std::string name;
    bool opened;
    bool refused;  // an error rather than an entry that is not a file
  };
  const Case cases[] = {
      {"a.log", true, false},
      {"sub", false, false},
      {"missing.log", false, true},
      {"", false, true},
      {"..", false, true},
      {"sub\\inner.log", false, true},
      {"sub/inner.log", false, true},
      {std::string("a.log\0x", 7), false, true},
#ifndef _WIN32
      {"link.log", false, false},
      {"fifo.log", false, false},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::File file;
    platform::FileInfo info;
    const int err = folder.OpenRead(c.name, true, file, info);
    EXPECT_EQ(err != 0, c.refused) << platform::ErrorText(err);
    EXPECT_EQ(file.IsOpen(), c.opened);
    if (c.opened) {
      EXPECT_TRUE(info.isRegular);
      EXPECT_EQ(info.size, 3u);
      char bytes[8];
      std::size_t got = 0;
      ASSERT_EQ(file.Read(bytes, sizeof bytes, got), 0);
      EXPECT_EQ(std::string(bytes, got), "abc");
    }
    if (c.name == "missing.log") {
      EXPECT_TRUE(platform::IsNotFound(err));
    }
    if (!c.refused && !c.opened) {
      EXPECT_FALSE(info.isRegular);
    }
  }
}

TEST_F(FolderTest, ReplacesOnlyTheFileThatWasExpected) {
  WriteFile(dir.Native("log"), "old");
  // Held open, as the repair holds the log: its identity stays its own.
  platform::File held;
  platform::FileInfo old;
  ASSERT_EQ(folder.OpenRead("log", false, held, old), 0);
  for (const bool rotated : {true, false}) {
    SCOPED_TRACE(rotated ? "rotated" : "in place");
    platform::File made;
    ASSERT_EQ(folder.CreateExclusive("new", made), 0);
    ASSERT_EQ(made.Write("new", 3), 0);
    if (rotated) {
      std::filesystem::rename(dir.Native("log"), dir.Native("log.1"));
      WriteFile(dir.Native("log"), "other");
    }
    bool same = true;
    ASSERT_EQ(folder.Replace("new", made, "log", old, same), 0);
    EXPECT_EQ(same, !rotated);
    if (rotated) {
      // Nothing changed: the new file waits where it was.
      EXPECT_EQ(ReadFile(dir.Native("log")), "other");
      EXPECT_EQ(ReadFile(dir.Native("new")), "new");
      made.Close();
      std::filesystem::remove(dir.Native("new"));
      std::filesystem::remove(dir.Native("log"));
      std::filesystem::rename(dir.Native("log.1"), dir.Native("log"));
    } else {
      // The file at hand is the one in place.
      ASSERT_EQ(made.Append("+", 1), 0);
      EXPECT_EQ(ReadFile(dir.Native("log")), "new+");
    }
  }
  // The replaced file, if it is left under the other name, is removed only
  // while that name holds it.
  ASSERT_EQ(folder.Remove("new", &old), 0);
  EXPECT_FALSE(Exists(dir.Native("new")));
  WriteFile(dir.Native("new"), "someone else's");
  ASSERT_EQ(folder.Remove("new", &old), 0);
  EXPECT_EQ(ReadFile(dir.Native("new")), "someone else's");
  ASSERT_EQ(folder.Remove("new"), 0);
  EXPECT_FALSE(Exists(dir.Native("new")));
  EXPECT_EQ(folder.Remove("new"), 0);  // nothing there is no error
  platform::File none;
  bool same = true;
  EXPECT_EQ(folder.Replace("log", none, "gone", old, same), 0);
  EXPECT_FALSE(same);
  EXPECT_EQ(ReadFile(dir.Native("log")), "new+");
}

TEST_F(FolderTest, CreatesExclusivelyAndAppendsBehindOtherWriters) {
  platform::File file;
  ASSERT_EQ(folder.CreateExclusive("t", file), 0);
  ASSERT_EQ(file.Write("ab", 2), 0);
  platform::File again;
  EXPECT_NE(folder.CreateExclusive("t", again), 0);
  {
    // Another writer adds to the end meanwhile.
    std::ofstream(dir.Native("t"), std::ios::binary | std::ios::app) << "XY";
  }
  ASSERT_EQ(file.Append("cd", 2), 0);
  ASSERT_EQ(file.Close(), 0);
  EXPECT_EQ(ReadFile(dir.Native("t")), "abXYcd");
}

TEST_F(FolderTest, OneHolderAtATime) {
  auto first = std::make_unique<platform::Folder>();
  platform::Folder second;
  ASSERT_EQ(first->Open(dir.System()), 0);
  ASSERT_EQ(second.Open(dir.System()), 0);
  bool busy = true;
  ASSERT_EQ(first->Lock(busy), 0);
  EXPECT_FALSE(busy);
  ASSERT_EQ(second.Lock(busy), 0);
  EXPECT_TRUE(busy);
  first.reset();
  ASSERT_EQ(second.Lock(busy), 0);
  EXPECT_FALSE(busy);
}
