// The dispatcher's packet check on any bytes, under UTF-8 and code page 932:
// a packet is either refused with a reason or becomes a JSON line that the
// JSON reader reads back with the packet's own numbers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TSDispatcher/TSPacket.h"
#include "common/RsJson.h"
#include "platform/CodePage.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "packet check: %s\n", what);
  std::abort();
}

// The line is UTF-8 whatever the code page the packet's texts are in, so it
// is read back under UTF-8.
void ReadBack(std::string_view p, const std::string& line) {
  Check(p.size() == 220 + std::uint64_t{ts_packet::U32(p, 16)} + ts_packet::U32(p, 20), "an accepted packet's size");
  try {
    TJSONObject object(line);
    Check(object.requireInteger("type") == ts_packet::I32(p, 0), "the type read back");
    Check(object.requireInteger("bias") == ts_packet::I32(p, 12), "the bias read back");
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n%s\n", e.Message().c_str(), line.c_str());
    Check(false, "the JSON line reads back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view packet(reinterpret_cast<const char*>(data), size);
  std::string line[2], problem[2];
  bool accepted[2];
  accepted[0] = ts_packet::Describe(packet, line[0], problem[0]);
  {
    platform::ScopedCodePage codePage(932);
    accepted[1] = ts_packet::Describe(packet, line[1], problem[1]);
  }
  Check(accepted[0] == accepted[1], "the code page does not decide whether a packet is well formed");
  for (int i = 0; i < 2; ++i) {
    if (accepted[i]) {
      ReadBack(packet, line[i]);
    } else {
      Check(!problem[i].empty(), "a refused packet has a reason");
    }
  }
  return 0;
}
