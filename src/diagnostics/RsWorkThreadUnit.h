// A worker thread: takes work objects from a mailbox and runs them one after
// the other, one step below normal priority, until it receives null.
#pragma once

#include <functional>
#include <memory>

#include "diagnostics/RsWorkObjUnit.h"
#include "diagnostics/SimplePCQueue.h"

class TRsWorkThread {
 public:
  // Called after every work object, and once with null when the worker ends.
  using TWorkDoneEvent = std::function<void(TRsWorkObject* work)>;

  TRsWorkThread(std::shared_ptr<TsemaphoreMailbox> queue, TWorkDoneEvent onWorkDone);
  virtual ~TRsWorkThread() = default;
  TRsWorkThread(const TRsWorkThread&) = delete;
  TRsWorkThread& operator=(const TRsWorkThread&) = delete;

  // Prepares the worker on the calling thread, then starts it. The worker
  // owns itself from here on and is freed when its body returns.
  static void Start(std::unique_ptr<TRsWorkThread> worker);

 protected:
  virtual void Execute();
  virtual void Prepare() {}
  virtual void Finish() {}

 private:
  // Keeps the mailbox alive as long as the worker may wait on it.
  std::shared_ptr<TsemaphoreMailbox> FQueue;
  TWorkDoneEvent OnWorkDone;
};

// Creates a worker of a chosen class for a pool.
using TRsWorkThreadFactory = std::function<std::unique_ptr<TRsWorkThread>(std::shared_ptr<TsemaphoreMailbox> queue,
                                                                          TRsWorkThread::TWorkDoneEvent onWorkDone)>;
TRsWorkThreadFactory DefaultWorkThreadFactory();
