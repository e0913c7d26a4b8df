#include "config/KvDomainObjectUnit.h"

#include <memory>

#include "base/Exception.h"
#include "base/Format.h"
#include "common/RsUtil.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"

TKvDomainObjectList::~TKvDomainObjectList() { Clear(); }

void TKvDomainObjectList::Clear() {
  for (int i = Count() - 1; i >= 0; --i) FDomains.Delete(i);
}

void TKvDomainObjectList::LoadFromText(std::string_view text, std::string_view keyName,
                                       const TStringList& configuredDomains, std::string_view example) {
  Clear();
  TStringList entries;
  SplitCommaText(entries, platform::UpperCase(text), true, true);
  for (int i = 0; i < entries.Count(); ++i) {
    const std::u16string entry = platform::ToWide(entries[i]);
    const std::size_t at = entry.find(u'@');
    const std::string account = platform::FromWide(entry.substr(0, at));
    std::string domain = at == std::u16string::npos ? std::string() : platform::FromWide(entry.substr(at + 1));
    if (account.empty()) continue;
    if (domain.empty()) {
      if (configuredDomains.Count() == 0)
        domain = ".";
      else if (configuredDomains.Count() == 1)
        domain = configuredDomains[0];
      else
        throw Exception(
            Format("windows_domainが複数設定されている場合、%sにはドメイン名を指定しなければなりません。ex. %s",
                   {keyName, example}));
    }
    int index = FDomains.IndexOf(domain);
    if (index < 0) {
      auto created = std::make_unique<TKvDomainObject>();
      created->SetName(domain);
      AddDomain(std::move(created));
      index = Count() - 1;
    }
    TStringList& users = GetItem(index)->Users;
    if (users.IndexOf(account) < 0) users.Add(account);
  }
}

std::string TKvDomainObjectList::GetText() const {
  std::string out;
  for (int d = 0; d < Count(); ++d) {
    const TKvDomainObject& domain = *GetItem(d);
    for (int u = 0; u < domain.Users.Count(); ++u) {
      if (!out.empty()) out += ',';
      out += domain.Users[u];
      if (!domain.Name().empty()) out += "@" + domain.Name();
    }
  }
  return out;
}

TKvDomainObject* TKvDomainObjectList::GetItem(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return static_cast<TKvDomainObject*>(FDomains.Objects(index));
}

void TKvDomainObjectList::AddDomain(std::unique_ptr<TKvDomainObject> domain) {
  const std::string name = domain->Name();
  FDomains.AddObject(name, std::move(domain));
}
