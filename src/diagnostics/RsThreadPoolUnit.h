// A pool of worker threads fed through one mailbox; counts the work still
// pending and stops its workers in an orderly way.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/Object.h"
#include "diagnostics/RsWorkObjUnit.h"
#include "diagnostics/RsWorkThreadUnit.h"

class TRsThreadPool : public TObject {
 public:
  using TAllThreadsEndedEvent = std::function<void(TRsThreadPool& pool)>;

  explicit TRsThreadPool(int threadCount, TRsWorkThreadFactory threadClass = DefaultWorkThreadFactory());
  // Shutdown with 5 minutes unless the pool has finished already.
  ~TRsThreadPool() override;

  // The pool holds the work until it calls the work's OnDone. Any thread.
  void AddWork(std::unique_ptr<TRsWorkObject> work);
  // Waits until at most threshold work objects are pending. At the deadline
  // (minutes; negative: 15) the pending count is forgotten; with grow the
  // pool then wants one worker more and the result is true.
  bool WaitForPending(int minutes, int threshold, bool grow);
  bool WaitUntilIdle(int minutes, bool grow) { return WaitForPending(minutes, 0, grow); }
  // Frees the queued work without its callbacks and tells every worker to
  // stop. The callback runs on the last worker under the pool's lock: it must
  // not call into the pool.
  void StopThreads(TAllThreadsEndedEvent onAllThreadsEnded);
  // Waits for the work (minutes), stops the workers and waits up to 6 seconds
  // for them to end.
  void Shutdown(int minutes);
  void SetFinished(TRsThreadPool& pool);

  bool Finished() const;
  int ThreadCount() const;
  int WantedCount() const;
  std::int64_t Pending() const;
  // The length of a minute for the deadlines of WaitForPending (tests shorten it).
  void SetMinuteLength(std::chrono::milliseconds minute) { FMinute = minute; }

 private:
  struct Shared;
  static void WorkDone(const std::shared_ptr<Shared>& shared, TRsWorkObject* work);
  void StartWorker();

  // What the workers use lives on until the last of them has ended, also
  // when one outlives the pool.
  std::shared_ptr<Shared> FShared;
  std::chrono::milliseconds FMinute{60000};
};
