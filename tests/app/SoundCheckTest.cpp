// The echo detector and the level measure on synthetic recordings made from the real test sound:
// the sound played back late, quieter and with hiss is found at its delay; a steady tone, noise,
// another tune and silence are not, however loud. The margin between the two is printed.
#include "app/SoundCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

constexpr int kRate = 8000;

TPcm16Sound TestSound() {
    TPcm16Sound s;
    EXPECT_TRUE(LoadPcm16Sound(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("TestSnd.wav")), &s));
    return s;
}

// The sound as a microphone at kRate would record it: delayedMs late, scaled by gain, with hiss
// of the given amplitude, seconds long in all (linear interpolation is a different resampler
// from the detector's, as a sound server's is).
std::vector<std::int16_t> Recording(const TPcm16Sound& s, double delayMs, double gain, double hiss,
                                    double seconds, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, hiss);
    std::vector<std::int16_t> out(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t j = 0; j < out.size(); ++j) {
        double v = 0;
        const double t = j / double(kRate) - delayMs / 1000;
        if (t >= 0) {
            const double x = t * s.Rate;
            const auto i = static_cast<std::size_t>(x);
            if (i + 1 < s.Mono.size()) v = s.Mono[i] + (x - i) * (s.Mono[i + 1] - s.Mono[i]);
        }
        out[j] = static_cast<std::int16_t>(std::clamp(gain * v + noise(rng), -32768.0, 32767.0));
    }
    return out;
}

std::vector<std::int16_t> Tone(double freq, double amplitude, double seconds) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t j = 0; j < out.size(); ++j)
        out[j] =
            static_cast<std::int16_t>(amplitude * 32767 * std::sin(2 * M_PI * freq * j / kRate));
    return out;
}

} // namespace

TEST(SoundCheckTest, TheTestSoundIsFoundAtItsDelayAndNothingElseCountsAsHeard) {
    const TPcm16Sound sound = TestSound();
    ASSERT_EQ(sound.Channels, 2);
    const TEchoDetector detector(sound.Mono, sound.Rate, kRate);
    const double seconds = detector.WantedSamples() / double(kRate);

    double weakestHeard = 1, leastProminent = 1e9;
    for (const double delay : {0.0, 41.7, 930.0}) {
        // A quiet speaker heard through a hissing microphone: -26 dB, hiss at -50 dBFS.
        const TEchoResult r = detector.Find(Recording(sound, delay, 0.05, 100, seconds));
        EXPECT_TRUE(r.Heard) << delay;
        EXPECT_NEAR(r.LatencyMs, delay, 0.5) << delay;
        weakestHeard = std::min(weakestHeard, r.Correlation);
        leastProminent = std::min(leastProminent, r.Prominence);
    }

    // Unrelated sounds, loud and soft: the test microphone's steady tone, the chime's own notes
    // held steady, hiss, and the sound played backwards (same notes and loudness, another tune).
    std::mt19937 rng(7);
    std::normal_distribution<double> hiss(0, 3000);
    std::vector<std::int16_t> noise(detector.WantedSamples());
    for (auto& v : noise)
        v = static_cast<std::int16_t>(std::clamp(hiss(rng), -32768.0, 32767.0));
    std::vector<std::int16_t> reversed = Recording(sound, 0, 1, 0, seconds);
    std::reverse(reversed.begin(), reversed.end());
    const std::vector<std::vector<std::int16_t>> unrelated = {
        Tone(440, 0.8, seconds),
        Tone(523.25, 0.5, seconds),
        Tone(783.99, 0.05, seconds),
        noise,
        reversed,
        std::vector<std::int16_t>(detector.WantedSamples(), 0)};
    double bestUnrelated = 0, mostProminent = 0;
    for (std::size_t i = 0; i < unrelated.size(); ++i) {
        const TEchoResult r = detector.Find(unrelated[i]);
        EXPECT_FALSE(r.Heard) << "unrelated case " << i << " correlation " << r.Correlation;
        bestUnrelated = std::max(bestUnrelated, r.Correlation);
        mostProminent = std::max(mostProminent, r.Prominence);
    }
    // A steady tone at one of the sound's notes matches part of it at many lags; only the sound
    // itself stands out at one.
    EXPECT_GT(weakestHeard, bestUnrelated);
    EXPECT_GT(leastProminent, 2 * mostProminent);
    std::printf("echo detector margin: correlation peak weakest heard %.3f, best unrelated %.3f "
                "(threshold %.2f); peak/spread weakest heard %.1f, best unrelated %.1f "
                "(threshold %.1f)\n",
                weakestHeard, bestUnrelated, TEchoDetector::HeardThreshold, leastProminent,
                mostProminent, TEchoDetector::PeakToSpread);

    // A recording too short to compare half a second of the sound decides nothing.
    EXPECT_FALSE(detector.Find(Recording(sound, 0, 0.5, 0, 1.2)).Heard);
}

TEST(SoundCheckTest, LevelsTellSilenceSoundAndClipping) {
    const TSoundLevels silence = MeasureLevels(std::vector<std::int16_t>(8000, 0));
    EXPECT_FALSE(silence.Signal);
    EXPECT_FALSE(silence.Clipped);
    EXPECT_LT(silence.PeakDbfs, -100);

    // A microphone's own hiss (peaks near -60 dBFS) is not a signal.
    std::vector<std::int16_t> hiss(8000);
    for (std::size_t i = 0; i < hiss.size(); ++i)
        hiss[i] = static_cast<std::int16_t>(i % 7 * 5 - 15);
    EXPECT_FALSE(MeasureLevels(hiss).Signal);

    const TSoundLevels speech = MeasureLevels(Tone(300, 0.1, 1));
    EXPECT_TRUE(speech.Signal);
    EXPECT_FALSE(speech.Clipped);
    EXPECT_NEAR(speech.PeakDbfs, -20, 0.1);

    // A tone driven past full scale is cut off flat at both ends.
    std::vector<std::int16_t> loud = Tone(300, 1, 1);
    for (auto& v : loud)
        v = static_cast<std::int16_t>(std::clamp(2 * int{v}, -32768, 32767));
    const TSoundLevels clipped = MeasureLevels(loud);
    EXPECT_TRUE(clipped.Clipped);
    EXPECT_NEAR(clipped.PeakDbfs, 0, 0.01);
}
