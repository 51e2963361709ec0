#include "audio/display/AvUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

WAVEFORMATEX Pcm(WORD bits, WORD channels, DWORD rate) {
    WAVEFORMATEX f;
    std::memset(&f, 0xCD, sizeof f);
    BuildPcmFormat(&f, bits, channels, rate);
    return f;
}

template <typename T>
void Peaks(const WAVEFORMATEX& f, const std::vector<T>& v, int bytes, std::int16_t& l,
           std::int16_t& r) {
    l = r = 77; // must be overwritten
    FindPeaks(&f, v.data(), bytes, l, r);
}

} // namespace

TEST(AvUtilsTypes, EnumerationsAreOneByteInDeclaredOrder) {
    static_assert(sizeof(TAvBits) == 1 && sizeof(TAvMode) == 1 && sizeof(TAvChannel) == 1);
    static_assert(sizeof(TAvDecayMode) == 1 && sizeof(TAvTimeFormats) == 1);
    EXPECT_EQ(b16Bit, 1);
    EXPECT_EQ(mStereo, 1);
    EXPECT_EQ(chRight, 2);
    EXPECT_EQ(dmUniform, 3);
    EXPECT_EQ(tfSample, 2);
}

TEST(AvUtilsFormat, BuildFillsEveryField) {
    const WAVEFORMATEX mic = Pcm(16, 2, 8000);
    EXPECT_EQ(mic.wFormatTag, 1);
    EXPECT_EQ(mic.nBlockAlign, 4);
    EXPECT_EQ(mic.nAvgBytesPerSec, 32000u);
    EXPECT_EQ(mic.cbSize, 0);
    const WAVEFORMATEX f = Pcm(8, 2, 22050);
    EXPECT_EQ(f.nBlockAlign, 2);
    EXPECT_EQ(f.nAvgBytesPerSec, 44100u);
    EXPECT_EQ(f.wBitsPerSample, 8);
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(Pcm(8, 1, 11025).nBlockAlign, 1);
    EXPECT_EQ(BuildPcmFormat(nullptr, 8, 1, 8000), nullptr);
    WAVEFORMATEX g;
    EXPECT_EQ(BuildPcmFormat(&g, 8, 1, 8000), &g);
}

TEST(AvUtilsFormat, ValidityLimits) {
    EXPECT_FALSE(IsValidPcmFormat(nullptr));
    WAVEFORMATEX f = Pcm(16, 2, 4000);
    EXPECT_TRUE(IsValidPcmFormat(&f));
    f = Pcm(8, 1, 100000);
    EXPECT_TRUE(IsValidPcmFormat(&f));
    f = Pcm(16, 2, 3999);
    EXPECT_FALSE(IsValidPcmFormat(&f));
    f = Pcm(16, 2, 100001);
    EXPECT_FALSE(IsValidPcmFormat(&f));
    f = Pcm(24, 2, 8000);
    EXPECT_FALSE(IsValidPcmFormat(&f));
    f = Pcm(16, 3, 8000);
    EXPECT_FALSE(IsValidPcmFormat(&f));
    f = Pcm(16, 2, 8000);
    f.wFormatTag = WAVE_FORMAT_ADPCM;
    EXPECT_FALSE(IsValidPcmFormat(&f));
    f = Pcm(16, 2, 0x80000FA0u); // above the range when compared unsigned
    EXPECT_FALSE(IsValidPcmFormat(&f));
    // The derived fields are not examined.
    f = Pcm(16, 2, 8000);
    f.nBlockAlign = 0;
    f.nAvgBytesPerSec = 1;
    EXPECT_TRUE(IsValidPcmFormat(&f));
}

