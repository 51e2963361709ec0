#include "audio/display/AvLevel.h"

#include "framework/Threads.h"
#include "platform/api/mmsystem.h"

#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

// ---- Shared timer service --------------------------------------------------------------------

struct TAvTimerClient {
    int interval = AvTimerPeriod;
    void* owner = nullptr;
    TAvTimerProc proc;
    int disableCount = 0;
    int elapsed = 0;
};

namespace {

struct TimerService {
    // Guards everything below. Recursive, because callbacks run with it held and may add,
    // remove, enable or disable clients.
    std::recursive_mutex lock;
    // Clients in the order they were added; a slot removed during a tick is null until the tick
    // ends and compacts the list.
    std::vector<TAvTimerClient*> clients;
    int tickDepth = 0;         // > 0 while a tick walks the list (under the lock)
    UINT timerId = 0;          // the platform timer, 0 when none runs
    DWORD_PTR generation = 0;  // identifies the current platform timer to its callback
    bool periodRaised = false; // timeBeginPeriod is in force
    bool manual = false;
    std::atomic<int> running{0}; // reentrancy guard of the tick

    ~TimerService() {
        // At program end a still running timer must stop before this state goes.
        UINT id = 0;
        {
            std::lock_guard g(lock);
            id = timerId;
            timerId = 0;
            ++generation;
        }
        if (id) timeKillEvent(id);
        if (periodRaised) timeEndPeriod(AvTimerPeriod);
        for (TAvTimerClient* c : clients)
            delete c;
    }
};

TimerService& Service() {
    static TimerService service;
    return service;
}

void CALLBACK_Tick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    TimerService& s = Service();
    {
        // A late tick of a timer that has just been replaced or killed must not run the list.
        std::lock_guard g(s.lock);
        if (user != s.generation || s.timerId == 0) return;
    }
    TimerServiceTick();
}

// Starts the platform timer (lock held). False when the platform refuses.
bool StartPlatformTimer(TimerService& s) {
    if (s.manual || s.timerId) return true;
    ++s.generation;
    s.timerId = timeSetEvent(AvTimerPeriod, 0, CALLBACK_Tick, s.generation, TIME_PERIODIC);
    return s.timerId != 0;
}

// Takes the platform timer out of the state (lock held); the caller kills the returned id after
// releasing the lock, because killing waits for a running tick, which needs the lock.
UINT DetachPlatformTimer(TimerService& s) {
    const UINT id = s.timerId;
    s.timerId = 0;
    ++s.generation;
    return id;
}

bool Contains(const TimerService& s, const TAvTimerClient* c) {
    return c && std::find(s.clients.begin(), s.clients.end(), c) != s.clients.end();
}

// The platform timer runs while an enabled client needs ticks and sleeps otherwise (lock held).
// Returns a timer the caller kills after releasing the lock, or 0.
UINT SyncPlatformTimer(TimerService& s) {
    const bool wanted =
        std::any_of(s.clients.begin(), s.clients.end(),
                    [](const TAvTimerClient* c) { return c && c->disableCount == 0; });
    if (wanted) {
        StartPlatformTimer(s);
        return 0;
    }
    return s.timerId ? DetachPlatformTimer(s) : 0;
}

} // namespace

TAvTimerClient* TimerAddClient(int interval, int disableCount, TAvTimerProc proc, void* owner) {
    TimerService& s = Service();
    std::unique_lock g(s.lock);
    const bool first = std::none_of(s.clients.begin(), s.clients.end(),
                                    [](const TAvTimerClient* c) { return c != nullptr; });
    if (first && !s.periodRaised) {
        timeBeginPeriod(AvTimerPeriod);
        s.periodRaised = true;
    }
    // The timer starts with the first enabled client; a client added disabled waits for it.
    if (disableCount <= 0 && !StartPlatformTimer(s)) {
        if (first) {
            timeEndPeriod(AvTimerPeriod);
            s.periodRaised = false;
        }
        return nullptr;
    }
    auto* c = new TAvTimerClient;
    c->interval = std::max(interval, AvTimerPeriod);
    c->disableCount = std::max(disableCount, 0);
    c->proc = std::move(proc);
    c->owner = owner;
    s.clients.push_back(c);
    return c;
}

