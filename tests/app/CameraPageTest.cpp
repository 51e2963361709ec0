// The camera page on simulated cameras: the preview letter-boxed in its black window (checked on
// the grabbed page), the camera's own controls acting on the picture, a camera without a
// 176-wide format, no camera at all, and a camera unplugged while previewing.
#include "app/VideoWizard.h"
#include "platform/dshow/VideoBackend.h"
#include "video/VideoTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {
// Mean brightness (0..255) of a picture's area.
double Luma(const QImage& image, const QRect& r) {
    double sum = 0;
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            sum += 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue();
            ++n;
        }
    return n ? sum / n : 0;
}

class CameraPage : public ::testing::Test {
protected:
    void Open(std::vector<SimCameraConfig> cameras) {
        Backend = std::make_shared<SimVideoBackend>(std::move(cameras));
        Scope = std::make_unique<ScopedVideoBackend>(Backend);
        App = std::make_unique<TApplication>();
        App->SetMessageBoxHook([this](const QString&, const QString& text, int) {
            Messages << text;
            return IDOK;
        });
        App->CreateForm(VideoForm);
        F = VideoForm;
        F->Show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        App.reset();
        VideoForm = nullptr;
        Scope.reset();
    }
    void Click(TButton* b) { QTest::mouseClick(b->Widget(), Qt::LeftButton); }
    bool Previewing() {
        return WaitFor([&] { return !F->DSVideoWindowEx21->CurrentFrame().isNull(); });
    }
    QImage Grab() {
        F->Repaint();
        QCoreApplication::processEvents();
        return F->grab().toImage();
    }

    std::shared_ptr<SimVideoBackend> Backend;
    std::unique_ptr<ScopedVideoBackend> Scope;
    std::unique_ptr<TApplication> App;
    TVideoForm* F = nullptr;
    QStringList Messages;
};
} // namespace

