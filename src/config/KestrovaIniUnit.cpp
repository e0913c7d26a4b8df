#include "config/KestrovaIniUnit.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "base/Exception.h"
#include "base/Format.h"
#include "base/NumberParse.h"
#include "common/RsUtil.h"
#include "config/KvVariants.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Locale.h"

void BuildKeyList(THashedStringList& keyList, const std::vector<std::pair<std::string, std::string>>& keys) {
  keyList.Clear();
  for (const auto& key : keys) keyList.Add(key.first);
  // One name=value entry per name, at the place of its first occurrence and
  // with its first value, looked up by the folded name as the list itself
  // does: setting the entries one by one would rebuild the list's hash for
  // every key.
  std::unordered_map<std::string, const std::string*> first;
  for (const auto& key : keys) first.emplace(platform::UpperCase(key.first), &key.second);
  std::unordered_set<std::string> written;
  for (const auto& key : keys) {
    std::string folded = platform::UpperCase(key.first);
    const std::string& value = *first.at(folded);
    if (written.insert(std::move(folded)).second && !value.empty())
      keyList.Add(platform::LowerCase(key.first) + "=" + value);
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

void TKvIniSecurity::LoadFrom(const THashedStringList& keys) {
  anonymous_passwd = ReadString(keys, "anonymous_passwd", "");
  anonymous_user = ReadString(keys, "anonymous_user", "");
  anonymous_domain = ReadString(keys, "anonymous_domain", "");
  localguestuser_dbpath = ReadPath(keys, "localguestuser_dbpath", DataFolder + "LOCAL_GUEST_DB");
  asp_dbpath = ReadPath(keys, "asp_dbpath", DataFolder + "ASP_DB");
  guestuser_winuserid = ReadString(keys, "guestuser_winuserid", "");
  guestuser_winpassword = ReadString(keys, "guestuser_winpassword", "");
  ReadList(keys, "windows_domain", "", windows_domain, false);
  ReadList(keys, "adminusers", "", adminusers, true);
  fixed_groupid_list.LoadFromText(ReadString(keys, "fixed_groupid_list", ""), "fixed_groupid_list", windows_domain,
                                  "GroupName@DomainName");
  fixed_userid_list.LoadFromText(ReadString(keys, "fixed_userid_list", ""), "fixed_userid_list", windows_domain,
                                 "UserName@DomainName");
  guestuser_enabled = ReadFlag(keys, "guestuser_enabled", false);
}

void TKvIniSecurity::SaveTo(TRsValueList& list) {
  SetStringValue(list, "adminusers", CommaText(adminusers));
  SetStringValue(list, "anonymous_user", anonymous_user);
  SetStringValue(list, "anonymous_passwd", anonymous_passwd);
  SetStringValue(list, "anonymous_domain", anonymous_domain);
  SetStringValue(list, "localguestuser_dbpath", localguestuser_dbpath);
  SetStringValue(list, "asp_dbpath", asp_dbpath);
  SetStringValue(list, "guestuser_winuserid", guestuser_winuserid);
  SetStringValue(list, "guestuser_winpassword", guestuser_winpassword);
  SetStringValue(list, "windows_domain", CommaText(windows_domain));
  SetBooleanValue(list, "guestuser_enabled", guestuser_enabled);
  SetStringValue(list, "fixed_groupid_list", fixed_groupid_list.GetText());
  SetStringValue(list, "fixed_userid_list", fixed_userid_list.GetText());
  SortValues(list);
}

const char TKvIniIdxSvr::kDefaultMonitorProgramList[] =
    "xdoc2txt.exe:30,cad2txt.exe:30,xdw2txt.exe:30,getifilter.exe:30,"
    "KvPdfConverter.exe:700,KvOfficeConverter.exe:700,KvImageConverter.exe:700,KvGifPreview.exe:700,"
    "KvExplorerPreview.exe:700,KvThumbnail.exe:700,KvPageExtractor.exe:700,KvTextExtractor.exe:700,"
    "KvSbcConverter.exe:700,KvMb2Splitter.exe:700,KvArchiveExtractor.exe:700,KvRziBuilder.exe:700,"
    "KvCrawler.exe:700,KvBatch.exe:700,KvAccessLogSummary.exe:700";
const char TKvIniIdxSvr::kDefaultMemoryOverMonitorProgramList[] =
    "KvPdfConverter.exe:200000000,KvOfficeConverter.exe:200000000,KvImageConverter.exe:200000000,"
    "KvGifPreview.exe:200000000,KvExplorerPreview.exe:200000000,KvThumbnail.exe:200000000,"
    "KvPageExtractor.exe:200000000,KvTextExtractor.exe:200000000,KvSbcConverter.exe:200000000,"
    "KvMb2Splitter.exe:200000000,KvArchiveExtractor.exe:200000000,KvRziBuilder.exe:200000000,"
    "KvCrawler.exe:200000000,KvBatch.exe:200000000,KvAccessLogSummary.exe:200000000";

namespace {

// A missing folder is created with its parents; a failure shows later, where
// the folder is used.
void EnsureFolder(const std::string& folder) {
  if (!platform::DirectoryExists(folder)) platform::CreateDirectories(folder);
}

}  // namespace

void TKvIniIdxSvr::LoadFrom(const THashedStringList& keys) {
  directory_change_notifier_disabled = ReadFlag(keys, "directory_change_notifier_disabled", false);
  actionqueue_savepath = ReadPath(keys, "actionqueue_savepath", DataFolder + "action");
  idxsvr_log_duration = static_cast<std::int32_t>(ReadInteger(keys, "idxsvr_log_duration", 7));
  idxserverlog_savepath = ReadPath(keys, "idxserverlog_savepath", DataFolder + "idxsvrlog");
  max_threadscount = static_cast<std::int32_t>(ReadInteger(keys, "max_threadscount", 1));
  portnum = static_cast<std::int32_t>(ReadInteger(keys, "portnum", 1980));
  kestrovaserver_url = ReadString(keys, "kestrovaserver_url", "");
  monitor_programlist = ReadString(keys, "monitor-programlist", "");
  memoryover_monitor_programlist = ReadString(keys, "memoryover-monitor-programlist", "");
  idxsvr_queuestatus_intervalseconds =
      static_cast<std::int32_t>(ReadInteger(keys, "idxsvr_queuestatus_intervalseconds", 300));
  ReadList(keys, "trusted-clients", "", trusted_clients, false);
  java_home = ReadPath(keys, "java_home", "");
  java_runtime_path = ReadPath(keys, "java_runtime_path", "");

  EnsureFolder(actionqueue_savepath);
  EnsureFolder(idxserverlog_savepath);
  if (max_threadscount <= 0) max_threadscount = 1;
  if (monitor_programlist.empty()) monitor_programlist = kDefaultMonitorProgramList;
  if (memoryover_monitor_programlist.empty()) memoryover_monitor_programlist = kDefaultMemoryOverMonitorProgramList;
}

void TKvIniIdxSvr::Validate() {
  if (idxsvr_log_duration < 2) throw Exception("idxsvr_log_durationは2以上の値を指定してください");
  if (max_threadscount > 100) throw Exception("max_threadscountに100より大きい数値を指定することはできません");
  if (!java_home.empty() && !platform::DirectoryExists(java_home)) RaiseError("java_homeフォルダが見つかりません");
  if (!java_runtime_path.empty() && !platform::FileExists(java_runtime_path))
    RaiseError("java_runtime_pathファイルが見つかりません");
}

void TKvIniIdxSvr::SaveTo(TRsValueList& list) {
  SetBooleanValue(list, "directory_change_notifier_disabled", directory_change_notifier_disabled);
  SetStringValue(list, "actionqueue_savepath", actionqueue_savepath);
  SetInt64Value(list, "idxsvr_log_duration", idxsvr_log_duration);
  SetInt64Value(list, "idxsvr_queuestatus_intervalseconds", idxsvr_queuestatus_intervalseconds);
  SetStringValue(list, "idxserverlog_savepath", idxserverlog_savepath);
  SetInt64Value(list, "max_threadscount", max_threadscount);
  SetInt64Value(list, "portnum", portnum);
  SetStringValue(list, "kestrovaserver_url", kestrovaserver_url);
  SetStringValue(list, "monitor-programlist", monitor_programlist);
  SetStringValue(list, "memoryover-monitor-programlist", memoryover_monitor_programlist);
  SetStringValue(list, "trusted-clients", CommaText(trusted_clients));
  SetStringValue(list, "java_home", java_home);
  SetStringValue(list, "java_runtime_path", java_runtime_path);
  SortValues(list);
}

void TKvIniBatch::LoadFrom(const THashedStringList& keys) {
  batch_work_dir = ReadString(keys, "batch_work_dir", DataFolder + "batch_work");
  batch_log_dir = ReadString(keys, "batch_log_dir", DataFolder + "batch_log");
  batch_commit_size = static_cast<std::int32_t>(ReadInteger(keys, "batch_commit_size", 10000));
  batch_log_interval = static_cast<std::int32_t>(ReadInteger(keys, "batch_log_interval", 10000));
  batch_put_threads = static_cast<std::int32_t>(ReadInteger(keys, "batch_put_threads", 1));
  batch_extracttext_threads = static_cast<std::int32_t>(ReadInteger(keys, "batch_extracttext_threads", 1));
  batch_rzi_threads = static_cast<std::int32_t>(ReadInteger(keys, "batch_rzi_threads", 1));
  batch_log_duration = static_cast<std::int32_t>(ReadInteger(keys, "batch_log_duration", 7));
}

std::string TKvIniBatch::ExistingFolder(const std::string& folder) const {
  bool loaded = false;
  if (OnGetLoaded) OnGetLoaded(loaded);
  if (!loaded) return folder;
  if (!platform::DirectoryExists(folder) && platform::CreateDirectories(folder) != 0)
    RaiseError("フォルダを作成できません.Folder=" + folder);
  return folder;
}

std::string TKvIniBatch::GetWorkDir() const { return ExistingFolder(batch_work_dir); }

std::string TKvIniBatch::GetLogDir() const { return ExistingFolder(batch_log_dir); }

void TKvIniBatch::Validate() {
  if (batch_log_duration < 2) throw Exception("batch_log_durationは2以上の値を指定してください");
}

void TKvIniBatch::SaveTo(TRsValueList& list) {
  SetStringValue(list, "batch_work_dir", batch_work_dir);
  SetStringValue(list, "batch_log_dir", batch_log_dir);
  SetInt64Value(list, "batch_commit_size", batch_commit_size);
  SetInt64Value(list, "batch_log_interval", batch_log_interval);
  SetInt64Value(list, "batch_put_threads", batch_put_threads);
  SetInt64Value(list, "batch_extracttext_threads", batch_extracttext_threads);
  SetInt64Value(list, "batch_rzi_threads", batch_rzi_threads);
  SetInt64Value(list, "batch_log_duration", batch_log_duration);
  SortValues(list);
}

// The application's path on the local web server.
const char TKvIniWeb::kDefaultWebUrl[] = "http://localhost/kestrova/";

void TKvIniWeb::LoadFrom(const THashedStringList& keys) {
  webrootname = ReadString(keys, "webrootname", "kestrova");
  weburl = ReadString(keys, "weburl", kDefaultWebUrl);
  webtempdir = ReadPath(keys, "webtempdir", DataFolder + "temp\\");
  webdocroot = ReadPath(keys, "webdocroot", "c:\\Program Files\\Apache Group\\Apache2\\htdocs\\kestrova");
  crawlinipath = ReadPath(keys, "crawlinipath", DataFolder + "crawl.ini");
  dbisam_connection_max_pool_size =
      static_cast<std::int32_t>(ReadInteger(keys, "dbisam_connection_max_pool_size", 100));
  versioning = ReadFlag(keys, "versioning", false);
  temparchivefile_name = ReadString(keys, "temparchivefile_name", "");
  artery = ReadFlag(keys, "artery", false);
  cms = ReadFlag(keys, "cms", false);
  cms_docroot = ReadString(keys, "cms_docroot", "");
  exceldatareaderpath = ReadString(keys, "exceldatareaderpath", "");
  max_phpmodules = static_cast<std::int32_t>(ReadInteger(keys, "max_phpmodules", 30));
  accesslog_dir = ReadString(keys, "accesslog_dir", "");
  accesslog_summary_dir = ReadString(keys, "accesslog_summary_dir", DataFolder + "accesslog_summary");
  image_cache_kb = ReadInteger(keys, "image_cache_kb", 2048) * 1024;
  ramdisk_drive = ReadString(keys, "ramdisk_drive", "");
  windows_authentication = ReadFlag(keys, "windows_authentication", false);
  session_savepath = SlashToBackslash(ReadString(keys, "session_savepath", ""));
  flatsubdir_agents = ReadString(keys, "flatsubdir_agents", "");
  max_files_per_folder = ReadInteger(keys, "max_files_per_folder", 2000);
  ReadList(keys, "file_comment_option", "", file_comment_option, true);
  ReadList(keys, "file_description_option", "", file_description_option, true);
  ReadList(keys, "file_officeproperties_option", "", file_officeproperties_option, true);
  EnsureFolder(accesslog_summary_dir);
}

void TKvIniWeb::Validate() {
  if (!platform::DirectoryExists(webdocroot))
    throw Exception("webdocrootが指定されていないか、存在しないフォルダが指定されています");
}

void TKvIniWeb::SaveTo(TRsValueList& list) {
  SetStringValue(list, "webrootname", webrootname);
  SetStringValue(list, "weburl", weburl);
  SetStringValue(list, "webtempdir", webtempdir);
  SetStringValue(list, "webdocroot", webdocroot);
  SetStringValue(list, "crawlinipath", crawlinipath);
  SetIntegerValue(list, "dbisam_connection_max_pool_size", dbisam_connection_max_pool_size);
  SetBooleanValue(list, "versioning", versioning);
  SetStringValue(list, "temparchivefile_name", temparchivefile_name);
  SetBooleanValue(list, "artery", artery);
  SetBooleanValue(list, "cms", cms);
  SetStringValue(list, "cms_docroot", cms_docroot);
  SetStringValue(list, "exceldatareaderpath", exceldatareaderpath);
  SetIntegerValue(list, "max_phpmodules", max_phpmodules);
  SetStringValue(list, "accesslog_dir", accesslog_dir);
  SetStringValue(list, "accesslog_summary_dir", accesslog_summary_dir);
  SetInt64Value(list, "image_cache_kb", image_cache_kb / 1024);
  SetStringValue(list, "ramdisk_drive", ramdisk_drive);
  SetBooleanValue(list, "windows_authentication", windows_authentication);
  SetStringValue(list, "session_savepath", session_savepath);
  SetStringValue(list, "flatsubdir_agents", flatsubdir_agents);
  SetStringValue(list, "file_comment_option", CommaText(file_comment_option));
  SetStringValue(list, "file_description_option", CommaText(file_description_option));
  SetStringValue(list, "file_officeproperties_option", CommaText(file_officeproperties_option));
  SetInt64Value(list, "max_files_per_folder", max_files_per_folder);
  SortValues(list);
}

#include <algorithm>
#include <limits>

#include "common/RsJson.h"

void TKvMenuStatusList::Add(std::string_view name, bool on) {
  const std::string lower = platform::LowerCase(name);
  if (Statuses.IndexOf(lower) >= 0) return;
  auto status = std::make_unique<TBooleanObject>();
  status->Value = on;
  Statuses.AddObject(lower, std::move(status));
}

std::string TKvMenuStatusList::GetName(int index) const {
  return index >= 0 && index < Count() ? Statuses[index] : std::string();
}

bool TKvMenuStatusList::GetStatus(int index) const {
  return index >= 0 && index < Count() && static_cast<const TBooleanObject*>(Statuses.Objects(index))->Value;
}

void TKvIniMiscellaneous::LoadFrom(const THashedStringList& keys) {
  filepropertydefpath = ReadPath(keys, "filepropertydefpath", DataFolder + "filepropertydef.cfg");
  lang = ReadString(keys, "lang", "ja");
  productname = ReadString(keys, "productname", "ケストロバ");
  productversion = ReadString(keys, "productversion", "");
  companyname = ReadString(keys, "companyname", "");
  profileroot = ReadPath(keys, "profileroot", "");
  debug = ReadFlag(keys, "debug", false);
  TStringList pieces;
  SetCommaText(pieces, ReadString(keys, "localnetlist", "192.168.0.0/24,127.0.0.0/8"));
  for (int i = 0; i < pieces.Count(); ++i) {
    const std::string_view piece = TrimBlanks(pieces[i]);
    if (!piece.empty()) localnetlist.AddText(piece);
  }
  custom_splitters.LoadFrom(keys);
}

void TKvIniMiscellaneous::SaveTo(TRsValueList& list) {
  SetStringValue(list, "filepropertydefpath", filepropertydefpath);
  SetStringValue(list, "lang", lang);
  SetStringValue(list, "productname", productname);
  SetStringValue(list, "productversion", productversion);
  SetStringValue(list, "companyname", companyname);
  SetStringValue(list, "profileroot", profileroot);
  SetBooleanValue(list, "debug", debug);
  SetStringValue(list, "localnetlist", localnetlist.GetCommaText());
  custom_splitters.SaveTo(list);
  SortValues(list);
}

namespace {

const char* const kActionNames[] = {"showview", "directopen", "download", "downloadopen"};
constexpr int kPathLinkKeys = 10;

std::int32_t Low32(std::int64_t value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

// Reads the numbered path link keys: an action alone, or with "*" or an empty
// entry among its extensions, sets the default (the first recognised one
// wins); an action with extensions maps each extension not mapped yet.
TKvPathLinkActions ReadPathLinks(const THashedStringList& keys, const std::string& base, std::int32_t fallback) {
  TKvPathLinkActions result;
  THashedStringList extensions;  // in the order first mapped, case ignored
  std::vector<std::int32_t> codes;
  TStringList parts, exts;
  for (int n = 1; n <= kPathLinkKeys; ++n) {
    SetCommaText(parts, TKvIniSection::ReadString(keys, base + Suffix(n), ""));
    if (parts.Count() == 2)
      SetCommaText(exts, parts[1], ';');
    else if (parts.Count() == 1)
      exts.Clear();
    else
      continue;  // nothing, or more than one comma
    const std::int32_t code = TKvIniWebInterface::ActionCode(parts[0]);
    bool setsDefault = exts.Count() == 0;
    for (int i = 0; i < exts.Count() && !setsDefault; ++i) setsDefault = exts[i].empty() || exts[i] == "*";
    if (setsDefault) {
      if (result.DefaultAction < 0) result.DefaultAction = code;
      continue;
    }
    for (int i = 0; i < exts.Count(); ++i) {
      if (extensions.IndexOf(exts[i]) >= 0) continue;
      // Mapped even when the action is unknown, so that a later key cannot
      // claim the extension.
      extensions.Add(exts[i]);
      codes.push_back(code);
    }
  }
  if (result.DefaultAction < 0) result.DefaultAction = fallback;
  TJSONObject object;
  for (int i = 0; i < extensions.Count(); ++i) {
    const std::int32_t code = codes[static_cast<std::size_t>(i)];
    if (code > 0 && code != result.DefaultAction) object.storeInteger(extensions[i], code);
  }
  result.ExtensionActions = object.toString();
  return result;
}

// Each action with extensions of its own under base2, base3, ..., grouped by
// action in code order.
void SavePathLinks(TRsValueList& list, const std::string& base, const TKvPathLinkActions& actions) {
  SetStringValue(list, base, TKvIniWebInterface::ActionName(actions.DefaultAction));
  TJSONObject object;
  object.parseText(actions.ExtensionActions, false);
  std::string groups[std::size(kActionNames)];
  const std::unique_ptr<TStringList> names = object.memberNames();
  for (int i = 0; i < names->Count(); ++i) {
    const std::int32_t code = object.requireInteger((*names)[i]);
    if (code < 1 || code > static_cast<std::int32_t>(std::size(kActionNames))) continue;
    std::string& group = groups[code - 1];
    if (!group.empty()) group += ';';
    group += (*names)[i];
  }
  int n = 2;
  for (std::size_t code = 1; code <= std::size(kActionNames); ++code)
    if (!groups[code - 1].empty())
      SetStringValue(list, base + std::to_string(n++), std::string(kActionNames[code - 1]) + "," + groups[code - 1]);
}

// The entries as a JSON array of strings, each quoted and escaped.
std::string ContextMenuArray(const std::string& value) {
  TStringList entries;
  SplitCommaText(entries, value, true, true);
  std::string out = "[";
  for (int i = 0; i < entries.Count(); ++i) {
    if (i > 0) out += ',';
    out += quoteText(entries[i]);
  }
  return out + "]";
}

std::string ContextMenuText(const std::string& array) {
  if (array.empty()) return "";
  TJSONArray elements;
  elements.parseText(array, false);
  std::string out;
  for (int i = 0; i < elements.elementCount(); ++i) {
    if (i > 0) out += ',';
    out += elements.requireText(i);
  }
  return out;
}

}  // namespace

std::int32_t TKvIniWebInterface::ActionCode(std::string_view name) {
  const std::string lower = platform::LowerCase(TrimBlanks(name));
  for (std::size_t i = 0; i < std::size(kActionNames); ++i)
    if (lower == kActionNames[i]) return static_cast<std::int32_t>(i + 1);
  return -1;
}

std::string TKvIniWebInterface::ActionName(std::int32_t code) {
  return code >= 1 && code <= static_cast<std::int32_t>(std::size(kActionNames)) ? kActionNames[code - 1] : "";
}

void TKvIniWebInterface::LoadFrom(const THashedStringList& keys) {
  TStringList years;
  SetCommaText(years, ReadString(keys, "dateselector_yearrange", ""));
  std::int32_t a = 1980, b = 2030;
  if (years.Count() >= 2) {
    if (!TryStrToInt(years[0], a)) a = 1980;
    if (!TryStrToInt(years[1], b)) b = 2030;
  }
  dateselector_firstyear = std::min(a, b);
  dateselector_lastyear = std::max(a, b);

  // Only the name=value entries carry a name; the bare key names are passed over.
  for (int i = 0; i < keys.Count(); ++i) {
    const std::string name = platform::LowerCase(keys.Names(i));
    if (name.rfind("menu_", 0) == 0) menu_status.Add(name, ReadFlag(keys, name, false));
  }

  max_subfolder = Low32(ReadInteger(keys, "max_subfolder", 63));
  show_thumb_navigator = ReadFlag(keys, "show_thumb_navigator", false);
  folder_view = Low32(ReadInteger(keys, "folder_view", 3));
  force_zip_download = ReadFlag(keys, "force_zip_download", false);
  pagebookmark = ReadFlag(keys, "pagebookmark", false);
  show_index_thtml = ReadFlag(keys, "show_index_thtml", false);
  showfileselector = ReadFlag(keys, "showfileselector", false);
  showdownloadlinkdialog = ReadFlag(keys, "showdownloadlinkdialog", true);
  upload_field_count = Low32(ReadInteger(keys, "upload_field_count", 5));
  gridview_pathlink_type = ReadPathLinks(keys, "gridview_pathlink_type", 1);
  gridview_pathlink_type_dclick = ReadPathLinks(keys, "gridview_pathlink_type_dclick", 2);
  use_template_thtml = ReadFlag(keys, "use_template_thtml", false);
  filelist_maxsize_mb = Low32(ReadInteger(keys, "filelist_maxsize_mb", 3));
  filelist_maxcount = Low32(ReadInteger(keys, "filelist_maxcount", 10));
  // 2097152 KB and more would not fit the 32-bit byte count: hold the largest
  // count instead of a wrapped, possibly negative one.
  const std::int64_t bytes = ReadInteger(keys, "max_read_text_file_size_kb", 2000) * 1024;
  max_read_text_file_size_kb = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      bytes, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  contextmenu_file = ContextMenuArray(ReadString(keys, "contextmenu_file", ""));
  contextmenu_folder = ContextMenuArray(ReadString(keys, "contextmenu_folder", ""));
  ReadList(keys, "unable_directopen_extlist", "", unable_directopen_extlist, false);
  if (upload_field_count < 1 || upload_field_count > 10) upload_field_count = 5;
  filelist_fixedorder = Low32(ReadInteger(keys, "filelist_fixedorder", -1));
  filelist_fixedviewtype = Low32(ReadInteger(keys, "filelist_fixedviewtype", -1));
  filelist_fixedfirst = Low32(ReadInteger(keys, "filelist_fixedfirst", -1));
  filelist_hidesubdir = ReadFlag(keys, "filelist_hidesubdir", false);
}

void TKvIniWebInterface::SaveTo(TRsValueList& list) {
  for (int i = 0; i < menu_status.Count(); ++i) SetBooleanValue(list, menu_status.GetName(i), menu_status.GetStatus(i));
  SetStringValue(list, "dateselector_yearrange",
                 std::to_string(dateselector_firstyear) + "," + std::to_string(dateselector_lastyear));
  SetInt64Value(list, "max_subfolder", max_subfolder);
  SetBooleanValue(list, "show_thumb_navigator", show_thumb_navigator);
  SetInt64Value(list, "folder_view", folder_view);
  SetBooleanValue(list, "force_zip_download", force_zip_download);
  SetBooleanValue(list, "pagebookmark", pagebookmark);
  SetBooleanValue(list, "show_index_thtml", show_index_thtml);
  SetBooleanValue(list, "showfileselector", showfileselector);
  SetBooleanValue(list, "showdownloadlinkdialog", showdownloadlinkdialog);
  SetInt64Value(list, "upload_field_count", upload_field_count);
  SavePathLinks(list, "gridview_pathlink_type", gridview_pathlink_type);
  SavePathLinks(list, "gridview_pathlink_type_dclick", gridview_pathlink_type_dclick);
  SetBooleanValue(list, "use_template_thtml", use_template_thtml);
  SetInt64Value(list, "filelist_maxsize_mb", filelist_maxsize_mb);
  SetInt64Value(list, "filelist_maxcount", filelist_maxcount);
  SetStringValue(list, "contextmenu_file", ContextMenuText(contextmenu_file));
  SetStringValue(list, "contextmenu_folder", ContextMenuText(contextmenu_folder));
  SetStringValue(list, "unable_directopen_extlist", CommaText(unable_directopen_extlist));
  SetInt64Value(list, "max_read_text_file_size_kb", max_read_text_file_size_kb / 1024);
  SetBooleanValue(list, "filelist_hidesubdir", filelist_hidesubdir);
  SortValues(list);
}

#include "config/KvIniFile.h"
#include "config/KvVariants.h"

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

TKestrovaIni::TKestrovaIni() {
  TGetLoadedEvent loaded = [this](bool& value) { GetLoaded(value); };
  Batch = std::make_unique<TKvIniBatch>(loaded);
  Converter = std::make_unique<TKvIniConverter>(loaded);
  DocumentRoot = std::make_unique<TKvIniDocumentRoot>(loaded);
  ExtractPageLimit = std::make_unique<TKvIniExtractPageLimit>(loaded);
  IdxSvr = std::make_unique<TKvIniIdxSvr>(loaded);
  Miscellaneous = std::make_unique<TKvIniMiscellaneous>(loaded);
  SearchEngine = std::make_unique<TKvIniSearchEngine>(loaded);
  Security = std::make_unique<TKvIniSecurity>(loaded);
  Web = std::make_unique<TKvIniWeb>(loaded);
  WebInterface = std::make_unique<TKvIniWebInterface>(loaded);
}

TKestrovaIni::~TKestrovaIni() {
  Batch.reset();
  Converter.reset();
  DocumentRoot.reset();
  ExtractPageLimit.reset();
  IdxSvr.reset();
  Miscellaneous.reset();
  SearchEngine.reset();
  Security.reset();
  Web.reset();
  WebInterface.reset();
}

std::string TKestrovaIni::FindMainSection(const TKvIniFile& file) {
  const bool kestrova = file.SectionExists("Kestrova");
  const bool main = file.SectionExists("Main");
  if (kestrova && main)
    throw Exception(Format("設定ファイルに複数のSection(%s,%s)が定義されています", {"Kestrova", "Main"}));
  if (!kestrova && !main)
    throw Exception(Format("設定ファイルにSection(%sもしくは%s)が定義されていません", {"Kestrova", "Main"}));
  return kestrova ? "Kestrova" : "Main";
}

void TKestrovaIni::Load(const std::string& FileName) {
  const std::string name = FileName.empty() ? IniFileName : FileName;
  ErrorMessage.clear();
  Valid = false;
  // Every error of a load ends it with its message, the runtime's own (a
  // folder that cannot be created, exhausted memory) included.
  try {
    const TKvIniFile file(name);
    THashedStringList keyList;
    const std::string section = FindMainSection(file);
    TStringList names;
    file.ReadSection(section, names);
    std::vector<std::pair<std::string, std::string>> keys;
    keys.reserve(static_cast<std::size_t>(names.Count()));
    for (int i = 0; i < names.Count(); ++i) keys.emplace_back(names[i], file.ReadString(section, names[i], ""));
    BuildKeyList(keyList, keys);

    ExtractPageLimit->LoadPageLimits(file);
    // The document roots must lie clear of the web temporary folder, so the
    // web section goes first.
    Web->LoadFrom(keyList);
    WebInterface->LoadFrom(keyList);
    Batch->LoadFrom(keyList);
    Converter->LoadFrom(keyList);
    DocumentRoot->LoadRoots(keyList, Web->webtempdir);
    IdxSvr->LoadFrom(keyList);
    Miscellaneous->LoadFrom(keyList);
    SearchEngine->LoadFrom(keyList);
    Security->LoadFrom(keyList);

    Batch->Validate();
    Converter->Validate();
    DocumentRoot->Validate();
    ExtractPageLimit->Validate();
    IdxSvr->Validate();
    Miscellaneous->Validate();
    SearchEngine->Validate();
    Security->Validate();
    Web->Validate();
    WebInterface->Validate();

    CrossCheck();
    Valid = true;
  } catch (const std::exception& e) {
    ErrorMessage = e.what();
  }
}

void TKestrovaIni::CheckNotUnderRoots(const std::string& Path, const std::string& KeyName) const {
  if (DocumentRoot->Roots.IsUnderDocumentRoot(Path))
    throw Exception(KeyName + "がいずれかのdocument_root以下に指定されています.path=" + Path);
  if (DocumentRoot->Roots.IsUnderRziRoot(Path))
    throw Exception(KeyName + "がいずれかのrzi_root以下に指定されています.path=" + Path);
}

namespace {

// One trailing '\' removed, judged on characters so that the second byte of
// a double-byte character is never taken for it.
std::string WithoutTrailingDelimiter(const std::string& path) {
  std::u16string wide = platform::ToWide(path);
  if (!wide.empty() && wide.back() == u'\\') wide.pop_back();
  return platform::FromWide(wide);
}

}  // namespace

void TKestrovaIni::CheckPaths(const std::vector<std::string>& Paths, const std::vector<std::string>& KeyNames,
                              const std::vector<bool>& AlwaysCheck) const {
  for (std::size_t i = 0; i < Paths.size(); ++i)
    if (AlwaysCheck[i] || !Paths[i].empty()) CheckNotUnderRoots(Paths[i], KeyNames[i]);
  std::vector<std::string> bare;
  bare.reserve(Paths.size());
  for (const std::string& path : Paths) bare.push_back(WithoutTrailingDelimiter(path));
  for (std::size_t i = 0; i < bare.size(); ++i)
    for (std::size_t j = 0; j < bare.size(); ++j)
      if (i != j && platform::SameTextIgnoreCase(bare[i], bare[j]))
        RaiseError(KeyNames[i] + "と" + KeyNames[j] + "に同じパスを指定することは許可されていません.");
}

void TKestrovaIni::CrossCheck() {
  CheckPaths({Web->accesslog_dir, IdxSvr->actionqueue_savepath, IdxSvr->idxserverlog_savepath, Web->webtempdir,
              Web->webdocroot, Batch->GetWorkDir(), Batch->GetLogDir()},
             {"accesslog_dir", "actionqueue_savepath", "idxserverlog_savepath", "webtempdir", "webdocroot",
              "batch_work_dir", "batch_log_dir"},
             {false, true, true, true, true, true, true});
  if (Web->windows_authentication && Security->fixed_groupid_list.Count() > 0)
    throw Exception("windows_authentication=1の場合にはfixed_groupid_listは使用できません");
}
