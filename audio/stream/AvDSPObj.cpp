#include "audio/stream/AvDSPObj.h"

#include <algorithm>
#include <cstring>
#include <utility>

// ---- Buffer header ------------------------------------------------------------------------------

TAvWaveHdr* AvInitWaveHdr(void* block, int dataSize) {
    if (!block) return nullptr;
    std::memset(block, 0, sizeof(TAvWaveHdr));
    auto* h = static_cast<TAvWaveHdr*>(block);
    h->lpData = reinterpret_cast<LPSTR>(static_cast<unsigned char*>(block) + sizeof(TAvWaveHdr));
    h->dwBufferLength = static_cast<DWORD>(std::max(dataSize, 0));
    return h;
}

// ---- TAvAllocator -------------------------------------------------------------------------------

TAvAllocator::~TAvAllocator() {
    FreeAll();
}

void* TAvAllocator::AllocBuffer(UINT flags, std::uint32_t size) {
    std::lock_guard g(FLock);
    TEntry* chosen = nullptr;
    for (TEntry& e : FEntries)
        if (e.UseCount == 0 && e.Size == size) {
            chosen = &e;
            break;
        }
    if (!chosen)
        for (TEntry& e : FEntries)
            if (e.UseCount == 0 && e.Size >= size) {
                chosen = &e;
                break;
            }
    if (chosen) {
        ++chosen->UseCount;
        // A reused block is handed out as a fresh one would be.
        if (flags & GMEM_ZEROINIT) std::memset(chosen->Block, 0, chosen->Size);
        return chosen->Block;
    }
    void* block = GlobalAlloc(flags, size);
    if (!block) return nullptr;
    FEntries.push_back({block, size, 1});
    return block;
}

void TAvAllocator::FreeBuffer(void*& block) {
    if (!block) return;
    std::lock_guard g(FLock);
    for (TEntry& e : FEntries)
        if (e.Block == block) {
            if (e.UseCount > 0) --e.UseCount;
            block = nullptr;
            return;
        }
}

void TAvAllocator::FreeAll() {
    std::lock_guard g(FLock);
    while (!FEntries.empty()) {
        GlobalFree(FEntries.back().Block);
        FEntries.pop_back();
    }
}

int TAvAllocator::Count() const {
    std::lock_guard g(FLock);
    return static_cast<int>(FEntries.size());
}

int TAvAllocator::InUse() const {
    std::lock_guard g(FLock);
    return static_cast<int>(std::count_if(FEntries.begin(), FEntries.end(),
                                          [](const TEntry& e) { return e.UseCount; }));
}

std::uint64_t TAvAllocator::Bytes() const {
    std::lock_guard g(FLock);
    std::uint64_t n = 0;
    for (const TEntry& e : FEntries)
        n += e.Size;
    return n;
}

// ---- TAvDSPComponent ----------------------------------------------------------------------------

namespace {

const QString kInput = QStringLiteral("Input");
const QString kOutput = QStringLiteral("Output");
constexpr int kMaxLinkName = 20;

// Every live chain component, in order of construction. Main thread only.
std::vector<TAvDSPComponent*>* gComponents = nullptr;

} // namespace

TAvDSPComponent::TAvDSPComponent(TComponent* AOwner) : TAvCustomDSPComponent(AOwner) {
    if (!gComponents) gComponents = new std::vector<TAvDSPComponent*>;
    gComponents->push_back(this);
}

TAvDSPComponent::~TAvDSPComponent() {
    ReleaseLinks();
    FPWaveFormat.reset();
}

int TAvDSPComponent::InstanceCount() {
    return gComponents ? static_cast<int>(gComponents->size()) : 0;
}

void TAvDSPComponent::BeforeDestruction() {
    TAvCustomDSPComponent::BeforeDestruction();
    SetInput(nullptr);
    SetOutput(nullptr);
    SetPWaveFormat(nullptr);
}

