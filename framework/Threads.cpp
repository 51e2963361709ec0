#include "framework/Threads.h"

#include <QCoreApplication>
#include <QThread>
#include <deque>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

bool IsMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace {
struct SyncRequest {
    std::function<void()> proc;
    std::exception_ptr error;
    bool done = false;
    bool waited = true;
};

// The queue of procedures for the main thread, and the one condition every main-thread wait of
// this unit sleeps on: a new request, a finished thread or a set event wakes it.
struct SyncQueue {
    std::mutex lock;
    std::condition_variable mainWake;   // main thread waits here
    std::condition_variable workerWake; // workers wait here for their request to finish
    std::deque<std::shared_ptr<SyncRequest>> queue;
};
SyncQueue& Sync() {
    static SyncQueue q;
    return q;
}

void WakeMain() {
    auto& s = Sync();
    std::lock_guard g(s.lock);
    s.mainWake.notify_all();
}

// Main-thread wait until ready() or the deadline, running Synchronize requests meanwhile.
bool MainWait(const std::function<bool()>& ready, std::chrono::steady_clock::time_point deadline,
              bool infinite) {
    auto& s = Sync();
    for (;;) {
        CheckSynchronize();
        std::unique_lock g(s.lock);
        if (ready()) return true;
        if (!s.queue.empty()) continue;
        if (infinite)
            s.mainWake.wait(g);
        else if (s.mainWake.wait_until(g, deadline) == std::cv_status::timeout) {
            g.unlock();
            CheckSynchronize();
            return ready();
        }
    }
}
} // namespace

bool CheckSynchronize() {
    if (!IsMainThread()) return false;
    auto& s = Sync();
    bool ran = false;
    for (;;) {
        std::shared_ptr<SyncRequest> r;
        {
            std::lock_guard g(s.lock);
            if (s.queue.empty()) break;
            r = s.queue.front();
            s.queue.pop_front();
        }
        ran = true;
        try {
            r->proc();
        } catch (...) {
            if (r->waited)
                r->error = std::current_exception();
            else
                HandleException(nullptr);
        }
        std::lock_guard g(s.lock);
        r->done = true;
        s.workerWake.notify_all();
    }
    return ran;
}

void TThread::Synchronize(const std::function<void()>& proc) {
    if (!proc) return;
    if (IsMainThread() || !QCoreApplication::instance()) {
        proc();
        return;
    }
    auto r = std::make_shared<SyncRequest>();
    r->proc = proc;
    auto& s = Sync();
    {
        std::lock_guard g(s.lock);
        s.queue.push_back(r);
        s.mainWake.notify_all();
    }
    // The main thread's event loop runs the queue too.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { CheckSynchronize(); }, Qt::QueuedConnection);
    std::unique_lock g(s.lock);
    s.workerWake.wait(g, [&] { return r->done; });
    // Take the failure out of the request, so the main thread's copy of the request (dropped at
    // any time) never touches the exception object this thread goes on to use.
    std::exception_ptr error = std::move(r->error);
    g.unlock();
    if (error) std::rethrow_exception(error);
}

void TThread::Queue(std::function<void()> proc) {
    if (!proc) return;
    auto r = std::make_shared<SyncRequest>();
    r->proc = std::move(proc);
    r->waited = false;
    auto& s = Sync();
    {
        std::lock_guard g(s.lock);
        s.queue.push_back(r);
        s.mainWake.notify_all();
    }
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
}

struct TThread::TPendingStart {
    std::mutex lock;
    TThread* thread = nullptr; // null once started or destroyed
};

TThread::TThread(bool createSuspended) {
    if (createSuspended) return;
    FPendingStart = std::make_shared<TPendingStart>();
    FPendingStart->thread = this;
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app,
            [pending = FPendingStart] {
                std::lock_guard g(pending->lock);
                if (TThread* t = std::exchange(pending->thread, nullptr)) t->Launch();
            },
            Qt::QueuedConnection);
}

void TThread::CancelPendingStart() {
    if (!FPendingStart) return;
    std::lock_guard g(FPendingStart->lock);
    FPendingStart->thread = nullptr;
}

TThread::~TThread() {
    CancelPendingStart();
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id()) {
            FThread.detach(); // FreeOnTerminate: deleting itself at the end of Run
        } else {
            Terminate();
            WaitFor();
            FThread.join();
        }
    }
}

void TThread::Start() {
    CancelPendingStart();
    Launch();
}

void TThread::Launch() {
    bool expected = false;
    if (!FStarted.compare_exchange_strong(expected, true)) return;
    FThread = std::thread([this] { Run(); });
}

void TThread::SetPriority(TThreadPriority p) {
    FPriority = p;
}

void TThread::Run() {
    // Priority as a niceness hint; raising it needs privileges, so failures are ignored.
    static const int nice[] = {19, 10, 5, 0, -5, -10, -15};
    setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice[FPriority]);
    try {
        Execute();
    } catch (...) {
        FFatal = std::current_exception();
    }
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(this); });
        } catch (...) {
        }
    }
    const bool freeSelf = FFreeOnTerminate;
    {
        std::lock_guard g(FLock);
        FFinished.store(true);
        FDone.notify_all();
    }
    WakeMain();
    if (freeSelf) delete this;
}

int TThread::WaitFor() {
    if (FPendingStart && !FStarted.load()) {
        // Not started by the event loop yet: waiting for it means running it.
        bool pending = false;
        {
            std::lock_guard g(FPendingStart->lock);
            pending = std::exchange(FPendingStart->thread, nullptr) != nullptr;
        }
        if (pending) Launch();
    }
    if (!FStarted.load()) return FReturnValue;
    if (FThread.joinable() && FThread.get_id() == std::this_thread::get_id())
        throw EThread(QStringLiteral("A thread cannot wait for itself"));
    if (IsMainThread()) {
        MainWait([this] { return FFinished.load(); }, {}, true);
    } else {
        std::unique_lock g(FLock);
        FDone.wait(g, [this] { return FFinished.load(); });
    }
    return FReturnValue;
}

// --- TSimpleEvent --------------------------------------------------------------------------------

TSimpleEvent::TSimpleEvent(bool manualReset, bool initialState)
    : FManualReset(manualReset), FState(initialState) {}

void TSimpleEvent::SetEvent() {
    {
        std::lock_guard g(FLock);
        FState.store(true);
        FCond.notify_all();
    }
    WakeMain();
}

void TSimpleEvent::ResetEvent() {
    std::lock_guard g(FLock);
    FState.store(false);
}

TWaitResult TSimpleEvent::WaitFor(std::uint32_t timeoutMs) {
    const bool infinite = timeoutMs == INFINITE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto take = [this] {
        std::lock_guard g(FLock);
        if (!FState.load()) return false;
        if (!FManualReset) FState.store(false);
        return true;
    };
    if (IsMainThread()) {
        bool taken = false;
        MainWait([&] { return taken || (taken = take()); }, deadline, infinite);
        return taken ? wrSignaled : wrTimeout;
    }
    std::unique_lock g(FLock);
    auto ready = [this] { return FState.load(); };
    if (infinite)
        FCond.wait(g, ready);
    else if (!FCond.wait_until(g, deadline, ready))
        return wrTimeout;
    if (!FManualReset) FState.store(false);
    return wrSignaled;
}
