#include "audio/mixer/AvSlider.h"

#include "framework/Forms.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPolygon>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Limits v to lo .. hi; lo wins when the range is empty (Max below Min while loading).
int Limit(int v, int lo, int hi) {
    return std::max(lo, std::min(v, hi));
}

// Nearest integer, halves to the even neighbour (the default rounding mode).
int RoundEven(double v) {
    if (!std::isfinite(v)) return 0;
    v = std::nearbyint(v);
    if (v > 2147483647.0) return 2147483647;
    if (v < -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(v);
}

// a * b / c through 64 bits, halves away from zero; 0 for a zero divisor.
int MulDiv(int a, int b, int c) {
    if (c == 0) return 0;
    const long long n = static_cast<long long>(a) * b;
    const bool negative = (n < 0) != (c < 0);
    const unsigned long long an = static_cast<unsigned long long>(std::llabs(n));
    const unsigned long long ac =
        static_cast<unsigned long long>(std::llabs(static_cast<long long>(c)));
    const unsigned long long q = (an + ac / 2) / ac;
    const long long r = negative ? -static_cast<long long>(q) : static_cast<long long>(q);
    return static_cast<int>(std::clamp<long long>(r, INT32_MIN, INT32_MAX));
}

bool IsNavigationKey(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

// Rows drawn at once. The raster engine hands fills and blits of more rows than this to its
// worker threads, which for a picture this small costs several times the drawing itself.
constexpr int kBand = 104;

// The one blink timer of all sliders and the slider that owns it.
TTimer* gBlinkTimer = nullptr;
TAvCustomSlider* gBlinkOwner = nullptr;

} // namespace

// --- TBitmapCache -------------------------------------------------------------------------------

TBitmapCache*& TBitmapCache::Instance() {
    static TBitmapCache* instance = nullptr;
    return instance;
}

TBitmap* TBitmapCache::Acquire(int w, int h) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    TBitmapCache*& cache = Instance();
    if (!cache) cache = new TBitmapCache;
    for (Entry& e : cache->FEntries)
        if (e.bitmap->Width() == w && e.bitmap->Height() == h) {
            ++e.count;
            return e.bitmap.get();
        }
    Entry e;
    e.bitmap = std::make_unique<TBitmap>(w, h);
    e.count = 1;
    cache->FEntries.push_back(std::move(e));
    return cache->FEntries.back().bitmap.get();
}

void TBitmapCache::Release(TBitmap*& bitmap) {
    TBitmap* b = bitmap;
    bitmap = nullptr;
    TBitmapCache*& cache = Instance();
    if (!b || !cache) return;
    auto it = std::find_if(cache->FEntries.begin(), cache->FEntries.end(),
                           [b](const Entry& e) { return e.bitmap.get() == b; });
    if (it == cache->FEntries.end()) return;
    if (--it->count > 0) return;
    cache->FEntries.erase(it);
    if (cache->FEntries.empty()) {
        delete cache;
        cache = nullptr;
    }
}

int TBitmapCache::EntryCount() {
    const TBitmapCache* cache = Instance();
    return cache ? static_cast<int>(cache->FEntries.size()) : 0;
}

int TBitmapCache::UseCount(const TBitmap* bitmap) {
    const TBitmapCache* cache = Instance();
    if (!cache) return 0;
    for (const Entry& e : cache->FEntries)
        if (e.bitmap.get() == bitmap) return e.count;
    return 0;
}

// --- TAvCustomSlider: construction --------------------------------------------------------------

