#pragma once
// The capture library's components: the filter graph (TFilterGraph) and the device filter that
// puts a stored camera into it (TFilter). Main thread only; graph events reach the main thread
// through the graph's hidden message window.
#include "framework/Classes.h"
#include "framework/Controls.h"
#include "framework/MessageWindow.h"
#include "video/DSUtil.h"

#include <QFile>
#include <QImage>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class TFilterGraph;

enum TGraphMode { gmNormal, gmCapture, gmDVD };
enum TFilterOperation { foAdding, foAdded, foRemoving, foRemoved, foRefresh };
enum TControlEvent {
    cePlay,
    cePause,
    ceStop,
    ceFileRendering,
    ceFileRendered,
    ceDVDRendering,
    ceDVDRendered,
    ceActive
};

// A component that puts a filter into a graph (a graph client). Main thread.
class IFilter {
public:
    virtual ComPtr<IBaseFilter> GetFilter() = 0; // the filter to add (may be none)
    virtual QString GetName() = 0;               // the name it is added under
    virtual void NotifyFilter(TFilterOperation operation, int param = 0) = 0;

protected:
    ~IFilter() = default;
};

// A component that follows the graph's events (the video window). Main thread.
class IEvent {
public:
    virtual void GraphEvent(long event, LONG_PTR param1, LONG_PTR param2) = 0;
    virtual void ControlEvent(TControlEvent event, int param = 0) = 0;

protected:
    ~IEvent() = default;
};

// The component's private id: the graph's service provider answers it with the component.
AV_DEFINE_GUID(IID_IFilterGraphComponent, 0xC7CAA944, 0xC191, 0x4AB1, 0xAB, 0xA7, 0xD8, 0xB4, 0x0E,
               0xF4, 0xD5, 0xB2);

using TDSEvent = TEvent<TObject*, long, LONG_PTR, LONG_PTR>;
using TResultEvent = TEvent<TObject*, HRESULT>;
using TBoolEvent = TEvent<TObject*, bool>;
using TIntEvent = TEvent<TObject*, int>;
using TSelectedFilterEvent =
    TEvent<IMoniker*, const QString& /*name*/, const GUID& /*clsid*/, bool& /*accept*/>;
using TCreatedFilterEvent = TEvent<IBaseFilter*, bool& /*accept*/>;
using TUnableToRenderEvent = TEvent<TObject*, IPin*>;

// Get<I>(): the interface a component's QueryInterface answers for I, or none.
template <class Self> class TInterfaceQuery {
public:
    template <class I> ComPtr<I> Get() {
        ComPtr<I> out;
        static_cast<Self*>(this)->QueryInterface(uuidof<I>(), out.AsVoid());
        return out;
    }
};

// The platform interfaces a component implements itself (callbacks the platform calls). They are
// not counted: the component's life is its owner's (the form's). Self writes QueryInterface.
template <class Self, class... Interfaces>
class TComponentInterfaces : public TInterfaceQuery<Self>, public Interfaces... {
public:
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
};

