// Thread services the standard library lacks: a counting semaphore whose wait
// a signal interrupts (the counterpart of an alertable wait), an auto-reset
// event, and the priority of the calling thread.
#pragma once

#include <memory>

namespace platform {

class Semaphore {
 public:
  enum class WaitResult { kAcquired, kTimeout, kInterrupted, kFailed };

  // Initial count 0; the count cannot pass maximum.
  explicit Semaphore(unsigned maximum);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // False when the semaphore could not be created; then every wait fails.
  bool Valid() const;
  // Raises the count by one; false when it would pass the maximum.
  bool Release();
  // timeoutMs -1 waits without limit, 0 polls. A signal handled on the thread
  // (Windows: an asynchronous procedure call run on it) ends the wait with
  // kInterrupted.
  WaitResult Wait(int timeoutMs);

 private:
  struct State;
  std::unique_ptr<State> FState;
};

// Signalled by Set; a wait that returns true resets it.
class AutoResetEvent {
 public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Set();
  void Reset();
  // True when the event was signalled within timeoutMs.
  bool Wait(int timeoutMs);

 private:
  struct State;
  std::unique_ptr<State> FState;
};

// Lowers the calling thread's scheduling priority by one step.
void LowerCurrentThreadPriority();
// The calling thread's priority step relative to the process (0 = normal, -1 = one step below).
int CurrentThreadPriorityStep();

}  // namespace platform
