#pragma once
// The real sound system: a PulseAudio server (or PipeWire's PulseAudio server) through libpulse.
//
// Without a reachable server (connection bounded to a few seconds) there are no devices and every
// open answers MMSYSERR_NODRIVER. See docs/ARCHITECTURE.md, "PulseAudio backend".
//
// Threads: every call from any thread; counts and capabilities read a cache kept current from the
// server's events and never wait for the server. Opening a stream waits (bounded) for the server to
// accept it.
#include "platform/api/AudioBackend.h"
#include "platform/pulse/PulseContext.h"

#include <memory>
#include <string>

class PulseMixers;

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
    // Wave output i: the server's i-th sink, in mixer order; the mapper, its default sink. Wave
    // input i: the i-th source that is not a monitor, in mixer order; the mapper, the default
    // source. Mixer i: wave output i and wave input i together (PulseMixer).
    AV_AUDIO_BACKEND_DEVICES

private:
    std::shared_ptr<PulseContext> ctx_;
    std::shared_ptr<PulseMixers> mixers_; // goes first: it stops listening to ctx_
};
