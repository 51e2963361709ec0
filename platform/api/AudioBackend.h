#pragma once
// The sound system behind the multimedia API (platform/api/mmsystem.h). One backend serves the
// process: the simulated one (platform/sim) or the real one (platform/pulse), picked once at
// start-up from AVSETUP_BACKEND ("sim" or "real"; "real" by default). Tests install one explicitly.
//
// The API functions do everything that does not depend on the sound system: argument and record
// size checks, the handle tables (stale handles are refused), header flags (WHDR_PREPARED,
// WHDR_INQUEUE, WHDR_DONE), callback delivery of the three kinds, the open/close notices, position
// units and their 32-bit wrap, and the whole mixer query logic over the description a mixer device
// gives (line and control lookups, detail arrays per channel and item, clamping, single-select
// lists). A backend supplies devices, streams that move audio, and control values.
//
// Every default answers "not available": no devices, MMSYSERR_NODRIVER.
#include "platform/api/mmsystem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// ---- Wave streams -------------------------------------------------------------------------------

// What an open wave stream reports to the API layer, which sets the header flags and calls the
// application's callback.
class IWaveEvents {
public:
    virtual ~IWaveEvents() = default;
    // The stream has finished with the buffer: played it (output) or filled it, with
    // dwBytesRecorded set (input). Buffers are reported in the order they were queued, each once.
    // Called on the backend's thread, or on the caller's thread inside Reset/Stop/Close. Never
    // called after Close returned.
    virtual void BufferDone(WAVEHDR* hdr) = 0;
};

// An open wave output. Calls come from any thread, one at a time per stream.
class IWaveOutStream {
public:
    virtual ~IWaveOutStream() = default;
    // Queue a buffer behind the others (the API layer has checked and flagged it).
    virtual MMRESULT Write(WAVEHDR* hdr) = 0;
    virtual MMRESULT Pause() = 0;
    virtual MMRESULT Restart() = 0;
    // Stop, report every queued buffer done (before returning), position back to 0, not paused.
    virtual MMRESULT Reset() = 0;
    // Sample frames played since open or the last Reset.
    virtual MMRESULT GetPosition(std::uint64_t* frames) = 0;
    // The device's current index (ids shift when cards come and go); MMSYSERR_NODRIVER once the
    // device has gone, which every other call then answers too.
    virtual MMRESULT GetDeviceId(UINT* id) = 0;
    // Stop and release the device; buffers still queued are reported done first.
    virtual void Close() = 0;
};

// An open wave input.
class IWaveInStream {
public:
    virtual ~IWaveInStream() = default;
    virtual MMRESULT AddBuffer(WAVEHDR* hdr) = 0;
    virtual MMRESULT Start() = 0;
    // Stop recording; a partly filled current buffer is reported done, empty ones stay queued.
    virtual MMRESULT Stop() = 0;
    // Stop and report every queued buffer done; position back to 0.
    virtual MMRESULT Reset() = 0;
    // Sample frames recorded since open or the last Reset.
    virtual MMRESULT GetPosition(std::uint64_t* frames) = 0;
    virtual MMRESULT GetDeviceId(UINT* id) = 0;
    virtual void Close() = 0;
};

// ---- Mixers -------------------------------------------------------------------------------------

struct MixerItemDesc {
    DWORD param1 = 0; // mixer and multiplexer lists: the line id of the source the item selects
    DWORD param2 = 0; // its component type
    std::string name;
};

// Volume controls of every backend: values 0..65535, linear in amplitude, in 100 steps of 1 % (as
// desktop volume controls step), so a mixer slider's range is 0..100.
constexpr LONG kVolumeMaximum = 0xFFFF;
constexpr DWORD kVolumeSteps = 100;

struct MixerControlDesc {
    DWORD id = 0;    // unique within the mixer
    DWORD type = 0;  // MIXERCONTROL_CONTROLTYPE_*
    DWORD flags = 0; // MIXERCONTROL_CONTROLF_*; lists carry MULTIPLE and usually UNIFORM
    std::string shortName, name;
    LONG minimum = 0, maximum = 0;
    DWORD steps = 0;
    std::vector<MixerItemDesc> items; // list controls only
};

