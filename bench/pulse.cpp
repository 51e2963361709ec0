// The PulseAudio backend on a real server (run under tests/with-pulse.sh), next to paplay in the
// same run:
// - click latency: from waveOutWrite (or from starting paplay) of a click to the click coming out
//   of the sink's monitor, median of 20;
// - CPU per second of playback: this process playing a WAVE file the way the wizard does (10
//   buffers of 2048 bytes, refilled as they come back), against paplay playing the same file
//   (its CPU from getrusage of the child); and the wizard's own chain, TAvWaveFile -> TAvWaveOut
//   with its settings (10 x 2048-byte buffers, cmWindow, buffers handled in the Qt event loop),
//   playing the same file (PlaybackCpuChain).
#include "audio/stream/AvWavOut.h"
#include "audio/stream/AvWave.h"
#include "platform/api/mmsystem.h"
#include "platform/pulse/PulseBackend.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kRate = 44100;

WAVEFORMATEX Pcm(DWORD rate, WORD channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = static_cast<WORD>(channels * 2);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

std::string Sink() {
    const char* s = std::getenv("AVSETUP_PULSE_TEST_SINK");
    return s ? s : "avsetup_test_sink";
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (Clock::now() >= deadline) return cond();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, WORD channels) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    const DWORD data = static_cast<DWORD>(samples.size() * 2);
    const WAVEFORMATEX fmt = Pcm(kRate, channels);
    const DWORD riff = 4 + 8 + 16 + 8 + data;
    const DWORD fmtSize = 16;
    std::fwrite("RIFF", 1, 4, f);
    std::fwrite(&riff, 4, 1, f);
    std::fwrite("WAVEfmt ", 1, 8, f);
    std::fwrite(&fmtSize, 4, 1, f);
    std::fwrite(&fmt, 16, 1, f);
    std::fwrite("data", 1, 4, f);
    std::fwrite(&data, 4, 1, f);
    std::fwrite(samples.data(), 2, samples.size(), f);
    std::fclose(f);
}

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// Records the sink's monitor continuously and tells when (on the steady clock) a click came out:
// the delivery time of the chunk holding it, less the samples after it in that chunk.
class MonitorWatch : public IWaveEvents {
public:
    bool Open(PulseBackend& backend) {
        for (int i = 0; i < 16; ++i)
            ring_.push_back(std::vector<char>(441 * 2)); // 10 ms each
        hdrs_.resize(ring_.size());
        if (backend.OpenWaveInByName(Sink() + ".monitor", Pcm(kRate, 1), this, &stream_))
            return false;
        for (std::size_t i = 0; i < ring_.size(); ++i) {
            hdrs_[i].lpData = ring_[i].data();
            hdrs_[i].dwBufferLength = static_cast<DWORD>(ring_[i].size());
            stream_->AddBuffer(&hdrs_[i]);
        }
        return stream_->Start() == MMSYSERR_NOERROR;
    }
    void Close() {
        stopping_ = true;
        if (stream_) {
            stream_->Reset();
            stream_->Close();
        }
    }
    void BufferDone(WAVEHDR* h) override {
        const auto now = Clock::now();
        const auto* s = reinterpret_cast<const std::int16_t*>(h->lpData);
        const std::size_t n = h->dwBytesRecorded / 2;
        {
            std::lock_guard g(lock_);
            for (std::size_t i = 0; i < n; ++i)
                if (armed_ && std::abs(s[i]) > 10000) {
                    armed_ = false;
                    heard_ = now - std::chrono::microseconds((n - i) * 1000000 / kRate);
                    break;
                }
        }
        h->dwBytesRecorded = 0;
        if (!stopping_) stream_->AddBuffer(h);
    }
    void Arm() {
        std::lock_guard g(lock_);
        armed_ = true;
    }
    bool Heard(Clock::time_point* at) {
        std::lock_guard g(lock_);
        if (armed_) return false;
        *at = heard_;
        return true;
    }

private:
    std::vector<std::vector<char>> ring_;
    std::vector<WAVEHDR> hdrs_;
    std::unique_ptr<IWaveInStream> stream_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    bool armed_ = false;
    Clock::time_point heard_;
};

