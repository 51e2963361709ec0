#include "audio/stream/AvWavIn.h"

#include "framework/Forms.h"
#include "resources/AvResources.h"

#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

QString Text(int n) {
    return av::LoadResString(28000 + n);
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The standard-format bit a PCM format needs, or 0 when the table has none for it.
DWORD StandardFormatBit(const WAVEFORMATEX* f) {
    int rateClass;
    if (f->nSamplesPerSec >= 8000 && f->nSamplesPerSec <= 11025)
        rateClass = 0;
    else if (f->nSamplesPerSec >= 11026 && f->nSamplesPerSec <= 22050)
        rateClass = 1;
    else if (f->nSamplesPerSec >= 22051 && f->nSamplesPerSec <= 48000)
        rateClass = 2;
    else
        return 0;
    if ((f->wBitsPerSample != 8 && f->wBitsPerSample != 16) ||
        (f->nChannels != 1 && f->nChannels != 2))
        return 0;
    const int column = (f->wBitsPerSample == 16 ? 2 : 0) + (f->nChannels == 2 ? 1 : 0);
    return DWORD{1} << (rateClass * 4 + column);
}

} // namespace

// ---- Worker thread ----------------------------------------------------------------------------

class TAvWaveInThread : public TAvDSPThread {
public:
    explicit TAvWaveInThread(TAvCustomWaveIn* owner) : TAvDSPThread(owner), FOwner(owner) {}
    ~TAvWaveInThread() override {
        TerminateAndWake();
        WaitFor();
    }

protected:
    void ExecuteEx() override {
        TMessage m;
        while (!Terminated()) {
            if (!WaitMessage(m)) continue;
            if (m.Msg != MM_WIM_DATA ||
                m.WParam != reinterpret_cast<WPARAM>(FOwner->FHandle.load()))
                continue;
            try {
                FOwner->HandleData(reinterpret_cast<TAvWaveHdr*>(m.LParam));
            } catch (...) {
                // The device is closed on the main thread, which owns the chain and the
                // windows; the message goes to the application's handler.
                FOwner->FThreadFailed = true;
                FOwner->FWindow->Post(WIM_FAILED, m.WParam, 0);
                HandleException(nullptr);
                return;
            }
        }
    }

private:
    TAvCustomWaveIn* FOwner;
};

// ---- Component --------------------------------------------------------------------------------

TAvCustomWaveIn::TAvCustomWaveIn(TComponent* AOwner) : TAvCustomSoundComponent(AOwner) {
    FWindow = std::make_unique<TMessageWindow>([this](TMessage& m) { WndProc(m); });
    BuildPcmFormat(&FFormat, 8, 1, 11025);
    TAvDSPComponent::SetPWaveFormat(&FFormat);
}

TAvCustomWaveIn::~TAvCustomWaveIn() {
    Close();
    EndThread();
    FreeHeaders();
    FWindow.reset();
}

void TAvCustomWaveIn::BeforeDestruction() {
    // Closed while the object is whole: the chain hears of it and OnClose stays quiet.
    Close();
    TAvCustomSoundComponent::BeforeDestruction();
}

void TAvCustomWaveIn::Initialize() {
    BindPlatform();
    FDeviceCount = FCalls.GetNumDevs ? static_cast<int>(FCalls.GetNumDevs()) : 0;
    FDeviceID = 1; // so that the first SetDeviceID(0) reads the capabilities
    SetDeviceID(0);
}

void TAvCustomWaveIn::Error(const QString& message) {
    OnError(this);
    throw EAvWaveInError(message);
}

QString TAvCustomWaveIn::PlatformText(const char* prefix, MMRESULT code) {
    FLastResult = code;
    char text[256] = {};
    QString platform;
    if (FCalls.GetErrorText && FCalls.GetErrorText(code, text, 255) == MMSYSERR_NOERROR)
        platform = QString::fromUtf8(text);
    else
        platform = Text(86);
    return QString::fromLatin1(prefix) + QStringLiteral("\n\r") + platform;
}

