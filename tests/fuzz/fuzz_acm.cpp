// The compression manager's streams on arbitrary source formats and bytes: every decoder and PCM
// step it offers. A stream opens on a fuzzed source record to the PCM format it suggests (or that
// format at another rate or channel count), converts fuzzed data in fuzzed pieces, with fuzzed
// destination room and flags, drains with the END flag, and closes. Every call answers within the
// lengths it was given, a drain ends, and a format it refuses is refused without harm.
//
// Input: a source record (18 bytes, then its cbSize extra bytes as far as the input has them; the
// rest of the record is zeros), four control bytes, then the data.
#include "platform/api/msacm.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "acm: %s\n", what);
        std::abort();
    }
}

// Bounds that keep one input's work small: the rate steps a PCM stream may take make ~400 times
// the output, and the wrapper's own buffers follow the lengths asked for.
constexpr std::size_t kMaxData = 1 << 14;
constexpr DWORD kMaxRoom = 1 << 16;

struct Control {
    std::uint8_t flags, shape, srcStep, dstStep;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(WAVEFORMATEX) + sizeof(Control)) return 0;
    WAVEFORMATEX head;
    std::memcpy(&head, data, sizeof head);
    const std::size_t extra = std::min<std::size_t>(head.cbSize, size - sizeof head - 4);
    // The record as a caller hands it over: cbSize extra bytes follow the header, every one of
    // them there (ASan sees a read past them).
    std::vector<std::uint8_t> record(sizeof head + head.cbSize, 0);
    std::memcpy(record.data(), data, sizeof head + extra);
    auto* src = reinterpret_cast<WAVEFORMATEX*>(record.data());
    Control c;
    std::memcpy(&c, data + sizeof head + extra, sizeof c);
    const std::uint8_t* in = data + sizeof head + extra + sizeof c;
    const std::size_t n = std::min(size - sizeof head - extra - sizeof c, kMaxData);

    // The destination: the suggestion (keeping the fields the flags name), or a plain PCM record
    // when there is none; optionally at another rate or channel count.
    WAVEFORMATEX dst{};
    dst.wFormatTag = WAVE_FORMAT_PCM;
    dst.nChannels = (c.shape & 1) ? 2 : 1;
    dst.wBitsPerSample = (c.shape & 2) ? 16 : 8;
    dst.nSamplesPerSec = 8000 * (1 + (c.shape >> 4));
    static const DWORD kSuggestFlags[] = {0, ACM_FORMATSUGGESTF_WFORMATTAG,
                                          ACM_FORMATSUGGESTF_WBITSPERSAMPLE,
                                          ACM_FORMATSUGGESTF_NCHANNELS};
    const DWORD suggest = kSuggestFlags[(c.shape >> 2) & 3];
    const MMRESULT suggested = acmFormatSuggest(nullptr, src, &dst, sizeof dst, suggest);
    if (suggested == MMSYSERR_NOERROR) {
        Check(dst.wFormatTag == WAVE_FORMAT_PCM, "suggested a format that is no PCM");
        Check(dst.nChannels >= 1 && dst.nChannels <= 2, "suggested channels out of range");
        Check(dst.wBitsPerSample == 8 || dst.wBitsPerSample == 16, "suggested bits out of range");
        if (c.flags & 0x80) dst.nSamplesPerSec = 1000 + (c.shape * 1511u) % 96000;
        if (c.flags & 0x40) dst.nChannels = dst.nChannels == 1 ? 2 : 1;
    }
    dst.nBlockAlign = static_cast<WORD>(dst.nChannels * dst.wBitsPerSample / 8);
    dst.nAvgBytesPerSec = dst.nSamplesPerSec * dst.nBlockAlign;
    dst.cbSize = 0;

    const DWORD openFlags = (c.flags & 0x20) ? ACM_STREAMOPENF_NONREALTIME : 0;
    const MMRESULT query = acmStreamOpen(nullptr, nullptr, src, &dst, nullptr, 0, 0,
                                         openFlags | ACM_STREAMOPENF_QUERY);
    HACMSTREAM has = nullptr;
    const MMRESULT opened = acmStreamOpen(&has, nullptr, src, &dst, nullptr, 0, 0, openFlags);
    // An open the query allowed fails only as the codec library's refusal to set the stream up
    // (MMSYSERR_NOMEM); one the query refused never opens.
    Check(query == MMSYSERR_NOERROR ? opened == MMSYSERR_NOERROR || opened == MMSYSERR_NOMEM
                                    : opened != MMSYSERR_NOERROR,
          "the query and the open disagree");
    if (opened != MMSYSERR_NOERROR) {
        Check(has == nullptr, "a refused open left a handle");
        return 0;
    }
    Check(has != nullptr, "an open stream has no handle");

    std::vector<BYTE> out;
    // One header through prepare, convert, unprepare; returns the bytes taken and written.
    auto convert = [&](const BYTE* from, DWORD length, DWORD room, DWORD flags, DWORD* taken,
                       DWORD* written) {
        std::vector<BYTE> source(from, from + length); // exactly length bytes: ASan sees overreads
        out.assign(room, 0);
        ACMSTREAMHEADER h{};
        h.cbStruct = sizeof h;
        h.pbSrc = source.data();
        h.cbSrcLength = length;
        h.pbDst = out.data();
        h.cbDstLength = room;
        const MMRESULT prepared = acmStreamPrepareHeader(has, &h, 0);
        if (prepared != MMSYSERR_NOERROR) return prepared;
        const MMRESULT r = acmStreamConvert(has, &h, flags);
        Check(r != MMSYSERR_NOERROR || (h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE),
              "a converted header is not done");
        Check(acmStreamUnprepareHeader(has, &h, 0) == MMSYSERR_NOERROR, "unprepare failed");
        if (r != MMSYSERR_NOERROR) return r;
        Check(h.cbSrcLengthUsed <= length, "took more source than given");
        Check(h.cbDstLengthUsed <= room, "wrote more than the room");
        *taken = h.cbSrcLengthUsed;
        *written = h.cbDstLengthUsed;
        return r;
    };
    auto roomFor = [&](DWORD length, std::uint8_t step) {
        DWORD bound = 0;
        if (step & 1 || acmStreamSize(has, std::max<DWORD>(length, 1), &bound,
                                      ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
            bound = 1 + step * 7u; // less than needed: the stream holds the rest
        return std::min(bound, kMaxRoom);
    };

    // The data in pieces; a piece the stream does not take (BLOCKALIGN, less than a block) grows.
    std::size_t at = 0;
    DWORD piece = 1 + c.srcStep * 13u;
    bool first = true;
    for (int guard = 0; at < n && guard < 4096; ++guard) {
        const DWORD length = static_cast<DWORD>(std::min<std::size_t>(piece, n - at));
        DWORD flags = first ? ACM_STREAMCONVERTF_START : 0;
        if (c.flags & 1) flags |= ACM_STREAMCONVERTF_BLOCKALIGN;
        DWORD taken = 0, written = 0;
        if (convert(in + at, length, roomFor(length, c.dstStep), flags, &taken, &written) !=
            MMSYSERR_NOERROR)
            break;
        first = false;
        at += taken;
        if (taken == 0 && written == 0) {
            if (length == n - at) break; // less than a block left
            piece = std::min<DWORD>(piece * 2, kMaxRoom);
        }
        if ((c.flags & 2) && guard == 3) {
            Check(acmStreamReset(has, 0) == MMSYSERR_NOERROR, "reset failed");
            first = true;
        }
    }
    // Drained: END with no source until nothing comes.
    bool drained = false, failed = false;
    for (int guard = 0; guard < 4096 && !drained && !failed; ++guard) {
        DWORD taken = 0, written = 0;
        failed = convert(in, 0, std::max<DWORD>(roomFor(0, c.dstStep), 4096),
                         ACM_STREAMCONVERTF_END, &taken, &written) != MMSYSERR_NOERROR;
        drained = written == 0;
    }
    Check(drained || failed, "END never drains");
    Check(acmStreamClose(has, 0) == MMSYSERR_NOERROR, "close failed");
    return 0;
}
