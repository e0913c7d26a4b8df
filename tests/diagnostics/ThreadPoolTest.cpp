#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "base/Exception.h"
#include "diagnostics/RsThreadPoolUnit.h"
#include "platform/Thread.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// A gate that work objects wait at until it opens.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FOpen = true;
    }
    FChanged.notify_all();
  }
  void Pass() {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return FOpen; });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FOpen = false;
};

// What the work objects of a test did, in order.
struct Journal {
  std::mutex lock;
  std::vector<std::string> events;
  std::vector<std::string> errors;
  std::vector<TRsWorkThread*> threads;
  std::atomic<int> freed{0};
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> l(lock);
    events.push_back(e);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> l(lock);
    return events;
  }
};

class Work : public TRsWorkObject {
 public:
  enum class Kind { kNormal, kRaise, kRaiseOther, kWaitAtGate };
  Work(Journal& journal, std::string name, Kind kind = Kind::kNormal, Gate* gate = nullptr)
      : TRsWorkObject([&journal](TRsWorkObject* w) {
          auto* self = static_cast<Work*>(w);
          {
            std::lock_guard<std::mutex> l(journal.lock);
            journal.events.push_back("done " + self->FName);
            journal.errors.push_back(self->ErrorText);
            journal.threads.push_back(self->Thread);
          }
          std::unique_ptr<TRsWorkObject> owned(w);
        }),
        FJournal(journal),
        FName(std::move(name)),
        FKind(kind),
        FGate(gate) {}
  ~Work() override { ++FJournal.freed; }
  void Execute() override {
    FJournal.Add("run " + FName);
    Priority = platform::CurrentThreadPriorityStep();
    if (FKind == Kind::kWaitAtGate) FGate->Pass();
    if (FKind == Kind::kRaise) throw EFOpenError("x");
    if (FKind == Kind::kRaiseOther) throw std::runtime_error("not ours");
  }
  static inline std::atomic<int> Priority{0};

 private:
  Journal& FJournal;
  std::string FName;
  Kind FKind;
  Gate* FGate;
};

bool WaitFor(const std::function<bool()>& condition, int ms = 5000) {
  for (int i = 0; i < ms / 5; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return condition();
}

}  // namespace

TEST(ThreadPool, OneWorkerRunsWorkInOrderAndRecordsErrors) {
  Journal j;
  {
    TRsThreadPool pool(1);
    pool.AddWork(std::make_unique<Work>(j, "A"));
    pool.AddWork(std::make_unique<Work>(j, "B", Work::Kind::kRaise));
    pool.AddWork(std::make_unique<Work>(j, "C"));
    EXPECT_FALSE(pool.WaitUntilIdle(1, false));
    EXPECT_EQ(pool.Pending(), 0);
  }
  EXPECT_EQ(j.Events(), (std::vector<std::string>{"run A", "done A", "run B", "done B", "run C", "done C"}));
  EXPECT_EQ(j.errors, (std::vector<std::string>{"", "EFOpenError:x", ""}));
  ASSERT_EQ(j.threads.size(), 3u);
  EXPECT_NE(j.threads[0], nullptr);
  EXPECT_EQ(j.threads[0], j.threads[1]);
  EXPECT_EQ(j.threads[1], j.threads[2]);
  EXPECT_EQ(j.freed, 3);
}

TEST(ThreadPool, WorkersRunBelowNormalPriority) {
  Journal j;
  TRsThreadPool pool(1);
  const int before = platform::CurrentThreadPriorityStep();
  pool.AddWork(std::make_unique<Work>(j, "A"));
  pool.WaitUntilIdle(1, false);
  EXPECT_EQ(before, 0);
  EXPECT_EQ(Work::Priority, -1);
}

TEST(ThreadPool, AForeignExceptionEndsTheWorkerAndTheNextAddWorkReplacesIt) {
  Journal j;
  TRsThreadPool pool(1);
  pool.AddWork(std::make_unique<Work>(j, "A", Work::Kind::kRaiseOther));
  ASSERT_TRUE(WaitFor([&] { return pool.ThreadCount() == 0; }));
  EXPECT_EQ(j.Events(), (std::vector<std::string>{"run A", "done A"}));  // reported done before the end
  pool.AddWork(std::make_unique<Work>(j, "B"));
  EXPECT_EQ(pool.ThreadCount(), 1);
  pool.WaitUntilIdle(1, false);
  EXPECT_EQ(j.Events().back(), "done B");
}

