#pragma once
// The multimedia API of the platform: waveform audio, mixers, aux and MIDI device capabilities,
// error texts, multimedia timers and the high-resolution counter. Names, records, constants and
// result codes are those of the platform API, so the audio library reads like its description.
// Records are the 8-bit ("A") variants; text is UTF-8. Records are byte-packed as on the platform.
//
// Threads: every function may be called from any thread. Wave callbacks (CALLBACK_FUNCTION) run on
// a platform thread (the backend's; see platform/api/AudioBackend.h) or, for
// waveOutReset/waveInReset and the open/close notices, inside the call on the caller's thread.
// CALLBACK_WINDOW messages are posted (PostMessage). Do not call wave functions from inside a
// CALLBACK_FUNCTION callback other than the ones that only queue (waveOutWrite, waveInAddBuffer) or
// read (GetPosition).
#include "platform/api/mmreg.h"
#include "platform/api/windef.h"

#include <cstddef>
#include <cstdint>

using MMRESULT = UINT;
using MCIERROR = DWORD;
using LPSTR = char*;
using LPCSTR = const char*;
using LPUINT = UINT*;
using LONGLONG = std::int64_t;
using MMVERSION = UINT;

// Opaque device handles, checked against a table: a stale handle is refused, never dereferenced.
#define AV_DECLARE_HANDLE(name)                                                                    \
    struct name##__;                                                                               \
    using name = name##__*
AV_DECLARE_HANDLE(HWAVEOUT);
AV_DECLARE_HANDLE(HWAVEIN);
AV_DECLARE_HANDLE(HMIXER);
AV_DECLARE_HANDLE(HMIXEROBJ);
AV_DECLARE_HANDLE(HMIDIOUT);
AV_DECLARE_HANDLE(HMIDIIN);
AV_DECLARE_HANDLE(HDRVR);
#undef AV_DECLARE_HANDLE
using LPHWAVEOUT = HWAVEOUT*;
using LPHWAVEIN = HWAVEIN*;
using LPHMIXER = HMIXER*;

// ---- Result codes -------------------------------------------------------------------------------
constexpr MMRESULT MMSYSERR_BASE = 0;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
constexpr MMRESULT MMSYSERR_INVALIDALIAS = 13;
constexpr MMRESULT MMSYSERR_BADDB = 14;
constexpr MMRESULT MMSYSERR_KEYNOTFOUND = 15;
constexpr MMRESULT MMSYSERR_READERROR = 16;
constexpr MMRESULT MMSYSERR_WRITEERROR = 17;
constexpr MMRESULT MMSYSERR_DELETEERROR = 18;
constexpr MMRESULT MMSYSERR_VALNOTFOUND = 19;
constexpr MMRESULT MMSYSERR_NODRIVERCB = 20;
constexpr MMRESULT MMSYSERR_MOREDATA = 21;
constexpr MMRESULT MMSYSERR_LASTERROR = 21;

constexpr MMRESULT WAVERR_BASE = 32;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;
constexpr MMRESULT WAVERR_LASTERROR = 35;

constexpr MMRESULT MIDIERR_BASE = 64;
constexpr MMRESULT TIMERR_BASE = 96;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT TIMERR_STRUCT = 129;
constexpr MMRESULT MCIERR_BASE = 256;

constexpr MMRESULT MIXERR_BASE = 1024;
constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;
constexpr MMRESULT MIXERR_LASTERROR = 1026;

constexpr UINT MAXPNAMELEN = 32;
constexpr UINT MAXERRORLENGTH = 256;

// ---- Callbacks ----------------------------------------------------------------------------------
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_TASK = 0x00020000;
constexpr DWORD CALLBACK_THREAD = 0x00020000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD CALLBACK_EVENT = 0x00050000;

// The callback procedure of wave devices: (handle, message, instance, parameter 1, parameter 2).
using DRVCALLBACK = void(HDRVR hdrvr, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1, DWORD_PTR dw2);
using LPDRVCALLBACK = DRVCALLBACK*;
using WAVECALLBACK = DRVCALLBACK;
using LPWAVECALLBACK = WAVECALLBACK*;

