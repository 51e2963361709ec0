#include "video/Capkit.h"

#include <algorithm>
#include <cmath>
#include <unistd.h>

// ---- TFilterGraph -------------------------------------------------------------------------------

TFilterGraph::TFilterGraph(TComponent* AOwner) : TNonVisualComponent(AOwner) {
    FWindow = std::make_unique<TMessageWindow>([this](TMessage& m) { WndProc(m); });
}

TFilterGraph::~TFilterGraph() {
    Deactivate();
    FWindow.reset();
}

void TFilterGraph::BeforeDestruction() {
    // While the component is whole: the clients hear of the removal of their filters.
    Deactivate();
    TNonVisualComponent::BeforeDestruction();
}

void TFilterGraph::Loaded() {
    TNonVisualComponent::Loaded();
    if (FAutoCreate && !IsDesigning()) SetActive(true);
}

void TFilterGraph::SetActive(bool value) {
    if (value == FActive) return;
    if (value)
        Activate();
    else
        Deactivate();
}

void TFilterGraph::Activate() {
    HRESULT hr = S_OK;
    switch (FMode) {
    case gmNormal:
        hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(FGraph));
        break;
    case gmCapture:
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(FCaptureBuilder));
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(FGraph));
        if (SUCCEEDED(hr)) hr = FCaptureBuilder->SetFiltergraph(FGraph.Get());
        break;
    case gmDVD: {
        hr = CoCreateInstance(CLSID_DvdGraphBuilder, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(FDvdBuilder));
        ComPtr<IGraphBuilder> graph;
        if (SUCCEEDED(hr)) hr = FDvdBuilder->GetFiltergraph(graph.ReleaseAndGetAddressOf());
        if (SUCCEEDED(hr)) FGraph = graph.As<IFilterGraph2>();
        break;
    }
    }
    if (FAILED(hr) || !FGraph) {
        // A graph that cannot be made is reported, not pretended.
        FGraph.Reset();
        FCaptureBuilder.Reset();
        FDvdBuilder.Reset();
        CheckDSError(FAILED(hr) ? hr : E_NOINTERFACE);
    }
    FActive = true;

    FMediaEvent = FGraph.As<IMediaEventEx>();
    if (FMediaEvent) {
        FMediaEvent->SetNotifyFlags(0);
        FMediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(FWindow->Handle()), WM_GRAPHNOTIFY,
                                     reinterpret_cast<LONG_PTR>(FMediaEvent.Get()));
    }
    if (auto site = FGraph.As<IObjectWithSite>()) {
        site->SetSite(static_cast<IAMGraphBuilderCallback*>(this));
        site->SetSite(static_cast<IAMFilterGraphCallback*>(this));
    }
    if (FGraphEdit) RegisterRot();
    if (!FLogFileName.isEmpty()) ApplyLogFile(FLogFileName);
    ApplyVolume();
    ApplyBalance();

    const auto clients = FClients;
    for (IFilter* c : clients)
        AddClientFilter(c);
    if (OnActivate) OnActivate(this);
    const auto windows = FWindows;
    for (IEvent* w : windows)
        w->ControlEvent(ceActive, 1);
}

void TFilterGraph::Deactivate() {
    if (!FActive) return;
    const auto windows = FWindows;
    for (IEvent* w : windows)
        w->ControlEvent(ceActive, 0);
    const auto clients = FClients;
    for (IFilter* c : clients)
        RemoveClientFilter(c);
    if (FMediaEvent) {
        FMediaEvent->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
        FMediaEvent->SetNotifyWindow(0, 0, 0);
        FMediaEvent.Reset();
    }
    RevokeRot();
    if (auto builder = FGraph.As<IGraphBuilder>()) builder->SetLogFile(0);
    CloseLog();
    if (auto site = FGraph.As<IObjectWithSite>()) site->SetSite(nullptr);
    FCaptureBuilder.Reset();
    FDvdBuilder.Reset();
    FGraph.Reset();
    FActive = false;
    // Notices still queued for the graph that is gone mean nothing now.
    if (FWindow) FWindow->RemovePending(WM_GRAPHNOTIFY);
}

void TFilterGraph::SetMode(TGraphMode mode) {
    if (mode == FMode) return;
    const bool wasActive = FActive;
    SetActive(false);
    FMode = mode;
    SetActive(wasActive);
}

