// The sections whose defaults lie in the product's data folder, and which
// create folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "base/Exception.h"
#include "common/RsUtil.h"
#include "config/KestrovaIniUnit.h"
#include "config/KvVariants.h"
#include "support/TestSupport.h"

using testing_support::Exists;
using testing_support::TempDir;

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

void LoadSection(TKvIniSection& section, const Keys& keys) {
  THashedStringList list;
  BuildKeyList(list, keys);
  section.LoadFrom(list);
}

// The message of the first rule Validate reports ("" when none), prefixed
// with "!" when it was raised as the system's own exception.
std::string ValidateError(TKvIniSection& section) {
  try {
    section.Validate();
  } catch (const ERansoException& e) {
    return "!" + e.Message();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

std::map<std::string, std::pair<int, std::string>> Save(TKvIniSection& section) {
  TRsValueList list;
  section.SaveTo(list);
  std::map<std::string, std::pair<int, std::string>> saved;
  for (int i = 0; i < list.Items.Count(); ++i) {
    auto* value = static_cast<TRsAbstractObject*>(list.Items.Objects(i));
    saved[list.Items[i]] = {value->ValueType, value->GetAsString()};
  }
  return saved;
}

constexpr int kString = 0, kBoolean = 1, kInteger = 2, kInt64 = 3;

// Points DataFolder at a fresh folder for one test.
class FolderSectionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FOld = DataFolder;
    DataFolder = dir.System() + "\\";
  }
  void TearDown() override { DataFolder = FOld; }

  TempDir dir;

 private:
  std::string FOld;
};

TEST_F(FolderSectionsTest, SecurityDefaultsAndLists) {
  TKvIniSecurity s(nullptr);
  LoadSection(s, {});
  EXPECT_EQ(s.localguestuser_dbpath, DataFolder + "LOCAL_GUEST_DB");
  EXPECT_EQ(s.asp_dbpath, DataFolder + "ASP_DB");
  EXPECT_EQ(
      s.anonymous_user + s.anonymous_passwd + s.anonymous_domain + s.guestuser_winuserid + s.guestuser_winpassword, "");
  EXPECT_EQ(
      s.windows_domain.Count() + s.adminusers.Count() + s.fixed_groupid_list.Count() + s.fixed_userid_list.Count(), 0);
  EXPECT_FALSE(s.guestuser_enabled);

  TKvIniSecurity t(nullptr);
  LoadSection(t, {{"adminusers", "Admin, \"Userb\""},
                  {"windows_domain", "CORP"},
                  {"fixed_groupid_list", "staff"},
                  {"fixed_userid_list", "a@x"},
                  {"localguestuser_dbpath", "D:/db/guest"},
                  {"guestuser_enabled", "1"}});
  EXPECT_EQ(t.adminusers.Text(), "admin\r\nuserb\r\n");
  ASSERT_EQ(t.fixed_groupid_list.Count(), 1);
  EXPECT_EQ(t.fixed_groupid_list.GetText(), "STAFF@CORP");
  EXPECT_EQ(t.localguestuser_dbpath, "D:\\db\\guest");
  EXPECT_TRUE(t.guestuser_enabled);

  const auto saved = Save(t);
  EXPECT_EQ(saved.size(), 12u);
  EXPECT_EQ(saved.at("adminusers"), std::make_pair(kString, std::string("admin,userb")));
  EXPECT_EQ(saved.at("fixed_groupid_list"), std::make_pair(kString, std::string("STAFF@CORP")));
  EXPECT_EQ(saved.at("fixed_userid_list"), std::make_pair(kString, std::string("A@X")));
  EXPECT_EQ(saved.at("guestuser_enabled"), std::make_pair(kBoolean, std::string("True")));
}

TEST_F(FolderSectionsTest, SecurityEntryWithoutDomainAmongSeveral) {
  TKvIniSecurity s(nullptr);
  EXPECT_THROW(LoadSection(s, {{"windows_domain", "A,B"}, {"fixed_groupid_list", "staff"}}), Exception);
  try {
    TKvIniSecurity u(nullptr);
    LoadSection(u, {{"windows_domain", "A,B"}, {"fixed_userid_list", "usera"}});
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "windows_domainが複数設定されている場合、fixed_userid_listにはドメイン名を指定しなければなりません。ex. "
              "UserName@DomainName");
  }
}

