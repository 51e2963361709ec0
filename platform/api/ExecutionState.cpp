// The execution state over the desktop session's screen saver inhibition (D-Bus).
#include "platform/api/winbase.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

#include <map>
#include <mutex>
#include <thread>

namespace {
// A hung service must not hang the caller (the main thread, starting a preview).
constexpr int kCallTimeoutMs = 2000;

class SessionBusScreenSaver final : public IScreenSaverSession {
public:
    bool Inhibit(const char* reason, unsigned* cookie) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        const QString app = QCoreApplication::applicationName().isEmpty()
                                ? QStringLiteral("avsetup")
                                : QCoreApplication::applicationName();
        const QString why = QString::fromUtf8(reason);
        QDBusInterface fdo(QStringLiteral("org.freedesktop.ScreenSaver"),
                           QStringLiteral("/org/freedesktop/ScreenSaver"),
                           QStringLiteral("org.freedesktop.ScreenSaver"), bus);
        fdo.setTimeout(kCallTimeoutMs);
        QDBusReply<uint> r = fdo.call(QStringLiteral("Inhibit"), app, why);
        if (r.isValid()) {
            *cookie = r.value();
            FGnome[*cookie] = false;
            return true;
        }
        // GNOME's session manager: flag 8 inhibits the session's idle (screen saver, blanking).
        QDBusInterface gnome(QStringLiteral("org.gnome.SessionManager"),
                             QStringLiteral("/org/gnome/SessionManager"),
                             QStringLiteral("org.gnome.SessionManager"), bus);
        gnome.setTimeout(kCallTimeoutMs);
        r = gnome.call(QStringLiteral("Inhibit"), app, uint(0), why, uint(8));
        if (!r.isValid()) return false;
        *cookie = r.value();
        FGnome[*cookie] = true;
        return true;
    }

    void UnInhibit(unsigned cookie) override {
        auto it = FGnome.find(cookie);
        if (it == FGnome.end()) return;
        const bool gnome = it->second;
        FGnome.erase(it);
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        if (gnome) {
            QDBusInterface i(QStringLiteral("org.gnome.SessionManager"),
                             QStringLiteral("/org/gnome/SessionManager"),
                             QStringLiteral("org.gnome.SessionManager"), bus);
            i.setTimeout(kCallTimeoutMs);
            i.call(QStringLiteral("Uninhibit"), uint(cookie));
        } else {
            QDBusInterface i(QStringLiteral("org.freedesktop.ScreenSaver"),
                             QStringLiteral("/org/freedesktop/ScreenSaver"),
                             QStringLiteral("org.freedesktop.ScreenSaver"), bus);
            i.setTimeout(kCallTimeoutMs);
            i.call(QStringLiteral("UnInhibit"), uint(cookie));
        }
    }

    bool SimulateUserActivity() override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        QDBusInterface fdo(QStringLiteral("org.freedesktop.ScreenSaver"),
                           QStringLiteral("/org/freedesktop/ScreenSaver"),
                           QStringLiteral("org.freedesktop.ScreenSaver"), bus);
        fdo.setTimeout(kCallTimeoutMs);
        return fdo.call(QStringLiteral("SimulateUserActivity")).type() !=
               QDBusMessage::ErrorMessage;
    }

private:
    std::map<unsigned, bool> FGnome; // cookie -> given by GNOME's session manager
};

struct State {
    std::mutex lock;
    std::shared_ptr<IScreenSaverSession> session;
    std::map<std::thread::id, EXECUTION_STATE> threads; // the continuous states
    bool inhibited = false;
    unsigned cookie = 0;
};

State& TheState() {
    static State s;
    return s;
}

IScreenSaverSession& SessionLocked(State& s) {
    if (!s.session) s.session = std::make_shared<SessionBusScreenSaver>();
    return *s.session;
}

bool AnyKeepsOn(const State& s) {
    for (const auto& [id, flags] : s.threads)
        if (flags & (ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED)) return true;
    return false;
}
} // namespace

EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE esFlags) {
    State& s = TheState();
    std::lock_guard g(s.lock);
    const std::thread::id self = std::this_thread::get_id();
    const EXECUTION_STATE previous =
        ES_CONTINUOUS | (s.threads.count(self) ? s.threads[self] : EXECUTION_STATE(0));
    if (!(esFlags & ES_CONTINUOUS)) {
        if (!(esFlags & (ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED))) return previous;
        return SessionLocked(s).SimulateUserActivity() ? previous : 0;
    }
    const EXECUTION_STATE wanted = esFlags & (ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
    if (wanted)
        s.threads[self] = wanted;
    else
        s.threads.erase(self);
    const bool keepOn = AnyKeepsOn(s);
    if (keepOn && !s.inhibited) {
        unsigned cookie = 0;
        if (!SessionLocked(s).Inhibit("Display required", &cookie)) {
            s.threads.erase(self); // nothing is kept on for this thread
            return 0;
        }
        s.inhibited = true;
        s.cookie = cookie;
    } else if (!keepOn && s.inhibited) {
        SessionLocked(s).UnInhibit(s.cookie);
        s.inhibited = false;
    }
    return previous;
}

std::shared_ptr<IScreenSaverSession>
SetScreenSaverSession(std::shared_ptr<IScreenSaverSession> session) {
    State& s = TheState();
    std::lock_guard g(s.lock);
    // What the old one inhibited is released there, so a switch leaves nothing held.
    if (s.inhibited && s.session) s.session->UnInhibit(s.cookie);
    s.inhibited = false;
    s.threads.clear();
    auto previous = std::move(s.session);
    s.session = std::move(session);
    return previous;
}
