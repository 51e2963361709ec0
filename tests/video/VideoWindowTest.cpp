// The video window's settings and ranges, and the property-page routine against a fake camera
// (a table of controls behind the controls interface), since CI has no camera.
#include "../platform/FakeV4l2Device.h"
#include "VideoTestSupport.h"
#include "platform/api/winbase.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {
class FakeControls final : public IAvDeviceControls {
    AV_UNKNOWN_IMPL(IAvDeviceControls)
public:
    FakeControls() {
        AvDeviceControl gain;
        gain.id = 1;
        gain.name = "Gain";
        gain.minimum = 0;
        gain.maximum = 255;
        gain.step = 5;
        gain.defaultValue = 32;
        AvDeviceControl autoWb;
        autoWb.id = 2;
        autoWb.name = "White Balance, Automatic";
        autoWb.type = avcBoolean;
        autoWb.maximum = 1;
        autoWb.defaultValue = 1;
        AvDeviceControl freq;
        freq.id = 3;
        freq.name = "Power Line Frequency";
        freq.type = avcMenu;
        freq.maximum = 2;
        freq.defaultValue = 1;
        freq.menu = {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
        FList = {gain, autoWb, freq};
        for (auto& c : FList)
            FValues[c.id] = c.defaultValue;
    }
    HRESULT GetControls(std::vector<AvDeviceControl>* list) override {
        *list = FList;
        return S_OK;
    }
    HRESULT GetValue(DWORD id, LONG* v) override {
        *v = FValues.at(id);
        return S_OK;
    }
    HRESULT SetValue(DWORD id, LONG v) override {
        FValues[id] = v;
        return S_OK;
    }
    std::map<DWORD, LONG> FValues;

private:
    std::vector<AvDeviceControl> FList;
};
} // namespace

TEST(VideoWindowTest, RangesOfZoomAndColourControls) {
    TDSVideoWindowEx2 window(nullptr);
    EXPECT_EQ(window.Width(), 320);
    EXPECT_EQ(window.AspectRatio(), rmLetterBox);
    try {
        window.SetDigitalZoom(100);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  QStringLiteral("Value 100 out of range. Value must bee between 0 -> 99"));
    }
    window.SetDigitalZoom(99);
    EXPECT_EQ(window.DigitalZoom(), 99);
    TColorControl* cc = window.ColorControl();
    cc->SetHue(180);
    cc->SetHue(-180);
    EXPECT_EQ(cc->Hue(), -180);
    EXPECT_THROW(cc->SetHue(181), Exception);
    EXPECT_THROW(cc->SetBrightness(10001), Exception);
    EXPECT_THROW(cc->SetGamma(0), Exception);
    EXPECT_EQ(cc->Brightness(), 750);
    EXPECT_FALSE(window.Caps()->CanOverlayGraphic()) << "no graph, no renderer";
}

