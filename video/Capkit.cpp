#include "video/Capkit.h"

#include "framework/Colors.h"
#include "platform/api/winbase.h"
#include "platform/dshow/VideoOverlay.h"

#include <QAccessibleWidget>
#include <QDateTime>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
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

// Byte n of a parameter (0: the lowest).
int Byte(LONG_PTR v, int n) {
    return int((v >> (8 * n)) & 0xFF);
}

template <class T> T* Ptr(LONG_PTR v) {
    return reinterpret_cast<T*>(v);
}

QString Text(LONG_PTR v) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(v));
}

// How an event code reaches its event: the handlers read the two parameters as the event wants
// them. The common shapes are templates over the event; the rest are written out in the table.
using TGraph = TFilterGraph;
using TEventRoute = void (*)(TGraph& g, LONG_PTR p1, LONG_PTR p2);
struct TEventEntry {
    long code;
    TEventRoute route;
};

template <TNotifyEvent TGraph::*E> void Notify(TGraph& g, LONG_PTR, LONG_PTR) {
    (g.*E)(&g);
}
template <TIntEvent TGraph::*E> void WithInt(TGraph& g, LONG_PTR p1, LONG_PTR) {
    (g.*E)(&g, int(p1));
}
template <TEvent<TObject*, int, int> TGraph::*E>
void WithInts(TGraph& g, LONG_PTR p1, LONG_PTR p2) {
    (g.*E)(&g, int(p1), int(p2));
}
template <TBoolEvent TGraph::*E> void WithBool(TGraph& g, LONG_PTR p1, LONG_PTR) {
    (g.*E)(&g, p1 != 0);
}
template <TResultEvent TGraph::*E> void WithResult(TGraph& g, LONG_PTR p1, LONG_PTR) {
    (g.*E)(&g, HRESULT(p1));
}
template <TEvent<TObject*, HRESULT, int> TGraph::*E>
void WithResultInt(TGraph& g, LONG_PTR p1, LONG_PTR p2) {
    (g.*E)(&g, HRESULT(p1), int(p2));
}
template <TEvent<TObject*, IPin*, int> TGraph::*E>
void WithPinInt(TGraph& g, LONG_PTR p1, LONG_PTR p2) {
    (g.*E)(&g, Ptr<IPin>(p1), int(p2));
}
// The stream languages come from DVD navigation, which this platform does not have.
template <TEvent<TObject*, int, QString> TGraph::*E>
void WithStream(TGraph& g, LONG_PTR p1, LONG_PTR) {
    (g.*E)(&g, int(p1), QString());
}

// Events that the first parameter picks from a list (1: the first); other values reach none.
constexpr TNotifyEvent TGraph::*kDvdDomains[] = {
    &TGraph::OnDVDDomainFirstPlay, &TGraph::OnDVDDomainVideoManagerMenu,
    &TGraph::OnDVDDomainVideoTitleSetMenu, &TGraph::OnDVDDomainTitle, &TGraph::OnDVDDomainStop};
constexpr TNotifyEvent TGraph::*kDvdErrors[] = {
    &TGraph::OnDVDErrorUnexpected,
    &TGraph::OnDVDErrorCopyProtectFail,
    &TGraph::OnDVDErrorInvalidDVD1_0Disc,
    &TGraph::OnDVDErrorInvalidDiscRegion,
    &TGraph::OnDVDErrorLowParentalLevel,
    &TGraph::OnDVDErrorMacrovisionFail,
    &TGraph::OnDVDErrorIncompatibleSystemAndDecoderRegions,
    &TGraph::OnDVDErrorIncompatibleDiscAndDecoderRegions};
// These carry the second parameter on.
constexpr TIntEvent TGraph::*kDvdWarnings[] = {&TGraph::OnDVDWarningInvalidDVD1_0Disc,
                                               &TGraph::OnDVDWarningFormatNotSupported,
                                               &TGraph::OnDVDWarningIllegalNavCommand,
                                               &TGraph::OnDVDWarningOpen,
                                               &TGraph::OnDVDWarningSeek,
                                               &TGraph::OnDVDWarningRead};

template <const auto& Events> auto Picked(LONG_PTR p1) {
    return p1 >= 1 && p1 <= LONG_PTR(std::size(Events)) ? Events[p1 - 1] : nullptr;
}
template <const auto& Events> void NotifyPicked(TGraph& g, LONG_PTR p1, LONG_PTR) {
    if (auto e = Picked<Events>(p1)) (g.*e)(&g);
}
template <const auto& Events> void IntPicked(TGraph& g, LONG_PTR p1, LONG_PTR p2) {
    if (auto e = Picked<Events>(p1)) (g.*e)(&g, int(p2));
}

