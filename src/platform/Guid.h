// Globally unique identifiers.
#pragma once

#include <string>

namespace platform {

// A new random GUID in its 38-character text form
// ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case), or empty when the
// random source fails.
std::string NewGuidText();

}  // namespace platform
