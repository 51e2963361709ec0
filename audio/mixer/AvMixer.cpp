#include "audio/mixer/AvMixer.h"

#include "framework/MessageWindow.h"

#include <cstring>

// ---- Ids, component types -----------------------------------------------------------------------

QString LineIdToString(TAvLineId id) {
    return id == AvBadLineId ? QStringLiteral("badLineId") : QString::number(id);
}

bool StringToLineId(const QString& text, TAvLineId* id) {
    const QString t = text.trimmed();
    TAvLineId v = AvBadLineId;
    if (t.compare(QLatin1String("badLineId"), Qt::CaseInsensitive) != 0) {
        bool ok = false;
        v = t.toInt(&ok);
        if (!ok) return false;
    }
    if (id) *id = v;
    return true;
}

namespace {
// By declaration order of TAvComponentType.
constexpr DWORD kComponentTypeCodes[AvComponentTypeCount] = {
    MIXERLINE_COMPONENTTYPE_DST_DIGITAL,     MIXERLINE_COMPONENTTYPE_DST_HEADPHONES,
    MIXERLINE_COMPONENTTYPE_DST_LINE,        MIXERLINE_COMPONENTTYPE_DST_MONITOR,
    MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,    MIXERLINE_COMPONENTTYPE_DST_TELEPHONE,
    MIXERLINE_COMPONENTTYPE_DST_UNDEFINED,   MIXERLINE_COMPONENTTYPE_DST_VOICEIN,
    MIXERLINE_COMPONENTTYPE_DST_WAVEIN,      MIXERLINE_COMPONENTTYPE_SRC_ANALOG,
    MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY,   MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC,
    MIXERLINE_COMPONENTTYPE_SRC_DIGITAL,     MIXERLINE_COMPONENTTYPE_SRC_LINE,
    MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,  MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER,
    MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE,
    MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED,   MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
};

HMIXEROBJ MixerIdObject(TAvDeviceId id) {
    return reinterpret_cast<HMIXEROBJ>(static_cast<std::uintptr_t>(static_cast<UINT>(id)));
}

QString FixedText(const CHAR* text, std::size_t size) {
    return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, size)));
}
} // namespace

DWORD AvComponentTypeCode(TAvComponentType type) {
    return kComponentTypeCodes[type];
}

TAvComponentType AvComponentTypeOf(DWORD code) {
    for (int i = 0; i < AvComponentTypeCount; ++i)
        if (kComponentTypeCodes[i] == code) return static_cast<TAvComponentType>(i);
    throw EAvMixerServiceError(QStringLiteral("Undefined API component type"));
}

DWORD AvTargetType(TAvDeviceKind kind) {
    switch (kind) {
    case dkMidiIn:
        return MIXERLINE_TARGETTYPE_MIDIIN;
    case dkMidiOut:
        return MIXERLINE_TARGETTYPE_MIDIOUT;
    case dkWaveIn:
        return MIXERLINE_TARGETTYPE_WAVEIN;
    case dkWaveOut:
        return MIXERLINE_TARGETTYPE_WAVEOUT;
    case dkAux:
        return MIXERLINE_TARGETTYPE_AUX;
    case dkMixer:
        return MIXERLINE_TARGETTYPE_UNDEFINED;
    }
    return MIXERLINE_TARGETTYPE_UNDEFINED;
}

// ---- TAvLineInfo --------------------------------------------------------------------------------

void TAvLineInfo::Assign(const TPersistent* source) {
    if (auto* s = dynamic_cast<const TAvLineInfo*>(source)) {
        FFlags = s->FFlags;
        FChannels = s->FChannels;
        FConnections = s->FConnections;
        FControls = s->FControls;
        FShortName = s->FShortName;
        FName = s->FName;
        return;
    }
    TPersistent::Assign(source);
}

void TAvLineInfo::Clear() {
    FFlags = {};
    FChannels = FConnections = FControls = 0;
    FShortName.clear();
    FName.clear();
}

