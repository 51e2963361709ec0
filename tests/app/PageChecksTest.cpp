// What the audio pages say is wrong, on the simulated sound system (manual clock), driven as a
// user would: a muted speaker named with "取消静音" that turns it on; a microphone at volume 0 the
// same; a test that records only silence for 3 s or that clips says so; the automatic lowering
// switched off stays off and is remembered; "录音回放" records 5 s, plays them on the speaker
// and stops cleanly when the page changes.
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/MixerLines.h"
#include "framework/IniFiles.h"
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"
#include "tests/app/WizardTestSupport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

const std::string kCard = "Virtual Audio Device";

class PageChecks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Homes.Make());
        auto sim = std::make_unique<SimBackend>();
        Sim = sim.get();
        Backend = std::make_unique<ScopedAudioBackend>(std::move(sim));
        App = wizardtest::StartWizard(Homes.ProgramDir, Messages);
        AudioVideoForm->Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(AudioVideoForm));
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Backend.reset();
    }
    // Runs the sound system for ms in steps of 50 ms, handling what it posted and the pages'
    // timers (they poll every 50 ms of real time).
    void Run(int ms) {
        for (int t = 0; t < ms; t += 50) {
            Sim->Advance(50);
            QTest::qWait(55);
        }
    }
    // The first control of the type on a mixer line, for setting values behind the page's back.
    void SetLine(DWORD destination, DWORD source, DWORD control, LONG value) {
        auto mixer = AudioBackend().Mixer(0);
        ASSERT_TRUE(mixer);
        for (const MixerLineDesc& d : mixer->Description().destinations) {
            if (d.componentType != destination) continue;
            const MixerLineDesc* line = &d;
            for (const MixerLineDesc& s : d.sources)
                if (s.componentType == source) line = &s;
            for (const MixerControlDesc& c : line->controls)
                if (c.type == control) {
                    std::vector<LONG> v;
                    ASSERT_EQ(mixer->GetValues(c.id, v), MMSYSERR_NOERROR);
                    std::fill(v.begin(), v.end(), value);
                    ASSERT_EQ(mixer->SetValues(c.id, v), MMSYSERR_NOERROR);
                    return;
                }
        }
        FAIL() << "no such control";
    }
    static void Click(TButton* b) { QTest::mouseClick(b->Widget(), Qt::LeftButton); }

    wizardtest::SettingsHomes Homes;
    SimBackend* Sim = nullptr;
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    QStringList Messages;
};

} // namespace

