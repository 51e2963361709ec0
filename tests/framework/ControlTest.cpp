// Controls: docking, input hooks, painting through the canvas, fonts.
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {
class TProbeControl : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    QStringList Log;
    int Resizes = 0;
    bool ThrowInMouseDown = false;

protected:
    void MouseDown(TMouseButton b, TShiftState s, int x, int y) override {
        if (ThrowInMouseDown) throw Exception(QStringLiteral("mouse failed"));
        Log << QStringLiteral("down %1 %2 %3 %4").arg(b).arg(s & ssShift ? 1 : 0).arg(x).arg(y);
    }
    void MouseUp(TMouseButton b, TShiftState, int x, int y) override {
        Log << QStringLiteral("up %1 %2 %3").arg(b).arg(x).arg(y);
    }
    void Click() override { Log << QStringLiteral("click"); }
    void KeyDown(WORD& key, TShiftState shift) override {
        Log << QStringLiteral("key %1 %2").arg(key).arg(shift & ssCtrl ? 1 : 0);
        key = 0;
    }
    void Resize() override { ++Resizes; }
    void Paint() override {
        Canvas()->Brush()->SetColor(clRed);
        Canvas()->FillRect(Rect(0, 0, 2, 2));
    }
};

struct Recorder {
    std::vector<QString> messages;
    TApplication app;
    Recorder() {
        app.SetMessageBoxHook([this](const QString&, const QString& text, int) {
            messages.push_back(text);
            return IDOK;
        });
    }
};
} // namespace

TEST(Control, ParentDocksAlignedChildrenInOrder) {
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 200);
    auto make = [&](TAlign a, int l, int t, int w, int h) {
        auto* c = new TPanel(&form);
        c->SetParent(&form);
        c->SetBounds(l, t, w, h);
        c->SetAlign(a);
        return c;
    };
    auto* client = make(alClient, 0, 0, 10, 10);
    auto* bottom = make(alBottom, 0, 0, 10, 10);
    auto* top2 = make(alTop, 0, 50, 10, 30);
    auto* top1 = make(alTop, 0, 0, 10, 20);
    auto* left = make(alLeft, 0, 0, 40, 10);
    EXPECT_EQ(top1->BoundsRect(), Bounds(0, 0, 300, 20));
    EXPECT_EQ(top2->BoundsRect(), Bounds(0, 20, 300, 30));
    EXPECT_EQ(bottom->BoundsRect(), Bounds(0, 190, 300, 10));
    EXPECT_EQ(left->BoundsRect(), Bounds(0, 50, 40, 140));
    EXPECT_EQ(client->BoundsRect(), Bounds(40, 50, 260, 140));
    EXPECT_EQ(client->geometry(), QRect(40, 50, 260, 140));

    top2->Hide(); // hidden controls give their room back
    EXPECT_EQ(client->BoundsRect(), Bounds(40, 20, 260, 170));
    form.SetBounds(0, 0, 400, 200); // and the parent re-docks on resize
    EXPECT_EQ(client->BoundsRect(), Bounds(40, 20, 360, 170));
}

TEST(Control, PanelBordersKeepAlignedChildrenInside) {
    TPanel panel(nullptr);
    panel.SetBounds(0, 0, 100, 100);
    panel.SetBevelOuter(bvRaised);
    panel.SetBorderWidth(3);
    auto* child = new TPanel(&panel);
    child->SetParent(&panel);
    child->SetAlign(alClient);
    EXPECT_EQ(child->BoundsRect(), Rect(4, 4, 96, 96));
}

TEST(Control, MouseAndKeysReachTheVirtualHooks) {
    TForm form(nullptr);
    form.SetBounds(0, 0, 200, 200);
    auto* c = new TProbeControl(&form);
    c->SetParent(&form);
    c->SetBounds(10, 10, 100, 50);
    c->SetTabStop(true);
    form.Show();
    QTest::mouseClick(c, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 6));
    c->SetFocus();
    QTest::keyClick(c, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(c->Log, (QStringList{"down 0 1 5 6", "up 0 5 6", "click",
                                   QStringLiteral("key %1 1").arg(VK_CONTROL),
                                   QStringLiteral("key %1 1").arg(VK_LEFT)}));
}

