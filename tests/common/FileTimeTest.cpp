#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "common/RsFileUtil.h"
#include "common/RsUtil.h"
#include "support/TestSupport.h"

using testing_support::TempDir;

namespace {

// Runs with a fixed time zone (a summer-time zone, so that the bias in force
// now is what both directions use).
class FileTimeTest : public ::testing::Test {
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
  struct timespec times[2] = {{1600000000, 0}, {1700000000, 987654321}};
  utimensat(AT_FDCWD, dir.Native("f").c_str(), times, 0);
  const TDateTime written = GetFileTimeOf(dir.System("f"), 1);
  EXPECT_GT(written, 0);
  EXPECT_EQ(GetFileTimeOf(dir.System("f"), 3), 0);
  EXPECT_EQ(GetFileTimeOf(dir.System("missing"), 1), 0);
  EXPECT_EQ(GetFileTimeOf(dir.System("f") + "\\", 1), written);  // one trailing delimiter is dropped

  SetFileTimes(dir.System("f"), -1, -1, -1);  // changes nothing
  struct stat st {};
  stat(dir.Native("f").c_str(), &st);
  EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);

  SetFileTimes(dir.System("f"), -1, written, -1);
  stat(dir.Native("f").c_str(), &st);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 987000000);
  EXPECT_EQ(st.st_atim.tv_sec, 1600000000);
}
