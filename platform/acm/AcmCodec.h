#pragma once
// Internal to the platform layer: what the audio compression manager can convert, and the
// conversion itself, over FFmpeg (libavcodec decoders, libswresample for every PCM step).
// The API functions (platform/api/msacm.cpp) check arguments, handles and headers; this part knows
// formats. Threads: a Converter is used by one thread at a time; the free functions by any thread.
#include "platform/api/msacm.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace acm {

// ACMERR_NOTPOSSIBLE unless pwfxSrc can be converted at all; then fills *dst (16 bytes; cbSize too
// when withCbSize) with the PCM format it converts to directly, keeping the fields the flags name.
MMRESULT SuggestFormat(const WAVEFORMATEX* src, WAVEFORMATEX* dst, bool withCbSize, DWORD flags);

// MMSYSERR_NOERROR when a stream src -> dst can be opened, else ACMERR_NOTPOSSIBLE.
MMRESULT CanConvert(const WAVEFORMATEX* src, const WAVEFORMATEX* dst);

class Converter {
public:
    virtual ~Converter() = default;

    // Nullptr when the direction is not offered. highQuality picks the longer resampling filter.
    static std::unique_ptr<Converter> Create(const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                                             bool highQuality);

    // Destination bytes enough for srcBytes source bytes (ACM_STREAMSIZEF_SOURCE), and source
    // bytes that give about dstBytes destination bytes (ACM_STREAMSIZEF_DESTINATION).
    virtual std::size_t OutputBound(std::size_t srcBytes) const = 0;
    virtual std::size_t InputFor(std::size_t dstBytes) const = 0;

    // As acmStreamConvert (ACM_STREAMCONVERTF_* flags). Returns MMSYSERR_NOERROR, or
    // MMSYSERR_NOMEM when the codec library fails to allocate.
    virtual MMRESULT Convert(const BYTE* src, std::size_t srcLength, BYTE* dst,
                             std::size_t dstLength, DWORD flags, std::size_t* srcUsed,
                             std::size_t* dstUsed) = 0;

    // Drops held output, partial blocks and codec/resampler state.
    virtual void Reset() = 0;
};

} // namespace acm
