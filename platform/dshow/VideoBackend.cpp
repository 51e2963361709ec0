#include "platform/dshow/VideoBackend.h"
#include "platform/api/mmsystem.h"

#include <gst/gst.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>

// ---- GStreamer ----------------------------------------------------------------------------------

void EnsureGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

// ---- Formats ------------------------------------------------------------------------------------
namespace {
struct SubtypeInfo {
    const GUID* subtype;
    const char* media;  // caps name
    const char* format; // video/x-raw format, or nullptr
    WORD bitCount;
    DWORD compression;
    const char* name; // as the configuration spells it
};

constexpr DWORD FourCC(char a, char b, char c, char d) {
    return DWORD(BYTE(a)) | DWORD(BYTE(b)) << 8 | DWORD(BYTE(c)) << 16 | DWORD(BYTE(d)) << 24;
}

const SubtypeInfo kSubtypes[] = {
    {&MEDIASUBTYPE_YUY2, "video/x-raw", "YUY2", 16, FourCC('Y', 'U', 'Y', '2'), "YUY2"},
    {&MEDIASUBTYPE_MJPG, "image/jpeg", nullptr, 24, FourCC('M', 'J', 'P', 'G'), "MJPG"},
    {&MEDIASUBTYPE_UYVY, "video/x-raw", "UYVY", 16, FourCC('U', 'Y', 'V', 'Y'), "UYVY"},
    {&MEDIASUBTYPE_I420, "video/x-raw", "I420", 12, FourCC('I', '4', '2', '0'), "I420"},
    {&MEDIASUBTYPE_IYUV, "video/x-raw", "I420", 12, FourCC('I', 'Y', 'U', 'V'), "IYUV"},
    {&MEDIASUBTYPE_YV12, "video/x-raw", "YV12", 12, FourCC('Y', 'V', '1', '2'), "YV12"},
    {&MEDIASUBTYPE_NV12, "video/x-raw", "NV12", 12, FourCC('N', 'V', '1', '2'), "NV12"},
    // DIB pixels are blue, green, red in memory: GStreamer's BGR and BGRx.
    {&MEDIASUBTYPE_RGB24, "video/x-raw", "BGR", 24, BI_RGB, "RGB24"},
    {&MEDIASUBTYPE_RGB32, "video/x-raw", "BGRx", 32, BI_RGB, "RGB32"},
    {&MEDIASUBTYPE_RGB565, "video/x-raw", "RGB16", 16, BI_BITFIELDS, "RGB565"},
    {&MEDIASUBTYPE_RGB555, "video/x-raw", "RGB15", 16, BI_RGB, "RGB555"},
};

const SubtypeInfo* InfoOf(const GUID& subtype) {
    for (const auto& i : kSubtypes)
        if (*i.subtype == subtype) return &i;
    return nullptr;
}

const SubtypeInfo* InfoOfName(const std::string& name) {
    for (const auto& i : kSubtypes)
        if (name == i.name) return &i;
    return nullptr;
}

DWORD ImageSize(const SubtypeInfo& info, int w, int h) {
    if (*info.subtype == MEDIASUBTYPE_MJPG) return DWORD(w) * DWORD(h) * 3; // the largest frame
    const DWORD stride = ((DWORD(w) * info.bitCount + 31) / 32) * 4;
    if (info.bitCount == 12) return DWORD(w) * DWORD(h) * 3 / 2;
    return stride * DWORD(h);
}

// Highest rate of a framerate field (fixed, list or range); false when absent or odd.
bool BestRate(const GValue* v, int* num, int* den) {
    if (!v) return false;
    if (GST_VALUE_HOLDS_FRACTION(v)) {
        *num = gst_value_get_fraction_numerator(v);
        *den = gst_value_get_fraction_denominator(v);
        return *num > 0 && *den > 0;
    }
    if (GST_VALUE_HOLDS_FRACTION_RANGE(v))
        return BestRate(gst_value_get_fraction_range_max(v), num, den);
    if (GST_VALUE_HOLDS_LIST(v)) {
        bool any = false;
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            int n = 0, d = 1;
            if (!BestRate(gst_value_list_get_value(v, i), &n, &d)) continue;
            if (!any || double(n) / d > double(*num) / *den) {
                *num = n;
                *den = d;
                any = true;
            }
        }
        return any;
    }
    return false;
}
} // namespace

