// The file scans against the plainest way to the same results: the
// line-by-line reading of the text. The rewrite must give its records
// written back, the check (FindRecord, CountRecords) its first fields, on
// every processor path this machine runs and in blocks of many sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScanPaths.h"
#include "base/Exception.h"
#include "csv/RsCsvUtil.h"
#include "platform/File.h"
#include "support/TestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#endif

using csv_test::Name;
using csv_test::Paths;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

struct Settings {
  unsigned char quote = '"';
  unsigned char delimiter = ',';
  bool skipFirstLine = false;
};

// A cut that depends on the value and sometimes exceeds it, or what the
// value shows of it.
std::size_t Cut(std::string_view first) {
  if (first.empty()) return 0;
  if (first[0] == 'a') return 3;
  if (first[0] == 'x') return 100;
  if (first[0] == 'y') return TCsvLoader::kFirstFieldShown + 1000;
  if (first[0] == '"') return 1;
  return 0;
}

// What a scan gave: the rewrite's bytes, and the first fields it showed
// (to the cut, or to the check's match).
struct Outcome {
  std::string bytes;
  std::vector<std::string> firsts;
  bool reachedEnd = true;
  bool operator==(const Outcome&) const = default;
};

void Configure(TCsvLoader& loader, const Settings& setup) {
  loader.SetQuoteChar(setup.quote);
  loader.SetDelimiter(setup.delimiter);
  loader.SetSkipFirstLine(setup.skipFirstLine);
}

// The same, reading in blocks of block bytes on the path.
void Configure(TCsvLoader& loader, const Settings& setup, std::size_t block, TCsvLanes lanes) {
  Configure(loader, setup);
  loader.SetBlockSize(block);
  loader.SetLanes(lanes);
}

Outcome Expected(const std::string& text, const Settings& setup) {
  Outcome r;
  TCsvLoader loader;
  Configure(loader, setup);
  const char q = static_cast<char>(setup.quote);
  loader.SetOnRecord([&](TStringList& fields) {
    for (int i = 0; i < fields.Count(); ++i) {
      if (i > 0) r.bytes += static_cast<char>(setup.delimiter);
      std::string value = fields[i];
      if (i == 0) {
        r.firsts.push_back(value.substr(0, TCsvLoader::kFirstFieldShown));
        value.erase(0, std::min(Cut(value), value.size()));
      }
      r.bytes += q;
      for (char c : value) {
        if (c == q) r.bytes += q;
        r.bytes += c;
      }
      r.bytes += q;
    }
    r.bytes += "\r\n";
  });
  loader.ParseText(text);
  r.reachedEnd = loader.ReachedEnd();
  return r;
}

// Each scan reads the file through a handle opened once, from its start.
Outcome Rewritten(platform::File& file, const std::string& path, const Settings& setup, std::size_t block,
                  TCsvLanes lanes, bool readOnce = false) {
  Outcome r;
  TCsvLoader loader;
  Configure(loader, setup, block, lanes);
  loader.SetReadOnce(readOnce);
  loader.RewriteQuoted(
      file, path,
      [&](std::string_view first) {
        r.firsts.emplace_back(first);
        return Cut(first);
      },
      [&](const char* data, std::size_t size) { r.bytes.append(data, size); });
  r.reachedEnd = loader.ReachedEnd();
  return r;
}

// The check through CountRecords, which sees every first field; its count
// must be that of the fields the match took.
Outcome Checked(platform::File& file, const std::string& path, const Settings& setup, std::size_t block,
                TCsvLanes lanes) {
  Outcome r;
  TCsvLoader loader;
  Configure(loader, setup, block, lanes);
  std::uint64_t taken = 0;
  const std::uint64_t count = loader.CountRecords(file, path, [&](std::string_view first) {
    r.firsts.emplace_back(first);
    const bool take = first.size() % 3 == 1;
    taken += take;
    return take;
  });
  if (count != taken) r.firsts.emplace_back("count " + std::to_string(count) + " of " + std::to_string(taken));
  r.reachedEnd = loader.ReachedEnd();
  return r;
}

