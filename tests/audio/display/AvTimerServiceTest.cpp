#include "audio/display/AvLevel.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Ticks are driven by hand; every client a test adds is removed again by the fixture.
class TimerService : public ::testing::Test {
protected:
    void SetUp() override {
        TimerServiceSetManual(true);
        base = TimerClientCount();
    }
    void TearDown() override {
        for (TAvTimerClient* c : added)
            TimerRemoveClient(c); // safe for clients a test has removed already
        EXPECT_EQ(TimerClientCount(), base);
        TimerServiceSetManual(false);
    }
    TAvTimerClient* Add(int interval, const std::string& name, int disabled = 0) {
        TAvTimerClient* c = TimerAddClient(
            interval, disabled, [this, name](TAvTimerClient*, void*) { calls += name; }, this);
        EXPECT_NE(c, nullptr);
        added.push_back(c);
        return c;
    }
    // One tick; the names of the clients called, in order.
    std::string Tick() {
        calls.clear();
        TimerServiceTick();
        return calls;
    }

    int base = 0;
    std::string calls;
    std::vector<TAvTimerClient*> added;
};

} // namespace

TEST_F(TimerService, ClientsRunAtTheirIntervalsInOrder) {
    Add(25, "a");
    Add(50, "b");
    Add(75, "c");
    Add(10, "d"); // below the period: runs every tick
    EXPECT_EQ(TimerClientInterval(added[3]), 25);
    EXPECT_EQ(TimerClientCount(), base + 4);
    const std::vector<std::string> expected = {"ad", "abd", "acd", "abd", "ad", "abcd"};
    for (const auto& e : expected)
        EXPECT_EQ(Tick(), e);
}

TEST_F(TimerService, DisableCountsNestAndRestartTheInterval) {
    TAvTimerClient* a = Add(50, "a", 1);
    EXPECT_FALSE(TimerClientEnabled(a));
    EXPECT_EQ(Tick(), "");
    TimerEnableClient(a);
    EXPECT_TRUE(TimerClientEnabled(a));
    EXPECT_EQ(Tick(), "");
    TimerDisableClient(a); // clears the 25 ms gathered so far
    TimerDisableClient(a);
    TimerEnableClient(a);
    EXPECT_FALSE(TimerClientEnabled(a));
    EXPECT_EQ(Tick(), "");
    TimerEnableClient(a);
    TimerEnableClient(a); // a surplus enable does not go below zero
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Tick(), "a");
    TimerDisableClient(a);
    TimerEnableClient(a);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Tick(), "a");
}

TEST_F(TimerService, SetIntervalRestartsTheCount) {
    TAvTimerClient* a = Add(75, "a");
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Tick(), "");
    TimerSetInterval(a, 50);
    EXPECT_EQ(TimerClientInterval(a), 50);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Tick(), "a");
    TimerSetInterval(a, 0);
    EXPECT_EQ(TimerClientInterval(a), 25);
    EXPECT_EQ(Tick(), "a");
}

TEST_F(TimerService, AbsentClientsAreIgnored) {
    TimerDisableClient(nullptr);
    TimerEnableClient(nullptr);
    TimerSetInterval(nullptr, 100);
    TimerRemoveClient(nullptr);
    EXPECT_FALSE(TimerClientEnabled(nullptr));
    TAvTimerClient* a = Add(25, "a");
    TimerRemoveClient(a);
    TimerRemoveClient(a); // already gone: nothing happens
    TimerDisableClient(a);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(TimerClientCount(), base);
}

TEST_F(TimerService, CallbacksMayChangeTheList) {
    TAvTimerClient* b = nullptr;
    TAvTimerClient* self = nullptr;
    int selfCalls = 0;
    Add(25, "a");
    // Removes itself on its second call.
    self = TimerAddClient(
        25, 0,
        [&](TAvTimerClient* c, void* owner) {
            EXPECT_EQ(owner, this);
            EXPECT_EQ(c, self);
            calls += "s";
            if (++selfCalls == 2) TimerRemoveClient(c);
        },
        this);
    added.push_back(self);
    b = Add(25, "b");
    EXPECT_EQ(Tick(), "asb");
    EXPECT_EQ(Tick(), "asb");
    EXPECT_EQ(Tick(), "ab");
    EXPECT_EQ(TimerClientCount(), base + 2);

    // One client disables, enables and removes others; an added client waits for the next tick.
    TAvTimerClient* c = Add(25, "c");
    TAvTimerClient* d = Add(25, "d");
    TAvTimerClient* late = nullptr;
    TAvTimerClient* boss = TimerAddClient(
        25, 0,
        [&](TAvTimerClient*, void*) {
            calls += "X";
            TimerDisableClient(c);
            TimerRemoveClient(d);
            d = nullptr; // its memory may come back as the next client
            TimerEnableClient(b);
            if (!late) {
                late = TimerAddClient(
                    25, 0, [&](TAvTimerClient*, void*) { calls += "L"; }, this);
                added.push_back(late);
            }
        },
        this);
    added.push_back(boss);
    TimerDisableClient(b);
    EXPECT_EQ(Tick(), "acdX"); // c and d ran before the boss; b was disabled then
    EXPECT_EQ(Tick(), "abXL"); // c disabled, d gone, b enabled again, the late one runs
    EXPECT_EQ(TimerClientCount(), base + 5);
}

