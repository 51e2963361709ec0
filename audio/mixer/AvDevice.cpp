#include "audio/mixer/AvDevice.h"

#include <QComboBox>
#include <QEvent>
#include <QPointer>
#include <QScopeGuard>
#include <algorithm>
#include <cstring>

// ---- Errors -------------------------------------------------------------------------------------

QString AvMCIErrorText(MMRESULT code) {
    char text[MAXERRORLENGTH] = {};
    if (mciGetErrorStringA(code, text, sizeof text) && text[0] != 0)
        return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, sizeof text)));
    return QStringLiteral("MMSystem error: %1").arg(code);
}

void AvCheck(MMRESULT result) {
    if (result != MMSYSERR_NOERROR) throw EAvMCIError(AvMCIErrorText(result), result);
}

MMRESULT AvCheck(MMRESULT result, std::initializer_list<MMRESULT> notFound) {
    if (result == MMSYSERR_NOERROR) return result;
    if (std::find(notFound.begin(), notFound.end(), result) != notFound.end()) return result;
    throw EAvMCIError(AvMCIErrorText(result), result);
}

QString DeviceIdToString(TAvDeviceId id) {
    if (id == AvMapperId) return QStringLiteral("MapperId");
    if (id == AvInvalidId) return QStringLiteral("InvalidId");
    return QString::number(id);
}

bool StringToDeviceId(const QString& text, TAvDeviceId* id) {
    const QString t = text.trimmed();
    TAvDeviceId v = 0;
    if (t.compare(QLatin1String("MapperId"), Qt::CaseInsensitive) == 0) {
        v = AvMapperId;
    } else if (t.compare(QLatin1String("InvalidId"), Qt::CaseInsensitive) == 0) {
        v = AvInvalidId;
    } else {
        bool ok = false;
        v = t.toInt(&ok);
        if (!ok) return false;
    }
    if (id) *id = v;
    return true;
}

// ---- Observer protocol --------------------------------------------------------------------------

TAvObserver::~TAvObserver() {
    Detach();
}

void TAvObserver::Update(TObject* data) {
    if (FLockCount == 0 && OnNotify) OnNotify(this, data);
}

void TAvObserver::Detach() {
    if (FObservable) FObservable->RemoveObserver(this);
}

TAvObservable::~TAvObservable() {
    while (!FObservers.empty()) {
        TAvObserver* o = FObservers.back();
        FObservers.pop_back();
        o->FObservable = nullptr;
    }
}

void TAvObservable::AddObserver(TAvObserver* observer) {
    if (!observer) return;
    if (observer->FObservable) observer->FObservable->RemoveObserver(observer);
    FObservers.push_back(observer);
    observer->FObservable = this;
}

void TAvObservable::RemoveObserver(TAvObserver* observer) {
    if (!observer || observer->FObservable != this) return;
    auto it = std::find(FObservers.begin(), FObservers.end(), observer);
    if (it != FObservers.end()) FObservers.erase(it);
    observer->FObservable = nullptr;
}

void TAvObservable::NotifyObservers(TObject* data) {
    // Newest first, over the list as it was when the walk began. A handler may add or remove
    // observers: one that has left (or gone) meanwhile is not called.
    const std::vector<TAvObserver*> walk = FObservers;
    for (auto it = walk.rbegin(); it != walk.rend(); ++it) {
        if (std::find(FObservers.begin(), FObservers.end(), *it) == FObservers.end()) continue;
        (*it)->Update(data);
    }
}

void AvRebindReference(TComponent* holder, TComponent*& heldComponent, TComponent* newComponent,
                       TAvObserver& observer, const std::function<void()>& attach) {
    observer.Detach();
    // Through the component part only: the old component may be on its way out.
    if (heldComponent) holder->RemoveFreeNotification(heldComponent);
    heldComponent = newComponent;
    if (!newComponent) return;
    attach();
    holder->FreeNotification(newComponent);
}

// ---- Device kinds and capabilities --------------------------------------------------------------

namespace {
UINT_PTR PlatformId(TAvDeviceId id) {
    // -1 becomes the platform's mapper id (0xFFFFFFFF).
    return static_cast<UINT_PTR>(static_cast<UINT>(id));
}
} // namespace

