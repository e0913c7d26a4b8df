#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "base/DateTime.h"
#include "diagnostics/DispatcherProcess.h"
#include "diagnostics/TSIntf.h"
#include "platform/FileTime.h"
#include "platform/Process.h"
#include "support/Isolation.h"
#include "support/ProcessHelper.h"

using testing_support::DispatcherProcess;
using testing_support::IsolatedRuntime;
using testing_support::JsonField;
using testing_support::OsProcessId;
using testing_support::OsThreadId;
using testing_support::OutputLines;
using testing_support::ScopedDispatcherPath;
using testing_support::TestProcess;

namespace {

// Counts the searches and start attempts of a client.
class ProbedClient : public TTraceSpot {
 public:
  int Locates = 0;
  int Launches = 0;

 protected:
  platform::WindowHandle LocateDispatcher(bool autostart) override {
    ++Locates;
    return TTraceSpot::LocateDispatcher(autostart);
  }
  platform::WindowHandle LaunchDispatcher(const std::string& commandLine) override {
    ++Launches;
    return TTraceSpot::LaunchDispatcher(commandLine);
  }
};

struct Packet {
  std::int32_t type;
  std::string text;
  std::string session;
};

// A dispatcher window inside the test process that records what it gets and
// answers with a chosen reply.
class FakeDispatcher {
 public:
  // The window is served on the thread that creates it. A session close
  // gets its own reply.
  explicit FakeDispatcher(std::uint32_t reply) : FakeDispatcher(reply, reply) {}
  FakeDispatcher(std::uint32_t reply, std::uint32_t closeReply) : FReply(reply), FCloseReply(closeReply) {
    std::promise<int> created;
    FThread = std::thread([this, &created] {
      created.set_value(
          FWindow.Create("TFrmDispatcher", "TraceSpot Dispatcher", [this](std::uint64_t, std::string_view p) {
            std::lock_guard<std::mutex> lock(FLock);
            std::int32_t type;
            std::memcpy(&type, p.data(), 4);
            std::uint32_t length;
            std::memcpy(&length, p.data() + 16, 4);
            FPackets.push_back({type, std::string(p.substr(217, length)), std::string(p.substr(32, 38))});
            return type == kTSMsgSessionClose ? FCloseReply : FReply;
          }));
      while (!FStop) FWindow.ServeOne(20);
      FWindow.Destroy();
    });
    EXPECT_EQ(created.get_future().get(), 0);
  }
  ~FakeDispatcher() {
    FStop = true;
    FThread.join();
  }
  std::vector<Packet> Packets() {
    std::lock_guard<std::mutex> lock(FLock);
    return FPackets;
  }
  std::vector<std::int32_t> Types() {
    std::vector<std::int32_t> out;
    for (const Packet& p : Packets()) out.push_back(p.type);
    return out;
  }

