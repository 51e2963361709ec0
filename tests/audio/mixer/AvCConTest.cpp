// Mixer-bound sliders, check boxes and the label connector on the hand-made mixer (FakeMixer.h).
#include "audio/mixer/AvCCon.h"
#include "FakeMixerFixture.h"

#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

using namespace fakemixer;

namespace {

class AvCCon : public FakeMixerTest {
protected:
    AvCCon() { mixer->SetActive(true); }
};

} // namespace

TEST_F(AvCCon, SliderRangeComesFromBoundsAndSteps) {
    auto noSteps = Control(speakers.get(), ctVolume);
    auto hundred = Control(wave.get(), ctVolume);
    TAvMixerSlider s(nullptr);
    EXPECT_FALSE(s.EffectiveEnabled()); // unbound
    EXPECT_EQ(s.Max(), 2);
    EXPECT_EQ(s.Position(), 1);
    s.SetControl(noSteps.get());
    EXPECT_TRUE(s.EffectiveEnabled());
    EXPECT_EQ(s.Step(), 2047.96875L);
    EXPECT_EQ(s.Min(), 0);
    EXPECT_EQ(s.Max(), 32);
    s.SetControl(hundred.get());
    EXPECT_NEAR(static_cast<double>(s.Step()), 655.35, 1e-9);
    EXPECT_EQ(s.Max(), 100);
    EXPECT_EQ(s.Position(), 50); // 32768 / 655.35 = 50.0008
}

TEST_F(AvCCon, SliderWritesItsChannelAndItsEchoIsNoSecondChange) {
    auto volume = Control(wave.get(), ctVolume);
    TAvMixerSlider s(nullptr);
    s.SetControl(volume.get());
    int sliderChanges = 0, controlChanges = 0;
    s.OnChange = [&](TObject*) { ++sliderChanges; };
    volume->OnChange = [&](TObject*) { ++controlChanges; };
    s.SetPosition(30); // 30 * 655.35 = 19660.5, halves to even
    EXPECT_EQ(fake->Values(kWaveVolume), (std::vector<LONG>{19660, 19660}));
    EXPECT_EQ(sliderChanges, 1);
    Pump(); // the platform reports the write back
    EXPECT_EQ(controlChanges, 1);
    EXPECT_EQ(sliderChanges, 1);
    EXPECT_EQ(s.Position(), 30);
    EXPECT_EQ(fake->Writes(kWaveVolume), 1);

    s.SetChannel(2);
    s.SetPosition(10);
    EXPECT_EQ(fake->Values(kWaveVolume), (std::vector<LONG>{19660, 6554}));
    s.SetChannel(1);
    EXPECT_EQ(s.Position(), 30); // the left channel again
}

// A decibel slider over a control of 100 steps, as on the pages. The keys walk the thumb over
// every place up and down: each press moves it one place, raises OnChange once and moves the
// control that way (or not at all), and the mixer's echo of the write moves nothing. Lowering the
// program's value by one step (as the microphone page does) lowers the control every time.
TEST_F(AvCCon, DecibelSliderStepsSurviveTheEcho) {
    auto volume = Control(wave.get(), ctVolume);
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 300);
    auto* s = new TAvMixerSlider(&form);
    s->SetParent(&form);
    s->SetBounds(10, 10, 200, 40);
    s->SetLogarithmic(true);
    s->SetControl(volume.get());
    ASSERT_EQ(s->Max(), 100);
    form.Show();
    QApplication::setActiveWindow(&form);
    s->SetFocus();
    int changes = 0;
    s->OnChange = [&](TObject*) { ++changes; };
    auto value = [&] { return fake->Values(kWaveVolume)[0]; };
    QTest::keyClick(s, Qt::Key_Home); // horizontal: the minimum
    Pump();
    ASSERT_EQ(s->ThumbPosition(), 0);
    int up = 0, down = 0, lowered = 0;
    for (int t = 1; t <= 100; ++t) {
        const LONG before = value();
        const int p = s->Position();
        changes = 0;
        QTest::keyClick(s, Qt::Key_Up);
        Pump();
        if (s->ThumbPosition() != t || changes != 1 || value() < before || s->Position() < p) ++up;
    }
    for (int t = 99; t >= 0; --t) {
        const LONG before = value();
        const int p = s->Position();
        changes = 0;
        QTest::keyClick(s, Qt::Key_Down);
        Pump();
        if (s->ThumbPosition() != t || changes != 1 || value() > before || s->Position() > p)
            ++down;
    }
    s->SetPosition(100);
    Pump();
    for (int k = 0; k < 100; ++k) {
        const LONG before = value();
        const int thumb = s->ThumbPosition();
        changes = 0;
        s->SetPosition(s->Position() - 1);
        Pump();
        if (value() >= before || s->ThumbPosition() > thumb || changes != 1) ++lowered;
    }
    EXPECT_EQ(up, 0);
    EXPECT_EQ(down, 0);
    EXPECT_EQ(lowered, 0);
    EXPECT_EQ(value(), 0);
}