UINT AvDeviceCount(TAvDeviceKind kind) {
    switch (kind) {
    case dkMidiIn:
        return midiInGetNumDevs();
    case dkMidiOut:
        return midiOutGetNumDevs();
    case dkWaveIn:
        return waveInGetNumDevs();
    case dkWaveOut:
        return waveOutGetNumDevs();
    case dkAux:
        return auxGetNumDevs();
    case dkMixer:
        return mixerGetNumDevs();
    }
    return 0;
}

MMRESULT AvGetDeviceCaps(TAvDeviceKind kind, TAvDeviceId id, TAvCapsHead* caps) {
    std::memset(caps, 0, sizeof *caps);
    const UINT_PTR dev = PlatformId(id);
    // Every capability record starts with this head; the platform fills as much as fits.
    void* p = caps;
    const UINT cb = sizeof *caps;
    switch (kind) {
    case dkMidiIn:
        return midiInGetDevCapsA(dev, static_cast<MIDIINCAPSA*>(p), cb);
    case dkMidiOut:
        return midiOutGetDevCapsA(dev, static_cast<MIDIOUTCAPSA*>(p), cb);
    case dkWaveIn:
        return waveInGetDevCapsA(dev, static_cast<LPWAVEINCAPSA>(p), cb);
    case dkWaveOut:
        return waveOutGetDevCapsA(dev, static_cast<LPWAVEOUTCAPSA>(p), cb);
    case dkAux:
        return auxGetDevCapsA(dev, static_cast<AUXCAPSA*>(p), cb);
    case dkMixer:
        return mixerGetDevCapsA(dev, static_cast<LPMIXERCAPSA>(p), cb);
    }
    return MMSYSERR_BADDEVICEID;
}

DWORD AvMixerObjectFlag(TAvDeviceKind kind) {
    switch (kind) {
    case dkMidiIn:
        return MIXER_OBJECTF_MIDIIN;
    case dkMidiOut:
        return MIXER_OBJECTF_MIDIOUT;
    case dkWaveIn:
        return MIXER_OBJECTF_WAVEIN;
    case dkWaveOut:
        return MIXER_OBJECTF_WAVEOUT;
    case dkAux:
        return MIXER_OBJECTF_AUX;
    case dkMixer:
        return MIXER_OBJECTF_MIXER;
    }
    return MIXER_OBJECTF_MIXER;
}

void TAvDeviceCaps::Assign(const TPersistent* source) {
    if (auto* s = dynamic_cast<const TAvDeviceCaps*>(source)) {
        FManufacturerId = s->FManufacturerId;
        FProductId = s->FProductId;
        FVerMajor = s->FVerMajor;
        FVerMinor = s->FVerMinor;
        FProductName = s->FProductName;
        return;
    }
    TPersistent::Assign(source);
}

void TAvDeviceCaps::Clear() {
    FManufacturerId = FProductId = 0;
    FVerMajor = FVerMinor = 0;
    FProductName.clear();
}

void TAvDeviceCaps::SetFrom(const TAvCapsHead& head) {
    FManufacturerId = head.wMid;
    FProductId = head.wPid;
    FVerMajor = static_cast<BYTE>((head.vDriverVersion >> 8) & 0xFF);
    FVerMinor = static_cast<BYTE>(head.vDriverVersion & 0xFF);
    FProductName =
        QString::fromUtf8(head.szPname, static_cast<qsizetype>(strnlen(head.szPname, MAXPNAMELEN)));
}

// ---- TAvCustomAudioDevice -----------------------------------------------------------------------

TAvCustomAudioDevice::TAvCustomAudioDevice(TComponent* AOwner)
    : TAvNonVisualComponent(AOwner), FObservers(std::make_unique<TAvObservable>()),
      FDeviceCaps(std::make_unique<TAvDeviceCaps>()) {
    try {
        ReadCaps();
    } catch (const Exception&) {
        FDeviceId = AvInvalidId;
        ReadCaps(); // clears the record
    }
    if (!IsDesigning()) {
        FDeviceWindow =
            std::make_unique<TMessageWindow>([this](TMessage& m) { DeviceWindowProc(m); });
        ListenForBroadcasts(FDeviceWindow->Handle(), true);
    }
}

