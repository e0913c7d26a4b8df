// Windows accounts grouped by domain, read from entries Name@Domain.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Object.h"
#include "base/StringList.h"

class TKvDomainObject : public TObject {
 public:
  // The account names of the domain, without repeats (case ignored).
  TStringList Users;
  const std::string& Name() const { return FName; }
  void SetName(std::string_view name) { FName = name; }

 private:
  std::string FName;  // "." stands for the local computer
};

class TKvDomainObjectList : public TObject {
 public:
  ~TKvDomainObjectList() override;

  void Clear();
  // Replaces the content by the upper-cased entries of the comma text. An
  // entry without a domain gets the only configured domain, or "." when none
  // is configured; with several configured domains it is an error, whose
  // message names the key and the example of a full entry.
  void LoadFromText(std::string_view text, std::string_view keyName, const TStringList& configuredDomains,
                    std::string_view example);
  // The accounts as Name@Domain, grouped by domain, joined by ','.
  std::string GetText() const;
  int Count() const { return FDomains.Count(); }
  // Null for an index out of range.
  TKvDomainObject* GetItem(int index) const;
  // Appends the domain without looking for a repeat.
  void AddDomain(std::unique_ptr<TKvDomainObject> domain);

 private:
  THashedStringList FDomains;  // name → domain, case ignored
};
