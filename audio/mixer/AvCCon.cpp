#include "audio/mixer/AvCCon.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {

bool SliderClass(TAvControlClass c) {
    return c == ccFader || c == ccNumber || c == ccSlider || c == ccTime;
}

bool CheckBoxClass(TAvControlClass c) {
    return c == ccList || c == ccSwitch;
}

// Nearest integer, halves to the even neighbour.
long long RoundEven(long double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<long long>(std::nearbyint(std::clamp(v, -9.0e18L, 9.0e18L)));
}

} // namespace

bool AvItemFits(const TAvCustomMixerControl* control, TAvItemIndex item) {
    if (!control || !control->IsValid()) return false;
    if (!control->ControlInfo()->Flags().testFlag(cfMultiple)) return item == AvNoItem;
    return item >= 0 && item < control->GetItems();
}

bool AvItemUsable(const TAvCustomMixerControl* control, TAvItemIndex item) {
    return AvItemFits(control, item) && control->IsEnabled();
}

// ---- TAvControlLink -----------------------------------------------------------------------------

void TAvControlLink::SetControl(TAvCustomMixerControl* control) {
    if (control == FControl) return;
    Detach();
    FControl = control;
    if (FControl) FControl->AddObserver(this);
}

void TAvControlLink::Update(TObject* data) {
    if (Locked()) return;
    if (dynamic_cast<TAvControlChange*>(data))
        OnControlChange(FControl);
    else if (dynamic_cast<TAvControlIdChange*>(data))
        OnControlIdChange(FControl);
}

// ---- TAvCaptionLink -----------------------------------------------------------------------------

void TAvCaptionLink::SetComponent(TAvComponent* component) {
    auto* device = dynamic_cast<TAvCustomAudioDevice*>(component);
    auto* line = dynamic_cast<TAvAudioLine*>(component);
    auto* control = dynamic_cast<TAvCustomMixerControl*>(component);
    if (component && !device && !line && !control)
        throw EAvCaptionLinkError(QStringLiteral("Device, Line or Control supported only"));
    if (component == FComponent) return;
    Detach();
    FComponent = component;
    if (device) device->AddObserver(this);
    if (line) line->AddObserver(this);
    if (control) control->AddObserver(this);
}

void TAvCaptionLink::SetItem(TAvItemIndex item) {
    if (item == FItem) return;
    FItem = item;
    CaptionChanged();
}

void TAvCaptionLink::SetShort(bool value) {
    if (value == FShort) return;
    FShort = value;
    CaptionChanged();
}

void TAvCaptionLink::Update(TObject*) {
    if (!Locked()) CaptionChanged();
}

void TAvCaptionLink::CaptionChanged() {
    DoChange();
}

void TAvCaptionLink::DoChange() {
    OnChange(this);
}

QString TAvCaptionLink::GetCaption() const {
    TAvComponent* component = Component();
    if (auto* device = dynamic_cast<TAvCustomAudioDevice*>(component))
        return device->DeviceCaps()->ProductName();
    if (auto* line = dynamic_cast<TAvAudioLine*>(component))
        return FShort ? line->LineInfo()->ShortName() : line->LineInfo()->Name();
    if (auto* control = dynamic_cast<TAvCustomMixerControl*>(component)) {
        const TAvControlInfo* info = control->ControlInfo();
        if (FItem != AvNoItem && info->Flags().testFlag(cfMultiple)) {
            // A control that lost its line keeps its description but cannot name items.
            if (FItem >= 0 && FItem < info->MultipleItems() && control->IsValid())
                return control->GetItemInfo(FItem).Name;
            return QStringLiteral("Invalid item");
        }
        return FShort ? info->ShortName() : info->Name();
    }
    return QStringLiteral("Not connected");
}

// ---- TAvMixerBinding ----------------------------------------------------------------------------

TAvMixerBinding::TAvMixerBinding(TComponent* owner, TAcceptsClass accepts)
    : FLink(std::make_unique<TAvControlLink>()), FOwner(owner), FAccepts(accepts) {
    // Tied to the owner, so the handlers compare equal to the owner's own.
    FLink->OnControlChange.Assign(owner, [this](TObject*) { UpdateFromControl(); });
    FLink->OnControlIdChange.Assign(owner, [this](TObject*) { UpdateFromControl(); });
}

TAvMixerBinding::~TAvMixerBinding() = default;

void TAvMixerBinding::SetControl(TAvCustomMixerControl* control) {
    if (control && !FAccepts(control->ControlClass()))
        throw EAvMixerControlsError(QStringLiteral("Invalid control class"));
    if (control == Control()) return;
    if (FControlComponent) FOwner->RemoveFreeNotification(FControlComponent);
    FLink->SetControl(control);
    FControlComponent = control;
    if (control) FOwner->FreeNotification(control);
    UpdateFromControl();
}

void TAvMixerBinding::SetChannel(int selector) {
    if (selector == FChannel) return;
    FChannel = selector;
    UpdateFromControl();
}