void TAvLineInfo::SetFrom(const MIXERLINEA& line) {
    FFlags = {};
    if (line.fdwLine & MIXERLINE_LINEF_ACTIVE) FFlags |= cfActive;
    if (line.fdwLine & MIXERLINE_LINEF_DISCONNECTED) FFlags |= cfDisconnected;
    if (line.fdwLine & MIXERLINE_LINEF_SOURCE) FFlags |= cfSource;
    FChannels = static_cast<int>(line.cChannels);
    FConnections = static_cast<int>(line.cConnections);
    FControls = static_cast<int>(line.cControls);
    FShortName = FixedText(line.szShortName, MIXER_SHORT_NAME_CHARS);
    FName = FixedText(line.szName, MIXER_LONG_NAME_CHARS);
}

// ---- The callback window ------------------------------------------------------------------------

// Hands the platform's mixer messages to its mixer. Closing the mixer from inside one of its own
// messages (a handler that switches the device) must not delete the window under the running
// delivery: the window is then only cut loose and deleted once the delivery is over.
class TAvMixerWindow : public TMessageWindow {
public:
    explicit TAvMixerWindow(TAvMixerDevice* mixer) : FMixer(mixer) {}
    ~TAvMixerWindow() override { Detach(); }

    void Release() {
        FMixer = nullptr;
        if (FDepth > 0)
            FReleased = true;
        else
            delete this;
    }

protected:
    void WndProc(TMessage& message) override {
        if (!FMixer) return;
        ++FDepth;
        try {
            FMixer->MixerWndProc(message);
        } catch (...) {
            Leave();
            throw;
        }
        Leave();
    }

private:
    void Leave() {
        if (--FDepth == 0 && FReleased) {
            FReleased = false;
            deleteLater();
        }
    }

    TAvMixerDevice* FMixer;
    int FDepth = 0;
    bool FReleased = false;
};

// ---- TAvMixerDevice -----------------------------------------------------------------------------

TAvMixerDevice::TAvMixerDevice(TComponent* AOwner)
    : TAvCustomAudioDevice(AOwner), FDeviceObserver(std::make_unique<TAvObserver>()),
      FLineObservers(std::make_unique<TAvObservable>()) {
    FDeviceObserver->OnNotify.Assign(this, [this](TObject*, TObject*) { UpdateDevice(); });
    SetDeviceKind(dkMixer);
}

TAvMixerDevice::~TAvMixerDevice() {
    CloseQuietly();
    // Let go of the followed device without switching: nobody is to be told any more.
    FDevice = nullptr;
    AvRebindReference(this, FDeviceComponent, nullptr, *FDeviceObserver, {});
    FDeviceObserver.reset();
    FLineObservers.reset();
}

void TAvMixerDevice::SetDevice(TAvCustomAudioDevice* device) {
    if (device && device->DeviceKind() == dkMixer)
        throw EAvMixerDeviceError(QStringLiteral("Mixer can't reference mixer"));
    if (device == FDevice) return;
    const bool wasActive = Active();
    Close();
    FDevice = device;
    AvRebindReference(this, FDeviceComponent, device, *FDeviceObserver,
                      [&] { device->AddObserver(FDeviceObserver.get()); });
    UpdateDevice();
    SetActive(wasActive);
}

int TAvMixerDevice::Destinations() const {
    if (!IsValid()) return 0;
    MIXERCAPSA caps{};
    AvCheck(
        mixerGetDevCapsA(static_cast<UINT_PTR>(static_cast<UINT>(DeviceId())), &caps, sizeof caps));
    return static_cast<int>(caps.cDestinations);
}

void TAvMixerDevice::AddLineObserver(TAvObserver* observer) {
    if (FLineObservers) FLineObservers->AddObserver(observer);
}

void TAvMixerDevice::RemoveLineObserver(TAvObserver* observer) {
    if (FLineObservers) FLineObservers->RemoveObserver(observer);
}

TAvDeviceId TAvMixerDevice::MixerId() {
    if (!IsOpen() || !FHandle) return DeviceId();
    UINT id = 0;
    AvCheck(mixerGetID(reinterpret_cast<HMIXEROBJ>(FHandle), &id, MIXER_OBJECTF_HMIXER));
    const auto mixerId = static_cast<TAvDeviceId>(id);
    if (mixerId != DeviceId()) {
        StoreDeviceId(mixerId);
        Changed();
    }
    return mixerId;
}

