#include "audio/display/AvDIBCv.h"

#include <QHash>
#include <QObject>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

// One lock for every surface: drawing passes of different surfaces never interleave. Recursive,
// so that a pass that begins a second surface on the same thread waits for nobody.
std::recursive_mutex& DrawLock() {
    static std::recursive_mutex lock;
    return lock;
}

// The display's 20 static colours as (red, green, blue).
constexpr QRgb kStaticLow[10] = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(192, 220, 192), qRgb(166, 202, 240),
};
constexpr QRgb kStaticHigh[10] = {
    qRgb(255, 251, 240), qRgb(160, 160, 164), qRgb(128, 128, 128), qRgb(255, 0, 0),
    qRgb(0, 255, 0),     qRgb(255, 255, 0),   qRgb(0, 0, 255),     qRgb(255, 0, 255),
    qRgb(0, 255, 255),   qRgb(255, 255, 255),
};
constexpr int kFirstFree = 10;    // first entry between the two static blocks
constexpr int kLastPicture = 244; // last entry taken from a background picture
constexpr int kLastFree = 245;    // last entry between the two static blocks
constexpr int kMaxAnimated = 236;
// Pixel memory a surface may take (work picture or background image): far above any display,
// low enough that a nonsensical size fails here instead of in the allocator.
constexpr std::int64_t kMaxSurfaceBytes = std::int64_t{1} << 29;

// Nearest palette entry by squared distance in RGB; the lowest index wins a tie.
int NearestIndex(const QList<QRgb>& palette, QRgb c) {
    int best = 0;
    int bestDist = 1 << 30;
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(palette[i]) - qRed(c);
        const int dg = qGreen(palette[i]) - qGreen(c);
        const int db = qBlue(palette[i]) - qBlue(c);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

QRgb ToQRgb(TColor c) {
    const TColor rgb = ColorToRGB(c);
    return qRgb(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

} // namespace

TAvDIBCanvas::TAvDIBCanvas(QObject* owner)
    : m_owner(owner), m_backGroundBitmap(std::make_unique<TBitmap>()) {
    m_backGroundBitmap->OnChange.Assign(this, &TAvDIBCanvas::BackGroundBitmapChanged);
    CreateHandle();
}

TAvDIBCanvas::~TAvDIBCanvas() {
    // A pass left open by a failing owner must not keep the process-wide lock.
    while (m_drawDepth > 0)
        EndDraw();
    m_backGroundBitmap->OnChange.Clear();
    SetDevice(nullptr);
}

void TAvDIBCanvas::AttachCanvas() {
    SetDevice(m_bitsPerPixel == 24 ? &m_image : nullptr);
}

void TAvDIBCanvas::BackGroundBitmapChanged(TObject*) {
    m_rebuildNeeded = true;
    Rebuild();
}

int TAvDIBCanvas::StrideFor(int width, int bitsPerPixel) {
    const std::int64_t bits = std::int64_t{width} * (bitsPerPixel > 8 ? 24 : 8);
    return static_cast<int>(std::min<std::int64_t>((bits + 31) / 32 * 4, INT_MAX));
}

QString TAvDIBCanvas::OwnerName() const {
    return QString::fromLatin1(m_owner ? m_owner->metaObject()->className() : "TAvDIBCanvas");
}

template <class T> void TAvDIBCanvas::RebuildWith(T& setting, T value) {
    const T old = std::exchange(setting, value);
    try {
        Rebuild();
    } catch (...) {
        setting = old;
        throw;
    }
}

void TAvDIBCanvas::SetBitsPerPixel(int bits) {
    if (bits != 8 && bits != 24) throw EAvDIBError("Bitlength not supported yet");
    if (bits == m_bitsPerPixel) return;
    RebuildWith(m_bitsPerPixel, bits);
}

void TAvDIBCanvas::SetPaletteRealize(bool value) {
    if (value == m_paletteRealize) return;
    RebuildWith(m_paletteRealize, value);
}

void TAvDIBCanvas::SetStretchBackGround(bool value) {
    if (value == m_stretchBackGround) return;
    if (m_backGroundBitmap->Empty())
        m_stretchBackGround = value; // nothing is stretched yet: no rebuild
    else
        RebuildWith(m_stretchBackGround, value);
}

void TAvDIBCanvas::SetSize(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width == m_width && height == m_height) return;
    m_width = width;
    m_height = height;
    m_rebuildNeeded = true;
}

void TAvDIBCanvas::CreateHandle() {
    if (!m_handle) {
        m_handle = true;
        m_rebuildNeeded = true;
    }
    if (m_rebuildNeeded) Rebuild();
}

void TAvDIBCanvas::SetCustomPalette(const QList<QRgb>& entries) {
    m_customPalette = entries;
    m_rebuildNeeded = true;
    if (!m_drawing) Rebuild();
}

void TAvDIBCanvas::BuildPalette(const QList<QRgb>* picturePalette) {
    QList<QRgb> pal(256, qRgb(0, 0, 0));
    for (int i = 0; i < 10; ++i) {
        pal[i] = kStaticLow[i];
        pal[246 + i] = kStaticHigh[i];
    }
    if (picturePalette) {
        for (int i = kFirstFree; i <= kLastPicture && i < picturePalette->size(); ++i)
            pal[i] = (*picturePalette)[i] | 0xFF000000u;
    } else {
        for (int i = kFirstFree; i <= kLastFree && i < m_customPalette.size(); ++i)
            pal[i] = m_customPalette[i] | 0xFF000000u;
    }
    m_palette = std::move(pal);
}

QImage TAvDIBCanvas::RenderBackground() const {
    const QImage& picture = m_backGroundBitmap->Image();
    // Colour-on-colour: every target pixel takes one picture pixel, never a blend.
    QImage rgb(m_width, m_height, QImage::Format_RGB32);
    if (rgb.isNull()) throw EAvDIBError("Unable to access DIB device context");
    rgb.fill(Qt::black);
    {
        QPainter p(&rgb);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        if (m_stretchBackGround) {
            p.drawImage(QRect(0, 0, m_width, m_height), picture);
        } else {
            const int pw = std::max(picture.width(), 1);
            const int ph = std::max(picture.height(), 1);
            for (int y = 0; y < m_height; y += ph)
                for (int x = 0; x < m_width; x += pw)
                    p.drawImage(x, y, picture);
        }
    }
    if (m_bitsPerPixel == 24) return rgb.convertToFormat(QImage::Format_BGR888);

    QImage out(m_width, m_height, QImage::Format_Indexed8);
    if (out.isNull()) throw EAvDIBError("Unable to access DIB device context");
    out.setColorTable(m_palette);
    QHash<QRgb, uchar> cache;
    for (int y = 0; y < m_height; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < m_width; ++x) {
            const QRgb c = src[x] | 0xFF000000u;
            auto it = cache.constFind(c);
            if (it == cache.constEnd())
                it = cache.insert(c, static_cast<uchar>(NearestIndex(m_palette, c)));
            dst[x] = *it;
        }
    }
    return out;
}

