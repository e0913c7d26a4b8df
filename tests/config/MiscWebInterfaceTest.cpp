// The miscellaneous and web interface sections: defaults, the value formats of
// their own and the values they write back.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "common/RsJson.h"
#include "common/RsUtil.h"
#include "config/KestrovaIniUnit.h"
#include "config/KvVariants.h"
#include "platform/Locale.h"

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;
using V = std::vector<std::string>;

void Load(TKvIniSection& section, const Keys& keys) {
  THashedStringList list;
  BuildKeyList(list, keys);
  section.LoadFrom(list);
}

// The values written, in order, as name=text; booleans as 1 and 0 so that
// they read back as flags.
Keys Save(TKvIniSection& section) {
  TRsValueList list;
  section.SaveTo(list);
  Keys saved;
  for (int i = 0; i < list.Items.Count(); ++i) {
    const auto* value = static_cast<const TRsAbstractObject*>(list.Items.Objects(i));
    std::string text = value->GetAsString();
    if (value->ValueType == 1) text = static_cast<const TBooleanObject*>(value)->Value ? "1" : "0";
    saved.emplace_back(list.Items[i], text);
  }
  return saved;
}

std::map<std::string, std::string> SaveMap(TKvIniSection& section) {
  const Keys saved = Save(section);
  return {saved.begin(), saved.end()};
}

V Entries(const TStringList& list) {
  V out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

// ---- miscellaneous ----

TEST(MiscellaneousTest, Defaults) {
  TKvIniMiscellaneous m(nullptr);
  Load(m, {});
  EXPECT_EQ(m.lang, "ja");
  EXPECT_EQ(m.productname, "ケストロバ");
  EXPECT_EQ(m.productversion, "");
  EXPECT_EQ(m.companyname, "");
  EXPECT_EQ(m.profileroot, "");
  EXPECT_FALSE(m.debug);
  EXPECT_EQ(m.filepropertydefpath, SlashToBackslash(DataFolder + "filepropertydef.cfg"));
  EXPECT_EQ(Entries(m.localnetlist.Texts()), (V{"192.168.0.0/24", "127.0.0.0/8"}));
  EXPECT_EQ(m.custom_splitters.Plugins.Count(), 0);
}

TEST(MiscellaneousTest, Values) {
  const struct {
    const char* localnetlist;
    V expected;
  } networks[] = {
      {"10.0.0.0/8 10.1.0.0/16", {"10.0.0.0/8", "10.1.0.0/16"}},
      {"10.0.0.0/8,,bad", {"10.0.0.0/8"}},
      {"\"10.2.0.0/16\" , 10.3.0.0/16,", {"10.2.0.0/16", "10.3.0.0/16"}},
  };
  for (const auto& c : networks) {
    TKvIniMiscellaneous m(nullptr);
    Load(m, {{"localnetlist", c.localnetlist}});
    EXPECT_EQ(Entries(m.localnetlist.Texts()), c.expected) << c.localnetlist;
  }
  const struct {
    const char* value;
    bool on;
  } flags[] = {{"1", true}, {"true", false}, {"2", false}, {"0", false}};
  for (const auto& c : flags) {
    TKvIniMiscellaneous m(nullptr);
    Load(m, {{"debug", c.value}});
    EXPECT_EQ(m.debug, c.on) << c.value;
  }
  TKvIniMiscellaneous m(nullptr);
  Load(m, {{"FilePropertyDefPath", "D:/cfg/fp.cfg"}, {"profileroot", "D:/profiles/"}, {"lang", "en"}});
  EXPECT_EQ(m.filepropertydefpath, "D:\\cfg\\fp.cfg");
  EXPECT_EQ(m.profileroot, "D:\\profiles\\");
  EXPECT_EQ(m.lang, "en");
}

TEST(MiscellaneousTest, SplitterErrorEndsTheLoad) {
  TKvIniMiscellaneous m(nullptr);
  try {
    Load(m, {{"custom_splitter", "not json"}});
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "custom_splitterが正しく記述されていません(Json形式ではありません)not json");
  }
}

TEST(MiscellaneousTest, SaveTo) {
  TKvIniMiscellaneous m(nullptr);
  Load(m, {{"localnetlist", "10.0.0.0/8, 172.16.0.0/12"},
           {"productversion", "2.0"},
           {"companyname", "Ranso Works"},
           {"debug", "1"},
           {"custom_splitter", R"({"ext":"dwg","program":"cad.exe"})"}});
  const Keys saved = Save(m);
  V names;
  for (const auto& s : saved) names.push_back(s.first);
  // Sorted at the end.
  EXPECT_EQ(names, (V{"companyname", "custom_splitter", "debug", "filepropertydefpath", "lang", "localnetlist",
                      "productname", "productversion", "profileroot"}));
  const std::map<std::string, std::string> values(saved.begin(), saved.end());
  EXPECT_EQ(values.at("localnetlist"), "10.0.0.0/8,172.16.0.0/12");
  EXPECT_EQ(values.at("companyname"), "Ranso Works");
  EXPECT_EQ(values.at("debug"), "1");
  EXPECT_EQ(values.at("custom_splitter"), R"({"ext":".dwg","program":"cad.exe","parameter":""})");
}

