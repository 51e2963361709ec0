// The observer protocol, the audio device base and the device combo box, on the simulated sound
// system (two cards, a wave mapper, no mixer mapper).
#include "MixerTestSupport.h"
#include "audio/mixer/AvCCon.h"
#include "audio/mixer/AvMixCtl.h"
#include "audio/mixer/AvMixer.h"
#include "framework/Forms.h"

#include <QComboBox>
#include <QMouseEvent>
#include <QPointer>
#include <string>
#include <vector>

using namespace mixertest;

namespace {

// An audio device of a chosen kind that counts its opens and closes.
class TProbeDevice : public TAvCustomAudioDevice {
public:
    explicit TProbeDevice(TComponent* owner, TAvDeviceKind kind = dkWaveOut)
        : TAvCustomAudioDevice(owner) {
        SetDeviceKind(kind);
    }
    int opens = 0, closes = 0;

protected:
    void Open() override {
        ++opens;
        TAvCustomAudioDevice::Open();
    }
    void Close() override {
        ++closes;
        TAvCustomAudioDevice::Close();
    }
};

// ---- Observer protocol ----

TEST(AvObserver, NewestFirstLockingAndMoving) {
    TAvObservable a, b;
    std::vector<std::string> log;
    TAvObserver x, y;
    x.OnNotify = [&](TObject* sender, TObject*) {
        EXPECT_EQ(sender, &x);
        log.push_back("x");
    };
    y.OnNotify = [&](TObject*, TObject*) { log.push_back("y"); };
    a.AddObserver(&x);
    a.AddObserver(&y);
    TAvDeviceChange rec;
    a.NotifyObservers(&rec);
    EXPECT_EQ(log, (std::vector<std::string>{"y", "x"}));

    // Adding again moves to the end, never twice.
    a.AddObserver(&x);
    EXPECT_EQ(a.Count(), 2);
    log.clear();
    a.NotifyObservers(&rec);
    EXPECT_EQ(log, (std::vector<std::string>{"x", "y"}));

    // Locked: dropped; after the matching Unlock: handled again.
    y.Lock();
    y.Lock();
    y.Unlock();
    log.clear();
    a.NotifyObservers(&rec);
    EXPECT_EQ(log, (std::vector<std::string>{"x"}));
    y.Unlock();
    EXPECT_FALSE(y.Locked());
    log.clear();
    a.NotifyObservers(&rec);
    EXPECT_EQ(log, (std::vector<std::string>{"x", "y"}));

    // Moved to B: no longer told of A's changes; removing from A is then a no-op.
    b.AddObserver(&x);
    EXPECT_EQ(x.Observable(), &b);
    a.RemoveObserver(&x);
    EXPECT_EQ(x.Observable(), &b);
    log.clear();
    a.NotifyObservers(&rec);
    EXPECT_EQ(log, (std::vector<std::string>{"y"}));
}

TEST(AvObserver, DestructionOnEitherSideDetaches) {
    TAvObserver keep;
    {
        TAvObservable a;
        auto* gone = new TAvObserver;
        a.AddObserver(gone);
        a.AddObserver(&keep);
        delete gone; // detaches itself
        EXPECT_EQ(a.Count(), 1);
    }
    EXPECT_EQ(keep.Observable(), nullptr); // the observable cleared it on its way out
}

TEST(AvObserver, ObserverLeavingDuringTheWalkIsNotCalled) {
    TAvObservable a;
    TAvObserver first, second, third;
    int calls = 0;
    first.OnNotify = [&](TObject*, TObject*) { ++calls; };
    second.OnNotify = [&](TObject*, TObject*) { ++calls; };
    // Newest first: third runs first and removes the two older ones.
    third.OnNotify = [&](TObject*, TObject*) {
        ++calls;
        a.RemoveObserver(&first);
        a.RemoveObserver(&second);
    };
    a.AddObserver(&first);
    a.AddObserver(&second);
    a.AddObserver(&third);
    TAvDeviceChange rec;
    a.NotifyObservers(&rec);
    EXPECT_EQ(calls, 1);
}

// ---- Errors and identifiers ----

TEST(AvDeviceErrors, PlatformTextOrNumber) {
    try {
        AvCheck(MMSYSERR_BADDEVICEID);
        FAIL();
    } catch (const EAvMCIError& e) {
        EXPECT_EQ(e.ErrorCode(), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(e.Message(), "MMSystem error: 2");
    }
    EXPECT_EQ(AvMCIErrorText(MCIERR_BASE + 14), "An unknown error has occurred.");
    EXPECT_EQ(AvCheck(MIXERR_INVALLINE, {MIXERR_INVALLINE}), MIXERR_INVALLINE);
    EXPECT_THROW(AvCheck(MMSYSERR_ERROR, {MIXERR_INVALLINE}), EAvMCIError);
}

TEST(AvDeviceErrors, IdentifiersReadInAnyCase) {
    EXPECT_EQ(DeviceIdToString(-1), "MapperId");
    EXPECT_EQ(DeviceIdToString(-2), "InvalidId");
    EXPECT_EQ(DeviceIdToString(3), "3");
    TAvDeviceId id = 0;
    EXPECT_TRUE(StringToDeviceId("mapperid", &id));
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(StringToDeviceId("INVALIDID", &id));
    EXPECT_EQ(id, -2);
    EXPECT_TRUE(StringToDeviceId("7", &id));
    EXPECT_EQ(id, 7);
    EXPECT_FALSE(StringToDeviceId("Mapper", &id));
    EXPECT_EQ(id, 7);
    TAvLineId line = 0;
    EXPECT_EQ(LineIdToString(-1), "badLineId");
    EXPECT_TRUE(StringToLineId("BADLINEID", &line));
    EXPECT_EQ(line, -1);
    EXPECT_TRUE(StringToLineId("65536", &line));
    EXPECT_EQ(line, 65536);
    EXPECT_FALSE(StringToLineId("", &line));
}

// ---- The device base ----

class AvDeviceSim : public SimFixture {};

class AvDeviceNoDevices : public SimFixture {
protected:
    AvDeviceNoDevices() : SimFixture(NoDevices()) {}
};

TEST_F(AvDeviceNoDevices, SpecialIdsAcceptedWithoutDevices) {
    TProbeDevice dev(nullptr);
    EXPECT_EQ(dev.DeviceCount(), 0);
    EXPECT_EQ(dev.DeviceId(), 0);
    EXPECT_FALSE(dev.IsValid());
    EXPECT_TRUE(dev.DeviceCaps()->ProductName().isEmpty());
    EXPECT_FALSE(dev.Mapper());
    dev.SetDeviceId(-1);
    EXPECT_EQ(dev.DeviceId(), -1);
    dev.SetDeviceId(-2);
    dev.SetDeviceId(0);
    EXPECT_EQ(dev.DeviceId(), 0);
    EXPECT_THROW(dev.SetDeviceId(1), EAvDeviceError);
    QStringList names{"stale"};
    dev.GetDeviceNames(names, true);
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(AvDeviceSim, CapabilitiesOfTheChosenDevice) {
    TProbeDevice dev(nullptr);
    EXPECT_EQ(dev.DeviceCount(), 2);
    EXPECT_TRUE(dev.IsValid());
    EXPECT_EQ(dev.DeviceCaps()->ProductName(), "Virtual Audio Device");
    EXPECT_EQ(dev.DeviceCaps()->ManufacturerId(), 1);
    EXPECT_EQ(dev.DeviceCaps()->ProductId(), 101);
    EXPECT_EQ(dev.DeviceCaps()->VerMajor(), 5);
    EXPECT_EQ(dev.DeviceCaps()->VerMinor(), 0);
    dev.SetDeviceId(1);
    EXPECT_EQ(dev.DeviceCaps()->ProductName(), "USB Headset");
    EXPECT_EQ(dev.DeviceCaps()->ManufacturerId(), 2);
    EXPECT_EQ(dev.DeviceCaps()->VerMajor(), 1);
    dev.SetDeviceId(-2);
    EXPECT_FALSE(dev.IsValid());
    EXPECT_EQ(dev.DeviceCaps()->ProductId(), 0);
    EXPECT_TRUE(dev.DeviceCaps()->ProductName().isEmpty());
    // Properties by name.
    EXPECT_EQ(dev.GetProperty("DeviceCount").toInt(), 2);
    EXPECT_TRUE(dev.SetProperty("DeviceId", 1));
    EXPECT_EQ(dev.DeviceId(), 1);
}

TEST_F(AvDeviceSim, DeviceIdRules) {
    TProbeDevice dev(nullptr);
    RecordCounter rec;
    int changes = 0;
    dev.OnChange = [&](TObject* s) {
        EXPECT_EQ(s, &dev);
        EXPECT_EQ(rec.device, changes + 1); // observers first, then OnChange
        ++changes;
    };
    dev.AddObserver(&rec.observer);
    dev.SetActive(true);
    EXPECT_EQ(dev.opens, 1);

    // The same id again: neither closes nor notifies.
    const int closes = dev.closes;
    dev.SetDeviceId(0);
    EXPECT_EQ(dev.closes, closes);
    EXPECT_EQ(rec.device, 0);

    // Another id: close, switch, notify, reopen.
    dev.SetDeviceId(1);
    EXPECT_GT(dev.closes, closes);
    EXPECT_EQ(dev.opens, 2);
    EXPECT_TRUE(dev.Active());
    EXPECT_EQ(rec.device, 1);
    EXPECT_EQ(changes, 1);

    // Out of range: old id and open state stay, nobody is told.
    try {
        dev.SetDeviceId(2);
        FAIL();
    } catch (const EAvDeviceError& e) {
        EXPECT_EQ(e.Message(), "Device id is out of range");
    }
    EXPECT_THROW(dev.SetDeviceId(-3), EAvDeviceError);
    EXPECT_EQ(dev.DeviceId(), 1);
    EXPECT_TRUE(dev.Active());
    EXPECT_EQ(rec.device, 1);

    // The mapper needs no range check and counts as valid.
    dev.SetDeviceId(-1);
    EXPECT_TRUE(dev.IsValid());
    EXPECT_TRUE(dev.Mapper());
    EXPECT_FALSE(dev.DeviceCaps()->ProductName().isEmpty());
}

TEST_F(AvDeviceSim, ActiveWishWhileLoading) {
    TProbeDevice owner(nullptr);
    owner.BeginLoading();
    auto* dev = new TProbeDevice(&owner);
    dev->SetActive(true);
    EXPECT_TRUE(dev->Active()); // the wish is read back
    EXPECT_EQ(dev->opens, 0);
    owner.EndLoading();
    EXPECT_EQ(dev->opens, 1);
    EXPECT_TRUE(dev->Active());
    EXPECT_TRUE(dev->IsActiveStored());
}

TEST_F(AvDeviceSim, DeviceNamesWithAndWithoutMapper) {
    TProbeDevice dev(nullptr);
    QStringList names;
    dev.GetDeviceNames(names, true);
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ(names.mid(1), (QStringList{"Virtual Audio Device", "USB Headset"}));
    dev.GetDeviceNames(names, false);
    EXPECT_EQ(names, (QStringList{"Virtual Audio Device", "USB Headset"}));
    // Mixers have no mapper: listed the same either way.
    TAvMixerDevice mixer(nullptr);
    EXPECT_FALSE(mixer.Mapper());
    mixer.GetDeviceNames(names, true);
    EXPECT_EQ(names, (QStringList{"Virtual Audio Device", "USB Headset"}));
}

class AvDeviceNoMapper : public SimFixture {
protected:
    static SimConfig Config() {
        SimConfig c = SimConfig::Default();
        c.waveMapper = false;
        return c;
    }
    AvDeviceNoMapper() : SimFixture(Config()) {}
};

TEST_F(AvDeviceNoMapper, MapperNotListedWhenThePlatformHasNone) {
    TProbeDevice dev(nullptr);
    EXPECT_FALSE(dev.Mapper());
    QStringList names;
    dev.GetDeviceNames(names, true);
    EXPECT_EQ(names, (QStringList{"Virtual Audio Device", "USB Headset"}));
}

TEST_F(AvDeviceSim, MixerIdOfDevices) {
    TProbeDevice out(nullptr), in(nullptr, dkWaveIn);
    EXPECT_EQ(out.GetMixerId(), 0);
    out.SetDeviceId(1);
    EXPECT_EQ(out.GetMixerId(), 1);
    in.SetDeviceId(1);
    EXPECT_EQ(in.GetMixerId(), 1);
    out.SetDeviceId(-2);
    EXPECT_EQ(out.GetMixerId(), -2);
    TProbeDevice aux(nullptr, dkAux); // no aux devices: no driver, no mixer
    EXPECT_EQ(aux.GetMixerId(), -2);
    TAvMixerDevice mixer(nullptr);
    mixer.SetDeviceId(1);
    EXPECT_EQ(mixer.GetMixerId(), 1);
}

// ---- Device combo box ----

class AvComboSim : public SimFixture {
protected:
    // The user picks an item.
    static void Pick(TAvDeviceComboBox* box, int item) {
        box->Widget()->setCurrentIndex(item);
        Q_EMIT box->Widget()->activated(item);
    }
};

TEST_F(AvComboSim, MappingWithTheMapperListedFirst) {
    TProbeDevice dev(nullptr);
    TAvDeviceComboBox box(nullptr);
    EXPECT_FALSE(box.EffectiveEnabled()); // empty until it has a device
    EXPECT_EQ(box.ItemIndex(), -1);
    box.SetDevice(&dev);
    EXPECT_EQ(box.Style(), csDropDownList);
    EXPECT_FALSE(box.Widget()->isEditable());
    EXPECT_EQ(box.ItemCount(), 3);
    EXPECT_EQ(box.Item(1), "Virtual Audio Device");
    EXPECT_TRUE(box.EffectiveEnabled());
    EXPECT_EQ(box.ItemIndex(), 1); // device 0
    EXPECT_EQ(box.ItemToDeviceId(0), -1);
    EXPECT_EQ(box.ItemToDeviceId(2), 1);
    EXPECT_EQ(box.DeviceIdToItem(-1), 0);
    EXPECT_EQ(box.DeviceIdToItem(1), 2);
    EXPECT_EQ(box.DeviceIdToItem(-2), -1);

    int seenId = 100;
    box.OnChange = [&](TObject*) { seenId = dev.DeviceId(); };
    Pick(&box, 0);
    EXPECT_EQ(seenId, 0); // OnChange runs while the old id is still set
    EXPECT_EQ(dev.DeviceId(), -1);
    Pick(&box, 2);
    EXPECT_EQ(dev.DeviceId(), 1);
    EXPECT_EQ(box.ItemIndex(), 2);

    box.SetIncludeMapper(false);
    EXPECT_EQ(box.ItemCount(), 2);
    EXPECT_EQ(box.ItemIndex(), 1);
    EXPECT_EQ(box.ItemToDeviceId(0), 0);
}

TEST_F(AvComboSim, MixersListedWithoutMapper) {
    TAvMixerDevice mixer(nullptr);
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&mixer);
    EXPECT_EQ(box.Items(), (QStringList{"Virtual Audio Device", "USB Headset"}));
    EXPECT_EQ(box.ItemToDeviceId(1), 1);
    EXPECT_EQ(box.ItemIndex(), 0);
}

TEST_F(AvComboSim, ProgramChangeMovesTheSelectionSilently) {
    TProbeDevice dev(nullptr);
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&dev);
    int changes = 0;
    box.OnChange = [&](TObject*) { ++changes; };
    dev.SetDeviceId(1);
    EXPECT_EQ(box.ItemIndex(), 2);
    dev.SetDeviceId(-2);
    EXPECT_EQ(box.ItemIndex(), -1);
    EXPECT_EQ(changes, 0);
}

TEST_F(AvComboSim, DisabledClearsTheList) {
    TProbeDevice dev(nullptr);
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&dev);
    box.SetEnabled(false);
    EXPECT_FALSE(box.Enabled());
    EXPECT_EQ(box.ItemCount(), 0);
    EXPECT_FALSE(box.EffectiveEnabled());
    dev.SetDeviceId(1); // still empty
    EXPECT_EQ(box.ItemCount(), 0);
    box.SetEnabled(true);
    EXPECT_EQ(box.ItemCount(), 3);
    EXPECT_TRUE(box.EffectiveEnabled());
}

