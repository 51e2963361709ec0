// Mixer controls on a hand-made mixer (FakeMixer.h) and, for the page's multiplexer case, on the
// simulated sound system.
#include "audio/mixer/AvMixCtl.h"
#include "FakeMixerFixture.h"
#include "MixerTestSupport.h"

#include <gtest/gtest.h>

using namespace fakemixer;

namespace {

class AvMixCtl : public FakeMixerTest {};

} // namespace

TEST(AvControlTypes, TablesAndIdentifiers) {
    for (int i = 0; i < AvControlTypeCount; ++i) {
        const auto t = static_cast<TAvControlType>(i);
        EXPECT_EQ(AvControlTypeOf(AvControlTypeCode(t)), t);
    }
    EXPECT_EQ(AvControlTypeCode(ctMixer), 0x71010001u);
    EXPECT_EQ(AvControlTypeOf(0x50030077), ctCustom);
    EXPECT_EQ(AvControlClassOf(ctVolume), ccFader);
    EXPECT_EQ(AvControlClassOf(ctMux), ccList);
    EXPECT_EQ(AvControlClassOf(ctPeakMeter), ccMeter);
    EXPECT_EQ(AvControlClassOf(ctMute), ccSwitch);
    EXPECT_EQ(AvControlClassOf(ctPan), ccSlider);
    EXPECT_EQ(AvControlClassOf(ctMilliTime), ccTime);
    EXPECT_EQ(Raised<EAvMixerServiceError>([] { AvControlClassOf(DWORD(0x80000000)); }),
              "Undefined API control class");

    EXPECT_EQ(ControlIdToString(-1), "badControlId");
    EXPECT_EQ(ItemIndexToString(-1), "NoItem");
    EXPECT_EQ(ItemIndexToString(3), "3");
    TAvControlId id = 0;
    EXPECT_TRUE(StringToControlId(QStringLiteral("BADCONTROLID"), &id));
    EXPECT_EQ(id, -1);
    TAvItemIndex item = 0;
    EXPECT_TRUE(StringToItemIndex(QStringLiteral("noitem"), &item));
    EXPECT_EQ(item, -1);
    EXPECT_TRUE(StringToItemIndex(QStringLiteral("2"), &item));
    EXPECT_EQ(item, 2);
    EXPECT_FALSE(StringToItemIndex(QStringLiteral("none"), &item));
}

TEST_F(AvMixCtl, ResolvesByTypeAndById) {
    auto volume = Control(speakers.get(), ctVolume);
    EXPECT_TRUE(volume->IsValid());
    EXPECT_EQ(volume->ControlId(), TAvControlId(kSpkVolume));
    EXPECT_EQ(volume->ControlClass(), ccFader);
    EXPECT_EQ(volume->ControlInfo()->MaxValue(), 65535);
    EXPECT_EQ(volume->ControlInfo()->Steps(), 0);
    EXPECT_EQ(volume->ControlInfo()->ShortName(), "Volume");
    EXPECT_EQ(volume->GetChannels(), 2);
    EXPECT_EQ(volume->GetItems(), 0);
    EXPECT_TRUE(volume->IsControlTypeStored());

    TAvMixerControl byId(nullptr);
    byId.SetAudioLine(speakers.get());
    byId.SetControlId(kSpkOdd);
    EXPECT_EQ(byId.ControlType(), ctCustom); // a type outside the table
    EXPECT_EQ(byId.ControlClass(), ccCustom);
    EXPECT_TRUE(byId.IsControlIdStored());
    byId.SetControlId(kSpkMute);
    EXPECT_EQ(byId.ControlType(), ctMute);
    EXPECT_EQ(byId.GetChannels(), 1); // uniform

    auto missing = Control(speakers.get(), ctMixer);
    EXPECT_FALSE(missing->IsValid());
    EXPECT_EQ(missing->ControlId(), -1);
    EXPECT_TRUE(missing->ControlInfo()->Name().isEmpty());

    TAvMixerControl neverTyped(nullptr);
    neverTyped.SetAudioLine(speakers.get());
    EXPECT_EQ(neverTyped.Binding(), cbById);
    EXPECT_FALSE(neverTyped.IsValid());
}

