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
#include "framework/Colors.h"

#include <QImage>
#include <QList>
#include <cstdint>
#include <stdexcept>
#include <string>

class QObject;
class QPainter;

class EAvDIBError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAvDIBCanvas {
public:
    // owner: the control the surface belongs to (named in the rebuild-while-drawing error).
    explicit TAvDIBCanvas(QObject* owner = nullptr);
    virtual ~TAvDIBCanvas();
    TAvDIBCanvas(const TAvDIBCanvas&) = delete;
    TAvDIBCanvas& operator=(const TAvDIBCanvas&) = delete;

    // 8 (palette indexes) or 24 (blue, green, red bytes); other values raise EAvDIBError.
    int BitsPerPixel() const { return m_bitsPerPixel; }
    void SetBitsPerPixel(int bits);
    int BytesPerPixel() const { return m_bitsPerPixel / 8; }
    // Kept for the owners that set them; a true-colour screen needs no palette realisation.
    bool PaletteRealize() const { return m_paletteRealize; }
    void SetPaletteRealize(bool value);
    bool PaletteMapped() const { return m_paletteMapped; }
    void SetPaletteMapped(bool value) { m_paletteMapped = value; }
    // Picture copied into the background image when the surface is built; a null image for none.
    const QImage& BackGroundBitmap() const { return m_backGroundBitmap; }
    void SetBackGroundBitmap(const QImage& picture);
    bool StretchBackGround() const { return m_stretchBackGround; }
    void SetStretchBackGround(bool value);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetWidth(int width) { SetSize(width, m_height); }
    void SetHeight(int height) { SetSize(m_width, height); }
    // Marks a rebuild; it happens at the next BeginDraw or CreateHandle (also safe while drawing:
    // the pass in progress keeps the old geometry).
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
    void FillRect(int left, int top, int right, int bottom);
    void FillRectDotted(int left, int top, int right, int bottom);
    // Copies from a pixel buffer of this surface's geometry (for example BackgroundBits() or the
    // bits of another surface of equal size); both rectangles clipped, overlap allowed.
    void CopyRect(int dx, int dy, int width, int height, int sx, int sy,
                  const std::uint8_t* sourceBits);
    // The same from another surface; nothing is copied when its geometry differs.
    void CopyRect(int dx, int dy, int width, int height, int sx, int sy,
                  const TAvDIBCanvas& source);

    // Blits an area of the picture to a painter (main thread, inside a paint or a direct draw).
    void DrawTo(QPainter* target, int dx, int dy, int width, int height, int sx, int sy) const;

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

    std::string OwnerName() const;
    void BuildPalette(const QList<QRgb>* picturePalette);
    QImage RenderBackground() const;
    void FillRow(std::uint8_t* row, int left, int right) const;
    bool ClipRect(int& left, int& top, int& right, int& bottom) const;

    QObject* m_owner;
    int m_bitsPerPixel = 8;
    bool m_paletteRealize = false;
    bool m_paletteMapped = false;
    QImage m_backGroundBitmap;
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
