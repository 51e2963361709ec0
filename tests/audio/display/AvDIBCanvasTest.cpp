#include "audio/display/AvDIBCv.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTimer>
#include <atomic>
#include <limits>
#include <set>
#include <thread>
#include <utility>

namespace {

using Points = std::set<std::pair<int, int>>;

// Pixels of the surface whose value differs from `background`.
Points Set(const TAvDIBCanvas& c, std::int32_t background = 0) {
    Points p;
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x)
            if (c.GetPixel(x, y) != background) p.insert({x, y});
    return p;
}

// Draws on a fresh surface in a bracket; the lambda gets the surface.
template <typename F> Points Drawn(int w, int h, int bpp, F f) {
    TAvDIBCanvas c;
    c.SetBitsPerPixel(bpp);
    c.SetSize(w, h);
    c.BeginDraw();
    f(c);
    Points p = Set(c);
    c.EndDraw();
    return p;
}

} // namespace

TEST(AvDIBCanvasGeometry, StrideAndDefaults) {
    TAvDIBCanvas c;
    EXPECT_EQ(c.BitsPerPixel(), 8);
    EXPECT_EQ(c.Width(), 1);
    EXPECT_EQ(c.Height(), 1);
    EXPECT_TRUE(c.StretchBackGround());
    EXPECT_FALSE(c.PaletteRealize());
    EXPECT_FALSE(c.PaletteMapped());
    EXPECT_EQ(c.Stride(), 4);
    EXPECT_EQ(c.Image().bytesPerLine(), 4);
    c.SetBitsPerPixel(24);
    EXPECT_EQ(c.Stride(), 4);
    EXPECT_EQ(c.Image().bytesPerLine(), 4);
    c.SetSize(5, 3);
    EXPECT_EQ(c.Stride(), 16);
    c.CreateHandle();
    EXPECT_EQ(c.Image().bytesPerLine(), 16);
    EXPECT_EQ(c.Image().width(), 5);
    c.SetBitsPerPixel(8);
    EXPECT_EQ(c.Image().bytesPerLine(), 8);
    EXPECT_EQ(TAvDIBCanvas::StrideFor(17, 8), 20);
    c.SetSize(0, -4); // at least one pixel
    EXPECT_EQ(c.Width(), 1);
    EXPECT_EQ(c.Height(), 1);
}

TEST(AvDIBCanvasGeometry, BitDepthErrors) {
    TAvDIBCanvas c;
    try {
        c.SetBitsPerPixel(16);
        FAIL() << "no error";
    } catch (const EAvDIBError& e) {
        EXPECT_STREQ(e.what(), "Bitlength not supported yet");
    }
    EXPECT_EQ(c.BitsPerPixel(), 8);
    EXPECT_THROW(c.SetBitsPerPixel(32), EAvDIBError);
}

TEST(AvDIBCanvasPalette, StaticColoursAndNearestEntry) {
    TAvDIBCanvas c;
    const QList<QRgb>& pal = c.Palette();
    ASSERT_EQ(pal.size(), 256);
    EXPECT_EQ(pal[9], qRgb(166, 202, 240));
    EXPECT_EQ(pal[251], qRgb(255, 255, 0));
    EXPECT_EQ(pal[100], qRgb(0, 0, 0));
    EXPECT_EQ(pal[245], qRgb(0, 0, 0));
    EXPECT_EQ(c.ColorToValue(clYellow), 251u);
    EXPECT_EQ(c.ColorToValue(15588544), 9u);
    EXPECT_EQ(c.ColorToValue(clBlack), 0u);
    EXPECT_EQ(c.ColorToValue(clWhite), 255u);
    EXPECT_EQ(c.ColorToValue(clBtnFace), 8u); // (212,208,200) nearest (192,220,192)
    c.SetBitsPerPixel(24);
    EXPECT_EQ(c.ColorToValue(clYellow), static_cast<std::uint32_t>(clYellow));
    EXPECT_EQ(c.ColorToValue(clBtnFace), static_cast<std::uint32_t>(RGB(212, 208, 200)));
}

