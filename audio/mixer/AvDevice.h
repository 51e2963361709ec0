#pragma once
// Change notification and the audio device base of the mixer components, and the device combo box.
//
// Observer protocol: a TAvObservable holds an ordered list of TAvObserver (not owned) and hands
// each a change record, newest observer first. An observer forwards the record to its owner's
// OnNotify unless it is locked. Records live only for the walk; observers tell them apart by
// class (dynamic_cast) and must not keep them.
//
// TAvCustomAudioDevice stands for one platform audio device of a kind (wave out, wave in, mixer,
// ...), chosen by DeviceId, with its capabilities. Every change of the id or the kind passes
// through UpdateDevice, which re-reads the capabilities and then tells the observers
// (TAvDeviceChange) and raises OnChange.
//
// TAvDeviceComboBox lists the devices of a device component's kind and sets its DeviceId when
// the user picks an item; it observes the device, so the list follows every device change.
//
// Threads: everything here is main-thread only; notifications are delivered synchronously inside
// the call that causes them.
#include "audio/display/AvObj.h"
#include "framework/MessageWindow.h"
#include "framework/StdCtrls.h"
#include "platform/api/mmsystem.h"

#include <QStringList>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

// ---- Ids and errors -----------------------------------------------------------------------------

// Index of a platform audio device of one kind; -1 the platform's mapper, -2 no device.
using TAvDeviceId = std::int32_t;
constexpr TAvDeviceId AvMapperId = -1;
constexpr TAvDeviceId AvInvalidId = -2;

AV_DECLARE_EXCEPTION(EAvDeviceError, Exception);

// A failed platform audio call: the platform's text for the code (or "MMSystem error: %d").
class EAvMCIError : public Exception {
public:
    EAvMCIError(const QString& message, MMRESULT code) : Exception(message), FErrorCode(code) {}
    const char* ClassName() const noexcept override { return "EAvMCIError"; }
    MMRESULT ErrorCode() const { return FErrorCode; }

private:
    MMRESULT FErrorCode;
};

// The message an EAvMCIError carries for a result code.
QString AvMCIErrorText(MMRESULT code);
// Raises EAvMCIError for a non-zero result.
void AvCheck(MMRESULT result);
// As AvCheck, but results in notFound are handed back to the caller instead of raising.
MMRESULT AvCheck(MMRESULT result, std::initializer_list<MMRESULT> notFound);

// Device ids as form resources and the designer show them: -1 "MapperId", -2 "InvalidId",
// otherwise the number. Reading accepts the two identifiers in any letter case; false for text
// that is neither an identifier nor an integer.
QString DeviceIdToString(TAvDeviceId id);
bool StringToDeviceId(const QString& text, TAvDeviceId* id);

// ---- Observer protocol --------------------------------------------------------------------------

class TAvObservable;

// (Sender: the observer, Data: the change record).
using TAvObserverNotifyEvent = TEvent<TObject*, TObject*>;

class TAvObserver : public TObject {
public:
    TAvObserver() = default;
    ~TAvObserver() override; // detaches from its observable first

    TAvObservable* Observable() const { return FObservable; }
    int LockCount() const { return FLockCount; }

    // Calls OnNotify(this, data) unless locked.
    virtual void Update(TObject* data);
    // Owners lock their own observer around a write they cause, so its echo is not handled.
    void Lock() { ++FLockCount; }
    void Unlock() { --FLockCount; }
    bool Locked() const { return FLockCount != 0; }
    // Leaves the observable it is attached to (if any). Safe while that observable's owner is
    // being destroyed: the observable clears its observers before it goes.
    void Detach();

    TAvObserverNotifyEvent OnNotify; // set by the owner right after creating the observer

private:
    friend class TAvObservable;
    TAvObservable* FObservable = nullptr;
    int FLockCount = 0;
};

class TAvObservable : public TObject {
public:
    TAvObservable() = default;
    ~TAvObservable() override; // removes its observers, the last first

