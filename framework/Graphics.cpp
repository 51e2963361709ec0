#include "framework/Graphics.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <algorithm>
#include <cmath>

// --- TFont ---------------------------------------------------------------------------------------

void TFont::SetName(const QString& v) {
    if (v == FName) return;
    FName = v;
    Changed();
}
void TFont::SetHeight(int v) {
    if (v == FHeight) return;
    FHeight = v;
    Changed();
}
int TFont::Size() const {
    return -static_cast<int>(std::lround(FHeight * 72.0 / PixelsPerInch));
}
void TFont::SetSize(int points) {
    SetHeight(-static_cast<int>(std::lround(points * static_cast<double>(PixelsPerInch) / 72.0)));
}
void TFont::SetColor(TColor v) {
    if (v == FColor) return;
    FColor = v;
    Changed();
}
void TFont::SetStyle(TFontStyles v) {
    if (v == FStyle) return;
    FStyle = v;
    Changed();
}
void TFont::Assign(const TPersistent* source) {
    if (auto* f = dynamic_cast<const TFont*>(source)) {
        if (*f == *this) return;
        FName = f->FName;
        FHeight = f->FHeight;
        FColor = f->FColor;
        FStyle = f->FStyle;
        Changed();
        return;
    }
    TGraphicsObject::Assign(source);
}

QString TFont::FallbackFamily() {
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* f : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC",
                              "WenQuanYi Zen Hei", "AR PL UMing CN", "DejaVu Sans"}) {
            if (families.contains(QString::fromLatin1(f))) return QString::fromLatin1(f);
        }
        return QString();
    }();
    return family;
}

QFont TFont::ToQFont() const {
    QFont f;
    QStringList families{FName};
    const QString fallback = FallbackFamily();
    if (!fallback.isEmpty() && fallback != FName) families << fallback;
    f.setFamilies(families);
    // Negative heights are the character height; positive ones include the internal leading.
    const int px = FHeight < 0 ? -FHeight : std::max(1, FHeight * 4 / 5);
    f.setPixelSize(std::max(1, px));
    f.setBold(FStyle & fsBold);
    f.setItalic(FStyle & fsItalic);
    f.setUnderline(FStyle & fsUnderline);
    f.setStrikeOut(FStyle & fsStrikeOut);
    return f;
}

// --- TPen / TBrush -------------------------------------------------------------------------------

void TPen::SetColor(TColor v) {
    if (v == FColor) return;
    FColor = v;
    Changed();
}
void TPen::SetWidth(int v) {
    v = std::max(0, v);
    if (v == FWidth) return;
    FWidth = v;
    Changed();
}
void TPen::SetStyle(TPenStyle v) {
    if (v == FStyle) return;
    FStyle = v;
    Changed();
}
void TPen::SetMode(TPenMode v) {
    if (v == FMode) return;
    FMode = v;
    Changed();
}
void TPen::Assign(const TPersistent* source) {
    if (auto* p = dynamic_cast<const TPen*>(source)) {
        FColor = p->FColor;
        FWidth = p->FWidth;
        FStyle = p->FStyle;
        FMode = p->FMode;
        Changed();
        return;
    }
    TGraphicsObject::Assign(source);
}
QPen TPen::ToQPen() const {
    if (FStyle == psClear) return QPen(Qt::NoPen);
    QPen p(ToQColor(FColor));
    p.setWidth(FWidth <= 1 ? 0 : FWidth); // 0 = cosmetic one-pixel pen
    switch (FStyle) {
    case psDash:
        p.setStyle(Qt::DashLine);
        break;
    case psDot:
        p.setStyle(Qt::DotLine);
        break;
    case psDashDot:
        p.setStyle(Qt::DashDotLine);
        break;
    case psDashDotDot:
        p.setStyle(Qt::DashDotDotLine);
        break;
    default:
        p.setStyle(Qt::SolidLine);
        break;
    }
    p.setCapStyle(Qt::SquareCap);
    p.setJoinStyle(Qt::MiterJoin);
    return p;
}

