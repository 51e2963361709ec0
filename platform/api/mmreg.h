#pragma once
// The waveform format record shared by the wave devices, the converters and the PCM routines.
// Kept apart from the multimedia API so the sample routines can use it without the device calls.
#include "platform/api/guiddef.h"
#include "platform/api/windef.h"

#include <cstddef>

constexpr WORD WAVE_FORMAT_UNKNOWN = 0x0000;
constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = 0x0011;
constexpr WORD WAVE_FORMAT_DVI_ADPCM = 0x0011;
constexpr WORD WAVE_FORMAT_GSM610 = 0x0031;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// Packed to two bytes as on the platform: 18 bytes, with cbSize counting extra bytes that follow.
#pragma pack(push, 2)
struct WAVEFORMATEX {
    WORD wFormatTag;      // format type (WAVE_FORMAT_*)
    WORD nChannels;       // 1 mono, 2 stereo
    DWORD nSamplesPerSec; // sample frames per second
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign; // bytes per sample frame
    WORD wBitsPerSample;
    WORD cbSize; // bytes of format-specific data after this record
};

// The older record without cbSize, as found in 16-byte "fmt " chunks.
struct WAVEFORMAT {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
};
struct PCMWAVEFORMAT {
    WAVEFORMAT wf;
    WORD wBitsPerSample;
};
#pragma pack(pop)

using PWAVEFORMATEX = WAVEFORMATEX*;
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, wFormatTag) == 0);
static_assert(offsetof(WAVEFORMATEX, nChannels) == 2);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
static_assert(sizeof(WAVEFORMAT) == 14);
static_assert(sizeof(PCMWAVEFORMAT) == 16);

// ---- Records of the compressed formats (the bytes after WAVEFORMATEX that cbSize counts) --------
#pragma pack(push, 2)
struct ADPCMCOEFSET {
    short iCoef1;
    short iCoef2;
};
// Microsoft ADPCM: cbSize is 4 + 4 * wNumCoef (32 with the standard seven pairs).
struct ADPCMWAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD wSamplesPerBlock;
    WORD wNumCoef;
    ADPCMCOEFSET aCoef[1]; // wNumCoef pairs
};
struct IMAADPCMWAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD wSamplesPerBlock;
};
struct GSM610WAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD wSamplesPerBlock;
};

constexpr WORD MPEGLAYER3_WFX_EXTRA_BYTES = 12;
constexpr WORD MPEGLAYER3_ID_UNKNOWN = 0;
constexpr WORD MPEGLAYER3_ID_MPEG = 1;
constexpr WORD MPEGLAYER3_ID_CONSTANTFRAMESIZE = 2;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_ISO = 0x00000000;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_ON = 0x00000001;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_OFF = 0x00000002;
struct MPEGLAYER3WAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD wID;
    DWORD fdwFlags;
    WORD nBlockSize;
    WORD nFramesPerBlock;
    WORD nCodecDelay;
};

// The extensible record: cbSize 22; SubFormat names the real format (its first field is the tag).
struct WAVEFORMATEXTENSIBLE {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask; // SPEAKER_* bits, in channel order
    GUID SubFormat;
};
#pragma pack(pop)

static_assert(sizeof(ADPCMCOEFSET) == 4);
static_assert(sizeof(IMAADPCMWAVEFORMAT) == 20);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);

constexpr DWORD SPEAKER_FRONT_LEFT = 0x1;
constexpr DWORD SPEAKER_FRONT_RIGHT = 0x2;
constexpr DWORD SPEAKER_FRONT_CENTER = 0x4;
constexpr DWORD SPEAKER_LOW_FREQUENCY = 0x8;
constexpr DWORD SPEAKER_BACK_LEFT = 0x10;
constexpr DWORD SPEAKER_BACK_RIGHT = 0x20;
constexpr DWORD SPEAKER_FRONT_LEFT_OF_CENTER = 0x40;
constexpr DWORD SPEAKER_FRONT_RIGHT_OF_CENTER = 0x80;
constexpr DWORD SPEAKER_BACK_CENTER = 0x100;
constexpr DWORD SPEAKER_SIDE_LEFT = 0x200;
constexpr DWORD SPEAKER_SIDE_RIGHT = 0x400;

// The sub-format of a format tag: {tag-0000-0010-8000-00AA00389B71}.
constexpr GUID WaveSubFormat(WORD tag) {
    return GUID{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = WaveSubFormat(WAVE_FORMAT_PCM);
constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = WaveSubFormat(WAVE_FORMAT_IEEE_FLOAT);
constexpr GUID KSDATAFORMAT_SUBTYPE_ALAW = WaveSubFormat(WAVE_FORMAT_ALAW);
constexpr GUID KSDATAFORMAT_SUBTYPE_MULAW = WaveSubFormat(WAVE_FORMAT_MULAW);
constexpr GUID KSDATAFORMAT_SUBTYPE_ADPCM = WaveSubFormat(WAVE_FORMAT_ADPCM);
