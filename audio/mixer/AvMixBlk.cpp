#include "audio/mixer/AvMixBlk.h"

#include "resources/AvResources.h"

#include <QFontMetrics>
#include <algorithm>
#include <cstdlib>

namespace {

const QString kNoBlock = QStringLiteral("This controls can be used only with MixerBlock");

// The join code a child sends: without an explicit role the block may assign
// one.
int JoinCode(bool explicitRole) {
    return explicitRole ? bcAdded : bcAddedNoRole;
}

// The parent setter every block child shares: check, leave the old block, move,
// join the new one.
template <class Base, class Child>
void BlockChildSetParent(Child* child, TWinControl* parent, int joinCode) {
    if (parent && !FindMixerBlock(parent)) throw EAvBlockError(kNoBlock);
    if (parent == child->Parent()) return;
    if (TAvCustomMixerBlock* old = FindMixerBlock(child->Parent()))
        old->ChildMessage(bcRemoving, child);
    child->Base::SetParent(parent);
    if (TAvCustomMixerBlock* block = FindMixerBlock(parent)) block->ChildMessage(joinCode, child);
}

// A child going away tells its block, unless the block itself is going.
void BlockChildGone(TControl* child) {
    TAvCustomMixerBlock* block = FindMixerBlock(child->Parent());
    if (block && !block->IsDestroying()) block->ChildMessage(bcRemoving, child);
}

} // namespace

TAvCustomMixerBlock* FindMixerBlock(TWinControl* parent) {
    for (TWinControl* p = parent; p; p = p->Parent())
        if (auto* block = dynamic_cast<TAvCustomMixerBlock*>(p)) return block;
    return nullptr;
}

// ---- Level connector
// --------------------------------------------------------------------------

TAvMixerConnector::TAvMixerConnector(TComponent* AOwner) : TAvNonVisualComponent(AOwner) {
    FTimer.setInterval(FInterval);
    QObject::connect(&FTimer, &QTimer::timeout, this, [this] {
        GuardedCall(this, [this] {
            try {
                Tick();
            } catch (...) {
                FTimer.stop(); // one message, not one every 25 ms
                throw;
            }
        });
    });
}

TAvMixerConnector::~TAvMixerConnector() {
    FTimer.stop();
}

void TAvMixerConnector::SetControl(TAvCustomMixerControl* control) {
    if (control == FControl) return;
    if (control) {
        switch (control->ControlClass()) {
        case ccFader:
        case ccMeter:
        case ccNumber:
        case ccSlider:
        case ccTime:
            break;
        default:
            throw EAvMixerControlsError(QStringLiteral("Invalid control class"));
        }
    }
    if (FControl) FControl->RemoveFreeNotification(this);
    FControl = control;
    if (FControl) FControl->FreeNotification(this);
    FRead = false;
    UpdateTimer();
}

void TAvMixerConnector::SetLevel1(TAvCustomLevel* level) {
    if (level == FLevel1) return;
    if (FLevel1 && FLevel1 != FLevel2) FLevel1->RemoveFreeNotification(this);
    FLevel1 = level;
    if (FLevel1) FLevel1->FreeNotification(this);
    UpdateTimer();
}

void TAvMixerConnector::SetLevel2(TAvCustomLevel* level) {
    if (level == FLevel2) return;
    if (FLevel2 && FLevel2 != FLevel1) FLevel2->RemoveFreeNotification(this);
    FLevel2 = level;
    if (FLevel2) FLevel2->FreeNotification(this);
    UpdateTimer();
}

void TAvMixerConnector::SetAutoTrigger(bool v) {
    FAutoTrigger = v;
    UpdateTimer();
}

void TAvMixerConnector::SetInterval(int ms) {
    FInterval = std::max(ms, 1);
    FTimer.setInterval(FInterval);
}

void TAvMixerConnector::SetEnabled(bool v) {
    FEnabled = v;
    UpdateTimer();
}

void TAvMixerConnector::SetOnChange(TNotifyEvent handler) {
    FOnChange = std::move(handler);
    UpdateTimer();
}

// The timer runs only while somebody listens: a level or the change event.
void TAvMixerConnector::UpdateTimer() {
    const bool run = FEnabled && FAutoTrigger && FControl && !IsDesigning() && !IsLoading() &&
                     !IsDestroying() && (FLevel1 || FLevel2 || FOnChange.Assigned());
    if (run && !FTimer.isActive())
        FTimer.start();
    else if (!run)
        FTimer.stop();
}

