// Locale-aware comparison without regard to case, and case mapping.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Compares two byte strings of the system code page without regard to case
// (Unicode simple case folding of their characters). Returns <0, 0 or >0.
int CompareTextIgnoreCase(std::string_view a, std::string_view b);
inline bool SameTextIgnoreCase(std::string_view a, std::string_view b) { return CompareTextIgnoreCase(a, b) == 0; }

// Case mapping of a byte string of the system code page, character by
// character; bytes that do not form a character are kept as they are.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Case mapping of single UTF-16 code units (Latin, Greek, Cyrillic, full-width).
char16_t UpperChar(char16_t c);
char16_t LowerChar(char16_t c);

}  // namespace platform
