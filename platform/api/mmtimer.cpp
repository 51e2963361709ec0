// Multimedia timers, the millisecond clock and the high-resolution counter. Independent of the
// audio backend.
//
// Each timer runs on a thread of its own. A periodic timer keeps absolute deadlines
// (start + n * period), so late callbacks do not push later ones back and the period does not
// drift. timeKillEvent from another thread waits for a running callback to end; from inside the
// callback it only marks the timer, which ends when the callback returns.
#include "platform/api/mmsystem.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

struct TimerState {
    std::mutex lock;
    std::condition_variable wake;
    bool killed = false;
    UINT id = 0;
    UINT delay = 0;
    bool periodic = false;
    LPTIMECALLBACK proc = nullptr;
    DWORD_PTR user = 0;
    std::thread::id threadId;
};

struct Timers {
    std::mutex lock;
    std::map<UINT, std::pair<std::shared_ptr<TimerState>, std::thread>> timers;
    UINT next = 0;
    int periods = 0;
};

Timers& AllTimers() {
    static Timers t;
    return t;
}

void RunTimer(std::shared_ptr<TimerState> s) {
    const auto period = std::chrono::milliseconds(s->delay);
    const auto start = Clock::now();
    for (std::uint64_t n = 1;; ++n) {
        const auto deadline = start + n * period;
        {
            std::unique_lock g(s->lock);
            if (s->wake.wait_until(g, deadline, [&] { return s->killed; })) return;
        }
        s->proc(s->id, 0, s->user, 0, 0);
        if (!s->periodic) {
            // A one-shot timer is over: forget it unless someone is killing it right now.
            std::unique_lock g(s->lock);
            s->killed = true;
            return;
        }
        // When a callback overran whole periods, skip the missed ticks instead of bursting.
        const auto now = Clock::now();
        if (now > start + (n + 1) * period) n = (now - start) / period;
    }
}

// Joins or detaches the timer's thread once the timer is out of the table.
void Retire(std::pair<std::shared_ptr<TimerState>, std::thread>& entry) {
    auto& [state, thread] = entry;
    {
        std::lock_guard g(state->lock);
        state->killed = true;
    }
    state->wake.notify_all();
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach(); // killed from its callback
    else
        thread.join(); // waits for a running callback
}

struct TimerReaper {
    TimerReaper() { AllTimers(); } // the table must outlive the reaper
    // At program end every still running timer is stopped before the process tears down.
    ~TimerReaper() {
        auto& t = AllTimers();
        std::map<UINT, std::pair<std::shared_ptr<TimerState>, std::thread>> rest;
        {
            std::lock_guard g(t.lock);
            rest.swap(t.timers);
        }
        for (auto& [id, entry] : rest)
            Retire(entry);
    }
};
TimerReaper reaper;
} // namespace

MMRESULT timeSetEvent(UINT uDelay, UINT /*uResolution*/, LPTIMECALLBACK lpTimeProc,
                      DWORD_PTR dwUser, UINT fuEvent) {
    if (!lpTimeProc || uDelay < 1 || uDelay > 1000000) return 0;
    if (fuEvent & ~(TIME_PERIODIC | TIME_KILL_SYNCHRONOUS)) return 0; // events are not offered
    auto s = std::make_shared<TimerState>();
    s->delay = uDelay;
    s->periodic = fuEvent & TIME_PERIODIC;
    s->proc = lpTimeProc;
    s->user = dwUser;
    auto& t = AllTimers();
    std::lock_guard g(t.lock);
    do {
        ++t.next;
    } while (t.next == 0 || t.timers.count(t.next));
    s->id = t.next;
    // The thread starts under the table lock, so the id is registered before any callback runs.
    auto& entry = t.timers[s->id];
    entry.first = s;
    entry.second = std::thread(RunTimer, s);
    return s->id;
}

MMRESULT timeKillEvent(UINT uTimerID) {
    auto& t = AllTimers();
    std::pair<std::shared_ptr<TimerState>, std::thread> entry;
    {
        std::lock_guard g(t.lock);
        auto it = t.timers.find(uTimerID);
        if (it == t.timers.end()) return MMSYSERR_INVALPARAM;
        entry = std::move(it->second);
        t.timers.erase(it);
    }
    bool fired = false; // a one-shot timer that has fired is over already
    {
        std::lock_guard g(entry.first->lock);
        fired = entry.first->killed && !entry.first->periodic;
    }
    Retire(entry);
    return fired ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT uPeriod) {
    if (uPeriod < 1 || uPeriod > 1000000) return TIMERR_NOCANDO;
    auto& t = AllTimers();
    std::lock_guard g(t.lock);
    ++t.periods;
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT uPeriod) {
    if (uPeriod < 1 || uPeriod > 1000000) return TIMERR_NOCANDO;
    auto& t = AllTimers();
    std::lock_guard g(t.lock);
    if (t.periods == 0) return TIMERR_NOCANDO;
    --t.periods;
    return TIMERR_NOERROR;
}

MMRESULT timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc) {
    if (!ptc || cbtc < sizeof(TIMECAPS)) return TIMERR_STRUCT;
    ptc->wPeriodMin = 1;
    ptc->wPeriodMax = 1000000;
    return TIMERR_NOERROR;
}

namespace {
const Clock::time_point processStart = Clock::now();
}

DWORD timeGetTime() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - processStart);
    return static_cast<DWORD>(ms.count());
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    if (!lpPerformanceCount) return FALSE;
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
    lpPerformanceCount->QuadPart = ns.count() / 100; // 10 MHz, the platform's usual frequency
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    if (!lpFrequency) return FALSE;
    lpFrequency->QuadPart = 10'000'000;
    return TRUE;
}
