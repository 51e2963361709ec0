// The mixer components on the private sound server of tests/with-pulse.sh, end to end: a decibel
// slider bound to the microphone's volume sets the server's volume and what is recorded; device
// lists, lines and sliders follow the server (devices loaded and unloaded, volumes changed from
// outside, sinks and sources of one card, the server going and coming back, or missing at start).
#include "audio/mixer/AvCCon.h"
#include "audio/mixer/AvMixCtl.h"
#include "audio/mixer/AvMixer.h"
#include "framework/Exceptions.h"
#include "framework/Forms.h"
#include "platform/api/AudioBackend.h"
#include "platform/pulse/PulseBackend.h"
#include "platform/pulse/PulseTestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using pulsetest::RecordRms;

void Pump() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// Delivers posted messages until pred holds or ms passed; the result of pred.
bool PumpUntil(const std::function<bool()>& pred, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The user picks an item.
void Pick(TAvDeviceComboBox* box, int item) {
    box->Widget()->setCurrentIndex(item);
    Q_EMIT box->Widget()->activated(item);
}

// Messages that reached the default exception handler (a message box in the program).
struct Errors {
    QStringList messages;
    Errors() {
        SetExceptionHandler([this](TObject*) { messages << CurrentExceptionMessage(); });
    }
    ~Errors() { SetExceptionHandler(nullptr); }
    std::string Text() const { return messages.join("; ").toStdString(); }
};

class MixerOnPulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no test sound server (run under tests/with-pulse.sh)";
        if (const char* s = std::getenv("AVSETUP_PULSE_TEST_SOURCE")) source_ = s;
        if (const char* s = std::getenv("AVSETUP_PULSE_TEST_SINK")) sink_ = s;
        ASSERT_TRUE(admin_.Ready());
        pa_cvolume full;
        pa_cvolume_set(&full, 2, PA_VOLUME_NORM);
        ASSERT_TRUE(admin_.SetSourceVolume(source_, full));
        ASSERT_TRUE(admin_.SetSourceMute(source_, false));
        ASSERT_TRUE(admin_.SetSinkVolume(sink_, full));
        ASSERT_TRUE(admin_.SetSinkMute(sink_, false));
        auto backend = std::make_unique<PulseBackend>();
        ASSERT_TRUE(backend->Connected());
        const auto sources = backend->Context().Sources();
        for (UINT i = 0; i < sources.size(); ++i)
            if (sources[i].name == source_) input_ = i;
        installed_ = std::make_unique<ScopedAudioBackend>(std::move(backend));
        ASSERT_NE(input_, ~0u) << "no source " << source_;
    }
    void TearDown() override { Pump(); }

    // The server's volume of the test source (first channel), as a linear amplitude.
    double ServerAmplitude() {
        PulseAdmin::Device d;
        return admin_.FindSource(source_, &d) ? pa_sw_volume_to_linear(d.volume.values[0]) : -1;
    }
    // Waits until the server holds the amplitude (within a tenth of a percent).
    bool ServerReaches(double amplitude) {
        return WaitUntil([&] { return std::abs(ServerAmplitude() - amplitude) < 0.001; }, 3000);
    }

    std::string sink_ = "avsetup_test_sink", source_ = "avsetup_test_sine";
    UINT input_ = ~0u;
    PulseAdmin admin_;
    std::unique_ptr<ScopedAudioBackend> installed_;
};

// The pages' remembered volume 50 on the microphone's slider (100 steps, decibel thumb) is half
// the amplitude: -6 dB on the server and half the recorded level. One step down is one percent
// of full scale less, as the microphone page's automatic lowering steps; its floor 13 is
// -17.7 dB. The mixer's echo of each write leaves the slider where it was put.
TEST_F(MixerOnPulse, RememberedFiftyIsHalfTheAmplitude) {
    UINT mixerId = 0;
    ASSERT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{input_}), &mixerId,
                         MIXER_OBJECTF_WAVEIN),
              MMSYSERR_NOERROR);
    TAvMixerDevice mixer(nullptr);
    mixer.SetDeviceId(static_cast<TAvDeviceId>(mixerId));
    mixer.SetActive(true);
    TAvAudioLine mic(nullptr);
    mic.SetMixer(&mixer);
    mic.SetComponentType(ctSrcMicrophone);
    TAvMixerControl volume(nullptr);
    volume.SetAudioLine(&mic);
    volume.SetControlType(ctVolume);
    ASSERT_TRUE(volume.IsValid());
    TAvMixerSlider slider(nullptr);
    slider.SetLogarithmic(true);
    slider.SetControl(&volume);
    EXPECT_EQ(slider.Min(), 0);
    EXPECT_EQ(slider.Max(), 100);

    slider.SetPosition(100);
    ASSERT_TRUE(ServerReaches(1.0));
    const double full = RecordRms(input_, 500);
    slider.SetPosition(50);
    ASSERT_TRUE(ServerReaches(0.5));
    PulseAdmin::Device d;
    ASSERT_TRUE(admin_.FindSource(source_, &d));
    EXPECT_NEAR(pa_sw_volume_to_dB(d.volume.values[0]), -6.02, 0.01);
    const double half = RecordRms(input_, 500);
    Pump(); // the server's change notices come back
    EXPECT_EQ(slider.Position(), 50);
    EXPECT_EQ(slider.ThumbPosition(), 75);

    EXPECT_GT(full, 5000); // the test tone
    EXPECT_NEAR(half / full, 0.5, 0.03);

    // An echo of the step before may still be on its way when the next step is written; the
    // thumb must settle where it was put.
    for (int p = 49; p >= 45; --p) {
        slider.SetPosition(slider.Position() - 1);
        EXPECT_TRUE(ServerReaches(p / 100.0)) << p;
        EXPECT_TRUE(PumpUntil([&] { return slider.Position() == p; }, 3000))
            << p << " shown as " << slider.Position();
    }
    slider.SetPosition(13);
    ASSERT_TRUE(ServerReaches(0.13));
    ASSERT_TRUE(admin_.FindSource(source_, &d));
    EXPECT_NEAR(pa_sw_volume_to_dB(d.volume.values[0]), -17.7, 0.05);
}

