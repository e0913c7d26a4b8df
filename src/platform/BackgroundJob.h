// A thread of the program's own that runs one job at a time: the caller
// hands a job over and goes on, and waits for it when it needs its result.
#pragma once

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

}  // namespace platform
