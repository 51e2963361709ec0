// The hidden message window: order across threads, removal, nested delivery, failures.
#include "framework/MessageWindow.h"
#include "framework/Forms.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {
// Pumps events until done() or 10 s pass.
template <class F> bool PumpUntil(F done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 10000) return false;
        // sendPostedEvents also delivers inside a handler (a nested loop), as ProcessMessages does
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Recorder {
    std::vector<QString> messages;
    TApplication app;
    Recorder() {
        app.SetMessageBoxHook([this](const QString&, const QString& text, int) {
            messages.push_back(text);
            return IDOK;
        });
    }
};
} // namespace

TEST(MessageWindow, PostsFromTwoThreadsArriveInPerThreadOrder) {
    constexpr int kPerThread = 2000;
    std::vector<std::pair<UINT, LPARAM>> got;
    TMessageWindow window([&](TMessage& m) { got.emplace_back(m.Msg, m.LParam); });
    const HWND hwnd = window.Handle();
    ASSERT_TRUE(IsWindow(hwnd));
    auto producer = [hwnd](UINT msg) {
        for (int i = 0; i < kPerThread; ++i)
            PostMessage(hwnd, msg, 0, i);
    };
    std::thread a(producer, WM_USER + 1), b(producer, WM_USER + 2);
    a.join();
    b.join();
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 2u * kPerThread; }));
    LPARAM next[2] = {0, 0};
    for (auto [msg, seq] : got) {
        LPARAM& expected = next[msg - WM_USER - 1];
        ASSERT_EQ(seq, expected);
        ++expected;
    }
    EXPECT_EQ(next[0], kPerThread);
    EXPECT_EQ(next[1], kPerThread);
}

TEST(MessageWindow, RemovePendingDropsOnlyThatNumber) {
    std::vector<UINT> got;
    TMessageWindow window([&](TMessage& m) { got.push_back(m.Msg); });
    for (int i = 0; i < 3; ++i) {
        window.Post(WM_USER + 1, 0, 0);
        window.Post(WM_USER + 2, 0, 0);
    }
    EXPECT_TRUE(window.HasPending(WM_USER + 1));
    EXPECT_EQ(window.RemovePending(WM_USER + 1), 3);
    EXPECT_FALSE(window.HasPending(WM_USER + 1));
    EXPECT_TRUE(window.HasPending());
    ASSERT_TRUE(PumpUntil([&] { return !window.HasPending(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(got, (std::vector<UINT>{WM_USER + 2, WM_USER + 2, WM_USER + 2}));
}

TEST(MessageWindow, NestedLoopInAHandlerKeepsDelivering) {
    std::vector<int> got;
    TMessageWindow window;
    window.SetHandler([&](TMessage& m) {
        got.push_back(static_cast<int>(m.LParam));
        // A handler that waits with message processing (as device opening does) sees the
        // following messages delivered meanwhile, still in order.
        if (m.LParam == 0) PumpUntil([&] { return got.size() == 3; });
    });
    for (int i = 0; i < 3; ++i)
        window.Post(WM_USER, 0, i);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 3 && !window.HasPending(); }));
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
}

TEST(MessageWindow, FailingHandlerIsReportedAndDeliveryGoesOn) {
    Recorder rec;
    std::vector<int> got;
    TMessageWindow window([&](TMessage& m) {
        got.push_back(static_cast<int>(m.LParam));
        if (m.LParam == 1) throw Exception(QStringLiteral("handler failed"));
    });
    for (int i = 0; i < 3; ++i)
        window.Post(WM_USER, 0, i);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 3; }));
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0], QStringLiteral("handler failed"));
}

TEST(MessageWindow, DestroyedWithMessagesPendingIsSafe) {
    int calls = 0;
    HWND hwnd;
    {
        TMessageWindow window([&](TMessage&) { ++calls; });
        hwnd = window.Handle();
        for (int i = 0; i < 10; ++i)
            window.Post(WM_USER, 0, i);
    }
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(PostMessage(hwnd, WM_USER, 0, 0), FALSE);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST(MessageWindow, DestroyedWhileAnotherThreadPostsIsSafe) {
    int calls = 0;
    auto* window = new TMessageWindow([&](TMessage&) { ++calls; });
    const HWND hwnd = window->Handle();
    std::atomic<int> accepted{0};
    std::atomic<bool> refused{false};
    std::thread poster([&] {
        // Posts until the handle is refused, which must happen once the window is gone.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!PostMessage(hwnd, WM_USER, 0, 0)) {
                refused = true;
                return;
            }
            ++accepted;
        }
    });
    while (accepted.load() < 100 && !refused.load())
        std::this_thread::yield();
    delete window;
    poster.join();
    EXPECT_TRUE(refused.load());
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0); // pending messages went with the window
}
