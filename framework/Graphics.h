#pragma once
// Drawing: rectangles in the window-system convention (right and bottom exclusive), fonts, pens,
// brushes, a canvas on QPainter and a bitmap on QImage. Main thread only (a bitmap and its
// canvas may be used on another thread when nothing else touches them).
#include "framework/Classes.h"
#include "framework/Colors.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <memory>

struct TPoint {
    int X = 0, Y = 0;
    constexpr TPoint() = default;
    constexpr TPoint(int x, int y) : X(x), Y(y) {}
    bool operator==(const TPoint&) const = default;
    QPoint ToQPoint() const { return {X, Y}; }
};

// Left/Top inclusive, Right/Bottom exclusive.
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    constexpr TRect() = default;
    constexpr TRect(int l, int t, int r, int b) : Left(l), Top(t), Right(r), Bottom(b) {}
    TRect(const QRect& r)
        : Left(r.left()), Top(r.top()), Right(r.left() + r.width()), Bottom(r.top() + r.height()) {}
    constexpr int Width() const { return Right - Left; }
    constexpr int Height() const { return Bottom - Top; }
    constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    constexpr bool Contains(int x, int y) const {
        return x >= Left && x < Right && y >= Top && y < Bottom;
    }
    bool operator==(const TRect&) const = default;
    QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
};
constexpr TRect Rect(int l, int t, int r, int b) {
    return TRect(l, t, r, b);
}
constexpr TRect Bounds(int l, int t, int w, int h) {
    return TRect(l, t, l + w, t + h);
}
inline void InflateRect(TRect& r, int dx, int dy) {
    r.Left -= dx;
    r.Top -= dy;
    r.Right += dx;
    r.Bottom += dy;
}
inline void OffsetRect(TRect& r, int dx, int dy) {
    r.Left += dx;
    r.Right += dx;
    r.Top += dy;
    r.Bottom += dy;
}

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode { pmCopy, pmNot, pmXor, pmNotXor, pmMerge, pmMask };
enum TBrushStyle {
    bsSolid,
    bsClear,
    bsHorizontal,
    bsVertical,
    bsFDiagonal,
    bsBDiagonal,
    bsCross,
    bsDiagCross
};

// Objects owned by a canvas or control; OnChange tells the owner.
class TGraphicsObject : public TPersistent {
public:
    TNotifyEvent OnChange;

protected:
    void Changed() { OnChange(this); }
};

// The forms' font: the default is "Tahoma", height -11 (8 point at 96 dpi). Families that are not
// installed fall back to a CJK font, so the Chinese captions render on every desktop.
class TFont : public TGraphicsObject {
public:
    static constexpr int PixelsPerInch = 96;
    QString Name() const { return FName; }
    void SetName(const QString& v);
    int Height() const { return FHeight; } // negative: character height in pixels
    void SetHeight(int v);
    int Size() const; // points
    void SetSize(int points);
    TColor Color() const { return FColor; }
    void SetColor(TColor v);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles v);
    void Assign(const TPersistent* source) override;
    bool operator==(const TFont& o) const {
        return FName == o.FName && FHeight == o.FHeight && FColor == o.FColor && FStyle == o.FStyle;
    }
    QFont ToQFont() const;
    static QString FallbackFamily(); // the CJK family used when the named one is missing

private:
    QString FName = QStringLiteral("Tahoma");
    int FHeight = -11;
    TColor FColor = clWindowText;
    TFontStyles FStyle = 0;
};

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor v);
    int Width() const { return FWidth; }
    void SetWidth(int v);
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle v);
    TPenMode Mode() const { return FMode; }
    void SetMode(TPenMode v);
    void Assign(const TPersistent* source) override;
    QPen ToQPen() const;

private:
    TColor FColor = clBlack;
    int FWidth = 1;
    TPenStyle FStyle = psSolid;
    TPenMode FMode = pmCopy;
};

class TBrush : public TGraphicsObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor v); // also makes a clear brush solid
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle v);
    void Assign(const TPersistent* source) override;
    QBrush ToQBrush() const;

private:
    TColor FColor = clWhite;
    TBrushStyle FStyle = bsSolid;
};

class TBitmap;

// Drawing on a QPainter with the classic pixel rules: FillRect and Rectangle cover
// [Left, Right) x [Top, Bottom), LineTo stops one pixel short of its end point, TextOut puts the
// text's top-left corner at (x, y) and fills its background unless the brush is clear.
// A control's canvas is valid only during its Paint; a bitmap's canvas at any time.
class TCanvas : public TPersistent {
public:
    TCanvas();
    ~TCanvas() override;

    TFont* Font() const { return FFont.get(); }
    TPen* Pen() const { return FPen.get(); }
    TBrush* Brush() const { return FBrush.get(); }
    TPoint PenPos() const { return FPenPos; }
    void SetPenPos(TPoint p) { FPenPos = p; }