void TAvCustomWaveIn::CheckCall(const char* prefix, MMRESULT code) {
    if (code != MMSYSERR_NOERROR) Error(PlatformText(prefix, code));
}

void TAvCustomWaveIn::CheckClosed() {
    if (DeviceOpen()) Error(Text(60));
}

template <class F> void TAvCustomWaveIn::Guarded(F&& fn) {
    try {
        fn();
    } catch (const EAvWaveInError&) {
        // Error has fired OnError already.
        CloseAfterFailure();
        throw;
    } catch (...) {
        OnError(this);
        CloseAfterFailure();
        throw;
    }
}

void TAvCustomWaveIn::CloseAfterFailure() {
    if (FHandle.load() || FThread || DeviceOpen()) {
        FState |= stOpen;
        Close();
    }
}

// ---- Properties ----

void TAvCustomWaveIn::SetBufferSize(int n) {
    CheckClosed();
    if (n == FBufferSize) return;
    FAllocator.FreeAll();
    TAvCustomSoundComponent::SetBufferSize(std::max(n, 32));
}

void TAvCustomWaveIn::SetNumBuffers(int n) {
    CheckClosed();
    if (n == FNumBuffers || n <= 1) return;
    FNumBuffers = std::min(n, 500);
}

void TAvCustomWaveIn::SetDeviceID(TAvDeviceId id) {
    CheckClosed();
    // Devices may have come or gone since the last look.
    if (FCalls.GetNumDevs) FDeviceCount = static_cast<int>(FCalls.GetNumDevs());
    FProductName = Text(160);
    FDriverVersion = 0;
    if (FDeviceCount > 0 && id >= -1 && id < FDeviceCount) {
        WAVEINCAPSA caps{};
        if (FCalls.GetDevCaps && FCalls.GetDevCaps(static_cast<UINT_PTR>(static_cast<UINT>(id)),
                                                   &caps, sizeof(caps)) == MMSYSERR_NOERROR) {
            FCaps = caps;
            FProductName = QString::fromUtf8(
                caps.szPname, static_cast<qsizetype>(strnlen(caps.szPname, MAXPNAMELEN)));
            FDriverVersion = static_cast<std::uint16_t>(caps.vDriverVersion);
        }
    }
    FDeviceID = (id < -1 || id >= FDeviceCount) ? AvInvalidId : id;
}

void TAvCustomWaveIn::SetCallBackMode(TAvCBMode mode) {
    CheckClosed();
    if (mode == cmCallback) {
        // Callbacks run at interrupt time only on the one platform that offered this mode.
        const QString text = QStringLiteral("\"CallBacks\" are called at interrupt time !\n\r"
                                            "This is currently only supported under Windows 95");
        if (Application) Application->MessageBox(text, QStringLiteral("TAvWaveIn"));
        return;
    }
    FCallBackMode = mode;
}

void TAvCustomWaveIn::SetMode(TAvMode mode) {
    CheckClosed();
    if (mode < 2) FMode = mode;
    RebuildFormat();
}

void TAvCustomWaveIn::SetBitLength(TAvBits bits) {
    CheckClosed();
    FBitLength = bits;
    RebuildFormat();
}

void TAvCustomWaveIn::SetSampleRate(int rate) {
    CheckClosed();
    FSampleRate = std::clamp(rate, 8000, 100000);
    RebuildFormat();
}

void TAvCustomWaveIn::RebuildFormat() {
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, static_cast<WORD>(8 * (FBitLength + 1)), static_cast<WORD>(FMode + 1),
                   static_cast<DWORD>(FSampleRate));
    SetPWaveFormat(&f);
}