class TFilterGraph : public TNonVisualComponent,
                     public TComponentInterfaces<TFilterGraph, IAMGraphBuilderCallback,
                                                 IAMFilterGraphCallback, IServiceProvider> {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(bool AutoCreate READ AutoCreate WRITE SetAutoCreate)
    Q_PROPERTY(int Mode READ ModeInt WRITE SetModeInt)
    Q_PROPERTY(bool GraphEdit READ GraphEdit WRITE SetGraphEdit)
    Q_PROPERTY(bool LinearVolume READ LinearVolume WRITE SetLinearVolume)
    Q_PROPERTY(QString LogFile READ LogFile WRITE SetLogFile)
public:
    explicit TFilterGraph(TComponent* AOwner);
    ~TFilterGraph() override;

    bool Active() const { return FActive; }
    // Activation creates the platform graph in the mode's shape and adds the clients' filters;
    // EDirectShowException when the platform cannot make it (gmDVD: DVD navigation is not
    // available here); the graph then stays inactive.
    void SetActive(bool value);
    bool AutoCreate() const { return FAutoCreate; }
    void SetAutoCreate(bool v) { FAutoCreate = v; }
    TGraphMode Mode() const { return FMode; }
    void SetMode(TGraphMode mode);
    bool GraphEdit() const { return FGraphEdit; }
    void SetGraphEdit(bool v);
    bool LinearVolume() const { return FLinearVolume; }
    void SetLinearVolume(bool v);
    QString LogFile() const { return FLogFileName; }
    void SetLogFile(const QString& name);
    int Volume() const { return FVolume; }
    void SetVolume(int v);
    int Balance() const { return FBalance; }
    void SetBalance(int v);

    // True when the graph could be asked to run (failures raise EDirectShowException).
    bool Play();
    bool Pause();
    // True when the platform stop returned S_OK.
    bool Stop();
    // Stops, disconnects every pin, removes every filter that is not a client's.
    void ClearGraph();

    void InsertFilter(IFilter* client);
    void RemoveFilter(IFilter* client);
    void InsertEventNotifier(IEvent* window);
    void RemoveEventNotifier(IEvent* window);

    // The component's own interfaces first, then (while active) the platform objects of the mode.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    // IAMGraphBuilderCallback, IAMFilterGraphCallback, IServiceProvider (the platform graph calls).
    HRESULT SelectedFilter(IMoniker* moniker) override;
    HRESULT CreatedFilter(IBaseFilter* filter) override;
    HRESULT UnableToRender(IPin* pin) override;
    HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) override;

    // Every graph event, before the event of its code.
    virtual void DoEvent(long code, LONG_PTR param1, LONG_PTR param2);

    TNotifyEvent OnActivate;
    TDSEvent OnDSEvent;
    TEvent<TObject*, HRESULT, IBaseFilter*> OnGraphComplete;
    TNotifyEvent OnGraphUserAbort;
    TResultEvent OnGraphErrorAbort;
    TEvent<TObject*, HRESULT, int> OnGraphStreamErrorStopped, OnGraphStreamErrorStillPlaying;
    TResultEvent OnGraphErrorStillPlaying;
    TNotifyEvent OnGraphPaletteChanged;
    TEvent<TObject*, int, int> OnGraphVideoSizeChanged;
    TNotifyEvent OnGraphQualityChange, OnGraphClockChanged;
    TResultEvent OnGraphPaused;
    TBoolEvent OnGraphOpeningFile, OnGraphBufferingData;
    TEvent<TObject*, IBaseFilter*> OnGraphFullscreenLost;
    TEvent<TObject*, QString, QString> OnGraphOleEvent;
    TEvent<TObject*, IPin*, int> OnGraphStreamControlStopped, OnGraphStreamControlStarted;
    TEvent<TObject*, REFERENCE_TIME, int> OnGraphEndOfSegment;
    // The device's filter, and true when the device arrived again (false: it has gone).
    TEvent<TObject*, IUnknown*, bool> OnGraphDeviceLost;
    TNotifyEvent OnGraphStepComplete;
    TEvent<TObject*, IBaseFilter*, int> OnGraphTimeCodeAvailable;
    TEvent<TObject*, int, int> OnGraphEXTDeviceModeChange;
    TNotifyEvent OnGraphChanged, OnGraphClockUnset;
    TIntEvent OnGraphVMRRenderDevice;
    TNotifyEvent OnDVDDomainFirstPlay, OnDVDDomainVideoManagerMenu, OnDVDDomainVideoTitleSetMenu,
        OnDVDDomainTitle, OnDVDDomainStop;
    TIntEvent OnDVDTitleChange, OnDVDChapterStart;
    TEvent<TObject*, int, QString> OnDVDAudioStreamChange, OnDVDSubpictureStreamChange;
    TEvent<TObject*, int, int> OnDVDAngleChange, OnDVDButtonChange;
    TIntEvent OnDVDValidUOPSChange;
    TEvent<TObject*, bool, int> OnDVDStillOn;
    TNotifyEvent OnDVDStillOff;
    TEvent<TObject*, int, int, int, int> OnDVDCurrentTime, OnDVDCurrentHMSFTime;
    TNotifyEvent OnDVDErrorUnexpected, OnDVDErrorCopyProtectFail, OnDVDErrorInvalidDVD1_0Disc,
        OnDVDErrorInvalidDiscRegion, OnDVDErrorLowParentalLevel, OnDVDErrorMacrovisionFail,
        OnDVDErrorIncompatibleSystemAndDecoderRegions, OnDVDErrorIncompatibleDiscAndDecoderRegions;
    TIntEvent OnDVDWarningInvalidDVD1_0Disc, OnDVDWarningFormatNotSupported,
        OnDVDWarningIllegalNavCommand, OnDVDWarningOpen, OnDVDWarningSeek, OnDVDWarningRead;
    TNotifyEvent OnDVDChapterAutoStop, OnDVDNoFP_PGC;
    TEvent<TObject*, float> OnDVDPlaybackRateChange;
    TIntEvent OnDVDParentalLevelChange;
    TNotifyEvent OnDVDPlaybackStopped;
    TBoolEvent OnDVDAnglesAvailable;
    TNotifyEvent OnDVDPlayPeriodAutoStop;
    TIntEvent OnDVDButtonAutoActivated, OnDVDCMDStart, OnDVDCMDEnd;
    TNotifyEvent OnDVDDiscEjected, OnDVDDiscInserted;
    TBoolEvent OnDVDKaraokeMode;

    // Builder callbacks: the sender is the graph component.
    TEvent<TObject*, IMoniker*, const QString&, const GUID&, bool&> OnSelectedFilter;
    TEvent<TObject*, IBaseFilter*, bool&> OnCreatedFilter;
    TUnableToRenderEvent OnUnableToRender;

    // The message that carries graph events to the hidden window (the application base plus one).
    static constexpr UINT WM_GRAPHNOTIFY = 0x8001;
    HWND NotifyWindow() const { return FWindow ? FWindow->Handle() : nullptr; }

