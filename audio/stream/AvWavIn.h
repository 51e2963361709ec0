#pragma once
// Wave input: records from a platform waveform input device and pushes every filled buffer down
// its chain (BufferReady: OnBufferReady, then the Output). The source of a push chain, the
// mirror of the wave output: a ring of pooled headers allocated and prepared at Open and
// requeued unchanged after each delivery, a hidden window, three callback modes and one stop
// hand-off.
//
//   cmWindow   the platform callback posts MM_WIM_DATA to the hidden window; buffers are
//              handled on the main thread (what the microphone page uses)
//   cmThread   ... posts it to the component's own worker thread (TAvWaveInThread)
//   cmCallback handled inside the platform callback; offered only where the platform marks
//              callbacks as interrupt-time work (never here: the setter keeps the old mode)
//
// A stop asked for while a buffer is being handled (from OnBufferReady, a chain component or
// another thread) ends after that handler, on the main thread, through message 0x8002.
//
// Threads: properties and the device operations (Open, Start, Pause, Restart, Stop, Close) run
// on the main thread. OnBufferReady and the chain downstream run where buffers are handled (see
// above). The critical section guards the queue counter and the stop flags between them.
#include "audio/stream/AvDSPObj.h"
#include "framework/Exceptions.h"

#include <atomic>
#include <cstdint>
#include <memory>

AV_DECLARE_EXCEPTION(EAvWaveInError, Exception);

// The private message that finishes a stop on the main thread.
constexpr UINT WIM_STOP = 0x8002;
// The worker thread failed: the device is closed on the main thread.
constexpr UINT WIM_FAILED = 0x8003;

// The platform calls the component uses, bound once by BindPlatform.
struct TAvWaveInCalls {
    UINT (*GetNumDevs)() = nullptr;
    MMRESULT (*GetDevCaps)(UINT_PTR, LPWAVEINCAPSA, UINT) = nullptr;
    MMRESULT (*GetErrorText)(MMRESULT, LPSTR, UINT) = nullptr;
    MMRESULT (*Open)(LPHWAVEIN, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD) = nullptr;
    MMRESULT (*Close)(HWAVEIN) = nullptr;
    MMRESULT (*PrepareHeader)(HWAVEIN, LPWAVEHDR, UINT) = nullptr;
    MMRESULT (*UnprepareHeader)(HWAVEIN, LPWAVEHDR, UINT) = nullptr;
    MMRESULT (*AddBuffer)(HWAVEIN, LPWAVEHDR, UINT) = nullptr;
    MMRESULT (*Start)(HWAVEIN) = nullptr;
    MMRESULT (*Stop)(HWAVEIN) = nullptr;
    MMRESULT (*Reset)(HWAVEIN) = nullptr;
    MMRESULT (*GetPosition)(HWAVEIN, LPMMTIME, UINT) = nullptr;
    MMRESULT (*GetID)(HWAVEIN, LPUINT) = nullptr;
};

class TAvWaveInThread;

class TAvCustomWaveIn : public TAvCustomSoundComponent {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(int Mode READ ModeInt WRITE SetModeInt)
    Q_PROPERTY(int BitLength READ BitLengthInt WRITE SetBitLengthInt)
    Q_PROPERTY(int SampleRate READ SampleRate WRITE SetSampleRate)
    Q_PROPERTY(int TimeFormat READ TimeFormatInt WRITE SetTimeFormatInt)
    Q_PROPERTY(int MaxRecordTime READ MaxRecordTime WRITE SetMaxRecordTime)
public:
    explicit TAvCustomWaveIn(TComponent* AOwner);
    ~TAvCustomWaveIn() override;

    // ---- Properties (main thread). The device ones raise "Change to property while device
    // was open" while open.
    int BufferSize() const override { return TAvCustomSoundComponent::BufferSize(); }
    void SetBufferSize(int n) override; // at least 32
    int NumBuffers() const override { return FNumBuffers; }
    void SetNumBuffers(int n) override; // only n > 1, at most 500
    TAvDeviceId DeviceID() const override { return FDeviceID; }
    void SetDeviceID(TAvDeviceId id) override; // out of range: -2
    QString ProductName() const override { return FProductName; }
    void SetProductName(const QString&) override {}
    TAvCBMode CallBackMode() const override { return FCallBackMode; }
    void SetCallBackMode(TAvCBMode mode) override;
    TAvMode Mode() const { return FMode; }
    void SetMode(TAvMode mode);
    TAvBits BitLength() const { return FBitLength; }
    void SetBitLength(TAvBits bits);
    int SampleRate() const { return FSampleRate; }
    void SetSampleRate(int rate); // clamped to 8000 .. 100000
    TAvTimeFormats TimeFormat() const { return FTimeFormat; }
    void SetTimeFormat(TAvTimeFormats format);
    // In TimeFormat units; -1 (or any negative value) records without limit.
    int MaxRecordTime() const { return FMaxRecordTime; }
    void SetMaxRecordTime(int t);
    TThreadPriority Priority() const { return FPriority; }
    void SetPriority(TThreadPriority p);
    std::uint16_t DriverVersion() const { return FDriverVersion; }
    int DeviceCount() const { return FDeviceCount; }

