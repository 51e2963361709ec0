#include "audio/mixer/AvMixCtl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

// ---- Types, classes and identifiers -------------------------------------------------------------

namespace {

constexpr DWORD kControlTypeCodes[AvControlTypeCount] = {
    MIXERCONTROL_CONTROLTYPE_CUSTOM,       MIXERCONTROL_CONTROLTYPE_BASS,
    MIXERCONTROL_CONTROLTYPE_EQUALIZER,    MIXERCONTROL_CONTROLTYPE_FADER,
    MIXERCONTROL_CONTROLTYPE_TREBLE,       MIXERCONTROL_CONTROLTYPE_VOLUME,
    MIXERCONTROL_CONTROLTYPE_MIXER,        MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT,
    MIXERCONTROL_CONTROLTYPE_MUX,          MIXERCONTROL_CONTROLTYPE_SINGLESELECT,
    MIXERCONTROL_CONTROLTYPE_BOOLEANMETER, MIXERCONTROL_CONTROLTYPE_PEAKMETER,
    MIXERCONTROL_CONTROLTYPE_SIGNEDMETER,  MIXERCONTROL_CONTROLTYPE_UNSIGNEDMETER,
    MIXERCONTROL_CONTROLTYPE_DECIBELS,     MIXERCONTROL_CONTROLTYPE_PERCENT,
    MIXERCONTROL_CONTROLTYPE_SIGNED,       MIXERCONTROL_CONTROLTYPE_UNSIGNED,
    MIXERCONTROL_CONTROLTYPE_PAN,          MIXERCONTROL_CONTROLTYPE_QSOUNDPAN,
    MIXERCONTROL_CONTROLTYPE_SLIDER,       MIXERCONTROL_CONTROLTYPE_BOOLEAN,
    MIXERCONTROL_CONTROLTYPE_BUTTON,       MIXERCONTROL_CONTROLTYPE_LOUDNESS,
    MIXERCONTROL_CONTROLTYPE_MONO,         MIXERCONTROL_CONTROLTYPE_MUTE,
    MIXERCONTROL_CONTROLTYPE_ONOFF,        MIXERCONTROL_CONTROLTYPE_STEREOENH,
    MIXERCONTROL_CONTROLTYPE_MICROTIME,    MIXERCONTROL_CONTROLTYPE_MILLITIME,
};

// Text of a fixed-size platform name field: up to the first zero byte.
QString FieldText(const CHAR* field, std::size_t size) {
    const auto* end = static_cast<const CHAR*>(std::memchr(field, 0, size));
    const std::size_t n = end ? static_cast<std::size_t>(end - field) : size;
    return QString::fromLocal8Bit(field, static_cast<qsizetype>(n));
}

bool ReadIdentifier(const QString& text, const char* identifier, std::int32_t* out) {
    const QString t = text.trimmed();
    std::int32_t v = -1;
    if (t.compare(QLatin1String(identifier), Qt::CaseInsensitive) != 0) {
        bool ok = false;
        v = t.toInt(&ok);
        if (!ok) return false;
    }
    if (out) *out = v;
    return true;
}

} // namespace

DWORD AvControlTypeCode(TAvControlType type) {
    const int i = static_cast<int>(type);
    return i >= 0 && i < AvControlTypeCount ? kControlTypeCodes[i] : 0;
}

TAvControlType AvControlTypeOf(DWORD code) {
    for (int i = 0; i < AvControlTypeCount; ++i)
        if (kControlTypeCodes[i] == code) return static_cast<TAvControlType>(i);
    return ctCustom;
}

