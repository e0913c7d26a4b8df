// Custom splitters read from their numbered keys and written back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Exception.h"
#include "config/KestrovaIniUnit.h"
#include "config/KvCustomSplitterConfUnit.h"

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

void Load(TKvSplitterConf& conf, const Keys& keys) {
  THashedStringList list;
  BuildKeyList(list, keys);
  conf.LoadFrom(list);
}

// The message and class of the error a load raises; empty when none.
std::pair<std::string, std::string> LoadError(TKvSplitterConf& conf, const Keys& keys) {
  try {
    Load(conf, keys);
  } catch (const Exception& e) {
    return {e.ClassName(), e.Message()};
  }
  return {};
}

std::vector<std::string> Entries(const TStringList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

std::vector<std::string> Saved(const TKvSplitterConf& conf) {
  TRsValueList list;
  conf.SaveTo(list);
  std::vector<std::string> out;
  for (int i = 0; i < list.Items.Count(); ++i)
    out.push_back(list.Items[i] + "=" + static_cast<TRsAbstractObject*>(list.Items.Objects(i))->GetAsString());
  return out;
}

using V = std::vector<std::string>;

TEST(SplitterConfTest, NumberedKeysStopAtTheFirstAbsentOne) {
  TKvSplitterConf conf;
  Load(conf,
       {{"custom_splitter", R"({"ext":"a","program":"p1"})"}, {"custom_splitter3", R"({"ext":"c","program":"p3"})"}});
  ASSERT_EQ(conf.Plugins.Count(), 1);
  EXPECT_EQ(conf.Plugins.GetItem(0)->Program, "p1");
  EXPECT_EQ(conf.Plugins.GetItem(1), nullptr);
  EXPECT_EQ(conf.Plugins.GetItem(-1), nullptr);

  // Present with an empty value: passed over, the scan goes on. Key names
  // compare without regard to case.
  Load(conf, {{"custom_splitter", ""},
              {"Custom_Splitter2", R"({"ext":"b","program":"p2"})"},
              {"CUSTOM_SPLITTER3", R"(  {"ext":"c","program":"p3"}  )"}});
  ASSERT_EQ(conf.Plugins.Count(), 2);  // the first load was replaced
  EXPECT_EQ(conf.Plugins.GetItem(0)->Program, "p2");
  EXPECT_EQ(conf.Plugins.GetItem(1)->Program, "p3");
  // Written back numbered without gaps.
  EXPECT_EQ(Saved(conf), (V{R"(custom_splitter={"ext":".b","program":"p2","parameter":""})",
                            R"(custom_splitter2={"ext":".c","program":"p3","parameter":""})"}));
}

TEST(SplitterConfTest, Extensions) {
  const struct {
    const char* ext;
    V expected;
  } cases[] = {
      {"DWG, .Dxf", {".dwg", ".dxf"}},
      {".PDF", {".pdf"}},
      {"a b", {".a", ".b"}},  // a blank ends an unquoted entry
      {R"(\"Tar Gz\",x)", {".tar gz", ".x"}},
      {"", {}},
      {"ＰＤＦ", {".ｐｄｆ"}},  // lower-cased by the code page's rules
  };
  for (const auto& c : cases) {
    TKvSplitterConf conf;
    Load(conf, {{"custom_splitter", std::string(R"({"ext":")") + c.ext + R"(","program":"p"})"}});
    ASSERT_EQ(conf.Plugins.Count(), 1) << c.ext;
    EXPECT_EQ(Entries(conf.Plugins.GetItem(0)->Extensions), c.expected) << c.ext;
  }
}

TEST(SplitterConfTest, RoundTripKeepsEveryMember) {
  TKvSplitterConf conf;
  Load(conf, {{"custom_splitter", R"({"ext":"\"Tar Gz\",pdf","program":"C:\\bin\\s.exe","parameter":"-q \"%s\""})"}});
  const V saved = Saved(conf);
  ASSERT_EQ(saved.size(), 1u);
  TKvSplitterConf back;
  Load(back, {{"custom_splitter", saved[0].substr(saved[0].find('=') + 1)}});
  ASSERT_EQ(back.Plugins.Count(), 1);
  const TKvSplitterPluginConf& s = *back.Plugins.GetItem(0);
  EXPECT_EQ(Entries(s.Extensions), (V{".tar gz", ".pdf"}));
  EXPECT_EQ(s.Program, "C:\\bin\\s.exe");
  EXPECT_EQ(s.Parameter, "-q \"%s\"");
}

TEST(SplitterConfTest, ExtensionMapKeepsTheFirstClaim) {
  TKvSplitterConf conf;
  Load(conf, {{"custom_splitter", R"({"ext":"pdf,doc","program":"first"})"},
              {"custom_splitter2", R"({"ext":"PDF,xls","program":"second"})"}});
  ASSERT_EQ(conf.Plugins.Count(), 2);
  EXPECT_EQ(Entries(conf.Plugins.ExtensionMap()), (V{".pdf", ".doc", ".xls"}));
  EXPECT_EQ(conf.Plugins.FindByExtension(".PDF"), conf.Plugins.GetItem(0));
  EXPECT_EQ(conf.Plugins.FindByExtension(".xls"), conf.Plugins.GetItem(1));
  EXPECT_EQ(conf.Plugins.FindByExtension(".txt"), nullptr);
  conf.Plugins.Clear();
  EXPECT_EQ(conf.Plugins.Count(), 0);
  EXPECT_EQ(conf.Plugins.FindByExtension(".pdf"), nullptr);
}

TEST(SplitterConfTest, Errors) {
  const std::string notJson = "が正しく記述されていません(Json形式ではありません)";
  const struct {
    Keys keys;
    std::string message;
    int kept;
  } cases[] = {
      {{{"custom_splitter", "just text"}}, "custom_splitter" + notJson + "just text", 0},
      {{{"custom_splitter", "[1,2]"}}, "custom_splitter" + notJson + "[1,2]", 0},
      {{{"custom_splitter", R"({"ext":"a","program":"p"})"}, {"custom_splitter2", "{\"ext\":"}},
       "custom_splitter2" + notJson + "{\"ext\":",
       1},
      {{{"custom_splitter", R"({"ext":"a"})"}}, "fieldname=custom_splitter, TJSONObject[\"program\"] not found.", 0},
      {{{"custom_splitter", R"({"parameter":"x"})"}}, "fieldname=custom_splitter, TJSONObject[\"ext\"] not found.", 0},
  };
  for (const auto& c : cases) {
    TKvSplitterConf conf;
    EXPECT_EQ(LoadError(conf, c.keys), std::make_pair(std::string("Exception"), c.message));
    EXPECT_EQ(conf.Plugins.Count(), c.kept) << c.message;
  }
}

}  // namespace