TEST(VideoWindowTest, PropertyPagesOfAFilterAndTheControlsDialog) {
    EXPECT_EQ(ShowFilterPropertyPage(nullptr, nullptr), S_FALSE);
    ComPtr<IBaseFilter> plain;
    ASSERT_EQ(
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(plain)),
        S_OK);
    EXPECT_EQ(ShowFilterPropertyPage(nullptr, plain.Get(), ppDefault), E_NOINTERFACE);
    EXPECT_EQ(ShowFilterPropertyPage(nullptr, plain.Get(), TPropertyPage(9)), S_FALSE);

    auto fake = MakeCom<FakeControls>();
    TCameraControlsDialog dialog(nullptr, QStringLiteral("VideoSourceFilter"), fake.Get());
    auto* gain = dialog.findChild<QSlider*>(QStringLiteral("Gain"));
    auto* wb = dialog.findChild<QCheckBox*>(QStringLiteral("White Balance, Automatic"));
    auto* freq = dialog.findChild<QComboBox*>(QStringLiteral("Power Line Frequency"));
    ASSERT_TRUE(gain && wb && freq);
    EXPECT_EQ(gain->maximum(), 255);
    EXPECT_EQ(gain->singleStep(), 5);
    EXPECT_EQ(gain->value(), 32);
    EXPECT_TRUE(wb->isChecked());
    EXPECT_EQ(freq->currentText(), QStringLiteral("50 Hz"));
    gain->setValue(100);
    wb->click();
    freq->setCurrentIndex(2);
    emit freq->activated(2);
    EXPECT_EQ(fake->FValues[1], 100);
    EXPECT_EQ(fake->FValues[2], 0);
    EXPECT_EQ(fake->FValues[3], 2);
    dialog.findChild<QPushButton*>(QStringLiteral("Defaults"))->click();
    EXPECT_EQ(fake->FValues[1], 32);
    EXPECT_EQ(fake->FValues[2], 1);
    EXPECT_EQ(fake->FValues[3], 1);
    EXPECT_EQ(gain->value(), 32);
    // "关闭" in the wizard's language, a close box only, and all of it shown: the dialog keeps
    // the size its rows and buttons need.
    auto* close = dialog.findChild<QPushButton*>(QStringLiteral("Close"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), QStringLiteral("关闭"));
    EXPECT_FALSE(dialog.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    dialog.show();
    EXPECT_GE(dialog.height(), dialog.sizeHint().height());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    close->click();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(VideoWindowTest, TheControlsDialogOverAWebcamsV4l2Controls) {
    auto device = FakeV4l2Device::Webcam();
    FakeV4l2Device* fake = device.get();
    ComPtr<IAvDeviceControls> controls = CreateV4l2Controls(std::move(device));
    ASSERT_TRUE(controls);
    TCameraControlsDialog dialog(nullptr, QStringLiteral("VideoSourceFilter"), controls.Get());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("VideoSourceFilter"));
    EXPECT_TRUE(fake->writes.empty()) << "opening the dialog changes nothing on the camera";
    auto* brightness = dialog.findChild<QSlider*>(QStringLiteral("Brightness"));
    auto* autoWb = dialog.findChild<QCheckBox*>(QStringLiteral("White Balance, Automatic"));
    auto* temperature = dialog.findChild<QSlider*>(QStringLiteral("White Balance Temperature"));
    auto* exposure = dialog.findChild<QComboBox*>(QStringLiteral("Auto Exposure"));
    auto* exposureTime = dialog.findChild<QSlider*>(QStringLiteral("Exposure Time, Absolute"));
    auto* buffers = dialog.findChild<QSlider*>(QStringLiteral("Min Number of Capture Buffers"));
    auto* reset = dialog.findChild<QPushButton*>(QStringLiteral("Pan, Reset"));
    ASSERT_TRUE(brightness && autoWb && temperature && exposure && exposureTime && buffers &&
                reset);
    EXPECT_FALSE(dialog.findChild<QWidget*>(QStringLiteral("Pan, Relative")));
    EXPECT_EQ(brightness->value(), 10);
    EXPECT_EQ(brightness->parentWidget()->findChild<QLabel*>()->text(), QStringLiteral("10"));
    EXPECT_EQ(temperature->singleStep(), 10);
    EXPECT_FALSE(temperature->isEnabled()) << "automatic white balance is on";
    EXPECT_FALSE(exposureTime->isEnabled());
    EXPECT_FALSE(buffers->isEnabled()) << "read-only";
    EXPECT_EQ(exposure->count(), 2);
    EXPECT_EQ(exposure->currentText(), QStringLiteral("Aperture Priority Mode"));
    dialog.adjustSize();
    dialog.grab().save(
        QDir(QCoreApplication::applicationDirPath()).filePath("camera_controls_dialog.png"));

    // Each change reaches the camera at once; switching automatic off frees the manual value.
    brightness->setValue(-20);
    autoWb->click();
    EXPECT_TRUE(temperature->isEnabled());
    temperature->setValue(3000);
    exposure->setCurrentIndex(0);
    emit exposure->activated(0);
    EXPECT_TRUE(exposureTime->isEnabled());
    reset->click();
    EXPECT_EQ(fake->writes, (std::vector<std::pair<__u32, __s32>>{
                                {V4L2_CID_BRIGHTNESS, -20},
                                {V4L2_CID_AUTO_WHITE_BALANCE, 0},
                                {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 3000},
                                {V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
                                {V4L2_CID_PAN_RESET, 1},
                            }));

    // The driver's defaults come back, switches before the values they govern, and the rows show
    // them: the manual values are inactive again.
    fake->writes.clear();
    dialog.findChild<QPushButton*>(QStringLiteral("Defaults"))->click();
    EXPECT_EQ(fake->controls[V4L2_CID_BRIGHTNESS].value, 0);
    EXPECT_EQ(fake->controls[V4L2_CID_AUTO_WHITE_BALANCE].value, 1);
    EXPECT_EQ(fake->controls[V4L2_CID_POWER_LINE_FREQUENCY].value, 1);
    EXPECT_EQ(fake->controls[V4L2_CID_EXPOSURE_AUTO].value, 3);
    EXPECT_EQ(fake->controls[V4L2_CID_WHITE_BALANCE_TEMPERATURE].value, 4600);
    ASSERT_FALSE(fake->writes.empty());
    EXPECT_EQ(fake->writes.front().first, __u32(V4L2_CID_AUTO_WHITE_BALANCE));
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_TRUE(autoWb->isChecked());
    EXPECT_FALSE(temperature->isEnabled());
    EXPECT_FALSE(exposureTime->isEnabled());
    EXPECT_EQ(exposure->currentText(), QStringLiteral("Aperture Priority Mode"));
    EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("Power Line Frequency"))->currentText(),
              QStringLiteral("50 Hz"));

    // The camera unplugged with the dialog open: a move is refused and nothing breaks.
    fake->gone = true;
    brightness->setValue(30);
    EXPECT_EQ(fake->controls[V4L2_CID_BRIGHTNESS].value, 0);
}