TAvControlClass AvControlClassOf(DWORD code) {
    switch (code & MIXERCONTROL_CT_CLASS_MASK) {
    case MIXERCONTROL_CT_CLASS_CUSTOM:
        return ccCustom;
    case MIXERCONTROL_CT_CLASS_FADER:
        return ccFader;
    case MIXERCONTROL_CT_CLASS_LIST:
        return ccList;
    case MIXERCONTROL_CT_CLASS_METER:
        return ccMeter;
    case MIXERCONTROL_CT_CLASS_NUMBER:
        return ccNumber;
    case MIXERCONTROL_CT_CLASS_SLIDER:
        return ccSlider;
    case MIXERCONTROL_CT_CLASS_SWITCH:
        return ccSwitch;
    case MIXERCONTROL_CT_CLASS_TIME:
        return ccTime;
    default:
        throw EAvMixerServiceError(QStringLiteral("Undefined API control class"));
    }
}

QString ControlIdToString(TAvControlId id) {
    return id == AvBadControlId ? QStringLiteral("badControlId") : QString::number(id);
}
bool StringToControlId(const QString& text, TAvControlId* id) {
    return ReadIdentifier(text, "badControlId", id);
}
QString ItemIndexToString(TAvItemIndex item) {
    return item == AvNoItem ? QStringLiteral("NoItem") : QString::number(item);
}
bool StringToItemIndex(const QString& text, TAvItemIndex* item) {
    return ReadIdentifier(text, "NoItem", item);
}

// ---- TAvControlInfo -----------------------------------------------------------------------------

void TAvControlInfo::Assign(const TPersistent* source) {
    const auto* src = dynamic_cast<const TAvControlInfo*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    Set(src->FFlags, src->FMultipleItems, src->FShortName, src->FName, src->FMinValue,
        src->FMaxValue, src->FSteps);
}

void TAvControlInfo::Clear() {
    Set({}, 0, QString(), QString(), 0, 0, 0);
}

void TAvControlInfo::SetFrom(const MIXERCONTROLA& c) {
    Set(TAvControlFlags::fromInt(c.fdwControl), static_cast<TAvItemIndex>(c.cMultipleItems),
        FieldText(c.szShortName, sizeof c.szShortName), FieldText(c.szName, sizeof c.szName),
        c.Bounds.lMinimum, c.Bounds.lMaximum, static_cast<std::int32_t>(c.Metrics.cSteps));
}

void TAvControlInfo::Set(TAvControlFlags flags, TAvItemIndex items, const QString& shortName,
                         const QString& name, std::int32_t minValue, std::int32_t maxValue,
                         std::int32_t steps) {
    FFlags = flags;
    FMultipleItems = items;
    FShortName = shortName.left(MIXER_SHORT_NAME_CHARS);
    FName = name.left(MIXER_LONG_NAME_CHARS);
    FMinValue = minValue;
    FMaxValue = maxValue;
    FSteps = steps;
}

// ---- TAvCustomMixerControl ----------------------------------------------------------------------

TAvCustomMixerControl::TAvCustomMixerControl(TComponent* AOwner)
    : TAvNonVisualComponent(AOwner), FControlInfo(std::make_unique<TAvControlInfo>()),
      FLineObserver(std::make_unique<TAvObserver>()),
      FControlObservers(std::make_unique<TAvObservable>()) {
    FLineObserver->OnNotify.Assign(this, &TAvCustomMixerControl::LineNotify);
}

TAvCustomMixerControl::~TAvCustomMixerControl() {
    FLineObserver.reset();
    FControlObservers.reset();
    FControlInfo.reset();
}

void TAvCustomMixerControl::SetAudioLine(TAvAudioLine* line) {
    if (line == FAudioLine) return;
    FLineObserver->Detach();
    if (FAudioLineComponent) RemoveFreeNotification(FAudioLineComponent);
    FAudioLine = line;
    FAudioLineComponent = line;
    if (FAudioLine) {
        FAudioLine->AddObserver(FLineObserver.get()); // LiveLine() from here on
        FreeNotification(FAudioLineComponent);
    }
    UpdateControl();
}

void TAvCustomMixerControl::SetControlId(TAvControlId id) {
    if (id == FControlId) return;
    FControlId = id;
    FBinding = cbById;
    UpdateControl();
}

void TAvCustomMixerControl::SetControlType(TAvControlType type) {
    if (type == FControlType) return;
    FControlType = type;
    FBinding = cbByType;
    UpdateControl();
}

