// The filter graph (a GStreamer pipeline) and the capture graph builder.
#include "platform/dshow/Filters.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
std::string Utf8(const std::u16string& s) {
    return Utf8FromWide(s.c_str());
}

class FilterEnum final : public IEnumFilters {
    AV_UNKNOWN_IMPL(IEnumFilters)
public:
    explicit FilterEnum(std::vector<ComPtr<IBaseFilter>> filters) : FFilters(std::move(filters)) {}
    HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
        if (!filters) return E_POINTER;
        ULONG n = 0;
        while (n < count && FPos < FFilters.size())
            filters[n++] = ComPtr<IBaseFilter>(FFilters[FPos++]).Detach();
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        FPos = std::min(FFilters.size(), FPos + count);
        return FPos < FFilters.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        FPos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumFilters** copy) override {
        if (!copy) return E_POINTER;
        auto c = MakeCom<FilterEnum>(FFilters);
        c->FPos = FPos;
        *copy = c.Detach();
        return S_OK;
    }

private:
    std::vector<ComPtr<IBaseFilter>> FFilters;
    std::size_t FPos = 0;
};

// The result for a GStreamer error, so that a busy or vanished camera reads as such.
HRESULT ResultOfError(const GError* e, const char* debug) {
    if (e && e->domain == GST_STREAM_ERROR && debug && std::strstr(debug, "not-negotiated"))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (e && e->domain == GST_RESOURCE_ERROR) {
        switch (e->code) {
        case GST_RESOURCE_ERROR_BUSY:
            return HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
        case GST_RESOURCE_ERROR_NOT_FOUND:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_READ:
            return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
        default:
            break;
        }
    }
    if (e && e->domain == GST_CORE_ERROR && e->code == GST_CORE_ERROR_NEGOTIATION)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (e && e->domain == GST_STREAM_ERROR && e->code == GST_STREAM_ERROR_FORMAT)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return E_FAIL;
}

// The capture filter's bin that holds an element, or nullptr.
GstElement* CaptureBinOf(GstObject* object) {
    GstObject* o = object ? GST_OBJECT(gst_object_ref(object)) : nullptr;
    while (o) {
        if (GST_IS_ELEMENT(o) && g_object_get_data(G_OBJECT(o), "avsetup-capture")) {
            GstElement* bin = GST_ELEMENT(o);
            gst_object_unref(o);
            return bin; // the graph holds it while its pipeline runs
        }
        GstObject* parent = gst_object_get_parent(o);
        gst_object_unref(o);
        o = parent;
    }
    return nullptr;
}
} // namespace

// ---- The graph ----------------------------------------------------------------------------------

