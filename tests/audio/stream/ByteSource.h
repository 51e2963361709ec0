#pragma once
// A source for the pull flow in tests and benchmarks: hands out its bytes in order, as much as
// each pull asks for, with MoreBuffers true until the last byte is out.
#include "audio/stream/AvDSPObj.h"

#include <algorithm>
#include <cstring>
#include <vector>

class TByteSource : public TAvDSPComponent {
public:
    TByteSource(const WAVEFORMATEX* fmt, std::vector<uint8_t> data)
        : TAvDSPComponent(nullptr), FData(std::move(data)) {
        SetProvidesOutput(true);
        SetPWaveFormat(fmt);
    }
    void Rewind() { FPos = 0; }
    void BufferLoad(TAvWaveHdr* h, bool& more) override {
        const std::size_t n =
            std::min<std::size_t>(h->dwBufferLength - h->dwBytesRecorded, FData.size() - FPos);
        std::memcpy(h->lpData + h->dwBytesRecorded, FData.data() + FPos, n);
        FPos += n;
        h->dwBytesRecorded += static_cast<DWORD>(n);
        more = FPos < FData.size();
    }

private:
    std::vector<uint8_t> FData;
    std::size_t FPos = 0;
};
