// Media types and their form storage, stored device identities, device lists, and the graph
// component's settings (volume law, inspection registration, log file).
#include "VideoTestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {
std::unique_ptr<TMediaType> VideoType(int width) {
    AM_MEDIA_TYPE mt;
    MediaTypeFromFormat({MEDIASUBTYPE_YUY2, width, 144, 30, 1}, &mt);
    auto t = std::make_unique<TMediaType>(&mt);
    FreeMediaType(mt);
    return t;
}

std::shared_ptr<SimVideoBackend> Cameras(std::vector<SimCameraConfig> cams) {
    return std::make_shared<SimVideoBackend>(std::move(cams));
}
} // namespace

TEST(MediaTypeTest, EqualityCopyAndFormStorage) {
    TMediaType fresh;
    EXPECT_EQ(fresh.AMMediaType()->bFixedSizeSamples, -1);
    EXPECT_EQ(fresh.AMMediaType()->lSampleSize, 1u);
    EXPECT_EQ(fresh.FormatLength(), 0u);

    // Equal GUIDs and no format block: equal. One byte of the format block apart: not equal.
    TMediaType a(MEDIATYPE_Video), b(MEDIATYPE_Video);
    EXPECT_TRUE(a.Equal(b));
    auto pc = VideoType(176), pd = VideoType(176);
    TMediaType& c = *pc;
    TMediaType& d = *pd;
    ASSERT_EQ(c.FormatLength(), sizeof(VIDEOINFOHEADER));
    EXPECT_TRUE(c.Equal(d));
    d.AMMediaType()->pbFormat[60] ^= 1;
    EXPECT_FALSE(c.Equal(d));

    // Deep copy; assigning to itself changes nothing.
    d.Assign(&c);
    EXPECT_TRUE(c.Equal(d));
    EXPECT_NE(c.AMMediaType()->pbFormat, d.AMMediaType()->pbFormat);
    c.Assign(&c);
    EXPECT_TRUE(c.Equal(d));
    ASSERT_TRUE(c.VideoInfo());
    EXPECT_EQ(c.VideoInfo()->bmiHeader.biWidth, 176);

    // The camera page's stored sample grabber type: 72 bytes, no format block.
    TMediaType grabber(MEDIATYPE_Video);
    grabber.SetSubType(MEDIASUBTYPE_RGB24);
    grabber.SetFormatType(FORMAT_VideoInfo);
    const QByteArray data = grabber.WriteData();
    ASSERT_EQ(data.size(), 72);
    EXPECT_EQ(data.left(4), QByteArray("vids"));
    EXPECT_EQ(data.mid(32, 4), QByteArray("\xFF\xFF\xFF\xFF", 4));
    EXPECT_EQ(data.mid(40, 4), QByteArray("\x01\x00\x00\x00", 4));
    TMediaType back;
    back.ReadData(data);
    EXPECT_TRUE(back.Equal(grabber));
    EXPECT_EQ(back.AMMediaType()->pbFormat, nullptr);
    EXPECT_FALSE(grabber.ShouldWriteData(&back));
    EXPECT_TRUE(grabber.ShouldWriteData(&c));

    // With a format block; and damaged data leaves the type as it was.
    back.ReadData(c.WriteData());
    EXPECT_TRUE(back.Equal(c));
    EXPECT_THROW(back.ReadData(c.WriteData().left(100)), EComponentError);
    EXPECT_THROW(back.ReadData(QByteArray(10, '\0')), EComponentError);
    EXPECT_TRUE(back.Equal(c));
}

