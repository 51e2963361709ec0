#pragma once
// TAvWaveOut: plays the audio of its chain on a platform wave output device. It is the sink of a
// pull chain: it owns a ring of buffer headers, fills each by pulling from its Input, queues it on
// the device, and refills and requeues each buffer as the device reports it played, until the
// source has no more data; then it stops by itself.
//
//   Out->SetInput(File);           // the source (its format flows to the output)
//   Out->SetDeviceID(0);
//   Out->Start();                  // opens, primes NumBuffers buffers, plays
//   ...
//   Out->Stop(); Out->Close();
//
// Threads. Properties and the operations (Open, Start, Pause, Restart, Reset, Stop, Close,
// GetPosition) belong to the main thread. Finished buffers -- and with them the pulls through the
// chain, OnBufferFilled, OnBufferReady, OnBufferLoad, OnLooping -- are handled where CallBackMode
// says: on the main thread through the hidden window (cmWindow), on the platform's callback thread
// (cmCallback), or on the component's own worker thread (cmThread). In the last two modes one
// critical section guards the queue counters, stop flags, bytes played and loop base; a stop
// requested while a buffer is being handled finishes on the main thread once that handling ends,
// and so does the automatic stop at the end of the data (always through the hidden window). A
// failure while handling a buffer fires OnError on the handling thread, closes the device on the
// main thread and reaches the application's exception handler.
//
// Failures raise EAvWaveOutError (after OnError). A failed Open, Start, Pause, Restart, Reset or
// Stop closes the device; Close never raises. Platform failures read "<Call>:", LF, CR, then the
// platform's text for the result.
#include "audio/stream/AvDSPObj.h"

#include <QFlags>
#include <array>
#include <atomic>

AV_DECLARE_EXCEPTION(EAvWaveOutError, Exception);

// Device state of a wave output (and of the player built on it).
enum TAvWaveOutStateFlag : unsigned {
    wsClosed = 0x1,
    wsOpen = 0x2,
    wsStarted = 0x4,
    wsPaused = 0x8
};
using TAvWaveOutState = QFlags<TAvWaveOutStateFlag>;
Q_DECLARE_OPERATORS_FOR_FLAGS(TAvWaveOutState)

class TAvWaveOutThread;

class TAvWaveOut : public TAvCustomWaveOutComponent {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Input READ Input WRITE SetInput)
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(int TimeFormat READ TimeFormatInt WRITE SetTimeFormatInt)
    Q_PROPERTY(bool Looping READ Looping WRITE SetLooping)
    Q_PROPERTY(int LoopCount READ LoopCount WRITE SetLoopCountInt)
    Q_PROPERTY(bool ShowHourGlass READ ShowHourGlass WRITE SetShowHourGlass)
    Q_PROPERTY(bool Mapped READ Mapped WRITE SetMapped)
    Q_PROPERTY(int Priority READ PriorityInt WRITE SetPriorityInt)
public:
    static constexpr int MaxBuffers = 500;
    // The hidden window's private messages: finish a stop (wParam: the device handle), and close
    // after a failure on another thread.
    static constexpr UINT WM_AV_STOP = 0x8001;
    static constexpr UINT WM_AV_FAILED = 0x8002;

    explicit TAvWaveOut(TComponent* AOwner);
    ~TAvWaveOut() override;

    // --- Operations (main thread) ---
    std::int64_t GetPosition() override;
    void Open() override;
    void Close() override;
    // Discards what is queued and refills from the source's current position (after a seek).
    void Reset() override;
    void Start() override;
    void Pause() override;
    void Restart() override;
    void Stop() override;

    // Fires OnError, then raises EAvWaveOutError with the message.
    [[noreturn]] virtual void Error(const QString& message);
    // May the device play this format? (-1 <= id < device count and the platform agrees.)
    bool QueryFormat(TAvDeviceId id, const WAVEFORMATEX* format);

    TAvWaveOutState State() const { return TAvWaveOutState::fromInt(FState.load()); }
    // Bytes the device has played since Start.
    std::uint64_t BytesPlayed() const;
    // A wrap of the source came back from the device (OnLooping fired) and GetPosition has not
    // yet seen it heard. Any thread.
    bool LoopPending() const;
    // Headers primed by Start (or Reset).
    int BuffersInUse() const { return FBuffersInUse; }
    // The header in ring slot i (nullptr when none); for diagnostics and tests.
    TAvWaveHdr* Header(int i) const;
    const TAvAllocator& Allocator() const { return FAllocator; }
    DWORD DriverVersion() const { return FDriverVersion; }

    // --- Properties (main thread; the device setters raise text 60 while open) ---
    int BufferSize() const override { return TAvCustomWaveOutComponent::BufferSize(); }
    void SetBufferSize(int n) override; // at least 32
    int NumBuffers() const override { return FNumBuffers; }
    void SetNumBuffers(int n) override; // only n > 1, at most 500
    TAvDeviceId DeviceID() const override { return FDeviceID; }
    void SetDeviceID(TAvDeviceId id) override; // out of range: stored as -2
    QString ProductName() const override { return FProductName; }
    void SetProductName(const QString&) override {}
    TAvCBMode CallBackMode() const override { return FCallBackMode; }
    void SetCallBackMode(TAvCBMode mode) override;
    TAvTimeFormats TimeFormat() const { return FTimeFormat; }
    void SetTimeFormat(TAvTimeFormats f) { FTimeFormat = f; }
    bool Looping() const { return FLooping; }
    void SetLooping(bool v);
    int LoopCount() const { return FLoopCount; }
    void SetLoopCount(std::uint16_t n);
    bool ShowHourGlass() const { return FShowHourGlass; }
    void SetShowHourGlass(bool v) { FShowHourGlass = v; }
    bool Mapped() const { return FMapped; }
    void SetMapped(bool v) { FMapped = v; }
    TThreadPriority Priority() const { return FPriority; }
    void SetPriority(TThreadPriority p);

    // --- Chain ---
    // The notifications of a device upstream operate this device.
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Paused() override { Pause(); }
    void Restarted() override { Restart(); }
    void Stopped() override { Stop(); }
    // Played buffers are pushed downstream by the output itself; arriving ones are ignored.
    void BufferReady(TAvWaveHdr*) override {}
    // The pull of one buffer: offers the capacity and the loop state, then asks the Input.
    void BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) override;
    // A new format closes the device first.
    void SetPWaveFormat(const WAVEFORMATEX* f) override;

    TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;
    // A buffer was filled and is about to be queued (on the buffer-handling thread).
    TAvBufferEvent OnBufferFilled;

