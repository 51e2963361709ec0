#include "audio/display/AvConect.h"

#include "framework/Forms.h"
#include "framework/MessageWindow.h"
#include "framework/Threads.h"
#include "platform/api/mmsystem.h"
#include "platform/api/windef.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

// ---- The process-wide loop ------------------------------------------------------------------

namespace {

std::int64_t PlatformClock() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return static_cast<std::int64_t>(f.QuadPart);
    }();
    if (frequency >= 2) {
        LARGE_INTEGER c{};
        QueryPerformanceCounter(&c);
        const std::int64_t ticks = c.QuadPart;
        // Split so the product cannot overflow for any uptime.
        return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
    }
    return static_cast<std::int64_t>(timeGetTime()) * 1000;
}

std::atomic<TAvConnector::TClock> Clock{&PlatformClock};
// The hidden window's handle, read by any thread that posts (a gone window refuses posts).
std::atomic<HWND> LoopHandle{nullptr};
// A pass has been posted and has not run yet: new buffers need not post another.
std::atomic<bool> PassPosted{false};
bool EnterIdleFlag = false;
bool PollingLoop = false;
std::int64_t FramePeriod = TAvConnector::DefaultFramePeriodUs;

// The meters of a pass analyse every block and draw once, when it ends.
class TAvFeedBatch {
public:
    explicit TAvFeedBatch(const QPointer<TAvLevel>* levels) {
        if (!levels) return;
        for (int i = 0; i < 2; ++i) {
            Levels[i] = levels[i];
            if (Levels[i]) Levels[i]->BeginFeed();
        }
    }
    ~TAvFeedBatch() {
        for (const QPointer<TAvLevel>& l : Levels)
            if (l) l->EndFeed();
    }
    TAvFeedBatch(const TAvFeedBatch&) = delete;
    TAvFeedBatch& operator=(const TAvFeedBatch&) = delete;

private:
    QPointer<TAvLevel> Levels[2];
};

} // namespace

// Main thread only, except where noted.
class TAvConnectorLoop {
public:
    TAvConnectorLoop() {
        Window = std::make_unique<TMessageWindow>([this](TMessage& m) { WndProc(m); });
        LoopHandle = Window->Handle();
        PassPosted = false; // a pass posted to a window gone before it ran is not coming
        // The wake-up runs the pass itself: one hop less per block than posting it. A timer
        // file wakes the event loop at the block's due microsecond; Qt's timers count whole
        // milliseconds, which made blocks half a millisecond late on average.
        WakeFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (WakeFd >= 0) {
            WakeNotifier = std::make_unique<QSocketNotifier>(WakeFd, QSocketNotifier::Read);
            QObject::connect(WakeNotifier.get(), &QSocketNotifier::activated, [this] {
                std::uint64_t expirations = 0;
                if (read(WakeFd, &expirations, sizeof expirations) > 0) Pass();
            });
        }
        Wake.setSingleShot(true);
        Wake.setTimerType(Qt::PreciseTimer);
        QObject::connect(&Wake, &QTimer::timeout, [this] { Pass(); });
    }
    ~TAvConnectorLoop() {
        LoopHandle = nullptr;
        RemoveIdleHandler();
        WakeNotifier.reset();
        if (WakeFd >= 0) close(WakeFd);
    }

    // Any thread.
    static void Post(UINT msg, TAvConnector* c) {
        if (HWND h = LoopHandle.load()) PostMessage(h, msg, 0, reinterpret_cast<LPARAM>(c));
    }
    // Any thread: one pass soon, unless one is on its way already.
    static void PostPass() {
        if (!PassPosted.exchange(true)) Post(CM_CONNECTOR_TICK, nullptr);
    }

    bool Contains(const TAvConnector* c) const {
        return std::find(Registry.begin(), Registry.end(), c) != Registry.end();
    }
    void RecomputeSpeed() {
        HighestSpeed = 1;
        for (TAvConnector* c : Registry)
            HighestSpeed = std::max(HighestSpeed, c->Speed());
    }