void TAvDIBCanvas::Rebuild() {
    if (m_drawing)
        throw EAvDIBError(
            OwnerName() +
            QStringLiteral(": Attempt to create new DIB while initialized for drawing"));
    if (!m_handle) return;
    if (std::int64_t{StrideFor(m_width, m_bitsPerPixel)} * m_height > kMaxSurfaceBytes)
        throw EAvDIBError("Unable to access DIB device context");

    // Build into the new members' copies first, so a failure leaves the surface as it was.
    const QList<QRgb> oldPalette = m_palette;
    QList<QRgb> picturePalette;
    const bool hasPicture = !m_backGroundBitmap->Empty();
    if (hasPicture) {
        const QImage& picture = m_backGroundBitmap->Image();
        if (picture.colorCount() > 0) {
            picturePalette = picture.colorTable();
        } else {
            // A true-colour picture has no palette of its own: its own colours (as Qt reduces
            // them) take the free entries, so the picture keeps its look on 8 bits.
            picturePalette = QList<QRgb>(kFirstFree, qRgb(0, 0, 0));
            picturePalette +=
                picture
                    .convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
                    .colorTable();
        }
    }
    BuildPalette(hasPicture ? &picturePalette : nullptr);
    try {
        QImage background;
        if (hasPicture) background = RenderBackground();
        QImage image(m_width, m_height,
                     m_bitsPerPixel == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
        if (image.isNull()) throw EAvDIBError("Unable to access DIB device context");
        if (m_bitsPerPixel == 8) image.setColorTable(m_palette);
        image.fill(0);
        SetDevice(nullptr); // the canvas lets go of the old picture first
        m_image = std::move(image);
        m_background = std::move(background);
        AttachCanvas();
    } catch (...) {
        m_palette = oldPalette;
        throw;
    }
    m_rebuildNeeded = false;
}

void TAvDIBCanvas::BeginDraw() {
    DrawLock().lock();
    ReleasePainter(); // canvas drawing so far is in the pixels before the raw primitives start
    try {
        if (m_rebuildNeeded) Rebuild();
    } catch (...) {
        DrawLock().unlock();
        throw;
    }
    if (m_drawDepth++ == 0) {
        m_state.bitsPerPixel = m_bitsPerPixel;
        m_state.bytesPerPixel = m_bitsPerPixel / 8;
        m_state.width = m_image.width();
        m_state.height = m_image.height();
        m_state.stride = static_cast<int>(m_image.bytesPerLine());
        m_state.bits = m_image.bits(); // detaches: the pass writes into memory of its own
        m_state.value = 0;
        m_drawing = true;
    }
}

void TAvDIBCanvas::EndDraw() {
    if (m_drawDepth == 0) return;
    ReleasePainter();
    if (--m_drawDepth == 0) {
        m_state = DrawState{};
        m_drawing = false;
    }
    DrawLock().unlock();
}

std::uint8_t* TAvDIBCanvas::Bits() {
    if (m_image.isNull()) return nullptr;
    return m_drawing ? m_state.bits : m_image.bits();
}

const std::uint8_t* TAvDIBCanvas::BackgroundBits() const {
    return m_background.isNull() ? nullptr : m_background.constBits();
}

std::uint32_t TAvDIBCanvas::ColorToValue(TColor color) const {
    const TColor rgb = ColorToRGB(color);
    if (m_bitsPerPixel != 8) return static_cast<std::uint32_t>(rgb) & 0xFFFFFF;
    return static_cast<std::uint32_t>(NearestIndex(m_palette, ToQRgb(rgb)));
}

void TAvDIBCanvas::SetDrawColor(TColor color) {
    SetDrawIndex(ColorToValue(color));
}

void TAvDIBCanvas::SetDrawIndex(std::uint32_t value) {
    m_state.value = m_bitsPerPixel == 8 ? (value & 0xFF) * 0x01010101u : value & 0xFFFFFF;
}

void TAvDIBCanvas::SetPixel(int x, int y, std::uint32_t value) {
    const DrawState& s = m_state;
    if (!s.bits || x < 0 || y < 0 || x >= s.width || y >= s.height) return;
    std::uint8_t* p = s.bits + y * s.stride + x * s.bytesPerPixel;
    if (s.bytesPerPixel == 1) {
        *p = static_cast<std::uint8_t>(value);
    } else {
        p[0] = static_cast<std::uint8_t>(value >> 16); // blue
        p[1] = static_cast<std::uint8_t>(value >> 8);  // green
        p[2] = static_cast<std::uint8_t>(value);       // red
    }
}

std::int32_t TAvDIBCanvas::GetPixel(int x, int y) const {
    const DrawState& s = m_state;
    if (!s.bits || x < 0 || y < 0 || x >= s.width || y >= s.height) return -1;
    const std::uint8_t* p = s.bits + y * s.stride + x * s.bytesPerPixel;
    if (s.bytesPerPixel == 1) return *p;
    return p[2] | (p[1] << 8) | (p[0] << 16);
}

bool TAvDIBCanvas::ClipRect(int& left, int& top, int& right, int& bottom) const {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, m_state.width);
    bottom = std::min(bottom, m_state.height);
    return m_state.bits && left < right && top < bottom;
}

