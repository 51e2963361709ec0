// Framework costs: message-window delivery, Synchronize round trips, settings file access,
// docking a page.
#include "framework/Forms.h"
#include "framework/IniFiles.h"
#include "framework/MessageWindow.h"
#include "framework/StdCtrls.h"
#include "framework/Threads.h"

#include <QApplication>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <thread>

// Post and deliver a batch on the main thread: the per-message cost of the hidden window.
static void BM_MessageWindowPostDeliver(benchmark::State& state) {
    const int batch = static_cast<int>(state.range(0));
    int delivered = 0;
    TMessageWindow window([&](TMessage&) { ++delivered; });
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            PostMessage(window.Handle(), WM_USER, 0, i);
        QCoreApplication::sendPostedEvents(&window);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    benchmark::DoNotOptimize(delivered);
}
BENCHMARK(BM_MessageWindowPostDeliver)->Arg(1)->Arg(64)->Arg(1024);

// A worker posts, the main thread delivers: messages per second across threads.
static void BM_MessageWindowCrossThread(benchmark::State& state) {
    std::atomic<int> delivered{0};
    TMessageWindow window([&](TMessage&) { delivered.fetch_add(1, std::memory_order_relaxed); });
    const int batch = 1000;
    for (auto _ : state) {
        delivered = 0;
        std::thread producer([&] {
            for (int i = 0; i < batch; ++i)
                PostMessage(window.Handle(), WM_USER, 0, i);
        });
        while (delivered.load() < batch)
            QCoreApplication::sendPostedEvents(&window);
        producer.join();
    }
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_MessageWindowCrossThread)->UseRealTime();

// One Synchronize from a worker while the main thread waits in WaitFor.
static void BM_SynchronizeRoundTrip(benchmark::State& state) {
    struct TWorker : TThread {
        int N = 0, Done = 0;
        void Execute() override {
            for (int i = 0; i < N; ++i)
                Synchronize([this] { ++Done; });
        }
    };
    for (auto _ : state) {
        TWorker w;
        w.N = 1000;
        w.Start();
        w.WaitFor();
        benchmark::DoNotOptimize(w.Done);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_SynchronizeRoundTrip)->UseRealTime();

// The settings file as the wizard uses it: five reads, five writes.
static void BM_IniFileLoadSave(benchmark::State& state) {
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("AudioVideo.ini"));
    for (auto _ : state) {
        for (const char* key : {"DeviceIn", "DeviceInPos", "DeviceOut", "DeviceOutPos"})
            benchmark::DoNotOptimize(ini.ReadInteger("Audio", key, 0));
        benchmark::DoNotOptimize(ini.ReadInteger("Video", "Device", 0));
        for (const char* key : {"DeviceIn", "DeviceInPos", "DeviceOut", "DeviceOutPos"})
            ini.WriteInteger("Audio", key, 50);
        ini.WriteInteger("Video", "Device", 0);
    }
}
BENCHMARK(BM_IniFileLoadSave);

// Docking a page with twenty controls into a panel and taking it out again.
static void BM_DockPage(benchmark::State& state) {
    TForm host(nullptr);
    host.SetBounds(0, 0, 524, 375);
    auto* area = new TWinControl(&host);
    area->SetParent(&host);
    area->SetBounds(164, 0, 360, 333);
    TForm page(nullptr);
    page.SetBorderStyle(bsNone);
    page.SetBounds(0, 0, 828, 464);
    for (int i = 0; i < 20; ++i) {
        auto* b = new TButton(&page);
        b->SetParent(&page);
        b->SetBounds(10, 10 + i * 20, 75, 25);
    }
    for (auto _ : state) {
        page.SetParent(area);
        page.SetAlign(alClient);
        page.Show();
        page.Hide();
        page.SetAlign(alNone);
        page.SetParent(nullptr);
    }
}
BENCHMARK(BM_DockPage);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
