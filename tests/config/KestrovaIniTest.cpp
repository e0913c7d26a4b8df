// The configuration document read from files: the main section, the key
// list, the loading and validation order and the checks across sections.
#include <gtest/gtest.h>

#include <string>

#include "ReadsBackTheSame.h"
#include "config/KestrovaIniUnit.h"
#include "config/KvVariants.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "support/TestSupport.h"

namespace {

using testing_support::TempDir;

class KestrovaIniTest : public ::testing::Test {
 protected:
  KestrovaIniTest() : FOldDataFolder(DataFolder) {
    // The defaults of the folders lie in a folder of the test's own.
    DataFolder = dir.System("data") + "\\";
    platform::CreateDirectories(dir.System("web"));
  }
  ~KestrovaIniTest() override { DataFolder = FOldDataFolder; }

  // A folder inside the test's folder, as the document writes it.
  std::string P(const std::string& name) const { return dir.System(name); }

  // Loads the text as the whole file; the error message, empty when valid.
  std::string Load(const std::string& text) {
    testing_support::WriteFile(dir.Native("kestrova.ini"), text);
    ini.Load(P("kestrova.ini"));
    EXPECT_EQ(ini.Valid, ini.ErrorMessage.empty()) << ini.ErrorMessage;
    if (ini.Valid) ExpectReadsBackTheSame(ini, dir);
    return ini.ErrorMessage;
  }
  // A main section with the web document root in place and the given lines.
  std::string LoadMain(const std::string& lines) { return Load("[Kestrova]\nwebdocroot=" + P("web") + "\n" + lines); }

  TempDir dir;
  TKestrovaIni ini;

 private:
  std::string FOldDataFolder;
};

const char kBoth[] = "設定ファイルに複数のSection(Kestrova,Main)が定義されています";
const char kNeither[] = "設定ファイルにSection(KestrovaもしくはMain)が定義されていません";

TEST_F(KestrovaIniTest, MainSectionChoice) {
  const std::string root = "webdocroot=" + P("web") + "\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"[main]\n" + root, ""},
      {"[Kestrova]\n" + root + "[Main]\n", ""},
      {"[Main]\n; nothing\n[KESTROVA]\n" + root, ""},
      {"[Kestrova]\n" + root + "[Main]\na=1\n", kBoth},
      {"[Other]\n" + root, kNeither},
      {"", kNeither},
  };
  for (const auto& c : cases) {
    TKestrovaIni fresh;
    testing_support::WriteFile(dir.Native("kestrova.ini"), c.text);
    fresh.Load(P("kestrova.ini"));
    EXPECT_EQ(fresh.ErrorMessage, c.error) << c.text;
    EXPECT_EQ(fresh.Valid, c.error.empty()) << c.text;
    if (fresh.Valid) ExpectReadsBackTheSame(fresh, dir);
  }
  TKestrovaIni missing;
  missing.Load(P("none.ini"));
  EXPECT_FALSE(missing.Valid);
  EXPECT_EQ(missing.ErrorMessage, kNeither);
}

TEST_F(KestrovaIniTest, KeyListNamesAndValues) {
  ASSERT_EQ(Load("[Kestrova]\nWebDocRoot=" + P("web") + "\nwebtempdir=\naccesslog_dir=" + P("logs") +
                 "\nACCESSLOG_DIR=" + P("second") + "\n"),
            "");
  EXPECT_EQ(ini.Web->webdocroot, P("web"));
  EXPECT_EQ(ini.Web->webtempdir, DataFolder + "temp\\");
  EXPECT_EQ(ini.Web->accesslog_dir, P("logs"));
}

// The server reads these through its profile functions: quotes around a
// path go, and a document saved as UTF-16 or UTF-8 with a byte-order mark
// reads as one in the system code page.
TEST_F(KestrovaIniTest, QuotedPathsAndUnicodeDocumentsLoad) {
  const std::string text = "[Kestrova]\r\nwebdocroot=\"" + P("web") + "\"\r\naccesslog_dir='" + P("logs") + "'\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : platform::ToWide(text)) utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  for (const std::string& document : {text, utf16, "\xEF\xBB\xBF" + text}) {
    ASSERT_EQ(Load(document), "");
    EXPECT_EQ(ini.Web->webdocroot, P("web"));
    EXPECT_EQ(ini.Web->accesslog_dir, P("logs"));
  }
}

TEST_F(KestrovaIniTest, PageLimitsComeFromTheirOwnSection) {
  ASSERT_EQ(LoadMain("pdf=9\n[ExtractPageLimit]\npdf=50\nPPT=0x10\n"), "");
  ASSERT_EQ(ini.ExtractPageLimit->Limits.Count(), 2);
  EXPECT_EQ(static_cast<TIntegerObject*>(ini.ExtractPageLimit->Limits.Objects(0))->Value, 50);
  EXPECT_EQ(ini.ExtractPageLimit->Limits.IndexOf("ppt"), 1);
}