void TAvCustomWaveIn::SetPWaveFormat(const WAVEFORMATEX* f) {
    Close();
    if (IsValidPcmFormat(f)) {
        FSampleRate = static_cast<int>(f->nSamplesPerSec);
        FBitLength = static_cast<TAvBits>(f->wBitsPerSample / 8 - 1);
        FMode = static_cast<TAvMode>(f->nChannels - 1);
        BuildPcmFormat(&FFormat, f->wBitsPerSample, f->nChannels, f->nSamplesPerSec);
    }
    TAvCustomSoundComponent::SetPWaveFormat(f);
    UpdateByteLimit();
}

void TAvCustomWaveIn::SetMaxRecordTime(int t) {
    FMaxRecordTime = t;
    UpdateByteLimit();
}

void TAvCustomWaveIn::SetTimeFormat(TAvTimeFormats format) {
    FTimeFormat = format;
    const WAVEFORMATEX* f = PWaveFormat();
    if (FMaxRecordTime < 0 || !f) return;
    const auto limit = static_cast<std::int32_t>(std::min<std::int64_t>(FByteLimit, 0x7FFFFFFF));
    switch (format) {
    case tfMillisecond:
        FMaxRecordTime = BytesToMilliseconds(f, limit);
        break;
    case tfSample:
        FMaxRecordTime = BytesToSamples(f, limit);
        break;
    default:
        FMaxRecordTime = limit;
        break;
    }
}

void TAvCustomWaveIn::UpdateByteLimit() {
    const WAVEFORMATEX* f = PWaveFormat();
    if (FMaxRecordTime < 0 || !f) {
        FByteLimit = 0x7FFFFFFF;
        return;
    }
    std::int64_t bytes;
    switch (FTimeFormat) {
    case tfMillisecond:
        bytes = MillisecondsToBytes(f, FMaxRecordTime);
        break;
    case tfSample:
        bytes = SamplesToBytes(f, FMaxRecordTime);
        break;
    default:
        bytes = FMaxRecordTime;
        break;
    }
    if (bytes < 0) bytes = 0x7FFFFFFF;
    if (f->nBlockAlign > 0) bytes -= bytes % f->nBlockAlign;
    FByteLimit = bytes;
}

void TAvCustomWaveIn::SetPriority(TThreadPriority p) {
    FPriority = p;
    if (FThread) FThread->SetPriority(p);
}

// ---- Format query ----

