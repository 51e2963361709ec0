// The filters at the end of a preview: the video renderer (frames to the owner's callback).
#include "platform/dshow/Filters.h"

#include <gst/app/gstappsink.h>

namespace {
class VideoRenderer final : public AvFilter, public IAvVideoFrameSink {
public:
    explicit VideoRenderer(GstElement* sink) : AvFilter(CLSID_VideoRenderer, sink) {
        GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
        g_object_set(sink, "caps", caps, "sync", TRUE, "max-buffers", 1, "drop", TRUE,
                     "enable-last-sample", FALSE, nullptr);
        gst_caps_unref(caps);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &VideoRenderer::OnSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        AddPin(gst_element_get_static_pad(sink, "sink"), PINDIR_INPUT, u"Input");
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

protected:
    HRESULT QueryExtra(REFIID riid, void** ppv) override {
        if (!(riid == IID_IAvVideoFrameSink)) return E_NOINTERFACE;
        *ppv = static_cast<IAvVideoFrameSink*>(this);
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
                AvVideoFrame frame{map.data, w, h, stride,
                                   GST_BUFFER_PTS_IS_VALID(buffer)
                                       ? REFERENCE_TIME(GST_BUFFER_PTS(buffer) / 100)
                                       : 0};
                ++self->FFrames;
                std::lock_guard g(self->FLock);
                if (self->FCallback) self->FCallback(self->FContext, frame);
            }
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    std::mutex FLock;
    Callback FCallback = nullptr;
    void* FContext = nullptr;
    std::atomic<ULONGLONG> FFrames{0};
};
} // namespace

ComPtr<IUnknown> AvCreateVideoRenderer() {
    EnsureGStreamer();
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!sink) return nullptr;
    return ComPtr<IUnknown>(static_cast<IBaseFilter*>(new VideoRenderer(sink)));
}

ComPtr<IUnknown> AvCreateSampleGrabber() {
    return nullptr;
}
