#include "audio/display/AvUtils.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

std::int32_t Saturate(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Byte counts are handed out in whole frames.
std::int32_t AlignUp(const WAVEFORMATEX* fmt, std::int32_t v) {
    const std::uint32_t align = fmt->nBlockAlign;
    if (align == 0) return v;
    const std::uint32_t u = static_cast<std::uint32_t>(v);
    return static_cast<std::int32_t>((u + align - 1) / align * align);
}

// Frames are scanned in blocks: a vectorisable pass finds the block's largest magnitude, and only
// a block that beats the running maximum is searched again for its first sample of that size.
constexpr std::size_t kBlock = 256;

inline int Mag8(std::uint8_t b) {
    return b >= 128 ? b - 128 : 128 - b;
}
inline int Mag16(std::int16_t s) {
    return s < 0 ? -static_cast<int>(s) : s;
}

inline std::int16_t Load16(const std::uint8_t* p) {
    std::int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// One channel of interleaved samples: stride is the frame size in samples, first the offset of
// the channel within the frame.
template <typename Sample, int (*Mag)(Sample), Sample (*Load)(const std::uint8_t*)>
void ScanChannel(const std::uint8_t* data, std::size_t frames, std::size_t stride,
                 std::size_t first, int& best, Sample& value) {
    constexpr std::size_t size = sizeof(Sample);
    for (std::size_t start = 0; start < frames; start += kBlock) {
        const std::size_t n = std::min(kBlock, frames - start);
        const std::uint8_t* p = data + (start * stride + first) * size;
        int blockMax = 0;
        for (std::size_t i = 0; i < n; ++i)
            blockMax = std::max(blockMax, Mag(Load(p + i * stride * size)));
        if (blockMax <= best) continue;
        for (std::size_t i = 0; i < n; ++i) {
            const Sample s = Load(p + i * stride * size);
            if (Mag(s) == blockMax) {
                best = blockMax;
                value = s;
                break;
            }
        }
    }
}

inline std::uint8_t Load8(const std::uint8_t* p) {
    return *p;
}

} // namespace

WAVEFORMATEX* BuildPcmFormat(WAVEFORMATEX* fmt, WORD bits, WORD channels, DWORD samplesPerSec) {
    if (!fmt) return nullptr;
    fmt->wFormatTag = WAVE_FORMAT_PCM;
    fmt->nChannels = channels;
    fmt->nSamplesPerSec = samplesPerSec;
    fmt->wBitsPerSample = bits;
    fmt->nBlockAlign = static_cast<WORD>((std::uint32_t{bits} * channels) >> 3);
    fmt->nAvgBytesPerSec = fmt->nBlockAlign * samplesPerSec;
    fmt->cbSize = 0;
    return fmt;
}

bool IsValidPcmFormat(const WAVEFORMATEX* fmt) {
    if (!fmt) return false;
    return fmt->wFormatTag == WAVE_FORMAT_PCM &&
           (fmt->wBitsPerSample == 8 || fmt->wBitsPerSample == 16) &&
           (fmt->nChannels == 1 || fmt->nChannels == 2) && fmt->nSamplesPerSec >= 4000 &&
           fmt->nSamplesPerSec <= 100000;
}

int FormatSize(const WAVEFORMATEX* fmt) {
    if (!fmt) return 0;
    if (fmt->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
    return static_cast<int>(sizeof(WAVEFORMATEX)) + fmt->cbSize;
}

std::uint8_t SilenceByte(const WAVEFORMATEX* fmt) {
    return fmt && fmt->wBitsPerSample == 8 ? 128 : 0;
}

TAvFormatPtr CopyFormat(const WAVEFORMATEX* fmt) {
    const int size = FormatSize(fmt);
    if (size <= 0) return {};
    auto* copy = static_cast<WAVEFORMATEX*>(std::calloc(1, static_cast<std::size_t>(size)));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, fmt, static_cast<std::size_t>(size));
    if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
    return TAvFormatPtr(copy);
}

std::int32_t MulDivTrunc(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) return 0;
    return Saturate(std::int64_t{a} * b / c);
}

