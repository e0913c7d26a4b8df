// The stand-in dispatcher as a child process of a test, and its output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/Window.h"
#include "support/TestSupport.h"

namespace testing_support {

inline std::string DispatcherProgram() { return std::string(std::getenv("KV_BIN_DIR")) + "/TSDispatcher"; }

// Waits up to ten seconds for the dispatcher's window.
inline platform::WindowHandle WaitForDispatcherWindow() {
  for (int i = 0; i < 1000; ++i) {
    if (auto w = platform::FindTopLevelWindow("TFrmDispatcher", "TraceSpot Dispatcher")) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

// Ends a dispatcher (ours or one the client started) and reaps it.
inline void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

class DispatcherProcess {
 public:
  // Standard error goes to errors when it is given.
  explicit DispatcherProcess(const std::string& output, std::vector<std::string> extra = {},
                             const std::string& errors = "") {
    std::vector<std::string> args{DispatcherProgram(), "--output", output};
    for (auto& a : extra) args.push_back(a);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!errors.empty())
      posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    FWindow = FPid > 0 ? WaitForDispatcherWindow() : 0;
  }
  ~DispatcherProcess() { StopProcess(FPid); }
  DispatcherProcess(const DispatcherProcess&) = delete;
  DispatcherProcess& operator=(const DispatcherProcess&) = delete;

  pid_t Pid() const { return FPid; }
  platform::WindowHandle Window() const { return FWindow; }
  // Waits for the process to end by itself; its exit status, or -1.
  int Wait(int ms) {
    for (int i = 0; i < ms / 10; ++i) {
      int status = 0;
      if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t FPid = -1;
  platform::WindowHandle FWindow = 0;
};

// The lines the dispatcher wrote.
inline std::vector<std::string> OutputLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadFile(path);
  std::size_t from = 0;
  for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
    lines.push_back(text.substr(from, nl - from));
  return lines;
}

// A field of a JSON line: a number as written, a string unescaped.
inline std::string JsonField(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  std::size_t i = line.find(key);
  if (i == std::string::npos) return "<missing>";
  i += key.size();
  std::string out;
  if (line[i] != '"') {
    while (i < line.size() && line[i] != ',' && line[i] != '}') out += line[i++];
    return out;
  }
  for (++i; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\') {
      const char e = line[++i];
      if (e == 'n')
        out += '\n';
      else if (e == 'r')
        out += '\r';
      else if (e == 't')
        out += '\t';
      else if (e == 'u') {
        out += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
        i += 4;
      } else
        out += e;
    } else {
      out += line[i];
    }
  }
  return out;
}

}  // namespace testing_support