    void WndProc(TMessage& m) {
        TAvConnector* c = reinterpret_cast<TAvConnector*>(m.LParam);
        switch (m.Msg) {
        case CM_CONNECTOR_START:
            // A connector gone since the post is no longer registered.
            if (Contains(c)) c->StartRunning();
            break;
        case CM_CONNECTOR_PUMP:
            if (Contains(c)) {
                if (c->Enabled() && c->Running()) c->Pump();
                c->FPendingPumps.fetch_sub(1);
            }
            break;
        case CM_CONNECTOR_TICK:
            Pass();
            break;
        default:
            break;
        }
    }

    // forced: run now, whenever the last pass ran (RunPass).
    void Pass(bool forced = false) {
        PassPosted = false;
        if (InPass) return; // a pass running below us reschedules when it ends
        const std::int64_t now = TAvConnector::Now();
        // One pass a display frame: one asked for sooner (a buffer arriving) waits for the frame
        // instead of waking the thread again a few milliseconds later.
        if (!forced && !PollingLoop && FramePeriod > 0 && HasPassed &&
            now - LastPass < FramePeriod) {
            if (RunningAuto > 0) StartWake(LastPass + FramePeriod - now);
            return;
        }
        InPass = true;
        FedInPass = 0;
        // Every pass runs from the event loop, which handles the application's messages between
        // passes; a Speed below 5000 asks for that much more message handling per pass.
        if (Application)
            for (int i = 0; i < 5000 - HighestSpeed && !Application->Terminated(); ++i)
                Application->ProcessMessages();
        const std::vector<TAvConnector*> connectors = Registry;
        for (TAvConnector* c : connectors)
            if (Contains(c) && c->AutoTrigger() && c->Enabled() && c->Running()) c->Pump();
        InPass = false;
        // A frame is counted from a pass that fed something: one that found nothing due (the
        // start, a disarming pass) does not hold the next buffer's first block back.
        if (FedInPass > 0) {
            HasPassed = true;
            LastPass = now;
        }
        Schedule();
    }

    // After a pass: wake when the earliest armed block is due, but not before the next frame.
    // Nothing armed: the next buffer (or the paused re-arm tick) posts a pass.
    void Schedule() {
        if (RunningAuto <= 0 || (Application && Application->Terminated())) {
            StopWake();
            return;
        }
        if (PollingLoop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (EnterIdleFlag && Application) Application->ProcessMessages();
            PostPass();
            return;
        }
        std::int64_t due = INT64_MAX;
        for (TAvConnector* c : Registry)
            if (c->AutoTrigger() && c->Enabled() && c->Running()) due = std::min(due, c->NextDue());
        if (due == INT64_MAX) {
            StopWake();
            return;
        }
        const std::int64_t wait = std::max(due, LastPass + FramePeriod) - TAvConnector::Now();
        if (wait <= 0) {
            StopWake();
            PostPass();
        } else {
            StartWake(wait);
        }
    }

    // Relative to now, since the pacing clock may be a test's own.
    void StartWake(std::int64_t waitUs) {
        if (WakeFd >= 0) {
            itimerspec t{};
            t.it_value.tv_sec = static_cast<time_t>(waitUs / 1000000);
            t.it_value.tv_nsec = static_cast<long>(waitUs % 1000000 * 1000);
            if (timerfd_settime(WakeFd, 0, &t, nullptr) == 0) return;
        }
        Wake.start(static_cast<int>(std::min<std::int64_t>((waitUs + 999) / 1000, INT_MAX)));
    }
    void StopWake() {
        Wake.stop();
        if (WakeFd >= 0) {
            const itimerspec off{};
            timerfd_settime(WakeFd, 0, &off, nullptr);
        }
    }

    void InstallIdleHandler() {
        if (!EnterIdleFlag || !Application || Application->OnIdle.Assigned() || IdleInstalled)
            return;
        Application->OnIdle.Assign(Window.get(), [](TObject*, bool& done) { done = false; });
        IdleInstalled = true;
    }
    void RemoveIdleHandler() {
        if (IdleInstalled && Application) Application->OnIdle.ClearIfReceiver(Window.get());
        IdleInstalled = false;
    }

