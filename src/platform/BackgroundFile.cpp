#include "platform/BackgroundFile.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

// Runs one job at a time on a thread of its own, started with the first job.
// Where no thread can be had, the job runs at once on the caller's thread.
class BackgroundJob {
 public:
  BackgroundJob() = default;
  ~BackgroundJob() {
    {
      std::unique_lock<std::mutex> guard(FLock);
      FChanged.wait(guard, [this] { return !FPending; });
      FStopping = true;
    }
    FChanged.notify_all();
    if (FThread.joinable()) FThread.join();
  }
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;

  // Waits for the job before, then starts this one.
  void Start(std::function<void()> job) {
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait(guard, [this] { return !FPending; });
    if (!FThread.joinable()) {
      try {
        FThread = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        guard.unlock();
        job();
        return;
      }
    }
    FJob = std::move(job);
    FPending = true;
    guard.unlock();
    FChanged.notify_all();
  }

  // No job waits or runs.
  bool Idle() {
    std::lock_guard<std::mutex> guard(FLock);
    return !FPending;
  }

  // Waits for the job started last.
  void Wait() {
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait(guard, [this] { return !FPending; });
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> guard(FLock);
    for (;;) {
      FChanged.wait(guard, [this] { return FPending || FStopping; });
      if (!FPending) return;
      std::function<void()> job = std::move(FJob);
      guard.unlock();
      job();
      guard.lock();
      FPending = false;
      FChanged.notify_all();
    }
  }

  std::mutex FLock;
  std::condition_variable FChanged;
  std::function<void()> FJob;
  bool FPending = false;  // a job waits for the thread or runs
  bool FStopping = false;
  std::thread FThread;
};

WriteBehind::WriteBehind(File& file, std::size_t flushEvery)
    : FFile(file),
      FFlushEvery(flushEvery),
      FFlush(std::make_unique<BackgroundJob>()),
      FJob(std::make_unique<BackgroundJob>()) {}

WriteBehind::~WriteBehind() = default;

int WriteBehind::Write(const void* data, std::size_t count) {
  FJob->Wait();
  if (FError == 0) FError = FFlushError.load();
  if (FError != 0) return FError;
  // The job alone touches the fields it sets until the next Wait.
  FJob->Start([this, data, count] {
    FError = FFile.Write(data, count);
    FUnflushed += count;
    if (FError == 0 && FFlushEvery != 0 && FUnflushed >= FFlushEvery && FFlush->Idle()) {
      FUnflushed = 0;
      FFlush->Start([this] {
        if (int err = FFile.Flush()) FFlushError.store(err);
      });
    }
  });
  return 0;
}

int WriteBehind::Wait() {
  FJob->Wait();
  FFlush->Wait();
  if (FError == 0) FError = FFlushError.load();
  return FError;
}

ReadAhead::ReadAhead(File& file) : FFile(file), FJob(std::make_unique<BackgroundJob>()) {}

ReadAhead::~ReadAhead() = default;

void ReadAhead::Start(void* buffer, std::size_t count, std::function<void(std::size_t got)> then) {
  FJob->Start([this, buffer, count, then = std::move(then)] {
    FError = FFile.Read(buffer, count, FGot);
    if (FError == 0 && then) then(FGot);
  });
}

int ReadAhead::Finish(std::size_t& got) {
  FJob->Wait();
  got = FError == 0 ? FGot : 0;
  return FError;
}

CloseBehind::CloseBehind() : FJob(std::make_unique<BackgroundJob>()) {}

CloseBehind::~CloseBehind() = default;

void CloseBehind::Close(File file) {
  FJob->Wait();
  FFile = std::move(file);
  FJob->Start([this] { static_cast<void>(FFile.Close()); });
}

}  // namespace platform
