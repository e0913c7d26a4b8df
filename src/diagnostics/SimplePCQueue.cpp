#include "diagnostics/SimplePCQueue.h"

TsemaphoreMailbox::TsemaphoreMailbox() = default;
TsemaphoreMailbox::~TsemaphoreMailbox() = default;

void TsemaphoreMailbox::Post(TObject* item) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FItems.push_back(item);
  }
  // Released after the item is in the list, so whoever passes the semaphore
  // finds one. A release beyond the maximum leaves the item unannounced.
  FSemaphore.Release();
}

bool TsemaphoreMailbox::Receive(TObject*& item, int timeoutMs) {
  platform::Semaphore::WaitResult r;
  do {
    r = FSemaphore.Wait(timeoutMs);
  } while (r == platform::Semaphore::WaitResult::kInterrupted);
  if (r != platform::Semaphore::WaitResult::kAcquired) return false;
  std::lock_guard<std::mutex> lock(FLock);
  item = FItems.front();
  FItems.pop_front();
  return true;
}