void TAvMixerConnector::Loaded() {
    TAvNonVisualComponent::Loaded();
    UpdateTimer();
}

void TAvMixerConnector::Notification(TComponent* AComponent, TOperation Operation) {
    TAvNonVisualComponent::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == FControl) FControl = nullptr;
    if (AComponent == FLevel1) FLevel1 = nullptr;
    if (AComponent == FLevel2) FLevel2 = nullptr;
    UpdateTimer();
}

int TAvMixerConnector::Scale(LONG value) const {
    const TAvControlInfo* info = FControl->ControlInfo();
    const std::int64_t lo = info->MinValue(), hi = info->MaxValue();
    const TAvAudioLine* line = FControl->AudioLine();
    const bool offsetScale =
        line && line->Mixer() && line->Mixer()->DeviceCaps()->ManufacturerId() == 31;
    std::int64_t v;
    if (offsetScale) {
        const std::int64_t range = hi - lo;
        if (range <= 0) return 0;
        v = (static_cast<std::int64_t>(value) + (lo < 0 ? -lo : 0)) * 32768 / range;
    } else {
        const std::int64_t m = std::max(std::llabs(lo), std::llabs(hi));
        if (m == 0) return 0;
        v = std::llabs(static_cast<std::int64_t>(value)) * 32768 / m;
    }
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, 32768));
}

void TAvMixerConnector::Trigger() {
    if (IsLoading() || !FControl || !FControl->IsValid()) return;
    const int two = FControl->GetChannels() >= 2;
    int v[3];
    v[0] = Scale(FControl->GetSignedValue(two ? 1 : 0, FItem));
    v[1] = two ? Scale(FControl->GetSignedValue(2, FItem)) : v[0];
    v[2] = two ? Scale(FControl->GetSignedValue(0, FItem)) : v[0];
    const bool changed = !FRead || !std::equal(std::begin(v), std::end(v), std::begin(FValues));
    std::copy(std::begin(v), std::end(v), std::begin(FValues));
    FRead = true;
    if (changed) FOnChange(this);
    if (FLevel1) FLevel1->SetLevel(FLevel2 ? FValues[0] : FValues[2]);
    if (FLevel2) FLevel2->SetLevel(FValues[1]);
}

void TAvMixerConnector::Tick() {
    if (!FEnabled) return;
    Trigger();
}

// ---- Block slider
// -----------------------------------------------------------------------------

TAvCustomBlockSlider::TAvCustomBlockSlider(TComponent* AOwner) : TAvCustomMixerSlider(AOwner) {
    ApplyStyle();
}

TAvCustomBlockSlider::~TAvCustomBlockSlider() {
    BlockChildGone(this);
}

void TAvCustomBlockSlider::SetParent(TWinControl* parent) {
    BlockChildSetParent<TAvCustomMixerSlider>(this, parent, JoinCode(FRoleExplicit));
}

void TAvCustomBlockSlider::SetRole(TAvBlockSliderRole v) {
    if (v > srRightVolume) return;
    if (v == FRole && FRoleExplicit) return;
    FRole = v;
    FRoleExplicit = true;
    ApplyStyle();
    if (TAvCustomMixerBlock* block = FindMixerBlock(Parent()))
        block->ChildMessage(bcRoleChanged, this);
}

void TAvCustomBlockSlider::SetStyle(TAvBlockSliderStyle v) {
    if (v != ssWin95) return;
    FStyle = v;
    ApplyStyle();
}

void TAvCustomBlockSlider::ApplyStyle() {
    Bevel()->SetBevelOuter(bvNone);
    Scale()->SetVisible(true);
    Scale()->SetConnect(false);
    Scale()->SetOrigin(soInner);
    Scale()->SetSize(6);
    SetGrooveSize(1);
    if (FRole == srPan) {
        PicLeft()->LoadFromFile(av::ResourcePath(QStringLiteral("SPK_LEFT.png")));
        PicRight()->LoadFromFile(av::ResourcePath(QStringLiteral("SPK_RIGHT.png")));
        Scale()->SetTickCount(3);
        Scale()->SetEnlargeEvery(2);
        SetScalePosition(spBelowOrRight);
        SetLogarithmic(false);
    } else {
        const TBitmap none;
        SetPicLeft(&none);
        SetPicRight(&none);
        Scale()->SetTickCount(7);
        Scale()->SetEnlargeEvery(6);
        SetScalePosition(spBoth);
        SetLogarithmic(true);
    }
}

