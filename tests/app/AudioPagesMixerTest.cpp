// The mixer components of the speaker and microphone pages: their stored values, the device
// lists, and every line following the device picked in a list.
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"
#include "tests/app/WizardTestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Two cards whose lines can be told apart by name.
SimConfig TwoCards() {
    SimConfig cfg;
    cfg.cards = {SimConfig::StandardCard("Virtual Audio Device", true),
                 SimConfig::StandardCard("USB Headset", false)};
    auto& headset = cfg.cards[1];
    headset.manufacturerId = 2;
    headset.destinations[0].name = "Headset Speakers";
    headset.destinations[0].sources[0].name = "Headset Wave";
    headset.destinations[0].sources[1].name = "Headset Mic";
    headset.destinations[1].name = "Headset Recording";
    return cfg;
}

class AudioPagesMixer : public ::testing::Test {
protected:
    void SetUp() override { Start(TwoCards()); }
    void Start(SimConfig cfg) {
        auto sim = std::make_unique<SimBackend>(std::move(cfg));
        Sim = sim.get();
        Backend = std::make_unique<ScopedAudioBackend>(std::move(sim));
        App = wizardtest::StartWizard({}, Messages);
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Backend.reset();
    }
    // The user picks an item of a device list.
    static void Pick(TAvDeviceComboBox* box, int item) {
        box->Widget()->setCurrentIndex(item);
        Q_EMIT box->Widget()->activated(item);
    }

