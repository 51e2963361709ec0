// The mixer block on the simulated sound system: children finding their slots, binding to the
// line's controls and the destination's list, the strip layout, and the level connector.
#include "audio/mixer/AvMixBlk.h"
#include "MixerTestSupport.h"

#include "framework/Forms.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

using namespace mixertest;

namespace {

class AvMixBlk : public SimFixture {
protected:
    explicit AvMixBlk(SimConfig config = SimConfig::Default()) : SimFixture(std::move(config)) {
        mixer = new TAvMixerDevice(&form);
        mixer->SetActive(true);
        speakers = Line(ctDstSpeakers);
        wave = Line(ctSrcWaveOut);
        recording = Line(ctDstWaveIn);
        block = new TAvMixerBlock(&form);
        block->SetParent(&form);
        block->SetBounds(8, 8, 100, 250);
        form.SetBounds(0, 0, 400, 300);
    }
    ~AvMixBlk() override { Pump(); }

    TAvAudioLine* Line(TAvComponentType type) {
        auto* l = new TAvAudioLine(&form);
        l->SetMixer(mixer);
        l->SetComponentType(type);
        return l;
    }
    // The source of the recording destination named name (by line id, as the microphone page
    // binds it).
    TAvAudioLine* RecordingSource(const QString& name) {
        auto* l = new TAvAudioLine(&form);
        l->SetMixer(mixer);
        for (int i = 0; i < recording->Connections(); ++i) {
            l->SetLineId(recording->Connection(i));
            if (l->LineInfo()->Name() == name) break;
        }
        return l;
    }
    TAvMixerControl* Control(TAvAudioLine* line, TAvControlType type) {
        auto* c = new TAvMixerControl(&form);
        c->SetAudioLine(line);
        c->SetControlType(type);
        return c;
    }
    TAvMixerBlockSlider* Slider(TAvBlockSliderRole role, TWinControl* parent = nullptr) {
        auto* s = new TAvMixerBlockSlider(&form);
        s->SetRole(role);
        s->SetParent(parent ? parent : block);
        return s;
    }
    TAvMixerBlockCheck* Check() {
        auto* c = new TAvMixerBlockCheck(&form);
        c->SetBounds(0, 0, 50, 17);
        c->SetParent(block);
        return c;
    }
    TAvMixerBlockLabel* Label(TAvBlockLabelIndex index) {
        auto* l = new TAvMixerBlockLabel(&form);
        l->SetIndex(index);
        l->SetParent(block);
        return l;
    }
    int CharWidth() const {
        return QFontMetrics(block->Font()->ToQFont()).horizontalAdvance(QStringLiteral("A"));
    }
    int HalfHeight() const { return QFontMetrics(block->Font()->ToQFont()).height() / 2; }

    TForm form{nullptr};
    TAvMixerDevice* mixer;
    TAvAudioLine *speakers, *wave, *recording;
    TAvMixerBlock* block;
};

// Two cards whose mixers number their controls differently: the second has fewer speaker
// sources, so its recording multiplexer and the microphone's volume have other ids.
SimConfig TwoCardsWithOtherIds() {
    SimConfig c;
    c.cards = {SimConfig::StandardCard("Card A", true), SimConfig::StandardCard("Card B", true)};
    c.cards[1].destinations[0].sources.resize(1); // Wave Out only
    return c;
}

class AvMixBlkSwitch : public AvMixBlk {
protected:
    AvMixBlkSwitch() : AvMixBlk(TwoCardsWithOtherIds()) {}
};

template <class E, class F> QString Raised(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("<nothing raised>");
}

} // namespace

TEST_F(AvMixBlk, NewBlock) {
    EXPECT_EQ(block->Width(), 100);
    EXPECT_EQ(block->Height(), 250);
    EXPECT_EQ(block->Color(), clBtnFace);
    EXPECT_FALSE(block->TabStop());
    EXPECT_EQ(block->Item(), -1);
    EXPECT_TRUE(block->AutoArrange());
    EXPECT_TRUE(block->AutoSize());
    EXPECT_EQ(block->MuteKind(), mkMute);
    EXPECT_EQ(block->PanControl()->VolumeControl(), block->VolumeControl());
    EXPECT_EQ(block->MuteControl()->ControlType(), ctMute);
    EXPECT_EQ(block->PeakMeterControl()->ControlType(), ctPeakMeter);
    EXPECT_EQ(block->LevelConnector()->Control(), block->PeakMeterControl());
    EXPECT_TRUE(block->LevelConnector()->AutoTrigger());
    EXPECT_EQ(block->LevelConnector()->Interval(), 25);
    EXPECT_EQ(block->LevelConnector()->Item(), -1);
    EXPECT_FALSE(block->LevelConnector()->TimerActive()); // nobody listens
}