void TFilterGraph::AddClientFilter(IFilter* client) {
    client->NotifyFilter(foAdding);
    ComPtr<IBaseFilter> filter = client->GetFilter();
    if (filter) {
        const QString name = client->GetName();
        FGraph->AddFilter(filter.Get(), reinterpret_cast<LPCWSTR>(name.utf16()));
    }
    client->NotifyFilter(foAdded);
}

void TFilterGraph::RemoveClientFilter(IFilter* client) {
    client->NotifyFilter(foRemoving);
    if (ComPtr<IBaseFilter> filter = client->GetFilter()) FGraph->RemoveFilter(filter.Get());
    client->NotifyFilter(foRemoved);
}

void TFilterGraph::InsertFilter(IFilter* client) {
    if (!client || std::find(FClients.begin(), FClients.end(), client) != FClients.end()) return;
    FClients.push_back(client);
    if (FActive) AddClientFilter(client);
}

void TFilterGraph::RemoveFilter(IFilter* client) {
    auto it = std::find(FClients.begin(), FClients.end(), client);
    if (it == FClients.end()) return;
    FClients.erase(it);
    if (FActive) RemoveClientFilter(client);
}

void TFilterGraph::InsertEventNotifier(IEvent* window) {
    if (window && std::find(FWindows.begin(), FWindows.end(), window) == FWindows.end())
        FWindows.push_back(window);
}

void TFilterGraph::RemoveEventNotifier(IEvent* window) {
    FWindows.erase(std::remove(FWindows.begin(), FWindows.end(), window), FWindows.end());
}

// ---- Running object table and log --------------------------------------------------------------

void TFilterGraph::RegisterRot() {
    if (!FActive || FRotKey != 0 || !FGraph) return;
    ComPtr<IRunningObjectTable> rot;
    if (FAILED(GetRunningObjectTable(0, rot.ReleaseAndGetAddressOf()))) return;
    char name[128];
    std::snprintf(name, sizeof name, "FilterGraph %p pid %x", static_cast<void*>(FGraph.Get()),
                  unsigned(::getpid()));
    ComPtr<IMoniker> moniker;
    if (FAILED(
            CreateItemMoniker(u"!", WideFromUtf8(name).c_str(), moniker.ReleaseAndGetAddressOf())))
        return;
    DWORD key = 0;
    if (SUCCEEDED(rot->Register(0, FGraph.Get(), moniker.Get(), &key))) FRotKey = key;
}

void TFilterGraph::RevokeRot() {
    if (FRotKey == 0) return;
    ComPtr<IRunningObjectTable> rot;
    if (SUCCEEDED(GetRunningObjectTable(0, rot.ReleaseAndGetAddressOf()))) rot->Revoke(FRotKey);
    FRotKey = 0;
}

void TFilterGraph::SetGraphEdit(bool v) {
    if (!v)
        RevokeRot();
    else
        RegisterRot(); // only while active and not registered yet
    FGraphEdit = v;
}

void TFilterGraph::CloseLog() {
    FLog.reset();
}

bool TFilterGraph::ApplyLogFile(const QString& name) {
    auto builder = FGraph.As<IGraphBuilder>();
    if (!builder) return false;
    auto file = std::make_unique<QFile>(name);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        FAILED(builder->SetLogFile(DWORD_PTR(file->handle())))) {
        builder->SetLogFile(0);
        return false;
    }
    FLog = std::move(file);
    return true;
}

void TFilterGraph::SetLogFile(const QString& name) {
    if (FActive) {
        if (auto builder = FGraph.As<IGraphBuilder>()) builder->SetLogFile(0);
        CloseLog();
        if (!name.isEmpty() && !ApplyLogFile(name)) return; // the old name stays
    }
    FLogFileName = name;
}

// ---- Volume and balance -------------------------------------------------------------------------
namespace {
// ln(x + 1) * 1085.73, rounded: 0 -> 0, 10000 -> 10000.
long LogLaw(int x) {
    return std::lround(std::log(double(x) + 1.0) * 1085.73);
}
} // namespace

void TFilterGraph::ApplyVolume() {
    auto audio = Get<IBasicAudio>();
    if (!audio || !FActive) return;
    audio->put_Volume(FLinearVolume ? std::max(-10000L, LogLaw(FVolume) - 10000) : FVolume - 10000);
}