void TAvDIBCanvas::FillRow(std::uint8_t* row, int left, int right) const {
    const std::uint32_t v = m_state.value;
    if (m_state.bytesPerPixel == 1) {
        // Four pixels per 32-bit store between an unaligned head and tail.
        std::uint8_t* p = row + left;
        std::uint8_t* const end = row + right;
        const auto b = static_cast<std::uint8_t>(v);
        while (p < end && (reinterpret_cast<std::uintptr_t>(p) & 3) != 0)
            *p++ = b;
        for (; end - p >= 4; p += 4)
            std::memcpy(p, &v, 4);
        while (p < end)
            *p++ = b;
    } else {
        // Blue byte, then the green-red pair.
        const auto blue = static_cast<std::uint8_t>(v >> 16);
        const auto greenRed = static_cast<std::uint16_t>(((v & 0xFF) << 8) | ((v >> 8) & 0xFF));
        for (std::uint8_t* p = row + left * 3; p < row + right * 3; p += 3) {
            p[0] = blue;
            std::memcpy(p + 1, &greenRed, 2);
        }
    }
}

void TAvDIBCanvas::Clear() {
    FillRect(0, 0, m_state.width, m_state.height);
}

void TAvDIBCanvas::FillRect(int left, int top, int right, int bottom) {
    if (!ClipRect(left, top, right, bottom)) return;
    for (int y = top; y < bottom; ++y)
        FillRow(m_state.bits + y * m_state.stride, left, right);
}