TEST_F(AvMixBlk, OneVolumeSliderGetsTheWholeMiddle) {
    block->SetLine(speakers);
    TAvMixerBlockSlider* s = Slider(srLeftVolume);
    TAvMixerBlockCheck* c = Check();
    const int cw = CharWidth(), hh = HalfHeight(), ext = block->BevelExtent();
    EXPECT_EQ(block->LeftVolumeSlider(), s);
    EXPECT_EQ(block->CheckBox(), c);
    const int left = ext + cw, right = 100 - ext - cw;
    const int bottom = 250 - ext - hh - c->Height() - hh;
    EXPECT_EQ(c->BoundsRect(), Rect(left, 250 - ext - hh - 17, right, 250 - ext - hh));
    EXPECT_EQ(s->BoundsRect(), Rect(left, ext + hh + hh, right, bottom));
    // Bound to the line's volume, both channels as one.
    EXPECT_EQ(s->Control(), block->VolumeControl());
    EXPECT_EQ(s->Channel(), 0);
    EXPECT_TRUE(s->EffectiveEnabled());
    EXPECT_EQ(c->Control(), block->MuteControl());
    EXPECT_EQ(block->MuteKind(), mkMute);
    // Tab order: pan, left, right, box.
    EXPECT_EQ(s->TabOrder(), 1);
    EXPECT_EQ(c->TabOrder(), 3);
    EXPECT_TRUE(s->TabStop());

    // Without AutoSize the slider keeps its size and is centred in its share.
    block->SetAutoSize(false);
    s->SetBounds(0, 0, 20, 100);
    block->Arrange();
    EXPECT_EQ(s->Left(), left + (right - left - 20) / 2);
    EXPECT_EQ(s->Top(), ext + 2 * hh + (bottom - ext - 2 * hh - 100) / 2);
}

TEST_F(AvMixBlk, SliderMovesTheLineVolume) {
    block->SetLine(speakers);
    TAvMixerBlockSlider* s = Slider(srLeftVolume);
    TAvVolumeControl probe(nullptr);
    probe.SetAudioLine(speakers);
    s->SetPosition(s->Max());
    EXPECT_EQ(probe.GetUnsignedValue(1, -1), static_cast<DWORD>(probe.ControlInfo()->MaxValue()));
    s->SetPosition(0);
    EXPECT_EQ(probe.GetUnsignedValue(2, -1), static_cast<DWORD>(probe.ControlInfo()->MinValue()));
}

TEST_F(AvMixBlk, PairsAndPanAreBoundToTheirChannels) {
    block->SetLine(wave);
    TAvMixerBlockSlider* pan = Slider(srPan);
    TAvMixerBlockSlider* l = Slider(srLeftVolume);
    TAvMixerBlockSlider* r = Slider(srRightVolume);
    EXPECT_EQ(pan->Control(), block->PanControl());
    EXPECT_EQ(l->Channel(), 1);
    EXPECT_EQ(r->Channel(), 2);
    // The pair shares the middle with a gap of one character.
    const int cw = CharWidth();
    EXPECT_EQ(l->Top(), r->Top());
    EXPECT_EQ(r->Left() - (l->Left() + l->Width()), (cw / 2) * 2);
    EXPECT_GT(l->Top(), pan->Top() + pan->Height());
    // The right one leaving makes the left one both channels again.
    r->Free();
    EXPECT_EQ(block->RightVolumeSlider(), nullptr);
    EXPECT_EQ(l->Channel(), 0);
}