void TAvCustomMixerControl::InitControlType(TAvControlType type) {
    FControlType = type;
    FBinding = cbByType;
    FControlClass = AvControlClassOf(type);
}

bool TAvCustomMixerControl::LineUsable() const {
    TAvAudioLine* line = LiveLine();
    return line && line->IsCurrent() && line->LineId() != AvBadLineId;
}

bool TAvCustomMixerControl::ControlCurrent() const {
    return FControlId != AvBadControlId && LineUsable() &&
           FGeneration == LiveLine()->Mixer()->Generation();
}

void TAvCustomMixerControl::UpdateControl() {
    if (IsLoading()) {
        FControlClass = AvControlClassOf(FControlType);
        return;
    }
    if (LineUsable()) {
        TAvMixerDevice* mixer = LiveLine()->Mixer();
        MIXERCONTROLA control{};
        bool found = false;
        if (FBinding == cbById)
            found = FControlId != AvBadControlId && mixer->GetControlById(FControlId, control);
        else
            found = mixer->GetControlByType(LiveLine()->LineId(), AvControlTypeCode(FControlType),
                                            control);
        if (found && AcceptControl(control)) {
            FControlId = static_cast<TAvControlId>(control.dwControlID);
            FControlType = AvControlTypeOf(control.dwControlType);
            FControlInfo->SetFrom(control);
        } else {
            FControlId = AvBadControlId;
            FControlInfo->Clear();
        }
        FGeneration = mixer->Generation();
    }
    FControlClass = AvControlClassOf(FControlType);
    ControlIdChanged();
}

void TAvCustomMixerControl::Changed() {
    TAvControlChange change(LineUsable() ? LiveLine()->LineId() : AvBadLineId, FControlId);
    FControlObservers->NotifyObservers(&change);
    DoChange();
}

void TAvCustomMixerControl::ControlIdChanged() {
    TAvControlIdChange change;
    FControlObservers->NotifyObservers(&change);
}

void TAvCustomMixerControl::DoChange() {
    OnChange(this);
}

void TAvCustomMixerControl::LineNotify(TObject*, TObject* data) {
    if (auto* c = dynamic_cast<TAvControlChange*>(data)) {
        if (LiveLine() && c->LineId == LiveLine()->LineId() && c->ControlId == FControlId &&
            FControlId != AvBadControlId)
            Changed();
    } else if (dynamic_cast<TAvLineIdChange*>(data)) {
        UpdateControl();
    }
}

bool TAvCustomMixerControl::IsValid() const {
    return ControlCurrent();
}

bool TAvCustomMixerControl::IsEnabled() const {
    return IsValid() && !FControlInfo->Flags().testFlag(cfDisabled);
}

bool TAvCustomMixerControl::AcceptControl(const MIXERCONTROLA&) const {
    return true;
}

int TAvCustomMixerControl::GetChannels() const {
    if (!LineUsable()) return 0;
    if (FControlInfo->Flags().testFlag(cfUniform)) return 1;
    return LiveLine()->LineInfo()->Channels();
}

int TAvCustomMixerControl::GetItems() const {
    if (!LineUsable()) return 0;
    return FControlInfo->MultipleItems();
}

void TAvCustomMixerControl::CheckUsable() const {
    if (!LineUsable()) throw EAvDeviceError(QStringLiteral("Mixer required for this operation"));
    // An id found on the mixer before its device changed is never asked of the new one.
    if (!ControlCurrent()) throw EAvDeviceError(QStringLiteral("Control not valid"));
}

