#pragma once
// Shared enumerations of the audio library and the stateless PCM routines: building and checking
// format records, converting between bytes, sample frames and milliseconds, and finding the peak
// samples of a buffer. Every routine is a pure function and may be called on any thread.
#include "platform/api/mmreg.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

// Sample width; bytes per sample = ordinal + 1.
enum TAvBits : std::uint8_t { b8Bit, b16Bit };
// Channel layout; channels = ordinal + 1.
enum TAvMode : std::uint8_t { mMono, mStereo };
// Which channel of a stereo stream a display follows.
enum TAvChannel : std::uint8_t { chBoth, chLeft, chRight };
// Smoothing of a displayed level.
enum TAvDecayMode : std::uint8_t { dmNone, dmStepUp, dmExponential, dmUniform };
// Unit of a position or length.
enum TAvTimeFormats : std::uint8_t { tfMillisecond, tfByte, tfSample };

// Fills the record as PCM and returns it (nullptr when fmt is nullptr).
WAVEFORMATEX* BuildPcmFormat(WAVEFORMATEX* fmt, WORD bits, WORD channels, DWORD samplesPerSec);

// True for PCM with 8 or 16 bits, 1 or 2 channels and 4000..100000 frames per second.
bool IsValidPcmFormat(const WAVEFORMATEX* fmt);

// Byte size of a format record: 18 for PCM, 18 + cbSize otherwise; 0 for nullptr.
int FormatSize(const WAVEFORMATEX* fmt);

// 128 for 8-bit formats, 0 otherwise.
std::uint8_t SilenceByte(const WAVEFORMATEX* fmt);

// Owning handle of a heap copy of a format record (with its extra bytes).
struct TAvFormatDeleter {
    void operator()(WAVEFORMATEX* p) const noexcept { std::free(p); }
};
using TAvFormatPtr = std::unique_ptr<WAVEFORMATEX, TAvFormatDeleter>;

// A zero-initialised copy of FormatSize(fmt) bytes; a PCM copy gets cbSize 0. Empty for nullptr.
// A non-PCM record must be followed by its cbSize extra bytes.
TAvFormatPtr CopyFormat(const WAVEFORMATEX* fmt);

// a * b / c with a 64-bit product, truncated toward zero. The result saturates to the 32-bit
// range, and a divisor of 0 gives 0 instead of a fault.
std::int32_t MulDivTrunc(std::int32_t a, std::int32_t b, std::int32_t c);
// a * b / c with a 64-bit product, halves rounded away from zero. Saturation and c == 0 as above.
std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c);

// Conversions between byte counts, sample frames and milliseconds for a format. Byte results
// are aligned up to whole frames. A record that would divide by zero (or nullptr) gives 0.
std::int32_t BytesToSamples(const WAVEFORMATEX* fmt, std::int32_t bytes);
std::int32_t SamplesToBytes(const WAVEFORMATEX* fmt, std::int32_t samples);
std::int32_t BytesToMilliseconds(const WAVEFORMATEX* fmt, std::int32_t bytes);
std::int32_t SamplesToMilliseconds(const WAVEFORMATEX* fmt, std::int32_t samples);
std::int32_t MillisecondsToSamples(const WAVEFORMATEX* fmt, std::int32_t ms);
std::int32_t MillisecondsToBytes(const WAVEFORMATEX* fmt, std::int32_t ms);

// For each channel the stored value of the sample farthest from silence (the first of equal
// peaks); 8-bit results are the raw byte 0..255. For mono right equals left. Trailing bytes that
// do not form a whole frame are ignored; nullptr or a non-positive count gives 0, 0.
void FindPeaks(const WAVEFORMATEX* fmt, const void* buffer, std::int32_t byteCount,
               std::int16_t& left, std::int16_t& right);

// Sets every byte of the buffer to the silence byte.
void FillSilence(void* buffer, std::int32_t byteCount, std::uint8_t silenceByte);
