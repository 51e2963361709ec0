#pragma once
// The audio compression manager: format suggestions and conversion streams between wave formats,
// with the platform's names, records, flags and result codes. Decoding is done by the field's codec
// library and every PCM to PCM step by its resampler (platform/acm).
//
// Offered directions (others answer ACMERR_NOTPOSSIBLE):
// - PCM of 8, 16, 24 or 32 bits, IEEE float of 32 or 64 bits, and the extensible record naming
//   either, 1..8 channels, to PCM of 8 or 16 bits, 1 or 2 channels, any rate (1000..384000 Hz);
// - Microsoft ADPCM (standard coefficients), IMA ADPCM, A-law, mu-law, GSM 6.10 and MPEG Layer 3
//   (and the extensible record naming one of them) to PCM of 8 or 16 bits with the source's
//   channels and rate; a change of rate or channels then takes a second stream.
//
// Conversion is synchronous: a stream is done with a header when acmStreamConvert returns.
// Threads: every function may be called from any thread; one stream is converted by one thread at a
// time (calls on the same stream are serialised).
#include "platform/api/mmreg.h"
#include "platform/api/mmsystem.h"

struct HACMDRIVERID__;
using HACMDRIVERID = HACMDRIVERID__*;
struct HACMDRIVER__;
using HACMDRIVER = HACMDRIVER__*;
using LPHACMDRIVER = HACMDRIVER*;
struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;
using LPHACMSTREAM = HACMSTREAM*;
struct HACMOBJ__;
using HACMOBJ = HACMOBJ__*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;

// ---- Result codes -------------------------------------------------------------------------------
constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

// ---- Version ------------------------------------------------------------------------------------
// 0xMMmmBBBB: major, minor, build.
DWORD acmGetVersion();

// ---- Format suggestion --------------------------------------------------------------------------
// The flags name the fields of *pwfxDst that the suggestion must keep.
constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_FORMATSUGGESTF_TYPEMASK = 0x00FF0000;

// Fills *pwfxDst (cbwfxDst bytes, at least 16; cbSize is written when 18 or more) with a format
// pwfxSrc converts to directly. had must be null (all drivers).
MMRESULT acmFormatSuggest(HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest);

// ---- Streams ------------------------------------------------------------------------------------
#pragma pack(push, 1)
struct WAVEFILTER {
    DWORD cbStruct;
    DWORD dwFilterTag;
    DWORD fdwFilter;
    DWORD dwReserved[5];
};
using LPWAVEFILTER = WAVEFILTER*;

constexpr int _DRVRESERVED = 15; // the 64-bit platform's count
struct ACMSTREAMHEADER {
    DWORD cbStruct;  // sizeof(ACMSTREAMHEADER)
    DWORD fdwStatus; // ACMSTREAMHEADER_STATUSF_*
    DWORD_PTR dwUser;
    LPBYTE pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed; // set by the conversion: source bytes taken
    DWORD_PTR dwSrcUser;
    LPBYTE pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed; // set by the conversion: destination bytes written
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[_DRVRESERVED]; // the manager's: the prepared lengths
};
#pragma pack(pop)
using PACMSTREAMHEADER = ACMSTREAMHEADER*;
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;
static_assert(sizeof(WAVEFILTER) == 32);
static_assert(sizeof(ACMSTREAMHEADER) == 124);

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr DWORD ACM_STREAMSIZEF_QUERYMASK = 0x0000000F;

constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

// Opens a stream pwfxSrc -> pwfxDst, or with ACM_STREAMOPENF_QUERY only answers whether it can
// (phas may then be null). ACM_STREAMOPENF_NONREALTIME asks for the better, slower resampling
// filter. ACM_STREAMOPENF_ASYNC and filters are not offered (ACMERR_NOTPOSSIBLE); had must be null.
MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc,
                       LPWAVEFORMATEX pwfxDst, LPWAVEFILTER pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);

// ACM_STREAMSIZEF_SOURCE: destination bytes enough for cbInput source bytes;
// ACM_STREAMSIZEF_DESTINATION: source bytes that fill about cbInput destination bytes.
// ACMERR_NOTPOSSIBLE when the answer would be 0 bytes.
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize);

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare);

// Converts pbSrc/cbSrcLength into pbDst/cbDstLength. Output that does not fit is held by the stream
// and comes first in the next call; source is taken only while there is room, so cbSrcLengthUsed
// may be less than cbSrcLength. ACM_STREAMCONVERTF_BLOCKALIGN takes whole source blocks only
// (otherwise a partial block is kept by the stream); _START begins a new stream (drops what the
// stream held); _END drains the codec and the resampler: call again with _END and no source until
// cbDstLengthUsed is 0 to collect everything.
MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert);

// Drops everything the stream holds (pending output, codec and resampler state).
MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset);
