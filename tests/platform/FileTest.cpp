#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DirectorySearch.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(Path, WindowsPathsMapToPosixAndBack) {
  EXPECT_EQ(platform::ToNativePath("C:\\x\\y.log"), "/x/y.log");
  EXPECT_EQ(platform::ToNativePath("\\tmp\\a"), "/tmp/a");
  EXPECT_EQ(platform::ToNativePath("rel\\a"), "rel/a");
  EXPECT_EQ(platform::FromNativePath("/var/lib/x"), "\\var\\lib\\x");
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  // The second byte 0x5C of "so" is not a delimiter: the native name is UTF-8.
  EXPECT_EQ(platform::ToNativePath("\\d\\\x83\x5C"), "/d/ソ");
  EXPECT_EQ(platform::FromNativePath("/d/ソ"), "\\d\\\x83\x5C");
}

TEST(DirectorySearch, WildcardsIgnoreAsciiCaseAndOnlyRegularFilesAreFiles) {
  TempDir dir;
  WriteFile(dir.Native("a.log"), "x");
  WriteFile(dir.Native("ACCESS.LOG"), "x");
  WriteFile(dir.Native("b.txt"), "x");
  WriteFile(dir.Native("x.logx"), "x");
  mkdir(dir.Native("old.log").c_str(), 0755);
  mkfifo(dir.Native("pipe.log").c_str(), 0644);
  symlink(dir.Native("a.log").c_str(), dir.Native("link.log").c_str());
  symlink(dir.Native("none").c_str(), dir.Native("dangling.log").c_str());
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sockPath = dir.Native("sock.log");
  std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  platform::DirectorySearch search;
  ASSERT_TRUE(search.Open(platform::ToWide(dir.System("*.log"))));
  std::vector<std::string> files, folders;
  platform::DirectoryEntry e;
  while (search.Next(e)) (e.isDirectory ? folders : files).push_back(platform::FromWide(e.name));
  close(sock);
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ACCESS.LOG", "a.log", "link.log"}));
  EXPECT_EQ(folders, (std::vector<std::string>{"dangling.log", "old.log", "pipe.log", "sock.log"}));
  EXPECT_FALSE(search.Open(platform::ToWide(dir.System("missing\\*.log"))));
}

TEST(DirectorySearch, PatternMatching) {
  EXPECT_TRUE(platform::MatchesPattern(u"a.LOG", u"*.log"));
  EXPECT_TRUE(platform::MatchesPattern(u"noext", u"*.*"));
  EXPECT_TRUE(platform::MatchesPattern(u"ab", u"a?"));
  EXPECT_FALSE(platform::MatchesPattern(u"a", u"a?"));
  EXPECT_FALSE(platform::MatchesPattern(u"a.logx", u"*.log"));
  EXPECT_TRUE(platform::MatchesPattern(u"x.log.log", u"*.log"));
}

TEST(File, ExclusiveCreationNeverFollowsOrReuses) {
  TempDir dir;
  WriteFile(dir.Native("target"), "keep");
  symlink(dir.Native("target").c_str(), dir.Native("link").c_str());
  platform::File f;
  EXPECT_EQ(f.CreateExclusive(dir.System("link")), EEXIST);
  EXPECT_EQ(f.CreateExclusive(dir.System("target")), EEXIST);
  EXPECT_EQ(ReadFile(dir.Native("target")), "keep");
  ASSERT_EQ(f.CreateExclusive(dir.System("new")), 0);
  EXPECT_EQ(f.Write("abc", 3), 0);
  EXPECT_EQ(f.Flush(), 0);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(ReadFile(dir.Native("new")), "abc");
}

TEST(File, PlainRenameRefusesAnExistingTargetAndReplaceDoesNot) {
  TempDir dir;
  WriteFile(dir.Native("a"), "A");
  WriteFile(dir.Native("b"), "B");
  EXPECT_EQ(platform::RenameFile(dir.System("a"), dir.System("b")), EEXIST);
  EXPECT_EQ(ReadFile(dir.Native("b")), "B");
  EXPECT_EQ(platform::ReplaceFile(dir.System("a"), dir.System("b")), 0);
  EXPECT_EQ(ReadFile(dir.Native("b")), "A");
  EXPECT_EQ(platform::RenameFile(dir.System("b"), dir.System("c")), 0);
  EXPECT_EQ(platform::ErrorText(ENOENT), "No such file or directory");
}

TEST(File, ReadingRefusesAFileOpenForWriting) {
  TempDir dir;
  WriteFile(dir.Native("log"), "x");
  platform::File reader;
  {
    int writer = open(dir.Native("log").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    int err = reader.OpenRead(dir.System("log"), true);
    close(writer);
    // Where leases are available the open is refused; elsewhere it is not.
    if (err == 0) GTEST_SKIP() << "no read leases on this file system";
    EXPECT_EQ(err, EBUSY);
  }
  ASSERT_EQ(reader.OpenRead(dir.System("log"), true), 0);
  EXPECT_FALSE(reader.WriterAppeared());
  EXPECT_EQ(reader.OpenRead(dir.System("log"), false), 0);
}

TEST(File, FoldersAreCreatedWithTheirParents) {
  TempDir dir;
  EXPECT_EQ(platform::CreateDirectories(dir.System("a\\b\\c")), 0);
  EXPECT_TRUE(platform::DirectoryExists(dir.System("a\\b\\c")));
  EXPECT_FALSE(platform::FileExists(dir.System("a\\b\\c")));
  WriteFile(dir.Native("f"), "x");
  EXPECT_NE(platform::CreateDirectories(dir.System("f\\g")), 0);
}
