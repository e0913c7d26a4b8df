// Character decoding shared by the code page and locale services.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace platform {

// A byte that forms no character is carried as kEscapeBase + byte, so that
// two different invalid bytes never compare equal.
constexpr char32_t kEscapeBase = 0x110000;

struct ShiftJisTables {
  std::array<char16_t, 65536> toWide;         // single bytes and lead<<8|trail
  std::array<std::uint16_t, 65536> fromWide;  // 0 = not in the code page
};

inline bool IsShiftJisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

const ShiftJisTables& SjisTables();
// UTF-8 is the native encoding of file names, whatever the system code page.
std::string WideToUtf8(std::u16string_view w);
// A UTF-8 system path with its drive dropped and its delimiters turned to '/'.
std::string MapToNative(std::string path);
char32_t DecodeUtf8(std::string_view s, std::size_t i, std::size_t& used);
char32_t DecodeShiftJis(const ShiftJisTables& t, std::string_view s, std::size_t i, std::size_t& used);
void EncodeShiftJis(const ShiftJisTables& t, std::string& out, char16_t u);

}  // namespace platform
