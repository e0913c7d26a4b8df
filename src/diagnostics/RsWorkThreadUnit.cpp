#include "diagnostics/RsWorkThreadUnit.h"

#include <thread>

#include "base/Exception.h"
#include "platform/Thread.h"

TRsWorkThread::TRsWorkThread(std::shared_ptr<TsemaphoreMailbox> queue, TWorkDoneEvent onWorkDone)
    : FQueue(std::move(queue)), OnWorkDone(std::move(onWorkDone)) {}

void TRsWorkThread::Start(std::unique_ptr<TRsWorkThread> worker) {
  worker->Prepare();
  std::thread([self = std::move(worker)]() mutable {
    platform::LowerCurrentThreadPriority();
    try {
      self->Execute();
    } catch (...) {
      // The worker has reported its end; the exception ends only this thread.
    }
    self.reset();
  }).detach();
}

void TRsWorkThread::Execute() {
  struct EndReport {
    TRsWorkThread& worker;
    // Also when an exception of another kind leaves the loop.
    ~EndReport() {
      worker.Finish();
      if (worker.OnWorkDone) worker.OnWorkDone(nullptr);
    }
  } report{*this};
  for (;;) {
    TObject* item = nullptr;
    // A wait that fails (a mailbox that cannot count) ends the worker rather
    // than spinning or running an old item again.
    if (!FQueue->Receive(item, -1) || item == nullptr) break;
    auto* work = static_cast<TRsWorkObject*>(item);
    work->Thread = this;
    work->ErrorText.clear();
    work->Flag = false;
    try {
      work->Execute();
    } catch (const Exception& e) {
      work->ErrorText = std::string(e.ClassName()) + ":" + e.Message();
    } catch (...) {
      if (OnWorkDone) OnWorkDone(work);
      throw;
    }
    if (OnWorkDone) OnWorkDone(work);
  }
}

TRsWorkThreadFactory DefaultWorkThreadFactory() {
  return [](std::shared_ptr<TsemaphoreMailbox> queue, TRsWorkThread::TWorkDoneEvent onWorkDone) {
    return std::make_unique<TRsWorkThread>(std::move(queue), std::move(onWorkDone));
  };
}