    // ---- Device operations (main thread). A failure fires OnError, closes the device and
    // raises EAvWaveInError; Close never raises.
    virtual void Open();
    virtual void Close();
    virtual void Start();
    virtual void Pause();
    virtual void Restart();
    virtual void Stop();

    // Reports: OnError, then raises EAvWaveInError with the message.
    [[noreturn]] virtual void Error(const QString& message);

    // A PCM format whose rate class, bits and channels the device's standard-format bits offer,
    // and which the device accepts in a format query.
    bool QueryFormat(TAvDeviceId id, const WAVEFORMATEX* format);

    // State (any thread).
    bool DeviceOpen() const { return FState.load() & stOpen; }
    bool DeviceStarted() const { return FState.load() & stStarted; }
    bool DevicePaused() const { return FState.load() & stPaused; }
    HWAVEIN Handle() const { return FHandle.load(); }
    std::uint64_t BytesRecorded() const { return FBytesRecorded.load(); }
    std::int64_t ByteLimit() const { return FByteLimit; }
    int BuffersQueued() const { return FQueued.load(); }
    const WAVEFORMATEX* OwnFormat() const { return &FFormat; }
    TAvAllocator& Allocator() { return FAllocator; }

    // Chain.
    void SetPWaveFormat(const WAVEFORMATEX* f) override;
    void Started() override;
    void Stopped() override;
    void Paused() override;
    void Restarted() override;
    void BufferReady(TAvWaveHdr* lpWaveHdr) override;

    TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;

protected:
    // Stores the platform calls in the call table; the constructor calls it first.
    virtual void BindPlatform() = 0;
    // Binds the platform and reads the device count and device 0; the concrete class's
    // constructor calls it (a virtual call from the base constructor would not reach it).
    void Initialize();
    void BeforeDestruction() override;

    TAvWaveInCalls FCalls;

private:
    friend class TAvWaveInThread;
    enum : unsigned { stOpen = 1, stStarted = 2, stPaused = 4 };
    static void CALLBACK_Proc(HDRVR h, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2);
    void WndProc(TMessage& m);
    // One filled header, on the thread that handles buffers.
    void HandleData(TAvWaveHdr* h);
    void Requeue(TAvWaveHdr* h);
    void ReadPosition();
    void RebuildFormat();
    void UpdateByteLimit();
    void CheckClosed();
    QString PlatformText(const char* prefix, MMRESULT code);
    void CheckCall(const char* prefix, MMRESULT code);
    void StartThread();
    void EndThread();
    void FreeHeaders();
    void Finalize(); // the closing steps that always run
    // Runs fn; on an exception fires OnError, closes and re-raises.
    template <class F> void Guarded(F&& fn);
    void CloseAfterFailure();
    int ModeInt() const { return FMode; }
    void SetModeInt(int v) { SetMode(static_cast<TAvMode>(v)); }
    int BitLengthInt() const { return FBitLength; }
    void SetBitLengthInt(int v) { SetBitLength(static_cast<TAvBits>(v)); }
    int TimeFormatInt() const { return FTimeFormat; }
    void SetTimeFormatInt(int v) { SetTimeFormat(static_cast<TAvTimeFormats>(v)); }

    std::unique_ptr<TMessageWindow> FWindow;
    std::atomic<HWAVEIN> FHandle{nullptr};
    std::atomic<unsigned> FState{0};
    TAvWaveHdr* FHeaders[500] = {};
    int FRingIndex = 0;
    MMRESULT FLastResult = MMSYSERR_NOERROR;
    int FDeviceCount = 0;
    WAVEINCAPSA FCaps{};
    QString FProductName;
    std::uint16_t FDriverVersion = 0;
    WAVEFORMATEX FFormat{};
    std::atomic<std::uint64_t> FBytesRecorded{0};
    std::int64_t FByteLimit = 0x7FFFFFFF;
    std::atomic<int> FQueued{0};
    std::atomic<int> FHandlersRunning{0};
    std::atomic<bool> FStopPending{false}, FClosePending{false}, FStopping{false}, FClosing{false},
        FResetting{false}, FStopPosted{false};
    DWORD FLastPosition = 0;
    DWORD FWrapCount = 0;
    DWORD FWrapSize = 0;
    TAvAllocator FAllocator;
    TAvWaveInThread* FThread = nullptr;
    std::atomic<bool> FThreadFailed{false};
    TCriticalSection FLock;

    int FNumBuffers = 10;
    TAvDeviceId FDeviceID = 0;
    TAvCBMode FCallBackMode = cmWindow;
    TAvMode FMode = mMono;
    TAvBits FBitLength = b8Bit;
    int FSampleRate = 11025;
    TAvTimeFormats FTimeFormat = tfByte;
    int FMaxRecordTime = -1;
    TThreadPriority FPriority = tpHigher;
};

class TAvWaveIn : public TAvCustomWaveIn {
    Q_OBJECT
public:
    explicit TAvWaveIn(TComponent* AOwner);

protected:
    void BindPlatform() override;
};
