#include "platform/dshow/Filters.h"
#include "platform/v4l2/V4l2Controls.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unistd.h>

// ---- Helpers ------------------------------------------------------------------------------------
namespace {
template <class T> T* AsImpl(IUnknown* unknown, REFIID iid) {
    if (!unknown) return nullptr;
    void* p = nullptr;
    if (FAILED(unknown->QueryInterface(iid, &p)) || !p) return nullptr;
    T* impl = static_cast<T*>(p);
    impl->Release(); // the caller holds the object
    return impl;
}

void CopyName(WCHAR* dst, int max, const std::u16string& src) {
    const std::size_t n = std::min<std::size_t>(src.size(), std::size_t(max - 1));
    std::memcpy(dst, src.data(), n * sizeof(WCHAR));
    dst[n] = 0;
}

FILTER_STATE StateOf(GstState s) {
    switch (s) {
    case GST_STATE_PLAYING:
        return State_Running;
    case GST_STATE_PAUSED:
        return State_Paused;
    default:
        return State_Stopped;
    }
}

// Copies of media-type records for an enumerator.
class MediaTypeEnum final : public IEnumMediaTypes {
    AV_UNKNOWN_IMPL(IEnumMediaTypes)
public:
    explicit MediaTypeEnum(std::vector<AM_MEDIA_TYPE> types) : FTypes(std::move(types)) {}
    ~MediaTypeEnum() {
        for (auto& t : FTypes)
            FreeMediaType(t);
    }
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (!types) return E_POINTER;
        ULONG n = 0;
        while (n < count && FPos < FTypes.size()) {
            auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            if (!mt) break;
            CopyMediaType(mt, &FTypes[FPos++]);
            types[n++] = mt;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        FPos += count;
        if (FPos > FTypes.size()) {
            FPos = FTypes.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        FPos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMediaTypes** copy) override {
        if (!copy) return E_POINTER;
        std::vector<AM_MEDIA_TYPE> types(FTypes.size());
        for (std::size_t i = 0; i < types.size(); ++i)
            CopyMediaType(&types[i], &FTypes[i]);
        auto c = MakeCom<MediaTypeEnum>(std::move(types));
        c->FPos = FPos;
        *copy = c.Detach();
        return S_OK;
    }

private:
    std::vector<AM_MEDIA_TYPE> FTypes;
    std::size_t FPos = 0;
};

class PinEnum final : public IEnumPins {
    AV_UNKNOWN_IMPL(IEnumPins)
public:
    explicit PinEnum(std::vector<ComPtr<IPin>> pins) : FPins(std::move(pins)) {}
    HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins) return E_POINTER;
        ULONG n = 0;
        while (n < count && FPos < FPins.size())
            pins[n++] = ComPtr<IPin>(FPins[FPos++]).Detach();
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        FPos = std::min(FPins.size(), FPos + count);
        return FPos < FPins.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        FPos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumPins** copy) override {
        if (!copy) return E_POINTER;
        auto c = MakeCom<PinEnum>(FPins);
        c->FPos = FPos;
        *copy = c.Detach();
        return S_OK;
    }

private:
    std::vector<ComPtr<IPin>> FPins;
    std::size_t FPos = 0;
};
} // namespace

AvFilter* AsAvFilter(IUnknown* unknown) {
    return AsImpl<AvFilter>(unknown, IID_AvFilterImpl);
}
AvPin* AsAvPin(IUnknown* unknown) {
    return AsImpl<AvPin>(unknown, IID_AvPinImpl);
}

// ---- Media types --------------------------------------------------------------------------------

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    FreeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
    if (!dst || !src) return E_POINTER;
    *dst = *src;
    if (src->cbFormat && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            dst->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
    } else {
        dst->cbFormat = 0;
        dst->pbFormat = nullptr;
    }
    if (dst->pUnk) dst->pUnk->AddRef();
    return S_OK;
}