protected:
    void Loaded() override;
    void BeforeDestruction() override;

private:
    int ModeInt() const { return int(FMode); }
    void SetModeInt(int v) { SetMode(TGraphMode(std::clamp(v, 0, 2))); }
    void Activate();
    void Deactivate();
    void AddClientFilter(IFilter* client);
    void RemoveClientFilter(IFilter* client);
    void RegisterRot();
    void RevokeRot();
    bool ApplyLogFile(const QString& name);
    void CloseLog();
    void ApplyVolume();
    void ApplyBalance();
    void WndProc(TMessage& m);

    bool FActive = false;
    bool FAutoCreate = false;
    TGraphMode FMode = gmNormal;
    bool FGraphEdit = false;
    bool FLinearVolume = true;
    QString FLogFileName;
    int FVolume = 10000;
    int FBalance = 0;
    double FRate = 1.0;

    std::unique_ptr<TMessageWindow> FWindow;
    ComPtr<IFilterGraph2> FGraph;
    ComPtr<ICaptureGraphBuilder2> FCaptureBuilder;
    ComPtr<IDvdGraphBuilder> FDvdBuilder;
    ComPtr<IMediaEventEx> FMediaEvent;
    DWORD FRotKey = 0;
    std::unique_ptr<QFile> FLog;
    std::vector<IFilter*> FClients;
    std::vector<IEvent*> FWindows;
};

// A capture device in a graph: binds the device its BaseFilter names whenever the graph becomes
// active and holds that filter until the graph becomes inactive.
class TFilter : public TNonVisualComponent, public IFilter, public TInterfaceQuery<TFilter> {
    Q_OBJECT
public:
    explicit TFilter(TComponent* AOwner);
    ~TFilter() override;

    TFilterGraph* FilterGraph() const { return FFilterGraph; }
    void SetFilterGraph(TFilterGraph* graph);
    TBaseFilter* BaseFilter() const { return FBaseFilter.get(); }

    // IFilter
    ComPtr<IBaseFilter> GetFilter() override { return FFilter; }
    QString GetName() override { return Name(); }
    void NotifyFilter(TFilterOperation operation, int param = 0) override;

    // The held platform filter's interfaces (none while the graph is inactive).
    HRESULT QueryInterface(REFIID riid, void** ppv);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    TFilterGraph* FFilterGraph = nullptr;
    std::unique_ptr<TBaseFilter> FBaseFilter;
    ComPtr<IBaseFilter> FFilter;
};

// ---- Video window -------------------------------------------------------------------------------
// The platform's renderer opens no window: it hands each frame to this control (on the streaming
// thread; the control keeps the newest and repaints on the main thread), which paints it in its
// video rectangle. The overlay notions map onto the renderer's colour stage: "overlay mode" means
// the renderer offers colour controls (it always does here), so CanOverlayGraphic is true while
// the graph is prepared; the colour key is kept as a value but never painted. The system-command
// messages NoScreenSaver refuses on the platform map onto its execution state.

enum TRatioModes { rmStretched, rmLetterBox, rmCrop };

class TDSVideoWindowEx2;

class TColorControl : public TPersistent {
public:
    explicit TColorControl(TDSVideoWindowEx2* owner);
    void Assign(const TPersistent* source) override;