void TBrush::SetColor(TColor v) {
    if (v == FColor && FStyle != bsClear) return;
    FColor = v;
    if (FStyle == bsClear) FStyle = bsSolid;
    Changed();
}
void TBrush::SetStyle(TBrushStyle v) {
    if (v == FStyle) return;
    FStyle = v;
    Changed();
}
void TBrush::Assign(const TPersistent* source) {
    if (auto* b = dynamic_cast<const TBrush*>(source)) {
        FColor = b->FColor;
        FStyle = b->FStyle;
        Changed();
        return;
    }
    TGraphicsObject::Assign(source);
}
QBrush TBrush::ToQBrush() const {
    const QColor c = ToQColor(FColor);
    switch (FStyle) {
    case bsClear:
        return QBrush(Qt::NoBrush);
    case bsHorizontal:
        return QBrush(c, Qt::HorPattern);
    case bsVertical:
        return QBrush(c, Qt::VerPattern);
    case bsFDiagonal:
        return QBrush(c, Qt::FDiagPattern);
    case bsBDiagonal:
        return QBrush(c, Qt::BDiagPattern);
    case bsCross:
        return QBrush(c, Qt::CrossPattern);
    case bsDiagCross:
        return QBrush(c, Qt::DiagCrossPattern);
    default:
        return QBrush(c);
    }
}

// --- TCanvas -------------------------------------------------------------------------------------

TCanvas::TCanvas()
    : FFont(std::make_unique<TFont>()), FPen(std::make_unique<TPen>()),
      FBrush(std::make_unique<TBrush>()) {}

TCanvas::~TCanvas() {
    ReleasePainter();
}

void TCanvas::BeginPaint(QPainter* painter) {
    FBorrowed = painter;
}
void TCanvas::EndPaint() {
    FBorrowed = nullptr;
}
void TCanvas::SetDevice(QImage* image) {
    ReleasePainter();
    FImage = image;
}
void TCanvas::ReleasePainter() {
    if (FOwn) {
        FOwn->end();
        FOwn.reset();
    }
}
bool TCanvas::HandleAllocated() const {
    return FBorrowed || FOwn || (FImage && !FImage->isNull());
}

QPainter* TCanvas::Painter() {
    if (FBorrowed) return FBorrowed;
    if (!FOwn && FImage && !FImage->isNull()) FOwn = std::make_unique<QPainter>(FImage);
    return FOwn.get();
}

QPainter* TCanvas::Require() {
    QPainter* p = Painter();
    if (!p) throw EInvalidOperation(QStringLiteral("Canvas does not allow drawing"));
    p->setRenderHint(QPainter::Antialiasing, false);
    return p;
}

void TCanvas::ApplyPen(QPainter* p) const {
    p->setPen(FPen->ToQPen());
    switch (FPen->Mode()) {
    case pmXor:
    case pmNot:
    case pmNotXor:
        p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        break;
    default:
        p->setCompositionMode(QPainter::CompositionMode_SourceOver);
        break;
    }
}
void TCanvas::ApplyBrush(QPainter* p) const {
    p->setBrush(FBrush->ToQBrush());
}

void TCanvas::FillRect(const TRect& r) {
    if (r.IsEmpty() || FBrush->Style() == bsClear) return;
    QPainter* p = Require();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->fillRect(r.ToQRect(), FBrush->ToQBrush());
}

