#pragma once
// The video renderer drawing into a native window of the window system (an X11 window) itself,
// as the platform's renderer draws into its own child window: each frame goes from the stream to
// the window with no trip through the program's main thread. Frames are still scaled to
// IAvVideoFrameSink::SetFrameSize's size and centred in the window between black bands; the
// frame callback then gets frames without pixels (bits nullptr), only when the picture's size
// or the delivered size changes. Main thread.
#include "platform/dshow/dshow.h"

#include <cstdint>

struct IAvVideoOverlay : IUnknown {
    // 0: frames go to the frame callback again. Only while the renderer is stopped
    // (VFW_E_NOT_STOPPED); E_NOTIMPL where the window system has no such sink.
    virtual HRESULT SetWindowHandle(std::uintptr_t handle) = 0;
    // Draws the last frame again (the window was uncovered or resized).
    virtual HRESULT Expose() = 0;
};
AV_INTERFACE_ID(IAvVideoOverlay, 0x9D3E1F7E, 0x42A1, 0x4B7C, 0x8E, 0x0D, 0x61, 0x2B, 0x55, 0xC4,
                0x19, 0xA3);