// ---- web interface ----

TEST(MenuStatusListTest, Operations) {
  TKvMenuStatusList list;
  list.Add("Menu_Search", true);
  list.Add("menu_print", false);
  list.Add("MENU_SEARCH", false);  // repeated: the first value stays
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetName(0), "menu_search");
  EXPECT_TRUE(list.GetStatus(0));
  EXPECT_FALSE(list.GetStatus(1));
  for (int index : {-1, 2}) {
    EXPECT_EQ(list.GetName(index), "") << index;
    EXPECT_FALSE(list.GetStatus(index)) << index;
  }
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(WebInterfaceTest, Defaults) {
  TKvIniWebInterface w(nullptr);
  Load(w, {});
  EXPECT_EQ(w.dateselector_firstyear, 1980);
  EXPECT_EQ(w.dateselector_lastyear, 2030);
  EXPECT_EQ(w.menu_status.Count(), 0);
  EXPECT_EQ(w.max_subfolder, 63);
  EXPECT_EQ(w.folder_view, 3);
  EXPECT_EQ(w.upload_field_count, 5);
  EXPECT_EQ(w.filelist_maxsize_mb, 3);
  EXPECT_EQ(w.filelist_maxcount, 10);
  EXPECT_EQ(w.max_read_text_file_size_kb, 2000 * 1024);
  EXPECT_EQ(w.gridview_pathlink_type.DefaultAction, 1);
  EXPECT_EQ(w.gridview_pathlink_type.ExtensionActions, "{}");
  EXPECT_EQ(w.gridview_pathlink_type_dclick.DefaultAction, 2);
  EXPECT_EQ(w.gridview_pathlink_type_dclick.ExtensionActions, "{}");
  EXPECT_EQ(w.contextmenu_file, "[]");
  EXPECT_EQ(w.contextmenu_folder, "[]");
  EXPECT_EQ(w.unable_directopen_extlist.Count(), 0);
  EXPECT_TRUE(w.showdownloadlinkdialog);
  EXPECT_FALSE(w.show_thumb_navigator || w.force_zip_download || w.pagebookmark || w.show_index_thtml ||
               w.showfileselector || w.use_template_thtml || w.filelist_hidesubdir);
  EXPECT_EQ(w.filelist_fixedorder, -1);
  EXPECT_EQ(w.filelist_fixedviewtype, -1);
  EXPECT_EQ(w.filelist_fixedfirst, -1);
}

TEST(WebInterfaceTest, YearRange) {
  const struct {
    const char* value;
    int first, last;
  } cases[] = {
      {"2030,1990", 1990, 2030}, {"2000", 1980, 2030},           {"x,2010", 1980, 2010},
      {"1990 2000", 1990, 2000}, {"2001,2002,1900", 2001, 2002}, {"2040,y", 2030, 2040},
  };
  for (const auto& c : cases) {
    TKvIniWebInterface w(nullptr);
    Load(w, {{"dateselector_yearrange", c.value}});
    EXPECT_EQ(w.dateselector_firstyear, c.first) << c.value;
    EXPECT_EQ(w.dateselector_lastyear, c.last) << c.value;
  }
}

TEST(WebInterfaceTest, MenuKeys) {
  TKvIniWebInterface w(nullptr);
  Load(w, {{"menu_Search", "1"}, {"menu_print", "0"}, {"menu_tools", ""}, {"MENU_X", "2"}, {"nomenu_a", "1"}});
  ASSERT_EQ(w.menu_status.Count(), 3);
  EXPECT_EQ(w.menu_status.GetName(0), "menu_search");
  EXPECT_TRUE(w.menu_status.GetStatus(0));
  EXPECT_EQ(w.menu_status.GetName(1), "menu_print");
  EXPECT_FALSE(w.menu_status.GetStatus(1));
  EXPECT_EQ(w.menu_status.GetName(2), "menu_x");
  EXPECT_FALSE(w.menu_status.GetStatus(2));

  // Not cleared before a second read: the first values stay.
  Load(w, {{"menu_print", "1"}, {"menu_new", "1"}});
  ASSERT_EQ(w.menu_status.Count(), 4);
  EXPECT_FALSE(w.menu_status.GetStatus(1));
  EXPECT_EQ(w.menu_status.GetName(3), "menu_new");
}