TAvCustomAudioDevice::~TAvCustomAudioDevice() {
    FDeviceWindow.reset();
    CloseQuietly();
    FDeviceCaps.reset();
    FObservers.reset();
}

void TAvCustomAudioDevice::CloseQuietly() noexcept {
    try {
        Close();
    } catch (...) {
        // Closing on the way out: a device that has vanished cannot be closed any further.
        FOpen = false;
    }
}

void TAvCustomAudioDevice::SetDeviceId(TAvDeviceId value) {
    if (value != 0 && value != AvMapperId && value != AvInvalidId &&
        (value < 0 || value >= DeviceCount()))
        throw EAvDeviceError(QStringLiteral("Device id is out of range"));
    if (value == FDeviceId) return;
    FDeviceLost = false; // chosen now
    const bool wasActive = Active();
    Close();
    FDeviceId = value;
    UpdateDevice();
    if (wasActive) SetActive(true);
}

int TAvCustomAudioDevice::DeviceCount() const {
    return static_cast<int>(AvDeviceCount(FDeviceKind));
}

bool TAvCustomAudioDevice::Mapper() const {
    TAvCapsHead head;
    // No driver at all means no mapper either.
    const MMRESULT r = AvCheck(AvGetDeviceCaps(FDeviceKind, AvMapperId, &head),
                               {MMSYSERR_BADDEVICEID, MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER});
    return r == MMSYSERR_NOERROR;
}

bool TAvCustomAudioDevice::Active() const {
    return IsLoading() ? FLoadingWish : FOpen;
}

void TAvCustomAudioDevice::SetActive(bool value) {
    if (IsLoading()) {
        FLoadingWish = value;
        return;
    }
    if (!value) FOpenWhenPresent = false;
    if (value == FOpen) return;
    Close();
    if (value) Open();
}

bool TAvCustomAudioDevice::IsValid() const {
    return DeviceCount() >= 1 && FDeviceId != AvInvalidId;
}

void TAvCustomAudioDevice::GetDeviceNames(QStringList& strings, bool includeMapper) const {
    strings.clear();
    TAvCapsHead head;
    TAvDeviceCaps caps;
    auto add = [&](TAvDeviceId id) {
        AvCheck(AvGetDeviceCaps(FDeviceKind, id, &head));
        caps.SetFrom(head);
        strings << caps.ProductName();
    };
    if (includeMapper && Mapper()) add(AvMapperId);
    const int n = DeviceCount();
    for (int i = 0; i < n; ++i)
        add(i);
}

TAvDeviceId TAvCustomAudioDevice::GetMixerId() const {
    if (FDeviceId == AvInvalidId) return AvInvalidId; // no device, no mixer
    UINT id = static_cast<UINT>(-1);
    AvCheck(mixerGetID(reinterpret_cast<HMIXEROBJ>(PlatformId(FDeviceId)), &id,
                       AvMixerObjectFlag(FDeviceKind)),
            {MMSYSERR_NODRIVER});
    const auto mixerId = static_cast<TAvDeviceId>(id);
    return mixerId == -1 ? AvInvalidId : mixerId;
}

void TAvCustomAudioDevice::AddObserver(TAvObserver* observer) {
    if (FObservers) FObservers->AddObserver(observer);
}

void TAvCustomAudioDevice::RemoveObserver(TAvObserver* observer) {
    if (FObservers) FObservers->RemoveObserver(observer);
}

void TAvCustomAudioDevice::Open() {
    FOpen = true;
}

void TAvCustomAudioDevice::Close() {
    FOpen = false;
}

void TAvCustomAudioDevice::ReadCaps() {
    if (!IsValid()) {
        FDeviceCaps->Clear();
        return;
    }
    TAvCapsHead head;
    AvCheck(AvGetDeviceCaps(FDeviceKind, FDeviceId, &head));
    FDeviceCaps->SetFrom(head);
}

void TAvCustomAudioDevice::UpdateDevice() {
    ReadCaps();
    Changed();
}

void TAvCustomAudioDevice::Changed() {
    TAvDeviceChange change;
    if (FObservers) FObservers->NotifyObservers(&change);
    DoChange();
}