void TimerRemoveClient(TAvTimerClient* client) {
    TimerService& s = Service();
    UINT kill = 0;
    bool endPeriod = false;
    {
        std::unique_lock g(s.lock);
        auto it = std::find(s.clients.begin(), s.clients.end(), client);
        if (!client || it == s.clients.end()) return;
        if (s.tickDepth > 0)
            *it = nullptr; // the tick walking the list compacts it when it is done
        else
            s.clients.erase(it);
        delete client;
        const bool empty = std::none_of(s.clients.begin(), s.clients.end(),
                                        [](const TAvTimerClient* c) { return c != nullptr; });
        kill = SyncPlatformTimer(s);
        if (empty) {
            endPeriod = s.periodRaised;
            s.periodRaised = false;
        }
    }
    if (kill) timeKillEvent(kill);
    if (endPeriod) timeEndPeriod(AvTimerPeriod);
}

void TimerDisableClient(TAvTimerClient* client) {
    TimerService& s = Service();
    UINT kill = 0;
    {
        std::lock_guard g(s.lock);
        if (!Contains(s, client)) return;
        ++client->disableCount;
        client->elapsed = 0;
        kill = SyncPlatformTimer(s);
    }
    // From inside a tick this only marks the timer, which ends when the tick returns.
    if (kill) timeKillEvent(kill);
}

void TimerEnableClient(TAvTimerClient* client) {
    TimerService& s = Service();
    std::lock_guard g(s.lock);
    if (!Contains(s, client)) return;
    if (client->disableCount > 0) --client->disableCount;
    if (client->disableCount == 0) SyncPlatformTimer(s);
}

void TimerSetInterval(TAvTimerClient* client, int interval) {
    TimerService& s = Service();
    std::lock_guard g(s.lock);
    if (!Contains(s, client)) return;
    client->interval = std::max(interval, AvTimerPeriod);
    client->elapsed = 0;
}

int TimerClientCount() {
    TimerService& s = Service();
    std::lock_guard g(s.lock);
    return static_cast<int>(std::count_if(s.clients.begin(), s.clients.end(),
                                          [](const TAvTimerClient* c) { return c != nullptr; }));
}

bool TimerClientEnabled(const TAvTimerClient* client) {
    TimerService& s = Service();
    std::lock_guard g(s.lock);
    return Contains(s, client) && client->disableCount == 0;
}

int TimerClientInterval(const TAvTimerClient* client) {
    TimerService& s = Service();
    std::lock_guard g(s.lock);
    return Contains(s, client) ? client->interval : 0;
}

void TimerServiceTick() {
    TimerService& s = Service();
    if (s.running.fetch_add(1) > 0) {
        s.running.fetch_sub(1); // the previous tick is still running: skip this one
        return;
    }
    {
        std::lock_guard g(s.lock);
        ++s.tickDepth;
        // Clients added by a callback wait for the next tick.
        const std::size_t n = s.clients.size();
        for (std::size_t i = 0; i < n; ++i) {
            TAvTimerClient* c = s.clients[i];
            if (!c || c->disableCount != 0) continue;
            c->elapsed += AvTimerPeriod;
            if (c->elapsed < c->interval) continue;
            // Cleared before the call: the callback may free its own client.
            c->elapsed = 0;
            if (c->proc) c->proc(c, c->owner);
        }
        if (--s.tickDepth == 0)
            s.clients.erase(std::remove(s.clients.begin(), s.clients.end(), nullptr),
                            s.clients.end());
    }
    s.running.fetch_sub(1);
}

void TimerServiceSetManual(bool manual) {
    TimerService& s = Service();
    UINT kill = 0;
    {
        std::lock_guard g(s.lock);
        if (s.manual == manual) return;
        s.manual = manual;
        kill = manual ? DetachPlatformTimer(s) : SyncPlatformTimer(s);
    }
    if (kill) timeKillEvent(kill);
}

bool TimerServiceManual() {
    TimerService& s = Service();
    std::lock_guard g(s.lock);
    return s.manual;
}

bool TimerServiceHasPlatformTimer() {
    TimerService& s = Service();
    std::lock_guard g(s.lock);
    return s.timerId != 0;
}

// ---- Level meter -------------------------------------------------------------------------------

