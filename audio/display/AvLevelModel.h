#pragma once
// The level meter's arithmetic, apart from any drawing: a magnitude goes in (0..32767), the lit
// spot count and the peak marker's spot come out, with whether the picture has to be drawn anew.
// Smoothing, the decibel (or linear) mapping, the peak hold and fall and the redraw decision live
// here; TAvCustomLevel (AvLevel.h) keeps the geometry and the drawing. No Qt: its tests feed
// numbers and read numbers.
//
// Threads: everything runs on the thread that feeds the meter, except Tick, which runs on the
// timer service's thread and touches only the three peak fields (atomics: PeakSpot, PeakHold,
// RedrawPending) and reads PeakSpeed (atomic).
#include "audio/display/AvUtils.h"

#include <atomic>
#include <cstdint>

class TAvLevelModel {
public:
    static constexpr int FullScale = 32767;

    // What one level changed, for the meter to act on.
    struct TUpdate {
        bool Redraw = false;       // the lit count or the marker moved: draw anew
        bool GainOverflow = false; // the level mapped past the last spot (clamped to it)
        bool PeakRaised = false;   // a marker was set or lifted: the peak tick has work again
    };
    // What one peak tick did.
    struct TTick {
        bool Changed = false; // the marker fell or vanished: RedrawPending is set
        bool Marker = false;  // a marker still shows (the tick has more to do)
    };

    // Maps a magnitude to lit spots, updates the marker and decides whether to draw. A level that
    // only returns by one spot to the count shown before the last change (neither of them 0) is
    // shown when the next level confirms it: a steady level on a spot boundary, whose count flips
    // between the two spots from block to block, then draws nothing, while any other change
    // shows at once.
    TUpdate SetLevel(int magnitude);
    // The peak tick (timer thread): counts the hold down, then drops the marker a spot (PeakSpeed
    // ticks per spot) or takes it away (PeakSpeed 0).
    TTick Tick();
    // Clears RedrawPending and says whether it was set (a tick's change not drawn yet).
    bool TakeRedrawPending() { return FRedrawPending.exchange(false); }

    // No level, no marker, no smoothing history.
    void ResetLevel();
    void ResetDecay();
    void ClearPeak();
    // Shows a fixed count with no history of changes (a new geometry, the sample level shown
    // while designing); the marker stays.
    void ShowSpots(int spots);

    // Percent of full scale shown now, and the magnitude a percentage stands for.
    int Value() const;
    static int MagnitudeOfPercent(int percent);

    // Settings. The meter clamps what it publishes before it sets them here.
    int SpotCount() const { return FSpotCount; }
    void SetSpotCount(int n) { FSpotCount = n < 1 ? 1 : n; }
    int Sensitivy() const { return FSensitivy; }
    void SetSensitivy(int dB) { FSensitivy = dB; }
    bool LogAmp() const { return FLogAmp; }
    void SetLogAmp(bool v) { FLogAmp = v; }
    // Gain in eighths: the magnitude is multiplied by GainFactor / 8.
    int GainFactor() const { return FGainFactor; }
    void SetGainFactor(int v) { FGainFactor = v; }
    // Symmetric meters show half the lit count (as a band around it).
    bool Halved() const { return FHalved; }
    void SetHalved(bool v) { FHalved = v; }
    int NumPeaks() const { return FNumPeaks; }
    void SetNumPeaks(int v) { FNumPeaks = v; }
    int PeakDelay() const { return FPeakDelay; }
    void SetPeakDelay(int v) { FPeakDelay = v; }
    int PeakSpeed() const { return FPeakSpeed.load(std::memory_order_relaxed); }
    void SetPeakSpeed(int v) { FPeakSpeed = v; }
    TAvDecayMode DecayMode() const { return FDecayMode; }
    void SetDecayMode(TAvDecayMode v);
    // 1..16 (clamped): the smoothing factor is 0.0001 with the square root taken Decay times,
    // the moving average DecayLength = clamp(2 Decay - 2, 1, 32) blocks long.
    int Decay() const { return FDecay; }
    void SetDecay(int v);
    float DecayFactor() const { return FDecayFactor; }
    int DecayLength() const { return FDecayLength; }

    // State.
    int LevelSpots() const { return FLevelSpots; }
    int RawLevel() const { return FRawLevel; }
    int PeakSpot() const { return FPeakSpot.load(); }
    int PeakHold() const { return FPeakHold.load(); }
    bool RedrawPending() const { return FRedrawPending.load(); }

private:
    int Smooth(int b);
    // Lit spots for a smoothed magnitude by the gain and scale; overflow: past the last spot.
    int Map(int b, bool& overflow) const;
    // The lit count to show for a freshly mapped one: the shown count stays when the new one
    // only returns by one spot to where the last change came from (see SetLevel).
    int Steady(int lit);

    int FSpotCount = 1;
    int FSensitivy = -35;
    bool FLogAmp = true;
    int FGainFactor = 8;
    bool FHalved = false;
    int FNumPeaks = 1;
    int FPeakDelay = 20;
    std::atomic<int> FPeakSpeed{0}; // read by the tick
    TAvDecayMode FDecayMode = dmNone;
    int FDecay = 1;
    float FDecayFactor = 0.0001f;
    int FDecayLength = 1;

    std::int32_t FHistory[32] = {};
    int FDecayCount = 0;
    int FDecayPos = 0;
    float FEnvelope = 0.0f;
    int FDecaySum = 0;
    int FRawLevel = 0;
    int FLevelSpots = 0;
    int FCameFrom = -1;     // the count shown before the last change (-1: none)
    bool FHeldBack = false; // the last level was such a return, not shown yet
    // Shared with the peak tick.
    std::atomic<int> FPeakSpot{0};
    std::atomic<int> FPeakHold{0};
    std::atomic<bool> FRedrawPending{false};
};
