// The ADPCM converter in a chain: formats it derives and passes on, decoding in whatever pieces
// the source delivers and the sink asks for, pass-through of what it does not decode (IEEE float
// under tag 3 among them), and looping, flushing and stopping.
#include "audio/stream/AvADCvt.h"
#include "audio/stream/LavcAdpcm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A source like the wave file: hands out at most Chunk bytes per pull; at the end it wraps to
// the start when the sink loops (HasLooped on that buffer), else it reports no more buffers.
class TSource : public TAvDSPComponent {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
public:
    using TAvDSPComponent::TAvDSPComponent;
    Bytes Data;
    size_t Pos = 0;
    size_t Chunk = 1 << 30;
    void SetFormat(const Bytes& f) {
        SetPWaveFormat(reinterpret_cast<const WAVEFORMATEX*>(f.data()));
    }
    void BufferLoad(TAvWaveHdr* h, bool& more) override {
        const size_t n = std::min({size_t(h->dwBufferLength), Chunk, Data.size() - Pos});
        std::memcpy(h->lpData, Data.data() + Pos, n);
        Pos += n;
        h->dwBytesRecorded = static_cast<DWORD>(n);
        if (Pos < Data.size()) {
            more = true;
        } else if (n > 0 && h->LoopEnabled) {
            Pos = 0;
            h->HasLooped = -1;
            more = true;
        }
    }
};

Bytes FormatBytes(const WAVEFORMATEX& f) {
    Bytes b(sizeof f);
    std::memcpy(b.data(), &f, sizeof f);
    return b;
}

Bytes Pcm16(int channels, int rate) {
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, 16, static_cast<WORD>(channels), static_cast<DWORD>(rate));
    return FormatBytes(f);
}

