#pragma once
// Mixer controls: a component that binds to one control of an audio line, by control id or by
// control type, keeps its description (ControlInfo) current, reads and writes its values per
// channel and per item, and tells the components bound to it (sliders, check boxes, labels,
// blocks) when the platform reports a change.
//
//   TAvCustomMixerControl  all of the above
//   TAvMixerControl        publishes ControlType (the pages bind ctMixer / ctMux this way)
//   TAvVolumeControl       fixed to the volume control; writes apply a left/right balance
//   TAvPanControl          fixed to the pan control; where the line has none it simulates one
//                          from the balance of a TAvVolumeControl
//
// Every value operation moves the whole detail array of the control (items x channels,
// item-major, 4 bytes per element): a write reads the array, replaces one element and writes it
// all back, so the other channels and items keep their values.
//
// Channel selector: 0 all channels as one, 1 the first (left), 2 the second (right) channel.
// Item: -1 the control as a whole, else 0 .. GetItems()-1.
//
// Threads: main thread only. Platform change reports arrive through the mixer's callback window
// (inside the message loop) and reach the control through its line.
#include "audio/mixer/AvMixer.h"

#include <QFlags>
#include <cstdint>
#include <memory>

AV_DECLARE_EXCEPTION(EAvMixerControlError, Exception);

// ---- Control types and classes ------------------------------------------------------------------

enum TAvControlType : std::uint8_t {
    ctCustom,
    ctBass,
    ctEqualizer,
    ctFader,
    ctTreble,
    ctVolume,
    ctMixer,
    ctMultipleSelect,
    ctMux,
    ctSingleSelect,
    ctBooleanMeter,
    ctPeakMeter,
    ctSignerMeter,
    ctUnsignedMeter,
    ctDecibels,
    ctPercent,
    ctSigned,
    ctUnsigned,
    ctPan,
    ctQSoundPan,
    ctSlider,
    ctBoolean,
    ctButton,
    ctLoudness,
    ctMono,
    ctMute,
    ctOnOff,
    ctStereoEnh,
    ctMicroTime,
    ctMilliTime,
};
constexpr int AvControlTypeCount = ctMilliTime + 1;

enum TAvControlClass : std::uint8_t {
    ccCustom,
    ccFader,
    ccList,
    ccMeter,
    ccNumber,
    ccSlider,
    ccSwitch,
    ccTime,
};

// The platform control type (MIXERCONTROL_CONTROLTYPE_*) of a value, and back (a code outside the
// table gives ctCustom).
DWORD AvControlTypeCode(TAvControlType type);
TAvControlType AvControlTypeOf(DWORD code);
// The class of a platform control type code (its top four bits); a class outside the table raises
// EAvMixerServiceError "Undefined API control class".
TAvControlClass AvControlClassOf(DWORD code);
inline TAvControlClass AvControlClassOf(TAvControlType type) {
    return AvControlClassOf(AvControlTypeCode(type));
}

// Control ids and item indexes as form resources and the designer show them: -1 is
// "badControlId" and "NoItem" (read in any letter case), every other value the number. False for
// text that is neither.
QString ControlIdToString(TAvControlId id);
bool StringToControlId(const QString& text, TAvControlId* id);
constexpr TAvItemIndex AvNoItem = -1;
QString ItemIndexToString(TAvItemIndex item);
bool StringToItemIndex(const QString& text, TAvItemIndex* item);

// ---- Control description ------------------------------------------------------------------------

enum TAvControlFlag : std::uint32_t {
    cfUniform = MIXERCONTROL_CONTROLF_UNIFORM,   // 0x1
    cfMultiple = MIXERCONTROL_CONTROLF_MULTIPLE, // 0x2
    cfDisabled = MIXERCONTROL_CONTROLF_DISABLED, // 0x80000000
};
using TAvControlFlags = QFlags<TAvControlFlag>;
Q_DECLARE_OPERATORS_FOR_FLAGS(TAvControlFlags)

