// The capture graph end to end, as the camera page builds it: list the cameras, keep one in a
// device filter, activate a capture graph, pick the 176-wide format, render the preview, run it
// and see frames; stop, clear and rebuild; unplug the camera while it runs. On the simulated
// cameras and, through a device provider of test cameras, on the real backend's device monitor.
#include "VideoTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

namespace {
std::vector<QString> FilterNames(TFilterGraph& graph) {
    std::vector<QString> names;
    auto fg = graph.Get<IFilterGraph>();
    TFilterList list(fg.Get());
    for (int i = 0; i < list.Count(); ++i) {
        FILTER_INFO info{};
        list.Items(i)->QueryFilterInfo(&info);
        if (info.pGraph) info.pGraph->Release();
        names.push_back(QString::fromUtf16(info.achName));
    }
    return names;
}

// What the camera page does after activation: the first 176-wide format, then the preview.
// Returns the result of RenderStream, or S_FALSE when the camera has no such format.
HRESULT BuildPreview(TFilterGraph& graph, TFilter& source, IBaseFilter* renderer,
                     GUID subtype = GUID_NULL) {
    ComPtr<IBaseFilter> capture = source.Get<IBaseFilter>();
    if (!capture) return E_NOINTERFACE;
    TPinList pins(capture.Get());
    TEnumMediaType types(pins.First().Get());
    int found = -1;
    for (int i = 0; i < types.Count() && found < 0; ++i) {
        const VIDEOINFOHEADER* vih = types.Items(i)->VideoInfo();
        if (vih && vih->bmiHeader.biWidth == 176 &&
            (subtype == GUID_NULL || types.Items(i)->SubType() == subtype))
            found = i;
    }
    if (found < 0) return S_FALSE;
    auto config = pins.First().As<IAMStreamConfig>();
    if (!config) return E_NOINTERFACE;
    CheckDSError(config->SetFormat(types.Items(found)->AMMediaType()));
    auto builder = graph.Get<ICaptureGraphBuilder2>();
    return builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, capture.Get(), nullptr, renderer);
}

class CaptureGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FDumpDir.isValid());
        qputenv("AVSETUP_GRAPH_DIR", FDumpDir.path().toUtf8());
    }
    void TearDown() override { qunsetenv("AVSETUP_GRAPH_DIR"); }

    // Graph, device filter and renderer as the camera page lays them out.
    struct Page {
        TFilterGraph graph{nullptr};
        TFilter source{nullptr};
        TestRenderClient renderer{nullptr};
        Page() {
            graph.SetName(QStringLiteral("FilterGraph"));
            source.SetName(QStringLiteral("VideoSourceFilter"));
            graph.SetMode(gmCapture);
            graph.SetGraphEdit(true);
            source.SetFilterGraph(&graph);
            renderer.SetFilterGraph(&graph);
        }
        ~Page() { graph.SetActive(false); }
    };

    void SelectCamera(Page& page, const QString& name) {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        int index = -1;
        for (int i = 0; i < devices.FilterCount(); ++i)
            if (devices.Filters(i).FriendlyName == name) index = i;
        ASSERT_GE(index, 0) << name.toStdString();
        page.source.BaseFilter()->SetMoniker(devices.GetMoniker(index).Get());
        ASSERT_FALSE(page.source.BaseFilter()->Empty());
    }

    // Runs the preview and checks that moving 176 x 144 frames arrive.
    void RunAndSeeFrames(Page& page) {
        ASSERT_TRUE(page.graph.Play());
        ASSERT_TRUE(WaitFor([&] { return page.renderer.Frames() >= 2; }));
        int w = 0, h = 0;
        std::uint64_t first = 0, later = 0;
        page.renderer.Last(&w, &h, &first);
        EXPECT_EQ(w, 176);
        EXPECT_EQ(h, 144);
        const int seen = page.renderer.Frames();
        ASSERT_TRUE(WaitFor([&] { return page.renderer.Frames() >= seen + 3; }));
        page.renderer.Last(&w, &h, &later);
        EXPECT_NE(first, later) << "the test picture moves";
    }

    QString DumpFile() const {
        const QStringList files = QDir(FDumpDir.path()).entryList({QStringLiteral("*.dot")});
        return files.size() == 1 ? FDumpDir.filePath(files.front()) : QString();
    }

    QTemporaryDir FDumpDir;
};
} // namespace