TEST(AvUtilsFormat, SizeAndCopy) {
    EXPECT_EQ(FormatSize(nullptr), 0);
    EXPECT_FALSE(CopyFormat(nullptr));

    WAVEFORMATEX pcm = Pcm(16, 1, 8000);
    pcm.cbSize = 40; // ignored for PCM and cleared in the copy
    EXPECT_EQ(FormatSize(&pcm), 18);
    TAvFormatPtr c = CopyFormat(&pcm);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->cbSize, 0);
    EXPECT_EQ(c->nAvgBytesPerSec, 16000u);
    EXPECT_NE(c.get(), &pcm);

    // A compressed record followed by its extra bytes.
    alignas(4) unsigned char block[18 + 4];
    WAVEFORMATEX adpcm = Pcm(4, 1, 8000);
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    adpcm.cbSize = 4;
    std::memcpy(block, &adpcm, 18);
    const unsigned char extra[4] = {1, 2, 3, 4};
    std::memcpy(block + 18, extra, 4);
    const auto* rec = reinterpret_cast<const WAVEFORMATEX*>(block);
    EXPECT_EQ(FormatSize(rec), 22);
    TAvFormatPtr d = CopyFormat(rec);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->cbSize, 4);
    EXPECT_EQ(std::memcmp(d.get(), block, 22), 0);

    EXPECT_EQ(SilenceByte(&pcm), 0);
    WAVEFORMATEX e = Pcm(8, 1, 8000);
    EXPECT_EQ(SilenceByte(&e), 128);
}

TEST(AvUtilsMulDiv, RoundingAndTruncation) {
    EXPECT_EQ(MulDivTrunc(7, 10, 4), 17);
    EXPECT_EQ(MulDivTrunc(-7, 10, 4), -17);
    EXPECT_EQ(MulDivRound(7, 10, 4), 18); // 17.5 away from zero
    EXPECT_EQ(MulDivRound(-7, 10, 4), -18);
    EXPECT_EQ(MulDivRound(7, 10, -4), -18);
    EXPECT_EQ(MulDivRound(10, 10, 3), 33); // 33.3
    EXPECT_EQ(MulDivRound(20, 10, 3), 67); // 66.7
    // The product needs 64 bits.
    EXPECT_EQ(MulDivRound(2000000000, 3, 4), 1500000000);
    EXPECT_EQ(MulDivTrunc(2000000000, 2000000000, 2000000000), 2000000000);
    // No fault on a zero divisor or an overflowing quotient.
    EXPECT_EQ(MulDivRound(5, 5, 0), 0);
    EXPECT_EQ(MulDivTrunc(5, 5, 0), 0);
    EXPECT_EQ(MulDivRound(2000000000, 2000000000, 1), INT32_MAX);
    EXPECT_EQ(MulDivTrunc(-2000000000, 2000000000, 1), INT32_MIN);
}

TEST(AvUtilsConversions, MicrophoneFormat) {
    const WAVEFORMATEX f = Pcm(16, 2, 8000);
    EXPECT_EQ(BytesToMilliseconds(&f, 2000), 63); // 62.5
    EXPECT_EQ(BytesToMilliseconds(&f, 32000), 1000);
    EXPECT_EQ(BytesToSamples(&f, 32000), 8000);
    EXPECT_EQ(BytesToSamples(&f, 6), 2);        // 1.5 rounds up
    EXPECT_EQ(SamplesToMilliseconds(&f, 4), 1); // 0.5
    EXPECT_EQ(MillisecondsToSamples(&f, 25), 200);
    EXPECT_EQ(MillisecondsToBytes(&f, 25), 800);
    EXPECT_EQ(SamplesToBytes(&f, 200), 800);
    for (int n = 0; n < 2000; ++n) {
        EXPECT_EQ(SamplesToBytes(&f, n) % 4, 0) << n;
        EXPECT_EQ(MillisecondsToBytes(&f, n) % 4, 0) << n;
    }
}