// FindRecord up to the first field at index stop: it must have seen exactly
// the fields before it.
Outcome Found(platform::File& file, const std::string& path, const Settings& setup, std::size_t block, TCsvLanes lanes,
              std::size_t stop) {
  Outcome r;
  TCsvLoader loader;
  Configure(loader, setup, block, lanes);
  const bool found = loader.FindRecord(file, path, [&](std::string_view first) {
    r.firsts.emplace_back(first);
    return r.firsts.size() > stop;
  });
  if (!found) r.firsts.emplace_back("not found");
  return r;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 2000)) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += "0123456789abcdef"[c >> 4];
      out += "0123456789abcdef"[c & 15];
    }
  }
  return text.size() > 2000 ? out + "... (" + std::to_string(text.size()) + " bytes)" : out;
}

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "\"" << Printable(o.bytes) << "\" after " << o.firsts.size() << " first fields"
      << (o.reachedEnd ? "" : ", ended early");
}

class Rewrite : public testing::Test {
 protected:
  // Compares the scans of one written file in every block size on the
  // default path, and in blocks of a lane or more on the others, which
  // differ only in how they classify lanes; the search that stops reads in
  // the largest block. One-byte blocks, which cost a read each, are left to
  // the rewrite.
  void Check(const std::string& text, const Settings& setup, std::initializer_list<std::size_t> blocks) {
    WriteFile(FDir.Native("f.csv"), text);
    const std::string path = FDir.System("f.csv");
    platform::File file;
    ASSERT_EQ(file.OpenRead(path, false), 0);
    const Outcome expected = Expected(text, setup);
    const Outcome firsts{"", expected.firsts, expected.reachedEnd};
    const std::size_t stop = expected.firsts.size() / 2;
    Outcome found{"",
                  {expected.firsts.begin(),
                   expected.firsts.begin() + static_cast<std::ptrdiff_t>(std::min(stop + 1, expected.firsts.size()))}};
    if (stop >= expected.firsts.size()) found.firsts.emplace_back("not found");
    for (TCsvLanes lanes : Paths())
      for (std::size_t block : blocks) {
        if (block < 64 && lanes != TCsvLoader::BestLanes()) continue;
        ASSERT_EQ(Rewritten(file, path, setup, block, lanes), expected)
            << "text \"" << Printable(text) << "\" block " << block << " path " << Name(lanes);
        if (block > 1) {
          ASSERT_EQ(Checked(file, path, setup, block, lanes), firsts)
              << "check of \"" << Printable(text) << "\" block " << block << " path " << Name(lanes);
        }
      }
    for (TCsvLanes lanes : Paths())
      ASSERT_EQ(Found(file, path, setup, std::max(blocks), lanes, stop), found)
          << "search in \"" << Printable(text) << "\" path " << Name(lanes);
  }
  TempDir FDir;
};

std::uint64_t gState = 0x2545F4914F6CDD1DULL;
unsigned Next() {
  gState = gState * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<unsigned>(gState >> 33);
}

// A record that is mostly well formed: quoted fields with doubled quotes and
// line breaks, plain fields, empty ones, now and then a stray quote.
std::string RandomRecord() {
  static const char* const plain[] = {"", "a", "abc", "x1", "192.168.0.1", "INFO", " sp ", "a\"b"};
  static const char* const quoted[] = {
      "\"\"",     "\"a\"",     "\"a,b\"",  "\"a\"\"b\"", "\"\"\"\"", "\"l\r\nb\"", "\"abcdefghijklmnop\"",
      "\"a\"b\"", "\"\"\"a\"", "\"x\"\"\""};
  std::string r;
  const unsigned fields = 1 + Next() % 7;
  for (unsigned k = 0; k < fields; ++k) {
    if (k > 0) r += ',';
    r += Next() % 3 == 0 ? plain[Next() % 8] : quoted[Next() % 10];
  }
  static const char* const ends[] = {"\r\n", "\r\n", "\n", "\r", "\n\r", ""};
  return r + ends[Next() % 6];
}

}  // namespace

// Every special byte at every position of a small text, read in tiny blocks
// so that it also lands on every block boundary.
TEST_F(Rewrite, EverySpecialByteAtEveryPosition) {
  using namespace std::string_literals;
  const std::vector<std::string> specials = {"\"", "\"\"", "\r\n", "\r", "\n", "\0"s, "\n\r", ",", "a"};
  const std::string base = "ab,\"c,d\"\r\n\"x\"\"y\",,\"\"\nhi\"j\"k,l\r\n\"a\"\r\nmn";
  for (const std::string& special : specials)
    for (std::size_t pos = 0; pos <= base.size(); ++pos)
      Check(base.substr(0, pos) + special + base.substr(pos), {}, {1, 2, 3, 5, 8, 64});
}