void TAvMixerBinding::SetItem(TAvItemIndex item) {
    if (item == FItem) return;
    FItem = item;
    UpdateFromControl();
}

void TAvMixerBinding::SetEnabledWish(bool value) {
    if (value == FEnabledWish) return;
    FEnabledWish = value;
    UpdateFromControl();
}

void TAvMixerBinding::BindingNotification(TComponent* AComponent, TOperation Operation) {
    if (Operation != opRemove || !FControlComponent || AComponent != FControlComponent) return;
    // The link leaves without asking the dying control for anything.
    FLink->Detach();
    FLink->SetControl(nullptr);
    FControlComponent = nullptr;
    if (!FOwner->IsDestroying()) UpdateFromControl();
}

// ---- TAvCustomMixerSlider -----------------------------------------------------------------------

TAvCustomMixerSlider::TAvCustomMixerSlider(TComponent* AOwner)
    : TAvCustomSlider(AOwner), TAvMixerBinding(this, SliderClass) {
    UpdateFromControl();
}

TAvCustomMixerSlider::~TAvCustomMixerSlider() {
    Destroying();
    ReleaseLink();
}

void TAvCustomMixerSlider::UpdateFromControl() {
    UpdateRange();
    UpdatePosition();
}

void TAvCustomMixerSlider::UpdateRange() {
    TAvCustomMixerControl* control = Control();
    if (!FLink || !control || IsDestroying()) {
        TAvCustomSlider::SetEnabled(false);
        if (FLink && !IsDestroying()) {
            TAvLinkLock lock(FLink.get());
            FStep = 1.0L;
            SetRange(0, 2);
        }
        return;
    }
    const bool enabled = FEnabledWish && AvItemUsable(control, FItem);
    TAvCustomSlider::SetEnabled(enabled);
    TAvLinkLock lock(FLink.get());
    if (enabled) {
        const TAvControlInfo* info = control->ControlInfo();
        const long double span =
            static_cast<long double>(info->MaxValue()) - static_cast<long double>(info->MinValue());
        const int steps = info->Steps() != 0 ? info->Steps() : 32;
        FStep = span / steps;
        const long double max = FStep != 0 ? std::trunc(span / FStep) : 1.0L;
        SetRange(0, static_cast<int>(std::clamp(max, 1.0L, 2147483646.0L)));
    } else {
        FStep = 1.0L;
        SetRange(0, 2);
    }
}

void TAvCustomMixerSlider::UpdatePosition() {
    if (IsDestroying() || !FLink) return;
    TAvCustomMixerControl* control = Control();
    TAvLinkLock lock(FLink.get());
    // The effective state decides: a control that cannot be used has no value to show.
    if (AvItemFits(control, FItem) && FStep != 0 && Min() < Max() && EffectiveEnabled()) {
        const DWORD raw = control->GetUnsignedValue(FChannel, FItem);
        const TAvControlInfo* info = control->ControlInfo();
        // Controls with a negative bound (pan, signed numbers) carry signed values.
        const long double v = info->MinValue() < 0
                                  ? static_cast<long double>(static_cast<LONG>(raw))
                                  : static_cast<long double>(raw);
        const long long p = RoundEven((v - info->MinValue()) / FStep);
        SetPosition(static_cast<int>(std::clamp<long long>(p, INT32_MIN, INT32_MAX)));
    } else {
        SetPosition(std::max(Min(), (Min() + Max()) / 2));
    }
}

void TAvCustomMixerSlider::Change() {
    if (FLink && !FLink->Locked()) {
        TAvLinkLock lock(FLink.get());
        TAvCustomMixerControl* control = Control();
        if (control && control->ControlInfo()->Flags().testFlag(cfDisabled)) {
            UpdatePosition(); // the thumb snaps back
        } else if (AvItemUsable(control, FItem)) {
            const long long v = RoundEven(static_cast<long double>(Position()) * FStep +
                                          control->ControlInfo()->MinValue());
            control->SetUnsignedValue(FChannel, FItem,
                                      static_cast<DWORD>(static_cast<LONG>(
                                          std::clamp<long long>(v, INT32_MIN, UINT32_MAX))));
        }
    }
    TAvCustomSlider::Change();
}

void TAvCustomMixerSlider::Loaded() {
    TAvCustomSlider::Loaded();
    UpdateFromControl();
}

void TAvCustomMixerSlider::Notification(TComponent* AComponent, TOperation Operation) {
    TAvCustomSlider::Notification(AComponent, Operation);
    BindingNotification(AComponent, Operation);
}

// ---- TAvCustomMixerCheckBox ---------------------------------------------------------------------

TAvCustomMixerCheckBox::TAvCustomMixerCheckBox(TComponent* AOwner)
    : TCheckBox(AOwner), TAvMixerBinding(this, CheckBoxClass) {
    UpdateFromControl();
}

