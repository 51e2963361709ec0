#pragma once
// Threads, locks and events.
//
// TThread runs Execute() on its own thread. Synchronize(proc) runs proc on the main thread while
// the worker waits, and re-raises in the worker what proc raised. To avoid the classic deadlock
// (main thread in WaitFor on a worker that is waiting in Synchronize), every wait that the main
// thread makes through this unit -- TThread::WaitFor and TSimpleEvent::WaitFor -- also runs the
// queued Synchronize procedures while it waits (CheckSynchronize). The main thread's event loop
// runs them too.
#include "framework/Exceptions.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

// True on the thread that created the QApplication.
bool IsMainThread();
// Runs the queued Synchronize procedures (main thread; elsewhere it does nothing). Returns
// whether any ran.
bool CheckSynchronize();

class TThread {
public:
    // With createSuspended the thread starts on Start(). Without it, it starts once the object
    // is complete: when the main thread's event loop next runs, or at the first Start/WaitFor,
    // whichever comes first (started from the constructor, Execute could run before the derived
    // class is built).
    explicit TThread(bool createSuspended = true);
    // Terminates and waits for a thread that still runs (unless FreeOnTerminate owns it). By then
    // the derived part is gone: a class whose Execute uses its own members must Terminate and
    // WaitFor in its own destructor.
    virtual ~TThread();

    void Start();
    void Resume() { Start(); }
    // Asks Execute to end (it polls Terminated()).
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    // Waits until Execute has returned; returns ReturnValue. Main-thread waits run Synchronize.
    int WaitFor();
    bool Finished() const { return FFinished.load(); }

    // The object deletes itself when Execute returns; only set it before Start.
    bool FreeOnTerminate() const { return FFreeOnTerminate; }
    void SetFreeOnTerminate(bool v) { FFreeOnTerminate = v; }
    // Kept for the components' settings; applied as a niceness hint where the system allows.
    TThreadPriority Priority() const { return FPriority; }
    void SetPriority(TThreadPriority p);
    int ReturnValue() const { return FReturnValue; }
    // What escaped Execute (nullptr when nothing).
    std::exception_ptr FatalException() const { return FFatal; }

    // Runs proc on the main thread and waits; on the main thread it runs at once.
    static void Synchronize(const std::function<void()>& proc);
    // Runs proc on the main thread later, without waiting.
    static void Queue(std::function<void()> proc);

    std::function<void(TThread*)> OnTerminate; // runs on the main thread (synchronised)

protected:
    virtual void Execute() = 0;
    void SetReturnValue(int v) { FReturnValue = v; }

private:
    struct TPendingStart; // a start from the constructor, waiting for the object to be complete
    void Run();
    void Launch();
    void CancelPendingStart();
    std::shared_ptr<TPendingStart> FPendingStart;
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FStarted{false};
    bool FFreeOnTerminate = false;
    TThreadPriority FPriority = tpNormal;
    int FReturnValue = 0;
    std::exception_ptr FFatal;
    std::mutex FLock;
    std::condition_variable FDone;
};

// A recursive lock, as the components expect (Enter may nest on one thread).
class TCriticalSection {
public:
    void Enter() { FLock.lock(); }
    void Leave() { FLock.unlock(); }
    bool TryEnter() { return FLock.try_lock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }
    // BasicLockable, for std::lock_guard / std::scoped_lock.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex FLock;
};

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// A manual-reset event (or auto-reset with manualReset false).
class TSimpleEvent {
public:
    explicit TSimpleEvent(bool manualReset = true, bool initialState = false);
    void SetEvent();
    void ResetEvent();
    // Waits up to timeout ms (INFINITE: no limit). Main-thread waits run Synchronize.
    TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE);
    bool IsSet() const { return FState.load(); }

private:
    bool FManualReset;
    std::atomic<bool> FState;
    std::mutex FLock;
    std::condition_variable FCond;
};
