#include "audio/stream/AvADCvt.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace {

inline int Le16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

inline int Clip16(int v) {
    return std::clamp(v, -32768, 32767);
}

inline std::uint8_t To8(int v) {
    return static_cast<std::uint8_t>(v / 256 + 128);
}

inline void Put(std::int16_t*& out, int v) {
    *out++ = static_cast<std::int16_t>(v);
}
inline void Put(std::uint8_t*& out, int v) {
    *out++ = To8(v);
}

// Header bytes of one block: per channel a predictor byte, a delta, sample 1 and sample 2.
constexpr int kMsHeaderPerChannel = 7;
// The delta stays where predictor * 8 cannot overflow, also on hostile data.
constexpr int kMsMaxDelta = INT_MAX / 768;

struct TMsChannel {
    int Coef1, Coef2, Delta, Sample1, Sample2;

    int Expand(int code) {
        int p = (Sample1 * Coef1 + Sample2 * Coef2) / 256;
        p += (code & 8 ? code - 16 : code) * Delta;
        Sample2 = Sample1;
        Sample1 = Clip16(p);
        Delta = std::min(std::max(MsAdpcmAdaptation[code] * Delta / 256, 16), kMsMaxDelta);
        return Sample1;
    }
};

// One block of n bytes (n at least the headers); false when its predictor index is out of range.
template <int Channels, typename Out>
bool DecodeMsBlock(const std::uint8_t* src, int frames, Out*& out) {
    TMsChannel ch[Channels];
    for (int c = 0; c < Channels; ++c) {
        const int pred = src[c];
        if (pred >= 7) return false;
        ch[c].Coef1 = MsAdpcmCoefficients[pred][0];
        ch[c].Coef2 = MsAdpcmCoefficients[pred][1];
        ch[c].Delta = Le16(src + Channels + 2 * c);
        ch[c].Sample1 = Le16(src + 3 * Channels + 2 * c);
        ch[c].Sample2 = Le16(src + 5 * Channels + 2 * c);
    }
    const std::uint8_t* p = src + kMsHeaderPerChannel * Channels;
    for (int c = 0; c < Channels && frames > 0; ++c)
        Put(out, ch[c].Sample2);
    for (int c = 0; c < Channels && frames > 1; ++c)
        Put(out, ch[c].Sample1);
    int left = frames - 2;
    if constexpr (Channels == 2) {
        for (; left > 0; --left) {
            const int b = *p++;
            Put(out, ch[0].Expand(b >> 4));
            Put(out, ch[1].Expand(b & 15));
        }
    } else {
        for (; left > 1; left -= 2) {
            const int b = *p++;
            Put(out, ch[0].Expand(b >> 4));
            Put(out, ch[0].Expand(b & 15));
        }
        if (left == 1) Put(out, ch[0].Expand(*p >> 4));
    }
    return true;
}

template <int Channels, typename Out>
int DecodeMs(const TAvMsAdpcmLayout& layout, const std::uint8_t* src, int srcBytes, Out* dst) {
    Out* out = dst;
    for (int at = 0; at < srcBytes; at += layout.BlockAlign) {
        const int n = std::min(layout.BlockAlign, srcBytes - at);
        const int frames = MsAdpcmBlockFrames(layout, n);
        if (frames == 0) break;
        if (!DecodeMsBlock<Channels>(src + at, frames, out))
            for (int i = 0; i < frames * Channels; ++i)
                Put(out, 0);
    }
    return static_cast<int>(out - dst) * static_cast<int>(sizeof(Out));
}

TAvImaDifferenceTable BuildDifferenceTable(bool tableA) {
    TAvImaDifferenceTable t{};
    for (int i = 0; i < ImaStepCount; ++i)
        for (int m = 0; m < 8; ++m)
            t[i][m] = static_cast<std::int16_t>(std::min((2 * m + 1) * ImaStepTable[i] / 8, 32767));
    if (tableA) {
        // Table A was built from a slightly different step curve; the rows we know exactly.
        t[0] = {0, 2, 4, 6, 8, 10, 12, 13};
        t[44] = {61, 185, 309, 432, 556, 680, 803, 927};
    }
    return t;
}

constexpr int kImaIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

template <bool Wrap> struct TImaChannel {
    const TAvImaDifferenceTable& Table;
    int Predictor;
    int Index;

    int Expand(int code) {
        const int diff = Table[Index][code & 7];
        const int p = code & 8 ? Predictor - diff : Predictor + diff;
        Predictor = Wrap ? static_cast<std::int16_t>(p) : Clip16(p);
        Index = std::clamp(Index + kImaIndexAdjust[code & 7], 0, ImaStepCount - 1);
        return Predictor;
    }
};

