#pragma once
// The mute and volume of the line a wizard page tests: a playback device's speaker line, or a
// recording device's microphone (the active microphone source of its recording line, else the
// recording line itself). Read and changed straight on the device's mixer; the pages' sliders
// and check boxes follow through the mixer's change notices. Any thread.
#include "platform/api/mmsystem.h"

struct TLineState {
    bool Found = false;     // the device has a mixer with such a line
    bool Muted = false;     // its mute is on
    int VolumePercent = -1; // its loudest channel, 0..100; -1 when it has no volume control
};

TLineState ReadLineState(UINT waveId, bool input);
// Turns the mute off and, for a volume at 0, sets it to volumePercent. False when the device has
// no such line or the mixer refused.
bool UnmuteLine(UINT waveId, bool input, int volumePercent);
