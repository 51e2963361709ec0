// Our ADPCM decoders: Microsoft ADPCM against libavcodec sample by sample, the IMA-style decoders
// on known table rows and on streams written in their documented nibble layouts.
#include "audio/stream/AvADCvt.h"
#include "audio/stream/LavcAdpcm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<std::int16_t> DecodeOurs(const lavc::TEncoded& enc, int srcBytes) {
    TAvMsAdpcmLayout layout;
    EXPECT_TRUE(ReadMsAdpcmLayout(enc.Fmt(), layout));
    const int blocks = (srcBytes + layout.BlockAlign - 1) / layout.BlockAlign;
    std::vector<std::int16_t> out(static_cast<size_t>(blocks) * layout.SamplesPerBlock *
                                  layout.Channels);
    const int bytes = DecodeMsAdpcm(layout, enc.Data.data(), srcBytes,
                                    reinterpret_cast<std::uint8_t*>(out.data()), b16Bit);
    out.resize(static_cast<size_t>(bytes) / 2);
    return out;
}

} // namespace

TEST(AvADCvtDecoder, MsAdpcmMatchesLibavcodecSampleBySample) {
    for (int channels : {1, 2}) {
        for (int blockSize : {256, 512, 1024, 2048}) {
            SCOPED_TRACE(testing::Message() << channels << " channels, blocks of " << blockSize);
            const auto pcm = lavc::TestSignal(channels, 30000);
            const auto enc = lavc::EncodeMs(pcm, channels, 44100, blockSize);
            ASSERT_EQ(enc.Fmt()->nBlockAlign, blockSize);
            TAvMsAdpcmLayout layout;
            ASSERT_TRUE(ReadMsAdpcmLayout(enc.Fmt(), layout));
            EXPECT_EQ(layout.SamplesPerBlock, enc.SamplesPerBlock);

            // libavcodec's encoder always picks predictor 0; blocks rewritten to use all seven
            // (a different stream, still valid) exercise every coefficient pair and rounding.
            auto mixed = enc;
            for (size_t b = 0; b < mixed.Data.size() / blockSize; ++b)
                for (int c = 0; c < channels; ++c)
                    mixed.Data[b * blockSize + c] = static_cast<std::uint8_t>((b + 3 * c) % 7);
            for (const lavc::TEncoded* e : {&enc, const_cast<const lavc::TEncoded*>(&mixed)}) {
                lavc::TMsDecoder ref(*e);
                const auto expected = ref.DecodeAll(*e);
                const auto ours = DecodeOurs(*e, static_cast<int>(e->Data.size()));
                ASSERT_EQ(ours.size(), expected.size());
                for (size_t i = 0; i < ours.size(); ++i)
                    ASSERT_EQ(ours[i], expected[i]) << "sample " << i;
            }
            const auto ours = DecodeOurs(enc, static_cast<int>(enc.Data.size()));
            // And the coding is the real thing: the decoded signal follows the original.
            double err = 0, sig = 0;
            for (size_t i = 0; i < pcm.size() * 3 / 4; ++i) {
                err += std::pow(double(ours[i]) - pcm[i], 2);
                sig += std::pow(double(pcm[i]), 2);
            }
            EXPECT_GT(10 * std::log10(sig / err), 15.0);
        }
    }
}

TEST(AvADCvtDecoder, MsAdpcmShortLastBlockDamagedBlockAndEightBits) {
    const auto pcm = lavc::TestSignal(2, 5000);
    auto enc = lavc::EncodeMs(pcm, 2, 22050, 512);
    TAvMsAdpcmLayout layout;
    ASSERT_TRUE(ReadMsAdpcmLayout(enc.Fmt(), layout));
    const auto whole = DecodeOurs(enc, static_cast<int>(enc.Data.size()));

    // A last block cut short decodes the frames it holds: 2 header frames + one per byte.
    const int cut = 2 * 512 + 14 + 100;
    const auto shortened = DecodeOurs(enc, cut);
    ASSERT_EQ(shortened.size(),
              static_cast<size_t>(2 * layout.SamplesPerBlock * 2 + (2 + 100) * 2));
    EXPECT_TRUE(std::equal(shortened.begin(), shortened.end(), whole.begin()));
    // Too short for the headers: nothing from that block.
    EXPECT_EQ(DecodeOurs(enc, 2 * 512 + 13).size(),
              static_cast<size_t>(2 * layout.SamplesPerBlock * 2));

    // 8 bits: the 16-bit value / 256 (toward zero) + 128.
    std::vector<std::uint8_t> eight(whole.size());
    ASSERT_EQ(DecodeMsAdpcm(layout, enc.Data.data(), static_cast<int>(enc.Data.size()),
                            eight.data(), b8Bit),
              static_cast<int>(whole.size()));
    for (size_t i = 0; i < whole.size(); ++i)
        ASSERT_EQ(eight[i], static_cast<std::uint8_t>(whole[i] / 256 + 128)) << i;

    // A damaged block (predictor index 7 or more) decodes to silence; the next blocks survive.
    enc.Data[3 * 512 + 1] = 7;
    const auto damaged = DecodeOurs(enc, static_cast<int>(enc.Data.size()));
    ASSERT_EQ(damaged.size(), whole.size());
    const auto block3 = damaged.begin() + 3 * layout.SamplesPerBlock * 2;
    EXPECT_TRUE(std::equal(damaged.begin(), block3, whole.begin()));
    EXPECT_TRUE(std::all_of(block3, block3 + layout.SamplesPerBlock * 2,
                            [](std::int16_t v) { return v == 0; }));
    EXPECT_TRUE(std::equal(block3 + layout.SamplesPerBlock * 2, damaged.end(),
                           whole.begin() + 4 * layout.SamplesPerBlock * 2));
}

