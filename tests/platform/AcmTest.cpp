// The audio compression manager: suggestions, decoding streams checked on encoded signals,
// resampling with the end drained, and conversions that are not offered.
#include "platform/api/msacm.h"
#include "tests/platform/AcmSignal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <malloc.h>
#include <vector>

using namespace acmtest;

namespace {

struct Result {
    MMRESULT open = MMSYSERR_ERROR;
    std::vector<uint8_t> out;
    int calls = 0;
};

// Runs data through one stream in source chunks of chunk bytes into a destination buffer of dstCap
// bytes (0: as acmStreamSize says for a chunk), then drains the end; the way a player uses it.
Result ConvertAll(const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                  const std::vector<uint8_t>& data, std::size_t chunk, DWORD dstCap = 0,
                  DWORD openFlags = 0) {
    Result r;
    HACMSTREAM has = nullptr;
    r.open = acmStreamOpen(&has, nullptr, const_cast<LPWAVEFORMATEX>(src),
                           const_cast<LPWAVEFORMATEX>(dst), nullptr, 0, 0, openFlags);
    if (r.open != MMSYSERR_NOERROR) return r;
    if (!dstCap) {
        EXPECT_EQ(acmStreamSize(has, static_cast<DWORD>(chunk), &dstCap, 0), 0u);
    }
    std::vector<BYTE> srcBuf(chunk), dstBuf(dstCap);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = srcBuf.data();
    h.cbSrcLength = static_cast<DWORD>(chunk);
    h.pbDst = dstBuf.data();
    h.cbDstLength = dstCap;
    EXPECT_EQ(acmStreamPrepareHeader(has, &h, 0), 0u);
    std::size_t held = 0, at = 0;
    bool end = false;
    for (int guard = 0; guard < 100000; ++guard) {
        const std::size_t n = std::min(chunk - held, data.size() - at);
        std::memcpy(srcBuf.data() + held, data.data() + at, n);
        at += n;
        held += n;
        end = at == data.size();
        h.cbSrcLength = static_cast<DWORD>(held);
        const DWORD flags = (end ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN) |
                            (r.calls == 0 ? ACM_STREAMCONVERTF_START : 0);
        EXPECT_EQ(acmStreamConvert(has, &h, flags), 0u);
        EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
        ++r.calls;
        r.out.insert(r.out.end(), dstBuf.data(), dstBuf.data() + h.cbDstLengthUsed);
        // Unused source moves to the front, as a converter keeps it for the next call.
        std::memmove(srcBuf.data(), srcBuf.data() + h.cbSrcLengthUsed, held - h.cbSrcLengthUsed);
        held -= h.cbSrcLengthUsed;
        if (end && held == 0 && h.cbDstLengthUsed == 0) break;
    }
    h.cbSrcLength = static_cast<DWORD>(chunk);
    EXPECT_EQ(acmStreamUnprepareHeader(has, &h, 0), 0u);
    EXPECT_EQ(acmStreamClose(has, 0), 0u);
    return r;
}

std::vector<uint8_t> Bytes(const void* p, std::size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    return {b, b + n};
}

std::vector<int16_t> Samples16(const std::vector<uint8_t>& b) {
    std::vector<int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

} // namespace

TEST(AcmTest, VersionAndSuggestions) {
    EXPECT_GT(acmGetVersion(), 0x01FFFFFFu);

    struct Case {
        const char* what;
        WAVEFORMATEX src;
        WAVEFORMATEX dstIn;
        DWORD flags;
        MMRESULT rc;
        WORD channels = 0, bits = 0;
        DWORD rate = 0;
    };
    WAVEFORMATEX mulaw = Plain(WAVE_FORMAT_MULAW, 8000, 1, 8);
    WAVEFORMATEX stereo44 = Plain(WAVE_FORMAT_PCM, 44100, 2, 16);
    WAVEFORMATEX floatAdpcm = Plain(WAVE_FORMAT_IEEE_FLOAT, 22050, 1, 4);
    floatAdpcm.nBlockAlign = 256;
    WAVEFORMATEX damaged = Plain(WAVE_FORMAT_PCM, 8000, 2, 16);
    damaged.nBlockAlign = 3;
    const Case cases[] = {
        {"mu-law decodes to 16-bit PCM as it stands", mulaw, {}, 0, 0, 1, 16, 8000},
        {"a decoder keeps rate and channels", mulaw, stereo44,
         ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC, ACMERR_NOTPOSSIBLE},
        {"the tag alone is kept", mulaw, stereo44, ACM_FORMATSUGGESTF_WFORMATTAG, 0, 1, 16, 8000},
        {"PCM takes any rate and channels", Plain(WAVE_FORMAT_PCM, 8000, 1, 8), stereo44,
         ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC, 0, 2, 8, 44100},
        {"bits as asked", stereo44, Plain(WAVE_FORMAT_PCM, 1, 1, 8),
         ACM_FORMATSUGGESTF_WBITSPERSAMPLE, 0, 2, 8, 44100},
        {"24-bit PCM to 16", Plain(WAVE_FORMAT_PCM, 96000, 2, 24), {}, 0, 0, 2, 16, 96000},
        {"32-bit PCM to 16", Plain(WAVE_FORMAT_PCM, 48000, 1, 32), {}, 0, 0, 1, 16, 48000},
        {"64-bit float to 16", Plain(WAVE_FORMAT_IEEE_FLOAT, 48000, 2, 64), {}, 0, 0, 2, 16, 48000},
        {"4-bit tag 3 is no float", floatAdpcm, {}, 0, ACMERR_NOTPOSSIBLE},
        {"no encoding", stereo44, mulaw, ACM_FORMATSUGGESTF_WFORMATTAG, ACMERR_NOTPOSSIBLE},
        {"3 channels asked", stereo44, Plain(WAVE_FORMAT_PCM, 8000, 3, 16),
         ACM_FORMATSUGGESTF_NCHANNELS, ACMERR_NOTPOSSIBLE},
        {"damaged block align", damaged, {}, 0, ACMERR_NOTPOSSIBLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WAVEFORMATEX dst = c.dstIn;
        EXPECT_EQ(acmFormatSuggest(nullptr, const_cast<LPWAVEFORMATEX>(&c.src), &dst, sizeof dst,
                                   c.flags),
                  c.rc);
        if (c.rc) continue;
        EXPECT_EQ(dst.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(dst.nChannels, c.channels);
        EXPECT_EQ(dst.wBitsPerSample, c.bits);
        EXPECT_EQ(dst.nSamplesPerSec, c.rate);
        EXPECT_EQ(dst.nBlockAlign, c.channels * c.bits / 8);
        EXPECT_EQ(dst.nAvgBytesPerSec, c.rate * dst.nBlockAlign);
        EXPECT_EQ(dst.cbSize, 0);
        // What is suggested opens.
        EXPECT_EQ(acmStreamOpen(nullptr, nullptr, const_cast<LPWAVEFORMATEX>(&c.src), &dst, nullptr,
                                0, 0, ACM_STREAMOPENF_QUERY),
                  0u);
    }

    // Extensible: six channels of float, named by the sub-format, come down to stereo 16-bit.
    WAVEFORMATEXTENSIBLE ext{};
    ext.Format = Plain(WAVE_FORMAT_EXTENSIBLE, 48000, 6, 32);
    ext.Format.cbSize = 22;
    ext.Samples.wValidBitsPerSample = 32;
    ext.dwChannelMask = 0x3F;
    ext.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    WAVEFORMATEX dst{};
    EXPECT_EQ(acmFormatSuggest(nullptr, &ext.Format, &dst, sizeof dst, 0), 0u);
    EXPECT_EQ(dst.nChannels, 2);
    EXPECT_EQ(dst.wBitsPerSample, 16);
    // A compressed sub-format: its block layout follows from the block size.
    WAVEFORMATEXTENSIBLE ima = ext;
    ima.Format = Plain(WAVE_FORMAT_EXTENSIBLE, 22050, 2, 4);
    ima.Format.nBlockAlign = 2048;
    ima.Format.cbSize = 22;
    ima.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    ima.SubFormat = WaveSubFormat(WAVE_FORMAT_IMA_ADPCM);
    EXPECT_EQ(acmFormatSuggest(nullptr, &ima.Format, &dst, sizeof dst, 0), 0u);
    EXPECT_EQ(dst.nSamplesPerSec, 22050u);
    ext.SubFormat.Data4[7] ^= 1; // not one of the platform's sub-formats
    EXPECT_EQ(acmFormatSuggest(nullptr, &ext.Format, &dst, sizeof dst, 0), ACMERR_NOTPOSSIBLE);

    // Argument checks.
    EXPECT_EQ(acmFormatSuggest(nullptr, &stereo44, &dst, 15, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmFormatSuggest(nullptr, &stereo44, &dst, sizeof dst, 1), MMSYSERR_INVALFLAG);
}

// A file decoded as it is keeps its channels: six channels of float (5.1) and four of 24-bit PCM
// in a quad layout (not the library's default for four) become 16-bit PCM of as many channels,
// each channel its own, nothing mixed; other counts above two are not offered.
TEST(AcmTest, ManyChannelsStayAsTheyAre) {
    const int rate = 48000, frames = 2000;
    WAVEFORMATEXTENSIBLE six{};
    six.Format = Plain(WAVE_FORMAT_EXTENSIBLE, rate, 6, 32);
    six.Format.cbSize = 22;
    six.Samples.wValidBitsPerSample = 32;
    six.dwChannelMask = 0x3F;
    six.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    std::vector<float> f(std::size_t(frames) * 6);
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = float(i % 6 + 1) / 8 * (i / 6 % 2 ? 1 : -1);
    const WAVEFORMATEX six16 = Plain(WAVE_FORMAT_PCM, rate, 6, 16);
    Result r = ConvertAll(&six.Format, &six16, Bytes(f.data(), f.size() * 4), 6000);
    ASSERT_EQ(r.open, 0u);
    auto out = Samples16(r.out);
    ASSERT_EQ(out.size(), f.size());
    for (std::size_t i = 0; i < f.size(); ++i)
        ASSERT_EQ(out[i], std::lrintf(f[i] * 32768)) << "sample " << i;

    WAVEFORMATEXTENSIBLE quad{};
    quad.Format = Plain(WAVE_FORMAT_EXTENSIBLE, rate, 4, 24);
    quad.Format.cbSize = 22;
    quad.Samples.wValidBitsPerSample = 24;
    quad.dwChannelMask =
        SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    quad.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    std::vector<uint8_t> q;
    std::vector<int16_t> expected;
    for (int i = 0; i < frames * 4; ++i) {
        const auto v = int16_t((i % 4 + 1) * 3000 * (i / 4 % 2 ? 1 : -1));
        q.push_back(0x11);
        q.push_back(uint8_t(v & 0xFF));
        q.push_back(uint8_t(uint16_t(v) >> 8));
        expected.push_back(v);
    }
    const WAVEFORMATEX quad16 = Plain(WAVE_FORMAT_PCM, rate, 4, 16);
    r = ConvertAll(&quad.Format, &quad16, q, 3000);
    ASSERT_EQ(r.open, 0u);
    EXPECT_EQ(Samples16(r.out), expected);

    const WAVEFORMATEX three = Plain(WAVE_FORMAT_PCM, rate, 3, 16);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &six.Format, const_cast<LPWAVEFORMATEX>(&three),
                            nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              ACMERR_NOTPOSSIBLE);
}

// Every decoder, on a tone encoded by libavcodec's own encoder: the tone's frequency and level
// come out, over stream calls of awkward sizes.
TEST(AcmTest, DecodersKeepTheTone) {
    struct Case {
        const char* encoder;
        WORD tag;
        int rate, channels, bitRate;
        double tolerance; // of the level
    };
    const Case cases[] = {
        {"adpcm_ms", WAVE_FORMAT_ADPCM, 22050, 2, 0, 0.05},
        {"adpcm_ms", WAVE_FORMAT_ADPCM, 11025, 1, 0, 0.05},
        {"adpcm_ima_wav", WAVE_FORMAT_IMA_ADPCM, 22050, 2, 0, 0.05},
        {"pcm_alaw", WAVE_FORMAT_ALAW, 8000, 1, 0, 0.03},
        {"pcm_mulaw", WAVE_FORMAT_MULAW, 8000, 2, 0, 0.03},
        {"libgsm_ms", WAVE_FORMAT_GSM610, 8000, 1, 0, 0.25},
        {"libmp3lame", WAVE_FORMAT_MPEGLAYER3, 44100, 2, 128000, 0.05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoder + std::string(" ") + std::to_string(c.channels) + " ch");
        const int frames = c.rate; // one second
        const double freq = c.rate == 8000 ? 440.0 : 1000.0;
        const auto pcm = Sine(c.rate, c.channels, freq, 0.5, frames, true);
        Encoded e = Encode(c.encoder, c.tag, c.rate, c.channels, pcm, c.bitRate);
        ASSERT_FALSE(e.data.empty());
        WAVEFORMATEX dst{};
        ASSERT_EQ(acmFormatSuggest(nullptr, e.wfx(), &dst, sizeof dst, 0), 0u);
        // Source chunks that are no multiple of any block, a destination smaller than one block.
        const Result r = ConvertAll(e.wfx(), &dst, e.data, 1000 + e.wfx()->nBlockAlign, 777);
        ASSERT_EQ(r.open, 0u);
        const auto out = Samples16(r.out);
        const std::size_t gotFrames = out.size() / c.channels;
        EXPECT_GE(gotFrames, static_cast<std::size_t>(frames));
        EXPECT_LE(gotFrames, static_cast<std::size_t>(frames) + 4096);
        for (int ch = 0; ch < c.channels; ++ch) {
            const Tone t = Measure(Channel(out, c.channels, ch), c.rate);
            const double level = ch == 1 ? 0.25 : 0.5;
            EXPECT_NEAR(t.frequency, freq, freq * 0.01) << "channel " << ch;
            EXPECT_NEAR(t.amplitude, level, level * c.tolerance + 0.01) << "channel " << ch;
        }
    }
}

// PCM-like sources by formula (float 32 and 64, 24-bit, extensible) and every PCM change in one
// stream: 44.1 kHz stereo to 48 kHz mono 8-bit, with the resampler's tail drained at the end.
TEST(AcmTest, PcmConversionsAndEndDraining) {
    const int rate = 44100, frames = 44100;
    // 32- and 64-bit float and 24-bit integer stereo, a 1 kHz tone at 0.5 (right at 0.25).
    struct Src {
        WAVEFORMATEX wf;
        std::vector<uint8_t> data;
    };
    std::vector<Src> srcs;
    for (int kind = 0; kind < 3; ++kind) {
        Src s;
        const int bits = kind == 0 ? 32 : kind == 1 ? 64 : 24;
        s.wf = Plain(kind == 2 ? WAVE_FORMAT_PCM : WAVE_FORMAT_IEEE_FLOAT, rate, 2, bits);
        for (int i = 0; i < frames; ++i) {
            for (int c = 0; c < 2; ++c) {
                const double v =
                    (c ? 0.25 : 0.5) * std::sin(2 * std::numbers::pi * 1000 * i / rate);
                if (kind == 0) {
                    const float f = static_cast<float>(v);
                    auto b = Bytes(&f, 4);
                    s.data.insert(s.data.end(), b.begin(), b.end());
                } else if (kind == 1) {
                    auto b = Bytes(&v, 8);
                    s.data.insert(s.data.end(), b.begin(), b.end());
                } else {
                    const int32_t x = static_cast<int32_t>(std::lround(v * 8388607));
                    s.data.push_back(static_cast<uint8_t>(x));
                    s.data.push_back(static_cast<uint8_t>(x >> 8));
                    s.data.push_back(static_cast<uint8_t>(x >> 16));
                }
            }
        }
        srcs.push_back(s);
    }
    for (const Src& s : srcs) {
        SCOPED_TRACE(std::to_string(s.wf.wFormatTag) + "/" + std::to_string(s.wf.wBitsPerSample));
        const WAVEFORMATEX dst = Plain(WAVE_FORMAT_PCM, rate, 2, 16);
        const Result r = ConvertAll(&s.wf, &dst, s.data, 4096);
        ASSERT_EQ(r.open, 0u);
        const auto out = Samples16(r.out);
        ASSERT_EQ(out.size(), static_cast<std::size_t>(frames) * 2);
        EXPECT_NEAR(Measure(Channel(out, 2, 0), rate).amplitude, 0.5, 0.005);
        EXPECT_NEAR(Measure(Channel(out, 2, 1), rate).amplitude, 0.25, 0.005);
    }

    // The same float data as an extensible record.
    WAVEFORMATEXTENSIBLE ext{};
    ext.Format = srcs[0].wf;
    ext.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    ext.Format.cbSize = 22;
    ext.Samples.wValidBitsPerSample = 32;
    ext.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    ext.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    {
        const WAVEFORMATEX dst = Plain(WAVE_FORMAT_PCM, rate, 2, 16);
        const Result r = ConvertAll(&ext.Format, &dst, srcs[0].data, 4096);
        ASSERT_EQ(r.open, 0u);
        EXPECT_NEAR(Measure(Channel(Samples16(r.out), 2, 1), rate).amplitude, 0.25, 0.005);
    }

    // Resampling, mixing down and 8 bits in one stream; the high-quality filter too.
    const auto pcm = Sine(rate, 2, 1000, 0.5, frames);
    const auto bytes = Bytes(pcm.data(), pcm.size() * 2);
    const WAVEFORMATEX src = Plain(WAVE_FORMAT_PCM, rate, 2, 16);
    const WAVEFORMATEX dst = Plain(WAVE_FORMAT_PCM, 48000, 1, 8);
    for (DWORD flags : {0u, ACM_STREAMOPENF_NONREALTIME}) {
        SCOPED_TRACE(flags);
        const Result r = ConvertAll(&src, &dst, bytes, 4000, 0, flags);
        ASSERT_EQ(r.open, 0u);
        // Every input frame comes out, the filter's tail included: 48000 frames, give or take one.
        EXPECT_NEAR(static_cast<double>(r.out.size()), 48000.0, 1.0);
        const Tone t = Measure(Channel8(r.out, 1, 0), 48000);
        EXPECT_NEAR(t.frequency, 1000, 5);
        EXPECT_NEAR(t.amplitude, 0.5, 0.02);
    }

    // Without the end flag the resampler holds its tail back; repeated end calls hand it out, then
    // answer nothing.
    HACMSTREAM has = nullptr;
    ASSERT_EQ(acmStreamOpen(&has, nullptr, const_cast<LPWAVEFORMATEX>(&src),
                            const_cast<LPWAVEFORMATEX>(&dst), nullptr, 0, 0, 0),
              0u);
    std::vector<BYTE> in(bytes.begin(), bytes.begin() + 4410 * 4), out(100000);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = in.data();
    h.cbSrcLength = static_cast<DWORD>(in.size());
    h.pbDst = out.data();
    h.cbDstLength = static_cast<DWORD>(out.size());
    ASSERT_EQ(acmStreamConvert(has, &h, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(has, &h, 0), 0u);
    ASSERT_EQ(acmStreamConvert(has, &h, ACM_STREAMCONVERTF_START), 0u);
    EXPECT_EQ(h.cbSrcLengthUsed, in.size());
    const DWORD before = h.cbDstLengthUsed;
    EXPECT_LT(before, 4800u);
    h.cbSrcLength = 0;
    h.cbDstLength = 3; // the tail comes out in small pieces
    DWORD tail = 0;
    int calls = 0;
    do {
        ASSERT_EQ(acmStreamConvert(has, &h, ACM_STREAMCONVERTF_END), 0u);
        tail += h.cbDstLengthUsed;
    } while (h.cbDstLengthUsed && ++calls < 1000);
    EXPECT_EQ(before + tail, 4800u);
    // After a reset the stream starts afresh with the same output.
    ASSERT_EQ(acmStreamReset(has, 0), 0u);
    h.cbSrcLength = static_cast<DWORD>(in.size());
    h.cbDstLength = static_cast<DWORD>(out.size());
    ASSERT_EQ(acmStreamConvert(has, &h, 0), 0u);
    EXPECT_EQ(h.cbDstLengthUsed, before);
    h.cbSrcLength = static_cast<DWORD>(in.size()) + 1; // longer than prepared
    EXPECT_EQ(acmStreamConvert(has, &h, 0), MMSYSERR_INVALPARAM);
    h.cbSrcLength = static_cast<DWORD>(in.size());
    ASSERT_EQ(acmStreamUnprepareHeader(has, &h, 0), 0u);
    ASSERT_EQ(acmStreamClose(has, 0), 0u);
    EXPECT_EQ(acmStreamReset(has, 0), MMSYSERR_INVALHANDLE);
}

TEST(AcmTest, ConversionsNotOffered) {
    WAVEFORMATEX pcm = Plain(WAVE_FORMAT_PCM, 8000, 1, 16);
    WAVEFORMATEX mulaw = Plain(WAVE_FORMAT_MULAW, 8000, 1, 8);
    WAVEFORMATEX pcm44 = Plain(WAVE_FORMAT_PCM, 44100, 2, 16);
    WAVEFORMATEX badAvg = pcm44;
    badAvg.nAvgBytesPerSec = 1;
    HACMSTREAM has = reinterpret_cast<HACMSTREAM>(1);
    struct Case {
        const char* what;
        WAVEFORMATEX* src;
        WAVEFORMATEX* dst;
    } cases[] = {
        {"encoding", &pcm, &mulaw},
        {"a decoder changing the rate", &mulaw, &pcm44},
        {"an inconsistent destination", &pcm, &badAvg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(
            acmStreamOpen(nullptr, nullptr, c.src, c.dst, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
        EXPECT_EQ(acmStreamOpen(&has, nullptr, c.src, c.dst, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
        EXPECT_EQ(has, nullptr);
    }
    // Microsoft ADPCM whose coefficient table is not the standard one.
    const auto tone = Sine(8000, 1, 440, 0.5, 4000);
    Encoded e = Encode("adpcm_ms", WAVE_FORMAT_ADPCM, 8000, 1, tone);
    ASSERT_GT(e.format.size(), sizeof(ADPCMWAVEFORMAT));
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, e.wfx(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              0u);
    reinterpret_cast<ADPCMWAVEFORMAT*>(e.format.data())->aCoef[3].iCoef1 = 100;
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, e.wfx(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              ACMERR_NOTPOSSIBLE);
    // Asynchronous streams and filters are not offered either.
    EXPECT_EQ(acmStreamOpen(&has, nullptr, &pcm, &pcm44, nullptr, 0, 0, ACM_STREAMOPENF_ASYNC),
              ACMERR_NOTPOSSIBLE);
    WAVEFILTER filter{};
    filter.cbStruct = sizeof filter;
    EXPECT_EQ(acmStreamOpen(&has, nullptr, &pcm, &pcm44, &filter, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmStreamClose(reinterpret_cast<HACMSTREAM>(0x1234), 0), MMSYSERR_INVALHANDLE);
}

// From 1.5 MHz down to 1 kHz the resampler's filter would stretch to hundreds of megabytes: the
// stream takes a smaller one and still converts (a 100 Hz tone comes out whole).
TEST(AcmTest, ExtremeDownsamplingKeepsTheFilterSmall) {
    const int rate = 1535999, frames = rate / 10; // no simple ratio to 1 kHz
    const WAVEFORMATEX src = Plain(WAVE_FORMAT_PCM, rate, 1, 16);
    const WAVEFORMATEX dst = Plain(WAVE_FORMAT_PCM, 1000, 1, 16);
    const std::vector<int16_t> tone = Sine(rate, 1, 100, 0.5, frames);
    const struct mallinfo2 before = mallinfo2();
    HACMSTREAM has = nullptr;
    ASSERT_EQ(acmStreamOpen(&has, nullptr, const_cast<LPWAVEFORMATEX>(&src),
                            const_cast<LPWAVEFORMATEX>(&dst), nullptr, 0, 0,
                            ACM_STREAMOPENF_NONREALTIME),
              0u);
    const struct mallinfo2 after = mallinfo2();
    EXPECT_LT(after.uordblks + after.hblkhd, before.uordblks + before.hblkhd + (64u << 20));
    acmStreamClose(has, 0);
    const Result r = ConvertAll(&src, &dst, Bytes(tone.data(), tone.size() * 2), 65536, 0,
                                ACM_STREAMOPENF_NONREALTIME);
    ASSERT_EQ(r.open, 0u);
    const auto out = Samples16(r.out);
    EXPECT_NEAR(static_cast<double>(out.size()), 100.0, 3.0);
    EXPECT_NEAR(Measure(Channel(out, 1, 0), 1000).amplitude, 0.5, 0.05);
}
