// Processes and threads of a test, the same on every platform: the test's own
// ids, child processes started, watched and ended, interrupting a thread's
// wait, and the dispatcher named in the registry the client reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct IsolatedRuntime;

// A program built with the tests, by its name without ".exe": in the folder
// KV_BIN_DIR names, else (POSIX) beside the running test program.
std::string BuiltProgram(const std::string& name);

// The ids as the operating system reports them (not through the platform
// layer under test).
std::uint32_t OsProcessId();
std::uint32_t OsThreadId();

// A process of the test, watched from its start (or from adoption) to its
// end, which is not missed however early it comes; stopped when destroyed.
class TestProcess {
 public:
  TestProcess() = default;
  // Watches a process that is already running (a child of the test).
  explicit TestProcess(std::uint32_t processId);
  // Starts args[0] with the other arguments; standard error goes to
  // errorFile when it is given. Not running when the start failed.
  TestProcess(const std::vector<std::string>& args, const std::string& errorFile);
  ~TestProcess() { Stop(); }
  TestProcess(const TestProcess&) = delete;
  TestProcess& operator=(const TestProcess&) = delete;

  std::uint32_t Id() const { return FId; }
  // Waits up to ms for the end; the exit status, or -1 when it still runs
  // or did not exit normally.
  int Wait(int ms);
  // Asks the process to end as a user would: POSIX SIGTERM; Windows a
  // WM_CLOSE to each of its windows.
  void RequestEnd();
  // Requests the end, waits up to 5 seconds, then kills the process.
  void Stop();
  // Ends the process at once.
  void Kill();

 private:
  std::uint32_t FId = 0;
  std::intptr_t FHandle = 0;  // Windows: the process handle
  bool FEnded = true;
};

// Whether the process has ended (POSIX: a zombie left to another parent
// counts), waiting up to ms for it.
bool ProcessEnded(std::uint32_t processId, int ms);

// Interrupts the alertable waits of one thread: POSIX a handled SIGUSR1,
// Windows an asynchronous procedure call.
class ThreadInterrupter {
 public:
  ThreadInterrupter();
  ~ThreadInterrupter();
  ThreadInterrupter(const ThreadInterrupter&) = delete;
  ThreadInterrupter& operator=(const ThreadInterrupter&) = delete;

  // Called on the thread to interrupt.
  void Capture();
  void Interrupt();
  // Interruptions that have run.
  static int Delivered();

 private:
  std::intptr_t FThread = 0;
};

// The dispatcher command line in the registry the client reads, for the
// lifetime of the object; no value when commandLine is empty. Afterwards the
// registry names no dispatcher again.
class ScopedDispatcherPath {
 public:
  ScopedDispatcherPath(const IsolatedRuntime& rt, const std::optional<std::string>& commandLine);
  ~ScopedDispatcherPath();
  ScopedDispatcherPath(const ScopedDispatcherPath&) = delete;
  ScopedDispatcherPath& operator=(const ScopedDispatcherPath&) = delete;
};

// Where nothing can be started: what the registry names outside such a scope.
std::string NoDispatcherPath();
// Where the registry is the system's, a key the tests have not seen yet gets
// that path (the file-based registry of the tests names it already).
void NameNoDispatcherInFreshRegistry();

}  // namespace testing_support
