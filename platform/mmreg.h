#pragma once
// The waveform format record shared by the wave devices, the converters and the PCM routines.
// Kept apart from the multimedia API so the sample routines can use it without the device calls.
#include "platform/windef.h"

#include <cstddef>

constexpr WORD WAVE_FORMAT_UNKNOWN = 0x0000;
constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = 0x0011;
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
