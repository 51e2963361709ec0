#pragma once
// A sound system with one hand-made mixer for the control tests: controls with the bounds, steps,
// flags and types the tests need, and their values open to the test.
//
//   destination 0 "Speakers" (2 channels): Volume 0..65535 with 0 steps (id 1), Mute (2),
//       an unknown fader type (3), a disabled fader (4)
//     source 0 "Wave Out" (2 channels): Volume 0..65535 with 100 steps (10), Mute (11)
//     source 1 "Microphone" (1 channel): Volume (20)
//   destination 1 "Recording" (2 channels): Mux of 4 items (30), Mixer list of 4 items (31),
//       a real Pan control (32), Volume (33)
//     sources 0..3: Line, Microphone, CD, Aux
#include "platform/api/AudioBackend.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace fakemixer {

constexpr DWORD kSpkVolume = 1, kSpkMute = 2, kSpkOdd = 3, kSpkDisabled = 4;
constexpr DWORD kWaveVolume = 10, kWaveMute = 11, kMicVolume = 20;
constexpr DWORD kRecMux = 30, kRecMixer = 31, kRecPan = 32, kRecVolume = 33;

inline DWORD SourceId(DWORD dest, DWORD src) {
    return (src << 16) | dest;
}
inline DWORD DestId(DWORD dest) {
    return 0xFFFF0000u | dest;
}

class FakeMixerDevice : public IMixerDevice {
public:
    FakeMixerDevice() {
        desc_.mid = 9;
        desc_.pid = 9;
        desc_.name = "Fake Mixer";
        auto control = [](DWORD id, DWORD type, DWORD flags, const char* name, LONG mn, LONG mx,
                          DWORD steps) {
            MixerControlDesc c;
            c.id = id;
            c.type = type;
            c.flags = flags;
            c.shortName = name;
            c.name = std::string(name) + " control";
            c.minimum = mn;
            c.maximum = mx;
            c.steps = steps;
            return c;
        };
        MixerLineDesc spk;
        spk.destination = 0;
        spk.lineId = DestId(0);
        spk.flags = MIXERLINE_LINEF_ACTIVE;
        spk.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        spk.channels = 2;
        spk.shortName = "Speakers";
        spk.name = "Speakers";
        spk.controls = {
            control(kSpkVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "Volume", 0, 65535, 0),
            control(kSpkMute, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, "Mute",
                    0, 1, 0),
            control(kSpkOdd, 0x50030077, 0, "Odd", 0, 100, 10),
            control(kSpkDisabled, MIXERCONTROL_CONTROLTYPE_FADER, MIXERCONTROL_CONTROLF_DISABLED,
                    "Fader", 0, 65535, 0),
        };
        MixerLineDesc wave;
        wave.destination = 0;
        wave.source = 0;
        wave.lineId = SourceId(0, 0);
        wave.flags = MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE;
        wave.componentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
        wave.channels = 2;
        wave.shortName = "Wave";
        wave.name = "Wave Out";
        wave.controls = {
            control(kWaveVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "Volume", 0, 65535, 100),
            control(kWaveMute, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, "Mute",
                    0, 1, 0),
        };
        MixerLineDesc mic;
        mic.destination = 0;
        mic.source = 1;
        mic.lineId = SourceId(0, 1);
        mic.flags = MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE;
        mic.componentType = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
        mic.channels = 1;
        mic.shortName = "Mic";
        mic.name = "Microphone";
        mic.controls = {
            control(kMicVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "Volume", 0, 65535, 0)};
        spk.sources = {wave, mic};

        MixerLineDesc rec;
        rec.destination = 1;
        rec.lineId = DestId(1);
        rec.flags = MIXERLINE_LINEF_ACTIVE;
        rec.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
        rec.channels = 2;
        rec.shortName = "Recording";
        rec.name = "Recording Control";
        const char* names[4] = {"Line In", "Microphone", "CD Audio", "Aux"};
        const DWORD types[4] = {
            MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
            MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY};
        auto list =
            control(kRecMux, MIXERCONTROL_CONTROLTYPE_MUX,
                    MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE, "Mux", 0, 1, 0);
        for (DWORD s = 0; s < 4; ++s) {
            list.items.push_back({SourceId(1, s), types[s], names[s]});
            MixerLineDesc src;
            src.destination = 1;
            src.source = s;
            src.lineId = SourceId(1, s);
            src.flags = MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE;
            src.componentType = types[s];
            src.channels = 2;
            src.shortName = names[s];
            src.name = names[s];
            rec.sources.push_back(src);
        }
        auto mixerList = list;
        mixerList.id = kRecMixer;
        mixerList.type = MIXERCONTROL_CONTROLTYPE_MIXER;
        mixerList.shortName = "Mixer";
        mixerList.name = "Mixer control";
        rec.controls = {
            list, mixerList,
            control(kRecPan, MIXERCONTROL_CONTROLTYPE_PAN, MIXERCONTROL_CONTROLF_UNIFORM, "Pan",
                    -32768, 32767, 64),
            control(kRecVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "Volume", 0, 65535, 0)};
        desc_.destinations = {spk, rec};

        values_[kSpkVolume] = {30000, 30000};
        values_[kSpkMute] = {0};
        values_[kSpkOdd] = {0, 0};
        values_[kSpkDisabled] = {1000, 1000};
        values_[kWaveVolume] = {32768, 32768};
        values_[kWaveMute] = {0};
        values_[kMicVolume] = {100};
        values_[kRecMux] = {0, 1, 0, 0};
        values_[kRecMixer] = {1, 0, 1, 1};
        values_[kRecPan] = {0};
        values_[kRecVolume] = {40000, 40000};
    }

    bool Present() const override { return true; }
    MMRESULT GetId(UINT* id) const override {
        *id = 0;
        return MMSYSERR_NOERROR;
    }
    MixerDesc Description() const override { return desc_; }
    MMRESULT GetValues(DWORD id, std::vector<LONG>& values) override {
        std::lock_guard g(lock_);
        values = values_[id];
        return MMSYSERR_NOERROR;
    }
    MMRESULT SetValues(DWORD id, const std::vector<LONG>& values) override {
        {
            std::lock_guard g(lock_);
            values_[id] = values;
            ++writes_[id];
        }
        NotifyMixerControlChange(this, id);
        return MMSYSERR_NOERROR;
    }

    std::vector<LONG> Values(DWORD id) {
        std::lock_guard g(lock_);
        return values_[id];
    }
    // Sets values as the hardware would, without a change notice.
    void Poke(DWORD id, std::vector<LONG> v) {
        std::lock_guard g(lock_);
        values_[id] = std::move(v);
    }
    int Writes(DWORD id) {
        std::lock_guard g(lock_);
        return writes_[id];
    }

private:
    MixerDesc desc_;
    std::mutex lock_;
    std::map<DWORD, std::vector<LONG>> values_;
    std::map<DWORD, int> writes_;
};

class FakeBackend : public IAudioBackend {
public:
    explicit FakeBackend(std::shared_ptr<FakeMixerDevice> mixer) : mixer_(std::move(mixer)) {}
    std::string Name() const override { return "fake"; }
    UINT MixerCount() override { return 1; }
    std::shared_ptr<IMixerDevice> Mixer(UINT id) override { return id == 0 ? mixer_ : nullptr; }

private:
    std::shared_ptr<FakeMixerDevice> mixer_;
};

// Delivers every message posted so far.
inline void Pump() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace fakemixer