    std::vector<TAvConnector*> Registry;
    std::unique_ptr<TMessageWindow> Window;
    int WakeFd = -1;
    std::unique_ptr<QSocketNotifier> WakeNotifier;
    QTimer Wake; // where no timer file can be had
    int HighestSpeed = 5000;
    int RunningAuto = 0; // running connectors counted with AutoTrigger
    bool InPass = false;
    bool HasPassed = false;
    std::int64_t LastPass = 0; // when the last pass that fed a block began (connector clock)
    int FedInPass = 0;         // blocks fed by the pass running
    bool IdleInstalled = false;
    TAvConnector::TFeedProbe Probe;
};

namespace {
TAvConnectorLoop* Loop = nullptr;
}

void TAvConnector::SetClock(TClock clock) {
    Clock = clock ? clock : &PlatformClock;
}
std::int64_t TAvConnector::Now() {
    return Clock.load()();
}
void TAvConnector::RunPass() {
    if (Loop) Loop->Pass(true);
}
void TAvConnector::SetFramePeriod(std::int64_t us) {
    FramePeriod = std::max<std::int64_t>(us, 0);
}
std::int64_t TAvConnector::FramePeriodUs() {
    return FramePeriod;
}
void TAvConnector::SetFeedProbe(TFeedProbe probe) {
    if (Loop) Loop->Probe = std::move(probe);
}
void TAvConnector::SetPollingLoop(bool on) {
    PollingLoop = on;
}
int TAvConnector::RegisteredCount() {
    return Loop ? static_cast<int>(Loop->Registry.size()) : 0;
}
bool TAvConnector::EnterIdle() {
    return EnterIdleFlag;
}
void TAvConnector::SetEnterIdle(bool v) {
    EnterIdleFlag = v;
}

// ---- The connector ------------------------------------------------------------------------------

TAvConnector::TAvConnector(TComponent* AOwner) : TAvDSPComponent(AOwner) {
    Register();
}

TAvConnector::~TAvConnector() {
    Stopped();
    Unregister();
}

void TAvConnector::Register() {
    if (FRegistered || !RunTime()) return;
    if (!Loop) Loop = new TAvConnectorLoop;
    Loop->Registry.push_back(this);
    Loop->RecomputeSpeed();
    timeBeginPeriod(1);
    FRegistered = true;
}

void TAvConnector::Unregister() {
    if (!FRegistered) return;
    FRegistered = false;
    timeEndPeriod(1);
    if (!Loop) return;
    auto& r = Loop->Registry;
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
    if (r.empty()) {
        delete Loop;
        Loop = nullptr;
    } else {
        Loop->RecomputeSpeed();
    }
}

void TAvConnector::SetDesignMode(bool designing) {
    TAvDSPComponent::SetDesignMode(designing);
    if (designing) {
        Stopped();
        Unregister();
    } else {
        Register();
    }
}

// ---- Properties ----

void TAvConnector::SetSpeed(int v) {
    FSpeed = std::clamp(v, 1, 5000);
    if (Loop && FRegistered) Loop->RecomputeSpeed();
}

void TAvConnector::SetRealTime(bool v) {
    if (v == FRealTime) return;
    if (IsOpen())
        throw EAvConnectorError(QStringLiteral("Change to property while device was open"));
    FRealTime = v;
}

void TAvConnector::SetEnabled(bool v) {
    if (v == FEnabled.load()) return;
    FEnabled = v;
    if (!RunTime()) return;
    if (!v) {
        StopRunning();
        {
            // What was not fed yet is not kept for later.
            std::lock_guard<std::mutex> lock(FLock);
            for (bool& a : FArmed)
                a = false;
        }
        ResetDisplays();
    } else if (FActive && FRealTime && Loop) {
        if (AutoTrigger()) Loop->InstallIdleHandler();
        TAvConnectorLoop::Post(CM_CONNECTOR_START, this);
    }
}

