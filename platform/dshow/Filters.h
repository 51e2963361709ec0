#pragma once
// The capture platform's filters, pins and graph over GStreamer (inside the platform; programs use
// the interfaces of platform/dshow/dshow.h). Main thread unless noted.
#include "platform/dshow/GraphInternal.h"
#include "platform/dshow/VideoBackend.h"

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class AvFilter;
class AvGraph;

// Private ids: the platform's own objects answer them with their implementation pointer.
AV_DEFINE_GUID(IID_AvFilterImpl, 0x6E1A2C40, 0x1D2B, 0x4F0A, 0x9E, 0x11, 0x3C, 0x55, 0x0A, 0x7B,
               0x90, 0x01);
AV_DEFINE_GUID(IID_AvPinImpl, 0x6E1A2C41, 0x1D2B, 0x4F0A, 0x9E, 0x11, 0x3C, 0x55, 0x0A, 0x7B, 0x90,
               0x01);
AV_DEFINE_GUID(IID_AvGraphImpl, 0x6E1A2C42, 0x1D2B, 0x4F0A, 0x9E, 0x11, 0x3C, 0x55, 0x0A, 0x7B,
               0x90, 0x01);

// The implementation behind an interface of this platform, or nullptr (no reference is kept).
AvFilter* AsAvFilter(IUnknown* unknown);
class AvPin;
AvPin* AsAvPin(IUnknown* unknown);
AvGraph* AsAvGraph(IUnknown* unknown);

// The events of one graph: filled from GStreamer's threads (bus, device listeners), emptied on
// the main thread through IMediaEventEx. Shared by the graph and the filters in it.
class GraphEvents {
public:
    void Push(long code, LONG_PTR p1, LONG_PTR p2); // any thread
    bool Pop(long* code, LONG_PTR* p1, LONG_PTR* p2, long msTimeout);
    void SetWindow(HWND hwnd, UINT msg, LONG_PTR instance);
    void SetFlags(long flags);
    long Flags();
    // The platform result of the last error the pipeline reported (S_OK: none).
    void SetLastError(HRESULT hr);
    HRESULT TakeLastError();
    // The last error, waiting at most msTimeout for one to be reported (S_OK: none came).
    HRESULT TakeLastError(long msTimeout);
    // The graph's log (a file descriptor; -1: none). Any thread.
    void SetLogFile(int fd);
    void Log(const std::string& line);
    // Drops what is queued, releasing what the events hold.
    void Clear();

private:
    std::mutex FLock;
    std::condition_variable FCond;
    struct Event {
        long code;
        LONG_PTR p1, p2;
    };
    std::deque<Event> FQueue;
    HWND FWindow = nullptr;
    UINT FMsg = 0;
    LONG_PTR FInstance = 0;
    long FFlags = 0;
    HRESULT FLastError = S_OK;
    int FLogFd = -1;
};
void FreeEventParamsOf(long code, LONG_PTR p1, LONG_PTR p2);

class AvPin final : public IPin, public IKsPropertySet, public IAMStreamConfig {
public:
    AvPin(AvFilter* filter, GstPad* pad, PIN_DIRECTION dir, std::u16string name,
          const GUID* category);
    ~AvPin();

    // Counted with the filter that owns the pin.
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    // IPin
    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryId(LPWSTR* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
    HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    // IKsPropertySet (the pin category)
    HRESULT Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD cbInstance, void* data, DWORD cbData,
                DWORD* returned) override;
    HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override;
    // IAMStreamConfig (capture pins only)
    HRESULT SetFormat(AM_MEDIA_TYPE* mt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override;
    HRESULT GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    AvFilter* Filter() const { return FFilter; }
    GstPad* Pad() const { return FPad; }
    PIN_DIRECTION Direction() const { return FDir; }
    const std::u16string& Name() const { return FName; }
    const GUID* Category() const { return FCategory; }
    AvPin* Peer() const { return FPeer; }
    // The media types this pin can offer now (fixed ones first; partial ones when nothing is
    // fixed).
    std::vector<AM_MEDIA_TYPE> CurrentTypes();
    // Breaks the link whatever the state (graph removal).
    void ForceDisconnect();
    // After a format change upstream: the connection's type again.
    void RefreshConnectionType();

private:
    AvFilter* FFilter;
    GstPad* FPad;
    PIN_DIRECTION FDir;
    std::u16string FName;
    const GUID* FCategory;
    AvPin* FPeer = nullptr;
    GstCaps* FConnCaps = nullptr;
};

class AvFilter : public IBaseFilter {
public:
    AvFilter(const CLSID& clsid, GstElement* element);
    virtual ~AvFilter();

    ULONG AddRef() override { return ++FRef; }
    ULONG Release() override {
        ULONG r = --FRef;
        if (r == 0) delete this;
        return r;
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    // IMediaFilter
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock*) override { return S_OK; }
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT QueryVendorInfo(LPWSTR* info) override;

    GstElement* Element() const { return FElement; }
    const std::vector<AvPin*>& Pins() const { return FPins; }
    AvGraph* Graph() const { return FGraph; }
    const std::u16string& FilterName() const { return FName; }
    bool AnyPinConnected() const;

    // Capture filters: the formats of the device and the one delivered.
    virtual bool HasStreamConfig() const { return false; }
    virtual std::vector<VideoFormat> Formats() const { return {}; }
    virtual VideoFormat CurrentFormat() const { return {}; }
    virtual HRESULT SetCurrentFormat(const VideoFormat&) { return E_NOTIMPL; }

protected:
    // Extra interfaces of a derived filter (called after the common ones).
    virtual HRESULT QueryExtra(REFIID, void**) { return E_NOINTERFACE; }
    // A graph joined (events of it) or left (nullptr).
    virtual void OnJoin(const std::shared_ptr<GraphEvents>&) {}
    AvPin* AddPin(GstPad* pad, PIN_DIRECTION dir, std::u16string name,
                  const GUID* category = nullptr);
    void SetElement(GstElement* element);

private:
    std::atomic<ULONG> FRef{0};
    CLSID FClsid;
    GstElement* FElement = nullptr;
    std::vector<AvPin*> FPins;
    AvGraph* FGraph = nullptr;
    std::u16string FName;
};

// A filter over one element with a "sink" and/or "src" pad (converters, renderers).
class AvElementFilter : public AvFilter {
public:
    AvElementFilter(const CLSID& clsid, GstElement* element, std::u16string inName,
                    std::u16string outName);
};

// A capture device: its source and a caps filter in a bin, the output pin "Capture".
ComPtr<IBaseFilter> CreateCaptureFilter(const std::shared_ptr<IVideoBackend>& backend,
                                        const VideoDevice& device, HRESULT* hr);

// The platform's classes that CoCreateInstance makes and the filter category lists.
struct AvClassInfo {
    const CLSID* clsid;
    const char16_t* friendlyName;
    bool filter;    // listed in the DirectShow filter category
    bool converter; // tried by the graph builder when pins do not connect directly
};
const std::vector<AvClassInfo>& AvClasses();

// The graph seen from its filters.
IFilterGraph* AvGraphInterface(AvGraph* graph); // not counted
std::shared_ptr<GraphEvents> AvGraphEvents(AvGraph* graph);
// A resource error inside a capture filter's bin: true when its device loss is news.
bool AvCaptureLost(GstElement* captureBin);

// A moniker for one of the platform's filter classes (the builder callbacks see it).
HRESULT AvCreateClassMoniker(const AvClassInfo& info, IMoniker** moniker);
ComPtr<IUnknown> AvCreateGraph();
ComPtr<IUnknown> AvCreateCaptureBuilder();