    bool HandleAllocated() const; // drawing is possible now
    void FillRect(const TRect& r);
    void FrameRect(const TRect& r); // one-pixel frame in the brush colour
    void Rectangle(int x1, int y1, int x2, int y2);
    void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
    void Ellipse(int x1, int y1, int x2, int y2);
    void MoveTo(int x, int y) { FPenPos = {x, y}; }
    void LineTo(int x, int y);
    void Polygon(const std::vector<TPoint>& points);
    void Polyline(const std::vector<TPoint>& points);
    void TextOut(int x, int y, const QString& text);
    // Text clipped to r, top-left at (x, y).
    void TextRect(const TRect& r, int x, int y, const QString& text);
    // Text laid out in r with Qt alignment and wrapping flags (Qt::AlignCenter | Qt::TextWordWrap).
    void DrawText(const TRect& r, const QString& text, int qtFlags);
    int TextWidth(const QString& text) const;
    int TextHeight(const QString& text) const;
    void Draw(int x, int y, const TBitmap* bitmap);
    // Draws bitmap leaving out the pixels of its transparent colour.
    void DrawTransparent(int x, int y, const TBitmap* bitmap, TColor transparent);
    void StretchDraw(const TRect& r, const TBitmap* bitmap);
    void DrawImage(int x, int y, const QImage& image);
    void CopyRect(const TRect& dest, TCanvas* source, const TRect& src);
    void DrawFocusRect(const TRect& r);
    TColor Pixel(int x, int y) const; // bitmap canvases only; clNone elsewhere
    void SetPixel(int x, int y, TColor c);
    // The 3-D frame: `width` nested one-pixel frames, top and left edges in topColor, bottom and
    // right in bottomColor; r shrinks by width on every side. A width of 0 draws nothing.
    void Frame3D(TRect& r, TColor topColor, TColor bottomColor, int width);

    // Plumbing for controls and bitmaps.
    void BeginPaint(QPainter* painter); // borrow a painter (a control's paint event)
    void EndPaint();
    QPainter* Painter(); // the current painter (opened on demand for bitmaps); nullptr if none
    void SetDevice(QImage* image); // bitmap canvases: paint on this image when asked
    void ReleasePainter();         // ends an own painter so the image can be touched directly

private:
    QPainter* Require(); // raises EInvalidOperation when drawing is not possible
    void ApplyPen(QPainter* p) const;
    void ApplyBrush(QPainter* p) const;
    std::unique_ptr<TFont> FFont;
    std::unique_ptr<TPen> FPen;
    std::unique_ptr<TBrush> FBrush;
    TPoint FPenPos;
    QPainter* FBorrowed = nullptr;
    std::unique_ptr<QPainter> FOwn;
    QImage* FImage = nullptr;
};

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// A bitmap on a QImage (32-bit RGB by default) with its own canvas.
class TBitmap : public TGraphicsObject {
public:
    TBitmap();
    TBitmap(int width, int height);
    ~TBitmap() override;
    int Width() const { return FImage.width(); }
    int Height() const { return FImage.height(); }
    void SetWidth(int w) { SetSize(w, FImage.height()); }
    void SetHeight(int h) { SetSize(FImage.width(), h); }
    void SetSize(int w, int h); // keeps the old pixels where they fit
    bool Empty() const { return FImage.isNull(); }
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    void SetPixelFormat(TPixelFormat pf);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool v) { FTransparent = v; }
    // clDefault: the colour of the bottom-left pixel.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor c) { FTransparentColor = c; }
    TCanvas* Canvas() const { return FCanvas.get(); }
    // Direct access; ends any canvas painting first.
    QImage& Image();
    const QImage& Image() const;
    void SetImage(const QImage& image);
    uchar* ScanLine(int row);
    bool LoadFromFile(const QString& path); // also ":/avsetup/..." resources
    bool SaveToFile(const QString& path) const;
    void Assign(const TPersistent* source) override;

private:
    QImage FImage;
    TPixelFormat FPixelFormat = pfDevice;
    bool FTransparent = false;
    TColor FTransparentColor = clDefault;
    std::unique_ptr<TCanvas> FCanvas;
};

// A picture holder (images, slider end pictures).
class TPicture : public TGraphicsObject {
public:
    TPicture();
    TBitmap* Bitmap() const { return FBitmap.get(); }
    int Width() const { return FBitmap->Width(); }
    int Height() const { return FBitmap->Height(); }
    bool Empty() const { return FBitmap->Empty(); }
    void SetImage(const QImage& image);
    bool LoadFromFile(const QString& path);
    void Assign(const TPersistent* source) override;

private:
    std::unique_ptr<TBitmap> FBitmap;
};
