#include "audio/display/AvObj.h"
#include "audio/display/AvPanel.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>

namespace {

QRgb Px(TColor c) {
    return ToQColor(c).rgb();
}

// Paints the bevel on a white bitmap and returns the bitmap; inner gets the returned rectangle.
QImage PaintBevel(TAvBevel& b, int w, int h, bool fillBorder, TRect* inner = nullptr) {
    TBitmap bmp(w, h);
    bmp.Canvas()->Brush()->SetColor(clWhite);
    bmp.Canvas()->FillRect(Rect(0, 0, w, h));
    const TRect r = b.Paint(bmp.Canvas(), Rect(0, 0, w, h), fillBorder);
    if (inner) *inner = r;
    return bmp.Image().copy();
}

QString SnapshotDir() {
    const QString dir = QDir::temp().filePath(QStringLiteral("avsetup-display"));
    QDir().mkpath(dir);
    return dir;
}

struct Counter {
    int changing = 0, change = 0;
    void Attach(TAvObject& o) {
        o.OnChanging = [this](TObject*) { ++changing; };
        o.OnChange = [this](TObject*) { ++change; };
    }
};

} // namespace

TEST(AvObject, UpdateBracketRaisesOnePairOfEvents) {
    TAvBevel b;
    Counter n;
    n.Attach(b);
    b.BeginUpdate();
    b.BeginUpdate();
    b.SetBorderWidth(3);
    b.SetBorderSpace(2);
    EXPECT_EQ(n.changing, 1);
    EXPECT_EQ(n.change, 0);
    b.EndUpdate();
    EXPECT_EQ(n.change, 0);
    b.EndUpdate();
    EXPECT_EQ(n.change, 1);
    b.EndUpdate(); // unpaired: no event and the counter stays usable
    EXPECT_EQ(b.UpdateCount(), 0);
    b.SetBorderWidth(4);
    EXPECT_EQ(n.change, 2);
    b.SetBorderWidth(4); // unchanged value: silent
    EXPECT_EQ(n.change, 2);
}

TEST(AvBevel, DefaultsAndExtent) {
    TAvBevel b;
    EXPECT_EQ(b.BevelInner(), bvNone);
    EXPECT_EQ(b.BevelOuter(), bvLowered);
    EXPECT_EQ(b.BevelInnerWidth(), 1);
    EXPECT_EQ(b.BevelOuterWidth(), 1);
    EXPECT_EQ(b.BorderStyle(), bsNone);
    EXPECT_EQ(b.BorderWidth(), 0);
    EXPECT_EQ(b.BorderSpace(), 0);
    EXPECT_EQ(b.BorderColor(), clBtnFace);
    EXPECT_EQ(b.BorderSpaceColor(), clBlack);
    EXPECT_EQ(b.InnerLightColor(), clBtnHighlight);
    EXPECT_EQ(b.InnerShadowColor(), clBtnShadow);
    EXPECT_EQ(b.OuterLightColor(), clBtnHighlight);
    EXPECT_EQ(b.OuterShadowColor(), clBtnShadow);
    EXPECT_EQ(b.BevelExtent(), 1);

    b.SetBevelOuter(bvNone);
    b.SetBorderStyle(bsSingle);
    b.SetBevelOuterWidth(0);
    b.SetBevelInnerWidth(0);
    EXPECT_EQ(b.BevelExtent(), 1);

    b.SetBevelOuter(bvRaised);
    b.SetBevelOuterWidth(2);
    b.SetBevelInner(bvSpace); // counted, though never painted
    b.SetBevelInnerWidth(3);
    b.SetBorderWidth(5);
    b.SetBorderSpace(1);
    EXPECT_EQ(b.BevelExtent(), 1 + 2 + 5 + 3 + 1);

    // The indexed colour setter and the published properties reach the same fields.
    b.SetColor(TAvBevel::ciInnerShadow, clRed);
    EXPECT_EQ(b.InnerShadowColor(), clRed);
    EXPECT_TRUE(SetPropValue(&b, "BorderSpaceColor", static_cast<int>(clLime)));
    EXPECT_EQ(b.GetColor(TAvBevel::ciBorderSpace), clLime);
    EXPECT_EQ(GetPropValue(&b, "BevelOuter").toInt(), static_cast<int>(bvRaised));
}