TEST_F(TimerService, LastClientRemovedFromItsOwnCallback) {
    TAvTimerClient* self = nullptr;
    self = TimerAddClient(
        25, 0, [&](TAvTimerClient* c, void*) { TimerRemoveClient(c); }, this);
    added.push_back(self);
    Tick();
    EXPECT_EQ(TimerClientCount(), base);
    EXPECT_EQ(Tick(), "");
}

// The real tick source: a platform multimedia timer on its own thread, started with the first
// client and stopped with the last.
TEST(TimerServicePlatform, TicksArriveOnTheTimerThread) {
    TimerServiceSetManual(false);
    if (TimerClientCount() != 0) GTEST_SKIP() << "other clients keep the service running";
    std::mutex m;
    std::condition_variable cv;
    int ticks = 0;
    std::thread::id where;
    TAvTimerClient* c = TimerAddClient(
        25, 0,
        [&](TAvTimerClient*, void*) {
            std::lock_guard g(m);
            ++ticks;
            where = std::this_thread::get_id();
            cv.notify_all();
        },
        nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(TimerServiceHasPlatformTimer());
    {
        std::unique_lock g(m);
        EXPECT_TRUE(cv.wait_for(g, std::chrono::seconds(5), [&] { return ticks >= 3; }));
        EXPECT_NE(where, std::this_thread::get_id());
    }
    // Manual mode takes the platform timer away; leaving it brings the timer back.
    TimerServiceSetManual(true);
    EXPECT_FALSE(TimerServiceHasPlatformTimer());
    TimerServiceSetManual(false);
    EXPECT_TRUE(TimerServiceHasPlatformTimer());
    TimerRemoveClient(c); // waits for a running tick: nothing runs after this
    EXPECT_FALSE(TimerServiceHasPlatformTimer());
    std::lock_guard g(m);
    const int after = ticks;
    EXPECT_GE(after, 3);
}

// A meter fed on the main thread while the platform timer ticks its peak on another thread; the
// timer runs only while a marker shows.
TEST(TimerServicePlatform, MeterPeakTicksAlongsideBlocks) {
    TimerServiceSetManual(false);
    if (TimerClientCount() != 0) GTEST_SKIP() << "other clients keep the service running";
    TForm form(nullptr);
    form.SetBounds(0, 0, 60, 220);
    auto* l = new TAvLevel(&form);
    l->SetParent(&form);
    l->SetPeakDelay(0);
    l->SetPeakSpeed(1);
    form.Show();
    std::vector<std::uint8_t> loud(50, 255), quiet(50, 128);
    EXPECT_FALSE(TimerServiceHasPlatformTimer()) << "a meter without a marker needs no tick";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    l->ProcessBlock(loud.data());
    EXPECT_TRUE(TimerServiceHasPlatformTimer());
    const int top = l->PeakSpot();
    EXPECT_GT(top, 0);
    // The marker falls while quiet blocks arrive; wait for it with a deadline.
    while (l->PeakSpot() >= top && std::chrono::steady_clock::now() < deadline) {
        l->ProcessBlock(quiet.data());
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_LT(l->PeakSpot(), top);
    // Down to nothing, and the timer stops with the marker.
    while ((l->PeakSpot() > 0 || TimerServiceHasPlatformTimer()) &&
           std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(l->PeakSpot(), 0);
    EXPECT_FALSE(TimerServiceHasPlatformTimer());
    l->ProcessBlock(loud.data());
    EXPECT_TRUE(TimerServiceHasPlatformTimer());
}