TAvCustomSlider::TAvCustomSlider(TComponent* AOwner)
    : TAvCustomControl(AOwner), FGroove(std::make_unique<TAvBevel>()),
      FScale(std::make_unique<TAvScale>()), FPicLeft(std::make_unique<TBitmap>()),
      FPicRight(std::make_unique<TBitmap>()) {
    FScale->SetVisible(false);
    FScale->SetOrigin(soOuter);
    FScale->SetConnect(true);
    FGroove->OnChange.Assign(this, &TAvCustomSlider::PartChanged);
    FScale->OnChange.Assign(this, &TAvCustomSlider::PartChanged);
    FPicLeft->OnChange.Assign(this, &TAvCustomSlider::PartChanged);
    FPicRight->OnChange.Assign(this, &TAvCustomSlider::PartChanged);
    Bevel()->SetBorderWidth(5);
    // The whole face comes from the off-screen bitmap: no background fill before painting.
    SetOpaque(false);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    SetTabStop(true);
    setMouseTracking(true); // the hot state follows the mouse without a button held
    SetBounds(Left(), Top(), 200, 40);
}

TAvCustomSlider::~TAvCustomSlider() {
    Destroying();
    StopBlink();
    TBitmapCache::Release(FBitmap);
    FGroove->OnChange.Clear();
    FScale->OnChange.Clear();
    FPicLeft->OnChange.Clear();
    FPicRight->OnChange.Clear();
}

// --- Position -----------------------------------------------------------------------------------

// With Logarithmic, the program's value is kept beside the thumb: several thumb places share one
// value at the bottom of the travel and several values one thumb place at the top, so neither can
// be computed from the other without losing steps. The value is what the program wrote last, or
// what the thumb shows after the user moved it; writing it again (the mixer's echo of a slider's
// own write) leaves the thumb alone.
int TAvCustomSlider::Position() const {
    return FLogarithmic ? FValue : FPosition;
}

void TAvCustomSlider::SetPosition(int v) {
    if (FLogarithmic)
        MoveToValue(v, false);
    else
        SetThumbPosition(Limit(v, FMin, FMax));
}

int TAvCustomSlider::ThumbToValue(int thumb) const {
    const int range = FMax - FMin;
    const double s = -static_cast<double>(FSensitivity);
    float y = static_cast<float>(Limit(thumb, FMin, FMax));
    if (y != 0.0f && range != 0)
        y = static_cast<float>(std::pow(10.0, (static_cast<double>(y) * s / range - s) / 20.0) *
                               range);
    return Limit(RoundEven(y), FMin, FMax);
}

int TAvCustomSlider::ValueToThumb(int v) const {
    const int range = FMax - FMin;
    const double s = -static_cast<double>(FSensitivity);
    int x = 0;
    // A negative amplitude has no decibel value; like 0 it means the bottom of the travel.
    if (v > 0 && range > 0) {
        const float d = static_cast<float>(20.0 * std::log10(static_cast<double>(v) / range) + s);
        const int raw = Limit(RoundEven(range * static_cast<double>(d) / s), FMin, FMax);
        x = RoundEven(static_cast<float>(raw));
    }
    return Limit(x, FMin, FMax);
}

void TAvCustomSlider::MoveToValue(int v, bool replace) {
    v = Limit(v, FMin, FMax);
    if (v == FValue && !replace && !FRangeChanging) return;
    const int thumb = ValueToThumb(v);
    if (v == FValue && thumb == FPosition && !FRangeChanging) return;
    FValue = v;
    PlaceThumb(thumb);
    if (!IsDesigning() && !IsLoading()) Change();
}

void TAvCustomSlider::PlaceThumb(int p) {
    const int old = FPosition;
    FPosition = Limit(p, FMin, FMax);
    if (FPosition != old) AccessibleValueChanged();
    if (IsDesigning() || IsLoading()) {
        RepaintSlider();
        return;
    }
    const TRect r = ThumbRectFor(FPosition);
    if (r != FThumbRect) {
        FThumbRect = r;
        RepaintSlider();
    }
}

bool TAvCustomSlider::SetThumbPosition(int p) {
    if (p == FPosition && !FRangeChanging) return false;
    PlaceThumb(p);
    if (FLogarithmic) FValue = ThumbToValue(FPosition);
    if (!IsDesigning() && !IsLoading()) Change();
    return true;
}