TEST(AvBevel, AssignIsOneChange) {
    TAvBevel a, b;
    a.SetBevelInner(bvRaised);
    a.SetBevelOuterWidth(3);
    a.SetBorderStyle(bsSingle);
    a.SetBorderWidth(2);
    a.SetBorderSpace(4);
    for (int i = 0; i < 6; ++i)
        a.SetColor(i, RGB(i, i, i));
    Counter n;
    n.Attach(b);
    b.Assign(&a);
    EXPECT_EQ(n.changing, 1);
    EXPECT_EQ(n.change, 1);
    EXPECT_EQ(b.BevelInner(), bvRaised);
    EXPECT_EQ(b.BevelOuterWidth(), 3);
    EXPECT_EQ(b.BorderStyle(), bsSingle);
    EXPECT_EQ(b.BorderSpace(), 4);
    EXPECT_EQ(b.OuterShadowColor(), RGB(5, 5, 5));
    EXPECT_EQ(b.BevelExtent(), a.BevelExtent());
    b.Assign(&b);
    EXPECT_EQ(n.change, 1);
}

TEST(AvBevel, PaintsNestedFramesFromTheOutside) {
    TAvBevel b;
    b.SetBorderStyle(bsSingle);
    b.SetBevelOuter(bvLowered);
    b.SetBorderWidth(2);
    b.SetBorderColor(clRed);
    b.SetBevelInner(bvRaised);
    b.SetBorderSpace(1);
    b.SetBorderSpaceColor(clBlue);
    TRect inner;
    const QImage img = PaintBevel(b, 20, 16, true, &inner);
    EXPECT_EQ(inner, Rect(6, 6, 14, 10));
    EXPECT_EQ(inner.Left, b.BevelExtent());
    EXPECT_EQ(img.pixel(0, 8), Px(clWindowFrame)); // frame
    EXPECT_EQ(img.pixel(19, 8), Px(clWindowFrame));
    EXPECT_EQ(img.pixel(1, 8), Px(clBtnShadow)); // lowered: shadow top-left
    EXPECT_EQ(img.pixel(8, 1), Px(clBtnShadow));
    EXPECT_EQ(img.pixel(18, 8), Px(clBtnHighlight)); // light bottom-right
    EXPECT_EQ(img.pixel(8, 14), Px(clBtnHighlight));
    EXPECT_EQ(img.pixel(2, 8), Px(clRed)); // border band
    EXPECT_EQ(img.pixel(3, 8), Px(clRed));
    EXPECT_EQ(img.pixel(4, 8), Px(clBtnHighlight)); // raised: light top-left
    EXPECT_EQ(img.pixel(15, 8), Px(clBtnShadow));
    EXPECT_EQ(img.pixel(5, 8), Px(clBlue));  // space band
    EXPECT_EQ(img.pixel(8, 8), Px(clWhite)); // inside untouched

    // Without filling, the border band keeps what was there but is still taken.
    const QImage kept = PaintBevel(b, 20, 16, false, &inner);
    EXPECT_EQ(inner, Rect(6, 6, 14, 10));
    EXPECT_EQ(kept.pixel(2, 8), Px(clWhite));

    kept.save(QDir(SnapshotDir()).filePath("bevel.png"));
    QImage big = img.scaled(img.size() * 8);
    big.save(QDir(SnapshotDir()).filePath("bevel-x8.png"));
}

TEST(AvBevel, SpaceBevelIsCountedButNotPainted) {
    TAvBevel b;
    b.SetBevelOuter(bvSpace);
    b.SetBevelOuterWidth(2);
    TRect inner;
    const QImage img = PaintBevel(b, 10, 10, true, &inner);
    EXPECT_EQ(b.BevelExtent(), 2);
    EXPECT_EQ(inner, Rect(0, 0, 10, 10));
    EXPECT_EQ(img.pixel(0, 0), Px(clWhite));
    EXPECT_EQ(img.pixel(1, 1), Px(clWhite));
    EXPECT_EQ(b.Paint(nullptr, Rect(0, 0, 4, 4), true), Rect(0, 0, 4, 4)); // no canvas: no-op
}

TEST(AvControls, InnerRectAndBevelObject) {
    TAvGraphicControl meter(nullptr);
    meter.SetBounds(0, 0, 17, 191);
    EXPECT_EQ(meter.BevelExtent(), 1);
    const TRect r = meter.InnerRect();
    EXPECT_EQ(r, Rect(1, 1, 16, 190));
    EXPECT_EQ(r.Width(), 15);
    EXPECT_EQ(r.Height(), 189);

    TAvBevel other;
    other.SetBorderWidth(4);
    TAvBevel* owned = meter.Bevel();
    meter.SetBevel(&other);
    EXPECT_EQ(meter.Bevel(), owned); // settings copied, object kept
    EXPECT_EQ(meter.BevelExtent(), 5);
    EXPECT_EQ(meter.InnerRect(), Rect(5, 5, 12, 186));

    TAvCustomControl slider(nullptr);
    slider.SetBounds(0, 0, 200, 40);
    slider.Bevel()->SetBorderWidth(5);
    EXPECT_EQ(slider.InnerRect(), Rect(6, 6, 194, 34));
    // The bevel is reachable by name as the published Bevel property.
    EXPECT_EQ(GetPropValue(&slider, "Bevel").value<TAvBevel*>(), slider.Bevel());
}

