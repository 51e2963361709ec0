#pragma once
// The system mixer as components: TAvMixerDevice stands for one platform mixer, TAvAudioLine binds
// to one line of it.
//
// An open mixer has a hidden callback window (framework/MessageWindow.h) that the platform posts
// MM_MIXM_LINE_CHANGE / MM_MIXM_CONTROL_CHANGE to; they are handled on the main thread inside the
// message loop and turned into change records (TAvLineChange, TAvControlChange) for the lines that
// observe the mixer, which re-send the ones about their own line to the controls observing them.
// An exception while handling a message goes to the application's default exception handler.
//
// A line binds by line id, by component type (the first line of that kind), by the target device
// it serves, or as a source of another (destination) line; it re-resolves after every change of
// what it depends on and ends each resolution with a TAvLineIdChange to its observers.
//
// Every line and control call passes the mixer id (MixerId, MIXER_OBJECTF_MIXER), so a closed
// mixer's lines still resolve; only an open mixer hears of platform changes.
//
// Threads: main thread only.
#include "audio/mixer/AvDevice.h"

#include <cstdint>
#include <memory>

using TAvLineId = std::int32_t;
using TAvControlId = std::int32_t;
using TAvItemIndex = std::int32_t;
constexpr TAvLineId AvBadLineId = -1;
constexpr TAvControlId AvBadControlId = -1;

AV_DECLARE_EXCEPTION(EAvMixerDeviceError, Exception);
AV_DECLARE_EXCEPTION(EAvAudioLineError, Exception);
AV_DECLARE_EXCEPTION(EAvMixerServiceError, Exception);

// Line ids as form resources and the designer show them: -1 is "badLineId" (read in any letter
// case), every other value the number. False for text that is neither.
QString LineIdToString(TAvLineId id);
bool StringToLineId(const QString& text, TAvLineId* id);

// ---- Component types ----------------------------------------------------------------------------

enum TAvComponentType : std::uint8_t {
    ctDstDigital,
    ctDstHeadPhones,
    ctDstLine,
    ctDstMonitor,
    ctDstSpeakers,
    ctDstTelephone,
    ctDstUndefined,
    ctDstVoiceIn,
    ctDstWaveIn,
    ctSrcAnalog,
    ctSrcAux,
    ctSrcCD,
    ctSrcDigital,
    ctSrcLine,
    ctSrcMicrophone,
    ctSrcPCSpeaker,
    ctSrcSynthesizer,
    ctSrcTelephone,
    ctSrcUndefined,
    ctSrcWaveOut,
};
constexpr int AvComponentTypeCount = ctSrcWaveOut + 1;

// The platform component type (MIXERLINE_COMPONENTTYPE_*) of a value, and back; a code outside
// the table raises EAvMixerServiceError "Undefined API component type".
DWORD AvComponentTypeCode(TAvComponentType type);
TAvComponentType AvComponentTypeOf(DWORD code);
// The target type (MIXERLINE_TARGETTYPE_*) a line bound by target looks for, by device kind.
DWORD AvTargetType(TAvDeviceKind kind);

// ---- Line description ---------------------------------------------------------------------------

enum TAvLineFlag : unsigned {
    cfActive = 0x1,       // MIXERLINE_LINEF_ACTIVE
    cfDisconnected = 0x2, // MIXERLINE_LINEF_DISCONNECTED
    cfSource = 0x4,       // MIXERLINE_LINEF_SOURCE
};
using TAvLineFlags = QFlags<TAvLineFlag>;
Q_DECLARE_OPERATORS_FOR_FLAGS(TAvLineFlags)

class TAvLineInfo : public QObject, public TPersistent {
    Q_OBJECT
    Q_PROPERTY(int Flags READ FlagsInt)
    Q_PROPERTY(int Channels READ Channels)
    Q_PROPERTY(int Connections READ Connections)
    Q_PROPERTY(int Controls READ Controls)
    Q_PROPERTY(QString ShortName READ ShortName)
    Q_PROPERTY(QString Name READ Name)
public:
    TAvLineInfo() = default;

    TAvLineFlags Flags() const { return FFlags; }
    int Channels() const { return FChannels; }
    int Connections() const { return FConnections; }
    int Controls() const { return FControls; }
    QString ShortName() const { return FShortName; } // at most 16 characters
    QString Name() const { return FName; }           // at most 64 characters

    void Assign(const TPersistent* source) override;
    void Clear();
    void SetFrom(const MIXERLINEA& line);

private:
    int FlagsInt() const { return static_cast<int>(FFlags.toInt()); }

    TAvLineFlags FFlags;
    int FChannels = 0;
    int FConnections = 0;
    int FControls = 0;
    QString FShortName;
    QString FName;
};

// ---- Mixer device -------------------------------------------------------------------------------

using TAvLineChangeEvent = TEvent<TObject*, TAvLineId>;
using TAvControlChangeEvent = TEvent<TObject*, TAvLineId, TAvControlId>;

class TAvMixerWindow;
struct TMessage;