void TAvCustomSlider::SetRange(int newMin, int newMax) {
    if (newMin == FMin && newMax == FMax) return;
    FMin = newMin;
    FMax = IsLoading() ? newMax : std::max(newMax, newMin + 1);
    struct Flag {
        bool& f;
        explicit Flag(bool& f) : f(f) { f = true; }
        ~Flag() { f = false; }
    };
    {
        Flag flag(FRangeChanging);
        SetPosition(Limit(Position(), FMin, FMax));
    }
    RepaintSlider();
}

void TAvCustomSlider::SetLogarithmic(bool v) {
    if (v == FLogarithmic) return;
    const int p = Position();
    FLogarithmic = v;
    if (v)
        MoveToValue(p, true);
    else
        SetThumbPosition(Limit(p, FMin, FMax));
    RepaintSlider();
}

void TAvCustomSlider::SetSensitivity(int v) {
    v = Limit(v, -96, -20);
    if (v == FSensitivity) return;
    const int p = Position();
    FSensitivity = v;
    if (FLogarithmic) MoveToValue(p, true);
}

// --- Plain setters ------------------------------------------------------------------------------

void TAvCustomSlider::SetOrientation(TAvOrientation v) {
    if (v == FOrientation) return;
    FOrientation = v;
    if (IsDesigning() && !IsLoading()) {
        std::swap(FThumbWidth, FThumbHeight);
        const bool fits = v == orVertical ? Height() >= Width() : Width() >= Height();
        if (!fits) SetBounds(Left(), Top(), Height(), Width());
    }
    RepaintSlider();
}

void TAvCustomSlider::SetGrooveSize(int v) {
    Store(FGrooveSize, Limit(v, 0, 255));
}
void TAvCustomSlider::SetGrooveStyle(TAvGrooveStyle v) {
    Store(FGrooveStyle, v);
}
void TAvCustomSlider::SetThumbWidth(int v) {
    Store(FThumbWidth, Limit(v, 0, 255));
}
void TAvCustomSlider::SetThumbHeight(int v) {
    Store(FThumbHeight, Limit(v, 0, 255));
}
void TAvCustomSlider::SetThumbStyle(TAvThumbStyle v) {
    Store(FThumbStyle, v);
}
void TAvCustomSlider::SetRaisedThumb(bool v) {
    Store(FRaisedThumb, v);
}
void TAvCustomSlider::SetThumbColor(TColor v) {
    Store(FThumbColor, v);
}
void TAvCustomSlider::SetGrooveColor(TColor v) {
    Store(FGrooveColor, v);
}
void TAvCustomSlider::SetFocusColor(TColor v) {
    Store(FFocusColor, v);
}
void TAvCustomSlider::SetDisabledColor(TColor v) {
    Store(FDisabledColor, v);
}
void TAvCustomSlider::SetScalePosition(TAvScalePos v) {
    Store(FScalePosition, v);
}
void TAvCustomSlider::SetScaleDistance(int v) {
    Store(FScaleDistance, v);
}

void TAvCustomSlider::SetFocusAction(TAvFocusAction v) {
    if (v == FFocusAction) return;
    FFocusAction = v;
    UpdateBlink(Enabled());
    RepaintSlider();
}

// --- Dynamic operations -------------------------------------------------------------------------

void TAvCustomSlider::Change() {
    if (IsLoading() || IsReading()) return;
    OnChange(this);
}

void TAvCustomSlider::Track() {
    FTracking = true;
    OnTrack(this);
}

void TAvCustomSlider::TrackEnd() {
    if (!FTracking) return;
    // Cleared first so that a handler that raises cannot leave the gesture open.
    FTracking = false;
    OnTrackEnd(this);
}

void TAvCustomSlider::DrawThumb(TCanvas* canvas, const TRect& r, bool dragged, bool focused) {
    OnDrawThumb(this, canvas, r, dragged, focused);
}

void TAvCustomSlider::DrawGroove(TCanvas* canvas, TRect& r) {
    OnDrawGroove(this, canvas, r);
}

// --- Geometry -----------------------------------------------------------------------------------