GstCaps* CapsFromFormat(const VideoFormat& f) {
    const SubtypeInfo* info = InfoOf(f.subtype);
    if (!info) return gst_caps_new_empty();
    GstCaps* caps =
        gst_caps_new_simple(info->media, "width", G_TYPE_INT, f.width, "height", G_TYPE_INT,
                            f.height, "framerate", GST_TYPE_FRACTION, f.fpsNum, f.fpsDen, nullptr);
    if (info->format) gst_caps_set_simple(caps, "format", G_TYPE_STRING, info->format, nullptr);
    return caps;
}

bool FormatFromStructure(const GstStructure* s, VideoFormat* out) {
    const char* name = gst_structure_get_name(s);
    const char* fmt = gst_structure_get_string(s, "format");
    const SubtypeInfo* info = nullptr;
    for (const auto& i : kSubtypes) {
        if (std::strcmp(i.media, name) != 0) continue;
        if (i.format && (!fmt || std::strcmp(i.format, fmt) != 0)) continue;
        info = &i;
        break;
    }
    if (!info) return false;
    int w = 0, h = 0;
    if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h))
        return false;
    if (w <= 0 || h <= 0) return false;
    VideoFormat f;
    f.subtype = *info->subtype;
    f.width = w;
    f.height = h;
    if (!BestRate(gst_structure_get_value(s, "framerate"), &f.fpsNum, &f.fpsDen)) {
        f.fpsNum = 30;
        f.fpsDen = 1;
    }
    *out = f;
    return true;
}

std::vector<VideoFormat> FormatsFromCaps(const GstCaps* caps) {
    std::vector<VideoFormat> out;
    if (!caps) return out;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        // A format list in one structure ("format={YUY2,NV12}") gives one entry per format.
        const GValue* fv = gst_structure_get_value(s, "format");
        if (fv && GST_VALUE_HOLDS_LIST(fv)) {
            for (guint k = 0; k < gst_value_list_get_size(fv); ++k) {
                GstStructure* one = gst_structure_copy(s);
                gst_structure_set_value(one, "format", gst_value_list_get_value(fv, k));
                VideoFormat f;
                if (FormatFromStructure(one, &f) &&
                    std::find(out.begin(), out.end(), f) == out.end())
                    out.push_back(f);
                gst_structure_free(one);
            }
            continue;
        }
        VideoFormat f;
        if (FormatFromStructure(s, &f) && std::find(out.begin(), out.end(), f) == out.end())
            out.push_back(f);
    }
    return out;
}

void MediaTypeFromFormat(const VideoFormat& f, AM_MEDIA_TYPE* mt) {
    std::memset(mt, 0, sizeof *mt);
    const SubtypeInfo* info = InfoOf(f.subtype);
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = f.subtype;
    const bool compressed = f.subtype == MEDIASUBTYPE_MJPG;
    mt->bFixedSizeSamples = compressed ? FALSE : TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = info && !compressed ? ImageSize(*info, f.width, f.height) : 0;
    mt->formattype = FORMAT_VideoInfo;
    auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!vih) {
        mt->formattype = FORMAT_None;
        return;
    }
    std::memset(vih, 0, sizeof *vih);
    vih->AvgTimePerFrame = f.fpsNum > 0 ? REFERENCE_TIME(10000000) * f.fpsDen / f.fpsNum : 0;
    const DWORD size = info ? ImageSize(*info, f.width, f.height) : 0;
    vih->dwBitRate =
        f.fpsDen > 0 ? DWORD(std::min<double>(4294967295.0, double(size) * 8 * f.fpsNum / f.fpsDen))
                     : 0;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = f.width;
    // GStreamer's rows run top-down. For RGB that is a negative height (a positive one means
    // bottom-up rows); YUV and compressed pictures are top-down whatever the sign.
    const bool rgb = info && (info->compression == BI_RGB || info->compression == BI_BITFIELDS);
    vih->bmiHeader.biHeight = rgb ? -f.height : f.height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = info ? info->bitCount : 0;
    vih->bmiHeader.biCompression = info ? info->compression : 0;
    vih->bmiHeader.biSizeImage = size;
    mt->cbFormat = sizeof(VIDEOINFOHEADER);
    mt->pbFormat = reinterpret_cast<BYTE*>(vih);
}

