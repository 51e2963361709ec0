#pragma once
// Off-screen drawing surface for displays that redraw many times a second: a device-independent
// pixel buffer (8-bit palette indexes or 24-bit blue-green-red) with a few raw-pixel primitives,
// copied to the screen in one blit per frame.
//
// The pixels live in a QImage (Format_Indexed8 or Format_BGR888) whose geometry is that of a DIB:
// rows of Width * bytes-per-pixel bytes padded to a multiple of 4. Rows are stored top-down (row y
// at Bits() + y * Stride()); every primitive addresses pixels by picture coordinates, so this is
// the same picture a bottom-up DIB holds, only with the memory rows in the other order.
//
// Threads: a surface belongs to the thread that created it, except that BeginDraw ... EndDraw may
// run on a thread that feeds a display. The drawing lock is process-wide: only one surface is
// between BeginDraw and EndDraw at a time, and other threads wait in BeginDraw.
//
// The surface is also a framework canvas: on a 24-bit surface the canvas operations (text, lines,
// frames) draw into the same picture. An 8-bit picture cannot take a painter, so there the canvas
// has no device and only the raw-pixel primitives draw.
#include "audio/display/AvObj.h"
#include "framework/Colors.h"
#include "framework/Exceptions.h"
#include "framework/Graphics.h"

#include <QImage>
#include <QList>
#include <cstdint>
#include <functional>
#include <memory>

class QObject;
class QPainter;

AV_DECLARE_EXCEPTION(EAvDIBError, Exception);

class TAvDIBCanvas : public TCanvas {
public:
    // owner: the control the surface belongs to (named in the rebuild-while-drawing error).
    explicit TAvDIBCanvas(QObject* owner = nullptr);
    ~TAvDIBCanvas() override;

    // 8 (palette indexes) or 24 (blue, green, red bytes); other values raise EAvDIBError.
    int BitsPerPixel() const { return m_bitsPerPixel; }
    void SetBitsPerPixel(int bits);
    int BytesPerPixel() const { return m_bitsPerPixel / 8; }
    // Kept for the owners that set them; a true-colour screen needs no palette realisation.
    bool PaletteRealize() const { return m_paletteRealize; }
    void SetPaletteRealize(bool value);
    bool PaletteMapped() const { return m_paletteMapped; }
    void SetPaletteMapped(bool value) { m_paletteMapped = value; }
    // Picture copied into the background image when the surface is built; empty for none.
    // Changing the owned bitmap rebuilds the surface (refused while drawing).
    TBitmap* BackGroundBitmap() const { return m_backGroundBitmap.get(); }
    void SetBackGroundBitmap(const TBitmap* picture) { m_backGroundBitmap->Assign(picture); }
    void SetBackGroundImage(const QImage& picture) { m_backGroundBitmap->SetImage(picture); }
    bool StretchBackGround() const { return m_stretchBackGround; }
    void SetStretchBackGround(bool value);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetWidth(int width) { SetSize(width, m_height); }
    void SetHeight(int height) { SetSize(m_width, height); }
    // Marks a rebuild; it happens at the next BeginDraw or CreateHandle (also safe while drawing:
    // the pass in progress keeps the old geometry). Canvas operations before that still go to the
    // old picture.
    void SetSize(int width, int height);
    // Bytes per pixel row (a multiple of 4).
    int Stride() const { return StrideFor(m_width, m_bitsPerPixel); }
    static int StrideFor(int width, int bitsPerPixel);

    // Allocates the pixel memory when none exists and rebuilds when needed.
    void CreateHandle();
    // Drops and builds the picture, palette and background image again; refused while drawing.
    void Rebuild();
    bool RebuildNeeded() const { return m_rebuildNeeded; }

    // The drawing bracket (same thread for both; every BeginDraw is paired with one EndDraw).
    void BeginDraw();
    void EndDraw();
    bool Drawing() const { return m_drawing; }