void TAvCustomAudioDevice::DoChange() {
    if (OnChange) OnChange(this);
}

void TAvCustomAudioDevice::SetDeviceKind(TAvDeviceKind kind) {
    if (kind == FDeviceKind) return;
    Close();
    FDeviceKind = kind;
    FDeviceId = 0;
    UpdateDeviceOrNone();
}

void TAvCustomAudioDevice::UpdateDeviceOrNone() {
    try {
        UpdateDevice();
    } catch (const Exception&) {
        // A device whose capabilities cannot be read is no device (as at construction).
        FDeviceId = AvInvalidId;
        FDeviceCaps->Clear();
        Changed();
    }
}

void TAvCustomAudioDevice::DeviceWindowProc(TMessage& message) {
    if (message.Msg != WM_DEVICECHANGE || IsDestroying()) return;
    // One look at the devices as they are now answers every notice queued so far.
    FDeviceWindow->RemovePending(WM_DEVICECHANGE);
    DevicesChanged();
}

TAvDeviceId TAvCustomAudioDevice::FindListedDevice() const {
    const int count = DeviceCount();
    TAvCapsHead head;
    TAvDeviceCaps caps;
    auto same = [&](TAvDeviceId id) {
        if (AvGetDeviceCaps(FDeviceKind, id, &head) != MMSYSERR_NOERROR) return false;
        caps.SetFrom(head);
        return caps.ManufacturerId() == FDeviceCaps->ManufacturerId() &&
               caps.ProductId() == FDeviceCaps->ProductId() &&
               caps.VerMajor() == FDeviceCaps->VerMajor() &&
               caps.VerMinor() == FDeviceCaps->VerMinor() &&
               caps.ProductName() == FDeviceCaps->ProductName();
    };
    if (FDeviceId >= 0 && FDeviceId < count && same(FDeviceId)) return FDeviceId;
    for (TAvDeviceId id = 0; id < count; ++id)
        if (same(id)) return id;
    return AvInvalidId;
}

void TAvCustomAudioDevice::DevicesChanged() {
    if (IsLoading() || IsDestroying()) return;
    if (FOpen) {
        Changed(); // an open device follows its own handle; the lists still change
        return;
    }
    const int count = DeviceCount();
    TAvDeviceId id = FDeviceId;
    if (id >= 0 || (id == AvInvalidId && FDeviceLost)) {
        id = id >= 0 ? FindListedDevice() : AvInvalidId;
        if (id == AvInvalidId && count > 0) id = 0; // gone: the first device stands in
    }
    FDeviceLost = id == AvInvalidId && (FDeviceLost || FDeviceId != AvInvalidId);
    FDeviceId = id;
    UpdateDeviceOrNone();
    if (FOpenWhenPresent && IsValid()) {
        FOpenWhenPresent = false;
        GuardedCall(this, [this] { SetActive(true); });
    }
}

void TAvCustomAudioDevice::Loaded() {
    TAvNonVisualComponent::Loaded();
    if (FLoadingWish && !FOpen && !IsValid()) {
        // Nothing to open yet (no device, no sound server): no message; it opens when one comes.
        FOpenWhenPresent = true;
        return;
    }
    if (FLoadingWish != FOpen) {
        // A device that cannot open at start-up (none present, driver refuses) must not stop the
        // form from being built: the message goes to the application's handler and the device
        // stays closed.
        GuardedCall(this, [this] { SetActive(FLoadingWish); });
    }
}

// ---- Device combo box ---------------------------------------------------------------------------

TAvCustomDeviceComboBox::TAvCustomDeviceComboBox(TComponent* AOwner)
    : TComboBox(AOwner), FObserver(std::make_unique<TAvObserver>()) {
    SetStyle(csDropDownList);
    Widget()->installEventFilter(this);
    FObserver->OnNotify.Assign(this, [this](TObject*, TObject*) { UpdateList(); });
    TComboBox::SetEnabled(false); // nothing to choose from yet
}

TAvCustomDeviceComboBox::~TAvCustomDeviceComboBox() {
    FObserver.reset();
}

