#include "platform/pulse/PulseMixer.h"

#include "platform/pulse/PulseBackend.h"

#include <algorithm>
#include <cctype>

namespace {
std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsMicrophonePort(const PulsePort& p) {
    if (p.type == PA_DEVICE_PORT_TYPE_MIC || p.type == PA_DEVICE_PORT_TYPE_HEADSET ||
        p.type == PA_DEVICE_PORT_TYPE_HANDSET)
        return true;
    const std::string n = Lower(p.name + " " + p.description);
    return n.find("mic") != std::string::npos;
}

DWORD PortComponentType(const PulsePort& p) {
    if (IsMicrophonePort(p)) return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    const std::string n = Lower(p.name);
    if (p.type == PA_DEVICE_PORT_TYPE_LINE || n.find("line") != std::string::npos)
        return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    if (p.type == PA_DEVICE_PORT_TYPE_SPDIF || p.type == PA_DEVICE_PORT_TYPE_HDMI ||
        n.find("iec958") != std::string::npos || n.find("spdif") != std::string::npos)
        return MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
    return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
}

// The microphone page looks for "microphone" in the line names, so a microphone port says so.
std::string PortLineName(const PulsePort& p) {
    std::string name = p.description;
    if (IsMicrophonePort(p) && Lower(name).find("microphone") == std::string::npos)
        name = "Microphone (" + name + ")";
    return name;
}

// The name of a mixer that serves both a sink and a source (both pages list it): what the two
// descriptions share, as sound cards name their mixer after the card ("USB Headset Analog Stereo"
// and "USB Headset Mono" give "USB Headset"); when they share nothing, both.
std::string MixerName(const PulseDevice* sink, const PulseDevice* source) {
    if (!sink || !source) return sink ? sink->description : source->description;
    const std::string& a = sink->description;
    const std::string& b = source->description;
    if (a == b) return a;
    std::size_t common = 0, cut = 0;
    while (common < a.size() && common < b.size() && a[common] == b[common]) {
        if (a[common] == ' ' || a[common] == '_' || a[common] == '-') cut = common;
        ++common;
    }
    if (cut >= 4) return a.substr(0, cut);
    return a + " / " + b;
}

// The destination line of a sink (speakers, feeding wave output) or a source (feeding wave input),
// named after the device.
MixerLineDesc DestinationLine(DWORD destination, DWORD componentType, int channels,
                              const PulseDevice& device, DWORD targetType, WORD targetPid) {
    MixerLineDesc dst;
    dst.destination = destination;
    dst.lineId = 0xFFFF0000u | dst.destination; // as real drivers number destinations
    dst.flags = MIXERLINE_LINEF_ACTIVE;
    dst.componentType = componentType;
    dst.channels = static_cast<DWORD>(channels);
    dst.name = CutUtf8(device.description, MIXER_LONG_NAME_CHARS - 1);
    dst.shortName = CutUtf8(device.description, MIXER_SHORT_NAME_CHARS - 1);
    dst.targetType = targetType;
    dst.targetMid = kPulseManufacturerId;
    dst.targetPid = targetPid;
    dst.targetVersion = kPulseDriverVersion;
    dst.targetName = CutUtf8(device.description, MAXPNAMELEN - 1);
    return dst;
}

// Source line number source of the destination line dst.
MixerLineDesc SourceLine(const MixerLineDesc& dst, DWORD source, DWORD flags, DWORD componentType,
                         int channels, const std::string& name) {
    MixerLineDesc line;
    line.destination = dst.destination;
    line.source = source;
    line.lineId = (source << 16) | dst.destination;
    line.flags = MIXERLINE_LINEF_SOURCE | flags;
    line.componentType = componentType;
    line.channels = static_cast<DWORD>(channels);
    line.name = CutUtf8(name, MIXER_LONG_NAME_CHARS - 1);
    line.shortName = CutUtf8(name, MIXER_SHORT_NAME_CHARS - 1);
    return line;
}

// The server's volume of a device from per-channel levels (one level sets every channel).
pa_cvolume ToVolume(const pa_cvolume& current, const std::vector<LONG>& values) {
    pa_cvolume v = current;
    if (v.channels == 0) v.channels = 1;
    for (unsigned ch = 0; ch < v.channels; ++ch) {
        const LONG l = values.empty() ? 0 : values[std::min<std::size_t>(ch, values.size() - 1)];
        v.values[ch] = LevelToPulse(l);
    }
    return v;
}
} // namespace

