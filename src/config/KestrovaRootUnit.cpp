#include "config/KestrovaRootUnit.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "common/RsUtil.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"

namespace kestrova_path {

std::string FolderPrefix(std::string_view folder) {
  const std::u16string w = platform::ToWide(folder);
  if (!w.empty() && w.back() == u'\\') return std::string(folder);
  return std::string(folder) + '\\';
}

std::string Normalized(std::string_view path) {
  return platform::FromWide(ExcludeTrailingDelimiterKeepRoot(platform::ToWide(path)));
}

bool LiesBelow(std::string_view path, std::string_view folder) {
  const std::string prefix = FolderPrefix(folder);
  if (path.size() < prefix.size()) return false;
  return platform::SameTextIgnoreCase(path.substr(0, prefix.size()), prefix);
}

bool Contains(std::string_view folder, std::string_view path) {
  return LiesBelow(path, folder) || platform::SameTextIgnoreCase(Normalized(path), Normalized(folder));
}

}  // namespace kestrova_path

void TKestrovaRoot::CompleteCaption() {
  if (FCaption.empty()) FCaption = FAlias;
  if (!FCaption.empty()) return;
  const std::u16string path = platform::ToWide(kestrova_path::Normalized(FPath));
  const std::size_t last = path.find_last_of(u"\\:");
  FCaption = platform::FromWide(last == std::u16string::npos ? path : path.substr(last + 1));
}

TKestrovaRootList::~TKestrovaRootList() { Clear(); }

int TKestrovaRootList::Add(std::unique_ptr<TKestrovaRoot>&& root) {
  if (FRoots.IndexOf(root->Alias()) >= 0)
    throw Exception(Format("document_root_alias:%s が重複しています", {root->Alias()}));
  const std::string rzi = kestrova_path::Normalized(root->RziRoot());
  for (int i = 0; i < Count(); ++i)
    if (platform::SameTextIgnoreCase(kestrova_path::Normalized(GetItem(i)->RziRoot()), rzi))
      throw Exception(Format("rzi_root:%s\u3000が重複しています", {root->RziRoot()}));
  const std::string alias = root->Alias();
  return FRoots.AddObject(alias, std::move(root));
}

TKestrovaRoot* TKestrovaRootList::GetItem(int index) const {
  if (index >= Count()) return nullptr;
  return static_cast<TKestrovaRoot*>(FRoots.Objects(index));
}

void TKestrovaRootList::Clear() {
  for (int i = Count() - 1; i >= 0; --i) FRoots.Delete(i);
}

int TKestrovaRootList::IndexOfDocumentPath(std::string_view path, int excluded) const {
  for (int i = 0; i < Count(); ++i)
    if (i != excluded && kestrova_path::Contains(GetItem(i)->Path(), path)) return i;
  return -1;
}

int TKestrovaRootList::IndexOfRziPath(std::string_view path, int excluded) const {
  for (int i = 0; i < Count(); ++i)
    if (i != excluded && kestrova_path::Contains(GetItem(i)->RziRoot(), path)) return i;
  return -1;
}

bool TKestrovaRootList::IsUnderRziRoot(std::string_view path) const {
  for (int i = 0; i < Count(); ++i)
    if (kestrova_path::LiesBelow(path, GetItem(i)->RziRoot())) return true;
  return false;
}