TEST_F(Rewrite, WorkedCases) {
  using namespace std::string_literals;
  const std::vector<std::string> texts = {
      "",
      "\r\n",
      "\n\n\r\r\n",
      ",",
      "\"a\",\"b\"\r\n",                    // already in the quoted form
      "abcdef,\"x\"\r\n",                   // cuts from plain and quoted first fields
      "\"abcdef\",x\n\"a\"\n\"x\"\"y\"\n",  // a cut beyond the value; one with an inner quote
      "\"\"\"abc\"\r\n",                    // the value begins with a quote
      "\"abc",                              // open quote at the end of the data
      "abc\"",
      "\"",
      "\"a\"b\"c\",d\r\n",
      "a\0b\r\n"s,
      "\"a\0b\",c\r\n\0rest"s,
      "\0"s,
  };
  for (const std::string& text : texts) Check(text, {}, {1, 4, 1 << 20});
}

TEST_F(Rewrite, RandomRecordsAcrossBlockBoundaries) {
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int records = 1 + static_cast<int>(Next() % 60);
    for (int k = 0; k < records; ++k) text += RandomRecord();
    if (round % 10 == 0) text.insert(Next() % (text.size() + 1), 1, '\0');
    Check(text, {}, {1, 7, 63, 64, 65, 129, 1 << 20});
  }
}

TEST_F(Rewrite, RandomBytes) {
  const char alphabet[] = {'a', 'x', ',', ',', '"', '"', '"', '\r', '\n', ' ', '\0', 'b'};
  for (int round = 0; round < 200; ++round) {
    std::string text(Next() % 400, 'a');
    for (char& c : text) c = alphabet[Next() % (round % 4 == 0 ? 12 : 10)];
    Check(text, {}, {1, 7, 64, 100, 1 << 20});
  }
}

// Records in every shape the rewrite tells apart, in the quote and delimiter
// of the settings: Q stands for the quote, D for the delimiter.
std::string Shapes(const Settings& setup) {
  std::string text =
      "plain\r\nQquotedQDQwith QQinnerQQ quotesQ\nQaQbQDaQbDQQDDQ\r\nQ\r\nQQQQQDQQQxQQQDxyz\r"
      "QQQabcQD9\n\nax,b\"c\r\nQlong field that spans more than one lane of sixty-four bytesQDtail\n";
  for (char& c : text) {
    if (c == 'Q') c = static_cast<char>(setup.quote);
    if (c == 'D') c = static_cast<char>(setup.delimiter);
  }
  return text;
}

// A field end, a quote, a pair of doubled quotes and a CR LF at every offset
// around the edges of the 64-byte lanes and of the blocks read.
TEST_F(Rewrite, SplitsAndQuotesOnLaneEdges) {
  const std::vector<std::string> snippets = {",\"q\",",       // a field opens and closes in quotes
                                             "\"a\"\"b\",",   // doubled quotes inside quotes
                                             "\r\n\"x\",",    // a CR LF, then a quoted first field
                                             "\r\"a\"\"\",",  // a lone CR, then a first field with a doubled quote
                                             "a\"b,",         // a quote inside a plain field
                                             ",\"\",\"\"\r\n"};
  for (const std::string& snippet : snippets)
    for (std::size_t at = 56; at <= 72; ++at) {
      // A first line of plain bytes puts the snippet at the offset; a second
      // copy lands one lane later.
      std::string text(at, 'a');
      text += snippet + std::string(64 - snippet.size() % 64, 'b') + snippet + "end";
      Check(text, {}, {64, 65, 128, 1 << 20});
    }
}

// Fields that the rewrite copies and fields it rebuilds from their values, in
// runs long enough for whole lanes, with the cut on both kinds of first field.
TEST_F(Rewrite, FastAndRebuiltFieldsMixed) {
  const std::string copied = "\"abcdef\",x,\"in \"\"quotes\"\"\",,\"a,b\r\nc\"\r\n";
  const std::vector<std::string> rebuilt = {"\"\"\"a\",b\n", "x\"y\"z,\"p\"q\"r\"\r\n", "\"a\"\"\"\"\"\r",
                                            "\"open\"text,\"\"\"\"\n"};
  std::string text;
  for (int k = 0; k < 40; ++k) {
    text += copied;
    if (k % 3 == 0) text += rebuilt[static_cast<std::size_t>(k / 3) % rebuilt.size()];
  }
  Check(text, {}, {1, 63, 64, 65, 200, 1 << 20});
}

