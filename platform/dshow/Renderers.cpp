// The filters at the end of a preview: the video renderer (frames to the owner's callback, or
// drawn by a GStreamer sink into the owner's native window).
#include "platform/dshow/Filters.h"
#include "platform/dshow/VideoOverlay.h"

#include <gst/app/gstappsink.h>
#include <gst/video/videooverlay.h>

#include <algorithm>
#include <cstring>

namespace {
class VideoRenderer final : public AvFilter,
                            public IAvVideoFrameSink,
                            public IAvColorControl,
                            public IAvVideoOverlay {
public:
    explicit VideoRenderer(GstElement* bin) : AvFilter(CLSID_VideoRenderer, bin) {
        FBalance = gst_bin_get_by_name(GST_BIN(bin), "balance");
        FSize = gst_bin_get_by_name(GST_BIN(bin), "size");
        FSourcePad = gst_element_get_static_pad(FBalance, "sink");
        FOutPad = gst_element_get_static_pad(FSize, "src");
        FAppSink = gst_bin_get_by_name(GST_BIN(bin), "sink");
        GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
        g_object_set(FAppSink, "caps", caps, "sync", TRUE, "max-buffers", 1, "drop", TRUE,
                     "enable-last-sample", FALSE, nullptr);
        gst_caps_unref(caps);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &VideoRenderer::OnSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(FAppSink), &callbacks, this, nullptr);
        // While a window sink draws, frames are only counted, and new sizes told.
        gst_pad_add_probe(FOutPad, GST_PAD_PROBE_TYPE_BUFFER, &VideoRenderer::OnWindowFrame, this,
                          nullptr);
        AddPin(gst_element_get_static_pad(bin, "sink"), PINDIR_INPUT, u"Input");
    }
    ~VideoRenderer() override {
        if (FWindowSink) gst_object_unref(FWindowSink);
        gst_object_unref(FAppSink);
        gst_object_unref(FOutPad);
        gst_object_unref(FSourcePad);
        gst_object_unref(FSize);
        gst_object_unref(FBalance);
    }

    // IAvVideoOverlay: the window sink takes the appsink's place in the bin (and gives it back).
    HRESULT SetWindowHandle(std::uintptr_t handle) override {
        FILTER_STATE state = State_Stopped;
        GetState(0, &state);
        if (state != State_Stopped) return VFW_E_NOT_STOPPED;
        if (handle == FHandle.load()) return S_OK;
        if (handle && !FWindowSink) {
            GstElement* sink = gst_element_factory_make("ximagesink", nullptr);
            if (!sink) return E_NOTIMPL;
            // The program has the window's input and exposures; the sink only draws.
            g_object_set(sink, "sync", TRUE, "handle-events", FALSE, "qos", TRUE, nullptr);
            FWindowSink = GST_ELEMENT(gst_object_ref_sink(sink));
        }
        GstElement* from = FHandle.load() ? FWindowSink : FAppSink;
        GstElement* to = handle ? FWindowSink : FAppSink;
        if (from != to) {
            gst_element_set_state(from, GST_STATE_NULL);
            gst_element_unlink(FSize, from);
            gst_bin_remove(GST_BIN(Element()), from); // the filter keeps its own reference
            gst_bin_add(GST_BIN(Element()), to);
            if (!gst_element_link(FSize, to)) return E_FAIL;
        }
        if (handle) gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(FWindowSink), handle);
        FNotifiedSource = FNotifiedOut = {0, 0};
        FHandle = handle;
        return S_OK;
    }
    HRESULT Expose() override {
        if (!FHandle.load() || !FWindowSink) return S_FALSE;
        gst_video_overlay_expose(GST_VIDEO_OVERLAY(FWindowSink));
        return S_OK;
    }

    ULONG AddRef() override { return AvFilter::AddRef(); }
    ULONG Release() override { return AvFilter::Release(); }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return AvFilter::QueryInterface(riid, ppv);
    }

    HRESULT SetFrameCallback(Callback callback, void* context) override {
        std::lock_guard g(FLock);
        FCallback = callback;
        FContext = context;
        return S_OK;
    }
    ULONGLONG FrameCount() override { return FFrames.load(); }

    HRESULT SetFrameSize(int width, int height) override {
        if (width < 0 || height < 0 || width > 16384 || height > 16384) return E_INVALIDARG;
        if (width == 0 || height == 0) width = height = 0;
        if (width == FWidth && height == FHeight) return S_OK;
        FWidth = width;
        FHeight = height;
        // The caps filter asks upstream to renegotiate; the scaler then delivers the new size.
        GstCaps* caps = width ? gst_caps_new_simple(
                                    "video/x-raw", "width", G_TYPE_INT, width, "height", G_TYPE_INT,
                                    height, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr)
                              : gst_caps_new_empty_simple("video/x-raw");
        g_object_set(FSize, "caps", caps, nullptr);
        gst_caps_unref(caps);
        return S_OK;
    }

    HRESULT GetColorControls(DDCOLORCONTROL* cc) override {
        if (!cc) return E_POINTER;
        *cc = FColors;
        return S_OK;
    }
    HRESULT SetColorControls(const DDCOLORCONTROL* cc) override {
        if (!cc) return E_POINTER;
        const DWORD f = cc->dwFlags;
        if (f & DDCOLOR_BRIGHTNESS)
            FColors.lBrightness = std::clamp<LONG>(cc->lBrightness, 0, 10000);
        if (f & DDCOLOR_CONTRAST) FColors.lContrast = std::clamp<LONG>(cc->lContrast, 0, 20000);
        if (f & DDCOLOR_HUE) FColors.lHue = std::clamp<LONG>(cc->lHue, -180, 180);
        if (f & DDCOLOR_SATURATION)
            FColors.lSaturation = std::clamp<LONG>(cc->lSaturation, 0, 20000);
        if (f & DDCOLOR_COLORENABLE) FColors.lColorEnable = cc->lColorEnable ? 1 : 0;
        // 750 is the platform's normal black level (7.5 IRE): it maps to the picture unchanged.
        g_object_set(FBalance, "brightness",
                     std::clamp((FColors.lBrightness - 750) / 10000.0, -1.0, 1.0), "contrast",
                     FColors.lContrast / 10000.0, "hue", FColors.lHue / 180.0, "saturation",
                     FColors.lColorEnable ? FColors.lSaturation / 10000.0 : 0.0, nullptr);
        return S_OK;
    }

