// The simulated devices' configuration reader on arbitrary bytes: a description it accepts must
// give a sound system that answers every question of the multimedia API. Each accepted input runs
// a simulated system (manual clock) through its mixers, every line and control (read, write the
// bounds back, list texts) and a short play and record on every wave device.
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"
#include "platform/sim/SimBackend.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "simconfig: %s\n", what);
        std::abort();
    }
}

void Controls(HMIXEROBJ mixer, const MIXERLINEA& line) {
    if (line.cControls == 0) return;
    std::vector<MIXERCONTROLA> controls(line.cControls);
    MIXERLINECONTROLSA lc{};
    lc.cbStruct = sizeof lc;
    lc.dwLineID = line.dwLineID;
    lc.cControls = line.cControls;
    lc.cbmxctrl = sizeof(MIXERCONTROLA);
    lc.pamxctrl = controls.data();
    Check(mixerGetLineControlsA(mixer, &lc, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL) ==
              MMSYSERR_NOERROR,
          "the line's controls cannot be read");
    for (const MIXERCONTROLA& c : controls) {
        const bool uniform = c.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM;
        const DWORD channels = uniform ? 1 : line.cChannels;
        const DWORD items = (c.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? c.cMultipleItems : 0;
        std::vector<DWORD> values(std::size_t(channels) * std::max<DWORD>(items, 1), 0);
        MIXERCONTROLDETAILS d{};
        d.cbStruct = sizeof d;
        d.dwControlID = c.dwControlID;
        d.cChannels = channels;
        d.cMultipleItems = items;
        d.cbDetails = sizeof(DWORD);
        d.paDetails = values.data();
        const MMRESULT got = mixerGetControlDetailsA(
            mixer, &d, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE);
        if (got != MMSYSERR_NOERROR) continue;
        // Write the bounds (meters refuse, everything else clamps).
        for (DWORD& v : values)
            v = c.Bounds.dwMaximum;
        mixerSetControlDetails(mixer, &d, MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
        for (DWORD& v : values)
            v = c.Bounds.dwMinimum;
        mixerSetControlDetails(mixer, &d, MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
        if (items) {
            std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(std::size_t(channels) * items);
            d.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXTA);
            d.paDetails = texts.data();
            mixerGetControlDetailsA(mixer, &d,
                                    MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT);
        }
    }
}

void Mixer(UINT id) {
    HMIXER h = nullptr;
    Check(mixerOpen(&h, id, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR, "a mixer cannot be opened");
    const auto obj = reinterpret_cast<HMIXEROBJ>(h);
    MIXERCAPSA caps{};
    Check(mixerGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR, "no mixer caps");
    for (DWORD dst = 0; dst < caps.cDestinations; ++dst) {
        MIXERLINEA line{};
        line.cbStruct = sizeof line;
        line.dwDestination = dst;
        Check(
            mixerGetLineInfoA(obj, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION) ==
                MMSYSERR_NOERROR,
            "a destination cannot be read");
        Controls(obj, line);
        for (DWORD src = 0; src < line.cConnections; ++src) {
            MIXERLINEA s{};
            s.cbStruct = sizeof s;
            s.dwDestination = dst;
            s.dwSource = src;
            Check(mixerGetLineInfoA(obj, &s, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) ==
                      MMSYSERR_NOERROR,
                  "a source cannot be read");
            MIXERLINEA byId{};
            byId.cbStruct = sizeof byId;
            byId.dwLineID = s.dwLineID;
            Check(mixerGetLineInfoA(obj, &byId, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_LINEID) ==
                      MMSYSERR_NOERROR,
                  "a source is not found by its id");
            Controls(obj, s);
        }
    }
    Check(mixerClose(h) == MMSYSERR_NOERROR, "a mixer does not close");
}

WAVEFORMATEX Pcm(WORD channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = 8000;
    f.wBitsPerSample = 16;
    f.nBlockAlign = static_cast<WORD>(2 * channels);
    f.nAvgBytesPerSec = 8000u * f.nBlockAlign;
    return f;
}

void Waves(SimBackend& sim) {
    std::vector<char> buffer(320);
    for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
        WAVEOUTCAPSA caps{};
        Check(waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR, "no output caps");
        const WAVEFORMATEX f = Pcm(caps.wChannels ? caps.wChannels : 1);
        HWAVEOUT h = nullptr;
        if (waveOutOpen(&h, i, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) continue;
        WAVEHDR hdr{};
        hdr.lpData = buffer.data();
        hdr.dwBufferLength = static_cast<DWORD>(buffer.size());
        waveOutPrepareHeader(h, &hdr, sizeof hdr);
        waveOutWrite(h, &hdr, sizeof hdr);
        sim.Advance(30);
        waveOutReset(h);
        waveOutUnprepareHeader(h, &hdr, sizeof hdr);
        Check(waveOutClose(h) == MMSYSERR_NOERROR, "an output does not close");
    }
    for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
        WAVEINCAPSA caps{};
        Check(waveInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR, "no input caps");
        const WAVEFORMATEX f = Pcm(caps.wChannels ? caps.wChannels : 1);
        HWAVEIN h = nullptr;
        if (waveInOpen(&h, i, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) continue;
        WAVEHDR hdr{};
        hdr.lpData = buffer.data();
        hdr.dwBufferLength = static_cast<DWORD>(buffer.size());
        waveInPrepareHeader(h, &hdr, sizeof hdr);
        waveInAddBuffer(h, &hdr, sizeof hdr);
        waveInStart(h);
        sim.Advance(30);
        waveInReset(h);
        waveInUnprepareHeader(h, &hdr, sizeof hdr);
        Check(waveInClose(h) == MMSYSERR_NOERROR, "an input does not close");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QString error;
    const auto cfg = SimConfig::Parse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), &error);
    if (!cfg) {
        Check(!error.isEmpty(), "a refused description gives no reason");
        return 0;
    }
    // Keeps the fuzzer to systems of a plausible size; the reader itself has no limit to test.
    if (cfg->cards.size() > 16) return 0;
    auto backend = std::make_unique<SimBackend>(*cfg);
    SimBackend& sim = *backend;
    ScopedAudioBackend scope(std::move(backend));
    for (UINT m = 0; m < mixerGetNumDevs(); ++m)
        Mixer(m);
    Waves(sim);
    return 0;
}