TEST_F(AvMixBlk, LaterSliderOfARoleWins) {
    block->SetLine(speakers);
    TAvMixerBlockSlider* first = Slider(srLeftVolume);
    EXPECT_EQ(first->Control(), block->VolumeControl());
    TAvMixerBlockSlider* second = Slider(srLeftVolume);
    EXPECT_EQ(block->LeftVolumeSlider(), second);
    EXPECT_EQ(second->Control(), block->VolumeControl());
    EXPECT_EQ(first->Control(), nullptr);
    EXPECT_FALSE(first->EffectiveEnabled());
    // Moving the winner to another role hands the slot back.
    second->SetRole(srRightVolume);
    EXPECT_EQ(block->LeftVolumeSlider(), first);
    EXPECT_EQ(block->RightVolumeSlider(), second);
    EXPECT_EQ(first->Channel(), 1);
}

TEST_F(AvMixBlk, BlockChildrenOnlyInsideABlock) {
    auto* s = new TAvMixerBlockSlider(&form);
    EXPECT_EQ(Raised<EAvBlockError>([&] { s->SetParent(&form); }),
              QStringLiteral("This controls can be used only with MixerBlock"));
    EXPECT_EQ(s->Parent(), nullptr);
    auto* box = new TAvMixerBlockCheck(&form);
    EXPECT_THROW(box->SetParent(&form), EAvBlockError);
    auto* lbl = new TAvMixerBlockLabel(&form);
    EXPECT_THROW(lbl->SetParent(&form), EAvBlockError);
    auto* lvl = new TAvMixerBlockLevel(&form);
    EXPECT_THROW(lvl->SetParent(&form), EAvBlockError);
    // Inside a panel inside a block is fine, and the block finds it there.
    auto* panel = new TPanel(&form);
    panel->SetParent(block);
    s->SetRole(srLeftVolume);
    s->SetParent(panel);
    EXPECT_EQ(block->LeftVolumeSlider(), s);
    // Moving from one block to another leaves the first.
    auto* other = new TAvMixerBlock(&form);
    other->SetParent(&form);
    s->SetParent(other);
    EXPECT_EQ(block->LeftVolumeSlider(), nullptr);
    EXPECT_EQ(other->LeftVolumeSlider(), s);
}

TEST_F(AvMixBlk, LabelsWithoutLine) {
    TAvMixerBlockLabel* name = Label(biName);
    TAvMixerBlockLabel* balance = Label(biBalance);
    TAvMixerBlockLabel* volume = Label(biVolume);
    EXPECT_EQ(name->Caption(), QStringLiteral("Not connected"));
    EXPECT_EQ(balance->Caption(), QStringLiteral("Balance:"));
    EXPECT_EQ(volume->Caption(), QStringLiteral("Volume:"));
    const int hh = HalfHeight(), ext = block->BevelExtent();
    EXPECT_EQ(name->Top(), ext + hh);
    EXPECT_EQ(balance->Top(), name->Top() + name->Height() + hh);
    EXPECT_EQ(name->Width(), 100 - 2 * (ext + CharWidth()));
    block->SetLine(speakers);
    EXPECT_EQ(name->Caption(), QStringLiteral("Speakers"));
    // The line going away leaves the block unbound.
    speakers->Free();
    EXPECT_EQ(block->Line(), nullptr);
    EXPECT_EQ(name->Caption(), QStringLiteral("Not connected"));
}

TEST_F(AvMixBlk, SourceOfTheMultiplexerIsSelected) {
    TAvAudioLine* mic = RecordingSource(QStringLiteral("Microphone"));
    ASSERT_EQ(mic->LineInfo()->Name(), QStringLiteral("Microphone"));
    block->SetLine(mic);
    TAvMixerBlockCheck* box = Check();
    // Without Mixer the box mutes (the recording source has no mute: the box is unusable).
    EXPECT_EQ(block->MuteKind(), mkMute);
    EXPECT_EQ(box->Control(), block->MuteControl());

    // A mixer list the destination does not have does not resolve: still the mute.
    TAvMixerControl* list = Control(recording, ctMixer);
    block->SetMixer(list);
    EXPECT_FALSE(list->IsValid());
    EXPECT_EQ(block->MuteKind(), mkMute);

    // The multiplexer lists the microphone: the box selects it.
    TAvMixerControl* mux = Control(recording, ctMux);
    block->SetMixer(mux);
    EXPECT_EQ(block->MuteKind(), mkSelect);
    EXPECT_EQ(box->Control(), mux);
    const TAvItemIndex item = mux->FindItem(mic);
    EXPECT_EQ(box->Item(), item);
    // Select another source, then tick the box: the microphone is selected again.
    mux->SetBooleanValue(0, item == 0 ? 1 : 0, true);
    Pump();
    EXPECT_FALSE(box->Checked());
    box->SetChecked(true);
    EXPECT_TRUE(mux->GetBooleanValue(0, item));
    for (int i = 0; i < mux->GetItems(); ++i)
        if (i != item) {
            EXPECT_FALSE(mux->GetBooleanValue(0, i));
        }

    // The list control switching to the multiplexer type rebinds as well.
    block->SetMixer(nullptr);
    EXPECT_EQ(block->MuteKind(), mkMute);
    block->SetMixer(list);
    list->SetControlType(ctMux);
    EXPECT_EQ(block->MuteKind(), mkSelect);
    // Gone: back to mute.
    list->Free();
    EXPECT_EQ(block->Mixer(), nullptr);
    EXPECT_EQ(block->MuteKind(), mkMute);
}

