// A simple TraceSpot dispatcher: receives the clients' packets through its
// window and writes each as one JSON line.

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Window.h"

namespace {

constexpr std::size_t kHeaderSize = 220;
constexpr std::int32_t kSessionClose = 42;

const char kUsage[] =
    "Usage: TSDispatcher [--output FILE] [--once]\n"
    "\n"
    "Receives the messages of TraceSpot clients through the window \"TraceSpot Dispatcher\"\n"
    "(class \"TFrmDispatcher\") and writes one JSON line per message: to standard output,\n"
    "or appended to FILE with --output. Every well-formed message is answered with 1; a\n"
    "malformed one with 0 and a line on standard error.\n"
    "\n"
    "  --output FILE  append the lines to FILE instead of writing them to standard output\n"
    "  --once         end after the first session-close message\n"
    "  --help         show this text\n"
    "\n"
    "SIGTERM or SIGINT ends the dispatcher and removes its window.\n";

std::uint32_t U32(std::string_view p, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[at + static_cast<std::size_t>(i)]);
  return v;
}

std::int32_t I32(std::string_view p, std::size_t at) { return static_cast<std::int32_t>(U32(p, at)); }

// The text of a zero-terminated field; false when the field has no terminator.
bool Field(std::string_view p, std::size_t at, std::size_t size, std::string_view& out) {
  const std::string_view field = p.substr(at, size);
  const std::size_t zero = field.find('\0');
  if (zero == std::string_view::npos) return false;
  out = field.substr(0, zero);
  return true;
}

// System code page text as a JSON string.
std::string Json(std::string_view text) {
  const std::string utf8 = platform::FromWide(platform::ToWide(text));
  std::string out = "\"";
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// The packet as a JSON line, or the reason it is malformed.
bool Describe(std::string_view p, std::string& line, std::string& problem) {
  if (p.size() < kHeaderSize) {
    problem = "packet of " + std::to_string(p.size()) + " bytes is shorter than " + std::to_string(kHeaderSize);
    return false;
  }
  const std::uint64_t length = U32(p, 16), details = U32(p, 20);
  if (p.size() != kHeaderSize + length + details) {
    problem = "packet of " + std::to_string(p.size()) + " bytes does not hold " + std::to_string(kHeaderSize) + " + " +
              std::to_string(length) + " + " + std::to_string(details);
    return false;
  }
  std::string_view session, computer, app, category, objectClass;
  if (!Field(p, 32, 42, session) || !Field(p, 74, 16, computer) || !Field(p, 90, 41, app) ||
      !Field(p, 131, 41, category) || !Field(p, 176, 41, objectClass) || p[217 + length + details] != '\0') {
    problem = "packet has a text without its terminating zero";
    return false;
  }
  line = "{\"type\":" + std::to_string(I32(p, 0)) + ",\"ms\":" + std::to_string(I32(p, 4)) +
         ",\"day\":" + std::to_string(I32(p, 8)) + ",\"bias\":" + std::to_string(I32(p, 12)) +
         ",\"length\":" + std::to_string(length) + ",\"detail_length\":" + std::to_string(details) +
         ",\"pid\":" + std::to_string(U32(p, 24)) + ",\"tid\":" + std::to_string(U32(p, 28)) +
         ",\"session\":" + Json(session) + ",\"computer\":" + Json(computer) + ",\"app\":" + Json(app) +
         ",\"category\":" + Json(category) + ",\"color\":" + std::to_string(U32(p, 172)) +
         ",\"class\":" + Json(objectClass) + ",\"text\":" + Json(p.substr(217, length)) +
         ",\"details\":" + Json(p.substr(217 + length, details)) + "}";
  return true;
}

class Output {
 public:
  explicit Output(std::string path) : FPath(std::move(path)) {}

  // Each line is appended on its own, so readers see whole lines at once.
  bool Write(const std::string& line) {
    if (FPath.empty()) {
      std::cout << line << '\n' << std::flush;
      return static_cast<bool>(std::cout);
    }
    platform::File file;
    int error = platform::FileExists(FPath) ? file.OpenReadWrite(FPath) : file.CreateAlways(FPath);
    if (error == 0) error = file.SeekToEnd();
    const std::string bytes = line + "\n";
    if (error == 0) error = file.Write(bytes.data(), bytes.size());
    file.Close();
    return error == 0;
  }

 private:
  std::string FPath;
};

}  // namespace

int main(int argc, char** argv) {
  std::string output;
  bool once = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--once") {
      once = true;
    } else if (arg == "--output" && i + 1 < argc) {
      output = platform::FromNativePath(argv[++i]);
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
    if (!Describe(p, line, problem)) {
      std::cerr << "TSDispatcher: rejected: " << problem << std::endl;
      return std::uint32_t{0};
    }
    if (!out.Write(line)) std::cerr << "TSDispatcher: cannot write the output" << std::endl;
    if (I32(p, 0) == kSessionClose) closed = true;
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
