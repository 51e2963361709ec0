// The microphone page on the simulated sound system (manual clock): the microphone found among
// the recording line's sources (also by Chinese names), bound when the page shows and when the
// device changes, the multiplexer case, the test recording into the meter, the automatic
// lowering of a loud microphone, leaving the page while testing, and the device fallback.
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"
#include "tests/app/WizardTestSupport.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

class MicrophonePage : public ::testing::Test {
protected:
    void SetUp() override { Use(SimConfig::Default()); }
    void Use(const SimConfig& config) {
        TearDown();
        auto sim = std::make_unique<SimBackend>(config);
        Sim = sim.get();
        Backend = std::make_unique<ScopedAudioBackend>(std::move(sim));
        App = wizardtest::StartWizard({}, Messages);
        Page = AudioInForm;
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Page = nullptr;
        Backend.reset();
    }
    void Show() {
        Page->Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Page));
        QCoreApplication::processEvents();
    }
    // Records ms of sound in steps of 50 ms, handling what the device and the loop posted.
    void Record(int ms) {
        for (int t = 0; t < ms; t += 50) {
            Sim->Advance(50);
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
        }
    }
    void ClickTest() { QTest::mouseClick(Page->ButtonTest->Widget(), Qt::LeftButton); }
    QString MicName() const { return Page->AvAudioLineInMicrophone->LineInfo()->Name(); }

    // A card whose recording line lists three sources with the given names (the first two of
    // type Line, the last CD), through a multiplexer.
    static SimCardConfig CardWithSources(const std::string& card, const std::string& a,
                                         const std::string& b, const std::string& c) {
        SimCardConfig k = SimConfig::StandardCard(card, true);
        for (SimLineConfig& d : k.destinations) {
            if (d.componentType != MIXERLINE_COMPONENTTYPE_DST_WAVEIN) continue;
            d.sources[0].name = a;
            d.sources[1].name = b;
            d.sources[2].name = c;
            for (SimLineConfig& s : d.sources)
                s.componentType = MIXERLINE_COMPONENTTYPE_SRC_LINE;
            d.selected = b;
        }
        return k;
    }

    SimBackend* Sim = nullptr;
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    TAudioInForm* Page = nullptr;
    QStringList Messages;
};

