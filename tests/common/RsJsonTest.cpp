#include <gtest/gtest.h>

#include <vector>

#include "base/Exception.h"
#include "common/RsJson.h"
#include "diagnostics/RsClasses.h"
#include "platform/CodePage.h"

namespace {

// The message of the exception of type E that the call raises.
template <typename E, typename F>
std::string MessageOf(F call) {
  try {
    call();
  } catch (const E& e) {
    return e.Message();
  }
  return "<nothing raised>";
}

std::string ParseError(const std::string& text, bool array = false) {
  return MessageOf<ParseException>([&] {
    if (array) {
      TJSONArray().parseText(text, false);
    } else {
      TJSONObject{text};
    }
  });
}

}  // namespace

TEST(JsonGrammar, LenientTextsReadAsDocumented) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"a":1})", R"({"a":1})"},
      {"{a=>1; b=2,}", R"({"a":1,"b":2})"},
      {R"({'x':"it's"})", R"({"x":"it's"})"},
      {"/* c */ {# line\n\"a\" : \"b\" // end\n}", R"({"a":"b"})"},
      {"{/**/\"a\"/***/:/*** x **/1}", R"({"a":1})"},
      {"{\"a\":1#c\n,\"b\":2//c\r}", R"({"a":1,"b":2})"},
      {R"({"a":hello world })", R"({"a":"hello world"})"},
      {R"({"a":1;"b":'2';})", R"({"a":1,"b":"2"})"},
      {R"({"a":[1,,2],"b":[,],"c":[1,],"d":[],"e":[1;2]})", R"({"a":[1,null,2],"b":[null],"c":[1],"d":[],"e":[1,2]})"},
      {R"({"a":[1 2]})", R"({"a":["1 2"]})"},
      {R"({{"k":1}:2, [1,2]:3})", R"({"{\"k\":1}":2,"[1,2]":3})"},
      {"{1.50:true, null:x, 0x10:y}", R"({"1.5":true,"null":"x","16":"y"})"},
      {R"({"a":1} trailing {[ garbage)", R"({"a":1})"},
      {"{}", "{}"}};
  for (const auto& [text, printed] : cases) {
    EXPECT_EQ(TJSONObject(text).toString(), printed) << text;
  }
}

TEST(JsonGrammar, WordsBecomeNumbersLiteralsOrStrings) {
  struct Case {
    std::string word;
    std::string className;
    std::string text;
  };
  const std::vector<Case> cases = {{"0x1F", "_Integer", "31"},
                                   {"0XfF", "_Integer", "255"},
                                   {"0xFFFFFFFF", "_Integer", "-1"},
                                   {"0x1FFFFFFFF", "_Integer", "-1"},
                                   {"0x$10", "_Integer", "16"},
                                   {"010", "_Integer", "10"},
                                   {"-010", "_Integer", "-10"},
                                   {"+5", "_Integer", "5"},
                                   {"-x1F", "_Integer", "-31"},
                                   {"2147483647", "_Integer", "2147483647"},
                                   {"-2147483648", "_Integer", "-2147483648"},
                                   {"2147483648", "_Double", "2147483648"},
                                   {"1.5e3", "_Double", "1500"},
                                   {".5", "_Double", "0.5"},
                                   {"5.", "_Double", "5"},
                                   {"0.000001", "_Double", "1E-6"},
                                   {"0.00005", "_Double", "0.00005"},
                                   {"1e-400", "_Double", "0"},
                                   {"-2.5E-330", "_Double", "0"},
                                   {"0xZZ", "_String", "0xZZ"},
                                   {"0x", "_String", "0x"},
                                   {"00x1F", "_String", "00x1F"},
                                   {"1e", "_String", "1e"},
                                   {"-", "_String", "-"},
                                   {"1e400", "_String", "1e400"},
                                   {"$1F", "_String", "$1F"},
                                   {"1 2", "_String", "1 2"},
                                   {"it's", "_String", "it's"},
                                   {"TRUE", "_Boolean", "true"},
                                   {"False", "_Boolean", "false"},
                                   {"NULL", "_NULL", "null"}};
  for (const auto& c : cases) {
    TJSONArray a;
    a.parseText("[" + c.word + "]", false);
    ASSERT_EQ(a.elementCount(), 1) << c.word;
    EXPECT_STREQ(a.requireElement(0).ClassName(), c.className.c_str()) << c.word;
    EXPECT_EQ(a.requireText(0), c.text) << c.word;
  }
  TJSONObject o(R"({"t":TRUE,"f":false,"n":null})");
  EXPECT_EQ(o.findValue("t"), &SharedTrue());
  EXPECT_EQ(o.findValue("f"), &SharedFalse());
  EXPECT_EQ(o.findValue("n"), &SharedNull());
}