// The click comes kLeadMs into the buffer: a stream that starts lets the server take back what
// the sink had mixed ahead, which the monitor has already delivered, so the first milliseconds of
// a stream never show up there (they do at the sink). The lead is taken off the measurement.
constexpr int kLeadMs = 50;
std::vector<std::int16_t> Click() {
    std::vector<std::int16_t> c(kRate * (kLeadMs + 20) / 1000, 0);
    for (int i = 0; i < 20; ++i)
        c[kRate * kLeadMs / 1000 + i] = 30000;
    return c;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool HaveServer(benchmark::State& state) {
    if (std::getenv("PULSE_SERVER")) return true;
    state.SkipWithError("no test sound server (run under tests/with-pulse.sh)");
    return false;
}

void BM_ClickLatencyWaveOut(benchmark::State& state) {
    if (!HaveServer(state)) return;
    auto owned = std::make_unique<PulseBackend>();
    PulseBackend* backend = owned.get();
    ScopedAudioBackend installed(std::move(owned));
    MonitorWatch watch;
    if (!watch.Open(*backend)) return state.SkipWithError("cannot record the monitor");
    UINT id = 0;
    const auto sinks = backend->Context().Sinks();
    for (UINT i = 0; i < sinks.size(); ++i)
        if (sinks[i].name == Sink()) id = i;
    const WAVEFORMATEX f = Pcm(kRate, 1);
    HWAVEOUT out = nullptr;
    struct DoneAt {
        std::atomic<Clock::rep> at{0};
        static void Proc(HDRVR, UINT msg, DWORD_PTR self, DWORD_PTR, DWORD_PTR) {
            if (msg == MM_WOM_DONE)
                reinterpret_cast<DoneAt*>(self)->at = Clock::now().time_since_epoch().count();
        }
    } done;
    if (waveOutOpen(&out, id, &f, reinterpret_cast<DWORD_PTR>(&DoneAt::Proc),
                    reinterpret_cast<DWORD_PTR>(&done), CALLBACK_FUNCTION))
        return state.SkipWithError("cannot open the sink");
    auto click = Click();
    const double clickMs = 1000.0 * static_cast<double>(click.size()) / kRate;
    std::vector<double> ms, doneLag;
    for (auto _ : state) {
        WAVEHDR h{};
        h.lpData = reinterpret_cast<LPSTR>(click.data());
        h.dwBufferLength = static_cast<DWORD>(click.size() * 2);
        waveOutPrepareHeader(out, &h, sizeof h);
        watch.Arm();
        done.at = 0;
        const auto t0 = Clock::now();
        waveOutWrite(out, &h, sizeof h);
        Clock::time_point heard;
        if (!WaitUntil([&] { return watch.Heard(&heard); }, 3000)) {
            state.SkipWithError("click not heard");
            break;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(heard - t0).count() - kLeadMs);
        WaitUntil([&] { return h.dwFlags & WHDR_DONE; }, 3000);
        // How long after the buffer's own length its MM_WOM_DONE came.
        const Clock::time_point doneAt{Clock::duration{done.at.load()}};
        doneLag.push_back(std::chrono::duration<double, std::milli>(doneAt - t0).count() - clickMs);
        waveOutUnprepareHeader(out, &h, sizeof h);
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let the click die away
    }
    state.counters["median_ms"] = Median(ms);
    state.counters["done_lag_ms"] = Median(doneLag);
    waveOutReset(out);
    waveOutClose(out);
    watch.Close();
}
BENCHMARK(BM_ClickLatencyWaveOut)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_ClickLatencyPaplay(benchmark::State& state) {
    if (!HaveServer(state)) return;
    auto owned = std::make_unique<PulseBackend>();
    PulseBackend* backend = owned.get();
    ScopedAudioBackend installed(std::move(owned));
    MonitorWatch watch;
    if (!watch.Open(*backend)) return state.SkipWithError("cannot record the monitor");
    const std::string file = "/tmp/avsetup-bench-click-" + std::to_string(getpid()) + ".wav";
    WriteWav(file, Click(), 1);
    std::vector<double> ms;
    for (auto _ : state) {
        watch.Arm();
        const auto t0 = Clock::now();
        const pid_t pid = Spawn({"paplay", "-d", Sink(), file});
        if (pid < 0) {
            state.SkipWithError("paplay not found");
            break;
        }
        Clock::time_point heard;
        const bool ok = WaitUntil([&] { return watch.Heard(&heard); }, 3000);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!ok) {
            state.SkipWithError("click not heard");
            break;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(heard - t0).count() - kLeadMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    state.counters["median_ms"] = Median(ms);
    std::remove(file.c_str());
    watch.Close();
}
BENCHMARK(BM_ClickLatencyPaplay)->Iterations(20)->Unit(benchmark::kMillisecond);

// 5 s of a stereo tone, the test sound's kind of content.
std::vector<std::int16_t> Tone(double seconds) {
    std::vector<std::int16_t> v(static_cast<std::size_t>(seconds * kRate) * 2);
    for (std::size_t i = 0; i < v.size() / 2; ++i) {
        const auto s = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * i / kRate));
        v[2 * i] = v[2 * i + 1] = s;
    }
    return v;
}