TEST_F(FolderSectionsTest, IdxSvrDefaultsAndFolders) {
  TKvIniIdxSvr s(nullptr);
  LoadSection(s, {});
  EXPECT_EQ(s.actionqueue_savepath, DataFolder + "action");
  EXPECT_EQ(s.idxserverlog_savepath, DataFolder + "idxsvrlog");
  EXPECT_TRUE(Exists(dir.Native("action")));
  EXPECT_TRUE(Exists(dir.Native("idxsvrlog")));
  EXPECT_EQ(s.portnum, 1980);
  EXPECT_EQ(s.max_threadscount, 1);
  EXPECT_EQ(s.idxsvr_log_duration, 7);
  EXPECT_EQ(s.idxsvr_queuestatus_intervalseconds, 300);
  TStringList pairs;
  SplitCommaText(pairs, s.monitor_programlist, true, true);
  EXPECT_EQ(pairs.Count(), 19);
  SplitCommaText(pairs, s.memoryover_monitor_programlist, true, true);
  EXPECT_EQ(pairs.Count(), 15);
  for (int i = 0; i < pairs.Count(); ++i) EXPECT_NE(pairs[i].find(":200000000"), std::string::npos) << pairs[i];
  EXPECT_EQ(ValidateError(s), "");

  // Folders named by keys are created with their parents.
  TKvIniIdxSvr t(nullptr);
  LoadSection(t, {{"actionqueue_savepath", dir.Native("q/deep")}, {"monitor-programlist", "x.exe:1"}});
  EXPECT_EQ(t.actionqueue_savepath, dir.System("q\\deep"));
  EXPECT_TRUE(Exists(dir.Native("q/deep")));
  EXPECT_EQ(t.monitor_programlist, "x.exe:1");
}

TEST_F(FolderSectionsTest, IdxSvrRules) {
  std::filesystem::create_directory(dir.Native("jre"));
  testing_support::WriteFile(dir.Native("java"), "");
  const struct {
    Keys keys;
    std::string message;
  } cases[] = {
      {{{"max_threadscount", "0"}}, ""},
      {{{"max_threadscount", "-5"}}, ""},
      {{{"max_threadscount", "100"}}, ""},
      {{{"max_threadscount", "101"}}, "max_threadscountに100より大きい数値を指定することはできません"},
      {{{"idxsvr_log_duration", "1"}}, "idxsvr_log_durationは2以上の値を指定してください"},
      {{{"idxsvr_log_duration", "abc"}}, ""},
      {{{"java_home", dir.Native("jre")}, {"java_runtime_path", dir.Native("java")}}, ""},
      {{{"java_home", dir.Native("java")}}, "!java_homeフォルダが見つかりません"},
      {{{"java_runtime_path", dir.Native("jre")}}, "!java_runtime_pathファイルが見つかりません"},
  };
  for (const auto& c : cases) {
    TKvIniIdxSvr s(nullptr);
    LoadSection(s, c.keys);
    EXPECT_EQ(ValidateError(s), c.message) << c.keys[0].first << "=" << c.keys[0].second;
  }
  TKvIniIdxSvr s(nullptr);
  LoadSection(s, {{"max_threadscount", "-5"}, {"trusted-clients", "Host1, \"10.0.0.2\""}});
  const auto saved = Save(s);
  EXPECT_EQ(saved.at("max_threadscount"), std::make_pair(kInt64, std::string("1")));
  EXPECT_EQ(saved.at("trusted-clients"), std::make_pair(kString, std::string("Host1,10.0.0.2")));
  EXPECT_EQ(saved.at("directory_change_notifier_disabled"), std::make_pair(kBoolean, std::string("False")));
}

TEST_F(FolderSectionsTest, BatchFoldersOnlyOnceTheDocumentIsValid) {
  bool valid = false;
  TKvIniBatch s([&](bool& loaded) { loaded = valid; });
  LoadSection(s, {});
  EXPECT_EQ(s.batch_work_dir, DataFolder + "batch_work");
  EXPECT_EQ(s.batch_log_dir, DataFolder + "batch_log");
  EXPECT_EQ(s.batch_commit_size, 10000);
  EXPECT_EQ(s.batch_log_interval, 10000);
  EXPECT_EQ(s.batch_put_threads + s.batch_extracttext_threads + s.batch_rzi_threads, 3);
  EXPECT_EQ(s.batch_log_duration, 7);

  EXPECT_EQ(s.GetWorkDir(), DataFolder + "batch_work");
  EXPECT_FALSE(Exists(dir.Native("batch_work")));
  valid = true;
  EXPECT_EQ(s.GetWorkDir(), DataFolder + "batch_work");
  EXPECT_TRUE(Exists(dir.Native("batch_work")));
  EXPECT_FALSE(Exists(dir.Native("batch_log")));
  s.GetLogDir();
  EXPECT_TRUE(Exists(dir.Native("batch_log")));

  // A folder that cannot be created.
  testing_support::WriteFile(dir.Native("file"), "");
  TKvIniBatch t([](bool& loaded) { loaded = true; });
  LoadSection(t, {{"batch_work_dir", dir.System("file\\sub")}});
  try {
    t.GetWorkDir();
    FAIL();
  } catch (const ERansoException& e) {
    EXPECT_EQ(e.Message(), "フォルダを作成できません.Folder=" + dir.System("file\\sub"));
  }
}