    // Appends the observer, first removing it from wherever it is attached; never listed twice.
    void AddObserver(TAvObserver* observer);
    // Only when the observer is attached here.
    void RemoveObserver(TAvObserver* observer);
    // Update of every attached observer, from the last to the first. An observer removed during
    // the walk is not called afterwards.
    void NotifyObservers(TObject* data);

    int Count() const { return static_cast<int>(FObservers.size()); }
    TAvObserver* Observer(int index) const { return FObservers.at(index); }

private:
    std::vector<TAvObserver*> FObservers;
};

// Moves a holder's reference to another component (or to none): observer leaves the old
// component's observable and holder its removal notices; then, for a new component, attach adds
// observer there and holder asks for its removal notice. heldComponent is the reference as a
// TComponent (updated here). Main thread.
void AvRebindReference(TComponent* holder, TComponent*& heldComponent, TComponent* newComponent,
                       TAvObserver& observer, const std::function<void()>& attach);

// ---- Change records -----------------------------------------------------------------------------

// A device's id or kind changed (capabilities already re-read), or its mixer id was found changed.
class TAvDeviceChange : public TObject {};

// Base of the mixer records; never sent itself.
class TAvMixerChange : public TAvObject {
    Q_OBJECT
public:
    TAvMixerChange() = default;
};

// A line of the mixer changed.
class TAvLineChange : public TAvMixerChange {
    Q_OBJECT
public:
    explicit TAvLineChange(std::int32_t lineId) : LineId(lineId) {}
    std::int32_t LineId;
};

// A control of the mixer changed.
class TAvControlChange : public TAvMixerChange {
    Q_OBJECT
public:
    TAvControlChange(std::int32_t lineId, std::int32_t controlId)
        : LineId(lineId), ControlId(controlId) {}
    std::int32_t LineId;
    std::int32_t ControlId;
};

// An audio line resolved (or lost) its line.
class TAvLineIdChange : public TAvMixerChange {
    Q_OBJECT
public:
    TAvLineIdChange() = default;
};

// A mixer control resolved (or lost) its control.
class TAvControlIdChange : public TAvMixerChange {
    Q_OBJECT
public:
    TAvControlIdChange() = default;
};

// ---- Device kinds and capabilities --------------------------------------------------------------

enum TAvDeviceKind : std::uint8_t { dkMidiIn, dkMidiOut, dkWaveIn, dkWaveOut, dkAux, dkMixer };

// The common head of every platform capability record (41 bytes).
#pragma pack(push, 1)
struct TAvCapsHead {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN + 1];
};
#pragma pack(pop)
static_assert(sizeof(TAvCapsHead) == 41);

// Platform calls by kind.
UINT AvDeviceCount(TAvDeviceKind kind);
MMRESULT AvGetDeviceCaps(TAvDeviceKind kind, TAvDeviceId id, TAvCapsHead* caps);
DWORD AvMixerObjectFlag(TAvDeviceKind kind); // MIXER_OBJECTF_* for mixerGetID

class TAvDeviceCaps : public QObject, public TPersistent {
    Q_OBJECT
    Q_PROPERTY(int ManufacturerId READ ManufacturerIdInt)
    Q_PROPERTY(int ProductId READ ProductIdInt)
    Q_PROPERTY(int VerMajor READ VerMajorInt)
    Q_PROPERTY(int VerMinor READ VerMinorInt)
    Q_PROPERTY(QString ProductName READ ProductName)
public:
    TAvDeviceCaps() = default;

    WORD ManufacturerId() const { return FManufacturerId; }
    WORD ProductId() const { return FProductId; }
    BYTE VerMajor() const { return FVerMajor; }
    BYTE VerMinor() const { return FVerMinor; }
    QString ProductName() const { return FProductName; } // at most 32 characters