 private:
  const std::uint32_t FReply, FCloseReply;
  platform::MessageWindow FWindow;
  std::mutex FLock;
  std::vector<Packet> FPackets;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// Ends the dispatcher a client started, whatever the test's outcome.
using LaunchedDispatcher = std::unique_ptr<TestProcess>;

}  // namespace

TEST(TSPacket, LayoutByteForByte) {
  TTSPacketFields f;
  f.MsgType = 1;
  f.TimeStamp = {21909007, 739958};
  f.TimeZoneBias = -540;
  f.ProcessId = 5678;
  f.ThreadId = 1234;
  f.SessionId = "{01234567-89AB-CDEF-0123-456789ABCDEF}";
  f.ComputerName = "HOSTNAME-LONGER-THAN-15";
  f.AppName = "KvAccesslogRepair";
  f.Category = "";
  f.CategoryColor = 0xFF000005;
  f.ObjectClass = "";
  f.Text = "Error x\r\n";
  f.Details = "d1";
  const std::vector<std::uint8_t> p = BuildDispatcherPacket(f);
  ASSERT_EQ(p.size(), 220u + 7 + 2);  // the final CR LF is not counted
  auto u32 = [&](std::size_t at) { return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | std::uint32_t(p[at + 3]) << 24; };
  EXPECT_EQ(u32(0), 1u);
  EXPECT_EQ(u32(4), 21909007u);
  EXPECT_EQ(u32(8), 739958u);
  EXPECT_EQ(u32(12), 0xFFFFFDE4u);  // -540
  EXPECT_EQ(u32(16), 7u);
  EXPECT_EQ(u32(20), 2u);
  EXPECT_EQ(u32(24), 5678u);
  EXPECT_EQ(u32(28), 1234u);
  auto text = [&](std::size_t at, std::size_t size) { return std::string(p.begin() + at, p.begin() + at + size); };
  EXPECT_EQ(text(32, 42), std::string(f.SessionId) + std::string(4, '\0'));
  EXPECT_EQ(text(74, 16), std::string("HOSTNAME-LONGER") + '\0');  // cut to 15 and terminated
  EXPECT_EQ(text(90, 41), std::string("KvAccesslogRepair") + std::string(24, '\0'));
  EXPECT_EQ(text(131, 41), std::string(41, '\0'));
  EXPECT_EQ(u32(172), 0xFF000005u);
  EXPECT_EQ(text(176, 41), std::string(41, '\0'));
  EXPECT_EQ(text(217, 12), std::string("Error xd1\0\0\0", 12));

  // Only one CR LF is removed, and only at the very end; a lone CR LF empties the text.
  for (const auto& [in, length] : std::vector<std::pair<std::string, std::uint32_t>>{
           {"a\r\n\r\n", 3}, {"a\n", 2}, {"a\r", 2}, {"\r\n", 0}, {"\n", 1}, {"", 0}}) {
    f.Text = in;
    f.Details = "";
    EXPECT_EQ(BuildDispatcherPacket(f)[16], length) << in.size();
  }
}

TEST(TSTimeStamp, CountsDaysFromYearOne) {
  DateTimeFields d;
  d.year = 2026, d.month = 12, d.day = 8, d.hour = 6, d.minute = 5, d.second = 9, d.millisecond = 7;
  const TTimeStamp s = DateTimeToTimeStamp(EncodeDateTime(d));
  EXPECT_EQ(s.Date, 739958);
  EXPECT_EQ(s.Time, 21909007);
  EXPECT_EQ(DateTimeToTimeStamp(0).Date, 693594);
  EXPECT_EQ(DateTimeToTimeStamp(-0.25).Date, 693593);  // before the origin: the day before, 18:00
  EXPECT_EQ(DateTimeToTimeStamp(-0.25).Time, 64800000);
}

TEST(TSClient, DeliversToARunningDispatcher) {
  IsolatedRuntime rt;
  const std::string out = rt.Dir.Native("out.jsonl");
  DispatcherProcess d(out);
  ASSERT_NE(d.Window(), 0u);
  std::string session;
  const TTimeStamp before = DateTimeToTimeStamp(Now());
  {
    ProbedClient c;
    EXPECT_TRUE(c.Enabled());
    EXPECT_EQ(c.CategoryColor, 0xFF000005u);
    c.Category = "cat";
    c.SendMsg("Error \"x\"\t\\");
    c.SendMsg("two\r\n");
    EXPECT_TRUE(c.Enabled());
    EXPECT_EQ(c.Launches, 0);
    EXPECT_EQ(c.DispatcherWindow(), d.Window());
    session = c.SessionId();
  }
  EXPECT_EQ(session.size(), 38u);
  const auto lines = OutputLines(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(JsonField(lines[0], "type"), "41");
  EXPECT_EQ(JsonField(lines[0], "text"), "Viewer");
  EXPECT_EQ(JsonField(lines[0], "session"), session);
  const std::string& m = lines[1];
  EXPECT_EQ(JsonField(m, "type"), "1");
  EXPECT_EQ(JsonField(m, "text"), "Error \"x\"\t\\");
  EXPECT_EQ(JsonField(m, "length"), "11");
  EXPECT_EQ(JsonField(m, "detail_length"), "0");
  EXPECT_EQ(JsonField(m, "pid"), std::to_string(OsProcessId()));
  EXPECT_EQ(JsonField(m, "tid"), std::to_string(OsThreadId()));
  EXPECT_EQ(JsonField(m, "session"), session);
  EXPECT_EQ(JsonField(m, "computer"), platform::ComputerName());
  EXPECT_EQ(JsonField(m, "app"), "test_diagnostics");
  EXPECT_EQ(JsonField(m, "category"), "cat");
  EXPECT_EQ(JsonField(m, "color"), "4278190085");
  EXPECT_EQ(JsonField(m, "class"), "");
  EXPECT_EQ(JsonField(m, "bias"), std::to_string(platform::CurrentTimeZoneBiasMinutes()));
  const int day = std::stoi(JsonField(m, "day"));
  EXPECT_TRUE(day == before.Date || day == before.Date + 1);
  EXPECT_EQ(JsonField(lines[2], "text"), "two");
  EXPECT_EQ(JsonField(lines[2], "length"), "3");
  EXPECT_EQ(JsonField(lines[3], "type"), "42");
  EXPECT_EQ(JsonField(lines[3], "text"), "");
  EXPECT_EQ(JsonField(lines[3], "session"), session);
}

TEST(TSClient, StartsTheDispatcherNamedInTheRegistry) {
  IsolatedRuntime rt;
  const std::string out = rt.Dir.Native("started out.jsonl");
  ScopedDispatcherPath path(rt, "\"" + testing_support::DispatcherProgram() + "\" --once --output \"" + out + "\"");
  LaunchedDispatcher launched;
  {
    ProbedClient c;
    c.SendMsg("hello");
    EXPECT_EQ(c.Launches, 1);
    ASSERT_NE(c.DispatcherWindow(), 0u);
    launched = std::make_unique<TestProcess>(platform::WindowProcessId(c.DispatcherWindow()));
    EXPECT_NE(launched->Id(), OsProcessId());
    c.SendMsg("again");  // found by its title now
    EXPECT_EQ(c.Launches, 1);
    EXPECT_TRUE(c.Enabled());
  }
  // --once: the session close ends the dispatcher, which removes its window.
  ASSERT_EQ(launched->Wait(5000), 0);
  EXPECT_EQ(platform::FindTopLevelWindow("TFrmDispatcher", "TraceSpot Dispatcher"), 0u);
  const auto lines = OutputLines(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(JsonField(lines[0], "type"), "41");
  EXPECT_EQ(JsonField(lines[1], "text"), "hello");
  EXPECT_EQ(JsonField(lines[2], "text"), "again");
  EXPECT_EQ(JsonField(lines[3], "type"), "42");
}

TEST(TSClient, WithoutRegistryTheProgramBesideTheClientIsStarted) {
  IsolatedRuntime rt;
  ScopedDispatcherPath path(rt, std::nullopt);  // "TSDispatcher.exe" is looked for beside this program
  LaunchedDispatcher launched;
  ProbedClient c;
  c.SetDestinationDetails("console");  // connects at once
  EXPECT_EQ(c.Launches, 1);
  ASSERT_NE(c.DispatcherWindow(), 0u);
  launched = std::make_unique<TestProcess>(platform::WindowProcessId(c.DispatcherWindow()));
  EXPECT_TRUE(c.Enabled());
}

// A dispatcher that cannot come up is started once, within the delivery's
// time limit, and is not left running; the client then gives up, so later
// messages cost nothing.
TEST(TSClient, DispatcherThatDoesNotComeUpIsStartedOnceAndEnded) {
  IsolatedRuntime rt;
  const std::string pidFile = rt.Dir.Native("stuck.pid");
#ifdef _WIN32
  const std::string stuck =
      "\"" + std::string(std::getenv("KV_BIN_DIR")) + "\\kv_test_child.exe\" sleep 30000 \"" + pidFile + "\"";
#else
  const std::string stuck = rt.Dir.Native("stuck.sh");
  testing_support::WriteFile(stuck, "#!/bin/sh\necho $$ > \"" + pidFile + "\"\nexec sleep 30\n");
  chmod(stuck.c_str(), 0700);
#endif
  const struct {
    const char* name;
    std::string commandLine;
  } cases[] = {
      {"missing", rt.Dir.Native("nowhere/TSDispatcher.exe")},
      {"ends at once", "\"" + testing_support::DispatcherProgram() + "\" --bogus"},
      {"never shows its window", stuck},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedDispatcherPath path(rt, c.commandLine);
    ProbedClient client;
    const auto start = std::chrono::steady_clock::now();
    client.SendMsg("first");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTSDeliveryTimeoutMs + 1500));
    EXPECT_EQ(client.Launches, 1);
    EXPECT_FALSE(client.Enabled());
    const int locates = client.Locates;
    int hooked = 0;
    client.OnSendMsg = [&](TTraceSpot&, const TTraceSpotMsgData&, bool&) { ++hooked; };
    client.SendMsg("second");
    EXPECT_EQ(client.Launches, 1);
    EXPECT_EQ(client.Locates, locates);
    EXPECT_EQ(hooked, 0);
  }
  const std::string pid = testing_support::ReadFile(pidFile);
  ASSERT_FALSE(pid.empty());
  EXPECT_TRUE(testing_support::ProcessEnded(static_cast<std::uint32_t>(std::stoul(pid)), 2000));
}

// A dispatcher that lives but does not serve (stopped, deadlocked, blocked on
// its output) costs the first message the delivery's time limit at most; the
// client then gives up, so the other messages and its own end cost nothing.
TEST(TSClient, StalledDispatcherCostsOneTimeLimitAtMost) {
  IsolatedRuntime rt;
  // Registered on a thread that never serves it.
  std::promise<void> created, done;
  std::thread owner([&] {
    platform::MessageWindow stalled;
    EXPECT_EQ(stalled.Create("TFrmDispatcher", "TraceSpot Dispatcher", nullptr), 0);
    created.set_value();
    done.get_future().wait();
  });
  created.get_future().wait();
  const auto start = std::chrono::steady_clock::now();
  {
    ProbedClient c;
    // As the log manager's hook does by default: every message goes on.
    c.OnSendMsg = [](TTraceSpot&, const TTraceSpotMsgData&, bool& handled) { handled = false; };
    for (int i = 0; i < 100; ++i) c.SendMsg("message " + std::to_string(i));
    EXPECT_FALSE(c.Enabled());
    EXPECT_EQ(c.Launches, 0);
  }
  const auto took = std::chrono::steady_clock::now() - start;
  done.set_value();
  owner.join();
  EXPECT_LT(took, std::chrono::milliseconds(kTSDeliveryTimeoutMs + 1500));
}

// A message the dispatcher does not take ends the delivery: the message
// behind the session that was refused, and the session's close, are not
// sent.
TEST(TSClient, UnacknowledgedSessionDisables) {
  IsolatedRuntime rt;
  FakeDispatcher fake(0);
  {
    ProbedClient c;
    c.SendMsg("x");
    EXPECT_FALSE(c.Enabled());
    EXPECT_EQ(c.Launches, 0);
    c.SendMsg("y");
  }
  EXPECT_EQ(fake.Types(), (std::vector<std::int32_t>{41}));
}

TEST(TSClient, HookThatKeepsHandledStopsDelivery) {
  IsolatedRuntime rt;
  ScopedDispatcherPath path(rt, rt.Dir.Native("nowhere/TSDispatcher"));
  ProbedClient c;
  std::vector<std::string> seen;
  std::vector<int> detailCounts;
  c.OnSendMsg = [&](TTraceSpot& sender, const TTraceSpotMsgData& m, bool& handled) {
    EXPECT_EQ(&sender, &c);
    EXPECT_TRUE(handled);
    EXPECT_EQ(m.ProcessId, OsProcessId());
    EXPECT_EQ(m.ThreadId, OsThreadId());
    seen.push_back(std::to_string(m.MsgType) + ":" + m.Msg);
    detailCounts.push_back(m.Details.Count());
  };
  c.SendMsg("abc\r\n");
  c.DispatchMsg(1, "with details", nullptr, "l1\r\nl2\nl3\r");
  EXPECT_EQ(seen, (std::vector<std::string>{"1:abc\r\n", "1:with details"}));  // the hook gets the text as sent
  EXPECT_EQ(detailCounts, (std::vector<int>{0, 3}));
  EXPECT_EQ(c.Locates, 0);
  EXPECT_EQ(c.Launches, 0);
  EXPECT_TRUE(c.Enabled());
}

TEST(TSClient, HookThatClearsHandledLetsMessagesGoOnAndNeverSeesControlMessages) {
  IsolatedRuntime rt;
  FakeDispatcher fake(1);
  std::vector<std::int32_t> hooked;
  {
    ProbedClient c;
    c.OnSendMsg = [&](TTraceSpot&, const TTraceSpotMsgData& m, bool& handled) {
      hooked.push_back(m.MsgType);
      handled = false;
    };
    c.SendMsg("x");
    c.SendMsg("y\r\n");
    EXPECT_TRUE(c.Enabled());
  }
  EXPECT_EQ(hooked, (std::vector<std::int32_t>{1, 1}));
  // The open session is closed before each hooked message and opened again for delivery.
  EXPECT_EQ(fake.Types(), (std::vector<std::int32_t>{41, 1, 42, 41, 1, 42}));
  const auto packets = fake.Packets();
  EXPECT_EQ(packets[4].text, "y");
  EXPECT_NE(packets[0].session, packets[3].session);
}

// What a dispatcher answers to a session close means nothing to the client:
// a 0 there ends no delivery.
TEST(TSClient, AnUnansweredSessionCloseEndsNoDelivery) {
  IsolatedRuntime rt;
  FakeDispatcher fake(1, 0);
  ProbedClient c;
  c.OnSendMsg = [](TTraceSpot&, const TTraceSpotMsgData&, bool& handled) { handled = false; };
  c.SendMsg("x");
  c.SendMsg("y");  // the session of "x" is closed first
  EXPECT_TRUE(c.Enabled());
  EXPECT_EQ(fake.Types(), (std::vector<std::int32_t>{41, 1, 42, 41, 1}));
}

TEST(TSClient, DestinationChangesReopenTheSession) {
  IsolatedRuntime rt;
  FakeDispatcher fake(1);
  ProbedClient c;
  c.SendMsg("x");
  c.SetDestinationDetails("Viewer2");
  c.SetDestinationDetails("VIEWER2");  // the same ignoring case: nothing happens
  const auto packets = fake.Packets();
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0].text, "Viewer");
  EXPECT_EQ(packets[2].type, 42);
  EXPECT_EQ(packets[3].type, 41);
  EXPECT_EQ(packets[3].text, "Viewer2");
}

