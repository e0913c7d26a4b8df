// The program start both front ends share: the special folders, then the
// installation paths that rest on them (where the configuration is), worked
// out once before anything runs, and ended in reverse order.
#pragma once

#include "common/RsWindowsFolder.h"
#include "config/KvVariants.h"

class TKvStartUp {
 public:
  TKvStartUp() {
    InitializeWindowsFolders();
    try {
      InitializeKvVariants();
    } catch (...) {
      FinalizeWindowsFolders();
      throw;
    }
  }
  ~TKvStartUp() {
    FinalizeKvVariants();
    FinalizeWindowsFolders();
  }
  TKvStartUp(const TKvStartUp&) = delete;
  TKvStartUp& operator=(const TKvStartUp&) = delete;
};