TEST(JsonGrammar, QuotedStringsAndEscapes) {
  const std::vector<std::pair<std::string, std::string>> cases = {{R"("a\"b")", "a\"b"},
                                                                  {R"('a\'b')", "a'b"},
                                                                  {R"("a'b")", "a'b"},
                                                                  {R"('a"b')", "a\"b"},
                                                                  {R"("\\\/")", "\\/"},
                                                                  {R"("\b")", "b"},
                                                                  {R"("\u0041")", "u0041"},
                                                                  {R"("\f\n\r\t")", "\f\n\r\t"},
                                                                  {"\"a\tb\xE3\x81\x82\"", "a\tb\xE3\x81\x82"},
                                                                  {R"("")", ""},
                                                                  {R"("{[,:]}")", "{[,:]}"}};
  for (const auto& [literal, text] : cases) {
    TJSONArray a;
    a.parseText("[" + literal + "]", false);
    EXPECT_EQ(a.requireText(0), text) << literal;
  }
}

TEST(JsonGrammar, RawWordsAreFlaggedUnquoted) {
  TJSONObject o;
  o.parseText("{a:b c, n:1, t:true, q:\"s\"}", true);
  EXPECT_EQ(o.toString(), R"({"a":b c,"n":1,"t":true,"q":"s"})");
  o.parseText("{a:b}", false);
  EXPECT_EQ(o.toString(), R"({"a":"b"})");
}

TEST(JsonErrors, MessagesAndPositions) {
  struct Case {
    std::string text;
    bool array;
    std::string message;
    int position;
  };
  const std::vector<Case> cases = {{R"({"a" 1})", false, "Expected a \":\" after a key", 7},
                                   {"[1]", false, "A TJSONObject must begin with \"{\"", 2},
                                   {"", false, "A TJSONObject must begin with \"{\"", 2},
                                   {"{", false, "A TJSONObject must end with \"}\"", 3},
                                   {R"({"a":1,)", false, "A TJSONObject must end with \"}\"", 9},
                                   {R"({"a":1)", false, "Expected a \",\" or \"}\"", 8},
                                   {R"({'x':'it''s'})", false, "Expected a \",\" or \"}\"", 11},
                                   {R"({"a":})", false, "Missing value.", 6},
                                   {"{,}", false, "Missing value.", 2},
                                   {R"({"a":/x})", false, "Missing value.", 6},
                                   {"{\"a\":\"b\nc\"}", false, "Unterminated string", 9},
                                   {"{\"a\":\"b\rc\"}", false, "Unterminated string", 9},
                                   {R"({"a":"b)", false, "Unterminated string", 9},
                                   {"/* x", false, "Unclosed comment.", 6},
                                   {"{\"a\":1 /* *", false, "Unclosed comment.", 13},
                                   {"{}", true, "A TJSONArray must start with \"[\"", 2},
                                   {"[1}", true, "Expected a \",\" or \"]\"", 4},
                                   {"[1", true, "Expected a \",\" or \"]\"", 4},
                                   {"[", true, "Missing value.", 2},
                                   {"[1,\x00,2]", true, "Missing value.", 4}};
  for (const auto& c : cases) {
    std::string head = c.message + " at character " + std::to_string(c.position) + " of " + c.text + " pr\xF3ximo a : ";
    std::string tail = "\n\r erro no caracter : " + std::to_string(c.position);
    std::string m = ParseError(c.text, c.array);
    EXPECT_EQ(m.substr(0, head.size()), head) << c.text;
    EXPECT_TRUE(m.size() >= tail.size() && m.substr(m.size() - tail.size()) == tail) << c.text << ": " << m;
  }
  EXPECT_EQ(ParseError(R"({"a" 1})"),
            "Expected a \":\" after a key at character 7 of {\"a\" 1} pr\xF3ximo a : aracter 7 \n\r erro no "
            "caracter : 7");
  // The excerpt is taken from the text form, not from the text.
  JSONTokener x("ab", false);
  for (int i = 0; i < 3; ++i) x.nextByte();
  EXPECT_EQ(x.makeParseError("E").Message(),
            "E at character 4 of ab pr\xF3ximo a :  character\n\r erro no caracter : 4");
}

TEST(JsonErrors, NestingIsLimitedTo512Levels) {
  TJSONArray ok;
  ok.parseText(std::string(512, '[') + std::string(512, ']'), false);
  EXPECT_EQ(ok.elementCount(), 1);
  for (const std::string& deep : {std::string(513, '[') + std::string(513, ']'), std::string(100000, '[')}) {
    EXPECT_EQ(ParseError(deep, true).substr(0, 36), "Nesting too deep. at character 513 o");
  }
  std::string names;
  for (int i = 0; i < 600; ++i) names += "{";
  EXPECT_EQ(ParseError(names).substr(0, 36), "Nesting too deep. at character 513 o");
  // The limit counts open levels only: many closed ones in a row are fine.
  std::string wide = "[";
  for (int i = 0; i < 2000; ++i) wide += "[[]],";
  TJSONArray w;
  w.parseText(wide + "]", false);
  EXPECT_EQ(w.elementCount(), 2000);
}

TEST(JsonTokener, CursorAtTheEndAndComments) {
  JSONTokener x("ab", false);
  EXPECT_EQ(x.nextByte(), 'a');
  EXPECT_EQ(x.nextByte(), 'b');
  EXPECT_TRUE(x.hasMore());
  EXPECT_EQ(x.nextByte(), 0);
  EXPECT_EQ(x.position(), 4u);
  EXPECT_FALSE(x.hasMore());
  EXPECT_EQ(x.nextByte(), 0);
  EXPECT_EQ(x.position(), 4u);
  x.stepBack();
  EXPECT_EQ(x.toString(), " at character 3 of ab");
  JSONTokener y("a", false);
  y.stepBack();
  EXPECT_EQ(y.position(), 1u);

  JSONTokener z(" \t\x01/*x*/ // y\n # z\r/**/q/r", false);
  EXPECT_EQ(z.nextSignificant(), 'q');
  EXPECT_EQ(z.nextSignificant(), '/');
  EXPECT_EQ(z.nextByte(), 'r');
}

TEST(JsonDoubleByte, SecondByteBackslashIsNoEscapeUnderCodePage932) {
  const std::string so = "\x83\x5C";  // a character whose second byte is '\'
  {
    platform::ScopedCodePage sjis(932);
    TJSONObject o("{\"a\":\"" + so + "\",'b':'x\\n" + so + "\\'" + "'}");
    EXPECT_EQ(o.requireText("a"), so);
    EXPECT_EQ(o.requireText("b"), "x\n" + so + "'");
    EXPECT_EQ(quoteText(so + "\\\""), "\"" + so + "\\\\\\\"\"");
    EXPECT_EQ(o.toString(), "{\"a\":\"" + so + "\",\"b\":\"x\\n" + so + "'\"}");
    // Lead-byte pairs are counted from the start: 83 83 is a character, so
    // the 5C after it is a backslash again.
    TJSONArray a;
    a.parseText("[\"\x83\x83\\n\"]", false);
    EXPECT_EQ(a.requireText(0), "\x83\x83\n");
  }
  // Under UTF-8 the same byte is a backslash and escapes the quote.
  platform::ScopedCodePage utf8(platform::kCodePageUtf8);
  EXPECT_TRUE(ParseError("{\"a\":\"" + so + "\"}").starts_with("Unterminated string"));
  EXPECT_EQ(quoteText(so), "\"\x83\\\\\"");
}

TEST(JsonDoubleByte, LastByteQuestionFollowsCharacters) {
  const std::string text =
      "a\x83\x5C\x83\x83\x5C"
      "b";
  const std::vector<bool> under932 = {false, true, true, true, true, false, false};
  platform::ScopedCodePage sjis(932);
  JSONTokener x(text, false);
  EXPECT_FALSE(x.lastByteInDoubleByteChar());
  for (std::size_t i = 0; i < text.size(); ++i) {
    x.nextByte();
    EXPECT_EQ(x.lastByteInDoubleByteChar(), under932[i]) << i;
  }
  for (int i = 0; i < 6; ++i) x.stepBack();
  EXPECT_FALSE(x.lastByteInDoubleByteChar()) << "asking again about an earlier byte";
  x.nextByte();
  EXPECT_TRUE(x.lastByteInDoubleByteChar());
}

TEST(JsonText, QuoteValueAndNumberText) {
  EXPECT_EQ(quoteText("a\"b\\\n\t\x01"), "\"a\\\"b\\\\\\n\t\\u0001\"");
  EXPECT_EQ(quoteText("\r\b\f\x1F\x7F"), "\"\\r\b\f\\u001F\x7F\"");
  EXPECT_EQ(quoteText(std::string("\0", 1)), "\"\\u0000\"");
  EXPECT_EQ(quoteText(""), "\"\"");
  const std::vector<std::pair<double, std::string>> floats = {{1500, "1500"},
                                                              {0.5, "0.5"},
                                                              {0.000001, "1E-6"},
                                                              {0.00001, "0.00001"},
                                                              {0.00005, "0.00005"},
                                                              {0.0000099999, "9.9999E-6"},
                                                              {0.0001234, "0.0001234"},
                                                              {1e20, "1E20"},
                                                              {1.5e-7, "1.5E-7"},
                                                              {-1e-10, "-1E-10"},
                                                              {-2.5, "-2.5"},
                                                              {0, "0"},
                                                              {-0.0, "0"},
                                                              {123456789012345.0, "123456789012345"},
                                                              {1e15, "1E15"},
                                                              {999999999999999.9, "1E15"},
                                                              {1.0 / 3, "0.333333333333333"},
                                                              {2.0 / 3, "0.666666666666667"},
                                                              {0.1 + 0.2, "0.3"},
                                                              {1.23456789012345678e-20, "1.23456789012346E-20"},
                                                              {1.7976931348623157e308, "1.79769313486232E308"},
                                                              {std::numeric_limits<double>::quiet_NaN(), "NAN"},
                                                              {-std::numeric_limits<double>::infinity(), "-INF"}};
  for (const auto& [value, text] : floats) {
    EXPECT_EQ(numberToText(_Double(value)), text) << text;
    EXPECT_EQ(_Double(value).toString(), text) << text;
    // One text form for doubles: the boxed value writes the same.
    TDoubleObject boxed;
    boxed.Value = value;
    EXPECT_EQ(boxed.GetAsString(), text) << text;
  }
  EXPECT_EQ(numberToText(_Integer(-42)), "-42");
  EXPECT_EQ(valueToText(nullptr), "null");
  _String empty("");
  empty.setUnquoted(true);
  EXPECT_EQ(valueToText(&empty), "\"\"");
  TJSONObject o;
  o.storeText("u", "abc", true).storeText("e", "", true).storeText("q", "a\"b", false).storeInteger("i", 7);
  o.store("d", std::make_unique<_Double>(2.5)).store("n", std::make_unique<_NULL>());
  EXPECT_EQ(o.toString(), R"({"u":abc,"e":"","q":"a\"b","i":7,"d":2.5,"n":null})");
}