// ---- Messages -----------------------------------------------------------------------------------
constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;
constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;
// Broadcast to every listening window (ListenForBroadcasts) whenever audio devices came or went,
// or the sound server went or came back: wParam DBT_DEVNODES_CHANGED.
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr WPARAM DBT_DEVNODES_CHANGED = 0x0007;
constexpr UINT WOM_OPEN = MM_WOM_OPEN;
constexpr UINT WOM_CLOSE = MM_WOM_CLOSE;
constexpr UINT WOM_DONE = MM_WOM_DONE;
constexpr UINT WIM_OPEN = MM_WIM_OPEN;
constexpr UINT WIM_CLOSE = MM_WIM_CLOSE;
constexpr UINT WIM_DATA = MM_WIM_DATA;

// ---- Waveform audio -----------------------------------------------------------------------------
constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_ALLOWSYNC = 0x0002;
constexpr DWORD WAVE_MAPPED = 0x0004;
constexpr DWORD WAVE_FORMAT_DIRECT = 0x0008;

// Standard formats in the capability records (rate class, mono/stereo, 8/16 bits).
constexpr DWORD WAVE_INVALIDFORMAT = 0x00000000;
constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;
constexpr DWORD WAVE_FORMAT_44M08 = WAVE_FORMAT_4M08;
constexpr DWORD WAVE_FORMAT_44S08 = WAVE_FORMAT_4S08;
constexpr DWORD WAVE_FORMAT_44M16 = WAVE_FORMAT_4M16;
constexpr DWORD WAVE_FORMAT_44S16 = WAVE_FORMAT_4S16;
constexpr DWORD WAVE_FORMAT_48M08 = 0x00001000;
constexpr DWORD WAVE_FORMAT_48S08 = 0x00002000;
constexpr DWORD WAVE_FORMAT_48M16 = 0x00004000;
constexpr DWORD WAVE_FORMAT_48S16 = 0x00008000;
constexpr DWORD WAVE_FORMAT_96M08 = 0x00010000;
constexpr DWORD WAVE_FORMAT_96S08 = 0x00020000;
constexpr DWORD WAVE_FORMAT_96M16 = 0x00040000;
constexpr DWORD WAVE_FORMAT_96S16 = 0x00080000;

constexpr DWORD WAVECAPS_PITCH = 0x0001;
constexpr DWORD WAVECAPS_PLAYBACKRATE = 0x0002;
constexpr DWORD WAVECAPS_VOLUME = 0x0004;
constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;
constexpr DWORD WAVECAPS_SYNC = 0x0010;
constexpr DWORD WAVECAPS_SAMPLEACCURATE = 0x0020;

constexpr DWORD WHDR_DONE = 0x00000001;
constexpr DWORD WHDR_PREPARED = 0x00000002;
constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
constexpr DWORD WHDR_ENDLOOP = 0x00000008;
constexpr DWORD WHDR_INQUEUE = 0x00000010;

constexpr UINT TIME_MS = 0x0001;
constexpr UINT TIME_SAMPLES = 0x0002;
constexpr UINT TIME_BYTES = 0x0004;
constexpr UINT TIME_SMPTE = 0x0008;
constexpr UINT TIME_MIDI = 0x0010;
constexpr UINT TIME_TICKS = 0x0020;

#pragma pack(push, 1)
struct WAVEHDR {
    LPSTR lpData;          // the audio data
    DWORD dwBufferLength;  // length of the data
    DWORD dwBytesRecorded; // input: bytes filled
    DWORD_PTR dwUser;
    DWORD dwFlags; // WHDR_*
    DWORD dwLoops;
    WAVEHDR* lpNext; // reserved for the platform
    DWORD_PTR reserved;
};
using PWAVEHDR = WAVEHDR*;
using LPWAVEHDR = WAVEHDR*;

struct WAVEOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwFormats; // WAVE_FORMAT_1M08 ...
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport; // WAVECAPS_*
};
using WAVEOUTCAPS = WAVEOUTCAPSA;
using LPWAVEOUTCAPSA = WAVEOUTCAPSA*;
using LPWAVEOUTCAPS = WAVEOUTCAPSA*;