TEST(AvDIBCanvasPrimitives, PixelsAndRawByteOrder) {
    TAvDIBCanvas c;
    c.SetBitsPerPixel(24);
    c.SetSize(3, 2);
    EXPECT_EQ(c.GetPixel(0, 0), -1); // outside the bracket
    c.BeginDraw();
    c.SetPixel(1, 1, static_cast<std::uint32_t>(RGB(10, 20, 30)));
    EXPECT_EQ(c.GetPixel(1, 1), RGB(10, 20, 30));
    EXPECT_EQ(c.GetPixel(3, 0), -1);
    EXPECT_EQ(c.GetPixel(0, -1), -1);
    c.SetPixel(-1, 0, 5); // clipped silently
    const std::uint8_t* p = c.Bits() + c.Stride() + 3;
    EXPECT_EQ(p[0], 30); // blue, green, red
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 10);
    c.EndDraw();
    EXPECT_EQ(c.Image().pixel(1, 1), qRgb(10, 20, 30)); // the picture shows what was drawn
}

TEST(AvDIBCanvasPrimitives, FillRectClipsAndNormalises) {
    for (int bpp : {8, 24}) {
        auto fill = [](int l, int t, int r, int b) {
            return [=](TAvDIBCanvas& c) {
                c.SetDrawColor(clRed);
                c.FillRect(l, t, r, b);
            };
        };
        const Points a = Drawn(10, 6, bpp, fill(2, 1, 5, 3));
        EXPECT_EQ(a.size(), 6u) << bpp;
        EXPECT_TRUE(a.count({2, 1}) && a.count({4, 2}) && !a.count({5, 2}) && !a.count({4, 3}));
        EXPECT_EQ(Drawn(10, 6, bpp, fill(5, 3, 2, 1)), a);
        EXPECT_EQ(Drawn(10, 6, bpp, fill(-5, -5, 100, 100)).size(), 60u);
        EXPECT_TRUE(Drawn(10, 6, bpp, fill(3, 3, 3, 5)).empty());
        EXPECT_TRUE(Drawn(10, 6, bpp, fill(10, 0, 20, 6)).empty());
    }
}

TEST(AvDIBCanvasPrimitives, EightBitFillsEveryAlignment) {
    // Rows start at every offset and length, so head, 32-bit body and tail all get exercised.
    TAvDIBCanvas c;
    c.SetSize(23, 1);
    for (int l = 0; l < 12; ++l)
        for (int r = l; r <= 23; ++r) {
            c.BeginDraw();
            c.SetDrawIndex(0);
            c.Clear();
            c.SetDrawIndex(200);
            c.FillRect(l, 0, r, 1);
            for (int x = 0; x < 23; ++x)
                ASSERT_EQ(c.GetPixel(x, 0), x >= l && x < r ? 200 : 0) << l << " " << r;
            c.EndDraw();
        }
}

TEST(AvDIBCanvasPrimitives, DottedFill) {
    auto dotted = [](int l, int t, int r, int b) {
        return [=](TAvDIBCanvas& c) {
            c.SetDrawColor(clWhite);
            c.FillRectDotted(l, t, r, b);
        };
    };
    EXPECT_EQ(Drawn(8, 8, 8, dotted(1, 1, 4, 4)), (Points{{1, 1}, {3, 1}, {1, 3}, {3, 3}}));
    EXPECT_EQ(Drawn(8, 8, 24, dotted(1, 1, 4, 4)), (Points{{1, 1}, {3, 1}, {1, 3}, {3, 3}}));
    EXPECT_EQ(Drawn(8, 8, 8, dotted(2, 5, 6, 6)), (Points{{2, 5}, {4, 5}}));
    // Parity counts from the clipped corner.
    EXPECT_EQ(Drawn(3, 1, 8, dotted(-1, 0, 3, 1)), (Points{{0, 0}, {2, 0}}));
}

TEST(AvDIBCanvasPrimitives, ClearAndDrawValue) {
    TAvDIBCanvas c;
    c.SetSize(5, 2);
    c.BeginDraw();
    c.SetDrawColor(clYellow);
    EXPECT_EQ(c.DrawValue(), 0xFBFBFBFBu); // the index in all four bytes
    c.Clear();
    EXPECT_EQ(Set(c, 251).size(), 0u);
    c.EndDraw();
    c.SetBitsPerPixel(24);
    c.BeginDraw();
    EXPECT_EQ(c.DrawValue(), 0u); // reset by BeginDraw
    c.SetDrawColor(clBtnFace);
    c.Clear();
    EXPECT_EQ(c.GetPixel(4, 1), RGB(212, 208, 200));
    c.EndDraw();
}