TEST(AvUtilsConversions, AlignUpAndDegenerateRecords) {
    // 11025 Hz, 16-bit stereo: 44100 B/s; 1 ms = 44.1 bytes -> 44 -> aligned up to 44.
    const WAVEFORMATEX f = Pcm(16, 2, 11025);
    EXPECT_EQ(MillisecondsToBytes(&f, 1), 44);
    EXPECT_EQ(MillisecondsToBytes(&f, 3), 132); // 132.3 -> 132
    EXPECT_EQ(MillisecondsToBytes(&f, 5), 224); // 220.5 -> 221 -> 224
    WAVEFORMATEX zero{};
    EXPECT_EQ(BytesToSamples(&zero, 100), 0);
    EXPECT_EQ(SamplesToBytes(&zero, 100), 0);
    EXPECT_EQ(BytesToMilliseconds(&zero, 100), 0);
    EXPECT_EQ(SamplesToMilliseconds(&zero, 100), 0);
    EXPECT_EQ(MillisecondsToBytes(&zero, 100), 0);
    EXPECT_EQ(BytesToSamples(nullptr, 100), 0);
}

// Counts beyond the 32-bit range saturate to the largest whole frame, never past it into a
// negative count; negative counts stay negative whole frames.
TEST(AvUtilsConversions, SaturatedCountsStayWholeFramesOfTheRightSign) {
    const WAVEFORMATEX f = Pcm(16, 2, 8000);
    EXPECT_EQ(SamplesToBytes(&f, 600000000), 2147483644);
    EXPECT_EQ(MillisecondsToBytes(&f, 70000000), 2147483644);
    EXPECT_EQ(SamplesToBytes(&f, -600000000), -2147483648);
    EXPECT_EQ(MillisecondsToBytes(&f, -1), -32);
    const WAVEFORMATEX mono8 = Pcm(8, 1, 8000);
    EXPECT_EQ(MillisecondsToBytes(&mono8, 300000000), 2147483647);
}

TEST(AvUtilsPeaks, SixteenBit) {
    std::int16_t l, r;
    const WAVEFORMATEX st = Pcm(16, 2, 8000);
    const std::vector<std::int16_t> frames = {100, -300, -200, 50};
    Peaks(st, frames, 8, l, r);
    EXPECT_EQ(l, -200);
    EXPECT_EQ(r, -300);
    Peaks(st, frames, 3, l, r); // not one whole frame
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 0);
    Peaks(st, frames, 7, l, r); // trailing partial frame ignored
    EXPECT_EQ(l, 100);
    EXPECT_EQ(r, -300);

    const WAVEFORMATEX mono = Pcm(16, 1, 8000);
    const std::vector<std::int16_t> m = {-5, 7, -32768, 32767};
    Peaks(mono, m, 3, l, r); // one sample examined
    EXPECT_EQ(l, -5);
    EXPECT_EQ(r, -5);
    Peaks(mono, m, 8, l, r); // -32768 has magnitude 32768
    EXPECT_EQ(l, -32768);
    EXPECT_EQ(r, -32768);
    // The first of equal peaks wins.
    const std::vector<std::int16_t> eq = {0, 9, -9, 9};
    Peaks(mono, eq, 8, l, r);
    EXPECT_EQ(l, 9);
    const std::vector<std::int16_t> eq2 = {-9, 9};
    Peaks(mono, eq2, 4, l, r);
    EXPECT_EQ(l, -9);
}

TEST(AvUtilsPeaks, EightBit) {
    std::int16_t l, r;
    const WAVEFORMATEX mono = Pcm(8, 1, 8000);
    Peaks(mono, std::vector<std::uint8_t>{128, 10, 250}, 3, l, r);
    EXPECT_EQ(l, 250);
    EXPECT_EQ(r, 250);
    Peaks(mono, std::vector<std::uint8_t>{128, 128}, 2, l, r);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 0);
    Peaks(mono, std::vector<std::uint8_t>{0, 255}, 2, l, r);
    EXPECT_EQ(l, 0); // 128 below silence beats 127 above it
    const WAVEFORMATEX st = Pcm(8, 2, 8000);
    Peaks(st, std::vector<std::uint8_t>{100, 200, 30, 129, 5}, 5, l, r);
    EXPECT_EQ(l, 30);
    EXPECT_EQ(r, 200);
}

