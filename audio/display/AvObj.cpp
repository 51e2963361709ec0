#include "audio/display/AvObj.h"

#include "resources/AvResources.h"

#include <QCursor>
#include <QPixmap>

// --- Cursors ------------------------------------------------------------------------------------

void AvRegisterCursors() {
    static bool done = false;
    if (done || !Screen) return;
    done = true;
    // The hand is the library's own picture; the others have no picture of their own and show
    // the standard arrow.
    for (TCursor c = crAvFirst; c <= crAvLast; ++c)
        if (!Screen->HasCursor(c)) Screen->SetCursorShape(c, QCursor(Qt::ArrowCursor));
    const QPixmap hand(av::ResourcePath(QStringLiteral("cursor_2005.png")));
    Screen->SetCursorShape(crAvHand,
                           hand.isNull() ? QCursor(Qt::PointingHandCursor) : QCursor(hand, 7, 1));
}

// --- TAvObject ----------------------------------------------------------------------------------

void TAvObject::BeginUpdate() {
    if (FUpdateCount == 0) Changed(true);
    ++FUpdateCount;
}

void TAvObject::EndUpdate() {
    if (FUpdateCount == 0) return; // unpaired: keep the counter usable
    if (--FUpdateCount == 0) Changed(false);
}

void TAvObject::Changed(bool starting) {
    if (FUpdateCount != 0) return;
    if (starting)
        OnChanging(this);
    else
        OnChange(this);
}

// --- TAvBevel -----------------------------------------------------------------------------------

void TAvBevel::SetBevelInner(TBevelCut v) {
    Store(FBevelInner, v);
}
void TAvBevel::SetBevelOuter(TBevelCut v) {
    Store(FBevelOuter, v);
}
void TAvBevel::SetBevelInnerWidth(TBevelWidth v) {
    Store(FBevelInnerWidth, v);
}
void TAvBevel::SetBevelOuterWidth(TBevelWidth v) {
    Store(FBevelOuterWidth, v);
}
void TAvBevel::SetBorderStyle(TBorderStyle v) {
    Store(FBorderStyle, v);
}
void TAvBevel::SetBorderWidth(TBorderWidth v) {
    Store(FBorderWidth, v);
}
void TAvBevel::SetBorderSpace(TBorderWidth v) {
    Store(FBorderSpace, v);
}

TColor TAvBevel::GetColor(int index) const {
    return index >= 0 && index < 6 ? FColors[index] : clNone;
}

void TAvBevel::SetColor(int index, TColor v) {
    if (index < 0 || index >= 6) return;
    Store(FColors[index], v);
}

void TAvBevel::Assign(const TPersistent* source) {
    const auto* src = dynamic_cast<const TAvBevel*>(source);
    if (!src) {
        TAvObject::Assign(source);
        return;
    }
    if (src == this) return;
    BeginUpdate();
    SetBevelInner(src->FBevelInner);
    SetBevelOuter(src->FBevelOuter);
    SetBevelInnerWidth(src->FBevelInnerWidth);
    SetBevelOuterWidth(src->FBevelOuterWidth);
    SetBorderStyle(src->FBorderStyle);
    SetBorderWidth(src->FBorderWidth);
    SetBorderSpace(src->FBorderSpace);
    for (int i = 0; i < 6; ++i)
        SetColor(i, src->FColors[i]);
    EndUpdate();
}

int TAvBevel::BevelExtent() const {
    int e = FBorderWidth + FBorderSpace;
    if (FBevelOuter != bvNone) e += FBevelOuterWidth;
    if (FBevelInner != bvNone) e += FBevelInnerWidth;
    if (FBorderStyle != bsNone) e += 1;
    return e;
}

TRect TAvBevel::Paint(TCanvas* canvas, const TRect& outer, bool fillBorder) {
    TRect r = outer;
    auto bevel = [&](TBevelCut cut, TColor light, TColor shadow, int width) {
        // bvSpace takes its width in the extent but is neither painted nor shrunk here: the
        // control's background fill covers it.
        if (cut == bvLowered)
            canvas->Frame3D(r, shadow, light, width);
        else if (cut == bvRaised)
            canvas->Frame3D(r, light, shadow, width);
    };
    if (!canvas) return r;
    if (FBorderStyle == bsSingle) canvas->Frame3D(r, clWindowFrame, clWindowFrame, 1);
    bevel(FBevelOuter, OuterLightColor(), OuterShadowColor(), FBevelOuterWidth);
    if (fillBorder)
        canvas->Frame3D(r, BorderColor(), BorderColor(), FBorderWidth);
    else
        InflateRect(r, -FBorderWidth, -FBorderWidth);
    bevel(FBevelInner, InnerLightColor(), InnerShadowColor(), FBevelInnerWidth);
    if (FBorderSpace != 0) canvas->Frame3D(r, BorderSpaceColor(), BorderSpaceColor(), FBorderSpace);
    return r;
}