TAvCustomMixerControl::Details TAvCustomMixerControl::ReadDetails(int channel, TAvItemIndex item) {
    CheckUsable();
    // A selector other than 0, 1, 2 would address outside the array.
    if (channel < 0 || channel > 2)
        throw EAvMixerControlError(QStringLiteral("Channel index out of range"));
    const int channels = GetChannels();
    Details d;
    d.channels = static_cast<DWORD>(channel == 0 ? std::min(channels, 1) : channels);
    if (item != AvNoItem) {
        if (item < 0 || item >= GetItems())
            throw EAvMixerControlError(QStringLiteral("Item index out of range"));
        d.items = static_cast<DWORD>(GetItems());
    }
    const std::size_t rows = std::max<DWORD>(d.items, 1);
    const std::size_t width = std::max<DWORD>(d.channels, 1);
    d.values.assign(rows * width, 0);
    const std::size_t itemIndex = static_cast<std::size_t>(std::max(item, 0));
    if (channels <= 1 || channel == 0)
        d.index = itemIndex;
    else
        d.index = static_cast<std::size_t>(std::max(channels, 1)) * itemIndex + (channel == 2);
    if (d.index >= d.values.size())
        throw EAvMixerControlError(QStringLiteral("Channel index out of range"));
    MIXERCONTROLDETAILS details = DetailsRecord(d);
    LiveLine()->Mixer()->GetControlDetails(details, MIXER_GETCONTROLDETAILSF_VALUE);
    return d;
}

void TAvCustomMixerControl::WriteDetails(Details& d) {
    MIXERCONTROLDETAILS details = DetailsRecord(d);
    LiveLine()->Mixer()->SetControlDetails(details);
}

MIXERCONTROLDETAILS TAvCustomMixerControl::DetailsRecord(Details& d) const {
    MIXERCONTROLDETAILS details{};
    details.dwControlID = static_cast<DWORD>(FControlId);
    details.cChannels = d.channels;
    details.cMultipleItems = d.items;
    details.cbDetails = sizeof(LONG);
    details.paDetails = d.values.data();
    return details;
}

DWORD TAvCustomMixerControl::GetUnsignedValue(int channel, TAvItemIndex item) {
    const Details d = ReadDetails(channel, item);
    return static_cast<DWORD>(d.values[d.index]);
}

void TAvCustomMixerControl::SetUnsignedValue(int channel, TAvItemIndex item, DWORD value) {
    Details d = ReadDetails(channel, item);
    d.values[d.index] = static_cast<LONG>(value);
    WriteDetails(d);
}

LONG TAvCustomMixerControl::GetSignedValue(int channel, TAvItemIndex item) {
    const Details d = ReadDetails(channel, item);
    return d.values[d.index];
}

void TAvCustomMixerControl::SetSignedValue(int channel, TAvItemIndex item, LONG value) {
    Details d = ReadDetails(channel, item);
    d.values[d.index] = value;
    WriteDetails(d);
}

bool TAvCustomMixerControl::GetBooleanValue(int channel, TAvItemIndex item) {
    const Details d = ReadDetails(channel, item);
    return d.values[d.index] != 0;
}