TEST_F(AvComboSim, StoredItemIndexOverriddenAfterLoading) {
    TProbeDevice owner(nullptr);
    owner.BeginLoading();
    auto* mixer = new TAvMixerDevice(&owner);
    mixer->SetDeviceId(1);
    auto* box = new TAvDeviceComboBox(&owner);
    box->SetDevice(mixer);
    box->SetItemIndex(0);
    owner.EndLoading();
    EXPECT_EQ(box->ItemIndex(), 1);
    EXPECT_EQ(box->ItemCount(), 2);
}

TEST_F(AvComboSim, DeviceDestroyedEmptiesTheBox) {
    auto* dev = new TProbeDevice(nullptr);
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(dev);
    dev->Free();
    EXPECT_EQ(box.Device(), nullptr);
    EXPECT_EQ(box.ItemCount(), 0);
    EXPECT_FALSE(box.EffectiveEnabled());
}

TEST_F(AvComboSim, HotPlugRefreshesTheList) {
    TAvMixerDevice mixer(nullptr);
    mixer.SetActive(true);
    ASSERT_TRUE(mixer.Active());
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&mixer);
    ASSERT_EQ(box.ItemCount(), 2);
    sim_->AddCard(SimConfig::StandardCard("Hot Card", false));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == 3; }));
    EXPECT_EQ(box.Item(2), "Hot Card");
    EXPECT_EQ(box.ItemIndex(), 0);
    ASSERT_TRUE(sim_->RemoveCard("Hot Card"));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == 2; }));
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