// A closed mixer's list follows sinks loaded and unloaded on the server at once, and a vanished
// choice falls back to the first mixer. An open mixer's slider and mute box show volume and mute
// set from outside (the next move acts from there, not from a stale value).
TEST_F(MixerOnPulse, ListsAndControlsFollowTheServer) {
    Errors errors;
    TAvMixerDevice mixer(nullptr);
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&mixer);
    const int before = box.ItemCount();
    ASSERT_GE(before, 1);
    const std::uint32_t module = admin_.LoadModule(
        "module-null-sink", "sink_name=avsetup_hot sink_properties=device.description=Hot_Sink");
    ASSERT_NE(module, PA_INVALID_INDEX);
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == before + 1; }));
    const int hot = box.Widget()->findText(QStringLiteral("Hot_Sink"));
    ASSERT_GE(hot, 0);
    Pick(&box, hot);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    EXPECT_EQ(speakers.LineInfo()->Name(), QStringLiteral("Hot_Sink"));
    ASSERT_TRUE(admin_.UnloadModule(module));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == before; }));
    EXPECT_EQ(mixer.DeviceId(), 0);
    EXPECT_EQ(box.ItemIndex(), 0);
    EXPECT_TRUE(speakers.IsCurrent());
    EXPECT_NE(speakers.LineInfo()->Name(), QStringLiteral("Hot_Sink"));

    // Volume and mute changed by another program.
    UINT output = 0;
    for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
        WAVEOUTCAPSA caps{};
        waveOutGetDevCapsA(i, &caps, sizeof caps);
        PulseAdmin::Device d;
        if (admin_.FindSink(sink_, &d) && d.description == caps.szPname) output = i;
    }
    UINT mixerId = 0;
    ASSERT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{output}), &mixerId,
                         MIXER_OBJECTF_WAVEOUT),
              MMSYSERR_NOERROR);
    mixer.SetDeviceId(static_cast<TAvDeviceId>(mixerId));
    mixer.SetActive(true);
    TAvMixerControl volume(nullptr), mute(nullptr);
    volume.SetAudioLine(&speakers);
    volume.SetControlType(ctVolume);
    mute.SetAudioLine(&speakers);
    mute.SetControlType(ctMute);
    TAvMixerSlider slider(nullptr);
    slider.SetLogarithmic(true);
    slider.SetControl(&volume);
    TAvMixerCheckBox check(nullptr);
    check.SetControl(&mute);
    ASSERT_EQ(slider.Position(), 100);
    pa_cvolume v;
    pa_cvolume_set(&v, 2, pa_sw_volume_from_linear(0.3));
    ASSERT_TRUE(admin_.SetSinkVolume(sink_, v));
    EXPECT_TRUE(PumpUntil([&] { return slider.Position() == 30; }));
    ASSERT_TRUE(admin_.SetSinkMute(sink_, true));
    EXPECT_TRUE(PumpUntil([&] { return check.Checked(); }));
    slider.SetPosition(slider.Position() - 1);
    PulseAdmin::Device d;
    EXPECT_TRUE(WaitUntil(
        [&] {
            return admin_.FindSink(sink_, &d) &&
                   std::abs(pa_sw_volume_to_linear(d.volume.values[0]) - 0.29) < 0.001;
        },
        3000));
    EXPECT_TRUE(errors.messages.isEmpty()) << errors.Text();
}