    // Range errors raise Exception "Value %d out of range. Value must bee between ..." (the
    // platform component's own wording).
    int Brightness();
    void SetBrightness(int v);
    int Contrast();
    void SetContrast(int v);
    int Hue();
    void SetHue(int v);
    int Saturation();
    void SetSaturation(int v);
    int Sharpness();
    void SetSharpness(int v);
    int Gamma();
    void SetGamma(int v);
    bool ColorEnable();
    void SetColorEnable(bool v);

    // The record with the renderer's supported flags (127 before it was read).
    const DDCOLORCONTROL& Record() const { return FRecord; }

private:
    friend class TDSVideoWindowEx2;
    void ReadBack();  // from the renderer, when the graph is active
    void ReadFlags(); // only what the renderer supports, keeping the values
    void WriteOut();  // to the renderer, when the graph is active
    // A value as the renderer has it now; a checked value stored and sent to the renderer.
    template <class T> T Fresh(const T& field);
    void Store(int& field, int v, int lo, int hi, const char* range);
    TDSVideoWindowEx2* FOwner;
    DDCOLORCONTROL FRecord;
    int FBrightness = 750, FContrast = 10000, FHue = 0, FSaturation = 10000, FSharpness = 5,
        FGamma = 1;
    bool FColorEnable = true;
};

class TDSVideoWindowEx2Caps : public TPersistent {
public:
    explicit TDSVideoWindowEx2Caps(TDSVideoWindowEx2* owner) : FOwner(owner) {}
    bool CanOverlayGraphic() const;
    bool CanControlBrigtness() const { return Flag(DDCOLOR_BRIGHTNESS); }
    bool CanControlContrast() const { return Flag(DDCOLOR_CONTRAST); }
    bool CanControlHue() const { return Flag(DDCOLOR_HUE); }
    bool CanControlSaturation() const { return Flag(DDCOLOR_SATURATION); }
    bool CanControlSharpness() const { return Flag(DDCOLOR_SHARPNESS); }
    bool CanControlGamma() const { return Flag(DDCOLOR_GAMMA); }
    bool CanControlColorEnabled() const { return Flag(DDCOLOR_COLORENABLE); }

private:
    bool Flag(DWORD f) const;
    TDSVideoWindowEx2* FOwner;
};

class TDSVideoWindowEx2 : public TCustomControl, public IFilter, public IEvent {
    Q_OBJECT
public:
    // A live picture for screen readers (its name is the page's).
    QAccessibleInterface* CreateAccessible() override;
    explicit TDSVideoWindowEx2(TComponent* AOwner);
    ~TDSVideoWindowEx2() override;

    TFilterGraph* FilterGraph() const { return FFilterGraph; }
    void SetFilterGraph(TFilterGraph* graph);
    TRatioModes AspectRatio() const { return FAspectRatio; }
    void SetAspectRatio(TRatioModes v);
    int DigitalZoom() const { return FDigitalZoom; }
    void SetDigitalZoom(int v); // 0..99, else Exception
    int AutoHideCursor() const { return FAutoHideCursor; }
    void SetAutoHideCursor(int ms);
    // While on and the graph plays, the screen saver and blanking stay off (the platform's
    // execution state); a stop, a removed renderer or switching it off lets them back.
    bool NoScreenSaver() const { return FNoScreenSaver; }
    void SetNoScreenSaver(bool v);
    bool FullScreenTopMost() const { return FFullScreenTopMost; }
    void SetFullScreenTopMost(bool v) { FFullScreenTopMost = v; }
    TColorControl* ColorControl() const { return FColorControl.get(); }
    TDSVideoWindowEx2Caps* Caps() const { return FCaps.get(); }
    TColor ColorKey() const { return FColorKey; }
    bool OverlayMode() const { return FOverlay; }
    bool OverlayVisible() const { return FOverlayShown; }
    // Where the picture goes in the client area (letter-box: the native size fitted and centred).
    TRect VideoRect() const;
    // The newest frame (null before the first), as the graph delivered it: scaled to the video
    // rectangle while there is no zoom.
    QImage CurrentFrame() const;
    // The camera picture's own size (empty before the first frame).
    QSize NativeSize() const;
    // Whether the renderer draws into this window's own native surface (X11), so that frames do
    // not pass through the main thread (CurrentFrame stays null then).
    bool DrawnByRenderer() const { return FWindowDrawn; }

