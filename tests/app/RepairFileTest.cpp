#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// The system's names for its own functions, which the platform layer uses too.
#undef DeleteFile
#undef ReplaceFile
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <string>

#include "app/KvUpdaterMainForm.h"
#include "base/Exception.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "support/TestSupport.h"

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

#ifndef _WIN32
// Failure seams: the test program's own renameat2 and fsync take precedence
// over the C library's, so a test can make one of them fail or make another
// process's move at that moment.
namespace {
std::atomic<int> gRenameError{0};
std::atomic<int> gFsyncError{0};
std::atomic<bool> gNoExchange{false};  // a file system that cannot exchange two names
std::string gAppendOnFsync;            // a file that grows while the repair flushes
std::string gAppendOnRename;           // a file that grows just before the replace
std::string gRotateOnRename;           // a log rotated just before the replace

void AppendLate(const std::string& path) {
  int f = open(path.c_str(), O_WRONLY | O_APPEND);
  if (f >= 0) {
    if (::write(f, "late\r\n", 6) != 6) {
    }
    close(f);
  }
}
}  // namespace

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
  if (!gAppendOnRename.empty()) AppendLate(gAppendOnRename);
  if (!gRotateOnRename.empty()) {
    const std::string rotated = gRotateOnRename;
    gRotateOnRename.clear();
    ::rename(rotated.c_str(), (rotated + ".1").c_str());
    WriteFile(rotated, "new\r\n");
  }
  int err = gRenameError.load();
  if (!err && gNoExchange && (flags & RENAME_EXCHANGE)) err = EINVAL;
  if (err) {
    errno = err;
    return -1;
  }
  using Fn = int (*)(int, const char*, int, const char*, unsigned);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "renameat2"));
  return real(fromFolder, from, toFolder, to, flags);
}

extern "C" int fsync(int fd) {
  if (!gAppendOnFsync.empty()) AppendLate(gAppendOnFsync);
  if (int err = gFsyncError.load()) {
    errno = err;
    return -1;
  }
  using Fn = int (*)(int);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
  return real(fd);
}
#endif

struct KvUpdaterMainFormTestPeer {
  static void RepairFile(TKvAccesslogUpdaterForm& form, const std::string& name, int& updated) {
    form.RepairFile(name, updated);
  }
};

namespace {

constexpr const char* kPrefix21 = "123456789012345678901";  // 21 bytes after the tag

std::string Info(const std::string& rest) { return std::string("INFO\t") + kPrefix21 + rest; }

struct Result {
  int updated = 0;
  std::string error;
};

Result Repair(const std::string& systemPath) {
  TKvAccesslogUpdaterForm form;
  Result r;
  try {
    KvUpdaterMainFormTestPeer::RepairFile(form, systemPath, r.updated);
  } catch (const Exception& e) {
    r.error = e.Message();
  }
  return r;
}

// Below a millisecond, in the 100 ns units Windows keeps.
constexpr long kSubMillisecond = 123456700;

#ifdef _WIN32
// Seconds between 1601, where Windows counts from, and 1970.
constexpr long long kEpochSeconds = 11644473600LL;

struct timespec MTime(const std::string& native) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(native.c_str(), GetFileExInfoStandard, &data);
  const long long ticks =
      static_cast<long long>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  return {static_cast<time_t>(ticks / 10000000 - kEpochSeconds), static_cast<long>(ticks % 10000000 * 100)};
}

