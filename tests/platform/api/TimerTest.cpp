// Multimedia timers, the millisecond clock and the high-resolution counter.
#include "platform/api/mmsystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
using namespace std::chrono_literals;

// Counts callbacks and lets the test wait for a count, with a deadline.
struct Ticks {
    std::mutex lock;
    std::condition_variable cv;
    int count = 0;
    UINT id = 0;
    bool killFromInside = false;
    MMRESULT killResult = 99;
    std::thread::id thread;

    static void CALLBACK_Proc(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
        auto* self = reinterpret_cast<Ticks*>(user);
        std::unique_lock g(self->lock);
        ++self->count;
        self->thread = std::this_thread::get_id();
        if (self->killFromInside && self->count == 3) {
            g.unlock();
            const MMRESULT r = timeKillEvent(id); // must not wait for itself
            g.lock();
            self->killResult = r;
        }
        self->cv.notify_all();
    }
    bool WaitFor(int n, std::chrono::milliseconds limit = 10s) {
        std::unique_lock g(lock);
        return cv.wait_for(g, limit, [&] { return count >= n; });
    }
    int Count() {
        std::lock_guard g(lock);
        return count;
    }
    DWORD_PTR User() { return reinterpret_cast<DWORD_PTR>(this); }
};

TEST(Timers, PeriodicTimerFiresOnItsOwnThreadUntilKilled) {
    Ticks t;
    const UINT id = timeSetEvent(5, 0, &Ticks::CALLBACK_Proc, t.User(), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(t.WaitFor(5));
    EXPECT_NE(t.thread, std::this_thread::get_id());
    ASSERT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
    const int after = t.Count();
    // Let another timer run several periods: the killed one stays silent.
    Ticks witness;
    const UINT w = timeSetEvent(5, 0, &Ticks::CALLBACK_Proc, witness.User(), TIME_PERIODIC);
    ASSERT_TRUE(witness.WaitFor(4));
    EXPECT_EQ(timeKillEvent(w), MMSYSERR_NOERROR);
    EXPECT_EQ(t.Count(), after);
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
}

TEST(Timers, KillFromInsideTheCallbackDoesNotDeadlock) {
    Ticks t;
    t.killFromInside = true;
    const UINT id = timeSetEvent(2, 0, &Ticks::CALLBACK_Proc, t.User(), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    {
        // The count reaches 3 before the callback kills its timer: wait for the kill itself.
        std::unique_lock g(t.lock);
        ASSERT_TRUE(t.cv.wait_for(g, 10s, [&] { return t.killResult != 99; }));
    }
    Ticks witness;
    const UINT w = timeSetEvent(2, 0, &Ticks::CALLBACK_Proc, witness.User(), TIME_PERIODIC);
    ASSERT_TRUE(witness.WaitFor(5));
    timeKillEvent(w);
    std::lock_guard g(t.lock);
    EXPECT_EQ(t.killResult, MMSYSERR_NOERROR);
    EXPECT_EQ(t.count, 3);
}

TEST(Timers, OneShotFiresOnce) {
    Ticks t;
    const UINT id = timeSetEvent(3, 0, &Ticks::CALLBACK_Proc, t.User(), TIME_ONESHOT);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(t.WaitFor(1));
    Ticks witness;
    const UINT w = timeSetEvent(3, 0, &Ticks::CALLBACK_Proc, witness.User(), TIME_PERIODIC);
    ASSERT_TRUE(witness.WaitFor(4));
    timeKillEvent(w);
    EXPECT_EQ(t.Count(), 1);
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM); // it is over already
}

TEST(Timers, KillWaitsForARunningCallback) {
    // The callback holds until the test releases it; a kill issued meanwhile must not return
    // before the callback has ended.
    struct Held {
        std::mutex lock;
        std::condition_variable cv;
        bool inside = false, release = false, finished = false;
        static void Proc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
            auto* self = reinterpret_cast<Held*>(user);
            std::unique_lock g(self->lock);
            if (self->finished) return;
            self->inside = true;
            self->cv.notify_all();
            self->cv.wait(g, [&] { return self->release; });
            self->finished = true;
        }
    } held;
    const UINT id =
        timeSetEvent(1, 0, &Held::Proc, reinterpret_cast<DWORD_PTR>(&held), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    {
        std::unique_lock g(held.lock);
        ASSERT_TRUE(held.cv.wait_for(g, 10s, [&] { return held.inside; }));
    }
    std::atomic<bool> killed{false};
    bool finishedAtKill = false;
    std::thread killer([&] {
        EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
        std::lock_guard g(held.lock);
        finishedAtKill = held.finished;
        killed = true;
    });
    std::this_thread::sleep_for(20ms); // give the killer time to block
    EXPECT_FALSE(killed);
    {
        std::lock_guard g(held.lock);
        held.release = true;
    }
    held.cv.notify_all();
    killer.join();
    EXPECT_TRUE(finishedAtKill);
}

TEST(Timers, BadArgumentsAndPeriods) {
    EXPECT_EQ(timeSetEvent(0, 0, &Ticks::CALLBACK_Proc, 0, TIME_PERIODIC), 0u);
    EXPECT_EQ(timeSetEvent(10, 0, nullptr, 0, TIME_PERIODIC), 0u);
    EXPECT_EQ(timeSetEvent(10, 0, &Ticks::CALLBACK_Proc, 0, 0x10), 0u); // event kinds
    EXPECT_EQ(timeKillEvent(0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
    EXPECT_EQ(timeBeginPeriod(25), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(25), TIMERR_NOERROR);
    TIMECAPS caps{};
    EXPECT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, 1u);
    EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), TIMERR_STRUCT);
}

TEST(Clocks, CounterAndMillisecondsMoveForward) {
    LARGE_INTEGER f{}, a{}, b{};
    ASSERT_TRUE(QueryPerformanceFrequency(&f));
    EXPECT_GE(f.QuadPart, 1000);
    ASSERT_TRUE(QueryPerformanceCounter(&a));
    const DWORD t0 = timeGetTime();
    Ticks t;
    const UINT id = timeSetEvent(10, 0, &Ticks::CALLBACK_Proc, t.User(), TIME_PERIODIC);
    ASSERT_TRUE(t.WaitFor(2));
    timeKillEvent(id);
    ASSERT_TRUE(QueryPerformanceCounter(&b));
    EXPECT_GE(b.QuadPart - a.QuadPart, f.QuadPart * 15 / 1000); // at least two 10 ms periods
    EXPECT_GE(timeGetTime() - t0, 15u);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}
} // namespace
