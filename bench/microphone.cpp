// The microphone page's test running as in the wizard (8000 Hz 16-bit stereo, 2000-byte buffers,
// the connector feeding the meter in real time), on the simulated sound system (real-time clock)
// and on the private PulseAudio server (run under tests/with-pulse.sh, as `make bench` does):
// - this whole process's CPU while the test runs, in percent of one core, and the main thread's
//   share of it (where the meter is fed);
// - block lateness at the meter: how long after its due time (the moment its sound was
//   recorded, as the connector reckons it) each 200-byte block reached the meter, median and
//   99th percentile; the passes of the loop (at most one a display frame) and the meter's pictures;
// - the same with the loop waking for every block at its due time (as it did before passes came
//   once a frame), with the loop as first written (every pass reposts itself after a 1 ms
//   sleep), and with the connector switched off, which leaves what the rest of the test costs;
// - on the server: its own CPU while nothing records, while our test records, and while `parec`
//   records the same source at 8 kHz stereo instead; and parec's own CPU, the peer of ours;
// - the floor of the feeding on this machine: a bare thread that sleeps until each block's due
//   time (160 a second) and does nothing else, its CPU and how late it wakes; and the same on
//   the main thread's event loop, where the meter is fed (a timer file's notifier, as the
//   connector has, and a bare GLib source).
#include "app/AudioInWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "platform/pulse/PulseBackend.h"
#include "platform/sim/SimBackend.h"

#include <benchmark/benchmark.h>
#include <glib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr double kSeconds = 6;

double CpuSeconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The private server's process: the pulseaudio (or PipeWire's pipewire-pulse) whose command line
// names the folder of its socket.
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
        if ((cmd.startsWith("pulseaudio") || cmd.startsWith("pipewire-pulse")) &&
            cmd.contains(dir.toLocal8Bit()))
            return pid;
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

// Context switches so far of this process's threads named name: each is a wake-up (the sound
// library's loop thread wakes once per message from the server).
double ThreadSwitches(const char* name) {
    double n = 0;
    for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name) continue;
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(tid));
        if (!status.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.contains("ctxt_switches:")) n += line.split('\t').last().trimmed().toDouble();
    }
    return n;
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
    double cpuPercent = 0, mainPercent = 0, lateMedianMs = 0, lateP99Ms = 0, serverPercent = 0;
    double loopWakeups = 0; // a second, of the sound library's thread
    size_t blocks = 0, draws = 0, passes = 0;
    bool ok = false;
};

// Arg of the test benchmarks: the loop as it runs, the loop as first written (every pass
// reposts itself after a 1 ms sleep), or recording with the connector switched off (what the
// rest of the test costs: the recorder, the sound system's threads, the page's handler), or the
// loop waking for every block at its due time.
// On the simulated system also: the microphone playing the speaker test's chime, whose level
// changes from block to block as a voice's does, fed once a frame, or a block a wake-up.
enum Mode {
    kLoop = 0,
    kPolling = 1,
    kNoFeeding = 2,
    kChime = 3,
    kChimePerBlock = 4,
    kPerBlock = 5
};

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
    AudioInForm->AvLevel1->OnPaint = [&](TObject*) {
        if (measuring) ++out.draws;
    };
    if (mode == kNoFeeding) AudioInForm->Connector->SetEnabled(false);
    if (mode == kChimePerBlock || mode == kPerBlock) TAvConnector::SetFramePeriod(0);
    AudioInForm->Connector->OnTrigger = [&](TObject*) {
        if (measuring) ++out.passes;
    };
    AudioInForm->ButtonTestClick(nullptr);
    if (AudioInForm->AvWaveIn->DeviceStarted()) {
        RunLoop(500);
        const pid_t server = ServerPid();
        rusage before{}, after{}, mainBefore{}, mainAfter{};
        const double serverBefore = ProcessCpu(server);
        const double wakeupsBefore = ThreadSwitches("threaded-ml");
        getrusage(RUSAGE_SELF, &before);
        getrusage(RUSAGE_THREAD, &mainBefore);
        measuring = true;
        RunLoop(static_cast<int>(kSeconds * 1000));
        measuring = false;
        getrusage(RUSAGE_THREAD, &mainAfter);
        getrusage(RUSAGE_SELF, &after);
        out.serverPercent = 100 * (ProcessCpu(server) - serverBefore) / kSeconds;
        out.loopWakeups = (ThreadSwitches("threaded-ml") - wakeupsBefore) / kSeconds;
        out.cpuPercent = 100 * (CpuSeconds(after) - CpuSeconds(before)) / kSeconds;
        out.mainPercent = 100 * (CpuSeconds(mainAfter) - CpuSeconds(mainBefore)) / kSeconds;
        out.lateMedianMs = Percentile(lateMs, 0.5);
        out.lateP99Ms = Percentile(lateMs, 0.99);
        out.blocks = lateMs.size();
        out.ok = true;
    }
    AudioInForm->ButtonTestClick(nullptr);
    TAvConnector::SetFeedProbe(nullptr);
    TAvConnector::SetPollingLoop(false);
    TAvConnector::SetFramePeriod(TAvConnector::DefaultFramePeriodUs);
    AudioInForm = nullptr;
    RememberedInPos = 0;
    return out;
}

