#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "diagnostics/RsTextAppenderUnit.h"
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
