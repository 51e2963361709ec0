#pragma once
// Shared pieces of the capture tests: waiting on a condition while the main thread delivers its
// messages, a graph client that renders into a frame counter, and a GStreamer device provider of
// test cameras so the real backend's device monitor has something to find without hardware.
#include "platform/dshow/VideoBackend.h"
#include "video/Capkit.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Runs the main thread's messages until pred holds or maxMs pass (generous: the machine is busy).
inline bool WaitFor(const std::function<bool()>& pred, int maxMs = 15000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > maxMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A graph client whose filter is the platform's video renderer; remembers the frames it saw.
class TestRenderClient : public TNonVisualComponent, public IFilter {
public:
    explicit TestRenderClient(TComponent* owner,
                              const QString& name = QStringLiteral("TestRenderer"))
        : TNonVisualComponent(owner) {
        SetName(name);
    }
    ~TestRenderClient() override { SetFilterGraph(nullptr); }

    void SetFilterGraph(TFilterGraph* g) {
        if (FGraph) FGraph->RemoveFilter(this);
        FGraph = g;
        if (FGraph) FGraph->InsertFilter(this);
    }

    ComPtr<IBaseFilter> GetFilter() override { return FFilter; }
    QString GetName() override { return Name(); }
    void NotifyFilter(TFilterOperation op, int) override {
        if (op == foAdding) {
            FFrames = 0;
            CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER,
                             IID_PPV_ARGS(FFilter));
            if (auto sink = FFilter.As<IAvVideoFrameSink>()) sink->SetFrameCallback(&OnFrame, this);
        } else if (op == foRemoved) {
            if (auto sink = FFilter.As<IAvVideoFrameSink>())
                sink->SetFrameCallback(nullptr, nullptr);
            FFilter.Reset();
        }
    }

    int Frames() const { return FFrames.load(); }
    // The size of the last frame and a checksum of its pixels.
    void Last(int* w, int* h, std::uint64_t* sum) {
        std::lock_guard g(FLock);
        *w = FWidth;
        *h = FHeight;
        *sum = FSum;
    }

private:
    static void OnFrame(void* self, const AvVideoFrame& f) {
        auto* c = static_cast<TestRenderClient*>(self);
        std::uint64_t sum = 0;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width * 4; ++x)
                sum = sum * 31 + f.bits[y * f.stride + x];
        std::lock_guard g(c->FLock);
        c->FWidth = f.width;
        c->FHeight = f.height;
        c->FSum = sum;
        ++c->FFrames;
    }

    TFilterGraph* FGraph = nullptr;
    ComPtr<IBaseFilter> FFilter;
    std::atomic<int> FFrames{0};
    std::mutex FLock;
    int FWidth = 0, FHeight = 0;
    std::uint64_t FSum = 0;
};

// ---- Test cameras for the real backend ----------------------------------------------------------
// A device provider ("avsetuptestcams", class "Video/Source") whose devices are live test
// pictures with fixed caps. Register once per process, before the real backend is made.
void RegisterTestCameraProvider();
// Adds or removes a test camera while the provider runs (hot-plug); caps as a caps string, and
// device properties besides its "device.path".
using TestCameraProps = std::vector<std::pair<std::string, std::string>>;
void AddTestCamera(const std::string& name, const std::string& path, const std::string& caps,
                   const TestCameraProps& props = {});
void RemoveTestCamera(const std::string& name);
