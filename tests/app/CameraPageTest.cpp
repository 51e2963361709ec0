// The camera page on simulated cameras: the preview letter-boxed in its black window (checked on
// the grabbed page), the camera's own controls acting on the picture, a camera without a
// 176-wide format, no camera until one is plugged in, a camera unplugged while previewing, a
// camera busy in another program, and many test/stop cycles that leave nothing behind.
#include "platform/dshow/VideoBackend.h"
#include "tests/app/WizardTestSupport.h"
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

#include <QRegularExpression>

#include <gst/gst.h>

#include <cstring>
#include <filesystem>
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

// The GStreamer elements and pads still alive, as the leaks tracer sees them ("type name (refs)").
QStringList LiveElementsAndPads() {
    QStringList out;
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* l = tracers; l; l = l->next) {
        if (std::strcmp(G_OBJECT_TYPE_NAME(l->data), "GstLeaksTracer") != 0) continue;
        GstStructure* info = nullptr;
        g_signal_emit_by_name(l->data, "get-live-objects", &info);
        if (!info) continue;
        const GValue* list = gst_structure_get_value(info, "live-objects-list");
        for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
            const GstStructure* o = gst_value_get_structure(gst_value_list_get_value(list, i));
            const GValue* v = gst_structure_get_value(o, "object");
            if (!v || !G_VALUE_HOLDS_OBJECT(v)) continue;
            GObject* object = G_OBJECT(g_value_get_object(v));
            if (!GST_IS_ELEMENT(object) && !GST_IS_PAD(object)) continue;
            guint refs = 0;
            gst_structure_get_uint(o, "ref-count", &refs);
            out << QStringLiteral("%1 %2 (%3)")
                       .arg(QLatin1String(G_OBJECT_TYPE_NAME(object)),
                            QString::fromUtf8(GST_OBJECT_NAME(object)))
                       .arg(refs);
        }
        gst_structure_free(info);
    }
    g_list_free_full(tracers, gst_object_unref);
    return out;
}

int OpenFiles() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

class CameraPage : public ::testing::Test {
protected:
    void Open(std::vector<SimCameraConfig> cameras) {
        Backend = std::make_shared<SimVideoBackend>(std::move(cameras));
        Scope = std::make_unique<ScopedVideoBackend>(Backend);
        App = wizardtest::StartWizard({}, Messages);
        App->SetMessageBoxHook([this](const QString&, const QString& text, int) {
            Messages << text;
            Details << Application->MessageDetail();
            return IDOK;
        });
        F = VideoForm;
        F->Show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
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
    QStringList Messages, Details;
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

TEST_F(CameraPage, EveryCameraPreviewsAndAnEmptyPageSaysSoUntilOneIsPluggedIn) {
    // HD Camera: 1280 x 720 only (here with the bright bars for a picture). Its picture is
    // scaled into the window, its proportions kept: 176 x 99 between black bands of 22 above and
    // below.
    std::vector<SimCameraConfig> cameras = DefaultSimCameras();
    cameras[1].pattern = "smpte";
    Open(cameras);
    EXPECT_FALSE(F->LabelStatus->Visible());
    F->ComboBoxVideoSou->SetItemIndex(1);
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_TRUE(F->ButtonVideoSet->Enabled());
    ASSERT_TRUE(Previewing());
    EXPECT_EQ(F->DSVideoWindowEx21->NativeSize(), QSize(1280, 720));
    ASSERT_TRUE(
        WaitFor([&] { return F->DSVideoWindowEx21->CurrentFrame().size() == QSize(176, 99); }));
    const QImage page = Grab();
    page.save(QDir(QCoreApplication::applicationDirPath()).filePath("camera_page_hd.png"));
    EXPECT_LT(Luma(page, QRect(8, 64, 176, 21)), 1.0);
    EXPECT_LT(Luma(page, QRect(8, 64 + 22 + 99 + 1, 176, 21)), 1.0);
    EXPECT_GT(Luma(page, QRect(8, 64 + 22, 176, 99)), 20.0);
    Click(F->ButtonTest);
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));
    TearDown();