TEST(AvDIBCanvasPrimitives, CopyRectOverlapAndClipping) {
    for (int bpp : {8, 24}) {
        TAvDIBCanvas c;
        c.SetBitsPerPixel(bpp);
        c.SetSize(6, 6);
        c.BeginDraw();
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                c.SetPixel(x, y, static_cast<std::uint32_t>(y * 6 + x + 1));
        // Down and right by one inside the same picture.
        c.CopyRect(1, 1, 4, 4, 0, 0, c.Bits());
        for (int y = 1; y < 5; ++y)
            for (int x = 1; x < 5; ++x)
                ASSERT_EQ(c.GetPixel(x, y), (y - 1) * 6 + x) << bpp;
        EXPECT_EQ(c.GetPixel(5, 5), 36);
        EXPECT_EQ(c.GetPixel(0, 0), 1);
        // Up and left: rows copied top first.
        c.CopyRect(0, 0, 3, 3, 1, 1, c.Bits());
        EXPECT_EQ(c.GetPixel(0, 0), 1);
        EXPECT_EQ(c.GetPixel(2, 2), 15);
        // Source partly outside: the clipped part moves with the destination.
        c.CopyRect(0, 3, 3, 3, 4, -2, c.Bits());
        EXPECT_EQ(c.GetPixel(0, 5), 5);
        EXPECT_EQ(c.GetPixel(1, 5), 6);
        EXPECT_EQ(c.GetPixel(2, 5), 33);
        EXPECT_EQ(c.GetPixel(0, 4), 25);         // untouched
        c.CopyRect(4, 4, 10, 10, 0, 0, nullptr); // nothing to copy from
        c.EndDraw();
    }
}

TEST(AvDIBCanvasPrimitives, ExtremeCoordinatesOnlyClip) {
    constexpr int lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    TAvDIBCanvas c;
    c.SetSize(4, 4);
    c.BeginDraw();
    c.SetDrawIndex(7);
    c.FillRect(lo, lo, hi, hi);
    EXPECT_EQ(Set(c).size(), 16u);
    c.SetPixel(1, 2, 9);
    // Rectangles reaching past either end of the integers copy what lies inside the picture.
    c.CopyRect(0, 0, hi, hi, lo, lo, c.Bits());
    c.CopyRect(lo, lo, hi, hi, 0, 0, c.Bits());
    c.CopyRect(hi, hi, hi, hi, 0, 0, c.Bits());
    c.CopyRect(0, 0, hi, hi, hi, hi, c.Bits());
    EXPECT_EQ(c.GetPixel(1, 2), 9);
    c.CopyRect(-1, 0, hi, 1, 0, 2, c.Bits()); // row 2 moved left by one onto row 0
    EXPECT_EQ(c.GetPixel(0, 0), 9);
    EXPECT_EQ(c.GetPixel(1, 0), 7);
    c.FillRectDotted(hi, hi, lo, lo);
    EXPECT_EQ(c.GetPixel(hi, 0), -1);
    c.EndDraw();
}

TEST(AvDIBCanvasGeometry, ASurfaceTooLargeFailsClearlyAndStaysUsable) {
    TAvDIBCanvas c;
    c.SetSize(1 << 20, 1 << 20); // a terabyte of pixels
    EXPECT_THROW(c.BeginDraw(), EAvDIBError);
    EXPECT_EQ(TAvDIBCanvas::StrideFor(std::numeric_limits<int>::max(), 24),
              std::numeric_limits<int>::max()); // saturates instead of overflowing
    EXPECT_FALSE(c.Drawing());
    // The drawing lock was let go: another thread can draw meanwhile.
    std::thread other([] {
        TAvDIBCanvas o;
        o.BeginDraw();
        o.EndDraw();
    });
    other.join();
    c.SetSize(3, 2);
    c.BeginDraw();
    c.SetDrawIndex(4);
    c.Clear();
    EXPECT_EQ(Set(c).size(), 6u);
    c.EndDraw();
}

TEST(AvDIBCanvasPrimitives, CopyFromAnotherSurface) {
    TAvDIBCanvas back, work, small;
    back.SetSize(4, 3);
    work.SetSize(4, 3);
    small.SetSize(2, 2);
    back.BeginDraw();
    back.SetDrawColor(clLime);
    back.Clear();
    back.EndDraw();
    work.BeginDraw();
    work.CopyRect(0, 0, 2, 2, 0, 0, small); // other geometry: refused
    EXPECT_EQ(work.GetPixel(0, 0), 0);
    work.CopyRect(0, 0, 4, 3, 0, 0, back);
    EXPECT_EQ(work.GetPixel(3, 2), 250);
    work.EndDraw();
}