bool FormatFromMediaType(const AM_MEDIA_TYPE& mt, VideoFormat* f, bool* hasSize) {
    *hasSize = false;
    if (!(mt.majortype == MEDIATYPE_Video) || !InfoOf(mt.subtype)) return false;
    f->subtype = mt.subtype;
    if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat &&
        mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, mt.pbFormat, sizeof vih);
        const LONG h =
            vih.bmiHeader.biHeight < 0 ? -vih.bmiHeader.biHeight : vih.bmiHeader.biHeight;
        if (vih.bmiHeader.biWidth > 0 && h > 0) {
            f->width = vih.bmiHeader.biWidth;
            f->height = h;
            *hasSize = true;
            if (vih.AvgTimePerFrame > 0) {
                // Whole rates stay exact (333333 -> 30/1); others keep 1/1000 fps.
                const double fps = 1e7 / double(vih.AvgTimePerFrame);
                const double rounded = std::round(fps);
                if (std::abs(fps - rounded) < 0.01) {
                    f->fpsNum = int(rounded);
                    f->fpsDen = 1;
                } else {
                    f->fpsNum = int(std::lround(fps * 1000));
                    f->fpsDen = 1000;
                }
            } else {
                f->fpsNum = 0; // any rate
            }
        }
    }
    return true;
}

GstCaps* CapsFromMediaType(const AM_MEDIA_TYPE* mt) {
    if (!mt || mt->majortype == GUID_NULL) return nullptr;
    if (!(mt->majortype == MEDIATYPE_Video)) return gst_caps_new_empty();
    if (mt->subtype == GUID_NULL) return gst_caps_from_string("video/x-raw; image/jpeg");
    const SubtypeInfo* info = InfoOf(mt->subtype);
    if (!info) return gst_caps_new_empty();
    GstCaps* caps = gst_caps_new_empty_simple(info->media);
    if (info->format) gst_caps_set_simple(caps, "format", G_TYPE_STRING, info->format, nullptr);
    VideoFormat f;
    bool hasSize = false;
    if (FormatFromMediaType(*mt, &f, &hasSize) && hasSize) {
        gst_caps_set_simple(caps, "width", G_TYPE_INT, f.width, "height", G_TYPE_INT, f.height,
                            nullptr);
        if (f.fpsNum > 0)
            gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, f.fpsNum, f.fpsDen, nullptr);
    }
    return caps;
}

std::string FormatText(const VideoFormat& f) {
    const SubtypeInfo* info = InfoOf(f.subtype);
    return std::string(info ? info->name : "?") + " " + std::to_string(f.width) + "x" +
           std::to_string(f.height) + " " + std::to_string(f.fpsNum) + "/" +
           std::to_string(f.fpsDen);
}

// ---- Listeners and the process's backend -------------------------------------------------------

int IVideoBackend::AddListener(Listener listener) {
    std::lock_guard g(FListenerLock);
    const int id = FNextListener++;
    FListeners.emplace(id, std::move(listener));
    return id;
}

void IVideoBackend::RemoveListener(int id) {
    std::lock_guard g(FListenerLock);
    FListeners.erase(id);
}