HMIXEROBJ TAvMixerDevice::MixerObject() {
    return MixerIdObject(MixerId());
}

namespace {
bool QueryLine(HMIXEROBJ mixer, MIXERLINEA& line, DWORD query) {
    line.cbStruct = sizeof line;
    const MMRESULT r = AvCheck(mixerGetLineInfoA(mixer, &line, MIXER_OBJECTF_MIXER | query),
                               {MIXERR_INVALLINE, MMSYSERR_NODRIVER, MMSYSERR_INVALPARAM});
    return r == MMSYSERR_NOERROR;
}

bool QueryControl(HMIXEROBJ mixer, MIXERLINECONTROLSA& controls, MIXERCONTROLA& control,
                  DWORD query) {
    std::memset(&control, 0, sizeof control);
    control.cbStruct = sizeof control;
    controls.cbStruct = sizeof controls;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof control;
    controls.pamxctrl = &control;
    const MMRESULT r = AvCheck(mixerGetLineControlsA(mixer, &controls, MIXER_OBJECTF_MIXER | query),
                               {MIXERR_INVALCONTROL, MIXERR_INVALLINE, MMSYSERR_NODRIVER});
    return r == MMSYSERR_NOERROR;
}
} // namespace

bool TAvMixerDevice::GetLineInfoById(TAvLineId lineId, MIXERLINEA& line) {
    std::memset(&line, 0, sizeof line);
    line.dwLineID = static_cast<DWORD>(lineId);
    return QueryLine(MixerObject(), line, MIXER_GETLINEINFOF_LINEID);
}

bool TAvMixerDevice::GetLineInfoByType(TAvComponentType type, MIXERLINEA& line) {
    std::memset(&line, 0, sizeof line);
    line.dwComponentType = AvComponentTypeCode(type);
    return QueryLine(MixerObject(), line, MIXER_GETLINEINFOF_COMPONENTTYPE);
}

bool TAvMixerDevice::GetLineInfoBySource(int destinationIndex, int sourceIndex, MIXERLINEA& line) {
    std::memset(&line, 0, sizeof line);
    line.dwDestination = static_cast<DWORD>(destinationIndex);
    line.dwSource = static_cast<DWORD>(sourceIndex);
    return QueryLine(MixerObject(), line, MIXER_GETLINEINFOF_SOURCE);
}

bool TAvMixerDevice::GetLineInfoByTarget(const TAvCustomAudioDevice* device, MIXERLINEA& line) {
    std::memset(&line, 0, sizeof line);
    if (!device) return false;
    const TAvDeviceCaps* caps = device->DeviceCaps();
    line.Target.dwType = AvTargetType(device->DeviceKind());
    line.Target.wMid = caps->ManufacturerId();
    line.Target.wPid = caps->ProductId();
    line.Target.vDriverVersion = static_cast<MMVERSION>(caps->VerMajor()) << 8 | caps->VerMinor();
    const QByteArray name = caps->ProductName().toUtf8();
    std::memcpy(line.Target.szPname, name.constData(),
                std::min<std::size_t>(static_cast<std::size_t>(name.size()), MAXPNAMELEN));
    return QueryLine(MixerObject(), line, MIXER_GETLINEINFOF_TARGETTYPE);
}

bool TAvMixerDevice::GetControlById(TAvControlId controlId, MIXERCONTROLA& control,
                                    TAvLineId* lineId) {
    MIXERLINECONTROLSA controls{};
    controls.dwControlID = static_cast<DWORD>(controlId);
    const bool found =
        QueryControl(MixerObject(), controls, control, MIXER_GETLINECONTROLSF_ONEBYID);
    if (lineId) *lineId = found ? static_cast<TAvLineId>(controls.dwLineID) : AvBadLineId;
    return found;
}

bool TAvMixerDevice::GetControlByType(TAvLineId lineId, DWORD controlType, MIXERCONTROLA& control) {
    MIXERLINECONTROLSA controls{};
    controls.dwLineID = static_cast<DWORD>(lineId);
    controls.dwControlType = controlType;
    return QueryControl(MixerObject(), controls, control, MIXER_GETLINECONTROLSF_ONEBYTYPE);
}