class AvGraph final : public IFilterGraph2,
                      public IMediaControl,
                      public IMediaEventEx,
                      public IBasicAudio,
                      public IObjectWithSite,
                      public IServiceProvider,
                      public IAvGraphInspect {
    AV_REFCOUNT_IMPL
public:
    AvGraph() {
        EnsureGStreamer();
        FPipeline = gst_pipeline_new(nullptr);
        gst_object_ref_sink(FPipeline);
        FEvents = std::make_shared<GraphEvents>();
        GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(FPipeline));
        gst_bus_set_sync_handler(bus, &AvGraph::OnBusMessage, FEvents.get(), nullptr);
        gst_object_unref(bus);
    }

    ~AvGraph() {
        gst_element_set_state(FPipeline, GST_STATE_NULL);
        while (!FFilters.empty())
            RemoveFilter(FFilters.back().filter.Get());
        GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(FPipeline));
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(FPipeline);
        FEvents->Clear();
        SetDumpFile({});
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_AvGraphImpl) {
            if (!ppv) return E_POINTER;
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return QueryInterfaceTable<AvGraph, IFilterGraph2, IGraphBuilder, IFilterGraph,
                                   IMediaControl, IMediaEventEx, IMediaEvent, IBasicAudio,
                                   IObjectWithSite, IServiceProvider, IAvGraphInspect>(this, riid,
                                                                                       ppv);
    }

    std::shared_ptr<GraphEvents> Events() const { return FEvents; }
    GstElement* Pipeline() const { return FPipeline; }

    // ---- IFilterGraph
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
        if (!filter) return E_POINTER;
        AvFilter* f = AsAvFilter(filter);
        if (!f || !f->Element()) return E_INVALIDARG; // only this platform's filters run here
        if (f->Graph()) return E_INVALIDARG;          // in a graph already
        std::u16string unique = name && *name ? std::u16string(name) : std::u16string(u"Filter");
        HRESULT result = S_OK;
        if (FindByName(unique)) {
            result = VFW_S_DUPLICATE_NAME;
            for (int i = 1;; ++i) {
                char suffix[16];
                std::snprintf(suffix, sizeof suffix, " %04d", i);
                std::u16string candidate = unique + WideFromUtf8(suffix);
                if (!FindByName(candidate)) {
                    unique = candidate;
                    break;
                }
            }
        }
        // The element carries the filter's name, so that graph files read like the graph.
        if (!GST_OBJECT_PARENT(f->Element())) {
            std::string elementName = Utf8(unique);
            for (int i = 1;; ++i) {
                GstElement* taken = gst_bin_get_by_name(GST_BIN(FPipeline), elementName.c_str());
                if (!taken) break;
                gst_object_unref(taken);
                elementName = Utf8(unique) + "-" + std::to_string(i);
            }
            gst_object_set_name(GST_OBJECT(f->Element()), elementName.c_str());
        }
        if (!gst_bin_add(GST_BIN(FPipeline), f->Element())) return E_FAIL;
        FFilters.push_back({ComPtr<IBaseFilter>(filter), f, unique});
        f->JoinFilterGraph(static_cast<IFilterGraph*>(this), unique.c_str());
        gst_element_set_locked_state(f->Element(), TRUE);
        Log("added filter \"" + Utf8(unique) + "\"");
        Changed();
        return result;
    }

    HRESULT RemoveFilter(IBaseFilter* filter) override {
        if (!filter) return E_POINTER;
        auto it = std::find_if(FFilters.begin(), FFilters.end(),
                               [&](const Entry& e) { return SameObject(e.filter.Get(), filter); });
        if (it == FFilters.end()) return VFW_E_NOT_FOUND;
        Entry e = *it;
        FFilters.erase(it);
        for (AvPin* p : e.impl->Pins())
            p->ForceDisconnect();
        gst_element_set_locked_state(e.impl->Element(), TRUE);
        gst_element_set_state(e.impl->Element(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(FPipeline), e.impl->Element());
        e.impl->JoinFilterGraph(nullptr, nullptr);
        Log("removed filter \"" + Utf8(e.name) + "\"");
        Changed();
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters** filters) override {
        if (!filters) return E_POINTER;
        std::vector<ComPtr<IBaseFilter>> list;
        for (auto& e : FFilters)
            list.push_back(e.filter);
        *filters = MakeCom<FilterEnum>(std::move(list)).Detach();
        return S_OK;
    }

    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
        if (!name || !filter) return E_POINTER;
        *filter = nullptr;
        if (const Entry* e = FindByName(name)) {
            *filter = ComPtr<IBaseFilter>(e->filter).Detach();
            return S_OK;
        }
        return VFW_E_NOT_FOUND;
    }

    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
        if (!out || !in) return E_POINTER;
        const HRESULT hr = out->Connect(in, mt);
        LogConnect(out, in, hr);
        if (SUCCEEDED(hr)) Changed();
        return hr;
    }

    HRESULT Reconnect(IPin* pin) override { return ReconnectEx(pin, nullptr); }

    HRESULT Disconnect(IPin* pin) override {
        if (!pin) return E_POINTER;
        const HRESULT hr = pin->Disconnect();
        if (hr == S_OK) Changed();
        return hr;
    }

    HRESULT SetDefaultSyncSource() override { return S_OK; }

    // ---- IGraphBuilder
    HRESULT Connect(IPin* out, IPin* in) override {
        if (!out || !in) return E_POINTER;
        const HRESULT hr = ConnectThrough(out, in, 3);
        LogConnect(out, in, hr);
        Changed();
        return hr;
    }

    HRESULT Render(IPin* out) override {
        if (!out) return E_POINTER;
        ComPtr<IBaseFilter> renderer;
        HRESULT hr = CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(renderer));
        if (SUCCEEDED(hr)) hr = AddFilter(renderer.Get(), u"Video Renderer");
        if (SUCCEEDED(hr)) {
            AvFilter* r = AsAvFilter(renderer.Get());
            hr = r->Pins().empty() ? VFW_E_CANNOT_RENDER : Connect(out, r->Pins().front());
            if (FAILED(hr)) RemoveFilter(renderer.Get());
        }
        if (FAILED(hr)) {
            UnableToRender(out);
            return VFW_E_CANNOT_RENDER;
        }
        return hr;
    }

    HRESULT RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** filter) override {
        if (filter) *filter = nullptr;
        return E_NOTIMPL;
    }

    HRESULT SetLogFile(DWORD_PTR file) override {
        // 0 closes logging; anything else is a writable file descriptor.
        FEvents->SetLogFile(file ? int(file) : -1);
        Log("log started");
        return S_OK;
    }

    HRESULT Abort() override { return S_OK; }
    HRESULT ShouldOperationContinue() override { return S_OK; }

    // ---- IFilterGraph2
    HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx*, LPCWSTR name,
                                      IBaseFilter** filter) override {
        if (!moniker || !filter) return E_POINTER;
        *filter = nullptr;
        ComPtr<IBaseFilter> f;
        HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(f));
        if (FAILED(hr)) return hr;
        hr = AddFilter(f.Get(), name);
        if (FAILED(hr)) return hr;
        *filter = f.Detach();
        return hr;
    }

    HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) override {
        AvPin* p = AsAvPin(pin);
        if (!p) return E_INVALIDARG;
        AvPin* peer = p->Peer();
        if (!peer) return VFW_E_NOT_CONNECTED;
        AvPin* out = p->Direction() == PINDIR_OUTPUT ? p : peer;
        AvPin* in = out == p ? peer : p;
        ComPtr<IPin> keepOut(out), keepIn(in);
        HRESULT hr = out->Disconnect();
        if (FAILED(hr)) return hr;
        hr = out->Connect(in, mt);
        Changed();
        return hr;
    }

    HRESULT RenderEx(IPin* out, DWORD, DWORD*) override { return Render(out); }

    // ---- IMediaControl
    HRESULT Run() override {
        FEvents->TakeLastError();
        // A filter with nothing connected would wait for data that never comes: it stays stopped.
        for (auto& e : FFilters) {
            const bool idle = !e.impl->AnyPinConnected();
            gst_element_set_locked_state(e.impl->Element(), idle);
            if (idle) gst_element_set_state(e.impl->Element(), GST_STATE_NULL);
        }
        GstStateChangeReturn r = gst_element_set_state(FPipeline, GST_STATE_PLAYING);
        if (r == GST_STATE_CHANGE_ASYNC) {
            // A camera that cannot start says so within this bound; a slow one keeps going.
            r = gst_element_get_state(FPipeline, nullptr, nullptr, 2 * GST_SECOND);
        }
        if (r == GST_STATE_CHANGE_FAILURE) {
            // The failing element's own error may reach the bus a moment after its state
            // change has failed: it says what happened (a busy camera) better than E_FAIL.
            HRESULT hr = FEvents->TakeLastError(500);
            if (hr == S_OK) hr = E_FAIL;
            gst_element_set_state(FPipeline, GST_STATE_NULL);
            Log("run failed");
            return hr;
        }
        Log("running");
        Changed();
        return r == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
    }

    HRESULT Pause() override {
        const GstStateChangeReturn r = gst_element_set_state(FPipeline, GST_STATE_PAUSED);
        if (r == GST_STATE_CHANGE_FAILURE) {
            const HRESULT hr = FEvents->TakeLastError();
            return hr == S_OK ? E_FAIL : hr;
        }
        Log("paused");
        return r == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
    }

    HRESULT Stop() override {
        gst_element_set_state(FPipeline, GST_STATE_NULL);
        for (auto& e : FFilters) {
            gst_element_set_state(e.impl->Element(), GST_STATE_NULL);
            gst_element_set_locked_state(e.impl->Element(), FALSE);
        }
        Log("stopped");
        Changed();
        return S_OK;
    }

    HRESULT GetState(LONG msTimeout, OAFilterState* state) override {
        if (!state) return E_POINTER;
        GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
        const GstStateChangeReturn r = gst_element_get_state(
            FPipeline, &current, &pending,
            msTimeout < 0 ? GST_CLOCK_TIME_NONE : GstClockTime(msTimeout) * GST_MSECOND);
        auto map = [](GstState s) {
            return s == GST_STATE_PLAYING  ? State_Running
                   : s == GST_STATE_PAUSED ? State_Paused
                                           : State_Stopped;
        };
        if (r == GST_STATE_CHANGE_ASYNC && pending != GST_STATE_VOID_PENDING) {
            *state = map(pending);
            return VFW_S_STATE_INTERMEDIATE;
        }
        *state = map(current);
        return S_OK;
    }

    HRESULT StopWhenReady() override { return Stop(); }

    // ---- IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* handle) override {
        if (handle) *handle = 0;
        return E_NOTIMPL;
    }
    HRESULT GetEvent(long* code, LONG_PTR* p1, LONG_PTR* p2, long msTimeout) override {
        if (!code || !p1 || !p2) return E_POINTER;
        return FEvents->Pop(code, p1, p2, msTimeout) ? S_OK : E_ABORT;
    }
    HRESULT WaitForCompletion(long, long* code) override {
        if (code) *code = 0;
        return E_NOTIMPL;
    }
    HRESULT CancelDefaultHandling(long) override { return S_OK; }
    HRESULT RestoreDefaultHandling(long) override { return S_OK; }
    HRESULT FreeEventParams(long code, LONG_PTR p1, LONG_PTR p2) override {
        FreeEventParamsOf(code, p1, p2);
        return S_OK;
    }
    HRESULT SetNotifyWindow(OAHWND hwnd, long msg, LONG_PTR instance) override {
        FEvents->SetWindow(reinterpret_cast<HWND>(hwnd), UINT(msg), instance);
        return S_OK;
    }
    HRESULT SetNotifyFlags(long flags) override {
        if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
        FEvents->SetFlags(flags);
        return S_OK;
    }
    HRESULT GetNotifyFlags(long* flags) override {
        if (!flags) return E_POINTER;
        *flags = FEvents->Flags();
        return S_OK;
    }

    // ---- IBasicAudio: the graph renders no audio, so the values are only kept.
    HRESULT put_Volume(long volume) override {
        if (volume < -10000 || volume > 0) return E_INVALIDARG;
        FVolume = volume;
        return S_OK;
    }
    HRESULT get_Volume(long* volume) override {
        if (!volume) return E_POINTER;
        *volume = FVolume;
        return S_OK;
    }
    HRESULT put_Balance(long balance) override {
        if (balance < -10000 || balance > 10000) return E_INVALIDARG;
        FBalance = balance;
        return S_OK;
    }
    HRESULT get_Balance(long* balance) override {
        if (!balance) return E_POINTER;
        *balance = FBalance;
        return S_OK;
    }

    // ---- IObjectWithSite, IServiceProvider
    HRESULT SetSite(IUnknown* site) override {
        FSite = site;
        return S_OK;
    }
    HRESULT GetSite(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!FSite) return E_FAIL;
        return FSite->QueryInterface(riid, ppv);
    }
    HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (auto sp = FSite.As<IServiceProvider>()) return sp->QueryService(service, riid, ppv);
        return E_NOINTERFACE;
    }

    // ---- IAvGraphInspect
    void SetDumpFile(const std::string& path) override {
        if (!FDumpPath.empty() && FDumpPath != path)
            QFile::remove(QString::fromStdString(FDumpPath));
        FDumpPath = path;
        Changed();
    }

    // ---- For the builders
    HRESULT ConnectThrough(IPin* out, IPin* in, int depth) {
        HRESULT hr = out->Connect(in, nullptr);
        if (SUCCEEDED(hr) || depth <= 0 || hr == VFW_E_ALREADY_CONNECTED ||
            hr == VFW_E_NOT_STOPPED || hr == VFW_E_NOT_IN_GRAPH || hr == VFW_E_INVALID_DIRECTION)
            return hr;
        auto builderCb = FSite.As<IAMGraphBuilderCallback>();
        for (const AvClassInfo& c : AvClasses()) {
            if (!c.converter) continue;
            if (builderCb) {
                ComPtr<IMoniker> moniker;
                AvCreateClassMoniker(c, moniker.ReleaseAndGetAddressOf());
                if (FAILED(builderCb->SelectedFilter(moniker.Get()))) continue;
            }
            ComPtr<IBaseFilter> conv;
            if (FAILED(AvCreateInstance(*c.clsid, IID_PPV_ARGS(conv)))) continue;
            if (builderCb && FAILED(builderCb->CreatedFilter(conv.Get()))) continue;
            if (FAILED(AddFilter(conv.Get(), c.friendlyName))) continue;
            AvFilter* f = AsAvFilter(conv.Get());
            AvPin* convIn = nullptr;
            AvPin* convOut = nullptr;
            for (AvPin* p : f->Pins())
                (p->Direction() == PINDIR_INPUT ? convIn : convOut) = p;
            if (convIn && convOut && SUCCEEDED(out->Connect(convIn, nullptr)) &&
                SUCCEEDED(ConnectThrough(convOut, in, depth - 1)))
                return S_OK;
            RemoveFilter(conv.Get());
        }
        return VFW_E_CANNOT_CONNECT;
    }

    void UnableToRender(IPin* pin) {
        if (auto cb = FSite.As<IAMFilterGraphCallback>()) cb->UnableToRender(pin);
    }

    void Log(const std::string& line) { FEvents->Log(line); }

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        AvFilter* impl;
        std::u16string name;
    };

    const Entry* FindByName(const std::u16string& name) const {
        for (auto& e : FFilters)
            if (e.name == name) return &e;
        return nullptr;
    }

    void LogConnect(IPin* out, IPin* in, HRESULT hr) {
        AvPin* o = AsAvPin(out);
        AvPin* i = AsAvPin(in);
        if (!o || !i) return;
        char code[16];
        std::snprintf(code, sizeof code, "%08X", unsigned(hr));
        Log("connect \"" + Utf8(o->Filter()->FilterName()) + "\"." + Utf8(o->Name()) + " -> \"" +
            Utf8(i->Filter()->FilterName()) + "\"." + Utf8(i->Name()) + ": " + code);
    }

    // The structure changed: keep the inspection file current.
    void Changed() {
        if (FDumpPath.empty()) return;
        gchar* dot = gst_debug_bin_to_dot_data(GST_BIN(FPipeline), GST_DEBUG_GRAPH_SHOW_ALL);
        QFile file(QString::fromStdString(FDumpPath));
        if (dot && file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(dot);
        g_free(dot);
    }

    // GStreamer's threads: bus messages become graph events.
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer data) {
        auto* events = static_cast<GraphEvents*>(data);
        switch (GST_MESSAGE_TYPE(msg)) {
        case GST_MESSAGE_EOS:
            events->Push(EC_COMPLETE, S_OK, 0);
            break;
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(msg, &error, &debug);
            const HRESULT hr = ResultOfError(error, debug);
            events->SetLastError(hr);
            events->Log(std::string("error: ") + (error ? error->message : "?") + " (" +
                        (debug ? debug : "") + ")");
            GstElement* capture = CaptureBinOf(GST_MESSAGE_SRC(msg));
            // A camera in use by another program is there all the same: that is no loss.
            if (capture && error && error->domain == GST_RESOURCE_ERROR &&
                error->code != GST_RESOURCE_ERROR_BUSY) {
                if (AvCaptureLost(capture)) {
                    AvFilter* f = static_cast<AvFilter*>(
                        g_object_get_data(G_OBJECT(capture), "avsetup-filter"));
                    f->AddRef(); // released by FreeEventParams
                    events->Push(EC_DEVICE_LOST,
                                 reinterpret_cast<LONG_PTR>(
                                     static_cast<IUnknown*>(static_cast<IBaseFilter*>(f))),
                                 0);
                }
            } else {
                events->Push(EC_ERRORABORT, hr, 0);
            }
            g_clear_error(&error);
            g_free(debug);
            break;
        }
        default:
            break;
        }
        // A sync handler that drops a message owns it: kept, every message would hold its
        // element (and so the whole graph) alive.
        gst_message_unref(msg);
        return GST_BUS_DROP;
    }

    GstElement* FPipeline = nullptr;
    std::shared_ptr<GraphEvents> FEvents;
    std::vector<Entry> FFilters;
    ComPtr<IUnknown> FSite;
    long FVolume = 0, FBalance = 0;
    std::string FDumpPath;
};