TEST(ThreadPool, WaitForPendingReturnsAtOnceAtTheThreshold) {
  Journal j;
  Gate gate;
  TRsThreadPool pool(1);
  const auto start = Clock::now();
  EXPECT_FALSE(pool.WaitForPending(-1, 0, true));
  pool.AddWork(std::make_unique<Work>(j, "A", Work::Kind::kWaitAtGate, &gate));
  EXPECT_FALSE(pool.WaitForPending(-1, 1, true));  // one pending, threshold one
  EXPECT_LT(Clock::now() - start, milliseconds(500));
  gate.Open();
}

TEST(ThreadPool, WaitForPendingAtItsDeadlineForgetsThePendingWorkAndGrows) {
  Journal j;
  Gate gate;
  TRsThreadPool pool(1);
  pool.SetMinuteLength(milliseconds(100));
  pool.AddWork(std::make_unique<Work>(j, "stuck", Work::Kind::kWaitAtGate, &gate));
  const auto start = Clock::now();
  EXPECT_TRUE(pool.WaitForPending(1, 0, true));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, milliseconds(100));
  EXPECT_LT(waited, milliseconds(1000));  // the 200 ms progress waits
  EXPECT_EQ(pool.Pending(), 0);
  EXPECT_EQ(pool.WantedCount(), 2);
  EXPECT_EQ(pool.ThreadCount(), 1);
  // The next work starts a second worker, which runs it beside the stuck one.
  pool.AddWork(std::make_unique<Work>(j, "B"));
  EXPECT_EQ(pool.ThreadCount(), 2);
  ASSERT_TRUE(WaitFor([&] { return j.Events().size() >= 3; }));
  EXPECT_EQ(j.Events()[2], "done B");
  EXPECT_FALSE(pool.WaitForPending(1, 0, false));  // without grow: false, wanted count kept
  gate.Open();
}

TEST(ThreadPool, StopThreadsFreesQueuedWorkWithoutItsCallbacks) {
  Journal j;
  Gate gate;
  std::atomic<int> ended{0};
  {
    TRsThreadPool pool(1);
    pool.AddWork(std::make_unique<Work>(j, "running", Work::Kind::kWaitAtGate, &gate));
    ASSERT_TRUE(WaitFor([&] { return !j.Events().empty(); }));
    for (const char* name : {"q1", "q2", "q3"}) pool.AddWork(std::make_unique<Work>(j, name));
    pool.StopThreads([&](TRsThreadPool&) { ++ended; });
    EXPECT_EQ(j.freed, 3);
    gate.Open();
    ASSERT_TRUE(WaitFor([&] { return ended == 1; }));
    EXPECT_EQ(pool.ThreadCount(), 0);
    pool.SetFinished(pool);
  }
  EXPECT_EQ(j.Events(), (std::vector<std::string>{"run running", "done running"}));
  EXPECT_EQ(j.freed, 4);
}

TEST(ThreadPool, ShutdownOfAnIdlePoolIsQuick) {
  const auto start = Clock::now();
  {
    TRsThreadPool pool(3);
    pool.Shutdown(1);
    EXPECT_TRUE(pool.Finished());
    EXPECT_EQ(pool.ThreadCount(), 0);
  }
  { TRsThreadPool destroyedAtOnce(2); }
  EXPECT_LT(Clock::now() - start, milliseconds(1500));
}

TEST(ThreadPool, ZeroThreadsRunNothing) {
  Journal j;
  const auto start = Clock::now();
  {
    TRsThreadPool pool(0);
    pool.SetMinuteLength(milliseconds(10));
    pool.AddWork(std::make_unique<Work>(j, "A"));
    EXPECT_EQ(pool.ThreadCount(), 0);
    EXPECT_EQ(pool.Pending(), 1);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_TRUE(j.Events().empty());
  }  // the queued work is freed, not run
  EXPECT_TRUE(j.Events().empty());
  EXPECT_EQ(j.freed, 1);
  EXPECT_LT(Clock::now() - start, milliseconds(1500));
}

TEST(ThreadPool, AWorkerThatOutlivesThePoolTouchesNothingFreed) {
  Journal j;
  Gate gate;
  const auto start = Clock::now();
  {
    TRsThreadPool pool(1);
    pool.SetMinuteLength(milliseconds(10));
    pool.AddWork(std::make_unique<Work>(j, "slow", Work::Kind::kWaitAtGate, &gate));
    ASSERT_TRUE(WaitFor([&] { return !j.Events().empty(); }));
  }  // 50 ms for the work, 6 s for the worker, then freed while it still runs
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(6));
  EXPECT_LT(waited, std::chrono::milliseconds(7500));
  gate.Open();
  ASSERT_TRUE(WaitFor([&] { return j.freed == 1; }));
  EXPECT_EQ(j.Events().back(), "done slow");
}