struct MixerLineDesc {
    DWORD destination = 0; // destination index (of the destination a source belongs to)
    DWORD source = 0;      // source index within its destination (sources only)
    DWORD lineId = 0;      // destinations: their index; sources: (source << 16) | destination
    DWORD flags = 0;       // MIXERLINE_LINEF_*
    DWORD componentType = 0;
    DWORD channels = 1;
    std::string shortName, name;
    DWORD targetType = MIXERLINE_TARGETTYPE_UNDEFINED;
    DWORD targetDeviceId = 0;
    WORD targetMid = 0, targetPid = 0;
    MMVERSION targetVersion = 0;
    std::string targetName;
    std::vector<MixerControlDesc> controls;
    std::vector<MixerLineDesc> sources; // destinations only
};

struct MixerDesc {
    WORD mid = 0, pid = 0;
    MMVERSION version = 0;
    std::string name;
    std::vector<MixerLineDesc> destinations;
};

// One mixer of the sound system. Shared between the backend and the open handles; outlives its
// card (then Present is false and calls answer MMSYSERR_NODRIVER). Any thread.
class IMixerDevice {
public:
    virtual ~IMixerDevice() = default;
    virtual bool Present() const = 0;
    // The mixer's current index; MMSYSERR_NODRIVER once gone.
    virtual MMRESULT GetId(UINT* id) const = 0;
    // Lines and controls. The structure is fixed for the device's life; target device ids follow
    // the current device numbering.
    virtual MixerDesc Description() const = 0;
    // Values of a control, item-major: items (1 when the control has none) x channels (1 when
    // uniform, else the line's channel count). Booleans as 0 or 1.
    virtual MMRESULT GetValues(DWORD controlId, std::vector<LONG>& values) = 0;
    // Store values the API layer has already clamped to the bounds. The device then posts the
    // change notice to the open handles (NotifyMixerControlChange), as a real mixer does.
    virtual MMRESULT SetValues(DWORD controlId, const std::vector<LONG>& values) = 0;
};

// ---- The backend --------------------------------------------------------------------------------

class IAudioBackend {
public:
    virtual ~IAudioBackend() = default;
    virtual std::string Name() const { return "none"; }
    // Whether the sound server behind the devices can be reached now (a backend without a server
    // of its own always can). Any thread.
    virtual bool ServerRunning() { return true; }

    // Wave devices. Ids are 0 .. count-1 or WAVE_MAPPER (present when the backend has a mapper and
    // at least one device; otherwise MMSYSERR_BADDEVICEID).
    virtual UINT WaveOutCount() { return 0; }
    virtual MMRESULT WaveOutCaps(UINT /*id*/, WAVEOUTCAPSA* /*caps*/) { return MMSYSERR_NODRIVER; }
    // With WAVE_FORMAT_QUERY in flags only checks the format (events and stream are null).
    // Results: MMSYSERR_BADDEVICEID, WAVERR_BADFORMAT, MMSYSERR_ALLOCATED, MMSYSERR_NODRIVER, ...
    virtual MMRESULT OpenWaveOut(UINT /*id*/, const WAVEFORMATEX& /*format*/, DWORD /*flags*/,
                                 IWaveEvents* /*events*/,
                                 std::unique_ptr<IWaveOutStream>* /*stream*/) {
        return MMSYSERR_NODRIVER;
    }
    virtual UINT WaveInCount() { return 0; }
    virtual MMRESULT WaveInCaps(UINT /*id*/, WAVEINCAPSA* /*caps*/) { return MMSYSERR_NODRIVER; }
    virtual MMRESULT OpenWaveIn(UINT /*id*/, const WAVEFORMATEX& /*format*/, DWORD /*flags*/,
                                IWaveEvents* /*events*/,
                                std::unique_ptr<IWaveInStream>* /*stream*/) {
        return MMSYSERR_NODRIVER;
    }

    // Mixers (no mixer mapper).
    virtual UINT MixerCount() { return 0; }
    virtual std::shared_ptr<IMixerDevice> Mixer(UINT /*id*/) { return nullptr; }
    // The mixer serving device id of another kind (objectType: MIXER_OBJECTF_WAVEOUT, _WAVEIN,
    // _MIDIOUT, _MIDIIN, _AUX; id may be the mapper). MMSYSERR_NODRIVER when none serves it.
    virtual MMRESULT MixerIdOf(DWORD /*objectType*/, UINT /*id*/, UINT* /*mixerId*/) {
        return MMSYSERR_NODRIVER;
    }

