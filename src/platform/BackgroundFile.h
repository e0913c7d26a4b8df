// Reading and writing a file on a thread of its own, so that the caller
// works on one block while the system copies the next: blocks are read or
// written in order, one at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

#include "platform/File.h"

namespace platform {

class BackgroundJob;

// Writes blocks behind the caller.
class WriteBehind {
 public:
  // After every flushEvery bytes written the file is flushed (File::Flush)
  // on a thread of its own while the writing goes on, unless the flush
  // before still runs: the disk takes the file in parts while it is made,
  // and the caller's last flush waits only for the tail. 0 never flushes.
  explicit WriteBehind(File& file, std::size_t flushEvery = 0);
  // Waits for the block being written and the flush.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Waits for the block before, then starts writing this one and returns.
  // The bytes must stay unchanged until the next Write or Wait returns.
  // Returns the error of an earlier block or flush (then nothing more is
  // written), else 0.
  int Write(const void* data, std::size_t count);
  // Waits for the block being written and the flush; the error of any
  // block or flush, else 0. A flush's error is kept here because the
  // system may report it only once.
  int Wait();

 private:
  File& FFile;
  const std::size_t FFlushEvery;
  std::size_t FUnflushed = 0;
  int FError = 0;
  std::atomic<int> FFlushError{0};
  // The writing ends before the flush, which the writing's thread starts.
  std::unique_ptr<BackgroundJob> FFlush, FJob;
};

// Reads the next block ahead of the caller.
class ReadAhead {
 public:
  explicit ReadAhead(File& file);
  // Waits for the block being read.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Starts reading up to count bytes into buffer (as File::Read) and
  // returns; the buffer must stay until Finish returns. After a read that
  // succeeds, then (if any) is called on the reading thread with the number
  // of bytes read.
  void Start(void* buffer, std::size_t count, std::function<void(std::size_t got)> then = {});
  // Waits for the read that Start began: its error, else 0, and the number
  // of bytes read in got (0 at the end of the file).
  int Finish(std::size_t& got);

 private:
  File& FFile;
  std::size_t FGot = 0;
  int FError = 0;
  std::unique_ptr<BackgroundJob> FJob;
};

// Closes files behind the caller, one at a time: whatever the system does
// at a file's last close (giving a removed file's blocks back, which on a
// disk mounted with discard waits for the device) overlaps the caller's
// next task.
class CloseBehind {
 public:
  CloseBehind();
  // Waits for the file being closed.
  ~CloseBehind();
  CloseBehind(const CloseBehind&) = delete;
  CloseBehind& operator=(const CloseBehind&) = delete;

  // Waits for the file before, then starts closing this one and returns.
  // A failed close is not reported: it is for files that are done with.
  void Close(File file);

 private:
  // The job alone touches the file until the next Close; it goes after the
  // job, which ends first.
  File FFile;
  std::unique_ptr<BackgroundJob> FJob;
};

}  // namespace platform