void TAvMixerDevice::GetControlDetails(MIXERCONTROLDETAILS& details, DWORD query) {
    details.cbStruct = sizeof details;
    AvCheck(mixerGetControlDetailsA(MixerObject(), &details, MIXER_OBJECTF_MIXER | query));
}

void TAvMixerDevice::SetControlDetails(MIXERCONTROLDETAILS& details) {
    details.cbStruct = sizeof details;
    AvCheck(mixerSetControlDetails(MixerObject(), &details,
                                   MIXER_OBJECTF_MIXER | MIXER_SETCONTROLDETAILSF_VALUE));
}

bool TAvMixerDevice::IsDeviceIdStored() {
    TAvCustomAudioDevice* device = LiveDevice();
    if (!device) return DeviceId() != 0;
    return device->GetMixerId() != MixerId();
}

HWND TAvMixerDevice::CallbackWindow() const {
    return FWindow ? FWindow->Handle() : nullptr;
}

void TAvMixerDevice::Open() {
    if (!IsValid()) throw EAvMixerDeviceError(QStringLiteral("Device not valid"));
    FWindow = new TAvMixerWindow(this);
    HMIXER handle = nullptr;
    const MMRESULT r =
        mixerOpen(&handle, static_cast<UINT>(DeviceId()),
                  reinterpret_cast<DWORD_PTR>(FWindow->Handle()), 0, CALLBACK_WINDOW);
    if (r != MMSYSERR_NOERROR) {
        // Not reported: the mixer just stays closed.
        ReleaseWindow();
        return;
    }
    FHandle = handle;
    FSeenDeviceCount = DeviceCount();
    TAvCustomAudioDevice::Open();
}

void TAvMixerDevice::Close() {
    // Everything is let go before a failure is reported, so the mixer ends closed either way.
    HMIXER handle = FHandle;
    FHandle = nullptr;
    ReleaseWindow();
    TAvCustomAudioDevice::Close();
    if (handle) AvCheck(mixerClose(handle));
}

void TAvMixerDevice::ReleaseWindow() {
    if (!FWindow) return;
    TAvMixerWindow* w = FWindow;
    FWindow = nullptr;
    w->Release();
}

void TAvMixerDevice::UpdateDevice() {
    if (TAvCustomAudioDevice* device = LiveDevice()) SetDeviceId(device->GetMixerId());
    TAvCustomAudioDevice::UpdateDevice();
}

void TAvMixerDevice::Changed() {
    ++FGeneration;
    TAvDeviceChange change;
    if (FLineObservers) FLineObservers->NotifyObservers(&change);
    TAvCustomAudioDevice::Changed();
}

void TAvMixerDevice::MixerWndProc(TMessage& message) {
    const bool ours = FHandle && message.WParam == reinterpret_cast<WPARAM>(FHandle);
    if (!ours || (message.Msg != MM_MIXM_LINE_CHANGE && message.Msg != MM_MIXM_CONTROL_CHANGE))
        return; // nothing else is meant for this window
    // A change queued just before the card went is stale: the check falls back instead.
    if (!CheckDeviceSet()) return;
    try {
        if (message.Msg == MM_MIXM_LINE_CHANGE)
            LineChange(static_cast<TAvLineId>(message.LParam));
        else
            ControlChange(static_cast<TAvControlId>(message.LParam));
    } catch (const EAvMCIError& e) {
        // The card went while the observers were reading it: the same fallback, no message.
        if (e.ErrorCode() != MMSYSERR_NODRIVER && e.ErrorCode() != MMSYSERR_INVALHANDLE) throw;
        if (FHandle) MixerVanished();
    }
}

bool TAvMixerDevice::CheckDeviceSet() {
    UINT id = 0;
    const MMRESULT r =
        AvCheck(mixerGetID(reinterpret_cast<HMIXEROBJ>(FHandle), &id, MIXER_OBJECTF_HMIXER),
                {MMSYSERR_NODRIVER, MMSYSERR_INVALHANDLE});
    if (r != MMSYSERR_NOERROR) {
        MixerVanished();
        return false;
    }
    const int count = DeviceCount();
    if (static_cast<TAvDeviceId>(id) != DeviceId()) {
        FSeenDeviceCount = count;
        MixerId(); // follows the id and tells the observers
    } else if (count != FSeenDeviceCount) {
        FSeenDeviceCount = count;
        Changed(); // another card came or went: device lists must be rebuilt
    }
    return true;
}