protected:
    void BeforeDestruction() override;

private:
    friend class TAvWaveOutThread;
    static void CALLBACK_Proc(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR);
    void PlatformDone(TAvWaveHdr* hdr);
    void WndProc(TMessage& m);
    void DoneHandling();
    void EndHandler(bool failing);
    void FailedOnOtherThread();

    void PrepareHeader(int i);
    int PullBuffer(TAvWaveHdr* h);
    void WriteBuffer(TAvWaveHdr* h);
    void FinishStop();
    void ReleaseHeaders();
    DWORD DevicePosition();
    void StartThread();
    void EndThread();
    void CloseForDestruction();
    // In a catch block: OnError for a failure that did not come through Error (which fires it).
    void ReportFailure();
    // The position bookkeeping back to the start of a run (offset, wraps, loop bases); the
    // caller holds FLock.
    void ZeroPosition();
    // Runs fn; on an exception: ReportFailure, Close, and re-raises.
    template <class F> void Guarded(F&& fn);
    // In a catch block of Open (started false) or Start: ReportFailure, then closes as if the
    // device had been opened (and started), so that Close undoes whatever part was done.
    void CloseAfterFailure(bool started);
    QString PlatformError(const QString& prefix, MMRESULT r) const;
    [[noreturn]] void PlatformFail(const char* prefix, MMRESULT r);
    bool DevOpen() const { return FState.load() & wsOpen; }
    bool StartedOrPaused() const { return FState.load() & (wsStarted | wsPaused); }
    void AddState(TAvWaveOutState s) { FState.fetch_or(s.toInt()); }
    void RemoveState(TAvWaveOutState s) { FState.fetch_and(~s.toInt()); }
    void SetState(TAvWaveOutState s) { FState.store(s.toInt()); }
    // Waits (main thread: running posted work) until done() or the time is up; true when done.
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

    int TimeFormatInt() const { return FTimeFormat; }
    void SetTimeFormatInt(int v) { SetTimeFormat(static_cast<TAvTimeFormats>(v)); }
    void SetLoopCountInt(int v) { SetLoopCount(static_cast<std::uint16_t>(v)); }
    int PriorityInt() const { return FPriority; }
    void SetPriorityInt(int v) { SetPriority(static_cast<TThreadPriority>(v)); }

    TMessageWindow* FWindow = nullptr;
    std::atomic<unsigned> FState{wsClosed};
    std::atomic<HWAVEOUT> FHandle{nullptr};
    std::array<TAvWaveHdr*, MaxBuffers> FHeaders{};
    int FIndex = 0;
    UINT FNumDevs = 0;
    MMRESULT FLastResult = MMSYSERR_NOERROR;
    QString FProductName;
    DWORD FDriverVersion = 0;

    std::atomic<bool> FClosePending{false}, FStopping{false}, FClosing{false}, FResetting{false},
        FStopPosted{false}, FStopPending{false};
    bool FMoreBuffers = false;
    int FLoopsLeft = 0;
    std::uint64_t FBytesPlayed = 0;
    std::int64_t FPosOffset = 0, FLoopBase = 0, FPosAtStop = 0;
    // A wrap whose buffer came back before it was heard: the loop base from the moment it is.
    std::int64_t FNextLoopBase = -1;
    std::uint64_t FDeviceBytes = 0; // bytes of the buffers back since the device counter's 0
    DWORD FLastDevPos = 0, FWrapCount = 0, FWrapSize = 0;
    int FBuffersInUse = 0;
    std::atomic<int> FBuffersQueued{0}, FHandlersRunning{0};
    std::atomic<int> FBuffersUnhandled{0}; // written and not yet handled after playing
    std::atomic<int> FDonesPosted{0};      // cmWindow: buffers back since the last MM_WOM_DONE ran
    TAvAllocator FAllocator;
    TAvWaveOutThread* FThread = nullptr;
    mutable TCriticalSection FLock;

    int FNumBuffers = 10;
    TAvDeviceId FDeviceID = 0;
    TAvCBMode FCallBackMode = cmWindow;
    TAvTimeFormats FTimeFormat = tfByte;
    bool FLooping = false;
    std::uint16_t FLoopCount = 0;
    bool FShowHourGlass = true;
    bool FMapped = false;
    TThreadPriority FPriority = tpHigher;
};