    // RGB value with red in the low byte (24-bit), or the nearest palette index (8-bit).
    std::uint32_t ColorToValue(TColor color) const;
    void SetDrawColor(TColor color);
    // A raw palette index (8-bit) or raw colour value (24-bit).
    void SetDrawIndex(std::uint32_t value);
    std::uint32_t DrawValue() const { return m_state.value; }

    // Raw-pixel primitives, valid between BeginDraw and EndDraw (otherwise they do nothing and
    // GetPixel gives -1). Clipped to (0, 0, Width, Height); right and bottom edges exclusive.
    void SetPixel(int x, int y, std::uint32_t value);
    std::int32_t GetPixel(int x, int y) const;
    void Clear();
    // These hide the canvas's brush FillRect: on a surface FillRect is the raw primitive.
    void FillRect(int left, int top, int right, int bottom);
    void FillRect(const TRect& r) { FillRect(r.Left, r.Top, r.Right, r.Bottom); }
    void FillRectDotted(int left, int top, int right, int bottom);
    void FillRectDotted(const TRect& r) { FillRectDotted(r.Left, r.Top, r.Right, r.Bottom); }
    // Copies from a pixel buffer of this surface's geometry (for example BackgroundBits() or the
    // bits of another surface of equal size); both rectangles clipped, overlap allowed.
    void CopyRect(int dx, int dy, int width, int height, int sx, int sy,
                  const std::uint8_t* sourceBits);
    // The same from another surface; nothing is copied when its geometry differs.
    void CopyRect(int dx, int dy, int width, int height, int sx, int sy,
                  const TAvDIBCanvas& source);

    // Blits an area of the picture to a painter (main thread, inside a paint or a direct draw).
    void DrawTo(QPainter* target, int dx, int dy, int width, int height, int sx, int sy) const;
    // The same onto a framework canvas (a control's Canvas() during its Paint or a direct draw).
    void DrawTo(TCanvas* target, int dx, int dy, int width, int height, int sx, int sy) const {
        DrawTo(target ? target->Painter() : nullptr, dx, dy, width, height, sx, sy);
    }

    // Pixel memory of the work picture and of the background image (nullptr without one).
    std::uint8_t* Bits();
    const std::uint8_t* Bits() const { return m_image.isNull() ? nullptr : m_image.constBits(); }
    const std::uint8_t* BackgroundBits() const;
    bool HasBackground() const { return !m_background.isNull(); }
    // The work picture (for tests and snapshots); the 256-entry palette of an 8-bit surface.
    const QImage& Image() const { return m_image; }
    QImage BackgroundImage() const { return m_background; }
    const QList<QRgb>& Palette() const { return m_palette; }
    // Colours for entries 10..245 supplied by a display (analysis displays); empty for none.
    void SetCustomPalette(const QList<QRgb>& entries);

    // Palette animation: up to 236 entries from 10 on may be reserved (SetAnimatedColors) and
    // changed at will; AnimateColor's index counts from 0 within the reserved entries.
    int AnimatedColors() const { return m_animatedCount; }
    void SetAnimatedColors(int count);
    void AnimateColor(int index, TColor color);

private:
    struct DrawState {
        int bitsPerPixel = 0, bytesPerPixel = 0, width = 0, height = 0, stride = 0;
        std::uint8_t* bits = nullptr; // nullptr outside the drawing bracket
        std::uint32_t value = 0;      // 8-bit: the index in all four bytes; 24-bit: RGB
    };

    QString OwnerName() const;
    // Gives a setting the picture depends on its new value and rebuilds; a failed rebuild leaves
    // the old value in place.
    template <class T> void RebuildWith(T& setting, T value);
    void BackGroundBitmapChanged(TObject*);
    void AttachCanvas();
    void BuildPalette(const QList<QRgb>* picturePalette);
    QImage RenderBackground() const;
    void FillRow(std::uint8_t* row, int left, int right) const;
    bool ClipRect(int& left, int& top, int& right, int& bottom) const;