const TEventEntry kEventRoutes[] = {
    {EC_COMPLETE, [](TGraph& g, LONG_PTR p1,
                     LONG_PTR p2) { g.OnGraphComplete(&g, HRESULT(p1), Ptr<IBaseFilter>(p2)); }},
    {EC_USERABORT, Notify<&TGraph::OnGraphUserAbort>},
    {EC_ERRORABORT, WithResult<&TGraph::OnGraphErrorAbort>},
    {EC_STREAM_ERROR_STOPPED, WithResultInt<&TGraph::OnGraphStreamErrorStopped>},
    {EC_STREAM_ERROR_STILLPLAYING, WithResultInt<&TGraph::OnGraphStreamErrorStillPlaying>},
    {EC_ERROR_STILLPLAYING, WithResult<&TGraph::OnGraphErrorStillPlaying>},
    {EC_PALETTE_CHANGED, Notify<&TGraph::OnGraphPaletteChanged>},
    // Width in the low word, height in the high word.
    {EC_VIDEO_SIZE_CHANGED,
     [](TGraph& g, LONG_PTR p1, LONG_PTR) {
         g.OnGraphVideoSizeChanged(&g, int(p1 & 0xFFFF), int((p1 >> 16) & 0xFFFF));
     }},
    {EC_QUALITY_CHANGE, Notify<&TGraph::OnGraphQualityChange>},
    {EC_CLOCK_CHANGED, Notify<&TGraph::OnGraphClockChanged>},
    {EC_PAUSED, WithResult<&TGraph::OnGraphPaused>},
    {EC_OPENING_FILE, WithBool<&TGraph::OnGraphOpeningFile>},
    {EC_BUFFERING_DATA, WithBool<&TGraph::OnGraphBufferingData>},
    {EC_FULLSCREEN_LOST,
     [](TGraph& g, LONG_PTR, LONG_PTR p2) { g.OnGraphFullscreenLost(&g, Ptr<IBaseFilter>(p2)); }},
    {EC_OLE_EVENT,
     [](TGraph& g, LONG_PTR p1, LONG_PTR p2) { g.OnGraphOleEvent(&g, Text(p1), Text(p2)); }},
    {EC_STREAM_CONTROL_STOPPED, WithPinInt<&TGraph::OnGraphStreamControlStopped>},
    {EC_STREAM_CONTROL_STARTED, WithPinInt<&TGraph::OnGraphStreamControlStarted>},
    {EC_END_OF_SEGMENT,
     [](TGraph& g, LONG_PTR p1, LONG_PTR p2) {
         g.OnGraphEndOfSegment(&g, p1 ? *Ptr<REFERENCE_TIME>(p1) : 0, int(p2));
     }},
    // The second parameter is 1 when the device arrived again.
    {EC_DEVICE_LOST, [](TGraph& g, LONG_PTR p1,
                        LONG_PTR p2) { g.OnGraphDeviceLost(&g, Ptr<IUnknown>(p1), p2 == 1); }},
    {EC_STEP_COMPLETE, Notify<&TGraph::OnGraphStepComplete>},
    {EC_TIMECODE_AVAILABLE,
     [](TGraph& g, LONG_PTR p1, LONG_PTR p2) {
         g.OnGraphTimeCodeAvailable(&g, Ptr<IBaseFilter>(p1), int(p2));
     }},
    {EC_EXTDEVICE_MODE_CHANGE, WithInts<&TGraph::OnGraphEXTDeviceModeChange>},
    {EC_GRAPH_CHANGED, Notify<&TGraph::OnGraphChanged>},
    {EC_CLOCK_UNSET, Notify<&TGraph::OnGraphClockUnset>},
    {EC_VMR_RENDERDEVICE_SET, WithInt<&TGraph::OnGraphVMRRenderDevice>},
    {EC_DVD_DOMAIN_CHANGE, NotifyPicked<kDvdDomains>},
    {EC_DVD_TITLE_CHANGE, WithInt<&TGraph::OnDVDTitleChange>},
    {EC_DVD_CHAPTER_START, WithInt<&TGraph::OnDVDChapterStart>},
    {EC_DVD_AUDIO_STREAM_CHANGE, WithStream<&TGraph::OnDVDAudioStreamChange>},
    {EC_DVD_SUBPICTURE_STREAM_CHANGE, WithStream<&TGraph::OnDVDSubpictureStreamChange>},
    {EC_DVD_ANGLE_CHANGE, WithInts<&TGraph::OnDVDAngleChange>},
    {EC_DVD_BUTTON_CHANGE, WithInts<&TGraph::OnDVDButtonChange>},
    {EC_DVD_VALID_UOPS_CHANGE, WithInt<&TGraph::OnDVDValidUOPSChange>},
    {EC_DVD_STILL_ON,
     [](TGraph& g, LONG_PTR p1, LONG_PTR p2) { g.OnDVDStillOn(&g, p1 == 1, int(p2)); }},
    {EC_DVD_STILL_OFF, Notify<&TGraph::OnDVDStillOff>},
    {EC_DVD_CURRENT_TIME,
     [](TGraph& g, LONG_PTR p1, LONG_PTR) {
         g.OnDVDCurrentTime(&g, Bcd(p1, 24), Bcd(p1, 16), Bcd(p1, 8), Bcd(p1, 0));
     }},
    {EC_DVD_ERROR, NotifyPicked<kDvdErrors>},
    {EC_DVD_WARNING, IntPicked<kDvdWarnings>},
    {EC_DVD_CHAPTER_AUTOSTOP, Notify<&TGraph::OnDVDChapterAutoStop>},
    {EC_DVD_NO_FP_PGC, Notify<&TGraph::OnDVDNoFP_PGC>},
    // The rate in ten-thousandths.
    {EC_DVD_PLAYBACK_RATE_CHANGE,
     [](TGraph& g, LONG_PTR p1, LONG_PTR) { g.OnDVDPlaybackRateChange(&g, float(p1) / 10000.0f); }},
    {EC_DVD_PARENTAL_LEVEL_CHANGE, WithInt<&TGraph::OnDVDParentalLevelChange>},
    {EC_DVD_PLAYBACK_STOPPED, Notify<&TGraph::OnDVDPlaybackStopped>},
    {EC_DVD_ANGLES_AVAILABLE, WithBool<&TGraph::OnDVDAnglesAvailable>},
    {EC_DVD_PLAYPERIOD_AUTOSTOP, Notify<&TGraph::OnDVDPlayPeriodAutoStop>},
    {EC_DVD_BUTTON_AUTO_ACTIVATED, WithInt<&TGraph::OnDVDButtonAutoActivated>},
    {EC_DVD_CMD_START, WithInt<&TGraph::OnDVDCMDStart>},
    {EC_DVD_CMD_END, WithInt<&TGraph::OnDVDCMDEnd>},
    {EC_DVD_DISC_EJECTED, Notify<&TGraph::OnDVDDiscEjected>},
    {EC_DVD_DISC_INSERTED, Notify<&TGraph::OnDVDDiscInserted>},
    // Hours, minutes, seconds and frames from the lowest byte up.
    {EC_DVD_CURRENT_HMSF_TIME,
     [](TGraph& g, LONG_PTR p1, LONG_PTR) {
         g.OnDVDCurrentHMSFTime(&g, Byte(p1, 0), Byte(p1, 1), Byte(p1, 2), Byte(p1, 3));
     }},
    {EC_DVD_KARAOKE_MODE, WithBool<&TGraph::OnDVDKaraokeMode>},
};
} // namespace

