// Global memory and thread priorities on Linux.
#include "platform/api/winbase.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Each block carries its size in front of the caller's part; the caller's part keeps the
// alignment malloc gives (16 bytes).
constexpr SIZE_T kHead = 16;

constexpr std::uintptr_t kCurrentThread = static_cast<std::uintptr_t>(-2);

pid_t ThreadOf(HANDLE h) {
    const auto v = reinterpret_cast<std::uintptr_t>(h);
    if (v == kCurrentThread) return static_cast<pid_t>(::syscall(SYS_gettid));
    return static_cast<pid_t>(v);
}

std::mutex& PriorityLock() {
    static std::mutex m;
    return m;
}
std::map<pid_t, int>& Priorities() {
    static std::map<pid_t, int> m;
    return m;
}

int NiceOf(int priority) {
    switch (priority) {
    case THREAD_PRIORITY_IDLE:
        return 19;
    case THREAD_PRIORITY_LOWEST:
        return 10;
    case THREAD_PRIORITY_BELOW_NORMAL:
        return 5;
    case THREAD_PRIORITY_NORMAL:
        return 0;
    case THREAD_PRIORITY_ABOVE_NORMAL:
        return -5;
    case THREAD_PRIORITY_HIGHEST:
        return -10;
    case THREAD_PRIORITY_TIME_CRITICAL:
        return -15;
    default:
        return 100;
    }
}

} // namespace

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    if (uFlags & ~GMEM_ZEROINIT) return nullptr;
    if (dwBytes > SIZE_T(1) << 40) return nullptr;
    auto* p = static_cast<unsigned char*>(uFlags & GMEM_ZEROINIT ? std::calloc(1, dwBytes + kHead)
                                                                 : std::malloc(dwBytes + kHead));
    if (!p) return nullptr;
    std::memcpy(p, &dwBytes, sizeof dwBytes);
    return p + kHead;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    if (hMem) std::free(static_cast<unsigned char*>(hMem) - kHead);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL hMem) {
    if (!hMem) return 0;
    SIZE_T size = 0;
    std::memcpy(&size, static_cast<unsigned char*>(hMem) - kHead, sizeof size);
    return size;
}

HANDLE GetCurrentThread() {
    return reinterpret_cast<HANDLE>(kCurrentThread);
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(::syscall(SYS_gettid));
}

HANDLE OpenThreadById(DWORD threadId) {
    return threadId ? reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(threadId)) : nullptr;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
    const int nice = NiceOf(nPriority);
    if (!hThread || nice == 100) return FALSE;
    const pid_t tid = ThreadOf(hThread);
    // Refused raises (no privilege) leave the thread as it is; that is not a failure here.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
    std::lock_guard g(PriorityLock());
    Priorities()[tid] = nPriority;
    return TRUE;
}

int GetThreadPriority(HANDLE hThread) {
    if (!hThread) return THREAD_PRIORITY_ERROR_RETURN;
    std::lock_guard g(PriorityLock());
    auto it = Priorities().find(ThreadOf(hThread));
    return it == Priorities().end() ? THREAD_PRIORITY_NORMAL : it->second;
}
