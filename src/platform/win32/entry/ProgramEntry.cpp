#include "platform/ProgramEntry.h"

#include <string_view>

#include "platform/CodePage.h"

// The Unicode entry point: arguments arrive in UTF-16 whatever the code page,
// and are converted once, here.
int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.push_back(platform::FromWide(std::u16string_view(reinterpret_cast<const char16_t*>(argv[i]))));
  return ProgramMain(arguments);
}