struct WAVEINCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
};
using WAVEINCAPS = WAVEINCAPSA;
using LPWAVEINCAPSA = WAVEINCAPSA*;
using LPWAVEINCAPS = WAVEINCAPSA*;

struct MMTIME {
    UINT wType; // TIME_*
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour, min, sec, frame, fps, dummy;
            BYTE pad[2];
        } smpte;
        struct {
            DWORD songptrpos;
        } midi;
    } u;
};
using LPMMTIME = MMTIME*;
#pragma pack(pop)

static_assert(sizeof(WAVEOUTCAPSA) == 52);
static_assert(sizeof(WAVEINCAPSA) == 48);
static_assert(offsetof(WAVEOUTCAPSA, szPname) == 8);
static_assert(sizeof(MMTIME) == 12);
// Pointer-sized fields follow the word size: 32 bytes with 32-bit pointers, 48 with 64-bit ones.
static_assert(offsetof(WAVEHDR, dwFlags) == 2 * sizeof(void*) + 8);
static_assert(sizeof(WAVEHDR) == 4 * sizeof(void*) + 4 * sizeof(DWORD));

// ---- Aux and MIDI capabilities ------------------------------------------------------------------
constexpr WORD AUXCAPS_CDAUDIO = 1;
constexpr WORD AUXCAPS_AUXIN = 2;
constexpr DWORD AUXCAPS_VOLUME = 0x0001;
constexpr DWORD AUXCAPS_LRVOLUME = 0x0002;
constexpr WORD MOD_MIDIPORT = 1;
constexpr WORD MOD_SYNTH = 2;
constexpr WORD MOD_SQSYNTH = 3;
constexpr WORD MOD_FMSYNTH = 4;
constexpr WORD MOD_MAPPER = 5;
constexpr WORD MOD_WAVETABLE = 6;
constexpr WORD MOD_SWSYNTH = 7;
constexpr UINT MIDI_MAPPER = 0xFFFFFFFFu;
constexpr UINT AUX_MAPPER = 0xFFFFFFFFu;

#pragma pack(push, 1)
struct AUXCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    WORD wTechnology;
    WORD wReserved1;
    DWORD dwSupport;
};
struct MIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};
struct MIDIINCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwSupport;
};
#pragma pack(pop)
using AUXCAPS = AUXCAPSA;
using MIDIOUTCAPS = MIDIOUTCAPSA;
using MIDIINCAPS = MIDIINCAPSA;
static_assert(sizeof(AUXCAPSA) == 48);
static_assert(sizeof(MIDIOUTCAPSA) == 52);
static_assert(sizeof(MIDIINCAPSA) == 44);

// ---- Mixer --------------------------------------------------------------------------------------
constexpr UINT MIXER_SHORT_NAME_CHARS = 16;
constexpr UINT MIXER_LONG_NAME_CHARS = 64;

constexpr DWORD MIXER_OBJECTF_HANDLE = 0x80000000;
constexpr DWORD MIXER_OBJECTF_MIXER = 0x00000000;
constexpr DWORD MIXER_OBJECTF_HMIXER = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIXER;
constexpr DWORD MIXER_OBJECTF_WAVEOUT = 0x10000000;
constexpr DWORD MIXER_OBJECTF_HWAVEOUT = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_WAVEOUT;
constexpr DWORD MIXER_OBJECTF_WAVEIN = 0x20000000;
constexpr DWORD MIXER_OBJECTF_HWAVEIN = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_WAVEIN;
constexpr DWORD MIXER_OBJECTF_MIDIOUT = 0x30000000;
constexpr DWORD MIXER_OBJECTF_HMIDIOUT = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIDIOUT;
constexpr DWORD MIXER_OBJECTF_MIDIIN = 0x40000000;
constexpr DWORD MIXER_OBJECTF_HMIDIIN = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIDIIN;
constexpr DWORD MIXER_OBJECTF_AUX = 0x50000000;
constexpr DWORD MIXER_OBJECTF_TYPEMASK = 0xF0000000; // the object part of the flag words

constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x00000001;
constexpr DWORD MIXERLINE_LINEF_DISCONNECTED = 0x00008000;
constexpr DWORD MIXERLINE_LINEF_SOURCE = 0x80000000;

constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_FIRST = 0x00000000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0x00000000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_DIGITAL = 0x00000001;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_LINE = 0x00000002;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_MONITOR = 0x00000003;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 0x00000004;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 0x00000005;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_TELEPHONE = 0x00000006;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 0x00000007;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_VOICEIN = 0x00000008;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_LAST = 0x00000008;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_FIRST = 0x00001000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x00001000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x00001001;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x00001002;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x00001003;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x00001004;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x00001005;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x00001006;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x00001007;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x00001008;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x00001009;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x0000100A;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_LAST = 0x0000100A;

constexpr DWORD MIXERLINE_TARGETTYPE_UNDEFINED = 0;
constexpr DWORD MIXERLINE_TARGETTYPE_WAVEOUT = 1;
constexpr DWORD MIXERLINE_TARGETTYPE_WAVEIN = 2;
constexpr DWORD MIXERLINE_TARGETTYPE_MIDIOUT = 3;
constexpr DWORD MIXERLINE_TARGETTYPE_MIDIIN = 4;
constexpr DWORD MIXERLINE_TARGETTYPE_AUX = 5;

constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0x00000000;
constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 0x00000001;
constexpr DWORD MIXER_GETLINEINFOF_LINEID = 0x00000002;
constexpr DWORD MIXER_GETLINEINFOF_COMPONENTTYPE = 0x00000003;
constexpr DWORD MIXER_GETLINEINFOF_TARGETTYPE = 0x00000004;
constexpr DWORD MIXER_GETLINEINFOF_QUERYMASK = 0x0000000F;

constexpr DWORD MIXER_GETLINECONTROLSF_ALL = 0x00000000;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYID = 0x00000001;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 0x00000002;
constexpr DWORD MIXER_GETLINECONTROLSF_QUERYMASK = 0x0000000F;

constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0x00000000;
constexpr DWORD MIXER_GETCONTROLDETAILSF_LISTTEXT = 0x00000001;
constexpr DWORD MIXER_GETCONTROLDETAILSF_QUERYMASK = 0x0000000F;
constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0x00000000;
constexpr DWORD MIXER_SETCONTROLDETAILSF_CUSTOM = 0x00000001;
constexpr DWORD MIXER_SETCONTROLDETAILSF_QUERYMASK = 0x0000000F;

constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr DWORD MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

constexpr DWORD MIXERCONTROL_CT_CLASS_MASK = 0xF0000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_CUSTOM = 0x00000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_METER = 0x10000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_SWITCH = 0x20000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_NUMBER = 0x30000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_SLIDER = 0x40000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_FADER = 0x50000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_TIME = 0x60000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_LIST = 0x70000000;
constexpr DWORD MIXERCONTROL_CT_SUBCLASS_MASK = 0x0F000000;
constexpr DWORD MIXERCONTROL_CT_SC_SWITCH_BOOLEAN = 0x00000000;
constexpr DWORD MIXERCONTROL_CT_SC_SWITCH_BUTTON = 0x01000000;
constexpr DWORD MIXERCONTROL_CT_SC_METER_POLLED = 0x00000000;
constexpr DWORD MIXERCONTROL_CT_SC_TIME_MICROSECS = 0x00000000;
constexpr DWORD MIXERCONTROL_CT_SC_TIME_MILLISECS = 0x01000000;
constexpr DWORD MIXERCONTROL_CT_SC_LIST_SINGLE = 0x00000000;
constexpr DWORD MIXERCONTROL_CT_SC_LIST_MULTIPLE = 0x01000000;
constexpr DWORD MIXERCONTROL_CT_UNITS_MASK = 0x00FF0000;
constexpr DWORD MIXERCONTROL_CT_UNITS_CUSTOM = 0x00000000;
constexpr DWORD MIXERCONTROL_CT_UNITS_BOOLEAN = 0x00010000;
constexpr DWORD MIXERCONTROL_CT_UNITS_SIGNED = 0x00020000;
constexpr DWORD MIXERCONTROL_CT_UNITS_UNSIGNED = 0x00030000;
constexpr DWORD MIXERCONTROL_CT_UNITS_DECIBELS = 0x00040000;
constexpr DWORD MIXERCONTROL_CT_UNITS_PERCENT = 0x00050000;

