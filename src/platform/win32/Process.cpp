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

// The process's standard handles as inheritable duplicates, which the child
// alone receives; the originals may not be inheritable.
class StandardHandles {
 public:
  StandardHandles() {
    const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
      const HANDLE h = GetStdHandle(ids[i]);
      if (h == nullptr || h == INVALID_HANDLE_VALUE ||
          !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &FHandles[i], 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        FHandles[i] = nullptr;
        continue;
      }
      FList.push_back(FHandles[i]);
    }
  }
  ~StandardHandles() {
    for (HANDLE h : FList) CloseHandle(h);
  }
  StandardHandles(const StandardHandles&) = delete;
  StandardHandles& operator=(const StandardHandles&) = delete;

  HANDLE Get(int i) const { return FHandles[i]; }
  std::vector<HANDLE>& List() { return FList; }

 private:
  HANDLE FHandles[3] = {};
  std::vector<HANDLE> FList;
};

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
// of the other platforms, rather than the system's.
int StartProcess(std::string_view commandLine, std::uint32_t& processId) {
  processId = 0;
  const std::vector<std::string> parts = SplitCommandLine(commandLine);
  if (parts.empty() || parts[0].empty()) return ERROR_FILE_NOT_FOUND;
  const std::string file = ResolveProgram(parts[0]);
  if (file.empty()) return ERROR_FILE_NOT_FOUND;

  StandardHandles standard;
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup;
  std::vector<char> attributeBuffer;
  const bool inherit = !standard.List().empty();
  if (inherit) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributeBuffer.resize(size);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    if (!InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size))
      return static_cast<int>(GetLastError());
    if (!UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   standard.List().data(), standard.List().size() * sizeof(HANDLE), nullptr, nullptr)) {
      const DWORD error = GetLastError();
      DeleteProcThreadAttributeList(startup.lpAttributeList);
      return static_cast<int>(error);
    }
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = standard.Get(0);
    startup.StartupInfo.hStdOutput = standard.Get(1);
    startup.StartupInfo.hStdError = standard.Get(2);
  }
  std::string line(commandLine);
  PROCESS_INFORMATION started{};
  const BOOL ok =
      CreateProcessA(file.c_str(), line.data(), nullptr, nullptr, inherit, inherit ? EXTENDED_STARTUPINFO_PRESENT : 0,
                     nullptr, nullptr, &startup.StartupInfo, &started);
  const DWORD error = ok ? 0 : GetLastError();
  if (inherit) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!ok) return static_cast<int>(error);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  processId = started.dwProcessId;
  return 0;
}

// The system's own wait returns at once for a console program; the window
// check below covers both kinds.
bool WaitForInputIdle(std::uint32_t processId, int timeoutMs) {
  const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return !ProcessWindows(processId).empty();
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
  ::WaitForInputIdle(process, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
  bool hasWindow = false;
  for (;;) {
    if (!ProcessWindows(processId).empty()) {
      hasWindow = true;
      break;
    }
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || GetTickCount64() >= deadline) break;
    Sleep(10);
  }
  CloseHandle(process);
  return hasWindow;
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
