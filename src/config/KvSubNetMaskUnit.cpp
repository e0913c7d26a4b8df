#include "config/KvSubNetMaskUnit.h"

#include "base/NumberParse.h"
#include "common/RsUtil.h"

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

}  // namespace

std::uint32_t TKvSubNetMaskList::ParseAddress(std::string_view text) {
  std::string_view rest = Trim(text);
  std::uint32_t address = 0;
  for (int i = 0; i < 4; ++i) {
    std::string_view part = rest;
    const std::size_t dot = rest.find('.');
    if (dot != std::string_view::npos) {
      part = rest.substr(0, dot);
      rest = rest.substr(dot + 1);
    }
    std::int32_t value;
    if (!TryStrToInt(part, value)) return 0;
    address = (address << 8) | (static_cast<std::uint32_t>(value) & 0xFF);
  }
  return address;
}

std::uint32_t TKvSubNetMaskList::PrefixToMask(std::string_view text) {
  std::int32_t bits;
  if (!TryStrToInt(text, bits) || bits < 1 || bits > 32) return 0;
  return bits == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> bits);
}

bool TKvSubNetMaskList::ParseEntry(std::string_view text, TKvSubNetMask& entry) {
  const std::string_view s = Trim(text);
  const std::size_t slash = s.find('/');
  if (slash == std::string_view::npos) return false;
  const std::uint32_t address = ParseAddress(s.substr(0, slash));
  const std::uint32_t mask = PrefixToMask(s.substr(slash + 1));
  if (address == 0 || mask == 0) return false;
  entry.Network = address & mask;
  entry.Mask = mask;
  return true;
}

void TKvSubNetMaskList::AddText(std::string_view text) {
  TKvSubNetMask entry;
  if (text.empty() || !ParseEntry(text, entry)) return;
  FEntries.push_back(entry);
  FTexts.Add(text);
}

std::string TKvSubNetMaskList::GetCommaText() const { return CommaText(FTexts); }

void TKvSubNetMaskList::Clear() {
  FEntries.clear();
  FTexts.Clear();
}