constexpr DWORD MIXERCONTROL_CONTROLTYPE_CUSTOM = 0x00000000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_BOOLEANMETER = 0x10010000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_SIGNEDMETER = 0x10020000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_PEAKMETER = 0x10020001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_UNSIGNEDMETER = 0x10030000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_BOOLEAN = 0x20010000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_ONOFF = 0x20010001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MONO = 0x20010003;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_LOUDNESS = 0x20010004;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_STEREOENH = 0x20010005;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_BUTTON = 0x21010000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_DECIBELS = 0x30040000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_SIGNED = 0x30020000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_UNSIGNED = 0x30030000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_PERCENT = 0x30050000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_SLIDER = 0x40020000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_PAN = 0x40020001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_QSOUNDPAN = 0x40020002;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_FADER = 0x50030000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_BASS = 0x50030002;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_TREBLE = 0x50030003;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_EQUALIZER = 0x50030004;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_SINGLESELECT = 0x70010000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT = 0x71010000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MICROTIME = 0x60030000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MILLITIME = 0x61030000;

#pragma pack(push, 1)
struct MIXERCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD fdwSupport;
    DWORD cDestinations;
};
using MIXERCAPS = MIXERCAPSA;
using LPMIXERCAPSA = MIXERCAPSA*;
using LPMIXERCAPS = MIXERCAPSA*;

struct MIXERLINEA {
    DWORD cbStruct;      // size of this record, set by the caller
    DWORD dwDestination; // destination index
    DWORD dwSource;      // source index (source lines)
    DWORD dwLineID;
    DWORD fdwLine; // MIXERLINE_LINEF_*
    DWORD_PTR dwUser;
    DWORD dwComponentType;
    DWORD cChannels;
    DWORD cConnections; // sources of a destination
    DWORD cControls;
    CHAR szShortName[MIXER_SHORT_NAME_CHARS];
    CHAR szName[MIXER_LONG_NAME_CHARS];
    struct {
        DWORD dwType; // MIXERLINE_TARGETTYPE_*
        DWORD dwDeviceID;
        WORD wMid;
        WORD wPid;
        MMVERSION vDriverVersion;
        CHAR szPname[MAXPNAMELEN];
    } Target;
};
using MIXERLINE = MIXERLINEA;
using LPMIXERLINEA = MIXERLINEA*;
using LPMIXERLINE = MIXERLINEA*;

struct MIXERCONTROLA {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD dwControlType;
    DWORD fdwControl; // MIXERCONTROL_CONTROLF_*
    DWORD cMultipleItems;
    CHAR szShortName[MIXER_SHORT_NAME_CHARS];
    CHAR szName[MIXER_LONG_NAME_CHARS];
    union {
        struct {
            LONG lMinimum;
            LONG lMaximum;
        };
        struct {
            DWORD dwMinimum;
            DWORD dwMaximum;
        };
        DWORD dwReserved[6];
    } Bounds;
    union {
        DWORD cSteps;
        DWORD cbCustomData;
        DWORD dwReserved[6];
    } Metrics;
};
using MIXERCONTROL = MIXERCONTROLA;
using LPMIXERCONTROLA = MIXERCONTROLA*;
using LPMIXERCONTROL = MIXERCONTROLA*;

struct MIXERLINECONTROLSA {
    DWORD cbStruct;
    DWORD dwLineID;
    union {
        DWORD dwControlID;   // MIXER_GETLINECONTROLSF_ONEBYID
        DWORD dwControlType; // MIXER_GETLINECONTROLSF_ONEBYTYPE
    };
    DWORD cControls; // records in pamxctrl
    DWORD cbmxctrl;  // size of one record
    LPMIXERCONTROLA pamxctrl;
};
using MIXERLINECONTROLS = MIXERLINECONTROLSA;
using LPMIXERLINECONTROLSA = MIXERLINECONTROLSA*;
using LPMIXERLINECONTROLS = MIXERLINECONTROLSA*;