TEST(Control, ControlFreedByItsOwnMouseHandlerGetsNoFurtherEvents) {
    TForm form(nullptr);
    form.SetBounds(0, 0, 200, 200);
    form.Show();
    int clicks = 0;
    auto make = [&] {
        auto* c = new TPanel(&form);
        c->SetParent(&form);
        c->SetBounds(10, 10, 100, 50);
        c->OnClick = [&](TObject*) { ++clicks; };
        c->OnDblClick = [&](TObject*) { ++clicks; };
        return c;
    };
    auto send = [](QWidget* w, QEvent::Type type) {
        QMouseEvent e(type, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    };
    TPanel* up = make();
    up->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { up->Free(); };
    QPointer<QWidget> upAlive(up);
    send(up, QEvent::MouseButtonPress);
    send(up, QEvent::MouseButtonRelease);
    EXPECT_TRUE(upAlive.isNull());

    TPanel* dbl = make();
    dbl->OnMouseDown = [&](TObject*, TMouseButton, TShiftState shift, int, int) {
        if (shift & ssDouble) dbl->Free();
    };
    QPointer<QWidget> dblAlive(dbl);
    send(dbl, QEvent::MouseButtonDblClick);
    EXPECT_TRUE(dblAlive.isNull());
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(form.ComponentCount(), 0);
}

TEST(Control, PageDockedIntoItselfOrTwiceStaysWhole) {
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 200);
    auto* host = new TPanel(&form);
    host->SetParent(&form);
    host->SetAlign(alClient);
    host->SetBevelOuter(bvNone);
    TForm page(nullptr);
    auto* inner = new TPanel(&page);
    inner->SetParent(&page);
    // A page cannot be docked into its own panel (a loop of parents).
    EXPECT_THROW(page.SetParent(inner), EInvalidOperation);
    EXPECT_EQ(page.Parent(), nullptr);
    EXPECT_TRUE(page.isWindow());
    page.SetParent(host);
    page.SetAlign(alClient);
    page.Show();
    page.SetParent(host); // docked again: nothing changes
    EXPECT_EQ(host->ControlCount(), 1);
    EXPECT_EQ(page.BoundsRect(), Bounds(0, 0, 300, 200));
    page.SetParent(nullptr);
    EXPECT_EQ(host->ControlCount(), 0);
    page.SetParent(host);
    EXPECT_EQ(host->ControlCount(), 1);
    EXPECT_EQ(page.BoundsRect(), Bounds(0, 0, 300, 200));
    page.SetParent(nullptr); // the page goes before the form here
}

TEST(Control, ExceptionInAHandlerIsReportedAndTheProgramGoesOn) {
    Recorder rec;
    TForm form(nullptr);
    auto* c = new TProbeControl(&form);
    c->SetParent(&form);
    c->SetBounds(0, 0, 50, 50);
    form.Show();
    c->ThrowInMouseDown = true;
    QTest::mouseClick(c, Qt::LeftButton);
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0], QStringLiteral("mouse failed"));
    c->ThrowInMouseDown = false;
    QTest::mouseClick(c, Qt::LeftButton);
    EXPECT_TRUE(c->Log.contains(QStringLiteral("click")));

    auto* b = new TButton(&form);
    b->SetParent(&form);
    b->OnClick = [](TObject*) { throw Exception(QStringLiteral("click failed")); };
    QTest::mouseClick(b->Widget(), Qt::LeftButton);
    ASSERT_EQ(rec.messages.size(), 2u);
    EXPECT_EQ(rec.messages[1], QStringLiteral("click failed"));
}

TEST(Control, ResizeHookRunsOnSizeChangesOnly) {
    TProbeControl c(nullptr);
    const int before = c.Resizes;
    c.SetBounds(5, 5, 30, 40);
    c.SetBounds(6, 6, 30, 40); // a move
    c.SetWidth(31);
    EXPECT_EQ(c.Resizes - before, 2);
}

