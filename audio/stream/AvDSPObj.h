#pragma once
// The audio component chain: the bases of every streaming component (wave input and output, wave
// file, converters, player, connector), the buffer header they pass along, the header pool and the
// worker-thread base of the sound devices.
//
// Components are linked into a line by Input (upstream) and Output (downstream). Buffers travel in
// two flows: a sink pulls (BufferLoad: "fill this header") from its Input, a source pushes
// (BufferReady: "here is a filled header") to its Output. Control notifications (Opened, Started,
// Paused, Restarted, Stopped, Closed, Flushed, Looped) travel along the line so that every plain
// component between two sound devices follows the device being operated; the format travels
// downstream with them (SetPWaveFormat -> Output.InputFormatChanged).
//
// Linking keeps both sides consistent: A.SetInput(B) also makes B's Output A, and whatever was
// linked to either end before loses its back-link. A link is refused (nothing changes) when it
// would close a loop, when a component is linked to itself, or when the other class publishes no
// matching property ("Output" for an Input, "Input" for an Output) and has not set ProvidesOutput /
// AcceptsInput. Published properties are Qt meta-object properties: a class makes its links
// known by declaring Q_PROPERTY(TAvDSPComponent* Input ...) / Output.
//
// Threads: linking, formats, properties and the open/start/stop notifications run on the main
// thread. BufferLoad and BufferReady (and so every OnBufferLoad/OnBufferReady handler, Flushed and
// Looped) run on the thread on which the driving device handles finished buffers: the main thread
// (cmWindow), the device's TAvDSPThread (cmThread) or the platform's callback thread (cmCallback).
// The chain takes no locks of its own.
#include "audio/display/AvObj.h"
#include "audio/display/AvUtils.h"
#include "audio/mixer/AvDevice.h"
#include "framework/MessageWindow.h"
#include "framework/Threads.h"
#include "platform/api/mmsystem.h"
#include "platform/api/winbase.h"

#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

// Where a sound device handles its finished buffers.
enum TAvCBMode : std::uint8_t { cmWindow = 0, cmCallback = 1, cmThread = 2 };

// ---- Buffer header ------------------------------------------------------------------------------

// One block holds the header and, directly after it, the data. The platform part comes first, so
// a TAvWaveHdr* is passed to the platform as it is. Chain meaning of the platform fields:
//   lpData           the first byte after the header
//   dwBufferLength   before a pull: the capacity offered; after the sink's pull: bytes to play
//   dwBytesRecorded  bytes of valid data (set by the filler, or by the platform when recording)
//   dwFlags          platform flags (WHDR_DONE, WHDR_PREPARED); dwUser, dwLoops: 0
struct TAvWaveHdr : WAVEHDR {
    DWORD Reserved;
    DWORD SavedBytesRecorded; // dwBytesRecorded kept by the wave output across the platform write
    TAvWaveHdr* NextHeader;   // the header that plays after this one (set before a push)
    LONG LoopEnabled;         // -1 when the sink plays in a loop, else 0
    LONG LoopCount;           // loops requested; 0 = endless
    LONG LoopsLeft;           // loops still to play
    LONG HasLooped;           // -1: the source wrapped to its start while filling this buffer
};
using PAvWaveHdr = TAvWaveHdr*;

// Size of the header part of a buffer block.
constexpr int AvWaveHdrSize = static_cast<int>(sizeof(TAvWaveHdr));

// Makes a zeroed block of AvWaveHdrSize + dataSize bytes a header: lpData points behind the
// header, dwBufferLength is dataSize, everything else 0. Returns the header (nullptr for nullptr).
TAvWaveHdr* AvInitWaveHdr(void* block, int dataSize);

// Sender, lpWaveHdr.
using TAvBufferEvent = TEvent<TObject*, TAvWaveHdr*>;
// Sender, lpWaveHdr, MoreBuffers.
using TAvBufferLoadEvent = TEvent<TObject*, TAvWaveHdr*, bool&>;

// ---- Header pool --------------------------------------------------------------------------------

