// Microsoft ADPCM decoding, stereo 44.1 kHz in blocks of 2048 bytes: our converter pulled through
// the chain in the wave output's 2048-byte buffers, next to libavcodec's decoder on the same data
// (one packet per block, samples left in its frame), in decoded PCM bytes per second.
#include "audio/stream/AvADCvt.h"
#include "tests/audio/stream/LavcAdpcm.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

const lavc::TEncoded& Data() {
    static const lavc::TEncoded enc =
        lavc::EncodeMs(lavc::TestSignal(2, 44100 * 10), 2, 44100, 2048);
    return enc;
}

// The data in memory, handed out as the wave file does (as much as asked, wrapping at the end).
class TMemorySource : public TAvDSPComponent {
public:
    explicit TMemorySource(TComponent* owner) : TAvDSPComponent(owner) { SetProvidesOutput(true); }
    const std::vector<std::uint8_t>* Bytes = nullptr;
    size_t Pos = 0;
    void BufferLoad(TAvWaveHdr* h, bool& more) override {
        const size_t n = std::min<size_t>(h->dwBufferLength, Bytes->size() - Pos);
        std::memcpy(h->lpData, Bytes->data() + Pos, n);
        h->dwBytesRecorded = static_cast<DWORD>(n);
        Pos = Pos + n == Bytes->size() ? 0 : Pos + n;
        more = true;
    }
};

void BM_OurMsAdpcmStereo(benchmark::State& state) {
    const auto& enc = Data();
    TAvComponent owner(nullptr);
    auto* src = new TMemorySource(&owner);
    src->Bytes = &enc.Data;
    src->SetPWaveFormat(enc.Fmt());
    auto* conv = new TAvADPCMConverter(&owner);
    conv->SetInput(src);
    conv->Opened();
    conv->Started();
    constexpr int kCap = 2048;
    std::vector<std::uint8_t> block(AvWaveHdrSize + kCap);
    TAvWaveHdr* h = AvInitWaveHdr(block.data(), kCap);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        h->dwBufferLength = kCap;
        h->dwBytesRecorded = 0;
        bool more = false;
        conv->BufferLoad(h, more);
        bytes += h->dwBytesRecorded;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_OurMsAdpcmStereo);

void BM_LibavcodecMsAdpcmStereo(benchmark::State& state) {
    const auto& enc = Data();
    lavc::TMsDecoder dec(enc);
    const int ba = enc.Fmt()->nBlockAlign;
    const size_t blocks = enc.Data.size() / ba;
    size_t b = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        bytes += 4 * dec.DecodeInPlace(enc.Data.data() + b * ba, ba);
        b = (b + 1) % blocks;
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_LibavcodecMsAdpcmStereo);

} // namespace

BENCHMARK_MAIN();