TEST_F(AvComboSim, ClosedDeviceListCatchesUpWhenOpened) {
    TAvMixerDevice mixer(nullptr); // closed: it hears the platform's device-change notice
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&mixer);
    sim_->AddCard(SimConfig::StandardCard("Hot Card", false));
    Pump();
    EXPECT_EQ(box.ItemCount(), 3);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box.Widget(), &press);
    box.Widget()->hidePopup();
    EXPECT_EQ(box.ItemCount(), 3);
    EXPECT_EQ(box.ItemIndex(), 0);
}

// A closed mixer (as on the speaker page) and everything bound to it follow cards coming and
// going without the list being opened: the list rebuilds at once, the chosen card keeps its place
// when others go, a vanished choice falls back to the first card, lines and sliders re-bind, and
// with no card left the first card to come is taken up again.
TEST_F(AvComboSim, ClosedDeviceFollowsCardsComingAndGoing) {
    TAvMixerDevice mixer(nullptr);
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&mixer);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    TAvMixerControl volume(nullptr);
    volume.SetAudioLine(&speakers);
    volume.SetControlType(ctVolume);
    TAvMixerSlider slider(nullptr);
    slider.SetControl(&volume);
    Pick(&box, 1);
    ASSERT_EQ(mixer.DeviceCaps()->ProductName(), QStringLiteral("USB Headset"));
    ASSERT_FALSE(mixer.Active());

    sim_->AddCard(SimConfig::StandardCard("Hot Card", true));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == 3; }));
    EXPECT_EQ(box.ItemIndex(), 1);

    // Another card goes: ours is listed one place earlier and stays chosen.
    ASSERT_TRUE(sim_->RemoveCard("Virtual Audio Device"));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == 2; }));
    EXPECT_EQ(mixer.DeviceId(), 0);
    EXPECT_EQ(mixer.DeviceCaps()->ProductName(), QStringLiteral("USB Headset"));
    EXPECT_EQ(box.ItemIndex(), 0);
    EXPECT_TRUE(volume.IsValid());

    // Ours goes: the first card left stands in, with the lines, controls and slider on it.
    ASSERT_TRUE(sim_->RemoveCard("USB Headset"));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == 1; }));
    EXPECT_EQ(mixer.DeviceCaps()->ProductName(), QStringLiteral("Hot Card"));
    EXPECT_EQ(box.ItemIndex(), 0);
    EXPECT_TRUE(volume.IsValid());
    EXPECT_TRUE(slider.EffectiveEnabled());
    slider.SetPosition(100);
    EXPECT_EQ(volume.GetUnsignedValue(1, AvNoItem), 0xFFFFu);

    // None left, then one comes.
    ASSERT_TRUE(sim_->RemoveCard("Hot Card"));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == 0; }));
    EXPECT_FALSE(box.EffectiveEnabled());
    EXPECT_FALSE(volume.IsValid());
    EXPECT_FALSE(slider.EffectiveEnabled());
    sim_->AddCard(SimConfig::StandardCard("Late Card", false));
    EXPECT_TRUE(PumpUntil([&] { return box.ItemCount() == 1; }));
    EXPECT_EQ(mixer.DeviceId(), 0);
    EXPECT_EQ(box.ItemIndex(), 0);
    EXPECT_TRUE(volume.IsValid());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