TEST_F(CameraPage, PreviewFillsTheBlackWindowAndTheCameraControlsActOnIt) {
    Open(DefaultSimCameras());
    EXPECT_EQ(F->ComboBoxVideoSou->Items(), (QStringList{"Virtual Camera", "HD Camera"}));
    EXPECT_EQ(F->ComboBoxVideoSou->ItemIndex(), 0);
    const QRect window(8, 64, 176, 144);
    EXPECT_LT(Luma(Grab(), window), 1.0) << "black before the test";
    // Docked, the page is 360 pixels wide: its hint must wrap inside that, not run out of sight.
    EXPECT_LE(F->Label1->Left() + F->Label1->Width(), 360);
    EXPECT_LE(F->Label1->Top() + F->Label1->Height(), F->ButtonVideoSet->Top());

    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_TRUE(F->ButtonVideoSet->Enabled());
    ASSERT_TRUE(Previewing());
    const QImage page = Grab();
    page.save(QDir(QCoreApplication::applicationDirPath()).filePath("camera_page_preview.png"));
    // A 176 x 144 picture in the 176 x 144 letter-box window fills it: no black band anywhere.
    for (const QRect& band : {QRect(8, 64, 176, 4), QRect(8, 204, 176, 4), QRect(8, 64, 4, 144),
                              QRect(180, 64, 4, 144)})
        EXPECT_GT(Luma(page, band), 20.0) << band.x() << "," << band.y();
    // The picture moves.
    const QImage first = F->DSVideoWindowEx21->CurrentFrame();
    ASSERT_TRUE(WaitFor([&] { return F->DSVideoWindowEx21->CurrentFrame() != first; }));

    // "选项": the camera's controls; more brightness shows in the picture at once.
    const double before = Luma(F->DSVideoWindowEx21->CurrentFrame(), QRect(0, 0, 176, 144));
    bool brighter = false;
    QString caption;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TCameraControlsDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        caption = dialog->windowTitle();
        dialog->findChild<QSlider*>(QStringLiteral("Brightness"))->setValue(60);
        brighter = WaitFor([&] {
            return Luma(F->DSVideoWindowEx21->CurrentFrame(), QRect(0, 0, 176, 144)) > before + 30;
        });
        dialog->RestoreDefaults();
        dialog->reject();
    });
    Click(F->ButtonVideoSet);
    EXPECT_EQ(caption, QStringLiteral("VideoSourceFilter"));
    EXPECT_TRUE(brighter);

    // "停止" ends the preview; "测试" again builds it from scratch.
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));
    EXPECT_FALSE(F->ButtonVideoSet->Enabled());
    EXPECT_FALSE(F->FilterGraph->Active());
    EXPECT_LT(Luma(Grab(), window), 1.0);
    Click(F->ButtonTest);
    ASSERT_TRUE(Previewing());

    // Enlarged, the window has the graph scale the frames to its video rectangle: twice the size
    // fills it; a wide window letter-boxes the picture between black bands; a zoom has the
    // frames come at their own size and cuts them here.
    TDSVideoWindowEx2* w = F->DSVideoWindowEx21;
    // The page widened first, so that none of its other controls lies over the enlarged window.
    F->SetBounds(F->Left(), F->Top(), 800, 400);
    for (TControl* c : {static_cast<TControl*>(F->ButtonTest), static_cast<TControl*>(F->Label1),
                        static_cast<TControl*>(F->ButtonVideoSet)})
        c->SetLeft(c->Left() + 350);
    w->SetBounds(8, 64, 352, 288);
    ASSERT_TRUE(WaitFor([&] { return w->CurrentFrame().size() == QSize(352, 288); }));
    EXPECT_EQ(w->NativeSize(), QSize(176, 144));
    QImage big = Grab();
    for (const QRect& band : {QRect(8, 64, 352, 4), QRect(8, 348, 352, 4), QRect(8, 64, 4, 288),
                              QRect(356, 64, 4, 288)})
        EXPECT_GT(Luma(big, band), 20.0) << band.x() << "," << band.y();
    w->SetBounds(8, 64, 352, 200); // picture 244 x 200, bands of 54 on either side
    ASSERT_TRUE(WaitFor([&] { return w->CurrentFrame().size() == QSize(244, 200); }));
    QImage wide = Grab();
    EXPECT_LT(Luma(wide, QRect(8, 64, 52, 200)), 1.0);
    EXPECT_LT(Luma(wide, QRect(8 + 300, 64, 52, 200)), 1.0);
    EXPECT_GT(Luma(wide, QRect(8 + 54, 64, 244, 200)), 20.0);
    w->SetDigitalZoom(50);
    ASSERT_TRUE(WaitFor([&] { return w->CurrentFrame().size() == QSize(176, 144); }));
    wide = Grab();
    EXPECT_LT(Luma(wide, QRect(8, 64, 52, 200)), 1.0);
    EXPECT_GT(Luma(wide, QRect(8 + 54, 64, 244, 200)), 20.0);
    wide.save(QDir(QCoreApplication::applicationDirPath()).filePath("camera_page_zoomed.png"));
    w->SetDigitalZoom(0);
    w->SetBounds(8, 64, 176, 144);

    Click(F->ButtonTest);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(CameraPage, CameraWithoutSmallFormatAndNoCamera) {
    Open(DefaultSimCameras());
    F->ComboBoxVideoSou->SetItemIndex(1); // HD Camera: 1280 x 720 only
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_FALSE(F->ButtonVideoSet->Enabled());
    EXPECT_FALSE(F->FilterGraph->Active());
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));
    TearDown();

    Open({});
    EXPECT_EQ(F->ComboBoxVideoSou->ItemCount(), 0);
    EXPECT_EQ(F->ComboBoxVideoSou->ItemIndex(), -1);
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_FALSE(F->ButtonVideoSet->Enabled());
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));
    EXPECT_TRUE(Messages.isEmpty());
}

TEST_F(CameraPage, UnpluggingThePreviewedCamera) {
    Open(DefaultSimCameras());
    bool lost = false;
    F->FilterGraph->OnGraphDeviceLost = [&](TObject*, IUnknown*, bool arrived) { lost = !arrived; };
    Click(F->ButtonTest);
    ASSERT_TRUE(Previewing());
    std::thread([&] { Backend->RemoveCamera("Virtual Camera"); }).join();
    ASSERT_TRUE(WaitFor([&] { return lost; }));
    Click(F->ButtonTest); // stop: no hang, no error
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));
    // The list still names it: testing it now finds nothing and shows nothing.
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_FALSE(F->FilterGraph->Active());
    EXPECT_FALSE(F->ButtonVideoSet->Enabled());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}