// ---- Graph events -------------------------------------------------------------------------------

void FreeEventParamsOf(long code, LONG_PTR p1, LONG_PTR) {
    if (code == EC_DEVICE_LOST && p1) reinterpret_cast<IUnknown*>(p1)->Release();
}

void GraphEvents::Push(long code, LONG_PTR p1, LONG_PTR p2) {
    std::lock_guard g(FLock);
    FQueue.push_back({code, p1, p2});
    FCond.notify_all();
    if (FWindow && !(FFlags & AM_MEDIAEVENT_NONOTIFY)) PostMessage(FWindow, FMsg, 0, FInstance);
}

bool GraphEvents::Pop(long* code, LONG_PTR* p1, LONG_PTR* p2, long msTimeout) {
    std::unique_lock g(FLock);
    if (msTimeout != 0)
        FCond.wait_for(g, std::chrono::milliseconds(msTimeout < 0 ? 3600000 : msTimeout),
                       [&] { return !FQueue.empty(); });
    if (FQueue.empty()) return false;
    const Event e = FQueue.front();
    FQueue.pop_front();
    *code = e.code;
    *p1 = e.p1;
    *p2 = e.p2;
    return true;
}

void GraphEvents::SetWindow(HWND hwnd, UINT msg, LONG_PTR instance) {
    std::lock_guard g(FLock);
    FWindow = hwnd;
    FMsg = msg;
    FInstance = instance;
    // Events that came before the window was named are announced now.
    if (FWindow && !FQueue.empty() && !(FFlags & AM_MEDIAEVENT_NONOTIFY))
        PostMessage(FWindow, FMsg, 0, FInstance);
}

void GraphEvents::SetFlags(long flags) {
    std::lock_guard g(FLock);
    FFlags = flags;
}

long GraphEvents::Flags() {
    std::lock_guard g(FLock);
    return FFlags;
}

void GraphEvents::SetLastError(HRESULT hr) {
    std::lock_guard g(FLock);
    if (FLastError == S_OK) FLastError = hr;
    FCond.notify_all();
}

HRESULT GraphEvents::TakeLastError(long msTimeout) {
    std::unique_lock g(FLock);
    FCond.wait_for(g, std::chrono::milliseconds(msTimeout), [&] { return FLastError != S_OK; });
    return std::exchange(FLastError, S_OK);
}

HRESULT GraphEvents::TakeLastError() {
    std::lock_guard g(FLock);
    return std::exchange(FLastError, S_OK);
}

void GraphEvents::SetLogFile(int fd) {
    std::lock_guard g(FLock);
    FLogFd = fd;
}

void GraphEvents::Log(const std::string& line) {
    std::lock_guard g(FLock);
    if (FLogFd < 0) return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    const std::string text = std::to_string(ms) + ": " + line + "\n";
    if (::write(FLogFd, text.data(), text.size()) < 0) FLogFd = -1; // a broken log stops quietly
}

void GraphEvents::Clear() {
    std::deque<Event> dropped;
    {
        std::lock_guard g(FLock);
        dropped.swap(FQueue);
    }
    for (auto& e : dropped)
        FreeEventParamsOf(e.code, e.p1, e.p2);
}

// ---- Pins ---------------------------------------------------------------------------------------

AvPin::AvPin(AvFilter* filter, GstPad* pad, PIN_DIRECTION dir, std::u16string name,
             const GUID* category)
    : FFilter(filter), FPad(pad), FDir(dir), FName(std::move(name)), FCategory(category) {}

AvPin::~AvPin() {
    if (FConnCaps) gst_caps_unref(FConnCaps);
    if (FPad) gst_object_unref(FPad);
}

ULONG AvPin::AddRef() {
    return FFilter->AddRef();
}
ULONG AvPin::Release() {
    return FFilter->Release();
}