class TAvMixerDevice : public TAvCustomAudioDevice {
    Q_OBJECT
    Q_PROPERTY(TAvCustomAudioDevice* Device READ Device WRITE SetDevice)
    Q_PROPERTY(int Destinations READ Destinations STORED false)
public:
    explicit TAvMixerDevice(TComponent* AOwner);
    ~TAvMixerDevice() override;

    // Another audio device (not a mixer: "Mixer can't reference mixer") whose mixer this one
    // follows; not owned.
    TAvCustomAudioDevice* Device() const { return FDevice; }
    void SetDevice(TAvCustomAudioDevice* device);
    int Destinations() const; // 0 when the device is not valid

    void AddLineObserver(TAvObserver* observer);
    void RemoveLineObserver(TAvObserver* observer);

    // The id all line and control calls pass. Closed: DeviceId. Open: asked of the platform for
    // the handle; when it moved, DeviceId follows it (no reopen) and observers are told.
    TAvDeviceId MixerId();

    // Line queries: true when found (record filled). Not found: MIXERR_INVALLINE,
    // MMSYSERR_NODRIVER, MMSYSERR_INVALPARAM; other failures raise EAvMCIError.
    bool GetLineInfoById(TAvLineId lineId, MIXERLINEA& line);
    bool GetLineInfoByType(TAvComponentType type, MIXERLINEA& line);
    bool GetLineInfoBySource(int destinationIndex, int sourceIndex, MIXERLINEA& line);
    bool GetLineInfoByTarget(const TAvCustomAudioDevice* device, MIXERLINEA& line);

    // Control queries for the mixer controls: one control by id (the record's owning line id in
    // lineId) or by type on a line. Not found: MIXERR_INVALCONTROL, MIXERR_INVALLINE,
    // MMSYSERR_NODRIVER; other failures raise.
    bool GetControlById(TAvControlId controlId, MIXERCONTROLA& control,
                        TAvLineId* lineId = nullptr);
    bool GetControlByType(TAvLineId lineId, DWORD controlType, MIXERCONTROLA& control);
    // Value transfer (MIXER_GETCONTROLDETAILSF_VALUE / _LISTTEXT, MIXER_SETCONTROLDETAILSF_VALUE);
    // failures raise.
    void GetControlDetails(MIXERCONTROLDETAILS& details, DWORD query);
    void SetControlDetails(MIXERCONTROLDETAILS& details);

    // Stored in the form: without Device when DeviceId is not 0; with Device when its mixer id
    // differs from MixerId.
    bool IsDeviceIdStored() override;

    // Open, the mixer follows its handle (it falls back when its card has gone); closed, as any
    // device component.
    void DevicesChanged() override;

    HMIXER Handle() const { return FHandle; }
    HWND CallbackWindow() const; // null while closed
    // Counts the device changes told to the lines. Line and control ids found before the latest
    // one may belong to another mixer: they are not asked of this one until found again.
    std::uint64_t Generation() const { return FGeneration; }

    TAvLineChangeEvent OnLineChange;
    TAvControlChangeEvent OnControlChange;

protected:
    void Open() override;
    void Close() override;
    void UpdateDevice() override;
    void Changed() override;
    virtual void LineChange(TAvLineId lineId);
    virtual void ControlChange(TAvControlId controlId);
    virtual void DoLineChange(TAvLineId lineId);
    virtual void DoControlChange(TAvLineId lineId, TAvControlId controlId);
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TAvMixerWindow;
    // The callback window's procedure (main thread, inside the message loop).
    void MixerWndProc(TMessage& message);
    // Run before each platform message: cards may have come or gone (they are announced as line
    // changes). Follows the mixer id, refreshes the listeners when the device count changed, and
    // falls back when this mixer has gone; false then (the message is stale).
    bool CheckDeviceSet();
    void MixerVanished();
    void ReleaseWindow();
    HMIXEROBJ MixerObject();
    // Device, unless it is being destroyed: its observable clears our observer first, while its
    // removal notice (which clears Device) may come only after other components were told.
    TAvCustomAudioDevice* LiveDevice() const {
        return FDevice && FDeviceObserver && FDeviceObserver->Observable() ? FDevice : nullptr;
    }

    TAvCustomAudioDevice* FDevice = nullptr;
    TComponent* FDeviceComponent = nullptr; // the same object, for the removal notice
    std::unique_ptr<TAvObserver> FDeviceObserver;
    std::unique_ptr<TAvObservable> FLineObservers;
    HMIXER FHandle = nullptr;
    TAvMixerWindow* FWindow = nullptr;
    int FSeenDeviceCount = 0;
    std::uint64_t FGeneration = 0;
};

// ---- Audio line ---------------------------------------------------------------------------------

enum TAvLineBinding : std::uint8_t { lbById, lbByComponentType, lbByTarget };

