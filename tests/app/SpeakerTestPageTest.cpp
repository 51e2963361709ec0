// The speaker page's test sound on the simulated sound system (manual clock): "播放声音" plays
// TestSnd.wav in a loop on the device chosen in the list and moves the slider to the remembered
// position; "停止" and a click on the page stop it; a missing or damaged file shows the player's
// message in plain words (the player's own text as its detail) and leaves the page idle. Also the
// test sound itself: left, then right, then both.
#include "audio/stream/AvWave.h"
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"
#include "tests/app/WizardTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kPlay = QStringLiteral("播放声音");
const QString kStop = QStringLiteral("停止");

// The test sound beside the program, as the build puts it there: 16-bit samples and format.
struct TTestSound {
    WAVEFORMATEX Format{};
    std::vector<std::int16_t> Samples;
    bool Load() {
        TAvWave w;
        w.SetFileName(QDir(QCoreApplication::applicationDirPath()).filePath("TestSnd.wav"));
        if (w.Empty()) return false;
        Format = *w.GetPWaveFormat();
        w.OpenFile();
        Samples.resize(w.DataSize() / 2);
        const LONG n = w.Read(reinterpret_cast<char*>(Samples.data()), LONG(Samples.size() * 2));
        Samples.resize(size_t(std::max<LONG>(n, 0)) / 2);
        return true;
    }
};

class SpeakerTestPage : public ::testing::Test {
protected:
    void SetUp() override {
        auto sim = std::make_unique<SimBackend>();
        Sim = sim.get();
        Sim->SetKeepPlayed(true);
        Backend = std::make_unique<ScopedAudioBackend>(std::move(sim));
        App = wizardtest::StartWizard({}, Messages);
        Page = AudioOutForm;
        Page->Show();
        ASSERT_TRUE(Sound.Load());
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Backend.reset();
    }
    void Click() { QTest::mouseClick(Page->ButtonTest->Widget(), Qt::LeftButton); }
    // Sound time in 10 ms steps, with the window messages delivered after each.
    void Run(int ms) {
        for (int t = 0; t < ms; t += 10) {
            Sim->Advance(10);
            QCoreApplication::sendPostedEvents();
        }
    }
    bool Playing() const { return Page->AvWavePlayer1->State() & wsStarted; }
    // What the card played, as 16-bit samples.
    std::vector<std::int16_t> Played(const char* card) {
        const auto b = Sim->TakePlayed(card);
        std::vector<std::int16_t> s(b.size() / 2);
        if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 2);
        return s;
    }

    SimBackend* Sim = nullptr;
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    TAudioOutForm* Page = nullptr;
    TTestSound Sound;
    QStringList Messages;
};

} // namespace

TEST_F(SpeakerTestPage, PlayLoopsOnTheChosenDeviceAndStopEndsIt) {
    TAvMixerBlockSlider* s6 = Page->AvMixerBlockSlider6;
    const int tolerance = std::max(1, s6->Max() / 100);
    RememberedOutPos = s6->Max() * 3 / 10;
    ASSERT_GT(std::abs(s6->Position() - RememberedOutPos), tolerance);
    Page->AvDeviceComBoxOut->SetItemIndex(1); // the second card: "USB Headset"
    Click();
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
    EXPECT_EQ(Page->ButtonTest->Tag(), 1);
    EXPECT_EQ(Page->ButtonTest->Caption(), kStop);
    EXPECT_EQ(Page->AvWavePlayer1->DeviceID(), 1);
    EXPECT_TRUE(Playing());
    // The slider jumps to the remembered position, and the wave-output slider follows.
    EXPECT_NEAR(s6->Position(), RememberedOutPos, tolerance);
    EXPECT_EQ(Page->AvMixerBlockSlider4->Position(), s6->Position());

    // Longer than the sound: it loops, sample for sample, on the chosen card only.
    const int lengthMs = int(Sound.Samples.size() / 2 * 1000 / Sound.Format.nSamplesPerSec);
    Run(lengthMs + 1000);
    EXPECT_TRUE(Playing());
    const auto played = Played("USB Headset");
    EXPECT_TRUE(Played("Virtual Audio Device").empty());
    ASSERT_GT(played.size(), Sound.Samples.size() + 1000);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], Sound.Samples[i % Sound.Samples.size()]) << i;

    RememberedOutPos = s6->Max() * 6 / 10;
    Click();
    EXPECT_EQ(Page->ButtonTest->Tag(), 0);
    EXPECT_EQ(Page->ButtonTest->Caption(), kPlay);
    EXPECT_FALSE(Page->AvWavePlayer1->State() & wsOpen);
    EXPECT_NEAR(s6->Position(), RememberedOutPos, tolerance);
    Run(200);
    EXPECT_TRUE(Played("USB Headset").empty());
}