void TAvCustomDeviceComboBox::SetDevice(TAvCustomAudioDevice* device) {
    if (device == FDevice) return;
    FDevice = device;
    AvRebindReference(this, FDeviceComponent, device, *FObserver,
                      [&] { device->AddObserver(FObserver.get()); });
    UpdateList();
}

void TAvCustomDeviceComboBox::SetIncludeMapper(bool value) {
    if (value == FIncludeMapper) return;
    FIncludeMapper = value;
    UpdateList();
}

void TAvCustomDeviceComboBox::SetEnabled(bool value) {
    if (value == FEnabledWish) return;
    FEnabledWish = value;
    UpdateList();
}

bool TAvCustomDeviceComboBox::MapperListed() const {
    TAvCustomAudioDevice* device = LiveDevice();
    return device && FIncludeMapper && device->Mapper();
}

TAvDeviceId TAvCustomDeviceComboBox::ItemToDeviceId(int item) const {
    if (!LiveDevice() || item < 0) return AvInvalidId;
    return MapperListed() ? item - 1 : item;
}

int TAvCustomDeviceComboBox::DeviceIdToItem(TAvDeviceId id) const {
    if (!LiveDevice()) return -1;
    if (MapperListed()) return id == AvMapperId ? 0 : (id >= 0 ? id + 1 : -1);
    return id >= 0 ? id : -1;
}

void TAvCustomDeviceComboBox::UpdateList() {
    if (IsLoading() || !FRefreshAllowed) return;
    TAvCustomAudioDevice* device = LiveDevice();
    Clear();
    TComboBox::SetEnabled(false);
    if (FEnabledWish && device) {
        QStringList names;
        device->GetDeviceNames(names, FIncludeMapper);
        SetItems(names);
    }
    TComboBox::SetItemIndex(device ? DeviceIdToItem(device->DeviceId()) : -1);
    TComboBox::SetEnabled(ItemCount() > 0);
}

void TAvCustomDeviceComboBox::SetItemIndex(int index) {
    TComboBox::SetItemIndex(index);
    TAvCustomAudioDevice* device = LiveDevice();
    if (!device || IsLoading() || !FRefreshAllowed) return;
    // Shown and used are one device: a list index set by the program (a settings file, a
    // fallback) moves the device, as a pick does, and the device's observers follow it.
    if (ItemIndex() == -1) {
        TComboBox::SetItemIndex(DeviceIdToItem(device->DeviceId()));
        return;
    }
    const TAvDeviceId id = ItemToDeviceId(ItemIndex());
    if (id == device->DeviceId()) return;
    FRefreshAllowed = false;
    const auto allowed = qScopeGuard([this] { FRefreshAllowed = true; });
    device->SetDeviceId(id);
}

void TAvCustomDeviceComboBox::Change() {
    // OnChange may free the box (a page that goes away): then there is nothing left to set.
    const QPointer<QObject> alive(this);
    TComboBox::Change();
    if (!alive) return;
    FRefreshAllowed = false;
    try {
        TAvCustomAudioDevice* device = LiveDevice();
        if (device && ItemIndex() != -1) device->SetDeviceId(ItemToDeviceId(ItemIndex()));
    } catch (...) {
        // A failed pick must not freeze the list: allow refreshes again and show the device as
        // it really is (the old id stays on a range error).
        FRefreshAllowed = true;
        try {
            UpdateList();
        } catch (...) {
        }
        throw;
    }
    FRefreshAllowed = true;
}

bool TAvCustomDeviceComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Widget() && LiveDevice() && FEnabledWish && FRefreshAllowed && !IsLoading() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)) {
        GuardedCall(this, [this] {
            QStringList names;
            LiveDevice()->GetDeviceNames(names, FIncludeMapper);
            if (names != Items()) UpdateList();
        });
    }
    return TComboBox::eventFilter(watched, event);
}

void TAvCustomDeviceComboBox::Loaded() {
    TComboBox::Loaded();
    GuardedCall(this, [this] { UpdateList(); });
}

void TAvCustomDeviceComboBox::Notification(TComponent* AComponent, TOperation Operation) {
    TComboBox::Notification(AComponent, Operation);
    if (Operation == opRemove && FDeviceComponent && AComponent == FDeviceComponent)
        SetDevice(nullptr);
}
