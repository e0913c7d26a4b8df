#include "platform/Locale.h"

#include "platform/CodePage.h"
#include "platform/posix/CodePageTables.h"

namespace platform {

namespace {

// Pairs of the Latin Extended-A and Cyrillic blocks where the upper-case
// letter has the even (or, in some runs, the odd) code.
bool InEvenPairRun(char16_t c) {
  return (c >= 0x0100 && c <= 0x012F) || (c >= 0x0132 && c <= 0x0137) || (c >= 0x014A && c <= 0x0177) ||
         (c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) || (c >= 0x04D0 && c <= 0x052F);
}
bool InOddPairRun(char16_t c) {
  return (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E) || (c >= 0x04C1 && c <= 0x04CE);
}

template <typename Map>
std::string MapCase(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  const bool sjis = SystemCodePage() == kCodePageShiftJis;
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += static_cast<char>(map(static_cast<char16_t>(b)));
      ++i;
      continue;
    }
    std::size_t used = 0;
    char32_t c = sjis ? DecodeShiftJis(SjisTables(), text, i, used) : DecodeUtf8(text, i, used);
    char16_t mapped = c < 0x10000 ? map(static_cast<char16_t>(c)) : 0;
    if (c < 0x10000 && mapped != c) {
      if (sjis) {
        std::string encoded;
        EncodeShiftJis(SjisTables(), encoded, mapped);
        // Keep the original when the mapped letter is not in the code page.
        out += encoded == "?" ? std::string(text.substr(i, used)) : encoded;
      } else {
        out += FromWide(std::u16string(1, mapped));
      }
    } else {
      out.append(text.substr(i, used));
    }
    i += used;
  }
  return out;
}

char32_t NextFolded(std::string_view s, std::size_t& i, bool sjis) {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return b >= 'A' && b <= 'Z' ? b + 32 : b;
  }
  std::size_t used = 0;
  char32_t c = sjis ? DecodeShiftJis(SjisTables(), s, i, used) : DecodeUtf8(s, i, used);
  i += used;
  if (c < 0x10000) return LowerChar(static_cast<char16_t>(c));
  return c;
}

}  // namespace

char16_t UpperChar(char16_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 32) : c;
  if ((c >= 0x00E0 && c <= 0x00FE && c != 0x00F7)) return static_cast<char16_t>(c - 0x20);
  if (c == 0x00FF) return 0x0178;
  if (InEvenPairRun(c)) return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  if (InOddPairRun(c)) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x03B1 && c <= 0x03C9) return c == 0x03C2 ? 0x03A3 : static_cast<char16_t>(c - 0x20);
  if (c == 0x03AC) return 0x0386;
  if (c >= 0x03AD && c <= 0x03AF) return static_cast<char16_t>(c - 0x25);
  if (c == 0x03CC) return 0x038C;
  if (c == 0x03CD || c == 0x03CE) return static_cast<char16_t>(c - 0x3F);
  if (c >= 0x0430 && c <= 0x044F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x0450 && c <= 0x045F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

char16_t LowerChar(char16_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c + 32) : c;
  if ((c >= 0x00C0 && c <= 0x00DE && c != 0x00D7)) return static_cast<char16_t>(c + 0x20);
  if (c == 0x0178) return 0x00FF;
  if (InEvenPairRun(c)) return (c & 1) ? c : static_cast<char16_t>(c + 1);
  if (InOddPairRun(c)) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  if (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) return static_cast<char16_t>(c + 0x20);
  if (c == 0x03C2) return 0x03C3;  // final sigma folds with sigma
  if (c == 0x0386) return 0x03AC;
  if (c >= 0x0388 && c <= 0x038A) return static_cast<char16_t>(c + 0x25);
  if (c == 0x038C) return 0x03CC;
  if (c == 0x038E || c == 0x038F) return static_cast<char16_t>(c + 0x3F);
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 0x50);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 0x20);
  return c;
}

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  const bool sjis = SystemCodePage() == kCodePageShiftJis;
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t ca = NextFolded(a, i, sjis);
    char32_t cb = NextFolded(b, j, sjis);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

std::string UpperCase(std::string_view text) { return MapCase(text, UpperChar); }
std::string LowerCase(std::string_view text) { return MapCase(text, LowerChar); }

}  // namespace platform