protected:
    HRESULT QueryExtra(REFIID riid, void** ppv) override {
        if (riid == IID_IAvVideoFrameSink)
            *ppv = static_cast<IAvVideoFrameSink*>(this);
        else if (riid == IID_IAvColorControl)
            *ppv = static_cast<IAvColorControl*>(this);
        else if (riid == IID_IAvVideoOverlay)
            *ppv = static_cast<IAvVideoOverlay*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

private:
    static GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<VideoRenderer*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_OK;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        int w = 0, h = 0;
        gst_structure_get_int(s, "width", &w);
        gst_structure_get_int(s, "height", &h);
        GstMapInfo map;
        if (buffer && w > 0 && h > 0 && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            const int stride = ((w * 4) + 3) & ~3;
            if (map.size >= std::size_t(stride) * std::size_t(h)) {
                int sw = w, sh = h;
                if (GstCaps* in = gst_pad_get_current_caps(self->FSourcePad)) {
                    const GstStructure* si = gst_caps_get_structure(in, 0);
                    gst_structure_get_int(si, "width", &sw);
                    gst_structure_get_int(si, "height", &sh);
                    gst_caps_unref(in);
                }
                AvVideoFrame frame{map.data,
                                   w,
                                   h,
                                   stride,
                                   GST_BUFFER_PTS_IS_VALID(buffer)
                                       ? REFERENCE_TIME(GST_BUFFER_PTS(buffer) / 100)
                                       : 0,
                                   sw,
                                   sh};
                ++self->FFrames;
                std::lock_guard g(self->FLock);
                if (self->FCallback) self->FCallback(self->FContext, frame);
            }
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    // Streaming thread, window sink drawing: the frame is counted; the owner hears of a new
    // picture or window size (once per change).
    static GstPadProbeReturn OnWindowFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<VideoRenderer*>(data);
        if (!self->FHandle.load()) return GST_PAD_PROBE_OK;
        ++self->FFrames;
        std::pair<int, int> source = SizeOf(self->FSourcePad), out = SizeOf(self->FOutPad);
        if (source == self->FNotifiedSource && out == self->FNotifiedOut) return GST_PAD_PROBE_OK;
        self->FNotifiedSource = source;
        self->FNotifiedOut = out;
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        AvVideoFrame frame{nullptr,
                           out.first,
                           out.second,
                           0,
                           buffer && GST_BUFFER_PTS_IS_VALID(buffer)
                               ? REFERENCE_TIME(GST_BUFFER_PTS(buffer) / 100)
                               : 0,
                           source.first,
                           source.second};
        std::lock_guard g(self->FLock);
        if (self->FCallback) self->FCallback(self->FContext, frame);
        return GST_PAD_PROBE_OK;
    }
    static std::pair<int, int> SizeOf(GstPad* pad) {
        std::pair<int, int> size{0, 0};
        if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
            const GstStructure* s = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(s, "width", &size.first);
            gst_structure_get_int(s, "height", &size.second);
            gst_caps_unref(caps);
        }
        return size;
    }

    GstElement* FBalance = nullptr;
    GstElement* FSize = nullptr;
    GstPad* FSourcePad = nullptr;
    GstPad* FOutPad = nullptr;
    GstElement* FAppSink = nullptr;
    GstElement* FWindowSink = nullptr;
    std::atomic<std::uintptr_t> FHandle{0};
    std::pair<int, int> FNotifiedSource{0, 0}, FNotifiedOut{0, 0}; // streaming thread
    int FWidth = 0, FHeight = 0; // the size asked for (main thread)
    DDCOLORCONTROL FColors{sizeof(DDCOLORCONTROL),
                           DDCOLOR_BRIGHTNESS | DDCOLOR_CONTRAST | DDCOLOR_HUE |
                               DDCOLOR_SATURATION | DDCOLOR_COLORENABLE,
                           750,
                           10000,
                           0,
                           10000,
                           5,
                           1,
                           1,
                           0};
    std::mutex FLock;
    Callback FCallback = nullptr;
    void* FContext = nullptr;
    std::atomic<ULONGLONG> FFrames{0};
};
} // namespace