// ---- Block check box
// --------------------------------------------------------------------------

TAvCustomBlockCheck::TAvCustomBlockCheck(TComponent* AOwner) : TAvCustomMixerCheckBox(AOwner) {}

TAvCustomBlockCheck::~TAvCustomBlockCheck() {
    BlockChildGone(this);
}

void TAvCustomBlockCheck::SetParent(TWinControl* parent) {
    BlockChildSetParent<TAvCustomMixerCheckBox>(this, parent, bcAdded);
}

// ---- Block level
// ------------------------------------------------------------------------------

TAvCustomBlockLevel::TAvCustomBlockLevel(TComponent* AOwner) : TAvCustomLevel(AOwner) {
    ApplyStyle();
}

TAvCustomBlockLevel::~TAvCustomBlockLevel() {
    BlockChildGone(this);
}

void TAvCustomBlockLevel::SetParent(TWinControl* parent) {
    BlockChildSetParent<TAvCustomLevel>(this, parent, JoinCode(FIndexExplicit));
}

void TAvCustomBlockLevel::SetIndex(TAvBlockLevelIndex v) {
    if (v > liRight) return;
    if (v == FIndex && FIndexExplicit) return;
    FIndex = v;
    FIndexExplicit = true;
    if (TAvCustomMixerBlock* block = FindMixerBlock(Parent()))
        block->ChildMessage(bcRoleChanged, this);
}

void TAvCustomBlockLevel::SetStyle(TAvBlockLevelStyle v) {
    if (v != lsWin95) return;
    FStyle = v;
    ApplyStyle();
}

void TAvCustomBlockLevel::ApplyStyle() {
    Bevel()->SetBorderWidth(1);
    SetColor(clBtnFace);
    SetSpotWidth(6);
    SetBar1Color(0x008000);
    SetBar2Color(0x00FF00);
    SetBar3Color(0x00FFFF);
    SetInactive1Color(clBtnFace);
    SetInactive2Color(clBtnFace);
    SetInactive3Color(clBtnFace);
    SetPoint1(45);
    SetPoint2(60);
    SetLogAmp(false);
    SetNumPeaks(0);
}

// ---- Block label
// ------------------------------------------------------------------------------

TAvCustomBlockLabel::TAvCustomBlockLabel(TComponent* AOwner) : TLabel(AOwner) {}

TAvCustomBlockLabel::~TAvCustomBlockLabel() {
    BlockChildGone(this);
}

void TAvCustomBlockLabel::SetParent(TWinControl* parent) {
    BlockChildSetParent<TLabel>(this, parent, JoinCode(FIndexExplicit));
}

void TAvCustomBlockLabel::SetIndex(TAvBlockLabelIndex v) {
    if (v > biVolume) return;
    if (v == FIndex && FIndexExplicit) return;
    FIndex = v;
    FIndexExplicit = true;
    if (TAvCustomMixerBlock* block = FindMixerBlock(Parent()))
        block->ChildMessage(bcRoleChanged, this);
}

// ---- The block
// --------------------------------------------------------------------------------

TAvCustomMixerBlock::TAvCustomMixerBlock(TComponent* AOwner) : TAvCustomPanel(AOwner) {
    FPanControl = new TAvPanControl(this);
    FVolumeControl = new TAvVolumeControl(this);
    FPanControl->SetVolumeControl(FVolumeControl);
    FMuteControl = new TAvMixerControl(this);
    FMuteControl->SetControlType(ctMute);
    FConnector = new TAvMixerConnector(this);
    FPeakMeterControl = new TAvMixerControl(this);
    FPeakMeterControl->SetControlType(ctPeakMeter);
    FConnector->SetControl(FPeakMeterControl);
    FItem = -1;
    FLineObserver = std::make_unique<TAvObserver>();
    FLineObserver->OnNotify = [this](TObject*, TObject* data) { LineNotify(data); };
    FMixerObserver = std::make_unique<TAvObserver>();
    FMixerObserver->OnNotify = [this](TObject*, TObject* data) { MixerNotify(data); };
    FPeakObserver = std::make_unique<TAvObserver>();
    FPeakObserver->OnNotify = [this](TObject*, TObject* data) {
        if (dynamic_cast<TAvControlIdChange*>(data) && (FLeftLevel || FRightLevel)) Arrange();
    };
    FPeakMeterControl->AddObserver(FPeakObserver.get());
    SetColor(clBtnFace);
    SetTabStop(false);
    SetBounds(Left(), Top(), 100, 250);
}