bool TAvCustomSlider::ScaleOn(TAvScalePos side) const {
    return FScale->Visible() && FScalePosition == side;
}

TRect TAvCustomSlider::TravelRect() const {
    TRect r = InnerRect();
    if (FOrientation == orHorizontal) {
        if (!FPicLeft->Empty()) r.Left += FPicLeft->Width();
        if (!FPicRight->Empty()) r.Right -= FPicRight->Width();
    } else {
        if (!FPicLeft->Empty()) r.Top += FPicLeft->Height();
        if (!FPicRight->Empty()) r.Bottom -= FPicRight->Height();
    }
    return r;
}

TRect TAvCustomSlider::ThumbRectFor(int thumbPosition) const {
    return ThumbRectIn(TravelRect(), thumbPosition);
}

TRect TAvCustomSlider::ThumbRectIn(const TRect& r, int thumbPosition) const {
    const int range = FMax - FMin;
    int x, y;
    if (FOrientation == orHorizontal) {
        const int u = r.Width() - FThumbWidth;
        const int offset =
            range != 0 ? RoundEven(static_cast<double>(thumbPosition - FMin) * u / range) : 0;
        x = r.Left + Limit(offset, 0, u);
        if (ScaleOn(spBelowOrRight))
            y = r.Top;
        else if (ScaleOn(spAboveOrLeft))
            y = r.Top + r.Height() - FThumbHeight;
        else
            y = r.Top + r.Height() / 2 - FThumbHeight / 2;
    } else {
        const int u = r.Height() - FThumbHeight;
        const int offset =
            range != 0 ? RoundEven(static_cast<double>(thumbPosition - FMin) * u / range) : 0;
        y = r.Top + Limit(u - offset, 0, u);
        if (ScaleOn(spBelowOrRight))
            x = r.Left;
        else if (ScaleOn(spAboveOrLeft))
            x = r.Left + r.Width() - FThumbWidth;
        else
            x = r.Left + r.Width() / 2 - FThumbWidth / 2;
    }
    return Rect(x, y, x + FThumbWidth, y + FThumbHeight);
}

int TAvCustomSlider::PointToPosition(int x, int y) const {
    const TRect r = TravelRect();
    double f;
    if (FOrientation == orHorizontal) {
        const int u = r.Width() - FThumbWidth;
        if (u <= 0) return FPosition;
        f = static_cast<double>(x - r.Left - FThumbWidth / 2) / u;
    } else {
        const int u = r.Height() - FThumbHeight;
        if (u <= 0) return FPosition;
        f = static_cast<double>(r.Height() - FThumbHeight + r.Top + FThumbHeight / 2 - y) / u;
    }
    return Limit(RoundEven(f * (FMax - FMin) + FMin), FMin, FMax);
}

// --- Keyboard -----------------------------------------------------------------------------------

void TAvCustomSlider::KeyDown(WORD& key, TShiftState shift) {
    const int p = FPosition;
    const bool vertical = FOrientation == orVertical;
    bool known = true;
    int next = p;
    switch (key) {
    case VK_PRIOR:
        next = std::min(p + FPageSize, FMax);
        break;
    case VK_NEXT:
        next = std::max(p - FPageSize, FMin);
        break;
    case VK_END:
        next = vertical ? FMin : FMax;
        break;
    case VK_HOME:
        next = vertical ? FMax : FMin;
        break;
    case VK_UP:
    case VK_RIGHT:
        if (p < FMax) next = p + FLineSize;
        break;
    case VK_LEFT:
    case VK_DOWN:
        if (p > FMin) next = p - FLineSize;
        break;
    default:
        known = false;
    }
    if (known && SetThumbPosition(next)) Track();
    TAvCustomControl::KeyDown(key, shift);
}

void TAvCustomSlider::KeyUp(WORD& key, TShiftState shift) {
    TrackEnd();
    TAvCustomControl::KeyUp(key, shift);
}