// A form that stores Active for a mixer while there is no device at all builds without an
// error and opens the mixer once a card comes.
TEST_F(AvDeviceNoDevices, StoredActiveOpensWhenADeviceComes) {
    TForm form(nullptr);
    form.BeginLoading();
    auto* mixer = new TAvMixerDevice(&form);
    mixer->SetActive(true);
    form.EndLoading();
    EXPECT_FALSE(mixer->Active());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    sim_->AddCard(SimConfig::StandardCard("Late Card", true));
    EXPECT_TRUE(PumpUntil([&] { return mixer->Active(); }));
    EXPECT_EQ(mixer->DeviceCaps()->ProductName(), QStringLiteral("Late Card"));
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

TEST_F(AvComboSim, FailedPickDoesNotFreezeTheList) {
    TAvMixerDevice mixer(nullptr); // closed: it does not hear the card go
    TAvDeviceComboBox box(nullptr);
    box.SetDevice(&mixer);
    ASSERT_EQ(box.ItemCount(), 2);
    ASSERT_TRUE(sim_->RemoveCard("USB Headset"));
    Pick(&box, 1); // a device that no longer exists
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "Device id is out of range");
    EXPECT_EQ(mixer.DeviceId(), 0);
    // The list was resynchronised and still follows later changes.
    EXPECT_EQ(box.ItemCount(), 1);
    EXPECT_EQ(box.ItemIndex(), 0);
    sim_->AddCard(SimConfig::StandardCard("Back", false));
    mixer.SetDeviceId(1);
    EXPECT_EQ(box.ItemCount(), 2);
    EXPECT_EQ(box.ItemIndex(), 1);
}

TEST_F(AvComboSim, BoxFreedByItsOwnChangeHandlerSetsNothing) {
    TAvMixerDevice mixer(nullptr);
    auto* box = new TAvDeviceComboBox(nullptr);
    box->SetDevice(&mixer);
    ASSERT_EQ(box->ItemCount(), 2);
    QPointer<QObject> alive(box);
    box->OnChange = [&](TObject*) { box->Free(); };
    Pick(box, 1);
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(mixer.DeviceId(), 0); // the pick went with the box
    EXPECT_TRUE(errors_.isEmpty());
}

} // namespace