TEST_F(AvMixCtl, ResolutionFollowsTheLineAndEndsWithControlIdChange) {
    auto volume = Control(speakers.get(), ctVolume);
    mixertest::RecordCounter seen;
    int idChanges = 0;
    seen.observer.OnNotify = [&](TObject*, TObject* d) {
        if (dynamic_cast<TAvControlIdChange*>(d)) ++idChanges;
    };
    volume->AddObserver(&seen.observer);
    speakers->SetComponentType(ctSrcWaveOut); // the line moves: the control follows
    EXPECT_EQ(volume->ControlId(), TAvControlId(kWaveVolume));
    EXPECT_EQ(volume->ControlInfo()->Steps(), 100);
    EXPECT_EQ(idChanges, 1);
    {
        auto line = std::make_unique<TAvAudioLine>(nullptr);
        volume->SetAudioLine(line.get());
        line->Free();
        line.release();
    }
    EXPECT_EQ(volume->AudioLine(), nullptr);
    EXPECT_EQ(Raised<EAvDeviceError>([&] { volume->GetUnsigned(); }),
              "Mixer required for this operation");
    auto mute = Control(speakers.get(), ctMux);
    EXPECT_EQ(Raised<EAvDeviceError>([&] { mute->GetBoolean(); }), "Control not valid");
}

TEST_F(AvMixCtl, ChannelValuesReadAndWriteTheWholeArray) {
    auto volume = Control(speakers.get(), ctVolume);
    fake->Poke(kSpkVolume, {1000, 2000});
    EXPECT_EQ(volume->GetUnsignedValue(1, -1), 1000u);
    EXPECT_EQ(volume->GetUnsignedValue(2, -1), 2000u);
    EXPECT_EQ(volume->GetUnsignedValue(0, -1), 2000u); // all channels as one: the loudest
    volume->SetUnsignedValue(2, -1, 5000);
    EXPECT_EQ(fake->Values(kSpkVolume), (std::vector<LONG>{1000, 5000}));
    volume->SetUnsignedValue(0, -1, 7000);
    EXPECT_EQ(fake->Values(kSpkVolume), (std::vector<LONG>{7000, 7000}));
    EXPECT_EQ(Raised<EAvMixerControlError>([&] { volume->GetUnsignedValue(3, -1); }),
              "Channel index out of range");
    EXPECT_EQ(Raised<EAvMixerControlError>([&] { volume->GetUnsignedValue(1, 0); }),
              "Item index out of range");
}

TEST_F(AvMixCtl, SingleSelectListsKeepOneItemWhileMixerListsChangeOnlyTheirs) {
    auto mux = Control(recording.get(), ctMux);
    auto list = Control(recording.get(), ctMixer);
    ASSERT_EQ(mux->GetItems(), 4);
    mux->SetBooleanValue(0, 2, true);
    EXPECT_EQ(fake->Values(kRecMux), (std::vector<LONG>{0, 0, 1, 0}));
    EXPECT_TRUE(mux->GetBooleanValue(0, 2));
    EXPECT_FALSE(mux->GetBooleanValue(0, 1));
    mux->SetBooleanValue(0, 2, false);
    EXPECT_EQ(fake->Values(kRecMux), (std::vector<LONG>{0, 0, 0, 0}));

    list->SetBooleanValue(0, 1, true);
    EXPECT_EQ(fake->Values(kRecMixer), (std::vector<LONG>{1, 1, 1, 1}));
    list->SetBooleanValue(0, 2, false);
    EXPECT_EQ(fake->Values(kRecMixer), (std::vector<LONG>{1, 1, 0, 1}));
    EXPECT_EQ(Raised<EAvMixerControlError>([&] { mux->SetBooleanValue(0, 4, true); }),
              "Item index out of range");
}