struct MIXERCONTROLDETAILS {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD cChannels; // 1 = all channels as one
    union {
        HWND hwndOwner;
        DWORD cMultipleItems; // items of a list control, 0 otherwise
    };
    DWORD cbDetails;  // size of one element
    LPVOID paDetails; // cChannels x cMultipleItems elements, item-major
};
using LPMIXERCONTROLDETAILS = MIXERCONTROLDETAILS*;

struct MIXERCONTROLDETAILS_LISTTEXTA {
    DWORD dwParam1; // for mixer and multiplexer lists: the line id of the item's source
    DWORD dwParam2; // its component type
    CHAR szName[MIXER_LONG_NAME_CHARS];
};
using MIXERCONTROLDETAILS_LISTTEXT = MIXERCONTROLDETAILS_LISTTEXTA;
struct MIXERCONTROLDETAILS_BOOLEAN {
    LONG fValue;
};
struct MIXERCONTROLDETAILS_SIGNED {
    LONG lValue;
};
struct MIXERCONTROLDETAILS_UNSIGNED {
    DWORD dwValue;
};
#pragma pack(pop)

static_assert(sizeof(MIXERCAPSA) == 48);
static_assert(sizeof(MIXERCONTROLA) == 148);
static_assert(offsetof(MIXERCONTROLA, Bounds) == 100);
static_assert(offsetof(MIXERCONTROLA, Metrics) == 124);
static_assert(sizeof(MIXERLINEA) == 164 + sizeof(DWORD_PTR)); // 168 with 32-bit pointers
static_assert(offsetof(MIXERLINEA, dwComponentType) == 20 + sizeof(DWORD_PTR));
static_assert(sizeof(MIXERLINECONTROLSA) == 20 + sizeof(void*));
static_assert(sizeof(MIXERCONTROLDETAILS) == 16 + sizeof(HWND) + sizeof(void*));
static_assert(sizeof(MIXERCONTROLDETAILS_LISTTEXTA) == 72);
static_assert(sizeof(MIXERCONTROLDETAILS_UNSIGNED) == 4);

// ---- Timers -------------------------------------------------------------------------------------
constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr UINT TIME_CALLBACK_FUNCTION = 0x0000;
constexpr UINT TIME_KILL_SYNCHRONOUS = 0x0100;

// Timer callback: (timer id, 0, user value, 0, 0). Runs on the platform's timer thread.
using TIMECALLBACK = void(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1, DWORD_PTR dw2);
using LPTIMECALLBACK = TIMECALLBACK*;

struct TIMECAPS {
    UINT wPeriodMin;
    UINT wPeriodMax;
};
using LPTIMECAPS = TIMECAPS*;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
};

// ---- Functions ----------------------------------------------------------------------------------
// Wave output. Device ids are 0 .. waveOutGetNumDevs()-1 or WAVE_MAPPER; GetDevCaps also takes an
// open handle in place of the id. Caps records are filled up to cb bytes, so a shorter buffer
// receives the common head.
UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc);
MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);
MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutBreakLoop(HWAVEOUT hwo);
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt);
MMRESULT waveOutGetID(HWAVEOUT hwo, LPUINT puDeviceID);
inline MMRESULT waveOutGetDevCaps(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT cb) {
    return waveOutGetDevCapsA(id, caps, cb);
}
inline MMRESULT waveOutGetErrorText(MMRESULT err, LPSTR text, UINT cch) {
    return waveOutGetErrorTextA(err, text, cch);
}

// Wave input.
UINT waveInGetNumDevs();
MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic);
MMRESULT waveInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInClose(HWAVEIN hwi);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
MMRESULT waveInStop(HWAVEIN hwi);
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt);
MMRESULT waveInGetID(HWAVEIN hwi, LPUINT puDeviceID);
inline MMRESULT waveInGetDevCaps(UINT_PTR id, LPWAVEINCAPSA caps, UINT cb) {
    return waveInGetDevCapsA(id, caps, cb);
}
inline MMRESULT waveInGetErrorText(MMRESULT err, LPSTR text, UINT cch) {
    return waveInGetErrorTextA(err, text, cch);
}

