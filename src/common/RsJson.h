// A lenient JSON reader and the JSON value classes with their text form.
//
// Texts are byte strings of the system code page; the reader accepts comments,
// single quotes, bare words, '=' and "=>" after a name, ';' as a separator,
// trailing separators and absent array elements. It does not decode "\u".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "base/Object.h"
#include "base/StringList.h"

class JSONTokener;
class TJSONArray;
class TJSONObject;
class _Boolean;
class _NULL;
class _Number;
class _String;

// Errors of the unit.
class ParseException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "ParseException"; }
};
class NoSuchElementException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "NoSuchElementException"; }
};
class NumberFormatException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "NumberFormatException"; }
};
class NullPointerException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "NullPointerException"; }
};
class NotImplmentedFeature : public Exception {
 public:
  NotImplmentedFeature() : Exception("Not Implemented.") {}
  const char* ClassName() const noexcept override { return "NotImplmentedFeature"; }
};

class TZAbstractObject;

// Releases a value unless it is one of the shared literals, which nobody owns.
struct TJSONValueRelease {
  TJSONValueRelease() = default;
  // Implicit, so that a std::unique_ptr of any value class becomes a value pointer.
  template <typename T>
  TJSONValueRelease(std::default_delete<T>) {}
  void operator()(TZAbstractObject* value) const;
};
// A value handed from one owner to the next; an empty pointer is "no value".
using TJSONValuePtr = std::unique_ptr<TZAbstractObject, TJSONValueRelease>;

// The shared true, false and null values. They live for the whole run and are
// never released by a container; the reader hands them out for true, false
// and null.
_Boolean& SharedTrue();
_Boolean& SharedFalse();
_NULL& SharedNull();
bool IsSharedLiteral(const TZAbstractObject* value);
// A value pointer to one of the three shared literals (releasing it does nothing).
TJSONValuePtr Shared(TZAbstractObject& literal);

class TZAbstractObject : public TObject {
 public:
  // True only for this very object (false for no object).
  virtual bool Equals(const TZAbstractObject* other) const;
  // Raises NotImplmentedFeature unless a value class can copy itself.
  virtual TJSONValuePtr clone() const;
  // The class name and the address: "TZAbstractObject <00007F12345678A0>".
  virtual std::string toString() const;
  virtual const char* ClassName() const { return "TZAbstractObject"; }
};

// A cursor over one text. Positions are 1-based; reading at length + 1 yields
// the byte 0 (the end) and moves past it, reading further yields 0 again.
class JSONTokener : public TZAbstractObject {
 public:
  JSONTokener(std::string text, bool rawWords);

  char nextByte();
  void stepBack();
  bool hasMore() const { return FPosition <= FText.size() + 1; }
  // The next byte that is neither blank nor inside a comment; 0 at the end.
  char nextSignificant();
  // The text of a string whose opening quote was just read.
  std::string readQuoted(char quote);
  // One value of any kind; the caller owns it (shared literals excepted).
  TJSONValuePtr readValue();
  // The error for the current position, not raised.
  ParseException makeParseError(std::string_view message) const;
  // Whether the byte just read is part of a double-byte character.
  bool lastByteInDoubleByteChar();

  std::string toString() const override;
  const char* ClassName() const override { return "JSONTokener"; }

  std::size_t position() const { return FPosition; }

 private:
  friend class TJSONObject;
  friend class TJSONArray;
  // Counts one open object or array for the lifetime of its parse; texts
  // nested deeper than the limit are refused instead of exhausting the stack.
  class Level {
   public:
    explicit Level(JSONTokener& x);
    ~Level() { --FTokener.FDepth; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    JSONTokener& FTokener;
  };
  void skipLineComment();

  std::string FText;
  std::size_t FPosition = 1;
  bool FRawWords;
  int FDepth = 0;
  // A character start at or before the last byte asked about, so that the
  // double-byte question is answered in one pass over the text.
  std::size_t FCharStart = 1;
};

class TJSONObject : public TZAbstractObject {
 public:
  TJSONObject() = default;
  // Parses the text (bare words are not flagged unquoted).
  explicit TJSONObject(std::string_view text);
  // Parses an object from the tokenizer's current position.
  explicit TJSONObject(JSONTokener& x);

  // Removes all members, then parses the text into the object. On an error
  // the members read so far stay.
  void parseText(std::string_view text, bool rawWords);

  void removeAll();
  // Value of the first member whose name matches without regard to case.
  TZAbstractObject* findValue(std::string_view name) const;
  TZAbstractObject& requireValue(std::string_view name) const;
  std::string requireText(std::string_view name) const;
  std::string textOr(std::string_view name, std::string_view defaultText) const;
  std::string textOrEmpty(std::string_view name) const { return textOr(name, ""); }
  double requireFloat(std::string_view name) const;
  std::int32_t requireInteger(std::string_view name) const;
  // Replaces the first matching member's value, appends a member, or with no
  // value removes the first matching member.
  TJSONObject& store(std::string_view name, TJSONValuePtr value);
  TJSONObject& storeInteger(std::string_view name, std::int32_t number);
  TJSONObject& storeText(std::string_view name, std::string_view text, bool unquoted);
  // Takes the first matching member out; its value goes to the caller.
  TJSONValuePtr detach(std::string_view name);
  std::unique_ptr<TStringList> memberNames() const;