    // Delivers posted messages until pred holds (at most two seconds).
    static bool PumpUntil(const std::function<bool()>& pred) {
        for (int i = 0; i < 2000 && !pred(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        return pred();
    }

    SimBackend* Sim = nullptr;
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    QStringList Messages;
};

class AudioPagesWithoutDevices : public AudioPagesMixer {
protected:
    void SetUp() override {
        SimConfig none;
        none.cards.clear();
        Start(none);
    }
};

TEST_F(AudioPagesMixer, SpeakerPageStoredValues) {
    TAudioOutForm* f = AudioOutForm;
    TAvDeviceComboBox* box = f->AvDeviceComBoxOut;
    EXPECT_EQ(box->Parent(), f);
    EXPECT_EQ(box->BoundsRect(), Rect(24, 40, 24 + 145, 40 + 21));
    EXPECT_EQ(box->TabOrder(), 2);
    EXPECT_EQ(box->Device(), f->AvMixerDeviceOut);
    EXPECT_EQ(f->Label1->Caption(), QStringLiteral("选择您要使用的扬声器或耳机："));
    EXPECT_EQ(f->Label1->Left(), 24);
    EXPECT_EQ(f->Label1->Top(), 21);
    EXPECT_EQ(box->Items(), (QStringList{"Virtual Audio Device", "USB Headset"}));
    EXPECT_EQ(box->ItemIndex(), 0);
    EXPECT_TRUE(box->EffectiveEnabled());

    EXPECT_TRUE(f->AvMixerDeviceOut->Active()); // open: changes made elsewhere reach the page
    EXPECT_FALSE(f->AvMixerDeviceOut->IsDeviceIdStored());
    EXPECT_EQ(f->AvAudioLineWaveSound->ComponentType(), ctDstSpeakers);
    EXPECT_EQ(f->AvAudioLineWaveSound->LineInfo()->Name(), "Speakers");
    EXPECT_EQ(f->AvAudioLineOutSound->ComponentType(), ctSrcWaveOut);
    EXPECT_EQ(f->AvAudioLineOutSound->LineInfo()->Name(), "Wave Out");
    EXPECT_EQ(f->AvAudioLineOutMicrophone->LineInfo()->Name(), "Microphone");
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(AudioPagesMixer, MicrophonePageStoredValues) {
    TAudioInForm* f = AudioInForm;
    TAvDeviceComboBox* box = f->AvDeviceComBoxIn;
    EXPECT_EQ(box->BoundsRect(), Rect(16, 58, 16 + 145, 58 + 21));
    EXPECT_EQ(box->TabOrder(), 0);
    EXPECT_EQ(f->Label1->Caption(), QStringLiteral("选择您要使用的麦克风："));
    EXPECT_EQ(f->Label1->Left(), 16);
    EXPECT_EQ(f->Label1->Top(), 39);
    EXPECT_EQ(box->ItemIndex(), 0);
    EXPECT_TRUE(f->AvMixerDeviceIn->Active()); // opened by the loaded step
    EXPECT_TRUE(f->AvMixerDeviceIn->IsActiveStored());
    EXPECT_EQ(f->AvAudioLineIn->LineInfo()->Name(), "Recording Control");
    EXPECT_EQ(f->AvAudioLineIn->Connections(), 3);
    EXPECT_EQ(f->AvAudioLineInMicrophone->Mixer(), nullptr);
    EXPECT_EQ(f->AvAudioLineInMicrophone->LineId(), -1);
}

TEST_F(AudioPagesMixer, PickingTheSecondDeviceMovesEveryLine) {
    TAudioOutForm* out = AudioOutForm;
    Pick(out->AvDeviceComBoxOut, 1);
    EXPECT_EQ(out->AvMixerDeviceOut->DeviceId(), 1);
    EXPECT_EQ(out->AvAudioLineWaveSound->LineInfo()->Name(), "Headset Speakers");
    EXPECT_EQ(out->AvAudioLineOutSound->LineInfo()->Name(), "Headset Wave");
    EXPECT_EQ(out->AvAudioLineOutMicrophone->LineInfo()->Name(), "Headset Mic");
    EXPECT_EQ(out->AvDeviceComBoxOut->ItemIndex(), 1);

    TAudioInForm* in = AudioInForm;
    in->AvAudioLineInMicrophone->SetMixer(in->AvMixerDeviceIn);
    in->AvAudioLineInMicrophone->SetLineId(in->AvAudioLineIn->Connection(1));
    ASSERT_EQ(in->AvAudioLineInMicrophone->LineInfo()->Name(), "Microphone");
    Pick(in->AvDeviceComBoxIn, 1);
    EXPECT_EQ(in->AvMixerDeviceIn->DeviceId(), 1);
    EXPECT_TRUE(in->AvMixerDeviceIn->Active()); // reopened on the new mixer
    EXPECT_EQ(in->AvAudioLineIn->LineInfo()->Name(), "Headset Recording");
    // Bound by id: the same id on the second card is its recording microphone.
    EXPECT_EQ(in->AvAudioLineInMicrophone->LineInfo()->Name(), "Microphone");
    EXPECT_EQ(in->AvAudioLineInMicrophone->Mixer(), in->AvMixerDeviceIn);
    // The other page keeps its own choice.
    EXPECT_EQ(AudioOutForm->AvMixerDeviceOut->DeviceId(), 1);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

} // namespace

// Another program turns the speakers down and mutes them: the speaker page's slider shows it,
// and the next step down goes on from there.
TEST_F(AudioPagesMixer, SpeakerSliderShowsChangesMadeElsewhere) {
    TAudioOutForm* f = AudioOutForm;
    TAvMixerBlockSlider* slider = f->AvMixerBlockSlider6;
    TAvVolumeControl other(nullptr); // another program's hold on the same line
    other.SetAudioLine(f->AvAudioLineWaveSound);
    other.SetUnsigned(static_cast<DWORD>(0.3 * 65535 + 0.5));
    EXPECT_TRUE(PumpUntil([&] { return slider->Position() == 30; }));
    slider->SetPosition(slider->Position() - 1);
    EXPECT_EQ(other.GetUnsignedValue(1, AvNoItem), static_cast<DWORD>(29 * 655.35 + 0.5));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

// No device at all when the pages are made (no sound server yet): no message, empty lists; the
// first card to come fills both lists and the microphone page's mixer opens on it.
TEST_F(AudioPagesWithoutDevices, PagesWaitForTheFirstCard) {
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
    EXPECT_EQ(AudioOutForm->AvDeviceComBoxOut->ItemCount(), 0);
    EXPECT_EQ(AudioInForm->AvDeviceComBoxIn->ItemCount(), 0);
    EXPECT_FALSE(AudioInForm->AvMixerDeviceIn->Active());
    Sim->AddCard(SimConfig::StandardCard("Late Card", true));
    EXPECT_TRUE(PumpUntil([&] {
        return AudioOutForm->AvDeviceComBoxOut->ItemCount() == 1 &&
               AudioInForm->AvDeviceComBoxIn->ItemCount() == 1 &&
               AudioInForm->AvMixerDeviceIn->Active();
    }));
    EXPECT_EQ(AudioOutForm->AvDeviceComBoxOut->ItemIndex(), 0);
    EXPECT_EQ(AudioInForm->AvAudioLineIn->LineInfo()->Name(), "Recording Control");
    EXPECT_TRUE(AudioOutForm->AvMixerBlockSlider6->EffectiveEnabled());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}