// The figures of this run, for the ratios against paplay (the benchmarks run in this order).
double g_waveOutCpu = 0, g_chainCpu = 0;

// Context switches of the process (a thread's wake-up is one): what the CPU figure follows.
double Switches(const rusage& a, const rusage& b) {
    return double((b.ru_nvcsw + b.ru_nivcsw) - (a.ru_nvcsw + a.ru_nivcsw));
}

double CpuSeconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The wizard's player: buffers refilled from the done callback, on the backend's thread.
struct Player {
    std::vector<std::int16_t> pcm;
    std::size_t next = 0; // byte offset of the next refill
    HWAVEOUT out = nullptr;
    std::vector<WAVEHDR> hdrs = std::vector<WAVEHDR>(10);
    std::atomic<int> outstanding{0};

    bool Fill(WAVEHDR* h) {
        const std::size_t bytes = pcm.size() * 2;
        if (next >= bytes) return false;
        h->lpData = reinterpret_cast<LPSTR>(pcm.data()) + next;
        h->dwBufferLength = static_cast<DWORD>(std::min<std::size_t>(2048, bytes - next));
        next += h->dwBufferLength;
        ++outstanding;
        return waveOutWrite(out, h, sizeof *h) == MMSYSERR_NOERROR;
    }
    static void Done(HDRVR, UINT msg, DWORD_PTR self, DWORD_PTR hdr, DWORD_PTR) {
        if (msg != MM_WOM_DONE) return;
        auto* p = reinterpret_cast<Player*>(self);
        --p->outstanding;
        p->Fill(reinterpret_cast<WAVEHDR*>(hdr));
    }
};

void BM_PlaybackCpuWaveOut(benchmark::State& state) {
    if (!HaveServer(state)) return;
    ScopedAudioBackend installed(std::make_unique<PulseBackend>());
    const double seconds = 5;
    double cpuPerSecond = 0;
    for (auto _ : state) {
        Player p;
        p.pcm = Tone(seconds);
        const WAVEFORMATEX f = Pcm(kRate, 2);
        if (waveOutOpen(&p.out, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&Player::Done),
                        reinterpret_cast<DWORD_PTR>(&p), CALLBACK_FUNCTION))
            return state.SkipWithError("cannot open the default sink");
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto t0 = Clock::now();
        for (auto& h : p.hdrs) {
            waveOutPrepareHeader(p.out, &h, sizeof h);
            p.Fill(&h);
        }
        // Checked ten times a second: the waiting thread must not weigh on the measurement.
        const auto deadline = t0 + std::chrono::duration<double>(seconds + 3);
        while (p.outstanding > 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        getrusage(RUSAGE_SELF, &after);
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        cpuPerSecond = (CpuSeconds(after) - CpuSeconds(before)) / seconds;
        state.counters["wall_s"] = wall;
        state.counters["switches_per_s"] = Switches(before, after) / seconds;
        waveOutClose(p.out);
    }
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1000;
    g_waveOutCpu = cpuPerSecond;
}
BENCHMARK(BM_PlaybackCpuWaveOut)->Iterations(1)->Unit(benchmark::kSecond);