void TCanvas::FrameRect(const TRect& r) {
    if (r.IsEmpty()) return;
    QPainter* p = Require();
    const QColor c = ToQColor(FBrush->Color());
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->fillRect(QRect(r.Left, r.Top, r.Width(), 1), c);
    p->fillRect(QRect(r.Left, r.Bottom - 1, r.Width(), 1), c);
    p->fillRect(QRect(r.Left, r.Top, 1, r.Height()), c);
    p->fillRect(QRect(r.Right - 1, r.Top, 1, r.Height()), c);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    if (x2 <= x1 || y2 <= y1) return;
    QPainter* p = Require();
    if (FBrush->Style() != bsClear) {
        p->setCompositionMode(QPainter::CompositionMode_SourceOver);
        p->fillRect(QRect(x1, y1, x2 - x1, y2 - y1), FBrush->ToQBrush());
    }
    if (FPen->Style() == psClear) return;
    ApplyPen(p);
    p->setBrush(Qt::NoBrush);
    const int w = std::max(1, FPen->Width());
    if (w == 1)
        p->drawRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
    else
        p->drawRect(QRectF(x1 + w / 2.0, y1 + w / 2.0, x2 - x1 - w, y2 - y1 - w));
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
    QPainter* p = Require();
    ApplyPen(p);
    ApplyBrush(p);
    p->drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
}

void TCanvas::LineTo(int x, int y) {
    const TPoint from = FPenPos;
    FPenPos = {x, y};
    if (FPen->Style() == psClear) return;
    QPainter* p = Require();
    ApplyPen(p);
    if (FPen->Width() > 1 || FPen->Style() != psSolid) {
        p->drawLine(from.X, from.Y, x, y);
        return;
    }
    // One-pixel lines follow Bresenham and leave out the end point.
    int x0 = from.X, y0 = from.Y;
    const int dx = std::abs(x - x0), sx = x0 < x ? 1 : -1;
    const int dy = -std::abs(y - y0), sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    QVector<QPoint> pts;
    pts.reserve(std::max(dx, -dy) + 1);
    while (!(x0 == x && y0 == y)) {
        pts.append(QPoint(x0, y0));
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    if (!pts.isEmpty()) p->drawPoints(pts.constData(), static_cast<int>(pts.size()));
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
    if (points.empty()) return;
    QPainter* p = Require();
    ApplyPen(p);
    ApplyBrush(p);
    QVector<QPoint> q;
    for (auto& pt : points)
        q.append(pt.ToQPoint());
    p->drawPolygon(q.constData(), static_cast<int>(q.size()));
}

void TCanvas::Polyline(const std::vector<TPoint>& points) {
    if (points.size() < 2) return;
    MoveTo(points[0].X, points[0].Y);
    for (size_t i = 1; i < points.size(); ++i)
        LineTo(points[i].X, points[i].Y);
}

void TCanvas::TextOut(int x, int y, const QString& text) {
    QPainter* p = Require();
    const QFont f = FFont->ToQFont();
    p->setFont(f);
    QFontMetrics fm(f);
    const QRect r(x, y, fm.horizontalAdvance(text), fm.height());
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (FBrush->Style() != bsClear) p->fillRect(r, ToQColor(FBrush->Color()));
    p->setPen(ToQColor(FFont->Color()));
    p->drawText(QPoint(x, y + fm.ascent()), text);
    FPenPos = {x + r.width(), y};
}

void TCanvas::TextRect(const TRect& r, int x, int y, const QString& text) {
    QPainter* p = Require();
    p->save();
    p->setClipRect(r.ToQRect());
    const QFont f = FFont->ToQFont();
    p->setFont(f);
    QFontMetrics fm(f);
    if (FBrush->Style() != bsClear) p->fillRect(r.ToQRect(), ToQColor(FBrush->Color()));
    p->setPen(ToQColor(FFont->Color()));
    p->drawText(QPoint(x, y + fm.ascent()), text);
    p->restore();
}

void TCanvas::DrawText(const TRect& r, const QString& text, int qtFlags) {
    QPainter* p = Require();
    p->setFont(FFont->ToQFont());
    p->setPen(ToQColor(FFont->Color()));
    p->drawText(r.ToQRect(), qtFlags, text);
}

int TCanvas::TextWidth(const QString& text) const {
    return QFontMetrics(FFont->ToQFont()).horizontalAdvance(text);
}
int TCanvas::TextHeight(const QString& text) const {
    (void)text;
    return QFontMetrics(FFont->ToQFont()).height();
}

namespace {
// Rows per blit: below the raster engine's threshold for blending on its worker threads, which
// costs more than the copy for pictures of this size and hides the hand-off from the thread
// checker.
constexpr int kBlitBand = 64;

void DrawImageInBands(QPainter* p, int x, int y, const QImage& image) {
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (int row = 0; row < image.height(); row += kBlitBand)
        p->drawImage(QPoint(x, y + row), image,
                     QRect(0, row, image.width(), std::min(kBlitBand, image.height() - row)));
}
} // namespace

void TCanvas::Draw(int x, int y, const TBitmap* bitmap) {
    if (!bitmap || bitmap->Empty()) return;
    if (bitmap->Transparent()) {
        DrawTransparent(x, y, bitmap, bitmap->TransparentColor());
        return;
    }
    DrawImageInBands(Require(), x, y, bitmap->Image());
}

void TCanvas::DrawTransparent(int x, int y, const TBitmap* bitmap, TColor transparent) {
    if (!bitmap || bitmap->Empty()) return;
    QImage img = bitmap->Image().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = ToQColor(transparent).rgb() & 0xFFFFFF;
    for (int row = 0; row < img.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(row));
        for (int col = 0; col < img.width(); ++col)
            if ((line[col] & 0xFFFFFF) == key) line[col] = 0;
    }
    DrawImageInBands(Require(), x, y, img);
}

