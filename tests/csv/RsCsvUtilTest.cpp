#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ScanPaths.h"
#include "base/Exception.h"
#include "csv/RsCsvUtil.h"
#include "support/TestSupport.h"

using testing_support::TempDir;
using Records = std::vector<std::vector<std::string>>;

namespace {

// Makes the loader append every record it delivers to out.
void CollectInto(TCsvLoader& loader, Records& out) {
  loader.SetOnRecord([&out](TStringList& fields) {
    std::vector<std::string> r;
    for (int i = 0; i < fields.Count(); ++i) r.push_back(fields[i]);
    out.push_back(r);
  });
}

Records Parse(std::string_view text, unsigned char quote = 34) {
  Records out;
  TCsvLoader loader;
  loader.SetQuoteChar(quote);
  CollectInto(loader, out);
  loader.ParseText(text);
  return out;
}

Records Load(const std::string& path, std::size_t block, bool* reachedEnd = nullptr) {
  Records out;
  TCsvLoader loader;
  loader.SetBlockSize(block);
  CollectInto(loader, out);
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
  for (std::size_t block : {1u, 2u, 3u, 7u, 1024u}) EXPECT_EQ(Load(dir.System("f.csv"), block), Parse(text)) << block;
}

// Lines far longer than a block, and than the room each block keeps in front
// for the unfinished line it carries over; the whole text for OnBegin.
TEST(CsvLoader, LinesLongerThanTheRoomBeforeABlock) {
  TempDir dir;
  std::string text = "a,b\r\n\"";
  for (int k = 0; k < 30000; ++k) text += k % 5 == 0 ? "x\r\ny,\"\"" : "0123456789";
  text += "\",z\n" + std::string(200000, 'q') + ",r\r\nlast";
  testing_support::WriteFile(dir.Native("f.csv"), text);
  for (std::size_t block : {4096u, 65536u, 1u << 20}) {
    EXPECT_EQ(Load(dir.System("f.csv"), block), Parse(text)) << block;
    TCsvLoader loader;
    loader.SetBlockSize(block);
    std::vector<std::string> lines;
    TStringList expected;
    loader.OnBegin = [&](int, const TStringList& all) {
      for (int i = 0; i < all.Count(); ++i) lines.push_back(all[i]);
    };
    loader.SetOnRecord([](TStringList&) {});
    loader.LoadFromFile(dir.System("f.csv"));
    TCsvLoader::SplitLines(text, 34, expected);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(expected.Count())) << block;
    for (int i = 0; i < expected.Count(); ++i) EXPECT_EQ(lines[i], expected[i]) << block << " line " << i;
  }
}

TEST(CsvLoader, LineBreaksAndQuotesFormRecordsAsDocumented) {
  EXPECT_EQ(Parse("a,b\r\nc"), (Records{{"a", "b"}, {"c"}}));
  EXPECT_EQ(Parse("a,b\r\nc\r\n"), (Records{{"a", "b"}, {"c"}}));
  EXPECT_EQ(Parse("\"x\r\ny\",z"), (Records{{"x\r\ny", "z"}}));
  // LF CR is two breaks with an empty record between; so is an empty line.
  EXPECT_EQ(Parse("a\n\rb"), (Records{{"a"}, {}, {"b"}}));
  EXPECT_EQ(Parse("a\r\n\r\nb"), (Records{{"a"}, {}, {"b"}}));
  EXPECT_EQ(Parse("a\rb\nc"), (Records{{"a"}, {"b"}, {"c"}}));
  // An unbalanced quote runs on to the end of the data.
  EXPECT_EQ(Parse("\"a\nb,c\nd"), (Records{{"a\nb,c\nd"}}));
}

TEST(CsvLoader, NulEndsTheDataOnlyOutsideQuotes) {
  using namespace std::string_literals;
  TCsvLoader loader;
  Records out;
  loader.SetOnRecord([&](TStringList& f) { out.push_back({f.Count() ? f[0] : "-"}); });
  loader.ParseText("a\nb\0c\nd"s);
  EXPECT_EQ(out, (Records{{"a"}, {"b"}}));
  EXPECT_FALSE(loader.ReachedEnd());
  EXPECT_EQ(Parse("\"b\0c\"\nd"s), (Records{{"b\0c"s}, {"d"}}));
}