void TAvConnector::SetAutoTrigger(bool v) {
    if (v == FAutoTrigger.load()) return;
    FAutoTrigger = v;
    if (!RunTime() || !Loop) return;
    if (!v) {
        // Leaves only the automatic feeding: the connector stays running, so Trigger works.
        Uncount();
    } else if (FActive && Enabled() && FRealTime) {
        Loop->InstallIdleHandler();
        if (FRunning)
            Count();
        else
            TAvConnectorLoop::Post(CM_CONNECTOR_START, this);
    }
}

// ---- Display slots ----

int TAvConnector::SlotCount(TAvDisplayGroup group) const {
    return group == dgSpectra ? 4 : 2;
}

TComponent* TAvConnector::SlotAt(TAvDisplayGroup group, int slot) const {
    if (group >= dgCount || slot < 0 || slot >= SlotCount(group)) return nullptr;
    if (group == dgLevels) return FLevels[slot].data();
    return FOthers[group][slot];
}

TComponent* TAvConnector::Display(TAvDisplayGroup group, int slot) const {
    return SlotAt(group, slot);
}

void TAvConnector::SetDisplay(TAvDisplayGroup group, int slot, TComponent* display) {
    SetSlot(group, slot, display);
}

void TAvConnector::SetSlot(TAvDisplayGroup group, int slot, TComponent* display) {
    if (group >= dgCount || slot < 0 || slot >= SlotCount(group)) return;
    if (display == this) return;
    if (group == dgLevels && display && !dynamic_cast<TAvLevel*>(display)) return;
    // A display is held by one slot of its kind only.
    for (int i = 0; i < SlotCount(group); ++i)
        if (i != slot && display && SlotAt(group, i) == display) return;
    if (SlotAt(group, slot) == display) return;
    if (group == dgLevels)
        FLevels[slot] = static_cast<TAvLevel*>(display);
    else
        FOthers[group][slot] = display;
    if (display) display->FreeNotification(this);
    UpdateGroupMask();
    {
        std::lock_guard<std::mutex> lock(FLock);
        FArmed[group] = false;
    }
    if (display) FormatToDisplays();
}

void TAvConnector::UpdateGroupMask() {
    unsigned mask = 0;
    for (int g = 0; g < dgCount; ++g)
        for (int i = 0; i < SlotCount(static_cast<TAvDisplayGroup>(g)); ++i)
            if (SlotAt(static_cast<TAvDisplayGroup>(g), i)) mask |= 1u << g;
    FGroupMask = mask;
}

int TAvConnector::GroupBlockBytes(TAvDisplayGroup group) const {
    if (group != dgLevels) return 0; // no display of the other kinds exists to ask
    int b = 0;
    for (const QPointer<TAvLevel>& l : FLevels)
        if (l) b = std::max(b, l->BlockBytes());
    return b;
}

void TAvConnector::Notification(TComponent* AComponent, TOperation Operation) {
    TAvDSPComponent::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    for (auto& l : FLevels)
        if (static_cast<TComponent*>(l.data()) == AComponent) l = nullptr;
    for (auto& group : FOthers)
        for (TComponent*& d : group)
            if (d == AComponent) d = nullptr;
    UpdateGroupMask();
}

void TAvConnector::ResetDisplays() {
    for (const QPointer<TAvLevel>& l : FLevels)
        if (l) l->ResetLevel();
}

void TAvConnector::FormatToDisplays() {
    const WAVEFORMATEX* input = PWaveFormat();
    if (!input) return;
    const WAVEFORMATEX* use = nullptr;
    if (FActive) {
        use = FCopyFormat;
    } else if (IsValidPcmFormat(input)) {
        FIsPcm = true;
        use = input;
    } else {
        // Non-PCM input is shown through the PCM format the compression manager suggests for it,
        // when it can convert to that; otherwise it is passed on but not shown.
        FIsPcm = false;
        FSuggested.reset();
        if (FAutoConvert) {
            TAvFormatPtr pcm = AcmSuggestPcm(input);
            if (pcm && CanConvertACM(input, pcm.get(), cqLow)) FSuggested = std::move(pcm);
        }
        use = FSuggested.get();
    }
    if (!use) return;
    FSilence = SilenceByte(use);
    for (const QPointer<TAvLevel>& l : FLevels)
        if (l) l->SetFormat(use);
}