void Report(benchmark::State& state, const Figures& f, bool server) {
    state.counters["cpu_pct"] = f.cpuPercent;
    state.counters["main_cpu_pct"] = f.mainPercent;
    state.counters["late_med_ms"] = f.lateMedianMs;
    state.counters["late_p99_ms"] = f.lateP99Ms;
    state.counters["blocks"] = static_cast<double>(f.blocks);
    state.counters["draws"] = static_cast<double>(f.draws);
    state.counters["passes"] = static_cast<double>(f.passes);
    if (server) state.counters["server_cpu_pct"] = f.serverPercent;
    if (server) state.counters["loop_wakeups_per_s"] = f.loopWakeups;
}

// The default simulated system with every card's microphone playing the chime; a file that
// lives as long as the returned object.
std::unique_ptr<QTemporaryFile> ChimeConfig() {
    QFile in(QStringLiteral(":/avsetup/SimDevices.json"));
    if (!in.open(QIODevice::ReadOnly)) return nullptr;
    QJsonObject root = QJsonDocument::fromJson(in.readAll()).object();
    QJsonArray cards = root.value(QStringLiteral("cards")).toArray();
    const QString chime = QCoreApplication::applicationDirPath() + QStringLiteral("/TestSnd.wav");
    for (auto&& card : cards) {
        QJsonObject c = card.toObject();
        c[QStringLiteral("signal")] = QJsonObject{{QStringLiteral("kind"), QStringLiteral("wave")},
                                                  {QStringLiteral("file"), chime}};
        card = c;
    }
    root[QStringLiteral("cards")] = cards;
    auto out = std::make_unique<QTemporaryFile>();
    if (!out->open()) return nullptr;
    out->write(QJsonDocument(root).toJson());
    out->flush();
    return out;
}