void TAvMixerDevice::DevicesChanged() {
    if (IsLoading() || IsDestroying()) return;
    if (FHandle)
        CheckDeviceSet();
    else
        TAvCustomAudioDevice::DevicesChanged();
}

void TAvMixerDevice::MixerVanished() {
    // The card of this mixer was removed: fall back to the first mixer left (or none) so the
    // page keeps working, and reopen on it.
    CloseQuietly();
    const int count = DeviceCount();
    StoreDeviceId(count > 0 ? 0 : AvInvalidId);
    FSeenDeviceCount = count;
    UpdateDevice();
    if (count > 0)
        SetActive(true);
    else
        DeviceLost(true); // the first mixer to come back takes its place, open
}

void TAvMixerDevice::LineChange(TAvLineId lineId) {
    TAvLineChange change(lineId);
    if (FLineObservers) FLineObservers->NotifyObservers(&change);
    DoLineChange(lineId);
}

void TAvMixerDevice::ControlChange(TAvControlId controlId) {
    // Which line owns the control; here any failure raises, not-found included.
    MIXERCONTROLA control{};
    control.cbStruct = sizeof control;
    MIXERLINECONTROLSA controls{};
    controls.cbStruct = sizeof controls;
    controls.dwControlID = static_cast<DWORD>(controlId);
    controls.cControls = 1;
    controls.cbmxctrl = sizeof control;
    controls.pamxctrl = &control;
    AvCheck(mixerGetLineControlsA(MixerObject(), &controls,
                                  MIXER_OBJECTF_MIXER | MIXER_GETLINECONTROLSF_ONEBYID));
    const auto lineId = static_cast<TAvLineId>(controls.dwLineID);
    TAvControlChange change(lineId, controlId);
    if (FLineObservers) FLineObservers->NotifyObservers(&change);
    DoControlChange(lineId, controlId);
}

void TAvMixerDevice::DoLineChange(TAvLineId lineId) {
    if (OnLineChange) OnLineChange(this, lineId);
}

void TAvMixerDevice::DoControlChange(TAvLineId lineId, TAvControlId controlId) {
    if (OnControlChange) OnControlChange(this, lineId, controlId);
}

void TAvMixerDevice::Notification(TComponent* AComponent, TOperation Operation) {
    TAvCustomAudioDevice::Notification(AComponent, Operation);
    if (Operation != opRemove || !FDeviceComponent || AComponent != FDeviceComponent) return;
    if (IsDestroying()) {
        FDevice = nullptr;
        AvRebindReference(this, FDeviceComponent, nullptr, *FDeviceObserver, {});
        return;
    }
    SetDevice(nullptr);
}

// ---- TAvAudioLine -------------------------------------------------------------------------------

TAvAudioLine::TAvAudioLine(TComponent* AOwner)
    : TAvNonVisualComponent(AOwner), FLineInfo(std::make_unique<TAvLineInfo>()),
      FMixerObserver(std::make_unique<TAvObserver>()),
      FTargetObserver(std::make_unique<TAvObserver>()),
      FDestLineObserver(std::make_unique<TAvObserver>()),
      FLineObservers(std::make_unique<TAvObservable>()) {
    FMixerObserver->OnNotify.Assign(this, [this](TObject*, TObject* data) { MixerNotify(data); });
    FTargetObserver->OnNotify.Assign(this, [this](TObject*, TObject*) { UpdateLine(); });
    FDestLineObserver->OnNotify.Assign(this, [this](TObject*, TObject* data) {
        if (dynamic_cast<TAvLineIdChange*>(data)) UpdateLine();
    });
}

TAvAudioLine::~TAvAudioLine() {
    FMixerObserver.reset();
    FTargetObserver.reset();
    FDestLineObserver.reset();
    FLineObservers.reset();
    FLineInfo.reset();
}

void TAvAudioLine::SetMixer(TAvMixerDevice* mixer) {
    if (mixer == FMixer) return;
    FMixer = mixer;
    AvRebindReference(this, FMixerComponent, mixer, *FMixerObserver,
                      [&] { mixer->AddLineObserver(FMixerObserver.get()); });
    UpdateLine();
}