// ---- Chain ----

void TAvConnector::SetPWaveFormat(const WAVEFORMATEX* format) {
    TAvDSPComponent::SetPWaveFormat(format);
    FormatToDisplays();
}

void TAvConnector::StartCopy() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FCopySize = 0;
        FCopy.reset();
        FCopyData = nullptr;
        FCopyFormat = nullptr;
        FOwnedFormat.reset();
        FConverting = false;
        FConverter.Close();
        const WAVEFORMATEX* input = PWaveFormat();
        FIsPcm = IsValidPcmFormat(input);
        if (FIsPcm) {
            FOwnedFormat = ::CopyFormat(input);
            FCopyFormat = FOwnedFormat.get();
            FCopyCapacity = std::max(BufferSize(), 0);
        } else if (FAutoConvert && input) {
            TAvFormatPtr pcm = AcmSuggestPcm(input);
            if (pcm && FConverter.Open(input, pcm.get(), cqLow, std::max(BufferSize(), 1)) &&
                FConverter.OutputCapacity() > 0) {
                FOwnedFormat = std::move(pcm);
                FCopyFormat = FOwnedFormat.get();
                FConverting = true;
                FCopyCapacity = FConverter.OutputCapacity();
            } else {
                FConverter.Close();
            }
        }
        if (FCopyFormat) {
            FCopy.reset(new std::uint8_t[2 * static_cast<size_t>(FCopyCapacity) + 1]());
            FCopyData = FCopy.get();
        }
        FFresh = 0;
        for (int g = 0; g < dgCount; ++g) {
            FArmed[g] = false;
            FPosition[g] = 0;
        }
        if (!FCopyData) return;
    }
    if (Loop) Loop->RecomputeSpeed();
    FActive = true;
    FormatToDisplays();
    if (Enabled() && FRealTime && Loop) {
        if (AutoTrigger()) Loop->InstallIdleHandler();
        TAvConnectorLoop::Post(CM_CONNECTOR_START, this);
    }
}

void TAvConnector::ReleaseCopy() {
    std::lock_guard<std::mutex> lock(FLock);
    FCopyData = nullptr;
    FCopy.reset();
    FCopyFormat = nullptr;
    FOwnedFormat.reset();
    FCopySize = 0;
    FCopyCapacity = 0;
    FFresh = 0;
    FConverting = false;
    FConverter.Close();
    for (bool& a : FArmed)
        a = false;
}

void TAvConnector::Started() {
    TAvDSPComponent::Started();
    if (RunTime() && PWaveFormat() && !FActive) StartCopy();
}

void TAvConnector::Paused() {
    if (RunTime() && FActive && !FFeedPaused) {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FFeedPaused = true;
            if (FCopyData) std::memset(FCopyData, FSilence, 2 * static_cast<size_t>(FCopyCapacity));
        }
        if (FRealTime) {
            const int size = BufferSize();
            const int interval =
                size <= 8191 ? std::max(1, BytesToMilliseconds(FCopyFormat, size)) : 25;
            FRearmClient = TimerAddClient(
                interval, 0,
                [](TAvTimerClient*, void* owner) {
                    static_cast<TAvConnector*>(owner)->RearmTick();
                },
                this);
            if (!FRearmClient) throw EOutOfResources(QStringLiteral("Not enough timers available"));
        }
    }
    TAvDSPComponent::Paused();
}

void TAvConnector::Restarted() {
    if (RunTime() && FFeedPaused) {
        FFeedPaused = false;
        if (FRearmClient) {
            TimerRemoveClient(FRearmClient);
            FRearmClient = nullptr;
        }
    }
    TAvDSPComponent::Restarted();
}

void TAvConnector::RearmTick() {
    if (!FFeedPaused) return;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FCopyData) return;
        FCopySize = FCopyCapacity;
        FFresh = 0;
        ArmAll(Now());
    }
    if (FRunning) TAvConnectorLoop::PostPass();
}