void BM_MicrophoneTestSim(benchmark::State& state) {
    const auto mode = static_cast<Mode>(state.range(0));
    std::unique_ptr<QTemporaryFile> config;
    if (mode == kChime || mode == kChimePerBlock) {
        config = ChimeConfig();
        if (!config) return state.SkipWithError("no chime configuration");
        qputenv("AVSETUP_SIM_CONFIG", config->fileName().toLocal8Bit());
    }
    auto sim = std::make_unique<SimBackend>();
    qunsetenv("AVSETUP_SIM_CONFIG");
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
    ->Arg(kPerBlock)
    ->Arg(kChime)
    ->Arg(kChimePerBlock)
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
    ->Arg(kPerBlock)
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

// A thread that wakes at the meter's pace (6.25 ms) with nothing to do: what a wake-up alone
// costs here, and how late the scheduler lets it run.
void BM_BareSleeper(benchmark::State& state) {
    double cpu = 0;
    std::vector<double> lateMs;
    for (auto _ : state) {
        std::thread t([&] {
            const int n = static_cast<int>(kSeconds * 160);
            lateMs.reserve(static_cast<size_t>(n));
            timespec due{};
            clock_gettime(CLOCK_MONOTONIC, &due);
            rusage before{}, after{};
            getrusage(RUSAGE_THREAD, &before);
            for (int i = 0; i < n; ++i) {
                due.tv_nsec += 6'250'000;
                if (due.tv_nsec >= 1'000'000'000) {
                    due.tv_nsec -= 1'000'000'000;
                    ++due.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                lateMs.push_back(static_cast<double>(now.tv_sec - due.tv_sec) * 1e3 +
                                 static_cast<double>(now.tv_nsec - due.tv_nsec) / 1e6);
            }
            getrusage(RUSAGE_THREAD, &after);
            cpu = 100 * (CpuSeconds(after) - CpuSeconds(before)) / kSeconds;
        });
        t.join();
    }
    state.counters["cpu_pct"] = cpu;
    state.counters["late_med_ms"] = Percentile(lateMs, 0.5);
    state.counters["late_p99_ms"] = Percentile(lateMs, 0.99);
}
BENCHMARK(BM_BareSleeper)->Iterations(1)->Unit(benchmark::kSecond);

// The same pace on the main thread's event loop, as the meter must be fed there (it is a
// widget): a timer file armed for each due time, its notifier doing nothing else. What a
// main-thread wake-up alone costs, the floor of feeding every block on time.
void BM_BareMainLoopWake(benchmark::State& state) {
    double cpu = 0;
    std::vector<double> lateMs;
    for (auto _ : state) {
        const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd < 0) return state.SkipWithError("no timer file");
        const int n = static_cast<int>(kSeconds * 160);
        lateMs.reserve(static_cast<size_t>(n));
        itimerspec arm{};
        clock_gettime(CLOCK_MONOTONIC, &arm.it_value);
        QEventLoop loop;
        QSocketNotifier notifier(fd, QSocketNotifier::Read);
        const auto next = [&] {
            arm.it_value.tv_nsec += 6'250'000;
            if (arm.it_value.tv_nsec >= 1'000'000'000) {
                arm.it_value.tv_nsec -= 1'000'000'000;
                ++arm.it_value.tv_sec;
            }
            timerfd_settime(fd, TFD_TIMER_ABSTIME, &arm, nullptr);
        };
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            std::uint64_t expirations = 0;
            if (read(fd, &expirations, sizeof expirations) < 0) return;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            lateMs.push_back(static_cast<double>(now.tv_sec - arm.it_value.tv_sec) * 1e3 +
                             static_cast<double>(now.tv_nsec - arm.it_value.tv_nsec) / 1e6);
            if (static_cast<int>(lateMs.size()) >= n) return loop.quit();
            next();
        });
        rusage before{}, after{};
        getrusage(RUSAGE_THREAD, &before);
        next();
        loop.exec();
        getrusage(RUSAGE_THREAD, &after);
        cpu = 100 * (CpuSeconds(after) - CpuSeconds(before)) / kSeconds;
        close(fd);
    }
    state.counters["cpu_pct"] = cpu;
    state.counters["late_med_ms"] = Percentile(lateMs, 0.5);
    state.counters["late_p99_ms"] = Percentile(lateMs, 0.99);
}
BENCHMARK(BM_BareMainLoopWake)->Iterations(1)->Unit(benchmark::kSecond);

// The leanest wake-up Qt's main loop has: a GLib source of its own on the main context, ready at
// each due time, dispatched without Qt's events (GLib waits in whole milliseconds, so it wakes
// later than a timer file does).
struct GlibWake {
    GSource source;
    std::vector<double>* late;
    QEventLoop* loop;
    int n;
    gint64 due;
};
gboolean GlibWakeDispatch(GSource* s, GSourceFunc, gpointer) {
    auto* w = reinterpret_cast<GlibWake*>(s);
    const gint64 now = g_get_monotonic_time();
    w->late->push_back(static_cast<double>(now - w->due) / 1000.0);
    if (static_cast<int>(w->late->size()) >= w->n) {
        w->loop->quit();
        return G_SOURCE_REMOVE;
    }
    w->due += 6250;
    g_source_set_ready_time(s, w->due);
    return G_SOURCE_CONTINUE;
}
GSourceFuncs kGlibWakeFuncs = {nullptr, nullptr, GlibWakeDispatch, nullptr, nullptr, nullptr};

void BM_BareGlibWake(benchmark::State& state) {
    double cpu = 0;
    std::vector<double> lateMs;
    for (auto _ : state) {
        QEventLoop loop;
        auto* w = reinterpret_cast<GlibWake*>(g_source_new(&kGlibWakeFuncs, sizeof(GlibWake)));
        w->late = &lateMs;
        w->loop = &loop;
        w->n = static_cast<int>(kSeconds * 160);
        w->due = g_get_monotonic_time() + 6250;
        g_source_set_ready_time(&w->source, w->due);
        g_source_attach(&w->source, nullptr);
        rusage before{}, after{};
        getrusage(RUSAGE_THREAD, &before);
        loop.exec();
        getrusage(RUSAGE_THREAD, &after);
        g_source_destroy(&w->source);
        g_source_unref(&w->source);
        cpu = 100 * (CpuSeconds(after) - CpuSeconds(before)) / kSeconds;
    }
    state.counters["cpu_pct"] = cpu;
    state.counters["late_med_ms"] = Percentile(lateMs, 0.5);
    state.counters["late_p99_ms"] = Percentile(lateMs, 0.99);
}
BENCHMARK(BM_BareGlibWake)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
