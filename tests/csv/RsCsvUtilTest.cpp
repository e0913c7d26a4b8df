#include "csv/RsCsvUtil.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/Exception.h"
#include "support/TestSupport.h"

using testing_support::TempDir;
using Records = std::vector<std::vector<std::string>>;

namespace {

Records Parse(std::string_view text, unsigned char quote = 34) {
  Records out;
  TCsvLoader loader;
  loader.SetQuoteChar(quote);
  loader.SetOnRecord([&](TStringList& fields) {
    std::vector<std::string> r;
    for (int i = 0; i < fields.Count(); ++i) r.push_back(fields[i]);
    out.push_back(r);
  });
  loader.ParseText(text);
  return out;
}

Records Load(const std::string& path, std::size_t block, bool* reachedEnd = nullptr) {
  Records out;
  TCsvLoader loader;
  loader.SetBlockSize(block);
  loader.SetOnRecord([&](TStringList& fields) {
    std::vector<std::string> r;
    for (int i = 0; i < fields.Count(); ++i) r.push_back(fields[i]);
    out.push_back(r);
  });
  loader.LoadFromFile(path);
  if (reachedEnd) *reachedEnd = loader.ReachedEnd();
  return out;
}

}  // namespace

TEST(CsvWorkedResults, LinesSplitIntoTheDocumentedFields) {
  struct Case {
    std::string line;
    std::vector<std::string> fields;
  };
  const std::vector<Case> cases = {
      {"a,b,c", {"a", "b", "c"}},
      {"a,,c", {"a", "", "c"}},
      {"a,b,", {"a", "b", ""}},
      {",", {"", ""}},
      {"\"a,b\",c", {"a,b", "c"}},
      {"\"a\"\"b\",c", {"a\"b", "c"}},
      {"\"\"", {""}},
      {"\"\"\"\"", {"\""}},
      {"a\"b,c", {"a\"b,c"}},
      {"ab\"", {"ab"}},
  };
  for (const Case& c : cases) {
    Records r = Parse(c.line);
    ASSERT_EQ(r.size(), 1u) << c.line;
    EXPECT_EQ(r[0], c.fields) << c.line;
  }
}

TEST(CsvLoader, StreamingMatchesInMemoryAcrossBlockBoundaries) {
  TempDir dir;
  const std::string text = "a,b\r\n\"x\r\ny\",z\n\nlast";
  testing_support::WriteFile(dir.Native("f.csv"), text);
  for (std::size_t block : {1u, 2u, 3u, 7u, 1024u})
    EXPECT_EQ(Load(dir.System("f.csv"), block), Parse(text)) << block;
}
