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
#include <future>
#include <thread>

#include "platform/Window.h"
#include "support/Isolation.h"
#include "support/ProcessHelper.h"

using platform::MessageWindow;
using testing_support::IsolatedRuntime;

namespace {

// Creates a window on its own thread and serves it there until stopped.
class Server {
 public:
  Server(const char* cls, const char* title, MessageWindow::CopyDataHandler handler) {
    std::promise<int> created;
    FThread = std::thread([&] {
      created.set_value(FWindow.Create(cls, title, std::move(handler)));
      while (!FStop) {
        if (FWindow.ServeOne(20) == MessageWindow::Served::kRejected) ++Rejected;
      }
      FWindow.Destroy();
    });
    EXPECT_EQ(created.get_future().get(), 0);
  }
  ~Server() {
    FStop = true;
    FThread.join();
  }
  platform::WindowHandle Handle() const { return FWindow.Handle(); }
  std::atomic<int> Rejected{0};

 private:
  MessageWindow FWindow;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace

TEST(Window, CopyDataReachesTheWindowFoundByClassAndTitle) {
  IsolatedRuntime rt;
  std::uint64_t gotWord = 0;
  std::string gotData;
  Server other("OtherClass", "Title", [](std::uint64_t, std::string_view) { return 7u; });
  Server server("TFrmTest", "Test Title", [&](std::uint64_t word, std::string_view data) {
    gotWord = word;
    gotData = data;
    return 0xDEADBEEFu;
  });
  const platform::WindowHandle found = platform::FindTopLevelWindow("tfrmtest", "Test Title");
  ASSERT_EQ(found, server.Handle());
  EXPECT_EQ(platform::WindowProcessId(found), testing_support::OsProcessId());
  EXPECT_EQ(platform::FindTopLevelWindow("TFrmTest", "test title"), 0u);  // titles keep their case
  EXPECT_EQ(platform::FindTopLevelWindow("TFrmTest", "Other"), 0u);

  const std::string payload("a\0b\xFF", 4);
  EXPECT_EQ(platform::SendCopyData(found, 0x1234567890ull, payload.data(), payload.size()), 0xDEADBEEFu);
  EXPECT_EQ(gotWord, 0x1234567890ull);
  EXPECT_EQ(gotData, payload);
  EXPECT_EQ(platform::SendCopyData(found, 1, nullptr, 0), 0xDEADBEEFu);
  EXPECT_EQ(gotData, "");

  const auto mine = platform::ProcessWindows(testing_support::OsProcessId());
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].title, "Title");  // in the order of registration
  EXPECT_EQ(mine[1].className, "TFrmTest");
  EXPECT_EQ(server.Rejected, 0);  // finding a window sends it nothing it counts
}

TEST(Window, GoneAndStaleWindowsAreNotFound) {
  IsolatedRuntime rt;
  platform::WindowHandle gone;
  {
    MessageWindow w;
    ASSERT_EQ(w.Create("C", "T", nullptr), 0);
    gone = w.Handle();
    ASSERT_EQ(platform::FindTopLevelWindow("C", "T"), gone);
  }
  EXPECT_EQ(platform::FindTopLevelWindow("C", "T"), 0u);
  EXPECT_EQ(platform::SendCopyData(gone, 1, "x", 1), 0u);
#ifndef _WIN32
  // A dead process's entries: its socket has no listener any more.
  const std::string stale = rt.WindowFolder() + "/999999.1";
  testing_support::WriteFile(stale + ".win", std::string("C\0T", 3));
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, stale.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  close(fd);
  EXPECT_EQ(platform::FindTopLevelWindow("C", "T"), 0u);
  EXPECT_TRUE(platform::ProcessWindows(999999).empty());
#endif
}

TEST(Window, SilentReceiverCountsAsNotDelivered) {
  IsolatedRuntime rt;
  // Registered on a thread that never serves it.
  MessageWindow w;
  std::promise<void> sent;
  std::thread owner([&] {
    EXPECT_EQ(w.Create("C", "T", nullptr), 0);
    sent.get_future().wait();
  });
  while (!w.Handle()) std::this_thread::yield();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(platform::SendCopyData(w.Handle(), 1, "x", 1), 0u);
  const auto waited = std::chrono::steady_clock::now() - start;
  sent.set_value();
  owner.join();
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::seconds(8));
}

// A handler that fails on "fail" and answers 5 to anything else.
static std::uint32_t FailOnRequest(std::uint64_t, std::string_view data) {
  if (data == "fail") throw std::runtime_error("handler failed");
  return 5;
}