namespace {
// The desktop session's screen saver service, recording what it is asked.
class RecordingSession final : public IScreenSaverSession {
public:
    bool available = true;
    std::vector<std::string> calls;
    bool Inhibit(const char*, unsigned* cookie) override {
        calls.push_back("Inhibit");
        if (!available) return false;
        *cookie = ++FNext;
        return true;
    }
    void UnInhibit(unsigned cookie) override {
        calls.push_back("UnInhibit " + std::to_string(cookie));
    }
    bool SimulateUserActivity() override { return available; }

private:
    unsigned FNext = 40;
};
} // namespace

TEST(VideoWindowTest, NoScreenSaverKeepsTheScreenOnWhileThePreviewPlays) {
    auto session = std::make_shared<RecordingSession>();
    SetScreenSaverSession(session);
    struct Restore {
        ~Restore() { SetScreenSaverSession(nullptr); }
    } restore;
    ScopedVideoBackend scope(std::make_shared<SimVideoBackend>(DefaultSimCameras()));
    TFilterGraph graph(nullptr);
    graph.SetMode(gmCapture);
    TFilter source(nullptr);
    source.SetName(QStringLiteral("VideoSourceFilter"));
    source.SetFilterGraph(&graph);
    TDSVideoWindowEx2 window(nullptr);
    window.SetName(QStringLiteral("DSVideoWindowEx21"));
    window.SetFilterGraph(&graph);
    source.BaseFilter()->SetMoniker(
        TSysDevEnum(CLSID_VideoInputDeviceCategory).GetMoniker(0).Get());
    auto start = [&] {
        graph.SetActive(true);
        ComPtr<IBaseFilter> capture = source.Get<IBaseFilter>();
        ASSERT_TRUE(capture);
        graph.Get<ICaptureGraphBuilder2>()->RenderStream(
            &PIN_CATEGORY_PREVIEW, nullptr, capture.Get(), nullptr, window.GetFilter().Get());
        ASSERT_TRUE(graph.Play());
        ASSERT_TRUE(WaitFor([&] { return !window.CurrentFrame().isNull(); }));
    };
    using Calls = std::vector<std::string>;

    // Off (the camera page's setting): the preview plays and the session is never asked.
    start();
    EXPECT_EQ(session->calls, Calls{});
    // Switched on while playing, the screen stays on; a stop lets it go, playing again holds it
    // again, and removing the renderer lets it go for good.
    window.SetNoScreenSaver(true);
    EXPECT_EQ(session->calls, Calls{"Inhibit"});
    ASSERT_TRUE(graph.Stop());
    EXPECT_EQ(session->calls, (Calls{"Inhibit", "UnInhibit 41"}));
    ASSERT_TRUE(graph.Play());
    graph.SetActive(false);
    EXPECT_EQ(session->calls, (Calls{"Inhibit", "UnInhibit 41", "Inhibit", "UnInhibit 42"}));
    // Switched off while playing: let go at once.
    session->calls.clear();
    start();
    window.SetNoScreenSaver(false);
    EXPECT_EQ(session->calls, (Calls{"Inhibit", "UnInhibit 43"}));
    graph.SetActive(false);

    // A session without the service: the preview plays all the same, and nothing is undone.
    session->calls.clear();
    session->available = false;
    window.SetNoScreenSaver(true);
    start();
    graph.SetActive(false);
    EXPECT_EQ(session->calls, Calls{"Inhibit"});
}

