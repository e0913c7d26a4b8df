#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// The system's names for its own functions, which the platform layer uses too.
#undef DeleteFile
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DirectorySearch.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Path.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

#ifdef _WIN32
using testing_support::Wide;

constexpr int kFileExists = ERROR_FILE_EXISTS;
constexpr int kNoSuchFile = ERROR_FILE_NOT_FOUND;

// A handle of this process stands for another process: share modes are
// checked between handles.
HANDLE OpenShared(const std::string& path, DWORD access, DWORD share) {
  return CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

// False where links cannot be made (without the right, or under Wine, whose
// call reports success and makes none).
bool MakeLink(const std::string& target, const std::string& link) {
  if (!CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    return false;
  const DWORD attributes = GetFileAttributesW(Wide(link).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
#else
constexpr int kFileExists = EEXIST;
constexpr int kNoSuchFile = ENOENT;

bool MakeLink(const std::string& target, const std::string& link) { return symlink(target.c_str(), link.c_str()) == 0; }
#endif

}  // namespace

#ifdef _WIN32
TEST(Path, SystemPathsAreNativeAndShownAsTheyAre) {
  EXPECT_EQ(platform::ToNativePath("C:\\x\\y.log"), "C:\\x\\y.log");
  EXPECT_EQ(platform::FromNativePath("\\\\server\\share\\x"), "\\\\server\\share\\x");
  EXPECT_EQ(platform::ShownPath("C:\\x\\y.log"), "C:\\x\\y.log");
  EXPECT_EQ(platform::ShownPath("C:\\x", "y.log"), "C:\\x\\y.log");
  EXPECT_EQ(platform::ShownPath("C:\\x\\", "y.log"), "C:\\x\\y.log");
  EXPECT_EQ(platform::ShownPath("C:", "y.log"), "C:y.log");
  // "表" ends in the byte of a backslash, which is no delimiter there.
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  EXPECT_EQ(platform::ShownPath("C:\\\x95\x5c", "y.log"), "C:\\\x95\x5c\\y.log");
}
#else
TEST(Path, WindowsPathsMapToPosixAndBack) {
  EXPECT_EQ(platform::ToNativePath("C:\\x\\y.log"), "/x/y.log");
  EXPECT_EQ(platform::ToNativePath("\\tmp\\a"), "/tmp/a");
  EXPECT_EQ(platform::ToNativePath("rel\\a"), "rel/a");
  EXPECT_EQ(platform::FromNativePath("/var/lib/x"), "\\var\\lib\\x");
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  // The second byte 0x5C of "so" is not a delimiter: the native name is UTF-8.
  EXPECT_EQ(platform::ToNativePath("\\d\\\x83\x5C"), "/d/ソ");
  EXPECT_EQ(platform::FromNativePath("/d/ソ"), "\\d\\\x83\x5C");
  // Messages show the platform's own form, whatever form the path came in.
  EXPECT_EQ(platform::ShownPath("\\d\\\x83\x5C"), "/d/\x83\x5C");
  EXPECT_EQ(platform::ShownPath("C:\\d\\\x83\x5C\\", "a.log"), "/d/\x83\x5C/a.log");
  EXPECT_EQ(platform::ShownPath("/tmp/x", "a.log"), "/tmp/x/a.log");
}
#endif

TEST(DirectorySearch, WildcardsIgnoreAsciiCaseAndOnlyRegularFilesAreFiles) {
  TempDir dir;
  WriteFile(dir.Native("a.log"), "x");
  WriteFile(dir.Native("ACCESS.LOG"), "x");
  WriteFile(dir.Native("b.txt"), "x");
  WriteFile(dir.Native("x.logx"), "x");
  std::filesystem::create_directory(dir.Native("old.log"));
  const bool links =
      MakeLink(dir.Native("a.log"), dir.Native("link.log")) && MakeLink(dir.Native("none"), dir.Native("dangling.log"));
  std::vector<std::string> expectedFiles{"ACCESS.LOG", "a.log"}, expectedFolders{"old.log"};
  if (links) {
    expectedFiles.push_back("link.log");
    expectedFolders.push_back("dangling.log");
  } else {
    std::filesystem::remove(dir.Native("link.log"));
  }
#ifndef _WIN32
  ASSERT_TRUE(links);
  mkfifo(dir.Native("pipe.log").c_str(), 0644);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sockPath = dir.Native("sock.log");
  std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  expectedFolders.insert(expectedFolders.end(), {"pipe.log", "sock.log"});
#endif

  platform::DirectorySearch search;
  ASSERT_TRUE(search.Open(platform::ToWide(dir.System("*.log"))));
  std::vector<std::string> files, folders;
  platform::DirectoryEntry e;
  while (search.Next(e)) (e.isDirectory ? folders : files).push_back(platform::FromWide(e.name));
  EXPECT_EQ(search.Error(), 0);
#ifndef _WIN32
  close(sock);
#endif
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  std::sort(expectedFiles.begin(), expectedFiles.end());
  std::sort(expectedFolders.begin(), expectedFolders.end());
  EXPECT_EQ(files, expectedFiles);
  EXPECT_EQ(folders, expectedFolders);
  EXPECT_FALSE(search.Open(platform::ToWide(dir.System("missing\\*.log"))));
  // A folder without a match is an empty search, a missing single name none.
  ASSERT_TRUE(search.Open(platform::ToWide(dir.System("*.none"))));
  EXPECT_FALSE(search.Next(e));
  EXPECT_EQ(search.Error(), 0);
  EXPECT_FALSE(search.Open(platform::ToWide(dir.System("b.none"))));
  ASSERT_TRUE(search.Open(platform::ToWide(dir.System("b.txt"))));
  ASSERT_TRUE(search.Next(e));
  EXPECT_EQ(e.name, u"b.txt");
  EXPECT_EQ(e.size, 1u);
  EXPECT_FALSE(search.Next(e));
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
  platform::File f;
  const bool link = MakeLink(dir.Native("target"), dir.Native("link"));
#ifndef _WIN32
  ASSERT_TRUE(link);
#endif
  if (link) {
    EXPECT_EQ(f.CreateExclusive(dir.System("link")), kFileExists);
  }
  EXPECT_EQ(f.CreateExclusive(dir.System("target")), kFileExists);
  EXPECT_EQ(ReadFile(dir.Native("target")), "keep");
  ASSERT_EQ(f.CreateExclusive(dir.System("new")), 0);
  EXPECT_EQ(f.Write("abc", 3), 0);
  EXPECT_EQ(f.Flush(), 0);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(ReadFile(dir.Native("new")), "abc");
}

TEST(File, ErrorsAreTheSystemsCodesAndTexts) {
  TempDir dir;
  platform::File f;
  const int err = f.OpenRead(dir.System("gone"), false);
  EXPECT_EQ(err, kNoSuchFile);
  EXPECT_TRUE(platform::IsNotFound(err));
  EXPECT_FALSE(platform::IsNotFound(kFileExists));
#ifdef _WIN32
  // The system's sentence without its line end and period, as callers
  // append their own.
  const std::string text = platform::ErrorText(kNoSuchFile);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_NE(text.back(), '.') << text;
#else
  EXPECT_EQ(platform::ErrorText(ENOENT), "No such file or directory");
#endif
}

#ifdef _WIN32
TEST(File, ReadingRefusesAFileOpenForWriting) {
  TempDir dir;
  WriteFile(dir.Native("log"), "x");
  platform::File reader;
  HANDLE writer = OpenShared(dir.System("log"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(reader.OpenRead(dir.System("log"), true), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(reader.OpenRead(dir.System("log"), false), 0);  // without the guard it opens
  CloseHandle(writer);

  ASSERT_EQ(reader.OpenRead(dir.System("log"), true), 0);
  // While it is open, no writer gets in.
  EXPECT_EQ(OpenShared(dir.System("log"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE other = OpenShared(dir.System("log"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);  // readers still do
  CloseHandle(other);
}

TEST(File, ReplaceWaitsForABriefHolderAndGivesUpOnAPersistentOne) {
  TempDir dir;
  platform::Folder folder;
  ASSERT_EQ(folder.Open(dir.System()), 0);
  // A new file of the folder's own in place of the log, as the repair makes it.
  auto replace = [&](const char* content) {
    platform::File made, log;
    platform::FileInfo expected;
    EXPECT_EQ(folder.OpenRead("log", false, log, expected), 0);
    EXPECT_EQ(folder.CreateExclusive("new", made), 0);
    EXPECT_EQ(made.Write(content, 1), 0);
    bool same = false;
    return folder.Replace("new", made, "log", expected, same);
  };
  WriteFile(dir.Native("log"), "O");
  // Held without FILE_SHARE_DELETE, as a virus scanner does for a moment.
  HANDLE held = OpenShared(dir.System("log"), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    CloseHandle(held);
  });
  const int brief = replace("N");
  release.join();
  EXPECT_EQ(brief, 0);
  EXPECT_EQ(ReadFile(dir.Native("log")), "N");

  held = OpenShared(dir.System("log"), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto start = std::chrono::steady_clock::now();
  const int err = replace("M");
  const auto waited = std::chrono::steady_clock::now() - start;
  CloseHandle(held);
  EXPECT_TRUE(err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED) << err;
  EXPECT_GE(waited, std::chrono::milliseconds(400));  // retried, 50 + 100 + 150 + 200 ms
  EXPECT_EQ(ReadFile(dir.Native("log")), "N");
  EXPECT_EQ(ReadFile(dir.Native("new")), "M");
}

TEST(File, InfoIdentifiesTheFileAndAttributesAreCarriedOver) {
  TempDir dir;
  WriteFile(dir.Native("old"), "abc");
  ASSERT_TRUE(SetFileAttributesW(Wide(dir.System("old")).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  platform::FileInfo old, again;
  ASSERT_EQ(platform::GetFileInfo(dir.System("old"), old), 0);
  EXPECT_TRUE(old.isRegular);
  EXPECT_EQ(old.size, 3u);
  EXPECT_NE(old.lastWriteTime, 0u);
  platform::File f;
  ASSERT_EQ(f.CreateExclusive(dir.System("new")), 0);
  bool kept = false;
  ASSERT_EQ(f.CopyAccessFrom(old, kept), 0);
  EXPECT_TRUE(kept);
  EXPECT_EQ(f.Write("x", 1), 0);  // read-only does not stop this handle
  ASSERT_EQ(f.SetTimes(nullptr, nullptr, &old.lastWriteTime), 0);
  ASSERT_EQ(f.Close(), 0);
  const DWORD attributes = GetFileAttributesW(Wide(dir.System("new")).c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  ASSERT_EQ(platform::GetFileInfo(dir.System("new"), again), 0);
  EXPECT_EQ(again.lastWriteTime, old.lastWriteTime);
  EXPECT_EQ(again.volume, old.volume);
  EXPECT_NE(again.fileId, old.fileId);
  platform::FileInfo same;
  ASSERT_EQ(platform::GetFileInfo(dir.System("old"), same), 0);
  EXPECT_EQ(same.fileId, old.fileId);
  EXPECT_FALSE(platform::GetFileInfo(dir.System("."), same) == 0 && same.isRegular);
}
#else
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
  EXPECT_EQ(reader.OpenRead(dir.System("log"), false), 0);
}

TEST(File, WritersOfAFileAreSeenEvenAfterItWasRenamedOver) {
  TempDir dir;
  WriteFile(dir.Native("log"), "x");
  WriteFile(dir.Native("new"), "y");
  for (const bool guarded : {false, true}) {
    SCOPED_TRACE(guarded ? "opened refusing writers" : "opened plainly");
    platform::File reader;
    ASSERT_EQ(reader.OpenRead(dir.System("log"), guarded), 0);
    EXPECT_FALSE(reader.OthersWriting());
    // A writer arriving breaks a held lease; it must not wait for it.
    const auto start = std::chrono::steady_clock::now();
    const int writer = open(dir.Native("log").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const bool seen = reader.OthersWriting();
    close(writer);
    if (!seen) GTEST_SKIP() << "no read leases on this file system";
    EXPECT_FALSE(reader.OthersWriting());
  }
  // The writer holds the old file open while another takes its name.
  platform::File reader;
  ASSERT_EQ(reader.OpenRead(dir.System("log"), false), 0);
  const int writer = open(dir.Native("log").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(rename(dir.Native("new").c_str(), dir.Native("log").c_str()), 0);
  EXPECT_TRUE(reader.OthersWriting());
  EXPECT_EQ(write(writer, "z", 1), 1);
  close(writer);
  EXPECT_FALSE(reader.OthersWriting());
  std::size_t got = 0;
  char bytes[4] = {};
  ASSERT_EQ(reader.Read(bytes, sizeof bytes, got), 0);
  EXPECT_EQ(std::string(bytes, got), "xz");
  EXPECT_EQ(ReadFile(dir.Native("log")), "y");
}
#endif

TEST(File, FoldersAreCreatedWithTheirParents) {
  TempDir dir;
  EXPECT_EQ(platform::CreateDirectories(dir.System("a\\b\\c")), 0);
  EXPECT_TRUE(platform::DirectoryExists(dir.System("a\\b\\c")));
  EXPECT_FALSE(platform::FileExists(dir.System("a\\b\\c")));
  WriteFile(dir.Native("f"), "x");
  EXPECT_NE(platform::CreateDirectories(dir.System("f\\g")), 0);
}