TEST(TSObjectManager, RegistersClientsAndPassesTheDefaultDestination) {
  IsolatedRuntime rt;
  FakeDispatcher fake(1);
  InitializeTSIntf();
  ASSERT_NE(DefaultTSObjectManager, nullptr);
  ASSERT_NE(DefaultTraceSpot, nullptr);
  EXPECT_EQ(DefaultTSObjectManager->Count(), 1);
  {
    TTraceSpot second;
    EXPECT_EQ(DefaultTSObjectManager->Count(), 2);
    DefaultTSObjectManager->SetDefaultDestination("Elsewhere");
    EXPECT_EQ(second.DestinationDetails(), "Elsewhere");
    EXPECT_EQ(DefaultTraceSpot->DestinationDetails(), "Elsewhere");
  }
  EXPECT_EQ(DefaultTSObjectManager->Count(), 1);
  FinalizeTSIntf();
  EXPECT_EQ(DefaultTSObjectManager, nullptr);
  EXPECT_EQ(DefaultTraceSpot, nullptr);
  // Both clients connected when the destination was set, and closed their sessions.
  int opened = 0, closed = 0;
  for (const Packet& p : fake.Packets()) {
    opened += p.type == 41 && p.text == "Elsewhere";
    closed += p.type == 42;
  }
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(closed, 2);
}
