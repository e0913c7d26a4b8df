// What a key holds is read when it is opened; both platforms look values up
// the same way.
#include "platform/Locale.h"
#include "platform/Registry.h"

namespace platform {

void RegistryKey::Close() {
  FOpen = false;
  FValues.clear();
}

bool RegistryKey::ReadValue(std::string_view name, RegistryValue& value) const {
  if (name == "@") name = {};
  for (const Entry& e : FValues)
    if (SameTextIgnoreCase(e.name, name)) {
      value = e.value;
      return true;
    }
  return false;
}

}  // namespace platform
