#pragma once
// The connector: a chain component that passes every buffer on unchanged and feeds displays
// (level meters) from a private copy of the latest buffer, cut into blocks of the size each
// display needs, each due at the moment its sound was recorded or is heard (the buffer's arrival
// plus the block's offset in playing time).
//
// The real-time loop (RealTime true, the default) feeds from the main thread through the
// messages of one process-wide hidden window: 45557 start, 45558 pump one connector, 45559 a
// pass over every running connector. Passes come once a display frame at most (60 a second):
// a pass feeds, in order, every block whose due time has passed, so each block reaches its
// display at most one frame late, and the thread sleeps between frames (a precise single-shot
// timer for the next due block or frame, whichever is later) or until a new buffer arrives; it
// never polls while nothing is due. Blocks of a buffer that are still unfed when the next one
// arrives stay in the copy ahead of it, so none is lost to a frame that came late.
//
// Threads:
//   - Properties, slots, Trigger's feeding, the loop and every display call: main thread.
//   - BufferReady/BufferLoad/BufferArrived: the thread that delivers buffers (the recorder's
//     window, worker thread or platform callback). They touch only the copy, the arming state
//     and the arrival time, under the connector's lock, and post to the hidden window.
//   - The paused re-arm tick: the timer service's thread, under the same lock.
//   In the non-real-time mode Pump runs on the delivering thread and meters draw from there.
#include "audio/display/AvLevel.h"
#include "audio/stream/AvACMCvt.h"
#include "audio/stream/AvDSPObj.h"
#include "framework/Exceptions.h"

#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

AV_DECLARE_EXCEPTION(EAvConnectorError, Exception);
AV_DECLARE_EXCEPTION(EOutOfResources, Exception);

enum TAvTriggerMode : std::uint8_t { tmNone, tmUpFlank, tmDownFlank };

// Display groups, in feeding order. Only the levels have a display class in this library; the
// other slots keep their references (and clear them on removal) but are never fed.
enum TAvDisplayGroup : std::uint8_t {
    dgLevels,
    dgMeters,
    dgOscopes,
    dgLights,
    dgSpectra,
    dgSpectrograms,
    dgCount
};

// Private messages of the connectors' hidden window.
constexpr UINT CM_CONNECTOR_START = 45557;
constexpr UINT CM_CONNECTOR_PUMP = 45558;
constexpr UINT CM_CONNECTOR_TICK = 45559;

class TAvConnector : public TAvDSPComponent {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool AutoConvert READ AutoConvert WRITE SetAutoConvert)
    Q_PROPERTY(bool AutoTrigger READ AutoTrigger WRITE SetAutoTrigger)
    Q_PROPERTY(bool Synchronize READ Synchronize WRITE SetSynchronize)
    Q_PROPERTY(int Speed READ Speed WRITE SetSpeed)
    Q_PROPERTY(int TriggerMode READ TriggerModeInt WRITE SetTriggerModeInt)
    Q_PROPERTY(int TriggerLevel READ TriggerLevel WRITE SetTriggerLevel)
    Q_PROPERTY(bool RefreshOnStop READ RefreshOnStop WRITE SetRefreshOnStop)
    Q_PROPERTY(bool RealTime READ RealTime WRITE SetRealTime)
    Q_PROPERTY(bool EnterIdle READ EnterIdle WRITE SetEnterIdle)
    Q_PROPERTY(TAvDSPComponent* Input READ Input WRITE SetInput)
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(TAvLevel* Level1 READ Level1 WRITE SetLevel1)
    Q_PROPERTY(TAvLevel* Level2 READ Level2 WRITE SetLevel2)