TAvCustomMixerBlock::~TAvCustomMixerBlock() {
    Destroying();
    // The observers leave what they watch (safe also when that is half gone); the owned controls
    // and the connector go with the owned components.
    FLineObserver.reset();
    FMixerObserver.reset();
    FPeakObserver.reset();
}

void TAvCustomMixerBlock::SetLine(TAvAudioLine* line) {
    if (line == FLine) return;
    TAvCustomMixerControl* const owned[] = {FPanControl, FVolumeControl, FMuteControl,
                                            FPeakMeterControl};
    if (FLine) {
        FLineObserver->Detach();
        FLine->RemoveFreeNotification(this);
        for (TAvCustomMixerControl* c : owned)
            c->SetAudioLine(nullptr);
    }
    FLine = line;
    if (FLine) {
        FLine->FreeNotification(this);
        FLine->AddObserver(FLineObserver.get());
        for (TAvCustomMixerControl* c : owned)
            c->SetAudioLine(FLine);
    }
    Bind();
    Arrange();
}

void TAvCustomMixerBlock::SetMixer(TAvCustomMixerControl* mixer) {
    if (mixer == FMixer) return;
    if (FMixer) {
        FMixerObserver->Detach();
        FMixer->RemoveFreeNotification(this);
    }
    FMixer = mixer;
    if (FMixer) {
        FMixer->FreeNotification(this);
        FMixer->AddObserver(FMixerObserver.get());
    }
    Rebuild();
}

void TAvCustomMixerBlock::SetItem(TAvItemIndex v) {
    if (v == FItem) return;
    FItem = v;
    Rebuild();
}

void TAvCustomMixerBlock::SetStyle(TAvBlockStyle v) {
    if (v == FStyle || v != bsWin95) return;
    FStyle = v;
    Rebuild();
}

void TAvCustomMixerBlock::SetAutoArrange(bool v) {
    FAutoArrange = v;
    Arrange();
}

void TAvCustomMixerBlock::SetAutoSize(bool v) {
    FAutoSize = v;
    Arrange();
}

TAvMuteKind TAvCustomMixerBlock::MuteKind() const {
    return FCheck && FMixer && FCheck->Control() == FMixer ? mkSelect : mkMute;
}

void TAvCustomMixerBlock::LineNotify(TObject* data) {
    if (data && !dynamic_cast<TAvLineIdChange*>(data)) return;
    Bind();
    Arrange();
}

void TAvCustomMixerBlock::MixerNotify(TObject* data) {
    if (data && !dynamic_cast<TAvControlIdChange*>(data)) return;
    Rebuild();
}

void TAvCustomMixerBlock::Notification(TComponent* AComponent, TOperation Operation) {
    TAvCustomPanel::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    // The references go also while this block is being destroyed itself: its destructor must
    // not reach a line or control that went first.
    if (AComponent == FLine) {
        FLineObserver->Detach();
        if (IsDestroying())
            FLine = nullptr;
        else
            SetLine(nullptr);
    }
    if (AComponent == FMixer) {
        FMixerObserver->Detach();
        FMixer = nullptr;
        Rebuild();
    }
}

void TAvCustomMixerBlock::Loaded() {
    TAvCustomPanel::Loaded();
    Rebuild();
}

void TAvCustomMixerBlock::SetBounds(int left, int top, int width, int height) {
    TAvCustomPanel::SetBounds(left, top, width, height);
    Arrange();
}

void TAvCustomMixerBlock::ChildMessage(int code, TControl* child) {
    if (IsDestroying()) return;
    if (code == bcAddedNoRole && IsDesigning() && !IsLoading() && !IsReading()) AssignRole(child);
    if (code == bcRemoving) FRemovedChild = child;
    Rebuild();
}

void TAvCustomMixerBlock::AssignRole(TControl* child) {
    if (auto* s = dynamic_cast<TAvCustomBlockSlider*>(child)) {
        if (!FPanSlider)
            s->SetRole(srPan);
        else if (!FLeftSlider)
            s->SetRole(srLeftVolume);
        else if (!FRightSlider)
            s->SetRole(srRightVolume);
    } else if (auto* l = dynamic_cast<TAvCustomBlockLevel*>(child)) {
        if (!FLeftLevel)
            l->SetIndex(liLeft);
        else if (!FRightLevel)
            l->SetIndex(liRight);
    } else if (auto* b = dynamic_cast<TAvCustomBlockLabel*>(child)) {
        if (!FNameLabel)
            b->SetIndex(biName);
        else if (!FBalanceLabel)
            b->SetIndex(biBalance);
        else if (!FVolumeLabel)
            b->SetIndex(biVolume);
    }
}

