// The networks the server treats as local: entries address/prefix-length
// turned into network and mask pairs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Object.h"
#include "base/StringList.h"

// Host-order values whose most significant byte is the first dotted part.
struct TKvSubNetMask {
  std::uint32_t Network = 0;  // the address with the host bits cleared
  std::uint32_t Mask = 0;
};

class TKvSubNetMaskList : public TObject {
 public:
  // Dotted parts read with the system's integer reader, each keeping its low
  // 8 bits; fewer than four parts repeat the last one, parts after the fourth
  // are ignored. 0 when a part does not convert.
  static std::uint32_t ParseAddress(std::string_view text);
  // The mask of a prefix length of 1 to 32; 0 for anything else.
  static std::uint32_t PrefixToMask(std::string_view text);
  // False for an entry without '/', or whose address or mask reads as 0.
  static bool ParseEntry(std::string_view text, TKvSubNetMask& entry);

  // Appends an accepted entry and its text unchanged; anything else is dropped.
  void AddText(std::string_view text);
  // The accepted texts joined by ',', quoted where they need it.
  std::string GetCommaText() const;
  void Clear();

  const std::vector<TKvSubNetMask>& Entries() const { return FEntries; }
  const TStringList& Texts() const { return FTexts; }

 private:
  std::vector<TKvSubNetMask> FEntries;
  TStringList FTexts;
};