bool TAvCustomSlider::event(QEvent* e) {
    // The arrow keys belong to the slider: no shortcut or dialog navigation may take them.
    if (e->type() == QEvent::ShortcutOverride &&
        IsNavigationKey(static_cast<QKeyEvent*>(e)->key())) {
        e->accept();
        return true;
    }
    return TAvCustomControl::event(e);
}

void TAvCustomSlider::keyPressEvent(QKeyEvent* e) {
    TAvCustomControl::keyPressEvent(e);
    // Handled here, so the key does not travel on to the parent window.
    if (IsNavigationKey(e->key())) e->accept();
}

// --- Mouse --------------------------------------------------------------------------------------

void TAvCustomSlider::SetHot(bool hot) {
    FHot = hot;
    TCursor c = Cursor();
    if (hot) c = FHandCursor ? crAvHand : FThumbCursor;
    if (c == crDefault || !Screen)
        unsetCursor();
    else
        QWidget::setCursor(Screen->CursorShape(c));
}

void TAvCustomSlider::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (CanFocus() && !hasFocus()) setFocus(Qt::MouseFocusReason);
    if (FThumbRect.Contains(x, y)) {
        if (button == mbLeft) FDragging = true;
        SetHot(true);
    }
    if (button == mbLeft) {
        FDragOrigin = FOrientation == orVertical ? y : x;
        FDragStart = FPosition;
        bool jumped = false;
        if (!FDragging) jumped = SetThumbPosition(PointToPosition(x, y));
        if (FDragging || !jumped) RepaintSlider();
        Track();
    }
    TAvCustomControl::MouseDown(button, shift, x, y);
}

void TAvCustomSlider::MouseMove(TShiftState shift, int x, int y) {
    if (!FDragging) {
        const bool hot = FThumbRect.Contains(x, y);
        if (hot != FHot) SetHot(hot);
    } else if (shift & ssLeft) {
        const TRect r = TravelRect();
        int delta;
        if (FOrientation == orVertical)
            delta = MulDiv(FDragOrigin - y, FMax - FMin, r.Height() - FThumbHeight);
        else
            delta = MulDiv(x - FDragOrigin, FMax - FMin, r.Width() - FThumbWidth);
        const long long next = static_cast<long long>(FDragStart) + delta;
        if (SetThumbPosition(Limit(
                static_cast<int>(std::clamp<long long>(next, INT32_MIN, INT32_MAX)), FMin, FMax)))
            Track();
    }
    TAvCustomControl::MouseMove(shift, x, y);
}

void TAvCustomSlider::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft) {
        FDragging = false;
        RepaintSlider();
        TrackEnd();
    }
    TAvCustomControl::MouseUp(button, shift, x, y);
}

void TAvCustomSlider::MouseLeave() {
    if (!FDragging && FHot) SetHot(false);
    TAvCustomControl::MouseLeave();
}

void TAvCustomSlider::wheelEvent(QWheelEvent* e) {
    // One notch moves one line step, upwards (or away from the user) towards Max.
    const int notches = e->angleDelta().y() / 120;
    if (notches == 0 || !isEnabled()) {
        e->ignore();
        return;
    }
    e->accept();
    GuardedCall(this, [&] {
        const long long next =
            static_cast<long long>(FPosition) + static_cast<long long>(notches) * FLineSize;
        if (SetThumbPosition(Limit(
                static_cast<int>(std::clamp<long long>(next, INT32_MIN, INT32_MAX)), FMin, FMax))) {
            Track();
            TrackEnd();
        }
    });
}

// --- Focus and blinking -------------------------------------------------------------------------

bool TAvCustomSlider::InFocus() const {
    return hasFocus();
}

TAvCustomSlider* TAvCustomSlider::BlinkTimerOwner() {
    return gBlinkTimer ? gBlinkOwner : nullptr;
}

