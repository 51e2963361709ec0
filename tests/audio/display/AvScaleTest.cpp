#include "audio/display/AvScale.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

namespace {

QRgb Px(TColor c) {
    return ToQColor(c).rgb();
}

// A bitmap in a neutral grey, so that black and white lines both show.
struct Sheet {
    TBitmap bmp;
    Sheet(int w, int h) : bmp(w, h) {
        bmp.Canvas()->Brush()->SetColor(clGray);
        bmp.Canvas()->FillRect(Rect(0, 0, w, h));
    }
    QRgb At(int x, int y) const { return bmp.Image().pixel(x, y); }
};

// Rows (or columns) of a line that carry colour c.
int Count(const Sheet& s, int x0, int y0, int dx, int dy, int n, TColor c) {
    int k = 0;
    for (int i = 0; i < n; ++i)
        if (s.At(x0 + i * dx, y0 + i * dy) == Px(c)) ++k;
    return k;
}

} // namespace

TEST(AvScale, DefaultsClampingAndExtent) {
    TAvScale s;
    EXPECT_TRUE(s.Visible());
    EXPECT_EQ(s.Color(), clBlack);
    EXPECT_EQ(s.Style(), stColor);
    EXPECT_EQ(s.TickCount(), 11);
    EXPECT_EQ(s.EnlargeEvery(), 5);
    EXPECT_EQ(s.Size(), 7);
    EXPECT_EQ(s.Origin(), soInner);
    EXPECT_FALSE(s.Connect());
    int changes = 0;
    s.OnChange = [&](TObject*) { ++changes; };
    s.SetTickCount(1);
    EXPECT_EQ(s.TickCount(), 2);
    s.SetEnlargeEvery(0);
    EXPECT_EQ(s.EnlargeEvery(), 1);
    s.SetSize(-3);
    EXPECT_EQ(s.Size(), 1);
    EXPECT_EQ(changes, 3);
    s.SetSize(1);
    EXPECT_EQ(changes, 3); // unchanged: silent

    s.SetSize(6);
    EXPECT_EQ(s.ScaleExtent(), 6);
    s.SetConnect(true);
    EXPECT_EQ(s.ScaleExtent(), 7);
    s.SetStyle(stLowered);
    EXPECT_EQ(s.ScaleExtent(), 8);
    EXPECT_TRUE(SetPropValue(&s, "TickCount", 0));
    EXPECT_EQ(s.TickCount(), 2);
}

TEST(AvScale, AssignCopiesWithOneChange) {
    TAvScale a, b;
    a.SetVisible(false);
    a.SetColor(clRed);
    a.SetStyle(stRaised);
    a.SetTickCount(7);
    a.SetEnlargeEvery(6);
    a.SetSize(6);
    a.SetOrigin(soOuter);
    a.SetConnect(true);
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    b.Assign(&a);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(b.Visible());
    EXPECT_EQ(b.Color(), clRed);
    EXPECT_EQ(b.Style(), stRaised);
    EXPECT_EQ(b.TickCount(), 7);
    EXPECT_EQ(b.EnlargeEvery(), 6);
    EXPECT_EQ(b.Size(), 6);
    EXPECT_EQ(b.Origin(), soOuter);
    EXPECT_TRUE(b.Connect());
}

TEST(AvScale, CanvasNeeded) {
    TAvScale s;
    try {
        s.DrawScale(Rect(0, 0, 10, 100), true);
        FAIL() << "no error";
    } catch (const EAvScaleError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Canvas needed for this operation"));
    }
    EXPECT_THROW(s.DrawLine(0, 0, 5, 0, clBlack), EAvScaleError);
}

TEST(AvScale, HorizontalTicksAndAnchoring) {
    Sheet sh(120, 14);
    TAvScale s;
    s.SetCanvas(sh.bmp.Canvas());
    s.SetTickCount(3);
    s.SetEnlargeEvery(2);
    s.SetSize(6);
    // First side with soInner: ticks grow up from the bottom edge.
    s.DrawScale(Rect(10, 2, 110, 10), true);
    EXPECT_EQ(Count(sh, 10, 0, 0, 1, 14, clBlack), 6);
    EXPECT_EQ(sh.At(10, 4), Px(clBlack));
    EXPECT_EQ(sh.At(10, 3), Px(clGray));
    EXPECT_EQ(sh.At(10, 10), Px(clGray));              // the bottom edge is exclusive
    EXPECT_EQ(Count(sh, 60, 0, 0, 1, 14, clBlack), 3); // middle tick half length
    EXPECT_EQ(sh.At(60, 7), Px(clBlack));
    EXPECT_EQ(Count(sh, 110, 0, 0, 1, 14, clBlack), 6); // last tick on the right edge
    EXPECT_EQ(Count(sh, 0, 8, 1, 0, 120, clBlack), 3);  // nothing between the ticks

    // Second side: from the top edge; soOuter turns both around.
    Sheet low(120, 14);
    s.SetCanvas(low.bmp.Canvas());
    s.DrawScale(Rect(10, 2, 110, 10), false);
    EXPECT_EQ(low.At(10, 2), Px(clBlack));
    EXPECT_EQ(low.At(10, 7), Px(clBlack));
    EXPECT_EQ(low.At(10, 8), Px(clGray));
    EXPECT_EQ(low.At(60, 4), Px(clBlack));
    EXPECT_EQ(low.At(60, 5), Px(clGray));
    Sheet outer(120, 14);
    s.SetOrigin(soOuter);
    s.SetCanvas(outer.bmp.Canvas());
    s.DrawScale(Rect(10, 2, 110, 10), true);
    EXPECT_EQ(outer.At(10, 2), Px(clBlack));
    EXPECT_EQ(outer.At(10, 9), Px(clGray));
}