void TAvConnector::Stopped() {
    if (RunTime() && FActive) {
        FActive = false;
        StopRunning();
        FFeedPaused = false;
        if (FRearmClient) {
            TimerRemoveClient(FRearmClient);
            FRearmClient = nullptr;
        }
        ReleaseCopy();
        if (FRefreshOnStop) ResetDisplays();
    }
    TAvDSPComponent::Stopped();
}

void TAvConnector::Flushed() {
    if (RunTime() && FActive) {
        std::lock_guard<std::mutex> lock(FLock);
        if (FCopyData) std::memset(FCopyData, FSilence, 2 * static_cast<size_t>(FCopyCapacity));
    }
    TAvDSPComponent::Flushed();
}

void TAvConnector::BufferReady(TAvWaveHdr* lpWaveHdr) {
    if (lpWaveHdr) {
        // A player pushes the buffer that has just played; the one now starting is shown.
        const TAvWaveHdr* source = lpWaveHdr;
        if (Synchronize() && lpWaveHdr->NextHeader && lpWaveHdr->dwBytesRecorded != 0)
            source = lpWaveHdr->NextHeader;
        BufferArrived(source->lpData, static_cast<int>(source->dwBytesRecorded));
    }
    TAvDSPComponent::BufferReady(lpWaveHdr);
}

void TAvConnector::BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) {
    TAvDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (lpWaveHdr) BufferArrived(lpWaveHdr->lpData, static_cast<int>(lpWaveHdr->dwBytesRecorded));
}

// ---- Feeding ----

void TAvConnector::ArmAll(std::int64_t now) {
    FArrivalTime = now;
    for (int g = 0; g < dgCount; ++g) {
        if (!(FGroupMask.load() & (1u << g))) continue;
        FArmed[g] = true;
        FPosition[g] = 0;
    }
}

std::int64_t TAvConnector::PlayingTime(int bytes) const {
    const DWORD rate = FCopyFormat ? FCopyFormat->nAvgBytesPerSec : 0;
    return rate ? static_cast<std::int64_t>(bytes) * 1000000 / rate : 0;
}

std::int64_t TAvConnector::DueAt(int pos) const {
    return pos < FFresh ? FCarryDue + PlayingTime(pos) : FArrivalTime + PlayingTime(pos - FFresh);
}

// Only the level group has displays that take blocks; the other groups are disarmed by their
// first pass and keep nothing.
int TAvConnector::KeepUnfed() {
    const int b = GroupBlockBytes(dgLevels);
    if (!FArmed[dgLevels] || b <= 0) return 0;
    const int from = FPosition[dgLevels];
    int keep = std::max(FCopySize - from, 0) / b * b;
    // Room for a whole buffer after it: a main thread held up for longer loses the oldest blocks.
    if (keep > FCopyCapacity) keep = FCopyCapacity / b * b;
    if (keep <= 0) return 0;
    const int start = from + (std::max(FCopySize - from, 0) / b * b - keep);
    FCarryDue = DueAt(start);
    std::memmove(FCopyData, FCopyData + start, static_cast<size_t>(keep));
    return keep;
}

void TAvConnector::BufferArrived(const void* data, int byteCount) {
    if (!Enabled() || FFeedPaused || !data || byteCount <= 0) return;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FCopyData || !FCopyFormat) return;
        const std::int64_t now = Now();
        const std::uint8_t* fresh = static_cast<const std::uint8_t*>(data);
        int n = 0;
        if (FConverting) {
            // The source area holds one buffer; what a longer buffer leaves over is not shown.
            const int made = FConverter.ConvertFrom(data, byteCount, false);
            if (made <= 0) return;
            fresh = FConverter.Output();
            n = std::min(made, FCopyCapacity);
        } else {
            n = std::min(byteCount, FCopyCapacity);
        }
        // Outside the real-time loop a pass feeds one block, so the rest of a buffer is dropped.
        const int kept = FRealTime ? KeepUnfed() : 0;
        std::memcpy(FCopyData + kept, fresh, static_cast<size_t>(n));
        FCopySize = kept + n;
        FFresh = kept;
        // A buffer that came early (before the blocks kept were due) follows them in time.
        ArmAll(kept ? std::max(now, FCarryDue + PlayingTime(kept)) : now);
    }
    if (!FRealTime) {
        if (AutoTrigger()) Pump();
    } else if (FRunning && AutoTrigger()) {
        TAvConnectorLoop::PostPass();
    }
}

