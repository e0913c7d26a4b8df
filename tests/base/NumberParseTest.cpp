#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/NumberParse.h"
#include "support/TestSupport.h"

namespace {

struct IntCase {
  const char* text;
  bool ok;
  std::int64_t value;
};

TEST(NumberParseTest, Int32Syntax) {
  const IntCase cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"   -12", true, -12},
      {"+7", true, 7},
      {"$1F", true, 31},
      {"$1f", true, 31},
      {"x10", true, 16},
      {"X10", true, 16},
      {"0x10", true, 16},
      {"0XfF", true, 255},
      {"-$10", true, -16},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647LL - 1},
      {"$FFFFFFFF", true, -1},
      {"$7FFFFFFF", true, 2147483647},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"4294967296", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {" ", false, 0},
      {"-", false, 0},
      {"+", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"12abc", false, 0},
      {"12 ", false, 0},
      {"1.5", false, 0},
      {"--1", false, 0},
      {"+-1", false, 0},
      {"$G", false, 0},
      {"1F", false, 0},
      {"\t5", false, 0},
  };
  for (const IntCase& c : cases) {
    std::int32_t v = 99;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(v, c.value) << '"' << c.text << '"';
    } else {
      EXPECT_EQ(v, 99) << "failure must leave the value alone: \"" << c.text << '"';
    }
  }
}

TEST(NumberParseTest, Int64Range) {
  const IntCase cases[] = {
      {"4294967296", true, 4294967296LL},        {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN}, {"9223372036854775808", false, 0},
      {"-9223372036854775809", false, 0},        {"$FFFFFFFFFFFFFFFF", true, -1},
      {"$10000000000000000", false, 0},          {"99999999999999999999", false, 0},
  };
  for (const IntCase& c : cases) {
    std::int64_t v = 99;
    EXPECT_EQ(TryStrToInt64(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(NumberParseTest, FloatSyntax) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"2.5", true, 2.5},
      {" 2.5 ", true, 2.5},
      {"-0.25", true, -0.25},
      {"+3", true, 3},
      {"1e3", true, 1000},
      {"1.5E-2", true, 0.015},
      {".5", true, 0.5},
      {"5.", true, 5},
      {"", false, 0},
      {"  ", false, 0},
      {"1e", false, 0},
      {"abc", false, 0},
      {"2,5", false, 0},
      {"inf", false, 0},
      {"nan", false, 0},
      {"0x10", false, 0},
      {"1e400", false, 0},
      {"+-1", false, 0},
      {"1 2", false, 0},
      // Too small for a double: the nearest double, zero.
      {"1e-400", true, 0},
      {"-2.5E-330", true, 0},
      {"0.1e-323", true, 0},
      {"4.9e-324", true, 4.9e-324},
      {"1e-99999999999999999999", true, 0},
      {"0.00000e999", true, 0},
      {"1.8e308", false, 0},
      {"0.01e311", false, 0},
  };
  for (const Case& c : cases) {
    double v = 99;
    EXPECT_EQ(TryStrToFloat(c.text, v), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
  }
}

TEST(NumberParseTest, FloatToStrGeneralFormat) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {0.5, "0.5"},
      {123, "123"},
      {-2.25, "-2.25"},
      {1e20, "1E20"},
      {1.5e-7, "1.5E-7"},
      {0.0001, "0.0001"},
      {0.00005, "0.00005"},
      {0.00001, "0.00001"},
      {0.0000099999, "9.9999E-6"},
      {123456789012345, "123456789012345"},
      {1e15, "1E15"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3.0, "0.333333333333333"},
      {-1e-300, "-1E-300"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToStr(c.value), c.text) << c.value;
}

// The readers document '.' as the separator; they must keep to it whatever
// numeric locale the process runs under (a window toolkit sets it from the
// user's environment). A locale with a decimal comma is built for the test
// when none is installed.
TEST(NumberParseTest, IndependentOfTheProcessNumericLocale) {
  const std::string old = std::setlocale(LC_NUMERIC, nullptr);
  bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  testing_support::TempDir dir;
  if (!switched) {
    const std::string command = "localedef -i de_DE -f UTF-8 '" + dir.Native("de_DE.UTF-8") + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) {
      setenv("LOCPATH", dir.Native().c_str(), 1);
      switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
      unsetenv("LOCPATH");
    }
  }
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma available";
  double v = 0;
  const bool ok = TryStrToFloat("2.5", v);
  const std::string text = FloatToStr(0.5);
  std::setlocale(LC_NUMERIC, old.c_str());
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(v, 2.5);
  EXPECT_EQ(text, "0.5");
}

}  // namespace
