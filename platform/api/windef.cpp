#include "platform/api/windef.h"

#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace {
struct WindowTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, IMessageTarget*> targets;
    std::unordered_set<std::uintptr_t> listeners; // windows that take broadcasts
    std::uintptr_t next = 0x10000; // handles are never reused, so a stale one stays invalid
};

WindowTable& Table() {
    static WindowTable table;
    return table;
}
} // namespace

HWND RegisterMessageTarget(IMessageTarget* target) {
    if (!target) return nullptr;
    auto& t = Table();
    std::lock_guard g(t.lock);
    t.next += 4;
    t.targets.emplace(t.next, target);
    return reinterpret_cast<HWND>(t.next);
}

void UnregisterMessageTarget(HWND hwnd) {
    auto& t = Table();
    std::lock_guard g(t.lock);
    t.targets.erase(reinterpret_cast<std::uintptr_t>(hwnd));
    t.listeners.erase(reinterpret_cast<std::uintptr_t>(hwnd));
}

bool IsWindow(HWND hwnd) {
    auto& t = Table();
    std::lock_guard g(t.lock);
    return t.targets.count(reinterpret_cast<std::uintptr_t>(hwnd)) != 0;
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& t = Table();
    std::lock_guard g(t.lock); // held during Post, so the target cannot be unregistered meanwhile
    auto it = t.targets.find(reinterpret_cast<std::uintptr_t>(hwnd));
    if (it == t.targets.end()) return FALSE;
    it->second->Post(msg, wParam, lParam);
    return TRUE;
}

void ListenForBroadcasts(HWND hwnd, bool listen) {
    auto& t = Table();
    std::lock_guard g(t.lock);
    const auto h = reinterpret_cast<std::uintptr_t>(hwnd);
    if (!listen)
        t.listeners.erase(h);
    else if (t.targets.count(h))
        t.listeners.insert(h);
}

void BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& t = Table();
    std::lock_guard g(t.lock);
    for (std::uintptr_t h : t.listeners)
        if (auto it = t.targets.find(h); it != t.targets.end())
            it->second->Post(msg, wParam, lParam);
}
