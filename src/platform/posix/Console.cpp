#include "platform/Console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {

namespace {

std::atomic<bool> gStopSignal{false};

void OnStopSignal(int) { gStopSignal.store(true, std::memory_order_relaxed); }

int Descriptor(StandardStream stream) { return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO; }

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

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalReceived() { return gStopSignal.load(std::memory_order_relaxed); }

}  // namespace platform