void TFilterGraph::DoEvent(long code, LONG_PTR p1, LONG_PTR p2) {
    const auto windows = FWindows;
    for (IEvent* w : windows)
        w->GraphEvent(code, p1, p2);
    if (OnDSEvent) OnDSEvent(this, code, p1, p2);
    const auto route = std::find_if(std::begin(kEventRoutes), std::end(kEventRoutes),
                                    [code](const TEventEntry& e) { return e.code == code; });
    if (route != std::end(kEventRoutes)) route->route(*this, p1, p2);
}

// Moves a graph client (a component and a filter) from the graph it is in to `to`; either may be
// none. The graph's free notification tells the client when the graph goes first. A window
// that takes the graph's events is registered for them as well.
namespace {
template <class Client>
void MoveToGraph(Client* client, TFilterGraph*& at, TFilterGraph* to, IEvent* window = nullptr) {
    if (to == at) return;
    if (at) {
        if (window) at->RemoveEventNotifier(window);
        at->RemoveFilter(client);
        at->RemoveFreeNotification(client);
    }
    at = to;
    if (at) {
        at->FreeNotification(client);
        at->InsertFilter(client);
        if (window) at->InsertEventNotifier(window);
    }
}
} // namespace

// ---- TFilter ------------------------------------------------------------------------------------

TFilter::TFilter(TComponent* AOwner)
    : TNonVisualComponent(AOwner), FBaseFilter(std::make_unique<TBaseFilter>()) {}

TFilter::~TFilter() {
    SetFilterGraph(nullptr);
}