TEST(MediaTypeTest, ListsOfTypesPinsAndFiltersFromAGraph) {
    ScopedVideoBackend scope(Cameras(DefaultSimCameras()));
    EXPECT_THROW(TEnumMediaType(static_cast<IPin*>(nullptr)), EAssertionFailed);
    EXPECT_THROW(TEnumMediaType(static_cast<IEnumMediaTypes*>(nullptr)), EAssertionFailed);

    ComPtr<IFilterGraph2> graph;
    ASSERT_EQ(
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(graph)),
        S_OK);
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ComPtr<IBaseFilter> cam;
    ASSERT_EQ(devices.GetMoniker(0)->BindToObject(nullptr, nullptr, IID_PPV_ARGS(cam)), S_OK);
    ComPtr<IBaseFilter> sink;
    ASSERT_EQ(
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(sink)),
        S_OK);
    EXPECT_EQ(graph->AddFilter(cam.Get(), u"Camera"), S_OK);
    EXPECT_EQ(graph->AddFilter(sink.Get(), u"Camera"), VFW_S_DUPLICATE_NAME);

    TPinList camPins(cam.Get());
    ASSERT_EQ(camPins.Count(), 1);
    TEnumMediaType types(camPins.First().Get());
    EXPECT_EQ(types.Count(), 6); // three sizes, YUY2 and MJPG each
    TPinList sinkPins(sink.Get());
    // A null renderer takes anything: no fixed type to offer.
    EXPECT_EQ(TEnumMediaType(sinkPins.First().Get()).Count(), 0);
    EXPECT_EQ(graph->ConnectDirect(camPins.First().Get(), sinkPins.First().Get(), nullptr), S_OK);
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(sinkPins.First()->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_YUY2);
    FreeMediaType(mt);
    EXPECT_EQ(graph->ConnectDirect(camPins.First().Get(), sinkPins.First().Get(), nullptr),
              VFW_E_ALREADY_CONNECTED);

    TFilterList filters(graph.Get());
    ASSERT_EQ(filters.Count(), 2);
    EXPECT_EQ(filters.Remove(sink.Get()), 1);
    EXPECT_EQ(filters.Remove(sink.Get()), -1);
    EXPECT_TRUE(SameObject(filters.Items(0).Get(), cam.Get()));
    EXPECT_THROW(TPinList(cam.Get()).Items(3), EComponentError);
    TPinList mixed(cam.Get());
    mixed.Add(graph.Get()); // not a pin
    EXPECT_THROW(mixed.Items(1), EDirectShowException);
}

TEST(DeviceIdentityTest, StoredMonikersAndDeviceLists) {
    SimCameraConfig odd;
    odd.name = std::string(300, 'x');
    odd.clsid = false;
    odd.formats = {{MEDIASUBTYPE_YUY2, 176, 144, 30, 1}};
    ScopedVideoBackend scope(Cameras({DefaultSimCameras().front(), odd}));

    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.FilterCount(), 2);
    EXPECT_EQ(devices.Filters(1).FriendlyName.size(), 255);
    EXPECT_TRUE(devices.Filters(1).CLSID == GUID_NULL);
    EXPECT_FALSE(devices.GetMoniker(-1));

    // Empty: four zero bytes, no moniker, no filter; two empty blocks are not "equal".
    TBaseFilter stored;
    EXPECT_EQ(stored.WriteData(), QByteArray(4, '\0'));
    EXPECT_FALSE(stored.Moniker());
    EXPECT_FALSE(stored.CreateFilter());
    TBaseFilter other;
    EXPECT_TRUE(stored.ShouldWriteData(&other));

    // A device's identity survives storage in a form and binds to the same camera.
    stored.SetMoniker(devices.GetMoniker(0).Get());
    TBaseFilter loaded;
    loaded.ReadData(stored.WriteData());
    EXPECT_FALSE(stored.ShouldWriteData(&loaded));
    ComPtr<IBaseFilter> f = loaded.CreateFilter();
    ASSERT_TRUE(f);
    CLSID clsid;
    f->GetClassID(&clsid);
    EXPECT_TRUE(clsid == CLSID_Proxy);
    EXPECT_THROW(loaded.ReadData(QByteArray("\x09\0\0\0abc", 7)), EComponentError);
    // Bytes that are no saved moniker give none, not a crash.
    loaded.SetData(QByteArray("garbage that is not a moniker"));
    EXPECT_FALSE(loaded.Moniker());
    stored.SetMoniker(nullptr);
    EXPECT_TRUE(stored.Empty());

    ScopedVideoBackend none(Cameras({}));
    TSysDevEnum empty(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(empty.FilterCount(), 0);
    EXPECT_FALSE(empty.GetMoniker(0));

    // A damaged description of the simulated cameras is refused with its reason.
    QString error;
    EXPECT_FALSE(ParseSimCameras(
        R"({"cameras":[{"name":"A","formats":[{"width":1,"height":1,"subtypes":["H264"]}]}]})",
        &error));
    EXPECT_TRUE(error.contains("H264"));
    EXPECT_EQ(ParseSimCameras("{}", &error)->size(), 2u);
}