TEST_F(CaptureGraphTest, SimCameraPreviewRunsStopsClearsAndRebuilds) {
    auto backend = std::make_shared<SimVideoBackend>(DefaultSimCameras());
    ScopedVideoBackend scope(backend);
    QTemporaryDir logDir;

    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.FilterCount(), 2);
    EXPECT_EQ(devices.Filters(0).FriendlyName, QStringLiteral("Virtual Camera"));
    EXPECT_EQ(devices.Filters(1).FriendlyName, QStringLiteral("HD Camera"));
    EXPECT_TRUE(devices.Filters(0).CLSID == CLSID_Proxy);
    EXPECT_FALSE(devices.GetMoniker(2));
    ASSERT_GE(devices.CountCategories(), 1);
    EXPECT_EQ(devices.Categories(0).FriendlyName, QStringLiteral("Video Capture Sources"));

    Page page;
    SelectCamera(page, QStringLiteral("Virtual Camera"));
    page.graph.SetLogFile(logDir.filePath(QStringLiteral("graph.log")));
    page.graph.SetActive(true);
    ASSERT_TRUE(page.source.Get<IBaseFilter>()) << "the device was bound on activation";
    EXPECT_EQ(FilterNames(page.graph), (std::vector<QString>{"VideoSourceFilter", "TestRenderer"}));
    ASSERT_FALSE(DumpFile().isEmpty())
        << "an active graph with GraphEdit is written for inspection";

    // Raw YUY2 needs the colour space converter in front of the renderer.
    EXPECT_EQ(
        BuildPreview(page.graph, page.source, page.renderer.GetFilter().Get(), MEDIASUBTYPE_YUY2),
        VFW_S_NOPREVIEWPIN);
    EXPECT_EQ(FilterNames(page.graph).size(), 3u);
    RunAndSeeFrames(page);
    {
        QFile dump(DumpFile());
        ASSERT_TRUE(dump.open(QIODevice::ReadOnly));
        const QByteArray dot = dump.readAll();
        EXPECT_TRUE(dot.contains("VideoSourceFilter") && dot.contains("Color Space Converter"))
            << dot.left(400).constData();
    }

    // Stop and clear: the converter goes, the clients' own filters stay.
    page.graph.ClearGraph();
    EXPECT_EQ(FilterNames(page.graph), (std::vector<QString>{"VideoSourceFilter", "TestRenderer"}));
    page.graph.SetActive(false);
    EXPECT_FALSE(page.source.Get<IBaseFilter>());
    EXPECT_TRUE(DumpFile().isEmpty()) << "the inspection file goes with the active graph";
    QFile log(logDir.filePath(QStringLiteral("graph.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Color Space Converter"));

    // Rebuild from scratch, this time from the compressed format: a decoder comes in as well.
    const int before = page.renderer.Frames();
    page.graph.SetActive(true);
    EXPECT_EQ(
        BuildPreview(page.graph, page.source, page.renderer.GetFilter().Get(), MEDIASUBTYPE_MJPG),
        VFW_S_NOPREVIEWPIN);
    const auto names = FilterNames(page.graph);
    EXPECT_NE(std::find(names.begin(), names.end(), QStringLiteral("MJPEG Decompressor")),
              names.end());
    EXPECT_EQ(page.renderer.Frames(), 0) << "a new renderer";
    (void)before;
    RunAndSeeFrames(page);
    EXPECT_TRUE(page.graph.Stop());
    page.graph.SetActive(false);
}

