#include "config/KestrovaIniUnit.h"

#include <memory>

#include "base/Exception.h"
#include "base/Format.h"
#include "base/NumberParse.h"
#include "common/RsUtil.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"

void BuildKeyList(THashedStringList& keyList, const std::vector<std::pair<std::string, std::string>>& keys) {
  keyList.Clear();
  for (const auto& key : keys) keyList.Add(key.first);
  for (const auto& key : keys) {
    const std::string* value = nullptr;
    for (const auto& other : keys)
      if (platform::SameTextIgnoreCase(other.first, key.first)) {
        value = &other.second;
        break;
      }
    if (!value->empty()) keyList.SetValue(platform::LowerCase(key.first), *value);
  }
}

bool TKvIniSection::FindValue(const THashedStringList& keyList, std::string_view name, std::string& value) {
  const int i = keyList.IndexOfName(platform::LowerCase(name));
  if (i < 0) return false;
  value = keyList.ValueFromIndex(i);
  return true;
}

std::string TKvIniSection::ReadString(const THashedStringList& keyList, std::string_view name, std::string_view def) {
  std::string value;
  return FindValue(keyList, name, value) ? value : std::string(def);
}

std::int64_t TKvIniSection::ReadInteger(const THashedStringList& keyList, std::string_view name, std::int64_t def) {
  std::string text;
  if (!FindValue(keyList, name, text)) return def;
  std::int32_t value;
  if (TryStrToInt(text, value)) return value;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(def));
}

double TKvIniSection::ReadFloat(const THashedStringList& keyList, std::string_view name, double def) {
  std::string text;
  double value;
  if (FindValue(keyList, name, text) && TryStrToFloat(text, value)) return value;
  return def;
}

std::string TKvIniSection::ReadPath(const THashedStringList& keyList, std::string_view name, std::string_view def) {
  return SlashToBackslash(ReadString(keyList, name, def));
}

bool TKvIniSection::ReadFlag(const THashedStringList& keyList, std::string_view name, bool def) {
  return ReadInteger(keyList, name, def ? 1 : 0) == 1;
}

void TKvIniSection::ReadList(const THashedStringList& keyList, std::string_view name, std::string_view def,
                             TStringList& target, bool lowerCase, bool removeEmpty) {
  std::string text = ReadString(keyList, name, def);
  if (lowerCase) text = platform::LowerCase(text);
  SplitCommaText(target, text, true, removeEmpty);
}

namespace {

const char kNotDefined[] = "が設定ファイルに定義されていません";
const char kNested[] = "すべてのdocument_rootおよびrzi_rootのパスは親子関係にあってはいけません.";

// "" for the first of the numbered keys, then "2", "3", ...
std::string Suffix(int number) { return number == 1 ? std::string() : std::to_string(number); }

// a's folder prefix begins with b's.
bool AtOrBelow(std::string_view a, std::string_view b) {
  const std::string pa = kestrova_path::FolderPrefix(a);
  const std::string pb = kestrova_path::FolderPrefix(b);
  return pa.size() >= pb.size() && platform::SameTextIgnoreCase(std::string_view(pa).substr(0, pb.size()), pb);
}

std::string ReadFolder(const THashedStringList& keyList, const std::string& name) {
  const std::string path = TKvIniSection::ReadPath(keyList, name, "");
  return SlashToBackslash(platform::FromWide(ExcludeTrailingDelimiterKeepRoot(platform::ToWide(path))));
}

}  // namespace

