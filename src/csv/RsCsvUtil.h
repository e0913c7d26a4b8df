// Delimited text: TCsv splits one line into fields, TCsvLoader reads a whole
// file with quote-aware line breaking and hands each record to a callback.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "base/Object.h"
#include "base/StringList.h"
#include "platform/File.h"

class TCsv : public TObject {
 public:
  explicit TCsv(TObject* owner = nullptr);

  std::string text;           // the line to split
  std::string tokns = ",";    // every byte of it is a delimiter
  std::string stokns = "\"";  // every byte of it is a quote byte
  bool strflg = true;         // quote bytes switch the inside-quotes state
  TStringList items;          // the fields of the last split
  bool blockflg = false;      // a run of delimiters counts as one

  void SplitFields();
  void StripQuotes();
  void UndoubleQuotes();
  // SplitFields over a line that is not copied into text first.
  void SplitFields(std::string_view line);

 private:
  enum : unsigned char { kQuote = 1, kDelimiter = 2 };
  void UpdateClasses();

  std::array<unsigned char, 256> FClasses{};
  std::string FClassTokns, FClassStokns;
  bool FClassesBuilt = false;
};

class TCsvBlockStream;

class TCsvLoader {
 public:
  using TBeginEvent = std::function<void(int firstRecordLine, const TStringList& lines)>;
  using TRecordEvent = std::function<void(TStringList& fields)>;
  using TEndEvent = std::function<void()>;
  // How many bytes to drop from the front of a record's first field.
  using TFirstFieldCut = std::function<std::size_t(std::string_view firstField)>;
  using TWriteEvent = std::function<void(const char* data, std::size_t size)>;

  TCsvLoader() = default;

  void SetSkipFirstLine(bool value) { FSkipFirstLine = value; }
  void SetQuoteChar(unsigned char value) { FQuoteChar = value; }
  void SetDelimiter(unsigned char value) { FDelimiter = value; }
  void SetOnRecord(TRecordEvent callback) { FOnRecord = std::move(callback); }
  // Size of the blocks LoadFromFile reads (1 MiB); tests use tiny blocks.
  void SetBlockSize(std::size_t bytes) { FBlockSize = bytes ? bytes : 1; }

  TBeginEvent OnBegin;
  TEndEvent OnEnd;

  // Reads and delivers the whole file; false for an empty file. Without
  // OnBegin the file is read block by block, so memory stays bounded.
  bool LoadFromFile(const std::string& fileName);
  void ParseText(std::string_view text);
  // True when the last LoadFromFile or ParseText read its data to the end,
  // false when a NUL byte outside quotes ended the data early.
  bool ReachedEnd() const { return FReachedEnd; }

  // True when some record's first field (as LoadFromFile would deliver it)
  // satisfies match; reads only as far as the first such record, with the
  // same checks and errors as LoadFromFile, and calls no callback.
  bool FindRecord(const std::string& fileName, const std::function<bool(std::string_view firstField)>& match);
  // The same on a file the caller has opened, read from its start; the name
  // only names it in messages.
  bool FindRecord(platform::File& file, const std::string& fileName,
                  const std::function<bool(std::string_view firstField)>& match);

  // Writes every record of the file back in the quoted form: each field in
  // the quote byte with its quote bytes doubled, the fields joined by the
  // delimiter, CR LF after each record (a record without fields is an empty
  // line). The fields are the ones LoadFromFile delivers, the first one less
  // the bytes cut asks to drop; the bytes go to write in large pieces. Calls
  // no event; false for an empty file. ReachedEnd tells, as after
  // LoadFromFile, whether the data was read to its end. The bytes handed to
  // write stay as they are, and allocated, until write is called next, the
  // loader is used again or it is destroyed: write may leave them to be
  // written in the background.
  bool RewriteQuoted(const std::string& fileName, const TFirstFieldCut& cut, const TWriteEvent& write);
  // The same on a file the caller has opened, read from its start; the name
  // only names it in messages.
  bool RewriteQuoted(platform::File& file, const std::string& fileName, const TFirstFieldCut& cut,
                     const TWriteEvent& write);

  static void SplitLines(std::string_view text, unsigned char quoteChar, TStringList& lines);

 private:
  using TFieldsEvent = std::function<bool(const std::string_view* fields, std::size_t count)>;
  void Configure();
  void ProcessLine(std::string_view line);
  // Opens the file refusing writers.
  static platform::File OpenFile(const std::string& fileName);
  // Reads the first block of the stream's file.
  static void StartFile(const std::string& fileName, TCsvBlockStream& blocks);
  static EFOpenError OpenError(const std::string& fileName, int err);
  // Streams the records of a file whose first block the stream holds; true
  // when onRecord stopped the stream by returning false.
  bool StreamRecords(const std::string& fileName, TCsvBlockStream& blocks, bool firstFieldOnly,
                     const TFieldsEvent& onRecord);

  bool FSkipFirstLine = false;
  unsigned char FQuoteChar = 34;
  unsigned char FDelimiter = 44;
  TRecordEvent FOnRecord;
  std::size_t FBlockSize = 1 << 20;
  bool FReachedEnd = true;
  TCsv FCsv;
  std::vector<char> FOutput[2];  // the rewrite's output buffers, which take turns
};