void TAvCustomSlider::UpdateBlink(bool run) {
    if (gBlinkOwner == this) StopBlink();
    if (!run || IsDesigning() || !InFocus() ||
        (FFocusAction != faFocusThumb && FFocusAction != faAll))
        return;
    // One timer serves all sliders: a slider that still holds it gives it up.
    if (gBlinkOwner) gBlinkOwner->StopBlink();
    gBlinkTimer = new TTimer(this);
    gBlinkOwner = this;
    gBlinkTimer->SetInterval(500);
    gBlinkTimer->SetOnTimer(TNotifyEvent([this](TObject* sender) { BlinkTick(sender); }));
}

void TAvCustomSlider::StopBlink() {
    if (gBlinkOwner == this) {
        TTimer* t = gBlinkTimer;
        gBlinkTimer = nullptr;
        gBlinkOwner = nullptr;
        TComponent::Free(t);
        if (FBlink) RepaintSlider();
    }
    FBlink = false;
}

void TAvCustomSlider::BlinkTick(TObject*) {
    if (FDragging) {
        FBlink = true;
        return;
    }
    FBlink = !FBlink;
    RepaintSlider();
}

void TAvCustomSlider::DoEnter() {
    TAvCustomControl::DoEnter();
    if (FFocusAction != faNone) {
        UpdateBlink(true);
        RepaintSlider();
    }
}

void TAvCustomSlider::DoExit() {
    TAvCustomControl::DoExit();
    if (FFocusAction != faNone) {
        StopBlink();
        RepaintSlider();
    }
}

void TAvCustomSlider::EnabledChanged() {
    if (!Enabled()) StopBlink();
    RepaintSlider();
}

// --- Size ---------------------------------------------------------------------------------------

void TAvCustomSlider::Resize() {
    SetOrientation(Height() > Width() ? orVertical : orHorizontal);
    TAvCustomControl::Resize();
}

void TAvCustomSlider::SetBounds(int left, int top, int width, int height) {
    const int oldWidth = Width(), oldHeight = Height();
    TAvCustomControl::SetBounds(left, top, width, height);
    if ((Width() != oldWidth || Height() != oldHeight || !FBitmap) && !IsLoading()) AcquireBitmap();
}

void TAvCustomSlider::AcquireBitmap() {
    TBitmapCache::Release(FBitmap);
    FBitmap = TBitmapCache::Acquire(std::max(Width(), 0), std::max(Height(), 0));
    FThumbRect = ThumbRectFor(FPosition);
    Invalidate();
}

void TAvCustomSlider::Loaded() {
    TAvCustomControl::Loaded();
    AcquireBitmap();
}

void TAvCustomSlider::BevelChanged(TObject*) {
    RepaintSlider();
}

void TAvCustomSlider::RepaintSlider() {
    ++FRepaintRequests;
    Invalidate();
}

// --- Painting -----------------------------------------------------------------------------------