class TAvControlInfo : public QObject, public TPersistent {
    Q_OBJECT
    Q_PROPERTY(int Flags READ FlagsInt)
    Q_PROPERTY(int MultipleItems READ MultipleItems)
    Q_PROPERTY(QString ShortName READ ShortName)
    Q_PROPERTY(QString Name READ Name)
    Q_PROPERTY(int MinValue READ MinValue)
    Q_PROPERTY(int MaxValue READ MaxValue)
    Q_PROPERTY(int Steps READ Steps)
public:
    TAvControlInfo() = default;

    TAvControlFlags Flags() const { return FFlags; }
    TAvItemIndex MultipleItems() const { return FMultipleItems; } // items of a list, else 0
    QString ShortName() const { return FShortName; }              // at most 16 characters
    QString Name() const { return FName; }                        // at most 64 characters
    std::int32_t MinValue() const { return FMinValue; }
    std::int32_t MaxValue() const { return FMaxValue; }
    std::int32_t Steps() const { return FSteps; }

    void Assign(const TPersistent* source) override;
    void Clear();
    void SetFrom(const MIXERCONTROLA& control);
    void Set(TAvControlFlags flags, TAvItemIndex items, const QString& shortName,
             const QString& name, std::int32_t minValue, std::int32_t maxValue, std::int32_t steps);

private:
    int FlagsInt() const { return static_cast<int>(FFlags.toInt()); }

    TAvControlFlags FFlags;
    TAvItemIndex FMultipleItems = 0;
    QString FShortName;
    QString FName;
    std::int32_t FMinValue = 0;
    std::int32_t FMaxValue = 0;
    std::int32_t FSteps = 0;
};

// One item of a list control: for mixer and multiplexer lists Param1 is the line id of the
// source line the item stands for, Param2 its component type.
struct TAvItemInfo {
    DWORD Param1 = 0;
    DWORD Param2 = 0;
    QString Name; // at most 64 characters
};

enum TAvControlBinding : std::uint8_t { cbById, cbByType };

// ---- The control component ----------------------------------------------------------------------

class TAvCustomMixerControl : public TAvNonVisualComponent {
    Q_OBJECT
    Q_PROPERTY(TAvAudioLine* AudioLine READ AudioLine WRITE SetAudioLine)
    Q_PROPERTY(int ControlId READ ControlId WRITE SetControlId)
    Q_PROPERTY(int ControlClass READ ControlClassInt STORED false)
    Q_PROPERTY(TAvControlInfo* ControlInfo READ ControlInfo STORED false)
public:
    explicit TAvCustomMixerControl(TComponent* AOwner);
    ~TAvCustomMixerControl() override;

    // The line (not owned); set to none when the line is destroyed.
    TAvAudioLine* AudioLine() const { return FAudioLine; }
    void SetAudioLine(TAvAudioLine* line);
    // -1: no control. Setting another id binds by id.
    TAvControlId ControlId() const { return FControlId; }
    void SetControlId(TAvControlId id);
    TAvControlType ControlType() const { return FControlType; }
    TAvControlClass ControlClass() const { return FControlClass; }
    TAvControlInfo* ControlInfo() const { return FControlInfo.get(); }
    TAvControlBinding Binding() const { return FBinding; }

    // Resolves the control on the line (by id or by type); ends with ControlIdChanged.
    virtual void UpdateControl();

    // The whole control: all channels as one, no item.
    virtual bool GetBoolean();
    virtual void SetBoolean(bool value);
    virtual LONG GetSigned();
    virtual void SetSigned(LONG value);
    virtual DWORD GetUnsigned();
    virtual void SetUnsigned(DWORD value);

    // The line is usable (set, valid, resolved) and ControlId is not -1.
    virtual bool IsValid() const;
    // Whether a control the platform found may be taken (true in the base).
    virtual bool AcceptControl(const MIXERCONTROLA& control) const;
    // 0 without a usable line; 1 for a uniform control; else the line's channel count.
    virtual int GetChannels() const;
    // 0 without a usable line; else ControlInfo->MultipleItems().
    virtual int GetItems() const;