TEST(FilterGraphTest, VolumeLawRegistrationAndLogFile) {
    ScopedVideoBackend scope(Cameras(DefaultSimCameras()));
    QTemporaryDir dumps;
    qputenv("AVSETUP_GRAPH_DIR", dumps.path().toUtf8());
    TFilterGraph graph(nullptr);
    TFilter filter(nullptr);
    filter.SetFilterGraph(&graph);
    EXPECT_FALSE(filter.Get<IBaseFilter>()) << "an inactive graph holds no filter";
    EXPECT_FALSE(graph.Get<IMediaControl>());
    graph.ClearGraph(); // inactive: nothing

    graph.SetGraphEdit(true);
    EXPECT_TRUE(QDir(dumps.path()).entryList({"*.dot"}).isEmpty())
        << "nothing registered while inactive";
    graph.SetActive(true);
    EXPECT_EQ(QDir(dumps.path()).entryList({"*.dot"}).size(), 1);
    graph.SetGraphEdit(false);
    EXPECT_TRUE(QDir(dumps.path()).entryList({"*.dot"}).isEmpty());

    auto audio = graph.Get<IBasicAudio>();
    ASSERT_TRUE(audio);
    long v = 1;
    graph.SetVolume(0);
    audio->get_Volume(&v);
    EXPECT_EQ(v, -10000);
    graph.SetVolume(20000);
    EXPECT_EQ(graph.Volume(), 10000);
    audio->get_Volume(&v);
    EXPECT_EQ(v, 0);
    graph.SetLinearVolume(false);
    graph.SetVolume(2500);
    audio->get_Volume(&v);
    EXPECT_EQ(v, -7500);
    graph.SetLinearVolume(true);
    graph.SetBalance(10000);
    audio->get_Balance(&v);
    EXPECT_EQ(v, 10000) << "right stays right";

    QTemporaryDir logs;
    graph.SetLogFile(logs.filePath("a.log"));
    EXPECT_EQ(graph.LogFile(), logs.filePath("a.log"));
    graph.SetLogFile(logs.filePath("missing/dir/b.log"));
    EXPECT_EQ(graph.LogFile(), logs.filePath("a.log")) << "a file that cannot be made is not taken";
    graph.SetActive(false);
    qunsetenv("AVSETUP_GRAPH_DIR");
}

