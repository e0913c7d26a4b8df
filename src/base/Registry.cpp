#include "base/Registry.h"

#include "base/Format.h"

namespace {

[[noreturn]] void InvalidType(std::string_view name) {
  throw ERegistryException(Format("Invalid data type for '%s'", {name}));
}

}  // namespace

bool TRegistry::OpenKey(std::string_view key, bool /*canCreate*/) { return FKey.Open(key); }

bool TRegistry::ValueExists(std::string_view name) const {
  platform::RegistryValue value;
  return FKey.ReadValue(name, value);
}

std::string TRegistry::ReadString(std::string_view name) const {
  platform::RegistryValue value;
  if (!FKey.ReadValue(name, value)) return {};
  if (value.type != platform::RegistryType::kString && value.type != platform::RegistryType::kExpandString)
    InvalidType(name);
  return value.text;
}

std::int32_t TRegistry::ReadInteger(std::string_view name) const {
  platform::RegistryValue value;
  if (!FKey.ReadValue(name, value) || value.type != platform::RegistryType::kDWord) InvalidType(name);
  return static_cast<std::int32_t>(value.number);
}
