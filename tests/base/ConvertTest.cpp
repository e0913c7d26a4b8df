#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "base/Convert.h"

TEST(Convert, IntegerTexts) {
  const std::vector<std::pair<std::string, std::optional<std::int32_t>>> cases = {
      {"0", 0},
      {"  12", 12},
      {"+7", 7},
      {"-7", -7},
      {"$1F", 31},
      {"x1f", 31},
      {"X1F", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"-0x10", -16},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"$7FFFFFFF", 2147483647},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"$80000000", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"12 ", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"1.5", std::nullopt},
      {"12a", std::nullopt},
      {"1F", std::nullopt},
      {"- 1", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    std::int32_t value = 12345;
    EXPECT_EQ(TryStrToInt(text, value), expected.has_value()) << text;
    if (expected) {
      EXPECT_EQ(value, *expected) << text;
      EXPECT_EQ(StrToInt(text), *expected) << text;
    } else {
      EXPECT_EQ(value, 12345) << text << ": a failed conversion leaves the value alone";
    }
  }
  try {
    StrToInt("1x");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'1x' is not a valid integer value");
  }
}

TEST(Convert, FloatTexts) {
  const std::vector<std::pair<std::string, std::optional<double>>> cases = {
      {"1.5", 1.5},  {" 1.5 ", 1.5},  {"-2", -2},     {"+.5", 0.5},      {"5.", 5},
      {"1e3", 1000}, {"1E-3", 0.001}, {"1e+3", 1000}, {"-0.25e1", -2.5}, {"1e-400", 0},
      {"00.5", 0.5}, {".", {}},       {"e3", {}},     {"1e", {}},        {"1e+", {}},
      {"1.2.3", {}}, {"1,5", {}},     {"inf", {}},    {"nan", {}},       {"0x10", {}},
      {"1e400", {}}, {"", {}},        {"-", {}},      {"1 5", {}},       {"12345678901234567890e300", {}},
  };
  for (const auto& [text, expected] : cases) {
    double value = 99;
    EXPECT_EQ(TryStrToFloat(text, value), expected.has_value()) << text;
    if (expected) {
      EXPECT_DOUBLE_EQ(value, *expected) << text;
    }
  }
  try {
    StrToFloat("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
  }
}

TEST(Convert, FloatTextForm) {
  const std::vector<std::pair<double, std::string>> cases = {
      {1500, "1500"},
      {0.5, "0.5"},
      {0.000001, "1E-6"},
      {0.00001, "0.00001"},
      {0.0001234, "0.0001234"},
      {1e20, "1E20"},
      {1.5e-7, "1.5E-7"},
      {-1e-10, "-1E-10"},
      {-2.5, "-2.5"},
      {1, "1"},
      {0, "0"},
      {-0.0, "0"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {999999999999999.9, "1E15"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},
      {1234.5678, "1234.5678"},
      {1.23456789012345678e-20, "1.23456789012346E-20"},
      {1.7976931348623157e308, "1.79769313486232E308"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FloatToStr(value), text) << text;
}