HRESULT AvPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPin)
        *ppv = static_cast<IPin*>(this);
    else if (riid == IID_IKsPropertySet && FCategory)
        *ppv = static_cast<IKsPropertySet*>(this);
    else if (riid == IID_IAMStreamConfig && FFilter->HasStreamConfig() && FDir == PINDIR_OUTPUT)
        *ppv = static_cast<IAMStreamConfig*>(this);
    else if (riid == IID_AvPinImpl)
        *ppv = this;
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT AvPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (!receivePin) return E_POINTER;
    if (FDir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    AvPin* in = AsAvPin(receivePin);
    if (!in) return E_INVALIDARG;
    if (in->FDir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (FPeer || in->FPeer) return VFW_E_ALREADY_CONNECTED;
    if (!FFilter->Graph() || FFilter->Graph() != in->FFilter->Graph()) return VFW_E_NOT_IN_GRAPH;
    if (FFilter == in->FFilter) return VFW_E_CANNOT_CONNECT;
    FILTER_STATE state = State_Stopped;
    FFilter->GetState(0, &state);
    if (state != State_Stopped) return VFW_E_NOT_STOPPED;

    GstCaps* wanted = CapsFromMediaType(mt);
    GstCaps* out = gst_pad_query_caps(FPad, wanted);
    GstCaps* inCaps = gst_pad_query_caps(in->FPad, nullptr);
    GstCaps* common = gst_caps_intersect(out, inCaps);
    gst_caps_unref(out);
    gst_caps_unref(inCaps);
    if (wanted) gst_caps_unref(wanted);
    if (gst_caps_is_empty(common)) {
        gst_caps_unref(common);
        return mt ? VFW_E_TYPE_NOT_ACCEPTED : VFW_E_NO_ACCEPTABLE_TYPES;
    }
    if (gst_pad_link(FPad, in->FPad) != GST_PAD_LINK_OK) {
        gst_caps_unref(common);
        return VFW_E_CANNOT_CONNECT;
    }
    common = gst_caps_fixate(common);
    FPeer = in;
    in->FPeer = this;
    FConnCaps = gst_caps_ref(common);
    in->FConnCaps = common;
    return S_OK;
}

HRESULT AvPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    // The output pin makes the whole connection.
    if (!connector) return E_POINTER;
    return connector->Connect(this, mt);
}

void AvPin::ForceDisconnect() {
    if (!FPeer) return;
    AvPin* peer = FPeer;
    GstPad* src = FDir == PINDIR_OUTPUT ? FPad : peer->FPad;
    GstPad* sink = FDir == PINDIR_OUTPUT ? peer->FPad : FPad;
    gst_pad_unlink(src, sink);
    for (AvPin* p : {this, peer}) {
        p->FPeer = nullptr;
        if (p->FConnCaps) gst_caps_unref(p->FConnCaps);
        p->FConnCaps = nullptr;
    }
}

HRESULT AvPin::Disconnect() {
    if (!FPeer) return S_FALSE;
    FILTER_STATE state = State_Stopped;
    FFilter->GetState(0, &state);
    if (state != State_Stopped) return VFW_E_NOT_STOPPED;
    ForceDisconnect();
    return S_OK;
}

void AvPin::RefreshConnectionType() {
    if (!FPeer) return;
    AvPin* src = FDir == PINDIR_OUTPUT ? this : FPeer;
    GstCaps* caps = gst_pad_query_caps(src->FPad, nullptr);
    caps = gst_caps_fixate(caps);
    for (AvPin* p : {this, FPeer}) {
        if (p->FConnCaps) gst_caps_unref(p->FConnCaps);
        p->FConnCaps = gst_caps_ref(caps);
    }
    gst_caps_unref(caps);
}

HRESULT AvPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (!FPeer) return VFW_E_NOT_CONNECTED;
    *pin = ComPtr<IPin>(FPeer).Detach();
    return S_OK;
}

