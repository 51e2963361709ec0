#include "audio/stream/AvWavOut.h"

#include "framework/Forms.h"
#include "resources/AvResources.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <thread>

namespace {

QString Txt(int n) {
    return av::LoadResString(28000 + n);
}

// How long the operations wait for the platform. Its notices arrive inside the calls, so these
// only matter when a device misbehaves: short enough that the window never looks frozen.
constexpr int kOpenWaitMs = 2000;
constexpr int kCloseWaitMs = 1000;
constexpr int kQueueWaitMs = 1000;
constexpr int kDoneFlagWaitMs = 200;
constexpr int kThreadStartMs = 2000;

std::int64_t MulDivRound64(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c == 0) return 0;
    const std::int64_t p = a * b;
    return (p >= 0 ? p + c / 2 : p - c / 2) / c;
}

} // namespace

// ---- The worker thread of cmThread --------------------------------------------------------------

class TAvWaveOutThread : public TAvDSPThread {
public:
    explicit TAvWaveOutThread(TAvWaveOut* out) : TAvDSPThread(out), FOut(out) {}
    ~TAvWaveOutThread() override {
        TerminateAndWake();
        WaitFor();
    }
    TSimpleEvent Ready{false, false};

protected:
    void ExecuteEx() override {
        Ready.SetEvent();
        TMessage m;
        while (WaitMessage(m)) {
            if (m.Msg != MM_WOM_DONE || m.WParam != reinterpret_cast<WPARAM>(FOut->FHandle.load()))
                continue;
            if (FOut->FStopping) continue;
            try {
                FOut->DoneHandling();
            } catch (...) {
                FOut->FailedOnOtherThread();
            }
        }
    }

private:
    TAvWaveOut* FOut;
};

// ---- Construction -------------------------------------------------------------------------------

TAvWaveOut::TAvWaveOut(TComponent* AOwner) : TAvCustomWaveOutComponent(AOwner) {
    FNumDevs = waveOutGetNumDevs();
    SetDeviceID(0);
}

TAvWaveOut::~TAvWaveOut() {
    CloseForDestruction();
    EndThread();
    delete FWindow;
    FWindow = nullptr;
    for (TAvWaveHdr*& h : FHeaders)
        h = nullptr;
}

void TAvWaveOut::BeforeDestruction() {
    CloseForDestruction();
    TAvCustomWaveOutComponent::BeforeDestruction();
}

// Nothing may still handle a buffer of this object once it goes: the worker ends first, and a
// platform callback still running is waited for (bounded) before the device closes.
void TAvWaveOut::CloseForDestruction() {
    if (!DevOpen()) return;
    FStopping = true;
    EndThread();
    WaitUntil([this] { return FHandlersRunning.load() == 0; }, kQueueWaitMs);
    FHandlersRunning = 0;
    FStopPending = false;
    Close();
}

// ---- Errors -------------------------------------------------------------------------------------

void TAvWaveOut::Error(const QString& message) {
    if (OnError) OnError(this);
    throw EAvWaveOutError(message);
}

// Inside a catch block. Error has fired OnError for its own exceptions already.
void TAvWaveOut::ReportFailure() {
    try {
        throw;
    } catch (const EAvWaveOutError&) {
        return;
    } catch (...) {
    }
    if (OnError) OnError(this);
}

QString TAvWaveOut::PlatformError(const QString& prefix, MMRESULT r) const {
    char text[256] = {};
    const QString detail =
        waveOutGetErrorText(r, text, 255) == MMSYSERR_NOERROR ? QString::fromUtf8(text) : Txt(86);
    return prefix + QStringLiteral("\n\r") + detail;
}

void TAvWaveOut::PlatformFail(const char* prefix, MMRESULT r) {
    FLastResult = r;
    const QString message = PlatformError(QString::fromLatin1(prefix), r);
    Error(message);
    throw EAvWaveOutError(message); // an override of Error that returns still fails the call
}