// The index of the test sink among the wave outputs (the wizard picks a device by index).
int SinkIndex(PulseBackend& backend) {
    const auto sinks = backend.Context().Sinks();
    for (std::size_t i = 0; i < sinks.size(); ++i)
        if (sinks[i].name == Sink()) return static_cast<int>(i);
    return -1;
}

void BM_PlaybackCpuChain(benchmark::State& state) {
    if (!HaveServer(state)) return;
    // The buffers come back through the hidden window: a Qt event loop is needed, as in the wizard.
    static int argc = 1;
    static char name[] = "bench_pulse";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    auto owned = std::make_unique<PulseBackend>();
    PulseBackend* backend = owned.get();
    ScopedAudioBackend installed(std::move(owned));
    const int device = SinkIndex(*backend);
    if (device < 0) return state.SkipWithError("no test sink");
    const double seconds = 5;
    const std::string file = "/tmp/avsetup-bench-chain-" + std::to_string(getpid()) + ".wav";
    WriteWav(file, Tone(seconds), 2);
    double cpuPerSecond = 0;
    for (auto _ : state) {
        TAvComponent form(nullptr);
        auto* wave = new TAvWaveFile(&form);
        wave->Wave()->SetFileName(QString::fromStdString(file));
        auto* out = new TAvWaveOut(&form);
        out->SetInput(wave);
        out->SetDeviceID(device);
        out->SetBufferSize(2048);
        out->SetNumBuffers(10);
        out->SetCallBackMode(cmWindow);
        QEventLoop loop;
        out->OnStop = [&](TObject*) { loop.quit(); };
        QTimer::singleShot(static_cast<int>((seconds + 3) * 1000), &loop, &QEventLoop::quit);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto t0 = Clock::now();
        out->Start();
        rusage started{};
        getrusage(RUSAGE_SELF, &started);
        state.counters["start_ms"] = (CpuSeconds(started) - CpuSeconds(before)) * 1000;
        loop.exec();
        getrusage(RUSAGE_SELF, &after);
        state.counters["wall_s"] = std::chrono::duration<double>(Clock::now() - t0).count();
        cpuPerSecond = (CpuSeconds(after) - CpuSeconds(before)) / seconds;
        state.counters["switches_per_s"] = Switches(before, after) / seconds;
        out->Close();
    }
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1000;
    g_chainCpu = cpuPerSecond;
    std::remove(file.c_str());
}
BENCHMARK(BM_PlaybackCpuChain)->Iterations(1)->Unit(benchmark::kSecond);

void BM_PlaybackCpuPaplay(benchmark::State& state) {
    if (!HaveServer(state)) return;
    const double seconds = 5;
    const std::string file = "/tmp/avsetup-bench-tone-" + std::to_string(getpid()) + ".wav";
    WriteWav(file, Tone(seconds), 2);
    double cpuPerSecond = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const pid_t pid = Spawn({"paplay", "-d", Sink(), file});
        if (pid < 0) return state.SkipWithError("paplay not found");
        int status = 0;
        rusage child{};
        wait4(pid, &status, 0, &child);
        state.counters["wall_s"] = std::chrono::duration<double>(Clock::now() - t0).count();
        cpuPerSecond = CpuSeconds(child) / seconds;
        state.counters["switches_per_s"] = double(child.ru_nvcsw + child.ru_nivcsw) / seconds;
    }
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1000;
    // Ours against paplay, measured in this run (0: that benchmark was not run).
    if (cpuPerSecond > 0) {
        state.counters["chain_vs_paplay"] = g_chainCpu / cpuPerSecond;
        state.counters["waveout_vs_paplay"] = g_waveOutCpu / cpuPerSecond;
    }
    std::remove(file.c_str());
}
BENCHMARK(BM_PlaybackCpuPaplay)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
