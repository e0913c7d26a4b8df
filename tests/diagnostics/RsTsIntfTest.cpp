#include <gtest/gtest.h>

#include "base/DateTime.h"
#include "diagnostics/RsTsIntf.h"
#include "platform/CodePage.h"
#include "support/Isolation.h"

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

void Stamp(TTraceSpotMsgData& m, int y, int mo, int d, int h, int mi, int s, int ms) {
  DateTimeFields f;
  f.year = y, f.month = mo, f.day = d, f.hour = h, f.minute = mi, f.second = s, f.millisecond = ms;
  m.TimeStamp = DateTimeToTimeStamp(EncodeDateTime(f));
}

}  // namespace

TEST(LogManager, LineByteForByte) {
  TTraceSpotMsgData m;
  m.MsgType = 1;
  m.ThreadId = 1234;
  m.ProcessId = 5678;
  m.Msg = "x";
  Stamp(m, 2026, 12, 8, 6, 5, 9, 7);
  EXPECT_EQ(RsLogLine(m), "[2026/12/08 06:05:09.007][1][1234][5678]\tx\t");
  m.Msg = "text\r\n";  // kept as it is
  m.Details.SetText("first\r\nsecond");
  m.ThreadId = 0xFFFFFFFF;  // printed as signed numbers
  Stamp(m, 999, 1, 2, 23, 59, 59, 999);
  EXPECT_EQ(RsLogLine(m), "[0999/01/02 23:59:59.999][1][-1][5678]\ttext\r\n\tfirst\r\nsecond\r\n");
}

TEST(LogManager, FileNamesFromTheMessagesTimeStamp) {
  TTraceSpotMsgData m;
  Stamp(m, 2026, 12, 8, 10, 59, 59, 999);
  EXPECT_EQ(RsLogFileName(lmHourlyFile, "C:\\logs", "", m), "C:\\logs\\20261208_10.log");
  Stamp(m, 2026, 12, 8, 11, 0, 0, 0);
  EXPECT_EQ(RsLogFileName(lmHourlyFile, "C:\\logs\\", "", m), "C:\\logs\\20261208_11.log");
  EXPECT_EQ(RsLogFileName(lmDailyFile, "C:\\logs", "", m), "C:\\logs\\20261208.log");
  EXPECT_EQ(RsLogFileName(lmDailyFile, "C:\\logs\\", "", m), "C:\\logs\\20261208.log");
  EXPECT_EQ(RsLogFileName(lmDailyFile, "", "", m), "\\20261208.log");
  EXPECT_EQ(RsLogFileName(lmSingleFile, "C:\\logs", "D:\\one.log", m), "D:\\one.log");
  EXPECT_EQ(RsLogFileName(lmTraceSpot, "C:\\logs", "D:\\one.log", m), "");
  EXPECT_EQ(RsLogFileName(7, "C:\\logs", "D:\\one.log", m), "");
  Stamp(m, 2026, 1, 2, 0, 0, 0, 0);
  EXPECT_EQ(RsLogFileName(lmHourlyFile, "L", "", m), "L\\20260102_00.log");
  // A folder ending in a double-byte character whose second byte is 0x5C.
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  EXPECT_EQ(RsLogFileName(lmDailyFile, "C:\\\x95\x5C", "", m), "C:\\\x95\x5C\\20260102.log");
  EXPECT_EQ(RsLogFileName(lmDailyFile, "C:\\\x95\x5C\\", "", m), "C:\\\x95\x5C\\20260102.log");
}

TEST(LogManager, ModesDecideWhereMessagesGo) {
  TempDir dir;
  TTraceSpot client;
  TTraceSpotMsgData m;
  m.MsgType = 1;
  m.Msg = "hello";
  Stamp(m, 2026, 12, 8, 6, 0, 0, 0);
  {
    TRsTSObjectManager manager;
    bool handled = true;
    manager.DoSendMsg(client, m, handled);
    EXPECT_FALSE(handled);
    EXPECT_FALSE(manager.HasAppender());  // mode 0 starts no thread

    manager.Mode = 7;
    handled = false;
    manager.DoSendMsg(client, m, handled);
    EXPECT_TRUE(handled);
    EXPECT_FALSE(manager.HasAppender());

    manager.Mode = lmDailyFile;
    manager.LogFolder = dir.System();
    manager.DoSendMsg(client, m, handled);
    manager.Mode = lmSingleFile;
    manager.LogFileName = dir.System("single.log");
    manager.DoSendMsg(client, m, handled);
    EXPECT_TRUE(handled);
    EXPECT_TRUE(manager.HasAppender());
  }  // waits for the lines
  EXPECT_EQ(ReadFile(dir.Native("20261208.log")), RsLogLine(m) + "\r\n");
  EXPECT_EQ(ReadFile(dir.Native("single.log")), RsLogLine(m) + "\r\n");
}

TEST(LogManager, UnitHooksTheDefaultClientAndDrainsAtShutDown) {
  testing_support::IsolatedRuntime rt;
  InitializeTSIntf();
  InitializeRsTsIntf();
  ASSERT_EQ(RsTraceSpot, DefaultTraceSpot);
  ASSERT_NE(RsTSManager, nullptr);
  RsTSManager->Mode = lmSingleFile;
  RsTSManager->LogFileName = rt.Dir.System("diag.log");
  for (int i = 0; i < 200; ++i) RsTraceSpot->SendMsg("message " + std::to_string(i));
  TTraceSpot* client = DefaultTraceSpot;
  FinalizeRsTsIntf();
  EXPECT_FALSE(client->Enabled());
  EXPECT_EQ(RsTSManager, nullptr);
  EXPECT_EQ(RsTraceSpot, nullptr);
  FinalizeTSIntf();
  const std::string log = ReadFile(rt.Dir.Native("diag.log"));
  EXPECT_NE(log.find("]\tmessage 0\t\r\n"), std::string::npos);
  EXPECT_NE(log.find("]\tmessage 199\t\r\n"), std::string::npos);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 200);
}