ComPtr<IUnknown> AvCreateVideoRenderer() {
    EnsureGStreamer();
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(
        "videobalance name=balance ! videoscale add-borders=false ! capsfilter name=size ! "
        "appsink name=sink",
        TRUE, &error);
    if (!bin) {
        g_clear_error(&error);
        return nullptr;
    }
    return ComPtr<IUnknown>(static_cast<IBaseFilter*>(new VideoRenderer(bin)));
}

namespace {
// A buffer of the stream as a sample: holds the buffer (mapped for reading) while referenced.
class BufferSample final : public IMediaSample {
    AV_UNKNOWN_IMPL(IMediaSample)
public:
    explicit BufferSample(GstBuffer* buffer) : FBuffer(gst_buffer_ref(buffer)) {
        FMapped = gst_buffer_map(FBuffer, &FMap, GST_MAP_READ);
    }
    ~BufferSample() {
        if (FMapped) gst_buffer_unmap(FBuffer, &FMap);
        gst_buffer_unref(FBuffer);
    }
    bool Mapped() const { return FMapped; }

    HRESULT GetPointer(BYTE** buffer) override {
        if (!buffer) return E_POINTER;
        *buffer = FMap.data;
        return S_OK;
    }
    long GetSize() override { return long(FMap.size); }
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
        if (!start || !end) return E_POINTER;
        if (!GST_BUFFER_PTS_IS_VALID(FBuffer)) return VFW_E_SAMPLE_TIME_NOT_SET;
        *start = REFERENCE_TIME(GST_BUFFER_PTS(FBuffer) / 100);
        if (!GST_BUFFER_DURATION_IS_VALID(FBuffer)) {
            *end = *start + 1; // as the platform reports a sample without a stop time
            return VFW_S_NO_STOP_TIME;
        }
        *end = *start + REFERENCE_TIME(GST_BUFFER_DURATION(FBuffer) / 100);
        return S_OK;
    }
    HRESULT SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT IsSyncPoint() override {
        return GST_BUFFER_FLAG_IS_SET(FBuffer, GST_BUFFER_FLAG_DELTA_UNIT) ? S_FALSE : S_OK;
    }
    HRESULT SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override { return E_NOTIMPL; }
    long GetActualDataLength() override { return long(FMap.size); }
    HRESULT SetActualDataLength(long) override { return E_NOTIMPL; }
    HRESULT GetMediaType(AM_MEDIA_TYPE** type) override {
        if (!type) return E_POINTER;
        *type = nullptr;
        return S_FALSE;
    }
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT IsDiscontinuity() override {
        return GST_BUFFER_FLAG_IS_SET(FBuffer, GST_BUFFER_FLAG_DISCONT) ? S_OK : S_FALSE;
    }
    HRESULT SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override {
        if (!start || !end) return E_POINTER;
        if (!GST_BUFFER_OFFSET_IS_VALID(FBuffer)) return VFW_E_MEDIA_TIME_NOT_SET;
        *start = LONGLONG(GST_BUFFER_OFFSET(FBuffer));
        *end = GST_BUFFER_OFFSET_END_IS_VALID(FBuffer) ? LONGLONG(GST_BUFFER_OFFSET_END(FBuffer))
                                                       : *start + 1;
        return S_OK;
    }
    HRESULT SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

private:
    GstBuffer* FBuffer;
    GstMapInfo FMap{};
    bool FMapped = false;
};

