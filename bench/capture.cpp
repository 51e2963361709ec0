// The capture graph on the simulated camera, next to gst-launch-1.0 in the same run:
// - start-up: from Active := true (then choosing 176 x 144, rendering the preview and running, as
//   the camera page does) to the first frame at the renderer;
// - CPU per second of a running 176 x 144, 30 fps graph into a null renderer, against
//   gst-launch-1.0 running the same pipeline (its CPU from getrusage of the child);
// - CPU per second of the camera page's preview in its window (a 176 x 144 picture, a 640 x 480
//   one scaled down, and the window enlarged to 640 x 480), against gst-launch-1.0 showing the
//   same source in an X window of the same size. Both windows are real ones on one X display (a
//   private Xvfb with openbox when none is set); the X server's own work is counted for neither;
// - what a test/stop cycle of the camera page leaves behind (descriptors, resident memory).
#include "app/VideoWizard.h"
#include "platform/dshow/VideoBackend.h"
#include "video/Capkit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;
constexpr double kSeconds = 5;

// A graph client whose filter is made from a class id.
class Client : public TNonVisualComponent, public IFilter {
public:
    Client(TFilterGraph* graph, const CLSID& clsid, const QString& name)
        : TNonVisualComponent(nullptr), FGraph(graph), FClsid(clsid) {
        SetName(name);
        FGraph->InsertFilter(this);
    }
    ~Client() override { FGraph->RemoveFilter(this); }
    ComPtr<IBaseFilter> GetFilter() override { return FFilter; }
    QString GetName() override { return Name(); }
    void NotifyFilter(TFilterOperation op, int) override {
        if (op == foAdding) {
            CoCreateInstance(FClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(FFilter));
            if (auto sink = FFilter.As<IAvVideoFrameSink>()) sink->SetFrameCallback(&OnFrame, this);
        } else if (op == foRemoved) {
            if (auto sink = FFilter.As<IAvVideoFrameSink>())
                sink->SetFrameCallback(nullptr, nullptr);
            FFilter.Reset();
        }
    }
    std::atomic<Clock::time_point> firstFrame{Clock::time_point{}};

private:
    static void OnFrame(void* self, const AvVideoFrame&) {
        auto* c = static_cast<Client*>(self);
        Clock::time_point none{};
        c->firstFrame.compare_exchange_strong(none, Clock::now());
    }
    TFilterGraph* FGraph;
    CLSID FClsid;
    ComPtr<IBaseFilter> FFilter;
};

// The camera page's steps after activation: the first 176-wide format, then the preview.
void BuildPreview(TFilterGraph& graph, TFilter& source, IBaseFilter* renderer) {
    ComPtr<IBaseFilter> capture = source.Get<IBaseFilter>();
    TPinList pins(capture.Get());
    TEnumMediaType types(pins.First().Get());
    for (int i = 0; i < types.Count(); ++i) {
        const VIDEOINFOHEADER* vih = types.Items(i)->VideoInfo();
        if (vih && vih->bmiHeader.biWidth == 176) {
            pins.First().As<IAMStreamConfig>()->SetFormat(types.Items(i)->AMMediaType());
            break;
        }
    }
    graph.Get<ICaptureGraphBuilder2>()->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, capture.Get(),
                                                     nullptr, renderer);
}

void SelectFirstCamera(TFilter& source) {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    source.BaseFilter()->SetMoniker(devices.GetMoniker(0).Get());
}

