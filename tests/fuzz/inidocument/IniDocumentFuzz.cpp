// The whole configuration document from random bytes: the INI reader and
// TKestrovaIni::Load either load it or say why not, and never crash; a
// document that loads prints as a document that loads to the same values.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/KestrovaIniUnit.h"
#include "config/KvIniFile.h"
#include "config/KvIniPrinter.h"
#include "config/KvVariants.h"

namespace {

std::string SystemPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

void WriteBytes(const std::string& path, const void* data, std::size_t size) {
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = std::string(tmp && *tmp ? tmp : "/tmp");
  const std::string path = folder + "/fuzz_document_" + std::to_string(getpid()) + ".ini";
  // The folders that loading creates go below the output folder.
  DataFolder = SystemPath(folder) + "\\data\\";
  WriteBytes(path, data, size);
  {
    TKvIniFile file(SystemPath(path));
    static_cast<void>(file);
  }
  TKestrovaIni ini;
  ini.Load(SystemPath(path));
  if (!ini.Valid && ini.ErrorMessage.empty()) std::abort();  // a refusal says why
  if (ini.Valid && !ini.ErrorMessage.empty()) std::abort();
  if (ini.Valid) {
    const std::string text = KvIniDocumentText(ini);
    WriteBytes(path, text.data(), text.size());
    TKestrovaIni again;
    again.Load(SystemPath(path));
    if (!again.Valid || KvIniDocumentText(again) != text) std::abort();
  }
  std::remove(path.c_str());
  return 0;
}
