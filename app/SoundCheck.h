#pragma once
// Whether a recording heard a known sound, and how loud a recording is. Pure computation on
// 16-bit samples (no devices, no widgets); any thread.
#include <QString>

#include <cstdint>
#include <vector>

// How loud a recording is.
struct TSoundLevels {
    double PeakDbfs = -150; // largest magnitude against full scale; -150 for digital silence
    bool Signal = false;    // louder than a microphone's own hiss (any sound came)
    bool Clipped = false;   // samples at full scale: the microphone is set too loud
};

// A recording whose peak stays at or below this counts as silence: a microphone's own hiss or an
// idle input, not sound.
constexpr double SoundSignalDbfs = -50.0;

TSoundLevels MeasureLevels(const std::int16_t* samples, std::size_t count);
inline TSoundLevels MeasureLevels(const std::vector<std::int16_t>& samples) {
    return MeasureLevels(samples.data(), samples.size());
}

// What the echo search found.
struct TEchoResult {
    bool Heard = false;
    double Correlation = 0; // the normalised cross-correlation's peak, 0..1
    double LatencyMs = 0;   // lag of that peak: played to recorded, the round trip
    double Prominence = 0;  // the peak against the correlation's root mean square over all lags
};

// Finds a played sound in a recording made while it played: the normalised cross-correlation of
// the sound with the recording over every lag in 0..MaxLagMs. A steady tone or noise that is not
// the sound matches only weakly at every lag, so the peak must pass HeardThreshold and stand out
// from the correlation at the other lags.
class TEchoDetector {
public:
    // reference: the sound as played (mono), at referenceRate; recordings come at recordingRate.
    TEchoDetector(const std::vector<std::int16_t>& reference, int referenceRate, int recordingRate,
                  double maxLagMs = 1000);

    // recording starts when the sound starts playing (give or take the lag range) and holds at
    // least maxLagMs of sound beyond the part compared (shorter: a shorter part of the sound is
    // compared; less than MinimumMs of it: not heard).
    TEchoResult Find(const std::vector<std::int16_t>& recording) const;

    // The recording length (in samples at recordingRate) that compares the whole sound.
    std::size_t WantedSamples() const { return FReference.size() + FMaxLag; }
    int RecordingRate() const { return FRate; }

    static constexpr double HeardThreshold = 0.3;
    // The peak against the root mean square of the correlation over all lags.
    static constexpr double PeakToSpread = 4.0;
    static constexpr double MinimumMs = 500;

private:
    std::vector<float> FReference; // at the recording rate
    std::size_t FMaxLag = 0;
    int FRate = 8000;
};

// The stereo interleaved samples as mono (the channels' mean).
std::vector<std::int16_t> MixToMono(const std::int16_t* samples, std::size_t frames, int channels);

// A 16-bit PCM sound as played (interleaved) and as the detector wants it (mono).
struct TPcm16Sound {
    int Rate = 0;
    int Channels = 0;
    std::vector<std::int16_t> Interleaved;
    std::vector<std::int16_t> Mono;
};
// Reads a 16-bit PCM WAVE file (the test sound); false when it cannot be read or holds another
// format. Any thread.
bool LoadPcm16Sound(const QString& path, TPcm16Sound* sound);