namespace {

// Rows per blit: fewer than the raster engine's threshold for parallel blending.
constexpr int kBlitBand = 64;

} // namespace

TAvCustomLevel::TAvCustomLevel(TComponent* AOwner)
    : TAvDIBGraphicControl(AOwner), FBackground(std::make_unique<TAvDIBCanvas>(this)) {
    SetColor(clBlack);
    SetParentFont(false);
    Font()->SetName(QStringLiteral("Small Fonts"));
    Font()->SetSize(7);
    UpdateBlockBytes();
    SetBounds(Left(), Top(), 200, 17);
    // Asleep until a peak marker shows.
    if (!IsDesigning())
        FTimerClient = TimerAddClient(
            AvTimerPeriod, 1,
            [](TAvTimerClient*, void* owner) { static_cast<TAvCustomLevel*>(owner)->PeakTick(); },
            this);
}

TAvCustomLevel::~TAvCustomLevel() {
    // After this no tick runs for the meter; queued repaints die with the object.
    TimerRemoveClient(FTimerClient);
    FTimerClient = nullptr;
}

// --- geometry -----------------------------------------------------------------------------------

void TAvCustomLevel::UpdateInnerRect() {
    FInner = InnerRect();
    FInnerWidth = std::max(FInner.Width(), 1);
    FInnerHeight = std::max(FInner.Height(), 1);
    DIB()->SetSize(FInnerWidth, FInnerHeight);
    FBackground->SetSize(FInnerWidth, FInnerHeight);
}

void TAvCustomLevel::SetBounds(int left, int top, int width, int height) {
    TAvDIBGraphicControl::SetBounds(left, top, width, height);
    UpdateInnerRect();
    CalcGeometry();
    Invalidate();
}

void TAvCustomLevel::BevelChanged(TObject* sender) {
    // A new bevel changes the inner rectangle as a new size does.
    UpdateInnerRect();
    CalcGeometry();
    TAvDIBGraphicControl::BevelChanged(sender);
}

int TAvCustomLevel::BarLength() const {
    return FKind == lkHorizontal ? FInnerWidth : FInnerHeight;
}

void TAvCustomLevel::CalcGeometry() {
    FSpotWidth = std::max(FSpotWidth, 1);
    const int len = BarLength();
    const int count = std::max((len + FSpotSpace) / (FSpotWidth + FSpotSpace), 1);
    FModel.SetSpotCount(count);
    FSpotMargin = (len - ((FSpotWidth + FSpotSpace) * count - FSpotSpace)) / 2;
    FPoint1Spot = FPoint1 * count / 100;
    FPoint2Spot = FPoint2 * count / 100;
    RenderBackground();
    if (!IsDesigning() || !Enabled()) {
        FModel.ClearPeak();
        FModel.ShowSpots(0);
    } else if (FPoint2Spot < count) {
        FModel.ShowSpots(FPoint2Spot + (count - FPoint2Spot) / 2);
    } else if (FPoint1Spot < count) {
        FModel.ShowSpots(FPoint1Spot + (count - FPoint1Spot) / 2);
    } else {
        FModel.ShowSpots(count - count / 4);
    }
}

void TAvCustomLevel::UpdateBlockBytes() {
    FBlockBytes = (FBitLength + 1) * (FMode + 1) * FSamples;
}

// --- properties ---------------------------------------------------------------------------------

void TAvCustomLevel::SetKind(TAvLevelKind v) {
    if (v == FKind || v > lkVertical) return;
    FKind = v;
    const bool fits = v == lkHorizontal ? Width() >= Height() : Height() >= Width();
    if (!fits)
        SetBounds(Left(), Top(), Height(), Width()); // geometry and repaint follow
    else {
        CalcGeometry();
        Invalidate();
    }
}

void TAvCustomLevel::SetSpotSpace(int v) {
    v = std::clamp(v, 0, 10);
    if (v == FSpotSpace) return;
    FSpotSpace = v;
    CalcGeometry();
    Invalidate();
}

void TAvCustomLevel::SetSpotWidth(int v) {
    v = std::clamp(v, 1, std::max(BarLength() / 3, 1));
    if (v == FSpotWidth) return;
    FSpotWidth = v;
    CalcGeometry();
    Invalidate();
}