TEST(VideoWindowTest, ColourValuesSetBeforeThePreviewAreWhatItShows) {
    ScopedVideoBackend scope(std::make_shared<SimVideoBackend>(DefaultSimCameras()));
    TFilterGraph graph(nullptr);
    graph.SetMode(gmCapture);
    TFilter source(nullptr);
    source.SetName(QStringLiteral("VideoSourceFilter"));
    source.SetFilterGraph(&graph);
    TDSVideoWindowEx2 window(nullptr);
    window.SetName(QStringLiteral("DSVideoWindowEx21"));
    window.SetFilterGraph(&graph);
    source.BaseFilter()->SetMoniker(
        TSysDevEnum(CLSID_VideoInputDeviceCategory).GetMoniker(0).Get());
    auto start = [&] {
        graph.SetActive(true);
        graph.Get<ICaptureGraphBuilder2>()->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                                         source.Get<IBaseFilter>().Get(), nullptr,
                                                         window.GetFilter().Get());
        ASSERT_TRUE(graph.Play());
        ASSERT_TRUE(WaitFor([&] { return !window.CurrentFrame().isNull(); }));
    };
    // Set while the graph is inactive, the values reach the renderer when it first plays (they
    // were read back over from the renderer's defaults).
    TColorControl* cc = window.ColorControl();
    cc->SetBrightness(4000);
    cc->SetSaturation(0);
    start();
    EXPECT_EQ(cc->Brightness(), 4000);
    EXPECT_EQ(cc->Saturation(), 0);
    DDCOLORCONTROL shown{};
    shown.dwSize = sizeof shown;
    ComPtr<IAvColorControl> renderer;
    ASSERT_EQ(window.QueryInterface(IID_PPV_ARGS(renderer)), S_OK);
    ASSERT_EQ(renderer->GetColorControls(&shown), S_OK);
    EXPECT_EQ(shown.lBrightness, 4000);
    EXPECT_EQ(shown.lSaturation, 0);
    EXPECT_TRUE(window.Caps()->CanControlBrigtness());
    // Without saturation the picture is grey: red, green and blue alike everywhere.
    ASSERT_TRUE(WaitFor([&] {
        const QImage f = window.CurrentFrame();
        for (int y = 0; y < f.height(); y += 7)
            for (int x = 0; x < f.width(); x += 5) {
                const QColor c = f.pixelColor(x, y);
                if (std::abs(c.red() - c.green()) > 8 || std::abs(c.green() - c.blue()) > 8)
                    return false;
            }
        return !f.isNull();
    }));
    graph.SetActive(false);
}

namespace {
// Keeps the first and the last sample it is given (streaming thread).
class SampleRecorder final : public ISampleGrabberCB {
    AV_UNKNOWN_IMPL(ISampleGrabberCB)
public:
    HRESULT SampleCB(double time, IMediaSample* sample) override {
        std::lock_guard g(FLock);
        if (!FFirst) FFirst = sample;
        FLast = sample;
        ++FCount;
        REFERENCE_TIME start = 0, end = 0;
        if (FAILED(sample->GetTime(&start, &end)) || std::abs(double(start) / 1e7 - time) > 1e-6)
            FTimesMatch = false;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, long) override {
        ADD_FAILURE() << "buffer callback while the sample kind is chosen";
        return S_OK;
    }
    int Count() {
        std::lock_guard g(FLock);
        return FCount;
    }
    ComPtr<IMediaSample> First() {
        std::lock_guard g(FLock);
        return FFirst;
    }
    ComPtr<IMediaSample> Last() {
        std::lock_guard g(FLock);
        return FLast;
    }
    bool SampleTimesMatch() {
        std::lock_guard g(FLock);
        return FTimesMatch;
    }

private:
    std::mutex FLock;
    ComPtr<IMediaSample> FFirst, FLast;
    int FCount = 0;
    bool FTimesMatch = true;
};
} // namespace