void TAvAudioLine::SetLineId(TAvLineId lineId) {
    if (lineId == FLineId) return;
    FLineId = lineId;
    FBinding = lbById;
    UpdateLine();
}

void TAvAudioLine::SetComponentType(TAvComponentType type) {
    if (type == FComponentType) return;
    FComponentType = type;
    FBinding = lbByComponentType;
    UpdateLine();
}

void TAvAudioLine::SetComponentTypeInt(int v) {
    if (v < 0 || v >= AvComponentTypeCount)
        throw EAvMixerServiceError(QStringLiteral("Undefined API component type"));
    SetComponentType(static_cast<TAvComponentType>(v));
}

void TAvAudioLine::SetTarget(TAvCustomAudioDevice* target) {
    if (target && target->DeviceKind() == dkMixer)
        throw EAvMixerDeviceError(QStringLiteral("Can't target to mixer"));
    if (target == FTarget) return;
    FTarget = target;
    AvRebindReference(this, FTargetComponent, target, *FTargetObserver,
                      [&] { target->AddObserver(FTargetObserver.get()); });
    FBinding = lbByTarget;
    UpdateLine();
}

void TAvAudioLine::SetDestLine(TAvComponent* line) {
    auto* dest = dynamic_cast<TAvAudioLine*>(line);
    if (line && !dest) throw EAvMixerDeviceError(QStringLiteral("DestLine should be TAvAudioLine"));
    if (line == FDestLine) return;
    FDestLine = line;
    AvRebindReference(this, FDestLineComponent, dest, *FDestLineObserver,
                      [&] { dest->AddObserver(FDestLineObserver.get()); });
    UpdateLine();
}

TAvLineId TAvAudioLine::Connection(int index) {
    if (index < 0 || index >= Connections())
        throw EAvAudioLineError(QStringLiteral("Connection index out of range"));
    MIXERLINEA line;
    if (IsCurrent() && LiveMixer()->GetLineInfoBySource(FDestinationIndex, index, line))
        return static_cast<TAvLineId>(line.dwLineID);
    return AvBadLineId;
}

bool TAvAudioLine::IsCurrent() const {
    TAvMixerDevice* mixer = LiveMixer();
    return mixer && mixer->IsValid() && FGeneration == mixer->Generation();
}

bool TAvAudioLine::IsValid() const {
    TAvMixerDevice* mixer = LiveMixer();
    return mixer && mixer->IsValid();
}

bool TAvAudioLine::LookUp(TAvMixerDevice* mixer, MIXERLINEA& line) const {
    switch (FBinding) {
    case lbById:
        if (FLineId == AvBadLineId) return false;
        return mixer->GetLineInfoById(FLineId, line);
    case lbByComponentType:
        return mixer->GetLineInfoByType(FComponentType, line);
    case lbByTarget:
        return LiveTarget() && mixer->GetLineInfoByTarget(LiveTarget(), line);
    }
    return false;
}

bool TAvAudioLine::FindSource(const TAvAudioLine* source, MIXERLINEA* found) {
    if (!source || IsLoading() || !IsValid() || FLineId == AvBadLineId ||
        FLineInfo->Flags().testFlag(cfSource))
        return false;
    MIXERLINEA line;
    if (!source->LookUp(FMixer, line)) return false;
    // The line found anywhere on the mixer is taken at once when it is a source of this very
    // destination (compared by destination index, which every platform gives).
    if ((line.fdwLine & MIXERLINE_LINEF_SOURCE) && FDestinationIndex >= 0 &&
        line.dwDestination == static_cast<DWORD>(FDestinationIndex)) {
        if (found) *found = line;
        return true;
    }
    if (source->FBinding == lbById) return false;
    const int n = Connections();
    for (int i = 0; i < n; ++i) {
        if (!FMixer->GetLineInfoBySource(FDestinationIndex, i, line)) continue;
        bool accept = false;
        if (source->FBinding == lbByComponentType) {
            accept = line.dwComponentType == AvComponentTypeCode(source->FComponentType);
        } else if (const TAvCustomAudioDevice* target = source->LiveTarget()) {
            const TAvDeviceCaps* caps = target->DeviceCaps();
            const MMVERSION version =
                static_cast<MMVERSION>(caps->VerMajor()) << 8 | caps->VerMinor();
            accept = line.Target.dwType == AvTargetType(target->DeviceKind()) &&
                     line.Target.wMid == caps->ManufacturerId() &&
                     line.Target.wPid == caps->ProductId() &&
                     line.Target.vDriverVersion == version &&
                     FixedText(line.Target.szPname, MAXPNAMELEN) == caps->ProductName();
        }
        if (accept) {
            if (found) *found = line;
            return true;
        }
    }
    return false;
}

