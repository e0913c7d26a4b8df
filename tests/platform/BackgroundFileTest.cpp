#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/BackgroundFile.h"
#include "platform/File.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// A block of size bytes that tells its number.
std::string Block(int number, std::size_t size) {
  std::string block(size, static_cast<char>('a' + number % 26));
  block.replace(0, 4, std::to_string(1000 + number % 9000));
  return block;
}

}  // namespace

// Two buffers take turns, as the rewrite's do: the one handed on last may be
// refilled only after the next Write returned.
TEST(WriteBehind, BlocksLandInOrderWhileTheCallerRefillsTheOtherBuffer) {
  TempDir dir;
  platform::File file;
  ASSERT_EQ(file.CreateExclusive(dir.System("out")), 0);
  std::string buffers[2], expected;
  {
    platform::WriteBehind writer(file, 1 << 16);
    for (int k = 0; k < 64; ++k) {
      std::string& buffer = buffers[k % 2];
      buffer = Block(k, 1000 + 4096 * (k % 5));
      expected += buffer;
      ASSERT_EQ(writer.Write(buffer.data(), buffer.size()), 0);
    }
    EXPECT_EQ(writer.Wait(), 0);
    // The file takes plain writes again after the wait.
    ASSERT_EQ(file.Write("tail", 4), 0);
    expected += "tail";
  }
  ASSERT_EQ(file.Close(), 0);
  EXPECT_EQ(ReadFile(dir.Native("out")), expected);
}

TEST(WriteBehind, TheBlockBeingWrittenIsDoneWhenTheWriterGoes) {
  TempDir dir;
  platform::File file;
  ASSERT_EQ(file.CreateExclusive(dir.System("out")), 0);
  const std::string big = Block(7, 8 << 20);
  {
    platform::WriteBehind writer(file);
    ASSERT_EQ(writer.Write(big.data(), big.size()), 0);
  }
  ASSERT_EQ(file.Close(), 0);
  EXPECT_EQ(ReadFile(dir.Native("out")), big);
}

// A failed block is reported by the next call, and nothing is written after it.
TEST(WriteBehind, AFailureIsReportedByTheNextCall) {
  TempDir dir;
  WriteFile(dir.Native("in"), "old");
  platform::File file;
  ASSERT_EQ(file.OpenRead(dir.System("in"), false), 0);  // not open for writing
  platform::WriteBehind writer(file);
  ASSERT_EQ(writer.Write("abc", 3), 0);
  const int err = writer.Wait();
  EXPECT_NE(err, 0);
  EXPECT_EQ(writer.Write("def", 3), err);
  EXPECT_EQ(writer.Wait(), err);
  ASSERT_EQ(file.Close(), 0);
  EXPECT_EQ(ReadFile(dir.Native("in")), "old");
}

TEST(ReadAhead, ReadsBlockByBlockToTheEnd) {
  TempDir dir;
  std::string text;
  for (int k = 0; k < 40; ++k) text += Block(k, 777);
  WriteFile(dir.Native("in"), text);
  platform::File file;
  ASSERT_EQ(file.OpenRead(dir.System("in"), true), 0);
  platform::ReadAhead reader(file);
  std::vector<char> buffers[2] = {std::vector<char>(1000), std::vector<char>(1000)};
  std::string got;
  int current = 0;
  reader.Start(buffers[current].data(), 1000);
  for (std::size_t n = 1; n > 0;) {
    ASSERT_EQ(reader.Finish(n), 0);
    // The next block is read while this one is looked at.
    const int filled = current;
    current ^= 1;
    if (n > 0) reader.Start(buffers[current].data(), 1000);
    got.append(buffers[filled].data(), n);
  }
  EXPECT_EQ(got, text);
}

TEST(ReadAhead, AFailedReadReportsItsErrorAndNoBytes) {
  platform::File closed;
  platform::ReadAhead reader(closed);
  char buffer[16];
  reader.Start(buffer, sizeof buffer);
  std::size_t got = 99;
  EXPECT_NE(reader.Finish(got), 0);
  EXPECT_EQ(got, 0u);
}

#ifndef _WIN32
namespace {

// How many of the process's descriptors lead to the file.
int OpenCount(const std::filesystem::path& path) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    count += std::filesystem::read_symlink(entry.path(), error) == path;
  }
  return count;
}

}  // namespace

// A file handed over is closed by the time the next one is handed over, and
// none stays open once the closer goes.
TEST(CloseBehind, EveryFileHandedOverIsClosedWhenTheCloserGoes) {
  TempDir dir;
  WriteFile(dir.Native("log"), "x");
  const std::filesystem::path log = std::filesystem::canonical(dir.Native("log"));
  {
    platform::CloseBehind closer;
    for (int k = 0; k < 3; ++k) {
      platform::File file;
      ASSERT_EQ(file.OpenRead(dir.System("log"), false), 0);
      closer.Close(std::move(file));
      EXPECT_LE(OpenCount(log), 1);
    }
  }
  EXPECT_EQ(OpenCount(log), 0);
}
#endif