// A pool of global-memory blocks. Blocks handed back with FreeBuffer stay allocated and are handed
// out again; only FreeAll (and destruction) releases them. Any thread; every operation holds the
// pool's lock for its whole duration.
class TAvAllocator {
public:
    TAvAllocator() = default;
    ~TAvAllocator();
    TAvAllocator(const TAvAllocator&) = delete;
    TAvAllocator& operator=(const TAvAllocator&) = delete;

    // A free block of exactly size bytes, else the first free one at least that large, else a new
    // block of size bytes allocated with the given GlobalAlloc flags (nullptr when that fails).
    void* AllocBuffer(UINT flags, std::uint32_t size);
    // Returns a block to the pool and clears the caller's pointer; a block the pool does not know
    // is left alone (and the pointer kept).
    void FreeBuffer(void*& block);
    // Releases every block to the platform, also ones still handed out.
    void FreeAll();

    int Count() const;           // blocks held
    int InUse() const;           // blocks handed out
    std::uint64_t Bytes() const; // bytes held

private:
    struct TEntry {
        void* Block;
        std::uint32_t Size;
        std::int32_t UseCount;
    };
    mutable TCriticalSection FLock;
    std::vector<TEntry> FEntries;
};

// ---- Component bases ----------------------------------------------------------------------------

class TAvCustomDSPComponent : public TAvNonVisualComponent {
    Q_OBJECT
public:
    using TAvNonVisualComponent::TAvNonVisualComponent;
};

class TAvDSPComponent : public TAvCustomDSPComponent {
    Q_OBJECT
public:
    explicit TAvDSPComponent(TComponent* AOwner);
    ~TAvDSPComponent() override;

    // Re-derives the format after a link change (unless loading, reading or being destroyed):
    // from the Input's format when there is an Input, else passes its own to the Output.
    virtual void UpdateFormat();
    // Drops a stale back-link: c was this component's Input (inputSide) or Output, and c's
    // property `name` no longer refers to this component.
    virtual void UnlinkNotify(TAvDSPComponent* c, bool inputSide, const QString& name);

    // Links (not owned). Setting one sends Stopped to this component first; see the unit comment.
    virtual void SetInput(TAvDSPComponent* a);
    virtual TAvDSPComponent* Input() const { return FInput; }
    virtual void SetOutput(TAvDSPComponent* a);
    virtual TAvDSPComponent* Output() const { return FOutput; }

    // The format of the audio this component delivers (an owned copy; nullptr when none). Setting
    // stops a started component, copies f and passes the copy to the Output's InputFormatChanged.
    virtual void SetPWaveFormat(const WAVEFORMATEX* f);
    virtual const WAVEFORMATEX* PWaveFormat() const { return FPWaveFormat.get(); }

    // The requested size while closed, the size fixed at Opened while open.
    virtual int BufferSize() const;
    // Stores the requested size (a started component is stopped first). No bounds here.
    virtual void SetBufferSize(int n);
    int RealBufferSize() const { return FRealBufferSize; }

    // The Input's format changed (nullptr: no Input any more). The base takes it as its own.
    virtual void InputFormatChanged(const WAVEFORMATEX* f);

    // Chain notifications; the base keeps the state flags.
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void Flushed();
    virtual void Looped();

