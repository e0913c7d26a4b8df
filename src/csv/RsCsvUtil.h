// Delimited text: TCsv splits one line into fields, TCsvLoader reads a whole
// file with quote-aware line breaking and hands each record to a callback.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

// Bytes that are not cleared when they are made: a scan's buffers are
// large, and most of a buffer is never used for a small file.
class TCsvBuffer {
 public:
  char* data() { return FBytes.get(); }
  std::size_t size() const { return FSize; }
  // At least size bytes; what they held is lost when they grow.
  void Grow(std::size_t size) {
    if (size <= FSize) return;
    FBytes.reset(new char[size]);
    FSize = size;
  }

 private:
  std::unique_ptr<char[]> FBytes;
  std::size_t FSize = 0;
};

// The processor paths of the file scans (the check and the rewrite): byte by
// byte, 16-byte SSE2 lanes, 32-byte AVX2 lanes and 64-byte AVX-512 lanes, the
// last two with a carry-less multiply for the quote state. All give the same
// results.
enum class TCsvLanes { Bytes, Sse2, Avx2, Avx512 };

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
  // The path the file scans take: by default the widest this processor
  // runs. False, and no change, for a path it cannot run.
  bool SetLanes(TCsvLanes lanes) {
    if (!CanRun(lanes)) return false;
    FLanes = lanes;
    return true;
  }
  static bool CanRun(TCsvLanes lanes);
  static TCsvLanes BestLanes();
  // Tells FindRecord and CountRecords that their match holds only for a
  // first field whose shown value holds this byte (not the quote byte); the
  // records before the first such byte may then not be shown to it. A value
  // keeps every byte but quotes, so a file without the byte has no match:
  // a plain search of its bytes, at the speed of reading, settles it, and
  // in a file with it the scan starts shortly before it.
  void SetMatchByte(char byte) { FMatchByte = byte; }
  // Tells RewriteQuoted that its file is read once and then goes (it is to
  // be replaced): the bytes read are dropped from the system's cache as
  // they come, so that their memory serves the output at once and the
  // file's release later has no cached bytes left to drop.
  void SetReadOnce(bool value) { FReadOnce = value; }

  // What the check and the rewrite show of a first field: its value, or
  // the first that many bytes of a longer one. A field of any length is
  // read in bounded memory.
  static constexpr std::size_t kFirstFieldShown = 64 << 10;

  TBeginEvent OnBegin;
  TEndEvent OnEnd;

  // Reads and delivers the whole file; false for an empty file. Without
  // OnBegin the file is read block by block: memory holds one record, not
  // the file.
  bool LoadFromFile(const std::string& fileName);
  void ParseText(std::string_view text);
  // True when the last LoadFromFile or ParseText read its data to the end,
  // false when a NUL byte outside quotes ended the data early.
  bool ReachedEnd() const { return FReachedEnd; }

  // True when some record's first field (as LoadFromFile would deliver it,
  // shown as kFirstFieldShown says) satisfies match; reads only as far as
  // the first such record, with the same checks and errors as LoadFromFile,
  // and calls no callback.
  bool FindRecord(const std::string& fileName, const std::function<bool(std::string_view firstField)>& match);
  // The same on a file the caller has opened, read from its start; the name
  // only names it in messages.
  bool FindRecord(platform::File& file, const std::string& fileName,
                  const std::function<bool(std::string_view firstField)>& match);
  // The number of records whose first field satisfies match, reading the
  // whole file as FindRecord reads it.
  std::uint64_t CountRecords(platform::File& file, const std::string& fileName,
                             const std::function<bool(std::string_view firstField)>& match);

  // Writes every record of the file back in the quoted form: each field in
  // the quote byte with its quote bytes doubled, the fields joined by the
  // delimiter, CR LF after each record (a record without fields is an empty
  // line). The fields are the ones LoadFromFile delivers, the first one less
  // the bytes cut asks to drop (cut sees the value as kFirstFieldShown
  // says); the bytes go to write in large pieces. Fields and lines of any
  // length take bounded memory, except with a skipped first line or quote
  // and delimiter bytes other than ordinary ones, where a record is held. Calls
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
  using TFieldsEvent = std::function<void(const std::string_view* fields, std::size_t count)>;
  using TMatch = std::function<bool(std::string_view firstField)>;
  void Configure();
  void ProcessLine(std::string_view line);
  // Opens the file refusing writers.
  static platform::File OpenFile(const std::string& fileName);
  // Reads the first block of the stream's file, from its start or from the
  // offset given.
  static void StartFile(const std::string& fileName, TCsvBlockStream& blocks, std::uint64_t from = 0);
  static EFOpenError OpenError(const std::string& fileName, int err);
  // Streams the records of a file whose first block the stream holds.
  void StreamRecords(const std::string& fileName, TCsvBlockStream& blocks, const TFieldsEvent& onRecord);
  // The records whose first field satisfies match, up to the first one
  // when stopAtFirst.
  std::uint64_t CheckRecords(platform::File& file, const std::string& fileName, const TMatch& match, bool stopAtFirst);
  // Where the check of the file starts: nothing when the file holds neither
  // the match byte nor a NUL byte (which may end the data early, as only the
  // scan can tell); 0, or a later place shortly before the first of them,
  // from which the scan skips the rest of the record it starts in.
  std::optional<std::uint64_t> CheckFrom(platform::File& file, const std::string& fileName) const;

  bool FSkipFirstLine = false;
  unsigned char FQuoteChar = 34;
  unsigned char FDelimiter = 44;
  TRecordEvent FOnRecord;
  std::size_t FBlockSize = 1 << 20;
  TCsvLanes FLanes = BestLanes();
  std::optional<char> FMatchByte;
  bool FReadOnce = false;
  bool FReachedEnd = true;
  TCsv FCsv;
  TCsvBuffer FOutput[2];  // the rewrite's output buffers, which take turns
};