PulseMixer::Key PulseMixer::KeyOf(const PulseDevice* sink, const PulseDevice* source,
                                  const std::string& card) {
    Key k;
    k.card = card;
    if (sink) {
        k.sink = sink->name;
        k.sinkIndex = sink->index;
        k.monitorIndex = sink->monitorSource;
        k.monitor = sink->monitorName;
    }
    if (source) {
        k.source = source->name;
        k.sourceIndex = source->index;
        for (auto& p : source->ports)
            k.ports.push_back(p.name);
    }
    return k;
}

DWORD PulseMixer::AddControl(MixerLineDesc& line, Role role, DWORD type, const std::string& name,
                             const std::string& shortName) {
    MixerControlDesc c;
    c.id = static_cast<DWORD>(bindings_.size() + 1);
    c.type = type;
    c.name = CutUtf8(name, MIXER_LONG_NAME_CHARS - 1);
    c.shortName = CutUtf8(shortName, MIXER_SHORT_NAME_CHARS - 1);
    if (type == MIXERCONTROL_CONTROLTYPE_VOLUME) {
        c.minimum = 0;
        c.maximum = kVolumeMaximum;
        c.steps = kVolumeSteps;
    } else {
        c.flags = MIXERCONTROL_CONTROLF_UNIFORM;
        c.minimum = 0;
        c.maximum = 1;
    }
    line.controls.push_back(c);
    bindings_.push_back({c.id, role});
    return c.id;
}