TEST_F(AvMixBlk, ExplicitItemMustFitTheMixer) {
    TAvAudioLine* mic = RecordingSource(QStringLiteral("Microphone"));
    block->SetLine(mic);
    TAvMixerBlockCheck* box = Check();
    TAvMixerControl* mux = Control(recording, ctMux);
    block->SetMixer(mux);
    block->SetItem(2);
    EXPECT_EQ(box->Item(), 2);
    // A volume control is no list: binding the box to it is refused.
    TAvMixerControl* volume = Control(speakers, ctVolume);
    block->SetMixer(nullptr);
    block->SetItem(0);
    EXPECT_THROW(block->SetMixer(volume), EAvMixerControlsError);
}

TEST_F(AvMixBlk, RolesAssignedAtDesignTime) {
    form.SetDesigning(true);
    auto* a = new TAvMixerBlockSlider(&form);
    auto* b = new TAvMixerBlockSlider(&form);
    auto* c = new TAvMixerBlockSlider(&form);
    auto* d = new TAvMixerBlockSlider(&form);
    for (auto* s : {a, b, c, d})
        s->SetParent(block);
    EXPECT_EQ(a->Role(), srPan);
    EXPECT_EQ(b->Role(), srLeftVolume);
    EXPECT_EQ(c->Role(), srRightVolume);
    EXPECT_FALSE(d->RoleExplicit()); // nothing left for it
    auto* l1 = new TAvMixerBlockLevel(&form);
    auto* l2 = new TAvMixerBlockLevel(&form);
    l1->SetParent(block);
    l2->SetParent(block);
    EXPECT_EQ(l1->Index(), liLeft);
    EXPECT_EQ(l2->Index(), liRight);
    auto* n = new TAvMixerBlockLabel(&form);
    auto* v = new TAvMixerBlockLabel(&form);
    auto* w = new TAvMixerBlockLabel(&form);
    for (auto* x : {n, v, w})
        x->SetParent(block);
    EXPECT_EQ(n->Index(), biName);
    EXPECT_EQ(v->Index(), biBalance);
    EXPECT_EQ(w->Index(), biVolume);
    // Levels are shown at design time even without a peak meter, beside the sliders.
    EXPECT_TRUE(l1->Visible());
    EXPECT_EQ(l1->Kind(), lkVertical);
    EXPECT_GT(l1->Left(), c->Left());
}

