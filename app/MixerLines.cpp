#include "app/MixerLines.h"

#include "platform/api/AudioBackend.h"

#include <algorithm>
#include <memory>

namespace {

struct TLine {
    std::shared_ptr<IMixerDevice> Mixer;
    const MixerControlDesc* Volume = nullptr;
    const MixerControlDesc* Mute = nullptr;
    MixerDesc Desc; // owns what the pointers point into
};

void FindControls(const MixerLineDesc& line, TLine* out) {
    for (const MixerControlDesc& c : line.controls) {
        if (c.type == MIXERCONTROL_CONTROLTYPE_VOLUME && !out->Volume) out->Volume = &c;
        if (c.type == MIXERCONTROL_CONTROLTYPE_MUTE && !out->Mute) out->Mute = &c;
    }
}

bool FindLine(UINT waveId, bool input, TLine* out) {
    IAudioBackend& backend = AudioBackend();
    UINT mixerId = 0;
    if (backend.MixerIdOf(input ? MIXER_OBJECTF_WAVEIN : MIXER_OBJECTF_WAVEOUT, waveId, &mixerId) !=
        MMSYSERR_NOERROR)
        return false;
    out->Mixer = backend.Mixer(mixerId);
    if (!out->Mixer) return false;
    out->Desc = out->Mixer->Description();
    const DWORD wanted =
        input ? MIXERLINE_COMPONENTTYPE_DST_WAVEIN : MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    for (const MixerLineDesc& d : out->Desc.destinations) {
        if (d.componentType != wanted) continue;
        if (input) {
            // The microphone being recorded: the active one, else the first.
            const MixerLineDesc* mic = nullptr;
            for (const MixerLineDesc& s : d.sources)
                if (s.componentType == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE &&
                    (!mic || ((s.flags & MIXERLINE_LINEF_ACTIVE) &&
                              !(mic->flags & MIXERLINE_LINEF_ACTIVE))))
                    mic = &s;
            if (mic) FindControls(*mic, out);
        }
        FindControls(d, out);
        return true;
    }
    return false;
}

} // namespace

TLineState ReadLineState(UINT waveId, bool input) {
    TLineState state;
    TLine line;
    if (!FindLine(waveId, input, &line)) return state;
    state.Found = true;
    std::vector<LONG> values;
    if (line.Mute && line.Mixer->GetValues(line.Mute->id, values) == MMSYSERR_NOERROR &&
        !values.empty())
        state.Muted = values.front() != 0;
    values.clear();
    if (line.Volume && line.Mixer->GetValues(line.Volume->id, values) == MMSYSERR_NOERROR &&
        !values.empty()) {
        const LONG top = *std::max_element(values.begin(), values.end());
        const LONG range = std::max<LONG>(1, line.Volume->maximum - line.Volume->minimum);
        state.VolumePercent =
            static_cast<int>(((top - line.Volume->minimum) * 100 + range / 2) / range);
    }
    return state;
}

bool UnmuteLine(UINT waveId, bool input, int volumePercent) {
    TLine line;
    if (!FindLine(waveId, input, &line)) return false;
    bool ok = true;
    std::vector<LONG> values;
    if (line.Mute && line.Mixer->GetValues(line.Mute->id, values) == MMSYSERR_NOERROR) {
        std::fill(values.begin(), values.end(), 0);
        ok = line.Mixer->SetValues(line.Mute->id, values) == MMSYSERR_NOERROR && ok;
    }
    values.clear();
    if (line.Volume && line.Mixer->GetValues(line.Volume->id, values) == MMSYSERR_NOERROR &&
        std::all_of(values.begin(), values.end(), [](LONG v) { return v == 0; })) {
        const LONG v = line.Volume->minimum +
                       (line.Volume->maximum - line.Volume->minimum) * volumePercent / 100;
        std::fill(values.begin(), values.end(), v);
        ok = line.Mixer->SetValues(line.Volume->id, values) == MMSYSERR_NOERROR && ok;
    }
    return ok;
}