void TFilter::SetFilterGraph(TFilterGraph* graph) {
    MoveToGraph(this, FFilterGraph, graph);
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

// ---- TColorControl ------------------------------------------------------------------------------
namespace {
void CheckRange(int v, int lo, int hi, const char* text) {
    if (v < lo || v > hi)
        throw Exception(QStringLiteral("Value %1 out of range. Value must bee between %2")
                            .arg(v)
                            .arg(QLatin1String(text)));
}
} // namespace

TColorControl::TColorControl(TDSVideoWindowEx2* owner) : FOwner(owner) {
    FRecord = {sizeof(DDCOLORCONTROL), 127, 750, 10000, 0, 10000, 5, 1, 1, 0};
}

void TColorControl::Assign(const TPersistent* source) {
    if (auto* o = dynamic_cast<const TColorControl*>(source)) {
        FBrightness = o->FBrightness;
        FContrast = o->FContrast;
        FHue = o->FHue;
        FSaturation = o->FSaturation;
        FSharpness = o->FSharpness;
        FGamma = o->FGamma;
        FColorEnable = o->FColorEnable;
        WriteOut();
        return;
    }
    TPersistent::Assign(source);
}

void TColorControl::ReadBack() {
    auto cc = FOwner->FRenderer.As<IAvColorControl>();
    if (!cc || !FOwner->FFilterGraph || !FOwner->FFilterGraph->Active()) return;
    DDCOLORCONTROL r{};
    r.dwSize = sizeof r;
    if (FAILED(cc->GetColorControls(&r))) return;
    FRecord.dwFlags = r.dwFlags; // what the renderer supports
    if (r.dwFlags & DDCOLOR_BRIGHTNESS) FBrightness = r.lBrightness;
    if (r.dwFlags & DDCOLOR_CONTRAST) FContrast = r.lContrast;
    if (r.dwFlags & DDCOLOR_HUE) FHue = r.lHue;
    if (r.dwFlags & DDCOLOR_SATURATION) FSaturation = r.lSaturation;
    if (r.dwFlags & DDCOLOR_COLORENABLE) FColorEnable = r.lColorEnable != 0;
}

void TColorControl::ReadFlags() {
    auto cc = FOwner->FRenderer.As<IAvColorControl>();
    DDCOLORCONTROL r{};
    r.dwSize = sizeof r;
    if (cc && SUCCEEDED(cc->GetColorControls(&r))) FRecord.dwFlags = r.dwFlags;
}

void TColorControl::WriteOut() {
    if (FOwner->IsDesigning()) return;
    auto cc = FOwner->FRenderer.As<IAvColorControl>();
    if (!cc || !FOwner->FFilterGraph || !FOwner->FFilterGraph->Active()) return;
    DDCOLORCONTROL r{
        sizeof(DDCOLORCONTROL), 127, FBrightness, FContrast, FHue, FSaturation, FSharpness, FGamma,
        FColorEnable ? 1 : 0,   0};
    cc->SetColorControls(&r);
}

template <class T> T TColorControl::Fresh(const T& field) {
    ReadBack();
    return field;
}

void TColorControl::Store(int& field, int v, int lo, int hi, const char* range) {
    CheckRange(v, lo, hi, range);
    field = v;
    WriteOut();
}

int TColorControl::Brightness() {
    return Fresh(FBrightness);
}
int TColorControl::Contrast() {
    return Fresh(FContrast);
}
int TColorControl::Hue() {
    return Fresh(FHue);
}
int TColorControl::Saturation() {
    return Fresh(FSaturation);
}
int TColorControl::Sharpness() {
    return Fresh(FSharpness);
}
int TColorControl::Gamma() {
    return Fresh(FGamma);
}
bool TColorControl::ColorEnable() {
    return Fresh(FColorEnable);
}

void TColorControl::SetBrightness(int v) {
    Store(FBrightness, v, 0, 10000, "0 -> 10.000");
}
void TColorControl::SetContrast(int v) {
    Store(FContrast, v, 0, 20000, "0 -> 20.000");
}
void TColorControl::SetHue(int v) {
    Store(FHue, v, -180, 180, "-180 -> 180");
}
void TColorControl::SetSaturation(int v) {
    Store(FSaturation, v, 0, 20000, "0 -> 20.000");
}
void TColorControl::SetSharpness(int v) {
    Store(FSharpness, v, 0, 10, "0 -> 10");
}
void TColorControl::SetGamma(int v) {
    Store(FGamma, v, 1, 500, "1 -> 500");
}
void TColorControl::SetColorEnable(bool v) {
    FColorEnable = v;
    WriteOut();
}

bool TDSVideoWindowEx2Caps::CanOverlayGraphic() const {
    return FOwner->FOverlay;
}
bool TDSVideoWindowEx2Caps::Flag(DWORD f) const {
    return FOwner->FOverlay && (FOwner->FColorControl->Record().dwFlags & f) != 0;
}

// ---- TDSVideoWindowEx2 --------------------------------------------------------------------------
namespace {
// The native surface the renderer draws into: nothing of Qt paints here; an exposure or a new
// size has the renderer draw its last frame again.
class TVideoSurface : public QWindow {
public:
    explicit TVideoSurface(std::function<void()> exposed) : FExposed(std::move(exposed)) {}

protected:
    void exposeEvent(QExposeEvent*) override {
        if (isExposed()) FExposed();
    }
    void resizeEvent(QResizeEvent*) override { FExposed(); }

private:
    std::function<void()> FExposed;
};
} // namespace

TDSVideoWindowEx2::TDSVideoWindowEx2(TComponent* AOwner)
    : TCustomControl(AOwner), FColorControl(std::make_unique<TColorControl>(this)),
      FCaps(std::make_unique<TDSVideoWindowEx2Caps>(this)), FColorKey(RGB(16, 0, 16)) {
    SetBounds(0, 0, 320, 240);
    SetColor(clBlack);
    SetTabStop(true);
    // Paint fills the background around the picture itself: no fill of the whole area first.
    SetOpaque(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    FIdleTimer = new QTimer(this);
    FIdleTimer->setInterval(100);
    QObject::connect(FIdleTimer, &QTimer::timeout, this, [this] { IdleCheck(); });
    FLastActivity = QDateTime::currentMSecsSinceEpoch();
}

QAccessibleInterface* TDSVideoWindowEx2::CreateAccessible() {
    return new QAccessibleWidget(this, QAccessible::Animation);
}

TDSVideoWindowEx2::~TDSVideoWindowEx2() {
    KeepScreenOn(false);
    SetFilterGraph(nullptr);
    if (auto sink = FRenderer.As<IAvVideoFrameSink>()) sink->SetFrameCallback(nullptr, nullptr);
}

void TDSVideoWindowEx2::SetFilterGraph(TFilterGraph* graph) {
    MoveToGraph(this, FFilterGraph, graph, this);
}

void TDSVideoWindowEx2::Notification(TComponent* AComponent, TOperation Operation) {
    TCustomControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FFilterGraph) FFilterGraph = nullptr;
}

void TDSVideoWindowEx2::NotifyFilter(TFilterOperation operation, int) {
    switch (operation) {
    case foAdding:
        FPrepared = false;
        FRequestedSize = QSize(-1, -1);
        CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER,
                         IID_PPV_ARGS(FRenderer));
        break;
    case foAdded:
        if (auto sink = FRenderer.As<IAvVideoFrameSink>()) sink->SetFrameCallback(&OnFrame, this);
        if (WantsWindowSink()) AttachWindowSink();
        break;
    case foRemoving:
        FPlaying = false;
        KeepScreenOn(false);
        if (FRenderer) {
            FRenderer->Stop();
            TPinList pins(FRenderer.Get());
            for (int i = 0; i < pins.Count(); ++i)
                pins.Items(i)->Disconnect();
            if (auto sink = FRenderer.As<IAvVideoFrameSink>())
                sink->SetFrameCallback(nullptr, nullptr);
        }
        break;
    case foRemoved:
        FPrepared = false;
        FOverlay = false;
        FOverlayShown = false;
        DetachWindowSink();
        FRenderer.Reset();
        {
            std::lock_guard g(FFrameLock);
            FFrame = QImage();
            FNative = QSize();
        }
        update();
        break;
    case foRefresh:
        break;
    }
}