TEST_F(FolderSectionsTest, BatchValuesAndRule) {
  for (const auto& [value, message] :
       std::vector<std::pair<std::string, std::string>>{{"2", ""},
                                                        {"1", "batch_log_durationは2以上の値を指定してください"},
                                                        {"-3", "batch_log_durationは2以上の値を指定してください"}}) {
    TKvIniBatch s(nullptr);
    LoadSection(s, {{"batch_log_duration", value}});
    EXPECT_EQ(ValidateError(s), message) << value;
  }
  TKvIniBatch s(nullptr);
  LoadSection(s, {{"batch_work_dir", "D:/work"}, {"batch_commit_size", "0"}});
  EXPECT_EQ(s.batch_work_dir, "D:/work");  // no '/' replacement
  const auto saved = Save(s);
  EXPECT_EQ(saved.size(), 8u);
  EXPECT_EQ(saved.at("batch_work_dir"), std::make_pair(kString, std::string("D:/work")));
  EXPECT_EQ(saved.at("batch_commit_size"), std::make_pair(kInt64, std::string("0")));
}

TEST_F(FolderSectionsTest, WebDefaultsAndConversions) {
  TKvIniWeb s(nullptr);
  LoadSection(s, {});
  EXPECT_EQ(s.webrootname, "kestrova");
  EXPECT_EQ(s.weburl, "http://localhost/kestrova/");
  EXPECT_EQ(s.webtempdir, DataFolder + "temp\\");
  EXPECT_EQ(s.webdocroot, "c:\\Program Files\\Apache Group\\Apache2\\htdocs\\kestrova");
  EXPECT_EQ(s.crawlinipath, DataFolder + "crawl.ini");
  EXPECT_EQ(s.accesslog_dir, "");
  EXPECT_EQ(s.accesslog_summary_dir, DataFolder + "accesslog_summary");
  EXPECT_TRUE(Exists(dir.Native("accesslog_summary")));
  EXPECT_EQ(s.image_cache_kb, 2097152);
  EXPECT_EQ(s.dbisam_connection_max_pool_size, 100);
  EXPECT_EQ(s.max_phpmodules, 30);
  EXPECT_EQ(s.max_files_per_folder, 2000);
  EXPECT_FALSE(s.windows_authentication);

  TKvIniWeb t(nullptr);
  LoadSection(t, {{"accesslog_dir", "D:/logs"},
                  {"image_cache_kb", "4"},
                  {"windows_authentication", "yes"},
                  {"file_comment_option", "Txt, DOC,,pdf"},
                  {"session_savepath", "D:/s"},
                  {"webtempdir", "D:/t/"},
                  {"accesslog_summary_dir", dir.Native("sum/a")}});
  EXPECT_EQ(t.accesslog_dir, "D:/logs");
  EXPECT_EQ(t.image_cache_kb, 4096);
  EXPECT_FALSE(t.windows_authentication);
  EXPECT_EQ(t.file_comment_option.Text(), "txt\r\ndoc\r\npdf\r\n");
  EXPECT_EQ(t.session_savepath, "D:\\s");
  EXPECT_EQ(t.webtempdir, "D:\\t\\");
  EXPECT_TRUE(Exists(dir.Native("sum/a")));

  TKvIniWeb u(nullptr);
  LoadSection(u, {{"image_cache_kb", "abc"}, {"windows_authentication", "1"}});
  EXPECT_EQ(u.image_cache_kb, 2097152);
  EXPECT_TRUE(u.windows_authentication);

  const auto saved = Save(t);
  EXPECT_EQ(saved.size(), 24u);
  EXPECT_EQ(saved.at("image_cache_kb"), std::make_pair(kInt64, std::string("4")));
  EXPECT_EQ(saved.at("max_phpmodules"), std::make_pair(kInteger, std::string("30")));
  EXPECT_EQ(saved.at("max_files_per_folder"), std::make_pair(kInt64, std::string("2000")));
  EXPECT_EQ(saved.at("file_comment_option"), std::make_pair(kString, std::string("txt,doc,pdf")));
  EXPECT_EQ(saved.at("windows_authentication"), std::make_pair(kBoolean, std::string("False")));
}

TEST_F(FolderSectionsTest, WebDocRootMustBeAFolder) {
  std::filesystem::create_directory(dir.Native("htdocs"));
  testing_support::WriteFile(dir.Native("page"), "");
  const std::string message = "webdocrootが指定されていないか、存在しないフォルダが指定されています";
  for (const auto& [root, expected] : std::vector<std::pair<std::string, std::string>>{
           {dir.Native("htdocs"), ""}, {dir.Native("page"), message}, {dir.Native("none"), message}}) {
    TKvIniWeb s(nullptr);
    LoadSection(s, {{"webdocroot", root}});
    EXPECT_EQ(ValidateError(s), expected) << root;
  }
  TKvIniWeb s(nullptr);
  LoadSection(s, {});
  EXPECT_EQ(ValidateError(s), message);  // the default names a folder no POSIX system has
}

}  // namespace
