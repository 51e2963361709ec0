#pragma once
// The real sound system: a PulseAudio server (or PipeWire's PulseAudio server) through libpulse.
//
// Devices: wave output i is the server's i-th sink, wave input i its i-th source that is not a
// monitor, both in the server's order; the mappers are the server's default sink and source.
// Mixer i stands for wave output i and wave input i together (PulseMixer). Without a reachable
// server (connection bounded to a few seconds) there are no devices and every open answers
// MMSYSERR_NODRIVER. See docs/ARCHITECTURE.md, "PulseAudio backend".
//
// Threads: every call from any thread; counts and capabilities read a cache kept current from the
// server's events and never wait for the server. Opening a stream waits (bounded) for the server to
// accept it.
#include "platform/api/AudioBackend.h"
#include "platform/pulse/PulseContext.h"

#include <memory>
#include <string>

constexpr WORD kPulseManufacturerId = 0x00FF;
constexpr WORD kPulseWaveOutProductId = 1;
constexpr WORD kPulseWaveInProductId = 2;
constexpr WORD kPulseMixerProductId = 3;
constexpr MMVERSION kPulseDriverVersion = (PA_MAJOR << 8) | PA_MINOR;

class PulseBackend : public IAudioBackend {
public:
    explicit PulseBackend(int connectTimeoutMs = 2000);
    ~PulseBackend() override;

    bool Connected() const { return ctx_->Connected(); }
    bool ServerRunning() override { return Connected(); }
    PulseContext& Context() const { return *ctx_; }

    // Records from any source by its server name, monitors included (tests and measurements).
    MMRESULT OpenWaveInByName(const std::string& source, const WAVEFORMATEX& format,
                              IWaveEvents* events, std::unique_ptr<IWaveInStream>* stream);

    std::string Name() const override { return "pulse"; }
    UINT WaveOutCount() override;
    MMRESULT WaveOutCaps(UINT id, WAVEOUTCAPSA* caps) override;
    MMRESULT OpenWaveOut(UINT id, const WAVEFORMATEX& format, DWORD flags, IWaveEvents* events,
                         std::unique_ptr<IWaveOutStream>* stream) override;
    UINT WaveInCount() override;
    MMRESULT WaveInCaps(UINT id, WAVEINCAPSA* caps) override;
    MMRESULT OpenWaveIn(UINT id, const WAVEFORMATEX& format, DWORD flags, IWaveEvents* events,
                        std::unique_ptr<IWaveInStream>* stream) override;
    UINT MixerCount() override;
    std::shared_ptr<IMixerDevice> Mixer(UINT id) override;
    MMRESULT MixerIdOf(DWORD objectType, UINT id, UINT* mixerId) override;

private:
    std::shared_ptr<PulseContext> ctx_;
};