void TAvCustomSlider::Paint() {
    if (!FBitmap || FBitmap->Empty() || FBitmap->Width() < Width() ||
        FBitmap->Height() < Height()) {
        Canvas()->Brush()->SetStyle(bsSolid);
        Canvas()->Brush()->SetColor(Color());
        Canvas()->FillRect(ClientRect());
        return;
    }
    Compose(FBitmap->Canvas());
    const QImage& picture = FBitmap->Image();
    QPainter* screen = Canvas()->Painter();
    if (!screen) return;
    screen->setCompositionMode(QPainter::CompositionMode_Source);
    for (int y = 0; y < Height(); y += kBand) {
        const QRect band(0, y, Width(), std::min(kBand, Height() - y));
        screen->drawImage(band, picture, band);
    }
    screen->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TAvCustomSlider::Compose(TCanvas* canvas) {
    // Owner drawing runs once per paint; the rest is composed band by band (see kBand).
    QPainter* p = canvas->Painter();
    if (!p || Height() <= kBand || FThumbStyle == tsOwnerDraw || FGrooveStyle == gsOwnerDraw) {
        ComposeFace(canvas);
        return;
    }
    for (int y = 0; y < Height(); y += kBand) {
        p->setClipRect(QRect(0, y, Width(), std::min(kBand, Height() - y)));
        ComposeFace(canvas);
    }
    p->setClipping(false);
}

void TAvCustomSlider::ComposeFace(TCanvas* canvas) {
    const bool vertical = FOrientation == orVertical;
    const bool focused = InFocus();

    // 1. Bevel and face.
    const TRect inner = Bevel()->Paint(canvas, ClientRect(), true);
    canvas->Brush()->SetStyle(bsSolid);
    canvas->Brush()->SetColor(Color());
    canvas->FillRect(inner);
    TRect r = inner;

    // 2. End pictures, centred on the thumb's middle line.
    auto across = [&](int thumbSize) {
        const TRect& q = r;
        if (ScaleOn(spAboveOrLeft))
            return vertical ? q.Right - thumbSize / 2 : q.Bottom - thumbSize / 2;
        if (ScaleOn(spBelowOrRight))
            return vertical ? q.Left + thumbSize / 2 : q.Top + thumbSize / 2;
        return vertical ? q.Left + q.Width() / 2 : q.Top + q.Height() / 2;
    };
    auto drawPicture = [&](const TBitmap* pic, bool minimumEnd) {
        if (pic->Empty()) return;
        const int w = pic->Width(), h = pic->Height();
        if (vertical) {
            const int x = across(FThumbWidth) - w / 2;
            const int y = minimumEnd ? r.Top : r.Bottom - h;
            canvas->DrawTransparent(x, y, pic, pic->TransparentColor());
            (minimumEnd ? r.Top : r.Bottom) += minimumEnd ? h : -h;
        } else {
            const int y = across(FThumbHeight) - h / 2;
            const int x = minimumEnd ? r.Left : r.Right - w;
            canvas->DrawTransparent(x, y, pic, pic->TransparentColor());
            (minimumEnd ? r.Left : r.Right) += minimumEnd ? w : -w;
        }
    };
    drawPicture(FPicLeft.get(), true);
    drawPicture(FPicRight.get(), false);

    // 3. The thumb's place.
    FThumbRect = ThumbRectIn(r, FPosition);

    // 4. The groove across the travel.
    const int b = FGroove->BevelExtent();
    const int span = b + FGrooveSize + b;
    TRect g;
    if (vertical) {
        int left;
        if (ScaleOn(spBelowOrRight))
            left = r.Left + FThumbWidth / 2 - b - FGrooveSize / 2;
        else if (ScaleOn(spAboveOrLeft))
            left = r.Right - FThumbWidth / 2 - b - FGrooveSize / 2 - 1;
        else
            left = r.Left + r.Width() / 2 - b - FGrooveSize / 2;
        g = Rect(left, r.Top, left + span, r.Bottom);
    } else {
        int top;
        if (ScaleOn(spBelowOrRight))
            top = r.Top + FThumbHeight / 2 - b - FGrooveSize / 2;
        else if (ScaleOn(spAboveOrLeft))
            top = r.Bottom - FThumbHeight / 2 - b - FGrooveSize / 2 - 1;
        else
            top = r.Top + r.Height() / 2 - b - FGrooveSize / 2;
        g = Rect(r.Left, top, r.Right, top + span);
    }

    // 5. Scales.
    if (FScale->Visible()) {
        FScale->SetCanvas(canvas);
        const int t = FScale->ScaleExtent();
        const int d = FScaleDistance;
        const bool first = FScalePosition == spAboveOrLeft || FScalePosition == spBoth;
        const bool second = FScalePosition == spBelowOrRight || FScalePosition == spBoth;
        if (vertical) {
            const int top = g.Top + FThumbHeight / 2, bottom = g.Bottom - FThumbHeight / 2;
            if (first) FScale->DrawScale(Rect(g.Left - t - d, top, g.Left - d, bottom), true);
            if (second) FScale->DrawScale(Rect(g.Right + d, top, g.Right + t + d, bottom), false);
        } else {
            const int left = g.Left + FThumbWidth / 2, right = g.Right - FThumbWidth / 2;
            if (first) FScale->DrawScale(Rect(left, g.Top - t - d - 1, right, g.Top - d - 1), true);
            if (second)
                FScale->DrawScale(Rect(left, g.Bottom + d + 1, right, g.Bottom + t + d + 1), false);
        }
        FScale->SetCanvas(nullptr);
    }

    // 6. Groove body, channel fill and focus rectangle.
    TRect channel;
    if (FGrooveStyle == gsBevel) {
        channel = FGroove->Paint(canvas, g, true);
    } else {
        channel = g;
        if (vertical) {
            channel.Left += b;
            channel.Right -= b;
        } else {
            channel.Top += b;
            channel.Bottom -= b;
        }
        DrawGroove(canvas, channel);
    }
    const bool focusFill = focused && (FFocusAction == faFocusColor || FFocusAction == faAll);
    canvas->Brush()->SetStyle(bsSolid);
    canvas->Brush()->SetColor(focusFill ? FFocusColor : FGrooveColor);
    canvas->FillRect(channel);
    if (focused && (FFocusAction == faFocusRect || FFocusAction == faAll)) {
        TRect f = inner;
        const TAvBevel* bevel = Bevel();
        if ((bevel->BorderWidth() > 0 && bevel->BevelInner() == bvNone) || bevel->BorderSpace() > 0)
            InflateRect(f, 1, 1);
        // As the platform style draws the focus of its own controls (once the keyboard has
        // moved it), so a keyboard user sees the slider as any other control.
        if (QPainter* p = canvas->Painter(); p && !f.IsEmpty()) {
            QStyleOptionFocusRect o;
            o.initFrom(this);
            o.rect = QRect(f.Left, f.Top, f.Width(), f.Height());
            o.backgroundColor = palette().color(QPalette::Window);
            p->save();
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &o, p, this);
            p->restore();
        }
    }

    // 7. Thumb.
    if (FThumbStyle == tsRect)
        PaintThumb(canvas, FThumbRect);
    else
        DrawThumb(canvas, FThumbRect, FDragging, FBlink);
}