TEST_F(AvMixBlk, BlockSliderStyles) {
    auto* s = new TAvMixerBlockSlider(&form);
    EXPECT_EQ(s->Role(), srPan);
    EXPECT_EQ(s->Bevel()->BevelOuter(), bvNone);
    EXPECT_EQ(s->GrooveSize(), 1);
    EXPECT_TRUE(s->Scale()->Visible());
    EXPECT_EQ(s->Scale()->Size(), 6);
    EXPECT_EQ(s->Scale()->TickCount(), 3);
    EXPECT_EQ(s->Scale()->EnlargeEvery(), 2);
    EXPECT_EQ(s->ScalePosition(), spBelowOrRight);
    EXPECT_FALSE(s->Logarithmic());
    EXPECT_FALSE(s->PicLeft()->Empty());
    EXPECT_FALSE(s->PicRight()->Empty());
    s->SetRole(srLeftVolume);
    EXPECT_TRUE(s->PicLeft()->Empty());
    EXPECT_EQ(s->Scale()->TickCount(), 7);
    EXPECT_EQ(s->Scale()->EnlargeEvery(), 6);
    EXPECT_EQ(s->ScalePosition(), spBoth);
    EXPECT_TRUE(s->Logarithmic());

    auto* lvl = new TAvMixerBlockLevel(&form);
    EXPECT_EQ(lvl->Bevel()->BorderWidth(), 1);
    EXPECT_EQ(lvl->Color(), clBtnFace);
    EXPECT_EQ(lvl->SpotWidth(), 6);
    EXPECT_EQ(lvl->Bar1Color(), 0x008000);
    EXPECT_EQ(lvl->Bar2Color(), 0x00FF00);
    EXPECT_EQ(lvl->Bar3Color(), 0x00FFFF);
    EXPECT_EQ(lvl->Inactive3Color(), clBtnFace);
    EXPECT_EQ(lvl->Point1(), 45);
    EXPECT_EQ(lvl->Point2(), 60);
    EXPECT_FALSE(lvl->LogAmp());
    EXPECT_EQ(lvl->NumPeaks(), 0);
}

TEST_F(AvMixBlk, LevelsFollowThePeakMeter) {
    // Speakers have no peak meter: levels stay hidden and the sliders get the middle.
    block->SetLine(speakers);
    TAvMixerBlockSlider* s = Slider(srLeftVolume);
    auto* left = new TAvMixerBlockLevel(&form);
    left->SetIndex(liLeft);
    left->SetParent(block);
    EXPECT_FALSE(left->Visible());
    const int fullWidth = s->Width();
    EXPECT_EQ(block->LevelConnector()->Level1(), left);

    // The wave output has one: the levels share the middle and the connector reads it.
    block->SetLine(wave);
    EXPECT_TRUE(block->PeakMeterControl()->IsValid());
    EXPECT_TRUE(left->Visible());
    EXPECT_LT(s->Width(), fullWidth);
    EXPECT_GE(left->Left(), s->Left() + s->Width());
    EXPECT_TRUE(block->LevelConnector()->TimerActive());
    int changes = 0;
    block->LevelConnector()->SetOnChange([&](TObject*) { ++changes; });
    block->LevelConnector()->Trigger();
    EXPECT_EQ(changes, 1); // the first reading always counts
    block->LevelConnector()->Trigger();
    EXPECT_EQ(changes, 1); // nothing playing: the same values
    EXPECT_EQ(left->RawLevel(), block->LevelConnector()->WholeValue());
}

TEST_F(AvMixBlk, ConnectorAcceptsOnlyReadableClasses) {
    TAvMixerConnector c(nullptr);
    TAvMixerControl* mute = Control(speakers, ctMute);
    EXPECT_EQ(Raised<EAvMixerControlsError>([&] { c.SetControl(mute); }),
              QStringLiteral("Invalid control class"));
    EXPECT_EQ(c.Control(), nullptr);
    TAvMixerControl* volume = Control(speakers, ctVolume);
    c.SetControl(volume);
    EXPECT_EQ(c.Control(), volume);
    TAvLevel level(nullptr);
    c.SetLevel1(&level);
    EXPECT_TRUE(c.TimerActive());
    c.SetEnabled(false);
    EXPECT_FALSE(c.TimerActive());
    c.SetEnabled(true);
    // 0xC000 of 0 .. 65535 reads as 0xC000 / 65535 of 32768.
    c.Trigger();
    EXPECT_EQ(c.WholeValue(), static_cast<int>(0xC000LL * 32768 / 65535));
    EXPECT_EQ(level.RawLevel(), c.WholeValue());
    volume->Free();
    EXPECT_EQ(c.Control(), nullptr);
    EXPECT_FALSE(c.TimerActive());
}

// A form destroys its components newest first: a line made after the block goes before it, and
// the block must not touch it afterwards (run under AddressSanitizer to see the difference).
TEST_F(AvMixBlk, LineThatGoesFirstIsForgotten) {
    auto* late = Line(ctSrcWaveOut);
    TAvMixerControl* list = Control(late, ctMixer);
    block->SetLine(late);
    block->SetMixer(list);
    Slider(srLeftVolume);
    form.DestroyComponents();
    SUCCEED();
}

