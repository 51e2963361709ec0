#include "audio/mixer/AvSlider.h"

#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "resources/AvResources.h"

#include <QDir>
#include <QShortcut>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Counts {
    int change = 0, track = 0, trackEnd = 0;
};

void Watch(TAvCustomSlider* s, Counts& c) {
    s->OnChange = [&c](TObject*) { ++c.change; };
    s->OnTrack = [&c](TObject*) { ++c.track; };
    s->OnTrackEnd = [&c](TObject*) { ++c.trackEnd; };
}

// A shown form holding one slider, so that focus, keys and mouse work as on screen.
struct SliderForm {
    std::unique_ptr<TForm> form;
    TAvSlider* slider;
    explicit SliderForm(int w = 200, int h = 40) {
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 300, 300);
        slider = new TAvSlider(form.get());
        slider->SetParent(form.get());
        slider->SetBounds(10, 10, w, h);
        form->Show();
        QApplication::setActiveWindow(form.get());
    }
};

// The wizard's volume slider: vertical, logarithmic, scales on both sides.
void StyleAsVolumeSlider(TAvCustomSlider* s) {
    s->Bevel()->SetBevelOuter(bvNone);
    s->Scale()->SetVisible(true);
    s->Scale()->SetConnect(false);
    s->Scale()->SetOrigin(soInner);
    s->Scale()->SetSize(6);
    s->Scale()->SetTickCount(7);
    s->Scale()->SetEnlargeEvery(6);
    s->SetGrooveSize(1);
    s->SetScalePosition(spBoth);
    s->SetLogarithmic(true);
    s->SetThumbWidth(23);
    s->SetThumbHeight(11);
    s->SetRange(0, 100);
}

} // namespace

TEST(AvSlider, Defaults) {
    TAvSlider s(nullptr);
    EXPECT_EQ(s.Width(), 200);
    EXPECT_EQ(s.Height(), 40);
    EXPECT_EQ(s.Orientation(), orHorizontal);
    EXPECT_EQ(s.Min(), 0);
    EXPECT_EQ(s.Max(), 10);
    EXPECT_EQ(s.Sensitivity(), -24);
    EXPECT_EQ(s.Bevel()->BorderWidth(), 5);
    EXPECT_TRUE(s.TabStop());
    EXPECT_FALSE(s.Scale()->Visible());
    EXPECT_EQ(s.Scale()->Origin(), soOuter);
    EXPECT_EQ(s.DialogCode(), DLGC_WANTARROWS);
    EXPECT_NE(s.OffscreenBitmap(), nullptr);
}

TEST(AvSlider, RangeKeepsMaxAboveMinAndPositionInside) {
    TAvSlider s(nullptr);
    s.SetPosition(8);
    s.SetRange(5, 5);
    EXPECT_EQ(s.Min(), 5);
    EXPECT_EQ(s.Max(), 6);
    EXPECT_EQ(s.Position(), 6);
    s.SetRange(0, 100);
    s.SetPosition(150);
    EXPECT_EQ(s.Position(), 100);
    s.SetPosition(-3);
    EXPECT_EQ(s.Position(), 0);
}

TEST(AvSlider, LogarithmicMapping) {
    TAvSlider s(nullptr);
    s.SetRange(0, 100);
    s.SetLogarithmic(true);
    s.SetPosition(50);
    EXPECT_EQ(s.ThumbPosition(), 75); // -6 dB on a 24 dB travel
    EXPECT_EQ(s.Position(), 50);
    s.SetPosition(1); // -40 dB is below the travel
    EXPECT_EQ(s.ThumbPosition(), 0);
    s.SetPosition(0);
    EXPECT_EQ(s.ThumbPosition(), 0);
    EXPECT_EQ(s.Position(), 0);
    s.SetPosition(100);
    EXPECT_EQ(s.ThumbPosition(), 100);
    EXPECT_EQ(s.Position(), 100);
    s.SetPosition(-5); // no decibel value: the bottom, not a crash
    EXPECT_EQ(s.ThumbPosition(), 0);
}

TEST(AvSlider, SensitivityIsLimitedAndKeepsProgramPosition) {
    TAvSlider s(nullptr);
    s.SetRange(0, 100);
    s.SetLogarithmic(true);
    s.SetPosition(50);
    s.SetSensitivity(-10);
    EXPECT_EQ(s.Sensitivity(), -20);
    EXPECT_EQ(s.Position(), 50);
    EXPECT_EQ(s.ThumbPosition(), 70);
    s.SetSensitivity(-200);
    EXPECT_EQ(s.Sensitivity(), -96);
    // 0.96 dB per step cannot show 50 exactly: the thumb takes the nearest place, the program
    // keeps its value.
    EXPECT_EQ(s.ThumbPosition(), 94);
    EXPECT_EQ(s.Position(), 50);
    s.SetLogarithmic(false);
    EXPECT_EQ(s.Position(), 50);
    EXPECT_EQ(s.ThumbPosition(), 50);
}