PulseMixer::PulseMixer(std::weak_ptr<PulseContext> ctx, const PulseDevice* sink,
                       const PulseDevice* source, const std::string& card,
                       std::weak_ptr<const PulseMixers> set)
    : ctx_(std::move(ctx)), set_(std::move(set)), key_(KeyOf(sink, source, card)) {
    desc_.mid = kPulseManufacturerId;
    desc_.pid = kPulseMixerProductId;
    desc_.version = kPulseDriverVersion;
    // A sound card's mixer is named by the card, as on the original platform.
    desc_.name = CutUtf8(card.empty() ? MixerName(sink, source) : card, MAXPNAMELEN - 1);

    if (sink) {
        sinkDst_ = static_cast<int>(desc_.destinations.size());
        sinkChannels_ = std::max<int>(sink->spec.channels, 1);
        MixerLineDesc dst = DestinationLine(
            static_cast<DWORD>(sinkDst_), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, sinkChannels_,
            *sink, MIXERLINE_TARGETTYPE_WAVEOUT, kPulseWaveOutProductId);
        sinkVolume_ = AddControl(dst, Role::SinkVolume, MIXERCONTROL_CONTROLTYPE_VOLUME,
                                 dst.name + " Volume", "Volume");
        sinkMute_ = AddControl(dst, Role::SinkMute, MIXERCONTROL_CONTROLTYPE_MUTE,
                               dst.name + " Mute", "Mute");

        // This program's own playback on the sink.
        MixerLineDesc wave = SourceLine(dst, 0, MIXERLINE_LINEF_ACTIVE,
                                        MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, "Wave Out");
        wave.targetType = MIXERLINE_TARGETTYPE_WAVEOUT;
        wave.targetMid = dst.targetMid;
        wave.targetPid = dst.targetPid;
        wave.targetVersion = dst.targetVersion;
        wave.targetName = dst.targetName;
        AddControl(wave, Role::WaveVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, "Wave Out Volume",
                   "Volume");
        AddControl(wave, Role::WaveMute, MIXERCONTROL_CONTROLTYPE_MUTE, "Wave Out Mute", "Mute");
        dst.sources.push_back(std::move(wave));
        desc_.destinations.push_back(std::move(dst));
    }

    if (source) {
        sourceDst_ = static_cast<int>(desc_.destinations.size());
        sourceChannels_ = std::max<int>(source->spec.channels, 1);
        MixerLineDesc dst = DestinationLine(
            static_cast<DWORD>(sourceDst_), MIXERLINE_COMPONENTTYPE_DST_WAVEIN, sourceChannels_,
            *source, MIXERLINE_TARGETTYPE_WAVEIN, kPulseWaveInProductId);

        // One source line per port; a source without ports is one microphone.
        std::vector<PulsePort> ports = source->ports;
        if (ports.empty()) {
            PulsePort mic;
            mic.description = "Microphone";
            mic.type = PA_DEVICE_PORT_TYPE_MIC;
            ports.push_back(mic);
        }
        // The multiplexer is listed first so its id does not depend on the number of ports.
        mux_ = AddControl(dst, Role::Mux, MIXERCONTROL_CONTROLTYPE_MUX, "Recording Source",
                          "Rec Source");
        MixerControlDesc& mux = dst.controls.back();
        mux.flags = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
        for (std::size_t k = 0; k < ports.size(); ++k) {
            MixerLineDesc line =
                SourceLine(dst, static_cast<DWORD>(k), 0, PortComponentType(ports[k]),
                           sourceChannels_, PortLineName(ports[k]));
            // The source's own volume and mute, which the server keeps per port.
            AddControl(line, Role::SourceVolume, MIXERCONTROL_CONTROLTYPE_VOLUME,
                       line.name + " Volume", "Volume");
            AddControl(line, Role::SourceMute, MIXERCONTROL_CONTROLTYPE_MUTE, line.name + " Mute",
                       "Mute");
            dst.sources.push_back(std::move(line));
        }
        // What the paired sink plays, as sound cards offer it for recording.
        if (sink && sink->monitorSource != PA_INVALID_INDEX) {
            stereoMix_ = true;
            monitorChannels_ = std::max<int>(sink->spec.channels, 1);
            MixerLineDesc line =
                SourceLine(dst, static_cast<DWORD>(dst.sources.size()), 0,
                           MIXERLINE_COMPONENTTYPE_SRC_ANALOG, monitorChannels_, "Stereo Mix");
            AddControl(line, Role::MonitorVolume, MIXERCONTROL_CONTROLTYPE_VOLUME,
                       "Stereo Mix Volume", "Volume");
            AddControl(line, Role::MonitorMute, MIXERCONTROL_CONTROLTYPE_MUTE, "Stereo Mix Mute",
                       "Mute");
            dst.sources.push_back(std::move(line));
        }
        items_ = dst.sources.size();
        for (auto& line : dst.sources)
            dst.controls[0].items.push_back({line.lineId, line.componentType, line.name});
        desc_.destinations.push_back(std::move(dst));
    }
}

