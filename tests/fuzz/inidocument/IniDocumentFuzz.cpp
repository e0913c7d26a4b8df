// The whole configuration document from random bytes: the INI reader and
// TKestrovaIni::Load either load it or say why not, and never crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/KestrovaIniUnit.h"
#include "config/KvIniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string path =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_document_" + std::to_string(getpid()) + ".ini";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  std::string system = path;
  for (char& c : system)
    if (c == '/') c = '\\';
  {
    TKvIniFile file(system);
    static_cast<void>(file);
  }
  TKestrovaIni ini;
  ini.Load(system);
  if (!ini.Valid && ini.ErrorMessage.empty()) std::abort();  // a refusal says why
  if (ini.Valid && !ini.ErrorMessage.empty()) std::abort();
  std::remove(path.c_str());
  return 0;
}
