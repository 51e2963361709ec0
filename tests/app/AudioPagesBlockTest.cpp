// The volume blocks and the level meter of the speaker and microphone pages: their stored values,
// the layout the blocks give their sliders, the speaker slider mirrored to the hidden wave-output
// slider, and pictures of both pages.
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"
#include "tests/app/WizardTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

class AudioPagesBlocks : public ::testing::Test {
protected:
    void SetUp() override {
        Backend = std::make_unique<ScopedAudioBackend>(std::make_unique<SimBackend>());
        App = wizardtest::StartWizard({}, Messages);
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Backend.reset();
    }
    static void Pump() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    // The volume of a line as the mixer holds it (left channel), read through a control of its own.
    static DWORD Volume(TAvAudioLine* line) {
        TAvVolumeControl probe(nullptr);
        probe.SetAudioLine(line);
        return probe.GetUnsignedValue(1, -1);
    }
    // The page shown on its own, grabbed to a PNG beside the test binary.
    static QImage Grab(TForm* page, const QString& name) {
        page->Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(page));
        Pump();
        const QImage img = page->grab().toImage();
        img.save(QDir(QCoreApplication::applicationDirPath()).filePath(name));
        return img;
    }

    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    QStringList Messages;
};

TEST_F(AudioPagesBlocks, SpeakerPageBlocks) {
    TAudioOutForm* f = AudioOutForm;
    TAvMixerBlock* b = f->AvMixerBlockWaveSound;
    EXPECT_EQ(b->Parent(), f);
    EXPECT_EQ(b->BoundsRect(), Bounds(231, 8, 100, 250));
    EXPECT_EQ(b->Line(), f->AvAudioLineWaveSound);
    EXPECT_EQ(b->Mixer(), f->AvMixerControlWaveSound);
    EXPECT_EQ(b->Bevel()->BevelOuter(), bvLowered);
    EXPECT_EQ(b->TabOrder(), 3);
    EXPECT_TRUE(b->Visible());

    TAvMixerBlockSlider* s6 = f->AvMixerBlockSlider6;
    EXPECT_EQ(s6->Parent(), b);
    EXPECT_EQ(b->LeftVolumeSlider(), s6);
    EXPECT_EQ(s6->Role(), srLeftVolume);
    EXPECT_TRUE(s6->Logarithmic());
    EXPECT_EQ(s6->Orientation(), orVertical);
    EXPECT_EQ(s6->ThumbWidth(), 23);
    EXPECT_EQ(s6->ThumbHeight(), 11);
    EXPECT_EQ(s6->GrooveSize(), 1);
    EXPECT_TRUE(s6->Scale()->Visible());
    EXPECT_EQ(s6->Scale()->TickCount(), 7);
    EXPECT_EQ(s6->Scale()->EnlargeEvery(), 6);
    EXPECT_EQ(s6->Scale()->Size(), 6);
    EXPECT_EQ(s6->ScalePosition(), spBoth);
    EXPECT_EQ(s6->Bevel()->BorderWidth(), 5);
    // The block lays the slider out where the form has it: the whole middle of the strip.
    EXPECT_EQ(s6->BoundsRect(), Bounds(8, 13, 84, 207));
    EXPECT_EQ(s6->Control(), b->VolumeControl());
    EXPECT_TRUE(s6->EffectiveEnabled());

    EXPECT_EQ(f->Label3->Parent(), b);
    EXPECT_EQ(f->Label3->Caption(), QStringLiteral("扬声器音量"));
    EXPECT_EQ(f->Label3->Left(), 24);
    EXPECT_EQ(f->Label3->Top(), 224);
    EXPECT_FALSE(f->AvMixerBlockCheck3->Visible());
    EXPECT_EQ(b->CheckBox(), f->AvMixerBlockCheck3);
    EXPECT_EQ(b->MuteKind(), mkMute); // the speakers have no mixer list

    // The hidden blocks are live and bound.
    TAvMixerBlock* out = f->AvMixerBlockOutSound;
    EXPECT_FALSE(out->Visible());
    EXPECT_EQ(out->BoundsRect(), Bounds(384, 8, 97, 250));
    EXPECT_EQ(out->Line(), f->AvAudioLineOutSound);
    EXPECT_EQ(out->Mixer(), f->AvMixerControlOutSound);
    EXPECT_EQ(out->LeftVolumeSlider(), f->AvMixerBlockSlider4);
    EXPECT_EQ(out->CheckBox(), f->AvMixerBlockCheck2);
    EXPECT_EQ(f->AvMixerBlockSlider4->Control(), out->VolumeControl());
    TAvMixerBlock* mic = f->AvMixerBlock1;
    EXPECT_FALSE(mic->Visible());
    EXPECT_EQ(mic->BoundsRect(), Bounds(536, 8, 100, 250));
    EXPECT_EQ(mic->Line(), f->AvAudioLineOutMicrophone);
    EXPECT_EQ(mic->Mixer(), f->AvMixerControlOutMicrophone);
    EXPECT_EQ(mic->CheckBox(), f->AvMixerBlockCheck4);
    EXPECT_EQ(mic->LeftVolumeSlider(), f->AvMixerBlockSlider7);
    EXPECT_EQ(f->AvMixerBlockCheck4->Control(), mic->MuteControl());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(AudioPagesBlocks, SpeakerSliderMovesTheWaveOutputToo) {
    TAudioOutForm* f = AudioOutForm;
    TAvMixerBlockSlider* s6 = f->AvMixerBlockSlider6;
    TAvMixerBlockSlider* s4 = f->AvMixerBlockSlider4;
    // Half the amplitude of the range (the thumb shows it in decibels).
    const int target = s6->Max() / 2;
    s6->SetPosition(target);
    EXPECT_NEAR(s6->Position(), target, s6->Max() / 100);
    EXPECT_EQ(s4->Position(), s6->Position());
    const DWORD speakers = Volume(f->AvAudioLineWaveSound);
    const DWORD wave = Volume(f->AvAudioLineOutSound);
    EXPECT_EQ(speakers, wave);
    // The top of the range is full volume on both lines.
    s6->SetPosition(s6->Max());
    EXPECT_EQ(s4->Position(), s6->Max());
    EXPECT_GT(Volume(f->AvAudioLineWaveSound), speakers);
    EXPECT_EQ(Volume(f->AvAudioLineOutSound), Volume(f->AvAudioLineWaveSound));
    // The platform's change reports come back later and move nothing.
    Pump();
    EXPECT_EQ(s6->Position(), s6->Max());
    EXPECT_EQ(s4->Position(), s6->Max());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(AudioPagesBlocks, MicrophonePageMeterAndBlock) {
    TAudioInForm* f = AudioInForm;
    TAvLevel* l = f->AvLevel1;
    EXPECT_EQ(l->Parent(), f);
    EXPECT_EQ(l->BoundsRect(), Bounds(208, 67, 17, 191));
    EXPECT_EQ(l->Kind(), lkVertical);
    EXPECT_EQ(l->Bar1Color(), 15588544);
    EXPECT_EQ(l->Bar2Color(), clYellow);
    EXPECT_EQ(l->BitLength(), b16Bit);
    EXPECT_EQ(l->Mode(), mStereo);
    EXPECT_EQ(l->Bevel()->BevelOuter(), bvLowered);
    EXPECT_EQ(l->SpotCount(), 95);
    EXPECT_EQ(l->BlockBytes(), 200);

    TAvMixerBlock* b = f->AvMixerBlockInMicrophone;
    EXPECT_EQ(b->BoundsRect(), Bounds(247, 8, 100, 250));
    EXPECT_EQ(b->Line(), f->AvAudioLineInMicrophone);
    EXPECT_EQ(b->Mixer(), nullptr);
    EXPECT_EQ(b->TabOrder(), 1);
    EXPECT_EQ(f->Label4->Parent(), b);
    EXPECT_EQ(f->Label4->Caption(), QStringLiteral("麦克风音量"));
    TAvMixerBlockSlider* s2 = f->AvMixerBlockSlider2;
    EXPECT_EQ(b->LeftVolumeSlider(), s2);
    EXPECT_TRUE(s2->Logarithmic());
    EXPECT_EQ(s2->Orientation(), orVertical);
    EXPECT_EQ(s2->Bevel()->BorderWidth(), 5);
    // Below the hidden pan slider, above the hidden check box.
    EXPECT_EQ(s2->BoundsRect(), Bounds(8, 59, 84, 161));
    TAvMixerBlockSlider* s1 = f->AvMixerBlockSlider1;
    EXPECT_EQ(b->PanSlider(), s1);
    EXPECT_FALSE(s1->Visible());
    EXPECT_EQ(s1->Left(), 8);
    EXPECT_EQ(s1->Top(), 7);
    EXPECT_EQ(s1->Width(), 84);
    EXPECT_FALSE(s1->Logarithmic());
    EXPECT_EQ(s1->Scale()->TickCount(), 3);
    EXPECT_EQ(s1->ScalePosition(), spBelowOrRight);
    EXPECT_FALSE(s1->PicLeft()->Empty());
    EXPECT_EQ(b->CheckBox(), f->AvMixerBlockCheck1);
    EXPECT_FALSE(f->AvMixerBlockCheck1->Visible());
    EXPECT_EQ(f->AvMixerBlockCheck1->BoundsRect(), Bounds(8, 226, 84, 17));
    EXPECT_EQ(f->ButtonTest->Caption(), QStringLiteral("测试"));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(AudioPagesBlocks, PagesLookFinished) {
    const QImage out = Grab(AudioOutForm, QStringLiteral("page-speaker-blocks.png"));
    ASSERT_FALSE(out.isNull());
    // The block's lowered bevel: shadow on its top-left edge.
    EXPECT_EQ(out.pixel(231, 100), ToQColor(clBtnShadow).rgb());
    const QImage in = Grab(AudioInForm, QStringLiteral("page-microphone-blocks.png"));
    ASSERT_FALSE(in.isNull());
    // The meter's unlit bottom spot (dark cyan) inside its bevel.
    EXPECT_EQ(in.pixel(208 + 8, 67 + 189), qRgb(0, 128, 128));
}

} // namespace