bool TAvCustomWaveIn::QueryFormat(TAvDeviceId id, const WAVEFORMATEX* format) {
    if (id < -1 || id >= FDeviceCount || !format || !FCalls.Open) return false;
    const UINT uid = static_cast<UINT>(id);
    if (FCalls.Open(nullptr, uid, format, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
        return false;
    if (format->wFormatTag == WAVE_FORMAT_PCM) {
        WAVEINCAPSA caps{};
        if (FCalls.GetDevCaps(static_cast<UINT_PTR>(uid), &caps, sizeof(caps)) != MMSYSERR_NOERROR)
            return false;
        const DWORD bit = StandardFormatBit(format);
        if (bit && !(caps.dwFormats & bit)) return false;
    }
    return true;
}

// ---- Open / Close ----

void TAvCustomWaveIn::Open() {
    if (FCalls.GetNumDevs) FDeviceCount = static_cast<int>(FCalls.GetNumDevs());
    if (FDeviceCount == 0) Error(Text(160));
    if (FDeviceID == AvInvalidId) Error(Text(61));
    if (!PWaveFormat()) Error(Text(89));
    if (DeviceOpen()) Close();
    if (DeviceOpen() || FClosing) return;
    FClosing = false;
    FResetting = false;
    FStopping = false;
    FStopPosted = false;
    Guarded([&] {
        if (!QueryFormat(FDeviceID, PWaveFormat()))
            Error(QStringLiteral("WaveInOpen:\n\r") + Text(87));
        FHandle = nullptr;
        FClosePending = false;
        FThreadFailed = false;
        if (FCallBackMode == cmThread) StartThread();
        HWAVEIN h = nullptr;
        CheckCall("WaveInOpen:",
                  FCalls.Open(&h, static_cast<UINT>(FDeviceID), PWaveFormat(),
                              reinterpret_cast<DWORD_PTR>(&TAvCustomWaveIn::CALLBACK_Proc),
                              reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION));
        FHandle = h;
        // The chain opens downstream (the connector takes this buffer size) while the state
        // still reads closed.
        const unsigned state = FState.exchange(0);
        TAvCustomSoundComponent::Opened();
        FState |= state;
        for (int i = 0; i < 100 && !DeviceOpen(); ++i)
            SleepMs(10);
        if (!DeviceOpen()) Error(QStringLiteral("WaveInOpen:\n\r") + Text(162));
        const int size = BufferSize();
        for (int i = 0; i < FNumBuffers; ++i) {
            if (!FHeaders[i]) {
                void* block = FAllocator.AllocBuffer(
                    GMEM_FIXED | GMEM_ZEROINIT, static_cast<std::uint32_t>(size + AvWaveHdrSize));
                if (!block) Error(Text(64));
                std::memset(block, 0, static_cast<size_t>(size + AvWaveHdrSize));
                FHeaders[i] = AvInitWaveHdr(block, size);
            }
            CheckCall("WaveInPrepareHeader:",
                      FCalls.PrepareHeader(h, FHeaders[i], sizeof(WAVEHDR)));
        }
        OnOpen(this);
    });
}

void TAvCustomWaveIn::Close() {
    if (!DeviceOpen() && !FHandle.load()) return;
    if (FClosing && !FClosePending) return;
    FClosing = true;
    QString failure;
    if (DeviceStarted() || DevicePaused()) {
        try {
            Stop();
        } catch (const std::exception&) {
            // The stop failed (a vanished device): closing goes on regardless.
        }
    }
    if (FStopPending) {
        FClosePending = true;
        return;
    }
    if (DeviceStarted() || DevicePaused()) {
        // A stop that failed: the chain still hears of it.
        FState &= ~(stStarted | stPaused);
        try {
            TAvCustomSoundComponent::Stopped();
        } catch (const std::exception&) {
        }
    }
    FClosePending = false;
    bool timedOut = false;
    if (HWAVEIN h = FHandle.load()) {
        {
            std::lock_guard<TCriticalSection> lock(FLock);
            FStopping = true;
            FResetting = true;
            FCalls.Stop(h);
            FCalls.Reset(h);
        }
        for (TAvWaveHdr*& hdr : FHeaders) {
            if (!hdr) continue;
            for (int i = 0;
                 i < 65000 && !(hdr->dwFlags & WHDR_DONE) && (hdr->dwFlags & WHDR_INQUEUE); ++i)
                std::this_thread::yield();
            hdr->dwFlags |= WHDR_DONE;
            const MMRESULT r = FCalls.UnprepareHeader(h, hdr, sizeof(WAVEHDR));
            if (r != MMSYSERR_NOERROR && failure.isEmpty())
                failure = PlatformText("WaveInUnprepareHeader:", r);
        }
        const MMRESULT r = FCalls.Close(h);
        if (r != MMSYSERR_NOERROR) {
            if (failure.isEmpty()) failure = PlatformText("WaveInClose:", r);
            FState = 0; // the handle is given up either way
        }
        for (int i = 0; i < 100 && DeviceOpen(); ++i)
            SleepMs(10);
        timedOut = DeviceOpen();
        std::lock_guard<TCriticalSection> lock(FLock);
        FWrapCount = 0;
        FWrapSize = 0;
    }
    FState = 0;
    try {
        TAvCustomSoundComponent::Closed();
    } catch (const std::exception&) {
    }
    EndThread();
    FHandle = nullptr;
    FreeHeaders();
    FClosing = false;
    if (!IsDestroying()) OnClose(this);
    if (timedOut && failure.isEmpty()) failure = QStringLiteral("WaveInClose:\n\r") + Text(163);
    if (!failure.isEmpty()) OnError(this); // reported, never raised
}

void TAvCustomWaveIn::FreeHeaders() {
    for (TAvWaveHdr*& hdr : FHeaders) {
        if (!hdr) continue;
        void* block = hdr;
        FAllocator.FreeBuffer(block);
        hdr = nullptr;
    }
    FRingIndex = 0;
}

void TAvCustomWaveIn::StartThread() {
    try {
        FThread = new TAvWaveInThread(this);
        FThread->SetPriority(FPriority);
        FThread->Start();
    } catch (const std::exception&) {
        delete FThread;
        FThread = nullptr;
        Error(QStringLiteral("WaveIn:\n\r") + Text(88));
    }
}

void TAvCustomWaveIn::EndThread() {
    TAvWaveInThread* t = FThread;
    if (!t) return;
    FThread = nullptr;
    if (TAvDSPThread::Current() == t) {
        // Ended from its own handler: it stops at its next turn and frees itself.
        t->SetFreeOnTerminate(true);
        t->TerminateAndWake();
        return;
    }
    delete t; // terminates and waits
}

// ---- Start / Stop / Pause / Restart ----

void TAvCustomWaveIn::Start() {
    Guarded([&] {
        if (!DeviceOpen()) Open();
        if (!DeviceOpen() || DeviceStarted()) return;
        FBytesRecorded = 0;
        FRingIndex = 0;
        FHandlersRunning = 0;
        FStopPending = false;
        FStopping = false;
        FResetting = false;
        FStopPosted = false;
        FQueued = 0;
        {
            std::lock_guard<TCriticalSection> lock(FLock);
            FLastPosition = 0;
            FWrapCount = 0;
            FWrapSize = 0;
        }
        UpdateByteLimit();
        const HWAVEIN h = FHandle.load();
        for (int i = 0; i < FNumBuffers; ++i) {
            TAvWaveHdr* hdr = FHeaders[i];
            if (!hdr) continue;
            hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
            CheckCall("WaveInAddBuffer:", FCalls.AddBuffer(h, hdr, sizeof(WAVEHDR)));
            ++FQueued;
        }
        Started();
    });
}

void TAvCustomWaveIn::Started() {
    if (HWAVEIN h = FHandle.load(); h && DeviceOpen()) {
        FState |= stStarted;
        if (!DevicePaused()) CheckCall("WaveInStart:", FCalls.Start(h));
        TAvCustomSoundComponent::Started();
        OnStart(this);
    } else {
        TAvCustomSoundComponent::Started();
    }
}

void TAvCustomWaveIn::Stop() {
    if (!DeviceStarted() && !DevicePaused()) return;
    Guarded([&] {
        const HWAVEIN h = FHandle.load();
        {
            std::lock_guard<TCriticalSection> lock(FLock);
            FStopping = true;
            CheckCall("WaveInStop:", FCalls.Stop(h));
            FWrapCount = 0;
            FWrapSize = 0;
            FResetting = true;
            CheckCall("WaveInReset:", FCalls.Reset(h));
        }
        if (FHandlersRunning.load() == 0) {
            // The device has handed every buffer back; wait until each has been taken off
            // the queue (in window mode by handling the posted messages here).
            for (int i = 0; i < 100 && FQueued.load() > 0; ++i) {
                if (FCallBackMode == cmWindow && IsMainThread()) FWindow->DeliverPending();
                if (FQueued.load() > 0) SleepMs(10);
            }
        }
        Stopped();
    });
}

void TAvCustomWaveIn::Stopped() {
    if (!DeviceStarted() && !DevicePaused()) {
        // A link change while idle: only the chain hears of it.
        TAvCustomSoundComponent::Stopped();
        return;
    }
    {
        std::lock_guard<TCriticalSection> lock(FLock);
        if (FHandlersRunning.load() > 0) {
            FStopPending = true;
            return;
        }
    }
    FState &= ~(stStarted | stPaused);
    FRingIndex = 0;
    FQueued = 0;
    FStopPending = false;
    TAvCustomSoundComponent::Stopped();
    if (!IsDestroying()) OnStop(this);
    if (FClosePending) Close();
}

void TAvCustomWaveIn::Pause() {
    Guarded([&] {
        if (!DeviceOpen()) Open();
        if (!DeviceOpen() || DevicePaused()) return;
        if (DeviceStarted()) CheckCall("WaveInPause:", FCalls.Stop(FHandle.load()));
        Paused();
    });
}

void TAvCustomWaveIn::Paused() {
    if (DeviceOpen()) {
        FState |= stPaused;
        TAvCustomSoundComponent::Paused();
        OnPause(this);
    } else {
        TAvCustomSoundComponent::Paused();
    }
}

void TAvCustomWaveIn::Restart() {
    if (!DeviceStarted() || !DevicePaused()) return;
    Guarded([&] {
        CheckCall("WaveInRestart:", FCalls.Start(FHandle.load()));
        Restarted();
    });
}

void TAvCustomWaveIn::Restarted() {
    if (DeviceOpen()) {
        FState &= ~stPaused;
        TAvCustomSoundComponent::Restarted();
        OnRestart(this);
    } else {
        TAvCustomSoundComponent::Restarted();
    }
}

// ---- Buffers ----

void TAvCustomWaveIn::CALLBACK_Proc(HDRVR h, UINT msg, DWORD_PTR instance, DWORD_PTR p1,
                                    DWORD_PTR) {
    auto* self = reinterpret_cast<TAvCustomWaveIn*>(instance);
    if (!self) return;
    switch (msg) {
    case MM_WIM_OPEN:
        self->FState = stOpen;
        break;
    case MM_WIM_CLOSE:
        self->FState = 0;
        break;
    case MM_WIM_DATA:
        switch (self->FCallBackMode) {
        case cmThread:
            if (TAvWaveInThread* t = self->FThread)
                t->PostThreadMessage(MM_WIM_DATA, reinterpret_cast<WPARAM>(h),
                                     static_cast<LPARAM>(p1));
            break;
        case cmCallback:
            try {
                self->HandleData(reinterpret_cast<TAvWaveHdr*>(p1));
            } catch (...) {
                self->FWindow->Post(WIM_FAILED, reinterpret_cast<WPARAM>(h), 0);
                HandleException(nullptr);
            }
            break;
        default:
            self->FWindow->Post(MM_WIM_DATA, reinterpret_cast<WPARAM>(h), static_cast<LPARAM>(p1));
            break;
        }
        break;
    default:
        break;
    }
}

void TAvCustomWaveIn::WndProc(TMessage& m) {
    const HWAVEIN h = FHandle.load();
    if (!h || m.WParam != reinterpret_cast<WPARAM>(h)) return; // not (or no longer) ours
    switch (m.Msg) {
    case MM_WIM_DATA:
        try {
            HandleData(reinterpret_cast<TAvWaveHdr*>(m.LParam));
        } catch (...) {
            // The device cannot go on (a vanished device, a failing handler): closed first,
            // then reported.
            Close();
            HandleException(this);
        }
        break;
    case WIM_STOP:
        try {
            Stop();
        } catch (...) {
            HandleException(this);
        }
        break;
    case WIM_FAILED:
        Close();
        break;
    default:
        break;
    }
}

void TAvCustomWaveIn::HandleData(TAvWaveHdr* h) {
    if (!h || !DeviceStarted()) return;
    if (FStopping || FResetting) {
        if (!FResetting && h->dwBytesRecorded > 0) BufferReady(h);
        std::lock_guard<TCriticalSection> lock(FLock);
        if (--FQueued <= 0) {
            FQueued = 0;
            FResetting = false;
        }
        return;
    }
    {
        std::lock_guard<TCriticalSection> lock(FLock);
        ++FHandlersRunning;
        --FQueued;
    }
    auto finish = [this] {
        std::lock_guard<TCriticalSection> lock(FLock);
        if (--FHandlersRunning == 0 && FStopPending && !FStopPosted) {
            FStopPosted = true;
            FStopping = true;
            FWindow->Post(WIM_STOP, reinterpret_cast<WPARAM>(FHandle.load()), 0);
        }
    };
    try {
        BufferReady(h);
        if (!FStopPending && !FStopping) {
            ReadPosition();
            Requeue(h);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TAvCustomWaveIn::Requeue(TAvWaveHdr* h) {
    std::lock_guard<TCriticalSection> lock(FLock);
    if (FStopping || FStopPending) return; // a stop came in between: the buffer stays home
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    CheckCall("WaveInAddBuffer:", FCalls.AddBuffer(FHandle.load(), h, sizeof(WAVEHDR)));
    ++FQueued;
}

void TAvCustomWaveIn::ReadPosition() {
    const HWAVEIN h = FHandle.load();
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    MMRESULT r = FCalls.GetPosition(h, &t, sizeof(t));
    DWORD p = 0;
    if (r == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) {
        p = t.u.sample;
    } else {
        t.wType = TIME_BYTES;
        r = FCalls.GetPosition(h, &t, sizeof(t));
        CheckCall("WaveInGetPosition:", r);
        p = static_cast<DWORD>(BytesToSamples(PWaveFormat(), static_cast<std::int32_t>(t.u.cb)));
    }
    if (p == 0) return;
    std::lock_guard<TCriticalSection> lock(FLock);
    if (p < FLastPosition && FLastPosition - p >= 0xFFFF) {
        FWrapSize = (FLastPosition & 0xFFF00000) | 0x000FFFFF;
        ++FWrapCount;
    }
    FLastPosition = p;
}

void TAvCustomWaveIn::BufferReady(TAvWaveHdr* lpWaveHdr) {
    if (!lpWaveHdr) return;
    std::uint64_t bytes = FBytesRecorded.load() + lpWaveHdr->dwBytesRecorded;
    bool limitReached = false;
    if (FMaxRecordTime > 0 && bytes >= static_cast<std::uint64_t>(FByteLimit)) {
        const auto excess = static_cast<DWORD>(bytes - static_cast<std::uint64_t>(FByteLimit));
        lpWaveHdr->dwBytesRecorded -= std::min(excess, lpWaveHdr->dwBytesRecorded);
        bytes = static_cast<std::uint64_t>(FByteLimit);
        limitReached = true;
    }
    FBytesRecorded = bytes;
    if (FNumBuffers > 0) FRingIndex = (FRingIndex + 1) % FNumBuffers;
    TAvCustomSoundComponent::BufferReady(lpWaveHdr);
    if (limitReached) Stop();
}

// ---- The platform binding ----

TAvWaveIn::TAvWaveIn(TComponent* AOwner) : TAvCustomWaveIn(AOwner) {
    Initialize();
}

void TAvWaveIn::BindPlatform() {
    FCalls.GetNumDevs = &waveInGetNumDevs;
    FCalls.GetDevCaps = &waveInGetDevCapsA;
    FCalls.GetErrorText = &waveInGetErrorTextA;
    FCalls.Open = &waveInOpen;
    FCalls.Close = &waveInClose;
    FCalls.PrepareHeader = &waveInPrepareHeader;
    FCalls.UnprepareHeader = &waveInUnprepareHeader;
    FCalls.AddBuffer = &waveInAddBuffer;
    FCalls.Start = &waveInStart;
    FCalls.Stop = &waveInStop;
    FCalls.Reset = &waveInReset;
    FCalls.GetPosition = &waveInGetPosition;
    FCalls.GetID = &waveInGetID;
}