void TCanvas::StretchDraw(const TRect& r, const TBitmap* bitmap) {
    if (!bitmap || bitmap->Empty()) return;
    QPainter* p = Require();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->drawImage(r.ToQRect(), bitmap->Image());
}

void TCanvas::DrawImage(int x, int y, const QImage& image) {
    DrawImageInBands(Require(), x, y, image);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas* source, const TRect& src) {
    if (!source || !source->FImage) return;
    source->ReleasePainter();
    const QImage part = source->FImage->copy(src.ToQRect());
    QPainter* p = Require();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->drawImage(dest.ToQRect(), part);
}

void TCanvas::DrawFocusRect(const TRect& r) {
    QPainter* p = Require();
    QPen pen(Qt::black);
    pen.setStyle(Qt::DotLine);
    pen.setWidth(0);
    p->setPen(pen);
    p->setBrush(Qt::NoBrush);
    p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p->drawRect(QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1));
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

TColor TCanvas::Pixel(int x, int y) const {
    if (!FImage || !FImage->valid(x, y)) return clNone;
    const_cast<TCanvas*>(this)->ReleasePainter();
    return FromQColor(QColor(FImage->pixel(x, y)));
}

void TCanvas::SetPixel(int x, int y, TColor c) {
    if (FImage && !FBorrowed) {
        ReleasePainter();
        if (FImage->valid(x, y)) FImage->setPixel(x, y, ToQColor(c).rgb());
        return;
    }
    QPainter* p = Require();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->fillRect(QRect(x, y, 1, 1), ToQColor(c));
}

void TCanvas::Frame3D(TRect& r, TColor topColor, TColor bottomColor, int width) {
    if (width <= 0) return;
    QPainter* p = Require();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    const QColor tc = ToQColor(topColor), bc = ToQColor(bottomColor);
    for (int i = 0; i < width; ++i) {
        if (r.IsEmpty()) break;
        const int w = r.Width(), h = r.Height();
        // top and left edges in the top colour, bottom and right in the bottom colour
        p->fillRect(QRect(r.Left, r.Top, w - 1, 1), tc);
        p->fillRect(QRect(r.Left, r.Top, 1, h - 1), tc);
        p->fillRect(QRect(r.Left, r.Bottom - 1, w, 1), bc);
        p->fillRect(QRect(r.Right - 1, r.Top, 1, h), bc);
        InflateRect(r, -1, -1);
    }
}

// --- TBitmap -------------------------------------------------------------------------------------

TBitmap::TBitmap() : FCanvas(std::make_unique<TCanvas>()) {
    FCanvas->SetDevice(&FImage);
}
TBitmap::TBitmap(int width, int height) : TBitmap() {
    SetSize(width, height);
}
TBitmap::~TBitmap() {
    FCanvas->ReleasePainter();
}

