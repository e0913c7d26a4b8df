#include "support/ProcessHelper.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/Isolation.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testing_support {

std::string BuiltProgram(const std::string& name) {
#ifdef _WIN32
  // The test run always names the folder (see TestEnvironment.cpp).
  return std::string(std::getenv("KV_BIN_DIR")) + "\\" + name + ".exe";
#else
  if (const char* bin = std::getenv("KV_BIN_DIR")) return std::string(bin) + "/" + name;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
  return path.substr(0, path.rfind('/') + 1) + name;
#endif
}

namespace {

std::atomic<int> gDelivered{0};

#ifdef _WIN32
constexpr const char* kDispatcherKey = "SOFTWARE\\Orvane\\TraceSpot\\2.0";

void WriteDispatcherValue(const std::optional<std::string>& commandLine) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDispatcherKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  if (commandLine)
    RegSetValueExA(key, "DispatcherPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(commandLine->c_str()),
                   static_cast<DWORD>(commandLine->size() + 1));
  else
    RegDeleteValueA(key, "DispatcherPath");
  RegCloseKey(key);
}

std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}
#endif

}  // namespace

#ifdef _WIN32

std::uint32_t OsProcessId() { return GetCurrentProcessId(); }
std::uint32_t OsThreadId() { return GetCurrentThreadId(); }

TestProcess::TestProcess(std::uint32_t processId) : FId(processId) {
  FHandle = reinterpret_cast<std::intptr_t>(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId));
  FEnded = FHandle == 0;
}

TestProcess::TestProcess(const std::vector<std::string>& args, const std::string& errorFile) {
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + Quoted(a);
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE errors = nullptr;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!errorFile.empty()) {
    errors = CreateFileA(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = errors;
  }
  PROCESS_INFORMATION started{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, errors != nullptr, 0, nullptr, nullptr, &startup,
                     &started)) {
    CloseHandle(started.hThread);
    FHandle = reinterpret_cast<std::intptr_t>(started.hProcess);
    FId = started.dwProcessId;
    FEnded = false;
  }
  if (errors) CloseHandle(errors);
}

int TestProcess::Wait(int ms) {
  if (FEnded) return -1;
  const HANDLE process = reinterpret_cast<HANDLE>(FHandle);
  if (WaitForSingleObject(process, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  FHandle = 0;
  FEnded = true;
  return static_cast<int>(code);
}

void TestProcess::RequestEnd() {
  if (FEnded) return;
  struct Search {
    DWORD processId;
  } search{FId};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == reinterpret_cast<Search*>(context)->processId) PostMessageA(window, WM_CLOSE, 0, 0);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
}

void TestProcess::Kill() {
  if (FEnded) return;
  TerminateProcess(reinterpret_cast<HANDLE>(FHandle), 1);
  Wait(5000);
}

bool ProcessEnded(std::uint32_t processId, int ms) {
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!process) return true;
  const bool ended = WaitForSingleObject(process, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

ThreadInterrupter::ThreadInterrupter() = default;
ThreadInterrupter::~ThreadInterrupter() {
  if (FThread) CloseHandle(reinterpret_cast<HANDLE>(FThread));
}

void ThreadInterrupter::Capture() {
  if (FThread) CloseHandle(reinterpret_cast<HANDLE>(FThread));
  FThread = reinterpret_cast<std::intptr_t>(OpenThread(THREAD_SET_CONTEXT, FALSE, GetCurrentThreadId()));
}

void ThreadInterrupter::Interrupt() {
  QueueUserAPC([](ULONG_PTR) { ++gDelivered; }, reinterpret_cast<HANDLE>(FThread), 0);
}

ScopedDispatcherPath::ScopedDispatcherPath(const IsolatedRuntime&, const std::optional<std::string>& commandLine) {
  WriteDispatcherValue(commandLine);
}

ScopedDispatcherPath::~ScopedDispatcherPath() { WriteDispatcherValue(NoDispatcherPath()); }

std::string NoDispatcherPath() { return "C:\\nonexistent\\kestrova-test\\TSDispatcher.exe"; }

void NameNoDispatcherInFreshRegistry() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDispatcherKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    return;
  }
  WriteDispatcherValue(NoDispatcherPath());
}