TEST(CsvLoader, QuoteCharZeroMakesQuotesOrdinary) { EXPECT_EQ(Parse("\"a,b\"", 0), (Records{{"\"a", "b\""}})); }

TEST(CsvLoader, SkipFirstLineStillCallsBeginAndEnd) {
  TCsvLoader loader;
  int begin = -1, records = 0, ends = 0, lines = 0;
  loader.SetSkipFirstLine(true);
  loader.OnBegin = [&](int first, const TStringList& all) {
    begin = first;
    lines = all.Count();
  };
  loader.SetOnRecord([&](TStringList&) { ++records; });
  loader.OnEnd = [&] { ++ends; };
  loader.ParseText("header only");
  EXPECT_EQ(begin, 1);
  EXPECT_EQ(lines, 1);
  EXPECT_EQ(records, 0);
  EXPECT_EQ(ends, 1);
}

TEST(CsvTokenizer, BlockFlagMergesRunsOfDelimiters) {
  TCsv csv;
  csv.blockflg = true;
  csv.text = "a,,b";
  csv.SplitFields();
  ASSERT_EQ(csv.items.Count(), 2);
  EXPECT_EQ(csv.items[1], "b");
  csv.text = "a,,";
  csv.SplitFields();
  ASSERT_EQ(csv.items.Count(), 2);
  EXPECT_EQ(csv.items[0], "a");
  EXPECT_EQ(csv.items[1], "");
}

TEST(CsvTokenizer, UndoublingPairsQuotesFromTheLeft) {
  TCsv csv;
  csv.items.Add("\"\"\"\"");  // four quotes become two
  csv.items.Add("\"\"\"");    // three become two
  csv.UndoubleQuotes();
  EXPECT_EQ(csv.items[0], "\"\"");
  EXPECT_EQ(csv.items[1], "\"\"");
}

TEST(CsvLoader, FileFailuresAndEmptyFile) {
  TempDir dir;
  TCsvLoader loader;
  int calls = 0;
  loader.SetOnRecord([&](TStringList&) { ++calls; });
  try {
    loader.LoadFromFile(dir.System("missing.csv"));
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "CSVFileNameに指定したファイルが存在しません.CSVFilename=" + dir.System("missing.csv"));
  }
  EXPECT_THROW(loader.LoadFromFile(dir.System()), Exception);  // a folder is not a file
  testing_support::WriteFile(dir.Native("empty.csv"), "");
  EXPECT_FALSE(loader.LoadFromFile(dir.System("empty.csv")));
  EXPECT_EQ(calls, 0);
}

TEST(CsvLoader, CallbackErrorPropagatesAndStopsDelivery) {
  TempDir dir;
  testing_support::WriteFile(dir.Native("f.csv"), "a\nb\nc\n");
  TCsvLoader loader;
  int calls = 0, ends = 0;
  loader.SetOnRecord([&](TStringList&) {
    if (++calls == 2) throw Exception("stop");
  });
  loader.OnEnd = [&] { ++ends; };
  EXPECT_THROW(loader.LoadFromFile(dir.System("f.csv")), Exception);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(ends, 0);
}

// Every special byte at every position around a block boundary: the
// streaming reader must deliver exactly what the in-memory one delivers.
TEST(CsvLoader, StreamingAgreesWithInMemoryForEverySpecialByteAtEveryPosition) {
  using namespace std::string_literals;
  TempDir dir;
  const std::string path = dir.Native("f.csv");
  const std::vector<std::string> specials = {"\"", "\r\n", "\r", "\n", "\0"s, "\n\r", ","};
  const std::string base = "ab,\"c,d\"\r\nef,g\nhi\"j\"k,l\r\nmn";
  for (const std::string& special : specials) {
    for (std::size_t pos = 0; pos <= base.size(); ++pos) {
      const std::string text = base.substr(0, pos) + special + base.substr(pos);
      testing_support::WriteFile(path, text);
      TCsvLoader memory;
      Records expected;
      CollectInto(memory, expected);
      memory.ParseText(text);
      for (std::size_t block : {1u, 2u, 3u, 5u, 8u}) {
        bool reachedEnd = true;
        EXPECT_EQ(Load(dir.System("f.csv"), block, &reachedEnd), expected)
            << "special " << static_cast<int>(special[0]) << " at " << pos << " block " << block;
        EXPECT_EQ(reachedEnd, memory.ReachedEnd());
      }
    }
  }
}

