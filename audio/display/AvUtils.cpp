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

// Byte counts are handed out in whole frames, rounded up; a count at the end of the 32-bit range
// becomes the last whole frame inside it rather than wrapping round.
std::int32_t AlignUp(const WAVEFORMATEX* fmt, std::int32_t v) {
    const std::int64_t align = fmt->nBlockAlign;
    if (align == 0) return v;
    const std::int64_t n = v;
    const std::int64_t up = n >= 0 ? (n + align - 1) / align * align : -(-n / align * align);
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    if (up > hi) return static_cast<std::int32_t>(hi / align * align);
    if (up < lo) return static_cast<std::int32_t>(-(-lo / align * align));
    return static_cast<std::int32_t>(up);
}

// Samples are scanned in blocks. A pass over the block keeps the largest magnitude per lane of a
// fixed-width group (one lane per sample position, so the compiler turns it into vector code);
// even lanes hold the left channel and odd lanes the right one of stereo data. Only a block
// whose largest magnitude beats the channel's running maximum is searched again, from its
// start, for the first sample of that magnitude, so the first of equal peaks wins.
constexpr std::size_t kBlockSamples = 1024;

inline std::uint8_t Mag(std::uint8_t b) {
    return static_cast<std::uint8_t>(b >= 128 ? b - 128 : 128 - b);
}
inline std::uint16_t Mag(std::int16_t s) {
    // |-32768| is 32768, which still fits the unsigned lane.
    return static_cast<std::uint16_t>(s < 0 ? -static_cast<int>(s) : s);
}

template <typename Sample>
void Scan(const std::uint8_t* data, std::size_t samples, int channels, int best[2],
          Sample value[2]) {
    using Magnitude = decltype(Mag(Sample{}));
    constexpr std::size_t kLanes = 32 / sizeof(Sample);
    alignas(32) Sample copy[kBlockSamples];
    const bool aligned = reinterpret_cast<std::uintptr_t>(data) % alignof(Sample) == 0;
    for (std::size_t start = 0; start < samples; start += kBlockSamples) {
        const std::size_t n = std::min(kBlockSamples, samples - start);
        const Sample* blk;
        if (aligned) {
            blk = reinterpret_cast<const Sample*>(data) + start;
        } else {
            std::memcpy(copy, data + start * sizeof(Sample), n * sizeof(Sample));
            blk = copy;
        }
        Magnitude lane[kLanes] = {};
        const std::size_t whole = n - n % kLanes;
        for (std::size_t i = 0; i < whole; i += kLanes)
            for (std::size_t j = 0; j < kLanes; ++j)
                lane[j] = std::max(lane[j], Mag(blk[i + j]));
        for (std::size_t i = whole; i < n; ++i)
            lane[i % kLanes] = std::max(lane[i % kLanes], Mag(blk[i]));
        for (int c = 0; c < channels; ++c) {
            int blockMax = 0;
            for (std::size_t j = static_cast<std::size_t>(c); j < kLanes;
                 j += static_cast<std::size_t>(channels))
                blockMax = std::max<int>(blockMax, lane[j]);
            if (blockMax <= best[c]) continue;
            for (std::size_t i = static_cast<std::size_t>(c); i < n;
                 i += static_cast<std::size_t>(channels)) {
                if (Mag(blk[i]) == blockMax) {
                    best[c] = blockMax;
                    value[c] = blk[i];
                    break;
                }
            }
        }
    }
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
    const int channels = fmt->nChannels == 1 ? 1 : 2;
    int best[2] = {0, 0};
    if (fmt->wBitsPerSample == 8) {
        std::uint8_t value[2] = {0, 0};
        const std::size_t samples = channels == 1 ? count : count & ~std::size_t{1};
        Scan<std::uint8_t>(data, samples, channels, best, value);
        left = value[0];
        right = channels == 1 ? value[0] : value[1];
    } else {
        std::int16_t value[2] = {0, 0};
        const std::size_t samples = (channels == 1 ? count : count & ~std::size_t{3}) / 2;
        Scan<std::int16_t>(data, samples, channels, best, value);
        left = value[0];
        right = channels == 1 ? value[0] : value[1];
    }
}

void FillSilence(void* buffer, std::int32_t byteCount, std::uint8_t silenceByte) {
    if (!buffer || byteCount <= 0) return;
    std::memset(buffer, silenceByte, static_cast<std::size_t>(byteCount));
}