    void Assign(const TPersistent* source) override;
    void Clear();
    void SetFrom(const TAvCapsHead& head);

private:
    int ManufacturerIdInt() const { return FManufacturerId; }
    int ProductIdInt() const { return FProductId; }
    int VerMajorInt() const { return FVerMajor; }
    int VerMinorInt() const { return FVerMinor; }

    WORD FManufacturerId = 0;
    WORD FProductId = 0;
    BYTE FVerMajor = 0;
    BYTE FVerMinor = 0;
    QString FProductName;
};

// ---- The audio device base ----------------------------------------------------------------------

class TAvCustomAudioDevice : public TAvNonVisualComponent {
    Q_OBJECT
    Q_PROPERTY(int DeviceId READ DeviceId WRITE SetDeviceId)
    Q_PROPERTY(int DeviceCount READ DeviceCount STORED false)
    Q_PROPERTY(TAvDeviceCaps* DeviceCaps READ DeviceCaps STORED false)
    Q_PROPERTY(bool Mapper READ Mapper STORED false)
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
public:
    explicit TAvCustomAudioDevice(TComponent* AOwner);
    ~TAvCustomAudioDevice() override;

    // 0 .. DeviceCount-1, -1 (mapper) or -2 (none); other values raise "Device id is out of
    // range" and keep the old id and open state. Setting another id closes the device, switches,
    // notifies and reopens it when it was open.
    TAvDeviceId DeviceId() const { return FDeviceId; }
    void SetDeviceId(TAvDeviceId value);
    int DeviceCount() const; // asked of the platform on every read
    TAvDeviceCaps* DeviceCaps() const { return FDeviceCaps.get(); }
    bool Mapper() const; // asked of the platform on every read
    // While loading only the wish is stored (and read back); the loaded step applies it.
    bool Active() const;
    void SetActive(bool value);
    TAvDeviceKind DeviceKind() const { return FDeviceKind; }

    // At least one device of the kind and an id other than -2 (the mapper counts).
    bool IsValid() const;
    // Product names: the mapper first when includeMapper and Mapper, then devices 0 .. count-1.
    void GetDeviceNames(QStringList& strings, bool includeMapper) const;
    // The mixer serving the chosen device (-2 when none does).
    TAvDeviceId GetMixerId() const;

    void AddObserver(TAvObserver* observer);
    void RemoveObserver(TAvObserver* observer);

    // The platform said its devices changed (a card came or went, the sound server went or came
    // back): every device component hears it, open or not. Closed, the component follows its
    // device to where it is listed now, or falls back to device 0 (no device: -2) when it has
    // gone, re-reads it and tells its observers (device lists rebuild, lines re-resolve); a device
    // that was meant to be open (Active, or stored so when no device was there to open) opens
    // again once one is valid. Main thread.
    virtual void DevicesChanged();

    // Whether the form resource stores DeviceId / Active (non-default values).
    virtual bool IsDeviceIdStored() { return FDeviceId != 0; }
    bool IsActiveStored() const { return Active(); }

    TNotifyEvent OnChange;

protected:
    virtual void Open();         // base: marks the device open
    virtual void Close();        // base: marks it closed
    virtual void UpdateDevice(); // re-reads the capabilities, then Changed
    virtual void Changed();      // TAvDeviceChange to the observers, then DoChange
    virtual void DoChange();     // raises OnChange
    void Loaded() override;