TEST_F(Rewrite, OtherQuoteAndDelimiterInTheOnePass) {
  for (const Settings& setup : {Settings{'\'', ';', false}, Settings{'|', '\t', false}, Settings{'"', ',', false}}) {
    std::string text;
    for (int k = 0; k < 12; ++k) text += Shapes(setup);
    Check(text, setup, {1, 64, 65, 100, 1 << 20});
  }
}

// Settings the one-pass rewrite does not cover take the field by field way.
TEST_F(Rewrite, OtherSettingsGiveTheSameBytes) {
  const std::string text = "h,\"1\"\r\na'b,'c''d'\n\"x,y\",\"\"\"z\"\r\n";
  for (const Settings& setup : {Settings{'"', ',', true}, Settings{'\'', ',', false}, Settings{0, ',', false},
                                Settings{',', ',', false}, Settings{'"', '\n', false}})
    Check(text, setup, {1, 3, 1 << 20});
}

// A field far longer than a block, and than the room each block keeps in
// front for what is carried over from the block before.
TEST_F(Rewrite, FieldsLongerThanTheRoomBeforeABlock) {
  std::string text = "head,x\r\n\"";
  for (int k = 0; k < 20000; ++k) text += k % 7 == 0 ? "a\"\"b,\r\n" : "0123456789";
  text += "\",tail\r\nplain" + std::string(150000, 'p') + ",end\n\"q\"\r\n";
  Check(text, {}, {4096, 65536, 1 << 20});
  Check(text, {'"', ',', true}, {4096, 1 << 20});
}

// Fields and lines longer than a block's room are streamed by the check and
// the rewrite: first fields longer than they show, quote runs of every length
// at the ends and across the edges of blocks, a field in quotes to the end
// of the data, NULs inside and outside quotes.
TEST_F(Rewrite, LongFieldsStreamAsTheyAreRead) {
  using namespace std::string_literals;
  const std::size_t room = 64 << 10;
  // A long body that begins and ends inside quotes, with a plain byte: plain
  // bytes between a closing and an opening quote, doubled quotes, commas and
  // line breaks inside, so that quote runs of every length occur.
  auto body = [](std::size_t size, std::size_t seed) {
    std::string b;
    for (std::size_t k = seed; b.size() < size; ++k)
      b += "\"" + std::string(k % 7, 'b') + "\"" + std::string(2 * (k % 3), '"') + "x,\r\n";
    return b;
  };
  const std::vector<std::string> texts = {
      // First fields longer than the check shows, the cut on plain and on
      // quoted ones, and one whose value begins with a quote.
      "\"a" + body(room + 5000, 1) + "\",tail\r\nnext,1\r\n",
      "\"x" + body(3 * room, 2) + "\"\"\"\r\n\"\"\"" + body(room, 3) + "\"\"\"\"\"\n",
      "\"y" + body(2 * room, 8) + "\",1\r\n\"y" + body(room / 2, 9) + "\"\r\n",
      "a" + std::string(room + 3, 'p') + ",b\r\n",
      // Long fields behind the first, quote runs at their ends, an empty one.
      "h,\"" + body(2 * room + 77, 4) + "\"\"\"\",\"\",\"" + body(room, 5) + "\"\r" + "\n\"e\"\r\n",
      "h," + std::string(room + 1, '"') + ",z\n" + "h," + std::string(room + 2, '"') + "\r\n",
      // A line of many short fields longer than the room; quotes that are no
      // field's own in a long unquoted field.
      std::string(20000, ',') + "a,b\r\nq" + std::string(room, 'q') + "\"r\"\"s" + std::string(room, 's') + ",t\n",
      // The data ends inside quotes, and with a NUL inside and then outside.
      "\"a,\r\n" + body(room + 9, 6),
      "k,\"" + body(room, 7) + "\0\",v\r\n\"w\"\0later\r\n"s,
  };
  for (const std::string& text : texts) Check(text, {}, {4095, 4096, room + 1, 1 << 20});
  Check(texts[1], {'"', ',', true}, {4096, 1 << 20});
}