TEST(AvUtilsPeaks, LongBuffersAndBadArguments) {
    // Peaks late in a long buffer, across the internal block boundaries, with equal values.
    const WAVEFORMATEX st = Pcm(16, 2, 8000);
    std::vector<std::int16_t> v(2 * 5000, 0);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::int16_t>((i * 37) % 200) - 100;
    v[2 * 3001] = 20000;  // left
    v[2 * 4000] = -20000; // left, equal magnitude, later
    v[2 * 257 + 1] = -12345;
    std::int16_t l, r;
    Peaks(st, v, static_cast<int>(v.size() * 2), l, r);
    EXPECT_EQ(l, 20000);
    EXPECT_EQ(r, -12345);
    // A layout other than 8 bits is read as 16 bits; more than one channel as stereo.
    WAVEFORMATEX odd = Pcm(16, 2, 8000);
    odd.wBitsPerSample = 12;
    odd.nChannels = 6;
    Peaks(odd, std::vector<std::int16_t>{1, -2, 3, 4}, 8, l, r);
    EXPECT_EQ(l, 3);
    EXPECT_EQ(r, 4);

    l = r = 5;
    FindPeaks(nullptr, v.data(), 8, l, r);
    EXPECT_EQ(l, 0);
    FindPeaks(&st, nullptr, 8, l, r);
    EXPECT_EQ(r, 0);
    FindPeaks(&st, v.data(), -4, l, r);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 0);
}

TEST(AvUtilsSilence, FillSilence) {
    std::vector<std::uint8_t> b(9, 1);
    FillSilence(b.data(), 8, 128);
    EXPECT_EQ(b[0], 128);
    EXPECT_EQ(b[7], 128);
    EXPECT_EQ(b[8], 1);
    FillSilence(nullptr, 8, 0);
    FillSilence(b.data(), 0, 0);
    EXPECT_EQ(b[0], 128);
}

namespace {

// The peak rules written out sample by sample, to check the block search against.
void ReferencePeaks(int bits, int channels, const std::uint8_t* p, int bytes, int& l, int& r) {
    l = r = 0;
    int ml = 0, mr = 0;
    const int frame = (bits / 8) * channels;
    for (int f = 0; f + frame <= bytes; f += frame) {
        for (int c = 0; c < channels; ++c) {
            int v, m;
            if (bits == 8) {
                v = p[f + c];
                m = std::abs(v - 128);
            } else {
                v = static_cast<std::int16_t>(p[f + 2 * c] | (p[f + 2 * c + 1] << 8));
                m = std::abs(v);
            }
            int& best = c == 0 ? ml : mr;
            if (m > best) {
                best = m;
                (c == 0 ? l : r) = v;
            }
        }
    }
    if (channels == 1) r = l;
}

} // namespace

TEST(AvUtilsPeaks, MatchesTheRulesOnRandomBuffers) {
    std::mt19937 rng(7);
    std::vector<std::uint8_t> raw(9000);
    for (int round = 0; round < 200; ++round) {
        // Narrow value ranges make equal peaks common; odd offsets make the data unaligned.
        const int spread = 1 + static_cast<int>(rng() % 255);
        for (auto& b : raw)
            b = static_cast<std::uint8_t>(128 + static_cast<int>(rng() % spread) - spread / 2);
        const int offset = static_cast<int>(rng() % 3);
        const int bytes = static_cast<int>(rng() % (raw.size() - 3));
        for (int bits : {8, 16})
            for (int channels : {1, 2}) {
                const WAVEFORMATEX f =
                    Pcm(static_cast<WORD>(bits), static_cast<WORD>(channels), 8000);
                std::int16_t l, r;
                FindPeaks(&f, raw.data() + offset, bytes, l, r);
                int el, er;
                ReferencePeaks(bits, channels, raw.data() + offset, bytes, el, er);
                ASSERT_EQ(l, el) << bits << "/" << channels << " bytes " << bytes;
                ASSERT_EQ(r, er) << bits << "/" << channels << " bytes " << bytes;
            }
    }
}