TEST(JsonValues, ClassesEqualityAndCopies) {
  _String s("Ab");
  _String same("Ab");
  _String other("ab");
  EXPECT_TRUE(s.Equals(&same));
  EXPECT_FALSE(s.Equals(&other));
  EXPECT_TRUE(s.equalsIgnoreCase("aB"));
  EXPECT_FALSE(s.Equals(nullptr));
  _Integer one(1);
  _Integer alsoOne(1);
  EXPECT_TRUE(one.Equals(&one));
  EXPECT_FALSE(one.Equals(&alsoOne));
  EXPECT_TRUE(SharedNull().Equals(nullptr));
  _NULL n;
  EXPECT_TRUE(SharedNull().Equals(&n));
  EXPECT_FALSE(s.Equals(&SharedNull()));

  s.setUnquoted(true);
  TJSONValuePtr copy = s.clone();
  EXPECT_TRUE(copy->Equals(&s));
  EXPECT_TRUE(dynamic_cast<_String&>(*copy).unquoted());
  TJSONValuePtr t = SharedTrue().clone();
  EXPECT_NE(t.get(), &SharedTrue());
  EXPECT_FALSE(IsSharedLiteral(t.get()));
  EXPECT_EQ(t->toString(), "true");
  EXPECT_EQ(_Integer(5).clone()->toString(), "5");
  EXPECT_EQ(_Double(0.25).clone()->toString(), "0.25");
  TZAbstractObject bare;
  TJSONObject object;
  TJSONArray array;
  for (const TZAbstractObject* v : {&bare, static_cast<TZAbstractObject*>(&SharedNull()),
                                    static_cast<TZAbstractObject*>(&object), static_cast<TZAbstractObject*>(&array)}) {
    EXPECT_EQ(MessageOf<NotImplmentedFeature>([&] { v->clone(); }), "Not Implemented.") << v->ClassName();
  }
  const std::string address = bare.toString();
  ASSERT_EQ(address.substr(0, 18), "TZAbstractObject <");
  EXPECT_EQ(address.size(), 18 + 2 * sizeof(void*) + 1);
  EXPECT_EQ(address.back(), '>');
  EXPECT_EQ(std::stoull(address.substr(18, 2 * sizeof(void*)), nullptr, 16), reinterpret_cast<std::uintptr_t>(&bare));

  EXPECT_EQ(_Double(-2.9).asInteger(), -2);
  EXPECT_EQ(_Double(4294967297.0).asInteger(), 1);
  EXPECT_EQ(_Double(2147483648.0).asInteger(), std::numeric_limits<std::int32_t>::min());
  EXPECT_DOUBLE_EQ(_Integer(3).asDouble(), 3.0);
  EXPECT_EQ(_Integer("$10").asInteger(), 16);
  EXPECT_DOUBLE_EQ(_Double("-1.5e1").asDouble(), -15);
  EXPECT_EQ(MessageOf<EConvertError>([] { _Integer("1.5"); }), "'1.5' is not a valid integer value");
  EXPECT_EQ(MessageOf<EConvertError>([] { _Double("1,5"); }), "'1,5' is not a valid floating point value");
  EXPECT_THROW(_Double(std::numeric_limits<double>::infinity()).asInteger(), EConvertError);

  EXPECT_EQ(hexToInt("ff"), 255);
  EXPECT_EQ(hexToInt("$ff"), 255);
  EXPECT_EQ(hexToInt("0x10"), 16);
  EXPECT_EQ(hexToInt("123456789"), 0x23456789);
  EXPECT_EQ(hexToInt(""), 0);
  EXPECT_THROW(hexToInt("G"), EConvertError);
  EXPECT_THROW(parseIntegerRadix("7", 8), NotImplmentedFeature);
  EXPECT_EQ(parseIntegerRadix("12", 10), 12);
  EXPECT_EQ(parseIntegerRadix("ff", 16), 255);
  EXPECT_EQ(parseIntegerRadix("12", 2), 0);
}

