// Read access to the registry under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Exception.h"
#include "base/Object.h"
#include "platform/Registry.h"

// Raised when a value is read as a type it does not have.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "ERegistryException"; }
};

class TRegistry : public TObject {
 public:
  // The registry is read only here: asking to create a missing key fails
  // like any other missing key.
  bool OpenKey(std::string_view key, bool canCreate);
  bool OpenKeyReadOnly(std::string_view key) { return OpenKey(key, false); }
  void CloseKey() { FKey.Close(); }
  bool ValueExists(std::string_view name) const;
  // "" for a missing value; a value that is not a (expandable) string raises
  // ERegistryException "Invalid data type for 'NAME'".
  std::string ReadString(std::string_view name) const;
  // A missing value or one that is not a number raises ERegistryException.
  std::int32_t ReadInteger(std::string_view name) const;

 private:
  platform::RegistryKey FKey;
};