HRESULT AvPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    std::memset(mt, 0, sizeof *mt);
    if (!FPeer || !FConnCaps) return VFW_E_NOT_CONNECTED;
    const auto formats = FormatsFromCaps(FConnCaps);
    if (!formats.empty()) {
        MediaTypeFromFormat(formats.front(), mt);
    } else {
        mt->majortype = MEDIATYPE_Video;
        mt->formattype = GUID_NULL;
    }
    return S_OK;
}

HRESULT AvPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = ComPtr<IBaseFilter>(FFilter).Detach();
    info->dir = FDir;
    CopyName(info->achName, MAX_PIN_NAME, FName);
    return S_OK;
}

HRESULT AvPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = FDir;
    return S_OK;
}

HRESULT AvPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((FName.size() + 1) * sizeof(WCHAR)));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, FName.c_str(), (FName.size() + 1) * sizeof(WCHAR));
    return S_OK;
}

HRESULT AvPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    GstCaps* wanted = CapsFromMediaType(mt);
    if (!wanted) return S_OK;
    GstCaps* caps = gst_pad_query_caps(FPad, wanted);
    const bool ok = !gst_caps_is_empty(caps);
    gst_caps_unref(caps);
    gst_caps_unref(wanted);
    return ok ? S_OK : S_FALSE;
}

std::vector<AM_MEDIA_TYPE> AvPin::CurrentTypes() {
    std::vector<VideoFormat> formats;
    if (FFilter->HasStreamConfig() && FDir == PINDIR_OUTPUT) {
        formats = FFilter->Formats();
    } else {
        GstCaps* caps = gst_pad_query_caps(FPad, nullptr);
        formats = FormatsFromCaps(caps);
        if (gst_caps_is_any(caps)) {
            // Takes anything, offers nothing of its own.
            gst_caps_unref(caps);
            return {};
        }
        if (formats.empty()) {
            // Nothing fixed yet (a converter before connection): one partial type per subtype.
            std::vector<AM_MEDIA_TYPE> partial;
            for (const GUID* st : {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_MJPG, &MEDIASUBTYPE_I420,
                                   &MEDIASUBTYPE_NV12, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32}) {
                AM_MEDIA_TYPE mt{};
                mt.majortype = MEDIATYPE_Video;
                mt.subtype = *st;
                mt.bFixedSizeSamples = TRUE;
                GstCaps* one = CapsFromMediaType(&mt);
                if (gst_caps_can_intersect(one, caps)) partial.push_back(mt);
                gst_caps_unref(one);
            }
            gst_caps_unref(caps);
            return partial;
        }
        gst_caps_unref(caps);
    }
    std::vector<AM_MEDIA_TYPE> out(formats.size());
    for (std::size_t i = 0; i < formats.size(); ++i)
        MediaTypeFromFormat(formats[i], &out[i]);
    return out;
}

HRESULT AvPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    *types = MakeCom<MediaTypeEnum>(CurrentTypes()).Detach();
    return S_OK;
}

HRESULT AvPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD cbData, DWORD* returned) {
    if (!(set == AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data || cbData < sizeof(GUID)) return E_POINTER;
    std::memcpy(data, FCategory, sizeof(GUID));
    if (returned) *returned = sizeof(GUID);
    return S_OK;
}

HRESULT AvPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (!(set == AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = 1; // KSPROPERTY_SUPPORT_GET
    return S_OK;
}

HRESULT AvPin::SetFormat(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    VideoFormat wanted;
    bool hasSize = false;
    if (!FormatFromMediaType(*mt, &wanted, &hasSize)) return VFW_E_INVALIDMEDIATYPE;
    for (const VideoFormat& f : FFilter->Formats()) {
        if (!(f.subtype == wanted.subtype)) continue;
        if (hasSize && (f.width != wanted.width || f.height != wanted.height)) continue;
        VideoFormat chosen = f;
        // A lower rate than the device's is delivered as asked (dropping frames is the
        // device's business); a higher one is not available.
        if (hasSize && wanted.fpsNum > 0 &&
            double(wanted.fpsNum) / wanted.fpsDen <= double(f.fpsNum) / f.fpsDen + 1e-6) {
            chosen.fpsNum = wanted.fpsNum;
            chosen.fpsDen = wanted.fpsDen;
        }
        return FFilter->SetCurrentFormat(chosen);
    }
    return VFW_E_INVALIDMEDIATYPE;
}

HRESULT AvPin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt) return E_POINTER;
    *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!*mt) return E_OUTOFMEMORY;
    MediaTypeFromFormat(FFilter->CurrentFormat(), *mt);
    return S_OK;
}

