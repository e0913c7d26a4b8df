// Tests that start processes or register windows get their own runtime folder
// and registry file, so that parallel tests never see each other.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "support/TestSupport.h"

namespace testing_support {

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

// XDG_RUNTIME_DIR and KESTROVA_REGISTRY inside a fresh folder.
struct IsolatedRuntime {
  TempDir Dir;
  ScopedEnv Runtime{"XDG_RUNTIME_DIR", Dir.Native()};
  ScopedEnv Registry{"KESTROVA_REGISTRY", Dir.Native("registry.reg")};
  std::string WindowFolder() const { return Dir.Native("kestrova-windows"); }
};

}  // namespace testing_support
