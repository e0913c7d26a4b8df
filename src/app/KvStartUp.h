// The program start all front ends share, before anything else runs: the
// JSON unit's shared values, the TraceSpot client with the log manager's hook
// on it (so the system's errors reach the dispatcher from the first one on),
// the special folders, then the installation paths that rest on them (where
// the configuration is). Ended in reverse order: the log manager disables the
// client and waits for queued lines before the client closes its session.
#pragma once

#include "common/RsJson.h"
#include "common/RsWindowsFolder.h"
#include "config/KvVariants.h"
#include "diagnostics/RsTsIntf.h"
#include "diagnostics/TSIntf.h"

class TKvStartUp {
 public:
  TKvStartUp() {
    // Created together on first use; they go last, at the program's exit.
    SharedNull();
    InitializeTSIntf();
    InitializeRsTsIntf();
    try {
      InitializeWindowsFolders();
      try {
        InitializeKvVariants();
      } catch (...) {
        FinalizeWindowsFolders();
        throw;
      }
    } catch (...) {
      FinalizeDiagnostics();
      throw;
    }
  }
  ~TKvStartUp() {
    FinalizeKvVariants();
    FinalizeWindowsFolders();
    FinalizeDiagnostics();
  }
  TKvStartUp(const TKvStartUp&) = delete;
  TKvStartUp& operator=(const TKvStartUp&) = delete;

 private:
  static void FinalizeDiagnostics() {
    FinalizeRsTsIntf();
    FinalizeTSIntf();
  }
};