std::int64_t TAvConnector::NextDue() const {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FCopyData || !FCopyFormat) return INT64_MAX;
    std::int64_t due = INT64_MAX;
    for (int g = 0; g < dgCount; ++g) {
        if (!FArmed[g]) continue;
        // A group with no whole block left is disarmed by the next pass; waking for that alone
        // would cost a wake-up per buffer, just before the next buffer arrives and re-arms it.
        const int b = GroupBlockBytes(static_cast<TAvDisplayGroup>(g));
        if (b <= 0 || FPosition[g] + b > FCopySize) continue;
        if (!Synchronize()) return 0;
        due = std::min(due, DueAt(FPosition[g]));
    }
    return due;
}

void TAvConnector::Pump() {
    if (!Enabled() || !(FRunning || (FActive && !FRealTime))) return;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FCopyData || !FCopyFormat) return;
        const std::int64_t now = Now();
        const bool probe = Loop && Loop->Probe && IsMainThread();
        for (int g = 0; g < dgCount; ++g) {
            if (!FArmed[g]) continue;
            const auto group = static_cast<TAvDisplayGroup>(g);
            const int b = GroupBlockBytes(group);
            // The meters draw once, after the last block of the pass.
            TAvFeedBatch batch(group == dgLevels ? FLevels : nullptr);
            for (;;) {
                std::int64_t due = now;
                if (Synchronize()) {
                    due = DueAt(FPosition[g]);
                    if (now < due) break;
                }
                const int p = FPosition[g];
                FPosition[g] = p + b;
                if (b <= 0 || p + b > FCopySize) {
                    FArmed[g] = false;
                    break;
                }
                if (group == dgLevels) {
                    for (const QPointer<TAvLevel>& l : FLevels)
                        if (l) l->ProcessBlock(FCopyData + p, b);
                    if (Loop && IsMainThread()) ++Loop->FedInPass;
                    if (probe) Loop->Probe(due, Now());
                }
                if (!FRealTime) break; // one block a pass
            }
        }
    }
    OnTrigger(this);
}

bool TAvConnector::Armed(TAvDisplayGroup group) const {
    std::lock_guard<std::mutex> lock(FLock);
    return group < dgCount && FArmed[group];
}

int TAvConnector::ReadPosition(TAvDisplayGroup group) const {
    std::lock_guard<std::mutex> lock(FLock);
    return group < dgCount ? FPosition[group] : 0;
}

int TAvConnector::CopySize() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FCopySize;
}

void TAvConnector::Trigger() {
    if (!Enabled() || AutoTrigger() || FPendingPumps.load() > 0) return;
    if (!(FRunning || (FActive && !FRealTime))) return;
    if (IsMainThread()) {
        Pump();
    } else {
        FPendingPumps.fetch_add(1);
        TAvConnectorLoop::Post(CM_CONNECTOR_PUMP, this);
    }
}

void TAvConnector::StartRunning() {
    if (!FActive || FRunning) return;
    FPendingPumps = 0;
    FRunning = true;
    if (AutoTrigger()) Count();
}

void TAvConnector::StopRunning() {
    if (!FRunning) return;
    FRunning = false;
    Uncount();
}

void TAvConnector::Count() {
    if (FCounted || !Loop) return;
    FCounted = true;
    ++Loop->RunningAuto;
    TAvConnectorLoop::PostPass();
}

void TAvConnector::Uncount() {
    if (!FCounted || !Loop) return;
    FCounted = false;
    if (--Loop->RunningAuto <= 0) {
        Loop->RunningAuto = 0;
        Loop->RemoveIdleHandler();
    }
}
