#include "audio/display/AvDIBCv.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTest>
#include <thread>

namespace {

QRgb Px(TColor c) {
    return ToQColor(c).rgb();
}

// A small level display: the bevel, then a bar of `level` pixels composed in the surface.
class TestMeter : public TAvDIBGraphicControl {
public:
    using TAvDIBGraphicControl::TAvDIBGraphicControl;
    int level = 0;
    int draws = 0;
    void Draw() {
        ++draws;
        const TRect in = InnerRect();
        DIB()->BeginDraw();
        DrawBackground();
        DIB()->SetDrawColor(clLime);
        DIB()->FillRect(Rect(0, 0, level, in.Height()));
        DIB()->DrawTo(Canvas(), in.Left, in.Top, in.Width(), in.Height(), 0, 0);
        DIB()->EndDraw();
    }
    void SetLevel(int v) {
        level = v;
        PaintDirect([this](void*) { Draw(); }, nullptr);
    }
    // The surface follows the inner rectangle, as real displays do.
    void SetBounds(int l, int t, int w, int h) override {
        TAvDIBGraphicControl::SetBounds(l, t, w, h);
        DIB()->SetSize(InnerRect().Width(), InnerRect().Height());
    }

protected:
    void Paint() override {
        TAvDIBGraphicControl::Paint();
        Draw();
    }
};

struct Shown {
    TForm form{nullptr};
    TestMeter* meter;
    Shown() {
        form.SetBounds(0, 0, 120, 60);
        meter = new TestMeter(&form);
        meter->SetParent(&form);
        meter->SetBounds(10, 10, 60, 17);
        meter->SetColor(clBlack);
        form.Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
};

} // namespace

TEST(AvDIBControl, ConstructionAndSurfaceSize) {
    TAvDIBGraphicControl c(nullptr);
    EXPECT_FALSE(c.UseBackGroundDIB());
    EXPECT_FALSE(c.PaletteRealize());
    EXPECT_FALSE(c.PaletteMapped());
    EXPECT_TRUE(c.BackGroundDIB()->Empty());
    EXPECT_EQ(c.DIB()->BitsPerPixel(), 8);
    EXPECT_TRUE(SetPropValue(&c, "Tag2", 42));
    EXPECT_EQ(c.Tag2(), 42);
    c.SetBounds(0, 0, 30, 12);
    EXPECT_EQ(c.DIB()->Width(), 30);
    EXPECT_EQ(c.DIB()->Height(), 12);
    EXPECT_THROW(c.SetBitsPerPixel(16), EAvDIBError);
    c.SetBitsPerPixel(24);
    EXPECT_EQ(c.DIB()->BitsPerPixel(), 24);

    c.DIB()->BeginDraw();
    try {
        c.DIB()->Rebuild();
        ADD_FAILURE() << "no error";
    } catch (const EAvDIBError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("TAvDIBGraphicControl: Attempt to create new DIB "
                                              "while initialized for drawing"));
    }
    c.DIB()->EndDraw();
}

TEST(AvDIBControl, BackgroundPictureOnlyWhenThereIsOne) {
    TAvDIBGraphicControl c(nullptr);
    c.SetBounds(0, 0, 4, 2);
    c.SetUseBackGroundDIB(true); // no picture yet: stays off
    EXPECT_FALSE(c.UseBackGroundDIB());
    EXPECT_FALSE(c.PaletteRealize());

    QImage pic(1, 1, QImage::Format_RGB32);
    pic.fill(qRgb(255, 0, 0));
    c.BackGroundDIB()->SetImage(pic);
    EXPECT_FALSE(c.DIB()->HasBackground()); // run time: the picture alone changes nothing
    c.SetUseBackGroundDIB(true);
    EXPECT_TRUE(c.UseBackGroundDIB());
    EXPECT_TRUE(c.PaletteRealize());
    ASSERT_TRUE(c.DIB()->HasBackground());

    c.SetColor(clBlue);
    c.DIB()->BeginDraw();
    c.DrawBackground();
    const int index = c.DIB()->GetPixel(3, 1); // the stretched picture
    ASSERT_GE(index, 0);
    EXPECT_EQ(c.DIB()->Palette()[index], qRgb(255, 0, 0));
    c.DIB()->EndDraw();

    c.SetUseBackGroundDIB(false);
    EXPECT_FALSE(c.DIB()->HasBackground());
    c.DIB()->BeginDraw();
    c.DrawBackground();
    EXPECT_EQ(c.DIB()->GetPixel(3, 1), 252); // the control's colour
    c.DIB()->EndDraw();
}