void TAvCustomMixerControl::SetBooleanValue(int channel, TAvItemIndex item, bool value) {
    Details d = ReadDetails(channel, item);
    const DWORD code = AvControlTypeCode(FControlType);
    const bool singleSelect = (code & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST &&
                              (code & MIXERCONTROL_CT_SUBCLASS_MASK) == 0;
    if (singleSelect && item != AvNoItem) {
        // Every item of this selector off, then the chosen one: one write.
        const int channels = GetChannels();
        const std::size_t stride =
            (channels <= 1 || channel == 0) ? 1 : static_cast<std::size_t>(std::max(channels, 1));
        const std::size_t offset = (channels <= 1 || channel == 0) ? 0 : (channel == 2);
        for (DWORD i = 0; i < d.items; ++i)
            if (const std::size_t k = stride * i + offset; k < d.values.size()) d.values[k] = 0;
    }
    d.values[d.index] = value ? 1 : 0;
    WriteDetails(d);
}

bool TAvCustomMixerControl::GetBoolean() {
    return GetBooleanValue(0, AvNoItem);
}
void TAvCustomMixerControl::SetBoolean(bool value) {
    SetBooleanValue(0, AvNoItem, value);
}
LONG TAvCustomMixerControl::GetSigned() {
    return GetSignedValue(0, AvNoItem);
}
void TAvCustomMixerControl::SetSigned(LONG value) {
    SetSignedValue(0, AvNoItem, value);
}
DWORD TAvCustomMixerControl::GetUnsigned() {
    return GetUnsignedValue(0, AvNoItem);
}
void TAvCustomMixerControl::SetUnsigned(DWORD value) {
    SetUnsignedValue(0, AvNoItem, value);
}

TAvItemInfo TAvCustomMixerControl::GetItemInfo(int index) {
    CheckUsable();
    if (!FControlInfo->Flags().testFlag(cfMultiple))
        throw EAvMixerControlError(QStringLiteral("Item info requested from non-multiple control"));
    const int items = GetItems();
    if (index < 0 || index >= items)
        throw EAvMixerControlError(QStringLiteral("Item index out of range"));
    const int channels = GetChannels();
    std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(
        static_cast<std::size_t>(items) * static_cast<std::size_t>(std::max(channels, 1)));
    MIXERCONTROLDETAILS details{};
    details.dwControlID = static_cast<DWORD>(FControlId);
    details.cChannels = static_cast<DWORD>(channels);
    details.cMultipleItems = static_cast<DWORD>(items);
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXTA);
    details.paDetails = texts.data();
    LiveLine()->Mixer()->GetControlDetails(details, MIXER_GETCONTROLDETAILSF_LISTTEXT);
    const auto& e = texts[static_cast<std::size_t>(index) * std::max(channels, 1)];
    TAvItemInfo info;
    info.Param1 = e.dwParam1;
    info.Param2 = e.dwParam2;
    info.Name = FieldText(e.szName, sizeof e.szName);
    return info;
}

TAvItemIndex TAvCustomMixerControl::FindItem(TAvAudioLine* line) {
    if (!line || line->LineId() == AvBadLineId || !line->IsCurrent() || !IsValid() ||
        !FControlInfo->Flags().testFlag(cfMultiple) ||
        (FControlType != ctMixer && FControlType != ctMux))
        return AvNoItem;
    if (line->LineId() < 0) return AvNoItem;
    const int items = GetItems();
    for (int i = 0; i < items; ++i)
        if (GetItemInfo(i).Param1 == static_cast<DWORD>(line->LineId())) return i;
    return AvNoItem;
}

void TAvCustomMixerControl::AddObserver(TAvObserver* observer) {
    if (FControlObservers) FControlObservers->AddObserver(observer);
}

void TAvCustomMixerControl::RemoveObserver(TAvObserver* observer) {
    if (FControlObservers) FControlObservers->RemoveObserver(observer);
}

void TAvCustomMixerControl::Loaded() {
    TAvNonVisualComponent::Loaded();
    UpdateControl();
}

void TAvCustomMixerControl::Notification(TComponent* AComponent, TOperation Operation) {
    TAvNonVisualComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !FAudioLineComponent || AComponent != FAudioLineComponent) return;
    if (IsDestroying()) {
        FLineObserver->Detach();
        RemoveFreeNotification(FAudioLineComponent);
        FAudioLine = nullptr;
        FAudioLineComponent = nullptr;
        return;
    }
    SetAudioLine(nullptr);
}

// ---- TAvMixerControl ----------------------------------------------------------------------------

void TAvMixerControl::SetControlTypeInt(int v) {
    if (v < 0 || v >= AvControlTypeCount)
        throw EAvMixerControlError(QStringLiteral("Control type out of range"));
    SetControlType(static_cast<TAvControlType>(v));
}

// ---- TAvVolumeControl ---------------------------------------------------------------------------

TAvVolumeControl::TAvVolumeControl(TComponent* AOwner) : TAvCustomMixerControl(AOwner) {
    InitControlType(ctVolume);
}

bool TAvVolumeControl::AcceptControl(const MIXERCONTROLA& control) const {
    return control.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME;
}

// The balance in integers, truncated toward zero: a factor kept as a double rounds the product
// down by one where it is whole (pan 1984, 1057 gives 992 instead of 993 on the left).
std::int64_t TAvVolumeControl::Left(std::int64_t value) const {
    return FPanValue <= 0 ? value : value * (32767 - FPanValue) / 32767;
}

