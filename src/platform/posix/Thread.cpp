#include "platform/Thread.h"

#include <semaphore.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>

namespace platform {

struct Semaphore::State {
  sem_t semaphore;
  bool valid = false;
  unsigned maximum = 0;
};

Semaphore::Semaphore(unsigned maximum) : FState(std::make_unique<State>()) {
  FState->maximum = maximum;
  FState->valid = sem_init(&FState->semaphore, 0, 0) == 0;
}

Semaphore::~Semaphore() {
  if (FState->valid) sem_destroy(&FState->semaphore);
}

bool Semaphore::Valid() const { return FState->valid; }

bool Semaphore::Release() {
  if (!FState->valid) return false;
  int value = 0;
  // The check and the post are not one step; the maximum is far beyond any
  // count the system reaches, so a small overshoot does no harm.
  if (sem_getvalue(&FState->semaphore, &value) == 0 && static_cast<unsigned>(value) >= FState->maximum) return false;
  return sem_post(&FState->semaphore) == 0;
}

Semaphore::WaitResult Semaphore::Wait(int timeoutMs) {
  if (!FState->valid) return WaitResult::kFailed;
  int r;
  if (timeoutMs < 0) {
    r = sem_wait(&FState->semaphore);
  } else if (timeoutMs == 0) {
    r = sem_trywait(&FState->semaphore);
    if (r != 0 && errno == EAGAIN) return WaitResult::kTimeout;
  } else {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    r = sem_clockwait(&FState->semaphore, CLOCK_MONOTONIC, &deadline);
  }
  if (r == 0) return WaitResult::kAcquired;
  if (errno == EINTR) return WaitResult::kInterrupted;
  if (errno == ETIMEDOUT) return WaitResult::kTimeout;
  return WaitResult::kFailed;
}

struct AutoResetEvent::State {
  std::mutex lock;
  std::condition_variable changed;
  bool signalled = false;
};

AutoResetEvent::AutoResetEvent() : FState(std::make_unique<State>()) {}
AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(FState->lock);
    FState->signalled = true;
  }
  FState->changed.notify_one();
}

void AutoResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(FState->lock);
  FState->signalled = false;
}

bool AutoResetEvent::Wait(int timeoutMs) {
  std::unique_lock<std::mutex> lock(FState->lock);
  if (!FState->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FState->signalled; }))
    return false;
  FState->signalled = false;
  return true;
}

void LowerCurrentThreadPriority() {
  // On Linux the nice value belongs to the thread (its id as the "process").
  const id_t self = static_cast<id_t>(gettid());
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, self);
  if (nice == -1 && errno != 0) return;
  setpriority(PRIO_PROCESS, self, nice + 1);
}

int CurrentThreadPriorityStep() {
  errno = 0;
  const int thread = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  const int process = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  return process - thread;
}

}  // namespace platform
