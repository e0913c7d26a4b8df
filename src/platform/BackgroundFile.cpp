#include "platform/BackgroundFile.h"

#include "platform/BackgroundJob.h"

namespace platform {

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

void ReadAhead::Start(void* buffer, std::size_t count, std::optional<std::uint64_t> dropFrom, std::uint64_t at) {
  FJob->Start([this, buffer, count, dropFrom, at] {
    FError = FFile.Read(buffer, count, FGot);
    // Only a hint: a failure changes nothing that was read.
    if (FError == 0 && dropFrom && FGot > 0) FFile.DropCached(*dropFrom, at + FGot - *dropFrom);
  });
}

int ReadAhead::Finish(std::size_t& got) {
  FJob->Wait();
  got = FError == 0 ? FGot : 0;
  return FError;
}

}  // namespace platform