void TDSVideoWindowEx2::OnFrame(void* self, const AvVideoFrame& f) {
    // Streaming thread: keep a copy, ask the main thread for one repaint at a time.
    auto* w = static_cast<TDSVideoWindowEx2*>(self);
    if (!f.bits) {
        // The renderer draws itself: a new picture size, for the frame size it is asked for.
        {
            std::lock_guard g(w->FFrameLock);
            w->FNative = QSize(f.sourceWidth, f.sourceHeight);
        }
        if (!w->FRepaintQueued.exchange(true))
            QMetaObject::invokeMethod(w, "RepaintFromStream", Qt::QueuedConnection);
        return;
    }
    QImage image(f.bits, f.width, f.height, f.stride, QImage::Format_RGB32);
    {
        std::lock_guard g(w->FFrameLock);
        w->FFrame = image.copy();
        w->FNative = QSize(f.sourceWidth, f.sourceHeight);
    }
    if (!w->FRepaintQueued.exchange(true))
        QMetaObject::invokeMethod(w, "RepaintFromStream", Qt::QueuedConnection);
}

void TDSVideoWindowEx2::RepaintFromStream() {
    FRepaintQueued = false;
    if (FWindowDrawn) {
        SizeWindowFrames();
        return;
    }
    // In the steady state (frames of the size asked for) only the picture changes; otherwise
    // the bands around it may too.
    const TRect r = VideoRect();
    const QRect video(r.Left, r.Top, r.Width(), r.Height());
    if (FDigitalZoom == 0 && FAspectRatio != rmCrop && video.size() == FRequestedSize)
        update(video);
    else
        update();
}