  TJSONValuePtr clone() const override;
  std::string toString() const override;
  // Appends the text form, in time linear in the size of the object.
  void appendText(std::string& out) const;
  const char* ClassName() const override { return "TJSONObject"; }

 private:
  struct Member {
    std::string name;
    TJSONValuePtr value;
  };
  void parse(JSONTokener& x);
  // Index of the first member whose name matches, or -1.
  std::ptrdiff_t indexOf(std::string_view name, std::size_t limit) const;

  std::vector<Member> FMembers;
};

class TJSONArray : public TZAbstractObject {
 public:
  TJSONArray() = default;
  explicit TJSONArray(JSONTokener& x);

  // Parses the text and appends its elements; existing elements stay.
  void parseText(std::string_view text, bool rawWords);

  int elementCount() const { return static_cast<int>(FElements.size()); }
  // None for an index out of range and for an absent element.
  TZAbstractObject* elementAt(int index) const;
  TZAbstractObject& requireElement(int index) const;
  std::string requireText(int index) const;
  std::string joinWith(std::string_view separator) const;

  std::string toString() const override;
  // Appends the text form, in time linear in the size of the array.
  void appendText(std::string& out) const;
  const char* ClassName() const override { return "TJSONArray"; }

 private:
  void parse(JSONTokener& x);
  void appendJoined(std::string& out, std::string_view separator) const;

  std::vector<TJSONValuePtr> FElements;
};

class _Number : public TZAbstractObject {
 public:
  virtual double asDouble() const = 0;
  virtual std::int32_t asInteger() const = 0;
};

class _Double : public _Number {
 public:
  explicit _Double(double value) : FValue(value) {}
  // '.' is the decimal separator whatever the locale; raises EConvertError.
  explicit _Double(std::string_view text);

  TJSONValuePtr clone() const override;
  std::string toString() const override;
  double asDouble() const override { return FValue; }
  // Truncated toward zero, the low 32 bits of the result.
  std::int32_t asInteger() const override;
  const char* ClassName() const override { return "_Double"; }

 private:
  double FValue;
};

class _Integer : public _Number {
 public:
  explicit _Integer(std::int32_t value) : FValue(value) {}
  // Raises EConvertError for a text that is not an integer.
  explicit _Integer(std::string_view text);

  TJSONValuePtr clone() const override;
  std::string toString() const override;
  double asDouble() const override { return FValue; }
  std::int32_t asInteger() const override { return FValue; }
  const char* ClassName() const override { return "_Integer"; }

 private:
  std::int32_t FValue;
};

class _Boolean : public TZAbstractObject {
 public:
  explicit _Boolean(bool value) : FValue(value) {}
  bool value() const { return FValue; }

  TJSONValuePtr clone() const override;
  std::string toString() const override { return FValue ? "true" : "false"; }
  const char* ClassName() const override { return "_Boolean"; }

 private:
  bool FValue;
};

class _String : public TZAbstractObject {
 public:
  explicit _String(std::string text) : FText(std::move(text)) {}

  // An unquoted string is written back without quotes.
  bool unquoted() const { return FUnquoted; }
  void setUnquoted(bool value) { FUnquoted = value; }
  // Equal after both are turned to lower case by the code page's rules.
  bool equalsIgnoreCase(std::string_view text) const;

  // Another _String with exactly the same bytes.
  bool Equals(const TZAbstractObject* other) const override;
  TJSONValuePtr clone() const override;
  std::string toString() const override { return FText; }
  const char* ClassName() const override { return "_String"; }

 private:
  std::string FText;
  bool FUnquoted = false;
};

class _NULL : public TZAbstractObject {
 public:
  // True for no object and for any _NULL.
  bool Equals(const TZAbstractObject* other) const override;
  std::string toString() const override { return "null"; }
  const char* ClassName() const override { return "_NULL"; }
};

// A JSON string literal of the bytes: LF and CR as \n and \r, other control
// bytes except backspace, TAB and form feed as \u00XX, '"' and '\' escaped
// unless they are the second byte of a double-byte character.
std::string quoteText(std::string_view text);
void AppendQuoted(std::string& out, std::string_view text);
// The text of a member value or array element ("null" for no value).
std::string valueToText(const TZAbstractObject* value);
void AppendValueText(std::string& out, const TZAbstractObject* value);
// Decimal form of an _Integer, the floating-point text form of other numbers.
std::string numberToText(const _Number& number);

// Hexadecimal text to a 32-bit integer, wrapping: only the last eight digits
// count. A leading '$' or "0X" is dropped. Raises EConvertError.
std::int32_t hexToInt(std::string_view text);
// Radix 10 and 16 convert, 8 raises NotImplmentedFeature, others give 0.
std::int32_t parseIntegerRadix(std::string_view text, int radix);