TEST_F(CaptureGraphTest, CameraWithoutSmallFormatAndModesAndErrors) {
    auto backend = std::make_shared<SimVideoBackend>(DefaultSimCameras());
    ScopedVideoBackend scope(backend);
    Page page;
    SelectCamera(page, QStringLiteral("HD Camera"));
    page.graph.SetActive(true);
    EXPECT_EQ(BuildPreview(page.graph, page.source, page.renderer.GetFilter().Get()), S_FALSE);

    // A format the camera does not have is refused with the platform's text.
    ComPtr<IBaseFilter> capture = page.source.Get<IBaseFilter>();
    TPinList pins(capture.Get());
    TMediaType wrong(MEDIATYPE_Video);
    wrong.SetSubType(MEDIASUBTYPE_MJPG);
    try {
        CheckDSError(pins.First().As<IAMStreamConfig>()->SetFormat(wrong.AMMediaType()));
        FAIL() << "no MJPG on this camera";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.ErrorCode(), VFW_E_INVALIDMEDIATYPE);
        EXPECT_EQ(e.Message(), QStringLiteral("The specified media type is invalid. ($80040200)."));
    }

    // Changing the mode of an active graph rebuilds it in the new mode, active.
    page.graph.SetMode(gmNormal);
    EXPECT_TRUE(page.graph.Active());
    EXPECT_FALSE(page.graph.Get<ICaptureGraphBuilder2>());
    EXPECT_TRUE(page.graph.Get<IMediaControl>());
    EXPECT_TRUE(page.source.Get<IBaseFilter>());
    // DVD navigation does not exist here: a clear error, and the graph stays inactive.
    EXPECT_THROW(page.graph.SetMode(gmDVD), EDirectShowException);
    EXPECT_FALSE(page.graph.Active());
    page.graph.ClearGraph(); // inactive: nothing
}

TEST_F(CaptureGraphTest, UnpluggingRunningCameraIsReportedOnMainThread) {
    auto backend = std::make_shared<SimVideoBackend>(DefaultSimCameras());
    ScopedVideoBackend scope(backend);
    Page page;
    SelectCamera(page, QStringLiteral("Virtual Camera"));
    std::vector<std::pair<bool, bool>> lost; // (arrived, on the main thread)
    page.graph.OnGraphDeviceLost = [&](TObject*, IUnknown* device, bool arrived) {
        EXPECT_TRUE(SameObject(device, page.source.Get<IBaseFilter>().Get()));
        lost.emplace_back(arrived, QThread::currentThread() == qApp->thread());
    };
    page.graph.SetActive(true);
    ASSERT_EQ(BuildPreview(page.graph, page.source, page.renderer.GetFilter().Get()),
              VFW_S_NOPREVIEWPIN);
    ASSERT_TRUE(page.graph.Play());
    ASSERT_TRUE(WaitFor([&] { return page.renderer.Frames() >= 2; }));

    std::thread unplug([&] { backend->RemoveCamera("Virtual Camera"); });
    unplug.join();
    ASSERT_TRUE(WaitFor([&] { return !lost.empty(); }));
    EXPECT_EQ(lost, (std::vector<std::pair<bool, bool>>{{false, true}}));

    // Stopping and tearing down a graph whose camera has gone neither hangs nor fails.
    page.graph.ClearGraph();
    page.graph.SetActive(false);
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(devices.FilterCount(), 1);
    // The stored identity no longer binds: the graph activates without the device.
    EXPECT_FALSE(page.source.BaseFilter()->CreateFilter());
    page.graph.SetActive(true);
    EXPECT_EQ(FilterNames(page.graph), (std::vector<QString>{"TestRenderer"}));
    page.graph.SetActive(false);

    // Plugged in again, it is listed again.
    SimCameraConfig again = DefaultSimCameras().front();
    backend->AddCamera(again);
    EXPECT_EQ(TSysDevEnum(CLSID_VideoInputDeviceCategory).FilterCount(), 2);
    EXPECT_TRUE(page.source.BaseFilter()->CreateFilter());
}

