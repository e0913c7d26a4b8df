// One unit of work for the worker threads of a thread pool.
#pragma once

#include <functional>
#include <string>

#include "base/Object.h"

class TRsWorkThread;
class TRsWorkObject;

// Decides the work object's fate once it has run (for example frees it).
using TRsWorkDoneEvent = std::function<void(TRsWorkObject* work)>;

class TRsWorkObject : public TObject {
 public:
  explicit TRsWorkObject(TRsWorkDoneEvent onDone) : OnDone(std::move(onDone)) {}
  virtual void Execute() = 0;

  TRsWorkThread* Thread = nullptr;  // the worker that runs or last ran it
  TRsWorkDoneEvent OnDone;          // required: the pool calls it untested
  bool Flag = false;                // cleared before each run, for the object's own use
  std::string ErrorText;            // "ClassName:message" after a run that raised
};