    // IFilter
    ComPtr<IBaseFilter> GetFilter() override { return FRenderer; }
    QString GetName() override { return Name(); }
    void NotifyFilter(TFilterOperation operation, int param = 0) override;
    // IEvent
    void GraphEvent(long event, LONG_PTR param1, LONG_PTR param2) override;
    void ControlEvent(TControlEvent event, int param = 0) override;

    HRESULT QueryInterface(REFIID riid, void** ppv);

    TNotifyEvent OnPaint, OnColorKeyChanged;
    TEvent<TObject*, bool> OnOverlayVisible, OnCursorShowHide;

protected:
    void Paint() override;
    void Resize() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

private:
    friend class TColorControl;
    friend class TDSVideoWindowEx2Caps;
    static void OnFrame(void* self, const AvVideoFrame& frame);
    // Main thread: the repaint a streaming thread asked for. Invoked by name, so the queued call
    // carries no data of ours across threads (the thread checker cannot see Qt's hand-off).
    Q_INVOKABLE void RepaintFromStream();
    void Prepare();
    // On X11 (unless AVSETUP_VIDEO_SINK=qt), without a zoom or crop: the renderer draws into a
    // native surface over the client area (a window container), as the platform's renderer
    // draws into its child window.
    bool WantsWindowSink() const;
    void AttachWindowSink();
    void DetachWindowSink();
    void SizeWindowFrames();
    void KeepScreenOn(bool on);
    void MouseActivity(int x, int y);
    void IdleCheck();
    QRect SourceRect(const QSize& native) const;

    TFilterGraph* FFilterGraph = nullptr;
    TRatioModes FAspectRatio = rmLetterBox;
    int FDigitalZoom = 0;
    int FAutoHideCursor = 0;
    bool FNoScreenSaver = false;
    bool FFullScreenTopMost = false;
    std::unique_ptr<TColorControl> FColorControl;
    std::unique_ptr<TDSVideoWindowEx2Caps> FCaps;
    ComPtr<IBaseFilter> FRenderer;
    bool FPrepared = false, FOverlay = false, FOverlayShown = false;
    TColor FColorKey;
    mutable std::mutex FFrameLock;
    QImage FFrame;
    QSize FNative;
    QSize FRequestedSize{-1, -1};      // the frame size asked of the renderer
    class QWindow* FSurface = nullptr; // the native surface the renderer draws into
    QWidget* FSurfaceHost = nullptr;
    bool FWindowDrawn = false;
    std::atomic<bool> FRepaintQueued{false};
    QPoint FLastMouse;
    qint64 FLastActivity = 0;
    bool FCursorHidden = false;
    bool FPlaying = false, FScreenKeptOn = false;
    class QTimer* FIdleTimer = nullptr;
};

// ---- Sample grabber -----------------------------------------------------------------------------
// A graph client holding the platform's sample grabber; every buffer through it goes to OnBuffer
// on the streaming thread, one call at a time under the component's lock (never touch widgets
// there).
class TSampleGrabber : public TNonVisualComponent,
                       public IFilter,
                       public TComponentInterfaces<TSampleGrabber, ISampleGrabberCB> {
    Q_OBJECT
public:
    // EAssertionFailed "The SampleGrabber Filter is not available on this system." without one.
    explicit TSampleGrabber(TComponent* AOwner);
    ~TSampleGrabber() override;

    TFilterGraph* FilterGraph() const { return FFilterGraph; }
    void SetFilterGraph(TFilterGraph* graph);
    TMediaType* MediaType() const { return FMediaType.get(); }
    // Applies MediaType to the grabber now (the graph's refresh notice does the same).
    void UpdateMediaType();

    ComPtr<IBaseFilter> GetFilter() override { return FFilter; }
    QString GetName() override { return Name(); }
    void NotifyFilter(TFilterOperation operation, int param = 0) override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double sampleTime, BYTE* buffer, long bufferLen) override;

    // (sender, buffer, length in bytes, sample time in seconds); streaming thread.
    TEvent<TObject*, BYTE*, long, double> OnBuffer;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    TFilterGraph* FFilterGraph = nullptr;
    std::unique_ptr<TMediaType> FMediaType;
    ComPtr<IBaseFilter> FFilter;
    ComPtr<ISampleGrabber> FGrabber;
    ComPtr<IPin> FInPin, FOutPin;
    std::mutex FLock;
};