TEST(CsvLoader, FindRecordLooksAtFirstFieldsOnlyAndStopsAtTheFirstMatch) {
  TempDir dir;
  testing_support::WriteFile(dir.Native("f.csv"), "\"a\",x\n\"b\"\"c\",y\n\"ta\nrget\",z\nlater\n");
  TCsvLoader loader;
  std::vector<std::string> seen;
  EXPECT_TRUE(loader.FindRecord(dir.System("f.csv"), [&](std::string_view first) {
    seen.emplace_back(first);
    return first == "ta\nrget";
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b\"c", "ta\nrget"}));
  EXPECT_FALSE(loader.FindRecord(dir.System("f.csv"), [](std::string_view first) { return first == "x"; }));
  loader.SetSkipFirstLine(true);
  EXPECT_FALSE(loader.FindRecord(dir.System("f.csv"), [](std::string_view first) { return first == "a"; }));
  EXPECT_THROW(loader.FindRecord(dir.System("missing"), [](std::string_view) { return true; }), Exception);
}

// How many first fields the check showed its match with and without being
// told that a match needs a TAB; the counts, ends and finds must agree.
struct Shown {
  int plain = 0, hinted = 0;
  std::uint64_t matches = 0;
};
Shown CompareWithMatchByte(const std::string& path, std::size_t block, TCsvLanes lanes) {
  platform::File file;
  EXPECT_EQ(file.OpenRead(path, true), 0);
  TCsvLoader plain, hinted;
  plain.SetBlockSize(block);
  hinted.SetBlockSize(block);
  hinted.SetLanes(lanes);
  hinted.SetMatchByte('\t');
  Shown shown;
  auto counting = [](int& seen) {
    return [&seen](std::string_view first) {
      ++seen;
      return first.find('\t') != std::string_view::npos;
    };
  };
  shown.matches = plain.CountRecords(file, path, counting(shown.plain));
  EXPECT_EQ(hinted.CountRecords(file, path, counting(shown.hinted)), shown.matches);
  EXPECT_EQ(hinted.ReachedEnd(), plain.ReachedEnd());
  int found = 0;
  EXPECT_EQ(hinted.FindRecord(file, path, counting(found)), shown.matches > 0);
  return shown;
}

// A match that needs a byte: a file without it is settled by a search of its
// bytes, and every file gets the count and end the scan gives, whatever
// stands around the byte (quotes, NULs, block edges), on every path.
TEST(CsvLoader, AMatchByteGivesTheScansAnswer) {
  TempDir dir;
  std::mt19937 random(7);
  const char bytes[] = {'a', '"', ',', '\n', '\r', '\t', '\0'};
  const std::size_t blocks[] = {1, 7, std::size_t(1) << 20};
  for (int k = 0; k < 300; ++k) {
    std::string text(random() % 300, 'a');
    // A third of the texts have no TAB, some of those a NUL.
    for (char& c : text) c = bytes[random() % (k % 3 == 0 ? 5 : 7)];
    if (k % 6 == 0 && !text.empty()) text[random() % text.size()] = '\0';
    testing_support::WriteFile(dir.Native("f.csv"), text);
    for (std::size_t choice = 0; choice < csv_test::Paths().size(); ++choice) {
      const TCsvLanes lanes = csv_test::Paths()[choice];
      SCOPED_TRACE(std::to_string(k) + " path " + csv_test::Name(lanes));
      const Shown shown = CompareWithMatchByte(dir.System("f.csv"), blocks[(k + choice) % 3], lanes);
      if (text.find_first_of(std::string("\t\0", 2)) == std::string::npos) {
        EXPECT_EQ(shown.hinted, 0);
      }
    }
  }
}

