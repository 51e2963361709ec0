#pragma once
// On-screen controls bound to mixer controls, and the label connector.
//
//   TAvControlLink           an observer on a mixer control that runs OnControlChange /
//                            OnControlIdChange for its owner
//   TAvCaptionLink           an observer on a device, line or control that knows its name
//   TAvMixerBinding          what a slider and a check box share: the link, channel, item and
//                            enabled wish, kept for its owner
//   TAvCustomMixerSlider     a slider showing and setting a fader-like control (one channel, one
//                            item or the whole control)
//   TAvCustomMixerCheckBox   a check box showing and setting a switch or one item of a list
//   TAvMixerLabelConnector   writes the name of a device, line or control into the "Caption"
//                            property of any control
//
// Echo suppression: a slider or box locks its link while it writes to its control (and while it
// takes a value from it), so records raised synchronously by its own write are dropped. The
// platform's change report for the write comes back later through the message loop and is handled
// normally: it re-reads the same value, which moves nothing.
//
// Threads: main thread only.
#include "audio/mixer/AvMixCtl.h"
#include "audio/mixer/AvSlider.h"
#include "framework/StdCtrls.h"

#include <memory>

AV_DECLARE_EXCEPTION(EAvMixerControlsError, Exception);
AV_DECLARE_EXCEPTION(EAvCaptionLinkError, Exception);

// The control is set and valid, and item addresses it: -1 without cfMultiple, else one of its
// items.
bool AvItemFits(const TAvCustomMixerControl* control, TAvItemIndex item);
// The item fits and the control is enabled (valid and not cfDisabled).
bool AvItemUsable(const TAvCustomMixerControl* control, TAvItemIndex item);

// ---- Links --------------------------------------------------------------------------------------

class TAvControlLink : public TAvObserver {
public:
    TAvControlLink() = default;

    // The control while the link is attached to it (a control that let its observers go is
    // being destroyed and is not handed out).
    TAvCustomMixerControl* Control() const { return Observable() ? FControl : nullptr; }
    // Leaves the old control's observers and joins the new one's.
    void SetControl(TAvCustomMixerControl* control);
    // Unless locked: TAvControlChange runs OnControlChange, TAvControlIdChange OnControlIdChange
    // (Sender = the control); other records are ignored.
    void Update(TObject* data) override;

    TNotifyEvent OnControlChange;
    TNotifyEvent OnControlIdChange;

private:
    TAvCustomMixerControl* FControl = nullptr;
};

// Locks a link for one scope (a write of its own).
class TAvLinkLock {
public:
    explicit TAvLinkLock(TAvObserver* link) : FLink(link) {
        if (FLink) FLink->Lock();
    }
    ~TAvLinkLock() {
        if (FLink) FLink->Unlock();
    }
    TAvLinkLock(const TAvLinkLock&) = delete;
    TAvLinkLock& operator=(const TAvLinkLock&) = delete;

private:
    TAvObserver* FLink;
};

class TAvCaptionLink : public TAvObserver {
public:
    TAvCaptionLink() = default;

    // A TAvCustomAudioDevice, TAvAudioLine or TAvCustomMixerControl, or none; anything else
    // raises "Device, Line or Control supported only".
    TAvComponent* Component() const { return Observable() ? FComponent : nullptr; }
    void SetComponent(TAvComponent* component);
    TAvItemIndex Item() const { return FItem; }
    void SetItem(TAvItemIndex item);
    bool Short() const { return FShort; }
    void SetShort(bool value);
    // Any record from the component: CaptionChanged.
    void Update(TObject* data) override;
    // The name to show (see the class comment of the connector).
    QString GetCaption() const;

    TNotifyEvent OnChange;

protected:
    virtual void CaptionChanged(); // DoChange
    virtual void DoChange();       // raises OnChange

private:
    TAvComponent* FComponent = nullptr;
    TAvItemIndex FItem = AvNoItem;
    bool FShort = false;
};

// ---- Binding to a mixer control ----------------------------------------------------------------

// What a mixer slider and a mixer check box share: the link to their control (with the removal
// notice while it lives), the channel and item they address and the user's enabled wish. A second
// base of the on-screen control (its owner): any change runs the owner's UpdateFromControl.
class TAvMixerBinding {
public:
    using TAcceptsClass = bool (*)(TAvControlClass);

    TAvMixerBinding(const TAvMixerBinding&) = delete;
    TAvMixerBinding& operator=(const TAvMixerBinding&) = delete;

    TAvCustomMixerControl* Control() const { return FLink ? FLink->Control() : nullptr; }
    TAvCustomMixerControl* GetControl() const { return Control(); }
    // "Invalid control class" for a control of a class the owner does not show; nothing changes
    // then.
    void SetControl(TAvCustomMixerControl* control);
    int Channel() const { return FChannel; }
    void SetChannel(int selector);
    TAvItemIndex Item() const { return FItem; }
    void SetItem(TAvItemIndex item);
    TAvControlLink* Link() const { return FLink.get(); }

    // Brings the owner in line with the control, its channel, item and enabled wish.
    virtual void UpdateFromControl() = 0;

protected:
    TAvMixerBinding(TComponent* owner, TAcceptsClass accepts);
    virtual ~TAvMixerBinding();

