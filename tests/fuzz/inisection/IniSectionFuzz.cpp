// The configuration sections on any key list: the input's lines are
// name=value pairs of the main section. Every section reads them, checks
// them and writes them back; a violation is an Exception with a message,
// anything else is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "config/KestrovaIniUnit.h"

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

Keys ParseKeys(std::string_view text) {
  Keys keys;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos)
      keys.emplace_back(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    at = end + 1;
  }
  return keys;
}

void Exercise(TKvIniSection& section, const THashedStringList& list) {
  section.LoadFrom(list);
  try {
    section.Validate();
  } catch (const Exception& e) {
    if (e.Message().empty()) std::abort();  // a refusal says why
  }
  TRsValueList saved;
  section.SaveTo(saved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Keys keys = ParseKeys(std::string_view(reinterpret_cast<const char*>(data), size));
  THashedStringList list;
  BuildKeyList(list, keys);
  const TGetLoadedEvent loaded = [](bool& value) { value = true; };

  TKvIniSearchEngine engine(loaded);
  Exercise(engine, list);
  TKvIniConverter converter(loaded);
  Exercise(converter, list);
  TKvIniDocumentRoot roots(loaded);
  try {
    roots.LoadRoots(list, TKvIniSection::ReadPath(list, "webtempdir", ""));
    roots.Validate();
  } catch (const Exception& e) {
    if (e.Message().empty()) std::abort();
  }
  TRsValueList saved;
  roots.SaveTo(saved);
  return 0;
}
