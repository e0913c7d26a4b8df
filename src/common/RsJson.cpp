#include "common/RsJson.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

#include "base/Format.h"
#include "base/NumberParse.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"

namespace {

// Deeper texts are refused: the reader recurses once per level.
constexpr int kMaxDepth = 512;

struct Literals {
  // Created in this order: false, true, null.
  _Boolean falseValue{false};
  _Boolean trueValue{true};
  _NULL nullValue;
};

Literals& TheLiterals() {
  static Literals literals;
  return literals;
}

// The system's number readers, raising the conversion error.
std::int32_t ToInteger(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

double ToFloat(std::string_view text) {
  double value = 0;
  if (!TryStrToFloat(text, value)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  }
  return value;
}

bool IsBlankOrControl(unsigned char b) { return b >= 1 && b <= 32; }

// Bytes that end a bare word.
bool IsWordTerminator(unsigned char b) { return b != 0 && std::strchr(",:]}/\\\"[{;=#", b) != nullptr; }

bool TryHexToInt(std::string_view text, std::int32_t& value) {
  std::string s(text);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::string_view digits(s);
  if (!digits.empty() && digits.front() == '$') digits.remove_prefix(1);
  if (digits.size() >= 2 && digits[1] == 'X') digits.remove_prefix(2);
  std::uint32_t result = 0;  // wraps: only the last eight digits count
  for (char c : digits) {
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    result = result * 16 + d;
  }
  value = static_cast<std::int32_t>(result);
  return true;
}

// The low 32 bits of an integral floating-point value.
std::int32_t LowInt32(double integral) {
  if (!std::isfinite(integral)) {
    throw EConvertError("'" + FloatToStr(integral) + "' is not a valid integer value");
  }
  double low = std::fmod(integral, 4294967296.0);
  if (low < 0) low += 4294967296.0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(low));
}

std::string MemberMessage(std::string_view name, std::string_view tail) {
  return "TJSONObject[" + quoteText(name) + "]" + std::string(tail);
}

}  // namespace

// ---- shared literals and value ownership ----

_Boolean& SharedTrue() { return TheLiterals().trueValue; }
_Boolean& SharedFalse() { return TheLiterals().falseValue; }
_NULL& SharedNull() { return TheLiterals().nullValue; }

bool IsSharedLiteral(const TZAbstractObject* value) {
  const Literals& l = TheLiterals();
  return value == &l.trueValue || value == &l.falseValue || value == &l.nullValue;
}

TJSONValuePtr Shared(TZAbstractObject& literal) { return TJSONValuePtr(&literal); }

void TJSONValueRelease::operator()(TZAbstractObject* value) const {
  if (!IsSharedLiteral(value)) std::default_delete<TZAbstractObject>()(value);
}

// ---- TZAbstractObject ----

bool TZAbstractObject::Equals(const TZAbstractObject* other) const { return other == this; }

TJSONValuePtr TZAbstractObject::clone() const { throw NotImplmentedFeature(); }

std::string TZAbstractObject::toString() const {
  static const char kHex[] = "0123456789ABCDEF";
  auto address = reinterpret_cast<std::uintptr_t>(this);
  std::string hex(2 * sizeof(address), '0');
  for (std::size_t i = hex.size(); i-- > 0; address >>= 4) hex[i] = kHex[address & 15];
  return Format("%s <%s>", {ClassName(), hex});
}

// ---- JSONTokener ----

JSONTokener::JSONTokener(std::string text, bool rawWords) : FText(std::move(text)), FRawWords(rawWords) {}

char JSONTokener::nextByte() {
  if (FPosition <= FText.size()) return FText[FPosition++ - 1];
  if (FPosition == FText.size() + 1) ++FPosition;
  return 0;
}

void JSONTokener::stepBack() {
  if (FPosition > 1) --FPosition;
}

void JSONTokener::skipLineComment() {
  for (;;) {
    char c = nextByte();
    if (c == 0 || c == '\n' || c == '\r') return;
  }
}

