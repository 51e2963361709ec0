// The mixer device and audio lines on the simulated sound system: two cards, each with a speaker
// destination (Wave Out, Microphone, CD Audio, Line In) and a recording destination (Line In,
// Microphone, CD Audio).
#include "audio/mixer/AvMixer.h"
#include "MixerTestSupport.h"

using namespace mixertest;

namespace {

class TWaveDevice : public TAvCustomAudioDevice {
public:
    TWaveDevice(TComponent* owner, TAvDeviceKind kind) : TAvCustomAudioDevice(owner) {
        SetDeviceKind(kind);
    }
};

class AvMixerSim : public SimFixture {
protected:
    // Writes a control value through a handle of our own, as another program would.
    static void WriteFromOutside(UINT mixerId, TAvControlId control, LONG value) {
        HMIXER h = nullptr;
        ASSERT_EQ(mixerOpen(&h, mixerId, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        MIXERCONTROLDETAILS_UNSIGNED v[2] = {{static_cast<DWORD>(value)},
                                             {static_cast<DWORD>(value)}};
        MIXERCONTROLDETAILS d{};
        d.cbStruct = sizeof d;
        d.dwControlID = static_cast<DWORD>(control);
        d.cChannels = 1;
        d.cbDetails = sizeof v[0];
        d.paDetails = v;
        EXPECT_EQ(mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(h), &d,
                                         MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE),
                  MMSYSERR_NOERROR);
        mixerClose(h);
    }
    static TAvControlId VolumeOf(TAvMixerDevice& mixer, TAvLineId line) {
        MIXERCONTROLA c{};
        EXPECT_TRUE(mixer.GetControlByType(line, MIXERCONTROL_CONTROLTYPE_VOLUME, c));
        return static_cast<TAvControlId>(c.dwControlID);
    }
};

TEST(AvComponentTypes, TableBothWays) {
    EXPECT_EQ(AvComponentTypeCode(ctDstDigital), 0x1u);
    EXPECT_EQ(AvComponentTypeCode(ctDstWaveIn), 0x7u);
    EXPECT_EQ(AvComponentTypeCode(ctSrcWaveOut), 0x1008u);
    for (int i = 0; i < AvComponentTypeCount; ++i) {
        const auto t = static_cast<TAvComponentType>(i);
        EXPECT_EQ(AvComponentTypeOf(AvComponentTypeCode(t)), t);
    }
    try {
        AvComponentTypeOf(0x100B);
        FAIL();
    } catch (const EAvMixerServiceError& e) {
        EXPECT_EQ(e.Message(), "Undefined API component type");
    }
    EXPECT_EQ(AvTargetType(dkWaveIn), MIXERLINE_TARGETTYPE_WAVEIN);
    EXPECT_EQ(AvTargetType(dkMixer), MIXERLINE_TARGETTYPE_UNDEFINED);
}

TEST_F(AvMixerSim, DeviceBasics) {
    TAvMixerDevice mixer(nullptr);
    EXPECT_EQ(mixer.DeviceKind(), dkMixer);
    EXPECT_EQ(mixer.DeviceCount(), 2);
    EXPECT_EQ(mixer.Destinations(), 2);
    EXPECT_FALSE(mixer.IsDeviceIdStored());
    mixer.SetDeviceId(1);
    EXPECT_TRUE(mixer.IsDeviceIdStored());
    EXPECT_EQ(mixer.DeviceCaps()->ProductName(), "USB Headset");
    EXPECT_EQ(mixer.MixerId(), 1);
    mixer.SetDeviceId(-2);
    EXPECT_EQ(mixer.Destinations(), 0);
    try {
        mixer.SetActive(true);
        FAIL();
    } catch (const EAvMixerDeviceError& e) {
        EXPECT_EQ(e.Message(), "Device not valid");
    }
    EXPECT_FALSE(mixer.Active());
    mixer.SetDeviceId(0);
    mixer.SetActive(true);
    EXPECT_TRUE(mixer.Active());
    EXPECT_NE(mixer.Handle(), nullptr);
    EXPECT_TRUE(IsWindow(mixer.CallbackWindow()));
    const HWND window = mixer.CallbackWindow();
    mixer.SetActive(false);
    EXPECT_EQ(mixer.Handle(), nullptr);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(AvMixerSim, FollowsAnotherDevice) {
    TWaveDevice in(nullptr, dkWaveIn);
    TAvMixerDevice mixer(nullptr), other(nullptr);
    try {
        mixer.SetDevice(&other);
        FAIL();
    } catch (const EAvMixerDeviceError& e) {
        EXPECT_EQ(e.Message(), "Mixer can't reference mixer");
    }
    mixer.SetActive(true);
    in.SetDeviceId(1);
    mixer.SetDevice(&in);
    EXPECT_EQ(mixer.DeviceId(), 1);
    EXPECT_TRUE(mixer.Active()); // reopened on the new mixer
    EXPECT_FALSE(mixer.IsDeviceIdStored());
    in.SetDeviceId(0); // the followed device changes: so does the mixer
    EXPECT_EQ(mixer.DeviceId(), 0);
    EXPECT_TRUE(mixer.Active());
    auto* gone = new TWaveDevice(nullptr, dkWaveOut);
    mixer.SetDevice(gone);
    gone->Free();
    EXPECT_EQ(mixer.Device(), nullptr);
}

TEST_F(AvMixerSim, LinesByComponentType) {
    TAvMixerDevice mixer(nullptr);
    TAvAudioLine speakers(nullptr), wave(nullptr), rec(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    EXPECT_EQ(speakers.Binding(), lbByComponentType);
    EXPECT_NE(speakers.LineId(), -1);
    EXPECT_EQ(speakers.DestinationIndex(), 0);
    EXPECT_EQ(speakers.LineInfo()->Name(), "Speakers");
    EXPECT_EQ(speakers.Connections(), 4);
    EXPECT_FALSE(speakers.LineInfo()->Flags().testFlag(cfSource));
    EXPECT_TRUE(speakers.IsComponentTypeStored());

    // A wave-output source resolves whatever destination it belongs to.
    wave.SetMixer(&mixer);
    wave.SetComponentType(ctSrcWaveOut);
    EXPECT_NE(wave.LineId(), -1);
    EXPECT_EQ(wave.DestinationIndex(), -1);
    EXPECT_TRUE(wave.LineInfo()->Flags().testFlag(cfSource));
    EXPECT_EQ(wave.LineInfo()->ShortName(), "Wave");
    EXPECT_EQ(wave.Connections(), 0);
    EXPECT_THROW(wave.Connection(0), EAvAudioLineError);

    rec.SetMixer(&mixer);
    rec.SetComponentType(ctDstWaveIn);
    EXPECT_EQ(rec.LineInfo()->Name(), "Recording Control");
    EXPECT_EQ(rec.DestinationIndex(), 1);
    ASSERT_EQ(rec.Connections(), 3);
    try {
        rec.Connection(rec.Connections());
        FAIL();
    } catch (const EAvAudioLineError& e) {
        EXPECT_EQ(e.Message(), "Connection index out of range");
    }
    EXPECT_THROW(rec.Connection(-1), EAvAudioLineError);

    // The first line of a type: Microphone under Speakers, not under Recording.
    TAvAudioLine mic(nullptr);
    mic.SetMixer(&mixer);
    mic.SetComponentType(ctSrcMicrophone);
    MIXERLINEA ml;
    ASSERT_TRUE(mixer.GetLineInfoById(mic.LineId(), ml));
    EXPECT_EQ(ml.dwDestination, 0u);
}

TEST_F(AvMixerSim, LinesById) {
    TAvMixerDevice mixer(nullptr);
    TAvAudioLine rec(nullptr), line(nullptr);
    rec.SetMixer(&mixer);
    rec.SetComponentType(ctDstWaveIn);
    line.SetMixer(&mixer);
    RecordCounter counter;
    line.AddObserver(&counter.observer);

    line.SetLineId(rec.Connection(1));
    EXPECT_EQ(line.Binding(), lbById);
    EXPECT_EQ(line.LineInfo()->Name(), "Microphone");
    EXPECT_EQ(line.ComponentType(), ctSrcMicrophone);
    EXPECT_TRUE(line.IsLineIdStored());
    EXPECT_EQ(counter.lineId, 1);

    // Setting ComponentType to its current value does not switch the binding.
    line.SetComponentType(ctSrcMicrophone);
    EXPECT_EQ(line.Binding(), lbById);

    // An unknown id: -1, cleared, and the controls are still told.
    line.SetLineId(0x7777);
    EXPECT_EQ(line.LineId(), -1);
    EXPECT_TRUE(line.LineInfo()->Name().isEmpty());
    EXPECT_EQ(line.LineInfo()->Channels(), 0);
    EXPECT_EQ(counter.lineId, 2);
    EXPECT_FALSE(line.IsLineIdStored());

    // Properties by name.
    EXPECT_TRUE(line.SetProperty("ComponentType", static_cast<int>(ctDstDigital)));
    EXPECT_EQ(line.LineId(), -1); // no digital destination here
    EXPECT_FALSE(line.IsComponentTypeStored());
}

TEST_F(AvMixerSim, LinesByTargetAndAsSources) {
    TWaveDevice in1(nullptr, dkWaveIn), out0(nullptr, dkWaveOut);
    in1.SetDeviceId(1);
    TAvMixerDevice mixer0(nullptr), mixer1(nullptr);
    mixer1.SetDeviceId(1);

    TAvAudioLine target(nullptr);
    EXPECT_THROW(target.SetTarget(&mixer0), EAvMixerDeviceError);
    target.SetMixer(&mixer1);
    target.SetTarget(&in1);
    EXPECT_EQ(target.Binding(), lbByTarget);
    EXPECT_TRUE(target.IsTargetStored());
    EXPECT_EQ(target.LineInfo()->Name(), "Recording Control");
    in1.SetDeviceId(0); // the target moves to the other card: not served by mixer 1
    EXPECT_EQ(target.LineId(), -1);

    // A source of the recording destination by type: the walk finds the recording's
    // microphone although the speakers' one comes first on the mixer.
    TAvAudioLine rec(nullptr), mic(nullptr);
    rec.SetMixer(&mixer0);
    rec.SetComponentType(ctDstWaveIn);
    mic.SetMixer(&mixer0);
    mic.SetComponentType(ctSrcMicrophone);
    TAvAudioLine notALine(nullptr);
    (void)notALine;
    TAvMixerDevice* notAudioLine = &mixer0;
    try {
        mic.SetDestLine(notAudioLine);
        FAIL();
    } catch (const EAvMixerDeviceError& e) {
        EXPECT_EQ(e.Message(), "DestLine should be TAvAudioLine");
    }
    mic.SetDestLine(&rec);
    MIXERLINEA ml;
    ASSERT_TRUE(mixer0.GetLineInfoById(mic.LineId(), ml));
    EXPECT_EQ(ml.dwDestination, 1u);
    EXPECT_EQ(mic.LineInfo()->Name(), "Microphone");

    // A source by target: the speakers' wave-output source serves wave-out device 0.
    TAvAudioLine speakers(nullptr), wave(nullptr);
    speakers.SetMixer(&mixer0);
    speakers.SetComponentType(ctDstSpeakers);
    wave.SetMixer(&mixer0);
    wave.SetTarget(&out0);
    wave.SetDestLine(&speakers);
    EXPECT_EQ(wave.LineInfo()->Name(), "Wave Out");
    EXPECT_EQ(wave.DestinationIndex(), -1);

    // A source bound by id that belongs to another destination is not found.
    TAvAudioLine byId(nullptr);
    byId.SetMixer(&mixer0);
    byId.SetLineId(rec.Connection(0));
    EXPECT_FALSE(speakers.FindSource(&byId));
    EXPECT_TRUE(rec.FindSource(&byId));
    // A destination is no source of itself, and a source line has no sources.
    TAvAudioLine sameKind(nullptr);
    sameKind.SetComponentType(ctDstSpeakers);
    EXPECT_FALSE(speakers.FindSource(&sameKind));
    EXPECT_FALSE(wave.FindSource(&byId));
}

TEST_F(AvMixerSim, LineFollowsItsMixerAndLetsGo) {
    auto* mixer = new TAvMixerDevice(nullptr);
    TAvAudioLine rec(nullptr);
    rec.SetMixer(mixer);
    rec.SetComponentType(ctDstWaveIn);
    const TAvLineId first = rec.LineId();
    RecordCounter counter;
    rec.AddObserver(&counter.observer);
    mixer->SetDeviceId(1);
    EXPECT_EQ(rec.LineId(), first); // same layout on the second card
    EXPECT_GE(counter.lineId, 1);   // re-resolved
    EXPECT_EQ(rec.LineInfo()->Name(), "Recording Control");
    mixer->Free();
    EXPECT_EQ(rec.Mixer(), nullptr);
    // No valid mixer: the last description stays.
    EXPECT_EQ(rec.LineInfo()->Name(), "Recording Control");
    EXPECT_FALSE(rec.IsValid());
}

TEST_F(AvMixerSim, ClosedMixerResolvesButHearsNothing) {
    TAvMixerDevice mixer(nullptr);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    ASSERT_EQ(speakers.LineInfo()->Name(), "Speakers");
    int heard = 0;
    speakers.OnControlChange = [&](TObject*, TAvLineId, TAvControlId) { ++heard; };
    WriteFromOutside(0, VolumeOf(mixer, speakers.LineId()), 0x1000);
    Pump();
    EXPECT_EQ(heard, 0);
}

TEST_F(AvMixerSim, OpenMixerReportsAnotherProgramsWrite) {
    TAvMixerDevice mixer(nullptr);
    mixer.SetActive(true);
    TAvAudioLine speakers(nullptr), wave(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    wave.SetMixer(&mixer);
    wave.SetComponentType(ctSrcWaveOut);
    RecordCounter onSpeakers, onWave;
    speakers.AddObserver(&onSpeakers.observer);
    wave.AddObserver(&onWave.observer);
    TAvLineId seenLine = -5;
    TAvControlId seenControl = -5;
    TObject* sender = nullptr;
    speakers.OnControlChange = [&](TObject* s, TAvLineId l, TAvControlId c) {
        sender = s;
        seenLine = l;
        seenControl = c;
    };
    int mixerReports = 0;
    mixer.OnControlChange = [&](TObject*, TAvLineId, TAvControlId) { ++mixerReports; };

    const TAvControlId volume = VolumeOf(mixer, speakers.LineId());
    WriteFromOutside(0, volume, 0x2000);
    ASSERT_TRUE(PumpUntil([&] { return seenControl != -5; }));
    EXPECT_EQ(sender, &speakers);
    EXPECT_EQ(seenLine, speakers.LineId());
    EXPECT_EQ(seenControl, volume);
    EXPECT_EQ(onSpeakers.control, 1);
    EXPECT_EQ(onSpeakers.lastControlId, volume);
    EXPECT_EQ(onWave.control, 0); // not its line
    EXPECT_EQ(mixerReports, 1);
}

TEST_F(AvMixerSim, FailureInAHandlerGoesToTheDefaultHandlerAndTheLoopGoesOn) {
    TAvMixerDevice mixer(nullptr);
    mixer.SetActive(true);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    int calls = 0;
    speakers.OnControlChange = [&](TObject*, TAvLineId, TAvControlId) {
        if (++calls == 1) throw EAvAudioLineError(QStringLiteral("handler failed"));
    };
    const TAvControlId volume = VolumeOf(mixer, speakers.LineId());
    WriteFromOutside(0, volume, 0x3000);
    WriteFromOutside(0, volume, 0x4000);
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    EXPECT_EQ(errors_, QStringList{"handler failed"});
}

TEST_F(AvMixerSim, SwitchingInsideItsOwnMessageIsSafe) {
    TAvMixerDevice mixer(nullptr);
    mixer.SetActive(true);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    const TAvControlId volume = VolumeOf(mixer, speakers.LineId());
    bool switched = false;
    mixer.OnControlChange = [&](TObject*, TAvLineId, TAvControlId) {
        mixer.SetDeviceId(1); // closes (releasing the window it is called from) and reopens
        switched = true;
    };
    WriteFromOutside(0, volume, 0x2000);
    ASSERT_TRUE(PumpUntil([&] { return switched; }));
    EXPECT_TRUE(mixer.Active());
    EXPECT_EQ(mixer.DeviceId(), 1);
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(AvMixerSim, HotPlugShiftsAndRemovesMixers) {
    TAvMixerDevice mixer(nullptr);
    mixer.SetDeviceId(1);
    mixer.SetActive(true);
    TAvAudioLine rec(nullptr);
    rec.SetMixer(&mixer);
    rec.SetComponentType(ctDstWaveIn);
    RecordCounter devices;
    mixer.AddObserver(&devices.observer);

    // The card before ours goes: our mixer is now number 0.
    ASSERT_TRUE(sim_->RemoveCard("Virtual Audio Device"));
    ASSERT_TRUE(PumpUntil([&] { return mixer.DeviceId() == 0; }));
    EXPECT_GE(devices.device, 1);
    EXPECT_TRUE(mixer.Active());
    EXPECT_EQ(rec.LineInfo()->Name(), "Recording Control");

    // Our own card goes: nothing left, the mixer closes and its lines lose their line.
    ASSERT_TRUE(sim_->RemoveCard("USB Headset"));
    ASSERT_TRUE(PumpUntil([&] { return !mixer.Active(); }));
    EXPECT_EQ(mixer.DeviceId(), -2);
    EXPECT_FALSE(rec.IsValid());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

TEST_F(AvMixerSim, ChangeQueuedBeforeTheCardWentIsDropped) {
    TAvMixerDevice mixer(nullptr);
    mixer.SetDeviceId(1);
    mixer.SetActive(true);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    int heard = 0;
    speakers.OnControlChange = [&](TObject*, TAvLineId, TAvControlId) { ++heard; };
    WriteFromOutside(1, VolumeOf(mixer, speakers.LineId()), 0x1234);
    ASSERT_TRUE(sim_->RemoveCard("USB Headset"));
    ASSERT_TRUE(PumpUntil([&] { return mixer.DeviceId() == 0 && mixer.Active(); }));
    Pump();
    EXPECT_EQ(heard, 0);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();

    // The card goes while the change is being handled: whoever reads the mixer next finds it
    // gone; that is the same fallback, not an error for the user.
    bool removed = false;
    speakers.OnControlChange = [&](TObject*, TAvLineId, TAvControlId) {
        removed = sim_->RemoveCard("Virtual Audio Device");
        mixer.MixerId();
    };
    WriteFromOutside(0, VolumeOf(mixer, speakers.LineId()), 0x2345);
    ASSERT_TRUE(PumpUntil([&] { return removed; }));
    EXPECT_EQ(mixer.DeviceId(), -2);
    EXPECT_FALSE(mixer.Active());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

TEST_F(AvMixerSim, PlainDeleteOfReferencedComponents) {
    auto* mixer = new TAvMixerDevice(nullptr);
    auto* target = new TWaveDevice(nullptr, dkWaveOut);
    TAvAudioLine line(nullptr), dest(nullptr);
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(mixer);
    dest.SetMixer(mixer);
    dest.SetComponentType(ctDstSpeakers);
    line.SetMixer(mixer);
    line.SetTarget(target);
    line.SetDestLine(&dest);
    delete target; // only the component part is left when the others are told
    EXPECT_EQ(line.Target(), nullptr);
    delete mixer;
    EXPECT_EQ(line.Mixer(), nullptr);
    EXPECT_EQ(dest.Mixer(), nullptr);
    EXPECT_EQ(box.Device(), nullptr);
    EXPECT_EQ(box.ItemCount(), 0);
}

TEST_F(AvMixerSim, OwnCardRemovedFallsBackToTheFirstMixer) {
    TAvMixerDevice mixer(nullptr);
    mixer.SetDeviceId(1);
    mixer.SetActive(true);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    ASSERT_TRUE(sim_->RemoveCard("USB Headset"));
    ASSERT_TRUE(
        PumpUntil([&] { return mixer.DeviceCaps()->ProductName() == "Virtual Audio Device"; }));
    EXPECT_EQ(mixer.DeviceId(), 0);
    EXPECT_TRUE(mixer.Active());
    EXPECT_EQ(speakers.LineInfo()->Name(), "Speakers");
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

} // namespace
