// The audio compression manager's functions: argument checks, the stream handle table and header
// flags here; formats and conversion in platform/acm.
#include "platform/api/msacm.h"

#include "platform/acm/AcmCodec.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Stream {
    std::mutex lock; // one conversion at a time
    std::unique_ptr<acm::Converter> converter;
};

// Handle values are never reused, so a closed handle is refused instead of naming another stream.
std::mutex g_tableLock;
std::map<std::uintptr_t, std::shared_ptr<Stream>> g_streams;
std::uintptr_t g_nextHandle = 0x5000;

std::shared_ptr<Stream> Find(HACMSTREAM has) {
    std::lock_guard guard(g_tableLock);
    auto it = g_streams.find(reinterpret_cast<std::uintptr_t>(has));
    return it == g_streams.end() ? nullptr : it->second;
}

// Where the manager keeps the lengths a header was prepared with.
constexpr int kPreparedSrc = 0;
constexpr int kPreparedDst = 1;

} // namespace

DWORD acmGetVersion() {
    return 0x04000000;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest) {
    if (had) return MMSYSERR_INVALHANDLE;
    if (fdwSuggest & ~ACM_FORMATSUGGESTF_TYPEMASK) return MMSYSERR_INVALFLAG;
    if (fdwSuggest & ~(ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                       ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE))
        return MMSYSERR_INVALFLAG;
    if (!pwfxSrc || !pwfxDst || cbwfxDst < sizeof(PCMWAVEFORMAT)) return MMSYSERR_INVALPARAM;
    return acm::SuggestFormat(pwfxSrc, pwfxDst, cbwfxDst >= sizeof(WAVEFORMATEX), fdwSuggest);
}

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc,
                       LPWAVEFORMATEX pwfxDst, LPWAVEFILTER pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen) {
    (void)dwCallback;
    (void)dwInstance;
    const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
    if (phas) *phas = nullptr;
    if (had) return MMSYSERR_INVALHANDLE;
    if (fdwOpen & ~(CALLBACK_TYPEMASK | ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC |
                    ACM_STREAMOPENF_NONREALTIME))
        return MMSYSERR_INVALFLAG;
    if (!pwfxSrc || !pwfxDst || (!query && !phas)) return MMSYSERR_INVALPARAM;
    // Every conversion is done inside the call; filters are not offered.
    if ((fdwOpen & ACM_STREAMOPENF_ASYNC) || pwfltr) return ACMERR_NOTPOSSIBLE;
    if (query) return acm::CanConvert(pwfxSrc, pwfxDst);

    auto converter =
        acm::Converter::Create(pwfxSrc, pwfxDst, fdwOpen & ACM_STREAMOPENF_NONREALTIME);
    if (!converter) {
        // Formats not offered, or the codec library could not set the stream up.
        return acm::CanConvert(pwfxSrc, pwfxDst) == MMSYSERR_NOERROR ? MMSYSERR_NOMEM
                                                                     : ACMERR_NOTPOSSIBLE;
    }
    auto stream = std::make_shared<Stream>();
    stream->converter = std::move(converter);
    std::lock_guard guard(g_tableLock);
    const std::uintptr_t handle = g_nextHandle++;
    g_streams.emplace(handle, std::move(stream));
    *phas = reinterpret_cast<HACMSTREAM>(handle);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
    if (fdwClose) return MMSYSERR_INVALFLAG;
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard guard(g_tableLock);
        auto it = g_streams.find(reinterpret_cast<std::uintptr_t>(has));
        if (it == g_streams.end()) return MMSYSERR_INVALHANDLE;
        stream = std::move(it->second);
        g_streams.erase(it);
    }
    // A conversion running on another thread finishes first.
    std::lock_guard guard(stream->lock);
    stream->converter.reset();
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize) {
    if (fdwSize & ~ACM_STREAMSIZEF_QUERYMASK) return MMSYSERR_INVALFLAG;
    const DWORD query = fdwSize & ACM_STREAMSIZEF_QUERYMASK;
    if (query != ACM_STREAMSIZEF_SOURCE && query != ACM_STREAMSIZEF_DESTINATION)
        return MMSYSERR_INVALFLAG;
    auto stream = Find(has);
    if (!stream) return MMSYSERR_INVALHANDLE;
    if (!pdwOutputBytes) return MMSYSERR_INVALPARAM;
    *pdwOutputBytes = 0;
    std::lock_guard guard(stream->lock);
    const std::size_t n = query == ACM_STREAMSIZEF_SOURCE ? stream->converter->OutputBound(cbInput)
                                                          : stream->converter->InputFor(cbInput);
    if (n == 0 || n > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
    *pdwOutputBytes = static_cast<DWORD>(n);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
    if (fdwPrepare) return MMSYSERR_INVALFLAG;
    if (!Find(has)) return MMSYSERR_INVALHANDLE;
    if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (!pash->pbDst || pash->cbDstLength == 0) return MMSYSERR_INVALPARAM;
    if (!pash->pbSrc && pash->cbSrcLength) return MMSYSERR_INVALPARAM;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return MMSYSERR_NOERROR;
    pash->dwReservedDriver[kPreparedSrc] = pash->cbSrcLength;
    pash->dwReservedDriver[kPreparedDst] = pash->cbDstLength;
    pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
    if (fdwUnprepare) return MMSYSERR_INVALFLAG;
    if (!Find(has)) return MMSYSERR_INVALHANDLE;
    if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    pash->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
    if (fdwConvert &
        ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    auto stream = Find(has);
    if (!stream) return MMSYSERR_INVALHANDLE;
    if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    // The lengths may shrink after preparing, never grow.
    if (pash->cbSrcLength > pash->dwReservedDriver[kPreparedSrc] ||
        pash->cbDstLength > pash->dwReservedDriver[kPreparedDst] ||
        (!pash->pbSrc && pash->cbSrcLength) || !pash->pbDst)
        return MMSYSERR_INVALPARAM;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    pash->cbSrcLengthUsed = 0;
    pash->cbDstLengthUsed = 0;
    std::size_t used = 0;
    std::size_t written = 0;
    MMRESULT rc;
    {
        std::lock_guard guard(stream->lock);
        if (!stream->converter) return MMSYSERR_INVALHANDLE;
        rc = stream->converter->Convert(pash->pbSrc, pash->cbSrcLength, pash->pbDst,
                                        pash->cbDstLength, fdwConvert, &used, &written);
    }
    pash->cbSrcLengthUsed = static_cast<DWORD>(used);
    pash->cbDstLengthUsed = static_cast<DWORD>(written);
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return rc;
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
    if (fdwReset) return MMSYSERR_INVALFLAG;
    auto stream = Find(has);
    if (!stream) return MMSYSERR_INVALHANDLE;
    std::lock_guard guard(stream->lock);
    if (!stream->converter) return MMSYSERR_INVALHANDLE;
    stream->converter->Reset();
    return MMSYSERR_NOERROR;
}
