#include "config/KvIniPrinter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "base/NumberParse.h"
#include "common/RsUtil.h"
#include "config/KestrovaIniUnit.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// A value as the document must write it: the reader trims blanks around a
// value and removes one pair of matching quotes around it, so such a value
// goes into a pair of quotes of its own.
std::string DocumentValue(const std::string& value) {
  const bool quoted =
      value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
  if (!value.empty() && (quoted || IsBlank(value.front()) || IsBlank(value.back()))) return '"' + value + '"';
  return value;
}

std::string Joined(const std::vector<std::string>& pieces, char delimiter) {
  std::string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) out += delimiter;
    out += pieces[i];
  }
  return out;
}

std::vector<std::string> Entries(const TStringList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

// A list split at commas with the quotes removed: its entries hold neither.
std::string PlainList(const TStringList& list) { return Joined(Entries(list), ','); }

// A list split at commas that keeps empty entries. A comma at the end of the
// text gives no entry, so a last empty entry takes one more; where reading
// removes the first empty entry, one is put in front. An empty list with a
// default of its own is written as two quotes, which split into nothing.
std::string ListKeepingEmpty(const TStringList& list, bool firstEmptyRemoved, bool hasDefault) {
  std::vector<std::string> entries = Entries(list);
  if (entries.empty()) return hasDefault ? "\"\"" : "";
  if (firstEmptyRemoved && std::any_of(entries.begin(), entries.end(), [](const auto& e) { return e.empty(); }))
    entries.insert(entries.begin(), "");
  return Joined(entries, ',') + (entries.back().empty() ? "," : "");
}

// A piece of a list that also separates at blanks: in double quotes, each
// quote doubled, when it holds a blank, a quote or a delimiter.
std::string Piece(const std::string& piece, char delimiter) {
  const bool quote = std::any_of(piece.begin(), piece.end(), [delimiter](char c) {
    return (c != 0 && static_cast<unsigned char>(c) <= 32) || c == '"' || c == ',' || c == delimiter;
  });
  if (!quote) return piece;
  std::string out = "\"";
  for (char c : piece) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + '"';
}

// The JSON unit writes a control byte as a \u escape, which its reader takes
// as plain text. The JSON texts of the sections are read here with those
// escapes decoded, and written with control bytes as they are, which the
// reader keeps.

// The text of a string literal that quoteText wrote, from its opening quote
// at pos; pos ends after the closing quote.
std::string QuotedText(std::string_view json, std::size_t& pos) {
  std::string out;
  for (++pos; pos < json.size(); ++pos) {
    const char c = json[pos];
    if (platform::IsLeadByte(static_cast<unsigned char>(c)) && pos + 1 < json.size()) {
      out += c;
      out += json[++pos];
    } else if (c == '"') {
      ++pos;
      break;
    } else if (c != '\\' || pos + 1 >= json.size()) {
      out += c;
    } else if (const char e = json[++pos]; e == 'u' && pos + 4 < json.size()) {
      out += static_cast<char>(std::stoi(std::string(json.substr(pos + 1, 4)), nullptr, 16));
      pos += 4;
    } else {
      out += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (platform::IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < text.size()) {
      out += c;
      out += text[++i];
    } else if (c == '\n' || c == '\r') {
      out += c == '\n' ? "\\n" : "\\r";
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  }
  return out + '"';
}

// The keys of one section class. Lines sort by their group, which is the
// key's own name unless keys belong together in the order they are read.
class TSectionText {
 public:
  void Add(const std::string& name, const std::string& value) { FLines.push_back({name, name, value}); }
  void AddGrouped(const std::string& group, const std::string& name, const std::string& value) {
    FLines.push_back({group, name, value});
  }
  void Flag(const std::string& name, bool on) { Add(name, on ? "1" : "0"); }
  void Number(const std::string& name, std::int64_t value) { Add(name, std::to_string(value)); }

  std::string Text(const std::string& title, bool sorted) {
    if (sorted)
      std::stable_sort(FLines.begin(), FLines.end(), [](const TLine& a, const TLine& b) {
        return platform::CompareTextIgnoreCase(a.group, b.group) < 0;
      });
    std::string out = "; " + title + "\n";
    for (const TLine& line : FLines) out += line.name + "=" + DocumentValue(line.value) + "\n";
    return out;
  }

 private:
  struct TLine {
    std::string group;
    std::string name;
    std::string value;
  };
  std::vector<TLine> FLines;
};

std::string Numbered(const std::string& base, int n) { return n == 1 ? base : base + std::to_string(n); }

std::string Batch(const TKvIniBatch& s) {
  TSectionText t;
  t.Add("batch_work_dir", s.batch_work_dir);
  t.Add("batch_log_dir", s.batch_log_dir);
  t.Number("batch_commit_size", s.batch_commit_size);
  t.Number("batch_log_interval", s.batch_log_interval);
  t.Number("batch_put_threads", s.batch_put_threads);
  t.Number("batch_extracttext_threads", s.batch_extracttext_threads);
  t.Number("batch_rzi_threads", s.batch_rzi_threads);
  t.Number("batch_log_duration", s.batch_log_duration);
  return t.Text("KvIniBatch", true);
}

std::string Converter(const TKvIniConverter& s) {
  // A negative size limit is held as no limit at all.
  const auto kb = [](std::int64_t bytes) {
    return bytes == std::numeric_limits<std::int64_t>::max() ? -1 : bytes / 1024;
  };
  TSectionText t;
  t.Number("max_extract_text_file_size_kb", kb(s.max_extract_text_file_size_kb));
  t.Number("max_extract_page_file_size_kb", kb(s.max_extract_page_file_size_kb));
  t.Number("max_extract_text_size_kb", s.max_extract_text_size_kb / 1024);
  t.Flag("ifilter_ignore_numeric", s.ifilter_ignore_numeric);
  t.Number("timeout_xdoc2txt", s.timeout_xdoc2txt / 1000);
  t.Number("timeout_cad2txt", s.timeout_cad2txt / 1000);
  t.Number("timeout_xdw2txt", s.timeout_xdw2txt / 1000);
  t.Number("timeout_mb2splitter", s.timeout_mb2splitter / 1000);
  t.Number("timeout_getifilter", s.timeout_getifilter / 1000);
  t.Flag("use_sbc", s.use_sbc);
  t.Add("extractpage_extlist", s.extractpage_extlist);
  t.Add("ifilter_extlist", ListKeepingEmpty(s.ifilter_extlist, true, false));
  t.Add("sbc_extlist", ListKeepingEmpty(s.sbc_extlist, false, true));
  t.Add("extracttext_extlist", ListKeepingEmpty(s.extracttext_extlist, true, false));
  t.Add("gif_preview_ext_list", ListKeepingEmpty(s.gif_preview_ext_list, false, false));
  t.Add("explorer_preview_extlist", ListKeepingEmpty(s.explorer_preview_extlist, false, false));
  return t.Text("KvIniConverter", true);
}

std::string DocumentRoot(const TKvIniDocumentRoot& s) {
  TSectionText t;
  for (int i = 0; i < s.Roots.Count(); ++i) {
    const TKestrovaRoot& root = *s.Roots.GetItem(i);
    const std::string suffix = i == 0 ? "" : std::to_string(i + 1);
    t.Add("document_root" + suffix, root.Path());
    t.Add("rzi_root" + suffix, root.RziRoot());
    t.Add("document_root_alias" + suffix, root.Alias());
    t.Add("document_root_caption" + suffix, root.Caption());
    for (int m = 0; m < root.Patterns().Count(); ++m)
      t.Add(Numbered("document_root" + suffix + "_pattern", m + 1), root.Patterns()[m]);
  }
  return t.Text("KvIniDocumentRoot", false);
}

std::string IdxSvr(const TKvIniIdxSvr& s) {
  TSectionText t;
  t.Flag("directory_change_notifier_disabled", s.directory_change_notifier_disabled);
  t.Add("actionqueue_savepath", s.actionqueue_savepath);
  t.Number("idxsvr_log_duration", s.idxsvr_log_duration);
  t.Add("idxserverlog_savepath", s.idxserverlog_savepath);
  t.Number("max_threadscount", s.max_threadscount);
  t.Number("portnum", s.portnum);
  t.Add("kestrovaserver_url", s.kestrovaserver_url);
  t.Add("monitor-programlist", s.monitor_programlist);
  t.Add("memoryover-monitor-programlist", s.memoryover_monitor_programlist);
  t.Number("idxsvr_queuestatus_intervalseconds", s.idxsvr_queuestatus_intervalseconds);
  t.Add("trusted-clients", PlainList(s.trusted_clients));
  t.Add("java_home", s.java_home);
  t.Add("java_runtime_path", s.java_runtime_path);
  return t.Text("KvIniIdxSvr", true);
}

std::string Miscellaneous(const TKvIniMiscellaneous& s) {
  TSectionText t;
  t.Add("filepropertydefpath", s.filepropertydefpath);
  t.Add("lang", s.lang);
  t.Add("productname", s.productname);
  t.Add("productversion", s.productversion);
  t.Add("companyname", s.companyname);
  t.Add("profileroot", s.profileroot);
  t.Flag("debug", s.debug);
  // No network at all: an empty value would read as the default networks.
  t.Add("localnetlist", s.localnetlist.Texts().Count() == 0 ? "," : s.localnetlist.GetCommaText());
  for (int i = 0; i < s.custom_splitters.Plugins.Count(); ++i) {
    const TKvSplitterPluginConf& splitter = *s.custom_splitters.Plugins.GetItem(i);
    t.AddGrouped("custom_splitter", Numbered("custom_splitter", i + 1),
                 "{\"ext\":" + JsonString(CommaText(splitter.Extensions)) + ",\"program\":" +
                     JsonString(splitter.Program) + ",\"parameter\":" + JsonString(splitter.Parameter) + "}");
  }
  return t.Text("KvIniMiscellaneous", true);
}

std::string SearchEngine(const TKvIniSearchEngine& s) {
  TSectionText t;
  t.Add("hyperestraier_url", s.hyperestraier_url);
  t.Add("hyperestraier_user", s.hyperestraier_user);
  t.Add("hyperestraier_password", s.hyperestraier_password);
  t.Number("hyperestraier_startup", s.hyperestraier_startup);
  t.Number("hyperestraier_log_duration", s.hyperestraier_log_duration);
  t.Flag("lowercase_search", s.lowercase_search);
  t.Flag("use_solr", s.use_solr);
  t.Add("searchengine_shards_algo", s.searchengine_shards_algo);
  t.Add("synchronize_task_time", FloatToStr(s.synchronize_task_time));
  t.Flag("page_search", s.page_search);
  t.Flag("aclsearch", s.aclsearch);
  t.Flag("aclsearch_usedeniedsearch", s.aclsearch_usedeniedsearch);
  t.Flag("aclsearch_compresssid", s.aclsearch_compresssid);
  t.Number("filename-search-max-gramsize", s.filename_search_max_gramsize);
  return t.Text("KvIniSearchEngine", true);
}

// The accounts as Name@Domain. Such an entry reads its domain in capitals; a
// domain held otherwise is the one configured domain, which an account
// written without a domain gets.
std::string Accounts(const TKvDomainObjectList& list) {
  std::vector<std::string> entries;
  for (int d = 0; d < list.Count(); ++d) {
    const TKvDomainObject& domain = *list.GetItem(d);
    const bool written = platform::UpperCase(domain.Name()) == domain.Name();
    for (int u = 0; u < domain.Users.Count(); ++u)
      entries.push_back(domain.Users[u] + (written ? "@" + domain.Name() : ""));
  }
  return Joined(entries, ',');
}

std::string Security(const TKvIniSecurity& s) {
  TSectionText t;
  t.Add("adminusers", PlainList(s.adminusers));
  t.Add("anonymous_user", s.anonymous_user);
  t.Add("anonymous_passwd", s.anonymous_passwd);
  t.Add("anonymous_domain", s.anonymous_domain);
  t.Add("localguestuser_dbpath", s.localguestuser_dbpath);
  t.Add("asp_dbpath", s.asp_dbpath);
  t.Add("guestuser_winuserid", s.guestuser_winuserid);
  t.Add("guestuser_winpassword", s.guestuser_winpassword);
  t.Add("windows_domain", PlainList(s.windows_domain));
  t.Flag("guestuser_enabled", s.guestuser_enabled);
  t.Add("fixed_groupid_list", Accounts(s.fixed_groupid_list));
  t.Add("fixed_userid_list", Accounts(s.fixed_userid_list));
  return t.Text("KvIniSecurity", true);
}

std::string Web(const TKvIniWeb& s) {
  TSectionText t;
  t.Add("webrootname", s.webrootname);
  t.Add("weburl", s.weburl);
  t.Add("webtempdir", s.webtempdir);
  t.Add("webdocroot", s.webdocroot);
  t.Add("crawlinipath", s.crawlinipath);
  t.Number("dbisam_connection_max_pool_size", s.dbisam_connection_max_pool_size);
  t.Flag("versioning", s.versioning);
  t.Add("temparchivefile_name", s.temparchivefile_name);
  t.Flag("artery", s.artery);
  t.Flag("cms", s.cms);
  t.Add("cms_docroot", s.cms_docroot);
  t.Add("exceldatareaderpath", s.exceldatareaderpath);
  t.Number("max_phpmodules", s.max_phpmodules);
  t.Add("accesslog_dir", s.accesslog_dir);
  t.Add("accesslog_summary_dir", s.accesslog_summary_dir);
  t.Number("image_cache_kb", s.image_cache_kb / 1024);
  t.Add("ramdisk_drive", s.ramdisk_drive);
  t.Flag("windows_authentication", s.windows_authentication);
  t.Add("session_savepath", s.session_savepath);
  t.Add("flatsubdir_agents", s.flatsubdir_agents);
  t.Add("file_comment_option", PlainList(s.file_comment_option));
  t.Add("file_description_option", PlainList(s.file_description_option));
  t.Add("file_officeproperties_option", PlainList(s.file_officeproperties_option));
  t.Number("max_files_per_folder", s.max_files_per_folder);
  return t.Text("KvIniWeb", true);
}

// The default action under the base key, then the extensions with their
// actions under base2, base3, ...: one key per run of extensions with the
// same action, so that they read back in their order; where that takes more
// keys than are read, one key per action.
void PathLinks(TSectionText& t, const std::string& base, const TKvPathLinkActions& actions) {
  constexpr int kExtensionKeys = 9;
  t.AddGrouped(base, base, TKvIniWebInterface::ActionName(actions.DefaultAction));
  // The extensions' object: {"name":code,...}.
  const std::string& json = actions.ExtensionActions;
  std::vector<std::pair<std::int32_t, std::vector<std::string>>> runs;
  for (std::size_t pos = json.find('"'); pos < json.size(); pos = json.find('"', pos)) {
    const std::string name = QuotedText(json, pos);
    const std::int32_t code = std::atoi(json.c_str() + pos + 1);
    if (runs.empty() || runs.back().first != code) runs.push_back({code, {}});
    runs.back().second.push_back(Piece(name, ';'));
  }
  if (runs.size() > kExtensionKeys) {
    std::stable_sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < runs.size();)
      if (runs[i].first == runs[i - 1].first) {
        runs[i - 1].second.insert(runs[i - 1].second.end(), runs[i].second.begin(), runs[i].second.end());
        runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
  }
  int n = 2;
  for (const auto& [code, extensions] : runs)
    t.AddGrouped(base, base + std::to_string(n++),
                 TKvIniWebInterface::ActionName(code) + "," + Piece(Joined(extensions, ';'), ','));
}

// The entries of a context menu's JSON array of strings.
std::string ContextMenu(const std::string& array) {
  std::vector<std::string> entries;
  for (std::size_t pos = 0; pos < array.size();)
    if (array[pos] == '"')
      entries.push_back(QuotedText(array, pos));
    else
      ++pos;
  return Joined(entries, ',');
}

std::string WebInterface(const TKvIniWebInterface& s) {
  TSectionText t;
  for (int i = 0; i < s.menu_status.Count(); ++i)
    t.AddGrouped("menu_", s.menu_status.GetName(i), s.menu_status.GetStatus(i) ? "1" : "0");
  t.Add("dateselector_yearrange",
        std::to_string(s.dateselector_firstyear) + "," + std::to_string(s.dateselector_lastyear));
  t.Number("max_subfolder", s.max_subfolder);
  t.Flag("show_thumb_navigator", s.show_thumb_navigator);
  t.Number("folder_view", s.folder_view);
  t.Flag("force_zip_download", s.force_zip_download);
  t.Flag("pagebookmark", s.pagebookmark);
  t.Flag("show_index_thtml", s.show_index_thtml);
  t.Flag("showfileselector", s.showfileselector);
  t.Flag("showdownloadlinkdialog", s.showdownloadlinkdialog);
  t.Number("upload_field_count", s.upload_field_count);
  PathLinks(t, "gridview_pathlink_type", s.gridview_pathlink_type);
  PathLinks(t, "gridview_pathlink_type_dclick", s.gridview_pathlink_type_dclick);
  t.Flag("use_template_thtml", s.use_template_thtml);
  t.Number("filelist_maxsize_mb", s.filelist_maxsize_mb);
  t.Number("filelist_maxcount", s.filelist_maxcount);
  t.Add("contextmenu_file", ContextMenu(s.contextmenu_file));
  t.Add("contextmenu_folder", ContextMenu(s.contextmenu_folder));
  t.Add("unable_directopen_extlist", PlainList(s.unable_directopen_extlist));
  // The byte count is held at the largest 32-bit count from 2097152 KB up.
  const std::int32_t bytes = s.max_read_text_file_size_kb;
  t.Number("max_read_text_file_size_kb", bytes == std::numeric_limits<std::int32_t>::max() ? 2097152 : bytes / 1024);
  t.Number("filelist_fixedorder", s.filelist_fixedorder);
  t.Number("filelist_fixedviewtype", s.filelist_fixedviewtype);
  t.Number("filelist_fixedfirst", s.filelist_fixedfirst);
  t.Flag("filelist_hidesubdir", s.filelist_hidesubdir);
  return t.Text("KvIniWebInterface", true);
}

std::string ExtractPageLimit(const TKvIniExtractPageLimit& s) {
  TSectionText t;
  for (int i = 0; i < s.Limits.Count(); ++i)
    t.Number(s.Limits[i], static_cast<const TIntegerObject*>(s.Limits.Objects(i))->Value);
  return t.Text("KvIniExtractPageLimit", false);
}

}  // namespace

std::string KvIniDocumentText(const TKestrovaIni& ini) {
  return "[Kestrova]\n" + Batch(*ini.Batch) + Converter(*ini.Converter) + DocumentRoot(*ini.DocumentRoot) +
         IdxSvr(*ini.IdxSvr) + Miscellaneous(*ini.Miscellaneous) + SearchEngine(*ini.SearchEngine) +
         Security(*ini.Security) + Web(*ini.Web) + WebInterface(*ini.WebInterface) + "[ExtractPageLimit]\n" +
         ExtractPageLimit(*ini.ExtractPageLimit);
}