TEST_F(SpeakerTestPage, ClickOnThePageStopsTheSound) {
    Click();
    ASSERT_TRUE(Playing());
    Run(100);
    const int slider = Page->AvMixerBlockSlider6->Position();
    // Empty page area, left of the volume block and below the button.
    QTest::mouseClick(Page, Qt::LeftButton, {}, QPoint(150, 300));
    EXPECT_FALSE(Page->AvWavePlayer1->State() & wsOpen);
    EXPECT_EQ(Page->ButtonTest->Tag(), 0);
    EXPECT_EQ(Page->ButtonTest->Caption(), kPlay);
    EXPECT_EQ(Page->AvMixerBlockSlider6->Position(), slider);
    // Idle, a click there changes nothing.
    QTest::mouseClick(Page, Qt::LeftButton, {}, QPoint(150, 300));
    EXPECT_EQ(Page->ButtonTest->Caption(), kPlay);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(SpeakerTestPage, MissingOrDamagedSoundShowsThePlayersMessage) {
    QTemporaryDir dir;
    QFile bad(dir.filePath("TestSnd.wav"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray("RIFF\x10\0\0\0WAVEfmt \x02\0\0\0\x01\0", 22)); // cut short
    bad.close();
    // The wizard says it in plain words; the player's own text is the box's detail.
    QStringList details;
    App->SetMessageBoxHook([&](const QString&, const QString& text, int) {
        Messages << text;
        details << Application->MessageDetail();
        return IDOK;
    });
    for (const QString& file : {dir.filePath("missing.wav"), bad.fileName()}) {
        Messages.clear();
        details.clear();
        Page->TestSoundFile = file;
        Click();
        ASSERT_EQ(Messages.size(), 1) << file.toStdString();
        EXPECT_TRUE(Messages[0].contains("TestSnd.wav")) << Messages[0].toStdString();
        EXPECT_TRUE(details[0].contains("wave file", Qt::CaseInsensitive))
            << details[0].toStdString();
        EXPECT_EQ(Page->ButtonTest->Tag(), 0);
        EXPECT_EQ(Page->ButtonTest->Caption(), kPlay);
        EXPECT_FALSE(Page->AvWavePlayer1->State() & wsOpen);
    }
}

TEST(TestSound, LeftThenRightThenBothPeakingNearFullScale) {
    TTestSound s;
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.Format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(s.Format.nChannels, 2);
    EXPECT_EQ(s.Format.wBitsPerSample, 16);
    const size_t frames = s.Samples.size() / 2;
    const double seconds = double(frames) / s.Format.nSamplesPerSec;
    EXPECT_GT(seconds, 2.0);
    EXPECT_LT(seconds, 6.0);
    // Peak per channel over each third of the sound.
    auto peak = [&](int third, int channel) {
        int m = 0;
        for (size_t f = frames * third / 3; f < frames * (third + 1) / 3; ++f)
            m = std::max(m, std::abs(int(s.Samples[2 * f + channel])));
        return m;
    };
    EXPECT_GT(peak(0, 0), 8000);
    EXPECT_LT(peak(0, 1), 50);
    EXPECT_LT(peak(1, 0), 50);
    EXPECT_GT(peak(1, 1), 8000);
    EXPECT_GT(peak(2, 0), 8000);
    EXPECT_GT(peak(2, 1), 8000);
    // Near full scale, so half volume plays clearly: the loudest sample at about -1 dBFS.
    int top = 0;
    for (int t = 0; t < 3; ++t)
        for (int c = 0; c < 2; ++c)
            top = std::max(top, peak(t, c));
    EXPECT_GT(top, 27800); // -1.4 dBFS
    EXPECT_LT(top, 29500); // -0.9 dBFS
    // It ends in silence, so the loop does not click.
    EXPECT_LT(std::abs(s.Samples[s.Samples.size() - 1]), 50);
    EXPECT_LT(std::abs(s.Samples[0]), 50);
}
