// The wizard's volume slider (84 x 207, vertical, logarithmic, scales on both sides): the time of
// one full repaint (compose in the shared off-screen bitmap and copy it to the window), and the
// repaints that moving the thumb through 100 positions causes.
#include "audio/mixer/AvSlider.h"
#include "framework/Forms.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <memory>

namespace {

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct VolumeSlider {
    std::unique_ptr<TForm> form;
    TAvSlider* slider;
    explicit VolumeSlider(int max) {
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 200, 260);
        slider = new TAvSlider(form.get());
        slider->SetParent(form.get());
        slider->SetBounds(8, 13, 84, 207);
        slider->Bevel()->SetBevelOuter(bvNone);
        slider->Scale()->SetVisible(true);
        slider->Scale()->SetConnect(false);
        slider->Scale()->SetOrigin(soInner);
        slider->Scale()->SetSize(6);
        slider->Scale()->SetTickCount(7);
        slider->Scale()->SetEnlargeEvery(6);
        slider->SetGrooveSize(1);
        slider->SetScalePosition(spBoth);
        slider->SetThumbWidth(23);
        slider->SetThumbHeight(11);
        slider->SetRange(0, max);
        slider->SetLogarithmic(true);
        form->Show();
        QApplication::processEvents();
    }
};

void BM_SliderRepaint(benchmark::State& state) {
    VolumeSlider v(100);
    v.slider->SetPosition(50);
    for (auto _ : state)
        v.slider->repaint();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SliderRepaint)->Unit(benchmark::kMicrosecond);

// The composition alone, into the shared bitmap.
void BM_SliderCompose(benchmark::State& state) {
    VolumeSlider v(100);
    TBitmap* bmp = v.slider->OffscreenBitmap();
    for (auto _ : state) {
        v.slider->Compose(bmp->Canvas());
        bmp->Canvas()->ReleasePainter();
    }
}
BENCHMARK(BM_SliderCompose)->Unit(benchmark::kMicrosecond);

// 100 program steps, one position each, events delivered after each as in the message loop.
// range(0): the slider's Max (100: every step moves the thumb; 65535: the sim mixer's volume).
void BM_HundredStepRepaints(benchmark::State& state) {
    VolumeSlider v(static_cast<int>(state.range(0)));
    v.slider->SetLogarithmic(false);
    PaintCounter counter;
    v.slider->installEventFilter(&counter);
    int requests = 0, paints = 0, runs = 0;
    for (auto _ : state) {
        v.slider->SetPosition(0);
        QApplication::processEvents();
        const int r0 = v.slider->RepaintRequests(), p0 = counter.paints;
        for (int i = 1; i <= 100; ++i) {
            v.slider->SetPosition(i);
            QApplication::processEvents();
        }
        requests += v.slider->RepaintRequests() - r0;
        paints += counter.paints - p0;
        ++runs;
    }
    state.counters["repaint_requests"] = static_cast<double>(requests) / runs;
    state.counters["paints"] = static_cast<double>(paints) / runs;
}
BENCHMARK(BM_HundredStepRepaints)->Arg(100)->Arg(65535)->Unit(benchmark::kMillisecond);

// A mouse drag across the whole travel of a 100-step slider, one pixel per move.
void BM_DragRepaints(benchmark::State& state) {
    VolumeSlider v(100);
    v.slider->SetLogarithmic(false);
    PaintCounter counter;
    v.slider->installEventFilter(&counter);
    int requests = 0, paints = 0, moves = 0, runs = 0;
    for (auto _ : state) {
        v.slider->SetPosition(0);
        QApplication::processEvents();
        const TRect t = v.slider->ThumbRect();
        const QPointF start((t.Left + t.Right) / 2, (t.Top + t.Bottom) / 2);
        QMouseEvent press(QEvent::MouseButtonPress, start, start, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(v.slider, &press);
        QApplication::processEvents();
        const int r0 = v.slider->RepaintRequests(), p0 = counter.paints;
        int n = 0;
        for (int dy = 1; dy <= 186; ++dy, ++n) {
            const QPointF at(start.x(), start.y() - dy);
            QMouseEvent move(QEvent::MouseMove, at, at, Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(v.slider, &move);
            QApplication::processEvents();
        }
        requests += v.slider->RepaintRequests() - r0;
        paints += counter.paints - p0;
        moves += n;
        ++runs;
        QMouseEvent release(QEvent::MouseButtonRelease, start, start, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(v.slider, &release);
    }
    state.counters["mouse_moves"] = static_cast<double>(moves) / runs;
    state.counters["repaint_requests"] = static_cast<double>(requests) / runs;
    state.counters["paints"] = static_cast<double>(paints) / runs;
    state.counters["end_position"] = v.slider->Position();
}
BENCHMARK(BM_DragRepaints)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