void TAvCustomSlider::PaintThumb(TCanvas* canvas, const TRect& thumb) {
    if (thumb.IsEmpty()) return;
    TRect t = thumb;
    if (FRaisedThumb) {
        canvas->Frame3D(t, clWindowFrame, clWindowFrame, 1);
    } else {
        canvas->Brush()->SetStyle(bsSolid);
        canvas->Brush()->SetColor(clWindowFrame);
        canvas->FillRect(Rect(t.Left, t.Bottom - 1, t.Right, t.Bottom));
        canvas->FillRect(Rect(t.Right - 1, t.Top, t.Right, t.Bottom));
        --t.Right;
        --t.Bottom;
    }
    if (t.IsEmpty()) return;
    const TRect frame = t;
    canvas->Frame3D(t, clBtnHighlight, clBtnShadow, 1);
    canvas->Brush()->SetStyle(bsSolid);
    canvas->Brush()->SetColor(clBtnHighlight);
    canvas->FillRect(Rect(frame.Right - 1, frame.Top, frame.Right, frame.Top + 1));
    canvas->FillRect(Rect(frame.Left, frame.Bottom - 1, frame.Left + 1, frame.Bottom));
    if (t.IsEmpty()) return;
    canvas->Brush()->SetColor(FThumbColor);
    canvas->FillRect(t);
    const bool disabled = !Enabled();
    if (!disabled && !FBlink) return;
    QPainter* p = canvas->Painter();
    if (!p) return;
    QPolygon dots;
    dots.reserve(t.Width() * t.Height() / 2 + 1);
    for (int y = t.Top; y < t.Bottom; ++y)
        for (int x = t.Left + ((t.Left ^ y) & 1); x < t.Right; x += 2)
            dots.append(QPoint(x, y));
    QPen pen(ToQColor(disabled ? FDisabledColor : clBlack));
    pen.setWidth(0);
    p->setPen(pen);
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->drawPoints(dots);
}