void TAvCustomLevel::SetBarColor(int index, TColor v) {
    if (index < 0 || index > 5 || FColors[index] == v) return;
    FColors[index] = v;
    RenderBackground();
    Invalidate();
}

void TAvCustomLevel::SetInactiveDoted(bool v) {
    if (v == FInactiveDoted) return;
    FInactiveDoted = v;
    RenderBackground();
    Invalidate();
}

void TAvCustomLevel::SetActiveDoted(bool v) {
    if (v == FActiveDoted) return;
    FActiveDoted = v;
    RenderBackground();
    Invalidate();
}

void TAvCustomLevel::SetPoint1(int v) {
    v = std::clamp(v, 1, 100);
    if (v == FPoint1) return;
    FPoint1 = v;
    CalcGeometry();
    Invalidate();
}

void TAvCustomLevel::SetPoint2(int v) {
    v = std::clamp(v, 1, 100);
    if (v == FPoint2) return;
    FPoint2 = v;
    CalcGeometry();
    Invalidate();
}

void TAvCustomLevel::SetDirection(TAvLevelDirection v) {
    if (v == FDirection || v > dirSymetric) return;
    FDirection = v;
    FModel.SetHalved(v == dirSymetric);
    RenderBackground();
    Invalidate();
}

void TAvCustomLevel::SetBitLength(TAvBits v) {
    if (v == FBitLength || v > b16Bit) return;
    FBitLength = v;
    UpdateBlockBytes();
    Invalidate();
}

void TAvCustomLevel::SetChannel(TAvChannel v) {
    if (v == FChannel || v > chRight) return;
    FChannel = v;
    UpdateBlockBytes();
    Invalidate();
}

void TAvCustomLevel::SetMode(TAvMode v) {
    if (v == FMode || v > mStereo) return;
    FMode = v;
    UpdateBlockBytes();
    Invalidate();
}

void TAvCustomLevel::SetGain(int v) {
    if (v < -8 || v > 32 || v == FGain) return;
    FGain = v;
    FModel.SetGainFactor(v + 8);
    Invalidate();
}

void TAvCustomLevel::SetSamples(int v) {
    v = std::max(v, 1);
    if (v == FSamples) return;
    FSamples = v;
    UpdateBlockBytes();
}

void TAvCustomLevel::SetSensitivy(int v) {
    FModel.SetSensitivy(std::clamp(v, -90, -9));
}

void TAvCustomLevel::SetLogAmp(bool v) {
    if (v == LogAmp()) return;
    FModel.SetLogAmp(v);
    Invalidate();
}

void TAvCustomLevel::ClearPeak() {
    FModel.ClearPeak();
    TickSleep();
}

void TAvCustomLevel::SetNumPeaks(int v) {
    v = std::clamp(v, 0, 5);
    if (v == NumPeaks()) return;
    FModel.SetNumPeaks(v);
    ClearPeak();
    UpdateTimerClient();
    Invalidate();
}

void TAvCustomLevel::SetPeakDelay(int v) {
    v = std::clamp(v, 0, 50);
    if (v == PeakDelay()) return;
    FModel.SetPeakDelay(v);
    ClearPeak();
    Invalidate();
}

void TAvCustomLevel::SetPeakSpeed(int v) {
    v = std::clamp(v, 0, 50);
    if (v == PeakSpeed()) return;
    FModel.SetPeakSpeed(v);
    ClearPeak();
    Invalidate();
}

void TAvCustomLevel::SetDecayMode(TAvDecayMode v) {
    if (v == DecayMode() || v > dmUniform) return;
    FModel.SetDecayMode(v);
}

void TAvCustomLevel::SetDecay(int v) {
    FModel.SetDecay(v);
}

void TAvCustomLevel::SetValue(int percent) {
    SetLevel(TAvLevelModel::MagnitudeOfPercent(percent));
}

void TAvCustomLevel::SetOnDrawBar(TAvLevelDrawBar handler) {
    const bool had = FOnDrawBar.Assigned();
    FOnDrawBar = std::move(handler);
    if (had && !FOnDrawBar.Assigned()) RenderBackground();
    Invalidate();
}

