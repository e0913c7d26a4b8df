// Top-level windows that other processes find by class and title, and the
// WM_COPYDATA message between processes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// 0 means no window. A handle names one window of one process; it stays
// valid while that process keeps the window.
using WindowHandle = std::uint64_t;

struct WindowInfo {
  WindowHandle handle = 0;
  std::uint32_t processId = 0;
  std::string className;
  std::string title;
};

// A window owned by this process that answers WM_COPYDATA from others.
class MessageWindow {
 public:
  // Receives the data word and the bytes; returns the 32-bit reply.
  using CopyDataHandler = std::function<std::uint32_t(std::uint64_t dataWord, std::string_view data)>;
  enum class Served {
    kNothing,   // time-out or interruption
    kMessage,   // one message went to the handler and its reply back
    kRejected,  // a peer sent something that is no message (answered 0), or
                // broke off or ran out of time before its message was whole
  };

  MessageWindow();
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Registers the window; 0 or the error code. The window belongs to the
  // calling thread: ServeOne and Destroy are called there (Windows delivers
  // a window's messages to the thread that created it).
  int Create(std::string_view className, std::string_view title, CopyDataHandler handler);
  WindowHandle Handle() const;
  // Waits up to timeoutMs (-1: no limit) for one message and serves it.
  // Senders are taken in side by side: one that is slow to send its message
  // holds up no other (POSIX gives each 5 seconds for the whole message).
  // A signal (Windows: an asynchronous procedure call) ends the wait early.
  // An exception of the handler leaves here, after the sender got 0.
  Served ServeOne(int timeoutMs);
  void Destroy();

 private:
  struct State;
  std::unique_ptr<State> FState;
};

// The first live top-level window with that class (ignoring case) and title.
// Never waits for a window's owner, which may be stopped.
WindowHandle FindTopLevelWindow(std::string_view className, std::string_view title);
// The live windows a process registered, in the order it registered them.
std::vector<WindowInfo> ProcessWindows(std::uint32_t processId);
std::uint32_t WindowProcessId(WindowHandle window);

// WM_COPYDATA: delivers the data word and the bytes and waits for the reply.
// 0 when the window is gone, the data could not be delivered or the receiver
// did not answer within timeoutMs. The limit holds for the whole delivery,
// also when the receiver is stopped and its queue of senders is full.
constexpr int kCopyDataTimeoutMs = 5000;
std::uint32_t SendCopyData(WindowHandle window, std::uint64_t dataWord, const void* data, std::size_t size,
                           int timeoutMs = kCopyDataTimeoutMs);

}  // namespace platform
