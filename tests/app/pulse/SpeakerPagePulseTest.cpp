// The speaker page end to end on the private PulseAudio server of tests/with-pulse.sh: "播放声音"
// pressed with QTest, the chosen null sink's monitor recorded. The test sound is there (left
// first), it loops, "停止" brings silence within 100 ms, and a second sink chosen in the list gets
// the sound instead of the first.
#include "audio/stream/AvWave.h"
#include "framework/Threads.h"
#include "platform/pulse/PulseBackend.h"
#include "tests/app/WizardTestSupport.h"
#include "tests/platform/pulse/PulseAdmin.h"
#include "tests/platform/pulse/PulseMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>

namespace {

const char* const kSecondSink = "avsetup_test_second";

using wizardtest::PumpUntil;

// Runs fn on a thread of its own while the main thread keeps serving the player (it refills the
// device's buffers there); a busy main thread would starve the device.
template <class F> auto OffMainThread(F fn) {
    auto result = std::async(std::launch::async, fn);
    PumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              60000);
    return result.get();
}

// Where the segment seg (interleaved stereo) lies best in rec within [from, to) (in frames):
// the frame offset and the normalised correlation there.
std::pair<std::ptrdiff_t, double> Find(const std::vector<std::int16_t>& rec,
                                       const std::vector<std::int16_t>& seg, std::ptrdiff_t from,
                                       std::ptrdiff_t to) {
    double segEnergy = 0;
    for (auto v : seg)
        segEnergy += double(v) * v;
    std::pair<std::ptrdiff_t, double> best{-1, 0.0};
    from = std::max<std::ptrdiff_t>(from, 0);
    to = std::min<std::ptrdiff_t>(to, std::ptrdiff_t(rec.size() - seg.size()) / 2);
    for (std::ptrdiff_t f = from; f < to; ++f) {
        double dot = 0, energy = 0;
        for (size_t i = 0; i < seg.size(); ++i) {
            const double r = rec[size_t(2 * f) + i];
            dot += r * seg[i];
            energy += r * r;
        }
        const double c = energy > 0 ? dot / std::sqrt(energy * segEnergy) : 0;
        if (c > best.second) best = {f, c};
    }
    return best;
}

int PeakAbs(const std::vector<std::int16_t>& s, size_t from, size_t to, int channel = -1) {
    int m = 0;
    for (size_t i = from; i < std::min(to, s.size()); ++i)
        if (channel < 0 || int(i % 2) == channel) m = std::max(m, std::abs(int(s[i])));
    return m;
}

class SpeakerPagePulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no test sound server (run under tests/with-pulse.sh)";
        if (const char* s = std::getenv("AVSETUP_PULSE_TEST_SINK")) Sink = s;
        ASSERT_TRUE(Admin.Ready());
        // A second sink of our own, there before the page lists the devices.
        Module = Admin.LoadModule("module-null-sink",
                                  std::string("sink_name=") + kSecondSink +
                                      " sink_properties=device.description=AvSetup_Test_Second");
        ASSERT_NE(Module, PA_INVALID_INDEX);
        pa_cvolume full;
        pa_cvolume_set(&full, 2, PA_VOLUME_NORM);
        for (const std::string& s : {Sink, std::string(kSecondSink)}) {
            ASSERT_TRUE(Admin.SetSinkVolume(s, full));
            ASSERT_TRUE(Admin.SetSinkMute(s, false));
        }
        auto backend = std::make_unique<PulseBackend>();
        Backend = backend.get();
        ASSERT_TRUE(backend->Connected());
        Installed = std::make_unique<ScopedAudioBackend>(std::move(backend));
        App = wizardtest::StartWizard({}, Messages);
        Page = AudioOutForm;
        Page->Show();
        // Full volume on the page's slider: the recording then holds the file's samples.
        RememberedOutPos = Page->AvMixerBlockSlider6->Max();

        TAvWave w;
        w.SetFileName(Page->TestSoundFile);
        ASSERT_FALSE(w.Empty());
        Format = *w.GetPWaveFormat();
        ASSERT_EQ(Format.nChannels, 2);
        ASSERT_EQ(Format.wBitsPerSample, 16);
        w.OpenFile();
        Sound.resize(w.DataSize() / 2);
        Sound.resize(
            size_t(std::max<LONG>(
                w.Read(reinterpret_cast<char*>(Sound.data()), LONG(Sound.size() * 2)), 0)) /
            2);
        Rate = Format.nSamplesPerSec;
    }
    void TearDown() override {
        for (auto& m : Monitors)
            m.first->Stop();
        wizardtest::EndWizard(App);
        Installed.reset();
        if (Module != PA_INVALID_INDEX) Admin.UnloadModule(Module);
    }

    int SinkIndex(const std::string& name) {
        const auto sinks = Backend->Context().Sinks();
        for (size_t i = 0; i < sinks.size(); ++i)
            if (sinks[i].name == name) return int(i);
        ADD_FAILURE() << "no sink " << name;
        return 0;
    }
    // Records the sink's monitor in the test sound's own format.
    Collector* Record(const std::string& sink) {
        // 20 ms buffers, a second of them: a slow test thread loses nothing.
        auto c = std::make_unique<Collector>(Format.nAvgBytesPerSec / 50, 50);
        std::unique_ptr<IWaveInStream> in;
        EXPECT_EQ(Backend->OpenWaveInByName(sink + ".monitor", Format, c.get(), &in),
                  MMSYSERR_NOERROR);
        c->Start(in.get());
        Monitors.emplace_back(std::move(c), std::move(in));
        return Monitors.back().first.get();
    }
    void Click() { QTest::mouseClick(Page->ButtonTest->Widget(), Qt::LeftButton); }
    // A stretch of the sound from at seconds on (from 0.04: the first note's onset, left only).
    std::vector<std::int16_t> Segment(double at, int frames = 2048) const {
        const size_t f = size_t(at * Rate);
        return {Sound.begin() + 2 * f, Sound.begin() + 2 * (f + frames)};
    }

    std::string Sink = "avsetup_test_sink";
    PulseAdmin Admin;
    std::uint32_t Module = PA_INVALID_INDEX;
    PulseBackend* Backend = nullptr;
    std::unique_ptr<ScopedAudioBackend> Installed;
    std::unique_ptr<TApplication> App;
    TAudioOutForm* Page = nullptr;
    QStringList Messages;
    WAVEFORMATEX Format{};
    std::vector<std::int16_t> Sound;
    std::ptrdiff_t Rate = 0;
    std::vector<std::pair<std::unique_ptr<Collector>, std::unique_ptr<IWaveInStream>>> Monitors;
};

} // namespace