TEST_F(AvMixCtl, ItemInfoAndFindItem) {
    auto mux = Control(recording.get(), ctMux);
    const TAvItemInfo info = mux->GetItemInfo(1);
    EXPECT_EQ(info.Name, "Microphone");
    EXPECT_EQ(info.Param1, SourceId(1, 1));
    EXPECT_EQ(Raised<EAvMixerControlError>([&] { mux->GetItemInfo(4); }),
              "Item index out of range");
    auto volume = Control(speakers.get(), ctVolume);
    EXPECT_EQ(Raised<EAvMixerControlError>([&] { volume->GetItemInfo(0); }),
              "Item info requested from non-multiple control");

    TAvAudioLine cd(nullptr);
    cd.SetMixer(mixer.get());
    cd.SetLineId(static_cast<TAvLineId>(SourceId(1, 2)));
    EXPECT_EQ(mux->FindItem(&cd), 2);
    EXPECT_EQ(volume->FindItem(&cd), -1);
    EXPECT_EQ(mux->FindItem(wave.get()), -1); // not a source of the recording destination
    EXPECT_EQ(mux->FindItem(nullptr), -1);
}

TEST_F(AvMixCtl, VolumeBalanceTruncatesTowardZero) {
    TAvVolumeControl volume(nullptr);
    volume.SetAudioLine(recording.get());
    ASSERT_TRUE(volume.IsValid());
    EXPECT_EQ(volume.ControlId(), TAvControlId(kRecVolume));
    volume.SetPanValue(16384);
    volume.SetUnsigned(40000);
    EXPECT_EQ(fake->Values(kRecVolume), (std::vector<LONG>{19999, 40000}));
    volume.SetPanValue(-16384); // rewrites the loudest channel with the new balance
    EXPECT_EQ(fake->Values(kRecVolume), (std::vector<LONG>{40000, 20000}));
    volume.SetUnsignedValue(1, -1, 123); // one channel: as given
    EXPECT_EQ(fake->Values(kRecVolume), (std::vector<LONG>{123, 20000}));
    volume.SetPanValue(0);
    volume.SetSigned(30001);
    EXPECT_EQ(fake->Values(kRecVolume), (std::vector<LONG>{30001, 30001}));
    // Whole products stay whole: 1057 * 30783 / 32767 is exactly 993.
    volume.SetPanValue(1984);
    volume.SetUnsigned(1057);
    EXPECT_EQ(fake->Values(kRecVolume), (std::vector<LONG>{993, 1057}));
}

TEST_F(AvMixCtl, PanControlSimulatesFromTheVolumeBalance) {
    mixer->SetActive(true);
    TAvVolumeControl volume(nullptr);
    TAvPanControl pan(nullptr);
    pan.SetVolumeControl(&volume);
    pan.SetAudioLine(speakers.get());
    EXPECT_FALSE(pan.Simulating()); // the volume control has no line yet
    volume.SetAudioLine(speakers.get());
    ASSERT_TRUE(pan.Simulating());
    EXPECT_TRUE(pan.IsValid());
    EXPECT_EQ(pan.ControlId(), -1);
    EXPECT_EQ(pan.ControlInfo()->Name(), "Simulated pan");
    EXPECT_EQ(pan.ControlInfo()->MinValue(), -32768);
    EXPECT_EQ(pan.GetChannels(), 1);

    int changes = 0;
    pan.OnChange = [&](TObject*) { ++changes; };
    volume.SetUnsignedValue(1, -1, 0);
    volume.SetUnsignedValue(2, -1, 30000);
    Pump();
    EXPECT_EQ(static_cast<LONG>(pan.GetUnsigned()), 32767);
    EXPECT_EQ(volume.PanValue(), 32767);
    EXPECT_GT(changes, 0);
    volume.SetUnsignedValue(2, -1, 0); // both silent: the pan keeps its value
    Pump();
    EXPECT_EQ(static_cast<LONG>(pan.GetUnsigned()), 32767);

    fake->Poke(kSpkVolume, {40000, 20000});
    volume.SetUnsignedValue(0, -1, 40000); // pan 32767: left silenced
    Pump();
    pan.SetSigned(-16384); // the balance moves to the left
    EXPECT_EQ(volume.PanValue(), -16384);
    EXPECT_EQ(fake->Values(kSpkVolume), (std::vector<LONG>{40000, 20000}));
    Pump(); // the change comes back and is read from the channels again, truncated
    EXPECT_EQ(pan.GetSigned(), -16383);

    pan.SetSimulate(false);
    EXPECT_FALSE(pan.Simulating());
    EXPECT_FALSE(pan.IsValid());
    EXPECT_EQ(volume.PanValue(), 0);
}

