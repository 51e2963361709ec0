#pragma once
// The library's track bar: a groove with optional tick scales, a rectangular thumb the user drags,
// clicks to or moves with the keyboard, optional pictures at the two ends, a focus indication and
// an optional logarithmic (decibel) mapping between the program's Position and the thumb's place.
//
// Painting composes the whole slider in an off-screen bitmap and copies it to the screen once;
// sliders of equal size share that bitmap through TBitmapCache (painting is sequential on the main
// thread, so one bitmap serves them all). A position change repaints only when the thumb moves.
//
// Everything here runs on the main thread.
#include "audio/display/AvObj.h"
#include "audio/display/AvScale.h"
#include "framework/ExtCtrls.h"
#include "framework/Graphics.h"

#include <memory>
#include <vector>

enum TAvOrientation : std::uint8_t { orVertical, orHorizontal };
enum TAvThumbStyle : std::uint8_t { tsRect, tsOwnerDraw };
enum TAvGrooveStyle : std::uint8_t { gsBevel, gsOwnerDraw };
enum TAvFocusAction : std::uint8_t { faNone, faFocusThumb, faFocusRect, faFocusColor, faAll };
enum TAvScalePos : std::uint8_t { spAboveOrLeft, spBelowOrRight, spBoth };

// (Sender, canvas, thumb rectangle, dragged, focused-blink state)
using TAvThumbDrawEvent = TEvent<TObject*, TCanvas*, const TRect&, bool, bool>;
// (Sender, canvas, groove rectangle: the handler may shrink it to the channel it leaves)
using TAvGrooveDrawEvent = TEvent<TObject*, TCanvas*, TRect&>;

// The colour of the active window caption (the slider's default focus colour).
constexpr TColor clActiveCaption = SystemColor(COLOR_ACTIVECAPTION);

// Answer to the dialog-code query: the slider wants the arrow keys.
constexpr int DLGC_WANTARROWS = 0x0001;

// Off-screen bitmaps shared by size. One cache per process, created on first use and freed when
// its last entry goes. Main thread only.
class TBitmapCache {
public:
    // The bitmap of exactly w x h (negative sizes count as 0), its use count raised by one.
    static TBitmap* Acquire(int w, int h);
    // Lowers the use count of bitmap's entry; at 0 frees the bitmap. Always clears bitmap.
    static void Release(TBitmap*& bitmap);
    // Entries held now (0 when the cache does not exist) and the use count of one bitmap.
    static int EntryCount();
    static int UseCount(const TBitmap* bitmap);

private:
    struct Entry {
        std::unique_ptr<TBitmap> bitmap;
        int count = 0;
    };
    static TBitmapCache*& Instance();
    std::vector<Entry> FEntries;
};

class TAvCustomSlider : public TAvCustomControl {
    Q_OBJECT
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(bool Logarithmic READ Logarithmic WRITE SetLogarithmic)
    Q_PROPERTY(int Sensitivity READ Sensitivity WRITE SetSensitivity)
    Q_PROPERTY(int Orientation READ OrientationInt WRITE SetOrientationInt)
    Q_PROPERTY(int LineSize READ LineSize WRITE SetLineSize)
    Q_PROPERTY(int PageSize READ PageSize WRITE SetPageSize)
    Q_PROPERTY(int GrooveSize READ GrooveSize WRITE SetGrooveSize)
    Q_PROPERTY(int ThumbWidth READ ThumbWidth WRITE SetThumbWidth)
    Q_PROPERTY(int ThumbHeight READ ThumbHeight WRITE SetThumbHeight)
    Q_PROPERTY(int ThumbColor READ ThumbColor WRITE SetThumbColor)
    Q_PROPERTY(int GrooveColor READ GrooveColor WRITE SetGrooveColor)
    Q_PROPERTY(int FocusColor READ FocusColor WRITE SetFocusColor)
    Q_PROPERTY(int DisabledColor READ DisabledColor WRITE SetDisabledColor)
    Q_PROPERTY(int FocusAction READ FocusActionInt WRITE SetFocusActionInt)
    Q_PROPERTY(bool HandCursor READ HandCursor WRITE SetHandCursor)
    Q_PROPERTY(int ScalePosition READ ScalePositionInt WRITE SetScalePositionInt)
    Q_PROPERTY(int ScaleDistance READ ScaleDistance WRITE SetScaleDistance)
public:
    explicit TAvCustomSlider(TComponent* AOwner);
    ~TAvCustomSlider() override;