TEST(JsonObject, LookupsIgnoreCaseAndKeepTheFirstMember) {
  TJSONObject o(R"({"a":1,"A":2})");
  EXPECT_EQ(o.memberNames()->Text(), "a\r\nA\r\n");
  EXPECT_EQ(o.requireText("A"), "1");
  EXPECT_EQ(o.toString(), R"({"a":1,"A":1})");
  o.store("A", std::make_unique<_Integer>(3));
  EXPECT_EQ(o.toString(), R"({"a":3,"A":3})");
  EXPECT_EQ(o.detach("a")->toString(), "3");
  EXPECT_EQ(o.toString(), R"({"A":2})");

  TJSONObject p(R"({"name":"x","":1})");
  EXPECT_EQ(p.toString(), R"({"name":"x","":1})");
  p.store("NAME", std::make_unique<_String>("y"));
  p.store("missing", nullptr);
  EXPECT_EQ(p.toString(), R"({"name":"y","":1})");
  p.store("Name", nullptr);
  EXPECT_EQ(p.toString(), R"({"":1})");
  EXPECT_EQ(p.detach("nothing"), nullptr);
}

// The text form shows the first matching member's value for every member,
// also where the names match only without regard to case beyond ASCII and
// where the first stands thousands of members before.
TEST(JsonObject, TextShowsTheFirstMatchingMembersValue) {
  for (const unsigned codePage : {platform::kCodePageShiftJis, platform::kCodePageUtf8}) {
    platform::ScopedCodePage scoped(codePage);
    const auto text = [](std::u16string_view wide) { return platform::FromWide(wide); };
    TJSONObject o(text(u"{\"Ｋ\":1,\"ｋ\":2,\"α\":3,\"k\":4,\"Α\":5,\"K\":6,\"Ω\":7,\"ω\":[8]}"));
    EXPECT_EQ(o.toString(), text(u"{\"Ｋ\":1,\"ｋ\":1,\"α\":3,\"k\":4,\"Α\":3,\"K\":4,\"Ω\":7,\"ω\":7}")) << codePage;
  }
  std::string many = "{", printed = "{";
  for (int i = 0; i < 5000; ++i) {
    many += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    printed += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  }
  EXPECT_EQ(TJSONObject(many + "\"M0\":{},\"M4999\":[]}").toString(), printed + "\"M0\":0,\"M4999\":4999}");
}