// A sink and a source that sit on one card (same bus path) make one mixer, named after what
// they share; mixer i, wave output i and wave input i stay one device. The test's own sink and
// microphone, which belong to no card, still pair up in order.
TEST_F(MixerOnPulse, SinkAndSourceOfOneCardShareAMixer) {
    const std::uint32_t sinkModule = admin_.LoadModule(
        "module-null-sink",
        "sink_name=avsetup_card_out sink_properties='device.bus_path=avsetup-bus-7 "
        "device.description=USB_Headset_Analog_Stereo'");
    const std::uint32_t sourceModule = admin_.LoadModule(
        "module-remap-source",
        "master=avsetup_card_out.monitor source_name=avsetup_card_in "
        "source_properties='device.bus_path=avsetup-bus-7 device.description=USB_Headset_Mono'");
    ASSERT_NE(sinkModule, PA_INVALID_INDEX);
    ASSERT_NE(sourceModule, PA_INVALID_INDEX);
    auto mixerName = [](UINT id) {
        MIXERCAPSA caps{};
        return mixerGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR
                   ? std::string(caps.szPname)
                   : std::string();
    };
    auto find = [&](const std::string& name) {
        for (UINT i = 0; i < mixerGetNumDevs(); ++i)
            if (mixerName(i) == name) return static_cast<int>(i);
        return -1;
    };
    EXPECT_TRUE(WaitUntil([&] { return find("USB_Headset") >= 0; }, 3000));
    const int headset = find("USB_Headset");
    ASSERT_GE(headset, 0);
    WAVEOUTCAPSA out{};
    WAVEINCAPSA in{};
    ASSERT_EQ(waveOutGetDevCapsA(static_cast<UINT>(headset), &out, sizeof out), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInGetDevCapsA(static_cast<UINT>(headset), &in, sizeof in), MMSYSERR_NOERROR);
    EXPECT_STREQ(out.szPname, "USB_Headset_Analog_Stereo");
    EXPECT_STREQ(in.szPname, "USB_Headset_Mono");
    UINT viaOut = 0, viaIn = 0;
    ASSERT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{static_cast<UINT>(headset)}),
                         &viaOut, MIXER_OBJECTF_WAVEOUT),
              MMSYSERR_NOERROR);
    ASSERT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{static_cast<UINT>(headset)}),
                         &viaIn, MIXER_OBJECTF_WAVEIN),
              MMSYSERR_NOERROR);
    EXPECT_EQ(viaOut, static_cast<UINT>(headset));
    EXPECT_EQ(viaIn, static_cast<UINT>(headset));
    // The test microphone is still the partner of the test sink: one wave id, one mixer.
    UINT mic = ~0u, speaker = ~1u;
    for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
        WAVEINCAPSA caps{};
        waveInGetDevCapsA(i, &caps, sizeof caps);
        if (std::string(caps.szPname) == "AvSetup_Test_Microphone") mic = i;
    }
    for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
        WAVEOUTCAPSA caps{};
        waveOutGetDevCapsA(i, &caps, sizeof caps);
        if (std::string(caps.szPname) == "AvSetup_Test_Sink") speaker = i;
    }
    // Unpartnered devices pair in the server's order, which other suites sharing this daemon may
    // have changed by reloading the test sink; the pairing holds while it is still the first sink.
    if (speaker == 0) {
        EXPECT_EQ(mic, speaker);
    }
    EXPECT_TRUE(admin_.UnloadModule(sourceModule));
    EXPECT_TRUE(admin_.UnloadModule(sinkModule));
}

// A server of the test's own: missing when the program starts (no message, empty lists), then
// found by itself; killed (the lists empty) and started again (they fill, the mixer opens again
// on it, its lines resolve).
TEST(MixerOnPrivatePulse, ServerMissingAtStartThenRestarted) {
    if (!std::getenv("PULSE_SERVER"))
        GTEST_SKIP() << "no pulseaudio (run under tests/with-pulse.sh)";
    Errors errors;
    pulsetest::PrivateDaemon daemon;
    pulsetest::ScopedServer server(daemon.Server());
    ScopedAudioBackend installed(std::make_unique<PulseBackend>());
    EXPECT_EQ(mixerGetNumDevs(), 0u);

    TForm form(nullptr);
    form.BeginLoading();
    auto* mixer = new TAvMixerDevice(&form);
    mixer->SetActive(true); // as the microphone page stores it
    auto* box = new TAvDeviceComboBox(&form);
    box->SetDevice(mixer);
    auto* line = new TAvAudioLine(&form);
    line->SetMixer(mixer);
    line->SetComponentType(ctDstSpeakers);
    form.EndLoading();
    EXPECT_FALSE(mixer->Active());
    EXPECT_EQ(box->ItemCount(), 0);
    EXPECT_TRUE(errors.messages.isEmpty()) << errors.Text();

    ASSERT_TRUE(daemon.Start());
    EXPECT_TRUE(PumpUntil([&] { return box->ItemCount() == 1 && mixer->Active(); }, 10000));
    EXPECT_EQ(box->ItemIndex(), 0);
    EXPECT_EQ(line->LineInfo()->Name(), QStringLiteral("Restart_Sink"));

    daemon.Stop();
    EXPECT_TRUE(PumpUntil([&] { return box->ItemCount() == 0; }));
    EXPECT_FALSE(line->IsCurrent());
    ASSERT_TRUE(daemon.Start());
    EXPECT_TRUE(PumpUntil([&] { return box->ItemCount() == 1 && mixer->Active(); }, 10000));
    EXPECT_TRUE(line->IsCurrent());
    EXPECT_EQ(line->LineInfo()->Name(), QStringLiteral("Restart_Sink"));
    EXPECT_TRUE(errors.messages.isEmpty()) << errors.Text();
}

} // namespace
