// The stand-in dispatcher program against well-formed and malformed packets.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "diagnostics/DispatcherProcess.h"
#include "diagnostics/TSIntf.h"
#include "platform/CodePage.h"
#include "support/Isolation.h"

using testing_support::DispatcherProcess;
using testing_support::IsolatedRuntime;
using testing_support::JsonField;
using testing_support::OutputLines;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes ValidPacket(std::string_view text = "message", std::string_view details = "") {
  TTSPacketFields f;
  f.MsgType = 1;
  f.SessionId = "{01234567-89AB-CDEF-0123-456789ABCDEF}";
  f.ComputerName = "HOST";
  f.AppName = "App";
  f.Text = text;
  f.Details = details;
  return BuildDispatcherPacket(f);
}

std::uint32_t Send(platform::WindowHandle w, const Bytes& p) {
  return platform::SendCopyData(w, 1, p.data(), p.size());
}

int CountLines(const std::string& path, std::string_view prefix) {
  int n = 0;
  for (const std::string& line : OutputLines(path)) n += line.rfind(prefix, 0) == 0;
  return n;
}

class Dispatcher : public ::testing::Test {
 protected:
  IsolatedRuntime Rt;
  std::string Out = Rt.Dir.Native("out.jsonl");
  std::string Err = Rt.Dir.Native("err.txt");
  DispatcherProcess Process{Out, {}, Err};
};

}  // namespace