    // The program's value: the thumb's place, or with Logarithmic the linear amplitude on 0 .. R
    // (R = Max - Min) whose decibel value the thumb shows.
    int Position() const;
    void SetPosition(int v);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    void SetMin(int v) { SetRange(v, FMax); }
    void SetMax(int v) { SetRange(FMin, v); }
    // Outside loading Max is kept at least Min + 1; the program's Position is kept in range.
    void SetRange(int newMin, int newMax);
    // The thumb's place on Min .. Max.
    int ThumbPosition() const { return FPosition; }

    bool Logarithmic() const { return FLogarithmic; }
    void SetLogarithmic(bool v);
    // Decibels at the bottom of the logarithmic travel, limited to -96 .. -20.
    int Sensitivity() const { return FSensitivity; }
    void SetSensitivity(int v);

    TAvOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TAvOrientation v);
    int LineSize() const { return FLineSize; }
    void SetLineSize(int v) { FLineSize = v; }
    int PageSize() const { return FPageSize; }
    void SetPageSize(int v) { FPageSize = v; }

    TAvBevel* Groove() const { return FGroove.get(); }
    void SetGroove(const TAvBevel* v) { FGroove->Assign(v); }
    int GrooveSize() const { return FGrooveSize; }
    void SetGrooveSize(int v);
    TAvGrooveStyle GrooveStyle() const { return FGrooveStyle; }
    void SetGrooveStyle(TAvGrooveStyle v);
    int ThumbWidth() const { return FThumbWidth; }
    void SetThumbWidth(int v);
    int ThumbHeight() const { return FThumbHeight; }
    void SetThumbHeight(int v);
    TAvThumbStyle ThumbStyle() const { return FThumbStyle; }
    void SetThumbStyle(TAvThumbStyle v);
    bool RaisedThumb() const { return FRaisedThumb; }
    void SetRaisedThumb(bool v);
    TColor ThumbColor() const { return FThumbColor; }
    void SetThumbColor(TColor v);
    TColor GrooveColor() const { return FGrooveColor; }
    void SetGrooveColor(TColor v);
    TColor FocusColor() const { return FFocusColor; }
    void SetFocusColor(TColor v);
    TColor DisabledColor() const { return FDisabledColor; }
    void SetDisabledColor(TColor v);
    TAvFocusAction FocusAction() const { return FFocusAction; }
    void SetFocusAction(TAvFocusAction v);
    bool HandCursor() const { return FHandCursor; }
    void SetHandCursor(bool v) { FHandCursor = v; }
    TCursor ThumbCursor() const { return FThumbCursor; }
    void SetThumbCursor(TCursor v) { FThumbCursor = v; }

    TAvScale* Scale() const { return FScale.get(); }
    void SetScale(const TAvScale* v) { FScale->Assign(v); }
    TAvScalePos ScalePosition() const { return FScalePosition; }
    void SetScalePosition(TAvScalePos v);
    int ScaleDistance() const { return FScaleDistance; }
    void SetScaleDistance(int v);
    TBitmap* PicLeft() const { return FPicLeft.get(); }
    void SetPicLeft(const TBitmap* v) { FPicLeft->Assign(v); }
    TBitmap* PicRight() const { return FPicRight.get(); }
    void SetPicRight(const TBitmap* v) { FPicRight->Assign(v); }

    // Where the thumb was last painted (hit tests), and where it would be for a thumb position.
    TRect ThumbRect() const { return FThumbRect; }
    TRect ThumbRectFor(int thumbPosition) const;
    // The thumb position a click at (x, y) jumps to.
    int PointToPosition(int x, int y) const;
    bool Dragging() const { return FDragging; }
    bool Tracking() const { return FTracking; }
    bool Hot() const { return FHot; }
    bool BlinkState() const { return FBlink; }
    // The shared off-screen bitmap (nullptr until the first sizing after loading).
    TBitmap* OffscreenBitmap() const { return FBitmap; }
    // Repaint requests made so far (each thumb move that changes the thumb rectangle makes one).
    int RepaintRequests() const { return FRepaintRequests; }
    // Composes the whole slider into canvas, which must be at least the control's size; this is
    // what every paint does into the off-screen bitmap.
    void Compose(TCanvas* canvas);
    // The answer to the dialog-code query.
    int DialogCode() const { return DLGC_WANTARROWS; }
    // Whether the process-wide blink timer exists and which slider owns it.
    static TAvCustomSlider* BlinkTimerOwner();

    TNotifyEvent OnChange, OnTrack, OnTrackEnd;
    TAvThumbDrawEvent OnDrawThumb;
    TAvGrooveDrawEvent OnDrawGroove;

    void SetBounds(int left, int top, int width, int height) override;

    // A slider for screen readers: its value is the thumb's place as a percentage of the travel
    // (0 .. 100, the top or right end 100), which they may also set (AvSliderAccessible.cpp).
    QAccessibleInterface* CreateAccessible() override;
    int AccessibleValue() const;

