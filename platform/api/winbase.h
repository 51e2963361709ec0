#pragma once
// The few kernel services the components use beside the multimedia API: global memory blocks
// for buffer headers, thread priorities, and the execution state (the screen kept on).
//
// Threads: every function may be called from any thread.
#include "platform/api/windef.h"

#include <cstddef>
#include <memory>

using SIZE_T = std::size_t;
using HGLOBAL = void*;
using HANDLE = void*;

// ---- Global memory ------------------------------------------------------------------------------
// Blocks are plain heap memory here; "fixed" blocks are their own handles, as on the platform.
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// nullptr when the memory is not there (or for unknown flags, such as GMEM_MOVEABLE).
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// nullptr on success, as on the platform.
HGLOBAL GlobalFree(HGLOBAL hMem);
// The block's size as allocated (0 for nullptr).
SIZE_T GlobalSize(HGLOBAL hMem);

// ---- Thread priorities --------------------------------------------------------------------------
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

// The calling thread (a pseudo handle, valid only on the thread that uses it).
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
// A handle naming the thread with this id (no access rights are checked; nothing to close).
HANDLE OpenThreadById(DWORD threadId);

// Priorities map onto the Linux nice value of the thread (idle 19, lowest 10, below normal 5,
// normal 0, above normal -5, highest -10, time critical -15). An unprivileged process may not
// go below its current nice value: a raise that the system refuses keeps the thread where it is
// and still succeeds, so no component fails because it asked for more than the system grants.
// FALSE only for a null handle or a value outside the platform's set.
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
// The priority last set through SetThreadPriority for that thread (NORMAL when never set).
int GetThreadPriority(HANDLE hThread);

// ---- Execution state ----------------------------------------------------------------------------
using EXECUTION_STATE = DWORD;
constexpr EXECUTION_STATE ES_SYSTEM_REQUIRED = 0x00000001;
constexpr EXECUTION_STATE ES_DISPLAY_REQUIRED = 0x00000002;
constexpr EXECUTION_STATE ES_CONTINUOUS = 0x80000000;

// With ES_CONTINUOUS the calling thread's state lasts until its next call with ES_CONTINUOUS
// (ES_CONTINUOUS alone ends it); without it the idle timers are reset once. While any thread asks
// for the display or the system, the desktop session's screen saver and blanking are inhibited
// (org.freedesktop.ScreenSaver, else GNOME's session manager, over the session bus). Returns the
// thread's previous state, or 0 when the session has no such service (no session bus, a bare X
// server): then nothing is kept on and the caller simply goes on. Any thread.
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE esFlags);

// Where the inhibitions go: the session bus, or what a test installs (nullptr: the bus again).
// Returns the one installed before. Calls arrive under SetThreadExecutionState's lock.
class IScreenSaverSession {
public:
    virtual ~IScreenSaverSession() = default;
    // false when the session offers no screen saver service.
    virtual bool Inhibit(const char* reason, unsigned* cookie) = 0;
    virtual void UnInhibit(unsigned cookie) = 0;
    virtual bool SimulateUserActivity() = 0;
};
std::shared_ptr<IScreenSaverSession>
SetScreenSaverSession(std::shared_ptr<IScreenSaverSession> session);