std::int64_t TAvVolumeControl::Right(std::int64_t value) const {
    return FPanValue >= 0 ? value : value * (FPanValue + 32768) / 32768;
}

void TAvVolumeControl::SetUnsigned(DWORD value) {
    SetUnsignedValue(0, AvNoItem, value);
}

void TAvVolumeControl::SetSigned(LONG value) {
    SetSignedValue(0, AvNoItem, value);
}

namespace {
// Channel 0 stands for the whole control: the left and the right channel each get the value under
// the balance. Any other channel is written as it is. write(channel, value) does the writing.
template <class T, class Write>
void WriteBalanced(const TAvVolumeControl& control, int channel, T value, Write write) {
    if (channel != 0) {
        write(channel, value);
        return;
    }
    write(1, static_cast<T>(control.Left(value)));
    write(2, static_cast<T>(control.Right(value)));
}
} // namespace

void TAvVolumeControl::SetUnsignedValue(int channel, TAvItemIndex item, DWORD value) {
    WriteBalanced(*this, channel, value,
                  [&](int ch, DWORD v) { TAvCustomMixerControl::SetUnsignedValue(ch, item, v); });
}

void TAvVolumeControl::SetSignedValue(int channel, TAvItemIndex item, LONG value) {
    WriteBalanced(*this, channel, value,
                  [&](int ch, LONG v) { TAvCustomMixerControl::SetSignedValue(ch, item, v); });
}

void TAvVolumeControl::SetPanValue(std::int32_t value) {
    if (value == FPanValue) return;
    FPanValue = value;
    if (IsValid()) SetUnsigned(GetUnsigned());
}

// ---- TAvPanControl ------------------------------------------------------------------------------

TAvPanControl::TAvPanControl(TComponent* AOwner)
    : TAvCustomMixerControl(AOwner), FVolumeObserver(std::make_unique<TAvObserver>()) {
    InitControlType(ctPan);
    FVolumeObserver->OnNotify.Assign(this, &TAvPanControl::VolumeNotify);
}

TAvPanControl::~TAvPanControl() {
    FVolumeObserver.reset();
}

bool TAvPanControl::AcceptControl(const MIXERCONTROLA& control) const {
    return control.dwControlType == MIXERCONTROL_CONTROLTYPE_PAN;
}

bool TAvPanControl::IsValid() const {
    return FSimulating || TAvCustomMixerControl::IsValid();
}

void TAvPanControl::SetVolumeControl(TAvVolumeControl* volume) {
    if (volume == FVolumeControl) return;
    TAvVolumeControl* old = LiveVolume();
    FVolumeObserver->Detach();
    if (FVolumeComponent) RemoveFreeNotification(FVolumeComponent);
    if (old) old->SetPanValue(0);
    FVolumeControl = volume;
    FVolumeComponent = volume;
    if (FVolumeControl) {
        FVolumeControl->AddObserver(FVolumeObserver.get());
        FreeNotification(FVolumeComponent);
    }
    UpdateControl();
}

void TAvPanControl::SetSimulate(bool value) {
    if (value == FSimulate) return;
    FSimulate = value;
    UpdateControl();
}

void TAvPanControl::UpdateControl() {
    if (IsLoading()) {
        TAvCustomMixerControl::UpdateControl();
        return;
    }
    // A real pan control wins over the simulation, so the line is always asked first (quietly:
    // observers hear once, when the simulation has been decided too).
    FQuiet = true;
    try {
        TAvCustomMixerControl::UpdateControl();
    } catch (...) {
        FQuiet = false;
        throw;
    }
    FQuiet = false;
    UpdateSimulation();
    ControlIdChanged();
    // Read again on every resolution: the volume control may now stand for another line or
    // device, whose balance is not the one before.
    if (FSimulating) ReadSimulatedPan();
    if (LiveVolume()) LiveVolume()->SetPanValue(FSimulating ? FSimulatedPan : 0);
}

