// The configuration document's sections: the base every section derives from,
// with the value readers that give each key its default and conversion, and
// the document roots section.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Object.h"
#include "base/StringList.h"
#include "config/KestrovaRootUnit.h"
#include "config/KvDomainObjectUnit.h"
#include "diagnostics/RsClasses.h"

// Reports whether the owning document has been loaded and found valid.
using TGetLoadedEvent = std::function<void(bool& loaded)>;

// The main section's keys as the sections read them: the key names as they
// stand in the file, one entry each in file order, then one lower-cased
// name=value entry for every key with a non-empty value (the first of two
// equal names counts). Names compare without regard to case.
void BuildKeyList(THashedStringList& keyList, const std::vector<std::pair<std::string, std::string>>& keys);

class TKvIniSection : public TObject {
 public:
  explicit TKvIniSection(TGetLoadedEvent onGetLoaded) : OnGetLoaded(std::move(onGetLoaded)) {}

  // Checks the values read; raises on the first violation.
  virtual void Validate() = 0;
  // Writes every value under its key name.
  virtual void SaveTo(TRsValueList& list) = 0;
  // Reads every key of the section, with its default and conversion.
  virtual void LoadFrom(const THashedStringList& keyList) = 0;

  const TGetLoadedEvent OnGetLoaded;

  // A key with an empty value is never found.
  static bool FindValue(const THashedStringList& keyList, std::string_view name, std::string& value);
  static std::string ReadString(const THashedStringList& keyList, std::string_view name, std::string_view def);
  // A 32-bit integer of the system's integer syntax, widened; a value that
  // does not convert gives the low 32 bits of the default.
  static std::int64_t ReadInteger(const THashedStringList& keyList, std::string_view name, std::int64_t def);
  static double ReadFloat(const THashedStringList& keyList, std::string_view name, double def);
  // ReadString with every '/' of the result turned into '\'.
  static std::string ReadPath(const THashedStringList& keyList, std::string_view name, std::string_view def);
  // On exactly when the key reads as the integer 1.
  static bool ReadFlag(const THashedStringList& keyList, std::string_view name, bool def);
  // A comma-separated value split into the target (quotes removed, entries
  // trimmed), lower-cased first on request.
  static void ReadList(const THashedStringList& keyList, std::string_view name, std::string_view def,
                       TStringList& target, bool lowerCase, bool removeEmpty = true);
};

class TKvIniDocumentRoot : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;

  // Reads the numbered document roots; webTempDir is the web section's
  // temporary folder, which must lie outside every root.
  void LoadRoots(const THashedStringList& keyList, std::string_view webTempDir);
  // The document roots need the web temporary folder: LoadRoots reads them.
  void LoadFrom(const THashedStringList& keyList) override;
  // No document root or rzi_root may contain another.
  void Validate() override;
  void SaveTo(TRsValueList& list) override;

  TKestrovaRootList Roots;
};

// The full-text search engine the server talks to, its switches and the
// synchronisation interval.
class TKvIniSearchEngine : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  // hyperestraier_startup outside 0 to 2 becomes 1.
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override;
  void SaveTo(TRsValueList& list) override;

  bool lowercase_search = true;
  bool use_solr = false;
  bool page_search = false;
  double synchronize_task_time = 2.0;
  std::int32_t hyperestraier_startup = 1;
  std::int32_t hyperestraier_log_duration = 7;
  std::string searchengine_shards_algo = "path";
  std::string hyperestraier_user;
  std::string hyperestraier_password;
  std::string hyperestraier_url;
  bool aclsearch = false;
  bool aclsearch_usedeniedsearch = false;
  bool aclsearch_compresssid = false;
  std::int32_t filename_search_max_gramsize = 15;  // key "filename-search-max-gramsize"
};

// Limits and file-type lists of the text and page extraction. Sizes are held
// in bytes (configured in kilobytes), time-outs in milliseconds (configured in
// seconds).
class TKvIniConverter : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override {}
  void SaveTo(TRsValueList& list) override;

  bool use_sbc = false;
  bool ifilter_ignore_numeric = true;
  std::int64_t max_extract_text_file_size_kb = 0;  // negative configured: no limit
  std::int64_t max_extract_text_size_kb = 0;
  std::int64_t timeout_cad2txt = 0;
  std::int64_t timeout_xdoc2txt = 0;
  std::int64_t timeout_getifilter = 0;
  std::int64_t max_extract_page_file_size_kb = 0;  // negative configured: no limit
  std::int64_t timeout_mb2splitter = 0;
  std::int64_t timeout_xdw2txt = 0;
  std::string extractpage_extlist;
  THashedStringList extracttext_extlist;
  THashedStringList ifilter_extlist;
  THashedStringList sbc_extlist;
  THashedStringList gif_preview_ext_list;
  THashedStringList explorer_preview_extlist;
};