template <bool Wrap>
int DecodeIma(const TAvImaDifferenceTable& table, bool swapPairs, bool lowFirstStereo, int channels,
              TAvImaState& state, const std::uint8_t* src, int n, std::int16_t* out) {
    TImaChannel<Wrap> ch[2] = {
        {table, state[0].Predictor, std::clamp<int>(state[0].StepIndex, 0, ImaStepCount - 1)},
        {table, state[1].Predictor, std::clamp<int>(state[1].StepIndex, 0, ImaStepCount - 1)}};
    std::int16_t* o = out;
    if (channels == 1) {
        for (int i = 0; i < n; ++i) {
            *o++ = static_cast<std::int16_t>(ch[0].Expand(src[i] >> 4));
            *o++ = static_cast<std::int16_t>(ch[0].Expand(src[i] & 15));
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const int b = src[swapPairs ? i ^ 1 : i];
            const int left = lowFirstStereo ? b & 15 : b >> 4;
            const int right = lowFirstStereo ? b >> 4 : b & 15;
            *o++ = static_cast<std::int16_t>(ch[0].Expand(left));
            *o++ = static_cast<std::int16_t>(ch[1].Expand(right));
        }
    }
    for (int c = 0; c < 2; ++c) {
        state[c].Predictor = static_cast<std::int16_t>(ch[c].Predictor);
        state[c].StepIndex = static_cast<std::int16_t>(ch[c].Index);
    }
    return static_cast<int>(o - out);
}

} // namespace

bool ReadMsAdpcmLayout(const WAVEFORMATEX* fmt, TAvMsAdpcmLayout& layout) {
    layout = {};
    if (fmt == nullptr || fmt->wFormatTag != WAVE_FORMAT_ADPCM) return false;
    if (fmt->nChannels < 1 || fmt->nChannels > 2) return false;
    // Extra bytes: samples per block, coefficient count, then the pairs.
    if (fmt->cbSize < 4 + 7 * 4) return false;
    const auto* extra = reinterpret_cast<const std::uint8_t*>(fmt) + sizeof(WAVEFORMATEX);
    const int samplesPerBlock = static_cast<std::uint16_t>(Le16(extra));
    const int numCoef = static_cast<std::uint16_t>(Le16(extra + 2));
    if (numCoef != 7) return false;
    for (int i = 0; i < 7; ++i)
        if (Le16(extra + 4 + 4 * i) != MsAdpcmCoefficients[i][0] ||
            Le16(extra + 6 + 4 * i) != MsAdpcmCoefficients[i][1])
            return false;
    layout.Channels = fmt->nChannels;
    layout.BlockAlign = fmt->nBlockAlign;
    const int whole =
        MsAdpcmBlockFrames({layout.Channels, layout.BlockAlign, INT_MAX}, layout.BlockAlign);
    if (whole == 0) return false;
    layout.SamplesPerBlock = samplesPerBlock >= 2 ? std::min(samplesPerBlock, whole) : whole;
    return true;
}

int MsAdpcmBlockFrames(const TAvMsAdpcmLayout& layout, int blockBytes) {
    const int header = kMsHeaderPerChannel * layout.Channels;
    if (layout.Channels < 1 || blockBytes < header) return 0;
    const int frames = 2 + (blockBytes - header) * 2 / layout.Channels;
    return std::min(frames, layout.SamplesPerBlock);
}

int DecodeMsAdpcm(const TAvMsAdpcmLayout& layout, const std::uint8_t* src, int srcBytes,
                  std::uint8_t* dst, TAvBits bits) {
    if (layout.BlockAlign <= 0 || src == nullptr || dst == nullptr || srcBytes <= 0) return 0;
    if (bits == b8Bit)
        return layout.Channels == 2 ? DecodeMs<2>(layout, src, srcBytes, dst)
                                    : DecodeMs<1>(layout, src, srcBytes, dst);
    auto* out = reinterpret_cast<std::int16_t*>(dst);
    return layout.Channels == 2 ? DecodeMs<2>(layout, src, srcBytes, out)
                                : DecodeMs<1>(layout, src, srcBytes, out);
}

const std::int16_t ImaStepTable[ImaStepCount] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const TAvImaDifferenceTable& ImaDifferenceTableA() {
    static const TAvImaDifferenceTable t = BuildDifferenceTable(true);
    return t;
}

const TAvImaDifferenceTable& ImaDifferenceTableB() {
    static const TAvImaDifferenceTable t = BuildDifferenceTable(false);
    return t;
}