// The graph's event codes reach the events they name, with their parameters decoded; an
// unknown code or an out-of-range pick reaches none of them (only OnDSEvent sees every code).
TEST(FilterGraphTest, EventCodesReachTheirEventsWithParametersDecoded) {
    TFilterGraph graph(nullptr);
    std::vector<QString> seen;
    auto note = [&](const char* what) { return [&seen, what](TObject*) { seen.push_back(what); }; };
    long raw = 0;
    graph.OnDSEvent = [&](TObject*, long code, LONG_PTR, LONG_PTR) { raw = code; };
    graph.OnGraphUserAbort = note("abort");
    graph.OnGraphClockUnset = note("unset");
    graph.OnDVDDomainStop = note("domain 5");
    graph.OnDVDErrorIncompatibleDiscAndDecoderRegions = note("error 8");
    graph.OnDVDDiscInserted = note("inserted");
    graph.OnGraphComplete = [&](TObject* s, HRESULT hr, IBaseFilter*) {
        EXPECT_EQ(s, &graph);
        seen.push_back(QStringLiteral("complete %1").arg(hr));
    };
    graph.OnGraphVideoSizeChanged = [&](TObject*, int w, int h) {
        seen.push_back(QStringLiteral("size %1x%2").arg(w).arg(h));
    };
    graph.OnGraphDeviceLost = [&](TObject*, IUnknown*, bool back) {
        seen.push_back(back ? "device back" : "device gone");
    };
    graph.OnDVDWarningSeek = [&](TObject*, int v) {
        seen.push_back(QStringLiteral("seek %1").arg(v));
    };
    graph.OnDVDStillOn = [&](TObject*, bool button, int s) {
        seen.push_back(QStringLiteral("still %1 %2").arg(int(button)).arg(s));
    };
    graph.OnDVDCurrentTime = [&](TObject*, int h, int m, int s, int f) {
        seen.push_back(QStringLiteral("bcd %1:%2:%3.%4").arg(h).arg(m).arg(s).arg(f));
    };
    graph.OnDVDCurrentHMSFTime = [&](TObject*, int h, int m, int s, int f) {
        seen.push_back(QStringLiteral("hmsf %1:%2:%3.%4").arg(h).arg(m).arg(s).arg(f));
    };
    graph.OnDVDPlaybackRateChange = [&](TObject*, float r) {
        seen.push_back(QStringLiteral("rate %1").arg(r));
    };
    graph.OnDVDKaraokeMode = [&](TObject*, bool on) {
        seen.push_back(on ? "karaoke" : "no karaoke");
    };

    graph.DoEvent(EC_COMPLETE, LONG_PTR(E_FAIL), 0);
    graph.DoEvent(EC_USERABORT, 0, 0);
    graph.DoEvent(EC_VIDEO_SIZE_CHANGED, (480 << 16) | 640, 0);
    graph.DoEvent(EC_DEVICE_LOST, 0, 1);
    graph.DoEvent(EC_DEVICE_LOST, 0, 0);
    graph.DoEvent(EC_CLOCK_UNSET, 0, 0);
    graph.DoEvent(EC_DVD_DOMAIN_CHANGE, 5, 0);
    graph.DoEvent(EC_DVD_DOMAIN_CHANGE, 6, 0); // no such domain
    graph.DoEvent(EC_DVD_STILL_ON, 1, 3);
    graph.DoEvent(EC_DVD_CURRENT_TIME, 0x01234507, 0);
    graph.DoEvent(EC_DVD_ERROR, 8, 0);
    graph.DoEvent(EC_DVD_ERROR, 0, 0); // no such error
    graph.DoEvent(EC_DVD_WARNING, 5, 42);
    graph.DoEvent(EC_DVD_PLAYBACK_RATE_CHANGE, 15000, 0);
    graph.DoEvent(EC_DVD_DISC_INSERTED, 0, 0);
    graph.DoEvent(EC_DVD_CURRENT_HMSF_TIME, 0x07050302, 0);
    graph.DoEvent(EC_DVD_KARAOKE_MODE, 1, 0);
    graph.DoEvent(0x7777, 1, 1);
    EXPECT_EQ(raw, 0x7777) << "every code reaches OnDSEvent";
    const std::vector<QString> expected = {QStringLiteral("complete %1").arg(E_FAIL),
                                           "abort",
                                           "size 640x480",
                                           "device back",
                                           "device gone",
                                           "unset",
                                           "domain 5",
                                           "still 1 3",
                                           "bcd 1:23:45.7",
                                           "error 8",
                                           "seek 42",
                                           "rate 1.5",
                                           "inserted",
                                           "hmsf 2:3:5.7",
                                           "karaoke"};
    EXPECT_EQ(seen, expected);
}
