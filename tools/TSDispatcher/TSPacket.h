// The check of a TraceSpot client's packet and its JSON line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ts_packet {

// The little-endian 32-bit values of the packet at a byte offset.
std::uint32_t U32(std::string_view p, std::size_t at);
std::int32_t I32(std::string_view p, std::size_t at);

// The packet as a JSON line, or the reason it is malformed.
bool Describe(std::string_view p, std::string& line, std::string& problem);

}  // namespace ts_packet