bool TDSVideoWindowEx2::WantsWindowSink() const {
    static const bool qtOnly = qgetenv("AVSETUP_VIDEO_SINK") == "qt";
    return !IsDesigning() && !qtOnly && FDigitalZoom == 0 && FAspectRatio != rmCrop &&
           QGuiApplication::platformName() == QLatin1String("xcb");
}

void TDSVideoWindowEx2::AttachWindowSink() {
    auto overlay = FRenderer.As<IAvVideoOverlay>();
    if (!overlay) return;
    if (!FSurface) {
        FSurface = new TVideoSurface([this] {
            if (auto o = FRenderer.As<IAvVideoOverlay>(); o && FWindowDrawn) o->Expose();
        });
        FSurfaceHost = QWidget::createWindowContainer(FSurface, this);
        FSurfaceHost->setAttribute(Qt::WA_TransparentForMouseEvents);
        FSurfaceHost->setGeometry(rect());
        FSurfaceHost->hide();
    }
    FSurfaceHost->show();
    FWindowDrawn = SUCCEEDED(overlay->SetWindowHandle(FSurface->winId()));
    if (!FWindowDrawn) FSurfaceHost->hide();
    FRequestedSize = QSize(-1, -1);
}

void TDSVideoWindowEx2::DetachWindowSink() {
    if (!FWindowDrawn) return;
    FWindowDrawn = false;
    // Stopped before its surface can go: the renderer never draws into a window that is gone.
    if (FRenderer) {
        FRenderer->Stop();
        if (auto overlay = FRenderer.As<IAvVideoOverlay>()) overlay->SetWindowHandle(0);
    }
    if (FSurfaceHost) FSurfaceHost->hide();
}

void TDSVideoWindowEx2::SizeWindowFrames() {
    // The renderer scales the picture to the video rectangle; the sink centres it in the surface
    // between black bands.
    const TRect r = VideoRect();
    const QSize wanted(r.Width(), r.Height());
    if (FRenderer && !NativeSize().isEmpty() && !wanted.isEmpty() && wanted != FRequestedSize) {
        if (auto sink = FRenderer.As<IAvVideoFrameSink>())
            sink->SetFrameSize(wanted.width(), wanted.height());
        FRequestedSize = wanted;
    }
}

void TDSVideoWindowEx2::Resize() {
    TCustomControl::Resize();
    if (FSurfaceHost) FSurfaceHost->setGeometry(rect());
    if (FWindowDrawn) SizeWindowFrames();
}

QImage TDSVideoWindowEx2::CurrentFrame() const {
    std::lock_guard g(FFrameLock);
    return FFrame;
}

QSize TDSVideoWindowEx2::NativeSize() const {
    std::lock_guard g(FFrameLock);
    return FNative;
}

void TDSVideoWindowEx2::Prepare() {
    if (FPrepared) return;
    FPrepared = true;
    // The renderer's colour stage plays the overlay mixer's part.
    FOverlay = static_cast<bool>(FRenderer.As<IAvColorControl>());
    if (FOverlay) {
        // The values are the component's, also those set while the graph was inactive; of the
        // renderer only what it supports is read.
        FColorControl->ReadFlags();
        FColorControl->WriteOut();
    }
}

void TDSVideoWindowEx2::GraphEvent(long event, LONG_PTR, LONG_PTR) {
    if (event == EC_PALETTE_CHANGED || event == EC_CLOCK_CHANGED) update();
}

void TDSVideoWindowEx2::ControlEvent(TControlEvent event, int) {
    switch (event) {
    case cePlay:
    case cePause:
        FPlaying = event == cePlay;
        KeepScreenOn(FPlaying && FNoScreenSaver);
        Prepare();
        if (FOverlay && !FOverlayShown) {
            FOverlayShown = true;
            if (OnOverlayVisible) OnOverlayVisible(this, true);
            update();
        }
        break;
    case ceStop:
        FPlaying = false;
        KeepScreenOn(false);
        Prepare();
        if (FOverlay && FOverlayShown) {
            FOverlayShown = false;
            update();
            if (OnOverlayVisible) OnOverlayVisible(this, false);
        }
        break;
    case ceFileRendered:
    case ceDVDRendered:
        FPrepared = false;
        Prepare();
        break;
    default:
        break;
    }
}