void TFilterGraph::ApplyBalance() {
    auto audio = Get<IBasicAudio>();
    if (!audio || !FActive) return;
    // With the logarithmic law the balance keeps its side: a balance to the right stays right.
    const long b =
        FLinearVolume ? (FBalance < 0 ? -LogLaw(-FBalance) : LogLaw(FBalance)) : FBalance;
    audio->put_Balance(std::clamp(b, -10000L, 10000L));
}

void TFilterGraph::SetVolume(int v) {
    FVolume = std::clamp(v, 0, 10000);
    ApplyVolume();
}

void TFilterGraph::SetBalance(int v) {
    FBalance = std::clamp(v, -10000, 10000);
    ApplyBalance();
}

void TFilterGraph::SetLinearVolume(bool v) {
    if (v == FLinearVolume) return;
    FLinearVolume = v;
    ApplyVolume();
    ApplyBalance();
}

// ---- Play, stop, clear --------------------------------------------------------------------------

bool TFilterGraph::Play() {
    auto control = Get<IMediaControl>();
    if (!control) return false;
    const auto windows = FWindows;
    for (IEvent* w : windows)
        w->ControlEvent(cePlay);
    return !FAILED(CheckDSError(control->Run()));
}

bool TFilterGraph::Pause() {
    auto control = Get<IMediaControl>();
    if (!control) return false;
    const auto windows = FWindows;
    for (IEvent* w : windows)
        w->ControlEvent(cePause);
    return !FAILED(CheckDSError(control->Pause()));
}

bool TFilterGraph::Stop() {
    auto control = Get<IMediaControl>();
    if (!control) return false;
    const auto windows = FWindows;
    for (IEvent* w : windows)
        w->ControlEvent(ceStop);
    return CheckDSError(control->Stop()) == S_OK;
}

void TFilterGraph::ClearGraph() {
    if (!FGraph) return;
    Stop();
    TFilterList filters(FGraph.Get());
    for (int i = 0; i < filters.Count(); ++i) {
        TPinList pins(filters.Items(i).Get());
        for (int p = 0; p < pins.Count(); ++p)
            CheckDSError(pins.Items(p)->Disconnect());
    }
    for (IFilter* c : FClients)
        if (ComPtr<IBaseFilter> f = c->GetFilter()) filters.Remove(f.Get());
    for (int i = 0; i < filters.Count(); ++i)
        CheckDSError(FGraph->RemoveFilter(filters.Items(i).Get()));
}

// ---- Interfaces ---------------------------------------------------------------------------------

HRESULT TFilterGraph::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IAMGraphBuilderCallback)
        *ppv = static_cast<IAMGraphBuilderCallback*>(this);
    else if (riid == IID_IAMFilterGraphCallback)
        *ppv = static_cast<IAMFilterGraphCallback*>(this);
    else if (riid == IID_IServiceProvider)
        *ppv = static_cast<IServiceProvider*>(this);
    if (*ppv) return S_OK;
    if (!FActive) return E_NOINTERFACE;
    switch (FMode) {
    case gmNormal:
        return FGraph ? FGraph->QueryInterface(riid, ppv) : E_NOINTERFACE;
    case gmCapture:
        if (FCaptureBuilder && SUCCEEDED(FCaptureBuilder->QueryInterface(riid, ppv))) return S_OK;
        return FGraph ? FGraph->QueryInterface(riid, ppv) : E_NOINTERFACE;
    case gmDVD:
        if (FDvdBuilder && SUCCEEDED(FDvdBuilder->QueryInterface(riid, ppv))) return S_OK;
        if (FDvdBuilder && SUCCEEDED(FDvdBuilder->GetDvdInterface(riid, ppv))) return S_OK;
        return FGraph ? FGraph->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    return E_NOINTERFACE;
}

namespace {
QString BagText(IPropertyBag* bag, const char16_t* name) {
    VARIANT v;
    VariantInit(&v);
    QString text;
    if (bag && SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR)
        text = QString::fromUtf16(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return text;
}
} // namespace

HRESULT TFilterGraph::SelectedFilter(IMoniker* moniker) {
    if (!OnSelectedFilter) return S_OK;
    ComPtr<IPropertyBag> bag;
    if (moniker) moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(bag));
    GUID clsid = GUID_NULL;
    const QString clsidText = BagText(bag.Get(), u"CLSID");
    if (clsidText.isEmpty() ||
        FAILED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(clsidText.utf16()), &clsid)))
        clsid = GUID_NULL;
    bool accept = true;
    OnSelectedFilter(this, moniker, BagText(bag.Get(), u"FriendlyName"), clsid, accept);
    return accept ? S_OK : E_FAIL;
}

