// The wave output on the private PulseAudio server of tests/with-pulse.sh: a chain played through
// TAvWaveOut arrives at the sink's monitor sample for sample, in every callback mode; so does a
// WAVE file played through the wave file component, looped.
#include "../StreamTestSupport.h"
#include "../WaveBuilder.h"
#include "audio/stream/AvWavOut.h"
#include "audio/stream/AvWave.h"
#include "platform/pulse/PulseBackend.h"
#include "tests/platform/pulse/PulseAdmin.h"
#include "tests/platform/pulse/PulseMonitor.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Runs the main thread's posted work (the wave output's window) until cond holds or time is up.
bool PumpUntil(const std::function<bool()>& cond, int timeoutMs) {
    return WaitUntil(
        [&] {
            QCoreApplication::sendPostedEvents();
            CheckSynchronize();
            return cond();
        },
        timeoutMs);
}

// Reproducible noise, loud enough to align on.
std::vector<std::int16_t> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<std::int16_t> v(n);
    for (auto& s : v) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<int>(seed >> 16) % 16000 - 8000);
    }
    return v;
}

class WaveOutPulseTest : public ::testing::TestWithParam<TAvCBMode> {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no test sound server (run under tests/with-pulse.sh)";
        if (const char* s = std::getenv("AVSETUP_PULSE_TEST_SINK")) sink_ = s;
        ASSERT_TRUE(admin_.Ready());
        auto backend = std::make_unique<PulseBackend>();
        backend_ = backend.get();
        ASSERT_TRUE(backend->Connected());
        installed_ = std::make_unique<ScopedAudioBackend>(std::move(backend));
        pa_cvolume full;
        pa_cvolume_set(&full, 2, PA_VOLUME_NORM);
        ASSERT_TRUE(admin_.SetSinkVolume(sink_, full));
        ASSERT_TRUE(admin_.SetSinkMute(sink_, false));
    }
    void TearDown() override {
        form_.reset();
        in_.reset();
        monitor_.reset();
        installed_.reset();
    }
    int SinkId() {
        const auto sinks = backend_->Context().Sinks();
        for (std::size_t i = 0; i < sinks.size(); ++i)
            if (sinks[i].name == sink_) return static_cast<int>(i);
        ADD_FAILURE() << "no sink " << sink_;
        return 0;
    }

    // Records the sink's monitor in the sink's own format (stereo at its rate), so nothing is
    // resampled or mixed on the way (servers mix channels each their own way: mono into a stereo
    // sink reads back 3 dB louder on PipeWire), until 100 ms have come in.
    void StartMonitor() {
        id_ = SinkId();
        ASSERT_EQ(backend_->Context().Sinks()[id_].spec.channels, 2);
        rate_ = backend_->Context().Sinks()[id_].spec.rate;
        BuildPcmFormat(&format_, 16, 2, rate_);
        monitor_ = std::make_unique<Collector>(rate_ / 10 * 4);
        ASSERT_EQ(backend_->OpenWaveInByName(sink_ + ".monitor", format_, monitor_.get(), &in_),
                  MMSYSERR_NOERROR);
        monitor_->Start(in_.get());
        ASSERT_TRUE(WaitUntil([&] { return monitor_->Size() >= rate_ / 10; }, 2000));
    }

    std::string sink_ = "avsetup_test_sink";
    int id_ = 0;
    DWORD rate_ = 0;
    WAVEFORMATEX format_{};
    std::unique_ptr<Collector> monitor_;
    std::unique_ptr<IWaveInStream> in_;
    PulseAdmin admin_;
    PulseBackend* backend_ = nullptr;
    std::unique_ptr<ScopedAudioBackend> installed_;
    std::unique_ptr<TAvComponent> form_ = std::make_unique<TAvComponent>(nullptr);
};