// The server's accounts: anonymous and guest accounts, Windows domains,
// administrators and the fixed lists of Windows users and groups.
class TKvIniSecurity : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override {}
  void SaveTo(TRsValueList& list) override;

  bool guestuser_enabled = false;
  std::string localguestuser_dbpath;
  std::string asp_dbpath;
  std::string guestuser_winuserid;
  std::string anonymous_domain;
  std::string guestuser_winpassword;
  std::string anonymous_user;
  std::string anonymous_passwd;
  THashedStringList windows_domain;
  TKvDomainObjectList fixed_groupid_list;
  TKvDomainObjectList fixed_userid_list;
  THashedStringList adminusers;
};

// The indexing service: port, threads, log and queue folders, the programs it
// watches, trusted clients and the Java runtime.
class TKvIniIdxSvr : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  // Also creates the queue and log folders when they are missing.
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override;
  void SaveTo(TRsValueList& list) override;

  // The programs watched when monitor-programlist is not configured, and
  // those whose memory use is watched, as name:number pairs.
  static const char kDefaultMonitorProgramList[];
  static const char kDefaultMemoryOverMonitorProgramList[];

  bool directory_change_notifier_disabled = false;
  std::int32_t portnum = 0;
  std::int32_t idxsvr_log_duration = 0;
  std::string idxserverlog_savepath;
  std::string kestrovaserver_url;
  std::string actionqueue_savepath;
  std::int32_t max_threadscount = 0;
  std::string monitor_programlist;             // key "monitor-programlist"
  std::string memoryover_monitor_programlist;  // key "memoryover-monitor-programlist"
  TStringList trusted_clients;                 // key "trusted-clients"
  std::int32_t idxsvr_queuestatus_intervalseconds = 0;
  std::string java_runtime_path;
  std::string java_home;
};

// Batch processing: work and log folders, thread counts, commit size and log
// intervals.
class TKvIniBatch : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override;
  void SaveTo(TRsValueList& list) override;

  // The folders as read; once the owning document is valid, asking also
  // creates a missing folder (and raises when that fails).
  std::string GetWorkDir() const;
  std::string GetLogDir() const;

  std::string batch_work_dir;
  std::string batch_log_dir;
  std::int32_t batch_log_interval = 0;
  std::int32_t batch_log_duration = 0;
  std::int32_t batch_put_threads = 0;
  std::int32_t batch_extracttext_threads = 0;
  std::int32_t batch_rzi_threads = 0;
  std::int32_t batch_commit_size = 0;

 private:
  std::string ExistingFolder(const std::string& folder) const;
};

// The server's web application: its folders, access logs, feature switches
// and limits.
class TKvIniWeb : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  // Also creates the access log summary folder when it is missing.
  void LoadFrom(const THashedStringList& keyList) override;
  // webdocroot must be an existing folder.
  void Validate() override;
  void SaveTo(TRsValueList& list) override;

  static const char kDefaultWebUrl[];

  bool artery = false;
  bool versioning = false;
  bool cms = false;
  std::int32_t max_phpmodules = 0;
  std::int32_t dbisam_connection_max_pool_size = 0;
  std::string exceldatareaderpath;
  std::string accesslog_dir;
  std::string cms_docroot;
  std::string webdocroot;
  std::string webtempdir;
  std::string temparchivefile_name;
  std::string crawlinipath;
  std::string webrootname;
  std::string weburl;
  std::int64_t image_cache_kb = 0;  // in bytes
  std::string ramdisk_drive;
  bool windows_authentication = false;
  std::string session_savepath;
  std::string accesslog_summary_dir;
  std::string flatsubdir_agents;
  THashedStringList file_description_option;
  THashedStringList file_officeproperties_option;
  THashedStringList file_comment_option;
  std::int64_t max_files_per_folder = 0;
};

#include "config/KvCustomSplitterConfUnit.h"
#include "config/KvSubNetMaskUnit.h"

// The on/off states of the web client's menu entries, by lower-case name.
class TKvMenuStatusList : public TObject {
 public:
  // A name already in the list keeps its first state.
  void Add(std::string_view name, bool on);
  void Clear() { Statuses.Clear(); }
  int Count() const { return Statuses.Count(); }
  // Empty, and off, for an index out of range.
  std::string GetName(int index) const;
  bool GetStatus(int index) const;

  THashedStringList Statuses;  // each entry's object a TBooleanObject
};

// What a click on a path link of the grid view does: the default action and,
// as a JSON object text, the extensions whose action differs from it.
struct TKvPathLinkActions {
  std::int32_t DefaultAction = -1;
  std::string ExtensionActions = "{}";
};