char JSONTokener::nextSignificant() {
  for (;;) {
    char c = nextByte();
    if (c == '/') {
      char d = nextByte();
      if (d == '*') {
        for (;;) {
          char e = nextByte();
          if (e == 0) throw makeParseError("Unclosed comment.");
          if (e == '*') {
            if (nextByte() == '/') break;
            stepBack();  // so that "**/" closes the comment
          }
        }
        continue;
      }
      if (d == '/') {
        skipLineComment();
        continue;
      }
      stepBack();
      return '/';
    }
    if (c == '#') {
      skipLineComment();
      continue;
    }
    if (IsBlankOrControl(static_cast<unsigned char>(c))) continue;
    return c;
  }
}

bool JSONTokener::lastByteInDoubleByteChar() {
  const std::size_t index = FPosition - 1;  // the byte just read, 1-based
  if (index < 1 || index > FText.size()) return false;
  if (index < FCharStart) FCharStart = 1;  // asked about an earlier byte: scan again
  std::size_t i = FCharStart;
  while (i < index) i += platform::IsLeadByte(static_cast<unsigned char>(FText[i - 1])) ? 2 : 1;
  if (i == index) {
    FCharStart = i;
    return platform::IsLeadByte(static_cast<unsigned char>(FText[i - 1]));
  }
  FCharStart = index - 1;  // the byte is the second of the character starting there
  return true;
}

std::string JSONTokener::readQuoted(char quote) {
  std::string out;
  for (;;) {
    char c = nextByte();
    if (c == 0 || c == '\n' || c == '\r') throw makeParseError("Unterminated string");
    if (c == '\\') {
      if (lastByteInDoubleByteChar()) {
        out += c;
        continue;
      }
      c = nextByte();
      switch (c) {
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        default:
          out += c;
      }
      continue;
    }
    if (c == quote) return out;
    out += c;
  }
}