    // Push: OnBufferReady, then the Output's BufferReady.
    virtual void BufferReady(TAvWaveHdr* lpWaveHdr);
    // Pull: OnBufferLoad, then the Input's BufferLoad. The sink sets dwBufferLength to the
    // capacity, dwBytesRecorded to 0 and MoreBuffers to false before the call; a source writes at
    // most dwBufferLength bytes at lpData, sets dwBytesRecorded and sets MoreBuffers while more
    // data follows.
    virtual void BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers);

    // Store one side of a link without any checks (the name is cut to 20 characters).
    virtual void SetInputLink(TAvDSPComponent* c, const QString& name);
    virtual void SetOutputLink(TAvDSPComponent* c, const QString& name);
    // May c become this component's Input (Output)? False for itself, for a class without an
    // "Output" ("Input") property unless its ProvidesOutput (AcceptsInput) is set, and for a
    // component that already lies downstream (upstream): links never form a loop.
    virtual bool CanConnectInput(TAvDSPComponent* c);
    virtual bool CanConnectOutput(TAvDSPComponent* c);

    bool IsOpen() const { return FIsOpen; }
    bool IsStarted() const { return FIsStarted; }
    bool IsPaused() const { return FIsPaused; }

    // May become another's Output (Input) although its class publishes no Input (Output).
    bool AcceptsInput() const { return FAcceptsInput; }
    void SetAcceptsInput(bool v) { FAcceptsInput = v; }
    bool ProvidesOutput() const { return FProvidesOutput; }
    void SetProvidesOutput(bool v) { FProvidesOutput = v; }
    // The property of the Input (Output) component that refers back to this one.
    QString InputLinkName() const { return FInputLinkName; }
    QString OutputLinkName() const { return FOutputLinkName; }

    TAvBufferEvent OnBufferReady;
    TAvBufferLoadEvent OnBufferLoad;

    // Live chain components, in order of construction (main thread).
    static int InstanceCount();

protected:
    // Calls UnlinkNotify(c, inputSide, name) on every live chain component.
    static void BroadcastUnlink(TAvDSPComponent* c, bool inputSide, const QString& name);
    // Loading, reading or being destroyed: formats are not passed on then.
    bool FormatFrozen() const { return IsLoading() || IsReading() || IsDestroying(); }
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void BeforeDestruction() override;

    int FBufferSize = 2048;
    int FRealBufferSize = 2048;

private:
    // Does c's class publish a link property `name` whose value is `target`?
    static bool LinkPropertyIs(TAvDSPComponent* c, const QString& name, TAvDSPComponent* target);
    void ReleaseLinks();

    TAvDSPComponent* FInput = nullptr;
    TAvDSPComponent* FOutput = nullptr;
    TAvFormatPtr FPWaveFormat;
    bool FIsOpen = false;
    bool FIsStarted = false;
    bool FIsPaused = false;
    bool FAcceptsInput = false;
    bool FProvidesOutput = false;
    QString FInputLinkName;
    QString FOutputLinkName;
};

// A chain component that stands for a sound device (wave input, wave output). Its notifications
// travel: each one reaches every plain component between this device and the next device up or
// down the line; the next device downstream is opened, started, paused, restarted, flushed and
// looped together with this one, and stopped and closed before it. See Propagate. Every device
// publishes its buffer and device settings; its links it publishes itself.
class TAvCustomSoundComponent : public TAvDSPComponent {
    Q_OBJECT
    Q_PROPERTY(int BufferSize READ BufferSize WRITE SetBufferSize)
    Q_PROPERTY(int NumBuffers READ NumBuffers WRITE SetNumBuffers)
    Q_PROPERTY(int DeviceID READ DeviceID WRITE SetDeviceID)
    Q_PROPERTY(QString ProductName READ ProductName WRITE SetProductName)
    Q_PROPERTY(int CallBackMode READ CallBackModeInt WRITE SetCallBackModeInt)
public:
    using TAvDSPComponent::TAvDSPComponent;

    // True while another sound component lies upstream (found by the last Opened).
    bool HasSourceDevice() const { return FHasSourceDevice; }

    virtual void SetNumBuffers(int n) = 0;
    virtual int NumBuffers() const = 0;
    virtual void SetDeviceID(TAvDeviceId id) = 0;
    virtual TAvDeviceId DeviceID() const = 0;
    virtual void SetProductName(const QString& name) = 0;
    virtual QString ProductName() const = 0;
    virtual void SetCallBackMode(TAvCBMode mode) = 0;
    virtual TAvCBMode CallBackMode() const = 0;

    void Opened() override { Propagate(ceOpened); }
    void Closed() override { Propagate(ceClosed); }
    void Started() override { Propagate(ceStarted); }
    void Paused() override { Propagate(cePaused); }
    void Restarted() override { Propagate(ceRestarted); }
    void Stopped() override { Propagate(ceStopped); }
    void Flushed() override { Propagate(ceFlushed); }
    void Looped() override { Propagate(ceLooped); }

