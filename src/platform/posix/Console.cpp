#include "platform/Console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace platform {

namespace {

std::atomic<int> gStopSignals{0};
// Set before the handler is installed and never changed while it may run.
std::string gNotice;

int Descriptor(StandardStream stream) { return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO; }

void OnStopSignal(int) {
  const int saved = errno;
  if (gStopSignals.fetch_add(1, std::memory_order_relaxed) == 0) {
    // write is safe in a signal handler; nothing else here may allocate.
    const char* data = gNotice.data();
    std::size_t left = gNotice.size();
    while (left > 0) {
      const ssize_t n = write(STDERR_FILENO, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      data += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  errno = saved;
}

}  // namespace

bool IsTerminal(StandardStream stream) { return isatty(Descriptor(stream)) == 1; }

bool WriteStandard(StandardStream stream, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(Descriptor(stream), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool EnableTerminalSequences(StandardStream stream) { return IsTerminal(stream); }

void CatchStopSignals(std::string_view notice) {
  gNotice.assign(notice);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  // Neither interrupts the handler of the other: one notice, one count each.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalReceived() { return StopSignalCount() > 0; }

int StopSignalCount() { return gStopSignals.load(std::memory_order_relaxed); }

}  // namespace platform