// A plain delete of the line a block stands for, with a level and a name label in the block: the
// block's own controls hear of it first and re-lay the block out, which must not read the
// line's description any more (run under AddressSanitizer to see the difference).
TEST_F(AvMixBlk, PlainDeleteOfTheBlocksLine) {
    auto* late = new TAvAudioLine(nullptr);
    late->SetMixer(mixer);
    late->SetComponentType(ctSrcWaveOut);
    block->SetLine(late);
    Slider(srLeftVolume);
    auto* level = new TAvMixerBlockLevel(&form);
    level->SetIndex(liLeft);
    level->SetParent(block);
    TAvMixerBlockLabel* name = Label(biName);
    ASSERT_EQ(name->Caption(), QStringLiteral("Wave Out"));
    ASSERT_TRUE(level->Visible());
    delete late;
    EXPECT_EQ(block->Line(), nullptr);
    EXPECT_EQ(name->Caption(), QStringLiteral("Not connected"));
    EXPECT_FALSE(level->Visible());
    EXPECT_FALSE(block->VolumeControl()->IsValid());
}

// The speaker page's block over a stereo line: the balance is the one of the line the volume
// control stands for now, not of the card it stood for before.
TEST_F(AvMixBlk, BalanceIsReadAgainWhenTheVolumeMovesToAnotherCard) {
    block->SetLine(speakers);
    TAvMixerBlockSlider* slider = Slider(srLeftVolume);
    TAvVolumeControl* volume = block->VolumeControl();
    volume->SetUnsignedValue(1, AvNoItem, 65535);
    volume->SetUnsignedValue(2, AvNoItem, 16384);
    Pump();
    ASSERT_LT(volume->PanValue(), 0);
    mixer->SetDeviceId(1); // balanced
    Pump();
    EXPECT_EQ(volume->PanValue(), 0);
    slider->SetPosition(50);
    EXPECT_NEAR(volume->GetUnsignedValue(1, AvNoItem), 32768.0, 1.0);
    EXPECT_EQ(volume->GetUnsignedValue(2, AvNoItem), volume->GetUnsignedValue(1, AvNoItem));
}

// The microphone page after a test: its block stands for the microphone and selects it in the
// recording multiplexer. Switching the mixer to a card that numbers its controls differently
// re-binds everything to the new card without asking it for an id of the old one.
TEST_F(AvMixBlkSwitch, DeviceSwitchUnderABlockOnAListAsksNoOldId) {
    TAvMixerControl* mux = Control(recording, ctMux);
    TAvAudioLine* mic = RecordingSource(QStringLiteral("Microphone"));
    block->SetLine(mic);
    TAvMixerBlockSlider* volume = Slider(srLeftVolume);
    TAvMixerBlockCheck* box = Check();
    block->SetMixer(mux);
    ASSERT_EQ(block->MuteKind(), mkSelect);
    const TAvControlId oldMux = mux->ControlId();
    const TAvControlId oldVolume = block->VolumeControl()->ControlId();

    EXPECT_NO_THROW(mixer->SetDeviceId(1));
    Pump();
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    EXPECT_TRUE(mixer->Active());
    EXPECT_EQ(mixer->DeviceCaps()->ProductName(), QStringLiteral("Card B"));
    EXPECT_EQ(mic->LineInfo()->Name(), QStringLiteral("Microphone"));
    EXPECT_NE(mux->ControlId(), oldMux);
    EXPECT_NE(block->VolumeControl()->ControlId(), oldVolume);
    EXPECT_EQ(block->MuteKind(), mkSelect);
    EXPECT_EQ(box->Control(), mux);
    EXPECT_EQ(box->Item(), mux->FindItem(mic));
    EXPECT_TRUE(box->Checked()); // card B records from its microphone too
    EXPECT_TRUE(volume->EffectiveEnabled());
    volume->SetPosition(100);
    EXPECT_EQ(block->VolumeControl()->GetUnsignedValue(1, AvNoItem), 0xFFFFu);

    EXPECT_NO_THROW(mixer->SetDeviceId(0)); // and back
    Pump();
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    EXPECT_EQ(mux->ControlId(), oldMux);
    EXPECT_EQ(box->Control(), mux);
    EXPECT_TRUE(box->Checked());
}