bool IsImaStyleFormat(const WAVEFORMATEX* fmt) {
    if (fmt == nullptr || fmt->nChannels < 1 || fmt->nChannels > 2) return false;
    switch (fmt->wFormatTag) {
    case 0x0003:
        return fmt->wBitsPerSample == 4;
    case 0x0033:
    case 0x0206:
        return true;
    default:
        return false;
    }
}

int ImaStyleUsableBytes(WORD tag, int channels, int srcBytes) {
    if (srcBytes <= 0) return 0;
    return tag != 0x0003 && channels == 2 ? srcBytes & ~1 : srcBytes;
}

int DecodeImaStyle(WORD tag, int channels, TAvImaState& state, const std::uint8_t* src,
                   int srcBytes, std::int16_t* dst) {
    const int n = ImaStyleUsableBytes(tag, channels, srcBytes);
    if (n == 0 || src == nullptr || dst == nullptr) return 0;
    if (tag == 0x0003)
        return DecodeIma<true>(ImaDifferenceTableA(), false, true, channels, state, src, n, dst);
    return DecodeIma<false>(ImaDifferenceTableB(), true, false, channels, state, src, n, dst);
}

int Pcm16To8(const std::int16_t* src, int count, std::uint8_t* dst) {
    // Byte i is written after sample i was read, and it lies at or before that sample, so the
    // conversion may run in place.
    const auto* in = reinterpret_cast<const std::uint8_t*>(src);
    for (int i = 0; i < count; ++i) {
        std::int16_t v;
        std::memcpy(&v, in + 2 * i, 2);
        dst[i] = To8(v);
    }
    return count;
}

// --- TAvADPCMConverter --------------------------------------------------------------------------

namespace {

constexpr int kSourceBlock = 4096;
// Each IMA-style source byte makes two 16-bit samples.
constexpr int kImaOutput = 4 * kSourceBlock;

// The PCM format decoded from f with the given width, or none when f is not decoded here.
TAvFormatPtr DecodedFormat(const WAVEFORMATEX* f, TAvBits bits) {
    if (f == nullptr || f->nSamplesPerSec == 0) return {};
    TAvMsAdpcmLayout layout;
    if (f->wFormatTag == WAVE_FORMAT_ADPCM ? !ReadMsAdpcmLayout(f, layout) : !IsImaStyleFormat(f))
        return {};
    WAVEFORMATEX pcm{};
    BuildPcmFormat(&pcm, bits == b8Bit ? 8 : 16, f->nChannels, f->nSamplesPerSec);
    return CopyFormat(&pcm);
}

} // namespace

TAvADPCMConverter::TAvADPCMConverter(TComponent* AOwner) : TAvCustomConverter(AOwner) {}

void TAvADPCMConverter::SetEnabled(bool v) {
    if (v == FEnabled) return;
    FEnabled = v;
    UpdateConversion();
}

void TAvADPCMConverter::SetBitLength(TAvBits v) {
    if (v == FBitLength) return;
    FBitLength = v;
    UpdateConversion();
}

bool TAvADPCMConverter::CanConvert() const {
    const WAVEFORMATEX* in = FInputFormat.get();
    return in == nullptr || in->wFormatTag == WAVE_FORMAT_PCM ||
           DecodedFormat(in, FBitLength) != nullptr;
}

void TAvADPCMConverter::SetPWaveFormat(const WAVEFORMATEX*) {}

void TAvADPCMConverter::InputFormatChanged(const WAVEFORMATEX* f) {
    const WAVEFORMATEX* held = FInputFormat.get();
    if (f == held) return;
    if (f && held && FormatSize(f) == FormatSize(held) &&
        std::memcmp(f, held, static_cast<size_t>(FormatSize(f))) == 0)
        return;
    FInputFormat = CopyFormat(f);
    UpdateConversion();
}

void TAvADPCMConverter::BuildDestFormat() {
    FDestFormat.reset();
    if (!FInputFormat || !FEnabled) return;
    FDestFormat = DecodedFormat(FInputFormat.get(), FBitLength);
    if (FDestFormat && FInputFormat->wFormatTag == WAVE_FORMAT_ADPCM)
        ReadMsAdpcmLayout(FInputFormat.get(), FLayout);
}

void TAvADPCMConverter::UpdateConversion() {
    FNeeded = false;
    FPossible = false;
    const WAVEFORMATEX* in = FInputFormat.get();
    const WAVEFORMATEX* out = in;
    if (in && FEnabled && in->wFormatTag != WAVE_FORMAT_PCM) {
        FNeeded = true;
        BuildDestFormat();
        if (FDestFormat && FDestFormat->wFormatTag == WAVE_FORMAT_PCM) {
            FPossible = true;
            out = FDestFormat.get();
        }
    }
    if (FPrepared) {
        // A new input while open: buffers sized for the old one must not be used for it.
        FPrepared = false;
        FRunning = false;
        FProduced = FConsumed = 0;
        RestartConversion();
        if (FEnabled) {
            try {
                Prepare();
            } catch (const EAvADPCMError&) {
            }
        }
    }
    TAvDSPComponent::SetPWaveFormat(out);
}