TEST(Window, HandlerExceptionsLeaveServeOne) {
  IsolatedRuntime rt;
  std::atomic<platform::WindowHandle> handle{0};
  std::atomic<bool> stop{false};
  std::atomic<int> raised{0};
  std::thread server([&] {
    MessageWindow w;
    ASSERT_EQ(w.Create("C", "T", FailOnRequest), 0);
    handle = w.Handle();
    while (!stop) {
      try {
        w.ServeOne(20);
      } catch (const std::runtime_error&) {
        ++raised;
      }
    }
  });
  while (!handle) std::this_thread::yield();
  EXPECT_EQ(platform::SendCopyData(handle, 1, "fail", 4), 0u);
  EXPECT_EQ(platform::SendCopyData(handle, 1, "ok", 2), 5u);  // the window still serves
  stop = true;
  server.join();
  EXPECT_EQ(raised, 1);
}

// Messages that wait while a handler fails are served too: the system may
// hand several to one call of ServeOne, before it raises the failure.
TEST(Window, MessagesWaitingBehindAFailingOneAreServed) {
  IsolatedRuntime rt;
  std::atomic<platform::WindowHandle> handle{0};
  std::atomic<bool> serve{false};
  std::atomic<int> done{0}, raised{0};
  // A thread of its own serves the window: a thread that has not looked at
  // its messages for long counts as hung, and senders would give up at once.
  std::thread server([&] {
    MessageWindow w;
    ASSERT_EQ(w.Create("C", "T", FailOnRequest), 0);
    handle = w.Handle();
    while (!serve) std::this_thread::yield();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (done < 2 && std::chrono::steady_clock::now() < deadline) {
      try {
        w.ServeOne(20);
      } catch (const std::runtime_error&) {
        ++raised;
      }
    }
  });
  while (!handle) std::this_thread::yield();
  std::uint32_t failed = 1, served = 0;
  std::thread first([&] {
    failed = platform::SendCopyData(handle, 1, "fail", 4);
    ++done;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::thread second([&] {
    served = platform::SendCopyData(handle, 1, "ok", 2);
    ++done;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // both wait for the window
  serve = true;
  first.join();
  second.join();
  server.join();
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(served, 5u);
  EXPECT_EQ(raised, 1);
}

#ifndef _WIN32
// The socket folder and the frames on it.

TEST(Window, UnsafeFoldersAreRefused) {
  IsolatedRuntime rt;
  ASSERT_EQ(mkdir(rt.WindowFolder().c_str(), 0755), 0);  // open to others
  MessageWindow w;
  EXPECT_NE(w.Create("C", "T", nullptr), 0);
  EXPECT_EQ(platform::FindTopLevelWindow("C", "T"), 0u);
  ASSERT_EQ(chmod(rt.WindowFolder().c_str(), 0700), 0);
  ASSERT_EQ(w.Create("C", "T", nullptr), 0);
  struct stat st {};
  ASSERT_EQ(
      stat((rt.WindowFolder() + "/" + std::to_string(getpid()) + "." + std::to_string(w.Handle() & 0xFFFFFFFF)).c_str(),
           &st),
      0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Window, FolderIsCreatedPrivate) {
  IsolatedRuntime rt;
  MessageWindow w;
  ASSERT_EQ(w.Create("C", "T", nullptr), 0);
  struct stat st {};
  ASSERT_EQ(stat(rt.WindowFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Window, GarbageOnTheSocketIsRejectedAndServingGoesOn) {
  IsolatedRuntime rt;
  Server server("C", "T", [](std::uint64_t, std::string_view) { return 1u; });
  const std::string path =
      rt.WindowFolder() + "/" + std::to_string(getpid()) + "." + std::to_string(server.Handle() & 0xFFFFFFFF);
  for (const std::string& junk : {std::string("hello world, no frame here"), std::string(3, 'x'),
                                  std::string("KVWM\x4A\0\0\0\0\0\0\0\0\0\0\0\xFF\xFF\xFF\xFF", 20)}) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(write(fd, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
    shutdown(fd, SHUT_WR);
    char reply[4];
    const ssize_t n = read(fd, reply, sizeof reply);
    EXPECT_TRUE(n <= 0 || (n == 4 && std::memcmp(reply, "\0\0\0\0", 4) == 0));
    close(fd);
  }
  EXPECT_EQ(platform::SendCopyData(server.Handle(), 1, "ok", 2), 1u);
  EXPECT_EQ(server.Rejected, 3);
}
#endif