TEST(AvDIBCanvasLifecycle, RebuildRefusedWhileDrawing) {
    QTimer owner; // any object: its class names the surface in the message
    TAvDIBCanvas c(&owner);
    c.SetSize(4, 4);
    c.BeginDraw();
    EXPECT_TRUE(c.Drawing());
    try {
        c.Rebuild();
        FAIL() << "no error";
    } catch (const EAvDIBError& e) {
        EXPECT_STREQ(e.what(), "QTimer: Attempt to create new DIB while initialized for drawing");
    }
    EXPECT_THROW(c.SetBitsPerPixel(24), EAvDIBError);
    EXPECT_EQ(c.BitsPerPixel(), 8);
    // Resizing while drawing only marks the rebuild; the pass keeps its geometry.
    c.SetDrawIndex(3);
    c.SetSize(8, 2);
    EXPECT_TRUE(c.RebuildNeeded());
    c.FillRect(0, 0, 8, 8);
    EXPECT_EQ(c.GetPixel(3, 3), 3);
    EXPECT_EQ(c.GetPixel(5, 0), -1);
    EXPECT_EQ(c.Image().width(), 4);
    c.EndDraw();
    EXPECT_FALSE(c.Drawing());
    c.BeginDraw();
    EXPECT_FALSE(c.RebuildNeeded());
    EXPECT_EQ(c.Image().width(), 8);
    EXPECT_EQ(c.GetPixel(0, 0), 0); // a rebuilt picture starts black
    c.EndDraw();
}

TEST(AvDIBCanvasLifecycle, DrawingLockIsProcessWide) {
    TAvDIBCanvas a, b;
    std::atomic<bool> inB{false};
    a.BeginDraw();
    std::thread t([&] {
        b.BeginDraw();
        inB = true;
        b.EndDraw();
    });
    // While a is drawing, b cannot start.
    for (int i = 0; i < 50 && !inB; ++i)
        std::this_thread::yield();
    EXPECT_FALSE(inB.load());
    a.EndDraw();
    t.join();
    EXPECT_TRUE(inB.load());
    // A second surface on the same thread does not deadlock, and each keeps its own state.
    a.BeginDraw();
    b.BeginDraw();
    b.SetDrawIndex(7);
    b.Clear();
    b.EndDraw();
    a.SetDrawIndex(9);
    a.Clear();
    EXPECT_EQ(a.GetPixel(0, 0), 9);
    a.EndDraw();
    a.EndDraw(); // unpaired: ignored
}

TEST(AvDIBCanvasBackground, StretchedTiledAndPalette) {
    // A 2 x 2 checker of two colours that are not among the static ones.
    const QRgb green = qRgb(10, 200, 30), orange = qRgb(250, 100, 5);
    QImage pic(2, 2, QImage::Format_RGB32);
    pic.fill(green);
    pic.setPixel(1, 0, orange);
    pic.setPixel(0, 1, orange);

    TAvDIBCanvas c;
    c.SetSize(4, 4);
    c.SetBackGroundImage(pic);
    ASSERT_TRUE(c.HasBackground());
    // The picture's colours take the free entries; the static ones stay where they are.
    EXPECT_TRUE(c.Palette().indexOf(green) >= 10 && c.Palette().indexOf(green) <= 244);
    EXPECT_EQ(c.Palette()[245], qRgb(0, 0, 0));
    EXPECT_EQ(c.Palette()[251], qRgb(255, 255, 0));
    QImage bg = c.BackgroundImage();
    EXPECT_EQ(bg.pixel(0, 0), green); // stretched: 2 x 2 blocks
    EXPECT_EQ(bg.pixel(1, 1), green);
    EXPECT_EQ(bg.pixel(2, 0), orange);
    EXPECT_EQ(bg.pixel(3, 1), orange);
    c.SetStretchBackGround(false);
    bg = c.BackgroundImage();
    EXPECT_EQ(bg.pixel(1, 0), orange); // tiled: the picture repeats every 2 pixels
    EXPECT_EQ(bg.pixel(2, 0), green);
    EXPECT_EQ(bg.pixel(3, 0), orange);
    EXPECT_EQ(bg.pixel(3, 3), green);

    c.BeginDraw();
    c.CopyRect(0, 0, 4, 4, 0, 0, c.BackgroundBits());
    EXPECT_EQ(c.GetPixel(3, 0), bg.pixelIndex(3, 0));
    // The background cannot change in the middle of a pass.
    EXPECT_THROW(c.SetBackGroundImage(QImage()), EAvDIBError);
    c.EndDraw();
    c.BeginDraw(); // the refused change is built now
    EXPECT_FALSE(c.HasBackground());
    c.EndDraw();

    c.SetBackGroundImage(pic);
    c.SetBitsPerPixel(24);
    EXPECT_EQ(c.BackgroundImage().pixel(3, 0), orange);
    c.SetBackGroundImage(QImage());
    EXPECT_FALSE(c.HasBackground());
    EXPECT_EQ(c.BackgroundBits(), nullptr);
}