void TAvCustomMixerBlock::Rebuild() {
    if (IsDestroying() || IsLoading()) {
        if (!IsDestroying()) FRemovedChild = nullptr;
        return;
    }
    Scan();
    Bind();
    Arrange();
}

void TAvCustomMixerBlock::ScanControl(TWinControl* parent, std::vector<TControl*>& seen) {
    for (TControl* c : parent->ControlList()) {
        if (c == FRemovedChild) continue;
        if (auto* s = dynamic_cast<TAvCustomBlockSlider*>(c)) {
            seen.push_back(c);
            if (s->Role() == srPan)
                FPanSlider = s;
            else if (s->Role() == srLeftVolume)
                FLeftSlider = s;
            else
                FRightSlider = s;
        } else if (auto* k = dynamic_cast<TAvCustomBlockCheck*>(c)) {
            seen.push_back(c);
            FCheck = k;
        } else if (auto* l = dynamic_cast<TAvCustomBlockLevel*>(c)) {
            (l->Index() == liLeft ? FLeftLevel : FRightLevel) = l;
        } else if (auto* b = dynamic_cast<TAvCustomBlockLabel*>(c)) {
            if (b->Index() == biName)
                FNameLabel = b;
            else if (b->Index() == biBalance)
                FBalanceLabel = b;
            else
                FVolumeLabel = b;
        } else if (auto* w = dynamic_cast<TWinControl*>(c)) {
            ScanControl(w, seen);
        }
    }
}

void TAvCustomMixerBlock::Scan() {
    FPanSlider = FLeftSlider = FRightSlider = nullptr;
    FCheck = nullptr;
    FLeftLevel = FRightLevel = nullptr;
    FNameLabel = FBalanceLabel = FVolumeLabel = nullptr;
    std::vector<TControl*> seen;
    ScanControl(this, seen);
    FRemovedChild = nullptr;
    // A slider or box that lost its slot to a later one is no longer bound to
    // anything.
    for (TControl* c : seen) {
        if (c == FPanSlider || c == FLeftSlider || c == FRightSlider || c == FCheck) continue;
        if (auto* s = dynamic_cast<TAvCustomBlockSlider*>(c)) s->SetControl(nullptr);
        if (auto* k = dynamic_cast<TAvCustomBlockCheck*>(c)) k->SetControl(nullptr);
    }
}

void TAvCustomMixerBlock::Bind() {
    if (IsDestroying()) return;
    if (FPanSlider) FPanSlider->SetControl(FPanControl);
    if (FCheck) {
        TAvItemIndex item = -1;
        if (FMixer && FMixer->IsValid() && LiveLine()) {
            item = FItem;
            if (item == -1) item = FMixer->FindItem(LiveLine());
        }
        FCheck->SetControl(item == -1 ? static_cast<TAvCustomMixerControl*>(FMuteControl) : FMixer);
        FCheck->SetItem(item);
    }
    if (FLeftSlider) {
        FLeftSlider->SetControl(FVolumeControl);
        FLeftSlider->SetChannel(FRightSlider ? 1 : 0);
    }
    if (FRightSlider) {
        FRightSlider->SetControl(FVolumeControl);
        FRightSlider->SetChannel(FLeftSlider ? 2 : 0);
    }
    FConnector->SetLevel1(FLeftLevel);
    FConnector->SetLevel2(FRightLevel);
}

bool TAvCustomMixerBlock::Placed(const TControl* child) const {
    return child && FAutoArrange && child->Parent() == this;
}

