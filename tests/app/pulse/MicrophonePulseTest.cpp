// The microphone test of the whole wizard on the private PulseAudio server (tests/with-pulse.sh):
// its test source avsetup_test_sine carries a 440 Hz tone at about 0.8 of full scale (the
// monitor of a sink a helper plays into). "测试" records it; a loud microphone is turned down on
// the server one step per loud buffer until the recorded peaks stay below a fifth of full scale,
// a quiet one keeps its volume, and Next ends the recording with no record stream of ours left.
#include "platform/pulse/PulseAdmin.h"
#include "platform/pulse/PulseBackend.h"
#include "tests/app/WizardTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

const char* const kSource = "avsetup_test_sine";
const char* const kToneSink = "avsetup_test_mic";

class MicrophonePulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_SKIP() << "no private sound server (run through tests/with-pulse.sh)";
        Admin = std::make_unique<PulseAdmin>();
        if (!Admin->Ready()) GTEST_SKIP() << "the sound server does not answer";
        PulseAdmin::Device tone;
        ASSERT_TRUE(Admin->FindSink(kToneSink, &tone));
        ToneVolume = tone.volume;
        BaseRecordStreams = Admin->SourceOutputSources().size();
        // The real backend, whatever the environment chose.
        Backend = std::make_unique<ScopedAudioBackend>(std::make_unique<PulseBackend>());
        App = wizardtest::StartWizard({}, Messages);
        AudioVideoForm->Show();
        QCoreApplication::processEvents();
        Next();
        Next();
        ASSERT_EQ(AudioVideoForm->CurrentPage(), AudioInForm);
        Page = AudioInForm;
        ASSERT_EQ(Page->AvWaveIn->ProductName().toStdString().rfind("AvSetup_Test_Microphone", 0),
                  0u)
            << Page->AvWaveIn->ProductName().toStdString();
        // Every recorded buffer's peaks, beside the page's own handler.
        const TAvBufferEvent pageHandler = Page->AvWaveIn->OnBufferReady;
        Page->AvWaveIn->OnBufferReady = [this, pageHandler](TObject* sender, TAvWaveHdr* h) {
            std::int16_t l = 0, r = 0;
            WAVEFORMATEX f{};
            BuildPcmFormat(&f, 16, 2, 8000);
            FindPeaks(&f, h->lpData, static_cast<std::int32_t>(h->dwBytesRecorded), l, r);
            Peaks.push_back({l, r});
            pageHandler(sender, h);
        };
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Backend.reset();
        if (Admin) Admin->SetSinkVolume(kToneSink, ToneVolume);
    }
    void Next() { QTest::mouseClick(AudioVideoForm->NextButton->Widget(), Qt::LeftButton); }
    void ClickTest() { QTest::mouseClick(Page->ButtonTest->Widget(), Qt::LeftButton); }
    // Runs the event loop for ms milliseconds of real time.
    static void Run(int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    template <class Pred> static bool RunUntil(Pred done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
    // Waits (bounded) until the test microphone delivers its tone below the page's limit. A
    // server may still hold a moment recorded before a volume change (PipeWire's loopback behind
    // the test source does), which the page would rightly turn down for.
    bool MicrophoneIsQuiet() {
        WAVEFORMATEX f{};
        BuildPcmFormat(&f, 16, 2, 8000);
        HWAVEIN h = nullptr;
        if (waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return false;
        std::vector<std::int16_t> data(1600); // 100 ms
        WAVEHDR hdr{};
        hdr.lpData = reinterpret_cast<LPSTR>(data.data());
        hdr.dwBufferLength = static_cast<DWORD>(data.size() * 2);
        waveInPrepareHeader(h, &hdr, sizeof hdr);
        waveInStart(h);
        bool quiet = false;
        QElapsedTimer t;
        t.start();
        while (!quiet && t.elapsed() < 5000) {
            hdr.dwBytesRecorded = 0;
            if (waveInAddBuffer(h, &hdr, sizeof hdr) != MMSYSERR_NOERROR ||
                !RunUntil([&] { return (hdr.dwFlags & WHDR_DONE) != 0; }, 2000))
                break;
            int peak = 0;
            for (DWORD i = 0; i < hdr.dwBytesRecorded / 2; ++i)
                peak = std::max(peak, std::abs(int{data[i]}));
            quiet = hdr.dwBytesRecorded > 0 && peak <= MicrophoneLoudPeak;
        }
        waveInReset(h);
        waveInUnprepareHeader(h, &hdr, sizeof hdr);
        waveInClose(h);
        return quiet;
    }
    pa_volume_t SourceVolume() {
        PulseAdmin::Device d;
        EXPECT_TRUE(Admin->FindSource(kSource, &d));
        return pa_cvolume_max(&d.volume);
    }
    // The larger peak magnitude of recorded buffers from..end.
    int LoudestSince(size_t from) const {
        int m = 0;
        for (size_t i = from; i < Peaks.size(); ++i)
            m = std::max({m, std::abs(int{Peaks[i].first}), std::abs(int{Peaks[i].second})});
        return m;
    }
    // Next leaves the page: the recording stops and our record stream leaves the server.
    void LeaveAndCheckNoRecordStream() {
        Next();
        EXPECT_EQ(AudioVideoForm->CurrentPage(), VideoForm);
        EXPECT_FALSE(Page->AvWaveIn->DeviceOpen());
        EXPECT_EQ(Page->ButtonTest->Caption(), QStringLiteral("测试"));
        EXPECT_TRUE(RunUntil(
            [&] { return Admin->SourceOutputSources().size() == BaseRecordStreams; }, 5000))
            << Admin->SourceOutputSources().size() << " record streams";
    }

    std::unique_ptr<PulseAdmin> Admin;
    std::unique_ptr<ScopedAudioBackend> Backend;
    pa_cvolume ToneVolume{};
    size_t BaseRecordStreams = 0;
    std::unique_ptr<TApplication> App;
    TAudioInForm* Page = nullptr;
    std::vector<std::pair<std::int16_t, std::int16_t>> Peaks;
    QStringList Messages;
};

TEST_F(MicrophonePulse, ALoudMicrophoneIsTurnedDownOnTheServerUntilItsPeaksStayBelowTheLimit) {
    TAvMixerBlockSlider* s = Page->AvMixerBlockSlider2;
    ASSERT_TRUE(s->EffectiveEnabled()); // bound when the page showed
    s->SetPosition(MicrophoneLowestAutoPosition);
    if (s->Position() != MicrophoneLowestAutoPosition)
        GTEST_SKIP() << "the volume slider does not keep single steps yet";
    RememberedInPos = s->Max();
    ClickTest();
    ASSERT_TRUE(Page->AvWaveIn->DeviceStarted());
    EXPECT_TRUE(
        RunUntil([&] { return Admin->SourceOutputSources().size() > BaseRecordStreams; }, 5000));
    const pa_volume_t full = SourceVolume();
    EXPECT_GE(full, PA_VOLUME_NORM * 99 / 100);
    // Loud at first: the slider and the server's volume go down step by step.
    ASSERT_TRUE(RunUntil([&] { return Peaks.size() >= 2; }, 5000));
    EXPECT_GT(LoudestSince(0), MicrophoneLoudPeak);
    ASSERT_TRUE(RunUntil([&] { return SourceVolume() < full; }, 5000));
    // Settled: no loud buffer for a second (16 buffers) and the position stands.
    int settledAt = -1;
    ASSERT_TRUE(RunUntil(
        [&] {
            const size_t mark = Peaks.size();
            const int pos = s->Position();
            Run(1000);
            if (Peaks.size() < mark + 10 || LoudestSince(mark) > MicrophoneLoudPeak ||
                s->Position() != pos)
                return false;
            settledAt = pos;
            return true;
        },
        30000));
    EXPECT_LT(settledAt, s->Max());
    EXPECT_GE(settledAt, MicrophoneLowestAutoPosition);
    EXPECT_LT(SourceVolume(), full);
    // Not silenced either: both channels still carry the tone, and the meter shows it.
    const auto& last = Peaks.back();
    EXPECT_GT(std::abs(int{last.first}), 500); // peaks are signed: the loudest either way
    EXPECT_GT(std::abs(int{last.second}), 500);
    EXPECT_GT(Page->AvLevel1->LevelSpots(), 0);
    LeaveAndCheckNoRecordStream();
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(MicrophonePulse, AQuietMicrophoneKeepsItsVolume) {
    // The tone at about a tenth of its level: well below a fifth of full scale.
    pa_cvolume quiet = ToneVolume;
    pa_cvolume_set(&quiet, quiet.channels, PA_VOLUME_NORM * 45 / 100);
    ASSERT_TRUE(Admin->SetSinkVolume(kToneSink, quiet));
    ASSERT_TRUE(MicrophoneIsQuiet());
    TAvMixerBlockSlider* s = Page->AvMixerBlockSlider2;
    RememberedInPos = s->Max();
    ClickTest();
    ASSERT_TRUE(Page->AvWaveIn->DeviceStarted());
    ASSERT_TRUE(RunUntil([&] { return Peaks.size() >= 4; }, 5000));
    const pa_volume_t before = SourceVolume();
    Run(1500);
    EXPECT_GE(Peaks.size(), 20u);
    EXPECT_LE(LoudestSince(0), MicrophoneLoudPeak);
    EXPECT_GT(LoudestSince(0), 300); // quiet, not silent
    EXPECT_EQ(s->Position(), s->Max());
    EXPECT_EQ(SourceVolume(), before);
    EXPECT_GT(Page->AvLevel1->LevelSpots(), 0);
    LeaveAndCheckNoRecordStream();
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

} // namespace
