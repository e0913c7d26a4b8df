// Fuzz target for the JSON reader: every input is parsed as an object and as
// an array, under UTF-8 and under code page 932. Whatever parses must print,
// and under UTF-8 its text form must parse again and be stable from the
// second round on. Parse errors are expected; anything else is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "common/RsJson.h"
#include "platform/CodePage.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

// Reads the members back through the lookups, the way configuration code does.
void Query(const TJSONObject& o) {
  auto names = o.memberNames();
  for (int i = 0; i < names->Count(); ++i) {
    const std::string& name = (*names)[i];
    if (name.empty()) continue;
    Check(o.findValue(name) != nullptr, "a member name finds a value");
    o.textOrEmpty(name);
    try {
      o.requireInteger(name);
    } catch (const Exception&) {
      // not a number: NumberFormatException or EConvertError
    }
  }
}

template <typename Container>
void RoundTrip(const std::string& text, bool rawWords, bool utf8) {
  Container first;
  try {
    first.parseText(text, rawWords);
  } catch (const ParseException&) {
    // Whatever was read before the error stays and must still print.
    first.toString();
    return;
  }
  const std::string printed = first.toString();
  if constexpr (std::is_same_v<Container, TJSONObject>) Query(first);
  if (!utf8 || rawWords) return;
  Container second;
  second.parseText(printed, false);
  const std::string again = second.toString();
  Container third;
  third.parseText(again, false);
  Check(third.toString() == again, "the text form is stable after one round");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (unsigned codePage : {platform::kCodePageUtf8, platform::kCodePageShiftJis}) {
    platform::ScopedCodePage scoped(codePage);
    const bool utf8 = codePage == platform::kCodePageUtf8;
    for (bool rawWords : {false, true}) {
      RoundTrip<TJSONObject>(text, rawWords, utf8);
      RoundTrip<TJSONArray>(text, rawWords, utf8);
    }
  }
  return 0;
}