// The last step of destruction, also for a plain delete, when only this class is left: leave the
// registry first (so no link walk reaches this object again), then clear the survivors' links to
// this one directly, without the derived classes' setters or properties, which are gone.
void TAvDSPComponent::ReleaseLinks() {
    if (gComponents) {
        auto& v = *gComponents;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
        if (v.empty()) {
            delete gComponents;
            gComponents = nullptr;
        }
    }
    if (TAvDSPComponent* in = std::exchange(FInput, nullptr))
        if (in->FOutput == this) in->SetOutputLink(nullptr, QString());
    if (TAvDSPComponent* out = std::exchange(FOutput, nullptr))
        if (out->FInput == this) {
            out->SetInputLink(nullptr, QString());
            out->InputFormatChanged(nullptr);
        }
}

void TAvDSPComponent::BroadcastUnlink(TAvDSPComponent* c, bool inputSide, const QString& name) {
    if (!gComponents) return;
    // On a copy: an unlink may, through a derived class, create or free components.
    const std::vector<TAvDSPComponent*> all = *gComponents;
    for (TAvDSPComponent* q : all) {
        if (!gComponents ||
            std::find(gComponents->begin(), gComponents->end(), q) == gComponents->end())
            continue;
        q->UnlinkNotify(c, inputSide, name);
    }
}

bool TAvDSPComponent::LinkPropertyIs(TAvDSPComponent* c, const QString& name,
                                     TAvDSPComponent* target) {
    if (!c || name.isEmpty()) return false;
    const QByteArray prop = name.toLatin1();
    if (IsPublishedProp(c, prop.constData())) {
        const QVariant v = GetPropValue(c, prop.constData());
        return v.value<QObject*>() == static_cast<QObject*>(target);
    }
    // A class that links without publishing the property (AcceptsInput, ProvidesOutput) still
    // holds the link itself; a back-link to it must not survive either.
    if (name == kInput) return c->Input() == target;
    if (name == kOutput) return c->Output() == target;
    return false;
}

void TAvDSPComponent::UnlinkNotify(TAvDSPComponent* c, bool inputSide, const QString& name) {
    if (!c) return;
    if (inputSide) {
        if (c == Input() && FInputLinkName == name && LinkPropertyIs(c, FInputLinkName, this))
            SetInputLink(nullptr, QString());
    } else {
        if (c == Output() && FOutputLinkName == name && LinkPropertyIs(c, FOutputLinkName, this))
            SetOutputLink(nullptr, QString());
    }
}

void TAvDSPComponent::SetInputLink(TAvDSPComponent* c, const QString& name) {
    FInput = c;
    FInputLinkName = c ? name.left(kMaxLinkName) : QString();
    // Removal of a component on another form must reach this one too.
    if (c) FreeNotification(c);
}

void TAvDSPComponent::SetOutputLink(TAvDSPComponent* c, const QString& name) {
    FOutput = c;
    FOutputLinkName = c ? name.left(kMaxLinkName) : QString();
    if (c) FreeNotification(c);
}

bool TAvDSPComponent::CanConnectInput(TAvDSPComponent* c) {
    if (!c || c == this) return false;
    if (!IsPublishedProp(c, "Output") && !c->ProvidesOutput()) return false;
    TAvDSPComponent* out = Output();
    return !out || out->CanConnectInput(c);
}

bool TAvDSPComponent::CanConnectOutput(TAvDSPComponent* c) {
    if (!c || c == this) return false;
    if (!IsPublishedProp(c, "Input") && !c->AcceptsInput()) return false;
    TAvDSPComponent* in = Input();
    return !in || in->CanConnectOutput(c);
}

void TAvDSPComponent::SetInput(TAvDSPComponent* a) {
    if (a == Input() || (a && !CanConnectInput(a))) return;
    Stopped();
    if (Input()) {
        BroadcastUnlink(this, false, kInput); // the old input loses its Output
        SetInputLink(nullptr, QString());
        InputFormatChanged(nullptr);
    }
    if (!a) return;
    BroadcastUnlink(a, true, kOutput); // whatever a fed so far loses its Input
    SetInputLink(a, kOutput);
    a->SetOutputLink(this, kInput);
    UpdateFormat();
}