    QObject* m_owner;
    int m_bitsPerPixel = 8;
    bool m_paletteRealize = false;
    bool m_paletteMapped = false;
    std::unique_ptr<TBitmap> m_backGroundBitmap;
    bool m_stretchBackGround = true;
    int m_width = 1;
    int m_height = 1;
    bool m_handle = false;
    QImage m_image;
    QImage m_background;
    QList<QRgb> m_palette;
    QList<QRgb> m_customPalette;
    bool m_drawing = false;
    int m_drawDepth = 0;
    bool m_rebuildNeeded = true;
    int m_animatedCount = 0;
    DrawState m_state;
};

// A windowless library control that composes its picture in an off-screen surface (DIB()) and
// can show a new picture at once, outside the paint cycle (PaintDirect). Main thread.
class TAvDIBGraphicControl : public TAvGraphicControl {
    Q_OBJECT
    Q_PROPERTY(bool UseBackGroundDIB READ UseBackGroundDIB WRITE SetUseBackGroundDIB)
    Q_PROPERTY(bool PaletteRealize READ PaletteRealize WRITE SetPaletteRealize)
    Q_PROPERTY(bool PaletteMapped READ PaletteMapped WRITE SetPaletteMapped)
    Q_PROPERTY(int Tag2 READ Tag2 WRITE SetTag2)
public:
    using TPaintProc = std::function<void(void* arg)>;

    explicit TAvDIBGraphicControl(TComponent* AOwner);
    ~TAvDIBGraphicControl() override;

    // The work surface.
    TAvDIBCanvas* DIB() const { return FDIB.get(); }

    // Use BackGroundDIB as the surface's background picture; effective only when the picture is
    // not empty.
    bool UseBackGroundDIB() const { return FUseBackGroundDIB; }
    void SetUseBackGroundDIB(bool v);
    TBitmap* BackGroundDIB() const { return FBackGroundDIB.get(); }
    void SetBackGroundDIB(const TBitmap* picture) { FBackGroundDIB->Assign(picture); }
    bool PaletteRealize() const { return FDIB->PaletteRealize(); }
    void SetPaletteRealize(bool v) { FDIB->SetPaletteRealize(v); }
    bool PaletteMapped() const { return FDIB->PaletteMapped(); }
    void SetPaletteMapped(bool v) { FDIB->SetPaletteMapped(v); }
    int Tag2() const { return FTag2; }
    void SetTag2(int v) { FTag2 = v; }

    // Placement, then the surface takes the new size.
    void SetBounds(int left, int top, int width, int height) override;
    virtual void SetBitsPerPixel(int n);
    // The surface's background image, or the control's Color. Between BeginDraw and EndDraw.
    virtual void DrawBackground();

    // Draws outside the paint cycle: when the control is shown, proc(arg) runs at once with
    // Canvas() drawing on the control (origin at its top-left corner, clipped to its bounds), and
    // the result is on screen when PaintDirect returns. Called on another thread it only
    // schedules a normal repaint.
    void PaintDirect(const TPaintProc& proc, void* arg);

    // What the control shows on screen (the last full paint plus direct drawings since).
    const QImage& ScreenImage() const { return FScreen; }

    // A full repaint is due: the next direct drawing paints everything instead, since showing
    // only its own part would use up the pending repaint and leave the old picture around it.
    void Invalidate() override;

protected:
    void Loaded() override;
    void paintEvent(QPaintEvent* e) override;

private:
    void BackGroundChanged(TObject*);
    void ApplyBackground();
    bool PrepareScreen();

    std::unique_ptr<TAvDIBCanvas> FDIB;
    bool FUseBackGroundDIB = false;
    bool FLoadingUseBackGroundDIB = false;
    std::unique_ptr<TBitmap> FBackGroundDIB;
    int FTag2 = 0;
    QImage FScreen;         // the control's picture as shown
    bool FBlitOnly = false; // a repaint that only shows FScreen
    bool FInPaint = false;
    bool FFullPaintDue = true; // since the last full paint, something asked for one
};