TEST_F(AvCCon, ChangeThroughAnotherHandleMovesTheSlider) {
    auto volume = Control(wave.get(), ctVolume);
    TAvMixerSlider s(nullptr);
    s.SetLogarithmic(true);
    s.SetControl(volume.get());
    int sliderChanges = 0;
    s.OnChange = [&](TObject*) { ++sliderChanges; };
    HMIXER h = nullptr;
    ASSERT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    LONG v[2] = {65535, 65535};
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = kWaveVolume;
    d.cChannels = 2;
    d.cbDetails = sizeof(LONG);
    d.paDetails = v;
    ASSERT_EQ(mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(h), &d,
                                     MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE),
              MMSYSERR_NOERROR);
    mixerClose(h);
    Pump();
    EXPECT_EQ(s.Position(), 100);
    EXPECT_EQ(s.ThumbPosition(), 100);
    EXPECT_EQ(sliderChanges, 1);
    EXPECT_EQ(fake->Writes(kWaveVolume), 1); // only the other program's write
}

TEST_F(AvCCon, DisabledSliderParksInTheMiddleWithoutWriting) {
    auto volume = Control(wave.get(), ctVolume);
    TAvMixerSlider s(nullptr);
    s.SetControl(volume.get());
    s.SetEnabled(false);
    EXPECT_FALSE(s.Enabled());
    EXPECT_FALSE(s.EffectiveEnabled());
    EXPECT_EQ(s.Min(), 0);
    EXPECT_EQ(s.Max(), 2);
    EXPECT_EQ(s.Position(), 1);
    EXPECT_EQ(fake->Writes(kWaveVolume), 0);
    s.SetEnabled(true);
    EXPECT_EQ(s.Max(), 100);
    EXPECT_EQ(s.Position(), 50);
    EXPECT_EQ(fake->Writes(kWaveVolume), 0);

    TAvMixerControl disabled(nullptr); // the platform marks the control disabled
    disabled.SetAudioLine(speakers.get());
    disabled.SetControlId(kSpkDisabled);
    s.SetControl(&disabled);
    EXPECT_FALSE(s.EffectiveEnabled());
    s.SetPosition(2);
    EXPECT_EQ(s.Position(), 1); // snaps back
    EXPECT_EQ(fake->Writes(kSpkDisabled), 0);
}

TEST_F(AvCCon, ControlsOfTheWrongClassAreRefused) {
    auto volume = Control(wave.get(), ctVolume);
    auto mute = Control(wave.get(), ctMute);
    TAvMixerSlider s(nullptr);
    s.SetControl(volume.get());
    EXPECT_EQ(Raised<EAvMixerControlsError>([&] { s.SetControl(mute.get()); }),
              "Invalid control class");
    EXPECT_EQ(s.Control(), volume.get());
    TAvMixerCheckBox box(nullptr);
    EXPECT_EQ(Raised<EAvMixerControlsError>([&] { box.SetControl(volume.get()); }),
              "Invalid control class");
    EXPECT_EQ(box.Control(), nullptr);
}