void TAvDSPComponent::SetOutput(TAvDSPComponent* a) {
    if (a == Output() || (a && !CanConnectOutput(a))) return;
    Stopped();
    if (TAvDSPComponent* old = Output()) {
        BroadcastUnlink(this, true, kOutput); // the old output loses its Input
        old->InputFormatChanged(nullptr);
        SetOutputLink(nullptr, QString());
    }
    if (!a) return;
    BroadcastUnlink(a, false, kInput); // whatever fed a so far loses its Output
    SetOutputLink(a, kInput);
    a->SetInputLink(this, kOutput);
    UpdateFormat();
}

void TAvDSPComponent::SetPWaveFormat(const WAVEFORMATEX* f) {
    if (f != FPWaveFormat.get()) {
        if (IsStarted()) Stopped();
        // Copy first: f may live inside a record this call frees.
        TAvFormatPtr copy = CopyFormat(f);
        FPWaveFormat = std::move(copy);
    }
    if (FormatFrozen()) return;
    if (TAvDSPComponent* out = Output()) out->InputFormatChanged(FPWaveFormat.get());
}

void TAvDSPComponent::UpdateFormat() {
    if (FormatFrozen()) return;
    if (TAvDSPComponent* in = Input())
        InputFormatChanged(in->PWaveFormat());
    else if (TAvDSPComponent* out = Output())
        out->InputFormatChanged(PWaveFormat());
}

void TAvDSPComponent::InputFormatChanged(const WAVEFORMATEX* f) {
    SetPWaveFormat(f);
}

int TAvDSPComponent::BufferSize() const {
    return FIsOpen ? FRealBufferSize : FBufferSize;
}

void TAvDSPComponent::SetBufferSize(int n) {
    if (n == FBufferSize) return;
    if (IsStarted()) Stopped();
    FBufferSize = n;
}

void TAvDSPComponent::Opened() {
    if (FIsOpen) return;
    const WAVEFORMATEX* f = PWaveFormat();
    // A format without a block size cannot round anything: the requested size stands.
    if (f && f->nBlockAlign > 0) {
        const int align = f->nBlockAlign;
        FRealBufferSize = std::max(FBufferSize - FBufferSize % align, align);
    } else {
        FRealBufferSize = FBufferSize;
    }
    FIsOpen = true;
    FIsStarted = false;
    FIsPaused = false;
}

void TAvDSPComponent::Closed() {
    FIsOpen = false;
}

void TAvDSPComponent::Started() {
    if (FIsOpen && !FIsStarted) FIsStarted = true;
}

void TAvDSPComponent::Paused() {
    FIsPaused = true;
}

void TAvDSPComponent::Restarted() {
    FIsPaused = false;
}

void TAvDSPComponent::Stopped() {
    if (!FIsStarted) return;
    FIsStarted = false;
    FIsPaused = false;
}

void TAvDSPComponent::Flushed() {}

void TAvDSPComponent::Looped() {}

void TAvDSPComponent::BufferReady(TAvWaveHdr* lpWaveHdr) {
    if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
    if (TAvDSPComponent* out = Output()) out->BufferReady(lpWaveHdr);
}

void TAvDSPComponent::BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) {
    if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    if (TAvDSPComponent* in = Input()) in->BufferLoad(lpWaveHdr, MoreBuffers);
}

void TAvDSPComponent::Loaded() {
    TAvCustomDSPComponent::Loaded();
    // Loading held the format back; pass it downstream now.
    SetPWaveFormat(PWaveFormat());
}

void TAvDSPComponent::Notification(TComponent* AComponent, TOperation Operation) {
    TAvCustomDSPComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (AComponent == static_cast<TComponent*>(FInput))
        SetInput(nullptr);
    else if (AComponent == static_cast<TComponent*>(FOutput))
        SetOutput(nullptr);
}