HRESULT TDSVideoWindowEx2::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return FRenderer ? FRenderer->QueryInterface(riid, ppv) : E_NOINTERFACE;
}

void TDSVideoWindowEx2::SetNoScreenSaver(bool v) {
    FNoScreenSaver = v;
    KeepScreenOn(FPlaying && FNoScreenSaver && !IsDesigning());
}

void TDSVideoWindowEx2::KeepScreenOn(bool on) {
    if (on == FScreenKeptOn) return;
    if (on) {
        // A session without the service keeps nothing on: the preview plays all the same.
        FScreenKeptOn =
            SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED) != 0;
    } else {
        SetThreadExecutionState(ES_CONTINUOUS);
        FScreenKeptOn = false;
    }
}

void TDSVideoWindowEx2::SetAspectRatio(TRatioModes v) {
    FAspectRatio = v;
    update();
}

void TDSVideoWindowEx2::SetDigitalZoom(int v) {
    if (v < 0 || v > 99)
        throw Exception(
            QStringLiteral("Value %1 out of range. Value must bee between 0 -> 99").arg(v));
    FDigitalZoom = v;
    update();
}

QRect TDSVideoWindowEx2::SourceRect(const QSize& native) const {
    const int w = native.width(), h = native.height();
    if (FDigitalZoom == 0 || w <= 0 || h <= 0) return QRect(QPoint(0, 0), native);
    const int nw = w - FDigitalZoom * w / 100;
    const int nh = nw * h / w;
    return QRect((w - nw) / 2, (h - nh) / 2, nw, nh);
}

TRect TDSVideoWindowEx2::VideoRect() const {
    const TRect client = ClientRect();
    const QSize own = NativeSize();
    if (FAspectRatio != rmLetterBox || own.isEmpty()) return client;
    const QSize native = SourceRect(own).size();
    const int cw = client.Width(), ch = client.Height();
    if (native.isEmpty() || cw <= 0 || ch <= 0) return client;
    int w = cw, h = int(qint64(native.height()) * cw / native.width());
    if (h > ch) {
        h = ch;
        w = int(qint64(native.width()) * ch / native.height());
    }
    const int left = client.Left + (cw - w) / 2, top = client.Top + (ch - h) / 2;
    return Rect(left, top, left + w, top + h);
}

void TDSVideoWindowEx2::Paint() {
    // The widget's backing store is the off-screen picture (the background never flickers
    // through the video), so the frame goes straight in and the background fills only what the
    // frame leaves uncovered.
    QPainter* p = Canvas()->Painter();
    const QRect client = rect();
    const QImage frame = CurrentFrame();
    QRect target;
    QRect source;
    const QSize native = NativeSize();
    if (!frame.isNull() && !native.isEmpty()) {
        // The zoom's cut in the frame as it came (scaled or not), in proportion.
        source = SourceRect(frame.size());
        if (FAspectRatio == rmCrop) {
            // Fill the window, cutting what does not fit (centred).
            const QSize fitted =
                SourceRect(native).size().scaled(client.size(), Qt::KeepAspectRatioByExpanding);
            target =
                QRect((client.width() - fitted.width()) / 2,
                      (client.height() - fitted.height()) / 2, fitted.width(), fitted.height());
        } else {
            const TRect r = VideoRect();
            target = QRect(r.Left, r.Top, r.Width(), r.Height());
        }
    }
    if (p) {
        const QColor background = ToQColor(Color());
        for (const QRect& r : QRegion(client).subtracted(QRegion(target.intersected(client))))
            p->fillRect(r, background);
        if (!target.isEmpty()) {
            p->save();
            p->setClipRect(client);
            // Bilinear filtering only when the picture is scaled: a 1:1 picture is a plain copy.
            p->setRenderHint(QPainter::SmoothPixmapTransform, target.size() != source.size());
            p->drawImage(target, frame, source);
            p->restore();
        }
    }
    // The graph scales the picture to where it goes (cheaper there than here), unless a zoom
    // cuts it first; frames of the old size in the meantime are scaled here.
    const QSize wanted = FDigitalZoom == 0 ? target.size() : QSize(0, 0);
    if (FRenderer && !target.isEmpty() && wanted != FRequestedSize) {
        if (auto sink = FRenderer.As<IAvVideoFrameSink>())
            sink->SetFrameSize(wanted.width(), wanted.height());
        FRequestedSize = wanted;
    }
    if (OnPaint) OnPaint(this);
}

