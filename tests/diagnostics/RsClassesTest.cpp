#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "diagnostics/RsClasses.h"

namespace {

TEST(RsClassesTest, TypeTagsAndInitialValues) {
  TStringObject s;
  TBooleanObject b;
  TIntegerObject i;
  TInt64Object l;
  TDoubleObject d;
  EXPECT_EQ(s.ValueType, 0);
  EXPECT_EQ(b.ValueType, 1);
  EXPECT_EQ(i.ValueType, 2);
  EXPECT_EQ(l.ValueType, 3);
  EXPECT_EQ(d.ValueType, 4);
  EXPECT_EQ(s.GetAsString(), "");
  EXPECT_EQ(b.GetAsString(), "False");
  EXPECT_EQ(i.GetAsString(), "0");
  EXPECT_EQ(l.GetAsString(), "0");
  EXPECT_EQ(d.GetAsString(), "0");
}

TEST(RsClassesTest, BooleanFromText) {
  const struct {
    const char* text;
    bool value;
  } cases[] = {
      {"TRUE", true}, {"true", true}, {"False", false}, {"0", false}, {"2.5", true}, {"-1", true},
      {"0.0", false}, {" 1 ", true},  {"yes", false},   {"", false},  {"on", false}, {"True ", false},
  };
  for (const auto& c : cases) {
    TBooleanObject b;
    b.Value = !c.value;
    b.SetAsString(c.text);
    EXPECT_EQ(b.Value, c.value) << '"' << c.text << '"';
  }
  TBooleanObject b;
  b.Value = true;
  EXPECT_EQ(b.GetAsString(), "True");
}

TEST(RsClassesTest, IntegersFromAndToText) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"$1F", 31}, {" -12", -12}, {"12abc", 0}, {"4294967296", 0}, {"0x7fffffff", 2147483647}, {"", 0},
  };
  for (const auto& c : cases) {
    TIntegerObject i;
    i.Value = 5;
    i.SetAsString(c.text);
    EXPECT_EQ(i.Value, c.value) << '"' << c.text << '"';
  }
  TIntegerObject i;
  i.Value = -2147483647 - 1;
  EXPECT_EQ(i.GetAsString(), "-2147483648");

  TInt64Object l;
  l.SetAsString("4294967296");
  EXPECT_EQ(l.Value, 4294967296LL);
  EXPECT_EQ(l.GetAsString(), "4294967296");
  l.SetAsString("9223372036854775808");
  EXPECT_EQ(l.Value, 0);
  l.Value = -5;
  EXPECT_EQ(l.GetAsString(), "-5");
}

TEST(RsClassesTest, DoubleRoundTrip) {
  TDoubleObject d;
  d.SetAsString("2.5");
  EXPECT_DOUBLE_EQ(d.Value, 2.5);
  EXPECT_EQ(d.GetAsString(), "2.5");
  d.SetAsString("junk");
  EXPECT_EQ(d.Value, 0);
  d.Value = 1e20;
  EXPECT_EQ(d.GetAsString(), "1E20");
  d.SetAsString(d.GetAsString());
  EXPECT_DOUBLE_EQ(d.Value, 1e20);
}

// Records its own destruction, to see when the list frees a replaced value.
class TTrackedString : public TStringObject {
 public:
  explicit TTrackedString(bool& destroyed) : FDestroyed(destroyed) {}
  ~TTrackedString() override { FDestroyed = true; }

 private:
  bool& FDestroyed;
};

TEST(RsClassesTest, ValueListReplacesAndFreesEarlierValue) {
  TRsValueList list;
  bool destroyed = false;
  SetObjectValue(list, "alpha", std::make_unique<TTrackedString>(destroyed));
  SetIntegerValue(list, "beta", 2);
  EXPECT_FALSE(destroyed);

  // The same name in other case counts as the same name.
  SetStringValue(list, "ALPHA", "new");
  EXPECT_TRUE(destroyed);
  ASSERT_EQ(list.Items.Count(), 2);
  EXPECT_EQ(list.Items[0], "beta");
  EXPECT_EQ(list.Items[1], "ALPHA");
  auto* value = list.Find("alpha");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->ValueType, 0);
  EXPECT_EQ(value->GetAsString(), "new");
  EXPECT_EQ(list.Find("gamma"), nullptr);
}

TEST(RsClassesTest, TypedSettersAndSort) {
  TRsValueList list;
  SetStringValue(list, "s", "text");
  SetBooleanValue(list, "b", true);
  SetInt64Value(list, "l", 1LL << 40);
  SetDoubleValue(list, "d", 0.5);
  SetIntegerValue(list, "I", -3);
  SortValues(list);
  ASSERT_EQ(list.Items.Count(), 5);
  const char* order[] = {"b", "d", "I", "l", "s"};
  const char* texts[] = {"True", "0.5", "-3", "1099511627776", "text"};
  const int types[] = {1, 4, 2, 3, 0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(list.Items[i], order[i]);
    auto* v = static_cast<TRsAbstractObject*>(list.Items.Objects(i));
    EXPECT_EQ(v->GetAsString(), texts[i]);
    EXPECT_EQ(v->ValueType, types[i]);
  }
  // Sorting is once: a later value goes to the end.
  SetIntegerValue(list, "a", 1);
  EXPECT_EQ(list.Items[5], "a");
}

TEST(RsClassesTest, CounterWrapsPastItsMaximum) {
  TRsAtomicCounter counter(100000000);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(counter.Increment());
  EXPECT_EQ(counter.Value(), 3);

  TRsAtomicCounter small(2);
  EXPECT_FALSE(small.Increment());
  EXPECT_FALSE(small.Increment());
  EXPECT_TRUE(small.Increment());
  EXPECT_EQ(small.Value(), 0);
  EXPECT_FALSE(small.Increment());
  EXPECT_EQ(small.Value(), 1);

  for (std::int64_t max : {0LL, -1LL}) {
    TRsAtomicCounter unlimited(max);
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(unlimited.Increment());
    EXPECT_EQ(unlimited.Value(), 1000);
  }
}

TEST(RsClassesTest, CounterDecrementFloorAndReset) {
  TRsAtomicCounter counter(0);
  counter.Decrement(0);
  EXPECT_EQ(counter.Value(), 0);
  counter.Decrement(-2);
  counter.Decrement(-2);
  counter.Decrement(-2);
  EXPECT_EQ(counter.Value(), -2);
  counter.Increment();
  counter.Increment();
  counter.Increment();
  counter.Increment();
  counter.Decrement(1);
  EXPECT_EQ(counter.Value(), 1);
  counter.Decrement(5);  // a floor above the value lifts it
  EXPECT_EQ(counter.Value(), 5);
  counter.Reset();
  EXPECT_EQ(counter.Value(), 0);
}

TEST(RsClassesTest, CounterUnderConcurrentUse) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  TRsAtomicCounter counter(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        counter.Increment();
        counter.Increment();
        counter.Decrement(INT64_MIN);
        (void)counter.Value();
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter.Value(), kThreads * kRounds);

  // With a limit every wrap is reported exactly once: kThreads * kRounds
  // increments on a counter that wraps after 1000 give that many wraps.
  TRsAtomicCounter wrapping(999);
  std::vector<int> wraps(kThreads, 0);
  threads.clear();
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i)
        if (wrapping.Increment()) ++wraps[t];
    });
  for (auto& th : threads) th.join();
  int total = 0;
  for (int w : wraps) total += w;
  EXPECT_EQ(total, kThreads * kRounds / 1000);
  EXPECT_EQ(wrapping.Value(), kThreads * kRounds % 1000);
}

}  // namespace
