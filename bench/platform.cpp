// The simulated sound system's cost per second of CD-quality audio, and the multimedia timer's
// period accuracy.
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"
#include "platform/sim/SimBackend.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

WAVEFORMATEX CdFormat() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = 44100 * 4;
    return f;
}

// Four 100 ms buffers kept queued: each finished one is queued again from the callback.
struct Ring {
    std::vector<std::vector<char>> data;
    std::vector<WAVEHDR> hdrs;
    bool input = false;
    std::size_t done = 0;
    Ring(bool in) : data(4, std::vector<char>(17640)), hdrs(4), input(in) {
        for (std::size_t i = 0; i < 4; ++i) {
            hdrs[i].lpData = data[i].data();
            hdrs[i].dwBufferLength = static_cast<DWORD>(data[i].size());
        }
    }
    static void Proc(HDRVR h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR) {
        auto* self = reinterpret_cast<Ring*>(inst);
        auto* hdr = reinterpret_cast<WAVEHDR*>(p1);
        if (msg == MM_WOM_DONE) {
            ++self->done;
            waveOutWrite(reinterpret_cast<HWAVEOUT>(h), hdr, sizeof(WAVEHDR));
        } else if (msg == MM_WIM_DATA) {
            ++self->done;
            waveInAddBuffer(reinterpret_cast<HWAVEIN>(h), hdr, sizeof(WAVEHDR));
        }
    }
};

void BM_SimWaveOutPerSecondOfAudio(benchmark::State& state) {
    auto sim = std::make_unique<SimBackend>(SimConfig::Default());
    SimBackend* s = sim.get();
    ScopedAudioBackend installed(std::move(sim));
    Ring ring(false);
    const WAVEFORMATEX f = CdFormat();
    HWAVEOUT h = nullptr;
    waveOutOpen(&h, 0, &f, reinterpret_cast<DWORD_PTR>(&Ring::Proc),
                reinterpret_cast<DWORD_PTR>(&ring), CALLBACK_FUNCTION);
    for (auto& hdr : ring.hdrs) {
        waveOutPrepareHeader(h, &hdr, sizeof hdr);
        waveOutWrite(h, &hdr, sizeof hdr);
    }
    for (auto _ : state)
        s->Advance(1000); // one second of audio
    state.counters["buffers"] = static_cast<double>(ring.done);
    waveOutReset(h);
    waveOutClose(h);
}
BENCHMARK(BM_SimWaveOutPerSecondOfAudio)->Unit(benchmark::kMillisecond);

void BM_SimWaveInPerSecondOfAudio(benchmark::State& state) {
    auto sim = std::make_unique<SimBackend>(SimConfig::Default());
    SimBackend* s = sim.get();
    ScopedAudioBackend installed(std::move(sim));
    Ring ring(true);
    const WAVEFORMATEX f = CdFormat();
    HWAVEIN h = nullptr;
    waveInOpen(&h, 0, &f, reinterpret_cast<DWORD_PTR>(&Ring::Proc),
               reinterpret_cast<DWORD_PTR>(&ring), CALLBACK_FUNCTION);
    for (auto& hdr : ring.hdrs) {
        waveInPrepareHeader(h, &hdr, sizeof hdr);
        waveInAddBuffer(h, &hdr, sizeof hdr);
    }
    waveInStart(h);
    for (auto _ : state)
        s->Advance(1000);
    state.counters["buffers"] = static_cast<double>(ring.done);
    waveInReset(h);
    waveInClose(h);
}
BENCHMARK(BM_SimWaveInPerSecondOfAudio)->Unit(benchmark::kMillisecond);

// A 25 ms periodic timer for 10 s: the error of each period against 25 ms, median and worst, and
// how late the last tick comes against its absolute deadline (no drift: as late as any tick).
struct Stamps {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<LONGLONG> t;
    std::size_t want = 0;
    static void Proc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
        auto* self = reinterpret_cast<Stamps*>(user);
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        std::lock_guard g(self->lock);
        self->t.push_back(now.QuadPart);
        if (self->t.size() >= self->want) self->cv.notify_all();
    }
};

void BM_TimerPeriodError25ms(benchmark::State& state) {
    LARGE_INTEGER freq{};
    QueryPerformanceFrequency(&freq);
    double median = 0, worst = 0, drift = 0;
    for (auto _ : state) {
        Stamps s;
        s.want = 400; // 10 s
        LARGE_INTEGER start{};
        QueryPerformanceCounter(&start);
        const UINT id =
            timeSetEvent(25, 0, &Stamps::Proc, reinterpret_cast<DWORD_PTR>(&s), TIME_PERIODIC);
        {
            std::unique_lock g(s.lock);
            s.cv.wait_for(g, std::chrono::seconds(30), [&] { return s.t.size() >= s.want; });
        }
        timeKillEvent(id);
        std::vector<double> errors;
        for (std::size_t i = 1; i < s.t.size(); ++i)
            errors.push_back(
                std::abs((s.t[i] - s.t[i - 1]) * 1000.0 / static_cast<double>(freq.QuadPart) - 25));
        std::sort(errors.begin(), errors.end());
        median = errors.empty() ? 0 : errors[errors.size() / 2];
        worst = errors.empty() ? 0 : errors.back();
        // Lateness of the last tick against its absolute deadline (start + 400 x 25 ms).
        if (!s.t.empty())
            drift = (s.t.back() - start.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart) -
                    25.0 * static_cast<double>(s.t.size());
    }
    state.counters["median_error_ms"] = median;
    state.counters["worst_error_ms"] = worst;
    state.counters["last_tick_late_ms"] = drift;
}
BENCHMARK(BM_TimerPeriodError25ms)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
