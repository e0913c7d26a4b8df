// The section classes read from a key list: defaults, conversions, rules and
// the values they write back.
#include <gtest/gtest.h>

#include <climits>
#include <map>

#include "base/Exception.h"
#include "config/KestrovaIniUnit.h"

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

template <typename Section>
void LoadSection(Section& section, const Keys& keys) {
  THashedStringList list;
  BuildKeyList(list, keys);
  section.LoadFrom(list);
}

std::string ValidateError(TKvIniSection& section) {
  try {
    section.Validate();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

// name → (type tag, text) of every value written.
using Saved = std::map<std::string, std::pair<int, std::string>>;

Saved Save(TKvIniSection& section, std::vector<std::string>* order = nullptr) {
  TRsValueList list;
  section.SaveTo(list);
  Saved saved;
  for (int i = 0; i < list.Items.Count(); ++i) {
    auto* value = static_cast<TRsAbstractObject*>(list.Items.Objects(i));
    saved[list.Items[i]] = {value->ValueType, value->GetAsString()};
    if (order) order->push_back(list.Items[i]);
  }
  return saved;
}

constexpr int kString = 0, kBoolean = 1, kInteger = 2, kInt64 = 3, kDouble = 4;

TEST(KestrovaIniSectionsTest, SearchEngineDefaults) {
  TKvIniSearchEngine s(nullptr);
  LoadSection(s, {});
  EXPECT_TRUE(s.lowercase_search);
  EXPECT_FALSE(s.use_solr);
  EXPECT_FALSE(s.page_search);
  EXPECT_DOUBLE_EQ(s.synchronize_task_time, 2.0);
  EXPECT_EQ(s.hyperestraier_startup, 1);
  EXPECT_EQ(s.hyperestraier_log_duration, 7);
  EXPECT_EQ(s.searchengine_shards_algo, "path");
  EXPECT_EQ(s.hyperestraier_url, "");
  EXPECT_EQ(s.filename_search_max_gramsize, 15);
  EXPECT_EQ(ValidateError(s), "");
}

TEST(KestrovaIniSectionsTest, SearchEngineConversions) {
  const struct {
    const char* startup;
    int expected;
  } startups[] = {{"3", 1}, {"-1", 1}, {"0", 0}, {"2", 2}, {"x", 1}};
  for (const auto& c : startups) {
    TKvIniSearchEngine s(nullptr);
    LoadSection(s, {{"hyperestraier_startup", c.startup}});
    EXPECT_EQ(s.hyperestraier_startup, c.expected) << c.startup;
  }
  TKvIniSearchEngine s(nullptr);
  LoadSection(s, {{"lowercase_search", "no"},
                  {"use_solr", "1"},
                  {"synchronize_task_time", "0.5"},
                  {"Filename-Search-Max-Gramsize", "$20"},
                  {"hyperestraier_url", "http://h:1978/node/x"}});
  EXPECT_TRUE(s.lowercase_search);  // "no" does not convert: the default 1 stays
  EXPECT_TRUE(s.use_solr);
  EXPECT_DOUBLE_EQ(s.synchronize_task_time, 0.5);
  EXPECT_EQ(s.filename_search_max_gramsize, 32);

  TKvIniSearchEngine off(nullptr);
  LoadSection(off, {{"lowercase_search", "0"}, {"synchronize_task_time", "abc"}});
  EXPECT_FALSE(off.lowercase_search);
  EXPECT_DOUBLE_EQ(off.synchronize_task_time, 2.0);

  const Saved saved = Save(s);
  EXPECT_EQ(saved.size(), 14u);
  EXPECT_EQ(saved.at("hyperestraier_url"), std::make_pair(kString, std::string("http://h:1978/node/x")));
  EXPECT_EQ(saved.at("hyperestraier_startup"), std::make_pair(kInt64, std::string("1")));
  EXPECT_EQ(saved.at("hyperestraier_log_duration"), std::make_pair(kInt64, std::string("7")));
  EXPECT_EQ(saved.at("lowercase_search"), std::make_pair(kBoolean, std::string("True")));
  EXPECT_EQ(saved.at("synchronize_task_time"), std::make_pair(kDouble, std::string("0.5")));
  EXPECT_EQ(saved.at("filename-search-max-gramsize"), std::make_pair(kInteger, std::string("32")));
  EXPECT_EQ(saved.at("aclsearch_compresssid"), std::make_pair(kBoolean, std::string("False")));
}

TEST(KestrovaIniSectionsTest, SearchEngineLogDurationRule) {
  for (const char* value : {"1", "-3"}) {
    TKvIniSearchEngine s(nullptr);
    LoadSection(s, {{"hyperestraier_log_duration", value}});
    EXPECT_EQ(ValidateError(s), "hyperestraier_log_durationは2以上の値を指定してください") << value;
  }
  TKvIniSearchEngine s(nullptr);
  LoadSection(s, {{"hyperestraier_log_duration", "2"}});
  EXPECT_EQ(ValidateError(s), "");
}

TEST(KestrovaIniSectionsTest, ConverterDefaults) {
  TKvIniConverter c(nullptr);
  LoadSection(c, {});
  EXPECT_EQ(c.max_extract_text_file_size_kb, 5120000);
  EXPECT_EQ(c.max_extract_page_file_size_kb, 20480000);
  EXPECT_EQ(c.max_extract_text_size_kb, 8192000);
  EXPECT_EQ(c.timeout_xdoc2txt, 60000);
  EXPECT_EQ(c.timeout_cad2txt, 60000);
  EXPECT_EQ(c.timeout_xdw2txt, 60000);
  EXPECT_EQ(c.timeout_getifilter, 60000);
  EXPECT_EQ(c.timeout_mb2splitter, 300000);
  EXPECT_TRUE(c.ifilter_ignore_numeric);
  EXPECT_FALSE(c.use_sbc);
  EXPECT_EQ(c.sbc_extlist.Text(), "rtf\r\ndoc\r\nxls\r\nppt\r\ndocx\r\nxlsx.pptx\r\njtd\r\njtt\r\n");
  EXPECT_EQ(c.ifilter_extlist.Count(), 0);
  EXPECT_EQ(c.extracttext_extlist.Count(), 0);
}

TEST(KestrovaIniSectionsTest, ConverterLimitsAndLists) {
  TKvIniConverter c(nullptr);
  LoadSection(c, {{"max_extract_text_file_size_kb", "-1"},
                  {"max_extract_page_file_size_kb", "-2"},
                  {"max_extract_text_size_kb", "-1"},
                  {"timeout_mb2splitter", "2147483647"},
                  {"ifilter_extlist", "Doc,,XLS,"},
                  {"extracttext_extlist", ",a,,b"},
                  {"gif_preview_ext_list", "gif,,png"},
                  {"sbc_extlist", "\"RTF\", Doc"},
                  {"extractpage_extlist", "PDF, x"}});
  EXPECT_EQ(c.max_extract_text_file_size_kb, INT64_MAX);
  EXPECT_EQ(c.max_extract_page_file_size_kb, INT64_MAX);
  EXPECT_EQ(c.max_extract_text_size_kb, -1024);
  EXPECT_EQ(c.timeout_mb2splitter, 2147483647000LL);  // computed in 64 bits
  EXPECT_EQ(c.ifilter_extlist.Text(), "doc\r\nxls\r\n");
  EXPECT_EQ(c.extracttext_extlist.Text(), "a\r\n\r\nb\r\n");  // only the first empty entry goes
  EXPECT_EQ(c.gif_preview_ext_list.Text(), "gif\r\n\r\npng\r\n");
  EXPECT_EQ(c.sbc_extlist.Text(), "rtf\r\ndoc\r\n");
  EXPECT_EQ(c.extractpage_extlist, "PDF, x");
  EXPECT_EQ(ValidateError(c), "");

  const Saved saved = Save(c);
  EXPECT_EQ(saved.size(), 16u);
  EXPECT_EQ(saved.at("max_extract_text_file_size_kb"), std::make_pair(kInt64, std::string("9007199254740991")));
  EXPECT_EQ(saved.at("max_extract_text_size_kb"), std::make_pair(kInt64, std::string("-1")));
  EXPECT_EQ(saved.at("timeout_mb2splitter"), std::make_pair(kInt64, std::string("2147483647")));
  EXPECT_EQ(saved.at("timeout_xdoc2txt"), std::make_pair(kInt64, std::string("60")));
  EXPECT_EQ(saved.at("gif_preview_ext_list"), std::make_pair(kString, std::string("gif,,png")));
  EXPECT_EQ(saved.at("extractpage_extlist"), std::make_pair(kString, std::string("PDF, x")));
  EXPECT_EQ(saved.at("use_sbc"), std::make_pair(kBoolean, std::string("False")));
}

}  // namespace
