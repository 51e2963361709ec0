#pragma once
// The basic types of the platform API, with the sizes the records and calls expect, and the one
// piece of the window system the audio platform needs: windows that take posted messages.
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using CHAR = char;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using LPVOID = void*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr UINT WM_USER = 0x0400;

// Anything that accepts posted messages: the framework's hidden message window implements it.
// Post is called on any thread and must only queue the message.
class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    virtual void Post(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// A window handle. Handles are looked up in a process-wide table, so posting to a window that
// has been destroyed fails instead of touching freed memory.
struct HWND__;
using HWND = HWND__*;

// Called by the owner of a target (any thread). Unregister waits for a Post in progress to end.
HWND RegisterMessageTarget(IMessageTarget* target);
void UnregisterMessageTarget(HWND hwnd);
bool IsWindow(HWND hwnd);

// Queues a message for the window; FALSE when the handle names no window.
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Broadcasts, as the window system sends WM_DEVICECHANGE to every top-level window: a window that
// listens (any thread; unregistering it ends that) gets every broadcast message queued.
void ListenForBroadcasts(HWND hwnd, bool listen);
void BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam);