TEST(JsonObject, RequireOperationsAndTheirErrors) {
  TJSONObject o(R"({"s25":"2.5","s35":"3.5","d":2.9,"m":-2.9,"i":7,"t":true,"n":null,"w":abc,"o":{"k":[1]}})");
  EXPECT_EQ(o.requireInteger("s25"), 2);
  EXPECT_EQ(o.requireInteger("s35"), 4);
  EXPECT_EQ(o.requireInteger("d"), 2);
  EXPECT_EQ(o.requireInteger("m"), -2);
  EXPECT_EQ(o.requireInteger("i"), 7);
  EXPECT_DOUBLE_EQ(o.requireFloat("s25"), 2.5);
  EXPECT_DOUBLE_EQ(o.requireFloat("i"), 7.0);
  EXPECT_EQ(MessageOf<NumberFormatException>([&] { o.requireInteger("t"); }), "TJSONObject[\"t\"] is not a number.");
  EXPECT_EQ(MessageOf<NumberFormatException>([&] { o.requireFloat("n"); }), "TJSONObject[\"n\"] is not a number.");
  EXPECT_THROW(o.requireFloat("w"), EConvertError);
  EXPECT_EQ(o.requireText("n"), "null");
  EXPECT_EQ(o.requireText("o"), R"({"k":[1]})");
  EXPECT_EQ(o.textOr("x", "dflt"), "dflt");
  EXPECT_EQ(o.textOrEmpty("W"), "abc");
  EXPECT_EQ(o.textOrEmpty("x"), "");
  EXPECT_EQ(MessageOf<NoSuchElementException>([&] { o.requireValue("a\"b"); }), "TJSONObject[\"a\\\"b\"] not found.");
  EXPECT_EQ(MessageOf<NullPointerException>([&] { o.findValue(""); }), "Null key");
  EXPECT_EQ(MessageOf<NullPointerException>([&] { o.textOrEmpty(""); }), "Null key");
  EXPECT_EQ(MessageOf<NullPointerException>([&] { o.storeInteger("", 1); }), "Null key.");
}