// Mixers. An object is named by hmxobj and the MIXER_OBJECTF_* part of the flags: a mixer id or
// handle, or a wave, MIDI or aux device id or handle (then the mixer that serves it).
UINT mixerGetNumDevs();
MMRESULT mixerGetDevCapsA(UINT_PTR uMxId, LPMIXERCAPSA pmxcaps, UINT cbmxcaps);
MMRESULT mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                   DWORD fdwOpen);
MMRESULT mixerClose(HMIXER hmx);
MMRESULT mixerGetID(HMIXEROBJ hmxobj, UINT* puMxId, DWORD fdwId);
MMRESULT mixerGetLineInfoA(HMIXEROBJ hmxobj, LPMIXERLINEA pmxl, DWORD fdwInfo);
MMRESULT mixerGetLineControlsA(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSA pmxlc, DWORD fdwControls);
MMRESULT mixerGetControlDetailsA(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails);
MMRESULT mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails);
inline MMRESULT mixerGetDevCaps(UINT_PTR id, LPMIXERCAPSA caps, UINT cb) {
    return mixerGetDevCapsA(id, caps, cb);
}
inline MMRESULT mixerGetLineInfo(HMIXEROBJ o, LPMIXERLINEA l, DWORD f) {
    return mixerGetLineInfoA(o, l, f);
}
inline MMRESULT mixerGetLineControls(HMIXEROBJ o, LPMIXERLINECONTROLSA c, DWORD f) {
    return mixerGetLineControlsA(o, c, f);
}
inline MMRESULT mixerGetControlDetails(HMIXEROBJ o, LPMIXERCONTROLDETAILS d, DWORD f) {
    return mixerGetControlDetailsA(o, d, f);
}

// Aux and MIDI devices: counts and capabilities only.
UINT auxGetNumDevs();
MMRESULT auxGetDevCapsA(UINT_PTR uDeviceID, AUXCAPSA* pac, UINT cbac);
UINT midiOutGetNumDevs();
MMRESULT midiOutGetDevCapsA(UINT_PTR uDeviceID, MIDIOUTCAPSA* pmoc, UINT cbmoc);
UINT midiInGetNumDevs();
MMRESULT midiInGetDevCapsA(UINT_PTR uDeviceID, MIDIINCAPSA* pmic, UINT cbmic);
inline MMRESULT auxGetDevCaps(UINT_PTR id, AUXCAPSA* caps, UINT cb) {
    return auxGetDevCapsA(id, caps, cb);
}
inline MMRESULT midiOutGetDevCaps(UINT_PTR id, MIDIOUTCAPSA* caps, UINT cb) {
    return midiOutGetDevCapsA(id, caps, cb);
}
inline MMRESULT midiInGetDevCaps(UINT_PTR id, MIDIINCAPSA* caps, UINT cb) {
    return midiInGetDevCapsA(id, caps, cb);
}

// Error text of any multimedia result code; FALSE (and an empty text) for an unknown code.
BOOL mciGetErrorStringA(MCIERROR mcierr, LPSTR pszText, UINT cchText);
inline BOOL mciGetErrorString(MCIERROR e, LPSTR t, UINT c) {
    return mciGetErrorStringA(e, t, c);
}

// Multimedia timers. timeSetEvent returns the timer id, 0 on failure. Periodic timers keep their
// period without drift (absolute deadlines). timeKillEvent may be called from inside the callback;
// called from another thread it returns only after a running callback has finished, and the
// callback is not called again.
MMRESULT timeSetEvent(UINT uDelay, UINT uResolution, LPTIMECALLBACK lpTimeProc, DWORD_PTR dwUser,
                      UINT fuEvent);
MMRESULT timeKillEvent(UINT uTimerID);
MMRESULT timeBeginPeriod(UINT uPeriod);
MMRESULT timeEndPeriod(UINT uPeriod);
MMRESULT timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc);
DWORD timeGetTime(); // milliseconds since an arbitrary start, wrapping at 2^32

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
