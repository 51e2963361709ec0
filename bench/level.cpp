// The level meter fed as the microphone page feeds it: 200-byte blocks (50 frames of 16-bit
// stereo) on the 17 x 191 meter. One figure with a redraw per block (the lit count changes every
// block), one for a steady level, which should cost the analysis pass alone, and one for a steady
// tone on a spot boundary, which should cost the same.
#include "audio/display/AvLevel.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWindow>
#include <vector>

namespace {

struct Meter {
    TForm form{nullptr};
    TAvLevel* level;
    Meter() {
        TimerServiceSetManual(true); // no peak ticks in between
        form.SetBounds(0, 0, 60, 220);
        level = new TAvLevel(&form);
        level->SetParent(&form);
        level->SetKind(lkVertical);
        level->SetBounds(10, 10, 17, 191);
        level->SetBar1Color(15588544);
        level->SetBar2Color(clYellow);
        level->SetBitLength(b16Bit);
        level->SetMode(mStereo);
        form.Show();
        for (int i = 0; i < 100 && !(form.windowHandle() && form.windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::processEvents();
    }
};

std::vector<std::int16_t> Block(std::int16_t peak) {
    std::vector<std::int16_t> b(100);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::int16_t>((i % 7) * peak / 7);
    b[42] = peak;
    b[43] = peak;
    return b;
}

void BM_LevelBlockWithRedraw(benchmark::State& state) {
    Meter m;
    const auto a = Block(4400), b = Block(17800); // 48 and 81 spots
    bool flip = false;
    int paints = 0;
    m.level->OnPaint = [&](TObject*) { ++paints; };
    for (auto _ : state) {
        m.level->ProcessBlock(flip ? a.data() : b.data());
        flip = !flip;
    }
    state.counters["redraws_per_block"] =
        static_cast<double>(paints) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * 200);
}
BENCHMARK(BM_LevelBlockWithRedraw)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_LevelBlockSteady(benchmark::State& state) {
    Meter m;
    const auto a = Block(4400);
    int paints = 0;
    m.level->ProcessBlock(a.data());
    m.level->OnPaint = [&](TObject*) { ++paints; };
    for (auto _ : state)
        m.level->ProcessBlock(a.data());
    state.counters["redraws_per_block"] =
        static_cast<double>(paints) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * 200);
}
BENCHMARK(BM_LevelBlockSteady)->Repetitions(5)->ReportAggregatesOnly(true);

// A steady tone whose peak sits on a spot boundary: 47 and 48 spots by turns. The meter draws as
// the level arrives and then holds, so this should cost what a steady level costs.
void BM_LevelBlockOnASpotBoundary(benchmark::State& state) {
    Meter m;
    const auto a = Block(4369), b = Block(4370); // 47 and 48 spots
    bool flip = false;
    int paints = 0;
    m.level->ProcessBlock(a.data());
    m.level->ProcessBlock(b.data());
    m.level->OnPaint = [&](TObject*) { ++paints; };
    for (auto _ : state) {
        m.level->ProcessBlock(flip ? b.data() : a.data());
        flip = !flip;
    }
    state.counters["redraws_per_block"] =
        static_cast<double>(paints) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * 200);
}
BENCHMARK(BM_LevelBlockOnASpotBoundary)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
