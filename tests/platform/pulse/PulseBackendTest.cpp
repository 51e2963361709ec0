// The PulseAudio backend against the private server of tests/with-pulse.sh: what it plays arrives
// at the sink's monitor, mixer controls act on the server and follow it, devices come and go.
#include "platform/pulse/PulseBackend.h"
#include "../AudioTestSupport.h"
#include "PulseAdmin.h"
#include "PulseMonitor.h"
#include "PulseTestSupport.h"
#include "platform/api/mmsystem.h"
#include "platform/pulse/PulseMixer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using conformance::Pcm;
using pulsetest::DoneCounter;
using pulsetest::PrivateDaemon;
using pulsetest::RecordRms;

// Messages posted to a window, asked about by message and handle.
class MessageLog : public conformance::MessageRecorder {
public:
    DWORD_PTR Window() const { return reinterpret_cast<DWORD_PTR>(Hwnd()); }
    std::size_t Count(UINT msg, WPARAM handle) const {
        const auto msgs = Messages(msg);
        return static_cast<std::size_t>(std::count_if(
            msgs.begin(), msgs.end(), [&](const Msg& m) { return m.wParam == handle; }));
    }
    bool Has(UINT msg, WPARAM handle, LPARAM param) const {
        const auto msgs = Messages(msg);
        return std::any_of(msgs.begin(), msgs.end(),
                           [&](const Msg& m) { return m.wParam == handle && m.lParam == param; });
    }
};

class PulseBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no test sound server (run under tests/with-pulse.sh)";
        if (const char* s = std::getenv("AVSETUP_PULSE_TEST_SINK")) sink_ = s;
        if (const char* s = std::getenv("AVSETUP_PULSE_TEST_SOURCE")) source_ = s;
        ASSERT_TRUE(admin_.Ready());
        auto backend = std::make_unique<PulseBackend>();
        backend_ = backend.get();
        ASSERT_TRUE(backend->Connected());
        installed_ = std::make_unique<ScopedAudioBackend>(std::move(backend));
        // Earlier tests may have turned the test devices down.
        pa_cvolume full;
        pa_cvolume_set(&full, 2, PA_VOLUME_NORM);
        ASSERT_TRUE(admin_.SetSinkVolume(sink_, full));
        ASSERT_TRUE(admin_.SetSinkMute(sink_, false));
        pa_cvolume_set(&full, 2, PA_VOLUME_NORM);
        ASSERT_TRUE(admin_.SetSourceVolume(source_, full));
        ASSERT_TRUE(admin_.SetSourceMute(source_, false));
    }

    UINT SinkId(const std::string& name) {
        return IdByName(backend_->Context().Sinks(), name, "sink");
    }
    UINT SourceId(const std::string& name) {
        return IdByName(backend_->Context().Sources(), name, "source");
    }
    static UINT IdByName(const std::vector<PulseDevice>& devices, const std::string& name,
                         const char* kind) {
        for (UINT i = 0; i < devices.size(); ++i)
            if (devices[i].name == name) return i;
        ADD_FAILURE() << "no " << kind << " " << name;
        return 0;
    }
    MMRESULT ControlOfType(UINT mixer, DWORD lineId, DWORD type, MIXERCONTROLA* c) {
        return conformance::ControlOfType(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{mixer}),
                                          MIXER_OBJECTF_MIXER, lineId, type, c);
    }
    MMRESULT LineOfType(UINT mixer, DWORD type, MIXERLINEA* l) {
        *l = {};
        l->cbStruct = sizeof *l;
        l->dwComponentType = type;
        return mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{mixer}), l,
                                 MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_COMPONENTTYPE);
    }
    MMRESULT SetValue(UINT mixer, DWORD control, LONG value, DWORD items = 0, DWORD item = 0) {
        std::vector<LONG> v(std::max<DWORD>(items, 1), 0);
        v[item] = value;
        return conformance::ControlValues(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{mixer}),
                                          MIXER_OBJECTF_MIXER, control, 1, items, v, true);
    }
    std::vector<LONG> Values(UINT mixer, DWORD control, DWORD channels, DWORD items = 0) {
        std::vector<LONG> v(std::max<DWORD>(items, 1) * channels, -1);
        EXPECT_EQ(conformance::ControlValues(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{mixer}),
                                             MIXER_OBJECTF_MIXER, control, channels, items, v,
                                             false),
                  MMSYSERR_NOERROR);
        return v;
    }

    std::string sink_ = "avsetup_test_sink", source_ = "avsetup_test_sine";
    PulseAdmin admin_;
    PulseBackend* backend_ = nullptr;
    std::unique_ptr<ScopedAudioBackend> installed_;
};