    // Called once by a concrete class's constructor: closes, stores the kind, id 0, UpdateDevice.
    void SetDeviceKind(TAvDeviceKind kind);
    bool IsOpen() const { return FOpen; }
    void SetOpen(bool open) { FOpen = open; }
    // Overwrites the id without range check, close or notification (the mixer id moved).
    void StoreDeviceId(TAvDeviceId id) { FDeviceId = id; }
    void ReadCaps();
    TAvObservable* DeviceObservers() const { return FObservers.get(); }
    // Close for destructors: never raises.
    void CloseQuietly() noexcept;
    // The device vanished and none stood in (DeviceId -2): the first device to come takes its
    // place, and the component opens on it when reopen (it was open).
    void DeviceLost(bool reopen) {
        FDeviceLost = true;
        FOpenWhenPresent = FOpenWhenPresent || reopen;
    }

private:
    // UpdateDevice; a device whose capabilities cannot be read becomes -2, told as a change.
    void UpdateDeviceOrNone();
    // Where the device of the stored capabilities is listed now; -2 when it is no more.
    TAvDeviceId FindListedDevice() const;
    void DeviceWindowProc(TMessage& message);

    std::unique_ptr<TAvObservable> FObservers;
    std::unique_ptr<TAvDeviceCaps> FDeviceCaps;
    TAvDeviceId FDeviceId = 0;
    TAvDeviceKind FDeviceKind = dkWaveOut;
    bool FOpen = false;
    bool FLoadingWish = false;
    bool FOpenWhenPresent = false; // open once a device is valid (see DevicesChanged)
    bool FDeviceLost = false;      // -2 since the device vanished
    std::unique_ptr<TMessageWindow> FDeviceWindow; // hears the platform's device-change notice
};

// ---- Device combo box ---------------------------------------------------------------------------

// A drop-down list (not editable) of the devices of Device's kind. Item i stands for device i, or
// for device i-1 when the mapper is listed first (IncludeMapper and Device->Mapper()). Usable
// only while Enabled (the wish), a device is set and the list has items; Enabled() reads the
// wish, EffectiveEnabled() the window's state.
class TAvCustomDeviceComboBox : public TComboBox {
    Q_OBJECT
    Q_PROPERTY(TAvCustomAudioDevice* Device READ Device WRITE SetDevice)
    Q_PROPERTY(bool IncludeMapper READ IncludeMapper WRITE SetIncludeMapper)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
public:
    explicit TAvCustomDeviceComboBox(TComponent* AOwner);
    ~TAvCustomDeviceComboBox() override;

    TAvCustomAudioDevice* Device() const { return FDevice; }
    void SetDevice(TAvCustomAudioDevice* device);
    bool IncludeMapper() const { return FIncludeMapper; }
    void SetIncludeMapper(bool value);
    bool Enabled() const { return FEnabledWish; }
    void SetEnabled(bool value) override;
    bool EffectiveEnabled() const { return TComboBox::Enabled(); }

    // The mapping tables: item index to device id and back (-1: no item / no device).
    TAvDeviceId ItemToDeviceId(int item) const;
    int DeviceIdToItem(TAvDeviceId id) const;

    // Rebuilds the items and the selection; skipped while loading and while the box itself is
    // setting DeviceId.
    void UpdateList();
    // Selects an item and moves Device to it (without OnChange), so whatever is bound to the
    // device acts on the one shown; an index the list lacks shows the device's own item.
    void SetItemIndex(int index) override;

protected:
    // The user picked an item: OnChange first (DeviceId still old), then DeviceId.
    void Change() override;
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // Before the list opens (mouse or key), a list that no longer matches the platform's devices
    // is rebuilt: a closed device hears of no cards coming or going.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool MapperListed() const;
    // Device, unless it is being destroyed (its observable has let our observer go already).
    TAvCustomAudioDevice* LiveDevice() const {
        return FDevice && FObserver && FObserver->Observable() ? FDevice : nullptr;
    }

    TAvCustomAudioDevice* FDevice = nullptr;
    TComponent* FDeviceComponent = nullptr; // the same object, for the removal notice
    std::unique_ptr<TAvObserver> FObserver;
    bool FIncludeMapper = true;
    bool FEnabledWish = true;
    bool FRefreshAllowed = true;
};

class TAvDeviceComboBox : public TAvCustomDeviceComboBox {
    Q_OBJECT
public:
    using TAvCustomDeviceComboBox::TAvCustomDeviceComboBox;
};
