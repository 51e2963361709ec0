// avsetup --check on the private PulseAudio server of tests/with-pulse.sh, run as a script runs
// it. A microphone that is the test speaker's own monitor (a remapped monitor source) hears the
// test sound, at the same delay run after run; the test microphone's steady tone is not taken for
// it; a muted speaker is named and not heard. The speaker page says the same while its test plays.
#include "../DeviceCheckRun.h"
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "platform/pulse/PulseBackend.h"
#include "tests/app/WizardTestSupport.h"
#include "tests/platform/pulse/PulseAdmin.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kLoopback = "avsetup_test_loopback";

TRun RunCheck(const QStringList& args) {
    return RunCheckOn("real", args);
}

QStringList Devices(const char* microphone) {
    return {
        QStringLiteral("--speaker"),    QString::fromLatin1(std::getenv("AVSETUP_PULSE_TEST_SINK")),
        QStringLiteral("--microphone"), QString::fromLatin1(microphone),
        QStringLiteral("--seconds"),    QStringLiteral("5")};
}

class DeviceCheckPulseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("AVSETUP_PULSE_TEST_SINK") || !Admin.Ready())
            GTEST_SKIP() << "no private PulseAudio server (run under tests/with-pulse.sh)";
        const std::string sink = std::getenv("AVSETUP_PULSE_TEST_SINK");
        Module =
            Admin.LoadModule("module-remap-source",
                             "master=" + sink + ".monitor source_name=" + kLoopback +
                                 " source_properties=device.description=AvSetup_Test_Loopback");
        ASSERT_NE(Module, PA_INVALID_INDEX);
    }
    void TearDown() override {
        if (Module != PA_INVALID_INDEX) Admin.UnloadModule(Module);
        if (const char* sink = std::getenv("AVSETUP_PULSE_TEST_SINK"))
            Admin.SetSinkMute(sink, false);
    }
    PulseAdmin Admin;
    std::uint32_t Module = PA_INVALID_INDEX;
};

} // namespace

TEST_F(DeviceCheckPulseTest, TheSpeakersOwnMonitorHearsTheTestSoundAtAStableDelay) {
    std::vector<double> delays;
    for (int run = 0; run < 5; ++run) {
        const TRun r = RunCheck(QStringList{QStringLiteral("--json")} + Devices(kLoopback));
        const QJsonObject speaker = r.Json[QStringLiteral("speaker")].toObject();
        ASSERT_TRUE(speaker[QStringLiteral("heard")].toBool())
            << r.Out.constData() << r.Err.constData();
        EXPECT_TRUE(speaker[QStringLiteral("played")].toBool());
        EXPECT_FALSE(speaker[QStringLiteral("muted")].toBool());
        EXPECT_EQ(r.Json[QStringLiteral("microphone")][QStringLiteral("device")].toString(),
                  QStringLiteral("AvSetup_Test_Loopback"));
        EXPECT_TRUE(r.Json[QStringLiteral("microphone")][QStringLiteral("signal")].toBool());
        delays.push_back(speaker[QStringLiteral("latency_ms")].toDouble());
    }
    std::printf("round-trip delays (ms):");
    for (double d : delays)
        std::printf(" %.1f", d);
    std::printf("\n");
    const auto [low, high] = std::minmax_element(delays.begin(), delays.end());
    // The recorder starts a few milliseconds after the player, so a monitor can read 0.
    EXPECT_GE(*low, 0);
    EXPECT_LT(*high, 500);
    // The same path each time: the delay varies by the server's scheduling, not by the sound.
    EXPECT_LT(*high - *low, 50);
}