HRESULT AvPin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) return E_POINTER;
    *count = int(FFilter->Formats().size());
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT AvPin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* capsOut) {
    if (!mt || !capsOut) return E_POINTER;
    const auto formats = FFilter->Formats();
    if (index < 0 || index >= int(formats.size())) return S_FALSE;
    const VideoFormat& f = formats[std::size_t(index)];
    *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!*mt) return E_OUTOFMEMORY;
    MediaTypeFromFormat(f, *mt);
    VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.guid = FORMAT_VideoInfo;
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = caps.MinOutputSize =
        caps.MaxOutputSize = {f.width, f.height};
    caps.CropGranularityX = caps.CropGranularityY = caps.CropAlignX = caps.CropAlignY = 1;
    caps.OutputGranularityX = caps.OutputGranularityY = 1;
    caps.MinFrameInterval = caps.MaxFrameInterval =
        f.fpsNum > 0 ? REFERENCE_TIME(10000000) * f.fpsDen / f.fpsNum : 0;
    std::memcpy(capsOut, &caps, sizeof caps);
    return S_OK;
}

// ---- Filters ------------------------------------------------------------------------------------

AvFilter::AvFilter(const CLSID& clsid, GstElement* element) : FClsid(clsid) {
    EnsureGStreamer();
    SetElement(element);
}

AvFilter::~AvFilter() {
    for (AvPin* p : FPins) {
        p->ForceDisconnect();
        delete p;
    }
    if (FElement) {
        gst_element_set_state(FElement, GST_STATE_NULL);
        gst_object_unref(FElement);
    }
}

void AvFilter::SetElement(GstElement* element) {
    if (FElement) gst_object_unref(FElement);
    FElement = element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr;
    if (FElement) g_object_set_data(G_OBJECT(FElement), "avsetup-filter", this);
}

AvPin* AvFilter::AddPin(GstPad* pad, PIN_DIRECTION dir, std::u16string name, const GUID* category) {
    auto* pin = new AvPin(this, pad, dir, std::move(name), category);
    FPins.push_back(pin);
    return pin;
}

bool AvFilter::AnyPinConnected() const {
    return std::any_of(FPins.begin(), FPins.end(), [](AvPin* p) { return p->Peer() != nullptr; });
}

HRESULT AvFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter ||
        riid == IID_IPersist)
        *ppv = static_cast<IBaseFilter*>(this);
    else if (riid == IID_AvFilterImpl)
        *ppv = this;
    else
        return QueryExtra(riid, ppv);
    AddRef();
    return S_OK;
}

HRESULT AvFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = FClsid;
    return S_OK;
}

HRESULT AvFilter::Stop() {
    if (FElement) gst_element_set_state(FElement, GST_STATE_NULL);
    return S_OK;
}