    // One element: channel selector 0, 1 or 2; item -1 or 0 .. GetItems()-1.
    virtual DWORD GetUnsignedValue(int channel, TAvItemIndex item);
    virtual void SetUnsignedValue(int channel, TAvItemIndex item, DWORD value);
    virtual LONG GetSignedValue(int channel, TAvItemIndex item);
    virtual void SetSignedValue(int channel, TAvItemIndex item, LONG value);
    virtual bool GetBooleanValue(int channel, TAvItemIndex item);
    // On a single-select list (ctMux, ctSingleSelect) every other item of the same channel
    // selector is cleared in the same write, so at most one stays selected.
    virtual void SetBooleanValue(int channel, TAvItemIndex item, bool value);

    // IsValid and not cfDisabled.
    bool IsEnabled() const;
    // Text and parameters of a list item; the control must have cfMultiple.
    TAvItemInfo GetItemInfo(int index);
    // The item of this mixer or multiplexer list that selects line as a source, or -1.
    TAvItemIndex FindItem(TAvAudioLine* line);

    void AddObserver(TAvObserver* observer);
    void RemoveObserver(TAvObserver* observer);

    // What the form resource stores.
    bool IsControlIdStored() const { return FBinding == cbById && FControlId != AvBadControlId; }
    bool IsControlTypeStored() const { return FBinding == cbByType && FControlType != ctCustom; }

    TNotifyEvent OnChange; // the control's value changed

protected:
    // TAvControlChange to the control observers, then DoChange.
    virtual void Changed();
    // TAvControlIdChange to the control observers.
    virtual void ControlIdChanged();
    virtual void DoChange(); // raises OnChange

    // Stores the type and binds by type (publishing classes and fixed-type controls).
    void SetControlType(TAvControlType type);
    // Initial type of a fixed-type control: stored without resolving, binding by type.
    void InitControlType(TAvControlType type);
    // The line is set, valid and resolved on its mixer as it is now.
    bool LineUsable() const;
    // The line while our observer is still attached to it: a line whose observers have been let
    // go is being destroyed and is never called, even before its removal notice arrives.
    TAvAudioLine* LiveLine() const {
        return FLineObserver && FLineObserver->Observable() ? FAudioLine : nullptr;
    }
    // The control is resolved, on its line's mixer as it is now.
    bool ControlCurrent() const;
    // Raises "Mixer required for this operation" / "Control not valid".
    void CheckUsable() const;

    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    int ControlClassInt() const { return FControlClass; }
    void LineNotify(TObject* sender, TObject* data);
    // The detail array and the element a selector and item name in it.
    struct Details {
        std::vector<LONG> values;
        DWORD channels = 0, items = 0;
        std::size_t index = 0;
    };
    Details ReadDetails(int channel, TAvItemIndex item);
    void WriteDetails(Details& details);
    // The platform's record for reading or writing this control's values through details.
    MIXERCONTROLDETAILS DetailsRecord(Details& details) const;

    TAvAudioLine* FAudioLine = nullptr;
    TComponent* FAudioLineComponent = nullptr; // the same object, for the removal notice
    TAvControlId FControlId = AvBadControlId;
    std::uint64_t FGeneration = 0; // the mixer's generation FControlId was found in
    TAvControlType FControlType = ctCustom;
    TAvControlClass FControlClass = ccCustom;
    TAvControlBinding FBinding = cbById;
    std::unique_ptr<TAvControlInfo> FControlInfo;
    std::unique_ptr<TAvObserver> FLineObserver;
    std::unique_ptr<TAvObservable> FControlObservers;
};

class TAvMixerControl : public TAvCustomMixerControl {
    Q_OBJECT
    Q_PROPERTY(int ControlType READ ControlTypeInt WRITE SetControlTypeInt)
public:
    explicit TAvMixerControl(TComponent* AOwner) : TAvCustomMixerControl(AOwner) {}
    using TAvCustomMixerControl::SetControlType;

private:
    int ControlTypeInt() const { return ControlType(); }
    void SetControlTypeInt(int v);
};