TEST_F(PageChecks, AMutedSpeakerAndASilentMicrophoneAreNamedAndOneClickTurnsThemOn) {
    AudioVideoForm->ShowPage(1);
    TAudioOutForm* out = AudioOutForm;
    EXPECT_FALSE(out->LabelMuted->Visible());
    SetLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 0, MIXERCONTROL_CONTROLTYPE_MUTE, 1);
    ASSERT_TRUE(
        wizardtest::PumpUntil([&] { return out->ButtonUnmute->Widget()->isVisible(); }, 5000));
    EXPECT_TRUE(out->LabelMuted->Caption().contains(QString::fromStdString(kCard)));
    EXPECT_TRUE(out->LabelMuted->Caption().contains(QStringLiteral("静音")));
    Click(out->ButtonUnmute);
    EXPECT_FALSE(ReadLineState(0, false).Muted);
    EXPECT_FALSE(out->LabelMuted->Visible());
    EXPECT_FALSE(out->ButtonUnmute->Visible());

    AudioVideoForm->ShowPage(2);
    TAudioInForm* in = AudioInForm;
    SetLine(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
            MIXERCONTROL_CONTROLTYPE_VOLUME, 0);
    ASSERT_TRUE(
        wizardtest::PumpUntil([&] { return in->ButtonUnmute->Widget()->isVisible(); }, 5000));
    EXPECT_TRUE(in->LabelProblem->Caption().contains(QStringLiteral("音量为 0")))
        << in->LabelProblem->Caption().toStdString();
    Click(in->ButtonUnmute);
    EXPECT_GT(ReadLineState(0, true).VolumePercent, 0);
    EXPECT_FALSE(in->LabelProblem->Visible());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(PageChecks, SilenceForThreeSecondsAndClippingAreToldAndTheLoweringCanBeSwitchedOff) {
    AudioVideoForm->ShowPage(2);
    TAudioInForm* in = AudioInForm;
    SimSignal silence;
    silence.kind = SimSignal::Kind::Silence;
    Sim->SetSignal(kCard, silence);
    Click(in->ButtonTest);
    ASSERT_TRUE(in->AvWaveIn->DeviceStarted());
    Run(2500);
    EXPECT_FALSE(in->LabelProblem->Visible());
    Run(700);
    EXPECT_TRUE(in->LabelProblem->Visible());
    EXPECT_TRUE(in->LabelProblem->Caption().contains(QStringLiteral("静音")))
        << in->LabelProblem->Caption().toStdString();

    // A full-scale tone at full volume with the lowering off: named as clipping, left as it is.
    QTest::mouseClick(in->CheckBoxAutoAdjust->Widget(), Qt::LeftButton, {},
                      QPoint(5, in->CheckBoxAutoAdjust->Height() / 2));
    ASSERT_FALSE(in->CheckBoxAutoAdjust->Checked());
    SimSignal loud;
    loud.amplitude = 2.0; // cut off flat at full scale
    Sim->SetSignal(kCard, loud);
    in->AvMixerBlockSlider2->SetPosition(in->AvMixerBlockSlider2->Max());
    const int top = in->AvMixerBlockSlider2->Position();
    Run(500);
    EXPECT_EQ(in->AvMixerBlockSlider2->Position(), top);
    EXPECT_TRUE(in->LabelProblem->Caption().contains(QStringLiteral("失真")))
        << in->LabelProblem->Caption().toStdString();
    Click(in->ButtonTest);
    EXPECT_FALSE(in->LabelProblem->Visible());

    // Remembered by Finish, read back by the next start.
    AudioVideoForm->ShowPage(3);
    AudioVideoForm->SaveSettings();
    EXPECT_FALSE(
        TIniFile(AudioVideoForm->SettingsFileName()).ReadBool("Audio", "AutoAdjust", true));
    in->CheckBoxAutoAdjust->SetChecked(true);
    AudioVideoForm->LoadSettings();
    EXPECT_FALSE(in->CheckBoxAutoAdjust->Checked());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(PageChecks, RecordAndPlayBackShowsItsProgressAndStopsOnPageChange) {
    Sim->SetKeepPlayed(true);
    AudioVideoForm->ShowPage(2);
    TAudioInForm* in = AudioInForm;
    Click(in->ButtonPlayback);
    EXPECT_EQ(in->PlaybackTest->Phase(), TPlaybackTest::phRecording);
    Run(2000);
    EXPECT_TRUE(in->ButtonPlayback->Caption().startsWith(QStringLiteral("录音中")))
        << in->ButtonPlayback->Caption().toStdString();
    Run(3100);
    ASSERT_EQ(in->PlaybackTest->Phase(), TPlaybackTest::phPlaying);
    Run(1000);
    EXPECT_TRUE(in->ButtonPlayback->Caption().startsWith(QStringLiteral("回放中")))
        << in->ButtonPlayback->Caption().toStdString();
    // What the speaker played is what the microphone recorded: the simulated tone.
    const std::vector<std::uint8_t> played = Sim->TakePlayed(kCard);
    ASSERT_GE(played.size(), 16000u);
    int peak = 0;
    for (std::size_t i = 0; i + 1 < played.size(); i += 2)
        peak = std::max(peak, std::abs(int(std::int16_t(played[i] | played[i + 1] << 8))));
    EXPECT_GT(peak, 3000);

    AudioVideoForm->ShowPage(1);
    EXPECT_EQ(in->PlaybackTest->Phase(), TPlaybackTest::phIdle);
    EXPECT_EQ(in->ButtonPlayback->Caption(), QStringLiteral("录音回放"));
    Run(500);
    EXPECT_TRUE(Sim->TakePlayed(kCard).empty()); // the device is closed: nothing more plays
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}