TEST_F(CaptureGraphTest, RealBackendFindsBuildsAndHotPlugsProviderCameras) {
    RegisterTestCameraProvider();
    AddTestCamera("Test Camera", "test:cam0",
                  "video/x-raw,format=YUY2,width=176,height=144,framerate=30/1; "
                  "video/x-raw,format=YUY2,width=640,height=480,framerate={ 30/1, 15/1 }");
    auto backend = CreateRealVideoBackend();
    ScopedVideoBackend scope(backend);
    auto indexOf = [](const char* name) {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        for (int i = 0; i < devices.FilterCount(); ++i)
            if (devices.Filters(i).FriendlyName == QLatin1String(name)) return i;
        return -1;
    };
    ASSERT_GE(indexOf("Test Camera"), 0);

    Page page;
    SelectCamera(page, QStringLiteral("Test Camera"));
    page.graph.SetActive(true);
    ComPtr<IBaseFilter> capture = page.source.Get<IBaseFilter>();
    ASSERT_TRUE(capture);
    TPinList pins(capture.Get());
    TEnumMediaType types(pins.First().Get());
    ASSERT_EQ(types.Count(), 2);
    const VIDEOINFOHEADER* big = types.Items(1)->VideoInfo();
    ASSERT_TRUE(big);
    EXPECT_EQ(big->bmiHeader.biWidth, 640);
    EXPECT_EQ(big->bmiHeader.biCompression, 0x32595559u); // YUY2
    EXPECT_EQ(big->AvgTimePerFrame, 333333);              // the highest rate offered
    ASSERT_EQ(BuildPreview(page.graph, page.source, page.renderer.GetFilter().Get()),
              VFW_S_NOPREVIEWPIN);
    RunAndSeeFrames(page);
    // A camera not behind V4L2 has no controls of its own: no page, nothing shown.
    EXPECT_EQ(backend->ControlNode("test:cam0"), "");
    EXPECT_EQ(ShowFilterPropertyPage(nullptr, capture.Get()), E_NOINTERFACE);

    // Hot-plug through the monitor: a new camera appears, the running one goes. The new one is
    // a PipeWire camera: its controls are on the V4L2 node PipeWire names (here a node that is no
    // video device, so it offers no page either).
    bool lost = false;
    page.graph.OnGraphDeviceLost = [&](TObject*, IUnknown*, bool arrived) { lost = !arrived; };
    AddTestCamera("Second Camera", "test:cam1",
                  "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1",
                  {{"api.v4l2.path", "/dev/null"}});
    AddTestCamera("Third Camera", "/dev/video-test",
                  "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1",
                  {{"device.api", "v4l2"}});
    ASSERT_TRUE(
        WaitFor([&] { return indexOf("Second Camera") >= 0 && indexOf("Third Camera") >= 0; }));
    EXPECT_EQ(backend->ControlNode("test:cam1"), "/dev/null");
    EXPECT_EQ(backend->ControlNode("/dev/video-test"), "/dev/video-test");
    {
        Page second;
        SelectCamera(second, QStringLiteral("Second Camera"));
        second.graph.SetActive(true);
        ComPtr<IBaseFilter> filter = second.source.Get<IBaseFilter>();
        ASSERT_TRUE(filter);
        EXPECT_EQ(ShowFilterPropertyPage(nullptr, filter.Get()), E_NOINTERFACE);
        second.graph.SetActive(false);
    }
    RemoveTestCamera("Third Camera");
    RemoveTestCamera("Test Camera");
    ASSERT_TRUE(WaitFor([&] { return lost; }));
    EXPECT_LT(indexOf("Test Camera"), 0);
    page.graph.ClearGraph();
    page.graph.SetActive(false);
    RemoveTestCamera("Second Camera");
}