// The volume control of a line; writes of the whole control (or of selector 0) go to the left
// and right channels with the balance of PanValue applied.
class TAvVolumeControl : public TAvCustomMixerControl {
    Q_OBJECT
    Q_PROPERTY(int PanValue READ PanValue WRITE SetPanValue)
public:
    explicit TAvVolumeControl(TComponent* AOwner);

    // -32768 full left .. 32767 full right. Setting another value rewrites the volume (when
    // valid) with the new balance.
    std::int32_t PanValue() const { return FPanValue; }
    void SetPanValue(std::int32_t value);
    // Stores the balance without writing to the mixer (the simulated pan read it from there).
    void StorePanValue(std::int32_t value) { FPanValue = value; }
    // value on the left and on the right channel under PanValue.
    std::int64_t Left(std::int64_t value) const;
    std::int64_t Right(std::int64_t value) const;

    bool AcceptControl(const MIXERCONTROLA& control) const override;
    void SetUnsigned(DWORD value) override;
    void SetSigned(LONG value) override;
    void SetUnsignedValue(int channel, TAvItemIndex item, DWORD value) override;
    void SetSignedValue(int channel, TAvItemIndex item, LONG value) override;

private:
    std::int32_t FPanValue = 0;
};

// The pan control of a line; without one (Simulate) the balance of VolumeControl's two channels
// stands in for it, -32768 .. 32767.
class TAvPanControl : public TAvCustomMixerControl {
    Q_OBJECT
    Q_PROPERTY(TAvVolumeControl* VolumeControl READ VolumeControl WRITE SetVolumeControl)
    Q_PROPERTY(bool Simulate READ Simulate WRITE SetSimulate)
public:
    explicit TAvPanControl(TComponent* AOwner);
    ~TAvPanControl() override;

    TAvVolumeControl* VolumeControl() const { return FVolumeControl; }
    void SetVolumeControl(TAvVolumeControl* volume);
    bool Simulate() const { return FSimulate; }
    void SetSimulate(bool value);
    bool Simulating() const { return FSimulating; }
    std::int32_t SimulatedPan() const { return FSimulatedPan; }

    void UpdateControl() override;
    bool IsValid() const override;
    bool AcceptControl(const MIXERCONTROLA& control) const override;
    int GetChannels() const override { return 1; }
    int GetItems() const override { return 0; }
    DWORD GetUnsigned() override;
    void SetUnsigned(DWORD value) override;
    DWORD GetUnsignedValue(int channel, TAvItemIndex item) override;
    void SetUnsignedValue(int channel, TAvItemIndex item, DWORD value) override;
    LONG GetSigned() override;
    void SetSigned(LONG value) override;
    LONG GetSignedValue(int channel, TAvItemIndex item) override;
    void SetSignedValue(int channel, TAvItemIndex item, LONG value) override;

protected:
    void ControlIdChanged() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    // The volume control while our observer is attached to it (see LiveLine).
    TAvVolumeControl* LiveVolume() const {
        return FVolumeObserver && FVolumeObserver->Observable() ? FVolumeControl : nullptr;
    }
    // Decides whether to simulate (no real pan resolved, a usable two-channel volume control).
    void UpdateSimulation();
    void ReadSimulatedPan();
    void StoreSimulatedPan(std::int32_t value);
    void VolumeNotify(TObject* sender, TObject* data);

    TAvVolumeControl* FVolumeControl = nullptr;
    TComponent* FVolumeComponent = nullptr;
    bool FSimulate = true;
    bool FSimulating = false;
    bool FQuiet = false; // inside the line's resolution: no ControlIdChanged yet
    std::int32_t FSimulatedPan = 0;
    std::unique_ptr<TAvObserver> FVolumeObserver;
};