TJSONValuePtr JSONTokener::readValue() {
  const char lead = nextSignificant();
  if (lead == '"' || lead == '\'') return std::make_unique<_String>(readQuoted(lead));
  if (lead == '[') {
    stepBack();
    return std::make_unique<TJSONArray>(*this);
  }
  if (lead == '{') {
    stepBack();
    return std::make_unique<TJSONObject>(*this);
  }

  std::string word;
  for (char c = lead;; c = nextByte()) {
    auto b = static_cast<unsigned char>(c);
    if (b < 32 || IsWordTerminator(b)) break;
    word += c;
  }
  stepBack();
  std::size_t begin = 0;
  std::size_t end = word.size();
  while (begin < end && static_cast<unsigned char>(word[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(word[end - 1]) <= 32) --end;
  word = word.substr(begin, end - begin);
  if (word.empty()) throw makeParseError("Missing value.");

  const std::string lower = platform::LowerCase(word);
  if (lower == "true") return Shared(SharedTrue());
  if (lower == "false") return Shared(SharedFalse());
  if (lower == "null") return Shared(SharedNull());

  const char first = word.front();
  if ((first >= '0' && first <= '9') || first == '.' || first == '-' || first == '+') {
    std::int32_t integer = 0;
    if (first == '0' && word.size() > 2 && (word[1] == 'x' || word[1] == 'X') &&
        TryHexToInt(std::string_view(word).substr(2), integer)) {
      return std::make_unique<_Integer>(integer);
    }
    // Octal is not supported: a word with a leading zero goes on as decimal.
    if (TryStrToInt(word, integer)) return std::make_unique<_Integer>(integer);
    double number = 0;
    if (TryStrToFloat(word, number)) return std::make_unique<_Double>(number);
  }
  auto text = std::make_unique<_String>(std::move(word));
  text->setUnquoted(FRawWords);
  return text;
}

ParseException JSONTokener::makeParseError(std::string_view message) const {
  const std::string where = toString();
  std::string m(message);
  m += where;
  m += " pr\xF3ximo a : ";
  if (FPosition - 1 < where.size()) m.append(where, FPosition - 1, 10);
  m += "\n\r erro no caracter : ";
  m += std::to_string(FPosition);
  return ParseException(std::move(m));
}

std::string JSONTokener::toString() const { return " at character " + std::to_string(FPosition) + " of " + FText; }

JSONTokener::Level::Level(JSONTokener& x) : FTokener(x) {
  if (x.FDepth >= kMaxDepth) throw x.makeParseError("Nesting too deep.");
  ++x.FDepth;
}

// ---- TJSONObject ----

TJSONObject::TJSONObject(std::string_view text) {
  JSONTokener x{std::string(text), false};
  parse(x);
}

TJSONObject::TJSONObject(JSONTokener& x) { parse(x); }

void TJSONObject::parseText(std::string_view text, bool rawWords) {
  removeAll();
  JSONTokener x{std::string(text), rawWords};
  parse(x);
}

void TJSONObject::parse(JSONTokener& x) {
  JSONTokener::Level level(x);
  if (x.nextSignificant() != '{') throw x.makeParseError("A TJSONObject must begin with \"{\"");
  for (;;) {
    char c = x.nextSignificant();
    if (c == 0) throw x.makeParseError("A TJSONObject must end with \"}\"");
    if (c == '}') return;
    x.stepBack();
    std::string name = x.readValue()->toString();
    c = x.nextSignificant();
    if (c == '=') {
      if (x.nextByte() != '>') x.stepBack();
    } else if (c != ':') {
      throw x.makeParseError("Expected a \":\" after a key");
    }
    FMembers.push_back({std::move(name), x.readValue()});
    c = x.nextSignificant();
    if (c == ',' || c == ';') {
      if (x.nextSignificant() == '}') return;
      x.stepBack();
    } else if (c == '}') {
      return;
    } else {
      throw x.makeParseError("Expected a \",\" or \"}\"");
    }
  }
}

void TJSONObject::removeAll() { FMembers.clear(); }

std::ptrdiff_t TJSONObject::indexOf(std::string_view name, std::size_t limit) const {
  for (std::size_t i = 0; i < limit; ++i) {
    if (platform::SameTextIgnoreCase(FMembers[i].name, name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

TZAbstractObject* TJSONObject::findValue(std::string_view name) const {
  if (name.empty()) throw NullPointerException("Null key");
  std::ptrdiff_t i = indexOf(name, FMembers.size());
  return i < 0 ? nullptr : FMembers[static_cast<std::size_t>(i)].value.get();
}

TZAbstractObject& TJSONObject::requireValue(std::string_view name) const {
  TZAbstractObject* value = findValue(name);
  if (!value) throw NoSuchElementException(MemberMessage(name, " not found."));
  return *value;
}

std::string TJSONObject::requireText(std::string_view name) const { return requireValue(name).toString(); }

std::string TJSONObject::textOr(std::string_view name, std::string_view defaultText) const {
  TZAbstractObject* value = findValue(name);
  return value ? value->toString() : std::string(defaultText);
}

double TJSONObject::requireFloat(std::string_view name) const {
  TZAbstractObject& value = requireValue(name);
  if (auto* number = dynamic_cast<_Number*>(&value)) return number->asDouble();
  if (auto* text = dynamic_cast<_String*>(&value)) return ToFloat(text->toString());
  throw NumberFormatException(MemberMessage(name, " is not a number."));
}

std::int32_t TJSONObject::requireInteger(std::string_view name) const {
  if (auto* number = dynamic_cast<_Number*>(&requireValue(name))) return number->asInteger();
  // Halves go to the even neighbour (the default rounding mode).
  return LowInt32(std::nearbyint(requireFloat(name)));
}

TJSONObject& TJSONObject::store(std::string_view name, TJSONValuePtr value) {
  if (name.empty()) throw NullPointerException("Null key.");
  std::ptrdiff_t i = indexOf(name, FMembers.size());
  if (!value) {
    if (i >= 0) FMembers.erase(FMembers.begin() + i);
  } else if (i >= 0) {
    FMembers[static_cast<std::size_t>(i)].value = std::move(value);
  } else {
    FMembers.push_back({std::string(name), std::move(value)});
  }
  return *this;
}

TJSONObject& TJSONObject::storeInteger(std::string_view name, std::int32_t number) {
  return store(name, std::make_unique<_Integer>(number));
}

TJSONObject& TJSONObject::storeText(std::string_view name, std::string_view text, bool unquoted) {
  auto value = std::make_unique<_String>(std::string(text));
  value->setUnquoted(unquoted);
  return store(name, std::move(value));
}

TJSONValuePtr TJSONObject::detach(std::string_view name) {
  std::ptrdiff_t i = indexOf(name, FMembers.size());
  if (i < 0) return nullptr;
  TJSONValuePtr value = std::move(FMembers[static_cast<std::size_t>(i)].value);
  FMembers.erase(FMembers.begin() + i);
  return value;
}

std::unique_ptr<TStringList> TJSONObject::memberNames() const {
  auto names = std::make_unique<TStringList>();
  for (const Member& m : FMembers) names->Add(m.name);
  return names;
}

TJSONValuePtr TJSONObject::clone() const { throw NotImplmentedFeature(); }

std::string TJSONObject::toString() const {
  std::string out;
  appendText(out);
  return out;
}

void TJSONObject::appendText(std::string& out) const {
  out += '{';
  // Each member shows the value of the first member whose name matches, as a
  // lookup would. Names are grouped by a folded form that matching names
  // share, so that finding that member does not scan every member before it;
  // each group holds the first member of every set of matching names in it.
  std::unordered_map<std::string, std::vector<std::size_t>> firsts;
  for (std::size_t i = 0; i < FMembers.size(); ++i) {
    if (i > 0) out += ',';
    AppendQuoted(out, FMembers[i].name);
    out += ':';
    std::vector<std::size_t>& group = firsts[platform::LowerCase(platform::UpperCase(FMembers[i].name))];
    std::size_t first = i;
    for (const std::size_t candidate : group)
      if (platform::SameTextIgnoreCase(FMembers[candidate].name, FMembers[i].name)) {
        first = candidate;
        break;
      }
    if (first == i) group.push_back(i);
    AppendValueText(out, FMembers[first].value.get());
  }
  out += '}';
}

// ---- TJSONArray ----

TJSONArray::TJSONArray(JSONTokener& x) { parse(x); }

void TJSONArray::parseText(std::string_view text, bool rawWords) {
  JSONTokener x{std::string(text), rawWords};
  parse(x);
}

void TJSONArray::parse(JSONTokener& x) {
  JSONTokener::Level level(x);
  if (x.nextSignificant() != '[') throw x.makeParseError("A TJSONArray must start with \"[\"");
  if (x.nextSignificant() == ']') return;
  x.stepBack();
  for (;;) {
    if (x.nextSignificant() == ',') {
      x.stepBack();
      FElements.emplace_back();  // an absent element
    } else {
      x.stepBack();
      FElements.push_back(x.readValue());
    }
    char c = x.nextSignificant();
    if (c == ',' || c == ';') {
      if (x.nextSignificant() == ']') return;
      x.stepBack();
    } else if (c == ']') {
      return;
    } else {
      throw x.makeParseError("Expected a \",\" or \"]\"");
    }
  }
}

TZAbstractObject* TJSONArray::elementAt(int index) const {
  if (index < 0 || index >= elementCount()) return nullptr;
  return FElements[static_cast<std::size_t>(index)].get();
}

TZAbstractObject& TJSONArray::requireElement(int index) const {
  TZAbstractObject* value = elementAt(index);
  if (!value) throw NoSuchElementException("TJSONArray[" + IntToStr(index) + "] not found.");
  return *value;
}

std::string TJSONArray::requireText(int index) const { return requireElement(index).toString(); }

std::string TJSONArray::joinWith(std::string_view separator) const {
  std::string out;
  appendJoined(out, separator);
  return out;
}

void TJSONArray::appendJoined(std::string& out, std::string_view separator) const {
  for (std::size_t i = 0; i < FElements.size(); ++i) {
    if (i > 0) out += separator;
    AppendValueText(out, FElements[i].get());
  }
}

std::string TJSONArray::toString() const {
  std::string out;
  appendText(out);
  return out;
}

void TJSONArray::appendText(std::string& out) const {
  out += '[';
  appendJoined(out, ",");
  out += ']';
}

// ---- numbers, booleans, strings, null ----

_Double::_Double(std::string_view text) : FValue(ToFloat(text)) {}

TJSONValuePtr _Double::clone() const { return std::make_unique<_Double>(FValue); }

std::string _Double::toString() const { return FloatToStr(FValue); }

std::int32_t _Double::asInteger() const { return LowInt32(std::trunc(FValue)); }

_Integer::_Integer(std::string_view text) : FValue(ToInteger(text)) {}

TJSONValuePtr _Integer::clone() const { return std::make_unique<_Integer>(FValue); }

std::string _Integer::toString() const { return IntToStr(FValue); }

TJSONValuePtr _Boolean::clone() const { return std::make_unique<_Boolean>(FValue); }

bool _String::equalsIgnoreCase(std::string_view text) const {
  return platform::LowerCase(FText) == platform::LowerCase(text);
}

bool _String::Equals(const TZAbstractObject* other) const {
  auto* text = dynamic_cast<const _String*>(other);
  return text && text->FText == FText;
}

TJSONValuePtr _String::clone() const {
  auto copy = std::make_unique<_String>(FText);
  copy->setUnquoted(FUnquoted);
  return copy;
}

bool _NULL::Equals(const TZAbstractObject* other) const {
  return !other || dynamic_cast<const _NULL*>(other) != nullptr;
}

// ---- text form ----

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  bool nextIsTrail = false;
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    const bool trail = nextIsTrail;
    nextIsTrail = !trail && platform::IsLeadByte(b);
    if (b == '\n') {
      out += "\\n";
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == 8 || b == 9 || b == 12) {
      out += c;
    } else if (b < 32) {
      out += "\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else if ((b == '"' || b == '\\') && !trail) {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string quoteText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendQuoted(out, text);
  return out;
}

void AppendValueText(std::string& out, const TZAbstractObject* value) {
  if (!value || value->Equals(&SharedNull())) {
    out += "null";
  } else if (auto* number = dynamic_cast<const _Number*>(value)) {
    out += numberToText(*number);
  } else if (auto* boolean = dynamic_cast<const _Boolean*>(value)) {
    out += boolean->toString();
  } else if (auto* object = dynamic_cast<const TJSONObject*>(value)) {
    object->appendText(out);
  } else if (auto* array = dynamic_cast<const TJSONArray*>(value)) {
    array->appendText(out);
  } else if (auto* text = dynamic_cast<const _String*>(value); text && text->unquoted()) {
    out += text->toString().empty() ? "\"\"" : text->toString();
  } else {
    AppendQuoted(out, value->toString());
  }
}

std::string valueToText(const TZAbstractObject* value) {
  std::string out;
  AppendValueText(out, value);
  return out;
}

std::string numberToText(const _Number& number) {
  if (auto* integer = dynamic_cast<const _Integer*>(&number)) return IntToStr(integer->asInteger());
  return FloatToStr(number.asDouble());
}

std::int32_t hexToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryHexToInt(text, value)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

std::int32_t parseIntegerRadix(std::string_view text, int radix) {
  switch (radix) {
    case 8:
      throw NotImplmentedFeature();
    case 10:
      return ToInteger(text);
    case 16:
      return hexToInt(text);
    default:
      return 0;
  }
}
