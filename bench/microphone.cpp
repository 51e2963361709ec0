// The microphone page's test running as in the wizard (8000 Hz 16-bit stereo, 2000-byte buffers,
// the connector feeding the meter in real time), on the simulated sound system (real-time clock)
// and on the private PulseAudio server (run under tests/with-pulse.sh, as `make bench` does):
// - this whole process's CPU while the test runs, in percent of one core;
// - block lateness at the meter: how long after its due time (the moment its sound was
//   recorded, as the connector reckons it) each 200-byte block reached the meter, median and
//   99th percentile;
// - the same with the loop as first written (every pass reposts itself after a 1 ms sleep), and
//   with the connector switched off, which leaves what the rest of the test costs;
// - on the server: its own CPU while nothing records, while our test records, and while `parec`
//   records the same source at 8 kHz stereo instead; and parec's own CPU, the peer of ours (the
//   test source sends its data in pieces of about 5 ms whoever records it, so every client
//   wakes some 400 times a second for it: the floor of a recorder on this server).
#include "app/AudioInWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "platform/pulse/PulseBackend.h"
#include "platform/sim/SimBackend.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr double kSeconds = 6;

double CpuSeconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The private server's process: the pulseaudio whose command line names the folder of its socket.
pid_t ServerPid() {
    const char* server = std::getenv("PULSE_SERVER");
    if (!server) return -1;
    QString dir = QString::fromLocal8Bit(server);
    dir.remove(QStringLiteral("unix:"));
    dir = dir.section(QLatin1Char('/'), 0, -2);
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const int pid = entry.toInt(&ok);
        if (!ok) continue;
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray cmd = f.readAll();
        if (cmd.startsWith("pulseaudio") && cmd.contains(dir.toLocal8Bit())) return pid;
    }
    return -1;
}