TEST_F(KestrovaIniTest, AnErrorOfEachSectionBecomesTheMessage) {
  const struct {
    std::string lines;
    std::string error;
  } cases[] = {
      {"batch_log_duration=1\n", "batch_log_durationは2以上の値を指定してください"},
      {"idxsvr_log_duration=1\n", "idxsvr_log_durationは2以上の値を指定してください"},
      {"document_root=\n", "document_rootが設定ファイルに定義されていません"},
      {"windows_domain=A,B\nfixed_groupid_list=g\n",
       "windows_domainが複数設定されている場合、fixed_groupid_listにはドメイン名を指定しなければなりません。ex. "
       "GroupName@DomainName"},
      {"java_home=" + P("nojava") + "\n", "java_homeフォルダが見つかりません"},
      // Loading ends before any validation: the document root's load error
      // wins over the batch section's rule.
      {"batch_log_duration=1\ndocument_root=\n", "document_rootが設定ファイルに定義されていません"},
      // The batch section is validated before the index server.
      {"idxsvr_log_duration=1\nbatch_log_duration=1\n", "batch_log_durationは2以上の値を指定してください"},
  };
  for (const auto& c : cases) {
    TKestrovaIni fresh;
    testing_support::WriteFile(dir.Native("kestrova.ini"), "[Kestrova]\nwebdocroot=" + P("web") + "\n" + c.lines);
    fresh.Load(P("kestrova.ini"));
    EXPECT_FALSE(fresh.Valid) << c.lines;
    EXPECT_EQ(fresh.ErrorMessage, c.error) << c.lines;
  }
  // The web section is validated last of these: a missing web document root
  // loses to the batch rule, and alone it is reported.
  TKestrovaIni web;
  testing_support::WriteFile(dir.Native("kestrova.ini"), "[Kestrova]\nwebdocroot=" + P("nowhere") + "\n");
  web.Load(P("kestrova.ini"));
  EXPECT_EQ(web.ErrorMessage, "webdocrootが指定されていないか、存在しないフォルダが指定されています");
}

TEST_F(KestrovaIniTest, CrossChecks) {
  const std::string roots = "document_root=" + P("docs") + "\nrzi_root=" + P("rzi") + "\n";
  const struct {
    std::string lines;
    std::string error;
  } cases[] = {
      {"webtempdir=D:\\w\\\nbatch_work_dir=d:\\W\n",
       "webtempdirとbatch_work_dirに同じパスを指定することは許可されていません."},
      // The earlier key of the table stands first, whatever the file's order.
      {"batch_log_dir=" + P("x") + "\naccesslog_dir=" + P("x") + "\\\n",
       "accesslog_dirとbatch_log_dirに同じパスを指定することは許可されていません."},
      // Only '\' is taken off: the same folder with '/' differs here.
      {"accesslog_dir=" + P("logs") + "\nbatch_log_dir=" + P("logs") + "/\n", ""},
      {roots + "accesslog_dir=" + P("docs\\logs"),
       "accesslog_dirがいずれかのdocument_root以下に指定されています.path=" + P("docs\\logs")},
      {roots + "accesslog_dir=" + P("rzi"), ""},
      {roots + "accesslog_dir=" + P("rzi\\logs"),
       "accesslog_dirがいずれかのrzi_root以下に指定されています.path=" + P("rzi\\logs")},
      {roots + "actionqueue_savepath=" + P("rzi\\q"),
       "actionqueue_savepathがいずれかのrzi_root以下に指定されています.path=" + P("rzi\\q")},
      {"windows_authentication=1\n", ""},
      {"windows_authentication=1\nfixed_groupid_list=g\n",
       "windows_authentication=1の場合にはfixed_groupid_listは使用できません"},
      {"fixed_groupid_list=g\n", ""},
  };
  platform::CreateDirectories(P("docs"));
  for (const auto& c : cases) {
    TKestrovaIni fresh;
    testing_support::WriteFile(dir.Native("kestrova.ini"), "[Kestrova]\nwebdocroot=" + P("web") + "\n" + c.lines);
    fresh.Load(P("kestrova.ini"));
    EXPECT_EQ(fresh.ErrorMessage, c.error) << c.lines;
    EXPECT_EQ(fresh.Valid, c.error.empty()) << c.lines;
    if (fresh.Valid) ExpectReadsBackTheSame(fresh, dir);
  }
}

// The JSON texts of the sections keep control bytes that their own text form
// would write as escapes the JSON reader does not decode; the document that
// prints them must still read back the same.
TEST_F(KestrovaIniTest, ControlBytesInJsonValuesReadBackTheSame) {
  ASSERT_EQ(LoadMain("contextmenu_file=a\x01z,b\ncustom_splitter={\"ext\":\"x\",\"program\":\"p\x02\"}\n"
                     // An extension with a control byte is quoted in its list and that list in the value.
                     "gridview_pathlink_type2=download,\"\"\"e\x03"
                     "f\"\";g\"\n"),
            "");
  EXPECT_EQ(ini.WebInterface->contextmenu_file, "[\"a\\u0001z\",\"b\"]");
  EXPECT_EQ(ini.WebInterface->gridview_pathlink_type.ExtensionActions, "{\"e\\u0003f\":3,\"g\":3}");
}

TEST_F(KestrovaIniTest, AccesslogDirAbsentIsNeverCompared) {
  ASSERT_EQ(LoadMain(""), "");
  EXPECT_EQ(ini.Web->accesslog_dir, "");
}

TEST_F(KestrovaIniTest, BatchFoldersAreCreatedOnlyOnceValid) {
  ASSERT_EQ(LoadMain("batch_work_dir=" + P("work") + "\n"), "");
  // The cross-check asked for the folder while the document was not yet valid.
  EXPECT_FALSE(platform::DirectoryExists(P("work")));
  EXPECT_EQ(ini.Batch->GetWorkDir(), P("work"));
  EXPECT_TRUE(platform::DirectoryExists(P("work")));
}

TEST_F(KestrovaIniTest, ALaterLoadStartsWithoutTheOldError) {
  EXPECT_EQ(LoadMain("batch_log_duration=1\n"), "batch_log_durationは2以上の値を指定してください");
  EXPECT_EQ(LoadMain(""), "");
  EXPECT_TRUE(ini.Valid);
}

}  // namespace