TEST(Control, PaintGetsAValidCanvas) {
    TForm form(nullptr);
    auto* c = new TProbeControl(&form);
    c->SetParent(&form);
    c->SetBounds(0, 0, 10, 10);
    c->SetColor(clBlue);
    form.SetBounds(0, 0, 20, 20);
    const QImage img = c->grab().toImage();
    EXPECT_EQ(QColor(img.pixel(1, 1)), QColor(Qt::red));
    EXPECT_EQ(QColor(img.pixel(2, 2)), QColor(Qt::blue)); // FillRect stops before Right/Bottom
    EXPECT_FALSE(c->Canvas()->HandleAllocated());         // only during Paint
}

TEST(Canvas, BitmapDrawingFollowsThePixelRules) {
    TBitmap bmp(10, 10);
    TCanvas* cv = bmp.Canvas();
    cv->Brush()->SetColor(clWhite);
    cv->FillRect(Rect(0, 0, 10, 10));
    cv->Pen()->SetColor(clBlack);
    cv->MoveTo(1, 1);
    cv->LineTo(5, 1); // the end point is not drawn
    EXPECT_EQ(cv->Pixel(1, 1), clBlack);
    EXPECT_EQ(cv->Pixel(4, 1), clBlack);
    EXPECT_EQ(cv->Pixel(5, 1), clWhite);
    cv->Brush()->SetColor(clRed);
    cv->Rectangle(2, 3, 6, 8); // outline inside the rectangle, brush inside the outline
    EXPECT_EQ(cv->Pixel(2, 3), clBlack);
    EXPECT_EQ(cv->Pixel(5, 7), clBlack);
    EXPECT_EQ(cv->Pixel(6, 8), clWhite);
    EXPECT_EQ(cv->Pixel(3, 4), clRed);
    TRect r = Rect(0, 0, 10, 10);
    cv->Frame3D(r, clWhite, clGray, 1);
    EXPECT_EQ(r, Rect(1, 1, 9, 9));
    EXPECT_EQ(cv->Pixel(0, 0), clWhite);
    EXPECT_EQ(cv->Pixel(9, 9), clGray);
    cv->SetPixel(3, 3, clLime);
    EXPECT_EQ(bmp.Image().pixelColor(3, 3), QColor(Qt::green));
}

TEST(Control, FormsUseTheEightPointFontAndChildrenFollowIt) {
    TForm form(nullptr);
    EXPECT_EQ(form.Font()->Height(), -11);
    EXPECT_EQ(form.Font()->Size(), 8);
    EXPECT_EQ(form.Font()->ToQFont().pixelSize(), 11);
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    form.Font()->SetHeight(-13);
    EXPECT_EQ(label->Font()->Height(), -13); // ParentFont
    label->Font()->SetHeight(-20);
    EXPECT_FALSE(label->ParentFont());
    form.Font()->SetHeight(-11);
    EXPECT_EQ(label->Font()->Height(), -20);
}

TEST(Control, ComboBoxChangeOnlyForTheUser) {
    TForm form(nullptr);
    auto* box = new TComboBox(&form);
    box->SetParent(&form);
    box->SetStyle(csDropDownList);
    int changes = 0;
    box->OnChange = [&](TObject*) { ++changes; };
    box->SetItems({"a", "b", "c"});
    box->SetItemIndex(1);
    EXPECT_EQ(box->ItemIndex(), 1);
    box->SetItemIndex(7); // not held: no selection
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(changes, 0);
    emit box->Widget()->activated(2); // what a user's pick sends
    EXPECT_EQ(changes, 1);
}

TEST(Control, CheckBoxClickOnProgramAndUserChange) {
    TCheckBox box(nullptr);
    int clicks = 0;
    box.OnClick = [&](TObject*) { ++clicks; };
    box.SetChecked(true);
    box.SetChecked(true); // no change, no click
    EXPECT_EQ(clicks, 1);
    emit box.Widget()->clicked(false);
    EXPECT_FALSE(box.Checked());
    EXPECT_EQ(clicks, 2);
}

