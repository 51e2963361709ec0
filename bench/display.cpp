// Peak search against memcpy of the same buffer, and the raw fills and copies of the drawing
// surface, in pixels per second.
#include "audio/display/AvDIBCv.h"
#include "audio/display/AvUtils.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kBytes = 1 << 20;

std::vector<std::int16_t> SpeechLike() {
    std::vector<std::int16_t> v(kBytes / 2);
    std::mt19937 rng(1);
    std::normal_distribution<float> d(0.0f, 3000.0f);
    for (auto& s : v)
        s = static_cast<std::int16_t>(std::clamp(d(rng), -32768.0f, 32767.0f));
    return v;
}

void BM_FindPeaks16Stereo(benchmark::State& state) {
    const auto buf = SpeechLike();
    WAVEFORMATEX fmt;
    BuildPcmFormat(&fmt, 16, 2, 8000);
    std::int16_t l = 0, r = 0;
    for (auto _ : state) {
        FindPeaks(&fmt, buf.data(), kBytes, l, r);
        benchmark::DoNotOptimize(l);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_FindPeaks16Stereo);

void BM_Memcpy(benchmark::State& state) {
    const auto buf = SpeechLike();
    std::vector<std::int16_t> dst(buf.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), buf.data(), kBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Memcpy);

void BM_FillRect8(benchmark::State& state) {
    TAvDIBCanvas c;
    c.SetSize(200, 200);
    c.BeginDraw();
    std::uint32_t i = 0;
    for (auto _ : state) {
        c.SetDrawIndex(++i);
        c.FillRect(0, 0, 200, 200);
        benchmark::ClobberMemory();
    }
    c.EndDraw();
    state.SetItemsProcessed(state.iterations() * 200 * 200);
}
BENCHMARK(BM_FillRect8);

void BM_FillRect24(benchmark::State& state) {
    TAvDIBCanvas c;
    c.SetBitsPerPixel(24);
    c.SetSize(200, 200);
    c.BeginDraw();
    std::uint32_t i = 0;
    for (auto _ : state) {
        c.SetDrawIndex(++i);
        c.FillRect(0, 0, 200, 200);
        benchmark::ClobberMemory();
    }
    c.EndDraw();
    state.SetItemsProcessed(state.iterations() * 200 * 200);
}
BENCHMARK(BM_FillRect24);

void BM_CopyRect8(benchmark::State& state) {
    TAvDIBCanvas back, work;
    back.SetSize(200, 200);
    work.SetSize(200, 200);
    back.CreateHandle();
    work.BeginDraw();
    for (auto _ : state) {
        work.CopyRect(0, 0, 200, 200, 0, 0, back);
        benchmark::ClobberMemory();
    }
    work.EndDraw();
    state.SetItemsProcessed(state.iterations() * 200 * 200);
}
BENCHMARK(BM_CopyRect8);

} // namespace

BENCHMARK_MAIN();