double CpuSeconds(const rusage& r) {
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

void BM_ActiveToFirstFrame(benchmark::State& state) {
    ScopedVideoBackend scope(CreateSimVideoBackend());
    TFilterGraph graph(nullptr);
    graph.SetMode(gmCapture);
    TFilter source(nullptr);
    source.SetName(QStringLiteral("VideoSourceFilter"));
    source.SetFilterGraph(&graph);
    Client renderer(&graph, CLSID_VideoRenderer, QStringLiteral("Renderer"));
    SelectFirstCamera(source);
    for (auto _ : state) {
        renderer.firstFrame = Clock::time_point{};
        const auto t0 = Clock::now();
        graph.SetActive(true);
        BuildPreview(graph, source, renderer.GetFilter().Get());
        graph.Play();
        while (renderer.firstFrame.load() == Clock::time_point{} &&
               Clock::now() - t0 < std::chrono::seconds(10))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const auto first = renderer.firstFrame.load();
        if (first == Clock::time_point{}) return state.SkipWithError("no frame within 10 s");
        state.SetIterationTime(std::chrono::duration<double>(first - t0).count());
        graph.ClearGraph();
        graph.SetActive(false);
    }
}
BENCHMARK(BM_ActiveToFirstFrame)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_RunningGraphCpu(benchmark::State& state) {
    ScopedVideoBackend scope(CreateSimVideoBackend());
    TFilterGraph graph(nullptr);
    graph.SetMode(gmCapture);
    TFilter source(nullptr);
    source.SetName(QStringLiteral("VideoSourceFilter"));
    source.SetFilterGraph(&graph);
    Client sink(&graph, CLSID_NullRenderer, QStringLiteral("Null Renderer"));
    SelectFirstCamera(source);
    double cpuPerSecond = 0;
    for (auto _ : state) {
        graph.SetActive(true);
        BuildPreview(graph, source, sink.GetFilter().Get());
        graph.Play();
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        // Checked ten times a second: the waiting must not weigh on the measurement.
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < std::chrono::duration<double>(kSeconds)) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        getrusage(RUSAGE_SELF, &after);
        cpuPerSecond = (CpuSeconds(after) - CpuSeconds(before)) / kSeconds;
        graph.ClearGraph();
        graph.SetActive(false);
    }
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1000;
}
BENCHMARK(BM_RunningGraphCpu)->Iterations(1)->Unit(benchmark::kSecond);

// CPU seconds of gst-launch-1.0 running a pipeline (after the program name) for the given time;
// < 0 when it is missing.
double GstLaunchCpu(std::vector<const char*> argv, double seconds) {
    argv.insert(argv.begin(), {"gst-launch-1.0", "-q"});
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ) !=
        0)
        return -1;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    kill(pid, SIGINT);
    int status = 0;
    rusage child{};
    wait4(pid, &status, 0, &child);
    return CpuSeconds(child);
}

// Its running cost per second: start-up (loading plugins) is taken off with a short run's CPU.
double GstLaunchCpuPerSecond(const std::vector<const char*>& pipeline) {
    const double shortRun = GstLaunchCpu(pipeline, 1);
    const double longRun = GstLaunchCpu(pipeline, 1 + kSeconds);
    if (shortRun < 0 || longRun < 0) return -1;
    return std::max(0.0, longRun - shortRun) / kSeconds;
}

void BM_RunningGraphCpuGstLaunch(benchmark::State& state) {
    double cpuPerSecond = 0;
    for (auto _ : state) {
        cpuPerSecond =
            GstLaunchCpuPerSecond({"videotestsrc", "is-live=true", "pattern=ball", "!",
                                   "video/x-raw,format=YUY2,width=176,height=144,framerate=30/1",
                                   "!", "fakesink", "sync=true"});
        if (cpuPerSecond < 0) return state.SkipWithError("gst-launch-1.0 not found");
    }
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1000;
}
BENCHMARK(BM_RunningGraphCpuGstLaunch)->Iterations(1)->Unit(benchmark::kSecond);
// The cameras of the preview cases: the default ones, or one that offers 640 x 480 only (its
// picture scaled down into the window).
std::vector<SimCameraConfig> PreviewCameras(int kind) {
    if (kind != 1) return DefaultSimCameras();
    SimCameraConfig vga;
    vga.name = "VGA Camera";
    vga.pattern = "smpte";
    vga.formats.push_back({MEDIASUBTYPE_YUY2, 640, 480, 30, 1});
    return {vga};
}

