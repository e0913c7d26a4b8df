#include "config/KestrovaIniUnit.h"

#include <cstdint>
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

void TKvIniSearchEngine::LoadFrom(const THashedStringList& keys) {
  hyperestraier_password = ReadString(keys, "hyperestraier_password", "");
  hyperestraier_url = ReadString(keys, "hyperestraier_url", "");
  hyperestraier_user = ReadString(keys, "hyperestraier_user", "");
  lowercase_search = ReadFlag(keys, "lowercase_search", true);
  use_solr = ReadFlag(keys, "use_solr", false);
  searchengine_shards_algo = ReadString(keys, "searchengine_shards_algo", "path");
  hyperestraier_startup = static_cast<std::int32_t>(ReadInteger(keys, "hyperestraier_startup", 1));
  hyperestraier_log_duration = static_cast<std::int32_t>(ReadInteger(keys, "hyperestraier_log_duration", 7));
  synchronize_task_time = ReadFloat(keys, "synchronize_task_time", 2.0);
  page_search = ReadFlag(keys, "page_search", false);
  aclsearch = ReadFlag(keys, "aclsearch", false);
  aclsearch_usedeniedsearch = ReadFlag(keys, "aclsearch_usedeniedsearch", false);
  aclsearch_compresssid = ReadFlag(keys, "aclsearch_compresssid", false);
  filename_search_max_gramsize = static_cast<std::int32_t>(ReadInteger(keys, "filename-search-max-gramsize", 15));
  if (hyperestraier_startup < 0 || hyperestraier_startup > 2) hyperestraier_startup = 1;
}

void TKvIniSearchEngine::Validate() {
  if (hyperestraier_log_duration < 2) throw Exception("hyperestraier_log_durationは2以上の値を指定してください");
}

void TKvIniSearchEngine::SaveTo(TRsValueList& list) {
  SetStringValue(list, "hyperestraier_url", hyperestraier_url);
  SetStringValue(list, "hyperestraier_user", hyperestraier_user);
  SetStringValue(list, "hyperestraier_password", hyperestraier_password);
  SetInt64Value(list, "hyperestraier_startup", hyperestraier_startup);
  SetInt64Value(list, "hyperestraier_log_duration", hyperestraier_log_duration);
  SetBooleanValue(list, "lowercase_search", lowercase_search);
  SetBooleanValue(list, "use_solr", use_solr);
  SetStringValue(list, "searchengine_shards_algo", searchengine_shards_algo);
  SetDoubleValue(list, "synchronize_task_time", synchronize_task_time);
  SetBooleanValue(list, "page_search", page_search);
  SetBooleanValue(list, "aclsearch", aclsearch);
  SetBooleanValue(list, "aclsearch_usedeniedsearch", aclsearch_usedeniedsearch);
  SetBooleanValue(list, "aclsearch_compresssid", aclsearch_compresssid);
  SetIntegerValue(list, "filename-search-max-gramsize", filename_search_max_gramsize);
  SortValues(list);
}

namespace {

constexpr std::int64_t kNoLimit = INT64_MAX;

// Removes the first empty entry, if any.
void RemoveFirstEmpty(TStringList& list) {
  for (int i = 0; i < list.Count(); ++i)
    if (list[i].empty()) {
      list.Delete(i);
      return;
    }
}

}  // namespace