TEST(AvDIBControl, LoadingAndDesignTime) {
    TForm form(nullptr);
    form.BeginLoading();
    auto* c = new TAvDIBGraphicControl(&form);
    c->SetUseBackGroundDIB(true); // remembered until loaded
    QImage pic(2, 2, QImage::Format_RGB32);
    pic.fill(qRgb(0, 0, 255));
    c->BackGroundDIB()->SetImage(pic); // ignored while loading
    EXPECT_FALSE(c->UseBackGroundDIB());
    form.EndLoading();
    EXPECT_TRUE(c->UseBackGroundDIB());
    EXPECT_TRUE(c->DIB()->HasBackground());

    TAvDIBGraphicControl d(nullptr);
    d.SetDesignMode(true);
    d.BackGroundDIB()->SetImage(pic); // at design time the picture switches it on
    EXPECT_TRUE(d.UseBackGroundDIB());
    EXPECT_TRUE(d.PaletteRealize());
    d.BackGroundDIB()->SetImage(QImage());
    EXPECT_FALSE(d.UseBackGroundDIB());
    EXPECT_FALSE(d.DIB()->HasBackground());
}

TEST(AvDIBControl, PaintDirectShowsAtOnce) {
    Shown s;
    TestMeter& m = *s.meter;
    m.repaint();
    const int before = m.draws;
    m.SetLevel(20);
    EXPECT_EQ(m.draws, before + 1); // drawn synchronously, without a paint message
    const QImage& screen = m.ScreenImage();
    EXPECT_EQ(screen.pixel(1 + 5, 8), Px(clLime));
    EXPECT_EQ(screen.pixel(1 + 25, 8), Px(clBlack));
    EXPECT_EQ(screen.pixel(0, 0), Px(clBtnShadow)); // the bevel of the last paint stays
    EXPECT_EQ(screen.pixel(59, 16), Px(clBtnHighlight));
    // What the window shows is the composed picture.
    const QImage window = s.form.grab().toImage();
    EXPECT_EQ(window.pixel(10 + 6, 10 + 8), Px(clLime));
    window.save(QDir::temp().filePath("avsetup-display-direct.png"));

    m.SetLevel(40);
    EXPECT_EQ(m.ScreenImage().pixel(1 + 30, 8), Px(clLime));
}

// A bevel change asks for a full repaint; a level drawn at once right after it shows the new
// bevel too instead of using the pending repaint up.
TEST(AvDIBControl, PaintDirectAfterAChangeShowsTheWholeNewPicture) {
    Shown s;
    TestMeter& m = *s.meter;
    m.repaint();
    ASSERT_EQ(m.ScreenImage().pixel(0, 0), Px(clBtnShadow)); // lowered
    m.Bevel()->SetBevelOuter(bvRaised);
    m.SetLevel(20);
    QCoreApplication::processEvents();
    // What is on screen: the last paint and the direct drawing (a grab would paint anew).
    const QImage& screen = m.ScreenImage();
    EXPECT_EQ(screen.pixel(0, 0), Px(clBtnHighlight)); // raised
    EXPECT_EQ(screen.pixel(59, 16), Px(clBtnShadow));
    EXPECT_EQ(screen.pixel(1 + 5, 8), Px(clLime));
}

TEST(AvDIBControl, PaintDirectNeedsAShownControl) {
    TestMeter lone(nullptr); // no parent window
    lone.SetBounds(0, 0, 30, 10);
    lone.SetLevel(5);
    EXPECT_EQ(lone.draws, 0);

    Shown s;
    s.meter->Hide();
    const int before = s.meter->draws;
    s.meter->SetLevel(5);
    EXPECT_EQ(s.meter->draws, before);
    s.meter->Show();

    // From another thread nothing is drawn there; the main thread repaints later.
    const int now = s.meter->draws;
    std::thread t([&] { s.meter->PaintDirect([&](void*) { s.meter->Draw(); }, nullptr); });
    t.join();
    EXPECT_EQ(s.meter->draws, now);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.meter->draws > now; }, 5000));
}