void SetMTime(const std::string& native, long sec, long nsec) {
  HANDLE h = CreateFileA(native.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  const unsigned long long ticks = (sec + kEpochSeconds) * 10000000ULL + static_cast<unsigned long long>(nsec) / 100;
  const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SetFileTime(h, nullptr, nullptr, &time);
  CloseHandle(h);
}

// Another program's handle on the file, with the access and sharing given.
class HeldOpen {
 public:
  HeldOpen(const std::string& native, DWORD access, DWORD share)
      : FHandle(CreateFileA(native.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldOpen() { CloseHandle(FHandle); }
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool Held() const { return FHandle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE FHandle;
};
#else
struct timespec MTime(const std::string& native) {
  struct stat st {};
  stat(native.c_str(), &st);
  return st.st_mtim;
}

void SetMTime(const std::string& native, long sec, long nsec) {
  struct timespec times[2] = {{0, UTIME_OMIT}, {sec, nsec}};
  utimensat(AT_FDCWD, native.c_str(), times, 0);
}
#endif

class RepairFileTest : public ::testing::Test {
 protected:
#ifndef _WIN32
  void TearDown() override {
    gRenameError = 0;
    gFsyncError = 0;
    gNoExchange = false;
    gAppendOnFsync.clear();
    gAppendOnRename.clear();
    gRotateOnRename.clear();
  }
#endif
  // A file of the folder as messages show it.
  std::string Shown(const std::string& name) {
#ifdef _WIN32
    return dir.System(name);
#else
    return dir.Native(name);
#endif
  }
  std::string Log(const std::string& content, const std::string& name = "access.log") {
    WriteFile(dir.Native(name), content);
    return dir.Native(name);
  }
  TempDir dir;
};

}  // namespace

TEST_F(RepairFileTest, FileWithoutTaggedRecordIsLeftUntouched) {
  const std::string content = "a,b\nc,\"d\"\n\"INFO x\",y\nz,INFO\tq\n";
  const std::string log = Log(content);
  SetMTime(log, 1700000000, kSubMillisecond);
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_EQ(MTime(log).tv_nsec, kSubMillisecond);
  EXPECT_FALSE(Exists(log + ".temp"));
}

TEST_F(RepairFileTest, CorrectedFileIsRewrittenCanonicallyWithItsOldTime) {
  const std::string log = Log(Info("abc") + ",x,\"y\"\"z\"\nplain,\"multi\r\nline\"\r\n" + "info\t" + kPrefix21 +
                              "low\n" + "INFO\tshort,k\n");
  SetMTime(log, 1700000000, kSubMillisecond);
  Result r = Repair(dir.System("access.log"));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.updated, 1);
  EXPECT_EQ(ReadFile(log),
            "\"abc\",\"x\",\"y\"\"z\"\r\n"
            "\"plain\",\"multi\r\nline\"\r\n"
            "\"low\"\r\n"
            "\"\",\"k\"\r\n");
  // The old last-write time comes back to the millisecond.
  EXPECT_EQ(MTime(log).tv_sec, 1700000000);
  EXPECT_EQ(MTime(log).tv_nsec, 123000000);
  EXPECT_FALSE(Exists(log + ".temp"));
}

// The tag in quoted first fields and in any case of its letters; a quote
// inside the prefix is cut as one byte of the value; a full-width letter is
// not the tag's letter.
TEST_F(RepairFileTest, TagIsFoundInQuotedFieldsAndInAnyCase) {
  const std::string log =
      Log("iNfO\t" + std::string(kPrefix21) + "x\n" + "\"" + Info("a\"\"b") + "\",c\r\n" +
          "\"INFO\t12\"\"3456789012345678901tail\"\n" + "\"\xEF\xBC\xA9NFO\t" + kPrefix21 + "z\"\r\n" + "\"INFO\"\n");
  Result r = Repair(dir.System("access.log"));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.updated, 1);
  EXPECT_EQ(ReadFile(log),
            "\"x\"\r\n"
            "\"a\"\"b\",\"c\"\r\n"
            "\"1tail\"\r\n"
            "\"\xEF\xBC\xA9NFO\t" +
                std::string(kPrefix21) + "z\"\r\n" + "\"INFO\"\r\n");
}

TEST_F(RepairFileTest, EmptyFileAndEmptyLines) {
  const std::string empty = Log("", "empty.log");
  EXPECT_EQ(Repair(dir.System("empty.log")).updated, 0);
  EXPECT_EQ(ReadFile(empty), "");
  EXPECT_FALSE(Exists(empty + ".temp"));

  // An empty line no longer stops the run: it stays as an empty line.
  const std::string log = Log(Info("a") + "\n\r\n\n\r" + "b\n");
  Result r = Repair(dir.System("access.log"));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.updated, 1);
  EXPECT_EQ(ReadFile(log), "\"a\"\r\n\r\n\r\n\r\n\"b\"\r\n");
}