bool TAvWaveOut::WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // A worker may be waiting for the main thread in CallSynchronized.
        if (IsMainThread()) CheckSynchronize();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---- Properties ---------------------------------------------------------------------------------

void TAvWaveOut::SetDeviceID(TAvDeviceId id) {
    if (DevOpen()) Error(Txt(60));
    // Devices come and go: count them again.
    FNumDevs = waveOutGetNumDevs();
    const int count = static_cast<int>(FNumDevs);
    FProductName = Txt(161);
    FDriverVersion = 0;
    if (count > 0 && id >= -1 && id < count) {
        WAVEOUTCAPS caps{};
        const UINT_PTR dev =
            id == -1 ? static_cast<UINT_PTR>(WAVE_MAPPER) : static_cast<UINT_PTR>(id);
        if (waveOutGetDevCaps(dev, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            FProductName = QString::fromUtf8(caps.szPname);
            FDriverVersion = caps.vDriverVersion;
        }
    }
    FDeviceID = (id < -1 || id >= count) ? AvInvalidId : id;
}

void TAvWaveOut::SetCallBackMode(TAvCBMode mode) {
    if (DevOpen()) Error(Txt(60));
    // The platform calls back on a thread of its own, never at interrupt time, so every mode is
    // offered here.
    if (mode <= cmThread) FCallBackMode = mode;
}

void TAvWaveOut::SetNumBuffers(int n) {
    if (DevOpen()) Error(Txt(60));
    if (n != FNumBuffers && n > 1) FNumBuffers = std::min(n, MaxBuffers);
}

void TAvWaveOut::SetBufferSize(int n) {
    if (DevOpen()) Error(Txt(60));
    if (n == FBufferSize) return;
    FAllocator.FreeAll();
    FHeaders.fill(nullptr);
    TAvCustomWaveOutComponent::SetBufferSize(std::max(n, 32));
}

void TAvWaveOut::SetLooping(bool v) {
    FLooping = v;
    FLoopsLeft = FLoopCount;
}

void TAvWaveOut::SetLoopCount(std::uint16_t n) {
    FLoopCount = n;
    FLoopsLeft = n;
}

void TAvWaveOut::SetPriority(TThreadPriority p) {
    FPriority = p;
    if (FThread) FThread->SetPriority(p);
}

void TAvWaveOut::SetPWaveFormat(const WAVEFORMATEX* f) {
    Close();
    TAvCustomWaveOutComponent::SetPWaveFormat(f);
}

std::uint64_t TAvWaveOut::BytesPlayed() const {
    std::lock_guard g(FLock);
    return FBytesPlayed;
}

bool TAvWaveOut::LoopPending() const {
    std::lock_guard g(FLock);
    return FNextLoopBase >= 0;
}

TAvWaveHdr* TAvWaveOut::Header(int i) const {
    return i >= 0 && i < MaxBuffers ? FHeaders[i] : nullptr;
}

bool TAvWaveOut::QueryFormat(TAvDeviceId id, const WAVEFORMATEX* format) {
    if (!format || id < -1 || id >= static_cast<int>(FNumDevs)) return false;
    const UINT dev = id == -1 ? WAVE_MAPPER : static_cast<UINT>(id);
    return waveOutOpen(nullptr, dev, format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

// ---- Buffers ------------------------------------------------------------------------------------

void TAvWaveOut::PrepareHeader(int i) {
    const int size = BufferSize();
    if (!FHeaders[i]) {
        void* block =
            FAllocator.AllocBuffer(GPTR, static_cast<std::uint32_t>(size + AvWaveHdrSize));
        if (!block) Error(Txt(64));
        FHeaders[i] = AvInitWaveHdr(block, size);
    }
    if (MMRESULT r = waveOutPrepareHeader(FHandle, FHeaders[i], sizeof(WAVEHDR)))
        PlatformFail("WaveOutPrepareHeader:", r);
}

void TAvWaveOut::BufferLoad(TAvWaveHdr* h, bool& MoreBuffers) {
    const DWORD capacity = static_cast<DWORD>(BufferSize());
    h->dwBufferLength = capacity;
    h->dwBytesRecorded = 0;
    h->LoopEnabled = FLooping ? -1 : 0;
    if (FLooping) {
        h->LoopCount = FLoopCount;
        h->LoopsLeft = FLoopsLeft;
        h->HasLooped = 0;
    }
    TAvCustomWaveOutComponent::BufferLoad(h, MoreBuffers);
    // A source claiming more than it was offered must not make the device read past the block.
    h->dwBytesRecorded = std::min(h->dwBytesRecorded, capacity);
    h->dwBufferLength = h->dwBytesRecorded;
    if (FLooping) FLoopsLeft = h->LoopsLeft;
}

int TAvWaveOut::PullBuffer(TAvWaveHdr* h) {
    FMoreBuffers = false;
    BufferLoad(h, FMoreBuffers);
    const int n = static_cast<int>(h->dwBytesRecorded);
    if (n <= 0) FMoreBuffers = false;
    return n;
}

void TAvWaveOut::WriteBuffer(TAvWaveHdr* h) {
    if (OnBufferFilled) OnBufferFilled(this, h);
    if (FStopping) return;
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    h->SavedBytesRecorded = h->dwBytesRecorded;
    // Counted before the write: the device may hand it back before waveOutWrite returns.
    FBuffersQueued.fetch_add(1);
    FBuffersUnhandled.fetch_add(1);
    const MMRESULT r = waveOutWrite(FHandle, h, sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR) {
        FBuffersQueued.fetch_sub(1);
        FBuffersUnhandled.fetch_sub(1);
        PlatformFail("WaveOutWrite:", r);
    }
    h->dwBytesRecorded = h->SavedBytesRecorded;
}

// ---- Platform callback and hidden window --------------------------------------------------------

void TAvWaveOut::CALLBACK_Proc(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* self = reinterpret_cast<TAvWaveOut*>(instance);
    switch (msg) {
    case MM_WOM_OPEN:
        self->SetState(wsOpen);
        break;
    case MM_WOM_CLOSE:
        self->SetState(wsClosed);
        break;
    case MM_WOM_DONE:
        self->PlatformDone(reinterpret_cast<TAvWaveHdr*>(param1));
        break;
    default:
        break;
    }
}

// Platform thread (or the caller's, inside waveOutReset): count, then hand the buffer to the
// thread that handles it.
void TAvWaveOut::PlatformDone(TAvWaveHdr* hdr) {
    // No lock here: the platform may call with its own lock held while the main thread, holding
    // ours, waits for it.
    const int left = FBuffersQueued.fetch_sub(1) - 1;
    if (FResetting) {
        if (left <= 0) FResetting = false;
        return;
    }
    if (FStopping) return;
    const auto handle = reinterpret_cast<WPARAM>(FHandle.load());
    switch (FCallBackMode) {
    case cmWindow:
        // One message for the buffers that come back together: the window handles every
        // buffer counted by then (in ring order, as always), one wake-up of the main thread.
        if (FWindow && FDonesPosted.fetch_add(1) == 0)
            PostMessage(FWindow->Handle(), MM_WOM_DONE, handle, reinterpret_cast<LPARAM>(hdr));
        break;
    case cmCallback:
        try {
            DoneHandling();
        } catch (...) {
            FailedOnOtherThread();
        }
        break;
    case cmThread:
        if (FThread) FThread->PostThreadMessage(MM_WOM_DONE, handle, reinterpret_cast<LPARAM>(hdr));
        break;
    }
}

// A buffer handled off the main thread failed: stop handling, have the main thread close the
// device, and report (the framework passes the report on to the main thread).
void TAvWaveOut::FailedOnOtherThread() {
    ReportFailure();
    FStopping = true;
    if (FWindow)
        PostMessage(FWindow->Handle(), WM_AV_FAILED, reinterpret_cast<WPARAM>(FHandle.load()), 0);
    HandleException(this);
}

template <class F> void TAvWaveOut::Guarded(F&& fn) {
    try {
        fn();
    } catch (...) {
        ReportFailure();
        Close();
        throw; // to the application's exception handler
    }
}

void TAvWaveOut::WndProc(TMessage& m) {
    if (m.WParam != reinterpret_cast<WPARAM>(FHandle.load()) || !FHandle.load()) return;
    Guarded([&] {
        switch (m.Msg) {
        case MM_WOM_DONE:
            for (int n = FDonesPosted.exchange(0); n > 0 && !FStopping; --n)
                DoneHandling();
            break;
        case WM_AV_STOP:
            Stop();
            break;
        case WM_AV_FAILED:
            Close();
            break;
        default:
            break;
        }
    });
}

// ---- Buffer finished ----------------------------------------------------------------------------

void TAvWaveOut::DoneHandling() {
    {
        std::lock_guard g(FLock);
        if (!(FState.load() & wsStarted) || FResetting || FStopping || FBuffersInUse <= 0) return;
        FHandlersRunning.fetch_add(1);
        FBuffersUnhandled.fetch_sub(1);
    }
    try {
        TAvWaveHdr* h = FHeaders[FIndex];
        {
            std::lock_guard g(FLock);
            FBytesPlayed += h->dwBufferLength;
            FDeviceBytes += h->dwBufferLength;
        }
        FIndex = (FIndex + 1) % FBuffersInUse;
        h->dwBytesRecorded = h->SavedBytesRecorded;
        TAvWaveHdr* next = FHeaders[FIndex];
        h->NextHeader = next;
        if (next) next->dwBytesRecorded = next->SavedBytesRecorded;
        TAvCustomWaveOutComponent::BufferReady(h);

        if (FIndex == 0) {
            // The device counter wrapped: count the turns so positions keep growing. Once a turn
            // of the ring is far more often than it can wrap.
            const DWORD p = DevicePosition();
            std::lock_guard g(FLock);
            if (p < FLastDevPos && FLastDevPos - p >= 0xFFFF) {
                FWrapSize = (FLastDevPos & 0xFFF00000u) | 0x000FFFFFu;
                ++FWrapCount;
            }
            FLastDevPos = p;
        }

        if (!FStopPending) {
            // Also when the source has already delivered its last buffer: the wraps in the last
            // ring's worth of audio are heard too.
            if (FLooping && h->HasLooped) {
                {
                    // Positions count from the end of this buffer once it has been heard (a
                    // device may give a buffer back while it still has it to play).
                    std::lock_guard g(FLock);
                    const WAVEFORMATEX* f = PWaveFormat();
                    if (FNextLoopBase >= 0) FLoopBase = FNextLoopBase;
                    FNextLoopBase =
                        FPosOffset + static_cast<std::int64_t>(
                                         FDeviceBytes / (f && f->nBlockAlign ? f->nBlockAlign : 1));
                    h->HasLooped = 0;
                }
                TAvCustomSoundComponent::Looped();
                if (OnLooping) OnLooping(this);
            }
            if (FMoreBuffers) {
                WaitUntil([h] { return (h->dwFlags & WHDR_DONE) != 0; }, kDoneFlagWaitMs);
                // A source that runs dry ends playback like one that says so.
                if (PullBuffer(h) > 0 && !FStopPending) WriteBuffer(h);
            }
        }
    } catch (...) {
        ReportFailure();
        EndHandler(true);
        throw;
    }
    EndHandler(false);
}

// The end of every buffer handling: the last handler out starts the automatic stop when the data
// has run out (or finishes a stop requested meanwhile), always on the main thread.
void TAvWaveOut::EndHandler(bool failing) {
    bool post = false;
    {
        std::lock_guard g(FLock);
        const int running = FHandlersRunning.fetch_sub(1) - 1;
        // Ends when nothing is left at the device nor on its way to a handler: the last
        // buffer's own handling may still be waiting behind this one.
        if (running == 0 && (FStopPending || FBuffersUnhandled.load() <= 0) && !FStopPosted) {
            FStopPosted = true;
            FStopping = true;
            post = true;
        }
    }
    if (!post) return;
    HWAVEOUT handle = FHandle.load();
    if (FWindow) PostMessage(FWindow->Handle(), WM_AV_STOP, reinterpret_cast<WPARAM>(handle), 0);
    // After a failure the first report is the one that counts.
    if (MMRESULT r = waveOutPause(handle); r && !failing) PlatformFail("WaveOutPause:", r);
}

DWORD TAvWaveOut::DevicePosition() {
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    MMRESULT r = waveOutGetPosition(FHandle, &t, sizeof t);
    if (r == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) return t.u.sample;
    t = MMTIME{};
    t.wType = TIME_BYTES;
    r = waveOutGetPosition(FHandle, &t, sizeof t);
    if (r != MMSYSERR_NOERROR) PlatformFail("WaveOutGetPosition:", r);
    const WAVEFORMATEX* f = PWaveFormat();
    return f && f->nBlockAlign ? t.u.cb / f->nBlockAlign : 0;
}

std::int64_t TAvWaveOut::GetPosition() {
    const WAVEFORMATEX* f = PWaveFormat();
    if (!DevOpen() || !f || FClosePending || !FHandle.load()) return 0;
    const DWORD p = DevicePosition();
    std::int64_t pos;
    {
        std::lock_guard g(FLock);
        const std::int64_t heard = static_cast<std::int64_t>(p) + FPosOffset +
                                   static_cast<std::int64_t>(FWrapCount) * FWrapSize;
        if (FNextLoopBase >= 0 && heard >= FNextLoopBase) {
            FLoopBase = FNextLoopBase;
            FNextLoopBase = -1;
        }
        pos = heard - FLoopBase;
    }
    pos = std::max<std::int64_t>(pos, 0);
    switch (FTimeFormat) {
    case tfMillisecond:
        return MulDivRound64(pos, 1000, f->nSamplesPerSec);
    case tfByte:
        return pos * f->nBlockAlign;
    case tfSample:
        break;
    }
    return pos;
}

// ---- Open and close -----------------------------------------------------------------------------

void TAvWaveOut::Open() {
    FNumDevs = waveOutGetNumDevs();
    if (FNumDevs == 0) Error(Txt(161));
    if (FDeviceID == AvInvalidId) Error(Txt(61));
    if (!PWaveFormat()) Error(QStringLiteral("WaveOutOpen:\n\r") + Txt(89));
    if (DevOpen()) Close();
    if (DevOpen() || FClosing) return;
    FClosing = false;
    FResetting = false;
    FStopping = false;
    FStopPosted = false;
    try {
        if (!QueryFormat(FDeviceID, PWaveFormat()))
            Error(QStringLiteral("WaveOutOpen:\n\r") + Txt(70));
        if (!FWindow) FWindow = new TMessageWindow([this](TMessage& m) { WndProc(m); });
        FHandle = nullptr;
        FClosePending = false;
        TAvCustomSoundComponent::Opened();
        if (FCallBackMode == cmThread) StartThread();
        DWORD flags = FMapped && FDeviceID >= 0 ? WAVE_MAPPED : 0;
        const UINT dev = FDeviceID == -1 ? WAVE_MAPPER : static_cast<UINT>(FDeviceID);
        HWAVEOUT h = nullptr;
        const MMRESULT r =
            waveOutOpen(&h, dev, PWaveFormat(), reinterpret_cast<DWORD_PTR>(&CALLBACK_Proc),
                        reinterpret_cast<DWORD_PTR>(this), flags | CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR) PlatformFail("WaveOutOpen:", r);
        FHandle = h;
        if (!WaitUntil([this] { return DevOpen(); }, kOpenWaitMs))
            Error(QStringLiteral("WaveOutOpen:\n\r") + Txt(162));
        if (OnOpen) OnOpen(this);
    } catch (...) {
        CloseAfterFailure(false);
        throw;
    }
}

void TAvWaveOut::CloseAfterFailure(bool started) {
    ReportFailure();
    // Close undoes only what the state says was done.
    if (started)
        AddState(wsStarted);
    else
        SetState(wsOpen);
    Close();
    SetState(wsClosed);
}

void TAvWaveOut::Close() {
    if (!DevOpen() || (FClosing && !FClosePending)) return;
    bool timedOut = false;
    try {
        FClosing = true;
        if (StartedOrPaused()) {
            // A failed stop has cleaned up what it could; the close goes on regardless.
            try {
                Stop();
            } catch (...) {
            }
        }
        if (FStopPending) {
            FClosePending = true;
            return;
        }
        FClosePending = false;
        MMRESULT closeResult = MMSYSERR_NOERROR;
        if (HWAVEOUT h = FHandle.load()) {
            closeResult = waveOutClose(h);
            if (closeResult == WAVERR_STILLPLAYING) {
                waveOutReset(h);
                closeResult = waveOutClose(h);
            }
            if (closeResult == MMSYSERR_NOERROR)
                timedOut = !WaitUntil([this] { return !DevOpen(); }, kCloseWaitMs);
            std::lock_guard g(FLock);
            FPosAtStop = 0;
            FWrapCount = FWrapSize = 0;
        }
        // The handle is given up even when the platform refused: it is no use any more.
        SetState(wsClosed);
        ReleaseHeaders();
        TAvCustomSoundComponent::Closed();
        EndThread();
        FHandle = nullptr;
        FClosing = false;
        if (!IsDestroying() && OnClose) OnClose(this);
        if (closeResult != MMSYSERR_NOERROR) PlatformFail("WaveOutClose:", closeResult);
        if (timedOut) Error(QStringLiteral("WaveOutClose:\n\r") + Txt(163));
    } catch (...) {
        FClosing = false;
        ReportFailure();
    }
}

// ---- Start, stop --------------------------------------------------------------------------------

void TAvWaveOut::Start() {
    bool cursorSet = false;
    try {
        if (!DevOpen()) Open();
        if (!DevOpen() || (FState.load() & wsStarted)) return;
        {
            std::lock_guard g(FLock);
            FBytesPlayed = 0;
            ZeroPosition();
        }
        FLoopsLeft = FLoopCount;
        FHandlersRunning = 0;
        FStopPending = false;
        FResetting = false;
        FStopping = false;
        FStopPosted = false;
        FIndex = 0;
        FBuffersQueued = 0;
        FBuffersUnhandled = 0;
        FDonesPosted = 0;
        if (FShowHourGlass && static_cast<std::int64_t>(BufferSize()) * FNumBuffers > 100000 &&
            Screen && IsMainThread()) {
            Screen->SetCursor(crHourGlass);
            cursorSet = true;
        }
        waveOutPause(FHandle);
        TAvCustomSoundComponent::Started();
        FMoreBuffers = true;
        int written = 0;
        for (int i = 0; i < FNumBuffers && FMoreBuffers; ++i) {
            PrepareHeader(i);
            if (PullBuffer(FHeaders[i]) < 1) break;
            // Counted first: the handling of a buffer that comes back at once needs the ring.
            FBuffersInUse = written + 1;
            WriteBuffer(FHeaders[i]);
            ++written;
        }
        FBuffersInUse = written;
        AddState(wsStarted);
        if (cursorSet) Screen->SetCursor(crDefault);
        cursorSet = false;
        if (written == 0) {
            TAvCustomSoundComponent::Stopped();
            Error(QStringLiteral("WaveOutStart:\n\r") + Txt(80));
        }
        if (!(FState.load() & wsPaused))
            if (MMRESULT r = waveOutRestart(FHandle)) PlatformFail("WaveOutRestart:", r);
        if (OnStart) OnStart(this);
    } catch (...) {
        if (cursorSet) Screen->SetCursor(crDefault);
        CloseAfterFailure(true);
        throw;
    }
}

void TAvWaveOut::ZeroPosition() {
    FPosOffset = 0;
    FLastDevPos = 0;
    FWrapCount = FWrapSize = 0;
    FLoopBase = 0;
    FNextLoopBase = -1;
    FDeviceBytes = 0;
}

void TAvWaveOut::Stop() {
    if (!StartedOrPaused()) return;
    Guarded([&] {
        {
            std::lock_guard g(FLock);
            FStopping = true;
            FResetting = true;
        }
        try {
            FPosAtStop = GetPosition();
        } catch (...) {
            // A device that has gone has no position; the stop goes on.
        }
        {
            std::lock_guard g(FLock);
            FWrapCount = FWrapSize = 0;
        }
        const MMRESULT r = waveOutReset(FHandle);
        // The stop is finished also when the device refused the reset (it may have gone), so
        // that Close can give it up.
        FinishStop();
        if (r != MMSYSERR_NOERROR) PlatformFail("WaveOutReset:", r);
    });
}

void TAvWaveOut::FinishStop() {
    {
        std::lock_guard g(FLock);
        if (FHandlersRunning.load() > 0) {
            // The running handler's end posts WM_AV_STOP; the stop finishes then.
            FStopPending = true;
            return;
        }
    }
    RemoveState(wsStarted | wsPaused);
    WaitUntil([this] { return FBuffersQueued.load() <= 0; }, kQueueWaitMs);
    TAvCustomSoundComponent::Stopped();
    ReleaseHeaders();
    {
        std::lock_guard g(FLock);
        FBuffersInUse = 0;
        FBuffersQueued = 0;
        FBuffersUnhandled = 0;
        FIndex = 0;
        FStopPending = false;
        FResetting = false;
    }
    if (FWindow) FWindow->RemovePending(MM_WOM_DONE);
    FDonesPosted = 0;
    if (!IsDestroying() && OnStop) OnStop(this);
    if (FClosePending) Close();
}

// Every header back to the pool, unprepared. A header the device still holds is given a short
// while to come back, then taken anyway.
void TAvWaveOut::ReleaseHeaders() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kDoneFlagWaitMs);
    for (TAvWaveHdr*& h : FHeaders) {
        if (!h) continue;
        if (h->dwFlags & WHDR_INQUEUE)
            while (!(h->dwFlags & WHDR_DONE) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        h->dwFlags |= WHDR_DONE;
        if (HWAVEOUT handle = FHandle.load()) waveOutUnprepareHeader(handle, h, sizeof(WAVEHDR));
        h->dwFlags &= ~(WHDR_PREPARED | WHDR_INQUEUE);
        void* block = h;
        FAllocator.FreeBuffer(block);
        h = nullptr;
    }
}

// ---- Pause, restart, reset ----------------------------------------------------------------------

void TAvWaveOut::Pause() {
    Guarded([&] {
        if (!DevOpen()) Open();
        if (!DevOpen() || (FState.load() & wsPaused)) return;
        if (FState.load() & wsStarted) {
            if (MMRESULT r = waveOutPause(FHandle)) PlatformFail("WaveOutPause:", r);
            AddState(wsPaused);
            if (HasSourceDevice()) {
                const DWORD p = DevicePosition();
                {
                    std::lock_guard g(FLock);
                    FPosOffset += p;
                    FDeviceBytes = 0;
                }
                FResetting = true;
                if (MMRESULT r = waveOutReset(FHandle)) PlatformFail("WaveOutReset:", r);
                if (FWindow) FWindow->RemovePending(MM_WOM_DONE);
                FDonesPosted = 0;
                FIndex = 0;
                FBuffersQueued = 0;
                FBuffersUnhandled = 0;
            }
        }
        AddState(wsPaused);
        TAvCustomSoundComponent::Paused();
        if (OnPause) OnPause(this);
    });
}

void TAvWaveOut::Restart() {
    const unsigned s = FState.load();
    if (!(s & wsStarted) || !(s & wsPaused)) return;
    FResetting = false;
    Guarded([&] {
        TAvCustomSoundComponent::Restarted();
        if (MMRESULT r = waveOutRestart(FHandle)) PlatformFail("WaveOutRestart:", r);
        RemoveState(wsPaused);
        if (OnRestart) OnRestart(this);
    });
}

void TAvWaveOut::Reset() {
    if (!StartedOrPaused() || FResetting) return;
    FResetting = true;
    try {
        if (MMRESULT r = waveOutPause(FHandle)) PlatformFail("WaveOutPause:", r);
        // Drop finished buffers not yet handled; a worker busy with one finishes it first.
        if (FWindow) FWindow->RemovePending(MM_WOM_DONE);
        if (FThread) {
            FThread->RemoveThreadMessages(MM_WOM_DONE);
            if (TAvDSPThread::Current() != FThread)
                WaitUntil([this] { return FHandlersRunning.load() == 0; }, kQueueWaitMs);
        } else if (FCallBackMode == cmCallback) {
            WaitUntil([this] { return FHandlersRunning.load() == 0; }, kQueueWaitMs);
        }
        if (MMRESULT r = waveOutReset(FHandle)) PlatformFail("WaveOutReset:", r);
        WaitUntil([this] { return FBuffersQueued.load() <= 0; }, kQueueWaitMs);
        FResetting = false;
        if (MMRESULT r = waveOutRestart(FHandle)) PlatformFail("WaveOutRestart:", r);
        if (MMRESULT r = waveOutPause(FHandle)) PlatformFail("WaveOutPause:", r);
        {
            std::lock_guard g(FLock);
            FIndex = 0;
            FBuffersQueued = 0;
            FBuffersUnhandled = 0;
            ZeroPosition();
        }
        // The count of the dropped messages goes with them: a count left standing would keep
        // every later finished buffer from being posted, and playback would stall.
        if (FWindow) FWindow->RemovePending(MM_WOM_DONE);
        FDonesPosted = 0;
        TAvCustomSoundComponent::Flushed();
        FMoreBuffers = true;
        int i = 0;
        while (i < FNumBuffers && FMoreBuffers) {
            PrepareHeader(i);
            if (PullBuffer(FHeaders[i]) <= 0) break;
            FBuffersInUse = i + 1;
            WriteBuffer(FHeaders[i]);
            ++i;
        }
        FBuffersInUse = i;
        if (!(FState.load() & wsPaused))
            if (MMRESULT r = waveOutRestart(FHandle)) PlatformFail("WaveOutRestart:", r);
        if (FBuffersInUse == 0) Stop();
    } catch (...) {
        FResetting = false;
        ReportFailure();
        Close();
        throw;
    }
}

// ---- Callback thread ----------------------------------------------------------------------------

void TAvWaveOut::StartThread() {
    if (FThread) return;
    auto* t = new TAvWaveOutThread(this);
    t->SetPriority(FPriority);
    FThread = t;
    t->Start();
    if (t->Ready.WaitFor(kThreadStartMs) != wrSignaled)
        Error(QStringLiteral("WaveOut:\n\r") + Txt(88));
}

void TAvWaveOut::EndThread() {
    // The worker cannot wait for itself; the next Close from the main thread ends it.
    if (FThread && TAvDSPThread::Current() == FThread) return;
    TAvWaveOutThread* t = std::exchange(FThread, nullptr);
    delete t; // ends the loop and waits for it
}
