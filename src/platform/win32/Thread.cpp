#include "platform/Thread.h"

#include <windows.h>

#include <climits>
#include <iterator>

// An asynchronous procedure call queued to a waiting thread is what a signal
// handled on it is on POSIX: the semaphore's wait is alertable and ends with
// kInterrupted when one runs.

namespace platform {

namespace {

DWORD Milliseconds(int timeoutMs) { return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs); }

// The priorities a thread can have, lowest first; one step is one place.
constexpr int kPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,       THREAD_PRIORITY_BELOW_NORMAL,
                               THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                               THREAD_PRIORITY_TIME_CRITICAL};
constexpr int kNormalPlace = 3;

int Place(int priority) {
  int place = 0;
  for (int i = 0; i < static_cast<int>(std::size(kPriorities)); ++i)
    if (kPriorities[i] <= priority) place = i;
  return place;
}

}  // namespace

struct Semaphore::State {
  HANDLE handle = nullptr;
};

Semaphore::Semaphore(unsigned maximum) : FState(std::make_unique<State>()) {
  if (maximum > 0 && maximum <= static_cast<unsigned>(LONG_MAX))
    FState->handle = CreateSemaphoreW(nullptr, 0, static_cast<LONG>(maximum), nullptr);
}

Semaphore::~Semaphore() {
  if (FState->handle) CloseHandle(FState->handle);
}

bool Semaphore::Valid() const { return FState->handle != nullptr; }

bool Semaphore::Release() { return FState->handle && ReleaseSemaphore(FState->handle, 1, nullptr); }

Semaphore::WaitResult Semaphore::Wait(int timeoutMs) {
  if (!FState->handle) return WaitResult::kFailed;
  switch (WaitForSingleObjectEx(FState->handle, Milliseconds(timeoutMs), TRUE)) {
    case WAIT_OBJECT_0:
      return WaitResult::kAcquired;
    case WAIT_TIMEOUT:
      return WaitResult::kTimeout;
    case WAIT_IO_COMPLETION:
      return WaitResult::kInterrupted;
    default:
      return WaitResult::kFailed;
  }
}

struct AutoResetEvent::State {
  HANDLE handle = nullptr;
};

AutoResetEvent::AutoResetEvent() : FState(std::make_unique<State>()) {
  FState->handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

AutoResetEvent::~AutoResetEvent() {
  if (FState->handle) CloseHandle(FState->handle);
}

void AutoResetEvent::Set() {
  if (FState->handle) SetEvent(FState->handle);
}

void AutoResetEvent::Reset() {
  if (FState->handle) ResetEvent(FState->handle);
}

// A negative time-out only looks, as on the other platforms.
bool AutoResetEvent::Wait(int timeoutMs) {
  return FState->handle &&
         WaitForSingleObject(FState->handle, timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

void LowerCurrentThreadPriority() {
  const int priority = GetThreadPriority(GetCurrentThread());
  if (priority == THREAD_PRIORITY_ERROR_RETURN) return;
  const int place = Place(priority);
  if (place > 0) SetThreadPriority(GetCurrentThread(), kPriorities[place - 1]);
}

int CurrentThreadPriorityStep() {
  const int priority = GetThreadPriority(GetCurrentThread());
  return priority == THREAD_PRIORITY_ERROR_RETURN ? 0 : Place(priority) - kNormalPlace;
}

}  // namespace platform