TEST_F(RepairFileTest, BytesAreNeverConverted) {
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  const std::string so = "\x83\x5C";  // katakana so: its second byte is a backslash
  const std::string log = Log(Info(so + "\xFF\x80") + "," + so + "\n");
  Result r = Repair(dir.System("access.log"));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(ReadFile(log), "\"" + so + "\xFF\x80\",\"" + so + "\"\r\n");
}

TEST_F(RepairFileTest, ALeftoverOrPlantedTemporaryNameIsNeverFollowed) {
  TempDir outside;
  WriteFile(outside.Native("victim"), "keep me");
  const std::string log = Log(Info("x") + "\n");
#ifdef _WIN32
  // Wine makes no symbolic links; a hard link is planted the same way.
  ASSERT_TRUE(CreateHardLinkA((log + ".temp").c_str(), outside.Native("victim").c_str(), nullptr));
#else
  ASSERT_EQ(symlink(outside.Native("victim").c_str(), (log + ".temp").c_str()), 0);
#endif
  Result r = Repair(dir.System("access.log"));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(ReadFile(outside.Native("victim")), "keep me");
  EXPECT_EQ(ReadFile(log), "\"x\"\r\n");
  EXPECT_FALSE(Exists(log + ".temp"));
}

TEST_F(RepairFileTest, PermissionsAreKept) {
  const std::string log = Log(Info("x") + "\n");
#ifdef _WIN32
  // What a user sets on the file, without stopping the replace.
  ASSERT_TRUE(SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_EQ(Repair(dir.System("access.log")).updated, 1);
  EXPECT_EQ(GetFileAttributesA(log.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
            DWORD{FILE_ATTRIBUTE_HIDDEN});
#else
  chmod(log.c_str(), 0640);
  ASSERT_EQ(Repair(dir.System("access.log")).updated, 1);
  struct stat st {};
  stat(log.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
}

TEST_F(RepairFileTest, NulByteOutsideQuotesRefusesTheReplace) {
  using namespace std::string_literals;
  const std::string content = Info("x") + "\n" + "a\0b\nlost\n"s;
  const std::string log = Log(content);
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + "\" にNUL文字があるため修正できません");
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}

#ifdef _WIN32
// Folders have no write permission of their own on Windows; a read-only file
// is the user's refusal of the replace.
TEST_F(RepairFileTest, ReadOnlyFileIsNotReplacedAndLeavesNoDebris) {
  const std::string content = Info("x") + "\n";
  const std::string log = Log(content);
  ASSERT_TRUE(SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_READONLY));
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + "\" を置き換えできません. " +
                         platform::ErrorText(ERROR_ACCESS_DENIED));
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}

// Another program reads the file without letting it be deleted or renamed.
TEST_F(RepairFileTest, FailedReplaceLeavesTheOldFileAndNoDebris) {
  const std::string content = Info("x") + "\n";
  const std::string log = Log(content);
  HeldOpen reader(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(reader.Held());
  Result r = Repair(dir.System("access.log"));
  // The system's reason varies with its version (Wine: a sharing violation).
  const std::string cause = "ファイル \"" + Shown("access.log") + "\" を置き換えできません. ";
  EXPECT_EQ(r.error.rfind(cause, 0), 0u) << r.error;
  EXPECT_GT(r.error.size(), cause.size());
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}

// A file another program holds open for writing may change while it is read,
// so it is not read at all.
TEST_F(RepairFileTest, FileHeldOpenForWritingIsNotRead) {
  const std::string content = Info("x") + "\n";
  const std::string log = Log(content);
  HeldOpen writer(log, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_TRUE(writer.Held());
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + "\". " + platform::ErrorText(ERROR_SHARING_VIOLATION) +
                         " は開けません");
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}
#else
TEST_F(RepairFileTest, ReadOnlyFolderReportsTheCreateError) {
  const std::string content = Info("x") + "\n";
  const std::string log = Log(content);
  chmod(dir.Native().c_str(), 0555);
  chmod(log.c_str(), 0644);
  const std::string system = dir.System("access.log"), shown = Shown("access.log");
  // Root writes into read-only folders, so the repair runs as nobody then.
  auto unprivileged = [&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(2);
    Result r = Repair(system);
    const bool ok = r.error == "ファイル \"" + shown + ".temp\". Permission denied を作成できません" && r.updated == 0;
    std::_Exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(unprivileged(), ::testing::ExitedWithCode(0), "");
  chmod(dir.Native().c_str(), 0700);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}

TEST_F(RepairFileTest, FailedReplaceLeavesTheOldFileAndNoDebris) {
  const std::string content = Info("x") + "\n";
  const std::string log = Log(content);
  gRenameError = EXDEV;
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + "\" を置き換えできません. Invalid cross-device link");
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}

TEST_F(RepairFileTest, FailedFlushIsAnErrorNotASuccess) {
  const std::string content = Info("x") + "\n";
  const std::string log = Log(content);
  gFsyncError = EIO;
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + ".temp\" に書き込めません. Input/output error");
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}

