#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "diagnostics/RsTextAppenderUnit.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "support/ProcessHelper.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(TextAppender, WritesExactBytesInCallOrder) {
  TempDir dir;
  {
    TRsTextAppender appender;
    appender.Append("abc", dir.System("new.log"));
  }
  EXPECT_EQ(ReadFile(dir.Native("new.log")), "abc\r\n");

  WriteFile(dir.Native("old.log"), "kept\n");
  {
    TRsTextAppender appender;
    std::thread([&] { appender.Append("abc", dir.System("old.log")); }).join();
    std::thread([&] { appender.Append("def", dir.System("old.log")); }).join();
    appender.Append("", dir.System("old.log"));
    appender.Append("crlf\r\n", dir.System("old.log"));
    appender.Append("other file", dir.System("second.log"));
  }  // freeing waits for every line
  EXPECT_EQ(ReadFile(dir.Native("old.log")), "kept\nabc\r\ndef\r\n\r\ncrlf\r\n\r\n");
  EXPECT_EQ(ReadFile(dir.Native("second.log")), "other file\r\n");
}

TEST(TextAppender, FailedLinesAreDroppedAndTheNextOnesWritten) {
  TempDir dir;
  std::filesystem::create_directory(dir.Native("a folder.log"));
  {
    TRsTextAppender appender;
    appender.Append("lost", dir.System("missing\\x.log"));
    appender.Append("lost too", dir.System("a folder.log"));
    appender.Append("written", dir.System("ok.log"));
  }
  EXPECT_EQ(ReadFile(dir.Native("ok.log")), "written\r\n");
  EXPECT_FALSE(testing_support::Exists(dir.Native("missing")));  // folders are not created
}

TEST(TextAppender, FailuresAreRecordedInTheWorkObject) {
  TempDir dir;
  std::string error;
  {
    TRsThreadPool pool(1);
    auto work = std::make_unique<TRsTextAppenderWorkObj>([&](TRsWorkObject* w) {
      error = w->ErrorText;
      TRsTextAppender::FreeWorkObject(w);
    });
    work->SetText("x");
    work->SetFileName(dir.System("missing\\x.log"));
    pool.AddWork(std::move(work));
  }
  EXPECT_EQ(error.rfind("EFCreateError:ファイル \"" + dir.System("missing\\x.log") + "\" を作成できません. ", 0), 0u)
      << error;
}

TEST(TextAppender, ManyLinesFromSeveralThreads) {
  TempDir dir;
  constexpr int kThreads = 4, kLines = 1500;
  {
    TRsTextAppender appender;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i)
          appender.Append(std::to_string(t) + " " + std::to_string(i), dir.System("many.log"));
      });
    for (auto& t : threads) t.join();
  }
  const std::string text = ReadFile(dir.Native("many.log"));
  int next[kThreads] = {};
  int lines = 0;
  for (std::size_t from = 0, end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2, ++lines) {
    const std::string line = text.substr(from, end - from);
    const int t = std::stoi(line.substr(0, line.find(' ')));
    ASSERT_EQ(std::stoi(line.substr(line.find(' ') + 1)), next[t]++) << line;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

namespace {

constexpr int kLinesPerProcess = 1500;

// Line i of a writer: long enough now and then to need more than one page.
std::string WriterLine(const std::string& tag, int i) {
  return tag + " " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i * 37 % 9000), 'x') + " end";
}

}  // namespace

// The writer that TwoProcessesKeepEveryLineWhole starts twice.
TEST(TextAppenderWriter, AppendsItsLines) {
  const char* file = std::getenv("KV_APPEND_FILE");
  const char* tag = std::getenv("KV_APPEND_TAG");
  if (!file || !tag) GTEST_SKIP() << "a process of TwoProcessesKeepEveryLineWhole";
  // Both writers begin together.
  const std::string go = platform::ToNativePath(file) + ".go";
  for (int i = 0; i < 1000 && !std::filesystem::exists(go); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  TRsTextAppender appender;
  for (int i = 0; i < kLinesPerProcess; ++i) appender.Append(WriterLine(tag, i), file);
}

TEST(TextAppender, TwoProcessesKeepEveryLineWhole) {
  TempDir dir;
  const std::string file = dir.System("shared.log");
  std::vector<std::unique_ptr<testing_support::TestProcess>> writers;
  for (const char* tag : {"A", "B"}) {
    setenv("KV_APPEND_FILE", file.c_str(), 1);
    setenv("KV_APPEND_TAG", tag, 1);
    writers.push_back(std::make_unique<testing_support::TestProcess>(
        std::vector<std::string>{platform::ToNativePath(platform::ProgramFileName()),
                                 "--gtest_filter=TextAppenderWriter.*"},
        ""));
  }
  unsetenv("KV_APPEND_FILE");
  unsetenv("KV_APPEND_TAG");
  WriteFile(dir.Native("shared.log.go"), "");
  for (auto& writer : writers) ASSERT_EQ(writer->Wait(120000), 0);

  const std::string text = ReadFile(dir.Native("shared.log"));
  std::map<std::string, int> next{{"A", 0}, {"B", 0}};
  std::size_t from = 0;
  for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    const std::string line = text.substr(from, end - from);
    const std::string tag = line.substr(0, line.find(' '));
    ASSERT_TRUE(next.count(tag)) << line.substr(0, 40);
    ASSERT_TRUE(line == WriterLine(tag, next[tag])) << line.substr(0, 40);  // whole, and in its writer's order
    ++next[tag];
  }
  EXPECT_EQ(from, text.size());
  EXPECT_EQ(next["A"], kLinesPerProcess);
  EXPECT_EQ(next["B"], kLinesPerProcess);
}

#ifndef _WIN32
// A new log is its owner's alone, unless its folder is shared with a group
// (the set-group-id bit), whose members may then read it.
TEST(TextAppender, NewFilesAreReadableByTheOwnerOrTheFoldersGroup) {
  TempDir dir;
  const mode_t oldMask = umask(022);
  std::filesystem::create_directory(dir.Native("group"));
  chmod(dir.Native("group").c_str(), 02770);
  WriteFile(dir.Native("existing.log"), "");
  chmod(dir.Native("existing.log").c_str(), 0644);
  {
    TRsTextAppender appender;
    appender.Append("x", dir.System("new.log"));
    appender.Append("x", dir.System("group\\new.log"));
    appender.Append("x", dir.System("existing.log"));
  }
  umask(oldMask);
  for (const auto& [name, mode] : std::vector<std::pair<std::string, unsigned>>{
           {"new.log", 0600}, {"group/new.log", 0640}, {"existing.log", 0644}}) {
    struct stat st {};
    ASSERT_EQ(stat(dir.Native(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, mode) << name;
  }
}
#endif
