#include "platform/CodePage.h"

#include <iconv.h>

#include <array>
#include <atomic>
#include <mutex>

#include "platform/posix/CodePageTables.h"

namespace platform {

namespace {

std::atomic<unsigned> gCodePage{kCodePageUtf8};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

std::u16string Utf8ToWide(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t used = 0;
    char32_t c = DecodeUtf8(s, i, used);
    AppendUtf16(out, c >= kEscapeBase && c < kEscapeBase + 0x100 ? 0xFFFD : c);
    i += used;
  }
  return out;
}

std::string WideToUtf8(std::u16string_view w) {
  std::string out;
  out.reserve(w.size());
  for (std::size_t i = 0; i < w.size(); ++i) {
    char32_t c = w[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

char32_t DecodeUtf8(std::string_view s, std::size_t i, std::size_t& used) {
  auto b = static_cast<unsigned char>(s[i]);
  used = 1;
  if (b < 0x80) return b;
  int extra = 0;
  char32_t c = 0;
  char32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1, c = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2, c = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3, c = b & 0x07, min = 0x10000;
  } else {
    return kEscapeBase + b;
  }
  if (i + extra >= s.size()) return kEscapeBase + b;
  for (int k = 1; k <= extra; ++k) {
    auto t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return kEscapeBase + b;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return kEscapeBase + b;
  used = static_cast<std::size_t>(extra) + 1;
  return c;
}

const ShiftJisTables& SjisTables() {
  static const ShiftJisTables* tables = [] {
    auto* t = new ShiftJisTables();  // lives for the whole process
    t->toWide.fill(0);
    t->fromWide.fill(0);
    iconv_t cd = iconv_open("UTF-16LE", "CP932");
    auto convert = [&](const char* in, std::size_t inLen) -> char16_t {
      char outBuf[8];
      char* inPtr = const_cast<char*>(in);
      char* outPtr = outBuf;
      std::size_t inLeft = inLen, outLeft = sizeof outBuf;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
          sizeof outBuf - outLeft != 2)
        return 0;
      return static_cast<char16_t>(static_cast<unsigned char>(outBuf[0]) |
                                   (static_cast<unsigned char>(outBuf[1]) << 8));
    };
    for (unsigned b = 0; b < 0x100; ++b) {
      if (IsShiftJisLead(static_cast<unsigned char>(b))) continue;
      char c = static_cast<char>(b);
      char16_t u = b == 0 ? 0 : convert(&c, 1);
      t->toWide[b] = u;
      if ((u != 0 || b == 0) && t->fromWide[u] == 0) t->fromWide[u] = static_cast<std::uint16_t>(b);
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsShiftJisLead(static_cast<unsigned char>(lead))) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char16_t u = convert(pair, 2);
        unsigned code = (lead << 8) | trail;
        t->toWide[code] = u;
        if (u != 0 && t->fromWide[u] == 0) t->fromWide[u] = static_cast<std::uint16_t>(code);
      }
    }
    iconv_close(cd);
    return t;
  }();
  return *tables;
}

unsigned SystemCodePage() { return gCodePage.load(std::memory_order_relaxed); }

void SetSystemCodePage(unsigned codePage) {
  if (codePage == kCodePageShiftJis) SjisTables();
  gCodePage.store(codePage == kCodePageShiftJis ? kCodePageShiftJis : kCodePageUtf8);
}

std::u16string ToWide(std::string_view bytes) {
  if (SystemCodePage() != kCodePageShiftJis) return Utf8ToWide(bytes);
  const auto& t = SjisTables();
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t used = 0;
    char32_t c = DecodeShiftJis(t, bytes, i, used);
    out += c >= kEscapeBase ? u'\xFFFD' : static_cast<char16_t>(c);
    i += used;
  }
  return out;
}

std::string FromWide(std::u16string_view wide) {
  if (SystemCodePage() != kCodePageShiftJis) return WideToUtf8(wide);
  const auto& t = SjisTables();
  std::string out;
  out.reserve(wide.size() * 2);
  for (char16_t u : wide) EncodeShiftJis(t, out, u);
  return out;
}

std::string ToUtf8Text(std::string_view bytes) { return WideToUtf8(ToWide(bytes)); }

bool IsLeadByte(unsigned char byte) { return SystemCodePage() == kCodePageShiftJis && IsShiftJisLead(byte); }

char32_t DecodeShiftJis(const ShiftJisTables& t, std::string_view s, std::size_t i, std::size_t& used) {
  auto b = static_cast<unsigned char>(s[i]);
  used = 1;
  if (IsShiftJisLead(b)) {
    if (i + 1 < s.size()) {
      unsigned code = (static_cast<unsigned>(b) << 8) | static_cast<unsigned char>(s[i + 1]);
      if (char16_t u = t.toWide[code]) {
        used = 2;
        return u;
      }
    }
    return kEscapeBase + b;
  }
  if (b == 0) return 0;
  char16_t u = t.toWide[b];
  return u ? u : kEscapeBase + b;
}

void EncodeShiftJis(const ShiftJisTables& t, std::string& out, char16_t u) {
  if (u == 0) {
    out += '\0';
    return;
  }
  std::uint16_t code = t.fromWide[u];
  if (code == 0) {
    out += '?';
  } else if (code > 0xFF) {
    out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
  } else {
    out += static_cast<char>(code);
  }
}

}  // namespace platform