TEST_F(AvCCon, DestroyedControlUnbinds) {
    auto volume = Control(wave.get(), ctVolume);
    TAvMixerSlider s(nullptr);
    TAvMixerCheckBox box(nullptr);
    auto mute = Control(wave.get(), ctMute);
    s.SetControl(volume.get());
    box.SetControl(mute.get());
    volume.release()->Free();
    mute.release()->Free();
    EXPECT_EQ(s.Control(), nullptr);
    EXPECT_FALSE(s.EffectiveEnabled());
    EXPECT_EQ(s.Position(), 1);
    EXPECT_EQ(box.Control(), nullptr);
    EXPECT_FALSE(box.EffectiveEnabled());
}

// The simulated pan of a two-channel line carries negative values: the slider shows them.
TEST_F(AvCCon, PanSliderShowsALeftBalance) {
    TAvVolumeControl volume(nullptr);
    TAvPanControl pan(nullptr);
    pan.SetVolumeControl(&volume);
    volume.SetAudioLine(speakers.get());
    pan.SetAudioLine(speakers.get());
    ASSERT_TRUE(pan.Simulating());
    TAvMixerSlider s(nullptr);
    s.SetControl(&pan);
    EXPECT_EQ(s.Max(), 32);
    EXPECT_EQ(s.Position(), 16); // centred
    s.SetPosition(8);            // 8 * 2047.96875 - 32768 = -16384
    EXPECT_EQ(pan.GetSigned(), -16384);
    EXPECT_EQ(fake->Values(kSpkVolume), (std::vector<LONG>{30000, 15000}));
    Pump(); // read back from the channels: -16383, still step 8
    EXPECT_EQ(s.Position(), 8);
}

TEST_F(AvCCon, CheckBoxesOnAMultiplexerSelectOneSource) {
    auto mux = Control(recording.get(), ctMux);
    TAvMixerCheckBox mic(nullptr), cd(nullptr);
    mic.SetControl(mux.get());
    mic.SetItem(1);
    cd.SetControl(mux.get());
    cd.SetItem(2);
    EXPECT_TRUE(mic.Checked());
    EXPECT_FALSE(cd.Checked());
    EXPECT_EQ(mic.Caption(), "Microphone");
    int clicks = 0;
    cd.OnClick = [&](TObject*) { ++clicks; };
    cd.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(fake->Values(kRecMux), (std::vector<LONG>{0, 0, 1, 0}));
    Pump();
    EXPECT_FALSE(mic.Checked());
    EXPECT_TRUE(cd.Checked());
    cd.SetChecked(false);
    EXPECT_EQ(fake->Values(kRecMux), (std::vector<LONG>{0, 0, 0, 0}));
}

TEST_F(AvCCon, CheckBoxOnAMixerListChangesOnlyItsItem) {
    auto list = Control(recording.get(), ctMixer);
    TAvMixerCheckBox mic(nullptr);
    mic.SetControl(list.get());
    mic.SetItem(1);
    EXPECT_FALSE(mic.Checked());
    mic.SetChecked(true);
    EXPECT_EQ(fake->Values(kRecMixer), (std::vector<LONG>{1, 1, 1, 1}));
    mic.SetChecked(false);
    EXPECT_EQ(fake->Values(kRecMixer), (std::vector<LONG>{1, 0, 1, 1}));
}