TEST(JsonContainers, ParseTextReplacesOrAppendsAndKeepsPartialResults) {
  TJSONObject o(R"({"old":1})");
  o.parseText(R"({"a":1})", false);
  EXPECT_EQ(o.toString(), R"({"a":1})");
  EXPECT_THROW(o.parseText(R"({"b":[true,{"c":null}],"x":})", false), ParseException);
  EXPECT_EQ(o.toString(), R"({"b":[true,{"c":null}]})");

  TJSONArray a;
  a.parseText("[1]", false);
  a.parseText("[2,'3']", false);
  EXPECT_EQ(a.toString(), R"([1,2,"3"])");
  EXPECT_THROW(a.parseText("[4,{\"k\":false,", false), ParseException);
  EXPECT_EQ(a.joinWith("|"), R"(1|2|"3"|4)");
}

TEST(JsonContainers, ArrayElements) {
  TJSONArray a;
  a.parseText("[1,,true]", false);
  EXPECT_EQ(a.elementCount(), 3);
  EXPECT_EQ(a.toString(), "[1,null,true]");
  EXPECT_EQ(a.elementAt(1), nullptr);
  EXPECT_EQ(a.elementAt(-1), nullptr);
  EXPECT_EQ(a.elementAt(3), nullptr);
  EXPECT_EQ(a.requireText(2), "true");
  EXPECT_EQ(MessageOf<NoSuchElementException>([&] { a.requireElement(1); }), "TJSONArray[1] not found.");
  EXPECT_EQ(MessageOf<NoSuchElementException>([&] { a.requireText(-1); }), "TJSONArray[-1] not found.");
}

TEST(JsonOwnership, SharedLiteralsOutliveEveryContainer) {
  for (int round = 0; round < 3; ++round) {
    TJSONObject o(R"({"t":true,"f":[false,null,{"n":null}]})");
    EXPECT_EQ(&o.requireValue("t"), &SharedTrue());
    o.store("t", std::make_unique<_Integer>(1));              // replaces the shared true
    o.store("x", Shared(SharedFalse())).store("x", nullptr);  // removes the shared false
    TJSONValuePtr detached = o.detach("f");
    EXPECT_EQ(dynamic_cast<TJSONArray&>(*detached).elementAt(1), &SharedNull());
    o.parseText("{\"n\":null}", false);
    EXPECT_THROW(TJSONObject("{\"a\":[true,false,null,"), ParseException);
  }
  EXPECT_TRUE(SharedTrue().value());
  EXPECT_FALSE(SharedFalse().value());
  EXPECT_EQ(SharedNull().toString(), "null");
  EXPECT_TRUE(IsSharedLiteral(&SharedNull()));
}