// ---- TAvCustomSoundComponent --------------------------------------------------------------------

bool TAvCustomSoundComponent::IsSoundComponent(const TAvDSPComponent* c) {
    return dynamic_cast<const TAvCustomSoundComponent*>(c) != nullptr;
}

void TAvCustomSoundComponent::Send(TAvDSPComponent* c, TAvChainEvent e) {
    switch (e) {
    case ceOpened:
        c->Opened();
        break;
    case ceClosed:
        c->Closed();
        break;
    case ceStarted:
        c->Started();
        break;
    case cePaused:
        c->Paused();
        break;
    case ceRestarted:
        c->Restarted();
        break;
    case ceStopped:
        c->Stopped();
        break;
    case ceFlushed:
        c->Flushed();
        break;
    case ceLooped:
        c->Looped();
        break;
    }
}

void TAvCustomSoundComponent::SendBase(TAvChainEvent e) {
    switch (e) {
    case ceOpened:
        TAvDSPComponent::Opened();
        break;
    case ceClosed:
        TAvDSPComponent::Closed();
        break;
    case ceStarted:
        TAvDSPComponent::Started();
        break;
    case cePaused:
        TAvDSPComponent::Paused();
        break;
    case ceRestarted:
        TAvDSPComponent::Restarted();
        break;
    case ceStopped:
        TAvDSPComponent::Stopped();
        break;
    case ceFlushed:
        TAvDSPComponent::Flushed();
        break;
    case ceLooped:
        TAvDSPComponent::Looped();
        break;
    }
}

void TAvCustomSoundComponent::Propagate(TAvChainEvent e) {
    // Links never form a loop; the bound only keeps a damaged chain from hanging the walk.
    const int bound = InstanceCount() + 1;

    if (e == ceOpened) FHasSourceDevice = false;
    TAvDSPComponent* start = this;
    bool sourceDevice = false;
    int steps = 0;
    for (TAvDSPComponent* p = Input(); p && steps < bound; p = p->Input(), ++steps) {
        if (IsSoundComponent(p)) {
            sourceDevice = true;
            break;
        }
        start = p;
    }
    if (sourceDevice) {
        start = this;
        if (e == ceOpened) FHasSourceDevice = true;
    }

    const bool downstreamFirst = e == ceClosed || e == ceStopped;
    if (downstreamFirst) {
        steps = 0;
        for (TAvDSPComponent* p = Output(); p && steps < bound; p = p->Output(), ++steps)
            if (p != this && IsSoundComponent(p)) {
                Send(p, e);
                break;
            }
    }

    const int size = BufferSize();
    steps = 0;
    for (TAvDSPComponent* p = start; p && steps < bound; p = p->Output(), ++steps) {
        if (p == this) continue;
        const bool device = IsSoundComponent(p);
        if (!device || !downstreamFirst) {
            if (e == ceOpened) p->SetBufferSize(size);
            Send(p, e);
        }
        if (device) break;
    }

    SendBase(e);
}

// ---- Threads ------------------------------------------------------------------------------------

namespace {

thread_local TAvThreadEx* tCurrentThread = nullptr;

// Every live DSP thread. Any thread reads it (CallSynchronized).
std::mutex gThreadsLock;
std::vector<TAvDSPThread*>* gThreads = nullptr;

bool IsLiveDSPThread(TAvThreadEx* t) {
    std::lock_guard g(gThreadsLock);
    return gThreads && t &&
           std::find(gThreads->begin(), gThreads->end(), static_cast<TAvDSPThread*>(t)) !=
               gThreads->end();
}

} // namespace