TAvCustomMixerCheckBox::~TAvCustomMixerCheckBox() {
    Destroying();
    ReleaseLink();
}

void TAvCustomMixerCheckBox::SetAutoCaption(bool value) {
    if (value == FAutoCaption) return;
    FAutoCaption = value;
    UpdateFromControl();
}

void TAvCustomMixerCheckBox::SetShort(bool value) {
    if (value == FShort) return;
    FShort = value;
    UpdateFromControl();
}

void TAvCustomMixerCheckBox::UpdateFromControl() {
    if (IsDestroying()) return;
    UpdateState();
    UpdateChecked();
}

void TAvCustomMixerCheckBox::UpdateState() {
    TAvCustomMixerControl* control = Control();
    if (!control) {
        TCheckBox::SetEnabled(false);
        return;
    }
    const bool enabled = FEnabledWish && AvItemUsable(control, FItem);
    TCheckBox::SetEnabled(enabled);
    if (enabled && FAutoCaption) {
        if (FItem != AvNoItem)
            SetCaption(control->GetItemInfo(FItem).Name);
        else
            SetCaption(FShort ? control->ControlInfo()->ShortName()
                              : control->ControlInfo()->Name());
    }
}

void TAvCustomMixerCheckBox::UpdateChecked() {
    TAvCustomMixerControl* control = Control();
    if (!AvItemFits(control, FItem)) return;
    TAvLinkLock lock(FLink.get());
    SetChecked(control->GetBooleanValue(FChannel, FItem));
}

void TAvCustomMixerCheckBox::Click() {
    if (FLink && !FLink->Locked() && !IsDestroying()) {
        TAvLinkLock lock(FLink.get());
        if (EffectiveEnabled())
            Control()->SetBooleanValue(FChannel, FItem, Checked());
        else
            UpdateFromControl(); // the box returns to the control's state
    }
    TCheckBox::Click();
}

void TAvCustomMixerCheckBox::Loaded() {
    TCheckBox::Loaded();
    UpdateFromControl();
}

void TAvCustomMixerCheckBox::Notification(TComponent* AComponent, TOperation Operation) {
    TCheckBox::Notification(AComponent, Operation);
    BindingNotification(AComponent, Operation);
}

// ---- TAvMixerLabelConnector ---------------------------------------------------------------------

TAvMixerLabelConnector::TAvMixerLabelConnector(TComponent* AOwner)
    : TAvNonVisualComponent(AOwner), FLink(std::make_unique<TAvCaptionLink>()) {
    FLink->OnChange.Assign(this, [this](TObject*) { UpdateCaption(); });
}

TAvMixerLabelConnector::~TAvMixerLabelConnector() {
    FLink.reset();
}

void TAvMixerLabelConnector::SetSource(TAvComponent* source) {
    if (source == FLink->Component()) return;
    TComponent* old = FSourceComponent;
    FLink->SetComponent(source); // raises for a wrong class; then nothing has changed
    if (old) RemoveFreeNotification(old);
    FSourceComponent = source;
    if (source) FreeNotification(source);
    UpdateCaption();
}

// The link reports these changes itself (CaptionChanged), which updates the caption once.
void TAvMixerLabelConnector::SetItem(TAvItemIndex item) {
    FLink->SetItem(item);
}

void TAvMixerLabelConnector::SetShort(bool value) {
    FLink->SetShort(value);
}

void TAvMixerLabelConnector::SetDestination(TComponent* destination) {
    if (destination == FDestination) return;
    if (destination && !destination->HasProperty("Caption"))
        throw EAvMixerControlsError(QStringLiteral("Destination has not Caption property"));
    if (FDestination) RemoveFreeNotification(FDestination);
    FDestination = destination;
    if (FDestination) FreeNotification(FDestination);
    UpdateCaption();
}

void TAvMixerLabelConnector::SetAllCaps(bool value) {
    if (value == FAllCaps) return;
    FAllCaps = value;
    UpdateCaption();
}

void TAvMixerLabelConnector::UpdateCaption() {
    if (IsLoading() || IsDestroying()) return;
    if (FDestination) {
        QString text = FLink->GetCaption();
        if (FAllCaps) text = QLocale().toUpper(text);
        FDestination->SetProperty("Caption", text);
    }
    DoChange();
}

void TAvMixerLabelConnector::DoChange() {
    OnChange(this);
}

void TAvMixerLabelConnector::Loaded() {
    TAvNonVisualComponent::Loaded();
    UpdateCaption();
}

void TAvMixerLabelConnector::Notification(TComponent* AComponent, TOperation Operation) {
    TAvNonVisualComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (AComponent == FSourceComponent) {
        // The link leaves without asking the dying component for anything.
        FLink->Detach();
        FSourceComponent = nullptr;
        FLink->SetComponent(nullptr);
    }
    if (AComponent == FDestination) FDestination = nullptr;
    if (!IsDestroying()) UpdateCaption();
}
