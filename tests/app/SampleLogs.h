// Access log records shared by the tests of the repair run and its front ends.
#pragma once

#include <string>

// A first field with the 26-byte tagged prefix, as it comes back repaired,
// and a record that needs no correction.
inline const std::string kNeedsCorrection = "\"INFO\t[2026/12/01 10:15:30]abc\",x\r\n";
inline const std::string kCorrected = "\"abc\",\"x\"\r\n";
inline const std::string kClean = "\"a\",\"b\"\r\n";
