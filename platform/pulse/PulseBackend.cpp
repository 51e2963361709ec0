#include "platform/pulse/PulseBackend.h"

#include "platform/pulse/PulseMixer.h"
#include "platform/pulse/PulseWave.h"

#include <cstring>

namespace {
// Every standard format: the server converts rate, width and channels for any device.
constexpr DWORD kAllFormats = 0x000FFFFF;

void CopyName(char* dst, const std::string& name) {
    const std::string cut = CutUtf8(name, MAXPNAMELEN - 1);
    std::memset(dst, 0, MAXPNAMELEN);
    std::memcpy(dst, cut.data(), cut.size());
}

// What wave output and input capabilities share: the driver's identity, the device's name, every
// format in stereo.
template <class Caps> void FillCaps(Caps* caps, WORD pid, const std::string& name) {
    *caps = {};
    caps->wMid = kPulseManufacturerId;
    caps->wPid = pid;
    caps->vDriverVersion = kPulseDriverVersion;
    CopyName(caps->szPname, name);
    caps->dwFormats = kAllFormats;
    caps->wChannels = 2;
}

// Opens a created stream and hands it to the caller.
template <class Stream, class Interface>
MMRESULT OpenInto(std::unique_ptr<Stream> created, std::unique_ptr<Interface>* stream) {
    if (MMRESULT r = created->Open()) return r;
    *stream = std::move(created);
    return MMSYSERR_NOERROR;
}

// Why a device id names nothing: there is no mapper without a device, and no device at all
// without a server.
MMRESULT NoDevice(UINT id, UINT count) {
    return id == WAVE_MAPPER || count ? MMSYSERR_BADDEVICEID : MMSYSERR_NODRIVER;
}

// The common checks of an open: the device exists, the format is one the server plays.
MMRESULT CheckOpen(UINT id, UINT count, const WAVEFORMATEX& format, pa_sample_spec* spec) {
    if (count == 0) return MMSYSERR_NODRIVER;
    if (id != WAVE_MAPPER && id >= count) return MMSYSERR_BADDEVICEID;
    if (!PulseSpecOf(format, spec)) return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}
} // namespace

std::unique_ptr<IAudioBackend> CreateRealAudioBackend() {
    return std::make_unique<PulseBackend>();
}

PulseBackend::PulseBackend(int connectTimeoutMs)
    : ctx_(PulseContext::Connect(connectTimeoutMs)), mixers_(PulseMixers::Create(ctx_)) {}

PulseBackend::~PulseBackend() = default;

UINT PulseBackend::WaveOutCount() {
    return ctx_->SinkCount();
}
UINT PulseBackend::WaveInCount() {
    return ctx_->SourceCount();
}

MMRESULT PulseBackend::WaveOutCaps(UINT id, WAVEOUTCAPSA* caps) {
    PulseDevice d;
    if (!ctx_->Sink(id, &d)) return NoDevice(id, ctx_->SinkCount());
    FillCaps(caps, kPulseWaveOutProductId, d.description);
    caps->dwSupport = WAVECAPS_SAMPLEACCURATE;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseBackend::WaveInCaps(UINT id, WAVEINCAPSA* caps) {
    PulseDevice d;
    if (!ctx_->Source(id, &d)) return NoDevice(id, ctx_->SourceCount());
    FillCaps(caps, kPulseWaveInProductId, d.description);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseBackend::OpenWaveOut(UINT id, const WAVEFORMATEX& format, DWORD flags,
                                   IWaveEvents* events, std::unique_ptr<IWaveOutStream>* stream) {
    pa_sample_spec spec{};
    if (MMRESULT r = CheckOpen(id, ctx_->SinkCount(), format, &spec)) return r;
    PulseDevice d;
    if (!ctx_->Sink(id, &d)) return MMSYSERR_BADDEVICEID;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    // The mapper follows the server's default, wherever it moves; a chosen device stays put.
    auto out = id == WAVE_MAPPER
                   ? std::make_unique<PulseWaveOut>(ctx_, spec, "", PA_INVALID_INDEX, events)
                   : std::make_unique<PulseWaveOut>(ctx_, spec, d.name, d.index, events);
    return OpenInto(std::move(out), stream);
}

MMRESULT PulseBackend::OpenWaveIn(UINT id, const WAVEFORMATEX& format, DWORD flags,
                                  IWaveEvents* events, std::unique_ptr<IWaveInStream>* stream) {
    pa_sample_spec spec{};
    if (MMRESULT r = CheckOpen(id, ctx_->SourceCount(), format, &spec)) return r;
    PulseDevice d;
    if (!ctx_->Source(id, &d)) return MMSYSERR_BADDEVICEID;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    // "Stereo Mix" picked on the device's recording line: record what its sink plays.
    std::string device = id == WAVE_MAPPER ? std::string() : d.name;
    const std::string monitor = ctx_->RecordFrom(d.name);
    if (!monitor.empty()) device = monitor;
    auto in = std::make_unique<PulseWaveIn>(ctx_, spec, device,
                                            id == WAVE_MAPPER ? PA_INVALID_INDEX : d.index, events);
    return OpenInto(std::move(in), stream);
}

MMRESULT PulseBackend::OpenWaveInByName(const std::string& source, const WAVEFORMATEX& format,
                                        IWaveEvents* events,
                                        std::unique_ptr<IWaveInStream>* stream) {
    pa_sample_spec spec{};
    if (!ctx_->Connected()) return MMSYSERR_NODRIVER;
    if (!PulseSpecOf(format, &spec)) return WAVERR_BADFORMAT;
    auto in = std::make_unique<PulseWaveIn>(ctx_, spec, source, PA_INVALID_INDEX, events);
    return OpenInto(std::move(in), stream);
}

UINT PulseBackend::MixerCount() {
    return mixers_->Count();
}

std::shared_ptr<IMixerDevice> PulseBackend::Mixer(UINT id) {
    return mixers_->Mixer(id);
}

MMRESULT PulseBackend::MixerIdOf(DWORD objectType, UINT id, UINT* mixerId) {
    // Mixer i serves wave output i and wave input i; the mappers, their default devices.
    PulseDevice d;
    switch (objectType) {
    case MIXER_OBJECTF_WAVEOUT:
        if (!ctx_->Sink(id, &d) || !ctx_->SinkPosition(d.index, mixerId)) return MMSYSERR_NODRIVER;
        return MMSYSERR_NOERROR;
    case MIXER_OBJECTF_WAVEIN:
        if (!ctx_->Source(id, &d) || !ctx_->SourcePosition(d.index, mixerId))
            return MMSYSERR_NODRIVER;
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NODRIVER; // no MIDI or aux devices
    }
}