    static bool IsSoundComponent(const TAvDSPComponent* c);

protected:
    enum TAvChainEvent {
        ceOpened,
        ceClosed,
        ceStarted,
        cePaused,
        ceRestarted,
        ceStopped,
        ceFlushed,
        ceLooped
    };
    // 1. The chain start: this component when another sound component lies upstream (Opened:
    //    HasSourceDevice), else the most upstream component.
    // 2. Closed and Stopped first reach the next sound component downstream.
    // 3. From the chain start downstream every plain component gets the notification (Opened:
    //    after taking this component's buffer size); the walk skips this component and ends at the
    //    next sound component, which gets it too unless step 2 already sent it.
    // 4. The base notification on this component.
    void Propagate(TAvChainEvent e);

private:
    int CallBackModeInt() const { return CallBackMode(); }
    void SetCallBackModeInt(int v) { SetCallBackMode(static_cast<TAvCBMode>(v)); }
    static void Send(TAvDSPComponent* c, TAvChainEvent e);
    void SendBase(TAvChainEvent e);
    bool FHasSourceDevice = false;
};

// A sound component that plays: the operations TAvWaveOut implements.
class TAvCustomWaveOutComponent : public TAvCustomSoundComponent {
    Q_OBJECT
public:
    using TAvCustomSoundComponent::TAvCustomSoundComponent;
    // Played position in the component's time format.
    virtual std::int64_t GetPosition() = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void Reset() = 0;
    virtual void Start() = 0;
    virtual void Pause() = 0;
    virtual void Restart() = 0;
    virtual void Stop() = 0;
};

// ---- Threads ------------------------------------------------------------------------------------

// The library's thread: a framework thread whose priority may change while it runs (mapped onto
// the platform's thread priorities; the system may refuse a raise, which is not an error).
class TAvThreadEx : public TThread {
public:
    explicit TAvThreadEx(bool createSuspended = true) : TThread(createSuspended) {}
    TThreadPriority Priority() const { return FPriority.load(); }
    // Any thread: stores it and, while the thread runs, applies it at once.
    void SetPriority(TThreadPriority p);
    // The system id of the running thread (0 before it runs).
    DWORD ThreadId() const { return FThreadId.load(); }
    // The library thread the caller runs on, or nullptr.
    static TAvThreadEx* CurrentEx();
    // The platform value of a priority (tpIdle -15 ... tpTimeCritical 15).
    static int PlatformPriority(TThreadPriority p);

protected:
    // Records the id, applies the priority, then runs ExecuteEx.
    void Execute() final;
    virtual void ExecuteEx() = 0;

private:
    std::atomic<TThreadPriority> FPriority{tpNormal};
    std::atomic<DWORD> FThreadId{0};
};

// The worker thread of a sound component. It has a message queue of its own: any thread posts,
// the worker takes messages in order with WaitMessage, which also returns when the thread is told
// to end (TerminateAndWake).
class TAvDSPThread : public TAvThreadEx {
public:
    // Created suspended; joins the process-wide list of DSP threads.
    explicit TAvDSPThread(TAvCustomSoundComponent* component);
    ~TAvDSPThread() override;

    TAvCustomSoundComponent* Component() const { return FComponent; }

    // Any thread: queue a message for the worker.
    void PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // Any thread: drop every queued message with this number; returns how many.
    int RemoveThreadMessages(UINT msg);
    // Any thread: Terminate, and wake a WaitMessage.
    void TerminateAndWake();

    // The DSP thread the caller runs on, or nullptr.
    static TAvDSPThread* Current();

protected:
    // Worker: the next message (true), or false once terminated or after timeoutMs.
    bool WaitMessage(TMessage& m, std::uint32_t timeoutMs = INFINITE);

private:
    TAvCustomSoundComponent* FComponent;
    std::mutex FQueueLock;
    std::condition_variable FQueueCond;
    std::deque<TMessage> FQueue;
};

// Runs proc on the main thread (waiting for it) when called on a registered DSP thread; on any
// other thread it calls proc at once. Events that must reach the user interface use it.
void CallSynchronized(const std::function<void()>& proc);