void TAvDIBCanvas::FillRectDotted(int left, int top, int right, int bottom) {
    if (!ClipRect(left, top, right, bottom)) return;
    const std::uint32_t v = m_state.value;
    for (int y = top; y < bottom; y += 2)
        for (int x = left; x < right; x += 2)
            SetPixel(x, y, v);
}

void TAvDIBCanvas::CopyRect(int dx, int dy, int width, int height, int sx, int sy,
                            const std::uint8_t* sourceBits) {
    const DrawState& s = m_state;
    if (!s.bits || !sourceBits || width <= 0 || height <= 0) return;
    // Clip the source to the picture, then the destination, moving the other corner along. In
    // 64 bits, so that coordinates near the ends of the integers cannot overflow.
    auto clipAxis = [](int& d, int& src, int& len, int limit) {
        std::int64_t d64 = d, s64 = src, l64 = len;
        if (s64 < 0) {
            d64 -= s64;
            l64 += s64;
            s64 = 0;
        }
        if (d64 < 0) {
            s64 -= d64;
            l64 += d64;
            d64 = 0;
        }
        l64 = std::min({l64, limit - s64, limit - d64});
        if (l64 <= 0) {
            len = 0;
            return;
        }
        // Both corners now lie inside the picture.
        d = static_cast<int>(d64);
        src = static_cast<int>(s64);
        len = static_cast<int>(l64);
    };
    clipAxis(dx, sx, width, s.width);
    clipAxis(dy, sy, height, s.height);
    if (width <= 0 || height <= 0) return;
    const std::size_t bytes = static_cast<std::size_t>(width) * s.bytesPerPixel;
    auto row = [&](int y) {
        std::memmove(s.bits + (dy + y) * s.stride + dx * s.bytesPerPixel,
                     sourceBits + (sy + y) * s.stride + sx * s.bytesPerPixel, bytes);
    };
    // Within one buffer, a copy downwards must start with the last row.
    if (sourceBits == s.bits && dy > sy)
        for (int y = height - 1; y >= 0; --y)
            row(y);
    else
        for (int y = 0; y < height; ++y)
            row(y);
}

void TAvDIBCanvas::CopyRect(int dx, int dy, int width, int height, int sx, int sy,
                            const TAvDIBCanvas& source) {
    const std::uint8_t* bits = &source == this ? m_state.bits : source.Bits();
    if (source.m_image.width() != m_state.width || source.m_image.height() != m_state.height ||
        source.m_bitsPerPixel != m_state.bitsPerPixel)
        return;
    CopyRect(dx, dy, width, height, sx, sy, bits);
}

void TAvDIBCanvas::DrawTo(QPainter* target, int dx, int dy, int width, int height, int sx,
                          int sy) const {
    if (!target || m_image.isNull() || width <= 0 || height <= 0) return;
    target->drawImage(QPoint(dx, dy), m_image, QRect(sx, sy, width, height));
}

void TAvDIBCanvas::SetAnimatedColors(int count) {
    if (count < 0 || count > kMaxAnimated) throw EAvDIBError("Invalid count of animated colors");
    m_animatedCount = count;
}

void TAvDIBCanvas::AnimateColor(int index, TColor color) {
    if (index < 0 || index >= m_animatedCount) throw EAvDIBError("Invalidate animated color index");
    const int entry = kFirstFree + index;
    m_palette[entry] = ToQRgb(color);
    if (m_bitsPerPixel == 8) {
        m_image.setColor(entry, m_palette[entry]);
        // setColor may have given the picture memory of its own.
        if (m_drawing) m_state.bits = m_image.bits();
    }
}

// --- TAvDIBGraphicControl -----------------------------------------------------------------------

TAvDIBGraphicControl::TAvDIBGraphicControl(TComponent* AOwner)
    : TAvGraphicControl(AOwner), FDIB(std::make_unique<TAvDIBCanvas>(this)),
      FBackGroundDIB(std::make_unique<TBitmap>()) {
    FDIB->SetPaletteRealize(false);
    FDIB->SetPaletteMapped(false);
    FBackGroundDIB->OnChange.Assign(this, &TAvDIBGraphicControl::BackGroundChanged);
}

TAvDIBGraphicControl::~TAvDIBGraphicControl() {
    FBackGroundDIB->OnChange.Clear();
}

void TAvDIBGraphicControl::SetBounds(int left, int top, int width, int height) {
    TAvGraphicControl::SetBounds(left, top, width, height);
    FDIB->SetSize(Width(), Height());
}