MMRESULT PulseMixer::GetId(UINT* id) const {
    auto set = set_.lock();
    if (!set || gone_) return MMSYSERR_NODRIVER;
    return set->Position(this, id) ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

std::size_t PulseMixer::Selected(const PulseContext& ctx, const PulseDevice& source) const {
    if (stereoMix_ && !ctx.RecordFrom(key_.source).empty()) return items_ - 1;
    for (std::size_t k = 0; k < source.ports.size(); ++k)
        if (source.ports[k].name == source.activePort) return k;
    return 0;
}

DWORD PulseMixer::RecordingLineId(std::size_t item) const {
    return (static_cast<DWORD>(item) << 16) | static_cast<DWORD>(sourceDst_);
}

MixerDesc PulseMixer::Description() const {
    MixerDesc d = desc_;
    auto ctx = ctx_.lock();
    if (!ctx) return d;
    UINT id = 0;
    if (sinkDst_ >= 0 && ctx->SinkPosition(key_.sinkIndex, &id)) {
        auto& dst = d.destinations[static_cast<std::size_t>(sinkDst_)];
        dst.targetDeviceId = id;
        for (auto& s : dst.sources)
            s.targetDeviceId = id;
    }
    PulseDevice source;
    if (sourceDst_ >= 0 && ctx->SourceByIndex(key_.sourceIndex, &source)) {
        auto& dst = d.destinations[static_cast<std::size_t>(sourceDst_)];
        if (ctx->SourcePosition(key_.sourceIndex, &id)) dst.targetDeviceId = id;
        const std::size_t selected = Selected(*ctx, source);
        for (std::size_t k = 0; k < dst.sources.size(); ++k) {
            auto& line = dst.sources[k];
            if (k == selected) line.flags |= MIXERLINE_LINEF_ACTIVE;
            if (k < source.ports.size() && source.ports[k].available == PA_PORT_AVAILABLE_NO)
                line.flags |= MIXERLINE_LINEF_DISCONNECTED;
        }
    }
    return d;
}

const PulseMixer::Binding* PulseMixer::Find(DWORD controlId) const {
    for (auto& b : bindings_)
        if (b.id == controlId) return &b;
    return nullptr;
}

void PulseMixer::Remember(Role role, const pa_cvolume& volume, const std::vector<LONG>& levels) {
    std::lock_guard g(writtenLock_);
    written_[role] = {volume, levels};
}

std::vector<LONG> PulseMixer::Levels(Role role, const pa_cvolume& volume, int channels) const {
    {
        std::lock_guard g(writtenLock_);
        auto it = written_.find(role);
        if (it != written_.end() && pa_cvolume_equal(&it->second.volume, &volume) &&
            it->second.levels.size() == static_cast<std::size_t>(channels))
            return it->second.levels;
    }
    std::vector<LONG> levels;
    for (int ch = 0; ch < channels; ++ch)
        levels.push_back(
            static_cast<unsigned>(ch) < volume.channels ? PulseToLevel(volume.values[ch]) : 0);
    return levels;
}

MMRESULT PulseMixer::GetValues(DWORD controlId, std::vector<LONG>& values) {
    auto ctx = ctx_.lock();
    if (!ctx || gone_) return MMSYSERR_NODRIVER;
    const Binding* b = Find(controlId);
    if (!b) return MIXERR_INVALCONTROL;
    values.clear();
    PulseDevice dev;
    switch (b->role) {
    case Role::SinkVolume:
    case Role::SinkMute:
        if (!ctx->SinkByIndex(key_.sinkIndex, &dev)) return MMSYSERR_NODRIVER;
        if (b->role == Role::SinkMute)
            values.push_back(dev.mute ? 1 : 0);
        else
            values = Levels(b->role, dev.volume, sinkChannels_);
        return MMSYSERR_NOERROR;
    case Role::MonitorVolume:
    case Role::MonitorMute:
        if (!ctx->SourceByIndex(key_.monitorIndex, &dev)) return MMSYSERR_NODRIVER;
        if (b->role == Role::MonitorMute)
            values.push_back(dev.mute ? 1 : 0);
        else
            values = Levels(b->role, dev.volume, monitorChannels_);
        return MMSYSERR_NOERROR;
    case Role::SourceVolume:
    case Role::SourceMute:
    case Role::Mux:
        if (!ctx->SourceByIndex(key_.sourceIndex, &dev)) return MMSYSERR_NODRIVER;
        if (b->role == Role::SourceMute) {
            values.push_back(dev.mute ? 1 : 0);
        } else if (b->role == Role::SourceVolume) {
            values = Levels(b->role, dev.volume, sourceChannels_);
        } else {
            values.assign(items_, 0);
            values[Selected(*ctx, dev)] = 1;
        }
        return MMSYSERR_NOERROR;
    case Role::WaveVolume:
    case Role::WaveMute: {
        const WaveOutLevel level = ctx->GetWaveOutLevel(key_.sink);
        if (b->role == Role::WaveMute)
            values.push_back(level.mute ? 1 : 0);
        else
            values = level.volume;
        return MMSYSERR_NOERROR;
    }
    }
    return MIXERR_INVALCONTROL;
}

MMRESULT PulseMixer::SetValues(DWORD controlId, const std::vector<LONG>& values) {
    auto ctx = ctx_.lock();
    if (!ctx || gone_) return MMSYSERR_NODRIVER;
    const Binding* b = Find(controlId);
    if (!b) return MIXERR_INVALCONTROL;
    if (values.empty()) return MMSYSERR_INVALPARAM;
    std::vector<LONG> before;
    if (MMRESULT r = GetValues(controlId, before)) return r;
    if (before == values) return MMSYSERR_NOERROR; // nothing changes, nothing to tell
    PulseDevice dev;
    switch (b->role) {
    case Role::SinkVolume: {
        if (!ctx->SinkByIndex(key_.sinkIndex, &dev)) return MMSYSERR_NODRIVER;
        const pa_cvolume volume = ToVolume(dev.volume, values);
        Remember(b->role, volume, values);
        ctx->SetSinkVolume(dev.index, volume);
        break;
    }
    case Role::SinkMute:
        ctx->SetSinkMute(key_.sinkIndex, values[0] != 0);
        break;
    case Role::SourceVolume:
    case Role::MonitorVolume: {
        const auto index = b->role == Role::SourceVolume ? key_.sourceIndex : key_.monitorIndex;
        if (!ctx->SourceByIndex(index, &dev)) return MMSYSERR_NODRIVER;
        const pa_cvolume volume = ToVolume(dev.volume, values);
        Remember(b->role, volume, values);
        ctx->SetSourceVolume(dev.index, volume);
        break;
    }
    case Role::SourceMute:
    case Role::MonitorMute:
        ctx->SetSourceMute(b->role == Role::SourceMute ? key_.sourceIndex : key_.monitorIndex,
                           values[0] != 0);
        break;
    case Role::Mux: {
        if (!ctx->SourceByIndex(key_.sourceIndex, &dev)) return MMSYSERR_NODRIVER;
        auto chosen = std::find(values.begin(), values.end(), 1);
        if (chosen == values.end()) return MMSYSERR_NOERROR; // a recording line always has one
        const auto k = static_cast<std::size_t>(chosen - values.begin());
        if (k >= items_) return MIXERR_INVALVALUE;
        const std::size_t old = Selected(*ctx, dev);
        if (stereoMix_ && k == items_ - 1) {
            ctx->SetRecordFrom(key_.source, key_.monitor);
        } else {
            ctx->SetRecordFrom(key_.source, "");
            if (k < dev.ports.size() && dev.ports[k].name != dev.activePort)
                ctx->SetSourcePort(dev.index, dev.ports[k].name);
        }
        if (old != k) {
            NotifyMixerLineChange(this, RecordingLineId(old));
            NotifyMixerLineChange(this, RecordingLineId(k));
        }
        break;
    }
    case Role::WaveVolume:
    case Role::WaveMute: {
        WaveOutLevel level = ctx->GetWaveOutLevel(key_.sink);
        if (b->role == Role::WaveMute)
            level.mute = values[0] != 0;
        else
            level.volume = values;
        ctx->SetWaveOutLevel(key_.sink, level);
        break;
    }
    }
    NotifyRole(b->role);
    return MMSYSERR_NOERROR;
}

void PulseMixer::NotifyRole(Role role) const {
    for (auto& b : bindings_)
        if (b.role == role) NotifyMixerControlChange(this, b.id);
}

void PulseMixer::SinkChanged(const PulseDevice& before, const PulseDevice& after) {
    if (gone_) return;
    if (!pa_cvolume_equal(&before.volume, &after.volume)) NotifyRole(Role::SinkVolume);
    if (before.mute != after.mute) NotifyRole(Role::SinkMute);
}

void PulseMixer::SourceChanged(const PulseDevice& before, const PulseDevice& after) {
    if (gone_) return;
    const bool monitor = after.index == key_.monitorIndex;
    if (!pa_cvolume_equal(&before.volume, &after.volume))
        NotifyRole(monitor ? Role::MonitorVolume : Role::SourceVolume);
    if (before.mute != after.mute) NotifyRole(monitor ? Role::MonitorMute : Role::SourceMute);
    if (monitor || sourceDst_ < 0) return;
    for (std::size_t k = 0; k < after.ports.size() && k < before.ports.size(); ++k) {
        const bool wasActive = before.ports[k].name == before.activePort;
        const bool isActive = after.ports[k].name == after.activePort;
        if (wasActive != isActive || before.ports[k].available != after.ports[k].available)
            NotifyMixerLineChange(this, RecordingLineId(k));
    }
    if (before.activePort != after.activePort) NotifyRole(Role::Mux);
}

// ---- The mixers of a context
// ----------------------------------------------------------------------

std::shared_ptr<PulseMixers> PulseMixers::Create(std::shared_ptr<PulseContext> ctx) {
    std::shared_ptr<PulseMixers> set(new PulseMixers(std::move(ctx)));
    PulseLock l(*set->ctx_);
    set->ctx_->AddListener(set.get());
    set->DevicesChanged();
    return set;
}

PulseMixers::~PulseMixers() {
    {
        PulseLock l(*ctx_);
        ctx_->RemoveListener(this);
    }
    for (auto& m : mixers_)
        m->MarkGone();
}

void PulseMixers::DevicesChanged() {
    std::vector<std::shared_ptr<PulseMixer>> gone;
    ctx_->ReadPairs([&](const std::vector<PulseContext::Pair>& pairs) {
        std::lock_guard g(lock_);
        std::vector<std::shared_ptr<PulseMixer>> next;
        for (const PulseContext::Pair& p : pairs) {
            const auto key = PulseMixer::KeyOf(p.sink, p.source, p.card);
            auto same = std::find_if(mixers_.begin(), mixers_.end(),
                                     [&](auto& m) { return m && m->GetKey() == key; });
            if (same != mixers_.end())
                next.push_back(std::move(*same));
            else
                next.push_back(
                    std::make_shared<PulseMixer>(ctx_, p.sink, p.source, p.card, weak_from_this()));
        }
        for (auto& m : mixers_)
            if (m) gone.push_back(std::move(m));
        mixers_ = std::move(next);
    });
    for (auto& m : gone)
        m->MarkGone();
}

void PulseMixers::DeviceChanged(bool sink, const PulseDevice& before, const PulseDevice& after) {
    std::shared_ptr<PulseMixer> mixer;
    {
        std::lock_guard g(lock_);
        for (auto& m : mixers_) {
            const PulseMixer::Key& k = m->GetKey();
            if (sink ? k.sinkIndex == after.index
                     : k.sourceIndex == after.index || k.monitorIndex == after.index)
                mixer = m;
        }
    }
    if (!mixer) return;
    if (sink)
        mixer->SinkChanged(before, after);
    else
        mixer->SourceChanged(before, after);
}

UINT PulseMixers::Count() const {
    std::lock_guard g(lock_);
    return static_cast<UINT>(mixers_.size());
}

std::shared_ptr<PulseMixer> PulseMixers::Mixer(UINT id) const {
    std::lock_guard g(lock_);
    return id < mixers_.size() ? mixers_[id] : nullptr;
}

bool PulseMixers::Position(const PulseMixer* mixer, UINT* id) const {
    std::lock_guard g(lock_);
    for (std::size_t i = 0; i < mixers_.size(); ++i)
        if (mixers_[i].get() == mixer) {
            *id = static_cast<UINT>(i);
            return true;
        }
    return false;
}