TEST(AvControls, PaintBevelThenFace) {
    TAvGraphicControl c(nullptr);
    c.SetBounds(0, 0, 12, 10);
    c.SetColor(clNavy);
    c.Bevel()->SetBorderWidth(1);
    c.Bevel()->SetBorderColor(clYellow);
    const QImage img = c.grab().toImage();
    EXPECT_EQ(img.pixel(0, 0), Px(clBtnShadow));
    EXPECT_EQ(img.pixel(11, 9), Px(clBtnHighlight));
    EXPECT_EQ(img.pixel(1, 5), Px(clYellow));
    EXPECT_EQ(img.pixel(2, 2), Px(clNavy));
    EXPECT_EQ(img.pixel(9, 7), Px(clNavy));
}

TEST(AvControls, DesignModeReachesOwnedComponents) {
    TAvNonVisualComponent root(nullptr);
    auto* child = new TAvNonVisualComponent(&root);
    root.SetDesignMode(true);
    EXPECT_TRUE(root.IsDesigning());
    EXPECT_TRUE(child->IsDesigning());
    root.SetDesignMode(false);
    EXPECT_FALSE(child->IsDesigning());

    TAvGraphicControl g(nullptr);
    g.SetDesignMode(true);
    EXPECT_TRUE(g.IsDesigning());
}

TEST(AvControls, LibraryCursorsAreRegistered) {
    TAvCustomControl c(nullptr);
    for (TCursor n = crAvFirst; n <= crAvLast; ++n)
        EXPECT_TRUE(Screen->HasCursor(n)) << n;
    const QCursor hand = Screen->CursorShape(crAvHand);
    EXPECT_EQ(hand.shape(), Qt::BitmapCursor); // our own picture
    EXPECT_FALSE(hand.pixmap().isNull());
    EXPECT_EQ(hand.hotSpot(), QPoint(7, 1));
}

TEST(AvPanel, ChildrenAlignInsideTheBevel) {
    TAvPanel panel(nullptr);
    EXPECT_EQ(panel.Alignment(), taCenter);
    EXPECT_EQ(panel.Color(), clBtnFace);
    EXPECT_EQ(panel.BevelOuter(), bvNone); // the framework panel's own bevels stay off
    EXPECT_EQ(panel.BorderWidth(), 0);
    panel.SetBounds(0, 0, 100, 60);
    auto* child = new TAvPanel(&panel);
    child->SetParent(&panel);
    child->SetAlign(alClient);
    panel.Realign();
    EXPECT_EQ(child->BoundsRect(), Rect(1, 1, 99, 59));
    panel.Bevel()->SetBorderWidth(4); // re-aligns at once
    EXPECT_EQ(child->BoundsRect(), Rect(5, 5, 95, 55));
    auto* top = new TAvPanel(&panel);
    top->SetParent(&panel);
    top->SetBounds(0, 0, 10, 10);
    top->SetAlign(alTop);
    panel.Realign();
    EXPECT_EQ(top->BoundsRect(), Rect(5, 5, 95, 15));
    EXPECT_EQ(child->BoundsRect(), Rect(5, 15, 95, 55));
}

TEST(AvPanel, CaptionInTheMiddleBand) {
    TAvPanel panel(nullptr);
    panel.SetBounds(0, 0, 160, 48);
    panel.Bevel()->SetBevelOuter(bvRaised);
    panel.Bevel()->SetBorderWidth(3);
    panel.Bevel()->SetBevelInner(bvLowered);
    panel.SetCaption(QStringLiteral("音频 Level"));
    QImage img = panel.grab().toImage();
    img.save(QDir(SnapshotDir()).filePath("panel-caption.png"));
    // Text pixels (dark) only in the rows around the middle, between the bevels.
    const QRgb face = Px(clBtnFace);
    int firstRow = -1, lastRow = -1, firstCol = 1000, lastCol = -1;
    for (int y = 5; y < 43; ++y)
        for (int x = 5; x < 155; ++x)
            if (img.pixel(x, y) != face) {
                if (firstRow < 0) firstRow = y;
                lastRow = y;
                firstCol = std::min(firstCol, x);
                lastCol = std::max(lastCol, x);
            }
    ASSERT_GE(firstRow, 0) << "no caption drawn";
    EXPECT_LE(std::abs((firstRow + lastRow) - 48), 8);  // vertically about centred
    EXPECT_LE(std::abs((firstCol + lastCol) - 160), 8); // centred
    panel.SetAlignment(taLeftJustify);
    img = panel.grab().toImage();
    int left = 1000;
    for (int y = 5; y < 43; ++y)
        for (int x = 5; x < 155; ++x)
            if (img.pixel(x, y) != face) left = std::min(left, x);
    EXPECT_LT(left, 12);
}
