#pragma once
// A hidden window that takes posted messages: the main thread's mailbox for device callbacks,
// audio threads and private hand-offs (MM_WOM_DONE, MM_MIXM_CONTROL_CHANGE, 0x8001, ...).
//
//   Window = new TMessageWindow([this](TMessage& m) { WndProc(m); });
//   waveOutOpen(..., (DWORD_PTR)Window->Handle(), ..., CALLBACK_WINDOW);
//   PostMessage(Window->Handle(), 0x8001, ...);   // any thread
//
// Post (and PostMessage on its handle) may be called from any thread and only queues the
// message. Messages are delivered one at a time, in the order they were queued, on the thread
// that created the window (the main thread), whenever that thread runs its event loop or
// Application->ProcessMessages. A handler that waits for later messages must wait with
// ProcessMessages (or DeliverPending): a bare nested QEventLoop does not deliver posted events
// on the GLib dispatcher while one is being handled. An exception escaping the
// handler goes to the application's exception handler and delivery goes on. Destroying the
// window (main thread) unregisters the handle first, then drops what is still pending.
#include "framework/Classes.h"
#include "platform/api/windef.h"

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

using TWndMethod = std::function<void(TMessage&)>;

class TMessageWindow : public QObject, public IMessageTarget {
    Q_OBJECT
public:
    explicit TMessageWindow(TWndMethod handler = {});
    ~TMessageWindow() override;

    HWND Handle() const { return FHandle; }
    void SetHandler(TWndMethod handler); // main thread

    // Any thread: queue a message.
    void Post(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Main thread: handle a message now, bypassing the queue.
    LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);
    // Any thread: drop every queued message with this number; returns how many.
    int RemovePending(UINT msg);
    // Any thread: is a message with this number queued (0: any message)?
    bool HasPending(UINT msg = 0) const;
    int PendingCount() const;
    // Main thread: deliver everything queued now (without running other events).
    void DeliverPending();

protected:
    // No message reaches the window after this (it waits for a Post in progress). A subclass
    // calls it first in its destructor, so no Post runs while the object is torn down.
    void Detach();
    // Dispatches to the handler; override instead of passing one.
    virtual void WndProc(TMessage& message);
    bool event(QEvent* e) override;

private:
    bool DeliverOne();
    HWND FHandle = nullptr;
    TWndMethod FHandler;
    mutable std::mutex FLock;
    std::deque<TMessage> FQueue;
};
