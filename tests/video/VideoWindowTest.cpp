// The video window's settings and ranges, and the property-page routine against a fake camera
// (a table of controls behind the controls interface), since CI has no camera.
#include "VideoTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <map>

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
}

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
    graph.SetActive(false);
}
