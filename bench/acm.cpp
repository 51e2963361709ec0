// PCM conversion 44.1 kHz -> 48 kHz stereo 16-bit: through TAvPCMConverter (pulled as a wave
// output pulls, in 4096-byte buffers) next to libswresample called directly on the same data in
// the same chunks of 8192 source bytes. The difference is the chain's overhead.
#include "audio/stream/AvACMCvt.h"
#include "tests/audio/stream/ByteSource.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

constexpr int kInRate = 44100;
constexpr int kOutRate = 48000;
constexpr int kSeconds = 2;
constexpr int kPull = 4096;
constexpr int kSourceChunk = 8192;

std::vector<uint8_t> Signal() {
    std::vector<int16_t> s(static_cast<std::size_t>(kInRate) * kSeconds * 2);
    for (std::size_t i = 0; i < s.size() / 2; ++i) {
        const double t = static_cast<double>(i) / kInRate;
        s[2 * i] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 440 * t));
        s[2 * i + 1] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 660 * t));
    }
    const auto* b = reinterpret_cast<const uint8_t*>(s.data());
    return {b, b + s.size() * 2};
}

WAVEFORMATEX Pcm(DWORD rate) {
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, 16, 2, rate);
    return f;
}

void BM_PcmConverterChain(benchmark::State& state) {
    const auto data = Signal();
    const WAVEFORMATEX in = Pcm(kInRate);
    TByteSource source(&in, data);
    TAvPCMConverter conv(nullptr);
    conv.SetAutoConvert(false);
    conv.SetBitLength(b16Bit);
    conv.SetMode(mStereo);
    conv.SetSampleRate(kOutRate);
    conv.SetInput(&source);
    conv.Opened();
    std::vector<uint8_t> block(AvWaveHdrSize + kPull);
    std::size_t produced = 0;
    for (auto _ : state) {
        source.Rewind();
        conv.Started(); // a fresh run: the streams start over
        produced = 0;
        for (bool more = true; more;) {
            TAvWaveHdr* h = AvInitWaveHdr(block.data(), kPull);
            more = false;
            conv.BufferLoad(h, more);
            produced += h->dwBytesRecorded;
        }
        conv.Stopped();
        benchmark::DoNotOptimize(block.data());
    }
    conv.Closed();
    conv.SetInput(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.size()));
    state.counters["out_bytes"] = static_cast<double>(produced);
}

void BM_SwresampleDirect(benchmark::State& state) {
    const auto data = Signal();
    AVChannelLayout stereo{};
    av_channel_layout_default(&stereo, 2);
    std::vector<uint8_t> out(static_cast<std::size_t>(kSourceChunk) * 2);
    std::size_t produced = 0;
    for (auto _ : state) {
        SwrContext* swr = nullptr;
        swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, kOutRate, &stereo, AV_SAMPLE_FMT_S16,
                            kInRate, 0, nullptr);
        swr_init(swr);
        produced = 0;
        for (std::size_t at = 0; at < data.size(); at += kSourceChunk) {
            const int frames =
                static_cast<int>(std::min<std::size_t>(kSourceChunk, data.size() - at) / 4);
            const uint8_t* inPlanes[1] = {data.data() + at};
            uint8_t* outPlanes[1] = {out.data()};
            const int got =
                swr_convert(swr, outPlanes, static_cast<int>(out.size() / 4), inPlanes, frames);
            produced += static_cast<std::size_t>(got) * 4;
        }
        uint8_t* outPlanes[1] = {out.data()};
        produced += static_cast<std::size_t>(
                        swr_convert(swr, outPlanes, static_cast<int>(out.size() / 4), nullptr, 0)) *
                    4;
        swr_free(&swr);
        benchmark::DoNotOptimize(out.data());
    }
    av_channel_layout_uninit(&stereo);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.size()));
    state.counters["out_bytes"] = static_cast<double>(produced);
}

} // namespace

BENCHMARK(BM_SwresampleDirect)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_PcmConverterChain)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