// One stray quote in a log in the quoted form turns what was inside quotes
// outside and the other way round: the rest of the log becomes one long line,
// in one field or in many. At every offset around the edges of lanes, of
// blocks and of the room before a block.
TEST_F(Rewrite, StrayQuoteAtEveryOffset) {
  std::string oneField, manyFields;
  for (int k = 0; oneField.size() < (160u << 10); ++k) {
    const std::string stamp = "\"2026/11/" + std::to_string(10 + k % 18) + " 12:00:00\",";
    oneField += stamp + "\"192.168.0." + std::to_string(k % 250) + "\",\"said \"\"hi\"\"\",\"\"\r\n";
    manyFields += stamp + "\"見積書,請求書\",\"a\"\"b\"\r\n";
  }
  std::vector<std::size_t> offsets;
  for (std::size_t edge : {0u, 64u, 128u, 4096u, 65536u, 65536u + 4096u})
    for (std::size_t at = edge > 3 ? edge - 3 : 0; at <= edge + 3; ++at) offsets.push_back(at);
  for (const std::string* log : {&oneField, &manyFields})
    for (std::size_t at : offsets) Check(log->substr(0, at) + "\"" + log->substr(at), {}, {4096, 1 << 20});
}

#ifndef _WIN32
// The pages of a file the system holds in its cache.
std::size_t CachedPages(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  struct stat info {};
  fstat(fd, &info);
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t pages = (static_cast<std::size_t>(info.st_size) + page - 1) / page;
  void* map = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
  std::vector<unsigned char> resident(pages);
  mincore(map, static_cast<std::size_t>(info.st_size), resident.data());
  munmap(map, static_cast<std::size_t>(info.st_size));
  close(fd);
  return static_cast<std::size_t>(
      std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }));
}

// A file read once leaves none of its bytes in the system's cache, read on
// the caller's thread (small blocks) or ahead of it, and gives the same
// bytes.
TEST_F(Rewrite, AFileReadOnceLeavesNoCachedBytes) {
  std::string text;
  while (text.size() < (3u << 20)) text += RandomRecord();
  WriteFile(FDir.Native("f.csv"), text);
  struct statfs fs {};
  ASSERT_EQ(statfs(FDir.Native().c_str(), &fs), 0);
  if (fs.f_type == 0x01021994) GTEST_SKIP() << "tmpfs holds its files only in the cache";
  const std::string path = FDir.System("f.csv");
  const Outcome expected = Expected(text, {});
  for (std::size_t block : {4096u, 1u << 20}) {
    platform::File file;
    ASSERT_EQ(file.OpenRead(path, false), 0);
    ASSERT_EQ(file.Flush(), 0);  // a page still to be written stays
    ASSERT_EQ(testing_support::ReadFile(FDir.Native("f.csv")), text);
    ASSERT_GT(CachedPages(FDir.Native("f.csv")), 0u);
    EXPECT_EQ(Rewritten(file, path, {}, block, TCsvLoader::BestLanes(), true), expected) << "block " << block;
    EXPECT_EQ(CachedPages(FDir.Native("f.csv")), 0u) << "block " << block;
  }
}
#endif

// The bytes handed to write stay as they are until the next call, and the
// last ones while the loader lives, so that they can be written behind.
TEST_F(Rewrite, BytesHandedOnStayUntilTheNextCall) {
  std::string text;
  while (text.size() < (5u << 20)) text += RandomRecord();
  WriteFile(FDir.Native("f.csv"), text);
  for (const Settings& setup : {Settings{}, Settings{'"', ',', true}}) {
    const Outcome expected = Expected(text, setup);
    TCsvLoader loader;
    Configure(loader, setup);
    std::string bytes, previous;
    const char* handed = nullptr;
    int calls = 0;
    auto unchanged = [&] { return handed == nullptr || std::string(handed, previous.size()) == previous; };
    loader.RewriteQuoted(FDir.System("f.csv"), Cut, [&](const char* data, std::size_t size) {
      ASSERT_TRUE(unchanged()) << "call " << calls;
      ++calls;
      handed = data;
      previous.assign(data, size);
      bytes += previous;
    });
    EXPECT_TRUE(unchanged());
    EXPECT_GT(calls, 2);
    EXPECT_EQ(bytes, expected.bytes);
  }
}

TEST_F(Rewrite, EmptyFileMissingFileAndWriteFailure) {
  TCsvLoader loader;
  auto keep = [](const char*, std::size_t) {};
  WriteFile(FDir.Native("empty.csv"), "");
  EXPECT_FALSE(loader.RewriteQuoted(FDir.System("empty.csv"), Cut, keep));
  EXPECT_THROW(loader.RewriteQuoted(FDir.System("missing.csv"), Cut, keep), Exception);
  WriteFile(FDir.Native("f.csv"), "a,b\r\n");
  EXPECT_THROW(loader.RewriteQuoted(FDir.System("f.csv"), Cut,
                                    [](const char*, std::size_t) { throw std::runtime_error("disk full"); }),
               std::runtime_error);
}
