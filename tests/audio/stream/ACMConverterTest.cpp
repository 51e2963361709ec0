// The compression-manager converters in a chain: chained streams pulled to the end, the push flow,
// the PCM converter's derived formats (float files among them), and conversions that cannot be
// built. Signals are encoded by libavcodec or made by formula and measured after conversion.
#include "audio/stream/AvACMCvt.h"
#include "tests/audio/stream/ByteSource.h"
#include "tests/platform/AcmSignal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace acmtest;

namespace {

using TSource = TByteSource;

// The end of a push chain: keeps what arrives.
class TSink : public TAvDSPComponent {
public:
    TSink() : TAvDSPComponent(nullptr) { SetAcceptsInput(true); }
    void BufferReady(TAvWaveHdr* h) override {
        Pieces.push_back(static_cast<int>(h->dwBytesRecorded));
        Data.insert(Data.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    }
    std::vector<uint8_t> Data;
    std::vector<int> Pieces;
};

// Pulls through the converter as a wave output would, in buffers of `size` bytes, until the chain
// has no more; checks no buffer comes back short before the end.
std::vector<uint8_t> PullAll(TAvDSPComponent* c, int size, int* buffers = nullptr) {
    std::vector<uint8_t> block(AvWaveHdrSize + size), out;
    int count = 0;
    for (bool more = true; more && count < 100000; ++count) {
        std::fill(block.begin(), block.end(), 0);
        TAvWaveHdr* h = AvInitWaveHdr(block.data(), size);
        more = false;
        c->BufferLoad(h, more);
        if (more) {
            EXPECT_EQ(h->dwBytesRecorded, static_cast<DWORD>(size)) << "buffer " << count;
        }
        out.insert(out.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    }
    if (buffers) *buffers = count;
    return out;
}

std::vector<uint8_t> Bytes(const std::vector<int16_t>& s) {
    const auto* b = reinterpret_cast<const uint8_t*>(s.data());
    return {b, b + s.size() * 2};
}

std::vector<int16_t> Samples16(const std::vector<uint8_t>& b) {
    std::vector<int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

void OpenAndStart(TAvDSPComponent* c) {
    c->Opened();
    c->Started();
}

} // namespace

// mu-law 8 kHz mono to PCM 16-bit 44.1 kHz stereo: no single stream does it, so the converter
// decodes to PCM first and resamples in a second stream; every sample comes out, the tone intact.
TEST(ACMConverterTest, ChainedStreamsPullToTheEnd) {
    const auto tone = Sine(8000, 1, 440, 0.5, 8000);
    Encoded e = Encode("pcm_mulaw", WAVE_FORMAT_MULAW, 8000, 1, tone);
    ASSERT_EQ(e.data.size(), 8000u);
    TSource source(e.wfx(), e.data);
    TAvACMConverter conv(nullptr);
    conv.SetInput(&source);
    ASSERT_EQ(conv.Input(), &source);
    ASSERT_TRUE(conv.InputFormat() && conv.InputFormat()->wFormatTag == WAVE_FORMAT_MULAW);
    // Without a target the input passes on.
    EXPECT_EQ(conv.PWaveFormat()->wFormatTag, WAVE_FORMAT_MULAW);

    const WAVEFORMATEX target = Plain(WAVE_FORMAT_PCM, 44100, 2, 16);
    conv.SetPWaveFormat(&target);
    EXPECT_TRUE(conv.ConversionNeeded());
    EXPECT_TRUE(conv.ConversionPossible());
    ASSERT_EQ(std::memcmp(conv.PWaveFormat(), &target, sizeof target), 0);
    OpenAndStart(&conv);
    EXPECT_EQ(conv.StageCount(), 2);

    int buffers = 0;
    const auto out = Samples16(PullAll(&conv, 4410, &buffers));
    // One second in, one second out: the resampler's tail drained at the end.
    EXPECT_NEAR(static_cast<double>(out.size()) / 2, 44100.0, 2.0);
    EXPECT_GE(buffers, 20);
    for (int ch = 0; ch < 2; ++ch) {
        const Tone t = Measure(Channel(out, 2, ch), 44100);
        EXPECT_NEAR(t.frequency, 440, 2) << ch;
        EXPECT_NEAR(t.amplitude, 0.5, 0.02) << ch;
    }
    // A flush drops what is pending; closing releases the streams.
    conv.Flushed();
    conv.Stopped();
    conv.Closed();
    EXPECT_EQ(conv.StageCount(), 0);
    conv.SetInput(nullptr);
}

// The push flow: each arriving buffer is converted and pushed on in pieces no larger than the
// buffer size; stereo 44.1 kHz becomes mono 8-bit 22.05 kHz.
TEST(ACMConverterTest, PushFlowConvertsEachBuffer) {
    const WAVEFORMATEX in = Plain(WAVE_FORMAT_PCM, 44100, 2, 16);
    const auto tone = Sine(44100, 2, 1000, 0.5, 44100);
    TSource source(&in, {});
    TAvPCMConverter conv(nullptr);
    TSink sink;
    conv.SetAutoConvert(false);
    conv.SetSampleRate(22050);
    conv.SetInput(&source);
    conv.SetOutput(&sink);
    ASSERT_TRUE(sink.PWaveFormat());
    EXPECT_EQ(sink.PWaveFormat()->nSamplesPerSec, 22050u);
    EXPECT_EQ(sink.PWaveFormat()->nChannels, 1);
    EXPECT_EQ(sink.PWaveFormat()->wBitsPerSample, 8);
    conv.SetBufferSize(1000);
    OpenAndStart(&conv);

    const auto bytes = Bytes(tone);
    std::vector<uint8_t> block(AvWaveHdrSize + 8820);
    for (std::size_t at = 0; at < bytes.size(); at += 8820) {
        TAvWaveHdr* h = AvInitWaveHdr(block.data(), 8820);
        const std::size_t n = std::min<std::size_t>(8820, bytes.size() - at);
        std::memcpy(h->lpData, bytes.data() + at, n);
        h->dwBytesRecorded = static_cast<DWORD>(n);
        conv.BufferReady(h);
    }
    ASSERT_FALSE(sink.Pieces.empty());
    EXPECT_LE(*std::max_element(sink.Pieces.begin(), sink.Pieces.end()), conv.BufferSize());
    // All but the resampler's held-back tail (the push flow has no end).
    EXPECT_NEAR(static_cast<double>(sink.Data.size()), 22050.0, 64.0);
    const Tone t = Measure(Channel8(sink.Data, 1, 0), 22050);
    EXPECT_NEAR(t.frequency, 1000, 5);
    EXPECT_NEAR(t.amplitude, 0.5, 0.02);
    conv.Stopped();
    conv.Closed();
}

// What the PCM converter derives: PCM passes through untouched; 32- and 64-bit float (tag 3) and
// 24-bit files become 16-bit PCM and play; the properties when AutoConvert is off.
TEST(ACMConverterTest, PcmConverterDerivesItsFormat) {
    // 16-bit PCM passes through, format and bytes.
    {
        const WAVEFORMATEX in = Plain(WAVE_FORMAT_PCM, 22050, 2, 16);
        const auto bytes = Bytes(Sine(22050, 2, 500, 0.3, 5000));
        TSource source(&in, bytes);
        TAvPCMConverter conv(nullptr);
        conv.SetInput(&source);
        EXPECT_FALSE(conv.ConversionNeeded());
        EXPECT_EQ(std::memcmp(conv.PWaveFormat(), &in, sizeof in), 0);
        OpenAndStart(&conv);
        EXPECT_EQ(PullAll(&conv, 3000), bytes);
        conv.Closed();
        conv.SetInput(nullptr);
    }
    // Float files of both widths: the tag means IEEE float here, not ADPCM.
    for (int bits : {32, 64}) {
        SCOPED_TRACE(bits);
        const WAVEFORMATEX in = Plain(WAVE_FORMAT_IEEE_FLOAT, 48000, 2, bits);
        std::vector<uint8_t> data;
        for (int i = 0; i < 48000; ++i) {
            for (int c = 0; c < 2; ++c) {
                const double v =
                    (c ? 0.25 : 0.5) * std::sin(2 * std::numbers::pi * 750 * i / 48000.0);
                const float f = static_cast<float>(v);
                const auto* p = bits == 32 ? reinterpret_cast<const uint8_t*>(&f)
                                           : reinterpret_cast<const uint8_t*>(&v);
                data.insert(data.end(), p, p + bits / 8);
            }
        }
        TSource source(&in, data);
        TAvPCMConverter conv(nullptr);
        conv.SetInput(&source);
        ASSERT_TRUE(conv.ConversionPossible());
        const WAVEFORMATEX want = Plain(WAVE_FORMAT_PCM, 48000, 2, 16);
        EXPECT_EQ(std::memcmp(conv.PWaveFormat(), &want, sizeof want), 0);
        OpenAndStart(&conv);
        const auto out = Samples16(PullAll(&conv, 4800));
        EXPECT_EQ(out.size(), 96000u);
        EXPECT_NEAR(Measure(Channel(out, 2, 0), 48000).amplitude, 0.5, 0.005);
        EXPECT_NEAR(Measure(Channel(out, 2, 1), 48000).amplitude, 0.25, 0.005);
        EXPECT_NEAR(Measure(Channel(out, 2, 1), 48000).frequency, 750, 2);
        conv.Closed();
        conv.SetInput(nullptr);
    }
    // 24-bit PCM is suggested as 16-bit.
    {
        const WAVEFORMATEX in = Plain(WAVE_FORMAT_PCM, 96000, 2, 24);
        TSource source(&in, {});
        TAvPCMConverter conv(nullptr);
        conv.SetInput(&source);
        EXPECT_EQ(conv.PWaveFormat()->wBitsPerSample, 16);
        EXPECT_EQ(conv.PWaveFormat()->nSamplesPerSec, 96000u);
        conv.SetInput(nullptr);
    }
    // AutoConvert off: the properties as Required says; the rest from the suggestion.
    {
        Encoded e = Encode("adpcm_ms", WAVE_FORMAT_ADPCM, 22050, 2, Sine(22050, 2, 440, 0.5, 4000));
        TSource source(e.wfx(), e.data);
        TAvPCMConverter conv(nullptr);
        conv.SetInput(&source);
        EXPECT_EQ(conv.PWaveFormat()->nChannels, 2); // AutoConvert: the decoder's own shape
        conv.SetAutoConvert(false);
        EXPECT_EQ(conv.PWaveFormat()->nSamplesPerSec, 11025u);
        EXPECT_EQ(conv.PWaveFormat()->nChannels, 1);
        EXPECT_EQ(conv.PWaveFormat()->wBitsPerSample, 8);
        conv.SetRequired(rpBits);
        EXPECT_EQ(conv.PWaveFormat()->nSamplesPerSec, 22050u);
        EXPECT_EQ(conv.PWaveFormat()->nChannels, 2);
        EXPECT_EQ(conv.PWaveFormat()->wBitsPerSample, 8);
        EXPECT_TRUE(conv.ConversionPossible());
        conv.SetInput(nullptr);
    }
    // Property bounds and the format check.
    TAvPCMConverter conv(nullptr);
    conv.SetSampleRate(4000);
    EXPECT_EQ(conv.SampleRate(), 8000);
    conv.SetSampleRate(200000);
    EXPECT_EQ(conv.SampleRate(), 88200);
    conv.SetMode(static_cast<TAvMode>(2));
    EXPECT_EQ(conv.Mode(), mMono);
    const WAVEFORMATEX mulaw = Plain(WAVE_FORMAT_MULAW, 8000, 1, 8);
    try {
        conv.SetPWaveFormat(&mulaw);
        ADD_FAILURE() << "no exception";
    } catch (const EAvConverterError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
}

// Conversions that cannot be built: the input passes on, and opening says why.
TEST(ACMConverterTest, ImpossibleConversionFailsAtOpen) {
    // Encoding is not offered: PCM to mu-law.
    const WAVEFORMATEX in = Plain(WAVE_FORMAT_PCM, 8000, 1, 16);
    TSource source(&in, Bytes(Sine(8000, 1, 440, 0.5, 800)));
    TAvACMConverter conv(nullptr);
    TSink sink;
    conv.SetInput(&source);
    conv.SetOutput(&sink);
    const WAVEFORMATEX mulaw = Plain(WAVE_FORMAT_MULAW, 8000, 1, 8);
    conv.SetPWaveFormat(&mulaw);
    EXPECT_TRUE(conv.ConversionNeeded());
    EXPECT_FALSE(conv.ConversionPossible());
    EXPECT_EQ(std::memcmp(sink.PWaveFormat(), &in, sizeof in), 0);
    try {
        conv.Opened();
        ADD_FAILURE() << "no exception";
    } catch (const EAvConverterError& e) {
        EXPECT_STREQ(e.what(), "Unable to convert to destination format");
    }
    EXPECT_FALSE(conv.Prepared());

    // Microsoft ADPCM with a coefficient table of its own: no PCM suggestion, the input passes on.
    Encoded e = Encode("adpcm_ms", WAVE_FORMAT_ADPCM, 8000, 1, Sine(8000, 1, 440, 0.5, 4000));
    reinterpret_cast<ADPCMWAVEFORMAT*>(e.format.data())->aCoef[6].iCoef2 = -100;
    TSource odd(e.wfx(), e.data);
    TAvPCMConverter pcm(nullptr);
    pcm.SetInput(&odd);
    EXPECT_EQ(pcm.DestFormat(), nullptr);
    EXPECT_FALSE(pcm.ConversionNeeded());
    EXPECT_EQ(pcm.PWaveFormat()->wFormatTag, WAVE_FORMAT_ADPCM);
    const WAVEFORMATEX pcm8k = Plain(WAVE_FORMAT_PCM, 8000, 1, 16);
    EXPECT_FALSE(CanConvertACM(e.wfx(), &pcm8k, cqHigh));
    conv.SetOutput(nullptr);
    conv.SetInput(nullptr);
    pcm.SetInput(nullptr);
}

// A header with a nonsense rate (2 Hz played at 88.2 kHz) must not ask for hundreds of megabytes:
// the chain opens with a source piece small enough for bounded areas and still converts.
TEST(ACMConverterTest, NonsenseRatesKeepTheAreasBounded) {
    const WAVEFORMATEX slow = Plain(WAVE_FORMAT_PCM, 2, 2, 16);
    const WAVEFORMATEX fast = Plain(WAVE_FORMAT_PCM, 88200, 2, 16);
    TAvACMChain chain;
    ASSERT_TRUE(chain.Open(&slow, &fast, cqHigh, 8192)) << chain.LastError();
    EXPECT_GE(chain.SourceSize(), 4);
    EXPECT_LE(chain.SourceSize(), 64);
    EXPECT_LE(chain.OutputCapacity(), 4 << 20);
    const std::vector<int16_t> frames(8, 1000);
    int taken = 0, out = chain.ConvertFrom(frames.data(), 16, false, &taken);
    EXPECT_GT(taken, 0);
    EXPECT_GE(out, 0);
    chain.Close();
}