TEST(WebInterfaceTest, PathLinkKeys) {
  const std::string k = "gridview_pathlink_type";
  const struct {
    Keys keys;
    int defaultAction;
    const char* extensions;
  } cases[] = {
      {{}, 1, "{}"},
      {{{k, "download"}, {k + "2", "showview,pdf;doc"}}, 3, R"({"pdf":1,"doc":1})"},
      {{{k, "download"}, {k + "2", "download,pdf"}}, 3, "{}"},  // equal to the default
      {{{k + "3", "download,pdf;"}}, 3, "{}"},                  // an empty entry sets the default
      {{{k, "download,pdf,doc"}}, 1, "{}"},                     // three parts: ignored
      {{{k, "open"}, {k + "2", "directopen"}}, 2, "{}"},        // unknown action, then a valid one
      {{{k, "downloadopen,*"}, {k + "2", "download"}}, 4, "{}"},
      {{{k, " DownLoad ,zip"}}, 1, R"({"zip":3})"},
      {{{k, "\" download \",zip"}}, 1, R"({"zip":3})"},  // the action name is trimmed
      {{{k + "2", "download,pdf"}, {k + "3", "directopen,PDF;txt"}}, 1, R"({"pdf":3,"txt":2})"},
      // First listed with an unknown action: the extension stays unmapped.
      {{{k + "2", "view,pdf"}, {k + "3", "download,pdf"}}, 1, "{}"},
      {{{k + "10", "download"}, {k + "11", "directopen"}}, 3, "{}"},  // numbers go to 10
      {{{k, "download;showview"}}, 1, "{}"},                          // one part that names no action
  };
  for (const auto& c : cases) {
    TKvIniWebInterface w(nullptr);
    Load(w, c.keys);
    const std::string label = c.keys.empty() ? "" : c.keys[0].first + "=" + c.keys[0].second;
    EXPECT_EQ(w.gridview_pathlink_type.DefaultAction, c.defaultAction) << label;
    EXPECT_EQ(w.gridview_pathlink_type.ExtensionActions, c.extensions) << label;
    EXPECT_EQ(w.gridview_pathlink_type_dclick.DefaultAction, 2) << label;
  }

  // The double-click keys are read the same way, falling back to directopen.
  TKvIniWebInterface w(nullptr);
  Load(w, {{"gridview_pathlink_type_dclick", "open"}, {"gridview_pathlink_type_dclick2", "showview,jpg"}});
  EXPECT_EQ(w.gridview_pathlink_type_dclick.DefaultAction, 2);
  EXPECT_EQ(w.gridview_pathlink_type_dclick.ExtensionActions, R"({"jpg":1})");
  EXPECT_EQ(w.gridview_pathlink_type.DefaultAction, 1);
}

TEST(WebInterfaceTest, Numbers) {
  const struct {
    const char* value;
    int expected;
  } uploads[] = {{"0", 5}, {"11", 5}, {"10", 10}, {"1", 1}, {"-3", 5}, {"x", 5}};
  for (const auto& c : uploads) {
    TKvIniWebInterface w(nullptr);
    Load(w, {{"upload_field_count", c.value}});
    EXPECT_EQ(w.upload_field_count, c.expected) << c.value;
  }
  const struct {
    const char* value;
    std::int32_t bytes;
    const char* saved;
  } sizes[] = {
      {"1", 1024, "1"},
      {"-1", -1024, "-1"},
      {"2097151", 2097151 * 1024, "2097151"},
      {"2097152", INT32_MAX, "2097151"},  // saturates instead of wrapping
      {"2147483647", INT32_MAX, "2097151"},
      {"-2097153", INT32_MIN, "-2097152"},
      {"zero", 2000 * 1024, "2000"},
  };
  for (const auto& c : sizes) {
    TKvIniWebInterface w(nullptr);
    Load(w, {{"max_read_text_file_size_kb", c.value}});
    EXPECT_EQ(w.max_read_text_file_size_kb, c.bytes) << c.value;
    EXPECT_EQ(SaveMap(w).at("max_read_text_file_size_kb"), c.saved) << c.value;
  }
}

TEST(WebInterfaceTest, Lists) {
  TKvIniWebInterface w(nullptr);
  Load(w, {{"contextmenu_file", "open, \"copy\", ,delete"},
           {"contextmenu_folder", "C:\\tools\\,a\tb"},
           {"unable_directopen_extlist", "EXE, \"bat\",,"}});
  EXPECT_EQ(w.contextmenu_file, R"(["open","copy","delete"])");
  // Valid JSON whatever the entries hold.
  EXPECT_EQ(w.contextmenu_folder, "[\"C:\\\\tools\\\\\",\"a\tb\"]");
  TJSONArray folder;
  folder.parseText(w.contextmenu_folder, false);
  ASSERT_EQ(folder.elementCount(), 2);
  EXPECT_EQ(folder.requireText(0), "C:\\tools\\");
  EXPECT_EQ(folder.requireText(1), "a\tb");
  EXPECT_EQ(Entries(w.unable_directopen_extlist), (V{"EXE", "bat"}));  // not lower-cased

  // The list is replaced on every read.
  Load(w, {{"unable_directopen_extlist", "zip"}});
  EXPECT_EQ(Entries(w.unable_directopen_extlist), (V{"zip"}));
}

