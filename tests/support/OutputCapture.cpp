#include "support/OutputCapture.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>

#include "platform/CodePage.h"
#include "support/TestSupport.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testing_support {

namespace {

constexpr int kLimitMs = 60000;

#ifdef _WIN32
// One argument as the C run-time's command line parser splits it back.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// Reads a pipe to its end; a thread each, so that neither pipe fills up
// while the other is read.
void Drain(HANDLE pipe, std::string& sink) {
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink.append(buffer, n);
  CloseHandle(pipe);
}
#endif

}  // namespace

#ifdef _WIN32

CapturedRun RunCapturingOutput(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workingFolder) {
  CapturedRun result;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inheritable, 0)) return result;
  if (!CreatePipe(&errRead, &errWrite, &inheritable, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return result;
  }
  // Only the child's ends are inherited.
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE input =
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);

  const std::wstring application = Wide(program);
  std::wstring line = Quoted(application);
  for (const std::string& a : args) line += L" " + Quoted(Wide(a));
  const std::wstring folder = Wide(workingFolder);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION started{};
  const bool ok = CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &started);
  // The pipes end when the child's copies of the write ends close.
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  std::thread outReader(Drain, outRead, std::ref(result.out));
  if (ok) {
    CloseHandle(started.hThread);
    if (WaitForSingleObject(started.hProcess, kLimitMs) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(started.hProcess, &code);
      result.status = static_cast<int>(code);
    } else {
      TerminateProcess(started.hProcess, 1);
      WaitForSingleObject(started.hProcess, INFINITE);
    }
    CloseHandle(started.hProcess);
  }
  Drain(errRead, result.err);
  outReader.join();
  return result;
}

#else

bool ReadBothToEnd(int out, int err, std::string& outText, std::string& errText, int limitMs) {
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* sinks[2] = {&outText, &errText};
  int open = 2;
  while (open > 0 && poll(fds, 2, limitMs) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);  // end of a pipe, or EIO once a terminal's slave is closed
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  return open == 0;
}

CapturedRun RunCapturingOutput(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workingFolder) {
  CapturedRun result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int input = open("/dev/null", O_RDONLY);
    if (input < 0 || dup2(input, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(126);
    if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0) _exit(126);
    std::vector<std::string> copy = args;
    std::string path = program;
    std::vector<char*> argv{path.data()};
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (pid <= 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  // Still writing after the limit: stopped.
  if (!ReadBothToEnd(out[0], err[0], result.out, result.err, kLimitMs)) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

#endif

}  // namespace testing_support