// Every one-step change of the program's value on a decibel slider is kept and moves the thumb
// that way or not at all, on a range of 100 and of 65535; writing the value held changes nothing.
TEST(AvSlider, LogarithmicStepsAreKeptAndMoveTheThumbOneWay) {
    for (int range : {100, 65535}) {
        TAvSlider s(nullptr);
        s.SetRange(0, range);
        s.SetLogarithmic(true);
        Counts c;
        Watch(&s, c);
        int lost = 0, backwards = 0, extraChanges = 0;
        for (int k = 100; k >= 1; --k) {
            const int p = static_cast<int>(static_cast<long long>(range) * k / 100);
            s.SetPosition(p);
            const int thumb = s.ThumbPosition();
            const int changes = c.change;
            s.SetPosition(s.Position()); // the same value again
            extraChanges += c.change - changes;
            if (s.ThumbPosition() != thumb) ++backwards;
            s.SetPosition(s.Position() - 1);
            if (s.Position() != p - 1) ++lost;
            if (s.ThumbPosition() > thumb) ++backwards;
            s.SetPosition(p);
            if (s.Position() != p || s.ThumbPosition() != thumb) ++lost;
        }
        EXPECT_EQ(lost, 0) << "range " << range;
        EXPECT_EQ(backwards, 0) << "range " << range;
        EXPECT_EQ(extraChanges, 0) << "range " << range;
    }
}

TEST(AvSlider, ShapeSetsOrientationAndHomeGoesToMaxOnVertical) {
    SliderForm f;
    Counts c;
    Watch(f.slider, c);
    f.slider->SetBounds(10, 10, 40, 200);
    EXPECT_EQ(f.slider->Orientation(), orVertical);
    f.slider->SetFocus();
    QTest::keyClick(f.slider, Qt::Key_Home);
    EXPECT_EQ(f.slider->Position(), f.slider->Max());
    QTest::keyClick(f.slider, Qt::Key_End);
    EXPECT_EQ(f.slider->Position(), f.slider->Min());
    QTest::keyClick(f.slider, Qt::Key_Up);
    EXPECT_EQ(f.slider->Position(), 1);
    EXPECT_EQ(c.change, 3);
    EXPECT_EQ(c.track, 3);
    EXPECT_EQ(c.trackEnd, 3);
}

TEST(AvSlider, KeysAtTheEndsChangeNothing) {
    SliderForm f;
    Counts c;
    f.slider->SetPosition(10);
    Watch(f.slider, c);
    f.slider->SetFocus();
    QTest::keyClick(f.slider, Qt::Key_PageUp);
    QTest::keyClick(f.slider, Qt::Key_Right);
    EXPECT_EQ(f.slider->Position(), 10);
    EXPECT_EQ(c.change, 0);
    EXPECT_EQ(c.track, 0);
    QTest::keyClick(f.slider, Qt::Key_PageDown);
    EXPECT_EQ(f.slider->Position(), 5);
    QTest::keyClick(f.slider, Qt::Key_PageDown);
    QTest::keyClick(f.slider, Qt::Key_PageDown);
    EXPECT_EQ(f.slider->Position(), 0);
}

// Arrow keys reach the slider inside a dialog and stop there: neither a shortcut on the window
// nor the window itself sees them.
TEST(AvSlider, ArrowKeysStayWithTheSliderInsideADialog) {
    SliderForm f;
    auto* button = new TButton(f.form.get());
    button->SetParent(f.form.get());
    button->SetTabStop(true);
    int shortcutHits = 0;
    auto* sc = new QShortcut(QKeySequence(Qt::Key_Up), f.form.get());
    QObject::connect(sc, &QShortcut::activated, [&] { ++shortcutHits; });
    struct Spy : QObject {
        int keys = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress) ++keys;
            return false;
        }
    } spy;
    f.form->installEventFilter(&spy);
    f.slider->SetFocus();
    ASSERT_TRUE(f.slider->hasFocus());
    QTest::keyClick(f.slider, Qt::Key_Up);
    QTest::keyClick(f.slider, Qt::Key_Right);
    EXPECT_EQ(f.slider->Position(), 2);
    EXPECT_EQ(shortcutHits, 0);
    EXPECT_EQ(spy.keys, 0);
    EXPECT_TRUE(f.slider->hasFocus());
}

