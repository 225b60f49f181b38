#include "thread/work_item_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/native_event.h"
#include "platform/native_thread.h"

namespace {

using telvaro::thread::CWorkItemThread;

struct Tally {
    std::mutex mu;
    std::vector<int> processed;
    std::atomic<int> deleted{0};
};

class Item : public CWorkItemThread::IWorkItem {
public:
    Item(Tally* tally, int value, bool throws = false) : tally(tally), value(value), throws(throws) {}
    ~Item() override { ++tally->deleted; }
    Tally* tally;
    int value;
    bool throws;
};

class Worker : public CWorkItemThread {
public:
    ~Worker() override { Stop(); }
    void ProcessWorkItem(IWorkItem* raw) override {
        auto* item = static_cast<Item*>(raw);
        if (gate) gate->Wait(telvaro::platform::kInfinite);
        if (item->throws) throw std::runtime_error("bad item");
        std::lock_guard<std::mutex> lock(item->tally->mu);
        item->tally->processed.push_back(item->value);
    }
    telvaro::platform::NativeEvent* gate = nullptr;
};

TEST(WorkItemThread, RefusedItemsStayWithTheCaller) {
    Tally tally;
    Worker w;
    Item beforeStart(&tally, 1);
    EXPECT_FALSE(w.AddWorkItem(&beforeStart));
    EXPECT_FALSE(w.AddWorkItem(nullptr));
    ASSERT_TRUE(w.Start("worker"));
    EXPECT_TRUE(w.Stop());
    Item afterStop(&tally, 2);
    EXPECT_FALSE(w.AddWorkItem(&afterStop));
    EXPECT_EQ(tally.deleted, 0);
}

TEST(WorkItemThread, ItemsRunInOrderAndAThrowingItemDoesNotStopTheQueue) {
    Tally tally;
    Worker w;
    ASSERT_TRUE(w.Start("worker"));
    ASSERT_TRUE(w.AddWorkItem(new Item(&tally, 1)));
    ASSERT_TRUE(w.AddWorkItem(new Item(&tally, 2, true)));
    ASSERT_TRUE(w.AddWorkItem(new Item(&tally, 3)));
    for (int i = 0; i < 200 && tally.deleted < 3; ++i) telvaro::platform::SleepMs(5);
    EXPECT_EQ(tally.deleted, 3);
    std::lock_guard<std::mutex> lock(tally.mu);
    EXPECT_EQ(tally.processed, (std::vector<int>{1, 3}));
}

TEST(WorkItemThread, QueuedItemsAreDeletedUnprocessedAtStop) {
    Tally tally;
    telvaro::platform::NativeEvent gate(true, false);
    Worker w;
    w.gate = &gate;
    ASSERT_TRUE(w.Start("worker"));
    ASSERT_TRUE(w.AddWorkItem(new Item(&tally, 1)));
    // Wait until the first item is being processed, then queue more.
    for (int i = 0; i < 200 && w.QueuedCount() != 0; ++i) telvaro::platform::SleepMs(5);
    ASSERT_TRUE(w.AddWorkItem(new Item(&tally, 2)));
    ASSERT_TRUE(w.AddWorkItem(new Item(&tally, 3)));
    // Stop while item 1 is still being processed: it finishes, 2 and 3 are dropped.
    auto opener = telvaro::platform::NativeThread::Start([&] {
        telvaro::platform::SleepMs(150);
        gate.Set();
    }, "gate");
    EXPECT_TRUE(w.Stop());
    opener->Join(telvaro::platform::kInfinite);
    EXPECT_EQ(tally.deleted, 3);
    std::lock_guard<std::mutex> lock(tally.mu);
    EXPECT_EQ(tally.processed, (std::vector<int>{1}));
}

TEST(WorkItemThread, StartStopStartServesItemsAgain) {
    Tally tally;
    Worker w;
    ASSERT_TRUE(w.Start("worker"));
    EXPECT_FALSE(w.Start("again"));
    EXPECT_TRUE(w.Stop());
    ASSERT_TRUE(w.Start("worker"));
    ASSERT_TRUE(w.AddWorkItem(new Item(&tally, 7)));
    for (int i = 0; i < 200 && tally.deleted < 1; ++i) telvaro::platform::SleepMs(5);
    EXPECT_TRUE(w.Stop());
    std::lock_guard<std::mutex> lock(tally.mu);
    EXPECT_EQ(tally.processed, (std::vector<int>{7}));
}

}  // namespace