TEST_F(RepairFileTest, FileThatChangedWhileReadIsNotReplaced) {
  const std::string log = Log(Info("x") + "\n");
  gAppendOnFsync = log;
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + "\" は修正中に変更されました");
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(ReadFile(log), Info("x") + "\nlate\r\n");
  EXPECT_FALSE(Exists(log + ".temp"));
}

// Records appended after the last check, just before the replace, reach the
// old file only; they are carried over to the end of the new one. A log
// rotated at that moment stays in place, and so does the rotated one. Both
// where the folder's file system exchanges two names in one step and where
// it cannot.
TEST_F(RepairFileTest, LastMomentAppendsAreCarriedOverAndRotationsKept) {
  for (const bool exchange : {true, false}) {
    SCOPED_TRACE(exchange ? "exchange" : "rename");
    gNoExchange = !exchange;
    const std::string log = Log(Info("x") + "\n");
    gAppendOnRename = log;
    Result r = Repair(dir.System("access.log"));
    gAppendOnRename.clear();
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.updated, 1);
    EXPECT_EQ(ReadFile(log), "\"x\"\r\nlate\r\n");

    Log(Info("y") + "\n");
    gRotateOnRename = log;
    r = Repair(dir.System("access.log"));
    EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + "\" は修正中に変更されました");
    EXPECT_EQ(r.updated, 0);
    EXPECT_EQ(ReadFile(log), "new\r\n");
    EXPECT_EQ(ReadFile(log + ".1"), Info("y") + "\n");
    EXPECT_FALSE(Exists(log + ".temp"));
  }
}

TEST_F(RepairFileTest, FileSizeLimitReportsTheWriteError) {
  // The limit applies to the whole process, so the repair runs in a child.
  const std::string content = Info(std::string(3000, 'x')) + "\n";
  const std::string log = Log(content);
  const std::string system = dir.System("access.log");
  auto limited = [&] {
    struct rlimit limit = {1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    Result r = Repair(system);
    const bool ok =
        r.error == "ファイル \"" + Shown("access.log") + ".temp\" に書き込めません. File too large" && r.updated == 0;
    std::_Exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(limited(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFile(log), content);
  EXPECT_FALSE(Exists(log + ".temp"));
}
#endif

// A link is no log of the folder: nothing is read through it, and nothing
// is made or removed beside what it names.
TEST_F(RepairFileTest, LinkIsNeverFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine makes no symbolic links";
#else
  TempDir other;
  WriteFile(other.Native("real.log"), Info("x") + "\n");
  WriteFile(other.Native("real.log.temp"), "keep");
  ASSERT_EQ(symlink(other.Native("real.log").c_str(), dir.Native("access.log").c_str()), 0);
  Result r = Repair(dir.System("access.log"));
  EXPECT_EQ(r.error, "ファイル \"" + Shown("access.log") + "\" は修正中に変更されました");
  EXPECT_EQ(r.updated, 0);
  struct stat st {};
  lstat(dir.Native("access.log").c_str(), &st);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(other.Native("real.log")), Info("x") + "\n");
  EXPECT_EQ(ReadFile(other.Native("real.log.temp")), "keep");
  EXPECT_FALSE(Exists(dir.Native("access.log.temp")));
#endif
}

TEST_F(RepairFileTest, MissingFileReportsTheReaderErrorAndLeavesNoDebris) {
  Result r = Repair(dir.System("gone.log"));
  EXPECT_EQ(r.error, "CSVFileNameに指定したファイルが存在しません.CSVFilename=" + Shown("gone.log"));
  EXPECT_FALSE(Exists(dir.Native("gone.log.temp")));
}
