#include "framework/MessageWindow.h"

#include <QCoreApplication>
#include <QEvent>

namespace {
// One wake-up event per queued message: each delivers the oldest message, so nested event
// loops entered from a handler keep delivering in order.
const QEvent::Type kDeliverEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
} // namespace

TMessageWindow::TMessageWindow(TWndMethod handler) : FHandler(std::move(handler)) {
    FHandle = RegisterMessageTarget(this);
}

TMessageWindow::~TMessageWindow() {
    // The wake-up events still queued for this object are dropped by ~QObject.
    Detach();
    std::lock_guard g(FLock);
    FQueue.clear();
}

void TMessageWindow::Detach() {
    UnregisterMessageTarget(FHandle);
}

void TMessageWindow::SetHandler(TWndMethod handler) {
    FHandler = std::move(handler);
}

void TMessageWindow::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    QEvent* wake = nullptr;
    {
        // Made under the lock that event() takes before looking at it: Qt's own hand-off of
        // the event between threads is invisible to the thread checker.
        std::lock_guard g(FLock);
        FQueue.push_back(TMessage{msg, wParam, lParam, 0});
        wake = new QEvent(kDeliverEvent);
    }
    QCoreApplication::postEvent(this, wake);
}

LRESULT TMessageWindow::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
    TMessage m{msg, wParam, lParam, 0};
    WndProc(m);
    return m.Result;
}

int TMessageWindow::RemovePending(UINT msg) {
    std::lock_guard g(FLock);
    const auto before = FQueue.size();
    std::erase_if(FQueue, [msg](const TMessage& m) { return m.Msg == msg; });
    return static_cast<int>(before - FQueue.size());
}

bool TMessageWindow::HasPending(UINT msg) const {
    std::lock_guard g(FLock);
    if (msg == 0) return !FQueue.empty();
    for (const TMessage& m : FQueue)
        if (m.Msg == msg) return true;
    return false;
}

int TMessageWindow::PendingCount() const {
    std::lock_guard g(FLock);
    return static_cast<int>(FQueue.size());
}

void TMessageWindow::WndProc(TMessage& message) {
    if (FHandler) FHandler(message);
}

bool TMessageWindow::DeliverOne() {
    TMessage m;
    {
        std::lock_guard g(FLock);
        if (FQueue.empty()) return false;
        m = FQueue.front();
        FQueue.pop_front();
    }
    GuardedCall(nullptr, [&] { WndProc(m); });
    return true;
}

void TMessageWindow::DeliverPending() {
    while (DeliverOne()) {
    }
}

bool TMessageWindow::event(QEvent* e) {
    bool wake;
    {
        std::lock_guard g(FLock);
        wake = e->type() == kDeliverEvent;
    }
    if (wake) {
        DeliverOne();
        return true;
    }
    return QObject::event(e);
}
