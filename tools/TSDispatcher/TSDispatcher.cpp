// A simple TraceSpot dispatcher: receives the clients' packets through its
// window and writes each as one JSON line.

#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "TSPacket.h"
#include "platform/AppendFile.h"
#include "platform/CodePage.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/ProgramEntry.h"
#include "platform/Window.h"

namespace {

constexpr std::int32_t kSessionClose = 42;

const char kUsage[] =
    "Usage: TSDispatcher [--output FILE] [--once]\n"
    "\n"
    "Receives the messages of TraceSpot clients through the window \"TraceSpot Dispatcher\"\n"
    "(class \"TFrmDispatcher\") and writes one JSON line per message: to standard output,\n"
    "or appended to FILE with --output (created readable by its owner only). Every\n"
    "well-formed message is answered with 1; a malformed one with 0 and a line on\n"
    "standard error. Many clients are served at once: one that is slow to send holds\n"
    "up no other.\n"
    "\n"
    "  --output FILE  append the lines to FILE instead of writing them to standard output\n"
    "  --once         end after the first session-close message\n"
    "  --help         show this text\n"
    "\n"
    "SIGTERM or SIGINT (on Windows Ctrl+C, Ctrl+Break or closing its window) ends the\n"
    "dispatcher and removes its window.\n";

class Output {
 public:
  explicit Output(std::string path) : FPath(std::move(path)) {}

  // Each line is appended whole on its own, so readers see whole lines at
  // once and other writers of the file never tear one. A new file is the
  // owner's alone: the messages may tell more than others should read.
  bool Write(const std::string& line) {
    if (FPath.empty()) {
      std::cout << line << '\n' << std::flush;
      return static_cast<bool>(std::cout);
    }
    return platform::AppendToFile(FPath, line + "\n") == 0;
  }

 private:
  std::string FPath;
};

}  // namespace

int ProgramMain(const std::vector<std::string>& args) {
  std::string output;
  bool once = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--once") {
      once = true;
    } else if (arg == "--output" && i + 1 < args.size()) {
      output = platform::FromNativePath(args[++i]);
    } else {
      std::cerr << "TSDispatcher: unknown argument " << arg << "\n" << kUsage;
      return 2;
    }
  }

  platform::CatchTerminationRequests();
  Output out(output);
  bool closed = false;
  platform::MessageWindow window;
  const int error = window.Create("TFrmDispatcher", "TraceSpot Dispatcher", [&](std::uint64_t, std::string_view p) {
    std::string line, problem;
    if (!ts_packet::Describe(p, line, problem)) {
      std::cerr << "TSDispatcher: rejected: " << problem << std::endl;
      return std::uint32_t{0};
    }
    if (!out.Write(line)) std::cerr << "TSDispatcher: cannot write the output" << std::endl;
    if (ts_packet::I32(p, 0) == kSessionClose) closed = true;
    return std::uint32_t{1};
  });
  if (error != 0) {
    std::cerr << "TSDispatcher: cannot register the window (error " << error << ")" << std::endl;
    return 1;
  }
  while (!platform::TerminationRequested() && !(once && closed)) {
    if (window.ServeOne(200) == platform::MessageWindow::Served::kRejected)
      std::cerr << "TSDispatcher: rejected: not a message" << std::endl;
  }
  window.Destroy();
  return 0;
}
