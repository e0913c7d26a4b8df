// A write that fails because the disk is full or the file would pass the
// size limit: the log stays as it was, the error is reported, and no
// temporary file is left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "reliability/Harness.h"
#include "support/TestSupport.h"

using namespace reliability;
using testing_support::TempDir;

namespace {

// One record to correct among short unquoted ones, which the repair
// writes back quoted, twice as long.
LogFile TaggedLog(const std::string& name, std::size_t minSize) {
  LogFile log{name, TaggedLine("first,x"), RepairedLine("first,x")};
  while (log.before.size() < minSize) {
    log.before += "a,b,c,d,e,f,g,h\n";
    log.repaired += RepairedLine("a,b,c,d,e,f,g,h");
  }
  return log;
}

bool WriteProcFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out.flush());
}

// A mount namespace of this test process of its own, so a file system can be
// mounted without the rest of the machine seeing it: directly as root, or as
// root of a new user namespace. Empty when it worked, else the reason.
std::string EnterPrivateMounts() {
  if (unshare(CLONE_NEWNS) != 0) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return "no mount namespace may be made here";
    WriteProcFile("/proc/self/setgroups", "deny");
    if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return "the user namespace cannot be mapped";
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "mounts cannot be made private";
  return "";
}

}  // namespace

TEST(DiskFullTest, FullDiskStopsTheRepairWithTheLogIntact) {
  const std::string refused = EnterPrivateMounts();
  if (!refused.empty()) GTEST_SKIP() << "mounting is not permitted: " << refused;
  TempDir dir;
  if (mount("kvfull", dir.Native().c_str(), "tmpfs", 0, "size=512k") != 0)
    GTEST_SKIP() << "mounting a small file system is not permitted";
  // Unmounted before the folder is removed, however the test ends.
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{dir.Native()};
  // The small log fits twice, the large one does not fit beside itself.
  const std::vector<LogFile> logs = {TaggedLog("big.log", 300 << 10), TaggedLog("small.log", 20 << 10)};
  Plant(dir.Native(), logs);

  const RunResult full = Repair(dir.Native());
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("big.log.temp\" に書き込めません. "), std::string::npos) << full.err;
  EXPECT_EQ(CheckFolder(dir.Native(), logs, false), "");
  EXPECT_TRUE(testing_support::ReadFile(dir.Native("big.log")) == logs[0].before);

  // With room again, the same folder is repaired completely.
  ASSERT_EQ(mount(nullptr, dir.Native().c_str(), nullptr, MS_REMOUNT, "size=4m"), 0);
  const RunResult roomy = Repair(dir.Native());
  EXPECT_EQ(roomy.status, 0) << roomy.err;
  EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
}

TEST(DiskFullTest, FileSizeLimitStopsTheRepairWithTheLogIntact) {
  TempDir dir;
  const std::vector<LogFile> logs = {TaggedLog("big.log", 200 << 10), TaggedLog("small.log", 10 << 10)};
  Plant(dir.Native(), logs);
  RunOptions limited;
  limited.fileSizeLimit = 64 << 10;
  const RunResult r = Repair(dir.Native(), limited);
  EXPECT_EQ(r.status, 1);  // not ended by the limit's signal
  EXPECT_NE(r.err.find("big.log.temp\" に書き込めません. "), std::string::npos) << r.err;
  EXPECT_EQ(CheckFolder(dir.Native(), logs, false), "");
  EXPECT_TRUE(testing_support::ReadFile(dir.Native("big.log")) == logs[0].before);
}