TEST(AvScale, ConnectingLineAndPartnerLines) {
    Sheet sh(120, 16);
    TAvScale s;
    s.SetCanvas(sh.bmp.Canvas());
    s.SetTickCount(3);
    s.SetSize(6);
    s.SetConnect(true);
    s.SetStyle(stLowered);
    s.DrawScale(Rect(10, 2, 110, 10), true); // anchored at the bottom, k = 1
    // The connecting line at B - k, its white partner one row below.
    EXPECT_EQ(sh.At(35, 9), Px(clBlack));
    EXPECT_EQ(sh.At(35, 10), Px(clWhite));
    EXPECT_EQ(sh.At(110, 9), Px(clBlack)); // runs to R + 1 exclusive
    // A tick: black, with a white partner to its right.
    EXPECT_EQ(sh.At(10, 5), Px(clBlack));
    EXPECT_EQ(sh.At(11, 5), Px(clWhite));

    Sheet up(30, 120);
    s.SetStyle(stRaised);
    s.SetCanvas(up.bmp.Canvas());
    s.DrawScale(Rect(5, 10, 15, 110), true); // vertical, anchored right, k = 1
    // The connecting line at R - 1 - k: white first, black partner to its right.
    EXPECT_EQ(up.At(13, 50), Px(clWhite));
    EXPECT_EQ(up.At(14, 50), Px(clBlack));
    // Ticks end at R - k; the partner of a flat tick lies below it.
    EXPECT_EQ(up.At(13, 10), Px(clWhite));
    EXPECT_EQ(up.At(8, 10), Px(clWhite));
    EXPECT_EQ(up.At(7, 10), Px(clGray));
    EXPECT_EQ(up.At(8, 11), Px(clBlack));
}

TEST(AvScale, VerticalPositionsRoundHalfToEven) {
    Sheet sh(10, 12);
    TAvScale s;
    s.SetCanvas(sh.bmp.Canvas());
    s.SetTickCount(3);
    s.SetSize(3);
    s.DrawScale(Rect(0, 0, 4, 5), true); // length 5: ticks at 0, 2.5 -> 2, 5
    EXPECT_EQ(sh.At(1, 0), Px(clBlack));
    EXPECT_EQ(sh.At(3, 2), Px(clBlack)); // half length 1, ending at the right edge
    EXPECT_EQ(sh.At(2, 2), Px(clGray));
    EXPECT_EQ(sh.At(3, 3), Px(clGray));
    EXPECT_EQ(sh.At(3, 5), Px(clBlack));
    EXPECT_EQ(sh.At(0, 5), Px(clGray));
}

TEST(AvScale, SnapshotsOfTheThreeStyles) {
    TBitmap bmp(260, 80);
    bmp.Canvas()->Brush()->SetColor(clBtnFace);
    bmp.Canvas()->FillRect(Rect(0, 0, 260, 80));
    TAvScale s;
    s.SetCanvas(bmp.Canvas());
    s.SetColor(clNavy);
    s.SetConnect(true);
    const TAvScaleStyle styles[] = {stColor, stLowered, stRaised};
    for (int i = 0; i < 3; ++i) {
        s.SetStyle(styles[i]);
        s.DrawScale(Rect(10, 5 + i * 25, 200, 5 + i * 25 + s.ScaleExtent()), i % 2 == 0);
        s.DrawScale(Rect(215 + i * 14, 5, 215 + i * 14 + s.ScaleExtent(), 75), i % 2 == 0);
    }
    const QImage img = bmp.Image();
    const QString dir = QDir::temp().filePath(QStringLiteral("avsetup-display"));
    QDir().mkpath(dir);
    EXPECT_TRUE(img.scaled(img.size() * 3).save(QDir(dir).filePath("scales-x3.png")));
    EXPECT_EQ(img.pixel(10, 5 + s.ScaleExtent() - 1), Px(clNavy)); // stColor ticks in Color
}