void TAvCustomLevel::SetEnabled(bool v) {
    if (v == Enabled()) return;
    TAvDIBGraphicControl::SetEnabled(v);
    if (v)
        CalcGeometry();
    else
        ResetLevel();
    UpdateTimerClient();
    Invalidate();
}

void TAvCustomLevel::SetBitsPerPixel(int n) {
    if (n != 8 && n != 24) throw EAvDIBError(QStringLiteral("Bitlength not supported yet"));
    TAvDIBGraphicControl::SetBitsPerPixel(n);
    FBackground->SetBitsPerPixel(n);
    RenderBackground();
    Invalidate();
}

void TAvCustomLevel::SetDesignMode(bool designing) {
    TAvDIBGraphicControl::SetDesignMode(designing);
    if (!designing && !FTimerClient) {
        FTimerClient = TimerAddClient(
            AvTimerPeriod, 1,
            [](TAvTimerClient*, void* owner) { static_cast<TAvCustomLevel*>(owner)->PeakTick(); },
            this);
        FTickAwake = false;
        UpdateTimerClient();
    }
}

// The tick runs only while it can do something: the meter is enabled and shows a peak marker.
void TAvCustomLevel::UpdateTimerClient() {
    if (Enabled() && NumPeaks() > 0 && PeakSpot() > 0)
        TickWake();
    else
        TickSleep();
}

// Any thread. The flag keeps the client's disable count at one step from this meter.
void TAvCustomLevel::TickWake() {
    if (FTimerClient && !FTickAwake.exchange(true)) TimerEnableClient(FTimerClient);
}

void TAvCustomLevel::TickSleep() {
    if (FTimerClient && FTickAwake.exchange(false)) TimerDisableClient(FTimerClient);
}

void TAvCustomLevel::ColorChanged() {
    TAvDIBGraphicControl::ColorChanged();
    RenderBackground();
}

void TAvCustomLevel::Loaded() {
    TAvDIBGraphicControl::Loaded();
    RenderBackground();
    Invalidate();
}

// --- analysis -----------------------------------------------------------------------------------

void TAvCustomLevel::SetFormat(const WAVEFORMATEX* format) {
    if (!IsValidPcmFormat(format)) throw EAvLevelError(QStringLiteral("Invalid WaveFormat"));
    SetBitLength(static_cast<TAvBits>(format->wBitsPerSample / 8 - 1));
    SetMode(static_cast<TAvMode>(format->nChannels - 1));
}

void TAvCustomLevel::ProcessBlock(const void* samples) {
    ProcessBlock(samples, FBlockBytes);
}

void TAvCustomLevel::ProcessBlock(const void* samples, int byteCount) {
    if (!samples || !Enabled() || !Visible()) return;
    const int frameBytes = (FBitLength + 1) * (FMode + 1);
    const int frames = std::min(FSamples, std::max(byteCount, 0) / frameBytes);
    const int oL = FOffsetL, oR = FOffsetR;
    int m = 0;
    if (FBitLength == b8Bit) {
        const auto* p = static_cast<const std::uint8_t*>(samples);
        if (FMode == mMono) {
            for (int i = 0; i < frames; ++i)
                m = std::max(m, std::abs((p[i] + oL - 128) * 256));
        } else if (FChannel == chBoth) {
            for (int i = 0; i < frames; ++i) {
                const int a = ((p[2 * i] + oL + p[2 * i + 1] + oR) / 2 - 128) * 256;
                m = std::max(m, std::abs(a));
            }
        } else {
            const int ch = FChannel == chLeft ? 0 : 1;
            const int o = FChannel == chLeft ? oL : oR;
            for (int i = 0; i < frames; ++i)
                m = std::max(m, std::abs((p[2 * i + ch] + o - 128) * 256));
        }
    } else {
        const auto* p = static_cast<const std::int16_t*>(samples);
        if (FMode == mMono) {
            for (int i = 0; i < frames; ++i)
                m = std::max(m, std::abs(p[i] + oL));
        } else if (FChannel == chBoth) {
            for (int i = 0; i < frames; ++i)
                m = std::max(m, std::abs((p[2 * i] + oL + p[2 * i + 1] + oR) / 2));
        } else {
            const int ch = FChannel == chLeft ? 0 : 1;
            const int o = FChannel == chLeft ? oL : oR;
            for (int i = 0; i < frames; ++i)
                m = std::max(m, std::abs(p[2 * i + ch] + o));
        }
    }
    if (m >= FullScale) PcmOverflow();
    SetLevel(m);
}