protected:
    // Dynamic operations descendants override.
    virtual void Change();   // OnChange, not while loading or reading
    virtual void Track();    // tracking on, OnTrack
    virtual void TrackEnd(); // when tracking: OnTrackEnd, tracking off
    virtual void DrawThumb(TCanvas* canvas, const TRect& r, bool dragged, bool focused);
    virtual void DrawGroove(TCanvas* canvas, TRect& r);

    // The core of every movement of the thumb (user or program): limits p to Min .. Max, repaints
    // when the thumb moves, takes the program's value from the thumb and runs Change. False when
    // nothing changed.
    bool SetThumbPosition(int p);
    // Repaints (requests a paint of) the whole slider.
    void RepaintSlider();

    void Paint() override;
    void Loaded() override;
    void Resize() override;
    void EnabledChanged() override;
    void DoEnter() override;
    void DoExit() override;
    void KeyDown(WORD& key, TShiftState shift) override;
    void KeyUp(WORD& key, TShiftState shift) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseLeave() override;
    void BevelChanged(TObject* sender) override;
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    int OrientationInt() const { return FOrientation; }
    void SetOrientationInt(int v) { SetOrientation(static_cast<TAvOrientation>(v)); }
    int FocusActionInt() const { return FFocusAction; }
    void SetFocusActionInt(int v) { SetFocusAction(static_cast<TAvFocusAction>(v)); }
    int ScalePositionInt() const { return FScalePosition; }
    void SetScalePositionInt(int v) { SetScalePosition(static_cast<TAvScalePos>(v)); }
    template <class T> void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        RepaintSlider();
    }
    void PartChanged(TObject*) { RepaintSlider(); }
    // The decibel mapping: the program's value a thumb place shows, and the thumb place of a value.
    int ThumbToValue(int thumb) const;
    int ValueToThumb(int v) const;
    // Logarithmic: stores the program's value v and puts the thumb where it shows v. Writing the
    // value held already does nothing unless replace (a changed mapping) asks to place it anew.
    void MoveToValue(int v, bool replace);
    // Puts the thumb at p (limited), repainting when its rectangle moves; no Change.
    void PlaceThumb(int p);
    // Tells screen readers of a new AccessibleValue (only while one listens).
    void AccessibleValueChanged();
    friend class TAvSliderAccessible;
    // The inner rectangle less the end pictures: the thumb's travel.
    TRect TravelRect() const;
    TRect ThumbRectIn(const TRect& r, int thumbPosition) const;
    bool ScaleOn(TAvScalePos side) const;
    void AcquireBitmap();
    void UpdateBlink(bool run);
    void StopBlink();
    void BlinkTick(TObject*);
    void SetHot(bool hot);
    bool InFocus() const;
    void PaintThumb(TCanvas* canvas, const TRect& r);
    // One pass of Compose (within the painter's clip).
    void ComposeFace(TCanvas* canvas);

    TAvOrientation FOrientation = orHorizontal;
    int FMin = 0, FMax = 10;
    int FPosition = 0;
    int FValue = 0; // the program's Position while Logarithmic
    int FLineSize = 1, FPageSize = 5;
    bool FLogarithmic = false;
    int FSensitivity = -24;
    std::unique_ptr<TAvBevel> FGroove;
    int FGrooveSize = 3;
    TAvGrooveStyle FGrooveStyle = gsBevel;
    int FThumbWidth = 11, FThumbHeight = 23;
    TAvThumbStyle FThumbStyle = tsRect;
    bool FRaisedThumb = true;
    TColor FThumbColor = clBtnFace, FGrooveColor = clBtnFace;
    TColor FFocusColor = clActiveCaption;
    TColor FDisabledColor = clWhite;
    TAvFocusAction FFocusAction = faFocusRect;
    bool FHandCursor = false;
    TCursor FThumbCursor = crDefault;
    std::unique_ptr<TAvScale> FScale;
    TAvScalePos FScalePosition = spBelowOrRight;
    int FScaleDistance = 10;
    std::unique_ptr<TBitmap> FPicLeft, FPicRight;
    TRect FThumbRect;
    bool FDragging = false;
    int FDragOrigin = 0, FDragStart = 0;
    bool FHot = false;
    bool FBlink = false;
    bool FTracking = false;
    bool FRangeChanging = false;
    TBitmap* FBitmap = nullptr;
    int FRepaintRequests = 0;
};

// The slider with its properties published under the names the forms use.
class TAvSlider : public TAvCustomSlider {
    Q_OBJECT
public:
    using TAvCustomSlider::TAvCustomSlider;
};
