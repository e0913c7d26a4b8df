#include "platform/Locale.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <stdexcept>

#include "platform/CodePage.h"

namespace platform {

namespace {

// The A functions convert with the ANSI code page; while a test has put
// another code page in its place, the text goes through UTF-16 and the W
// functions instead.
bool UsesAnsiCodePage() { return SystemCodePage() == GetACP(); }

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long for a comparison");
  return static_cast<int>(size);
}

int FromCompareResult(int result, std::string_view a, std::string_view b) {
  if (result != 0) return result - CSTR_EQUAL;
  // The comparison itself failed: the bytes decide.
  const int bytes = std::memcmp(a.data(), b.data(), a.size() < b.size() ? a.size() : b.size());
  if (bytes != 0) return bytes < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The bytes of the character at i (1 to 4 under UTF-8, 1 or 2 otherwise) and
// its UTF-16 form; 0 when the byte starts no character of the code page.
std::size_t DecodeCharacter(unsigned codePage, std::string_view s, std::size_t i, wchar_t (&wide)[2], int& wideLength) {
  const std::size_t longest = codePage == CP_UTF8 ? 4 : 2;
  for (std::size_t length = 1; length <= longest && i + length <= s.size(); ++length) {
    wideLength = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, s.data() + i, static_cast<int>(length), wide, 2);
    if (wideLength > 0) return length;
  }
  return 0;
}

std::string MapCaseThroughWide(std::string_view text, bool upper) {
  const unsigned codePage = SystemCodePage();
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    wchar_t wide[2];
    int wideLength = 0;
    const std::size_t used = DecodeCharacter(codePage, text, i, wide, wideLength);
    if (used == 0) {
      out += text[i++];  // no character: kept as it is
      continue;
    }
    if (upper)
      CharUpperBuffW(wide, static_cast<DWORD>(wideLength));
    else
      CharLowerBuffW(wide, static_cast<DWORD>(wideLength));
    char encoded[8];
    BOOL usedDefault = FALSE;
    const bool utf8 = codePage == CP_UTF8;
    const int n = WideCharToMultiByte(codePage, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, wideLength, encoded,
                                      sizeof encoded, nullptr, utf8 ? nullptr : &usedDefault);
    // A mapped letter the code page lacks leaves the character as it was.
    if (n > 0 && !usedDefault)
      out.append(encoded, static_cast<std::size_t>(n));
    else
      out.append(text.substr(i, used));
    i += used;
  }
  return out;
}

std::string MapCase(std::string_view text, bool upper) {
  if (!UsesAnsiCodePage()) return MapCaseThroughWide(text, upper);
  std::string out(text);
  if (out.empty()) return out;
  const DWORD length = static_cast<DWORD>(CheckedLength(out.size()));
  if (upper)
    CharUpperBuffA(out.data(), length);
  else
    CharLowerBuffA(out.data(), length);
  return out;
}

}  // namespace

char16_t UpperChar(char16_t c) {
  wchar_t w = static_cast<wchar_t>(c);
  CharUpperBuffW(&w, 1);
  return static_cast<char16_t>(w);
}

char16_t LowerChar(char16_t c) {
  wchar_t w = static_cast<wchar_t>(c);
  CharLowerBuffW(&w, 1);
  return static_cast<char16_t>(w);
}

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.empty() ? (b.empty() ? 0 : -1) : 1;
  if (UsesAnsiCodePage())
    return FromCompareResult(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), CheckedLength(a.size()),
                                            b.data(), CheckedLength(b.size())),
                             a, b);
  const std::u16string wa = ToWide(a), wb = ToWide(b);
  return FromCompareResult(
      CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(wa.data()),
                     CheckedLength(wa.size()), reinterpret_cast<const wchar_t*>(wb.data()), CheckedLength(wb.size())),
      a, b);
}

std::string UpperCase(std::string_view text) { return MapCase(text, true); }
std::string LowerCase(std::string_view text) { return MapCase(text, false); }

}  // namespace platform