TEST(Control, LabelsSizeThemselvesToTheirText) {
    TForm form(nullptr);
    form.BeginLoading();
    auto* plain = new TLabel(&form);
    plain->SetParent(&form);
    plain->SetBounds(10, 10, 200, 50);
    plain->SetCaption(QStringLiteral("快速入门："));
    auto* wrapped = new TLabel(&form);
    wrapped->SetParent(&form);
    wrapped->SetBounds(10, 100, 100, 13);
    wrapped->SetWordWrap(true);
    wrapped->SetCaption(
        QStringLiteral("这有助于帮助您的计算机选择最好的扬声器，麦克风和网络摄像机。"));
    EXPECT_EQ(plain->Width(), 200); // nothing happens while loading
    form.EndLoading();
    const QFontMetrics fm(plain->Font()->ToQFont());
    EXPECT_EQ(plain->Width(), fm.horizontalAdvance(QStringLiteral("快速入门：")));
    EXPECT_EQ(plain->Height(), fm.height());
    EXPECT_EQ(wrapped->Width(), 100);              // keeps its width
    EXPECT_GE(wrapped->Height(), 3 * fm.height()); // and grows to the wrapped lines
    wrapped->Constraints().MaxHeight = 20;
    wrapped->SetConstraints(wrapped->Constraints());
    EXPECT_EQ(wrapped->Height(), 20);
}

TEST(Control, ImageTakesThePictureSize) {
    TImage image(nullptr);
    image.SetAutoSize(true);
    QImage pic(164, 333, QImage::Format_RGB888);
    pic.fill(Qt::blue);
    image.Picture()->SetImage(pic);
    EXPECT_EQ(image.Width(), 164);
    EXPECT_EQ(image.Height(), 333);
    EXPECT_EQ(image.grab().toImage().pixelColor(10, 10), QColor(Qt::blue));
}

TEST(Form, CaptionIsTheWindowTitle) {
    TForm form(nullptr);
    form.SetCaption(QStringLiteral("音频视频设置"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("音频视频设置"));
    form.SetCaption(QStringLiteral("Other"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Other"));
}

// Tab and Shift+Tab walk the window's controls by their stored tab orders, whatever order they
// were made in, into a docked page with a wrapped combo box, and wrap; as on the wizard, whose
// page area comes before Back, Next and Cancel.
TEST(Form, TabWalksTheTabOrdersAcrossADockedPageAndWraps) {
    TForm form(nullptr);
    form.SetBounds(0, 0, 400, 300);
    auto button = [](TWinControl* parent, int order, int left) {
        auto* b = new TButton(parent);
        b->SetParent(parent);
        b->SetBounds(left, 250, 60, 24);
        b->SetTabOrder(order);
        return b;
    };
    TButton* next = button(&form, 2, 200);
    TButton* cancel = button(&form, 3, 300);
    TButton* back = button(&form, 1, 100);
    auto* area = new TPanel(&form);
    area->SetParent(&form);
    area->SetBounds(0, 0, 400, 240);
    area->SetTabOrder(0);
    TForm page(nullptr);
    auto* combo = new TComboBox(&page);
    combo->SetParent(&page);
    combo->SetBounds(10, 40, 150, 21);
    combo->SetTabOrder(1);
    TButton* test = button(&page, 0, 10);
    test->SetTop(10);
    page.SetParent(area);
    page.SetAlign(alClient);
    page.Show();
    form.Show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    const std::vector<TWinControl*> order{test, combo, back, next, cancel};
    EXPECT_EQ(form.TabChain(), order);
    auto focused = [&] {
        for (TWinControl* w : order)
            if (w == QApplication::focusWidget() || w->isAncestorOf(QApplication::focusWidget()))
                return w;
        return static_cast<TWinControl*>(nullptr);
    };
    test->SetFocus();
    for (std::size_t i = 1; i <= order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(focused(), order[i % order.size()]) << "Tab " << i;
    }
    for (std::size_t i = 1; i <= order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(focused(), order[(2 * order.size() - i) % order.size()]) << "Shift+Tab " << i;
    }
    page.SetParent(nullptr);
}

// Escape presses the window's cancel button wherever the focus is, docked pages included.
TEST(Form, EscapePressesTheCancelButton) {
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 200);
    auto* cancel = new TButton(&form);
    cancel->SetParent(&form);
    cancel->SetCancel(true);
    int cancels = 0;
    cancel->OnClick = [&](TObject*) { ++cancels; };
    TForm page(nullptr);
    auto* other = new TButton(&page);
    other->SetParent(&page);
    page.SetParent(&form);
    page.Show();
    form.Show();
    QApplication::setActiveWindow(&form);
    other->SetFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    cancel->SetCancel(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    page.SetParent(nullptr);
}