void TKvIniDocumentRoot::LoadRoots(const THashedStringList& keyList, std::string_view webTempDir) {
  for (int n = 1; keyList.IndexOf("document_root" + Suffix(n)) >= 0; ++n) {
    const std::string docKey = "document_root" + Suffix(n);
    const std::string rziKey = "rzi_root" + Suffix(n);
    const std::string aliasKey = "document_root_alias" + Suffix(n);
    const std::string d = ReadFolder(keyList, docKey);
    const std::string r = ReadFolder(keyList, rziKey);
    const std::string a = ReadString(keyList, aliasKey, "");
    const std::string c = ReadString(keyList, "document_root_caption" + Suffix(n), "");
    if (d.empty()) throw Exception(docKey + kNotDefined);
    if (r.empty()) throw Exception(rziKey + kNotDefined);
    if (n >= 2 && a.empty()) throw Exception(aliasKey + kNotDefined);
    if (!a.empty() && !IsHalfWidthAlphaNumeric(platform::ToWide(a)))
      throw Exception(aliasKey + Format("は半角英数字しか使用できません[%s]", {a}));
    if (AtOrBelow(d, r))
      throw Exception(
          Format("document_rootがrzi_root以下のフォルダに指定されています.%s=%s, %s=%s", {docKey, d, rziKey, r}));
    if (AtOrBelow(r, d))
      throw Exception(
          Format("rzi_rootがdocument_root以下のフォルダに指定されています.%s=%s, %s=%s", {docKey, d, rziKey, r}));
    if (AtOrBelow(webTempDir, d))
      throw Exception(Format("webtempdirがdocument_root以下のフォルダに指定されています.%s=%s, %s=%s",
                             {"webtempdir", webTempDir, docKey, d}));
    if (AtOrBelow(webTempDir, r))
      throw Exception(Format("webtempdirがrzi_root以下のフォルダに指定されています.%s=%s, %s=%s",
                             {"webtempdir", webTempDir, rziKey, r}));

    auto created = std::make_unique<TKestrovaRoot>();
    created->SetPath(d);
    created->SetRziRoot(r);
    created->SetAlias(a);
    created->SetCaption(c);
    created->CompleteCaption();
    TKestrovaRoot& root = *Roots.GetItem(Roots.Add(std::move(created)));

    const std::string patternKey = docKey + "_pattern";
    for (int m = 1; keyList.IndexOf(patternKey + Suffix(m)) >= 0; ++m)
      root.Patterns().Add(SlashToBackslash(ReadString(keyList, patternKey + Suffix(m), "")));
  }
  if (Roots.Count() >= 2 && Roots.GetItem(0)->Alias().empty())
    throw Exception(std::string("document_root_alias") + kNotDefined);
}

void TKvIniDocumentRoot::LoadFrom(const THashedStringList&) {
  throw Exception("TKvIniDocumentRoot is loaded by LoadRoots");
}

void TKvIniDocumentRoot::Validate() {
  const auto docKey = [](int n) { return "document_root" + Suffix(n + 1); };
  const auto rziKey = [](int n) { return "rzi_root" + Suffix(n + 1); };
  for (int n = 0; n < Roots.Count(); ++n) {
    const std::string& path = Roots.GetItem(n)->Path();
    if (Roots.IndexOfDocumentPath(path, n) >= 0)
      throw Exception(
          Format(std::string(kNested) + "document_rootが他のdocument_root以下のフォルダに指定されています.%s=%s",
                 {docKey(n), path}));
    if (Roots.IndexOfRziPath(path, n) >= 0)
      throw Exception(Format(std::string(kNested) + "document_rootがrzi_root以下のフォルダに指定されています.%s=%s",
                             {docKey(n), path}));
  }
  for (int n = 0; n < Roots.Count(); ++n) {
    const std::string& rzi = Roots.GetItem(n)->RziRoot();
    if (Roots.IndexOfDocumentPath(rzi, n) >= 0)
      throw Exception(Format(std::string(kNested) + "rzi_rootがdocument_root以下のフォルダに指定されています.%s=%s",
                             {rziKey(n), rzi}));
    if (Roots.IndexOfRziPath(rzi, n) >= 0)
      throw Exception(Format(std::string(kNested) + "rzi_rootが他のrzi_root以下のフォルダに指定されています.%s=%s",
                             {rziKey(n), rzi}));
  }
}

void TKvIniDocumentRoot::SaveTo(TRsValueList& list) {
  for (int i = 0; i < Roots.Count(); ++i) {
    const TKestrovaRoot& root = *Roots.GetItem(i);
    const std::string suffix = Suffix(i + 1);
    SetStringValue(list, "document_root" + suffix, root.Path());
    SetStringValue(list, "document_root_alias" + suffix, root.Alias());
    SetStringValue(list, "rzi_root" + suffix, root.RziRoot());
    for (int m = 0; m < root.Patterns().Count(); ++m)
      SetStringValue(list, "document_root" + suffix + "_pattern" + Suffix(m + 1), root.Patterns()[m]);
  }
}
