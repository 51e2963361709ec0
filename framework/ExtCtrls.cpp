#include "framework/ExtCtrls.h"

#include <QTimer>

// --- TCustomPanel --------------------------------------------------------------------------------

TCustomPanel::TCustomPanel(TComponent* AOwner) : TCustomControl(AOwner) {
    SetParentColor(false);
    SetColor(clBtnFace);
    SetBounds(0, 0, 185, 41);
}

void TCustomPanel::SetBevelOuter(TBevelCut v) {
    if (v == FBevelOuter) return;
    FBevelOuter = v;
    Realign();
    update();
}
void TCustomPanel::SetBevelInner(TBevelCut v) {
    if (v == FBevelInner) return;
    FBevelInner = v;
    Realign();
    update();
}
void TCustomPanel::SetBevelWidth(int v) {
    if (v == FBevelWidth) return;
    FBevelWidth = std::max(1, v);
    Realign();
    update();
}
void TCustomPanel::SetBorderWidth(int v) {
    if (v == FBorderWidth) return;
    FBorderWidth = std::max(0, v);
    Realign();
    update();
}
void TCustomPanel::SetBorderStyle(TBorderStyle v) {
    if (v == FBorderStyle) return;
    FBorderStyle = v;
    Realign();
    update();
}
void TCustomPanel::SetAlignment(TAlignment v) {
    FAlignment = v;
    update();
}
void TCustomPanel::SetCtl3D(bool v) {
    FCtl3D = v;
    update();
}

int TCustomPanel::PanelExtent() const {
    int e = FBorderWidth;
    if (FBevelOuter != bvNone) e += FBevelWidth;
    if (FBevelInner != bvNone) e += FBevelWidth;
    if (FBorderStyle == bsSingle) e += 1;
    return e;
}

void TCustomPanel::AdjustClientRect(TRect& r) const {
    const int e = PanelExtent();
    InflateRect(r, -e, -e);
}

void TCustomPanel::Paint() {
    TCanvas* c = Canvas();
    TRect r = ClientRect();
    if (FBorderStyle == bsSingle) c->Frame3D(r, clWindowFrame, clWindowFrame, 1);
    auto bevel = [&](TBevelCut cut) {
        if (cut == bvNone) return;
        if (cut == bvSpace) {
            InflateRect(r, -FBevelWidth, -FBevelWidth);
            return;
        }
        const TColor hi = cut == bvRaised ? clBtnHighlight : clBtnShadow;
        const TColor lo = cut == bvRaised ? clBtnShadow : clBtnHighlight;
        c->Frame3D(r, hi, lo, FBevelWidth);
    };
    bevel(FBevelOuter);
    c->Frame3D(r, Color(), Color(), FBorderWidth);
    bevel(FBevelInner);
    c->Brush()->SetColor(Color());
    c->FillRect(r);
    if (!Caption().isEmpty()) {
        int flags = Qt::AlignVCenter | Qt::TextShowMnemonic;
        flags |= FAlignment == taLeftJustify    ? Qt::AlignLeft
                 : FAlignment == taRightJustify ? Qt::AlignRight
                                                : Qt::AlignHCenter;
        c->DrawText(r, Caption(), flags);
    }
}

// --- TBevel --------------------------------------------------------------------------------------

TBevel::TBevel(TComponent* AOwner) : TGraphicControl(AOwner) {
    SetBounds(0, 0, 50, 50);
}

void TBevel::SetShape(TBevelShape v) {
    FShape = v;
    update();
}
void TBevel::SetStyle(TBevelStyle v) {
    FStyle = v;
    update();
}