TEST(AvADCvtDecoder, MsAdpcmFormatRecordChecks) {
    const auto enc = lavc::EncodeMs(lavc::TestSignal(1, 2000), 1, 8000, 256);
    TAvMsAdpcmLayout layout;
    ASSERT_TRUE(ReadMsAdpcmLayout(enc.Fmt(), layout));
    EXPECT_EQ(layout.SamplesPerBlock, 2 + (256 - 7) * 2);

    auto changed = [&](auto edit) {
        auto f = enc.Format;
        edit(reinterpret_cast<WAVEFORMATEX*>(f.data()), f.data() + sizeof(WAVEFORMATEX));
        TAvMsAdpcmLayout l;
        const bool ok = ReadMsAdpcmLayout(reinterpret_cast<WAVEFORMATEX*>(f.data()), l);
        return std::make_pair(ok, l);
    };
    // Any other coefficient table, count or channel layout is refused.
    EXPECT_FALSE(changed([](WAVEFORMATEX*, std::uint8_t* x) { x[4 + 4 * 5] ^= 1; }).first);
    EXPECT_FALSE(changed([](WAVEFORMATEX*, std::uint8_t* x) { x[2] = 8; }).first);
    EXPECT_FALSE(changed([](WAVEFORMATEX* f, std::uint8_t*) { f->cbSize = 20; }).first);
    EXPECT_FALSE(changed([](WAVEFORMATEX* f, std::uint8_t*) { f->nChannels = 3; }).first);
    EXPECT_FALSE(changed([](WAVEFORMATEX* f, std::uint8_t*) { f->nBlockAlign = 6; }).first);
    // A samples-per-block value beyond the block is cut to what the block holds.
    auto big = changed([](WAVEFORMATEX*, std::uint8_t* x) { x[0] = 0xFF, x[1] = 0x7F; });
    EXPECT_TRUE(big.first);
    EXPECT_EQ(big.second.SamplesPerBlock, 2 + (256 - 7) * 2);
}

TEST(AvADCvtDecoder, DifferenceTablesKnownRows) {
    using Row = std::array<std::int16_t, 8>;
    EXPECT_EQ(ImaStepTable[0], 7);
    EXPECT_EQ(ImaStepTable[44], 494);
    EXPECT_EQ(ImaStepTable[88], 32767);
    EXPECT_EQ(ImaDifferenceTableA()[0], (Row{0, 2, 4, 6, 8, 10, 12, 13}));
    EXPECT_EQ(ImaDifferenceTableB()[0], (Row{0, 2, 4, 6, 7, 9, 11, 13}));
    EXPECT_EQ(ImaDifferenceTableA()[44], (Row{61, 185, 309, 432, 556, 680, 803, 927}));
    EXPECT_EQ(ImaDifferenceTableB()[44], (Row{61, 185, 308, 432, 555, 679, 802, 926}));
    EXPECT_EQ(ImaDifferenceTableB()[88],
              (Row{4095, 12287, 20479, 28671, 32767, 32767, 32767, 32767}));
    for (const auto* t : {&ImaDifferenceTableA(), &ImaDifferenceTableB()})
        for (int i = 1; i < ImaStepCount; ++i)
            for (int m = 0; m < 8; ++m) {
                ASSERT_GE((*t)[i][m], (*t)[i - 1][m]); // grows with the step
                if (m) {
                    ASSERT_GE((*t)[i][m], (*t)[i][m - 1]);
                }
            }
}

namespace {

// A greedy encoder written from the documented layouts: per sample the code whose decoded value
// lies nearest the target. Decoding its output must follow the signal; a decoder that takes the
// nibbles, channels or byte pairs in another order falls apart.
struct TTestEncoder {
    WORD Tag;
    int Channels;
    TAvImaState State{};