TEST(AvSlider, ClickOnTheGrooveJumpsAndTracksOnce) {
    SliderForm f;
    f.slider->SetRange(0, 100);
    Counts c;
    Watch(f.slider, c);
    const TRect r = f.slider->InnerRect();
    const int x =
        r.Left + f.slider->ThumbWidth() / 2 + (r.Width() - f.slider->ThumbWidth()) * 3 / 4;
    const int y = r.Top + r.Height() / 2;
    QTest::mousePress(f.slider, Qt::LeftButton, {}, QPoint(x, y));
    EXPECT_EQ(f.slider->Position(), 75);
    EXPECT_EQ(c.change, 1);
    EXPECT_EQ(c.track, 1);
    EXPECT_EQ(c.trackEnd, 0);
    EXPECT_TRUE(f.slider->hasFocus());
    QTest::mouseRelease(f.slider, Qt::LeftButton, {}, QPoint(x, y));
    EXPECT_EQ(c.trackEnd, 1);
    EXPECT_FALSE(f.slider->Dragging());
}

TEST(AvSlider, DragMovesByTheMouseDeltaAndRepaintsOnlyWhenTheThumbMoves) {
    SliderForm f(84, 207);
    StyleAsVolumeSlider(f.slider);
    f.slider->SetLogarithmic(false);
    f.slider->SetPosition(50);
    QApplication::processEvents();
    const TRect thumb = f.slider->ThumbRect();
    const QPoint start((thumb.Left + thumb.Right) / 2, (thumb.Top + thumb.Bottom) / 2);
    QTest::mousePress(f.slider, Qt::LeftButton, {}, start);
    ASSERT_TRUE(f.slider->Dragging());
    EXPECT_EQ(f.slider->Position(), 50);
    // Travel: 207 - 2 * 5 (border) - 11 (thumb) = 186 pixels for 100 steps.
    const int before = f.slider->RepaintRequests();
    Counts c;
    Watch(f.slider, c);
    for (int dy = 1; dy <= 20; ++dy) {
        QMouseEvent move(QEvent::MouseMove, QPointF(start.x(), start.y() - dy), QPointF(),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.slider, &move);
    }
    // 20 pixels up: 20 * 100 / 186 = 10.75, rounded 11.
    EXPECT_EQ(f.slider->Position(), 61);
    // One step is 1.86 pixels: every step moves the thumb, the pixels in between change nothing.
    EXPECT_EQ(c.change, 11);
    EXPECT_EQ(c.track, 11);
    EXPECT_EQ(f.slider->RepaintRequests() - before, 11);
    QTest::mouseRelease(f.slider, Qt::LeftButton, {}, QPoint(start.x(), start.y() - 20));
    EXPECT_FALSE(f.slider->Dragging());
}

TEST(AvSlider, PositionChangesThatKeepTheThumbInPlaceDoNotRepaint) {
    TAvSlider s(nullptr);
    s.SetRange(0, 10000); // far more steps than pixels
    const int before = s.RepaintRequests();
    int moved = 0;
    TRect last = s.ThumbRect();
    for (int p = 1; p <= 100; ++p) {
        s.SetPosition(p);
        if (s.ThumbRect() != last) ++moved;
        last = s.ThumbRect();
    }
    EXPECT_EQ(s.RepaintRequests() - before, moved);
    EXPECT_LT(moved, 10);
}

TEST(AvSlider, NoChangeEventWhileLoading) {
    TForm form(nullptr);
    Counts c;
    form.BeginLoading();
    auto* s = new TAvSlider(&form);
    Watch(s, c);
    s->SetParent(&form);
    s->SetRange(0, 100);
    s->SetPosition(40);
    s->SetLogarithmic(true);
    EXPECT_EQ(s->OffscreenBitmap(), nullptr); // none before loading ends
    form.EndLoading();
    EXPECT_EQ(c.change, 0);
    EXPECT_EQ(s->Position(), 40);
    EXPECT_NE(s->OffscreenBitmap(), nullptr);
    s->SetPosition(20);
    EXPECT_EQ(c.change, 1);
}