    // No camera: one line says so and there is nothing to test, until a camera is plugged in.
    Open({});
    EXPECT_EQ(F->ComboBoxVideoSou->ItemCount(), 0);
    EXPECT_EQ(F->ComboBoxVideoSou->ItemIndex(), -1);
    EXPECT_TRUE(F->LabelStatus->Visible());
    EXPECT_TRUE(F->LabelStatus->Caption().startsWith(QStringLiteral("未找到摄像头")));
    EXPECT_FALSE(F->ButtonTest->Enabled());
    Grab().save(QDir(QCoreApplication::applicationDirPath()).filePath("camera_page_none.png"));
    std::thread([&] { Backend->AddCamera(DefaultSimCameras().front()); }).join();
    ASSERT_TRUE(WaitFor([&] { return F->ComboBoxVideoSou->ItemCount() == 1; }));
    EXPECT_EQ(F->ComboBoxVideoSou->ItemIndex(), 0);
    EXPECT_FALSE(F->LabelStatus->Visible());
    EXPECT_TRUE(F->ButtonTest->Enabled());
    Click(F->ButtonTest);
    EXPECT_TRUE(Previewing());
    Click(F->ButtonTest);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(CameraPage, AnUnpluggedCameraIsNeverReplacedByAnother) {
    // Two cameras; the first, previewed, is unplugged: the preview ends, its entry says it has
    // gone and testing it shows nothing (not the other camera under its name) until it is back.
    Open(DefaultSimCameras());
    Click(F->ButtonTest);
    ASSERT_TRUE(Previewing());
    EXPECT_EQ(F->DSVideoWindowEx21->NativeSize(), QSize(176, 144));
    std::thread([&] { Backend->RemoveCamera("Virtual Camera"); }).join();
    ASSERT_TRUE(WaitFor([&] { return F->ButtonTest->Caption() == QStringLiteral("测试"); }));
    EXPECT_FALSE(F->FilterGraph->Active());
    EXPECT_FALSE(F->ButtonVideoSet->Enabled());
    EXPECT_EQ(F->ComboBoxVideoSou->Items(),
              (QStringList{QStringLiteral("Virtual Camera（已断开）"), "HD Camera"}));
    EXPECT_EQ(F->ComboBoxVideoSou->ItemIndex(), 0);
    EXPECT_TRUE(F->LabelStatus->Visible());
    EXPECT_TRUE(F->LabelStatus->Caption().contains(QStringLiteral("已断开")));
    Grab().save(QDir(QCoreApplication::applicationDirPath()).filePath("camera_page_gone.png"));
    Click(F->ButtonTest);
    EXPECT_FALSE(F->FilterGraph->Active());
    EXPECT_TRUE(F->DSVideoWindowEx21->CurrentFrame().isNull());
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));

    // Back (now listed after the other camera by the system): the entry is itself again and
    // previews that camera.
    std::thread([&] { Backend->AddCamera(DefaultSimCameras().front()); }).join();
    ASSERT_TRUE(WaitFor([&] { return !F->LabelStatus->Visible(); }));
    EXPECT_EQ(F->ComboBoxVideoSou->Items(), (QStringList{"HD Camera", "Virtual Camera"}));
    EXPECT_EQ(F->ComboBoxVideoSou->ItemIndex(), 1);
    Click(F->ButtonTest);
    ASSERT_TRUE(Previewing());
    EXPECT_EQ(F->DSVideoWindowEx21->NativeSize(), QSize(176, 144));

    // Gone before the list heard of it: the identity still finds no other camera.
    F->ButtonTest->Click();
    QCoreApplication::processEvents();
    Backend->RemoveCamera("Virtual Camera"); // this thread: the notice waits in the queue
    F->ButtonTest->Click();
    EXPECT_FALSE(F->FilterGraph->Active());
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));
    EXPECT_EQ(F->ComboBoxVideoSou->Item(1), QStringLiteral("Virtual Camera（已断开）"));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(CameraPage, ABusyCameraIsReportedAsBusyInPlainWords) {
    SimCameraConfig busy = DefaultSimCameras().front();
    busy.name = "Busy Camera";
    busy.busy = true;
    Open({busy});
    bool lost = false;
    F->FilterGraph->OnGraphDeviceLost = [&](TObject*, IUnknown*, bool) { lost = true; };
    Click(F->ButtonTest);
    ASSERT_TRUE(WaitFor([&] { return !Messages.isEmpty(); }));
    EXPECT_TRUE(Messages.front().contains(QStringLiteral("另一个程序使用")))
        << Messages.front().toStdString();
    // The original text is kept as the details.
    EXPECT_TRUE(Details.front().contains(QStringLiteral("$800705AA")))
        << Details.front().toStdString();
    EXPECT_EQ(F->ButtonTest->Caption(), QStringLiteral("测试"));
    EXPECT_FALSE(F->FilterGraph->Active());
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages.size(), 1);
    EXPECT_FALSE(lost) << "a busy camera is still there";
}

TEST_F(CameraPage, TestAndStopFiftyTimesLeavesNoElementNorFile) {
    // The leaks tracer must be there before GStreamer starts (ctest gives each case a process).
    if (gst_is_initialized()) GTEST_SKIP() << "GStreamer started before this test; run it alone";
    Open(DefaultSimCameras());
    Click(F->ButtonTest);
    ASSERT_TRUE(Previewing());
    Click(F->ButtonTest);
    const int files = OpenFiles();
    for (int i = 0; i < 50; ++i) {
        Click(F->ButtonTest);
        ASSERT_TRUE(Previewing()) << "cycle " << i;
        Click(F->ButtonTest);
    }
    EXPECT_LE(OpenFiles(), files);
    EXPECT_EQ(LiveElementsAndPads().join("; ").toStdString(), "");

    // Ending the program while previewing leaves nothing either.
    Click(F->ButtonTest);
    ASSERT_TRUE(Previewing());
    wizardtest::EndWizard(App);
    EXPECT_EQ(LiveElementsAndPads().join("; ").toStdString(), "");
    EXPECT_LE(OpenFiles(), files);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}