void IVideoBackend::NotifyDevice(const std::string& path, bool arrived) {
    {
        // Held while calling, so a listener that is being removed is not called any more.
        std::lock_guard g(FListenerLock);
        for (auto& [id, l] : FListeners)
            l(path, arrived);
    }
    // As the window system tells every window that listens (a camera page lists them anew).
    BroadcastMessage(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

std::optional<VideoDevice> IVideoBackend::Find(const std::string& path) {
    for (auto& d : Devices())
        if (d.path == path) return d;
    return std::nullopt;
}

std::string IVideoBackend::ControlNode(const std::string&) {
    return {};
}

namespace {
std::mutex& SlotLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<IVideoBackend>& Slot() {
    static std::shared_ptr<IVideoBackend> s;
    return s;
}
} // namespace

std::shared_ptr<IVideoBackend> VideoBackend() {
    std::lock_guard g(SlotLock());
    if (!Slot()) {
        const char* env = std::getenv("AVSETUP_BACKEND");
        if (env && std::string(env) == "sim")
            Slot() = CreateSimVideoBackend();
        else
            Slot() = CreateRealVideoBackend();
    }
    return Slot();
}

std::shared_ptr<IVideoBackend> SetVideoBackend(std::shared_ptr<IVideoBackend> backend) {
    std::lock_guard g(SlotLock());
    auto previous = std::move(Slot());
    Slot() = std::move(backend);
    return previous;
}

ScopedVideoBackend::ScopedVideoBackend(std::shared_ptr<IVideoBackend> backend)
    : FPrevious(SetVideoBackend(std::move(backend))) {}

ScopedVideoBackend::~ScopedVideoBackend() {
    SetVideoBackend(std::move(FPrevious));
}

// ---- Simulated cameras -------------------------------------------------------------------------

std::vector<SimCameraConfig> DefaultSimCameras() {
    SimCameraConfig v;
    v.name = "Virtual Camera";
    v.pattern = "smpte";
    for (auto [w, h] : {std::pair{176, 144}, std::pair{320, 240}, std::pair{640, 480}})
        for (const GUID* st : {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_MJPG})
            v.formats.push_back({*st, w, h, 30, 1});
    SimCameraConfig hd;
    hd.name = "HD Camera";
    hd.pattern = "ball";
    hd.formats.push_back({MEDIASUBTYPE_YUY2, 1280, 720, 30, 1});
    return {v, hd};
}

std::optional<std::vector<SimCameraConfig>> ParseSimCameras(const QByteArray& json,
                                                            QString* error) {
    auto fail = [&](const QString& why) -> std::optional<std::vector<SimCameraConfig>> {
        if (error) *error = why;
        return std::nullopt;
    };
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (!doc.isObject()) return fail(QStringLiteral("not a JSON object: %1").arg(pe.errorString()));
    const QJsonObject root = doc.object();
    if (!root.contains(QStringLiteral("cameras"))) return DefaultSimCameras();
    if (!root.value(QStringLiteral("cameras")).isArray())
        return fail(QStringLiteral("\"cameras\" is not a list"));
    std::vector<SimCameraConfig> out;
    for (const QJsonValue& cv : root.value(QStringLiteral("cameras")).toArray()) {
        if (!cv.isObject()) return fail(QStringLiteral("a camera is not an object"));
        const QJsonObject c = cv.toObject();
        SimCameraConfig cam;
        cam.name = c.value(QStringLiteral("name")).toString().toStdString();
        if (cam.name.empty()) return fail(QStringLiteral("a camera has no name"));
        cam.path = c.value(QStringLiteral("path")).toString().toStdString();
        cam.clsid = c.value(QStringLiteral("clsid")).toBool(true);
        cam.busy = c.value(QStringLiteral("busy")).toBool(false);
        cam.pattern =
            c.value(QStringLiteral("pattern")).toString(QStringLiteral("ball")).toStdString();
        for (const QJsonValue& fv : c.value(QStringLiteral("formats")).toArray()) {
            const QJsonObject f = fv.toObject();
            const int w = f.value(QStringLiteral("width")).toInt(0);
            const int h = f.value(QStringLiteral("height")).toInt(0);
            const int fps = f.value(QStringLiteral("fps")).toInt(30);
            if (w <= 0 || h <= 0 || w > 8192 || h > 8192 || fps <= 0 || fps > 1000)
                return fail(QStringLiteral("camera \"%1\": bad format size or rate")
                                .arg(QString::fromStdString(cam.name)));
            for (const QJsonValue& sv : f.value(QStringLiteral("subtypes")).toArray()) {
                const SubtypeInfo* info = InfoOfName(sv.toString().toStdString());
                if (!info)
                    return fail(QStringLiteral("camera \"%1\": unknown subtype \"%2\"")
                                    .arg(QString::fromStdString(cam.name), sv.toString()));
                cam.formats.push_back({*info->subtype, w, h, fps, 1});
            }
        }
        out.push_back(std::move(cam));
    }
    return out;
}

SimVideoBackend::SimVideoBackend(std::vector<SimCameraConfig> cameras)
    : FCameras(std::move(cameras)) {
    EnsureGStreamer();
    for (auto& c : FCameras)
        if (c.path.empty()) c.path = "sim:" + c.name;
}

VideoDevice SimVideoBackend::Describe(const SimCameraConfig& c) {
    VideoDevice d;
    d.name = c.name;
    d.path = c.path;
    d.hasClsid = c.clsid;
    d.formats = c.formats;
    return d;
}

std::vector<VideoDevice> SimVideoBackend::Devices() {
    std::lock_guard g(FLock);
    std::vector<VideoDevice> out;
    for (const auto& c : FCameras)
        out.push_back(Describe(c));
    return out;
}

GstElement* SimVideoBackend::CreateSource(const std::string& path, const VideoFormat& format) {
    std::string pattern;
    bool busy = false;
    {
        std::lock_guard g(FLock);
        auto it = std::find_if(FCameras.begin(), FCameras.end(),
                               [&](const SimCameraConfig& c) { return c.path == path; });
        if (it == FCameras.end()) return nullptr;
        pattern = it->pattern;
        busy = it->busy;
    }
    // A live test picture; a compressed format is encoded as a camera would deliver it.
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* src = gst_element_factory_make("videotestsrc", nullptr);
    if (!src) {
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    g_object_set(src, "is-live", TRUE, nullptr);
    gst_util_set_object_arg(G_OBJECT(src), "pattern", pattern.c_str());
    // Every picture moves (the ball moves by itself), so a test can tell frames apart.
    if (pattern != "ball") g_object_set(src, "horizontal-speed", 2, nullptr);
    // The camera's own controls act here (brightness, contrast, hue, saturation).
    GstElement* controls = gst_element_factory_make("videobalance", "controls");
    gst_bin_add_many(GST_BIN(bin), src, controls, nullptr);
    gst_element_link(src, controls);
    GstElement* last = controls;
    if (format.subtype == MEDIASUBTYPE_MJPG) {
        GstElement* raw = gst_element_factory_make("capsfilter", nullptr);
        VideoFormat rawFormat = format;
        rawFormat.subtype = MEDIASUBTYPE_I420;
        GstCaps* caps = CapsFromFormat(rawFormat);
        g_object_set(raw, "caps", caps, nullptr);
        gst_caps_unref(caps);
        GstElement* enc = gst_element_factory_make("jpegenc", nullptr);
        if (!enc) {
            gst_object_unref(gst_object_ref_sink(bin));
            return nullptr;
        }
        gst_bin_add_many(GST_BIN(bin), raw, enc, nullptr);
        gst_element_link_many(controls, raw, enc, nullptr);
        last = enc;
    }
    if (busy) {
        // As a V4L2 camera that another program streams from: it opens, then its first frame
        // fails with "busy" and the stream stops.
        GstPad* srcPad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(
            srcPad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad* pad, GstPadProbeInfo* info, gpointer) {
                GstElement* element = GST_ELEMENT(gst_pad_get_parent(pad));
                gst_element_message_full(
                    element, GST_MESSAGE_ERROR, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY,
                    g_strdup("Device is busy"),
                    g_strdup("the simulated camera is used by another program"), __FILE__,
                    GST_FUNCTION, __LINE__);
                gst_object_unref(element);
                GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
                return GST_PAD_PROBE_DROP;
            },
            nullptr, nullptr);
        gst_object_unref(srcPad);
    }
    GstPad* pad = gst_element_get_static_pad(last, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", pad));
    gst_object_unref(pad);
    return bin;
}

void SimVideoBackend::AddCamera(const SimCameraConfig& camera) {
    SimCameraConfig c = camera;
    if (c.path.empty()) c.path = "sim:" + c.name;
    {
        std::lock_guard g(FLock);
        FCameras.push_back(c);
    }
    NotifyDevice(c.path, true);
}

bool SimVideoBackend::RemoveCamera(const std::string& name) {
    std::string path;
    {
        std::lock_guard g(FLock);
        auto it = std::find_if(FCameras.begin(), FCameras.end(),
                               [&](const SimCameraConfig& c) { return c.name == name; });
        if (it == FCameras.end()) return false;
        path = it->path;
        FCameras.erase(it);
    }
    NotifyDevice(path, false);
    return true;
}

std::shared_ptr<SimVideoBackend> CreateSimVideoBackend() {
    QByteArray json;
    const char* env = std::getenv("AVSETUP_SIM_CONFIG");
    QFile file(env && *env ? QString::fromLocal8Bit(env)
                           : QStringLiteral(":/avsetup/SimDevices.json"));
    std::vector<SimCameraConfig> cameras = DefaultSimCameras();
    if (file.open(QIODevice::ReadOnly)) {
        QString error;
        if (auto parsed = ParseSimCameras(file.readAll(), &error))
            cameras = std::move(*parsed);
        else
            qWarning("simulated cameras: %s; using the default cameras", qPrintable(error));
    }
    return std::make_shared<SimVideoBackend>(std::move(cameras));
}

// ---- GStreamer's device monitor -----------------------------------------------------------------
namespace {
class MonitorVideoBackend : public IVideoBackend {
public:
    MonitorVideoBackend() {
        EnsureGStreamer();
        FMonitor = gst_device_monitor_new();
        gst_device_monitor_add_filter(FMonitor, "Video/Source", nullptr);
        GstBus* bus = gst_device_monitor_get_bus(FMonitor);
        gst_bus_set_sync_handler(bus, &MonitorVideoBackend::OnBusMessage, this, nullptr);
        gst_object_unref(bus);
        gst_device_monitor_start(FMonitor);
        GList* list = gst_device_monitor_get_devices(FMonitor);
        // The monitor lists the newest first; the system's order is the order of arrival.
        list = g_list_reverse(list);
        {
            std::lock_guard g(FLock);
            for (GList* l = list; l; l = l->next)
                AddLocked(GST_DEVICE(l->data));
        }
        g_list_free_full(list, gst_object_unref);
    }

    ~MonitorVideoBackend() override {
        gst_device_monitor_stop(FMonitor);
        GstBus* bus = gst_device_monitor_get_bus(FMonitor);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(FMonitor);
        for (auto& e : FDevices)
            gst_object_unref(e.device);
    }

    std::vector<VideoDevice> Devices() override {
        std::lock_guard g(FLock);
        std::vector<VideoDevice> out;
        for (auto& e : FDevices)
            out.push_back(e.desc);
        return out;
    }

    GstElement* CreateSource(const std::string& path, const VideoFormat&) override {
        GstDevice* device = nullptr;
        {
            std::lock_guard g(FLock);
            for (auto& e : FDevices)
                if (e.desc.path == path) device = GST_DEVICE(gst_object_ref(e.device));
        }
        if (!device) return nullptr;
        GstElement* element = gst_device_create_element(device, nullptr);
        gst_object_unref(device);
        return element;
    }

    // PipeWire names the node it captures from; GStreamer's own V4L2 devices name it as their
    // path, and their source element carries it as its "device".
    std::string ControlNode(const std::string& path) override {
        GstDevice* device = nullptr;
        {
            std::lock_guard g(FLock);
            for (auto& e : FDevices)
                if (e.desc.path == path) device = GST_DEVICE(gst_object_ref(e.device));
        }
        if (!device) return {};
        std::string node;
        if (GstStructure* props = gst_device_get_properties(device)) {
            if (const char* v = gst_structure_get_string(props, "api.v4l2.path")) node = v;
            const char* api = gst_structure_get_string(props, "device.api");
            const char* p = gst_structure_get_string(props, "device.path");
            if (node.empty() && api && std::strcmp(api, "v4l2") == 0 && p) node = p;
            gst_structure_free(props);
        }
        if (node.empty()) {
            if (GstElement* element = gst_device_create_element(device, nullptr)) {
                gst_object_ref_sink(element);
                GParamSpec* property =
                    g_object_class_find_property(G_OBJECT_GET_CLASS(element), "device");
                if (property && property->value_type == G_TYPE_STRING) {
                    gchar* v = nullptr;
                    g_object_get(element, "device", &v, nullptr);
                    if (v && g_str_has_prefix(v, "/dev/")) node = v;
                    g_free(v);
                }
                gst_object_unref(element);
            }
        }
        gst_object_unref(device);
        return node;
    }

private:
    struct Entry {
        GstDevice* device;
        VideoDevice desc;
    };

    static std::string PathOf(GstDevice* device) {
        std::string path;
        if (GstStructure* props = gst_device_get_properties(device)) {
            for (const char* key : {"device.path", "api.v4l2.path", "object.path"}) {
                if (const char* v = gst_structure_get_string(props, key)) {
                    path = v;
                    break;
                }
            }
            gst_structure_free(props);
        }
        if (path.empty()) {
            gchar* n = gst_object_get_name(GST_OBJECT(device));
            path = std::string("gst:") + (n ? n : "");
            g_free(n);
        }
        return path;
    }

    bool AddLocked(GstDevice* device) {
        VideoDevice d;
        gchar* name = gst_device_get_display_name(device);
        d.name = name ? name : "";
        g_free(name);
        d.path = PathOf(device);
        if (GstCaps* caps = gst_device_get_caps(device)) {
            d.formats = FormatsFromCaps(caps);
            gst_caps_unref(caps);
        }
        for (auto& e : FDevices)
            if (e.desc.path == d.path) return false;
        FDevices.push_back({GST_DEVICE(gst_object_ref(device)), std::move(d)});
        return true;
    }

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer data) {
        auto* self = static_cast<MonitorVideoBackend*>(data);
        GstDevice* device = nullptr;
        if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_DEVICE_ADDED) {
            gst_message_parse_device_added(msg, &device);
            std::string path;
            bool added;
            {
                std::lock_guard g(self->FLock);
                added = self->AddLocked(device);
                path = added ? self->FDevices.back().desc.path : std::string();
            }
            if (added) self->NotifyDevice(path, true);
        } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_DEVICE_REMOVED) {
            gst_message_parse_device_removed(msg, &device);
            std::string path;
            {
                std::lock_guard g(self->FLock);
                for (auto it = self->FDevices.begin(); it != self->FDevices.end(); ++it) {
                    if (it->device != device) continue;
                    path = it->desc.path;
                    gst_object_unref(it->device);
                    self->FDevices.erase(it);
                    break;
                }
            }
            if (!path.empty()) self->NotifyDevice(path, false);
        }
        if (device) gst_object_unref(device);
        gst_message_unref(msg); // dropped here, so ours to free
        return GST_BUS_DROP;
    }

    GstDeviceMonitor* FMonitor = nullptr;
    std::mutex FLock;
    std::vector<Entry> FDevices;
};
} // namespace

std::shared_ptr<IVideoBackend> CreateRealVideoBackend() {
    return std::make_shared<MonitorVideoBackend>();
}
