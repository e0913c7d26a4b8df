#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "diagnostics/SimplePCQueue.h"
#include "support/ProcessHelper.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

struct Item : TObject {
  explicit Item(int id, bool* freed = nullptr) : Id(id), Freed(freed) {}
  ~Item() override {
    if (Freed) *Freed = true;
  }
  int Id;
  bool* Freed;
};

}  // namespace

TEST(Mailbox, PollsAndWaits) {
  TsemaphoreMailbox box;
  Item marker(0);
  TObject* out = &marker;
  EXPECT_FALSE(box.Receive(out, 0));
  EXPECT_EQ(out, &marker);  // left as it was
  const auto start = Clock::now();
  EXPECT_FALSE(box.Receive(out, 50));
  EXPECT_GE(Clock::now() - start, milliseconds(45));
  EXPECT_EQ(out, &marker);

  box.Post(nullptr);  // a valid item
  EXPECT_TRUE(box.Receive(out, 0));
  EXPECT_EQ(out, nullptr);

  Item late(7);
  std::thread producer([&] {
    std::this_thread::sleep_for(milliseconds(100));
    box.Post(&late);
  });
  const auto waitStart = Clock::now();
  ASSERT_TRUE(box.Receive(out, -1));
  EXPECT_GE(Clock::now() - waitStart, milliseconds(90));
  EXPECT_EQ(out, &late);
  producer.join();
}

TEST(Mailbox, FirstInFirstOutAcrossProducers) {
  TsemaphoreMailbox box;
  Item a(1), b(2), c(3);
  std::thread([&] { box.Post(&a); }).join();
  std::thread([&] { box.Post(&b); }).join();
  box.Post(&c);
  for (int expected : {1, 2, 3}) {
    TObject* out = nullptr;
    ASSERT_TRUE(box.Receive(out, 0));
    EXPECT_EQ(static_cast<Item*>(out)->Id, expected);
  }

  // Two producers, one consumer: each producer's items keep their order.
  constexpr int kPerProducer = 5000;
  std::vector<std::unique_ptr<Item>> items;
  for (int i = 0; i < 2 * kPerProducer; ++i) items.push_back(std::make_unique<Item>(i));
  std::thread p1([&] {
    for (int i = 0; i < kPerProducer; ++i) box.Post(items[i].get());
  });
  std::thread p2([&] {
    for (int i = kPerProducer; i < 2 * kPerProducer; ++i) box.Post(items[i].get());
  });
  int last[2] = {-1, kPerProducer - 1};
  for (int n = 0; n < 2 * kPerProducer; ++n) {
    TObject* out = nullptr;
    ASSERT_TRUE(box.Receive(out, 5000));
    const int id = static_cast<Item*>(out)->Id;
    int& previous = last[id >= kPerProducer];
    EXPECT_GT(id, previous);
    previous = id;
  }
  p1.join();
  p2.join();
  TObject* out = nullptr;
  EXPECT_FALSE(box.Receive(out, 0));
}

TEST(Mailbox, DestroyedWithQueuedItemsFreesNone) {
  bool freed = false;
  Item kept(1, &freed);
  {
    TsemaphoreMailbox box;
    box.Post(&kept);
    box.Post(nullptr);
  }
  EXPECT_FALSE(freed);
}

TEST(Mailbox, SignalsDoNotEndTheWait) {
  testing_support::ThreadInterrupter interrupter;
  TsemaphoreMailbox box;
  Item item(5);
  std::atomic<bool> received{false};
  TObject* out = nullptr;
  std::atomic<bool> started{false};
  std::thread consumer([&] {
    interrupter.Capture();
    started = true;
    received = box.Receive(out, -1);
  });
  while (!started) std::this_thread::yield();
  const int before = testing_support::ThreadInterrupter::Delivered();
  for (int i = 0; i < 10; ++i) {
    std::this_thread::sleep_for(milliseconds(20));
    interrupter.Interrupt();
  }
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_GE(testing_support::ThreadInterrupter::Delivered() - before, 10);
  EXPECT_FALSE(received);
  box.Post(&item);
  consumer.join();
  EXPECT_TRUE(received);
  EXPECT_EQ(out, &item);

  // A timed wait starts again with its full time-out after each interruption.
  std::atomic<bool> timedStarted{false};
  Clock::duration waited{};
  std::thread timed([&] {
    interrupter.Capture();
    timedStarted = true;
    const auto start = Clock::now();
    TObject* none = nullptr;
    EXPECT_FALSE(box.Receive(none, 300));
    waited = Clock::now() - start;
  });
  while (!timedStarted) std::this_thread::yield();
  std::this_thread::sleep_for(milliseconds(200));
  interrupter.Interrupt();
  timed.join();
  EXPECT_GE(waited, milliseconds(480));
}