#else

namespace {

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

std::string RegistryText(const std::string& commandLine) {
  std::string escaped;
  for (char c : commandLine) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\TraceSpot\\2.0]\r\n"
         "\"DispatcherPath\"=\"" +
         escaped + "\"\r\n";
}

}  // namespace

std::uint32_t OsProcessId() { return static_cast<std::uint32_t>(getpid()); }
std::uint32_t OsThreadId() { return static_cast<std::uint32_t>(gettid()); }

TestProcess::TestProcess(std::uint32_t processId) : FId(processId), FEnded(processId == 0) {}

TestProcess::TestProcess(const std::vector<std::string>& args, const std::string& errorFile) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!errorFile.empty())
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    FId = static_cast<std::uint32_t>(pid);
    FEnded = false;
  }
  posix_spawn_file_actions_destroy(&actions);
}

int TestProcess::Wait(int ms) {
  if (FEnded) return -1;
  for (int i = 0; i <= ms / 10; ++i) {
    int status = 0;
    if (waitpid(static_cast<pid_t>(FId), &status, WNOHANG) == static_cast<pid_t>(FId)) {
      FEnded = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    Pause();
  }
  return -1;
}

void TestProcess::RequestEnd() {
  if (!FEnded) kill(static_cast<pid_t>(FId), SIGTERM);
}

void TestProcess::Kill() {
  if (FEnded) return;
  kill(static_cast<pid_t>(FId), SIGKILL);
  waitpid(static_cast<pid_t>(FId), nullptr, 0);
  FEnded = true;
}

bool ProcessEnded(std::uint32_t processId, int ms) {
  for (int i = 0; i <= ms / 10; ++i) {
    const std::string stat = ReadFile("/proc/" + std::to_string(processId) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (stat.empty() || (close != std::string::npos && stat.compare(close + 1, 3, " Z ") == 0)) return true;
    Pause();
  }
  return false;
}

namespace {
struct sigaction gOldAction {};
int gInterrupters = 0;
}  // namespace

// SIGUSR1 interrupts waits on the thread it is sent to (no restart).
ThreadInterrupter::ThreadInterrupter() {
  if (gInterrupters++ > 0) return;
  struct sigaction a {};
  a.sa_handler = [](int) { ++gDelivered; };
  sigemptyset(&a.sa_mask);
  sigaction(SIGUSR1, &a, &gOldAction);
}

ThreadInterrupter::~ThreadInterrupter() {
  if (--gInterrupters == 0) sigaction(SIGUSR1, &gOldAction, nullptr);
}

void ThreadInterrupter::Capture() { FThread = static_cast<std::intptr_t>(pthread_self()); }

void ThreadInterrupter::Interrupt() { pthread_kill(static_cast<pthread_t>(FThread), SIGUSR1); }

ScopedDispatcherPath::ScopedDispatcherPath(const IsolatedRuntime& rt, const std::optional<std::string>& commandLine) {
  const std::string file = rt.Dir.Native("registry.reg");
  if (commandLine)
    WriteFile(file, RegistryText(*commandLine));
  else
    std::remove(file.c_str());
}

// The isolated registry file goes with the test's folder.
ScopedDispatcherPath::~ScopedDispatcherPath() = default;

std::string NoDispatcherPath() { return "/nonexistent/kestrova-test/TSDispatcher"; }

void NameNoDispatcherInFreshRegistry() {}

#endif

void TestProcess::Stop() {
  if (FEnded) return;
  RequestEnd();
  if (Wait(5000) != -1 || FEnded) return;
  Kill();
}

int ThreadInterrupter::Delivered() { return gDelivered; }

}  // namespace testing_support