TEST(AvSlider, BitmapCacheSharesBySize) {
    const int before = TBitmapCache::EntryCount();
    {
        TAvSlider a(nullptr), b(nullptr);
        a.SetBounds(0, 0, 77, 33);
        b.SetBounds(0, 0, 77, 33);
        EXPECT_EQ(a.OffscreenBitmap(), b.OffscreenBitmap());
        EXPECT_EQ(TBitmapCache::UseCount(a.OffscreenBitmap()), 2);
        EXPECT_EQ(TBitmapCache::EntryCount(), before + 1);
        b.SetBounds(0, 0, 78, 33);
        EXPECT_NE(a.OffscreenBitmap(), b.OffscreenBitmap());
        EXPECT_EQ(TBitmapCache::UseCount(a.OffscreenBitmap()), 1);
        EXPECT_EQ(TBitmapCache::EntryCount(), before + 2);
    }
    EXPECT_EQ(TBitmapCache::EntryCount(), before);
    TBitmap* bmp = TBitmapCache::Acquire(-4, 3);
    EXPECT_EQ(bmp->Width(), 0);
    TBitmapCache::Release(bmp);
    EXPECT_EQ(bmp, nullptr);
}

TEST(AvSlider, FocusBlinkTimerIsSharedAndStopsOnExit) {
    SliderForm f;
    auto* other = new TAvSlider(f.form.get());
    other->SetParent(f.form.get());
    other->SetBounds(10, 100, 200, 40);
    f.slider->SetFocusAction(faAll);
    other->SetFocusAction(faFocusThumb);
    f.slider->SetFocus();
    EXPECT_EQ(TAvCustomSlider::BlinkTimerOwner(), f.slider);
    TTimer* timer = nullptr;
    for (int i = 0; i < f.slider->ComponentCount(); ++i)
        if (auto* t = dynamic_cast<TTimer*>(f.slider->Components(i))) timer = t;
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->Interval(), 500);
    timer->OnTimer()(timer);
    EXPECT_TRUE(f.slider->BlinkState());
    timer->OnTimer()(timer);
    EXPECT_FALSE(f.slider->BlinkState());
    timer->OnTimer()(timer);
    other->SetFocus();
    EXPECT_FALSE(f.slider->BlinkState());
    EXPECT_EQ(TAvCustomSlider::BlinkTimerOwner(), other);
    other->SetFocusAction(faFocusRect);
    EXPECT_EQ(TAvCustomSlider::BlinkTimerOwner(), nullptr);
}