void TBevel::Paint() {
    TCanvas* c = Canvas();
    const TColor c1 = FStyle == bsLowered ? clBtnShadow : clBtnHighlight;
    const TColor c2 = FStyle == bsLowered ? clBtnHighlight : clBtnShadow;
    const int w = Width(), h = Height();
    auto hline = [&](int y, TColor col) {
        c->Brush()->SetColor(col);
        c->FillRect(Rect(0, y, w, y + 1));
    };
    auto vline = [&](int x, TColor col) {
        c->Brush()->SetColor(col);
        c->FillRect(Rect(x, 0, x + 1, h));
    };
    switch (FShape) {
    case bsBox: {
        TRect r = ClientRect();
        c->Frame3D(r, c1, c2, 1);
        break;
    }
    case bsFrame: {
        TRect r = Rect(0, 0, w - 1, h - 1);
        c->Brush()->SetColor(c1);
        c->FrameRect(r);
        OffsetRect(r, 1, 1);
        c->Brush()->SetColor(c2);
        c->FrameRect(r);
        break;
    }
    case bsTopLine:
        hline(0, c1);
        hline(1, c2);
        break;
    case bsBottomLine:
        hline(h - 2, c1);
        hline(h - 1, c2);
        break;
    case bsLeftLine:
        vline(0, c1);
        vline(1, c2);
        break;
    case bsRightLine:
        vline(w - 2, c1);
        vline(w - 1, c2);
        break;
    case bsSpacer:
        break;
    }
}

// --- TImage --------------------------------------------------------------------------------------

TImage::TImage(TComponent* AOwner)
    : TGraphicControl(AOwner), FPicture(std::make_unique<TPicture>()) {
    FPicture->OnChange = [this](TObject*) { PictureChanged(); };
    SetBounds(0, 0, 105, 105);
}

TImage::~TImage() {
    FPicture->OnChange.Clear();
}

void TImage::SetPicture(const TPicture* p) {
    FPicture->Assign(p);
}

void TImage::PictureChanged() {
    if (FAutoSize && !FPicture->Empty())
        SetBounds(Left(), Top(), FPicture->Width(), FPicture->Height());
    update();
}

void TImage::SetAutoSize(bool v) {
    FAutoSize = v;
    PictureChanged();
}
void TImage::SetStretch(bool v) {
    FStretch = v;
    update();
}
void TImage::SetCenter(bool v) {
    FCenter = v;
    update();
}
void TImage::SetTransparent(bool v) {
    FTransparent = v;
    update();
}

void TImage::Paint() {
    if (FPicture->Empty()) return;
    TCanvas* c = Canvas();
    TBitmap* b = FPicture->Bitmap();
    if (FStretch) {
        c->StretchDraw(ClientRect(), b);
        return;
    }
    int x = 0, y = 0;
    if (FCenter) {
        x = (Width() - b->Width()) / 2;
        y = (Height() - b->Height()) / 2;
    }
    if (FTransparent)
        c->DrawTransparent(x, y, b, b->TransparentColor());
    else
        c->Draw(x, y, b);
}

// --- TTimer --------------------------------------------------------------------------------------

TTimer::TTimer(TComponent* AOwner) : TNonVisualComponent(AOwner), FTimer(new QTimer(this)) {
    connect(FTimer, &QTimer::timeout, this, [this] { GuardedCall(this, [this] { Timer(); }); });
}

TTimer::~TTimer() {
    FTimer->stop();
}

void TTimer::UpdateTimer() {
    const bool run = FEnabled && FInterval > 0 && FOnTimer && !IsDesigning() && !IsLoading();
    if (!run) {
        FTimer->stop();
        return;
    }
    FTimer->start(FInterval);
}

void TTimer::SetEnabled(bool v) {
    if (v == FEnabled) return;
    FEnabled = v;
    UpdateTimer();
}
void TTimer::SetInterval(int ms) {
    if (ms == FInterval) return;
    FInterval = ms;
    UpdateTimer();
}
void TTimer::SetOnTimer(TNotifyEvent handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}
void TTimer::Timer() {
    FOnTimer(this);
}
void TTimer::Loaded() {
    TNonVisualComponent::Loaded();
    UpdateTimer();
}