HRESULT TFilterGraph::CreatedFilter(IBaseFilter* filter) {
    if (!OnCreatedFilter) return S_OK;
    bool accept = true;
    OnCreatedFilter(this, filter, accept);
    return accept ? S_OK : E_FAIL;
}

HRESULT TFilterGraph::UnableToRender(IPin* pin) {
    if (!pin) return E_POINTER;
    // The pin's graph names the component that owns it.
    PIN_INFO pinInfo{};
    if (FAILED(pin->QueryPinInfo(&pinInfo)) || !pinInfo.pFilter) return S_OK;
    ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(pinInfo.pFilter);
    FILTER_INFO filterInfo{};
    if (FAILED(filter->QueryFilterInfo(&filterInfo)) || !filterInfo.pGraph) return S_OK;
    ComPtr<IFilterGraph> graph = ComPtr<IFilterGraph>::Attach(filterInfo.pGraph);
    auto services = graph.As<IServiceProvider>();
    void* component = nullptr;
    if (services &&
        SUCCEEDED(services->QueryService(IID_IFilterGraphComponent, IID_IFilterGraphComponent,
                                         &component)) &&
        component == static_cast<IServiceProvider*>(this) && OnUnableToRender)
        OnUnableToRender(this, pin);
    return S_OK;
}