void TAvDIBGraphicControl::Loaded() {
    TAvGraphicControl::Loaded();
    SetUseBackGroundDIB(FLoadingUseBackGroundDIB);
}

void TAvDIBGraphicControl::SetBitsPerPixel(int n) {
    FDIB->SetBitsPerPixel(n);
    Invalidate();
}

void TAvDIBGraphicControl::ApplyBackground() {
    if (FUseBackGroundDIB)
        FDIB->SetBackGroundBitmap(FBackGroundDIB.get());
    else
        FDIB->SetBackGroundImage(QImage());
}

void TAvDIBGraphicControl::SetUseBackGroundDIB(bool v) {
    if (IsLoading()) {
        FLoadingUseBackGroundDIB = v;
        return;
    }
    FUseBackGroundDIB = v && !FBackGroundDIB->Empty();
    FDIB->SetPaletteRealize(FUseBackGroundDIB);
    ApplyBackground();
    Invalidate();
}

void TAvDIBGraphicControl::BackGroundChanged(TObject*) {
    if (IsLoading()) return;
    if (IsDesigning()) {
        FUseBackGroundDIB = !FBackGroundDIB->Empty();
        FDIB->SetPaletteRealize(FUseBackGroundDIB);
    }
    ApplyBackground();
    Invalidate();
}

void TAvDIBGraphicControl::DrawBackground() {
    if (FDIB->HasBackground()) {
        FDIB->CopyRect(0, 0, FDIB->Width(), FDIB->Height(), 0, 0, FDIB->BackgroundBits());
    } else {
        FDIB->SetDrawColor(Color());
        FDIB->Clear();
    }
}

bool TAvDIBGraphicControl::PrepareScreen() {
    if (FScreen.width() == std::max(width(), 1) && FScreen.height() == std::max(height(), 1))
        return true;
    FScreen = QImage(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
    if (FScreen.isNull()) return false;
    FScreen.fill(ToQColor(Color()));
    FFullPaintDue = true; // a new picture holds nothing yet
    return true;
}

namespace {

// The canvas state a paint starts with, as the framework sets it for every control.
struct CanvasBracket {
    TCanvas* canvas;
    CanvasBracket(TControl* c, QPainter* p) : canvas(c->Canvas()) {
        canvas->BeginPaint(p);
        canvas->Font()->Assign(c->Font());
        canvas->Brush()->SetColor(c->Color());
        canvas->Pen()->SetColor(clBlack);
        canvas->Pen()->SetWidth(1);
        canvas->Pen()->SetStyle(psSolid);
        canvas->Pen()->SetMode(pmCopy);
    }
    ~CanvasBracket() { canvas->EndPaint(); }
    CanvasBracket(const CanvasBracket&) = delete;
    CanvasBracket& operator=(const CanvasBracket&) = delete;
};

} // namespace

// Every paint composes the control's picture in FScreen and then shows FScreen, so that a direct
// drawing can later change part of the picture and show it without painting everything again.
void TAvDIBGraphicControl::paintEvent(QPaintEvent* e) {
    if (!PrepareScreen()) return;
    if (!FBlitOnly) {
        FFullPaintDue = false;
        QPainter sp(&FScreen);
        if (Opaque()) sp.fillRect(FScreen.rect(), ToQColor(Color()));
        FInPaint = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{FInPaint};
        CanvasBracket bracket(this, &sp);
        Paint();
    }
    QPainter wp(this);
    wp.drawImage(e->rect(), FScreen, e->rect());
}

void TAvDIBGraphicControl::Invalidate() {
    FFullPaintDue = true;
    TAvGraphicControl::Invalidate();
}

void TAvDIBGraphicControl::PaintDirect(const TPaintProc& proc, void* arg) {
    if (!proc) return;
    if (QThread::currentThread() != thread()) {
        // Widgets belong to the main thread: show the new state with the next normal paint (a
        // call by name carries no data of ours across threads).
        QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
        return;
    }
    if (!Visible() || !Parent() || !isVisible() || visibleRegion().isEmpty()) return;
    if (!PrepareScreen()) return;
    if (FFullPaintDue && !FInPaint) {
        repaint(); // the whole picture, the new state included
        return;
    }
    {
        QPainter sp(&FScreen);
        sp.setClipRect(0, 0, Width(), Height());
        CanvasBracket bracket(this, &sp);
        proc(arg);
    }
    // Inside a paint the picture goes out at the end of that paint anyway.
    if (FInPaint) return;
    FBlitOnly = true;
    repaint();
    FBlitOnly = false;
}
