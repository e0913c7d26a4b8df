#include "TSPacket.h"

#include <cstdio>

#include "platform/CodePage.h"

namespace ts_packet {

namespace {

constexpr std::size_t kHeaderSize = 220;

// The text of a zero-terminated field; false when the field has no terminator.
bool Field(std::string_view p, std::size_t at, std::size_t size, std::string_view& out) {
  const std::string_view field = p.substr(at, size);
  const std::size_t zero = field.find('\0');
  if (zero == std::string_view::npos) return false;
  out = field.substr(0, zero);
  return true;
}

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

// System code page text as a JSON string in UTF-8. The escapes are applied
// to characters, not bytes: under a double-byte code page the second byte
// of a character may be the byte of '\'.
std::string Json(std::string_view text) {
  const std::u16string wide = platform::ToWide(text);
  std::string out = "\"";
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate is no character
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
          out += buffer;
        } else {
          AppendUtf8(out, c);
        }
    }
  }
  return out + "\"";
}

}  // namespace

std::uint32_t U32(std::string_view p, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[at + static_cast<std::size_t>(i)]);
  return v;
}

std::int32_t I32(std::string_view p, std::size_t at) { return static_cast<std::int32_t>(U32(p, at)); }

bool Describe(std::string_view p, std::string& line, std::string& problem) {
  if (p.size() < kHeaderSize) {
    problem = "packet of " + std::to_string(p.size()) + " bytes is shorter than " + std::to_string(kHeaderSize);
    return false;
  }
  const std::uint64_t length = U32(p, 16), details = U32(p, 20);
  if (p.size() != kHeaderSize + length + details) {
    problem = "packet of " + std::to_string(p.size()) + " bytes does not hold " + std::to_string(kHeaderSize) + " + " +
              std::to_string(length) + " + " + std::to_string(details);
    return false;
  }
  std::string_view session, computer, app, category, objectClass;
  if (!Field(p, 32, 42, session) || !Field(p, 74, 16, computer) || !Field(p, 90, 41, app) ||
      !Field(p, 131, 41, category) || !Field(p, 176, 41, objectClass) || p[217 + length + details] != '\0') {
    problem = "packet has a text without its terminating zero";
    return false;
  }
  line = "{\"type\":" + std::to_string(I32(p, 0)) + ",\"ms\":" + std::to_string(I32(p, 4)) +
         ",\"day\":" + std::to_string(I32(p, 8)) + ",\"bias\":" + std::to_string(I32(p, 12)) +
         ",\"length\":" + std::to_string(length) + ",\"detail_length\":" + std::to_string(details) +
         ",\"pid\":" + std::to_string(U32(p, 24)) + ",\"tid\":" + std::to_string(U32(p, 28)) +
         ",\"session\":" + Json(session) + ",\"computer\":" + Json(computer) + ",\"app\":" + Json(app) +
         ",\"category\":" + Json(category) + ",\"color\":" + std::to_string(U32(p, 172)) +
         ",\"class\":" + Json(objectClass) + ",\"text\":" + Json(p.substr(217, length)) +
         ",\"details\":" + Json(p.substr(217 + length, details)) + "}";
  return true;
}

}  // namespace ts_packet
