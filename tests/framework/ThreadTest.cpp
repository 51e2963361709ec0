// Threads: Synchronize while the main thread waits, failures, events and locks.
#include "framework/Threads.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace {
class TSyncThread : public TThread {
public:
    std::atomic<int> Runs{0};
    std::atomic<bool> RanOnMain{false};
    std::atomic<bool> CaughtFromMain{false};

protected:
    void Execute() override {
        for (int i = 0; i < 50 && !Terminated(); ++i) {
            Synchronize([this] {
                RanOnMain = IsMainThread();
                ++Runs;
            });
        }
        try {
            Synchronize([] { throw Exception(QStringLiteral("from main")); });
        } catch (const Exception& e) {
            CaughtFromMain = e.Message() == QStringLiteral("from main");
        }
        SetReturnValue(42);
    }
};

class TWaiter : public TThread {
public:
    explicit TWaiter(TSimpleEvent& e) : TThread(true), Event(e) {}
    TSimpleEvent& Event;
    std::atomic<bool> Seen{false};

protected:
    void Execute() override { Seen = Event.WaitFor(10000) == wrSignaled; }
};
} // namespace

TEST(Thread, SynchronizeRunsOnMainWhileMainWaitsFor) {
    TSyncThread t;
    t.Start();
    // The main thread blocks here without an event loop; the worker's Synchronize calls must
    // still run, or this would never return.
    EXPECT_EQ(t.WaitFor(), 42);
    EXPECT_EQ(t.Runs.load(), 50);
    EXPECT_TRUE(t.RanOnMain.load());
    EXPECT_TRUE(t.CaughtFromMain.load());
}

TEST(Thread, SynchronizeOnMainRunsAtOnce) {
    int n = 0;
    TThread::Synchronize([&] { ++n; });
    EXPECT_EQ(n, 1);
}

TEST(Thread, FailureInExecuteIsKept) {
    struct TBad : TThread {
        void Execute() override { throw Exception(QStringLiteral("bad")); }
    } t;
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.FatalException() != nullptr);
}

TEST(Thread, TerminateEndsALoop) {
    struct TLoop : TThread {
        void Execute() override {
            while (!Terminated())
                std::this_thread::yield();
        }
    } t;
    t.Start();
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
}

// Started without createSuspended, the thread must not run Execute before the derived class is
// built: its members are only valid once the constructor is done.
class TEager : public TThread {
public:
    explicit TEager(bool waitInConstructor) : TThread(false) {
        if (waitInConstructor) {
            // Give an early start every chance to show: wait (bounded) for Execute to begin.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
            while (!Began.load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
        }
        Name = "eager";
    }
    std::atomic<bool> Began{false};
    std::string Name;
    std::string Seen;

protected:
    void Execute() override {
        Began = true;
        Seen = Name;
    }
};

TEST(Thread, StartFromTheConstructorWaitsForTheWholeObject) {
    TEager first(true);
    EXPECT_FALSE(first.Began.load());
    first.WaitFor(); // runs it now
    EXPECT_EQ(first.Seen, "eager");

    TEager second(false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!second.Finished() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10); // the event loop starts it
    ASSERT_TRUE(second.Finished());
    second.WaitFor();
    EXPECT_EQ(second.Seen, "eager");

    { TEager never(false); } // destroyed before the event loop ran: never started
    QCoreApplication::processEvents();
}

TEST(SimpleEvent, SignalTimeoutAndAutoReset) {
    TSimpleEvent manual;
    EXPECT_EQ(manual.WaitFor(0), wrTimeout);
    manual.SetEvent();
    EXPECT_EQ(manual.WaitFor(0), wrSignaled);
    EXPECT_EQ(manual.WaitFor(0), wrSignaled); // stays set
    manual.ResetEvent();
    EXPECT_EQ(manual.WaitFor(1), wrTimeout);

    TSimpleEvent automatic(false);
    automatic.SetEvent();
    EXPECT_EQ(automatic.WaitFor(0), wrSignaled);
    EXPECT_EQ(automatic.WaitFor(0), wrTimeout); // taken by the first wait

    TSimpleEvent crossThread;
    TWaiter w(crossThread);
    w.Start();
    crossThread.SetEvent();
    w.WaitFor();
    EXPECT_TRUE(w.Seen.load());
}

TEST(CriticalSection, NestsOnOneThreadAndExcludesOthers) {
    TCriticalSection cs;
    cs.Enter();
    cs.Enter(); // recursive
    std::atomic<bool> otherGot{true};
    std::thread other([&] { otherGot = cs.TryEnter(); });
    other.join();
    EXPECT_FALSE(otherGot.load());
    cs.Leave();
    cs.Leave();
    std::thread again([&] {
        otherGot = cs.TryEnter();
        if (otherGot) cs.Leave();
    });
    again.join();
    EXPECT_TRUE(otherGot.load());
}
