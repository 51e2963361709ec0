// The application object: main form, closing, idle, timers and the exception handler.
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "framework/Threads.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {
class TPlainForm : public TForm {
public:
    explicit TPlainForm(TComponent* owner) : TForm(owner) {
        OnCreate = [this](TObject*) { Created = true; };
        OnClose = [this](TObject*, TCloseAction&) { ++Closes; };
    }
    bool Created = false;
    int Closes = 0;
};
} // namespace

TEST(Application, FirstFormIsMainAndClosingItEndsTheLoop) {
    TApplication app;
    TPlainForm* main = nullptr;
    TPlainForm* second = nullptr;
    app.CreateForm(main);
    app.CreateForm(second);
    EXPECT_TRUE(main->Created);
    EXPECT_EQ(app.MainForm(), main);
    second->Show();
    second->Close(); // any other form only hides
    EXPECT_FALSE(second->Visible());
    EXPECT_FALSE(app.Terminated());

    QTimer::singleShot(0, main, [main] { main->close(); }); // the title-bar close box
    app.Run();                                              // returns when the main form closes
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(main->Closes, 1);
}

TEST(Application, ExceptionsFromTimersAndPostedWorkKeepTheLoopRunning) {
    TApplication app;
    std::vector<QString> shown;
    app.SetMessageBoxHook([&](const QString&, const QString& text, int) {
        shown.push_back(text);
        return IDOK;
    });
    TPlainForm* main = nullptr;
    app.CreateForm(main);
    auto* timer = new TTimer(main);
    int ticks = 0;
    timer->SetInterval(1);
    timer->SetOnTimer([&](TObject*) {
        if (++ticks == 1) throw Exception(QStringLiteral("tick failed"));
        if (ticks == 3) main->Close();
    });
    app.Run();
    EXPECT_EQ(ticks, 3);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], QStringLiteral("tick failed"));
}

TEST(Application, OnExceptionReplacesTheMessageBox) {
    TApplication app;
    int boxes = 0;
    app.SetMessageBoxHook([&](const QString&, const QString&, int) { return ++boxes, IDOK; });
    QString seen;
    app.OnException = [&](TObject*, const QString& m) { seen = m; };
    GuardedCall(nullptr, [] { throw std::runtime_error("plain"); });
    EXPECT_EQ(seen, QStringLiteral("plain"));
    EXPECT_EQ(boxes, 0);
}

TEST(Application, IdleRunsWhenTheQueueIsEmpty) {
    TApplication app;
    TPlainForm* main = nullptr;
    app.CreateForm(main);
    int idles = 0;
    app.OnIdle = [&](TObject*, bool& done) {
        done = ++idles >= 3; // ask to be called again twice
        if (done) main->Close();
    };
    app.Run();
    EXPECT_GE(idles, 3);
}

TEST(Application, FormsAreDestroyedNewestFirstWithOnDestroyWhileWhole) {
    QStringList order;
    {
        TApplication app;
        TPlainForm* first = nullptr;
        TPlainForm* second = nullptr;
        app.CreateForm(first);
        app.CreateForm(second);
        auto* button = new TButton(first);
        button->SetParent(first);
        second->SetParent(first); // docked like a page
        // By value: the handlers run while the application goes, after these locals.
        first->OnDestroy = [&order, button, first](TObject*) {
            // still whole: its components are still there
            order << QStringLiteral("first %1").arg(button->Parent() == first);
        };
        second->OnDestroy = [&order](TObject*) { order << QStringLiteral("second"); };
    }
    EXPECT_EQ(order, (QStringList{"second", "first 1"}));
    EXPECT_EQ(Application, nullptr);
}

TEST(Application, DockedPageCloseRunsItsHandlerAndHides) {
    TForm host(nullptr);
    host.SetBounds(0, 0, 200, 100);
    auto* area = new TPanel(&host);
    area->SetParent(&host);
    area->SetAlign(alClient);
    area->SetBevelOuter(bvNone);
    TPlainForm page(nullptr);
    page.SetBorderStyle(bsNone);
    page.SetBounds(0, 0, 500, 400); // designed larger than the area
    page.SetParent(area);
    page.SetAlign(alClient);
    page.Show();
    host.Show();
    EXPECT_TRUE(page.isVisible());
    EXPECT_EQ(page.BoundsRect(), area->ClientRect());
    EXPECT_FALSE(page.isWindow());
    page.Close();
    EXPECT_EQ(page.Closes, 1);
    EXPECT_FALSE(page.isVisible());
    page.SetParent(nullptr); // a window again, still hidden
    EXPECT_TRUE(page.isWindow());
    EXPECT_FALSE(page.isVisible());
}

TEST(Application, FailureOnAWorkerThreadIsReportedOnTheMainThread) {
    TApplication app;
    QStringList shown;
    bool onMain = false;
    app.SetMessageBoxHook([&](const QString&, const QString& text, int) {
        shown << text;
        onMain = IsMainThread();
        return IDOK;
    });
    std::thread worker(
        [] { GuardedCall(nullptr, [] { throw Exception(QStringLiteral("callback")); }); });
    worker.join();
    EXPECT_TRUE(shown.isEmpty()); // not shown from the worker
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(shown, QStringList{QStringLiteral("callback")});
    EXPECT_TRUE(onMain);
}