void TKvIniConverter::LoadFrom(const THashedStringList& keys) {
  max_extract_text_file_size_kb = ReadInteger(keys, "max_extract_text_file_size_kb", 5000) * 1024;
  max_extract_page_file_size_kb = ReadInteger(keys, "max_extract_page_file_size_kb", 20000) * 1024;
  max_extract_text_size_kb = ReadInteger(keys, "max_extract_text_size_kb", 8000) * 1024;
  ifilter_ignore_numeric = ReadFlag(keys, "ifilter_ignore_numeric", true);
  timeout_xdoc2txt = ReadInteger(keys, "timeout_xdoc2txt", 60) * 1000;
  timeout_cad2txt = ReadInteger(keys, "timeout_cad2txt", 60) * 1000;
  timeout_xdw2txt = ReadInteger(keys, "timeout_xdw2txt", 60) * 1000;
  timeout_mb2splitter = ReadInteger(keys, "timeout_mb2splitter", 300) * 1000;
  timeout_getifilter = ReadInteger(keys, "timeout_getifilter", 60) * 1000;
  use_sbc = ReadFlag(keys, "use_sbc", false);
  extractpage_extlist = ReadString(keys, "extractpage_extlist", "");
  ReadList(keys, "ifilter_extlist", "", ifilter_extlist, true, false);
  ReadList(keys, "sbc_extlist", "rtf,doc,xls,ppt,docx,xlsx.pptx,jtd,jtt", sbc_extlist, true, false);
  ReadList(keys, "extracttext_extlist", "", extracttext_extlist, true, false);
  ReadList(keys, "gif_preview_ext_list", "", gif_preview_ext_list, true, false);
  ReadList(keys, "explorer_preview_extlist", "", explorer_preview_extlist, true, false);
  if (max_extract_text_file_size_kb < 0) max_extract_text_file_size_kb = kNoLimit;
  if (max_extract_page_file_size_kb < 0) max_extract_page_file_size_kb = kNoLimit;
  RemoveFirstEmpty(extracttext_extlist);
  RemoveFirstEmpty(ifilter_extlist);
}

void TKvIniConverter::SaveTo(TRsValueList& list) {
  SetInt64Value(list, "max_extract_text_file_size_kb", max_extract_text_file_size_kb / 1024);
  SetInt64Value(list, "max_extract_page_file_size_kb", max_extract_page_file_size_kb / 1024);
  SetInt64Value(list, "max_extract_text_size_kb", max_extract_text_size_kb / 1024);
  SetBooleanValue(list, "ifilter_ignore_numeric", ifilter_ignore_numeric);
  SetInt64Value(list, "timeout_xdoc2txt", timeout_xdoc2txt / 1000);
  SetInt64Value(list, "timeout_cad2txt", timeout_cad2txt / 1000);
  SetInt64Value(list, "timeout_xdw2txt", timeout_xdw2txt / 1000);
  SetInt64Value(list, "timeout_mb2splitter", timeout_mb2splitter / 1000);
  SetInt64Value(list, "timeout_getifilter", timeout_getifilter / 1000);
  SetBooleanValue(list, "use_sbc", use_sbc);
  SetStringValue(list, "extractpage_extlist", extractpage_extlist);
  SetStringValue(list, "sbc_extlist", CommaText(sbc_extlist));
  SetStringValue(list, "ifilter_extlist", CommaText(ifilter_extlist));
  SetStringValue(list, "extracttext_extlist", CommaText(extracttext_extlist));
  SetStringValue(list, "gif_preview_ext_list", CommaText(gif_preview_ext_list));
  SetStringValue(list, "explorer_preview_extlist", CommaText(explorer_preview_extlist));
  SortValues(list);
}

#include "config/KvIniFile.h"

TKvIniExtractPageLimit::~TKvIniExtractPageLimit() {
  for (int i = Limits.Count() - 1; i >= 0; --i) Limits.PutObject(i, nullptr);
}

void TKvIniExtractPageLimit::LoadPageLimits(const TKvIniFile& file) {
  TStringList names;
  file.ReadSection("ExtractPageLimit", names);
  for (int i = 0; i < names.Count(); ++i) {
    auto limit = std::make_unique<TIntegerObject>();
    limit->Value = file.ReadInteger("ExtractPageLimit", names[i], -1);
    Limits.AddObject(names[i], std::move(limit));
  }
}

void TKvIniExtractPageLimit::LoadFrom(const THashedStringList&) {
  throw Exception("TKvIniExtractPageLimit is loaded by LoadPageLimits");
}

void TKvIniExtractPageLimit::SaveTo(TRsValueList& list) {
  for (int i = 0; i < Limits.Count(); ++i)
    SetInt64Value(list, Limits[i], static_cast<const TIntegerObject*>(Limits.Objects(i))->Value);
  SortValues(list);
}