TEST_F(AvCCon, MuteBoxCaptionAndUnusableBoxReturnsToTheControl) {
    auto mute = Control(wave.get(), ctMute);
    TAvMixerCheckBox box(nullptr);
    box.SetControl(mute.get());
    EXPECT_EQ(box.Caption(), "Mute");
    box.SetShort(false);
    EXPECT_EQ(box.Caption(), "Mute control");
    box.SetAutoCaption(false);
    box.SetCaption(QStringLiteral("静音"));
    box.SetShort(true);
    EXPECT_EQ(box.Caption(), QStringLiteral("静音"));
    EXPECT_TRUE(box.IsCaptionStored());
    box.SetChecked(true);
    EXPECT_EQ(fake->Values(kWaveMute), (std::vector<LONG>{1}));

    box.SetEnabled(false);
    EXPECT_FALSE(box.EffectiveEnabled());
    box.SetChecked(false); // not usable: back to the control's state, nothing written
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(fake->Values(kWaveMute), (std::vector<LONG>{1}));
}

TEST_F(AvCCon, LabelConnectorWritesCaptions) {
    TForm form(nullptr);
    auto* label = new TLabel(&form);
    TAvMixerLabelConnector conn(nullptr);
    int changes = 0;
    conn.OnChange = [&](TObject*) { ++changes; };
    conn.SetSource(wave.get()); // no destination yet: nothing written, still OnChange
    EXPECT_EQ(changes, 1);
    conn.SetDestination(label);
    EXPECT_EQ(label->Caption(), "Wave Out");
    conn.SetShort(true);
    EXPECT_EQ(label->Caption(), "Wave");
    conn.SetAllCaps(true);
    EXPECT_EQ(label->Caption(), "WAVE");
    conn.SetAllCaps(false);
    EXPECT_EQ(changes, 5);

    auto mux = Control(recording.get(), ctMux);
    auto volume = Control(wave.get(), ctVolume);
    conn.SetSource(mux.get());
    conn.SetItem(1);
    EXPECT_EQ(label->Caption(), "Microphone");
    conn.SetItem(9);
    EXPECT_EQ(label->Caption(), "Invalid item");
    conn.SetSource(volume.get());
    conn.SetItem(3);
    conn.SetShort(false);
    EXPECT_EQ(label->Caption(), "Volume control"); // no cfMultiple: the control's own name
    conn.SetSource(mixer.get());
    EXPECT_EQ(label->Caption(), "Fake Mixer");

    TAvNonVisualComponent plain(nullptr);
    EXPECT_EQ(Raised<EAvCaptionLinkError>([&] { conn.SetSource(&plain); }),
              "Device, Line or Control supported only");
    EXPECT_EQ(conn.Source(), mixer.get());
    EXPECT_EQ(Raised<EAvMixerControlsError>([&] { conn.SetDestination(&plain); }),
              "Destination has not Caption property");
    EXPECT_EQ(conn.Destination(), label);

    // The line follows its mixer's changes; the label follows the line.
    auto line = Line(ctSrcWaveOut);
    conn.SetSource(line.get());
    EXPECT_EQ(label->Caption(), "Wave Out");
    line->SetComponentType(ctSrcMicrophone);
    EXPECT_EQ(label->Caption(), "Microphone");
    line.release()->Free();
    EXPECT_EQ(conn.Source(), nullptr);
    EXPECT_EQ(label->Caption(), "Not connected");
}

TEST_F(AvCCon, PlainDeletesUnbindSlidersAndLabels) {
    auto volume = Control(wave.get(), ctVolume);
    TAvMixerSlider s(nullptr);
    s.SetControl(volume.get());
    TForm form(nullptr);
    auto* label = new TLabel(&form);
    TAvMixerLabelConnector conn(nullptr);
    conn.SetDestination(label);
    conn.SetSource(volume.get());
    EXPECT_EQ(label->Caption(), "Volume control");
    volume.reset();
    EXPECT_EQ(s.Control(), nullptr);
    EXPECT_FALSE(s.EffectiveEnabled());
    EXPECT_EQ(conn.Source(), nullptr);
    EXPECT_EQ(label->Caption(), "Not connected");
    delete label;
    EXPECT_EQ(conn.Destination(), nullptr);
}
