#include "audio/display/AvLevelModel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {
int RoundEven(double v) {
    return static_cast<int>(std::nearbyint(v)); // default rounding: halves to even
}
} // namespace

int TAvLevelModel::Smooth(int b) {
    if (FDecayMode == dmNone) return b;
    ++FDecayPos;
    ++FDecayCount;
    if (FDecayPos >= FDecayLength) FDecayPos = 0;
    FDecayCount = std::min(FDecayCount, FDecayLength);
    switch (FDecayMode) {
    case dmStepUp:
        FEnvelope *= FDecayFactor;
        if (static_cast<float>(b) > FEnvelope)
            FEnvelope = static_cast<float>(b);
        else
            b = static_cast<int>(FEnvelope);
        break;
    case dmExponential:
        FEnvelope = FEnvelope * FDecayFactor + (1.0f - FDecayFactor) * static_cast<float>(b);
        b = static_cast<int>(std::floor(FEnvelope));
        break;
    case dmUniform:
        FDecaySum += b - FHistory[FDecayPos];
        FHistory[FDecayPos] = b;
        b = FDecaySum / FDecayCount;
        break;
    default:
        break;
    }
    return b;
}

int TAvLevelModel::Map(int b, bool& overflow) const {
    const std::int64_t g = static_cast<std::int64_t>(b) * FGainFactor / 8;
    const double s = FSensitivy;
    int lit;
    if (FLogAmp) {
        const float db = static_cast<float>(
            20.0 * std::log10(std::max(1e-6, static_cast<double>(g) / FullScale)));
        lit = std::max(RoundEven((db - s) * FSpotCount / -s), 0);
    } else {
        const float t = static_cast<float>(FullScale / std::pow(10.0, -s / 20.0));
        lit = std::max(RoundEven((static_cast<double>(g) - t) * FSpotCount / (FullScale - t)), 0);
    }
    if (FHalved) lit /= 2;
    overflow = lit > FSpotCount;
    return std::min(lit, FSpotCount);
}

int TAvLevelModel::Steady(int lit) {
    if (lit == FLevelSpots) {
        FHeldBack = false;
        return lit;
    }
    // Going dark or lighting the first spot always shows: a meter set to 0 and back (a reset, a
    // page's own value) is no tone on a boundary.
    if (lit > 0 && FLevelSpots > 0 && lit == FCameFrom && std::abs(lit - FLevelSpots) == 1 &&
        !FHeldBack) {
        FHeldBack = true;
        return FLevelSpots;
    }
    FHeldBack = false;
    FCameFrom = FLevelSpots;
    return lit;
}

TAvLevelModel::TUpdate TAvLevelModel::SetLevel(int magnitude) {
    TUpdate u;
    // Offsets may push a magnitude past the int range only in theory; keep it on the scale.
    const int b = magnitude == INT_MIN ? INT_MAX : std::abs(magnitude);
    FRawLevel = b;
    if (b == 0 && FLevelSpots == 0 && !FRedrawPending.load()) return u;

    const int lit = Map(Smooth(b), u.GainOverflow);
    // The marker follows the level itself, so a level held back below still keeps it up.
    if (FNumPeaks > 0 && lit > 0) {
        const int peak = FPeakSpot.load();
        if (lit >= peak) {
            FPeakHold = 2 * FPeakDelay + 1;
            // A marker that stays where it is needs no redraw; only a new position does.
            if (lit > peak) {
                FPeakSpot = lit;
                FRedrawPending = true;
                u.PeakRaised = true;
            }
        }
    }
    const int shown = Steady(lit);
    if (shown == FLevelSpots && !FRedrawPending.load()) return u;
    FRedrawPending = false;
    FLevelSpots = shown;
    u.Redraw = true;
    return u;
}

TAvLevelModel::TTick TAvLevelModel::Tick() {
    TTick t;
    const int spot = FPeakSpot.load();
    if (spot <= 0) return t;
    if (FPeakHold.fetch_sub(1) - 1 > 0) {
        t.Marker = true;
        return t;
    }
    const int speed = FPeakSpeed.load(std::memory_order_relaxed);
    if (speed == 0) {
        FPeakSpot = 0;
        FPeakHold = 0;
    } else {
        FPeakSpot = spot - 1;
        FPeakHold = speed;
    }
    FRedrawPending = true;
    t.Changed = true;
    t.Marker = FPeakSpot.load() > 0;
    return t;
}

void TAvLevelModel::ResetDecay() {
    FDecayPos = 0;
    FDecayCount = 0;
    FDecaySum = 0;
    FEnvelope = 0.0f;
    std::fill(std::begin(FHistory), std::end(FHistory), 0);
}

void TAvLevelModel::ClearPeak() {
    FPeakHold = 0;
    FPeakSpot = 0;
}

void TAvLevelModel::ShowSpots(int spots) {
    FLevelSpots = spots;
    FCameFrom = -1;
    FHeldBack = false;
}

void TAvLevelModel::ResetLevel() {
    ClearPeak();
    ShowSpots(0);
    FRawLevel = 0;
    ResetDecay();
}

void TAvLevelModel::SetDecayMode(TAvDecayMode v) {
    FDecayMode = v;
    ResetDecay();
}

void TAvLevelModel::SetDecay(int v) {
    v = std::clamp(v, 1, 16);
    if (v == FDecay) return;
    FDecay = v;
    double f = 0.0001;
    for (int i = 0; i < v; ++i)
        f = std::sqrt(f);
    FDecayFactor = static_cast<float>(f);
    FDecayLength = std::clamp(2 * v - 2, 1, 32);
    if (FDecayMode == dmUniform) ResetDecay();
}

int TAvLevelModel::Value() const {
    if (FLevelSpots == 0) return 0;
    if (FLogAmp) {
        const double s = FSensitivy;
        const double db = (s - s * FLevelSpots / FSpotCount) / 20.0;
        return RoundEven(100.0 * std::pow(10.0, db) * 8.0 / FGainFactor);
    }
    return RoundEven(static_cast<double>(FLevelSpots) * 100.0 / FSpotCount);
}

int TAvLevelModel::MagnitudeOfPercent(int percent) {
    return RoundEven(std::clamp(percent, 0, 100) * 32767.0 / 100.0);
}