static QImage::Format FormatOf(TPixelFormat pf) {
    switch (pf) {
    case pf8bit:
        return QImage::Format_Indexed8;
    case pf15bit:
        return QImage::Format_RGB555;
    case pf16bit:
        return QImage::Format_RGB16;
    case pf24bit:
        return QImage::Format_RGB888;
    default:
        return QImage::Format_RGB32;
    }
}

void TBitmap::SetSize(int w, int h) {
    w = std::max(0, w);
    h = std::max(0, h);
    if (w == FImage.width() && h == FImage.height()) return;
    FCanvas->ReleasePainter();
    if (w == 0 || h == 0) {
        FImage = QImage();
    } else {
        QImage next(w, h,
                    FormatOf(FPixelFormat) == QImage::Format_Indexed8 ? QImage::Format_RGB32
                                                                      : FormatOf(FPixelFormat));
        next.fill(Qt::white);
        if (!FImage.isNull()) {
            QPainter p(&next);
            p.drawImage(0, 0, FImage);
        }
        FImage = std::move(next);
    }
    FCanvas->SetDevice(&FImage);
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat pf) {
    if (pf == FPixelFormat) return;
    FPixelFormat = pf;
    if (!FImage.isNull() && pf != pf8bit && pf != pf1bit && pf != pf4bit) {
        FCanvas->ReleasePainter();
        FImage = FImage.convertToFormat(FormatOf(pf));
        FCanvas->SetDevice(&FImage);
    }
    Changed();
}

TColor TBitmap::TransparentColor() const {
    if (FTransparentColor != clDefault || FImage.isNull()) return FTransparentColor;
    const_cast<TBitmap*>(this)->FCanvas->ReleasePainter();
    return FromQColor(QColor(FImage.pixel(0, FImage.height() - 1)));
}

QImage& TBitmap::Image() {
    FCanvas->ReleasePainter();
    return FImage;
}
const QImage& TBitmap::Image() const {
    FCanvas->ReleasePainter();
    return FImage;
}
void TBitmap::SetImage(const QImage& image) {
    FCanvas->ReleasePainter();
    FImage = image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono
                 ? image.convertToFormat(QImage::Format_RGB32)
                 : image;
    FCanvas->SetDevice(&FImage);
    Changed();
}
uchar* TBitmap::ScanLine(int row) {
    FCanvas->ReleasePainter();
    return FImage.scanLine(row);
}
bool TBitmap::LoadFromFile(const QString& path) {
    QImage img;
    if (!img.load(path)) return false;
    SetImage(img);
    return true;
}
bool TBitmap::SaveToFile(const QString& path) const {
    return Image().save(path);
}
void TBitmap::Assign(const TPersistent* source) {
    if (source == this) return;
    if (auto* b = dynamic_cast<const TBitmap*>(source)) {
        FPixelFormat = b->FPixelFormat;
        FTransparent = b->FTransparent;
        FTransparentColor = b->FTransparentColor;
        SetImage(b->Image());
        return;
    }
    if (!source) {
        SetImage(QImage());
        return;
    }
    TGraphicsObject::Assign(source);
}

// --- TPicture ------------------------------------------------------------------------------------

TPicture::TPicture() : FBitmap(std::make_unique<TBitmap>()) {
    FBitmap->OnChange = [this](TObject*) { Changed(); };
}
void TPicture::SetImage(const QImage& image) {
    FBitmap->SetImage(image);
}
bool TPicture::LoadFromFile(const QString& path) {
    return FBitmap->LoadFromFile(path);
}
void TPicture::Assign(const TPersistent* source) {
    if (auto* p = dynamic_cast<const TPicture*>(source)) {
        FBitmap->Assign(p->FBitmap.get());
        return;
    }
    if (auto* b = dynamic_cast<const TBitmap*>(source)) {
        FBitmap->Assign(b);
        return;
    }
    if (!source) {
        FBitmap->SetImage(QImage());
        return;
    }
    TGraphicsObject::Assign(source);
}