HRESULT AvFilter::Pause() {
    if (FElement && gst_element_set_state(FElement, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    return S_OK;
}

HRESULT AvFilter::Run(REFERENCE_TIME) {
    if (FElement && gst_element_set_state(FElement, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    return S_OK;
}

HRESULT AvFilter::GetState(DWORD msTimeout, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = State_Stopped;
    if (!FElement) return S_OK;
    GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    const GstStateChangeReturn r =
        gst_element_get_state(FElement, &current, &pending, GstClockTime(msTimeout) * GST_MSECOND);
    if (r == GST_STATE_CHANGE_ASYNC && pending != GST_STATE_VOID_PENDING) {
        *state = StateOf(pending);
        return VFW_S_STATE_INTERMEDIATE;
    }
    *state = StateOf(current);
    return S_OK;
}

HRESULT AvFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_OK;
}

HRESULT AvFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    std::vector<ComPtr<IPin>> list;
    for (AvPin* p : FPins)
        list.emplace_back(static_cast<IPin*>(p));
    *pins = MakeCom<PinEnum>(std::move(list)).Detach();
    return S_OK;
}

HRESULT AvFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    for (AvPin* p : FPins)
        if (p->Name() == id) {
            *pin = ComPtr<IPin>(p).Detach();
            return S_OK;
        }
    return VFW_E_NOT_FOUND;
}

HRESULT AvFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    CopyName(info->achName, MAX_FILTER_NAME, FName);
    info->pGraph = nullptr;
    if (FGraph) {
        info->pGraph = AvGraphInterface(FGraph);
        info->pGraph->AddRef();
    }
    return S_OK;
}

HRESULT AvFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    FGraph = graph ? AsAvGraph(graph) : nullptr;
    FName = graph && name ? std::u16string(name) : std::u16string();
    OnJoin(FGraph ? AvGraphEvents(FGraph) : nullptr);
    return S_OK;
}