int TAvThreadEx::PlatformPriority(TThreadPriority p) {
    switch (p) {
    case tpIdle:
        return THREAD_PRIORITY_IDLE;
    case tpLowest:
        return THREAD_PRIORITY_LOWEST;
    case tpLower:
        return THREAD_PRIORITY_BELOW_NORMAL;
    case tpNormal:
        return THREAD_PRIORITY_NORMAL;
    case tpHigher:
        return THREAD_PRIORITY_ABOVE_NORMAL;
    case tpHighest:
        return THREAD_PRIORITY_HIGHEST;
    case tpTimeCritical:
        return THREAD_PRIORITY_TIME_CRITICAL;
    }
    return THREAD_PRIORITY_NORMAL;
}

void TAvThreadEx::SetPriority(TThreadPriority p) {
    FPriority.store(p);
    TThread::SetPriority(p);
    if (DWORD tid = FThreadId.load()) ::SetThreadPriority(OpenThreadById(tid), PlatformPriority(p));
}

TAvThreadEx* TAvThreadEx::CurrentEx() {
    return tCurrentThread;
}

void TAvThreadEx::Execute() {
    struct TScope {
        TAvThreadEx* self;
        explicit TScope(TAvThreadEx* t) : self(t) {
            tCurrentThread = t;
            t->FThreadId.store(GetCurrentThreadId());
        }
        ~TScope() {
            self->FThreadId.store(0);
            tCurrentThread = nullptr;
        }
    } scope(this);
    ::SetThreadPriority(GetCurrentThread(), PlatformPriority(FPriority.load()));
    ExecuteEx();
}

TAvDSPThread::TAvDSPThread(TAvCustomSoundComponent* component)
    : TAvThreadEx(true), FComponent(component) {
    std::lock_guard g(gThreadsLock);
    if (!gThreads) gThreads = new std::vector<TAvDSPThread*>;
    gThreads->push_back(this);
}

TAvDSPThread::~TAvDSPThread() {
    // The loop uses the queue: end it while this part still exists.
    TerminateAndWake();
    WaitFor();
    std::lock_guard g(gThreadsLock);
    if (gThreads) {
        gThreads->erase(std::remove(gThreads->begin(), gThreads->end(), this), gThreads->end());
        if (gThreads->empty()) {
            delete gThreads;
            gThreads = nullptr;
        }
    }
}

TAvDSPThread* TAvDSPThread::Current() {
    TAvThreadEx* t = tCurrentThread;
    return IsLiveDSPThread(t) ? static_cast<TAvDSPThread*>(t) : nullptr;
}

void TAvDSPThread::PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard g(FQueueLock);
    TMessage m;
    m.Msg = msg;
    m.WParam = wParam;
    m.LParam = lParam;
    FQueue.push_back(m);
    FQueueCond.notify_one();
}

int TAvDSPThread::RemoveThreadMessages(UINT msg) {
    std::lock_guard g(FQueueLock);
    const auto before = FQueue.size();
    FQueue.erase(std::remove_if(FQueue.begin(), FQueue.end(),
                                [msg](const TMessage& m) { return m.Msg == msg; }),
                 FQueue.end());
    return static_cast<int>(before - FQueue.size());
}

void TAvDSPThread::TerminateAndWake() {
    std::lock_guard g(FQueueLock);
    Terminate();
    FQueueCond.notify_all();
}

bool TAvDSPThread::WaitMessage(TMessage& m, std::uint32_t timeoutMs) {
    std::unique_lock g(FQueueLock);
    auto ready = [this] { return Terminated() || !FQueue.empty(); };
    if (timeoutMs == INFINITE)
        FQueueCond.wait(g, ready);
    else if (!FQueueCond.wait_for(g, std::chrono::milliseconds(timeoutMs), ready))
        return false;
    if (Terminated() || FQueue.empty()) return false;
    m = FQueue.front();
    FQueue.pop_front();
    return true;
}

void CallSynchronized(const std::function<void()>& proc) {
    if (!proc) return;
    if (!IsMainThread() && TAvDSPThread::Current()) {
        TThread::Synchronize(proc);
        return;
    }
    proc();
}
