// Folders holding what a log folder should not: planted links, special
// files named like logs, files and folders the run may not touch.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "reliability/Harness.h"
#include "support/TestSupport.h"

using namespace reliability;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

constexpr int kNobody = 65534;

LogFile Tagged(const std::string& name) { return {name, TaggedLine(name + ",x"), RepairedLine(name + ",x")}; }

// The repair as a user without special rights: as root, as nobody.
RunOptions Unprivileged() {
  RunOptions options;
  if (geteuid() == 0) options.uid = options.gid = kNobody;
  return options;
}

// A folder the unprivileged run can reach.
void OpenUp(const TempDir& dir) { chmod(dir.Native().c_str(), 0755); }

void GiveAway(const std::string& path) {
  if (geteuid() == 0) static_cast<void>(chown(path.c_str(), kNobody, kNobody));
}

}  // namespace

TEST(HostileFolderTest, PlantedTemporaryLinkIsRemovedNotFollowed) {
  TempDir dir, outside;
  const std::vector<LogFile> logs = {Tagged("x.log")};
  Plant(dir.Native(), logs);
  testing_support::WriteFile(outside.Native("secret"), "keep me\n");
  ASSERT_EQ(symlink(outside.Native("secret").c_str(), dir.Native("x.log.temp").c_str()), 0);
  const RunResult r = Repair(dir.Native());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
  EXPECT_EQ(ReadFile(outside.Native("secret")), "keep me\n");
}

TEST(HostileFolderTest, SpecialFilesNamedLikeLogsAreSkippedWithoutHanging) {
  TempDir dir;
  const std::vector<LogFile> logs = {Tagged("a.log")};
  Plant(dir.Native(), logs);
  ASSERT_EQ(mkfifo(dir.Native("fifo.log").c_str(), 0644), 0);
  ASSERT_EQ(mkdir(dir.Native("folder.log").c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir.Native("gone").c_str(), dir.Native("dangling.log").c_str()), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir.Native("socket.log");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  RunOptions bounded;
  bounded.timeoutSeconds = 20;
  const RunResult r = Repair(dir.Native(), bounded);
  close(sock);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "チェック数: 1 / 1\n更新数: 1\n完了しました\n");
  EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
}

TEST(HostileFolderTest, LinkedLogIsRepairedThroughTheLink) {
  TempDir dir, elsewhere;
  const std::vector<LogFile> logs = {Tagged("real.log")};
  Plant(elsewhere.Native(), logs);
  ASSERT_EQ(symlink(elsewhere.Native("real.log").c_str(), dir.Native("linked.log").c_str()), 0);
  const RunResult r = Repair(dir.Native());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CheckFolder(elsewhere.Native(), logs, true), "");
  struct stat st {};
  ASSERT_EQ(lstat(dir.Native("linked.log").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(CheckFolder(dir.Native(), {}, true), "");  // no temporary file beside the link
}

TEST(HostileFolderTest, ModeAndOwnerOfARepairedFileAreKept) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file another owner needs root";
  TempDir dir;
  LogFile owned = Tagged("owned.log");
  owned.mode = 0640;
  owned.owner = 1234;
  owned.group = 2345;
  Plant(dir.Native(), {owned});
  const RunResult r = Repair(dir.Native());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CheckFolder(dir.Native(), {owned}, true), "");
}

TEST(HostileFolderTest, ReadOnlyFolderAndUnreadableFileFailClearlyAndChangeNothing) {
  const RunOptions options = Unprivileged();
  {
    SCOPED_TRACE("read-only folder");
    TempDir dir;
    OpenUp(dir);
    const std::vector<LogFile> logs = {Tagged("a.log")};
    Plant(dir.Native(), logs);
    chmod(dir.Native().c_str(), 0555);
    const RunResult r = Repair(dir.Native(), options);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a.log.temp\". "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" を作成できません"), std::string::npos) << r.err;
    EXPECT_EQ(CheckFolder(dir.Native(), logs, false), "");
    EXPECT_EQ(ReadFile(dir.Native("a.log")), logs[0].before);
  }
  {
    SCOPED_TRACE("unreadable file");
    TempDir dir;
    OpenUp(dir);
    GiveAway(dir.Native());
    LogFile log = Tagged("a.log");
    log.mode = 0;
    Plant(dir.Native(), {log});
    GiveAway(dir.Native("a.log"));
    const RunResult r = Repair(dir.Native(), options);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a.log\". "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" は開けません"), std::string::npos) << r.err;
    chmod(dir.Native("a.log").c_str(), 0644);
    EXPECT_EQ(ReadFile(dir.Native("a.log")), log.before);
    log.mode = 0644;
    EXPECT_EQ(CheckFolder(dir.Native(), {log}, false), "");
  }
}