HRESULT AvFilter::QueryVendorInfo(LPWSTR* info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

AvElementFilter::AvElementFilter(const CLSID& clsid, GstElement* element, std::u16string inName,
                                 std::u16string outName)
    : AvFilter(clsid, element) {
    if (!Element()) return;
    if (GstPad* in = gst_element_get_static_pad(Element(), "sink"))
        AddPin(in, PINDIR_INPUT, inName);
    if (GstPad* out = gst_element_get_static_pad(Element(), "src"))
        AddPin(out, PINDIR_OUTPUT, outName);
}

// ---- Capture filters ----------------------------------------------------------------------------
namespace {
class CaptureFilter final : public AvFilter,
                            public ISpecifyPropertyPages,
                            public IAvDeviceControls {
public:
    CaptureFilter(std::shared_ptr<IVideoBackend> backend, VideoDevice device)
        : AvFilter(CLSID_Proxy, gst_bin_new(nullptr)), FBackend(std::move(backend)),
          FDevice(std::move(device)) {
        FCurrent = FDevice.formats.empty() ? VideoFormat{} : FDevice.formats.front();
        FCapsFilter = gst_element_factory_make("capsfilter", nullptr);
        gst_bin_add(GST_BIN(Element()), FCapsFilter);
        GstPad* target = gst_element_get_static_pad(FCapsFilter, "src");
        GstPad* ghost = gst_ghost_pad_new("src", target);
        gst_object_unref(target);
        gst_element_add_pad(Element(), ghost);
        // Nothing more reaches the graph once the camera has gone, as with a real unplugged one.
        gst_pad_add_probe(
            ghost, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo*, gpointer self) {
                return static_cast<CaptureFilter*>(self)->FLost.load() ? GST_PAD_PROBE_DROP
                                                                       : GST_PAD_PROBE_OK;
            },
            this, nullptr);
        AddPin(GST_PAD(gst_object_ref(ghost)), PINDIR_OUTPUT, u"Capture", &PIN_CATEGORY_CAPTURE);
        g_object_set_data(G_OBJECT(Element()), "avsetup-capture", this);
        FListener = FBackend->AddListener([this](const std::string& path, bool arrived) {
            if (path == FDevice.path) DeviceChanged(arrived);
        });
    }

    ~CaptureFilter() override {
        FBackend->RemoveListener(FListener);
        if (FControlElement) gst_object_unref(FControlElement);
    }

    ULONG AddRef() override { return AvFilter::AddRef(); }
    ULONG Release() override { return AvFilter::Release(); }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return AvFilter::QueryInterface(riid, ppv);
    }

    // ISpecifyPropertyPages: one page, the camera's controls, when it has any.
    HRESULT GetPages(CAUUID* pages) override {
        if (!pages) return E_POINTER;
        pages->cElems = 1;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (!pages->pElems) {
            pages->cElems = 0;
            return E_OUTOFMEMORY;
        }
        pages->pElems[0] = CLSID_AvCameraControlsPage;
        return S_OK;
    }

    // IAvDeviceControls: a real camera's V4L2 controls, or the simulated camera's colour stage.
    HRESULT GetControls(std::vector<AvDeviceControl>* controls) override {
        if (!controls) return E_POINTER;
        if (FV4l2) return FV4l2->GetControls(controls);
        controls->clear();
        for (const SimControl& c : kSimControls) {
            AvDeviceControl d;
            d.id = c.id;
            d.name = c.name;
            d.minimum = c.minimum;
            d.maximum = c.maximum;
            d.defaultValue = c.defaultValue;
            controls->push_back(d);
        }
        return S_OK;
    }
    HRESULT GetValue(DWORD id, LONG* value) override {
        if (!value) return E_POINTER;
        if (FV4l2) return FV4l2->GetValue(id, value);
        if (id >= FControlValues.size()) return E_INVALIDARG;
        *value = FControlValues[id];
        return S_OK;
    }
    HRESULT SetValue(DWORD id, LONG value) override {
        if (FV4l2) return FV4l2->SetValue(id, value);
        if (id >= FControlValues.size()) return E_INVALIDARG;
        const SimControl& c = kSimControls[id];
        FControlValues[id] = std::clamp(value, c.minimum, c.maximum);
        ApplyControls();
        return S_OK;
    }

    bool Build(HRESULT* hr) {
        if (FDevice.formats.empty()) {
            *hr = VFW_E_NO_TYPES;
            return false;
        }
        *hr = Rebuild(FCurrent);
        return SUCCEEDED(*hr);
    }

    bool HasStreamConfig() const override { return true; }
    std::vector<VideoFormat> Formats() const override { return FDevice.formats; }
    VideoFormat CurrentFormat() const override { return FCurrent; }

    HRESULT SetCurrentFormat(const VideoFormat& f) override {
        FILTER_STATE state = State_Stopped;
        GetState(0, &state);
        if (state != State_Stopped) return VFW_E_NOT_STOPPED;
        if (f == FCurrent && FSource) return S_OK;
        const HRESULT hr = Rebuild(f);
        if (FAILED(hr)) return hr;
        FCurrent = f;
        for (AvPin* p : Pins())
            p->RefreshConnectionType();
        return S_OK;
    }

    bool HasControls() const { return FControlElement != nullptr; }

    // Whether this filter has reported its device lost (once per loss).
    bool MarkLostReported() { return !FLostReported.exchange(true); }

private:
    HRESULT Rebuild(const VideoFormat& f) {
        GstElement* source = FBackend->CreateSource(FDevice.path, f);
        if (!source) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        if (FSource) {
            gst_element_set_state(FSource, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(Element()), FSource);
        }
        FSource = source;
        gst_bin_add(GST_BIN(Element()), FSource);
        GstCaps* caps = CapsFromFormat(f);
        g_object_set(FCapsFilter, "caps", caps, nullptr);
        gst_caps_unref(caps);
        if (!gst_element_link(FSource, FCapsFilter)) return VFW_E_INVALIDMEDIATYPE;
        gst_element_sync_state_with_parent(FSource);
        if (FControlElement) gst_object_unref(FControlElement);
        FControlElement =
            GST_IS_BIN(FSource) ? gst_bin_get_by_name(GST_BIN(FSource), "controls") : nullptr;
        ApplyControls();
        return S_OK;
    }

    struct SimControl {
        DWORD id;
        const char* name;
        const char* property;
        LONG minimum, maximum, defaultValue;
        double scale;
    };
    static constexpr SimControl kSimControls[] = {
        {0, "Brightness", "brightness", -100, 100, 0, 100.0},
        {1, "Contrast", "contrast", 0, 200, 100, 100.0},
        {2, "Hue", "hue", -180, 180, 0, 180.0},
        {3, "Saturation", "saturation", 0, 200, 100, 100.0},
    };

    void ApplyControls() {
        if (!FControlElement) return;
        for (const SimControl& c : kSimControls)
            g_object_set(FControlElement, c.property, FControlValues[c.id] / c.scale, nullptr);
    }

    HRESULT QueryExtra(REFIID riid, void** ppv) override {
        if (!(riid == IID_ISpecifyPropertyPages) && !(riid == IID_IAvDeviceControls))
            return E_NOINTERFACE;
        if (!FControlElement && !V4l2Controls()) return E_NOINTERFACE;
        if (riid == IID_ISpecifyPropertyPages)
            *ppv = static_cast<ISpecifyPropertyPages*>(this);
        else if (riid == IID_IAvDeviceControls)
            *ppv = static_cast<IAvDeviceControls*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    // The camera's device node is opened when its controls are first asked for (the driver
    // allows that beside the streaming source).
    IAvDeviceControls* V4l2Controls() {
        if (!FV4l2Tried) {
            FV4l2Tried = true;
            FV4l2 = CreateV4l2Controls(OpenV4l2Device(FBackend->ControlNode(FDevice.path)));
        }
        return FV4l2.Get();
    }

    void OnJoin(const std::shared_ptr<GraphEvents>& events) override {
        std::lock_guard g(FEventsLock);
        FEvents = events;
    }

    // Any thread (the backend's listener).
    void DeviceChanged(bool arrived) {
        if (!arrived) FLost = true;
        std::shared_ptr<GraphEvents> events;
        {
            std::lock_guard g(FEventsLock);
            events = FEvents;
        }
        if (!events) return;
        if (!arrived && !MarkLostReported()) return;
        if (arrived && !FLost) return;
        if (arrived) FLostReported = false;
        AddRef(); // released by FreeEventParams
        events->Push(
            EC_DEVICE_LOST,
            reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))),
            arrived ? 1 : 0);
        events->Log("device " + std::string(arrived ? "arrived: " : "lost: ") + FDevice.path);
    }

    std::shared_ptr<IVideoBackend> FBackend;
    VideoDevice FDevice;
    VideoFormat FCurrent;
    GstElement* FCapsFilter = nullptr;
    GstElement* FSource = nullptr;
    GstElement* FControlElement = nullptr;
    std::vector<LONG> FControlValues{0, 100, 0, 100};
    bool FV4l2Tried = false;
    ComPtr<IAvDeviceControls> FV4l2;
    int FListener = 0;
    std::atomic<bool> FLost{false};
    std::atomic<bool> FLostReported{false};
    std::mutex FEventsLock;
    std::shared_ptr<GraphEvents> FEvents;
};
} // namespace

ComPtr<IBaseFilter> CreateCaptureFilter(const std::shared_ptr<IVideoBackend>& backend,
                                        const VideoDevice& device, HRESULT* hr) {
    auto filter = MakeCom<CaptureFilter>(backend, device);
    if (!filter->Build(hr)) return nullptr;
    return ComPtr<IBaseFilter>(filter.Get());
}

// Called by the graph's bus handler (a GStreamer thread) for a resource error inside a capture
// filter: true when the loss is news.
bool AvCaptureLost(GstElement* captureBin) {
    auto* f =
        static_cast<CaptureFilter*>(g_object_get_data(G_OBJECT(captureBin), "avsetup-capture"));
    return f && f->MarkLostReported();
}