TEST(WebInterfaceTest, SaveToGroupsExtensionsByAction) {
  TKvIniWebInterface w(nullptr);
  Load(w, {{"gridview_pathlink_type", "directopen"},
           {"gridview_pathlink_type2", "download,zip;lzh"},
           {"gridview_pathlink_type3", "showview,pdf"},
           {"gridview_pathlink_type4", "download,tar"},
           {"gridview_pathlink_type_dclick", "directopen,*"}});
  const auto saved = SaveMap(w);
  EXPECT_EQ(saved.at("gridview_pathlink_type"), "directopen");
  EXPECT_EQ(saved.at("gridview_pathlink_type2"), "showview,pdf");
  EXPECT_EQ(saved.at("gridview_pathlink_type3"), "download,zip;lzh;tar");
  EXPECT_EQ(saved.count("gridview_pathlink_type4"), 0u);
  EXPECT_EQ(saved.at("gridview_pathlink_type_dclick"), "directopen");
  EXPECT_EQ(saved.count("gridview_pathlink_type_dclick2"), 0u);
}

TEST(WebInterfaceTest, SaveToRoundTrips) {
  const Keys keys = {
      {"menu_search", "1"},
      {"menu_print", "0"},
      {"dateselector_yearrange", "2030,1990"},
      {"max_subfolder", "7"},
      {"show_thumb_navigator", "1"},
      {"folder_view", "2"},
      {"force_zip_download", "1"},
      {"pagebookmark", "1"},
      {"show_index_thtml", "1"},
      {"showfileselector", "1"},
      {"showdownloadlinkdialog", "0"},
      {"upload_field_count", "8"},
      {"gridview_pathlink_type", "download"},
      {"gridview_pathlink_type2", "showview,pdf;doc"},
      {"gridview_pathlink_type3", "downloadopen,xls"},
      {"gridview_pathlink_type_dclick", "showview"},
      {"gridview_pathlink_type_dclick2", "directopen,txt"},
      {"use_template_thtml", "1"},
      {"filelist_maxsize_mb", "9"},
      {"filelist_maxcount", "99"},
      {"max_read_text_file_size_kb", "3"},
      {"contextmenu_file", "open,copy"},
      {"contextmenu_folder", "C:\\x\\"},
      {"unable_directopen_extlist", "exe,\"a b\""},
      {"filelist_fixedorder", "4"},
      {"filelist_hidesubdir", "1"},
  };
  TKvIniWebInterface w(nullptr);
  Load(w, keys);
  const Keys saved = Save(w);
  // Sorted by the list's own comparison, which on Windows weighs '_' before digits.
  for (std::size_t i = 1; i < saved.size(); ++i)
    EXPECT_LT(platform::CompareTextIgnoreCase(saved[i - 1].first, saved[i].first), 0);
  const std::map<std::string, std::string> values(saved.begin(), saved.end());
  EXPECT_EQ(values.at("dateselector_yearrange"), "1990,2030");
  EXPECT_EQ(values.at("gridview_pathlink_type2"), "showview,pdf;doc");
  EXPECT_EQ(values.at("gridview_pathlink_type3"), "downloadopen,xls");
  EXPECT_EQ(values.at("contextmenu_file"), "open,copy");
  EXPECT_EQ(values.at("unable_directopen_extlist"), "exe,\"a b\"");
  EXPECT_EQ(values.count("filelist_fixedorder"), 0u);  // not written

  TKvIniWebInterface back(nullptr);
  Load(back, saved);
  EXPECT_EQ(Save(back), saved);
  EXPECT_EQ(back.gridview_pathlink_type.ExtensionActions, w.gridview_pathlink_type.ExtensionActions);
  EXPECT_EQ(back.gridview_pathlink_type_dclick.ExtensionActions, R"({"txt":2})");
  EXPECT_EQ(back.contextmenu_folder, w.contextmenu_folder);
  EXPECT_EQ(back.max_read_text_file_size_kb, 3072);
  // Read back in the sorted order of the values.
  ASSERT_EQ(back.menu_status.Count(), 2);
  EXPECT_EQ(back.menu_status.GetName(0), "menu_print");
  EXPECT_FALSE(back.menu_status.GetStatus(0));
  EXPECT_TRUE(back.menu_status.GetStatus(1));
}

}  // namespace
