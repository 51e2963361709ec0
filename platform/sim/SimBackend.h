#pragma once
// The simulated sound system: sound cards with wave outputs, wave inputs and mixers, driven by a
// clock the caller controls (tests) or by a real-time clock thread (the demo).
//
// Threads: with the manual clock, everything the sound system does happens inside Advance, on the
// caller's thread: buffers finish, MM_WOM_DONE / MM_WIM_DATA callbacks (CALLBACK_FUNCTION) are
// called and window messages posted there. With the real-time clock the same happens on the
// clock thread. Reset, Stop and Close report their buffers on the caller's thread. Control
// changes post MM_MIXM_CONTROL_CHANGE on the thread that wrote the control.
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimConfig.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimCore;

class SimBackend : public IAudioBackend {
public:
    explicit SimBackend(SimConfig config = SimConfig::Default());
    ~SimBackend() override;

    // The simulated backend in use, or null when another backend runs. Any thread.
    static SimBackend* Current();

    // ---- Clock ----
    // Runs the sound system for ms milliseconds of audio, in 1 ms steps; every callback caused by
    // it has been called (or its message posted) when it returns. Not while the real-time clock
    // runs.
    void Advance(std::uint32_t ms);
    // Simulated time since construction, in microseconds.
    std::uint64_t Now() const;
    // Advances the simulation at real time on a thread of its own while streams are open: from
    // one buffer event (a buffer filled or played) to the next, at least stepMs and at most
    // max(stepMs, 100) ms at a time, woken early when a stream gets work; with no stream open (for
    // 200 ms of simulated time) the thread sleeps until one opens.
    void StartRealTimeClock(std::uint32_t stepMs = 5);
    void StopRealTimeClock();
    // Whether the real-time clock is asleep (no stream open). Any thread.
    bool ClockSleeping() const { return clockSleeping_.load(); }

    // ---- Cards (hot-plug) ----
    // Adds a card at the end; counts grow and open mixers receive MM_MIXM_LINE_CHANGE.
    void AddCard(const SimCardConfig& card);
    // Removes the card with this name: its open handles then fail with MMSYSERR_NODRIVER and its
    // queued buffers come back done. False when no such card.
    bool RemoveCard(const std::string& name);
    std::vector<std::string> CardNames() const;

    // ---- Faults and signals ----
    enum class Direction { Output, Input };
    // The next opens of the card's device fail with code (MMSYSERR_ALLOCATED for a busy device,
    // WAVERR_BADFORMAT for an unsupported format, which format queries also get, any other code
    // for a refused open); MMSYSERR_NOERROR clears the fault.
    void SetOpenFault(const std::string& card, Direction direction, MMRESULT code);
    void SetSignal(const std::string& card, const SimSignal& signal);

    // ---- Observation ----
    // Keeps what every wave output plays (bytes as written), per card.
    void SetKeepPlayed(bool keep);
    // What the card's outputs played since the last call (then cleared).
    std::vector<std::uint8_t> TakePlayed(const std::string& card);

    // ---- IAudioBackend ----
    std::string Name() const override { return "sim"; }
    AV_AUDIO_BACKEND_DEVICES

private:
    std::shared_ptr<SimCore> core_;
    std::recursive_mutex advanceLock_; // one Advance at a time (a callback may advance too)
    std::thread clock_;
    std::mutex clockLock_;
    std::condition_variable clockWake_;
    bool clockStop_ = false;
    std::atomic<bool> clockWoken_{false}; // a stream opened or got work since the clock looked
    std::atomic<bool> clockSleeping_{false};
    bool built_ = false; // the configured cards are in
    void WakeClock();
};