TEST_F(AvMixCtl, RealPanControlIsUsedWhereTheLineHasOne) {
    TAvVolumeControl volume(nullptr);
    TAvPanControl pan(nullptr);
    volume.SetAudioLine(recording.get());
    pan.SetVolumeControl(&volume);
    pan.SetAudioLine(recording.get());
    EXPECT_FALSE(pan.Simulating());
    EXPECT_EQ(pan.ControlId(), TAvControlId(kRecPan));
    pan.SetSigned(-1000);
    EXPECT_EQ(fake->Values(kRecPan), (std::vector<LONG>{-1000}));
    EXPECT_EQ(pan.GetSigned(), -1000);
}

TEST_F(AvMixCtl, PlatformChangesReachTheControlOfTheirOwnControlOnly) {
    mixer->SetActive(true);
    auto volume = Control(wave.get(), ctVolume);
    auto mute = Control(wave.get(), ctMute);
    mixertest::RecordCounter seen;
    volume->AddObserver(&seen.observer);
    int changes = 0;
    volume->OnChange = [&](TObject*) { ++changes; };
    mute->SetBoolean(true);
    Pump();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(seen.control, 0);
    // Another program writes the volume through a handle of its own.
    HMIXER h = nullptr;
    ASSERT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    LONG v[2] = {100, 200};
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
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seen.control, 1);
    EXPECT_EQ(seen.lastControlId, TAvControlId(kWaveVolume));
    EXPECT_EQ(seen.lastLineId, wave->LineId());
}

// The microphone page: the recording line of a card that offers only a multiplexer.
class AvMixCtlSim : public mixertest::SimFixture {};

TEST_F(AvMixCtlSim, MixerListFallsBackToTheMultiplexer) {
    TAvMixerDevice mixer(nullptr);
    TAvAudioLine in(nullptr);
    in.SetMixer(&mixer);
    in.SetComponentType(ctDstWaveIn);
    TAvMixerControl control(nullptr);
    control.SetAudioLine(&in);
    control.SetControlType(ctMixer);
    EXPECT_FALSE(control.IsValid());
    control.SetControlType(ctMux);
    ASSERT_TRUE(control.IsValid());
    EXPECT_EQ(control.ControlClass(), ccList);
    EXPECT_EQ(control.GetItems(), 3);
    EXPECT_EQ(control.GetItemInfo(1).Name, "Microphone");
    EXPECT_TRUE(control.GetBooleanValue(0, 1)); // the configured selection
}

// A plain delete tells the others only from the component base: nothing may call into the
// half-destroyed line or volume control before that.
TEST_F(AvMixCtl, PlainDeletesOfLineAndVolumeLeaveNothingDangling) {
    auto volume = std::make_unique<TAvVolumeControl>(nullptr);
    TAvPanControl pan(nullptr);
    pan.SetVolumeControl(volume.get());
    volume->SetAudioLine(speakers.get());
    pan.SetAudioLine(speakers.get());
    ASSERT_TRUE(pan.Simulating());
    volume.reset();
    EXPECT_EQ(pan.VolumeControl(), nullptr);
    EXPECT_FALSE(pan.Simulating());
    speakers.reset();
    EXPECT_EQ(pan.AudioLine(), nullptr);
    EXPECT_FALSE(pan.IsValid());
}