std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) return 0;
    const std::int64_t p = std::int64_t{a} * b;
    const std::int64_t q = p / c;
    const std::int64_t r = p % c;
    return Saturate(q + 2 * r / c);
}

// The format's 32-bit unsigned fields go through MulDivRound as its signed arguments.
std::int32_t BytesToSamples(const WAVEFORMATEX* fmt, std::int32_t bytes) {
    if (!fmt) return 0;
    return MulDivRound(bytes, static_cast<std::int32_t>(fmt->nSamplesPerSec),
                       static_cast<std::int32_t>(fmt->nAvgBytesPerSec));
}

std::int32_t SamplesToBytes(const WAVEFORMATEX* fmt, std::int32_t samples) {
    if (!fmt || fmt->nSamplesPerSec == 0) return 0;
    return AlignUp(fmt, MulDivRound(samples, static_cast<std::int32_t>(fmt->nAvgBytesPerSec),
                                    static_cast<std::int32_t>(fmt->nSamplesPerSec)));
}

std::int32_t BytesToMilliseconds(const WAVEFORMATEX* fmt, std::int32_t bytes) {
    if (!fmt) return 0;
    return MulDivRound(bytes, 1000, static_cast<std::int32_t>(fmt->nAvgBytesPerSec));
}

std::int32_t SamplesToMilliseconds(const WAVEFORMATEX* fmt, std::int32_t samples) {
    if (!fmt) return 0;
    return MulDivRound(samples, 1000, static_cast<std::int32_t>(fmt->nSamplesPerSec));
}

std::int32_t MillisecondsToSamples(const WAVEFORMATEX* fmt, std::int32_t ms) {
    if (!fmt) return 0;
    return MulDivRound(ms, static_cast<std::int32_t>(fmt->nSamplesPerSec), 1000);
}

std::int32_t MillisecondsToBytes(const WAVEFORMATEX* fmt, std::int32_t ms) {
    if (!fmt) return 0;
    return AlignUp(fmt, MulDivRound(ms, static_cast<std::int32_t>(fmt->nAvgBytesPerSec), 1000));
}

void FindPeaks(const WAVEFORMATEX* fmt, const void* buffer, std::int32_t byteCount,
               std::int16_t& left, std::int16_t& right) {
    left = 0;
    right = 0;
    if (!fmt || !buffer || byteCount <= 0) return;
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    const auto count = static_cast<std::size_t>(byteCount);
    const bool eightBit = fmt->wBitsPerSample == 8;
    const bool mono = fmt->nChannels == 1;
    int bestL = 0, bestR = 0;
    if (eightBit) {
        std::uint8_t l = 0, r = 0;
        if (mono) {
            ScanChannel<std::uint8_t, Mag8, Load8>(data, count, 1, 0, bestL, l);
            r = l;
        } else {
            const std::size_t frames = (count & ~std::size_t{1}) / 2;
            ScanChannel<std::uint8_t, Mag8, Load8>(data, frames, 2, 0, bestL, l);
            ScanChannel<std::uint8_t, Mag8, Load8>(data, frames, 2, 1, bestR, r);
        }
        left = l;
        right = r;
    } else {
        std::int16_t l = 0, r = 0;
        if (mono) {
            const std::size_t samples = (count & ~std::size_t{1}) / 2;
            ScanChannel<std::int16_t, Mag16, Load16>(data, samples, 1, 0, bestL, l);
            r = l;
        } else {
            const std::size_t frames = (count & ~std::size_t{3}) / 4;
            ScanChannel<std::int16_t, Mag16, Load16>(data, frames, 2, 0, bestL, l);
            ScanChannel<std::int16_t, Mag16, Load16>(data, frames, 2, 1, bestR, r);
        }
        left = l;
        right = r;
    }
}

void FillSilence(void* buffer, std::int32_t byteCount, std::uint8_t silenceByte) {
    if (!buffer || byteCount <= 0) return;
    std::memset(buffer, silenceByte, static_cast<std::size_t>(byteCount));
}
