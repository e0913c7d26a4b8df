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
  EXPECT_EQ(Totals(r.out), "チェック数: 1 / 1\n更新数: 1\n完了しました\n");
  EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
}

// A link named like a log is no log of the folder: it is not counted, nothing
// is read through it, and nothing is made or removed beside what it names.
TEST(HostileFolderTest, LinksNamedLikeLogsAreNotLogs) {
  TempDir dir, elsewhere;
  const std::vector<LogFile> logs = {Tagged("a.log")}, outside = {Tagged("real.log")};
  Plant(dir.Native(), logs);
  Plant(elsewhere.Native(), outside);
  testing_support::WriteFile(elsewhere.Native("real.log.temp"), "keep me\n");
  ASSERT_EQ(symlink(elsewhere.Native("real.log").c_str(), dir.Native("linked.log").c_str()), 0);
  ASSERT_EQ(symlink(elsewhere.Native().c_str(), dir.Native("folder.log").c_str()), 0);
  const RunResult r = Repair(dir.Native());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Totals(r.out), "チェック数: 1 / 1\n更新数: 1\n完了しました\n");
  EXPECT_EQ(CheckFolder(dir.Native(), logs, true), "");
  EXPECT_EQ(ReadFile(elsewhere.Native("real.log")), outside[0].before);
  EXPECT_EQ(ReadFile(elsewhere.Native("real.log.temp")), "keep me\n");
  struct stat st {};
  ASSERT_EQ(lstat(dir.Native("linked.log").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// Names planted by whoever may write into the folder: a '\' would have led
// out of it on a system whose paths use '\'; '*' and '?' would have been a
// pattern. Only the folder's own entries are touched, each by its exact name.
TEST(HostileFolderTest, PlantedNamesNeverLeadOutOfTheFolder) {
  TempDir parent;
  const std::string folder = parent.Native("logs");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::vector<LogFile> victims = {Tagged("victim.log")};
  Plant(parent.Native(), victims);
  testing_support::WriteFile(parent.Native("victim.log.temp"), "keep me\n");
  const std::vector<LogFile> untakeable = {Tagged("..\\victim.log"), Tagged("a\\b.log")};
  std::vector<LogFile> taken = {Tagged("a*.log"), Tagged("a?.log"), Tagged("ab.log")};
  // Each with a time of its own, which must stay its own.
  for (std::size_t i = 0; i < taken.size(); ++i) taken[i].mtimeSeconds += static_cast<long>(i) * 1000;
  Plant(folder, untakeable);
  Plant(folder, taken);
  const RunResult r = Repair(folder);
  // Not done while logs stay as they were: they are named on standard error.
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Totals(r.out), "チェック数: 3 / 3\n更新数: 3\n完了しました\n");
  for (const LogFile& log : untakeable)
    EXPECT_NE(r.err.find("ファイル \"" + folder + "/" + log.name + "\" はファイル名を扱えないため修正できません\n"),
              std::string::npos)
        << r.err;
  EXPECT_EQ(CheckFolder(folder, taken, true), "");
  for (const LogFile& log : untakeable) EXPECT_EQ(ReadFile(folder + "/" + log.name), log.before);
  EXPECT_EQ(CheckFolder(parent.Native(), victims, false), "victim.log.temp: left behind\n");
  EXPECT_EQ(ReadFile(parent.Native("victim.log")), victims[0].before);
  EXPECT_EQ(ReadFile(parent.Native("victim.log.temp")), "keep me\n");
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

// Run by an account that may not give files away, the repair could not give
// the new log the old one's owner or group: the server might no longer
// write to it, so the log is not replaced.
TEST(HostileFolderTest, OwnerThatCannotBeKeptStopsTheReplace) {
  if (geteuid() != 0) GTEST_SKIP() << "planting another user's log needs root";
  struct Case {
    const char* what;
    int owner, group;
  };
  for (const Case& c : {Case{"another owner", 1234, 2345}, Case{"another group", kNobody, 2345}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    OpenUp(dir);
    GiveAway(dir.Native());
    LogFile log = Tagged("access.log");
    log.owner = c.owner;
    log.group = c.group;
    Plant(dir.Native(), {log});
    const RunResult r = Repair(dir.Native(), Unprivileged());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ファイル \"" + dir.Native("access.log") + "\" の所有者を保てないため修正できません\n");
    EXPECT_EQ(CheckFolder(dir.Native(), {log}, false), "");
    EXPECT_EQ(ReadFile(dir.Native("access.log")), log.before);
  }
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