TEST(VideoWindowTest, SampleGrabberInAGraphWithoutConnectionsPassesNothing) {
    ScopedVideoBackend scope(std::make_shared<SimVideoBackend>(DefaultSimCameras()));
    TFilterGraph graph(nullptr);
    graph.SetMode(gmCapture);
    TSampleGrabber grabber(nullptr);
    grabber.SetName(QStringLiteral("SampleGrabber1"));
    std::atomic<int> buffers{0};
    grabber.OnBuffer = [&](TObject*, BYTE*, long, double) { ++buffers; };
    grabber.SetFilterGraph(&graph);
    TFilter source(nullptr);
    source.SetName(QStringLiteral("VideoSourceFilter"));
    source.SetFilterGraph(&graph);
    TestRenderClient renderer(nullptr);
    renderer.SetFilterGraph(&graph);
    source.BaseFilter()->SetMoniker(
        TSysDevEnum(CLSID_VideoInputDeviceCategory).GetMoniker(0).Get());
    graph.SetActive(true);
    ASSERT_TRUE(grabber.Get<ISampleGrabber>());
    ComPtr<IBaseFilter> capture = source.Get<IBaseFilter>();
    graph.Get<ICaptureGraphBuilder2>()->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, capture.Get(),
                                                     nullptr, renderer.GetFilter().Get());
    ASSERT_TRUE(graph.Play());
    ASSERT_TRUE(WaitFor([&] { return renderer.Frames() >= 5; }));
    EXPECT_EQ(buffers.load(), 0);
    graph.ClearGraph();

    // Connected behind the camera, every frame passes it, in the type it asks for.
    graph.Get<ICaptureGraphBuilder2>()->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, capture.Get(),
                                                     grabber.GetFilter().Get(),
                                                     renderer.GetFilter().Get());
    ASSERT_TRUE(graph.Play());
    ASSERT_TRUE(WaitFor([&] { return buffers.load() >= 3; }));
    long size = 0;
    EXPECT_EQ(grabber.Get<ISampleGrabber>()->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 176 * 144 * 3);
    // Its rows run as its type says: the test picture's top two thirds are upright bars, so the
    // picture's rows 0 and 60 are alike while row 130 (the bottom strip) is not.
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(grabber.Get<ISampleGrabber>()->GetConnectedMediaType(&connected), S_OK);
    ASSERT_EQ(connected.formattype, FORMAT_VideoInfo);
    const LONG height = reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader.biHeight;
    FreeMediaType(connected);
    EXPECT_EQ(std::abs(height), 144);
    std::vector<BYTE> picture(static_cast<std::size_t>(size));
    ASSERT_EQ(grabber.Get<ISampleGrabber>()->GetCurrentBuffer(
                  &size, reinterpret_cast<long*>(picture.data())),
              S_OK);
    auto row = [&](int y) {
        const int stored = height < 0 ? y : 143 - y; // positive: bottom-up rows
        return std::vector<BYTE>(picture.begin() + stored * 176 * 3,
                                 picture.begin() + (stored + 1) * 176 * 3);
    };
    EXPECT_EQ(row(0), row(60));
    EXPECT_NE(row(0), row(130));

    // The sample kind of callback: samples in stream order with their times, which a callback
    // may keep beyond the call (and the graph).
    auto recorder = MakeCom<SampleRecorder>();
    ASSERT_EQ(grabber.Get<ISampleGrabber>()->SetCallback(recorder.Get(), 0), S_OK);
    const int buffersBefore = buffers.load();
    ASSERT_TRUE(WaitFor([&] { return recorder->Count() >= 3; }));
    EXPECT_EQ(buffers.load(), buffersBefore) << "one kind of callback at a time";
    EXPECT_EQ(grabber.Get<ISampleGrabber>()->SetCallback(recorder.Get(), 2), E_INVALIDARG);
    graph.SetActive(false);
    const int seen = recorder->Count();
    ComPtr<IMediaSample> first = recorder->First(), last = recorder->Last();
    EXPECT_EQ(recorder->Count(), seen) << "no sample after the callback was replaced";
    ASSERT_TRUE(first && last);
    EXPECT_EQ(first->GetActualDataLength(), 176 * 144 * 3);
    BYTE* bits = nullptr;
    ASSERT_EQ(first->GetPointer(&bits), S_OK);
    EXPECT_EQ(std::count(bits, bits + 176 * 144 * 3, BYTE(0)) < 176 * 144 * 3, true)
        << "a picture, readable after the graph has gone";
    REFERENCE_TIME s1 = 0, e1 = 0, s2 = 0, e2 = 0;
    ASSERT_TRUE(SUCCEEDED(first->GetTime(&s1, &e1)));
    ASSERT_TRUE(SUCCEEDED(last->GetTime(&s2, &e2)));
    EXPECT_GT(e1, s1);
    EXPECT_GT(s2, s1);
    EXPECT_EQ(first->IsSyncPoint(), S_OK);
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(first->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(type, nullptr);
    EXPECT_EQ(recorder->SampleTimesMatch(), true) << "the callback's time is the sample's start";
}