void TAvPanControl::ControlIdChanged() {
    if (!FQuiet) TAvCustomMixerControl::ControlIdChanged();
}

void TAvPanControl::UpdateSimulation() {
    FSimulating = !TAvCustomMixerControl::IsValid() && FSimulate && LiveVolume() &&
                  LiveVolume()->IsValid() &&
                  !LiveVolume()->ControlInfo()->Flags().testFlag(cfUniform) &&
                  LiveVolume()->GetChannels() > 1;
    if (FSimulating)
        ControlInfo()->Set(cfUniform, 0, QStringLiteral("Pan"), QStringLiteral("Simulated pan"),
                           -32768, 32767, 0);
}

void TAvPanControl::ReadSimulatedPan() {
    if (!FSimulating || !LiveVolume()) return;
    const long long left = LiveVolume()->GetUnsignedValue(1, AvNoItem);
    const long long right = LiveVolume()->GetUnsignedValue(2, AvNoItem);
    if (left != 0 && right != 0)
        FSimulatedPan = static_cast<std::int32_t>((right - left) * 32767 / std::max(left, right));
    else if (left != 0)
        FSimulatedPan = -32768;
    else if (right != 0)
        FSimulatedPan = 32767;
    LiveVolume()->StorePanValue(FSimulatedPan);
    Changed();
}

void TAvPanControl::StoreSimulatedPan(std::int32_t value) {
    FSimulatedPan = std::clamp(value, -32768, 32767);
    if (LiveVolume()) LiveVolume()->SetPanValue(FSimulatedPan);
}

void TAvPanControl::VolumeNotify(TObject*, TObject* data) {
    if (dynamic_cast<TAvControlIdChange*>(data))
        UpdateControl();
    else
        ReadSimulatedPan();
}

DWORD TAvPanControl::GetUnsigned() {
    if (FSimulating) return static_cast<DWORD>(FSimulatedPan);
    return TAvCustomMixerControl::GetUnsigned();
}
void TAvPanControl::SetUnsigned(DWORD value) {
    if (FSimulating)
        StoreSimulatedPan(static_cast<std::int32_t>(value));
    else
        TAvCustomMixerControl::SetUnsigned(value);
}
DWORD TAvPanControl::GetUnsignedValue(int channel, TAvItemIndex item) {
    if (FSimulating) return static_cast<DWORD>(FSimulatedPan);
    return TAvCustomMixerControl::GetUnsignedValue(channel, item);
}
void TAvPanControl::SetUnsignedValue(int channel, TAvItemIndex item, DWORD value) {
    if (FSimulating)
        StoreSimulatedPan(static_cast<std::int32_t>(value));
    else
        TAvCustomMixerControl::SetUnsignedValue(channel, item, value);
}
LONG TAvPanControl::GetSigned() {
    if (FSimulating) return FSimulatedPan;
    return TAvCustomMixerControl::GetSigned();
}
void TAvPanControl::SetSigned(LONG value) {
    if (FSimulating)
        StoreSimulatedPan(value);
    else
        TAvCustomMixerControl::SetSigned(value);
}
LONG TAvPanControl::GetSignedValue(int channel, TAvItemIndex item) {
    if (FSimulating) return FSimulatedPan;
    return TAvCustomMixerControl::GetSignedValue(channel, item);
}
void TAvPanControl::SetSignedValue(int channel, TAvItemIndex item, LONG value) {
    if (FSimulating)
        StoreSimulatedPan(value);
    else
        TAvCustomMixerControl::SetSignedValue(channel, item, value);
}

void TAvPanControl::Notification(TComponent* AComponent, TOperation Operation) {
    TAvCustomMixerControl::Notification(AComponent, Operation);
    if (Operation != opRemove || !FVolumeComponent || AComponent != FVolumeComponent) return;
    FVolumeObserver->Detach();
    RemoveFreeNotification(FVolumeComponent);
    FVolumeControl = nullptr;
    FVolumeComponent = nullptr;
    if (!IsDestroying()) UpdateControl();
}