TEST(AvSlider, HandCursorOverTheThumb) {
    SliderForm f;
    f.slider->SetHandCursor(true);
    const TRect t = f.slider->ThumbRect();
    QMouseEvent move(QEvent::MouseMove, QPointF(t.Left + 2, t.Top + 2), QPointF(), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(f.slider, &move);
    EXPECT_TRUE(f.slider->Hot());
    EXPECT_EQ(f.slider->cursor().shape(), Screen->CursorShape(crAvHand).shape());
    QMouseEvent away(QEvent::MouseMove, QPointF(t.Right + 30, t.Top + 2), QPointF(), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(f.slider, &away);
    EXPECT_FALSE(f.slider->Hot());
}

TEST(AvSlider, WheelStepsTowardsMax) {
    SliderForm f;
    Counts c;
    Watch(f.slider, c);
    QWheelEvent up(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, 240), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.slider, &up);
    EXPECT_EQ(f.slider->Position(), 2);
    EXPECT_EQ(c.change, 1);
    EXPECT_EQ(c.trackEnd, 1);
}

// The painted picture: thumb frame, fill, dithering when disabled, scale ticks on both sides.
TEST(AvSlider, PaintsTheVolumeSlider) {
    SliderForm f(84, 207);
    StyleAsVolumeSlider(f.slider);
    f.slider->SetPosition(50);
    QApplication::processEvents();
    const QImage img = f.slider->grab().toImage();
    const QString dir = QDir::temp().filePath(QStringLiteral("avsetup-slider"));
    QDir().mkpath(dir);
    img.save(dir + QStringLiteral("/volume.png"));
    const TRect t = f.slider->ThumbRect();
    EXPECT_EQ(t.Width(), 23);
    EXPECT_EQ(t.Height(), 11);
    // Thumb at -6 dB: three quarters of the way up.
    EXPECT_EQ(f.slider->ThumbPosition(), 75);
    auto at = [&](int x, int y) { return FromQColor(img.pixelColor(x, y)); };
    EXPECT_EQ(at(t.Left, t.Top), ColorToRGB(clWindowFrame));
    EXPECT_EQ(at(t.Left + 1, t.Top + 1), ColorToRGB(clBtnHighlight));
    EXPECT_EQ(at(t.Right - 2, t.Bottom - 2), ColorToRGB(clBtnShadow));
    EXPECT_EQ(at(t.Left + 5, t.Top + 5), ColorToRGB(clBtnFace));
    // Ticks left and right of the groove, the first one at the top of the travel.
    const TRect inner = f.slider->InnerRect();
    bool leftTick = false, rightTick = false;
    const int tickRow = inner.Top + 11 / 2;
    for (int x = inner.Left; x < inner.Left + 25; ++x)
        leftTick |= at(x, tickRow) == clBlack;
    for (int x = inner.Right - 25; x < inner.Right; ++x)
        rightTick |= at(x, tickRow) == clBlack;
    EXPECT_TRUE(leftTick);
    EXPECT_TRUE(rightTick);
    // The picture is composed in bands of rows: the groove runs through their seams unbroken.
    int grooveX = -1;
    for (int x = inner.Left; x < inner.Right && grooveX < 0; ++x)
        if (at(x, inner.Top + 20) == ColorToRGB(clBtnShadow)) grooveX = x;
    ASSERT_GE(grooveX, 0);
    for (int y = inner.Top + 1; y < inner.Bottom - 1; ++y)
        if (y < t.Top || y >= t.Bottom) {
            EXPECT_EQ(at(grooveX, y), ColorToRGB(clBtnShadow)) << y;
        }

    f.slider->SetEnabled(false);
    QApplication::processEvents();
    const QImage off = f.slider->grab().toImage();
    off.save(dir + QStringLiteral("/volume-disabled.png"));
    const int y = t.Top + 4, x = t.Left + 4; // same parity: white; mixed: face
    EXPECT_EQ(FromQColor(off.pixelColor(x, y)), clWhite);
    EXPECT_EQ(FromQColor(off.pixelColor(x + 1, y)), ColorToRGB(clBtnFace));
}

// The pan slider: horizontal, pictures at both ends, the scale below the groove.
TEST(AvSlider, PaintsThePanSliderWithEndPictures) {
    SliderForm f(120, 40);
    TAvSlider* s = f.slider;
    s->Bevel()->SetBevelOuter(bvNone);
    s->Scale()->SetVisible(true);
    s->Scale()->SetConnect(false);
    s->Scale()->SetOrigin(soInner);
    s->Scale()->SetSize(6);
    s->Scale()->SetTickCount(3);
    s->Scale()->SetEnlargeEvery(2);
    s->SetGrooveSize(1);
    s->SetScalePosition(spBelowOrRight);
    TBitmap left, right;
    ASSERT_TRUE(left.LoadFromFile(av::ResourcePath(QStringLiteral("SPK_LEFT.png"))));
    ASSERT_TRUE(right.LoadFromFile(av::ResourcePath(QStringLiteral("SPK_RIGHT.png"))));
    s->SetPicLeft(&left);
    s->SetPicRight(&right);
    s->SetRange(-5, 5);
    s->SetPosition(0);
    QApplication::processEvents();
    const QImage img = s->grab().toImage();
    const QString dir = QDir::temp().filePath(QStringLiteral("avsetup-slider"));
    QDir().mkpath(dir);
    img.save(dir + QStringLiteral("/pan.png"));
    // The travel is shortened by the pictures; the thumb sits in the middle of it.
    const TRect inner = s->InnerRect();
    const TRect t = s->ThumbRect();
    EXPECT_NEAR(t.Left - (inner.Left + 16), (inner.Right - 16) - t.Right, 1);
    EXPECT_EQ(t.Top, inner.Top);
    // The pictures' key colour is left out; their outline is drawn.
    bool magenta = false, outline = false;
    for (int y = 0; y < img.height(); ++y)
        for (int x = inner.Left; x < inner.Left + 16; ++x) {
            const QColor c = img.pixelColor(x, y);
            magenta |= c == QColor(255, 0, 255);
            outline |= c == QColor(0, 0, 0);
        }
    EXPECT_FALSE(magenta);
    EXPECT_TRUE(outline);
}

TEST(AvSlider, DesignTimeOrientationSwapsThumbAndShape) {
    TAvSlider s(nullptr);
    s.SetDesigning(true);
    s.SetOrientation(orVertical);
    EXPECT_EQ(s.ThumbWidth(), 23);
    EXPECT_EQ(s.ThumbHeight(), 11);
    EXPECT_EQ(s.Width(), 40);
    EXPECT_EQ(s.Height(), 200);
    s.SetDesigning(false);
    s.SetOrientation(orHorizontal); // at run time only the direction changes
    EXPECT_EQ(s.ThumbWidth(), 23);
    EXPECT_EQ(s.Height(), 200);
}