// Records long enough that the scan starts shortly before the first TAB or
// NUL: the rest of the record it starts in is skipped, and the count and end
// stay the scan's from the start, whatever the quotes before (a stray one
// turns every state after it), a long first field, or a TAB in a field after
// the first.
TEST(CsvLoader, AMatchByteLateInALongFileGivesTheScansAnswer) {
  TempDir dir;
  std::mt19937 random(11);
  auto word = [&](std::size_t n) {
    std::string w;
    for (std::size_t i = 0; i < n; ++i) w += static_cast<char>('a' + random() % 26);
    return w;
  };
  for (int k = 0; k < 24; ++k) {
    std::string text;
    while (text.size() < (800u << 10)) {
      const int shape = static_cast<int>(random() % 8);
      std::string first = shape == 0 ? "\"" + word(5) + "\"\"x\r\ny\"" : shape == 1 ? word(70000) : word(8);
      text += first + ",\"" + word(20) + "\"," + word(30) + (random() % 2 ? "\r\n" : "\n");
    }
    const std::size_t at = (600u << 10) + random() % (150u << 10);
    const std::size_t line = text.rfind('\n', at) + 1;
    switch (k % 4) {
      case 0:  // a TAB deep in a long first field, within what it shows
        text.insert(line, word(60000) + "\t,x\n");
        break;
      case 1:  // a TAB in a later field only
        text.insert(text.find(',', line) + 1, "\t");
        break;
      case 2:  // a NUL outside quotes ends the data there
        text.insert(line, std::string(1, '\0'));
        text.insert(text.find('\n', line + 2) + 1, "INFO\tlater,a\n");
        break;
      default:  // a stray quote early turns every quote state after it
        text.insert(text.find('\n', 1000) + 1, "\"");
        text.insert(line, "INFO\t");
        break;
    }
    testing_support::WriteFile(dir.Native("f.csv"), text);
    for (std::size_t block : {std::size_t(4096), std::size_t(1) << 20}) {
      SCOPED_TRACE(std::to_string(k) + " block " + std::to_string(block));
      const Shown shown = CompareWithMatchByte(dir.System("f.csv"), block, TCsvLoader::BestLanes());
      if (k % 4 == 0) {
        EXPECT_GT(shown.matches, 0u);
      }
      // The records long before the byte were skipped (from small pieces
      // the search can go back to a place close before it).
      if (k % 4 != 3 && block == 4096) {
        EXPECT_LT(shown.hinted * 3, shown.plain * 2);
      }
    }
  }
}

// Long random texts full of quotes, delimiters, line breaks and NULs, read in
// blocks of many sizes, against the line-by-line reading of the same text.
TEST(CsvLoader, StreamingAgreesWithInMemoryOnLongRandomTexts) {
  TempDir dir;
  const std::string path = dir.Native("r.csv");
  std::uint64_t state = 12345;
  auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state >> 33);
  };
  const char alphabet[] = {'a', 'b', ',', ',', '"', '"', '\r', '\n', ' ', '\0', 'x', 'y'};
  for (int round = 0; round < 300; ++round) {
    std::string text(64 + next() % 700, 'a');
    const unsigned nulChance = round % 3 == 0 ? 12 : 1000;  // most texts have no NUL
    for (char& c : text) {
      c = alphabet[next() % 9];
      if (next() % nulChance == 0) c = '\0';
      if (next() % 5 == 0) c = 'z';
    }
    testing_support::WriteFile(path, text);
    TCsvLoader memory;
    Records expected;
    CollectInto(memory, expected);
    memory.ParseText(text);
    for (std::size_t block : {7u, 63u, 64u, 65u, 100u, 1u << 20}) {
      bool reachedEnd = true;
      ASSERT_EQ(Load(dir.System("r.csv"), block, &reachedEnd), expected) << "round " << round << " block " << block;
      ASSERT_EQ(reachedEnd, memory.ReachedEnd()) << "round " << round;
    }
  }
}