void TAvADPCMConverter::Fail() {
    FPossible = false;
    throw EAvADPCMError(QStringLiteral("Unable to convert to destination format"));
}

void TAvADPCMConverter::PrepareConversion() {
    try {
        const int bytesOut = FBitLength == b8Bit ? 1 : 2;
        if (FInputFormat->wFormatTag == WAVE_FORMAT_ADPCM) {
            // Whole blocks only; a block larger than the usual source block is taken alone.
            const int blocks = std::max(1, kSourceBlock / FLayout.BlockAlign);
            FSource.assign(static_cast<size_t>(blocks) * FLayout.BlockAlign, 0);
            FOut.assign(static_cast<size_t>(blocks) * FLayout.SamplesPerBlock * FLayout.Channels *
                            bytesOut,
                        0);
        } else {
            FSource.assign(kSourceBlock, 0);
            FOut.assign(kImaOutput, 0);
        }
    } catch (const std::bad_alloc&) {
        Fail();
    }
}

void TAvADPCMConverter::FreeConversion() {
    FSource = {};
    FOut = {};
    RestartConversion();
}

void TAvADPCMConverter::RestartConversion() {
    FHeld = 0;
    FLoopPending = false;
    FState = {};
}

void TAvADPCMConverter::Stopped() {
    FHeld = 0;
    FLoopPending = false;
    TAvCustomConverter::Stopped();
}

int TAvADPCMConverter::Decode(bool final) {
    const WORD tag = FInputFormat->wFormatTag;
    int used = 0, made = 0;
    if (tag == WAVE_FORMAT_ADPCM) {
        used = final ? FHeld : FHeld - FHeld % FLayout.BlockAlign;
        made = DecodeMsAdpcm(FLayout, FSource.data(), used, FOut.data(), FBitLength);
    } else {
        const int channels = FInputFormat->nChannels;
        used = ImaStyleUsableBytes(tag, channels, FHeld);
        auto* out = reinterpret_cast<std::int16_t*>(FOut.data());
        const int samples = DecodeImaStyle(tag, channels, FState, FSource.data(), used, out);
        made = FBitLength == b8Bit ? Pcm16To8(out, samples, FOut.data()) : 2 * samples;
    }
    FHeld -= used;
    if (final) {
        // The source starts again (or ends): a partial pair is dropped, the decoder starts afresh.
        FHeld = 0;
        FState = {};
    } else if (FHeld > 0) {
        std::memmove(FSource.data(), FSource.data() + used, static_cast<size_t>(FHeld));
    }
    return made;
}

void TAvADPCMConverter::BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) {
    if (!Converting() || lpWaveHdr == nullptr) {
        TAvDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
        return;
    }
    if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    if (Input() == nullptr) return;
    for (;;) {
        const int wanted = HandOut(lpWaveHdr, FOut.data());
        if (FLoopPending && FConsumed >= FProduced) {
            lpWaveHdr->HasLooped = -1;
            FLoopPending = false;
        }
        if (lpWaveHdr->HasLooped || !FRunning || wanted < 1) break;
        bool wrapped = false;
        if (!FExhausted) {
            FPullHdr.lpData = reinterpret_cast<LPSTR>(FSource.data() + FHeld);
            FPullHdr.dwBufferLength = static_cast<DWORD>(static_cast<int>(FSource.size()) - FHeld);
            FPullHdr.dwBytesRecorded = 0;
            CopyLoopFields(*lpWaveHdr, FPullHdr);
            bool more = false;
            Input()->BufferLoad(&FPullHdr, more);
            CopyLoopFields(FPullHdr, *lpWaveHdr);
            // The buffer that ends the pass is marked once the pass's last bytes are in it.
            wrapped = lpWaveHdr->HasLooped != 0;
            lpWaveHdr->HasLooped = 0;
            FLoopPending = FLoopPending || wrapped;
            const int got = static_cast<int>(
                std::min<DWORD>(FPullHdr.dwBytesRecorded, FPullHdr.dwBufferLength));
            FMoreBuffers = more;
            if (!more || got == 0) FExhausted = true;
            FHeld += got;
        }
        FProduced = Decode(FExhausted || wrapped);
        FConsumed = 0;
        if (FProduced < 1 && FExhausted) break;
    }
    MoreBuffers = FMoreBuffers || FProduced > FConsumed;
}