// CPU seconds a process has used so far (utime + stime from /proc).
double ProcessCpu(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    // After the command: state is field 3, utime 14, stime 15.
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Runs the event loop (waiting, not polling) for ms milliseconds.
void RunLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

struct Figures {
    double cpuPercent = 0, lateMedianMs = 0, lateP99Ms = 0, serverPercent = 0;
    size_t blocks = 0;
    bool ok = false;
};

// Arg of the test benchmarks: the loop as it runs, the loop as first written (every pass
// reposts itself after a 1 ms sleep), or recording with the connector switched off (what the
// rest of the test costs: the recorder, the sound system's threads, the page's handler).
enum Mode { kLoop = 0, kPolling = 1, kNoFeeding = 2 };

// The page's test for kSeconds (after half a second to settle).
Figures MicrophoneTest(Mode mode) {
    const bool polling = mode == kPolling;
    Figures out;
    TApplication app;
    app.CreateForm(AudioInForm);
    AudioInForm->Show();
    RunLoop(200);
    RememberedInPos = AudioInForm->AvMixerBlockSlider2->Max() / 2;
    std::vector<double> lateMs;
    bool measuring = false;
    TAvConnector::SetPollingLoop(polling);
    TAvConnector::SetFeedProbe([&](std::int64_t due, std::int64_t at) {
        if (measuring) lateMs.push_back(static_cast<double>(at - due) / 1000.0);
    });
    if (mode == kNoFeeding) AudioInForm->Connector->SetEnabled(false);
    AudioInForm->ButtonTestClick(nullptr);
    if (AudioInForm->AvWaveIn->DeviceStarted()) {
        RunLoop(500);
        const pid_t server = ServerPid();
        rusage before{}, after{};
        const double serverBefore = ProcessCpu(server);
        getrusage(RUSAGE_SELF, &before);
        measuring = true;
        RunLoop(static_cast<int>(kSeconds * 1000));
        measuring = false;
        getrusage(RUSAGE_SELF, &after);
        out.serverPercent = 100 * (ProcessCpu(server) - serverBefore) / kSeconds;
        out.cpuPercent = 100 * (CpuSeconds(after) - CpuSeconds(before)) / kSeconds;
        out.lateMedianMs = Percentile(lateMs, 0.5);
        out.lateP99Ms = Percentile(lateMs, 0.99);
        out.blocks = lateMs.size();
        out.ok = true;
    }
    AudioInForm->ButtonTestClick(nullptr);
    TAvConnector::SetFeedProbe(nullptr);
    TAvConnector::SetPollingLoop(false);
    AudioInForm = nullptr;
    RememberedInPos = 0;
    return out;
}

void Report(benchmark::State& state, const Figures& f, bool server) {
    state.counters["cpu_pct"] = f.cpuPercent;
    state.counters["late_med_ms"] = f.lateMedianMs;
    state.counters["late_p99_ms"] = f.lateP99Ms;
    state.counters["blocks"] = static_cast<double>(f.blocks);
    if (server) state.counters["server_cpu_pct"] = f.serverPercent;
}

void BM_MicrophoneTestSim(benchmark::State& state) {
    auto sim = std::make_unique<SimBackend>();
    sim->StartRealTimeClock();
    ScopedAudioBackend installed(std::move(sim));
    Figures f;
    for (auto _ : state)
        f = MicrophoneTest(static_cast<Mode>(state.range(0)));
    if (!f.ok) return state.SkipWithError("the test did not start");
    Report(state, f, false);
}
BENCHMARK(BM_MicrophoneTestSim)
    ->Arg(kLoop)
    ->Arg(kPolling)
    ->Arg(kNoFeeding)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

bool HaveServer(benchmark::State& state) {
    if (std::getenv("PULSE_SERVER") && ServerPid() > 0) return true;
    state.SkipWithError("no test sound server (run under tests/with-pulse.sh)");
    return false;
}

void BM_MicrophoneTestPulse(benchmark::State& state) {
    if (!HaveServer(state)) return;
    ScopedAudioBackend installed(std::make_unique<PulseBackend>());
    Figures f;
    for (auto _ : state)
        f = MicrophoneTest(static_cast<Mode>(state.range(0)));
    if (!f.ok) return state.SkipWithError("the test did not start");
    Report(state, f, true);
}
BENCHMARK(BM_MicrophoneTestPulse)
    ->Arg(kLoop)
    ->Arg(kPolling)
    ->Arg(kNoFeeding)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// The server's CPU with nothing of ours recording (its test helpers keep playing) and with
// parec recording the test source as our test does: 8000 Hz, 16 bits, stereo.
void BM_ServerCpuWithParec(benchmark::State& state) {
    if (!HaveServer(state)) return;
    const pid_t server = ServerPid();
    double idle = 0, parec = 0, parecOwn = 0;
    for (auto _ : state) {
        double t0 = ProcessCpu(server);
        RunLoop(static_cast<int>(kSeconds * 1000));
        idle = 100 * (ProcessCpu(server) - t0) / kSeconds;
        const char* source = std::getenv("AVSETUP_PULSE_TEST_SOURCE");
        const std::string dev = std::string("--device=") + (source ? source : "avsetup_test_sine");
        const char* argv[] = {"parec",          dev.c_str(), "--rate=8000", "--channels=2",
                              "--format=s16le", "--raw",     nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int rc =
            posix_spawnp(&pid, "parec", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return state.SkipWithError("parec not found");
        RunLoop(500);
        t0 = ProcessCpu(server);
        const double own0 = ProcessCpu(pid);
        RunLoop(static_cast<int>(kSeconds * 1000));
        parec = 100 * (ProcessCpu(server) - t0) / kSeconds;
        parecOwn = 100 * (ProcessCpu(pid) - own0) / kSeconds;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    state.counters["server_idle_cpu_pct"] = idle;
    state.counters["server_cpu_pct"] = parec;
    state.counters["parec_cpu_pct"] = parecOwn;
}
BENCHMARK(BM_ServerCpuWithParec)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
