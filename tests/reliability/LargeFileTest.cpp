// A log larger than 4 GiB is repaired completely in bounded memory. The file
// is sparse: its records are quoted runs of NUL bytes (ordinary bytes inside
// quotes), so only a few bytes of every MiB are on disk, and the records to
// correct are at its end, past every 32-bit offset.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "reliability/Harness.h"
#include "support/TestSupport.h"

using namespace reliability;
using testing_support::TempDir;

namespace {

constexpr off_t kRecord = 1 << 20;                          // one quoted run of NULs with its line end
constexpr off_t kRecords = (off_t{4} << 30) / kRecord + 2;  // past 4 GiB
constexpr long kTmpfsMagic = 0x01021994;

bool WriteAt(int fd, const std::string& bytes, off_t at) {
  return pwrite(fd, bytes.data(), bytes.size(), at) == static_cast<ssize_t>(bytes.size());
}

// Compares the file from the given offset with the sparse records, block by block.
bool HoldsTheRecords(int fd, off_t end) {
  std::vector<char> expected(kRecord, '\0'), got(kRecord);
  expected[0] = '"';
  std::memcpy(&expected[kRecord - 3], "\"\r\n", 3);
  for (off_t at = 0; at < end; at += kRecord)
    if (pread(fd, got.data(), kRecord, at) != kRecord || got != expected) return false;
  return true;
}

}  // namespace

TEST(LargeFileTest, SparseFileBeyondFourGiBIsRepairedInBoundedMemory) {
#ifdef KV_SANITIZED_BUILD
  GTEST_SKIP() << "writing 4 GiB under the sanitizers takes too long; the normal build runs this";
#endif
  TempDir dir;
  struct statfs fs {};
  ASSERT_EQ(statfs(dir.Native().c_str(), &fs), 0);
  if (fs.f_type == kTmpfsMagic) GTEST_SKIP() << "the temporary folder is in memory (tmpfs)";
  if (static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_bsize) < 12e9)
    GTEST_SKIP() << "less than 12 GB free beside the temporary folder";

  const std::string path = dir.Native("huge.log");
  const off_t body = kRecords * kRecord;
  const std::string tail = TaggedLine("late,GET /end.html,200") + "plain,end\n";
  const std::string repairedTail = RepairedLine("late,GET /end.html,200") + RepairedLine("plain,end");
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    bool written = WriteAt(fd, "\"", 0);
    for (off_t i = 1; i <= kRecords; ++i)
      written = written && WriteAt(fd, i < kRecords ? "\"\r\n\"" : "\"\r\n", i * kRecord - 3);
    written = written && WriteAt(fd, tail, body);
    close(fd);
    ASSERT_TRUE(written);
  }

  const RunResult r = Repair(dir.Native());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Totals(r.out), "チェック数: 1 / 1\n更新数: 1\n完了しました\n");
  std::cout << "peak memory of the repair: " << r.maxRssKiB << " KiB\n";
  EXPECT_LT(r.maxRssKiB, 64 * 1024);  // a few blocks and one record, not the file

  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(lseek(fd, 0, SEEK_END), body + static_cast<off_t>(repairedTail.size()));
  std::string end(repairedTail.size(), '\0');
  EXPECT_EQ(pread(fd, end.data(), end.size(), body), static_cast<ssize_t>(end.size()));
  EXPECT_EQ(end, repairedTail);
  EXPECT_TRUE(HoldsTheRecords(fd, body));
  close(fd);
  EXPECT_FALSE(testing_support::Exists(path + ".temp"));
}
