// The producer/consumer queue of the worker threads: an unbounded FIFO of
// object references that it does not own (null is a valid item).
#pragma once

#include <deque>
#include <mutex>

#include "base/Object.h"
#include "platform/Thread.h"

class TsemaphoreMailbox : public TObject {
 public:
  TsemaphoreMailbox();
  // Items still queued are left alone: the mailbox owns none.
  ~TsemaphoreMailbox() override;

  // Never waits but for the short list lock.
  virtual void Post(TObject* item);
  // True when an item was taken; false (item unchanged) after the time-out or
  // when the mailbox cannot count items. -1 waits without limit, 0 polls. A
  // signal handled on the waiting thread restarts the wait with the full time-out.
  virtual bool Receive(TObject*& item, int timeoutMs);

 private:
  std::deque<TObject*> FItems;
  std::mutex FLock;  // guards FItems
  platform::Semaphore FSemaphore{0x7FFFFFFF};
};