TEST(AvDIBCanvasBackground, TrueColourPictureOnEightBits) {
    QImage pic(3, 1, QImage::Format_RGB32);
    pic.setPixel(0, 0, qRgb(255, 0, 0));
    pic.setPixel(1, 0, qRgb(40, 50, 60));
    pic.setPixel(2, 0, qRgb(255, 255, 255));
    TAvDIBCanvas c;
    c.SetSize(3, 1);
    c.SetBackGroundImage(pic);
    const QImage bg = c.BackgroundImage();
    EXPECT_EQ(bg.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(bg.pixel(1, 0), qRgb(40, 50, 60)); // taken into the free palette entries
    EXPECT_EQ(bg.pixel(2, 0), qRgb(255, 255, 255));
}

TEST(AvDIBCanvasOutput, DrawToPainter) {
    TAvDIBCanvas c;
    c.SetSize(4, 4);
    c.BeginDraw();
    c.SetDrawColor(clRed);
    c.FillRect(0, 0, 2, 2);
    c.SetDrawColor(clBlue);
    c.FillRect(2, 2, 4, 4);
    QImage target(10, 10, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter p(&target);
        c.DrawTo(&p, 5, 6, 3, 3, 1, 1);
        c.DrawTo(static_cast<QPainter*>(nullptr), 0, 0, 4, 4, 0, 0);
    }
    c.EndDraw();
    EXPECT_EQ(target.pixel(5, 6), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(6, 6), qRgb(0, 0, 0));
    EXPECT_EQ(target.pixel(7, 8), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(8, 8), qRgb(255, 255, 255)); // outside the copied area
    EXPECT_EQ(target.pixel(4, 6), qRgb(255, 255, 255));
}

TEST(AvDIBCanvasAnimation, ReservedEntries) {
    TAvDIBCanvas c;
    try {
        c.SetAnimatedColors(237);
        FAIL() << "no error";
    } catch (const EAvDIBError& e) {
        EXPECT_STREQ(e.what(), "Invalid count of animated colors");
    }
    EXPECT_THROW(c.SetAnimatedColors(-1), EAvDIBError);
    c.SetAnimatedColors(236);
    c.SetAnimatedColors(2);
    try {
        c.AnimateColor(2, clRed);
        FAIL() << "no error";
    } catch (const EAvDIBError& e) {
        EXPECT_STREQ(e.what(), "Invalidate animated color index");
    }
    c.BeginDraw();
    c.SetDrawIndex(11);
    c.Clear();
    c.AnimateColor(1, RGB(1, 2, 3));
    c.SetPixel(0, 0, 11);
    c.EndDraw();
    EXPECT_EQ(c.Image().pixel(0, 0), qRgb(1, 2, 3));
}

TEST(AvDIBCanvasOutput, CanvasOperationsOnTrueColourSurfaces) {
    TAvDIBCanvas c;
    c.SetBitsPerPixel(24);
    c.SetSize(8, 6);
    c.CreateHandle();    // a new size is built here or at the next BeginDraw
    TCanvas& canvas = c; // the framework canvas side of the surface
    ASSERT_NE(canvas.Painter(), nullptr);
    canvas.Brush()->SetColor(clRed);
    canvas.TCanvas::FillRect(Rect(2, 1, 5, 3));
    c.BeginDraw(); // canvas drawing is in the pixels once the pass starts
    EXPECT_EQ(c.GetPixel(2, 1), clRed);
    EXPECT_EQ(c.GetPixel(4, 2), clRed);
    EXPECT_EQ(c.GetPixel(5, 2), clBlack);
    c.EndDraw();
    c.SetBitsPerPixel(8); // an 8-bit picture takes no painter
    EXPECT_EQ(canvas.Painter(), nullptr);
}