    // The owner's Enabled property: the user's wish; the owner is usable only when this is true
    // and the control allows it.
    bool EnabledWish() const { return FEnabledWish; }
    void SetEnabledWish(bool value);
    // From the owner's Notification: lets go of a bound control that is going away.
    void BindingNotification(TComponent* AComponent, TOperation Operation);
    // From the owner's destructor, after Destroying: leaves the control before the owner goes.
    void ReleaseLink() { FLink.reset(); }

    std::unique_ptr<TAvControlLink> FLink;
    int FChannel = 0;
    TAvItemIndex FItem = AvNoItem;
    bool FEnabledWish = true;

private:
    TComponent* FOwner;
    TAcceptsClass FAccepts;
    TComponent* FControlComponent = nullptr; // the bound control, for the removal notice
};

// ---- Mixer slider -------------------------------------------------------------------------------

// Accepts controls of the classes ccFader, ccNumber, ccSlider and ccTime. The control's range is
// cut into Steps steps (32 when the control gives none); Position counts steps, so on a
// logarithmic slider the control value is linear in Position while the thumb shows decibels.
// Unbound, or not usable, the slider is disabled with the range 0 .. 2 and sits in the middle.
class TAvCustomMixerSlider : public TAvCustomSlider, public TAvMixerBinding {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
public:
    explicit TAvCustomMixerSlider(TComponent* AOwner);
    ~TAvCustomMixerSlider() override;

    // The user's wish (see TAvMixerBinding).
    bool Enabled() const { return EnabledWish(); }
    void SetEnabled(bool value) override { SetEnabledWish(value); }
    bool EffectiveEnabled() const { return TAvCustomSlider::Enabled(); }
    // Control units per slider step.
    long double Step() const { return FStep; }

    // UpdateRange, then UpdatePosition.
    void UpdateFromControl() override;

protected:
    // Writes the new position to the control (unless the link is locked), then the base Change.
    void Change() override;
    virtual void UpdateRange();
    virtual void UpdatePosition();
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    long double FStep = 1.0L;
};

class TAvMixerSlider : public TAvCustomMixerSlider {
    Q_OBJECT
public:
    using TAvCustomMixerSlider::TAvCustomMixerSlider;
};

// ---- Mixer check box ----------------------------------------------------------------------------

// Accepts controls of the classes ccList and ccSwitch. Every change of Checked, by the user or
// the program, is written to the control (or, when the box is not usable, undone from it).
class TAvCustomMixerCheckBox : public TCheckBox, public TAvMixerBinding {
    Q_OBJECT
    Q_PROPERTY(bool AutoCaption READ AutoCaption WRITE SetAutoCaption)
    Q_PROPERTY(bool Short READ Short WRITE SetShort)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
public:
    explicit TAvCustomMixerCheckBox(TComponent* AOwner);
    ~TAvCustomMixerCheckBox() override;

    bool AutoCaption() const { return FAutoCaption; }
    void SetAutoCaption(bool value);
    bool Short() const { return FShort; }
    void SetShort(bool value);
    // The user's wish (see TAvMixerBinding).
    bool Enabled() const { return EnabledWish(); }
    void SetEnabled(bool value) override { SetEnabledWish(value); }
    bool EffectiveEnabled() const { return TCheckBox::Enabled(); }
    // Whether the form stores Caption (only when it is not taken from the control).
    bool IsCaptionStored() const { return !FAutoCaption; }

    // UpdateState, then UpdateChecked.
    void UpdateFromControl() override;
    void Click() override;

protected:
    virtual void UpdateState();
    virtual void UpdateChecked();
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    bool FAutoCaption = true;
    bool FShort = true;
};

class TAvMixerCheckBox : public TAvCustomMixerCheckBox {
    Q_OBJECT
public:
    using TAvCustomMixerCheckBox::TAvCustomMixerCheckBox;
};

// ---- Label connector ----------------------------------------------------------------------------

// Shows the name of Source (a device's product name, a line's or control's short or full name, a
// list item's name) in Destination's published "Caption" property, and keeps it current.
class TAvMixerLabelConnector : public TAvNonVisualComponent {
    Q_OBJECT
    Q_PROPERTY(int Item READ Item WRITE SetItem)
    Q_PROPERTY(bool Short READ Short WRITE SetShort)
    Q_PROPERTY(bool AllCaps READ AllCaps WRITE SetAllCaps)
public:
    explicit TAvMixerLabelConnector(TComponent* AOwner);
    ~TAvMixerLabelConnector() override;

    TAvComponent* Source() const { return FLink->Component(); }
    void SetSource(TAvComponent* source);
    TAvItemIndex Item() const { return FLink->Item(); }
    void SetItem(TAvItemIndex item);
    bool Short() const { return FLink->Short(); }
    void SetShort(bool value);
    // Any component with a published "Caption" property ("Destination has not Caption property"
    // otherwise); not owned.
    TComponent* Destination() const { return FDestination; }
    void SetDestination(TComponent* destination);
    bool AllCaps() const { return FAllCaps; }
    void SetAllCaps(bool value);
    TAvCaptionLink* Link() const { return FLink.get(); }

    // Writes the caption (not while loading), then OnChange.
    void UpdateCaption();

    TNotifyEvent OnChange;

protected:
    virtual void DoChange();
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    std::unique_ptr<TAvCaptionLink> FLink;
    TComponent* FSourceComponent = nullptr;
    TComponent* FDestination = nullptr;
    bool FAllCaps = false;
};