// ---- Device model -------------------------------------------------------------------------------

TEST(PulseNoServer, NoDevicesAndClearErrorsWithoutWaiting) {
    pulsetest::ScopedServer server("unix:/nonexistent/avsetup-no-server");
    const auto t0 = std::chrono::steady_clock::now();
    ScopedAudioBackend installed(std::make_unique<PulseBackend>());
    const auto elapsed = std::chrono::steady_clock::now() - t0;

    EXPECT_LT(elapsed, std::chrono::seconds(5)); // bounded, never a hang
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(mixerGetNumDevs(), 0u);
    WAVEOUTCAPSA caps{};
    EXPECT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT out = nullptr;
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveInOpen(&in, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    HMIXER mx = nullptr;
    EXPECT_EQ(mixerOpen(&mx, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST(PulseServerRestart, DevicesGoWithTheServerAndComeBackWithIt) {
    if (!std::getenv("PULSE_SERVER"))
        GTEST_SKIP() << "no pulseaudio (run under tests/with-pulse.sh)";
    PrivateDaemon daemon;
    ASSERT_TRUE(daemon.Start());
    pulsetest::ScopedServer server(daemon.Server());
    ScopedAudioBackend installed(std::make_unique<PulseBackend>());
    ASSERT_EQ(waveOutGetNumDevs(), 1u);
    MessageLog win;
    HMIXER h = nullptr;
    ASSERT_EQ(mixerOpen(&h, 0, win.Window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    DoneCounter counter;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, 0, &f, counter.Callback(), counter.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer b(16000);
    const conformance::CloseAtExit closeOut(out);
    ASSERT_EQ(waveOutPrepareHeader(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);

    daemon.Stop();
    ASSERT_TRUE(WaitUntil([] { return waveOutGetNumDevs() == 0; }, 3000));
    EXPECT_EQ(mixerGetNumDevs(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return counter.done == 1; }, 2000)); // the buffer comes back
    EXPECT_GT(win.Count(MM_MIXM_LINE_CHANGE, reinterpret_cast<WPARAM>(h)), 0u);
    EXPECT_EQ(waveOutWrite(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);

    ASSERT_TRUE(daemon.Start());
    EXPECT_TRUE(WaitUntil([] { return waveOutGetNumDevs() == 1; }, 5000));
    EXPECT_EQ(mixerGetNumDevs(), 1u);
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Restart_Sink");
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
    HWAVEOUT again = nullptr;
    EXPECT_EQ(waveOutOpen(&again, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(again), MMSYSERR_NOERROR);
}

TEST_F(PulseBackendTest, DevicesAreTheServersSinksAndSourcesWithoutMonitors) {
    std::vector<PulseAdmin::Device> sinks = admin_.Sinks(), sources;
    for (auto& s : admin_.Sources())
        if (!s.monitor) sources.push_back(s);
    ASSERT_EQ(waveOutGetNumDevs(), sinks.size());
    ASSERT_EQ(waveInGetNumDevs(), sources.size());
    EXPECT_EQ(mixerGetNumDevs(), std::max(sinks.size(), sources.size()));
    for (UINT i = 0; i < sinks.size(); ++i) {
        WAVEOUTCAPSA caps{};
        ASSERT_EQ(waveOutGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_EQ(std::string(caps.szPname), sinks[i].description.substr(0, MAXPNAMELEN - 1));
        UINT mx = 99;
        ASSERT_EQ(
            mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{i}), &mx, MIXER_OBJECTF_WAVEOUT),
            MMSYSERR_NOERROR);
        EXPECT_EQ(mx, i); // mixer i serves wave output i
    }
    for (UINT i = 0; i < sources.size(); ++i) {
        WAVEINCAPSA caps{};
        ASSERT_EQ(waveInGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_EQ(std::string(caps.szPname), sources[i].description.substr(0, MAXPNAMELEN - 1));
    }
    // The mappers are the server's defaults.
    WAVEOUTCAPSA mapper{};
    ASSERT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &mapper, sizeof mapper), MMSYSERR_NOERROR);
    PulseAdmin::Device def;
    ASSERT_TRUE(admin_.FindSink(sink_, &def));
    EXPECT_EQ(std::string(mapper.szPname), def.description);
    UINT mx = 99;
    ASSERT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{WAVE_MAPPER}), &mx,
                         MIXER_OBJECTF_WAVEIN),
              MMSYSERR_NOERROR);
    EXPECT_EQ(mx, SourceId(source_));
    // A mixer serving a sink and a source is named by what their descriptions share.
    MIXERCAPSA mcaps{};
    ASSERT_EQ(mixerGetDevCapsA(mx, &mcaps, sizeof mcaps), MMSYSERR_NOERROR);
    EXPECT_STREQ(mcaps.szPname, "AvSetup_Test");
}

// Which sink pairs with the microphone depends on the order the server made them in (a test that
// unloads and reloads the test devices changes it), so the tests ask rather than assume.
TEST_F(PulseBackendTest, MixerHasSpeakersAndARecordingLineWithAMicrophone) {
    const UINT id = SinkId(sink_);
    MIXERLINEA spk{}, wave{}, rec{}, mic{};
    ASSERT_EQ(LineOfType(id, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, &spk), MMSYSERR_NOERROR);
    EXPECT_EQ(spk.Target.dwType, MIXERLINE_TARGETTYPE_WAVEOUT);
    EXPECT_EQ(spk.Target.dwDeviceID, id);
    ASSERT_EQ(LineOfType(id, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &wave), MMSYSERR_NOERROR);
    EXPECT_EQ(wave.dwDestination, spk.dwDestination);
    MIXERCONTROLA c{};
    EXPECT_EQ(ControlOfType(id, spk.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &c),
              MMSYSERR_NOERROR);
    EXPECT_EQ(ControlOfType(id, spk.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, &c), MMSYSERR_NOERROR);

    const UINT in = SourceId(source_);
    UINT mx = 99;
    ASSERT_EQ(
        mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{in}), &mx, MIXER_OBJECTF_WAVEIN),
        MMSYSERR_NOERROR);
    EXPECT_EQ(mx, in);
    ASSERT_EQ(LineOfType(mx, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, &rec), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.Target.dwType, MIXERLINE_TARGETTYPE_WAVEIN);
    EXPECT_EQ(rec.Target.dwDeviceID, in);
    // A source without ports is one microphone; the paired sink's monitor is "Stereo Mix".
    ASSERT_EQ(rec.cConnections, 2u);
    ASSERT_EQ(LineOfType(mx, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, &mic), MMSYSERR_NOERROR);
    EXPECT_NE(std::string(mic.szName).find("Microphone"), std::string::npos);
    EXPECT_EQ(mic.dwDestination, rec.dwDestination);
    EXPECT_TRUE(mic.fdwLine & MIXERLINE_LINEF_ACTIVE);
    EXPECT_EQ(ControlOfType(mx, mic.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &c),
              MMSYSERR_NOERROR);
    ASSERT_EQ(ControlOfType(mx, rec.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, &c), MMSYSERR_NOERROR);
    EXPECT_EQ(c.cMultipleItems, 2u);

    // Ids stay put while the devices do.
    auto mixer = backend_->Mixer(mx);
    const MixerDesc a = mixer->Description();
    ASSERT_EQ(SetValue(mx, c.dwControlID, 1, 2, 1), MMSYSERR_NOERROR); // Stereo Mix
    const MixerDesc b = backend_->Mixer(mx)->Description();
    EXPECT_EQ(backend_->Mixer(mx), mixer);
    ASSERT_EQ(a.destinations.size(), b.destinations.size());
    for (std::size_t d = 0; d < a.destinations.size(); ++d) {
        EXPECT_EQ(a.destinations[d].lineId, b.destinations[d].lineId);
        for (std::size_t k = 0; k < a.destinations[d].controls.size(); ++k)
            EXPECT_EQ(a.destinations[d].controls[k].id, b.destinations[d].controls[k].id);
    }
    EXPECT_EQ(Values(mx, c.dwControlID, 1, 2), (std::vector<LONG>{0, 1}));
    ASSERT_EQ(SetValue(mx, c.dwControlID, 1, 2, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(Values(mx, c.dwControlID, 1, 2), (std::vector<LONG>{1, 0}));
}

// ---- Mixer values both ways ---------------------------------------------------------------------

TEST_F(PulseBackendTest, SpeakerControlsActOnTheSinkAndFollowIt) {
    const UINT id = SinkId(sink_);
    MessageLog win;
    HMIXER h = nullptr;
    ASSERT_EQ(mixerOpen(&h, id, win.Window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    const auto hw = reinterpret_cast<WPARAM>(h);
    MIXERLINEA spk{};
    ASSERT_EQ(LineOfType(id, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, &spk), MMSYSERR_NOERROR);
    MIXERCONTROLA vol{}, mute{};
    ASSERT_EQ(ControlOfType(id, spk.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &vol),
              MMSYSERR_NOERROR);
    ASSERT_EQ(ControlOfType(id, spk.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, &mute),
              MMSYSERR_NOERROR);

    // Written through the mixer: the server holds the value as an amplitude (half: -6 dB).
    ASSERT_EQ(SetValue(id, vol.dwControlID, 0x8000), MMSYSERR_NOERROR);
    EXPECT_TRUE(win.Has(MM_MIXM_CONTROL_CHANGE, hw, vol.dwControlID));
    PulseAdmin::Device d;
    ASSERT_TRUE(WaitUntil(
        [&] { return admin_.FindSink(sink_, &d) && d.volume.values[0] == LevelToPulse(0x8000); },
        2000));
    EXPECT_EQ(d.volume.values[1], LevelToPulse(0x8000));
    EXPECT_NEAR(pa_sw_volume_to_linear(d.volume.values[0]), 0.5, 0.0001);

    // Changed by another client: a notice arrives and the new value reads back.
    const std::size_t before = win.Count(MM_MIXM_CONTROL_CHANGE, hw);
    pa_cvolume quarter;
    pa_cvolume_set(&quarter, 2, pa_sw_volume_from_linear(0.25));
    ASSERT_TRUE(admin_.SetSinkVolume(sink_, quarter));
    ASSERT_TRUE(WaitUntil([&] { return win.Count(MM_MIXM_CONTROL_CHANGE, hw) > before; }, 2000));
    EXPECT_TRUE(win.Has(MM_MIXM_CONTROL_CHANGE, hw, vol.dwControlID));
    EXPECT_EQ(Values(id, vol.dwControlID, 2), (std::vector<LONG>{0x4000, 0x4000}));

    ASSERT_TRUE(admin_.SetSinkMute(sink_, true));
    ASSERT_TRUE(WaitUntil([&] { return Values(id, mute.dwControlID, 1)[0] == 1; }, 2000));
    EXPECT_TRUE(win.Has(MM_MIXM_CONTROL_CHANGE, hw, mute.dwControlID));
    ASSERT_EQ(SetValue(id, mute.dwControlID, 0), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return admin_.FindSink(sink_, &d) && !d.mute; }, 2000));
    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
}

TEST_F(PulseBackendTest, WaveOutLineIsThisProgramsPlayback) {
    const UINT id = SinkId(sink_);
    MIXERLINEA wave{};
    ASSERT_EQ(LineOfType(id, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, &wave), MMSYSERR_NOERROR);
    MIXERCONTROLA vol{}, mute{};
    ASSERT_EQ(ControlOfType(id, wave.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &vol),
              MMSYSERR_NOERROR);
    ASSERT_EQ(ControlOfType(id, wave.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, &mute),
              MMSYSERR_NOERROR);
    auto hasStreamAt = [&](pa_volume_t v) {
        const auto volumes = admin_.SinkInputVolumes();
        return std::find(volumes.begin(), volumes.end(), v) != volumes.end();
    };
    // A stream opened after the change starts at the level; an open one follows it.
    ASSERT_EQ(SetValue(id, vol.dwControlID, 0x4000), MMSYSERR_NOERROR);
    const WAVEFORMATEX f = Pcm(8000, 2, 16);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, id, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaitUntil([&] { return hasStreamAt(LevelToPulse(0x4000)); }, 2000));
    ASSERT_EQ(SetValue(id, vol.dwControlID, 0xC000), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaitUntil([&] { return hasStreamAt(LevelToPulse(0xC000)); }, 2000));
    ASSERT_EQ(SetValue(id, mute.dwControlID, 1), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaitUntil([&] { return hasStreamAt(PA_VOLUME_MUTED); }, 2000));
    // The sink itself is untouched.
    PulseAdmin::Device d;
    ASSERT_TRUE(admin_.FindSink(sink_, &d));
    EXPECT_EQ(d.volume.values[0], PA_VOLUME_NORM);
    EXPECT_FALSE(d.mute);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

// ---- Audio end to end ---------------------------------------------------------------------------

TEST_F(PulseBackendTest, PlayedSamplesArriveAtTheSinkMonitorUnchanged) {
    // At the sink's own rate and channel layout, so nothing is resampled or mixed on the way:
    // servers mix channels each their own way (mono into a stereo sink reads back from its
    // monitor 3 dB louder on PipeWire than on PulseAudio).
    const pa_sample_spec spec = backend_->Context().Sinks()[SinkId(sink_)].spec;
    ASSERT_EQ(spec.channels, 2);
    const DWORD rate = spec.rate;
    const DWORD chunk = rate / 10 * 2; // 100 ms, in samples
    const WAVEFORMATEX f = Pcm(rate, 2, 16);
    // 20 ms buffers: when the end reaches the monitor is known to within one of them.
    Collector monitor(chunk * 2 / 5, 50);
    std::unique_ptr<IWaveInStream> in;
    ASSERT_EQ(backend_->OpenWaveInByName(sink_ + ".monitor", f, &monitor, &in), MMSYSERR_NOERROR);
    monitor.Start(in.get());
    ASSERT_TRUE(WaitUntil([&] { return monitor.Size() >= chunk; }, 2000));

    // 0.3 s of reproducible noise, each channel its own, in three buffers.
    std::vector<std::int16_t> played(3 * chunk);
    std::uint32_t seed = 12345;
    for (auto& s : played) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<int>(seed >> 16) % 16000 - 8000);
    }
    DoneCounter counter;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, SinkId(sink_), &f, counter.Callback(), counter.Instance(),
                          CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    // A lead-in of silence first: the server takes back what the sink had mixed ahead to let a
    // new stream in at once, and a monitor cannot take back what it already delivered, so the
    // first milliseconds of a stream are missing from the monitor (not from the sink).
    std::vector<std::int16_t> leadIn(chunk);
    std::vector<WAVEHDR> hdrs(4);
    const conformance::CloseAtExit closeOut(out);
    for (int i = 0; i < 4; ++i) {
        hdrs[i].lpData =
            reinterpret_cast<LPSTR>(i == 0 ? leadIn.data() : played.data() + (i - 1) * chunk);
        hdrs[i].dwBufferLength = chunk * 2;
        ASSERT_EQ(waveOutPrepareHeader(out, &hdrs[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &hdrs[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(WaitUntil([&] { return counter.done == 4; }, 3000));
    const std::size_t atDone = monitor.Size();
    ASSERT_TRUE(WaitUntil([&] { return monitor.Size() >= atDone + 2 * chunk; }, 2000));
    monitor.Stop();
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);

    // Align by cross-correlating the start of the signal, then compare every sample.
    const auto rec = monitor.Samples();
    ASSERT_GT(rec.size(), played.size());
    const std::ptrdiff_t lagAt = AlignSamples(played, rec);
    ASSERT_GE(lagAt, 0);
    const auto lag = static_cast<std::size_t>(lagAt);
    const TMonitorMatch m = MatchWithGaps(played, rec, lag, 2);
    EXPECT_EQ(m.reached, played.size())
        << "played and recorded differ after alignment at " << lag << " samples";
    // A loaded machine may cost a glitch or two (on PipeWire, without real-time priority, up to a
    // cycle of the graph: 1024 frames at 48 kHz), never more.
    EXPECT_LE(m.resyncs, 3);
    EXPECT_LT(m.skipped, rate / 20 * 2);
    EXPECT_LT(m.silence, rate / 10 * 2);
    EXPECT_EQ(lag % 2, 0u) << "the channels came back swapped";
    // Nothing of it was heard before it was played, and all of it was heard before the last
    // buffer came back, to within the monitor's delivery (a buffer and a server fragment of 20 ms
    // each, on PipeWire a cycle or two of the graph more, later still on a loaded machine): well
    // short of the 300 ms by which the other buffers come back early.
    EXPECT_LE(lag + played.size(), atDone + rate / 10 * 2) << "done before the end was heard";
}

TEST_F(PulseBackendTest, DoneComesWhenTheBufferHasBeenPlayed) {
    DoneCounter counter;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, SinkId(sink_), &f, counter.Callback(), counter.Instance(),
                          CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer b(6400); // 400 ms
    const conformance::CloseAtExit closeOut(out);
    ASSERT_EQ(waveOutPrepareHeader(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(waveOutWrite(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return counter.done == 1; }, 3000));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(390));
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    ASSERT_EQ(waveOutGetPosition(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 3200u);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

// As a driver does, a buffer comes back once the server holds it and it is due to be heard soon,
// so the application refills well ahead; the last one queued comes back only once heard, so that
// "every buffer back" still means "all of it played".
TEST_F(PulseBackendTest, BuffersComeBackBeforeTheyAreHeardTheLastOnceHeard) {
    struct DoneTimes {
        std::mutex lock;
        std::vector<std::chrono::steady_clock::time_point> at;
        static void Proc(HDRVR, UINT msg, DWORD_PTR self, DWORD_PTR, DWORD_PTR) {
            if (msg != MM_WOM_DONE) return;
            auto* d = reinterpret_cast<DoneTimes*>(self);
            std::lock_guard g(d->lock);
            d->at.push_back(std::chrono::steady_clock::now());
        }
        std::size_t Count() {
            std::lock_guard g(lock);
            return at.size();
        }
    } times;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, SinkId(sink_), &f, reinterpret_cast<DWORD_PTR>(&DoneTimes::Proc),
                          reinterpret_cast<DWORD_PTR>(&times), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::vector<std::unique_ptr<Buffer>> bufs;
    const conformance::CloseAtExit closeOut(out);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        bufs.push_back(std::make_unique<Buffer>(8000)); // 500 ms each
        ASSERT_EQ(waveOutPrepareHeader(out, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(WaitUntil([&] { return times.Count() == 3; }, 4000));
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    ASSERT_EQ(waveOutGetPosition(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 12000u) << "all of it heard once every buffer is back";
    auto ms = [&](int i) {
        return std::chrono::duration<double, std::milli>(times.at[i] - t0).count();
    };
    EXPECT_LT(ms(0), 500) << "the first buffer came back only once heard";
    EXPECT_LT(ms(1), 1000) << "the second buffer came back only once heard";
    EXPECT_GE(ms(2), 1490) << "the last buffer came back before it was heard";
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(PulseBackendTest, RecordedLevelFollowsTheMicrophoneVolume) {
    const UINT id = SourceId(source_);
    UINT mx = 0;
    ASSERT_EQ(
        mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{id}), &mx, MIXER_OBJECTF_WAVEIN),
        MMSYSERR_NOERROR);
    MIXERLINEA mic{};
    ASSERT_EQ(LineOfType(mx, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, &mic), MMSYSERR_NOERROR);
    MIXERCONTROLA vol{}, mute{};
    ASSERT_EQ(ControlOfType(mx, mic.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &vol),
              MMSYSERR_NOERROR);
    ASSERT_EQ(ControlOfType(mx, mic.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, &mute),
              MMSYSERR_NOERROR);
    auto setAndWait = [&](LONG level) {
        ASSERT_EQ(SetValue(mx, vol.dwControlID, level), MMSYSERR_NOERROR);
        PulseAdmin::Device d;
        ASSERT_TRUE(WaitUntil(
            [&] {
                return admin_.FindSource(source_, &d) && d.volume.values[0] == LevelToPulse(level);
            },
            2000));
    };
    setAndWait(0xFFFF);
    const double full = RecordRms(id, 400);
    setAndWait(0x8000);
    const double half = RecordRms(id, 400);
    setAndWait(0);
    const double none = RecordRms(id, 400);
    setAndWait(0xFFFF);
    ASSERT_EQ(SetValue(mx, mute.dwControlID, 1), MMSYSERR_NOERROR);
    const double muted = RecordRms(id, 400);
    ASSERT_EQ(SetValue(mx, mute.dwControlID, 0), MMSYSERR_NOERROR);

    EXPECT_GT(full, 5000); // the test tone
    // Control values are linear in amplitude: half of the range is half the amplitude (-6 dB).
    EXPECT_NEAR(half / full, 0.5, 0.03);
    EXPECT_LT(none, 50);
    EXPECT_LT(muted, 50);
}

TEST_F(PulseBackendTest, StereoMixRecordsWhatTheSinkPlays) {
    const UINT in = SourceId(source_);
    const UINT mx = in; // mixer i: wave input i and the sink it pairs with
    const std::string monitor = backend_->Context().Sinks().at(mx).monitorName;
    PulseAdmin::Device mon, mic;
    ASSERT_TRUE(admin_.FindSource(monitor, &mon));
    ASSERT_TRUE(admin_.FindSource(source_, &mic));
    MIXERLINEA rec{};
    ASSERT_EQ(LineOfType(mx, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, &rec), MMSYSERR_NOERROR);
    MIXERCONTROLA mux{};
    ASSERT_EQ(ControlOfType(mx, rec.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, &mux),
              MMSYSERR_NOERROR);
    ASSERT_EQ(mux.cMultipleItems, 2u);

    // Recording follows the selection made before it opens: one more record stream on the
    // source it records (others, such as the test microphone itself, may listen there too).
    auto recordsFrom = [&](std::uint32_t source) {
        auto before = admin_.SourceOutputSources();
        HWAVEIN h = nullptr;
        const WAVEFORMATEX f = Pcm(8000, 1, 16);
        EXPECT_EQ(waveInOpen(&h, in, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        const auto during = admin_.SourceOutputSources();
        waveInClose(h);
        // The server drops the stream a moment later; the next count starts after that.
        EXPECT_TRUE(
            WaitUntil([&] { return admin_.SourceOutputSources().size() == before.size(); }, 2000));
        return std::count(during.begin(), during.end(), source) -
               std::count(before.begin(), before.end(), source);
    };
    ASSERT_EQ(SetValue(mx, mux.dwControlID, 1, 2, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(recordsFrom(mon.index), 1);
    ASSERT_EQ(SetValue(mx, mux.dwControlID, 1, 2, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(recordsFrom(mon.index), 0);
    EXPECT_GE(recordsFrom(mic.index), 1);
    EXPECT_GT(RecordRms(in, 300), 5000); // the test tone again
}

// ---- Hot-plug -----------------------------------------------------------------------------------

TEST_F(PulseBackendTest, DevicesComeAndGoAtRunTime) {
    MessageLog win;
    HMIXER first = nullptr;
    ASSERT_EQ(mixerOpen(&first, 0, win.Window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    const auto firstW = reinterpret_cast<WPARAM>(first);
    const UINT outs = waveOutGetNumDevs(), mixers = mixerGetNumDevs();
    const std::string name = "avsetup_hotplug_" + std::to_string(getpid());
    const std::string description = "Hotplug_" + std::to_string(getpid());
    const std::uint32_t module = admin_.LoadModule(
        "module-null-sink",
        "sink_name=" + name + " sink_properties=device.description=" + description);
    ASSERT_NE(module, PA_INVALID_INDEX);
    ASSERT_TRUE(WaitUntil([&] { return waveOutGetNumDevs() == outs + 1; }, 3000));
    ASSERT_TRUE(WaitUntil([&] { return win.Count(MM_MIXM_LINE_CHANGE, firstW) > 0; }, 2000));
    EXPECT_GE(mixerGetNumDevs(), mixers);
    const UINT id = SinkId(name);
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname), description);

    // Open everything on the new device, then pull it.
    DoneCounter counter;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, id, &f, counter.Callback(), counter.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer b(16000); // 1 s
    const conformance::CloseAtExit closeOut(out);
    ASSERT_EQ(waveOutPrepareHeader(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    HMIXER mine = nullptr;
    ASSERT_EQ(mixerOpen(&mine, id, 0, 0, MIXER_OBJECTF_WAVEOUT), MMSYSERR_NOERROR);
    const std::size_t notices = win.Count(MM_MIXM_LINE_CHANGE, firstW);

    ASSERT_TRUE(admin_.UnloadModule(module));
    ASSERT_TRUE(WaitUntil([&] { return waveOutGetNumDevs() == outs; }, 3000));
    EXPECT_EQ(mixerGetNumDevs(), mixers);
    ASSERT_TRUE(WaitUntil([&] { return counter.done == 1; }, 2000)); // the buffer comes back
    EXPECT_TRUE(b.hdr.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveOutWrite(out, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    UINT gone = 0;
    EXPECT_EQ(waveOutGetID(out, &gone), MMSYSERR_NODRIVER);
    MIXERLINEA l{};
    l.cbStruct = sizeof l;
    EXPECT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(mine), &l,
                                MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION),
              MMSYSERR_NODRIVER);
    // The mixer that stayed keeps working and is told.
    ASSERT_TRUE(WaitUntil([&] { return win.Count(MM_MIXM_LINE_CHANGE, firstW) > notices; }, 2000));
    EXPECT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(first), &l,
                                MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION),
              MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(mine), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(first), MMSYSERR_NOERROR);
}

TEST_F(PulseBackendTest, FormatQueriesTellTheTruth) {
    const UINT id = SinkId(sink_);
    for (DWORD rate : {8000u, 11025u, 22050u, 44100u, 48000u, 96000u})
        for (WORD ch : {1, 2})
            for (WORD bits : {8, 16}) {
                const WAVEFORMATEX f = Pcm(rate, ch, bits);
                EXPECT_EQ(waveOutOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
                EXPECT_EQ(waveInOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
            }
    for (const WAVEFORMATEX& f :
         {Pcm(44100, 2, 24), Pcm(44100, 3, 16), Pcm(100, 1, 16), Pcm(1000000, 1, 16)}) {
        EXPECT_EQ(waveOutOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, id, &f, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    }
    WAVEFORMATEX odd = Pcm(8000, 1, 16);
    odd.nAvgBytesPerSec = 12345;
    EXPECT_EQ(waveInOpen(nullptr, 0, &odd, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    const WAVEFORMATEX good = Pcm(8000, 1, 16);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
}

} // namespace
