#pragma once
// A chain source in memory for the stream tests: it plays its bytes once, or wraps at the end as
// a wave file does when the sink asks for looping. Pulls may come on any thread.
#include "audio/stream/AvDSPObj.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

class TMemorySource : public TAvDSPComponent {
public:
    TMemorySource(TComponent* owner, std::vector<std::uint8_t> data, const WAVEFORMATEX& f)
        : TAvDSPComponent(owner), Data(std::move(data)) {
        SetProvidesOutput(true); // a source: it has no Input to publish
        SetPWaveFormat(&f);
    }
    void BufferLoad(TAvWaveHdr* h, bool& more) override {
        std::lock_guard g(Lock);
        const std::size_t n = std::min<std::size_t>(h->dwBufferLength, Data.size() - Pos);
        if (n) std::memcpy(h->lpData, Data.data() + Pos, n);
        Pos += n;
        h->dwBytesRecorded = static_cast<DWORD>(n);
        if (n == 0) return;
        if (Pos < Data.size()) {
            more = true;
        } else if (h->LoopEnabled) {
            if (h->LoopCount > 0) --h->LoopsLeft;
            if (h->LoopCount != 0 && h->LoopsLeft < 0) return;
            Pos = 0;
            more = true;
            h->HasLooped = -1;
        }
    }
    void Looped() override { ++LoopedCalls; }
    // Plays data from its start next time.
    void Load(std::vector<std::uint8_t> data) {
        std::lock_guard g(Lock);
        Data = std::move(data);
        Pos = 0;
    }
    void Rewind() {
        std::lock_guard g(Lock);
        Pos = 0;
    }

    std::mutex Lock;
    std::vector<std::uint8_t> Data;
    std::size_t Pos = 0;
    std::atomic<int> LoopedCalls{0};
};

// Reproducible bytes that differ from buffer to buffer.
inline std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 1) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>((i * 7 + seed + i / 251) & 0xFF);
    return v;
}

// Test names for the callback modes.
inline std::string CallBackModeName(const ::testing::TestParamInfo<TAvCBMode>& i) {
    static const char* const names[] = {"Window", "Callback", "Thread"};
    return names[i.param];
}