TEST_F(Dispatcher, MalformedPacketsAreAnsweredWithZeroAndServingGoesOn) {
  const platform::WindowHandle w = Process.Window();
  ASSERT_NE(w, 0u);
  const Bytes good = ValidPacket("text", "details");
  std::vector<std::pair<const char*, Bytes>> bad;
  bad.push_back({"empty", {}});
  bad.push_back({"short", Bytes(good.begin(), good.begin() + 219)});
  Bytes longer = good;
  longer.push_back(0);
  bad.push_back({"over-long", longer});
  Bytes lying = good;
  lying[16] += 1;  // message length beyond the data
  bad.push_back({"lengths", lying});
  Bytes huge = good;
  huge[23] = 0xFF;  // detail length near 4 GiB
  bad.push_back({"huge length", huge});
  for (const auto& [name, at, size] : std::vector<std::tuple<const char*, std::size_t, std::size_t>>{
           {"session", 32, 42}, {"computer", 74, 16}, {"app", 90, 41}, {"category", 131, 41}, {"class", 176, 41}}) {
    Bytes p = good;
    std::fill(p.begin() + static_cast<std::ptrdiff_t>(at), p.begin() + static_cast<std::ptrdiff_t>(at + size), 'A');
    bad.push_back({name, p});
  }
  Bytes unterminated = good;
  unterminated[217 + 4 + 7] = 'x';
  bad.push_back({"final zero", unterminated});

  for (const auto& [name, p] : bad) EXPECT_EQ(Send(w, p), 0u) << name;
  EXPECT_EQ(Send(w, good), 1u);
  const auto lines = OutputLines(Out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(JsonField(lines[0], "text"), "text");
  EXPECT_EQ(JsonField(lines[0], "details"), "details");
  EXPECT_EQ(CountLines(Err, "TSDispatcher: rejected:"), static_cast<int>(bad.size()));
}

TEST_F(Dispatcher, TextsAreWrittenAsValidJson) {
  ASSERT_NE(Process.Window(), 0u);
  ASSERT_EQ(Send(Process.Window(), ValidPacket(std::string("q\" b\\ c\x01 \xFF end"), "l1\r\nl2")), 1u);
  const auto lines = OutputLines(Out);
  ASSERT_EQ(lines.size(), 1u);
  // 0xFF is no character of UTF-8 (U+FFFD in its place); code page 932 maps
  // it to U+F8F3.
  const std::u16string ff = platform::ToWide("\xFF");
  ASSERT_EQ(ff.size(), 1u);
  const std::string ffUtf8 = ff[0] == 0xFFFD ? "\xEF\xBF\xBD" : ff[0] == 0xF8F3 ? "\xEF\xA3\xB3" : "?";
  EXPECT_NE(lines[0].find(R"("text":"q\" b\\ c\u0001 )" + ffUtf8 + R"( end")"), std::string::npos) << lines[0];
  EXPECT_EQ(JsonField(lines[0], "details"), "l1\r\nl2");
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(stat(Out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the messages are the owner's to read
#endif
}

TEST_F(Dispatcher, SurvivesRandomPackets) {
  const platform::WindowHandle w = Process.Window();
  ASSERT_NE(w, 0u);
  std::mt19937 random(12345);
  int sent = 0, accepted = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    Bytes p;
    if (random() % 2) {
      p.resize(random() % 600);
      for (auto& b : p) b = static_cast<std::uint8_t>(random());
    } else {  // a valid packet with a few bytes changed, cut or grown
      p = ValidPacket("fuzz", "details");
      for (int k = random() % 4; k >= 0; --k) p[random() % p.size()] = static_cast<std::uint8_t>(random());
      if (random() % 4 == 0) p.resize(random() % (p.size() + 8));
    }
    const std::uint32_t reply = Send(w, p);
    ASSERT_LE(reply, 1u);
    accepted += static_cast<int>(reply);
    ++sent;
  }
  EXPECT_GT(sent, 100);
  EXPECT_EQ(Send(w, ValidPacket()), 1u);
  // Every packet was answered: accepted ones were written, the rest reported.
  EXPECT_EQ(static_cast<int>(OutputLines(Out).size()), accepted + 1);
  EXPECT_EQ(CountLines(Err, "TSDispatcher: rejected:"), sent - accepted);
}

TEST_F(Dispatcher, TerminationRemovesTheWindow) {
  ASSERT_NE(Process.Window(), 0u);
  const std::uint32_t pid = Process.Pid();
  Process.RequestEnd();
  EXPECT_EQ(Process.Wait(5000), 0);
  EXPECT_EQ(platform::FindTopLevelWindow("TFrmDispatcher", "TraceSpot Dispatcher"), 0u);
  std::vector<std::string> left;
  for (const platform::WindowInfo& info : platform::ProcessWindows(pid)) left.push_back(info.title);
  EXPECT_TRUE(left.empty());
  EXPECT_EQ(testing_support::ReadFile(Err), "");
#ifndef _WIN32
  EXPECT_FALSE(testing_support::Exists(Rt.WindowFolder() + "/" + std::to_string(pid) + ".1"));
#endif
}

#ifndef _WIN32
// Senders are served side by side: peers that send part of a message and
// then nothing hold up none of the clients that send whole ones meanwhile.
TEST_F(Dispatcher, SlowSendersHoldUpNoOther) {
  const platform::WindowHandle w = Process.Window();
  ASSERT_NE(w, 0u);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path,
              (Rt.WindowFolder() + "/" + std::to_string(w >> 32) + "." + std::to_string(w & 0xFFFFFFFF)).c_str());
  std::vector<int> slow;
  for (int i = 0; i < 5; ++i) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(write(fd, "K", 1), 1);
    slow.push_back(fd);
  }
  constexpr int kClients = 8, kMessages = 20;
  std::atomic<int> accepted{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int t = 0; t < kClients; ++t)
    clients.emplace_back([&, t] {
      for (int i = 0; i < kMessages; ++i) {
        const Bytes p = ValidPacket("client " + std::to_string(t) + " message " + std::to_string(i));
        accepted += static_cast<int>(platform::SendCopyData(w, 1, p.data(), p.size(), 2000));
      }
    });
  for (auto& c : clients) c.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(accepted, kClients * kMessages);
  EXPECT_EQ(static_cast<int>(OutputLines(Out).size()), kClients * kMessages);
  // Broken off, the slow peers are turned away.
  for (const int fd : slow) close(fd);
  for (int i = 0; i < 500 && CountLines(Err, "TSDispatcher: rejected:") < 5; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(CountLines(Err, "TSDispatcher: rejected:"), 5);
}
#endif

TEST(DispatcherProgram, HelpExplainsIt) {
  IsolatedRuntime rt;
  const std::string out = rt.Dir.Native("help.txt");
  std::string line = "\"" + testing_support::DispatcherProgram() + "\" --help > \"" + out + "\"";
#ifdef _WIN32
  line = "\"" + line + "\"";  // the command interpreter takes off one outer pair of quotes
#endif
  ASSERT_EQ(std::system(line.c_str()), 0);
  const std::string help = testing_support::ReadFile(out);
  EXPECT_NE(help.find("--output FILE"), std::string::npos);
  EXPECT_NE(help.find("--once"), std::string::npos);
  testing_support::TestProcess bogus({testing_support::DispatcherProgram(), "--bogus"}, rt.Dir.Native("err.txt"));
  EXPECT_EQ(bogus.Wait(10000), 2);
  EXPECT_NE(testing_support::ReadFile(rt.Dir.Native("err.txt")).find("unknown argument --bogus"), std::string::npos);
}
