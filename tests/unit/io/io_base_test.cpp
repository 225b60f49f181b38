#include "io/io_base.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "support/fake_driver.h"
#include "support/wait_until.h"

namespace {

using Clock = std::chrono::steady_clock;

// A device whose inputs and output writes the test scripts.
class ScriptedIO : public telvaro::CIOBase {
public:
    explicit ScriptedIO(telvaro::IDriver* driver, uint32_t periodMs = 50) : CIOBase(driver) {
        SetPeriod(periodMs);
    }
    ~ScriptedIO() override { Stop(); }

    bool WriteOutput(int32_t index, int32_t value) override {
        if (stallUntilAbort) return StallUntilAbort();
        std::lock_guard<std::mutex> lock(mu);
        writes.emplace_back(index, value);
        writers.push_back(std::this_thread::get_id());
        if (writeDelayMs) std::this_thread::sleep_for(std::chrono::milliseconds(writeDelayMs));
        return !failWrites;
    }
    bool ReadInputs() override {
        if (stallUntilAbort) return StallUntilAbort();
        std::vector<int32_t> states;
        {
            std::lock_guard<std::mutex> lock(mu);
            ++reads;
            if (failReads) return false;
            states = inputs;
        }
        for (uint32_t i = 0; i < states.size(); ++i) ReportInput(i, states[i]);
        return true;
    }
    std::vector<std::pair<int32_t, int32_t>> Writes() {
        std::lock_guard<std::mutex> lock(mu);
        return writes;
    }
    void SetInputs(std::vector<int32_t> s) {
        std::lock_guard<std::mutex> lock(mu);
        inputs = std::move(s);
    }
    // A device that answers only when the request is given up, as a stalled
    // camera does, or after 5 s.
    bool StallUntilAbort() {
        stalled = true;
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (!AbortFlag()->load() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stalled = false;
        return false;
    }
    bool Aborting() const { return AbortFlag()->load(); }
    bool InputThreadRuns() { return static_cast<telvaro::thread::CTickerThread&>(*this).HasThread(); }
    bool OutputThreadRuns() { return static_cast<telvaro::thread::CWorkItemThread&>(*this).HasThread(); }

    std::mutex mu;
    std::vector<std::pair<int32_t, int32_t>> writes;
    std::vector<std::thread::id> writers;
    std::vector<int32_t> inputs;
    int reads = 0;
    bool failReads = false;
    bool failWrites = false;
    int writeDelayMs = 0;
    std::atomic<bool> stallUntilAbort{false};
    std::atomic<bool> stalled{false};
};

class IOBaseTest : public ::testing::Test {
protected:
    void Counts(uint32_t inputs, uint32_t outputs) {
        driver.inputs = inputs;
        driver.outputs = outputs;
    }
    // Waits until the device saw n writes.
    bool WaitForWrites(ScriptedIO& io, size_t n) {
        for (int i = 0; i < 200; ++i) {
            if (io.Writes().size() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    fakes::FakeDriver driver;
    fakes::FakeIOEventSink sink;
};

TEST_F(IOBaseTest, StartWritesOneToEveryOutputOnTheCallersThread) {
    Counts(0, 2);
    ScriptedIO io(&driver);
    ASSERT_TRUE(io.SetEventSink(&sink));
    EXPECT_FALSE(io.SetEventSink(nullptr));
    ASSERT_TRUE(io.Start());
    EXPECT_EQ(io.Writes(), (std::vector<std::pair<int32_t, int32_t>>{{0, 1}, {1, 1}}));
    for (auto id : io.writers) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_FALSE(io.InputThreadRuns());
    EXPECT_TRUE(io.OutputThreadRuns());
}

TEST_F(IOBaseTest, FirstGoodPollReportsEveryInputThenOnlyChanges) {
    Counts(3, 0);
    ScriptedIO io(&driver);
    io.SetEventSink(&sink);
    io.SetInputs({1, 2, 1});
    ASSERT_TRUE(io.Start());
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(events[i].failure);
        EXPECT_EQ(events[i].index, i);
        EXPECT_EQ(events[i].state, i == 1 ? 2u : 1u);
    }
    io.SetInputs({1, 1, 1});
    ASSERT_TRUE(sink.WaitForEvents(4, 2000));
    events = sink.Events();
    EXPECT_EQ(events[3].index, 1u);
    EXPECT_EQ(events[3].state, 1u);
    EXPECT_TRUE(io.InputThreadRuns());
    EXPECT_FALSE(io.OutputThreadRuns());
}

TEST_F(IOBaseTest, AFailedPollResetsAndReportsAndPollingGoesOn) {
    Counts(2, 1);
    ScriptedIO io(&driver);
    io.SetEventSink(&sink);
    io.SetInputs({2, 2});
    ASSERT_TRUE(io.Start());
    ASSERT_EQ(sink.Events().size(), 2u);
    {
        std::lock_guard<std::mutex> lock(io.mu);
        io.failReads = true;
    }
    ASSERT_TRUE(sink.WaitForEvents(3, 2000));
    EXPECT_TRUE(sink.Events()[2].failure);
    EXPECT_EQ(io.GetInputState(0), 0);
    EXPECT_EQ(io.GetOutputValue(0), 0);
    {
        std::lock_guard<std::mutex> lock(io.mu);
        io.failReads = false;
    }
    // Once the device answers again, every input is reported anew.
    for (int i = 0; i < 200; ++i) {
        auto events = sink.Events();
        if (!events.empty() && !events.back().failure && events.size() >= 5 && !events[events.size() - 2].failure)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    auto events = sink.Events();
    ASSERT_GE(events.size(), 5u);
    EXPECT_FALSE(events[events.size() - 1].failure);
    EXPECT_FALSE(events[events.size() - 2].failure);
}

TEST_F(IOBaseTest, OutputRequestsAreWrittenOnceInOrder) {
    Counts(0, 4);
    ScriptedIO io(&driver);
    io.SetEventSink(&sink);
    ASSERT_TRUE(io.Start());
    ASSERT_EQ(io.Writes().size(), 4u);
    EXPECT_TRUE(io.SetOutput(3, 2));
    EXPECT_TRUE(io.SetOutput(3, 2));
    EXPECT_TRUE(io.SetOutput(9, 1));   // beyond the count: accepted, never written
    EXPECT_TRUE(io.SetOutput(-1, 1));  // likewise
    EXPECT_TRUE(io.SetOutput(0, 0));
    ASSERT_TRUE(WaitForWrites(io, 6));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto writes = io.Writes();
    std::vector<std::pair<int32_t, int32_t>> later(writes.begin() + 4, writes.end());
    EXPECT_EQ(later, (std::vector<std::pair<int32_t, int32_t>>{{3, 2}, {0, 0}}));
}

TEST_F(IOBaseTest, AfterAFailedWriteTheSameValueIsWrittenAgain) {
    Counts(0, 2);
    ScriptedIO io(&driver);
    io.SetEventSink(&sink);
    ASSERT_TRUE(io.Start());
    {
        std::lock_guard<std::mutex> lock(io.mu);
        io.failWrites = true;
    }
    io.SetOutput(1, 2);
    ASSERT_TRUE(sink.WaitForEvents(1, 2000));
    EXPECT_TRUE(sink.Events()[0].failure);
    {
        std::lock_guard<std::mutex> lock(io.mu);
        io.failWrites = false;
    }
    io.SetOutput(1, 2);
    ASSERT_TRUE(WaitForWrites(io, 4));
    EXPECT_EQ(io.Writes()[3], std::make_pair(1, 2));
}

TEST_F(IOBaseTest, AFailedInitialReadSkipsTheInitialWritesButStartsTheThreads) {
    Counts(1, 2);
    ScriptedIO io(&driver);
    io.SetEventSink(&sink);
    io.failReads = true;
    EXPECT_TRUE(io.Start());
    EXPECT_TRUE(io.Writes().empty());
    EXPECT_GE(sink.Failures(), 1);
    EXPECT_TRUE(io.InputThreadRuns());
    EXPECT_TRUE(io.OutputThreadRuns());
}

TEST_F(IOBaseTest, WithoutOutputsSetOutputIsRefused) {
    Counts(1, 0);
    ScriptedIO io(&driver);
    ASSERT_TRUE(io.Start());
    EXPECT_FALSE(io.SetOutput(0, 1));
    EXPECT_EQ(io.GetInputCount(), 1u);
    EXPECT_EQ(io.GetOutputCount(), 0u);
}

TEST_F(IOBaseTest, StopDiscardsQueuedWritesAndCanStartAgain) {
    Counts(1, 1);
    ScriptedIO io(&driver);
    io.SetEventSink(&sink);
    io.SetInputs({1});
    ASSERT_TRUE(io.Start());
    {
        std::lock_guard<std::mutex> lock(io.mu);
        io.writeDelayMs = 100;
    }
    for (int v = 2; v < 12; ++v) io.SetOutput(0, v);
    auto start = Clock::now();
    EXPECT_TRUE(io.Stop());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(600));
    EXPECT_LT(io.Writes().size(), 4u);  // the initial write and at most the one under way
    EXPECT_EQ(io.GetOutputValue(0), 0);
    EXPECT_EQ(io.GetInputState(0), 0);
    {
        std::lock_guard<std::mutex> lock(io.mu);
        io.writeDelayMs = 0;
    }
    sink.Clear();
    ASSERT_TRUE(io.Start());
    EXPECT_EQ(sink.Events().size(), 1u);  // the input is reported again after the reset
    const size_t before = io.Writes().size();
    EXPECT_TRUE(io.SetOutput(0, 5));
    ASSERT_TRUE(WaitForWrites(io, before + 1));
    EXPECT_EQ(io.Writes().back(), std::make_pair(0, 5));
}

TEST_F(IOBaseTest, StopGivesUpADeviceOperationUnderWayWithoutReportingAFailure) {
    struct Case {
        const char* what;
        uint32_t inputs;
        uint32_t outputs;
    } cases[] = {{"output write", 0, 1}, {"input poll", 1, 0}};
    for (const Case& c : cases) {
        Counts(c.inputs, c.outputs);
        sink.Clear();
        ScriptedIO io(&driver);
        io.SetEventSink(&sink);
        io.SetInputs({1});
        ASSERT_TRUE(io.Start()) << c.what;
        EXPECT_FALSE(io.Aborting()) << c.what;
        io.stallUntilAbort = true;
        if (c.outputs) io.SetOutput(0, 2);
        ASSERT_TRUE(fakes::WaitUntil([&] { return io.stalled.load(); })) << c.what;
        const int failuresBefore = sink.Failures();

        auto start = Clock::now();
        EXPECT_TRUE(io.Stop());
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_LT(took.count(), 1000) << c.what;
        EXPECT_FALSE(io.stalled) << c.what;
        // The operation failed because of the stop, not because of the device.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(sink.Failures(), failuresBefore) << c.what;

        // Start lets device operations through again.
        io.stallUntilAbort = false;
        ASSERT_TRUE(io.Start()) << c.what;
        EXPECT_FALSE(io.Aborting()) << c.what;
        EXPECT_EQ(sink.Failures(), failuresBefore) << c.what;
    }
}

}  // namespace