TEST_P(WaveOutPulseTest, AChainPlayedThroughTheOutputArrivesAtTheSinkMonitorUnchanged) {
    ASSERT_NO_FATAL_FAILURE(StartMonitor());
    const int id = id_;
    const DWORD rate = rate_, chunk = rate / 10 * 2; // 100 ms, in samples
    const WAVEFORMATEX f = format_;
    Collector& monitor = *monitor_;

    // A lead-in of silence (a new stream's first milliseconds may miss the monitor), then 0.6 s
    // of reproducible noise, played in the wizard's buffers.
    const std::vector<std::int16_t> played = Noise(6 * chunk, 777);
    std::vector<std::uint8_t> bytes(chunk * 2, 0);
    const auto* p = reinterpret_cast<const std::uint8_t*>(played.data());
    bytes.insert(bytes.end(), p, p + played.size() * 2);
    auto* source = new TMemorySource(form_.get(), bytes, f);
    auto* out = new TAvWaveOut(form_.get());
    out->SetInput(source);
    out->SetDeviceID(id);
    out->SetBufferSize(2048);
    out->SetNumBuffers(10);
    out->SetCallBackMode(GetParam());
    std::atomic<int> stops{0}, errors{0};
    out->OnStop = [&](TObject*) { ++stops; };
    out->OnError = [&](TObject*) { ++errors; };

    out->Start();
    ASSERT_TRUE(PumpUntil([&] { return stops.load() == 1; }, 5000));
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(out->BytesPlayed(), bytes.size());
    const std::size_t atStop = monitor.Size();

    ASSERT_TRUE(WaitUntil([&] { return monitor.Size() >= atStop + 2 * chunk; }, 2000));
    monitor.Stop();
    out->Close();

    const auto rec = monitor.Samples();
    ASSERT_GT(rec.size(), played.size());
    const std::ptrdiff_t lagAt = AlignSamples(played, rec);
    ASSERT_GE(lagAt, 0);
    const TMonitorMatch m = MatchWithGaps(played, rec, static_cast<std::size_t>(lagAt), 2);
    EXPECT_EQ(m.reached, played.size()) << "played and recorded differ after alignment at " << lagAt
                                        << " samples, " << m.reached << " samples in";
    // Everything arrived in order; a loaded machine may cost a glitch or two, never more (on
    // PipeWire, without real-time priority, a glitch can cost a monitor a cycle of the graph:
    // 1024 frames at 48 kHz).
    EXPECT_LE(m.resyncs, 3);
    EXPECT_LT(m.skipped, rate / 20 * 2);
    EXPECT_LT(m.silence, rate);
}

// The wizard's chain: a WAVE file looped twice through the wave output plays three times over.
TEST_P(WaveOutPulseTest, ALoopedWaveFilePlaysItsLengthTimesItsLoopsPlusOne) {
    ASSERT_NO_FATAL_FAILURE(StartMonitor());
    const int id = id_;
    const DWORD rate = rate_, chunk = rate / 10 * 2; // 100 ms, in samples
    Collector& monitor = *monitor_;

    // The file: 100 ms of silence, then 300 ms of noise.
    std::vector<std::int16_t> pass(chunk, 0);
    const auto noise = Noise(3 * chunk, 4242);
    pass.insert(pass.end(), noise.begin(), noise.end());
    QTemporaryDir dir;
    const QString path = dir.filePath("loop.wav");
    const QByteArray data(reinterpret_cast<const char*>(pass.data()),
                          static_cast<qsizetype>(pass.size() * 2));
    ASSERT_TRUE(wavetest::WriteFile(
        path, wavetest::Riff({{"fmt ", wavetest::FmtBody(1, 2, rate, 16)}, {"data", data}})));

    auto* file = new TAvWaveFile(form_.get());
    file->Wave()->SetFileName(path);
    auto* out = new TAvWaveOut(form_.get());
    out->SetInput(file);
    out->SetDeviceID(id);
    out->SetCallBackMode(GetParam());
    out->SetLooping(true);
    out->SetLoopCount(2);
    std::atomic<int> stops{0}, errors{0}, loops{0};
    out->OnStop = [&](TObject*) { ++stops; };
    out->OnError = [&](TObject*) { ++errors; };
    out->OnLooping = [&](TObject*) { ++loops; };
    out->Start();
    // The position counts what has been heard since the last wrap that has been heard: the
    // device gives the buffer of a wrap back before it plays it.
    std::int64_t furthest = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (stops.load() == 0) furthest = std::max(furthest, out->GetPosition());
            return stops.load() == 1;
        },
        8000));
    EXPECT_LE(furthest, data.size() + 2048) << "the position ran past the end of the file";
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(loops, 2);
    EXPECT_EQ(out->BytesPlayed(), 3u * static_cast<std::uint64_t>(data.size()));
    const std::size_t atStop = monitor.Size();
    ASSERT_TRUE(WaitUntil([&] { return monitor.Size() >= atStop + 2 * chunk; }, 2000));
    monitor.Stop();
    out->Close();

    // From the first noise on (the lead-in of a new stream may miss the monitor): noise, then
    // twice silence and noise.
    std::vector<std::int16_t> expected = noise;
    for (int i = 0; i < 2; ++i)
        expected.insert(expected.end(), pass.begin(), pass.end());
    const auto rec = monitor.Samples();
    const std::ptrdiff_t lagAt = AlignSamples(expected, rec);
    ASSERT_GE(lagAt, 0);
    const TMonitorMatch m = MatchWithGaps(expected, rec, static_cast<std::size_t>(lagAt), 2);
    EXPECT_EQ(m.reached, expected.size()) << "the passes differ after " << m.reached << " samples";
    EXPECT_LE(m.resyncs, 3);
    EXPECT_LT(m.skipped, rate / 20 * 2);
    // The server may pause for want of data under load; never for long.
    EXPECT_LT(m.silence, rate);
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutPulseTest, ::testing::Values(cmWindow, cmCallback, cmThread),
                         CallBackModeName);

} // namespace