    // Aux and MIDI devices: counts and capabilities.
    virtual UINT AuxCount() { return 0; }
    virtual MMRESULT AuxCaps(UINT /*id*/, AUXCAPSA* /*caps*/) { return MMSYSERR_NODRIVER; }
    virtual UINT MidiOutCount() { return 0; }
    virtual MMRESULT MidiOutCaps(UINT /*id*/, MIDIOUTCAPSA* /*caps*/) { return MMSYSERR_NODRIVER; }
    virtual UINT MidiInCount() { return 0; }
    virtual MMRESULT MidiInCaps(UINT /*id*/, MIDIINCAPSA* /*caps*/) { return MMSYSERR_NODRIVER; }
};

// The wave and mixer calls every backend with devices overrides, declared in one go inside its
// class (as Qt's Q_OBJECT declares a class's meta-object calls), so the list is written once.
#define AV_AUDIO_BACKEND_DEVICES                                                                   \
    UINT WaveOutCount() override;                                                                  \
    MMRESULT WaveOutCaps(UINT id, WAVEOUTCAPSA* caps) override;                                    \
    MMRESULT OpenWaveOut(UINT id, const WAVEFORMATEX& format, DWORD flags, IWaveEvents* events,    \
                         std::unique_ptr<IWaveOutStream>* stream) override;                        \
    UINT WaveInCount() override;                                                                   \
    MMRESULT WaveInCaps(UINT id, WAVEINCAPSA* caps) override;                                      \
    MMRESULT OpenWaveIn(UINT id, const WAVEFORMATEX& format, DWORD flags, IWaveEvents* events,     \
                        std::unique_ptr<IWaveInStream>* stream) override;                          \
    UINT MixerCount() override;                                                                    \
    std::shared_ptr<IMixerDevice> Mixer(UINT id) override;                                         \
    MMRESULT MixerIdOf(DWORD objectType, UINT id, UINT* mixerId) override;

// The backend in use, created on first use from AVSETUP_BACKEND. Any thread.
IAudioBackend& AudioBackend();

// Replaces the backend (tests, start-up) and returns the previous one (null when none was made
// yet). Handles still open on the old backend are closed first and answer MMSYSERR_INVALHANDLE
// afterwards. A null backend means: choose again from AVSETUP_BACKEND on next use.
std::unique_ptr<IAudioBackend> SetAudioBackend(std::unique_ptr<IAudioBackend> backend);

// Installs a backend for one scope and puts the previous one back at its end.
class ScopedAudioBackend {
public:
    explicit ScopedAudioBackend(std::unique_ptr<IAudioBackend> backend);
    ~ScopedAudioBackend();
    ScopedAudioBackend(const ScopedAudioBackend&) = delete;
    ScopedAudioBackend& operator=(const ScopedAudioBackend&) = delete;
    IAudioBackend& Get() const { return *backend_; }

private:
    IAudioBackend* backend_;
    std::unique_ptr<IAudioBackend> previous_;
};

// Factories. The real one lives with the PulseAudio backend (platform/pulse); the simulated one in
// platform/sim. A backend without devices (IAudioBackend itself) is the fallback.
std::unique_ptr<IAudioBackend> CreateRealAudioBackend();
std::unique_ptr<IAudioBackend> CreateSimAudioBackend();

// Called by backends (any thread) when the sound system changed. Each posts to every open mixer
// handle concerned, in the order the handles were opened.
// A control's value changed: MM_MIXM_CONTROL_CHANGE (wParam handle, lParam control id).
void NotifyMixerControlChange(const IMixerDevice* mixer, DWORD controlId);
// A line changed: MM_MIXM_LINE_CHANGE (wParam handle, lParam line id).
void NotifyMixerLineChange(const IMixerDevice* mixer, DWORD lineId);
// Cards came or went (or the sound server): every open mixer handle receives MM_MIXM_LINE_CHANGE
// for each of its destination lines (handles of a mixer that has gone then answer
// MMSYSERR_NODRIVER), and every listening window WM_DEVICECHANGE (DBT_DEVNODES_CHANGED).
void NotifyAudioDevicesChanged();