void TAvAudioLine::UpdateLine() {
    // A chain of destination lines that loops back here must not recurse without end.
    if (IsLoading() || IsDestroying() || FUpdating) return;
    FUpdating = true;
    try {
        FDestinationIndex = -1;
        if (IsValid()) {
            MIXERLINEA line;
            bool found = false;
            if (FDestLine) {
                TAvAudioLine* dest = LiveDestLine();
                found = dest && dest->Mixer() == FMixer && dest->FindSource(this, &line);
            } else {
                found = LookUp(FMixer, line);
            }
            if (found) {
                FLineId = static_cast<TAvLineId>(line.dwLineID);
                FComponentType = AvComponentTypeOf(line.dwComponentType);
                FLineInfo->SetFrom(line);
                FDestinationIndex = (line.fdwLine & MIXERLINE_LINEF_SOURCE)
                                        ? -1
                                        : static_cast<int>(line.dwDestination);
            } else {
                FLineId = AvBadLineId;
                FLineInfo->Clear();
            }
            // After the lookup: a mixer id that moved during it has told the lines already.
            FGeneration = FMixer->Generation();
        }
    } catch (...) {
        FUpdating = false;
        throw;
    }
    FUpdating = false;
    LineIdChanged();
}

void TAvAudioLine::MixerNotify(TObject* data) {
    if (auto* c = dynamic_cast<TAvLineChange*>(data)) {
        if (FLineId == AvBadLineId || c->LineId != FLineId) return;
        // The platform reports state changes (active, disconnected) this way: keep the
        // description current before telling the controls.
        MIXERLINEA line;
        if (IsValid() && FMixer->GetLineInfoById(FLineId, line)) FLineInfo->SetFrom(line);
        Changed();
    } else if (auto* cc = dynamic_cast<TAvControlChange*>(data)) {
        if (FLineId != AvBadLineId && cc->LineId == FLineId) ControlChanged(cc->ControlId);
    } else if (dynamic_cast<TAvDeviceChange*>(data)) {
        UpdateLine();
    }
}

void TAvAudioLine::AddObserver(TAvObserver* observer) {
    if (FLineObservers) FLineObservers->AddObserver(observer);
}

void TAvAudioLine::RemoveObserver(TAvObserver* observer) {
    if (FLineObservers) FLineObservers->RemoveObserver(observer);
}

void TAvAudioLine::Changed() {
    TAvLineChange change(FLineId);
    FLineObservers->NotifyObservers(&change);
    DoChange();
}

void TAvAudioLine::LineIdChanged() {
    TAvLineIdChange change;
    FLineObservers->NotifyObservers(&change);
}

void TAvAudioLine::ControlChanged(TAvControlId ctlId) {
    TAvControlChange change(FLineId, ctlId);
    FLineObservers->NotifyObservers(&change);
    DoControlChange(ctlId);
}

void TAvAudioLine::DoChange() {
    if (OnChange) OnChange(this);
}

void TAvAudioLine::DoControlChange(TAvControlId ctlId) {
    if (OnControlChange) OnControlChange(this, FLineId, ctlId);
}

void TAvAudioLine::Loaded() {
    TAvNonVisualComponent::Loaded();
    // A platform failure must not stop the form from being built.
    GuardedCall(this, [this] { UpdateLine(); });
}

void TAvAudioLine::Notification(TComponent* AComponent, TOperation Operation) {
    TAvNonVisualComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (AComponent == FMixerComponent) SetMixer(nullptr);
    if (AComponent == FTargetComponent) SetTarget(nullptr);
    if (AComponent == FDestLineComponent) SetDestLine(nullptr);
}