Bytes ImaFormat(WORD tag, int channels, WORD bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = 22050;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(bits == 4 ? channels : channels * bits / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    return FormatBytes(f);
}

Bytes Noise(size_t n, unsigned seed) {
    Bytes b(n);
    std::mt19937 rng(seed);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

struct TChain {
    std::unique_ptr<TAvComponent> Owner = std::make_unique<TAvComponent>(nullptr);
    TSource* Source = new TSource(Owner.get());
    TAvADPCMConverter* Conv = new TAvADPCMConverter(Owner.get());
    std::vector<std::uint8_t> Block;
    TAvWaveHdr* Hdr = nullptr;
    std::vector<size_t> LoopedAt; // output offsets of buffers that ended a pass

    TChain(const Bytes& format, Bytes data) {
        Source->Data = std::move(data);
        Source->SetFormat(format);
        Conv->SetInput(Source);
    }
    void Start() {
        Conv->Opened();
        Conv->Started();
    }
    // Pulls buffers of cap bytes until the converter reports no more or limit bytes came.
    Bytes Drain(int cap, size_t limit = SIZE_MAX, bool loop = false) {
        Block.assign(AvWaveHdrSize + cap, 0);
        Hdr = AvInitWaveHdr(Block.data(), cap);
        Bytes out;
        for (int guard = 0; guard < 100000 && out.size() < limit; ++guard) {
            Hdr->dwBufferLength = static_cast<DWORD>(cap);
            Hdr->dwBytesRecorded = 0;
            Hdr->LoopEnabled = loop ? -1 : 0;
            Hdr->HasLooped = 0;
            bool more = false;
            Conv->BufferLoad(Hdr, more);
            EXPECT_LE(Hdr->dwBytesRecorded, static_cast<DWORD>(cap));
            out.insert(out.end(), Block.begin() + AvWaveHdrSize,
                       Block.begin() + AvWaveHdrSize + Hdr->dwBytesRecorded);
            if (Hdr->HasLooped) LoopedAt.push_back(out.size());
            if (!more) break;
        }
        return out;
    }
};

Bytes DecodeWhole(const lavc::TEncoded& enc, TAvBits bits) {
    TAvMsAdpcmLayout l;
    EXPECT_TRUE(ReadMsAdpcmLayout(enc.Fmt(), l));
    Bytes out((enc.Data.size() / l.BlockAlign + 1) * l.SamplesPerBlock * l.Channels * 2);
    out.resize(static_cast<size_t>(
        DecodeMsAdpcm(l, enc.Data.data(), static_cast<int>(enc.Data.size()), out.data(), bits)));
    return out;
}

} // namespace

TEST(AvADCvt, PcmPassesThroughWithItsFormat) {
    const auto fmt = Pcm16(2, 44100);
    const auto data = Noise(10000, 1);
    TChain c(fmt, data);
    EXPECT_EQ(std::memcmp(c.Conv->PWaveFormat(), fmt.data(), fmt.size()), 0);
    EXPECT_FALSE(c.Conv->ConversionNeeded());
    EXPECT_TRUE(c.Conv->CanConvert());
    c.Start();
    EXPECT_EQ(c.Drain(2048), data);
}

TEST(AvADCvt, MsAdpcmDecodesInWhateverPiecesArrive) {
    struct Case {
        int channels, block;
        size_t chunk;
        int cap;
    };
    for (const Case& k : {Case{1, 256, 1 << 30, 2048}, Case{2, 1024, 1000, 2048},
                          Case{2, 512, 77, 333}, Case{1, 8192, 3000, 4096}}) {
        SCOPED_TRACE(testing::Message() << k.channels << " ch, block " << k.block << ", chunk "
                                        << k.chunk << ", cap " << k.cap);
        const auto enc =
            lavc::EncodeMs(lavc::TestSignal(k.channels, 40000), k.channels, 22050, k.block);
        // A last block cut short, as in files whose writer stopped mid-block.
        Bytes data(enc.Data.begin(), enc.Data.end() - k.block / 3);
        TChain c(enc.Format, data);
        ASSERT_TRUE(c.Conv->CanConvert());
        ASSERT_TRUE(c.Conv->ConversionPossible());
        const WAVEFORMATEX* out = c.Conv->PWaveFormat();
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(IsValidPcmFormat(out));
        EXPECT_EQ(out->wBitsPerSample, 16);
        EXPECT_EQ(out->nChannels, k.channels);
        EXPECT_EQ(out->nSamplesPerSec, 22050u);
        c.Source->Chunk = k.chunk;
        c.Start();
        auto trimmed = enc;
        trimmed.Data = data;
        EXPECT_EQ(c.Drain(k.cap), DecodeWhole(trimmed, b16Bit));
    }
    // 8 bits, set as the converter's BitLength.
    const auto enc = lavc::EncodeMs(lavc::TestSignal(2, 10000), 2, 8000, 256);
    TChain c(enc.Format, enc.Data);
    c.Conv->SetBitLength(b8Bit);
    EXPECT_EQ(c.Conv->PWaveFormat()->wBitsPerSample, 8);
    c.Start();
    EXPECT_EQ(c.Drain(1000), DecodeWhole(enc, b8Bit));
}

TEST(AvADCvt, ImaStyleDecodesAndFloatUnderTag3PassesUnchanged) {
    // Tag 3 with 4 bits per sample is ADPCM: decoded as DecodeImaStyle does, also in odd pieces.
    const auto data = Noise(9001, 2);
    TChain ima(ImaFormat(0x0003, 2, 4), data);
    EXPECT_TRUE(ima.Conv->CanConvert());
    EXPECT_EQ(ima.Conv->PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(ima.Conv->PWaveFormat()->nChannels, 2);
    ima.Source->Chunk = 999;
    ima.Start();
    TAvImaState st{};
    std::vector<std::int16_t> expect(data.size() * 2);
    DecodeImaStyle(0x0003, 2, st, data.data(), static_cast<int>(data.size()), expect.data());
    const auto got = ima.Drain(1500);
    ASSERT_EQ(got.size(), expect.size() * 2);
    EXPECT_EQ(std::memcmp(got.data(), expect.data(), got.size()), 0);

    // Tag 3 with 32 bits is IEEE float: not decoded here. The converter says so, and once
    // disabled (as the player does) passes format and data through untouched.
    for (WORD bits : {WORD(32), WORD(64)}) {
        const auto fmt = ImaFormat(0x0003, 2, bits);
        TChain f(fmt, data);
        EXPECT_FALSE(f.Conv->CanConvert());
        EXPECT_EQ(std::memcmp(f.Conv->PWaveFormat(), fmt.data(), fmt.size()), 0);
        try {
            f.Conv->Opened();
            ADD_FAILURE() << "opened a conversion it cannot make";
        } catch (const EAvADPCMError& e) {
            EXPECT_EQ(e.Message(), "Unable to convert to destination format");
        }
        f.Conv->SetEnabled(false);
        EXPECT_EQ(std::memcmp(f.Conv->PWaveFormat(), fmt.data(), fmt.size()), 0);
        f.Start();
        EXPECT_EQ(f.Drain(2048), data);
    }
}

TEST(AvADCvt, NonStandardMsCoefficientsAreLeftAlone) {
    auto enc = lavc::EncodeMs(lavc::TestSignal(1, 3000), 1, 8000, 256);
    enc.Format[sizeof(WAVEFORMATEX) + 4 + 4 * 6] ^= 4; // the seventh pair differs
    TChain c(enc.Format, enc.Data);
    EXPECT_FALSE(c.Conv->CanConvert());
    EXPECT_EQ(c.Conv->DestFormat(), nullptr);
    EXPECT_EQ(c.Conv->PWaveFormat()->wFormatTag, WAVE_FORMAT_ADPCM);
    EXPECT_THROW(c.Conv->Opened(), EAvADPCMError);
    // Disabled it stays untouched and CanConvert keeps judging the input, so a player that
    // enables by it never enables it for this file.
    c.Conv->SetEnabled(false);
    EXPECT_FALSE(c.Conv->CanConvert());
}

TEST(AvADCvt, LoopingFlushAndStopStartTheDecoderAfresh) {
    // A looping sink gets every pass decoded the same, also with a short last block.
    const auto enc = lavc::EncodeMs(lavc::TestSignal(2, 6000), 2, 22050, 512);
    Bytes data(enc.Data.begin(), enc.Data.end() - 200);
    auto trimmed = enc;
    trimmed.Data = data;
    const auto pass = DecodeWhole(trimmed, b16Bit);
    TChain c(enc.Format, data);
    c.Source->Chunk = 700;
    c.Start();
    const auto out = c.Drain(2048, pass.size() * 3, true);
    ASSERT_GE(c.LoopedAt.size(), 2u);
    EXPECT_EQ(c.LoopedAt[0], pass.size());
    EXPECT_EQ(c.LoopedAt[1], 2 * pass.size());
    EXPECT_TRUE(std::equal(pass.begin(), pass.end(), out.begin()));
    EXPECT_TRUE(std::equal(pass.begin(), pass.end(), out.begin() + pass.size()));

    // IMA-style stereo 0x0033 (byte pairs): after a flush at an odd source position the
    // converter drops what it held and decodes the new position with a fresh state.
    const auto ima = Noise(5001, 3);
    TChain d(ImaFormat(0x0033, 2, 4), ima);
    d.Source->Chunk = 501;
    d.Start();
    d.Drain(1000, 1000);
    d.Source->Pos = 2000;
    d.Conv->Flushed();
    TAvImaState st{};
    std::vector<std::int16_t> expect(3000 * 2);
    DecodeImaStyle(0x0033, 2, st, ima.data() + 2000, 3000, expect.data());
    const auto after = d.Drain(1000);
    ASSERT_EQ(after.size(), expect.size() * 2);
    EXPECT_EQ(std::memcmp(after.data(), expect.data(), after.size()), 0);

    // Stopped drops pending output; the next run starts from the source's position afresh.
    d.Conv->Stopped();
    d.Source->Pos = 0;
    d.Conv->Started();
    st = {};
    std::vector<std::int16_t> first(200 * 2);
    DecodeImaStyle(0x0033, 2, st, ima.data(), 200, first.data());
    const auto again = d.Drain(800, 800);
    EXPECT_EQ(std::memcmp(again.data(), first.data(), 800), 0);
}

#include "AvADCvtTest.moc"