TEST_F(DeviceCheckPulseTest, TheTestMicrophonesToneIsNotTheTestSound) {
    const TRun r = RunCheck(QStringList{QStringLiteral("--json")} +
                            Devices(std::getenv("AVSETUP_PULSE_TEST_SOURCE")));
    EXPECT_EQ(r.Status, 1) << r.Out.constData();
    const QJsonObject speaker = r.Json[QStringLiteral("speaker")].toObject();
    EXPECT_TRUE(speaker[QStringLiteral("played")].toBool()) << r.Out.constData();
    EXPECT_FALSE(speaker[QStringLiteral("heard")].toBool());
    // The tone is a signal, just not the one played.
    EXPECT_TRUE(r.Json[QStringLiteral("microphone")][QStringLiteral("signal")].toBool());
}

TEST_F(DeviceCheckPulseTest, AMutedSpeakerIsNamedAndNotHeard) {
    ASSERT_TRUE(Admin.SetSinkMute(std::getenv("AVSETUP_PULSE_TEST_SINK"), true));
    const TRun json = RunCheck(QStringList{QStringLiteral("--json")} + Devices(kLoopback));
    EXPECT_EQ(json.Status, 1);
    const QJsonObject speaker = json.Json[QStringLiteral("speaker")].toObject();
    EXPECT_TRUE(speaker[QStringLiteral("muted")].toBool()) << json.Out.constData();
    EXPECT_FALSE(speaker[QStringLiteral("heard")].toBool());
    const TRun lines = RunCheck(Devices(kLoopback));
    EXPECT_EQ(lines.Status, 1);
    EXPECT_TRUE(QString::fromUtf8(lines.Out).contains(QStringLiteral("扬声器已静音")))
        << lines.Out.constData();
}

TEST_F(DeviceCheckPulseTest, TheSpeakerPageSaysTheMicrophoneHeardTheTestSoundAndTheDelay) {
    wizardtest::SettingsHomes homes;
    ASSERT_TRUE(homes.Make());
    {
        auto backend = std::make_unique<PulseBackend>();
        ASSERT_TRUE(backend->Connected());
        ScopedAudioBackend installed(std::move(backend));
        QStringList messages;
        auto app = wizardtest::StartWizard(homes.ProgramDir, messages);
        AudioVideoForm->Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(AudioVideoForm));
        // The speaker's own monitor chosen on the microphone page, the test sink on this one.
        int microphone = -1, speaker = -1;
        for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
            WAVEINCAPSA caps{};
            if (waveInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                std::string(caps.szPname) == "AvSetup_Test_Loopback")
                microphone = static_cast<int>(i);
        }
        for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
            WAVEOUTCAPSA caps{};
            if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                std::string(caps.szPname) == "AvSetup_Test_Sink")
                speaker = static_cast<int>(i);
        }
        ASSERT_GE(microphone, 0);
        ASSERT_GE(speaker, 0);
        AudioInForm->AvDeviceComBoxIn->SetItemIndex(microphone);
        AudioOutForm->AvDeviceComBoxOut->SetItemIndex(speaker);
        AudioVideoForm->ShowPage(1);
        TAudioOutForm* page = AudioOutForm;
        RememberedOutPos = page->AvMixerBlockSlider6->Max();
        QTest::mouseClick(page->ButtonTest->Widget(), Qt::LeftButton);
        ASSERT_EQ(page->ButtonTest->Tag(), 1);
        EXPECT_TRUE(page->LabelHeard->Visible());
        EXPECT_TRUE(wizardtest::PumpUntil(
            [&] { return page->LabelHeard->Caption().contains(QStringLiteral("听到了")); }, 20000))
            << page->LabelHeard->Caption().toStdString();
        EXPECT_TRUE(page->LabelHeard->Caption().contains(QStringLiteral("AvSetup_Test_Loopback")));
        EXPECT_TRUE(page->LabelHeard->Caption().contains(QStringLiteral("毫秒")));
        std::printf("speaker page: %s\n", page->LabelHeard->Caption().toUtf8().constData());
        // Leaving the page stops the sound and the listening; the verdict is not cleared.
        AudioVideoForm->ShowPage(2);
        EXPECT_FALSE(page->EchoListener->Listening());
        EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
        wizardtest::EndWizard(app);
    }
}