void TAvCustomLevel::SetLevel(int magnitude) {
    const TAvLevelModel::TUpdate u = FModel.SetLevel(magnitude);
    if (u.GainOverflow) GainOverflow();
    if (u.PeakRaised && Enabled()) TickWake();
    // Without a change, only a picture a deferral has left behind is caught up once it is time.
    DrawLevel(!u.Redraw);
}

void TAvCustomLevel::ResetDecay() {
    FModel.ResetDecay();
}

void TAvCustomLevel::ResetLevel() {
    FModel.ResetLevel();
    TickSleep();
    DrawNow();
}

void TAvCustomLevel::GainOverflow() {
    OnGainOverflow(this);
}

void TAvCustomLevel::PcmOverflow() {
    OnPcmOverflow(this);
}

// --- peak tick ----------------------------------------------------------------------------------

// Timer thread. Only the atomic peak fields are touched here; the widget is left to the main
// thread, which gets one queued repaint however many ticks change the marker before it runs.
void TAvCustomLevel::PeakTick() {
    const TAvLevelModel::TTick t = FModel.Tick();
    if (t.Changed && !FRepaintQueued.exchange(true))
        QMetaObject::invokeMethod(this, "ShowPendingPeak", Qt::QueuedConnection);
    if (t.Marker) return;
    // No marker left: sleep until a block sets one. A block that has set one meanwhile on the
    // main thread either finds the client still awake, or runs after this and wakes it; the
    // check after the sleep covers the order in between.
    TickSleep();
    if (PeakSpot() > 0) TickWake();
}

void TAvCustomLevel::ShowPendingPeak() {
    FRepaintQueued = false;
    if (!FModel.TakeRedrawPending()) return; // a block has shown it already
    DrawLevel();
}

// --- drawing ------------------------------------------------------------------------------------

