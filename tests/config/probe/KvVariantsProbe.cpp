// Runs the program start-up of the installation paths and prints them, so
// that a test can start it in a controlled environment.
#include <cstdio>

#include "base/Exception.h"
#include "common/RsWindowsFolder.h"
#include "config/KvVariants.h"

int main() {
  try {
    InitializeWindowsFolders();
    InitializeKvVariants();
  } catch (const Exception& e) {
    std::printf("error=%s\n", e.Message().c_str());
    return 1;
  }
  const struct {
    const char* name;
    const std::string& value;
  } vars[] = {{"ExeFolder", ExeFolder},
              {"InstallFolder", InstallFolder},
              {"InstallBinFolder", InstallBinFolder},
              {"WorkTempFolder", WorkTempFolder},
              {"TempDataFolder", TempDataFolder},
              {"DataFolder", DataFolder},
              {"ProfilesFolderPattern", ProfilesFolderPattern},
              {"IniFileName", IniFileName},
              {"ComputerName", ComputerName}};
  for (const auto& v : vars) std::printf("%s=%s\n", v.name, v.value.c_str());
  FinalizeKvVariants();
  FinalizeWindowsFolders();
  return 0;
}
