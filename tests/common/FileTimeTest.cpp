#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <ctime>

#include "common/RsFileUtil.h"
#include "common/RsUtil.h"
#include "support/TestSupport.h"

using testing_support::TempDir;

namespace {

struct UnixTime {
  std::int64_t seconds = 0;
  long nanoseconds = 0;
};

#ifdef _WIN32
FILETIME ToFileTime(UnixTime t) {
  const std::uint64_t v = (static_cast<std::uint64_t>(t.seconds) + platform::kFileTimeUnixEpochSeconds) * 10000000ULL +
                          static_cast<std::uint64_t>(t.nanoseconds) / 100;
  return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}
UnixTime FromFileTime(const FILETIME& ft) {
  const std::uint64_t v = ((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
                          platform::kFileTimeUnixEpochSeconds * 10000000ULL;
  return {static_cast<std::int64_t>(v / 10000000ULL), static_cast<long>(v % 10000000ULL) * 100};
}
HANDLE OpenForTimes(const std::string& native, DWORD access) {
  return CreateFileA(native.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}
void SetTimes(const std::string& native, UnixTime access, UnixTime write) {
  HANDLE h = OpenForTimes(native, FILE_WRITE_ATTRIBUTES);
  const FILETIME a = ToFileTime(access), w = ToFileTime(write);
  SetFileTime(h, nullptr, &a, &w);
  CloseHandle(h);
}
void GetTimes(const std::string& native, UnixTime& access, UnixTime& write) {
  HANDLE h = OpenForTimes(native, FILE_READ_ATTRIBUTES);
  FILETIME a{}, w{};
  GetFileTime(h, nullptr, &a, &w);
  CloseHandle(h);
  access = FromFileTime(a);
  write = FromFileTime(w);
}
#else
void SetTimes(const std::string& native, UnixTime access, UnixTime write) {
  struct timespec times[2] = {{access.seconds, access.nanoseconds}, {write.seconds, write.nanoseconds}};
  utimensat(AT_FDCWD, native.c_str(), times, 0);
}
void GetTimes(const std::string& native, UnixTime& access, UnixTime& write) {
  struct stat st {};
  stat(native.c_str(), &st);
  access = {st.st_atim.tv_sec, st.st_atim.tv_nsec};
  write = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}
#endif

// Runs with a fixed time zone (a summer-time zone, so that the bias in force
// now is what both directions use). Windows takes the zone from the machine's
// setting, whatever the environment says.
class FileTimeTest : public ::testing::Test {
#ifndef _WIN32
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    FOld = tz ? tz : "";
    FHad = tz != nullptr;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void TearDown() override {
    if (FHad)
      setenv("TZ", FOld.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  std::string FOld;
  bool FHad = false;
#endif
};

}  // namespace

TEST_F(FileTimeTest, RoundTripTruncatesToTheMillisecond) {
  // 2026-07-01 12:00:00.1234567 UTC as a file time.
  const platform::FileTime t = (1782907200ULL + platform::kFileTimeUnixEpochSeconds) * 10000000ULL + 1234567;
  const TDateTime local = FileTimeToDateTime(t);
  const DateTimeFields f = DecodeDateTime(local);
  EXPECT_EQ(f.year, 2026);
  EXPECT_EQ(f.month, 7);
  EXPECT_EQ(f.millisecond, 123);
  EXPECT_EQ(DateTimeToFileTime(local), t - 4567);
}

TEST_F(FileTimeTest, UnconvertibleValuesGiveZero) {
  EXPECT_EQ(DateTimeToFileTime(-1e9), 0u);
  EXPECT_EQ(DateTimeToFileTime(1.0 / 0.0), 0u);
}

TEST_F(FileTimeTest, FileTimesAreReadAndSetByKind) {
  TempDir dir;
  testing_support::WriteFile(dir.Native("f"), "x");
  // Within the 100 ns steps of every platform's file times.
  SetTimes(dir.Native("f"), {1600000000, 0}, {1700000000, 987654300});
  const TDateTime written = GetFileTimeOf(dir.System("f"), 1);
  EXPECT_GT(written, 0);
  EXPECT_EQ(GetFileTimeOf(dir.System("f"), 3), 0);
  EXPECT_EQ(GetFileTimeOf(dir.System("missing"), 1), 0);
  EXPECT_EQ(GetFileTimeOf(dir.System("f") + "\\", 1), written);  // one trailing delimiter is dropped
  // A name is never a pattern: "f*" and "?" name no file here, though "f" matches both.
  for (const char* pattern : {"f*", "?"}) EXPECT_EQ(GetFileTimeOf(dir.System(pattern), 1), 0) << pattern;

  SetFileTimes(dir.System("f"), -1, -1, -1);  // changes nothing
  UnixTime access, write;
  GetTimes(dir.Native("f"), access, write);
  EXPECT_EQ(write.nanoseconds, 987654300);

  SetFileTimes(dir.System("f"), -1, written, -1);
  GetTimes(dir.Native("f"), access, write);
  EXPECT_EQ(write.seconds, 1700000000);
  EXPECT_EQ(write.nanoseconds, 987000000);
  EXPECT_EQ(access.seconds, 1600000000);
}