namespace {
std::int64_t SteadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

void TAvCustomLevel::SetDrawInterval(int ms) {
    FDrawInterval = std::max(ms, 0);
    if (FDrawInterval == 0) DrawLevel(true);
}

void TAvCustomLevel::DrawNow() {
    FDrawDeferred = false;
    FFeedDraw = false;
    if (FDeferTimer) FDeferTimer->stop();
    FLastDrawUs = SteadyUs();
    PaintDirect([this](void*) { Draw(); }, nullptr);
    AccessibleValueChanged();
}

void TAvCustomLevel::BeginFeed() {
    ++FFeedDepth;
}

void TAvCustomLevel::EndFeed() {
    if (FFeedDepth <= 0 || --FFeedDepth > 0) return;
    if (FFeedDraw) {
        FFeedDraw = false;
        DrawLevel();
    }
}

void TAvCustomLevel::DrawLevel(bool ifBehind) {
    if ((ifBehind && !FDrawDeferred) || !Enabled() || !Visible()) return;
    if (FFeedDepth > 0) {
        FFeedDraw = true;
        return;
    }
    // A meter fed on another thread (a connector outside the real-time loop) draws at once: the
    // deferring timer belongs to the main thread.
    if (FDrawInterval > 0 && IsMainThread()) {
        const std::int64_t since = SteadyUs() - FLastDrawUs;
        const std::int64_t interval = static_cast<std::int64_t>(FDrawInterval) * 1000;
        if (since >= 0 && since < interval) {
            FDrawDeferred = true;
            if (!FDeferTimer) {
                FDeferTimer = std::make_unique<QTimer>();
                FDeferTimer->setSingleShot(true);
                // Fires at least one interval after the last picture, so this draws at once.
                QObject::connect(FDeferTimer.get(), &QTimer::timeout, this,
                                 [this] { DrawLevel(true); });
            }
            // Later than the next level of a meter fed at least every interval, which then
            // draws instead: the timer is for a feed that has stopped, not another wake-up.
            if (!FDeferTimer->isActive())
                FDeferTimer->start(static_cast<int>((2 * interval - since + 999) / 1000));
            return;
        }
    }
    DrawNow();
}

void TAvCustomLevel::Paint() {
    Bevel()->Paint(Canvas(), ClientRect(), true);
    FDrawDeferred = false;
    Draw();
}

TColor TAvCustomLevel::ZoneColor(int spot, bool background) const {
    const int base = background ? 3 : 0;
    if (spot > FPoint2Spot) return FColors[base + 2];
    if (spot > FPoint1Spot) return FColors[base + 1];
    return FColors[base];
}

void TAvCustomLevel::DrawBar(TAvDIBCanvas* dib, int count, bool background, int peak) {
    const int w = FSpotWidth;
    const int step = FSpotWidth + FSpotSpace;
    TRect first;
    int dx = 0, dy = 0;
    if (FKind == lkHorizontal) {
        if (FDirection == dirNormal) {
            first = Rect(FSpotMargin, 0, FSpotMargin + w, FInnerHeight);
            dx = step;
        } else {
            first = Rect(FInnerWidth - FSpotMargin - w, 0, FInnerWidth - FSpotMargin, FInnerHeight);
            dx = -step;
        }
    } else {
        if (FDirection == dirNormal) {
            first =
                Rect(0, FInnerHeight - FSpotMargin - w, FInnerWidth, FInnerHeight - FSpotMargin);
            dy = -step;
        } else {
            first = Rect(0, FSpotMargin, FInnerWidth, FSpotMargin + w);
            dy = step;
        }
    }
    // Palette lookups once per bar, not once per spot.
    const std::uint32_t zone[3] = {dib->ColorToValue(ZoneColor(1, background)),
                                   dib->ColorToValue(ZoneColor(FPoint1Spot + 1, background)),
                                   dib->ColorToValue(ZoneColor(FPoint2Spot + 1, background))};
    auto zoneOf = [&](int n) {
        return n > FPoint2Spot ? zone[2] : n > FPoint1Spot ? zone[1] : zone[0];
    };
    const bool dotted = background ? FInactiveDoted : FActiveDoted;
    auto fill = [&](int n, std::uint32_t value) {
        TRect r = first;
        OffsetRect(r, dx * (n - 1), dy * (n - 1));
        dib->SetDrawIndex(value);
        if (dotted)
            dib->FillRectDotted(r);
        else
            dib->FillRect(r);
    };

    int next; // the spot after the last one drawn
    if (!background && FDirection == dirSymetric) {
        count = std::clamp(count, 1, SpotCount());
        const std::uint32_t v = zoneOf(count);
        for (int n = count - 2; n <= count + 2; ++n)
            fill(n, v);
        next = count + 3;
    } else {
        for (int n = 1; n <= count; ++n)
            fill(n, zoneOf(n));
        next = count + 1;
    }
    const int peaks = NumPeaks();
    if (peaks > 0 && peak > count) {
        const int start = next + (peak - 1 - count);
        for (int j = 0; j < peaks; ++j)
            fill(start - j, zoneOf(peak - j));
    }
}

void TAvCustomLevel::RenderBackground() {
    if (IsLoading() || FOnDrawBar.Assigned()) return;
    FBackground->BeginDraw();
    FBackground->SetDrawColor(Color());
    FBackground->Clear();
    DrawBar(FBackground.get(), SpotCount(), true, 0);
    FBackground->EndDraw();
}

void TAvCustomLevel::Draw() {
    OnPaint(this);
    TAvDIBCanvas* dib = DIB();
    dib->BeginDraw();
    struct End {
        TAvDIBCanvas* d;
        ~End() { d->EndDraw(); }
    } end{dib};
    if (FOnDrawBar.Assigned()) {
        FOnDrawBar(this, dib, Rect(0, 0, FInnerWidth, FInnerHeight), LevelSpots(), PeakSpot());
    } else {
        dib->CopyRect(0, 0, FInnerWidth, FInnerHeight, 0, 0, *FBackground);
        if (Enabled()) DrawBar(dib, LevelSpots(), false, PeakSpot());
    }
    // In bands: the raster engine hands blits of many rows to worker threads, which costs more
    // than the copy itself for a picture this small.
    for (int y = 0; y < FInnerHeight; y += kBlitBand)
        dib->DrawTo(Canvas(), FInner.Left, FInner.Top + y, FInnerWidth,
                    std::min(kBlitBand, FInnerHeight - y), 0, y);
}