// Product identity, language, debug switch, local networks and the custom
// splitters.
class TKvIniMiscellaneous : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  // Raises for a custom splitter that is not a valid description; local
  // network entries that do not read are dropped.
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override {}
  void SaveTo(TRsValueList& list) override;

  bool debug = false;
  std::string productname = "ケストロバ";
  std::string lang = "ja";
  std::string filepropertydefpath;
  TKvSubNetMaskList localnetlist;
  std::string companyname;
  std::string productversion;
  TKvSplitterConf custom_splitters;  // keys custom_splitter, custom_splitter2, ...
  std::string profileroot;
};

// The keys that shape the server's web client. Nothing here raises: a value
// that does not convert takes the key's default.
class TKvIniWebInterface : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override {}
  void SaveTo(TRsValueList& list) override;

  // The codes of the path link actions: 1 showview, 2 directopen, 3 download,
  // 4 downloadopen; -1 for any other name (trimmed, case ignored).
  static std::int32_t ActionCode(std::string_view name);
  // Empty for a code outside 1 to 4.
  static std::string ActionName(std::int32_t code);

  TKvMenuStatusList menu_status;  // keys beginning with "menu_"
  bool show_index_thtml = false;
  bool show_thumb_navigator = false;
  bool use_template_thtml = false;
  bool force_zip_download = false;
  bool pagebookmark = false;
  bool showfileselector = false;
  std::int32_t dateselector_firstyear = 1980;  // key "dateselector_yearrange"
  std::int32_t max_subfolder = 63;
  std::int32_t filelist_maxsize_mb = 3;
  std::int32_t filelist_maxcount = 10;
  std::int32_t folder_view = 3;
  std::int32_t dateselector_lastyear = 2030;  // key "dateselector_yearrange"
  std::int32_t upload_field_count = 5;
  TKvPathLinkActions gridview_pathlink_type{1};
  TKvPathLinkActions gridview_pathlink_type_dclick{2};
  THashedStringList unable_directopen_extlist;
  // In bytes (configured in kilobytes); saturates at the 32-bit limits.
  std::int32_t max_read_text_file_size_kb = 2000 * 1024;
  std::string contextmenu_file = "[]";  // a JSON array text
  std::string contextmenu_folder = "[]";
  bool showdownloadlinkdialog = true;
  std::int32_t filelist_fixedfirst = -1;
  std::int32_t filelist_fixedviewtype = -1;
  std::int32_t filelist_fixedorder = -1;
  bool filelist_hidesubdir = false;
};

class TKvIniFile;

// The page extraction limits: the one section with an INI section of its own,
// read straight from the file. Any number of names, each with a limit.
class TKvIniExtractPageLimit : public TKvIniSection {
 public:
  using TKvIniSection::TKvIniSection;
  ~TKvIniExtractPageLimit() override;

  // Reads "ExtractPageLimit" in file order; a value that does not convert
  // gives -1, a repeated name a second entry.
  void LoadPageLimits(const TKvIniFile& file);
  // The limits are read from their own INI section: LoadPageLimits reads them.
  void LoadFrom(const THashedStringList& keyList) override;
  void Validate() override {}
  void SaveTo(TRsValueList& list) override;

  // The names as written, each with its TIntegerObject; lookups ignore case.
  THashedStringList Limits;
};

// The server's configuration document: finds the file, reads its main
// section, hands the keys to the ten sections, validates each, then checks
// the rules that span sections. Load never raises for a configuration error.
class TKestrovaIni : public TObject {
 public:
  TKestrovaIni();
  ~TKestrovaIni() override;

  // An empty name reads the document found at start (IniFileName).
  void Load(const std::string& FileName = "");
  void GetLoaded(bool& loaded) const { loaded = Valid; }

  bool Valid = false;
  std::string ErrorMessage;
  std::unique_ptr<TKvIniBatch> Batch;
  std::unique_ptr<TKvIniConverter> Converter;
  std::unique_ptr<TKvIniDocumentRoot> DocumentRoot;
  std::unique_ptr<TKvIniExtractPageLimit> ExtractPageLimit;
  std::unique_ptr<TKvIniIdxSvr> IdxSvr;
  std::unique_ptr<TKvIniMiscellaneous> Miscellaneous;
  std::unique_ptr<TKvIniSearchEngine> SearchEngine;
  std::unique_ptr<TKvIniSecurity> Security;
  std::unique_ptr<TKvIniWeb> Web;
  std::unique_ptr<TKvIniWebInterface> WebInterface;

  // "Kestrova" or "Main", whichever holds keys; raises when both or neither do.
  static std::string FindMainSection(const TKvIniFile& file);
  // Raises when the path lies in a document root or below an rzi_root.
  void CheckNotUnderRoots(const std::string& Path, const std::string& KeyName) const;
  // The folders must lie outside the roots (empty ones only when flagged)
  // and differ from each other.
  void CheckPaths(const std::vector<std::string>& Paths, const std::vector<std::string>& KeyNames,
                  const std::vector<bool>& AlwaysCheck) const;
  void CrossCheck();
};