public:
    // Slots per group: two of each kind, four spectra.
    static constexpr int MaxSlots = 4;

    explicit TAvConnector(TComponent* AOwner);
    ~TAvConnector() override;

    // ---- Properties (main thread) ----
    bool Enabled() const { return FEnabled.load(); }
    void SetEnabled(bool v);
    bool AutoConvert() const { return FAutoConvert; }
    void SetAutoConvert(bool v) { FAutoConvert = v; }
    bool AutoTrigger() const { return FAutoTrigger.load(); }
    void SetAutoTrigger(bool v);
    bool Synchronize() const { return FSynchronize.load(); }
    void SetSynchronize(bool v) { FSynchronize = v; }
    int Speed() const { return FSpeed; }
    void SetSpeed(int v); // clamped to 1 .. 5000
    TAvTriggerMode TriggerMode() const { return FTriggerMode; }
    void SetTriggerMode(TAvTriggerMode v) { FTriggerMode = v; }
    int TriggerLevel() const { return FTriggerLevel; }
    void SetTriggerLevel(int v) { FTriggerLevel = v; }
    bool RefreshOnStop() const { return FRefreshOnStop; }
    void SetRefreshOnStop(bool v) { FRefreshOnStop = v; }
    bool RealTime() const { return FRealTime; }
    // EAvConnectorError "Change to property while device was open" while open.
    void SetRealTime(bool v);
    // Process-wide, shared by every connector.
    static bool EnterIdle();
    static void SetEnterIdle(bool v);

    TAvLevel* Level1() const { return FLevels[0]; }
    void SetLevel1(TAvLevel* v) { SetSlot(dgLevels, 0, v); }
    TAvLevel* Level2() const { return FLevels[1]; }
    void SetLevel2(TAvLevel* v) { SetSlot(dgLevels, 1, v); }
    // The slots of the other display kinds (meters 0..1, oscilloscopes 0..1, lights 0..1,
    // spectra 0..3, spectrograms 0..1): kept and cleared on removal, never fed.
    TComponent* Display(TAvDisplayGroup group, int slot) const;
    void SetDisplay(TAvDisplayGroup group, int slot, TComponent* display);

    // Raised on the feeding thread after every feeding pass.
    TNotifyEvent OnTrigger;

    // ---- Operations ----
    // Feeds one pass by hand (AutoTrigger false). Any thread: off the main thread it is posted
    // (at most one pending).
    virtual void Trigger();
    // A buffer arrived (any thread): copied, every group with a display re-armed at its start.
    virtual void BufferArrived(const void* data, int byteCount);
    // Hands the input's format to every assigned display (main thread).
    void FormatToDisplays();
    // One feeding pass (see the header comment); the thread that feeds. In the real-time mode
    // every block due by now, in order; otherwise at most one block per display group.
    void Pump();

    // ---- State (any thread; for tests and the page) ----
    bool Active() const { return FActive.load(); }
    bool Running() const { return FRunning.load(); }
    bool FeedPaused() const { return FFeedPaused.load(); }
    bool Armed(TAvDisplayGroup group) const;
    int ReadPosition(TAvDisplayGroup group) const;
    int CopySize() const;
    const WAVEFORMATEX* CopyFormat() const { return FCopyFormat; }
    TAvTimerClient* RearmClient() const { return FRearmClient; }

    // Chain overrides.
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Flushed() override;
    void BufferReady(TAvWaveHdr* lpWaveHdr) override;
    void BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) override;
    void SetDesignMode(bool designing) override;

    // ---- The process-wide loop ----
    // The microsecond clock the pacing uses: the platform's high-resolution counter unless a
    // test clock is installed (nullptr restores it). Main thread, with no connector running.
    using TClock = std::int64_t (*)();
    static void SetClock(TClock clock);
    static std::int64_t Now();
    // One pass of the loop now (what message 45559 runs, without waiting for the frame), main
    // thread. Tests with their own clock call this instead of waiting for the wake-up timer.
    static void RunPass();
    // The shortest time between two passes of the loop, in microseconds: a display frame. 0
    // wakes for every block at its due time (as the loop did before; for benchmarks). Main
    // thread.
    static constexpr std::int64_t DefaultFramePeriodUs = 1000000 / 60;
    static void SetFramePeriod(std::int64_t us);
    static std::int64_t FramePeriodUs();
    // Called for every block handed to a display: its due time and the clock when it was
    // handed over (microseconds). For benchmarks; main thread; nullptr removes it.
    using TFeedProbe = std::function<void(std::int64_t due, std::int64_t fed)>;
    static void SetFeedProbe(TFeedProbe probe);
    // The loop as first written, for comparison in benchmarks: every pass reposts itself after
    // sleeping 1 ms instead of waiting for the next block. Off by default.
    static void SetPollingLoop(bool on);
    // The number of registered run-time connectors (tests).
    static int RegisteredCount();

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TAvConnectorLoop;
    int TriggerModeInt() const { return FTriggerMode; }
    void SetTriggerModeInt(int v) { FTriggerMode = static_cast<TAvTriggerMode>(v); }
    void SetSlot(TAvDisplayGroup group, int slot, TComponent* display);
    TComponent* SlotAt(TAvDisplayGroup group, int slot) const;
    int SlotCount(TAvDisplayGroup group) const;
    void UpdateGroupMask(); // main thread, after every slot change
    void Count();           // joins the loop's count of running AutoTrigger connectors
    void Uncount();
    int GroupBlockBytes(TAvDisplayGroup group) const;
    void ResetDisplays();
    void StartRunning();           // message 45557
    void StopRunning();            // leaves the running state and the AutoTrigger count
    void StartCopy();              // the copy set up by Started
    void ReleaseCopy();            // and released by Stopped
    void RearmTick();              // timer thread, while paused in real-time mode
    void ArmAll(std::int64_t now); // with the lock held
    // The earliest due time of an armed group (lock taken here), or INT64_MAX.
    std::int64_t NextDue() const;
    // Due time of the block at offset pos of the copy (lock held); playing time of n bytes.
    std::int64_t DueAt(int pos) const;
    std::int64_t PlayingTime(int bytes) const;
    // Moves what the level group has not been fed yet, in whole blocks, to the front of the copy
    // for the next buffer to follow (lock held, real-time mode); its length in bytes.
    int KeepUnfed();
    bool RunTime() const { return !IsDesigning(); }
    void Register();
    void Unregister();

    std::atomic<bool> FEnabled{true};
    bool FAutoConvert = true;
    std::atomic<bool> FAutoTrigger{true};
    std::atomic<bool> FSynchronize{true};
    int FSpeed = 5000;
    TAvTriggerMode FTriggerMode = tmNone;
    int FTriggerLevel = 0;
    bool FRefreshOnStop = true;
    bool FRealTime = true;
    bool FRegistered = false;
    bool FCounted = false;
    std::atomic<unsigned> FGroupMask{0}; // bit g: group g has a display (read by any thread)

    // References to displays (not owned); cleared on removal.
    QPointer<TAvLevel> FLevels[2];
    TComponent* FOthers[dgCount][MaxSlots] = {};

    mutable std::mutex FLock; // the copy, the arming state and ArrivalTime
    TAvTimerClient* FRearmClient = nullptr;
    std::atomic<bool> FActive{false};
    std::atomic<bool> FRunning{false};
    std::atomic<bool> FFeedPaused{false};
    std::uint8_t FSilence = 0;
    WAVEFORMATEX* FCopyFormat = nullptr; // the input's own format (PCM), or FOwnedFormat
    TAvFormatPtr FOwnedFormat;
    int FCopySize = 0;
    int FCopyCapacity = 0;
    // Room for two buffers: the blocks of the one before still unfed, then the latest.
    std::unique_ptr<std::uint8_t[]> FCopy;
    std::uint8_t* FCopyData = nullptr;
    int FFresh = 0;             // where the latest buffer starts in the copy
    std::int64_t FCarryDue = 0; // due time of the first byte kept from before it
    // ArrivalTime: when the latest buffer arrived, or when the blocks kept ahead of it end.
    bool FIsPcm = false;
    bool FConverting = false;
    // Non-PCM input with AutoConvert: the conversion to the suggested PCM format (FCopyData is its
    // output area while it runs), and that format while no stream runs, for the displays.
    TAvACMChain FConverter;
    TAvFormatPtr FSuggested;
    std::atomic<int> FPendingPumps{0};
    bool FArmed[dgCount] = {};
    int FPosition[dgCount] = {};
    std::int64_t FArrivalTime = 0;
};