void TAvCustomMixerBlock::Arrange() {
    if (IsLoading() || IsDestroying() || !Parent() || FStyle != bsWin95 || FArranging) return;
    FArranging = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{FArranging};

    const QFontMetrics fm(Font()->ToQFont());
    const int cw = fm.horizontalAdvance(QStringLiteral("A"));
    const int hh = fm.height() / 2;
    const int ext = BevelExtent();
    TRect r = ClientRect();
    r.Left += ext + cw;
    r.Right -= ext + cw;
    r.Top += ext + hh;
    r.Bottom -= ext + hh;
    int top = r.Top, bottom = r.Bottom;
    const int left = r.Left, right = r.Right;
    auto advance = [&](int n) { top = std::min(top + n, bottom); };
    auto retreat = [&](int n) { bottom = std::max(bottom - n, top); };
    auto placeRow = [&](TControl* c) {
        int w = FAutoSize ? right - left : c->Width();
        c->SetBounds(left, top, w, c->Height());
    };

    if (FNameLabel) {
        if (Placed(FNameLabel)) placeRow(FNameLabel);
        FNameLabel->SetCaption(LiveLine() ? LiveLine()->LineInfo()->Name()
                                          : QStringLiteral("Not connected"));
        if (Placed(FNameLabel)) advance(FNameLabel->Height() + hh);
    }
    if (FBalanceLabel) {
        if (Placed(FBalanceLabel)) placeRow(FBalanceLabel);
        FBalanceLabel->SetCaption(QStringLiteral("Balance:"));
        advance(FBalanceLabel->Height());
    }
    if (FPanSlider) {
        if (Placed(FPanSlider)) {
            if (FAutoSize)
                FPanSlider->SetBounds(left, top, right - left, FPanSlider->Height());
            else
                FPanSlider->SetBounds(left + (right - left - FPanSlider->Width()) / 2, top,
                                      FPanSlider->Width(), FPanSlider->Height());
            advance(FPanSlider->Height() + hh);
        }
    }
    advance(hh);
    if (FVolumeLabel) {
        if (Placed(FVolumeLabel)) placeRow(FVolumeLabel);
        FVolumeLabel->SetCaption(QStringLiteral("Volume:"));
        advance(FVolumeLabel->Height());
    }
    if (FCheck) {
        if (Placed(FCheck)) {
            const int y = bottom - FCheck->Height();
            if (FAutoSize)
                FCheck->SetBounds(left, y, right - left, FCheck->Height());
            else
                FCheck->SetBounds(left + (right - left - FCheck->Width()) / 2, y, FCheck->Width(),
                                  FCheck->Height());
        }
        retreat(FCheck->Height() + hh);
    }

    const bool sliders = FLeftSlider || FRightSlider;
    const bool levels =
        (FLeftLevel || FRightLevel) && (IsDesigning() || FPeakMeterControl->IsValid());
    for (TAvCustomBlockLevel* l : {FLeftLevel, FRightLevel}) {
        if (!l) continue;
        l->SetKind(lkVertical);
        l->SetVisible(levels);
    }
    const int w = right - left;
    const int sliderShare = (w / 4) * 3;
    if (sliders && levels) {
        ArrangePair(FLeftSlider, FRightSlider, Rect(left, top, left + sliderShare, bottom), cw);
        ArrangePair(FLeftLevel, FRightLevel, Rect(left + sliderShare, top, right, bottom), cw);
    } else if (sliders) {
        ArrangePair(FLeftSlider, FRightSlider, Rect(left, top, right, bottom), cw);
    } else if (levels) {
        ArrangePair(FLeftLevel, FRightLevel, Rect(left, top, right, bottom), cw);
    }

    if (FAutoArrange) {
        int order = 0;
        for (TWinControl* c :
             std::initializer_list<TWinControl*>{FPanSlider, FLeftSlider, FRightSlider, FCheck}) {
            if (c) {
                c->SetTabOrder(order);
                c->SetTabStop(true);
            }
            ++order;
        }
    }
}

void TAvCustomMixerBlock::ArrangePair(TControl* a, TControl* b, const TRect& q, int cw) {
    if (!FAutoArrange) return;
    const int h = q.Height(), w = q.Width(), half = w / 2, g = cw;
    if (Placed(a)) {
        const int shareW = b ? half - g / 2 : w;
        if (FAutoSize)
            a->SetBounds(q.Left, q.Top, shareW, h);
        else
            a->SetBounds(q.Left + (shareW - a->Width()) / 2, q.Top + (h - a->Height()) / 2,
                         a->Width(), a->Height());
    }
    if (Placed(b)) {
        const int shareL = a ? q.Left + half + g / 2 : q.Left;
        const int shareW = a ? half - g / 2 : w;
        if (FAutoSize)
            b->SetBounds(shareL, q.Top, q.Right - shareL, h);
        else
            b->SetBounds(shareL + (shareW - b->Width()) / 2, q.Top + (h - b->Height()) / 2,
                         b->Width(), b->Height());
    }
}
