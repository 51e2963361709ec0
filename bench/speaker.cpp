// The speaker page's test sound as the wizard plays it ("播放声音": TestSnd.wav in a loop,
// 2048-byte buffers, 10 of them, refilled on the main thread), on the private PulseAudio server
// (run under tests/with-pulse.sh, as `make bench` does): this whole process's CPU while it plays,
// in percent of one core, over 6 s of playing.
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "platform/pulse/PulseBackend.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <memory>

namespace {

constexpr double kSeconds = 6;

double CpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop (waiting, not polling) for ms milliseconds.
void RunLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_SpeakerTestCpu(benchmark::State& state) {
    if (!std::getenv("PULSE_SERVER")) {
        state.SkipWithError("no test sound server (run under tests/with-pulse.sh)");
        return;
    }
    auto backend = std::make_unique<PulseBackend>();
    if (!backend->Connected()) {
        state.SkipWithError("the test sound server does not answer");
        return;
    }
    ScopedAudioBackend installed(std::move(backend));
    auto app = std::make_unique<TApplication>();
    app->CreateForm(AudioOutForm);
    RememberedOutPos = 50;
    double percent = 0;
    for (auto _ : state) {
        AudioOutForm->ButtonTestClick(AudioOutForm->ButtonTest);
        RunLoop(500); // past the start
        const double cpu0 = CpuSeconds();
        RunLoop(static_cast<int>(kSeconds * 1000));
        percent = (CpuSeconds() - cpu0) / kSeconds * 100;
        AudioOutForm->ButtonTestClick(AudioOutForm->ButtonTest);
    }
    state.counters["cpu_percent_of_core"] = percent;
    app.reset();
    AudioOutForm = nullptr;
}
BENCHMARK(BM_SpeakerTestCpu)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