AvGraph* AsAvGraph(IUnknown* unknown) {
    if (!unknown) return nullptr;
    void* p = nullptr;
    if (FAILED(unknown->QueryInterface(IID_AvGraphImpl, &p)) || !p) return nullptr;
    auto* g = static_cast<AvGraph*>(p);
    g->Release();
    return g;
}

IFilterGraph* AvGraphInterface(AvGraph* graph) {
    return static_cast<IFilterGraph*>(graph);
}
std::shared_ptr<GraphEvents> AvGraphEvents(AvGraph* graph) {
    return graph->Events();
}

// ---- The capture graph builder ------------------------------------------------------------------
namespace {
class CaptureBuilder final : public ICaptureGraphBuilder2 {
    AV_UNKNOWN_IMPL(ICaptureGraphBuilder2)
public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        if (!graph) return E_POINTER;
        if (FGraph) return E_UNEXPECTED;
        if (!AsAvGraph(graph)) return E_INVALIDARG;
        FGraph = graph;
        return S_OK;
    }

    HRESULT GetFiltergraph(IGraphBuilder** graph) override {
        if (!graph) return E_POINTER;
        if (!FGraph) {
            HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_PPV_ARGS(FGraph));
            if (FAILED(hr)) return hr;
        }
        *graph = ComPtr<IGraphBuilder>(FGraph).Detach();
        return S_OK;
    }

    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                          void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!filter) return E_POINTER;
        if (!category && SUCCEEDED(filter->QueryInterface(riid, ppv))) return S_OK;
        AvFilter* f = AsAvFilter(filter);
        if (!f) return E_NOINTERFACE;
        for (AvPin* p : f->Pins()) {
            if (!PinMatches(p, PINDIR_OUTPUT, category, type, false) &&
                !PinMatches(p, PINDIR_INPUT, category, type, false))
                continue;
            if (SUCCEEDED(p->QueryInterface(riid, ppv))) return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                         IBaseFilter* intermediate, IBaseFilter* sink) override {
        if (!source) return E_POINTER;
        if (!FGraph) return E_UNEXPECTED;
        AvGraph* graph = AsAvGraph(FGraph.Get());
        HRESULT result = S_OK;
        AvPin* out = AsAvPin(source);
        if (out) {
            if (out->Direction() != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
        } else {
            AvFilter* f = AsAvFilter(source);
            if (!f) return E_INVALIDARG;
            out = FindOne(f, PINDIR_OUTPUT, category, type);
            if (!out && category && *category == PIN_CATEGORY_PREVIEW) {
                // No preview pin: the capture pin shows the preview.
                out = FindOne(f, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, type);
                if (out) result = VFW_S_NOPREVIEWPIN;
            }
            if (!out) return E_FAIL;
        }
        IPin* from = out;
        if (intermediate) {
            AvFilter* mid = AsAvFilter(intermediate);
            if (!mid) return E_INVALIDARG;
            AvPin* midIn = FindOne(mid, PINDIR_INPUT, nullptr, nullptr);
            AvPin* midOut = FindOne(mid, PINDIR_OUTPUT, nullptr, nullptr);
            if (!midIn) return E_FAIL;
            HRESULT hr = FGraph->Connect(from, midIn);
            if (FAILED(hr)) return hr;
            if (!midOut) return sink ? E_INVALIDARG : result;
            from = midOut;
        }
        if (!sink) {
            const HRESULT hr = FGraph->Render(from);
            return FAILED(hr) ? hr : result;
        }
        AvFilter* s = AsAvFilter(sink);
        if (!s) return E_INVALIDARG;
        AvPin* in = FindOne(s, PINDIR_INPUT, nullptr, nullptr);
        if (!in) return E_FAIL;
        const HRESULT hr = FGraph->Connect(from, in);
        if (FAILED(hr)) {
            graph->UnableToRender(from);
            return hr;
        }
        return result;
    }

    HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                    BOOL unconnected, int index, IPin** pin) override {
        if (!pin) return E_POINTER;
        *pin = nullptr;
        AvFilter* f = AsAvFilter(source);
        if (!f) return E_INVALIDARG;
        int n = 0;
        for (AvPin* p : f->Pins()) {
            if (!PinMatches(p, dir, category, type, unconnected)) continue;
            if (n++ == index) {
                *pin = ComPtr<IPin>(p).Detach();
                return S_OK;
            }
        }
        return E_FAIL;
    }

private:
    static bool PinMatches(AvPin* p, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                           bool unconnected) {
        if (p->Direction() != dir) return false;
        if (unconnected && p->Peer()) return false;
        if (category && (!p->Category() || !(*p->Category() == *category))) return false;
        if (type && !(*type == GUID_NULL) && !(*type == MEDIATYPE_Video)) return false;
        return true;
    }

    static AvPin* FindOne(AvFilter* f, PIN_DIRECTION dir, const GUID* category, const GUID* type) {
        for (AvPin* p : f->Pins())
            if (PinMatches(p, dir, category, type, true)) return p;
        return nullptr;
    }

    ComPtr<IGraphBuilder> FGraph;
};
} // namespace

ComPtr<IUnknown> AvCreateGraph() {
    return ComPtr<IUnknown>(static_cast<IFilterGraph2*>(new AvGraph));
}

ComPtr<IUnknown> AvCreateCaptureBuilder() {
    return ComPtr<IUnknown>(new CaptureBuilder);
}
