#include "platform/Process.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "platform/Locale.h"
#include "platform/Window.h"
#include "platform/win32/Termination.h"

namespace platform {

namespace {

std::atomic<bool> gCaught{false};
std::atomic<bool> gTerminationRequested{false};
// The thread whose waits a request interrupts: the one that caught them.
std::atomic<HANDLE> gCatchingThread{nullptr};

void CALLBACK WakeUp(ULONG_PTR) {}

BOOL WINAPI OnControlEvent(DWORD) {
  // Every control event (Ctrl+C, Ctrl+Break, closing the console, ending
  // the session) asks for the end; the main loop ends the program itself.
  win32::RequestTermination();
  return TRUE;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EndsWithExe(const std::string& path) {
  return path.size() >= 4 && SameTextIgnoreCase(std::string_view(path).substr(path.size() - 4), ".exe");
}

bool HasExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  return dot != std::string::npos && path.find_first_of("\\/", dot) == std::string::npos;
}

// The file to run for a program name; empty when there is none.
std::string ResolveProgram(const std::string& program) {
  std::vector<std::string> candidates;
  auto both = [&](const std::string& path) {
    candidates.push_back(path);
    if (EndsWithExe(path))
      candidates.push_back(path.substr(0, path.size() - 4));
    else if (!HasExtension(path))
      candidates.push_back(path + ".exe");  // as the system itself completes a bare name
  };
  if (program.find_first_of("\\/:") != std::string::npos) {
    both(program);
  } else {
    const std::string self = ProgramFileName();
    both(self.substr(0, self.find_last_of("\\/") + 1) + program);
    both(".\\" + program);
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
      const std::size_t semicolon = rest.find(';');
      std::string dir(rest.substr(0, semicolon));
      if (!dir.empty()) {
        if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
        both(dir + program);
      }
      rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    }
  }
  for (const std::string& c : candidates)
    if (IsFile(c)) return c;
  return {};
}

// Inheritable handles of the null device for the child's standard handles,
// which the child alone receives: it may outlive this process, so it must not
// hold this process's own open.
class NullHandles {
 public:
  NullHandles() {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    for (int i = 0; i < 3; ++i) {
      FHandles[i] = CreateFileW(L"NUL", i == 0 ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inheritable, OPEN_EXISTING, 0, nullptr);
      if (FHandles[i] == INVALID_HANDLE_VALUE) {
        FHandles[i] = nullptr;
        continue;
      }
      FList.push_back(FHandles[i]);
    }
  }
  ~NullHandles() {
    for (HANDLE h : FList) CloseHandle(h);
  }
  NullHandles(const NullHandles&) = delete;
  NullHandles& operator=(const NullHandles&) = delete;

  HANDLE Get(int i) const { return FHandles[i]; }
  std::vector<HANDLE>& List() { return FList; }

 private:
  HANDLE FHandles[3] = {};
  std::vector<HANDLE> FList;
};

// Starts the program; the process handle, or null with the error code.
HANDLE Spawn(std::string_view commandLine, DWORD& processId, int& error) {
  processId = 0;
  error = 0;
  const std::vector<std::string> parts = SplitCommandLine(commandLine);
  const std::string file = parts.empty() || parts[0].empty() ? std::string() : ResolveProgram(parts[0]);
  if (file.empty()) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  NullHandles standard;
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup;
  std::vector<char> attributeBuffer;
  const bool inherit = !standard.List().empty();
  if (inherit) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributeBuffer.resize(size);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    if (!InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) {
      error = static_cast<int>(GetLastError());
      return nullptr;
    }
    if (!UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   standard.List().data(), standard.List().size() * sizeof(HANDLE), nullptr, nullptr)) {
      error = static_cast<int>(GetLastError());
      DeleteProcThreadAttributeList(startup.lpAttributeList);
      return nullptr;
    }
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = standard.Get(0);
    startup.StartupInfo.hStdOutput = standard.Get(1);
    startup.StartupInfo.hStdError = standard.Get(2);
  }
  std::string line(commandLine);
  PROCESS_INFORMATION started{};
  // A group of its own: the console's Ctrl+C for this program is not its.
  const DWORD flags = CREATE_NEW_PROCESS_GROUP | (inherit ? EXTENDED_STARTUPINFO_PRESENT : 0);
  const BOOL ok = CreateProcessA(file.c_str(), line.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr,
                                 &startup.StartupInfo, &started);
  if (!ok) error = static_cast<int>(GetLastError());
  if (inherit) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!ok) return nullptr;
  CloseHandle(started.hThread);
  processId = started.dwProcessId;
  return started.hProcess;
}

}  // namespace

namespace win32 {

bool TerminationRequestsCaught() { return gCaught.load(); }

void RequestTermination() {
  gTerminationRequested = true;
  if (const HANDLE thread = gCatchingThread.load()) QueueUserAPC(WakeUp, thread, 0);
}

}  // namespace win32

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }
std::uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

std::string ComputerName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size)) return {};
  std::string name(buffer, size);
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) name.resize(15);
  if (!name.empty()) CharUpperBuffA(name.data(), static_cast<DWORD>(name.size()));
  return name;
}

std::string ProgramFileName() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // cut off: the path is longer
  }
}

// The command line goes to the program as it was given, so the program splits
// it by the same rules; the search for the program is done here, in the order
// of the other platforms, rather than the system's. The system's wait for
// input returns at once for a console program; the window check covers both
// kinds.
int StartWindowedProcess(std::string_view commandLine, int timeoutMs, std::uint32_t& processId) {
  processId = 0;
  DWORD id = 0;
  int error = 0;
  const HANDLE process = Spawn(commandLine, id, error);
  if (!process) return error;
  processId = id;
  const DWORD limit = static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs);
  const ULONGLONG deadline = GetTickCount64() + limit;
  ::WaitForInputIdle(process, limit);
  bool hasWindow = false;
  for (;;) {
    if (!ProcessWindows(id).empty()) {
      hasWindow = true;
      break;
    }
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || GetTickCount64() >= deadline) break;
    Sleep(10);
  }
  if (!hasWindow) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 1000);
  }
  CloseHandle(process);
  return hasWindow ? 0 : WAIT_TIMEOUT;
}

void CatchTerminationRequests() {
  HANDLE thread = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                      DUPLICATE_SAME_ACCESS)) {
    if (const HANDLE old = gCatchingThread.exchange(thread)) CloseHandle(old);
  }
  gCaught = true;
  SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

bool TerminationRequested() { return gTerminationRequested.load(); }

void SleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds)); }

}  // namespace platform