// --- Components ---------------------------------------------------------------------------------

void TAvComponent::SetDesignMode(bool designing) {
    if (IsDesigning() != designing) SetDesigning(designing, true);
}

namespace {

TRect ShrunkClient(const TControl* c, int extent) {
    TRect r = Rect(0, 0, c->Width(), c->Height());
    InflateRect(r, -extent, -extent);
    return r;
}

// Bevel, then the face in the control's colour.
TRect PaintFace(TControl* c, TAvBevel* bevel) {
    TCanvas* canvas = c->Canvas();
    const TRect inner = bevel->Paint(canvas, c->ClientRect(), true);
    canvas->Brush()->SetColor(c->Color());
    canvas->Brush()->SetStyle(bsSolid);
    canvas->FillRect(inner);
    return inner;
}

} // namespace

// --- TAvCustomControl ---------------------------------------------------------------------------

TAvCustomControl::TAvCustomControl(TComponent* AOwner) : TCustomControl(AOwner) {
    AvRegisterCursors();
    Bevel()->OnChange.Assign(this, &TAvCustomControl::BevelChanged);
    SetOpaque(true);
}

TRect TAvCustomControl::InnerRect() const {
    return ShrunkClient(this, BevelExtent());
}

void TAvCustomControl::SetDesignMode(bool designing) {
    if (IsDesigning() == designing) return;
    SetDesigning(designing, true);
    Invalidate();
}

void TAvCustomControl::Paint() {
    PaintFace(this, Bevel());
}

void TAvCustomControl::BevelChanged(TObject*) {
    Invalidate();
}

// --- TAvCustomPanel -----------------------------------------------------------------------------

TAvCustomPanel::TAvCustomPanel(TComponent* AOwner) : TCustomPanel(AOwner) {
    AvRegisterCursors();
    SetBorderWidth(0);
    SetBevelOuter(bvNone);
    SetBevelInner(bvNone);
    Bevel()->OnChange.Assign(this, &TAvCustomPanel::BevelChanged);
}

TRect TAvCustomPanel::InnerRect() const {
    return ShrunkClient(this, BevelExtent());
}

void TAvCustomPanel::SetDesignMode(bool designing) {
    if (IsDesigning() == designing) return;
    SetDesigning(designing, true);
    Invalidate();
}

void TAvCustomPanel::AdjustClientRect(TRect& r) const {
    TCustomPanel::AdjustClientRect(r);
    const int e = BevelExtent();
    InflateRect(r, -e, -e);
}

void TAvCustomPanel::BevelChanged(TObject*) {
    Realign();
    Invalidate();
}

void TAvCustomPanel::Paint() {
    const TRect inner = PaintFace(this, Bevel());
    if (Caption().isEmpty()) return;
    TCanvas* canvas = Canvas();
    canvas->Brush()->SetStyle(bsClear);
    canvas->Font()->Assign(Font());
    const int h = canvas->TextHeight(QStringLiteral("W"));
    TRect band = inner;
    band.Top = (inner.Top + inner.Bottom - h) >> 1;
    band.Bottom = band.Top + h;
    int align = Qt::AlignHCenter;
    if (Alignment() == taLeftJustify) align = Qt::AlignLeft;
    if (Alignment() == taRightJustify) align = Qt::AlignRight;
    canvas->DrawText(band, Caption(),
                     align | Qt::AlignVCenter | Qt::TextExpandTabs | Qt::TextShowMnemonic);
}

// --- TAvGraphicControl --------------------------------------------------------------------------

TAvGraphicControl::TAvGraphicControl(TComponent* AOwner) : TGraphicControl(AOwner) {
    AvRegisterCursors();
    Bevel()->OnChange.Assign(this, &TAvGraphicControl::BevelChanged);
    SetOpaque(true);
}

TRect TAvGraphicControl::InnerRect() const {
    return ShrunkClient(this, BevelExtent());
}

void TAvGraphicControl::SetDesignMode(bool designing) {
    if (IsDesigning() != designing) SetDesigning(designing, true);
}

void TAvGraphicControl::Paint() {
    PaintFace(this, Bevel());
}

void TAvGraphicControl::BevelChanged(TObject*) {
    Invalidate();
}