void TDSVideoWindowEx2::SetAutoHideCursor(int ms) {
    FAutoHideCursor = std::max(0, ms);
    if (FAutoHideCursor > 0 && !IsDesigning())
        FIdleTimer->start();
    else
        FIdleTimer->stop();
}

void TDSVideoWindowEx2::IdleCheck() {
    if (FAutoHideCursor == 0 || IsDesigning() || !FRenderer || FCursorHidden) return;
    if (QDateTime::currentMSecsSinceEpoch() - FLastActivity < FAutoHideCursor) return;
    FCursorHidden = true;
    setCursor(Qt::BlankCursor);
    if (OnCursorShowHide) OnCursorShowHide(this, false);
}

void TDSVideoWindowEx2::MouseActivity(int x, int y) {
    FLastMouse = QPoint(x, y);
    FLastActivity = QDateTime::currentMSecsSinceEpoch();
    if (FCursorHidden) {
        FCursorHidden = false;
        unsetCursor();
        if (OnCursorShowHide) OnCursorShowHide(this, true);
    }
}

void TDSVideoWindowEx2::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    MouseActivity(x, y);
    TCustomControl::MouseDown(button, shift, x, y);
}

void TDSVideoWindowEx2::MouseMove(TShiftState shift, int x, int y) {
    if (QPoint(x, y) != FLastMouse) MouseActivity(x, y);
    TCustomControl::MouseMove(shift, x, y);
}

void TDSVideoWindowEx2::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    MouseActivity(x, y);
    TCustomControl::MouseUp(button, shift, x, y);
}

// ---- TSampleGrabber -----------------------------------------------------------------------------

TSampleGrabber::TSampleGrabber(TComponent* AOwner) : TNonVisualComponent(AOwner) {
    ComPtr<IBaseFilter> probe;
    if (FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(probe))))
        throw EAssertionFailed(
            QStringLiteral("The SampleGrabber Filter is not available on this system."));
    FMediaType = std::make_unique<TMediaType>(MEDIATYPE_Video);
    FMediaType->SetSubType(MEDIASUBTYPE_RGB24);
    FMediaType->SetFormatType(FORMAT_VideoInfo);
}

TSampleGrabber::~TSampleGrabber() {
    SetFilterGraph(nullptr);
}

void TSampleGrabber::SetFilterGraph(TFilterGraph* graph) {
    MoveToGraph(this, FFilterGraph, graph);
}

void TSampleGrabber::Notification(TComponent* AComponent, TOperation Operation) {
    TNonVisualComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FFilterGraph) FFilterGraph = nullptr;
}

void TSampleGrabber::UpdateMediaType() {
    if (!FGrabber) return;
    FFilter->Stop();
    if (FInPin) FInPin->Disconnect();
    FGrabber->SetMediaType(FMediaType->AMMediaType());
}

void TSampleGrabber::NotifyFilter(TFilterOperation operation, int) {
    switch (operation) {
    case foAdding:
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(FFilter));
        break;
    case foAdded: {
        FGrabber = FFilter.As<ISampleGrabber>();
        if (!FGrabber) break;
        TPinList pins(FFilter.Get());
        if (pins.Count() > 0) FInPin = pins.Items(0);
        if (pins.Count() > 1) FOutPin = pins.Items(1);
        UpdateMediaType();
        FGrabber->SetBufferSamples(TRUE);
        FGrabber->SetCallback(this, 1);
        break;
    }
    case foRemoving:
        if (FFilter) FFilter->Stop();
        if (FInPin) FInPin->Disconnect();
        if (FOutPin) FOutPin->Disconnect();
        break;
    case foRemoved:
        if (FGrabber) {
            FGrabber->SetCallback(nullptr, 1);
            FGrabber->SetBufferSamples(FALSE);
        }
        FGrabber.Reset();
        FInPin.Reset();
        FOutPin.Reset();
        FFilter.Reset();
        break;
    case foRefresh:
        UpdateMediaType();
        break;
    }
}

HRESULT TSampleGrabber::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    return FFilter ? FFilter->QueryInterface(riid, ppv) : E_NOINTERFACE;
}

HRESULT TSampleGrabber::BufferCB(double sampleTime, BYTE* buffer, long bufferLen) {
    if (OnBuffer) {
        std::lock_guard g(FLock);
        OnBuffer(this, buffer, bufferLen, sampleTime);
    }
    return S_OK;
}
