#include "platform/CodePage.h"

#include <windows.h>

#include <atomic>
#include <climits>
#include <stdexcept>

namespace platform {

namespace {

// 0 while the process uses the machine's ANSI code page; a test may put
// another one in its place for the conversions, the lead-byte test and the
// locale functions.
std::atomic<unsigned> gOverride{0};

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long for a code page conversion");
  return static_cast<int>(size);
}

}  // namespace

unsigned SystemCodePage() {
  const unsigned codePage = gOverride.load(std::memory_order_relaxed);
  return codePage ? codePage : GetACP();
}

void SetSystemCodePage(unsigned codePage) {
  // Restoring the machine's own code page, or asking for one the system does
  // not have, leaves the ANSI code page in force.
  const bool ansi = codePage == GetACP() || !IsValidCodePage(codePage);
  gOverride.store(ansi ? 0 : codePage, std::memory_order_relaxed);
}

namespace {

std::u16string ToWideFrom(unsigned codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int length = CheckedLength(bytes.size());
  const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  MultiByteToWideChar(codePage, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(out.data()), needed);
  return out;
}

}  // namespace

std::u16string ToWide(std::string_view bytes) { return ToWideFrom(SystemCodePage(), bytes); }

std::u16string Utf8ToWide(std::string_view utf8) { return ToWideFrom(CP_UTF8, utf8); }

std::string FromWide(std::u16string_view wide) {
  if (wide.empty()) return {};
  const unsigned codePage = SystemCodePage();
  const int length = CheckedLength(wide.size());
  const auto* in = reinterpret_cast<const wchar_t*>(wide.data());
  // Characters the code page lacks become the code page's default
  // character, '?'.
  const int needed = WideCharToMultiByte(codePage, 0, in, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(codePage, 0, in, length, out.data(), needed, nullptr, nullptr);
  return out;
}

std::string ToUtf8Text(std::string_view bytes) {
  const std::u16string wide = ToWide(bytes);
  if (wide.empty()) return {};
  const int length = CheckedLength(wide.size());
  const auto* in = reinterpret_cast<const wchar_t*>(wide.data());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, in, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, in, length, out.data(), needed, nullptr, nullptr);
  return out;
}

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByteEx(SystemCodePage(), byte) != FALSE; }

}  // namespace platform
