#include "diagnostics/RsThreadPoolUnit.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "diagnostics/RsClasses.h"
#include "platform/Thread.h"

namespace {

constexpr std::int64_t kMaxPending = 100000000;
constexpr int kProgressWaitMs = 200;
constexpr auto kWorkerEndLimit = std::chrono::seconds(6);
constexpr auto kWorkerEndPoll = std::chrono::milliseconds(100);

}  // namespace

struct TRsThreadPool::Shared {
  TRsThreadPool* pool = nullptr;  // cleared when the pool is freed
  TRsWorkThreadFactory threadClass;
  std::shared_ptr<TsemaphoreMailbox> queue = std::make_shared<TsemaphoreMailbox>();
  std::mutex lock;  // guards the changes of threadCount and the end callback
  std::atomic<int> threadCount{0};
  std::atomic<int> wantedCount{0};
  TRsAtomicCounter pending{kMaxPending};
  std::atomic<bool> finished{false};
  platform::AutoResetEvent progress;
  TAllThreadsEndedEvent onAllThreadsEnded;
};

TRsThreadPool::TRsThreadPool(int threadCount, TRsWorkThreadFactory threadClass) : FShared(std::make_shared<Shared>()) {
  FShared->pool = this;
  FShared->threadClass = std::move(threadClass);
  FShared->threadCount = threadCount;
  FShared->wantedCount = threadCount;
  for (int i = 0; i < threadCount; ++i) StartWorker();
}

TRsThreadPool::~TRsThreadPool() {
  if (!FShared->finished) Shutdown(5);
  std::lock_guard<std::mutex> lock(FShared->lock);
  FShared->pool = nullptr;
  // A late worker's end no longer reaches this object.
  FShared->onAllThreadsEnded = nullptr;
}

void TRsThreadPool::StartWorker() {
  std::shared_ptr<Shared> shared = FShared;
  TRsWorkThread::Start(FShared->threadClass(FShared->queue, [shared](TRsWorkObject* work) { WorkDone(shared, work); }));
}

void TRsThreadPool::AddWork(std::unique_ptr<TRsWorkObject> work) {
  {
    std::lock_guard<std::mutex> lock(FShared->lock);
    if (FShared->threadCount < FShared->wantedCount) {
      StartWorker();
      ++FShared->threadCount;
    }
  }
  if (FShared->threadCount > FShared->wantedCount) FShared->queue->Post(nullptr);  // one worker will end
  FShared->pending.Increment();
  FShared->queue->Post(work.release());
}

void TRsThreadPool::WorkDone(const std::shared_ptr<Shared>& shared, TRsWorkObject* work) {
  if (work) {
    work->OnDone(work);  // from here on the work object is not touched
    shared->pending.Decrement(0);
    shared->progress.Set();
    return;
  }
  // Called under the lock, so that the pool cannot be freed meanwhile.
  std::lock_guard<std::mutex> lock(shared->lock);
  if (--shared->threadCount == 0 && shared->onAllThreadsEnded && shared->pool) shared->onAllThreadsEnded(*shared->pool);
}

bool TRsThreadPool::WaitForPending(int minutes, int threshold, bool grow) {
  if (minutes < 0) minutes = 15;
  // A steady clock: a change of the wall clock neither ends the wait early
  // nor makes it longer.
  const auto deadline = std::chrono::steady_clock::now() + FMinute * minutes;
  FShared->progress.Reset();
  for (;;) {
    if (FShared->pending.Value() <= threshold) return false;
    if (std::chrono::steady_clock::now() > deadline) {
      FShared->pending.Reset();
      if (!grow) return false;
      ++FShared->wantedCount;
      return true;
    }
    FShared->progress.Wait(kProgressWaitMs);
  }
}

void TRsThreadPool::StopThreads(TAllThreadsEndedEvent onAllThreadsEnded) {
  {
    std::lock_guard<std::mutex> lock(FShared->lock);
    FShared->onAllThreadsEnded = std::move(onAllThreadsEnded);
  }
  TObject* item = nullptr;
  while (FShared->queue->Receive(item, 0)) std::unique_ptr<TObject> discarded(item);
  for (int i = FShared->threadCount; i > 0; --i) FShared->queue->Post(nullptr);
}

void TRsThreadPool::Shutdown(int minutes) {
  WaitUntilIdle(minutes, false);
  StopThreads([](TRsThreadPool& pool) { pool.SetFinished(pool); });
  // Without live workers nobody would report an end: there is nothing to wait for.
  if (FShared->threadCount <= 0) FShared->finished = true;
  const auto start = std::chrono::steady_clock::now();
  while (!FShared->finished) {
    std::this_thread::sleep_for(kWorkerEndPoll);
    if (std::chrono::steady_clock::now() - start > kWorkerEndLimit) break;
  }
}

void TRsThreadPool::SetFinished(TRsThreadPool&) { FShared->finished = true; }

bool TRsThreadPool::Finished() const { return FShared->finished; }
int TRsThreadPool::ThreadCount() const { return FShared->threadCount; }
int TRsThreadPool::WantedCount() const { return FShared->wantedCount; }
std::int64_t TRsThreadPool::Pending() const { return FShared->pending.Value(); }
