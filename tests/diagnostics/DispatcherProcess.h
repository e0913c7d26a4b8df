// The stand-in dispatcher as a child process of a test, and its output.
#pragma once

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/Window.h"
#include "support/ProcessHelper.h"
#include "support/TestSupport.h"

namespace testing_support {

#ifdef _WIN32
inline std::string DispatcherProgram() { return std::string(std::getenv("KV_BIN_DIR")) + "\\TSDispatcher.exe"; }
#else
inline std::string DispatcherProgram() { return std::string(std::getenv("KV_BIN_DIR")) + "/TSDispatcher"; }
#endif

// Waits up to ten seconds for the dispatcher's window.
inline platform::WindowHandle WaitForDispatcherWindow() {
  for (int i = 0; i < 1000; ++i) {
    if (auto w = platform::FindTopLevelWindow("TFrmDispatcher", "TraceSpot Dispatcher")) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

class DispatcherProcess {
 public:
  // Standard error goes to errors when it is given.
  explicit DispatcherProcess(const std::string& output, std::vector<std::string> extra = {},
                             const std::string& errors = "")
      : FProcess(Arguments(output, std::move(extra)), errors) {
    FWindow = FProcess.Id() ? WaitForDispatcherWindow() : 0;
  }

  std::uint32_t Pid() const { return FProcess.Id(); }
  platform::WindowHandle Window() const { return FWindow; }
  // Waits for the process to end by itself; its exit status, or -1.
  int Wait(int ms) { return FProcess.Wait(ms); }
  void RequestEnd() { FProcess.RequestEnd(); }

 private:
  static std::vector<std::string> Arguments(const std::string& output, std::vector<std::string> extra) {
    std::vector<std::string> args{DispatcherProgram(), "--output", output};
    for (auto& a : extra) args.push_back(std::move(a));
    return args;
  }

  TestProcess FProcess;
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