// The sample grabber: a caps filter (the accepted type) and an identity whose hand-offs reach
// the callback on the streaming thread.
class SampleGrabber final : public AvFilter, public ISampleGrabber {
public:
    explicit SampleGrabber(GstElement* bin) : AvFilter(CLSID_SampleGrabber, bin) {
        FCaps = gst_bin_get_by_name(GST_BIN(bin), "accept");
        GstElement* tap = gst_bin_get_by_name(GST_BIN(bin), "tap");
        g_signal_connect(tap, "handoff", G_CALLBACK(&SampleGrabber::OnHandoff), this);
        gst_object_unref(tap);
        AddPin(gst_element_get_static_pad(bin, "sink"), PINDIR_INPUT, u"Input");
        AddPin(gst_element_get_static_pad(bin, "src"), PINDIR_OUTPUT, u"Output");
    }
    ~SampleGrabber() override {
        {
            std::lock_guard g(FLock);
            if (FCallback) FCallback->Release();
            FCallback = nullptr;
        }
        gst_object_unref(FCaps);
    }

    ULONG AddRef() override { return AvFilter::AddRef(); }
    ULONG Release() override { return AvFilter::Release(); }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return AvFilter::QueryInterface(riid, ppv);
    }

    HRESULT SetOneShot(BOOL oneShot) override {
        FOneShot = oneShot != FALSE;
        return S_OK;
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        GstCaps* caps = CapsFromMediaType(type);
        if (!caps) caps = gst_caps_new_any();
        g_object_set(FCaps, "caps", caps, nullptr);
        gst_caps_unref(caps);
        return S_OK;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        return Pins().front()->ConnectionMediaType(type);
    }
    HRESULT SetBufferSamples(BOOL bufferThem) override {
        std::lock_guard g(FLock);
        FBufferSamples = bufferThem != FALSE;
        if (!FBufferSamples) FLast.clear();
        return S_OK;
    }
    HRESULT GetCurrentBuffer(long* bufferSize, long* buffer) override {
        if (!bufferSize) return E_POINTER;
        std::lock_guard g(FLock);
        if (!FBufferSamples || FLast.empty()) return VFW_E_WRONG_STATE;
        if (!buffer) {
            *bufferSize = long(FLast.size());
            return S_OK;
        }
        if (*bufferSize < long(FLast.size())) return E_OUTOFMEMORY;
        std::memcpy(buffer, FLast.data(), FLast.size());
        *bufferSize = long(FLast.size());
        return S_OK;
    }
    HRESULT GetCurrentSample(IMediaSample** sample) override {
        if (sample) *sample = nullptr;
        return E_NOTIMPL;
    }
    HRESULT SetCallback(ISampleGrabberCB* callback, long whichMethod) override {
        if (whichMethod != 0 && whichMethod != 1) return E_INVALIDARG;
        if (callback) callback->AddRef();
        ISampleGrabberCB* old;
        {
            // The streaming thread holds the lock around each call: the old callback is not
            // called after this returns.
            std::lock_guard g(FLock);
            old = FCallback;
            FCallback = callback;
            FWhichMethod = whichMethod;
        }
        if (old) old->Release();
        return S_OK;
    }

protected:
    HRESULT QueryExtra(REFIID riid, void** ppv) override {
        if (!(riid == IID_ISampleGrabber)) return E_NOINTERFACE;
        *ppv = static_cast<ISampleGrabber*>(this);
        AddRef();
        return S_OK;
    }

private:
    static void OnHandoff(GstElement*, GstBuffer* buffer, gpointer data) {
        auto* self = static_cast<SampleGrabber*>(data);
        if (self->FOneShot && self->FShotTaken) return;
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
        const double time =
            GST_BUFFER_PTS_IS_VALID(buffer) ? double(GST_BUFFER_PTS(buffer)) / GST_SECOND : 0.0;
        {
            std::lock_guard g(self->FLock);
            if (self->FBufferSamples) self->FLast.assign(map.data, map.data + map.size);
            if (self->FCallback && self->FWhichMethod == 1) {
                self->FCallback->BufferCB(time, map.data, long(map.size));
            } else if (self->FCallback) {
                auto sample = MakeCom<BufferSample>(buffer);
                if (sample->Mapped()) self->FCallback->SampleCB(time, sample.Get());
            }
        }
        gst_buffer_unmap(buffer, &map);
        self->FShotTaken = true;
    }

    GstElement* FCaps = nullptr;
    std::mutex FLock;
    ISampleGrabberCB* FCallback = nullptr;
    long FWhichMethod = 1;
    bool FBufferSamples = false;
    std::vector<BYTE> FLast;
    std::atomic<bool> FOneShot{false}, FShotTaken{false};
};
} // namespace

ComPtr<IUnknown> AvCreateSampleGrabber() {
    EnsureGStreamer();
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(
        "capsfilter name=accept ! identity name=tap signal-handoffs=true", TRUE, &error);
    if (!bin) {
        g_clear_error(&error);
        return nullptr;
    }
    return ComPtr<IUnknown>(static_cast<IBaseFilter*>(new SampleGrabber(bin)));
}