class TAvAudioLine : public TAvNonVisualComponent {
    Q_OBJECT
    Q_PROPERTY(TAvMixerDevice* Mixer READ Mixer WRITE SetMixer)
    Q_PROPERTY(int LineId READ LineId WRITE SetLineId)
    Q_PROPERTY(int ComponentType READ ComponentTypeInt WRITE SetComponentTypeInt)
    Q_PROPERTY(TAvCustomAudioDevice* Target READ Target WRITE SetTarget)
    Q_PROPERTY(TAvComponent* DestLine READ DestLine WRITE SetDestLine)
    Q_PROPERTY(TAvLineInfo* LineInfo READ LineInfo STORED false)
public:
    explicit TAvAudioLine(TComponent* AOwner);
    ~TAvAudioLine() override;

    TAvMixerDevice* Mixer() const { return FMixer; }
    void SetMixer(TAvMixerDevice* mixer);
    TAvLineId LineId() const { return FLineId; }
    void SetLineId(TAvLineId lineId); // binds by id
    TAvComponentType ComponentType() const { return FComponentType; }
    void SetComponentType(TAvComponentType type); // binds by component type
    // Not a mixer ("Can't target to mixer"); binds by target.
    TAvCustomAudioDevice* Target() const { return FTarget; }
    void SetTarget(TAvCustomAudioDevice* target);
    // Must be a TAvAudioLine ("DestLine should be TAvAudioLine"): this line is then a source of it.
    TAvComponent* DestLine() const { return FDestLine; }
    void SetDestLine(TAvComponent* line);
    TAvLineInfo* LineInfo() const { return FLineInfo.get(); }
    TAvLineBinding Binding() const { return FBinding; }
    // The platform's destination index while resolved to a destination line, else -1.
    int DestinationIndex() const { return FDestinationIndex; }

    int Connections() const { return FLineInfo->Connections(); }
    // Line id of source index of this destination line; outside 0 .. Connections-1 raises
    // "Connection index out of range"; -1 when the platform does not find it.
    TAvLineId Connection(int index);
    // The mixer is set and valid (a line with LineId -1 still counts).
    bool IsValid() const;
    // Valid, and resolved since the mixer's latest device change: LineId is one of this mixer's.
    bool IsCurrent() const;
    // Whether source is a source of this destination line; fills its record when found.
    bool FindSource(const TAvAudioLine* source, MIXERLINEA* found = nullptr);
    // Resolves the line (see the header comment); ends with LineIdChanged.
    void UpdateLine();

    void AddObserver(TAvObserver* observer);
    void RemoveObserver(TAvObserver* observer);

    // What the form resource stores.
    bool IsLineIdStored() const { return FBinding == lbById && FLineId != AvBadLineId; }
    bool IsComponentTypeStored() const {
        return FBinding == lbByComponentType && FComponentType != ctDstDigital;
    }
    bool IsTargetStored() const { return FBinding == lbByTarget && FTarget; }

    TNotifyEvent OnChange;                 // the platform reported a change of this line
    TAvControlChangeEvent OnControlChange; // ... of a control of this line

protected:
    virtual void Changed();                          // TAvLineChange to the observers, DoChange
    virtual void LineIdChanged();                    // TAvLineIdChange to the observers
    virtual void ControlChanged(TAvControlId ctlId); // TAvControlChange, DoControlChange
    virtual void DoChange();
    virtual void DoControlChange(TAvControlId ctlId);
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    int ComponentTypeInt() const { return FComponentType; }
    void SetComponentTypeInt(int v);
    // Looks this line up on mixer by its own binding (id, component type or target).
    bool LookUp(TAvMixerDevice* mixer, MIXERLINEA& line) const;
    void MixerNotify(TObject* data);
    // The referenced components, unless they are being destroyed (their observable has already
    // let our observer go, while their removal notice may still be on its way).
    TAvMixerDevice* LiveMixer() const {
        return FMixer && FMixerObserver && FMixerObserver->Observable() ? FMixer : nullptr;
    }
    TAvCustomAudioDevice* LiveTarget() const {
        return FTarget && FTargetObserver && FTargetObserver->Observable() ? FTarget : nullptr;
    }
    TAvAudioLine* LiveDestLine() const {
        return FDestLine && FDestLineObserver && FDestLineObserver->Observable()
                   ? static_cast<TAvAudioLine*>(FDestLine)
                   : nullptr;
    }

    TAvMixerDevice* FMixer = nullptr;
    TComponent* FMixerComponent = nullptr;
    TAvCustomAudioDevice* FTarget = nullptr;
    TComponent* FTargetComponent = nullptr;
    TAvComponent* FDestLine = nullptr;
    TComponent* FDestLineComponent = nullptr;
    TAvLineId FLineId = AvBadLineId;
    TAvComponentType FComponentType = ctDstDigital;
    TAvLineBinding FBinding = lbById;
    int FDestinationIndex = -1;
    std::uint64_t FGeneration = 0; // the mixer's generation LineId was found in
    bool FUpdating = false;
    std::unique_ptr<TAvLineInfo> FLineInfo;
    std::unique_ptr<TAvObserver> FMixerObserver;
    std::unique_ptr<TAvObserver> FTargetObserver;
    std::unique_ptr<TAvObserver> FDestLineObserver;
    std::unique_ptr<TAvObservable> FLineObservers;
};