TEST_F(MicrophonePage, FindsTheMicrophoneWhenShownAndFollowsTheChosenDevice) {
    EXPECT_TRUE(IsMicrophoneLineName(QStringLiteral("Front MICROPHONE")));
    EXPECT_TRUE(IsMicrophoneLineName(QStringLiteral("麦克风")));
    EXPECT_TRUE(IsMicrophoneLineName(QStringLiteral("录音输入")));
    EXPECT_FALSE(IsMicrophoneLineName(QStringLiteral("Line In")));
    EXPECT_FALSE(IsMicrophoneLineName(QStringLiteral("ＭＩＣＲＯＰＨＯＮＥ"))); // only ASCII folds

    TAvMixerBlock* block = Page->AvMixerBlockInMicrophone;
    EXPECT_EQ(block->Mixer(), nullptr);
    const int before = Page->AvMixerBlockSlider2->Position();
    Show();
    // Card 0 records through a multiplexer: Line In, Microphone, CD; the search stops at the
    // second, and the block's box selects the microphone in the list.
    EXPECT_EQ(Page->AvMixerControlIn->ControlType(), ctMux);
    EXPECT_EQ(block->Mixer(), Page->AvMixerControlIn);
    EXPECT_EQ(MicName(), QStringLiteral("Microphone"));
    EXPECT_EQ(block->MuteKind(), mkSelect);
    EXPECT_EQ(Page->AvMixerBlockCheck1->Caption(), QStringLiteral("&Select"));
    // Usable before any test: the slider is bound to the microphone's volume and moves it.
    TAvMixerBlockSlider* s = Page->AvMixerBlockSlider2;
    EXPECT_TRUE(s->EffectiveEnabled());
    EXPECT_GT(s->Max(), 13);
    s->SetPosition(s->Max() / 2);
    TAvVolumeControl probe(nullptr);
    probe.SetAudioLine(Page->AvAudioLineInMicrophone);
    const DWORD half = probe.GetUnsignedValue(1, -1);
    s->SetPosition(s->Max());
    EXPECT_GT(probe.GetUnsignedValue(1, -1), half);
    (void)before;

    // Card 1 records through a mixer list; picking it rebinds the block and the line.
    Page->AvDeviceComBoxIn->SetItemIndex(Page->AvDeviceComBoxIn->DeviceIdToItem(1));
    Page->AvMixerDeviceIn->SetDeviceId(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(Page->AvMixerControlIn->ControlType(), ctMixer);
    EXPECT_TRUE(Page->AvMixerControlIn->IsValid());
    EXPECT_EQ(Page->AvAudioLineInMicrophone->Mixer(), Page->AvMixerDeviceIn);
    EXPECT_EQ(MicName(), QStringLiteral("Microphone"));
    EXPECT_TRUE(s->EffectiveEnabled());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(MicrophonePage, FindsMicrophonesNamedInChineseAndStaysOnTheLastSourceOtherwise) {
    SimConfig config;
    config.cards = {CardWithSources("声卡", "线路输入", "麦克风", "CD 音频"),
                    CardWithSources("Dock", "Line In", "录音", "CD"),
                    CardWithSources("Plain", "Line In", "Aux", "CD")};
    Use(config);
    Show();
    EXPECT_EQ(MicName(), QStringLiteral("麦克风"));
    Page->AvMixerDeviceIn->SetDeviceId(1);
    EXPECT_EQ(MicName(), QStringLiteral("录音"));
    Page->AvMixerDeviceIn->SetDeviceId(2);
    EXPECT_EQ(MicName(), QStringLiteral("CD"));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(MicrophonePage, TheTestRecordsIntoTheMeterAndLeavingThePageStopsIt) {
    Show();
    TAvMixerBlockSlider* s = Page->AvMixerBlockSlider2;
    RememberedInPos = s->Max();
    ClickTest();
    EXPECT_EQ(Page->ButtonTest->Tag(), 1);
    EXPECT_EQ(Page->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_TRUE(Page->AvWaveIn->DeviceStarted());
    EXPECT_TRUE(Page->AvMixerBlockCheck1->Checked());
    EXPECT_EQ(Page->Connector->Input(), Page->AvWaveIn);
    QCoreApplication::processEvents(); // the connector's start message
    EXPECT_TRUE(Page->Connector->Running());
    Record(300);
    EXPECT_GT(Page->AvLevel1->LevelSpots(), 0);
    // Stop: the recorder closes, the meter clears.
    ClickTest();
    EXPECT_EQ(Page->ButtonTest->Caption(), QStringLiteral("测试"));
    EXPECT_FALSE(Page->AvWaveIn->DeviceOpen());
    EXPECT_EQ(Page->AvLevel1->LevelSpots(), 0);
    // Leaving the page while testing stops the test; the button is ready for the next visit.
    ClickTest();
    ASSERT_TRUE(Page->AvWaveIn->DeviceStarted());
    Page->Close();
    EXPECT_EQ(Page->ButtonTest->Tag(), 0);
    EXPECT_EQ(Page->ButtonTest->Caption(), QStringLiteral("测试"));
    EXPECT_FALSE(Page->AvWaveIn->DeviceOpen());
    EXPECT_FALSE(Page->Connector->Running());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(MicrophonePage, ALoudMicrophoneIsTurnedDownOneStepPerLoudBufferToThirteen) {
    Show();
    TAvMixerBlockSlider* s = Page->AvMixerBlockSlider2;
    s->SetPosition(13);
    if (s->Position() != 13) GTEST_SKIP() << "the volume slider does not keep single steps yet";
    // Straight through the handler: a buffer counts as loud by its larger peak magnitude (on
    // either side of zero), and a slider below 13 goes straight to 13.
    std::vector<char> block(AvWaveHdrSize + 2000);
    TAvWaveHdr* h = AvInitWaveHdr(block.data(), 2000);
    h->dwBytesRecorded = 2000;
    auto fill = [&](std::int16_t v) {
        auto* p = reinterpret_cast<std::int16_t*>(h->lpData);
        for (int i = 0; i < 1000; ++i)
            p[i] = v;
    };
    s->SetPosition(1);
    ASSERT_EQ(s->Position(), 1);
    fill(6553);
    Page->AvWaveInBufferReady(Page->AvWaveIn, h);
    fill(-6553);
    Page->AvWaveInBufferReady(Page->AvWaveIn, h);
    EXPECT_EQ(s->Position(), 1);
    fill(-6554);
    Page->AvWaveInBufferReady(Page->AvWaveIn, h);
    EXPECT_EQ(s->Position(), 13);
    s->SetPosition(20);
    fill(6554);
    Page->AvWaveInBufferReady(Page->AvWaveIn, h);
    EXPECT_EQ(s->Position(), 19);

    // Recording the simulated microphone's tone at full volume: each loud buffer (62.5 ms)
    // takes one step off until the recorded peaks stay below the limit.
    RememberedInPos = s->Max();
    ClickTest();
    ASSERT_TRUE(Page->AvWaveIn->DeviceStarted());
    const int top = s->Position();
    Record(250); // four buffers
    EXPECT_LT(s->Position(), top);
    EXPECT_GE(s->Position(), top - 4);
    Record(20000);
    const int settled = s->Position();
    EXPECT_GE(settled, 13);
    EXPECT_LT(settled, top - 4);
    Record(1000);
    EXPECT_EQ(s->Position(), settled); // quiet enough now: it stays
    ClickTest();
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(MicrophonePage, AnUnusableDeviceFallsBackToDeviceZeroAndTwoFailSilently) {
    Show();
    Page->AvDeviceComBoxIn->SetItemIndex(Page->AvDeviceComBoxIn->DeviceIdToItem(1));
    Page->AvMixerDeviceIn->SetDeviceId(1);
    Sim->SetOpenFault("USB Headset", SimBackend::Direction::Input, MMSYSERR_ALLOCATED);
    ClickTest();
    EXPECT_TRUE(Page->AvWaveIn->DeviceStarted());
    EXPECT_EQ(Page->AvWaveIn->DeviceID(), 0);
    ClickTest();

    Sim->SetOpenFault("USB Headset", SimBackend::Direction::Input, MMSYSERR_ALLOCATED);
    Sim->SetOpenFault("Virtual Audio Device", SimBackend::Direction::Input, MMSYSERR_ALLOCATED);
    ClickTest();
    EXPECT_EQ(Page->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_FALSE(Page->AvWaveIn->DeviceOpen());
    Record(200);
    EXPECT_EQ(Page->AvLevel1->LevelSpots(), 0);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
    ClickTest();
    EXPECT_EQ(Page->ButtonTest->Caption(), QStringLiteral("测试"));
}

} // namespace
