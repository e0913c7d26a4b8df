#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "platform/CodePage.h"
#include "platform/Path.h"
#include "platform/Window.h"
#include "platform/posix/CodePageTables.h"

extern char** environ;

namespace platform {

namespace {

volatile std::sig_atomic_t gTerminationRequested = 0;

void OnTerminationSignal(int) { gTerminationRequested = 1; }

std::string ToUtf8(std::string_view systemText) {
  if (SystemCodePage() == kCodePageUtf8) return std::string(systemText);
  return WideToUtf8(ToWide(systemText));
}

bool IsExecutable(const std::string& nativePath) { return access(nativePath.c_str(), X_OK) == 0; }

bool EndsWithExe(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".exe";
}

// The file to run for a program name, native; empty when there is none.
std::string ResolveProgram(const std::string& program) {
  std::vector<std::string> candidates;
  auto both = [&](const std::string& path) {
    candidates.push_back(path);
    if (EndsWithExe(path)) candidates.push_back(path.substr(0, path.size() - 4));
  };
  const std::string native = ToNativePath(program);
  if (program.find('\\') != std::string::npos || program.find('/') != std::string::npos) {
    both(native);
  } else {
    std::string self = ToNativePath(ProgramFileName());
    both(self.substr(0, self.rfind('/') + 1) + native);
    both("./" + native);
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
      const std::size_t colon = rest.find(':');
      const std::string_view dir = rest.substr(0, colon);
      if (!dir.empty()) both(std::string(dir) + "/" + native);
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  for (const std::string& c : candidates)
    if (IsExecutable(c)) return c;
  return {};
}

}  // namespace

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }
std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(gettid()); }

std::string ComputerName() {
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof host - 1) != 0) return {};
  std::string name(host);
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) name.resize(15);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string ProgramFileName() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
  return FromNativePath(std::string_view(buffer, static_cast<std::size_t>(n)));
}

namespace {

// Starts the program in a session of its own, with its standard handles on
// the null device and no other handle of this process.
int Spawn(std::string_view commandLine, pid_t& pid) {
  const std::vector<std::string> parts = SplitCommandLine(commandLine);
  if (parts.empty() || parts[0].empty()) return ENOENT;
  const std::string file = ResolveProgram(parts[0]);
  if (file.empty()) return ENOENT;
  std::vector<std::string> args;
  args.push_back(file);
  for (std::size_t k = 1; k < parts.size(); ++k) args.push_back(ToUtf8(parts[k]));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The child starts with the default signal mask and dispositions.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  const int error = posix_spawn(&pid, file.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace

int StartWindowedProcess(std::string_view commandLine, int timeoutMs, std::uint32_t& processId) {
  processId = 0;
  pid_t pid = 0;
  if (const int error = Spawn(commandLine, pid)) return error;
  processId = static_cast<std::uint32_t>(pid);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (!ProcessWindows(processId).empty()) return 0;
    // Looked at without reaping it, so that its id cannot pass to another
    // process before it is ended below.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return ECHILD;
    if (info.si_pid == pid || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The whole session: a program may have handed the start on to another.
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return ETIMEDOUT;
}

void CatchTerminationRequests() {
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a signal interrupts the wait it lands in
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

bool TerminationRequested() { return gTerminationRequested != 0; }

void SleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace platform