TEST_F(SpeakerPagePulse, TheChosenSinkPlaysTheSoundInALoopAndStopSilencesIt) {
    Collector* main = Record(Sink);
    Collector* second = Record(kSecondSink);
    ASSERT_TRUE(WaitUntil([&] { return main->Size() >= size_t(Rate / 5); }, 3000));
    const std::ptrdiff_t frames = std::ptrdiff_t(Sound.size() / 2);

    Page->AvDeviceComBoxOut->SetItemIndex(SinkIndex(Sink));
    const std::ptrdiff_t atClick = std::ptrdiff_t(main->Size() / 2);
    Click();
    ASSERT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
    ASSERT_EQ(Page->ButtonTest->Caption(), QStringLiteral("停止"));

    // The first pass and the start of the second (the left arpeggio's first notes).
    const auto seg = Segment(0.04);
    ASSERT_TRUE(PumpUntil(
        [&] { return std::ptrdiff_t(main->Size() / 2) > atClick + frames + Rate; }, 15000));
    auto rec = main->Samples();
    const auto first =
        OffMainThread([&] { return Find(rec, seg, atClick - Rate / 5, atClick + Rate * 3 / 2); });
    ASSERT_GT(first.second, 0.9) << "the test sound's start is not in the recording";
    const std::ptrdiff_t start = first.first - std::ptrdiff_t(0.04 * Rate);
    // Heard on the left first: the right channel is silent during the first note.
    const size_t note = size_t(2 * (start + Rate / 10));
    EXPECT_GT(PeakAbs(rec, note, note + size_t(Rate), 0), 8000);
    EXPECT_LT(PeakAbs(rec, note, note + size_t(Rate), 1), 200);
    // At full volume the sink hears the sound as loud as it is made: near full scale (-1 dBFS).
    EXPECT_GT(PeakAbs(rec, size_t(2 * start), size_t(2 * (start + frames))), 26000);
    // It loops: the start comes again one length later (later still if the device ran dry).
    ASSERT_TRUE(PumpUntil(
        [&] { return std::ptrdiff_t(main->Size() / 2) > first.first + frames + Rate * 3 / 2; },
        10000));
    rec = main->Samples();
    const auto again = OffMainThread([&] {
        return Find(rec, seg, first.first + frames - Rate / 50, first.first + frames + Rate);
    });
    EXPECT_GT(again.second, 0.9) << "the sound did not start again after its length";
    EXPECT_GE(again.first - first.first, frames - Rate / 100);
    Click();
    ASSERT_EQ(Page->ButtonTest->Caption(), QStringLiteral("播放声音"));

    // "停止" again, in a loud part, after a second start: silence within 100 ms. Times are read
    // on the recording, which lags the sink by the monitor's delivery; the first start showed how
    // long sound takes to appear there, and a stop may take that long too.
    const std::ptrdiff_t startLatency = std::max<std::ptrdiff_t>(start - atClick, 0);
    const size_t atSecondStart = main->Size();
    Click();
    TAvWavePlayer* player = Page->AvWavePlayer1;
    auto loud = [&](std::int64_t bytes) {
        const double t = double(bytes) / Format.nAvgBytesPerSec;
        return (t > 0.4 && t < 0.8) || (t > 1.55 && t < 1.9) || (t > 2.65 && t < 2.9);
    };
    ASSERT_TRUE(PumpUntil([&] { return loud(player->GetPosition()); }, 8000));
    const size_t atStop = main->Size();
    Click();
    EXPECT_EQ(Page->ButtonTest->Caption(), QStringLiteral("播放声音"));
    ASSERT_TRUE(WaitUntil([&] { return main->Size() >= atStop + size_t(2 * Rate); }, 5000));
    rec = main->Samples();
    // What was played before the stop reaches the recording up to one start latency later (long
    // on a slow, instrumented build).
    EXPECT_GT(PeakAbs(rec, atSecondStart, atStop + size_t(2 * (startLatency + Rate / 10))), 1000)
        << "no sound before the stop";
    std::ptrdiff_t lastSound = 0;
    for (size_t i = 0; i < rec.size(); ++i)
        if (std::abs(int(rec[i])) > 30) lastSound = std::ptrdiff_t(i / 2);
    EXPECT_LE(lastSound - std::ptrdiff_t(atStop / 2), Rate / 10 + startLatency)
        << "still sounding 100 ms after the stop (start latency " << startLatency << " frames)";
    EXPECT_LT(PeakAbs(second->Samples(), 0, SIZE_MAX), 30) << "the other sink got sound";
}

TEST_F(SpeakerPagePulse, TheSecondSinkChosenInTheListGetsTheSoundInstead) {
    Collector* main = Record(Sink);
    Collector* second = Record(kSecondSink);
    // The second sink was idle: its monitor starts delivering up to a second late and drops what
    // the sink played before then. Both recordings run before the click.
    ASSERT_TRUE(WaitUntil(
        [&] { return main->Size() >= size_t(Rate / 5) && second->Size() >= size_t(Rate / 5); },
        5000));
    Page->AvDeviceComBoxOut->SetItemIndex(SinkIndex(kSecondSink));
    const size_t mainAtClick = main->Size();
    Click();
    ASSERT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
    EXPECT_EQ(Page->AvWavePlayer1->DeviceID(), SinkIndex(kSecondSink));
    // An idle null sink delivers its monitor in lumps: wait for the sound with a deadline.
    const auto seg = Segment(0.04);
    std::pair<std::ptrdiff_t, double> found{-1, 0};
    std::ptrdiff_t searched = 0; // frames already searched
    ASSERT_TRUE(PumpUntil(
        [&] {
            const auto rec = second->Samples();
            const std::ptrdiff_t end = std::ptrdiff_t(rec.size() / 2);
            if (end < searched + Rate / 2) return false;
            const auto f = OffMainThread(
                [&] { return Find(rec, seg, std::max<std::ptrdiff_t>(searched - 1024, 0), end); });
            searched = end;
            if (f.second > found.second) found = f;
            return found.second > 0.9;
        },
        10000))
        << "best correlation " << found.second;
    Click();
    EXPECT_LT(PeakAbs(main->Samples(), mainAtClick, SIZE_MAX), 30) << "the first sink got sound";
}