// The camera page's running preview (30 fps) in its window, for 5 s: 0 a 176 x 144 picture in
// the 176 x 144 window; 1 a 640 x 480 picture scaled down into it; 2 the 176 x 144 picture in
// the window enlarged to 640 x 480.
void BM_CameraPagePreviewCpu(benchmark::State& state) {
    const int kind = int(state.range(0));
    ScopedVideoBackend scope(std::make_shared<SimVideoBackend>(PreviewCameras(kind)));
    double cpuPerSecond = 0;
    for (auto _ : state) {
        TApplication app;
        Application->CreateForm(VideoForm);
        VideoForm->Show();
        if (kind == 2) {
            // The page widened so that none of its other controls lies over the enlarged window
            // (they would be repainted with every frame).
            VideoForm->SetBounds(VideoForm->Left(), VideoForm->Top(), 960, 560);
            for (TControl* c : {static_cast<TControl*>(VideoForm->ButtonTest),
                                static_cast<TControl*>(VideoForm->Label1),
                                static_cast<TControl*>(VideoForm->ButtonVideoSet)})
                c->SetLeft(c->Left() + 480);
            VideoForm->DSVideoWindowEx21->SetBounds(8, 64, 640, 480);
        }
        VideoForm->ButtonTest->Click();
        // Settled first (the graph started, the window mapped), then the program's own event
        // loop for the measured time, as the wizard runs it.
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        QTimer::singleShot(int(kSeconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        getrusage(RUSAGE_SELF, &after);
        cpuPerSecond = (CpuSeconds(after) - CpuSeconds(before)) / kSeconds;
        VideoForm->ButtonTest->Click();
        VideoForm = nullptr;
    }
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1000;
    state.SetLabel(QGuiApplication::platformName().toStdString()); // xcb: a real window
}
BENCHMARK(BM_CameraPagePreviewCpu)
    ->ArgName("case")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// gst-launch-1.0 showing the same test picture in a real window on the same display
// (ximagesink), in the same three cases.
void BM_PreviewCpuGstLaunch(benchmark::State& state) {
    double cpuPerSecond = 0;
    const int kind = int(state.range(0));
    for (auto _ : state) {
        std::vector<const char*> pipeline{"videotestsrc", "is-live=true", "pattern=smpte",
                                          "horizontal-speed=2", "!"};
        pipeline.push_back(kind == 1
                               ? "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
                               : "video/x-raw,format=YUY2,width=176,height=144,framerate=30/1");
        pipeline.insert(pipeline.end(), {"!", "videoconvert"});
        if (kind == 1)
            pipeline.insert(pipeline.end(),
                            {"!", "videoscale", "!", "video/x-raw,width=176,height=132"});
        if (kind == 2)
            pipeline.insert(pipeline.end(),
                            {"!", "videoscale", "!", "video/x-raw,width=640,height=480"});
        pipeline.insert(pipeline.end(), {"!", "ximagesink", "sync=true"});
        cpuPerSecond = GstLaunchCpuPerSecond(pipeline);
        if (cpuPerSecond < 0) return state.SkipWithError("gst-launch-1.0 not found");
    }
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1000;
}
BENCHMARK(BM_PreviewCpuGstLaunch)
    ->ArgName("case")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Test/stop cycles of the camera page: what each cycle leaves behind (file descriptors and
// resident memory), after a first cycle has loaded what stays loaded.
void BM_CameraPageTestStopCycles(benchmark::State& state) {
    ScopedVideoBackend scope(std::make_shared<SimVideoBackend>(DefaultSimCameras()));
    auto files = [] {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    };
    auto rssKb = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return 0L;
    };
    TApplication app;
    Application->CreateForm(VideoForm);
    VideoForm->Show();
    auto cycle = [] {
        VideoForm->ButtonTest->Click();
        const auto t0 = Clock::now();
        while (VideoForm->DSVideoWindowEx21->NativeSize().isEmpty() &&
               Clock::now() - t0 < std::chrono::seconds(10))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        VideoForm->ButtonTest->Click();
        QCoreApplication::processEvents();
    };
    cycle();
    const int files0 = files();
    const long rss0 = rssKb();
    int cycles = 0;
    for (auto _ : state) {
        cycle();
        ++cycles;
    }
    state.counters["fds_per_cycle"] = double(files() - files0) / cycles;
    state.counters["rss_kb_per_cycle"] = double(rssKb() - rss0) / cycles;
    VideoForm = nullptr;
}
BENCHMARK(BM_CameraPageTestStopCycles)->Iterations(50)->Unit(benchmark::kMillisecond);

// A window manager on the benchmark's own display, as on a desktop (openbox, when installed).
pid_t StartWindowManager() {
    const char* argv[] = {"openbox", nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    return pid;
}

// A virtual X display for both windows, ours and gst-launch's, unless there is a display already.
// Returns Xvfb's process id, or -1 (none started).
pid_t StartXvfb() {
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) return -1;
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen", "0",
                          "1024x768x24", "-nolisten",  "tcp",      nullptr};
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const int spawned =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return -1;
    }
    // Xvfb writes its display number when it is ready for clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty()) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    qputenv("DISPLAY", QByteArray(":") + QByteArray::fromStdString(number));
    return pid;
}
} // namespace

int main(int argc, char** argv) {
    // The preview is measured in real windows (ours and the peer's) on an X display.
    const pid_t xvfb = StartXvfb();
    const pid_t wm = xvfb > 0 ? StartWindowManager() : -1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    {
        QApplication qtApp(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    if (wm > 0) {
        kill(wm, SIGTERM);
        waitpid(wm, nullptr, 0);
    }
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return 0;
}