HRESULT TFilterGraph::QueryService(REFGUID service, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (service == IID_IFilterGraphComponent && riid == IID_IFilterGraphComponent) {
        *ppv = static_cast<IServiceProvider*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

// ---- Events -------------------------------------------------------------------------------------

void TFilterGraph::WndProc(TMessage& m) {
    if (m.Msg != WM_GRAPHNOTIFY) return;
    // Held for the drain: a handler may deactivate the graph.
    ComPtr<IMediaEventEx> events = FMediaEvent;
    if (!events) return;
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (SUCCEEDED(events->GetEvent(&code, &p1, &p2, 0))) {
        try {
            DoEvent(code, p1, p2);
        } catch (...) {
            events->FreeEventParams(code, p1, p2);
            HandleException(this);
            continue;
        }
        events->FreeEventParams(code, p1, p2);
    }
}

namespace {
// Packed decimal digits of a DVD time code: 0xHHMMSSFF.
int Bcd(LONG_PTR v, int shift) {
    const int b = int((v >> shift) & 0xFF);
    return (b >> 4) * 10 + (b & 0x0F);
}
} // namespace

void TFilterGraph::DoEvent(long code, LONG_PTR p1, LONG_PTR p2) {
    const auto windows = FWindows;
    for (IEvent* w : windows)
        w->GraphEvent(code, p1, p2);
    if (OnDSEvent) OnDSEvent(this, code, p1, p2);
    auto fire = [this](const TNotifyEvent& e) {
        if (e) e(this);
    };
    switch (code) {
    case EC_COMPLETE:
        OnGraphComplete(this, HRESULT(p1), reinterpret_cast<IBaseFilter*>(p2));
        break;
    case EC_USERABORT:
        fire(OnGraphUserAbort);
        break;
    case EC_ERRORABORT:
        OnGraphErrorAbort(this, HRESULT(p1));
        break;
    case EC_STREAM_ERROR_STOPPED:
        OnGraphStreamErrorStopped(this, HRESULT(p1), int(p2));
        break;
    case EC_STREAM_ERROR_STILLPLAYING:
        OnGraphStreamErrorStillPlaying(this, HRESULT(p1), int(p2));
        break;
    case EC_ERROR_STILLPLAYING:
        OnGraphErrorStillPlaying(this, HRESULT(p1));
        break;
    case EC_PALETTE_CHANGED:
        fire(OnGraphPaletteChanged);
        break;
    case EC_VIDEO_SIZE_CHANGED:
        OnGraphVideoSizeChanged(this, int(p1 & 0xFFFF), int((p1 >> 16) & 0xFFFF));
        break;
    case EC_QUALITY_CHANGE:
        fire(OnGraphQualityChange);
        break;
    case EC_CLOCK_CHANGED:
        fire(OnGraphClockChanged);
        break;
    case EC_PAUSED:
        OnGraphPaused(this, HRESULT(p1));
        break;
    case EC_OPENING_FILE:
        OnGraphOpeningFile(this, p1 != 0);
        break;
    case EC_BUFFERING_DATA:
        OnGraphBufferingData(this, p1 != 0);
        break;
    case EC_FULLSCREEN_LOST:
        OnGraphFullscreenLost(this, reinterpret_cast<IBaseFilter*>(p2));
        break;
    case EC_OLE_EVENT:
        OnGraphOleEvent(this, QString::fromUtf16(reinterpret_cast<const char16_t*>(p1)),
                        QString::fromUtf16(reinterpret_cast<const char16_t*>(p2)));
        break;
    case EC_STREAM_CONTROL_STOPPED:
        OnGraphStreamControlStopped(this, reinterpret_cast<IPin*>(p1), int(p2));
        break;
    case EC_STREAM_CONTROL_STARTED:
        OnGraphStreamControlStarted(this, reinterpret_cast<IPin*>(p1), int(p2));
        break;
    case EC_END_OF_SEGMENT:
        OnGraphEndOfSegment(this, p1 ? *reinterpret_cast<REFERENCE_TIME*>(p1) : 0, int(p2));
        break;
    case EC_DEVICE_LOST:
        OnGraphDeviceLost(this, reinterpret_cast<IUnknown*>(p1), p2 == 1);
        break;
    case EC_STEP_COMPLETE:
        fire(OnGraphStepComplete);
        break;
    case EC_TIMECODE_AVAILABLE:
        OnGraphTimeCodeAvailable(this, reinterpret_cast<IBaseFilter*>(p1), int(p2));
        break;
    case EC_EXTDEVICE_MODE_CHANGE:
        OnGraphEXTDeviceModeChange(this, int(p1), int(p2));
        break;
    case EC_GRAPH_CHANGED:
        fire(OnGraphChanged);
        break;
    case EC_CLOCK_UNSET:
        fire(OnGraphClockUnset);
        break;
    case EC_VMR_RENDERDEVICE_SET:
        OnGraphVMRRenderDevice(this, int(p1));
        break;
    case EC_DVDBASE + 0x01:
        switch (p1) {
        case 1:
            fire(OnDVDDomainFirstPlay);
            break;
        case 2:
            fire(OnDVDDomainVideoManagerMenu);
            break;
        case 3:
            fire(OnDVDDomainVideoTitleSetMenu);
            break;
        case 4:
            fire(OnDVDDomainTitle);
            break;
        case 5:
            fire(OnDVDDomainStop);
            break;
        default:
            break;
        }
        break;
    case EC_DVDBASE + 0x02:
        OnDVDTitleChange(this, int(p1));
        break;
    case EC_DVDBASE + 0x03:
        OnDVDChapterStart(this, int(p1));
        break;
    // The stream languages come from DVD navigation, which this platform does not have.
    case EC_DVDBASE + 0x04:
        OnDVDAudioStreamChange(this, int(p1), QString());
        break;
    case EC_DVDBASE + 0x05:
        OnDVDSubpictureStreamChange(this, int(p1), QString());
        break;
    case EC_DVDBASE + 0x06:
        OnDVDAngleChange(this, int(p1), int(p2));
        break;
    case EC_DVDBASE + 0x07:
        OnDVDButtonChange(this, int(p1), int(p2));
        break;
    case EC_DVDBASE + 0x08:
        OnDVDValidUOPSChange(this, int(p1));
        break;
    case EC_DVDBASE + 0x09:
        OnDVDStillOn(this, p1 == 1, int(p2));
        break;
    case EC_DVDBASE + 0x0A:
        fire(OnDVDStillOff);
        break;
    case EC_DVDBASE + 0x0B:
        OnDVDCurrentTime(this, Bcd(p1, 24), Bcd(p1, 16), Bcd(p1, 8), Bcd(p1, 0));
        break;
    case EC_DVDBASE + 0x0C:
        switch (p1) {
        case 1:
            fire(OnDVDErrorUnexpected);
            break;
        case 2:
            fire(OnDVDErrorCopyProtectFail);
            break;
        case 3:
            fire(OnDVDErrorInvalidDVD1_0Disc);
            break;
        case 4:
            fire(OnDVDErrorInvalidDiscRegion);
            break;
        case 5:
            fire(OnDVDErrorLowParentalLevel);
            break;
        case 6:
            fire(OnDVDErrorMacrovisionFail);
            break;
        case 7:
            fire(OnDVDErrorIncompatibleSystemAndDecoderRegions);
            break;
        case 8:
            fire(OnDVDErrorIncompatibleDiscAndDecoderRegions);
            break;
        default:
            break;
        }
        break;
    case EC_DVDBASE + 0x0D:
        switch (p1) {
        case 1:
            OnDVDWarningInvalidDVD1_0Disc(this, int(p2));
            break;
        case 2:
            OnDVDWarningFormatNotSupported(this, int(p2));
            break;
        case 3:
            OnDVDWarningIllegalNavCommand(this, int(p2));
            break;
        case 4:
            OnDVDWarningOpen(this, int(p2));
            break;
        case 5:
            OnDVDWarningSeek(this, int(p2));
            break;
        case 6:
            OnDVDWarningRead(this, int(p2));
            break;
        default:
            break;
        }
        break;
    case EC_DVDBASE + 0x0E:
        fire(OnDVDChapterAutoStop);
        break;
    case EC_DVDBASE + 0x0F:
        fire(OnDVDNoFP_PGC);
        break;
    case EC_DVDBASE + 0x10:
        OnDVDPlaybackRateChange(this, float(p1) / 10000.0f);
        break;
    case EC_DVDBASE + 0x11:
        OnDVDParentalLevelChange(this, int(p1));
        break;
    case EC_DVDBASE + 0x12:
        fire(OnDVDPlaybackStopped);
        break;
    case EC_DVDBASE + 0x13:
        OnDVDAnglesAvailable(this, p1 != 0);
        break;
    case EC_DVDBASE + 0x14:
        fire(OnDVDPlayPeriodAutoStop);
        break;
    case EC_DVDBASE + 0x15:
        OnDVDButtonAutoActivated(this, int(p1));
        break;
    case EC_DVDBASE + 0x16:
        OnDVDCMDStart(this, int(p1));
        break;
    case EC_DVDBASE + 0x17:
        OnDVDCMDEnd(this, int(p1));
        break;
    case EC_DVDBASE + 0x18:
        fire(OnDVDDiscEjected);
        break;
    case EC_DVDBASE + 0x19:
        fire(OnDVDDiscInserted);
        break;
    case EC_DVDBASE + 0x1A:
        OnDVDCurrentHMSFTime(this, int(p1 & 0xFF), int((p1 >> 8) & 0xFF), int((p1 >> 16) & 0xFF),
                             int((p1 >> 24) & 0xFF));
        break;
    case EC_DVDBASE + 0x1B:
        OnDVDKaraokeMode(this, p1 != 0);
        break;
    default:
        break;
    }
}

// ---- TFilter ------------------------------------------------------------------------------------

TFilter::TFilter(TComponent* AOwner)
    : TNonVisualComponent(AOwner), FBaseFilter(std::make_unique<TBaseFilter>()) {}

TFilter::~TFilter() {
    SetFilterGraph(nullptr);
}

void TFilter::SetFilterGraph(TFilterGraph* graph) {
    if (graph == FFilterGraph) return;
    if (FFilterGraph) {
        FFilterGraph->RemoveFilter(this);
        FFilterGraph->RemoveFreeNotification(this);
    }
    FFilterGraph = graph;
    if (FFilterGraph) {
        FFilterGraph->FreeNotification(this);
        FFilterGraph->InsertFilter(this);
    }
}

void TFilter::Notification(TComponent* AComponent, TOperation Operation) {
    TNonVisualComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FFilterGraph) {
        FFilterGraph = nullptr; // the graph is going: it drops its clients itself
        FFilter.Reset();
    }
}

void TFilter::NotifyFilter(TFilterOperation operation, int) {
    switch (operation) {
    case foAdding:
        FFilter = FBaseFilter->CreateFilter();
        break;
    case foAdded:
        break;
    case foRemoving:
        if (FFilter) {
            FILTER_STATE state = State_Stopped;
            if (SUCCEEDED(FFilter->GetState(0, &state)) && state != State_Stopped) FFilter->Stop();
        }
        break;
    case foRemoved:
        FFilter.Reset();
        break;
    case foRefresh:
        if (TFilterGraph* g = FFilterGraph) {
            g->RemoveFilter(this);
            g->InsertFilter(this);
        }
        break;
    }
}

HRESULT TFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!FFilter) return E_NOINTERFACE;
    return FFilter->QueryInterface(riid, ppv);
}
