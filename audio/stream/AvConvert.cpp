#include "audio/stream/AvConvert.h"

#include <algorithm>
#include <cstring>

void TAvCustomConverter::Loaded() {
    TAvDSPComponent::Loaded();
    UpdateConversion();
}

void TAvCustomConverter::Prepare() {
    if (FNeeded) {
        if (!FPossible) Fail();
        PrepareConversion();
    }
    FPrepared = true;
}

void TAvCustomConverter::Opened() {
    if (!FPrepared && FEnabled) Prepare();
    TAvDSPComponent::Opened();
}

void TAvCustomConverter::Closed() {
    FRunning = false;
    FPrepared = false;
    FProduced = FConsumed = 0;
    FreeConversion();
    TAvDSPComponent::Closed();
}

void TAvCustomConverter::Started() {
    TAvDSPComponent::Started();
    if (FPrepared && !FRunning) {
        FRunning = true;
        FMoreBuffers = false;
        FExhausted = false;
        FProduced = FConsumed = 0;
        // A new run must not begin with what an earlier one left in the conversion.
        RestartConversion();
    }
}

void TAvCustomConverter::Stopped() {
    FRunning = false;
    FConsumed = FProduced;
    TAvDSPComponent::Stopped();
}

void TAvCustomConverter::Flushed() {
    TAvDSPComponent::Flushed();
    // The source moved: what is held belongs to the old position.
    FConsumed = FProduced;
    FExhausted = false;
    RestartConversion();
}

int TAvCustomConverter::HandOut(TAvWaveHdr* h, const BYTE* converted) {
    int room = static_cast<int>(h->dwBufferLength) - static_cast<int>(h->dwBytesRecorded);
    const int waiting = FProduced - FConsumed;
    if (waiting > 0 && room > 0) {
        const int n = std::min(waiting, room);
        std::memcpy(h->lpData + h->dwBytesRecorded, converted + FConsumed,
                    static_cast<std::size_t>(n));
        FConsumed += n;
        h->dwBytesRecorded += static_cast<DWORD>(n);
        room -= n;
    }
    return room;
}

void TAvCustomConverter::CopyLoopFields(const TAvWaveHdr& from, TAvWaveHdr& to) {
    to.LoopEnabled = from.LoopEnabled;
    to.LoopCount = from.LoopCount;
    to.LoopsLeft = from.LoopsLeft;
    to.HasLooped = from.HasLooped;
}