    int Code(int c, int target) {
        const auto& t = Tag == 0x0003 ? ImaDifferenceTableA() : ImaDifferenceTableB();
        int best = 0, bestErr = INT32_MAX, bestValue = 0;
        for (int code = 0; code < 16; ++code) {
            const int d = t[State[c].StepIndex][code & 7];
            int v = code & 8 ? State[c].Predictor - d : State[c].Predictor + d;
            v = Tag == 0x0003 ? static_cast<std::int16_t>(v) : std::clamp(v, -32768, 32767);
            if (std::abs(v - target) < bestErr)
                bestErr = std::abs(v - target), best = code, bestValue = v;
        }
        static constexpr int adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
        State[c].Predictor = static_cast<std::int16_t>(bestValue);
        State[c].StepIndex =
            static_cast<std::int16_t>(std::clamp(State[c].StepIndex + adjust[best & 7], 0, 88));
        return best;
    }

    std::vector<std::uint8_t> Encode(const std::vector<std::int16_t>& pcm) {
        std::vector<std::uint8_t> out;
        for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
            if (Channels == 1) {
                const int first = Code(0, pcm[i]), second = Code(0, pcm[i + 1]);
                out.push_back(static_cast<std::uint8_t>(first << 4 | second));
            } else {
                const int l = Code(0, pcm[i]), r = Code(1, pcm[i + 1]);
                out.push_back(static_cast<std::uint8_t>(Tag == 0x0003 ? r << 4 | l : l << 4 | r));
            }
        }
        if (Tag != 0x0003 && Channels == 2)
            for (size_t i = 0; i + 1 < out.size(); i += 2)
                std::swap(out[i], out[i + 1]);
        return out;
    }
};

} // namespace

TEST(AvADCvtDecoder, ImaStyleDecodersFollowTheirLayouts) {
    for (WORD tag : {WORD(0x0003), WORD(0x0033), WORD(0x0206)}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "tag " << tag << ", " << channels << " channels");
            const auto pcm = lavc::TestSignal(channels, 8000, 22050);
            TTestEncoder enc{tag, channels};
            const auto data = enc.Encode(pcm);
            // Decode in uneven pieces, carrying the state (an odd byte of a pair waits).
            TAvImaState st{};
            std::vector<std::int16_t> out(data.size() * 2);
            int written = 0, at = 0;
            for (int piece : {1, 2, 333, 1000, 7, 100000}) {
                const int n = std::min(piece, static_cast<int>(data.size()) - at);
                const int use = ImaStyleUsableBytes(tag, channels, n);
                written +=
                    DecodeImaStyle(tag, channels, st, data.data() + at, n, out.data() + written);
                at += use;
            }
            ASSERT_EQ(at, static_cast<int>(data.size()));
            ASSERT_EQ(written, static_cast<int>(data.size() * 2));
            double err = 0, sig = 0;
            for (size_t i = 0; i < pcm.size() * 3 / 4; ++i) {
                err += std::pow(double(out[i]) - pcm[i], 2);
                sig += std::pow(double(pcm[i]), 2);
            }
            EXPECT_GT(10 * std::log10(sig / err), 12.0);
            EXPECT_EQ(st[0].Predictor, enc.State[0].Predictor);
        }
    }
}

TEST(AvADCvtDecoder, ImaStylePredictorWrapsForTag3AndSaturatesOtherwise) {
    // Code 7 again and again: the predictor climbs past the 16-bit range.
    const std::vector<std::uint8_t> up(40, 0x77);
    std::vector<std::int16_t> out(80);
    TAvImaState a{};
    DecodeImaStyle(0x0003, 1, a, up.data(), 40, out.data());
    EXPECT_TRUE(std::any_of(out.begin() + 1, out.end(), [](std::int16_t v) { return v < 0; }));
    TAvImaState b{};
    DecodeImaStyle(0x0033, 1, b, up.data(), 40, out.data());
    EXPECT_EQ(out.back(), 32767);
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
    EXPECT_EQ(b[0].StepIndex, 88);
    // First codes by hand: 7 at index 0 adds 13 and moves to index 8 (step 16); 7 adds 30.
    EXPECT_EQ(out[0], 13);
    EXPECT_EQ(out[1], 13 + 30);
}

TEST(AvADCvtDecoder, FormatTag3IsAdpcmOnlyWithFourBits) {
    WAVEFORMATEX f{};
    f.wFormatTag = 0x0003;
    f.nChannels = 2;
    f.wBitsPerSample = 4;
    EXPECT_TRUE(IsImaStyleFormat(&f));
    for (WORD bits : {WORD(32), WORD(64), WORD(16), WORD(0)}) {
        f.wBitsPerSample = bits;
        EXPECT_FALSE(IsImaStyleFormat(&f)) << bits;
    }
    f.wFormatTag = 0x0206;
    EXPECT_TRUE(IsImaStyleFormat(&f));
    f.nChannels = 3;
    EXPECT_FALSE(IsImaStyleFormat(&f));
}
